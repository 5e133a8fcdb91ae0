#include <gtest/gtest.h>

#include <QApplication>

#include "message_box.h"

TEST(StandardErrorBox, FullStopOnlyAfterCharactersSortingAfterDot) {
  EXPECT_EQ(platform::standardErrorText(QStringLiteral("abc")), QStringLiteral("abc."));
  EXPECT_EQ(platform::standardErrorText(QStringLiteral("done.")), QStringLiteral("done."));
  EXPECT_EQ(platform::standardErrorText(QStringLiteral("what!")), QStringLiteral("what!"));
  EXPECT_EQ(platform::standardErrorText(QStringLiteral("'1a'")), QStringLiteral("'1a'"));
  EXPECT_EQ(platform::standardErrorText(QStringLiteral("x 1")), QStringLiteral("x 1."));
  EXPECT_EQ(platform::standardErrorText(QString()), QString());
}

TEST(StandardErrorBox, ShownWithApplicationCaptionAndErrorIcon) {
  platform::BoxRequest seen;
  int calls = 0;
  platform::setBoxAnswerer([&](const platform::BoxRequest& r) {
    seen = r;
    ++calls;
    return 1;
  });
  platform::showErrorBox(QStringLiteral("Cannot read file"));
  platform::setBoxAnswerer({});
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen.caption, QApplication::applicationName());
  EXPECT_EQ(seen.text, QStringLiteral("Cannot read file."));
  EXPECT_EQ(seen.icon, platform::BoxIcon::Error);
}
