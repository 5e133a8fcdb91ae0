// The built program, started as a user would start it, with message boxes
// answered through its test seam.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Outcome {
  bool finished = false;
  int exitCode = -1;
  QStringList boxes;
};

Outcome runProgram(const QStringList& arguments, const QTemporaryDir& dir) {
  const QString boxLog = dir.filePath(QStringLiteral("boxes.log"));
  QFile::remove(boxLog);
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QUILLMOSS_TEST_ANSWER_BOXES"), boxLog);
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(dir.path());
  program.start(QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"), arguments);
  Outcome outcome;
  outcome.finished = program.waitForFinished(20000);
  if (!outcome.finished) {
    program.kill();
    program.waitForFinished(5000);
    return outcome;
  }
  outcome.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  QFile log(boxLog);
  if (log.open(QIODevice::ReadOnly))
    outcome.boxes = QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  return outcome;
}

}  // namespace

TEST(Program, AMissingArchiveGivesTheNotFoundBoxAndEndsWithZero) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const Outcome outcome =
      runProgram({QStringLiteral("/no/such/My"), QStringLiteral("Files.RAR ")}, dir);
  ASSERT_TRUE(outcome.finished) << "the program must end by itself";
  EXPECT_EQ(outcome.exitCode, 0);
  // Caption, text (the joined archive text, not the executable-folder path), no icon.
  EXPECT_EQ(outcome.boxes,
            QStringList{QStringLiteral("Error: File not found!\t/no/such/My Files.RAR\t0")});
}

TEST(Program, AFolderNamedLikeAnArchiveIsNotFound) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.rar")));
  const Outcome outcome = runProgram({QStringLiteral("folder.rar")}, dir);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.boxes, QStringList{QStringLiteral("Error: File not found!\tfolder.rar\t0")});
}
