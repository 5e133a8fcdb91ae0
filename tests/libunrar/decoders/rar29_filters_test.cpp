// The RAR 2.9 standard filters: each forward transform as an encoder applies
// it, then runFilter must give back the original bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "codec/rar29_filters.h"

using namespace unrar::rar29;

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t get32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Result {
  bool ok = false;
  Bytes out;
};

// Runs the filter the way the decoder does: the block at the start of a
// memory whose rest holds leftovers of earlier filters.
Result run(FilterKind kind, const Bytes& block, std::uint64_t fileOffset, std::uint32_t r0 = 0,
           std::uint32_t r1 = 0) {
  std::vector<std::uint8_t> memory(kVmMemorySize + 4, 0xA5);
  std::copy(block.begin(), block.end(), memory.begin());
  const auto length = static_cast<std::uint32_t>(block.size());
  const std::array<std::uint32_t, 7> r = {r0, r1, 0, 0x3C000, length, 0, 0};
  FilterRun where;
  Result res;
  res.ok = runFilter(kind, r, memory.data(), length, fileOffset, where);
  if (res.ok) {
    EXPECT_LE(std::size_t{where.start} + where.length, kVmMemorySize);
    res.out.assign(memory.begin() + where.start, memory.begin() + where.start + where.length);
  }
  return res;
}

// x86 code: mostly CALL/JMP opcodes with operands that reach into every range
// the transform treats differently.
Bytes x86Like(std::size_t n, std::mt19937& rng) {
  Bytes b(n);
  for (std::size_t i = 0; i < n;) {
    const unsigned pick = rng() % 8;
    if (pick < 3) {
      b[i++] = pick == 0 ? 0xE9 : 0xE8;
    } else if (pick < 6 && i + 4 <= n) {
      static constexpr std::uint32_t kEdges[] = {0,          1,          0xFFFFFF,   0x1000000,
                                                 0xFFFFFFFF, 0xFF000000, 0x7FFFFFFF, 0x80000000};
      const std::uint32_t v = pick == 3   ? kEdges[rng() % 8]
                              : pick == 4 ? rng() % 0x1000000
                                          : 0u - rng() % 0x2000000;
      put32(&b[i], v);
      i += 4;
    } else {
      b[i++] = static_cast<std::uint8_t>(rng());
    }
  }
  return b;
}

// The encoder's side of E8/E8E9: relative operands inside the image become
// absolute. Positions count in 32 bits, as the decoder's do.
Bytes encodeE8(Bytes b, std::uint64_t fileOffset, bool alsoE9) {
  constexpr std::uint32_t kImage = 0x1000000;
  for (std::size_t i = 0; i + 5 <= b.size(); ++i) {
    if (b[i] != 0xE8 && !(alsoE9 && b[i] == 0xE9)) continue;
    const auto pos = static_cast<std::uint32_t>(fileOffset + i + 1);
    const std::uint32_t rel = get32(&b[i + 1]);
    if (rel + pos < kImage)
      put32(&b[i + 1], rel + pos);
    else if (rel - (kImage - pos) < pos)  // rel in [image - pos, image)
      put32(&b[i + 1], rel - kImage);
    i += 4;
  }
  return b;
}

TEST(Rar29Filters, E8AndE8E9UndoTheEncoderAtEveryOffset) {
  std::mt19937 rng(29);
  const std::size_t sizes[] = {0, 4, 5, 6, 9, 1000, 0x10000, kVmMemorySize};
  // Offsets around the 16 MiB image edge, where operands change branch.
  const std::uint64_t offsets[] = {0, 1, 0xFFFFFF - 2000, 0x1000000 - 3, 0x1000000 + 7, 0x7F000000};
  for (FilterKind kind : {FilterKind::E8, FilterKind::E8E9}) {
    for (std::size_t n : sizes) {
      for (std::uint64_t off : offsets) {
        SCOPED_TRACE(testing::Message()
                     << "kind " << static_cast<int>(kind) << " size " << n << " offset " << off);
        const Bytes original = x86Like(n, rng);
        const Bytes packed = encodeE8(original, off, kind == FilterKind::E8E9);
        if (n >= 1000) {
          ASSERT_NE(packed, original);
        }
        const Result r = run(kind, packed, off);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.out, original);
      }
    }
  }
}

