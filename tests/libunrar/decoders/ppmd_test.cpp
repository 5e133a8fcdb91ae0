// The PPMd model and its range decoder: RAR 2.9 PPMd streams of our own
// encoder (which drives the same model from the other side) must come out
// as they went in through our library and through unar alike, across model
// restarts, blocks and solid entries; garbage must end in an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "codec/bit_input.h"
#include "codec/ppmd_h.h"
#include "decoder_test_support.h"
#include "peer_tools.h"
#include "ppmd_h_encoder.h"
#include "rar29_encoder.h"
#include "rar_writer.h"
#include "unrar_test_support.h"

namespace {

using ppmdenc::Block;
using ppmdenc::Params;

// Text with a large vocabulary and numbers in it, so high orders keep
// finding new contexts and a small model fills up.
std::string prose(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    const unsigned len = 2 + rng() % 9;
    for (unsigned i = 0; i < len; ++i)
      s.push_back(static_cast<char>('a' + (rng() % 26) % (4 + i * 3)));
    if (rng() % 7 == 0) {
      s += std::to_string(rng() % 100000);
      s += ".\n";
    } else {
      s += ' ';
    }
  }
  s.resize(n);
  return s;
}

// Bytes of every value, the default escape byte among them, with runs and
// repeated stretches.
std::string binary(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    switch (rng() % 4) {
      case 0:
        s.append(4 + rng() % 300, static_cast<char>(rng()));
        break;
      case 1:
        if (s.size() > 64) {
          const std::size_t from = rng() % (s.size() - 32);
          s += s.substr(from, 32);
          break;
        }
        [[fallthrough]];
      default:
        for (int i = 0; i < 50; ++i) s.push_back(static_cast<char>(rng() % (i % 2 ? 256 : 8)));
    }
  }
  s.resize(n);
  return s;
}

rarwriter::Entry prepacked(const std::string& name, const std::string& data,
                           const std::string& packed) {
  return decodertest::packedEntry(name, data, packed, 29, 0x35, 4);  // 1 MiB window
}

using decodertest::checkBothDecoders;

struct Case {
  const char* name;
  std::string data;
  std::vector<Block> blocks;
};

