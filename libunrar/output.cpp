#include "output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <random>
#include <string>

#include "unrar.h"

namespace unrar {
namespace {

std::vector<std::string> splitParts(const std::string& s) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : s) {
    if (c == '/') {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  return parts;
}

std::string realOf(const std::string& p) {
  char buf[PATH_MAX];
  if (!::realpath(p.c_str(), buf)) return {};
  return buf;
}

bool isInside(const std::string& realRoot, const std::string& realPath) {
  if (realRoot.empty() || realPath.empty()) return false;
  if (realPath == realRoot) return true;
  std::string prefix = realRoot == "/" ? realRoot : realRoot + "/";
  return realPath.compare(0, prefix.size(), prefix) == 0;
}

int createError(int err) {
  return err == ENOSPC || err == EDQUOT ? ERAR_EWRITE : ERAR_ECREATE;
}

std::string randomSuffix() {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  static const char* digits = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 10; ++i) s += digits[rng() % 36];
  return s;
}

std::string parentOf(const std::string& rel) {
  std::size_t s = rel.rfind('/');
  return s == std::string::npos ? std::string() : rel.substr(0, s);
}

std::string baseOf(const std::string& rel) {
  std::size_t s = rel.rfind('/');
  return s == std::string::npos ? rel : rel.substr(s + 1);
}

std::string tempNameIn(const std::string& folder, const std::string& base) {
  std::string b = base.size() > 100 ? base.substr(0, 100) : base;
  return joinPath(folder, "." + b + ".qmtmp-" + randomSuffix());
}

void setTimes(int fd, const char* path, std::uint64_t mtime, std::uint64_t atime) {
  auto toSpec = [](std::uint64_t ft) {
    timespec ts{};
    if (ft == 0) {
      ts.tv_nsec = UTIME_OMIT;
      return ts;
    }
    std::int64_t units = static_cast<std::int64_t>(ft) - 116444736000000000LL;
    ts.tv_sec = static_cast<time_t>(units / 10000000);
    ts.tv_nsec = static_cast<long>((units % 10000000) * 100);
    if (ts.tv_nsec < 0) {
      ts.tv_nsec += 1000000000;
      ts.tv_sec -= 1;
    }
    return ts;
  };
  timespec t[2] = {toSpec(atime ? atime : mtime), toSpec(mtime)};
  if (fd >= 0)
    ::futimens(fd, t);
  else
    ::utimensat(AT_FDCWD, path, t, AT_SYMLINK_NOFOLLOW);
}

}  // namespace

std::string joinPath(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a.back() == '/' ? a + b : a + "/" + b;
}

