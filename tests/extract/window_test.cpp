// The extraction window driven through the scripted fake library: the form,
// the automatic run, the overwrite decisions and the collected status lines.
#include <gtest/gtest.h>

#include <functional>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "accessibility.h"
#include "fake_library.h"
#include "main_logic.h"
#include "message_box.h"
#include "shell.h"
#include "side_files.h"
#include "untConfig.h"
#include "untOverWritePrompt.h"
#include "untStatus.h"
#include "untUnRarDemo.h"
#include "untVxFileLib.h"
#include "warning_catcher.h"

namespace {

const QStringList kOneRun = {QStringLiteral(": Archiv wird geöffnet"),
                             QStringLiteral(": Archiv geöffnet"),
                             QStringLiteral(": Nach Schließen")};

// Copies the window's status lines at the moment it closes, before the window
// discards them.
class CloseWatcher : public QObject {
 public:
  explicit CloseWatcher(TfrmMain& window) : m_window(window) { window.installEventFilter(this); }
  bool closed = false;
  QStringList linesAtClose;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &m_window && event->type() == QEvent::Close) {
      closed = true;
      linesAtClose = m_window.StatusLines();
    }
    return false;
  }

 private:
  TfrmMain& m_window;
};

QString cell(const QTreeView* list, int row, int column) {
  return list->model()->index(row, column).data().toString();
}

QByteArray readAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << qPrintable(path);
  file.write(bytes);
}

QString entries(int count) {
  QString script;
  for (int i = 1; i <= count; ++i)
    script += QStringLiteral("entry name=f%1.txt unp=%2 pack=%3 data=\"content %1\"\n")
                  .arg(i)
                  .arg(i * 10)
                  .arg(i * 3);
  return script;
}

class ExtractionWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fake.usable()) << "the scripted fake library was not built beside the tests";
    ASSERT_TRUE(dir.isValid());
    archive = QDir(dir.path()).filePath(QStringLiteral("backup.rar"));
    writeFile(archive, "not read by the fake");
    platform::setAnswerer(platform::Modal::MessageBox,
                          [this](const platform::Question& r) { boxes.append(r); });
  }
  void TearDown() override {
    platform::clearAnswerers();
    platform::setShellOpenHook({});
  }

  // A window on archivePath (empty: the fixture's archive).
  std::unique_ptr<TfrmMain> makeWindow(const QString& script, const QString& archivePath = {}) {
    const QString error = fake.load(script);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
    auto window = std::make_unique<TfrmMain>(archivePath.isEmpty() ? archive : archivePath);
    // The tests start the run themselves, not one second later.
    window->Timer1()->stop();
    return window;
  }

  QString target(const QString& name) const { return QDir(dir.path()).filePath(name); }

  FakeLibrary fake;
  QTemporaryDir dir;
  QString archive;
  QList<platform::Question> boxes;
};

}  // namespace

TEST_F(ExtractionWindow, FormBuildsWithItsControlsAndComponentSettings) {
  WarningCatcher warnings;
  auto window = makeWindow(entries(1));
  EXPECT_TRUE(warnings.connectionWarnings().isEmpty())
      << qPrintable(warnings.connectionWarnings().join('\n'));

  EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillmoss"));
  EXPECT_EQ(window->width(), 484);
  EXPECT_EQ(window->height(), 23 + 242);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowSystemMenuHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinMaxButtonsHint);
  EXPECT_EQ(window->Timer1()->interval(), 1000);

  auto* bar = window->findChild<QProgressBar*>(QStringLiteral("prgbrUnRar"));
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);
  auto* image = window->findChild<QLabel*>(QStringLiteral("Image1"));
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->pixmap().size(), QSize(484, 242)) << "the built-in banner did not decode";

  auto* list = window->findChild<QTreeView*>(QStringLiteral("lstvwMain"));
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->isHidden());
  ASSERT_EQ(list->model()->columnCount(), 16);
  const QStringList captions = {"FileName", "Directory", "unpacked", "packed",  "Pass",    "Dir",
                                "Prev",     "Next",      "HostOS",   "CRC",     "DicSize", "Time",
                                "Major",    "Minor",     "Method",   "FileAttr"};
  const int widths[] = {100, 150, 60, 60, 40, 30, 35, 35, 50, 55, 40, 50, 40, 40, 50, 50};
  for (int c = 0; c < 16; ++c) {
    EXPECT_EQ(list->model()->headerData(c, Qt::Horizontal).toString(), captions.at(c));
    EXPECT_EQ(list->header()->sectionSize(c), widths[c]) << c;
  }
  EXPECT_TRUE(window->findChild<QWidget*>(QStringLiteral("tlbrMain"))->isHidden());
  EXPECT_TRUE(window->findChild<QWidget*>(QStringLiteral("stbrMain"))->isHidden());
  EXPECT_TRUE(window->findChild<QWidget*>(QStringLiteral("mnuMain"))->isHidden());

  TVxUnRar* component = window->vxUnRar();
  ASSERT_NE(component, nullptr);
  EXPECT_TRUE(component->DllLoaded());
  EXPECT_TRUE(component->CanProgress());
  EXPECT_EQ(component->Mode(), VxRAR_EXTRACT);
  EXPECT_EQ(component->OverrideEvent(), OR_EVENT);
  EXPECT_TRUE(component->PromptForPass());
  EXPECT_TRUE(component->PromptForVolumn());
  EXPECT_FALSE(component->StopProcessing());
  EXPECT_TRUE(component->OnComment && component->OnError && component->OnFileProcessing &&
              component->OnOverride && component->OnProgress && component->OnRarStatus);
  EXPECT_FALSE(component->OnPassword);
  EXPECT_FALSE(component->OnVolChange);
  EXPECT_FALSE(window->ArchiveOpen());
  EXPECT_FALSE(window->Extracting());
}