TEST(PpmdH, WriterStreamsDecodeAsUnarDecodesThem) {
  const std::vector<Case> cases = {
      {"prose_order6", prose(300000, 1), {{0, Params{1, 6, -1}}}},
      {"binary_order2", binary(200000, 2), {{0, Params{2, 2, -1}}}},
      {"binary_order64", binary(200000, 3), {{0, Params{8, 64, -1}}}},
      {"own_escape_byte", binary(100000, 4), {{0, Params{1, 16, 0x00}}}},
      {"one_byte", "\x02", {{0, Params{1, 4, -1}}}},
      {"long_run", std::string(200000, 'q'), {{0, Params{1, 8, -1}}}},
      // The model carries on into the second block; the third starts a new
      // one of another size and order.
      {"blocks",
       prose(150000, 5) + binary(60000, 6),
       {{50000, Params{1, 10, -1}}, {50000, std::nullopt}, {0, Params{3, 25, 0x65}}}},
      // A smaller model after a larger one fills up at its own size.
      {"smaller_model_runs_out",
       prose(400000, 7),
       {{20000, Params{8, 64, -1}}, {0, Params{1, 64, -1}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ppmdenc::Encoder enc;
    checkBothDecoders({prepacked(c.name, c.data, enc.pack(c.data, c.blocks))}, false);
  }
}

// A 1 MiB model at order 64 runs out of memory many times over 1 MB of
// text; each time both sides must start over at the same symbol.
TEST(PpmdH, ModelRestartsWhenItsMemoryRunsOut) {
  const std::string data = prose(1000000, 7);
  ppmdenc::Encoder enc;
  const std::string packed = enc.pack(data, {{0, Params{1, 64, -1}}});
  EXPECT_GE(enc.modelRestarts(), 5u);
  checkBothDecoders({prepacked("big.txt", data, packed)}, false);
}

// Entries of a solid archive go on with the model of the entries before.
TEST(PpmdH, SolidEntriesContinueTheModel) {
  ppmdenc::Encoder enc;
  const std::string a = prose(100000, 8), b = a.substr(5000, 40000) + binary(30000, 9),
                    c = prose(50000, 10);
  std::vector<rarwriter::Entry> entries = {
      prepacked("a.txt", a, enc.pack(a, {{0, Params{2, 8, -1}}})),
      prepacked("b.bin", b, enc.pack(b, {{0, std::nullopt}})),
      prepacked("c.txt", c, enc.pack(c, {{0, std::nullopt}})),
  };
  checkBothDecoders(entries, true);
}

// The codes after an entry's last byte may switch between LZ and PPMd before
// its end code: an LZ entry whose tail starts the model, a PPMd entry whose
// tail escapes to LZ tables; the model goes on in the third entry.
TEST(PpmdH, SolidTailsSwitchBetweenLzAndPpmd) {
  ppmdenc::Encoder ppmd;
  rar29enc::Encoder lz(std::size_t{1} << 20);
  const std::string a = prose(60000, 15), b = prose(40000, 16), c = a.substr(100, 20000);
  std::vector<rarwriter::Entry> entries = {
      prepacked("a.txt", a, lz.pack(a, {}, false, true) + ppmd.pack("", {{0, Params{1, 8, -1}}})),
      prepacked("b.txt", b, ppmd.pack(b, {{0, std::nullopt}}, true) + lz.pack("", {})),
      prepacked("c.txt", c, ppmd.pack(c, {{0, std::nullopt}})),
  };
  checkBothDecoders(entries, true);
}

TEST(PpmdH, RestartRefusesWhatNoBlockHeaderDeclares) {
  struct Refusal {
    std::size_t memBytes;
    unsigned order;
  };
  for (const Refusal& r : {Refusal{0, 6}, Refusal{unrar::PpmdH::kMaxMemory + 1, 6},
                           Refusal{1u << 20, 1}, Refusal{1u << 20, 65}}) {
    unrar::PpmdH ppmd;
    EXPECT_FALSE(ppmd.restart(r.memBytes, r.order)) << r.memBytes << " bytes, order " << r.order;
    EXPECT_FALSE(ppmd.hasModel());
  }
  unrar::PpmdH ppmd;
  EXPECT_TRUE(ppmd.restart(unrar::PpmdH::kMaxMemory, 64));
  EXPECT_TRUE(ppmd.hasModel());
}

// Random bytes as range-coded data: decoding must stop with -1 once the
// input is used up, or earlier, and never run on by itself.
TEST(PpmdH, GarbageEndsInAnError) {
  std::mt19937 rng(11);
  for (unsigned order : {2u, 6u, 64u}) {
    for (int round = 0; round < 10; ++round) {
      std::string junk(1 + rng() % 4000, '\0');
      for (char& ch : junk) ch = static_cast<char>(rng());
      decodertest::MemoryStream stream(junk);
      unrar::BitInput in(stream);
      unrar::PpmdH ppmd;
      ASSERT_TRUE(ppmd.restart(1u << 20, order));
      ppmd.startDecoder(in);
      std::uint64_t symbols = 0;
      while (ppmd.decodeChar(in) >= 0) ASSERT_LT(++symbols, 20000000u) << "order " << order;
      EXPECT_FALSE(ppmd.hasModel());
      EXPECT_EQ(ppmd.decodeChar(in), -1);
    }
  }
}

// Damaged streams end with an error status or the right data, never a crash
// or a hang.
TEST(PpmdH, DamagedStreamsFailCleanly) {
  const std::string data = prose(60000, 12) + binary(40000, 13);
  ppmdenc::Encoder enc;
  const std::string packed = enc.pack(data, {{50000, Params{1, 12, -1}}, {0, std::nullopt}});
  const int failures = decodertest::expectDamagedArchivesFailCleanly(
      packed, data, 14, [&](const std::string& bad) { return prepacked("f", data, bad); });
  EXPECT_GT(failures, 30);
}

}  // namespace
