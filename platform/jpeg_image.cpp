#include "jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <QFile>

extern "C" {
#include <jpeglib.h>
}

namespace platform {
namespace {

// libjpeg's default error_exit calls exit(); ours jumps back to decode().
// Only plain C data lives in the frame that calls setjmp.
struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  bool warned;
};

extern "C" void onError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  std::longjmp(err->jump, 1);
}

// A truncated file is only a warning to libjpeg ("Premature end of JPEG file"):
// keep the first one so that decode() can refuse the half picture.
extern "C" void onMessage(j_common_ptr cinfo, int level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  if (level < 0 && !err->warned) {
    err->warned = true;
    (*cinfo->err->format_message)(cinfo, err->message);
  }
}

bool decodeInto(const unsigned char* bytes, unsigned long size, QImage* out, char* message) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  std::memset(&err, 0, sizeof err);
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = onError;
  err.pub.emit_message = onMessage;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    std::memcpy(message, err.message, JMSG_LENGTH_MAX);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, bytes, size);
  jpeg_read_header(&cinfo, TRUE);
  // CMYK cannot be converted to RGB by libjpeg; those are read as they are and
  // turned into RGB below.
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  *out = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                QImage::Format_RGB32);
  if (out->isNull()) {
    jpeg_destroy_decompress(&cinfo);
    std::snprintf(message, JMSG_LENGTH_MAX, "Picture too large");
    return false;
  }
  const int channels = cinfo.output_components;
  // Allocated from libjpeg's own pool, so a longjmp out of the loop leaks nothing.
  JSAMPARRAY buffer =
      (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                 cinfo.output_width * static_cast<unsigned>(channels), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    jpeg_read_scanlines(&cinfo, buffer, 1);
    const unsigned char* row = buffer[0];
    auto* line = reinterpret_cast<QRgb*>(out->scanLine(y));
    for (unsigned x = 0; x < cinfo.output_width; ++x) {
      const unsigned char* p = row + x * static_cast<unsigned>(channels);
      if (channels == 1) {
        line[x] = qRgb(p[0], p[0], p[0]);
      } else if (channels == 4) {
        // Adobe writes inverted CMYK; k scales the other three.
        const int k = p[3];
        line[x] = qRgb(p[0] * k / 255, p[1] * k / 255, p[2] * k / 255);
      } else {
        line[x] = qRgb(p[0], p[1], p[2]);
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (err.warned) {
    std::memcpy(message, err.message, JMSG_LENGTH_MAX);
    return false;
  }
  return true;
}

}  // namespace

QImage JpegImage::decode(const QByteArray& data, QString* error) {
  QImage image;
  char message[JMSG_LENGTH_MAX] = {};
  if (data.isEmpty()) {
    if (error) *error = QStringLiteral("Empty JPEG file");
    return {};
  }
  if (!decodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                  static_cast<unsigned long>(data.size()), &image, message)) {
    if (error) *error = QString::fromLocal8Bit(message);
    return {};
  }
  return image;
}

QImage JpegImage::load(const QString& path, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    if (error) *error = file.errorString();
    return {};
  }
  return decode(file.readAll(), error);
}

}  // namespace platform