TEST_F(ExtractionWindow, TimerStartsTheRunOnceAboutASecondAfterCreation) {
  const QString error = fake.load(entries(1));
  ASSERT_TRUE(error.isEmpty()) << qPrintable(error);
  QElapsedTimer sinceCreation;
  sinceCreation.start();
  TfrmMain window(archive);
  CloseWatcher watcher(window);
  EXPECT_TRUE(window.Timer1()->isActive());
  window.show();
  QTest::qWait(500);
  // A loaded machine may oversleep; only a check made well inside the second counts.
  if (sinceCreation.elapsed() < 900) {
    EXPECT_FALSE(watcher.closed) << "the run started before its second was up";
  }
  QTRY_VERIFY_WITH_TIMEOUT(watcher.closed, 5000);
  EXPECT_GE(sinceCreation.elapsed(), 1000);
  EXPECT_FALSE(window.Timer1()->isActive());
  EXPECT_EQ(fake.openModes(), (QVector<int>{0, 1}));
}

TEST_F(ExtractionWindow, ImageClickOpensTheProductPage) {
  auto window = makeWindow(entries(1));
  QList<QUrl> opened;
  platform::setShellOpenHook([&](const QUrl& url) {
    opened.append(url);
    return true;
  });
  window->show();
  QTest::mouseClick(window->findChild<QLabel*>(QStringLiteral("Image1")), Qt::LeftButton);
  ASSERT_EQ(opened.size(), 1);
  EXPECT_EQ(opened.front().path(), QStringLiteral("/software/quillmoss.php"));
}

