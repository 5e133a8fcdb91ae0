// Encrypted archives through the published interface, on fixtures made by the
// project's RAR writer (stored entries, AES-128 for RAR 4 and AES-256 for RAR 5,
// encrypted data and encrypted headers): right, wrong and missing passwords by
// RARSetPassword and by the callback, the component's call sequence, long and
// 8-bit passwords, mixed passwords, comments, volumes and tampered ciphertext.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "rar_writer.h"
#include "unrar.h"
#include "unrar_test_support.h"

using namespace unrartest;
using rarwriter::Format;

namespace {

rarwriter::Entry file(const std::string& name, const std::string& data,
                      const std::string& password = {}) {
  rarwriter::Entry e;
  e.name = name;
  e.data = data;
  e.password = password;
  return e;
}

// Several cipher blocks and a ragged end, so padding is always involved.
std::string content(int seed, std::size_t size = 5000) {
  std::string s(size, '\0');
  rarwriter::fillPattern(static_cast<std::uint64_t>(seed), 0, s.data(), s.size());
  return s;
}

std::string make(const TempDir& dir, Format f, const std::vector<rarwriter::Entry>& entries,
                 rarwriter::Options o = {}) {
  o.format = f;
  std::string path = dir.file(f == Format::Rar4 ? "enc4.rar" : "enc5.rar");
  rarwriter::write(path, entries, o);
  return path;
}

int wrongPasswordCode(Format f) {
  return f == Format::Rar4 ? ERAR_BAD_DATA : ERAR_BAD_PASSWORD;
}

struct HandleCloser {
  void operator()(void* h) const {
    if (h) RARCloseArchive(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// Opens the way the program's component does: RAROpenArchive without a
// callback, then RARSetCallback, then RARSetPassword only when it has one.
Handle openLikeTheComponent(const std::string& path, unsigned mode, CallbackScript* script,
                            const char* password, unsigned* openResult = nullptr,
                            unsigned* cmtState = nullptr) {
  RAROpenArchiveData od;
  std::memset(&od, 0, sizeof od);
  std::string name = path;
  char cmt[256] = {};
  od.ArcName = name.data();
  od.OpenMode = mode;
  od.CmtBuf = cmt;
  od.CmtBufSize = sizeof cmt;
  Handle h(RAROpenArchive(&od));
  if (openResult) *openResult = od.OpenResult;
  if (cmtState) *cmtState = od.CmtState;
  if (!h) return h;
  if (script) RARSetCallback(h.get(), CALLBACK_recorder, reinterpret_cast<LPARAM>(script));
  if (password) {
    std::string pw = password;
    RARSetPassword(h.get(), pw.data());
  }
  return h;
}

struct Outcome {
  std::vector<std::string> names;
  std::vector<int> status;
  int endStatus = 0;
};

// Reads every header and processes it with `op` into `dest`.
Outcome processAll(HANDLE h, int op, const std::string& dest) {
  Outcome r;
  for (int guard = 0; guard < 100; ++guard) {
    auto hd = std::make_unique<RARHeaderDataEx>();
    std::memset(hd.get(), 0, sizeof *hd);
    int rc = RARReadHeaderEx(h, hd.get());
    if (rc != ERAR_SUCCESS) {
      r.endStatus = rc;
      break;
    }
    r.names.push_back(hd->FileName);
    std::string d = dest;
    r.status.push_back(RARProcessFile(h, op, d.empty() ? nullptr : d.data(), nullptr));
  }
  return r;
}

class Encrypted : public ::testing::TestWithParam<Format> {};

TEST_P(Encrypted, RightPasswordBySetPasswordExtractsTheTrueBytes) {
  TempDir dir;
  const std::string a = content(1), b = content(2, 16), c = content(3, 1);
  std::string path = make(dir, GetParam(),
                          {file("a.bin", a, "opensesame"), file("b.bin", b, "opensesame"),
                           file("plain.txt", "not secret"), file("c.bin", c, "opensesame")});
  std::string out = dir.file("out");
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, "opensesame");
  ASSERT_TRUE(h);
  Outcome r = processAll(h.get(), RAR_EXTRACT, out);
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_EQ(r.status, (std::vector<int>{0, 0, 0, 0}));
  // Padding never reaches the files: sizes are the true ones.
  EXPECT_EQ(readFile(out + "/a.bin"), a);
  EXPECT_EQ(readFile(out + "/b.bin"), b);
  EXPECT_EQ(readFile(out + "/c.bin"), c);
  EXPECT_EQ(readFile(out + "/plain.txt"), "not secret");
}

TEST_P(Encrypted, TestModeReportsThePlainDataThroughTheCallback) {
  TempDir dir;
  const std::string a = content(4, 100000);
  std::string path = make(dir, GetParam(), {file("a.bin", a, "pw")});
  CallbackScript s;
  s.passwords = {"pw"};
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
  ASSERT_TRUE(h);
  Outcome r = processAll(h.get(), RAR_TEST, "");
  EXPECT_EQ(r.status, (std::vector<int>{0}));
  EXPECT_EQ(s.dataBytes, a.size()) << "padding or ciphertext reported as data";
  EXPECT_EQ(s.passwordAsks, 1);
}

TEST_P(Encrypted, CallbackIsAskedOnceForAllEntriesInTheComponentSequence) {
  TempDir dir;
  std::string path = make(dir, GetParam(),
                          {file("a.bin", content(5), "pw"), file("b.bin", content(6), "pw"),
                           file("c.bin", content(7), "pw")});
  CallbackScript s;
  s.passwords = {"pw", "never used"};
  std::string out = dir.file("out");
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
  ASSERT_TRUE(h);
  Outcome r = processAll(h.get(), RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(s.passwordAsks, 1);
  EXPECT_EQ(readFile(out + "/c.bin"), content(7));
}

TEST_P(Encrypted, WrongPasswordFailsThatEntryLeavesNoFileAndTheArchiveGoesOn) {
  TempDir dir;
  std::string path =
      make(dir, GetParam(), {file("secret.bin", content(8), "right"), file("plain.txt", "open")});
  std::string out = dir.file("out");
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, "wrong");
  ASSERT_TRUE(h);
  Outcome r = processAll(h.get(), RAR_EXTRACT, out);
  ASSERT_EQ(r.status.size(), 2u);
  EXPECT_EQ(r.status[0], wrongPasswordCode(GetParam())) << "wrong password gave " << r.status[0];
  EXPECT_EQ(r.status[1], ERAR_SUCCESS);
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"plain.txt"}));
}

