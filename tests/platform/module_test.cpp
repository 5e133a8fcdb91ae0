#include <gtest/gtest.h>

#include <QFile>
#include <QString>

#include "module.h"

namespace {

const QString kFake = QStringLiteral(QUILLMOSS_TEST_BIN_DIR "/libfakeunrar.so");

bool mapped(const QString& path) {
  QFile maps(QStringLiteral("/proc/self/maps"));
  if (!maps.open(QIODevice::ReadOnly)) return false;
  return QString::fromUtf8(maps.readAll()).contains(path);
}

}  // namespace

TEST(Module, LoadsByPathResolvesAndUnloadsOnClose) {
  QString error;
  platform::Module module = platform::Module::open(kFake, &error);
  ASSERT_TRUE(module.isLoaded()) << error.toStdString();
  EXPECT_TRUE(mapped(kFake));
  using VersionFn = int (*)();
  auto version = module.function<VersionFn>("RARGetDllVersion", &error);
  ASSERT_NE(version, nullptr) << error.toStdString();
  EXPECT_EQ(version(), 5);
  module.close();
  EXPECT_FALSE(module.isLoaded());
  EXPECT_FALSE(mapped(kFake)) << "the library must be unmapped once its only owner closed it";
}

TEST(Module, MissingSymbolGivesNullAndItsOwnMessage) {
  QString error;
  platform::Module module = platform::Module::open(kFake, &error);
  ASSERT_TRUE(module.isLoaded()) << error.toStdString();
  EXPECT_EQ(module.symbol("NoSuchEntryPoint", &error), nullptr);
  EXPECT_TRUE(error.contains(QStringLiteral("NoSuchEntryPoint"))) << error.toStdString();
  // A lookup that succeeds after a failed one must not inherit its message.
  QString second;
  EXPECT_NE(module.symbol("RARCloseArchive", &second), nullptr);
  EXPECT_TRUE(second.isEmpty()) << second.toStdString();
}

TEST(Module, MissingFileGivesNothingAndAMessage) {
  QString error;
  platform::Module module =
      platform::Module::open(QStringLiteral("/nonexistent/folder/libnothing.so"), &error);
  EXPECT_FALSE(module.isLoaded());
  EXPECT_FALSE(error.isEmpty());
  EXPECT_EQ(module.symbol("RARCloseArchive"), nullptr);
  EXPECT_FALSE(platform::Module::open(QString(), &error).isLoaded());
}

TEST(Module, MovingHandsOverOwnership) {
  platform::Module first = platform::Module::open(kFake);
  ASSERT_TRUE(first.isLoaded());
  void* handle = first.handle();
  platform::Module second(std::move(first));
  EXPECT_FALSE(first.isLoaded());  // NOLINT(bugprone-use-after-move): moved-from is defined empty
  EXPECT_EQ(second.handle(), handle);
  platform::Module third;
  third = std::move(second);
  EXPECT_EQ(third.handle(), handle);
  EXPECT_TRUE(mapped(kFake));
  { platform::Module scoped = std::move(third); }
  EXPECT_FALSE(mapped(kFake)) << "the destructor must close the library";
}