TEST_F(ExtractionWindow, AutomaticRunListsThenExtractsBesideTheArchiveAndCloses) {
  auto window = makeWindow(entries(7));
  CloseWatcher watcher(*window);
  QList<int> progress;
  QObject::connect(window->findChild<QProgressBar*>(QStringLiteral("prgbrUnRar")),
                   &QProgressBar::valueChanged, [&](int v) { progress.append(v); });
  window->show();
  window->Timer1Timer();

  EXPECT_TRUE(watcher.closed);
  EXPECT_EQ(progress, (QList<int>{14, 28, 42, 57, 71, 85, 100}));
  EXPECT_EQ(window->windowTitle(), QStringLiteral("backup.rar --> ") + dir.path());
  // Listing opens for listing and tests only the first three entries.
  EXPECT_EQ(fake.openModes(), (QVector<int>{0, 1}));
  const QVector<QVector<int>> operations = fake.operationsPerOpen();
  ASSERT_EQ(operations.size(), 2);
  EXPECT_EQ(operations[0], (QVector<int>{1, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(operations[1], QVector<int>(7, 2));
  for (int i = 1; i <= 7; ++i)
    EXPECT_EQ(readAll(target(QStringLiteral("f%1.txt").arg(i))),
              QByteArray("content ") + QByteArray::number(i));
  EXPECT_EQ(watcher.linesAtClose, kOneRun + kOneRun);
  EXPECT_EQ(window->EntryCount(), 7);
  EXPECT_EQ(window->UnpackedTotal(), 280);
  EXPECT_EQ(window->PackedTotal(), 84);
  EXPECT_TRUE(boxes.isEmpty());
}

TEST_F(ExtractionWindow, ListingFillsOneRowPerEntryAndStatusBar) {
  auto window = makeWindow(
      "entry name=docs/readme.txt unp=9 pack=7 flags=0x74 host=3 crc=0xABCD time=0x3A2F5C20 "
      "ver=29 method=0x30 attr=0x21\n"
      "entry name=docs flags=0xE0 attr=0x10 time=0x3A2F0000\n");
  window->Timer1Timer();
  auto* list = window->findChild<QTreeView*>(QStringLiteral("lstvwMain"));
  ASSERT_EQ(list->model()->rowCount(), 2);
  const auto file = [&](int column) { return cell(list, 0, column); };
  const auto folder = [&](int column) { return cell(list, 1, column); };
  EXPECT_EQ(file(0), QStringLiteral("readme.txt"));
  EXPECT_EQ(file(1), QStringLiteral("docs/"));
  EXPECT_EQ(file(2), QStringLiteral("9"));
  EXPECT_EQ(file(3), QStringLiteral("7"));
  EXPECT_EQ(file(4), QStringLiteral("*"));
  EXPECT_EQ(file(5), QString());
  EXPECT_EQ(file(6), QString());
  EXPECT_EQ(file(7), QString());
  EXPECT_EQ(file(8), QStringLiteral("Unix"));
  EXPECT_EQ(file(9), QStringLiteral("ABCD"));
  EXPECT_EQ(file(10), QStringLiteral("524288"));
  const QLocale locale = QLocale::system();
  EXPECT_EQ(file(11), mainlogic::listTimeText(
                          QDateTime(QDate(2009, 1, 15), QTime(11, 33, 0), Qt::UTC), locale));
  EXPECT_EQ(file(12), QStringLiteral("2"));
  EXPECT_EQ(file(13), QStringLiteral("9"));
  EXPECT_EQ(file(14), QStringLiteral("store"));
  EXPECT_EQ(file(15), QStringLiteral("AR"));
  EXPECT_EQ(folder(0), QStringLiteral("docs"));
  EXPECT_EQ(folder(1), QString());
  EXPECT_EQ(folder(5), QStringLiteral("*"));
  EXPECT_EQ(folder(15), QStringLiteral("D"));
  // Midnight: the date alone.
  EXPECT_EQ(folder(11), locale.toString(QDate(2009, 1, 15), QLocale::ShortFormat));
  EXPECT_EQ(window->findChild<QStatusBar*>(QStringLiteral("stbrMain"))->currentMessage(),
            QStringLiteral("  ") + archive);
}

TEST_F(ExtractionWindow, TotalsKeepSigned32BitSums) {
  auto window = makeWindow(
      "entry name=a unp=4000000000 pack=3000000000\n"
      "entry name=b unp=1 pack=2000000000\n");
  window->Timer1Timer();
  EXPECT_EQ(window->EntryCount(), 2);
  EXPECT_EQ(window->UnpackedTotal(), static_cast<std::int32_t>(4000000001u));
  EXPECT_EQ(window->PackedTotal(), static_cast<std::int32_t>(5000000000ull & 0xFFFFFFFFu));
}

TEST_F(ExtractionWindow, EmptyArchiveLeavesTheBarAtZero) {
  auto window = makeWindow(QString());
  QList<int> progress;
  QObject::connect(window->findChild<QProgressBar*>(QStringLiteral("prgbrUnRar")),
                   &QProgressBar::valueChanged, [&](int v) { progress.append(v); });
  window->Timer1Timer();
  EXPECT_EQ(window->EntryCount(), 0);
  EXPECT_TRUE(progress.isEmpty());
  EXPECT_EQ(fake.openModes(), (QVector<int>{0, 1}));
}

TEST_F(ExtractionWindow, ANameWithBlanksIsOneArchive) {
  const QString spaced = QDir(dir.path()).filePath(QStringLiteral("a b.rar"));
  writeFile(spaced, "x");
  auto window = makeWindow(entries(1), spaced);
  QString listingCaption;
  QTimer::singleShot(0, [&] { listingCaption = window->windowTitle(); });
  window->Timer1Timer();
  EXPECT_EQ(listingCaption, QStringLiteral("Quillmoss - a b.rar"));
  EXPECT_EQ(window->vxUnRar()->FileName(), spaced);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("a b.rar --> ") + dir.path());
}

TEST_F(ExtractionWindow, NoFolderPartMeansNoExtraction) {
  auto window = makeWindow(entries(3), QStringLiteral("nowhere-quillmoss-test.rar"));
  CloseWatcher watcher(*window);
  QString shown;
  platform::setDialogAnswerer<TfrmStatus>(platform::Modal::StatusDialog, [&](TfrmStatus& dialog) {
    shown = dialog.mmStatus()->toPlainText();
    dialog.accept();
  });
  window->Timer1Timer();
  EXPECT_TRUE(watcher.closed);
  EXPECT_EQ(fake.openModes(), QVector<int>{0}) << "only the listing pass may run";
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillmoss - nowhere-quillmoss-test.rar"));
  EXPECT_TRUE(boxes.isEmpty());
  EXPECT_EQ(window->AutomaticRunExitCode(), 1) << "nothing was extracted";
  EXPECT_TRUE(shown.startsWith(
      QStringLiteral("The archive's folder could not be found; nothing was extracted.\n\n")))
      << "a failure is never silent: " << qPrintable(shown);
}

// A failed run shows its lines before the window closes and ends the program
// with 1; a clean one shows nothing and ends with 0. The dialog leads with
// what the extraction could not do, each failure with its entry's (or
// volume's) name, then how many entries were not extracted; the gathered
// lines follow. A question answered differently while listing is no failure,
// each question is asked once, and the typed password never shows.
TEST_F(ExtractionWindow, ErrorsAreShownBeforeTheWindowClosesAndSetTheExitCode) {
  const struct {
    const char* script;
    QStringList lead;  // empty: no dialog
    int exitCode;
    int prompts = 0;          // password or volume prompts
    bool noPassword = false;  // the password prompt is cancelled empty
  } cases[] = {
      {"open cmtstate=1 comment=\"first\\nsecond\"\n"
       "entry name=good.txt data=\"ok\"\n"
       "entry name=bad.txt process2=12\n",
       {"Corrupted data! (bad.txt)", "Not extracted: 1 of 2 entries."},
       1},
      {"entry name=clean.txt data=\"ok\"\n", {}, 0},
      // The entries after a damaged one are still extracted.
      {"entry name=a.txt data=\"a\"\nentry name=bad.txt process2=16\n"
       "entry name=c.txt data=\"c\"\nentry name=d.txt process2=19\n",
       {"Error on creating file! (bad.txt)", "Write error! (d.txt)",
        "Not extracted: 2 of 4 entries."},
       1},
      // Failed while listing only: the extraction decides.
      {"entry name=a.txt data=\"a\" process1=22\nentry name=b.txt data=\"b\" process1=12\n", {}, 0},
      // Asked while listing, kept for the extraction; never shown.
      {"entry name=a.txt data=\"a\"\ncallback msg=2\nentry name=bad.txt process2=12\n",
       {"Corrupted data! (bad.txt)", "Not extracted: 1 of 2 entries."},
       1,
       1},
      {"entry name=big.bin arcname=\"/v/a.part1.rar\" flags=0x02\n"
       "callback msg=0 p2=0 name=\"/v/a.part2.rar\"\n",
       {"Volume-Error! (big.bin, volume a.part2.rar)",
        "Not extracted: 1 entry, and any that follow in the archive."},
       1,
       1},
      // No password: asked once, then every encrypted entry said at once.
      {"entry name=a.txt data=\"a\"\ncallback msg=2\nentry name=b.txt data=\"b\"\ncallback msg=2\n"
       "entry name=c.txt data=\"c\"\ncallback msg=2\nentry name=d.txt data=\"d\"\n",
       {"No Password! 3 encrypted entries were not extracted.", "Not extracted: 3 of 4 entries."},
       1,
       1,
       true},
      // A damaged entry of a solid archive: why the ones after it are not extracted.
      {"entry name=a.txt data=\"a\"\nentry name=b.txt flags=0x10 process2=12\n"
       "entry name=c.txt flags=0x10 data=\"c\"\nentry name=d.txt flags=0x10 data=\"d\"\n",
       {"Corrupted data! (b.txt)", "Not extracted: 3 of 4 entries.",
        "2 entries follow a damaged entry of the solid archive and cannot be decoded."},
       1},
  };
  for (const auto& c : cases) {
    auto window = makeWindow(QString::fromUtf8(c.script));
    CloseWatcher watcher(*window);
    QString shown;
    platform::setDialogAnswerer<TfrmStatus>(platform::Modal::StatusDialog, [&](TfrmStatus& dialog) {
      EXPECT_FALSE(watcher.closed) << "the lines are shown before the window closes";
      shown = dialog.mmStatus()->toPlainText();
      dialog.accept();
    });
    int prompts = 0;
    platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& prompt) {
      ++prompts;
      prompt.findChild<QLineEdit*>()->setText(c.noPassword ? QString() : QStringLiteral("hunter2"));
      prompt.accept();
    });
    platform::setDialogAnswerer(platform::Modal::VolumePrompt, [&](QDialog& prompt) {
      ++prompts;
      prompt.reject();
    });
    // The rows share one folder.
    platform::setDialogAnswerer<TfrmOverWrite>(
        platform::Modal::OverwritePrompt, [](TfrmOverWrite& prompt) {
          prompt.findChild<QPushButton*>(QStringLiteral("btnYes"))->click();
        });
    window->Timer1Timer();
    for (const auto kind : {platform::Modal::StatusDialog, platform::Modal::PasswordPrompt,
                            platform::Modal::VolumePrompt, platform::Modal::OverwritePrompt})
      platform::setAnswerer(kind, {});
    EXPECT_TRUE(watcher.closed);
    EXPECT_EQ(
        shown,
        c.lead.isEmpty()
            ? QString()
            : mainlogic::statusDialogLines(c.lead, watcher.linesAtClose).join(QLatin1Char('\n')))
        << c.script;
    EXPECT_FALSE(shown.contains(QStringLiteral("hunter2"))) << c.script;
    EXPECT_EQ(window->AutomaticRunExitCode(), c.exitCode) << c.script;
    EXPECT_EQ(prompts, c.prompts) << c.script;
    EXPECT_TRUE(boxes.isEmpty());
  }
}

