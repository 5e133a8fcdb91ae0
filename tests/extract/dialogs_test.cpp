// The overwrite prompt and the status dialog: layout, answers, keys, widening.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include "modal.h"
#include "modal_answer.h"
#include "untOverWritePrompt.h"
#include "untStatus.h"
#include "warning_catcher.h"

namespace {

// Shows the prompt the way the extraction window does: stored in frmOverWrite first.
struct PromptScope {
  PromptScope() : prompt(new TfrmOverWrite(nullptr)) { frmOverWrite = prompt.get(); }
  ~PromptScope() {
    frmOverWrite = nullptr;
    platform::setAnswerer(platform::Modal::OverwritePrompt, {});
  }
  std::unique_ptr<TfrmOverWrite> prompt;
};

QPushButton* button(QWidget& form, const char* name) {
  auto* found = form.findChild<QPushButton*>(QString::fromLatin1(name));
  EXPECT_NE(found, nullptr) << name;
  return found;
}

int answerByClicking(const char* name) {
  PromptScope scope;
  scope.prompt->lblFileName()->setText(QStringLiteral("/tmp/x"));
  platform::setDialogAnswerer<TfrmOverWrite>(
      platform::Modal::OverwritePrompt, [name](TfrmOverWrite& p) {
        if (QPushButton* b = p.findChild<QPushButton*>(QString::fromLatin1(name))) b->click();
      });
  return ShowOverWritePrompt(*scope.prompt);
}

}  // namespace

TEST(OverWritePrompt, BuildsWithEveryConnectionBound) {
  WarningCatcher warnings;
  PromptScope scope;
  EXPECT_TRUE(warnings.connectionWarnings().isEmpty())
      << qPrintable(warnings.connectionWarnings().join('\n'));
  TfrmOverWrite& p = *scope.prompt;
  EXPECT_EQ(p.windowTitle(), QStringLiteral("Quillmoss"));
  EXPECT_EQ(p.size(), QSize(592, 143));
  EXPECT_EQ(p.findChild<QLabel*>("Label1")->text(), QStringLiteral("The file"));
  EXPECT_EQ(p.findChild<QLabel*>("Label2")->text(), QStringLiteral("-->"));
  EXPECT_EQ(p.findChild<QLabel*>("Label3")->text(),
            QStringLiteral("already exists. Do you want to overwrite it?"));
  EXPECT_EQ(p.lblFileName()->text(), QString());
  EXPECT_EQ(p.lblFileName()->y(), 28);
  EXPECT_GE(p.lblFileName()->x(), 25) << "moved right only as far as the arrow needs";
  const std::tuple<const char*, const char*, QRect> buttons[] = {
      {"btnYes", "Yes", QRect(214, 110, 75, 25)},
      {"btnNo", "No", QRect(294, 110, 75, 25)},
      {"btnAlways", "Overwrite all files!", QRect(384, 110, 98, 25)},
      {"btnNever", "Overwrite no files!", QRect(488, 110, 98, 25)}};
  for (const auto& [name, text, geometry] : buttons) {
    QPushButton* b = button(p, name);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->text(), QString::fromLatin1(text));
    // A caption wider than its design width makes the button grow leftwards.
    EXPECT_EQ(b->y(), geometry.y()) << name;
    EXPECT_EQ(b->height(), geometry.height()) << name;
    EXPECT_GE(b->width(), geometry.width()) << name;
    EXPECT_FALSE(b->isDefault()) << name;
  }
  // Tab order: Yes, No, Always, Never.
  EXPECT_EQ(button(p, "btnYes")->nextInFocusChain(), button(p, "btnNo"));
  EXPECT_EQ(button(p, "btnNo")->nextInFocusChain(), button(p, "btnAlways"));
  EXPECT_EQ(button(p, "btnAlways")->nextInFocusChain(), button(p, "btnNever"));
  EXPECT_TRUE(warnings.connectionWarnings().isEmpty());
}

