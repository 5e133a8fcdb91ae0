#include "format/rar_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/fields.h"
#include "core/format_values.h"
#include "core/utf8.h"
#include "format/encryption_records.h"
#include "unrar.h"

namespace unrar {
namespace {

// Largest header either format allows; anything bigger is damage.
constexpr std::size_t kMaxHeader = 2u << 20;

std::uint32_t crcOf(const std::uint8_t* p, std::size_t n) {
  return static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(n)));
}

// Returns the block, Broken for `why` unless it was found to be the end of
// the data.
Block& withFailure(Block& b, Failure why) {
  if (b.kind == BlockKind::Broken) b.failure = why;
  return b;
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

// A comment service header's data as an entry of its own: where it is, its
// sizes, how it is packed, its checksum and its encryption. Nothing else of
// the header is the comment's (a service header's solid bit means "child").
CommentBlock commentOf(const Entry& e, std::uint64_t dataOffset) {
  CommentBlock c;
  c.present = true;
  Entry& d = c.data;
  d.dataOffset = dataOffset;
  d.packSize = e.packSize;
  d.unpSize = e.unpSize;
  d.method = e.method;
  d.unpVer = e.unpVer;
  d.hasCrc = e.hasCrc;
  d.crc = e.crc;
  d.encrypted = e.encrypted;
  d.rar4Flags = e.rar4Flags;
  d.rar5CompInfo = e.rar5CompInfo;
  d.crypt = e.crypt;
  return c;
}

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

namespace {

// The seven bytes every RAR 1.5-4 block starts with.
struct Rar4BlockHeader {
  std::uint16_t crc = 0;
  std::uint8_t type = 0;
  std::uint16_t flags = 0;
  std::uint16_t size = 0;
};

Rar4BlockHeader readRar4BlockHeader(const std::uint8_t* h, std::size_t available) {
  FieldReader r{h, std::min<std::size_t>(available, rar4::kBlockHeaderSize)};
  Rar4BlockHeader bh;
  bh.crc = r.u16();
  bh.type = r.byte();
  bh.flags = r.u16();
  bh.size = r.u16();
  return bh;
}

// An old-style comment embedded in the main header at `off`: a block header,
// then UNP_SIZE (2 bytes), UNP_VER, METHOD and the CRC16 of the text.
void readRar4OldComment(const std::vector<std::uint8_t>& buf, std::size_t off, std::uint64_t pos,
                        CommentBlock& c) {
  using namespace rar4;
  const Rar4BlockHeader bh = readRar4BlockHeader(buf.data() + off, buf.size() - off);
  if (bh.size < kOldCommentHeaderSize || off + bh.size > buf.size()) return;
  FieldReader r{buf.data(), buf.size(), off + kBlockHeaderSize};
  c.present = true;
  c.oldStyle = true;
  Entry& d = c.data;
  d.unpSize = r.u16();
  d.unpVer = r.byte();
  const std::uint8_t method = r.byte();
  d.method = method >= kMethodStore ? method - kMethodStore : 0u;
  d.hasCrc = true;
  d.crc = r.u16();
  d.dataOffset = pos + off + kOldCommentHeaderSize;
  d.packSize = bh.size - kOldCommentHeaderSize;
}

}  // namespace

int readMainRar4(ByteSource& src, std::uint64_t& pos, MainInfo& info) {
  std::uint8_t h[13];
  if (src.readAt(pos, h, 7) != 7) return ERAR_BAD_DATA;
  // An old-style marker block may repeat the signature.
  if (h[2] == rar4::kMarkHead && load16le(h + 5) == 7) {
    pos += 7;
    if (src.readAt(pos, h, 7) != 7) return ERAR_BAD_DATA;
  }
  if (h[2] != rar4::kMainHead) {
    // An entry whose data size cannot be real is not an archive at all;
    // anything else is a damaged one that opens and lists nothing.
    if ((h[2] == rar4::kFileHead || h[2] == rar4::kServiceHead) &&
        load16le(h + 3) & rar4::kFileLarge && src.readAt(pos + 32, h, 4) == 4 &&
        load32le(h) >= 0x40000000u)
      return ERAR_BAD_ARCHIVE;
    return ERAR_BAD_DATA;
  }
  std::uint16_t flags = load16le(h + 3);
  std::uint16_t size = load16le(h + 5);
  if (size < 13) return ERAR_BAD_DATA;
  std::vector<std::uint8_t> buf;
  if (!readExact(src, pos, buf, size)) return ERAR_BAD_DATA;
  // With an embedded comment the CRC covers only the fixed part.
  std::uint32_t crc = crcOf(buf.data() + 2, (flags & rar4::kMainComment) ? 11 : size - 2u);
  if ((crc & 0xFFFF) != load16le(buf.data())) {
    if (!(flags & rar4::kMainComment) ||
        (crcOf(buf.data() + 2, size - 2u) & 0xFFFF) != load16le(buf.data()))
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
  if ((flags & kMainComment) && size >= off + kOldCommentHeaderSize && buf[off + 2] == kCommentHead)
    readRar4OldComment(buf, off, pos, info.oldComment);
  pos += size;
  return ERAR_SUCCESS;
}

namespace {

// The fixed fields of a file or service header after its block header.
struct Rar4FileHeader {
  std::uint32_t packSize = 0;  // low 32 bits
  std::uint32_t unpSize = 0;   // low 32 bits
  std::uint8_t hostOS = 0;
  std::uint32_t fileCrc = 0;
  std::uint32_t fileTime = 0;
  std::uint8_t unpVer = 0;
  std::uint8_t method = 0;
  std::uint16_t nameSize = 0;
  std::uint32_t attr = 0;
  std::uint32_t highPackSize = 0;  // with kFileLarge
  std::uint32_t highUnpSize = 0;
  std::size_t nameOffset = 0;  // the name follows the fixed fields
};

// False when the header is too short for its fields and name.
bool readRar4FileHeader(const std::uint8_t* p, std::size_t size, std::uint16_t flags,
                        Rar4FileHeader& f) {
  FieldReader r{p, size, rar4::kBlockHeaderSize};
  f.packSize = r.u32();
  f.unpSize = r.u32();
  f.hostOS = r.byte();
  f.fileCrc = r.u32();
  f.fileTime = r.u32();
  f.unpVer = r.byte();
  f.method = r.byte();
  f.nameSize = r.u16();
  f.attr = r.u32();
  if (flags & rar4::kFileLarge) {
    f.highPackSize = r.u32();
    f.highUnpSize = r.u32();
  }
  f.nameOffset = r.i;
  return r.bytes(f.nameSize) && r.ok;
}

// The header CRC covers the whole header, or with an old-style file comment
// only the part up to the end of the name.
bool rar4FileCrcHolds(const std::uint8_t* p, std::size_t size, std::uint16_t flags,
                      std::size_t nameEnd) {
  const std::uint16_t stored = load16le(p);
  if ((crcOf(p + 2, size - 2u) & 0xFFFF) == stored) return true;
  return (flags & rar4::kFileComment) && (crcOf(p + 2, nameEnd - 2) & 0xFFFF) == stored;
}

void fillRar4Entry(const Rar4FileHeader& f, std::uint16_t flags, Entry& e) {
  using namespace rar4;
  e.rar4Flags = flags;
  e.rawFlags = flags;
  e.packSize = f.packSize | (static_cast<std::uint64_t>(f.highPackSize) << 32);
  e.unpSize = f.unpSize | (static_cast<std::uint64_t>(f.highUnpSize) << 32);
  e.unpSizeUnknown =
      (flags & kFileLarge) ? (f.unpSize == 0xFFFFFFFF && f.highUnpSize == 0xFFFFFFFF) : false;
  e.hostOS = f.hostOS;
  e.crc = f.fileCrc;
  e.hasCrc = true;
  e.dosTime = f.fileTime;
  e.mtime = dosTimeToFileTime(e.dosTime);
  e.unpVer = f.unpVer;
  e.method = f.method >= kMethodStore && f.method <= kMethodBest ? f.method - kMethodStore : 6u;
  e.attr = f.attr;
  e.splitBefore = flags & kFileSplitBefore;
  e.splitAfter = flags & kFileSplitAfter;
  e.encrypted = flags & kFilePassword;
  e.solid = flags & kFileSolid;
  e.directory = (flags & kFileWindowMask) == kFileDirectory ||
                (e.unpVer < kUnpVerRar20 && (e.attr & kWinDirectory) && !e.isUnixHost());
  e.dictBytes = e.directory ? 0 : (64u * 1024u) << ((flags & kFileWindowMask) >> kFileWindowShift);
}

// The extended times after the name (and salt): a 16-bit word with a nibble
// per time (modification, creation, access, archiving), each followed by its
// DOS time (but the modification time's) and up to three bytes of fraction.
void readRar4ExtTime(FieldReader& r, Entry& e) {
  const std::uint16_t tf = r.u16();
  std::uint64_t* times[4] = {&e.mtime, &e.ctime, &e.atime, nullptr};
  for (int k = 0; k < 4; ++k) {
    unsigned nib = (tf >> (12 - 4 * k)) & 0xF;
    if (!(nib & 8)) continue;
    std::uint64_t ft = e.mtime;
    if (k != 0) {
      if (r.left() < 4) break;
      ft = dosTimeToFileTime(r.u32());
    }
    unsigned n = nib & 3;
    const std::uint8_t* fb = r.bytes(n);
    if (!fb) break;
    std::uint32_t frac = 0;
    for (unsigned j = 0; j < n; ++j) frac |= static_cast<std::uint32_t>(fb[j]) << ((j + 3 - n) * 8);
    if (ft) ft += frac + ((nib & 4) ? 10000000u : 0u);
    if (times[k]) *times[k] = ft;
  }
}

// A file header's name, salt and extended times.
void readRar4FileTail(const std::uint8_t* p, std::size_t size, std::uint16_t flags,
                      const Rar4FileHeader& f, Entry& e) {
  using namespace rar4;
  e.name = backslashesToSlashes(decodeRar4Name(p + f.nameOffset, f.nameSize, flags & kFileUnicode));
  refuseZeros(e);
  std::size_t off = f.nameOffset + f.nameSize;
  if (flags & kFileSalt) {
    if (off + 8 <= size) {
      e.crypt.hasSalt = true;
      std::memcpy(e.crypt.salt.data(), p + off, 8);
    }
    off += 8;
  }
  if ((flags & kFileExtTime) && off + 2 <= size) {
    FieldReader r{p, size, off};
    readRar4ExtTime(r, e);
  }
  e.rar4Symlink = e.isUnixHost() && (e.attr & kUnixTypeMask) == kUnixSymlink;
  if (e.rar4Symlink) e.redir = RedirKind::UnixSymlink;
}

// A service header: its name, and the archive comment when it is one.
void readRar4Service(const std::uint8_t* p, std::size_t size, std::uint16_t flags,
                     const Rar4FileHeader& f, std::uint64_t dataOffset, Block& b) {
  using namespace rar4;
  b.kind = BlockKind::Service;
  b.serviceName = std::string(reinterpret_cast<const char*>(p + f.nameOffset), f.nameSize);
  b.serviceChild = flags & kFileSolid;
  if (b.serviceName != kCommentServiceName || b.serviceChild) return;
  b.comment = commentOf(b.entry, dataOffset);
  b.comment.utf16 = b.entry.attr & kSubFlagUtf16;
  // A service header's salt ends it.
  const std::size_t nameEnd = f.nameOffset + f.nameSize;
  if ((flags & kFileSalt) && !(flags & kFileExtTime) && size >= nameEnd + 8u) {
    b.comment.data.crypt.hasSalt = true;
    std::memcpy(b.comment.data.crypt.salt.data(), p + size - 8, 8);
  }
}

void readRar4File(const std::vector<std::uint8_t>& buf, const Rar4BlockHeader& bh,
                  std::uint64_t pos, Block& b) {
  const std::uint8_t* p = buf.data();
  Rar4FileHeader f;
  if (!readRar4FileHeader(p, bh.size, bh.flags, f)) {
    b.failure = Failure::CorruptHeader;
    return;
  }
  if (!rar4FileCrcHolds(p, bh.size, bh.flags, f.nameOffset + f.nameSize)) {
    b.failure = Failure::BadHeaderCrc;
    return;
  }
  Entry& e = b.entry;
  fillRar4Entry(f, bh.flags, e);
  b.next = pos + bh.size + e.packSize;
  if (bh.type == rar4::kServiceHead)
    return readRar4Service(p, bh.size, bh.flags, f, pos + bh.size, b);
  readRar4FileTail(p, bh.size, bh.flags, f, e);
  e.dataOffset = pos + bh.size;
  b.kind = BlockKind::File;
}

}  // namespace

Block readBlockRar4(ByteSource& src, std::uint64_t pos) {
  Block b;
  // An archive may end between blocks without an end block, as older RAR
  // versions wrote them; a block that starts but does not fit is damage.
  const std::uint64_t fsize = src.size();
  if (pos == fsize) b.kind = BlockKind::EndOfData;
  if (pos >= fsize) return withFailure(b, Failure::HeaderPastEnd);
  using namespace rar4;
  std::uint8_t h[kBlockHeaderSize];
  if (src.readAt(pos, h, kBlockHeaderSize) < kBlockHeaderSize)
    return withFailure(b, Failure::HeaderPastEnd);
  const Rar4BlockHeader bh = readRar4BlockHeader(h, sizeof h);
  if (bh.size < kBlockHeaderSize) return withFailure(b, Failure::CorruptHeader);
  std::vector<std::uint8_t> buf;
  if (!readExact(src, pos, buf, bh.size)) return withFailure(b, Failure::HeaderPastEnd);
  const bool file = bh.type == kFileHead || bh.type == kServiceHead;
  std::uint64_t add = 0;
  if ((file || (bh.flags & kLongBlock)) && bh.type != kEndArcHead) {
    if (bh.size < kBlockHeaderSize + 4) return withFailure(b, Failure::CorruptHeader);
    add = load32le(buf.data() + kBlockHeaderSize);  // ADD_SIZE
  }
  b.next = pos + bh.size + add;
  if (file) {
    readRar4File(buf, bh, pos, b);
    return b;
  }
  if (bh.type == kEndArcHead) {
    // The end block's CRC is checked by RAR but not relied on here: a bad
    // one only loses the "more volumes" hint, which EOF also gives.
    b.kind = BlockKind::End;
    b.moreVolumes = bh.flags & kEndNextVolume;
    b.next = pos + bh.size;
    return b;
  }
  // Not a block at all: RAR 1.5-2.x archives may simply stop, and damaged
  // ones continue with garbage.
  if (bh.type < kMarkHead || bh.type > kEndArcHead) return withFailure(b, Failure::NotABlock);
  b.kind = BlockKind::Other;
  return b;
}

// ---------------------------------------------------------------- RAR 5

namespace {

// Reads one RAR 5 header: CRC, size and the header bytes after the size.
Failure readRar5Header(ByteSource& src, std::uint64_t pos, std::vector<std::uint8_t>& hdr,
                       std::uint64_t& end) {
  std::uint8_t h[7];
  if (src.readAt(pos, h, 7) < 7) return Failure::HeaderPastEnd;
  FieldReader r{h + 4, 3};
  std::uint64_t size = r.vint();
  if (!r.ok || size == 0 || size > kMaxHeader) return Failure::HeaderTooLarge;
  std::size_t sizeLen = r.i;
  if (!readExact(src, pos + 4 + sizeLen, hdr, static_cast<std::size_t>(size)))
    return Failure::HeaderPastEnd;
  std::vector<std::uint8_t> all(h + 4, h + 4 + sizeLen);
  std::uint32_t crc = crcOf(all.data(), all.size());
  crc = static_cast<std::uint32_t>(crc32(crc, hdr.data(), static_cast<uInt>(hdr.size())));
  if (crc != load32le(h)) return Failure::BadHeaderCrc;
  end = pos + 4 + sizeLen + size;
  return Failure::None;
}

}  // namespace

int readMainRar5(ByteSource& src, std::uint64_t& pos, MainInfo& info) {
  std::vector<std::uint8_t> hdr;
  std::uint64_t end = 0;
  if (readRar5Header(src, pos, hdr, end) != Failure::None) return ERAR_BAD_DATA;
  FieldReader r{hdr.data(), hdr.size()};
  std::uint64_t type = r.vint();
  std::uint64_t hflags = r.vint();
  if (!r.ok) return ERAR_BAD_DATA;
  using namespace rar5;
  if (type == kCryptHead) {
    if (hflags & kHeadExtra) r.vint();
    if (hflags & kHeadData) r.vint();
    if (r.ok) parseRar5EncryptionHeader(r.here(), r.left(), info.headerCrypt);
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

namespace {

// The fields every RAR 5 header starts with after its size.
struct Rar5BlockHeader {
  std::uint64_t type = 0;
  std::uint64_t flags = 0;
  std::uint64_t extraSize = 0;
  std::uint64_t dataSize = 0;
};

void readRar5HashRecord(FieldReader& rec, Entry& e) {
  std::uint64_t ht = rec.vint();
  const std::uint8_t* d = rec.bytes(32);
  if (rec.ok && ht == rar5::kHashBlake2sp && d) {
    e.hasBlake2 = true;
    std::memcpy(e.blake2.data(), d, 32);
  }
}

void readRar5TimeRecord(FieldReader& rec, Entry& e) {
  using namespace rar5;
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
}

// A file version stands for the RAR 4 ";n" name suffix.
void readRar5VersionRecord(FieldReader& rec, std::uint64_t headerType, Entry& e) {
  rec.vint();  // flags
  std::uint64_t version = rec.vint();
  if (rec.ok && headerType == rar5::kFileHead) e.name += ";" + std::to_string(version);
}

void readRar5RedirRecord(FieldReader& rec, Entry& e) {
  std::uint64_t rt = rec.vint();
  std::uint64_t rf = rec.vint();
  std::uint64_t len = rec.vint();
  const std::uint8_t* t = rec.bytes(len);
  if (rec.ok && rt >= 1 && rt <= 5) {
    e.redir = static_cast<RedirKind>(rt);
    e.redirTarget.assign(reinterpret_cast<const char*>(t), len);
    e.redirDirTarget = rf & rar5::kRedirDirectory;
  }
}

// The extra area of a file or service header: records of size, type, data.
void readRar5Extras(FieldReader x, std::uint64_t headerType, Entry& e) {
  using namespace rar5;
  while (x.i < x.n) {
    std::uint64_t recSize = x.vint();
    if (!x.ok || recSize == 0 || recSize > x.n - x.i) break;
    FieldReader rec{x.p + x.i, static_cast<std::size_t>(recSize)};
    x.i += static_cast<std::size_t>(recSize);
    std::uint64_t rtype = rec.vint();
    if (!rec.ok) break;
    switch (rtype) {
      case kExtraCrypt:
        e.encrypted = true;
        parseRar5EncryptionRecord(rec.here(), rec.left(), e.crypt);
        break;
      case kExtraHash:
        readRar5HashRecord(rec, e);
        break;
      case kExtraTime:
        readRar5TimeRecord(rec, e);
        break;
      case kExtraVersion:
        readRar5VersionRecord(rec, headerType, e);
        break;
      case kExtraRedirection:
        readRar5RedirRecord(rec, e);
        break;
      default:
        break;
    }
  }
}

// The compression information: algorithm version, solid bit, method and
// dictionary size (RAR 7: five bits and a fraction in 32nds).
void readRar5CompInfo(std::uint64_t ci, Entry& e) {
  using namespace rar5;
  e.rar5CompInfo = static_cast<std::uint32_t>(ci);
  std::uint32_t algo = ci & kCompVersionMask;
  e.unpVer = algo == kAlgorithmV5   ? kUnpVerRar5
             : algo == kAlgorithmV7 ? kUnpVerRar7
                                    : kUnpVerUnknown;
  e.solid = ci & kCompSolid;
  e.method = (ci >> kCompMethodShift) & 7;
  unsigned dictN = (ci >> kCompDictionaryShift) & (algo == kAlgorithmV5 ? 0x0F : 0x1F);
  std::uint64_t dict = dictN < 40 ? (128ull * 1024) << dictN : 0;
  if (algo == kAlgorithmV7) dict += dict / 32 * ((ci >> kCompDictionaryFractionShift) & 0x1F);
  e.dictBytes = e.directory ? 0 : dict;
}

// The fields of a file or service header up to its extra area; false when
// they run into it. `nm` gets the name.
bool readRar5FileFields(FieldReader& r, std::size_t extraStart, Entry& e, std::string& nm) {
  using namespace rar5;
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
  if (!r.ok || r.i > extraStart) return false;
  e.directory = ff & kFileDirectory;
  readRar5CompInfo(ci, e);
  e.rar5UnixHost = host == kHostUnix;
  e.hostOS = e.rar5UnixHost ? rar4::kHostUnix : rar4::kHostWin32;
  // Stored as UTF-8; bytes that are not are kept apart as Latin-1, so that the
  // name written is the name its caller is shown in either form.
  nm = utf8OrLatin1(name, static_cast<std::size_t>(nameLen));
  if (!e.rar5UnixHost)
    for (char& c : nm)
      if (c == '\\') c = '_';
  return true;
}

// The older flag word: split bits, encryption, solid and the dictionary in
// bits 5-7 as 64 KB << n, with 0xE0 for a directory.
std::uint32_t rar4FlagWordOf(const Entry& e) {
  std::uint32_t f = (e.splitBefore ? RHDF_SPLITBEFORE : 0u) |
                    (e.splitAfter ? RHDF_SPLITAFTER : 0u) | (e.encrypted ? RHDF_ENCRYPTED : 0u) |
                    (e.solid ? RHDF_SOLID : 0u);
  if (e.directory) return f | rar4::kFileDirectory;
  unsigned n = 0;
  while (n < 6 && (65536ull << n) < e.dictBytes) ++n;
  return f | (n << rar4::kFileWindowShift);
}

void readRar5File(const std::vector<std::uint8_t>& hdr, FieldReader& r, const Rar5BlockHeader& bh,
                  std::uint64_t dataOffset, Block& b) {
  using namespace rar5;
  Entry& e = b.entry;
  e.packSize = bh.dataSize;
  e.dataOffset = dataOffset;
  e.splitBefore = bh.flags & kHeadSplitBefore;
  e.splitAfter = bh.flags & kHeadSplitAfter;
  const std::size_t extraStart = hdr.size() - static_cast<std::size_t>(bh.extraSize);
  std::string nm;
  if (!readRar5FileFields(r, extraStart, e, nm)) {
    b.failure = Failure::CorruptHeader;
    return;
  }
  if (bh.type == kServiceHead) {
    b.kind = BlockKind::Service;
    b.serviceName = nm;
    b.serviceChild = bh.flags & kHeadChild;
  } else {
    e.name = nm;
  }
  readRar5Extras(FieldReader{hdr.data() + extraStart, static_cast<std::size_t>(bh.extraSize)},
                 bh.type, e);
  refuseZeros(e);
  e.dosTime = e.mtime ? fileTimeToDosTime(e.mtime) : 0;
  e.rawFlags = rar4FlagWordOf(e);
  if (bh.type == kServiceHead && b.serviceName == kCommentServiceName && !b.serviceChild)
    b.comment = commentOf(e, e.dataOffset);
  if (bh.type == kFileHead) b.kind = BlockKind::File;
}

}  // namespace

Block readBlockRar5(ByteSource& src, std::uint64_t pos) {
  Block b;
  // The end of the file between blocks ends the archive; a block that starts
  // but does not fit, or data that runs past the end, is damage.
  if (pos == src.size()) b.kind = BlockKind::EndOfData;
  if (pos >= src.size()) return withFailure(b, Failure::HeaderPastEnd);
  std::vector<std::uint8_t> hdr;
  std::uint64_t end = 0;
  b.failure = readRar5Header(src, pos, hdr, end);
  if (b.failure != Failure::None) return b;
  using namespace rar5;
  FieldReader r{hdr.data(), hdr.size()};
  Rar5BlockHeader bh;
  bh.type = r.vint();
  bh.flags = r.vint();
  bh.extraSize = (bh.flags & kHeadExtra) ? r.vint() : 0;
  bh.dataSize = (bh.flags & kHeadData) ? r.vint() : 0;
  if (!r.ok || bh.extraSize > hdr.size()) return withFailure(b, Failure::CorruptHeader);
  b.next = end + bh.dataSize;
  if (b.next < end) return withFailure(b, Failure::CorruptHeader);  // overflow
  if (bh.type == kEndArcHead) {
    std::uint64_t ef = r.vint();
    b.kind = BlockKind::End;
    b.moreVolumes = r.ok && (ef & kEndNextVolume);
    b.next = end;
    return b;
  }
  if (bh.type == kFileHead || bh.type == kServiceHead)
    readRar5File(hdr, r, bh, end, b);
  else
    b.kind = BlockKind::Other;
  return b;
}

}  // namespace unrar