// A long first entry: its file exists, and the prompt's answer takes long
// enough for the data callback to report the entry's progress to the window.
const char kLongEntry[] =
    "entry name=f1.txt unp=100 data=\"content 1\"\n"
    "callback msg=1 size=50 op=2\n"
    "callback msg=1 size=50 op=2\n"
    "entry name=f2.txt unp=10 data=\"content 2\"\n";

void overwriteSlowly(std::function<void()> whileAsked = {}) {
  platform::setDialogAnswerer<TfrmOverWrite>(
      platform::Modal::OverwritePrompt, [whileAsked](TfrmOverWrite& prompt) {
        if (whileAsked) whileAsked();
        QTest::qSleep(static_cast<int>(TVxUnRar::kBusyInterval) + 10);
        prompt.findChild<QPushButton*>(QStringLiteral("btnYes"))->click();
      });
}

TEST_F(ExtractionWindow, ALongEntryMovesTheBarThroughItsShare) {
  writeFile(target(QStringLiteral("f1.txt")), "old");
  auto window = makeWindow(QString::fromLatin1(kLongEntry));
  QList<int> progress;
  QObject::connect(window->findChild<QProgressBar*>(QStringLiteral("prgbrUnRar")),
                   &QProgressBar::valueChanged, [&](int v) { progress.append(v); });
  overwriteSlowly();
  window->Timer1Timer();
  // Half of the first entry's share, then the first entry written, then both.
  EXPECT_EQ(progress, (QList<int>{25, 50, 100}));
}

