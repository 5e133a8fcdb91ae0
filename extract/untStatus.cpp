#include "untStatus.h"

#include <QKeyEvent>
#include <QStringList>

#include "modal.h"
#include "path_bytes.h"
#include "ui_untStatus.h"

TfrmStatus* frmStatus = nullptr;

TfrmStatus::TfrmStatus(QWidget* parent)
    : FixedDialog(parent), ui(std::make_unique<Ui::TfrmStatus>()) {
  ui->setupUi(this);
  setSizeGripEnabled(true);
}

TfrmStatus::~TfrmStatus() = default;

QPlainTextEdit* TfrmStatus::mmStatus() const {
  return ui->mmStatus;
}

void TfrmStatus::setLines(const QStringList& lines) {
  QStringList shown;
  shown.reserve(lines.size());
  for (const QString& line : lines) shown.append(platform::escapeControls(line));
  ui->mmStatus->setPlainText(shown.join(QLatin1Char('\n')));
}

// Nothing is asked here, so Escape closes the dialog as its close box does.
void TfrmStatus::keyPressEvent(QKeyEvent* event) {
  QDialog::keyPressEvent(event);
}

// Ok stays where the design has it at the opening size, and in the middle
// of the panel as the dialog grows.
void TfrmStatus::resizeEvent(QResizeEvent* event) {
  FixedDialog::resizeEvent(event);
  const int designLeft = 102;
  const int designPanelWidth = 273;
  ui->Button1->move(designLeft + (width() - designPanelWidth) / 2, ui->Button1->y());
}

void TfrmStatus::Button1Click() {
  close();
}

int ShowStatusDialog(TfrmStatus& dialog) {
  return platform::execModal(dialog, platform::Modal::StatusDialog);
}
