// RAR 1.5-4 blocks: marker, main header, file and service headers, end of archive.
#include <ctime>
#include <stdexcept>

#include "writer_internal.h"

namespace rarwriter::detail {
namespace {

constexpr std::uint8_t kMainHead = 0x73;
constexpr std::uint8_t kFileHead = 0x74;
constexpr std::uint8_t kCommentHead = 0x75;
constexpr std::uint8_t kServiceHead = 0x7A;
constexpr std::uint8_t kEndHead = 0x7B;

constexpr std::uint16_t kLongBlock = 0x8000;
constexpr std::uint16_t kSkipIfUnknown = 0x4000;

// DOS date and time in local time, as RAR 4 stores them; odd seconds are
// rounded down here and restored by the EXT_TIME record.
std::uint32_t dosTime(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (!localtime_r(&t, &tm)) throw std::invalid_argument("file time out of range");
  if (tm.tm_year < 80) return (1u << 21) | (1u << 16);  // 1980-01-01, the earliest it holds
  if (tm.tm_year > 80 + 127) throw std::invalid_argument("file time after 2107");
  return static_cast<std::uint32_t>(tm.tm_year - 80) << 25 |
         static_cast<std::uint32_t>(tm.tm_mon + 1) << 21 |
         static_cast<std::uint32_t>(tm.tm_mday) << 16 |
         static_cast<std::uint32_t>(tm.tm_hour) << 11 | static_cast<std::uint32_t>(tm.tm_min) << 5 |
         static_cast<std::uint32_t>(tm.tm_sec / 2);
}

// Finishes a block whose bytes from offset 2 on are in `block`: fills HEAD_SIZE
// (offset 5) and HEAD_CRC over bytes 2..crcEnd (the whole header when 0).
void seal(Bytes& block, std::size_t crcEnd = 0) {
  if (block.size() > 0xFFFF) throw std::invalid_argument("RAR 4 header over 64 KiB");
  block[5] = static_cast<char>(block.size() & 0xFF);
  block[6] = static_cast<char>(block.size() >> 8);
  std::size_t end = crcEnd ? crcEnd : block.size();
  std::uint32_t crc = crc32Of(block.data() + 2, end - 2);
  block[0] = static_cast<char>(crc & 0xFF);
  block[1] = static_cast<char>((crc >> 8) & 0xFF);
}

Bytes blockStart(std::uint8_t type, std::uint16_t flags) {
  Bytes b;
  putLe(b, 0, 2);
  putLe(b, type, 1);
  putLe(b, flags, 2);
  putLe(b, 0, 2);
  return b;
}

// The name as stored, and whether it needs the Unicode flag. Non-ASCII names get
// an 8-bit name (one byte per UTF-16 unit, '_' for what it cannot hold), a NUL,
// and the UTF-16 form encoded against that 8-bit name.
std::pair<Bytes, bool> storedName(const std::string& name, bool utf8Names) {
  std::string withBackslashes = name;
  for (char& c : withBackslashes)
    if (c == '/') c = '\\';
  bool ascii = true;
  for (unsigned char c : withBackslashes) ascii = ascii && c < 0x80;
  if (ascii) return {withBackslashes, false};
  if (utf8Names) return {withBackslashes, true};

  // The 8-bit name ends at its first zero, so a zero unit is '_' there too.
  std::u16string units = utf16(withBackslashes);
  Bytes low;
  for (char16_t u : units) low.push_back(u < 0x80 && u != 0 ? static_cast<char>(u) : '_');
  std::uint8_t high = 0;
  for (char16_t u : units)
    if (u >= 0x100) {
      high = static_cast<std::uint8_t>(u >> 8);
      break;
    }

  Bytes enc;
  enc.push_back(static_cast<char>(high));
  std::size_t flagPos = 0;
  int opsInFlag = 4;
  auto op = [&](int code) {
    if (opsInFlag == 4) {
      flagPos = enc.size();
      enc.push_back(0);
      opsInFlag = 0;
    }
    enc[flagPos] =
        static_cast<char>(static_cast<std::uint8_t>(enc[flagPos]) | (code << (6 - 2 * opsInFlag)));
    ++opsInFlag;
  };
  for (std::size_t i = 0; i < units.size();) {
    std::size_t run = 0;
    while (i + run < units.size() && units[i + run] < 0x80 && units[i + run] != 0 && run < 0x7F + 2)
      ++run;
    if (run >= 2) {  // copy a run of ASCII from the 8-bit name
      op(3);
      enc.push_back(static_cast<char>(run - 2));
      i += run;
      continue;
    }
    char16_t u = units[i++];
    if (u < 0x100) {
      op(0);
      enc.push_back(static_cast<char>(u));
    } else if ((u >> 8) == high) {
      op(1);
      enc.push_back(static_cast<char>(u & 0xFF));
    } else {
      op(2);
      enc.push_back(static_cast<char>(u & 0xFF));
      enc.push_back(static_cast<char>(u >> 8));
    }
  }
  return {low + '\0' + enc, true};
}

class Rar4Emitter final : public Emitter {
 public:
  Rar4Emitter(const Options& options, KeyRing& keys) : options_(options) {
    if (!options.headerPassword.empty()) headerKey_ = &keys.rar4(options.headerPassword);
  }

