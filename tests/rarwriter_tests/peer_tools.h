// Running bsdtar, unar and lsar on written archives, and comparing what they
// extract with what went in.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "rar_writer.h"

namespace peers {

struct CommandResult {
  int status = -1;     // exit status, or -1 when the command did not exit normally
  std::string output;  // stdout and stderr together
};

std::string quote(const std::string& text);
CommandResult run(const std::string& command);
bool haveTool(const std::string& name);

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

struct Node {
  enum Kind { File, Directory, Symlink } kind = File;
  std::string content;  // file bytes or link target
  bool operator==(const Node&) const = default;
};
using Tree = std::map<std::string, Node>;

// What extracting `entries` must produce (hard links come out as copies).
Tree expectedTree(const std::vector<rarwriter::Entry>& entries);
Tree readTree(const std::filesystem::path& root);
// A readable account of the first difference, or "" when equal.
std::string compareTrees(const Tree& expected, const Tree& actual);

// Extracts the set whose volumes are `files` (in order) into `dest`. bsdtar reads
// a volume set as one stream of concatenated volumes.
CommandResult bsdtarExtract(const std::vector<std::string>& files, const std::string& dest);
CommandResult unarExtract(const std::string& first, const std::string& dest,
                          const std::string& password = "");

}  // namespace peers
