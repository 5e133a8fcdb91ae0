// The archive component: opens a RAR archive through the UnRAR library, lists,
// tests or extracts its entries, and reports everything through events.
//
// This header is all the windows see of the archive machinery; the library's
// records stay inside unrar/.
#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <stdexcept>

class QDialog;
class QWidget;

enum TVxRarMode { VxRAR_EXTRACT = 0, VxRAR_LIST = 1 };
enum TRarStatus { RAR_ONOPEN = 0, RAR_ONBEFOREOPEN = 1, RAR_AFTERCLOSE = 2, RAR_ONPASSWORD = 3 };
enum TOverrideOptions { OR_ALWAYS = 0, OR_NEVER = 1, OR_EVENT = 2 };

// One entry as the component reports it.
struct TVxRARHeaderData {
  QString ArcName;   // the volume that holds the header
  QString FileName;  // the entry's path inside the archive
  bool SplitAfter = false;
  bool SplitBefore = false;
  bool Encrypted = false;
  bool IsDirectory = false;
  quint32 DictionarySize = 0;  // 0 for a directory
  quint32 PackSize = 0;
  quint32 UnpSize = 0;
  QString HostOS;
  QString CRC;
  // The stored local date and time as they stand (date() and time(); held as
  // UTC so that no zone rule moves or voids them); null when no valid date.
  QDateTime FileTime;
  quint32 UnpVerMajor = 0;
  quint32 UnpVerMinor = 0;
  QString Method;
  bool AttrArchive = false;
  bool AttrCompressed = false;
  bool AttrDirectory = false;
  bool AttrHidden = false;
  bool AttrNormal = false;
  bool AttrOffline = false;
  bool AttrReadOnly = false;
  bool AttrSystem = false;
  bool AttrTemporary = false;
};

// Event types. Sender is always the component. An empty function is "no
// handler", which several decisions of a run test.
using TRarCommentEvent = std::function<void(QObject* Sender, QString Comment)>;
using TRarErrorEvent = std::function<void(QObject* Sender, QString Message, int MessageID)>;
using TRarHeaderEvent = std::function<void(QObject* Sender, TVxRARHeaderData hdrData, int status)>;
using TRAROverrideEvent = std::function<void(QObject* Sender, QString FileName, bool& CanOverride)>;
using TRarPromptPassEvent = std::function<void(QObject* Sender, QString& Password)>;
using TRARProgress = std::function<void(QObject* Sender, quint32 FilesProcessed, quint32 FileCount,
                                        quint32 SizeProcessed, quint32 SizeCount)>;
using TRarStatusEvent = std::function<void(QObject* Sender, QString Message, TRarStatus status)>;
// ArcName is the library's writable, zero-terminated name buffer of 1024 bytes
// (terminating zero included); a handler may rewrite the name in it.
using TRarChangeVolEvent = std::function<void(QObject* Sender, char* ArcName, int Mode)>;
// Raised while the library unpacks an entry, from its data callback, at most
// once per TVxUnRar::kBusyInterval: a window uses it to keep answering the
// desktop and to show how far the entry has come (EntryBytesDone) during one
// long entry. The handler must not start a run or change the run's
// properties, except StopProcessing, which ends the run at once.
using TRarBusyEvent = std::function<void(QObject* Sender)>;

namespace vxunrar {
// The text of a library status from 11 to 25 (ERAR_NO_MEMORY to
// ERAR_LARGE_DICT); empty for 21 and for numbers outside.
QString StatusText(int status);
}  // namespace vxunrar

// Raised by the constructor when "silent.txt" beside the executable exists
// but cannot be read. The component is then not created.
class EVxUnRarError : public std::runtime_error {
 public:
  explicit EVxUnRarError(const QString& message)
      : std::runtime_error(message.toStdString()), FMessage(message) {}
  QString message() const { return FMessage; }

 private:
  QString FMessage;
};

// The two prompts are asked through platform::execModal (Modal::PasswordPrompt,
// Modal::VolumePrompt). An answerer may read and change the edit box (objectName
// "edtPrompt") and closes the prompt as a person would, by clicking the button
// named "btnOk" or "btnCancel", or by closing its window (result 0).

