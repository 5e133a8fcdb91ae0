// Helpers shared by libunrar's tests: temporary folders, file reading and
// hashing, and a callback recorder for the library's messages.
#pragma once

#include <cstdint>
#include <string>
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
// Every path below `root`, relative, sorted.
std::vector<std::string> listTree(const std::string& root);

// Records callback messages and answers them as scripted.
struct CallbackScript {
  std::vector<std::string> passwords;  // answered in turn; none left: -1
  std::size_t nextPassword = 0;
  int volumeAskAnswer = -1;  // for UCM_CHANGEVOLUME with RAR_VOL_ASK
  std::string volumeAskRename;  // written into the buffer when not empty
  int volumeNotifyAnswer = 1;
  int processDataAnswer = 1;
  int processDataCancelAfter = -1;  // -1 answer after this many blocks
  int volumeAsks = 0;
  int volumeNotifies = 0;
  int passwordAsks = 0;
  int dataBlocks = 0;
  std::uint64_t dataBytes = 0;
  std::vector<std::string> notifiedVolumes;
  std::vector<std::string> askedVolumes;
};

int CALLBACK_recorder(UINT msg, LPARAM user, LPARAM p1, LPARAM p2);

}  // namespace unrartest
