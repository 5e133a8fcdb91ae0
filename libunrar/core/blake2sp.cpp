#include "core/blake2sp.h"

#include <algorithm>
#include <cstring>

namespace unrar {
namespace {

// A node of the two-level tree: a leaf (depth 0) or the root (depth 1).
void initNode(blake2s_state& s, std::size_t offset, std::uint8_t nodeDepth, bool last) {
  blake2s_param p;
  std::memset(&p, 0, sizeof p);
  p.digest_length = Blake2sp::kDigest;
  p.fanout = Blake2sp::kLeaves;
  p.depth = 2;
  p.node_offset[0] = static_cast<std::uint8_t>(offset);
  p.node_depth = nodeDepth;
  p.inner_length = Blake2sp::kDigest;
  blake2s_init_param(&s, &p);
  s.last_node = last ? 1 : 0;
}

}  // namespace

Blake2sp::Blake2sp() {
  for (std::size_t i = 0; i < kLeaves; ++i) initNode(leaves_[i], i, 0, i == kLeaves - 1);
  initNode(root_, 0, 1, true);
}

void Blake2sp::update(const std::uint8_t* p, std::size_t n) {
  // BLAKE2s keeps a leaf's last block back until its final call, so whole
  // stripes go to the leaves at once.
  constexpr std::size_t kStripe = kLeaves * kBlock;
  if (n == 0) return;
  if (buffered_) {
    const std::size_t k = std::min(n, kStripe - buffered_);
    std::memcpy(stripe_.data() + buffered_, p, k);
    buffered_ += k;
    p += k;
    n -= k;
    if (buffered_ < kStripe) return;
    for (std::size_t i = 0; i < kLeaves; ++i)
      blake2s_update(&leaves_[i], stripe_.data() + i * kBlock, kBlock);
    buffered_ = 0;
  }
  for (; n >= kStripe; p += kStripe, n -= kStripe)
    for (std::size_t i = 0; i < kLeaves; ++i) blake2s_update(&leaves_[i], p + i * kBlock, kBlock);
  std::memcpy(stripe_.data(), p, n);
  buffered_ = n;
}

std::array<std::uint8_t, Blake2sp::kDigest> Blake2sp::digest() {
  std::array<std::uint8_t, kDigest> leaf{};
  for (std::size_t i = 0; i < kLeaves; ++i) {
    if (buffered_ > i * kBlock)
      blake2s_update(&leaves_[i], stripe_.data() + i * kBlock,
                     std::min(kBlock, buffered_ - i * kBlock));
    blake2s_final(&leaves_[i], leaf.data(), leaf.size());
    blake2s_update(&root_, leaf.data(), leaf.size());
  }
  std::array<std::uint8_t, kDigest> out{};
  blake2s_final(&root_, out.data(), out.size());
  return out;
}

}  // namespace unrar
