// The program's arguments as the one archive text that start-up and the
// extraction window both read.
#pragma once

#include <QString>
#include <QStringList>

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

}  // namespace platform
