#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>

#include "shell.h"
#include "side_files.h"
#include "untConfig.h"

void InstructionsTest::SetUp() {
  ASSERT_TRUE(dir.isValid());
  ASSERT_TRUE(QDir().mkpath(sideFolder()));
  // The stores are found through the environment every time one is opened.
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(userFolder()));
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(machineFolder()) + ":/etc/xdg");
  instructions::setSideFolderForTests(sideFolder());
  platform::setAnswerer(platform::Modal::MessageBox,
                        [this](const platform::Question& request) { boxes << request; });
  platform::setShellOpenHook([this](const QUrl& url) {
    opened << url;
    return true;
  });
}

void InstructionsTest::TearDown() {
  platform::setAnswerer(platform::Modal::MessageBox, {});
  platform::setShellOpenHook({});
  instructions::setSideFolderForTests(QString());
}

void InstructionsTest::writeFile(const QString& path, const QByteArray& content) {
  ASSERT_TRUE(QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/')))));
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  file.write(content);
}

QByteArray InstructionsTest::readFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

void InstructionsTest::setUserValue(const QByteArray& value) {
  writeFile(userFile(), "[General]\nInstaller%20Language=" + value + "\n");
}

void InstructionsTest::setMachineValue(const QByteArray& value) {
  writeFile(machineFile(), "[General]\nInstaller%20Language=" + value + "\n");
}

void InstructionsTest::makeMachineStoreUnwritable() {
  const QString blocker = dir.path() + QStringLiteral("/blocker");
  writeFile(blocker, "a regular file, so nothing can be created below it");
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(blocker + QStringLiteral("/machine")));
}

void InstructionsTest::putSideFile(const QString& name, const QByteArray& content) {
  writeFile(sideFolder() + name, content);
}

std::unique_ptr<TfrmConfig> InstructionsTest::createWindow(const QLocale& desktop) {
  return std::make_unique<TfrmConfig>(desktop);
}

QStringList instructionLines(QWidget* window) {
  auto* memo = window->findChild<QPlainTextEdit*>(QStringLiteral("Memo2"));
  if (!memo) return {};
  return memo->toPlainText().split(QLatin1Char('\n'));
}
