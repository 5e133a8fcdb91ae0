#include "crypto/rar_crypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace unrar::crypto {
namespace {

// A byte vector that wipes itself; holds passwords and the KDF's input.
struct SecretBuffer {
  std::vector<std::uint8_t> bytes;
  ~SecretBuffer() { wipe(bytes.data(), bytes.size()); }
};

// The first kMaxPasswordChars characters of a UTF-8 password, as code points.
// False when the text is not UTF-8.
bool passwordChars(std::string_view utf8, std::vector<char32_t>& out) {
  out.clear();
  for (std::size_t i = 0; i < utf8.size() && out.size() < kMaxPasswordChars;) {
    auto b = static_cast<unsigned char>(utf8[i]);
    std::size_t len = b < 0x80             ? 1
                      : (b & 0xE0) == 0xC0 ? 2
                      : (b & 0xF0) == 0xE0 ? 3
                      : (b & 0xF8) == 0xF0 ? 4
                                           : 0;
    if (len == 0 || i + len > utf8.size()) return false;
    char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < len; ++k) {
      auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    out.push_back(cp);
    i += len;
  }
  return true;
}

void appendUtf16le(std::vector<std::uint8_t>& out, char32_t cp) {
  auto unit = [&](std::uint32_t u) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  };
  if (cp >= 0x10000) {
    cp -= 0x10000;
    unit(0xD800 + (cp >> 10));
    unit(0xDC00 + (cp & 0x3FF));
  } else {
    unit(cp);
  }
}

void appendUtf8(std::vector<std::uint8_t>& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<std::uint8_t>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<std::uint8_t>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<std::uint8_t>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<std::uint8_t>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<std::uint8_t>(0x80 | (cp & 0x3F)));
  }
}

struct MdCtxFree {
  void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

struct MacFree {
  void operator()(EVP_MAC* m) const { EVP_MAC_free(m); }
};
struct MacCtxFree {
  void operator()(EVP_MAC_CTX* c) const { EVP_MAC_CTX_free(c); }
};

// What the reference SHA-1 leaves in a 64-byte block it hashed in place: its
// message schedule's last 16 words, little-endian. Only the schedule is
// computed here; the hashing itself is libcrypto's.
void overwriteWithScheduleTail(std::uint8_t* block) {
  std::uint32_t w[80];
  for (int t = 0; t < 16; ++t)
    w[t] = std::uint32_t{block[4 * t]} << 24 | std::uint32_t{block[4 * t + 1]} << 16 |
           std::uint32_t{block[4 * t + 2]} << 8 | block[4 * t + 3];
  for (int t = 16; t < 80; ++t) {
    std::uint32_t x = w[t - 3] ^ w[t - 8] ^ w[t - 14] ^ w[t - 16];
    w[t] = (x << 1) | (x >> 31);
  }
  for (int k = 0; k < 16; ++k) {
    std::uint32_t v = w[64 + k];
    block[4 * k] = static_cast<std::uint8_t>(v);
    block[4 * k + 1] = static_cast<std::uint8_t>(v >> 8);
    block[4 * k + 2] = static_cast<std::uint8_t>(v >> 16);
    block[4 * k + 3] = static_cast<std::uint8_t>(v >> 24);
  }
  wipe(w, sizeof w);
}

bool hmacSha256(const std::uint8_t* key, std::size_t keySize, const std::uint8_t* data,
                std::size_t size, std::uint8_t* out) {
  static const std::uint8_t kEmpty = 0;
  std::size_t outSize = 0;
  return EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, keySize ? key : &kEmpty, keySize,
                   size ? data : &kEmpty, size, out, 32, &outSize) != nullptr &&
         outSize == 32;
}

}  // namespace

void wipe(void* data, std::size_t size) noexcept {
  if (data && size) OPENSSL_cleanse(data, size);
}

Rar4Cipher rar4CipherFor(std::uint8_t unpackVersion) noexcept {
  switch (unpackVersion) {
    case 13:
      return Rar4Cipher::Rar13;
    case 15:
      return Rar4Cipher::Rar15;
    case 20:
    case 26:
      return Rar4Cipher::Rar20;
    default:
      return Rar4Cipher::Aes128;
  }
}

