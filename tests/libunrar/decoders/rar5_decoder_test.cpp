// The RAR 5 decoder on hand-made streams: code tables of one length per
// alphabet, so that each symbol's code is its number, and every command of
// the format written on purpose. Filtered stretches are written as literals
// of the encoder-side transform of the bytes the test expects back.
#include <malloc.h>

#include <algorithm>
#include <array>

#include "decoder_test_support.h"
#include "rar5_lz.h"

using decodertest::MemoryStream;
using decodertest::StringSink;

namespace {

constexpr unsigned kMainBits = 9, kDistanceBits = 7, kAlignBits = 4, kLengthBits = 6;
constexpr unsigned kLevelBits = 5;

class BitWriter {
 public:
  void put(std::uint64_t v, unsigned n) {
    for (unsigned i = n; i-- > 0;) {
      if (bits_ % 8 == 0) bytes_.push_back(0);
      if ((v >> i) & 1) bytes_.back() |= static_cast<char>(0x80 >> (bits_ % 8));
      ++bits_;
    }
  }
  std::uint64_t bits() const { return bits_; }
  std::string take() {
    std::string b;
    b.swap(bytes_);
    bits_ = 0;
    return b;
  }

 private:
  std::string bytes_;
  std::uint64_t bits_ = 0;
};

// A RAR 5 stream written command by command, and the bytes it decodes to
// before any filter (`raw`).
class Rar5Stream {
 public:
  explicit Rar5Stream(unsigned distanceSymbols = 64) : distanceSymbols_(distanceSymbols) {}

  void literal(std::uint8_t b) {
    main(b);
    raw.push_back(static_cast<char>(b));
  }
  void literals(const std::string& s) {
    for (char c : s) literal(static_cast<std::uint8_t>(c));
  }
  // A match with a new distance (length includes the bonus the distance gives).
  void match(std::uint32_t length, std::uint64_t distance) {
    const std::uint32_t bonus = (distance > 0x100) + (distance > 0x2000) + (distance > 0x40000);
    const unsigned lslot = lengthSlot(length - bonus);
    main(262 + lslot);
    lengthExtra(lslot, length - bonus);
    const std::uint64_t d = distance - 1;
    unsigned slot = static_cast<unsigned>(d);
    if (d >= 4) {
      const unsigned nb = 63 - static_cast<unsigned>(__builtin_clzll(d)) - 1;
      slot = 2 * (nb + 1) + static_cast<unsigned>((d >> nb) & 1);
      const std::uint64_t extra = d - (static_cast<std::uint64_t>(2 | (slot & 1)) << nb);
      w_.put(slot, kDistanceBits);
      if (nb >= 4) {
        w_.put(extra >> 4, nb - 4);
        w_.put(extra & 15, kAlignBits);
      } else {
        w_.put(extra, nb);
      }
    } else {
      w_.put(slot, kDistanceBits);
    }
    push(distance);
    last_ = length;
    copy(length, distance);
  }
  // Distance slot `slot` with zero extra bits, whatever it reaches.
  void rawDistanceSlot(unsigned slot) {
    main(262);
    w_.put(slot, kDistanceBits);
    const unsigned nb = slot < 4 ? 0 : slot / 2 - 1;
    if (nb >= 4) {
      w_.put(0, nb - 4);
      w_.put(0, kAlignBits);
    } else {
      w_.put(0, nb);
    }
  }
  void repeat(unsigned i, std::uint32_t length) {
    const std::uint64_t d = dist_[i];
    for (unsigned k = i; k > 0; --k) dist_[k] = dist_[k - 1];
    dist_[0] = d;
    main(258 + i);
    const unsigned lslot = lengthSlot(length);
    w_.put(lslot, kLengthBits);
    lengthExtra(lslot, length);
    last_ = length;
    copy(length, d);
  }
  void repeatLast() {
    main(257);
    copy(last_, dist_[0]);
  }
  void filter(std::uint32_t offset, std::uint32_t length, unsigned type, unsigned channels = 0) {
    main(256);
    number(offset);
    number(length);
    w_.put(type, 3);
    if (type == 0) w_.put(channels - 1, 5);
  }
  // Starts a block: its tables (when `tables`) come first.
  void beginBlock(bool tables) {
    tables_ = tables;
    if (tables) writeTables();
  }
  // Ends the block begun last, with its header.
  void finishBlock(bool last) {
    const std::uint64_t bits = w_.bits();
    const std::string data = w_.take();
    const std::uint8_t lastBits = static_cast<std::uint8_t>(bits % 8 == 0 ? 8 : bits % 8);
    const std::uint32_t size = static_cast<std::uint32_t>(data.size());
    const unsigned sizeBytes = size < 0x100 ? 1 : size < 0x10000 ? 2 : 3;
    std::uint8_t flags = static_cast<std::uint8_t>((lastBits - 1) | ((sizeBytes - 1) << 3));
    if (last) flags |= 0x40;
    if (tables_) flags |= 0x80;
    std::uint8_t check = 0x5A ^ flags;
    for (unsigned i = 0; i < sizeBytes; ++i) check ^= static_cast<std::uint8_t>(size >> (8 * i));
    stream.push_back(static_cast<char>(flags));
    stream.push_back(static_cast<char>(check));
    for (unsigned i = 0; i < sizeBytes; ++i) stream.push_back(static_cast<char>(size >> (8 * i)));
    stream += data;
  }

