#include "rar29_encoder.h"
#include "codec/rar2x_codes.h"
#include "huffman_code.h"

#include <algorithm>
#include <array>
#include <queue>
#include <stdexcept>

namespace rar29enc {
namespace {

using namespace unrar::rar2x;

constexpr std::size_t kMain = 299, kDist = 60, kLow = 17, kLen = 28;
constexpr std::size_t kTableSymbols = kMain + kDist + kLow + kLen;

std::uint8_t distBits(std::size_t i) {
  return static_cast<std::uint8_t>(i < 4 ? 0 : i < 36 ? (i - 2) / 2 : i < 48 ? 16 : 18);
}
const std::array<std::uint32_t, kDist>& distBases() {
  static const std::array<std::uint32_t, kDist> bases = [] {
    std::array<std::uint32_t, kDist> b{};
    for (std::size_t k = 1; k < kDist; ++k) b[k] = b[k - 1] + (1u << distBits(k - 1));
    return b;
  }();
  return bases;
}
std::uint32_t distBase(std::size_t i) {
  return distBases()[i];
}

// The distance code of dist - 1 (the codes count from distance 1).
std::size_t distSymbol(std::uint32_t d) {
  const auto& b = distBases();
  return static_cast<std::size_t>(std::upper_bound(b.begin(), b.end(), d) - b.begin()) - 1;
}

// The length code for a length counted from its symbol's minimum.
std::size_t lengthSymbol(std::uint32_t l) {
  std::size_t s = 0;
  while (s + 1 < kLen && kLengthBase[s + 1] <= l) ++s;
  return s;
}

// Every symbol gets a code, so the tables can serve a later entry whatever it holds.
std::vector<std::uint8_t> codeLengths(const std::vector<std::uint64_t>& freq) {
  return rarcode::codeLengths(freq, 15, true);
}

using rarcode::canonicalCodes;

}  // namespace

class Encoder::BitWriter : public rarcode::BitWriter {
 public:
  using rarcode::BitWriter::put;
  void put(const Code& c, std::size_t symbol) { put(c.codes.at(symbol), c.lengths.at(symbol)); }
};

Encoder::Encoder(std::size_t windowBytes) : window_(windowBytes), head_(1u << 16, -1) {}

std::uint32_t Encoder::hash3(std::size_t p) const {
  auto b = [&](std::size_t i) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(history_[i]));
  };
  return ((b(p) << 10) ^ (b(p + 1) << 5) ^ b(p + 2)) & 0xFFFF;
}

void Encoder::indexUpTo(std::size_t pos) {
  chain_.resize(history_.size(), -1);
  for (; hashed_ < pos && hashed_ + 2 < history_.size(); ++hashed_) {
    std::uint32_t h = hash3(hashed_);
    chain_[hashed_] = head_[h];
    head_[h] = static_cast<std::int64_t>(hashed_);
  }
}

std::uint32_t Encoder::matchLength(std::size_t pos, std::size_t dist, std::size_t end) const {
  if (dist == 0 || dist > pos || dist > window_) return 0;
  std::uint32_t n = 0;
  while (pos + n < end && n < 300 && history_[pos + n] == history_[pos + n - dist]) ++n;
  return n;
}