// Bundles whose template has branch slots carry an IP-relative 20-bit
// target, made absolute in bundles by the encoder.
Bytes encodeItanium(Bytes b, std::uint64_t fileOffset) {
  static constexpr std::uint8_t kBranchSlots[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
  auto bits = [&](std::size_t at, unsigned pos, unsigned count) {
    std::uint64_t v = 0;
    for (unsigned k = 0; k < count; ++k) {
      const unsigned p = pos + k;
      v |= std::uint64_t{(b[at + p / 8] >> (p % 8)) & 1u} << k;
    }
    return static_cast<std::uint32_t>(v);
  };
  auto setBits = [&](std::size_t at, unsigned pos, unsigned count, std::uint32_t v) {
    for (unsigned k = 0; k < count; ++k) {
      const unsigned p = pos + k;
      const auto mask = static_cast<std::uint8_t>(1u << (p % 8));
      b[at + p / 8] =
          static_cast<std::uint8_t>(((v >> k) & 1u) ? b[at + p / 8] | mask : b[at + p / 8] & ~mask);
    }
  };
  const std::size_t n = b.size();
  if (n <= 21) return b;
  auto bundle = static_cast<std::uint32_t>(fileOffset) >> 4;
  // The first bundle needs 22 bytes, every later one 21 from its start.
  for (std::size_t at = 0; at == 0 || at + 21 <= n; at += 16, ++bundle) {
    const int tmpl = (b[at] & 0x1F) - 0x10;
    if (tmpl < 0) continue;
    for (unsigned s = 0; s < 3; ++s) {
      if (!(kBranchSlots[tmpl] & (1u << s)) || bits(at, s * 41 + 42, 4) != 5) continue;
      setBits(at, s * 41 + 18, 20, (bits(at, s * 41 + 18, 20) + bundle) & 0xFFFFF);
    }
  }
  return b;
}

TEST(Rar29Filters, ItaniumUndoesTheEncoderOnEveryBundleTheProgramReaches) {
  std::mt19937 rng(64);
  const std::size_t sizes[] = {21, 22, 37, 38, 53, 16 * 500 + 5, kVmMemorySize};
  const std::uint64_t offsets[] = {0, 16 * 0xFFFF0, 0x1000008, 0x123456789};
  for (std::size_t n : sizes) {
    for (std::uint64_t off : offsets) {
      SCOPED_TRACE(testing::Message() << "size " << n << " offset " << off);
      Bytes original(n);
      for (auto& c : original) c = static_cast<std::uint8_t>(rng());
      const Bytes packed = encodeItanium(original, off);
      if (n >= 1000) {
        ASSERT_NE(packed, original);
      }
      const Result r = run(FilterKind::Itanium, packed, off);
      ASSERT_TRUE(r.ok);
      ASSERT_EQ(r.out, original);
    }
  }
}

TEST(Rar29Filters, DeltaRestoresEveryChannelCount) {
  std::mt19937 rng(7);
  for (std::uint32_t channels : {1u, 2u, 3u, 4u, 5u, 16u, 40u}) {
    for (std::size_t n : {std::size_t{1}, std::size_t{7}, std::size_t{1000}, kVmMemorySize / 2}) {
      SCOPED_TRACE(testing::Message() << "channels " << channels << " size " << n);
      Bytes original(n);
      for (auto& c : original) c = static_cast<std::uint8_t>(rng() % 16 + 100);
      Bytes packed;
      for (std::uint32_t c = 0; c < channels; ++c) {
        std::uint8_t prev = 0;
        for (std::size_t i = c; i < n; i += channels) {
          packed.push_back(static_cast<std::uint8_t>(prev - original[i]));
          prev = original[i];
        }
      }
      const Result r = run(FilterKind::Delta, packed, 0, channels);
      ASSERT_TRUE(r.ok);
      ASSERT_EQ(r.out, original);
    }
  }
}

// Pixels: each plane predicted from left, upper and upper-left after green
// was subtracted from red and blue.
Bytes encodeRgb(const Bytes& pixels, std::uint32_t stride, std::uint32_t posR) {
  Bytes y = pixels;
  const std::size_t n = y.size();
  for (std::size_t i = posR; i + 2 < n; i += 3) {
    y[i] = static_cast<std::uint8_t>(y[i] - y[i + 1]);
    y[i + 2] = static_cast<std::uint8_t>(y[i + 2] - y[i + 1]);
  }
  Bytes packed;
  for (std::size_t c = 0; c < 3; ++c) {
    int pred = 0;
    for (std::size_t i = c; i < n; i += 3) {
      if (i >= stride) {
        const int upperLeft = y[i - stride];
        const int upper = y[i - stride + 3];
        const int da = std::abs(upper - upperLeft);
        const int db = std::abs(pred - upperLeft);
        const int dc = std::abs(upper - upperLeft + pred - upperLeft);
        if (da > db || da > dc) pred = db <= dc ? upper : upperLeft;
      }
      packed.push_back(static_cast<std::uint8_t>(pred - y[i]));
      pred = y[i];
    }
  }
  return packed;
}

TEST(Rar29Filters, RgbRestoresImagesOfOddAndEvenWidths) {
  std::mt19937 rng(24);
  // Row strides in bytes, for images 1 to 640 pixels wide. The planes are
  // decoded one after the other, so only whole-pixel strides predict from
  // bytes already decoded; that is what encoders write.
  for (std::uint32_t stride : {6u, 3u * 7, 3u * 8, 3u * 101, 3u * 640}) {
    for (std::uint32_t posR : {0u, 1u, 2u}) {
      for (std::size_t n : {std::size_t{3u * 640}, std::size_t{30001}, kVmMemorySize / 2}) {
        if (stride > n) continue;
        SCOPED_TRACE(testing::Message()
                     << "stride " << stride << " posR " << posR << " size " << n);
        Bytes pixels(n);
        std::uint8_t v = 128;
        for (auto& c : pixels) c = v = static_cast<std::uint8_t>(v + rng() % 9 - 4);
        const Result r = run(FilterKind::Rgb, encodeRgb(pixels, stride, posR), 0, stride, posR);
        ASSERT_TRUE(r.ok);
        ASSERT_EQ(r.out, pixels);
      }
    }
  }
}

// The encoder runs the decoder's adaptive predictor and stores the
// difference between prediction and sample.
Bytes encodeAudio(const Bytes& samples, std::uint32_t channels) {
  Bytes packed;
  for (std::uint32_t c = 0; c < channels; ++c) {
    int weight[3] = {0, 0, 0}, delta[3] = {0, 0, 0}, lastDelta = 0, last = 0;
    long error[7] = {};
    for (std::size_t i = c, count = 0; i < samples.size(); i += channels, ++count) {
      delta[2] = delta[1];
      delta[1] = lastDelta - delta[0];
      delta[0] = lastDelta;
      const int predicted =
          (8 * last + weight[0] * delta[0] + weight[1] * delta[1] + weight[2] * delta[2]) >> 3;
      const auto d = static_cast<std::int8_t>(predicted - samples[i]);
      packed.push_back(static_cast<std::uint8_t>(d));
      const int e = d * 8;
      const int candidates[7] = {
          e, e - delta[0], e + delta[0], e - delta[1], e + delta[1], e - delta[2], e + delta[2]};
      for (int k = 0; k < 7; ++k) error[k] += std::abs(candidates[k]);
      lastDelta = static_cast<std::int8_t>(samples[i] - last);
      last = samples[i];
      if (count % 32 == 0) {
        int best = 0;
        for (int k = 1; k < 7; ++k)
          if (error[k] < error[best]) best = k;
        for (long& x : error) x = 0;
        if (best > 0) {
          int& w = weight[(best - 1) / 2];
          if (best % 2 == 1 && w >= -16) --w;
          if (best % 2 == 0 && w < 16) ++w;
        }
      }
    }
  }
  return packed;
}

TEST(Rar29Filters, AudioRestoresOneToManyChannels) {
  std::mt19937 rng(44);
  for (std::uint32_t channels : {1u, 2u, 3u, 4u, 7u, 254u}) {
    for (std::size_t n : {std::size_t{1}, std::size_t{33}, std::size_t{5000}, kVmMemorySize / 2}) {
      SCOPED_TRACE(testing::Message() << "channels " << channels << " size " << n);
      // Sine-like waves with noise, so the weights move both ways.
      Bytes samples(n);
      for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i / channels) / (8.0 + (i % channels));
        samples[i] = static_cast<std::uint8_t>(128 + 100 * std::sin(t) + rng() % 7);
      }
      const Result r = run(FilterKind::Audio, encodeAudio(samples, channels), 0, channels);
      ASSERT_TRUE(r.ok);
      ASSERT_EQ(r.out, samples);
    }
  }
}

