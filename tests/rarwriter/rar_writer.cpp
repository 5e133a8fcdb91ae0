// Entry preparation, volume planning and file output; the format emitters supply
// the bytes of every block.
#include "rar_writer.h"

#include <blake2.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <stdexcept>

#include "rar5_encoder.h"
#include "writer_internal.h"

namespace rarwriter {
namespace detail {

void putLe(Bytes& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void putVint(Bytes& out, std::uint64_t value) {
  do {
    std::uint8_t b = value & 0x7F;
    value >>= 7;
    if (value) b |= 0x80;
    out.push_back(static_cast<char>(b));
  } while (value);
}

std::size_t vintSize(std::uint64_t value) {
  std::size_t n = 1;
  while (value >>= 7) ++n;
  return n;
}

std::uint32_t crc32Of(const void* data, std::size_t size, std::uint32_t crc) {
  const auto* p = static_cast<const Bytef*>(data);
  uLong c = crc;
  while (size > 0) {
    uInt chunk = static_cast<uInt>(std::min<std::size_t>(size, 1u << 30));
    c = ::crc32(c, p, chunk);
    p += chunk;
    size -= chunk;
  }
  return static_cast<std::uint32_t>(c);
}

std::u16string utf16(const std::string& s) {
  std::u16string out;
  for (std::size_t i = 0; i < s.size();) {
    auto b = static_cast<unsigned char>(s[i]);
    std::uint32_t cp;
    std::size_t len;
    if (b < 0x80) {
      cp = b;
      len = 1;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      len = 4;
    } else {
      throw std::invalid_argument("name is not UTF-8: " + s);
    }
    if (i + len > s.size()) throw std::invalid_argument("name is not UTF-8: " + s);
    for (std::size_t k = 1; k < len; ++k) {
      auto c = static_cast<unsigned char>(s[i + k]);
      if ((c & 0xC0) != 0x80) throw std::invalid_argument("name is not UTF-8: " + s);
      cp = (cp << 6) | (c & 0x3F);
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::uint32_t effectiveAttributes(const Entry& e, bool unixStyle) {
  bool link = !e.symlinkTarget.empty();
  if (unixStyle) {
    std::uint32_t mode = e.attributes;
    if (mode == 0) mode = e.directory ? 040755 : link ? 0120777 : 0100644;
    if (e.directory) mode = (mode & ~0170000u) | 040000;
    return mode;
  }
  std::uint32_t attr = e.attributes;
  if (attr == 0) attr = e.directory ? 0x10 : link ? 0x420 : 0x20;
  if (e.directory) attr |= 0x10;
  return attr;
}

void randomFill(std::uint8_t* out, std::size_t n) {
  static std::mt19937_64 engine{std::random_device{}()};
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(engine());
}

const KeyRing::Rar4& KeyRing::rar4(const std::string& password) {
  auto [it, fresh] = rar4_.try_emplace(password);
  if (fresh) {
    randomFill(it->second.salt.data(), it->second.salt.size());
    if (!unrar::crypto::deriveRar4Key(password, it->second.salt.data(), it->second.key)) {
      rar4_.erase(it);
      throw std::invalid_argument("cannot derive a key from the password");
    }
  }
  return it->second;
}

const KeyRing::Rar5& KeyRing::rar5(const std::string& password) {
  auto [it, fresh] = rar5_.try_emplace(password);
  if (fresh) {
    randomFill(it->second.salt.data(), it->second.salt.size());
    if (!unrar::crypto::deriveRar5Keys(password, it->second.salt.data(), it->second.kdfCount,
                                       it->second.keys)) {
      rar5_.erase(it);
      throw std::invalid_argument("cannot derive a key from the password");
    }
  }
  return it->second;
}

Bytes encryptBlock(const Bytes& plain, const std::uint8_t* key, std::size_t keySize,
                   const std::uint8_t* iv) {
  Bytes padded = plain;
  padded.resize((plain.size() + 15) / 16 * 16, '\0');
  Bytes out(padded.size(), '\0');
  if (!unrar::crypto::aesCbc(unrar::crypto::AesCbc::Direction::Encrypt, key, keySize, iv,
                             reinterpret_cast<const std::uint8_t*>(padded.data()), padded.size(),
                             reinterpret_cast<std::uint8_t*>(out.data())))
    throw std::runtime_error("AES encryption failed");
  return out;
}

PackedStream::PackedStream(DataSource plain, std::uint64_t plainSize, bool pad, bool blake2)
    : plain_(std::move(plain)),
      plainSize_(plainSize),
      packedSize_(pad ? (plainSize + 15) / 16 * 16 : plainSize),
      blake2_(blake2) {
  if (blake2_) {
    auto state = std::make_shared<blake2sp_state>();
    blake2sp_init(state.get(), 32);
    blakeState_ = state;
  }
}

void PackedStream::encryptWith(const std::uint8_t* key, std::size_t keySize,
                               const std::uint8_t* iv) {
  if (!cipher_.init(unrar::crypto::AesCbc::Direction::Encrypt, key, keySize, iv))
    throw std::runtime_error("AES initialisation failed");
  encrypt_ = true;
}

void PackedStream::encryptLegacy(unrar::crypto::Rar4Cipher cipher, const std::string& password) {
  legacy_ = std::make_shared<unrar::LegacyCipher>(cipher, unrar::legacyPasswordBytes(password));
}

void PackedStream::read(std::uint64_t offset, char* out, std::size_t n) {
  if (offset != delivered_) throw std::logic_error("packed data read out of order");
  while (ready_.size() < n) {
    // Whole blocks at a time, so the cipher never holds bytes back.
    // Encrypted streams are padded to whole blocks, so a chunk that is a multiple
    // of 16 or reaches the end never leaves the cipher a partial block.
    std::uint64_t want = (std::max<std::uint64_t>(n, 1 << 16) + 15) / 16 * 16;
    auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(want, packedSize_ - produced_));
    if (chunk == 0) throw std::logic_error("packed data read past its end");
    std::string piece(chunk, '\0');
    std::size_t have =
        produced_ >= plainSize_
            ? 0
            : static_cast<std::size_t>(std::min<std::uint64_t>(chunk, plainSize_ - produced_));
    if (have) {
      plain_(produced_, piece.data(), have);
      crc_ = crc32Of(piece.data(), have, crc_);
      if (blake2_)
        blake2sp_update(static_cast<blake2sp_state*>(blakeState_.get()),
                        reinterpret_cast<const std::uint8_t*>(piece.data()), have);
    }
    if (legacy_) legacy_->encrypt(reinterpret_cast<std::uint8_t*>(piece.data()), chunk);
    if (encrypt_) {
      auto* p = reinterpret_cast<std::uint8_t*>(piece.data());
      if (cipher_.update(p, chunk, p) != static_cast<std::ptrdiff_t>(chunk))
        throw std::runtime_error("AES encryption failed");
    }
    produced_ += chunk;
    ready_ += piece;
  }
  std::memcpy(out, ready_.data(), n);
  ready_.erase(0, n);
  delivered_ += n;
}

std::array<std::uint8_t, 32> PackedStream::plainBlake2() {
  std::array<std::uint8_t, 32> digest{};
  if (blake2_) blake2sp_final(static_cast<blake2sp_state*>(blakeState_.get()), digest.data(), 32);
  return digest;
}

}  // namespace detail

using namespace detail;

namespace {

class File {
 public:
  explicit File(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd_ < 0) fail("cannot create");
  }
  ~File() {
    if (fd_ >= 0) ::close(fd_);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  std::uint64_t size() const { return size_; }
  void append(const char* data, std::size_t n) {
    writeAt(size_, data, n);
    size_ += n;
  }
  void append(const Bytes& b) { append(b.data(), b.size()); }
  void writeAt(std::uint64_t offset, const char* data, std::size_t n) {
    while (n > 0) {
      ssize_t w = ::pwrite(fd_, data, n, static_cast<off_t>(offset));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) fail("cannot write");
      data += w;
      n -= static_cast<std::size_t>(w);
      offset += static_cast<std::uint64_t>(w);
    }
  }
  void close() {
    if (::close(fd_) != 0) {
      fd_ = -1;
      fail("cannot close");
    }
    fd_ = -1;
  }

 private:
  [[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + " " + path_ + ": " + std::strerror(errno));
  }
  std::string path_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

std::string normalisedName(const std::string& raw) {
  std::string name = raw;
  while (!name.empty() && name.back() == '/') name.pop_back();
  if (name.empty()) throw std::invalid_argument("entry with an empty name");
  return name;
}

std::array<std::uint8_t, 32> blake2Of(const std::string& bytes) {
  std::array<std::uint8_t, 32> digest{};
  blake2sp(digest.data(), bytes.data(), nullptr, 32, bytes.size(), 0);
  return digest;
}

// `encoder` carries a RAR 5 archive's stream from entry to entry; made when first needed.
PreparedEntry prepare(const Entry& e, const Options& options, KeyRing& keys,
                      const std::vector<PreparedEntry>& earlier,
                      std::unique_ptr<rar5enc::Encoder>& encoder) {
  const Format format = options.format;
  PreparedEntry pe;
  pe.entry = &e;
  pe.name = normalisedName(e.name);
  pe.directory = e.directory;
  pe.symlink = !e.symlinkTarget.empty();
  pe.hardlink = !e.hardlinkTarget.empty();

  bool unixStyle = format == Format::Rar4 ? (e.host == HostOS::Unix || e.host == HostOS::BeOS)
                                          : !(e.host == HostOS::MsDos || e.host == HostOS::Os2 ||
                                              e.host == HostOS::Windows);
  pe.attributes = effectiveAttributes(e, unixStyle);

  // The bytes stored (before padding and encryption) and the size reported.
  DataSource plain;
  std::uint64_t plainSize = 0;
  auto inlineSource = [](std::string bytes) {
    auto shared = std::make_shared<const std::string>(std::move(bytes));
    return std::pair<DataSource, std::uint64_t>{
        [shared](std::uint64_t off, char* out, std::size_t n) {
          std::memcpy(out, shared->data() + off, n);
        },
        shared->size()};
  };
  if (pe.directory) {
    if (!e.data.empty() || e.source) throw std::invalid_argument("directory with data: " + pe.name);
  } else if (pe.symlink) {
    if (format == Format::Rar4) {
      if (!unixStyle) throw std::invalid_argument("RAR 4 symlinks need a Unix host: " + pe.name);
      std::tie(plain, plainSize) = inlineSource(e.symlinkTarget);  // RAR 4 keeps it as data
      pe.unpackedSize = plainSize;
    } else {
      pe.unpackedSize = unixStyle ? e.symlinkTarget.size() : 0;
    }
  } else if (pe.hardlink) {
    if (format == Format::Rar4) throw std::invalid_argument("RAR 4 has no hard links: " + pe.name);
    auto it = std::find_if(earlier.begin(), earlier.end(), [&](const PreparedEntry& p) {
      return p.name == normalisedName(e.hardlinkTarget);
    });
    if (it != earlier.end()) {
      pe.unpackedSize = it->unpackedSize;
      if (e.attributes == 0) pe.attributes = it->attributes;
    }
  } else if (e.source) {
    plain = e.source;
    plainSize = e.sourceSize;
    pe.unpackedSize = plainSize;
  } else {
    std::tie(plain, plainSize) = inlineSource(e.data);
    pe.unpackedSize = plainSize;
  }

  if (e.compressed && plain && plainSize > 0) {
    if (format != Format::Rar4) throw std::invalid_argument("only RAR 4 entries compress");
    std::string bytes(static_cast<std::size_t>(plainSize), '\0');
    plain(0, bytes.data(), bytes.size());
    const bool tablesSent =
        options.solidFlag && std::any_of(earlier.begin(), earlier.end(),
                                         [](const PreparedEntry& p) { return p.compressed; });
    pe.compressed = true;
    pe.unpackedCrc = crc32Of(bytes.data(), bytes.size());
    std::tie(plain, plainSize) =
        inlineSource(rar29LiteralStream(bytes, !tablesSent, !options.solidFlag));
  }

  const bool rar5Packs = format == Format::Rar5 && plain && plainSize > 0 && !pe.symlink &&
                         (e.prepacked || options.compression);
  if ((e.prepacked && !pe.directory && format == Format::Rar4) || rar5Packs) {
    std::string bytes(static_cast<std::size_t>(plainSize), '\0');
    if (plain) plain(0, bytes.data(), bytes.size());
    pe.compressed = true;
    pe.unpackedCrc = crc32Of(bytes.data(), bytes.size());
    if (format == Format::Rar5 && options.blake2) pe.unpackedBlake2 = blake2Of(bytes);
    if (format == Format::Rar5) {
      const Rar5Compression& c = e.prepacked ? e.prepacked->rar5 : *options.compression;
      pe.compressionInfo = compressionInfo(c, false);
      if (!e.prepacked) {
        if (!encoder) encoder = std::make_unique<rar5enc::Encoder>(encoderSettings(c));
        bytes = encoder->pack(bytes);
      }
    }
    std::tie(plain, plainSize) = inlineSource(e.prepacked ? e.prepacked->bytes : std::move(bytes));
  }

  // With encrypted headers RAR encrypts every file too, with the same password.
  std::string password = e.password;
  if (password.empty() && !options.headerPassword.empty() && !pe.directory && !pe.hardlink)
    password = options.headerPassword;
  const bool realCipher = !password.empty() && !pe.directory;
  pe.encrypted = realCipher || e.encryptedFlagOnly;
  pe.blake2 = options.blake2 && format == Format::Rar5 && !pe.directory && !pe.hardlink;
  // Of the old ciphers only RAR 2.0's works on blocks.
  const bool legacy = realCipher && format == Format::Rar4 && e.legacyCipher != 0;
  const bool pad = pe.encrypted && (!legacy || e.legacyCipher == 20);
  pe.packed = std::make_shared<PackedStream>(plain, plainSize, pad, pe.blake2);
  pe.packedSize = pe.packed->size();

  if (realCipher) {
    randomFill(pe.iv.data(), pe.iv.size());
    if (legacy) {
      pe.legacyCipher = e.legacyCipher;
      pe.packed->encryptLegacy(unrar::crypto::rar4CipherFor(e.legacyCipher), password);
    } else if (format == Format::Rar4) {
      const KeyRing::Rar4& k = keys.rar4(password);
      std::copy(k.salt.begin(), k.salt.end(), pe.salt.begin());
      pe.packed->encryptWith(k.key.key.data(), 16, k.key.iv.data());
    } else {
      const KeyRing::Rar5& k = keys.rar5(password);
      pe.salt = k.salt;
      pe.kdfCount = k.kdfCount;
      pe.rar5Keys = &k.keys;
      pe.hasCheckValue = true;
      pe.macChecksums = true;
      unrar::crypto::Rar5PasswordCheck check = unrar::crypto::rar5PasswordCheck(k.keys);
      std::copy(check.value.begin(), check.value.end(), pe.checkValue.begin());
      std::copy(check.sum.begin(), check.sum.end(), pe.checkValue.begin() + 8);
      pe.packed->encryptWith(k.keys.key.data(), 32, pe.iv.data());
    }
  } else if (e.encryptedFlagOnly) {
    // A password prompt needs only the flag; the padded data stays plain.
    randomFill(pe.salt.data(), pe.salt.size());
    randomFill(pe.iv.data(), pe.iv.size());
  }
  return pe;
}

struct Volume {
  std::vector<Part> parts;
};

// Splits the entries over volumes of at most `volumeSize` bytes (0: one archive).
// Every volume holds its own start blocks and end block; an entry that does not
// fit is continued in the next volume with a full copy of its header.
std::vector<Volume> plan(const std::vector<PreparedEntry>& entries, Emitter& emitter,
                         const Options& options) {
  std::vector<Volume> volumes(1);
  const bool multi = options.volumeSize > 0;
  const PartChecksums zero;
  auto fixedSize = [&](std::size_t index) {
    std::uint64_t n = emitter.signature().size() + emitter.volumeStart(index, multi).size() +
                      emitter.endBlock(index, false, multi, false).size();
    if (index == 0) n += options.sfxStubSize;
    return n;
  };
  if (!multi) {
    for (std::size_t i = 0; i < entries.size(); ++i)
      volumes[0].parts.push_back(Part{i, 0, entries[i].packedSize, false, false});
    return volumes;
  }

  std::uint64_t used = fixedSize(0);
  auto headerSize = [&](std::size_t i, std::uint64_t offset, std::uint64_t length, bool after) {
    Part p{i, offset, length, offset > 0, after};
    return static_cast<std::uint64_t>(emitter.fileHeader(entries[i], p, zero, false).size());
  };
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::uint64_t offset = 0;
    std::uint64_t remaining = entries[i].packedSize;
    for (;;) {
      std::uint64_t avail = options.volumeSize > used ? options.volumeSize - used : 0;
      std::uint64_t whole = headerSize(i, offset, remaining, false);
      if (whole + remaining <= avail) {
        volumes.back().parts.push_back(Part{i, offset, remaining, offset > 0, false});
        used += whole + remaining;
        break;
      }
      if (remaining > 0) {
        std::uint64_t h = headerSize(i, offset, std::min(remaining, avail), true);
        if (avail > h) {
          std::uint64_t len = avail - h;
          volumes.back().parts.push_back(Part{i, offset, len, offset > 0, true});
          offset += len;
          remaining -= len;
        }
      }
      if (volumes.back().parts.empty())
        throw std::invalid_argument("volume size too small for a header of " + entries[i].name);
      volumes.emplace_back();
      used = fixedSize(volumes.size() - 1);
    }
  }
  return volumes;
}

}  // namespace

std::vector<std::string> write(const std::string& path, const std::vector<Entry>& entries,
                               const Options& options) {
  if (options.format == Format::Rar5 && options.oldVolumeNaming && options.volumeSize > 0)
    throw std::invalid_argument("RAR 5 volumes have only the name.partN.rar naming");
  KeyRing keys;
  std::vector<PreparedEntry> prepared;
  prepared.reserve(entries.size());
  std::unique_ptr<rar5enc::Encoder> encoder;
  for (const Entry& e : entries) {
    if (!options.solidFlag) encoder.reset();
    prepared.push_back(prepare(e, options, keys, prepared, encoder));
    prepared.back().solid = options.solidFlag && prepared.size() > 1;
  }
  std::unique_ptr<Emitter> emitter = options.format == Format::Rar4
                                         ? makeRar4Emitter(options, keys)
                                         : makeRar5Emitter(options, keys);
  const bool multi = options.volumeSize > 0;
  std::vector<Volume> volumes = plan(prepared, *emitter, options);
  std::vector<std::string> names =
      multi ? volumeNames(path, volumes.size(), options.oldVolumeNaming) : std::vector{path};
  if (options.damage == Damage::MissingVolume && volumes.size() < 2)
    throw std::invalid_argument("a missing volume needs a set of two volumes or more");

  std::size_t firstFile = prepared.size();
  for (std::size_t i = 0; i < prepared.size(); ++i)
    if (!prepared[i].directory) {
      firstFile = i;
      break;
    }

  std::vector<char> buffer(1 << 20);
  std::uint64_t truncateAt = 0;
  bool firstHeader = true;
  for (std::size_t v = 0; v < volumes.size(); ++v) {
    File out(names[v]);
    if (v == 0 && options.sfxStubSize > 0) {
      Bytes stub(options.sfxStubSize, '\0');
      stub[0] = 'M';
      if (stub.size() > 1) stub[1] = 'Z';
      out.append(stub);
    }
    out.append(emitter->signature());
    out.append(emitter->volumeStart(v, multi));
    for (const Part& part : volumes[v].parts) {
      const PreparedEntry& pe = prepared[part.entry];

      const std::uint64_t headerAt = out.size();
      Bytes placeholder = emitter->fileHeader(pe, part, PartChecksums{}, false);
      out.append(placeholder);
      const std::uint64_t dataAt = out.size();
      std::uint32_t partCrc = 0;
      // A part continued in the next volume carries the checksum of its own
      // stored bytes, in the entry's kind of checksum.
      const bool partHash = pe.blake2 && part.splitAfter;
      blake2sp_state partBlake;
      if (partHash) blake2sp_init(&partBlake, 32);
      for (std::uint64_t done = 0; done < part.length;) {
        std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), part.length - done));
        pe.packed->read(part.offset + done, buffer.data(), n);
        partCrc = crc32Of(buffer.data(), n, partCrc);
        if (partHash)
          blake2sp_update(&partBlake, reinterpret_cast<const std::uint8_t*>(buffer.data()), n);
        out.append(buffer.data(), n);
        done += n;
      }

      PartChecksums sums;
      if (part.splitAfter) {
        sums.crc = emitter->storedCrc(pe, partCrc);
        if (partHash) {
          blake2sp_final(&partBlake, sums.blake2.data(), 32);
          if (pe.rar5Keys)
            sums.blake2 = unrar::crypto::rar5Blake2ToMac(*pe.rar5Keys, sums.blake2.data());
        }
      } else {
        sums.crc = emitter->storedCrc(pe, pe.compressed ? pe.unpackedCrc : pe.packed->plainCrc());
        if (pe.blake2) {
          sums.blake2 = pe.compressed ? pe.unpackedBlake2 : pe.packed->plainBlake2();
          if (pe.rar5Keys)
            sums.blake2 = unrar::crypto::rar5Blake2ToMac(*pe.rar5Keys, sums.blake2.data());
        }
        if (options.damage == Damage::BadDataCrc && part.entry == firstFile) {
          sums.crc ^= 0x00FF00FF;
          sums.blake2[0] ^= 0xFF;
        }
      }
      bool badCrc = options.damage == Damage::BadHeaderCrc && firstHeader;
      firstHeader = false;
      Bytes final = emitter->fileHeader(pe, part, sums, badCrc);
      if (final.size() != placeholder.size())
        throw std::logic_error("header size changed with its checksums: " + pe.name);
      out.writeAt(headerAt, final.data(), final.size());
      if (v + 1 == volumes.size())
        truncateAt = part.length > 0 ? dataAt + part.length / 2 : headerAt + final.size() / 2;
    }
    const bool last = v + 1 == volumes.size();
    out.append(emitter->endBlock(v, last, multi, last && options.damage == Damage::BadEndCrc));
    out.close();
  }

