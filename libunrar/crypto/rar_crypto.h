// Password-based encryption of RAR archives: key derivation, password checks,
// checksum conversion and AES-CBC, all on OpenSSL's libcrypto. Nothing here
// throws; failures are return values. Every object that holds key material
// wipes it when it is destroyed or reset.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>

namespace unrar::crypto {

// Overwrites memory in a way the optimiser cannot drop.
void wipe(void* data, std::size_t size) noexcept;

// A fixed-size byte array that wipes itself.
template <std::size_t N>
struct SecretBytes {
  std::array<std::uint8_t, N> bytes{};
  SecretBytes() = default;
  SecretBytes(const SecretBytes& other) = default;
  SecretBytes& operator=(const SecretBytes& other) = default;
  ~SecretBytes() { wipe(bytes.data(), N); }
  std::uint8_t* data() noexcept { return bytes.data(); }
  const std::uint8_t* data() const noexcept { return bytes.data(); }
  static constexpr std::size_t size() noexcept { return N; }
  bool operator==(const SecretBytes& other) const = default;
};

// UnRAR keeps at most this many characters of a password.
inline constexpr std::size_t kMaxPasswordChars = 127;

// ---- RAR 2.9-4 (AES-128) ----

inline constexpr std::size_t kRar4SaltSize = 8;

struct Rar4Key {
  SecretBytes<16> key;
  SecretBytes<16> iv;
};

// The cipher an encrypted RAR 1.5-4 entry uses, chosen by its UNP_VER.
enum class Rar4Cipher { Rar13, Rar15, Rar20, Aes128 };
Rar4Cipher rar4CipherFor(std::uint8_t unpackVersion) noexcept;

// Key and IV for `password` (UTF-8) and an 8-byte salt (nullptr: none): 2^18
// rounds of SHA-1 over the UTF-16LE password and the salt, with the reference
// SHA-1's write-back into its input that changes keys of passwords of 29
// characters and more. Returns false only when libcrypto fails or the password is
// not UTF-8.
bool deriveRar4Key(std::string_view password, const std::uint8_t* salt, Rar4Key& out) noexcept;

// ---- RAR 5 (AES-256) ----

inline constexpr std::size_t kRar5SaltSize = 16;
inline constexpr std::size_t kRar5IvSize = 16;
inline constexpr std::uint8_t kRar5MaxKdfCount = 24;  // log2 of the iteration count

struct Rar5Keys {
  SecretBytes<32> key;        // AES-256 key (PBKDF2 output after 2^count rounds)
  SecretBytes<32> hashKey;    // 16 rounds further: turns checksums into MACs
  SecretBytes<8> checkValue;  // 32 rounds further, folded to 8 bytes
};

// PBKDF2-HMAC-SHA256 of `password` (UTF-8, at most 127 characters used) over a
// 16-byte salt with 2^kdfCount iterations, and the two values that follow it.
// Returns false when kdfCount exceeds kRar5MaxKdfCount or libcrypto fails.
bool deriveRar5Keys(std::string_view password, const std::uint8_t* salt, std::uint8_t kdfCount,
                    Rar5Keys& out) noexcept;

// The 12 bytes an encryption record stores after its IV when it has a check
// value: the 8-byte value, then the first 4 bytes of its SHA-256.
struct Rar5PasswordCheck {
  std::array<std::uint8_t, 8> value{};
  std::array<std::uint8_t, 4> sum{};
};
Rar5PasswordCheck rar5PasswordCheck(const Rar5Keys& keys) noexcept;

enum class CheckResult {
  Match,          // the password is right (as far as 64 bits can tell)
  WrongPassword,  // the stored value is intact and differs: ERAR_BAD_PASSWORD
  Damaged,        // the stored value does not match its own checksum: ignore it
};
// `stored` points at the record's 12 check bytes.
CheckResult checkRar5Password(const Rar5Keys& keys, const std::uint8_t* stored) noexcept;

// The values a RAR 5 header stores for checksums of an entry encrypted with the
// MAC flag (encryption record flag 0x02).
std::uint32_t rar5CrcToMac(const Rar5Keys& keys, std::uint32_t crc) noexcept;
std::array<std::uint8_t, 32> rar5Blake2ToMac(const Rar5Keys& keys,
                                             const std::uint8_t* digest) noexcept;

// ---- Derived keys, cached per salt ----

// Derivation is deliberately slow, and an archive reuses one salt for many
// headers and files: the cache keeps the keys of the last few salts for one
// password. A pointer it returns stays valid until the next call on the cache.
class KeyCache {
 public:
  explicit KeyCache(std::size_t capacity = 16) : capacity_(capacity ? capacity : 1) {}
  ~KeyCache() { clear(); }
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;

  // A new password forgets every key of the old one.
  void setPassword(std::string_view utf8);
  bool hasPassword() const noexcept { return hasPassword_; }
  void clear() noexcept;  // forgets the password and every key

  // nullptr when there is no password or derivation failed.
  const Rar4Key* rar4(const std::uint8_t* salt) noexcept;  // salt: 8 bytes or nullptr
  const Rar5Keys* rar5(const std::uint8_t* salt, std::uint8_t kdfCount) noexcept;

  std::size_t derivations() const noexcept { return derivations_; }  // for tests

 private:
  struct Slot {
    bool rar5 = false;
    bool hasSalt = false;
    std::array<std::uint8_t, 16> salt{};
    std::uint8_t kdfCount = 0;
    Rar4Key rar4Key;
    Rar5Keys rar5Keys;
  };
  Slot* find(bool rar5, const std::uint8_t* salt, std::size_t saltSize, std::uint8_t count);
  Slot& insert();

  std::size_t capacity_;
  std::string password_;
  bool hasPassword_ = false;
  std::list<Slot> slots_;  // most recently used first
  std::size_t derivations_ = 0;
};

// ---- AES-CBC ----

// One CBC chain, streaming: any amount in, every complete block out. Start a
// fresh chain (reset) for each file and each header.
class AesCbc {
 public:
  enum class Direction { Decrypt, Encrypt };
  AesCbc() = default;
  ~AesCbc();
  AesCbc(const AesCbc&) = delete;
  AesCbc& operator=(const AesCbc&) = delete;

  // keySize 16 (AES-128) or 32 (AES-256); iv is 16 bytes.
  bool init(Direction direction, const std::uint8_t* key, std::size_t keySize,
            const std::uint8_t* iv) noexcept;
  // Same key, new IV, nothing pending.
  bool reset(const std::uint8_t* iv) noexcept;
  // Writes every complete block now available to `out` (room for size + 15
  // bytes) and returns how many bytes it wrote, or -1 on failure. Bytes short
  // of a block wait for the next call.
  std::ptrdiff_t update(const std::uint8_t* in, std::size_t size, std::uint8_t* out) noexcept;
  // Bytes held back waiting for a complete block.
  std::size_t pending() const noexcept { return pending_; }
  bool ready() const noexcept { return ctx_ != nullptr; }

 private:
  void release() noexcept;
  void* ctx_ = nullptr;  // EVP_CIPHER_CTX
  std::size_t pending_ = 0;
};

// Encrypts or decrypts whole blocks in one call with a fresh chain: for headers
// and small data. `size` must be a multiple of 16. Returns false on failure.
bool aesCbc(AesCbc::Direction direction, const std::uint8_t* key, std::size_t keySize,
            const std::uint8_t* iv, const std::uint8_t* in, std::size_t size,
            std::uint8_t* out) noexcept;

}  // namespace unrar::crypto
