#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "VxUnRar.h"
#include "fake_unrar_control.h"
#include "untUnRar.h"

namespace {

class Component : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fake.ok()) << fake.error().toStdString();
    ASSERT_EQ(fake.load(QStringLiteral("version 7\n")), QString());
    untUnRar::SetUnRarLibraryPath(fake.path());
  }
  void TearDown() override { untUnRar::SetUnRarLibraryPath(QString()); }
  FakeUnRarControl fake;
};

struct Probe {
  int exitCode = -1;
  QMap<QString, QString> values;
};

// Runs a copy of the probe in its own folder, beside the given side files.
Probe runProbe(const QTemporaryDir& dir, const QStringList& arguments = {},
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  const QString copy = dir.filePath(QStringLiteral("vxunrar_probe"));
  if (!QFile::exists(copy))
    QFile::copy(QStringLiteral(QUILLMOSS_TEST_BIN_DIR "/vxunrar_probe"), copy);
  QProcess process;
  process.setProcessEnvironment(env);
  process.start(copy, arguments);
  Probe probe;
  if (!process.waitForFinished(30000)) return probe;
  probe.exitCode = process.exitCode();
  for (const QByteArray& line : process.readAllStandardOutput().split('\n')) {
    const int eq = line.indexOf('=');
    if (eq < 0) continue;
    const QString key = QString::fromUtf8(line.left(eq));
    const QByteArray value = line.mid(eq + 1);
    probe.values[key] = (key == QLatin1String("loaded") || key == QLatin1String("version"))
                            ? QString::fromUtf8(value)
                            : QString::fromUtf8(QByteArray::fromHex(value));
  }
  return probe;
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
  f.write(bytes);
}

}  // namespace

TEST_F(Component, StartsWithThePublishedInitialValues) {
  TVxUnRar vx;
  EXPECT_TRUE(vx.DllLoaded());
  EXPECT_EQ(vx.DllVersion(), 7);
  EXPECT_EQ(vx.Mode(), VxRAR_LIST);
  EXPECT_EQ(vx.Operation(), 1);
  EXPECT_EQ(vx.OverrideEvent(), OR_ALWAYS);
  EXPECT_FALSE(vx.CanProgress());
  EXPECT_FALSE(vx.PromptForPass());
  EXPECT_FALSE(vx.PromptForVolumn());
  EXPECT_FALSE(vx.StopProcessing());
  EXPECT_TRUE(vx.FileList().isEmpty());
  EXPECT_TRUE(vx.ArchivComment().isEmpty());
  EXPECT_EQ(vx.CommentSize(), 0u);
  EXPECT_TRUE(vx.Password().isEmpty()) << "no silent.txt beside the test binary";
  EXPECT_TRUE(vx.FileName().isEmpty());
  EXPECT_TRUE(vx.Directory().isEmpty());
  EXPECT_FALSE(vx.OnComment || vx.OnError || vx.OnFileProcessing || vx.OnOverride ||
               vx.OnPassword || vx.OnProgress || vx.OnRarStatus || vx.OnVolChange || vx.OnBusy);
  EXPECT_EQ(fake.calls(), QStringList{QStringLiteral("RARGetDllVersion() = 7")})
      << "construction asks the version once and nothing else";
}

TEST_F(Component, SetModeKeepsTheOperationInStep) {
  TVxUnRar vx;
  vx.SetMode(VxRAR_EXTRACT);
  EXPECT_EQ(vx.Operation(), 2);
  vx.SetMode(VxRAR_LIST);
  EXPECT_EQ(vx.Operation(), 1);
  vx.SetMode(VxRAR_EXTRACT);
  EXPECT_EQ(vx.Mode(), VxRAR_EXTRACT);
  EXPECT_EQ(vx.Operation(), 2);
}

TEST_F(Component, FileListKeepsOrderAndDuplicates) {
  TVxUnRar vx;
  vx.FileList() << QStringLiteral("b") << QStringLiteral("a") << QStringLiteral("b");
  EXPECT_EQ(vx.FileList(), (QStringList{"b", "a", "b"}));
}

TEST_F(Component, DestructionFreesTheLibrary) {
  {
    TVxUnRar vx;
    EXPECT_TRUE(untUnRar::UnRarLibraryLoaded());
  }
  EXPECT_FALSE(untUnRar::UnRarLibraryLoaded());
  EXPECT_EQ(untUnRar::RARReadHeaderEx, nullptr);
}

