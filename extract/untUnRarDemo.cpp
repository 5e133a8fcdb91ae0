#include "untUnRarDemo.h"

#include <QAbstractEventDispatcher>
#include <QActionGroup>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include "entry_list_model.h"
#include "executable.h"
#include "fixed_dialog.h"
#include "jpeg_image.h"
#include "main_logic.h"
#include "message_box.h"
#include "modal.h"
#include "path_bytes.h"
#include "shell.h"
#include "ui_untUnRarDemo.h"
#include "untOverWritePrompt.h"
#include "untStatus.h"
#include "untVxFileLib.h"

int SortColumn = 0;

// Resources of a static library are only linked in when something refers to them.
static void initPictures() {
  static const bool registered = [] {
    Q_INIT_RESOURCE(extract_pictures);
    return true;
  }();
  Q_UNUSED(registered);
}

namespace {

const QString kProductPage = QStringLiteral("https://www.brenvale.example/software/quillmoss.php");
const QString kStopQuestion = QStringLiteral(
    "Stop extracting? The file being written is removed; the files already "
    "extracted stay.");

// A path or a name as the window shows it: bytes that are no text as U+FFFD,
// control characters escaped.
QString shownName(const QString& path) {
  return platform::escapeControls(platform::displayPath(path));
}
ErrorObserver& errorObserver() {
  static ErrorObserver instance;
  return instance;
}

// Adds without overflow checks, as 32-bit sums wrap.
std::int32_t wrappingAdd(std::int32_t sum, std::uint32_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(sum) + value);
}

QString listTime(const QDateTime& time) {
  return mainlogic::listTimeText(time, QLocale::system());
}

QString star(bool set) {
  return set ? QStringLiteral("*") : QString();
}

QString attributeText(const TVxRARHeaderData& h) {
  mainlogic::Attributes attributes;
  attributes.archive = h.AttrArchive;
  attributes.compressed = h.AttrCompressed;
  attributes.directory = h.AttrDirectory;
  attributes.hidden = h.AttrHidden;
  attributes.normal = h.AttrNormal;
  attributes.offline = h.AttrOffline;
  attributes.readOnly = h.AttrReadOnly;
  attributes.system = h.AttrSystem;
  attributes.temporary = h.AttrTemporary;
  return mainlogic::attributeLetters(attributes);
}

// The list's columns in their order: the row caption, then the 15 sub-items.
using Entry = TVxRARHeaderData;
const std::vector<TEntryColumn> kListColumns = {
    {"FileName", 100,
     [](const Entry& h) { return platform::escapeControls(mainlogic::fileNamePart(h.FileName)); }},
    {"Directory", 150,
     [](const Entry& h) { return platform::escapeControls(mainlogic::folderPart(h.FileName)); }},
    {"unpacked", 60, [](const Entry& h) { return QString::number(h.UnpSize); }},
    {"packed", 60, [](const Entry& h) { return QString::number(h.PackSize); }},
    {"Pass", 40, [](const Entry& h) { return star(h.Encrypted); }},
    {"Dir", 30, [](const Entry& h) { return star(h.IsDirectory); }},
    {"Prev", 35, [](const Entry& h) { return star(h.SplitBefore); }},
    {"Next", 35, [](const Entry& h) { return star(h.SplitAfter); }},
    {"HostOS", 50, [](const Entry& h) { return h.HostOS; }},
    {"CRC", 55, [](const Entry& h) { return h.CRC; }},
    {"DicSize", 40, [](const Entry& h) { return QString::number(h.DictionarySize); }},
    {"Time", 50, [](const Entry& h) { return listTime(h.FileTime); }},
    {"Major", 40, [](const Entry& h) { return QString::number(h.UnpVerMajor); }},
    {"Minor", 40, [](const Entry& h) { return QString::number(h.UnpVerMinor); }},
    {"Method", 50, [](const Entry& h) { return h.Method; }},
    {"FileAttr", 50, &attributeText},
};

// Sets a flag for the length of a scope, also when an exception leaves it.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : m_flag(flag) { m_flag = true; }
  ~FlagScope() { m_flag = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& m_flag;
};

}  // namespace

void SetErrorObserver(ErrorObserver observer) {
  errorObserver() = std::move(observer);
}

