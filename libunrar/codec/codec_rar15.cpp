// RAR 1.5 decompression (unpack version 15): LZ77 over a 64 KiB window with
// fixed prefix codes and adaptive byte maps instead of transmitted tables.
//
// Every decision of the format is steered by statistics both sides keep: a
// flag byte says which of literal, long match and short match comes next
// (the meaning of its bits swaps with the weights of literals and matches),
// running averages pick one of several fixed codes for the next literal,
// length or distance, and three move-towards-front maps turn the code's index
// into the flag byte, the literal and the high bits of a long distance. After
// a run of 16 literals the stream switches to a mode of literals only, with an
// escape for short matches and for the way back.
//
// A solid stream carries all of that from file to file; only the flag byte
// being read, the literal mode and the repeat counter of short matches start
// afresh with each file, since each file's packed data starts on its own.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

#include "codec/bit_input.h"
#include "codec/codec.h"
#include "codec/lz_window.h"
#include "unrar.h"

namespace unrar {
namespace {

constexpr std::size_t kWindow = std::size_t{64} << 10;
// The longest match: an 8-bit raw length plus 3, plus the bonuses for far and
// for very near distances. Decoding stops this far before unflushed data.
constexpr unsigned kMaxMatch = 255 + 3 + 1 + 8;

// A prefix code of at most 12 bits, decoded by one lookup of the next 12 bits.
class PrefixCode {
 public:
  static constexpr unsigned kBits = 12;
  static constexpr std::uint16_t kInvalid = 0xFFF;

  // A canonical code given as runs of equal lengths in symbol order, as the
  // fixed codes of the format are: shorter codes first, all bits zero first.
  struct Run {
    std::uint8_t length;
    std::uint16_t count;
  };
  template <std::size_t N>
  static PrefixCode canonical(const std::array<Run, N>& runs) {
    PrefixCode c;
    std::uint32_t code = 0;
    unsigned length = 0;
    std::uint16_t symbol = 0;
    for (const Run& r : runs) {
      code <<= r.length - length;
      length = r.length;
      for (unsigned i = 0; i < r.count; ++i) c.assign(symbol++, code++, length);
    }
    return c;
  }

  // A code given as one bit string per symbol.
  template <std::size_t N>
  static PrefixCode explicitCodes(const std::array<std::string_view, N>& codes) {
    PrefixCode c;
    for (std::size_t s = 0; s < N; ++s) {
      std::uint32_t code = 0;
      for (char bit : codes[s]) code = code * 2 + (bit == '1');
      c.assign(static_cast<std::uint16_t>(s), code, static_cast<unsigned>(codes[s].size()));
    }
    return c;
  }

  // The next symbol; kInvalid where the code has a gap (none of the fixed
  // codes has one, so this is only a guard).
  [[gnu::always_inline]] unsigned decode(BitInput& in) const {
    const std::uint16_t e = table_[in.peek(kBits)];
    in.skip(e & 15u);
    return e >> 4;
  }

 private:
  PrefixCode() { table_.fill(static_cast<std::uint16_t>(kInvalid << 4 | 1)); }

  void assign(std::uint16_t symbol, std::uint32_t code, unsigned length) {
    const unsigned shift = kBits - length;
    const std::uint32_t first = code << shift;
    for (std::uint32_t i = 0; i < (1u << shift); ++i)
      table_[first + i] = static_cast<std::uint16_t>(symbol << 4 | length);
  }

