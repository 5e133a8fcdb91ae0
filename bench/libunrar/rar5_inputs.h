// The RAR 5 compressed archives of the benchmark, made with the test encoder.
// Each is written twice: at `path` with every stream ending at its last block,
// as libarchive wants, and at `unarPath` with a byte after each stream, which
// unar 1.10.1 needs for some (see rar5_encoder.h).
#pragma once

#include <cstdint>
#include <string>

namespace bench::rar5 {

// Three entries of size / 3 bytes each, one stream each, a 32 MiB dictionary
// (within bsdtar's reach): text-like, binary records, and x86 code through E8
// filters.
void writeMixed(const std::string& path, const std::string& unarPath, std::uint64_t size);

// One entry of `size` bytes under a 1 GiB dictionary whose second half repeats
// the first with a few changes, so the window must hold size / 2 bytes.
void writeLargeWindow(const std::string& path, const std::string& unarPath, std::uint64_t size);

// `count` non-solid entries of `entrySize` bytes each under a 32 MiB
// dictionary, text-like and x86 code (through E8 filters) in turn: eight
// different ones, packed once each and repeated.
void writeManyEntries(const std::string& path, const std::string& unarPath, int count,
                      std::uint64_t entrySize);

// One text-like entry of `size` bytes declaring a 64 GiB dictionary (RAR 7).
void writeDeclared64GiB(const std::string& path, const std::string& unarPath, std::uint64_t size);

}  // namespace bench::rar5
