// The RAR 5 history window: a ring that grows with the data up to the
// dictionary size, the matches copied within it, and the filters that
// transform stretches of the output on their way to the sink.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "codec/byte_filters.h"
#include "codec/copy_bytes.h"
#include "codec/rar5_lz.h"
#include "core/available_memory.h"
#include "core/fields.h"
#include "unrar.h"

namespace unrar::rar5lz {
namespace {

// The least the window grows to at once.
constexpr std::uint64_t kMinGrowth = 256u << 10;

// ARM BL instructions: a 24-bit word offset after the 0xEB byte.
void unfilterArm(std::uint8_t* data, std::size_t n, std::uint64_t pos) {
  for (std::size_t i = 0; i + 3 < n; i += 4) {
    if (data[i + 3] != 0xEB) continue;
    std::uint32_t v = data[i] | (data[i + 1] << 8) | (data[i + 2] << 16);
    v -= static_cast<std::uint32_t>((pos + i) / 4);
    data[i] = static_cast<std::uint8_t>(v);
    data[i + 1] = static_cast<std::uint8_t>(v >> 8);
    data[i + 2] = static_cast<std::uint8_t>(v >> 16);
  }
}

}  // namespace

Window::~Window() {
  std::free(buf_);
}

void Window::reset() {
  w_ = pos_ = flushed_ = 0;
  maxSize_ = 0;
  expectedEnd_ = 0;
  filters_.clear();
}

void Window::configure(std::uint64_t maxSize, std::uint64_t expectedEnd) {
  maxSize_ = std::max(maxSize_, maxSize);
  expectedEnd_ = expectedEnd;
}

// Makes room for `need` more bytes. Until the window has its full size it
// keeps everything since the stream began; it grows no further than the
// expected end of the data.
void Window::grow(std::uint64_t need) {
  const std::uint64_t kept = std::min(pos_, cap_);
  if (cap_ >= maxSize_ || kept + need <= cap_) return;
  std::uint64_t size = std::max({cap_ * 2, kept + need, kMinGrowth});
  if (expectedEnd_ > pos_) size = std::min(size, expectedEnd_ - pos_ + kept + kMaxMatch);
  size = std::max(size, kept + need);
  size = std::min(size, maxSize_);
  // What the growth commits: the new part when the buffer is extended, the
  // whole new buffer (beside the old one) when it is moved. The system would
  // grant more than it has and kill the process when the pages are touched.
  const bool inPlace = w_ == kept;
  if (size > SIZE_MAX || (inPlace ? size - cap_ : size) > availableMemory()) throw std::bad_alloc();
  if (inPlace) {
    // The kept bytes are at the buffer's start, in order: the allocator may
    // extend the buffer in place (large ones are remapped, not copied).
    auto* nb = static_cast<std::uint8_t*>(std::realloc(buf_, static_cast<std::size_t>(size)));
    if (!nb) throw std::bad_alloc();
    buf_ = nb;
    cap_ = size;
    return;
  }
  auto* nb = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size)));
  if (!nb) throw std::bad_alloc();
  // The kept bytes in order, oldest first.
  if (kept) copyOut(pos_ - kept, static_cast<std::size_t>(kept), nb);
  std::free(buf_);
  buf_ = nb;
  cap_ = size;
  w_ = kept == cap_ ? 0 : kept;
}

// Copies n bytes of the stream from position `from` (still in the window).
void Window::copyOut(std::uint64_t from, std::size_t n, std::uint8_t* out) const {
  const std::uint64_t back = pos_ - from;
  std::uint64_t at = w_ >= back ? w_ - back : w_ + cap_ - back;
  while (n) {
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, cap_ - at));
    std::memcpy(out, buf_ + at, k);
    out += k;
    n -= k;
    at = 0;
  }
}

__attribute__((always_inline)) inline void Window::put(const std::uint8_t* p, std::size_t n) {
  while (n) {
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, cap_ - w_));
    copyBytes(buf_ + w_, p, k);
    p += k;
    n -= k;
    w_ += k;
    if (w_ == cap_) w_ = 0;
  }
  // pos_ is advanced by the caller.
}

