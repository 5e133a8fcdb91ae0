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
  QString output;       // standard output
};

// How the program is started: unattended on Qt's offscreen platform, as
// scripts/run.sh starts it; with no display and nothing else said, as a
// terminal without one starts it; or unattended although a display is named.
enum class Start { Unattended, NoDisplay, UnattendedWithADisplay };

Outcome runProgram(const QStringList& arguments, const QTemporaryDir& dir,
                   const QString& executable = QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"),
                   const QString& library = QString(), Start start = Start::Unattended) {
  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "QUILLMOSS_UNATTENDED"})
    env.remove(QLatin1String(name));
  if (start != Start::NoDisplay) {
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QUILLMOSS_UNATTENDED"), QStringLiteral("1"));
  }
  if (start == Start::UnattendedWithADisplay)
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
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
  outcome.output = QString::fromLocal8Bit(program.readAllStandardOutput());
  for (const QString& line :
       QString::fromLocal8Bit(program.readAllStandardError()).split(QLatin1Char('\n')))
    if (line.startsWith(QLatin1String("quillmoss: "))) outcome.reports << line.mid(11);
  return outcome;
}

}  // namespace

// What start-up decides before any window: every outcome but 0 says why.
TEST(Program, StartUpOutcomesSayWhyTheyEnd) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.rar")));
  const QString usage = QStringLiteral(
      "no display for the instructions window; usage: quillmoss ARCHIVE.rar (quillmoss --help "
      "says more)");
  const struct {
    QStringList arguments;
    Start start;
    int exitCode;
    QStringList reports;
    QString outputStart;
  } cases[] = {
      // Caption and text: the joined archive text, not the executable-folder path.
      {{"/no/such/My", "Files.RAR "},
       Start::Unattended,
       1,
       {"Error: File not found!: /no/such/My Files.RAR"},
       {}},
      {{"folder.rar"}, Start::Unattended, 1, {"Error: File not found!: folder.rar"}, {}},
      {{"nowhere.rar"}, Start::NoDisplay, 1, {"Error: File not found!: nowhere.rar"}, {}},
      // Nothing to do where the instructions window cannot be seen.
      {{}, Start::NoDisplay, 2, {usage}, {}},
      {{"notes.txt"}, Start::NoDisplay, 2, {usage}, {}},
      {{"--help"}, Start::NoDisplay, 0, {}, "Usage: quillmoss ARCHIVE.rar\n"},
      {{"--version"}, Start::Unattended, 0, {}, "quillmoss " QUILLMOSS_VERSION "\n"},
  };
  for (const auto& c : cases) {
    const Outcome outcome = runProgram(
        c.arguments, dir, QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"), QString(), c.start);
    const std::string row = c.arguments.join(' ').toStdString();
    ASSERT_TRUE(outcome.finished) << row << ": the program must end by itself";
    EXPECT_EQ(outcome.exitCode, c.exitCode) << row;
    EXPECT_EQ(outcome.reports, c.reports) << row;
    EXPECT_TRUE(outcome.output.startsWith(c.outputStart))
        << row << ": " << outcome.output.toStdString();
  }
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

// Unquoted, the path arrives in two pieces and is joined again. Without a
// display, by a relative name from the archive's folder, the program runs
// unattended on the offscreen platform and finds the archive where start-up
// found it.
TEST(Program, AnExistingArchiveIsExtractedBesideItAndTheProgramEnds) {
  const struct {
    QStringList arguments;  // "<dir>" stands for the archive's folder
    Start start;
  } cases[] = {
      {{"<dir>/My", "Archive.rar"}, Start::Unattended},
      {{"My Archive.rar"}, Start::NoDisplay},
  };
  for (const auto& c : cases) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    makeArchive(dir);
    QStringList arguments = c.arguments;
    arguments.replaceInStrings(QStringLiteral("<dir>"), dir.path());
    const Outcome outcome = runProgram(
        arguments, dir, QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"), QString(), c.start);
    const std::string row = c.arguments.join(' ').toStdString();
    ASSERT_TRUE(outcome.finished) << row << ": the extraction window closes itself after its run";
    EXPECT_EQ(outcome.exitCode, 0) << row;
    EXPECT_TRUE(outcome.reports.isEmpty()) << outcome.reports.join('\n').toStdString();
    QFile extracted(dir.filePath(QStringLiteral("inside/hello.txt")));
    ASSERT_TRUE(extracted.open(QIODevice::ReadOnly)) << row;
    EXPECT_EQ(extracted.readAll(), QByteArray("hello"));
  }
}

// The report names the missing display only where that is why nobody is asked.
TEST(Program, AnUnattendedRunSaysWhyNobodyIsAsked) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  rarwriter::Entry entry;
  entry.name = "locked.txt";
  entry.data = "secret";
  entry.password = "right";
  rarwriter::write(dir.filePath(QStringLiteral("locked.rar")).toStdString(), {entry});
  const std::pair<Start, const char*> cases[] = {
      {Start::NoDisplay, "a password is needed; none can be typed without a display"},
      {Start::UnattendedWithADisplay,
       "a password is needed; none can be typed in an unattended run"},
  };
  for (const auto& [start, question] : cases) {
    const Outcome outcome =
        runProgram({dir.filePath(QStringLiteral("locked.rar"))}, dir,
                   QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"), QString(), start);
    ASSERT_TRUE(outcome.finished);
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.reports,
              (QStringList{QLatin1String(question), "error: No Password! (locked.txt)",
                           "error: Not extracted: 1 of 1 entry."}));
  }
}

