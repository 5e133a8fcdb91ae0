// The RAR 2.9 decoder (unpack versions 29 and 36): LZ blocks with four
// Huffman tables, PPMd blocks, and the standard filters that a stream's
// filter records name. One window serves the whole session, so the entries of
// a solid stream continue each other's matches, tables, filters and model.
//
// Output leaves the window in large blocks. Bytes that a pending filter block
// covers stay in the window until the block is complete; then the filtered
// bytes go to the sink instead (the window keeps the unfiltered bytes, which
// later matches refer to).
//
// Two stages do the work: the symbol stage reads the bit stream (tables,
// symbols, the PPMd model, filter records) and turns it into steps of
// literals and matches; the window stage applies them, runs the filters and
// writes. For a large entry on a machine with a second core, the symbol stage
// runs on a worker thread (stage_worker.h); both ways the window stage sees
// the same steps, so the output and its codes are the same.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <system_error>
#include <vector>

#include "codec/bit_input.h"
#include "codec/codec.h"
#include "codec/copy_bytes.h"
#include "codec/huffman.h"
#include "codec/ppmd_h.h"
#include "codec/rar29_filters.h"
#include "codec/rar2x_codes.h"
#include "codec/stage_worker.h"
#include "unrar.h"

namespace unrar {
namespace {

using namespace unrar::rar2x;

constexpr std::size_t kMainSymbols = 299;
constexpr std::size_t kDistSymbols = 60;
constexpr std::size_t kLowDistSymbols = 17;
constexpr std::size_t kLengthSymbols = 28;
constexpr std::size_t kTableSymbols =
    kMainSymbols + kDistSymbols + kLowDistSymbols + kLengthSymbols;

struct DistCodes {
  std::array<std::uint32_t, kDistSymbols> base{};
  std::array<std::uint8_t, kDistSymbols> bits{};
  constexpr DistCodes() {
    // Two codes per count of extra bits up to 16, twelve more of 16 bits
    // (to 1 MiB), then 18 bits a code.
    std::uint32_t b = 0;
    for (std::size_t i = 0; i < kDistSymbols; ++i) {
      std::uint8_t n = i < 4    ? 0
                       : i < 36 ? static_cast<std::uint8_t>((i - 2) / 2)
                       : i < 48 ? 16
                                : 18;
      base[i] = b;
      bits[i] = n;
      b += 1u << n;
    }
  }
};
constexpr DistCodes kDist;

constexpr std::size_t kMinWindow = 1u << 20;  // holds any filter block with room to spare
constexpr std::size_t kMaxWindow = 4u << 20;
constexpr std::size_t kSmallestWindow = 64u << 10;
constexpr std::uint64_t kChunk = 256 * 1024;  // output per sink call, at most
// The size of an entry that ends with its end-of-file code.
constexpr std::uint64_t kUnknownSize = UINT64_MAX;
constexpr std::size_t kMaxPendingFilters = 8192;
// Filters on one block run one after the other on the same bytes: their
// number bounds the work per output byte. Encoders write one filter a block
// (the peers refuse a second one on the same block).
constexpr std::uint32_t kMaxFiltersPerBlock = 16;
constexpr std::size_t kMaxPrograms = 1024;
constexpr std::uint32_t kVmGlobalAddress = 0x3C000;
constexpr std::uint32_t kVmUserGlobalSize = 0x2000 - 0x40;

// MSB-first reading of a filter record that has been read into memory. Reads
// past its end deliver zeros and mark the reader overrun.
class RecordReader {
 public:
  RecordReader(const std::uint8_t* p, std::size_t n) : p_(p), bitsLeft_(n * 8) {}
  std::uint32_t bits(unsigned n) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < n; ++i) {
      v <<= 1;
      if (bitsLeft_ == 0) {
        overrun_ = true;
        continue;
      }
      v |= (p_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
      ++pos_;
      --bitsLeft_;
    }
    return v;
  }
  // The variable-length numbers of filter records.
  std::uint32_t number() {
    switch (bits(2)) {
      case 0:
        return bits(4);
      case 1: {
        std::uint32_t v = bits(8);
        if (v >= 16) return v;
        return 0xFFFFFF00u | (v << 4) | bits(4);
      }
      case 2:
        return bits(16);
      default:
        return bits(32);
    }
  }
  bool overrun() const { return overrun_; }