TEST(OverWritePrompt, EveryCaptionFitsAndTheRowKeepsItsRightEdgeAndGaps) {
  PromptScope scope;
  TfrmOverWrite& p = *scope.prompt;
  const char* const names[] = {"btnYes", "btnNo", "btnAlways", "btnNever"};
  const int designWidths[] = {75, 75, 98, 98};
  const int designGaps[] = {5, 15, 6};
  QPushButton* row[4] = {};
  for (int i = 0; i < 4; ++i) {
    row[i] = button(p, names[i]);
    ASSERT_NE(row[i], nullptr);
    const int captionWidth = row[i]->fontMetrics().horizontalAdvance(row[i]->text());
    const int margin = row[i]->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, row[i]);
    EXPECT_GE(row[i]->width(), captionWidth + 2 * margin)
        << names[i] << " is " << row[i]->width() << " wide, its caption " << captionWidth;
    // A caption that fits keeps the design width.
    if (captionWidth + 2 * margin + 8 <= designWidths[i]) {
      EXPECT_EQ(row[i]->width(), designWidths[i]) << names[i];
    }
  }
  EXPECT_EQ(row[3]->geometry().right(), 488 + 98 - 1);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(row[i + 1]->x() - row[i]->geometry().right() - 1, designGaps[i]) << names[i];
  EXPECT_GE(row[0]->x(), 9) << "the row must stay inside the dialog";
}

TEST(OverWritePrompt, ArrowShowsWholeAndTheNameStartsRightOfIt) {
  PromptScope scope;
  TfrmOverWrite& p = *scope.prompt;
  const QLabel* arrow = p.findChild<QLabel*>("Label2");
  ASSERT_NE(arrow, nullptr);
  const QFontMetrics metrics = arrow->fontMetrics();
  EXPECT_GE(arrow->width(), metrics.horizontalAdvance(arrow->text()))
      << "the arrow is " << arrow->width() << " wide";
  EXPECT_GE(arrow->height(), metrics.height()) << "the arrow is " << arrow->height() << " high";
  EXPECT_GE(p.lblFileName()->x(), arrow->geometry().right() + 1);
  // The arrow and the name share a line: their texts start at the same height.
  EXPECT_EQ(arrow->y() + (arrow->height() - metrics.height()) / 2, p.lblFileName()->y() - 1);
}

TEST(OverWritePrompt, EachButtonGivesItsModalResult) {
  EXPECT_EQ(answerByClicking("btnYes"), 6);
  EXPECT_EQ(answerByClicking("btnNo"), 7);
  EXPECT_EQ(answerByClicking("btnAlways"), 10);
  EXPECT_EQ(answerByClicking("btnNever"), 9);
}

TEST(OverWritePrompt, CloseBoxGivesCancelAndEscapeDoesNothing) {
  PromptScope scope;
  bool stillOpenAfterEscape = false;
  platform::setDialogAnswerer<TfrmOverWrite>(platform::Modal::OverwritePrompt,
                                             [&](TfrmOverWrite& p) {
                                               QTest::keyClick(&p, Qt::Key_Escape);
                                               stillOpenAfterEscape = p.isVisible();
                                               p.close();
                                             });
  EXPECT_EQ(ShowOverWritePrompt(*scope.prompt), 2);
  EXPECT_TRUE(stillOpenAfterEscape);
}

TEST(OverWritePrompt, EnterPressesTheFocusedButtonYesFirst) {
  PromptScope scope;
  platform::setDialogAnswerer<TfrmOverWrite>(
      platform::Modal::OverwritePrompt, [](TfrmOverWrite& p) {
        p.activateWindow();
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &p,
                        Qt::Key_Return);
      });
  EXPECT_EQ(ShowOverWritePrompt(*scope.prompt), 6);
}

TEST(OverWritePrompt, RealModalLoopAnswersWithButton) {
  PromptScope scope;
  answerNextModal([](QWidget& modal) {
    if (auto* b = modal.findChild<QPushButton*>(QStringLiteral("btnNever")))
      b->click();
    else
      modal.close();
  });
  EXPECT_EQ(ShowOverWritePrompt(*scope.prompt), 9);
}

