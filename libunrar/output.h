// Writing entries to disk without ever leaving the destination folder, and
// without leaving a partial file behind: each entry is written under a
// temporary name beside its target and renamed over it once it is verified.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "rar_entry.h"

namespace unrar {

// The stored name made safe: "/" separated parts without drive letters,
// empty, "." or ".." parts. Empty when nothing is left.
std::string sanitizeName(const std::string& stored);

// True when `target`, resolved from the folder `linkDir` (both relative to the
// destination root, "/" separated), stays inside the root.
bool linkTargetInside(const std::string& linkDir, const std::string& target);

// Where an entry goes: the root that nothing may escape and the path below it.
struct Destination {
  std::string root;  // an existing or creatable folder
  std::string rel;   // sanitized, "/" separated, non-empty
};

// Builds the destination from DestPath/DestName. Returns 0 or an ERAR_* code.
int makeDestination(const char* destPath, const char* destName, const Entry& e, Destination& out);

// Folders already created and checked during one extraction, with the
// resolved roots. Only this library's own entries change the tree meanwhile,
// and none of them can turn a folder into a link.
struct FolderCache {
  std::map<std::string, std::string> realRoots;
  std::set<std::string> checked;
};

// Creates the parent folders of `d` and checks that they resolve inside the
// root. Returns 0 or ERAR_ECREATE.
int prepareParent(const Destination& d, std::string& parentOut, FolderCache* cache = nullptr);

std::string joinPath(const std::string& a, const std::string& b);

// An output file under a temporary name in its target folder.
class TempOutput {
 public:
  TempOutput() = default;
  ~TempOutput();
  TempOutput(const TempOutput&) = delete;
  TempOutput& operator=(const TempOutput&) = delete;

  // mode: permission bits for the new file (the umask applies).
  int create(const std::string& folder, unsigned mode);
  int write(const std::uint8_t* p, std::size_t n);
  // Sets the times, closes and renames over `finalPath`.
  int commit(const std::string& finalPath, std::uint64_t mtime, std::uint64_t atime);
  void discard();
  const std::string& tempPath() const { return temp_; }

 private:
  int fd_ = -1;
  std::string temp_;
};

// Creates a folder and every missing parent; `mode` for the last one.
int makeDirectories(const Destination& d, unsigned mode, std::uint64_t mtime,
                    FolderCache* cache = nullptr);
int makeSymlink(const Destination& d, const std::string& target);
int makeHardLink(const Destination& d, const std::string& existing);

// Permission bits for a new file or folder from the stored attributes.
unsigned fileMode(const Entry& e);
unsigned directoryMode(const Entry& e);

}  // namespace unrar
