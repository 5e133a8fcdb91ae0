// Nothing is ever written outside the destination folder: stored names with
// "..", absolute paths, drive letters and zeros, links that point out (directly
// or through other links), folders reached through links, hard links and copies
// of files not extracted here; names longer than the header record, deep
// folders, cut archives and end blocks, and temporary files left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>

#include "rar_writer.h"
#include "unrar.h"
#include "unrar_test_support.h"

using namespace unrartest;

namespace {

rarwriter::Entry file(const std::string& name, const std::string& data) {
  rarwriter::Entry e;
  e.name = name;
  e.data = data;
  return e;
}

rarwriter::Entry symlink(const std::string& name, const std::string& target) {
  rarwriter::Entry e;
  e.name = name;
  e.symlinkTarget = target;
  e.host = rarwriter::HostOS::Unix;
  return e;
}

rarwriter::Entry folder(const std::string& name) {
  rarwriter::Entry e;
  e.name = name;
  e.directory = true;
  e.host = rarwriter::HostOS::Unix;
  return e;
}

rarwriter::Entry reference(const std::string& name, const std::string& target, bool copy) {
  rarwriter::Entry e;
  e.name = name;
  e.hardlinkTarget = target;
  e.fileCopy = copy;
  e.host = rarwriter::HostOS::Unix;
  return e;
}

class Safety : public ::testing::TestWithParam<rarwriter::Format> {
 protected:
  std::string make(const TempDir& dir, const std::vector<rarwriter::Entry>& entries) {
    rarwriter::Options o;
    o.format = GetParam();
    std::string path = dir.file("archive/a.rar");
    ::mkdir(dir.file("archive").c_str(), 0755);
    rarwriter::write(path, entries, o);
    return path;
  }
  // Everything in `dir` outside "out" and "archive".
  static std::vector<std::string> strays(const TempDir& dir) {
    std::vector<std::string> s;
    for (const std::string& p : listTree(dir.path()))
      if (p != "out" && p.rfind("out/", 0) != 0 && p != "archive" && p.rfind("archive/", 0) != 0)
        s.push_back(p);
    return s;
  }
};

TEST_P(Safety, DotDotAbsoluteAndDriveLetterNamesStayInside) {
  TempDir dir;
  std::string path = make(dir, {file("../escape1.txt", "1"), file("/abs/escape2.txt", "2"),
                                file("C:/drive/escape3.txt", "3"), file("a/../../escape4.txt", "4"),
                                file("./ok/./x.txt", "5")});
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0, 0, 0, 0, 0}));
  EXPECT_TRUE(strays(dir).empty()) << strays(dir)[0];
  EXPECT_EQ(readFile(out + "/escape1.txt"), "1");
  EXPECT_EQ(readFile(out + "/abs/escape2.txt"), "2");
  EXPECT_EQ(readFile(out + "/drive/escape3.txt"), "3");
  EXPECT_EQ(readFile(out + "/a/escape4.txt"), "4");
  EXPECT_EQ(readFile(out + "/ok/x.txt"), "5");
}

// The system reads a name up to its first zero: "..\0x" would climb while the
// walk counted one level down. Such entries are damaged; the rest goes on.
TEST_P(Safety, ANameWithAZeroIsRefusedAndTheRestIsExtracted) {
  TempDir dir;
  const std::string up("..\0x/", 5);
  // RAR 4 keeps an ASCII name as it is and writes others in its UTF-16 form.
  std::string path = make(
      dir, {file(up + up + "escape.txt", "1"), file("\xc3\xa9" + up + up + up + "escape.txt", "2"),
            file(up + up + "/etc/escape.txt", "3"), file("ok.txt", "4")});
  writeFile(dir.file("escape.txt"), "mine");
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{ERAR_BAD_DATA, ERAR_BAD_DATA, ERAR_BAD_DATA, 0}));
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  ASSERT_EQ(r.names.size(), 4u);
  EXPECT_EQ(r.names[0], "..\xef\xbf\xbdx/..\xef\xbf\xbdx/escape.txt");
  EXPECT_EQ(readFile(dir.file("escape.txt")), "mine");
  EXPECT_EQ(strays(dir), std::vector<std::string>{"escape.txt"});
  EXPECT_EQ(listTree(out), std::vector<std::string>{"ok.txt"});
  EXPECT_EQ(runAll(path, RAR_OM_EXTRACT, RAR_TEST, "").status, r.status);
}

