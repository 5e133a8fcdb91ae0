#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include "modal.h"
#include "run_fixture.h"

namespace {

QLineEdit* edit(QDialog& d) {
  return d.findChild<QLineEdit*>(QStringLiteral("edtPrompt"));
}
QPushButton* button(QDialog& d, const char* name) {
  return d.findChild<QPushButton*>(QLatin1String(name));
}

}  // namespace

// --- the password message ---------------------------------------------------

TEST_F(RunTest, PasswordFromAHandlerIsHandedOverAndReported) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\ncallback msg=2\n")));
  vx->SetPassword(QStringLiteral("start"));
  QString seen;
  vx->OnPassword = [&](QObject* s, QString& password) {
    EXPECT_EQ(s, vx.get());
    seen = password;
    password = QStringLiteral("from handler");
  };
  vx->SetPromptForPass(true);
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt,
                              [](QDialog&) { ADD_FAILURE() << "the handler takes precedence"; });
  vx->Execute();
  EXPECT_EQ(seen, QStringLiteral("start"));
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(2, UserData=set, P2=128) = 0 P1=\"from handler\""});
  EXPECT_TRUE(events.contains(QStringLiteral("status PASSWORD A password was used")));
  EXPECT_TRUE(events.filter(QStringLiteral("from handler")).isEmpty())
      << "the password itself never reaches a status line";
  EXPECT_EQ(vx->Password(), QStringLiteral("start")) << "the property itself is not changed";
}

TEST_F(RunTest, PasswordWithoutHandlerOrPromptIsReportedMissingAndThePropertyHandedOver) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\ncallback msg=2\n")));
  vx->SetPassword(QStringLiteral("silent"));
  vx->Execute();
  const int error = static_cast<int>(events.indexOf(QStringLiteral("error 0 No Password!")));
  const int status =
      static_cast<int>(events.indexOf(QStringLiteral("status PASSWORD A password was used")));
  ASSERT_GE(error, 0) << events.join('\n').toStdString();
  EXPECT_GT(status, error);
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(2, UserData=set, P2=128) = 0 P1=\"silent\""});

  // An empty password still goes through the same steps.
  events.clear();
  vx->SetPassword(QString());
  vx->Execute();
  EXPECT_TRUE(events.contains(QStringLiteral("error 0 No Password!")));
  EXPECT_TRUE(events.contains(QStringLiteral("status PASSWORD No password was given")));
}

TEST_F(RunTest, APasswordLongerThanTheLibrarysBufferIsCut) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\ncallback msg=2 size=8\n")));
  vx->OnPassword = [](QObject*, QString& p) { p = QStringLiteral("0123456789abcdef"); };
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(2, UserData=set, P2=8) = 0 P1=\"0123456\""})
      << "seven characters and the zero fill the eight bytes; nothing beyond";
  EXPECT_TRUE(events.contains(QStringLiteral("status PASSWORD A password was used")));
}

TEST_F(RunTest, ThePasswordPromptHandsOverItsTextHoweverItCloses) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"a\"\ncallback msg=2\n")));
  vx->SetPromptForPass(true);
  vx->SetPassword(QStringLiteral("ignored by the prompt"));
  int shown = 0;
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& d) {
    ++shown;
    EXPECT_EQ(edit(d)->text(), QString()) << "no password.txt beside the test binary";
    edit(d)->setText(QStringLiteral("typed"));
    button(d, "btnOk")->click();
  });
  vx->Execute();
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(2, UserData=set, P2=128) = 0 P1=\"typed\""});
  vx->ForgetAnswers();
  fake.clearCalls();
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& d) {
    edit(d)->setText(QStringLiteral("still handed over"));
    button(d, "btnCancel")->click();
  });
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(2, UserData=set, P2=128) = 0 P1=\"still handed over\""});
  vx->ForgetAnswers();
  fake.clearCalls();
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt,
                              [&](QDialog& d) { d.reject(); });  // the window's close button
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(2, UserData=set, P2=128) = 0 P1=\"\""})
      << "an empty box hands over an empty password";
  EXPECT_TRUE(calls().contains(
      QStringLiteral("RARProcessFile(#3, 2, DestPath=\"<dir>\", DestName=null) = 22")));
}

