#include "untConfig.h"

#include <QAbstractTextDocumentLayout>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QLocale>
#include <QMimeData>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextOption>
#include <QUrl>

#include "drop_files.h"
#include "executable.h"
#include "jpeg_image.h"
#include "language_setting.h"
#include "languages.h"
#include "message_box.h"
#include "process.h"
#include "shell.h"
#include "side_files.h"
#include "ui_untConfig.h"

namespace {

// Controls whose picture is stored with the form, besides the language holders
// of the language table; each is the resource ":/untConfig/<name>.jpg", decoded
// by our own JPEG class.
const char* const kPictureControls[] = {
    "Image2", "LanguageImage", "Image15", "Image10", "Image11",
    "Image3", "Image4",        "Image5",  "Image12",
};

constexpr int kPictureLanguageTop = 253;

const QString kSkinFile = QStringLiteral("skin.bmp");
const QString kParkedSkinFile = QStringLiteral("noskin.bmp");

constexpr int kAboutLinePitch = 13;
constexpr int kAboutProductLine = 1;
constexpr int kAboutArtistLine = 5;
constexpr int kAboutMakerLine = 8;

QPixmap formPicture(const QString& control) {
  QFile file(QStringLiteral(":/untConfig/") + control + QStringLiteral(".jpg"));
  if (!file.open(QIODevice::ReadOnly)) return {};
  return QPixmap::fromImage(platform::JpegImage::decode(file.readAll()));
}

void centreLines(QPlainTextEdit* box) {
  QTextOption option = box->document()->defaultTextOption();
  option.setAlignment(Qt::AlignHCenter);
  box->document()->setDefaultTextOption(option);
}

// The instruction box has room for four lines and no scroll bar: a language
// whose longest line is wider than the box is narrowed first, then made
// smaller, rather than cut off.
void fitLinesToWidth(QPlainTextEdit* box, const QFont& base) {
  const qreal room = box->width() - 2 * box->document()->documentMargin() - 4;
  const QStringList lines = box->toPlainText().split(QLatin1Char('\n'));
  const auto fits = [&](const QFont& font) {
    const QFontMetricsF metrics(font);
    for (const QString& line : lines) {
      if (metrics.horizontalAdvance(line) > room) return false;
    }
    return true;
  };
  QFont font = base;
  const qreal size = base.pointSizeF();
  for (const auto& [points, stretch] :
       std::initializer_list<std::pair<qreal, int>>{{size, 100},
                                                    {size, 90},
                                                    {size, 82},
                                                    {size - 0.5, 82},
                                                    {size - 1, 82},
                                                    {size - 1.5, 82}}) {
    font.setPointSizeF(points);
    font.setStretch(stretch);
    if (fits(font)) break;
  }
  box->setFont(font);
}

// The About text's credit lines name web addresses; in a platform font wider
// than the design's the longest would run past the box's edge. A line that
// does not fit is set smaller, just enough to show whole; the others stay.
void fitEachLineToWidth(QTextEdit* box) {
  QTextDocument* document = box->document();
  // A few pixels short of the edge: glyphs may reach past their advance.
  const qreal room = box->contentsRect().width() - 2 * document->documentMargin() - 4;
  const QFont base = document->defaultFont();
  if (base.pointSizeF() <= 0) return;
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    QFont font = base;
    qreal size = base.pointSizeF();
    while (QFontMetricsF(font).horizontalAdvance(block.text()) > room && size > 4) {
      size -= 0.25;
      font.setPointSizeF(size);
    }
    if (size == base.pointSizeF()) continue;
    QTextCursor line(block);
    line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    QTextCharFormat smaller;
    smaller.setFontPointSize(size);
    line.mergeCharFormat(smaller);
  }
}

// "A r t w o r k" as the words it spells out, "Artwork": letters set apart by
// one blank, words by three. Empty for any other text.
QString spacedOutWords(const QString& text) {
  static const QRegularExpression spaced(QStringLiteral(R"(^\S( \S|   \S)+$)"));
  if (!spaced.match(text).hasMatch()) return {};
  QString words;
  for (qsizetype i = 0; i < text.size(); i += 2) words += text[i];
  return words;
}

