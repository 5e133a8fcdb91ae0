// A RAR 2.9 LZ stream made of literal codes only. It is real compressed data for
// any decoder (code tables, Huffman-coded symbols, the end-of-file code), so
// fixtures exercise decompression, solid streams and their interplay with
// encryption without a compressor: every byte costs 9 bits, and the code
// tables cost 77 bytes where they are sent.
#include <algorithm>
#include <stdexcept>

#include "writer_internal.h"

namespace rarwriter::detail {
namespace {

// Most significant bit first, as RAR's decoders read.
class BitWriter {
 public:
  void put(std::uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc_ = static_cast<std::uint8_t>(acc_ << 1 | ((value >> i) & 1));
      if (++used_ == 8) {
        out_.push_back(static_cast<char>(acc_));
        acc_ = 0;
        used_ = 0;
      }
    }
  }
  Bytes finish() {
    if (used_) put(0, 8 - used_);
    return std::move(out_);
  }

 private:
  Bytes out_;
  std::uint8_t acc_ = 0;
  int used_ = 0;
};

// Main code lengths: the 256 literals take 9 bits, symbol 256 (end of block
// or file) 1 bit, and the other 147 symbols of the four tables none. With
// canonical code assignment that makes symbol 256 "0" and literal b 0x100 | b.
constexpr int kLiteralBits = 9;
constexpr int kTableSymbols = 299 + 60 + 17 + 28;

// The precode sends those lengths with four symbols of 2 bits each: lengths
// 1 and 9 (added to the zeroed old table), and the two zero-run symbols.
void putTables(BitWriter& w) {
  w.put(0, 1);  // LZ block, not PPMd
  w.put(0, 1);  // start from zeroed lengths
  for (int symbol = 0; symbol < 20; ++symbol)
    w.put(symbol == 1 || symbol == 9 || symbol == 18 || symbol == 19 ? 2 : 0, 4);
  constexpr std::uint32_t kLength1 = 0, kLength9 = 1, kZeros3 = 2, kZeros11 = 3;
  for (int literal = 0; literal < 256; ++literal) w.put(kLength9, 2);
  w.put(kLength1, 2);
  int zeros = kTableSymbols - 257;
  while (zeros >= 11) {
    int run = std::min(zeros, 11 + 127);
    w.put(kZeros11, 2);
    w.put(static_cast<std::uint32_t>(run - 11), 7);
    zeros -= run;
  }
  if (zeros >= 3) {
    w.put(kZeros3, 2);
    w.put(static_cast<std::uint32_t>(zeros - 3), 3);
    zeros = 0;
  }
  if (zeros != 0) throw std::logic_error("zero run the precode cannot send");
}

}  // namespace

Bytes rar29LiteralStream(const Bytes& data, bool withTables, bool trailingByte) {
  BitWriter w;
  if (withTables) putTables(w);
  for (unsigned char b : data) w.put(0x100u | b, kLiteralBits);
  w.put(0, 1);  // symbol 256
  w.put(0, 1);  // end of file
  w.put(0, 1);  // the next file keeps these tables
  Bytes out = w.finish();
  if (trailingByte) out.push_back('\0');
  return out;
}

}  // namespace rarwriter::detail
