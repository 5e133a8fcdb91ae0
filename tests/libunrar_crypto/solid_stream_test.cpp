// RAR 4 solid streams of compressed entries, plain and encrypted. RAR encrypts
// each file's packed data on its own, so every file's part of an encrypted
// solid stream ends in up to 15 bytes of cipher padding; the next file's
// decoding must start at its own data, whatever the previous one's padding.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "rar_writer.h"
#include "unrar.h"
#include "unrar_test_support.h"

using namespace unrartest;

namespace {

// A file of every size from 1 to `count` bytes, so that each file's stream
// ends at another place within its last cipher block (literal codes take 9
// bits a byte), plus one larger file that spans many blocks.
std::vector<rarwriter::Entry> solidFiles(int count, const std::string& password) {
  std::vector<rarwriter::Entry> entries;
  for (int i = 1; i <= count + 1; ++i) {
    rarwriter::Entry e;
    e.name = "s/" + std::to_string(i) + ".bin";
    e.data.resize(i <= count ? static_cast<std::size_t>(i) : 70000);
    rarwriter::fillPattern(static_cast<std::uint64_t>(i), 0, e.data.data(), e.data.size());
    e.compressed = true;
    e.password = password;
    entries.push_back(e);
  }
  return entries;
}

std::string writeSolid(const TempDir& dir, const std::vector<rarwriter::Entry>& entries,
                       const std::string& headerPassword = {}) {
  rarwriter::Options o;
  o.format = rarwriter::Format::Rar4;
  o.solidFlag = true;
  o.headerPassword = headerPassword;
  std::string path = dir.file("solid.rar");
  rarwriter::write(path, entries, o);
  return path;
}

RunResult extractAll(const std::string& path, const std::string& dest,
                     const std::string& password) {
  return runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, dest, nullptr, password);
}

void expectAllExtracted(const std::vector<rarwriter::Entry>& entries, const TempDir& dir,
                        const RunResult& r) {
  ASSERT_EQ(r.status.size(), entries.size());
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(r.status[i], ERAR_SUCCESS) << entries[i].name;
    EXPECT_EQ(readFile(dir.file("out/" + entries[i].name)), entries[i].data) << entries[i].name;
  }
}

TEST(SolidRar4, PlainCompressedStreamExtractsEveryEntry) {
  TempDir dir;
  auto entries = solidFiles(20, "");
  std::string path = writeSolid(dir, entries);
  expectAllExtracted(entries, dir, extractAll(path, dir.file("out"), ""));
}

TEST(SolidRar4, EncryptedCompressedStreamExtractsEveryEntryWhateverItsPadding) {
  TempDir dir;
  auto entries = solidFiles(40, "solid secret");
  std::string path = writeSolid(dir, entries);
  expectAllExtracted(entries, dir, extractAll(path, dir.file("out"), "solid secret"));
}

// Nothing of an archive goes anywhere but the extracted files: with a
// temporary folder that cannot be written (a file's path), extraction works.
TEST(SolidRar4, ExtractsWithoutAnyTemporaryFile) {
  TempDir dir;
  auto entries = solidFiles(5, "solid secret");
  std::string path = writeSolid(dir, entries);
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  ::setenv("TMPDIR", path.c_str(), 1);
  RunResult r = extractAll(path, dir.file("out"), "solid secret");
  if (old)
    ::setenv("TMPDIR", saved.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
  expectAllExtracted(entries, dir, r);
}

TEST(SolidRar4, EncryptedHeadersAndCompressedStream) {
  TempDir dir;
  auto entries = solidFiles(17, "");
  std::string path = writeSolid(dir, entries, "headers too");
  expectAllExtracted(entries, dir, extractAll(path, dir.file("out"), "headers too"));
}

// Skipped entries of a solid stream are decoded all the same, padding included.
TEST(SolidRar4, OnlyTheLastEncryptedEntryAsked) {
  TempDir dir;
  auto entries = solidFiles(24, "pw");
  std::string path = writeSolid(dir, entries);
  Archive a(path, RAR_OM_EXTRACT);
  ASSERT_NE(a.handle(), nullptr);
  std::string pw = "pw";
  RARSetPassword(a.handle(), pw.data());
  RARHeaderDataEx hd;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ASSERT_EQ(a.next(hd), ERAR_SUCCESS);
    bool last = i + 1 == entries.size();
    ASSERT_EQ(a.process(last ? RAR_EXTRACT : RAR_SKIP, last ? dir.file("out") : ""), ERAR_SUCCESS)
        << entries[i].name;
  }
  EXPECT_EQ(readFile(dir.file("out/" + entries.back().name)), entries.back().data);
  EXPECT_FALSE(exists(dir.file("out/" + entries.front().name)));
}

// A wrong password breaks the stream from its first entry on: every entry
// fails, none is written, and the archive still reads to its end.
TEST(SolidRar4, WrongPasswordFailsEveryEntryAndWritesNothing) {
  TempDir dir;
  auto entries = solidFiles(6, "right");
  std::string path = writeSolid(dir, entries);
  RunResult r = extractAll(path, dir.file("out"), "wrong");
  ASSERT_EQ(r.status.size(), entries.size());
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  for (int status : r.status) EXPECT_EQ(status, ERAR_BAD_DATA);
  for (const auto& e : entries) EXPECT_FALSE(exists(dir.file("out/" + e.name))) << e.name;
}

}  // namespace
