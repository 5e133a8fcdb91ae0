// The whole program on real archives: each test copies the built program and
// libunrar.so into a private folder (so side files such as "folder.txt" stay
// private), makes its archive with the RAR writer and starts the program on it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "modal.h"
#include "rar_writer.h"
#include "untOverWritePrompt.h"
#include "untUnRarDemo.h"

namespace {

constexpr int kRunLimitMs = 30000;

struct RunResult {
  bool finished = false;
  int exitCode = -1;
  QString output;
};

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
  file.write(bytes);
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every file and folder below root, as paths relative to it.
QStringList tree(const QString& root) {
  QStringList found;
  QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) found << QDir(root).relativeFilePath(it.next());
  found.sort();
  return found;
}

std::vector<rarwriter::Entry> sampleEntries() {
  std::vector<rarwriter::Entry> entries;
  auto add = [&](const std::string& name, const std::string& data, std::int64_t mtime) {
    rarwriter::Entry e;
    e.name = name;
    e.data = data;
    e.mtime = mtime;
    entries.push_back(e);
  };
  rarwriter::Entry folder;
  folder.name = "docs";
  folder.directory = true;
  entries.push_back(folder);
  add("docs/readme.txt", "Read me first.\n", 1600000000);
  add("docs/deep/notes.md", std::string(70000, 'n'), 1650000000);
  add("top.bin", std::string("\0\1\2\3binary\xff", 11), 1500000000);
  add("\xc3\xbc"
      "bung \xe2\x82\xac.txt",
      "unicode name", 1700000000);
  return entries;
}

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.isValid());
    program = QDir(root.path()).filePath(QStringLiteral("prog"));
    data = QDir(root.path()).filePath(QStringLiteral("data"));
    ASSERT_TRUE(QDir().mkpath(program));
    ASSERT_TRUE(QDir().mkpath(data));
    for (const char* name : {"quillmoss", "libunrar.so"}) {
      const QString from = QStringLiteral(QUILLMOSS_BIN_DIR "/") + QLatin1String(name);
      ASSERT_TRUE(QFile::copy(from, QDir(program).filePath(QLatin1String(name))))
          << "cannot copy " << qPrintable(from);
    }
    QFile::setPermissions(QDir(program).filePath(QStringLiteral("quillmoss")),
                          QFile::permissions(QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss")));
  }

  QString makeArchive(const QString& folder, const QString& name, rarwriter::Format format) {
    const QString path = QDir(folder).filePath(name);
    rarwriter::Options options;
    options.format = format;
    rarwriter::write(path.toStdString(), sampleEntries(), options);
    return path;
  }

  // The sample entries with the first file's stored CRC wrong.
  QString makeDamagedArchive() {
    const QString path = QDir(data).filePath(QStringLiteral("broken.rar"));
    rarwriter::Options options;
    options.damage = rarwriter::Damage::BadDataCrc;
    rarwriter::write(path.toStdString(), sampleEntries(), options);
    return path;
  }

  // Starts the copied program with the arguments, unattended as scripts/run.sh
  // runs it without a display; the run must end by itself. Every question it
  // asks is answered and said on standard error (see reports()). With a prefix
  // (such as setpriv and its options, or xvfbPrefix()) the program is started
  // through it.
  RunResult run(const QStringList& arguments, const QString& workingFolder = QString(),
                const QStringList& prefix = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (realDisplay || noDisplay)
      environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    else
      environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.remove(QStringLiteral("QUILLMOSS_UNRAR_LIBRARY"));
    if (boxesWait || noDisplay)
      environment.remove(QStringLiteral("QUILLMOSS_UNATTENDED"));
    else
      environment.insert(QStringLiteral("QUILLMOSS_UNATTENDED"), QStringLiteral("1"));
    if (!realDisplay) {
      environment.remove(QStringLiteral("DISPLAY"));
      environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    }
    for (auto it = extraEnvironment.cbegin(); it != extraEnvironment.cend(); ++it)
      environment.insert(it.key(), it.value());
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(workingFolder.isEmpty() ? root.path() : workingFolder);
    const QString executable = QDir(program).filePath(QStringLiteral("quillmoss"));
    if (prefix.isEmpty())
      process.start(executable, arguments);
    else
      process.start(prefix.front(), prefix.mid(1) + QStringList{executable} + arguments);
    RunResult result;
    if (!process.waitForStarted(10000)) {
      result.output = process.errorString();
      return result;
    }
    result.finished = process.waitForFinished(runLimitMs);
    if (!result.finished) {
      process.kill();  // our own child, by its pid
      process.waitForFinished(5000);
    }
    result.exitCode = process.exitCode();
    result.output = QString::fromLocal8Bit(process.readAll());
    lastOutput = result.output;
    return result;
  }

  // A new X server for the run, with a driver script that gets the program and
  // its arguments. The X server tests run side by side under ctest -j: each
  // looks for a free display from a number of its own, so that two never start
  // on the same one.
  QStringList xvfbPrefix(const QString& xvfb, const QString& firstDisplay, const char* script) {
    realDisplay = true;
    runLimitMs = 60000;
    return {xvfb,
            QStringLiteral("-a"),
            QStringLiteral("-n"),
            firstDisplay,
            QStringLiteral("-s"),
            QStringLiteral("-screen 0 1280x1024x24"),
            QStringLiteral(QUILLMOSS_SOURCE_DIR "/tests/e2e/") + QLatin1String(script)};
  }

  void expectSampleFilesIn(const QString& folder) {
    for (const rarwriter::Entry& e : sampleEntries()) {
      const QString path = QDir(folder).filePath(QString::fromStdString(e.name));
      const QFileInfo info(path);
      if (e.directory) {
        EXPECT_TRUE(info.isDir()) << e.name;
        continue;
      }
      EXPECT_EQ(readAll(path), QByteArray::fromStdString(e.data)) << e.name;
      EXPECT_EQ(info.lastModified().toSecsSinceEpoch(), e.mtime) << e.name;
    }
  }

  // Permission bits bind only other users: as root, the program is run as
  // nobody, in folders nobody may enter and write.
  QStringList unprivilegedPrefix() {
    if (::geteuid() != 0) return {};
    for (const QString& folder : {root.path(), program, data})
      EXPECT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    return {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"),
            QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups")};
  }

  // What the last run said of the questions it answered and of its failures,
  // one line each.
  QStringList reports() const {
    QStringList lines;
    for (const QString& line : lastOutput.split(QLatin1Char('\n')))
      if (line.startsWith(QLatin1String("quillmoss: "))) lines << line.mid(11);
    return lines;
  }

  QTemporaryDir root;
  QString program;
  QString data;
  QString lastOutput;
  // Not unattended: message boxes are real and wait for a person who never comes.
  bool boxesWait = false;
  // On the X server the prefix starts, not on Qt's offscreen platform.
  bool realDisplay = false;
  // As a terminal without a display starts it: no display, no platform and
  // nothing that says unattended.
  bool noDisplay = false;
  QMap<QString, QString> extraEnvironment;
  int runLimitMs = kRunLimitMs;
};

const QStringList kSampleTree = {QStringLiteral("docs"),
                                 QStringLiteral("docs/deep"),
                                 QStringLiteral("docs/deep/notes.md"),
                                 QStringLiteral("docs/readme.txt"),
                                 QStringLiteral("top.bin"),
                                 QString::fromUtf8("\xc3\xbc"
                                                   "bung \xe2\x82\xac.txt")};

}  // namespace