TEST_P(Encrypted, WrongPasswordIsRejectedInTestModeToo) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("secret.bin", content(9), "right")});
  CallbackScript s;
  s.passwords = {"wrong"};
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
  Outcome r = processAll(h.get(), RAR_TEST, "");
  ASSERT_EQ(r.status.size(), 1u);
  EXPECT_EQ(r.status[0], wrongPasswordCode(GetParam())) << r.status[0];
  // Wrong data must never be handed out as the file's bytes.
  if (GetParam() == Format::Rar5) {
    EXPECT_EQ(s.dataBlocks, 0) << "data decoded before the check";
  }
}

TEST_P(Encrypted, MissingPasswordGives22WhetherNoCallbackRefusedOrEmpty) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("secret.bin", "x", "pw"), file("p.txt", "y")});
  {
    Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, nullptr);
    Outcome r = processAll(h.get(), RAR_TEST, "");
    EXPECT_EQ(r.status, (std::vector<int>{ERAR_MISSING_PASSWORD, 0})) << "no callback";
  }
  {
    CallbackScript refuse;  // no answers: -1
    Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &refuse, nullptr);
    Outcome r = processAll(h.get(), RAR_TEST, "");
    EXPECT_EQ(r.status, (std::vector<int>{ERAR_MISSING_PASSWORD, 0})) << "refused";
    EXPECT_EQ(refuse.passwordAsks, 1);
  }
  {
    CallbackScript empty;
    empty.passwords = {""};
    Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &empty, nullptr);
    Outcome r = processAll(h.get(), RAR_TEST, "");
    EXPECT_EQ(r.status, (std::vector<int>{ERAR_MISSING_PASSWORD, 0})) << "empty answer";
  }
  {
    // An empty RARSetPassword is no password.
    CallbackScript s;
    s.passwords = {"pw"};
    Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, "");
    Outcome r = processAll(h.get(), RAR_TEST, "");
    EXPECT_EQ(r.status, (std::vector<int>{0, 0}));
    EXPECT_EQ(s.passwordAsks, 1);
  }
}

