#include "shutdown.h"

#include "process.h"

namespace startup {
namespace {

QString upperAscii(const QString& text) {
  QString result = text;
  for (QChar& c : result)
    if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) c = QChar(c.unicode() - 'a' + 'A');
  return result;
}

}  // namespace

bool TerminateProcessesByName(const QString& ImageName) {
  const QString wanted = upperAscii(ImageName);
  const pid_t self = platform::currentProcessId();
  bool result = false;
  for (const platform::ProcessInfo& process : platform::listProcesses()) {
    if (process.pid == self) continue;
    const bool matches = upperAscii(platform::imageFileName(process.imagePath)) == wanted ||
                         upperAscii(process.imagePath) == wanted;
    if (!matches) continue;
    // A process that refuses (another user's) is passed over silently.
    result = platform::terminateProcess(process.pid);
  }
  return result;
}

int RunShutdown(const QString& imageName) {
  TerminateProcessesByName(imageName);
  return 0;
}

}  // namespace startup
