// RAR 2.0 streams (LZ and multimedia blocks) from our own encoder: unar, the
// reference for the format, and our library must both give back the input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>

#include "codec/codec.h"
#include "decoder_test_support.h"
#include "peer_tools.h"
#include "rar20_encoder.h"
#include "rar_writer.h"
#include "unrar.h"
#include "unrar_test_support.h"

namespace {

using rar20enc::Block;
using rar20enc::Mode;

using decodertest::noise;
using decodertest::text;

// Noise with copies of earlier pieces 10 KiB and 300 KiB back: distances
// with one and two length bonuses.
std::string farCopies() {
  std::string s = noise(7, 20000);
  s += s.substr(9000, 3000);
  s += noise(8, 300000);
  s += s.substr(1000, 5000);
  s += text(9, 20000);
  return s;
}

// Interleaved 8-bit samples: a slow wave per channel with a little noise.
std::string audio(unsigned channels, std::size_t frames, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  for (std::size_t f = 0; f < frames; ++f)
    for (unsigned c = 0; c < channels; ++c) {
      const double v = 100 * std::sin(static_cast<double>(f) * (0.01 + 0.007 * c)) +
                       static_cast<double>(rng() % 9) - 4;
      s += static_cast<char>(static_cast<std::int8_t>(std::lround(v)));
    }
  return s;
}

struct Case {
  const char* name;
  std::string data;
  std::vector<Block> blocks;
  std::uint8_t dictionary;  // 64 KiB << n
};

Block lz(std::size_t size, bool keep = false) {
  return {Mode::Lz, 1, size, keep, false};
}
Block pcm(unsigned channels, std::size_t size, bool keep = false) {
  return {Mode::Audio, channels, size, keep, false};
}

std::vector<Case> cases() {
  std::vector<Case> v;
  v.push_back({"text", text(1, 150000), {lz(0)}, 2});
  v.push_back({"table_changes",
               text(2, 100000) + noise(3, 30000) + text(4, 80000),
               {lz(40000), lz(40000, true), lz(50000), lz(0, true)},
               2});
  v.push_back({"far_distances", farCopies(), {lz(0)}, 4});
  // Overlapping copies (runs) in a 64 KiB window that wraps many times.
  std::string runs;
  for (unsigned i = 0; runs.size() < 200000; ++i)
    runs += text(30 + i, 3000) + std::string(300 + i % 50, 'x') + std::string(20, 'a' + i % 26) +
            std::string(i % 7 + 1, 'q') + "abcabcabcabcabcabcabcabcabcabc";
  // Repeats 256 bytes apart with a changed byte: old distances of 256, the
  // largest without a length bonus.
  std::string period = noise(40, 256);
  for (unsigned i = 0; i < 40; ++i) {
    runs += period;
    period[(i * 37) % 256] ^= 0x55;
  }
  v.push_back({"runs", runs, {lz(0)}, 0});
  for (unsigned ch = 1; ch <= 4; ++ch)
    v.push_back({"audio", audio(ch, 30000, ch), {pcm(ch, 0)}, 0});
  v.push_back({"modes_switching",
               text(5, 30000) + audio(2, 20000, 5) + audio(4, 8000, 6) + text(6, 20000) +
                   audio(3, 9000, 7) + audio(1, 10000, 8) + text(5, 30000),
               {lz(30000), pcm(2, 40000), pcm(4, 32000, true), lz(20000), pcm(3, 27000),
                pcm(1, 10000, true), lz(0)},
               3});
  return v;
}

rarwriter::Entry packedEntry(const std::string& name, const std::string& data,
                             const std::string& packed, std::uint8_t dictionary) {
  return decodertest::packedEntry(name, data, packed, 20, 0x33, dictionary);
}

using decodertest::checkBothDecoders;
using Counter = decodertest::Counter<rar20enc::Stats>;
using S = rar20enc::Stats;

constexpr Counter kCodes[] = {{"literals", &S::literals},
                              {"repeatLast", &S::repeatLast},
                              {"oldDistance", &S::oldDistance},
                              {"shortDistance", &S::shortDistance},
                              {"match", &S::match},
                              {"matchFrom8K", &S::matchFrom8K},
                              {"matchFrom256K", &S::matchFrom256K},
                              {"keptTables", &S::keptTables},
                              {"audioBytes", &S::audioBytes}};

TEST(Rar20, EveryKindOfBlockAndCode) {
  rar20enc::Stats total;
  for (const Case& c : cases()) {
    const std::string label = std::string(c.name) + std::to_string(c.blocks.front().channels);
    rar20enc::Encoder enc(std::size_t{64} << 10 << c.dictionary);
    const std::string packed = enc.pack(c.data, c.blocks);
    SCOPED_TRACE(label);
    checkBothDecoders({packedEntry("f.bin", c.data, packed, c.dictionary)}, false);
    decodertest::addCounters(total, enc.stats(), kCodes);
  }
  // The streams above must have used every code the format has.
  decodertest::expectEveryCounterUsed(total, kCodes);
}

// A solid stream: the second entry goes on with the first entry's audio
// tables, in the middle of a frame, then matches far back into the first
// entry; the third starts with new tables that add to the old lengths.
TEST(Rar20, SolidEntriesShareWindowTablesAndAudioState) {
  const std::string first = text(11, 60000) + audio(2, 10000, 12).substr(1);
  const std::string second = audio(2, 5000, 13) + text(11, 60000);
  const std::string third = text(14, 20000) + second.substr(0, 30000);
  rar20enc::Encoder enc(std::size_t{256} << 10);
  Block tail = pcm(2, 0);
  tail.completeTables = true;
  const std::string p1 = enc.pack(first, {lz(60000), tail});
  const std::string p2 = enc.pack(second, {pcm(2, 10000), lz(0)}, true);
  const std::string p3 = enc.pack(third, {lz(0, true)});
  // The text in the second entry costs little: it is found in the first.
  EXPECT_LT(p2.size(), 12000u);
  checkBothDecoders({packedEntry("a.bin", first, p1, 2), packedEntry("b.bin", second, p2, 2),
                     packedEntry("c.bin", third, p3, 2)},
                    true);
}

// Damaged streams end with an error or with exactly the entry's size, never
// out of bounds or in an endless loop; cut ones end with an error.
TEST(Rar20Damage, DamagedStreamsFailCleanly) {
  const std::string data = text(21, 6000) + audio(3, 2000, 22) + text(23, 4000);
  rar20enc::Encoder enc(std::size_t{64} << 10);
  const std::string packed = enc.pack(data, {lz(6000), pcm(3, 6000), lz(0)});
  unrar::Entry e;
  e.unpVer = 20;
  e.method = 3;
  e.unpSize = data.size();
  e.dictBytes = std::size_t{64} << 10;

  // Our decoder needs no byte past the last code, unlike unar.
  decodertest::expectDamagedStreamsFailCleanly(unrar::makeRar20Decoder, e,
                                               packed.substr(0, packed.size() - 1), data, false);
}

}  // namespace
