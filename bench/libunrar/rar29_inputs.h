// The RAR 2.9 LZ archive of the benchmark: real text and machine code from
// the machine's own files, packed by the test encoder.
#pragma once

#include <cstdint>
#include <string>

namespace bench::rar29 {

// One entry of `size` bytes under a 4 MiB dictionary: the first half text
// (headers, documentation, scripts), the second half machine code (shared libraries). One entry,
// because bsdtar 3.6 misreads the second entry of a non-solid archive after
// some first ones, and refuses solid archives. False when the machine lacks
// the files.
bool writeTextAndCode(const std::string& path, std::uint64_t size);

// One entry of `size` bytes of the same text, packed as PPMd (a 16 MiB model
// of order 6).
bool writePpmdText(const std::string& path, std::uint64_t size);

}  // namespace bench::rar29
