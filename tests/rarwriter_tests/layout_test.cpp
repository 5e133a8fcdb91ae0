// The bytes themselves: fixed layouts the formats define, volume sizes and
// naming, the RAR 4 name encoding, and the command-line tool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "peer_tools.h"
#include "rar_writer.h"

namespace fs = std::filesystem;
using rarwriter::Entry;
using rarwriter::Format;
using rarwriter::Options;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

unsigned le16(const std::string& b, std::size_t at) {
  return static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8;
}

class UtcZone : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    saved_ = tz ? tz : "";
    hadTz_ = tz != nullptr;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
  }
  void TearDown() override {
    if (hadTz_)
      ::setenv("TZ", saved_.c_str(), 1);
    else
      ::unsetenv("TZ");
    ::tzset();
  }
  peers::TempDir tmp_;

 private:
  std::string saved_;
  bool hadTz_ = false;
};

Entry helloEntry() {
  Entry e;
  e.name = "a.txt";
  e.data = "hello";
  e.host = rarwriter::HostOS::Unix;
  e.mtime = 1704067200;  // 2024-01-01 00:00:00 UTC
  return e;
}

TEST_F(UtcZone, Rar4MinimalArchiveMatchesTheReferenceBytes) {
  Options o;
  o.format = Format::Rar4;
  rarwriter::write(tmp_ / "hello4.rar", {helloEntry()}, o);
  EXPECT_EQ(hex(readFile(tmp_ / "hello4.rar")),
            "52 61 72 21 1A 07 00 CF 90 73 00 00 0D 00 00 00 00 00 00 00 8F A1 74 00 80 25 00 "
            "05 00 00 00 05 00 00 00 03 86 A6 10 36 00 00 21 58 1D 30 05 00 A4 81 00 00 61 2E 74 "
            "78 74 68 65 6C 6C 6F C4 3D 7B 00 40 07 00");
}

TEST_F(UtcZone, Rar5FixedBlocks) {
  rarwriter::write(tmp_ / "hello5.rar", {helloEntry()});
  std::string b = readFile(tmp_ / "hello5.rar");
  ASSERT_GT(b.size(), 24u);
  EXPECT_EQ(hex(b.substr(0, 16)), "52 61 72 21 1A 07 01 00 C5 1A 33 32 03 01 00 00");
  EXPECT_EQ(hex(b.substr(b.size() - 8)), "1D 77 56 51 03 05 04 00");
  EXPECT_EQ(b.substr(b.size() - 13, 5), "hello");

  Options o;
  o.volumeSize = 80;
  fs::create_directories(tmp_.path() / "v");
  std::vector<std::string> files =
      rarwriter::write(tmp_ / "v/h.part1.rar", {helloEntry(), helloEntry()}, o);
  ASSERT_EQ(files.size(), 2u);
  std::string first = readFile(files[0]);
  EXPECT_EQ(hex(first.substr(first.size() - 8)), "8B 47 51 26 03 05 04 01");
}

TEST_F(UtcZone, Rar4VolumeFlags) {
  Options o;
  o.format = Format::Rar4;
  o.volumeSize = 70;
  fs::create_directories(tmp_.path() / "v");
  std::vector<std::string> files =
      rarwriter::write(tmp_ / "v/h.part1.rar", {helloEntry(), helloEntry()}, o);
  ASSERT_GE(files.size(), 2u);
  std::string first = readFile(files[0]);
  std::string second = readFile(files[1]);
  EXPECT_EQ(le16(first, 10), 0x0111u) << "volume, new naming, first volume";
  EXPECT_EQ(le16(second, 10), 0x0011u);
  // End blocks: volume number 0-based, "not last" on all but the last volume.
  EXPECT_EQ(hex(first.substr(first.size() - 7, 4)), "7B 09 40 09");
  EXPECT_EQ(le16(first, first.size() - 2), 0u);
  std::string last = readFile(files.back());
  EXPECT_EQ(hex(last.substr(last.size() - 7, 4)), "7B 08 40 09");
  EXPECT_EQ(le16(last, last.size() - 2), files.size() - 1);
}

