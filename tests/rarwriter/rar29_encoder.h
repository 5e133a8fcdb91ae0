// A RAR 2.9 LZ stream encoder for test fixtures (unpack version 29): blocks of
// their own code tables (fresh, or added to the previous lengths), literals,
// matches with every distance code and the low-distance codes with their
// repeat code, the four old distances, the last-match repeat and short
// matches, over one window that a solid archive's entries share. It aims at
// covering every LZ code of the format, not at packing well.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rar29enc {

// A filter record: which program runs on which block, with what.
struct FilterRecord {
  std::optional<std::uint32_t> program;  // stated number (0-based); else the last one's
  std::uint32_t start = 0;               // the block's start, from the record's position
  std::optional<std::uint32_t> length;   // stated block length; else the program's last
  std::optional<std::uint32_t> r0;       // register 0 (a filter's parameter)
  std::string code;                      // bytecode of a new program
};

struct Block {
  Block(std::size_t bytes = 0, bool keepOld = false, std::vector<FilterRecord> records = {})
      : size(bytes), keepOldLengths(keepOld), filters(std::move(records)) {}

  std::size_t size = 0;  // bytes of the entry this block codes; 0: the rest
  // The table read adds to the code lengths in force instead of replacing them.
  bool keepOldLengths = false;
  // Filter records written at the block's start, each after symbol 257.
  std::vector<FilterRecord> filters;
};

// How often each kind of code was written, so tests can tell what a stream covers.
struct Stats {
  std::uint64_t literals = 0;
  std::uint64_t repeatLast = 0;   // symbol 258: the last match again
  std::uint64_t oldDistance = 0;  // 259-262
  std::uint64_t shortMatch = 0;   // 263-270
  std::uint64_t match = 0;        // 271-298
  std::uint64_t matchFrom8K = 0;  // distance 0x2000 and more: one length bonus
  std::uint64_t matchFrom256K = 0;
  std::uint64_t lowDistCodes = 0;    // low four distance bits with a code of their own
  std::uint64_t lowDistRepeats = 0;  // matches whose low bits the repeat code gave
  std::uint64_t tables = 0;
  std::uint64_t keptTables = 0;
};

class Encoder {
 public:
  explicit Encoder(std::size_t windowBytes = std::size_t{1} << 20);

  // The packed data of the stream's next entry. It starts with new tables
  // unless the previous entry ended saying the next one keeps them (then its
  // first block's tables are those in force). `nextKeepsTables` is what this
  // entry's end code says about the next entry. With `thenPpmd` the entry
  // ends with a switch to new tables instead, and the caller appends a PPMd
  // block that ends the entry.
  std::string pack(const std::string& data, const std::vector<Block>& blocks,
                   bool nextKeepsTables = false, bool thenPpmd = false);

  const Stats& stats() const { return stats_; }

 private:
  struct Token {
    std::uint16_t symbol = 0;
    std::int16_t lengthSymbol = -1;  // 259-262: the length code
    std::int16_t distSymbol = -1;
    std::int16_t lowSymbol = -1;
    std::uint8_t lengthBits = 0;
    std::uint32_t lengthExtra = 0;
    std::uint8_t distBits = 0;  // extra distance bits written directly
    std::uint32_t distExtra = 0;
  };
  struct Code {
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint32_t> codes;
  };
  class BitWriter;

  std::vector<Token> tokenize(std::size_t start, std::size_t end);
  bool longMatchToken(std::uint32_t dist, std::uint32_t len, Token& t, bool commit);
  void writeTables(BitWriter& out, bool keepOld, const std::vector<std::uint8_t>& lengths);
  static void writeFilterRecord(BitWriter& out, const FilterRecord& f);
  std::uint32_t matchLength(std::size_t pos, std::size_t dist, std::size_t end) const;
  void indexUpTo(std::size_t pos);
  std::uint32_t hash3(std::size_t pos) const;

  std::size_t window_;
  std::string history_;  // every byte of the stream so far
  std::vector<std::int64_t> head_;
  std::vector<std::int64_t> chain_;
  std::size_t hashed_ = 0;

  // What the decoder carries from block to block and entry to entry.
  std::array<std::uint8_t, 299 + 60 + 17 + 28> oldLengths_{};
  bool tablesNeeded_ = true;
  std::array<Code, 4> codes_;  // main, distance, low distance, length
  std::array<std::uint32_t, 4> oldDist_{};
  std::uint32_t lastDist_ = 0;
  std::uint32_t lastLength_ = 0;
  std::uint32_t lastLow_ = 0;
  std::uint32_t lowRepeats_ = 0;

  Stats stats_;
};

}  // namespace rar29enc
