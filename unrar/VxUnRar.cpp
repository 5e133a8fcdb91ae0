#include "VxUnRar.h"

#include <QElapsedTimer>
#include <QFile>
#include <QWidget>
#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <optional>

#include "VxUnRarConvert.h"
#include "entry_folders.h"
#include "executable.h"
#include "message_box.h"
#include "path_bytes.h"
#include "text_file.h"
#include "untUnRar.h"

namespace {

constexpr unsigned kCommentBufferSize = 65536;
// The library offers no size for the volume name buffer; 1024 bytes with the
// terminating zero is what every library we serve provides.
constexpr int kVolumeNameSize = 1024;

// A run started from inside another (a handler that pumps events and starts
// one) is refused.
bool runInProgress = false;

// A header read that fails may leave the record as the previous read left it,
// and a library that cannot move past a failure answers the same failure for
// the same entry again. The first such repeat ends the header loop: reading
// on could bring nothing new.
class HeaderRepeat {
 public:
  // Call before each read: a record the library fills gets a name again.
  void prepare(RARHeaderDataEx& header) {
    header.FileNameW[0] = 0;
    header.FileName[0] = '\0';
  }
  // True when the read just made failed as the one before did, for the same entry.
  bool repeats(int status, const RARHeaderDataEx& header) {
    if (status == 0) {
      FStatus = 0;
      return false;
    }
    const QString entry = vxunrar::EntryName(header);
    const bool same = status == FStatus && entry == FEntry;
    FStatus = status;
    FEntry = entry;
    return same;
  }
  // The read filled in no entry: a failure that names nothing is no entry.
  static bool filled(const RARHeaderDataEx& header) {
    return header.FileNameW[0] != 0 || header.FileName[0] != '\0';
  }

 private:
  int FStatus = 0;
  QString FEntry;
};

struct RunGuard {
  RunGuard() { runInProgress = true; }
  ~RunGuard() { runInProgress = false; }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;
};

}  // namespace

// The library's records and the open archive, which the windows never see.
struct TVxUnRar::Run {
  RAROpenArchiveData open{};
  RARHeaderDataEx header{};
  QByteArray comment;
  HANDLE ArchiveHandle = nullptr;
  QByteArray fileName;
  QByteArray directory;
  // FHeaderData holds the entry of the header read last (its name made once).
  bool nameConverted = false;
  // Measures the time since OnBusy was last raised (or the run started).
  QElapsedTimer sinceBusy;
  // Why the entry processed last failed, where the system said so (errno
  // right after the library returned), and the dictionary it asked to be
  // allowed (KB; 0 when it asked nothing).
  int systemError = 0;
  quint64 largeDictionaryKB = 0;
  // The last entry folder found to exist (see MissingFolders).
  QByteArray knownFolder;
  // Whether an entry's target exists already, asked once per extracted entry.
  platform::FilePresence targetPresent;
  // An exception thrown by a handler inside the library callback waits here
  // until the library has returned: it must never unwind through the library.
  std::exception_ptr pending;

  void rethrowPending() {
    if (pending) {
      std::exception_ptr e = pending;
      pending = nullptr;
      std::rethrow_exception(e);
    }
  }
};

// What the person answered during the run over one archive.
struct TVxUnRar::Answers {
  QString fileName;  // the archive they belong to
  std::optional<QString> password;
  // Set once this open has handed a typed password over: when the library
  // asks again, it refused it.
  bool passwordHandedThisOpen = false;
  // The person gave no password (Cancel, or an empty answer): not asked again.
  bool passwordDeclined = false;
  // Whether an entry (by name) may use a dictionary beyond the library's limit.
  std::map<QString, bool> largeDictionaries;
  struct Volume {
    bool accepted = false;
    QByteArray name;
  };
  std::map<QByteArray, Volume> volumes;  // by the name the library proposed
};

