// Why reading an archive or decoding an entry failed. The block readers and
// the decoders name the reason where they find the damage; one table turns it
// into the public ERAR_* code (errorCodeOf, archive.cpp).
#pragma once

#include <cstdint>

namespace unrar {

enum class Failure : std::uint8_t {
  None,
  HeaderPastEnd,      // a header starts before the end of the volume but does not fit
  HeaderTooLarge,     // a header size of 0 or beyond what either format allows
  BadHeaderCrc,       // the header's bytes do not match its CRC
  CorruptHeader,      // the fields do not fit the header, or a size overflows
  NotABlock,          // the bytes at a block's place are no block type
  BlockGoesBack,      // a block's successor starts at or before it
  MissingEndBlock,    // a RAR 5 volume ends without its end block
  TooManyBlocks,      // more blocks without an entry than one header read may walk
  DamagedMainHeader,  // the archive opened, but its main header is damaged
  PasswordMissing,    // encrypted headers and no password: later reads fail
  Reported,           // a lower stage's own ERAR_* code (volume change, decryption, output)
  // The decoders.
  BadTable,               // a code table (Huffman lengths, level code) does not make a code
  BadSymbol,              // a symbol or block header no code or stream allows
  DictionaryTooLarge,     // the entry's dictionary is beyond what the algorithm allows
  UnknownFilter,          // a filter program or type that is none of the standard ones
  FilterLimits,           // filters that overlap, exceed their size or count, or reach outside
  DistanceOutsideWindow,  // a match reaching before the stream's start
  TruncatedStream,        // the packed data ends before the entry does
  WrongUnpackedSize,      // the stream's end and the entry's size disagree (or size unknown)
  PpmdModel,              // the PPMd model's parameters or symbols are impossible
  OutOfMemory,            // the window or model could not be allocated
  BrokenSession,          // an earlier entry of the solid stream failed
};

// What a stage answers: None, a named reason, or (Reported) a lower stage's
// own ERAR_* code passed on, such as the output's write error.
struct Outcome {
  Failure why = Failure::None;
  int reported = 0;

  constexpr Outcome() = default;
  constexpr Outcome(Failure f) : why(f) {}  // NOLINT: a reason is an outcome
  // Passes a lower stage's ERAR_* code (0 = success) on.
  static constexpr Outcome passOn(int rc) {
    Outcome o;
    if (rc != 0) {
      o.why = Failure::Reported;
      o.reported = rc;
    }
    return o;
  }
  explicit constexpr operator bool() const { return why != Failure::None; }
};

}  // namespace unrar
