// libunrar's decisions that the interface shows only indirectly: volume
// naming, name sanitizing, the temporary-name sweep, link containment, RAR 4
// encoded names and why a block reader calls a block broken.
#include <blake2.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/blake2sp.h"
#include "core/crc32.h"
#include "format/rar_format.h"
#include "format/volume.h"
#include "output/output.h"

using namespace unrar;

TEST(VolumeNaming, NewSchemeCountsTheLastDigitsWithCarry) {
  EXPECT_EQ(nextVolumeName("/a/set.part1.rar", true), "/a/set.part2.rar");
  EXPECT_EQ(nextVolumeName("/a/set.part9.rar", true), "/a/set.part10.rar");
  EXPECT_EQ(nextVolumeName("/a/set.part09.rar", true), "/a/set.part10.rar");
  EXPECT_EQ(nextVolumeName("/a/set.part0099.rar", true), "/a/set.part0100.rar");
  EXPECT_EQ(nextVolumeName("/a2/set.part1.rar", true), "/a2/set.part2.rar");
}

TEST(VolumeNaming, OldSchemeGoesRarR00ToS00) {
  EXPECT_EQ(nextVolumeName("/a/set.rar", false), "/a/set.r00");
  EXPECT_EQ(nextVolumeName("/a/set.r00", false), "/a/set.r01");
  EXPECT_EQ(nextVolumeName("/a/set.r09", false), "/a/set.r10");
  EXPECT_EQ(nextVolumeName("/a/set.r99", false), "/a/set.s00");
  EXPECT_EQ(nextVolumeName("/a/SET.RAR", false), "/a/SET.R00");
  // A new-numbering archive without digits falls back to the old scheme.
  EXPECT_EQ(nextVolumeName("/a/set.rar", true), "/a/set.r00");
}

TEST(Names, SanitizingDropsEverythingThatLeavesTheFolder) {
  EXPECT_EQ(sanitizeName("a/b.txt"), "a/b.txt");
  EXPECT_EQ(sanitizeName("../../etc/passwd"), "etc/passwd");
  EXPECT_EQ(sanitizeName("/abs/x"), "abs/x");
  EXPECT_EQ(sanitizeName("C:/Windows/x"), "Windows/x");
  // A backslash is part of a name; RAR 4 separators are "/" once parsed.
  EXPECT_EQ(sanitizeName("a\\b"), "a\\b");
  EXPECT_EQ(sanitizeName("a/./b/../c"), "a/b/c");
  EXPECT_EQ(sanitizeName("//"), "");
  EXPECT_EQ(sanitizeName(".."), "");
}

TEST(Names, Rar4EncodedUnicodeNames) {
  // "abc" as the 8-bit name, then the encoded form of "ab\u00e9": HIGH 0x00,
  // flags 0b00'00'01'00 (copy, copy, high-byte unit, end).
  const std::uint8_t encoded[] = {'a', 'b', 'c', 0, 0x00, 0x04, 'a', 'b', 0xE9};
  EXPECT_EQ(decodeRar4Name(encoded, sizeof encoded, true), "ab\xC3\xA9");
  // Operation 3 copies units from the 8-bit name.
  const std::uint8_t copied[] = {'x', 'y', 'z', 0, 0x00, 0xC0, 0x01};
  EXPECT_EQ(decodeRar4Name(copied, sizeof copied, true), "xyz");
  const std::uint8_t utf8[] = {0xE8, 0xA1, 0xA8};
  EXPECT_EQ(decodeRar4Name(utf8, sizeof utf8, true), "\xE8\xA1\xA8");
  const std::uint8_t latin[] = {'c', 0xE9};
  EXPECT_EQ(decodeRar4Name(latin, sizeof latin, false), "c\xC3\xA9");
}