  std::array<std::uint16_t, 1u << kBits> table_{};
};

using Run = PrefixCode::Run;

struct Codes {
  // Raw lengths of long matches (two codes by the average length) and of
  // short matches that reuse an old distance.
  PrefixCode length1 = PrefixCode::canonical(std::array<Run, 10>{
      {{2, 2}, {3, 1}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {12, 224}}});
  PrefixCode length2 = PrefixCode::canonical(std::array<Run, 10>{
      {{3, 5}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {11, 2}, {12, 220}}});
  // Indices into the adaptive maps, 257 symbols each, ordered from the code
  // for skewed statistics to the one for flat statistics.
  std::array<PrefixCode, 5> index{
      PrefixCode::canonical(std::array<Run, 5>{{{4, 8}, {5, 8}, {6, 8}, {7, 9}, {12, 224}}}),
      PrefixCode::canonical(
          std::array<Run, 7>{{{5, 4}, {6, 40}, {7, 16}, {8, 16}, {9, 4}, {11, 47}, {12, 130}}}),
      PrefixCode::canonical(
          std::array<Run, 6>{{{5, 2}, {6, 5}, {7, 46}, {8, 64}, {9, 116}, {10, 24}}}),
      PrefixCode::canonical(std::array<Run, 5>{{{6, 2}, {7, 14}, {8, 202}, {9, 33}, {10, 6}}}),
      PrefixCode::canonical(std::array<Run, 2>{{{8, 255}, {9, 2}}}),
  };
  // The selector of short matches: 0-8 a new near distance with length 2-10,
  // 9 the last match again, 10-13 an old distance, 14 a far distance. Which
  // code applies depends on the selector average and on a switch the stream
  // can toggle; two of them have no symbol 14.
  std::array<PrefixCode, 4> selector{
      PrefixCode::explicitCodes(std::array<std::string_view, 14>{
          "0", "101", "1101", "1110", "11110", "111110", "1111110", "11111110", "11111111", "1100",
          "1000", "10010", "100110", "100111"}),
      PrefixCode::explicitCodes(std::array<std::string_view, 15>{
          "0", "1010", "1101", "1110", "11110", "111110", "1111110", "11111110", "11111111", "1100",
          "1000", "10010", "100110", "100111", "1011"}),
      PrefixCode::explicitCodes(std::array<std::string_view, 14>{
          "00", "010", "011", "101", "1101", "1110", "11110", "111110", "111111", "1100", "1000",
          "10010", "100110", "100111"}),
      PrefixCode::explicitCodes(std::array<std::string_view, 15>{
          "00", "010", "011", "1010", "1101", "1110", "11110", "111110", "111111", "1100", "1000",
          "10010", "100110", "100111", "1011"}),
  };
};

const Codes& codes() {
  static const Codes c;
  return c;
}

// A byte map that moves what it is asked for towards the front: each slot
// holds a byte (high half) and a use count (low half), slots ordered by
// falling count; `first[c]` is the first slot whose count is at most c.
// Lookups keep that order whatever indices arrive, so no index leaves the map.
struct AdaptiveMap {
  std::array<std::uint16_t, 256> slot{};
  std::array<std::uint16_t, 256> first{};

  void init(unsigned multiplier, bool ranked) {
    for (unsigned i = 0; i < 256; ++i)
      slot[i] = static_cast<std::uint16_t>(((i * multiplier) & 0xFF) << 8);
    first.fill(0);
    if (ranked) rerank();
  }

  // Counts from the position alone: 7 for the first 32 slots down to 0.
  void rerank() {
    for (unsigned i = 0; i < 256; ++i)
      slot[i] = static_cast<std::uint16_t>((slot[i] & 0xFF00) | (7 - i / 32));
    first.fill(0);
    for (unsigned c = 0; c < 7; ++c) first[c] = static_cast<std::uint16_t>((7 - c) * 32);
  }

  [[gnu::always_inline]] std::uint8_t lookup(unsigned index, unsigned limit) {
    std::uint16_t v = slot[index];
    if ((v & 0xFFu) >= limit) {
      rerank();
      v = slot[index];
    }
    // The order keeps `to` at or before `index`; the mask only guards it.
    const unsigned to = first[v & 0xFFu]++ & 0xFFu;
    slot[index] = slot[to];
    slot[to] = static_cast<std::uint16_t>(v + 1);
    return static_cast<std::uint8_t>(v >> 8);
  }
};

class Rar15Decoder final : public LzWindowDecoder {
 public:
  explicit Rar15Decoder(bool solidArchive) : solidArchive_(solidArchive), c_(codes()) {}

