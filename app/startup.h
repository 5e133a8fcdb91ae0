// Program start: what the command line asks for, and the windows that follow.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

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

// The path under which the archive text names an existing file: as passed
// (relative to the current folder), then the executable's folder followed
// directly by the text. Empty when neither is a file.
QString FindArchive(const QString& archiveText);

enum class StartMode { Instructions, Archive, ArchiveNotFound };
StartMode ChooseMode(const QString& archiveText);

// Creates the windows of a mode through the application object. Either
// factory may throw (the extraction window does when its archive component
// cannot be built); the error is then shown once in the standard error box
// and 0 returned without a message loop. Otherwise the main window (the
// first created) is shown and the message loop runs until it closes.
struct WindowFactories {
  std::function<QWidget*()> createMain;    // the extraction window
  std::function<QWidget*()> createConfig;  // the instructions window
};
int RunWindows(StartMode mode, const WindowFactories& factories);

// The whole start-up on the program's arguments (argv[1] onwards).
int Run(int argc, char** argv, const WindowFactories& factories);

}  // namespace startup
