#include "entry_folders.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QStringList>

#include "path_bytes.h"

namespace vxunrar {

std::vector<QByteArray> MissingFolders(const QByteArray& destination, const QString& entryName,
                                       QByteArray& knownFolder) {
  const QStringList parts = entryName.split(QLatin1Char('/'));
  for (const QString& part : parts)
    if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) return {};
  std::vector<QByteArray> paths;
  QByteArray path = destination;
  for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
    path += '/' + platform::pathToBytes(parts[i]);
    paths.push_back(path);
  }
  if (paths.empty() || paths.back() == knownFolder) return {};
  std::vector<QByteArray> missing;
  for (const QByteArray& folder : paths) {
    struct stat st {};
    if (!missing.empty() || ::lstat(folder.constData(), &st) != 0) missing.push_back(folder);
  }
  if (missing.empty()) knownFolder = paths.back();
  return missing;
}

void RemoveEmptyFolders(const std::vector<QByteArray>& folders) {
  // rmdir removes only an empty folder, and never follows a link.
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
    if (::rmdir(folder->constData()) != 0) return;
}

}  // namespace vxunrar
