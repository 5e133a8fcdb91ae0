// Opening a web page or a document with the desktop's default program.
#pragma once

#include <functional>

#include <QString>
#include <QUrl>

namespace platform {

// Returns false when the desktop could not open it.
bool shellOpen(const QUrl& url);
// A local file: its path, not a URL text.
bool shellOpenFile(const QString& path);

// While a hook is set, every request goes to it instead of the desktop (tests).
using ShellOpenHook = std::function<bool(const QUrl&)>;
void setShellOpenHook(ShellOpenHook hook);

}  // namespace platform
