// The filters both RAR 2.9 and RAR 5 apply to stretches of unpacked output:
// x86 call and jump addresses, and bytes stored as differences.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unrar::filters {

// The span within which the x86 filters count file positions, as a mask:
// RAR 2.9 counts in 32 bits, RAR 5 modulo 16 MiB.
constexpr std::uint32_t kX86PositionsRar29 = 0xFFFFFFFFu;
constexpr std::uint32_t kX86PositionsRar5 = 0x00FFFFFFu;

// x86 CALL (E8) and, with `jumps`, JMP (E9) operands: where the absolute
// target (position + operand) lay in the first 16 MiB, the encoder stored the
// target; operands that would then read as such a target were moved down by
// 16 MiB, so every stored value decodes one way. Undoes that in place on
// data[0, n). `fileOffset`: the file position of data[0]; positions are taken
// through `positionMask`.
void unfilterX86(std::uint8_t* data, std::size_t n, std::uint64_t fileOffset, bool jumps,
                 std::uint32_t positionMask);

// Bytes interleaved in `channels` streams, each stored as negated
// differences: restores n bytes from `in` into `out` (which must not overlap).
void undelta(const std::uint8_t* in, std::uint8_t* out, std::size_t n, std::size_t channels);

}  // namespace unrar::filters
