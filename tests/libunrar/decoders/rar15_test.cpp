// RAR 1.5 streams from our own encoder, and entries under the ciphers of RAR
// 1.3, 1.5 and 2.0: unar, the reference for these formats, and our library
// must both give back the input.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "codec.h"
#include "decoder_test_support.h"
#include "peer_tools.h"
#include "rar15_encoder.h"
#include "rar_writer.h"
#include "unrar.h"
#include "unrar_test_support.h"

namespace {

using decodertest::noise;
using decodertest::text;

// Fixed-width records: the same distances again and again.
std::string records(unsigned seed, std::size_t count) {
  std::mt19937 rng(seed);
  std::string s;
  for (std::size_t i = 0; i < count; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%06zu|%-10s|%4u|%c\n", i, rng() % 3 ? "alpha" : "omega",
                  static_cast<unsigned>(rng() % 50), rng() % 2 ? 'Y' : 'N');
    s += line;
  }
  return s;
}

// Noise with a copy from 40 KiB back (the far form) and one from 10 KiB back.
std::string farCopies() {
  std::string s = noise(7, 45000);
  s += s.substr(2000, 3000);
  s += s.substr(38000, 2000);
  s += text(8, 5000);
  return s;
}

rarwriter::Entry entry(const std::string& name, const std::string& data) {
  rarwriter::Entry e;
  e.name = name;
  e.data = data;
  return e;
}

rarwriter::Entry packed(const std::string& name, const std::string& data,
                        const std::string& stream) {
  rarwriter::Entry e = entry(name, data);
  e.prepacked = rarwriter::Entry::Prepacked{stream, 15, 0x33, 0};
  return e;
}

class Rar15Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!peers::haveTool("unar")) GTEST_SKIP() << "unar missing: run scripts/setup-deps.sh";
  }

  std::string write(const std::vector<rarwriter::Entry>& entries, bool solid,
                    const std::string& label) {
    const std::string dir = tmp_ / label;
    std::filesystem::create_directories(dir);
    rarwriter::Options o;
    o.format = rarwriter::Format::Rar4;
    o.solidFlag = solid;
    rarwriter::write(dir + "/t.rar", entries, o);
    return dir + "/t.rar";
  }

  // Has unar and our library extract the archive, and compares both with the input.
  void expectRoundTrip(const std::vector<rarwriter::Entry>& entries, bool solid,
                       const std::string& label, const std::string& password = "") {
    const std::string path = write(entries, solid, label);
    const peers::Tree expected = peers::expectedTree(entries);

    const std::string byUnar = tmp_ / (label + "-unar");
    const peers::CommandResult r = peers::unarExtract(path, byUnar, password);
    EXPECT_EQ(r.status, 0) << label << ": " << r.output;
    EXPECT_EQ(peers::compareTrees(expected, peers::readTree(byUnar)), "") << label << " (unar)";

    const std::string byUs = tmp_ / (label + "-ours");
    std::filesystem::create_directories(byUs);
    unrartest::RunResult ours =
        unrartest::runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, byUs, nullptr, password);
    EXPECT_EQ(ours.status, std::vector<int>(entries.size(), ERAR_SUCCESS)) << label;
    EXPECT_EQ(peers::compareTrees(expected, peers::readTree(byUs)), "") << label << " (ours)";
  }

  peers::TempDir tmp_;
};

