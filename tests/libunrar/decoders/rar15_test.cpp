// RAR 1.5 streams from our own encoder, and entries under the ciphers of RAR
// 1.3, 1.5 and 2.0: unar, the reference for these formats, and our library
// must both give back the input.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "codec/codec.h"
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

// Letters of a small alphabet with copies of three or four bytes from up to
// 32 KiB back: long matches of raw length 0 on both sides of the far-offset
// limit while the averages move it.
std::string shortCopies(unsigned seed, std::size_t size) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < size) {
    for (unsigned i = 1 + rng() % 2; i > 0; --i) s.push_back(static_cast<char>('a' + rng() % 16));
    if (s.size() < 40000) continue;
    const std::size_t back = rng() % 100 < 10 ? 8200 + rng() % 24000 : 300 + rng() % 7700;
    for (unsigned i = 3 + rng() % 2; i > 0; --i) s.push_back(s[s.size() - back]);
  }
  s.resize(size);
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
  return decodertest::packedEntry(name, data, stream, 15, 0x33, 0);
}

using decodertest::checkBothDecoders;
using Counter = decodertest::Counter<rar15enc::Stats>;
using S = rar15enc::Stats;

constexpr Counter kForms[] = {{"literals", &S::literals},
                              {"literalsOnlyMode", &S::literalsOnlyMode},
                              {"escapeMatches", &S::escapeMatches},
                              {"modeExits", &S::modeExits},
                              {"longUnary", &S::longUnary},
                              {"longCode1", &S::longCode1},
                              {"longCode2", &S::longCode2},
                              {"nearMatches", &S::nearMatches},
                              {"repeatLast", &S::repeatLast},
                              {"repeatBits", &S::repeatBits},
                              {"oldDistance", &S::oldDistance},
                              {"farMatches", &S::farMatches},
                              {"codeSwitches", &S::codeSwitches},
                              {"highSelectorAverage", &S::highSelectorAverage},
                              {"nearByOldLimit", &S::nearByOldLimit}};

TEST(Rar15, EveryFormOfTheFormat) {
  const struct {
    const char* name;
    std::string data;
    bool byUnar = true;
  } cases[] = {
      {"text", text(1, 30000)},
      {"records", records(2, 3000)},
      {"far", farCopies()},
      {"noise_then_text", noise(3, 3000) + text(4, 8000) + noise(5, 500) + text(4, 3000)},
      // Longer than the window: positions and distances wrap around it.
      {"long", text(6, 90000) + records(7, 2000) + noise(8, 20000) + text(6, 60000)},
      // A long match counts as near by the limit it was coded with, not by
      // the one it sets for the next match (unar fixed this after 1.10.1).
      {"near_by_the_old_limit", shortCopies(2, 150000), false},
  };
  rar15enc::Stats total;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rar15enc::Encoder enc;
    const std::string stream = enc.pack(c.data);
    checkBothDecoders({packed("f.bin", c.data, stream)}, false, "", c.byUnar);
    decodertest::addCounters(total, enc.stats(), kForms);
  }
  // The streams above must have used every form the format has.
  decodertest::expectEveryCounterUsed(total, kForms);
}

// The second entry goes on with the first one's window, maps and averages,
// and matches back into it.
TEST(Rar15, SolidEntriesContinueTheStream) {
  const std::string first = text(11, 40000) + records(12, 500);
  const std::string second = records(12, 500) + text(11, 20000);
  rar15enc::Encoder enc;
  const std::string p1 = enc.pack(first);
  const std::string p2 = enc.pack(second);
  EXPECT_LT(p2.size(), second.size() / 8);  // found in the first entry
  checkBothDecoders({packed("a.txt", first, p1), packed("b.txt", second, p2)}, true);
}

// Stored and RAR 1.5-packed entries under each old cipher; sizes that are no
// multiple of RAR 2.0's 16-byte blocks.
TEST(Rar15, OldCiphersDecryptWithThePasswordOnly) {
  const std::string data = text(21, 5000) + noise(22, 1037);
  rar15enc::Encoder enc;
  const std::string stream = enc.pack(data);
  for (std::uint8_t cipher : {13, 15, 20}) {
    SCOPED_TRACE("cipher " + std::to_string(cipher));
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
    checkBothDecoders(entries, false, stored.password);

    // No check value: a wrong password fails the CRC.
    unrartest::TempDir tmp;
    const std::string path = decodertest::writeRar4(tmp, "t.rar", entries, false);
    unrartest::RunResult wrong = unrartest::runAll(path, RAR_OM_EXTRACT, RAR_EXTRACT,
                                                   tmp.file("wrong"), nullptr, "pass word");
    EXPECT_EQ(wrong.status, std::vector<int>(entries.size(), ERAR_BAD_DATA));
  }
}

// The old ciphers take a password as 8-bit bytes: text that Latin-1 holds is
// turned into it, as unar does when told the password's encoding.
TEST(Rar15, OldCiphersTakeLatin1Passwords) {
  if (!peers::haveTool("unar")) GTEST_SKIP() << "unar missing: run scripts/setup-deps.sh";
  rarwriter::Entry e = entry("s.txt", text(23, 3000));
  e.password = "p\xC3\xA4ss";
  e.legacyCipher = 20;
  unrartest::TempDir tmp;
  const std::string path = decodertest::writeRar4(tmp, "t.rar", {e}, false);
  const std::string byUnar = tmp.file("unar");
  const peers::CommandResult r =
      peers::run("unar -q -o " + peers::quote(byUnar) + " -p " + peers::quote(e.password) +
                 " -E iso-8859-1 " + peers::quote(path));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(peers::compareTrees(peers::expectedTree({e}), peers::readTree(byUnar)), "");

  const std::string byUs = tmp.file("ours");
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
    ASSERT_TRUE(std::filesystem::exists(path)) << "corpus file missing: " << path;
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
  // Our decoder needs none of the bytes the encoder adds for unar.
  decodertest::expectDamagedStreamsFailCleanly(unrar::makeRar15Decoder, e,
                                               stream.substr(0, stream.size() - 2), data, true);
}

}  // namespace