// A caller decides about an entry by the name in the header record (1,024
// characters): an entry whose name does not fit is never written under it.
TEST_P(Safety, ANameLongerThanTheRecordIsNotWrittenUnderIt) {
  TempDir dir;
  std::string folders;
  for (int i = 0; i < 9; ++i) folders += std::string(120, static_cast<char>('a' + i)) + "/";
  const std::string fits = folders.substr(0, 1023 - 6) + "/f.txt";
  std::string path = make(dir, {file(folders + "long.txt", "1"), file(fits, "2")});
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{ERAR_ECREATE, 0}));
  EXPECT_EQ(readFile(out + "/" + fits), "2");
  EXPECT_FALSE(exists(out + "/" + folders + "long.txt"));
  EXPECT_EQ(runAll(path, RAR_OM_EXTRACT, RAR_TEST, "").status, (std::vector<int>{0, 0}));
  // Under a name the caller gives, it is written.
  Archive a(path, RAR_OM_EXTRACT);
  auto hd = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(a.process(RAR_EXTRACT, "", out + "/given.txt"), ERAR_SUCCESS);
  EXPECT_EQ(readFile(out + "/given.txt"), "1");
}

TEST_P(Safety, SymlinkPointingOutsideFailsWith16AndCreatesNothing) {
  TempDir dir;
  std::string path = make(dir, {symlink("up", "../outside"), symlink("deep/up2", "../../x"),
                                symlink("abs", "/etc/passwd"), symlink("in/ok", "../target.txt"),
                                file("target.txt", "t")});
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 5u);
  EXPECT_EQ(r.status[0], ERAR_ECREATE) << "link ../outside gave " << r.status[0];
  EXPECT_EQ(r.status[1], ERAR_ECREATE) << "link deep/../../x gave " << r.status[1];
  EXPECT_EQ(r.status[2], ERAR_ECREATE) << "absolute link gave " << r.status[2];
  EXPECT_EQ(r.status[3], ERAR_SUCCESS) << "inside link gave " << r.status[3];
  EXPECT_FALSE(exists(out + "/up"));
  EXPECT_FALSE(exists(out + "/abs"));
  char target[256] = {};
  ASSERT_GT(readlink((out + "/in/ok").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ(target, "../target.txt");
  EXPECT_TRUE(strays(dir).empty());
}

TEST_P(Safety, FolderReachedThroughALinkOutsideIsRefused) {
  TempDir dir;
  std::string path = make(dir, {file("evil/payload.txt", "gotcha")});
  std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(dir.file("victim").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("../victim", (out + "/evil").c_str()), 0);
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 1u);
  EXPECT_EQ(r.status[0], ERAR_ECREATE) << "write through an outside link gave " << r.status[0];
  EXPECT_TRUE(listTree(dir.file("victim")).empty());
}

TEST_P(Safety, ExistingTargetSurvivesAFailedEntry) {
  TempDir dir;
  std::string path = make(dir, {symlink("keep.txt", "../../outside")});
  std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  writeFile(out + "/keep.txt", "mine");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 1u);
  EXPECT_EQ(r.status[0], ERAR_ECREATE);
  EXPECT_EQ(readFile(out + "/keep.txt"), "mine");
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"keep.txt"}));
}

TEST_P(Safety, CreateFailureUnderARegularFileGives16) {
  TempDir dir;
  std::string path = make(dir, {file("a.txt", "x")});
  writeFile(dir.file("plainfile"), "not a folder");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, dir.file("plainfile/out"));
  ASSERT_EQ(r.status.size(), 1u);
  EXPECT_EQ(r.status[0], ERAR_ECREATE) << "create under a file gave " << r.status[0];
}

