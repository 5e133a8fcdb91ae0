// One volume file on disk, its signature and main header, and the rules for
// naming the next volume of a set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "format/rar_format.h"

namespace unrar {

class VolumeFile : public ByteSource {
 public:
  // Returns nullptr when the file cannot be opened or is no regular file.
  static std::shared_ptr<VolumeFile> open(const std::string& path);
  ~VolumeFile() override;
  VolumeFile(const VolumeFile&) = delete;
  VolumeFile& operator=(const VolumeFile&) = delete;

  std::uint64_t size() const override { return size_; }
  std::size_t readAt(std::uint64_t offset, void* buf, std::size_t n) override;
  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  // Filled by openVolume from the signature and the main header.
  Format format = Format::Rar4;
  std::uint64_t signatureOffset = 0;
  std::uint64_t firstBlock = 0;
  MainInfo main;

 private:
  VolumeFile(int fd, std::uint64_t size, std::string path)
      : fd_(fd), size_(size), path_(std::move(path)) {}
  std::size_t readDirect(std::uint64_t offset, void* buf, std::size_t n);

  int fd_;
  std::uint64_t size_;
  std::string path_;
  // A block header is read in two small pieces, its fixed start and then the
  // rest; both come from one window read ahead of the first, so a header
  // costs one read. The window grows while entries are small, so that their
  // headers and data come a few dozen to a read, and stays small otherwise,
  // so that listing never copies the data it skips (volume.cpp). Larger
  // reads bypass it.
  std::unique_ptr<char[]> window_;
  std::uint64_t windowStart_ = 0;
  std::size_t windowSize_ = 0;
  std::size_t windowWant_ = 0;
};

// Opens `path` and reads its signature and main header. Returns 0 or
// ERAR_EOPEN, ERAR_BAD_ARCHIVE, ERAR_UNKNOWN_FORMAT, or ERAR_BAD_DATA for a
// damaged main header (then `out` is set all the same).
int openVolume(const std::string& path, std::shared_ptr<VolumeFile>& out);

// The name of the volume after `current`: name.partN.rar counts N up (keeping
// its width, growing it on carry); the old scheme goes .rar, .r00 ... .r99, .s00.
std::string nextVolumeName(const std::string& current, bool newNumbering);

bool isRegularFile(const std::string& path);

}  // namespace unrar
