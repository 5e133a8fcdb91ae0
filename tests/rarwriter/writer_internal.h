// Pieces shared by the two format emitters and the volume planner.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "rar_writer.h"

namespace rarwriter::detail {

using Bytes = std::string;

void putLe(Bytes& out, std::uint64_t value, int bytes);
void putVint(Bytes& out, std::uint64_t value);
std::size_t vintSize(std::uint64_t value);
std::uint32_t crc32Of(const void* data, std::size_t size, std::uint32_t crc = 0);

// Everything about one entry that does not change between the parts of a split entry.
struct PreparedEntry {
  const Entry* entry = nullptr;
  std::string name;  // UTF-8, "/" separated, no trailing separator
  bool directory = false;
  bool symlink = false;
  bool hardlink = false;
  std::uint64_t unpackedSize = 0;  // the file's true size
  std::uint64_t packedSize = 0;    // bytes stored in the archive (padded when encrypted)
  DataSource packed;               // reads the stored bytes
  std::uint32_t attributes = 0;
  bool solid = false;   // continues the previous entry's stream (solid flag)
  bool blake2 = false;  // RAR 5: the last part carries a BLAKE2sp hash instead of a CRC32

  // Encryption, real or flag only. RAR 4 uses salt[0..7]; RAR 5 the whole salt and iv.
  bool encrypted = false;
  std::array<std::uint8_t, 16> salt{};
  std::array<std::uint8_t, 16> iv{};
  std::uint8_t kdfCount = 15;
  bool hasCheckValue = false;
  std::array<std::uint8_t, 12> checkValue{};  // 8-byte value + 4-byte checksum
  bool macChecksums = false;                  // RAR 5: checksums pass through the hash key
  std::array<std::uint8_t, 32> hashKey{};
};

// One stored piece of an entry: all of it, or the part inside one volume.
struct Part {
  std::size_t entry = 0;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  bool splitBefore = false;
  bool splitAfter = false;
};

// The checksums a part's header carries, known only after its data went through.
struct PartChecksums {
  std::uint32_t crc = 0;  // already converted where the format asks for it
  std::array<std::uint8_t, 32> blake2{};
};

}  // namespace rarwriter::detail

namespace rarwriter::detail {

// Turns entries, parts and archive properties into the bytes of one format. Header
// sizes never depend on checksum values, so a header written with zero checksums
// before its data can be overwritten in place afterwards.
class Emitter {
 public:
  virtual ~Emitter() = default;
  virtual Bytes signature() const = 0;
  // The blocks of volume `index` that come before its first entry: archive
  // encryption header, main header, and in the first volume the comment.
  virtual Bytes volumeStart(std::size_t index, bool multiVolume) = 0;
  virtual Bytes fileHeader(const PreparedEntry& entry, const Part& part, const PartChecksums& sums,
                           bool badCrc) = 0;
  virtual Bytes endBlock(std::size_t index, bool last, bool multiVolume) = 0;
  // The CRC32 value the header stores for `crc` (RAR 5 turns it into a MAC for
  // entries encrypted with a password).
  virtual std::uint32_t storedCrc(const PreparedEntry& entry, std::uint32_t crc) const = 0;
};

std::unique_ptr<Emitter> makeRar4Emitter(const Options& options);
std::unique_ptr<Emitter> makeRar5Emitter(const Options& options);

// Windows attributes or Unix mode for an entry whose caller left them 0, and the
// directory bit forced on for directories.
std::uint32_t effectiveAttributes(const Entry& entry, bool unixStyle);
// UTF-8 to UTF-16 units; throws std::invalid_argument on malformed input.
std::u16string utf16(const std::string& utf8);

}  // namespace rarwriter::detail