// What start-up decides before any window: every outcome but 0 says why.
TEST_F(Program, StartUpOutcomesSayWhyTheyEnd) {
  ASSERT_TRUE(QDir(data).mkdir(QStringLiteral("folder.rar")));
  const QString usage = QStringLiteral(
      "no display for the instructions window; usage: quillmoss ARCHIVE.rar (quillmoss --help "
      "says more)");
  const struct {
    QStringList arguments;
    bool noDisplay;
    int exitCode;
    QStringList reports;
    QString outputStart;
  } cases[] = {
      // Caption and text: the joined archive text, not the executable-folder path.
      {{"/no/such/My", "Files.RAR "},
       false,
       1,
       {"Error: File not found!: /no/such/My Files.RAR"},
       {}},
      {{"folder.rar"}, false, 1, {"Error: File not found!: folder.rar"}, {}},
      {{"nowhere.rar"}, true, 1, {"Error: File not found!: nowhere.rar"}, {}},
      // Nothing to do where the instructions window cannot be seen.
      {{}, true, 2, {usage}, {}},
      {{"notes.txt"}, true, 2, {usage}, {}},
      {{"--help"}, true, 0, {}, "Usage: quillmoss ARCHIVE.rar\n"},
      {{"--version"}, false, 0, {}, "quillmoss " QUILLMOSS_VERSION "\n"},
  };
  for (const auto& c : cases) {
    noDisplay = c.noDisplay;
    const RunResult result = run(c.arguments, data);
    const std::string row = c.arguments.join(' ').toStdString();
    ASSERT_TRUE(result.finished) << row << ": the program must end by itself";
    EXPECT_EQ(result.exitCode, c.exitCode) << row;
    EXPECT_EQ(reports(), c.reports) << row;
    EXPECT_TRUE(result.output.startsWith(c.outputStart))
        << row << ": " << qPrintable(result.output);
  }
}

TEST_F(Program, FreshExtractionLeavesExactlyTheArchivesFiles) {
  for (const auto format : {rarwriter::Format::Rar5, rarwriter::Format::Rar4}) {
    const QString folder = QDir(data).filePath(format == rarwriter::Format::Rar5 ? "five" : "four");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString archive = makeArchive(folder, QStringLiteral("backup.rar"), format);
    const RunResult result = run({archive});
    ASSERT_TRUE(result.finished) << "the program did not end by itself";
    EXPECT_EQ(result.exitCode, 0) << qPrintable(result.output);
    QStringList expected = kSampleTree;
    expected << QStringLiteral("backup.rar");
    expected.sort();
    EXPECT_EQ(tree(folder), expected);
    expectSampleFilesIn(folder);
    EXPECT_TRUE(reports().isEmpty())
        << "the automatic run asks nothing: " << qPrintable(result.output);
  }
}

TEST_F(Program, PathSplitAtBlanksIsPutTogether) {
  const QString folder = QDir(data).filePath(QStringLiteral("with blank"));
  ASSERT_TRUE(QDir().mkpath(folder));
  const QString archive =
      makeArchive(folder, QStringLiteral("my backup.rar"), rarwriter::Format::Rar5);
  const RunResult result = run(archive.split(QLatin1Char(' ')));
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0) << qPrintable(result.output);
  EXPECT_TRUE(reports().isEmpty()) << qPrintable(result.output);
  expectSampleFilesIn(folder);
}

