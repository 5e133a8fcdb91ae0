// What libunrar knows about an archive and its entries, independent of the
// on-disk format they were read from.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/format_values.h"

namespace unrar {

enum class Format { Rar4, Rar5 };

// How an entry's (or a comment's, or RAR 5 headers') data is encrypted, as the
// header states it. Nothing here is secret: salts and IVs are stored in plain.
struct EncryptionInfo {
  bool hasSalt = false;                 // RAR 4: the 8-byte salt (flag 0x0400)
  std::array<std::uint8_t, 16> salt{};  // RAR 4 uses the first 8 bytes
  bool rar5Record = false;              // RAR 5: a complete encryption record was read
  std::uint64_t version = 0;            // RAR 5: 0 = AES-256
  std::uint8_t kdfCount = 0;            // RAR 5: log2 of the PBKDF2 iterations
  std::array<std::uint8_t, 16> iv{};    // RAR 5 file data
  bool hasCheck = false;                // RAR 5: password check value present
  std::array<std::uint8_t, 12> check{};
  bool macChecksums = false;  // RAR 5: stored CRC32/BLAKE2sp are MACs under the password
};

enum class RedirKind : std::uint8_t {
  None = 0,
  UnixSymlink = 1,
  WindowsSymlink = 2,
  Junction = 3,
  HardLink = 4,
  FileCopy = 5
};

struct Entry {
  std::string name;  // UTF-8, "/" between parts, exactly as stored otherwise
  // The stored name held a zero, shown in `name` as U+FFFD: the system would
  // read such a name only up to the zero, so the entry is refused.
  bool zeroInName = false;
  std::uint32_t rawFlags = 0;  // RAR 4: the file header's flag word; RAR 5: built
  bool splitBefore = false;
  bool splitAfter = false;
  bool encrypted = false;
  bool solid = false;
  bool directory = false;
  std::uint64_t packSize = 0;  // this part only
  std::uint64_t unpSize = 0;
  bool unpSizeUnknown = false;
  std::uint8_t hostOS = 0;  // RAR 1.5-4 byte values 0-5 (RAR 5: kHostWin32 or kHostUnix)
  bool rar5UnixHost = false;
  bool hasCrc = false;
  std::uint32_t crc = 0;
  bool hasBlake2 = false;
  std::array<std::uint8_t, 32> blake2{};
  std::uint32_t dosTime = 0;  // local time, packed
  std::uint64_t mtime = 0;    // FILETIME (100 ns since 1601, UTC); 0 = not stored
  std::uint64_t ctime = 0;
  std::uint64_t atime = 0;
  std::uint32_t unpVer = 0;
  std::uint32_t method = 0;  // 0 store ... 5 best
  std::uint64_t dictBytes = 0;
  std::uint32_t attr = 0;
  RedirKind redir = RedirKind::None;
  std::string redirTarget;  // UTF-8 as stored
  bool redirDirTarget = false;
  // Raw format details a codec needs to rebuild a one-entry archive.
  std::uint32_t rar5CompInfo = 0;
  std::uint32_t rar4Flags = 0;
  // Where the packed data of this part is.
  std::uint64_t dataOffset = 0;
  // RAR 4 symbolic link: the target is the data.
  bool rar4Symlink = false;
  EncryptionInfo crypt;  // when `encrypted`

  bool isUnixHost() const { return hostOS == rar4::kHostUnix || hostOS == rar4::kHostBeOs; }
};

// A service header or old-style block that carries an archive comment.
struct CommentBlock {
  bool present = false;
  bool oldStyle = false;  // RAR 1.5-2.x comment embedded in the main header
  bool utf16 = false;
  // Where the comment's data is and how it is packed, checked and encrypted,
  // as an entry of its own (RAR 1.5-2.x: only the low 16 bits of the CRC).
  Entry data;
};

}  // namespace unrar
