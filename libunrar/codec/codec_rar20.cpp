// RAR 2.0 decompression (unpack versions 20 and 26): LZ77 with Huffman-coded
// literals, lengths and distances, and a multimedia mode that predicts each
// byte from the previous bytes of its channel and codes only the error.
//
// Everything a solid stream carries from file to file lives in the decoder:
// the window, the code lengths a table read adds to, the tables themselves,
// the recent distances and the audio predictors. A file of a solid stream
// starts with the tables in force; the stream asks for new ones by itself.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "codec/bit_input.h"
#include "codec/codec.h"
#include "codec/huffman.h"
#include "codec/lz_window.h"
#include "codec/rar20_audio.h"
#include "codec/rar2x_codes.h"
#include "unrar.h"

namespace unrar {
namespace {

using namespace unrar::rar2x;

constexpr unsigned kMainSymbols = kMainSymbols20;
constexpr unsigned kDistSymbols = kDistSlots20;
constexpr unsigned kLengthSymbols = kLengthSlots;
constexpr unsigned kLzLengths = kMainSymbols + kDistSymbols + kLengthSymbols;
constexpr unsigned kAudioSymbols = kAudioSymbols20;
constexpr unsigned kMaxChannels = 4;
constexpr unsigned kLevelSymbols = 19;

constexpr unsigned kNewTable = 269;       // main code: read new tables
constexpr unsigned kAudioNewTable = 256;  // audio code: read new tables

constexpr std::size_t kMinWindow = std::size_t{64} << 10;
constexpr std::size_t kMaxWindow = std::size_t{1} << 20;
// The longest match: length base 224 with 5 extra bits, plus 3, plus the
// three bonuses of far distances. Decoding stops this far before unflushed
// data would be overwritten.
constexpr unsigned kMaxMatch = 224 + 31 + 3 + 3;

std::size_t roundWindow(std::uint64_t bytes) {
  std::size_t w = kMinWindow;
  while (w < bytes && w < kMaxWindow) w <<= 1;
  return w;
}

class Rar20Decoder final : public LzWindowDecoder {
 public:
  explicit Rar20Decoder(bool solidArchive) : solidArchive_(solidArchive) {}

 private:
  Outcome decodeEntry(const Entry& e, InStream& in, Sink& sink) override {
    if (e.unpSizeUnknown) return Failure::WrongUnpackedSize;
    const bool continues = started_ && solidArchive_ && e.solid;
    if (!continues) reset();
    started_ = true;
    // A stream that is not continued needs no more window than its own
    // size: a valid one never reaches further back than its start.
    std::uint64_t need = e.dictBytes;
    if (!solidArchive_) need = std::min<std::uint64_t>(need, e.unpSize);
    prepareWindow(roundWindow(need));

    if (e.unpSize > UINT64_MAX - pos_) return Failure::WrongUnpackedSize;
    // Small files get a small read buffer: many of them in a row should not
    // each clear 64 KiB.
    BitInput bits(in,
                  static_cast<std::size_t>(std::clamp<std::uint64_t>(in.remaining(), 4096, 65536)));
    return decodeThroughWindow(e.unpSize, kMaxMatch, bits, sink);
  }

  void reset() {
    pos_ = flushed_ = 0;
    std::fill(window_.begin(), window_.end(), std::uint8_t{0});
    lengths_.fill(0);
    tablesRead_ = false;
    audio_ = false;
    channels_ = 1;
    channel_ = 0;
    channelDelta_ = 0;
    for (AudioChannel& c : audioState_) c = AudioChannel{};
    oldDist_.fill(0);
    oldDistIndex_ = 0;
    lastDist_ = 0;
    lastLength_ = 0;
  }

  // Makes the window at least `size` bytes, keeping the bytes a solid stream
  // may still refer to at the same positions.
  void prepareWindow(std::size_t size) {
    if (window_.size() >= size) return;
    std::vector<std::uint8_t> grown(size, 0);
    if (!window_.empty()) {
      const std::size_t oldMask = window_.size() - 1;
      const std::uint64_t keep = std::min<std::uint64_t>(pos_, window_.size());
      for (std::uint64_t p = pos_ - keep; p < pos_; ++p)
        grown[p & (size - 1)] = window_[p & oldMask];
    }
    window_.swap(grown);
  }

