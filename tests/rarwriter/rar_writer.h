// The project's own RAR writer, for test fixtures: valid RAR 2.9-4 and RAR 5
// archives with stored (uncompressed) entries, optionally split into volumes,
// encrypted, or deliberately damaged. Archives it makes are accepted by
// bsdtar and unar.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rarwriter {

enum class Format { Rar4, Rar5 };

// Supplies `length` bytes of an entry's data starting at `offset`, for entries too
// large to hold in memory. Reads come in ascending order; a source must give the same
// bytes for the same range every time.
using DataSource = std::function<void(std::uint64_t offset, char* out, std::size_t length)>;

// RAR 1.5-4 host byte values; a RAR 5 archive stores Windows (0) or Unix (1):
// MsDos, Os2, Windows map to Windows there, the rest to Unix.
enum class HostOS : std::uint8_t { MsDos = 0, Os2 = 1, Windows = 2, Unix = 3, MacOS = 4, BeOS = 5 };

// How a RAR 5 file header declares compressed data. Algorithm version 0 (RAR 5.0)
// declares dictionaries of 128 KiB << n up to 4 GiB; version 1 (RAR 7) up to
// 64 GiB, also sizes between the powers of two (the power of two below plus
// 1/32 of it for each step of the fraction), and codes distances with 80
// symbols unless `rar5Distances` says the data keeps RAR 5.0's 64.
struct Rar5Compression {
  std::uint8_t method = 3;  // 1 fastest ... 5 best
  std::uint8_t version = 0;
  std::uint64_t dictionary = std::uint64_t{4} << 20;
  bool rar5Distances = false;  // version 1 only: the flag for RAR 5.0 data
};

// The file header's compression-information field. Throws std::invalid_argument
// when the version cannot declare that dictionary.
std::uint64_t compressionInfo(const Rar5Compression& c, bool solid);

struct Entry {
  std::string name;  // UTF-8, "/" between parts; stored with the format's own separator
  std::string data;  // the file's bytes; empty for a directory
  bool directory = false;
  HostOS host = HostOS::Windows;
  // Windows attributes (0x20 archive, 0x01 read-only, 0x10 directory...) or, for a
  // Unix host, the st_mode bits (0100644). 0 picks a default for the kind of entry.
  std::uint32_t attributes = 0;
  std::int64_t mtime = 1700000000;  // seconds since 1970, UTC
  // RAR 5: a symbolic link to this target (redirection record); RAR 4: a Unix
  // host entry with S_IFLNK mode and the target as its data.
  std::string symlinkTarget;
  // RAR 5: a hard link to the named earlier entry (a name no earlier entry has is
  // stored as it is, with size 0, for hostile archives); with fileCopy, a file copy.
  std::string hardlinkTarget;
  bool fileCopy = false;
  // Sets the entry's encrypted flag without encrypting anything, for prompt tests.
  bool encryptedFlagOnly = false;
  // Encrypts the entry's data with this password (RAR 4: AES-128, RAR 5: AES-256,
  // with the password check value and checksums turned into MACs).
  std::string password;
  // RAR 4: encrypts with the cipher of RAR 1.3, 1.5 or 2.0 (13, 15, 20) instead of
  // AES, and writes that unpack version for stored data; 0: AES.
  std::uint8_t legacyCipher = 0;
  // RAR 4: stores the data compressed (method "normal") as a RAR 2.9 stream of
  // literal codes, real compressed data without a compressor. In a solid archive
  // the stream runs on from the previous compressed entry, and only the first
  // compressed entry carries the code tables.
  bool compressed = false;
  // The data already packed by a test's own encoder, stored as it is; `data`
  // still holds the file's bytes (for the unpacked size and the CRC).
  struct Prepacked {
    std::string bytes;
    std::uint8_t unpVer = 29;     // the version needed to unpack: 15, 20, 26, 29, 36
    std::uint8_t method = 0x33;   // 0x31 fastest ... 0x35 best
    std::uint8_t dictionary = 0;  // file flags bits 5-7: 64 KiB << n (0..6)
    Rar5Compression rar5;         // what a RAR 5 header declares instead
  };
  std::optional<Prepacked> prepacked;
  // When set, the entry's data comes from here (sourceSize bytes) instead of `data`.
  DataSource source;
  std::uint64_t sourceSize = 0;
};

enum class Damage {
  None,
  BadHeaderCrc,   // the first file header's CRC is wrong
  BadDataCrc,     // the first file's stored CRC32 does not match its data
  Truncated,      // the last volume is cut in the middle of the last entry's data
  MissingVolume,  // the second volume of a set is not written (needs two volumes or more)
  BadEndCrc,      // the last volume's end block has a wrong header CRC
};

struct Options {
  Format format = Format::Rar5;
  std::string comment;           // archive comment; empty: none. RAR 5: packed as the files are
  std::uint64_t volumeSize = 0;  // bytes per volume; 0: one archive
  bool oldVolumeNaming = false;  // name.rar, name.r00, name.r01 ... instead of name.partN.rar
  bool solidFlag = false;        // marks the archive (and entries after the first) solid
  bool lockFlag = false;
  // Encrypts the headers too (RAR 4: flag 0x80, RAR 5: archive encryption header),
  // the comment, and, as RAR does, every file that has no password of its own.
  std::string headerPassword;
  Damage damage = Damage::None;
  // Bytes of an "MZ" self-extractor stub before the signature. libarchive finds the
  // signature only at a multiple of 16 from 64 KiB on.
  std::size_t sfxStubSize = 0;
  // RAR 4: the comment embedded in the main header (the RAR 1.5-2.x form, flag 0x0002)
  // instead of a CMT service header, stored, with the main header's CRC over its first
  // 13 bytes only. bsdtar 3.6.2 checks that CRC over the whole header and refuses the
  // archive; unar 1.10.1 unpacks old comments whatever their method says.
  bool oldStyleComment = false;
  // RAR 4: non-ASCII names as plain UTF-8 under the Unicode flag instead of an 8-bit
  // name followed by the encoded UTF-16 form.
  bool rar4Utf8Names = false;
  // RAR 5: a BLAKE2sp hash record instead of the CRC32 field, as RAR itself does.
  bool blake2 = false;
  // RAR 5: every file's data compressed by the test encoder (rar5_encoder.h) and
  // declared so; in a solid archive the files are one stream.
  std::optional<Rar5Compression> compression;
};

// Writes the archive to `path` (the first volume's name for volumes: for new
// naming pass "name.part1.rar"). Returns every file written, in volume order.
// Throws std::runtime_error when a file cannot be written.
std::vector<std::string> write(const std::string& path, const std::vector<Entry>& entries,
                               const Options& options = {});

// The names of a volume set's files for `count` volumes, the way write() names them.
std::vector<std::string> volumeNames(const std::string& firstVolume, std::size_t count,
                                     bool oldVolumeNaming);

// CRC32 as RAR stores it (zlib's polynomial).
std::uint32_t crc32(const std::string& data);

// Deterministic pseudo-random test content: byte `offset` of stream `seed` is the same
// whatever range it is asked for in, so a test can check extracted data piecewise.
void fillPattern(std::uint64_t seed, std::uint64_t offset, char* out, std::size_t length);
DataSource patternSource(std::uint64_t seed);

}  // namespace rarwriter