TEST(VolumePlanning, EveryVolumeStaysWithinItsSizeAndSplitsCarryFlags) {
  peers::TempDir tmp;
  for (Format format : {Format::Rar4, Format::Rar5}) {
    Options o;
    o.format = format;
    o.volumeSize = 3000;
    std::vector<Entry> entries(4);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].name = "f" + std::to_string(i);
      entries[i].data.assign(2500 * i, static_cast<char>('a' + i));
    }
    std::string first = tmp / (format == Format::Rar4 ? "4/x.part1.rar" : "5/x.part1.rar");
    fs::create_directories(fs::path(first).parent_path());
    std::vector<std::string> files = rarwriter::write(first, entries, o);
    std::uint64_t total = 0;
    for (const std::string& f : files) {
      EXPECT_LE(fs::file_size(f), o.volumeSize) << f;
      total += fs::file_size(f);
    }
    EXPECT_GE(files.size(), 6u);
    EXPECT_EQ(files, rarwriter::volumeNames(first, files.size(), false));
    // Nearly full volumes: the planner fills each one before opening the next.
    EXPECT_GT(total, (files.size() - 1) * (o.volumeSize - 100));
  }
}

TEST(VolumePlanning, TooSmallAVolumeIsAnError) {
  peers::TempDir tmp;
  Options o;
  o.volumeSize = 40;
  Entry e;
  e.name = "a-rather-long-name-that-cannot-fit.txt";
  e.data = "x";
  EXPECT_THROW(rarwriter::write(tmp / "x.part1.rar", {e}, o), std::invalid_argument);
}

TEST(VolumeNames, BothSchemes) {
  EXPECT_EQ(rarwriter::volumeNames("d/a.part1.rar", 3, false),
            (std::vector<std::string>{"d/a.part1.rar", "d/a.part2.rar", "d/a.part3.rar"}));
  EXPECT_EQ(rarwriter::volumeNames("a.part1.rar", 10, false)[9], "a.part10.rar");
  EXPECT_EQ(rarwriter::volumeNames("a.part1.rar", 10, false)[0], "a.part01.rar");
  EXPECT_EQ(rarwriter::volumeNames("a.part001.rar", 2, false)[1], "a.part002.rar");
  EXPECT_EQ(rarwriter::volumeNames("a.rar", 2, false)[1], "a.part2.rar");
  std::vector<std::string> old = rarwriter::volumeNames("a.rar", 103, true);
  EXPECT_EQ(old[0], "a.rar");
  EXPECT_EQ(old[1], "a.r00");
  EXPECT_EQ(old[100], "a.r99");
  EXPECT_EQ(old[101], "a.s00");
}

// Decodes a RAR 4 Unicode name field the way readers do.
std::u16string decodeRar4Name(const std::string& field) {
  std::size_t nul = field.find('\0');
  std::string low = field.substr(0, nul);
  std::string enc = field.substr(nul + 1);
  std::u16string out;
  std::size_t pos = 0;
  unsigned high = static_cast<unsigned char>(enc[pos++]);
  unsigned flags = 0;
  int bits = 0;
  while (pos < enc.size()) {
    if (bits == 0) {
      flags = static_cast<unsigned char>(enc[pos++]);
      bits = 8;
      if (pos >= enc.size()) break;
    }
    unsigned op = flags >> 6;
    flags = (flags << 2) & 0xFF;
    bits -= 2;
    auto byte = [&]() { return static_cast<unsigned char>(enc.at(pos++)); };
    if (op == 0) {
      out.push_back(byte());
    } else if (op == 1) {
      out.push_back(static_cast<char16_t>(high << 8 | byte()));
    } else if (op == 2) {
      unsigned lo = byte();
      out.push_back(static_cast<char16_t>(lo | byte() << 8));
    } else {
      unsigned len = byte();
      unsigned correction = len & 0x80 ? byte() : 0;
      for (unsigned i = 0; i < (len & 0x7F) + 2; ++i) {
        unsigned char c = static_cast<unsigned char>(low.at(out.size()));
        out.push_back(len & 0x80 ? static_cast<char16_t>(((c + correction) & 0xFF) | high << 8)
                                 : static_cast<char16_t>(c));
      }
    }
  }
  return out;
}

