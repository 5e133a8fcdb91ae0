#include "codec/stage_worker.h"

#include <algorithm>
#include <cstdlib>

#include "codec/codec.h"

namespace unrar {
namespace {

// Entries with less packed data than this decode on one thread.
constexpr std::uint64_t kThreadedMinPacked = 512u << 10;

// Decided once, from the machine's cores and QUILLMOSS_UNRAR_THREADS.
struct Threading {
  unsigned threads = 0;  // 0: not decided yet
  std::uint64_t minPacked = kThreadedMinPacked;
};
std::mutex gThreadingMutex;
Threading gThreading;

}  // namespace

bool useWorker(std::uint64_t packed) {
  std::lock_guard<std::mutex> lock(gThreadingMutex);
  if (gThreading.threads == 0) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    gThreading.threads = std::min(2u, cores);
    if (const char* env = std::getenv("QUILLMOSS_UNRAR_THREADS")) {
      const long v = std::strtol(env, nullptr, 10);
      if (v == 1) gThreading.threads = 1;
      if (v >= 2) gThreading.minPacked = 0;
    }
  }
  return gThreading.threads > 1 && packed >= gThreading.minPacked;
}

void setLzThreading(unsigned threads, std::uint64_t minPacked) {
  std::lock_guard<std::mutex> lock(gThreadingMutex);
  if (threads == 0) {
    gThreading = Threading{};
    return;
  }
  gThreading.threads = std::min(threads, 2u);
  gThreading.minPacked = minPacked;
}

}  // namespace unrar
