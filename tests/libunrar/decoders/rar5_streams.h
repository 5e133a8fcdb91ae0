// RAR 5 streams of the test encoder that between them use every code of the
// format: the rows of the round trip, kept apart so that other tests (threads,
// damage) can take the same archives.
#pragma once

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "decoder_test_support.h"
#include "rar5_encoder.h"
#include "rar_writer.h"

namespace rar5test {

// Random bytes with copies of earlier stretches from near and far (up to
// `reach` back), some at 32-byte steps, where only a long-range search finds them.
inline std::string copies(std::size_t n, unsigned seed, std::size_t reach) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    const unsigned pick = rng() % 5;
    if (s.size() < 4096 || pick == 0) {
      for (int i = 0; i < 64; ++i) s.push_back(static_cast<char>(rng()));
      continue;
    }
    const std::size_t maxBack = std::min<std::size_t>(s.size(), pick == 1   ? 300
                                                                : pick == 2 ? 0x3000
                                                                : pick == 3 ? 0x50000
                                                                            : reach);
    std::size_t back = 1 + rng() % maxBack;
    if (pick == 4) back = std::max<std::size_t>(32, back / 32 * 32);
    const std::size_t len = 2 + rng() % (pick == 1 ? 600 : pick == 4 ? 3000 : 60);
    for (std::size_t i = 0; i < len; ++i) s.push_back(s[s.size() - back]);
  }
  s.resize(n);
  return s;
}

// Machine code as the E8 and E8E9 filters expect it: calls and jumps with
// relative targets, among a few other instruction bytes.
inline std::string x86(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  static const char kOps[] = "\x55\x89\xE5\x8B\x45\x08\x83\xC4\x10\xC3\x90\x48\x8D\x05";
  while (s.size() < n) {
    if (rng() % 4 == 0) {
      s.push_back(rng() % 3 ? '\xE8' : '\xE9');
      // Targets among a few hundred functions, some far, some before the start.
      const auto target = static_cast<std::int64_t>((rng() % 300) * 4096) - 20000;
      auto rel = static_cast<std::uint32_t>(target - static_cast<std::int64_t>(s.size() + 4));
      for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(rel >> (8 * k)));
    } else {
      s.push_back(kOps[rng() % (sizeof kOps - 1)]);
    }
  }
  s.resize(n);
  return s;
}

// ARM code: branch-with-link words (top byte 0xEB) to a few targets.
inline std::string arm(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    std::uint32_t word = rng() % 2 ? 0xE1A00000u | (rng() % 16) : 0;
    if (!word) {
      const std::uint32_t target = (rng() % 200) * 256;
      word = 0xEB000000u | ((target - static_cast<std::uint32_t>(s.size() / 4)) & 0xFFFFFF);
    }
    for (int k = 0; k < 4; ++k) s.push_back(static_cast<char>(word >> (8 * k)));
  }
  s.resize(n);
  return s;
}

// Interleaved samples of `channels` slowly changing signals, as delta filters expect.
inline std::string samples(std::size_t n, unsigned channels, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i / channels);
    const double v = 100 * std::sin(t / (20.0 + 7 * (i % channels))) + (rng() % 3);
    s[i] = static_cast<char>(static_cast<int>(v) + 128);
  }
  return s;
}

struct Piece {
  std::string name;
  std::string data;
  std::vector<rar5enc::Block> blocks;
  std::vector<rar5enc::Filter> filters;
};

struct Stream {
  std::string name;
  std::vector<rarwriter::Entry> entries;  // packed; each stream ends at its last block
  bool solid = false;
  bool unar = true;    // unar 1.10.1 reads it
  bool bsdtar = true;  // within what libarchive reads: version 0, at most 64 MiB
};

using S = rar5enc::Stats;
// Every form the encoder counts, but distances of 4 GiB and more (slots 64-79
// of the wide alphabet), which no test can afford.
constexpr decodertest::Counter<S> kCounters[] = {
    {"literals", &S::literals},
    {"repeatLast", &S::repeatLast},
    {"oldDistance0", &S::oldDistance0},
    {"oldDistance1", &S::oldDistance1},
    {"oldDistance2", &S::oldDistance2},
    {"oldDistance3", &S::oldDistance3},
    {"matches", &S::matches},
    {"distanceNoBits", &S::distanceNoBits},
    {"distanceDirectBits", &S::distanceDirectBits},
    {"distanceAlignOnly", &S::distanceAlignOnly},
    {"distanceBitsAndAlign", &S::distanceBitsAndAlign},
    {"bonusFrom256", &S::bonusFrom256},
    {"bonusFrom8K", &S::bonusFrom8K},
    {"bonusFrom256K", &S::bonusFrom256K},
    {"lengthExtraBits", &S::lengthExtraBits},
    {"deltaFilters", &S::deltaFilters},
    {"e8Filters", &S::e8Filters},
    {"e8e9Filters", &S::e8e9Filters},
    {"armFilters", &S::armFilters},
    {"blocks", &S::blocks},
    {"lastBlocks", &S::lastBlocks},
    {"newTables", &S::newTables},
    {"keptTables", &S::keptTables},
    {"levelRepeats", &S::levelRepeats},
    {"levelZeroRuns", &S::levelZeroRuns},
    {"levelEscapes15", &S::levelEscapes15},
    {"levelHeaderZeros", &S::levelHeaderZeros},
};

