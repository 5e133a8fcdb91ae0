// Real archives made by RAR: the derivations and the cipher must reproduce
// what it stored. Passwords are those the corpus README gives.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "archive_walk.h"
#include "crypto/rar_crypto.h"

namespace crypto = unrar::crypto;

namespace {

std::string corpusFile(const std::string& name) {
  return std::string(QUILLMOSS_CORPUS_DIR) + "/libarchive/" + name;
}

#define REQUIRE_CORPUS(path) \
  ASSERT_TRUE(std::filesystem::exists(path)) << "corpus file missing: " << path

const std::uint8_t* u8(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

// Plain CRC32s of the four test texts, as the unencrypted RAR 4 archive of the
// same files stores them (expected.json, test_read_format_rar4_encrypted.rar).
const std::map<std::string, std::uint32_t> kPlainCrc = {
    {"a.txt", 0xee5a6e55}, {"b.txt", 0xa9fa1485}, {"c.txt", 0x949a3d35}, {"d.txt", 0x26bae125}};

struct Rar5Case {
  const char* archive;
  std::map<std::string, std::string> passwords;  // encrypted entries
};

class Rar5Corpus : public ::testing::TestWithParam<Rar5Case> {};

TEST_P(Rar5Corpus, CheckValuesAndChecksumMacsMatch) {
  std::string path = corpusFile(GetParam().archive);
  REQUIRE_CORPUS(path);
  crypto::KeyCache none;
  walk::Walk w = walk::rar5(path, none);
  ASSERT_TRUE(w.ok) << w.error;
  std::size_t checked = 0;
  for (const walk::Header& h : w.headers) {
    if (h.type != 2 || !h.encrypted) continue;
    auto pw = GetParam().passwords.find(h.name);
    ASSERT_NE(pw, GetParam().passwords.end()) << h.name << " is encrypted unexpectedly";
    ASSERT_EQ(h.check.size(), 12u) << h.name;
    crypto::Rar5Keys right, wrong;
    ASSERT_TRUE(crypto::deriveRar5Keys(pw->second, u8(h.salt), h.kdfCount, right));
    ASSERT_TRUE(crypto::deriveRar5Keys(pw->second + "x", u8(h.salt), h.kdfCount, wrong));
    EXPECT_EQ(crypto::checkRar5Password(right, u8(h.check)), crypto::CheckResult::Match) << h.name;
    EXPECT_EQ(crypto::checkRar5Password(wrong, u8(h.check)), crypto::CheckResult::WrongPassword)
        << h.name;
    if (h.encFlags & 0x02) {
      ASSERT_TRUE(h.hasCrc) << h.name;
      EXPECT_EQ(crypto::rar5CrcToMac(right, kPlainCrc.at(h.name)), h.crc) << h.name;
      EXPECT_NE(crypto::rar5CrcToMac(wrong, kPlainCrc.at(h.name)), h.crc) << h.name;
    }
    ++checked;
  }
  EXPECT_EQ(checked, GetParam().passwords.size());
}

INSTANTIATE_TEST_SUITE_P(Archives, Rar5Corpus,
                         ::testing::Values(Rar5Case{"test_read_format_rar5_encrypted.rar",
                                                    {{"b.txt", "password"},
                                                     {"d.txt", "password2"}}},
                                           Rar5Case{"test_read_format_rar5_solid_encrypted.rar",
                                                    {{"a.txt", "password"},
                                                     {"b.txt", "password"},
                                                     {"c.txt", "password"},
                                                     {"d.txt", "password"}}}),
                         [](const ::testing::TestParamInfo<Rar5Case>& param) {
                           return param.index == 0 ? std::string("Plain") : std::string("Solid");
                         });

TEST(Rar5CorpusHeaders, EncryptedHeadersDecryptWithTheirCrc) {
  for (const char* name : {"test_read_format_rar5_encrypted_filenames.rar",
                           "test_read_format_rar5_solid_encrypted_filenames.rar"}) {
    std::string path = corpusFile(name);
    REQUIRE_CORPUS(path);
    crypto::KeyCache cache;
    cache.setPassword("password");
    walk::Walk w = walk::rar5(path, cache);
    ASSERT_TRUE(w.ok) << name << ": " << w.error;
    std::vector<std::string> names;
    for (const walk::Header& h : w.headers)
      if (h.type == 2) names.push_back(h.name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"})) << name;
    EXPECT_EQ(cache.derivations(), 1u) << "one salt for every header";

    const crypto::Rar5Keys* keys = cache.rar5(u8(w.headerSalt), w.headerKdfCount);
    ASSERT_NE(keys, nullptr);
    ASSERT_EQ(w.headerCheck.size(), 12u);
    EXPECT_EQ(crypto::checkRar5Password(*keys, u8(w.headerCheck)), crypto::CheckResult::Match);

    crypto::KeyCache wrong;
    wrong.setPassword("passwore");
    walk::Walk bad = walk::rar5(path, wrong);
    EXPECT_FALSE(bad.ok) << name;
    const crypto::Rar5Keys* wrongKeys = wrong.rar5(u8(w.headerSalt), w.headerKdfCount);
    ASSERT_NE(wrongKeys, nullptr);
    EXPECT_EQ(crypto::checkRar5Password(*wrongKeys, u8(w.headerCheck)),
              crypto::CheckResult::WrongPassword);
  }
}

TEST(Rar3CorpusHeaders, EncryptedHeadersDecryptWithTheirCrc) {
  struct Case {
    const char* archive;
    const char* password;
    std::size_t files;
  };
  for (const Case& c : {Case{"test_read_format_rar4_encrypted_filenames.rar", "password", 4},
                        Case{"test_read_format_rar4_solid_encrypted_filenames.rar", "password", 4},
                        Case{"test_read_format_rar_encryption_header.rar", "12345678", 2}}) {
    std::string path = corpusFile(c.archive);
    REQUIRE_CORPUS(path);
    crypto::KeyCache cache;
    cache.setPassword(c.password);
    walk::Walk w = walk::rar4(path, cache);
    ASSERT_TRUE(w.ok) << c.archive << ": " << w.error;
    std::size_t files = 0;
    for (const walk::Header& h : w.headers)
      if (h.type == 0x74) {
        ++files;
        EXPECT_TRUE(h.flags & 0x0004) << h.name << ": files are encrypted too";
        EXPECT_EQ(crypto::rar4CipherFor(h.unpackVersion), crypto::Rar4Cipher::Aes128);
      }
    EXPECT_EQ(files, c.files) << c.archive;

    crypto::KeyCache wrong;
    wrong.setPassword(std::string(c.password) + "!");
    EXPECT_FALSE(walk::rar4(path, wrong).ok) << c.archive;
  }
}

}  // namespace
