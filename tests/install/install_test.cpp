// Installs the build into a temporary prefix and uses it the way a desktop does: the
// program by its link in bin/, the desktop entry's Exec lines, and each file manager's
// launcher, each on an archive of its own.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <memory>

#include "desktop_file.h"

#include "rar_writer.h"

// Without it gtest prints a QByteArray that differs byte by byte.
void PrintTo(const QByteArray& bytes, std::ostream* os) {
  *os << '"' << bytes.toStdString() << '"';
}

namespace {

using desktopfile::execArguments;

constexpr int kProgramTimeoutMs = 30000;

struct ProcessResult {
  bool started = false;
  bool finished = false;
  int exitCode = -1;
  QString output;

  bool ok() const { return started && finished && exitCode == 0; }
  QString describe(const QStringList& command) const {
    QString text = QStringLiteral("command: ") + command.join(QStringLiteral(" | "));
    if (!started) return text + QStringLiteral("\nnot started");
    if (!finished) text += QStringLiteral("\ndid not end within its time and was killed");
    return text + QStringLiteral("\nexit code: %1\noutput:\n").arg(exitCode) + output;
  }
};

// Runs a command in a process group of its own, so that a launcher script that hangs
// is ended together with the program it started.
ProcessResult runProcess(const QString& program, const QStringList& args, const QString& folder,
                         const QProcessEnvironment& env, int timeoutMs) {
  QProcess process;
  process.setProgram(program);
  process.setArguments(args);
  process.setWorkingDirectory(folder);
  process.setProcessEnvironment(env);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.setStandardInputFile(QProcess::nullDevice());
  process.setChildProcessModifier([] { setpgid(0, 0); });
  ProcessResult run;
  process.start();
  run.started = process.waitForStarted(10000);
  if (!run.started) {
    run.output = process.errorString();
    return run;
  }
  run.finished = process.waitForFinished(timeoutMs);
  if (!run.finished) {
    ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished(5000);
  }
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.output = QString::fromLocal8Bit(process.readAll());
  return run;
}

QByteArray fileBytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).path());
  QFile file(path);
  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

bool isElf(const QString& path) {
  return fileBytes(path).startsWith(
      "\x7f"
      "ELF");
}

[[maybe_unused]] QString shellQuote(const QString& text) {
  QString quoted = text;
  quoted.replace(u'\'', QStringLiteral("'\\''"));
  return u'\'' + quoted + u'\'';
}

// The archive every launcher gets: two files, one of them in a folder.
const char kHello[] = "Hello from the installed program\n";
const char kReadme[] = "Extracted beside the archive, whichever way it was started.\n";