  Bytes signature() const override { return Bytes("Rar!\x1A\x07\x00", 7); }

  Bytes volumeStart(std::size_t index, bool multiVolume) override {
    std::uint16_t flags = 0;
    if (multiVolume) {
      flags |= 0x0001;
      if (!options_.oldVolumeNaming) flags |= 0x0010;
      if (index == 0) flags |= 0x0100;
    }
    if (options_.lockFlag) flags |= 0x0004;
    if (options_.solidFlag) flags |= 0x0008;
    bool comment = index == 0 && !options_.comment.empty();
    bool oldComment = comment && options_.oldStyleComment;
    if (oldComment) flags |= 0x0002;
    if (headerKey_) flags |= 0x0080;

    Bytes main = blockStart(kMainHead, flags);
    putLe(main, 0, 2);
    putLe(main, 0, 4);
    if (oldComment) {
      if (options_.comment.size() > 0xFFFF - 13 - 13)
        throw std::invalid_argument("old-style comment too long");
      Bytes cmt = blockStart(kCommentHead, 0);
      putLe(cmt, options_.comment.size(), 2);
      putLe(cmt, 20, 1);    // version needed
      putLe(cmt, 0x30, 1);  // stored
      putLe(cmt, crc32Of(options_.comment.data(), options_.comment.size()) & 0xFFFF, 2);
      cmt += options_.comment;
      seal(cmt, 13);
      main += cmt;
      seal(main, 13);
      return main;
    }
    seal(main);
    if (!comment) return main;

    const std::string& text = options_.comment;
    // Under header encryption the comment text is encrypted as file data is.
    Bytes stored = text;
    if (headerKey_)
      stored = encryptBlock(text, headerKey_->key.key.data(), 16, headerKey_->key.iv.data());
    Bytes cmt = blockStart(kServiceHead, kLongBlock | (headerKey_ ? 0x0004 | 0x0400 : 0));
    putLe(cmt, stored.size(), 4);
    putLe(cmt, text.size(), 4);
    putLe(cmt, 2, 1);  // host: Windows
    putLe(cmt, crc32Of(text.data(), text.size()), 4);
    putLe(cmt, 0, 4);     // time
    putLe(cmt, 29, 1);    // version needed
    putLe(cmt, 0x30, 1);  // stored
    putLe(cmt, 3, 2);
    putLe(cmt, 0, 4);  // SubFlags: 8-bit text
    cmt += "CMT";
    if (headerKey_) cmt.append(reinterpret_cast<const char*>(headerKey_->salt.data()), 8);
    seal(cmt);
    return main + wrap(cmt) + stored;
  }