INSTANTIATE_TEST_SUITE_P(Formats, Safety,
                         ::testing::Values(rarwriter::Format::Rar4, rarwriter::Format::Rar5),
                         [](const auto& p) {
                           return p.param == rarwriter::Format::Rar4 ? std::string("Rar4")
                                                                     : std::string("Rar5");
                         });

TEST(HardLinks, LinkToAnExtractedFileSharesItsData) {
  TempDir dir;
  rarwriter::Entry link;
  link.name = "copy.txt";
  link.hardlinkTarget = "orig.txt";
  rarwriter::Options o;
  o.format = rarwriter::Format::Rar5;
  std::string path = dir.file("a.rar");
  rarwriter::write(path, {file("orig.txt", "shared"), link}, o);
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0, 0}));
  EXPECT_EQ(readFile(out + "/copy.txt"), "shared");
}

TEST(HardLinks, LinkToAFileNotExtractedHereIsRefused) {
  TempDir dir;
  rarwriter::Entry link;
  link.name = "copy.txt";
  link.hardlinkTarget = "orig.txt";
  rarwriter::Options o;
  o.format = rarwriter::Format::Rar5;
  std::string path = dir.file("a.rar");
  rarwriter::write(path, {file("orig.txt", "shared"), link}, o);
  std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  writeFile(out + "/orig.txt", "someone else's file");
  Archive a(path, RAR_OM_EXTRACT);
  auto hd = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  ASSERT_EQ(a.process(RAR_SKIP), ERAR_SUCCESS);
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  EXPECT_EQ(hd->RedirType, 4u);
  int rc = a.process(RAR_EXTRACT, out);
  EXPECT_EQ(rc, ERAR_EREFERENCE) << "link to an unextracted file gave " << rc;
  EXPECT_FALSE(exists(out + "/copy.txt"));
}

TEST(Redirection, RedirNameGoesIntoTheCallersBuffer) {
  TempDir dir;
  rarwriter::Options o;
  o.format = rarwriter::Format::Rar5;
  std::string path = dir.file("a.rar");
  rarwriter::write(path, {symlink("l", "target/file")}, o);
  Archive a(path, RAR_OM_LIST);
  auto hd = std::make_unique<RARHeaderDataEx>();
  std::memset(hd.get(), 0, sizeof *hd);
  wchar_t buf[64];
  hd->RedirName = buf;
  hd->RedirNameSize = 64;
  ASSERT_EQ(RARReadHeaderEx(a.handle(), hd.get()), ERAR_SUCCESS);
  EXPECT_EQ(hd->RedirType, 1u);
  EXPECT_EQ(std::wstring(buf), L"target/file");
}

}  // namespace

