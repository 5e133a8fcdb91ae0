#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "message_box.h"
#include "modal.h"

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

// The instructions window stays on top of other windows; a question that
// opened under it would look like a hung run. Answered through the seam, shown
// for real, and the yes/no box alike.
TEST(ModalQuestion, EveryQuestionIsKeptAboveTheProgramsWindows) {
  enum class Way { Answered, Shown, YesNoBox };
  for (const Way way : {Way::Answered, Way::Shown, Way::YesNoBox}) {
    bool above = false;
    const auto look = [&](QDialog& shown) {
      above = shown.isVisible() && shown.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
      if (auto* box = qobject_cast<QMessageBox*>(&shown))
        box->button(QMessageBox::Yes)->click();
      else
        shown.accept();
    };
    QDialog dialog;
    if (way == Way::Answered) {
      platform::setDialogAnswerer(platform::Modal::StatusDialog, look);
    } else {
      QTimer::singleShot(0, [&] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) look(*modal);
      });
    }
    if (way == Way::YesNoBox)
      EXPECT_EQ(
          platform::questionBox(nullptr, QStringLiteral("Quillmoss"), QStringLiteral("Stop?")), 6);
    else
      platform::execModal(dialog, platform::Modal::StatusDialog);
    platform::setAnswerer(platform::Modal::StatusDialog, {});
    EXPECT_TRUE(above) << static_cast<int>(way);
  }
}
