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
  explicit Rar5Emitter(const Options& options) : options_(options) {
    if (!options.headerPassword.empty())
      throw std::invalid_argument("RAR 5 header encryption is not available in this build");
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
    Bytes out = block(body);
    if (index == 0 && !options_.comment.empty()) {
      const std::string& text = options_.comment;
      Bytes cmt;
      putVint(cmt, kServiceHeader);
      putVint(cmt, kHasData);
      putVint(cmt, text.size());
      putVint(cmt, 0x0004);  // CRC32 present
      putVint(cmt, text.size());
      putVint(cmt, 0);  // attributes
      putLe(cmt, crc32Of(text.data(), text.size()), 4);
      putVint(cmt, 0);  // stored
      putVint(cmt, 0);  // host: Windows
      putVint(cmt, 3);
      cmt += "CMT";
      out += block(cmt) + text;
    }
    return out;
  }

  Bytes fileHeader(const PreparedEntry& pe, const Part& part, const PartChecksums& sums,
                   bool badCrc) override {
    const Entry& e = *pe.entry;
    Bytes extra;
    if (pe.encrypted) {
      Bytes p;
      putVint(p, 0);  // AES-256
      putVint(p, (pe.hasCheckValue ? 0x01 : 0) | (pe.macChecksums ? 0x02 : 0));
      putLe(p, pe.kdfCount, 1);
      p.append(reinterpret_cast<const char*>(pe.salt.data()), 16);
      p.append(reinterpret_cast<const char*>(pe.iv.data()), 16);
      if (pe.hasCheckValue) p.append(reinterpret_cast<const char*>(pe.checkValue.data()), 12);
      extra += record(0x01, p);
    }
    const bool hashed = pe.blake2 && !part.splitAfter;
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
      putVint(p, pe.hardlink ? 4 : (windowsHost(e.host) ? 2 : 1));
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
    putVint(body, pe.solid ? 0x40 : 0);  // version 0, stored, 128 KiB window
    putVint(body, windowsHost(e.host) ? 0 : 1);
    putVint(body, pe.name.size());
    body += pe.name;
    body += extra;
    Bytes h = block(body);
    if (badCrc) h[0] = static_cast<char>(h[0] ^ 0x5A);
    return h;
  }

  Bytes endBlock(std::size_t, bool last, bool) override {
    Bytes body;
    putVint(body, kEndHeader);
    putVint(body, kSkipIfUnknown);
    putVint(body, last ? 0 : 0x01);
    return block(body);
  }

  std::uint32_t storedCrc(const PreparedEntry&, std::uint32_t crc) const override { return crc; }

 private:
  Options options_;
};

}  // namespace

std::unique_ptr<Emitter> makeRar5Emitter(const Options& options) {
  return std::make_unique<Rar5Emitter>(options);
}

}  // namespace rarwriter::detail