// Without a display, by a relative name from the archive's folder, the program
// runs unattended on the offscreen platform and finds the archive where
// start-up found it.
TEST_F(Program, WithoutADisplayARelativeNameIsExtractedBesideTheArchive) {
  makeArchive(data, QStringLiteral("my backup.rar"), rarwriter::Format::Rar5);
  noDisplay = true;
  const RunResult result = run({QStringLiteral("my backup.rar")}, data);
  ASSERT_TRUE(result.finished) << "the extraction window closes itself after its run";
  EXPECT_EQ(result.exitCode, 0) << qPrintable(result.output);
  EXPECT_TRUE(reports().isEmpty()) << qPrintable(result.output);
  expectSampleFilesIn(data);
}

TEST_F(Program, FolderFileRedirectsTheExtraction) {
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar5);
  const QString out = QDir(root.path()).filePath(QStringLiteral("out"));
  ASSERT_TRUE(QDir().mkpath(out));
  writeFile(QDir(program).filePath(QStringLiteral("folder.txt")), (out + "/\nignored\n").toUtf8());
  const RunResult result = run({archive});
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(tree(data), QStringList{QStringLiteral("backup.rar")});
  EXPECT_EQ(tree(out), kSampleTree);
  expectSampleFilesIn(out);
}

TEST_F(Program, FolderFileNamingNoFolderExtractsNothing) {
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar5);
  const QString missing = QDir(root.path()).filePath(QStringLiteral("no-such-folder"));
  writeFile(QDir(program).filePath(QStringLiteral("folder.txt")), missing.toUtf8());
  const RunResult result = run({archive});
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 1) << "nothing was extracted";
  EXPECT_EQ(reports(), QStringList{QStringLiteral("error: The folder ") + missing +
                                   QStringLiteral(" named in folder.txt does not exist; nothing "
                                                  "was extracted.")});
  EXPECT_EQ(tree(data), QStringList{QStringLiteral("backup.rar")});
  EXPECT_FALSE(QFileInfo::exists(missing));
}

TEST_F(Program, NameOnlyArchiveBesideTheExecutableExtractsThere) {
  makeArchive(program, QStringLiteral("beside.rar"), rarwriter::Format::Rar4);
  // Started from another folder, with the bare name.
  const RunResult result = run({QStringLiteral("beside.rar")}, data);
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 0);
  expectSampleFilesIn(program);
  EXPECT_TRUE(tree(data).isEmpty());
}

// "silent.txt" that exists but cannot be read, either because it cannot be
// opened or because every read of it fails: the window is not created, the
// error is shown once and the program ends with 1, having written nothing.
TEST_F(Program, UnreadableSilentFileStopsBeforeAnythingIsWritten) {
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar5);
  const QString silent = QDir(program).filePath(QStringLiteral("silent.txt"));
  const QStringList prefix = unprivilegedPrefix();
  for (const bool opens : {false, true}) {
    QFile::remove(silent);
    if (opens) {
      ASSERT_TRUE(QFile::link(QStringLiteral("/proc/self/mem"), silent));
    } else {
      writeFile(silent, "secret\n");
      ASSERT_TRUE(QFile::setPermissions(silent, QFile::Permissions()));
    }
    const RunResult result = run({archive}, QString(), prefix);
    ASSERT_TRUE(result.finished) << "the program did not end by itself";
    EXPECT_EQ(result.exitCode, 1) << qPrintable(result.output);
    EXPECT_EQ(tree(data), QStringList{QStringLiteral("backup.rar")});
    const QStringList shown = reports();
    ASSERT_EQ(shown.size(), 1) << qPrintable(result.output);
    EXPECT_TRUE(shown.front().startsWith(QStringLiteral("Quillmoss: ")))
        << qPrintable(shown.front());
    EXPECT_TRUE(shown.front().contains(QStringLiteral("silent.txt"))) << qPrintable(shown.front());
  }
}

TEST_F(Program, UnreadableFolderFileIsReportedAndNothingExtracted) {
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar5);
  const QString folderFile = QDir(program).filePath(QStringLiteral("folder.txt"));
  writeFile(folderFile, data.toUtf8());
  ASSERT_TRUE(QFile::setPermissions(folderFile, QFile::Permissions()));
  const RunResult result = run({archive}, QString(), unprivilegedPrefix());
  ASSERT_TRUE(result.finished) << "the program did not end by itself";
  EXPECT_EQ(result.exitCode, 1) << qPrintable(result.output);
  EXPECT_EQ(tree(data), QStringList{QStringLiteral("backup.rar")});
  const QStringList shown = reports();
  ASSERT_EQ(shown.size(), 1) << qPrintable(result.output);
  EXPECT_TRUE(shown.front().startsWith(QStringLiteral("Quillmoss: "))) << qPrintable(shown.front());
  EXPECT_TRUE(shown.front().contains(QStringLiteral("folder.txt"))) << qPrintable(shown.front());
}

// The real prompt on a real X server, answered with keys: Tab Tab Return
// presses "Overwrite all files!", after which no further prompt may come
// (the driver would time out waiting for the program to end).
TEST_F(Program, RealPromptAnsweredWithKeysUnderXvfb) {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
  const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
  if (xvfb.isEmpty() || xdotool.isEmpty()) GTEST_SKIP() << "needs xvfb-run and xdotool";
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar5);
  ASSERT_TRUE(QDir(data).mkpath(QStringLiteral("docs/deep")));
  writeFile(QDir(data).filePath(QStringLiteral("top.bin")), "old");
  writeFile(QDir(data).filePath(QStringLiteral("docs/readme.txt")), "old");
  writeFile(QDir(data).filePath(QStringLiteral("docs/deep/notes.md")), "old");

  boxesWait = true;  // the prompt is answered by the keys
  const RunResult result =
      run({archive, QStringLiteral("Tab"), QStringLiteral("Tab"), QStringLiteral("Return")}, {},
          xvfbPrefix(xvfb, QStringLiteral("171"), "answer_prompt.sh"));
  ASSERT_TRUE(result.finished) << qPrintable(result.output);
  ASSERT_EQ(result.exitCode, 0) << "90: no prompt, 91: the program kept waiting\n"
                                << qPrintable(result.output);
  expectSampleFilesIn(data);
}

