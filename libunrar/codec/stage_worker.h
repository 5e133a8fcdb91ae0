// The two-thread split the LZ decoders share: the calling thread reads the
// packed data into blocks and applies the decoded chunks to the window (so
// that every read of the archive and every write happens on it); a worker
// thread turns blocks into chunks in between. Either side waits only for the
// other: the pools bound the memory, and the worker is the only extra thread.
#pragma once

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace unrar {

// What each stage writes as it goes starts on a cache line (and its prefetch
// pair) of its own: with the stages on two threads, state of one sharing a
// line with state of the other doubles the window stage's time.
inline constexpr std::size_t kStageAlign = 128;

// Whether an entry with `packed` bytes of packed data decodes on two threads:
// on a machine with a second core, from a size that pays for the thread.
// QUILLMOSS_UNRAR_THREADS=1 keeps every entry on one thread, 2 gives every
// entry the worker however small (for tests comparing the two).
bool useWorker(std::uint64_t packed);

// The blocks and chunks passed between the stages. A session keeps them
// from entry to entry: the next entry reuses their buffers instead of
// faulting fresh pages in.
template <typename Block, typename Chunk, std::size_t kBlocks, std::size_t kChunks>
struct StagePool {
  std::array<Block, kBlocks> blocks;
  std::array<Chunk, kChunks> chunks;
};

// Blocks in, chunks out, in order, through the pool's buffers. `Work` is
// called once on the worker thread and produces chunks until the stream is
// done; it gets its blocks from nextBlock and hands them back with doneBlock.
template <typename Block, typename Chunk, std::size_t kBlocks, std::size_t kChunks>
class StageWorker {
 public:
  using Pool = StagePool<Block, Chunk, kBlocks, kChunks>;

  template <typename Work>
  StageWorker(Pool& pool, Work work) {
    for (auto& b : pool.blocks) freeBlocks_.push_back(&b);
    for (auto& c : pool.chunks) freeChunks_.push_back(&c);
    thread_ = std::thread([this, work]() mutable { work(*this); });
  }
  ~StageWorker() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  StageWorker(const StageWorker&) = delete;
  StageWorker& operator=(const StageWorker&) = delete;

  // Calling thread. A free block to read into, or null when enough are waiting.
  Block* freeBlock() { return take(freeBlocks_, false); }
  void pushBlock(Block* b) { give(blocks_, b); }
  // The next decoded chunk once it is ready; null as soon as a block is free
  // when `fillable` (the caller reads it, then asks again), so that the
  // worker never waits for input while this thread waits for it.
  Chunk* popChunk(bool fillable) {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return !chunks_.empty() || (fillable && !freeBlocks_.empty()); });
    if (chunks_.empty()) return nullptr;
    Chunk* c = chunks_.front();
    chunks_.pop_front();
    return c;
  }
  void recycle(Chunk* c) { give(freeChunks_, c); }

  // Worker thread. The next block or free chunk; null when told to stop.
  Block* nextBlock() { return take(blocks_, true); }
  void doneBlock(Block* b) { give(freeBlocks_, b); }
  Chunk* freeChunk() { return take(freeChunks_, true); }
  void pushChunk(Chunk* c) { give(chunks_, c); }

 private:
  template <typename T>
  void give(std::deque<T*>& q, T* item) {
    {
      std::lock_guard<std::mutex> lock(m_);
      q.push_back(item);
    }
    cv_.notify_all();
  }
  // The queue's first item; null when it is empty and `wait` is false, or
  // when the worker is told to stop.
  template <typename T>
  T* take(std::deque<T*>& q, bool wait) {
    std::unique_lock<std::mutex> lock(m_);
    if (wait) cv_.wait(lock, [&] { return stop_ || !q.empty(); });
    if (q.empty() || stop_) return nullptr;
    T* item = q.front();
    q.pop_front();
    return item;
  }

  std::mutex m_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::deque<Block*> freeBlocks_, blocks_;
  std::deque<Chunk*> freeChunks_, chunks_;
  std::thread thread_;
};

}  // namespace unrar
