// How much more memory this process can be given. On Linux an allocation
// beyond it usually succeeds (memory is overcommitted) and the process is
// killed later, when the pages are touched; a decoder asks here before a
// large window grows and fails the entry instead.
#pragma once

#include <cstdint>

namespace unrar {

// The least of: the system's MemAvailable, and what RLIMIT_AS and RLIMIT_DATA
// (where set) leave above what the process already uses. UINT64_MAX where
// none of them can be read.
std::uint64_t availableMemory();

// Replaces the probe behind availableMemory (null: the system's again), so
// that tests do not depend on the machine's memory.
using MemoryProbe = std::uint64_t (*)();
void setAvailableMemoryProbe(MemoryProbe probe);

}  // namespace unrar
