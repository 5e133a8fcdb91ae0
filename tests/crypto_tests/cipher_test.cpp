// AES-CBC as both formats use it: known answers, streaming in uneven pieces,
// and a fresh chain per file or header.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crypto/rar_crypto.h"

namespace crypto = unrar::crypto;
using Direction = crypto::AesCbc::Direction;

namespace {

std::vector<std::uint8_t> unhex(const std::string& h) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < h.size(); i += 2)
    out.push_back(static_cast<std::uint8_t>(std::stoi(h.substr(i, 2), nullptr, 16)));
  return out;
}

// NIST SP 800-38A, F.2.1 and F.2.5.
const std::string kIv = "000102030405060708090a0b0c0d0e0f";
const std::string kPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
struct Vector {
  std::string key, cipher;
};
const Vector kAes128{"2b7e151628aed2a6abf7158809cf4f3c",
                     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"};
const Vector kAes256{"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
                     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"};

class KnownAnswers : public ::testing::TestWithParam<Vector> {};

TEST_P(KnownAnswers, OneShotBothWays) {
  auto key = unhex(GetParam().key), iv = unhex(kIv), plain = unhex(kPlain),
       cipher = unhex(GetParam().cipher);
  std::vector<std::uint8_t> out(plain.size());
  ASSERT_TRUE(crypto::aesCbc(Direction::Encrypt, key.data(), key.size(), iv.data(), plain.data(),
                             plain.size(), out.data()));
  EXPECT_EQ(out, cipher);
  ASSERT_TRUE(crypto::aesCbc(Direction::Decrypt, key.data(), key.size(), iv.data(), cipher.data(),
                             cipher.size(), out.data()));
  EXPECT_EQ(out, plain);
}

TEST_P(KnownAnswers, StreamingInUnevenPiecesHoldsBackPartialBlocks) {
  auto key = unhex(GetParam().key), iv = unhex(kIv), plain = unhex(kPlain),
       cipher = unhex(GetParam().cipher);
  crypto::AesCbc cbc;
  ASSERT_TRUE(cbc.init(Direction::Decrypt, key.data(), key.size(), iv.data()));
  std::vector<std::uint8_t> out(cipher.size() + 16);
  std::size_t written = 0, fed = 0;
  for (std::size_t piece : {1u, 7u, 20u, 3u, 33u}) {
    std::ptrdiff_t n = cbc.update(cipher.data() + fed, piece, out.data() + written);
    ASSERT_GE(n, 0);
    fed += piece;
    written += static_cast<std::size_t>(n);
    EXPECT_EQ(written, fed / 16 * 16) << "only whole blocks come out";
    EXPECT_EQ(cbc.pending(), fed % 16);
  }
  ASSERT_EQ(fed, cipher.size());
  out.resize(written);
  EXPECT_EQ(out, plain);
}

TEST_P(KnownAnswers, ResetStartsAFreshChain) {
  auto key = unhex(GetParam().key), iv = unhex(kIv), plain = unhex(kPlain),
       cipher = unhex(GetParam().cipher);
  crypto::AesCbc cbc;
  ASSERT_TRUE(cbc.init(Direction::Decrypt, key.data(), key.size(), iv.data()));
  std::vector<std::uint8_t> out(80);
  ASSERT_EQ(cbc.update(cipher.data(), 40, out.data()), 32);  // 8 bytes left pending
  ASSERT_TRUE(cbc.reset(iv.data()));
  EXPECT_EQ(cbc.pending(), 0u);
  ASSERT_EQ(cbc.update(cipher.data(), 64, out.data()), 64);
  out.resize(64);
  EXPECT_EQ(out, plain) << "a reset forgets both the chain and the pending bytes";
}

INSTANTIATE_TEST_SUITE_P(Nist, KnownAnswers, ::testing::Values(kAes128, kAes256),
                         [](const ::testing::TestParamInfo<Vector>& param) {
                           return param.index == 0 ? std::string("Aes128") : std::string("Aes256");
                         });

TEST(AesCbcErrors, BadSizesAreRefused) {
  std::vector<std::uint8_t> key(24), iv(16), data(20);
  crypto::AesCbc cbc;
  EXPECT_FALSE(cbc.init(Direction::Decrypt, key.data(), 24, iv.data()));
  EXPECT_FALSE(cbc.ready());
  EXPECT_EQ(cbc.update(data.data(), 16, data.data()), -1);
  EXPECT_FALSE(cbc.reset(iv.data()));
  EXPECT_FALSE(
      crypto::aesCbc(Direction::Decrypt, key.data(), 16, iv.data(), data.data(), 20, data.data()));
}

}  // namespace
