// The exported C entry points. Every one checks its handle, catches every
// exception and answers with a status code.
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <string>

#include "archive.h"
#include "core/format_values.h"
#include "core/utf8.h"
#include "unrar.h"

using unrar::Archive;
using unrar::Entry;
using unrar::utf8ToWide;
using unrar::wideToUtf8;

namespace {

std::mutex g_handlesMutex;
std::set<const void*>& handles() {
  static std::set<const void*> h;
  return h;
}

Archive* lookup(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  if (!h || !handles().count(h)) return nullptr;
  auto* a = static_cast<Archive*>(h);
  return a->magic == Archive::kMagic ? a : nullptr;
}

// Copies UTF-8 text into a fixed buffer, cut at a character boundary.
void copyName(char* dst, std::size_t cap, const std::string& s) {
  std::size_t n = std::min(s.size(), cap - 1);
  while (n > 0 && n < s.size() && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  std::memcpy(dst, s.data(), n);
  dst[n] = 0;
}

void copyWide(wchar_t* dst, std::size_t cap, const std::wstring& s) {
  std::size_t n = std::min(s.size(), cap - 1);
  std::wmemcpy(dst, s.data(), n);
  dst[n] = 0;
}

// What both header records show for an entry of unknown size.
constexpr unsigned kUnknownSizeShown = 0x7FFFFFFFu;

// The fields both header records share.
template <typename Record>
void fillCommon(Record* d, const Entry& e) {
  d->Flags = e.rawFlags | (e.directory ? unsigned{unrar::rar4::kFileDirectory} : 0u);
  d->PackSize = static_cast<unsigned>(e.packSize);
  d->UnpSize = e.unpSizeUnknown ? kUnknownSizeShown : static_cast<unsigned>(e.unpSize);
  d->HostOS = e.hostOS;
  d->FileCRC = e.hasCrc ? e.crc : 0;
  d->FileTime = e.dosTime;
  d->UnpVer = e.unpVer;
  d->Method = unrar::rar4::kMethodStore + e.method;
  d->FileAttr = e.attr;
  d->CmtSize = 0;
  d->CmtState = 0;
}

// Returns whether both name fields hold the entry's whole name.
bool fillRecord(RARHeaderDataEx* d, const Entry& e, const std::string& volume) {
  copyName(d->ArcName, sizeof d->ArcName, volume);
  copyWide(d->ArcNameW, 1024, utf8ToWide(volume));
  copyName(d->FileName, sizeof d->FileName, e.name);
  const std::wstring wide = utf8ToWide(e.name);
  copyWide(d->FileNameW, 1024, wide);
  fillCommon(d, e);
  d->PackSizeHigh = static_cast<unsigned>(e.packSize >> 32);
  d->UnpSizeHigh = e.unpSizeUnknown ? kUnknownSizeShown : static_cast<unsigned>(e.unpSize >> 32);
  d->DictSize = static_cast<unsigned>(e.dictBytes / 1024);
  if (e.hasBlake2) {
    d->HashType = RAR_HASH_BLAKE2;
    std::memcpy(d->Hash, e.blake2.data(), 32);
  } else {
    d->HashType = e.hasCrc ? RAR_HASH_CRC32 : RAR_HASH_NONE;
    std::memset(d->Hash, 0, sizeof d->Hash);
  }
  d->RedirType = static_cast<unsigned>(e.redir);
  if (d->RedirName && d->RedirNameSize > 0 && d->RedirNameSize < 100000)
    copyWide(d->RedirName, d->RedirNameSize, utf8ToWide(e.redirTarget));
  d->DirTarget = e.redirDirTarget ? 1 : 0;
  d->MtimeLow = static_cast<unsigned>(e.mtime);
  d->MtimeHigh = static_cast<unsigned>(e.mtime >> 32);
  d->CtimeLow = static_cast<unsigned>(e.ctime);
  d->CtimeHigh = static_cast<unsigned>(e.ctime >> 32);
  d->AtimeLow = static_cast<unsigned>(e.atime);
  d->AtimeHigh = static_cast<unsigned>(e.atime >> 32);
  return e.name.size() < sizeof d->FileName && wide.size() < 1024;
}

void fillComment(RAROpenArchiveDataEx* d, Archive& a) {
  d->CmtSize = 0;
  d->CmtState = 0;
  if (d->CmtBufSize == 0 || (!d->CmtBuf && !d->CmtBufW)) return;
  if (!(d->Flags & ROADF_COMMENT)) return;
  std::string text;
  int rc = a.readComment(text);
  if (rc) {
    d->CmtState = static_cast<unsigned>(rc);
    return;
  }
  // Sizes count characters and the terminating zero; a comment that does not
  // fit is cut and still terminated.
  if (d->CmtBufW) {
    std::wstring w = utf8ToWide(text);
    std::size_t n = std::min<std::size_t>(w.size(), d->CmtBufSize - 1);
    std::wmemcpy(d->CmtBufW, w.data(), n);
    d->CmtBufW[n] = 0;
    d->CmtSize = static_cast<unsigned>(n + 1);
    d->CmtState = w.size() + 1 > d->CmtBufSize ? ERAR_SMALL_BUF : 1;
  } else {
    std::size_t n = std::min<std::size_t>(text.size(), d->CmtBufSize - 1);
    std::memcpy(d->CmtBuf, text.data(), n);
    d->CmtBuf[n] = 0;
    d->CmtSize = static_cast<unsigned>(n + 1);
    d->CmtState = text.size() + 1 > d->CmtBufSize ? ERAR_SMALL_BUF : 1;
  }
}

HANDLE openEx(RAROpenArchiveDataEx* d) {
  std::string path;
  if (d->ArcNameW && *d->ArcNameW)
    path = wideToUtf8(d->ArcNameW);
  else if (d->ArcName)
    path = d->ArcName;
  if (path.empty()) {
    d->OpenResult = ERAR_EOPEN;
    return nullptr;
  }
  if (d->OpenMode > RAR_OM_LIST_INCSPLIT) {
    d->OpenResult = ERAR_UNKNOWN;
    return nullptr;
  }
  auto a = std::make_unique<Archive>(d->OpenMode, d->Callback, d->UserData);
  Archive::OpenResult r = a->open(path);
  if (r.code) {
    d->OpenResult = static_cast<unsigned>(r.code);
    return nullptr;
  }
  d->Flags = r.flags | (r.hasComment ? ROADF_COMMENT : 0u);
  fillComment(d, *a);
  d->OpenResult = ERAR_SUCCESS;
  Archive* raw = a.release();
  std::lock_guard<std::mutex> lock(g_handlesMutex);
  handles().insert(raw);
  return raw;
}

// Nothing may leave an entry point as an exception.
template <typename F>
int guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return ERAR_NO_MEMORY;
  } catch (...) {
    return ERAR_UNKNOWN;
  }
}