  if (options.damage == Damage::Truncated) {
    if (truncateAt == 0) throw std::invalid_argument("nothing to truncate in the last volume");
    if (::truncate(names.back().c_str(), static_cast<off_t>(truncateAt)) != 0)
      throw std::runtime_error("cannot truncate " + names.back() + ": " + std::strerror(errno));
  }
  if (options.damage == Damage::MissingVolume) {
    std::remove(names[1].c_str());
    names.erase(names.begin() + 1);
  }
  return names;
}

std::vector<std::string> volumeNames(const std::string& firstVolume, std::size_t count,
                                     bool oldVolumeNaming) {
  std::vector<std::string> names;
  if (count == 0) return names;
  std::string stem = firstVolume;
  auto endsWith = [](const std::string& s, const std::string& tail) {
    if (s.size() < tail.size()) return false;
    return std::equal(tail.rbegin(), tail.rend(), s.rbegin(),
                      [](char a, char b) { return std::tolower(a) == std::tolower(b); });
  };
  if (endsWith(stem, ".rar")) stem.resize(stem.size() - 4);
  if (oldVolumeNaming) {
    names.push_back(stem + ".rar");
    for (std::size_t i = 1; i < count; ++i) {
      std::size_t n = i - 1;  // .r00 .. .r99, .s00 .. .s99, ...
      if (n / 100 > 'z' - 'r') throw std::invalid_argument("too many volumes for old naming");
      char ext[8];
      std::snprintf(ext, sizeof ext, ".%c%02zu", static_cast<char>('r' + n / 100), n % 100);
      names.push_back(stem + ext);
    }
    return names;
  }
  // name.partN: keep a width the caller chose ("part01"), widen when the set needs it.
  std::size_t width = 1;
  std::size_t digits = 0;
  while (digits < stem.size() &&
         std::isdigit(static_cast<unsigned char>(stem[stem.size() - 1 - digits])))
    ++digits;
  if (digits > 0 && endsWith(stem.substr(0, stem.size() - digits), ".part")) {
    width = digits;
    stem.resize(stem.size() - digits);
  } else {
    stem += ".part";
  }
  width = std::max(width, std::to_string(count).size());
  for (std::size_t i = 1; i <= count; ++i) {
    std::string number = std::to_string(i);
    names.push_back(stem + std::string(width - number.size(), '0') + number + ".rar");
  }
  return names;
}