namespace {

// RAR 5 archives whose links, hard links and copies try to reach a file
// beside the destination folder, most through a link that is itself inside.
struct LinkCase {
  const char* what;
  std::vector<rarwriter::Entry> entries;
  std::vector<int> status;
  std::vector<std::string> absent;                         // below the destination
  std::vector<std::pair<std::string, std::string>> files;  // read through links
};

void PrintTo(const LinkCase& c, std::ostream* os) {
  *os << c.what;
}

const rarwriter::Entry kUp = symlink("p/q/up", "../..");  // inside: the destination itself
const int kOk = ERAR_SUCCESS;

const LinkCase kLinkCases[] = {
    {"link through an inside link",
     {kUp, symlink("esc", "p/q/up/../../../secret.txt")},
     {kOk, ERAR_ECREATE},
     {"esc"},
     {}},
    {"link in a folder reached through an inside link",
     {kUp, symlink("p/q/up/esc", "../secret.txt")},
     {kOk, ERAR_ECREATE},
     {"esc"},
     {}},
    {"file copy through an inside link",
     {kUp, reference("stolen", "p/q/up/../../../secret.txt", true)},
     {kOk, ERAR_EREFERENCE},
     {"stolen"},
     {}},
    {"hard link through an inside link",
     {kUp, reference("stolen", "p/q/up/../../../secret.txt", false)},
     {kOk, ERAR_EREFERENCE},
     {"stolen"},
     {}},
    // Without its ".." the source would name "orig", which this run wrote.
    {"copy and hard link whose source climbs",
     {file("orig", "data"), reference("c", "../orig", true), reference("h", "../orig", false)},
     {kOk, ERAR_EREFERENCE, ERAR_EREFERENCE},
     {"c", "h"},
     {}},
    {"copy of a file replaced by a link since",
     {file("g", "inside"), file("f", "mine"), symlink("f", "g"), reference("c", "f", true)},
     {kOk, kOk, kOk, ERAR_EREFERENCE},
     {"c"},
     {{"f", "inside"}}},
    {"hard link to a file replaced by a link since",
     {file("g", "inside"), file("f", "mine"), symlink("f", "g"), reference("c", "f", false)},
     {kOk, kOk, kOk, ERAR_EREFERENCE},
     {"c"},
     {}},
    // A later entry may point "m" somewhere shallower: no climbing after a link.
    {"climb after a link",
     {folder("d1/d2"), symlink("m", "d1/d2"), symlink("a", "m/../../x")},
     {kOk, kOk, ERAR_ECREATE},
     {"a"},
     {}},
    // ... nor after a part that a later entry could make a link.
    {"climb after a missing part",
     {symlink("a", "m/n/b/../../../secret.txt"), folder("m/n"), kUp},
     {ERAR_ECREATE, kOk, kOk},
     {"a"},
     {}},
    {"links that stay inside",
     {folder("lib"), symlink("lib64", "lib"), file("lib64/libz.so.1", "z"),
      symlink("lib64/libz.so", "libz.so.1"), symlink("bin/sh", "../lib64/libz.so"),
      symlink("dir/self", "."), file("dir/self/self/x", "x")},
     {kOk, kOk, kOk, kOk, kOk, kOk, kOk},
     {},
     {{"lib/libz.so.1", "z"}, {"bin/sh", "z"}, {"dir/x", "x"}}},
    {"copies and hard links of files written here",
     {file("orig", "data"), reference("copy", "orig", true), reference("hard", "orig", false),
      reference("copy2", "copy", true)},
     {kOk, kOk, kOk, kOk},
     {},
     {{"copy", "data"}, {"hard", "data"}, {"copy2", "data"}}},
    {"the same hard link twice",
     {file("orig", "data"), reference("hard", "orig", false), reference("hard", "orig", false)},
     {kOk, kOk, kOk},
     {},
     {{"hard", "data"}}},
};

class HostileLinks : public ::testing::TestWithParam<LinkCase> {};

TEST_P(HostileLinks, NothingOutsideIsReachedAndTheRestIsExtracted) {
  const LinkCase& c = GetParam();
  TempDir dir;
  rarwriter::Options o;
  o.format = rarwriter::Format::Rar5;
  std::string path = dir.file("a.rar");
  rarwriter::write(path, c.entries, o);
  writeFile(dir.file("secret.txt"), "secret");
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  for (const std::string& p : c.absent) {
    struct stat st {};
    EXPECT_NE(::lstat((out + "/" + p).c_str(), &st), 0) << p << " was made";
  }
  for (const auto& [p, data] : c.files) EXPECT_EQ(readFile(out + "/" + p), data) << p;
  for (const std::string& p : listTree(out)) {
    EXPECT_EQ(p.find(".qmtmp-"), std::string::npos) << p << " left behind";
    struct stat st {};
    if (::lstat((out + "/" + p).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      EXPECT_NE(readFile(out + "/" + p), "secret") << p;
    }
  }
  EXPECT_EQ(listTree(dir.path()).size(), listTree(out).size() + 3) << "something beside out";
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileLinks, ::testing::ValuesIn(kLinkCases));

// A deep folder costs its depth once; a path longer than the header record or
// the system can name is refused before anything is made. 511 levels are the
// most a name that fits the record (1,023 bytes) can hold.
TEST(DeepFolders, MadeOrRefusedInSeconds) {
  struct Case {
    int levels;
    int status;
  };
  for (const Case c : {Case{511, ERAR_SUCCESS}, Case{10000, ERAR_ECREATE}}) {
    TempDir dir;
    std::string name;
    for (int i = 0; i < c.levels; ++i) name += "d/";
    rarwriter::Options o;
    o.format = rarwriter::Format::Rar5;
    std::string path = dir.file("a.rar");
    rarwriter::write(path, {file(name + "f", "deep")}, o);
    const auto start = std::chrono::steady_clock::now();
    RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, dir.file("out"));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.status, std::vector<int>{c.status}) << c.levels << " levels";
    // Every level resolved again took 100 s for 1,500 levels (several for 511);
    // mkdir alone can take seconds on a busy file system.
    EXPECT_LT(seconds, 30.0) << c.levels << " levels";
    if (c.status == ERAR_SUCCESS) {
      EXPECT_EQ(readFile(dir.file("out/") + name + "f"), "deep");
    } else {
      EXPECT_TRUE(listTree(dir.file("out")).empty()) << c.levels << " levels";
    }
  }
}

