// A RAR 2.9 PPMd encoder for test fixtures: the library's own variant H model
// driven from the encoding side with the carry-less range encoder, written as
// RAR 2.9 PPMd blocks (block header, range-coded symbols, the escape byte's
// commands). Entries of a solid archive continue one model.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace unrar::ppmd {
class Model;
}

namespace ppmdenc {

// What a block header declares when it starts a fresh model.
struct Params {
  unsigned memoryMiB = 1;  // 1..256
  unsigned order = 6;      // 2..16, then 19, 22 ... 64 (what the header can say)
  int escape = -1;         // a new escape byte (0..255); -1 keeps the one in force
};

struct Block {
  std::size_t size = 0;  // bytes of the entry this block codes; 0: the rest
  // Parameters for a fresh model; none: the block continues the model in force.
  std::optional<Params> params;
};

class Encoder {
 public:
  Encoder();
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // The packed data of the stream's next entry, block by block, ending with
  // the end-of-file command. Runs of four or more equal bytes go out as the
  // repeat command, the escape byte itself as escape + 1. With `thenLz` the
  // entry ends with the command for new tables instead, and the caller
  // appends an LZ block that ends the entry.
  std::string pack(const std::string& data, const std::vector<Block>& blocks, bool thenLz = false);

  // How often the model started over because its memory ran out, in all.
  std::uint64_t modelRestarts() const { return restarts_; }

 private:
  void startBlock(const Block& b);
  void encodeSymbol(unsigned symbol);
  void encode(std::uint32_t start, std::uint32_t size, std::uint32_t total);
  void flush();
  void countRestarts();

  std::unique_ptr<unrar::ppmd::Model> model_;
  std::string out_;
  int escape_ = 2;
  std::uint32_t low_ = 0;
  std::uint32_t range_ = 0;
  std::uint64_t restarts_ = 0;
  std::uint64_t seen_ = 0;
};

}  // namespace ppmdenc
