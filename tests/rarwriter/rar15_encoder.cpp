#include "rar15_encoder.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace rar15enc {
namespace {

struct Code {
  std::uint32_t bits = 0;
  unsigned length = 0;
};

// Canonical codes from (length, count) runs in symbol order.
std::vector<Code> canonical(std::initializer_list<std::pair<unsigned, unsigned>> runs) {
  std::vector<Code> codes;
  std::uint32_t code = 0;
  unsigned length = 0;
  for (auto [len, count] : runs) {
    code <<= len - length;
    length = len;
    for (unsigned i = 0; i < count; ++i) codes.push_back({code++, len});
  }
  return codes;
}

std::vector<Code> fromStrings(std::initializer_list<const char*> strings) {
  std::vector<Code> codes;
  for (const char* s : strings) {
    Code c;
    for (; *s; ++s, ++c.length) c.bits = c.bits * 2 + (*s == '1');
    codes.push_back(c);
  }
  return codes;
}

struct Tables {
  std::vector<Code> length1 = canonical(
      {{2, 2}, {3, 1}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {12, 224}});
  std::vector<Code> length2 = canonical(
      {{3, 5}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {11, 2}, {12, 220}});
  std::array<std::vector<Code>, 5> index{
      canonical({{4, 8}, {5, 8}, {6, 8}, {7, 9}, {12, 224}}),
      canonical({{5, 4}, {6, 40}, {7, 16}, {8, 16}, {9, 4}, {11, 47}, {12, 130}}),
      canonical({{5, 2}, {6, 5}, {7, 46}, {8, 64}, {9, 116}, {10, 24}}),
      canonical({{6, 2}, {7, 14}, {8, 202}, {9, 33}, {10, 6}}),
      canonical({{8, 255}, {9, 2}}),
  };
  // By (selector average >= 37) * 2 + (codes switched).
  std::array<std::vector<Code>, 4> selector{
      fromStrings({"0", "101", "1101", "1110", "11110", "111110", "1111110", "11111110", "11111111",
                   "1100", "1000", "10010", "100110", "100111"}),
      fromStrings({"0", "1010", "1101", "1110", "11110", "111110", "1111110", "11111110",
                   "11111111", "1100", "1000", "10010", "100110", "100111", "1011"}),
      fromStrings({"00", "010", "011", "101", "1101", "1110", "11110", "111110", "111111", "1100",
                   "1000", "10010", "100110", "100111"}),
      fromStrings({"00", "010", "011", "1010", "1101", "1110", "11110", "111110", "111111", "1100",
                   "1000", "10010", "100110", "100111", "1011"}),
  };
};

const Tables& tables() {
  static const Tables t;
  return t;
}

// The decoder's move-towards-front byte map, with the search the encoder needs.
struct Map {
  std::array<unsigned, 256> slot{};
  std::array<unsigned, 256> first{};

  void init(unsigned multiplier, bool ranked) {
    for (unsigned i = 0; i < 256; ++i) slot[i] = ((i * multiplier) & 0xFF) << 8;
    first.fill(0);
    if (ranked) rerank();
  }
  void rerank() {
    for (unsigned i = 0; i < 256; ++i) slot[i] = (slot[i] & 0xFF00) | (7 - i / 32);
    first.fill(0);
    for (unsigned c = 0; c < 7; ++c) first[c] = (7 - c) * 32;
  }
  unsigned find(unsigned byte) const {
    for (unsigned i = 0; i < 256; ++i)
      if ((slot[i] >> 8) == byte) return i;
    throw std::logic_error("byte missing from map");
  }
  void use(unsigned index, unsigned limit) {
    unsigned v = slot[index];
    if ((v & 0xFF) >= limit) {
      rerank();
      v = slot[index];
    }
    const unsigned to = first[v & 0xFF]++;
    slot[index] = slot[to];
    slot[to] = v + 1;
  }
};

class BitOut {
 public:
  void put(std::uint32_t value, unsigned length) {
    for (unsigned i = length; i-- > 0;) {
      acc_ = static_cast<std::uint8_t>(acc_ << 1 | ((value >> i) & 1));
      if (++n_ == 8) {
        bytes_ += static_cast<char>(acc_);
        acc_ = 0;
        n_ = 0;
      }
    }
  }
  // Pads the last byte and adds two zero bytes: unar reads ahead of the last
  // code and fails a stream that ends right after it.
  std::string finish() {
    if (n_) put(0, 8 - n_);
    bytes_.append(2, '\0');
    return std::move(bytes_);
  }

