// The built program, started as a user would start it, unattended: every
// question it asks is answered and said on standard error.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "rar_writer.h"

namespace {

struct Outcome {
  bool finished = false;
  int exitCode = -1;
  QStringList reports;  // what the run said, one line each, without the prefix
};

Outcome runProgram(const QStringList& arguments, const QTemporaryDir& dir,
                   const QString& executable = QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"),
                   const QString& library = QString()) {
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("QUILLMOSS_UNATTENDED"), QStringLiteral("1"));
  if (!library.isEmpty()) env.insert(QStringLiteral("QUILLMOSS_UNRAR_LIBRARY"), library);
  program.setProcessEnvironment(env);
  program.setWorkingDirectory(dir.path());
  program.start(executable, arguments);
  Outcome outcome;
  outcome.finished = program.waitForFinished(20000);
  if (!outcome.finished) {
    program.kill();
    program.waitForFinished(5000);
    return outcome;
  }
  outcome.exitCode = program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
  for (const QString& line :
       QString::fromLocal8Bit(program.readAllStandardError()).split(QLatin1Char('\n')))
    if (line.startsWith(QLatin1String("quillmoss: "))) outcome.reports << line.mid(11);
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
  // Caption and text: the joined archive text, not the executable-folder path.
  EXPECT_EQ(outcome.reports,
            QStringList{QStringLiteral("Error: File not found!: /no/such/My Files.RAR")});
}

TEST(Program, AFolderNamedLikeAnArchiveIsNotFound) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.rar")));
  const Outcome outcome = runProgram({QStringLiteral("folder.rar")}, dir);
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_EQ(outcome.reports, QStringList{QStringLiteral("Error: File not found!: folder.rar")});
}

namespace {

QString makeArchive(const QTemporaryDir& dir) {
  rarwriter::Entry entry;
  entry.name = "inside/hello.txt";
  entry.data = "hello";
  const QString path = dir.filePath(QStringLiteral("My Archive.rar"));
  rarwriter::write(path.toStdString(), {entry});
  return path;
}

}  // namespace

TEST(Program, AnExistingArchiveIsExtractedBesideItAndTheProgramEnds) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString archive = makeArchive(dir);
  // Unquoted, the path arrives in two pieces and is joined again.
  const Outcome outcome =
      runProgram({dir.filePath(QStringLiteral("My")), QStringLiteral("Archive.rar")}, dir);
  ASSERT_TRUE(outcome.finished) << "the extraction window closes itself after its run";
  EXPECT_EQ(outcome.exitCode, 0);
  EXPECT_TRUE(outcome.reports.isEmpty()) << outcome.reports.join('\n').toStdString();
  QFile extracted(dir.filePath(QStringLiteral("inside/hello.txt")));
  ASSERT_TRUE(extracted.open(QIODevice::ReadOnly));
  EXPECT_EQ(extracted.readAll(), QByteArray("hello"));
}

TEST(Program, AnUnreadableSilentTxtIsShownOnceAndNothingIsWritten) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString archive = makeArchive(dir);
  // A copy of the program in a folder of its own, beside a silent.txt whose
  // every read fails.
  const QString folder = dir.filePath(QStringLiteral("program"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString program = folder + QStringLiteral("/quillmoss");
  ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"), program));
  QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
  ASSERT_TRUE(
      QFile::link(QStringLiteral("/proc/self/mem"), folder + QStringLiteral("/silent.txt")));
  const Outcome outcome =
      runProgram({archive}, dir, program, QStringLiteral(QUILLMOSS_BIN_DIR "/libunrar.so"));
  ASSERT_TRUE(outcome.finished);
  EXPECT_EQ(outcome.exitCode, 0);
  ASSERT_EQ(outcome.reports.size(), 1) << outcome.reports.join('\n').toStdString();
  EXPECT_TRUE(outcome.reports[0].startsWith(QStringLiteral("Quillmoss: ")));
  EXPECT_TRUE(outcome.reports[0].contains(QStringLiteral("silent.txt")))
      << outcome.reports[0].toStdString();
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("inside")))) << "nothing may be extracted";
}
