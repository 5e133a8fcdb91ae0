#include "untVxFileLib.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include "modal.h"

namespace vxfilelib {
namespace {

QString& initialFolderText() {
  static QString instance;
  return instance;
}

}  // namespace

const QString& initialFolder() {
  return initialFolderText();
}

}  // namespace vxfilelib

void SelectFolder(QWidget* Owner, const QString& Root, const QString& Initial, QString& Folder) {
  Folder.clear();
  vxfilelib::initialFolderText() = Initial;
  platform::Question question;
  question.kind = platform::Modal::FolderChooser;
  question.owner = Owner;
  question.caption = QStringLiteral("Wählen Sie bitte einen Ordner aus ...");
  question.text = Initial;
  question.root = Root;
  if (platform::answerInstead(question)) {
    Folder = question.chosen;
    return;
  }
  // The dialog cannot be rooted on this platform; a root that names an existing
  // folder is where it starts when nothing is preselected. An initial folder that
  // names nothing leaves the dialog on its own default.
  QString start;
  if (QFileInfo(Initial).isDir()) {
    start = Initial;
  } else if (QFileInfo(Root).isDir()) {
    start = Root;
  }
  const QString chosen = QFileDialog::getExistingDirectory(Owner, question.caption, start);
  if (chosen.isEmpty()) return;
  Folder = QDir::cleanPath(chosen);
}

void RemoveTrailingBackslash(QString& Text) {
  if (Text.size() > 1 && Text.endsWith(QLatin1Char('/'))) Text.chop(1);
}
