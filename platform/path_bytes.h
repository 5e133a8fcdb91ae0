// File names are bytes on Linux, and not all of them are UTF-8: disks written
// by older systems carry names in single-byte code pages. A path is held here
// as text in which every byte that is no part of valid UTF-8 is kept as the
// code U+DC80 + byte, a lone surrogate that no valid UTF-8 gives, so that the
// text goes back to the very same bytes wherever it reaches the system.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

QString pathFromBytes(const QByteArray& bytes);
QByteArray pathToBytes(const QString& path);

// The path as a person sees it: each kept byte shows as U+FFFD.
QString displayPath(const QString& path);

// A name from an archive as a window or a report shows it on one line: each
// control character (a line break, the escape that starts a terminal's
// sequences) as an escape such as \n or \x1b.
QString escapeControls(const QString& text);

}  // namespace platform