TfrmMain::TfrmMain(const QString& archive, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::TfrmMain>()) {
  initPictures();
  ui->setupUi(this);
  // No title-bar buttons: the run cannot be cut short by closing the window.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  ui->mnuMain->setVisible(false);
  ui->tlbrMain->setVisible(false);
  ui->stbrMain->setVisible(false);
  ui->lstvwMain->setVisible(false);

  QFile banner(QStringLiteral(":/extract/banner.jpg"));
  if (banner.open(QIODevice::ReadOnly))
    ui->Image1->setPixmap(QPixmap::fromImage(platform::JpegImage::decode(banner.readAll())));

  setUpList();
  setUpActions();
  // Built before FormCreate, as every component of the window is; its
  // constructor may throw, and then nothing below has happened.
  createComponent();
  observeRun(archive);
  createTimer();

  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TfrmMain::appevtMainIdle);

  FormCreate();
  appevtMainIdle();
  m_Timer1->start();
}

void TfrmMain::setUpList() {
  m_listModel = new TEntryListModel(kListColumns, this);
  ui->lstvwMain->setModel(m_listModel);
  ui->lstvwMain->header()->setMinimumSectionSize(20);
  for (size_t column = 0; column < kListColumns.size(); ++column)
    ui->lstvwMain->header()->resizeSection(static_cast<int>(column), kListColumns[column].width);
  ui->lstvwMain->header()->setSectionsClickable(true);
  ui->lstvwMain->header()->setSortIndicatorShown(false);
  connect(ui->lstvwMain->header(), &QHeaderView::sectionClicked, this,
          &TfrmMain::lstvwMainColumnClick);
}

void TfrmMain::setUpActions() {
  // The menu and toolbar are hidden, so the actions live on the window itself for
  // their shortcuts to work.
  const QStyle* look = style();
  m_imglstMain = {look->standardIcon(QStyle::SP_DialogOpenButton),
                  look->standardIcon(QStyle::SP_MessageBoxInformation),
                  look->standardIcon(QStyle::SP_ArrowDown),
                  look->standardIcon(QStyle::SP_DialogCloseButton),
                  look->standardIcon(QStyle::SP_FileDialogDetailedView),
                  look->standardIcon(QStyle::SP_BrowserStop)};
  m_acListMain = new QActionGroup(this);
  m_acListMain->setObjectName(QStringLiteral("acListMain"));
  m_acListMain->setExclusionPolicy(QActionGroup::ExclusionPolicy::None);
  const std::pair<QAction*, int> actions[] = {
      {ui->acFileOpen, 0},    {ui->acFileClose, 3}, {ui->acClose, -1},     {ui->acExtract, 2},
      {ui->acArchiveInfo, 1}, {ui->acDllInfo, -1},  {ui->acStatusInfo, 4}, {ui->acStop, 5}};
  for (const auto& [action, icon] : actions) {
    if (icon >= 0) action->setIcon(m_imglstMain.at(icon));
    m_acListMain->addAction(action);
    addAction(action);
  }
}

void TfrmMain::createComponent() {
  m_vxUnRar = new TVxUnRar(this);
  m_vxUnRar->setObjectName(QStringLiteral("vxUnRar"));
  m_vxUnRar->SetCanProgress(true);
  m_vxUnRar->SetMode(VxRAR_EXTRACT);
  m_vxUnRar->SetOverrideEvent(OR_EVENT);
  m_vxUnRar->SetPromptForPass(true);
  m_vxUnRar->SetPromptForVolumn(true);
  m_vxUnRar->SetStopProcessing(false);
  m_vxUnRar->OnComment = [this](QObject* s, QString c) { vxUnRarComment(s, c); };
  m_vxUnRar->OnError = [this](QObject* s, QString m, int id) { vxUnRarError(s, m, id); };
  m_vxUnRar->OnFileProcessing = [this](QObject* s, TVxRARHeaderData h, int st) {
    vxUnRarFileProcessing(s, h, st);
  };
  m_vxUnRar->OnOverride = [this](QObject* s, QString f, bool& c) { vxUnRarOverride(s, f, c); };
  m_vxUnRar->OnProgress = [this](QObject* s, quint32 fp, quint32 fc, quint32 sp, quint32 sc) {
    vxUnRarProgress(s, fp, fc, sp, sc);
  };
  m_vxUnRar->OnRarStatus = [this](QObject* s, QString m, TRarStatus st) {
    vxUnRarRarStatus(s, m, st);
  };
  m_vxUnRar->OnBusy = [this](QObject*) { vxUnRarBusy(); };
}

