// PPMd variant H with the range decoder RAR 2.9 codes it with. One model
// lives across the entries of a solid stream; a block that declares new
// parameters restarts it, any other block only restarts the range decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "codec/bit_input.h"

namespace unrar {

namespace ppmd {
class Model;
}

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
  // Orders outside 2..64 are refused too: no encoder writes them.
  bool restart(std::size_t memBytes, unsigned maxOrder);
  // A model to continue: restarted, and not broken by damaged data since.
  bool hasModel() const;
  // (Re)starts the range decoder at the reader's position (byte aligned; reads 4 bytes).
  void startDecoder(BitInput& in);
  // The next byte, or -1 for data no encoder writes. After -1 the model is
  // gone until the next restart().
  int decodeChar(BitInput& in);

 private:
  int fail() {
    ready_ = false;
    return -1;
  }
  void decode(BitInput& in, std::uint32_t start, std::uint32_t size) {
    code_ -= start * range_;
    low_ += start * range_;
    range_ *= size;
    normalize(in);
  }
  void normalize(BitInput& in) {
    // Carry-less: when the top byte of the interval is not settled and the
    // range has grown too small, the range is cut to end at the next
    // boundary instead of waiting for a carry.
    for (;;) {
      if ((low_ ^ (low_ + range_)) >= kTop) {
        if (range_ >= kBottom) break;
        range_ = (0u - low_) & (kBottom - 1);
      }
      code_ = (code_ << 8) | in.byte();
      range_ <<= 8;
      low_ <<= 8;
    }
  }

  static constexpr std::uint32_t kTop = 1u << 24;
  static constexpr std::uint32_t kBottom = 1u << 15;

  std::unique_ptr<ppmd::Model> model_;
  bool ready_ = false;
  // code_ is kept relative to low_: the decoder only ever needs the difference.
  std::uint32_t low_ = 0;
  std::uint32_t code_ = 0;
  std::uint32_t range_ = 0;
};

}  // namespace unrar
