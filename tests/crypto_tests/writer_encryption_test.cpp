// The writer's encrypted archives: unar decrypts RAR 5 ones byte for byte; for
// RAR 4, which unar 1.10.1 cannot decrypt at all (it fails on RAR's own
// archives too), the header walker that reads RAR's archives reads ours, and
// the data decrypts to the original with its CRC.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive_walk.h"
#include "crypto/rar_crypto.h"
#include "peer_tools.h"
#include "rar_writer.h"

namespace fs = std::filesystem;
namespace crypto = unrar::crypto;
using rarwriter::Entry;
using rarwriter::Format;
using rarwriter::Options;

namespace {

std::vector<Entry> sampleEntries(const std::string& password) {
  std::vector<Entry> list;
  auto add = [&](const std::string& name, std::string data, bool dir = false) {
    Entry e;
    e.name = name;
    e.data = std::move(data);
    e.directory = dir;
    e.password = dir ? "" : password;
    list.push_back(e);
  };
  add("docs", "", true);
  add("docs/exact16bytes!.txt", "sixteen bytes!!\n");
  add("docs/Ünïcødé.txt", "not a multiple of sixteen\n");
  add("empty.txt", "");
  std::string big(70000, '\0');
  rarwriter::fillPattern(11, 0, big.data(), big.size());
  add("big.bin", big);
  return list;
}

class Rar5Encryption : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!peers::haveTool("unar")) GTEST_SKIP() << "unar missing: run scripts/setup-deps.sh";
    fs::create_directories(tmp_ / "a");
  }
  void expectUnarExtracts(const std::vector<Entry>& entries, const Options& o,
                          const std::string& password) {
    bool parts = o.volumeSize > 0;
    std::vector<std::string> files =
        rarwriter::write(tmp_ / (parts ? "a/t.part1.rar" : "a/t.rar"), entries, o);
    peers::CommandResult r = peers::unarExtract(files.front(), tmp_ / "ok", password);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(peers::compareTrees(peers::expectedTree(entries), peers::readTree(tmp_ / "ok")), "");
    peers::CommandResult bad = peers::unarExtract(files.front(), tmp_ / "bad", password + "x");
    EXPECT_NE(bad.status, 0) << "a wrong password must fail: " << bad.output;
  }
  peers::TempDir tmp_;
};

TEST_F(Rar5Encryption, FileDataUnarExtracts) {
  expectUnarExtracts(sampleEntries("Pässwörd 1"), Options{}, "Pässwörd 1");
}

TEST_F(Rar5Encryption, HeadersAndCommentUnarExtracts) {
  Options o;
  o.headerPassword = "hidden names";
  o.comment = "an encrypted comment";
  expectUnarExtracts(sampleEntries(""), o, "hidden names");
  // The names are not in the file in plain.
  std::string bytes = walk::readFile(tmp_ / "a/t.rar");
  EXPECT_EQ(bytes.find("exact16bytes"), std::string::npos);
}

// Encrypted parts continued in another volume store the MAC of their checksum,
// as UnRAR expects; unar 1.10.1 wants a plain CRC32 there and refuses such CRC
// parts, but it accepts BLAKE2sp parts (which it does not check).
TEST_F(Rar5Encryption, VolumesAndBlake2UnarExtracts) {
  Options o;
  o.volumeSize = 30000;
  o.blake2 = true;
  o.headerPassword = "vol";
  expectUnarExtracts(sampleEntries(""), o, "vol");
}

TEST(Rar5EncryptionLayout, RecordsCarryCheckValuesAndMacs) {
  peers::TempDir tmp;
  std::vector<Entry> entries = sampleEntries("pw");
  rarwriter::write(tmp / "t.rar", entries);
  crypto::KeyCache none;
  walk::Walk w = walk::rar5(tmp / "t.rar", none);
  ASSERT_TRUE(w.ok) << w.error;
  std::string bytes = walk::readFile(tmp / "t.rar");
  std::size_t files = 0;
  for (const walk::Header& h : w.headers) {
    if (h.type != 2 || h.name == "docs") continue;
    ++files;
    ASSERT_TRUE(h.encrypted) << h.name;
    EXPECT_EQ(h.encFlags, 0x03u);
    crypto::Rar5Keys keys;
    ASSERT_TRUE(crypto::deriveRar5Keys("pw", reinterpret_cast<const std::uint8_t*>(h.salt.data()),
                                       h.kdfCount, keys));
    EXPECT_EQ(
        crypto::checkRar5Password(keys, reinterpret_cast<const std::uint8_t*>(h.check.data())),
        crypto::CheckResult::Match);
    const Entry& e = *std::find_if(entries.begin(), entries.end(),
                                   [&](const Entry& x) { return x.name == h.name; });
    EXPECT_EQ(h.dataSize, (e.data.size() + 15) / 16 * 16) << h.name;
    EXPECT_EQ(h.unpackedSize, e.data.size());
    EXPECT_EQ(h.crc, crypto::rar5CrcToMac(keys, rarwriter::crc32(e.data))) << h.name;
    std::string plain(h.dataSize, '\0');
    ASSERT_TRUE(crypto::aesCbc(crypto::AesCbc::Direction::Decrypt, keys.key.data(), 32,
                               reinterpret_cast<const std::uint8_t*>(h.iv.data()),
                               reinterpret_cast<const std::uint8_t*>(bytes.data() + h.dataOffset),
                               h.dataSize, reinterpret_cast<std::uint8_t*>(plain.data())));
    EXPECT_EQ(plain.substr(0, e.data.size()), e.data) << h.name;
  }
  EXPECT_EQ(files, 4u);
}

