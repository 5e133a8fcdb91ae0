// The RAR 5 decoder's two stages. The symbol stage turns a compressed block
// into commands (literal runs, matches with their distances resolved, filter
// records); the window stage applies them to the history window and hands
// the bytes, filtered where a filter says so, to a sink. Either stage may run
// on its own thread: they share nothing but the chunks passed between them.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "codec/codec.h"
#include "codec/huffman.h"
#include "codec/stage_worker.h"
#include "core/streams.h"

namespace unrar::rar5lz {

inline constexpr unsigned kMainSymbols = 306;
inline constexpr unsigned kDistanceSymbols = 64;
inline constexpr unsigned kDistanceSymbolsV7 = 80;  // dictionaries beyond 4 GiB
inline constexpr unsigned kAlignSymbols = 16;
inline constexpr unsigned kLengthSymbols = 44;
// The longest match: length slot 43 with all its extra bits, plus the bonus
// for a far distance.
inline constexpr std::uint32_t kMaxMatch = 4100;
// A filter covers at most this much output.
inline constexpr std::uint32_t kMaxFilterBytes = 0x400000;
// Filters waiting for their data; more than this is damage, not a stream.
inline constexpr std::size_t kMaxPendingFilters = 8192;
// The largest dictionary the format can declare.
inline constexpr std::uint64_t kMaxDictionary = 64ull << 30;

// One compressed block as read from the packed stream.
struct alignas(kStageAlign) CodeBlock {
  // The block's data, followed by kPadding zero bytes so that the symbol
  // stage may look ahead without bounds checks.
  std::vector<std::uint8_t> bytes;
  std::uint64_t endBit = 0;  // bits of data in the block
  std::uint64_t bit = 0;     // the symbol stage's position in it
  bool tables = false;       // new code tables start the block
  bool last = false;         // the stream's last block
  bool started = false;      // the symbol stage has read the tables
  Outcome error;             // reading the block failed (no data then)
  bool empty = false;        // the stream ended before any block

  static constexpr std::size_t kPadding = 64;
};

// Reads the next block's header and data. `first`: no block of this entry
// was read yet (a stream without any block is then `empty`, not an error).
Outcome readBlock(InStream& in, CodeBlock& b, bool first);

// Literals, then a match (length 0: none).
struct Command {
  std::uint32_t literals = 0;
  std::uint32_t length = 0;
  std::uint64_t distance = 0;
};

enum class FilterType : std::uint8_t { Delta = 0, E8 = 1, E8E9 = 2, Arm = 3 };

struct FilterRecord {
  std::uint64_t start = 0;  // stream position
  std::uint32_t length = 0;
  FilterType type = FilterType::Delta;
  std::uint8_t channels = 0;
};

// The output of the symbol stage for one stretch of a block.
struct alignas(kStageAlign) Chunk {
  // The literals in order; only the first literalCount bytes are the chunk's
  // (the buffer keeps its size from chunk to chunk).
  std::vector<std::uint8_t> literals;
  std::size_t literalCount = 0;
  std::vector<Command> commands;
  std::vector<FilterRecord> filters;
  std::uint64_t output = 0;  // bytes the commands produce
  bool end = false;          // the stream's last block is done
  bool empty = false;        // the stream had no block at all
  Outcome error;             // decoding stopped here

  void clear() {
    literalCount = 0;
    commands.clear();
    filters.clear();
    output = 0;
    end = empty = false;
    error = {};
  }
};

class alignas(kStageAlign) SymbolDecoder {
 public:
  // A new stream: no tables, no distances, nothing decoded.
  void reset();
  // Sets the distance alphabet (64 or 80 symbols) and the longest distance
  // the window stage keeps; both may grow from entry to entry of a stream.
  void configure(unsigned distanceSymbols, std::uint64_t maxDistance);
  // Decodes from the block's position into an empty chunk until the block
  // ends or the chunk is full; chunk.error on damage.
  void decode(CodeBlock& b, Chunk& c);

 private:
  Outcome readTables(CodeBlock& b);

  HuffmanTable main_, distance_, align_, length_;
  std::array<std::uint8_t, kMainSymbols + kDistanceSymbolsV7 + kAlignSymbols + kLengthSymbols>
      lengths_{};
  unsigned distanceSymbols_ = kDistanceSymbols;
  bool haveTables_ = false;
  std::array<std::uint64_t, 4> distances_{};
  std::uint32_t lastLength_ = 0;
  std::uint64_t pos_ = 0;          // stream position after the commands so far
  std::uint64_t historyFrom_ = 0;  // the oldest position the window keeps...
  std::uint64_t maxDistance_ = 0;  // ...or this far back, whichever is nearer
  std::uint64_t filterEnd_ = 0;    // where the last filter ends
};

// The history window and the filters waiting for their data.
class alignas(kStageAlign) Window {
 public:
  ~Window();
  // A new stream. The buffer is kept for it: it holds no data of the old
  // one that can be read (the new stream's matches reach only its own).
  void reset();
  // The most history the window keeps (at least the dictionary) and, when
  // known, the stream position where the current entry ends: the window
  // never grows beyond what the data needs.
  void configure(std::uint64_t maxSize, std::uint64_t expectedEnd);
  // Applies a chunk's commands and takes its filters. FilterLimits when the
  // filters pile up; bad_alloc when the window cannot grow, or would grow
  // past the memory available (availableMemory).
  Outcome apply(const Chunk& c);
  // Hands everything decoded to the sink, except data that a pending filter
  // still waits for. `entryStart`: the stream position where this entry's
  // output begins (the x86 filters work with positions in the file).
  Outcome flush(Sink& sink, std::uint64_t entryStart);
  // After the entry's last flush: a filter that began in it and did not end.
  bool filterPending(std::uint64_t before) const;

  std::uint64_t position() const { return pos_; }

 private:
  void grow(std::uint64_t need);
  void put(const std::uint8_t* p, std::size_t n);
  void copyMatch(std::uint64_t distance, std::uint32_t length);
  void copyOut(std::uint64_t from, std::size_t n, std::uint8_t* out) const;
  Outcome runFilter(const FilterRecord& f, Sink& sink, std::uint64_t entryStart);

  std::uint8_t* buf_ = nullptr;
  std::uint64_t cap_ = 0;
  std::uint64_t w_ = 0;  // where position pos_ goes in buf_
  std::uint64_t pos_ = 0;
  std::uint64_t flushed_ = 0;
  std::uint64_t maxSize_ = 0;
  std::uint64_t expectedEnd_ = 0;  // 0: unknown
  std::deque<FilterRecord> filters_;
  std::vector<std::uint8_t> filterIn_, filterOut_;
};

}  // namespace unrar::rar5lz
