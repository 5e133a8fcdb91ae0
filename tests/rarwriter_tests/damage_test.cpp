// The damaged variants must be refused by the peers that accept the good ones;
// otherwise they would not test a reader's error paths.
#include <gtest/gtest.h>

#include <filesystem>

#include "peer_tools.h"
#include "rar_writer.h"

namespace fs = std::filesystem;
using rarwriter::Damage;
using rarwriter::Entry;
using rarwriter::Format;
using rarwriter::Options;

namespace {

class DamagedArchive : public ::testing::TestWithParam<Format> {
 protected:
  void SetUp() override {
    if (!peers::haveTool("bsdtar") || !peers::haveTool("unar"))
      GTEST_SKIP() << "bsdtar or unar missing: run scripts/setup-deps.sh";
    fs::create_directories(tmp_ / "a");
  }

  std::vector<Entry> entries() const {
    std::vector<Entry> list(3);
    list[0].name = "first.txt";
    list[0].data = "the first file's text\n";
    list[1].name = "second.bin";
    list[1].data.resize(40000);
    rarwriter::fillPattern(5, 0, list[1].data.data(), list[1].data.size());
    list[2].name = "third.txt";
    list[2].data = "the third file's text, long enough to cut in half\n";
    return list;
  }

  Options options(Damage damage) const {
    Options o;
    o.format = GetParam();
    o.damage = damage;
    return o;
  }

  // A peer refuses a damaged archive when it fails, or at least when what it
  // extracts is not the original: silently wrong output is caught here too.
  void expectRefusedBy(bool bsdtar, bool unar, const std::vector<std::string>& files) {
    peers::Tree expected = peers::expectedTree(entries());
    if (bsdtar) {
      peers::CommandResult b = peers::bsdtarExtract(files, tmp_ / "bsd");
      EXPECT_TRUE(b.status != 0 ||
                  peers::compareTrees(expected, peers::readTree(tmp_ / "bsd")) != "")
          << "bsdtar accepted it: " << b.output;
    }
    if (unar) {
      peers::CommandResult u = peers::unarExtract(files.front(), tmp_ / "unar");
      EXPECT_NE(u.status, 0) << "unar accepted it: " << u.output;
    }
  }
  void expectRefused(const std::vector<std::string>& files) { expectRefusedBy(true, true, files); }

  peers::TempDir tmp_;
};

TEST_P(DamagedArchive, GoodTwinIsAccepted) {
  // The same entries undamaged: proves the refusals below come from the damage.
  std::vector<std::string> files =
      rarwriter::write(tmp_ / "a/t.rar", entries(), options(Damage::None));
  EXPECT_EQ(peers::bsdtarExtract(files, tmp_ / "bsd").status, 0);
  EXPECT_EQ(peers::unarExtract(files.front(), tmp_ / "unar").status, 0);
}

TEST_P(DamagedArchive, BadHeaderCrcIsRefused) {
  // unar 1.10.1 does not check header CRCs at all.
  expectRefusedBy(true, false,
                  rarwriter::write(tmp_ / "a/t.rar", entries(), options(Damage::BadHeaderCrc)));
}

TEST_P(DamagedArchive, BadDataCrcIsRefused) {
  std::vector<std::string> files =
      rarwriter::write(tmp_ / "a/t.rar", entries(), options(Damage::BadDataCrc));
  // bsdtar 3.6.2 does not check the CRC of stored data.
  expectRefusedBy(false, true, files);
  peers::CommandResult t = peers::run("lsar -t " + peers::quote(files.front()));
  EXPECT_NE(t.output.find("1 failed"), std::string::npos) << t.output;
}

TEST_P(DamagedArchive, TruncatedArchiveIsRefused) {
  std::vector<std::string> files =
      rarwriter::write(tmp_ / "a/t.rar", entries(), options(Damage::Truncated));
  std::string whole = tmp_ / "whole.rar";
  rarwriter::write(whole, entries(), options(Damage::None));
  EXPECT_LT(fs::file_size(files.front()), fs::file_size(whole) - 30);
  expectRefused(files);
}

TEST_P(DamagedArchive, TruncatedLastVolumeIsRefused) {
  Options o = options(Damage::Truncated);
  o.volumeSize = 16000;
  expectRefused(rarwriter::write(tmp_ / "a/t.part1.rar", entries(), o));
}

TEST_P(DamagedArchive, MissingVolumeIsRefused) {
  Options o = options(Damage::MissingVolume);
  o.volumeSize = 16000;
  std::vector<std::string> files = rarwriter::write(tmp_ / "a/t.part1.rar", entries(), o);
  std::vector<std::string> all =
      rarwriter::volumeNames(tmp_ / "a/t.part1.rar", files.size() + 1, false);
  ASSERT_GE(files.size(), 2u);
  EXPECT_FALSE(fs::exists(all[1]));
  EXPECT_TRUE(fs::exists(all[2]));
  expectRefused(files);
}

TEST_P(DamagedArchive, EncryptedFlagWithoutPasswordIsRefused) {
  std::vector<Entry> list = entries();
  for (Entry& e : list) e.encryptedFlagOnly = true;
  std::vector<std::string> files = rarwriter::write(tmp_ / "a/t.rar", list, options(Damage::None));
  peers::CommandResult b = peers::bsdtarExtract(files, tmp_ / "bsd");
  EXPECT_NE(b.status, 0) << b.output;
  peers::CommandResult u = peers::unarExtract(files.front(), tmp_ / "unar", "wrong");
  EXPECT_NE(u.status, 0) << u.output;
  peers::CommandResult l = peers::run("lsar -L " + peers::quote(files.front()));
  EXPECT_NE(l.output.find("Is encrypted:                   Yes"), std::string::npos) << l.output;
}

INSTANTIATE_TEST_SUITE_P(BothFormats, DamagedArchive, ::testing::Values(Format::Rar4, Format::Rar5),
                         [](const ::testing::TestParamInfo<Format>& param) {
                           return param.param == Format::Rar4 ? "Rar4" : "Rar5";
                         });

}  // namespace