  Outcome fill(BitInput& in, std::uint64_t stop) override {
    while (pos_ < stop) {
      if (in.exhausted()) return in.failure();
      if (!tablesRead_) {
        Outcome rc = readTables(in);
        if (rc) return rc;
      }
      Outcome rc = audio_ ? decodeAudio(in, stop) : decodeLz(in, stop);
      if (rc) return rc;
    }
    return {};
  }

  Outcome readTables(BitInput& in) {
    audio_ = in.bits(1) != 0;
    if (in.bits(1) == 0) lengths_.fill(0);
    unsigned count = kLzLengths;
    if (audio_) {
      channels_ = in.bits(2) + 1;
      if (channel_ >= channels_) channel_ = 0;
      count = channels_ * kAudioSymbols;
    }
    std::array<std::uint8_t, kLevelSymbols> levelLengths{};
    for (std::uint8_t& l : levelLengths) l = static_cast<std::uint8_t>(in.bits(4));
    HuffmanTable level;
    if (!level.build(levelLengths.data(), levelLengths.size())) return Failure::BadTable;

    for (unsigned i = 0; i < count;) {
      if (in.exhausted()) return in.failure();
      const int sym = level.decode(in);
      if (sym < 0) return Failure::BadTable;
      if (sym < 16) {
        lengths_[i] = static_cast<std::uint8_t>((lengths_[i] + sym) & 0xF);
        ++i;
        continue;
      }
      unsigned run = 0;
      std::uint8_t value = 0;
      if (sym == 16) {
        if (i == 0) return Failure::BadTable;
        run = in.bits(2) + 3;
        value = lengths_[i - 1];
      } else if (sym == 17) {
        run = in.bits(3) + 3;
      } else {
        run = in.bits(7) + 11;
      }
      for (; run > 0 && i < count; --run) lengths_[i++] = value;
    }
    if (in.exhausted()) return in.failure();

    tablesRead_ = false;
    if (audio_) {
      for (unsigned c = 0; c < channels_; ++c)
        if (!audioCode_[c].build(lengths_.data() + c * kAudioSymbols, kAudioSymbols))
          return Failure::BadTable;
    } else if (!mainCode_.build(lengths_.data(), kMainSymbols) ||
               !distCode_.build(lengths_.data() + kMainSymbols, kDistSymbols) ||
               !lengthCode_.build(lengths_.data() + kMainSymbols + kDistSymbols, kLengthSymbols)) {
      return Failure::BadTable;
    }
    tablesRead_ = true;
    return {};
  }

  // Copies a match within the window; bytes that do not wrap around the
  // window's end are copied without masking each position.
  static void copyMatch(std::uint8_t* w, std::size_t mask, std::uint64_t pos, std::uint32_t dist,
                        std::uint32_t len) {
    const std::size_t d = static_cast<std::size_t>(pos & mask);
    const std::size_t s = static_cast<std::size_t>((pos - dist) & mask);
    if (d + len <= mask + 1 && s + len <= mask + 1) {
      std::uint8_t* dp = w + d;
      const std::uint8_t* sp = w + s;
      // Eight bytes at a time give what a byte-by-byte copy gives as long as
      // no eight-byte step reads bytes that the same step writes.
      // The last step may go back over bytes already written: it writes
      // them again with the same values.
      const std::size_t gap = s < d ? d - s : s - d;
      if (gap >= 8 && len >= 8) {
        for (std::uint32_t i = 0; i + 8 <= len; i += 8) std::memcpy(dp + i, sp + i, 8);
        std::memcpy(dp + len - 8, sp + len - 8, 8);
        return;
      }
      for (std::uint32_t i = 0; i < len; ++i) dp[i] = sp[i];
      return;
    }
    for (std::uint32_t i = 0; i < len; ++i) w[(pos + i) & mask] = w[(pos - dist + i) & mask];
  }

