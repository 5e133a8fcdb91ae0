#include "archive.h"

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

#include "core/blake2sp.h"
#include "core/crc32.h"
#include "core/utf8.h"
#include "output/output.h"

namespace unrar {
namespace {

// How often an unchanged name for a still-missing volume is asked for again.
constexpr int kMaxSameVolumeAsks = 8;
// Blocks walked in one call before the walk is taken for a loop in the data.
constexpr int kMaxBlocksPerCall = 1 << 20;
constexpr std::size_t kCopyBuffer = 1 << 20;
// What the kernel copies of a stored entry before it is checked: small
// enough to be read back from the cache, a multiple of the page size.
constexpr std::size_t kKernelCopySpan = 4 << 20;
// Below this a stored entry costs more to map than to copy through a buffer.
constexpr std::uint64_t kKernelCopyMinimum = 256 << 10;
constexpr std::uint64_t kMaxCommentBytes = 4u << 20;
constexpr std::uint64_t kMaxLinkTarget = 64 * 1024;
// Entries declaring a larger dictionary are decoded only when the caller
// allows it (UCM_LARGEDICT): a window may grow that far.
constexpr std::uint64_t kDictionaryLimit = std::uint64_t{4} << 30;

Block readBlock(Format f, VolumeFile& v, std::uint64_t pos) {
  return f == Format::Rar4 ? readBlockRar4(v, pos) : readBlockRar5(v, pos);
}

class StringSink final : public Sink {
 public:
  explicit StringSink(std::uint64_t limit) : limit_(limit) {}
  int put(const std::uint8_t* p, std::size_t n) override {
    if (text.size() + n > limit_) return ERAR_BAD_DATA;
    text.append(reinterpret_cast<const char*>(p), n);
    return ERAR_SUCCESS;
  }
  std::string text;

 private:
  std::uint64_t limit_;
};

// The checks an entry's header asks for.
struct EntryChecks {
  bool crc = false;
  bool blake2 = false;
};

// Counts, checksums, reports and writes every block of an entry's data.
class EntrySink final : public Sink {
 public:
  EntrySink(Archive& a, std::uint64_t expected, bool report, TempOutput* out,
            EntryChecks checks = {})
      : archive_(a), expected_(expected), report_(report), out_(out), checks_(checks) {
    if (checks_.blake2) blake_.emplace();
  }
  int put(const std::uint8_t* p, std::size_t n) override {
    const int rc = account(p, n);
    return rc || !out_ ? rc : out_->write(p, n);
  }
  // Everything put does but the write: for bytes already in the file.
  int account(const std::uint8_t* p, std::size_t n) {
    if (n == 0) return ERAR_SUCCESS;
    bytes += n;
    if (bytes > expected_) return ERAR_BAD_DATA;
    if (checks_.crc) crc = crc32Update(crc, p, n);
    if (blake_) blake_->update(p, n);
    return report_ ? archive_.reportData(p, n) : ERAR_SUCCESS;
  }
  std::array<std::uint8_t, 32> digest() {
    return blake_ ? blake_->digest() : std::array<std::uint8_t, 32>{};
  }
  std::uint64_t bytes = 0;
  std::uint32_t crc = 0;

