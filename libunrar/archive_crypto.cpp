#include "archive_crypto.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/fields.h"
#include "core/format_values.h"
#include "core/utf8.h"
#include "crypto/decrypt_stream.h"
#include "crypto/legacy_cipher.h"

namespace unrar {
namespace {

constexpr std::size_t kBlock = 16;
// Largest RAR 5 header, as for plain headers.
constexpr std::uint64_t kMaxRar5Header = 2u << 20;

#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
// A fuzzed KDF count of 24 costs seconds per derivation and would read as a hang.
constexpr std::uint8_t kMaxKdfCount = 16;
#else
constexpr std::uint8_t kMaxKdfCount = crypto::kRar5MaxKdfCount;
#endif

std::uint64_t roundUp(std::uint64_t n) {
  return (n + kBlock - 1) / kBlock * kBlock;
}

// One decrypted header, readable by the plain block readers at offset 0.
class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::size_t readAt(std::uint64_t offset, void* buf, std::size_t n) override {
    if (offset >= bytes_.size()) return 0;
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes_.size() - offset));
    std::memcpy(buf, bytes_.data() + offset, take);
    return take;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
};

// Whether a decrypted RAR 4 header's CRC16 holds. The plain readers trust an
// end block or a block of another kind without it, but a wrong key makes
// blocks of every kind: here the CRC comes before the type means anything.
bool rar4HeaderCrcHolds(const std::vector<std::uint8_t>& h) {
  if (h.size() < 7) return false;
  const auto stored = load16le(h.data());
  if ((crc32(0, h.data() + 2, static_cast<uInt>(h.size() - 2)) & 0xFFFF) == stored) return true;
  // An old-style file comment is left out of its header's CRC; the file
  // reader checks that shorter CRC itself.
  const auto flags = load16le(h.data() + 3);
  return (h[2] == rar4::kFileHead || h[2] == rar4::kServiceHead) && (flags & rar4::kFileComment);
}

// Passwords arrive as UTF-8; bytes that are not UTF-8 are taken as Latin-1,
// so an 8-bit password still derives a key instead of failing.
void setUtf8Password(crypto::KeyCache& keys, const char* text) {
  const std::size_t n = std::strlen(text);
  if (validUtf8(text, n)) {
    keys.setPassword(std::string_view(text, n));
    return;
  }
  // Reserved up front by the conversion, so no unwiped copy is left behind.
  std::string utf8 = utf8OrLatin1(text, n);
  keys.setPassword(utf8);
  crypto::wipe(utf8.data(), utf8.size());
}

}  // namespace

void ArchiveCrypto::setPassword(const char* utf8) {
  fromCallback_ = false;
  proven_ = false;
  forgetLegacyPassword();
  if (!utf8 || !*utf8) {
    keys_.clear();
    return;
  }
  setUtf8Password(keys_, utf8);
  legacyPassword_ = legacyPasswordBytes(utf8);
}

void ArchiveCrypto::forgetLegacyPassword() {
  crypto::wipe(legacyPassword_.data(), legacyPassword_.size());
  legacyPassword_.clear();
}

int ArchiveCrypto::obtainPassword(UNRARCALLBACK cb, LPARAM user) {
  if (keys_.hasPassword()) return ERAR_SUCCESS;
  if (!cb) return ERAR_MISSING_PASSWORD;
  char buf[128] = {};
  int answer = cb(UCM_NEEDPASSWORD, user, reinterpret_cast<LPARAM>(buf), sizeof buf);
  buf[sizeof buf - 1] = 0;
  int rc = ERAR_MISSING_PASSWORD;
  if (answer != -1 && buf[0] != 0) {
    setUtf8Password(keys_, buf);
    forgetLegacyPassword();
    legacyPassword_ = legacyPasswordBytes(buf);
    fromCallback_ = true;
    proven_ = false;
    rc = ERAR_SUCCESS;
  }
  crypto::wipe(buf, sizeof buf);
  return rc;
}

void ArchiveCrypto::rejectPassword() {
  // The headers of this archive were decrypted with it: it stays.
  if (!fromCallback_ || headersUnlocked_) return;
  keys_.clear();
  forgetLegacyPassword();
  fromCallback_ = false;
}

const crypto::Rar5Keys* ArchiveCrypto::rar5Keys(const EncryptionInfo& info) {
  if (!info.rar5Record || info.kdfCount > kMaxKdfCount) return nullptr;
  return keys_.rar5(info.salt.data(), info.kdfCount);
}

