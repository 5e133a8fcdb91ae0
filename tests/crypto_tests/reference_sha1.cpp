#include "reference_sha1.h"

#include <cstring>

namespace refsha1 {
namespace {

std::uint32_t rol(std::uint32_t v, int n) {
  return (v << n) | (v >> (32 - n));
}

struct Context {
  std::uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  std::uint64_t count = 0;  // bytes
  std::uint8_t buffer[64] = {};
};

// Hashes one block. The schedule lives in the 16 words of the block itself, as
// in the classic implementation, so the block ends up holding W[64..79].
void transform(std::uint32_t state[5], std::uint8_t* block) {
  std::uint32_t w[16];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
           std::uint32_t{block[4 * i + 2]} << 8 | block[4 * i + 3];
  std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int t = 0; t < 80; ++t) {
    if (t >= 16)
      w[t & 15] = rol(w[(t + 13) & 15] ^ w[(t + 8) & 15] ^ w[(t + 2) & 15] ^ w[t & 15], 1);
    std::uint32_t f, k;
    if (t < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (t < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (t < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    std::uint32_t tmp = rol(a, 5) + f + e + k + w[t & 15];
    e = d;
    d = c;
    c = rol(b, 30);
    b = a;
    a = tmp;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  // The workspace was the block: native (little-endian) words.
  std::memcpy(block, w, 64);
}

void update(Context& ctx, std::uint8_t* data, std::size_t len, bool writeBack) {
  std::size_t j = ctx.count % 64;
  ctx.count += len;
  std::size_t i = 0;
  if (j + len > 63) {
    i = 64 - j;
    std::memcpy(ctx.buffer + j, data, i);
    transform(ctx.state, ctx.buffer);
    for (; i + 63 < len; i += 64) {
      if (writeBack) {
        transform(ctx.state, data + i);
      } else {
        std::uint8_t copy[64];
        std::memcpy(copy, data + i, 64);
        transform(ctx.state, copy);
      }
    }
    j = 0;
  }
  std::memcpy(ctx.buffer + j, data + i, len - i);
}

std::array<std::uint8_t, 20> finish(Context ctx) {
  std::uint64_t bits = ctx.count * 8;
  std::uint8_t pad[72] = {0x80};
  std::size_t padLen = (ctx.count % 64 < 56) ? 56 - ctx.count % 64 : 120 - ctx.count % 64;
  for (int i = 0; i < 8; ++i) pad[padLen + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
  update(ctx, pad, padLen + 8, false);
  std::array<std::uint8_t, 20> out{};
  for (int i = 0; i < 20; ++i)
    out[i] = static_cast<std::uint8_t>(ctx.state[i / 4] >> (24 - 8 * (i % 4)));
  return out;
}

}  // namespace

std::array<std::uint8_t, 20> sha1(const std::string& data) {
  Context ctx;
  std::string copy = data;
  update(ctx, reinterpret_cast<std::uint8_t*>(copy.data()), copy.size(), false);
  return finish(ctx);
}

Result deriveRar3(std::string input, bool writeBack) {
  Result r;
  Context ctx;
  auto* d = reinterpret_cast<std::uint8_t*>(input.data());
  for (std::uint32_t i = 0; i < 0x40000; ++i) {
    update(ctx, d, input.size(), writeBack);
    std::uint8_t counter[3] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                               static_cast<std::uint8_t>(i >> 16)};
    update(ctx, counter, 3, writeBack);
    if (i % 0x4000 == 0) r.iv[i / 0x4000] = finish(ctx)[19];
  }
  std::array<std::uint8_t, 20> digest = finish(ctx);
  for (int w = 0; w < 4; ++w)
    for (int b = 0; b < 4; ++b) r.key[4 * w + b] = digest[4 * w + 3 - b];
  return r;
}

}  // namespace refsha1
