// Every archive set of the corpus, opened, listed and extracted through
// the published interface and compared with what expected.json says a correct
// library reports and writes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <sstream>

#include "unrar.h"
#include "unrar_test_support.h"

using namespace unrartest;

namespace {

const std::string kCorpus = QUILLMOSS_CORPUS_DIR;

// Sets that cannot pass yet, and why. Any other failing set fails the test.
const std::map<std::string, std::string> kKnownFailures = {};

struct HandleCloser {
  void operator()(void* h) const {
    if (h) RARCloseArchive(h);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

std::string hex8(unsigned v) {
  char b[16];
  std::snprintf(b, sizeof b, "%08x", v);
  return b;
}

// Extracts entry `index` alone in a fresh open with `password` set through
// RARSetPassword: for entries that need another of the set's passwords than
// the one the callback gave for the whole archive.
int extractWithPassword(const std::string& first, int index, const std::string& password,
                        const std::string& dest) {
  RAROpenArchiveDataEx od;
  std::memset(&od, 0, sizeof od);
  std::vector<char> name(first.begin(), first.end());
  name.push_back(0);
  od.ArcName = name.data();
  od.OpenMode = RAR_OM_EXTRACT;
  Handle h(RAROpenArchiveEx(&od));
  if (!h) return static_cast<int>(od.OpenResult);
  std::string pw = password;
  RARSetPassword(h.get(), pw.data());
  std::vector<char> destBuf(dest.begin(), dest.end());
  destBuf.push_back(0);
  auto hd = std::make_unique<RARHeaderDataEx>();
  for (int i = 0;; ++i) {
    std::memset(hd.get(), 0, sizeof *hd);
    int rc = RARReadHeaderEx(h.get(), hd.get());
    if (rc) return rc;
    if (i == index) return RARProcessFile(h.get(), RAR_EXTRACT, destBuf.data(), nullptr);
    RARProcessFile(h.get(), RAR_SKIP, nullptr, nullptr);
  }
}

// Checks one set, whose volumes are in `dir` of the corpus; returns an empty
// string when it matches.
std::string checkSet(const QJsonObject& set, const std::string& dir) {
  TempDir tmp;
  QJsonArray vols = set["volumes"].toArray();
  std::string first = kCorpus + "/" + dir + "/" + vols[0].toString().toStdString();
  if (set["joined_pieces"].toBool()) {
    std::string joined;
    for (const auto& v : vols)
      joined += readFile(kCorpus + "/" + dir + "/" + v.toString().toStdString());
    first = tmp.file("joined.rar");
    writeFile(first, joined);
  }
  CallbackScript script;
  for (const auto& p : set["passwords"].toArray())
    script.passwords.push_back(p.toString().toStdString());
  script.volumeAskAnswer = -1;

  std::vector<char> cmt(64 * 1024);
  RAROpenArchiveDataEx od;
  std::memset(&od, 0, sizeof od);
  std::vector<char> name(first.begin(), first.end());
  name.push_back(0);
  od.ArcName = name.data();
  od.OpenMode = RAR_OM_EXTRACT;
  od.CmtBuf = cmt.data();
  od.CmtBufSize = static_cast<unsigned>(cmt.size());
  od.Callback = CALLBACK_recorder;
  od.UserData = reinterpret_cast<LPARAM>(&script);
  Handle h(RAROpenArchiveEx(&od));
  std::ostringstream err;
  if (!set["opens"].toBool()) {
    if (h) err << "opened, expected an open failure";
    return err.str();
  }
  if (!h) {
    err << "open failed with " << od.OpenResult;
    return err.str();
  }
  if (set["comment"].isString()) {
    std::string want = set["comment"].toString().toStdString();
    if (od.CmtState != 1 || std::string(cmt.data()) != want)
      err << "comment state " << od.CmtState << " text '" << cmt.data() << "' ";
  }
  std::string dest = tmp.file("out");
  std::vector<char> destBuf(dest.begin(), dest.end());
  destBuf.push_back(0);
  QJsonArray entries = set["entries"].toArray();
  int index = 0;
  for (;; ++index) {
    auto hd = std::make_unique<RARHeaderDataEx>();
    std::memset(hd.get(), 0, sizeof *hd);
    int rc = RARReadHeaderEx(h.get(), hd.get());
    if (rc != ERAR_SUCCESS) {
      if (index < entries.size()) err << "header " << index << ": status " << rc << "; ";
      break;
    }
    if (index >= entries.size()) {
      err << "extra entry '" << hd->FileName << "'; ";
      RARProcessFile(h.get(), RAR_SKIP, nullptr, nullptr);
      if (index > entries.size() + 100) break;
      continue;
    }
    QJsonObject want = entries[index].toObject();
    std::string wname = want["name"].toString().toStdString();
    std::string kind = want["kind"].toString().toStdString();
    if (wname != hd->FileName)
      err << "entry " << index << " name '" << hd->FileName << "' want '" << wname << "'; ";
    std::uint64_t size = hd->UnpSize | (static_cast<std::uint64_t>(hd->UnpSizeHigh) << 32);
    if (kind != "dir" && size != static_cast<std::uint64_t>(want["size"].toDouble()))
      err << wname << ": size " << size << "; ";
    if (hex8(hd->FileCRC) != want["crc32"].toString().toStdString() &&
        want["expect"].toString() == "ok" && kind == "file" && hd->HashType == RAR_HASH_CRC32)
      err << wname << ": crc " << hex8(hd->FileCRC) << "; ";
    if ((kind == "dir") != ((hd->Flags & 0xE0) == 0xE0))
      err << wname << ": flags " << hd->Flags << "; ";
    rc = RARProcessFile(h.get(), RAR_EXTRACT, destBuf.data(), nullptr);
    for (std::size_t p = 1;
         (rc == ERAR_BAD_DATA || rc == ERAR_BAD_PASSWORD) && p < script.passwords.size(); ++p)
      rc = extractWithPassword(first, index, script.passwords[p], dest);
    std::string out = dest + "/" + wname;
    if (want["expect"].toString() == "ok") {
      if (rc != ERAR_SUCCESS) {
        err << wname << ": extract status " << rc << "; ";
      } else if (kind == "file" && want.contains("sha256")) {
        std::string data = readFile(out);
        if (sha256Hex(data) != want["sha256"].toString().toStdString())
          err << wname << ": sha256 differs (" << data.size() << " bytes); ";
      } else if (kind == "link") {
        char target[4096] = {};
        ssize_t n = readlink(out.c_str(), target, sizeof target - 1);
        if (n < 0 || std::string(target) != want["target"].toString().toStdString())
          err << wname << ": link target '" << target << "'; ";
      }
    } else if (rc == ERAR_SUCCESS) {
      err << wname << ": extracted with status 0, expected an error; ";
    } else if (exists(out)) {
      err << wname << ": failed with " << rc << " but left a file; ";
    }
  }
  if (index < entries.size()) err << "listed " << index << " of " << entries.size() << "; ";
  // Nothing may appear outside the destination.
  for (const std::string& p : listTree(tmp.path()))
    if (p != "out" && p.rfind("out/", 0) != 0 && p != "joined.rar")
      err << "stray file " << p << "; ";
  return err.str();
}

// Each list of sets and the folder of its archives: the main collection, the
// real archives of the oldest methods beside it, and the fuzzer's finds.
const std::pair<const char*, const char*> kSetLists[] = {
    {"/expected.json", "libarchive"},
    {"/rarfile/expected.json", "rarfile"},
    {"/fuzz/expected.json", "fuzz"},
};

TEST(CorpusConformance, EverySetGivesWhatExpectedJsonSays) {
  struct Set {
    std::string dir, key;
    QJsonObject json;
  };
  std::vector<Set> sets;
  for (const auto& [list, dir] : kSetLists) {
    QFile f(QString::fromStdString(kCorpus + list));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "corpus missing: " << kCorpus << list;
    QJsonObject all = QJsonDocument::fromJson(f.readAll()).object();
    for (auto it = all.begin(); it != all.end(); ++it)
      sets.push_back({dir, it.key().toStdString(), it.value().toObject()});
  }
  int passed = 0, failed = 0, knownFailed = 0;
  std::vector<std::string> unexpected;
  for (const Set& set : sets) {
    const std::string& key = set.key;
    std::string problem = checkSet(set.json, set.dir);
    bool known = kKnownFailures.count(key) != 0;
    if (problem.empty()) {
      ++passed;
      if (known) std::printf("now passes (remove from known failures): %s\n", key.c_str());
    } else {
      ++failed;
      if (known) {
        ++knownFailed;
        std::printf("known failure %s (%s): %s\n", key.c_str(), kKnownFailures.at(key).c_str(),
                    problem.c_str());
      } else {
        unexpected.push_back(key + ": " + problem);
      }
    }
  }
  std::printf("corpus: %d of %d sets pass, %d known failures\n", passed, passed + failed,
              knownFailed);
  for (const std::string& u : unexpected) ADD_FAILURE() << u;
}

}  // namespace

namespace {

// In a solid archive a skipped entry still has to be decoded, or the entries
// after it come out wrong.
TEST(CorpusSolid, SkippingEarlierEntriesStillGivesTheLastOneRight) {
  QFile f(QString::fromStdString(kCorpus + "/expected.json"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "corpus missing: " << kCorpus;
  QJsonObject all = QJsonDocument::fromJson(f.readAll()).object();
  for (const char* key : {"test_read_format_rar5_solid.rar", "test_read_format_rar_unicode.rar",
                          "test_read_format_rar5_multiarchive_solid.part01.rar"}) {
    QJsonObject set = all[key].toObject();
    QJsonArray entries = set["entries"].toArray();
    int lastFile = -1;
    for (int i = 0; i < entries.size(); ++i)
      if (entries[i].toObject()["kind"].toString() == "file") lastFile = i;
    ASSERT_GT(lastFile, 0) << key;
    TempDir tmp;
    Archive a(kCorpus + "/libarchive/" + key, RAR_OM_EXTRACT);
    ASSERT_NE(a.handle(), nullptr) << key << " open status " << a.openResult();
    auto hd = std::make_unique<RARHeaderDataEx>();
    for (int i = 0; i <= lastFile; ++i) {
      ASSERT_EQ(a.next(*hd), ERAR_SUCCESS) << key;
      int rc = a.process(i == lastFile ? RAR_EXTRACT : RAR_SKIP, tmp.path());
      ASSERT_EQ(rc, ERAR_SUCCESS) << key << " entry " << i << " status " << rc;
    }
    QJsonObject want = entries[lastFile].toObject();
    std::string data = readFile(tmp.path() + "/" + want["name"].toString().toStdString());
    EXPECT_EQ(sha256Hex(data), want["sha256"].toString().toStdString()) << key;
  }
}

}  // namespace

namespace {

// One decoding session serves a whole non-solid archive: entries skipped in
// between must not disturb the ones decoded after them.
TEST(CorpusSkipping, AlternateEntriesOfANonSolidArchive) {
  QFile f(QString::fromStdString(kCorpus + "/expected.json"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << "corpus missing: " << kCorpus;
  QJsonObject all = QJsonDocument::fromJson(f.readAll()).object();
  for (const char* key :
       {"test_read_format_rar5_multiple_files.rar", "test_read_format_rar5_win32.rar",
        "test_read_format_rar_compress_normal.rar"}) {
    QJsonArray entries = all[key].toObject()["entries"].toArray();
    ASSERT_GT(entries.size(), 2) << key;
    for (int parity : {0, 1}) {
      TempDir tmp;
      Archive a(kCorpus + "/libarchive/" + key, RAR_OM_EXTRACT);
      ASSERT_NE(a.handle(), nullptr) << key << " open status " << a.openResult();
      auto hd = std::make_unique<RARHeaderDataEx>();
      for (int i = 0; i < entries.size(); ++i) {
        ASSERT_EQ(a.next(*hd), ERAR_SUCCESS) << key;
        QJsonObject want = entries[i].toObject();
        const bool extract = i % 2 == parity;
        int rc = a.process(extract ? RAR_EXTRACT : RAR_SKIP, tmp.path());
        ASSERT_EQ(rc, ERAR_SUCCESS) << key << " entry " << i << " status " << rc;
        if (extract && want["kind"].toString() == "file" && want.contains("sha256")) {
          std::string data = readFile(tmp.path() + "/" + want["name"].toString().toStdString());
          EXPECT_EQ(sha256Hex(data), want["sha256"].toString().toStdString())
              << key << " entry " << i;
        }
      }
    }
  }
}

}  // namespace