 private:
  Archive& archive_;
  std::uint64_t expected_;
  bool report_;
  TempOutput* out_;
  EntryChecks checks_;
  std::optional<Blake2sp> blake_;
};

bool hasDotDotPart(const std::string& name) {
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = std::min(name.find('/', start), name.size());
    if (end - start == 2 && name.compare(start, 2, "..") == 0) return true;
    if (end == name.size()) return false;
    start = end + 1;
  }
}

int copyStored(InStream& in, Sink& sink) {
  std::vector<std::uint8_t> buf(
      static_cast<std::size_t>(std::clamp<std::uint64_t>(in.remaining(), 1, kCopyBuffer)));
  for (;;) {
    std::size_t got = 0;
    int rc = in.read(buf.data(), buf.size(), got);
    if (rc) return rc;
    if (got == 0) break;
    rc = sink.put(buf.data(), got);
    if (rc) return rc;
  }
  return in.remaining() == 0 ? ERAR_SUCCESS : ERAR_BAD_DATA;
}

// A stored entry in one part goes from the archive into its file in the
// kernel, a span at a time, and each span is checked and reported from the
// file's own pages: what is checked is what was written, and the bytes cross
// into this process once instead of twice. Nothing when the kernel cannot
// copy between the two files.
std::optional<int> copyStoredInKernel(const Part& part, TempOutput& out, EntrySink& sink) {
  const std::shared_ptr<VolumeFile> volume = part.open();
  if (!volume) return ERAR_EOPEN;
  for (std::uint64_t done = 0; done < part.size;) {
    const auto n =
        static_cast<std::size_t>(std::min<std::uint64_t>(kKernelCopySpan, part.size - done));
    int rc = out.appendFrom(volume->fd(), part.offset + done, n);
    if (rc == TempOutput::kCannotCopy) {
      if (done == 0) return std::nullopt;
      return ERAR_EWRITE;
    }
    if (rc) return rc;
    const TempOutput::View written = out.view(done, n);
    rc = written.data() ? sink.account(written.data(), n) : ERAR_NO_MEMORY;
    if (rc) return rc;
    done += n;
  }
  return ERAR_SUCCESS;
}

}  // namespace

int errorCodeOf(Failure why) {
  switch (why) {
    case Failure::None:
      return ERAR_SUCCESS;
    case Failure::HeaderPastEnd:
    case Failure::HeaderTooLarge:
    case Failure::BadHeaderCrc:
    case Failure::CorruptHeader:
    case Failure::NotABlock:
    case Failure::BlockGoesBack:
    case Failure::MissingEndBlock:
    case Failure::TooManyBlocks:
    case Failure::DamagedMainHeader:
    case Failure::PasswordMissing:  // the read that asked answered ERAR_MISSING_PASSWORD
    case Failure::Reported:
    case Failure::BadTable:
    case Failure::BadSymbol:
    case Failure::DictionaryTooLarge:
    case Failure::UnknownFilter:
    case Failure::FilterLimits:
    case Failure::DistanceOutsideWindow:
    case Failure::TruncatedStream:
    case Failure::WrongUnpackedSize:
    case Failure::PpmdModel:
    case Failure::BrokenSession:
      break;
    case Failure::OutOfMemory:
      return ERAR_NO_MEMORY;
  }
  return ERAR_BAD_DATA;
}

int errorCodeOf(const Outcome& o) {
  return o.why == Failure::Reported ? o.reported : errorCodeOf(o.why);
}

Archive::Archive(unsigned mode, UNRARCALLBACK cb, LPARAM user)
    : mode_(mode), callback_(cb), userData_(user) {}

Archive::~Archive() {
  magic = 0;
  try {
    outputs_.finish();
  } catch (...) {
  }
}

Block Archive::readBlockAt(std::uint64_t pos) {
  if (!vol_->main.encryptedHeaders) return readBlock(format_, *vol_, pos);
  Block b = crypto_.readBlock(*vol_, pos);
  // Only the end of the file between blocks ends an archive; a header cut
  // short is damage.
  if (b.kind == BlockKind::EndOfData && pos != vol_->size()) {
    b.kind = BlockKind::Broken;
    b.failure = Failure::HeaderPastEnd;
  }
  return b;
}

int Archive::unlockHeaders() {
  int rc = crypto_.unlockHeaders(*vol_, callback_, userData_);
  if (rc) return rc;
  // A RAR 5 main header was encrypted too: its flags are known only now.
  solidArchive_ = vol_->main.solid;
  return ERAR_SUCCESS;
}

