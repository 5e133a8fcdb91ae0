#include "format/packed_stream.h"

#include <algorithm>

#include "core/crc32.h"

#include "unrar.h"

namespace unrar {

int PackedStream::read(std::uint8_t* buf, std::size_t n, std::size_t& got) {
  got = 0;
  while (got < n && index_ < parts_.size()) {
    Part& p = parts_[index_];
    if (inPart_ >= p.size) {
      // A damaged volume shows at its own end, not only at the file's.
      if (p.checkCrc && partCrc_ != p.crc) return ERAR_BAD_DATA;
      ++index_;
      inPart_ = 0;
      partCrc_ = 0;
      reading_.reset();
      continue;
    }
    if (!reading_) reading_ = p.open();
    if (!reading_) return ERAR_EOPEN;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(n - got, p.size - inPart_));
    std::size_t r = reading_->readAt(p.offset + inPart_, buf + got, want);
    if (p.checkCrc) partCrc_ = crc32Update(partCrc_, buf + got, r);
    got += r;
    inPart_ += r;
    consumed_ += r;
    // The header promised more than the volume holds.
    if (r < want) return got ? ERAR_SUCCESS : ERAR_BAD_DATA;
  }
  return ERAR_SUCCESS;
}

}  // namespace unrar
