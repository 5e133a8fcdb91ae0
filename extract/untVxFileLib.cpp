#include "untVxFileLib.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace vxfilelib {
namespace {

FolderAnswerer& answerer() {
  static FolderAnswerer instance;
  return instance;
}

QString& initialFolderText() {
  static QString instance;
  return instance;
}

}  // namespace

void setFolderAnswerer(FolderAnswerer a) {
  answerer() = std::move(a);
}

const QString& initialFolder() {
  return initialFolderText();
}

}  // namespace vxfilelib

void SelectFolder(QWidget* Owner, const QString& Root, const QString& Initial, QString& Folder) {
  Folder.clear();
  vxfilelib::initialFolderText() = Initial;
  const vxfilelib::FolderRequest request{
      Owner, QStringLiteral("Wählen Sie bitte einen Ordner aus ..."), Root, Initial};
  if (vxfilelib::answerer()) {
    Folder = vxfilelib::answerer()(request);
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
  const QString chosen = QFileDialog::getExistingDirectory(Owner, request.title, start);
  if (chosen.isEmpty()) return;
  Folder = QDir::cleanPath(chosen);
}

void RemoveTrailingBackslash(QString& Text) {
  if (Text.size() > 1 && Text.endsWith(QLatin1Char('/'))) Text.chop(1);
}