// A block that starts but does not fit in the file is damage. The end of the
// file between blocks, without an end block, is a valid end for RAR 4 (old
// writers leave the end block out) and damage for RAR 5 (every volume has one),
// reported after the entries that are whole.
TEST(CutArchives, CutInsideABlockIsDamageCutBetweenBlocksIsTheEndOnlyForRar4) {
  struct Cut {
    const char* where;
    std::vector<int> status;
    int end;
  };
  for (rarwriter::Format format : {rarwriter::Format::Rar4, rarwriter::Format::Rar5}) {
    for (const std::string password : {"", "pw"}) {
      TempDir dir;
      rarwriter::Options o;
      o.format = format;
      o.headerPassword = password;
      std::string full = dir.file("full.rar");
      rarwriter::write(full,
                       {file("a.txt", "a"), file("b.txt", "b"), file("c.txt", "c"),
                        file("d.txt", std::string(100, 'd'))},
                       o);
      const std::string bytes = readFile(full);
      // Encrypted: a salt or an IV, then the block padded to whole cipher blocks.
      const std::size_t endBlock = format == rarwriter::Format::Rar4 ? (password.empty() ? 7 : 24)
                                                                     : (password.empty() ? 8 : 32);
      std::vector<std::pair<std::size_t, Cut>> cuts = {
          {bytes.size() - 3, {"in the end block", {0, 0, 0, 0}, ERAR_BAD_DATA}},
          {bytes.size() - endBlock,
           {"before the end block",
            {0, 0, 0, 0},
            format == rarwriter::Format::Rar4 ? ERAR_END_ARCHIVE : ERAR_BAD_DATA}},
      };
      if (password.empty()) {
        const std::size_t lastName = bytes.find("d.txt");
        ASSERT_NE(lastName, std::string::npos);
        cuts.push_back({lastName + 2, {"in the last file header", {0, 0, 0}, ERAR_BAD_DATA}});
        cuts.push_back({bytes.size() - endBlock - 10,
                        {"in the last file's data", {0, 0, 0, ERAR_BAD_DATA}, ERAR_BAD_DATA}});
      }
      const std::string what = std::string(format == rarwriter::Format::Rar4 ? "RAR 4" : "RAR 5") +
                               (password.empty() ? "" : ", encrypted headers") + ", cut ";
      for (const auto& [size, cut] : cuts) {
        const std::string path = dir.file("cut.rar");
        writeFile(path, bytes.substr(0, size));
        RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_TEST, "", nullptr, password);
        EXPECT_EQ(r.status, cut.status) << what << cut.where;
        EXPECT_EQ(r.endStatus, cut.end) << what << cut.where;
        RunResult listed = runAll(path, RAR_OM_LIST, RAR_SKIP, "", nullptr, password);
        EXPECT_EQ(listed.endStatus, cut.end) << what << cut.where << ", listed";
      }
    }
  }
}