  std::string stream;
  std::string raw;

 private:
  void main(unsigned sym) { w_.put(sym, kMainBits); }
  static unsigned lengthSlot(std::uint32_t length) {
    const std::uint32_t v = length - 2;
    if (v < 8) return v;
    const unsigned extra = 31 - static_cast<unsigned>(__builtin_clz(v)) - 2;
    return 4 * (extra + 1) + ((v >> extra) & 3);
  }
  void lengthExtra(unsigned slot, std::uint32_t length) {
    if (slot < 8) return;
    const unsigned extra = slot / 4 - 1;
    w_.put(length - 2 - ((4u | (slot & 3)) << extra), extra);
  }
  void number(std::uint32_t v) {
    const unsigned bytes = v < 0x100 ? 1 : v < 0x10000 ? 2 : v < 0x1000000 ? 3 : 4;
    w_.put(bytes - 1, 2);
    for (unsigned i = 0; i < bytes; ++i) w_.put((v >> (8 * i)) & 0xFF, 8);
  }
  void push(std::uint64_t d) {
    dist_[3] = dist_[2];
    dist_[2] = dist_[1];
    dist_[1] = dist_[0];
    dist_[0] = d;
  }
  void copy(std::uint32_t length, std::uint64_t distance) {
    for (std::uint32_t i = 0; i < length; ++i) raw.push_back(raw[raw.size() - distance]);
  }
  // The level code gives length 5 to the symbols used here and 0 to the rest
  // (written with the escape for runs of zeros); codes follow symbol order.
  void writeTables() {
    static constexpr std::array<std::uint8_t, 8> used = {4, 6, 7, 9, 16, 17, 18, 19};
    auto code = [](unsigned sym) {
      return static_cast<unsigned>(std::find(used.begin(), used.end(), sym) - used.begin());
    };
    // 0-3: four zeros; 4: 5; 5: 0; 6, 7: 5; 8: 0; 9: 5; 10-15: six zeros; 16-19: 5.
    const unsigned nibbles[] = {15, 2, 5, 0, 5, 5, 0, 5, 15, 4, 5, 5, 5, 5};
    for (unsigned n : nibbles) w_.put(n, 4);
    auto lengths = [&](unsigned value, unsigned count) {
      // The first plainly, then repeats of the previous: 17 for 11-138, 16 for 3-10.
      w_.put(code(value), kLevelBits);
      --count;
      while (count >= 11) {
        const unsigned n = std::min(count, 138u);
        w_.put(code(17), kLevelBits);
        w_.put(n - 11, 7);
        count -= n;
      }
      while (count >= 3) {
        const unsigned n = std::min(count, 10u);
        w_.put(code(16), kLevelBits);
        w_.put(n - 3, 3);
        count -= n;
      }
      for (; count; --count) w_.put(code(value), kLevelBits);
    };
    lengths(kMainBits, 306);
    if (distanceSymbols_ == 64) {
      // Slots 60-63 (distances beyond 1.5 GiB) unused: a short run of zeros.
      lengths(kDistanceBits, 60);
      w_.put(code(18), kLevelBits);
      w_.put(4 - 3, 3);
    } else {
      lengths(kDistanceBits, distanceSymbols_);
    }
    lengths(kAlignBits, 16);
    lengths(kLengthBits, 44);
  }