TEST(OverWritePrompt, ShortPathKeepsDesignWidth) {
  PromptScope scope;
  scope.prompt->lblFileName()->setText(QStringLiteral("/tmp/a.txt"));
  int width = 0;
  platform::setDialogAnswerer<TfrmOverWrite>(platform::Modal::OverwritePrompt,
                                             [&](TfrmOverWrite& p) {
                                               width = p.width();
                                               p.close();
                                             });
  ShowOverWritePrompt(*scope.prompt);
  EXPECT_EQ(width, 592);
}

// 50 pixels for a name that starts at its design place (25); the arrow may
// push it right, and the edge moves with it. The name is shown whole.
TEST(OverWritePrompt, LongPathWidensToTextPlus50AndIsCentred) {
  PromptScope scope;
  const int screenWidth = scope.prompt->screen()->geometry().width();
  const QFontMetrics metrics = scope.prompt->lblFileName()->fontMetrics();
  QString path = QStringLiteral("/srv/");
  while (metrics.horizontalAdvance(path) + 50 <= 700) path += QLatin1Char('w');
  scope.prompt->lblFileName()->setText(path);
  const int textWidth = metrics.horizontalAdvance(path);
  ASSERT_GT(textWidth + 50, 592) << "the path must be wider than the dialog";
  ASSERT_LT(textWidth + 50, screenWidth) << "the path must fit the screen";
  const int nameShift = scope.prompt->lblFileName()->x() - 25;
  int width = 0;
  QPoint centre;
  QString shown;
  platform::setDialogAnswerer<TfrmOverWrite>(platform::Modal::OverwritePrompt,
                                             [&](TfrmOverWrite& p) {
                                               width = p.width();
                                               centre = p.geometry().center();
                                               shown = p.lblFileName()->text();
                                               p.close();
                                             });
  ShowOverWritePrompt(*scope.prompt);
  EXPECT_EQ(width, textWidth + 50 + nameShift);
  EXPECT_EQ(shown, path);
  const QPoint screenCentre = scope.prompt->screen()->geometry().center();
  // Centred at the final width: placed at the design width it would be 50 pixels off.
  EXPECT_LE(std::abs(centre.x() - screenCentre.x()), 3);
}

// Wider than the screen: the dialog stays on it, its buttons at its right
// edge, and the name loses its middle, kept whole for whoever answers.
TEST(OverWritePrompt, PathWiderThanScreenIsShortenedInTheMiddleAndFitsTheScreen) {
  PromptScope scope;
  const int screenWidth = scope.prompt->screen()->availableGeometry().width();
  QString path = QStringLiteral("/srv/");
  while (scope.prompt->lblFileName()->fontMetrics().horizontalAdvance(path) < screenWidth + 100)
    path += QStringLiteral("long-folder-name/");
  path += QStringLiteral("end.txt");
  scope.prompt->lblFileName()->setText(path);
  int width = 0, clientWidth = 0;
  QString shown, whole;
  QRect name, never;
  platform::setDialogAnswerer<TfrmOverWrite>(platform::Modal::OverwritePrompt,
                                             [&](TfrmOverWrite& p) {
                                               width = p.frameGeometry().width();
                                               clientWidth = p.width();
                                               shown = p.lblFileName()->text();
                                               whole = p.fileName();
                                               name = p.lblFileName()->geometry();
                                               never = button(p, "btnNever")->geometry();
                                               p.close();
                                             });
  ShowOverWritePrompt(*scope.prompt);
  // The frame is the desktop's, unknown before the first show: 10 pixels are left for it.
  EXPECT_EQ(clientWidth, screenWidth - 10);
  EXPECT_LE(width, screenWidth);
  EXPECT_EQ(whole, path);
  EXPECT_TRUE(shown.startsWith(QStringLiteral("/srv/long-folder-name/"))) << qPrintable(shown);
  EXPECT_TRUE(shown.endsWith(QStringLiteral("/end.txt"))) << qPrintable(shown);
  EXPECT_TRUE(shown.contains(QChar(0x2026))) << qPrintable(shown);
  EXPECT_LE(name.right(), clientWidth);
  EXPECT_EQ(never.right(), clientWidth - 7) << "the buttons keep their place at the right edge";
}

