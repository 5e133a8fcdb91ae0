#include "crypto/decrypt_stream.h"

#include <algorithm>
#include <cstring>

#include "unrar.h"

namespace unrar {
namespace {

// Ciphertext read from the volumes at a time: large enough that AES runs on
// long stretches, small enough to keep memory flat.
constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kBlock = 16;

}  // namespace

DecryptStream::DecryptStream(std::unique_ptr<InStream> inner, const std::uint8_t* key,
                             std::size_t keySize, const std::uint8_t* iv, std::uint64_t limit)
    : BufferedDecryptStream(std::move(inner)) {
  const std::uint64_t whole = inner_->remaining() / kBlock * kBlock;
  total_ = std::min(whole, limit);
  cipher_.init(crypto::AesCbc::Direction::Decrypt, key, keySize, iv);
  // Small entries (headers of links, short files) need no megabyte.
  const std::size_t chunk =
      static_cast<std::size_t>(std::clamp<std::uint64_t>(whole, kBlock, kChunk));
  cipherBuf_.resize(chunk);
  plain_.resize(chunk + kBlock);
}

// Decrypts the next stretch of ciphertext into plainBuf_.
int DecryptStream::refill() {
  plainPos_ = plainEnd_ = 0;
  if (!cipher_.ready()) return ERAR_BAD_DATA;
  std::size_t got = 0;
  int rc = inner_->read(cipherBuf_.data(), cipherBuf_.size(), got);
  if (rc) return rc;
  // The volumes ended before the header's packed size, or mid-block.
  if (got == 0) return ERAR_BAD_DATA;
  std::ptrdiff_t out = cipher_.update(cipherBuf_.data(), got, plain_.data());
  if (out < 0) return ERAR_BAD_DATA;
  plainEnd_ = static_cast<std::size_t>(out);
  return ERAR_SUCCESS;
}

// Whole blocks go straight into the caller's buffer: with nothing pending in
// the chain, the cipher writes no more than it is given.
int DecryptStream::decryptDirect(std::uint8_t* out, std::uint64_t left, std::size_t& made) {
  made = 0;
  if (left < kBlock || cipher_.pending() != 0 || !cipher_.ready()) return ERAR_SUCCESS;
  std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
  want -= want % kBlock;
  std::size_t in = 0;
  int rc = inner_->read(out, want, in);
  if (rc) return rc;
  if (in == 0) return ERAR_BAD_DATA;
  std::ptrdiff_t n = cipher_.update(out, in, out);
  if (n < 0) return ERAR_BAD_DATA;
  made = static_cast<std::size_t>(n);
  return ERAR_SUCCESS;
}

int BufferedDecryptStream::read(std::uint8_t* buf, std::size_t n, std::size_t& got) {
  got = 0;
  while (got < n && delivered_ < total_) {
    const std::uint64_t left = std::min<std::uint64_t>(n - got, total_ - delivered_);
    if (plainPos_ == plainEnd_) {
      std::size_t made = 0;
      int rc = decryptDirect(buf + got, left, made);
      if (rc == ERAR_SUCCESS && made == 0) rc = refill();
      if (rc) return got ? ERAR_SUCCESS : rc;
      got += made;
      delivered_ += made;
      continue;
    }
    const std::size_t take =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, plainEnd_ - plainPos_));
    std::memcpy(buf + got, plain_.data() + plainPos_, take);
    plainPos_ += take;
    got += take;
    delivered_ += take;
  }
  return ERAR_SUCCESS;
}

}  // namespace unrar
