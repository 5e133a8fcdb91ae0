#include "rar5_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace rar5enc {
namespace {

constexpr std::size_t kMain = 306, kAlign = 16, kLen = 44;
constexpr std::uint32_t kMaxLength = 4097;  // from the length slots, before the bonus
constexpr std::size_t kHeadBits = 16, kFarBits = 20, kFarStep = 32;

unsigned bonus(std::uint64_t dist) {
  return (dist > 0x100) + (dist > 0x2000) + (dist > 0x40000);
}

// Length slot, extra bits and their value for a length of 2 or more.
void lengthSlot(std::uint32_t length, std::uint8_t& slot, std::uint8_t& bits,
                std::uint32_t& extra) {
  const std::uint32_t v = length - 2;
  if (v < 8) {
    slot = static_cast<std::uint8_t>(v);
    bits = 0;
    extra = 0;
    return;
  }
  const unsigned b = static_cast<unsigned>(std::bit_width(v)) - 3;
  slot = static_cast<std::uint8_t>(4 * (b + 1) + ((v >> b) & 3));
  bits = static_cast<std::uint8_t>(b);
  extra = v & ((1u << b) - 1);
}

std::uint32_t hash4(const char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return (v * 2654435761u) >> (32 - kHeadBits);
}

std::uint32_t hash32(const char* p) {
  std::uint64_t v[4];
  std::memcpy(v, p, 32);
  const std::uint64_t h = v[0] * 0x9E3779B97F4A7C15ull ^ v[1] * 0xC2B2AE3D27D4EB4Full ^
                          v[2] * 0x165667B19E3779F9ull ^ v[3] * 0xD6E8FEB86659FD93ull;
  return static_cast<std::uint32_t>((h ^ (h >> 29)) >> (64 - kFarBits));
}

void putLe(std::string& s, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
std::uint32_t getLe(const std::string& s, std::size_t at, int bytes) {
  std::uint32_t v = 0;
  for (int i = bytes; i-- > 0;) v = v << 8 | static_cast<unsigned char>(s[at + i]);
  return v;
}

// The inverse of the decoder's filter: bytes [at, at + f.length) of `s`, whose
// first byte is byte f.start of the entry.
void applyForward(std::string& s, std::size_t at, const Filter& f) {
  const std::size_t n = f.length;
  switch (f.type) {
    case FilterType::Delta: {
      std::string out;
      out.reserve(n);
      for (unsigned c = 0; c < f.channels; ++c) {
        unsigned char prev = 0;
        for (std::size_t k = c; k < n; k += f.channels) {
          const auto b = static_cast<unsigned char>(s[at + k]);
          out.push_back(static_cast<char>(prev - b));
          prev = b;
        }
      }
      s.replace(at, n, out);
      break;
    }
    case FilterType::E8:
    case FilterType::E8E9: {
      constexpr std::int64_t kSpan = 0x1000000;
      for (std::size_t i = 0; i + 5 <= n;) {
        const auto b = static_cast<unsigned char>(s[at + i++]);
        if (b != 0xE8 && !(b == 0xE9 && f.type == FilterType::E8E9)) continue;
        const std::int64_t offset = static_cast<std::int64_t>((f.start + i) % kSpan);
        const auto x = static_cast<std::int64_t>(static_cast<std::int32_t>(getLe(s, at + i, 4)));
        if (x >= -offset && x < kSpan - offset)
          putLe(s, at + i, static_cast<std::uint32_t>(x + offset), 4);
        else if (x >= kSpan - offset && x < kSpan)
          putLe(s, at + i, static_cast<std::uint32_t>(x - kSpan), 4);
        i += 4;
      }
      break;
    }
    case FilterType::Arm:
      for (std::size_t i = 0; i + 3 < n; i += 4)
        if (static_cast<unsigned char>(s[at + i + 3]) == 0xEB)
          putLe(s, at + i, getLe(s, at + i, 3) + static_cast<std::uint32_t>((f.start + i) / 4), 3);
      break;
  }
}

void putFilterNumber(rarcode::BitWriter& out, std::uint32_t v) {
  const unsigned bytes = v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4;
  out.put(bytes - 1, 2);
  for (unsigned i = 0; i < bytes; ++i) out.put((v >> (8 * i)) & 0xFF, 8);
}

}  // namespace

Encoder::Encoder(const Settings& settings)
    : settings_(settings),
      distSymbols_(settings.wideDistances ? 80 : 64),
      head_(std::size_t{1} << kHeadBits, 0),
      farHead_(std::size_t{1} << kFarBits, 0) {
  if (settings_.effort < 1 || settings_.effort > 5)
    throw std::invalid_argument("rar5 encoder: effort is 1 to 5");
  // The chains reach 256 KiB back at the lower efforts, 4 MiB at the higher
  // ones; the 32-byte table reaches the whole dictionary.
  const std::size_t reach = std::size_t{1} << (settings_.effort <= 3 ? 18 : 22);
  std::size_t ring = std::size_t{1} << 16;
  while (ring < settings_.dictionary && ring < reach) ring <<= 1;
  chain_.assign(ring, 0);
  chainMask_ = ring - 1;
}

void Encoder::insertUpTo(std::size_t pos) {
  const char* h = history_.data();
  for (; hashed_ < pos && hashed_ + 4 <= history_.size(); ++hashed_) {
    std::uint32_t& head = head_[hash4(h + hashed_)];
    chain_[hashed_ & chainMask_] = head;
    head = static_cast<std::uint32_t>(hashed_ + 1);
    if (hashed_ % kFarStep == 0 && hashed_ + kFarStep <= history_.size())
      farHead_[hash32(h + hashed_)] = static_cast<std::uint32_t>(hashed_ + 1);
  }
}

std::uint32_t Encoder::matchLength(std::size_t pos, std::uint64_t dist, std::size_t end) const {
  if (dist == 0 || dist > pos || dist > settings_.dictionary || end - pos < 2) return 0;
  const char* a = history_.data() + pos;
  const char* b = a - dist;
  if (a[0] != b[0] || a[1] != b[1]) return 0;
  const std::size_t limit = std::min<std::size_t>(end - pos, kMaxLength + 3);
  std::size_t n = 0;
  while (n + 8 <= limit) {
    std::uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return static_cast<std::uint32_t>(n + std::countr_zero(x ^ y) / 8);
    n += 8;
  }
  while (n < limit && a[n] == b[n]) ++n;
  return static_cast<std::uint32_t>(n);
}

void Encoder::tokenize(std::size_t from, std::size_t to, std::vector<Token>& out,
                       const std::vector<Filter>& filters, std::size_t entryStart,
                       std::size_t& nextFilter) {
  // Candidates tried, and the length that ends the search, by effort; a match
  // longer than kSkip leaves its middle out of the hash chains.
  static constexpr unsigned kDepth[] = {0, 1, 2, 4, 16, 64};
  static constexpr unsigned kNice[] = {0, 16, 32, 64, 256, kMaxLength};
  static constexpr unsigned kSkip[] = {0, 16, 32, 64, 1024, kMaxLength + 3};
  const unsigned depth = kDepth[settings_.effort], nice = kNice[settings_.effort];
  for (std::size_t p = from; p < to;) {
    // A filter's record goes where the data has reached its lead.
    std::size_t limit = to;
    while (nextFilter < filters.size()) {
      const Filter& f = filters[nextFilter];
      const std::size_t start = entryStart + f.start;
      const std::size_t recordAt = start - std::min<std::size_t>(f.lead, f.start);
      if (recordAt > p) {
        limit = std::min(limit, recordAt);
        break;
      }
      Token t;
      t.symbol = 256;
      t.filter = static_cast<std::uint32_t>(nextFilter);
      t.distExtra = start - p;
      out.push_back(t);
      std::uint64_t Stats::*const kByType[] = {&Stats::deltaFilters, &Stats::e8Filters,
                                               &Stats::e8e9Filters, &Stats::armFilters};
      ++(stats_.*kByType[static_cast<std::size_t>(f.type)]);
      ++nextFilter;
    }
    if (settings_.matchesStopAtWindowEnd)
      limit = std::min<std::size_t>(limit, (p / settings_.dictionary + 1) * settings_.dictionary);
    insertUpTo(p);

    enum Kind { Literal, Repeat, Old, New } kind = Literal;
    std::uint32_t len = 1;
    int score = 1;
    std::size_t oldIndex = 0;
    std::uint64_t newDist = 0;
    // Through data that does not match, the lower efforts look at fewer and
    // fewer positions.
    const bool look = settings_.effort > 3 || misses_ < 64 || p % (1 + misses_ / 64) == 0;
    if (look && limit - p >= 2) {
      if (lastLength_ >= 2 && matchLength(p, oldDist_[0], limit) >= lastLength_) {
        kind = Repeat;
        len = lastLength_;
        score = static_cast<int>(len) + 1;
      }
      // Far from a match, the lower efforts try the last distance only.
      const std::size_t olds = settings_.effort > 3 || misses_ <= 2 ? 4 : 1;
      for (std::size_t i = 0; i < olds; ++i) {
        const std::uint32_t l = std::min(matchLength(p, oldDist_[i], limit), kMaxLength);
        if (l >= 2 && static_cast<int>(l) > score) {
          kind = Old;
          len = l;
          score = static_cast<int>(l);
          oldIndex = i;
        }
      }
      std::uint32_t best = 0;
      std::uint64_t bestDist = 0;
      auto consider = [&](std::uint64_t d) {
        if (best && p + best < limit && history_[p + best] != history_[p + best - d]) return;
        const std::uint32_t l = std::min(matchLength(p, d, limit), kMaxLength + bonus(d));
        if (l > best && l >= 2 + bonus(d) && (l >= 3 || d <= 0x40)) {
          best = l;
          bestDist = d;
        }
      };
      if (p + 4 <= history_.size() && static_cast<std::uint32_t>(score) < nice) {
        std::uint32_t c = head_[hash4(history_.data() + p)];
        std::uint64_t lastD = 0;
        for (unsigned k = 0; c && k < depth; ++k) {
          const std::uint64_t d = p - (c - 1);
          if (d <= lastD || d > chainMask_ || d > settings_.dictionary) break;
          consider(d);
          if (best >= nice) break;
          lastD = d;
          c = chain_[(c - 1) & chainMask_];
        }
        if (best < 32 && p % kFarStep == 0 && p + kFarStep <= history_.size()) {
          const std::uint32_t f = farHead_[hash32(history_.data() + p)];
          if (f && f - 1 < p) consider(p - (f - 1));
        }
      }
      // A new match must beat a repeated distance by more than its longer code.
      if (best && static_cast<int>(best) > (kind == Literal ? 1 : score + 2)) {
        kind = New;
        len = best;
        newDist = bestDist;
      }
    }

    Token t;
    switch (kind) {
      case Literal:
        t.symbol = static_cast<unsigned char>(history_[p]);
        ++stats_.literals;
        break;
      case Repeat:
        t.symbol = 257;
        ++stats_.repeatLast;
        break;
      case Old: {
        const std::uint64_t d = oldDist_[oldIndex];
        for (std::size_t k = oldIndex; k > 0; --k) oldDist_[k] = oldDist_[k - 1];
        oldDist_[0] = d;
        lastLength_ = len;
        t.symbol = static_cast<std::uint16_t>(258 + oldIndex);
        lengthSlot(len, t.lengthSlot, t.lengthBits, t.lengthExtra);
        std::uint64_t Stats::*const kOld[] = {&Stats::oldDistance0, &Stats::oldDistance1,
                                              &Stats::oldDistance2, &Stats::oldDistance3};
        ++(stats_.*kOld[oldIndex]);
        if (t.lengthSlot >= 8) ++stats_.lengthExtraBits;
        break;
      }
      case New: {
        const unsigned b = bonus(newDist);
        lengthSlot(len - b, t.lengthSlot, t.lengthBits, t.lengthExtra);
        t.symbol = static_cast<std::uint16_t>(262 + t.lengthSlot);
        const std::uint64_t v = newDist - 1 + settings_.distanceBias;
        if (v < 4) {
          t.distSlot = static_cast<std::uint8_t>(v);
          ++stats_.distanceNoBits;
        } else {
          const unsigned top = static_cast<unsigned>(std::bit_width(v)) - 1;
          const unsigned bits = top - 1;
          t.distSlot = static_cast<std::uint8_t>(2 * top + ((v >> bits) & 1));
          const std::uint64_t rest = v - ((std::uint64_t{2} | (t.distSlot & 1)) << bits);
          if (bits >= 4) {
            t.distBits = static_cast<std::uint8_t>(bits - 4);
            t.distExtra = rest >> 4;
            t.align = static_cast<std::int8_t>(rest & 15);
            ++(bits == 4 ? stats_.distanceAlignOnly : stats_.distanceBitsAndAlign);
          } else {
            t.distBits = static_cast<std::uint8_t>(bits);
            t.distExtra = rest;
            ++stats_.distanceDirectBits;
          }
          if (t.distSlot >= distSymbols_)
            throw std::invalid_argument("rar5 encoder: distance beyond the alphabet");
          if (t.distSlot >= 64) ++stats_.distanceWide;
        }
        std::uint64_t Stats::*const kBonus[] = {&Stats::bonusFrom256, &Stats::bonusFrom8K,
                                                &Stats::bonusFrom256K};
        for (unsigned k = 0; k < b; ++k) ++(stats_.*kBonus[k]);
        if (t.lengthSlot >= 8) ++stats_.lengthExtraBits;
        ++stats_.matches;
        for (std::size_t k = 3; k > 0; --k) oldDist_[k] = oldDist_[k - 1];
        oldDist_[0] = newDist;
        lastLength_ = len;
        break;
      }
    }
    misses_ = kind == Literal ? std::min<std::uint32_t>(misses_ + 1, 1024) : 0;
    out.push_back(t);
    if (len > kSkip[settings_.effort] && hashed_ < p + len - 8)
      hashed_ = std::max(hashed_, p + len - 8);
    p += len;
  }
}

void Encoder::put(rarcode::BitWriter& out, const Code& c, std::size_t symbol) const {
  if (c.lengths.at(symbol) == 0) throw std::logic_error("rar5 encoder: symbol without a code");
  out.put(c.codes[symbol], c.lengths[symbol]);
}

void Encoder::writeTables(rarcode::BitWriter& out, const std::vector<std::uint8_t>& lengths) {
  // The lengths as level symbols: runs of zeros (18, 19), runs of the previous
  // length (16, 17), otherwise the length itself.
  struct Level {
    unsigned symbol, bits, extra;
  };
  std::vector<Level> levels;
  for (std::size_t i = 0; i < lengths.size();) {
    std::size_t run = 1;
    while (i + run < lengths.size() && lengths[i + run] == lengths[i] && run < 138) ++run;
    if (lengths[i] == 0 && run >= 3) {
      levels.push_back(run >= 11 ? Level{19, 7, static_cast<unsigned>(run - 11)}
                                 : Level{18, 3, static_cast<unsigned>(run - 3)});
      ++stats_.levelZeroRuns;
      i += run;
      continue;
    }
    if (i > 0 && lengths[i] == lengths[i - 1] && run >= 3) {
      levels.push_back(run >= 11 ? Level{17, 7, static_cast<unsigned>(run - 11)}
                                 : Level{16, 3, static_cast<unsigned>(run - 3)});
      ++stats_.levelRepeats;
      i += run;
      continue;
    }
    levels.push_back({lengths[i], 0, 0});
    ++i;
  }
  std::vector<std::uint64_t> freq(20);
  for (const Level& l : levels) ++freq[l.symbol];
  Code level;
  const auto used = std::count_if(freq.begin(), freq.end(), [](auto f) { return f > 0; });
  if (settings_.longLevelCodes && used <= 16) {
    // Lengths 1, 2, ... 14, 15, 15 by falling count: a complete code.
    std::vector<std::size_t> order(20);
    for (std::size_t i = 0; i < 20; ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return freq[a] > freq[b]; });
    level.lengths.assign(20, 0);
    for (std::size_t k = 0; k < 16; ++k)
      level.lengths[order[k]] = static_cast<std::uint8_t>(std::min<std::size_t>(k + 1, 15));
  } else {
    level.lengths = rarcode::codeLengths(freq, 15, false);
  }
  level.codes = rarcode::canonicalCodes(level.lengths);
  for (std::size_t i = 0; i < 20;) {
    const unsigned l = level.lengths[i];
    if (l == 0) {
      std::size_t run = 1;
      while (i + run < 20 && level.lengths[i + run] == 0 && run < 17) ++run;
      if (run >= 3) {
        out.put(15, 4);
        out.put(static_cast<std::uint32_t>(run - 2), 4);
        ++stats_.levelHeaderZeros;
        i += run;
        continue;
      }
    }
    out.put(l, 4);
    if (l == 15) {
      out.put(0, 4);
      ++stats_.levelEscapes15;
    }
    ++i;
  }
  for (const Level& l : levels) {
    put(out, level, l.symbol);
    if (l.bits) out.put(l.extra, l.bits);
  }
}