// Two passes over one archive (listing, then extracting) put each question
// once: the typed password and the volume answer are handed over again
// without asking. Only a password the library asks for again in the same
// pass, having refused it, is asked anew.
TEST_F(RunTest, EachQuestionIsAskedOnceOverTwoPasses) {
  const struct {
    const char* script;
    platform::Modal kind;
    int askedFirst;   // prompts in the first pass
    int askedSecond;  // in the second: a refused password only
    QString handed;   // the callback line every ask of both passes gives
  } cases[] = {
      {"entry name=\"a\"\ncallback msg=2\nentry name=\"b\"\n", platform::Modal::PasswordPrompt, 1,
       0, "callback(2, UserData=set, P2=128) = 0 P1=\"typed\""},
      // The library asks again in the same pass: it refused the password.
      {"entry name=\"a\"\ncallback msg=2\nentry name=\"b\"\ncallback msg=2\n",
       platform::Modal::PasswordPrompt, 2, 1, "callback(2, UserData=set, P2=128) = 0 P1=\"typed\""},
      {"entry name=\"big\" arcname=\"/v/a.part1.rar\" flags=0x02\n"
       "callback msg=0 p2=0 name=\"/v/a.part2.rar\"\n",
       platform::Modal::VolumePrompt, 1, 0, "callback(0, UserData=set, P2=0) = -1 P1=\"/v/x.rar\""},
  };
  for (const auto& c : cases) {
    ASSERT_NO_FATAL_FAILURE(start(QLatin1String(c.script)));
    vx->SetPromptForPass(true);
    vx->SetPromptForVolumn(true);
    int asked = 0;
    platform::setDialogAnswerer(c.kind, [&](QDialog& d) {
      ++asked;
      edit(d)->setText(c.kind == platform::Modal::PasswordPrompt ? QStringLiteral("typed")
                                                                 : QStringLiteral("/v/x.rar"));
      button(d, c.kind == platform::Modal::PasswordPrompt ? "btnOk" : "btnCancel")->click();
    });
    vx->Execute();
    EXPECT_EQ(asked, c.askedFirst) << c.script;
    const QStringList first = callsStarting(QStringLiteral("callback"));
    fake.clearCalls();
    asked = 0;
    vx->Execute();
    EXPECT_EQ(asked, c.askedSecond) << "the second pass asks no question again: " << c.script;
    EXPECT_EQ(callsStarting(QStringLiteral("callback")), first) << c.script;
    EXPECT_EQ(first.first(), c.handed) << c.script;
    if (c.kind == platform::Modal::VolumePrompt) {
      EXPECT_EQ(vx->MissingVolume(), QStringLiteral("/v/a.part2.rar"));
    }
    // A new archive name is a new run: its questions are asked again.
    vx->SetFileName(dir.filePath(QStringLiteral("other.rar")));
    asked = 0;
    vx->Execute();
    EXPECT_EQ(asked, c.askedFirst) << c.script;
  }
}

// A refused password brings the prompt back once, saying so; Cancel there
// ends the asking for the run over this archive: the remaining encrypted
// entries fail without a prompt, a status line or an error each, and are
// counted together.
TEST_F(RunTest, ARefusedPasswordIsSaidOnceAndCancelEndsTheAsking) {
  ASSERT_NO_FATAL_FAILURE(
      start(QStringLiteral("entry name=a process2=24\ncallback msg=2\n"
                           "entry name=b\ncallback msg=2\nentry name=c\ncallback msg=2\n"
                           "entry name=d\ncallback msg=2\n")));
  vx->SetPromptForPass(true);
  QList<bool> saidWrong;
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& d) {
    const bool wrong = d.findChild<QLabel*>(QStringLiteral("lblWrongPassword")) != nullptr;
    saidWrong << wrong;
    edit(d)->setText(wrong ? QString() : QStringLiteral("typed"));
    button(d, wrong ? "btnCancel" : "btnOk")->click();
  });
  vx->Execute();
  EXPECT_EQ(saidWrong, (QList<bool>{false, true}));
  EXPECT_EQ(events.filter(QStringLiteral("error")), QStringList{"error 24 Wrong Password!"});
  EXPECT_EQ(events.filter(QStringLiteral("status PASSWORD")).size(), 2);
  EXPECT_EQ(vx->EntriesWithoutPassword(), (QStringList{"b", "c", "d"}));
  EXPECT_EQ(vx->EntriesFailed(), 4u);
  // The next pass over the same archive asks nobody.
  saidWrong.clear();
  vx->Execute();
  EXPECT_TRUE(saidWrong.isEmpty());
  EXPECT_EQ(vx->EntriesWithoutPassword(), (QStringList{"a", "b", "c", "d"}));
}