 private:
  Outcome decodeEntry(const Entry& e, InStream& in, Sink& sink) override {
    if (e.unpSizeUnknown) return Failure::WrongUnpackedSize;
    if (window_.empty()) window_.resize(kWindow);
    // RAR 1.5 marks solidity on the archive alone: in a solid archive every
    // entry after the first continues the stream, with or without the
    // entry's own solid flag, which later versions set.
    const bool continues = started_ && solidArchive_;
    if (!continues) reset();
    started_ = true;
    flagBits_ = 0;
    literalsOnly_ = false;
    repeats_ = 0;

    // Positions count bytes of the session; no real stream comes near the limit.
    if (e.unpSize > (UINT64_MAX >> 1) - pos_) return Failure::WrongUnpackedSize;
    BitInput bits(in);
    return decodeThroughWindow(e.unpSize, kMaxMatch, bits, sink);
  }

  void reset() {
    pos_ = flushed_ = 0;
    std::fill(window_.begin(), window_.end(), std::uint8_t{0});
    flagMap_.init(0xFF, false);  // byte 0, then 255, 254 ... 1
    literalMap_.init(1, false);
    offsetMap_.init(1, true);
    for (unsigned i = 0; i < 256; ++i) nearOffsets_[i] = static_cast<std::uint8_t>(i);
    avgSelector_ = 0;
    avgLiteral_ = 0x3500;
    avgLength_ = 0;
    avgOffset_ = 0;
    avgNear_ = 0;
    farOffset_ = 0x2001;
    literalWeight_ = matchWeight_ = 0x80;
    literalRun_ = 0;
    altSelectors_ = false;
    lastOffset_ = lastLength_ = 0;
    oldOffsets_.fill(0);
    oldIndex_ = 0;
  }

  [[gnu::always_inline]] static void copyMatch(std::uint8_t* w, std::uint64_t& pos,
                                               std::uint32_t dist, std::uint32_t len) {
    constexpr std::size_t mask = kWindow - 1;
    const std::size_t d = static_cast<std::size_t>(pos & mask);
    const std::size_t s = static_cast<std::size_t>((pos - dist) & mask);
    if (d + len <= kWindow && s + len <= kWindow) {
      std::uint8_t* dp = w + d;
      const std::uint8_t* sp = w + s;
      // Eight bytes at a time give what a byte-by-byte copy gives as long as
      // no eight-byte step reads bytes that the same step writes.
      const std::size_t gap = s < d ? d - s : s - d;
      std::uint32_t i = 0;
      if (gap >= 8)
        for (; i + 8 <= len; i += 8) std::memcpy(dp + i, sp + i, 8);
      for (; i < len; ++i) dp[i] = sp[i];
    } else {
      for (std::uint32_t i = 0; i < len; ++i) w[(pos + i) & mask] = w[(pos - dist + i) & mask];
    }
    pos += len;
  }

  // The decoding steps are inlined into this loop, where the window and the
  // position stay in locals: stores into the window could alias members and
  // would make the compiler reload them.
  Outcome fill(BitInput& in, std::uint64_t stop) override {
    std::uint8_t* const w = window_.data();
    std::uint64_t pos = pos_;
    Outcome rc;
    while (pos < stop && !rc) {
      if (in.exhausted()) [[unlikely]] {
        rc = in.failure();
        break;
      }
      if (literalsOnly_) {
        rc = literal(in, w, pos);
        continue;
      }
      const bool expectMatch = matchWeight_ > literalWeight_;
      int flag = flagBit(in);
      if (flag < 0) {
        rc = Failure::BadSymbol;
      } else if (flag) {
        rc = expectMatch ? longMatch(in, w, pos) : literal(in, w, pos);
      } else if ((flag = flagBit(in)) < 0) {
        rc = Failure::BadSymbol;
      } else if (flag) {
        rc = expectMatch ? literal(in, w, pos) : longMatch(in, w, pos);
      } else {
        shortMatch(in, w, pos);
      }
    }
    pos_ = pos;
    return rc;
  }