TEST(Rar4Encryption, HeadersAndDataDecryptWithTheirChecksums) {
  peers::TempDir tmp;
  for (const std::string& password : {std::string("short"), std::string(40, 'p')}) {
    Options o;
    o.format = Format::Rar4;
    o.headerPassword = password;
    o.comment = "comment under header encryption";
    std::vector<Entry> entries = sampleEntries("");
    std::string path = tmp / ("t" + std::to_string(password.size()) + ".rar");
    rarwriter::write(path, entries, o);
    crypto::KeyCache cache;
    cache.setPassword(password);
    walk::Walk w = walk::rar4(path, cache);
    ASSERT_TRUE(w.ok) << w.error;
    EXPECT_EQ(cache.derivations(), 1u);
    std::string bytes = walk::readFile(path);
    std::size_t files = 0;
    bool comment = false;
    for (const walk::Header& h : w.headers) {
      if (h.type == 0x7A && h.name == "CMT") {
        comment = true;
        EXPECT_TRUE(h.flags & 0x0004);
      }
      if (h.type != 0x74 || (h.flags & 0xE0) == 0xE0) continue;
      ++files;
      std::string name = h.name;
      for (char& c : name)
        if (c == '\\') c = '/';
      auto it = std::find_if(entries.begin(), entries.end(), [&](const Entry& x) {
        return x.name == name ||
               (name.find('\0') != std::string::npos && x.name.find("Ü") != std::string::npos);
      });
      ASSERT_NE(it, entries.end()) << name;
      ASSERT_TRUE(h.flags & 0x0004) << name;
      ASSERT_EQ(h.salt.size(), 8u);
      EXPECT_EQ(h.unpackVersion, 29);
      EXPECT_EQ(h.dataSize, (it->data.size() + 15) / 16 * 16);
      const crypto::Rar4Key* key = cache.rar4(reinterpret_cast<const std::uint8_t*>(h.salt.data()));
      ASSERT_NE(key, nullptr);
      std::string plain(h.dataSize, '\0');
      ASSERT_TRUE(crypto::aesCbc(crypto::AesCbc::Direction::Decrypt, key->key.data(), 16,
                                 key->iv.data(),
                                 reinterpret_cast<const std::uint8_t*>(bytes.data() + h.dataOffset),
                                 h.dataSize, reinterpret_cast<std::uint8_t*>(plain.data())));
      plain.resize(h.unpackedSize);
      EXPECT_EQ(plain, it->data) << name;
      EXPECT_EQ(h.crc, rarwriter::crc32(plain)) << name;
    }
    EXPECT_EQ(files, 4u);
    EXPECT_TRUE(comment);
  }
}

}  // namespace

