#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "executable.h"
#include "path_bytes.h"

TEST(ExecutableFolder, IsTheFolderOfThisTestBinaryEndingInSlash) {
  const QString folder = platform::executableFolder();
  ASSERT_TRUE(folder.endsWith(QLatin1Char('/'))) << folder.toStdString();
  EXPECT_EQ(QDir(folder).canonicalPath(),
            QDir(QStringLiteral(QUILLMOSS_TEST_BIN_DIR)).canonicalPath());
  EXPECT_EQ(platform::besideExecutable(QStringLiteral("silent.txt")), folder + "silent.txt");
}

TEST(FilePresent, TrueOnlyForAFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath(QStringLiteral("a.rar"));
  EXPECT_FALSE(platform::filePresent(file));
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  EXPECT_TRUE(platform::filePresent(file));
  EXPECT_FALSE(platform::filePresent(dir.path())) << "a folder is not a file";
  EXPECT_FALSE(platform::filePresent(QString()));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("b.rar")));
  EXPECT_FALSE(platform::filePresent(dir.filePath(QStringLiteral("b.rar"))));
}

// The same answers as filePresent, path after path, with the folder held
// open between them; a folder put in place of the held one counts after forget().
TEST(FilePresent, TheHeldFolderAnswersAsThePathWould) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("d/sub")));
  QFile f(dir.filePath(QStringLiteral("d/a.txt")));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  platform::FilePresence present;
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_FALSE(present(QString()));
    EXPECT_FALSE(present(dir.filePath(QStringLiteral("missing/a.txt"))));
    EXPECT_FALSE(present(dir.filePath(QStringLiteral("d/sub")))) << "a folder is not a file";
    EXPECT_FALSE(present(dir.filePath(QStringLiteral("d/b.txt"))));
    EXPECT_TRUE(present(dir.filePath(QStringLiteral("d/a.txt"))));
  }
  ASSERT_TRUE(QDir(dir.path()).rename(QStringLiteral("d"), QStringLiteral("old")));
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("d")));
  present.forget();
  EXPECT_FALSE(present(dir.filePath(QStringLiteral("d/a.txt"))));
  EXPECT_TRUE(present(dir.filePath(QStringLiteral("old/a.txt"))));
}

TEST(PathBytes, EveryByteStringComesBackWholeAndValidUtf8ReadsAsText) {
  const QByteArray samples[] = {
      "plain/ascii.rar",
      "caf\xc3\xa9/\xe2\x82\xac \xf0\x9f\x93\xa6.rar",  // valid 2-, 3- and 4-byte characters
      "caf\xe9.rar",                                    // Latin-1
      "\x80\xbf\xff\xfe",                               // no lead byte at all
      "\xc3",                                           // cut short at the end
      "\xe2\x82x",                                      // cut short before an ASCII byte
      "\xc0\xaf\xe0\x80\xaf",                           // overlong forms
      "\xed\xb2\x80",                                   // a surrogate written as UTF-8
      "\xf4\x90\x80\x80",                               // beyond U+10FFFF
      "\xf0\x90\x82\x80\xe9",  // U+10080 (its low half lies in the kept range), then a kept byte
  };
  for (const QByteArray& bytes : samples) {
    const QString path = platform::pathFromBytes(bytes);
    EXPECT_EQ(platform::pathToBytes(path), bytes) << bytes.toHex().toStdString();
    if (QString::fromUtf8(bytes).toUtf8() == bytes) {
      EXPECT_EQ(path, QString::fromUtf8(bytes)) << bytes.toHex().toStdString();
      EXPECT_EQ(platform::displayPath(path), path);
    } else {
      EXPECT_TRUE(platform::displayPath(path).contains(QChar::ReplacementCharacter));
    }
  }
  EXPECT_EQ(platform::displayPath(platform::pathFromBytes("caf\xe9.rar")),
            QStringLiteral(u"caf\uFFFD.rar"));
}

// Names from an archive show on one line, in the windows as in the report.
TEST(PathBytes, ControlCharactersShowAsEscapes) {
  const struct {
    const char16_t* text;
    const char* shown;
  } rows[] = {
      {u"red\x1b[31m.txt", "red\\x1b[31m.txt"},
      {u"two\nlines\r\tend", "two\\nlines\\r\\tend"},
      {u"bell\x07"
       u"del\x7f\x85",
       "bell\\x07del\\x7f\\x85"},
      {u"caf\u00e9 \u65e5\\n.txt", "caf\u00e9 \u65e5\\n.txt"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(platform::escapeControls(QString::fromUtf16(row.text)), QString::fromUtf8(row.shown))
        << row.shown;
}

TEST(FilePresent, ANameThatIsNoUtf8IsFoundByItsBytes) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QByteArray folder = QFile::encodeName(dir.path()) + "/d\xe9j\xe0";
  ASSERT_EQ(::mkdir(folder.constData(), 0700), 0);
  const QByteArray file = folder + "/caf\xe9.rar";
  const int fd = ::open(file.constData(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_TRUE(platform::folderPresent(platform::pathFromBytes(folder)));
  EXPECT_TRUE(platform::filePresent(platform::pathFromBytes(file)));
  EXPECT_FALSE(platform::filePresent(QString::fromUtf8(file))) << "read lossily it names nothing";
}
