// Writing entries to disk without ever leaving the destination folder, and
// without leaving a partial file behind.
//
// The destination folder is held open by descriptor, and every folder, file
// and link is made relative to a descriptor reached from it one part at a
// time (O_PATH | O_NOFOLLOW), so no path is ever resolved twice and no link
// is followed blindly: a link met on the way is read and its target walked
// the same way, and a walk that would climb above the destination stops.
// Each file is written unnamed (or under a temporary name) in its folder and
// gets its name only once it is verified.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/rar_entry.h"

namespace unrar {

// The stored name ("/" separated) made safe: no drive letter, no empty, "."
// or ".." parts. Empty when nothing is left.
std::string sanitizeName(const std::string& stored);

// Who made a file under a temporary name: the realm where its process id
// means one process (the machine and its process id namespace, hashed), the
// boot (hashed), the process and its start in clock ticks after boot.
struct TempOwner {
  std::string scope;
  std::string boot;
  long pid = 0;
  unsigned long long start = 0;
};
// This process; none where the system cannot say (no machine id or /proc),
// and then its temporary names are never swept and it sweeps nothing.
std::optional<TempOwner> thisProcess();
// A new temporary name made by `owner`.
std::string tempName(const TempOwner& owner);
// The maker a temporary name carries; none for any name not of that exact form.
std::optional<TempOwner> tempOwner(std::string_view name);

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A folder below the destination: its descriptor and where it physically is,
// as the "/" separated real folders from the destination to it (no links).
struct Folder {
  UniqueFd fd;
  std::string physical;
  std::size_t depth = 0;
};

// One destination folder, held open for the whole extraction.
class OutputTree {
 public:
  // Creates the folder if it is missing (not its parents) and opens it.
  // Returns 0 or ERAR_ECREATE / ERAR_EWRITE.
  int open(const std::string& root);
  const std::string& root() const { return root_; }

  // The folder `rel` ("/" separated, sanitized; empty: the destination
  // itself), with what is missing made as real folders (`lastMode` for the
  // last one). Links on the way are followed only while they stay inside.
  // The answer stays valid until the next call.
  int folder(const std::string& rel, unsigned lastMode, const Folder*& out);
  // An entry was put at `rel`: a walk through it may now end elsewhere.
  void replaced(const std::string& rel);

  // Once per folder: removes what a killed run left in `f` where the file
  // system has no unnamed files: this user's files and links under a
  // temporary name of this realm whose maker is certainly gone (of an earlier
  // boot, or no process of its id started when it did), each file only when
  // it can be locked (no live writer holds it). Where in doubt, it stays.
  void sweepOnce(const Folder& f);

  // True when a link in `in` with text `target` resolves inside the
  // destination now and whatever later entries of the archive put on disk:
  // it climbs ("..") only through real folders, never after a link or a part
  // that does not exist yet, which later entries could make into links.
  bool linkStaysInside(const Folder& in, const std::string& target) const;

  // Gives the folder at `rel` (sanitized) the time `mtime`, when it is still
  // a real folder reached the way entries are.
  void setFolderTime(const std::string& rel, std::uint64_t mtime);

  // Opens a file by its physical place without following any link; fails
  // unless it is still the regular file (device, inode) recorded.
  int openRecorded(const std::string& physical, dev_t dev, ino_t ino, UniqueFd& out) const;

 private:
  // Walks `parts` from `at`; creates missing folders when `create`.
  int walk(Folder& at, std::vector<std::string> parts, bool create, unsigned lastMode) const;

  std::string root_;
  UniqueFd rootFd_;
  // The folder of the last entry: an archive lists a folder's files together,
  // so most entries need no walk at all, and a deep folder costs its depth
  // once, not once per level.
  std::string cachedRel_;
  Folder cached_;
  bool haveCache_ = false;
  std::set<std::pair<dev_t, ino_t>> swept_;
};

// The destination of an entry: the tree and the path below its root.
struct Destination {
  std::shared_ptr<OutputTree> tree;
  std::string rel;  // sanitized, "/" separated, non-empty
  std::string parentRel() const;
  std::string base() const;
};

// The destination folders of one extraction, and the files written so far.
class OutputSet {
 public:
  // Builds the destination from DestPath/DestName and the entry's name.
  // Returns 0 or an ERAR_* code.
  int destination(const char* destPath, const char* destName, const std::string& name,
                  Destination& out);

