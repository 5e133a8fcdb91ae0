// RAR 5 decoding through libarchive's rar5 reader, fed by read callbacks from
// a queue of rebuilt headers and packed-data streams.
#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <cstring>
#include <deque>
#include <iterator>
#include <string>
#include <vector>

#include "codec.h"
#include "format_values.h"
#include "unrar.h"

namespace unrar {
namespace {

void putVint(std::vector<std::uint8_t>& v, std::uint64_t x) {
  do {
    std::uint8_t b = x & 0x7F;
    x >>= 7;
    v.push_back(static_cast<std::uint8_t>(b | (x ? 0x80 : 0)));
  } while (x);
}

// Wraps header fields (type onward) into a block with its CRC and size.
std::vector<std::uint8_t> block(const std::vector<std::uint8_t>& body) {
  std::vector<std::uint8_t> size;
  putVint(size, body.size());
  std::vector<std::uint8_t> out(4);
  out.insert(out.end(), size.begin(), size.end());
  out.insert(out.end(), body.begin(), body.end());
  std::uint32_t c =
      static_cast<std::uint32_t>(crc32(0, out.data() + 4, static_cast<uInt>(out.size() - 4)));
  for (int i = 0; i < 4; ++i)
    out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(c >> (8 * i));
  return out;
}

// A queue item: literal bytes, or the packed data of one entry.
struct Segment {
  std::vector<std::uint8_t> bytes;
  std::size_t used = 0;
  std::unique_ptr<InStream> stream;
};

// Read callbacks after the queue ran dry; libarchive asking again and again
// means it is going round in circles.
constexpr int kMaxCallsAfterEnd = 64;

class LibarchiveDecoder final : public Decoder {
 public:
  explicit LibarchiveDecoder(bool solid) : solid_(solid) {}
  ~LibarchiveDecoder() override {
    if (a_) archive_read_free(a_);
  }
  LibarchiveDecoder(const LibarchiveDecoder&) = delete;
  LibarchiveDecoder& operator=(const LibarchiveDecoder&) = delete;

  bool usable() const override { return !broken_; }

  int decode(const Entry& e, std::unique_ptr<InStream> in, std::uint32_t, Sink& sink) override {
    if (broken_) return ERAR_BAD_DATA;
    int rc = decodeImpl(e, std::move(in), sink);
    if (rc != ERAR_SUCCESS) broken_ = true;
    return rc;
  }

 private:
  static la_ssize_t readCallback(archive*, void* self, const void** out) {
    return static_cast<LibarchiveDecoder*>(self)->pull(out);
  }

  la_ssize_t pull(const void** out) {
    while (!queue_.empty()) {
      Segment& s = queue_.front();
      if (s.stream) {
        std::size_t got = 0;
        int rc = s.stream->read(buf_.get(), kBuffer, got);
        if (rc) {
          streamError_ = rc;
          return ARCHIVE_FATAL;
        }
        if (got) {
          *out = buf_.get();
          return static_cast<la_ssize_t>(got);
        }
      } else if (s.used < s.bytes.size()) {
        // The bytes must stay valid until the next call: move them out first.
        current_ = std::move(s.bytes);
        std::size_t used = s.used;
        queue_.pop_front();
        *out = current_.data() + used;
        return static_cast<la_ssize_t>(current_.size() - used);
      }
      queue_.pop_front();
    }
    if (++callsAfterEnd_ > kMaxCallsAfterEnd) return ARCHIVE_FATAL;
    *out = nullptr;
    return 0;
  }

  std::vector<std::uint8_t> fileHeader(const Entry& e, std::uint64_t pack, bool continuation) {
    std::vector<std::uint8_t> b;
    putVint(b, rar5::kFileHead);
    putVint(b, rar5::kHeadData);
    putVint(b, pack);
    // No mtime and no CRC: libunrar checks the data itself.
    putVint(b, e.unpSizeUnknown ? rar5::kFileUnknownSize : 0);
    putVint(b, e.unpSizeUnknown ? 0 : e.unpSize);
    putVint(b, 0x20);  // a plain file's attributes
    std::uint64_t ci = e.rar5CompInfo & ~rar5::kCompSolid;
    if (continuation) ci |= rar5::kCompSolid;
    putVint(b, ci);
    putVint(b, rar5::kHostWindows);
    putVint(b, 1);  // the name's length
    b.push_back('x');
    return block(b);
  }

