// The UnRAR library's published C interface, as this project uses it.
//
// Shared by the program's loader (unrar/) and our own library (libunrar/), so
// that both sides agree on every record byte for byte. The records use the
// published layout: 1-byte packing and the platform's wchar_t (4 bytes on
// Linux). Callers zero every record before use; the library never writes
// into Reserved.
#ifndef QUILLMOSS_UNRAR_H
#define QUILLMOSS_UNRAR_H

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void* HANDLE;
typedef long LPARAM;
typedef unsigned int UINT;

#define ERAR_SUCCESS 0
#define ERAR_END_ARCHIVE 10
#define ERAR_NO_MEMORY 11
#define ERAR_BAD_DATA 12
#define ERAR_BAD_ARCHIVE 13
#define ERAR_UNKNOWN_FORMAT 14
#define ERAR_EOPEN 15
#define ERAR_ECREATE 16
#define ERAR_ECLOSE 17
#define ERAR_EREAD 18
#define ERAR_EWRITE 19
#define ERAR_SMALL_BUF 20
#define ERAR_UNKNOWN 21
#define ERAR_MISSING_PASSWORD 22
#define ERAR_EREFERENCE 23
#define ERAR_BAD_PASSWORD 24
#define ERAR_LARGE_DICT 25

#define RAR_OM_LIST 0
#define RAR_OM_EXTRACT 1
#define RAR_OM_LIST_INCSPLIT 2

#define RAR_SKIP 0
#define RAR_TEST 1
#define RAR_EXTRACT 2

#define RAR_VOL_ASK 0
#define RAR_VOL_NOTIFY 1

#define RAR_DLL_VERSION 5

#define RAR_HASH_NONE 0
#define RAR_HASH_CRC32 1
#define RAR_HASH_BLAKE2 2

#define RHDF_SPLITBEFORE 0x01
#define RHDF_SPLITAFTER 0x02
#define RHDF_ENCRYPTED 0x04
#define RHDF_SOLID 0x10
#define RHDF_DIRECTORY 0x20

#define ROADF_VOLUME 0x0001
#define ROADF_COMMENT 0x0002
#define ROADF_LOCK 0x0004
#define ROADF_SOLID 0x0008
#define ROADF_NEWNUMBERING 0x0010
#define ROADF_SIGNED 0x0020
#define ROADF_RECOVERY 0x0040
#define ROADF_ENCHEADERS 0x0080
#define ROADF_FIRSTVOLUME 0x0100

#define ROADOF_KEEPBROKEN 0x0001

#define UCM_CHANGEVOLUME 0
#define UCM_PROCESSDATA 1
#define UCM_NEEDPASSWORD 2
#define UCM_CHANGEVOLUMEW 3
#define UCM_NEEDPASSWORDW 4
#define UCM_LARGEDICT 5

typedef int (*UNRARCALLBACK)(UINT msg, LPARAM UserData, LPARAM P1, LPARAM P2);
typedef int (*CHANGEVOLPROC)(char* ArcName, int Mode);
typedef int (*PROCESSDATAPROC)(unsigned char* Addr, int Size);

#pragma pack(push, 1)

struct RARHeaderData {
  char ArcName[260];
  char FileName[260];
  unsigned int Flags;
  unsigned int PackSize;
  unsigned int UnpSize;
  unsigned int HostOS;
  unsigned int FileCRC;
  unsigned int FileTime;
  unsigned int UnpVer;
  unsigned int Method;
  unsigned int FileAttr;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
};