// The About text's headings are set apart letter by letter. Written with
// blanks between the letters a screen reader would spell them; they hold their
// words instead, drawn with a blank's width after each letter, which looks the
// same.
void spaceHeadingsByLetterSpacing(QTextEdit* box) {
  QTextDocument* document = box->document();
  QTextCharFormat spaced;
  spaced.setFontLetterSpacingType(QFont::AbsoluteSpacing);
  spaced.setFontLetterSpacing(QFontMetricsF(document->defaultFont()).horizontalAdvance(u' '));
  for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
    const QString words = spacedOutWords(block.text());
    if (words.isEmpty()) continue;
    QTextCursor line(block);
    line.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    line.insertText(words, spaced);
  }
}

// A Windows bitmap, read by Qt's built-in reader; *error gets the reader's text.
QImage readBitmap(const QString& path, QString* error = nullptr) {
  QImageReader reader(path, "BMP");
  QImage image = reader.read();
  if (image.isNull() && error) *error = reader.errorString();
  return image;
}

// Through a temporary file and a rename, so that a copy of the program that
// reads "skin.bmp" meanwhile finds the old or the new picture, never half of one.
bool writeBitmap(const QImage& image, const QString& path) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  QImageWriter writer(&file, "BMP");
  return writer.write(image) && file.commit();
}

}  // namespace

// Outside any namespace: the macro declares the resource initialiser in the
// scope it stands in.
static void initResources() {
  Q_INIT_RESOURCE(untConfig);
}

TfrmConfig::TfrmConfig(const QLocale& desktop, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::frmConfig>()) {
  initResources();
  ui->setupUi(this);
  // A fixed single border with system menu and minimise box, kept above other windows.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFixedSize(513, 363);
  loadFormPictures();
  prepareTextBoxes();
  FormCreate(instructions::languageIdOfLocale(desktop));
}

TfrmConfig::~TfrmConfig() {
  FormDestroy();
}

void TfrmConfig::loadFormPictures() {
  QList<const char*> names(std::begin(kPictureControls), std::end(kPictureControls));
  for (const instructions::Language& language : instructions::allLanguages()) {
    if (language.kind == instructions::LanguageKind::Picture) names << language.holder;
  }
  for (const char* name : names) {
    auto* control = findChild<QLabel*>(QLatin1String(name));
    if (control) control->setPixmap(formPicture(QLatin1String(name)));
  }
  QPalette strip = ui->Shape1->palette();
  strip.setColor(QPalette::Window, QColor(0x1f, 0x4e, 0x5f));
  ui->Shape1->setPalette(strip);
}

void TfrmConfig::prepareTextBoxes() {
  for (QAbstractScrollArea* box :
       std::initializer_list<QAbstractScrollArea*>{ui->Memo1, ui->Memo2}) {
    QPalette white = box->palette();
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::Text, Qt::black);
    box->setPalette(white);
  }
  centreLines(ui->Memo2);
  // Four lines of the window's font just fill the 60 pixels of the box.
  ui->Memo2->document()->setDocumentMargin(1);
  layOutAboutText();
  for (QLabel* label : {ui->StaticText1, ui->StaticText2, ui->StaticText5}) {
    QPalette blue = label->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    blue.setColor(QPalette::Window, Qt::white);
    label->setPalette(blue);
    label->setAutoFillBackground(true);
  }
  QFont bold = ui->StaticText2->font();
  bold.setBold(true);
  ui->StaticText2->setFont(bold);
  fitLinesToWidth(ui->Memo2, font());
}

// The About text's twenty lines fill the box only with a tight line pitch; the
// three links then lie exactly over the lines that name their targets.
void TfrmConfig::layOutAboutText() {
  spaceHeadingsByLetterSpacing(ui->Memo1);
  ui->StaticText2->setAccessibleName(spacedOutWords(ui->StaticText2->text()));
  QTextCursor all(ui->Memo1->document());
  all.select(QTextCursor::Document);
  QTextBlockFormat format;
  format.setAlignment(Qt::AlignHCenter);
  format.setLineHeight(kAboutLinePitch, QTextBlockFormat::FixedHeight);
  all.mergeBlockFormat(format);
  fitEachLineToWidth(ui->Memo1);
  const struct {
    QLabel* link;
    int line;
  } overlays[] = {{ui->StaticText2, kAboutProductLine},
                  {ui->StaticText1, kAboutArtistLine},
                  {ui->StaticText5, kAboutMakerLine}};
  QAbstractTextDocumentLayout* layout = ui->Memo1->document()->documentLayout();
  for (const auto& overlay : overlays) {
    const QRectF line =
        layout->blockBoundingRect(ui->Memo1->document()->findBlockByNumber(overlay.line));
    overlay.link->setGeometry(overlay.link->x(), ui->Memo1->y() + qRound(line.top()),
                              overlay.link->width(), kAboutLinePitch + 1);
  }
}