// The pieces packed as one archive's entries (one stream when solid), declared
// as `declared` says; the encoder's counters are added to `total`.
inline Stream stream(const std::string& name, const rar5enc::Settings& settings,
                     const rarwriter::Rar5Compression& declared, const std::vector<Piece>& pieces,
                     bool solid, S& total) {
  Stream out{name, {}, solid};
  auto enc = std::make_unique<rar5enc::Encoder>(settings);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const Piece& p = pieces[i];
    rarwriter::Entry e =
        decodertest::packedEntry(p.name, p.data, enc->pack(p.data, p.blocks, p.filters), 0, 0, 0);
    e.prepacked->rar5 = declared;
    out.entries.push_back(std::move(e));
    if (!solid || i + 1 == pieces.size()) {
      decodertest::addCounters(total, enc->stats(), kCounters);
      enc = std::make_unique<rar5enc::Encoder>(settings);
    }
  }
  // libarchive refuses version 1 and dictionaries above 64 MiB. unar 1.10.1
  // reads only the version 0 fields, small windows only without matches across
  // their end (see rar5_encoder.h), and allocates and clears the declared window
  // whatever the data (4 GiB and 22 s here for a 4 GiB one): it checks up to 256 MiB.
  out.bsdtar = declared.version == 0 && declared.dictionary <= (std::uint64_t{64} << 20);
  std::size_t size = 0;
  for (const Piece& p : pieces) size += p.data.size();
  out.unar = declared.version == 0 && declared.dictionary <= (std::uint64_t{256} << 20) &&
             (settings.matchesStopAtWindowEnd || declared.dictionary > (256u << 10) ||
              size <= declared.dictionary);
  return out;
}

inline rarwriter::Rar5Compression declare(std::uint64_t dictionary, std::uint8_t version = 0,
                                          std::uint8_t method = 3) {
  rarwriter::Rar5Compression c;
  c.dictionary = dictionary;
  c.version = version;
  c.method = method;
  return c;
}