TEST(Rar29Filters, RefusesParametersNoEncoderWrites) {
  struct Case {
    const char* what;
    FilterKind kind;
    std::size_t length;
    std::uint32_t r0, r1;
  };
  const Case cases[] = {
      {"no filter", FilterKind::None, 100, 0, 0},
      {"delta without channels", FilterKind::Delta, 100, 0, 0},
      {"delta output past the memory", FilterKind::Delta, kVmMemorySize / 2 + 1, 2, 0},
      {"audio without channels", FilterKind::Audio, 100, 0, 0},
      {"audio channels whose state overruns the memory", FilterKind::Audio, 1000, 255, 0},
      {"audio output past the memory", FilterKind::Audio, kVmMemorySize / 2 + 1, 1, 0},
      {"rgb row narrower than a pixel", FilterKind::Rgb, 300, 2, 0},
      {"rgb row longer than the block", FilterKind::Rgb, 300, 301, 0},
      {"rgb red past the pixel", FilterKind::Rgb, 300, 30, 3},
      {"rgb block shorter than a pixel", FilterKind::Rgb, 2, 3, 0},
      {"rgb output past the memory", FilterKind::Rgb, kVmMemorySize / 2 + 3, 30, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_FALSE(run(c.kind, Bytes(c.length, 1), 0, c.r0, c.r1).ok);
  }
}

TEST(Rar29Filters, RegistersThatContradictTheBlockStayInsideTheMemory) {
  std::vector<std::uint8_t> memory(kVmMemorySize + 4, 0);
  FilterRun where;
  for (FilterKind kind : {FilterKind::E8, FilterKind::E8E9, FilterKind::Itanium, FilterKind::Delta,
                          FilterKind::Rgb, FilterKind::Audio}) {
    for (std::uint32_t len : {0u, 0x20001u, 0x40001u, 0xFFFFFFFFu}) {
      const std::array<std::uint32_t, 7> r = {3, 0, 0, 0x3C000, len, 0, 0};
      if (runFilter(kind, r, memory.data(), 0x20000, 0, where)) {
        EXPECT_LE(std::size_t{where.start} + where.length, kVmMemorySize);
      }
    }
  }
}

}  // namespace