// Returns whether the name field holds the entry's whole name.
bool fillRecord(RARHeaderData* d, const Entry& e, const std::string& volume) {
  copyName(d->ArcName, sizeof d->ArcName, volume);
  copyName(d->FileName, sizeof d->FileName, e.name);
  fillCommon(d, e);
  return e.name.size() < sizeof d->FileName;
}

// Reads the next header into either header record.
template <typename Record>
int readHeaderInto(HANDLE h, Record* d) {
  Archive* a = lookup(h);
  if (!a || !d) return a ? ERAR_UNKNOWN : ERAR_BAD_ARCHIVE;
  return guarded([&] {
    Entry e;
    std::string volume;
    int rc = a->readHeader(e, volume);
    if (rc == ERAR_SUCCESS) a->setNameShownWhole(fillRecord(d, e, volume));
    return rc;
  });
}

}  // namespace

extern "C" {

HANDLE RAROpenArchiveEx(RAROpenArchiveDataEx* d) {
  if (!d) return nullptr;
  try {
    return openEx(d);
  } catch (const std::bad_alloc&) {
    d->OpenResult = ERAR_NO_MEMORY;
  } catch (...) {
    d->OpenResult = ERAR_UNKNOWN;
  }
  return nullptr;
}

HANDLE RAROpenArchive(RAROpenArchiveData* d) {
  if (!d) return nullptr;
  RAROpenArchiveDataEx ex;
  std::memset(&ex, 0, sizeof ex);
  ex.ArcName = d->ArcName;
  ex.OpenMode = d->OpenMode;
  ex.CmtBuf = d->CmtBuf;
  ex.CmtBufSize = d->CmtBuf ? d->CmtBufSize : 0;
  HANDLE h = RAROpenArchiveEx(&ex);
  d->OpenResult = ex.OpenResult;
  d->CmtSize = ex.CmtSize;
  d->CmtState = ex.CmtState;
  return h;
}

int RARCloseArchive(HANDLE h) {
  Archive* a = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    if (!h || !handles().count(h)) return ERAR_ECLOSE;
    handles().erase(h);
    a = static_cast<Archive*>(h);
  }
  try {
    delete a;
  } catch (...) {
    return ERAR_ECLOSE;
  }
  return ERAR_SUCCESS;
}

int RARReadHeaderEx(HANDLE h, RARHeaderDataEx* d) {
  return readHeaderInto(h, d);
}

int RARReadHeader(HANDLE h, RARHeaderData* d) {
  return readHeaderInto(h, d);
}

int RARProcessFile(HANDLE h, int operation, char* destPath, char* destName) {
  Archive* a = lookup(h);
  if (!a) return ERAR_BAD_ARCHIVE;
  return guarded([&] { return a->processFile(operation, destPath, destName); });
}

int RARProcessFileW(HANDLE h, int operation, wchar_t* destPath, wchar_t* destName) {
  Archive* a = lookup(h);
  if (!a) return ERAR_BAD_ARCHIVE;
  return guarded([&] {
    std::string p = wideToUtf8(destPath), n = wideToUtf8(destName);
    return a->processFile(operation, destPath ? p.c_str() : nullptr,
                          destName ? n.c_str() : nullptr);
  });
}

void RARSetCallback(HANDLE h, UNRARCALLBACK cb, LPARAM user) {
  if (Archive* a = lookup(h)) a->setCallback(cb, user);
}

void RARSetChangeVolProc(HANDLE h, CHANGEVOLPROC proc) {
  if (Archive* a = lookup(h)) a->setChangeVolProc(proc);
}

void RARSetProcessDataProc(HANDLE h, PROCESSDATAPROC proc) {
  if (Archive* a = lookup(h)) a->setProcessDataProc(proc);
}

void RARSetPassword(HANDLE h, char* password) {
  Archive* a = lookup(h);
  if (!a) return;
  try {
    a->setPassword(password);
  } catch (...) {
  }
}

int RARGetDllVersion(void) {
  return RAR_DLL_VERSION;
}

}  // extern "C"