// The rows. Sizes are small enough for a debug build.
inline std::vector<Stream> streams(S& total) {
  using rar5enc::Block;
  using rar5enc::Filter;
  using rar5enc::FilterType;
  using rar5enc::Settings;
  constexpr std::uint64_t K = 1024, M = K * K, G = K * M;
  std::vector<Stream> out;
  const Settings plain;

  out.push_back(stream("text", plain, declare(4 * M),
                       {{"a.txt", decodertest::text(1, 300000), {}, {}}}, false, total));
  out.push_back(stream("one_byte", plain, declare(4 * M), {{"b", "x", {}, {}}}, false, total));
  out.push_back(stream("run_of_one_byte", plain, declare(4 * M),
                       {{"z", std::string(100000, 'z'), {}, {}}}, false, total));
  {
    // Copies from up to 3 MiB back, some found only at 32-byte steps.
    Settings s;
    s.dictionary = 4 * M;
    s.effort = 5;
    out.push_back(stream("copies_near_and_far", s, declare(4 * M, 0, 5),
                         {{"c.bin", copies(5000000, 2, 3 * M), {}, {}}}, false, total));
  }
  {
    // A 128 KiB dictionary that the data runs round many times, solid over two
    // entries: more than our decoder's least window (6 MiB), which the second
    // entry wraps with an E8 filter across the wrap.
    Settings s;
    s.dictionary = 128 * K;
    s.effort = 1;
    s.matchesStopAtWindowEnd = true;
    const std::string a = copies(4 * M, 3, 128 * K);
    const std::string b = a.substr(4 * M - 100000) + copies(3 * M, 4, 128 * K);
    out.push_back(stream("window_of_128k_solid", s, declare(128 * K, 0, 1),
                         {{"w1.bin", a, {}, {}},
                          {"w2.bin", b, {}, {{2 * M + 100000 - 3000, 6000, FilterType::E8, 1, 0}}}},
                         true, total));
  }
  {
    // New tables, kept tables, and a level code with lengths up to 15.
    Settings s;
    s.longLevelCodes = true;
    const std::string data = decodertest::text(4, 100000) + copies(100000, 5, 90000);
    out.push_back(
        stream("blocks_new_and_kept_tables", s, declare(4 * M),
               {{"k.bin",
                 data,
                 {{40000, true}, {40000, false}, {40000, true}, {30000, true}, {0, false}},
                 {}}},
               false, total));
  }
  {
    // Every filter, over blocks of 32 KiB: ranges across block boundaries, and
    // a record written a block before its range.
    Settings s;
    s.blockBytes = 32768;
    const std::string data = x86(100000, 6) + samples(50000, 3, 7) + samples(12000, 32, 8) +
                             samples(8000, 1, 9) + arm(40000, 10);
    const std::vector<Filter> filters = {
        {1000, 49000, FilterType::E8, 1, 0},      {60000, 40000, FilterType::E8E9, 1, 30000},
        {100000, 50000, FilterType::Delta, 3, 0}, {150000, 12000, FilterType::Delta, 32, 5},
        {162000, 8000, FilterType::Delta, 1, 0},  {170000, 40000, FilterType::Arm, 1, 70000},
    };
    out.push_back(
        stream("every_filter", s, declare(4 * M), {{"f.bin", data, {}, filters}}, false, total));
  }
  {
    // Filters whose ranges cross the end of a 128 KiB window.
    Settings s;
    s.dictionary = 128 * K;
    s.blockBytes = 50000;
    const std::string data = x86(300000, 11) + samples(100000, 4, 12);
    const std::vector<Filter> filters = {
        {128 * K - 3000, 6000, FilterType::E8, 1, 0},
        {256 * K - 10, 4000, FilterType::E8E9, 1, 20000},
        {300000, 64000, FilterType::Delta, 4, 0},
        {364000, 36000, FilterType::Delta, 4, 100},
    };
    out.push_back(stream("filters_across_the_window_end", s, declare(128 * K),
                         {{"x.bin", data, {}, filters}}, false, total));
  }
  {
    // A solid stream: the window, tables, last distances and length carry on;
    // the second entry starts with the tables in force, its E8 filter counts
    // positions from its own start.
    Settings s;
    const std::string a = decodertest::text(13, 120000);
    const std::string b = x86(60000, 14);
    const std::string c = a.substr(5000, 40000) + copies(60000, 15, 100000);
    out.push_back(
        stream("solid", s, declare(4 * M),
               {{"a.txt", a, {}, {}},
                {"b.exe", b, {{20000, false}, {0, true}}, {{100, 50000, FilterType::E8, 1, 0}}},
                {"c.bin", c, {{0, false}}, {}}},
               true, total));
  }
  // Dictionaries beyond libarchive's 64 MiB, declared for small data.
  out.push_back(stream("dictionary_256m", plain, declare(256 * M),
                       {{"g.txt", decodertest::text(16, 50000), {}, {}}}, false, total));
  out.push_back(stream("dictionary_4g", plain, declare(4 * G),
                       {{"g.txt", decodertest::text(17, 50000), {}, {}}}, false, total));
  {
    // RAR 7: a size between powers of two (1 MiB + 17/32 MiB), the 80-symbol
    // alphabet, copies from up to 1.5 MiB back.
    Settings s;
    s.dictionary = M + 17 * 32 * K;
    s.wideDistances = true;
    out.push_back(stream("rar7_fractional_dictionary", s, declare(s.dictionary, 1),
                         {{"r.bin", copies(3000000, 18, s.dictionary), {}, {}}}, false, total));
  }
  {
    Settings s;
    s.dictionary = 64 * G;
    s.wideDistances = true;
    out.push_back(stream("rar7_64g", s, declare(64 * G, 1),
                         {{"r.txt", decodertest::text(19, 60000), {}, {}}}, false, total));
  }
  {
    // RAR 7's header over RAR 5.0 data: 64 distance symbols.
    Settings s;
    s.dictionary = 3 * M;
    rarwriter::Rar5Compression c = declare(3 * M, 1);
    c.rar5Distances = true;
    out.push_back(stream("rar7_header_rar5_data", s, c,
                         {{"r.bin", copies(4000000, 20, 3 * M), {}, {}}}, false, total));
  }
  return out;
}

}  // namespace rar5test