Archive::OpenResult Archive::open(const std::string& path) {
  OpenResult r;
  r.code = openVolume(path, vol_);
  if (r.code == ERAR_BAD_DATA && vol_) {
    // A damaged main header still opens, as RAR's own library does; the
    // first header read reports the damage.
    r.code = ERAR_SUCCESS;
    format_ = vol_->format;
    fail(Failure::DamagedMainHeader);
    return r;
  }
  if (r.code) return r;
  format_ = vol_->format;
  solidArchive_ = vol_->main.solid;
  r.flags = vol_->main.flags;
  if (vol_->main.encryptedHeaders) {
    // With a callback at open the password is asked for now. Without one the
    // open succeeds without the comment, and the first header read asks.
    if (!callback_) {
      pos_ = vol_->firstBlock;
      return r;
    }
    r.code = unlockHeaders();
    if (r.code) return r;
    r.flags = vol_->main.flags;
  }
  pos_ = vol_->firstBlock;
  if (vol_->main.oldComment.present) {
    comment_ = vol_->main.oldComment;
    commentVolume_ = vol_;
  }
  // The archive comment sits before the first file header.
  for (int guard = 0; guard < 1024; ++guard) {
    Block b = readBlockAt(pos_);
    if (b.next <= pos_) break;
    if (b.kind == BlockKind::Service) {
      if (b.comment.present && !comment_.present) {
        comment_ = b.comment;
        commentVolume_ = vol_;
      }
    } else if (b.kind != BlockKind::Other) {
      break;
    }
    pos_ = b.next;
  }
  r.hasComment = comment_.present;
  return r;
}

int Archive::readComment(std::string& text) {
  text.clear();
  if (!comment_.present) return ERAR_SUCCESS;
  const Entry& ce = comment_.data;
  if (ce.unpSize > kMaxCommentBytes) return ERAR_BAD_DATA;
  const std::vector<Part> parts{{commentVolume_, ce.dataOffset, ce.packSize}};
  std::unique_ptr<InStream> in = std::make_unique<PackedStream>(parts);
  int rc;
  if (ce.encrypted) {
    rc = crypto_.openData(format_, ce, in, callback_, userData_);
    if (rc) return rc;
  }
  StringSink sink(kMaxCommentBytes);
  if (ce.method == 0) {
    rc = copyStored(*in, sink);
  } else {
    auto dec = makeDecoder(format_, ce, false);
    if (!dec) return ERAR_UNKNOWN_FORMAT;
    rc = errorCodeOf(dec->decode(ce, std::move(in), ce.crc, sink));
  }
  if (rc) return rc;
  std::uint32_t crc = static_cast<std::uint32_t>(crc32(
      0, reinterpret_cast<const Bytef*>(sink.text.data()), static_cast<uInt>(sink.text.size())));
  if (ce.hasCrc) {
    bool ok = comment_.oldStyle ? (crc & 0xFFFF) == ce.crc : crypto_.crcMatches(ce, crc, ce.crc);
    if (!ok) return ERAR_BAD_DATA;
  }
  text = comment_.utf16 ? utf16leToUtf8(sink.text) : sink.text;
  // A comment ends at its first zero, as a C string would.
  std::size_t z = text.find('\0');
  if (z != std::string::npos) text.resize(z);
  return ERAR_SUCCESS;
}

int Archive::readHeader(Entry& out, std::string& volumeName) {
  switch (state_) {
    case State::HeaderRead:
      // The entry whose header was read has to be processed first.
      return ERAR_BAD_DATA;
    case State::End:
      return ERAR_END_ARCHIVE;
    case State::Failed:
      return failCode_;
    case State::Ready:
      break;
  }
  if (vol_->main.encryptedHeaders && !vol_->main.headersUnlocked) {
    int rc = unlockHeaders();
    if (rc) {
      // Measured on RAR's own library: after a missing password the next read
      // gives ERAR_BAD_DATA.
      if (rc == ERAR_MISSING_PASSWORD)
        fail(Failure::PasswordMissing);
      else
        fail(Failure::Reported, rc);
      return rc;
    }
    pos_ = vol_->firstBlock;
  }
  for (int guard = 0; guard < kMaxBlocksPerCall; ++guard) {
    Block b = readBlockAt(pos_);
    switch (b.kind) {
      case BlockKind::File:
      case BlockKind::Service:
      case BlockKind::Other:
        if (b.next <= pos_) return fail(Failure::BlockGoesBack);
        pos_ = b.next;
        if (b.kind != BlockKind::File) continue;
        // Listing skips the rest of a file begun in an earlier volume; extraction
        // reports it so that it fails visibly.
        if (b.entry.splitBefore && mode_ == RAR_OM_LIST) continue;
        entry_ = b.entry;
        {
          // Reported as it is written, so that a caller's question about the
          // target path is about the file that is actually made.
          std::string written = sanitizeName(entry_.name);
          if (!written.empty()) entry_.name = std::move(written);
        }
        out = entry_;
        volumeName = vol_->path();
        state_ = State::HeaderRead;
        return ERAR_SUCCESS;
      case BlockKind::End:
      case BlockKind::EndOfData: {
        // Every RAR 5 volume ends with an end block: without one it was cut
        // short, even when the cut fell between two blocks. Old RAR 4 writers
        // leave the end block out, and nothing in a RAR 4 archive promises one.
        if (b.kind == BlockKind::EndOfData && format_ == Format::Rar5)
          return fail(Failure::MissingEndBlock);
        bool more = b.kind == BlockKind::End
                        ? b.moreVolumes
                        : vol_->main.volume &&
                              isRegularFile(nextVolumeName(vol_->path(), vol_->main.newNumbering));
        if (!more) {
          state_ = State::End;
          return ERAR_END_ARCHIVE;
        }
        int rc = nextVolume(mode_ != RAR_OM_EXTRACT);
        if (rc) return fail(Failure::Reported, rc);
        continue;
      }
      case BlockKind::Broken:
        return fail(b.failure == Failure::None ? Failure::CorruptHeader : b.failure);
    }
  }
  return fail(Failure::TooManyBlocks);
}