class TVxUnRar : public QObject {
  Q_OBJECT
 public:
  // Loads the library; takes the initial password from "silent.txt" beside
  // the executable. Throws EVxUnRarError when that file cannot be read.
  explicit TVxUnRar(QObject* Owner = nullptr);
  ~TVxUnRar() override;

  // One run over the archive named by FileName, with the properties as they
  // stand. Synchronous. A call made while a run is in progress (from inside
  // a handler) does nothing. An exception from an event handler leaves the
  // archive closed and continues to the caller.
  void Execute();

  void SetMode(TVxRarMode Value);
  TVxRarMode Mode() const { return FMode; }
  // 1 (test) in list mode, 2 (extract) in extract mode.
  qint32 Operation() const { return FOperation; }
  bool DllLoaded() const { return FDllLoaded; }

  QString ArchivComment() const { return FArchivComment; }
  quint32 CommentSize() const { return FCommentSize; }
  qint32 DllVersion() const { return FDllVersion; }

  bool CanProgress() const { return FCanProgress; }
  void SetCanProgress(bool Value) { FCanProgress = Value; }
  QString Directory() const { return FDirectory; }
  void SetDirectory(const QString& Value) { FDirectory = Value; }
  // Selection by target path (Directory + "/" + entry name), compared
  // without regard to letter case; empty selects everything.
  QStringList& FileList() { return FFileList; }
  const QStringList& FileList() const { return FFileList; }
  void SetFileList(const QStringList& Value) { FFileList = Value; }
  // FileName and Directory are paths whose bytes path_bytes.h keeps: they
  // reach the library as the very bytes they were read from.
  QString FileName() const { return FFileName; }
  void SetFileName(const QString& Value) { FFileName = Value; }
  TOverrideOptions OverrideEvent() const { return FOverrideEvent; }
  void SetOverrideEvent(TOverrideOptions Value) { FOverrideEvent = Value; }
  QString Password() const { return FPassword; }
  void SetPassword(const QString& Value) { FPassword = Value; }
  bool PromptForPass() const { return FPromptForPass; }
  void SetPromptForPass(bool Value) { FPromptForPass = Value; }
  bool PromptForVolumn() const { return FPromptForVolumn; }
  void SetPromptForVolumn(bool Value) { FPromptForVolumn = Value; }
  bool StopProcessing() const { return FStopProcessing; }
  void SetStopProcessing(bool Value) { FStopProcessing = Value; }

  quint32 FileCount() const { return FFileCount; }
  quint32 SizeCount() const { return FSizeCount; }
  quint32 FilesProcessed() const { return FFilesProcessed; }
  quint32 SizeProcessed() const { return FSizeProcessed; }
  // The entry reported last.
  const TVxRARHeaderData& HeaderData() const { return FHeaderData; }
  // The entry being processed: its unpacked size (all 64 bits) and the bytes
  // the library has unpacked of it so far (from its data callback; 0 before
  // any, and for an entry that is skipped).
  quint64 EntrySize() const;
  quint64 EntryBytesDone() const { return FEntryBytesDone; }
  // The library's status of the last run's last failed entry, 0 when none
  // failed.
  qint32 RunResult() const { return FRunResult; }
  // The entries of the last run whose processing failed (each reported
  // through OnError). A failed entry does not end the run unless the entry
  // after it belongs to the same solid stream, which cannot be decoded past
  // the damage: the run then stops there.
  quint32 EntriesFailed() const { return FEntriesFailed; }
  // The volume the last run asked for and did not get (the name the library
  // proposed); empty when none was missing.
  QString MissingVolume() const { return FMissingVolume; }
  // True when the last run stopped at an entry that continues the solid
  // stream of an entry that failed: that entry and every one after it were
  // not tried, as nothing past the damage can be decoded.
  bool SolidStreamBroken() const { return FSolidStreamBroken; }
  // The encrypted entries of the last run that failed for want of a password
  // once the person declined to give one (Cancel, or an empty answer): from
  // then on nobody is asked again during the run over this archive, and these
  // failures are counted here instead of each being raised through OnError.
  // They count in EntriesFailed too.
  const QStringList& EntriesWithoutPassword() const { return FEntriesWithoutPassword; }
  // Within one run over an archive each question is put once: a password
  // typed into the prompt, the answers to a volume prompt and to a large
  // dictionary's question are kept for the next pass over the same archive.
  // A password the library asks for again in the same pass was wrong: the
  // prompt comes back saying so. Forgets them, as a new archive name does too.
  void ForgetAnswers();