bool deriveRar4Key(std::string_view password, const std::uint8_t* salt, Rar4Key& out) noexcept {
  try {
    std::vector<char32_t> chars;
    if (!passwordChars(password, chars)) return false;
    SecretBuffer input;
    for (char32_t c : chars) appendUtf16le(input.bytes, c);
    wipe(chars.data(), chars.size() * sizeof(char32_t));
    if (salt) input.bytes.insert(input.bytes.end(), salt, salt + kRar4SaltSize);
    std::uint8_t* d = input.bytes.data();
    const std::size_t len = input.bytes.size();

    MdCtx ctx(EVP_MD_CTX_new());
    MdCtx copy(EVP_MD_CTX_new());
    if (!ctx || !copy || !EVP_DigestInit_ex(ctx.get(), EVP_sha1(), nullptr)) return false;
    std::uint64_t fed = 0;
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned digestSize = 0;
    constexpr std::uint32_t kRounds = 0x40000;
    for (std::uint32_t i = 0; i < kRounds; ++i) {
      if (len && !EVP_DigestUpdate(ctx.get(), d, len)) return false;
      // The reference hashes whole blocks straight from the caller's buffer when
      // its own buffer is empty or just filled, and scribbles over them.
      std::size_t used = static_cast<std::size_t>(fed % 64);
      if (used + len > 63)
        for (std::size_t k = 64 - used; k + 63 < len; k += 64) overwriteWithScheduleTail(d + k);
      fed += len;
      const std::uint8_t counter[3] = {static_cast<std::uint8_t>(i),
                                       static_cast<std::uint8_t>(i >> 8),
                                       static_cast<std::uint8_t>(i >> 16)};
      if (!EVP_DigestUpdate(ctx.get(), counter, 3)) return false;
      fed += 3;
      if (i % (kRounds / 16) == 0) {
        if (!EVP_MD_CTX_copy_ex(copy.get(), ctx.get()) ||
            !EVP_DigestFinal_ex(copy.get(), digest, &digestSize) || digestSize != 20)
          return false;
        out.iv.bytes[i / (kRounds / 16)] = digest[19];
      }
    }
    if (!EVP_DigestFinal_ex(ctx.get(), digest, &digestSize) || digestSize != 20) return false;
    for (int word = 0; word < 4; ++word)
      for (int b = 0; b < 4; ++b) out.key.bytes[4 * word + b] = digest[4 * word + 3 - b];
    wipe(digest, sizeof digest);
    return true;
  } catch (...) {
    return false;
  }
}

bool deriveRar5Keys(std::string_view password, const std::uint8_t* salt, std::uint8_t kdfCount,
                    Rar5Keys& out) noexcept {
  if (kdfCount > kRar5MaxKdfCount || !salt) return false;
  try {
    std::vector<char32_t> chars;
    if (!passwordChars(password, chars)) return false;
    SecretBuffer pw;
    for (char32_t c : chars) appendUtf8(pw.bytes, c);
    wipe(chars.data(), chars.size() * sizeof(char32_t));

    std::unique_ptr<EVP_MAC, MacFree> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
    if (!mac) return false;
    std::unique_ptr<EVP_MAC_CTX, MacCtxFree> ctx(EVP_MAC_CTX_new(mac.get()));
    if (!ctx) return false;
    char digestName[] = "SHA256";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
                           OSSL_PARAM_construct_end()};
    static const std::uint8_t kEmpty = 0;
    if (!EVP_MAC_init(ctx.get(), pw.bytes.empty() ? &kEmpty : pw.bytes.data(), pw.bytes.size(),
                      params))
      return false;

    SecretBytes<32> u;
    SecretBytes<32> t;
    std::size_t outSize = 0;
    const std::uint8_t blockIndex[4] = {0, 0, 0, 1};
    if (!EVP_MAC_update(ctx.get(), salt, kRar5SaltSize) ||
        !EVP_MAC_update(ctx.get(), blockIndex, 4) ||
        !EVP_MAC_final(ctx.get(), u.data(), &outSize, 32) || outSize != 32)
      return false;
    t = u;
    const std::uint64_t c = std::uint64_t{1} << kdfCount;
    SecretBytes<32> check;
    for (std::uint64_t n = 1;; ++n) {
      if (n == c) out.key = t;
      if (n == c + 16) out.hashKey = t;
      if (n == c + 32) {
        check = t;
        break;
      }
      // A null key re-uses the one set above.
      if (!EVP_MAC_init(ctx.get(), nullptr, 0, nullptr) ||
          !EVP_MAC_update(ctx.get(), u.data(), 32) ||
          !EVP_MAC_final(ctx.get(), u.data(), &outSize, 32) || outSize != 32)
        return false;
      for (int i = 0; i < 32; ++i) t.bytes[i] ^= u.bytes[i];
    }
    out.checkValue = SecretBytes<8>{};
    for (int i = 0; i < 32; ++i) out.checkValue.bytes[i % 8] ^= check.bytes[i];
    return true;
  } catch (...) {
    return false;
  }
}