// Without a close box the desktop can still ask. Mid-run that asks whether to
// stop: no goes on; yes ends the run at once, as failed, without more to show.
TEST_F(ExtractionWindow, ACloseRequestDuringALongEntryAsksWhetherToStop) {
  for (const bool stop : {false, true}) {
    writeFile(target(QStringLiteral("f1.txt")), "old");
    QFile::remove(target(QStringLiteral("f2.txt")));
    auto window = makeWindow(QString::fromLatin1(kLongEntry));
    window->show();
    QStringList asked;
    bool visibleAfterRequest = false;
    platform::setAnswerer(platform::Modal::MessageBox, [&](platform::Question& question) {
      asked.append(question.text);
      if (stop) question.result = 6;
    });
    int statusShown = 0;
    platform::setDialogAnswerer<TfrmStatus>(platform::Modal::StatusDialog, [&](TfrmStatus& d) {
      ++statusShown;
      d.accept();
    });
    // Posted while the first entry is asked about; handled while it is written.
    overwriteSlowly([&] {
      QTimer::singleShot(0, window.get(), [&] {
        window->close();
        visibleAfterRequest = window->isVisible();
      });
    });
    window->Timer1Timer();
    EXPECT_EQ(asked.size(), 1) << stop;
    EXPECT_TRUE(visibleAfterRequest) << stop;
    EXPECT_FALSE(window->isVisible()) << "the run's own close still closes it";
    const QVector<QVector<int>> operations = fake.operationsPerOpen();
    ASSERT_EQ(operations.size(), 2);
    EXPECT_EQ(operations[1], (stop ? QVector<int>{2} : QVector<int>{2, 2})) << stop;
    EXPECT_EQ(window->AutomaticRunExitCode(), stop ? 1 : 0);
    EXPECT_EQ(statusShown, 0) << stop;
  }
}

