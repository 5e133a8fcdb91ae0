#include "output/output.h"

#include <blake2.h>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <string_view>

#include "unrar.h"

namespace unrar {
namespace {

// Links followed in one walk before it is taken for a loop, as the kernel does.
constexpr int kMaxLinkExpansions = 40;
constexpr std::size_t kMaxTrees = 8;
// Marks, in a walk's stack of parts, where the text of a link ends.
const std::string kEndOfLink(1, '\0');

std::vector<std::string> splitParts(std::string_view s) {
  std::vector<std::string> parts;
  for (;;) {
    const std::size_t end = s.find('/');
    parts.emplace_back(s.substr(0, end));
    if (end == std::string_view::npos) return parts;
    s.remove_prefix(end + 1);
  }
}

// Pushes the parts of `path` so that the first is popped first.
void pushParts(std::vector<std::string>& stack, const std::string& path) {
  std::vector<std::string> parts = splitParts(path);
  stack.insert(stack.end(), parts.rbegin(), parts.rend());
}

// A part of a path below the destination as the system will read it: a zero
// would end it early ("..\0x" is ".."), an empty part would join two.
bool plainPart(std::string_view part) {
  return !part.empty() && part != "." && part != ".." && part.find('\0') == std::string_view::npos;
}

int createError(int err) {
  return err == ENOSPC || err == EDQUOT ? ERAR_EWRITE : ERAR_ECREATE;
}

int dupFd(int fd) {
  return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

// Temporary names say who made them, so that a sweep tells what a killed run
// left from a user's file and from a live extraction's:
// ".qmtmp-" SCOPE "-" BOOT "-" PID "-" START "-" RANDOM. SCOPE (16 hex digits)
// hashes the machine's id with the process id namespace, the realm where a
// process id names one process; BOOT (8) hashes the boot's id; PID and START
// are the process and its start in clock ticks after boot; RANDOM is ten of
// kTempDigits. No one types such a name by accident.
constexpr std::string_view kTempPrefix = ".qmtmp-";
constexpr std::size_t kScopeDigits = 16;
constexpr std::size_t kBootDigits = 8;
constexpr std::size_t kTempRandom = 10;
constexpr std::string_view kTempDigits = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::string_view kHexDigits = "0123456789abcdef";
// The machine's id must not be shown as it is: names carry it hashed with a key of our own.
constexpr std::string_view kNameKey = "quillmoss temporary names";

// The first line of a small file; empty when it cannot be read.
std::string firstLine(const char* path) {
  UniqueFd f(::open(path, O_RDONLY | O_CLOEXEC));
  char buf[256];
  const ssize_t n = f.valid() ? ::read(f.get(), buf, sizeof buf) : -1;
  if (n <= 0) return {};
  const std::string_view text(buf, static_cast<std::size_t>(n));
  return std::string(text.substr(0, text.find('\n')));
}

std::string keyedHex(const std::string& text, std::size_t digits) {
  std::uint8_t h[32];
  ::blake2s(h, text.data(), kNameKey.data(), sizeof h, text.size(), kNameKey.size());
  std::string s;
  for (std::size_t i = 0; i < digits / 2; ++i) {
    s += kHexDigits[h[i] >> 4];
    s += kHexDigits[h[i] & 15];
  }
  return s;
}

enum class Liveness { Alive, Gone, Unknown };

// From /proc/<pid>/stat: the process's start in clock ticks after boot, or
// that there is no such process.
Liveness processStart(long pid, unsigned long long& start) {
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  UniqueFd f(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  char buf[1024];
  const ssize_t n = f.valid() ? ::read(f.get(), buf, sizeof buf - 1) : -1;
  if (n < 0 && (errno == ENOENT || errno == ESRCH)) return Liveness::Gone;
  if (n <= 0) return Liveness::Unknown;
  buf[n] = '\0';
  const std::string_view stat(buf, static_cast<std::size_t>(n));
  // The fields after the command name, which may hold anything but ends at
  // the last ')': state is field 3, the start time field 22.
  std::size_t at = stat.rfind(')');
  for (int field = 2; field < 22 && at != std::string_view::npos; ++field)
    at = stat.find(' ', at + 1);
  if (at == std::string_view::npos) return Liveness::Unknown;
  start = std::strtoull(buf + at + 1, nullptr, 10);
  return Liveness::Alive;
}

// True only when `owner` is certainly gone, as `me` sees it: of the same
// realm, and of an earlier boot, or no process of its id started when it did.
// Where /proc cannot tell, it is not.
bool ownerGone(const TempOwner& owner, const TempOwner& me) {
  if (owner.scope != me.scope) return false;
  if (owner.boot != me.boot) return true;
  unsigned long long start = 0;
  const Liveness l = processStart(owner.pid, start);
  return l == Liveness::Gone || (l == Liveness::Alive && start != owner.start);
}

// A run of `count` characters from `digits` at the front of `s`, taken off it
// with the "-" that follows when `dash`.
bool takeField(std::string_view& s, std::string_view digits, std::size_t count, bool dash,
               std::string_view& field) {
  if (s.size() < count + (dash ? 1 : 0) || (dash && s[count] != '-')) return false;
  field = s.substr(0, count);
  if (field.find_first_not_of(digits) != std::string_view::npos) return false;
  s.remove_prefix(count + (dash ? 1 : 0));
  return true;
}

template <typename T>
bool takeNumber(std::string_view& s, T& value) {
  const std::size_t dash = s.find('-');
  if (dash == 0 || dash == std::string_view::npos || (s[0] == '0' && dash > 1)) return false;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + dash, value);
  if (ec != std::errc() || end != s.data() + dash) return false;
  s.remove_prefix(dash + 1);
  return true;
}

// A new temporary name of this process; one no sweep removes where the
// system cannot say who the process is.
std::string newTempName() {
  static const TempOwner kUnknown{std::string(kScopeDigits, '0'), std::string(kBootDigits, '0'), 0,
                                  0};
  TempOwner me = thisProcess().value_or(kUnknown);
  if (me.pid == 0) me.pid = ::getpid();
  return tempName(me);
}

// The file or link a gone process left under `name` in `dir` is removed,
// unless it is no longer one of this user's, or some live process holds a
// lock on it (as every writer of a temporary file does) or it cannot be locked.
void removeLeftover(int dir, const std::string& name) {
  struct stat t {};
  if (::fstatat(dir, name.c_str(), &t, AT_SYMLINK_NOFOLLOW) != 0 || t.st_uid != ::geteuid()) return;
  if (S_ISREG(t.st_mode)) {
    UniqueFd file(
        ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat o {};
    struct flock lock {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    if (!file.valid() || ::fstat(file.get(), &o) != 0 || o.st_dev != t.st_dev ||
        o.st_ino != t.st_ino || ::fcntl(file.get(), F_OFD_SETLK, &lock) != 0)
      return;
    ::unlinkat(dir, name.c_str(), 0);
  } else if (S_ISLNK(t.st_mode)) {
    // A link lives under a temporary name only between two calls of its maker.
    ::unlinkat(dir, name.c_str(), 0);
  }
}

std::string joinRel(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  return a + "/" + b;
}

timespec toTimespec(std::uint64_t ft) {
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
}

// The text of the link open (O_PATH) as `fd`; empty on failure.
std::string readLink(int fd) {
  std::string buf(PATH_MAX, '\0');
  ssize_t n = ::readlinkat(fd, "", buf.data(), buf.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return {};
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

// Opens `path` below `dir` with no link followed and nothing above `dir`
// reached, in one step (openat2, Linux 5.6 and later). -1 with errno ENOSYS
// where the kernel has no openat2.
int openBeneathNoLinks(int dir, const std::string& path, int flags) {
  static std::atomic<bool> available{true};
  if (!available.load(std::memory_order_relaxed)) {
    errno = ENOSYS;
    return -1;
  }
  open_how how{};
  how.flags = static_cast<std::uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const int fd = static_cast<int>(::syscall(SYS_openat2, dir, path.c_str(), &how, sizeof how));
  if (fd < 0 && errno == ENOSYS) available.store(false, std::memory_order_relaxed);
  return fd;
}

bool sameFile(int a, int b) {
  struct stat sa {
  }, sb{};
  return ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Links the open file `fd` in as `name` in `dir`; -1 with errno set on failure.
// Linux 6.10 and later let the file's opener link it by its descriptor;
// older kernels want a capability for that and answer ENOENT or EPERM, so
// from the first such answer on the link goes through /proc/self/fd.
int linkByDescriptor(int fd, int dir, const std::string& name) {
  static std::atomic<bool> byDescriptor{true};
  if (byDescriptor.load(std::memory_order_relaxed)) {
    if (::linkat(fd, "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return 0;
    if (errno != ENOENT && errno != EPERM && errno != EINVAL) return -1;
  }
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) != 0) return -1;
  byDescriptor.store(false, std::memory_order_relaxed);
  return 0;
}

// Puts what `make(tempName)` creates in `dir` at `base`, replacing what is there.
template <typename Make>
int putInPlace(int dir, const std::string& base, Make make) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::string tmp = newTempName();
    if (make(tmp) != 0) {
      if (errno == EEXIST) continue;
      return createError(errno);
    }
    if (::renameat(dir, tmp.c_str(), dir, base.c_str()) != 0) {
      int err = errno;
      ::unlinkat(dir, tmp.c_str(), 0);
      return createError(err);
    }
    // A rename onto another name of the same file does nothing and leaves
    // the temporary name (a hard link made twice).
    ::unlinkat(dir, tmp.c_str(), 0);
    return ERAR_SUCCESS;
  }
  return ERAR_ECREATE;
}

}  // namespace

std::optional<TempOwner> thisProcess() {
  struct Realm {
    std::string scope, boot;
  };
  static const std::optional<Realm> realm = []() -> std::optional<Realm> {
    // An image not yet booted once may hold "uninitialized", the same in every copy.
    const auto machineId = [](const char* path) {
      std::string id = firstLine(path);
      return id.size() == 32 && id.find_first_not_of(kHexDigits) == std::string::npos
                 ? id
                 : std::string();
    };
    std::string machine = machineId("/etc/machine-id");
    if (machine.empty()) machine = machineId("/var/lib/dbus/machine-id");
    const std::string boot = firstLine("/proc/sys/kernel/random/boot_id");
    std::string ns(64, '\0');
    const ssize_t n = ::readlink("/proc/self/ns/pid", ns.data(), ns.size());
    if (machine.empty() || boot.empty() || n <= 0) return std::nullopt;
    ns.resize(static_cast<std::size_t>(n));
    return Realm{keyedHex(machine + "\n" + ns, kScopeDigits), keyedHex(boot, kBootDigits)};
  }();
  const long pid = ::getpid();
  unsigned long long start = 0;
  if (!realm || processStart(pid, start) != Liveness::Alive) return std::nullopt;
  return TempOwner{realm->scope, realm->boot, pid, start};
}

std::string tempName(const TempOwner& owner) {
  static thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string s = std::string(kTempPrefix) + owner.scope + "-" + owner.boot + "-" +
                  std::to_string(owner.pid) + "-" + std::to_string(owner.start) + "-";
  for (std::size_t i = 0; i < kTempRandom; ++i) s += kTempDigits[rng() % kTempDigits.size()];
  return s;
}

std::optional<TempOwner> tempOwner(std::string_view name) {
  if (name.substr(0, kTempPrefix.size()) != kTempPrefix) return std::nullopt;
  name.remove_prefix(kTempPrefix.size());
  std::string_view scope, boot, random;
  TempOwner owner;
  if (!takeField(name, kHexDigits, kScopeDigits, true, scope) ||
      !takeField(name, kHexDigits, kBootDigits, true, boot) || !takeNumber(name, owner.pid) ||
      !takeNumber(name, owner.start) || owner.pid <= 0 ||
      !takeField(name, kTempDigits, kTempRandom, false, random) || !name.empty())
    return std::nullopt;
  owner.scope = scope;
  owner.boot = boot;
  return owner;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

std::string sanitizeName(const std::string& stored) {
  std::string_view s = stored;
  // Drive letters ("C:") are dropped with the separators that follow them.
  if (s.size() >= 2 && s[1] == ':' &&
      ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z')))
    s.remove_prefix(2);
  std::string out;
  out.reserve(s.size());
  while (!s.empty()) {
    const std::size_t end = std::min(s.find('/'), s.size());
    const std::string_view part = s.substr(0, end);
    s.remove_prefix(std::min(end + 1, s.size()));
    if (part.empty() || part == "." || part == "..") continue;
    if (!out.empty()) out += '/';
    out += part;
  }
  return out;
}

// ---------------------------------------------------------------- OutputTree

int OutputTree::open(const std::string& root) {
  root_ = root;
  if (::mkdir(root.c_str(), 0777) != 0 && errno != EEXIST) return createError(errno);
  rootFd_.reset(::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  return rootFd_.valid() ? ERAR_SUCCESS : createError(errno);
}

int OutputTree::walk(Folder& at, std::vector<std::string> stack, bool create,
                     unsigned lastMode) const {
  int expansions = 0;
  int creations = 0;
  while (!stack.empty()) {
    std::string part = std::move(stack.back());
    stack.pop_back();
    // Whatever the readers let through, a part is opened only as it is checked.
    if (part.find('\0') != std::string::npos) return ERAR_ECREATE;
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      // Only a link's text can climb; never above the destination.
      if (at.depth == 0) return ERAR_ECREATE;
      int up = ::openat(at.fd.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (up < 0) return createError(errno);
      at.fd.reset(up);
      const std::size_t slash = at.physical.rfind('/');
      at.physical.resize(slash == std::string::npos ? 0 : slash);
      --at.depth;
      continue;
    }
    int fd = ::openat(at.fd.get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT || !create || ++creations > 2) return createError(errno);
      const mode_t mode = static_cast<mode_t>(stack.empty() ? lastMode : 0777);
      if (::mkdirat(at.fd.get(), part.c_str(), mode) != 0 && errno != EEXIST)
        return createError(errno);
      stack.push_back(std::move(part));
      continue;
    }
    UniqueFd next(fd);
    creations = 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return createError(errno);
    if (S_ISDIR(st.st_mode)) {
      at.fd = std::move(next);
      if (!at.physical.empty()) at.physical += '/';
      at.physical += part;
      ++at.depth;
      continue;
    }
    if (!S_ISLNK(st.st_mode) || ++expansions > kMaxLinkExpansions) return ERAR_ECREATE;
    // A link on the way is walked as the kernel would resolve it, from the
    // folder it is in; an absolute one leaves the destination by definition.
    std::string target = readLink(fd);
    if (target.empty() || target[0] == '/') return ERAR_ECREATE;
    pushParts(stack, target);
  }
  if (expansions > 0) {
    // Links were followed: where the kernel can, it confirms that the folder
    // reached is physically below the destination, through real folders.
    UniqueFd check(openBeneathNoLinks(rootFd_.get(), at.physical.empty() ? "." : at.physical,
                                      O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (check.valid() ? !sameFile(check.get(), at.fd.get()) : errno != ENOSYS) return ERAR_ECREATE;
  }
  return ERAR_SUCCESS;
}

int OutputTree::folder(const std::string& rel, unsigned lastMode, const Folder*& out) {
  if (haveCache_ && rel == cachedRel_) {
    out = &cached_;
    return ERAR_SUCCESS;
  }
  Folder at;
  std::string rest = rel;
  if (haveCache_ && rel.size() > cachedRel_.size() &&
      (cachedRel_.empty() ||
       (rel.compare(0, cachedRel_.size(), cachedRel_) == 0 && rel[cachedRel_.size()] == '/'))) {
    at.fd.reset(dupFd(cached_.fd.get()));
    at.physical = cached_.physical;
    at.depth = cached_.depth;
    rest = rel.substr(cachedRel_.empty() ? 0 : cachedRel_.size() + 1);
  } else {
    at.fd.reset(dupFd(rootFd_.get()));
  }
  if (!at.fd.valid()) return createError(errno);
  std::vector<std::string> stack;
  if (!rest.empty()) pushParts(stack, rest);
  // The entry's own parts: only a link's text may have empty or "." parts.
  for (const std::string& part : stack)
    if (!plainPart(part)) return ERAR_ECREATE;
  int rc = walk(at, std::move(stack), true, lastMode);
  if (rc) return rc;
  cached_ = std::move(at);
  cachedRel_ = rel;
  haveCache_ = true;
  out = &cached_;
  return ERAR_SUCCESS;
}

void OutputTree::replaced(const std::string& rel) {
  if (!haveCache_) return;
  if (cachedRel_ == rel ||
      (cachedRel_.size() > rel.size() && cachedRel_.compare(0, rel.size(), rel) == 0 &&
       cachedRel_[rel.size()] == '/'))
    haveCache_ = false;
}

void OutputTree::sweepOnce(const Folder& f) {
  struct stat st {};
  if (::fstat(f.fd.get(), &st) != 0 || !swept_.insert({st.st_dev, st.st_ino}).second) return;
  const std::optional<TempOwner> me = thisProcess();
  if (!me) return;
  UniqueFd dir(::openat(f.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!dir.valid()) return;
  DIR* listing = ::fdopendir(dir.get());
  if (!listing) return;
  const int fd = dir.release();
  std::vector<std::string> left;
  while (const dirent* e = ::readdir(listing)) {
    const std::optional<TempOwner> owner = tempOwner(e->d_name);
    if (owner && ownerGone(*owner, *me)) left.emplace_back(e->d_name);
  }
  for (const std::string& name : left) removeLeftover(fd, name);
  ::closedir(listing);
}

bool OutputTree::linkStaysInside(const Folder& in, const std::string& target) const {
  // A zero would cut the text the link is made with short of the text checked;
  // no system takes a link text of PATH_MAX or more.
  if (target.empty() || target[0] == '/' || target.size() >= PATH_MAX ||
      target.find('\0') != std::string::npos)
    return false;
  UniqueFd at(dupFd(in.fd.get()));
  if (!at.valid()) return false;
  std::size_t depth = in.depth;
  // While the walk has passed real folders only, where it is cannot change;
  // after a link or a missing part it is only known to be somewhere inside.
  bool exact = true;
  bool missing = false;
  int expansions = 0;
  std::vector<std::string> stack;
  pushParts(stack, target);
  while (!stack.empty()) {
    std::string part = std::move(stack.back());
    stack.pop_back();
    if (part == kEndOfLink) {
      exact = false;
      continue;
    }
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!exact || depth == 0) return false;
      int up = ::openat(at.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (up < 0) return false;
      at.reset(up);
      --depth;
      continue;
    }
    if (missing) continue;
    int fd = ::openat(at.get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
      if (fd >= 0) ::close(fd);
      missing = true;
      exact = false;
      continue;
    }
    UniqueFd next(fd);
    if (S_ISDIR(st.st_mode)) {
      at = std::move(next);
      ++depth;
    } else if (S_ISLNK(st.st_mode)) {
      if (++expansions > kMaxLinkExpansions) return false;
      std::string text = readLink(fd);
      if (text.empty() || text[0] == '/') return false;
      stack.push_back(kEndOfLink);
      pushParts(stack, text);
    } else {
      // A file may later be replaced by a link.
      missing = true;
      exact = false;
    }
  }
  return true;
}

void OutputTree::setFolderTime(const std::string& rel, std::uint64_t mtime) {
  Folder at;
  at.fd.reset(dupFd(rootFd_.get()));
  const std::size_t slash = rel.rfind('/');
  const std::string base = slash == std::string::npos ? rel : rel.substr(slash + 1);
  std::vector<std::string> stack;
  if (slash != std::string::npos) pushParts(stack, rel.substr(0, slash));
  struct stat st {};
  if (mtime == 0 || !at.fd.valid() || !plainPart(base) || walk(at, std::move(stack), false, 0) ||
      ::fstatat(at.fd.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
    return;
  const timespec t[2] = {toTimespec(mtime), toTimespec(mtime)};
  ::utimensat(at.fd.get(), base.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

int OutputTree::openRecorded(const std::string& physical, dev_t dev, ino_t ino,
                             UniqueFd& out) const {
  // O_NONBLOCK: whatever may have taken the file's place, opening it must not wait.
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  // Where the kernel has openat2 it resolves the whole path; otherwise the
  // same walk goes part by part.
  UniqueFd f(openBeneathNoLinks(rootFd_.get(), physical, kFlags));
  if (!f.valid() && errno == ENOSYS) {
    std::vector<std::string> parts = splitParts(physical);
    UniqueFd at(dupFd(rootFd_.get()));
    if (!at.valid()) return ERAR_EREFERENCE;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
      UniqueFd next(::openat(at.get(), parts[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
      struct stat st {};
      if (!next.valid() || ::fstat(next.get(), &st) != 0 || !S_ISDIR(st.st_mode))
        return ERAR_EREFERENCE;
      at = std::move(next);
    }
    f.reset(::openat(at.get(), parts.back().c_str(), kFlags));
  }
  struct stat st {};
  if (!f.valid() || ::fstat(f.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != dev ||
      st.st_ino != ino)
    return ERAR_EREFERENCE;
  out = std::move(f);
  return ERAR_SUCCESS;
}

// ---------------------------------------------------------------- OutputSet

std::string Destination::parentRel() const {
  std::size_t s = rel.rfind('/');
  return s == std::string::npos ? std::string() : rel.substr(0, s);
}

std::string Destination::base() const {
  std::size_t s = rel.rfind('/');
  return s == std::string::npos ? rel : rel.substr(s + 1);
}

int OutputSet::tree(const std::string& root, std::shared_ptr<OutputTree>& out) {
  for (std::size_t i = 0; i < trees_.size(); ++i) {
    if (trees_[i]->root() != root) continue;
    out = trees_[i];
    std::rotate(trees_.begin() + static_cast<std::ptrdiff_t>(i),
                trees_.begin() + static_cast<std::ptrdiff_t>(i) + 1, trees_.end());
    return ERAR_SUCCESS;
  }
  auto t = std::make_shared<OutputTree>();
  int rc = t->open(root);
  if (rc) return rc;
  if (trees_.size() >= kMaxTrees) trees_.erase(trees_.begin());
  trees_.push_back(t);
  out = t;
  return ERAR_SUCCESS;
}

int OutputSet::destination(const char* destPath, const char* destName, const std::string& name,
                           Destination& out) {
  std::string root;
  if (destName && *destName) {
    std::string dn = destName;
    std::size_t s = dn.rfind('/');
    if (s == std::string::npos) {
      root = ".";
      out.rel = dn;
    } else {
      root = s == 0 ? "/" : dn.substr(0, s);
      out.rel = dn.substr(s + 1);
    }
    if (out.rel.empty() || out.rel == "." || out.rel == "..") return ERAR_ECREATE;
  } else {
    root = destPath && *destPath ? destPath : ".";
    out.rel = sanitizeName(name);
    if (out.rel.empty()) return ERAR_ECREATE;
  }
  // A temporary name is refused too: a later sweep could take it for a leftover.
  for (const std::string& part : splitParts(out.rel))
    if (!plainPart(part) || tempOwner(part)) return ERAR_ECREATE;
  // A path the system cannot name could not be opened, checked or removed
  // later; refused before anything is made.
  if (root.size() + 1 + out.rel.size() >= PATH_MAX) return ERAR_ECREATE;
  return tree(root, out.tree);
}

void OutputSet::recordFile(const std::string& name, const Destination& d,
                           const std::string& folderPhysical, dev_t dev, ino_t ino) {
  written_[name] = Written{d.tree->root(), joinRel(folderPhysical, d.base()), dev, ino};
}

void OutputSet::recordFolderTime(const Destination& d, std::uint64_t mtime) {
  if (mtime) folderTimes_.push_back({d.tree, d.rel, mtime});
}

void OutputSet::finish() {
  // The deepest first, though a folder's time does not change its parent's.
  for (auto it = folderTimes_.rbegin(); it != folderTimes_.rend(); ++it)
    it->tree->setFolderTime(it->rel, it->mtime);
  folderTimes_.clear();
}

int OutputSet::openWritten(const std::string& name, UniqueFd& out) {
  auto it = written_.find(name);
  if (it == written_.end()) return ERAR_EREFERENCE;
  std::shared_ptr<OutputTree> t;
  if (tree(it->second.root, t)) return ERAR_EREFERENCE;
  return t->openRecorded(it->second.physical, it->second.dev, it->second.ino, out);
}

// ---------------------------------------------------------------- TempOutput

TempOutput::~TempOutput() {
  discard();
}

int TempOutput::create(const Folder& folder, unsigned mode) {
  dir_.reset(dupFd(folder.fd.get()));
  if (!dir_.valid()) return createError(errno);
  physicalFolder_ = folder.physical;
  // An unnamed file is named through its descriptor or /proc at commit;
  // without /proc the temporary name is used.
  static const bool procFd = ::access("/proc/self/fd", X_OK) == 0;
  if (procFd) {
    fd_ = ::openat(dir_.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd_ >= 0) {
      unnamed_ = true;
      return ERAR_SUCCESS;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return createError(errno);
  }
  for (int attempt = 0; attempt < 16; ++attempt) {
    temp_ = newTempName();
    fd_ = ::openat(dir_.get(), temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                   static_cast<mode_t>(mode));
    if (fd_ >= 0) {
      // Held while the file is written: a sweep leaves a file it cannot lock.
      // Where the file system has no locks, no sweep can take one either.
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      ::fcntl(fd_, F_OFD_SETLK, &lock);
      return ERAR_SUCCESS;
    }
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

int TempOutput::appendFrom(int source, std::uint64_t offset, std::size_t n) {
  bool first = true;
  auto in = static_cast<off64_t>(offset);
  while (n) {
    const ssize_t w = ::copy_file_range(source, &in, fd_, nullptr, n, 0);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && first &&
        (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS ||
         errno == EBADF))
      return kCannotCopy;
    if (w < 0) return ERAR_EWRITE;
    if (w == 0) return ERAR_BAD_DATA;
    first = false;
    n -= static_cast<std::size_t>(w);
  }
  return ERAR_SUCCESS;
}

TempOutput::View::View(int fd, std::uint64_t offset, std::size_t n) {
  void* p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, static_cast<off_t>(offset));
  if (p == MAP_FAILED) return;
  data_ = static_cast<std::uint8_t*>(p);
  size_ = n;
}

TempOutput::View::~View() {
  if (data_) ::munmap(data_, size_);
}

int TempOutput::commit(const std::string& base, std::uint64_t mtime, std::uint64_t atime) {
  const timespec t[2] = {toTimespec(atime ? atime : mtime), toTimespec(mtime)};
  ::futimens(fd_, t);
  struct stat st {};
  if (::fstat(fd_, &st) == 0) {
    dev_ = st.st_dev;
    ino_ = st.st_ino;
  }
  if (unnamed_) {
    if (linkByDescriptor(fd_, dir_.get(), base) != 0) {
      if (errno != EEXIST) {
        int err = errno;
        discard();
        return createError(err);
      }
      // Something is there already: the file gets a temporary name beside it
      // and replaces it by a rename, so the old file stays until the new one is whole.
      int rc = putInPlace(dir_.get(), base, [&](const std::string& tmp) {
        return linkByDescriptor(fd_, dir_.get(), tmp);
      });
      if (rc) {
        discard();
        return rc;
      }
    }
    int rc = ::close(fd_);
    fd_ = -1;
    if (rc != 0) {
      ::unlinkat(dir_.get(), base.c_str(), 0);
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
  if (::renameat(dir_.get(), temp_.c_str(), dir_.get(), base.c_str()) != 0) {
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
  if (!temp_.empty() && dir_.valid()) ::unlinkat(dir_.get(), temp_.c_str(), 0);
  temp_.clear();
}

// ---------------------------------------------------------------- entries

int entryFolder(const Destination& d, const Folder*& out) {
  const int rc = d.tree->folder(d.parentRel(), 0777, out);
  if (!rc) d.tree->sweepOnce(*out);
  return rc;
}

int makeDirectories(const Destination& d, unsigned mode, std::uint64_t mtime) {
  const Folder* in = nullptr;
  int rc = entryFolder(d, in);
  if (rc) return rc;
  const std::string base = d.base();
  if (::mkdirat(in->fd.get(), base.c_str(), static_cast<mode_t>(mode)) != 0) {
    if (errno != EEXIST) return createError(errno);
    struct stat st {};
    if (::fstatat(in->fd.get(), base.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
      return createError(errno);
    if (!S_ISDIR(st.st_mode)) {
      // A link to a folder inside will do; its folder's times are not ours.
      const Folder* through = nullptr;
      return S_ISLNK(st.st_mode) ? d.tree->folder(d.rel, mode, through) : ERAR_ECREATE;
    }
  }
  const timespec t[2] = {toTimespec(mtime), toTimespec(mtime)};
  ::utimensat(in->fd.get(), base.c_str(), t, AT_SYMLINK_NOFOLLOW);
  return ERAR_SUCCESS;
}

int makeSymlink(const Destination& d, const std::string& target) {
  const Folder* in = nullptr;
  int rc = entryFolder(d, in);
  if (rc) return rc;
  if (!d.tree->linkStaysInside(*in, target)) return ERAR_ECREATE;
  const int dir = in->fd.get();
  rc = putInPlace(dir, d.base(), [&](const std::string& tmp) {
    return ::symlinkat(target.c_str(), dir, tmp.c_str());
  });
  d.tree->replaced(d.rel);
  return rc;
}

int makeHardLink(const Destination& d, int source) {
  const Folder* in = nullptr;
  int rc = entryFolder(d, in);
  if (rc) return rc;
  const int dir = in->fd.get();
  rc = putInPlace(dir, d.base(),
                  [&](const std::string& tmp) { return linkByDescriptor(source, dir, tmp); });
  d.tree->replaced(d.rel);
  return rc;
}

unsigned fileMode(const Entry& e) {
  bool unixHost = e.rar5UnixHost || (!e.rar5CompInfo && e.isUnixHost());
  if (e.isUnixHost()) unixHost = true;
  if (unixHost) return e.attr & 0777;
  return (e.attr & 0x01) ? 0444 : 0666;
}

unsigned directoryMode(const Entry& e) {
  if (e.isUnixHost()) return (e.attr & 0777) | 0700;
  return 0777;
}

}  // namespace unrar
