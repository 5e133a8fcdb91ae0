// Files the instructions window keeps beside the executable ("skin.bmp",
// "CoreHelpEN.dat", "License.txt", ...).
#pragma once

#include <QString>

namespace instructions {

// The folder the side files are read from and written to, ending in "/".
QString sideFolder();
QString sideFile(const QString& name);

// Tests point the window at a temporary folder instead of the executable's;
// an empty folder restores the executable's.
void setSideFolderForTests(const QString& folder);

// The running program's own executable, which a dropped archive is handed to.
QString programPath();
// Tests hand dropped archives to a stand-in program; empty restores the real one.
void setProgramPathForTests(const QString& path);

}  // namespace instructions