int Archive::fail(Failure why, int reported) {
  state_ = State::Failed;
  failure_ = why;
  failCode_ = why == Failure::Reported ? reported : errorCodeOf(why);
  return failCode_;
}

int Archive::nextVolume(bool listing) {
  std::string name =
      nextVolumeName(vol_->path(), vol_->main.newNumbering || format_ == Format::Rar5);
  int sameAsks = 0;
  for (;;) {
    std::shared_ptr<VolumeFile> nv;
    int rc = ERAR_EOPEN;
    if (isRegularFile(name)) rc = openVolume(name, nv);
    if (rc == ERAR_SUCCESS && nv->format == format_ && nv->main.encryptedHeaders) {
      rc = crypto_.unlockHeaders(*nv, callback_, userData_);
      if (rc) return rc;
    }
    if (rc == ERAR_SUCCESS && nv->format == format_ &&
        nv->main.encryptedHeaders == vol_->main.encryptedHeaders) {
      char buf[1024] = {};
      std::strncpy(buf, name.c_str(), sizeof buf - 1);
      int answer = 1;
      if (callback_)
        answer =
            callback_(UCM_CHANGEVOLUME, userData_, reinterpret_cast<LPARAM>(buf), RAR_VOL_NOTIFY);
      else if (changeVolProc_)
        answer = changeVolProc_(buf, RAR_VOL_NOTIFY) == 0 ? -1 : 1;
      if (answer == -1) return listing ? ERAR_EOPEN : ERAR_BAD_DATA;
      vol_ = nv;
      pos_ = nv->firstBlock;
      return ERAR_SUCCESS;
    }
    if (!callback_ && !changeVolProc_) return ERAR_EOPEN;
    char buf[1024] = {};
    std::strncpy(buf, name.c_str(), sizeof buf - 1);
    // A name too long for the buffer was shown cut: given back unchanged, it
    // still means this name, not the file its cut form names.
    const std::string shown = buf;
    if (callback_) {
      if (callback_(UCM_CHANGEVOLUME, userData_, reinterpret_cast<LPARAM>(buf), RAR_VOL_ASK) == -1)
        return ERAR_EOPEN;
    } else if (changeVolProc_(buf, RAR_VOL_ASK) == 0) {
      return ERAR_EOPEN;
    }
    buf[sizeof buf - 1] = 0;
    std::string asked = buf;
    if (asked.empty() || asked == name || asked == shown) {
      if (++sameAsks >= kMaxSameVolumeAsks) return ERAR_EOPEN;
    } else {
      sameAsks = 0;
      name = asked;
    }
  }
}

