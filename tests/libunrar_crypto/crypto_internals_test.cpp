// The decrypting stage and the archive's key handling, compiled in from the
// library's sources: streaming decryption in any read pattern, the padding
// limit, short or ragged input, and the key cache: one key derivation per
// salt and count, kept while the password stays.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "archive_crypto.h"
#include "crypto/decrypt_stream.h"
#include "crypto/rar_crypto.h"
#include "format/volume.h"
#include "rar_writer.h"
#include "unrar_test_support.h"

namespace {

using unrar::crypto::AesCbc;

// An InStream over bytes in memory that may claim more than it has.
class MemoryStream final : public unrar::InStream {
 public:
  explicit MemoryStream(std::vector<std::uint8_t> bytes, std::uint64_t claimed = 0)
      : bytes_(std::move(bytes)), claimed_(claimed ? claimed : bytes_.size()) {}
  int read(std::uint8_t* buf, std::size_t n, std::size_t& got) override {
    got = std::min(n, bytes_.size() - pos_);
    std::memcpy(buf, bytes_.data() + pos_, got);
    pos_ += got;
    return ERAR_SUCCESS;
  }
  std::uint64_t remaining() const override { return claimed_ - pos_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t claimed_;
  std::size_t pos_ = 0;
};

const std::uint8_t kKey[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                               17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
const std::uint8_t kIv[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};

std::vector<std::uint8_t> plainBytes(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  rarwriter::fillPattern(7, 0, reinterpret_cast<char*>(v.data()), n);
  return v;
}

std::vector<std::uint8_t> encrypt(const std::vector<std::uint8_t>& plain, std::size_t keySize) {
  std::vector<std::uint8_t> padded = plain;
  padded.resize((plain.size() + 15) / 16 * 16, 0);
  std::vector<std::uint8_t> out(padded.size());
  EXPECT_TRUE(unrar::crypto::aesCbc(AesCbc::Direction::Encrypt, kKey, keySize, kIv, padded.data(),
                                    padded.size(), out.data()));
  return out;
}

std::vector<std::uint8_t> drain(unrar::InStream& in, std::size_t chunk, int& rc) {
  std::vector<std::uint8_t> out, buf(chunk);
  rc = 0;
  for (;;) {
    std::size_t got = 0;
    rc = in.read(buf.data(), buf.size(), got);
    if (rc || got == 0) break;
    out.insert(out.end(), buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(got));
  }
  return out;
}

TEST(DecryptStream, GivesThePlainBytesWhateverTheReadSize) {
  // Larger than the stream's chunk, so refills cross chunk and block borders.
  const auto plain = plainBytes((1 << 20) + 12345);
  const auto cipher = encrypt(plain, 32);
  for (std::size_t chunk : {1u, 7u, 16u, 4099u, 1u << 20, 3u << 20}) {
    unrar::DecryptStream s(std::make_unique<MemoryStream>(cipher), kKey, 32, kIv, plain.size());
    ASSERT_TRUE(s.ready());
    EXPECT_EQ(s.remaining(), plain.size());
    int rc = 0;
    auto out = drain(s, chunk, rc);
    EXPECT_EQ(rc, 0) << "chunk " << chunk;
    EXPECT_TRUE(out == plain) << "chunk " << chunk << ": " << out.size() << " bytes";
    EXPECT_EQ(s.remaining(), 0u);
  }
}

TEST(DecryptStream, WithoutALimitHandsOutThePaddedStream) {
  const auto plain = plainBytes(100);
  const auto cipher = encrypt(plain, 16);
  unrar::DecryptStream s(std::make_unique<MemoryStream>(cipher), kKey, 16, kIv, ~0ull);
  EXPECT_EQ(s.remaining(), 112u);
  int rc = 0;
  auto out = drain(s, 64, rc);
  ASSERT_EQ(out.size(), 112u);
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), out.begin()));
}

TEST(DecryptStream, InputShorterThanClaimedIsBadData) {
  const auto plain = plainBytes(4096);
  auto cipher = encrypt(plain, 32);
  cipher.resize(1024);
  unrar::DecryptStream s(std::make_unique<MemoryStream>(cipher, 4096), kKey, 32, kIv, 4096);
  int rc = 0;
  auto out = drain(s, 4096, rc);
  EXPECT_EQ(out.size(), 1024u);
  EXPECT_EQ(rc, ERAR_BAD_DATA);
}

TEST(DecryptStream, ARaggedTailIsNeverHandedOut) {
  const auto plain = plainBytes(64);
  auto cipher = encrypt(plain, 32);
  cipher.resize(cipher.size() + 5, 0xAA);  // not a whole block
  unrar::DecryptStream s(std::make_unique<MemoryStream>(cipher), kKey, 32, kIv, ~0ull);
  EXPECT_EQ(s.remaining(), 64u);
  int rc = 0;
  auto out = drain(s, 1000, rc);
  EXPECT_TRUE(out == plain);
}

