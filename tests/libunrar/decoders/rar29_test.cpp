// The RAR 2.9 LZ decoder on streams of our own encoder: every file must come
// out as it went in, through our library and through unar alike.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "decoder_test_support.h"
#include "peer_tools.h"
#include "rar29_encoder.h"
#include "rar_writer.h"
#include "unrar_test_support.h"

namespace {

using rar29enc::Block;

// Text-like data: words from a small vocabulary, so matches of every length
// and distance, old distances and repeats all occur.
std::string words(std::size_t n, unsigned seed) {
  static const char* kWords[] = {"alpha ",  "beta ", "gamma\n", "delta ", "epsilon ",
                                 "zeta ",   "eta, ", "theta ",  "iota ",  "kappa.\n",
                                 "lambda ", "mu ",   "nu ",     "xi ",    "omicron "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += kWords[rng() % 15];
  s.resize(n);
  return s;
}

// Random bytes with copies of earlier stretches from near and far, some of
// them beyond 8 KiB and 256 KiB, where lengths get their bonus.
std::string copies(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    unsigned pick = rng() % 4;
    if (s.size() < 1000 || pick == 0) {
      for (int i = 0; i < 40; ++i) s.push_back(static_cast<char>(rng()));
      continue;
    }
    std::size_t maxBack = pick == 1 ? 300 : pick == 2 ? 0x3000 : 0x50000;
    std::size_t back = 1 + rng() % std::min(maxBack, s.size());
    std::size_t len = 2 + rng() % (pick == 1 ? 300 : 40);
    for (std::size_t i = 0; i < len; ++i) s.push_back(s[s.size() - back]);
  }
  s.resize(n);
  return s;
}

rarwriter::Entry prepacked(const std::string& name, const std::string& data,
                           const std::string& packed) {
  return decodertest::packedEntry(name, data, packed, 29, 0x33, 3);  // 512 KiB dictionary
}

using decodertest::checkBothDecoders;

struct Case {
  const char* name;
  std::string data;
  std::vector<Block> blocks;
};

TEST(Rar29Lz, WriterStreamsDecodeAsUnarDecodesThem) {
  const std::vector<Case> cases = {
      {"text", words(200000, 1), {}},
      {"copies_near_and_far", copies(1500000, 2), {}},
      {"new_tables_each_block", words(120000, 3), {{30000, false}, {30000, false}, {0, false}}},
      {"tables_added_to_old", copies(300000, 4), {{100000, false}, {100000, true}, {0, true}}},
      {"one_byte", "x", {}},
      {"run_of_one_byte", std::string(100000, 'z'), {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    rar29enc::Encoder enc(std::size_t{512} << 10);
    std::string packed = enc.pack(c.data, c.blocks);
    checkBothDecoders({prepacked(c.name, c.data, packed)}, false);
  }
}

TEST(Rar29Lz, EncoderCoversEveryLzCode) {
  rar29enc::Encoder enc(std::size_t{512} << 10);
  enc.pack(copies(1500000, 2) + words(100000, 5), {{600000, false}, {0, true}});
  using S = rar29enc::Stats;
  constexpr decodertest::Counter<S> kCodes[] = {{"literals", &S::literals},
                                                {"repeatLast", &S::repeatLast},
                                                {"oldDistance", &S::oldDistance},
                                                {"shortMatch", &S::shortMatch},
                                                {"match", &S::match},
                                                {"matchFrom8K", &S::matchFrom8K},
                                                {"matchFrom256K", &S::matchFrom256K},
                                                {"lowDistCodes", &S::lowDistCodes},
                                                {"lowDistRepeats", &S::lowDistRepeats},
                                                {"keptTables", &S::keptTables}};
  decodertest::expectEveryCounterUsed(enc.stats(), kCodes);
}

// A solid stream: the second entry goes on with the first one's tables, the
// third reads tables added to those; all share one window.
TEST(Rar29Lz, SolidStreamContinuesWindowAndTables) {
  rar29enc::Encoder enc(std::size_t{512} << 10);
  const std::string a = words(80000, 6), b = a.substr(1000, 30000) + copies(50000, 7),
                    c = b + words(20000, 8);
  std::vector<rarwriter::Entry> entries = {
      prepacked("a.txt", a, enc.pack(a, {}, true)),
      prepacked("b.bin", b, enc.pack(b, {}, false)),
      prepacked("c.bin", c, enc.pack(c, {{0, true}}, false)),
  };
  checkBothDecoders(entries, true);

  // Straight into the decoder, the second entry of unknown size: it ends
  // with its end-of-file code, and the third goes on from there.
  auto dec = unrar::makeRar29Decoder(true);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    unrar::Entry e;
    e.unpVer = 29;
    e.method = 3;
    e.dictBytes = std::size_t{512} << 10;
    e.unpSizeUnknown = i == 1;
    e.unpSize = e.unpSizeUnknown ? UINT64_MAX : entries[i].data.size();
    decodertest::StringSink sink;
    EXPECT_EQ(
        unrar::errorCodeOf(dec->decode(
            e, std::make_unique<decodertest::MemoryStream>(entries[i].prepacked->bytes), 0, sink)),
        ERAR_SUCCESS);
    EXPECT_TRUE(sink.out == entries[i].data) << entries[i].name;
  }
}

// The packed data of a RAR 4 archive's first file, with its unpacked size.
bool firstPackedFile(const std::string& archive, std::string& packed, std::uint64_t& size) {
  auto le = [&](std::size_t at, int n) {
    std::uint64_t v = 0;
    for (int i = n; i-- > 0;) v = v << 8 | static_cast<unsigned char>(archive[at + i]);
    return v;
  };
  for (std::size_t p = 7; p + 7 <= archive.size();) {
    const auto type = static_cast<unsigned char>(archive[p + 2]);
    const std::uint64_t flags = le(p + 3, 2), headSize = le(p + 5, 2);
    if (headSize < 7) return false;
    std::uint64_t dataSize = (flags & 0x8000) ? le(p + 7, 4) : 0;
    if (type == 0x74) {
      dataSize = le(p + 7, 4);
      size = le(p + 11, 4);
      packed = archive.substr(p + headSize, dataSize);
      return packed.size() == dataSize;
    }
    p += headSize + dataSize;
  }
  return false;
}

// RAR's own stream with E8 filter blocks, continuing a solid stream whose
// first entry leaves it just short of the window's end: the filter blocks
// straddle the wrap and must still come out right.
TEST(Rar29Lz, FilterBlocksAcrossTheWindowWrap) {
  const std::string corpus =
      std::string(QUILLMOSS_CORPUS_DIR) + "/libarchive/test_read_format_rar_filter.rar";
  ASSERT_TRUE(unrartest::exists(corpus)) << "corpus file missing: " << corpus;
  std::string filtered;
  std::uint64_t filteredSize = 0;
  ASSERT_TRUE(firstPackedFile(unrartest::readFile(corpus), filtered, filteredSize));

  // The file as RAR packed it, checked against the hash RAR's own library gives.
  unrartest::TempDir tmp;
  ASSERT_EQ(unrartest::runAll(corpus, RAR_OM_EXTRACT, RAR_EXTRACT, tmp.file("ref")).status,
            std::vector<int>{ERAR_SUCCESS});
  const std::string reference = unrartest::readFile(tmp.file("ref/bsdcat.exe"));
  ASSERT_EQ(reference.size(), filteredSize);
  ASSERT_EQ(unrartest::sha256Hex(reference),
            "a961532b3a196e0b2c0126ad6f35d511c9fdfeadacbe78a1b15dc221251ad9a2");

  std::string first = words(1000, 11);
  while (first.size() < (std::size_t{4} << 20) - 30000) first += first.substr(0, 1000);
  first.resize((std::size_t{4} << 20) - 30000);
  rar29enc::Encoder enc(std::size_t{4} << 20);
  rarwriter::Entry a = prepacked("first.txt", first, enc.pack(first, {}, false));
  rarwriter::Entry b = prepacked("bsdcat.exe", reference, filtered);
  a.prepacked->dictionary = b.prepacked->dictionary = 6;  // 4 MiB
  const std::string archive = decodertest::writeRar4(tmp, "wrap.rar", {a, b}, true);
  EXPECT_EQ(unrartest::runAll(archive, RAR_OM_EXTRACT, RAR_EXTRACT, tmp.file("out")).status,
            (std::vector<int>{ERAR_SUCCESS, ERAR_SUCCESS}));
  EXPECT_TRUE(unrartest::readFile(tmp.file("out/first.txt")) == first);
  EXPECT_TRUE(unrartest::readFile(tmp.file("out/bsdcat.exe")) == reference);
}

// RAR's own stream with E8 filter blocks, whole and damaged, straight into the
// decoder with its worker thread off and forced on: the same bytes and the
// same code every time.
TEST(Rar29Lz, OneAndTwoThreadsGiveTheSameBytesAndCodes) {
  const std::string corpus =
      std::string(QUILLMOSS_CORPUS_DIR) + "/libarchive/test_read_format_rar_filter.rar";
  std::string packed;
  std::uint64_t size = 0;
  ASSERT_TRUE(firstPackedFile(unrartest::readFile(corpus), packed, size));
  unrar::Entry e;
  e.unpVer = 29;
  e.method = 3;
  e.dictBytes = std::size_t{4} << 20;
  e.unpSize = size;
  std::mt19937 rng(13);
  for (int round = 0; round < 60; ++round) {
    std::string bad = packed;
    if (round % 4 == 1) bad.resize(rng() % bad.size());
    if (round % 4 >= 2)
      for (int k = 0; k < 1 + round % 3; ++k)
        bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
    std::string out[2];
    int rc[2];
    for (unsigned threads : {1u, 2u}) {
      unrar::setLzThreading(threads, 0);
      decodertest::StringSink sink;
      rc[threads - 1] = unrar::errorCodeOf(unrar::makeRar29Decoder(false)->decode(
          e, std::make_unique<decodertest::MemoryStream>(bad), 0, sink));
      out[threads - 1] = sink.out;
    }
    EXPECT_EQ(rc[0], rc[1]) << round;
    EXPECT_TRUE(out[0] == out[1]) << round;
    if (round == 0) {
      EXPECT_EQ(rc[0], ERAR_SUCCESS);
    }
  }
  unrar::setLzThreading(0, 0);
}

// RAR's delta program as RAR writes it into filter records (taken from a
// RAR-made archive of libarchive's tests).
const std::string kDeltaProgram(
    "\x2f\x01\x9a\x41\x80\xec\x27\x48\x2f\x09\x76\x6d\xd3\xea\x41\x5b\x59\x44\xe8\x17"
    "\x5c\xe1\x6c\x91\x4c\x4e\x3f\x77\x00",
    29);

// Filter records are checked when they are read: a block longer than the
// filters' memory, and more filters on one block than the bound (each runs on
// the previous one's output), fail even where the block lies beyond the entry.
TEST(Rar29Lz, FilterRecordsAreCheckedWhenRead) {
  const std::string data = copies(200000, 12);
  struct Row {
    const char* name;
    std::uint32_t start;
    std::uint32_t length;
    int filters;
    int status;
  };
  const Row rows[] = {
      {"one_delta_filter", 1000, 0x10000, 1, ERAR_SUCCESS},
      {"sixteen_on_one_block", 1000, 0x10000, 16, ERAR_SUCCESS},
      {"seventeen_on_one_block", 1000, 0x10000, 17, ERAR_BAD_DATA},
      {"block_longer_than_the_memory", 300000, 0x40001, 1, ERAR_BAD_DATA},
  };
  unrartest::TempDir tmp;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<rar29enc::FilterRecord> records = {{0, row.start, row.length, 1, kDeltaProgram}};
    records.resize(static_cast<std::size_t>(row.filters), {std::nullopt, row.start, {}, 1, {}});
    std::string expected = data;
    for (int k = 0; k < row.filters && row.start < data.size(); ++k) {
      std::uint8_t last = 0;
      for (std::size_t i = row.start; i < row.start + row.length; ++i)
        expected[i] = static_cast<char>(last -= static_cast<std::uint8_t>(expected[i]));
    }
    rar29enc::Encoder enc(std::size_t{512} << 10);
    const rarwriter::Entry e = prepacked("f", expected, enc.pack(data, {{0, false, records}}));
    const std::string archive =
        decodertest::writeRar4(tmp, std::string(row.name) + ".rar", {e}, false);
    const std::string out = tmp.file(row.name);
    EXPECT_EQ(unrartest::runAll(archive, RAR_OM_EXTRACT, RAR_EXTRACT, out).status,
              std::vector<int>{row.status});
    if (row.status == ERAR_SUCCESS) {
      EXPECT_TRUE(unrartest::readFile(out + "/f") == expected);
    }
  }
}

// Damaged streams end with an error status or the right data, never a crash
// or a hang.
TEST(Rar29Lz, DamagedStreamsFailCleanly) {
  const std::string data = copies(200000, 9);
  rar29enc::Encoder enc(std::size_t{512} << 10);
  const std::string packed = enc.pack(data, {{100000, false}, {0, true}});
  decodertest::expectDamagedArchivesFailCleanly(
      packed, data, 10, [&](const std::string& bad) { return prepacked("f", data, bad); });
}

}  // namespace