  // The next bit of the flag byte, a new byte when the last is used up; -1
  // for the escape symbol, which has no place there.
  [[gnu::always_inline]] int flagBit(BitInput& in) {
    if (flagBits_ == 0) {
      const unsigned index = c_.index[2].decode(in);
      if (index > 255) return -1;
      flags_ = flagMap_.lookup(index, 0xFF);
      flagBits_ = 8;
    }
    --flagBits_;
    return (flags_ >> flagBits_) & 1;
  }

  [[gnu::always_inline]] unsigned literalIndex(BitInput& in) const {
    const unsigned a = avgLiteral_;
    const unsigned which = a < 0xE00 ? 0 : a < 0x3600 ? 1 : a < 0x5E00 ? 2 : a < 0x7600 ? 3 : 4;
    return c_.index[which].decode(in);
  }

  [[gnu::always_inline]] Failure literal(BitInput& in, std::uint8_t* w, std::uint64_t& pos) {
    unsigned index = literalIndex(in);
    if (index > 256) return Failure::BadSymbol;
    if (literalsOnly_) {
      // Index 0 escapes: back to flag bytes, or a short match.
      if (index == 0) {
        if (in.bits(1)) {
          literalsOnly_ = false;
          literalRun_ = 0;
          return Failure::None;
        }
        const std::uint32_t len = 3 + in.bits(1);
        const unsigned high = c_.index[2].decode(in);
        if (high > 256) return Failure::BadSymbol;
        copyMatch(w, pos, high << 5 | in.bits(5), len);
        return Failure::None;
      }
      --index;
    } else {
      index &= 0xFF;
      if (literalRun_++ >= 16 && flagBits_ == 0) literalsOnly_ = true;
    }
    avgLiteral_ += index;
    avgLiteral_ -= avgLiteral_ >> 8;
    literalWeight_ += 16;
    if (literalWeight_ > 0xFF) {
      literalWeight_ = 0x90;
      matchWeight_ >>= 1;
    }
    w[static_cast<std::size_t>(pos++ & (kWindow - 1))] = literalMap_.lookup(index, 0xA1);
    return Failure::None;
  }

  [[gnu::always_inline]] Failure longMatch(BitInput& in, std::uint8_t* w, std::uint64_t& pos) {
    literalRun_ = 0;
    matchWeight_ += 16;
    if (matchWeight_ > 0xFF) {
      matchWeight_ = 0x90;
      literalWeight_ >>= 1;
    }
    unsigned raw = 0;
    if (avgLength_ >= 122) {
      raw = c_.length2.decode(in);
    } else if (avgLength_ >= 64) {
      raw = c_.length1.decode(in);
    } else {
      // Short lengths in unary, up to eight zeros; then eight plain bits.
      while (raw < 8 && in.bits(1) == 0) ++raw;
      if (raw == 8) raw = in.bits(8);
    }
    if (raw > 255) return Failure::BadSymbol;
    const unsigned which = avgOffset_ < 0x700 ? 0 : avgOffset_ < 0x2900 ? 1 : 2;
    const unsigned index = c_.index[which].decode(in);
    if (index > 255) return Failure::BadSymbol;
    const std::uint32_t offset = std::uint32_t{offsetMap_.lookup(index, 0xFF)} << 7 | in.bits(7);

    std::uint32_t len = raw + 3;
    if (offset >= farOffset_) ++len;
    if (offset <= 256) len += 8;
    // Whether this match counts as near is judged by the limit its length
    // bonus was judged by, not by the one the next match will use.
    const std::uint32_t limit = farOffset_;
    farOffset_ = avgNear_ > 0xB0 || (avgLiteral_ >= 0x2A00 && avgLength_ < 0x40) ? 0x7F00 : 0x2001;

    avgLength_ += raw;
    avgLength_ -= avgLength_ >> 5;
    avgOffset_ += index;
    avgOffset_ -= avgOffset_ >> 8;
    if (raw == 0 && offset <= limit) {
      ++avgNear_;
      avgNear_ -= avgNear_ >> 8;
    } else if (raw != 1 && raw != 4 && avgNear_ > 0) {
      --avgNear_;
    }
    remember(offset, len);
    copyMatch(w, pos, offset, len);
    return Failure::None;
  }

