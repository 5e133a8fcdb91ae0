// Helpers shared by libunrar's tests: temporary folders, file reading and
// hashing, and a callback recorder for the library's messages.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "unrar.h"

namespace unrartest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& data);
std::string sha256Hex(const std::string& data);
bool exists(const std::string& path);
// The RAR 5 variable-length integer at `i`; `i` moves past it.
std::uint64_t readVint(const std::string& bytes, std::size_t& i);

// Where the parts of the first file header of a writer-made RAR 5 archive are
// (it follows the signature and the writer's minimal main header), for tests
// that change a field.
struct Rar5Header {
  std::size_t start = 0;   // its CRC32
  std::size_t fields = 0;  // the file header's own fields, from the file flags on
  std::size_t extra = 0;   // its extra area, which runs to `end`
  std::size_t end = 0;     // one past its last byte
};
Rar5Header firstRar5FileHeader(const std::string& bytes);
// Stores the CRC32 of the header's bytes after its CRC field.
void resealRar5Header(std::string& bytes, const Rar5Header& h);
// Every path below `root`, relative, sorted.
std::vector<std::string> listTree(const std::string& root);

// Records callback messages and answers them as scripted.
struct CallbackScript {
  std::vector<std::string> passwords;  // answered in turn; none left: -1
  std::size_t nextPassword = 0;
  int volumeAskAnswer = -1;     // for UCM_CHANGEVOLUME with RAR_VOL_ASK
  std::string volumeAskRename;  // written into the buffer when not empty
  int volumeNotifyAnswer = 1;
  int processDataAnswer = 1;
  int processDataCancelAfter = -1;  // -1 answer after this many blocks
  int largeDictAnswer = 0;          // for UCM_LARGEDICT: 1 allows the dictionary
  int volumeAsks = 0;
  int volumeNotifies = 0;
  int passwordAsks = 0;
  int dataBlocks = 0;
  std::uint64_t dataBytes = 0;
  // Each UCM_LARGEDICT's dictionary and limit, in KB.
  std::vector<std::pair<long, long>> largeDicts;
  std::vector<std::string> notifiedVolumes;
  std::vector<std::string> askedVolumes;
};

int CALLBACK_recorder(UINT msg, LPARAM user, LPARAM p1, LPARAM p2);

// An open archive handle, closed on destruction.
class Archive {
 public:
  // Opens with RAROpenArchiveEx and the recorder callback when `script` is set.
  Archive(const std::string& path, unsigned mode, CallbackScript* script = nullptr,
          std::size_t commentBuffer = 0);
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  HANDLE handle() const { return h_; }
  unsigned openResult() const { return data_.OpenResult; }
  unsigned flags() const { return data_.Flags; }
  unsigned cmtState() const { return data_.CmtState; }
  unsigned cmtSize() const { return data_.CmtSize; }
  std::string comment() const { return std::string(cmt_.data()); }
  // Reads the next header; returns the status.
  int next(RARHeaderDataEx& hd);
  int process(int op, const std::string& dest = "", const std::string& destName = "");

 private:
  std::string path_;
  std::vector<char> cmt_;
  RAROpenArchiveDataEx data_{};
  HANDLE h_ = nullptr;
};

// Every entry's name, processed with `op` into `dest`; the statuses in order.
// A non-empty `password` is set with RARSetPassword right after the open.
struct RunResult {
  std::vector<std::string> names;
  std::vector<int> status;
  int endStatus = 0;
};
RunResult runAll(const std::string& path, unsigned mode, int op, const std::string& dest,
                 CallbackScript* script = nullptr, const std::string& password = {});

}  // namespace unrartest
