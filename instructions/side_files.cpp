#include "side_files.h"

#include <QCoreApplication>

#include "executable.h"

namespace instructions {
namespace {
QString& overrideFolder() {
  static QString folder;
  return folder;
}
QString& overrideProgram() {
  static QString path;
  return path;
}
}  // namespace

QString programPath() {
  const QString& path = overrideProgram();
  return path.isEmpty() ? QCoreApplication::applicationFilePath() : path;
}

void setProgramPathForTests(const QString& path) {
  overrideProgram() = path;
}

QString sideFolder() {
  const QString& folder = overrideFolder();
  return folder.isEmpty() ? platform::executableFolder() : folder;
}

QString sideFile(const QString& name) {
  return sideFolder() + name;
}

void setSideFolderForTests(const QString& folder) {
  overrideFolder() =
      folder.isEmpty() || folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
}

}  // namespace instructions
