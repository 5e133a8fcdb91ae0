#include "format/rar_format.h"

#include <zlib.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "core/format_values.h"
#include "core/utf8.h"
#include "format/encryption_records.h"
#include "unrar.h"

namespace unrar {
namespace {

// Largest header either format allows; anything bigger is damage.
constexpr std::size_t kMaxHeader = 2u << 20;

std::uint16_t get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t get32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint64_t get64(const std::uint8_t* p) {
  return get32(p) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}

std::uint32_t crcOf(const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

bool readExact(ByteSource& src, std::uint64_t pos, std::vector<std::uint8_t>& buf, std::size_t n) {
  buf.resize(n);
  return n == 0 || src.readAt(pos, buf.data(), n) == n;
}

std::string backslashesToSlashes(std::string s) {
  for (char& c : s)
    if (c == '\\') c = '/';
  return s;
}

// A name is handed to the system as a C string, which ends at a zero: a name
// "..\0x" would be checked as one thing and opened as "..". Such a name marks
// its entry refused and is shown with U+FFFD in place of each zero.
void refuseZeros(Entry& e) {
  if (e.name.find('\0') == std::string::npos) return;
  e.zeroInName = true;
  std::string shown;
  for (char c : e.name) {
    if (c)
      shown += c;
    else
      shown += "\xEF\xBF\xBD";
  }
  e.name = std::move(shown);
}

struct VintReader {
  const std::uint8_t* p;
  std::size_t n;
  std::size_t i = 0;
  bool ok = true;

  std::uint64_t vint() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 70; shift += 7) {
      if (i >= n) {
        ok = false;
        return 0;
      }
      std::uint8_t b = p[i++];
      if (shift < 64) v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
    ok = false;
    return 0;
  }
  std::uint32_t u32() {
    if (n - i < 4 || i > n) {
      ok = false;
      i = n;
      return 0;
    }
    std::uint32_t v = get32(p + i);
    i += 4;
    return v;
  }
  std::uint64_t u64() {
    if (n - i < 8 || i > n) {
      ok = false;
      i = n;
      return 0;
    }
    std::uint64_t v = get64(p + i);
    i += 8;
    return v;
  }
  std::uint8_t byte() {
    if (i >= n) {
      ok = false;
      return 0;
    }
    return p[i++];
  }
  const std::uint8_t* bytes(std::uint64_t count) {
    if (count > n - i || i > n) {
      ok = false;
      i = n;
      return nullptr;
    }
    const std::uint8_t* r = p + i;
    i += static_cast<std::size_t>(count);
    return r;
  }
};

}  // namespace

std::uint64_t unixToFileTime(std::int64_t seconds, std::uint32_t nanos) {
  return static_cast<std::uint64_t>((seconds + 11644473600LL) * 10000000LL + nanos / 100);
}

std::uint64_t dosTimeToFileTime(std::uint32_t dos) {
  std::tm t{};
  t.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
  t.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  t.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  t.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  t.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  t.tm_sec = static_cast<int>((dos & 0x1F) * 2);
  t.tm_isdst = -1;
  std::time_t s = std::mktime(&t);
  if (s == static_cast<std::time_t>(-1)) return 0;
  return unixToFileTime(s, 0);
}

std::uint32_t fileTimeToDosTime(std::uint64_t ft) {
  if (ft < 116444736000000000ULL) return 0;
  std::time_t s = static_cast<std::time_t>(ft / 10000000ULL - 11644473600ULL);
  std::tm t{};
  if (!localtime_r(&s, &t) || t.tm_year < 80 || t.tm_year > 80 + 127) return 0;
  return (static_cast<std::uint32_t>(t.tm_year - 80) << 25) |
         (static_cast<std::uint32_t>(t.tm_mon + 1) << 21) |
         (static_cast<std::uint32_t>(t.tm_mday) << 16) |
         (static_cast<std::uint32_t>(t.tm_hour) << 11) |
         (static_cast<std::uint32_t>(t.tm_min) << 5) | (static_cast<std::uint32_t>(t.tm_sec) / 2);
}

std::string decodeRar4Name(const std::uint8_t* p, std::size_t n, bool unicodeFlag) {
  if (!unicodeFlag) return utf8OrLatin1(p, n);
  const void* nul = std::memchr(p, 0, n);
  if (!nul) return utf8OrLatin1(p, n);
  std::size_t nameLen = static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p);
  const std::uint8_t* enc = p + nameLen + 1;
  std::size_t encLen = n - nameLen - 1;
  std::vector<char16_t> out;
  std::size_t pos = 0;
  if (encLen == 0) return utf8OrLatin1(p, nameLen);
  std::uint8_t high = enc[pos++];
  std::uint8_t flags = 0;
  int flagBits = 0;
  while (pos < encLen && out.size() < 4096) {
    if (flagBits == 0) {
      flags = enc[pos++];
      flagBits = 8;
      if (pos >= encLen) break;
    }
    int op = flags >> 6;
    flags = static_cast<std::uint8_t>(flags << 2);
    flagBits -= 2;
    switch (op) {
      case 0:
        out.push_back(enc[pos++]);
        break;
      case 1:
        out.push_back(static_cast<char16_t>(enc[pos++] | (high << 8)));
        break;
      case 2:
        if (pos + 1 >= encLen) {
          pos = encLen;
          break;
        }
        out.push_back(static_cast<char16_t>(enc[pos] | (enc[pos + 1] << 8)));
        pos += 2;
        break;
      default: {
        std::uint8_t len = enc[pos++];
        if (len & 0x80) {
          if (pos >= encLen) break;
          std::uint8_t corr = enc[pos++];
          for (int k = 0; k < (len & 0x7F) + 2 && out.size() < nameLen; ++k)
            out.push_back(static_cast<char16_t>(((p[out.size()] + corr) & 0xFF) | (high << 8)));
        } else {
          for (int k = 0; k < len + 2 && out.size() < nameLen; ++k) out.push_back(p[out.size()]);
        }
        break;
      }
    }
  }
  // A zero unit is kept, as a zero, for the caller to refuse: the text
  // conversion would end the name there.
  std::string name;
  std::size_t from = 0;
  for (std::size_t i = 0; i <= out.size(); ++i) {
    if (i < out.size() && out[i] != 0) continue;
    if (from > 0) name += '\0';
    name += utf16ToUtf8(std::vector<char16_t>(out.begin() + static_cast<std::ptrdiff_t>(from),
                                              out.begin() + static_cast<std::ptrdiff_t>(i)));
    from = i + 1;
  }
  return name;
}