 private:
  std::string bytes_;
  std::uint8_t acc_ = 0;
  unsigned n_ = 0;
};

constexpr std::size_t kHashSize = 1 << 16;
constexpr unsigned kMaxDistance = 0xFFFF;

}  // namespace

struct Encoder::State {
  const Tables& t = tables();
  Stats stats;
  std::string buf;  // every byte of the session so far
  std::vector<std::int64_t> head = std::vector<std::int64_t>(kHashSize, -1);
  std::vector<std::int64_t> prev;
  std::size_t hashed = 0;

  // The decoder's state, kept in step.
  Map flagMap, literalMap, offsetMap;
  std::array<unsigned, 256> near{};
  unsigned avgSelector = 0, avgLiteral = 0x3500, avgLength = 0, avgOffset = 0, avgNear = 0;
  unsigned farOffset = 0x2001, literalWeight = 0x80, matchWeight = 0x80, literalRun = 0;
  bool alt = false;
  unsigned lastOffset = 0, lastLength = 0;
  std::array<unsigned, 4> oldOffsets{};
  unsigned oldIndex = 0;
  // Per file.
  bool literalsOnly = false;
  unsigned repeats = 0;
  bool haveGroup = false;
  unsigned groupBits = 0;
  unsigned flagValue = 0;
  std::vector<std::pair<std::uint32_t, unsigned>> items;  // coded after the group's flag byte
  BitOut out;

  State() {
    flagMap.init(0xFF, false);
    literalMap.init(1, false);
    offsetMap.init(1, true);
    for (unsigned i = 0; i < 256; ++i) near[i] = i;
  }

  void put(std::uint32_t v, unsigned len) { items.emplace_back(v, len); }
  void put(const Code& c) { put(c.bits, c.length); }

  void closeGroup() {
    if (haveGroup) {
      const unsigned idx = flagMap.find(flagValue);
      flagMap.use(idx, 0xFF);
      const Code& c = t.index[2][idx];
      out.put(c.bits, c.length);
    }
    for (auto [v, len] : items) out.put(v, len);
    items.clear();
    haveGroup = false;
  }
  void flag(unsigned bit) {
    if (!haveGroup || groupBits == 8) {
      closeGroup();
      haveGroup = true;
      groupBits = 0;
      flagValue = 0;
    }
    flagValue |= bit << (7 - groupBits++);
  }
  unsigned flagBitsLeft() const { return haveGroup ? 8 - groupBits : 0; }

  void hashUpTo(std::size_t p) {
    for (; hashed < p && hashed + 3 <= buf.size(); ++hashed) {
      const std::size_t h = hash(hashed);
      prev.resize(hashed + 1);
      prev[hashed] = head[h];
      head[h] = static_cast<std::int64_t>(hashed);
    }
  }
  std::size_t hash(std::size_t p) const {
    return (static_cast<unsigned char>(buf[p]) * 0x9E37u ^
            static_cast<unsigned char>(buf[p + 1]) * 0x3B1u ^
            static_cast<unsigned char>(buf[p + 2])) &
           (kHashSize - 1);
  }
  unsigned matchLength(std::size_t p, unsigned dist, std::size_t end, unsigned cap) const {
    if (dist == 0 || dist > p) return 0;
    unsigned n = 0;
    while (n < cap && p + n < end && buf[p + n] == buf[p + n - dist]) ++n;
    return n;
  }

  unsigned literalCode() const {
    const unsigned a = avgLiteral;
    return a < 0xE00 ? 0 : a < 0x3600 ? 1 : a < 0x5E00 ? 2 : a < 0x7600 ? 3 : 4;
  }

  void literal(std::size_t& p) {
    const unsigned byte = static_cast<unsigned char>(buf[p]);
    unsigned idx = literalMap.find(byte);
    const unsigned code = literalCode();
    if (literalsOnly) {
      put(t.index[code][idx + 1]);
      ++stats.literalsOnlyMode;
    } else {
      if (matchWeight > literalWeight) flag(0);
      flag(1);
      put(t.index[code][idx]);
      if (literalRun++ >= 16 && flagBitsLeft() == 0) literalsOnly = true;
    }
    avgLiteral += idx;
    avgLiteral -= avgLiteral >> 8;
    literalWeight += 16;
    if (literalWeight > 0xFF) {
      literalWeight = 0x90;
      matchWeight >>= 1;
    }
    literalMap.use(idx, 0xA1);
    ++stats.literals;
    ++p;
  }

