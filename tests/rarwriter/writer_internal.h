// Pieces shared by the two format emitters and the volume planner.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "crypto/legacy_cipher.h"
#include "crypto/rar_crypto.h"
#include "rar5_encoder.h"
#include "rar_writer.h"

namespace rarwriter::detail {

// The test encoder's settings for what a RAR 5 header declares.
rar5enc::Settings encoderSettings(const Rar5Compression& c);

using Bytes = std::string;

void putLe(Bytes& out, std::uint64_t value, int bytes);
void putVint(Bytes& out, std::uint64_t value);
std::size_t vintSize(std::uint64_t value);
std::uint32_t crc32Of(const void* data, std::size_t size, std::uint32_t crc = 0);

// Keys for the passwords of one archive: one salt per password and format, as
// RAR itself reuses one salt, so each password is derived once.
class KeyRing {
 public:
  struct Rar4 {
    std::array<std::uint8_t, 8> salt{};
    unrar::crypto::Rar4Key key;
  };
  struct Rar5 {
    std::array<std::uint8_t, 16> salt{};
    std::uint8_t kdfCount = 15;
    unrar::crypto::Rar5Keys keys;
  };
  const Rar4& rar4(const std::string& password);
  const Rar5& rar5(const std::string& password);

 private:
  std::map<std::string, Rar4> rar4_;  // node-based: references stay valid
  std::map<std::string, Rar5> rar5_;
};

void randomFill(std::uint8_t* out, std::size_t n);

// Pads to whole cipher blocks and encrypts with a fresh chain, as both formats
// store encrypted headers.
Bytes encryptBlock(const Bytes& plain, const std::uint8_t* key, std::size_t keySize,
                   const std::uint8_t* iv);

// `data` as a RAR 2.9 compressed stream of literal codes; `withTables` sends the
// code tables first, as the first compressed file of a solid stream (or any file
// of a non-solid archive) must. `trailingByte` adds a zero byte after the end
// code: unar 1.10.1 reads up to 6 bits past that code's start and fails a
// stream that ends sooner. A solid stream's files go without it, as RAR writes
// them.
Bytes rar29LiteralStream(const Bytes& data, bool withTables, bool trailingByte);

// Reads an entry's stored bytes front to back: the plain bytes, zero padding to
// whole blocks when encrypted, and the cipher applied. It keeps the checksums of
// the plain bytes as they pass, so data is read only once.
class PackedStream {
 public:
  PackedStream(DataSource plain, std::uint64_t plainSize, bool pad, bool blake2);
  void encryptWith(const std::uint8_t* key, std::size_t keySize, const std::uint8_t* iv);
  void encryptLegacy(unrar::crypto::Rar4Cipher cipher, const std::string& password);
  std::uint64_t size() const { return packedSize_; }
  // Ranges must follow one another from offset 0.
  void read(std::uint64_t offset, char* out, std::size_t n);
  std::uint32_t plainCrc() const { return crc_; }
  std::array<std::uint8_t, 32> plainBlake2();

 private:
  DataSource plain_;
  std::uint64_t plainSize_;
  std::uint64_t packedSize_;
  std::uint64_t produced_ = 0;  // packed bytes made so far
  std::uint64_t delivered_ = 0;
  std::string ready_;  // made, not yet delivered
  unrar::crypto::AesCbc cipher_;
  bool encrypt_ = false;
  std::shared_ptr<unrar::LegacyCipher> legacy_;
  bool blake2_;
  std::uint32_t crc_ = 0;
  std::shared_ptr<void> blakeState_;
};

// Everything about one entry that does not change between the parts of a split entry.
struct PreparedEntry {
  const Entry* entry = nullptr;
  std::string name;  // UTF-8, "/" separated, no trailing separator
  bool directory = false;
  bool symlink = false;
  bool hardlink = false;
  std::uint64_t unpackedSize = 0;  // the file's true size
  std::uint64_t packedSize = 0;    // bytes stored in the archive (padded when encrypted)
  bool compressed = false;         // the stored data is a packed stream
  std::uint32_t unpackedCrc = 0;   // when compressed: the CRC32 of the file's bytes
  std::array<std::uint8_t, 32> unpackedBlake2{};  // and, RAR 5 with blake2, their hash
  std::uint64_t compressionInfo = 0;              // RAR 5, without the solid bit
  std::shared_ptr<PackedStream> packed;
  std::uint32_t attributes = 0;
  bool solid = false;   // continues the previous entry's stream (solid flag)
  bool blake2 = false;  // RAR 5: the last part carries a BLAKE2sp hash instead of a CRC32

  // Encryption, real or flag only. RAR 4 uses salt[0..7]; RAR 5 the whole salt and iv.
  bool encrypted = false;
  std::uint8_t legacyCipher = 0;  // RAR 4: 13, 15 or 20 for the old ciphers (no salt)
  std::array<std::uint8_t, 16> salt{};
  std::array<std::uint8_t, 16> iv{};
  std::uint8_t kdfCount = 15;
  bool hasCheckValue = false;
  std::array<std::uint8_t, 12> checkValue{};          // 8-byte value + 4-byte checksum
  bool macChecksums = false;                          // RAR 5: checksums pass through the hash key
  const unrar::crypto::Rar5Keys* rar5Keys = nullptr;  // owned by the archive's KeyRing
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
  virtual Bytes endBlock(std::size_t index, bool last, bool multiVolume, bool badCrc) = 0;
  // The CRC32 value the header stores for `crc` (RAR 5 turns it into a MAC for
  // entries encrypted with a password).
  virtual std::uint32_t storedCrc(const PreparedEntry& entry, std::uint32_t crc) const = 0;
};

std::unique_ptr<Emitter> makeRar4Emitter(const Options& options, KeyRing& keys);
std::unique_ptr<Emitter> makeRar5Emitter(const Options& options, KeyRing& keys);

// Windows attributes or Unix mode for an entry whose caller left them 0, and the
// directory bit forced on for directories.
std::uint32_t effectiveAttributes(const Entry& entry, bool unixStyle);
// UTF-8 to UTF-16 units; throws std::invalid_argument on malformed input.
std::u16string utf16(const std::string& utf8);

}  // namespace rarwriter::detail