TEST(DecryptStream, ABadKeySizeIsNotReady) {
  unrar::DecryptStream s(std::make_unique<MemoryStream>(std::vector<std::uint8_t>(32)), kKey, 24,
                         kIv, 32);
  EXPECT_FALSE(s.ready());
  std::uint8_t buf[32];
  std::size_t got = 0;
  EXPECT_EQ(s.read(buf, sizeof buf, got), ERAR_BAD_DATA);
}

// Walks every header of an archive with encrypted headers and opens every
// entry's data, as the archive does, and counts key derivations.
std::size_t derivationsForWalk(rarwriter::Format f, int entries) {
  unrartest::TempDir dir;
  std::vector<rarwriter::Entry> list;
  for (int i = 0; i < entries; ++i) {
    rarwriter::Entry e;
    e.name = "f" + std::to_string(i);
    e.data = std::string(100 + i, static_cast<char>('a' + i % 26));
    list.push_back(e);
  }
  rarwriter::Options o;
  o.format = f;
  o.headerPassword = "cached";
  std::string path = dir.file("many.rar");
  rarwriter::write(path, list, o);

  std::shared_ptr<unrar::VolumeFile> vol;
  EXPECT_EQ(unrar::openVolume(path, vol), 0);
  if (!vol) return 0;
  unrar::ArchiveCrypto crypto;
  std::string pw = "cached";
  crypto.setPassword(pw.c_str());
  EXPECT_EQ(crypto.unlockHeaders(*vol, nullptr, 0), 0);
  std::uint64_t pos = vol->firstBlock;
  int files = 0;
  for (int guard = 0; guard < 1000; ++guard) {
    unrar::Block b = crypto.readBlock(*vol, pos);
    if (b.kind == unrar::BlockKind::End || b.kind == unrar::BlockKind::EndOfData) break;
    EXPECT_NE(b.kind, unrar::BlockKind::Broken) << "at " << pos;
    if (b.kind == unrar::BlockKind::Broken) break;
    if (b.kind == unrar::BlockKind::File) {
      std::vector<unrar::Part> parts{{vol, b.entry.dataOffset, b.entry.packSize}};
      std::unique_ptr<unrar::InStream> in = std::make_unique<unrar::PackedStream>(parts);
      EXPECT_EQ(crypto.openData(vol->format, b.entry, in, nullptr, 0), 0);
      int rc = 0;
      auto data = drain(*in, 4096, rc);
      EXPECT_EQ(std::string(data.begin(), data.end()), list[static_cast<std::size_t>(files)].data);
      EXPECT_TRUE(crypto.crcMatches(
          b.entry, rarwriter::crc32(std::string(data.begin(), data.end())), b.entry.crc));
      ++files;
    }
    pos = b.next;
  }
  EXPECT_EQ(files, entries);
  return crypto.derivations();
}

TEST(KeyCache, ManyEntriesUnderOneSaltDeriveTheKeyOnce) {
  EXPECT_EQ(derivationsForWalk(rarwriter::Format::Rar4, 40), 1u);
  EXPECT_EQ(derivationsForWalk(rarwriter::Format::Rar5, 40), 1u);
}

const std::uint8_t kSalt8[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const std::uint8_t kSalt16[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

TEST(KeyCache, DerivesOncePerSaltAndForgetsWithThePassword) {
  unrar::crypto::KeyCache cache(2);
  EXPECT_EQ(cache.rar4(kSalt8), nullptr) << "no password yet";
  cache.setPassword("pw");
  const unrar::crypto::Rar4Key* a = cache.rar4(kSalt8);
  ASSERT_NE(a, nullptr);
  unrar::crypto::Rar4Key first = *a;
  ASSERT_NE(cache.rar4(kSalt8), nullptr);
  EXPECT_EQ(cache.derivations(), 1u);

  std::uint8_t other[8] = {9, 9, 9, 9, 9, 9, 9, 9};
  ASSERT_NE(cache.rar4(other), nullptr);
  ASSERT_NE(cache.rar5(kSalt16, 2), nullptr);  // evicts kSalt8 (capacity 2)
  EXPECT_EQ(cache.derivations(), 3u);
  ASSERT_NE(cache.rar5(kSalt16, 3), nullptr) << "another count is another key";
  EXPECT_EQ(cache.derivations(), 4u);
  const unrar::crypto::Rar4Key* again = cache.rar4(kSalt8);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(cache.derivations(), 5u);
  EXPECT_TRUE(again->key == first.key);

  cache.setPassword("pw");  // the same password keeps the keys
  ASSERT_NE(cache.rar4(kSalt8), nullptr);
  EXPECT_EQ(cache.derivations(), 5u);
  cache.setPassword("other");
  const unrar::crypto::Rar4Key* changed = cache.rar4(kSalt8);
  ASSERT_NE(changed, nullptr);
  EXPECT_FALSE(changed->key == first.key);
  EXPECT_EQ(cache.rar5(kSalt16, unrar::crypto::kRar5MaxKdfCount + 1), nullptr);
  cache.clear();
  EXPECT_FALSE(cache.hasPassword());
  EXPECT_EQ(cache.rar4(kSalt8), nullptr);
}

}  // namespace
