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

class DecryptStream final : public InStream {
 public:
  // `key` is 16 (AES-128) or 32 (AES-256) bytes, `iv` 16; one CBC chain runs
  // over the whole of `inner`, which must hold whole cipher blocks. At most
  // `limit` plain bytes are handed out: the true size of stored data, so its
  // padding never reaches the output.
  DecryptStream(std::unique_ptr<InStream> inner, const std::uint8_t* key, std::size_t keySize,
                const std::uint8_t* iv, std::uint64_t limit);

  // False when the cipher could not be set up; read() then fails.
  bool ready() const { return cipher_.ready(); }

  int read(std::uint8_t* buf, std::size_t n, std::size_t& got) override;
  std::uint64_t remaining() const override { return total_ - delivered_; }

 private:
  int refill();

  std::unique_ptr<InStream> inner_;
  crypto::AesCbc cipher_;
  std::uint64_t total_ = 0;  // plain bytes this stream hands out in all
  std::uint64_t delivered_ = 0;
  std::vector<std::uint8_t> cipherBuf_;
  std::vector<std::uint8_t> plainBuf_;
  std::size_t plainPos_ = 0;
  std::size_t plainEnd_ = 0;
};

}  // namespace unrar