rar5enc::Settings detail::encoderSettings(const Rar5Compression& c) {
  rar5enc::Settings settings;
  settings.dictionary = c.dictionary;
  settings.wideDistances = c.version == 1 && !c.rar5Distances;
  settings.effort = c.method;
  return settings;
}

std::uint64_t compressionInfo(const Rar5Compression& c, bool solid) {
  if (c.method < 1 || c.method > 5) throw std::invalid_argument("RAR 5 method is 1 to 5");
  if (c.version > 1) throw std::invalid_argument("RAR 5 algorithm version is 0 or 1");
  constexpr std::uint64_t kSmallest = std::uint64_t{128} << 10;
  std::uint64_t n = 0;
  while (n < 31 && (kSmallest << (n + 1)) <= c.dictionary) ++n;
  const std::uint64_t power = kSmallest << n;
  const std::uint64_t fraction = c.dictionary >= power ? (c.dictionary - power) / (power / 32) : 32;
  const bool exact = c.dictionary >= power && c.dictionary == power + power / 32 * fraction;
  if (c.version == 0 ? !exact || fraction != 0 || n > 15
                     : !exact || c.dictionary > (std::uint64_t{64} << 30))
    throw std::invalid_argument("dictionary size the RAR 5 version cannot declare");
  std::uint64_t info = c.version | (solid ? 0x40 : 0) | std::uint64_t{c.method} << 7 | n << 10;
  if (c.version == 1) info |= fraction << 15 | (c.rar5Distances ? 0x100000 : 0);
  return info;
}

std::uint32_t crc32(const std::string& data) {
  return crc32Of(data.data(), data.size());
}

void fillPattern(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length) {
  // splitmix64 of the 8-byte word index: random enough to defeat any shortcut a
  // reader might take, and cheap enough for gigabytes.
  auto word = [seed](std::uint64_t index) {
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + index + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  };
  std::size_t i = 0;
  while (i < length) {
    std::uint64_t at = offset + i;
    std::uint64_t w = word(at / 8);
    std::size_t from = at % 8;
    std::size_t n = std::min<std::size_t>(8 - from, length - i);
    for (std::size_t k = 0; k < n; ++k)
      out[i + k] = static_cast<char>((w >> (8 * (from + k))) & 0xFF);
    i += n;
  }
}

DataSource patternSource(std::uint64_t seed) {
  return [seed](std::uint64_t offset, char* out, std::size_t length) {
    fillPattern(seed, offset, out, length);
  };
}

}  // namespace rarwriter
