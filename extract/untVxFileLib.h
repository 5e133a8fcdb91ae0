// The program's file routines: the folder chooser and the trailing-separator trim.
#pragma once

#include <QString>

class QWidget;

// Lets the user pick a folder in the desktop's folder dialog, titled
// "Wählen Sie bitte einen Ordner aus ...", modal to Owner, with Initial
// preselected. Root names the top of the tree; a text that names no folder
// (the extraction window passes "Extract to...") leaves the whole file system
// reachable. Folder is emptied first and stays empty on cancel. An answerer
// for platform::Modal::FolderChooser gets the title, Initial and Root instead
// of a person, and its chosen folder is taken as it stands.
void SelectFolder(QWidget* Owner, const QString& Root, const QString& Initial, QString& Folder);

// Drops one trailing "/" when the text is longer than one character, so "/"
// alone stays a root while "/data/" becomes "/data".
void RemoveTrailingBackslash(QString& Text);

namespace vxfilelib {

// The folder the open chooser preselects; holds the last Initial until the next call.
const QString& initialFolder();

}  // namespace vxfilelib