  struct Written {
    std::string root;
    std::string physical;
    dev_t dev = 0;
    ino_t ino = 0;
  };
  // Remembers the regular file (dev, ino) just put at `d`, in the folder
  // physically at `folderPhysical`.
  void recordFile(const std::string& name, const Destination& d, const std::string& folderPhysical,
                  dev_t dev, ino_t ino);
  void forget(const std::string& name) { written_.erase(name); }
  // A folder entry's time is set once everything is written, as writing into
  // a folder changes its time: `finish` sets the times recorded here.
  void recordFolderTime(const Destination& d, std::uint64_t mtime);
  void finish();
  // Opens a file this extraction wrote under the (sanitized) entry name.
  // Returns 0, ERAR_EREFERENCE when there is none or it has been replaced since.
  int openWritten(const std::string& name, UniqueFd& out);

 private:
  int tree(const std::string& root, std::shared_ptr<OutputTree>& out);

  // A caller naming each file with DestName may use many folders: only the
  // last few stay open.
  std::vector<std::shared_ptr<OutputTree>> trees_;
  std::map<std::string, Written> written_;
  struct FolderTime {
    std::shared_ptr<OutputTree> tree;
    std::string rel;
    std::uint64_t mtime = 0;
  };
  std::vector<FolderTime> folderTimes_;
};

// An output file that gets its name only when it is complete: an unnamed
// file in its target folder (O_TMPFILE), linked in at commit; where the file
// system has no unnamed files, a file under a temporary name, renamed at commit.
class TempOutput {
 public:
  TempOutput() = default;
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // mode: permission bits for the new file (the umask applies).
  int create(const Folder& folder, unsigned mode);
  int write(const std::uint8_t* p, std::size_t n);

  // Whether the file can take bytes straight from another file and show them
  // back mapped: only an unnamed file, which no other process can find to
  // cut short under the mapping.
  bool canCopyInKernel() const { return unnamed_; }
  // Appends n bytes of `source` from `offset`, copied by the kernel without
  // passing through this process. Returns 0, ERAR_EWRITE when the file
  // system refuses them (full, quota), ERAR_BAD_DATA when the source ends
  // first, or kCannotCopy when nothing was copied because the kernel cannot
  // copy between these two files (the caller then writes them itself).
  static constexpr int kCannotCopy = -1;
  int appendFrom(int source, std::uint64_t offset, std::size_t n);
  // The bytes written at [offset, offset + n), mapped for reading; offset is
  // a multiple of the page size. Copy-on-write: a change made through it
  // never reaches the file. Null when the mapping fails.
  class View {
   public:
    View(int fd, std::uint64_t offset, std::size_t n);
    ~View();
    View(const View&) = delete;
    View& operator=(const View&) = delete;
    const std::uint8_t* data() const { return data_; }

   private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
  };
  View view(std::uint64_t offset, std::size_t n) const { return View(fd_, offset, n); }
  // Sets the times and gives the file the name `base` in its folder,
  // replacing what is there.
  int commit(const std::string& base, std::uint64_t mtime, std::uint64_t atime);
  void discard();
  // The committed file and where its folder is.
  dev_t dev() const { return dev_; }
  ino_t ino() const { return ino_; }
  const std::string& physicalFolder() const { return physicalFolder_; }

 private:
  int fd_ = -1;
  UniqueFd dir_;
  std::string physicalFolder_;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
  bool unnamed_ = false;
  std::string temp_;  // a name in dir_
};

// Creates a folder and every missing parent; `mode` for the last one.
int makeDirectories(const Destination& d, unsigned mode, std::uint64_t mtime);
// Refused with ERAR_ECREATE when the link could lead out of the destination.
int makeSymlink(const Destination& d, const std::string& target);
// Links `source` (an open regular file) in at `d`.
int makeHardLink(const Destination& d, int source);
// The folder an entry's file goes into, made if missing.
int entryFolder(const Destination& d, const Folder*& out);

// Permission bits for a new file or folder from the stored attributes.
unsigned fileMode(const Entry& e);
unsigned directoryMode(const Entry& e);

}  // namespace unrar
