// Testing and extracting entries: checksums, data callbacks, cancel, damaged
// data, overwriting, permissions and times, and the password prompt.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

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

std::string make(const TempDir& dir, rarwriter::Format f,
                 const std::vector<rarwriter::Entry>& entries, rarwriter::Options o = {}) {
  o.format = f;
  std::string path = dir.file(f == rarwriter::Format::Rar4 ? "t4.rar" : "t5.rar");
  rarwriter::write(path, entries, o);
  return path;
}

mode_t currentUmask() {
  mode_t m = umask(022);
  umask(m);
  return m;
}

class Processing : public ::testing::TestWithParam<rarwriter::Format> {};

TEST_P(Processing, TestDecodesAndReportsEveryByte) {
  TempDir dir;
  std::string big(3 * 1024 * 1024 + 17, '\0');
  rarwriter::fillPattern(7, 0, big.data(), big.size());
  std::string path = make(dir, GetParam(), {file("big.bin", big), file("small.txt", "abc")});
  CallbackScript s;
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_TEST, "", &s);
  ASSERT_EQ(r.status.size(), 2u) << "end status " << r.endStatus;
  EXPECT_EQ(r.status[0], ERAR_SUCCESS);
  EXPECT_EQ(r.status[1], ERAR_SUCCESS);
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_EQ(s.dataBytes, big.size() + 3);
  EXPECT_GE(s.dataBlocks, 2);
  EXPECT_TRUE(listTree(dir.path()).size() == 1) << "test wrote files";
}

TEST_P(Processing, ExtractWritesBelowDestPathAndOverwrites) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("sub/dir/a.txt", "new content")});
  std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((out + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((out + "/sub/dir").c_str(), 0755), 0);
  writeFile(out + "/sub/dir/a.txt", "old and longer content");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 1u);
  EXPECT_EQ(r.status[0], ERAR_SUCCESS);
  EXPECT_EQ(readFile(out + "/sub/dir/a.txt"), "new content");
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"sub", "sub/dir", "sub/dir/a.txt"}));
}

TEST_P(Processing, DestNameIsTheWholeOutputName) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("stored/name.txt", "payload")});
  Archive a(path, RAR_OM_EXTRACT);
  RARHeaderDataEx hd;
  ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
  int rc = a.process(RAR_EXTRACT, dir.file("ignored"), dir.file("chosen.bin"));
  EXPECT_EQ(rc, ERAR_SUCCESS) << "extract status " << rc;
  EXPECT_EQ(readFile(dir.file("chosen.bin")), "payload");
  EXPECT_FALSE(exists(dir.file("ignored/stored")));
}

TEST_P(Processing, WideDestinationsWork) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("w.txt", "wide"), file("n.txt", "named")});
  Archive a(path, RAR_OM_EXTRACT);
  RARHeaderDataEx hd;
  // The temporary folder's path is ASCII; the new folder's name is not.
  std::wstring dest(dir.path().begin(), dir.path().end());
  dest += L"/out\u00e9";
  ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
  int rc = RARProcessFileW(a.handle(), RAR_EXTRACT, dest.data(), nullptr);
  EXPECT_EQ(rc, ERAR_SUCCESS) << "wide DestPath gave " << rc;
  EXPECT_EQ(readFile(dir.file("out\xC3\xA9/w.txt")), "wide");
  ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
  std::wstring name = dest + L"/renamed.txt";
  rc = RARProcessFileW(a.handle(), RAR_EXTRACT, nullptr, name.data());
  EXPECT_EQ(rc, ERAR_SUCCESS) << "wide DestName gave " << rc;
  EXPECT_EQ(readFile(dir.file("out\xC3\xA9/renamed.txt")), "named");
}

TEST_P(Processing, DamagedDataGives12AndLeavesTheOldFileAlone) {
  TempDir dir;
  rarwriter::Options o;
  o.damage = rarwriter::Damage::BadDataCrc;
  // Stored entries larger than the spans the kernel copies them in.
  std::string fresh(9 * 1024 * 1024 + 5, '\0'), fine(fresh.size() - 1, '\0');
  rarwriter::fillPattern(3, 0, fresh.data(), fresh.size());
  rarwriter::fillPattern(4, 0, fine.data(), fine.size());
  std::string path = make(dir, GetParam(), {file("a.txt", fresh), file("b.txt", fine)}, o);
  std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  writeFile(out + "/a.txt", "precious");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 2u);
  EXPECT_EQ(r.status[0], ERAR_BAD_DATA) << "damaged entry gave " << r.status[0];
  EXPECT_EQ(r.status[1], ERAR_SUCCESS);
  EXPECT_EQ(readFile(out + "/a.txt"), "precious");
  EXPECT_TRUE(readFile(out + "/b.txt") == fine);
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"a.txt", "b.txt"}))
      << "a temporary file was left";
  RunResult t = runAll(path, RAR_OM_EXTRACT, RAR_TEST, "");
  ASSERT_EQ(t.status.size(), 2u);
  EXPECT_EQ(t.status[0], ERAR_BAD_DATA) << "test of the damaged entry gave " << t.status[0];
}