struct RARHeaderDataEx {
  char ArcName[1024];
  wchar_t ArcNameW[1024];
  char FileName[1024];
  wchar_t FileNameW[1024];
  unsigned int Flags;
  unsigned int PackSize;
  unsigned int PackSizeHigh;
  unsigned int UnpSize;
  unsigned int UnpSizeHigh;
  unsigned int HostOS;
  unsigned int FileCRC;
  unsigned int FileTime;
  unsigned int UnpVer;
  unsigned int Method;
  unsigned int FileAttr;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
  unsigned int DictSize;
  unsigned int HashType;
  char Hash[32];
  unsigned int RedirType;
  wchar_t* RedirName;
  unsigned int RedirNameSize;
  unsigned int DirTarget;
  unsigned int MtimeLow;
  unsigned int MtimeHigh;
  unsigned int CtimeLow;
  unsigned int CtimeHigh;
  unsigned int AtimeLow;
  unsigned int AtimeHigh;
  unsigned int Reserved[988];
};

struct RAROpenArchiveData {
  char* ArcName;
  unsigned int OpenMode;
  unsigned int OpenResult;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
};

struct RAROpenArchiveDataEx {
  char* ArcName;
  wchar_t* ArcNameW;
  unsigned int OpenMode;
  unsigned int OpenResult;
  char* CmtBuf;
  unsigned int CmtBufSize;
  unsigned int CmtSize;
  unsigned int CmtState;
  unsigned int Flags;
  UNRARCALLBACK Callback;
  LPARAM UserData;
  unsigned int OpFlags;
  wchar_t* CmtBufW;
  unsigned int Reserved[25];
};

#pragma pack(pop)

#if defined(QUILLMOSS_BUILDING_LIBUNRAR)
#define UNRAR_EXPORT __attribute__((visibility("default")))
#else
#define UNRAR_EXPORT
#endif

UNRAR_EXPORT HANDLE RAROpenArchive(struct RAROpenArchiveData* ArchiveData);
UNRAR_EXPORT HANDLE RAROpenArchiveEx(struct RAROpenArchiveDataEx* ArchiveData);
UNRAR_EXPORT int RARCloseArchive(HANDLE hArcData);
UNRAR_EXPORT int RARReadHeader(HANDLE hArcData, struct RARHeaderData* HeaderData);
UNRAR_EXPORT int RARReadHeaderEx(HANDLE hArcData, struct RARHeaderDataEx* HeaderData);
UNRAR_EXPORT int RARProcessFile(HANDLE hArcData, int Operation, char* DestPath, char* DestName);
UNRAR_EXPORT int RARProcessFileW(HANDLE hArcData, int Operation, wchar_t* DestPath,
                                 wchar_t* DestName);
UNRAR_EXPORT void RARSetCallback(HANDLE hArcData, UNRARCALLBACK Callback, LPARAM UserData);
UNRAR_EXPORT void RARSetChangeVolProc(HANDLE hArcData, CHANGEVOLPROC ChangeVolProc);
UNRAR_EXPORT void RARSetProcessDataProc(HANDLE hArcData, PROCESSDATAPROC ProcessDataProc);
UNRAR_EXPORT void RARSetPassword(HANDLE hArcData, char* Password);
UNRAR_EXPORT int RARGetDllVersion(void);

// Pointer types for run-time loading (the program resolves these by name).
typedef HANDLE (*RAROpenArchiveFn)(struct RAROpenArchiveData*);
typedef HANDLE (*RAROpenArchiveExFn)(struct RAROpenArchiveDataEx*);
typedef int (*RARCloseArchiveFn)(HANDLE);
typedef int (*RARReadHeaderFn)(HANDLE, struct RARHeaderData*);
typedef int (*RARReadHeaderExFn)(HANDLE, struct RARHeaderDataEx*);
typedef int (*RARProcessFileFn)(HANDLE, int, char*, char*);
typedef int (*RARProcessFileWFn)(HANDLE, int, wchar_t*, wchar_t*);
typedef void (*RARSetCallbackFn)(HANDLE, UNRARCALLBACK, LPARAM);
typedef void (*RARSetChangeVolProcFn)(HANDLE, CHANGEVOLPROC);
typedef void (*RARSetProcessDataProcFn)(HANDLE, PROCESSDATAPROC);
typedef void (*RARSetPasswordFn)(HANDLE, char*);
typedef int (*RARGetDllVersionFn)(void);

#ifdef __cplusplus
}
#endif

#endif
