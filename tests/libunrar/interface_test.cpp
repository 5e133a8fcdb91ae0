// The published interface: exported names, handle and state checks, open
// results and flags, comments, and the fields of both header records, on
// archives made by the project's RAR writer.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>

#include "rar_writer.h"
#include "unrar.h"
#include "unrar_test_support.h"

using namespace unrartest;

namespace {

std::string write(const TempDir& dir, const std::string& name,
                  const std::vector<rarwriter::Entry>& entries,
                  const rarwriter::Options& options = {}) {
  std::string path = dir.file(name);
  rarwriter::write(path, entries, options);
  return path;
}

rarwriter::Entry file(const std::string& name, const std::string& data) {
  rarwriter::Entry e;
  e.name = name;
  e.data = data;
  return e;
}

rarwriter::Options format(rarwriter::Format f) {
  rarwriter::Options o;
  o.format = f;
  return o;
}

// Opened for listing with the older RAROpenArchive, whose records are the short ones.
HANDLE openForShortRecords(std::string& path) {
  RAROpenArchiveData od{};
  od.ArcName = path.data();
  od.OpenMode = RAR_OM_LIST;
  return RAROpenArchive(&od);
}

class BothFormats : public ::testing::TestWithParam<rarwriter::Format> {};

TEST(Exports, OnlyThePublishedEntryPoints) {
  std::string cmd = std::string("nm -D --defined-only '") + LIBUNRAR_PATH + "'";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> names;
  char line[1024];
  while (std::fgets(line, sizeof line, p)) {
    std::string l = line;
    std::size_t sp = l.rfind(' ');
    names.insert(l.substr(sp + 1, l.size() - sp - 2));
  }
  ASSERT_EQ(pclose(p), 0);
  std::set<std::string> want = {"RAROpenArchive",        "RAROpenArchiveEx", "RARCloseArchive",
                                "RARReadHeader",         "RARReadHeaderEx",  "RARProcessFile",
                                "RARProcessFileW",       "RARSetCallback",   "RARSetChangeVolProc",
                                "RARSetProcessDataProc", "RARSetPassword",   "RARGetDllVersion"};
  EXPECT_EQ(names, want);
}

TEST(Exports, DllVersionIsTheOlderConvention) {
  EXPECT_EQ(RARGetDllVersion(), 5);
}

TEST(Handles, CallsWithoutAValidHandleReturnCodesAndNeverCrash) {
  RARHeaderDataEx hd{};
  RARHeaderData h{};
  EXPECT_EQ(RARCloseArchive(nullptr), ERAR_ECLOSE);
  EXPECT_NE(RARReadHeaderEx(nullptr, &hd), ERAR_SUCCESS);
  EXPECT_NE(RARReadHeader(nullptr, &h), ERAR_SUCCESS);
  EXPECT_NE(RARProcessFile(nullptr, RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  EXPECT_NE(RARProcessFileW(nullptr, RAR_TEST, nullptr, nullptr), ERAR_SUCCESS);
  RARSetCallback(nullptr, nullptr, 0);
  RARSetPassword(nullptr, nullptr);
  // Not a handle this library gave out.
  char junk[64] = {};
  EXPECT_NE(RARReadHeaderEx(junk, &hd), ERAR_SUCCESS);
  EXPECT_EQ(RARCloseArchive(junk), ERAR_ECLOSE);
  EXPECT_EQ(RAROpenArchiveEx(nullptr), nullptr);
}

TEST(Handles, AClosedHandleIsRefused) {
  TempDir dir;
  std::string path = write(dir, "a.rar", {file("a.txt", "hello")});
  RAROpenArchiveData od{};
  od.ArcName = path.data();
  od.OpenMode = RAR_OM_LIST;
  HANDLE h = RAROpenArchive(&od);
  ASSERT_NE(h, nullptr) << "open status " << od.OpenResult;
  EXPECT_EQ(RARCloseArchive(h), ERAR_SUCCESS);
  EXPECT_EQ(RARCloseArchive(h), ERAR_ECLOSE);
}

TEST_P(BothFormats, OpenFailuresGiveTheirCodes) {
  TempDir dir;
  Archive missing(dir.file("none.rar"), RAR_OM_LIST);
  EXPECT_EQ(missing.handle(), nullptr);
  EXPECT_EQ(missing.openResult(), static_cast<unsigned>(ERAR_EOPEN));
  writeFile(dir.file("text.rar"), std::string(5000, 'x'));
  Archive notRar(dir.file("text.rar"), RAR_OM_LIST);
  EXPECT_EQ(notRar.handle(), nullptr);
  EXPECT_EQ(notRar.openResult(), static_cast<unsigned>(ERAR_BAD_ARCHIVE));
  writeFile(dir.file("empty.rar"), "");
  Archive empty(dir.file("empty.rar"), RAR_OM_LIST);
  EXPECT_EQ(empty.openResult(), static_cast<unsigned>(ERAR_BAD_ARCHIVE));
}

TEST_P(BothFormats, HeadersEndWith10AndStayThere) {
  TempDir dir;
  auto o = format(GetParam());
  std::string path = write(dir, "a.rar", {file("a.txt", "hello"), file("b.txt", "world!")}, o);
  Archive a(path, RAR_OM_EXTRACT);
  ASSERT_NE(a.handle(), nullptr) << "open status " << a.openResult();
  RARHeaderDataEx hd;
  for (const char* name : {"a.txt", "b.txt"}) {
    int rc = a.next(hd);
    ASSERT_EQ(rc, ERAR_SUCCESS) << "read status " << rc;
    EXPECT_STREQ(hd.FileName, name);
    EXPECT_EQ(a.process(RAR_TEST), ERAR_SUCCESS);
  }
  EXPECT_EQ(a.next(hd), ERAR_END_ARCHIVE);
  EXPECT_EQ(a.next(hd), ERAR_END_ARCHIVE);
}

TEST_P(BothFormats, ReadingTwiceWithoutProcessingGives12) {
  TempDir dir;
  std::string path =
      write(dir, "a.rar", {file("a.txt", "hello"), file("b.txt", "x")}, format(GetParam()));
  Archive a(path, RAR_OM_LIST);
  RARHeaderDataEx hd;
  ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
  int rc = a.next(hd);
  EXPECT_EQ(rc, ERAR_BAD_DATA) << "second read without processing gave " << rc;
  EXPECT_EQ(a.process(RAR_SKIP), ERAR_SUCCESS);
  ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
  EXPECT_STREQ(hd.FileName, "b.txt");
}

TEST_P(BothFormats, ProcessingWithoutAHeaderIsRefused) {
  TempDir dir;
  std::string path = write(dir, "a.rar", {file("a.txt", "hello")}, format(GetParam()));
  Archive a(path, RAR_OM_EXTRACT);
  int rc = a.process(RAR_TEST);
  EXPECT_NE(rc, ERAR_SUCCESS) << "process before any header gave " << rc;
  RARHeaderDataEx hd;
  ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
  EXPECT_EQ(a.process(RAR_TEST), ERAR_SUCCESS);
  rc = a.process(RAR_TEST);
  EXPECT_NE(rc, ERAR_SUCCESS) << "processing the same entry twice gave " << rc;
}

TEST_P(BothFormats, BrokenHeaderGives12) {
  TempDir dir;
  auto o = format(GetParam());
  o.damage = rarwriter::Damage::BadHeaderCrc;
  std::string path = write(dir, "a.rar", {file("a.txt", "hello")}, o);
  Archive a(path, RAR_OM_LIST);
  ASSERT_NE(a.handle(), nullptr) << "open status " << a.openResult();
  RARHeaderDataEx hd;
  int rc = a.next(hd);
  EXPECT_EQ(rc, ERAR_BAD_DATA) << "read status " << rc;
}

TEST_P(BothFormats, ArchiveFlags) {
  TempDir dir;
  auto o = format(GetParam());
  o.lockFlag = true;
  o.solidFlag = true;
  o.comment = "note";
  std::string path = write(dir, "a.rar", {file("a.txt", "hello")}, o);
  Archive a(path, RAR_OM_LIST);
  ASSERT_NE(a.handle(), nullptr) << "open status " << a.openResult();
  EXPECT_TRUE(a.flags() & ROADF_LOCK) << a.flags();
  EXPECT_TRUE(a.flags() & ROADF_SOLID) << a.flags();
  EXPECT_TRUE(a.flags() & ROADF_COMMENT) << a.flags();
  EXPECT_FALSE(a.flags() & ROADF_VOLUME) << a.flags();
  EXPECT_EQ((a.flags() & ROADF_NEWNUMBERING) != 0, GetParam() == rarwriter::Format::Rar5)
      << a.flags();
}

TEST_P(BothFormats, CommentSizeCountsTheZeroAndTooSmallIsCutAndTerminated) {
  TempDir dir;
  auto o = format(GetParam());
  o.comment = "twelve chars";
  std::string path = write(dir, "a.rar", {file("a.txt", "hello")}, o);
  {
    Archive a(path, RAR_OM_LIST, nullptr, 13);
    ASSERT_NE(a.handle(), nullptr);
    EXPECT_EQ(a.cmtState(), 1u);
    EXPECT_EQ(a.cmtSize(), 13u);
    EXPECT_EQ(a.comment(), "twelve chars");
  }
  {
    Archive a(path, RAR_OM_LIST, nullptr, 5);
    EXPECT_EQ(a.cmtState(), static_cast<unsigned>(ERAR_SMALL_BUF));
    EXPECT_EQ(a.cmtSize(), 5u);
    EXPECT_EQ(a.comment(), "twel");
  }
  {
    Archive a(path, RAR_OM_LIST, nullptr, 0);
    EXPECT_EQ(a.cmtState(), 0u);
    EXPECT_EQ(a.cmtSize(), 0u);
    EXPECT_TRUE(a.flags() & ROADF_COMMENT);
  }
  {
    // A comment ends at its first zero: what follows is neither copied nor counted.
    o.comment = std::string("short\0tail", 10);
    Archive a(write(dir, "zero.rar", {file("a.txt", "hello")}, o), RAR_OM_LIST, nullptr, 7);
    EXPECT_EQ(a.cmtState(), 1u);
    EXPECT_EQ(a.cmtSize(), 6u);
    EXPECT_EQ(a.comment(), "short");
  }
  if (GetParam() == rarwriter::Format::Rar5) {
    // An archive of compressed files has its comment compressed too.
    auto packed = format(GetParam());
    packed.comment = "twelve chars, twelve chars, twelve chars";
    packed.compression = rarwriter::Rar5Compression{};
    const std::string path5 = write(dir, "packed.rar", {file("a.txt", "hello")}, packed);
    EXPECT_EQ(readFile(path5).find("twelve chars, twelve"), std::string::npos);
    Archive a(path5, RAR_OM_LIST, nullptr, 100);
    EXPECT_EQ(a.cmtState(), 1u);
    EXPECT_EQ(a.comment(), packed.comment);
  }
  std::string plain = write(dir, "b.rar", {file("a.txt", "hello")}, format(GetParam()));
  Archive b(plain, RAR_OM_LIST, nullptr, 100);
  EXPECT_EQ(b.cmtState(), 0u);
  EXPECT_FALSE(b.flags() & ROADF_COMMENT);
}

TEST(Comments, OldStyleCommentInTheMainHeader) {
  TempDir dir;
  auto o = format(rarwriter::Format::Rar4);
  o.comment = "old comment";
  o.oldStyleComment = true;
  std::string path = write(dir, "a.rar", {file("a.txt", "hello")}, o);
  Archive a(path, RAR_OM_LIST, nullptr, 100);
  ASSERT_NE(a.handle(), nullptr) << "open status " << a.openResult();
  EXPECT_EQ(a.cmtState(), 1u);
  EXPECT_EQ(a.comment(), "old comment");
  RARHeaderDataEx hd;
  EXPECT_EQ(a.next(hd), ERAR_SUCCESS);
  EXPECT_STREQ(hd.FileName, "a.txt");
  // The main header's CRC, over its fixed part only, is still checked: a
  // damaged main header opens, and the first header read says so.
  std::string damaged = readFile(path);
  damaged[7] = static_cast<char>(damaged[7] ^ 0x01);
  writeFile(dir.file("damaged.rar"), damaged);
  Archive b(dir.file("damaged.rar"), RAR_OM_LIST, nullptr, 100);
  ASSERT_NE(b.handle(), nullptr) << "open status " << b.openResult();
  EXPECT_EQ(b.cmtState(), 0u);
  EXPECT_EQ(b.next(hd), ERAR_BAD_DATA);
}

TEST(Comments, RAROpenArchiveFillsTheCommentToo) {
  TempDir dir;
  auto o = format(rarwriter::Format::Rar4);
  o.comment = "short";
  std::string path = write(dir, "a.rar", {file("a.txt", "hello")}, o);
  char buf[64] = {};
  RAROpenArchiveData od{};
  od.ArcName = path.data();
  od.OpenMode = RAR_OM_EXTRACT;
  od.CmtBuf = buf;
  od.CmtBufSize = sizeof buf;
  HANDLE h = RAROpenArchive(&od);
  ASSERT_NE(h, nullptr) << "open status " << od.OpenResult;
  EXPECT_EQ(od.CmtState, 1u);
  EXPECT_EQ(od.CmtSize, 6u);
  EXPECT_STREQ(buf, "short");
  RARCloseArchive(h);
}

TEST(Fields, Rar4RecordInTheOlderConvention) {
  TempDir dir;
  rarwriter::Entry f = file("dir/a.txt", "hello");
  f.host = rarwriter::HostOS::Unix;
  f.attributes = 0100640;
  f.mtime = 1700000000;
  rarwriter::Entry d;
  d.name = "dir";
  d.directory = true;
  d.host = rarwriter::HostOS::Windows;
  std::string path = write(dir, "a.rar", {f, d}, format(rarwriter::Format::Rar4));
  Archive a(path, RAR_OM_LIST);
  auto hd = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_STREQ(hd->FileName, "dir/a.txt");
  EXPECT_EQ(std::wstring(hd->FileNameW), L"dir/a.txt");
  EXPECT_EQ(std::string(hd->ArcName), path);
  EXPECT_EQ(hd->HostOS, 3u);
  EXPECT_EQ(hd->FileAttr, 0100640u);
  EXPECT_EQ(hd->Method, 0x30u);
  EXPECT_EQ(hd->UnpVer, 29u);
  EXPECT_EQ(hd->UnpSize, 5u);
  EXPECT_EQ(hd->PackSize, 5u);
  EXPECT_EQ(hd->FileCRC, rarwriter::crc32("hello"));
  EXPECT_EQ(hd->HashType, static_cast<unsigned>(RAR_HASH_CRC32));
  EXPECT_NE(hd->Flags & 0xE0, 0xE0u);
  std::time_t t = 1700000000;
  std::tm lt{};
  localtime_r(&t, &lt);
  unsigned dos = (static_cast<unsigned>(lt.tm_year - 80) << 25) |
                 (static_cast<unsigned>(lt.tm_mon + 1) << 21) |
                 (static_cast<unsigned>(lt.tm_mday) << 16) |
                 (static_cast<unsigned>(lt.tm_hour) << 11) |
                 (static_cast<unsigned>(lt.tm_min) << 5) | (static_cast<unsigned>(lt.tm_sec) / 2);
  EXPECT_EQ(hd->FileTime, dos);
  std::uint64_t mt = hd->MtimeLow | (static_cast<std::uint64_t>(hd->MtimeHigh) << 32);
  EXPECT_EQ(mt / 10000000 - 11644473600ULL, 1700000000u);
  EXPECT_EQ(a.process(RAR_SKIP), ERAR_SUCCESS);
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(hd->Flags & 0xE0, 0xE0u) << "directory flags " << hd->Flags;
  EXPECT_EQ(hd->HostOS, 2u);
}

TEST(Fields, Rar5RecordInTheOlderConvention) {
  TempDir dir;
  rarwriter::Entry f = file("a.txt", "hello");
  f.host = rarwriter::HostOS::Windows;
  f.attributes = 0x21;
  rarwriter::Entry u = file("u.txt", "unix");
  u.host = rarwriter::HostOS::Unix;
  u.attributes = 0100600;
  auto o = format(rarwriter::Format::Rar5);
  std::string path = write(dir, "a.rar", {f, u}, o);
  Archive a(path, RAR_OM_LIST);
  auto hd = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(hd->HostOS, 2u);
  EXPECT_EQ(hd->UnpVer, 50u);
  EXPECT_EQ(hd->Method, 0x30u);
  EXPECT_EQ(hd->FileAttr, 0x21u);
  EXPECT_GT(hd->DictSize, 0u);
  EXPECT_EQ(hd->FileCRC, rarwriter::crc32("hello"));
  std::uint64_t mt = hd->MtimeLow | (static_cast<std::uint64_t>(hd->MtimeHigh) << 32);
  EXPECT_EQ(mt / 10000000 - 11644473600ULL, 1700000000u);
  EXPECT_EQ(a.process(RAR_SKIP), ERAR_SUCCESS);
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(hd->HostOS, 3u);
  EXPECT_EQ(hd->FileAttr, 0100600u);

  // The first entry flagged "size unknown": every size field of both records
  // says so, and the entry still tests good.
  std::string bytes = readFile(path);
  const Rar5Header header = firstRar5FileHeader(bytes);
  ASSERT_EQ(bytes[header.fields] & 0x88, 0)
      << "file flags of one byte without the unknown-size flag";
  bytes[header.fields] = static_cast<char>(bytes[header.fields] | 0x08);
  resealRar5Header(bytes, header);
  std::string unknownPath = dir.file("unknown.rar");
  writeFile(unknownPath, bytes);
  Archive unknown(unknownPath, RAR_OM_EXTRACT);
  ASSERT_EQ(unknown.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(hd->UnpSize, 0x7FFFFFFFu);
  EXPECT_EQ(hd->UnpSizeHigh, 0x7FFFFFFFu);
  EXPECT_EQ(unknown.process(RAR_TEST), ERAR_SUCCESS);
  HANDLE h = openForShortRecords(unknownPath);
  ASSERT_NE(h, nullptr);
  RARHeaderData shortHd{};
  EXPECT_EQ(RARReadHeader(h, &shortHd), ERAR_SUCCESS);
  EXPECT_EQ(shortHd.UnpSize, 0x7FFFFFFFu);
  RARCloseArchive(h);
}

TEST(Fields, Rar5Blake2HashIsReportedAndChecked) {
  TempDir dir;
  auto o = format(rarwriter::Format::Rar5);
  o.blake2 = true;
  std::string path = write(dir, "a.rar", {file("a.txt", "hello blake")}, o);
  Archive a(path, RAR_OM_EXTRACT);
  auto hd = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(hd->HashType, static_cast<unsigned>(RAR_HASH_BLAKE2));
  int rc = a.process(RAR_TEST);
  EXPECT_EQ(rc, ERAR_SUCCESS) << "test status " << rc;
}

TEST_P(BothFormats, UnicodeNamesInBothRecords) {
  TempDir dir;
  std::string name = "d\xC3\xA9j\xC3\xA0/\xE8\xA1\xA8\xF0\x9F\x98\x80.txt";
  std::string path = write(dir, "a.rar", {file(name, "x")}, format(GetParam()));
  Archive a(path, RAR_OM_LIST);
  auto hd = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(std::string(hd->FileName), name);
  EXPECT_EQ(std::wstring(hd->FileNameW), L"d\u00e9j\u00e0/\u8868\U0001F600.txt");
}

TEST_P(BothFormats, ShortRecordCutsNamesAt259) {
  TempDir dir;
  // Each name and what of it fits: 259 bytes, or fewer where the 259th byte
  // would split a character.
  const std::pair<std::string, std::string> names[] = {
      {std::string(300, 'n'), std::string(259, 'n')},
      {std::string(258, 'n') + "\xC3\xA9" + std::string(40, 'n'), std::string(258, 'n')},
  };
  std::string path = write(dir, "a.rar", {file(names[0].first, "x"), file(names[1].first, "x")},
                           format(GetParam()));
  HANDLE h = openForShortRecords(path);
  ASSERT_NE(h, nullptr);
  RARHeaderData hd{};
  for (const auto& [name, cut] : names) {
    ASSERT_EQ(RARReadHeader(h, &hd), ERAR_SUCCESS);
    EXPECT_EQ(std::string(hd.FileName), cut);
    EXPECT_EQ(hd.UnpSize, 1u);
    EXPECT_EQ(hd.FileCRC, rarwriter::crc32("x"));
    EXPECT_EQ(hd.CmtState, 0u);
    EXPECT_EQ(RARProcessFile(h, RAR_SKIP, nullptr, nullptr), ERAR_SUCCESS);
  }
  EXPECT_EQ(RARReadHeader(h, &hd), ERAR_END_ARCHIVE);
  RARCloseArchive(h);
}

TEST_P(BothFormats, SelfExtractingStubIsSkipped) {
  TempDir dir;
  auto o = format(GetParam());
  o.sfxStubSize = 300000;
  std::string path = write(dir, "a.exe", {file("a.txt", "inside the sfx")}, o);
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 1u) << "end status " << r.endStatus;
  EXPECT_EQ(r.status[0], ERAR_SUCCESS);
  EXPECT_EQ(readFile(out + "/a.txt"), "inside the sfx");
}

// Header encryption made by hand: the signature, the plain block that says the
// headers are encrypted, and bytes that stand for the encrypted rest.
std::string encryptedHeaders(rarwriter::Format f) {
  std::string out;
  if (f == rarwriter::Format::Rar4) {
    out.assign("Rar!\x1A\x07\x00", 7);
    std::string body("\x73\x80\x00\x0D\x00\x00\x00\x00\x00\x00\x00", 11);
    std::uint32_t crc = rarwriter::crc32(body);
    out += static_cast<char>(crc & 0xFF);
    out += static_cast<char>((crc >> 8) & 0xFF);
    out += body;
  } else {
    out.assign("Rar!\x1A\x07\x01\x00", 8);
    std::string body("\x04\x00\x00\x00\x0F", 5);
    body += std::string(16, '\x5A');
    std::string sized = static_cast<char>(body.size()) + body;
    std::uint32_t crc = rarwriter::crc32(sized);
    for (int i = 0; i < 4; ++i) out += static_cast<char>((crc >> (8 * i)) & 0xFF);
    out += sized;
  }
  out += std::string(64, '\x33');
  return out;
}

TEST_P(BothFormats, HeaderEncryptionWithoutAPasswordGives22) {
  TempDir dir;
  std::string path = dir.file("a.rar");
  writeFile(path, encryptedHeaders(GetParam()));
  // Without a callback at open the open succeeds; the first header read fails.
  Archive a(path, RAR_OM_LIST);
  ASSERT_NE(a.handle(), nullptr) << a.openResult();
  EXPECT_TRUE(a.flags() & ROADF_ENCHEADERS) << a.flags();
  RARHeaderDataEx hd;
  EXPECT_EQ(a.next(hd), ERAR_MISSING_PASSWORD);
  CallbackScript cancel;
  Archive b(path, RAR_OM_LIST, &cancel);
  EXPECT_EQ(b.openResult(), static_cast<unsigned>(ERAR_MISSING_PASSWORD));
  EXPECT_EQ(cancel.passwordAsks, 1);
  // The bytes after the plain block decrypt to nothing valid with any password.
  CallbackScript answer;
  answer.passwords = {"secret"};
  Archive c(path, RAR_OM_LIST, &answer);
  EXPECT_EQ(c.handle(), nullptr);
  EXPECT_EQ(c.openResult(), static_cast<unsigned>(ERAR_BAD_PASSWORD));
}

INSTANTIATE_TEST_SUITE_P(Formats, BothFormats,
                         ::testing::Values(rarwriter::Format::Rar4, rarwriter::Format::Rar5),
                         [](const auto& p) {
                           return p.param == rarwriter::Format::Rar4 ? std::string("Rar4")
                                                                     : std::string("Rar5");
                         });

}  // namespace
