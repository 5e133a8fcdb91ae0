// The PPMd variant H model with the range decoder RAR 2.9 codes it with.
// One model lives across the entries of a solid stream; a block that declares
// new parameters restarts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bit_input.h"

namespace unrar {

class PpmdH {
 public:
  // The largest model a block may ask for; anything above is damaged data.
  static constexpr std::size_t kMaxMemory = 256u << 20;

  PpmdH();
  ~PpmdH();
  PpmdH(const PpmdH&) = delete;
  PpmdH& operator=(const PpmdH&) = delete;

  // A new model of memBytes memory and order maxOrder (after RAR's mapping);
  // false when memBytes is 0 or above kMaxMemory, or the memory cannot be had.
  bool restart(std::size_t memBytes, unsigned maxOrder);
  bool hasModel() const;
  // (Re)starts the range decoder at the reader's position (byte aligned; reads 4 bytes).
  void startDecoder(BitInput& in);
  // The next byte, or -1 for data no encoder writes.
  int decodeChar(BitInput& in);

 private:
  struct Model;
  std::unique_ptr<Model> model_;
};

}  // namespace unrar
