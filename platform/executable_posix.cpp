#include "executable.h"

#include <fcntl.h>
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

FilePresence::~FilePresence() {
  forget();
}

void FilePresence::forget() {
  if (folderFd_ >= 0) ::close(folderFd_);
  folderFd_ = -1;
  folder_.clear();
}

bool FilePresence::operator()(const QString& path) {
  if (path.isEmpty()) return false;
  const QByteArray bytes = pathToBytes(path);
  const qsizetype slash = bytes.lastIndexOf('/');
  struct stat st {};
  if (slash <= 0 || slash + 1 == bytes.size())
    return ::stat(bytes.constData(), &st) == 0 && S_ISREG(st.st_mode);
  const QByteArray folder = bytes.left(slash);
  if (folderFd_ < 0 || folder != folder_) {
    forget();
    // A folder that is not there (yet) is looked for again next time.
    folderFd_ = ::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ < 0) return ::stat(bytes.constData(), &st) == 0 && S_ISREG(st.st_mode);
    folder_ = folder;
  }
  return ::fstatat(folderFd_, bytes.constData() + slash + 1, &st, 0) == 0 && S_ISREG(st.st_mode);
}

bool folderPresent(const QString& path) {
  if (path.isEmpty()) return false;
  struct stat st {};
  return ::stat(pathToBytes(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace platform
