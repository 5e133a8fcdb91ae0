#include "process.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "path_bytes.h"

extern char** environ;

namespace platform {
namespace {

bool readLink(const QByteArray& link, QByteArray& target) {
  QByteArray buffer(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink(link.constData(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (n < buffer.size()) {
      buffer.truncate(n);
      target = buffer;
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool allDigits(const char* text) {
  if (!*text) return false;
  for (; *text; ++text)
    if (*text < '0' || *text > '9') return false;
  return true;
}

}  // namespace

std::vector<ProcessInfo> listProcesses() {
  std::vector<ProcessInfo> result;
  DIR* proc = ::opendir("/proc");
  if (!proc) return result;
  while (const dirent* entry = ::readdir(proc)) {
    if (!allDigits(entry->d_name)) continue;
    QByteArray target;
    if (!readLink(QByteArray("/proc/") + entry->d_name + "/exe", target)) continue;
    ProcessInfo info;
    info.pid = static_cast<pid_t>(std::strtol(entry->d_name, nullptr, 10));
    info.imagePath = QFile::decodeName(target);
    result.push_back(std::move(info));
  }
  ::closedir(proc);
  std::sort(result.begin(), result.end(),
            [](const ProcessInfo& a, const ProcessInfo& b) { return a.pid < b.pid; });
  return result;
}

QString imageFileName(const QString& imagePath) {
  return imagePath.mid(imagePath.lastIndexOf(QLatin1Char('/')) + 1);
}

bool terminateProcess(pid_t pid) {
  return pid > 0 && ::kill(pid, SIGKILL) == 0;
}

pid_t currentProcessId() {
  return ::getpid();
}

RunResult runAndWait(const QString& program, const QStringList& arguments,
                     const QString& workingFolder) {
  RunResult result;
  std::vector<QByteArray> storage;
  storage.push_back(pathToBytes(program));
  for (const QString& argument : arguments) storage.push_back(pathToBytes(argument));
  std::vector<char*> argv;
  for (QByteArray& item : storage) argv.push_back(item.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  const QByteArray folder = pathToBytes(workingFolder);
  if (!workingFolder.isEmpty())
    ::posix_spawn_file_actions_addchdir_np(&actions, folder.constData());

  pid_t pid = 0;
  const int rc =
      ::posix_spawn(&pid, storage.front().constData(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    result.error = QString::fromLocal8Bit(std::strerror(rc));
    return result;
  }
  result.started = true;
  int status = 0;
  pid_t waited;
  do {
    waited = ::waitpid(pid, &status, 0);
  } while (waited < 0 && errno == EINTR);
  if (waited < 0) {
    result.error = QString::fromLocal8Bit(std::strerror(errno));
    return result;
  }
  if (WIFEXITED(status)) {
    result.exitCode = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace platform