int ArchiveCrypto::decryptHeader(VolumeFile& vol, std::uint64_t pos,
                                 std::vector<std::uint8_t>& plain, std::uint64_t& dataStart) {
  // RAR 4 puts an 8-byte salt before each header, RAR 5 a 16-byte IV.
  const bool rar4 = vol.format == Format::Rar4;
  const std::size_t prefix = rar4 ? 8 : 16;
  std::uint8_t lead[16];
  if (vol.readAt(pos, lead, prefix) != prefix) return ERAR_END_ARCHIVE;
  crypto::AesCbc cbc;
  if (rar4) {
    const crypto::Rar4Key* k = keys_.rar4(lead);
    if (!k || !cbc.init(crypto::AesCbc::Direction::Decrypt, k->key.data(), 16, k->iv.data()))
      return ERAR_BAD_DATA;
  } else {
    const crypto::Rar5Keys* k = rar5Keys(vol.main.headerCrypt);
    if (!k || !cbc.init(crypto::AesCbc::Direction::Decrypt, k->key.data(), 32, lead))
      return ERAR_BAD_DATA;
  }
  std::vector<std::uint8_t> cipher(kBlock);
  plain.assign(2 * kBlock, 0);
  if (vol.readAt(pos + prefix, cipher.data(), kBlock) != kBlock) return ERAR_END_ARCHIVE;
  if (cbc.update(cipher.data(), kBlock, plain.data()) != static_cast<std::ptrdiff_t>(kBlock))
    return ERAR_BAD_DATA;

  // The header's own size field, from its first block.
  std::uint64_t headerSize = 0;
  if (rar4) {
    headerSize = load16le(plain.data() + 5);
    if (headerSize < 7) return ERAR_BAD_DATA;
  } else {
    // The size field is at most three bytes long: a longer one is longer
    // than any header may be.
    FieldReader r{plain.data() + 4, 3};
    const std::uint64_t size = r.vint();
    if (!r.ok) return ERAR_BAD_DATA;
    if (size == 0 || size > kMaxRar5Header) return ERAR_BAD_DATA;
    headerSize = 4 + r.i + size;
  }
  const std::uint64_t padded = roundUp(headerSize);
  if (pos + prefix + padded > vol.size()) return ERAR_END_ARCHIVE;
  cipher.resize(static_cast<std::size_t>(padded));
  plain.resize(static_cast<std::size_t>(padded) + kBlock);
  const std::size_t rest = static_cast<std::size_t>(padded) - kBlock;
  if (rest) {
    if (vol.readAt(pos + prefix + kBlock, cipher.data() + kBlock, rest) != rest)
      return ERAR_END_ARCHIVE;
    if (cbc.update(cipher.data() + kBlock, rest, plain.data() + kBlock) !=
        static_cast<std::ptrdiff_t>(rest))
      return ERAR_BAD_DATA;
  }
  plain.resize(static_cast<std::size_t>(headerSize));
  dataStart = pos + prefix + padded;
  return ERAR_SUCCESS;
}

Block ArchiveCrypto::readBlock(VolumeFile& vol, std::uint64_t pos) {
  Block broken;
  if (pos >= vol.size()) {
    broken.kind = BlockKind::EndOfData;
    return broken;
  }
  std::vector<std::uint8_t> plain;
  std::uint64_t dataStart = 0;
  int rc = decryptHeader(vol, pos, plain, dataStart);
  if (rc == ERAR_END_ARCHIVE) broken.kind = BlockKind::EndOfData;
  if (rc) {
    broken.failure = Failure::CorruptHeader;
    return broken;
  }
  if (vol.format == Format::Rar4 && !rar4HeaderCrcHolds(plain)) {
    broken.failure = Failure::BadHeaderCrc;
    return broken;
  }
  MemorySource src(plain);
  Block b = vol.format == Format::Rar4 ? readBlockRar4(src, 0) : readBlockRar5(src, 0);
  // The memory holds the whole header: running out of it is damage.
  if (b.kind == BlockKind::Broken || b.kind == BlockKind::EndOfData || b.next < plain.size()) {
    broken.failure = b.kind == BlockKind::Broken ? b.failure : Failure::HeaderPastEnd;
    return broken;
  }
  // The readers placed the data right after the header; it follows the padding.
  b.next = dataStart + (b.next - plain.size());
  if (b.kind == BlockKind::File || b.kind == BlockKind::Service) b.entry.dataOffset = dataStart;
  if (b.comment.present) b.comment.data.dataOffset = dataStart;
  return b;
}