void TfrmConfig::FormCreate(int desktopLanguage) {
  // Dropped files are taken by the window as a whole, whichever control is under
  // the pointer.
  setAcceptDrops(true);
  ui->Image300->setPixmap(ui->Image2->pixmap());
  const QString skin = instructions::sideFile(kSkinFile);
  if (platform::filePresent(skin)) {
    // An unreadable skin leaves the built-in picture, without a message: the
    // remaining set-up must happen all the same.
    const QImage picture = readBitmap(skin);
    if (!picture.isNull()) showSkin(QPixmap::fromImage(picture));
  }
  loadHelpFile(QStringLiteral("CoreHelpEN.dat"));
  m_LanguageId = instructions::kEnglish;
  m_links = instructions::englishLinkTargets();
  readLanguage(desktopLanguage);
  namePictureLinks();
}

void TfrmConfig::FormDestroy() {
  setAcceptDrops(false);
}

void TfrmConfig::readLanguage(int desktopLanguage) {
  const instructions::LanguageReading reading =
      instructions::readInstallerLanguage(desktopLanguage);
  m_LanguageId = reading.languageId;
  if (!reading.failure.isEmpty()) {
    // The language read so far is not applied: the window stays English.
    platform::showErrorBox(reading.failure);
    return;
  }
  applyLanguage();
}

// A picture that opens a page is named, for screen readers, as the button that
// opens the same page is captioned, in the window's language.
void TfrmConfig::namePictureLinks() {
  const std::pair<QLabel*, QPushButton*> links[] = {{ui->Image3, ui->Button4},
                                                    {ui->Image4, ui->Button5},
                                                    {ui->Image5, ui->Button8},
                                                    {ui->Image12, ui->Button10},
                                                    {ui->Image11, ui->Button19}};
  for (const auto& [picture, button] : links)
    picture->setAccessibleName(button->text().remove(QStringLiteral("...")));
}

void TfrmConfig::applyLanguage() {
  const instructions::Language* language = instructions::findLanguage(m_LanguageId);
  if (!language) return;
  switch (language->kind) {
    case instructions::LanguageKind::Text:
      showInstructionLines(language->instructionLines());
      break;
    case instructions::LanguageKind::Picture: {
      ui->Memo2->hide();
      auto* holder = findChild<QLabel*>(QLatin1String(language->holder));
      if (holder) ui->LanguageImage->setPixmap(holder->pixmap());
      ui->LanguageImage->move(ui->LanguageImage->x(), kPictureLanguageTop);
      ui->LanguageImage->show();
      break;
    }
    case instructions::LanguageKind::Arabic:
      ui->Memo2->hide();
      ui->LanguageImage->show();
      break;
  }
  // A screen reader cannot read the picture: it gets the hidden box's
  // instructions, the English ones, instead.
  if (language->kind != instructions::LanguageKind::Text)
    ui->LanguageImage->setAccessibleName(
        ui->Memo2->toPlainText().replace(QLatin1Char('\n'), QLatin1Char(' ')));
  if (instructions::isGerman(m_LanguageId)) applyGerman();
}

void TfrmConfig::showInstructionLines(const QStringList& lines) {
  ui->Memo2->setPlainText(lines.join(QLatin1Char('\n')));
  fitLinesToWidth(ui->Memo2, font());
}