TEST_P(Processing, TruncatedDataIsAnErrorWithNoPartialFile) {
  TempDir dir;
  rarwriter::Options o;
  o.damage = rarwriter::Damage::Truncated;
  // Large enough for the kernel to copy it: the copy ends where the archive does.
  std::string data(600000, 'z');
  std::string path = make(dir, GetParam(), {file("a.txt", "ok"), file("cut.bin", data)}, o);
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 2u) << "end status " << r.endStatus;
  EXPECT_EQ(r.status[0], ERAR_SUCCESS);
  EXPECT_NE(r.status[1], ERAR_SUCCESS);
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"a.txt"}));
}

TEST_P(Processing, CancelFromTheDataCallbackGives21AndNoFile) {
  TempDir dir;
  std::string big(2 * 1024 * 1024, 'q');
  std::string path = make(dir, GetParam(), {file("big.bin", big)});
  std::string out = dir.file("out");
  CallbackScript s;
  s.processDataCancelAfter = 0;
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out, &s);
  ASSERT_EQ(r.status.size(), 1u);
  EXPECT_EQ(r.status[0], ERAR_UNKNOWN) << "cancel gave " << r.status[0];
  EXPECT_EQ(s.dataBlocks, 1);
  EXPECT_FALSE(exists(out + "/big.bin"));
  EXPECT_TRUE(listTree(out).empty());
}

int g_procCalls = 0;
int abortingProc(unsigned char*, int) {
  ++g_procCalls;
  return 0;
}

TEST_P(Processing, OldProcessDataProcAbortsOnZero) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.txt", "data")});
  Archive a(path, RAR_OM_EXTRACT);
  g_procCalls = 0;
  RARSetProcessDataProc(a.handle(), abortingProc);
  RARHeaderDataEx hd;
  ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
  int rc = a.process(RAR_TEST);
  EXPECT_EQ(rc, ERAR_UNKNOWN) << "abort gave " << rc;
  EXPECT_EQ(g_procCalls, 1);
}

