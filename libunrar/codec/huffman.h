// Canonical Huffman codes as RAR 2.0 and 2.9 store them: a bit length (0 =
// unused, at most 15) per symbol; shorter codes first, and within one length
// the smaller symbol first.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "codec/bit_input.h"

namespace unrar {

class HuffmanTable {
 public:
  static constexpr unsigned kMaxBits = 15;

  // Builds the table; false when the lengths describe no valid code (more
  // codes of some length than fit). An incomplete code is allowed, as RAR's
  // encoder writes them; the unused codes decode as errors.
  bool build(const std::uint8_t* lengths, std::size_t count);

  // The next symbol, or -1 for a code that is not in the table.
  __attribute__((always_inline)) int decode(BitInput& in) const {
    unsigned len = 0;
    int sym = lookup(in.peek(kMaxBits), len);
    if (sym >= 0) in.skip(len);
    return sym;
  }

  // The symbol whose code begins `bits` (the next kMaxBits bits of the
  // stream) and its code length, without consuming anything; -1 for a code
  // that is not in the table.
  __attribute__((always_inline)) int lookup(std::uint32_t bits, unsigned& len) const {
    std::uint32_t quick = bits >> (kMaxBits - kQuickBits);
    len = quickLen_[quick];
    if (len) return quickSym_[quick];
    return lookupSlow(bits, len);
  }

 private:
  static constexpr unsigned kQuickBits = 10;
  int lookupSlow(std::uint32_t bits, unsigned& len) const;

  std::array<std::uint8_t, 1u << kQuickBits> quickLen_{};
  std::array<std::uint16_t, 1u << kQuickBits> quickSym_{};
  // Per length: the first code (left-aligned to kMaxBits bits) and the index
  // of its symbol in `symbols_`.
  std::array<std::uint32_t, kMaxBits + 2> limit_{};
  std::array<std::uint32_t, kMaxBits + 1> first_{};
  std::array<std::uint32_t, kMaxBits + 1> offset_{};
  std::vector<std::uint16_t> symbols_;
};

}  // namespace unrar