TEST_F(Rar15Test, EveryFormOfTheFormat) {
  const struct {
    const char* name;
    std::string data;
  } cases[] = {
      {"text", text(1, 30000)},
      {"records", records(2, 3000)},
      {"far", farCopies()},
      {"noise_then_text", noise(3, 3000) + text(4, 8000) + noise(5, 500) + text(4, 3000)},
      // Longer than the window: positions and distances wrap around it.
      {"long", text(6, 90000) + records(7, 2000) + noise(8, 20000) + text(6, 60000)},
  };
  rar15enc::Stats total;
  for (const auto& c : cases) {
    rar15enc::Encoder enc;
    const std::string stream = enc.pack(c.data);
    expectRoundTrip({packed("f.bin", c.data, stream)}, false, c.name);
    const rar15enc::Stats& s = enc.stats();
    for (auto [sum, add] : {std::pair{&total.literals, s.literals},
                            {&total.literalsOnlyMode, s.literalsOnlyMode},
                            {&total.escapeMatches, s.escapeMatches},
                            {&total.modeExits, s.modeExits},
                            {&total.longUnary, s.longUnary},
                            {&total.longCode1, s.longCode1},
                            {&total.longCode2, s.longCode2},
                            {&total.nearMatches, s.nearMatches},
                            {&total.repeatLast, s.repeatLast},
                            {&total.repeatBits, s.repeatBits},
                            {&total.oldDistance, s.oldDistance},
                            {&total.farMatches, s.farMatches},
                            {&total.codeSwitches, s.codeSwitches},
                            {&total.highSelectorAverage, s.highSelectorAverage}})
      *sum += add;
  }
  // The streams above must have used every form the format has.
  EXPECT_GT(total.literals, 0u);
  EXPECT_GT(total.literalsOnlyMode, 0u);
  EXPECT_GT(total.escapeMatches, 0u);
  EXPECT_GT(total.modeExits, 0u);
  EXPECT_GT(total.longUnary, 0u);
  EXPECT_GT(total.longCode1, 0u);
  EXPECT_GT(total.longCode2, 0u);
  EXPECT_GT(total.nearMatches, 0u);
  EXPECT_GT(total.repeatLast, 0u);
  EXPECT_GT(total.repeatBits, 0u);
  EXPECT_GT(total.oldDistance, 0u);
  EXPECT_GT(total.farMatches, 0u);
  EXPECT_GT(total.codeSwitches, 0u);
  EXPECT_GT(total.highSelectorAverage, 0u);
}

// The second entry goes on with the first one's window, maps and averages,
// and matches back into it.
TEST_F(Rar15Test, SolidEntriesContinueTheStream) {
  const std::string first = text(11, 40000) + records(12, 500);
  const std::string second = records(12, 500) + text(11, 20000);
  rar15enc::Encoder enc;
  const std::string p1 = enc.pack(first);
  const std::string p2 = enc.pack(second);
  EXPECT_LT(p2.size(), second.size() / 8);  // found in the first entry
  expectRoundTrip({packed("a.txt", first, p1), packed("b.txt", second, p2)}, true, "solid");
}

// Stored and RAR 1.5-packed entries under each old cipher; sizes that are no
// multiple of RAR 2.0's 16-byte blocks.
TEST_F(Rar15Test, OldCiphersDecryptWithThePasswordOnly) {
  const std::string data = text(21, 5000) + noise(22, 1037);
  rar15enc::Encoder enc;
  const std::string stream = enc.pack(data);
  for (std::uint8_t cipher : {13, 15, 20}) {
    const std::string label = "cipher" + std::to_string(cipher);
    rarwriter::Entry stored = entry("stored.bin", data);
    stored.password = "pass word2";
    stored.legacyCipher = cipher;
    std::vector<rarwriter::Entry> entries{stored};
    if (cipher == 15) {
      rarwriter::Entry compressed = packed("packed.bin", data, stream);
      compressed.password = stored.password;
      compressed.legacyCipher = 15;
      entries.push_back(compressed);
    }
    expectRoundTrip(entries, false, label, stored.password);

    // No check value: a wrong password fails the CRC.
    const std::string path = tmp_ / (label + "/t.rar");
    const std::string dest = tmp_ / (label + "-wrong");
    std::filesystem::create_directories(dest);
    unrartest::RunResult wrong =
        unrartest::runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, dest, nullptr, "pass word");
    EXPECT_EQ(wrong.status, std::vector<int>(entries.size(), ERAR_BAD_DATA)) << label;
  }
}

