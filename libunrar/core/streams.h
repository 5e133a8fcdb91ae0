// The two ends every stage of the data path talks through: an InStream gives
// bytes (an entry's packed data joined across volumes, or a decrypting stage
// wrapped around one), a Sink takes the bytes a decoder produces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace unrar {

class InStream {
 public:
  virtual ~InStream() = default;
  // Reads up to n bytes; got = 0 at the end. Returns 0 or an ERAR_* code.
  virtual int read(std::uint8_t* buf, std::size_t n, std::size_t& got) = 0;
  virtual std::uint64_t remaining() const = 0;
};

class Sink {
 public:
  virtual ~Sink() = default;
  // Returns 0 or an ERAR_* code that stops decoding.
  virtual int put(const std::uint8_t* data, std::size_t n) = 0;
};

}  // namespace unrar