// Fills `t` for a match of symbols 271-298, or says it cannot be written: the
// length bonus of long distances must leave a codable length, and while the
// low-distance repeat runs, the low bits must be the repeated ones.
bool Encoder::longMatchToken(std::uint32_t dist, std::uint32_t len, Token& t, bool commit) {
  const std::uint32_t bonus = (dist >= 0x2000) + (dist >= 0x40000);
  if (len < 3 + bonus || len - bonus - 3 > 255) return false;
  const std::uint32_t d = dist - 1;
  const std::size_t ds = distSymbol(d);
  const std::uint32_t rest = d - distBase(ds);
  const std::uint8_t bits = distBits(ds);
  Token m;
  const std::size_t ls = lengthSymbol(len - bonus - 3);
  m.symbol = static_cast<std::uint16_t>(271 + ls);
  m.lengthBits = kLengthBits[ls];
  m.lengthExtra = len - bonus - 3 - kLengthBase[ls];
  m.distSymbol = static_cast<std::int16_t>(ds);
  if (ds > 9) {
    const std::uint32_t low = rest & 15;
    m.distBits = bits > 4 ? static_cast<std::uint8_t>(bits - 4) : 0;
    m.distExtra = rest >> 4;
    if (lowRepeats_ > 0) {
      if (low != lastLow_) return false;
      if (commit) {
        --lowRepeats_;
        ++stats_.lowDistRepeats;
      }
    } else if (low == lastLow_ && commit) {
      m.lowSymbol = 16;
      lowRepeats_ = 15;
      ++stats_.lowDistRepeats;
    } else {
      m.lowSymbol = static_cast<std::int16_t>(low);
      if (commit) {
        lastLow_ = low;
        ++stats_.lowDistCodes;
      }
    }
  } else {
    m.distBits = bits;
    m.distExtra = rest;
  }
  if (commit) {
    t = m;
    ++stats_.match;
    if (dist >= 0x2000) ++stats_.matchFrom8K;
    if (dist >= 0x40000) ++stats_.matchFrom256K;
  }
  return true;
}

std::vector<Encoder::Token> Encoder::tokenize(std::size_t start, std::size_t end) {
  std::vector<Token> out;
  for (std::size_t p = start; p < end;) {
    indexUpTo(p);
    Token t;
    std::uint32_t len = 0;
    // The last match again, then the old distances, then the best new one.
    if (lastLength_ && matchLength(p, lastDist_, end) >= lastLength_) {
      t.symbol = 258;
      len = lastLength_;
      ++stats_.repeatLast;
    }
    for (std::size_t k = 0; !len && k < 4; ++k) {
      const std::uint32_t l = std::min<std::uint32_t>(matchLength(p, oldDist_[k], end), 257);
      if (l < 2 || (l < 4 && k > 1)) continue;
      const std::size_t ls = lengthSymbol(l - 2);
      t.symbol = static_cast<std::uint16_t>(259 + k);
      t.lengthSymbol = static_cast<std::int16_t>(ls);
      t.lengthBits = kLengthBits[ls];
      t.lengthExtra = l - 2 - kLengthBase[ls];
      const std::uint32_t d = oldDist_[k];
      for (; k > 0; --k) oldDist_[k] = oldDist_[k - 1];
      oldDist_[0] = d;
      len = l;
      lastDist_ = d;
      lastLength_ = l;
      ++stats_.oldDistance;
    }
    if (!len) {
      std::uint32_t bestLen = 0, bestDist = 0;
      int chainLeft = 64;
      for (std::int64_t c = p + 2 < history_.size() ? head_[hash3(p)] : -1;
           c >= 0 && chainLeft-- > 0; c = chain_[static_cast<std::size_t>(c)]) {
        const std::uint32_t d = static_cast<std::uint32_t>(p - static_cast<std::size_t>(c));
        if (d > window_) break;
        std::uint32_t l = std::min<std::uint32_t>(matchLength(p, d, end), 255 + 3);
        Token probe;
        if (l > bestLen && longMatchToken(d, l, probe, false)) {
          bestLen = l;
          bestDist = d;
        }
      }
      if (bestLen >= 3 && longMatchToken(bestDist, bestLen, t, true)) {
        len = bestLen;
      } else {
        // A two-byte match close by.
        for (std::uint32_t d : {1u, 2u, 3u, 5u, 9u, 17u, 40u, 100u, 256u}) {
          if (matchLength(p, d, end) < 2) continue;
          const std::size_t s =
              std::upper_bound(std::begin(kShortBase), std::end(kShortBase), d - 1) -
              std::begin(kShortBase) - 1;
          t.symbol = static_cast<std::uint16_t>(263 + s);
          t.distBits = kShortBits[s];
          t.distExtra = d - 1 - kShortBase[s];
          len = 2;
          bestDist = d;
          ++stats_.shortMatch;
          break;
        }
      }
      if (len) {
        for (std::size_t k = 3; k > 0; --k) oldDist_[k] = oldDist_[k - 1];
        oldDist_[0] = bestDist;
        lastDist_ = bestDist;
        lastLength_ = len;
      }
    }
    if (!len) {
      t.symbol = static_cast<unsigned char>(history_[p]);
      len = 1;
      ++stats_.literals;
    }
    out.push_back(t);
    p += len;
  }
  return out;
}

