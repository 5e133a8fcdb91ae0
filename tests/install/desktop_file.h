// What a launcher does with a desktop entry: read its groups and keys, and turn an
// Exec value into the argument list of the process it starts.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace desktopfile {

// Groups by name, each a map of key to value with the key file's string escapes
// (\s \n \t \r \\) resolved. A key given twice in one group keeps its first value.
using Groups = QMap<QString, QMap<QString, QString>>;

// Reads a key file; `error` says why when it is not one (the result is then empty).
Groups read(const QString& path, QString* error);

// The arguments an Exec value starts, with %f, %F, %u and %U standing alone as an
// argument replaced by `file`, %% by %, and the other field codes dropped. Quoting
// follows the desktop entry rules: double quotes group, and inside them a backslash
// escapes ", `, $ and \. `error` is set for an unterminated quote or a lone "%".
QStringList execArguments(const QString& exec, const QString& file, QString* error);

}  // namespace desktopfile
