// The program's arguments as the one archive text that start-up and the
// extraction window both read.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

// The program's arguments, argv[1] onwards, exactly as the system passed them
// (their bytes kept, see path_bytes.h). Start-up keeps them before the
// application object takes out the options it knows, so that start-up and
// the extraction window read the same list. Empty until kept.
void keepProgramArguments(int argc, const char* const* argv);
QStringList programArguments();

// Removes blanks and control characters (every character up to U+0020) from
// both ends.
QString trimBlanksAndControls(const QString& text);

// One argument is only trimmed; two or more are each trimmed and joined with
// single blanks, so that a path split over several unquoted arguments comes
// back whole.
QString joinArguments(const QStringList& arguments);

// The archive an archive text names, for start-up and the extraction window
// alike: the text as given (relative to the current folder) when it names a
// file, else the executable's folder followed directly by the text. The path
// comes back absolute, so that its folder is known; empty when neither names
// a file.
QString findArchive(const QString& archiveText, const QString& executableFolder,
                    const std::function<bool(const QString&)>& filePresent);

}  // namespace platform