bool findSignature(ByteSource& src, std::uint64_t& offset, Format& format, bool& futureFormat) {
  futureFormat = false;
  const std::uint64_t limit = std::min<std::uint64_t>(src.size(), kMaxSfxScan + 8);
  std::vector<std::uint8_t> buf(64 * 1024 + 8);
  for (std::uint64_t base = 0; base < limit; base += 64 * 1024) {
    std::size_t got = src.readAt(base, buf.data(), buf.size());
    if (got < 7) break;
    for (std::size_t i = 0; i + 7 <= got && i < 64 * 1024; ++i) {
      if (buf[i] != kSignatureRar4[0] || std::memcmp(buf.data() + i, kSignatureRar4, 6) != 0)
        continue;
      std::uint8_t v = buf[i + 6];
      if (v == 0) {
        offset = base + i;
        format = Format::Rar4;
        return true;
      }
      if (v == kSignatureRar5[6] && i + 8 <= got && buf[i + 7] == kSignatureRar5[7]) {
        offset = base + i;
        format = Format::Rar5;
        return true;
      }
      if (v >= 2 && v <= 4 && base + i == 0) {
        futureFormat = true;
        return false;
      }
    }
  }
  return false;
}

// ---------------------------------------------------------------- RAR 1.5-4

int readMainRar4(ByteSource& src, std::uint64_t& pos, MainInfo& info) {
  std::uint8_t h[13];
  if (src.readAt(pos, h, 7) != 7) return ERAR_BAD_DATA;
  // An old-style marker block may repeat the signature.
  if (h[2] == rar4::kMarkHead && get16(h + 5) == 7) {
    pos += 7;
    if (src.readAt(pos, h, 7) != 7) return ERAR_BAD_DATA;
  }
  if (h[2] != rar4::kMainHead) {
    // An entry whose data size cannot be real is not an archive at all;
    // anything else is a damaged one that opens and lists nothing.
    if ((h[2] == rar4::kFileHead || h[2] == rar4::kServiceHead) &&
        get16(h + 3) & rar4::kFileLarge && src.readAt(pos + 32, h, 4) == 4 &&
        get32(h) >= 0x40000000u)
      return ERAR_BAD_ARCHIVE;
    return ERAR_BAD_DATA;
  }
  std::uint16_t flags = get16(h + 3);
  std::uint16_t size = get16(h + 5);
  if (size < 13) return ERAR_BAD_DATA;
  std::vector<std::uint8_t> buf;
  if (!readExact(src, pos, buf, size)) return ERAR_BAD_DATA;
  // With an embedded comment the CRC covers only the fixed part.
  std::uint32_t crc = crcOf(buf.data() + 2, (flags & rar4::kMainComment) ? 11 : size - 2u);
  if ((crc & 0xFFFF) != get16(buf.data())) {
    if (!(flags & rar4::kMainComment) ||
        (crcOf(buf.data() + 2, size - 2u) & 0xFFFF) != get16(buf.data()))
      return ERAR_BAD_DATA;
  }
  using namespace rar4;
  info.volume = flags & kMainVolume;
  info.solid = flags & kMainSolid;
  info.newNumbering = flags & kMainNewNumbering;
  info.encryptedHeaders = flags & kMainPassword;
  info.firstVolume = flags & kMainFirstVolume;
  info.flags = (flags & kMainVolume ? ROADF_VOLUME : 0) | (flags & kMainLock ? ROADF_LOCK : 0) |
               (flags & kMainSolid ? ROADF_SOLID : 0) |
               (flags & kMainNewNumbering ? ROADF_NEWNUMBERING : 0) |
               (flags & kMainAuthenticity ? ROADF_SIGNED : 0) |
               (flags & kMainRecovery ? ROADF_RECOVERY : 0) |
               (flags & kMainPassword ? ROADF_ENCHEADERS : 0) |
               (flags & kMainFirstVolume ? ROADF_FIRSTVOLUME : 0);
  std::size_t off = 13 + ((flags & kMainEncryptVer) ? 1 : 0);
  if ((flags & kMainComment) && size >= off + 13 && buf[off + 2] == kCommentHead) {
    std::uint16_t csize = get16(buf.data() + off + 5);
    if (csize >= 13 && off + csize <= size) {
      CommentBlock& c = info.oldComment;
      c.present = true;
      c.oldStyle = true;
      c.unpSize = get16(buf.data() + off + 7);
      c.unpVer = buf[off + 9];
      c.method = buf[off + 10] >= kMethodStore ? buf[off + 10] - kMethodStore : 0u;
      c.hasCrc = true;
      c.crc = get16(buf.data() + off + 11);
      c.dataOffset = pos + off + 13;
      c.packSize = csize - 13u;
    }
  }
  pos += size;
  return ERAR_SUCCESS;
}

