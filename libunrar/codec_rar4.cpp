// RAR 1.5-4 decoding through libunarr. libunarr reads only a file or a memory
// block, so the session writes its rebuilt archive to an unlinked temporary
// file and appends each entry of a solid stream before asking for it.
#include <fcntl.h>
#include <malloc.h>
#include <unarr.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "unrar.h"

namespace unrar {
namespace {

void put16(std::vector<std::uint8_t>& v, std::uint32_t x) {
  v.push_back(static_cast<std::uint8_t>(x));
  v.push_back(static_cast<std::uint8_t>(x >> 8));
}
void put32(std::vector<std::uint8_t>& v, std::uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
void setCrc(std::vector<std::uint8_t>& h, std::size_t start) {
  std::uint32_t c = static_cast<std::uint32_t>(
      crc32(0, h.data() + start + 2, static_cast<uInt>(h.size() - start - 2)));
  h[start] = static_cast<std::uint8_t>(c);
  h[start + 1] = static_cast<std::uint8_t>(c >> 8);
}

std::string tempDir() {
  const char* t = std::getenv("TMPDIR");
  return t && *t ? t : "/tmp";
}

// The last members of libunarr 1.0.1's RAR archive record: the decompressor's
// bit reader, then the current entry's progress and the solid stream's state.
struct UnarrRarTail {
  struct {
    std::uint64_t bits;
    int available;
    bool atEof;
  } reader;
  struct {
    std::size_t dataLeft;
    std::size_t bytesDone;
    std::uint32_t crc;
  } progress;
  struct {
    std::size_t sizeTotal;
    bool partDone;
    bool restart;
  } solid;
};

// What the tail must hold right after libunarr parsed an entry header.
struct ParsedEntryState {
  std::uint64_t packSize;
  std::uint64_t unpSize;
  std::uint64_t solidTotal;
};

bool tailMatches(const UnarrRarTail& t, const ParsedEntryState& s) {
  return t.reader.available >= 0 && t.reader.available <= 64 && t.reader.available % 8 == 0 &&
         !t.reader.atEof && t.progress.dataLeft == s.packSize && t.progress.bytesDone == 0 &&
         t.progress.crc == 0 && t.solid.sizeTotal == s.solidTotal &&
         t.solid.partDone == (s.unpSize == 0) && !t.solid.restart;
}

// A solid entry's decoding starts with whatever whole bytes libunarr's bit
// reader fetched ahead at the end of the previous entry, as if the packed data
// of a solid stream were one run. RAR starts each file's input afresh; after an
// encrypted entry those bytes are cipher padding and wreck the next entry.
// libunarr has no call for this, so the reader is emptied in its record, found
// at the end of the allocation, and only where the record's tail holds exactly
// what parsing the entry put there. Returns false when no such tail is found.
bool dropReadAhead(ar_archive* ar, const ParsedEntryState& state) {
  const std::size_t size = malloc_usable_size(ar);
  constexpr std::size_t kTail = sizeof(UnarrRarTail);
  // The allocator may round the record's size up: glibc by a word, allocators
  // with size classes by more. All of the usable size may be read.
  constexpr std::size_t kMostRounding = 4096;
  for (std::size_t end = size; end >= kTail && size - end <= kMostRounding;
       end -= alignof(UnarrRarTail)) {
    auto* at = reinterpret_cast<unsigned char*>(ar) + end - kTail;
    UnarrRarTail tail;
    std::memcpy(&tail, at, kTail);
    if (!tailMatches(tail, state)) continue;
    tail.reader.bits = 0;
    tail.reader.available = 0;
    std::memcpy(at, &tail.reader, sizeof tail.reader);
    return true;
  }
  return false;
}

class UnarrDecoder final : public Decoder {
 public:
  explicit UnarrDecoder(bool solid) : solid_(solid) {}
  ~UnarrDecoder() override {
    if (ar_) ar_close_archive(ar_);
    if (stream_) ar_close(stream_);
    if (fd_ >= 0) ::close(fd_);
  }
  UnarrDecoder(const UnarrDecoder&) = delete;
  UnarrDecoder& operator=(const UnarrDecoder&) = delete;

  bool usable() const override { return !broken_; }

  int decode(const Entry& e, std::unique_ptr<InStream> in, std::uint32_t finalCrc,
             Sink& sink) override {
    if (broken_) return ERAR_BAD_DATA;
    int rc = decodeImpl(e, *in, finalCrc, sink);
    if (rc != ERAR_SUCCESS) broken_ = true;
    return rc;
  }

 private:
  int appendAll(const std::uint8_t* p, std::size_t n) {
    while (n) {
      ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(end_));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return ERAR_EWRITE;
      p += w;
      n -= static_cast<std::size_t>(w);
      end_ += static_cast<std::uint64_t>(w);
    }
    return ERAR_SUCCESS;
  }

  int decodeImpl(const Entry& e, InStream& in, std::uint32_t finalCrc, Sink& sink) {
    std::vector<std::uint8_t> h;
    bool first = fd_ < 0;
    if (first) {
      std::string path = tempDir() + "/.quillmoss-unrar-XXXXXX";
      std::vector<char> tmpl(path.begin(), path.end());
      tmpl.push_back(0);
      fd_ = mkstemp(tmpl.data());
      if (fd_ < 0) return ERAR_ECREATE;
      path_ = tmpl.data();
      static const std::uint8_t sig[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
      h.insert(h.end(), sig, sig + 7);
      std::size_t m = h.size();
      put16(h, 0);
      h.push_back(0x73);
      put16(h, solid_ ? 0x0008 : 0);
      put16(h, 13);
      put16(h, 0);
      put32(h, 0);
      setCrc(h, m);
    }
    const std::uint64_t pack = in.remaining();
    const bool large = pack > 0xFFFFFFFFull || e.unpSize > 0xFFFFFFFFull;
    std::size_t f = h.size();
    std::uint32_t flags = 0x8000 | (e.rar4Flags & 0xE0) | (large ? 0x100 : 0);
    if (!first && solid_) flags |= 0x10;
    put16(h, 0);
    h.push_back(0x74);
    put16(h, flags);
    put16(h, large ? 41 : 33);
    put32(h, static_cast<std::uint32_t>(pack));
    put32(h, static_cast<std::uint32_t>(e.unpSize));
    h.push_back(2);
    put32(h, finalCrc);
    put32(h, e.dosTime);
    h.push_back(static_cast<std::uint8_t>(e.unpVer));
    h.push_back(static_cast<std::uint8_t>(0x30 + e.method));
    put16(h, 1);
    put32(h, 0x20);
    if (large) {
      put32(h, static_cast<std::uint32_t>(pack >> 32));
      put32(h, static_cast<std::uint32_t>(e.unpSize >> 32));
    }
    h.push_back('x');
    setCrc(h, f);
    int rc = appendAll(h.data(), h.size());
    if (rc) return rc;
    std::uint8_t* buf = buf_.get();
    for (;;) {
      std::size_t got = 0;
      rc = in.read(buf, kBuffer, got);
      if (rc) return rc;
      if (got == 0) break;
      rc = appendAll(buf, got);
      if (rc) return rc;
    }
    if (in.remaining() != 0) return ERAR_BAD_DATA;
    if (first) {
      stream_ = ar_open_file(path_.c_str());
      ::unlink(path_.c_str());
      if (!stream_) return ERAR_EREAD;
      ar_ = ar_open_rar_archive(stream_);
      if (!ar_) return ERAR_BAD_DATA;
    }
    if (!ar_parse_entry(ar_)) return ERAR_BAD_DATA;
    if (ar_entry_get_size(ar_) != e.unpSize) return ERAR_BAD_DATA;
    const bool continues = !first && solid_;
    if (!continues) solidTotal_ = 0;
    // Only RAR 2.9's decoder reads a file's end code before the file is
    // complete; RAR 2.0's reads it at the start of the next one.
    if (continues && paddedReadAhead_ && isRar29(e.unpVer))
      dropReadAhead(ar_, ParsedEntryState{pack, e.unpSize, solidTotal_});
    paddedReadAhead_ = e.encrypted && pack > 0;
    std::uint64_t left = e.unpSize;
    while (left) {
      std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kBuffer));
      if (!ar_entry_uncompress(ar_, buf, n)) return ERAR_BAD_DATA;
      rc = sink.put(buf, n);
      if (rc) return rc;
      left -= n;
    }
    solidTotal_ += e.unpSize;
    return ERAR_SUCCESS;
  }

  static bool isRar29(std::uint32_t unpVer) { return unpVer == 29 || unpVer == 36; }

  bool solid_;
  bool broken_ = false;
  int fd_ = -1;
  std::string path_;
  std::uint64_t end_ = 0;
  // Unpacked bytes libunarr has counted in the current solid stream.
  std::uint64_t solidTotal_ = 0;
  // The previous entry's data ended in cipher padding the bit reader may hold.
  bool paddedReadAhead_ = false;
  ar_stream* stream_ = nullptr;
  ar_archive* ar_ = nullptr;
  static constexpr std::size_t kBuffer = 1 << 20;
  std::unique_ptr<std::uint8_t[]> buf_{new std::uint8_t[kBuffer]};
};

}  // namespace

std::unique_ptr<Decoder> makeRar4Decoder(bool solidArchive) {
  return std::make_unique<UnarrDecoder>(solidArchive);
}

}  // namespace unrar