// A wrong password.txt is tried once per archive: the entry that refused it
// fails, the prompt that comes back to say so is cancelled, the encrypted
// entries after it are said once with their count, and the folders made for
// them go again.
TEST(Program, AWrongPasswordTxtIsTriedOncePerArchive) {
  const std::pair<rarwriter::Format, const char*> rows[] = {
      {rarwriter::Format::Rar5, "error: Wrong Password! (sub/deeper/locked0.txt)"},
      {rarwriter::Format::Rar4, "error: Wrong password or damaged data! (sub/deeper/locked0.txt)"}};
  for (const auto& [format, refused] : rows) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::vector<rarwriter::Entry> entries(3);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].name = "sub/deeper/locked" + std::to_string(i) + ".txt";
      entries[i].data = "secret, not stored plainly";
      entries[i].password = "right";
    }
    rarwriter::Options options;
    options.format = format;
    rarwriter::write(dir.filePath(QStringLiteral("locked.rar")).toStdString(), entries, options);
    const QString folder = dir.filePath(QStringLiteral("program"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/quillmoss");
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"), program));
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
    QFile passwordFile(folder + QStringLiteral("/password.txt"));
    ASSERT_TRUE(passwordFile.open(QIODevice::WriteOnly));
    passwordFile.write("wrong\n");
    passwordFile.close();
    const Outcome outcome = runProgram({dir.filePath(QStringLiteral("locked.rar"))}, dir, program,
                                       QStringLiteral(QUILLMOSS_BIN_DIR "/libunrar.so"));
    const int row = format == rarwriter::Format::Rar5 ? 5 : 4;
    ASSERT_TRUE(outcome.finished) << row;
    EXPECT_EQ(outcome.exitCode, 1) << row;
    EXPECT_EQ(
        outcome.reports,
        (QStringList{"a password is needed; the one from password.txt is used",
                     "the password from password.txt is wrong; no other can be typed without a "
                     "display",
                     QLatin1String(refused),
                     "error: No Password! 2 encrypted entries were not extracted.",
                     "error: Not extracted: 3 of 3 entries."}))
        << row;
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("sub")))) << row;
  }
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
  EXPECT_EQ(outcome.exitCode, 1) << "nothing was extracted";
  ASSERT_EQ(outcome.reports.size(), 1) << outcome.reports.join('\n').toStdString();
  EXPECT_TRUE(outcome.reports[0].startsWith(QStringLiteral("Quillmoss: ")));
  EXPECT_TRUE(outcome.reports[0].contains(QStringLiteral("silent.txt")))
      << outcome.reports[0].toStdString();
  EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("inside")))) << "nothing may be extracted";
}