void TfrmConfig::applyGerman() {
  loadHelpFile(QStringLiteral("CoreHelpDE.dat"));
  ui->Button2->setText(QStringLiteral("Lizenz..."));
  ui->Button19->setText(QStringLiteral("Spenden..."));
  ui->PageControl1->setTabText(ui->PageControl1->indexOf(ui->TabSheet1),
                               QStringLiteral("Geschenke"));
  ui->PageControl1->setTabText(ui->PageControl1->indexOf(ui->TabSheet2),
                               QStringLiteral("Dankbarkeit"));
  ui->PageControl1->setTabText(ui->PageControl1->indexOf(ui->TabSheet3),
                               QStringLiteral(u"Wertschätzung"));
  ui->PageControl1->setTabText(ui->PageControl1->indexOf(ui->TabSheet4), QStringLiteral("Hilfe"));
  ui->lblGiftsTitle->setText(QStringLiteral(u"Geschenke für Sie"));
  ui->lblGiftsText->setText(QStringLiteral(
      u"E-Books, Hintergrundbilder und Bildschirmschoner von Brenvale, für alle kostenlos."));
  ui->Button4->setText(QStringLiteral("Gratis E-Books..."));
  ui->Button5->setText(QStringLiteral("Hintergrundbilder..."));
  ui->Button7->setText(QStringLiteral("Bildschirmschoner..."));
  ui->lblDownloadText->setText(QStringLiteral(
      u"Geben Sie Quillmoss an Freunde und Familie weiter: der Download ist kostenlos."));
  ui->Button15->setText(QStringLiteral("Download..."));
  ui->lblApprTitle->setText(QStringLiteral("Mehr von Brenvale"));
  ui->lblApprText->setText(
      QStringLiteral(u"Ein Buch, weitere Projekte und die Bilder hinter Quillmoss."));
  ui->Button8->setText(QStringLiteral("Das Buch..."));
  ui->Button10->setText(QStringLiteral("Weitere Projekte..."));
  ui->Button11->setText(QStringLiteral("Kunstwerke..."));
  ui->lblContactText->setText(
      QStringLiteral(u"Fragen, Ideen oder eine Übersetzung der Anleitung? Schreiben Sie uns."));
  ui->Button16->setText(QStringLiteral("Kontakt..."));
  m_links = instructions::germanLinkTargets();
}

bool TfrmConfig::loadHelpFile(const QString& name) {
  const QString path = instructions::sideFile(name);
  if (!platform::filePresent(path)) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QString content = QString::fromUtf8(file.readAll());
  if (Qt::mightBeRichText(content)) {
    ui->RichEdit1->setHtml(content);
  } else {
    ui->RichEdit1->setPlainText(content);
  }
  return true;
}

