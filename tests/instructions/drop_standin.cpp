// Stands in for the program when the instructions window hands a dropped
// archive to a copy of it: records what it was given and ends at once.
#include <unistd.h>

#include <sys/stat.h>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  const char* log = std::getenv("QM_DROP_LOG");
  if (!log) return 2;
  std::FILE* out = std::fopen(log, "a");
  if (!out) return 2;
  std::fprintf(out, "run");
  for (int i = 1; i < argc; ++i) std::fprintf(out, " [%s]", argv[i]);
  char cwd[4096] = {};
  if (::getcwd(cwd, sizeof cwd)) std::fprintf(out, " cwd=%s", cwd);
  // Whether a picture dropped before this archive had become the skin already.
  if (const char* skin = std::getenv("QM_DROP_SKIN")) {
    struct stat st {};
    std::fprintf(out, " skin=%s", ::stat(skin, &st) == 0 ? "yes" : "no");
  }
  std::fprintf(out, "\n");
  std::fclose(out);
  return 0;
}