// Names from the archive show on one line, in the list and in the overwrite
// prompt, escaped as the unattended report writes them.
TEST_F(ExtractionWindow, ControlCharactersInNamesShowAsEscapes) {
  writeFile(target(QStringLiteral("red\x1b[31m\nline.txt")), "old");
  auto window = makeWindow(QStringLiteral("entry name=\"red\x1b[31m\\nline.txt\" data=\"new\"\n"));
  QString asked;
  platform::setDialogAnswerer<TfrmOverWrite>(platform::Modal::OverwritePrompt,
                                             [&](TfrmOverWrite& prompt) {
                                               asked = prompt.lblFileName()->text();
                                               prompt.close();
                                             });
  window->Timer1Timer();
  const auto* list = window->findChild<QTreeView*>(QStringLiteral("lstvwMain"));
  EXPECT_EQ(cell(list, 0, 0), QStringLiteral("red\\x1b[31m\\nline.txt"));
  EXPECT_EQ(asked, target(QStringLiteral("red\\x1b[31m\\nline.txt")));
}

// --- overwrite decisions -----------------------------------------------------

namespace {

struct PromptLog {
  QStringList files;
};

void answerWith(PromptLog& log, const char* button) {
  platform::setDialogAnswerer<TfrmOverWrite>(
      platform::Modal::OverwritePrompt, [&log, button](TfrmOverWrite& prompt) {
        EXPECT_EQ(frmOverWrite, &prompt) << "the prompt must be known before it shows";
        log.files.append(prompt.lblFileName()->text());
        if (button)
          prompt.findChild<QPushButton*>(QString::fromLatin1(button))->click();
        else
          prompt.close();
      });
}

}  // namespace

class OverwriteDecision : public ExtractionWindow {
 protected:
  void SetUp() override {
    ExtractionWindow::SetUp();
    for (int i = 1; i <= 4; ++i) writeFile(target(QStringLiteral("f%1.txt").arg(i)), "old");
  }
  QVector<int> extractOperations() const {
    const QVector<QVector<int>> operations = fake.operationsPerOpen();
    return operations.size() == 2 ? operations[1] : QVector<int>{-1};
  }
};

TEST_F(OverwriteDecision, OverwriteAllFilesLastsToTheEndOfTheRun) {
  auto window = makeWindow(entries(5));
  PromptLog log;
  answerWith(log, "btnAlways");
  window->Timer1Timer();
  EXPECT_EQ(log.files, QStringList{target(QStringLiteral("f1.txt"))});
  EXPECT_EQ(extractOperations(), QVector<int>(5, 2));
  for (int i = 1; i <= 4; ++i)
    EXPECT_EQ(readAll(target(QStringLiteral("f%1.txt").arg(i))),
              "content " + QByteArray::number(i));
  EXPECT_EQ(frmOverWrite, nullptr);
}

TEST_F(OverwriteDecision, OverwriteNoFilesKeepsEveryLaterFileWithoutAsking) {
  auto window = makeWindow(entries(5));
  PromptLog log;
  answerWith(log, "btnNever");
  window->Timer1Timer();
  EXPECT_EQ(log.files.size(), 1);
  EXPECT_EQ(extractOperations(), (QVector<int>{0, 0, 0, 0, 2}));
  for (int i = 1; i <= 4; ++i) EXPECT_EQ(readAll(target(QStringLiteral("f%1.txt").arg(i))), "old");
  EXPECT_EQ(readAll(target(QStringLiteral("f5.txt"))), "content 5");
}