// One entry of 1 GiB: while it is written the window must still redraw
// itself when it is uncovered (unmapped and mapped again on a real X server).
TEST_F(Program, WindowRedrawsDuringALargeEntryUnderXvfb) {
  const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
  const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
  const QString import = QStandardPaths::findExecutable(QStringLiteral("import"));
  if (xvfb.isEmpty() || xdotool.isEmpty() || import.isEmpty())
    GTEST_SKIP() << "needs xvfb-run, xdotool and ImageMagick";
  rarwriter::Entry big;
  big.name = "big.bin";
  big.sourceSize = std::uint64_t{1} << 30;
  big.source = [](std::uint64_t, char* out, std::size_t length) { std::memset(out, 'q', length); };
  const QString archive = QDir(data).filePath(QStringLiteral("big.rar"));
  rarwriter::write(archive.toStdString(), {big});

  const RunResult result =
      run({archive, root.path()}, {}, xvfbPrefix(xvfb, QStringLiteral("181"), "redraw_check.sh"));
  ASSERT_TRUE(result.finished) << qPrintable(result.output);
  EXPECT_EQ(result.exitCode, 0) << "92: no extraction seen, 93: no redraw, 94: entry too short\n"
                                << qPrintable(result.output);
  EXPECT_EQ(QFileInfo(QDir(data).filePath(QStringLiteral("big.bin"))).size(), qint64{1} << 30);
  EXPECT_TRUE(reports().isEmpty()) << qPrintable(result.output);
}

// Under a Wayland compositor every question and the status dialog are made
// children of the extraction window (xdg_toplevel.set_parent), so that the
// compositor keeps them above it and opens them over it. The run here asks
// for a password (taken from password.txt), asks about an existing file and
// shows the status dialog for a damaged entry.
TEST_F(Program, DialogsAreChildrenOfTheWindowUnderWeston) {
  if (QStandardPaths::findExecutable(QStringLiteral("weston")).isEmpty())
    GTEST_SKIP() << "weston missing: run scripts/setup-deps.sh";
  const QString archive = QDir(data).filePath(QStringLiteral("locked.rar"));
  std::vector<rarwriter::Entry> entries = sampleEntries();
  for (rarwriter::Entry& e : entries) e.password = "secret";
  rarwriter::Options options;
  options.damage = rarwriter::Damage::BadDataCrc;
  rarwriter::write(archive.toStdString(), entries, options);
  writeFile(QDir(program).filePath(QStringLiteral("password.txt")), "secret\n");
  writeFile(QDir(data).filePath(QStringLiteral("top.bin")), "mine");

  realDisplay = true;
  const RunResult result =
      run({archive}, {}, {QStringLiteral(QUILLMOSS_SOURCE_DIR "/tests/e2e/weston_run.sh")});
  ASSERT_TRUE(result.finished) << qPrintable(result.output);
  ASSERT_NE(result.exitCode, 95) << "weston did not start\n" << qPrintable(result.output);
  EXPECT_EQ(result.exitCode, 1) << "a damaged entry\n" << qPrintable(result.output);
  EXPECT_EQ(readAll(QDir(data).filePath(QStringLiteral("top.bin"))), QByteArray("mine"));
  EXPECT_EQ(readAll(QDir(data).filePath(QStringLiteral("docs/deep/notes.md"))),
            QByteArray(70000, 'n'));

  // The first toplevel is the extraction window; every later one must name it
  // as its parent.
  static const QRegularExpression made(
      QStringLiteral(R"(get_toplevel\(new id xdg_toplevel@(\d+)\))"));
  static const QRegularExpression parented(
      QStringLiteral(R"(xdg_toplevel@(\d+)\.set_parent\(xdg_toplevel@(\d+)\))"));
  QStringList toplevels;
  QMap<QString, QString> parents;
  for (const QString& line : result.output.split(QLatin1Char('\n'))) {
    if (const QRegularExpressionMatch m = made.match(line); m.hasMatch())
      toplevels << m.captured(1);
    else if (const QRegularExpressionMatch p = parented.match(line); p.hasMatch())
      parents[p.captured(1)] = p.captured(2);
  }
  ASSERT_GE(toplevels.size(), 4) << "the window, the password and overwrite prompts, the status "
                                    "dialog\n"
                                 << qPrintable(result.output);
  for (const QString& dialog : toplevels.mid(1))
    EXPECT_EQ(parents.value(dialog), toplevels.front()) << "xdg_toplevel@" << qPrintable(dialog);
}

