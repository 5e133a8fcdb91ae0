#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "jpeg_image.h"

namespace {

QByteArray encodeJpeg(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "JPEG", 95);
  return bytes;
}

QImage twoColours() {
  QImage image(40, 20, QImage::Format_RGB32);
  image.fill(qRgb(200, 30, 30));
  for (int y = 0; y < 20; ++y)
    for (int x = 20; x < 40; ++x) image.setPixel(x, y, qRgb(20, 40, 220));
  return image;
}

}  // namespace

TEST(JpegImage, DecodesSizeAndColours) {
  const QByteArray bytes = encodeJpeg(twoColours());
  ASSERT_FALSE(bytes.isEmpty()) << "Qt's JPEG writer is missing";
  QString error;
  const QImage image = platform::JpegImage::decode(bytes, &error);
  ASSERT_FALSE(image.isNull()) << error.toStdString();
  EXPECT_EQ(image.size(), QSize(40, 20));
  const QRgb left = image.pixel(5, 10), right = image.pixel(35, 10);
  EXPECT_NEAR(qRed(left), 200, 8);
  EXPECT_NEAR(qBlue(right), 220, 8);
}

TEST(JpegImage, GreyscaleIsRead) {
  QImage grey(8, 8, QImage::Format_Grayscale8);
  grey.fill(128);
  const QImage image = platform::JpegImage::decode(encodeJpeg(grey));
  ASSERT_FALSE(image.isNull());
  EXPECT_NEAR(qGreen(image.pixel(3, 3)), 128, 4);
}

TEST(JpegImage, BrokenOrTruncatedDataIsRefusedWithAMessage) {
  QString error;
  EXPECT_TRUE(platform::JpegImage::decode(QByteArray("not a picture"), &error).isNull());
  EXPECT_FALSE(error.isEmpty());

  const QByteArray whole = encodeJpeg(twoColours());
  error.clear();
  EXPECT_TRUE(platform::JpegImage::decode(whole.left(whole.size() / 2), &error).isNull());
  EXPECT_FALSE(error.isEmpty());

  EXPECT_TRUE(platform::JpegImage::decode(QByteArray()).isNull());
  EXPECT_TRUE(platform::JpegImage::load(QStringLiteral("/nonexistent/x.jpg"), &error).isNull());
}
