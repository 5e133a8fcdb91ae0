// RAR 5 blocks and their symbols: block headers, code tables, and the main
// symbol loop that turns a block into commands for the window stage.
#include <algorithm>
#include <cstring>

#include "codec/rar5_lz.h"
#include "unrar.h"

namespace unrar::rar5lz {
namespace {

// CodeBlock header flags.
constexpr std::uint8_t kFlagTables = 0x80;
constexpr std::uint8_t kFlagLast = 0x40;
constexpr std::uint8_t kCheckSeed = 0x5A;

// Chunk limits: a chunk is handed over once it produces this much output or
// holds this many commands or filters.
constexpr std::uint64_t kChunkOutput = 1u << 20;
constexpr std::size_t kChunkCommands = 1u << 16;
constexpr std::size_t kChunkFilters = 1024;

int readExact(InStream& in, std::uint8_t* p, std::size_t n, std::size_t& got) {
  got = 0;
  while (got < n) {
    std::size_t k = 0;
    int rc = in.read(p + got, n - got, k);
    if (rc) return rc;
    if (k == 0) break;
    got += k;
  }
  return ERAR_SUCCESS;
}

// Most-significant-bit-first reading of a block held in memory with padding.
class Bits {
 public:
  Bits(const std::uint8_t* p, std::uint64_t bit) : p_(p), bit_(bit) {}
  // The next 57 bits or more, left-aligned.
  std::uint64_t window() const {
    std::uint64_t v;
    std::memcpy(&v, p_ + (bit_ >> 3), 8);
    return __builtin_bswap64(v) << (bit_ & 7);
  }
  // n = 1..57
  std::uint64_t get(unsigned n) {
    std::uint64_t v = window() >> (64 - n);
    bit_ += n;
    return v;
  }
  void skip(unsigned n) { bit_ += n; }
  // The next symbol of `t`, or -1.
  int symbol(const HuffmanTable& t) {
    unsigned len = 0;
    int s = t.lookup(static_cast<std::uint32_t>(window() >> (64 - HuffmanTable::kMaxBits)), len);
    bit_ += len;
    return s;
  }
  std::uint64_t bit() const { return bit_; }

