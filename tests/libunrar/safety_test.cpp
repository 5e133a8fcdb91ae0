// Nothing is ever written outside the destination folder: stored names with
// "..", absolute paths and drive letters, links that point out, folders
// reached through links, and hard links to files not extracted.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
