// The program's file routines: the folder chooser and the trailing-separator trim.
#pragma once

#include <functional>

#include <QString>

class QWidget;

// Lets the user pick a folder in the desktop's folder dialog, titled
// "Wählen Sie bitte einen Ordner aus ...", modal to Owner, with Initial
// preselected. Root names the top of the tree; a text that names no folder
// (the extraction window passes "Extract to...") leaves the whole file system
// reachable. Folder is emptied first and stays empty on cancel.
void SelectFolder(QWidget* Owner, const QString& Root, const QString& Initial, QString& Folder);

// Drops one trailing "/" when the text is longer than one character, so "/"
// alone stays a root while "/data/" becomes "/data".
void RemoveTrailingBackslash(QString& Text);

namespace vxfilelib {

// What SelectFolder is about to ask: the dialog's title, its root and the folder
// it preselects.
struct FolderRequest {
  QWidget* owner = nullptr;
  QString title;
  QString root;
  QString initial;
};

// While an answerer is set, SelectFolder hands it the request instead of showing
// the dialog and takes its return value as the chosen folder (empty: cancelled).
using FolderAnswerer = std::function<QString(const FolderRequest&)>;
void setFolderAnswerer(FolderAnswerer answerer);

// The folder the open chooser preselects; holds the last Initial until the next call.
const QString& initialFolder();

}  // namespace vxfilelib