class Installed : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    root_ = std::make_unique<QTemporaryDir>(QDir::tempPath() +
                                            QStringLiteral("/quillmoss-install-XXXXXX"));
    // A blank in the prefix: every launcher has to quote the program's path.
    prefix_ = root_->path() + QStringLiteral("/pre fix");
    // Naming the component (every rule is in the default one) makes cmake write its list
    // of installed files to install_manifest_Unspecified.txt, so a test run never replaces
    // the install_manifest.txt of the user's own install from this build tree.
    const QStringList command{QStringLiteral(QUILLMOSS_CMAKE_COMMAND),
                              QStringLiteral("--install"),
                              QStringLiteral(QUILLMOSS_BUILD_DIR),
                              QStringLiteral("--component"),
                              QStringLiteral("Unspecified"),
                              QStringLiteral("--prefix"),
                              prefix_};
    const ProcessResult run = runProcess(command.first(), command.mid(1), root_->path(),
                                         QProcessEnvironment::systemEnvironment(), 120000);
    installed_ = run.ok();
    installLog_ = run.describe(command);
  }
  static void TearDownTestSuite() { root_.reset(); }

 protected:
  void SetUp() override {
    ASSERT_TRUE(root_->isValid()) << "no temporary folder";
    ASSERT_TRUE(installed_) << installLog_.toStdString();
    const QString name =
        QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
    case_ = root_->path() + QStringLiteral("/cases/") + name;
    ASSERT_TRUE(QDir().mkpath(case_ + QStringLiteral("/home")));
    ASSERT_TRUE(QDir().mkpath(case_ + QStringLiteral("/runtime")));
    QFile::setPermissions(case_ + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }

  static QString prefix(const QString& relative) { return prefix_ + u'/' + relative; }
  QString caseFolder(const QString& relative) const { return case_ + u'/' + relative; }

  // What a desktop session gives a launcher: no build tree on PATH or in the loader's
  // search, and settings kept in this case's own home.
  QProcessEnvironment sessionEnvironment() const {
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("HOME"), caseFolder(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), caseFolder(QStringLiteral("home/.config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), caseFolder(QStringLiteral("home/.local/share")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), caseFolder(QStringLiteral("runtime")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // A sanitizer build's programs keep the run's sanitizer settings.
    const QProcessEnvironment outer = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
      if (outer.contains(QLatin1String(name)))
        env.insert(QLatin1String(name), outer.value(QLatin1String(name)));
    return env;
  }

  // Runs a launcher's command line; after one run has hung, later ones fail at once
  // instead of each waiting out its own time.
  ProcessResult runLauncher(const QStringList& command, const QString& folder,
                            const QProcessEnvironment& env) {
    if (aRunHung_) {
      ProcessResult run;
      run.output = QStringLiteral("not run: an earlier run of the installed program did not end");
      return run;
    }
    ProcessResult run = runProcess(command.first(), command.mid(1), folder, env, kProgramTimeoutMs);
    if (run.started && !run.finished) aRunHung_ = true;
    return run;
  }

  // Writes the archive into `folder` (made if needed) and returns its path.
  QString makeArchive(const QString& folder, rarwriter::Format format) {
    EXPECT_TRUE(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/sample.rar");
    rarwriter::Entry hello;
    hello.name = "hello.txt";
    hello.data = kHello;
    rarwriter::Entry docs;
    docs.name = "docs";
    docs.directory = true;
    rarwriter::Entry readme;
    readme.name = "docs/readme.txt";
    readme.data = kReadme;
    rarwriter::Options options;
    options.format = format;
    rarwriter::write(path.toStdString(), {hello, docs, readme}, options);
    return path;
  }

  static void expectExtractedInto(const QString& folder, const ProcessResult& run,
                                  const QStringList& command) {
    const std::string context = run.describe(command).toStdString();
    EXPECT_TRUE(run.ok()) << context;
    EXPECT_EQ(fileBytes(folder + QStringLiteral("/hello.txt")).toStdString(), kHello)
        << "hello.txt in " << folder.toStdString() << "\n"
        << context;
    EXPECT_EQ(fileBytes(folder + QStringLiteral("/docs/readme.txt")).toStdString(), kReadme)
        << "docs/readme.txt in " << folder.toStdString() << "\n"
        << context;
  }

  desktopfile::Groups readEntry(const QString& path) {
    QString error;
    desktopfile::Groups groups = desktopfile::read(path, &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    return groups;
  }

  static std::unique_ptr<QTemporaryDir> root_;
  static QString prefix_;
  static bool installed_;
  static QString installLog_;
  static bool aRunHung_;
  QString case_;
};

std::unique_ptr<QTemporaryDir> Installed::root_;
QString Installed::prefix_;
bool Installed::installed_ = false;
QString Installed::installLog_;
bool Installed::aRunHung_ = false;

// ---------------------------------------------------------------------------------------
// Layout

TEST_F(Installed, BinHoldsARelativeLinkToTheProgramInItsOwnFolder) {
  const QFileInfo link(prefix(QStringLiteral("bin/quillmoss")));
  ASSERT_TRUE(link.isSymLink()) << link.filePath().toStdString() << " is not a symbolic link";
  // Relative, so the installed tree can be moved or staged for a package as a whole.
  EXPECT_EQ(link.symLinkTarget(), prefix(QStringLiteral("lib/quillmoss/quillmoss")));
  char raw[4096] = {};
  const ssize_t size = ::readlink(link.filePath().toLocal8Bit().constData(), raw, sizeof raw - 1);
  ASSERT_GT(size, 0) << "readlink failed";
  EXPECT_STREQ(raw, "../lib/quillmoss/quillmoss");
  const QFileInfo program(prefix(QStringLiteral("lib/quillmoss/quillmoss")));
  EXPECT_TRUE(program.isFile() && program.isExecutable() && !program.isSymLink());
  EXPECT_TRUE(isElf(program.filePath()));
}

TEST_F(Installed, LibraryAndEveryShippedDataFileLieBesideTheProgram) {
  const QString library = prefix(QStringLiteral("lib/quillmoss/libunrar.so"));
  EXPECT_TRUE(isElf(library)) << library.toStdString() << " missing or not a library";
  // Files the program or its user make beside the executable at run time are not shipped.
  const QStringList madeAtRunTime{QStringLiteral("folder.txt"), QStringLiteral("silent.txt"),
                                  QStringLiteral("password.txt"), QStringLiteral("skin.bmp"),
                                  QStringLiteral("noskin.bmp")};
  int compared = 0;
  QDirIterator it(QStringLiteral(QUILLMOSS_BIN_DIR), QDir::Files);
  while (it.hasNext()) {
    const QFileInfo built(it.next());
    if (isElf(built.filePath()) || madeAtRunTime.contains(built.fileName())) continue;
    const QString installed = prefix(QStringLiteral("lib/quillmoss/") + built.fileName());
    EXPECT_EQ(fileBytes(installed), fileBytes(built.filePath()))
        << built.fileName().toStdString() << " is in the build's bin/ but not installed as "
        << installed.toStdString();
    ++compared;
  }
  RecordProperty("data_files_compared", compared);
}

TEST_F(Installed, ManualPageSaysHowToUseTheProgram) {
  QProcess gunzip;
  gunzip.start(QStringLiteral("gzip"),
               {QStringLiteral("-dc"), prefix(QStringLiteral("share/man/man1/quillmoss.1.gz"))});
  ASSERT_TRUE(gunzip.waitForFinished(10000));
  EXPECT_EQ(gunzip.exitCode(), 0) << "no compressed manual page";
  const QByteArray page = gunzip.readAllStandardOutput();
  EXPECT_TRUE(page.startsWith(".TH QUILLMOSS 1 \"\" \"Quillmoss " + QByteArray(QUILLMOSS_VERSION)))
      << page.left(80).toStdString();
  for (const char* part : {".SH SYNOPSIS", "\\-\\-help", ".SH EXIT STATUS"})
    EXPECT_TRUE(page.contains(part)) << part;
}

TEST_F(Installed, InstalledBinariesCarryNoRpath) {
  QStringList binaries{prefix(QStringLiteral("lib/quillmoss/quillmoss"))};
  binaries << prefix(QStringLiteral("lib/quillmoss/libunrar.so"));
  for (const QString& binary : binaries) {
    const QStringList command{QStringLiteral("readelf"), QStringLiteral("-d"), binary};
    const ProcessResult run = runProcess(QStringLiteral("readelf"), command.mid(1), root_->path(),
                                         QProcessEnvironment::systemEnvironment(), 30000);
    ASSERT_TRUE(run.ok()) << run.describe(command).toStdString();
    EXPECT_FALSE(run.output.contains(QStringLiteral("RPATH")) ||
                 run.output.contains(QStringLiteral("RUNPATH")))
        << binary.toStdString() << " keeps a library search path:\n"
        << run.output.toStdString();
  }
}

// ---------------------------------------------------------------------------------------
// Desktop entry and icon

TEST_F(Installed, DesktopEntryIsValidAndStartsTheInstalledProgram) {
  const QString path = prefix(QStringLiteral("share/applications/quillmoss.desktop"));
  const QStringList validate{QStringLiteral(QUILLMOSS_DESKTOP_FILE_VALIDATE), path};
  const ProcessResult run = runProcess(validate.first(), validate.mid(1), root_->path(),
                                       QProcessEnvironment::systemEnvironment(), 30000);
  EXPECT_TRUE(run.ok() && run.output.trimmed().isEmpty()) << run.describe(validate).toStdString();

  const desktopfile::Groups groups = readEntry(path);
  const auto entry = groups.value(QStringLiteral("Desktop Entry"));
  const QStringList types = entry.value(QStringLiteral("MimeType")).split(u';', Qt::SkipEmptyParts);
  for (const char* type :
       {"application/vnd.rar", "application/x-rar", "application/x-rar-compressed"})
    EXPECT_TRUE(types.contains(QLatin1String(type))) << "MimeType lacks " << type;
  EXPECT_EQ(entry.value(QStringLiteral("Icon")), QStringLiteral("quillmoss"));
  const auto action = groups.value(QStringLiteral("Desktop Action Extract"));
  EXPECT_EQ(action.value(QStringLiteral("Name")), QStringLiteral("Extract!"));
  EXPECT_TRUE(
      entry.value(QStringLiteral("Actions")).split(u';').contains(QStringLiteral("Extract")));

  // Both command lines start the installed program, by the absolute path of its link:
  // this prefix is on no session's PATH.
  for (const QString& exec :
       {entry.value(QStringLiteral("Exec")), action.value(QStringLiteral("Exec"))}) {
    QString error;
    const QStringList args = execArguments(exec, QStringLiteral("/x/a.rar"), &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(args,
              (QStringList{prefix(QStringLiteral("bin/quillmoss")), QStringLiteral("/x/a.rar")}))
        << "Exec=" << exec.toStdString();
  }
}

TEST_F(Installed, IconIsInstalledInEveryThemeSizeAtThatSize) {
  const QString hicolor = prefix(QStringLiteral("share/icons/hicolor"));
  QStringList sizes;
  for (const QString& folder : QDir(hicolor).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(\\d+)x(\\d+)$")).match(folder);
    if (!match.hasMatch()) continue;
    const QString png = hicolor + u'/' + folder + QStringLiteral("/apps/quillmoss.png");
    const QImage image(png);
    ASSERT_FALSE(image.isNull()) << png.toStdString() << " missing or not a PNG";
    EXPECT_EQ(image.width(), match.captured(1).toInt()) << png.toStdString();
    EXPECT_EQ(image.height(), match.captured(2).toInt()) << png.toStdString();
    EXPECT_TRUE(image.hasAlphaChannel()) << png.toStdString() << " has no transparency";
    sizes << folder;
  }
  // The sizes desktops look up first: menus, panels, file managers, launchers.
  for (const char* needed : {"16x16", "24x24", "32x32", "48x48", "64x64", "128x128", "256x256"})
    EXPECT_TRUE(sizes.contains(QLatin1String(needed))) << "no " << needed << " icon";
  const QByteArray svg = fileBytes(hicolor + QStringLiteral("/scalable/apps/quillmoss.svg"));
  EXPECT_TRUE(svg.contains("<svg")) << "no scalable icon";
}

TEST_F(Installed, IconIsFoundByNameInTheThemeAndDrawnWithTheEntrysName) {
  const QString entry = prefix(QStringLiteral("share/applications/quillmoss.desktop"));
  const QString picture = caseFolder(QStringLiteral("preview.png"));
  const QStringList command{QStringLiteral(QUILLMOSS_DESKTOP_ENTRY_PREVIEW), entry,
                            QStringLiteral("--grab"), picture};
  // The theme's index comes from the system, the icon only from the install.
  QProcessEnvironment env = sessionEnvironment();
  env.insert(QStringLiteral("XDG_DATA_DIRS"),
             prefix(QStringLiteral("share")) + QStringLiteral(":/usr/share"));
  const ProcessResult run = runLauncher(command, case_, env);
  ASSERT_TRUE(run.ok()) << run.describe(command).toStdString();
  const QImage image(picture);
  EXPECT_GT(image.width(), 256) << "no picture of the entry";

  // Without the install on the path the same lookup fails: the icon came from there.
  env.insert(QStringLiteral("XDG_DATA_DIRS"), QStringLiteral("/usr/share"));
  const ProcessResult without = runLauncher(command, case_, env);
  EXPECT_TRUE(without.finished && without.exitCode == 1) << without.describe(command).toStdString();
}

// ---------------------------------------------------------------------------------------
// The installed program on an archive, started every way a desktop starts it

// Runs of the installed program, kept in a suite of their own: ctest runs them apart from
// the layout checks.
class InstalledRun : public Installed {};

TEST_F(InstalledRun, ProgramStartedByItsLinkExtractsBesideTheArchive) {
  const QString archive =
      makeArchive(caseFolder(QStringLiteral("Downloads")), rarwriter::Format::Rar5);
  const QStringList command{prefix(QStringLiteral("bin/quillmoss")), archive};
  // Started from elsewhere, so nothing is found through the current folder.
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
  expectExtractedInto(caseFolder(QStringLiteral("Downloads")), run, command);
}

TEST_F(InstalledRun, ProgramStartedByItsLinkReadsFolderTxtBesideItselfNotBesideTheLink) {
  const QString archive = makeArchive(caseFolder(QStringLiteral("in")), rarwriter::Format::Rar4);
  const QString target = caseFolder(QStringLiteral("out"));
  ASSERT_TRUE(QDir().mkpath(target));
  const QString folderTxt = prefix(QStringLiteral("lib/quillmoss/folder.txt"));
  ASSERT_TRUE(writeFile(folderTxt, (target + QStringLiteral("/\n")).toUtf8()));
  struct Remove {
    QString path;
    ~Remove() { QFile::remove(path); }
  } removeFolderTxt{folderTxt};

  const QStringList command{prefix(QStringLiteral("bin/quillmoss")), archive};
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
  expectExtractedInto(target, run, command);
  EXPECT_FALSE(QFile::exists(caseFolder(QStringLiteral("in/hello.txt"))))
      << "extracted beside the archive although folder.txt names another folder";
}

TEST_F(InstalledRun, DesktopEntryExecLineExtracts) {
  const QString archive =
      makeArchive(caseFolder(QStringLiteral("Downloads")), rarwriter::Format::Rar5);
  const auto entry = readEntry(prefix(QStringLiteral("share/applications/quillmoss.desktop")))
                         .value(QStringLiteral("Desktop Entry"));
  QString error;
  const QStringList command = execArguments(entry.value(QStringLiteral("Exec")), archive, &error);
  ASSERT_TRUE(error.isEmpty() && !command.isEmpty()) << error.toStdString();
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
  expectExtractedInto(caseFolder(QStringLiteral("Downloads")), run, command);
}

TEST_F(InstalledRun, DesktopEntryExtractActionExtracts) {
  const QString archive =
      makeArchive(caseFolder(QStringLiteral("Downloads")), rarwriter::Format::Rar4);
  const auto action = readEntry(prefix(QStringLiteral("share/applications/quillmoss.desktop")))
                          .value(QStringLiteral("Desktop Action Extract"));
  QString error;
  const QStringList command = execArguments(action.value(QStringLiteral("Exec")), archive, &error);
  ASSERT_TRUE(error.isEmpty() && !command.isEmpty()) << error.toStdString();
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
  expectExtractedInto(caseFolder(QStringLiteral("Downloads")), run, command);
}

TEST_F(InstalledRun, DolphinServiceMenuExtracts) {
  const QString archive =
      makeArchive(caseFolder(QStringLiteral("Downloads")), rarwriter::Format::Rar5);
  const QString menu = prefix(QStringLiteral("share/kio/servicemenus/quillmoss-extract.desktop"));
  // KDE only runs a service menu from a user's folder when it is executable.
  EXPECT_TRUE(QFileInfo(menu).isExecutable()) << menu.toStdString();
  const desktopfile::Groups groups = readEntry(menu);
  const auto entry = groups.value(QStringLiteral("Desktop Entry"));
  EXPECT_EQ(entry.value(QStringLiteral("Type")), QStringLiteral("Service"));
  EXPECT_TRUE(entry.value(QStringLiteral("MimeType"))
                  .split(u';')
                  .contains(QStringLiteral("application/vnd.rar")));
  const QStringList actions =
      entry.value(QStringLiteral("Actions")).split(u';', Qt::SkipEmptyParts);
  ASSERT_EQ(actions.size(), 1);
  const auto action = groups.value(QStringLiteral("Desktop Action ") + actions.first());
  EXPECT_EQ(action.value(QStringLiteral("Name")), QStringLiteral("Extract!"));
  QString error;
  const QStringList command = execArguments(action.value(QStringLiteral("Exec")), archive, &error);
  ASSERT_TRUE(error.isEmpty() && !command.isEmpty()) << error.toStdString();
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
  expectExtractedInto(caseFolder(QStringLiteral("Downloads")), run, command);
}

TEST_F(InstalledRun, ThunarActionExtracts) {
  const QString archive =
      makeArchive(caseFolder(QStringLiteral("Downloads")), rarwriter::Format::Rar4);
  const QString xml = prefix(QStringLiteral("share/quillmoss/thunar/quillmoss-extract.xml"));
  QXmlStreamReader reader(fileBytes(xml));
  QString name;
  QString commandLine;
  while (!reader.atEnd()) {
    reader.readNext();
    if (!reader.isStartElement()) continue;
    if (reader.name() == QLatin1String("name"))
      name = reader.readElementText();
    else if (reader.name() == QLatin1String("command"))
      commandLine = reader.readElementText();
  }
  ASSERT_FALSE(reader.hasError()) << xml.toStdString() << ": "
                                  << reader.errorString().toStdString();
  EXPECT_EQ(name, QStringLiteral("Extract!"));
  ASSERT_TRUE(commandLine.contains(QStringLiteral("%f"))) << commandLine.toStdString();
  // Thunar puts the selected file's path, quoted for the shell, in place of %f.
  commandLine.replace(QStringLiteral("%f"), shellQuote(archive));
  const QStringList command{QStringLiteral("/bin/sh"), QStringLiteral("-c"), commandLine};
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
  expectExtractedInto(caseFolder(QStringLiteral("Downloads")), run, command);
}

TEST_F(InstalledRun, NautilusScriptExtractsFilesNamedRelativeToTheFolderShown) {
  makeArchive(caseFolder(QStringLiteral("Downloads")), rarwriter::Format::Rar5);
  const QString script = prefix(QStringLiteral("share/quillmoss/nautilus/Extract!"));
  ASSERT_TRUE(QFileInfo(script).isExecutable()) << script.toStdString();
  // Nautilus starts a script in the folder shown, with the selected names as arguments;
  // the program itself extracts nothing for an archive named without its folder.
  const QStringList command{script, QStringLiteral("sample.rar")};
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("Downloads")), sessionEnvironment());
  expectExtractedInto(caseFolder(QStringLiteral("Downloads")), run, command);
}

TEST_F(InstalledRun, NautilusScriptExtractsPathsGivenOnlyThroughItsEnvironment) {
  const QString first = makeArchive(caseFolder(QStringLiteral("one")), rarwriter::Format::Rar5);
  const QString second =
      makeArchive(caseFolder(QStringLiteral("two words")), rarwriter::Format::Rar4);
  QProcessEnvironment env = sessionEnvironment();
  env.insert(QStringLiteral("NAUTILUS_SCRIPT_SELECTED_FILE_PATHS"), first + u'\n' + second + u'\n');
  const QStringList command{prefix(QStringLiteral("share/quillmoss/nautilus/Extract!"))};
  const ProcessResult run = runLauncher(command, caseFolder(QStringLiteral("home")), env);
  expectExtractedInto(caseFolder(QStringLiteral("one")), run, command);
  expectExtractedInto(caseFolder(QStringLiteral("two words")), run, command);
}

// ---------------------------------------------------------------------------------------
// Enabling the context-menu entries that file managers read only from a user's folders

TEST_F(Installed, EnablingAddsNautilusAndThunarEntriesOnceAndRemovingRestoresTheUsersFiles) {
  const QString script = prefix(QStringLiteral("share/quillmoss/enable-context-menus.sh"));
  const QString uca = caseFolder(QStringLiteral("home/.config/Thunar/uca.xml"));
  const QString link = caseFolder(QStringLiteral("home/.local/share/nautilus/scripts/Extract!"));
  // The user's own action, written the way Thunar writes the file.
  const QByteArray original =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<actions>\n<action>\n"
      "\t<icon>utilities-terminal</icon>\n\t<name>Open Terminal Here</name>\n"
      "\t<unique-id>1600000000000000-1</unique-id>\n\t<command>exo-open --working-directory %f "
      "--launch TerminalEmulator</command>\n\t<description></description>\n"
      "\t<patterns>*</patterns>\n\t<startup-notify/>\n\t<directories/>\n</action>\n</actions>\n";
  ASSERT_TRUE(writeFile(uca, original));

  for (int round = 1; round <= 2; ++round) {
    const QStringList command{script};
    const ProcessResult run =
        runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
    ASSERT_TRUE(run.ok()) << "round " << round << ": " << run.describe(command).toStdString();
  }
  EXPECT_EQ(QFile::symLinkTarget(link),
            prefix(QStringLiteral("share/quillmoss/nautilus/Extract!")));
  const QByteArray enabled = fileBytes(uca);
  EXPECT_EQ(enabled.count("<unique-id>quillmoss-extract</unique-id>"), 1) << enabled.toStdString();
  EXPECT_EQ(enabled.count("<name>Open Terminal Here</name>"), 1) << enabled.toStdString();
  QXmlStreamReader reader(enabled);
  int actions = 0;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isStartElement() && reader.name() == QLatin1String("action")) ++actions;
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString() << "\n"
                                  << enabled.toStdString();
  EXPECT_EQ(actions, 2);
  EXPECT_TRUE(enabled.contains(
      fileBytes(prefix(QStringLiteral("share/quillmoss/thunar/quillmoss-extract.xml")))))
      << "the installed action, naming the installed program, is not what was added";

  const QStringList remove{script, QStringLiteral("--remove")};
  const ProcessResult run =
      runLauncher(remove, caseFolder(QStringLiteral("home")), sessionEnvironment());
  ASSERT_TRUE(run.ok()) << run.describe(remove).toStdString();
  EXPECT_EQ(fileBytes(uca), original);
  EXPECT_FALSE(QFileInfo(link).isSymLink()) << "the Nautilus script link is still there";
}

TEST_F(Installed, EnablingWithoutAThunarFileStartsOneThatHoldsTheAction) {
  const QString script = prefix(QStringLiteral("share/quillmoss/enable-context-menus.sh"));
  const QStringList command{script};
  const ProcessResult run =
      runLauncher(command, caseFolder(QStringLiteral("home")), sessionEnvironment());
  ASSERT_TRUE(run.ok()) << run.describe(command).toStdString();
  const QByteArray uca = fileBytes(caseFolder(QStringLiteral("home/.config/Thunar/uca.xml")));
  QXmlStreamReader reader(uca);
  QStringList ids;
  while (!reader.atEnd()) {
    reader.readNext();
    if (reader.isStartElement() && reader.name() == QLatin1String("unique-id"))
      ids << reader.readElementText();
  }
  EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString() << "\n"
                                  << uca.toStdString();
  EXPECT_TRUE(ids.contains(QStringLiteral("quillmoss-extract"))) << uca.toStdString();
}

// ---------------------------------------------------------------------------------------
// The Exec reading the tests above rely on

TEST(DesktopExec, QuotedProgramPathWithEscapesIsOneArgument) {
  QString error;
  EXPECT_EQ(
      execArguments(QStringLiteral("\"/a b/\\$x\\\\y\\\"z\" %f"), QStringLiteral("/f.rar"), &error),
      (QStringList{QStringLiteral("/a b/$x\\y\"z"), QStringLiteral("/f.rar")}));
  EXPECT_TRUE(error.isEmpty());
}

TEST(DesktopExec, FieldCodesExpandOrDrop) {
  QString error;
  EXPECT_EQ(execArguments(QStringLiteral("prog %i --ratio=50%% %f"), QStringLiteral("/d/x y.rar"),
                          &error),
            (QStringList{QStringLiteral("prog"), QStringLiteral("--ratio=50%"),
                         QStringLiteral("/d/x y.rar")}));
  EXPECT_EQ(execArguments(QStringLiteral("prog %f"), QString(), &error),
            QStringList{QStringLiteral("prog")});
}

TEST(DesktopExec, UnterminatedQuoteIsAnError) {
  QString error;
  EXPECT_TRUE(execArguments(QStringLiteral("\"/a b %f"), QStringLiteral("/f"), &error).isEmpty());
  EXPECT_FALSE(error.isEmpty());
}
}  // namespace

namespace {

// ---------------------------------------------------------------------------------------
// The Debian package's scripts, run on a scratch root the way dpkg --root runs them

class MaintainerScripts : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.isValid());
    ASSERT_TRUE(QDir().mkpath(root_.path() + QStringLiteral("/etc/xdg")));
  }

  ProcessResult script(const QString& name, const QString& argument) {
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    env.insert(QStringLiteral("DPKG_ROOT"), root_.path());
    const QString path = QStringLiteral(QUILLMOSS_SOURCE_DIR "/packaging/debian/") + name;
    const QStringList command{QStringLiteral("/bin/sh"), path, argument};
    ProcessResult run = runProcess(command.first(), command.mid(1), root_.path(), env, 30000);
    EXPECT_TRUE(run.ok()) << run.describe(command).toStdString();
    return run;
  }

  QString list() const { return root_.path() + QStringLiteral("/etc/xdg/mimeapps.list"); }
  QString state() const { return root_.path() + QStringLiteral("/var/lib/quillmoss"); }

  QTemporaryDir root_;
};

