// Run-time binding of the UnRAR library: load, resolve, free.
//
// The library is found, in this order: the file named by SetUnRarLibraryPath
// or by the environment variable QUILLMOSS_UNRAR_LIBRARY (an absolute path;
// when either is given, only that file is tried); "libunrar.so" in the
// executable's folder, by absolute path; the system loader's "libunrar.so";
// then "libunrar.so.5".
//
// A library that lacks one of the seven entry points the program calls
// (RAROpenArchive, RARCloseArchive, RARReadHeaderEx, RARProcessFile,
// RARSetCallback, RARSetPassword, RARGetDllVersion) is freed again at once and
// counts as not found, so no caller ever meets a null reference while the
// library is loaded.
//
// Process-wide state, used on the user-interface thread only.
#pragma once

#include <QString>

#include "unrar.h"

namespace untUnRar {

// The eleven references, null while not resolved.
extern RAROpenArchiveFn RAROpenArchive;
extern RAROpenArchiveExFn RAROpenArchiveEx;
extern RARCloseArchiveFn RARCloseArchive;
extern RARReadHeaderFn RARReadHeader;
extern RARReadHeaderExFn RARReadHeaderEx;
extern RARProcessFileFn RARProcessFile;
extern RARSetCallbackFn RARSetCallback;
extern RARSetChangeVolProcFn RARSetChangeVolProc;
extern RARSetProcessDataProcFn RARSetProcessDataProc;
extern RARSetPasswordFn RARSetPassword;
extern RARGetDllVersionFn RARGetDllVersion;

// Loads the library and resolves the references. Loading while loaded
// changes nothing.
void LoadUnRarLibrary();
// Frees the library if loaded and clears the handle, the flag and every reference.
void FreeUnRarLibrary();
bool UnRarLibraryLoaded();
// The loader's handle, null while not loaded.
void* UnRarLibraryHandle();

// Names the one library file to load from now on (tests); an empty path
// restores the normal search.
void SetUnRarLibraryPath(const QString& path);
// Why the last LoadUnRarLibrary found no usable library (empty after a success).
QString UnRarLibraryError();

}  // namespace untUnRar
