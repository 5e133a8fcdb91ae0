// CRC-32 of the data, the check RAR 4 and RAR 5 entries carry: the same values
// as zlib's crc32(), at memory speed where the processor can multiply
// carry-less (PCLMULQDQ), so a stored entry costs its copy and little more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unrar {

// The CRC-32 of the bytes before (`crc`, 0 for none) continued over p[0, n).
std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* p, std::size_t n);

}  // namespace unrar
