// The RAR 5 decoder on streams of our own encoder: every file must come out as
// it went in, through our library, unar and bsdtar alike, on one thread and on
// two; damaged streams fail cleanly.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "codec/rar5_lz.h"
#include "core/available_memory.h"
#include "decoder_test_support.h"
#include "rar5_streams.h"
#include "unrar_test_support.h"

namespace {

using decodertest::Peer;

// A stream ends at its last block, as RAR writes it and libarchive wants it;
// unar 1.10.1 reads past some last codes, so its copy of the archive carries a
// byte after the last block, which our library must pass over too.
void checkStream(const rar5test::Stream& s) {
  SCOPED_TRACE(s.name);
  unrartest::TempDir tmp;
  const auto format = rarwriter::Format::Rar5;
  const std::string exact = decodertest::writeArchive(tmp, "exact.rar", s.entries, s.solid, format);
  decodertest::expectRoundTrip(tmp, exact, s.entries, s.bsdtar ? Peer::Bsdtar : Peer::None);
  std::vector<rarwriter::Entry> padded = s.entries;
  for (rarwriter::Entry& e : padded) e.prepacked->bytes.push_back('\0');
  const std::string withByte =
      decodertest::writeArchive(tmp, "padded.rar", padded, s.solid, format);
  decodertest::expectRoundTrip(tmp, withByte, padded, s.unar ? Peer::Unar : Peer::None);
}

// The rows, made once, with the counters of the encoders that made them.
struct Made {
  rar5enc::Stats total;
  std::vector<rar5test::Stream> streams;
};
const Made& made() {
  static const Made m = [] {
    Made x;
    x.streams = rar5test::streams(x.total);
    return x;
  }();
  return m;
}

TEST(Rar5Lz, WriterStreamsDecodeAsPeersDecodeThem) {
  for (const rar5test::Stream& s : made().streams) checkStream(s);
}

TEST(Rar5Lz, EncoderCoversEveryCode) {
  decodertest::expectEveryCounterUsed(made().total, rar5test::kCounters);
}

// What the archive's header tells the decoder about the stream's entry `i`.
unrar::Entry entryOf(const rar5test::Stream& s, std::size_t i) {
  const rarwriter::Entry& w = s.entries[i];
  const rarwriter::Rar5Compression& c = w.prepacked->rar5;
  unrar::Entry e;
  e.method = c.method;
  e.unpVer = c.version == 1 ? 70 : 50;
  e.rar5CompInfo = c.rar5Distances ? 0x100000 : 0;
  e.unpSize = w.data.size();
  e.solid = s.solid && i > 0;
  e.dictBytes = c.dictionary;
  return e;
}

// Every stream straight through the decoder, its worker thread forced on and off.
TEST(Rar5Lz, OneAndTwoThreadsGiveTheSameFiles) {
  for (unsigned threads : {1u, 2u}) {
    unrar::setLzThreading(threads, 0);
    for (const rar5test::Stream& s : made().streams) {
      auto dec = unrar::makeRar5Decoder(s.solid);
      for (std::size_t i = 0; i < s.entries.size(); ++i) {
        decodertest::StringSink sink;
        const auto& w = s.entries[i];
        const int rc = unrar::errorCodeOf(
            dec->decode(entryOf(s, i),
                        std::make_unique<decodertest::MemoryStream>(w.prepacked->bytes), 0, sink));
        EXPECT_EQ(rc, ERAR_SUCCESS) << s.name << " " << i << ", threads " << threads;
        EXPECT_TRUE(sink.out == w.data) << s.name << " " << i << ", threads " << threads;
      }
    }
  }
  unrar::setLzThreading(0, 0);
}

const rar5test::Stream& row(const std::string& name) {
  for (const rar5test::Stream& s : made().streams)
    if (s.name == name) return s;
  throw std::invalid_argument("no row " + name);
}

TEST(Rar5Lz, DamagedStreamsFailCleanly) {
  const rar5test::Stream& s = row("every_filter");
  decodertest::expectDamagedStreamsFailCleanly(unrar::makeRar5Decoder, entryOf(s, 0),
                                               s.entries[0].prepacked->bytes, s.entries[0].data,
                                               true);
}

// A stream whose new distances reach `bias` bytes further back than the data:
// before the stream's start (from 4 GiB back, RAR 7's slots 64 and up).
rar5test::Stream reachingBack(std::uint64_t bias) {
  const std::string data = decodertest::text(22, 20000);
  rar5enc::Settings settings;
  settings.dictionary = std::uint64_t{8} << 30;
  settings.wideDistances = true;
  settings.distanceBias = bias;
  rar5test::Stream s{"far", {}, false};
  s.entries.push_back(
      decodertest::packedEntry("f", data, rar5enc::Encoder(settings).pack(data), 0, 0, 0));
  s.entries[0].prepacked->rar5 = rar5test::declare(settings.dictionary, 1);
  return s;
}

// Each kind of damage is named, and the name gives the public code; matches
// reaching before the stream's start are damage, not zeros.
TEST(Rar5Lz, DamageIsNamed) {
  struct FailingSink final : unrar::Sink {
    int put(const std::uint8_t*, std::size_t) override { return ERAR_EWRITE; }
  };
  const rar5test::Stream& s = row("every_filter");
  const rar5test::Stream& solid = row("solid");
  const rar5test::Stream near = reachingBack(30000);
  const rar5test::Stream far = reachingBack(std::uint64_t{4} << 30);
  const std::string& whole = s.entries[0].prepacked->bytes;
  std::string badCheck = whole;
  badCheck[1] = static_cast<char>(badCheck[1] ^ 1);
  const struct {
    const char* name;
    const rar5test::Stream& source;
    std::string stream;
    std::uint64_t dictBytes;  // 0: the entry's own
    bool failingSink;
    unrar::Failure why;
    int code;
    // The source's entries before this one are decoded first in the same
    // session, every one as a non-solid entry.
    std::size_t entry = 0;
  } rows[] = {
      {"whole", s, whole, 0, false, unrar::Failure::None, ERAR_SUCCESS},
      {"cut in half", s, whole.substr(0, whole.size() / 2), 0, false,
       unrar::Failure::TruncatedStream, ERAR_BAD_DATA},
      {"no block", s, std::string(), 0, false, unrar::Failure::TruncatedStream, ERAR_BAD_DATA},
      {"block check byte", s, badCheck, 0, false, unrar::Failure::BadSymbol, ERAR_BAD_DATA},
      {"dictionary", s, whole, unrar::rar5lz::kMaxDictionary * 2, false,
       unrar::Failure::DictionaryTooLarge, ERAR_BAD_DATA},
      {"write fails", s, whole, 0, true, unrar::Failure::Reported, ERAR_EWRITE},
      {"30000 before the start", near, near.entries[0].prepacked->bytes, 0, false,
       unrar::Failure::DistanceOutsideWindow, ERAR_BAD_DATA},
      {"4 GiB before the start", far, far.entries[0].prepacked->bytes, 0, false,
       unrar::Failure::DistanceOutsideWindow, ERAR_BAD_DATA},
      // A solid stream's second entry, without the solid flag: it starts
      // afresh, without the first one's tables and window.
      {"non-solid entry after another", solid, solid.entries[1].prepacked->bytes, 0, false,
       unrar::Failure::BadTable, ERAR_BAD_DATA, 1},
  };
  for (const auto& r : rows) {
    auto dec = unrar::makeRar5Decoder(false);
    for (std::size_t i = 0; i < r.entry; ++i) {
      decodertest::StringSink before;
      unrar::Entry e = entryOf(r.source, i);
      e.solid = false;
      ASSERT_EQ(dec->decode(e,
                            std::make_unique<decodertest::MemoryStream>(
                                r.source.entries[i].prepacked->bytes),
                            0, before)
                    .why,
                unrar::Failure::None)
          << r.name;
    }
    unrar::Entry e = entryOf(r.source, r.entry);
    e.solid = false;
    if (r.dictBytes) e.dictBytes = r.dictBytes;
    decodertest::StringSink good;
    FailingSink bad;
    const unrar::Outcome o = dec->decode(e, std::make_unique<decodertest::MemoryStream>(r.stream),
                                         0, r.failingSink ? static_cast<unrar::Sink&>(bad) : good);
    EXPECT_EQ(o.why, r.why) << r.name;
    EXPECT_EQ(unrar::errorCodeOf(o), r.code) << r.name;
    // A session that failed stays broken for the entries after.
    if (o) {
      EXPECT_EQ(dec->decode(e, std::make_unique<decodertest::MemoryStream>(r.stream), 0, good).why,
                unrar::Failure::BrokenSession)
          << r.name;
    }
  }
}

// An entry of unknown size declaring RAR 7's largest dictionary gets a window
// that follows its data (for known sizes, see the test below).
TEST(Rar5Lz, MemoryFollowsTheDataWhenTheSizeIsUnknown) {
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
  const rar5test::Stream& s = row("rar7_64g");
  unrar::Entry e = entryOf(s, 0);
  e.dictBytes = unrar::rar5lz::kMaxDictionary;
  e.unpSizeUnknown = true;
  HeapSink sink;
  ASSERT_EQ(
      unrar::makeRar5Decoder(false)
          ->decode(e, std::make_unique<decodertest::MemoryStream>(s.entries[0].prepacked->bytes), 0,
                   sink)
          .why,
      unrar::Failure::None);
  EXPECT_TRUE(sink.out == s.entries[0].data);
  EXPECT_LT(sink.peak, 32u << 20);
}

// RAR 7 marks its entries with algorithm version 1 (reported as 70): stored
// or compressed, they are ours to decode; an unknown version is not.
TEST(Rar5Lz, EntriesOfRar7AreDecodable) {
  const struct {
    std::uint32_t unpVer, method;
    bool decodable;
  } rows[] = {{50, 0, true}, {50, 3, true},    {70, 0, true},
              {70, 5, true}, {9999, 0, false}, {9999, 3, false}};
  for (const auto& r : rows) {
    unrar::Entry e;
    e.unpVer = r.unpVer;
    e.method = r.method;
    e.dictBytes = 128u << 10;
    EXPECT_EQ(unrar::canDecode(unrar::Format::Rar5, e), r.decodable) << r.unpVer << " " << r.method;
  }
}

// The memory a process has touched at its peak, and now, in KiB.
long statusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
  return -1;
}

