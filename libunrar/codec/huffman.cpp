#include "codec/huffman.h"

namespace unrar {

bool HuffmanTable::build(const std::uint8_t* lengths, std::size_t count) {
  std::array<std::uint32_t, kMaxBits + 1> perLength{};
  for (std::size_t i = 0; i < count; ++i) {
    if (lengths[i] > kMaxBits) return false;
    ++perLength[lengths[i]];
  }
  perLength[0] = 0;
  // first_[len]: the first code of that length, left-aligned to kMaxBits.
  std::uint32_t code = 0;
  std::uint32_t index = 0;
  for (unsigned len = 1; len <= kMaxBits; ++len) {
    first_[len] = code;
    offset_[len] = index;
    code += perLength[len] << (kMaxBits - len);
    index += perLength[len];
    if (code > (1u << kMaxBits)) return false;
    limit_[len] = code;  // codes of this length are below it
  }
  symbols_.assign(index, 0);
  std::array<std::uint32_t, kMaxBits + 1> next = offset_;
  for (std::size_t i = 0; i < count; ++i)
    if (lengths[i]) symbols_[next[lengths[i]]++] = static_cast<std::uint16_t>(i);

  quickLen_.fill(0);
  for (unsigned len = 1; len <= kQuickBits; ++len) {
    for (std::uint32_t k = 0; k < perLength[len]; ++k) {
      std::uint32_t c = (first_[len] >> (kMaxBits - kQuickBits)) + (k << (kQuickBits - len));
      std::uint32_t span = 1u << (kQuickBits - len);
      for (std::uint32_t j = 0; j < span; ++j) {
        quickLen_[c + j] = static_cast<std::uint8_t>(len);
        quickSym_[c + j] = symbols_[offset_[len] + k];
      }
    }
  }
  return true;
}

int HuffmanTable::lookupSlow(std::uint32_t bits, unsigned& len) const {
  for (unsigned n = kQuickBits + 1; n <= kMaxBits; ++n) {
    if (bits < limit_[n]) {
      if (bits < first_[n]) return -1;
      std::uint32_t k = (bits - first_[n]) >> (kMaxBits - n);
      len = n;
      return symbols_[offset_[n] + k];
    }
  }
  return -1;
}

}  // namespace unrar
