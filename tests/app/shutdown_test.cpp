#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <vector>

#include "process.h"
#include "shutdown.h"

namespace {

// A copy of the stand-in under a name no other process on the machine has.
QString uniqueStandIn(const QTemporaryDir& dir, const QString& stem) {
  const QString path = dir.filePath(QStringLiteral("%1_%2").arg(stem).arg(::getpid()));
  QFile::copy(QStringLiteral(QUILLMOSS_TEST_BIN_DIR "/qm_shutdown_standin"), path);
  return path;
}

bool listed(pid_t pid) {
  for (const auto& p : platform::listProcesses())
    if (p.pid == pid) return true;
  return false;
}

// Waits until the walk can see the started copies' executables.
bool waitUntilListed(const std::vector<std::unique_ptr<QProcess>>& copies) {
  for (int i = 0; i < 100; ++i) {
    bool all = true;
    for (const auto& c : copies) {
      const QString exe = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(c->processId()));
      all = all && exe.contains(QStringLiteral("qm_"));
    }
    if (all) return true;
    QThread::msleep(20);
  }
  return false;
}

}  // namespace

TEST(Shutdown, EndsEveryOtherCopyAndTheCallerEndsWithZero) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString standIn = uniqueStandIn(dir, QStringLiteral("qm_standin"));
  const QString bystander = uniqueStandIn(dir, QStringLiteral("qm_bystander"));
  std::vector<std::unique_ptr<QProcess>> copies;
  for (int i = 0; i < 4; ++i) {
    copies.push_back(std::make_unique<QProcess>());
    copies.back()->start(standIn, {});
    ASSERT_TRUE(copies.back()->waitForStarted(5000));
  }
  std::vector<std::unique_ptr<QProcess>> others;
  others.push_back(std::make_unique<QProcess>());
  others.back()->start(bystander, {});
  ASSERT_TRUE(others.back()->waitForStarted(5000));
  ASSERT_TRUE(waitUntilListed(copies));
  ASSERT_TRUE(waitUntilListed(others));

  // The caller's own pid lies between the copies' (started after some of
  // them, before none): it must pass over itself and reach the rest.
  QProcess caller;
  caller.start(standIn,
               {QStringLiteral("shutdown"), QStringLiteral("ignored"), QStringLiteral("args")});
  ASSERT_TRUE(caller.waitForFinished(20000));
  EXPECT_EQ(caller.exitStatus(), QProcess::NormalExit)
      << "the caller must not end itself by a signal";
  EXPECT_EQ(caller.exitCode(), 0);

  for (auto& copy : copies) {
    ASSERT_TRUE(copy->waitForFinished(10000)) << "a copy kept running";
    EXPECT_EQ(copy->exitStatus(), QProcess::CrashExit) << "copies are ended, not exited";
  }
  EXPECT_EQ(others.back()->state(), QProcess::Running)
      << "a copy whose executable has another name must survive";
  EXPECT_TRUE(listed(static_cast<pid_t>(others.back()->processId())));
  ::kill(static_cast<pid_t>(others.back()->processId()), SIGKILL);
  others.back()->waitForFinished(5000);
}

TEST(Shutdown, WithNoOtherCopyNothingIsTerminatedAndTheCallerEndsWithZero) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString standIn = uniqueStandIn(dir, QStringLiteral("qm_alone"));
  QProcess caller;
  caller.start(standIn, {QStringLiteral("shutdown")});
  ASSERT_TRUE(caller.waitForFinished(20000));
  EXPECT_EQ(caller.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(caller.exitCode(), 0);
  EXPECT_FALSE(startup::TerminateProcessesByName(QStringLiteral("qm_alone_%1").arg(::getpid())))
      << "no match: no termination attempted";
}

TEST(Shutdown, MatchesTheFileNameOrTheWholePathIgnoringCase) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString standIn = uniqueStandIn(dir, QStringLiteral("qm_case"));
  for (const QString& name : {QFileInfo(standIn).fileName().toUpper(), standIn}) {
    QProcess copy;
    copy.start(standIn, {});
    ASSERT_TRUE(copy.waitForStarted(5000));
    std::vector<std::unique_ptr<QProcess>> none;
    for (int i = 0;
         i < 100 && !QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(copy.processId()))
                         .contains(QStringLiteral("qm_case"));
         ++i)
      QThread::msleep(20);
    EXPECT_TRUE(startup::TerminateProcessesByName(name)) << name.toStdString();
    EXPECT_TRUE(copy.waitForFinished(5000)) << name.toStdString();
  }
}