  Bytes fileHeader(const PreparedEntry& pe, const Part& part, const PartChecksums& sums,
                   bool badCrc) override {
    const Entry& e = *pe.entry;
    if (pe.hardlink) throw std::invalid_argument("RAR 4 has no hard links: " + pe.name);
    std::uint16_t flags = kLongBlock;
    if (part.splitBefore) flags |= 0x0001;
    if (part.splitAfter) flags |= 0x0002;
    if (pe.encrypted) flags |= pe.legacyCipher ? 0x0004 : 0x0004 | 0x0400;
    if (pe.solid) flags |= 0x0010;
    if (pe.directory) flags |= 0x00E0;
    if (e.prepacked && !pe.directory) flags |= (e.prepacked->dictionary & 7) << 5;
    bool large = pe.packedSize > 0xFFFFFFFFu || pe.unpackedSize > 0xFFFFFFFFu;
    if (large) flags |= 0x0100;
    auto [name, unicode] = storedName(pe.name, options_.rar4Utf8Names);
    if (unicode) flags |= 0x0200;
    bool oddSecond = (e.mtime % 2) != 0;
    if (oddSecond) flags |= 0x1000;

    Bytes h = blockStart(kFileHead, flags);
    putLe(h, part.length & 0xFFFFFFFFu, 4);
    putLe(h, pe.unpackedSize & 0xFFFFFFFFu, 4);
    putLe(h, static_cast<std::uint8_t>(e.host), 1);
    putLe(h, sums.crc, 4);
    putLe(h, dosTime(e.mtime), 4);
    const bool prepacked = e.prepacked && !pe.directory;
    putLe(h,
          pe.directory           ? 20
          : prepacked            ? e.prepacked->unpVer
          : pe.legacyCipher != 0 ? pe.legacyCipher
                                 : 29,
          1);
    putLe(h, prepacked ? e.prepacked->method : pe.compressed ? 0x33 : 0x30, 1);
    putLe(h, name.size(), 2);
    putLe(h, pe.attributes, 4);
    if (large) {
      putLe(h, part.length >> 32, 4);
      putLe(h, pe.unpackedSize >> 32, 4);
    }
    h += name;
    if (pe.encrypted && !pe.legacyCipher)
      h.append(reinterpret_cast<const char*>(pe.salt.data()), 8);
    if (oddSecond) putLe(h, 0x8000 | 0x4000, 2);  // mtime present, plus one second
    seal(h);
    if (badCrc) h[0] = static_cast<char>(h[0] ^ 0x5A);
    return wrap(h);
  }

  Bytes endBlock(std::size_t index, bool last, bool multiVolume, bool badCrc) override {
    std::uint16_t flags = kSkipIfUnknown;
    if (multiVolume) flags |= 0x0008 | (last ? 0 : 0x0001);
    Bytes b = blockStart(kEndHead, flags);
    if (multiVolume) putLe(b, index, 2);
    seal(b);
    if (badCrc) b[0] = static_cast<char>(b[0] ^ 0x5A);
    return wrap(b);
  }

  std::uint32_t storedCrc(const PreparedEntry&, std::uint32_t crc) const override { return crc; }

 private:
  // Every block after the main header, under header encryption: the salt, then
  // the block padded and encrypted with a chain of its own.
  Bytes wrap(const Bytes& block) const {
    if (!headerKey_) return block;
    Bytes salt(reinterpret_cast<const char*>(headerKey_->salt.data()), 8);
    return salt + encryptBlock(block, headerKey_->key.key.data(), 16, headerKey_->key.iv.data());
  }

  Options options_;
  const KeyRing::Rar4* headerKey_ = nullptr;
};

}  // namespace

std::unique_ptr<Emitter> makeRar4Emitter(const Options& options, KeyRing& keys) {
  return std::make_unique<Rar4Emitter>(options, keys);
}

}  // namespace rarwriter::detail
