// The extraction window: banner, progress bar, and the hidden archive browser.
// Started with an archive it shows the automatic run (automatic_run.h), which
// lists it and extracts it beside itself (or into the folder named by
// "folder.txt"), and closes when the run is over, which ends the program.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QElapsedTimer>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QStringList>

#include "VxUnRar.h"
#include "automatic_run.h"

class QAction;
class QActionGroup;
class QFileDialog;
class QLabel;
class QProgressBar;
class QTimer;
class TEntryListModel;
namespace Ui {
class TfrmMain;
}

// The column the file list was last sorted by; one for the whole program.
extern int SortColumn;

class TfrmMain : public QMainWindow, private ArchivePasses {
  Q_OBJECT
 public:
  // Creates the archive component, which loads the library and may throw
  // EVxUnRarError (unreadable "silent.txt"); the window is then not created.
  // The automatic run lists and extracts archive, the path start-up found.
  explicit TfrmMain(const QString& archive = QString(), QWidget* parent = nullptr);
  ~TfrmMain() override;

  TVxUnRar* vxUnRar() const { return m_vxUnRar; }
  QTimer* Timer1() const { return m_Timer1; }
  QFileDialog* opndlgMain();
  QActionGroup* acListMain() const { return m_acListMain; }
  const QList<QIcon>& imglstMain() const { return m_imglstMain; }

  // What the window has gathered, for the browser's commands (and tests).
  bool Extracting() const { return m_Extracting; }
  bool ArchiveOpen() const { return m_ArchiveOpen; }
  std::int32_t EntryCount() const { return m_EntryCount; }
  std::int32_t PackedTotal() const { return m_PackedTotal; }
  std::int32_t UnpackedTotal() const { return m_UnpackedTotal; }
  const QStringList& StatusLines() const { return m_StatusLines; }

  // The program's exit status once the automatic run is over: 1 when it
  // failed (an entry not extracted, an error that stopped it, an unreadable
  // "folder.txt", no folder to extract into, a stop the user asked for), else
  // 0. Each such run has said why: in the status dialog, or in the error box
  // of "folder.txt".
  int AutomaticRunExitCode() const;

  // The list's comparison: two rows by their texts in column SortColumn.
  static int lstvwMainCompare(const QString& Text1, const QString& Text2);

 public slots:
  // Starts the automatic run, once.
  void Timer1Timer();
  void Image1Click();

  void acFileOpenExecute();
  void acFileCloseExecute();
  void acCloseExecute();
  void acExtractExecute();
  void acArchiveInfoExecute();
  void acDllInfoExecute();
  void acStatusInfoExecute();
  void acStopExecute();

  void appevtMainIdle();
  void lstvwMainColumnClick(int Column);

 protected:
  bool event(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The parts of the constructor: the hidden browser's list and commands, the
  // archive component and its events, the run and what the window shows of
  // it, and the timer that starts the run.
  void setUpList();
  void setUpActions();
  void createComponent();
  void observeRun(const QString& archive);
  void createTimer();

  void FormCreate();
  void FormActivate();
  void FormClose();

  void vxUnRarFileProcessing(QObject* Sender, const TVxRARHeaderData& hdrData, int status);
  void vxUnRarProgress(QObject* Sender, quint32 FilesProcessed, quint32 FileCount,
                       quint32 SizeProcessed, quint32 SizeCount);
  void vxUnRarError(QObject* Sender, const QString& Message, int MessageID);
  void vxUnRarRarStatus(QObject* Sender, const QString& Message, TRarStatus status);
  void vxUnRarComment(QObject* Sender, const QString& Comment);
  void vxUnRarOverride(QObject* Sender, const QString& FileName, bool& CanOverride);
  void vxUnRarBusy();
  void handlePendingEvents();
  // Moves the bar while extracting: entriesDone entries written, and
  // bytesDone of the next one's entrySize bytes.
  void showProgress(quint32 entriesDone, quint64 bytesDone = 0, quint64 entrySize = 0);

  // The passes the run asks for, also the browser's Open command (after its
  // dialog) and Extract command. Listing resets totals and the list and runs
  // the listing pass over path; extracting runs the component in extract mode
  // into folder, every entry selected.
  void listArchive(const QString& path) override;
  void extractInto(const QString& folder) override;
  // True while a run of the component is in progress: a second one would
  // re-enter it from inside its own event handlers.
  bool running() const { return m_running; }
  void executeComponent();
  QStringList passReport() const override;
  bool passFailed() const override;
  std::int32_t entryCount() const override;
  bool stopRequested() const override;

  std::unique_ptr<Ui::TfrmMain> ui;
  TVxUnRar* m_vxUnRar = nullptr;
  QTimer* m_Timer1 = nullptr;
  TEntryListModel* m_listModel = nullptr;
  QFileDialog* m_opndlgMain = nullptr;
  QActionGroup* m_acListMain = nullptr;
  QList<QIcon> m_imglstMain;
  // The open dialog's initial folder, kept between uses.
  QString m_openFolder;
  bool m_running = false;
  // Since the window last handled pending events during a run.
  QElapsedTimer m_sinceEvents;
  static constexpr qint64 kEventInterval = 10;  // milliseconds
  // The user asked to stop the run (a close request answered yes).
  bool m_stopRequested = false;

  bool m_Extracting = false;
  QString m_CommentText;
  std::int32_t m_PackedTotal = 0;
  std::int32_t m_EntryCount = 0;
  std::int32_t m_UnpackedTotal = 0;
  bool m_ArchiveOpen = false;
  QStringList m_StatusLines;
  // The entry reported last in the current pass, and the failures of that
  // pass, one line each with the entry's (or volume's) name.
  QString m_lastEntry;
  QStringList m_passFailures;
  // The automatic run over the archive start-up found.
  AutomaticRun* m_run = nullptr;
};

// Test seam. While set, the automatic run hands the lines its status dialog leads with
// (each failure with its entry's name, how many entries were not extracted)
// to the observer too, once each, for runs where nobody sees the window.
using ErrorObserver = std::function<void(const QString& line)>;
void SetErrorObserver(ErrorObserver observer);
