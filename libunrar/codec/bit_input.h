// Most-significant-bit-first reading of an entry's packed stream, as every
// RAR 1.5-4 decoder reads it. Each entry gets a fresh reader over its own
// stream: nothing read ahead is carried into the next entry of a solid stream.
// Past the end of the stream the reader delivers zero bits and counts them, so
// a decoder stops on `exhausted()` instead of going round on made-up input.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/failure.h"
#include "core/streams.h"

namespace unrar {

class BitInput {
 public:
  // Zero bytes a decoder may read past the end before the stream counts as
  // exhausted: table reads and the last code of a stream look ahead a little.
  static constexpr std::uint64_t kSlackBytes = 64;

  explicit BitInput(InStream& in, std::size_t bufferSize = 64 * 1024) : in_(in), buf_(bufferSize) {}

  // The next n bits (1..32), without consuming them.
  __attribute__((always_inline)) std::uint32_t peek(unsigned n) {
    if (have_ < n) fill();
    return static_cast<std::uint32_t>(acc_ >> (64 - n));
  }
  __attribute__((always_inline)) void skip(unsigned n) {
    if (have_ < n) fill();
    acc_ <<= n;
    have_ -= n;
  }
  __attribute__((always_inline)) std::uint32_t bits(unsigned n) {
    if (have_ < n) fill();
    const auto v = static_cast<std::uint32_t>(acc_ >> (64 - n));
    acc_ <<= n;
    have_ -= n;
    return v;
  }
  // Drops the bits up to the next byte boundary.
  void alignToByte() { skip(have_ % 8); }
  // The next whole byte; the reader must be at a byte boundary.
  std::uint8_t byte() { return static_cast<std::uint8_t>(bits(8)); }

  // The stream ended more than kSlackBytes ago, or reading it failed.
  bool exhausted() const { return overrun_ > kSlackBytes || error_ != 0; }
  // The ERAR_* code of a failed read of the packed stream, or 0.
  int error() const { return error_; }
  // Why the stream stopped: its read's own code, or the stream ran short.
  Outcome failure() const { return error_ ? Outcome::passOn(error_) : Failure::TruncatedStream; }

 private:
  __attribute__((always_inline)) void fill() {
    if (end_ - pos_ >= 8) {
      // Eight bytes at once, as many whole ones counted as fit. The bits of a
      // byte that does not fit whole are set already: the byte's own bits,
      // which the next fill sets again to the same.
      std::uint64_t v;
      std::memcpy(&v, buf_.data() + pos_, 8);
      acc_ |= __builtin_bswap64(v) >> have_;
      const unsigned bytes = (64 - have_) >> 3;
      pos_ += bytes;
      have_ += bytes * 8;
      return;
    }
    fillSlowly();
  }
  // Byte by byte, near the end of the buffer.
  __attribute__((noinline)) void fillSlowly() {
    while (have_ <= 56) {
      acc_ |= static_cast<std::uint64_t>(nextByte()) << (56 - have_);
      have_ += 8;
    }
  }
  std::uint8_t nextByte() {
    if (pos_ < end_) return buf_[pos_++];
    return refill();
  }
  std::uint8_t refill() {
    pos_ = end_ = 0;
    if (!error_ && !ended_) {
      std::size_t got = 0;
      error_ = in_.read(buf_.data(), buf_.size(), got);
      if (got == 0) ended_ = true;
      end_ = got;
    }
    if (pos_ < end_) return buf_[pos_++];
    ++overrun_;
    return 0;
  }

  InStream& in_;
  std::vector<std::uint8_t> buf_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t acc_ = 0;
  unsigned have_ = 0;
  std::uint64_t overrun_ = 0;
  bool ended_ = false;
  int error_ = 0;
};

}  // namespace unrar
