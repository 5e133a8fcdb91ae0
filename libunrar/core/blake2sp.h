// BLAKE2sp, the hash RAR 5 entries may carry instead of CRC32: eight BLAKE2s
// leaves over the data's 64-byte blocks taken in turn, and a root over the
// leaves' digests. Computed on the calling thread (libb2's own BLAKE2sp runs
// every update on a team of OpenMP threads the library does not count): the
// eight leaves are compressed together, one in each 32-bit lane of the AVX2
// registers where the processor has them, so that a stripe of eight blocks
// costs about what one block costs alone. libb2 sets up the nodes and hashes
// the root.
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
  static constexpr std::size_t kStripe = kLeaves * kBlock;

  Blake2sp();
  void update(const std::uint8_t* p, std::size_t n);
  // The hash of everything given; the object is used up.
  std::array<std::uint8_t, kDigest> digest();

 private:
  // The leaves' chaining values, word by word: h_[word][leaf].
  std::uint32_t h_[8][kLeaves];
  // The bytes each leaf has compressed (whole stripes only, so the same for all).
  std::uint64_t compressed_ = 0;
  blake2s_state root_;
  // What is not compressed yet. A stripe is compressed only once more than
  // seven blocks follow it, so that every leaf still holds its last block
  // for the final compression, which is marked as such.
  static constexpr std::size_t kHeldBack = (kLeaves - 1) * kBlock;
  std::array<std::uint8_t, kStripe + kHeldBack> pending_;
  std::size_t buffered_ = 0;
};

}  // namespace unrar
