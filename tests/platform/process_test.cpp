#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>

#include "executable.h"
#include "process.h"

namespace {

QString readAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("<missing>");
  return QString::fromUtf8(f.readAll());
}

}  // namespace

TEST(ProcessWalk, ListsThisProcessWithItsExecutable) {
  const auto processes = platform::listProcesses();
  const pid_t self = platform::currentProcessId();
  EXPECT_EQ(self, ::getpid());
  auto it = std::find_if(processes.begin(), processes.end(),
                         [&](const platform::ProcessInfo& p) { return p.pid == self; });
  ASSERT_NE(it, processes.end());
  EXPECT_EQ(it->imagePath, QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
  EXPECT_EQ(platform::imageFileName(it->imagePath), QStringLiteral("platform_layer_tests"));
  EXPECT_TRUE(std::is_sorted(processes.begin(), processes.end(),
                             [](const auto& a, const auto& b) { return a.pid < b.pid; }));
}

TEST(ProcessWalk, ImageFileNameIsTheTextAfterTheLastSlash) {
  EXPECT_EQ(platform::imageFileName(QStringLiteral("/usr/bin/quillmoss")),
            QStringLiteral("quillmoss"));
  EXPECT_EQ(platform::imageFileName(QStringLiteral("C:quillmoss")), QStringLiteral("C:quillmoss"));
  EXPECT_EQ(platform::imageFileName(QStringLiteral("plain")), QStringLiteral("plain"));
}

TEST(ProcessTermination, EndsAChildAtOnce) {
  QProcess child;
  child.start(QStringLiteral("/bin/sleep"), {QStringLiteral("30")});
  ASSERT_TRUE(child.waitForStarted(5000));
  ASSERT_TRUE(platform::terminateProcess(static_cast<pid_t>(child.processId())));
  ASSERT_TRUE(child.waitForFinished(5000));
  EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
  EXPECT_FALSE(platform::terminateProcess(0)) << "pid 0 would signal the whole process group";
  EXPECT_FALSE(platform::terminateProcess(-1)) << "pid -1 would signal every process";
}

TEST(RunAndWait, PassesArgumentsWhole_RunsInTheFolder_ReturnsTheExitCode) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const auto result = platform::runAndWait(
      QStringLiteral("/bin/sh"),
      {QStringLiteral("-c"), QStringLiteral("pwd > where; printf %s \"$1\" > arg; exit 7"),
       QStringLiteral("sh"), QStringLiteral("  a \"quoted\"  b.rar ")},
      dir.path());
  ASSERT_TRUE(result.started) << result.error.toStdString();
  EXPECT_EQ(result.exitCode, 7);
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(readAll(dir.filePath(QStringLiteral("arg"))), QStringLiteral("  a \"quoted\"  b.rar "));
  EXPECT_EQ(QDir(readAll(dir.filePath(QStringLiteral("where"))).trimmed()).canonicalPath(),
            QDir(dir.path()).canonicalPath());
}

TEST(RunAndWait, WaitsForTheChildToEnd) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const auto result = platform::runAndWait(
      QStringLiteral("/bin/sh"),
      {QStringLiteral("-c"), QStringLiteral("sleep 1; echo done > late")}, dir.path());
  ASSERT_TRUE(result.started);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(readAll(dir.filePath(QStringLiteral("late"))), QStringLiteral("done\n"));
}

TEST(RunAndWait, ReportsASignalAndAProgramThatCannotStart) {
  const auto killed = platform::runAndWait(
      QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("kill -9 $$")}, QString());
  ASSERT_TRUE(killed.started);
  EXPECT_EQ(killed.signal, SIGKILL);
  EXPECT_EQ(killed.exitCode, -1);
  const auto missing = platform::runAndWait(QStringLiteral("/nonexistent/program"), {}, QString());
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.error.isEmpty());
  const auto badFolder =
      platform::runAndWait(QStringLiteral("/bin/true"), {}, QStringLiteral("/nonexistent/folder"));
  EXPECT_FALSE(badFolder.started && badFolder.exitCode == 0)
      << "a working folder that does not exist must not pass as a successful run";
}