  Outcome decodeLz(BitInput& in, std::uint64_t stop) {
    // Only this pointer touches the window here: without saying so, every
    // byte stored would make the compiler reload the bit reader's state.
    std::uint8_t* __restrict const w = window_.data();
    const std::size_t mask = window_.size() - 1;
    std::uint64_t pos = pos_;
    Outcome rc;
    while (pos < stop) {
      if (in.exhausted()) [[unlikely]] {
        rc = in.failure();
        break;
      }
      const int sym = mainCode_.decode(in);
      if (sym < 256) {
        if (sym < 0) [[unlikely]] {
          rc = Failure::BadSymbol;
          break;
        }
        w[pos & mask] = static_cast<std::uint8_t>(sym);
        ++pos;
        continue;
      }
      std::uint32_t dist = 0;
      std::uint32_t len = 0;
      if (sym > static_cast<int>(kNewTable)) {
        const unsigned ls = static_cast<unsigned>(sym) - 270;
        len = kLengthBase[ls] + 3u;
        if (kLengthBits[ls]) len += in.bits(kLengthBits[ls]);
        const int ds = distCode_.decode(in);
        if (ds < 0) {
          rc = Failure::BadSymbol;
          break;
        }
        dist = kDistBase20[ds] + 1u;
        if (kDistBits20[ds]) dist += in.bits(kDistBits20[ds]);
        if (dist >= 0x2000) {
          ++len;
          if (dist >= 0x40000) ++len;
        }
      } else if (sym == static_cast<int>(kNewTable)) {
        tablesRead_ = false;
        break;
      } else if (sym == 256) {
        dist = lastDist_;
        len = lastLength_;
      } else if (sym < 261) {
        dist = oldDist_[(oldDistIndex_ - static_cast<unsigned>(sym - 256)) & 3];
        const int ls = lengthCode_.decode(in);
        if (ls < 0) {
          rc = Failure::BadSymbol;
          break;
        }
        len = kLengthBase[ls] + 2u;
        if (kLengthBits[ls]) len += in.bits(kLengthBits[ls]);
        if (dist >= 0x101) {
          ++len;
          if (dist >= 0x2000) {
            ++len;
            if (dist >= 0x40000) ++len;
          }
        }
      } else {
        const unsigned ss = static_cast<unsigned>(sym) - 261;
        dist = kShortBase[ss] + 1u + in.bits(kShortBits[ss]);
        len = 2;
      }
      oldDist_[oldDistIndex_++ & 3] = dist;
      lastDist_ = dist;
      lastLength_ = len;
      copyMatch(w, mask, pos, dist, len);
      pos += len;
    }
    pos_ = pos;
    return rc;
  }

  Outcome decodeAudio(BitInput& in, std::uint64_t stop) {
    std::uint8_t* __restrict const w = window_.data();
    const std::size_t mask = window_.size() - 1;
    // Locals, and the window's pointer restricted, as in decodeLz.
    std::uint64_t pos = pos_;
    unsigned channel = channel_;
    int channelDelta = channelDelta_;
    const unsigned channels = channels_;
    Outcome rc;
    while (pos < stop) {
      if (in.exhausted()) [[unlikely]] {
        rc = in.failure();
        break;
      }
      const int sym = audioCode_[channel].decode(in);
      if (sym < 0) [[unlikely]] {
        rc = Failure::BadSymbol;
        break;
      }
      if (sym == static_cast<int>(kAudioNewTable)) {
        tablesRead_ = false;
        break;
      }
      w[pos & mask] = predictAudio(audioState_[channel], channelDelta, static_cast<unsigned>(sym));
      ++pos;
      if (++channel == channels) channel = 0;
    }
    pos_ = pos;
    channel_ = channel;
    channelDelta_ = channelDelta;
    return rc;
  }

  const bool solidArchive_;
  bool started_ = false;

  // The code lengths in force: a table read may add to them.
  std::array<std::uint8_t, kAudioSymbols * kMaxChannels> lengths_{};
  bool tablesRead_ = false;
  bool audio_ = false;
  HuffmanTable mainCode_;
  HuffmanTable distCode_;
  HuffmanTable lengthCode_;
  std::array<HuffmanTable, kMaxChannels> audioCode_;

  std::array<std::uint32_t, 4> oldDist_{};
  unsigned oldDistIndex_ = 0;
  std::uint32_t lastDist_ = 0;
  std::uint32_t lastLength_ = 0;

  unsigned channels_ = 1;
  unsigned channel_ = 0;
  int channelDelta_ = 0;
  std::array<AudioChannel, kMaxChannels> audioState_{};
};

}  // namespace

std::unique_ptr<Decoder> makeRar20Decoder(bool solidArchive) {
  return std::make_unique<Rar20Decoder>(solidArchive);
}

}  // namespace unrar
