#include "rar29_inputs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "rar29_encoder.h"
#include "rar_writer.h"

namespace bench::rar29 {
namespace {

namespace fs = std::filesystem;

// The files under `root` whose names end in one of `suffixes`, in name
// order, joined until `size` bytes.
std::string joined(const std::string& root, const std::vector<std::string>& suffixes,
                   std::uint64_t size) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_regular_file(ec)) continue;
    const std::string name = it->path().filename().string();
    for (const std::string& s : suffixes)
      if (name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
        files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  std::string out;
  for (const fs::path& p : files) {
    if (out.size() >= size) break;
    std::ifstream f(p, std::ios::binary);
    out.append(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  if (out.size() < size) return {};
  out.resize(size);
  return out;
}

}  // namespace

bool writeTextAndCode(const std::string& path, std::uint64_t size) {
  const std::string text = joined("/usr/include", {".h"}, size / 2);
  const std::string code =
      joined("/usr/lib/x86_64-linux-gnu", {".so.1", ".so.14", ".so.72"}, size - size / 2);
  if (text.empty() || code.empty()) return false;
  rarwriter::Entry e;
  e.name = "text-and-code.bin";
  e.data = text + code;
  rar29enc::Encoder enc(std::size_t{4} << 20);
  e.prepacked = rarwriter::Entry::Prepacked{enc.pack(e.data, {}), 29, 0x33, 6, {}};
  rarwriter::Options o;
  o.format = rarwriter::Format::Rar4;
  rarwriter::write(path, {e}, o);
  return true;
}

}  // namespace bench::rar29
