// The RAR 2.9 LZ archive of the benchmark: real text and machine code from
// the machine's own files, packed by the test encoder.
#pragma once

#include <cstdint>
#include <string>

namespace bench::rar29 {

// `entries` non-solid entries of `entrySize` bytes each: the first half text
// (C headers), the second half machine code (shared libraries), under a
// 4 MiB dictionary. False when the machine lacks the files.
bool writeTextAndCode(const std::string& path, int entries, std::uint64_t entrySize);

}  // namespace bench::rar29
