// The RAR 5 decoder on streams of our own encoder: every file must come out as
// it went in, through our library, unar and bsdtar alike.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

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
    const auto r = unrartest::runAll(archive, RAR_OM_EXTRACT, RAR_EXTRACT, tmp.file("out"));
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

}  // namespace