int Archive::collectParts(std::vector<Part>& parts, Entry& last) {
  parts.push_back({vol_, entry_.dataOffset, entry_.packSize});
  last = entry_;
  while (last.splitAfter && mode_ != RAR_OM_LIST_INCSPLIT) {
    Part& done = parts.back();
    done.checkCrc =
        !last.encrypted && last.hasCrc &&
        (format_ == Format::Rar5 || (last.unpVer >= kUnpVerRar20 && last.crc != 0xFFFFFFFFu));
    done.crc = last.crc;
    // Only the first and the last part hold their volumes open; the ones
    // between are opened again when they are read.
    done.path = done.volume->path();
    if (parts.size() > 1) done.volume.reset();
    int rc = nextVolume(mode_ != RAR_OM_EXTRACT);
    if (rc) return rc;
    for (int guard = 0;; ++guard) {
      Block b = readBlockAt(pos_);
      if (guard > kMaxBlocksPerCall || b.next <= pos_ ||
          (b.kind != BlockKind::File && b.kind != BlockKind::Service && b.kind != BlockKind::Other))
        return ERAR_BAD_DATA;
      if (b.kind != BlockKind::File) {
        pos_ = b.next;
        continue;
      }
      // The next volume must continue this file; otherwise leave its entry
      // for the next header read.
      if (!b.entry.splitBefore) return ERAR_BAD_DATA;
      pos_ = b.next;
      parts.push_back({vol_, b.entry.dataOffset, b.entry.packSize});
      last = b.entry;
      break;
    }
  }
  return ERAR_SUCCESS;
}

int Archive::reportData(const std::uint8_t* p, std::size_t n) {
  if (callback_ && callback_(UCM_PROCESSDATA, userData_, reinterpret_cast<LPARAM>(p),
                             static_cast<LPARAM>(n)) == -1)
    return ERAR_UNKNOWN;
  if (processDataProc_ &&
      processDataProc_(const_cast<unsigned char*>(p),
                       static_cast<int>(std::min<std::size_t>(n, 0x7FFFFFFF))) == 0)
    return ERAR_UNKNOWN;
  return ERAR_SUCCESS;
}

int Archive::allowDictionary(const Entry& e) {
  if (e.method == 0 || e.dictBytes <= kDictionaryLimit) return ERAR_SUCCESS;
  if (callback_ && callback_(UCM_LARGEDICT, userData_, static_cast<LPARAM>(e.dictBytes / 1024),
                             static_cast<LPARAM>(kDictionaryLimit / 1024)) == 1)
    return ERAR_SUCCESS;
  // The stream goes on without this entry's data: what follows in it cannot
  // be decoded from this session.
  if (solidArchive_) solidSession_.reset();
  return ERAR_LARGE_DICT;
}

int Archive::decodeEntry(const Entry& last, std::unique_ptr<InStream> in, Sink& sink) {
  // RAR 5: one session serves every entry in turn, so its window is kept
  // (an entry without the solid bit starts the decoder afresh). RAR 1.5-4: a session per solid
  // stream; RAR 1.5 marks solidity on the archive only, never on its files.
  const std::uint32_t algorithm = algorithmOf(format_, entry_);
  const bool continuation =
      solidSession_ && solidSession_->usable() && sessionAlgorithm_ == algorithm &&
      (format_ == Format::Rar5 || (solidArchive_ && (entry_.solid || algorithm == 15)));
  if (!continuation) {
    solidSession_ = makeDecoder(format_, entry_, solidArchive_);
    sessionAlgorithm_ = algorithm;
    if (!solidSession_) return ERAR_UNKNOWN_FORMAT;
  }
  std::uint32_t crc = last.hasCrc ? last.crc : 0;
  const int rc = errorCodeOf(solidSession_->decode(entry_, std::move(in), crc, sink));
  if (format_ == Format::Rar4 && !solidArchive_) solidSession_.reset();
  return rc;
}

int Archive::checkData(const Entry& e, const Entry& last, std::uint64_t bytes, std::uint32_t crc,
                       const std::array<std::uint8_t, 32>& blake2) {
  if (!e.unpSizeUnknown && bytes != e.unpSize) return ERAR_BAD_DATA;
  if (last.hasCrc && !crypto_.crcMatches(e, crc, last.crc)) return ERAR_BAD_DATA;
  if (last.hasBlake2 && !crypto_.blake2Matches(e, blake2, last.blake2)) return ERAR_BAD_DATA;
  return ERAR_SUCCESS;
}