namespace {

// Joins an entry's stored parts over a volume set, as a reader does before
// decrypting: encrypted data is one CBC stream across the volumes.
struct Joined {
  std::string stored;
  std::vector<walk::Header> parts;
};

Joined joinParts(const std::vector<std::string>& volumes, const std::string& name, bool rar5,
                 crypto::KeyCache& cache) {
  Joined j;
  for (const std::string& v : volumes) {
    walk::Walk w = rar5 ? walk::rar5(v, cache) : walk::rar4(v, cache);
    EXPECT_TRUE(w.ok) << v << ": " << w.error;
    std::string bytes = walk::readFile(v);
    for (const walk::Header& h : w.headers)
      if ((h.type == 0x74 || h.type == 2) && h.name == name) {
        j.stored += bytes.substr(h.dataOffset, h.dataSize);
        j.parts.push_back(h);
      }
  }
  return j;
}

TEST(EncryptedVolumes, OneCipherStreamAcrossVolumesWithPartChecksums) {
  peers::TempDir tmp;
  std::string data(50000, '\0');
  rarwriter::fillPattern(21, 0, data.data(), data.size());
  for (Format format : {Format::Rar4, Format::Rar5}) {
    bool rar5 = format == Format::Rar5;
    Options o;
    o.format = format;
    o.volumeSize = 12345;  // parts of uneven length: the chain must run on
    Entry e;
    e.name = "split.bin";
    e.data = data;
    e.password = "vol pw";
    std::string first = tmp / (rar5 ? "5/s.part1.rar" : "4/s.part1.rar");
    fs::create_directories(fs::path(first).parent_path());
    std::vector<std::string> volumes = rarwriter::write(first, {e}, o);
    ASSERT_GE(volumes.size(), 4u);
    crypto::KeyCache none;
    Joined j = joinParts(volumes, "split.bin", rar5, none);
    ASSERT_EQ(j.parts.size(), volumes.size());
    ASSERT_EQ(j.stored.size(), (data.size() + 15) / 16 * 16);

    std::string plain(j.stored.size(), '\0');
    const walk::Header& head = j.parts.front();
    crypto::Rar4Key k3;
    crypto::Rar5Keys k5;
    const std::uint8_t* salt = reinterpret_cast<const std::uint8_t*>(head.salt.data());
    if (rar5) {
      ASSERT_TRUE(crypto::deriveRar5Keys("vol pw", salt, head.kdfCount, k5));
      ASSERT_TRUE(crypto::aesCbc(crypto::AesCbc::Direction::Decrypt, k5.key.data(), 32,
                                 reinterpret_cast<const std::uint8_t*>(head.iv.data()),
                                 reinterpret_cast<const std::uint8_t*>(j.stored.data()),
                                 j.stored.size(), reinterpret_cast<std::uint8_t*>(plain.data())));
    } else {
      ASSERT_TRUE(crypto::deriveRar4Key("vol pw", salt, k3));
      ASSERT_TRUE(crypto::aesCbc(crypto::AesCbc::Direction::Decrypt, k3.key.data(), 16,
                                 k3.iv.data(),
                                 reinterpret_cast<const std::uint8_t*>(j.stored.data()),
                                 j.stored.size(), reinterpret_cast<std::uint8_t*>(plain.data())));
    }
    EXPECT_TRUE(plain.substr(0, data.size()) == data) << (rar5 ? "RAR 5" : "RAR 4");

    // Each part but the last: the CRC of its own stored bytes (RAR 5: as a MAC);
    // the last: the whole file's.
    std::size_t at = 0;
    for (std::size_t i = 0; i < j.parts.size(); ++i) {
      const walk::Header& p = j.parts[i];
      std::uint32_t crc = i + 1 < j.parts.size() ? rarwriter::crc32(j.stored.substr(at, p.dataSize))
                                                 : rarwriter::crc32(data);
      if (rar5) crc = crypto::rar5CrcToMac(k5, crc);
      EXPECT_EQ(p.crc, crc) << "part " << i;
      at += p.dataSize;
    }
  }
}

TEST(Rar4Encryption, EntryPasswordWithPlainHeaders) {
  peers::TempDir tmp;
  Options o;
  o.format = Format::Rar4;
  std::vector<Entry> entries = sampleEntries("own password");
  rarwriter::write(tmp / "p.rar", entries, o);
  crypto::KeyCache cache;
  cache.setPassword("own password");
  walk::Walk w = walk::rar4(tmp / "p.rar", cache);
  ASSERT_TRUE(w.ok) << w.error;
  std::string bytes = walk::readFile(tmp / "p.rar");
  EXPECT_NE(bytes.find("exact16bytes"), std::string::npos) << "names stay readable";
  const walk::Header& h = *std::find_if(w.headers.begin(), w.headers.end(),
                                        [](const walk::Header& x) { return x.name == "big.bin"; });
  const crypto::Rar4Key* key = cache.rar4(reinterpret_cast<const std::uint8_t*>(h.salt.data()));
  ASSERT_NE(key, nullptr);
  std::string plain(h.dataSize, '\0');
  ASSERT_TRUE(crypto::aesCbc(crypto::AesCbc::Direction::Decrypt, key->key.data(), 16,
                             key->iv.data(),
                             reinterpret_cast<const std::uint8_t*>(bytes.data() + h.dataOffset),
                             h.dataSize, reinterpret_cast<std::uint8_t*>(plain.data())));
  plain.resize(h.unpackedSize);
  EXPECT_EQ(h.crc, rarwriter::crc32(plain));
  EXPECT_TRUE(plain == entries.back().data);
}

}  // namespace