void Encoder::writeTables(BitWriter& out, bool keepOld, const std::vector<std::uint8_t>& lengths) {
  out.align();
  out.put(0, 1);  // LZ, not PPMd
  out.put(keepOld ? 1 : 0, 1);
  if (!keepOld) oldLengths_.fill(0);

  // The lengths as precode symbols: runs of zeros (18, 19), runs of the
  // previous length (16, 17), and otherwise the change from the old length.
  struct Level {
    unsigned symbol, bits, extra;
  };
  std::vector<Level> levels;
  for (std::size_t i = 0; i < kTableSymbols;) {
    std::size_t run = 1;
    while (i + run < kTableSymbols && lengths[i + run] == lengths[i]) ++run;
    if (lengths[i] == 0 && run >= 3) {
      run = std::min<std::size_t>(run, 138);
      if (run >= 11)
        levels.push_back({19, 7, static_cast<unsigned>(run - 11)});
      else
        levels.push_back({18, 3, static_cast<unsigned>(run - 3)});
      i += run;
      continue;
    }
    if (i > 0 && lengths[i] == lengths[i - 1] && run >= 3) {
      run = std::min<std::size_t>(run, 138);
      if (run >= 11)
        levels.push_back({17, 7, static_cast<unsigned>(run - 11)});
      else
        levels.push_back({16, 3, static_cast<unsigned>(std::min<std::size_t>(run, 10) - 3)});
      i += run >= 11 ? run : std::min<std::size_t>(run, 10);
      continue;
    }
    levels.push_back({static_cast<unsigned>((lengths[i] - oldLengths_[i]) & 0xF), 0, 0});
    ++i;
  }
  std::vector<std::uint64_t> freq(20);
  for (const Level& l : levels) ++freq[l.symbol];
  Code pre;
  pre.lengths = codeLengths(freq);
  pre.codes = canonicalCodes(pre.lengths);
  for (std::size_t i = 0; i < 20; ++i) {
    out.put(pre.lengths[i], 4);
    if (pre.lengths[i] == 15) out.put(0, 4);  // a length of 15, not a zero run
  }
  for (const Level& l : levels) {
    out.put(pre, l.symbol);
    if (l.bits) out.put(l.extra, l.bits);
  }
  std::copy(lengths.begin(), lengths.end(), oldLengths_.begin());
  ++stats_.tables;
  if (keepOld) ++stats_.keptTables;
}

// Flags, the record's length, then its fields, MSB first; numbers in their
// 32-bit form.
void Encoder::writeFilterRecord(BitWriter& out, const FilterRecord& f) {
  BitWriter rec;
  auto number = [&](std::uint32_t v) {
    rec.put(3, 2);
    rec.put(v, 32);
  };
  std::uint8_t flags = 0;
  if (f.program) {
    flags |= 0x80;
    number(*f.program + 1);
  }
  number(f.start);
  if (f.length) {
    flags |= 0x20;
    number(*f.length);
  }
  if (f.r0) {
    flags |= 0x10;
    rec.put(1, 7);
    number(*f.r0);
  }
  if (!f.code.empty()) {
    number(static_cast<std::uint32_t>(f.code.size()));
    for (char c : f.code) rec.put(static_cast<std::uint8_t>(c), 8);
  }
  const std::string bytes = rec.finish();
  if (bytes.size() < 7) {
    out.put(flags | static_cast<std::uint8_t>(bytes.size() - 1), 8);
  } else if (bytes.size() < 7 + 256) {
    out.put(flags | 6u, 8);
    out.put(static_cast<std::uint32_t>(bytes.size() - 7), 8);
  } else {
    out.put(flags | 7u, 8);
    out.put(static_cast<std::uint32_t>(bytes.size()), 16);
  }
  for (char c : bytes) out.put(static_cast<std::uint8_t>(c), 8);
}

