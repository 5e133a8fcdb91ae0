#include "huffman_code.h"

#include <algorithm>
#include <queue>
#include <utility>

namespace rarcode {

std::vector<std::uint8_t> codeLengths(std::vector<std::uint64_t> freq, unsigned maxBits,
                                      bool everySymbol) {
  if (everySymbol) {
    for (auto& f : freq) ++f;
  } else {
    std::size_t used = std::count_if(freq.begin(), freq.end(), [](auto f) { return f > 0; });
    for (std::size_t i = 0; used < 2 && i < freq.size(); ++i)
      if (freq[i] == 0) {
        freq[i] = 1;
        ++used;
      }
  }
  for (;;) {
    struct Node {
      std::uint64_t weight;
      int left, right;  // left < 0: a leaf, right its symbol
    };
    std::vector<Node> nodes;
    using Item = std::pair<std::uint64_t, int>;
    std::priority_queue<Item, std::vector<Item>, std::greater<>> queue;
    for (std::size_t i = 0; i < freq.size(); ++i)
      if (freq[i]) {
        nodes.push_back({freq[i], -1, static_cast<int>(i)});
        queue.push({freq[i], static_cast<int>(nodes.size() - 1)});
      }
    std::vector<std::uint8_t> lengths(freq.size(), 0);
    if (queue.empty()) return lengths;
    while (queue.size() > 1) {
      auto [wa, a] = queue.top();
      queue.pop();
      auto [wb, b] = queue.top();
      queue.pop();
      nodes.push_back({wa + wb, a, b});
      queue.push({wa + wb, static_cast<int>(nodes.size() - 1)});
    }
    unsigned deepest = 0;
    std::vector<std::pair<int, unsigned>> stack{{queue.top().second, 0}};
    while (!stack.empty()) {
      auto [n, depth] = stack.back();
      stack.pop_back();
      if (nodes[n].left < 0) {
        lengths[nodes[n].right] = static_cast<std::uint8_t>(std::max(depth, 1u));
        deepest = std::max(deepest, depth);
      } else {
        stack.push_back({nodes[n].left, depth + 1});
        stack.push_back({nodes[n].right, depth + 1});
      }
    }
    if (deepest <= maxBits) return lengths;
    for (auto& f : freq)
      if (f) f = (f + 1) / 2;
  }
}

std::vector<std::uint32_t> canonicalCodes(const std::vector<std::uint8_t>& lengths) {
  std::vector<std::uint32_t> codes(lengths.size());
  std::uint8_t longest = 0;
  for (std::uint8_t l : lengths) longest = std::max(longest, l);
  std::uint32_t code = 0;
  for (unsigned len = 1; len <= longest; ++len) {
    for (std::size_t i = 0; i < lengths.size(); ++i)
      if (lengths[i] == len) codes[i] = code++;
    code <<= 1;
  }
  return codes;
}

}  // namespace rarcode
