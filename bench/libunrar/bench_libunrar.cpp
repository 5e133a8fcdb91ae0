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
#include <type_traits>
#include <vector>

#include "measure.h"
#include "rar29_inputs.h"
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

// Each tool once per round, `runs` rounds, every run with a fresh output
// folder, so that a busy spell of a shared machine falls on every tool alike.
// Each figure is the median of the tool's runs; the status the worst.
std::vector<Measure> medians(int runs, const std::string& out,
                             const std::vector<std::function<int()>>& bodies) {
  std::vector<std::vector<Measure>> all(bodies.size());
  for (int i = 0; i < runs; ++i) {
    for (std::size_t k = 0; k < bodies.size(); ++k) {
      removeTree(out);
      ::mkdir(out.c_str(), 0755);
      all[k].push_back(bench::measureChild(bodies[k]));
    }
  }
  removeTree(out);
  std::vector<Measure> m(bodies.size());
  for (std::size_t k = 0; k < bodies.size(); ++k) {
    auto median = [&](auto Measure::*field) {
      std::vector<std::remove_reference_t<decltype(all[k][0].*field)>> v;
      for (const Measure& x : all[k]) v.push_back(x.*field);
      std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
      return v[v.size() / 2];
    };
    m[k].seconds = median(&Measure::seconds);
    m[k].cpuSeconds = median(&Measure::cpuSeconds);
    m[k].systemSeconds = median(&Measure::systemSeconds);
    m[k].pageFaults = median(&Measure::pageFaults);
    m[k].peakKb = median(&Measure::peakKb);
    for (const Measure& x : all[k]) m[k].status = std::max(m[k].status, x.status);
  }
  return m;
}

// Whether the folder holds nothing: libunrar writes only the extracted files.
bool emptyFolder(const std::string& path) {
  std::string cmd = "test -z \"$(ls -A '" + path + "')\"";
  return std::system(cmd.c_str()) == 0;
}

std::string loadAverage() {
  std::FILE* f = std::fopen("/proc/loadavg", "r");
  char buf[64] = {};
  if (f) {
    if (!std::fgets(buf, sizeof buf, f)) buf[0] = 0;
    std::fclose(f);
  }
  std::string s = buf;
  // The 1, 5 and 15 minute averages.
  for (int i = 0, spaces = 0; i < static_cast<int>(s.size()); ++i)
    if (s[i] == ' ' && ++spaces == 3) return s.substr(0, static_cast<std::size_t>(i));
  return s;
}

// This program again, in the measured child, so that its peak memory is its
// own; `threads` sets QUILLMOSS_UNRAR_THREADS when not empty.
int runSelf(const std::string& archive, const std::string& out, bool extract, const char* threads) {
  if (threads) ::setenv("QUILLMOSS_UNRAR_THREADS", threads, 1);
  std::string self = "/proc/self/exe";
  std::vector<std::string> args = {"bench_libunrar", "--run", extract ? "extract" : "list", archive,
                                   out};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  execv(self.c_str(), argv.data());
  return 127;
}

