// Times listing and extraction through libunrar's published interface against
// bsdtar on the same archives, each run in its own child process so that its
// wall time and peak memory are its own. Prints the ratios.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "measure.h"
#include "rar5_inputs.h"
#include "rar_writer.h"
#include "unrar.h"

namespace {

using bench::Measure;

int runLibunrar(const std::string& archive, const std::string& dest, bool extract) {
  RAROpenArchiveDataEx od;
  std::memset(&od, 0, sizeof od);
  std::string name = archive;
  od.ArcName = name.data();
  od.OpenMode = extract ? RAR_OM_EXTRACT : RAR_OM_LIST;
  HANDLE h = RAROpenArchiveEx(&od);
  if (!h) return 2;
  auto hd = std::make_unique<RARHeaderDataEx>();
  std::string d = dest;
  int failures = 0;
  for (;;) {
    std::memset(hd.get(), 0, sizeof *hd);
    if (RARReadHeaderEx(h, hd.get()) != ERAR_SUCCESS) break;
    if (RARProcessFile(h, extract ? RAR_EXTRACT : RAR_SKIP, d.data(), nullptr) != ERAR_SUCCESS)
      ++failures;
  }
  RARCloseArchive(h);
  return failures ? 1 : 0;
}

// Runs in the measured child: becomes the tool, so the child's peak memory is the tool's.
int execQuiet(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr)) return 126;
  execvp(argv[0], argv.data());
  return 127;
}

int runBsdtar(const std::string& archive, const std::string& dest, bool extract) {
  std::vector<std::string> args = {"bsdtar", extract ? "-xf" : "-tf", archive};
  if (extract) {
    args.push_back("-C");
    args.push_back(dest);
  }
  return execQuiet(args);
}

// unar, beside the two on RAR 5.
int runUnar(const std::string& archive, const std::string& dest) {
  return execQuiet({"unar", "-q", "-f", "-D", "-o", dest, archive});
}

void removeTree(const std::string& path) {
  std::string cmd = "rm -rf '" + path + "'";
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path.c_str());
}

// Best of `runs`, with a fresh output folder and dropped output each time.
Measure best(int runs, const std::string& out, const std::function<int()>& body) {
  Measure b;
  b.seconds = 1e30;
  for (int i = 0; i < runs; ++i) {
    removeTree(out);
    ::mkdir(out.c_str(), 0755);
    Measure m = bench::measureChild(body);
    if (m.seconds < b.seconds) b = m;
  }
  removeTree(out);
  return b;
}

// Whether the folder holds nothing: libunrar writes only the extracted files.
bool emptyFolder(const std::string& path) {
  std::string cmd = "test -z \"$(ls -A '" + path + "')\"";
  return std::system(cmd.c_str()) == 0;
}

