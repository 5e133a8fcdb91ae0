#include "shell.h"

#include <QDesktopServices>

namespace platform {
namespace {
ShellOpenHook& hook() {
  static ShellOpenHook instance;
  return instance;
}
}  // namespace

void setShellOpenHook(ShellOpenHook h) {
  hook() = std::move(h);
}

bool shellOpen(const QUrl& url) {
  if (hook()) return hook()(url);
  return QDesktopServices::openUrl(url);
}

bool shellOpenFile(const QString& path) {
  return shellOpen(QUrl::fromLocalFile(path));
}

}  // namespace platform