TEST_P(Processing, PermissionsFollowTheStoredAttributes) {
  TempDir dir;
  rarwriter::Entry unixFile = file("u.sh", "#!/bin/sh\n");
  unixFile.host = rarwriter::HostOS::Unix;
  unixFile.attributes = 0100750;
  rarwriter::Entry readOnly = file("ro.txt", "r");
  readOnly.host = rarwriter::HostOS::Windows;
  readOnly.attributes = 0x21;
  rarwriter::Entry normal = file("rw.txt", "w");
  normal.host = rarwriter::HostOS::Windows;
  normal.attributes = 0x20;
  rarwriter::Entry d;
  d.name = "folder";
  d.directory = true;
  d.host = rarwriter::HostOS::Windows;
  std::string path = make(dir, GetParam(), {unixFile, readOnly, normal, d});
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status, (std::vector<int>{0, 0, 0, 0}));
  const mode_t um = currentUmask();
  auto modeOf = [](const std::string& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st.st_mode & 07777;
  };
  EXPECT_EQ(modeOf(out + "/u.sh"), 0750u & ~um);
  EXPECT_EQ(modeOf(out + "/ro.txt"), 0444u & ~um);
  EXPECT_EQ(modeOf(out + "/rw.txt"), 0666u & ~um);
  EXPECT_EQ(modeOf(out + "/folder"), 0777u & ~um);
  struct stat st {};
  ASSERT_EQ(::stat((out + "/rw.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1700000000);
}

// Writing into a folder changes its time: a folder gets its stored time once
// everything in it is written, by the time the archive is closed.
TEST_P(Processing, FoldersKeepTheirStoredTimesAfterTheirContents) {
  TempDir dir;
  rarwriter::Entry d, sub;
  d.name = "d";
  d.directory = true;
  d.mtime = 1500000000;
  sub.name = "d/sub";
  sub.directory = true;
  sub.mtime = 1400000000;
  std::string path =
      make(dir, GetParam(), {d, file("d/f.txt", "f"), file("d/sub/g.txt", "g"), sub});
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status, (std::vector<int>{0, 0, 0, 0}));
  for (const auto& [folder, time] :
       {std::pair{"/d", 1500000000}, std::pair{"/d/sub", 1400000000}}) {
    struct stat st {};
    ASSERT_EQ(::stat((out + folder).c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mtime, time) << folder;
  }
}

// The entry is flagged encrypted but stored in plain: decrypting it gives bytes
// that fail the checksum, as a wrong password would.
TEST_P(Processing, EncryptedEntryAsksForThePasswordThenFails) {
  TempDir dir;
  rarwriter::Entry e = file("secret.txt", "not really encrypted");
  e.encryptedFlagOnly = true;
  std::string path = make(dir, GetParam(), {e, file("plain.txt", "visible")});
  std::string out = dir.file("out");
  {
    CallbackScript s;
    s.passwords = {"pw"};
    RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out, &s);
    ASSERT_EQ(r.status.size(), 2u);
    EXPECT_EQ(r.status[0], ERAR_BAD_DATA) << "encrypted entry gave " << r.status[0];
    EXPECT_EQ(r.status[1], ERAR_SUCCESS);
    EXPECT_EQ(s.passwordAsks, 1);
    EXPECT_EQ(listTree(out), (std::vector<std::string>{"plain.txt"}));
  }
  {
    CallbackScript s;  // no password to give
    RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_TEST, "", &s);
    ASSERT_EQ(r.status.size(), 2u);
    EXPECT_EQ(r.status[0], ERAR_MISSING_PASSWORD) << "refused prompt gave " << r.status[0];
    EXPECT_EQ(s.passwordAsks, 1);
  }
  {
    RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_TEST, "");
    ASSERT_EQ(r.status.size(), 2u);
    EXPECT_EQ(r.status[0], ERAR_MISSING_PASSWORD) << "no callback gave " << r.status[0];
  }
  {
    Archive a(path, RAR_OM_EXTRACT);
    char pw[] = "given";
    RARSetPassword(a.handle(), pw);
    RARHeaderDataEx hd;
    ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
    EXPECT_TRUE(hd.Flags & RHDF_ENCRYPTED) << hd.Flags;
    EXPECT_EQ(a.process(RAR_TEST), ERAR_BAD_DATA);
  }
}

TEST_P(Processing, ListModeOnlySkips) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.txt", "x")});
  std::string out = dir.file("out");
  CallbackScript s;
  RunResult r = runAll(path, RAR_OM_LIST, RAR_EXTRACT, out, &s);
  ASSERT_EQ(r.status, (std::vector<int>{0}));
  EXPECT_FALSE(exists(out));
  EXPECT_EQ(s.dataBlocks, 0);
}

TEST_P(Processing, EmptyFilesAndDirectories) {
  TempDir dir;
  rarwriter::Entry d;
  d.name = "empty dir";
  d.directory = true;
  std::string path = make(dir, GetParam(), {file("zero.bin", ""), d});
  std::string out = dir.file("out");
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  ASSERT_EQ(r.status, (std::vector<int>{0, 0}));
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"empty dir", "zero.bin"}));
  EXPECT_EQ(readFile(out + "/zero.bin"), "");
}

// A disk that fills up mid-file, made with a file size limit.
TEST_P(Processing, WriteFailureGives19AndLeavesNoPartialFile) {
  TempDir dir;
  std::string big(2 * 1024 * 1024, 'f');
  std::string path = make(dir, GetParam(), {file("big.bin", big)});
  std::string out = dir.file("out");
  ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
  writeFile(out + "/big.bin", "earlier version");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 512 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  RunResult r = runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, out);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  ASSERT_EQ(r.status.size(), 1u);
  EXPECT_EQ(r.status[0], ERAR_EWRITE) << "write failure gave " << r.status[0];
  EXPECT_EQ(readFile(out + "/big.bin"), "earlier version");
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"big.bin"}));
}

INSTANTIATE_TEST_SUITE_P(Formats, Processing,
                         ::testing::Values(rarwriter::Format::Rar4, rarwriter::Format::Rar5),
                         [](const auto& p) {
                           return p.param == rarwriter::Format::Rar4 ? std::string("Rar4")
                                                                     : std::string("Rar5");
                         });

}  // namespace