// A RAR 7 entry declaring a 64 GiB dictionary for 60 KB of data: it extracts,
// and the window follows the data, not the declaration. Extraction runs in a
// child so that its peak memory is measured from where it starts.
TEST(Rar5Lz, TinyArchiveDeclaring64GiBExtractsItsSmallEntry) {
  rar5enc::Settings s;
  s.dictionary = std::uint64_t{64} << 30;
  s.wideDistances = true;
  const std::string data = decodertest::text(21, 60000);
  rar5enc::Encoder enc(s);
  rarwriter::Entry e = decodertest::packedEntry("big-window.txt", data, enc.pack(data), 0, 0, 0);
  e.prepacked->rar5 = rar5test::declare(s.dictionary, 1);
  unrartest::TempDir tmp;
  const std::string archive =
      decodertest::writeArchive(tmp, "a.rar", {e}, false, rarwriter::Format::Rar5);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const long before = statusKb("VmRSS:");
    unrartest::CallbackScript allow;
    allow.largeDictAnswer = 1;
    const auto r = unrartest::runAll(archive, RAR_OM_EXTRACT, RAR_EXTRACT, tmp.file("out"), &allow);
    const long grown = statusKb("VmHWM:") - before;
    _exit(r.status != std::vector<int>{ERAR_SUCCESS} ? 1 : grown >= 64 * 1024 ? 2 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_NE(WEXITSTATUS(status), 1) << "extraction failed";
  EXPECT_NE(WEXITSTATUS(status), 2) << "peak memory grew by 64 MiB or more";
  EXPECT_TRUE(unrartest::readFile(tmp.file("out/big-window.txt")) == data);
}

// A window that would grow past the memory available fails its entry with
// ERAR_NO_MEMORY before the memory is asked for, and leaves no file behind;
// an entry whose window fits is extracted.
TEST(Rar5Lz, AWindowBeyondTheMemoryAvailableFailsItsEntry) {
  const std::string small = decodertest::text(23, 100000);
  const std::string large = decodertest::text(24, 3000000);
  rar5enc::Settings s;
  s.dictionary = 4u << 20;
  std::vector<rarwriter::Entry> entries;
  for (const auto& [name, data] : {std::pair{"small.txt", small}, std::pair{"large.txt", large}}) {
    entries.push_back(
        decodertest::packedEntry(name, data, rar5enc::Encoder(s).pack(data), 0, 0, 0));
    entries.back().prepacked->rar5 = rar5test::declare(s.dictionary);
  }
  unrartest::TempDir tmp;
  const std::string archive =
      decodertest::writeArchive(tmp, "a.rar", entries, false, rarwriter::Format::Rar5);
  unrar::setAvailableMemoryProbe([]() -> std::uint64_t { return 1u << 20; });
  std::vector<int> status;
  {
    unrar::Archive a(RAR_OM_EXTRACT, nullptr, 0);
    ASSERT_EQ(a.open(archive).code, ERAR_SUCCESS);
    unrar::Entry e;
    std::string volume;
    const std::string out = tmp.file("out");
    while (a.readHeader(e, volume) == ERAR_SUCCESS)
      status.push_back(a.processFile(RAR_EXTRACT, out.c_str(), nullptr));
  }
  unrar::setAvailableMemoryProbe(nullptr);
  EXPECT_EQ(status, (std::vector<int>{ERAR_SUCCESS, ERAR_NO_MEMORY}));
  EXPECT_EQ(unrartest::listTree(tmp.file("out")), std::vector<std::string>{"small.txt"});
  EXPECT_TRUE(unrartest::readFile(tmp.file("out/small.txt")) == small);
}

}  // namespace
