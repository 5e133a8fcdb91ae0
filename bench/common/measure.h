// Runs one measured piece of work in a child process, so that its peak memory
// is its own and not the benchmark's.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>

namespace bench {

struct Measure {
  double seconds = 0;     // wall
  double cpuSeconds = 0;  // user + system
  double systemSeconds = 0;
  long pageFaults = 0;  // minor and major
  long peakKb = 0;
  int status = 0;
};

inline Measure measureChild(const std::function<int()>& body) {
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  Measure m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
  m.systemSeconds =
      static_cast<double>(ru.ru_stime.tv_sec) + static_cast<double>(ru.ru_stime.tv_usec) / 1e6;
  m.pageFaults = ru.ru_minflt + ru.ru_majflt;
  m.peakKb = ru.ru_maxrss;
  m.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
  return m;
}

}  // namespace bench