// An entry whose dictionary is beyond the library's limit is asked about
// once per run over the archive, naming it and the memory it needs; No, the
// default, fails it with the reason.
TEST_F(RunTest, ALargeDictionaryIsAskedAboutOnceAndNoFailsTheEntryWithItsReason) {
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral(
      "entry name=big.bin\ncallback msg=5 p1=67108864 p2=4194304\nentry name=small.txt\n")));
  QStringList asked;
  int answer = 7;
  platform::setAnswerer(platform::Modal::MessageBox, [&](platform::Question& q) {
    asked << q.text;
    EXPECT_EQ(q.result, 7) << "No is the default";
    q.result = answer;
  });
  vx->Execute();
  vx->Execute();
  EXPECT_EQ(asked, QStringList{"big.bin needs 64 GB of memory to be extracted, more than the "
                               "4 GB allowed without asking. Extract it?"});
  EXPECT_EQ(
      callsStarting(QStringLiteral("callback")),
      QStringList(2, QStringLiteral("callback(5, UserData=set, P2=4194304, P1=67108864) = 0")));
  EXPECT_EQ(
      events.filter(QStringLiteral("error")),
      QStringList(
          2, QStringLiteral("error 25 Dictionary too large! Needs 64 GB of memory, not allowed")));
  vx->ForgetAnswers();
  fake.clearCalls();
  events.clear();
  answer = 6;
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(5, UserData=set, P2=4194304, P1=67108864) = 1"});
  EXPECT_TRUE(events.filter(QStringLiteral("error")).isEmpty());
}

// --- the next-volume message --------------------------------------------------

namespace {

const char* kVolumeScript =
    "entry name=\"big\" arcname=\"/v/a.part1.rar\" flags=0x02\n"
    "callback msg=0 p2=0 name=\"/v/a.part2.rar\"\n";

}  // namespace

TEST_F(RunTest, VolumePromptAcceptedUnchangedCancels) {
  ASSERT_NO_FATAL_FAILURE(start(QLatin1String(kVolumeScript)));
  vx->SetPromptForVolumn(true);
  QString initial;
  platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& d) {
    initial = edit(d)->text();
    button(d, "btnOk")->click();
  });
  vx->Execute();
  EXPECT_EQ(initial, QStringLiteral("/v/a.part1.rar")) << "the volume read last";
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(0, UserData=set, P2=0) = -1 P1=\"/v/a.part1.rar\""});
  EXPECT_TRUE(events.contains(QStringLiteral("error 15 Volume-Error!")));
}

// The prompt names the volume it misses; its chooser puts the chosen file
// into the edit box.
TEST_F(RunTest, VolumePromptAcceptedWithANewNameGoesOn) {
  ASSERT_NO_FATAL_FAILURE(start(QLatin1String(kVolumeScript)));
  vx->SetPromptForVolumn(true);
  QString missing;
  bool chooserOwnedByThePrompt = false;
  platform::setAnswerer(platform::Modal::OpenChooser, [&](platform::Question& q) {
    chooserOwnedByThePrompt = q.owner && q.dialog && q.dialog->parentWidget() == q.owner &&
                              q.owner->findChild<QLineEdit*>(QStringLiteral("edtPrompt"));
    q.chosen = QStringLiteral("/elsewhere/a.part2.rar");
  });
  platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& d) {
    if (auto* note = d.findChild<QLabel*>(QStringLiteral("lblMissingVolume")))
      missing = note->text();
    button(d, "btnChoose")->click();
    button(d, "btnOk")->click();
  });
  vx->Execute();
  EXPECT_EQ(missing, QStringLiteral("Volume not found: /v/a.part2.rar"));
  EXPECT_TRUE(chooserOwnedByThePrompt);
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(0, UserData=set, P2=0) = 0 P1=\"/elsewhere/a.part2.rar\""});
  EXPECT_TRUE(events.filter(QStringLiteral("error")).isEmpty());
}

TEST_F(RunTest, VolumePromptRefusedCancelsButStillWritesItsText) {
  ASSERT_NO_FATAL_FAILURE(start(QLatin1String(kVolumeScript)));
  vx->SetPromptForVolumn(true);
  platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& d) {
    edit(d)->setText(QStringLiteral("/x/changed.rar"));
    button(d, "btnCancel")->click();
  });
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(0, UserData=set, P2=0) = -1 P1=\"/x/changed.rar\""});
  vx->ForgetAnswers();
  fake.clearCalls();
  platform::setDialogAnswerer(platform::Modal::VolumePrompt,
                              [&](QDialog& d) { d.reject(); });  // closed by the window's button
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(0, UserData=set, P2=0) = -1 P1=\"/v/a.part1.rar\""});
}