 private:
  const std::uint8_t* p_;
  std::size_t pos_ = 0;
  std::size_t bitsLeft_;
  bool overrun_ = false;
};

struct Program {
  rar29::FilterKind kind = rar29::FilterKind::None;
  std::uint32_t lastLength = 0;
  std::uint32_t usage = 0;
};

struct PendingFilter {
  rar29::FilterKind kind;
  std::array<std::uint32_t, 7> r;
  std::uint64_t start;  // window position of the block's first byte
  std::uint32_t length;
  std::uint32_t earlier;  // filters on the same block that run before this one
  bool clears;            // the record started the table of filters afresh
};

// Literals, then a match (length 0: none).
struct Command {
  std::uint32_t literals;
  std::uint32_t length;
  std::uint32_t distance;
};

// What the symbol stage decoded in one step: the window stage applies it,
// then writes what is final. A step stops at the entry's end, at the end of
// the next filter block, or after kChunk bytes.
struct alignas(kStageAlign) Chunk {
  // The literals in order; only the first literalCount bytes are the chunk's.
  std::vector<std::uint8_t> literals;
  std::size_t literalCount = 0;
  std::vector<Command> commands;
  // Filter records in the order read; each names a block of the output.
  std::vector<PendingFilter> filters;
  std::uint64_t output = 0;  // bytes the commands produce
  bool last = false;         // the entry's last step
  Outcome error;             // decoding stopped here: nothing of it is written

  void clear() {
    literalCount = 0;
    commands.clear();
    filters.clear();
    output = 0;
    last = false;
    error = {};
  }
};

// Packed data as one read of the entry's stream gave it, for the worker.
struct alignas(kStageAlign) PackedBlock {
  std::vector<std::uint8_t> bytes;
  std::size_t size = 0;
  int error = 0;  // the read's ERAR_* code
};

// Blocks read ahead of the worker, and chunks decoded ahead of the window.
constexpr std::size_t kPackedBlock = 64 * 1024;
constexpr std::size_t kBlocksAhead = 8;
constexpr std::size_t kChunksAhead = 4;
using SymbolWorker = StageWorker<PackedBlock, Chunk, kBlocksAhead, kChunksAhead>;

// The stage that reads the bit stream: tables and symbols, the PPMd model,
// filter records. It keeps the filter blocks still to come as the window
// stage does, so that its steps stop where the window stage must write.
class alignas(kStageAlign) SymbolStage {
 public:
  explicit SymbolStage(bool solidArchive) : solidArchive_(solidArchive) {}

  // The next entry: `size` bytes, or with kUnknownSize up to the end-of-file code.
  void begin(std::uint64_t size) {
    entryStart_ = pos_;
    entryEnd_ = size == kUnknownSize ? kUnknownSize : entryStart_ + size;
    unknownSize_ = size == kUnknownSize;
    endOfFile_ = false;
    first_ = true;
  }
  // Decodes the entry's next step into an empty chunk; true after its last
  // (c.last) or a failed one (c.error).
  bool step(BitInput& in, Chunk& c);
  // The codes after the entry's end broke the stream for the entries after it.
  bool breaksSession() const { return breaks_; }

 private:
  void readTail(BitInput& in);
  std::uint64_t finalPosition();

  Outcome readTables(BitInput& in);
  Outcome readLzTables(BitInput& in);
  Outcome decodeLz(BitInput& in, std::uint64_t limit, Chunk& c);
  Outcome decodePpmd(BitInput& in, std::uint64_t limit, Chunk& c);

  Outcome readFilterRecord(BitInput& in, bool fromPpmd, Chunk* c);
  Outcome parseFilterRecord(const std::uint8_t* rec, std::size_t n, std::uint8_t flags, Chunk* c);

  const bool solidArchive_;
  std::uint64_t pos_ = 0;  // bytes decoded so far
  std::uint64_t entryStart_ = 0;
  std::uint64_t entryEnd_ = 0;
  bool unknownSize_ = false;
  bool first_ = false;
  bool breaks_ = false;

  bool tablesNeeded_ = true;
  bool ppmdBlock_ = false;
  bool endOfFile_ = false;

  std::array<std::uint8_t, kTableSymbols> lengths_{};
  HuffmanTable main_, dist_, lowDist_, len_;
  std::array<std::uint32_t, 4> oldDist_{};
  std::uint32_t lastDist_ = 0;
  std::uint32_t lastLength_ = 0;
  std::uint32_t lastLowDist_ = 0;
  std::uint32_t lowDistRepeats_ = 0;

  PpmdH ppmd_;
  int ppmdEscape_ = 2;

  std::vector<Program> programs_;
  std::deque<PendingFilter> pending_;
  std::uint32_t lastProgram_ = 0;
  std::vector<std::uint8_t> record_;
  // Filters read after the last entry's end, for the next entry's first step.
  std::vector<PendingFilter> tailFilters_;
};

// The stage that owns the window: applies the steps, runs the filters on
// complete blocks and hands the final bytes to the sink.
class alignas(kStageAlign) WindowStage {
 public:
  ~WindowStage() { std::free(window_); }

  Outcome prepare(std::uint64_t dictBytes, std::uint64_t entrySize);
  void begin(std::uint64_t size) {
    entryStart_ = flushed_ = pos_;
    entryEnd_ = size == kUnknownSize ? kUnknownSize : entryStart_ + size;
  }
  // Applies a step and writes what it made final.
  Outcome apply(const Chunk& c, Sink& sink);
  std::uint64_t position() const { return pos_; }

