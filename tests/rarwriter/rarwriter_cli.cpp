// Makes RAR fixtures from the command line, for benchmarks and end-to-end tests.
// Data is streamed, never held whole, so gigabyte archives and sets of tens of
// thousands of files cost little memory.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "rar_writer.h"

namespace {

const char kUsage[] =
    "usage: rarwriter_cli [options] OUTPUT.rar\n"
    "Writes a RAR archive of stored or compressed entries and prints the files written, one a "
    "line.\n"
    "  --format rar4|rar5         archive format (rar5)\n"
    "  --comment TEXT             archive comment\n"
    "  --old-style-comment        RAR 4: comment inside the main header\n"
    "  --volume-size SIZE         split into volumes of SIZE bytes\n"
    "  --old-naming               volumes name.rar, name.r00, ... (RAR 4)\n"
    "  --solid, --lock            set the archive's solid or locked flag\n"
    "  --password PW              encrypt every file's data\n"
    "  --header-password PW       encrypt the headers too\n"
    "  --encrypted-flag           set the files' encrypted flag without encrypting\n"
    "  --compress                 RAR 4: store files as RAR 2.9 literal-code streams\n"
    "  --method N                 RAR 5: compress files with the test encoder, method 1-5\n"
    "  --dictionary SIZE          RAR 5: the dictionary declared and used (4M)\n"
    "  --rar7                     RAR 5: algorithm version 1 (sizes up to 64G, 80 distance\n"
    "                             symbols); with --rar5-distances the RAR 5.0 alphabet\n"
    "  --damage KIND              bad-header-crc, bad-data-crc, truncated, missing-volume,\n"
    "                             bad-end-crc\n"
    "  --sfx SIZE                 put an executable stub of SIZE bytes in front\n"
    "  --host NAME                msdos, os2, windows (default), unix, macos, beos\n"
    "  --blake2                   RAR 5: BLAKE2sp hashes instead of CRC32\n"
    "  --rar4-utf8-names          RAR 4: non-ASCII names as UTF-8\n"
    "  --mtime SECONDS            modification time of generated entries\n"
    "  --seed N                   pattern seed of the first generated file (1)\n"
    "  --from DIR                 add DIR's contents, recursively, names relative to DIR\n"
    "  --files N:SIZE[:FOLDER]    add N generated files of SIZE bytes in FOLDER (files)\n"
    "  --large NAME:SIZE          add one generated file of SIZE bytes\n"
    "--host, --mtime, --password, --encrypted-flag and --compress apply to the entries that\n"
    "--from, --files and --large add after them.\n"
    "SIZE takes a K, M or G suffix (powers of 1024). Generated files hold\n"
    "rarwriter::fillPattern data; each takes the next seed, in argument order.\n";

std::uint64_t parseSize(const std::string& text) {
  std::size_t used = 0;
  std::uint64_t value = std::stoull(text, &used);
  std::string suffix = text.substr(used);
  if (suffix == "K" || suffix == "k") return value << 10;
  if (suffix == "M" || suffix == "m") return value << 20;
  if (suffix == "G" || suffix == "g") return value << 30;
  if (!suffix.empty()) throw std::invalid_argument("bad size: " + text);
  return value;
}

rarwriter::HostOS parseHost(const std::string& name) {
  using rarwriter::HostOS;
  if (name == "msdos") return HostOS::MsDos;
  if (name == "os2") return HostOS::Os2;
  if (name == "windows") return HostOS::Windows;
  if (name == "unix") return HostOS::Unix;
  if (name == "macos") return HostOS::MacOS;
  if (name == "beos") return HostOS::BeOS;
  throw std::invalid_argument("unknown host: " + name);
}

rarwriter::Damage parseDamage(const std::string& name) {
  using rarwriter::Damage;
  if (name == "none") return Damage::None;
  if (name == "bad-header-crc") return Damage::BadHeaderCrc;
  if (name == "bad-data-crc") return Damage::BadDataCrc;
  if (name == "truncated") return Damage::Truncated;
  if (name == "missing-volume") return Damage::MissingVolume;
  if (name == "bad-end-crc") return Damage::BadEndCrc;
  throw std::invalid_argument("unknown damage: " + name);
}

rarwriter::DataSource fileSource(const std::string& path) {
  return [path](std::uint64_t offset, char* out, std::size_t length) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < length) {
      ssize_t r = ::pread(fd, out + done, length - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) {
        ::close(fd);
        throw std::runtime_error("cannot read " + path + " (changed while archiving?)");
      }
      done += static_cast<std::size_t>(r);
    }
    ::close(fd);
  };
}

