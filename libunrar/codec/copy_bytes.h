// The LZ decoders' copy of literal runs and matches into their windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace unrar {

// Copies n bytes between places that do not overlap; short copies (most
// literal runs and matches) without a call.
inline void copyBytes(std::uint8_t* d, const std::uint8_t* s, std::size_t n) {
  if (n >= 8 && n <= 16) {
    std::uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4 && n < 8) {
    std::uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else if (n < 4) {
    for (std::size_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    std::memcpy(d, s, n);
  }
}

// Applies a chunk's commands, each a run of literals (taken in order from
// `literals`) and then a match (length 0: none), through a window's own
// `put(bytes, n)` and `match(distance, length)`.
template <typename Commands, typename Put, typename Match>
__attribute__((always_inline)) inline void applyCommands(const Commands& commands,
                                                         const std::uint8_t* literals, Put put,
                                                         Match match) {
  for (const auto& k : commands) {
    if (k.literals) {
      put(literals, k.literals);
      literals += k.literals;
    }
    if (k.length) match(k.distance, k.length);
  }
}

}  // namespace unrar
