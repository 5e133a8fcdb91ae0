// Running processes: listing, terminating, starting and waiting.
#pragma once

#include <sys/types.h>

#include <QString>
#include <QStringList>
#include <vector>

namespace platform {

struct ProcessInfo {
  pid_t pid = 0;
  // Path of the process's executable (the target of /proc/PID/exe).
  QString imagePath;
};

// Every process whose executable can be read, in ascending pid order. A
// process that ends while the walk runs, or whose executable the caller may
// not see, is left out.
std::vector<ProcessInfo> listProcesses();

// The file-name part of an image path: the text after its last "/".
QString imageFileName(const QString& imagePath);

// Ends the process at once (SIGKILL). False when it could not be signalled.
bool terminateProcess(pid_t pid);

// The calling process's own id.
pid_t currentProcessId();

struct RunResult {
  bool started = false;
  // The exit code of a process that exited; -1 when it was ended by a signal.
  int exitCode = -1;
  // The signal that ended it, 0 when it exited.
  int signal = 0;
  // Why it could not be started, when started is false.
  QString error;
};

// Starts the program with the arguments as a list (no command-line text to
// split or quote) in the working folder (the caller's own when empty), and
// waits for it to end, without a time limit.
RunResult runAndWait(const QString& program, const QStringList& arguments,
                     const QString& workingFolder);

}  // namespace platform
