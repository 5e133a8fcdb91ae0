#include "untOverWritePrompt.h"

#include <algorithm>

#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include "modal.h"
#include "ui_untOverWritePrompt.h"

TfrmOverWrite* frmOverWrite = nullptr;

TfrmOverWrite::TfrmOverWrite(QWidget* parent)
    : FixedDialog(parent), ui(std::make_unique<Ui::TfrmOverWrite>()) {
  ui->setupUi(this);
  ui->Label3->adjustSize();
  // The fixed labels are 13 pixels high, the height of an 8-point line; a
  // taller platform font would be centred on that box and rise above the name
  // beside it. Keep their tops and give them a full line.
  for (QLabel* label : {ui->Label1, ui->Label2})
    label->resize(label->width(), std::max(label->height(), label->fontMetrics().height()));
  // The arrow's 16 pixels hold "-->" only in the 8-point design font; a wider
  // font would cut it. It gets its text's width and a blank's room after it,
  // and the name starts right of it.
  const QFontMetrics arrowMetrics = ui->Label2->fontMetrics();
  const int arrowWidth =
      arrowMetrics.horizontalAdvance(ui->Label2->text()) + arrowMetrics.horizontalAdvance(u' ');
  ui->Label2->resize(std::max(ui->Label2->width(), arrowWidth), ui->Label2->height());
  ui->lblFileName->move(std::max(ui->lblFileName->x(), ui->Label2->geometry().right() + 1),
                        ui->lblFileName->y());
  FitButtonsToText();
  ui->btnYes->setFocus();
}

namespace {

// The width a push button needs to show its caption whole (sizeHint() is no
// measure here: styles raise it to a minimum button width).
int CaptionWidth(const QPushButton& button) {
  const QStyle* style = button.style();
  return button.fontMetrics().horizontalAdvance(button.text()) +
         2 * style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, &button) +
         2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, &button);
}

}  // namespace

void TfrmOverWrite::FitButtonsToText() {
  // The design widths suit an 8-point dialog font; with the platform's usual
  // font "Overwrite all files!" would lose its end. A button grows to its
  // caption, and the row keeps its right edge and the gaps between buttons.
  QPushButton* const row[] = {ui->btnYes, ui->btnNo, ui->btnAlways, ui->btnNever};
  constexpr int kCount = 4;
  int gaps[kCount] = {};
  for (int i = 0; i + 1 < kCount; ++i)
    gaps[i] = row[i + 1]->geometry().left() - row[i]->geometry().right() - 1;
  int right = row[kCount - 1]->geometry().right();
  for (int i = kCount - 1; i >= 0; --i) {
    QRect area = row[i]->geometry();
    area.setWidth(std::max(area.width(), CaptionWidth(*row[i])));
    area.moveRight(right);
    row[i]->setGeometry(area);
    if (i > 0) right = area.left() - gaps[i - 1] - 1;
  }
}

TfrmOverWrite::~TfrmOverWrite() = default;

QLabel* TfrmOverWrite::lblFileName() const {
  return ui->lblFileName;
}

void TfrmOverWrite::fitBeforeShown() {
  FormShow();
}

QString TfrmOverWrite::fileName() const {
  return m_shown ? m_fileName : ui->lblFileName->text();
}

void TfrmOverWrite::FormShow() {
  // Sizes the dialog that frmOverWrite names, which the caller made this one.
  TfrmOverWrite* dialog = frmOverWrite ? frmOverWrite : this;
  QLabel* name = ui->lblFileName;
  m_fileName = fileName();
  m_shown = true;
  const QFontMetrics metrics = name->fontMetrics();
  // The name's width and 50 pixels, as designed for a name that starts at 25;
  // one that starts further right (a wider arrow) moves the edge with it.
  const int wanted = metrics.horizontalAdvance(m_fileName) + 50 + std::max(0, name->x() - 25);
  if (dialog->frameGeometry().width() < wanted) {
    // Grows to the name, but no wider than the screen less 10 pixels, frame
    // included; the buttons keep their place at the right edge.
    const QScreen* shown = dialog->screen() ? dialog->screen() : QGuiApplication::primaryScreen();
    const int frame = dialog->frameGeometry().width() - dialog->width();
    const int widest = shown->availableGeometry().width() - 10 - frame;

    const int width = std::max(dialog->width(), std::min(wanted, widest));
    for (QPushButton* button : {ui->btnYes, ui->btnNo, ui->btnAlways, ui->btnNever})
      button->move(button->x() + width - dialog->width(), button->y());
    dialog->setFixedWidth(width);
  }
  // A name wider than that loses its middle: its start says where, its end what.
  const int room = dialog->width() - name->x() - 25;
  const QString shownName = metrics.horizontalAdvance(m_fileName) <= room
                                ? m_fileName
                                : metrics.elidedText(m_fileName, Qt::ElideMiddle, room);
  name->setText(shownName);
  name->setToolTip(shownName == m_fileName ? QString() : m_fileName);
  name->adjustSize();
}

void TfrmOverWrite::ButtonClick() {
  if (const QObject* button = sender()) done(button->property("modalResult").toInt());
}

int ShowOverWritePrompt(TfrmOverWrite& prompt) {
  return platform::execModal(prompt, platform::Modal::OverwritePrompt);
}
