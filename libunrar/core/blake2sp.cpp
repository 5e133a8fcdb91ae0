#include "core/blake2sp.h"

#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace unrar {
namespace {

constexpr std::uint32_t kIv[8] = {0x6A09E667, 0xBB67AE85, 0x3C6EF372, 0xA54FF53A,
                                  0x510E527F, 0x9B05688C, 0x1F83D9AB, 0x5BE0CD19};
constexpr std::uint8_t kSigma[10][16] = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15},
                                         {14, 10, 4, 8, 9, 15, 13, 6, 1, 12, 0, 2, 11, 7, 5, 3},
                                         {11, 8, 12, 0, 5, 2, 15, 13, 10, 14, 3, 6, 7, 1, 9, 4},
                                         {7, 9, 3, 1, 13, 12, 11, 14, 2, 6, 5, 10, 4, 0, 15, 8},
                                         {9, 0, 5, 7, 2, 4, 10, 15, 14, 1, 11, 12, 6, 8, 3, 13},
                                         {2, 12, 6, 10, 0, 11, 8, 3, 4, 13, 7, 5, 15, 14, 1, 9},
                                         {12, 5, 1, 15, 14, 13, 4, 10, 0, 7, 6, 3, 9, 2, 8, 11},
                                         {13, 11, 7, 14, 12, 1, 3, 9, 5, 0, 15, 4, 8, 6, 2, 10},
                                         {6, 15, 14, 9, 11, 3, 0, 8, 12, 2, 13, 7, 1, 4, 10, 5},
                                         {10, 2, 8, 4, 7, 6, 1, 5, 15, 11, 9, 14, 3, 12, 13, 0}};
// Which state words each of a round's eight mixes takes.
constexpr std::uint8_t kMix[8][4] = {{0, 4, 8, 12},  {1, 5, 9, 13},  {2, 6, 10, 14}, {3, 7, 11, 15},
                                     {0, 5, 10, 15}, {1, 6, 11, 12}, {2, 7, 8, 13},  {3, 4, 9, 14}};

std::uint32_t load32(const std::uint8_t* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;  // little-endian machines only, as the rest of the library
}

std::uint32_t rotr(std::uint32_t x, int n) {
  return (x >> n) | (x << (32 - n));
}

// One BLAKE2s compression of one leaf: h is h_[..][leaf], strided.
void compressLeaf(std::uint32_t (&h)[8][Blake2sp::kLeaves], std::size_t leaf,
                  const std::uint8_t* block, std::uint64_t counter, bool last, bool lastNode) {
  std::uint32_t m[16], v[16];
  for (int j = 0; j < 16; ++j) m[j] = load32(block + 4 * j);
  for (int j = 0; j < 8; ++j) {
    v[j] = h[j][leaf];
    v[j + 8] = kIv[j];
  }
  v[12] ^= static_cast<std::uint32_t>(counter);
  v[13] ^= static_cast<std::uint32_t>(counter >> 32);
  if (last) v[14] = ~v[14];
  if (lastNode) v[15] = ~v[15];
  for (const auto& s : kSigma) {
    for (int g = 0; g < 8; ++g) {
      std::uint32_t &a = v[kMix[g][0]], &b = v[kMix[g][1]], &c = v[kMix[g][2]], &d = v[kMix[g][3]];
      a += b + m[s[2 * g]];
      d = rotr(d ^ a, 16);
      c += d;
      b = rotr(b ^ c, 12);
      a += b + m[s[2 * g + 1]];
      d = rotr(d ^ a, 8);
      c += d;
      b = rotr(b ^ c, 7);
    }
  }
  for (int j = 0; j < 8; ++j) h[j][leaf] ^= v[j] ^ v[j + 8];
}

#if defined(__x86_64__)

#define QUILLMOSS_AVX2 __attribute__((target("avx2")))

QUILLMOSS_AVX2 inline __m256i rotr12(__m256i x) {
  return _mm256_or_si256(_mm256_srli_epi32(x, 12), _mm256_slli_epi32(x, 20));
}
QUILLMOSS_AVX2 inline __m256i rotr7(__m256i x) {
  return _mm256_or_si256(_mm256_srli_epi32(x, 7), _mm256_slli_epi32(x, 25));
}