// One line per program: wall and CPU seconds, peak memory, wall time against
// bsdtar's. `unarArchive`: the same entries for unar, timed beside the rest;
// `threads`: ours on one and on two threads when extracting.
void row(const std::string& label, const std::string& archive, const std::string& out, int runs,
         const std::string& tmp, const std::string& unarArchive = "", bool threads = false) {
  for (bool extract : {false, true}) {
    struct Tool {
      const char* name;
      std::function<int()> run;
    };
    std::vector<Tool> tools;
    if (extract && threads) {
      tools.push_back({"libunrar, 1 thread", [&] { return runSelf(archive, out, true, "1"); }});
      tools.push_back({"libunrar, 2 threads", [&] { return runSelf(archive, out, true, "2"); }});
    } else {
      tools.push_back({"libunrar", [&] { return runSelf(archive, out, extract, nullptr); }});
    }
    tools.push_back({"bsdtar", [&] { return runBsdtar(archive, out, extract); }});
    if (extract && !unarArchive.empty())
      tools.push_back({"unar", [&] { return runUnar(unarArchive, out); }});
    std::vector<std::function<int()>> bodies;
    for (const Tool& t : tools) bodies.push_back(t.run);
    const std::vector<Measure> m = medians(runs, out, bodies);
    const bool tmpClean = emptyFolder(tmp);
    const Measure& tar = m[m.size() - (extract && !unarArchive.empty() ? 2 : 1)];
    std::printf("%s, %s (load %s)%s\n", label.c_str(), extract ? "extract" : "list",
                loadAverage().c_str(), tmpClean ? "" : " (libunrar left files in TMPDIR)");
    for (std::size_t i = 0; i < tools.size(); ++i) {
      const bool tarFailed = tar.status != 0;
      std::printf(
          "  %-22s %9.3f %9.3f %9.3f %9ld %9.1f %8s %s\n", tools[i].name, m[i].seconds,
          m[i].cpuSeconds, m[i].systemSeconds, m[i].pageFaults, m[i].peakKb / 1024.0,
          tarFailed ? "-" : (std::to_string(m[i].seconds / tar.seconds).substr(0, 4) + "x").c_str(),
          m[i].status ? "(failed)" : "");
    }
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--run")
    return runLibunrar(argv[3], argv[4], std::string(argv[2]) == "extract");
  bool quick = false;
  std::string work = "/dev/shm/quillmoss-bench-libunrar";  // tmpfs: no disk in the times
  std::string only;  // the rows whose label holds this, and only their archives made
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--quick")
      quick = true;
    else if (a == "--workdir" && i + 1 < argc)
      work = argv[++i];
    else if (a == "--only" && i + 1 < argc)
      only = argv[++i];
    else {
      std::fprintf(stderr, "usage: bench_libunrar [--quick] [--workdir DIR] [--only TEXT]\n");
      return 2;
    }
  }
  auto wanted = [&](const std::string& label) { return label.find(only) != std::string::npos; };
  ::mkdir(work.c_str(), 0755);
  const std::uint64_t bigSize = quick ? (64ull << 20) : (1ull << 30);
  const int fileCount = quick ? 2000 : 20000;
  const int runs = quick ? 1 : 3;

  std::string big = work + "/stored-big.rar";
  std::string big4 = work + "/stored-big-rar4.rar";
  std::string many = work + "/many-files.rar";
  std::string solid = work + "/solid-rar29.rar";
  // RAR 5 compressed: at least 512 MiB of output, a window of 1 GiB, 64 GiB declared.
  const std::uint64_t mixedSize = quick ? (48ull << 20) : (528ull << 20);
  const std::uint64_t windowSize = quick ? (64ull << 20) : (640ull << 20);
  const std::uint64_t declaredSize = quick ? (16ull << 20) : (64ull << 20);
  // The encoder takes minutes for these: they stay in the work folder between
  // runs, named by their size.
  auto sized = [&](const char* stem, std::uint64_t size) {
    return work + "/" + stem + "-" + std::to_string(size >> 20) + "m.rar";
  };
  std::string rar5Mixed = sized("rar5-mixed", mixedSize);
  std::string rar5Window = sized("rar5-window-1g", windowSize);
  std::string rar5Declared = sized("rar7-declared-64g", declaredSize);
  // 64 non-solid entries of 8 MiB: what a session keeps from entry to entry.
  const int entryCount = quick ? 16 : 64;
  std::string rar5Entries = sized("rar5-entries", entryCount * (8ull << 20));
  const std::string bigLabel = "stored RAR 5, " + std::to_string(bigSize >> 20) + " MiB";
  const std::string big4Label = "stored RAR 4, " + std::to_string(bigSize >> 20) + " MiB";
  const std::string manyLabel = "RAR 4, " + std::to_string(fileCount) + " stored files";
  const std::string solidLabel =
      "solid RAR 2.9, " + std::to_string(bigSize >> 20) + " MiB in 8 entries";
  const std::string mixedLabel =
      "RAR 5 LZ, " + std::to_string(mixedSize >> 20) + " MiB: text, records, E8 code";
  const std::string windowLabel =
      "RAR 5 LZ, 1 GiB dictionary, " + std::to_string(windowSize >> 20) + " MiB";
  const std::string declaredLabel =
      "RAR 7 LZ, 64 GiB declared, " + std::to_string(declaredSize >> 20) + " MiB";
  const std::string entriesLabel =
      "RAR 5 LZ, " + std::to_string(entryCount) + " non-solid entries of 8 MiB";
  const std::uint64_t rar29Size = quick ? (32ull << 20) : (256ull << 20);
  std::string rar29Lz = sized("rar29-text-code", rar29Size);
  const std::uint64_t ppmdSize = quick ? (4ull << 20) : (32ull << 20);
  std::string rar29Ppmd = sized("rar29-ppmd-text", ppmdSize);
  // RAR 2.9 LZ: text and machine code, one entry (our encoder: bsdtar reads it to the end).
  const std::string rar29LzLabel =
      "RAR 2.9 LZ, " + std::to_string(rar29Size >> 20) + " MiB: text, machine code";
  const std::string rar29PpmdLabel =
      "RAR 2.9 PPMd, " + std::to_string(ppmdSize >> 20) + " MiB of text";
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
    if (wanted(bigLabel) || wanted(big4Label)) {
      rarwriter::Entry e;
      e.name = "big.bin";
      e.source = rarwriter::patternSource(1);
      e.sourceSize = bigSize;
      rarwriter::Options o;
      o.format = rarwriter::Format::Rar5;
      rarwriter::write(big, {e}, o);
      o.format = rarwriter::Format::Rar4;
      rarwriter::write(big4, {e}, o);
    }
    if (wanted(manyLabel)) {
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
    if (wanted(solidLabel)) {
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
    auto cached = [&](const std::string& path) {
      struct stat a {
      }, b{};
      return ::stat(path.c_str(), &a) == 0 && ::stat(unarCopy(path).c_str(), &b) == 0 &&
             a.st_size > 0 && b.st_size > a.st_size;
    };
    if (wanted(mixedLabel) && !cached(rar5Mixed))
      bench::rar5::writeMixed(rar5Mixed, unarCopy(rar5Mixed), mixedSize);
    if (wanted(windowLabel) && !cached(rar5Window))
      bench::rar5::writeLargeWindow(rar5Window, unarCopy(rar5Window), windowSize);
    if (wanted(declaredLabel) && !cached(rar5Declared))
      bench::rar5::writeDeclared64GiB(rar5Declared, unarCopy(rar5Declared), declaredSize);
    if (wanted(entriesLabel) && !cached(rar5Entries))
      bench::rar5::writeManyEntries(rar5Entries, unarCopy(rar5Entries), entryCount, 8ull << 20);
    struct stat st {};
    if (wanted(rar29LzLabel) && ::stat(rar29Lz.c_str(), &st) != 0 &&
        !bench::rar29::writeTextAndCode(rar29Lz, rar29Size))
      std::fprintf(stderr, "no text and code for the RAR 2.9 LZ row\n");
    if (wanted(rar29PpmdLabel) && ::stat(rar29Ppmd.c_str(), &st) != 0 &&
        !bench::rar29::writePpmdText(rar29Ppmd, ppmdSize))
      std::fprintf(stderr, "no text for the RAR 2.9 PPMd row\n");
    return 0;
  });
  if (made.status != 0) {
    std::fprintf(stderr, "could not write the benchmark archives\n");
    return 1;
  }
  std::printf("%-24s %9s %9s %9s %9s %9s %8s\n", "  program", "wall s", "cpu s", "sys s", "faults",
              "peak MiB", "x bsdtar");
  const std::string out = work + "/out";
  if (wanted(bigLabel)) row(bigLabel, big, out, runs, tmp);
  if (wanted(big4Label)) row(big4Label, big4, out, runs, tmp);
  if (wanted(manyLabel)) row(manyLabel, many, out, runs, tmp);
  if (wanted(solidLabel)) row(solidLabel, solid, out, runs, tmp);
  struct stat rar29Stat {};
  if (wanted(rar29LzLabel) && ::stat(rar29Lz.c_str(), &rar29Stat) == 0)
    row(rar29LzLabel, rar29Lz, out, runs, tmp, rar29Lz, true);
  if (wanted(rar29PpmdLabel) && ::stat(rar29Ppmd.c_str(), &rar29Stat) == 0)
    row(rar29PpmdLabel, rar29Ppmd, out, runs, tmp, rar29Ppmd, true);
  if (wanted(mixedLabel)) row(mixedLabel, rar5Mixed, out, runs, tmp, unarCopy(rar5Mixed), true);
  if (wanted(windowLabel)) row(windowLabel, rar5Window, out, runs, tmp, unarCopy(rar5Window), true);
  if (wanted(declaredLabel))
    row(declaredLabel, rar5Declared, out, runs, tmp, unarCopy(rar5Declared), true);
  if (wanted(entriesLabel))
    row(entriesLabel, rar5Entries, out, runs, tmp, unarCopy(rar5Entries), true);
  const std::string corpus = std::string(QUILLMOSS_CORPUS_DIR) + "/libarchive/";
  for (const char* name :
       {"test_read_format_rar_ppmd_lzss_conversion.rar", "test_read_format_rar_binary_data.rar",
        "test_read_format_rar_multi_lzss_blocks.rar", "test_read_format_rar_compress_best.rar",
        "test_read_format_rar_compress_normal.rar", "test_read_format_rar_filter.rar",
        "test_read_format_rar3_lowdist_reset.rar", "test_read_format_rar5_arm.rar",
        "test_read_format_rar5_different_window_size.rar"}) {
    if (!wanted(name)) continue;
    struct stat st {};
    if (::stat((corpus + name).c_str(), &st) != 0) {
      std::printf("%s: corpus not found, skipped\n", name);
      continue;
    }
    row(name, corpus + name, out, runs, tmp);
  }
  removeTree(big);
  removeTree(big4);
  removeTree(many);
  removeTree(solid);
  removeTree(tmp);
  return 0;
}