// The library hands back what PrepareLibrary registered as UserData: the
// component whose archive is open.
int VxUnRarCallback(unsigned int Msg, long UserData, long P1, long P2) {
  TVxUnRar* self = reinterpret_cast<TVxUnRar*>(UserData);
  if (!self) return -1;
  // What a prompt or a handler does here must not stand in errno for the
  // library's own reason of a failure.
  const int libraryErrno = errno;
  int result = -1;
  try {
    result = self->UnRarCallback(Msg, P1, P2);
  } catch (...) {
    self->FRun->pending = std::current_exception();
  }
  errno = libraryErrno;
  return result;
}

TVxUnRar::TVxUnRar(QObject* Owner)
    : QObject(Owner), FRun(std::make_unique<Run>()), FAnswers(std::make_unique<Answers>()) {
  untUnRar::LoadUnRarLibrary();
  FDllLoaded = untUnRar::UnRarLibraryLoaded();
  const QString silent = platform::besideExecutable(QStringLiteral("silent.txt"));
  if (platform::filePresent(silent)) {
    try {
      FPassword = platform::readFirstLine(silent);
    } catch (const platform::EInOutError& error) {
      if (FDllLoaded) untUnRar::FreeUnRarLibrary();
      throw EVxUnRarError(error.message());
    }
  }
  if (FDllLoaded) FDllVersion = untUnRar::RARGetDllVersion();
}

TVxUnRar::~TVxUnRar() {
  if (FDllLoaded) untUnRar::FreeUnRarLibrary();
}

void TVxUnRar::ForgetAnswers() {
  *FAnswers = Answers();
}

void TVxUnRar::SetMode(TVxRarMode Value) {
  FMode = Value;
  FOperation = Value == VxRAR_LIST ? 1 : 2;
}

void TVxUnRar::RaiseError(const QString& Message, int MessageID) {
  if (OnError) OnError(this, Message, MessageID);
}

void TVxUnRar::RaiseStatus(const QString& Message, TRarStatus status) {
  if (OnRarStatus) OnRarStatus(this, Message, status);
}

void TVxUnRar::PrepareOpen(unsigned OpenMode) {
  FRun->fileName = platform::pathToBytes(FFileName);
  FRun->open = RAROpenArchiveData{};
  FRun->open.ArcName = FRun->fileName.data();
  FRun->open.OpenMode = OpenMode;
  FRun->open.OpenResult = 0;
  FRun->comment = QByteArray(kCommentBufferSize, '\0');
  FRun->open.CmtBuf = FRun->comment.data();
  FRun->open.CmtBufSize = kCommentBufferSize;
  FRun->open.CmtSize = FCommentSize;
  FRun->open.CmtState = 0;
}

bool TVxUnRar::OpenArchive() {
  RaiseStatus(QString(), RAR_ONBEFOREOPEN);
  FAnswers->passwordHandedThisOpen = false;
  FRun->ArchiveHandle = untUnRar::RAROpenArchive(&FRun->open);
  try {
    RaiseStatus(QString(), RAR_ONOPEN);
    switch (FRun->open.CmtState) {
      case 0:
        FArchivComment.clear();
        FCommentSize = 0;
        break;
      case 1: {
        const char* text = FRun->comment.constData();
        const QByteArray bytes(text, static_cast<qsizetype>(strnlen(text, kCommentBufferSize)));
        FArchivComment = QString::fromUtf8(bytes);
        FCommentSize = static_cast<quint32>(FArchivComment.size());
        if (OnComment) OnComment(this, FArchivComment);
        break;
      }
      case 11:
        RaiseError(QStringLiteral("No memory!"), 11);
        break;
      case 12:
        RaiseError(QStringLiteral("Corrupted data!"), 12);
        break;
      case 14:
        RaiseError(QStringLiteral("Unknown format!"), 14);
        break;
      case 20:
        RaiseError(QStringLiteral("Buffer to small!"), 20);
        break;
      default:
        break;
    }
  } catch (...) {
    FRun->comment = QByteArray();
    FRun->open.CmtBuf = nullptr;
    if (FRun->ArchiveHandle) CloseArchive();
    throw;
  }
  FRun->comment = QByteArray();
  FRun->open.CmtBuf = nullptr;
  if (!FRun->ArchiveHandle) {
    // No handle, so nothing to close; the pass still ends with its close line.
    const int result = static_cast<int>(FRun->open.OpenResult);
    RaiseError(vxunrar::OpenErrorText(result), result);
    RaiseStatus(QString(), RAR_AFTERCLOSE);
    return false;
  }
  return true;
}