// An end block whose header CRC fails is not the end. Under RAR 4 header
// encryption a wrong key makes blocks of every kind, so a first block that
// fails is a wrong password, never an empty archive. A plain RAR 4 end block's
// CRC is not relied on: it only adds the "more volumes" hint.
TEST(CutArchives, AnEndBlockWithABadCrcIsNotTheEnd) {
  struct Case {
    rarwriter::Format format;
    const char* password;
    std::size_t entries;
    std::vector<int> status;
    int end;
  };
  const Case cases[] = {
      {rarwriter::Format::Rar4, "", 1, {0}, ERAR_END_ARCHIVE},
      {rarwriter::Format::Rar4, "pw", 1, {0}, ERAR_BAD_DATA},
      {rarwriter::Format::Rar4, "pw", 0, {}, ERAR_BAD_PASSWORD},
      {rarwriter::Format::Rar5, "", 1, {0}, ERAR_BAD_DATA},
      {rarwriter::Format::Rar5, "pw", 1, {0}, ERAR_BAD_DATA},
  };
  for (const Case& c : cases) {
    TempDir dir;
    rarwriter::Options o;
    o.format = c.format;
    o.headerPassword = c.password;
    o.damage = rarwriter::Damage::BadEndCrc;
    const std::string path = dir.file("a.rar");
    rarwriter::write(path, std::vector<rarwriter::Entry>(c.entries, file("a.txt", "a")), o);
    const std::string what = std::string(c.format == rarwriter::Format::Rar4 ? "RAR 4" : "RAR 5") +
                             ", password \"" + c.password + "\", " + std::to_string(c.entries) +
                             " entries";
    RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_TEST, "", nullptr, c.password);
    EXPECT_EQ(r.status, c.status) << what;
    EXPECT_EQ(r.endStatus, c.end) << what;
  }
}

// An entry declaring a dictionary beyond 4 GiB is decoded only when the
// callback allows it (UCM_LARGEDICT: the dictionary and the limit in KB, 1
// allows); otherwise it fails with ERAR_LARGE_DICT and nothing is written.
TEST(LargeDictionaries, DecodedOnlyWhenTheCallbackAllows) {
  constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
  struct Case {
    std::uint64_t dictionary;
    bool callback;
    int answer;
    int status;
  };
  const Case cases[] = {
      {64 * kGiB, false, 0, ERAR_LARGE_DICT}, {64 * kGiB, true, 0, ERAR_LARGE_DICT},
      {64 * kGiB, true, -1, ERAR_LARGE_DICT}, {64 * kGiB, true, 1, ERAR_SUCCESS},
      {4 * kGiB, false, 0, ERAR_SUCCESS},
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.dictionary >> 30) + " GiB, " +
                             (c.callback ? "answer " + std::to_string(c.answer) : "no callback");
    TempDir dir;
    rarwriter::Options o;
    o.compression = rarwriter::Rar5Compression{};
    o.compression->version = 1;
    o.compression->dictionary = c.dictionary;
    const std::string path = dir.file("a.rar");
    rarwriter::write(path, {file("big.txt", "declares a large window")}, o);
    CallbackScript s;
    s.largeDictAnswer = c.answer;
    const std::string out = dir.file("out");
    RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out, c.callback ? &s : nullptr);
    EXPECT_EQ(r.status, std::vector<int>{c.status}) << what;
    const bool asked = c.callback && c.dictionary > 4 * kGiB;
    EXPECT_EQ(s.largeDicts, (asked ? std::vector<std::pair<long, long>>{{64 << 20, 4 << 20}}
                                   : std::vector<std::pair<long, long>>{}))
        << what;
    EXPECT_EQ(listTree(out),
              (c.status ? std::vector<std::string>{} : std::vector<std::string>{"big.txt"}))
        << what;
  }
}

