#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "VxUnRar.h"
#include "executable.h"
#include "message_box.h"
#include "startup.h"

using startup::ArchiveText;
using startup::StartMode;

TEST(ArchiveText, OneArgumentIsOnlyTrimmed) {
  EXPECT_EQ(ArchiveText({QStringLiteral("  /a/My  Files/x.rar \t")}),
            QStringLiteral("/a/My  Files/x.rar"));
  EXPECT_EQ(ArchiveText({QStringLiteral("x.rar ")}), QStringLiteral("x.rar"))
      << "a trailing blank inside the quotes is trimmed";
  EXPECT_EQ(ArchiveText({QStringLiteral("\x01\x1Fx.rar\x7F")}), QStringLiteral("x.rar\x7F"))
      << "control characters up to the blank go; DEL is above it";
}

TEST(ArchiveText, SplitArgumentsAreJoinedWithSingleBlanks) {
  EXPECT_EQ(ArchiveText({QStringLiteral("/home/My"), QStringLiteral("Files/x.rar")}),
            QStringLiteral("/home/My Files/x.rar"));
  // Two blanks in a row arrive as two arguments and come back as one blank.
  EXPECT_EQ(ArchiveText({QStringLiteral("a"), QStringLiteral("b.rar")}), QStringLiteral("a b.rar"));
  EXPECT_EQ(ArchiveText({QStringLiteral(" a "), QStringLiteral("\tb.rar\n")}),
            QStringLiteral("a b.rar"));
  EXPECT_EQ(ArchiveText({QString(), QStringLiteral("x.rar")}), QStringLiteral("x.rar"));
  EXPECT_EQ(ArchiveText({QStringLiteral("a"), QString(), QStringLiteral("b")}),
            QStringLiteral("a  b"))
      << "an empty argument in the middle still gets its blank";
  EXPECT_EQ(ArchiveText({}), QString());
}

TEST(ArchiveTail, LastFourCharactersWithOnlyAToZLowerCased) {
  EXPECT_EQ(startup::ArchiveTail(QStringLiteral("C:/x.RAR")), QStringLiteral(".rar"));
  EXPECT_EQ(startup::ArchiveTail(QStringLiteral("RAR")), QStringLiteral("rar"));
  EXPECT_EQ(startup::ArchiveTail(QStringLiteral("x")), QStringLiteral("x"));
  EXPECT_EQ(startup::ArchiveTail(QString()), QString());
  EXPECT_EQ(startup::ArchiveTail(QStringLiteral("a.\u00C4RAR")), QStringLiteral("\u00C4rar"))
      << "letters outside A to Z keep their case";
  EXPECT_TRUE(startup::IsArchiveTail(startup::ArchiveTail(QStringLiteral("x.Rar"))));
  EXPECT_TRUE(startup::IsArchiveTail(startup::ArchiveTail(QStringLiteral("rar"))));
  EXPECT_FALSE(startup::IsArchiveTail(startup::ArchiveTail(QStringLiteral("xrar"))))
      << "four characters without the dot";
  EXPECT_FALSE(startup::IsArchiveTail(startup::ArchiveTail(QStringLiteral("a.rar5"))));
  EXPECT_FALSE(startup::IsArchiveTail(startup::ArchiveTail(QStringLiteral("a.zip"))));
  EXPECT_FALSE(startup::IsArchiveTail(startup::ArchiveTail(QStringLiteral("SHUTDOWN"))));
}

TEST(StartMode, TailThenExistenceDecideTheMode) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString archive = dir.filePath(QStringLiteral("x.RAR"));
  QFile(archive).open(QIODevice::WriteOnly);
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.rar")));
  EXPECT_EQ(startup::ChooseMode(QString()), StartMode::Instructions);
  EXPECT_EQ(startup::ChooseMode(archive), StartMode::Archive);
  EXPECT_EQ(startup::ChooseMode(dir.filePath(QStringLiteral("missing.rar"))),
            StartMode::ArchiveNotFound);
  EXPECT_EQ(startup::ChooseMode(dir.filePath(QStringLiteral("folder.rar"))),
            StartMode::ArchiveNotFound)
      << "a folder is not an archive";
  EXPECT_EQ(startup::ChooseMode(dir.filePath(QStringLiteral("x.zip"))), StartMode::Instructions);
  EXPECT_EQ(startup::ChooseMode(QStringLiteral("shutdown")), StartMode::Instructions);
}