TEST_F(OverwriteDecision, YesAndNoDecideOneFileEach) {
  auto window = makeWindow(entries(4));
  int asked = 0;
  platform::setDialogAnswerer<TfrmOverWrite>(
      platform::Modal::OverwritePrompt, [&](TfrmOverWrite& prompt) {
        ++asked;
        prompt
            .findChild<QPushButton*>(asked % 2 ? QStringLiteral("btnYes") : QStringLiteral("btnNo"))
            ->click();
      });
  window->Timer1Timer();
  EXPECT_EQ(asked, 4);
  EXPECT_EQ(extractOperations(), (QVector<int>{2, 0, 2, 0}));
  EXPECT_EQ(readAll(target(QStringLiteral("f1.txt"))), "content 1");
  EXPECT_EQ(readAll(target(QStringLiteral("f2.txt"))), "old");
}

TEST_F(OverwriteDecision, ClosingThePromptKeepsTheFile) {
  auto window = makeWindow(entries(2));
  PromptLog log;
  answerWith(log, nullptr);
  window->Timer1Timer();
  EXPECT_EQ(log.files.size(), 2);
  EXPECT_EQ(extractOperations(), (QVector<int>{0, 0}));
  EXPECT_EQ(readAll(target(QStringLiteral("f1.txt"))), "old");
}

TEST_F(OverwriteDecision, AnswerForAllDoesNotOutliveItsRun) {
  auto window = makeWindow(entries(2));
  PromptLog log;
  answerWith(log, "btnNever");
  window->Timer1Timer();
  EXPECT_EQ(window->vxUnRar()->OverrideEvent(), OR_NEVER);
  // The next run starts asking again.
  platform::setAnswerer(platform::Modal::FolderChooser,
                        [this](platform::Question& question) { question.chosen = dir.path(); });
  window->acExtractExecute();
  EXPECT_EQ(log.files.size(), 2);
}

// --- a run cannot be nested --------------------------------------------------

TEST_F(ExtractionWindow, OpenAndExtractAreRefusedWhileARunIsInProgress) {
  auto window = makeWindow(entries(3));
  int openDialogs = 0;
  int folderDialogs = 0;
  platform::setAnswerer(platform::Modal::OpenChooser, [&](platform::Question& question) {
    ++openDialogs;
    question.chosen = archive;
  });
  platform::setAnswerer(platform::Modal::FolderChooser, [&](platform::Question& question) {
    ++folderDialogs;
    question.chosen = dir.path();
  });
  // Fires from the window's own message handling between entries.
  QTimer::singleShot(0, window.get(), [&] {
    window->acFileOpenExecute();
    window->acExtractExecute();
  });
  window->Timer1Timer();
  EXPECT_EQ(openDialogs, 0);
  EXPECT_EQ(folderDialogs, 0);
  EXPECT_EQ(fake.openModes(), (QVector<int>{0, 1}));
}

// --- what a screen reader meets ----------------------------------------------

// Text drawn letter-spaced, such as "Q u i l l m o s s": a reader spells it.
bool spelledOut(const QString& text) {
  static const QRegularExpression letters(QStringLiteral(R"(^(\S {1,3}){3,}\S$)"));
  return letters.match(text.trimmed()).hasMatch();
}

