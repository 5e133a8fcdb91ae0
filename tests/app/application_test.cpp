#include <gtest/gtest.h>

#include <QFile>
#include <QIcon>
#include <QTimer>
#include <stdexcept>

#include "application.h"
#include "message_box.h"

namespace {

// The program's own command line, with no arguments, on the offscreen platform.
struct Arguments {
  Arguments() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  int argc = 1;
  char name[18] = "application_tests";
  char* argv[2] = {name, nullptr};
};

}  // namespace

TEST(ApplicationObject, AnErrorEscapingAHandlerIsShownOnceInTheStandardBox) {
  Arguments arguments;
  TQuillmossApplication app(arguments.argc, arguments.argv);
  QApplication::setApplicationName(QStringLiteral("Quillmoss"));
  QList<platform::Question> boxes;
  platform::setAnswerer(platform::Modal::MessageBox,
                        [&](const platform::Question& r) { boxes << r; });
  bool after = false;
  QTimer::singleShot(0, &app, [] { throw std::runtime_error("Cannot open file \"x\""); });
  QTimer::singleShot(10, &app, [&] {
    after = true;
    QApplication::quit();
  });
  QApplication::exec();
  platform::setAnswerer(platform::Modal::MessageBox, {});
  EXPECT_TRUE(after) << "the program must go on after the box";
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Quillmoss"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("Cannot open file \"x\""))
      << "a quote sorts before '.', so no full stop is appended";
  EXPECT_EQ(boxes[0].icon, platform::BoxIcon::Error);
}

// The desktop finds the program's entry by this name, and shows the icon that
// entry names on every window.
TEST(ApplicationObject, WindowsCarryTheProgramsIconAndDesktopEntry) {
  Arguments arguments;
  TQuillmossApplication app(arguments.argc, arguments.argv);
  EXPECT_EQ(QGuiApplication::desktopFileName(), QStringLiteral("quillmoss"));
  const QIcon icon = QApplication::windowIcon();
  for (const int size : {16, 32, 48, 256})
    EXPECT_EQ(icon.pixmap(size).size(), QSize(size, size)) << size;
  QFile entry(QStringLiteral(QUILLMOSS_SOURCE_DIR "/packaging/quillmoss.desktop"));
  ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
  EXPECT_TRUE(entry.readAll().contains("\nIcon=quillmoss\n"));
}
