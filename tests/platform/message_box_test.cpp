#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

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
  platform::Question seen;
  int calls = 0;
  platform::setAnswerer(platform::Modal::MessageBox, [&](const platform::Question& r) {
    seen = r;
    ++calls;
  });
  platform::showErrorBox(QStringLiteral("Cannot read file"));
  platform::setAnswerer(platform::Modal::MessageBox, {});
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(seen.caption, QApplication::applicationName());
  EXPECT_EQ(seen.text, QStringLiteral("Cannot read file."));
  EXPECT_EQ(seen.icon, platform::BoxIcon::Error);
}

// The archive information joins its lines by LF then CR; on screen that is
// one break per line, as are CR LF and lone breaks.
TEST(MessageBox, EachLineBreakShowsOnce) {
  QString shown;
  Qt::TextFormat format = Qt::AutoText;
  QTimer::singleShot(0, [&] {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      auto* box = qobject_cast<QMessageBox*>(window);
      if (!box || !box->isVisible()) continue;
      shown = box->text();
      format = box->textFormat();
      box->accept();
    }
  });
  platform::messageBox(nullptr, QStringLiteral("Archiv-Info"),
                       QStringLiteral("Dateien: 1\n\rKommentar: <b>a</b>\r\nb\rc\nd\n\n\re"),
                       platform::BoxIcon::Information);
  EXPECT_EQ(shown, QStringLiteral("Dateien: 1\nKommentar: <b>a</b>\nb\nc\nd\n\ne"));
  EXPECT_EQ(format, Qt::PlainText);
}
