// Where the running program lives, and the files it keeps beside itself.
#pragma once

#include <QByteArray>
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

// filePresent for path after path, most in the folder of the one before (an
// archive lists a folder's entries together): that folder is held open
// between calls, so a check is one lookup in it instead of a walk of the
// whole path. forget() lets it go, after anything that may have put
// something else at its path.
class FilePresence {
 public:
  FilePresence() = default;
  ~FilePresence();
  FilePresence(const FilePresence&) = delete;
  FilePresence& operator=(const FilePresence&) = delete;
  bool operator()(const QString& path);
  void forget();

 private:
  QByteArray folder_;
  int folderFd_ = -1;
};

}  // namespace platform