 private:
  const std::uint8_t* p_;
  std::uint64_t bit_;
};

// The length a length slot stands for.
inline std::uint32_t slotLength(unsigned slot, Bits& in) {
  if (slot < 8) return slot + 2;
  const unsigned extra = slot / 4 - 1;
  return 2 + ((4u | (slot & 3)) << extra) + static_cast<std::uint32_t>(in.get(extra));
}

// A filter's position or length: a byte count (2 bits) and the bytes, low first.
inline std::uint32_t filterNumber(Bits& in) {
  const unsigned bytes = static_cast<unsigned>(in.get(2)) + 1;
  std::uint32_t v = 0;
  for (unsigned i = 0; i < bytes; ++i) v |= static_cast<std::uint32_t>(in.get(8)) << (8 * i);
  return v;
}

}  // namespace

Outcome readBlock(InStream& in, CodeBlock& b, bool first) {
  b.bit = 0;
  b.started = false;
  b.error = {};
  b.empty = false;
  b.last = false;
  std::uint8_t h[5];
  std::size_t got = 0;
  int rc = readExact(in, h, 2, got);
  if (rc) return b.error = Outcome::passOn(rc);
  if (got == 0 && first) {
    b.empty = true;
    return {};
  }
  if (got < 2) return b.error = Failure::TruncatedStream;
  const std::uint8_t flags = h[0];
  const unsigned sizeBytes = ((flags >> 3) & 3) + 1u;
  if (sizeBytes > 3) return b.error = Failure::BadSymbol;
  rc = readExact(in, h + 2, sizeBytes, got);
  if (rc) return b.error = Outcome::passOn(rc);
  if (got < sizeBytes) return b.error = Failure::TruncatedStream;
  std::uint8_t check = kCheckSeed ^ flags;
  std::uint32_t size = 0;
  for (unsigned i = 0; i < sizeBytes; ++i) {
    check ^= h[2 + i];
    size |= static_cast<std::uint32_t>(h[2 + i]) << (8 * i);
  }
  if (check != h[1] || size == 0) return b.error = Failure::BadSymbol;
  b.bytes.resize(size + CodeBlock::kPadding);
  rc = readExact(in, b.bytes.data(), size, got);
  if (rc) return b.error = Outcome::passOn(rc);
  if (got < size) return b.error = Failure::TruncatedStream;
  std::memset(b.bytes.data() + size, 0, CodeBlock::kPadding);
  b.endBit = (static_cast<std::uint64_t>(size) - 1) * 8 + (flags & 7) + 1;
  b.tables = flags & kFlagTables;
  b.last = flags & kFlagLast;
  return {};
}

void SymbolDecoder::reset() {
  haveTables_ = false;
  lengths_.fill(0);
  distances_.fill(0);
  lastLength_ = 0;
  pos_ = 0;
  historyFrom_ = 0;
  maxDistance_ = 0;
  filterEnd_ = 0;
}

void SymbolDecoder::configure(unsigned distanceSymbols, std::uint64_t maxDistance) {
  if (distanceSymbols != distanceSymbols_) {
    // Tables for the other alphabet do not apply: the next block must bring new ones.
    distanceSymbols_ = distanceSymbols;
    haveTables_ = false;
    lengths_.fill(0);
  }
  if (maxDistance > maxDistance_) {
    // The window kept at most the old limit; it keeps everything from here on
    // until the new one is reached.
    historyFrom_ = pos_ - std::min(pos_ - historyFrom_, maxDistance_);
    maxDistance_ = maxDistance;
  }
}

Outcome SymbolDecoder::readTables(CodeBlock& b) {
  Bits in(b.bytes.data(), b.bit);
  // The code for the code lengths: 20 lengths of 4 bits; 15 is an escape
  // followed by a count: 0 for the length 15 itself, otherwise count + 2 zeros.
  std::array<std::uint8_t, 20> levels{};
  for (std::size_t i = 0; i < levels.size();) {
    const auto v = static_cast<std::uint8_t>(in.get(4));
    if (v == 15) {
      const unsigned n = static_cast<unsigned>(in.get(4));
      if (n == 0) {
        levels[i++] = 15;
      } else {
        for (unsigned k = 0; k < n + 2 && i < levels.size(); ++k) levels[i++] = 0;
      }
    } else {
      levels[i++] = v;
    }
  }
  HuffmanTable level;
  if (!level.build(levels.data(), levels.size())) return Failure::BadTable;
  const std::size_t total = kMainSymbols + distanceSymbols_ + kAlignSymbols + kLengthSymbols;
  for (std::size_t i = 0; i < total;) {
    if (in.bit() > b.endBit) return Failure::BadTable;
    const int s = in.symbol(level);
    if (s < 0) return Failure::BadTable;
    if (s < 16) {
      lengths_[i++] = static_cast<std::uint8_t>(s);
      continue;
    }
    // 16, 17: repeat the previous length; 18, 19: zeros. 3 + 3 bits or 11 + 7 bits times.
    const std::size_t n = (s & 1) ? 11 + in.get(7) : 3 + in.get(3);
    std::uint8_t v = 0;
    if (s < 18) {
      if (i == 0) return Failure::BadTable;
      v = lengths_[i - 1];
    }
    for (std::size_t k = 0; k < n && i < total; ++k) lengths_[i++] = v;
  }
  if (in.bit() > b.endBit) return Failure::BadTable;
  const std::uint8_t* l = lengths_.data();
  if (!main_.build(l, kMainSymbols) || !distance_.build(l + kMainSymbols, distanceSymbols_) ||
      !align_.build(l + kMainSymbols + distanceSymbols_, kAlignSymbols) ||
      !length_.build(l + kMainSymbols + distanceSymbols_ + kAlignSymbols, kLengthSymbols))
    return Failure::BadTable;
  haveTables_ = true;
  b.bit = in.bit();
  return {};
}

void SymbolDecoder::decode(CodeBlock& b, Chunk& c) {
  if (!b.started) {
    b.started = true;
    if (b.tables) {
      if (Outcome rc = readTables(b)) {
        c.error = rc;
        return;
      }
    } else if (!haveTables_) {
      c.error = Failure::BadTable;
      return;
    }
  }
  Bits in(b.bytes.data(), b.bit);
  const std::uint64_t end = b.endBit;
  // Room for a chunk's literals: the loop stops before the output reaches
  // kChunkOutput, and each literal is one byte of it.
  if (c.literals.size() < kChunkOutput) c.literals.resize(kChunkOutput);
  std::uint8_t* lit = c.literals.data();
  std::size_t nLit = 0;
  std::uint32_t run = 0;  // literals since the last command
  std::uint64_t pos = pos_;
  const std::uint64_t chunkEnd = pos + kChunkOutput;
  Failure error = Failure::None;

  auto match = [&](std::uint32_t length, std::uint64_t distance) {
    // The window keeps maxDistance_ bytes, and nothing before this stream.
    if (distance > std::min(pos - historyFrom_, maxDistance_)) return false;
    c.commands.push_back({run, length, distance});
    run = 0;
    pos += length;
    return true;
  };

  constexpr unsigned kTop = 64 - HuffmanTable::kMaxBits;
  while (in.bit() < end) {
    if (pos >= chunkEnd) break;
    std::uint64_t w = in.window();
    unsigned len = 0;
    int sym = main_.lookup(static_cast<std::uint32_t>(w >> kTop), len);
    if (static_cast<unsigned>(sym) < 256) {
      in.skip(len);
      lit[nLit++] = static_cast<std::uint8_t>(sym);
      ++run;
      ++pos;
      // Literals come in runs, and the next code is already in `w` (57 bits
      // or more, less at most 15 used).
      w <<= len;
      sym = main_.lookup(static_cast<std::uint32_t>(w >> kTop), len);
      if (static_cast<unsigned>(sym) >= 256 || in.bit() >= end || pos >= chunkEnd) continue;
      in.skip(len);
      lit[nLit++] = static_cast<std::uint8_t>(sym);
      ++run;
      ++pos;
      continue;
    }
    in.skip(len);
    if (sym < 0) {
      error = Failure::BadSymbol;
      break;
    }
    if (sym >= 262) {
      std::uint32_t length = slotLength(static_cast<unsigned>(sym - 262), in);
      const int slot = in.symbol(distance_);
      if (slot < 0) {
        error = Failure::BadSymbol;
        break;
      }
      std::uint64_t distance = 1;
      if (slot < 4) {
        distance += static_cast<unsigned>(slot);
      } else {
        const unsigned extra = static_cast<unsigned>(slot) / 2 - 1;
        distance += static_cast<std::uint64_t>(2 | (slot & 1)) << extra;
        if (extra >= 4) {
          if (extra > 4) distance += in.get(extra - 4) << 4;
          const int low = in.symbol(align_);
          if (low < 0) {
            error = Failure::BadSymbol;
            break;
          }
          distance += static_cast<unsigned>(low);
        } else {
          distance += in.get(extra);
        }
      }
      if (distance > 0x100) {
        ++length;
        if (distance > 0x2000) {
          ++length;
          if (distance > 0x40000) ++length;
        }
      }
      distances_[3] = distances_[2];
      distances_[2] = distances_[1];
      distances_[1] = distances_[0];
      distances_[0] = distance;
      lastLength_ = length;
      if (!match(length, distance)) {
        error = Failure::DistanceOutsideWindow;
        break;
      }
    } else if (sym >= 258) {
      const unsigned i = static_cast<unsigned>(sym - 258);
      const std::uint64_t distance = distances_[i];
      for (unsigned k = i; k > 0; --k) distances_[k] = distances_[k - 1];
      distances_[0] = distance;
      const int slot = in.symbol(length_);
      if (slot < 0) {
        error = Failure::BadSymbol;
        break;
      }
      lastLength_ = slotLength(static_cast<unsigned>(slot), in);
      if (!match(lastLength_, distance)) {
        error = Failure::DistanceOutsideWindow;
        break;
      }
    } else if (sym == 257) {
      if (lastLength_ != 0 && !match(lastLength_, distances_[0])) {
        error = Failure::DistanceOutsideWindow;
        break;
      }
    } else {
      FilterRecord f;
      f.start = pos + filterNumber(in);
      f.length = filterNumber(in);
      const unsigned type = static_cast<unsigned>(in.get(3));
      if (type > static_cast<unsigned>(FilterType::Arm)) {
        error = Failure::UnknownFilter;
        break;
      }
      if (f.length > kMaxFilterBytes || f.start < filterEnd_) {
        error = Failure::FilterLimits;
        break;
      }
      f.type = static_cast<FilterType>(type);
      if (f.type == FilterType::Delta) f.channels = static_cast<std::uint8_t>(in.get(5) + 1);
      filterEnd_ = f.start + f.length;
      c.filters.push_back(f);
    }
    if (c.commands.size() >= kChunkCommands || c.filters.size() >= kChunkFilters) break;
  }
  if (run) c.commands.push_back({run, 0, 0});
  c.literalCount = nLit;
  c.output = pos - pos_;
  pos_ = pos;
  b.bit = in.bit();
  if (error != Failure::None) c.error = error;
}

}  // namespace unrar::rar5lz