TEST_F(Component, WithoutTheLibraryEveryRunReportsOnlyNotLoaded) {
  untUnRar::SetUnRarLibraryPath(QStringLiteral("/nonexistent/libunrar.so"));
  TVxUnRar vx;
  EXPECT_FALSE(vx.DllLoaded());
  EXPECT_EQ(vx.DllVersion(), 0);
  QStringList events;
  vx.OnError = [&](QObject* sender, QString message, int id) {
    EXPECT_EQ(sender, &vx);
    events << QStringLiteral("error:%1:%2").arg(message).arg(id);
  };
  vx.OnRarStatus = [&](QObject*, QString, TRarStatus s) {
    events << QStringLiteral("status:%1").arg(s);
  };
  vx.OnProgress = [&](QObject*, quint32, quint32, quint32, quint32) { events << "progress"; };
  vx.SetCanProgress(true);
  vx.SetStopProcessing(true);
  vx.SetFileName(QStringLiteral("/tmp/x.rar"));
  vx.Execute();
  EXPECT_FALSE(vx.StopProcessing()) << "every run clears StopProcessing first";
  vx.Execute();
  EXPECT_EQ(events,
            (QStringList{"error:UnRar.Dll not loaded!:0", "error:UnRar.Dll not loaded!:0"}));
  EXPECT_TRUE(fake.calls().isEmpty());
}

TEST(SilentTxt, FirstLineExactlyAsStoredBecomesThePassword) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  writeFile(dir.filePath("silent.txt"), "  my secret \r\nsecond line\n");
  const Probe probe = runProbe(dir);
  ASSERT_EQ(probe.exitCode, 0);
  EXPECT_EQ(probe.values.value("password"), QStringLiteral("  my secret "));
  EXPECT_EQ(probe.values.value("loaded"), QStringLiteral("0")) << "no library beside the probe";
}

TEST(SilentTxt, EmptyOrAbsentFileOrAFolderGivesAnEmptyPassword) {
  QTemporaryDir empty;
  writeFile(empty.filePath("silent.txt"), "");
  EXPECT_EQ(runProbe(empty).values.value("password", "unset"), QString());
  QTemporaryDir absent;
  EXPECT_EQ(runProbe(absent).values.value("password", "unset"), QString());
  QTemporaryDir folder;
  ASSERT_TRUE(QDir(folder.path()).mkdir("silent.txt"));
  const Probe probe = runProbe(folder);
  EXPECT_EQ(probe.exitCode, 0) << "a folder named silent.txt is no file";
  EXPECT_EQ(probe.values.value("password", "unset"), QString());
}

TEST(SilentTxt, AnUnreadableFileStopsConstructionWithAnError) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  // A regular file whose every read fails, whoever runs the test.
  ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), dir.filePath("silent.txt")));
  const Probe probe = runProbe(dir);
  EXPECT_EQ(probe.exitCode, 3);
  EXPECT_TRUE(probe.values.value("error").contains(QStringLiteral("silent.txt")))
      << probe.values.value("error").toStdString();
}

TEST(LibrarySearch, TheExecutablesFolderComesFirst) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLMOSS_TEST_BIN_DIR "/libfakeunrar.so"),
                          dir.filePath("libunrar.so")));
  writeFile(dir.filePath("script"), "version 9\n");
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove(QStringLiteral("QUILLMOSS_UNRAR_LIBRARY"));
  env.insert(QStringLiteral("QUILLMOSS_FAKE_UNRAR_SCRIPT"), dir.filePath("script"));
  // The probe starts in another folder, so only the absolute path can find it.
  const Probe probe = runProbe(dir, {}, env);
  EXPECT_EQ(probe.values.value("loaded"), QStringLiteral("1"));
  EXPECT_EQ(probe.values.value("version"), QStringLiteral("9"));
}

TEST(PasswordTxt, ThePromptStartsWithItsFirstLine) {
  QTemporaryDir dir;
  writeFile(dir.filePath("password.txt"), " open sesame\nnot this\n");
  const Probe probe = runProbe(dir, {QStringLiteral("prompt")});
  ASSERT_EQ(probe.exitCode, 0);
  EXPECT_EQ(probe.values.value("initial"), QStringLiteral(" open sesame"));
  EXPECT_EQ(probe.values.value("prompted"), QStringLiteral(" open sesame"));
}

TEST(PasswordTxt, AnUnreadableFileCountsAsAbsent) {
  QTemporaryDir dir;
  ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), dir.filePath("password.txt")));
  const Probe probe = runProbe(dir, {QStringLiteral("prompt")});
  ASSERT_EQ(probe.exitCode, 0);
  EXPECT_EQ(probe.values.value("initial", "unset"), QString());
  EXPECT_EQ(probe.values.value("prompted", "unset"), QString());
}
