#include "rar29_inputs.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "ppmd_h_encoder.h"
#include "rar29_encoder.h"
#include "rar_writer.h"

namespace bench::rar29 {
namespace {

namespace fs = std::filesystem;

// The files under `roots` whose names end in one of `suffixes`, in name
// order, joined until `size` bytes.
std::string joined(const std::vector<std::string>& roots, const std::vector<std::string>& suffixes,
                   std::uint64_t size) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const std::string& root : roots)
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

std::string realText(std::uint64_t size) {
  return joined({"/usr/include", "/usr/share"}, {".h", ".hpp", ".txt", ".html", ".py", ".xml"},
                size);
}

void writeOne(const std::string& path, const std::string& name, std::string data,
              std::string packed, std::uint8_t method) {
  rarwriter::Entry e;
  e.name = name;
  e.data = std::move(data);
  e.prepacked = rarwriter::Entry::Prepacked{std::move(packed), 29, method, 6, {}};
  rarwriter::Options o;
  o.format = rarwriter::Format::Rar4;
  rarwriter::write(path, {e}, o);
}

}  // namespace

bool writeTextAndCode(const std::string& path, std::uint64_t size) {
  const std::string text = realText(size / 2);
  const std::string code =
      joined({"/usr/lib/x86_64-linux-gnu"}, {".so.1", ".so.14", ".so.72"}, size - size / 2);
  if (text.empty() || code.empty()) return false;
  std::string data = text + code;
  rar29enc::Encoder enc(std::size_t{4} << 20);
  std::string packed = enc.pack(data, {});
  writeOne(path, "text-and-code.bin", std::move(data), std::move(packed), 0x33);
  return true;
}

bool writePpmdText(const std::string& path, std::uint64_t size) {
  std::string text = realText(size);
  if (text.empty()) return false;
  ppmdenc::Encoder enc;
  std::string packed = enc.pack(text, {{0, ppmdenc::Params{16, 6, -1}}});
  writeOne(path, "text.txt", std::move(text), std::move(packed), 0x35);
  return true;
}

}  // namespace bench::rar29
