// Opens the input as an archive through the published interface, reads every
// header and tests every entry, in both record forms and every open mode.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "unrar.h"

namespace {

int refuseEverything(UINT msg, LPARAM, LPARAM p1, LPARAM p2) {
  if (msg == UCM_NEEDPASSWORD && p1 && p2 > 1) {
    std::strcpy(reinterpret_cast<char*>(p1), "password");
    return 1;
  }
  if (msg == UCM_CHANGEVOLUME && p2 == RAR_VOL_NOTIFY) return 1;
  // RAR 7's large dictionaries are decoded too: their windows follow the data.
  return msg == UCM_PROCESSDATA || msg == UCM_LARGEDICT ? 1 : -1;
}

std::string inputPath() {
  static const std::string path = [] {
    const char* t = std::getenv("TMPDIR");
    return std::string(t && *t ? t : "/tmp") + "/libunrar-fuzz-" + std::to_string(getpid()) +
           ".rar";
  }();
  return path;
}

void run(const std::string& path, unsigned mode, bool shortRecord) {
  RAROpenArchiveDataEx od;
  std::memset(&od, 0, sizeof od);
  std::string name = path;
  char cmt[256];
  od.ArcName = name.data();
  od.OpenMode = mode;
  od.CmtBuf = cmt;
  od.CmtBufSize = sizeof cmt;
  od.Callback = refuseEverything;
  HANDLE h = RAROpenArchiveEx(&od);
  if (!h) return;
  static RARHeaderDataEx hd;
  static RARHeaderData shortHd;
  wchar_t redir[64];
  for (int i = 0; i < 10000; ++i) {
    int rc;
    if (shortRecord) {
      rc = RARReadHeader(h, &shortHd);
    } else {
      std::memset(&hd, 0, sizeof hd);
      hd.RedirName = redir;
      hd.RedirNameSize = 64;
      rc = RARReadHeaderEx(h, &hd);
    }
    if (rc != ERAR_SUCCESS) break;
    RARProcessFile(h, mode == RAR_OM_EXTRACT ? RAR_TEST : RAR_SKIP, nullptr, nullptr);
  }
  RARCloseArchive(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = inputPath();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) return 0;
  std::size_t done = 0;
  while (done < size) {
    ssize_t w = ::write(fd, data + done, size - done);
    if (w <= 0) break;
    done += static_cast<std::size_t>(w);
  }
  ::close(fd);
  run(path, RAR_OM_EXTRACT, false);
  run(path, RAR_OM_LIST, true);
  run(path, RAR_OM_LIST_INCSPLIT, false);
  ::unlink(path.c_str());
  return 0;
}
