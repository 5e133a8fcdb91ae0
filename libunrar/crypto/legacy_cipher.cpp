#include "crypto/legacy_cipher.h"

#include <algorithm>
#include <cstring>

#include "core/fields.h"
#include "core/utf8.h"
#include "unrar.h"

namespace unrar {
namespace {

using crypto::Rar4Cipher;

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i;
    for (int b = 0; b < 8; ++b) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[i] = c;
  }
  return t;
}
// All three ciphers mix their keys with the CRC32 table.
constexpr std::array<std::uint32_t, 256> kCrc = makeCrcTable();

// RAR 2.0's S-box before the password shuffles it.
constexpr std::array<std::uint8_t, 256> kInitialSbox = {
    215, 19,  149, 35,  73,  197, 192, 205, 249, 28,  16,  119, 48,  221, 2,   42,  232, 1,   177,
    233, 14,  88,  219, 25,  223, 195, 244, 90,  87,  239, 153, 137, 255, 199, 147, 70,  92,  66,
    246, 13,  216, 40,  62,  29,  217, 230, 86,  6,   71,  24,  171, 196, 101, 113, 218, 123, 93,
    91,  163, 178, 202, 67,  44,  235, 107, 250, 75,  234, 49,  167, 125, 211, 83,  114, 157, 144,
    32,  193, 143, 36,  158, 124, 247, 187, 89,  214, 141, 47,  121, 228, 61,  130, 213, 194, 174,
    251, 97,  110, 54,  229, 115, 57,  152, 94,  105, 243, 212, 55,  209, 245, 63,  11,  164, 200,
    31,  156, 81,  176, 227, 21,  76,  99,  139, 188, 127, 17,  248, 51,  207, 120, 189, 210, 8,
    226, 41,  72,  183, 203, 135, 165, 166, 60,  98,  7,   122, 38,  155, 170, 69,  172, 252, 238,
    39,  134, 59,  128, 236, 27,  240, 80,  131, 3,   85,  206, 145, 79,  154, 142, 159, 220, 201,
    133, 74,  64,  20,  129, 224, 185, 138, 103, 173, 182, 43,  34,  254, 82,  198, 151, 231, 180,
    58,  10,  118, 26,  102, 12,  50,  132, 22,  191, 136, 111, 162, 179, 45,  4,   148, 108, 161,
    56,  78,  126, 242, 222, 15,  175, 146, 23,  33,  241, 181, 190, 77,  225, 0,   46,  169, 186,
    68,  95,  237, 65,  53,  208, 253, 168, 9,   18,  100, 52,  116, 184, 160, 96,  109, 37,  30,
    106, 140, 104, 150, 5,   204, 117, 112, 84};

// RAR 2.0 reads at most this many password bytes.
constexpr std::size_t kMaxRar20Password = 127;

std::uint32_t rotl32(std::uint32_t v, unsigned n) {
  return (v << n) | (v >> (32 - n));
}
std::uint16_t rotr16(std::uint16_t v) {
  return static_cast<std::uint16_t>((v >> 1) | (v << 15));
}

}  // namespace

std::string legacyPasswordBytes(std::string_view text) {
  if (!validUtf8(text.data(), text.size())) return std::string(text);
  std::string latin1;
  latin1.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      latin1 += static_cast<char>(b);
      ++i;
    } else if ((b == 0xC2 || b == 0xC3) && i + 1 < text.size()) {
      latin1 +=
          static_cast<char>(((b & 0x03) << 6) | (static_cast<unsigned char>(text[i + 1]) & 0x3F));
      i += 2;
    } else {
      crypto::wipe(latin1.data(), latin1.size());
      return std::string(text);
    }
  }
  return latin1;
}

