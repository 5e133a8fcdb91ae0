// The folder chooser, answered through its seam and, once, for real.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

#include "modal.h"
#include "modal_answer.h"
#include "untVxFileLib.h"

namespace {

struct AnswererScope {
  explicit AnswererScope(platform::Answerer a) {
    platform::setAnswerer(platform::Modal::FolderChooser, std::move(a));
  }
  ~AnswererScope() { platform::setAnswerer(platform::Modal::FolderChooser, {}); }
};

}  // namespace

TEST(SelectFolder, AsksWithGermanTitleRootAndInitialFolder) {
  platform::Question seen;
  AnswererScope scope([&](platform::Question& question) {
    seen = question;
    EXPECT_EQ(vxfilelib::initialFolder(), QStringLiteral("/srv/in"));
    question.chosen = QStringLiteral("/srv/out");
  });
  QWidget owner;
  QString folder = QStringLiteral("stale");
  SelectFolder(&owner, QStringLiteral("Extract to..."), QStringLiteral("/srv/in"), folder);
  EXPECT_EQ(folder, QStringLiteral("/srv/out"));
  EXPECT_EQ(seen.owner, &owner);
  EXPECT_EQ(seen.caption, QString::fromUtf8("W\xc3\xa4hlen Sie bitte einen Ordner aus ..."));
  EXPECT_EQ(seen.root, QStringLiteral("Extract to..."));
  EXPECT_EQ(seen.text, QStringLiteral("/srv/in"));
}

TEST(SelectFolder, CancelLeavesFolderEmpty) {
  AnswererScope scope([](platform::Question&) {});
  QString folder = QStringLiteral("stale");
  SelectFolder(nullptr, QString(), QString(), folder);
  EXPECT_TRUE(folder.isEmpty());
}

// The real dialog: opened on the initial folder, then cancelled or accepted by
// its own buttons.
TEST(SelectFolder, RealDialogStartsOnInitialFolderAndCancelsEmpty) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  QString shownDirectory;
  QString shownTitle;
  answerNextModal([&](QWidget& modal) {
    auto* dialog = qobject_cast<QFileDialog*>(&modal);
    if (dialog) {
      shownDirectory = dialog->directory().absolutePath();
      shownTitle = dialog->windowTitle();
    }
    modal.close();
  });
  QString folder = QStringLiteral("stale");
  SelectFolder(nullptr, QStringLiteral("Extract to..."), dir.path(), folder);
  EXPECT_TRUE(folder.isEmpty());
  EXPECT_EQ(shownDirectory, QDir(dir.path()).absolutePath());
  EXPECT_EQ(shownTitle, QString::fromUtf8("W\xc3\xa4hlen Sie bitte einen Ordner aus ..."));
}

TEST(SelectFolder, RealDialogReturnsTheChosenFolderWithoutTrailingSlash) {
  QTemporaryDir dir;
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("target")));
  const QString target = QDir(dir.path()).filePath(QStringLiteral("target"));
  answerNextModal([&](QWidget& modal) {
    if (auto* dialog = qobject_cast<QFileDialog*>(&modal)) {
      dialog->selectFile(target);
      QMetaObject::invokeMethod(dialog, "accept");
    } else {
      modal.close();
    }
  });
  QString folder;
  SelectFolder(nullptr, QString(), dir.path(), folder);
  EXPECT_EQ(folder, target);
}