void TfrmConfig::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (m_centred) return;
  m_centred = true;
  if (const QScreen* screen = this->screen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TfrmConfig::openLink(const QString& target) {
  // What the desktop does with it, and whether it succeeds, is the desktop's affair.
  platform::shellOpen(QUrl(target));
}

void TfrmConfig::StaticText2Click() {
  openLink(m_links.ProductPageUrl);
}
void TfrmConfig::Button12Click() {
  openLink(m_links.FaqPageUrl);
}
void TfrmConfig::Button17Click() {
  openLink(m_links.UpdatePageUrl);
}
void TfrmConfig::Button19Click() {
  openLink(m_links.DonatePageUrl);
}
void TfrmConfig::Image11Click() {
  openLink(m_links.DonatePageUrl);
}
void TfrmConfig::StaticText5Click() {
  openLink(m_links.MakerHomeUrl);
}
void TfrmConfig::StaticText1Click() {
  openLink(instructions::artistSiteUrl());
}
void TfrmConfig::Button14Click() {
  openLink(instructions::videoPageUrl());
}

void TfrmConfig::Button2Click() {
  platform::shellOpenFile(instructions::sideFile(m_links.LicenseFileName));
}

void TfrmConfig::Image3Click() {
  openLink(m_links.EbooksPageUrl);
}
void TfrmConfig::Button4Click() {
  openLink(m_links.EbooksPageUrl);
}
void TfrmConfig::Image4Click() {
  openLink(m_links.WallpapersPageUrl);
}
void TfrmConfig::Button5Click() {
  openLink(m_links.WallpapersPageUrl);
}
void TfrmConfig::Button7Click() {
  openLink(m_links.ScreensaversPageUrl);
}
void TfrmConfig::Button15Click() {
  openLink(m_links.DownloadPageUrl);
}
void TfrmConfig::Image5Click() {
  openLink(m_links.BookPageUrl);
}
void TfrmConfig::Button8Click() {
  openLink(m_links.BookPageUrl);
}
void TfrmConfig::Image12Click() {
  openLink(m_links.ProjectsPageUrl);
}
void TfrmConfig::Button10Click() {
  openLink(m_links.ProjectsPageUrl);
}
void TfrmConfig::Button11Click() {
  openLink(instructions::artworkGalleryUrl());
}
void TfrmConfig::Button16Click() {
  openLink(m_links.ContactPageUrl);
}

void TfrmConfig::showSkin(const QPixmap& skin) {
  ui->Image2->setPixmap(skin);
  ui->Image15->hide();
}

void TfrmConfig::showBuiltInPicture() {
  ui->Image2->setPixmap(ui->Image300->pixmap());
  ui->Image15->show();
}

void TfrmConfig::dragEnterEvent(QDragEnterEvent* event) {
  if (!instructions::droppedLocalPaths(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void TfrmConfig::dragMoveEvent(QDragMoveEvent* event) {
  if (!instructions::droppedLocalPaths(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void TfrmConfig::dropEvent(QDropEvent* event) {
  QWidget::dropEvent(event);
  const QStringList paths = instructions::droppedLocalPaths(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  WMDropFiles(paths);
}

void TfrmConfig::WMDropFiles(const QStringList& paths) {
  hide();
  // Deliver the hide to the display now: while a copy runs, this window handles
  // no events, and a request still queued would leave it on screen meanwhile.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  for (const QString& path : paths) {
    switch (instructions::classifyDroppedFile(path)) {
      case instructions::DroppedKind::Archive:
        // A copy that cannot be started is passed over; the next file still runs.
        if (platform::filePresent(path)) RunAndWait(instructions::programPath(), path);
        break;
      case instructions::DroppedKind::JpegPicture:
      case instructions::DroppedKind::BitmapPicture:
        if (platform::filePresent(path)) LoadSkinPicture(path);
        break;
      case instructions::DroppedKind::Ignored:
        break;
    }
  }
  show();
  raise();
  activateWindow();
}

bool TfrmConfig::RunAndWait(const QString& program, const QString& archive) {
  // The copy sees exactly one argument, the archive path, and starts in its own
  // folder. This window handles no events until it has ended.
  const QString folder = program.left(program.lastIndexOf(QLatin1Char('/')) + 1);
  return platform::runAndWait(program, {archive}, folder).started;
}

void TfrmConfig::LoadSkinPicture(const QString& path) {
  if (!platform::filePresent(path)) return;
  // The last letter decides how the file is read, whatever it really holds.
  const QChar last = path.isEmpty() ? QChar() : path.back().toLower();
  QImage dropped;
  if (last == QLatin1Char('g')) {
    dropped = platform::JpegImage::load(path);
  } else if (last == QLatin1Char('p')) {
    dropped = readBitmap(path);
  }
  if (dropped.isNull()) return;
  ui->Image100->setPixmap(QPixmap::fromImage(dropped));
  const QImage bitmap = dropped.convertToFormat(QImage::Format_RGB32);
  ui->Image200->setPixmap(QPixmap::fromImage(bitmap));
  // Each step that fails ends the load silently; what the earlier steps did stays.
  const QString skin = instructions::sideFile(kSkinFile);
  if (!writeBitmap(bitmap, skin)) return;
  const QImage stored = readBitmap(skin);
  if (stored.isNull()) return;
  showSkin(QPixmap::fromImage(stored));
}

void TfrmConfig::Image2DblClick() {
  const QString skin = instructions::sideFile(kSkinFile);
  const QString parked = instructions::sideFile(kParkedSkinFile);
  // Each step tests again which files are present: a refused delete or rename
  // leaves the files as they were, and the later steps go by what is there.
  if (platform::filePresent(skin) && platform::filePresent(parked)) QFile::remove(parked);
  if (ui->Image15->isVisibleTo(this)) {
    if (platform::filePresent(parked)) QFile::rename(parked, skin);
    if (!platform::filePresent(skin)) return;
    QString error;
    const QImage picture = readBitmap(skin, &error);
    if (picture.isNull()) {
      platform::showErrorBox(error, this);
      return;
    }
    showSkin(QPixmap::fromImage(picture));
  } else {
    if (platform::filePresent(skin)) QFile::rename(skin, parked);
    showBuiltInPicture();
  }
}