void TVxUnRar::CloseArchive() {
  HANDLE handle = FRun->ArchiveHandle;
  FRun->ArchiveHandle = nullptr;
  const int result = untUnRar::RARCloseArchive(handle);
  if (result == 17) RaiseError(QStringLiteral("Error on close!"), 17);
  RaiseStatus(QString(), RAR_AFTERCLOSE);
}

// Right after every open: the callback, the password when there is one, and
// the destination as the library takes it.
void TVxUnRar::PrepareLibrary() {
  untUnRar::RARSetCallback(FRun->ArchiveHandle, VxUnRarCallback, reinterpret_cast<long>(this));
  if (!FPassword.isEmpty()) {
    QByteArray password = FPassword.toUtf8();
    untUnRar::RARSetPassword(FRun->ArchiveHandle, password.data());
  }
  FRun->directory = platform::pathToBytes(FDirectory);
}

bool TVxUnRar::CountEntries() {
  FFileCount = 0;
  FSizeCount = 0;
  PrepareOpen(RAR_OM_EXTRACT);
  if (FStopProcessing) return true;
  if (!OpenArchive()) return false;
  try {
    if (!FStopProcessing) {
      PrepareLibrary();
      HeaderRepeat repeat;
      for (;;) {
        repeat.prepare(FRun->header);
        const int status = untUnRar::RARReadHeaderEx(FRun->ArchiveHandle, &FRun->header);
        FRun->rethrowPending();
        if (status == ERAR_END_ARCHIVE) break;
        if (repeat.repeats(status, FRun->header)) break;
        if (FStopProcessing) break;
        int result = 0;
        if (status == 0) {
          result = untUnRar::RARProcessFile(FRun->ArchiveHandle, RAR_SKIP, FRun->directory.data(),
                                            nullptr);
          FRun->rethrowPending();
          if (result == 0 && (FRun->header.Flags & 0x01) == 0) {
            ++FFileCount;
            FSizeCount += FRun->header.UnpSize;  // 32-bit unsigned, wraps by design
          }
        }
        if (FStopProcessing) break;
        if (result != 0) break;
      }
    }
  } catch (...) {
    FRun->pending = nullptr;
    CloseArchive();
    throw;
  }
  CloseArchive();
  return true;
}

void TVxUnRar::HeaderStep(int status) {
  if (status == ERAR_BAD_DATA) {
    RaiseError(QStringLiteral("File Header corrupted!"), 12);
    return;
  }
  if (!OnFileProcessing && !OnProgress) return;
  vxunrar::ConvertHeader(FRun->header, FHeaderData);
  FRun->nameConverted = true;
  if (OnFileProcessing) OnFileProcessing(this, FHeaderData, status);
  if (OnProgress) {
    ++FFilesProcessed;
    ++FSizeProcessed;
    OnProgress(this, FFilesProcessed, FFileCount, FSizeProcessed, FSizeCount);
  }
}

quint64 TVxUnRar::EntrySize() const {
  return quint64{FRun->header.UnpSizeHigh} << 32 | FRun->header.UnpSize;
}

