// Block-level readers for RAR 1.5-4 and RAR 5 headers. Each reads one block
// at a given offset from a byte source and never trusts a size it has not
// checked against the source.
#pragma once

#include <cstdint>
#include <string>

#include "core/failure.h"
#include "core/rar_entry.h"

namespace unrar {

// Random access to one volume's bytes.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::uint64_t size() const = 0;
  // Reads up to n bytes at offset; returns the count read (short only at the end).
  virtual std::size_t readAt(std::uint64_t offset, void* buf, std::size_t n) = 0;
};

inline constexpr std::uint64_t kMaxSfxScan = 4u << 20;

// Finds the signature; returns false when there is none within kMaxSfxScan.
bool findSignature(ByteSource& src, std::uint64_t& offset, Format& format, bool& futureFormat);

struct MainInfo {
  std::uint32_t flags = 0;  // ROADF_* bits
  bool volume = false;
  bool firstVolume = false;
  bool newNumbering = false;
  bool solid = false;
  bool encryptedHeaders = false;
  std::uint64_t volumeNumber = 0;
  CommentBlock oldComment;
  // RAR 5 archive encryption header; set once the headers have been decrypted
  // with a proven password (RAR 5: the main header then comes from the decrypted block).
  EncryptionInfo headerCrypt;
  bool headersUnlocked = false;
};

enum class BlockKind { File, Service, End, Other, EndOfData, Broken };

struct Block {
  BlockKind kind = BlockKind::Broken;
  std::uint64_t next = 0;  // offset of the next block
  Entry entry;             // File and Service
  std::string serviceName;
  bool serviceChild = false;        // file comment, owner and the like
  bool moreVolumes = false;         // End
  CommentBlock comment;             // Service "CMT" that is an archive comment
  Failure failure = Failure::None;  // why the block is Broken
};

// Reads the main header that follows the signature. `pos` is the first byte
// after the signature; on success it is moved past the main header.
// Returns 0 or an ERAR_* code.
int readMainRar4(ByteSource& src, std::uint64_t& pos, MainInfo& info);
int readMainRar5(ByteSource& src, std::uint64_t& pos, MainInfo& info);

Block readBlockRar4(ByteSource& src, std::uint64_t pos);
Block readBlockRar5(ByteSource& src, std::uint64_t pos);

// Conversions shared by both formats.
std::uint64_t dosTimeToFileTime(std::uint32_t dos);  // local time
std::uint32_t fileTimeToDosTime(std::uint64_t ft);   // into local time
std::uint64_t unixToFileTime(std::int64_t seconds, std::uint32_t nanos);
std::string decodeRar4Name(const std::uint8_t* p, std::size_t n, bool unicodeFlag);

}  // namespace unrar