 private:
  Outcome emitReady(Sink& sink);
  Outcome runFilters(Sink& sink);
  Outcome flushTo(std::uint64_t limit, Sink& sink);
  void put(const std::uint8_t* p, std::size_t n) {
    const std::size_t at = pos_ & mask_;
    pos_ += n;
    if (at + n <= windowSize_) {
      copyBytes(window_ + at, p, n);
      return;
    }
    const std::size_t first = windowSize_ - at;
    std::memcpy(window_ + at, p, first);
    std::memcpy(window_, p + first, n - first);
  }
  void copyMatch(std::uint32_t dist, std::uint32_t len) {
    std::uint8_t* w = window_;
    std::size_t d = pos_ & mask_;
    std::size_t s = (pos_ - dist) & mask_;
    pos_ += len;
    if (d + len <= windowSize_ && s + len <= windowSize_) {
      std::uint8_t* dst = w + d;
      const std::uint8_t* src = w + s;
      if (d >= s + len || s >= d + len) {
        copyBytes(dst, src, len);
        return;
      }
      std::uint32_t i = 0;
      if (d >= s + 8 || s >= d) {
        // Eight bytes at a time read only bytes that are final already, so
        // the result is that of the byte-by-byte copy matches are defined as.
        for (; i + 8 <= len; i += 8) {
          std::uint64_t v;
          std::memcpy(&v, src + i, 8);
          std::memcpy(dst + i, &v, 8);
        }
      } else if (dist == 1) {
        std::memset(dst, *src, len);
        return;
      }
      for (; i < len; ++i) dst[i] = src[i];
      return;
    }
    for (std::uint32_t i = 0; i < len; ++i) {
      w[d] = w[s];
      d = (d + 1) & mask_;
      s = (s + 1) & mask_;
    }
  }

  std::uint8_t* window_ = nullptr;
  std::size_t windowSize_ = 0;
  std::size_t mask_ = 0;
  std::uint64_t pos_ = 0;      // bytes decoded into the window so far
  std::uint64_t flushed_ = 0;  // bytes of those that are final (written or dropped)
  std::uint64_t entryStart_ = 0;
  std::uint64_t entryEnd_ = 0;
  std::deque<PendingFilter> pending_;
  std::unique_ptr<std::uint8_t[]> vm_;
};

class Rar29Decoder final : public StreamDecoder {
 public:
  explicit Rar29Decoder(bool solidArchive) : solidArchive_(solidArchive), symbols_(solidArchive) {}

 private:
  Outcome decodeEntry(const Entry& e, InStream& in, Sink& sink) override {
    // An empty entry leaves the stream as it is, unless it is part of a solid
    // stream and has data: its end-of-file code says what the next entry
    // starts with.
    // An entry of unknown size ends with its end-of-file code.
    const std::uint64_t size = e.unpSizeUnknown ? kUnknownSize : e.unpSize;
    // Positions count bytes of the session; no real stream comes near the limit.
    const std::uint64_t pos = window_.position();
    if (!e.unpSizeUnknown && size > (UINT64_MAX >> 1) - pos) return Failure::WrongUnpackedSize;
    if (size == 0 && (!solidArchive_ || in.remaining() == 0)) return {};
    if (Outcome rc = window_.prepare(e.dictBytes, size)) return rc;
    symbols_.begin(size);
    window_.begin(size);
    Outcome rc = useWorker(in.remaining()) ? decodeThreaded(in, sink) : decodeSingle(in, sink);
    if (!rc && symbols_.breaksSession()) broken_ = true;
    return rc;
  }

  Outcome decodeSingle(InStream& in, Sink& sink) {
    BitInput bits(in, kPackedBlock);
    for (;;) {
      chunk_.clear();
      const bool last = symbols_.step(bits, chunk_);
      if (Outcome rc = window_.apply(chunk_, sink)) return rc;
      if (last) return {};
    }
  }

  Outcome decodeThreaded(InStream& in, Sink& sink);

  const bool solidArchive_;
  SymbolStage symbols_;
  WindowStage window_;
  Chunk chunk_;
  SymbolWorker::Pool pool_;  // kept from entry to entry, as the window is
};

// The worker's view of the blocks the calling thread reads: each read gives
// one block, as the entry's stream gave it.
class QueuedInput final : public InStream {
 public:
  explicit QueuedInput(SymbolWorker& worker) : worker_(worker) {}
  ~QueuedInput() override {
    if (block_) worker_.doneBlock(block_);
  }
  QueuedInput(const QueuedInput&) = delete;
  QueuedInput& operator=(const QueuedInput&) = delete;

  int read(std::uint8_t* buf, std::size_t n, std::size_t& got) override {
    got = 0;
    if (block_) worker_.doneBlock(block_);
    block_ = worker_.nextBlock();
    // Told to stop: the calling thread needs nothing more.
    if (!block_) return ERAR_EREAD;
    got = std::min(n, block_->size);
    std::memcpy(buf, block_->bytes.data(), got);
    return block_->error;
  }
  std::uint64_t remaining() const override { return 0; }

