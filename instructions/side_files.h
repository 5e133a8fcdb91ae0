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

}  // namespace instructions
