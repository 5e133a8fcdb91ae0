// Stands in for the program in shutdown tests. "shutdown" ends every other
// process with this executable's file name, exactly as the program's shutdown
// mode does; anything else waits (up to a minute) to be ended.
#include <unistd.h>

#include <QByteArray>
#include <QFile>

#include "process.h"
#include "shutdown.h"

int main(int argc, char** argv) {
  if (argc > 1 && QByteArray(argv[1]) == "shutdown") {
    const QString self =
        platform::imageFileName(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")));
    return startup::RunShutdown(self);
  }
  for (int i = 0; i < 600; ++i) ::usleep(100 * 1000);
  return 5;
}