// A temporary name says which process of which machine made it, and only
// what a gone process of this machine left is swept (see the internals
// tests): a user's file of a like name stays, and no entry of an archive is
// written under a temporary name, where a later sweep could take it.
TEST(TemporaryNames, AUsersFileStaysAndNoEntryIsWrittenUnderOne) {
  TempDir dir;
  const std::string path = dir.file("a.rar");
  const std::string tempLike = ".qmtmp-0123456789abcdef-01234567-1-1-abcdefghij";
  rarwriter::write(path, {file(tempLike, "archive's"), file("x.txt", "x")});
  const std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  writeFile(out + "/.qmtmp-notes12345", "user's");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{ERAR_ECREATE, 0}));
  EXPECT_EQ(readFile(out + "/.qmtmp-notes12345"), "user's");
  EXPECT_FALSE(exists(out + "/" + tempLike));
  EXPECT_EQ(readFile(out + "/x.txt"), "x");
}

// The name reported is the name written, so that a caller's questions about
// Directory + "/" + name are about the file actually made.
TEST(Names, TheReportedNameIsThePathWritten) {
  struct Case {
    rarwriter::Format format;
    rarwriter::HostOS host;
    const char* stored;
    const char* reported;
    bool rar4Utf8Names = false;
  };
  const Case cases[] = {
      {rarwriter::Format::Rar5, rarwriter::HostOS::Unix, "u\\b", "u\\b"},
      {rarwriter::Format::Rar5, rarwriter::HostOS::Windows, "w\\b", "w_b"},
      {rarwriter::Format::Rar4, rarwriter::HostOS::Windows, "w\\b", "w/b"},
      {rarwriter::Format::Rar5, rarwriter::HostOS::Unix, "./x/../y.txt", "x/y.txt"},
      {rarwriter::Format::Rar4, rarwriter::HostOS::Windows, "./x/../y.txt", "x/y.txt"},
      {rarwriter::Format::Rar5, rarwriter::HostOS::Windows, "C:/drive.txt", "drive.txt"},
      {rarwriter::Format::Rar4, rarwriter::HostOS::Windows, "C:/drive.txt", "drive.txt"},
      {rarwriter::Format::Rar5, rarwriter::HostOS::Unix, "/lead.txt", "lead.txt"},
      {rarwriter::Format::Rar4, rarwriter::HostOS::Unix, "/lead.txt", "lead.txt"},
      {rarwriter::Format::Rar5, rarwriter::HostOS::Windows, "dir/ordinary name.txt",
       "dir/ordinary name.txt"},
      // Bytes that are no UTF-8 (or an overlong form of "..") are written as
      // the Latin-1 characters the wide name shows.
      {rarwriter::Format::Rar5, rarwriter::HostOS::Unix, "bad\xff.txt", "bad\xc3\xbf.txt"},
      {rarwriter::Format::Rar4, rarwriter::HostOS::Unix, "bad\xff.txt", "bad\xc3\xbf.txt", true},
      {rarwriter::Format::Rar5, rarwriter::HostOS::Unix, "\xc0\xae\xc0\xae/x.txt",
       "\xc3\x80\xc2\xae\xc3\x80\xc2\xae/x.txt"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    rarwriter::Entry e = file(c.stored, "written");
    e.host = c.host;
    rarwriter::Options o;
    o.format = c.format;
    o.rar4Utf8Names = c.rar4Utf8Names;
    std::string path = dir.file("a.rar");
    rarwriter::write(path, {e}, o);
    std::string out = dir.file("out");
    RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
    ASSERT_EQ(r.names.size(), 1u) << c.stored;
    EXPECT_EQ(r.names[0], c.reported) << c.stored;
    EXPECT_EQ(r.status, std::vector<int>{0}) << c.stored;
    EXPECT_EQ(readFile(out + "/" + r.names[0]), "written") << c.stored;
    EXPECT_EQ(runAll(path, RAR_OM_LIST, RAR_SKIP, "").names, r.names) << c.stored;
  }
}

}  // namespace