// Eight rows of eight words turned into eight columns: out[j] lane i is in[i] word j.
QUILLMOSS_AVX2 inline void transpose(const __m256i (&in)[8], __m256i* out) {
  __m256i t[8], u[8];
  for (int k = 0; k < 4; ++k) {
    t[2 * k] = _mm256_unpacklo_epi32(in[2 * k], in[2 * k + 1]);
    t[2 * k + 1] = _mm256_unpackhi_epi32(in[2 * k], in[2 * k + 1]);
  }
  for (int k = 0; k < 2; ++k) {
    u[4 * k] = _mm256_unpacklo_epi64(t[4 * k], t[4 * k + 2]);
    u[4 * k + 1] = _mm256_unpackhi_epi64(t[4 * k], t[4 * k + 2]);
    u[4 * k + 2] = _mm256_unpacklo_epi64(t[4 * k + 1], t[4 * k + 3]);
    u[4 * k + 3] = _mm256_unpackhi_epi64(t[4 * k + 1], t[4 * k + 3]);
  }
  for (int k = 0; k < 4; ++k) {
    out[k] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x20);
    out[k + 4] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x31);
  }
}

// Whole stripes into all eight leaves at once: lane i of each register is
// leaf i, and lane i of message word j is word j of leaf i's block.
QUILLMOSS_AVX2 void compressStripesAvx2(std::uint32_t (&h)[8][Blake2sp::kLeaves],
                                        std::uint64_t& counter, const std::uint8_t* p,
                                        std::size_t stripes) {
  const __m256i rot16 = _mm256_setr_epi8(2, 3, 0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13, 2, 3,
                                         0, 1, 6, 7, 4, 5, 10, 11, 8, 9, 14, 15, 12, 13);
  const __m256i rot8 = _mm256_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12, 1, 2,
                                        3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12);
  __m256i hv[8];
  for (int j = 0; j < 8; ++j) hv[j] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(h[j]));
  for (; stripes; --stripes, p += Blake2sp::kStripe) {
    counter += Blake2sp::kBlock;
    __m256i m[16];
    for (int half = 0; half < 2; ++half) {
      __m256i rows[8];
      for (std::size_t i = 0; i < Blake2sp::kLeaves; ++i)
        rows[i] = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(p + i * Blake2sp::kBlock + 32 * half));
      transpose(rows, m + 8 * half);
    }
    __m256i v[16];
    for (int j = 0; j < 8; ++j) {
      v[j] = hv[j];
      v[j + 8] = _mm256_set1_epi32(static_cast<int>(kIv[j]));
    }
    v[12] = _mm256_set1_epi32(static_cast<int>(kIv[4] ^ static_cast<std::uint32_t>(counter)));
    v[13] = _mm256_set1_epi32(static_cast<int>(kIv[5] ^ static_cast<std::uint32_t>(counter >> 32)));
    for (const auto& s : kSigma) {
      for (int g = 0; g < 8; ++g) {
        __m256i &a = v[kMix[g][0]], &b = v[kMix[g][1]], &c = v[kMix[g][2]], &d = v[kMix[g][3]];
        a = _mm256_add_epi32(_mm256_add_epi32(a, b), m[s[2 * g]]);
        d = _mm256_shuffle_epi8(_mm256_xor_si256(d, a), rot16);
        c = _mm256_add_epi32(c, d);
        b = rotr12(_mm256_xor_si256(b, c));
        a = _mm256_add_epi32(_mm256_add_epi32(a, b), m[s[2 * g + 1]]);
        d = _mm256_shuffle_epi8(_mm256_xor_si256(d, a), rot8);
        c = _mm256_add_epi32(c, d);
        b = rotr7(_mm256_xor_si256(b, c));
      }
    }
    for (int j = 0; j < 8; ++j) hv[j] = _mm256_xor_si256(hv[j], _mm256_xor_si256(v[j], v[j + 8]));
  }
  for (int j = 0; j < 8; ++j) _mm256_storeu_si256(reinterpret_cast<__m256i*>(h[j]), hv[j]);
}