void TfrmMain::createTimer() {
  m_Timer1 = new QTimer(this);
  m_Timer1->setObjectName(QStringLiteral("Timer1"));
  m_Timer1->setInterval(1000);
  // A coarse timer may fire up to 5% early; the run starts a full second after creation.
  m_Timer1->setTimerType(Qt::PreciseTimer);
  connect(m_Timer1, &QTimer::timeout, this, &TfrmMain::Timer1Timer);
}

void TfrmMain::observeRun(const QString& archive) {
  m_run = new AutomaticRun(archive, *this, *m_vxUnRar, this);
  connect(m_run, &AutomaticRun::captionChanged, this,
          [this](const QString& caption) { setWindowTitle(shownName(caption)); });
  connect(m_run, &AutomaticRun::folderFileUnreadable, this,
          [this](const QString& error) { platform::showErrorBox(error, this); });
  connect(m_run, &AutomaticRun::failed, this, [this](const QStringList& report) {
    if (errorObserver())
      for (const QString& line : report) errorObserver()(line);
    acStatusInfoExecute();
  });
  connect(m_run, &AutomaticRun::finished, this, [this] { close(); });
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate() {
  m_ArchiveOpen = false;
  m_Extracting = false;
  m_StatusLines.clear();
  // The skin the instructions window made replaces the banner; a file that is no
  // readable bitmap leaves the banner as it is.
  const QString skin = platform::besideExecutable(QStringLiteral("skin.bmp"));
  if (const QImage picture = mainlogic::readSkinPicture(skin); !picture.isNull())
    ui->Image1->setPixmap(QPixmap::fromImage(picture));
  setFixedSize(484, ui->prgbrUnRar->minimumHeight() + ui->Panel1->minimumHeight());
}

void TfrmMain::FormActivate() {
  // Only the picture and the progress bar show; the browser's controls stay hidden.
  setFixedSize(484, ui->prgbrUnRar->minimumHeight() + ui->Panel1->minimumHeight());
}

void TfrmMain::FormClose() {
  m_StatusLines.clear();
}

bool TfrmMain::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QMainWindow::event(e);
}

void TfrmMain::closeEvent(QCloseEvent* e) {
  // The desktop can still ask to close a window without a close box. In the
  // middle of a run that is a question: stopping ends the run at once, the
  // library removes the entry it was writing, and the run counts as failed.
  if (running()) {
    e->ignore();
    if (!m_stopRequested &&
        platform::questionBox(this, QStringLiteral("Quillmoss"), kStopQuestion) == 6) {
      m_stopRequested = true;
      m_vxUnRar->SetStopProcessing(true);
    }
    return;
  }
  FormClose();
  e->accept();
}

void TfrmMain::showEvent(QShowEvent* e) {
  if (!e->spontaneous()) platform::centreOnScreen(*this);
  QMainWindow::showEvent(e);
}

QFileDialog* TfrmMain::opndlgMain() {
  if (!m_opndlgMain) {
    m_opndlgMain = new QFileDialog(this, QStringLiteral("Wählen Sie ein Rar-Archiv aus ..."));
    m_opndlgMain->setObjectName(QStringLiteral("opndlgMain"));
    m_opndlgMain->setFileMode(QFileDialog::ExistingFile);
    m_opndlgMain->setAcceptMode(QFileDialog::AcceptOpen);
    m_opndlgMain->setNameFilters(
        {QStringLiteral("Rar-Archiv (*.rar)"), QStringLiteral("Alle Dateien (*)")});
    m_opndlgMain->setSizeGripEnabled(true);
  }
  return m_opndlgMain;
}

void TfrmMain::executeComponent() {
  m_passFailures.clear();
  m_lastEntry.clear();
  m_sinceEvents.invalidate();
  {
    FlagScope running(m_running);
    m_vxUnRar->Execute();
  }
  m_listModel->flush();
}

void TfrmMain::Timer1Timer() {
  m_Timer1->stop();
  if (running()) return;
  m_run->run();
}

int TfrmMain::AutomaticRunExitCode() const {
  return m_run->exitCode();
}

bool TfrmMain::passFailed() const {
  return !m_passFailures.isEmpty();
}

std::int32_t TfrmMain::entryCount() const {
  return m_EntryCount;
}

bool TfrmMain::stopRequested() const {
  return m_stopRequested;
}