int TVxUnRar::ProcessEntry() {
  FEntryBytesDone = 0;
  FRun->largeDictionaryKB = 0;
  char* destination = FRun->directory.data();
  const bool directory = (FRun->header.Flags & 0xE0) == 0xE0;
  const QString name =
      FRun->nameConverted ? FHeaderData.FileName : vxunrar::EntryName(FRun->header);
  auto process = [&](int operation) {
    // Folders made only for an entry that then failed are not left behind
    // empty; a folder the archive stores is an entry of its own, and stays.
    std::vector<QByteArray> made;
    if (operation == RAR_EXTRACT && !directory)
      made = vxunrar::MissingFolders(FRun->directory, name, FRun->knownFolder);
    errno = 0;
    const int result =
        untUnRar::RARProcessFile(FRun->ArchiveHandle, operation, destination, nullptr);
    FRun->systemError = errno;
    if (result != 0 && !made.empty()) {
      vxunrar::RemoveEmptyFolders(made);
      // A folder held open for the presence check may be one just removed.
      FRun->targetPresent.forget();
    }
    FRun->rethrowPending();
    return result;
  };
  if (FOverrideEvent == OR_ALWAYS) return process(FOperation);
  const QString target = vxunrar::TargetPath(FDirectory, name);
  if (!vxunrar::IsSelected(FFileList, target)) return process(RAR_SKIP);
  if (directory) return process(FOperation);
  if (FOperation == RAR_EXTRACT && FRun->targetPresent(target)) {
    if (FOverrideEvent == OR_NEVER) return process(RAR_SKIP);
    if (FOverrideEvent == OR_EVENT) {
      bool decision = false;
      // Whatever the person does meanwhile may change the folders.
      FRun->targetPresent.forget();
      if (OnOverride) OnOverride(this, target, decision);
      return process(decision ? FOperation : RAR_SKIP);
    }
  }
  return process(FOperation);
}

void TVxUnRar::MainPass() {
  if (FStopProcessing) return;
  PrepareLibrary();
  HeaderRepeat repeat;
  bool failureReported = false;
  // The last entry failed: an entry that continues its solid stream cannot be
  // decoded, and neither can any after it.
  bool streamBroken = false;
  for (;;) {
    repeat.prepare(FRun->header);
    FRun->nameConverted = false;
    const int status = untUnRar::RARReadHeaderEx(FRun->ArchiveHandle, &FRun->header);
    FRun->rethrowPending();
    if (status == ERAR_END_ARCHIVE) break;
    if (repeat.repeats(status, FRun->header)) {
      if (!failureReported) RaiseError(vxunrar::HeaderErrorText(status), status);
      break;
    }
    // A library that cannot read on after a failed entry answers the reads
    // after it with the same status and no entry: that failure is said already.
    if (streamBroken && status == FRunResult && !HeaderRepeat::filled(FRun->header)) break;
    if (status == 0 && streamBroken && (FRun->header.Flags & RHDF_SOLID) != 0) {
      FSolidStreamBroken = true;
      break;
    }
    failureReported = status == ERAR_BAD_DATA;
    if (status != 0 && status != ERAR_BAD_DATA && !HeaderRepeat::filled(FRun->header)) {
      // Nothing was read that could be listed; the failure is said for itself.
      RaiseError(vxunrar::HeaderErrorText(status), status);
      failureReported = true;
      // Encrypted headers without their password: nothing after can be read.
      if (status == ERAR_MISSING_PASSWORD || status == ERAR_BAD_PASSWORD) break;
    } else {
      HeaderStep(status);
    }
    if (FStopProcessing) break;
    if (status != 0) continue;
    const int result = ProcessEntry();
    // A folder or a link may have taken the place of a folder held open.
    if ((FRun->header.Flags & RHDF_DIRECTORY) != 0 || FRun->header.RedirType != 0)
      FRun->targetPresent.forget();
    if (FStopProcessing) break;
    streamBroken = result != 0;
    if (result == 0) continue;
    // Every other entry is still tried: one damaged entry, a full disk or a
    // refused name must not cost the rest of the archive.
    FRunResult = result;
    ++FEntriesFailed;
    // Said once for them all, by whoever reads EntriesWithoutPassword.
    if (result == ERAR_MISSING_PASSWORD && FAnswers->passwordDeclined) {
      FEntriesWithoutPassword << vxunrar::EntryName(FRun->header);
      continue;
    }
    RaiseError(EntryFailureText(result), result);
  }
}

