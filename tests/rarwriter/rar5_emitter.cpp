// RAR 5 blocks: main header, file and service headers with their extra records,
// end of archive.
#include <stdexcept>

#include "writer_internal.h"

namespace rarwriter::detail {
namespace {

constexpr std::uint64_t kMainHeader = 1;
constexpr std::uint64_t kFileHeader = 2;
constexpr std::uint64_t kServiceHeader = 3;
constexpr std::uint64_t kEndHeader = 5;

constexpr std::uint64_t kHasExtra = 0x0001;
constexpr std::uint64_t kHasData = 0x0002;
constexpr std::uint64_t kSkipIfUnknown = 0x0004;
constexpr std::uint64_t kSplitBefore = 0x0008;
constexpr std::uint64_t kSplitAfter = 0x0010;

// A whole block: CRC32, size, then `body` (type onwards, extra area included).
Bytes block(const Bytes& body) {
  Bytes sized;
  putVint(sized, body.size());
  sized += body;
  Bytes out;
  putLe(out, crc32Of(sized.data(), sized.size()), 4);
  return out + sized;
}

Bytes record(std::uint64_t type, const Bytes& payload) {
  Bytes typed;
  putVint(typed, type);
  typed += payload;
  Bytes out;
  putVint(out, typed.size());
  return out + typed;
}

bool windowsHost(HostOS host) {
  return host == HostOS::MsDos || host == HostOS::Os2 || host == HostOS::Windows;
}

class Rar5Emitter final : public Emitter {
 public:
  Rar5Emitter(const Options& options, KeyRing& keys) : options_(options) {
    if (!options.headerPassword.empty()) headerKey_ = &keys.rar5(options.headerPassword);
  }

  Bytes signature() const override { return Bytes("Rar!\x1A\x07\x01\x00", 8); }

  Bytes volumeStart(std::size_t index, bool multiVolume) override {
    std::uint64_t archiveFlags = 0;
    if (multiVolume) archiveFlags |= 0x0001;
    if (index > 0) archiveFlags |= 0x0002;
    if (options_.solidFlag) archiveFlags |= 0x0004;
    if (options_.lockFlag) archiveFlags |= 0x0010;
    Bytes body;
    putVint(body, kMainHeader);
    putVint(body, 0);
    putVint(body, archiveFlags);
    if (index > 0) putVint(body, index);
    Bytes out = encryptionHeader() + wrap(block(body));
    if (index == 0 && !options_.comment.empty()) {
      const std::string& text = options_.comment;
      std::uint32_t crc = crc32Of(text.data(), text.size());
      // An archive whose files are compressed has its comment compressed too.
      std::uint64_t method = 0;
      Bytes stored = text;
      if (options_.compression) {
        stored = rar5enc::Encoder(encoderSettings(*options_.compression)).pack(text);
        method = compressionInfo(*options_.compression, false);
      }
      Bytes extra;
      if (headerKey_) {
        // Under header encryption the comment is encrypted as file data is.
        std::array<std::uint8_t, 16> iv{};
        randomFill(iv.data(), iv.size());
        stored = encryptBlock(stored, headerKey_->keys.key.data(), 32, iv.data());
        crc = unrar::crypto::rar5CrcToMac(headerKey_->keys, crc);
        extra = record(0x01, encryptionRecord(headerKey_->salt.data(), headerKey_->kdfCount,
                                              iv.data(), checkBytes(headerKey_->keys), true));
      }
      Bytes cmt;
      putVint(cmt, kServiceHeader);
      putVint(cmt, kHasData | (extra.empty() ? 0 : kHasExtra));
      if (!extra.empty()) putVint(cmt, extra.size());
      putVint(cmt, stored.size());
      putVint(cmt, 0x0004);  // CRC32 present
      putVint(cmt, text.size());
      putVint(cmt, 0);  // attributes
      putLe(cmt, crc, 4);
      putVint(cmt, method);
      putVint(cmt, 0);  // host: Windows
      putVint(cmt, 3);
      cmt += "CMT";
      cmt += extra;
      out += wrap(block(cmt)) + stored;
    }
    return out;
  }

