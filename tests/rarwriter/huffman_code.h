// What the LZ test encoders share: Huffman code lengths from symbol counts,
// canonical codes, and a writer of most-significant-bit-first codes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace rarcode {

// Huffman code lengths of at most `maxBits` bits. With `everySymbol` every
// symbol gets a code (so that later data may use any of them); otherwise a
// symbol of count 0 gets none, and at least two symbols get one.
std::vector<std::uint8_t> codeLengths(std::vector<std::uint64_t> freq, unsigned maxBits,
                                      bool everySymbol);

// Canonical codes: shorter codes first, within a length the smaller symbol first.
std::vector<std::uint32_t> canonicalCodes(const std::vector<std::uint8_t>& lengths);

// Codes most significant bit first, as RAR's decoders read them.
class BitWriter {
 public:
  // Up to 32 bits at a time.
  void put(std::uint32_t value, unsigned bits) {
    acc_ = (acc_ << bits) | (bits ? value & (~std::uint64_t{0} >> (64 - bits)) : 0);
    used_ += bits;
    while (used_ >= 8) {
      used_ -= 8;
      out_.push_back(static_cast<char>(acc_ >> used_));
    }
  }
  void put64(std::uint64_t value, unsigned bits) {
    if (bits > 32) put(static_cast<std::uint32_t>(value >> 32), bits - 32);
    put(static_cast<std::uint32_t>(value), bits > 32 ? 32 : bits);
  }
  std::uint64_t bits() const { return out_.size() * 8 + used_; }
  void align() {
    if (used_) put(0, 8 - used_);
  }
  std::string finish() {
    align();
    return std::move(out_);
  }

 private:
  std::string out_;
  std::uint64_t acc_ = 0;
  unsigned used_ = 0;
};

}  // namespace rarcode
