// Program start: what the command line asks for, and the windows that follow.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

namespace startup {

// The arguments joined and trimmed: one argument is only trimmed; two or more
// are each trimmed and joined with single blanks, so that a path split over
// several unquoted arguments comes back whole.
QString ArchiveText(const QStringList& arguments);

// The last four characters (the whole text when shorter), letters A to Z
// lower-cased and nothing else changed.
QString ArchiveTail(const QString& archiveText);

// True for the tails "rar" and ".rar".
bool IsArchiveTail(const QString& tail);

// platform::findArchive on the real folders: the archive text as passed
// (relative to the current folder, made absolute), then the executable's
// folder followed directly by the text. Empty when neither is a file.
QString FindArchive(const QString& archiveText);

enum class StartMode { Instructions, Archive, ArchiveNotFound };

// What the archive text asks for, and in Archive mode the archive found
// (FindArchive's path), resolved once for start-up and the extraction window.
struct Start {
  StartMode mode = StartMode::Instructions;
  QString archive;
};
Start Resolve(const QString& archiveText);
StartMode ChooseMode(const QString& archiveText);

// Creates the windows of a mode through the application object. Either
// factory may throw (the extraction window does when its archive component
// cannot be built); the error is then shown once in the standard error box
// and 1 returned without a message loop. Otherwise the main window (the
// first created) is shown and the message loop runs until it closes; the
// exit status is then the extraction window's (0 without one).
struct WindowFactories {
  // The extraction window, on the archive start-up found.
  std::function<QWidget*(const QString& archive)> createMain;
  std::function<QWidget*()> createConfig;  // the instructions window
  // The exit status the extraction window's run ended with; unset: 0.
  std::function<int(const QWidget& mainWindow)> runExitStatus = {};
};
int RunWindows(StartMode mode, const WindowFactories& factories,
               const QString& archive = QString());

// What is decided before Qt starts. No display (neither DISPLAY nor
// WAYLAND_DISPLAY set) means Qt's offscreen platform (unless QT_QPA_PLATFORM
// names one) and a run without anyone to answer; with nothing to extract
// there is then nothing to do. "--help" and "--version" alone print the usage
// or the version on standard output.
struct BeforeQt {
  std::optional<int> exitCode;  // set: the program ends at once with it
  bool noDisplay = false;
};
BeforeQt DecideBeforeQt(int argc, char** argv);

// The whole start-up on the program's arguments (argv[1] onwards).
int Run(int argc, char** argv, const WindowFactories& factories);

}  // namespace startup