// `unarArchive`: the same entries for unar, timed beside the two.
void row(const std::string& label, const std::string& archive, const std::string& out, int runs,
         const std::string& tmp, const std::string& unarArchive = "") {
  for (bool extract : {false, true}) {
    // A fresh process of this program, so that its peak memory is its own.
    Measure ours = best(runs, out, [&] {
      std::string self = "/proc/self/exe";
      std::vector<std::string> args = {"bench_libunrar", "--run", extract ? "extract" : "list",
                                       archive, out};
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(self.c_str(), argv.data());
      return 127;
    });
    Measure theirs = best(runs, out, [&] { return runBsdtar(archive, out, extract); });
    const bool tmpClean = emptyFolder(tmp);
    std::printf("%-44s %-7s %9.3f %9.3f %7.2fx %9.1f %9.1f %s%s%s\n", label.c_str(),
                extract ? "extract" : "list", ours.seconds, theirs.seconds,
                theirs.seconds > 0 ? ours.seconds / theirs.seconds : 0.0, ours.peakKb / 1024.0,
                theirs.peakKb / 1024.0, ours.status ? "(libunrar reported entry errors)" : "",
                theirs.status ? "(bsdtar failed)" : "",
                tmpClean ? "" : " (libunrar left files in TMPDIR)");
    if (extract && !unarArchive.empty()) {
      Measure unar = best(runs, out, [&] { return runUnar(unarArchive, out); });
      std::printf("%-44s %-7s %9.3f %9s %7.2fx %9.1f %9s %s\n", "  unar beside", "extract",
                  unar.seconds, "", ours.seconds / unar.seconds, unar.peakKb / 1024.0, "",
                  unar.status ? "(unar failed)" : "");
    }
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--run")
    return runLibunrar(argv[3], argv[4], std::string(argv[2]) == "extract");
  bool quick = false;
  std::string work = "/tmp/quillmoss-bench-libunrar";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quick")
      quick = true;
    else if (a == "--workdir" && i + 1 < argc)
      work = argv[++i];
    else {
      std::fprintf(stderr, "usage: bench_libunrar [--quick] [--workdir DIR]\n");
      return 2;
    }
  }
  ::mkdir(work.c_str(), 0755);
  const std::uint64_t bigSize = quick ? (64ull << 20) : (1ull << 30);
  const int fileCount = quick ? 2000 : 20000;
  const int runs = quick ? 1 : 3;

  std::string big = work + "/stored-big.rar";
  std::string many = work + "/many-files.rar";
  std::string solid = work + "/solid-rar29.rar";
  // RAR 5 compressed: at least 512 MiB of output, a window of 1 GiB, 64 GiB declared.
  const std::uint64_t mixedSize = quick ? (48ull << 20) : (528ull << 20);
  const std::uint64_t windowSize = quick ? (64ull << 20) : (640ull << 20);
  const std::uint64_t declaredSize = quick ? (16ull << 20) : (64ull << 20);
  std::string rar5Mixed = work + "/rar5-mixed.rar";
  std::string rar5Window = work + "/rar5-window-1g.rar";
  std::string rar5Declared = work + "/rar7-declared-64g.rar";
  // unar's copies, in a folder of their own: unar takes sibling RAR 5 files for volumes.
  const std::string forUnar = work + "/for-unar";
  ::mkdir(forUnar.c_str(), 0755);
  auto unarCopy = [&](const std::string& path) { return forUnar + path.substr(path.rfind('/')); };
  // Everything the measured programs put in the temporary folder shows here.
  const std::string tmp = work + "/tmp";
  removeTree(tmp);
  ::mkdir(tmp.c_str(), 0755);
  ::setenv("TMPDIR", tmp.c_str(), 1);
  // The archives are made in a child, so that this process, whose peak memory
  // every measured child inherits, stays small.
  Measure made = bench::measureChild([&] {
    {
      rarwriter::Entry e;
      e.name = "big.bin";
      e.source = rarwriter::patternSource(1);
      e.sourceSize = bigSize;
      rarwriter::Options o;
      o.format = rarwriter::Format::Rar5;
      rarwriter::write(big, {e}, o);
    }
    {
      std::vector<rarwriter::Entry> entries;
      for (int i = 0; i < fileCount; ++i) {
        rarwriter::Entry e;
        e.name = "d" + std::to_string(i / 500) + "/f" + std::to_string(i) + ".txt";
        e.data =
            std::string(static_cast<std::size_t>(200 + i % 1000), static_cast<char>('a' + i % 26));
        entries.push_back(std::move(e));
      }
      rarwriter::Options o;
      o.format = rarwriter::Format::Rar4;
      rarwriter::write(many, entries, o);
    }
    {
      // One solid RAR 2.9 stream of bigSize bytes in eight entries: its window
      // and tables run on from entry to entry.
      std::vector<rarwriter::Entry> entries;
      for (int i = 0; i < 8; ++i) {
        rarwriter::Entry e;
        e.name = "part" + std::to_string(i) + ".bin";
        e.data.resize(static_cast<std::size_t>(bigSize / 8));
        rarwriter::fillPattern(static_cast<std::uint64_t>(i + 2), 0, e.data.data(), e.data.size());
        e.compressed = true;
        entries.push_back(std::move(e));
      }
      rarwriter::Options o;
      o.format = rarwriter::Format::Rar4;
      o.solidFlag = true;
      rarwriter::write(solid, entries, o);
    }
    bench::rar5::writeMixed(rar5Mixed, unarCopy(rar5Mixed), mixedSize);
    bench::rar5::writeLargeWindow(rar5Window, unarCopy(rar5Window), windowSize);
    bench::rar5::writeDeclared64GiB(rar5Declared, unarCopy(rar5Declared), declaredSize);
    return 0;
  });
  if (made.status != 0) {
    std::fprintf(stderr, "could not write the benchmark archives\n");
    return 1;
  }
  std::printf("%-44s %-7s %9s %9s %8s %9s %9s\n", "archive", "op", "libunrar", "bsdtar", "ratio",
              "ours MiB", "tar MiB");
  const std::string out = work + "/out";
  row("stored RAR 5, " + std::to_string(bigSize >> 20) + " MiB", big, out, runs, tmp);
  row("RAR 4, " + std::to_string(fileCount) + " stored files", many, out, runs, tmp);
  row("solid RAR 2.9, " + std::to_string(bigSize >> 20) + " MiB in 8 entries", solid, out, runs,
      tmp);
  row("RAR 5 LZ, " + std::to_string(mixedSize >> 20) + " MiB: text, records, E8 code", rar5Mixed,
      out, runs, tmp, unarCopy(rar5Mixed));
  row("RAR 5 LZ, 1 GiB dictionary, " + std::to_string(windowSize >> 20) + " MiB", rar5Window, out,
      runs, tmp, unarCopy(rar5Window));
  row("RAR 7 LZ, 64 GiB declared, " + std::to_string(declaredSize >> 20) + " MiB", rar5Declared,
      out, runs, tmp, unarCopy(rar5Declared));
  const std::string corpus = std::string(QUILLMOSS_CORPUS_DIR) + "/libarchive/";
  for (const char* name :
       {"test_read_format_rar_ppmd_lzss_conversion.rar", "test_read_format_rar_binary_data.rar",
        "test_read_format_rar_multi_lzss_blocks.rar", "test_read_format_rar_compress_best.rar",
        "test_read_format_rar_compress_normal.rar", "test_read_format_rar_filter.rar",
        "test_read_format_rar3_lowdist_reset.rar", "test_read_format_rar5_arm.rar",
        "test_read_format_rar5_different_window_size.rar"}) {
    struct stat st {};
    if (::stat((corpus + name).c_str(), &st) != 0) {
      std::printf("%s: corpus not found, skipped\n", name);
      continue;
    }
    row(name, corpus + name, out, runs, tmp);
  }
  removeTree(big);
  removeTree(many);
  removeTree(solid);
  removeTree(rar5Mixed);
  removeTree(rar5Window);
  removeTree(rar5Declared);
  removeTree(forUnar);
  removeTree(tmp);
  return 0;
}