TEST_F(MaintainerScripts, InstallMakesTheEntryTheRarDefaultAndRemoveTakesTheFileAway) {
  script(QStringLiteral("postinst"), QStringLiteral("configure"));
  EXPECT_EQ(fileBytes(list()), QByteArray("[Default Applications]\n"
                                          "application/vnd.rar=quillmoss.desktop;\n"
                                          "application/x-rar=quillmoss.desktop;\n"
                                          "application/x-rar-compressed=quillmoss.desktop;\n"));
  // Configuring again, as an upgrade does, adds nothing twice.
  script(QStringLiteral("postinst"), QStringLiteral("configure"));
  EXPECT_EQ(fileBytes(list()).count("application/vnd.rar="), 1);

  script(QStringLiteral("postrm"), QStringLiteral("remove"));
  EXPECT_FALSE(QFile::exists(list())) << "the list postinst created is left behind";
  EXPECT_FALSE(QFile::exists(state())) << "the state folder is left behind";
}

TEST_F(MaintainerScripts, AnAdministratorsDefaultsAndOtherGroupsStayAsTheyWere) {
  const QByteArray original =
      "[Added Associations]\n"
      "application/vnd.rar=other.desktop;\n"
      "\n"
      "[Default Applications]\n"
      "application/x-rar=other.desktop;\n"
      "text/plain=editor.desktop;\n";
  ASSERT_TRUE(writeFile(list(), original));
  script(QStringLiteral("postinst"), QStringLiteral("configure"));
  const QByteArray installed = fileBytes(list());
  EXPECT_EQ(installed, QByteArray("[Added Associations]\n"
                                  "application/vnd.rar=other.desktop;\n"
                                  "\n"
                                  "[Default Applications]\n"
                                  "application/vnd.rar=quillmoss.desktop;\n"
                                  "application/x-rar-compressed=quillmoss.desktop;\n"
                                  "application/x-rar=other.desktop;\n"
                                  "text/plain=editor.desktop;\n"));
  script(QStringLiteral("postrm"), QStringLiteral("remove"));
  EXPECT_EQ(fileBytes(list()), original);
}

TEST_F(MaintainerScripts, RemovalKeepsADefaultTheAdministratorChangedAfterInstall) {
  script(QStringLiteral("postinst"), QStringLiteral("configure"));
  QByteArray changed = fileBytes(list());
  changed.replace("application/vnd.rar=quillmoss.desktop;", "application/vnd.rar=other.desktop;");
  ASSERT_TRUE(writeFile(list(), changed));
  script(QStringLiteral("postrm"), QStringLiteral("remove"));
  EXPECT_EQ(fileBytes(list()),
            QByteArray("[Default Applications]\napplication/vnd.rar=other.desktop;\n"));
}

TEST_F(MaintainerScripts, AnUpgradeLeavesTheDefaultsInPlace) {
  script(QStringLiteral("postinst"), QStringLiteral("configure"));
  const QByteArray installed = fileBytes(list());
  script(QStringLiteral("postrm"), QStringLiteral("upgrade"));
  EXPECT_EQ(fileBytes(list()), installed);
  EXPECT_TRUE(QFile::exists(state()));
}

}  // namespace
