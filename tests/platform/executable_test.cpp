#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "executable.h"

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