QString TVxUnRar::EntryFailureText(int status) const {
  const QString text = vxunrar::EntryErrorText(status, FRun->header);
  QString why;
  if (status == ERAR_LARGE_DICT && FRun->largeDictionaryKB > 0)
    why = vxunrar::LargeDictionaryReason(FRun->largeDictionaryKB);
  else if (status == ERAR_ECREATE || status == ERAR_ECLOSE || status == ERAR_EWRITE)
    why = vxunrar::SystemErrorReason(FRun->systemError);
  // A name the system cannot take, or one longer than the header record
  // holds, is refused before the system is asked.
  if (why.isEmpty() && status == ERAR_ECREATE) {
    const QString name = vxunrar::EntryName(FRun->header);
    constexpr qsizetype kNameField = sizeof FRun->header.FileNameW / sizeof(wchar_t);
    if (name.size() >= kNameField - 1 ||
        vxunrar::NameTooLong(FRun->directory + '/' + platform::pathToBytes(name)))
      why = vxunrar::SystemErrorReason(ENAMETOOLONG);
  }
  return why.isEmpty() ? text : text + QLatin1Char(' ') + why;
}

void TVxUnRar::Execute() {
  if (runInProgress) return;
  FStopProcessing = false;
  // The library is process-wide: another component's destruction may have
  // freed it since this one was built.
  if (!FDllLoaded || !untUnRar::UnRarLibraryLoaded()) {
    RaiseError(QStringLiteral("UnRar.Dll not loaded!"), 0);
    return;
  }
  const RunGuard guard;
  if (FAnswers->fileName != FFileName) {
    ForgetAnswers();
    FAnswers->fileName = FFileName;
  }
  FRunResult = 0;
  FEntriesFailed = 0;
  FMissingVolume.clear();
  FSolidStreamBroken = false;
  FEntriesWithoutPassword.clear();
  FFilesProcessed = 0;
  FSizeProcessed = 0;
  FRun->pending = nullptr;
  FRun->targetPresent.forget();
  FRun->sinceBusy.start();
  if (FCanProgress && !CountEntries()) return;
  PrepareOpen(FMode == VxRAR_LIST ? RAR_OM_LIST : RAR_OM_EXTRACT);
  if (FStopProcessing) return;
  if (!OpenArchive()) return;
  try {
    MainPass();
  } catch (...) {
    FRun->pending = nullptr;
    CloseArchive();
    throw;
  }
  CloseArchive();
}

// The clock is read only with a handler set; blocks come often and small, so
// the time, not the number of blocks, decides.
void TVxUnRar::RaiseBusy() {
  if (!OnBusy || FRun->sinceBusy.elapsed() < kBusyInterval) return;
  OnBusy(this);
  // Counted from the handler's return, so a slow handler cannot take over the run.
  FRun->sinceBusy.start();
}

// Decodes a message's P1 and P2 and hands them to its answer. The library
// sends the byte forms only: the wide ones (UCM_CHANGEVOLUMEW,
// UCM_NEEDPASSWORDW) and any other message are answered 0 (go on). A stop
// asked for turns every answer into -1 (cancel).
int TVxUnRar::UnRarCallback(unsigned int Msg, long P1, long P2) {
  int result = 0;
  switch (Msg) {
    case UCM_CHANGEVOLUME:
      result = AnswerNextVolume(reinterpret_cast<char*>(P1), P2 == RAR_VOL_ASK);
      break;
    case UCM_PROCESSDATA:
      result = CountProcessedBytes(P2 > 0 ? static_cast<quint64>(P2) : 0);
      break;
    case UCM_NEEDPASSWORD:
      result = AnswerPassword(reinterpret_cast<char*>(P1), P2);
      break;
    case UCM_LARGEDICT:
      result = AnswerLargeDictionary(static_cast<quint64>(P1), static_cast<quint64>(P2));
      break;
    default:
      break;
  }
  if (FStopProcessing) result = -1;
  return result;
}