struct Settings {
  rarwriter::HostOS host = rarwriter::HostOS::Windows;
  std::int64_t mtime = 1700000000;
  std::string password;
  bool encryptedFlag = false;
  bool compressed = false;
};

rarwriter::Entry baseEntry(const Settings& s, const std::string& name) {
  rarwriter::Entry e;
  e.name = name;
  e.host = s.host;
  e.mtime = s.mtime;
  return e;
}

void addFolder(const Settings& s, const std::string& root, const std::string& relative,
               std::vector<rarwriter::Entry>& entries) {
  std::string dirPath = relative.empty() ? root : root + "/" + relative;
  DIR* dir = ::opendir(dirPath.c_str());
  if (!dir) throw std::runtime_error("cannot list " + dirPath + ": " + std::strerror(errno));
  std::vector<std::string> names;
  while (dirent* d = ::readdir(dir)) {
    std::string n = d->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  bool unixHost = s.host == rarwriter::HostOS::Unix || s.host == rarwriter::HostOS::BeOS ||
                  s.host == rarwriter::HostOS::MacOS;
  for (const std::string& n : names) {
    std::string rel = relative.empty() ? n : relative + "/" + n;
    std::string full = root + "/" + rel;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0)
      throw std::runtime_error("cannot stat " + full + ": " + std::strerror(errno));
    rarwriter::Entry e = baseEntry(s, rel);
    e.mtime = st.st_mtime;
    if (unixHost) e.attributes = st.st_mode;
    if (S_ISDIR(st.st_mode)) {
      e.directory = true;
      entries.push_back(e);
      addFolder(s, root, rel, entries);
      continue;
    }
    if (S_ISLNK(st.st_mode)) {
      std::string target(static_cast<std::size_t>(st.st_size) + 1, '\0');
      ssize_t len = ::readlink(full.c_str(), target.data(), target.size());
      if (len < 0) throw std::runtime_error("cannot read link " + full);
      target.resize(static_cast<std::size_t>(len));
      e.symlinkTarget = target;
      entries.push_back(e);
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    if (!unixHost && !(st.st_mode & S_IWUSR)) e.attributes = 0x21;  // archive, read-only
    e.source = fileSource(full);
    e.sourceSize = static_cast<std::uint64_t>(st.st_size);
    e.password = s.password;
    e.encryptedFlagOnly = s.encryptedFlag;
    e.compressed = s.compressed;
    entries.push_back(e);
  }
}

std::pair<std::string, std::string> splitAt(const std::string& text, std::size_t colon) {
  if (colon == std::string::npos) throw std::invalid_argument("expected A:B, got " + text);
  return {text.substr(0, colon), text.substr(colon + 1)};
}

int run(int argc, char** argv) {
  rarwriter::Options options;
  Settings settings;
  std::uint64_t seed = 1;
  std::string output;
  std::vector<rarwriter::Entry> entries;
  auto entryFlags = [&](rarwriter::Entry& e) {
    e.password = settings.password;
    e.encryptedFlagOnly = settings.encryptedFlag;
    e.compressed = settings.compressed;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg + " needs a value");
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--format") {
      std::string f = value();
      if (f == "rar4")
        options.format = rarwriter::Format::Rar4;
      else if (f == "rar5")
        options.format = rarwriter::Format::Rar5;
      else
        throw std::invalid_argument("unknown format: " + f);
    } else if (arg == "--comment") {
      options.comment = value();
    } else if (arg == "--old-style-comment") {
      options.oldStyleComment = true;
    } else if (arg == "--volume-size") {
      options.volumeSize = parseSize(value());
    } else if (arg == "--old-naming") {
      options.oldVolumeNaming = true;
    } else if (arg == "--solid") {
      options.solidFlag = true;
    } else if (arg == "--lock") {
      options.lockFlag = true;
    } else if (arg == "--password") {
      settings.password = value();
    } else if (arg == "--header-password") {
      options.headerPassword = value();
    } else if (arg == "--encrypted-flag") {
      settings.encryptedFlag = true;
    } else if (arg == "--compress") {
      settings.compressed = true;
    } else if (arg == "--method") {
      if (!options.compression) options.compression.emplace();
      options.compression->method = static_cast<std::uint8_t>(std::stoul(value()));
    } else if (arg == "--dictionary") {
      if (!options.compression) options.compression.emplace();
      options.compression->dictionary = parseSize(value());
    } else if (arg == "--rar7") {
      if (!options.compression) options.compression.emplace();
      options.compression->version = 1;
    } else if (arg == "--rar5-distances") {
      if (!options.compression) options.compression.emplace();
      options.compression->rar5Distances = true;
    } else if (arg == "--damage") {
      options.damage = parseDamage(value());
    } else if (arg == "--sfx") {
      options.sfxStubSize = parseSize(value());
    } else if (arg == "--host") {
      settings.host = parseHost(value());
    } else if (arg == "--blake2") {
      options.blake2 = true;
    } else if (arg == "--rar4-utf8-names") {
      options.rar4Utf8Names = true;
    } else if (arg == "--mtime") {
      settings.mtime = std::stoll(value());
    } else if (arg == "--seed") {
      seed = std::stoull(value());
    } else if (arg == "--from") {
      std::string dir = value();
      while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
      addFolder(settings, dir, "", entries);
    } else if (arg == "--files") {
      std::string spec = value();
      auto [count, rest] = splitAt(spec, spec.find(':'));
      std::string folder = "files";
      std::string size = rest;
      if (auto c = rest.find(':'); c != std::string::npos)
        std::tie(size, folder) = splitAt(rest, c);
      std::uint64_t n = std::stoull(count);
      std::uint64_t bytes = parseSize(size);
      if (!folder.empty()) {
        rarwriter::Entry dir = baseEntry(settings, folder);
        dir.directory = true;
        entries.push_back(dir);
      }
      int width = std::max<int>(6, static_cast<int>(std::to_string(n).size()));
      for (std::uint64_t k = 0; k < n; ++k) {
        std::string number = std::to_string(k);
        std::string name = "f" + std::string(width - number.size(), '0') + number + ".bin";
        rarwriter::Entry e = baseEntry(settings, folder.empty() ? name : folder + "/" + name);
        e.source = rarwriter::patternSource(seed++);
        e.sourceSize = bytes;
        entryFlags(e);
        entries.push_back(e);
      }
    } else if (arg == "--large") {
      std::string spec = value();
      auto [name, size] = splitAt(spec, spec.rfind(':'));
      rarwriter::Entry e = baseEntry(settings, name);
      e.source = rarwriter::patternSource(seed++);
      e.sourceSize = parseSize(size);
      entryFlags(e);
      entries.push_back(e);
    } else if (!arg.empty() && arg[0] == '-') {
      throw std::invalid_argument("unknown option " + arg);
    } else if (output.empty()) {
      output = arg;
    } else {
      throw std::invalid_argument("more than one output name: " + arg);
    }
  }
  if (output.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  for (const std::string& written : rarwriter::write(output, entries, options))
    std::cout << written << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "rarwriter_cli: " << e.what() << '\n';
    return 1;
  }
}
