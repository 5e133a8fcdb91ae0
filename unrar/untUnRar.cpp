#include "untUnRar.h"

#include <QStringList>
#include <type_traits>

#include "executable.h"
#include "module.h"

namespace untUnRar {

RAROpenArchiveFn RAROpenArchive = nullptr;
RAROpenArchiveExFn RAROpenArchiveEx = nullptr;
RARCloseArchiveFn RARCloseArchive = nullptr;
RARReadHeaderFn RARReadHeader = nullptr;
RARReadHeaderExFn RARReadHeaderEx = nullptr;
RARProcessFileFn RARProcessFile = nullptr;
RARSetCallbackFn RARSetCallback = nullptr;
RARSetChangeVolProcFn RARSetChangeVolProc = nullptr;
RARSetProcessDataProcFn RARSetProcessDataProc = nullptr;
RARSetPasswordFn RARSetPassword = nullptr;
RARGetDllVersionFn RARGetDllVersion = nullptr;

namespace {

platform::Module& library() {
  static platform::Module instance;
  return instance;
}

QString& namedPath() {
  static QString path;
  return path;
}

QString& lastError() {
  static QString error;
  return error;
}

void clearReferences() {
  RAROpenArchive = nullptr;
  RAROpenArchiveEx = nullptr;
  RARCloseArchive = nullptr;
  RARReadHeader = nullptr;
  RARReadHeaderEx = nullptr;
  RARProcessFile = nullptr;
  RARSetCallback = nullptr;
  RARSetChangeVolProc = nullptr;
  RARSetProcessDataProc = nullptr;
  RARSetPassword = nullptr;
  RARGetDllVersion = nullptr;
}

QStringList candidates() {
  if (!namedPath().isEmpty()) return {namedPath()};
  const QString fromEnvironment = qEnvironmentVariable("QUILLMOSS_UNRAR_LIBRARY");
  if (!fromEnvironment.isEmpty()) return {fromEnvironment};
  return {platform::besideExecutable(QStringLiteral("libunrar.so")), QStringLiteral("libunrar.so"),
          QStringLiteral("libunrar.so.5")};
}

}  // namespace

void LoadUnRarLibrary() {
  if (library().isLoaded()) return;
  QStringList errors;
  platform::Module module;
  for (const QString& candidate : candidates()) {
    QString error;
    module = platform::Module::open(candidate, &error);
    if (module.isLoaded()) break;
    errors << error;
  }
  if (!module.isLoaded()) {
    lastError() = errors.join(QStringLiteral("; "));
    return;
  }

  QStringList missing;
  auto resolve = [&](auto& reference, const char* name, bool called) {
    QString error;
    reference = module.function<std::remove_reference_t<decltype(reference)>>(name, &error);
    if (!reference && called) missing << QString::fromLatin1(name);
  };
  resolve(RAROpenArchive, "RAROpenArchive", true);
  resolve(RAROpenArchiveEx, "RAROpenArchiveEx", false);
  resolve(RARCloseArchive, "RARCloseArchive", true);
  resolve(RARReadHeader, "RARReadHeader", false);
  resolve(RARReadHeaderEx, "RARReadHeaderEx", true);
  resolve(RARProcessFile, "RARProcessFile", true);
  resolve(RARSetCallback, "RARSetCallback", true);
  resolve(RARSetChangeVolProc, "RARSetChangeVolProc", false);
  resolve(RARSetProcessDataProc, "RARSetProcessDataProc", false);
  resolve(RARSetPassword, "RARSetPassword", true);
  resolve(RARGetDllVersion, "RARGetDllVersion", true);

  if (!missing.isEmpty()) {
    clearReferences();
    lastError() = QStringLiteral("the library lacks %1").arg(missing.join(QStringLiteral(", ")));
    return;  // module goes out of scope and frees the library
  }
  lastError().clear();
  library() = std::move(module);
}

void FreeUnRarLibrary() {
  if (!library().isLoaded()) return;
  library().close();
  clearReferences();
}

bool UnRarLibraryLoaded() {
  return library().isLoaded();
}

void* UnRarLibraryHandle() {
  return library().handle();
}

void SetUnRarLibraryPath(const QString& path) {
  namedPath() = path;
}

QString UnRarLibraryError() {
  return lastError();
}

}  // namespace untUnRar
