// The ciphers of RAR 1.3, 1.5 and 2.0, which RAR 2.9 replaced with AES. An
// entry's unpack version says which one encrypted it. None of them has a check
// value: a wrong password shows only as a failed CRC.
//
// RAR 1.3 and 1.5 are byte ciphers whose key stream depends on the password
// alone; RAR 2.0 encrypts 16-byte blocks with a password-shuffled S-box and
// four keys that each ciphertext block changes, so its data is padded to 16.
// Every entry starts from the password's keys afresh.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/streams.h"
#include "crypto/decrypt_stream.h"
#include "crypto/rar_crypto.h"

namespace unrar {

// The bytes the old ciphers take from a password given as UTF-8 (or, when it
// is not UTF-8, as the 8-bit bytes it came as). RAR of that time took the
// password in an 8-bit code page: text that Latin-1 can hold is turned back
// into it, other text stays UTF-8.
std::string legacyPasswordBytes(std::string_view text);

class LegacyCipher {
 public:
  // `cipher` is Rar13, Rar15 or Rar20; `password` as legacyPasswordBytes gives it.
  LegacyCipher(crypto::Rar4Cipher cipher, std::string_view password);
  ~LegacyCipher();
  LegacyCipher(const LegacyCipher&) = delete;
  LegacyCipher& operator=(const LegacyCipher&) = delete;

  // 16 for RAR 2.0, 1 for the byte ciphers: data goes in and out in whole blocks.
  std::size_t blockSize() const { return cipher_ == crypto::Rar4Cipher::Rar20 ? 16 : 1; }

  // In place; `n` must be a multiple of blockSize().
  void decrypt(std::uint8_t* data, std::size_t n);
  void encrypt(std::uint8_t* data, std::size_t n);

 private:
  void crypt20(std::uint8_t* block, bool decrypting);
  void updateKeys20(const std::uint8_t* cipherBlock);
  std::uint8_t next15();

  crypto::Rar4Cipher cipher_;
  // RAR 1.3 uses the low bytes of k[0..2]; RAR 1.5 the low halves of k[0..3];
  // RAR 2.0 all of k and the S-box.
  std::array<std::uint32_t, 4> k_{};
  std::array<std::uint8_t, 256> sbox_{};
};

// The decrypting stage for an entry encrypted with an old cipher: plain packed
// bytes from the ciphertext in `inner`, with a bounded buffer. At most `limit`
// bytes are handed out, so the padding of stored RAR 2.0 data never reaches
// the output. RAR 2.0 needs whole blocks in `inner`.
class LegacyDecryptStream final : public BufferedDecryptStream {
 public:
  LegacyDecryptStream(std::unique_ptr<InStream> inner, crypto::Rar4Cipher cipher,
                      std::string_view password, std::uint64_t limit);

 private:
  int refill() override;

  LegacyCipher cipher_;
};

}  // namespace unrar