 private:
  SymbolWorker& worker_;
  PackedBlock* block_ = nullptr;
};

Outcome Rar29Decoder::decodeThreaded(InStream& in, Sink& sink) {
  std::unique_ptr<SymbolWorker> started;
  try {
    started = std::make_unique<SymbolWorker>(pool_, [this](SymbolWorker& w) {
      QueuedInput queued(w);
      BitInput bits(queued, kPackedBlock);
      for (;;) {
        Chunk* c = w.freeChunk();
        if (!c) return;
        c->clear();
        bool last = true;
        try {
          last = symbols_.step(bits, *c);
        } catch (const std::bad_alloc&) {
          c->error = Failure::OutOfMemory;
        }
        w.pushChunk(c);
        if (last) return;
      }
    });
  } catch (const std::system_error&) {
    // No thread to be had: one will do.
    return decodeSingle(in, sink);
  }
  SymbolWorker& worker = *started;
  bool allRead = false;
  for (;;) {
    // Every free block is read before a step is applied: the worker must not
    // wait for input while this thread writes.
    while (!allRead) {
      PackedBlock* b = worker.freeBlock();
      if (!b) break;
      if (b->bytes.size() < kPackedBlock) b->bytes.resize(kPackedBlock);
      b->size = 0;
      b->error = in.read(b->bytes.data(), kPackedBlock, b->size);
      allRead = b->error || b->size == 0;
      worker.pushBlock(b);
    }
    Chunk* c = worker.popChunk(!allRead);
    if (!c) continue;
    Outcome rc = window_.apply(*c, sink);
    const bool last = c->last;
    worker.recycle(c);
    if (rc || last) return rc;
  }
}

Outcome WindowStage::prepare(std::uint64_t dictBytes, std::uint64_t entrySize) {
  std::size_t want = kMinWindow;
  while (want < dictBytes && want < kMaxWindow) want <<= 1;
  // A stream that fills less than half of a window never wraps in it, so
  // every match and filter block fits: small entries get small windows.
  const std::uint64_t total = pos_ + std::min<std::uint64_t>(entrySize, kMaxWindow) + 1024;
  std::size_t fits = kSmallestWindow;
  while (fits < 2 * total && fits < want) fits <<= 1;
  want = fits;
  if (window_ && want <= windowSize_) return {};
  // Zeroed memory: a damaged stream that refers to bytes never written reads
  // zeros, as RAR's own window starts out. calloc gets them from fresh pages.
  auto* w = static_cast<std::uint8_t*>(std::calloc(want, 1));
  if (!w) return Failure::OutOfMemory;
  if (window_) {
    // A later entry of the stream asks for a larger dictionary: the bytes
    // move to their places in the larger window.
    std::uint64_t keep = std::min<std::uint64_t>(pos_, windowSize_);
    for (std::uint64_t p = pos_ - keep; p < pos_; ++p) w[p & (want - 1)] = window_[p & mask_];
    std::free(window_);
  }
  window_ = w;
  windowSize_ = want;
  mask_ = want - 1;
  return {};
}

// Where the window stage has written up to once it has applied everything so
// far: the entry's bytes, less any from a filter block still incomplete.
std::uint64_t SymbolStage::finalPosition() {
  // Complete blocks are run and gone, as the window stage runs them.
  while (!pending_.empty() && pending_.front().start < entryEnd_ &&
         pending_.front().start + pending_.front().length <= pos_)
    pending_.pop_front();
  std::uint64_t at = std::min(pos_, entryEnd_);
  if (!pending_.empty()) at = std::min(at, pending_.front().start);
  return at;
}

bool SymbolStage::step(BitInput& in, Chunk& c) {
  if (c.literals.size() < kChunk) c.literals.resize(kChunk);
  c.filters.insert(c.filters.end(), tailFilters_.begin(), tailFilters_.end());
  tailFilters_.clear();
  if (first_) {
    first_ = false;
    if (tablesNeeded_) {
      if (Outcome rc = readTables(in)) {
        c.error = rc;
        return true;
      }
    }
  }
  const std::uint64_t written = finalPosition();
  if (written >= entryEnd_ || (endOfFile_ && unknownSize_ && written == pos_)) {
    if (!endOfFile_) {
      if (solidArchive_) {
        readTail(in);
      } else if (ppmdBlock_) {
        tablesNeeded_ = true;
      }
    }
    c.last = true;
    return true;
  }
  if (endOfFile_) {
    // The stream ended before the entry did, or a filter block did not.
    c.error = Failure::WrongUnpackedSize;
    return true;
  }
  if (in.exhausted()) {
    c.error = in.failure();
    return true;
  }
  std::uint64_t limit = std::min(entryEnd_, pos_ + kChunk);
  if (!pending_.empty()) {
    const PendingFilter& f = pending_.front();
    std::uint64_t end = f.start + f.length;
    if (f.start < entryEnd_ && end > entryEnd_) {
      c.error = Failure::FilterLimits;
      return true;
    }
    if (f.start < entryEnd_) limit = std::min(limit, end);
  }
  if (pos_ >= limit) {
    c.error = Failure::FilterLimits;
    return true;
  }
  const std::uint64_t before = pos_;
  c.error = ppmdBlock_ ? decodePpmd(in, limit, c) : decodeLz(in, limit, c);
  c.output = pos_ - before;
  return static_cast<bool>(c.error);
}

// After an entry's last byte of a solid stream: the codes that close it,
// followed as the encoder wrote them so that the tables, the model and the
// filters stay in step with its own for the next entry. Filter records and
// new tables (LZ or PPMd) may precede the end-of-file code, which in an LZ
// block says whether the next entry starts with new tables. A PPMd block's
// range decoder ends with the entry's data, so the next entry starts with a
// table read that restarts it; the model goes on, so it must also learn the
// codes the encoder sent. Anything else in an LZ block is left alone: the
// next entry has a stream of its own.
void SymbolStage::readTail(BitInput& in) {
  for (int guard = 0; guard < 64 && !in.exhausted(); ++guard) {
    Outcome rc;
    if (ppmdBlock_) {
      if (ppmd_.decodeChar(in) != ppmdEscape_) break;
      const int code = ppmd_.decodeChar(in);
      if (code == 2) {
        tablesNeeded_ = true;
        return;
      }
      if (code != 0 && code != 3) break;
      rc = code == 0 ? readTables(in) : readFilterRecord(in, true, nullptr);
    } else {
      const int sym = main_.decode(in);
      if (sym == 256 && !in.bits(1)) {
        tablesNeeded_ = in.bits(1) != 0;
        return;
      }
      if (sym != 256 && sym != 257) return;
      rc = sym == 256 ? readTables(in) : readFilterRecord(in, false, nullptr);
    }
    if (rc) {
      breaks_ = true;
      return;
    }
  }
  // Codes that end early: a PPMd model cannot follow the encoder's.
  if (ppmdBlock_) breaks_ = true;
}

Outcome SymbolStage::readTables(BitInput& in) {
  in.alignToByte();
  if (in.exhausted()) return in.failure();
  tablesNeeded_ = false;
  if (!in.bits(1)) {
    ppmdBlock_ = false;
    return readLzTables(in);
  }
  std::uint32_t flags = in.bits(7);
  std::size_t memBytes = 0;
  if (flags & 0x20) memBytes = static_cast<std::size_t>(in.bits(8) + 1) << 20;
  if (flags & 0x40) ppmdEscape_ = static_cast<int>(in.bits(8));
  if (flags & 0x20) {
    unsigned order = (flags & 0x1F) + 1;
    if (order > 16) order = 16 + (order - 16) * 3;
    if (order == 1) return Failure::PpmdModel;
    if (!ppmd_.restart(memBytes, order)) return Failure::OutOfMemory;
  } else if (!ppmd_.hasModel()) {
    return Failure::PpmdModel;
  }
  ppmd_.startDecoder(in);
  if (in.exhausted()) return in.failure();
  ppmdBlock_ = true;
  return {};
}

Outcome SymbolStage::readLzTables(BitInput& in) {
  lastLowDist_ = 0;
  lowDistRepeats_ = 0;
  if (!in.bits(1)) lengths_.fill(0);

  std::array<std::uint8_t, 20> pre{};
  for (std::size_t i = 0; i < pre.size();) {
    std::uint8_t n = static_cast<std::uint8_t>(in.bits(4));
    if (n == 15) {
      std::uint32_t zeros = in.bits(4);
      if (zeros != 0) {
        for (std::uint32_t j = 0; j < zeros + 2 && i < pre.size(); ++j) pre[i++] = 0;
        continue;
      }
    }
    pre[i++] = n;
  }
  HuffmanTable precode;
  if (!precode.build(pre.data(), pre.size())) return Failure::BadTable;

  for (std::size_t i = 0; i < kTableSymbols;) {
    if (in.exhausted()) return in.failure();
    int sym = precode.decode(in);
    if (sym < 0) return Failure::BadTable;
    if (sym < 16) {
      lengths_[i] = static_cast<std::uint8_t>((lengths_[i] + sym) & 0x0F);
      ++i;
      continue;
    }
    std::uint32_t n = (sym & 1) ? in.bits(7) + 11 : in.bits(3) + 3;
    if (sym < 18) {
      if (i == 0) return Failure::BadTable;  // nothing to repeat
      for (std::uint32_t j = 0; j < n && i < kTableSymbols; ++j, ++i) lengths_[i] = lengths_[i - 1];
    } else {
      for (std::uint32_t j = 0; j < n && i < kTableSymbols; ++j) lengths_[i++] = 0;
    }
  }
  const std::uint8_t* l = lengths_.data();
  if (!main_.build(l, kMainSymbols) || !dist_.build(l + kMainSymbols, kDistSymbols) ||
      !lowDist_.build(l + kMainSymbols + kDistSymbols, kLowDistSymbols) ||
      !len_.build(l + kMainSymbols + kDistSymbols + kLowDistSymbols, kLengthSymbols))
    return Failure::BadTable;
  return {};
}

// A filter record: a flags byte, its length, then that many bytes, read from
// the bit stream in LZ blocks and as decoded characters in PPMd blocks.
Outcome SymbolStage::readFilterRecord(BitInput& in, bool fromPpmd, Chunk* c) {
  auto next = [&]() -> int {
    return fromPpmd ? ppmd_.decodeChar(in) : static_cast<int>(in.bits(8));
  };
  int flags = next();
  if (flags < 0) return Failure::BadSymbol;
  std::size_t n = static_cast<std::size_t>(flags & 7) + 1;
  if (n == 7) {
    int b = next();
    if (b < 0) return Failure::BadSymbol;
    n = static_cast<std::size_t>(b) + 7;
  } else if (n == 8) {
    int hi = next();
    int lo = next();
    if (hi < 0 || lo < 0) return Failure::BadSymbol;
    n = static_cast<std::size_t>(hi << 8 | lo);
  }
  record_.resize(n);
  for (std::size_t i = 0; i < n; ++i) {
    int b = next();
    if (b < 0) return Failure::BadSymbol;
    record_[i] = static_cast<std::uint8_t>(b);
  }
  if (in.exhausted()) return in.failure();
  return parseFilterRecord(record_.data(), n, static_cast<std::uint8_t>(flags), c);
}

// The filter goes to the window stage with the chunk `c` (none: the record
// follows the entry's end, and the next entry's first step carries it).
Outcome SymbolStage::parseFilterRecord(const std::uint8_t* rec, std::size_t n, std::uint8_t flags,
                                       Chunk* c) {
  RecordReader r(rec, n);
  std::uint32_t num = lastProgram_;
  bool clears = false;
  if (flags & 0x80) {
    num = r.number();
    if (num == 0) {
      // Number 0 starts the table of filters afresh.
      programs_.clear();
      pending_.clear();
      clears = true;
    } else {
      --num;
    }
  }
  if (num > programs_.size() || num >= kMaxPrograms) return Failure::FilterLimits;
  const bool isNew = num == programs_.size();
  lastProgram_ = num;

  PendingFilter f{};
  f.start = pos_ + r.number();
  if (flags & 0x40) f.start += 258;
  Program fresh;
  Program& prog = isNew ? fresh : programs_[num];
  if (!isNew) ++prog.usage;
  if (flags & 0x20) prog.lastLength = r.number();
  f.length = prog.lastLength;
  // No block longer than the filters' memory can ever run.
  if (f.length > rar29::kVmMemorySize) return Failure::FilterLimits;

  f.r = {};
  f.r[3] = kVmGlobalAddress;
  f.r[4] = f.length;
  f.r[5] = prog.usage;
  if (flags & 0x10) {
    std::uint32_t mask = r.bits(7);
    for (unsigned i = 0; i < 7; ++i)
      if (mask & (1u << i)) f.r[i] = r.number();
  }
  if (isNew) {
    std::uint32_t codeSize = r.number();
    if (codeSize == 0 || codeSize > 0x10000 || codeSize > n) return Failure::UnknownFilter;
    std::vector<std::uint8_t> code(codeSize);
    std::uint8_t sum = 0;
    for (std::uint32_t i = 0; i < codeSize; ++i) {
      code[i] = static_cast<std::uint8_t>(r.bits(8));
      if (i) sum ^= code[i];
    }
    if (r.overrun() || sum != code[0]) return Failure::UnknownFilter;
    prog.kind = rar29::identifyFilter(code.data(), code.size());
    // Only the standard filters are known: any other program's output is
    // unknown, and writing its input unfiltered would be wrong data.
    if (prog.kind == rar29::FilterKind::None) return Failure::UnknownFilter;
  }
  if (flags & 0x08) {
    // Global data for the filter program; the standard filters take none.
    std::uint32_t size = r.number();
    if (size > kVmUserGlobalSize) return Failure::FilterLimits;
    for (std::uint32_t i = 0; i < size; ++i) r.bits(8);
  }
  if (r.overrun()) return Failure::BadSymbol;
  if (pending_.size() >= kMaxPendingFilters) return Failure::FilterLimits;
  if (!pending_.empty()) {
    // Blocks come in stream order; only a filter on the same block (which
    // runs on the previous one's output) may start where the last one does.
    const PendingFilter& last = pending_.back();
    if (f.start < last.start || (f.start != last.start && f.start < last.start + last.length))
      return Failure::FilterLimits;
    if (f.start == last.start && (f.earlier = last.earlier + 1) >= kMaxFiltersPerBlock)
      return Failure::FilterLimits;
  }
  f.kind = prog.kind;
  f.clears = clears;
  if (isNew) programs_.push_back(fresh);
  pending_.push_back(f);
  (c ? c->filters : tailFilters_).push_back(f);
  return {};
}

// Collects a step's literals and matches into its chunk.
class ChunkWriter {
 public:
  // `pos`: the stage's position, kept here while the step runs.
  ChunkWriter(Chunk& c, std::uint64_t& pos)
      : c_(c), lit_(c.literals.data() + c.literalCount), stagePos_(pos), pos_(pos) {}
  ~ChunkWriter() {
    if (run_) c_.commands.push_back({run_, 0, 0});
    c_.literalCount += n_;
    sync();
  }
  ChunkWriter(const ChunkWriter&) = delete;
  ChunkWriter& operator=(const ChunkWriter&) = delete;