LegacyCipher::LegacyCipher(Rar4Cipher cipher, std::string_view password) : cipher_(cipher) {
  const auto* pw = reinterpret_cast<const std::uint8_t*>(password.data());
  const std::size_t n = password.size();
  switch (cipher) {
    case Rar4Cipher::Rar13:
      for (std::size_t i = 0; i < n; ++i) {
        k_[0] = (k_[0] + pw[i]) & 0xFF;
        k_[1] ^= pw[i];
        const std::uint32_t s = (k_[2] + pw[i]) & 0xFF;
        k_[2] = ((s << 1) | (s >> 7)) & 0xFF;
      }
      break;
    case Rar4Cipher::Rar15: {
      // The CRC register of the password, without the final inversion.
      std::uint32_t crc = 0xFFFFFFFFu;
      for (std::size_t i = 0; i < n; ++i) crc = kCrc[(crc ^ pw[i]) & 0xFF] ^ (crc >> 8);
      k_[0] = crc & 0xFFFF;
      k_[1] = crc >> 16;
      for (std::size_t i = 0; i < n; ++i) {
        k_[2] = (k_[2] ^ pw[i] ^ kCrc[pw[i]]) & 0xFFFF;
        k_[3] = (k_[3] + pw[i] + (kCrc[pw[i]] >> 16)) & 0xFFFF;
      }
      break;
    }
    case Rar4Cipher::Rar20: {
      k_ = {0xD3A3B879u, 0x3F6D12F7u, 0x7515A235u, 0xA4E7F123u};
      sbox_ = kInitialSbox;
      // Zero-padded to whole blocks; the pairs below may read one byte past.
      std::array<std::uint8_t, kMaxRar20Password + 1> buf{};
      const std::size_t len = std::min(n, kMaxRar20Password);
      std::memcpy(buf.data(), pw, len);
      for (unsigned j = 0; j < 256; ++j)
        for (std::size_t i = 0; i < len; i += 2) {
          unsigned a = kCrc[(buf[i] - j) & 0xFF] & 0xFF;
          const unsigned b = kCrc[(buf[i + 1] + j) & 0xFF] & 0xFF;
          for (unsigned step = 1; a != b; a = (a + 1) & 0xFF, ++step)
            std::swap(sbox_[a], sbox_[(a + i + step) & 0xFF]);
        }
      for (std::size_t i = 0; i < len; i += 16) encrypt(buf.data() + i, 16);
      crypto::wipe(buf.data(), buf.size());
      break;
    }
    case Rar4Cipher::Aes128:
      break;
  }
}

LegacyCipher::~LegacyCipher() {
  crypto::wipe(k_.data(), sizeof k_);
  crypto::wipe(sbox_.data(), sbox_.size());
}

std::uint8_t LegacyCipher::next15() {
  k_[0] = (k_[0] + 0x1234) & 0xFFFF;
  const std::uint32_t t = kCrc[(k_[0] >> 1) & 0xFF];
  k_[1] = (k_[1] ^ t) & 0xFFFF;
  k_[2] = (k_[2] - (t >> 16)) & 0xFFFF;
  k_[0] ^= k_[2];
  k_[3] = rotr16(static_cast<std::uint16_t>(rotr16(static_cast<std::uint16_t>(k_[3])) ^ k_[1]));
  k_[0] ^= k_[3];
  return static_cast<std::uint8_t>(k_[0] >> 8);
}

void LegacyCipher::updateKeys20(const std::uint8_t* c) {
  for (int i = 0; i < 16; i += 4)
    for (int w = 0; w < 4; ++w) k_[w] ^= kCrc[c[i + w]];
}