  // libarchive's rar5 reader looks ahead past an entry's data and quietly
  // returns no data when the stream ends there. Each entry is therefore
  // followed by a service block that it skips when it reads the next header.
  static std::vector<std::uint8_t> trailer() {
    constexpr std::size_t kPad = 256;
    std::vector<std::uint8_t> b;
    putVint(b, rar5::kServiceHead);
    putVint(b, rar5::kHeadData);
    putVint(b, kPad);
    putVint(b, 0);  // file flags
    putVint(b, 0);  // unpacked size
    putVint(b, 0);  // attributes
    putVint(b, 0);  // compression information: stored
    putVint(b, rar5::kHostWindows);
    putVint(b, 2);  // the name's length
    b.push_back('Q');
    b.push_back('O');
    std::vector<std::uint8_t> out = block(b);
    out.resize(out.size() + kPad, 0);
    return out;
  }

  int decodeImpl(const Entry& e, std::unique_ptr<InStream> in, Sink& sink) {
    const bool first = a_ == nullptr;
    const std::uint64_t pack = in->remaining();
    if (first) {
      Segment s;
      s.bytes.assign(std::begin(kSignatureRar5), std::end(kSignatureRar5));
      std::vector<std::uint8_t> m;
      putVint(m, rar5::kMainHead);
      putVint(m, 0);  // header flags
      putVint(m, solid_ ? rar5::kArcSolid : 0);
      auto mb = block(m);
      s.bytes.insert(s.bytes.end(), mb.begin(), mb.end());
      queue_.push_back(std::move(s));
    }
    Segment h;
    // An entry without the solid bit restarts the decoder, so one session can
    // serve a whole archive and keep libarchive's window between entries.
    h.bytes = fileHeader(e, pack, !first && solid_ && e.solid);
    queue_.push_back(std::move(h));
    Segment d;
    d.stream = std::move(in);
    queue_.push_back(std::move(d));
    Segment t;
    t.bytes = trailer();
    queue_.push_back(std::move(t));
    callsAfterEnd_ = 0;

    if (first) {
      a_ = archive_read_new();
      if (!a_) return ERAR_NO_MEMORY;
      if (archive_read_support_format_rar5(a_) != ARCHIVE_OK ||
          archive_read_open(a_, this, nullptr, readCallback, nullptr) != ARCHIVE_OK)
        return streamError_ ? streamError_ : ERAR_BAD_DATA;
    }
    archive_entry* ae = nullptr;
    if (archive_read_next_header(a_, &ae) != ARCHIVE_OK)
      return streamError_ ? streamError_ : ERAR_BAD_DATA;
    std::uint64_t total = 0;
    for (;;) {
      la_ssize_t n = archive_read_data(a_, out_.get(), kBuffer);
      if (n < 0) return streamError_ ? streamError_ : ERAR_BAD_DATA;
      if (n == 0) break;
      total += static_cast<std::uint64_t>(n);
      if (!e.unpSizeUnknown && total > e.unpSize) return ERAR_BAD_DATA;
      int rc = sink.put(out_.get(), static_cast<std::size_t>(n));
      if (rc) return rc;
    }
    if (streamError_) return streamError_;
    return e.unpSizeUnknown || total == e.unpSize ? ERAR_SUCCESS : ERAR_BAD_DATA;
  }

  bool solid_;
  bool broken_ = false;
  archive* a_ = nullptr;
  std::deque<Segment> queue_;
  std::vector<std::uint8_t> current_;
  // Left uninitialised: zero-filling them for every small entry costs more
  // than decoding it.
  static constexpr std::size_t kBuffer = 1 << 20;
  std::unique_ptr<std::uint8_t[]> buf_{new std::uint8_t[kBuffer]};
  std::unique_ptr<std::uint8_t[]> out_{new std::uint8_t[kBuffer]};
  int streamError_ = 0;
  int callsAfterEnd_ = 0;
};

}  // namespace

std::unique_ptr<Decoder> makeRar5Decoder(bool solidArchive) {
  return std::make_unique<LibarchiveDecoder>(solidArchive);
}

}  // namespace unrar