  void literal(std::uint8_t b) {
    lit_[n_++] = b;
    ++run_;
    ++pos_;
  }
  void match(std::uint32_t dist, std::uint32_t len) {
    c_.commands.push_back({run_, len, dist});
    run_ = 0;
    pos_ += len;
  }
  std::uint64_t position() const { return pos_; }
  // The stage's position brought up to date (filter records start from it).
  void sync() { stagePos_ = pos_; }

 private:
  Chunk& c_;
  std::uint8_t* lit_;
  std::uint64_t& stagePos_;
  std::uint64_t pos_;
  std::size_t n_ = 0;
  std::uint32_t run_ = 0;
};

Outcome SymbolStage::decodeLz(BitInput& in, std::uint64_t limit, Chunk& c) {
  ChunkWriter out(c, pos_);
  while (out.position() < limit) {
    int sym = main_.decode(in);
    if (sym < 256) {
      if (sym < 0) return Failure::BadSymbol;
      out.literal(static_cast<std::uint8_t>(sym));
      continue;
    }
    std::uint32_t dist, len;
    if (sym >= 271) {
      sym -= 271;
      len = kLengthBase[sym] + 3u;
      if (kLengthBits[sym]) len += in.bits(kLengthBits[sym]);
      int ds = dist_.decode(in);
      if (ds < 0) return Failure::BadSymbol;
      dist = kDist.base[ds] + 1;
      unsigned extra = kDist.bits[ds];
      if (ds > 9) {
        // The low four bits have a code of their own, or repeat the last ones.
        if (extra > 4) dist += in.bits(extra - 4) << 4;
        if (lowDistRepeats_ > 0) {
          --lowDistRepeats_;
          dist += lastLowDist_;
        } else {
          int low = lowDist_.decode(in);
          if (low < 0) return Failure::BadSymbol;
          if (low == 16) {
            lowDistRepeats_ = 15;
            dist += lastLowDist_;
          } else {
            dist += static_cast<std::uint32_t>(low);
            lastLowDist_ = static_cast<std::uint32_t>(low);
          }
        }
      } else if (extra) {
        dist += in.bits(extra);
      }
      if (dist >= 0x2000) ++len;
      if (dist >= 0x40000) ++len;
      oldDist_[3] = oldDist_[2];
      oldDist_[2] = oldDist_[1];
      oldDist_[1] = oldDist_[0];
      oldDist_[0] = dist;
    } else if (sym >= 263) {
      sym -= 263;
      dist = kShortBase[sym] + 1u + in.bits(kShortBits[sym]);
      len = 2;
      oldDist_[3] = oldDist_[2];
      oldDist_[2] = oldDist_[1];
      oldDist_[1] = oldDist_[0];
      oldDist_[0] = dist;
    } else if (sym >= 259) {
      std::size_t k = static_cast<std::size_t>(sym - 259);
      dist = oldDist_[k];
      int ls = len_.decode(in);
      if (ls < 0) return Failure::BadSymbol;
      len = kLengthBase[ls] + 2u;
      if (kLengthBits[ls]) len += in.bits(kLengthBits[ls]);
      for (; k > 0; --k) oldDist_[k] = oldDist_[k - 1];
      oldDist_[0] = dist;
    } else if (sym == 258) {
      if (lastLength_ == 0) {
        if (in.exhausted()) break;
        continue;
      }
      dist = lastDist_;
      len = lastLength_;
    } else {
      // 256: end of the file or new tables; 257: a filter record. Neither
      // writes anything, so a stream of them must not outlive the input.
      if (in.exhausted()) return in.failure();
      if (sym == 257) {
        out.sync();
        if (Outcome rc = readFilterRecord(in, false, &c)) return rc;
        // The new filter may end before the limit: its block is due first.
        if (!pending_.empty()) {
          const PendingFilter& f = pending_.front();
          if (f.start < entryEnd_) limit = std::min(limit, f.start + f.length);
        }
        continue;
      }
      if (in.bits(1)) {
        Outcome rc = readTables(in);
        if (rc || ppmdBlock_) return rc;
        continue;
      }
      endOfFile_ = true;
      tablesNeeded_ = in.bits(1) != 0;
      return {};
    }
    lastDist_ = dist;
    lastLength_ = len;
    out.match(dist, len);
  }
  return {};
}

Outcome SymbolStage::decodePpmd(BitInput& in, std::uint64_t limit, Chunk& c) {
  ChunkWriter out(c, pos_);
  while (out.position() < limit) {
    int ch = ppmd_.decodeChar(in);
    if (ch < 0) return Failure::PpmdModel;
    if (ch != ppmdEscape_) {
      out.literal(static_cast<std::uint8_t>(ch));
      continue;
    }
    int code = ppmd_.decodeChar(in);
    switch (code) {
      case 0:
        if (Outcome rc = readTables(in)) return rc;
        if (!ppmdBlock_) return {};
        break;
      case 2:
        endOfFile_ = true;
        tablesNeeded_ = true;
        return {};
      case 3:
        if (in.exhausted()) return in.failure();
        out.sync();
        if (Outcome rc = readFilterRecord(in, true, &c)) return rc;
        if (!pending_.empty()) {
          const PendingFilter& f = pending_.front();
          if (f.start < entryEnd_) limit = std::min(limit, f.start + f.length);
        }
        break;
      case 4: {
        std::uint32_t dist = 0;
        for (int i = 0; i < 3; ++i) {
          int b = ppmd_.decodeChar(in);
          if (b < 0) return Failure::PpmdModel;
          dist = dist << 8 | static_cast<std::uint32_t>(b);
        }
        int l = ppmd_.decodeChar(in);
        if (l < 0) return Failure::PpmdModel;
        out.match(dist + 2, static_cast<std::uint32_t>(l) + 32);
        break;
      }
      case 5: {
        int l = ppmd_.decodeChar(in);
        if (l < 0) return Failure::PpmdModel;
        out.match(1, static_cast<std::uint32_t>(l) + 4);
        break;
      }
      case -1:
        return Failure::PpmdModel;
      default:
        out.literal(static_cast<std::uint8_t>(ch));
        break;
    }
    if (in.exhausted()) break;
  }
  return {};
}

Outcome WindowStage::apply(const Chunk& c, Sink& sink) {
  if (c.error) return c.error;
  applyCommands(
      c.commands, c.literals.data(), [this](const std::uint8_t* p, std::size_t n) { put(p, n); },
      [this](auto distance, std::uint32_t length) { copyMatch(distance, length); });
  for (const PendingFilter& f : c.filters) {
    if (f.clears) pending_.clear();
    pending_.push_back(f);
  }
  if (Outcome rc = emitReady(sink)) return rc;
  // Decoded bytes past the entry's end (a damaged stream's last match) are dropped.
  if (c.last) flushed_ = pos_;
  return {};
}

Outcome WindowStage::flushTo(std::uint64_t limit, Sink& sink) {
  while (flushed_ < limit) {
    std::size_t at = flushed_ & mask_;
    std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(limit - flushed_, windowSize_ - at));
    if (int rc = sink.put(window_ + at, n)) return Outcome::passOn(rc);
    flushed_ += n;
  }
  return {};
}

