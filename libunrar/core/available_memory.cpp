#include "core/available_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace unrar {
namespace {

constexpr std::uint64_t kUnknown = UINT64_MAX;

std::uint64_t memAvailable() {
  std::FILE* f = std::fopen("/proc/meminfo", "re");
  if (!f) return kUnknown;
  std::uint64_t kb = kUnknown;
  char line[256];
  while (std::fgets(line, sizeof line, f)) {
    unsigned long long v = 0;
    if (std::sscanf(line, "MemAvailable: %llu kB", &v) == 1) {
      kb = v;
      break;
    }
  }
  std::fclose(f);
  return kb == kUnknown ? kUnknown : kb * 1024;
}

// What `resource`'s soft limit leaves above `used` bytes.
std::uint64_t headroom(int resource, std::uint64_t used) {
  rlimit rl{};
  if (::getrlimit(resource, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) return kUnknown;
  const auto limit = static_cast<std::uint64_t>(rl.rlim_cur);
  return limit > used ? limit - used : 0;
}

std::uint64_t systemProbe() {
  std::uint64_t available = memAvailable();
  // The whole address space and the data segment (with the stack), in pages.
  unsigned long long size = 0, resident = 0, shared = 0, text = 0, lib = 0, data = 0;
  std::FILE* f = std::fopen("/proc/self/statm", "re");
  if (!f) return available;
  const int n = std::fscanf(f, "%llu %llu %llu %llu %llu %llu", &size, &resident, &shared, &text,
                            &lib, &data);
  std::fclose(f);
  if (n != 6) return available;
  const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
  available = std::min(available, headroom(RLIMIT_AS, size * page));
  return std::min(available, headroom(RLIMIT_DATA, data * page));
}

std::atomic<MemoryProbe> gProbe{systemProbe};

}  // namespace

std::uint64_t availableMemory() {
  return gProbe.load(std::memory_order_relaxed)();
}

void setAvailableMemoryProbe(MemoryProbe probe) {
  gProbe.store(probe ? probe : systemProbe, std::memory_order_relaxed);
}

}  // namespace unrar
