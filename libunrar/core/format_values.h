// Every on-disk value of the two RAR formats that libunrar reads or writes,
// named once. Field names follow the format notes (HEAD_TYPE, HEAD_FLAGS, ...).
#pragma once

#include <cstddef>
#include <cstdint>

namespace unrar {

// The signatures: RAR 1.5-4 ends in 0x00, RAR 5 in 0x01 0x00.
inline constexpr std::uint8_t kSignatureRar4[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
inline constexpr std::uint8_t kSignatureRar5[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};

namespace rar4 {

// HEAD_CRC, HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE: the start of every block.
inline constexpr std::size_t kBlockHeaderSize = 7;
// An old-style comment block inside the main header: the block header, then
// UNP_SIZE, UNP_VER, METHOD and COMM_CRC.
inline constexpr std::size_t kOldCommentHeaderSize = 13;

// HEAD_TYPE
inline constexpr std::uint8_t kMarkHead = 0x72;
inline constexpr std::uint8_t kMainHead = 0x73;
inline constexpr std::uint8_t kFileHead = 0x74;
inline constexpr std::uint8_t kCommentHead = 0x75;  // only inside a main or file header
inline constexpr std::uint8_t kAvHead = 0x76;
inline constexpr std::uint8_t kSubHead = 0x77;
inline constexpr std::uint8_t kProtectHead = 0x78;
inline constexpr std::uint8_t kSignHead = 0x79;
inline constexpr std::uint8_t kServiceHead = 0x7A;
inline constexpr std::uint8_t kEndArcHead = 0x7B;

// HEAD_FLAGS common to every block.
inline constexpr std::uint16_t kSkipIfUnknown = 0x4000;
inline constexpr std::uint16_t kLongBlock = 0x8000;  // ADD_SIZE follows

// Main header flags.
inline constexpr std::uint16_t kMainVolume = 0x0001;
inline constexpr std::uint16_t kMainComment = 0x0002;  // old-style comment embedded
inline constexpr std::uint16_t kMainLock = 0x0004;
inline constexpr std::uint16_t kMainSolid = 0x0008;
inline constexpr std::uint16_t kMainNewNumbering = 0x0010;
inline constexpr std::uint16_t kMainAuthenticity = 0x0020;
inline constexpr std::uint16_t kMainRecovery = 0x0040;
inline constexpr std::uint16_t kMainPassword = 0x0080;  // block headers encrypted
inline constexpr std::uint16_t kMainFirstVolume = 0x0100;
inline constexpr std::uint16_t kMainEncryptVer = 0x0200;

// File (and service) header flags.
inline constexpr std::uint16_t kFileSplitBefore = 0x0001;
inline constexpr std::uint16_t kFileSplitAfter = 0x0002;
inline constexpr std::uint16_t kFilePassword = 0x0004;
inline constexpr std::uint16_t kFileComment = 0x0008;  // old-style comment after the name
inline constexpr std::uint16_t kFileSolid = 0x0010;    // service header: child of the file
inline constexpr std::uint16_t kFileWindowMask = 0x00E0;
inline constexpr std::uint16_t kFileDirectory = 0x00E0;  // the window bits all set
inline constexpr unsigned kFileWindowShift = 5;
inline constexpr std::uint16_t kFileLarge = 0x0100;
inline constexpr std::uint16_t kFileUnicode = 0x0200;
inline constexpr std::uint16_t kFileSalt = 0x0400;
inline constexpr std::uint16_t kFileVersion = 0x0800;
inline constexpr std::uint16_t kFileExtTime = 0x1000;

// End of archive flags.
inline constexpr std::uint16_t kEndNextVolume = 0x0001;
inline constexpr std::uint16_t kEndDataCrc = 0x0002;
inline constexpr std::uint16_t kEndRevSpace = 0x0004;
inline constexpr std::uint16_t kEndVolumeNumber = 0x0008;

// HOST_OS
inline constexpr std::uint8_t kHostMsDos = 0;
inline constexpr std::uint8_t kHostOs2 = 1;
inline constexpr std::uint8_t kHostWin32 = 2;
inline constexpr std::uint8_t kHostUnix = 3;
inline constexpr std::uint8_t kHostMacOs = 4;
inline constexpr std::uint8_t kHostBeOs = 5;

// METHOD: 0x30 store ... 0x35 best.
inline constexpr std::uint8_t kMethodStore = 0x30;
inline constexpr std::uint8_t kMethodBest = 0x35;

// Service header ATTR (SubFlags) of a CMT: the text is UTF-16LE.
inline constexpr std::uint32_t kSubFlagUtf16 = 0x00000001;

// Unix mode bits in ATTR.
inline constexpr std::uint32_t kUnixTypeMask = 0xF000;
inline constexpr std::uint32_t kUnixSymlink = 0xA000;
// Windows attribute bit of a directory.
inline constexpr std::uint32_t kWinDirectory = 0x10;

}  // namespace rar4

namespace rar5 {

// Header type
inline constexpr std::uint64_t kMainHead = 1;
inline constexpr std::uint64_t kFileHead = 2;
inline constexpr std::uint64_t kServiceHead = 3;
inline constexpr std::uint64_t kCryptHead = 4;
inline constexpr std::uint64_t kEndArcHead = 5;

// Header flags
inline constexpr std::uint64_t kHeadExtra = 0x0001;
inline constexpr std::uint64_t kHeadData = 0x0002;
inline constexpr std::uint64_t kHeadSkipIfUnknown = 0x0004;
inline constexpr std::uint64_t kHeadSplitBefore = 0x0008;
inline constexpr std::uint64_t kHeadSplitAfter = 0x0010;
inline constexpr std::uint64_t kHeadChild = 0x0020;
inline constexpr std::uint64_t kHeadInherited = 0x0040;

// Archive flags of the main header.
inline constexpr std::uint64_t kArcVolume = 0x0001;
inline constexpr std::uint64_t kArcVolumeNumber = 0x0002;
inline constexpr std::uint64_t kArcSolid = 0x0004;
inline constexpr std::uint64_t kArcRecovery = 0x0008;
inline constexpr std::uint64_t kArcLock = 0x0010;

// File flags
inline constexpr std::uint64_t kFileDirectory = 0x0001;
inline constexpr std::uint64_t kFileUnixTime = 0x0002;
inline constexpr std::uint64_t kFileCrc32 = 0x0004;
inline constexpr std::uint64_t kFileUnknownSize = 0x0008;

// Compression information
inline constexpr std::uint64_t kCompVersionMask = 0x3F;
inline constexpr std::uint64_t kAlgorithmV5 = 0;  // RAR 5.0
inline constexpr std::uint64_t kAlgorithmV7 = 1;  // RAR 7.0: larger dictionaries
inline constexpr std::uint64_t kCompSolid = 0x40;
inline constexpr unsigned kCompMethodShift = 7;
inline constexpr unsigned kCompDictionaryShift = 10;
inline constexpr unsigned kCompDictionaryFractionShift = 15;  // RAR 7: 32nds added
// Version 1 written with RAR 5's distance alphabet.
inline constexpr std::uint64_t kCompV5Distances = 0x100000;

// Host OS
inline constexpr std::uint64_t kHostWindows = 0;
inline constexpr std::uint64_t kHostUnix = 1;

// Extra record types of file and service headers.
inline constexpr std::uint64_t kExtraCrypt = 1;
inline constexpr std::uint64_t kExtraHash = 2;
inline constexpr std::uint64_t kExtraTime = 3;
inline constexpr std::uint64_t kExtraVersion = 4;
inline constexpr std::uint64_t kExtraRedirection = 5;
inline constexpr std::uint64_t kExtraUnixOwner = 6;
inline constexpr std::uint64_t kExtraServiceData = 7;
// Extra record type of the main header.
inline constexpr std::uint64_t kExtraLocator = 1;

// Encryption record and header flags.
inline constexpr std::uint64_t kCryptPasswordCheck = 0x01;
inline constexpr std::uint64_t kCryptUseMac = 0x02;

// Hash record type
inline constexpr std::uint64_t kHashBlake2sp = 0;

// File time record flags
inline constexpr std::uint64_t kTimeUnix = 0x01;
inline constexpr std::uint64_t kTimeMtime = 0x02;
inline constexpr std::uint64_t kTimeCtime = 0x04;
inline constexpr std::uint64_t kTimeAtime = 0x08;
inline constexpr std::uint64_t kTimeUnixNs = 0x10;

// Redirection record flags
inline constexpr std::uint64_t kRedirDirectory = 0x01;

// End of archive flags
inline constexpr std::uint64_t kEndNextVolume = 0x0001;

}  // namespace rar5

// The service header of an archive comment.
inline constexpr char kCommentServiceName[] = "CMT";

// The unpack versions an entry reports (UNP_VER; a RAR 5 entry's is made
// from its algorithm version).
inline constexpr std::uint32_t kUnpVerRar20 = 20;  // before it, the attributes are DOS's
inline constexpr std::uint32_t kUnpVerRar5 = 50;
inline constexpr std::uint32_t kUnpVerRar7 = 70;
inline constexpr std::uint32_t kUnpVerUnknown = 9999;  // an algorithm we do not know

}  // namespace unrar
