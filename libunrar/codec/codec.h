// Decompression: one decoder per algorithm, chosen by makeDecoder from the
// format and the entry's method and version. Volumes and encryption are
// handled before any decoder: each reads the entry's packed data as a stream.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "core/failure.h"
#include "core/rar_entry.h"
#include "core/streams.h"
#include "unrar.h"

namespace unrar {

// A decoding session: one entry, or every entry of one solid stream in order.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Decodes the next entry of the session into `sink`, exactly e.unpSize bytes.
  // `in` must hold the entry's whole packed data. Returns why it failed, if
  // it did (a Sink's or InStream's own code passed on as Failure::Reported).
  virtual Outcome decode(const Entry& e, std::unique_ptr<InStream> in, std::uint32_t finalCrc,
                         Sink& sink) = 0;
  // False once the session cannot continue (a failed entry breaks a solid stream).
  virtual bool usable() const = 0;
};

// A decoder whose session breaks at its first failed entry (a solid stream
// cannot go on past damage). Running out of memory is Failure::OutOfMemory:
// no exception reaches the C interface.
class StreamDecoder : public Decoder {
 public:
  Outcome decode(const Entry& e, std::unique_ptr<InStream> in, std::uint32_t, Sink& sink) final {
    if (broken_) return Failure::BrokenSession;
    Outcome rc;
    try {
      rc = decodeEntry(e, *in, sink);
    } catch (const std::bad_alloc&) {
      rc = Failure::OutOfMemory;
    }
    if (rc) broken_ = true;
    return rc;
  }
  bool usable() const final { return !broken_; }

 protected:
  // Decodes the session's next entry: exactly e.unpSize bytes into `sink`.
  virtual Outcome decodeEntry(const Entry& e, InStream& in, Sink& sink) = 0;
  bool broken_ = false;
};

// Whether an entry's data can be decoded here: stored data always, and the
// compression algorithms that have a decoder.
bool canDecode(Format format, const Entry& e);

// A new decoding session for the entry's algorithm, or null where there is
// none. `solidArchive`: the archive's entries may continue one stream.
std::unique_ptr<Decoder> makeDecoder(Format format, const Entry& e, bool solidArchive);

// The algorithm a decoding session serves: an entry can continue a solid
// stream only in a session of its own algorithm.
std::uint32_t algorithmOf(Format format, const Entry& e);

// The decoders, one per algorithm.
std::unique_ptr<Decoder> makeRar15Decoder(bool solidArchive);
std::unique_ptr<Decoder> makeRar20Decoder(bool solidArchive);
std::unique_ptr<Decoder> makeRar29Decoder(bool solidArchive);
std::unique_ptr<Decoder> makeRar5Decoder(bool solidArchive);

// The threads a RAR 2.9 or RAR 5 entry may decode on (1 or 2) and the packed
// size from which it uses the second. By default the machine's cores decide
// (see stage_worker.h for QUILLMOSS_UNRAR_THREADS); tests set it here, and
// threads = 0 gives the decision back to the machine.
void setLzThreading(unsigned threads, std::uint64_t minPacked);

}  // namespace unrar