// The report names the missing display only where that is why nobody is asked.
TEST_F(Program, AnUnattendedRunSaysWhyNobodyIsAsked) {
  rarwriter::Entry entry;
  entry.name = "locked.txt";
  entry.data = "secret";
  entry.password = "right";
  const QString archive = QDir(data).filePath(QStringLiteral("locked.rar"));
  rarwriter::write(archive.toStdString(), {entry});
  const std::pair<bool, const char*> cases[] = {
      {true, "a password is needed; none can be typed without a display"},
      {false, "a password is needed; none can be typed in an unattended run"},
  };
  for (const auto& [withoutDisplay, question] : cases) {
    noDisplay = withoutDisplay;
    if (!withoutDisplay) extraEnvironment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":99"));
    const RunResult result = run({archive});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(reports(), (QStringList{QLatin1String(question), "error: No Password! (locked.txt)",
                                      "error: Not extracted: 1 of 1 entry."}));
  }
}

// A wrong password.txt is tried once per archive: the entry that refused it
// fails, the prompt that comes back to say so is cancelled, the encrypted
// entries after it are said once with their count, and the folders made for
// them go again.
TEST_F(Program, AWrongPasswordTxtIsTriedOncePerArchive) {
  const std::pair<rarwriter::Format, const char*> rows[] = {
      {rarwriter::Format::Rar5, "error: Wrong Password! (sub/deeper/locked0.txt)"},
      {rarwriter::Format::Rar4, "error: Wrong password or damaged data! (sub/deeper/locked0.txt)"}};
  writeFile(QDir(program).filePath(QStringLiteral("password.txt")), "wrong\n");
  for (const auto& [format, refused] : rows) {
    const int row = format == rarwriter::Format::Rar5 ? 5 : 4;
    const QString folder = QDir(data).filePath(QString::number(row));
    ASSERT_TRUE(QDir().mkpath(folder));
    std::vector<rarwriter::Entry> entries(3);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      entries[i].name = "sub/deeper/locked" + std::to_string(i) + ".txt";
      entries[i].data = "secret, not stored plainly";
      entries[i].password = "right";
    }
    rarwriter::Options options;
    options.format = format;
    const QString archive = QDir(folder).filePath(QStringLiteral("locked.rar"));
    rarwriter::write(archive.toStdString(), entries, options);
    const RunResult result = run({archive}, folder);
    ASSERT_TRUE(result.finished) << row;
    EXPECT_EQ(result.exitCode, 1) << row;
    EXPECT_EQ(reports(),
              (QStringList{"a password is needed; the one from password.txt is used",
                           "the password from password.txt is wrong; no other can be typed "
                           "without a display",
                           QLatin1String(refused),
                           "error: No Password! 2 encrypted entries were not extracted.",
                           "error: Not extracted: 3 of 3 entries."}))
        << row;
    EXPECT_FALSE(QFile::exists(QDir(folder).filePath(QStringLiteral("sub")))) << row;
  }
}

// Headless and unattended, a question must not wait for a person: an
// existing file is kept and reported, and the run ends by itself.
TEST_F(Program, UnattendedRunKeepsExistingFilesAndEnds) {
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar4);
  writeFile(QDir(data).filePath(QStringLiteral("top.bin")), "mine");
  const RunResult result = run({archive});
  ASSERT_TRUE(result.finished) << "an unattended run waited for an answer";
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(readAll(QDir(data).filePath(QStringLiteral("top.bin"))), QByteArray("mine"));
  EXPECT_TRUE(result.output.contains(QStringLiteral("kept the existing file")))
      << qPrintable(result.output);
  EXPECT_EQ(readAll(QDir(data).filePath(QStringLiteral("docs/readme.txt"))),
            QByteArray("Read me first.\n"));
}

TEST_F(Program, UnattendedRunOfAnEncryptedArchiveWritesNothingAndEnds) {
  const QString archive = QDir(data).filePath(QStringLiteral("locked.rar"));
  std::vector<rarwriter::Entry> entries = sampleEntries();
  for (rarwriter::Entry& e : entries) e.password = "secret";
  rarwriter::write(archive.toStdString(), entries, {});
  const RunResult result = run({archive});
  ASSERT_TRUE(result.finished) << "an unattended run waited for a password";
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(reports().filter(QStringLiteral("a password is needed")).size(), 1)
      << "asked once for the whole run: " << qPrintable(result.output);
  EXPECT_TRUE(result.output.contains(
      QStringLiteral("error: No Password! 4 encrypted entries were not extracted.")))
      << qPrintable(result.output);
  for (const QString& path : tree(data))
    EXPECT_FALSE(QFileInfo(QDir(data).filePath(path)).isFile() &&
                 path != QLatin1String("locked.rar"))
        << qPrintable(path);
}

TEST_F(Program, UnattendedRunWithAMissingVolumeEnds) {
  const QString first = QDir(data).filePath(QStringLiteral("set.part1.rar"));
  rarwriter::Options options;
  options.volumeSize = 20000;
  options.damage = rarwriter::Damage::MissingVolume;
  rarwriter::write(first.toStdString(), sampleEntries(), options);
  const RunResult result = run({first});
  ASSERT_TRUE(result.finished) << "an unattended run waited for a volume";
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.output.contains(QStringLiteral("next volume"))) << qPrintable(result.output);
}

