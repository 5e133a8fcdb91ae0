// The RAR 5 records that describe encryption: a file or service header's
// encryption record (extra record type 1) and the archive encryption header
// (block type 4). Header-only so that every reader of headers gets them
// without another source file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/rar_entry.h"

namespace unrar {
namespace detail {

inline bool readVint(const std::uint8_t* p, std::size_t n, std::size_t& i, std::uint64_t& v) {
  v = 0;
  for (int shift = 0; shift < 70 && i < n; shift += 7) {
    std::uint8_t b = p[i++];
    if (shift < 64) v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
    if (!(b & 0x80)) return true;
  }
  return false;
}

// Version, flags, KDF count and salt, shared by both records; the IV follows
// in a file record only, then the optional check value.
inline bool readEncryptionFields(const std::uint8_t* p, std::size_t n, bool withIv,
                                 EncryptionInfo& out) {
  std::size_t i = 0;
  std::uint64_t version = 0, flags = 0;
  if (!p || !readVint(p, n, i, version) || !readVint(p, n, i, flags)) return false;
  const std::size_t fixed = 1 + 16 + (withIv ? 16 : 0);
  if (n - i < fixed) return false;
  EncryptionInfo info;
  info.version = version;
  info.kdfCount = p[i++];
  std::memcpy(info.salt.data(), p + i, 16);
  i += 16;
  info.hasSalt = true;
  if (withIv) {
    std::memcpy(info.iv.data(), p + i, 16);
    i += 16;
  }
  if (flags & 0x01) {
    if (n - i < 12) return false;
    std::memcpy(info.check.data(), p + i, 12);
    info.hasCheck = true;
  }
  info.macChecksums = flags & 0x02;
  info.rar5Record = true;
  out = info;
  return true;
}

}  // namespace detail

// Fills `out` from the payload after the record type; false (and `out`
// untouched) when the record is cut short.
inline bool parseRar5EncryptionRecord(const std::uint8_t* p, std::size_t n, EncryptionInfo& out) {
  return detail::readEncryptionFields(p, n, true, out);
}

// Fills `out` from the archive encryption header's fields after its flags.
inline bool parseRar5EncryptionHeader(const std::uint8_t* p, std::size_t n, EncryptionInfo& out) {
  return detail::readEncryptionFields(p, n, false, out);
}

}  // namespace unrar