TEST(Rar4Names, EncodedFormDecodesToTheName) {
  peers::TempDir tmp;
  Options o;
  o.format = Format::Rar4;
  Entry e;
  e.name = "dir/Ünï ΑΒΓ яж 日本 😀 long ascii run of text.txt";
  e.data = "x";
  rarwriter::write(tmp / "n.rar", {e}, o);
  std::string b = readFile(tmp / "n.rar");
  std::size_t header = 7 + 13;
  unsigned flags = le16(b, header + 3);
  ASSERT_TRUE(flags & 0x0200) << "Unicode flag";
  unsigned nameSize = le16(b, header + 26);
  std::string field = b.substr(header + 32, nameSize);
  ASSERT_NE(field.find('\0'), std::string::npos);
  EXPECT_EQ(field.substr(0, 4), "dir\\");
  std::u16string expected = u"dir\\Ünï ΑΒΓ яж 日本 😀 long ascii run of text.txt";
  EXPECT_EQ(decodeRar4Name(field), expected);
}

TEST(Rar4Comments, OldStyleCommentIsEmbeddedInTheMainHeader) {
  peers::TempDir tmp;
  Options o;
  o.format = Format::Rar4;
  o.comment = "old comment";
  o.oldStyleComment = true;
  Entry e;
  e.name = "a";
  e.data = "a";
  rarwriter::write(tmp / "c.rar", {e}, o);
  std::string b = readFile(tmp / "c.rar");
  EXPECT_EQ(le16(b, 7 + 3), 0x0002u);
  EXPECT_EQ(le16(b, 7 + 5), 13u + 13u + o.comment.size());
  // The main CRC covers only the fixed 13 bytes; so does the comment block's.
  EXPECT_EQ(le16(b, 7), rarwriter::crc32(b.substr(9, 11)) & 0xFFFF);
  std::size_t c = 7 + 13;
  EXPECT_EQ(static_cast<unsigned char>(b[c + 2]), 0x75);
  EXPECT_EQ(le16(b, c), rarwriter::crc32(b.substr(c + 2, 11)) & 0xFFFF);
  EXPECT_EQ(le16(b, c + 7), o.comment.size());
  EXPECT_EQ(static_cast<unsigned char>(b[c + 10]), 0x30);
  EXPECT_EQ(le16(b, c + 11), rarwriter::crc32(o.comment) & 0xFFFF);
  EXPECT_EQ(b.substr(c + 13, o.comment.size()), o.comment);
}

// RAR's own archive of cebula.txt stores a BLAKE2sp digest; ours of the same
// bytes must hold the same digest. The bytes come from bsdtar's extraction.
TEST(Blake2Digest, MatchesTheDigestRarStored) {
  std::string corpus =
      std::string(QUILLMOSS_CORPUS_DIR) + "/libarchive/test_read_format_rar5_blake2.rar";
  ASSERT_TRUE(fs::exists(corpus)) << "corpus file missing: " << corpus;
  if (!peers::haveTool("bsdtar")) GTEST_SKIP() << "bsdtar missing: run scripts/setup-deps.sh";
  peers::TempDir tmp;
  peers::CommandResult x =
      peers::run("bsdtar -xf " + peers::quote(corpus) + " -C " + peers::quote(tmp.path().string()));
  ASSERT_EQ(x.status, 0) << x.output;
  Entry e;
  e.name = "cebula.txt";
  e.data = readFile(tmp / "cebula.txt");
  ASSERT_EQ(e.data.size(), 814u);
  Options o;
  o.blake2 = true;
  rarwriter::write(tmp / "ours.rar", {e}, o);
  std::string ours = readFile(tmp / "ours.rar");
  std::string theirs = readFile(corpus);
  // Hash record: size 34, type 2, hash type 0, then the 32-byte digest.
  std::size_t at = ours.find(std::string("\x22\x02\x00", 3));
  ASSERT_NE(at, std::string::npos);
  std::string digest = ours.substr(at + 3, 32);
  EXPECT_NE(theirs.find(digest), std::string::npos) << hex(digest);
}

TEST(Pattern, SameBytesWhateverTheRange) {
  std::string whole(1000, '\0');
  rarwriter::fillPattern(3, 0, whole.data(), whole.size());
  for (std::size_t off : {0u, 1u, 7u, 8u, 13u, 500u}) {
    std::string part(123, '\0');
    rarwriter::fillPattern(3, off, part.data(), part.size());
    EXPECT_EQ(part, whole.substr(off, 123)) << off;
  }
  std::string other(1000, '\0');
  rarwriter::fillPattern(4, 0, other.data(), other.size());
  EXPECT_NE(other, whole);
}

