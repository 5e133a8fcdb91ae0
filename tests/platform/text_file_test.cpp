#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "text_file.h"

namespace {

QString write(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
  const QString path = dir.filePath(QString::fromLatin1(name));
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(bytes);
  return path;
}

}  // namespace

TEST(FirstLine, EndsAtLfCrLfOrCrAndKeepsEverythingElse) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  EXPECT_EQ(platform::readFirstLine(write(dir, "lf", "  pass word \nsecond\n")),
            QStringLiteral("  pass word "));
  EXPECT_EQ(platform::readFirstLine(write(dir, "crlf", "\tsecret\r\nsecond")),
            QStringLiteral("\tsecret"));
  EXPECT_EQ(platform::readFirstLine(write(dir, "cr", "old mac\rsecond")),
            QStringLiteral("old mac"));
  EXPECT_EQ(platform::readFirstLine(write(dir, "none", "no line end")),
            QStringLiteral("no line end"));
  EXPECT_EQ(platform::readFirstLine(write(dir, "empty", "")), QString());
  EXPECT_EQ(platform::readFirstLine(write(dir, "blank", "\nsecond")), QString());
  EXPECT_EQ(platform::readFirstLine(write(dir, "utf8", "p\xC3\xA4sswort\n")),
            QStringLiteral("p\u00E4sswort"));
}

TEST(FirstLine, ALongFirstLineIsReadWhole) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray line(10000, 'x');
  EXPECT_EQ(platform::readFirstLine(write(dir, "long", line + "\nnext")).size(), 10000);
}

TEST(FirstLine, UnreadableFilesRaiseAnInputOutputError) {
  EXPECT_THROW(platform::readFirstLine(QStringLiteral("/nonexistent/silent.txt")),
               platform::EInOutError);
  // Opens fine, then every read fails (address 0 is never mapped).
  try {
    platform::readFirstLine(QStringLiteral("/proc/self/mem"));
    FAIL() << "a failing read must raise";
  } catch (const platform::EInOutError& error) {
    EXPECT_TRUE(error.message().contains(QStringLiteral("/proc/self/mem")))
        << error.message().toStdString();
  }
}