__attribute__((always_inline)) inline void Window::copyMatch(std::uint64_t distance,
                                                             std::uint32_t length) {
  std::uint64_t src = w_ >= distance ? w_ - distance : w_ + cap_ - distance;
  if (src + length <= cap_ && w_ + length <= cap_) {
    std::uint8_t* d = buf_ + w_;
    const std::uint8_t* s = buf_ + src;
    if (distance >= length) {
      copyBytes(d, s, length);
    } else if (src > w_) {
      std::memmove(d, s, length);
    } else if (distance >= 8) {
      // Overlapping, but each 8-byte step reads only bytes already written.
      std::uint32_t i = 0;
      for (; i + 8 <= length; i += 8) std::memcpy(d + i, s + i, 8);
      for (; i < length; ++i) d[i] = s[i];
    } else {
      for (std::uint32_t i = 0; i < length; ++i) d[i] = s[i];
    }
    w_ += length;
    if (w_ == cap_) w_ = 0;
    return;
  }
  for (std::uint32_t i = 0; i < length; ++i) {
    buf_[w_] = buf_[src];
    if (++w_ == cap_) w_ = 0;
    if (++src == cap_) src = 0;
  }
}

Outcome Window::apply(const Chunk& c) {
  grow(c.output);
  applyCommands(
      c.commands, c.literals.data(), [this](const std::uint8_t* p, std::size_t n) { put(p, n); },
      [this](auto distance, std::uint32_t length) { copyMatch(distance, length); });
  pos_ += c.output;
  if (filters_.size() + c.filters.size() > kMaxPendingFilters) return Failure::FilterLimits;
  filters_.insert(filters_.end(), c.filters.begin(), c.filters.end());
  return {};
}

Outcome Window::runFilter(const FilterRecord& f, Sink& sink, std::uint64_t entryStart) {
  if (filterIn_.size() < f.length) filterIn_.resize(f.length);
  copyOut(f.start, f.length, filterIn_.data());
  std::uint8_t* out = filterIn_.data();
  const std::uint64_t filePos = f.start - std::min(f.start, entryStart);
  switch (f.type) {
    case FilterType::Delta:
      if (filterOut_.size() < f.length) filterOut_.resize(f.length);
      filters::undelta(filterIn_.data(), filterOut_.data(), f.length, f.channels);
      out = filterOut_.data();
      break;
    case FilterType::E8:
    case FilterType::E8E9:
      filters::unfilterX86(out, f.length, filePos, f.type == FilterType::E8E9,
                           filters::kX86PositionsRar5);
      break;
    case FilterType::Arm:
      unfilterArm(out, f.length, filePos);
      break;
  }
  return Outcome::passOn(f.length ? sink.put(out, f.length) : 0);
}

Outcome Window::flush(Sink& sink, std::uint64_t entryStart) {
  while (flushed_ < pos_) {
    std::uint64_t upTo = pos_;
    if (!filters_.empty()) {
      const FilterRecord& f = filters_.front();
      if (flushed_ == f.start) {
        if (pos_ < f.start + f.length) break;
        Outcome rc = runFilter(f, sink, entryStart);
        if (rc) return rc;
        flushed_ += f.length;
        filters_.pop_front();
        continue;
      }
      upTo = std::min(upTo, f.start);
    }
    const std::uint64_t back = pos_ - flushed_;
    const std::uint64_t at = w_ >= back ? w_ - back : w_ + cap_ - back;
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(upTo - flushed_, cap_ - at));
    if (int rc = sink.put(buf_ + at, n)) return Outcome::passOn(rc);
    flushed_ += n;
  }
  // Filters of nothing at the current position.
  while (!filters_.empty() && filters_.front().length == 0 && filters_.front().start <= pos_)
    filters_.pop_front();
  return {};
}

bool Window::filterPending(std::uint64_t before) const {
  return !filters_.empty() && filters_.front().start < before;
}

}  // namespace unrar::rar5lz