TEST_P(Encrypted, SkippingAnEncryptedEntryNeedsNoPassword) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("secret.bin", "x", "pw"), file("p.txt", "y")});
  CallbackScript s;
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
  Outcome r = processAll(h.get(), RAR_SKIP, "");
  EXPECT_EQ(r.status, (std::vector<int>{0, 0}));
  EXPECT_EQ(s.passwordAsks, 0);
}

TEST_P(Encrypted, FortyCharacterPasswordsWorkForDataAndHeaders) {
  TempDir dir;
  const std::string pw(40, 'p');
  rarwriter::Options o;
  o.headerPassword = pw;
  std::string path = make(dir, GetParam(), {file("long.bin", content(10), pw)}, o);
  std::string out = dir.file("out");
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, pw.c_str());
  ASSERT_TRUE(h);
  Outcome r = processAll(h.get(), RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0}));
  EXPECT_EQ(readFile(out + "/long.bin"), content(10));
  // One character less is another password.
  Handle w = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, pw.substr(1).c_str());
  Outcome bad = processAll(w.get(), RAR_TEST, "");
  EXPECT_TRUE(bad.names.empty());
  EXPECT_EQ(bad.endStatus, ERAR_BAD_PASSWORD);
}

TEST_P(Encrypted, EightBitPasswordIsTakenAsLatin1) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.bin", content(11), "\xC3\xA9t\xC3\xA9")});
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, "\xE9t\xE9");
  Outcome r = processAll(h.get(), RAR_TEST, "");
  EXPECT_EQ(r.status, (std::vector<int>{0}));
}

TEST_P(Encrypted, MixedPasswordsBySetPasswordFailOnlyTheOtherEntries) {
  TempDir dir;
  std::string path =
      make(dir, GetParam(),
           {file("one.bin", content(12), "first"), file("two.bin", content(13), "second"),
            file("three.bin", content(14), "first")});
  std::string out = dir.file("out");
  CallbackScript s;
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, "first");
  Outcome r = processAll(h.get(), RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0, wrongPasswordCode(GetParam()), 0}));
  EXPECT_EQ(s.passwordAsks, 0) << "a set password is never asked for";
  EXPECT_EQ(listTree(out), (std::vector<std::string>{"one.bin", "three.bin"}));
}

TEST(EncryptedRar5, MixedPasswordsByCallbackAskAgainAfterAWrongAnswer) {
  TempDir dir;
  std::string path =
      make(dir, Format::Rar5,
           {file("one.bin", content(15), "first"), file("two.bin", content(16), "second"),
            file("three.bin", content(17), "second")});
  CallbackScript s;
  s.passwords = {"first", "second"};
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
  Outcome r = processAll(h.get(), RAR_TEST, "");
  // two.bin fails with the first answer, which is then dropped: three.bin asks.
  EXPECT_EQ(r.status, (std::vector<int>{0, ERAR_BAD_PASSWORD, 0}));
  EXPECT_EQ(s.passwordAsks, 2);
}

