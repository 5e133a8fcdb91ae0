// A small reader of encrypted RAR headers for the tests: it decrypts each
// header with the keys under test and checks its CRC, so a wrong key, IV or
// chain shows up as a CRC failure on real archives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "crypto/rar_crypto.h"

namespace walk {

std::string readFile(const std::string& path);
std::uint32_t crc32(const void* data, std::size_t size);

struct Header {
  std::uint8_t type = 0;
  std::string name;  // file and service headers
  std::uint64_t dataOffset = 0;
  std::uint64_t dataSize = 0;
  std::uint64_t unpackedSize = 0;
  std::uint32_t crc = 0;  // the stored data CRC field (RAR 5: when present)
  bool hasCrc = false;
  std::uint32_t flags = 0;         // RAR 4 HEAD_FLAGS / RAR 5 header flags
  std::uint8_t unpackVersion = 0;  // RAR 4
  std::string salt;                // RAR 4 file salt (8 bytes) / RAR 5 encryption record salt
  // RAR 5 file encryption record
  bool encrypted = false;
  std::uint32_t encFlags = 0;
  std::uint8_t kdfCount = 0;
  std::string iv;
  std::string check;  // 12 bytes when present
};

struct Walk {
  bool ok = false;  // every header decrypted and matched its CRC
  std::string error;
  std::vector<Header> headers;
  std::string headerSalt;  // RAR 5 archive encryption header
  std::uint8_t headerKdfCount = 0;
  std::string headerCheck;
};

// RAR 4: plain headers, or encrypted ones (main flag 0x80) with keys from `cache`.
Walk rar4(const std::string& archive, unrar::crypto::KeyCache& cache);
// RAR 5: plain headers, or encrypted ones through `cache` (with the archive
// encryption header's salt and count).
Walk rar5(const std::string& archive, unrar::crypto::KeyCache& cache);

}  // namespace walk
