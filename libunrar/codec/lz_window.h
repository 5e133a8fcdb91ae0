// The ring window the RAR 1.5 and 2.0 decoders share: bytes are decoded into
// a buffer whose size is a power of two and handed to the sink from there.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "codec/bit_input.h"
#include "codec/codec.h"
#include "unrar.h"

namespace unrar {

class LzWindowDecoder : public StreamDecoder {
 protected:
  // Decodes `size` more bytes of the session into `sink`, a window's worth
  // (less the longest match) at a time.
  Outcome decodeThroughWindow(std::uint64_t size, unsigned maxMatch, BitInput& bits, Sink& sink) {
    const std::uint64_t end = pos_ + size;
    while (flushed_ < end) {
      const std::uint64_t stop = std::min(end, flushed_ + window_.size() - maxMatch);
      Outcome rc = fill(bits, stop);
      if (rc) return rc;
      rc = flush(sink, std::min(pos_, end));
      if (rc) return rc;
    }
    // A match running past the file's end belongs to no file: its bytes stay
    // in the window only.
    flushed_ = pos_;
    return Outcome::passOn(bits.error());
  }

  // Decodes until at least `stop` bytes of the session exist; a match may run
  // past it by less than the longest match.
  virtual Outcome fill(BitInput& in, std::uint64_t stop) = 0;

  Outcome flush(Sink& sink, std::uint64_t upTo) {
    const std::size_t size = window_.size();
    while (flushed_ < upTo) {
      const std::size_t at = static_cast<std::size_t>(flushed_ & (size - 1));
      const std::size_t n =
          static_cast<std::size_t>(std::min<std::uint64_t>(upTo - flushed_, size - at));
      if (int rc = sink.put(window_.data() + at, n)) return Outcome::passOn(rc);
      flushed_ += n;
    }
    return {};
  }

  std::vector<std::uint8_t> window_;
  std::uint64_t pos_ = 0;      // bytes decoded in this session
  std::uint64_t flushed_ = 0;  // of those, handed to a sink or dropped
};

}  // namespace unrar