// A damaged entry is reported once, with its name, and costs no more than
// it must: in a plain archive every other entry is extracted; in a solid
// stream, which cannot be decoded past the damage, the run stops there and
// says how many entries were not extracted.
TEST_F(Program, UnattendedRunReportsADamagedEntryOnceAndExtractsWhatItCan) {
  const struct {
    bool solid;
    QStringList reports;
    QStringList extracted;
  } cases[] = {
      {false,
       {"error: Corrupted data! (docs/readme.txt)", "error: Not extracted: 1 of 5 entries."},
       {"docs/deep/notes.md", "top.bin",
        QString::fromUtf8("\xc3\xbc"
                          "bung \xe2\x82\xac.txt")}},
      {true,
       {"error: Corrupted data! (docs/readme.txt)", "error: Not extracted: 4 of 5 entries.",
        "error: 3 entries follow a damaged entry of the solid archive and cannot be decoded."},
       {}},
  };
  for (const auto& c : cases) {
    const QString folder = QDir(data).filePath(c.solid ? "solid" : "plain");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString archive = QDir(folder).filePath(QStringLiteral("broken.rar"));
    std::vector<rarwriter::Entry> entries = sampleEntries();
    rarwriter::Options options;
    options.damage = rarwriter::Damage::BadDataCrc;
    if (c.solid) {
      options.format = rarwriter::Format::Rar4;
      options.solidFlag = true;
      for (rarwriter::Entry& e : entries) e.compressed = !e.directory;
    }
    rarwriter::write(archive.toStdString(), entries, options);
    const RunResult result = run({archive});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(reports(), c.reports) << qPrintable(result.output);
    EXPECT_FALSE(QFileInfo::exists(QDir(folder).filePath(QStringLiteral("docs/readme.txt"))));
    for (const QString& name : c.extracted)
      EXPECT_TRUE(QFileInfo(QDir(folder).filePath(name)).isFile()) << qPrintable(name);
  }
}

// The system reads a name up to its first zero: "..\0x" would open as "..".
// Such an entry is refused as damaged, and nothing lands outside.
TEST_F(Program, UnattendedRunRefusesANameWithAZeroAndWritesNothingOutside) {
  for (const auto format : {rarwriter::Format::Rar5, rarwriter::Format::Rar4}) {
    const QString folder = QDir(data).filePath(format == rarwriter::Format::Rar5 ? "five" : "four");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString archive = QDir(folder).filePath(QStringLiteral("zero.rar"));
    rarwriter::Entry entry;
    entry.name = std::string("..\0x/..\0x/escape.txt", 20);
    entry.data = "escaped";
    rarwriter::Options options;
    options.format = format;
    rarwriter::write(archive.toStdString(), {entry}, options);
    const QString before = tree(root.path()).join(QLatin1Char('\n'));
    const RunResult result = run({archive});
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.output.contains(
        QString::fromUtf8("error: Corrupted data! (..\xef\xbf\xbdx/..\xef\xbf\xbdx/escape.txt)")))
        << qPrintable(result.output);
    EXPECT_EQ(tree(root.path()).join(QLatin1Char('\n')).toStdString(), before.toStdString());
  }
}

// A name from the archive may carry terminal escapes; the report shows them
// as text.
TEST_F(Program, UnattendedReportEscapesControlCharactersInNames) {
  const QString archive = QDir(data).filePath(QStringLiteral("escapes.rar"));
  rarwriter::Entry entry;
  entry.name = "red\x1b[31m\x07\x7f.txt";
  entry.data = "damaged";
  rarwriter::Options options;
  options.damage = rarwriter::Damage::BadDataCrc;
  rarwriter::write(archive.toStdString(), {entry}, options);
  const RunResult result = run({archive});
  ASSERT_TRUE(result.finished);
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_TRUE(result.output.contains(QStringLiteral("(red\\x1b[31m\\x07\\x7f.txt)")))
      << qPrintable(result.output);
  for (const char control : {'\x1b', '\x07', '\x7f'})
    EXPECT_FALSE(result.output.contains(QLatin1Char(control))) << int{control};
}

// A solid RAR 4 archive whose every entry is encrypted (made by RAR, from
// the corpus), extracted by the program with the password from
// "password.txt": every entry, not just the first of the solid stream.
TEST_F(Program, EncryptedSolidArchiveFromRarExtractsEveryEntry) {
  const QString source =
      QStringLiteral(QUILLMOSS_CORPUS_DIR "/libarchive/test_read_format_rar4_solid_encrypted.rar");
  ASSERT_TRUE(QFileInfo::exists(source)) << "corpus file missing: " << qPrintable(source);
  const QString archive = QDir(data).filePath(QStringLiteral("solid.rar"));
  ASSERT_TRUE(QFile::copy(source, archive));
  writeFile(QDir(program).filePath(QStringLiteral("password.txt")), "password\n");
  const RunResult result = run({archive});
  ASSERT_TRUE(result.finished) << qPrintable(result.output);
  EXPECT_EQ(result.exitCode, 0);
  for (const char* name : {"a", "b", "c", "d"})
    EXPECT_EQ(readAll(QDir(data).filePath(QLatin1String(name) + QStringLiteral(".txt"))),
              QByteArray("This is from ") + name + ".txt")
        << name;
}

