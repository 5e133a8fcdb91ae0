// What the decoder tests share: an entry's packed data from memory, a sink
// that keeps what it is given, archives of prepacked entries, unar's
// extraction as the reference, the encoders' counters and the damage checks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "archive.h"
#include "codec/codec.h"
#include "peer_tools.h"
#include "rar_writer.h"
#include "unrar_test_support.h"

namespace decodertest {

// Words and numbers: short and long matches, repeated distances.
inline std::string text(unsigned seed, std::size_t size) {
  static const char* const words[] = {"the ",   "window ", "archive ", "of ",     "solid ",
                                      "table ", "length ", "and ",     "stream ", "code "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    if (rng() % 7 == 0) s += "id=" + std::to_string(rng() % 1000) + "; ";
    s += words[rng() % 10];
    if (rng() % 13 == 0) s += "\n";
  }
  s.resize(size);
  return s;
}

inline std::string noise(unsigned seed, std::size_t size) {
  std::mt19937 rng(seed);
  std::string s(size, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

// Reads from memory, as an entry's packed data.
class MemoryStream final : public unrar::InStream {
 public:
  explicit MemoryStream(std::string data) : data_(std::move(data)) {}
  int read(std::uint8_t* buf, std::size_t n, std::size_t& got) override {
    got = std::min(n, data_.size() - pos_);
    std::memcpy(buf, data_.data() + pos_, got);
    pos_ += got;
    return 0;
  }
  std::uint64_t remaining() const override { return data_.size() - pos_; }

 private:
  std::string data_;
  std::size_t pos_ = 0;
};

struct StringSink final : unrar::Sink {
  std::string out;
  int put(const std::uint8_t* p, std::size_t n) override {
    out.append(reinterpret_cast<const char*>(p), n);
    return 0;
  }
};

// An entry whose data goes into the archive as `stream`, packed by one of
// the test encoders: version, method byte and dictionary (64 KiB << n).
inline rarwriter::Entry packedEntry(const std::string& name, const std::string& data,
                                    const std::string& stream, std::uint8_t version,
                                    std::uint8_t method, std::uint8_t dictionary) {
  rarwriter::Entry e;
  e.name = name;
  e.data = data;
  e.prepacked = rarwriter::Entry::Prepacked{stream, version, method, dictionary, {}};
  return e;
}

inline std::string writeArchive(const unrartest::TempDir& tmp, const std::string& name,
                                const std::vector<rarwriter::Entry>& entries, bool solid,
                                rarwriter::Format format) {
  rarwriter::Options opt;
  opt.format = format;
  opt.solidFlag = solid;
  const std::string archive = tmp.file(name);
  rarwriter::write(archive, entries, opt);
  return archive;
}

inline std::string writeRar4(const unrartest::TempDir& tmp, const std::string& name,
                             const std::vector<rarwriter::Entry>& entries, bool solid) {
  return writeArchive(tmp, name, entries, solid, rarwriter::Format::Rar4);
}

enum class Peer { None, Unar, Bsdtar };

// Our library and the peer must both give back every entry, and nothing else.
inline void expectRoundTrip(const unrartest::TempDir& tmp, const std::string& archive,
                            const std::vector<rarwriter::Entry>& entries, Peer peer,
                            const std::string& password = "") {
  const std::string tag = archive.substr(archive.rfind('/') + 1);
  const peers::Tree expected = peers::expectedTree(entries);
  std::filesystem::create_directories(tmp.file(tag + ".ours"));
  unrartest::CallbackScript allowLargeDictionaries;
  allowLargeDictionaries.largeDictAnswer = 1;
  const auto ours = unrartest::runAll(archive, RAR_OM_EXTRACT, RAR_EXTRACT, tmp.file(tag + ".ours"),
                                      &allowLargeDictionaries, password);
  EXPECT_EQ(ours.status, std::vector<int>(entries.size(), ERAR_SUCCESS)) << tag;
  EXPECT_EQ(peers::compareTrees(expected, peers::readTree(tmp.file(tag + ".ours"))), "")
      << "(ours) " << tag;
  if (peer == Peer::None) return;
  const char* tool = peer == Peer::Unar ? "unar" : "bsdtar";
  if (!peers::haveTool(tool)) GTEST_SKIP() << tool << " missing: run scripts/setup-deps.sh";
  const std::string dest = tmp.file(tag + "." + tool);
  const peers::CommandResult r = peer == Peer::Unar ? peers::unarExtract(archive, dest, password)
                                                    : peers::bsdtarExtract({archive}, dest);
  EXPECT_EQ(r.status, 0) << tool << " " << tag << ": " << r.output;
  EXPECT_EQ(peers::compareTrees(expected, peers::readTree(dest)), "") << "(" << tool << ") " << tag;
}

// Our library and unar must both give back every entry, and nothing else;
// without `byUnar`, our library only.
inline void checkBothDecoders(const std::vector<rarwriter::Entry>& entries, bool solid,
                              const std::string& password = "", bool byUnar = true) {
  unrartest::TempDir tmp;
  expectRoundTrip(tmp, writeRar4(tmp, "a.rar", entries, solid), entries,
                  byUnar ? Peer::Unar : Peer::None, password);
}

// An encoder's counters, by name: the streams of a test add theirs up, and
// every form of the format must have been used at least once.
template <typename Stats>
using Counter = std::pair<const char*, std::uint64_t Stats::*>;

template <typename Stats, std::size_t N>
void addCounters(Stats& total, const Stats& s, const Counter<Stats> (&counters)[N]) {
  for (const auto& [name, member] : counters) total.*member += s.*member;
}

template <typename Stats, std::size_t N>
void expectEveryCounterUsed(const Stats& total, const Counter<Stats> (&counters)[N]) {
  for (const auto& [name, member] : counters) EXPECT_GT(total.*member, 0u) << name;
}

// Damaged streams end with an error or with exactly the entry's size, never
// out of bounds or in an endless loop; a stream cut in half ends with an
// error. `whole` is the stream without what the decoder never needs. With
// `garbageToo`, an empty stream fails too, and every tenth damaged one is noise.
inline void expectDamagedStreamsFailCleanly(std::unique_ptr<unrar::Decoder> (*make)(bool),
                                            const unrar::Entry& e, const std::string& whole,
                                            const std::string& data, bool garbageToo) {
  auto run = [&](const std::string& in, std::string* out) {
    auto dec = make(false);
    StringSink sink;
    const int rc = unrar::errorCodeOf(dec->decode(e, std::make_unique<MemoryStream>(in), 0, sink));
    EXPECT_LE(sink.out.size(), data.size());
    if (out) *out = sink.out;
    return rc;
  };
  std::string out;
  ASSERT_EQ(run(whole, &out), ERAR_SUCCESS);
  EXPECT_EQ(out, data);
  EXPECT_EQ(run(whole.substr(0, whole.size() / 2), nullptr), ERAR_BAD_DATA);
  if (garbageToo) {
    EXPECT_EQ(run(std::string(), nullptr), ERAR_BAD_DATA);
  }

  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    std::string bad = garbageToo && i % 10 == 0 ? noise(100 + i, 2000) : whole;
    for (int k = 0; k < 1 + i % 4; ++k)
      bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
    const int rc = run(bad, &out);
    EXPECT_TRUE(rc == ERAR_BAD_DATA || (rc == ERAR_SUCCESS && out.size() == data.size())) << rc;
  }
}

// The same through an archive: `entryFor` makes the entry that carries a
// damaged stream; 40 rounds, every fourth stream cut short. Returns how many
// rounds failed.
inline int expectDamagedArchivesFailCleanly(
    const std::string& stream, const std::string& data, unsigned seed,
    const std::function<rarwriter::Entry(const std::string&)>& entryFor) {
  std::mt19937 rng(seed);
  unrartest::TempDir tmp;
  int failures = 0;
  for (int round = 0; round < 40; ++round) {
    std::string bad = stream;
    if (round % 4 == 0) {
      bad.resize(rng() % bad.size());
    } else {
      for (int k = 0; k < 1 + round % 3; ++k)
        bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
    }
    const std::string name = "d" + std::to_string(round);
    const std::string archive = writeRar4(tmp, name + ".rar", {entryFor(bad)}, false);
    const auto x = unrartest::runAll(archive, RAR_OM_EXTRACT, RAR_EXTRACT, tmp.file(name));
    EXPECT_EQ(x.status.size(), 1u);
    if (x.status.size() == 1 && x.status[0] == ERAR_SUCCESS)
      EXPECT_TRUE(unrartest::readFile(tmp.file(name + "/f")) == data) << "round " << round;
    else
      ++failures;
  }
  return failures;
}

}  // namespace decodertest