std::string Encoder::pack(const std::string& data, const std::vector<Block>& blocks,
                          bool nextKeepsTables, bool thenPpmd) {
  const std::size_t base = history_.size();
  history_ += data;
  BitWriter out;
  std::size_t pos = base;
  const std::size_t end = history_.size();
  std::vector<Block> plan = blocks.empty() ? std::vector<Block>{Block{}} : blocks;
  for (std::size_t b = 0; b < plan.size(); ++b) {
    const bool last = b + 1 == plan.size();
    const std::size_t blockEnd =
        last || plan[b].size == 0 ? end : std::min(end, pos + plan[b].size);
    // A table read resets the low-distance state the tokens depend on.
    const bool sendTables = b > 0 || tablesNeeded_;
    if (sendTables) {
      lastLow_ = 0;
      lowRepeats_ = 0;
    }
    std::vector<Token> tokens = tokenize(pos, blockEnd);
    if (sendTables) {
      std::array<std::vector<std::uint64_t>, 4> freq = {
          std::vector<std::uint64_t>(kMain), std::vector<std::uint64_t>(kDist),
          std::vector<std::uint64_t>(kLow), std::vector<std::uint64_t>(kLen)};
      for (const Token& t : tokens) {
        ++freq[0][t.symbol];
        if (t.distSymbol >= 0) ++freq[1][static_cast<std::size_t>(t.distSymbol)];
        if (t.lowSymbol >= 0) ++freq[2][static_cast<std::size_t>(t.lowSymbol)];
        if (t.lengthSymbol >= 0) ++freq[3][static_cast<std::size_t>(t.lengthSymbol)];
      }
      freq[0][256] += 2;
      std::vector<std::uint8_t> lengths;
      for (std::size_t k = 0; k < 4; ++k) {
        codes_[k].lengths = codeLengths(freq[k]);
        codes_[k].codes = canonicalCodes(codes_[k].lengths);
        lengths.insert(lengths.end(), codes_[k].lengths.begin(), codes_[k].lengths.end());
      }
      writeTables(out, plan[b].keepOldLengths, lengths);
    }
    for (const FilterRecord& f : plan[b].filters) {
      out.put(codes_[0], 257);
      writeFilterRecord(out, f);
    }
    for (const Token& t : tokens) {
      out.put(codes_[0], t.symbol);
      if (t.symbol >= 271) {
        if (t.lengthBits) out.put(t.lengthExtra, t.lengthBits);
        out.put(codes_[1], static_cast<std::size_t>(t.distSymbol));
        if (t.distBits) out.put(t.distExtra, t.distBits);
        if (t.lowSymbol >= 0) out.put(codes_[2], static_cast<std::size_t>(t.lowSymbol));
      } else if (t.symbol >= 263) {
        out.put(t.distExtra, t.distBits);
      } else if (t.symbol >= 259) {
        out.put(codes_[3], static_cast<std::size_t>(t.lengthSymbol));
        if (t.lengthBits) out.put(t.lengthExtra, t.lengthBits);
      }
    }
    pos = blockEnd;
    if (!last) {
      // The next block's tables follow symbol 256 and a 1 bit.
      out.put(codes_[0], 256);
      out.put(1, 1);
    }
  }
  out.put(codes_[0], 256);
  if (thenPpmd) {
    out.put(1, 1);  // new tables: a PPMd block's header on the next byte
    tablesNeeded_ = true;
    return out.finish();
  }
  out.put(0, 1);  // end of the file
  out.put(nextKeepsTables ? 0 : 1, 1);
  tablesNeeded_ = !nextKeepsTables;
  std::string packed = out.finish();
  // Some decoders look a few bits past the end code.
  packed.push_back('\0');
  return packed;
}

}  // namespace rar29enc