TEST_F(RunTest, VolumePromptEmptiedCancels) {
  ASSERT_NO_FATAL_FAILURE(start(QLatin1String(kVolumeScript)));
  vx->SetPromptForVolumn(true);
  platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& d) {
    edit(d)->clear();
    button(d, "btnOk")->click();
  });
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(0, UserData=set, P2=0) = -1 P1=\"\""});
}

TEST_F(RunTest, AVolumeHandlerTakesPrecedenceAndMayRewriteTheName) {
  ASSERT_NO_FATAL_FAILURE(start(QLatin1String(kVolumeScript)));
  vx->SetPromptForVolumn(true);
  platform::setDialogAnswerer(platform::Modal::VolumePrompt,
                              [](QDialog&) { ADD_FAILURE() << "the handler takes precedence"; });
  int mode = -1;
  vx->OnVolChange = [&](QObject*, char* name, int m) {
    mode = m;
    EXPECT_STREQ(name, "/v/a.part2.rar");
    std::strcpy(name, "/w/b.rar");
  };
  vx->Execute();
  EXPECT_EQ(mode, 0);
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(0, UserData=set, P2=0) = 0 P1=\"/w/b.rar\""});
  fake.clearCalls();
  vx->OnVolChange = [&](QObject*, char* name, int) { name[0] = '\0'; };
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            QStringList{"callback(0, UserData=set, P2=0) = -1 P1=\"\""});
}

TEST_F(RunTest, VolumeAskedWithoutHandlerOrPromptGoesOnUnchanged_AndANoticeIsAnswered0) {
  ASSERT_NO_FATAL_FAILURE(start(QString::fromLatin1(kVolumeScript) +
                                QStringLiteral("callback msg=0 p2=1 name=\"/v/a.part2.rar\"\n")));
  vx->SetPromptForVolumn(true);
  int shown = 0;
  platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& d) {
    ++shown;
    edit(d)->setText(QStringLiteral("/v/new.rar"));
    button(d, "btnOk")->click();
  });
  vx->Execute();
  EXPECT_EQ(shown, 1) << "a notice never shows the prompt";
  EXPECT_EQ(callsStarting(QStringLiteral("callback(0, UserData=set, P2=1)")),
            QStringList{"callback(0, UserData=set, P2=1) = 0 P1=\"/v/a.part2.rar\""});
  vx->SetPromptForVolumn(false);
  fake.clearCalls();
  vx->Execute();
  EXPECT_EQ(callsStarting(QStringLiteral("callback")),
            (QStringList{"callback(0, UserData=set, P2=0) = 0 P1=\"/v/a.part2.rar\"",
                         "callback(0, UserData=set, P2=1) = 0 P1=\"/v/a.part2.rar\""}));
}

TEST_F(RunTest, AVolumeNameLongerThanTheTypingLimitIsKeptWhole) {
  const QString longName =
      QStringLiteral("/v/") + QString(300, QLatin1Char('n')) + QStringLiteral(".rar");
  ASSERT_NO_FATAL_FAILURE(start(QStringLiteral("entry name=\"big\" arcname=\"%1\"\n"
                                               "callback msg=0 p2=0 name=\"x\"\n")
                                    .arg(longName)));
  vx->SetPromptForVolumn(true);
  QString initial;
  platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& d) {
    initial = edit(d)->text();
    button(d, "btnOk")->click();
  });
  vx->Execute();
  EXPECT_EQ(initial, longName);
  EXPECT_EQ(callsStarting(QStringLiteral("callback")).value(0).section(QLatin1Char(' '), 4, 5),
            QStringLiteral("-1 P1=\"%1\"").arg(longName))
      << "an unchanged long name must still count as unchanged";
}

// --- the dialogs themselves -----------------------------------------------------

