// The name-tail test shared by start-up and the drop target.
#pragma once

#include <QString>

namespace platform {

// The last four characters of a text (the whole text when shorter), with only
// the letters A to Z lower-cased, so the test does not depend on the locale.
QString nameTail(const QString& text);

// True when the tail is the extension itself ("rar", which only a text of
// exactly three characters gives) or the dotted form (".rar").
bool tailIs(const QString& tail, QLatin1String extension);

}  // namespace platform
