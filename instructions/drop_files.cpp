#include "drop_files.h"

#include <QMimeData>
#include <QUrl>

#include "name_tail.h"

namespace instructions {
DroppedKind classifyDroppedFile(const QString& path) {
  // The tail of the file name, not of the whole path.
  const QString tail = platform::nameTail(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
  const auto is = [&tail](const char* extension) {
    return platform::tailIs(tail, QLatin1String(extension));
  };
  if (is("rar")) return DroppedKind::Archive;
  if (is("jpg")) return DroppedKind::JpegPicture;
  if (is("bmp")) return DroppedKind::BitmapPicture;
  return DroppedKind::Ignored;
}

QStringList droppedLocalPaths(const QMimeData* data) {
  QStringList paths;
  if (!data || !data->hasUrls()) return paths;
  for (const QUrl& url : data->urls()) {
    if (url.isLocalFile()) paths << url.toLocalFile();
  }
  return paths;
}

}  // namespace instructions