int ArchiveCrypto::unlockHeaders(VolumeFile& vol, UNRARCALLBACK cb, LPARAM user) {
  if (vol.main.headersUnlocked) return ERAR_SUCCESS;
  const EncryptionInfo header = vol.main.headerCrypt;
  if (vol.format == Format::Rar5) {
    if (!header.rar5Record) return ERAR_BAD_DATA;
    if (header.version != 0 || header.kdfCount > kMaxKdfCount) return ERAR_UNKNOWN_FORMAT;
  }
  int rc = obtainPassword(cb, user);
  if (rc) return rc;

  if (vol.format == Format::Rar4) {
    // No check value: the first encrypted header's CRC tells a wrong password.
    // A wrong key reads a size that runs past the end as often as a bad CRC.
    Block first = readBlock(vol, vol.firstBlock);
    const bool empty = vol.firstBlock >= vol.size();
    if (first.kind == BlockKind::Broken || (first.kind == BlockKind::EndOfData && !empty)) {
      rejectPassword();
      return ERAR_BAD_PASSWORD;
    }
    vol.main.headersUnlocked = true;
    headersUnlocked_ = proven_ = true;
    return ERAR_SUCCESS;
  }

  const crypto::Rar5Keys* keys = rar5Keys(header);
  if (!keys || (header.hasCheck && crypto::checkRar5Password(*keys, header.check.data()) ==
                                       crypto::CheckResult::WrongPassword)) {
    rejectPassword();
    return ERAR_BAD_PASSWORD;
  }
  std::vector<std::uint8_t> plain;
  std::uint64_t dataStart = 0;
  rc = decryptHeader(vol, vol.firstBlock, plain, dataStart);
  MainInfo info;
  if (rc == ERAR_SUCCESS) {
    MemorySource src(plain);
    std::uint64_t p = 0;
    rc = readMainRar5(src, p, info);
    // A second encryption header inside the first is no archive RAR writes.
    if (rc == ERAR_SUCCESS && info.encryptedHeaders) rc = ERAR_BAD_DATA;
  }
  if (rc) {
    // Without a check value the main header's CRC is the only proof.
    if (header.hasCheck) return ERAR_BAD_DATA;
    rejectPassword();
    return ERAR_BAD_PASSWORD;
  }
  info.encryptedHeaders = true;
  info.flags |= ROADF_ENCHEADERS;
  info.headerCrypt = header;
  info.headersUnlocked = true;
  vol.main = info;
  vol.firstBlock = dataStart;
  headersUnlocked_ = proven_ = true;
  return ERAR_SUCCESS;
}

int ArchiveCrypto::openData(Format format, const Entry& e, std::unique_ptr<InStream>& in,
                            UNRARCALLBACK cb, LPARAM user) {
  const EncryptionInfo& c = e.crypt;
  if (format == Format::Rar4) {
    // RAR 1.3, 1.5 and 2.0 had ciphers of their own.
    const crypto::Rar4Cipher old = crypto::rar4CipherFor(static_cast<std::uint8_t>(e.unpVer));
    if (old != crypto::Rar4Cipher::Aes128) return openLegacyData(old, e, in, cb, user);
  } else {
    if (!c.rar5Record) return ERAR_BAD_DATA;
    if (c.version != 0 || c.kdfCount > kMaxKdfCount) return ERAR_UNKNOWN_FORMAT;
  }
  const std::uint64_t total = in->remaining();
  if (total % kBlock != 0) return ERAR_BAD_DATA;
  int rc = obtainPassword(cb, user);
  if (rc) return rc;

  // Stored data ends at its true size; compressed data is passed on padded:
  // the decoders stop at their last block (RAR 5) or by the unpacked size.
  std::uint64_t limit = e.method == 0 && !e.unpSizeUnknown ? e.unpSize : total;
  std::unique_ptr<DecryptStream> stream;
  if (format == Format::Rar4) {
    const crypto::Rar4Key* k = keys_.rar4(c.hasSalt ? c.salt.data() : nullptr);
    if (!k) return ERAR_BAD_DATA;
    stream = std::make_unique<DecryptStream>(std::move(in), k->key.data(), 16, k->iv.data(), limit);
  } else {
    const crypto::Rar5Keys* k = rar5Keys(c);
    if (!k || (c.hasCheck && crypto::checkRar5Password(*k, c.check.data()) ==
                                 crypto::CheckResult::WrongPassword)) {
      rejectPassword();
      return ERAR_BAD_PASSWORD;
    }
    stream = std::make_unique<DecryptStream>(std::move(in), k->key.data(), 32, c.iv.data(), limit);
  }
  if (!stream->ready()) return ERAR_BAD_DATA;
  in = std::move(stream);
  return ERAR_SUCCESS;
}

int ArchiveCrypto::openLegacyData(crypto::Rar4Cipher cipher, const Entry& e,
                                  std::unique_ptr<InStream>& in, UNRARCALLBACK cb, LPARAM user) {
  const std::uint64_t total = in->remaining();
  if (cipher == crypto::Rar4Cipher::Rar20 && total % kBlock != 0) return ERAR_BAD_DATA;
  int rc = obtainPassword(cb, user);
  if (rc) return rc;
  // Only RAR 2.0 pads; its compressed data needs no end, the decoder stops by size.
  const std::uint64_t limit = e.method == 0 && !e.unpSizeUnknown ? e.unpSize : total;
  in = std::make_unique<LegacyDecryptStream>(std::move(in), cipher, legacyPassword_, limit);
  return ERAR_SUCCESS;
}

bool ArchiveCrypto::crcMatches(const Entry& e, std::uint32_t plain, std::uint32_t stored) {
  if (!e.encrypted || !e.crypt.rar5Record || !e.crypt.macChecksums) return plain == stored;
  const crypto::Rar5Keys* k = rar5Keys(e.crypt);
  return k && crypto::rar5CrcToMac(*k, plain) == stored;
}

bool ArchiveCrypto::blake2Matches(const Entry& e, const std::array<std::uint8_t, 32>& plain,
                                  const std::array<std::uint8_t, 32>& stored) {
  if (!e.encrypted || !e.crypt.rar5Record || !e.crypt.macChecksums) return plain == stored;
  const crypto::Rar5Keys* k = rar5Keys(e.crypt);
  return k && crypto::rar5Blake2ToMac(*k, plain.data()) == stored;
}

}  // namespace unrar
