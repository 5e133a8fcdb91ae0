#include "codec/rar29_filters.h"

#include <zlib.h>

#include <cstdlib>

#include "codec/byte_filters.h"
#include "core/fields.h"

namespace unrar::rar29 {

namespace {

// Filters that write their output after their input need the block to fit
// twice into the memory.
constexpr std::uint32_t kMaxTwoPassLength = kVmMemorySize / 2;
constexpr std::uint32_t kMaxAudioChannels = 254;

// x86 calls and jumps, with positions counted in 32 bits (past 4 GiB they
// wrap).
bool runE8(std::uint8_t* mem, std::uint32_t length, std::uint64_t fileOffset, bool alsoE9) {
  if (length > kVmMemorySize) return false;
  filters::unfilterX86(mem, length, fileOffset, alsoE9, filters::kX86PositionsRar29);
  return true;
}

std::uint32_t getBits(const std::uint8_t* p, unsigned bitPos, unsigned count) {
  const std::uint32_t field = load32le(p + bitPos / 8) >> (bitPos % 8);
  return field & (0xFFFFFFFFu >> (32 - count));
}

// Fields here span at most 27 bits from their first byte: 20 bits after a
// shift of at most 7.
void setBits(std::uint8_t* p, unsigned bitPos, unsigned count, std::uint32_t value) {
  const unsigned shift = bitPos % 8;
  const std::uint32_t mask = ((1u << count) - 1) << shift;
  const std::uint32_t field = load32le(p + bitPos / 8);
  store32le(p + bitPos / 8, (field & ~mask) | ((value << shift) & mask));
}

// IA-64 bundles: 16 bytes, a 5-bit template and three 41-bit slots. The
// encoder made the 20-bit immediate of IP-relative branches in branch slots
// absolute (counted in bundles); undo that.
bool runItanium(std::uint8_t* mem, std::uint32_t length, std::uint64_t fileOffset) {
  if (length > kVmMemorySize) return false;
  // Which slots of a template hold branch instructions, for templates 0x10-0x1F.
  static constexpr std::uint8_t kBranchSlots[16] = {4, 4, 6, 6, 0, 0, 7, 7, 4, 4, 0, 0, 4, 4, 0, 0};
  // Bundles are counted in 32 bits from the low half of the offset.
  auto bundle = static_cast<std::uint32_t>(fileOffset) >> 4;
  // The last slot's opcode field reaches 3 bytes into the next bundle. The
  // program checks the first bundle against the length before it starts and
  // every later one after it, hence the bound of one more byte for those.
  if (length <= 21) return true;
  for (std::uint32_t pos = 0; pos == 0 || pos + 21 <= length; pos += 16, ++bundle) {
    std::uint8_t* b = mem + pos;
    const int tmpl = (b[0] & 0x1F) - 0x10;
    if (tmpl < 0) continue;
    const std::uint8_t slots = kBranchSlots[tmpl];
    for (unsigned s = 0; s < 3; ++s) {
      if (!(slots & (1u << s))) continue;
      const unsigned start = s * 41 + 5;
      if (getBits(b, start + 37, 4) != 5) continue;
      const std::uint32_t target = getBits(b, start + 13, 20);
      setBits(b, start + 13, 20, (target - bundle) & 0xFFFFF);
    }
  }
  return true;
}

// Delta, the output written after the input.
bool runDelta(std::uint8_t* mem, std::uint32_t length, std::uint32_t channels) {
  // Without channels the program would never leave its loop.
  if (length > kMaxTwoPassLength || channels == 0) return false;
  filters::undelta(mem, mem + length, length, channels);
  return true;
}

// 24-bit pixels, rows `stride` bytes apart, each colour plane predicted from
// the left, upper and upper-left neighbours; green was subtracted from red and
// blue. The predictor picks the neighbour closest to left + upper - upperLeft.
bool runRgb(std::uint8_t* mem, std::uint32_t length, std::uint32_t stride, std::uint32_t posR) {
  if (length > kMaxTwoPassLength || length < 3 || stride < 3 || stride > length || posR > 2)
    return false;
  const std::uint8_t* src = mem;
  std::uint8_t* dst = mem + length;
  for (std::uint32_t c = 0; c < 3; ++c) {
    int pred = 0;
    std::uint32_t i = c;
    // The first row has nothing above it: left neighbours only.
    for (; i < length && i < stride; i += 3) {
      pred = static_cast<std::uint8_t>(pred - *src++);
      dst[i] = static_cast<std::uint8_t>(pred);
    }
    for (; i < length; i += 3) {
      const int upperLeft = dst[i - stride];
      const int upper = dst[i - stride + 3];
      const int da = std::abs(upper - upperLeft);
      const int db = std::abs(pred - upperLeft);
      const int dc = std::abs(upper - upperLeft + pred - upperLeft);
      // Written as selects: which neighbour wins is data, not a pattern a
      // branch predictor learns.
      const int other = db <= dc ? upper : upperLeft;
      pred = (da > db || da > dc) ? other : pred;
      pred = static_cast<std::uint8_t>(pred - *src++);
      dst[i] = static_cast<std::uint8_t>(pred);
    }
  }
  // The program adds green back at least once, even where the block is too
  // short for a whole pixel after posR; the bytes it then touches past the
  // block are inside the memory (length is at most half of it).
  std::uint32_t i = posR;
  do {
    dst[i] = static_cast<std::uint8_t>(dst[i] + dst[i + 1]);
    dst[i + 2] = static_cast<std::uint8_t>(dst[i + 2] + dst[i + 1]);
    i += 3;
  } while (i + 2 < length);
  return true;
}

// Interleaved 8-bit audio channels, each predicted from its last sample and
// last three deltas with weights that adapt every 32 samples towards the
// candidate whose error sum was smallest.
bool runAudio(std::uint8_t* mem, std::uint32_t length, std::uint32_t channels) {
  // The program keeps 64 bytes of state per channel after its globals; from
  // the 255th channel on that state wraps around the memory onto the samples.
  if (length > kMaxTwoPassLength || channels == 0 || channels > kMaxAudioChannels) return false;
  const std::uint8_t* src = mem;
  std::uint8_t* dst = mem + length;
  const std::uint32_t used = channels < length ? channels : length;
  for (std::uint32_t c = 0; c < used; ++c) {
    int w0 = 0, w1 = 0, w2 = 0;
    int d0 = 0, d1 = 0, d2 = 0;
    int lastDelta = 0;
    int last = 0;
    std::uint32_t count = 0;
    std::uint32_t err[7] = {0, 0, 0, 0, 0, 0, 0};
    for (std::uint32_t i = c; i < length; i += channels) {
      d2 = d1;
      d1 = lastDelta - d0;
      d0 = lastDelta;
      const int predicted = (8 * last + w0 * d0 + w1 * d1 + w2 * d2) >> 3;
      const int d = static_cast<std::int8_t>(*src++);
      const int value = (predicted - d) & 0xFF;
      const int e = d * 8;
      err[0] += static_cast<std::uint32_t>(std::abs(e));
      err[1] += static_cast<std::uint32_t>(std::abs(e - d0));
      err[2] += static_cast<std::uint32_t>(std::abs(e + d0));
      err[3] += static_cast<std::uint32_t>(std::abs(e - d1));
      err[4] += static_cast<std::uint32_t>(std::abs(e + d1));
      err[5] += static_cast<std::uint32_t>(std::abs(e - d2));
      err[6] += static_cast<std::uint32_t>(std::abs(e + d2));
      lastDelta = static_cast<std::int8_t>(value - last);
      last = value;
      dst[i] = static_cast<std::uint8_t>(value);
      if ((count++ & 0x1F) != 0) continue;
      // Every 32 samples, starting with the first: move the weight whose
      // candidate had the smallest error; ties go to the earlier candidate.
      unsigned best = 0;
      for (unsigned k = 1; k < 7; ++k)
        if (err[k] < err[best]) best = k;
      for (std::uint32_t& x : err) x = 0;
      int* w = best <= 2 ? &w0 : best <= 4 ? &w1 : &w2;
      if (best == 0) continue;
      if (best % 2 == 1) {
        if (*w >= -16) --*w;
      } else if (*w < 16) {
        ++*w;
      }
    }
  }
  return true;
}

}  // namespace

FilterKind identifyFilter(const std::uint8_t* code, std::size_t size) {
  if (code == nullptr || size == 0) return FilterKind::None;
  std::uint8_t check = 0;
  for (std::size_t i = 1; i < size; ++i) check ^= code[i];
  if (check != code[0]) return FilterKind::None;
  struct Known {
    std::size_t size;
    std::uint32_t crc;
    FilterKind kind;
  };
  static constexpr Known kKnown[] = {
      {53, 0xAD576887u, FilterKind::E8},       {57, 0x3CD7E57Eu, FilterKind::E8E9},
      {120, 0x3769893Fu, FilterKind::Itanium}, {29, 0x0E06077Du, FilterKind::Delta},
      {149, 0x1C2C5DC8u, FilterKind::Rgb},     {216, 0xBC85E701u, FilterKind::Audio},
  };
  for (const Known& k : kKnown) {
    if (k.size != size) continue;
    const auto crc = static_cast<std::uint32_t>(crc32(0, code, static_cast<uInt>(size)));
    return crc == k.crc ? k.kind : FilterKind::None;
  }
  return FilterKind::None;
}

bool runFilter(FilterKind kind, const std::array<std::uint32_t, 7>& r, std::uint8_t* memory,
               std::uint32_t blockLength, std::uint64_t fileOffset, FilterRun& out) {
  // The programs loop over r[4] bytes, while the output length is the block
  // length the decoder stored in the program's globals; they are the same
  // unless the record overrode r[4].
  const std::uint32_t length = r[4];
  bool ok = false;
  std::uint32_t start = 0;
  switch (kind) {
    case FilterKind::E8:
    case FilterKind::E8E9:
      ok = runE8(memory, length, fileOffset, kind == FilterKind::E8E9);
      break;
    case FilterKind::Itanium:
      ok = runItanium(memory, length, fileOffset);
      break;
    case FilterKind::Delta:
      ok = runDelta(memory, length, r[0]);
      start = length;
      break;
    case FilterKind::Rgb:
      ok = runRgb(memory, length, r[0], r[1]);
      start = length;
      break;
    case FilterKind::Audio:
      ok = runAudio(memory, length, r[0]);
      start = length;
      break;
    case FilterKind::None:
      break;
  }
  if (!ok || blockLength > kVmMemorySize - start) return false;
  out.start = start;
  out.length = blockLength;
  return true;
}

}  // namespace unrar::rar29