// Writes what is final: decoded bytes up to the next pending filter block or
// the entry's end, and filter blocks that are complete.
Outcome WindowStage::emitReady(Sink& sink) {
  for (;;) {
    std::uint64_t limit = std::min(pos_, entryEnd_);
    if (pending_.empty() || pending_.front().start >= entryEnd_) return flushTo(limit, sink);
    const PendingFilter& f = pending_.front();
    if (Outcome rc = flushTo(std::min(limit, f.start), sink)) return rc;
    if (pos_ < f.start + f.length) return {};
    if (Outcome rc = runFilters(sink)) return rc;
  }
}

Outcome WindowStage::runFilters(Sink& sink) {
  PendingFilter f = pending_.front();
  pending_.pop_front();
  if (f.start < entryStart_) return Failure::FilterLimits;
  if (!vm_) vm_ = std::make_unique<std::uint8_t[]>(rar29::kVmMemorySize + 4);
  std::uint8_t* mem = vm_.get();
  std::size_t at = f.start & mask_;
  std::size_t first = std::min<std::size_t>(f.length, windowSize_ - at);
  std::memcpy(mem, window_ + at, first);
  std::memcpy(mem + first, window_, f.length - first);

  const std::uint64_t fileOffset = f.start - entryStart_;
  rar29::FilterRun out;
  if (!rar29::runFilter(f.kind, f.r, mem, f.length, fileOffset, out)) return Failure::FilterLimits;
  // Filters on the same block run on the previous one's output.
  while (!pending_.empty() && pending_.front().start == f.start &&
         pending_.front().length == out.length) {
    PendingFilter g = pending_.front();
    pending_.pop_front();
    std::memmove(mem, mem + out.start, out.length);
    if (!rar29::runFilter(g.kind, g.r, mem, g.length, fileOffset, out))
      return Failure::FilterLimits;
  }
  if (out.length != f.length || out.start > rar29::kVmMemorySize ||
      out.length > rar29::kVmMemorySize - out.start)
    return Failure::FilterLimits;
  if (!pending_.empty() && pending_.front().start < f.start + f.length)
    return Failure::FilterLimits;
  if (int rc = sink.put(mem + out.start, out.length)) return Outcome::passOn(rc);
  flushed_ = f.start + f.length;
  return {};
}

}  // namespace

std::unique_ptr<Decoder> makeRar29Decoder(bool solidArchive) {
  return std::make_unique<Rar29Decoder>(solidArchive);
}

}  // namespace unrar