  unsigned distanceSymbols_;
  BitWriter w_;
  bool tables_ = false;
  std::array<std::uint64_t, 4> dist_{};
  std::uint32_t last_ = 0;
};

// Encoder-side filters: what the decoder's filters undo.
std::string deltaEncode(const std::string& o, unsigned channels) {
  std::string r;
  for (unsigned ch = 0; ch < channels; ++ch) {
    std::uint8_t prev = 0;
    for (std::size_t d = ch; d < o.size(); d += channels) {
      r.push_back(static_cast<char>(prev - static_cast<std::uint8_t>(o[d])));
      prev = static_cast<std::uint8_t>(o[d]);
    }
  }
  return r;
}

std::uint32_t le32(const std::string& s, std::size_t i) {
  std::uint32_t v = 0;
  for (int k = 3; k >= 0; --k) v = v << 8 | static_cast<std::uint8_t>(s[i + k]);
  return v;
}
void setLe(std::string& s, std::size_t i, std::uint32_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) s[i + k] = static_cast<char>(v >> (8 * k));
}

std::string x86Encode(std::string o, std::uint64_t filePos, bool jumps) {
  constexpr std::uint32_t kSpan = 0x1000000;
  for (std::size_t i = 0; i + 4 < o.size(); ++i) {
    const auto op = static_cast<std::uint8_t>(o[i]);
    if (op != 0xE8 && !(jumps && op == 0xE9)) continue;
    const auto offset = static_cast<std::uint32_t>((filePos + i + 1) % kSpan);
    const std::uint32_t x = le32(o, i + 1);
    if (x < kSpan - offset)
      setLe(o, i + 1, x + offset, 4);
    else if (x < kSpan)
      setLe(o, i + 1, x - kSpan, 4);
    else if (x >= 0u - offset)
      setLe(o, i + 1, x + offset, 4);
    i += 4;
  }
  return o;
}

std::string armEncode(std::string o, std::uint64_t filePos) {
  for (std::size_t i = 0; i + 3 < o.size(); i += 4) {
    if (static_cast<std::uint8_t>(o[i + 3]) != 0xEB) continue;
    const std::uint32_t v = le32(o, i) & 0xFFFFFF;
    setLe(o, i, v + static_cast<std::uint32_t>((filePos + i) / 4), 3);
  }
  return o;
}

// Machine code of sorts: calls and jumps to near and far addresses.
std::string code(unsigned seed, std::size_t n) {
  std::string s = decodertest::noise(seed, n);
  std::mt19937 rng(seed);
  for (std::size_t i = 0; i + 8 < n; i += 3 + rng() % 9) {
    s[i] = static_cast<char>(rng() % 2 ? 0xE8 : 0xE9);
    const std::uint32_t pick = rng() % 4;
    const std::uint32_t addr = pick == 0   ? rng() % 0x1000000
                               : pick == 1 ? 0u - rng() % 5000
                               : pick == 2 ? rng() % 3000
                                           : rng();
    setLe(s, i + 1, addr, 4);
  }
  for (std::size_t i = 3; i < n; i += 4 * (1 + rng() % 3)) s[i] = static_cast<char>(0xEB);
  return s;
}

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
  filtered(1, code(5, 4000), 0, true);
  filtered(2, code(6, 5000), 0, false);
  filtered(3, code(7, 4000), 0, false);
  // A filter announced ahead of its data, after a match.
  const std::string o = code(8, 2000);
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
  void TearDown() override { unrar::setRar5Threading(2, 512u << 10); }
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
      const std::string o = code(10, 20000);
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
  ASSERT_EQ(decode(*dec, entryFor(s.raw.size() - firstSize, true), s.stream, out2),
            ERAR_SUCCESS);
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

TEST(Rar5Damage, DamagedStreamsFailCleanly) {
  std::string expected;
  const std::string stream = everyCommand(expected);
  decodertest::expectDamagedStreamsFailCleanly(unrar::makeRar5Decoder, entryFor(expected.size()),
                                               stream, expected, true);
}

}  // namespace