// Where the file system has no unnamed files, a file is written under a
// temporary name that says who made it, and locked while it is written. The
// sweep an extraction makes of each folder removes only what a gone process
// of this machine left and no live process holds.
TEST(TemporaryNames, OnlyWhatAGoneProcessLeftUnlockedIsSwept) {
  const std::optional<TempOwner> me = thisProcess();
  ASSERT_TRUE(me) << "no machine id or /proc";
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  TempOwner gone = *me;
  gone.pid = child;
  TempOwner elsewhere = gone;
  elsewhere.scope[0] = elsewhere.scope[0] == 'a' ? 'b' : 'a';
  TempOwner earlierBoot = *me;
  earlierBoot.boot[0] = earlierBoot.boot[0] == 'a' ? 'b' : 'a';
  struct Case {
    const char* what;
    std::string name;
    bool locked;
    bool swept;
  };
  const Case cases[] = {
      {"a live process's", tempName(*me), false, false},
      {"a gone process's, locked by its writer", tempName(gone), true, false},
      {"a gone process's", tempName(gone), false, true},
      {"another machine's", tempName(elsewhere), false, false},
      {"an earlier boot's", tempName(earlierBoot), false, true},
  };
  char dir[] = "/tmp/quillmoss-sweep-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  std::vector<int> held;
  for (const Case& c : cases) {
    ASSERT_TRUE(tempOwner(c.name)) << c.what;
    const int fd = ::open((std::string(dir) + "/" + c.name).c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << c.what;
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_TRUE(!c.locked || ::fcntl(fd, F_OFD_SETLK, &lock) == 0) << c.what;
    if (c.locked) {
      held.push_back(fd);
    } else {
      ::close(fd);
    }
  }
  {
    OutputTree tree;
    const Folder* folder = nullptr;
    ASSERT_EQ(tree.open(dir), 0);
    ASSERT_EQ(tree.folder("", 0777, folder), 0);
    tree.sweepOnce(*folder);
  }
  for (const Case& c : cases) {
    const std::string path = std::string(dir) + "/" + c.name;
    EXPECT_EQ(::access(path.c_str(), F_OK) != 0, c.swept) << c.what;
    std::remove(path.c_str());
  }
  for (int fd : held) ::close(fd);
  ::rmdir(dir);
}

TEST(Times, DosTimeRoundTripsThroughFileTime) {
  std::uint32_t dos = 0x58210000;  // 2024-01-01 00:00:00 local
  EXPECT_EQ(fileTimeToDosTime(dosTimeToFileTime(dos)), dos);
  EXPECT_EQ(unixToFileTime(0, 0), 116444736000000000ULL);
}

namespace {

// Ours against libb2's own BLAKE2sp: lengths around the block and the stripe,
// given at once and in pieces that cut blocks and stripes anywhere.
TEST(Blake2sp, SameHashAsTheReferenceForAnyLengthAndPieces) {
  std::vector<std::uint8_t> data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + 7);
  // 449 and 961 bytes: the first stripe compressed before the final blocks.
  for (std::size_t size :
       {0, 1, 63, 64, 65, 448, 449, 511, 512, 513, 960, 961, 1024, 1025, 1473, 70000}) {
    std::array<std::uint8_t, 32> want{};
    blake2sp(want.data(), data.data(), nullptr, want.size(), size, 0);
    for (std::size_t piece : {70000, 1, 7, 64, 449, 512, 513}) {
      unrar::Blake2sp h;
      for (std::size_t at = 0; at < size; at += piece)
        h.update(data.data() + at, std::min(piece, size - at));
      EXPECT_EQ(h.digest(), want) << size << " bytes in pieces of " << piece;
    }
  }
}

// Ours against zlib's CRC-32: lengths around the folding loop's 16 and 64
// bytes and its minimum, from any alignment, given at once and in pieces.
TEST(Crc32, SameValueAsZlibForAnyLengthAlignmentAndPieces) {
  std::vector<std::uint8_t> data(70000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 131 + 7);
  for (std::size_t size : {0, 1, 15, 16, 63, 64, 255, 256, 257, 300, 4099, 69990}) {
    for (std::size_t start : {0, 1, 9}) {
      const std::uint8_t* p = data.data() + start;
      const auto want = static_cast<std::uint32_t>(crc32(0, p, static_cast<uInt>(size)));
      for (std::size_t piece : {70000, 300, 7}) {
        std::uint32_t crc = 0;
        for (std::size_t at = 0; at < size; at += piece)
          crc = crc32Update(crc, p + at, std::min(piece, size - at));
        EXPECT_EQ(crc, want) << size << " bytes from " << start << " in pieces of " << piece;
      }
    }
  }
}

// Every read through the volume's read-ahead window gives the bytes of the
// file at that place, whatever the order, the size, or the end of the file.
TEST(VolumeReads, SmallAndLargeReadsInAnyOrderGiveTheFileBytes) {
  char dir[] = "/tmp/quillmoss-volume-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/v.bin";
  std::string bytes(300000, '\0');
  std::uint32_t x = 12345;
  for (char& c : bytes) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
  }
  auto v = unrar::VolumeFile::open(path);
  ASSERT_NE(v, nullptr);
  struct Read {
    std::uint64_t offset;
    std::size_t size;
  };
  const std::vector<Read> reads = {
      {0, 7},          {7, 43},       {50, 2048},      {1020, 10},   // across the window end
      {40, 7},         {0, 16384},    {16384, 16385},  {100000, 1},  // backwards, both sizes
      {299990, 7},     {299995, 100}, {300000, 5},     {299999, 1},  // at and past the end
      {131072, 70000}, {131000, 100}, {262144, 37856}, {65536, 0}};
  // Small entries one after another, header then data, grow the window; a
  // jump and reads across its end follow.
  std::vector<Read> walk = reads;
  for (std::uint64_t at = 1000; at < 200000; at += 2100) {
    walk.push_back({at, 7});
    walk.push_back({at + 60, 2040});
  }
  for (const Read& r : std::vector<Read>{{210000, 16384}, {226000, 1000}, {150, 9000}})
    walk.push_back(r);
  for (const Read& r : walk) {
    std::string got(r.size, '\0');
    const std::size_t n = v->readAt(r.offset, got.data(), r.size);
    const std::size_t expected =
        r.offset >= bytes.size() ? 0 : std::min<std::size_t>(r.size, bytes.size() - r.offset);
    ASSERT_EQ(n, expected) << r.offset << "+" << r.size;
    EXPECT_EQ(got.substr(0, n), bytes.substr(r.offset, n)) << r.offset << "+" << r.size;
  }
  std::remove(path.c_str());
  rmdir(dir);
}

}  // namespace

