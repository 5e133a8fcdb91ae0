#include <gtest/gtest.h>

#include <QFile>

#include "fake_unrar_control.h"
#include "untUnRar.h"

namespace {

const QString kFake = QStringLiteral(QUILLMOSS_TEST_BIN_DIR "/libfakeunrar.so");
const QString kNoPassword = QStringLiteral(QUILLMOSS_TEST_BIN_DIR "/libfakeunrar_nopassword.so");

bool mapped(const QString& path) {
  QFile maps(QStringLiteral("/proc/self/maps"));
  return maps.open(QIODevice::ReadOnly) && QString::fromUtf8(maps.readAll()).contains(path);
}

int resolvedCount() {
  const void* refs[] = {reinterpret_cast<void*>(untUnRar::RAROpenArchive),
                        reinterpret_cast<void*>(untUnRar::RAROpenArchiveEx),
                        reinterpret_cast<void*>(untUnRar::RARCloseArchive),
                        reinterpret_cast<void*>(untUnRar::RARReadHeader),
                        reinterpret_cast<void*>(untUnRar::RARReadHeaderEx),
                        reinterpret_cast<void*>(untUnRar::RARProcessFile),
                        reinterpret_cast<void*>(untUnRar::RARSetCallback),
                        reinterpret_cast<void*>(untUnRar::RARSetChangeVolProc),
                        reinterpret_cast<void*>(untUnRar::RARSetProcessDataProc),
                        reinterpret_cast<void*>(untUnRar::RARSetPassword),
                        reinterpret_cast<void*>(untUnRar::RARGetDllVersion)};
  int n = 0;
  for (const void* r : refs) n += r != nullptr;
  return n;
}

class Loader : public ::testing::Test {
 protected:
  void TearDown() override {
    untUnRar::FreeUnRarLibrary();
    untUnRar::SetUnRarLibraryPath(QString());
    qunsetenv("QUILLMOSS_UNRAR_LIBRARY");
  }
};

}  // namespace

TEST_F(Loader, ResolvesAllElevenReferencesAndFreeingClearsThem) {
  untUnRar::SetUnRarLibraryPath(kFake);
  untUnRar::LoadUnRarLibrary();
  ASSERT_TRUE(untUnRar::UnRarLibraryLoaded()) << untUnRar::UnRarLibraryError().toStdString();
  EXPECT_NE(untUnRar::UnRarLibraryHandle(), nullptr);
  EXPECT_EQ(resolvedCount(), 11);
  EXPECT_EQ(untUnRar::RARGetDllVersion(), 5);
  EXPECT_TRUE(mapped(kFake));

  untUnRar::FreeUnRarLibrary();
  EXPECT_FALSE(untUnRar::UnRarLibraryLoaded());
  EXPECT_EQ(untUnRar::UnRarLibraryHandle(), nullptr);
  EXPECT_EQ(resolvedCount(), 0);
  EXPECT_FALSE(mapped(kFake)) << "freeing must unload the library";

  untUnRar::FreeUnRarLibrary();  // freeing while nothing is loaded changes nothing
  EXPECT_FALSE(untUnRar::UnRarLibraryLoaded());
  EXPECT_EQ(resolvedCount(), 0);
}

TEST_F(Loader, LoadingTwiceKeepsOneLibrary) {
  untUnRar::SetUnRarLibraryPath(kFake);
  untUnRar::LoadUnRarLibrary();
  void* handle = untUnRar::UnRarLibraryHandle();
  untUnRar::LoadUnRarLibrary();
  EXPECT_EQ(untUnRar::UnRarLibraryHandle(), handle);
  untUnRar::FreeUnRarLibrary();
  EXPECT_FALSE(mapped(kFake)) << "one free must undo the load; a second load must not pin it";
}

TEST_F(Loader, ALibraryLackingACalledEntryPointIsNotUsed) {
  untUnRar::SetUnRarLibraryPath(kNoPassword);
  untUnRar::LoadUnRarLibrary();
  EXPECT_FALSE(untUnRar::UnRarLibraryLoaded());
  EXPECT_EQ(untUnRar::UnRarLibraryHandle(), nullptr);
  EXPECT_EQ(resolvedCount(), 0) << "no reference may survive from the rejected library";
  EXPECT_TRUE(untUnRar::UnRarLibraryError().contains(QStringLiteral("RARSetPassword")))
      << untUnRar::UnRarLibraryError().toStdString();
  EXPECT_FALSE(mapped(kNoPassword)) << "the rejected library must be freed";
}

TEST_F(Loader, AMissingFileLeavesEverythingUnloaded) {
  untUnRar::SetUnRarLibraryPath(QStringLiteral("/nonexistent/libunrar.so"));
  untUnRar::LoadUnRarLibrary();
  EXPECT_FALSE(untUnRar::UnRarLibraryLoaded());
  EXPECT_EQ(resolvedCount(), 0);
  EXPECT_FALSE(untUnRar::UnRarLibraryError().isEmpty());
}

TEST_F(Loader, TheEnvironmentCanNameTheLibrary) {
  qputenv("QUILLMOSS_UNRAR_LIBRARY", kFake.toUtf8());
  untUnRar::LoadUnRarLibrary();
  EXPECT_TRUE(untUnRar::UnRarLibraryLoaded()) << untUnRar::UnRarLibraryError().toStdString();
  EXPECT_TRUE(mapped(kFake));
}

TEST_F(Loader, APathSetByTheTestWinsOverTheEnvironment) {
  qputenv("QUILLMOSS_UNRAR_LIBRARY", kFake.toUtf8());
  untUnRar::SetUnRarLibraryPath(kNoPassword);
  untUnRar::LoadUnRarLibrary();
  EXPECT_FALSE(untUnRar::UnRarLibraryLoaded());
  EXPECT_FALSE(mapped(kFake)) << "only the named file may be tried";
}
