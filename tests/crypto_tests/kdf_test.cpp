// Key derivation: the RAR 3 SHA-1 scheme against an independent model, the
// RAR 5 PBKDF2 against libcrypto's own, and password limits.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "crypto/rar_crypto.h"
#include "reference_sha1.h"

namespace crypto = unrar::crypto;

namespace {

std::string utf16le(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

const std::uint8_t kSalt8[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const std::uint8_t kSalt16[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

refsha1::Result product(const std::string& password, const std::uint8_t* salt) {
  crypto::Rar4Key key;
  EXPECT_TRUE(crypto::deriveRar4Key(password, salt, key));
  refsha1::Result r;
  std::copy(key.key.bytes.begin(), key.key.bytes.end(), r.key.begin());
  std::copy(key.iv.bytes.begin(), key.iv.bytes.end(), r.iv.begin());
  return r;
}

TEST(ReferenceModel, IsSha1) {
  // FIPS 180 examples; the second spans two blocks.
  auto hex = [](const std::array<std::uint8_t, 20>& d) {
    char buf[41];
    for (int i = 0; i < 20; ++i) std::snprintf(buf + 2 * i, 3, "%02x", d[i]);
    return std::string(buf);
  };
  EXPECT_EQ(hex(refsha1::sha1("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(hex(refsha1::sha1("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

TEST(Rar3Kdf, ShortPasswordsMatchTheModel) {
  EXPECT_EQ(product("secret", kSalt8),
            refsha1::deriveRar3(
                utf16le(u"secret") + std::string(reinterpret_cast<const char*>(kSalt8), 8), true));
  EXPECT_EQ(product("Grüße", nullptr), refsha1::deriveRar3(utf16le(u"Grüße"), true));
}

TEST(Rar3Kdf, LongPasswordsFollowTheInPlaceSha1) {
  const std::string salt(reinterpret_cast<const char*>(kSalt8), 8);
  // 28 characters with a salt make exactly one block: no write-back yet.
  std::string p28(28, 'p');
  EXPECT_EQ(product(p28, kSalt8),
            refsha1::deriveRar3(utf16le(std::u16string(28, u'p')) + salt, true));
  EXPECT_EQ(refsha1::deriveRar3(utf16le(std::u16string(28, u'p')) + salt, true),
            refsha1::deriveRar3(utf16le(std::u16string(28, u'p')) + salt, false));
  for (std::size_t n : {29u, 40u, 127u}) {
    std::string p(n, 'p');
    refsha1::Result model = refsha1::deriveRar3(utf16le(std::u16string(n, u'p')) + salt, true);
    EXPECT_EQ(product(p, kSalt8), model) << n << " characters";
    EXPECT_NE(model, refsha1::deriveRar3(utf16le(std::u16string(n, u'p')) + salt, false))
        << "the quirk must matter at " << n << " characters";
  }
  // 64 characters without a salt: 128 bytes, whole blocks straight from the input.
  EXPECT_EQ(product(std::string(64, 'q'), nullptr),
            refsha1::deriveRar3(utf16le(std::u16string(64, u'q')), true));
}

TEST(Rar3Kdf, NonBmpCharactersAreSurrogatePairs) {
  std::u16string units = u"a😀b";
  EXPECT_EQ(product("a😀b", kSalt8),
            refsha1::deriveRar3(
                utf16le(units) + std::string(reinterpret_cast<const char*>(kSalt8), 8), true));
}

TEST(PasswordLimits, OnlyTheFirst127CharactersCount) {
  std::string p127(127, 'x');
  std::string p130 = p127 + "yyy";
  crypto::Rar5Keys a, b, c;
  ASSERT_TRUE(crypto::deriveRar5Keys(p127, kSalt16, 1, a));
  ASSERT_TRUE(crypto::deriveRar5Keys(p130, kSalt16, 1, b));
  ASSERT_TRUE(crypto::deriveRar5Keys(std::string(126, 'x'), kSalt16, 1, c));
  EXPECT_TRUE(a.key == b.key);
  EXPECT_FALSE(a.key == c.key);
  EXPECT_EQ(product(p127, nullptr), product(p130, nullptr));
}

TEST(PasswordLimits, MalformedUtf8IsRefused) {
  crypto::Rar4Key k3;
  crypto::Rar5Keys k5;
  EXPECT_FALSE(crypto::deriveRar4Key("bad\xC3", kSalt8, k3));
  EXPECT_FALSE(crypto::deriveRar5Keys("bad\xFF", kSalt16, 1, k5));
}

TEST(Rar5Kdf, KeyIsStandardPbkdf2) {
  for (std::uint8_t count : {0, 1, 4, 15}) {
    crypto::Rar5Keys keys;
    ASSERT_TRUE(crypto::deriveRar5Keys("password", kSalt16, count, keys));
    std::uint8_t expected[32];
    ASSERT_EQ(PKCS5_PBKDF2_HMAC("password", 8, kSalt16, 16, 1 << count, EVP_sha256(), 32, expected),
              1);
    EXPECT_EQ(std::memcmp(keys.key.data(), expected, 32), 0) << int{count};
    EXPECT_FALSE(keys.key == keys.hashKey);
  }
}

TEST(Rar5Kdf, EmptyPasswordAndCountLimit) {
  crypto::Rar5Keys keys;
  ASSERT_TRUE(crypto::deriveRar5Keys("", kSalt16, 2, keys));
  std::uint8_t expected[32];
  ASSERT_EQ(PKCS5_PBKDF2_HMAC("", 0, kSalt16, 16, 4, EVP_sha256(), 32, expected), 1);
  EXPECT_EQ(std::memcmp(keys.key.data(), expected, 32), 0);
  EXPECT_FALSE(crypto::deriveRar5Keys("x", kSalt16, crypto::kRar5MaxKdfCount + 1, keys));
}

TEST(Rar5PasswordCheck, DamagedCheckFieldIsToldFromAWrongPassword) {
  crypto::Rar5Keys right, wrong;
  ASSERT_TRUE(crypto::deriveRar5Keys("right", kSalt16, 3, right));
  ASSERT_TRUE(crypto::deriveRar5Keys("wrong", kSalt16, 3, wrong));
  crypto::Rar5PasswordCheck stored = crypto::rar5PasswordCheck(right);
  std::uint8_t field[12];
  std::copy(stored.value.begin(), stored.value.end(), field);
  std::copy(stored.sum.begin(), stored.sum.end(), field + 8);
  EXPECT_EQ(crypto::checkRar5Password(right, field), crypto::CheckResult::Match);
  EXPECT_EQ(crypto::checkRar5Password(wrong, field), crypto::CheckResult::WrongPassword);
  field[3] ^= 1;
  EXPECT_EQ(crypto::checkRar5Password(right, field), crypto::CheckResult::Damaged);
}

TEST(Rar4CipherChoice, ByVersion) {
  EXPECT_EQ(crypto::rar4CipherFor(13), crypto::Rar4Cipher::Rar13);
  EXPECT_EQ(crypto::rar4CipherFor(15), crypto::Rar4Cipher::Rar15);
  EXPECT_EQ(crypto::rar4CipherFor(20), crypto::Rar4Cipher::Rar20);
  EXPECT_EQ(crypto::rar4CipherFor(26), crypto::Rar4Cipher::Rar20);
  EXPECT_EQ(crypto::rar4CipherFor(29), crypto::Rar4Cipher::Aes128);
  EXPECT_EQ(crypto::rar4CipherFor(36), crypto::Rar4Cipher::Aes128);
}

}  // namespace