// Name is the library's buffer of kVolumeNameSize bytes holding the volume it
// proposes; Missing: the library asks for it (it was not found), otherwise it
// only says it goes on with it. 0 goes on with the name in the buffer, -1
// stops.
int TVxUnRar::AnswerNextVolume(char* Name, bool Missing) {
  if (!Missing) return 0;
  if (!Name) return -1;
  int result = 0;
  const QByteArray proposed(Name, static_cast<qsizetype>(strnlen(Name, kVolumeNameSize)));
  if (OnVolChange) {
    OnVolChange(this, Name, 0);
  } else if (FPromptForVolumn) {
    const QByteArray current(
        FRun->header.ArcName,
        static_cast<qsizetype>(strnlen(FRun->header.ArcName, sizeof FRun->header.ArcName)));
    bool accepted = false;
    const auto kept = FAnswers->volumes.find(proposed);
    if (kept != FAnswers->volumes.end()) {
      accepted = kept->second.accepted;
      vxunrar::CopyToBuffer(kept->second.name, Name, kVolumeNameSize);
    } else {
      accepted = PromptNextVolume(platform::pathFromBytes(current), Name, kVolumeNameSize,
                                  platform::pathFromBytes(proposed));
      FAnswers->volumes[proposed] = {accepted, QByteArray(Name)};
    }
    if (accepted)
      result = std::strcmp(Name, current.constData()) == 0 ? -1 : 0;
    else
      result = -1;
  }
  if (Name[0] == '\0') result = -1;
  if (result == -1) FMissingVolume = platform::pathFromBytes(proposed);
  return result;
}

// Bytes of the current entry were unpacked (or tested): counted for the
// progress within the entry. -1 stops the run when asked to.
int TVxUnRar::CountProcessedBytes(quint64 Bytes) {
  FEntryBytesDone += Bytes;
  RaiseBusy();
  return FStopProcessing ? -1 : 0;
}

int TVxUnRar::AnswerPassword(char* Buffer, long Size) {
  // Nobody is asked again once the person gave no password; the entries
  // that need one fail, and are counted rather than reported one by one.
  if (FAnswers->passwordDeclined) {
    vxunrar::CopyToBuffer(QByteArray(), Buffer, Size);
    return 0;
  }
  QString password = FPassword;
  const std::optional<QString> typed = FAnswers->password;
  // Asked again in the same open for a typed password it was handed: the
  // library refused it.
  const bool refused = typed && FAnswers->passwordHandedThisOpen && !typed->isEmpty();
  if (typed && !refused) {
    password = *typed;
  } else if (OnPassword) {
    OnPassword(this, password);
  } else if (FPromptForPass) {
    const bool accepted = PromptPassword(password, refused);
    FAnswers->password = password;
    FAnswers->passwordDeclined = !accepted || password.isEmpty();
  } else {
    RaiseError(QStringLiteral("No Password!"), 0);
  }
  vxunrar::CopyToBuffer(password.toUtf8(), Buffer, Size);
  const bool handed = Size > 0 && Buffer && Buffer[0] != '\0';
  if (handed && FAnswers->password) FAnswers->passwordHandedThisOpen = true;
  // The password itself is never said: the lines reach the screen.
  RaiseStatus(
      handed ? QStringLiteral("A password was used") : QStringLiteral("No password was given"),
      RAR_ONPASSWORD);
  return 0;
}

// 1 lets the library use a dictionary beyond its limit; anything else fails
// the entry before any memory is taken. No (the default) unless a person
// says yes; each entry is asked once per run over its archive.
int TVxUnRar::AnswerLargeDictionary(quint64 DictionaryKB, quint64 LimitKB) {
  FRun->largeDictionaryKB = DictionaryKB;
  const QString entry = vxunrar::EntryName(FRun->header);
  auto kept = FAnswers->largeDictionaries.find(entry);
  if (kept == FAnswers->largeDictionaries.end()) {
    const int answer = platform::questionBox(
        qobject_cast<QWidget*>(parent()), QStringLiteral("Quillmoss"),
        vxunrar::LargeDictionaryQuestion(platform::escapeControls(entry), DictionaryKB, LimitKB));
    kept = FAnswers->largeDictionaries.emplace(entry, answer == 6).first;
  }
  return kept->second ? 1 : 0;
}