Block readBlockRar4(ByteSource& src, std::uint64_t pos) {
  Block b;
  // An archive may end between blocks without an end block, as older RAR
  // versions wrote them; a block that starts but does not fit is damage.
  const std::uint64_t fsize = src.size();
  if (pos == fsize) b.kind = BlockKind::EndOfData;
  if (pos >= fsize) return b;
  std::uint8_t h[11];
  if (src.readAt(pos, h, 7) < 7) return b;
  using namespace rar4;
  std::uint8_t type = h[2];
  std::uint16_t flags = get16(h + 3);
  std::uint16_t size = get16(h + 5);
  if (size < 7) return b;
  std::vector<std::uint8_t> buf;
  if (!readExact(src, pos, buf, size)) return b;
  std::uint64_t add = 0;
  if ((type == kFileHead || type == kServiceHead || (flags & kLongBlock)) && type != kEndArcHead) {
    if (size < 11) return b;
    add = get32(buf.data() + 7);
  }
  b.next = pos + size + add;

  if (type == kFileHead || type == kServiceHead) {
    if (size < 32) return b;
    const std::uint8_t* p = buf.data();
    Entry& e = b.entry;
    std::uint16_t nameSize = get16(p + 26);
    std::size_t off = 32;
    std::uint64_t packHigh = 0, unpHigh = 0;
    if (flags & kFileLarge) {
      if (size < 40) return b;
      packHigh = get32(p + 32);
      unpHigh = get32(p + 36);
      off = 40;
    }
    if (off + nameSize > size) return b;
    std::uint32_t crc = crcOf(p + 2, size - 2u);
    bool crcOk = (crc & 0xFFFF) == get16(p);
    if (!crcOk && (flags & kFileComment))
      crcOk = (crcOf(p + 2, off + nameSize - 2) & 0xFFFF) == get16(p);
    if (!crcOk) return b;
    e.rar4Flags = flags;
    e.rawFlags = flags;
    e.packSize = get32(p + 7) | (packHigh << 32);
    e.unpSize = get32(p + 11) | (unpHigh << 32);
    e.unpSizeUnknown =
        (flags & kFileLarge) ? (get32(p + 11) == 0xFFFFFFFF && unpHigh == 0xFFFFFFFF) : false;
    e.hostOS = p[15];
    e.crc = get32(p + 16);
    e.hasCrc = true;
    e.dosTime = get32(p + 20);
    e.mtime = dosTimeToFileTime(e.dosTime);
    e.unpVer = p[24];
    e.method = p[25] >= kMethodStore && p[25] <= kMethodBest ? p[25] - kMethodStore : 6u;
    e.attr = get32(p + 28);
    e.splitBefore = flags & kFileSplitBefore;
    e.splitAfter = flags & kFileSplitAfter;
    e.encrypted = flags & kFilePassword;
    e.solid = flags & kFileSolid;
    e.directory = (flags & kFileWindowMask) == kFileDirectory ||
                  (e.unpVer < 20 && (e.attr & kWinDirectory) && !e.isUnixHost());
    e.dictBytes =
        e.directory ? 0 : (64u * 1024u) << ((flags & kFileWindowMask) >> kFileWindowShift);
    b.next = pos + size + e.packSize;
    std::string name = decodeRar4Name(p + off, nameSize, flags & kFileUnicode);
    if (type == kServiceHead) {
      b.kind = BlockKind::Service;
      b.serviceName = std::string(reinterpret_cast<const char*>(p + off), nameSize);
      b.serviceChild = flags & kFileSolid;
      if (b.serviceName == "CMT" && !b.serviceChild) {
        CommentBlock& c = b.comment;
        c.present = true;
        c.dataOffset = pos + size;
        c.packSize = e.packSize;
        c.unpSize = e.unpSize;
        c.method = e.method;
        c.unpVer = e.unpVer;
        c.hasCrc = true;
        c.crc = e.crc;
        c.encrypted = e.encrypted;
        c.utf16 = e.attr & kSubFlagUtf16;
        c.rar4Flags = flags;
        // A service header's salt ends it.
        if ((flags & kFileSalt) && !(flags & kFileExtTime) && size >= off + nameSize + 8u) {
          c.crypt.hasSalt = true;
          std::memcpy(c.crypt.salt.data(), p + size - 8, 8);
        }
      }
      return b;
    }
    e.name = backslashesToSlashes(name);
    refuseZeros(e);
    off += nameSize;
    if (flags & kFileSalt) {
      if (off + 8 <= size) {
        e.crypt.hasSalt = true;
        std::memcpy(e.crypt.salt.data(), p + off, 8);
      }
      off += 8;
    }
    if ((flags & kFileExtTime) && off + 2 <= size) {
      std::uint16_t tf = get16(p + off);
      off += 2;
      std::uint64_t* times[4] = {&e.mtime, &e.ctime, &e.atime, nullptr};
      for (int k = 0; k < 4; ++k) {
        unsigned nib = (tf >> (12 - 4 * k)) & 0xF;
        if (!(nib & 8)) continue;
        std::uint64_t ft = 0;
        if (k == 0) {
          ft = e.mtime;
        } else {
          if (off + 4 > size) break;
          ft = dosTimeToFileTime(get32(p + off));
          off += 4;
        }
        unsigned n = nib & 3;
        if (off + n > size) break;
        std::uint32_t frac = 0;
        for (unsigned j = 0; j < n; ++j)
          frac |= static_cast<std::uint32_t>(p[off + j]) << ((j + 3 - n) * 8);
        off += n;
        if (ft) ft += frac + ((nib & 4) ? 10000000u : 0u);
        if (times[k]) *times[k] = ft;
      }
    }
    e.rar4Symlink = e.isUnixHost() && (e.attr & kUnixTypeMask) == kUnixSymlink;
    if (e.rar4Symlink) e.redir = RedirKind::UnixSymlink;
    e.dataOffset = pos + size;
    b.kind = BlockKind::File;
    return b;
  }
  if (type == kEndArcHead) {
    // The end block's CRC is checked by RAR but not relied on here: a bad
    // one only loses the "more volumes" hint, which EOF also gives.
    b.kind = BlockKind::End;
    b.moreVolumes = flags & kEndNextVolume;
    b.next = pos + size;
    return b;
  }
  if (type < kMarkHead || type > kEndArcHead) {
    // Not a block at all: RAR 1.5-2.x archives may simply stop, and damaged
    // ones continue with garbage.
    return b;
  }
  b.kind = BlockKind::Other;
  return b;
}