std::string sanitizeName(const std::string& stored) {
  std::string s = stored;
  for (char& c : s)
    if (c == '\\') c = '/';
  // Drive letters ("C:") and UNC-style prefixes are dropped with the
  // separators that follow them.
  if (s.size() >= 2 && s[1] == ':' &&
      ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')))
    s.erase(0, 2);
  std::string out;
  for (const std::string& part : splitParts(s)) {
    if (part.empty() || part == "." || part == "..") continue;
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

bool linkTargetInside(const std::string& linkDir, const std::string& target) {
  if (target.empty() || target[0] == '/') return false;
  std::vector<std::string> stack;
  for (const std::string& p : splitParts(linkDir))
    if (!p.empty() && p != ".") stack.push_back(p);
  for (const std::string& p : splitParts(target)) {
    if (p.empty() || p == ".") continue;
    if (p == "..") {
      if (stack.empty()) return false;
      stack.pop_back();
    } else {
      stack.push_back(p);
    }
  }
  return true;
}

int makeDestination(const char* destPath, const char* destName, const Entry& e, Destination& out) {
  if (destName && *destName) {
    std::string dn = destName;
    std::size_t s = dn.rfind('/');
    if (s == std::string::npos) {
      out.root = ".";
      out.rel = dn;
    } else {
      out.root = s == 0 ? "/" : dn.substr(0, s);
      out.rel = dn.substr(s + 1);
    }
    if (out.rel.empty() || out.rel == "." || out.rel == "..") return ERAR_ECREATE;
    return ERAR_SUCCESS;
  }
  out.root = destPath && *destPath ? destPath : ".";
  out.rel = sanitizeName(e.name);
  return out.rel.empty() ? ERAR_ECREATE : ERAR_SUCCESS;
}

int prepareParent(const Destination& d, std::string& parentOut, FolderCache* cache) {
  std::string realRoot;
  if (cache) {
    auto it = cache->realRoots.find(d.root);
    if (it != cache->realRoots.end()) realRoot = it->second;
  }
  if (realRoot.empty()) {
    if (::mkdir(d.root.c_str(), 0777) != 0 && errno != EEXIST) return createError(errno);
    realRoot = realOf(d.root);
    if (realRoot.empty()) return ERAR_ECREATE;
    if (cache) cache->realRoots[d.root] = realRoot;
  }
  std::string cur = d.root;
  std::string parentRel = parentOf(d.rel);
  if (!parentRel.empty()) {
    for (const std::string& part : splitParts(parentRel)) {
      cur = joinPath(cur, part);
      if (cache && cache->checked.count(cur)) continue;
      if (::mkdir(cur.c_str(), 0777) != 0 && errno != EEXIST) return createError(errno);
      // A folder reached through a link must still be inside the root.
      if (!isInside(realRoot, realOf(cur))) return ERAR_ECREATE;
      if (cache) cache->checked.insert(cur);
    }
  }
  parentOut = cur;
  return ERAR_SUCCESS;
}

TempOutput::~TempOutput() {
  discard();
}

int TempOutput::create(const std::string& folder, unsigned mode) {
  folder_ = folder;
  // An unnamed file is named through /proc at commit; without /proc the
  // temporary name is used.
  static const bool procFd = ::access("/proc/self/fd", X_OK) == 0;
  if (procFd) {
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd_ >= 0) {
      unnamed_ = true;
      return ERAR_SUCCESS;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return createError(errno);
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp_ = tempNameIn(folder, "entry");
    fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                 static_cast<mode_t>(mode));
    if (fd_ >= 0) return ERAR_SUCCESS;
    if (errno != EEXIST) {
      int err = errno;
      temp_.clear();
      return createError(err);
    }
  }
  temp_.clear();
  return ERAR_ECREATE;
}

int TempOutput::write(const std::uint8_t* p, std::size_t n) {
  while (n) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return ERAR_EWRITE;
    p += w;
    n -= static_cast<std::size_t>(w);
  }
  return ERAR_SUCCESS;
}

namespace {

// Links the unnamed file `fd` in as `path`; -1 with errno set on failure.
// Linux 6.10 and later let the file's opener link it by its descriptor;
// older kernels want a capability for that and answer ENOENT or EPERM, so
// from the first such answer on the link goes through /proc/self/fd.
int linkUnnamed(int fd, const std::string& path) {
  static std::atomic<bool> byDescriptor{true};
  if (byDescriptor.load(std::memory_order_relaxed)) {
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return -1;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) return -1;
  byDescriptor.store(false, std::memory_order_relaxed);
  return 0;
}

}  // namespace

int TempOutput::commit(const std::string& finalPath, std::uint64_t mtime, std::uint64_t atime) {
  setTimes(fd_, nullptr, mtime, atime);
  if (unnamed_) {
    if (linkUnnamed(fd_, finalPath) != 0) {
      if (errno != EEXIST) {
        int err = errno;
        discard();
        return createError(err);
      }
      // Something is there already: give the file a temporary name beside it
      // and rename that over it, so the old file stays until the new one is whole.
      for (int attempt = 0; attempt < 16 && temp_.empty(); ++attempt) {
        std::string name = tempNameIn(folder_, "entry");
        if (linkUnnamed(fd_, name) == 0)
          temp_ = name;
        else if (errno != EEXIST)
          break;
      }
      if (temp_.empty()) {
        discard();
        return ERAR_ECREATE;
      }
      if (::rename(temp_.c_str(), finalPath.c_str()) != 0) {
        int err = errno;
        discard();
        return createError(err);
      }
      temp_.clear();
    }
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
      ::unlink(finalPath.c_str());
      return ERAR_EWRITE;
    }
    return ERAR_SUCCESS;
  }
  int rc = ::close(fd_);
  fd_ = -1;
  if (rc != 0) {
    discard();
    return ERAR_EWRITE;
  }
  if (::rename(temp_.c_str(), finalPath.c_str()) != 0) {
    int err = errno;
    discard();
    return createError(err);
  }
  temp_.clear();
  return ERAR_SUCCESS;
}

void TempOutput::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

int makeDirectories(const Destination& d, unsigned mode, std::uint64_t mtime, FolderCache* cache) {
  std::string parent;
  int rc = prepareParent(d, parent, cache);
  if (rc) return rc;
  std::string path = joinPath(parent, baseOf(d.rel));
  if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) {
    struct stat st {};
    if (errno != EEXIST || ::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return createError(errno);
  }
  setTimes(-1, path.c_str(), mtime, 0);
  return ERAR_SUCCESS;
}

int makeSymlink(const Destination& d, const std::string& target) {
  if (!linkTargetInside(parentOf(d.rel), target)) return ERAR_ECREATE;
  std::string parent;
  int rc = prepareParent(d, parent);
  if (rc) return rc;
  std::string tmp = tempNameIn(parent, baseOf(d.rel));
  if (::symlink(target.c_str(), tmp.c_str()) != 0) return createError(errno);
  std::string finalPath = joinPath(parent, baseOf(d.rel));
  if (::rename(tmp.c_str(), finalPath.c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return createError(err);
  }
  return ERAR_SUCCESS;
}

int makeHardLink(const Destination& d, const std::string& existing) {
  std::string parent;
  int rc = prepareParent(d, parent);
  if (rc) return rc;
  std::string tmp = tempNameIn(parent, baseOf(d.rel));
  if (::link(existing.c_str(), tmp.c_str()) != 0) return createError(errno);
  if (::rename(tmp.c_str(), joinPath(parent, baseOf(d.rel)).c_str()) != 0) {
    int err = errno;
    ::unlink(tmp.c_str());
    return createError(err);
  }
  return ERAR_SUCCESS;
}

unsigned fileMode(const Entry& e) {
  bool unixHost = e.rar5UnixHost || (!e.rar5CompInfo && e.isUnixHost());
  if (e.hostOS == 3 || e.hostOS == 5) unixHost = true;
  if (unixHost) return e.attr & 0777;
  return (e.attr & 0x01) ? 0444 : 0666;
}

unsigned directoryMode(const Entry& e) {
  if (e.hostOS == 3 || e.hostOS == 5) return (e.attr & 0777) | 0700;
  return 0777;
}

}  // namespace unrar