Rar5PasswordCheck rar5PasswordCheck(const Rar5Keys& keys) noexcept {
  Rar5PasswordCheck result;
  std::copy(keys.checkValue.bytes.begin(), keys.checkValue.bytes.end(), result.value.begin());
  std::uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (EVP_Digest(result.value.data(), result.value.size(), digest, &size, EVP_sha256(), nullptr) &&
      size == 32)
    std::copy(digest, digest + 4, result.sum.begin());
  return result;
}

CheckResult checkRar5Password(const Rar5Keys& keys, const std::uint8_t* stored) noexcept {
  std::uint8_t digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (!EVP_Digest(stored, 8, digest, &size, EVP_sha256(), nullptr) || size != 32 ||
      std::memcmp(digest, stored + 8, 4) != 0)
    return CheckResult::Damaged;
  return CRYPTO_memcmp(keys.checkValue.data(), stored, 8) == 0 ? CheckResult::Match
                                                               : CheckResult::WrongPassword;
}

std::uint32_t rar5CrcToMac(const Rar5Keys& keys, std::uint32_t crc) noexcept {
  const std::uint8_t raw[4] = {static_cast<std::uint8_t>(crc), static_cast<std::uint8_t>(crc >> 8),
                               static_cast<std::uint8_t>(crc >> 16),
                               static_cast<std::uint8_t>(crc >> 24)};
  std::uint8_t digest[32] = {};
  if (!hmacSha256(keys.hashKey.data(), 32, raw, 4, digest)) return ~crc;  // never equal to crc
  std::uint32_t result = 0;
  for (int i = 0; i < 32; ++i) result ^= std::uint32_t{digest[i]} << (8 * (i % 4));
  return result;
}

std::array<std::uint8_t, 32> rar5Blake2ToMac(const Rar5Keys& keys,
                                             const std::uint8_t* digest) noexcept {
  std::array<std::uint8_t, 32> out{};
  if (!hmacSha256(keys.hashKey.data(), 32, digest, 32, out.data())) {
    // A failure must not pass for a match: return the plain digest inverted.
    for (int i = 0; i < 32; ++i) out[i] = static_cast<std::uint8_t>(~digest[i]);
  }
  return out;
}

// ---- KeyCache ----

void KeyCache::setPassword(std::string_view utf8) {
  if (hasPassword_ && utf8 == password_) return;
  clear();
  password_.assign(utf8);
  hasPassword_ = true;
}

void KeyCache::clear() noexcept {
  wipe(password_.data(), password_.size());
  password_.clear();
  hasPassword_ = false;
  slots_.clear();  // each slot's keys wipe themselves
}

KeyCache::Slot* KeyCache::find(bool rar5, const std::uint8_t* salt, std::size_t saltSize,
                               std::uint8_t count) {
  for (auto it = slots_.begin(); it != slots_.end(); ++it) {
    if (it->rar5 != rar5 || it->kdfCount != count || it->hasSalt != (salt != nullptr)) continue;
    if (salt && std::memcmp(it->salt.data(), salt, saltSize) != 0) continue;
    slots_.splice(slots_.begin(), slots_, it);
    return &slots_.front();
  }
  return nullptr;
}

KeyCache::Slot& KeyCache::insert() {
  while (slots_.size() >= capacity_) slots_.pop_back();
  slots_.emplace_front();
  return slots_.front();
}