  TRarCommentEvent OnComment;
  TRarErrorEvent OnError;
  TRarHeaderEvent OnFileProcessing;
  TRAROverrideEvent OnOverride;
  TRarPromptPassEvent OnPassword;
  TRARProgress OnProgress;
  TRarStatusEvent OnRarStatus;
  TRarChangeVolEvent OnVolChange;
  // Optional: not one of the run's reported events, so it never changes their
  // order or count.
  TRarBusyEvent OnBusy;

  // About 30 times a second: often enough for a window to redraw smoothly,
  // rarely enough that the data path does not notice.
  static constexpr qint64 kBusyInterval = 33;  // milliseconds

  // The prompts, as the library callback shows them. PromptPassword sets
  // Password (the variable, not the property) to the edit box's text however
  // the dialog closed, and returns whether it was accepted; with Refused it
  // says above the edit box (label "lblWrongPassword") that the password
  // handed over last was wrong. PromptNextVolume writes the edit box's text
  // into the buffer (at most BufferSize bytes with its zero) and returns
  // whether the dialog was accepted; a Missing name is said above the edit
  // box (label "lblMissingVolume"), and a button beside it ("btnChoose")
  // picks the volume's file through a chooser (Modal::OpenChooser).
  bool PromptPassword(QString& Password, bool Refused = false);
  bool PromptNextVolume(const QString& InitialName, char* Buffer, int BufferSize,
                        const QString& Missing = QString());

 private:
  // The window the prompts belong to: the owner's window, null without one.
  QWidget* OwnerWindow() const;

  struct Run;
  friend int VxUnRarCallback(unsigned int Msg, long UserData, long P1, long P2);

  bool CountEntries();
  void PrepareLibrary();
  void PrepareOpen(unsigned OpenMode);
  bool OpenArchive();
  void CloseArchive();
  void MainPass();
  void HeaderStep(int status);
  int ProcessEntry();
  int UnRarCallback(unsigned int Msg, long P1, long P2);
  int AnswerNextVolume(char* Name, bool Missing);
  int CountProcessedBytes(quint64 Bytes);
  int AnswerPassword(char* Buffer, long Size);
  int AnswerLargeDictionary(quint64 DictionaryKB, quint64 LimitKB);
  // What a failed entry is reported with: the table's text, then why, where
  // the library or the system said so.
  QString EntryFailureText(int status) const;
  void RaiseBusy();
  void RaiseError(const QString& Message, int MessageID);
  void RaiseStatus(const QString& Message, TRarStatus status);

  QDialog* FPasswordDialog = nullptr;
  QDialog* FVolumeDialog = nullptr;
  std::unique_ptr<Run> FRun;  // the library's records, comment buffer and handle
  qint32 FOperation = 1;
  qint32 FRunResult = 0;
  quint64 FEntryBytesDone = 0;
  quint32 FEntriesFailed = 0;
  QString FMissingVolume;
  bool FSolidStreamBroken = false;
  QStringList FEntriesWithoutPassword;
  struct Answers;
  std::unique_ptr<Answers> FAnswers;
  bool FDllLoaded = false;
  TVxRARHeaderData FHeaderData;
  QString FArchivComment;
  bool FCanProgress = false;
  quint32 FCommentSize = 0;
  QString FDirectory;
  qint32 FDllVersion = 0;
  quint32 FFileCount = 0;
  QStringList FFileList;
  QString FFileName;
  quint32 FFilesProcessed = 0;
  TVxRarMode FMode = VxRAR_LIST;
  TOverrideOptions FOverrideEvent = OR_ALWAYS;
  QString FPassword;
  bool FPromptForPass = false;
  bool FPromptForVolumn = false;
  quint32 FSizeCount = 0;
  quint32 FSizeProcessed = 0;
  bool FStopProcessing = false;
};