int Archive::processFile(int operation, const char* destPath, const char* destName) {
  if (state_ != State::HeaderRead) return state_ == State::Failed ? failCode_ : ERAR_UNKNOWN;
  state_ = State::Ready;
  if (mode_ != RAR_OM_EXTRACT) {
    if (mode_ == RAR_OM_LIST_INCSPLIT) return ERAR_SUCCESS;
    std::vector<Part> parts;
    Entry last;
    return collectParts(parts, last);
  }
  // An entry is never tested or written under a name the system would read
  // short, nor written under a name its caller was shown only in part; it is
  // passed over as a skipped one is, and fails with the reason.
  int refusal = ERAR_SUCCESS;
  if (operation != RAR_SKIP && entry_.zeroInName)
    refusal = ERAR_BAD_DATA;
  else if (operation == RAR_EXTRACT && !nameShownWhole_ && !(destName && *destName))
    refusal = ERAR_ECREATE;
  if (refusal) operation = RAR_SKIP;
  // A solid stream has to be decoded through every entry, skipped or not.
  const bool solidDecode = solidArchive_ && entry_.method != 0 && !entry_.directory &&
                           entry_.redir == RedirKind::None && canDecode(format_, entry_);
  if (operation == RAR_SKIP && !solidDecode) {
    std::vector<Part> parts;
    Entry last;
    const int rc = collectParts(parts, last);
    return rc ? rc : refusal;
  }
  int rc = processData(operation, destPath, destName);
  // RAR 4 has no check value: data that fails its checks is how a wrong
  // password shows.
  if (entry_.encrypted && format_ == Format::Rar4) {
    if (rc == ERAR_SUCCESS) crypto_.dataChecked();
    if (rc == ERAR_BAD_DATA) crypto_.dataFailed();
  }
  return rc ? rc : refusal;
}

int Archive::processData(int operation, const char* destPath, const char* destName) {
  std::vector<Part> parts;
  Entry last;
  int rc = collectParts(parts, last);
  if (rc) return rc;
  const Entry& e = entry_;
  // The start of this file is in a volume that was not read.
  if (e.splitBefore) return ERAR_BAD_DATA;
  const bool skip = operation == RAR_SKIP;
  const bool test = operation != RAR_EXTRACT;

  if (e.directory && e.redir == RedirKind::None) {
    if (test) return ERAR_SUCCESS;
    Destination d;
    rc = outputs_.destination(destPath, destName, e.name, d);
    if (!rc) rc = makeDirectories(d, directoryMode(e), e.mtime);
    if (!rc) {
      outputs_.forget(e.name);
      outputs_.recordFolderTime(d, e.mtime);
    }
    return rc;
  }
  if (e.redir == RedirKind::HardLink || e.redir == RedirKind::FileCopy)
    return test ? ERAR_SUCCESS : processReference(destPath, destName);
  if (!canDecode(format_, e)) return ERAR_UNKNOWN_FORMAT;
  rc = allowDictionary(e);
  if (rc) return rc;

  const bool symlink = e.redir != RedirKind::None;
  std::unique_ptr<InStream> in = std::make_unique<PackedStream>(parts);
  // Links of RAR 5 keep their target in the header: no data to decrypt.
  if (e.encrypted && (e.redir == RedirKind::None || e.rar4Symlink)) {
    rc = crypto_.openData(format_, e, in, callback_, userData_);
    if (rc) return rc;
  }
  if (symlink) {
    std::string target;
    if (e.rar4Symlink) {
      if (e.unpSize > kMaxLinkTarget) return ERAR_BAD_DATA;
      StringSink sink(kMaxLinkTarget);
      rc = e.method == 0 ? copyStored(*in, sink) : decodeEntry(last, std::move(in), sink);
      if (rc) return rc;
      rc = checkData(
          e, last, sink.text.size(),
          crc32Update(0, reinterpret_cast<const std::uint8_t*>(sink.text.data()), sink.text.size()),
          {});
      if (rc) return rc;
      target = sink.text;
    } else {
      target = e.redirTarget;
      if (e.redir != RedirKind::UnixSymlink) {
        // Windows links: absolute forms ("\??\C:\...", "C:\...") never pass the
        // containment check below.
        for (char& c : target)
          if (c == '\\') c = '/';
        if (target.size() >= 2 && target[1] == ':') target.insert(target.begin(), '/');
      }
    }
    if (test) return ERAR_SUCCESS;
    Destination d;
    rc = outputs_.destination(destPath, destName, e.name, d);
    if (!rc) rc = makeSymlink(d, target);
    if (!rc) outputs_.forget(e.name);
    return rc;
  }

  TempOutput out;
  Destination d;
  if (!test) {
    rc = outputs_.destination(destPath, destName, e.name, d);
    const Folder* folder = nullptr;
    if (!rc) rc = entryFolder(d, folder);
    if (!rc) rc = out.create(*folder, fileMode(e));
    if (rc) return rc;
  }
  EntrySink sink(*this, e.unpSizeUnknown ? ~0ull : e.unpSize, !skip, test ? nullptr : &out,
                 {last.hasCrc, last.hasBlake2});
  std::optional<int> copied;
  if (e.method == 0 && !test && !e.encrypted && parts.size() == 1 && !e.unpSizeUnknown &&
      parts[0].size == e.unpSize && e.unpSize >= kKernelCopyMinimum && out.canCopyInKernel())
    copied = copyStoredInKernel(parts[0], out, sink);
  if (copied)
    rc = *copied;
  else
    rc = e.method == 0 ? copyStored(*in, sink) : decodeEntry(last, std::move(in), sink);
  if (rc) return rc;
  rc = checkData(e, last, sink.bytes, sink.crc, sink.digest());
  if (rc) return rc;
  if (test) return ERAR_SUCCESS;
  rc = out.commit(d.base(), e.mtime, e.atime);
  d.tree->replaced(d.rel);
  if (!rc) outputs_.recordFile(e.name, d, out.physicalFolder(), out.dev(), out.ino());
  return rc;
}

