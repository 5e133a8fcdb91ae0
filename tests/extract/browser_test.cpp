// The hidden archive browser: commands by action name and shortcut key, the
// enabling rule, archive and library information, status lines and sorting.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "fake_library.h"
#include "message_box.h"
#include "shell.h"
#include "untStatus.h"
#include "untUnRarDemo.h"
#include "untVxFileLib.h"
#include "warning_catcher.h"

namespace {

class Browser : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fake.usable()) << "the scripted fake library was not built beside the tests";
    ASSERT_TRUE(dir.isValid());
    archive = QDir(dir.path()).filePath(QStringLiteral("first.rar"));
    QFile(archive).open(QIODevice::WriteOnly);
    platform::setAnswerer(platform::Modal::OpenChooser, [this](platform::Question& question) {
      ++openDialogs;
      openDialogFolder = question.dialogAs<QFileDialog>().directory().absolutePath();
      question.chosen = nextOpen;
    });
    platform::setAnswerer(platform::Modal::FolderChooser, [this](platform::Question& question) {
      ++folderDialogs;
      folderRequest = question;
      question.chosen = nextFolder;
    });
    platform::setAnswerer(platform::Modal::MessageBox,
                          [this](const platform::Question& box) { boxes.append(box); });
    platform::setDialogAnswerer<TfrmStatus>(platform::Modal::StatusDialog, [this](TfrmStatus& d) {
      statusTexts.append(d.mmStatus()->toPlainText());
      d.close();
    });
  }
  void TearDown() override { platform::clearAnswerers(); }

  std::unique_ptr<TfrmMain> makeWindow(const QString& script, const QString& archivePath = {}) {
    load(script);
    auto window = std::make_unique<TfrmMain>(archivePath);
    window->Timer1()->stop();
    return window;
  }
  void load(const QString& script) {
    const QString error = fake.load(script);
    EXPECT_TRUE(error.isEmpty()) << qPrintable(error);
  }
  static QAction* action(TfrmMain& window, const char* name) {
    auto* found = window.findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
  }
  static void showActive(TfrmMain& window) {
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  }
  // Lets the window go idle, so the enabling rule runs.
  // (a blocking event loop: only a loop that waits reports idleness).
  static void idle() {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
  }

  FakeLibrary fake;
  QTemporaryDir dir;
  QString archive;
  QString nextOpen;
  QString nextFolder;
  int openDialogs = 0;
  QString openDialogFolder;
  int folderDialogs = 0;
  platform::Question folderRequest;
  QList<platform::Question> boxes;
  QStringList statusTexts;
};

QString entryLines(const QList<int>& sizes) {
  QString script;
  int n = 0;
  for (int size : sizes)
    script += QStringLiteral("entry name=e%1.txt unp=%2 pack=%3 data=\"entry %1\"\n")
                  .arg(++n)
                  .arg(size)
                  .arg(size / 2);
  return script;
}

}  // namespace

TEST_F(Browser, EveryActionAndTheImageAreBoundToTheirHandlers) {
  WarningCatcher warnings;
  auto window = makeWindow(entryLines({1, 2}));
  QList<QUrl> opened;
  platform::setShellOpenHook([&](const QUrl& u) {
    opened << u;
    return true;
  });
  nextOpen = archive;
  nextFolder = dir.path();
  action(*window, "acFileOpen")->trigger();
  EXPECT_EQ(openDialogs, 1);
  EXPECT_TRUE(window->ArchiveOpen());
  idle();
  action(*window, "acArchiveInfo")->trigger();
  action(*window, "acDllInfo")->trigger();
  EXPECT_EQ(boxes.size(), 2);
  action(*window, "acStatusInfo")->trigger();
  EXPECT_EQ(statusTexts.size(), 1);
  action(*window, "acExtract")->trigger();
  EXPECT_EQ(folderDialogs, 1);
  action(*window, "acStop")->trigger();
  EXPECT_TRUE(window->vxUnRar()->StopProcessing());
  action(*window, "acFileClose")->trigger();
  EXPECT_FALSE(window->ArchiveOpen());
  window->findChild<QLabel*>(QStringLiteral("Image1"))->show();
  window->show();
  QTest::mouseClick(window->findChild<QLabel*>(QStringLiteral("Image1")), Qt::LeftButton);
  EXPECT_EQ(opened.size(), 1);
  action(*window, "acClose")->trigger();
  EXPECT_FALSE(window->isVisible());
  platform::setShellOpenHook({});
  EXPECT_TRUE(warnings.connectionWarnings().isEmpty())
      << qPrintable(warnings.connectionWarnings().join('\n'));
}