TEST(EncryptedRar4, AFirstEntryThatFailsDropsTheAnswerOneThatWorkedKeepsIt) {
  TempDir dir;
  std::string path =
      make(dir, Format::Rar4,
           {file("one.bin", content(18), "second"), file("two.bin", content(19), "second"),
            file("three.bin", content(20), "first")});
  CallbackScript s;
  s.passwords = {"first", "second", "first"};
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
  Outcome r = processAll(h.get(), RAR_TEST, "");
  // "first" fails one.bin before anything proved it: asked again, "second"
  // works for two.bin and stays, so three.bin fails without another prompt.
  EXPECT_EQ(r.status, (std::vector<int>{ERAR_BAD_DATA, 0, ERAR_BAD_DATA}));
  EXPECT_EQ(s.passwordAsks, 2);
}

TEST_P(Encrypted, TamperedCiphertextIsBadData) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.bin", content(21), "pw")});
  std::string bytes = readFile(path);
  // The stored data sits before the end block; flip a byte in its middle.
  std::size_t at = bytes.size() - 7 - 8 - 2500;
  bytes[at] = static_cast<char>(bytes[at] ^ 0x40);
  writeFile(path, bytes);
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, "pw");
  Outcome r = processAll(h.get(), RAR_TEST, "");
  EXPECT_EQ(r.status, (std::vector<int>{ERAR_BAD_DATA}));
}

// RAR 1.3, 1.5 and 2.0 had ciphers of their own, chosen by the entry's version:
// AES data under such a version decrypts to garbage that fails its CRC.
TEST(EncryptedRar4, EntriesOfOlderVersionsUseTheirOwnCiphers) {
  for (std::uint8_t version : {13, 15, 20, 26}) {
    TempDir dir;
    std::string path = make(dir, Format::Rar4, {file("old.bin", "old cipher", "pw")});
    std::string bytes = readFile(path);
    // The file header follows the 7-byte signature and the 13-byte main header.
    const std::size_t h = 20;
    ASSERT_EQ(static_cast<std::uint8_t>(bytes[h + 2]), 0x74);
    bytes[h + 24] = static_cast<char>(version);
    const std::size_t size =
        static_cast<std::uint8_t>(bytes[h + 5]) | (static_cast<std::uint8_t>(bytes[h + 6]) << 8);
    std::uint32_t crc = rarwriter::crc32(bytes.substr(h + 2, size - 2));
    bytes[h] = static_cast<char>(crc & 0xFF);
    bytes[h + 1] = static_cast<char>((crc >> 8) & 0xFF);
    writeFile(path, bytes);
    CallbackScript s;
    s.passwords = {"pw"};
    Handle hd = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
    Outcome r = processAll(hd.get(), RAR_TEST, "");
    EXPECT_EQ(r.status, (std::vector<int>{ERAR_BAD_DATA})) << "version " << int{version};
    EXPECT_EQ(s.passwordAsks, 1) << "version " << int{version};
  }
}

// Rewrites one byte of the first file header's encryption record (0: version,
// 2: KDF count) and fixes the header's CRC.
std::string patchRar5Record(std::string bytes, std::size_t field, std::uint8_t value) {
  const Rar5Header h = firstRar5FileHeader(bytes);
  std::size_t r = h.extra;
  while (r < h.end) {
    std::size_t at = r;
    const std::uint64_t recSize = readVint(bytes, at);
    std::size_t payload = at;
    if (readVint(bytes, payload) == 1) {
      bytes[payload + field] = static_cast<char>(value);
      break;
    }
    r = at + static_cast<std::size_t>(recSize);
  }
  resealRar5Header(bytes, h);
  return bytes;
}

TEST(EncryptedRar5, UnknownEncryptionVersionOrKdfCountIsUnknownFormat) {
  TempDir dir;
  std::string path = make(dir, Format::Rar5, {file("a.bin", "data", "pw")});
  const std::string original = readFile(path);
  for (auto [field, value] : {std::pair<std::size_t, std::uint8_t>{0, 1}, {2, 25}}) {
    writeFile(path, patchRar5Record(original, field, value));
    CallbackScript s;
    s.passwords = {"pw"};
    Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr);
    Outcome r = processAll(h.get(), RAR_TEST, "");
    EXPECT_EQ(r.status, (std::vector<int>{ERAR_UNKNOWN_FORMAT})) << "field " << field;
    EXPECT_EQ(s.passwordAsks, 0) << "field " << field;
  }
  // The unpatched archive passes, so the patch is what made the difference.
  writeFile(path, original);
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, nullptr, "pw");
  EXPECT_EQ(processAll(h.get(), RAR_TEST, "").status, (std::vector<int>{0}));
}