// A hard link or a copy of a file written earlier in this run. The source is
// named by its entry name, and only a file this run wrote there, still the
// same file and reached without any link, will do: anything else could be a
// file from outside the destination.
int Archive::processReference(const char* destPath, const char* destName) {
  const Entry& e = entry_;
  std::string source = e.redirTarget;
  if (!e.rar5UnixHost)
    for (char& c : source)
      if (c == '\\') c = '_';
  // Dropping a ".." would name another file than the archive meant.
  if (hasDotDotPart(source)) return ERAR_EREFERENCE;
  UniqueFd src;
  int rc = outputs_.openWritten(sanitizeName(source), src);
  if (rc) return rc;
  struct stat st {};
  if (::fstat(src.get(), &st) != 0) return ERAR_EREFERENCE;
  Destination d;
  rc = outputs_.destination(destPath, destName, e.name, d);
  if (rc) return rc;
  const Folder* folder = nullptr;
  rc = entryFolder(d, folder);
  if (rc) return rc;
  const std::string physicalFolder = folder->physical;
  if (e.redir == RedirKind::HardLink) {
    rc = makeHardLink(d, src.get());
    if (!rc) outputs_.recordFile(e.name, d, physicalFolder, st.st_dev, st.st_ino);
    return rc;
  }
  TempOutput out;
  rc = out.create(*folder, fileMode(e));
  if (rc) return rc;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  EntrySink sink(*this, size, false, &out);
  std::vector<std::uint8_t> buf(
      static_cast<std::size_t>(std::clamp<std::uint64_t>(size, 1, kCopyBuffer)));
  for (std::uint64_t done = 0; done < size;) {
    ssize_t n = ::pread(src.get(), buf.data(), buf.size(), static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ERAR_EREAD;
    rc = sink.put(buf.data(), static_cast<std::size_t>(n));
    if (rc) return rc;
    done += static_cast<std::uint64_t>(n);
  }
  rc = out.commit(d.base(), e.mtime, e.atime);
  d.tree->replaced(d.rel);
  if (!rc) outputs_.recordFile(e.name, d, physicalFolder, out.dev(), out.ino());
  return rc;
}

}  // namespace unrar
