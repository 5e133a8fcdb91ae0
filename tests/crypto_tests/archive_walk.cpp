#include "archive_walk.h"

#include <zlib.h>

#include <fstream>
#include <sstream>

namespace walk {
namespace {

using unrar::crypto::AesCbc;

std::uint64_t le(const std::string& b, std::size_t at, int n) {
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(b.at(at + i));
  return v;
}

bool vint(const std::string& b, std::size_t& at, std::uint64_t& out) {
  out = 0;
  for (int shift = 0; shift < 70 && at < b.size(); shift += 7) {
    auto c = static_cast<unsigned char>(b[at++]);
    out |= std::uint64_t{c & 0x7Fu} << shift;
    if (!(c & 0x80)) return true;
  }
  return false;
}

std::string decrypt(const std::string& in, const std::uint8_t* key, std::size_t keySize,
                    const std::uint8_t* iv) {
  std::string out(in.size(), '\0');
  if (!unrar::crypto::aesCbc(AesCbc::Direction::Decrypt, key, keySize, iv,
                             reinterpret_cast<const std::uint8_t*>(in.data()), in.size(),
                             reinterpret_cast<std::uint8_t*>(out.data())))
    return {};
  return out;
}

const std::uint8_t* u8(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

}  // namespace

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::uint32_t crc32(const void* data, std::size_t size) {
  return static_cast<std::uint32_t>(
      ::crc32(0, static_cast<const Bytef*>(data), static_cast<uInt>(size)));
}

Walk rar4(const std::string& archive, unrar::crypto::KeyCache& cache) {
  Walk w;
  std::string b = readFile(archive);
  if (b.compare(0, 7, std::string("Rar!\x1A\x07\x00", 7)) != 0) {
    w.error = "no RAR 4 signature";
    return w;
  }
  std::size_t pos = 7;
  std::uint32_t mainFlags = static_cast<std::uint32_t>(le(b, pos + 3, 2));
  pos += le(b, pos + 5, 2);
  const bool encrypted = mainFlags & 0x80;
  const std::size_t saltSize = encrypted ? 8 : 0;
  while (pos + saltSize + (encrypted ? 16 : 7) <= b.size()) {
    std::string h;
    std::size_t size;
    std::size_t padded;
    if (encrypted) {
      std::string salt = b.substr(pos, 8);
      const unrar::crypto::Rar4Key* key = cache.rar4(u8(salt));
      if (!key) {
        w.error = "no key";
        return w;
      }
      std::string first = decrypt(b.substr(pos + 8, 16), key->key.data(), 16, key->iv.data());
      size = static_cast<std::size_t>(le(first, 5, 2));
      padded = (size + 15) / 16 * 16;
      if (size < 7 || pos + 8 + padded > b.size()) {
        w.error = "implausible header size at " + std::to_string(pos);
        return w;
      }
      h = decrypt(b.substr(pos + 8, padded), key->key.data(), 16, key->iv.data());
    } else {
      size = padded = static_cast<std::size_t>(le(b, pos + 5, 2));
      if (size < 7 || pos + size > b.size()) {
        w.error = "bad header size at " + std::to_string(pos);
        return w;
      }
      h = b.substr(pos, size);
    }
    if ((crc32(h.data() + 2, size - 2) & 0xFFFF) != le(h, 0, 2)) {
      w.error = "header CRC mismatch at " + std::to_string(pos);
      return w;
    }
    Header hd;
    hd.type = static_cast<std::uint8_t>(h[2]);
    hd.flags = static_cast<std::uint32_t>(le(h, 3, 2));
    std::uint64_t data = 0;
    if (hd.type == 0x74 || hd.type == 0x7A) {
      data = le(h, 7, 4);
      hd.unpackedSize = le(h, 11, 4);
      hd.crc = static_cast<std::uint32_t>(le(h, 16, 4));
      hd.hasCrc = true;
      hd.unpackVersion = static_cast<std::uint8_t>(h[24]);
      std::size_t nameSize = static_cast<std::size_t>(le(h, 26, 2));
      std::size_t nameAt = 32;
      if (hd.flags & 0x100) {
        data |= le(h, 32, 4) << 32;
        hd.unpackedSize |= le(h, 36, 4) << 32;
        nameAt = 40;
      }
      hd.name = h.substr(nameAt, nameSize);
      if (hd.flags & 0x0400) hd.salt = h.substr(nameAt + nameSize, 8);
    } else if (hd.flags & 0x8000) {
      data = le(h, 7, 4);
    }
    hd.dataOffset = pos + saltSize + padded;
    hd.dataSize = data;
    w.headers.push_back(hd);
    pos += saltSize + padded + data;
    if (hd.type == 0x7B) {
      w.ok = true;
      return w;
    }
  }
  w.error = "no end of archive block";
  return w;
}

Walk rar5(const std::string& archive, unrar::crypto::KeyCache& cache) {
  Walk w;
  std::string b = readFile(archive);
  if (b.compare(0, 8, std::string("Rar!\x1A\x07\x01\x00", 8)) != 0) {
    w.error = "no RAR 5 signature";
    return w;
  }
  std::size_t pos = 8;
  const unrar::crypto::Rar5Keys* headerKeys = nullptr;
  while (pos < b.size()) {
    std::string h;
    std::size_t blockSize;
    if (headerKeys) {
      if (pos + 32 > b.size()) break;
      std::string iv = b.substr(pos, 16);
      std::string first = decrypt(b.substr(pos + 16, 16), headerKeys->key.data(), 32, u8(iv));
      std::size_t at = 4;
      std::uint64_t size = 0;
      if (!vint(first, at, size) || size > (1u << 21)) {
        w.error = "implausible header size at " + std::to_string(pos);
        return w;
      }
      std::size_t total = at + static_cast<std::size_t>(size);
      std::size_t padded = (total + 15) / 16 * 16;
      if (pos + 16 + padded > b.size()) {
        w.error = "header past the end at " + std::to_string(pos);
        return w;
      }
      h = decrypt(b.substr(pos + 16, padded), headerKeys->key.data(), 32, u8(iv)).substr(0, total);
      blockSize = 16 + padded;
    } else {
      std::size_t at = pos + 4;
      std::uint64_t size = 0;
      if (!vint(b, at, size) || at + size > b.size()) {
        w.error = "bad header size at " + std::to_string(pos);
        return w;
      }
      h = b.substr(pos, at - pos + static_cast<std::size_t>(size));
      blockSize = h.size();
    }
    if (crc32(h.data() + 4, h.size() - 4) != le(h, 0, 4)) {
      w.error = "header CRC mismatch at " + std::to_string(pos);
      return w;
    }
    std::size_t at = 4;
    std::uint64_t size, type, flags, extraSize = 0, dataSize = 0;
    vint(h, at, size);
    vint(h, at, type);
    vint(h, at, flags);
    if (flags & 1) vint(h, at, extraSize);
    if (flags & 2) vint(h, at, dataSize);
    Header hd;
    hd.type = static_cast<std::uint8_t>(type);
    hd.flags = static_cast<std::uint32_t>(flags);
    hd.dataOffset = pos + blockSize;
    hd.dataSize = dataSize;
    if (type == 4) {
      std::uint64_t version, encFlags;
      vint(h, at, version);
      vint(h, at, encFlags);
      w.headerKdfCount = static_cast<std::uint8_t>(h.at(at++));
      w.headerSalt = h.substr(at, 16);
      at += 16;
      if (encFlags & 1) w.headerCheck = h.substr(at, 12);
      headerKeys = cache.rar5(u8(w.headerSalt), w.headerKdfCount);
      if (!headerKeys) {
        w.error = "no header key";
        return w;
      }
    } else if (type == 2 || type == 3) {
      std::uint64_t fileFlags, unpacked, attr, ci, host, nameLen;
      vint(h, at, fileFlags);
      vint(h, at, unpacked);
      vint(h, at, attr);
      if (fileFlags & 2) at += 4;
      if (fileFlags & 4) {
        hd.crc = static_cast<std::uint32_t>(le(h, at, 4));
        hd.hasCrc = true;
        at += 4;
      }
      vint(h, at, ci);
      vint(h, at, host);
      vint(h, at, nameLen);
      hd.unpackedSize = unpacked;
      hd.name = h.substr(at, static_cast<std::size_t>(nameLen));
      std::size_t e = h.size() - static_cast<std::size_t>(extraSize);
      while (e < h.size()) {
        std::uint64_t recSize, recType;
        std::size_t recStart = e;
        vint(h, e, recSize);
        std::size_t recEnd = e + static_cast<std::size_t>(recSize);
        vint(h, e, recType);
        if (recType == 1) {
          std::uint64_t version, encFlags;
          vint(h, e, version);
          vint(h, e, encFlags);
          hd.encrypted = true;
          hd.encFlags = static_cast<std::uint32_t>(encFlags);
          hd.kdfCount = static_cast<std::uint8_t>(h.at(e++));
          hd.salt = h.substr(e, 16);
          hd.iv = h.substr(e + 16, 16);
          if (encFlags & 1) hd.check = h.substr(e + 32, 12);
        }
        if (recEnd <= recStart) break;
        e = recEnd;
      }
    }
    w.headers.push_back(hd);
    pos += blockSize + static_cast<std::size_t>(dataSize);
    if (type == 5) {
      w.ok = true;
      return w;
    }
  }
  w.error = "no end of archive header";
  return w;
}

}  // namespace walk
