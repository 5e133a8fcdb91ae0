// Hand-made RAR 5 streams for the decoder's tests: code tables of one length
// per alphabet, so that each symbol's code is its number, and the commands
// written one by one. Also the encoder side of the standard filters.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>

namespace rar5stream {

constexpr unsigned kMainBits = 9, kDistanceBits = 7, kAlignBits = 4, kLengthBits = 6;
constexpr unsigned kLevelBits = 5;

class BitWriter {
 public:
  void put(std::uint64_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((v >> i) & 1) bytes_.back() |= static_cast<char>(0x80 >> (bits_ % 8));
      ++bits_;
    }
  }
  std::uint64_t bits() const { return bits_; }
  std::string take() {
    std::string b;
    b.swap(bytes_);
    bits_ = 0;
    return b;
  }

 private:
  std::string bytes_;
  std::uint64_t bits_ = 0;
};

// A RAR 5 stream written command by command, and the bytes it decodes to
// before any filter (`raw`).
class Rar5Stream {
 public:
  explicit Rar5Stream(unsigned distanceSymbols = 64) : distanceSymbols_(distanceSymbols) {}

  void literal(std::uint8_t b) {
    main(b);
    raw.push_back(static_cast<char>(b));
  }
  void literals(const std::string& s) {
    for (char c : s) literal(static_cast<std::uint8_t>(c));
  }
  // A match with a new distance (length includes the bonus the distance gives).
  void match(std::uint32_t length, std::uint64_t distance) {
    const std::uint32_t bonus = (distance > 0x100) + (distance > 0x2000) + (distance > 0x40000);
    const unsigned lslot = lengthSlot(length - bonus);
    main(262 + lslot);
    lengthExtra(lslot, length - bonus);
    const std::uint64_t d = distance - 1;
    unsigned slot = static_cast<unsigned>(d);
    if (d >= 4) {
      const unsigned nb = 63 - static_cast<unsigned>(__builtin_clzll(d)) - 1;
      slot = 2 * (nb + 1) + static_cast<unsigned>((d >> nb) & 1);
      const std::uint64_t extra = d - (static_cast<std::uint64_t>(2 | (slot & 1)) << nb);
      w_.put(slot, kDistanceBits);
      if (nb >= 4) {
        w_.put(extra >> 4, nb - 4);
        w_.put(extra & 15, kAlignBits);
      } else {
        w_.put(extra, nb);
      }
    } else {
      w_.put(slot, kDistanceBits);
    }
    push(distance);
    last_ = length;
    copy(length, distance);
  }
  // Distance slot `slot` with zero extra bits, whatever it reaches.
  void rawDistanceSlot(unsigned slot) {
    main(262);
    w_.put(slot, kDistanceBits);
    const unsigned nb = slot < 4 ? 0 : slot / 2 - 1;
    if (nb >= 4) {
      w_.put(0, nb - 4);
      w_.put(0, kAlignBits);
    } else {
      w_.put(0, nb);
    }
  }
  void repeat(unsigned i, std::uint32_t length) {
    const std::uint64_t d = dist_[i];
    for (unsigned k = i; k > 0; --k) dist_[k] = dist_[k - 1];
    dist_[0] = d;
    main(258 + i);
    const unsigned lslot = lengthSlot(length);
    w_.put(lslot, kLengthBits);
    lengthExtra(lslot, length);
    last_ = length;
    copy(length, d);
  }
  void repeatLast() {
    main(257);
    copy(last_, dist_[0]);
  }
  void filter(std::uint32_t offset, std::uint32_t length, unsigned type, unsigned channels = 0) {
    main(256);
    number(offset);
    number(length);
    w_.put(type, 3);
    if (type == 0) w_.put(channels - 1, 5);
  }
  // Starts a block: its tables (when `tables`) come first.
  void beginBlock(bool tables) {
    tables_ = tables;
    if (tables) writeTables();
  }
  // Ends the block begun last, with its header.
  void finishBlock(bool last) {
    const std::uint64_t bits = w_.bits();
    const std::string data = w_.take();
    const std::uint8_t lastBits = static_cast<std::uint8_t>(bits % 8 == 0 ? 8 : bits % 8);
    const std::uint32_t size = static_cast<std::uint32_t>(data.size());
    const unsigned sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
    std::uint8_t flags = static_cast<std::uint8_t>((lastBits - 1) | ((sizeBytes - 1) << 3));
    if (last) flags |= 0x40;
    if (tables_) flags |= 0x80;
    std::uint8_t check = 0x5A ^ flags;
    for (unsigned i = 0; i < sizeBytes; ++i) check ^= static_cast<std::uint8_t>(size >> (8 * i));
    stream.push_back(static_cast<char>(flags));
    stream.push_back(static_cast<char>(check));
    for (unsigned i = 0; i < sizeBytes; ++i) stream.push_back(static_cast<char>(size >> (8 * i)));
    stream += data;
  }

  std::string stream;
  std::string raw;

