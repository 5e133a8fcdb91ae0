// Where the running program lives, and the files it keeps beside itself.
#pragma once

#include <QString>

namespace platform {

// The folder of the running executable, ending in "/". Read from
// /proc/self/exe, so it works before the application object exists.
QString executableFolder();

// A file beside the executable: the executable folder followed directly by the name.
QString besideExecutable(const QString& fileName);

// True when a file (not a folder) exists at the path; folderPresent the other
// way round. Both take paths whose bytes path_bytes.h keeps.
bool filePresent(const QString& path);
bool folderPresent(const QString& path);

}  // namespace platform