  void escapeMatch(std::size_t& p, unsigned dist, unsigned len) {
    put(t.index[literalCode()][0]);
    put(0, 1);
    put(len == 4 ? 1 : 0, 1);
    put(t.index[2][dist >> 5]);
    put(dist & 31, 5);
    ++stats.escapeMatches;
    p += len;
  }

  void exitLiteralsOnly() {
    put(t.index[literalCode()][0]);
    put(1, 1);
    literalsOnly = false;
    literalRun = 0;
    ++stats.modeExits;
  }

  void remember(unsigned offset, unsigned len) {
    lastOffset = oldOffsets[oldIndex++ & 3] = offset;
    lastLength = len;
  }

  // Bonus lengths a long match gets for its distance.
  unsigned longBonus(unsigned dist) const {
    return (dist >= farOffset ? 1 : 0) + (dist <= 256 ? 8 : 0);
  }

  void longMatch(std::size_t& p, unsigned dist, unsigned len) {
    const bool expectMatch = matchWeight > literalWeight;
    if (!expectMatch) flag(0);
    flag(1);
    literalRun = 0;
    matchWeight += 16;
    if (matchWeight > 0xFF) {
      matchWeight = 0x90;
      literalWeight >>= 1;
    }
    const unsigned raw = len - 3 - longBonus(dist);
    if (avgLength >= 122) {
      put(t.length2[raw]);
      ++stats.longCode2;
    } else if (avgLength >= 64) {
      put(t.length1[raw]);
      ++stats.longCode1;
    } else {
      if (raw < 8) {
        put(1, raw + 1);
      } else {
        put(0, 8);
        put(raw, 8);
      }
      ++stats.longUnary;
    }
    const unsigned code = avgOffset < 0x700 ? 0 : avgOffset < 0x2900 ? 1 : 2;
    const unsigned idx = offsetMap.find(dist >> 7);
    put(t.index[code][idx]);
    offsetMap.use(idx, 0xFF);
    put(dist & 0x7F, 7);
    const unsigned limit = farOffset;
    farOffset = avgNear > 0xB0 || (avgLiteral >= 0x2A00 && avgLength < 0x40) ? 0x7F00 : 0x2001;
    avgLength += raw;
    avgLength -= avgLength >> 5;
    avgOffset += idx;
    avgOffset -= avgOffset >> 8;
    // Near by the limit this match was coded with, whatever the next one uses.
    if (raw == 0 && (dist <= limit) != (dist <= farOffset)) ++stats.nearByOldLimit;
    if (raw == 0 && dist <= limit) {
      ++avgNear;
      avgNear -= avgNear >> 8;
    } else if (raw != 1 && raw != 4 && avgNear > 0) {
      --avgNear;
    }
    remember(dist, len);
    ++stats.longMatches;
    p += len;
  }

  // Flags and the repeat bit of a short match; then its selector.
  void shortStart(bool repeatBit) {
    flag(0);
    flag(0);
    literalRun = 0;
    if (repeats == 2) {
      put(repeatBit ? 1 : 0, 1);
      if (!repeatBit) repeats = 0;
    }
  }
  void selector(unsigned s) {
    if (avgSelector >= 37) ++stats.highSelectorAverage;
    put(t.selector[(avgSelector < 37 ? 0 : 2) + (alt ? 1 : 0)][s]);
  }

