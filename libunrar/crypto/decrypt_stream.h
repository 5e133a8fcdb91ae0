// The decrypting stage of the data path: volumes joined -> decryption ->
// codec. It turns an entry's AES-CBC ciphertext, read from another InStream,
// into plain packed bytes with a bounded buffer, so an entry of any size costs
// the same memory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/streams.h"
#include "crypto/rar_crypto.h"

namespace unrar {

// What both decrypting stages share: plain bytes handed out from a buffer the
// cipher fills, at most `total` of them. A failed or short read of the
// ciphertext fails the read that meets it, after what was already decrypted.
class BufferedDecryptStream : public InStream {
 public:
  int read(std::uint8_t* buf, std::size_t n, std::size_t& got) final;
  std::uint64_t remaining() const final { return total_ - delivered_; }

 protected:
  explicit BufferedDecryptStream(std::unique_ptr<InStream> inner) : inner_(std::move(inner)) {}
  // Decrypts the next stretch of ciphertext into plain_[0, plainEnd_).
  virtual int refill() = 0;
  // Decrypts straight into the caller's buffer, up to `left` bytes, where the
  // cipher can; `made` = 0 leaves it to refill().
  virtual int decryptDirect(std::uint8_t*, std::uint64_t, std::size_t& made) {
    made = 0;
    return 0;
  }

  std::unique_ptr<InStream> inner_;
  std::uint64_t total_ = 0;  // plain bytes this stream hands out in all
  std::vector<std::uint8_t> plain_;
  std::size_t plainPos_ = 0;
  std::size_t plainEnd_ = 0;

 private:
  std::uint64_t delivered_ = 0;
};

class DecryptStream final : public BufferedDecryptStream {
 public:
  // `key` is 16 (AES-128) or 32 (AES-256) bytes, `iv` 16; one CBC chain runs
  // over the whole of `inner`, which must hold whole cipher blocks. At most
  // `limit` plain bytes are handed out: the true size of stored data, so its
  // padding never reaches the output.
  DecryptStream(std::unique_ptr<InStream> inner, const std::uint8_t* key, std::size_t keySize,
                const std::uint8_t* iv, std::uint64_t limit);

  // False when the cipher could not be set up; reads then fail.
  bool ready() const { return cipher_.ready(); }

 private:
  int refill() override;
  int decryptDirect(std::uint8_t* out, std::uint64_t left, std::size_t& made) override;

  crypto::AesCbc cipher_;
  std::vector<std::uint8_t> cipherBuf_;
};

}  // namespace unrar