TEST(StartMode, ARelativeNameIsLookedForHereFirstThenBesideTheExecutable) {
  QTemporaryDir cwd;
  ASSERT_TRUE(cwd.isValid());
  const QString saved = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(cwd.path()));
  const QString name = QStringLiteral("startup_test_%1.rar").arg(::getpid());
  const QString beside = platform::besideExecutable(name);
  EXPECT_TRUE(startup::FindArchive(name).isEmpty());
  QFile(beside).open(QIODevice::WriteOnly);
  EXPECT_EQ(startup::FindArchive(name), beside);
  EXPECT_EQ(startup::ChooseMode(name), StartMode::Archive);
  QFile(cwd.filePath(name)).open(QIODevice::WriteOnly);
  EXPECT_EQ(startup::FindArchive(name), cwd.filePath(name)) << "the name as passed comes first";
  QFile::remove(beside);
  QDir::setCurrent(saved);
}

namespace {

struct Windows {
  QStringList created;
  QList<QWidget*> widgets;
  startup::WindowFactories factories(bool mainThrows = false) {
    return {[this, mainThrows](const QString&) -> QWidget* {
              if (mainThrows) throw EVxUnRarError(QStringLiteral("Cannot read silent.txt"));
              created << QStringLiteral("main");
              return track(new QWidget);
            },
            [this]() -> QWidget* {
              created << QStringLiteral("config");
              return track(new QWidget);
            }};
  }
  QWidget* track(QWidget* w) {
    widgets << w;
    QObject::connect(w, &QObject::destroyed, [this, w] { widgets.removeAll(w); });
    return w;
  }
};

}  // namespace

TEST(RunWindows, ArchiveModeShowsTheExtractionWindowAndKeepsTheOtherHidden) {
  Windows windows;
  bool mainVisible = false, configVisible = true;
  QTimer::singleShot(0, [&] {
    ASSERT_EQ(windows.widgets.size(), 2);
    mainVisible = windows.widgets[0]->isVisible();
    configVisible = windows.widgets[1]->isVisible();
    windows.widgets[0]->close();  // closing the main window ends the program
  });
  EXPECT_EQ(startup::RunWindows(StartMode::Archive, windows.factories()), 0);
  EXPECT_EQ(windows.created, (QStringList{"main", "config"}));
  EXPECT_TRUE(mainVisible);
  EXPECT_FALSE(configVisible);
  EXPECT_TRUE(windows.widgets.isEmpty()) << "both windows are destroyed at the end";
}

TEST(RunWindows, InstructionsModeCreatesOnlyTheInstructionsWindow) {
  Windows windows;
  bool visible = false;
  QTimer::singleShot(0, [&] {
    visible = windows.widgets.value(0) && windows.widgets[0]->isVisible();
    if (!windows.widgets.isEmpty()) windows.widgets[0]->close();
  });
  EXPECT_EQ(startup::RunWindows(StartMode::Instructions, windows.factories()), 0);
  EXPECT_EQ(windows.created, QStringList{"config"});
  EXPECT_TRUE(visible);
}

TEST(RunWindows, AWindowThatCannotBeBuiltGivesOneErrorBoxAndEndsWithOne) {
  Windows windows;
  QList<platform::Question> boxes;
  platform::setAnswerer(platform::Modal::MessageBox,
                        [&](const platform::Question& r) { boxes << r; });
  // Would end a message loop that must not run.
  QTimer::singleShot(2000, [] { QApplication::exit(99); });
  const int code = startup::RunWindows(StartMode::Archive, windows.factories(true));
  platform::setAnswerer(platform::Modal::MessageBox, {});
  EXPECT_EQ(code, 1) << "nothing was extracted: a failure";
  EXPECT_TRUE(windows.created.isEmpty()) << "no window after the failed one";
  ASSERT_EQ(boxes.size(), 1);
  EXPECT_EQ(boxes[0].caption, QStringLiteral("Quillmoss"));
  EXPECT_EQ(boxes[0].text, QStringLiteral("Cannot read silent.txt."));
  EXPECT_EQ(boxes[0].icon, platform::BoxIcon::Error);
}