TEST_F(Browser, ActionsCarryTheirCaptionsHintsShortcutsAndLiveOnTheWindow) {
  auto window = makeWindow(QString());
  struct Expected {
    const char* name;
    QString caption;
    QString hint;
    QKeySequence shortcut;
    bool hasIcon;
  };
  const Expected expected[] = {
      {"acFileOpen", QStringLiteral("Ö&ffnen"), QStringLiteral("Rar-Archive öffnen"),
       QKeySequence(QStringLiteral("Ctrl+O")), true},
      {"acFileClose", QStringLiteral("&Schließen"), QStringLiteral("Rar-Archive schließen"),
       QKeySequence(QStringLiteral("Ctrl+S")), true},
      {"acClose", QStringLiteral("&Beenden"), QStringLiteral("Vx UnRar beenden"), QKeySequence(),
       false},
      {"acExtract", QStringLiteral("&Entpacken"), QStringLiteral("Entpacken"),
       QKeySequence(QStringLiteral("Ctrl+E")), true},
      {"acArchiveInfo", QStringLiteral("&Archive-Info"), QStringLiteral("Info zum Archiv"),
       QKeySequence(QStringLiteral("Ctrl+A")), true},
      {"acDllInfo", QStringLiteral("&UnRar-Dll-Info"), QStringLiteral("Info zur UnRar.dll"),
       QKeySequence(), false},
      {"acStatusInfo", QStringLiteral("&Status-Info"),
       QStringLiteral("Status-Info zum letzten Entpacken"), QKeySequence(), true},
      {"acStop", QStringLiteral("Entpacken stoppen"), QStringLiteral("Entpacken stoppen"),
       QKeySequence(), true},
  };
  ASSERT_EQ(window->imglstMain().size(), 6);
  for (const Expected& e : expected) {
    QAction* a = action(*window, e.name);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->text(), e.caption) << e.name;
    EXPECT_EQ(a->toolTip(), e.hint) << e.name;
    EXPECT_EQ(a->shortcut(), e.shortcut) << e.name;
    EXPECT_EQ(!a->icon().isNull(), e.hasIcon) << e.name;
    EXPECT_TRUE(window->actions().contains(a)) << e.name << " must live on the window";
    EXPECT_EQ(a->actionGroup(), window->acListMain()) << e.name;
  }
  // The hidden menu and toolbar, in their order (separators as empty names).
  const auto names = [](const QList<QAction*>& actions) {
    QStringList out;
    for (const QAction* a : actions) out << (a->isSeparator() ? QString() : a->objectName());
    return out;
  };
  const auto* toolbar = window->findChild<QWidget*>(QStringLiteral("tlbrMain"));
  EXPECT_EQ(names(toolbar->actions()),
            (QStringList{"acFileOpen", "acFileClose", "", "acArchiveInfo", "acStatusInfo", "",
                         "acExtract", "acStop"}));
  const auto* menuFile = window->findChild<QWidget*>(QStringLiteral("miDatei"));
  const auto* menuEdit = window->findChild<QWidget*>(QStringLiteral("miBearbeiten"));
  ASSERT_TRUE(menuFile && menuEdit);
  EXPECT_EQ(names(menuFile->actions()), (QStringList{"acFileOpen", "acFileClose", "", "acClose"}));
  EXPECT_EQ(names(menuEdit->actions()),
            (QStringList{"acExtract", "acArchiveInfo", "acStatusInfo", "", "acDllInfo"}));

  QFileDialog* dialog = window->opndlgMain();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Wählen Sie ein Rar-Archiv aus ..."));
  EXPECT_EQ(dialog->nameFilters(), (QStringList{QStringLiteral("Rar-Archiv (*.rar)"),
                                                QStringLiteral("Alle Dateien (*)")}));
  EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFile);
}