QStringList TfrmMain::passReport() const {
  QStringList report = m_passFailures;
  if (!m_vxUnRar->EntriesWithoutPassword().isEmpty())
    report << mainlogic::withoutPasswordText(m_vxUnRar->EntriesWithoutPassword());
  return report;
}

void TfrmMain::listArchive(const QString& path) {
  // A new run over an archive: its questions are put afresh.
  m_vxUnRar->ForgetAnswers();
  m_openFolder = mainlogic::folderPart(path);
  m_PackedTotal = 0;
  m_EntryCount = 0;
  m_UnpackedTotal = 0;
  m_CommentText.clear();
  m_listModel->clear();
  ui->stbrMain->showMessage(QStringLiteral("  ") + shownName(path));
  m_ArchiveOpen = true;
  ui->prgbrUnRar->setValue(0);
  m_vxUnRar->SetFileName(path);
  m_vxUnRar->SetMode(VxRAR_LIST);
  m_vxUnRar->SetCanProgress(false);
  m_vxUnRar->SetOverrideEvent(OR_EVENT);
  m_vxUnRar->SetStopProcessing(false);
  executeComponent();
}

void TfrmMain::extractInto(const QString& folder) {
  m_vxUnRar->FileList().clear();
  FlagScope extracting(m_Extracting);
  m_vxUnRar->SetOverrideEvent(OR_EVENT);
  m_vxUnRar->SetDirectory(folder);
  m_vxUnRar->SetMode(VxRAR_EXTRACT);
  executeComponent();
  // The last entry is written: its share of the bar fills.
  if (!m_stopRequested) showProgress(m_vxUnRar->FilesProcessed());
}

void TfrmMain::vxUnRarFileProcessing(QObject*, const TVxRARHeaderData& hdrData, int) {
  m_lastEntry = hdrData.FileName;
  if (!m_Extracting) {
    m_EntryCount = wrappingAdd(m_EntryCount, 1);
    m_UnpackedTotal = wrappingAdd(m_UnpackedTotal, hdrData.UnpSize);
    m_PackedTotal = wrappingAdd(m_PackedTotal, hdrData.PackSize);
    // The component processes only listed entries, so the listing pass tests
    // the first three entries and skips the rest.
    if (m_vxUnRar->FileList().size() < 3)
      m_vxUnRar->FileList().append(m_vxUnRar->Directory() + QLatin1Char('/') + hdrData.FileName);
    m_listModel->append(hdrData);
  }
  handlePendingEvents();
}

// Small entries come by the thousand a second. Handling what is pending after
// each would cost more than many an entry; every kEventInterval is as
// responsive to the eye and hand. The first entry of a run always does.
void TfrmMain::handlePendingEvents() {
  if (m_sinceEvents.isValid() && m_sinceEvents.elapsed() < kEventInterval) return;
  m_listModel->flush();
  QCoreApplication::processEvents();
  m_sinceEvents.start();
}

// The entry that begins is the FilesProcessed-th: the ones before it are
// written, and the bar fills its share while the library writes it.
void TfrmMain::vxUnRarProgress(QObject*, quint32 FilesProcessed, quint32, quint32, quint32) {
  if (FilesProcessed > 0) showProgress(FilesProcessed - 1);
}

void TfrmMain::showProgress(quint32 entriesDone, quint64 bytesDone, quint64 entrySize) {
  if (!m_Extracting) return;
  if (const std::optional<int> position =
          mainlogic::progressPosition(entriesDone, m_EntryCount, bytesDone, entrySize))
    ui->prgbrUnRar->setValue(*position);
}

void TfrmMain::vxUnRarError(QObject*, const QString& Message, int MessageID) {
  m_StatusLines.append(mainlogic::errorLine(Message));
  const QString volume = MessageID == 15 ? m_vxUnRar->MissingVolume() : QString();
  m_passFailures << mainlogic::failureLine(Message, m_lastEntry,
                                           platform::displayPath(mainlogic::fileNamePart(volume)));
}

void TfrmMain::vxUnRarRarStatus(QObject*, const QString& Message, TRarStatus status) {
  m_StatusLines.append(mainlogic::statusLine(Message, static_cast<int>(status)));
}

void TfrmMain::vxUnRarComment(QObject*, const QString& Comment) {
  m_CommentText = Comment;
}

