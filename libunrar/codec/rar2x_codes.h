// The match codes that RAR 2.0 and RAR 2.9 streams have in common: the 28
// length slots, the 8 short-distance slots, and RAR 2.0's alphabets and its
// 48 distance slots.
// A slot's value is its base plus as many extra bits as it names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unrar::rar2x {

// RAR 2.0's alphabets: the main code (literals, match and table codes, the
// length slots) and the audio code (byte deltas and the table code).
inline constexpr std::size_t kMainSymbols20 = 298;
inline constexpr std::size_t kAudioSymbols20 = 257;

inline constexpr std::size_t kLengthSlots = 28;
inline constexpr std::uint8_t kLengthBase[kLengthSlots] = {
    0,  1,  2,  3,  4,  5,  6,  7,  8,  10,  12,  14,  16,  20,
    24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr std::uint8_t kLengthBits[kLengthSlots] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

inline constexpr std::uint8_t kShortBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr std::uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

inline constexpr std::size_t kDistSlots20 = 48;
inline constexpr std::uint32_t kDistBase20[kDistSlots20] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
inline constexpr std::uint8_t kDistBits20[kDistSlots20] = {
    0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};

}  // namespace unrar::rar2x
