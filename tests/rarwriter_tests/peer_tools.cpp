#include "peer_tools.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace peers {

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

CommandResult run(const std::string& command) {
  CommandResult result;
  std::string full = command + " 2>&1";
  FILE* pipe = ::popen(full.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool haveTool(const std::string& name) {
  return run("command -v " + quote(name) + " >/dev/null").status == 0;
}

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "rarwriter-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

Tree expectedTree(const std::vector<rarwriter::Entry>& entries) {
  Tree tree;
  for (const rarwriter::Entry& e : entries) {
    std::string name = e.name;
    while (!name.empty() && name.back() == '/') name.pop_back();
    // Parent folders appear even when the archive has no entry for them.
    for (std::size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1))
      tree.emplace(name.substr(0, slash), Node{Node::Directory, ""});
    if (e.directory) {
      tree[name] = Node{Node::Directory, ""};
    } else if (!e.symlinkTarget.empty()) {
      tree[name] = Node{Node::Symlink, e.symlinkTarget};
    } else if (!e.hardlinkTarget.empty()) {
      tree[name] = tree.at(e.hardlinkTarget);
    } else if (e.source) {
      std::string data(e.sourceSize, '\0');
      e.source(0, data.data(), data.size());
      tree[name] = Node{Node::File, data};
    } else {
      tree[name] = Node{Node::File, e.data};
    }
  }
  return tree;
}

Tree readTree(const fs::path& root) {
  Tree tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
       ++it) {
    std::string rel = it->path().lexically_relative(root).string();
    if (it->is_symlink()) {
      tree[rel] = Node{Node::Symlink, fs::read_symlink(it->path()).string()};
    } else if (it->is_directory()) {
      tree[rel] = Node{Node::Directory, ""};
    } else {
      std::ifstream in(it->path(), std::ios::binary);
      std::ostringstream data;
      data << in.rdbuf();
      tree[rel] = Node{Node::File, data.str()};
    }
  }
  return tree;
}

std::string compareTrees(const Tree& expected, const Tree& actual) {
  for (const auto& [name, node] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) return "missing: " + name;
    if (it->second.kind != node.kind) return "wrong kind: " + name;
    if (it->second.content != node.content)
      return "different content: " + name + " (" + std::to_string(it->second.content.size()) +
             " bytes, expected " + std::to_string(node.content.size()) + ")";
  }
  for (const auto& [name, node] : actual)
    if (!expected.count(name)) return "unexpected: " + name;
  return "";
}

CommandResult bsdtarExtract(const std::vector<std::string>& files, const std::string& dest) {
  fs::create_directories(dest);
  if (files.size() == 1) return run("bsdtar -xf " + quote(files[0]) + " -C " + quote(dest));
  std::string cat = "cat";
  for (const std::string& f : files) cat += " " + quote(f);
  return run(cat + " | bsdtar -xf - -C " + quote(dest));
}

CommandResult unarExtract(const std::string& first, const std::string& dest,
                          const std::string& password) {
  fs::create_directories(dest);
  std::string cmd = "unar -q -f -D -o " + quote(dest);
  if (!password.empty()) cmd += " -p " + quote(password);
  return run(cmd + " " + quote(first) + " </dev/null");
}

}  // namespace peers
