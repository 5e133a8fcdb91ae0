#include "drop_files.h"

#include <QMimeData>
#include <QUrl>

namespace instructions {
namespace {

QString nameTail(const QString& path) {
  const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
  QString tail = name.right(4);
  // Only A to Z: the test must not depend on the locale's idea of case.
  for (QChar& c : tail) {
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() + ('a' - 'A'));
  }
  return tail;
}

}  // namespace

DroppedKind classifyDroppedFile(const QString& path) {
  const QString tail = nameTail(path);
  const auto is = [&tail](const char* extension) {
    return tail == QLatin1String(extension) || tail == QLatin1Char('.') + QLatin1String(extension);
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