TEST(CommandLine, GeneratedFilesAndAStreamedFileInVolumes) {
  if (!peers::haveTool("bsdtar")) GTEST_SKIP() << "bsdtar missing: run scripts/setup-deps.sh";
  peers::TempDir tmp;
  std::string out = tmp / "a/gen.part1.rar";
  fs::create_directories(tmp / "a");
  peers::CommandResult r = peers::run(std::string(RARWRITER_CLI) +
                                      " --format rar4 --volume-size 1M --comment hi"
                                      " --files 50:3000:gen --large big.bin:2M " +
                                      peers::quote(out));
  ASSERT_EQ(r.status, 0) << r.output;
  std::vector<std::string> files;
  std::istringstream lines(r.output);
  for (std::string line; std::getline(lines, line);) files.push_back(line);
  ASSERT_EQ(files.size(), 3u) << r.output;
  EXPECT_EQ(files[0], out);
  peers::CommandResult x = peers::bsdtarExtract(files, tmp / "x");
  ASSERT_EQ(x.status, 0) << x.output;
  peers::Tree tree = peers::readTree(tmp / "x");
  ASSERT_EQ(tree.size(), 52u);
  std::string expected(3000, '\0');
  rarwriter::fillPattern(1, 0, expected.data(), expected.size());
  EXPECT_EQ(tree["gen/f000000.bin"].content, expected);
  rarwriter::fillPattern(50, 0, expected.data(), expected.size());
  EXPECT_EQ(tree["gen/f000049.bin"].content, expected);
  std::string big(2 << 20, '\0');
  rarwriter::fillPattern(51, 0, big.data(), big.size());
  EXPECT_TRUE(tree["big.bin"].content == big);
}

TEST(CommandLine, EncryptedGeneratedFiles) {
  if (!peers::haveTool("unar")) GTEST_SKIP() << "unar missing: run scripts/setup-deps.sh";
  peers::TempDir tmp;
  fs::create_directories(tmp / "a");
  peers::CommandResult r =
      peers::run(std::string(RARWRITER_CLI) + " --password 'p w' --files 3:1000:enc " +
                 peers::quote(tmp / "a/e.rar"));
  ASSERT_EQ(r.status, 0) << r.output;
  peers::CommandResult x = peers::unarExtract(tmp / "a/e.rar", tmp / "x", "p w");
  ASSERT_EQ(x.status, 0) << x.output;
  std::string expected(1000, '\0');
  rarwriter::fillPattern(3, 0, expected.data(), expected.size());
  EXPECT_EQ(peers::readTree(tmp / "x")["enc/f000002.bin"].content, expected);
  EXPECT_NE(peers::unarExtract(tmp / "a/e.rar", tmp / "y", "wrong").status, 0);
}

TEST(CommandLine, FolderInputAndBadArguments) {
  peers::TempDir tmp;
  fs::create_directories(tmp / "src/sub");
  std::ofstream(tmp / "src/sub/x.txt") << "x\n";
  std::ofstream(tmp / "src/y.txt") << "yy\n";
  fs::create_directories(tmp / "a");
  peers::CommandResult r =
      peers::run(std::string(RARWRITER_CLI) + " --host unix --from " + peers::quote(tmp / "src") +
                 " " + peers::quote(tmp / "a/f.rar"));
  ASSERT_EQ(r.status, 0) << r.output;
  if (peers::haveTool("bsdtar")) {
    peers::CommandResult x = peers::bsdtarExtract({tmp / "a/f.rar"}, tmp / "x");
    ASSERT_EQ(x.status, 0) << x.output;
    EXPECT_EQ(peers::compareTrees(peers::readTree(tmp / "src"), peers::readTree(tmp / "x")), "");
  }
  EXPECT_EQ(peers::run(std::string(RARWRITER_CLI) + " --format rar6 x.rar").status, 1);
  EXPECT_EQ(peers::run(std::string(RARWRITER_CLI) + " --files 3 x.rar").status, 1);
  EXPECT_EQ(peers::run(std::string(RARWRITER_CLI)).status, 2);
}

}  // namespace
