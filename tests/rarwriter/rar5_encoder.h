// A RAR 5 LZ stream encoder for test fixtures and benchmarks: blocks with new
// code tables or with the tables in force, literals, matches with every length
// and distance slot, the repeat of the last match, the four last distances,
// and the standard filters (delta, E8, E8E9, ARM), over one window that a
// solid archive's entries share. With the wide distance alphabet (80 symbols)
// it writes the form of algorithm version 1. It packs well enough and fast
// enough for benchmark inputs of gigabytes; the knobs make streams that use
// every code of the format.
//
// An entry's packed data ends with its last block, as libarchive 3.6.2 wants
// (it reads on after the last block and fails on any byte there). unar 1.10.1
// fills its bit buffer past some last codes and fails about one such stream in
// four; given a byte more (where a cipher's padding would be) it reads them all.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "huffman_code.h"

namespace rar5enc {

enum class FilterType : std::uint8_t { Delta = 0, E8 = 1, E8E9 = 2, Arm = 3 };

// A filter over bytes [start, start + length) of the entry: the encoder turns the
// bytes into the form the decoder's filter turns back. Filters must not overlap,
// and come in order of their start.
struct Filter {
  std::uint64_t start = 0;
  std::uint32_t length = 0;  // 4 to 4 MiB, and at most half the dictionary
  FilterType type = FilterType::E8;
  unsigned channels = 1;  // delta: 1 to 32
  // How many bytes before `start` the filter's record is written (so that it
  // lands in an earlier block than the data, or with a 4-byte offset field).
  std::uint32_t lead = 0;
};

struct Block {
  std::size_t size = 0;   // bytes of the entry this block codes; 0: the rest
  bool newTables = true;  // false: the block uses the tables in force
};

struct Settings {
  std::uint64_t dictionary = std::uint64_t{4} << 20;  // no distance goes further
  bool wideDistances = false;  // the 80-symbol distance alphabet of algorithm version 1
  unsigned effort = 3;         // 1..5, the method: how many match candidates are tried
  std::size_t blockBytes = std::size_t{1} << 20;  // bytes per block where a plan gives none
  // The level code gets lengths 1..15 over 16 symbols, so that a length of 15
  // is sent with its escape.
  bool longLevelCodes = false;
  // No match runs across a multiple of the dictionary size in the stream. unar
  // 1.10.1 decodes into a window of the dictionary's size up to its end, lets a
  // match run on past it, and only then hands out the window's bytes: with a
  // dictionary of 256 KiB or less the match's tail overwrites bytes not yet out.
  bool matchesStopAtWindowEnd = false;
  // Damage on purpose: every new distance is written this much further back
  // than the match, so that a stream reaches before its start.
  std::uint64_t distanceBias = 0;
};

// How often each form was written, so tests can tell what their streams cover.
struct Stats {
  std::uint64_t literals = 0;
  std::uint64_t repeatLast = 0;  // symbol 257
  std::uint64_t oldDistance0 = 0, oldDistance1 = 0, oldDistance2 = 0, oldDistance3 = 0;
  std::uint64_t matches = 0;
  std::uint64_t distanceNoBits = 0;      // distance slots 0-3
  std::uint64_t distanceDirectBits = 0;  // slots 4-9: extra bits, no alignment code
  std::uint64_t distanceAlignOnly = 0;   // slots 10-11: the alignment code alone
  std::uint64_t distanceBitsAndAlign = 0;
  std::uint64_t distanceWide = 0;  // slots 64 and up
  // Matches whose length carries a bonus for a distance above 256 bytes, 8 KiB, 256 KiB.
  std::uint64_t bonusFrom256 = 0, bonusFrom8K = 0, bonusFrom256K = 0;
  std::uint64_t lengthExtraBits = 0;  // length slots 8 and up
  std::uint64_t deltaFilters = 0, e8Filters = 0, e8e9Filters = 0, armFilters = 0;
  std::uint64_t blocks = 0;
  std::uint64_t lastBlocks = 0;
  std::uint64_t newTables = 0;
  std::uint64_t keptTables = 0;
  std::uint64_t levelRepeats = 0;      // level symbols 16 and 17
  std::uint64_t levelZeroRuns = 0;     // level symbols 18 and 19
  std::uint64_t levelEscapes15 = 0;    // a level length of 15 (15 then 0)
  std::uint64_t levelHeaderZeros = 0;  // zero level lengths sent as a run (15 then n)
};

class Encoder {
 public:
  explicit Encoder(const Settings& settings = {});

  // The packed data of the stream's next entry. Its first block must send tables
  // unless an earlier entry of the stream did.
  std::string pack(const std::string& data, const std::vector<Block>& blocks = {},
                   const std::vector<Filter>& filters = {});

  const Stats& stats() const { return stats_; }

 private:
  struct Token {
    std::uint16_t symbol = 0;
    std::uint8_t lengthSlot = 0;  // 258-261 and matches
    std::uint8_t lengthBits = 0;
    std::uint32_t lengthExtra = 0;
    std::uint8_t distSlot = 0;
    std::uint8_t distBits = 0;  // bits written directly (above the alignment code)
    std::int8_t align = -1;
    std::uint64_t distExtra = 0;
    std::uint32_t filter = 0;  // symbol 256: index into the entry's filters; distExtra: its offset
  };
  struct Code {
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint32_t> codes;
  };

  void tokenize(std::size_t from, std::size_t to, std::vector<Token>& out,
                const std::vector<Filter>& filters, std::size_t entryStart,
                std::size_t& nextFilter);
  // 0 where fewer than two bytes match.
  std::uint32_t matchLength(std::size_t pos, std::uint64_t dist, std::size_t end) const;
  void insertUpTo(std::size_t pos);
  void writeTables(rarcode::BitWriter& out, const std::vector<std::uint8_t>& lengths);
  void putToken(rarcode::BitWriter& out, const Token& t, const std::vector<Filter>& filters);
  void put(rarcode::BitWriter& out, const Code& c, std::size_t symbol) const;

  Settings settings_;
  std::size_t distSymbols_;
  std::string history_;               // every byte of the stream so far, as the window holds it
  std::vector<std::uint32_t> head_;   // hash of 4 bytes: position + 1
  std::vector<std::uint32_t> chain_;  // ring: the previous position with the same hash, + 1
  std::size_t chainMask_;
  std::vector<std::uint32_t> farHead_;  // hash of 32 bytes at multiples of 32: position + 1
  std::size_t hashed_ = 0;
  std::uint32_t misses_ = 0;  // literals since the last match

  // What the decoder carries from block to block and entry to entry.
  std::array<Code, 4> codes_;  // main, distance, alignment, length
  bool haveTables_ = false;
  bool tablesComplete_ = false;
  std::array<std::uint64_t, 4> oldDist_{};
  std::uint32_t lastLength_ = 0;

  Stats stats_;
};

}  // namespace rar5enc