TEST_F(Browser, ShortcutsBeforeAnOpenOnlyOpenTheDialog) {
  auto window = makeWindow(entryLines({1}));
  showActive(*window);
  idle();
  window->vxUnRar()->SetFileName(QStringLiteral("kept"));
  nextFolder = dir.path();
  QTest::keyClick(window.get(), Qt::Key_E, Qt::ControlModifier);
  QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
  QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(folderDialogs, 0);
  EXPECT_TRUE(boxes.isEmpty());
  EXPECT_EQ(window->vxUnRar()->FileName(), QStringLiteral("kept"));
  nextOpen.clear();  // cancelled: nothing changes
  QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(openDialogs, 1);
  EXPECT_FALSE(window->ArchiveOpen());
  EXPECT_TRUE(fake.openModes().isEmpty());
}

TEST_F(Browser, OpenListsThenShortcutsComeAlive) {
  auto window = makeWindow(QStringLiteral("open cmtstate=1 comment=\"line one\\nline two\"\n") +
                           entryLines({5, 7, 9, 11}));
  showActive(*window);
  nextOpen = archive;
  QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
  ASSERT_TRUE(window->ArchiveOpen());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillmoss")) << "Open leaves the caption";
  EXPECT_EQ(window->findChild<QStatusBar*>(QStringLiteral("stbrMain"))->currentMessage(),
            QStringLiteral("  ") + archive);
  EXPECT_EQ(window->findChild<QTreeView*>(QStringLiteral("lstvwMain"))->model()->rowCount(), 4);
  EXPECT_EQ(fake.operationsPerOpen(), (QVector<QVector<int>>{{1, 1, 1, 0}}));
  idle();
  QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Archiv-Info"));
  EXPECT_EQ(boxes[0].icon, platform::BoxIcon::Information);
  EXPECT_EQ(boxes[0].text, QStringLiteral("Dateien: 4\n\rGepackte Größe: 14\n\rUngepackte Größe: "
                                          "32\n\rKommentar: line one\nline two"));

  // A second archive without a comment: the earlier comment is gone.
  load(entryLines({1}));
  const QString second = QDir(dir.path()).filePath(QStringLiteral("second.rar"));
  nextOpen = second;
  QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(openDialogFolder, QDir(dir.path()).absolutePath())
      << "the dialog starts at the last archive's folder";
  idle();
  QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
  ASSERT_EQ(boxes.size(), 2);
  EXPECT_TRUE(boxes[1].text.endsWith(QStringLiteral("\n\rKommentar: ")))
      << qPrintable(boxes[1].text);

  QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_FALSE(window->ArchiveOpen());
  EXPECT_EQ(window->vxUnRar()->FileName(), QString());
  EXPECT_EQ(window->findChild<QTreeView*>(QStringLiteral("lstvwMain"))->model()->rowCount(), 0);
  idle();
  QTest::keyClick(window.get(), Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(boxes.size(), 2) << "archive information is disabled after Close archive";
}

TEST_F(Browser, ExtractCancelledChangesNothing) {
  auto window = makeWindow(entryLines({1, 2}));
  nextOpen = archive;
  window->acFileOpenExecute();
  nextFolder.clear();
  window->acExtractExecute();
  EXPECT_EQ(folderDialogs, 1);
  EXPECT_EQ(folderRequest.root, QStringLiteral("Extract to..."));
  EXPECT_EQ(folderRequest.owner, window.get());
  EXPECT_EQ(QDir(folderRequest.text).absolutePath(), QDir(dir.path()).absolutePath());
  EXPECT_EQ(fake.openModes(), QVector<int>{0});
}

TEST_F(Browser, ExtractIntoTheChosenFolderKeepsTheWindowOpen) {
  auto window = makeWindow(entryLines({1, 2, 3, 4}));
  window->show();
  nextOpen = archive;
  window->acFileOpenExecute();
  QList<int> progress;
  QObject::connect(window->findChild<QProgressBar*>(QStringLiteral("prgbrUnRar")),
                   &QProgressBar::valueChanged, [&](int v) { progress.append(v); });
  QTemporaryDir out;
  nextFolder = out.path();
  window->acExtractExecute();
  EXPECT_EQ(progress, (QList<int>{25, 50, 75, 100}));
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Quillmoss"));
  for (int i = 1; i <= 4; ++i)
    EXPECT_TRUE(QFile::exists(QDir(out.path()).filePath(QStringLiteral("e%1.txt").arg(i)))) << i;
  EXPECT_FALSE(window->Extracting());
}

TEST_F(Browser, StopEndsTheRunningExtraction) {
  auto window = makeWindow(entryLines({1, 2, 3, 4, 5, 6}));
  nextOpen = archive;
  window->acFileOpenExecute();
  QTemporaryDir out;
  nextFolder = out.path();
  // Arrives while the window handles its messages after the first entry.
  QTimer::singleShot(0, window.get(), [&] { window->acStopExecute(); });
  window->acExtractExecute();
  const QVector<QVector<int>> operations = fake.operationsPerOpen();
  ASSERT_EQ(operations.size(), 2);
  EXPECT_TRUE(operations[1].isEmpty()) << "the entry in progress is not processed";
  EXPECT_FALSE(QFile::exists(QDir(out.path()).filePath(QStringLiteral("e2.txt"))));
  // The next run clears the flag and extracts everything.
  QTemporaryDir again;
  nextFolder = again.path();
  window->acExtractExecute();
  EXPECT_TRUE(QFile::exists(QDir(again.path()).filePath(QStringLiteral("e6.txt"))));
}

TEST_F(Browser, StatusInformationListsEveryLineSinceCreation) {
  auto window = makeWindow(entryLines({1}) + QStringLiteral("entry name=bad process1=13\n"));
  nextOpen = archive;
  window->acFileOpenExecute();
  window->acStatusInfoExecute();
  ASSERT_EQ(statusTexts.size(), 1);
  EXPECT_EQ(statusTexts[0], QStringLiteral(": Archiv wird geöffnet\n: Archiv geöffnet\n"
                                           "Fehler: Corrupted archive!\n: Nach Schließen"));
  // Not cleared by showing them.
  window->acStatusInfoExecute();
  EXPECT_EQ(statusTexts.value(1), statusTexts[0]);
  EXPECT_EQ(frmStatus, nullptr) << "the dialog is disposed of after use";
}

TEST_F(Browser, LibraryInformationShowsTheVersion) {
  auto window = makeWindow(QStringLiteral("version 7\n"));
  window->acDllInfoExecute();
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("UnRar-Dll-Info"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("Version: 7"));
  EXPECT_EQ(boxes[0].icon, platform::BoxIcon::Information);
}

TEST_F(Browser, ColumnClickSortsAscendingByText) {
  auto window = makeWindow(entryLines({9, 10, 100}));
  nextOpen = archive;
  window->acFileOpenExecute();
  auto* list = window->findChild<QTreeView*>(QStringLiteral("lstvwMain"));
  const auto column = [&](int c) {
    QStringList texts;
    for (int i = 0; i < list->model()->rowCount(); ++i)
      texts << list->model()->index(i, c).data().toString();
    return texts;
  };
  emit list->header()->sectionClicked(2);
  EXPECT_EQ(SortColumn, 2);
  EXPECT_EQ(column(2), (QStringList{"10", "100", "9"}));
  // Again: the same ascending order, no toggle.
  emit list->header()->sectionClicked(2);
  EXPECT_EQ(column(2), (QStringList{"10", "100", "9"}));
  emit list->header()->sectionClicked(0);
  EXPECT_EQ(column(0), (QStringList{"e1.txt", "e2.txt", "e3.txt"}));
  // The sort column outlives a new listing, whose rows come unsorted.
  load(entryLines({3, 1, 2}));
  window->acFileOpenExecute();
  EXPECT_EQ(SortColumn, 0);
  EXPECT_EQ(column(2), (QStringList{"3", "1", "2"}));
  SortColumn = 0;
}

TEST_F(Browser, AutomaticRunSeedsTheOpenDialogsFolder) {
  auto window = makeWindow(entryLines({1}), archive);
  window->Timer1Timer();
  window->acFileOpenExecute();
  EXPECT_EQ(openDialogFolder, QDir(dir.path()).absolutePath());
}
