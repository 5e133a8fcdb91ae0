#include "text_file.h"

#include <QFile>

namespace platform {

QString firstLineOf(const QByteArray& bytes) {
  qsizetype end = 0;
  while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r') ++end;
  return QString::fromUtf8(bytes.constData(), end);
}

QString readFirstLine(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw EInOutError(QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
  // Reading stops at the first line end, so a large file costs no more than
  // its first line.
  QByteArray bytes;
  char chunk[4096];
  for (;;) {
    const qint64 n = file.read(chunk, sizeof chunk);
    if (n < 0)
      throw EInOutError(
          QStringLiteral("Cannot read file \"%1\". %2").arg(path, file.errorString()));
    if (n == 0) break;
    const qsizetype before = bytes.size();
    bytes.append(chunk, n);
    bool lineEnd = false;
    for (qsizetype i = before; i < bytes.size(); ++i)
      if (bytes[i] == '\n' || bytes[i] == '\r') {
        lineEnd = true;
        break;
      }
    if (lineEnd) break;
  }
  return firstLineOf(bytes);
}

}  // namespace platform