// ---- encrypted headers ----

rarwriter::Options headers(const std::string& pw, const std::string& comment = {}) {
  rarwriter::Options o;
  o.headerPassword = pw;
  o.comment = comment;
  return o;
}

TEST_P(Encrypted, HeadersAskDuringOpenWhenTheCallbackIsGivenAtOpen) {
  TempDir dir;
  std::string path =
      make(dir, GetParam(), {file("dir/a.bin", content(22)), file("b.bin", content(23))},
           headers("hdr", "the comment"));
  CallbackScript s;
  s.passwords = {"hdr"};
  Archive a(path, RAR_OM_EXTRACT, &s, 100);
  ASSERT_NE(a.handle(), nullptr) << a.openResult();
  EXPECT_EQ(s.passwordAsks, 1);
  EXPECT_TRUE(a.flags() & ROADF_ENCHEADERS) << a.flags();
  EXPECT_EQ(a.cmtState(), 1u);
  EXPECT_EQ(a.comment(), "the comment");
  std::string out = dir.file("out");
  Outcome r = processAll(a.handle(), RAR_EXTRACT, out);
  EXPECT_EQ(r.names, (std::vector<std::string>{"dir/a.bin", "b.bin"}));
  EXPECT_EQ(r.status, (std::vector<int>{0, 0}));
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_EQ(s.passwordAsks, 1) << "files under encrypted headers use the same password";
  EXPECT_EQ(readFile(out + "/dir/a.bin"), content(22));
}

TEST_P(Encrypted, HeadersWithWrongOrMissingPasswordAtOpenFailTheOpen) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.bin", "x")}, headers("hdr"));
  CallbackScript wrong;
  wrong.passwords = {"nope"};
  Archive w(path, RAR_OM_LIST, &wrong);
  EXPECT_EQ(w.handle(), nullptr);
  EXPECT_EQ(w.openResult(), static_cast<unsigned>(ERAR_BAD_PASSWORD));
  CallbackScript refuse;
  Archive m(path, RAR_OM_LIST, &refuse);
  EXPECT_EQ(m.handle(), nullptr);
  EXPECT_EQ(m.openResult(), static_cast<unsigned>(ERAR_MISSING_PASSWORD));
}

TEST_P(Encrypted, HeadersInTheComponentSequenceAskAtTheFirstHeaderRead) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.bin", content(24)), file("b.bin", "bee")},
                          headers("hdr", "hidden comment"));
  CallbackScript s;
  s.passwords = {"hdr"};
  unsigned openResult = 99, cmtState = 99;
  Handle h = openLikeTheComponent(path, RAR_OM_EXTRACT, &s, nullptr, &openResult, &cmtState);
  ASSERT_TRUE(h) << openResult;
  EXPECT_EQ(cmtState, 0u) << "the comment cannot be read before the password";
  EXPECT_EQ(s.passwordAsks, 0);
  std::string out = dir.file("out");
  Outcome r = processAll(h.get(), RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0, 0}));
  EXPECT_EQ(s.passwordAsks, 1);
  EXPECT_EQ(readFile(out + "/a.bin"), content(24));
  EXPECT_EQ(readFile(out + "/b.bin"), "bee");
}

