// The RAR 5 records that describe encryption: a file or service header's
// encryption record (extra record type 1) and the archive encryption header
// (block type 4). Header-only so that every reader of headers gets them
// without another source file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/fields.h"
#include "core/format_values.h"
#include "core/rar_entry.h"

namespace unrar {
namespace detail {

// Version, flags, KDF count and salt, shared by both records; the IV follows
// in a file record only, then the optional check value.
inline bool readEncryptionFields(const std::uint8_t* p, std::size_t n, bool withIv,
                                 EncryptionInfo& out) {
  if (!p) return false;
  FieldReader r{p, n};
  EncryptionInfo info;
  info.version = r.vint();
  const std::uint64_t flags = r.vint();
  info.kdfCount = r.byte();
  const std::uint8_t* salt = r.bytes(16);
  const std::uint8_t* iv = withIv ? r.bytes(16) : nullptr;
  if (!r.ok) return false;
  std::memcpy(info.salt.data(), salt, 16);
  info.hasSalt = true;
  if (iv) std::memcpy(info.iv.data(), iv, 16);
  if (flags & rar5::kCryptPasswordCheck) {
    const std::uint8_t* check = r.bytes(12);
    if (!check) return false;
    std::memcpy(info.check.data(), check, 12);
    info.hasCheck = true;
  }
  info.macChecksums = flags & rar5::kCryptUseMac;
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
