#include "format/volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "unrar.h"

namespace unrar {

std::shared_ptr<VolumeFile> VolumeFile::open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  return std::shared_ptr<VolumeFile>(
      new VolumeFile(fd, static_cast<std::uint64_t>(st.st_size), path));
}

VolumeFile::~VolumeFile() {
  ::close(fd_);
}

namespace {
// The read-ahead window: from kMinWindow (a page, which the kernel reads
// anyway), doubled up to kMaxWindow while each read lands less than the
// window's size past it (small entries, header after header), and back to
// kMinWindow after a longer jump (the data of a larger entry skipped), so
// that listing large entries never copies the data it skips.
constexpr std::size_t kMinWindow = 4096;
constexpr std::size_t kMaxWindow = 64 << 10;
// Reads up to this size go through the window: block headers, and the data
// of small entries.
constexpr std::size_t kSmallRead = 16 << 10;
}  // namespace

std::size_t VolumeFile::readAt(std::uint64_t offset, void* buf, std::size_t n) {
  if (offset >= size_) return 0;
  if (n > kSmallRead) return readDirect(offset, buf, n);
  if (!window_) window_ = std::make_unique<char[]>(kMaxWindow);
  const std::uint64_t windowEnd = windowStart_ + windowSize_;
  if (offset < windowStart_ || offset + n > windowEnd) {
    const bool near = windowSize_ && offset >= windowStart_ && offset < windowEnd + windowWant_;
    windowWant_ = near ? std::min(windowWant_ * 2, kMaxWindow) : kMinWindow;
    windowStart_ = offset;
    windowSize_ = readDirect(offset, window_.get(), std::max(windowWant_, n));
  }
  const std::uint64_t end = windowStart_ + windowSize_;
  const std::size_t take =
      offset >= end ? 0 : static_cast<std::size_t>(std::min<std::uint64_t>(n, end - offset));
  if (take) std::memcpy(buf, window_.get() + (offset - windowStart_), take);
  return take;
}

std::size_t VolumeFile::readDirect(std::uint64_t offset, void* buf, std::size_t n) {
  std::size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    done += static_cast<std::size_t>(r);
  }
  return done;
}

int openVolume(const std::string& path, std::shared_ptr<VolumeFile>& out) {
  auto v = VolumeFile::open(path);
  if (!v) return ERAR_EOPEN;
  bool future = false;
  if (!findSignature(*v, v->signatureOffset, v->format, future))
    return future ? ERAR_UNKNOWN_FORMAT : ERAR_BAD_ARCHIVE;
  std::uint64_t pos = v->signatureOffset + (v->format == Format::Rar4 ? 7 : 8);
  int rc =
      v->format == Format::Rar4 ? readMainRar4(*v, pos, v->main) : readMainRar5(*v, pos, v->main);
  v->firstBlock = pos;
  if (rc == ERAR_SUCCESS || rc == ERAR_BAD_DATA) out = std::move(v);
  return rc;
}

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string nextVolumeName(const std::string& current, bool newNumbering) {
  std::string name = current;
  std::size_t slash = name.rfind('/');
  std::size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot < base) dot = name.size();
  if (newNumbering) {
    // The last run of digits before the extension.
    std::size_t end = dot;
    while (end > base && !(name[end - 1] >= '0' && name[end - 1] <= '9')) --end;
    if (end > base) {
      std::size_t i = end;
      while (i > base) {
        char& c = name[i - 1];
        if (c < '0' || c > '9') break;
        if (c < '9') {
          ++c;
          return name;
        }
        c = '0';
        --i;
      }
      name.insert(name.begin() + static_cast<std::ptrdiff_t>(i), '1');
      return name;
    }
  }
  // Old scheme.
  std::string ext = dot < name.size() ? name.substr(dot + 1) : std::string();
  if (ext.size() != 3 || !(ext[1] >= '0' && ext[1] <= '9' && ext[2] >= '0' && ext[2] <= '9')) {
    bool upper = !ext.empty() && ext[0] >= 'A' && ext[0] <= 'Z';
    return name.substr(0, dot) + (upper ? ".R00" : ".r00");
  }
  int n = (ext[1] - '0') * 10 + (ext[2] - '0') + 1;
  char letter = ext[0];
  if (n == 100) {
    n = 0;
    ++letter;
  }
  std::string next = name.substr(0, dot + 1);
  next += letter;
  next += static_cast<char>('0' + n / 10);
  next += static_cast<char>('0' + n % 10);
  return next;
}

}  // namespace unrar
