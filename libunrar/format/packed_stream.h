// The packed bytes of one entry, joined across its volume parts. This is the
// input stage of the data path: volumes joined -> (decryption) -> codec.
// A decrypting stage wraps an InStream (core/streams.h) and is itself one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/streams.h"
#include "format/volume.h"

namespace unrar {

struct Part {
  // The part's volume, while it is held open. An entry may span more volumes
  // than a process may hold open: a part in the middle of a span keeps only
  // its volume's path, and the volume is opened while the part is read.
  std::shared_ptr<VolumeFile> volume;
  std::uint64_t offset = 0;
  std::uint64_t size = 0;
  // A part continued in the next volume carries the CRC32 of its own packed bytes.
  bool checkCrc = false;
  std::uint32_t crc = 0;
  std::string path{};

  // The volume, opened again by its path when it is not held; nullptr when
  // it cannot be.
  std::shared_ptr<VolumeFile> open() const { return volume ? volume : VolumeFile::open(path); }
};

class PackedStream final : public InStream {
 public:
  PackedStream() = default;
  explicit PackedStream(std::vector<Part> parts) : parts_(std::move(parts)) {
    for (const Part& p : parts_) total_ += p.size;
  }
  int read(std::uint8_t* buf, std::size_t n, std::size_t& got) override;
  std::uint64_t remaining() const override { return total_ - consumed_; }
  std::uint64_t total() const { return total_; }

 private:
  std::vector<Part> parts_;
  std::shared_ptr<VolumeFile> reading_;  // the volume of parts_[index_]
  std::size_t index_ = 0;
  std::uint64_t inPart_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t consumed_ = 0;
  std::uint32_t partCrc_ = 0;
};

}  // namespace unrar
