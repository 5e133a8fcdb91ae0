// Volume sets: both naming schemes, split entries joined, the volume
// callback's questions and notices, and what a missing volume gives.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "rar_writer.h"
#include "unrar.h"
#include "unrar_test_support.h"

using namespace unrartest;

namespace {

struct VolumeCase {
  rarwriter::Format format;
  bool oldNaming;
  const char* label;
};

class Volumes : public ::testing::TestWithParam<VolumeCase> {
 protected:
  // Three files over at least three volumes; the middle one is split.
  std::vector<std::string> make(const TempDir& dir,
                                rarwriter::Damage damage = rarwriter::Damage::None) {
    data_.assign(150000, '\0');
    rarwriter::fillPattern(3, 0, data_.data(), data_.size());
    rarwriter::Entry a, b, c;
    a.name = "first.txt";
    a.data = "first";
    b.name = "big/split.bin";
    b.data = data_;
    c.name = "last.txt";
    c.data = "last";
    rarwriter::Options o;
    o.format = GetParam().format;
    o.volumeSize = 40000;
    o.oldVolumeNaming = GetParam().oldNaming;
    o.damage = damage;
    std::string first = dir.file(GetParam().oldNaming ? "set.rar" : "set.part1.rar");
    return rarwriter::write(first, {a, b, c}, o);
  }
  std::string data_;
};

TEST_P(Volumes, ExtractJoinsTheSplitEntryAndNotifiesEachVolume) {
  TempDir dir;
  auto vols = make(dir);
  ASSERT_GE(vols.size(), 3u);
  std::string out = dir.file("out");
  CallbackScript s;
  RunResult r = runAll(vols[0], RAR_OM_EXTRACT, RAR_EXTRACT, out, &s);
  EXPECT_EQ(r.names, (std::vector<std::string>{"first.txt", "big/split.bin", "last.txt"}));
  EXPECT_EQ(r.status, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_TRUE(readFile(out + "/big/split.bin") == data_) << "split entry data differs";
  EXPECT_EQ(readFile(out + "/last.txt"), "last");
  EXPECT_EQ(s.volumeAsks, 0);
  EXPECT_EQ(s.notifiedVolumes, std::vector<std::string>(vols.begin() + 1, vols.end()));
}

TEST_P(Volumes, FirstVolumeFlagsAndNames) {
  TempDir dir;
  auto vols = make(dir);
  Archive a(vols[0], RAR_OM_LIST);
  ASSERT_NE(a.handle(), nullptr) << "open status " << a.openResult();
  EXPECT_TRUE(a.flags() & ROADF_VOLUME) << a.flags();
  EXPECT_TRUE(a.flags() & ROADF_FIRSTVOLUME) << a.flags();
  EXPECT_EQ((a.flags() & ROADF_NEWNUMBERING) != 0, !GetParam().oldNaming) << a.flags();
  Archive second(vols[1], RAR_OM_LIST);
  ASSERT_NE(second.handle(), nullptr);
  EXPECT_FALSE(second.flags() & ROADF_FIRSTVOLUME) << second.flags();
}

TEST_P(Volumes, ListModeReportsASplitFileOnceAndCrossesVolumes) {
  TempDir dir;
  auto vols = make(dir);
  CallbackScript s;
  RunResult r = runAll(vols[0], RAR_OM_LIST, RAR_SKIP, "", &s);
  EXPECT_EQ(r.names, (std::vector<std::string>{"first.txt", "big/split.bin", "last.txt"}));
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_EQ(s.volumeNotifies, static_cast<int>(vols.size()) - 1);
}

TEST_P(Volumes, IncSplitModeReportsEveryPart) {
  TempDir dir;
  auto vols = make(dir);
  Archive a(vols[0], RAR_OM_LIST_INCSPLIT);
  auto hd = std::make_unique<RARHeaderDataEx>();
  int parts = 0;
  std::uint64_t packed = 0;
  std::vector<std::string> volumesSeen;
  while (a.next(*hd) == ERAR_SUCCESS) {
    if (std::string(hd->FileName) == "big/split.bin") {
      ++parts;
      packed += hd->PackSize;
      volumesSeen.push_back(hd->ArcName);
      if (parts > 1) {
        EXPECT_TRUE(hd->Flags & RHDF_SPLITBEFORE) << hd->Flags;
      }
    }
    ASSERT_EQ(a.process(RAR_SKIP), ERAR_SUCCESS);
  }
  EXPECT_GE(parts, 2);
  EXPECT_EQ(packed, data_.size());
  EXPECT_NE(volumesSeen.front(), volumesSeen.back());
}

TEST_P(Volumes, MissingVolumeAsksWithTheProposedNameAndCancelGives15) {
  TempDir dir;
  auto vols = make(dir);
  std::string moved = dir.file("elsewhere.bin");
  ASSERT_EQ(std::rename(vols[1].c_str(), moved.c_str()), 0);
  CallbackScript s;
  s.volumeAskAnswer = -1;
  std::string out = dir.file("out");
  RunResult r = runAll(vols[0], RAR_OM_EXTRACT, RAR_EXTRACT, out, &s);
  ASSERT_GE(r.status.size(), 2u);
  EXPECT_EQ(r.status[1], ERAR_EOPEN) << "cancelled volume gave " << r.status[1];
  ASSERT_FALSE(s.askedVolumes.empty());
  EXPECT_EQ(s.askedVolumes[0], vols[1]);
  EXPECT_FALSE(exists(out + "/big/split.bin"));
}

TEST_P(Volumes, MissingVolumeFoundUnderTheNameTheCallbackGives) {
  TempDir dir;
  auto vols = make(dir);
  ASSERT_EQ(::mkdir(dir.file("moved").c_str(), 0755), 0);
  const std::string& last = vols.back();
  std::string moved = dir.file("moved/") + last.substr(last.rfind('/') + 1);
  ASSERT_EQ(std::rename(last.c_str(), moved.c_str()), 0);
  CallbackScript s;
  s.volumeAskAnswer = 1;
  s.volumeAskRename = moved;
  std::string out = dir.file("out");
  RunResult r = runAll(vols[0], RAR_OM_EXTRACT, RAR_EXTRACT, out, &s);
  EXPECT_EQ(r.status, (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_EQ(s.volumeAsks, 1);
  ASSERT_FALSE(s.askedVolumes.empty());
  EXPECT_EQ(s.askedVolumes[0], last);
  EXPECT_TRUE(readFile(out + "/big/split.bin") == data_);
  EXPECT_EQ(readFile(out + "/last.txt"), "last");
}

TEST_P(Volumes, UnchangedNameIsAskedABoundedNumberOfTimes) {
  TempDir dir;
  auto vols = make(dir, rarwriter::Damage::MissingVolume);
  CallbackScript s;
  s.volumeAskAnswer = 1;  // "try again" without a new name
  RunResult r = runAll(vols[0], RAR_OM_EXTRACT, RAR_TEST, "", &s);
  ASSERT_GE(r.status.size(), 2u);
  EXPECT_EQ(r.status[1], ERAR_EOPEN) << "never-found volume gave " << r.status[1];
  EXPECT_GT(s.volumeAsks, 1);
  EXPECT_LE(s.volumeAsks, 16);
}

TEST_P(Volumes, MissingVolumeWithoutACallbackGives15) {
  TempDir dir;
  auto vols = make(dir, rarwriter::Damage::MissingVolume);
  RunResult r = runAll(vols[0], RAR_OM_EXTRACT, RAR_TEST, "");
  ASSERT_GE(r.status.size(), 2u);
  EXPECT_EQ(r.status[1], ERAR_EOPEN) << "missing volume gave " << r.status[1];
}

TEST_P(Volumes, DamagedMiddleVolumeFailsAtItsOwnEnd) {
  TempDir dir;
  auto vols = make(dir);
  ASSERT_GE(vols.size(), 3u);
  std::string middle = readFile(vols[1]);
  middle[middle.size() / 2] ^= 0x55;
  writeFile(vols[1], middle);
  CallbackScript s;
  RunResult r = runAll(vols[0], RAR_OM_EXTRACT, RAR_TEST, "", &s);
  ASSERT_GE(r.status.size(), 2u);
  EXPECT_EQ(r.status[1], ERAR_BAD_DATA) << "damaged part gave " << r.status[1];
  // The part's own checksum stops the entry before later volumes are read.
  EXPECT_LT(s.dataBytes, 5 + data_.size());
}

// An entry over more volumes than the process may hold open at once: each
// volume is open only while its part is read.
TEST_P(Volumes, AnEntryOverManyVolumesExtractsUnderALowDescriptorLimit) {
  TempDir dir;
  rarwriter::Entry e;
  e.name = "long.bin";
  e.data.assign(40000, '\0');
  rarwriter::fillPattern(9, 0, e.data.data(), e.data.size());
  rarwriter::Options o;
  o.format = GetParam().format;
  o.volumeSize = 400;
  o.oldVolumeNaming = GetParam().oldNaming;
  auto vols =
      rarwriter::write(dir.file(GetParam().oldNaming ? "set.rar" : "set.part1.rar"), {e}, o);
  ASSERT_GT(vols.size(), 100u);
  struct DescriptorLimit {
    rlimit saved{};
    DescriptorLimit() {
      ::getrlimit(RLIMIT_NOFILE, &saved);
      rlimit low = saved;
      low.rlim_cur = 64;
      ::setrlimit(RLIMIT_NOFILE, &low);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved); }
  };
  RunResult r;
  {
    DescriptorLimit limit;
    r = runAll(vols[0], RAR_OM_EXTRACT, RAR_EXTRACT, dir.file("out"));
  }
  EXPECT_EQ(r.status, std::vector<int>{0});
  EXPECT_EQ(r.endStatus, ERAR_END_ARCHIVE);
  EXPECT_TRUE(readFile(dir.file("out/long.bin")) == e.data) << "the joined entry differs";
}

int g_volProcCalls = 0;
int refusingVolProc(char*, int mode) {
  ++g_volProcCalls;
  return mode == RAR_VOL_NOTIFY ? 0 : 1;
}

TEST_P(Volumes, OldChangeVolProcAbortsOnZero) {
  TempDir dir;
  auto vols = make(dir);
  Archive a(vols[0], RAR_OM_EXTRACT);
  g_volProcCalls = 0;
  RARSetChangeVolProc(a.handle(), refusingVolProc);
  auto hd = std::make_unique<RARHeaderDataEx>();
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  ASSERT_EQ(a.process(RAR_TEST), ERAR_SUCCESS);
  ASSERT_EQ(a.next(*hd), ERAR_SUCCESS);
  int rc = a.process(RAR_TEST);
  EXPECT_NE(rc, ERAR_SUCCESS) << "refused volume notice gave " << rc;
  EXPECT_EQ(g_volProcCalls, 1);
}

INSTANTIATE_TEST_SUITE_P(Sets, Volumes,
                         ::testing::Values(VolumeCase{rarwriter::Format::Rar4, false, "Rar4PartN"},
                                           VolumeCase{rarwriter::Format::Rar4, true,
                                                      "Rar4OldNaming"},
                                           VolumeCase{rarwriter::Format::Rar5, false, "Rar5PartN"}),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(VolumeNames, BothSchemesCountOn) {
  EXPECT_EQ(rarwriter::volumeNames("/x/a.part1.rar", 3, false),
            (std::vector<std::string>{"/x/a.part1.rar", "/x/a.part2.rar", "/x/a.part3.rar"}));
}

}  // namespace
