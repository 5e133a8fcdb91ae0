#include "startup.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "accessibility.h"
#include "application.h"
#include "command_line.h"
#include "executable.h"
#include "local_time.h"
#include "message_box.h"
#include "name_tail.h"
#include "path_bytes.h"
#include "shutdown.h"

namespace startup {

QString ArchiveText(const QStringList& arguments) {
  return platform::joinArguments(arguments);
}

QString ArchiveTail(const QString& archiveText) {
  return platform::nameTail(archiveText);
}

bool IsArchiveTail(const QString& tail) {
  return platform::tailIs(tail, QLatin1String("rar"));
}

QString FindArchive(const QString& archiveText) {
  return platform::findArchive(archiveText, platform::executableFolder(), platform::filePresent);
}

Start Resolve(const QString& archiveText) {
  Start start;
  if (!IsArchiveTail(ArchiveTail(archiveText))) return start;
  start.archive = FindArchive(archiveText);
  start.mode = start.archive.isEmpty() ? StartMode::ArchiveNotFound : StartMode::Archive;
  return start;
}

StartMode ChooseMode(const QString& archiveText) {
  return Resolve(archiveText).mode;
}

namespace {

// Closing the main window ends the program, wherever it happens. The
// extraction window's run starts from its timer in whatever event loop is
// running, and that can be the loop of a box shown while the instructions
// window is still being created (a language that cannot be read): the run
// then closes the window while the box waits. Leaving every loop at that
// moment ends the box too, and start-up learns not to show the window again.
class MainWindowWatch : public QObject {
 public:
  explicit MainWindowWatch(QWidget* window) { window->installEventFilter(this); }
  bool closed() const { return m_closed; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
    // Delivered here, so that the window's own answer is known; a window that
    // was never shown closes without hiding, so its hide tells nothing.
    watched->event(event);
    if (event->isAccepted() && !m_closed) {
      m_closed = true;
      QCoreApplication::exit(0);
    }
    return true;
  }

 private:
  bool m_closed = false;
};

}  // namespace

int RunWindows(StartMode mode, const WindowFactories& factories, const QString& archive) {
  // Destroyed in reverse order of creation, while the application still exists.
  std::unique_ptr<QWidget> frmMain;
  std::unique_ptr<QWidget> frmConfig;
  std::unique_ptr<MainWindowWatch> watch;
  try {
    if (mode == StartMode::Archive) {
      frmMain.reset(factories.createMain(archive));
      if (frmMain) watch = std::make_unique<MainWindowWatch>(frmMain.get());
    }
    frmConfig.reset(factories.createConfig());
  } catch (const std::exception& error) {
    // Nothing was extracted (an unreadable silent.txt stops the extraction
    // window before it exists): whoever started the run must not take it
    // for a finished one.
    platform::showErrorBox(QString::fromUtf8(error.what()));
    return 1;
  }
  const auto exitStatus = [&] {
    return frmMain && factories.runExitStatus ? factories.runExitStatus(*frmMain) : 0;
  };
  QWidget* mainWindow = frmMain ? frmMain.get() : frmConfig.get();
  if (!mainWindow) return 0;
  if (!watch) watch = std::make_unique<MainWindowWatch>(mainWindow);
  // The run may already be over: it ended inside a box of the second window.
  if (watch->closed()) return exitStatus();
  mainWindow->show();
  QApplication::exec();
  const int status = exitStatus();
  watch.reset();
  frmConfig.reset();
  frmMain.reset();
  return status;
}

namespace {

const char kUsage[] =
    "Usage: quillmoss ARCHIVE.rar\n"
    "       quillmoss shutdown\n"
    "       quillmoss --help | --version\n"
    "\n"
    "Extracts every entry of ARCHIVE.rar into the archive's folder, or into the folder\n"
    "named by the first line of folder.txt beside the program. It asks before it\n"
    "overwrites a file, and for a password or the next volume when the archive needs\n"
    "one. Without an archive it shows its instructions window. \"shutdown\" ends every\n"
    "running copy of the program.\n"
    "\n"
    "Without a display (DISPLAY and WAYLAND_DISPLAY unset), or with\n"
    "QUILLMOSS_UNATTENDED=1, nobody is asked: an existing file is kept, an encrypted\n"
    "entry gets no password (unless password.txt beside the program holds one), a\n"
    "missing volume is not looked for; each answer and each failure is said on\n"
    "standard error.\n"
    "\n"
    "Exit status: 0 every entry was extracted; 1 a failure (said on screen, or on\n"
    "standard error without a display); 2 nothing to do without a display.\n";

bool environmentSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// The program's arguments, argv[1] onwards, exactly as the system passed them
// (their bytes kept, see path_bytes.h).
QStringList programArguments(int argc, const char* const* argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << platform::pathFromBytes(QByteArray(argv[i]));
  return arguments;
}

}  // namespace

BeforeQt DecideBeforeQt(int argc, char** argv) {
  BeforeQt decision;
  if (argc == 2 && QByteArray(argv[1]) == "--help") {
    std::fputs(kUsage, stdout);
    decision.exitCode = 0;
    return decision;
  }
  if (argc == 2 && QByteArray(argv[1]) == "--version") {
    std::fputs("quillmoss " QUILLMOSS_VERSION "\n", stdout);
    decision.exitCode = 0;
    return decision;
  }
  if (argc > 1 && QByteArray(argv[1]) == "shutdown") return decision;
  if (environmentSet("DISPLAY") || environmentSet("WAYLAND_DISPLAY")) return decision;
  decision.noDisplay = true;
  if (!environmentSet("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!IsArchiveTail(ArchiveTail(ArchiveText(programArguments(argc, argv))))) {
    // The instructions window would wait for ever where nobody can see it.
    std::fputs(
        "quillmoss: no display for the instructions window; usage: quillmoss ARCHIVE.rar "
        "(quillmoss --help says more)\n",
        stderr);
    decision.exitCode = 2;
  }
  return decision;
}

int Run(int argc, char** argv, const WindowFactories& factories) {
  if (argc > 1 && QByteArray(argv[1]) == "shutdown")
    return RunShutdown(QStringLiteral("quillmoss"));

  // The arguments as the system passed them, before the application object
  // takes out the options it knows (an unquoted path may contain one).
  const QStringList arguments = programArguments(argc, argv);

  platform::pinLocalTimeZone();
  TQuillmossApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmoss"));
  platform::leaveHiddenWidgetsOutOfAccessibility();

  const QString archiveText = ArchiveText(arguments);
  const Start start = Resolve(archiveText);
  if (start.mode == StartMode::ArchiveNotFound) {
    platform::messageBox(nullptr, QStringLiteral("Error: File not found!"),
                         platform::displayPath(archiveText), platform::BoxIcon::None);
    return 1;
  }
  return RunWindows(start.mode, factories, start.archive);
}

}  // namespace startup
