#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "settings_store.h"

namespace {

using platform::SettingsKey;
using platform::SettingsRoot;
using platform::SettingsStatus;

const QString kKey = QStringLiteral("Maker/Product");
const QString kName = QStringLiteral("Installer Language");

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.path() + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_DIRS",
            QFile::encodeName(dir.path() + QStringLiteral("/etc")) + ":/etc/xdg");
  }
  void write(const QString& path, const QByteArray& content) {
    ASSERT_TRUE(QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/')))));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
  }
  QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
  }
  QTemporaryDir dir;
};

TEST_F(SettingsStoreTest, RootsFollowTheXdgVariablesAndTheirDefaults) {
  EXPECT_EQ(platform::settingsRootFolder(SettingsRoot::PerUser), dir.path() + "/home");
  EXPECT_EQ(platform::settingsRootFolder(SettingsRoot::MachineWide), dir.path() + "/etc");
  EXPECT_EQ(platform::settingsFilePath(SettingsRoot::MachineWide, kKey),
            dir.path() + "/etc/Maker/Product.conf");
  qputenv("XDG_CONFIG_HOME", "");
  qputenv("XDG_CONFIG_DIRS", "");
  EXPECT_EQ(platform::settingsRootFolder(SettingsRoot::PerUser), QDir::homePath() + "/.config");
  EXPECT_EQ(platform::settingsRootFolder(SettingsRoot::MachineWide), QStringLiteral("/etc/xdg"));
}

TEST_F(SettingsStoreTest, OpeningCreatesTheKeyFileAndKeepsAnExistingOne) {
  const QString path = platform::settingsFilePath(SettingsRoot::PerUser, kKey);
  {
    const SettingsKey key(SettingsRoot::PerUser, kKey);
    EXPECT_TRUE(key.isOpen());
    EXPECT_FALSE(key.valueExists(kName));
  }
  EXPECT_TRUE(QFile::exists(path)) << "opening with full access creates the key";
  write(path, "[General]\nOther=1\n");
  {
    const SettingsKey key(SettingsRoot::PerUser, kKey);
    EXPECT_TRUE(key.valueExists(QStringLiteral("Other")));
  }
  EXPECT_EQ(read(path), QByteArray("[General]\nOther=1\n")) << "opening alone writes nothing";
}

TEST_F(SettingsStoreTest, WrittenValueIsInTheFileAndReadBackAsText) {
  {
    SettingsKey key(SettingsRoot::MachineWide, kKey);
    ASSERT_EQ(key.writeString(kName, QStringLiteral("1031")), SettingsStatus::Ok);
  }
  const QString path = platform::settingsFilePath(SettingsRoot::MachineWide, kKey);
  EXPECT_TRUE(read(path).contains("[General]"));
  EXPECT_TRUE(read(path).contains("Installer%20Language=1031")) << read(path).toStdString();
  const SettingsKey again(SettingsRoot::MachineWide, kKey);
  QString value;
  EXPECT_EQ(again.readString(kName, &value), SettingsStatus::Ok);
  EXPECT_EQ(value, QStringLiteral("1031"));
}

TEST_F(SettingsStoreTest, KeyWrittenWithAPlainBlankIsFoundToo) {
  write(platform::settingsFilePath(SettingsRoot::PerUser, kKey),
        "[General]\nInstaller Language=1036\n");
  const SettingsKey key(SettingsRoot::PerUser, kKey);
  QString value;
  EXPECT_TRUE(key.valueExists(kName));
  EXPECT_EQ(key.readString(kName, &value), SettingsStatus::Ok);
  EXPECT_EQ(value, QStringLiteral("1036"));
}

TEST_F(SettingsStoreTest, ValueThatIsNotOneStringIsTheWrongType) {
  write(platform::settingsFilePath(SettingsRoot::PerUser, kKey),
        "[General]\nInstaller%20Language=1031, 1036\nBytes=@ByteArray(1031)\n");
  const SettingsKey key(SettingsRoot::PerUser, kKey);
  QString value = QStringLiteral("untouched");
  EXPECT_TRUE(key.valueExists(kName));
  EXPECT_EQ(key.readString(kName, &value), SettingsStatus::WrongType);
  EXPECT_TRUE(value.isEmpty());
  EXPECT_EQ(key.readString(QStringLiteral("Bytes"), &value), SettingsStatus::WrongType);
}

TEST_F(SettingsStoreTest, FileThatCannotBeParsedFailsTheRead) {
  write(platform::settingsFilePath(SettingsRoot::PerUser, kKey),
        "[General]\nInstaller%20Language=1031\n[Broken\n");
  const SettingsKey key(SettingsRoot::PerUser, kKey);
  QString value;
  ASSERT_TRUE(key.valueExists(kName));
  EXPECT_EQ(key.readString(kName, &value), SettingsStatus::ReadFailed);
}

TEST_F(SettingsStoreTest, KeyUnderARegularFileIsNotOpenAndRefusesWrites) {
  write(dir.path() + "/blocker", "not a folder");
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(dir.path() + "/blocker/etc"));
  SettingsKey key(SettingsRoot::MachineWide, kKey);
  EXPECT_FALSE(key.isOpen());
  EXPECT_FALSE(key.valueExists(kName));
  QString value;
  EXPECT_EQ(key.readString(kName, &value), SettingsStatus::Missing);
  EXPECT_EQ(key.writeString(kName, QStringLiteral("1031")), SettingsStatus::WriteFailed);
}

// Permission bits do not bind root: as root, the test runs again as nobody,
// from a copy of this program in a folder nobody may enter.
TEST_F(SettingsStoreTest, ReadOnlyFileRefusesTheWriteForLackOfRights) {
  if (::geteuid() == 0) {
    const QString copy = dir.path() + QStringLiteral("/as_nobody");
    ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), copy));
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const ::testing::TestInfo* self = ::testing::UnitTest::GetInstance()->current_test_info();
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.setWorkingDirectory(dir.path());
    run.start(QStringLiteral("setpriv"),
              {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
               QStringLiteral("--clear-groups"), copy,
               QStringLiteral("--gtest_filter=%1.%2")
                   .arg(QLatin1String(self->test_suite_name()), QLatin1String(self->name()))});
    ASSERT_TRUE(run.waitForFinished(60000));
    const QByteArray output = run.readAll();
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test.")) << output.toStdString();
    return;
  }
  const QString path = platform::settingsFilePath(SettingsRoot::MachineWide, kKey);
  write(path, "[General]\n");
  ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  ASSERT_TRUE(QFile::setPermissions(path.left(path.lastIndexOf(QLatin1Char('/'))),
                                    QFile::ReadOwner | QFile::ExeOwner));
  SettingsKey key(SettingsRoot::MachineWide, kKey);
  EXPECT_TRUE(key.isOpen());
  EXPECT_EQ(key.writeString(kName, QStringLiteral("1031")), SettingsStatus::WriteDenied);
  QFile::setPermissions(path.left(path.lastIndexOf(QLatin1Char('/'))),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_EQ(read(path), QByteArray("[General]\n"));
}

}  // namespace