  Bytes fileHeader(const PreparedEntry& pe, const Part& part, const PartChecksums& sums,
                   bool badCrc) override {
    const Entry& e = *pe.entry;
    Bytes extra;
    if (pe.encrypted) {
      Bytes check = pe.hasCheckValue
                        ? Bytes(reinterpret_cast<const char*>(pe.checkValue.data()), 12)
                        : Bytes();
      extra += record(0x01, encryptionRecord(pe.salt.data(), pe.kdfCount, pe.iv.data(), check,
                                             pe.macChecksums));
    }
    const bool hashed = pe.blake2;
    if (hashed) {
      Bytes p;
      putVint(p, 0);
      p.append(reinterpret_cast<const char*>(sums.blake2.data()), 32);
      extra += record(0x02, p);
    }
    {
      // Windows FILETIME, as RAR itself writes it, rather than the header's
      // 32-bit Unix field, so that times before 1970 and after 2106 survive.
      Bytes p;
      putVint(p, 0x02);
      putLe(p, static_cast<std::uint64_t>((e.mtime + 11644473600LL) * 10000000LL), 8);
      extra += record(0x03, p);
    }
    if (pe.symlink || pe.hardlink) {
      Bytes p;
      const std::string& target = pe.symlink ? e.symlinkTarget : e.hardlinkTarget;
      putVint(p, pe.hardlink ? (e.fileCopy ? 5 : 4) : (windowsHost(e.host) ? 2 : 1));
      putVint(p, 0);
      putVint(p, target.size());
      p += target;
      extra += record(0x05, p);
    }

    std::uint64_t flags = kHasData | (extra.empty() ? 0 : kHasExtra);
    if (part.splitBefore) flags |= kSplitBefore;
    if (part.splitAfter) flags |= kSplitAfter;
    std::uint64_t fileFlags = 0;
    if (pe.directory) fileFlags |= 0x0001;
    bool hasCrc = !pe.directory && !pe.hardlink && !hashed;
    if (hasCrc) fileFlags |= 0x0004;

    Bytes body;
    putVint(body, kFileHeader);
    putVint(body, flags);
    if (!extra.empty()) putVint(body, extra.size());
    putVint(body, part.length);
    putVint(body, fileFlags);
    putVint(body, pe.unpackedSize);
    putVint(body, pe.attributes);
    if (hasCrc) putLe(body, sums.crc, 4);
    putVint(body, pe.compressionInfo | (pe.solid ? 0x40 : 0));
    putVint(body, windowsHost(e.host) ? 0 : 1);
    putVint(body, pe.name.size());
    body += pe.name;
    body += extra;
    Bytes h = block(body);
    if (badCrc) h[0] = static_cast<char>(h[0] ^ 0x5A);
    return wrap(h);
  }

  Bytes endBlock(std::size_t, bool last, bool, bool badCrc) override {
    Bytes body;
    putVint(body, kEndHeader);
    putVint(body, kSkipIfUnknown);
    putVint(body, last ? 0 : 0x01);
    Bytes h = block(body);
    if (badCrc) h[0] = static_cast<char>(h[0] ^ 0x5A);
    return wrap(h);
  }

  std::uint32_t storedCrc(const PreparedEntry& pe, std::uint32_t crc) const override {
    return pe.macChecksums && pe.rar5Keys ? unrar::crypto::rar5CrcToMac(*pe.rar5Keys, crc) : crc;
  }

 private:
  static Bytes checkBytes(const unrar::crypto::Rar5Keys& keys) {
    unrar::crypto::Rar5PasswordCheck check = unrar::crypto::rar5PasswordCheck(keys);
    Bytes out(reinterpret_cast<const char*>(check.value.data()), 8);
    return out + Bytes(reinterpret_cast<const char*>(check.sum.data()), 4);
  }

  // Payload of a file encryption record: AES-256, then the flags, KDF count,
  // salt, IV and, when there is one, the password check.
  static Bytes encryptionRecord(const std::uint8_t* salt, std::uint8_t kdfCount,
                                const std::uint8_t* iv, const Bytes& check, bool mac) {
    Bytes p;
    putVint(p, 0);
    putVint(p, (check.empty() ? 0 : 0x01) | (mac ? 0x02 : 0));
    putLe(p, kdfCount, 1);
    p.append(reinterpret_cast<const char*>(salt), 16);
    p.append(reinterpret_cast<const char*>(iv), 16);
    return p + check;
  }

  // Type 4, in plain at the start of every volume when headers are encrypted.
  Bytes encryptionHeader() const {
    if (!headerKey_) return {};
    Bytes body;
    putVint(body, 4);
    putVint(body, 0);
    putVint(body, 0);     // AES-256
    putVint(body, 0x01);  // check value present
    putLe(body, headerKey_->kdfCount, 1);
    body.append(reinterpret_cast<const char*>(headerKey_->salt.data()), 16);
    body += checkBytes(headerKey_->keys);
    return block(body);
  }

  // Every header after the encryption header: a fresh IV, then the header padded
  // and encrypted with a chain of its own.
  Bytes wrap(const Bytes& header) const {
    if (!headerKey_) return header;
    std::array<std::uint8_t, 16> iv{};
    randomFill(iv.data(), iv.size());
    return Bytes(reinterpret_cast<const char*>(iv.data()), 16) +
           encryptBlock(header, headerKey_->keys.key.data(), 32, iv.data());
  }

  Options options_;
  const KeyRing::Rar5* headerKey_ = nullptr;
};

}  // namespace

std::unique_ptr<Emitter> makeRar5Emitter(const Options& options, KeyRing& keys) {
  return std::make_unique<Rar5Emitter>(options, keys);
}

}  // namespace rarwriter::detail
