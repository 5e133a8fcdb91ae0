// Reading the fields of on-disk records: little-endian loads and the
// bounds-checked reader of a record's fields in order (fixed-size integers,
// RAR 5's variable-length integers, byte runs). A read past the record's end
// yields zeros and clears `ok`, so a reader checks once after a run of fields.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unrar {

inline std::uint16_t load16le(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t load32le(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t load64le(const std::uint8_t* p) {
  return load32le(p) | (static_cast<std::uint64_t>(load32le(p + 4)) << 32);
}
inline void store32le(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

struct FieldReader {
  const std::uint8_t* p;
  std::size_t n;
  std::size_t i = 0;
  bool ok = true;

  // A RAR 5 variable-length integer: 7 bits a byte, low bits first, the top
  // bit set on every byte but the last; at most 10 bytes.
  std::uint64_t vint() {
    std::uint64_t v = 0;
    for (int shift = 0; shift < 70; shift += 7) {
      if (i >= n) {
        ok = false;
        return 0;
      }
      std::uint8_t b = p[i++];
      if (shift < 64) v |= static_cast<std::uint64_t>(b & 0x7F) << shift;
      if (!(b & 0x80)) return v;
    }
    ok = false;
    return 0;
  }
  std::uint16_t u16() {
    const std::uint8_t* b = bytes(2);
    return b ? load16le(b) : 0;
  }
  std::uint32_t u32() {
    const std::uint8_t* b = bytes(4);
    return b ? load32le(b) : 0;
  }
  std::uint64_t u64() {
    const std::uint8_t* b = bytes(8);
    return b ? load64le(b) : 0;
  }
  std::uint8_t byte() {
    if (i >= n) {
      ok = false;
      return 0;
    }
    return p[i++];
  }
  // The next `count` bytes, or nullptr (and the reader at its end) when the
  // record is shorter.
  const std::uint8_t* bytes(std::uint64_t count) {
    if (i > n || count > n - i) {
      ok = false;
      i = n;
      return nullptr;
    }
    const std::uint8_t* r = p + i;
    i += static_cast<std::size_t>(count);
    return r;
  }
  std::size_t left() const { return i < n ? n - i : 0; }
  const std::uint8_t* here() const { return p + i; }
};

}  // namespace unrar