void TfrmMain::vxUnRarOverride(QObject*, const QString& FileName, bool& CanOverride) {
  std::unique_ptr<TfrmOverWrite> prompt(new TfrmOverWrite(this));
  frmOverWrite = prompt.get();
  struct Forget {
    ~Forget() { frmOverWrite = nullptr; }
  } forget;
  prompt->lblFileName()->setText(shownName(FileName));
  const mainlogic::OverwriteAnswer answer =
      mainlogic::overwriteAnswer(ShowOverWritePrompt(*prompt), CanOverride);
  CanOverride = answer.canOverride;
  if (answer.change == mainlogic::OverrideChange::AlwaysOverwrite)
    m_vxUnRar->SetOverrideEvent(OR_ALWAYS);
  else if (answer.change == mainlogic::OverrideChange::NeverOverwrite)
    m_vxUnRar->SetOverrideEvent(OR_NEVER);
}

// Raised during one long entry: the bar moves through the entry's share, and
// the window handles what is pending as it does between entries: a repaint,
// the desktop's pings, and a close request, which asks whether to stop. The
// commands that would start a run refuse while one is in progress.
void TfrmMain::vxUnRarBusy() {
  if (m_vxUnRar->FilesProcessed() > 0)
    showProgress(m_vxUnRar->FilesProcessed() - 1, m_vxUnRar->EntryBytesDone(),
                 m_vxUnRar->EntrySize());
  handlePendingEvents();
}

void TfrmMain::Image1Click() {
  platform::shellOpen(QUrl(kProductPage));
}

void TfrmMain::acFileOpenExecute() {
  if (running()) return;
  QFileDialog* dialog = opndlgMain();
  dialog->setDirectory(m_openFolder);
  platform::Question question;
  question.kind = platform::Modal::OpenChooser;
  question.owner = this;
  question.dialog = dialog;
  QString chosen;
  if (platform::answerInstead(question)) {
    chosen = question.chosen;
  } else if (dialog->exec() == QDialog::Accepted && !dialog->selectedFiles().isEmpty()) {
    chosen = dialog->selectedFiles().constFirst();
  }
  if (chosen.isEmpty()) return;
  listArchive(chosen);
}

void TfrmMain::acFileCloseExecute() {
  m_vxUnRar->SetFileName(QString());
  ui->stbrMain->clearMessage();
  m_listModel->clear();
  ui->prgbrUnRar->setValue(0);
  m_ArchiveOpen = false;
}

void TfrmMain::acCloseExecute() {
  close();
}

void TfrmMain::acExtractExecute() {
  if (running()) return;
  QString folder;
  SelectFolder(this, QStringLiteral("Extract to..."), m_openFolder, folder);
  if (folder.isEmpty()) return;
  extractInto(folder);
}

void TfrmMain::acArchiveInfoExecute() {
  platform::messageBox(
      this, QStringLiteral("Archiv-Info"),
      mainlogic::archiveInfoText(m_EntryCount, m_PackedTotal, m_UnpackedTotal, m_CommentText),
      platform::BoxIcon::Information);
}

void TfrmMain::acDllInfoExecute() {
  platform::messageBox(this, QStringLiteral("UnRar-Dll-Info"),
                       QStringLiteral("Version: ") + QString::number(m_vxUnRar->DllVersion()),
                       platform::BoxIcon::Information);
}

void TfrmMain::acStatusInfoExecute() {
  std::unique_ptr<TfrmStatus> dialog(new TfrmStatus(this));
  frmStatus = dialog.get();
  struct Forget {
    ~Forget() { frmStatus = nullptr; }
  } forget;
  dialog->setLines(mainlogic::statusDialogLines(m_run->report(), m_StatusLines));
  ShowStatusDialog(*dialog);
}

void TfrmMain::acStopExecute() {
  m_vxUnRar->SetStopProcessing(true);
}

void TfrmMain::appevtMainIdle() {
  for (QAction* action :
       {ui->acFileClose, ui->acArchiveInfo, ui->acExtract, ui->acStatusInfo, ui->acStop})
    action->setEnabled(m_ArchiveOpen);
}

void TfrmMain::lstvwMainColumnClick(int Column) {
  SortColumn = Column;
  m_listModel->sortByText(SortColumn, &TfrmMain::lstvwMainCompare);
}

int TfrmMain::lstvwMainCompare(const QString& Text1, const QString& Text2) {
  return mainlogic::compareListText(Text1, Text2);
}