// The same window in-process on the real library, so the overwrite prompt can
// be answered through its seam.
TEST(RealLibraryWindow, ExistingFileIsOverwrittenOnlyWhenTheAnswerSaysSo) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  qputenv("QUILLMOSS_UNRAR_LIBRARY", QUILLMOSS_BIN_DIR "/libunrar.so");
  const QString archive = QDir(dir.path()).filePath(QStringLiteral("backup.rar"));
  rarwriter::write(archive.toStdString(), sampleEntries());
  writeFile(QDir(dir.path()).filePath(QStringLiteral("top.bin")), "old top");
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("docs")));
  writeFile(QDir(dir.path()).filePath(QStringLiteral("docs/readme.txt")), "old readme");

  QStringList asked;
  platform::setDialogAnswerer<TfrmOverWrite>(
      platform::Modal::OverwritePrompt, [&](TfrmOverWrite& prompt) {
        asked << prompt.lblFileName()->text();
        const bool keep = prompt.lblFileName()->text().endsWith(QStringLiteral("top.bin"));
        prompt.findChild<QPushButton*>(keep ? QStringLiteral("btnNo") : QStringLiteral("btnYes"))
            ->click();
      });
  {
    TfrmMain window(archive);
    window.Timer1()->stop();
    window.Timer1Timer();
    EXPECT_TRUE(window.vxUnRar()->DllLoaded());
  }
  platform::setAnswerer(platform::Modal::OverwritePrompt, {});
  qunsetenv("QUILLMOSS_UNRAR_LIBRARY");

  QStringList expectedAsked = {QDir(dir.path()).filePath(QStringLiteral("docs/readme.txt")),
                               QDir(dir.path()).filePath(QStringLiteral("top.bin"))};
  asked.sort();
  EXPECT_EQ(asked, expectedAsked);
  EXPECT_EQ(readAll(QDir(dir.path()).filePath(QStringLiteral("top.bin"))), "old top");
  EXPECT_EQ(readAll(QDir(dir.path()).filePath(QStringLiteral("docs/readme.txt"))),
            "Read me first.\n");
  EXPECT_EQ(readAll(QDir(dir.path()).filePath(QStringLiteral("docs/deep/notes.md"))),
            QByteArray(70000, 'n'));
}

// Archives made by others (the corpus): every set that needs no password,
// is no byte-split piece, names a ".rar" file, and extracts completely with the
// maker's own library, extracted by the program through "folder.txt" (the
// corpus itself is only read). The runs go side by side, since each spends its
// first second waiting.
TEST(Corpus, SimpleSetsExtractWithTheExpectedBytes) {
  // A fuzzed archive whose one entry extracts, followed by a header cut short:
  // the run says so and fails.
  static const char kDamagedAfterItsEntry[] = "test_read_format_rar5_owner_name_toolong.rar";
  const QString corpus = QStringLiteral(QUILLMOSS_CORPUS_DIR);
  QFile expectedFile(corpus + QStringLiteral("/expected.json"));
  ASSERT_TRUE(expectedFile.open(QIODevice::ReadOnly)) << "corpus missing: " << qPrintable(corpus);
  const QJsonObject expected = QJsonDocument::fromJson(expectedFile.readAll()).object();
  ASSERT_FALSE(expected.isEmpty()) << "expected.json did not parse";

  struct Run {
    QString name;
    QJsonArray entries;
    QString out;
    std::unique_ptr<QProcess> process;
  };
  QTemporaryDir root;
  ASSERT_TRUE(root.isValid());
  std::vector<Run> runs;
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    const QJsonObject set = it.value().toObject();
    const QJsonArray entries = set.value(QStringLiteral("entries")).toArray();
    if (!it.key().endsWith(QStringLiteral(".rar")) ||
        set.value(QStringLiteral("joined_pieces")).toBool() ||
        !set.value(QStringLiteral("passwords")).toArray().isEmpty() ||
        !set.value(QStringLiteral("opens")).toBool() || entries.isEmpty())
      continue;
    qint64 total = 0;
    bool simple = true;
    for (const QJsonValue& e : entries) {
      const QJsonObject entry = e.toObject();
      const QString kind = entry.value(QStringLiteral("kind")).toString();
      simple = simple && entry.value(QStringLiteral("expect")).toString() == QStringLiteral("ok") &&
               (kind == QStringLiteral("file") || kind == QStringLiteral("dir"));
      total += entry.value(QStringLiteral("size")).toInteger();
    }
    // Large sets cost CI time without covering anything the small ones do not.
    if (!simple || total > 4 * 1024 * 1024) continue;

    Run run;
    run.name = it.key();
    run.entries = entries;
    const QString folder = QDir(root.path()).filePath(QStringLiteral("set%1").arg(runs.size()));
    const QString program = QDir(folder).filePath(QStringLiteral("prog"));
    run.out = QDir(folder).filePath(QStringLiteral("out"));
    ASSERT_TRUE(QDir().mkpath(program) && QDir().mkpath(run.out));
    for (const char* name : {"quillmoss", "libunrar.so"}) {
      const QByteArray from = QByteArray(QUILLMOSS_BIN_DIR "/") + name;
      const QByteArray to = QFile::encodeName(QDir(program).filePath(QLatin1String(name)));
      if (::link(from.constData(), to.constData()) != 0) {
        ASSERT_TRUE(QFile::copy(QFile::decodeName(from), QFile::decodeName(to))) << name;
      }
    }
    writeFile(QDir(program).filePath(QStringLiteral("folder.txt")), run.out.toUtf8());
    run.process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("QUILLMOSS_UNATTENDED"), QStringLiteral("1"));
    environment.remove(QStringLiteral("QUILLMOSS_UNRAR_LIBRARY"));
    run.process->setProcessEnvironment(environment);
    run.process->setWorkingDirectory(folder);
    run.process->start(QDir(program).filePath(QStringLiteral("quillmoss")),
                       {QDir(corpus).filePath(QStringLiteral("libarchive/") + run.name)});
    runs.push_back(std::move(run));
  }
  ASSERT_GE(runs.size(), 10u) << "the corpus should offer at least ten simple sets";

  for (Run& run : runs) {
    const bool finished = run.process->waitForFinished(kRunLimitMs);
    if (!finished) {
      run.process->kill();  // our own child, by its pid
      run.process->waitForFinished(5000);
    }
    EXPECT_TRUE(finished) << qPrintable(run.name) << " did not end by itself";
    EXPECT_EQ(run.process->exitCode(), run.name == QLatin1String(kDamagedAfterItsEntry) ? 1 : 0)
        << qPrintable(run.name);
    for (const QJsonValue& e : run.entries) {
      const QJsonObject entry = e.toObject();
      const QString path = QDir(run.out).filePath(entry.value(QStringLiteral("name")).toString());
      if (entry.value(QStringLiteral("kind")).toString() == QStringLiteral("dir")) {
        EXPECT_TRUE(QFileInfo(path).isDir()) << qPrintable(run.name) << ": " << qPrintable(path);
        continue;
      }
      const QByteArray sha =
          QCryptographicHash::hash(readAll(path), QCryptographicHash::Sha256).toHex();
      EXPECT_EQ(QString::fromLatin1(sha), entry.value(QStringLiteral("sha256")).toString())
          << qPrintable(run.name) << ": " << qPrintable(path);
    }
  }
}