 private:
  void main(unsigned sym) { w_.put(sym, kMainBits); }
  static unsigned lengthSlot(std::uint32_t length) {
    const std::uint32_t v = length - 2;
    if (v < 8) return v;
    const unsigned extra = 31 - static_cast<unsigned>(__builtin_clz(v)) - 2;
    return 4 * (extra + 1) + ((v >> extra) & 3);
  }
  void lengthExtra(unsigned slot, std::uint32_t length) {
    if (slot < 8) return;
    const unsigned extra = slot / 4 - 1;
    w_.put(length - 2 - ((4u | (slot & 3)) << extra), extra);
  }
  void number(std::uint32_t v) {
    const unsigned bytes = v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4;
    w_.put(bytes - 1, 2);
    for (unsigned i = 0; i < bytes; ++i) w_.put((v >> (8 * i)) & 0xFF, 8);
  }
  void push(std::uint64_t d) {
    dist_[3] = dist_[2];
    dist_[2] = dist_[1];
    dist_[1] = dist_[0];
    dist_[0] = d;
  }
  void copy(std::uint32_t length, std::uint64_t distance) {
    for (std::uint32_t i = 0; i < length; ++i) raw.push_back(raw[raw.size() - distance]);
  }
  // The level code gives length 5 to the symbols used here and 0 to the rest
  // (written with the escape for runs of zeros); codes follow symbol order.
  void writeTables() {
    static constexpr std::array<std::uint8_t, 8> used = {4, 6, 7, 9, 16, 17, 18, 19};
    auto code = [](unsigned sym) {
      return static_cast<unsigned>(std::find(used.begin(), used.end(), sym) - used.begin());
    };
    // 0-3: four zeros; 4: 5; 5: 0; 6, 7: 5; 8: 0; 9: 5; 10-15: six zeros; 16-19: 5.
    const unsigned nibbles[] = {15, 2, 5, 0, 5, 5, 0, 5, 15, 4, 5, 5, 5, 5};
    for (unsigned n : nibbles) w_.put(n, 4);
    auto lengths = [&](unsigned value, unsigned count) {
      // The first plainly, then repeats of the previous: 17 for 11-138, 16 for 3-10.
      w_.put(code(value), kLevelBits);
      --count;
      while (count >= 11) {
        const unsigned n = std::min(count, 138u);
        w_.put(code(17), kLevelBits);
        w_.put(n - 11, 7);
        count -= n;
      }
      while (count >= 3) {
        const unsigned n = std::min(count, 10u);
        w_.put(code(16), kLevelBits);
        w_.put(n - 3, 3);
        count -= n;
      }
      for (; count; --count) w_.put(code(value), kLevelBits);
    };
    lengths(kMainBits, 306);
    if (distanceSymbols_ == 64) {
      // Slots 60-63 (distances beyond 1.5 GiB) unused: a short run of zeros.
      lengths(kDistanceBits, 60);
      w_.put(code(18), kLevelBits);
      w_.put(4 - 3, 3);
    } else {
      lengths(kDistanceBits, distanceSymbols_);
    }
    lengths(kAlignBits, 16);
    lengths(kLengthBits, 44);
  }

  unsigned distanceSymbols_;
  BitWriter w_;
  bool tables_ = false;
  std::array<std::uint64_t, 4> dist_{};
  std::uint32_t last_ = 0;
};

// Encoder-side filters: what the decoder's filters undo.
inline std::string deltaEncode(const std::string& o, unsigned channels) {
  std::string r;
  for (unsigned ch = 0; ch < channels; ++ch) {
    std::uint8_t prev = 0;
    for (std::size_t d = ch; d < o.size(); d += channels) {
      r.push_back(static_cast<char>(prev - static_cast<std::uint8_t>(o[d])));
      prev = static_cast<std::uint8_t>(o[d]);
    }
  }
  return r;
}

inline std::uint32_t le32(const std::string& s, std::size_t i) {
  std::uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<std::uint8_t>(s[i + k]);
  return v;
}
inline void setLe(std::string& s, std::size_t i, std::uint32_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) s[i + k] = static_cast<char>(v >> (8 * k));
}

inline std::string x86Encode(std::string o, std::uint64_t filePos, bool jumps) {
  constexpr std::uint32_t kSpan = 0x1000000;
  for (std::size_t i = 0; i + 4 < o.size(); ++i) {
    const auto op = static_cast<std::uint8_t>(o[i]);
    if (op != 0xE8 && !(jumps && op == 0xE9)) continue;
    const auto offset = static_cast<std::uint32_t>((filePos + i + 1) % kSpan);
    const std::uint32_t x = le32(o, i + 1);
    if (x < kSpan - offset)
      setLe(o, i + 1, x + offset, 4);
    else if (x < kSpan)
      setLe(o, i + 1, x - kSpan, 4);
    else if (x >= 0u - offset)
      setLe(o, i + 1, x + offset, 4);
    i += 4;
  }
  return o;
}

inline std::string armEncode(std::string o, std::uint64_t filePos) {
  for (std::size_t i = 0; i + 3 < o.size(); i += 4) {
    if (static_cast<std::uint8_t>(o[i + 3]) != 0xEB) continue;
    const std::uint32_t v = le32(o, i) & 0xFFFFFF;
    setLe(o, i, v + static_cast<std::uint32_t>((filePos + i) / 4), 3);
  }
  return o;
}

// Machine code of sorts over `s`: calls and jumps to near and far addresses.
inline std::string code(std::string s, unsigned seed) {
  const std::size_t n = s.size();
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i + 8 < n; i += 3 + rng() % 9) {
    s[i] = static_cast<char>(rng() % 2 ? 0xE8 : 0xE9);
    const std::uint32_t pick = rng() % 4;
    const std::uint32_t addr = pick == 0   ? rng() % 0x1000000
                               : pick == 1 ? 0u - rng() % 5000
                               : pick == 2 ? rng() % 3000
                                           : rng();
    setLe(s, i + 1, addr, 4);
  }
  for (std::size_t i = 3; i < n; i += 4 * (1 + rng() % 3)) s[i] = static_cast<char>(0xEB);
  return s;
}

}  // namespace rar5stream