#undef QUILLMOSS_AVX2

bool haveAvx2() {
  static const bool available = __builtin_cpu_supports("avx2");
  return available;
}

#endif

void compressStripes(std::uint32_t (&h)[8][Blake2sp::kLeaves], std::uint64_t& counter,
                     const std::uint8_t* p, std::size_t stripes) {
#if defined(__x86_64__)
  if (haveAvx2()) return compressStripesAvx2(h, counter, p, stripes);
#endif
  for (; stripes; --stripes, p += Blake2sp::kStripe) {
    counter += Blake2sp::kBlock;
    for (std::size_t i = 0; i < Blake2sp::kLeaves; ++i)
      compressLeaf(h, i, p + i * Blake2sp::kBlock, counter, false, false);
  }
}

// A node of the two-level tree: a leaf (depth 0) or the root (depth 1).
void initNode(blake2s_state& s, std::size_t offset, std::uint8_t nodeDepth, bool last) {
  blake2s_param p;
  std::memset(&p, 0, sizeof p);
  p.digest_length = Blake2sp::kDigest;
  p.fanout = Blake2sp::kLeaves;
  p.depth = 2;
  p.node_offset[0] = static_cast<std::uint8_t>(offset);
  p.node_depth = nodeDepth;
  p.inner_length = Blake2sp::kDigest;
  blake2s_init_param(&s, &p);
  s.last_node = last ? 1 : 0;
}

}  // namespace

Blake2sp::Blake2sp() {
  for (std::size_t i = 0; i < kLeaves; ++i) {
    blake2s_state leaf;
    initNode(leaf, i, 0, i == kLeaves - 1);
    for (int j = 0; j < 8; ++j) h_[j][i] = leaf.h[j];
  }
  initNode(root_, 0, 1, true);
}

void Blake2sp::update(const std::uint8_t* p, std::size_t n) {
  // The stripes that more than seven blocks follow, pending ones first.
  const std::size_t total = buffered_ + n;
  std::size_t stripes = total > kStripe + kHeldBack ? (total - kHeldBack - 1) / kStripe : 0;
  while (stripes && buffered_) {
    if (buffered_ < kStripe) {
      const std::size_t k = kStripe - buffered_;
      std::memcpy(pending_.data() + buffered_, p, k);
      buffered_ += k;
      p += k;
      n -= k;
    }
    compressStripes(h_, compressed_, pending_.data(), 1);
    buffered_ -= kStripe;
    std::memmove(pending_.data(), pending_.data() + kStripe, buffered_);
    --stripes;
  }
  compressStripes(h_, compressed_, p, stripes);
  p += stripes * kStripe;
  n -= stripes * kStripe;
  std::memcpy(pending_.data() + buffered_, p, n);
  buffered_ += n;
}

std::array<std::uint8_t, Blake2sp::kDigest> Blake2sp::digest() {
  // Each leaf's blocks still pending, every one but its last compressed
  // plainly; the last, padded with zeros, marked as the last (and the eighth
  // leaf as the last node). An empty leaf compresses one empty block.
  for (std::size_t i = 0; i < kLeaves; ++i) {
    std::uint64_t counter = compressed_;
    std::size_t at = i * kBlock;
    std::array<std::uint8_t, kBlock> block{};
    for (;;) {
      const std::size_t take = at < buffered_ ? std::min(kBlock, buffered_ - at) : 0;
      const bool last = at + kStripe >= buffered_;
      block.fill(0);
      if (take) std::memcpy(block.data(), pending_.data() + at, take);
      counter += take;
      compressLeaf(h_, i, block.data(), counter, last, last && i == kLeaves - 1);
      if (last) break;
      at += kStripe;
    }
    std::array<std::uint8_t, kDigest> leaf{};
    for (int j = 0; j < 8; ++j) std::memcpy(leaf.data() + 4 * j, &h_[j][i], 4);
    blake2s_update(&root_, leaf.data(), leaf.size());
  }
  std::array<std::uint8_t, kDigest> out{};
  blake2s_final(&root_, out.data(), out.size());
  return out;
}

}  // namespace unrar