// The language step's error box comes while the extraction window's timer
// runs: the run goes on inside the box's loop and closes the window there.
// Nobody answers the box, and the program must end all the same.
TEST_F(Program, RunEndsTheProgramWhileTheLanguageBoxWaits) {
  const QString machine = QDir(root.path()).filePath(QStringLiteral("machine"));
  ASSERT_TRUE(QDir().mkpath(machine + QStringLiteral("/Brenvale")));
  writeFile(machine + QStringLiteral("/Brenvale/Quillmoss.conf"),
            "[General]\nInstaller%20Language=abc\n");
  extraEnvironment.insert(QStringLiteral("XDG_CONFIG_DIRS"), machine);
  extraEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                          QDir(root.path()).filePath(QStringLiteral("user")));
  boxesWait = true;
  runLimitMs = 15000;
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar5);
  const RunResult result = run({archive});
  ASSERT_TRUE(result.finished) << "still running after its run\n" << qPrintable(result.output);
  EXPECT_EQ(result.exitCode, 0);
  expectSampleFilesIn(data);
}

// An ordinary user may not write the machine-wide store: the copy of the
// per-user number is left out without a box.
TEST_F(Program, PerUserLanguageOfAnOrdinaryUserNeedsNoMachineWideCopy) {
  const QStringList prefix = unprivilegedPrefix();
  const QString machine = QDir(root.path()).filePath(QStringLiteral("machine"));
  const QString user = QDir(root.path()).filePath(QStringLiteral("user"));
  ASSERT_TRUE(QDir().mkpath(machine));
  ASSERT_TRUE(QDir().mkpath(user + QStringLiteral("/Brenvale")));
  writeFile(user + QStringLiteral("/Brenvale/Quillmoss.conf"),
            "[General]\nInstaller%20Language=1031\n");
  for (const QString& folder : {user, user + QStringLiteral("/Brenvale")})
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
  ASSERT_EQ(::chmod(QFile::encodeName(machine).constData(), 0555), 0);
  extraEnvironment.insert(QStringLiteral("XDG_CONFIG_DIRS"), machine);
  extraEnvironment.insert(QStringLiteral("XDG_CONFIG_HOME"), user);
  const QString archive = makeArchive(data, QStringLiteral("backup.rar"), rarwriter::Format::Rar5);
  const RunResult result = run({archive}, QString(), prefix);
  ASSERT_TRUE(result.finished) << qPrintable(result.output);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(reports().isEmpty()) << qPrintable(result.output);
  EXPECT_FALSE(QFileInfo::exists(machine + QStringLiteral("/Brenvale")));
  expectSampleFilesIn(data);
}

// A folder and archive named by an older system, not UTF-8, given on the
// command line: the name's bytes reach the library and the extraction lands
// in that folder. The shell makes the bytes, since a QString cannot carry them.
TEST_F(Program, ArchiveWhoseNameIsNoUtf8OpensFromTheCommandLine) {
  const QByteArray folder = QFile::encodeName(data) + "/d\xe9j\xe0";
  ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
  rarwriter::write((folder + "/caf\xe9.rar").toStdString(), sampleEntries(), {});
  const RunResult result = run({QStringLiteral("d\\351j\\340/caf\\351.rar")}, data,
                               {QStringLiteral("/bin/sh"), QStringLiteral("-c"),
                                QStringLiteral("exec \"$0\" \"$PWD/$(printf \"$1\")\"")});
  ASSERT_TRUE(result.finished) << qPrintable(result.output);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(reports().isEmpty()) << qPrintable(result.output);
  std::ifstream readme((folder + "/docs/readme.txt").toStdString());
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(readme), {}), "Read me first.\n");
  // QTemporaryDir cannot remove what it cannot name.
  EXPECT_EQ(std::system(("rm -rf '" + folder + "'").constData()), 0);
}

// An unquoted path with a blank before a word Qt takes for its own option:
// start-up and the window read the same raw arguments, so the window finds
// the archive that start-up found.
TEST_F(Program, AnArgumentLikeAQtOptionStaysPartOfThePath) {
  const QString archive =
      makeArchive(data, QStringLiteral("dir -reverse b.rar"), rarwriter::Format::Rar5);
  const RunResult result = run({QDir(data).filePath(QStringLiteral("dir")),
                                QStringLiteral("-reverse"), QStringLiteral("b.rar")});
  ASSERT_TRUE(result.finished) << qPrintable(result.output);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_TRUE(reports().isEmpty()) << qPrintable(result.output);
  expectSampleFilesIn(data);
}
