// BLAKE2sp, the hash RAR 5 entries may carry instead of CRC32: eight BLAKE2s
// leaves over the data's 64-byte blocks taken in turn, and a root over the
// leaves' digests. Computed on the calling thread, over libb2's BLAKE2s: its
// own BLAKE2sp runs every update on a team of OpenMP threads, threads the
// library does not count and that cost more CPU time than they save.
#pragma once

#include <blake2.h>

#include <array>
#include <cstddef>
#include <cstdint>

namespace unrar {

class Blake2sp {
 public:
  static constexpr std::size_t kLeaves = 8;
  static constexpr std::size_t kBlock = BLAKE2S_BLOCKBYTES;
  static constexpr std::size_t kDigest = 32;

  Blake2sp();
  void update(const std::uint8_t* p, std::size_t n);
  // The hash of everything given; the object is used up.
  std::array<std::uint8_t, kDigest> digest();

 private:
  std::array<blake2s_state, kLeaves> leaves_;
  blake2s_state root_;
  // The start of a stripe (a block for each leaf, in turn) not yet complete.
  std::array<std::uint8_t, kLeaves * kBlock> stripe_;
  std::size_t buffered_ = 0;
};

}  // namespace unrar
