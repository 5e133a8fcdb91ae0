#include "codec/byte_filters.h"

#include <bit>
#include <cstring>

#include "core/fields.h"

namespace unrar::filters {

void unfilterX86(std::uint8_t* data, std::size_t n, std::uint64_t fileOffset, bool jumps,
                 std::uint32_t positionMask) {
  if (n < 5) return;  // no room for an opcode and its operand
  constexpr std::uint32_t kImageSize = 0x1000000;
  const std::size_t last = n - 5;  // the last byte with a whole operand after it
  std::size_t i = 0;
  while (i <= last) {
    // Opcodes are a few percent of the bytes: find the next candidate a word
    // (or, for calls alone, memchr's vector) at a time.
    if (jumps) {
      bool found = false;
      while (i + 8 <= last + 1) {
        // A zero byte where the byte with its low bit cleared is E8.
        const std::uint64_t x =
            (load64le(data + i) & 0xFEFEFEFEFEFEFEFEull) ^ 0xE8E8E8E8E8E8E8E8ull;
        const std::uint64_t zero = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
        if (zero) {
          // The lowest flag is exact; only flags above a zero byte can be false.
          i += static_cast<std::size_t>(std::countr_zero(zero)) / 8;
          found = true;
          break;
        }
        i += 8;
      }
      if (!found) {
        while (i <= last && (data[i] & 0xFE) != 0xE8) ++i;
        if (i > last) break;
      }
    } else {
      const void* hit = std::memchr(data + i, 0xE8, last + 1 - i);
      if (hit == nullptr) break;
      i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - data);
    }
    const std::uint32_t pos = static_cast<std::uint32_t>(fileOffset + i + 1) & positionMask;
    const std::uint32_t addr = load32le(data + i + 1);
    if (addr & 0x80000000u) {
      if (((addr + pos) & 0x80000000u) == 0) store32le(data + i + 1, addr + kImageSize);
    } else if (addr < kImageSize) {
      store32le(data + i + 1, addr - pos);
    }
    i += 5;
  }
}

void undelta(const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::size_t channels) {
  // Channels past the data have no bytes.
  const std::size_t used = channels < n ? channels : n;
  for (std::size_t c = 0; c < used; ++c) {
    std::uint8_t last = 0;
    for (std::size_t i = c; i < n; i += channels) {
      last = static_cast<std::uint8_t>(last - *in++);
      out[i] = last;
    }
  }
}

}  // namespace unrar::filters
