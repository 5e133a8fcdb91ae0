// Ending every running copy of a program.
#pragma once

#include <QString>

namespace startup {

// Terminates every running process whose image name matches ImageName: the
// file-name part of its executable's path or the whole path, each compared
// with letters a to z upper-cased. The calling process is passed over, so
// every other copy is reached whatever the walk's order. Returns the result
// of the last termination attempted, false when none was.
bool TerminateProcessesByName(const QString& ImageName);

// Shutdown mode: ends the other copies and returns the exit code, 0.
int RunShutdown(const QString& imageName);

}  // namespace startup