namespace {

class BytesSource final : public ByteSource {
 public:
  explicit BytesSource(std::vector<std::uint8_t> b) : b_(std::move(b)) {}
  std::uint64_t size() const override { return b_.size(); }
  std::size_t readAt(std::uint64_t offset, void* buf, std::size_t n) override {
    if (offset >= b_.size()) return 0;
    n = std::min<std::size_t>(n, b_.size() - offset);
    std::copy_n(b_.data() + offset, n, static_cast<std::uint8_t*>(buf));
    return n;
  }

 private:
  std::vector<std::uint8_t> b_;
};

// A RAR 5 header: CRC32 of the size and the header, the one-byte size, the header.
std::vector<std::uint8_t> rar5Header(std::vector<std::uint8_t> h) {
  h.insert(h.begin(), static_cast<std::uint8_t>(h.size()));
  const auto crc = static_cast<std::uint32_t>(crc32(0, h.data(), static_cast<uInt>(h.size())));
  for (int k = 3; k >= 0; --k) h.insert(h.begin(), static_cast<std::uint8_t>(crc >> (8 * k)));
  return h;
}

// A RAR 1.5-4 file header of 32 bytes with a true CRC16, no name, and the
// name size given.
std::vector<std::uint8_t> rar4FileHeader(std::uint8_t nameSize = 0) {
  std::vector<std::uint8_t> h(32, 0);
  h[2] = 0x74;
  h[5] = 32;
  h[26] = nameSize;
  const auto crc = crc32(0, h.data() + 2, 30);
  h[0] = static_cast<std::uint8_t>(crc);
  h[1] = static_cast<std::uint8_t>(crc >> 8);
  return h;
}

}  // namespace

TEST(BlockReaders, NameWhyABlockIsBroken) {
  struct Case {
    const char* what;
    Format format;
    std::vector<std::uint8_t> bytes;
    BlockKind kind;
    Failure failure;
  };
  std::vector<std::uint8_t> badCrc5 = rar5Header({5, 0, 0});
  badCrc5[0] ^= 1;
  std::vector<std::uint8_t> badCrc4 = rar4FileHeader();
  badCrc4[0] ^= 1;
  std::vector<std::uint8_t> cut4 = rar4FileHeader();
  cut4.resize(20);
  std::vector<std::uint8_t> noType4 = rar4FileHeader();
  noType4[2] = 0x10;
  std::vector<std::uint8_t> tooShort4 = rar4FileHeader();
  tooShort4[5] = 5;
  const std::vector<Case> cases = {
      {"RAR 5 end block", Format::Rar5, rar5Header({5, 0, 0}), BlockKind::End, Failure::None},
      {"RAR 5 bad CRC", Format::Rar5, badCrc5, BlockKind::Broken, Failure::BadHeaderCrc},
      {"RAR 5 cut short", Format::Rar5, {1, 2, 3, 4, 3}, BlockKind::Broken, Failure::HeaderPastEnd},
      {"RAR 5 size 0",
       Format::Rar5,
       {0, 0, 0, 0, 0, 5, 0},
       BlockKind::Broken,
       Failure::HeaderTooLarge},
      {"RAR 5 fields past the header", Format::Rar5, rar5Header({2, 0}), BlockKind::Broken,
       Failure::CorruptHeader},
      {"RAR 4 file", Format::Rar4, rar4FileHeader(), BlockKind::File, Failure::None},
      {"RAR 4 bad CRC", Format::Rar4, badCrc4, BlockKind::Broken, Failure::BadHeaderCrc},
      {"RAR 4 cut short", Format::Rar4, cut4, BlockKind::Broken, Failure::HeaderPastEnd},
      {"RAR 4 no block type", Format::Rar4, noType4, BlockKind::Broken, Failure::NotABlock},
      {"RAR 4 size below 7", Format::Rar4, tooShort4, BlockKind::Broken, Failure::CorruptHeader},
      {"RAR 4 name one byte past the header", Format::Rar4, rar4FileHeader(1), BlockKind::Broken,
       Failure::CorruptHeader},
  };
  for (const Case& c : cases) {
    BytesSource src(c.bytes);
    const Block b = c.format == Format::Rar4 ? readBlockRar4(src, 0) : readBlockRar5(src, 0);
    EXPECT_EQ(b.kind, c.kind) << c.what;
    EXPECT_EQ(b.failure, c.failure) << c.what;
  }
}
