// Why reading an archive failed. The block readers name the reason where they
// find the damage; the archive keeps it, and one table turns it into the
// public ERAR_* code (failureCode, archive.cpp).
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
  Reported,           // a lower stage's own ERAR_* code (volume change, decryption)
};

}  // namespace unrar
