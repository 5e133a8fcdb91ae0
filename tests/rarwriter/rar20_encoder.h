// A RAR 2.0 stream encoder for test fixtures (unpack version 20): LZ blocks
// and multimedia (audio) blocks of 1-4 channels, in any order, each with its
// own code tables, over one window that a solid archive's entries share.
// It aims at covering every code of the format, not at packing well.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/rar20_audio.h"

namespace rar20enc {

enum class Mode { Lz, Audio };

struct Block {
  Mode mode = Mode::Lz;
  unsigned channels = 1;  // audio blocks: 1-4
  std::size_t size = 0;   // bytes of the entry this block codes; 0: the rest
  // The table read adds to the code lengths in force instead of replacing them.
  bool keepOldLengths = false;
  // Every symbol gets a code, so that the next entry of a solid stream can go
  // on with these tables.
  bool completeTables = false;
};

// How often each kind of code was written, so tests can tell what a stream covers.
struct Stats {
  std::uint64_t literals = 0;
  std::uint64_t repeatLast = 0;  // symbol 256: the last match again
  std::uint64_t oldDistance = 0;
  std::uint64_t shortDistance = 0;
  std::uint64_t match = 0;
  std::uint64_t matchFrom8K = 0;    // distance 0x2000 and more: one length bonus
  std::uint64_t matchFrom256K = 0;  // distance 0x40000 and more: two
  std::uint64_t tables = 0;
  std::uint64_t keptTables = 0;
  std::uint64_t audioBytes = 0;
};

class Encoder {
 public:
  explicit Encoder(std::size_t windowBytes = std::size_t{1} << 20);

  // The packed data of the stream's next entry. `continueTables`: the entry
  // starts with the tables in force (the previous block must have been made
  // with completeTables and have the first block's mode and channels);
  // otherwise it starts with new tables.
  std::string pack(const std::string& data, const std::vector<Block>& blocks,
                   bool continueTables = false);

  const Stats& stats() const { return stats_; }

 private:
  // One LZ code with its extra bits: the length code of symbols 257-260 and
  // 270-297, and the distance code of 270-297.
  struct Token {
    std::uint16_t symbol = 0;
    std::uint8_t lengthSymbol = 0;
    std::uint8_t distSymbol = 0;
    std::uint32_t lengthExtra = 0;
    std::uint32_t distExtra = 0;
  };
  struct Code {
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint32_t> codes;
  };
  class BitWriter;

  std::vector<Token> tokenizeLz(std::size_t start, std::size_t end);
  std::vector<std::uint16_t> tokenizeAudio(std::size_t start, std::size_t end, unsigned channels);
  void writeTables(BitWriter& out, const Block& b, const std::vector<std::uint8_t>& lengths);
  std::uint32_t matchLength(std::size_t pos, std::size_t dist, std::size_t end) const;
  void indexUpTo(std::size_t pos);
  std::uint32_t hash3(std::size_t pos) const;

  std::size_t window_;
  std::string history_;  // every byte of the stream so far
  std::vector<std::int64_t> head_;
  std::vector<std::int64_t> chain_;
  std::vector<std::int64_t> lastPair_;  // the last position of each two-byte string
  std::size_t hashed_ = 0;

  // What the decoder carries from block to block and entry to entry.
  std::array<std::uint8_t, 257 * 4> oldLengths_{};
  bool started_ = false;
  Block current_;
  Code main_, dist_, length_;
  std::array<Code, 4> audio_;
  std::array<std::uint32_t, 4> oldDist_{};
  unsigned oldDistIndex_ = 0;
  std::uint32_t lastDist_ = 0;
  std::uint32_t lastLength_ = 0;
  unsigned channel_ = 0;
  int channelDelta_ = 0;
  std::array<unrar::AudioChannel, 4> audioState_{};

  Stats stats_;
};

}  // namespace rar20enc
