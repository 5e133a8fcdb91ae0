// The program's arguments as the one archive text that start-up and the
// extraction window both read.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// Removes blanks and control characters (every character up to U+0020) from
// both ends.
QString trimBlanksAndControls(const QString& text);

// One argument is only trimmed; two or more are each trimmed and joined with
// single blanks, so that a path split over several unquoted arguments comes
// back whole.
QString joinArguments(const QStringList& arguments);

}  // namespace platform