// The old ciphers take a password as 8-bit bytes: text that Latin-1 holds is
// turned into it, as unar does when told the password's encoding.
TEST_F(Rar15Test, OldCiphersTakeLatin1Passwords) {
  rarwriter::Entry e = entry("s.txt", text(23, 3000));
  e.password = "p\xC3\xA4ss";
  e.legacyCipher = 20;
  const std::string path = write({e}, false, "latin1");
  const std::string byUnar = tmp_ / "latin1-unar";
  const peers::CommandResult r =
      peers::run("unar -q -o " + peers::quote(byUnar) + " -p " + peers::quote(e.password) +
                 " -E iso-8859-1 " + peers::quote(path));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(peers::compareTrees(peers::expectedTree({e}), peers::readTree(byUnar)), "");

  const std::string byUs = tmp_ / "latin1-ours";
  std::filesystem::create_directories(byUs);
  EXPECT_EQ(unrartest::runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT, byUs, nullptr, e.password).status,
            std::vector<int>{ERAR_SUCCESS});
  EXPECT_EQ(peers::compareTrees(peers::expectedTree({e}), peers::readTree(byUs)), "");
}

// The real RAR 1.5 and 2.0 archives of the corpus carry comments packed with
// their own methods: our text must be the one lsar reads.
TEST(Rar15Corpus, CommentsPackedWithTheOldMethods) {
  if (!peers::haveTool("lsar")) GTEST_SKIP() << "lsar missing: run scripts/setup-deps.sh";
  for (const char* name : {"rar15-comment.rar", "rar202-comment-psw.rar"}) {
    const std::string path = std::string(QUILLMOSS_CORPUS_DIR) + "/rarfile/" + name;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "corpus not found: skipped";
    unrartest::Archive a(path, RAR_OM_LIST, nullptr, 64 * 1024);
    ASSERT_EQ(a.openResult(), 0u) << name;
    EXPECT_EQ(a.cmtState(), 1u) << name;
    const peers::CommandResult r = peers::run("lsar -j " + peers::quote(path));
    const std::string key = "\"XADComment\": \"";
    std::size_t at = r.output.find(key);
    ASSERT_NE(at, std::string::npos) << name << ": " << r.output;
    at += key.size();
    EXPECT_EQ(a.comment(), r.output.substr(at, r.output.find('"', at) - at)) << name;
  }
}

// Damaged streams end with an error or with exactly the entry's size, never
// out of bounds or in an endless loop; cut ones and garbage end with an error.
TEST(Rar15Damage, DamagedStreamsFailCleanly) {
  const std::string data = text(31, 6000) + noise(32, 1500) + records(33, 100);
  rar15enc::Encoder enc;
  const std::string stream = enc.pack(data);
  unrar::Entry e;
  e.unpVer = 15;
  e.method = 3;
  e.unpSize = data.size();
  e.dictBytes = std::size_t{64} << 10;

  auto run = [&](const std::string& in, std::string* out) {
    auto dec = unrar::makeRar15Decoder(false);
    decodertest::StringSink sink;
    const int rc = dec->decode(e, std::make_unique<decodertest::MemoryStream>(in), 0, sink);
    EXPECT_LE(sink.out.size(), data.size());
    if (out) *out = sink.out;
    return rc;
  };
  // Our decoder needs none of the bytes the encoder adds for unar.
  std::string whole;
  ASSERT_EQ(run(stream.substr(0, stream.size() - 2), &whole), ERAR_SUCCESS);
  EXPECT_EQ(whole, data);
  EXPECT_EQ(run(stream.substr(0, stream.size() / 2), nullptr), ERAR_BAD_DATA);
  EXPECT_EQ(run(std::string(), nullptr), ERAR_BAD_DATA);

  std::mt19937 rng(5);
  for (int i = 0; i < 300; ++i) {
    std::string bad = i % 10 == 0 ? noise(100 + i, 2000) : stream;
    for (int k = 0; k < 1 + i % 4; ++k)
      bad[rng() % bad.size()] ^= static_cast<char>(1 + rng() % 255);
    std::string out;
    const int rc = run(bad, &out);
    EXPECT_TRUE(rc == ERAR_BAD_DATA || (rc == ERAR_SUCCESS && out.size() == data.size())) << rc;
  }
}

}  // namespace
