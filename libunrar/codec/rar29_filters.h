// The RAR 2.9 standard filters. A filter record carries bytecode for RAR's
// virtual machine, but archivers only ever write six programs; we recognise
// them by their bytecode and run them natively instead of interpreting it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace unrar::rar29 {

// The filters' working memory; the block to filter starts at its byte 0.
// Callers allocate kVmMemorySize + 4 bytes so that a 32-bit read at the last
// byte stays inside.
constexpr std::size_t kVmMemorySize = 0x40000;

enum class FilterKind { None, E8, E8E9, Itanium, Delta, Rgb, Audio };

// The standard filter that a filter record's bytecode is, or None (also for
// bytecode whose check byte does not match).
FilterKind identifyFilter(const std::uint8_t* code, std::size_t size);

struct FilterRun {
  std::uint32_t start = 0;
  std::uint32_t length = 0;
};

// Runs a standard filter on memory (kVmMemorySize + 4 bytes) holding the
// block at [0, blockLength). `r` are the initial registers as the filter
// record leaves them: r[4] defaults to the block length and r[3], r[5] to the
// global address and the program's use count, the record may override any of
// r[0..6]. As in RAR, the filters take their data length from r[4]; only the
// filters that work in place accept a length up to the whole memory, the
// others need room for their output after the input. `fileOffset` is the
// position of the block's first byte in the entry's unpacked output. Sets
// `out` to where the filtered bytes are in memory (always inside
// kVmMemorySize). False for parameters no encoder writes.
bool runFilter(FilterKind kind, const std::array<std::uint32_t, 7>& r, std::uint8_t* memory,
               std::uint32_t blockLength, std::uint64_t fileOffset, FilterRun& out);

}  // namespace unrar::rar29
