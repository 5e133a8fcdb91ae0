#include "drop_files.h"

#include <QMimeData>
#include <QUrl>

#include "name_tail.h"
#include "path_bytes.h"

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
    // The list carries a file name's bytes percent-encoded; toLocalFile() would
    // read them as UTF-8 and lose the others.
    if (!url.isLocalFile()) continue;
    if (!url.host().isEmpty()) {
      paths << url.toLocalFile();  // a share's name, "//host/path"
      continue;
    }
    paths << platform::pathFromBytes(
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
  }
  return paths;
}

}  // namespace instructions