// ---------------------------------------------------------------- RAR 5

namespace {

// Reads one RAR 5 header: CRC, size and the header bytes after the size.
bool readRar5Header(ByteSource& src, std::uint64_t pos, std::vector<std::uint8_t>& hdr,
                    std::uint64_t& end) {
  std::uint8_t h[7];
  if (src.readAt(pos, h, 7) < 7) return false;
  VintReader r{h + 4, 3};
  std::uint64_t size = r.vint();
  if (!r.ok || size == 0 || size > kMaxHeader) return false;
  std::size_t sizeLen = r.i;
  if (!readExact(src, pos + 4 + sizeLen, hdr, static_cast<std::size_t>(size))) return false;
  std::vector<std::uint8_t> all(h + 4, h + 4 + sizeLen);
  std::uint32_t crc = crcOf(all.data(), all.size());
  crc = static_cast<std::uint32_t>(crc32(crc, hdr.data(), static_cast<uInt>(hdr.size())));
  if (crc != get32(h)) return false;
  end = pos + 4 + sizeLen + size;
  return true;
}

}  // namespace

int readMainRar5(ByteSource& src, std::uint64_t& pos, MainInfo& info) {
  std::vector<std::uint8_t> hdr;
  std::uint64_t end = 0;
  if (!readRar5Header(src, pos, hdr, end)) return ERAR_BAD_DATA;
  VintReader r{hdr.data(), hdr.size()};
  std::uint64_t type = r.vint();
  std::uint64_t hflags = r.vint();
  if (!r.ok) return ERAR_BAD_DATA;
  using namespace rar5;
  if (type == kCryptHead) {
    if (hflags & kHeadExtra) r.vint();
    if (hflags & kHeadData) r.vint();
    if (r.ok) parseRar5EncryptionHeader(r.p + r.i, r.n - r.i, info.headerCrypt);
    info.encryptedHeaders = true;
    info.flags |= ROADF_ENCHEADERS | ROADF_NEWNUMBERING;
    pos = end;
    return ERAR_SUCCESS;
  }
  if (type != kMainHead) return ERAR_BAD_DATA;
  if (hflags & kHeadExtra) r.vint();
  if (hflags & kHeadData) r.vint();
  std::uint64_t af = r.vint();
  if (!r.ok) return ERAR_BAD_DATA;
  if (af & kArcVolumeNumber) info.volumeNumber = r.vint();
  info.volume = af & kArcVolume;
  info.solid = af & kArcSolid;
  info.newNumbering = true;
  info.firstVolume = info.volume && !(af & kArcVolumeNumber);
  info.flags = (af & kArcVolume ? ROADF_VOLUME : 0) | (af & kArcSolid ? ROADF_SOLID : 0) |
               (af & kArcRecovery ? ROADF_RECOVERY : 0) | (af & kArcLock ? ROADF_LOCK : 0) |
               ROADF_NEWNUMBERING | (info.firstVolume ? ROADF_FIRSTVOLUME : 0);
  pos = end;
  return ERAR_SUCCESS;
}

