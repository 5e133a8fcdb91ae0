// The program's arguments as the one archive text start-up resolves.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

// Removes blanks and control characters (every character up to U+0020) from
// both ends.
QString trimBlanksAndControls(const QString& text);

// One argument is only trimmed; two or more are each trimmed and joined with
// single blanks, so that a path split over several unquoted arguments comes
// back whole.
QString joinArguments(const QStringList& arguments);

// The archive an archive text names: the text as given (relative to the current folder) when it
// names a file, else the executable's folder followed directly by the text. The path comes back
// absolute, so that its folder is known; empty when neither names a file.
QString findArchive(const QString& archiveText, const QString& executableFolder,
                    const std::function<bool(const QString&)>& filePresent);

}  // namespace platform