  void repeatByBit(std::size_t& p) {
    shortStart(true);
    ++stats.repeatBits;
    p += lastLength;
  }
  void nearMatch(std::size_t& p, unsigned dist, unsigned len) {
    shortStart(false);
    const unsigned s = len - 2;
    selector(s);
    repeats = 0;
    avgSelector += s;
    avgSelector -= avgSelector >> 4;
    unsigned idx = 0;
    while (near[idx] != dist - 1) ++idx;
    put(t.index[2][idx]);
    if (idx) std::swap(near[idx], near[idx - 1]);
    remember(dist, len);
    ++stats.nearMatches;
    p += len;
  }
  void repeatLastMatch(std::size_t& p) {
    shortStart(false);
    selector(9);
    ++repeats;
    ++stats.repeatLast;
    p += lastLength;
  }
  unsigned oldBonus(unsigned offset) const {
    return (offset > 256 ? 1 : 0) + (offset >= farOffset ? 1 : 0);
  }
  void oldMatch(std::size_t& p, unsigned k, unsigned len) {
    shortStart(false);
    selector(9 + k);
    repeats = 0;
    const unsigned offset = oldOffsets[(oldIndex - k) & 3];
    put(t.length1[len - 2 - oldBonus(offset)]);
    remember(offset, len);
    ++stats.oldDistance;
    p += len;
  }
  void switchCodes() {
    shortStart(false);
    selector(10);
    repeats = 0;
    put(t.length1[255]);
    alt = !alt;
    ++stats.codeSwitches;
  }
  void farMatch(std::size_t& p, unsigned dist, unsigned len) {
    shortStart(false);
    selector(14);
    repeats = 0;
    put(t.length2[len - 5]);
    put(dist - 0x8000, 15);
    lastOffset = dist;
    lastLength = len;
    ++stats.farMatches;
    p += len;
  }

  // The longest match the hash chains know, within the window.
  std::pair<unsigned, unsigned> longest(std::size_t p, std::size_t end) {
    unsigned bestLen = 0, bestDist = 0;
    if (p + 3 > buf.size()) return {0, 0};
    std::int64_t c = head[hash(p)];
    for (int chain = 0; c >= 0 && chain < 64; ++chain, c = prev[static_cast<std::size_t>(c)]) {
      const std::size_t dist = p - static_cast<std::size_t>(c);
      if (dist > kMaxDistance) break;
      const unsigned len = matchLength(p, static_cast<unsigned>(dist), end, 300);
      if (len > bestLen) {
        bestLen = len;
        bestDist = static_cast<unsigned>(dist);
      }
    }
    return {bestLen, bestDist};
  }

  void step(std::size_t& p, std::size_t end) {
    hashUpTo(p);
    auto [len, dist] = longest(p, end);
    if (literalsOnly) {
      if (len >= 8) {
        exitLiteralsOnly();
      } else if (len >= 3 && dist < 8192) {
        escapeMatch(p, dist, len >= 4 ? 4 : 3);
      } else {
        literal(p);
      }
      return;
    }
    const std::size_t left = end - p;
    const bool lastFits = lastOffset && lastLength <= left &&
                          matchLength(p, lastOffset, end, lastLength) == lastLength;
    if (alt && !(dist >= 0x8000 && len >= 5)) return switchCodes();
    if (repeats == 2 && lastFits) return repeatByBit(p);
    if (lastFits && lastLength >= len && lastLength >= 2) return repeatLastMatch(p);
    for (unsigned k = 1; k <= 4; ++k) {
      const unsigned off = oldOffsets[(oldIndex - k) & 3];
      const unsigned bonus = oldBonus(off);
      const unsigned maxLen = 2 + bonus + (k == 1 ? 254 : 255);
      const unsigned l = matchLength(p, off, end, maxLen);
      if (off && l >= 2 + bonus && l >= len && l >= 3) return oldMatch(p, k, l);
    }
    if (dist >= 0x8000 && len >= 5) {
      if (!alt) return switchCodes();
      return farMatch(p, dist, std::min(len, 260u));
    }
    if (dist && dist <= 256 && len >= 2 && len <= 10) return nearMatch(p, dist, len);
    if (dist && dist < 0x8000 && len >= 3 + longBonus(dist))
      return longMatch(p, dist, std::min(len, 258 + longBonus(dist)));
    if (dist && dist <= 256 && len >= 2) return nearMatch(p, dist, std::min(len, 10u));
    // Pairs the hash does not see: two bytes at a near distance.
    for (unsigned d = 1; d <= 256 && left >= 2; ++d)
      if (matchLength(p, d, end, 2) == 2) return nearMatch(p, d, 2);
    literal(p);
  }
};

Encoder::Encoder() : s_(std::make_unique<State>()) {}
Encoder::~Encoder() = default;

const Stats& Encoder::stats() const {
  return s_->stats;
}

std::string Encoder::pack(const std::string& data) {
  State& s = *s_;
  std::size_t p = s.buf.size();
  s.buf += data;
  const std::size_t end = s.buf.size();
  s.literalsOnly = false;
  s.repeats = 0;
  s.haveGroup = false;
  while (p < end) s.step(p, end);
  s.closeGroup();
  return s.out.finish();
}

}  // namespace rar15enc