void LegacyCipher::crypt20(std::uint8_t* block, bool decrypting) {
  auto sub = [this](std::uint32_t t) {
    return std::uint32_t{sbox_[t & 0xFF]} | (std::uint32_t{sbox_[(t >> 8) & 0xFF]} << 8) |
           (std::uint32_t{sbox_[(t >> 16) & 0xFF]} << 16) | (std::uint32_t{sbox_[t >> 24]} << 24);
  };
  std::array<std::uint8_t, 16> in{};
  std::memcpy(in.data(), block, 16);
  std::uint32_t a = load32le(block) ^ k_[0];
  std::uint32_t b = load32le(block + 4) ^ k_[1];
  std::uint32_t c = load32le(block + 8) ^ k_[2];
  std::uint32_t d = load32le(block + 12) ^ k_[3];
  for (int r = 0; r < 32; ++r) {
    const std::uint32_t key = k_[(decrypting ? 31 - r : r) & 3];
    const std::uint32_t ta = a ^ sub((c + rotl32(d, 11)) ^ key);
    const std::uint32_t tb = b ^ sub((d ^ rotl32(c, 17)) + key);
    a = c;
    b = d;
    c = ta;
    d = tb;
  }
  store32le(block, c ^ k_[0]);
  store32le(block + 4, d ^ k_[1]);
  store32le(block + 8, a ^ k_[2]);
  store32le(block + 12, b ^ k_[3]);
  // The keys move on with each ciphertext block.
  updateKeys20(decrypting ? in.data() : block);
}

void LegacyCipher::decrypt(std::uint8_t* data, std::size_t n) {
  switch (cipher_) {
    case Rar4Cipher::Rar13:
      for (std::size_t i = 0; i < n; ++i) {
        k_[1] = (k_[1] + k_[2]) & 0xFF;
        k_[0] = (k_[0] + k_[1]) & 0xFF;
        data[i] = static_cast<std::uint8_t>(data[i] - k_[0]);
      }
      break;
    case Rar4Cipher::Rar15:
      for (std::size_t i = 0; i < n; ++i) data[i] ^= next15();
      break;
    case Rar4Cipher::Rar20:
      for (std::size_t i = 0; i + 16 <= n; i += 16) crypt20(data + i, true);
      break;
    case Rar4Cipher::Aes128:
      break;
  }
}

void LegacyCipher::encrypt(std::uint8_t* data, std::size_t n) {
  switch (cipher_) {
    case Rar4Cipher::Rar13:
      for (std::size_t i = 0; i < n; ++i) {
        k_[1] = (k_[1] + k_[2]) & 0xFF;
        k_[0] = (k_[0] + k_[1]) & 0xFF;
        data[i] = static_cast<std::uint8_t>(data[i] + k_[0]);
      }
      break;
    case Rar4Cipher::Rar15:
      decrypt(data, n);  // a key stream XORed in
      break;
    case Rar4Cipher::Rar20:
      for (std::size_t i = 0; i + 16 <= n; i += 16) crypt20(data + i, false);
      break;
    case Rar4Cipher::Aes128:
      break;
  }
}

namespace {
constexpr std::size_t kChunk = 64 * 1024;
}

LegacyDecryptStream::LegacyDecryptStream(std::unique_ptr<InStream> inner, Rar4Cipher cipher,
                                         std::string_view password, std::uint64_t limit)
    : BufferedDecryptStream(std::move(inner)), cipher_(cipher, password) {
  const std::uint64_t whole = inner_->remaining() / cipher_.blockSize() * cipher_.blockSize();
  total_ = std::min(whole, limit);
  plain_.resize(static_cast<std::size_t>(std::clamp<std::uint64_t>(whole, 16, kChunk)));
}

// Whole blocks only, so a block never straddles two reads.
int LegacyDecryptStream::refill() {
  plainPos_ = plainEnd_ = 0;
  const std::size_t bs = cipher_.blockSize();
  std::size_t filled = 0;
  while (filled < bs || filled % bs != 0) {
    std::size_t in = 0;
    int rc = inner_->read(plain_.data() + filled, plain_.size() - filled, in);
    if (rc) return rc;
    if (in == 0) return ERAR_BAD_DATA;  // ended before its packed size
    filled += in;
  }
  cipher_.decrypt(plain_.data(), filled);
  plainEnd_ = filled;
  return ERAR_SUCCESS;
}

}  // namespace unrar
