// One open archive: the handle behind every entry point. It walks the block
// headers of the current volume, moves to the next volume when a volume ends,
// and processes the entry whose header was read last.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive_crypto.h"
#include "codec/codec.h"
#include "core/failure.h"
#include "core/rar_entry.h"
#include "format/packed_stream.h"
#include "format/volume.h"
#include "output/output.h"
#include "unrar.h"

namespace unrar {

// The public code of a failure reason: the one table (archive.cpp).
int errorCodeOf(Failure why);
// A stage's outcome as a public code: a Reported code as it came.
int errorCodeOf(const Outcome& o);

class Archive {
 public:
  static constexpr std::uint32_t kMagic = 0x51524C42;
  enum class State { Ready, HeaderRead, End, Failed };

  struct OpenResult {
    int code = ERAR_SUCCESS;
    std::uint32_t flags = 0;
    bool hasComment = false;
  };

  Archive(unsigned mode, UNRARCALLBACK cb, LPARAM user);
  ~Archive();
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;

  OpenResult open(const std::string& path);
  // Decodes the archive comment; returns 0 or an ERAR_* code.
  int readComment(std::string& text);

  int readHeader(Entry& out, std::string& volumeName);
  int processFile(int operation, const char* destPath, const char* destName);

  void setCallback(UNRARCALLBACK cb, LPARAM user) {
    callback_ = cb;
    userData_ = user;
  }
  void setChangeVolProc(CHANGEVOLPROC p) { changeVolProc_ = p; }
  void setProcessDataProc(PROCESSDATAPROC p) { processDataProc_ = p; }
  void setPassword(const char* pw) { crypto_.setPassword(pw); }
  // Whether the record the last header went into held the entry's whole name.
  void setNameShownWhole(bool whole) { nameShownWhole_ = whole; }

  // Why the archive failed, once it has (Failure::None before).
  Failure failure() const { return failure_; }

  std::uint32_t magic = kMagic;

  // Sends one block of unpacked data to the callbacks; ERAR_UNKNOWN on cancel.
  int reportData(const std::uint8_t* p, std::size_t n);

 private:
  // Puts the archive into the failed state for `why`: this header read and
  // every later one answer with its code (`reported` for Failure::Reported).
  // Returns that code.
  int fail(Failure why, int reported = ERAR_BAD_DATA);
  int nextVolume(bool listing);
  int collectParts(std::vector<Part>& parts, Entry& last);
  // The block at `pos` of the current volume, decrypted when its headers are.
  Block readBlockAt(std::uint64_t pos);
  // Decrypts the current volume's headers before the first one is read.
  int unlockHeaders();
  // Whether the entry's dictionary may be decoded: beyond the limit, only
  // when the callback allows it (ERAR_LARGE_DICT otherwise).
  int allowDictionary(const Entry& e);
  int decodeEntry(const Entry& last, std::unique_ptr<InStream> in, Sink& sink);
  // The one check of an entry's plain data against its header (`last`: the
  // final part's, for a split entry): the size and the CRC32 and BLAKE2sp it
  // stores, MACs under the password where RAR 5 asks for them. ERAR_BAD_DATA
  // on a mismatch.
  int checkData(const Entry& e, const Entry& last, std::uint64_t bytes, std::uint32_t crc,
                const std::array<std::uint8_t, 32>& blake2);
  int processData(int operation, const char* destPath, const char* destName);
  int processReference(const char* destPath, const char* destName);

  unsigned mode_;
  UNRARCALLBACK callback_ = nullptr;
  LPARAM userData_ = 0;
  CHANGEVOLPROC changeVolProc_ = nullptr;
  PROCESSDATAPROC processDataProc_ = nullptr;
  ArchiveCrypto crypto_;

  State state_ = State::Ready;
  Failure failure_ = Failure::None;
  int failCode_ = ERAR_BAD_DATA;
  std::shared_ptr<VolumeFile> vol_;
  std::uint64_t pos_ = 0;
  bool solidArchive_ = false;
  Format format_ = Format::Rar4;
  CommentBlock comment_;
  std::shared_ptr<VolumeFile> commentVolume_;

  Entry entry_;  // the header read last
  bool nameShownWhole_ = true;
  std::unique_ptr<Decoder> solidSession_;
  std::uint32_t sessionAlgorithm_ = 0;
  // Where entries go, and the files written so far for hard links and copies.
  OutputSet outputs_;
};

}  // namespace unrar