TEST_P(Encrypted, HeadersWithSetPasswordListAndExtract) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.bin", content(25))}, headers("hdr"));
  for (unsigned mode : {RAR_OM_LIST, RAR_OM_LIST_INCSPLIT, RAR_OM_EXTRACT}) {
    Handle h = openLikeTheComponent(path, mode, nullptr, "hdr");
    ASSERT_TRUE(h);
    Outcome r = processAll(h.get(), RAR_TEST, "");
    EXPECT_EQ(r.names, (std::vector<std::string>{"a.bin"})) << "mode " << mode;
    EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE) << "mode " << mode;
  }
}

TEST_P(Encrypted, HeadersWithoutAPasswordOpenAndThenGive22ThenBadData) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.bin", "x")}, headers("hdr"));
  unsigned openResult = 99;
  Handle h = openLikeTheComponent(path, RAR_OM_LIST, nullptr, nullptr, &openResult);
  ASSERT_TRUE(h) << "open without a callback succeeds: " << openResult;
  RARHeaderDataEx hd;
  std::memset(&hd, 0, sizeof hd);
  EXPECT_EQ(RARReadHeaderEx(h.get(), &hd), ERAR_MISSING_PASSWORD);
  EXPECT_EQ(RARReadHeaderEx(h.get(), &hd), ERAR_BAD_DATA);
}

TEST_P(Encrypted, HeadersWithAWrongPasswordGive24AtTheFirstRead) {
  TempDir dir;
  std::string path = make(dir, GetParam(), {file("a.bin", "x")}, headers("hdr"));
  CallbackScript s;
  s.passwords = {"nope", "hdr"};
  Handle h = openLikeTheComponent(path, RAR_OM_LIST, &s, nullptr);
  ASSERT_TRUE(h);
  RARHeaderDataEx hd;
  std::memset(&hd, 0, sizeof hd);
  EXPECT_EQ(RARReadHeaderEx(h.get(), &hd), ERAR_BAD_PASSWORD);
  // The failure stays: a caller that loops on errors cannot spin forever.
  EXPECT_EQ(RARReadHeaderEx(h.get(), &hd), ERAR_BAD_PASSWORD);
  EXPECT_EQ(s.passwordAsks, 1);
}

TEST_P(Encrypted, HeadersAndDataAcrossVolumes) {
  TempDir dir;
  rarwriter::Options o = headers("vol");
  o.format = GetParam();
  o.volumeSize = 3000;
  const std::string big = content(26, 9000);
  std::string first = dir.file("set.part1.rar");
  std::vector<std::string> files =
      rarwriter::write(first, {file("big.bin", big), file("small.txt", "tail")}, o);
  ASSERT_GE(files.size(), 3u);
  CallbackScript s;
  s.passwords = {"vol"};
  std::string out = dir.file("out");
  Archive a(first, RAR_OM_EXTRACT, &s);
  ASSERT_NE(a.handle(), nullptr) << a.openResult();
  Outcome r = processAll(a.handle(), RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0, 0}));
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_EQ(s.passwordAsks, 1);
  EXPECT_EQ(readFile(out + "/big.bin"), big);
  EXPECT_EQ(readFile(out + "/small.txt"), "tail");
}

TEST_P(Encrypted, EncryptedDataSplitAcrossVolumesIsOneChain) {
  TempDir dir;
  rarwriter::Options o;
  o.format = GetParam();
  o.volumeSize = 2500;
  const std::string big = content(27, 7000);
  std::string first = dir.file("data.part1.rar");
  rarwriter::write(first, {file("big.bin", big, "chain")}, o);
  Handle h = openLikeTheComponent(first, RAR_OM_EXTRACT, nullptr, "chain");
  std::string out = dir.file("out");
  Outcome r = processAll(h.get(), RAR_EXTRACT, out);
  EXPECT_EQ(r.status, (std::vector<int>{0}));
  EXPECT_EQ(readFile(out + "/big.bin"), big);
}

INSTANTIATE_TEST_SUITE_P(Formats, Encrypted, ::testing::Values(Format::Rar4, Format::Rar5),
                         [](const auto& p) {
                           return p.param == Format::Rar4 ? std::string("Rar4")
                                                          : std::string("Rar5");
                         });

}  // namespace
