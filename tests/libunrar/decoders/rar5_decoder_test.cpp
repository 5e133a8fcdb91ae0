// The RAR 5 decoder on hand-made streams (rar5_stream.h): every command of
// the format written on purpose. Filtered stretches are written as literals
// of the encoder-side transform of the bytes the test expects back.
#include <malloc.h>

#include "codec/rar5_lz.h"
#include "decoder_test_support.h"
#include "rar5_stream.h"

using decodertest::MemoryStream;
using decodertest::StringSink;
using namespace rar5stream;

namespace {

unrar::Entry entryFor(std::uint64_t size, bool solid = false, std::uint64_t dict = 128u << 10,
                      std::uint32_t unpVer = 50) {
  unrar::Entry e;
  e.method = 3;
  e.unpVer = unpVer;
  e.unpSize = size;
  e.solid = solid;
  e.dictBytes = dict;
  return e;
}

int decode(unrar::Decoder& dec, const unrar::Entry& e, const std::string& stream,
           std::string& out) {
  StringSink sink;
  const int rc = dec.decode(e, std::make_unique<MemoryStream>(stream), 0, sink);
  out = sink.out;
  return rc;
}

// Every command, every filter (one across a block boundary), blocks with and
// without tables. Returns the stream; `expected` gets what it decodes to.
std::string everyCommand(std::string& expected, unsigned distanceSymbols = 64) {
  Rar5Stream s(distanceSymbols);
  s.beginBlock(true);
  const std::string text = decodertest::text(3, 10000);
  s.literals(text);
  s.match(2, 1);
  s.match(9, 7);
  s.match(30, 100);
  s.match(40, 0x101);
  s.match(300, 0x2001);
  s.match(4098, 4000);
  // Past 256 KiB, for the largest length bonus.
  for (int i = 0; i < 70; ++i) s.repeatLast();
  s.match(40, 0x40001);
  s.repeat(0, 5);
  s.repeat(2, 12);
  s.repeat(3, 700);
  s.repeat(1, 2);
  s.repeatLast();
  s.finishBlock(false);
  expected = s.raw;

  // Filtered stretches: literals of what the filters turn back into `o`.
  auto filtered = [&](unsigned type, const std::string& o, unsigned channels, bool split) {
    const std::uint64_t pos = s.raw.size();
    s.filter(0, static_cast<std::uint32_t>(o.size()), type, channels);
    std::string r = type == 0   ? deltaEncode(o, channels)
                    : type == 3 ? armEncode(o, pos)
                                : x86Encode(o, pos, type == 2);
    if (split) {
      s.literals(r.substr(0, r.size() / 2));
      s.finishBlock(false);
      s.beginBlock(false);
      s.literals(r.substr(r.size() / 2));
    } else {
      s.literals(r);
    }
    expected += o;
  };
  s.beginBlock(false);
  filtered(0, decodertest::text(4, 3001), 3, false);
  filtered(1, code(decodertest::noise(5, 4000), 5), 0, true);
  filtered(2, code(decodertest::noise(6, 5000), 6), 0, false);
  filtered(3, code(decodertest::noise(7, 4000), 7), 0, false);
  // A filter announced ahead of its data, after a match.
  const std::string o = code(decodertest::noise(8, 2000), 8);
  s.filter(600, static_cast<std::uint32_t>(o.size()), 2);
  s.match(600, 5000);
  expected += s.raw.substr(s.raw.size() - 600);
  const std::string r = x86Encode(o, s.raw.size(), true);
  s.literals(r);
  expected += o;
  s.finishBlock(false);
  s.beginBlock(true);
  s.repeat(0, 3000);
  s.literals("end");
  expected += s.raw.substr(s.raw.size() - 3003);
  s.finishBlock(true);
  return s.stream;
}

class Rar5Threads : public ::testing::TestWithParam<unsigned> {
 protected:
  void SetUp() override { unrar::setRar5Threading(GetParam(), 0); }
  void TearDown() override { unrar::setRar5Threading(0, 0); }
};

TEST_P(Rar5Threads, EveryCommandAndFilter) {
  std::string expected;
  const std::string stream = everyCommand(expected);
  auto dec = unrar::makeRar5Decoder(false);
  std::string out;
  ASSERT_EQ(decode(*dec, entryFor(expected.size()), stream, out), ERAR_SUCCESS);
  EXPECT_TRUE(out == expected) << out.size() << " of " << expected.size();
}

TEST_P(Rar5Threads, SolidEntriesAcrossTheWindowsWrap) {
  // With a 128 KiB dictionary the window stops growing at a few MiB: 9 MiB of
  // mostly long matches wrap it, and a filter stretches across the wrap.
  Rar5Stream s;
  s.beginBlock(true);
  s.literals(decodertest::noise(9, 70000));
  std::string expected = s.raw;
  std::mt19937 rng(4);
  bool filterDone = false;
  while (s.raw.size() < (9u << 20)) {
    if (!filterDone && s.raw.size() > (6u << 20) - 3000) {
      const std::string o = code(decodertest::noise(10, 20000), 10);
      s.filter(0, static_cast<std::uint32_t>(o.size()), 1);
      s.literals(x86Encode(o, s.raw.size(), false));
      expected += o;
      filterDone = true;
      continue;
    }
    const std::size_t before = s.raw.size();
    if (rng() % 4 == 0)
      s.repeat(rng() % 4, 2 + rng() % 4000);
    else
      s.match(2000 + rng() % 2000, 1 + rng() % 65000);
    s.literal(static_cast<std::uint8_t>(rng()));
    expected += s.raw.substr(before);
    if (rng() % 200 == 0) {
      s.finishBlock(false);
      s.beginBlock(rng() % 2);
    }
  }
  s.finishBlock(true);
  const std::string first = s.stream;
  const std::size_t firstSize = s.raw.size();
  // The second entry: no tables of its own, the last distances and the
  // window of the first.
  s.stream.clear();
  s.beginBlock(false);
  s.repeat(2, 3000);
  s.match(4000, 70000);
  s.finishBlock(true);
  expected += s.raw.substr(firstSize);

  auto dec = unrar::makeRar5Decoder(true);
  std::string out1, out2;
  ASSERT_EQ(decode(*dec, entryFor(firstSize), first, out1), ERAR_SUCCESS);
  ASSERT_EQ(decode(*dec, entryFor(s.raw.size() - firstSize, true), s.stream, out2), ERAR_SUCCESS);
  EXPECT_TRUE(out1 + out2 == expected);
}

INSTANTIATE_TEST_SUITE_P(OneAndTwo, Rar5Threads, ::testing::Values(1u, 2u));

TEST(Rar5, TheLargerDistanceAlphabetOfRar7) {
  std::string expected;
  const std::string stream = everyCommand(expected, 80);
  auto dec = unrar::makeRar5Decoder(false);
  std::string out;
  const std::uint64_t dict = 5ull << 32;  // 20 GiB: 128 KiB << 17, fraction 8
  ASSERT_EQ(decode(*dec, entryFor(expected.size(), false, dict, 70), stream, out), ERAR_SUCCESS);
  EXPECT_TRUE(out == expected);
  // Under a RAR 7 header, the flag for RAR 5's alphabet.
  unrar::Entry v5 = entryFor(expected.size(), false, dict, 70);
  v5.rar5CompInfo = 0x100000;
  std::string expected64;
  const std::string stream64 = everyCommand(expected64, 64);
  dec = unrar::makeRar5Decoder(false);
  ASSERT_EQ(decode(*dec, v5, stream64, out), ERAR_SUCCESS);
  EXPECT_TRUE(out == expected64);

  // Slot 64 and above reach 4 GiB and more: here, before the stream began.
  Rar5Stream far(80);
  far.beginBlock(true);
  far.literals("abc");
  far.rawDistanceSlot(64);
  far.finishBlock(true);
  dec = unrar::makeRar5Decoder(false);
  EXPECT_EQ(decode(*dec, entryFor(100, false, dict, 70), far.stream, out), ERAR_BAD_DATA);
}

// A window that follows the data: an entry declaring the largest dictionary
// gets a window the size of its data, known size or not.
TEST(Rar5, MemoryFollowsTheDataNotTheDeclaredDictionary) {
  std::string expected;
  const std::string stream = everyCommand(expected, 80);
  struct HeapSink final : unrar::Sink {
    std::size_t peak = 0;
    std::string out;
    int put(const std::uint8_t* p, std::size_t n) override {
      const struct mallinfo2 m = mallinfo2();
      peak = std::max(peak, m.uordblks + m.hblkhd);
      out.append(reinterpret_cast<const char*>(p), n);
      return 0;
    }
  };
  for (bool known : {true, false}) {
    unrar::Entry e = entryFor(expected.size(), false, unrar::rar5lz::kMaxDictionary, 70);
    e.unpSizeUnknown = !known;
    auto dec = unrar::makeRar5Decoder(false);
    HeapSink sink;
    ASSERT_EQ(dec->decode(e, std::make_unique<MemoryStream>(stream), 0, sink), ERAR_SUCCESS);
    EXPECT_TRUE(sink.out == expected);
    EXPECT_LT(sink.peak, 32u << 20) << known;
  }
}

// RAR 7 marks its entries with algorithm version 1 (reported as 70): stored
// or compressed, they are ours to decode; an unknown version is not.
TEST(Rar5, EntriesOfRar7AreDecodable) {
  const struct {
    std::uint32_t unpVer, method;
    bool decodable;
  } rows[] = {{50, 0, true}, {50, 3, true},    {70, 0, true},
              {70, 5, true}, {9999, 0, false}, {9999, 3, false}};
  for (const auto& r : rows) {
    unrar::Entry e = entryFor(10, false, 128u << 10, r.unpVer);
    e.method = r.method;
    EXPECT_EQ(unrar::canDecode(unrar::Format::Rar5, e), r.decodable) << r.unpVer << " " << r.method;
  }
}

TEST(Rar5Damage, DamagedStreamsFailCleanly) {
  std::string expected;
  const std::string stream = everyCommand(expected);
  decodertest::expectDamagedStreamsFailCleanly(unrar::makeRar5Decoder, entryFor(expected.size()),
                                               stream, expected, true);
}

}  // namespace