Block readBlockRar5(ByteSource& src, std::uint64_t pos) {
  Block b;
  // The end of the file between blocks ends the archive; a block that starts
  // but does not fit, or data that runs past the end, is damage.
  if (pos == src.size()) b.kind = BlockKind::EndOfData;
  if (pos >= src.size()) return b;
  std::vector<std::uint8_t> hdr;
  std::uint64_t end = 0;
  if (!readRar5Header(src, pos, hdr, end)) return b;
  using namespace rar5;
  VintReader r{hdr.data(), hdr.size()};
  std::uint64_t type = r.vint();
  std::uint64_t hflags = r.vint();
  std::uint64_t extraSize = (hflags & kHeadExtra) ? r.vint() : 0;
  std::uint64_t dataSize = (hflags & kHeadData) ? r.vint() : 0;
  if (!r.ok || extraSize > hdr.size()) return b;
  b.next = end + dataSize;
  if (b.next < end) return b;  // overflow
  if (type == kEndArcHead) {
    std::uint64_t ef = r.vint();
    b.kind = BlockKind::End;
    b.moreVolumes = r.ok && (ef & kEndNextVolume);
    b.next = end;
    return b;
  }
  if (type != kFileHead && type != kServiceHead) {
    b.kind = BlockKind::Other;
    return b;
  }
  Entry& e = b.entry;
  e.packSize = dataSize;
  e.dataOffset = end;
  e.splitBefore = hflags & kHeadSplitBefore;
  e.splitAfter = hflags & kHeadSplitAfter;
  std::uint64_t ff = r.vint();
  e.unpSize = r.vint();
  e.unpSizeUnknown = ff & kFileUnknownSize;
  e.attr = static_cast<std::uint32_t>(r.vint());
  if (ff & kFileUnixTime) e.mtime = unixToFileTime(r.u32(), 0);
  if (ff & kFileCrc32) {
    e.hasCrc = true;
    e.crc = r.u32();
  }
  std::uint64_t ci = r.vint();
  std::uint64_t host = r.vint();
  std::uint64_t nameLen = r.vint();
  const std::uint8_t* name = r.bytes(nameLen);
  if (!r.ok) return b;
  std::size_t extraStart = hdr.size() - static_cast<std::size_t>(extraSize);
  if (r.i > extraStart) return b;
  e.directory = ff & kFileDirectory;
  e.rar5CompInfo = static_cast<std::uint32_t>(ci);
  std::uint32_t algo = ci & kCompVersionMask;
  e.unpVer = algo == 0 ? 50 : algo == 1 ? 70 : 9999;
  e.solid = ci & kCompSolid;
  e.method = (ci >> kCompMethodShift) & 7;
  unsigned dictN = (ci >> kCompDictionaryShift) & (algo == 0 ? 0x0F : 0x1F);
  std::uint64_t dict = dictN < 40 ? (128ull * 1024) << dictN : 0;
  if (algo == 1) dict += dict / 32 * ((ci >> 15) & 0x1F);
  e.dictBytes = e.directory ? 0 : dict;
  e.rar5UnixHost = host == kHostUnix;
  e.hostOS = e.rar5UnixHost ? rar4::kHostUnix : rar4::kHostWin32;
  // Stored as UTF-8; bytes that are not are kept apart as Latin-1, so that the
  // name written is the name its caller is shown in either form.
  std::string nm = utf8OrLatin1(name, static_cast<std::size_t>(nameLen));
  if (!e.rar5UnixHost)
    for (char& c : nm)
      if (c == '\\') c = '_';
  if (type == kServiceHead) {
    b.kind = BlockKind::Service;
    b.serviceName = nm;
    b.serviceChild = hflags & kHeadChild;
  } else {
    e.name = nm;
  }

  // Extra records.
  VintReader x{hdr.data() + extraStart, static_cast<std::size_t>(extraSize)};
  while (x.i < x.n) {
    std::uint64_t recSize = x.vint();
    if (!x.ok || recSize == 0 || recSize > x.n - x.i) break;
    VintReader rec{x.p + x.i, static_cast<std::size_t>(recSize)};
    x.i += static_cast<std::size_t>(recSize);
    std::uint64_t rtype = rec.vint();
    if (!rec.ok) break;
    switch (rtype) {
      case kExtraCrypt:
        e.encrypted = true;
        parseRar5EncryptionRecord(rec.p + rec.i, rec.n - rec.i, e.crypt);
        break;
      case kExtraHash: {
        std::uint64_t ht = rec.vint();
        const std::uint8_t* d = rec.bytes(32);
        if (rec.ok && ht == kHashBlake2sp && d) {
          e.hasBlake2 = true;
          std::memcpy(e.blake2.data(), d, 32);
        }
        break;
      }
      case kExtraTime: {
        std::uint64_t tf = rec.vint();
        bool unixFmt = tf & kTimeUnix;
        std::uint64_t* dst[3] = {&e.mtime, &e.ctime, &e.atime};
        std::uint64_t secs[3] = {0, 0, 0};
        bool have[3] = {(tf & kTimeMtime) != 0, (tf & kTimeCtime) != 0, (tf & kTimeAtime) != 0};
        for (int k = 0; k < 3; ++k)
          if (have[k]) secs[k] = unixFmt ? rec.u32() : rec.u64();
        for (int k = 0; k < 3; ++k) {
          if (!have[k] || !rec.ok) continue;
          if (unixFmt) {
            std::uint32_t ns = 0;
            if (tf & kTimeUnixNs) ns = rec.u32() & 0x3FFFFFFF;
            if (rec.ok) *dst[k] = unixToFileTime(static_cast<std::int64_t>(secs[k]), ns);
          } else {
            *dst[k] = secs[k];
          }
        }
        break;
      }
      case kExtraVersion: {
        // A file version stands for the RAR 4 ";n" name suffix.
        rec.vint();
        std::uint64_t version = rec.vint();
        if (rec.ok && type == kFileHead) e.name += ";" + std::to_string(version);
        break;
      }
      case kExtraRedirection: {
        std::uint64_t rt = rec.vint();
        std::uint64_t rf = rec.vint();
        std::uint64_t len = rec.vint();
        const std::uint8_t* t = rec.bytes(len);
        if (rec.ok && rt >= 1 && rt <= 5) {
          e.redir = static_cast<RedirKind>(rt);
          e.redirTarget.assign(reinterpret_cast<const char*>(t), len);
          e.redirDirTarget = rf & kRedirDirectory;
        }
        break;
      }
      default:
        break;
    }
  }
  refuseZeros(e);
  e.dosTime = e.mtime ? fileTimeToDosTime(e.mtime) : 0;

  // The older flag word: split bits, encryption, solid and the dictionary in
  // bits 5-7 as 64 KB << n, with 0xE0 for a directory.
  std::uint32_t f = (e.splitBefore ? RHDF_SPLITBEFORE : 0u) |
                    (e.splitAfter ? RHDF_SPLITAFTER : 0u) | (e.encrypted ? RHDF_ENCRYPTED : 0u) |
                    (e.solid ? RHDF_SOLID : 0u);
  if (e.directory) {
    f |= rar4::kFileDirectory;
  } else {
    unsigned n = 0;
    while (n < 6 && (65536ull << n) < e.dictBytes) ++n;
    f |= n << rar4::kFileWindowShift;
  }
  e.rawFlags = f;

  if (type == kServiceHead && b.serviceName == "CMT" && !b.serviceChild) {
    CommentBlock& c = b.comment;
    c.present = true;
    c.dataOffset = e.dataOffset;
    c.packSize = e.packSize;
    c.unpSize = e.unpSize;
    c.method = e.method;
    c.hasCrc = e.hasCrc;
    c.crc = e.crc;
    c.encrypted = e.encrypted;
    c.rar5CompInfo = e.rar5CompInfo;
    c.crypt = e.crypt;
  }
  if (type == kFileHead) b.kind = BlockKind::File;
  return b;
}

}  // namespace unrar