// Walks an accessibility tree as a screen reader does and says what it would
// stumble on: a control that takes the focus without a name, a hidden widget,
// a text spelled letter by letter.
void walkAccessibility(QAccessibleInterface* node, const QString& path, QStringList& faults) {
  QObject* object = node->object();
  const QString here = path + QLatin1Char('/') +
                       (object ? object->objectName() + QLatin1Char(':') +
                                     QLatin1String(object->metaObject()->className())
                               : node->text(QAccessible::Name));
  const auto* widget = qobject_cast<QWidget*>(object);
  // A stack's pages (a tab widget's) are chosen through the tab bar; Qt's own
  // parts of its controls (a scroll area's bar holders, a tab bar's scroll
  // buttons) are Qt's to show.
  const bool qtPart = widget && (widget->objectName().startsWith(QLatin1String("qt_")) ||
                                 qobject_cast<QTabBar*>(widget->parentWidget()));
  if (widget && widget->isHidden() && !qtPart &&
      !qobject_cast<QStackedWidget*>(widget->parentWidget()))
    faults << here + QStringLiteral(": hidden, yet in the tree");
  // What a user can reach: the keyboard focus, a picture that opens a page,
  // and the progress bar, which readers announce.
  const bool reached = node->state().focusable || (object && object->inherits("ClickLabel")) ||
                       node->role() == QAccessible::ProgressBar;
  const QString name = node->text(QAccessible::Name);
  if (reached && !node->state().invisible && name.trimmed().isEmpty())
    faults << here + QStringLiteral(": reachable, but has no name");
  QStringList texts{name};
  if (QAccessibleTextInterface* text = node->textInterface())
    texts << text->text(0, text->characterCount()).split(QLatin1Char('\n'));
  for (const QString& line : texts)
    if (spelledOut(line)) faults << here + QStringLiteral(": spelled out: ") + line;
  for (int i = 0; i < node->childCount(); ++i)
    if (QAccessibleInterface* child = node->child(i)) walkAccessibility(child, here, faults);
}

// Each window and each dialog of the program as a person meets it (no
// answerer: the real dialog is shown), walked while it is open. Every dialog
// must also belong to the window that opened it.
TEST_F(ExtractionWindow, EveryControlHasANameAndHiddenWidgetsAreLeftOut) {
  platform::leaveHiddenWidgetsOutOfAccessibility();
  platform::setAnswerer(platform::Modal::MessageBox, {});
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(target(QStringLiteral("user"))));
  qputenv("XDG_CONFIG_DIRS", QFile::encodeName(target(QStringLiteral("machine"))));
  instructions::setSideFolderForTests(dir.path() + QLatin1Char('/'));
  writeFile(target(QStringLiteral("f1.txt")), "old");

  QStringList faults;
  QStringList walked;
  QWidget* owner = nullptr;
  QTimer watch;
  watch.setInterval(0);
  QObject::connect(&watch, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) return;
    walked << modal->windowTitle();
    if (!modal->parentWidget() || modal->parentWidget()->window() != owner)
      faults << modal->windowTitle() + QStringLiteral(": belongs to no window of the program");
    walkAccessibility(QAccessible::queryAccessibleInterface(modal), modal->windowTitle(), faults);
    if (auto* dialog = qobject_cast<QDialog*>(modal)) dialog->reject();
  });
  watch.start();

  const struct {
    const char* script;
    std::function<void(TfrmMain&)> open;
    QStringList dialogs;
  } rows[] = {
      {"entry name=f1.txt data=\"new\"\ncallback msg=2\nentry name=bad.txt process2=12\n",
       [](TfrmMain& window) { window.Timer1Timer(); },
       {QStringLiteral("Protected Archive - Enter Password:"), QStringLiteral("Quillmoss"),
        QStringLiteral("Quillmoss Status")}},
      {"entry name=big.bin arcname=\"/v/a.part1.rar\" flags=0x02\n"
       "callback msg=0 p2=0 name=\"/v/a.part2.rar\"\n",
       [](TfrmMain& window) { window.Timer1Timer(); },
       {QStringLiteral("Next Archive:"), QStringLiteral("Quillmoss Status")}},
      {"entry name=f2.txt data=\"b\"\n",
       [](TfrmMain& window) {
         window.acArchiveInfoExecute();
         window.acExtractExecute();
       },
       {QStringLiteral("Archiv-Info"), QStringLiteral(u"Wählen Sie bitte einen Ordner aus ...")}},
  };
  for (const auto& row : rows) {
    auto window = makeWindow(QString::fromUtf8(row.script));
    owner = window.get();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    walkAccessibility(QAccessible::queryAccessibleInterface(window.get()),
                      QStringLiteral("extraction window"), faults);
    walked.clear();
    row.open(*window);
    EXPECT_EQ(walked, row.dialogs) << row.script;
  }
  watch.stop();

  TfrmConfig instructionsWindow(QLocale(QLocale::English));
  instructionsWindow.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&instructionsWindow));
  walkAccessibility(QAccessible::queryAccessibleInterface(&instructionsWindow),
                    QStringLiteral("instructions window"), faults);
  instructions::setSideFolderForTests(QString());
  EXPECT_TRUE(faults.isEmpty()) << qPrintable(faults.join(QLatin1Char('\n')));
}
