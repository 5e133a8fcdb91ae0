// Our JPEG picture class: decodes with libjpeg directly, never through Qt's plugins.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace platform {

class JpegImage {
 public:
  // Decodes a whole JPEG file held in memory. On failure returns a null image and,
  // when error is given, libjpeg's text for the failure. A truncated file is a
  // failure, not a partly grey picture.
  static QImage decode(const QByteArray& data, QString* error = nullptr);
  static QImage load(const QString& path, QString* error = nullptr);
};

}  // namespace platform
