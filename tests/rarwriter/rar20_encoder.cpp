#include "rar20_encoder.h"
#include "codec/rar2x_codes.h"
#include "huffman_code.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <queue>
#include <stdexcept>
#include <utility>

namespace rar20enc {
namespace {

using namespace unrar::rar2x;

constexpr unsigned kMainSymbols = kMainSymbols20;
constexpr unsigned kDistSymbols = kDistSlots20;
constexpr unsigned kLengthSymbols = kLengthSlots;
constexpr unsigned kAudioSymbols = kAudioSymbols20;
constexpr unsigned kMaxBits = 15;
constexpr std::uint32_t kMaxDistance = std::uint32_t{1} << 20;

// The slot whose range [base, base + 2^bits) holds `value`.
template <typename Base, std::size_t N>
unsigned slotOf(std::uint32_t value, const Base (&base)[N], const std::uint8_t (&bits)[N]) {
  for (unsigned i = 0; i < N; ++i)
    if (value >= base[i] && value - base[i] < (std::uint32_t{1} << bits[i])) return i;
  throw std::logic_error("rar20 encoder: value out of range");
}

// Bonus lengths the decoder adds for far distances: after symbols 257-260
// from 0x101 on, after 270-297 from 0x2000 on.
unsigned oldDistanceBonus(std::uint32_t d) {
  return (d >= 0x101) + (d >= 0x2000) + (d >= 0x40000);
}
unsigned matchBonus(std::uint32_t d) {
  return (d >= 0x2000) + (d >= 0x40000);
}

std::vector<std::uint8_t> codeLengths(const std::vector<std::uint64_t>& freq) {
  return rarcode::codeLengths(freq, kMaxBits, false);
}

}  // namespace

class Encoder::BitWriter : public rarcode::BitWriter {
 public:
  using rarcode::BitWriter::put;
  void put(const Code& c, unsigned symbol) {
    if (c.lengths.at(symbol) == 0) throw std::logic_error("rar20 encoder: symbol without a code");
    put(c.codes[symbol], c.lengths[symbol]);
  }
  // Pads the last byte, and adds one zero byte: unar reads a byte past the
  // last code and fails a stream that ends right after it.
  std::string finish() {
    std::string out = rarcode::BitWriter::finish();
    out.push_back('\0');
    return out;
  }
};

namespace {

template <typename CodeT>
CodeT canonical(std::vector<std::uint8_t> lengths) {
  CodeT c;
  c.codes = rarcode::canonicalCodes(lengths);
  c.lengths = std::move(lengths);
  return c;
}

}  // namespace

Encoder::Encoder(std::size_t windowBytes)
    : window_(std::min<std::size_t>(windowBytes, kMaxDistance)),
      head_(std::size_t{1} << 16, -1),
      lastPair_(std::size_t{1} << 16, -1) {}

std::uint32_t Encoder::hash3(std::size_t p) const {
  const auto byte = [this](std::size_t i) {
    return std::uint32_t{static_cast<std::uint8_t>(history_[i])};
  };
  return ((byte(p) << 16 | byte(p + 1) << 8 | byte(p + 2)) * 2654435761u) >> 16;
}

void Encoder::indexUpTo(std::size_t pos) {
  for (; hashed_ < pos; ++hashed_) {
    const std::size_t p = hashed_;
    if (p + 1 < history_.size())
      lastPair_[static_cast<std::uint8_t>(history_[p]) << 8 |
                static_cast<std::uint8_t>(history_[p + 1])] = static_cast<std::int64_t>(p);
    if (p + 2 < history_.size()) {
      const std::uint32_t h = hash3(p);
      chain_[p] = head_[h];
      head_[h] = static_cast<std::int64_t>(p);
    }
  }
}

std::uint32_t Encoder::matchLength(std::size_t pos, std::size_t dist, std::size_t end) const {
  std::uint32_t n = 0;
  while (pos + n < end && n < 300 && history_[pos + n] == history_[pos + n - dist]) ++n;
  return n;
}

std::vector<Encoder::Token> Encoder::tokenizeLz(std::size_t start, std::size_t end) {
  enum Kind { None, Short, Match, Old, Repeat };
  std::vector<Token> out;
  std::size_t p = start;
  while (p < end) {
    indexUpTo(p);
    Kind kind = None;
    std::uint32_t bestLen = 0;
    std::uint32_t bestDist = 0;
    unsigned oldIndex = 0;
    auto offer = [&](Kind k, std::uint32_t len, std::uint32_t dist, unsigned idx) {
      if (len > bestLen || (len == bestLen && k > kind)) {
        kind = k;
        bestLen = len;
        bestDist = dist;
        oldIndex = idx;
      }
    };
    for (unsigned k = 0; k < 4; ++k) {
      const std::uint32_t d = oldDist_[(oldDistIndex_ - 1 - k) & 3];
      if (d == 0 || d > p || d > window_) continue;
      const std::uint32_t len = matchLength(p, d, end);
      if (k == 0 && d == lastDist_ && lastLength_ >= 2 && len >= lastLength_)
        offer(Repeat, lastLength_, d, 0);
      const unsigned bonus = oldDistanceBonus(d);
      const std::uint32_t coded = std::min<std::uint32_t>(len, 257 + bonus);
      if (coded >= 2 + bonus) offer(Old, coded, d, k);
    }
    int chainLeft = 48;
    for (std::int64_t c = p + 2 < history_.size() ? head_[hash3(p)] : -1; c >= 0 && chainLeft-- > 0;
         c = chain_[static_cast<std::size_t>(c)]) {
      const std::size_t d = p - static_cast<std::size_t>(c);
      if (d > window_) break;
      const std::uint32_t len = matchLength(p, d, end);
      const unsigned bonus = matchBonus(static_cast<std::uint32_t>(d));
      const std::uint32_t coded = std::min<std::uint32_t>(len, 258 + bonus);
      if (coded >= 3 + bonus) offer(Match, coded, static_cast<std::uint32_t>(d), 0);
    }
    if (bestLen < 3 && p + 2 <= end && p + 1 < history_.size()) {
      const std::int64_t q = lastPair_[(static_cast<std::uint8_t>(history_[p]) << 8) |
                                       static_cast<std::uint8_t>(history_[p + 1])];
      if (q >= 0 && p - static_cast<std::size_t>(q) <= 256)
        offer(Short, 2, static_cast<std::uint32_t>(p - q), 0);
    }

    Token t;
    if (kind == None) {
      t.symbol = static_cast<std::uint8_t>(history_[p]);
      ++stats_.literals;
      out.push_back(t);
      ++p;
      continue;
    }
    const std::uint32_t d = bestDist;
    switch (kind) {
      case Repeat:
        t.symbol = 256;
        ++stats_.repeatLast;
        break;
      case Old: {
        t.symbol = static_cast<std::uint16_t>(257 + oldIndex);
        const std::uint32_t v = bestLen - 2 - oldDistanceBonus(d);
        t.lengthSymbol = static_cast<std::uint8_t>(slotOf(v, kLengthBase, kLengthBits));
        t.lengthExtra = v - kLengthBase[t.lengthSymbol];
        ++stats_.oldDistance;
        break;
      }
      case Short: {
        const unsigned s = slotOf(d - 1, kShortBase, kShortBits);
        t.symbol = static_cast<std::uint16_t>(261 + s);
        t.distExtra = d - 1 - kShortBase[s];
        ++stats_.shortDistance;
        break;
      }
      default: {
        const std::uint32_t v = bestLen - 3 - matchBonus(d);
        const unsigned ls = slotOf(v, kLengthBase, kLengthBits);
        t.symbol = static_cast<std::uint16_t>(270 + ls);
        t.lengthExtra = v - kLengthBase[ls];
        t.distSymbol = static_cast<std::uint8_t>(slotOf(d - 1, kDistBase20, kDistBits20));
        t.distExtra = d - 1 - kDistBase20[t.distSymbol];
        ++stats_.match;
        if (d >= 0x2000) ++stats_.matchFrom8K;
        if (d >= 0x40000) ++stats_.matchFrom256K;
        break;
      }
    }
    oldDist_[oldDistIndex_++ & 3] = d;
    lastDist_ = d;
    lastLength_ = bestLen;
    out.push_back(t);
    p += bestLen;
  }
  return out;
}

std::vector<std::uint16_t> Encoder::tokenizeAudio(std::size_t start, std::size_t end,
                                                  unsigned channels) {
  std::vector<std::uint16_t> out;
  for (std::size_t p = start; p < end; ++p) {
    unrar::AudioChannel probe = audioState_[channel_];
    int probeDelta = channelDelta_;
    const unsigned predicted = unrar::predictAudio(probe, probeDelta, 0);
    const unsigned symbol = (predicted - static_cast<std::uint8_t>(history_[p])) & 0xFF;
    if (unrar::predictAudio(audioState_[channel_], channelDelta_, symbol) !=
        static_cast<std::uint8_t>(history_[p]))
      throw std::logic_error("rar20 encoder: audio prediction mismatch");
    out.push_back(static_cast<std::uint16_t>(symbol));
    channel_ = (channel_ + 1) % channels;
    ++stats_.audioBytes;
  }
  return out;
}

void Encoder::writeTables(BitWriter& out, const Block& b,
                          const std::vector<std::uint8_t>& lengths) {
  out.put(b.mode == Mode::Audio ? 1 : 0, 1);
  out.put(b.keepOldLengths ? 1 : 0, 1);
  if (b.mode == Mode::Audio) out.put(b.channels - 1, 2);
  if (!b.keepOldLengths) oldLengths_.fill(0);

  // The lengths as level codes: 0-15 add to the old length, 16 repeats the
  // previous length 3-6 times, 17 and 18 write runs of 3-10 and 11-138 zeros.
  struct Level {
    unsigned symbol, extra, bits;
  };
  std::vector<Level> levels;
  for (std::size_t i = 0; i < lengths.size();) {
    std::size_t run = 1;
    if (lengths[i] == 0) {
      while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) ++run;
      if (run >= 11) {
        levels.push_back({18, static_cast<unsigned>(run - 11), 7});
        i += run;
        continue;
      }
      if (run >= 3) {
        run = std::min<std::size_t>(run, 10);
        levels.push_back({17, static_cast<unsigned>(run - 3), 3});
        i += run;
        continue;
      }
    } else if (i > 0 && lengths[i] == lengths[i - 1]) {
      while (i + run < lengths.size() && lengths[i + run] == lengths[i] && run < 6) ++run;
      if (run >= 3) {
        levels.push_back({16, static_cast<unsigned>(run - 3), 2});
        i += run;
        continue;
      }
    }
    levels.push_back({static_cast<unsigned>((lengths[i] - oldLengths_[i]) & 0xF), 0, 0});
    ++i;
  }
  std::vector<std::uint64_t> freq(19, 0);
  for (const Level& l : levels) ++freq[l.symbol];
  const Code level = canonical<Code>(codeLengths(freq));
  for (unsigned s = 0; s < 19; ++s) out.put(level.lengths[s], 4);
  for (const Level& l : levels) {
    out.put(level, l.symbol);
    if (l.bits) out.put(l.extra, l.bits);
  }
  std::copy(lengths.begin(), lengths.end(), oldLengths_.begin());
  ++stats_.tables;
  if (b.keepOldLengths) ++stats_.keptTables;
}

