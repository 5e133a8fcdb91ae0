// Decompression through libraries: each codec is handed a clean one-volume
// archive rebuilt from what libunrar parsed (one plain header per entry and
// the entry's packed data, joined across volumes), so volumes, damage in
// other headers and (later) encryption never reach it.
#pragma once

#include <cstdint>
#include <memory>

#include "packed_stream.h"
#include "rar_entry.h"

namespace unrar {

class Sink {
 public:
  virtual ~Sink() = default;
  // Returns 0 or an ERAR_* code that stops decoding.
  virtual int put(const std::uint8_t* data, std::size_t n) = 0;
};

// A decoding session: one entry, or every entry of one solid stream in order.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes the next entry of the session into `sink`, exactly e.unpSize bytes.
  // `in` must hold the entry's whole packed data. Returns 0 or an ERAR_* code.
  virtual int decode(const Entry& e, std::unique_ptr<InStream> in, std::uint32_t finalCrc,
                     Sink& sink) = 0;
  // False once the session cannot continue (a failed entry breaks a solid stream).
  virtual bool usable() const = 0;
};

// RAR 1.5-4 through libunarr; `solidArchive` marks the rebuilt archive solid.
std::unique_ptr<Decoder> makeRar4Decoder(bool solidArchive);
// RAR 5 through libarchive's rar5 reader.
std::unique_ptr<Decoder> makeRar5Decoder(bool solidArchive);

}  // namespace unrar
