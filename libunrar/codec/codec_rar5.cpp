// RAR 5 decoding (and RAR 7's, which is the same with larger dictionaries and
// a larger distance alphabet). The calling thread reads the packed blocks and
// applies the decoded commands to the window; for a large entry on a machine
// with a second core, a worker thread decodes the symbols of the blocks in
// between, so that Huffman decoding and window, checksums and writing overlap.
#include <algorithm>
#include <system_error>

#include "codec/codec.h"
#include "codec/rar5_lz.h"
#include "codec/stage_worker.h"
#include "core/format_values.h"
#include "unrar.h"

namespace unrar {
namespace {

using namespace rar5lz;

// The window holds at least this much: a whole filter's data waits in it
// while the next chunk is decoded.
constexpr std::uint64_t kMinWindow = kMaxFilterBytes + (2u << 20);
// Blocks read ahead of the worker, and chunks decoded ahead of the window.
constexpr std::size_t kBlocksAhead = 2;
constexpr std::size_t kChunksAhead = 3;

// Decodes one chunk from the block; true when the block is used up.
bool decodeStep(SymbolDecoder& symbols, CodeBlock& b, Chunk& c) {
  if (b.error) {
    c.error = b.error;
    return true;
  }
  if (b.empty) {
    c.empty = true;
    return true;
  }
  try {
    symbols.decode(b, c);
  } catch (const std::bad_alloc&) {
    c.error = Failure::OutOfMemory;
  }
  const bool done = c.error || b.bit >= b.endBit;
  if (done && b.last && !c.error) c.end = true;
  return done;
}

using SymbolWorker = StageWorker<CodeBlock, Chunk, kBlocksAhead + 1, kChunksAhead>;

// The worker side of a threaded entry: blocks in, chunks out, in order.
void decodeBlocks(SymbolDecoder& symbols, SymbolWorker& worker) {
  for (;;) {
    CodeBlock* b = worker.nextBlock();
    if (!b) return;
    bool finished = false;
    do {
      Chunk* c = worker.freeChunk();
      if (!c) return;
      c->clear();
      finished = decodeStep(symbols, *b, *c);
      worker.pushChunk(c);
      if (c->error || c->end || c->empty) return;
    } while (!finished);
    worker.doneBlock(b);
  }
}

// One session serves every entry of an archive. The window's buffer and the
// stages' buffers stay from entry to entry (never larger than the largest
// entry so far needed) and go with the session, when the archive closes.
class Rar5Decoder final : public StreamDecoder {
 private:
  Outcome decodeEntry(const Entry& e, InStream& in, Sink& sink) override {
    if (!started_ || !e.solid) {
      symbols_.reset();
      window_.reset();
      started_ = true;
    }
    if (e.dictBytes > kMaxDictionary) return Failure::DictionaryTooLarge;
    const bool v7 = e.unpVer == kUnpVerRar7 && !(e.rar5CompInfo & rar5::kCompV5Distances);
    const std::uint64_t maxWindow = std::max<std::uint64_t>(e.dictBytes, kMinWindow);
    entryStart_ = window_.position();
    symbols_.configure(v7 ? kDistanceSymbolsV7 : kDistanceSymbols, maxWindow);
    window_.configure(maxWindow, e.unpSizeUnknown ? 0 : entryStart_ + e.unpSize);

    const bool threaded = useWorker(in.remaining());
    Outcome rc = threaded ? decodeThreaded(e, in, sink) : decodeSingle(e, in, sink);
    if (rc) return rc;
    const std::uint64_t produced = window_.position() - entryStart_;
    if (!e.unpSizeUnknown && produced != e.unpSize) return Failure::WrongUnpackedSize;
    // A filter that starts in this entry must end in it.
    if (window_.filterPending(window_.position())) return Failure::FilterLimits;
    return {};
  }

  // Applies one chunk and hands its output on. Returns why it failed, or
  // nothing with `done` set after the stream's last block.
  Outcome consume(const Entry& e, const Chunk& c, Sink& sink, bool& done) {
    if (c.empty) {
      done = true;
      return e.unpSizeUnknown || e.unpSize == 0 ? Outcome() : Failure::TruncatedStream;
    }
    Outcome rc = window_.apply(c);
    if (!rc && !e.unpSizeUnknown && window_.position() - entryStart_ > e.unpSize)
      rc = Failure::WrongUnpackedSize;
    if (!rc) rc = window_.flush(sink, entryStart_);
    if (!rc) rc = c.error;
    done = c.end;
    return rc;
  }

  Outcome decodeSingle(const Entry& e, InStream& in, Sink& sink) {
    bool first = true;
    for (;;) {
      readBlock(in, block_, first);
      first = false;
      for (;;) {
        chunk_.clear();
        const bool used = decodeStep(symbols_, block_, chunk_);
        bool done = false;
        Outcome rc = consume(e, chunk_, sink, done);
        if (rc || done) return rc;
        if (used) break;
      }
    }
  }

  Outcome decodeThreaded(const Entry& e, InStream& in, Sink& sink) {
    std::unique_ptr<SymbolWorker> started;
    try {
      started = std::make_unique<SymbolWorker>(
          pool_, [this](SymbolWorker& w) { decodeBlocks(symbols_, w); });
    } catch (const std::system_error&) {
      // No thread to be had: one will do.
      return decodeSingle(e, in, sink);
    }
    SymbolWorker& worker = *started;
    bool first = true;
    bool allRead = false;
    for (;;) {
      // Reading a block is quick, and the worker must not wait for one while
      // chunks are applied here: every free block is filled first.
      while (!allRead) {
        CodeBlock* b = worker.freeBlock();
        if (!b) break;
        readBlock(in, *b, first);
        first = false;
        allRead = b->error || b->empty || b->last;
        worker.pushBlock(b);
      }
      Chunk* c = worker.popChunk(!allRead);
      if (!c) continue;
      bool done = false;
      Outcome rc = consume(e, *c, sink, done);
      const bool stop = rc || done || c->error || c->end || c->empty;
      worker.recycle(c);
      if (stop) return rc;
    }
  }

  bool started_ = false;
  std::uint64_t entryStart_ = 0;
  SymbolDecoder symbols_;
  Window window_;
  CodeBlock block_;
  Chunk chunk_;
  SymbolWorker::Pool pool_;  // kept from entry to entry
};

}  // namespace

std::unique_ptr<Decoder> makeRar5Decoder(bool) {
  return std::make_unique<Rar5Decoder>();
}

}  // namespace unrar