std::string Encoder::pack(const std::string& data, const std::vector<Block>& blocks,
                          bool continueTables) {
  if (blocks.empty()) throw std::invalid_argument("rar20 encoder: no blocks");
  // An empty file has no packed data; the stream goes on in the next one.
  if (data.empty()) return {};
  const std::size_t start = history_.size();
  history_ += data;
  chain_.resize(history_.size(), -1);
  BitWriter out;
  std::size_t pos = start;
  for (std::size_t bi = 0; bi < blocks.size() && pos < history_.size(); ++bi) {
    const Block& b = blocks[bi];
    const bool last = bi + 1 == blocks.size();
    const std::size_t rest = history_.size() - pos;
    const std::size_t size = last || b.size == 0 ? rest : std::min(b.size, rest);
    const bool newTables = !(bi == 0 && continueTables && started_);
    if (!newTables && (b.mode != current_.mode || b.channels != current_.channels))
      throw std::invalid_argument("rar20 encoder: a continued block must keep the mode");
    if (newTables && started_) {
      if (current_.mode == Mode::Lz)
        out.put(main_, 269);
      else
        out.put(audio_[channel_], 256);
    }
    if (newTables && b.mode == Mode::Audio && channel_ >= b.channels) channel_ = 0;

    if (b.mode == Mode::Lz) {
      const std::vector<Token> tokens = tokenizeLz(pos, pos + size);
      if (newTables) {
        std::vector<std::uint64_t> mainFreq(kMainSymbols, b.completeTables ? 1 : 0);
        std::vector<std::uint64_t> distFreq(kDistSymbols, b.completeTables ? 1 : 0);
        std::vector<std::uint64_t> lenFreq(kLengthSymbols, b.completeTables ? 1 : 0);
        mainFreq[269] += 1;  // the way out to the next block
        for (const Token& t : tokens) {
          ++mainFreq[t.symbol];
          if (t.symbol >= 270) ++distFreq[t.distSymbol];
          if (t.symbol >= 257 && t.symbol <= 260) ++lenFreq[t.lengthSymbol];
        }
        std::vector<std::uint8_t> lengths = codeLengths(mainFreq);
        std::vector<std::uint8_t> dl = codeLengths(distFreq);
        std::vector<std::uint8_t> ll = codeLengths(lenFreq);
        main_ = canonical<Code>(lengths);
        dist_ = canonical<Code>(dl);
        length_ = canonical<Code>(ll);
        lengths.insert(lengths.end(), dl.begin(), dl.end());
        lengths.insert(lengths.end(), ll.begin(), ll.end());
        writeTables(out, b, lengths);
      }
      for (const Token& t : tokens) {
        out.put(main_, t.symbol);
        if (t.symbol >= 270) {
          const unsigned ls = t.symbol - 270u;
          if (kLengthBits[ls]) out.put(t.lengthExtra, kLengthBits[ls]);
          out.put(dist_, t.distSymbol);
          if (kDistBits20[t.distSymbol]) out.put(t.distExtra, kDistBits20[t.distSymbol]);
        } else if (t.symbol >= 261) {
          out.put(t.distExtra, kShortBits[t.symbol - 261]);
        } else if (t.symbol >= 257) {
          out.put(length_, t.lengthSymbol);
          if (kLengthBits[t.lengthSymbol]) out.put(t.lengthExtra, kLengthBits[t.lengthSymbol]);
        }
      }
    } else {
      if (b.channels < 1 || b.channels > 4)
        throw std::invalid_argument("rar20 encoder: 1-4 audio channels");
      const unsigned firstChannel = channel_;
      const std::vector<std::uint16_t> symbols = tokenizeAudio(pos, pos + size, b.channels);
      if (newTables) {
        std::vector<std::uint8_t> lengths;
        std::array<std::vector<std::uint64_t>, 4> freq;
        for (unsigned c = 0; c < b.channels; ++c) {
          freq[c].assign(kAudioSymbols, b.completeTables ? 1 : 0);
          freq[c][256] += 1;
        }
        for (std::size_t i = 0; i < symbols.size(); ++i)
          ++freq[(firstChannel + i) % b.channels][symbols[i]];
        for (unsigned c = 0; c < b.channels; ++c) {
          std::vector<std::uint8_t> l = codeLengths(freq[c]);
          audio_[c] = canonical<Code>(l);
          lengths.insert(lengths.end(), l.begin(), l.end());
        }
        writeTables(out, b, lengths);
      }
      for (std::size_t i = 0; i < symbols.size(); ++i)
        out.put(audio_[(firstChannel + i) % b.channels], symbols[i]);
    }
    indexUpTo(pos + size);
    if (newTables) current_ = b;
    started_ = true;
    pos += size;
  }
  indexUpTo(history_.size());
  return out.finish();
}

}  // namespace rar20enc
