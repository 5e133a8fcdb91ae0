#include "core/crc32.h"

#include <zlib.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace unrar {
namespace {

// Below this the table loop is as fast, and the set-up is not repaid.
constexpr std::size_t kFoldMinimum = 256;

#if defined(__x86_64__)

#define QUILLMOSS_FOLD_TARGET __attribute__((target("pclmul,sse4.1")))

QUILLMOSS_FOLD_TARGET inline __m128i load(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// x carried forward by the distance k stands for, with `next` added in.
QUILLMOSS_FOLD_TARGET inline __m128i fold(__m128i x, __m128i k, __m128i next) {
  const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
  const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
  return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

// Folds four 128-bit lanes over 64 bytes at a time, then the lanes into one;
// n is a multiple of 16 and at least 64. The constants are x^k mod P for the
// fold distances (512 + 32, 512 - 32, 128 + 32, 128 - 32 bits), bit-reflected.
// What is left is congruent to the data with the state added in, so the table
// CRC of its 16 bytes, from a zero state, finishes the job.
QUILLMOSS_FOLD_TARGET std::uint32_t foldPclmul(std::uint32_t crc, const std::uint8_t* p,
                                               std::size_t n) {
  const __m128i fold4 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i fold1 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  // The state (zlib keeps it inverted) is added to the data's first four bytes.
  __m128i x1 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
  __m128i x2 = load(p + 16);
  __m128i x3 = load(p + 32);
  __m128i x4 = load(p + 48);
  p += 64;
  n -= 64;
  for (; n >= 64; p += 64, n -= 64) {
    x1 = fold(x1, fold4, load(p));
    x2 = fold(x2, fold4, load(p + 16));
    x3 = fold(x3, fold4, load(p + 32));
    x4 = fold(x4, fold4, load(p + 48));
  }
  x1 = fold(x1, fold1, x2);
  x1 = fold(x1, fold1, x3);
  x1 = fold(x1, fold1, x4);
  for (; n >= 16; p += 16, n -= 16) x1 = fold(x1, fold1, load(p));
  alignas(16) std::uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x1);
  // A zero state is zlib's 0xFFFFFFFF.
  return static_cast<std::uint32_t>(::crc32_z(0xFFFFFFFFul, rest, sizeof rest));
}

#undef QUILLMOSS_FOLD_TARGET

bool canFold() {
  static const bool available =
      __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  return available;
}

#endif

}  // namespace

std::uint32_t crc32Update(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
#if defined(__x86_64__)
  if (n >= kFoldMinimum && canFold()) {
    const std::size_t folded = n & ~std::size_t{15};
    crc = foldPclmul(crc, p, folded);
    p += folded;
    n -= folded;
  }
#endif
  return static_cast<std::uint32_t>(::crc32_z(crc, p, n));
}

}  // namespace unrar