  [[gnu::always_inline]] void remember(std::uint32_t offset, std::uint32_t len) {
    lastOffset_ = oldOffsets_[oldIndex_++ & 3] = offset;
    lastLength_ = len;
  }

  [[gnu::always_inline]] void shortMatch(BitInput& in, std::uint8_t* w, std::uint64_t& pos) {
    literalRun_ = 0;
    if (repeats_ == 2) {
      if (in.bits(1)) {
        copyMatch(w, pos, lastOffset_, lastLength_);
        return;
      }
      repeats_ = 0;
    }
    const unsigned code = (avgSelector_ < 37 ? 0 : 2) + (altSelectors_ ? 1 : 0);
    const unsigned selector = c_.selector[code].decode(in);
    if (selector < 9) {
      repeats_ = 0;
      avgSelector_ += selector;
      avgSelector_ -= avgSelector_ >> 4;
      const unsigned index = c_.index[2].decode(in) & 0xFF;
      const std::uint8_t near = nearOffsets_[index];
      if (index != 0) {
        nearOffsets_[index] = nearOffsets_[index - 1];
        nearOffsets_[index - 1] = near;
      }
      const std::uint32_t offset = near + 1u;
      const std::uint32_t len = selector + 2;
      remember(offset, len);
      copyMatch(w, pos, offset, len);
    } else if (selector == 9) {
      ++repeats_;
      copyMatch(w, pos, lastOffset_, lastLength_);
    } else if (selector < 14) {
      repeats_ = 0;
      const std::uint32_t offset = oldOffsets_[(oldIndex_ - (selector - 9)) & 3];
      std::uint32_t len = c_.length1.decode(in) + 2;
      if (len == 0x101 && selector == 10) {
        // The longest length with the newest old distance switches codes.
        altSelectors_ = !altSelectors_;
        return;
      }
      if (offset > 256) ++len;
      if (offset >= farOffset_) ++len;
      remember(offset, len);
      copyMatch(w, pos, offset, len);
    } else if (selector == 14) {
      repeats_ = 0;
      const std::uint32_t len = c_.length2.decode(in) + 5;
      const std::uint32_t offset = in.bits(15) + 0x8000;
      // A far match is the last match, but no old distance.
      lastOffset_ = offset;
      lastLength_ = len;
      copyMatch(w, pos, offset, len);
    }
  }

  const bool solidArchive_;
  const Codes& c_;
  bool started_ = false;

  // Per file.
  unsigned flags_ = 0;
  unsigned flagBits_ = 0;
  bool literalsOnly_ = false;
  unsigned repeats_ = 0;  // short matches in a row that repeated the last match

  // Per stream.
  AdaptiveMap flagMap_;
  AdaptiveMap literalMap_;
  AdaptiveMap offsetMap_;
  std::array<std::uint8_t, 256> nearOffsets_{};
  unsigned avgSelector_ = 0;
  unsigned avgLiteral_ = 0;
  unsigned avgLength_ = 0;
  unsigned avgOffset_ = 0;
  unsigned avgNear_ = 0;  // how often long matches were short and near
  std::uint32_t farOffset_ = 0;
  unsigned literalWeight_ = 0;
  unsigned matchWeight_ = 0;
  unsigned literalRun_ = 0;
  bool altSelectors_ = false;
  std::uint32_t lastOffset_ = 0;
  std::uint32_t lastLength_ = 0;
  std::array<std::uint32_t, 4> oldOffsets_{};
  unsigned oldIndex_ = 0;
};

}  // namespace

std::unique_ptr<Decoder> makeRar15Decoder(bool solidArchive) {
  return std::make_unique<Rar15Decoder>(solidArchive);
}

}  // namespace unrar