TEST(OverWritePrompt, NeverNarrowerThanDesign) {
  PromptScope scope;
  scope.prompt->lblFileName()->setText(QString(3, QLatin1Char('x')));
  platform::setDialogAnswerer<TfrmOverWrite>(platform::Modal::OverwritePrompt,
                                             [](TfrmOverWrite& p) { p.close(); });
  ShowOverWritePrompt(*scope.prompt);
  EXPECT_EQ(scope.prompt->width(), 592);
}

TEST(StatusDialog, BuildsWithEveryConnectionBound) {
  WarningCatcher warnings;
  TfrmStatus dialog;
  EXPECT_TRUE(warnings.connectionWarnings().isEmpty())
      << qPrintable(warnings.connectionWarnings().join('\n'));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Quillmoss Status"));
  EXPECT_EQ(dialog.size(), QSize(273, 194));
  auto* ok = dialog.findChild<QPushButton*>(QStringLiteral("Button1"));
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), QStringLiteral("Ok"));
  auto* panel = dialog.findChild<QWidget*>(QStringLiteral("Panel1"));
  ASSERT_NE(panel, nullptr);
  dialog.show();
  EXPECT_EQ(panel->height(), 32);
  EXPECT_EQ(panel->width(), 273);
  EXPECT_EQ(ok->geometry(), QRect(102, 5, 75, 25));
  EXPECT_EQ(dialog.mmStatus()->geometry().bottom() + 1, panel->geometry().top());
  EXPECT_FALSE(dialog.mmStatus()->isReadOnly());
  EXPECT_EQ(dialog.mmStatus()->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(dialog.mmStatus()->lineWrapMode(), QPlainTextEdit::WidgetWidth)
      << "a long line wraps instead of running out of sight";
  // Made larger for a long list, the text takes the room and Ok stays in the middle.
  dialog.resize(573, 394);
  QApplication::processEvents();
  EXPECT_EQ(dialog.size(), QSize(573, 394));
  EXPECT_EQ(dialog.mmStatus()->width(), 573);
  EXPECT_EQ(ok->geometry(), QRect(252, 5, 75, 25));
  dialog.close();
}

TEST(StatusDialog, OkClosesWithCancelResult) {
  TfrmStatus dialog;
  platform::setDialogAnswerer<TfrmStatus>(platform::Modal::StatusDialog, [](TfrmStatus& d) {
    d.findChild<QPushButton*>(QStringLiteral("Button1"))->click();
  });
  const int result = ShowStatusDialog(dialog);
  platform::setAnswerer(platform::Modal::StatusDialog, {});
  EXPECT_EQ(result, 2);
  EXPECT_FALSE(dialog.isVisible());
}

TEST(StatusDialog, EnterInTheTextStartsALineAndEscapeClosesAsTheCloseBoxDoes) {
  TfrmStatus dialog;
  dialog.mmStatus()->setPlainText(QStringLiteral("one"));
  bool openAfterEscape = true;
  QString textAfterEnter;
  platform::setDialogAnswerer<TfrmStatus>(platform::Modal::StatusDialog, [&](TfrmStatus& d) {
    d.mmStatus()->setFocus();
    d.mmStatus()->moveCursor(QTextCursor::End);
    QTest::keyClick(d.mmStatus(), Qt::Key_Return);
    QTest::keyClicks(d.mmStatus(), QStringLiteral("two"));
    textAfterEnter = d.mmStatus()->toPlainText();
    QTest::keyClick(d.mmStatus(), Qt::Key_Escape);
    openAfterEscape = d.isVisible();
  });
  EXPECT_EQ(ShowStatusDialog(dialog), 2);
  platform::setAnswerer(platform::Modal::StatusDialog, {});
  EXPECT_FALSE(openAfterEscape);
  EXPECT_EQ(textAfterEnter, QStringLiteral("one\ntwo"));
}

TEST(StatusDialog, ControlCharactersInALineShowAsEscapes) {
  TfrmStatus dialog;
  dialog.setLines({QStringLiteral("Fehler: bad\x1b[2J.txt"), QStringLiteral("two\nlines")});
  EXPECT_EQ(dialog.mmStatus()->toPlainText(),
            QStringLiteral("Fehler: bad\\x1b[2J.txt\ntwo\\nlines"));
}