TEST(Prompts, LayoutCaptionsAndMasking) {
  untUnRar::SetUnRarLibraryPath(QStringLiteral("/nonexistent/libunrar.so"));
  TVxUnRar vx;
  untUnRar::SetUnRarLibraryPath(QString());
  QString caption;
  QSize size;
  bool masked = false;
  int maxLength = 0;
  QString okText, cancelText;
  bool okDefault = false;
  QRect editGeometry, okGeometry, cancelGeometry, chooseGeometry;
  auto inspect = [&](QDialog& d) {
    caption = d.windowTitle();
    size = d.size();
    masked = edit(d)->echoMode() == QLineEdit::Password;
    maxLength = edit(d)->maxLength();
    okText = button(d, "btnOk")->text();
    cancelText = button(d, "btnCancel")->text();
    okDefault = button(d, "btnOk")->isDefault();
    editGeometry = edit(d)->geometry();
    okGeometry = button(d, "btnOk")->geometry();
    cancelGeometry = button(d, "btnCancel")->geometry();
    chooseGeometry = button(d, "btnChoose") ? button(d, "btnChoose")->geometry() : QRect();
    button(d, "btnOk")->click();
  };
  // The whole caption fits the title bar, measured bold as title bars draw
  // it, with room for three of the bar's buttons; the fields keep their
  // margins at the right edge, the volume's edit box leaving room for its
  // chooser.
  const auto expectLayout = [&](int designWidth, int chooserRoom) {
    QFont bold = QApplication::font();
    bold.setBold(true);
    const int titleBar = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
    EXPECT_GE(size.width(), QFontMetrics(bold).horizontalAdvance(caption) + 3 * titleBar);
    EXPECT_GE(size.width(), designWidth);
    EXPECT_EQ(size.height(), 69);
    const int w = size.width();
    EXPECT_EQ(editGeometry, QRect(8, 8, w - 15 - chooserRoom, 21));
    EXPECT_EQ(okGeometry, QRect(w - 161, 37, 75, 25));
    EXPECT_EQ(cancelGeometry, QRect(w - 81, 37, 75, 25));
  };
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, inspect);
  QString password;
  vx.PromptPassword(password);
  platform::setAnswerer(platform::Modal::PasswordPrompt, {});
  EXPECT_EQ(caption, QStringLiteral("Protected Archive - Enter Password:"));
  expectLayout(268, 0);
  EXPECT_FALSE(chooseGeometry.isValid()) << "no chooser for a password";
  EXPECT_TRUE(masked);
  EXPECT_EQ(maxLength, 120);
  EXPECT_EQ(okText, QStringLiteral("OK"));
  EXPECT_EQ(cancelText, QStringLiteral("Cancel"));
  EXPECT_TRUE(okDefault);

  platform::setDialogAnswerer(platform::Modal::VolumePrompt, inspect);
  char buffer[1024] = "x";
  EXPECT_TRUE(vx.PromptNextVolume(QStringLiteral("/v/a.rar"), buffer, sizeof buffer));
  platform::setAnswerer(platform::Modal::VolumePrompt, {});
  EXPECT_EQ(caption, QStringLiteral("Next Archive:"));
  expectLayout(268, 81);
  EXPECT_EQ(chooseGeometry, QRect(size.width() - 82, 6, 75, 25));
  EXPECT_EQ(size.width(), 268 + 81)
      << "a short caption keeps the design width, with room for the chooser";
  EXPECT_FALSE(masked);
  EXPECT_STREQ(buffer, "/v/a.rar");
}

TEST(Prompts, ShownForRealTheyTakeTypingUpTo120AndIgnoreEscape) {
  untUnRar::SetUnRarLibraryPath(QStringLiteral("/nonexistent/libunrar.so"));
  TVxUnRar vx;
  untUnRar::SetUnRarLibraryPath(QString());
  int escapeResult = -1;
  bool stillOpenAfterEscape = false;
  // Runs inside the modal loop of the real dialog.
  QTimer::singleShot(0, [&] {
    auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!d) {
      ADD_FAILURE() << "no modal prompt";
      return;
    }
    QTest::keyClicks(edit(*d), QString(130, QLatin1Char('k')));
    QTest::keyClick(d, Qt::Key_Escape);
    stillOpenAfterEscape = d->isVisible();
    escapeResult = d->result();
    QTest::keyClick(edit(*d), Qt::Key_Return);  // the default button
    if (d->isVisible()) d->done(2);
  });
  QString password = QStringLiteral("before");
  vx.PromptPassword(password);
  EXPECT_TRUE(stillOpenAfterEscape) << "Escape must not cancel";
  EXPECT_EQ(password, QString(120, QLatin1Char('k')));
  (void)escapeResult;
}