void Encoder::putToken(rarcode::BitWriter& out, const Token& t,
                       const std::vector<Filter>& filters) {
  put(out, codes_[0], t.symbol);
  if (t.symbol < 256 || t.symbol == 257) return;
  if (t.symbol == 256) {
    const Filter& f = filters[t.filter];
    putFilterNumber(out, static_cast<std::uint32_t>(t.distExtra));
    putFilterNumber(out, f.length);
    out.put(static_cast<std::uint32_t>(f.type), 3);
    if (f.type == FilterType::Delta) out.put(f.channels - 1, 5);
    return;
  }
  if (t.symbol < 262) {
    put(out, codes_[3], t.lengthSlot);
    out.put(t.lengthExtra, t.lengthBits);
    return;
  }
  out.put(t.lengthExtra, t.lengthBits);
  put(out, codes_[1], t.distSlot);
  out.put64(t.distExtra, t.distBits);
  if (t.align >= 0) put(out, codes_[2], static_cast<std::size_t>(t.align));
}

std::string Encoder::pack(const std::string& data, const std::vector<Block>& blocks,
                          const std::vector<Filter>& filters) {
  const std::uint64_t maxFilter =
      std::min<std::uint64_t>(std::uint64_t{4} << 20, settings_.dictionary / 2);
  std::uint64_t filtered = 0;
  for (const Filter& f : filters) {
    if (f.start < filtered || f.length < 4 || f.length > maxFilter ||
        f.start + f.length > data.size() ||
        (f.type == FilterType::Delta && (f.channels < 1 || f.channels > 32)))
      throw std::invalid_argument("rar5 encoder: bad filter");
    filtered = f.start + f.length;
  }
  if (history_.size() + data.size() >= 0xFFFFFFFFu)
    throw std::invalid_argument("rar5 encoder: a stream of 4 GiB or more");

  const std::size_t entryStart = history_.size();
  history_ += data;
  for (const Filter& f : filters) applyForward(history_, entryStart + f.start, f);

  std::vector<Block> plan = blocks;
  if (plan.empty())
    for (std::size_t at = 0; at < data.size(); at += settings_.blockBytes)
      plan.push_back({std::min(settings_.blockBytes, data.size() - at), true});
  if (plan.empty()) plan.push_back({0, true});
  if (!haveTables_) plan[0].newTables = true;

  std::string packed;
  std::size_t pos = entryStart, nextFilter = 0;
  const std::size_t end = history_.size();
  std::vector<Token> tokens;
  for (std::size_t b = 0; b < plan.size(); ++b) {
    const bool last = b + 1 == plan.size();
    const std::size_t blockEnd =
        last || plan[b].size == 0 ? end : std::min(end, pos + plan[b].size);
    tokens.clear();
    tokenize(pos, blockEnd, tokens, filters, entryStart, nextFilter);
    if (last && nextFilter < filters.size()) throw std::logic_error("rar5 encoder: filter left");
    // An empty block carries tables, so that it has bits.
    const bool sendTables = plan[b].newTables || tokens.empty();
    rarcode::BitWriter body;
    if (sendTables) {
      std::array<std::vector<std::uint64_t>, 4> freq = {
          std::vector<std::uint64_t>(kMain), std::vector<std::uint64_t>(distSymbols_),
          std::vector<std::uint64_t>(kAlign), std::vector<std::uint64_t>(kLen)};
      for (const Token& t : tokens) {
        ++freq[0][t.symbol];
        if (t.symbol >= 262) {
          ++freq[1][t.distSlot];
          if (t.align >= 0) ++freq[2][static_cast<std::size_t>(t.align)];
        } else if (t.symbol >= 258) {
          ++freq[3][t.lengthSlot];
        }
      }
      // Tables that a later block, or the next entry, may use again code every symbol.
      const bool complete = b + 1 == plan.size() || !plan[b + 1].newTables;
      std::vector<std::uint8_t> lengths;
      for (std::size_t k = 0; k < 4; ++k) {
        codes_[k].lengths = rarcode::codeLengths(freq[k], 15, complete);
        codes_[k].codes = rarcode::canonicalCodes(codes_[k].lengths);
        lengths.insert(lengths.end(), codes_[k].lengths.begin(), codes_[k].lengths.end());
      }
      writeTables(body, lengths);
      haveTables_ = true;
      ++stats_.newTables;
    } else {
      ++stats_.keptTables;
    }
    for (const Token& t : tokens) putToken(body, t, filters);
    const std::uint64_t bits = body.bits();
    std::string bytes = body.finish();
    if (bytes.size() >= (std::size_t{1} << 24))
      throw std::logic_error("rar5 encoder: a block of 16 MiB or more");
    const unsigned sizeBytes = bytes.size() < 0x100 ? 1 : bytes.size() < 0x10000 ? 2 : 3;
    const unsigned lastBits = bits % 8 ? static_cast<unsigned>(bits % 8) : 8;
    const auto flags = static_cast<std::uint8_t>((lastBits - 1) | (sizeBytes - 1) << 3 |
                                                 (last ? 0x40 : 0) | (sendTables ? 0x80 : 0));
    std::uint8_t check = 0x5A ^ flags;
    std::string size;
    for (unsigned i = 0; i < sizeBytes; ++i) {
      size.push_back(static_cast<char>(bytes.size() >> (8 * i)));
      check ^= static_cast<std::uint8_t>(bytes.size() >> (8 * i));
    }
    packed.push_back(static_cast<char>(flags));
    packed.push_back(static_cast<char>(check));
    packed += size;
    packed += bytes;
    ++stats_.blocks;
    if (last) ++stats_.lastBlocks;
    pos = blockEnd;
  }
  return packed;
}

}  // namespace rar5enc