const Rar4Key* KeyCache::rar4(const std::uint8_t* salt) noexcept {
  if (!hasPassword_) return nullptr;
  try {
    if (Slot* hit = find(false, salt, kRar4SaltSize, 0)) return &hit->rar4Key;
    Rar4Key key;
    if (!deriveRar4Key(password_, salt, key)) return nullptr;
    ++derivations_;
    Slot& slot = insert();
    slot.hasSalt = salt != nullptr;
    if (salt) std::copy(salt, salt + kRar4SaltSize, slot.salt.begin());
    slot.rar4Key = key;
    return &slot.rar4Key;
  } catch (...) {
    return nullptr;
  }
}

const Rar5Keys* KeyCache::rar5(const std::uint8_t* salt, std::uint8_t kdfCount) noexcept {
  if (!hasPassword_ || !salt) return nullptr;
  try {
    if (Slot* hit = find(true, salt, kRar5SaltSize, kdfCount)) return &hit->rar5Keys;
    Rar5Keys keys;
    if (!deriveRar5Keys(password_, salt, kdfCount, keys)) return nullptr;
    ++derivations_;
    Slot& slot = insert();
    slot.rar5 = true;
    slot.hasSalt = true;
    slot.kdfCount = kdfCount;
    std::copy(salt, salt + kRar5SaltSize, slot.salt.begin());
    slot.rar5Keys = keys;
    return &slot.rar5Keys;
  } catch (...) {
    return nullptr;
  }
}

// ---- AES-CBC ----

AesCbc::~AesCbc() {
  release();
}

void AesCbc::release() noexcept {
  if (ctx_) EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(ctx_));  // cleanses the key schedule
  ctx_ = nullptr;
  pending_ = 0;
}

bool AesCbc::init(Direction direction, const std::uint8_t* key, std::size_t keySize,
                  const std::uint8_t* iv) noexcept {
  release();
  const EVP_CIPHER* cipher = keySize == 16   ? EVP_aes_128_cbc()
                             : keySize == 32 ? EVP_aes_256_cbc()
                                             : nullptr;
  if (!cipher || !key || !iv) return false;
  auto* ctx = EVP_CIPHER_CTX_new();
  if (!ctx) return false;
  if (!EVP_CipherInit_ex(ctx, cipher, nullptr, key, iv, direction == Direction::Encrypt ? 1 : 0) ||
      !EVP_CIPHER_CTX_set_padding(ctx, 0)) {
    EVP_CIPHER_CTX_free(ctx);
    return false;
  }
  ctx_ = ctx;
  return true;
}

bool AesCbc::reset(const std::uint8_t* iv) noexcept {
  if (!ctx_ || !iv) return false;
  auto* ctx = static_cast<EVP_CIPHER_CTX*>(ctx_);
  pending_ = 0;
  return EVP_CipherInit_ex(ctx, nullptr, nullptr, nullptr, iv, -1) &&
         EVP_CIPHER_CTX_set_padding(ctx, 0);
}

std::ptrdiff_t AesCbc::update(const std::uint8_t* in, std::size_t size,
                              std::uint8_t* out) noexcept {
  if (!ctx_) return -1;
  std::ptrdiff_t written = 0;
  // EVP takes int lengths: feed large inputs in slices.
  while (size > 0) {
    int slice = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    int outSize = 0;
    if (!EVP_CipherUpdate(static_cast<EVP_CIPHER_CTX*>(ctx_), out + written, &outSize, in, slice))
      return -1;
    written += outSize;
    in += slice;
    size -= static_cast<std::size_t>(slice);
    pending_ = (pending_ + static_cast<std::size_t>(slice)) % 16;
  }
  return written;
}

bool aesCbc(AesCbc::Direction direction, const std::uint8_t* key, std::size_t keySize,
            const std::uint8_t* iv, const std::uint8_t* in, std::size_t size,
            std::uint8_t* out) noexcept {
  if (size % 16 != 0) return false;
  AesCbc cbc;
  if (!cbc.init(direction, key, keySize, iv)) return false;
  return cbc.update(in, size, out) == static_cast<std::ptrdiff_t>(size);
}

}  // namespace unrar::crypto
