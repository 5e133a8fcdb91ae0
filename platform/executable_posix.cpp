#include "executable.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include "path_bytes.h"

namespace platform {

QString executableFolder() {
  QByteArray buffer(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return QStringLiteral("./");
    if (n < buffer.size()) {
      buffer.truncate(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  const QString path = pathFromBytes(buffer);
  return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString besideExecutable(const QString& fileName) {
  return executableFolder() + fileName;
}

bool filePresent(const QString& path) {
  if (path.isEmpty()) return false;
  struct stat st {};
  return ::stat(pathToBytes(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folderPresent(const QString& path) {
  if (path.isEmpty()) return false;
  struct stat st {};
  return ::stat(pathToBytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
