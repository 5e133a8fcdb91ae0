// Everything an open archive does with passwords: where the password comes
// from (RARSetPassword or the UCM_NEEDPASSWORD callback), the keys derived
// from it (cached per salt), encrypted headers of both formats, the decrypting
// stage in front of the codec, and checksums stored as MACs.
//
// Password rules. A password given with RARSetPassword is used for every
// encrypted header and entry and is never asked for. Without one, the callback
// is asked when the first encrypted header or entry needs a password, and the
// answer serves the rest of the archive; -1 or an empty answer is
// ERAR_MISSING_PASSWORD. An answer that proves wrong fails that entry or header
// read and is forgotten, so the next encrypted entry asks again. Proof is the
// check value for RAR 5 and the header CRC for encrypted RAR 4 headers. RAR 4
// data has no check value: there an entry that fails its checks counts as proof
// only while no entry has decrypted correctly with the answer, so damage later
// in an archive does not bring the prompt back for every entry.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "core/rar_entry.h"
#include "crypto/rar_crypto.h"
#include "format/packed_stream.h"
#include "format/rar_format.h"
#include "format/volume.h"
#include "unrar.h"

namespace unrar {

class ArchiveCrypto {
 public:
  ArchiveCrypto() = default;
  ~ArchiveCrypto() { forgetLegacyPassword(); }
  ArchiveCrypto(const ArchiveCrypto&) = delete;
  ArchiveCrypto& operator=(const ArchiveCrypto&) = delete;

  // RARSetPassword: nullptr or "" forgets any password.
  void setPassword(const char* utf8);

  // Makes sure a password is known, asking through `cb` when none is.
  // Returns 0 or ERAR_MISSING_PASSWORD.
  int obtainPassword(UNRARCALLBACK cb, LPARAM user);

  // A callback's answer that was shown to be wrong is not used again.
  void rejectPassword();
  // RAR 4 entry results: how a wrong password shows there.
  void dataChecked() { proven_ = true; }
  void dataFailed() {
    if (!proven_) rejectPassword();
  }

  // ---- encrypted headers ----

  // Derives the header key of a volume whose headers are encrypted and proves
  // the password on it: RAR 5 by the encryption header's check value (and the
  // main header's CRC), RAR 4 by the CRC of the first encrypted header. For RAR 5
  // the decrypted main header then replaces vol.main and vol.firstBlock moves
  // past it. Returns 0, ERAR_MISSING_PASSWORD, ERAR_BAD_PASSWORD,
  // ERAR_UNKNOWN_FORMAT (an encryption this library lacks) or ERAR_BAD_DATA.
  int unlockHeaders(VolumeFile& vol, UNRARCALLBACK cb, LPARAM user);

  // Reads the block at `pos` of an unlocked volume: decrypts the header and
  // parses it with the plain readers; offsets in the result are the volume's.
  Block readBlock(VolumeFile& vol, std::uint64_t pos);

  // ---- encrypted data ----

  // Puts the decrypting stage in front of `in`, which holds an encrypted entry's
  // (or comment's) packed bytes. Checks what can be checked before any data is
  // decoded: the cipher, whole cipher blocks, a password, and RAR 5's check value.
  // Returns 0, ERAR_MISSING_PASSWORD, ERAR_BAD_PASSWORD (RAR 5),
  // ERAR_UNKNOWN_FORMAT or ERAR_BAD_DATA.
  int openData(Format format, const Entry& e, std::unique_ptr<InStream>& in, UNRARCALLBACK cb,
               LPARAM user);

  // Whether checksums computed over the plain data match the stored ones, which
  // for RAR 5 entries with the MAC flag are MACs under the password.
  bool crcMatches(const Entry& e, std::uint32_t plain, std::uint32_t stored);
  bool blake2Matches(const Entry& e, const std::array<std::uint8_t, 32>& plain,
                     const std::array<std::uint8_t, 32>& stored);

  // Key derivations done so far, for tests of the cache.
  std::size_t derivations() const { return keys_.derivations(); }

 private:
  // Decrypts the header at `pos`; `plain` gets exactly the header's bytes and
  // `dataStart` where its data area begins. Returns 0, ERAR_END_ARCHIVE when the
  // volume ends first, or ERAR_BAD_DATA.
  int decryptHeader(VolumeFile& vol, std::uint64_t pos, std::vector<std::uint8_t>& plain,
                    std::uint64_t& dataStart);
  const crypto::Rar5Keys* rar5Keys(const EncryptionInfo& info);
  // The stage of the RAR 1.3, 1.5 and 2.0 ciphers, which take the password's
  // bytes as they are.
  int openLegacyData(crypto::Rar4Cipher cipher, const Entry& e, std::unique_ptr<InStream>& in,
                     UNRARCALLBACK cb, LPARAM user);
  void forgetLegacyPassword();

  crypto::KeyCache keys_;
  std::string legacyPassword_;  // the old ciphers' form of the password
  bool fromCallback_ = false;
  bool proven_ = false;  // an entry decrypted with the current password checked out
  bool headersUnlocked_ = false;
};

}  // namespace unrar
