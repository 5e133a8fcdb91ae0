#include "untStatus.h"

#include "modal.h"
#include "ui_untStatus.h"

TfrmStatus* frmStatus = nullptr;

TfrmStatus::TfrmStatus(QWidget* parent)
    : FixedDialog(parent), ui(std::make_unique<Ui::TfrmStatus>()) {
  ui->setupUi(this);
}

TfrmStatus::~TfrmStatus() = default;

QPlainTextEdit* TfrmStatus::mmStatus() const {
  return ui->mmStatus;
}

void TfrmStatus::Button1Click() {
  close();
}

int ShowStatusDialog(TfrmStatus& dialog) {
  return platform::execModal(dialog, platform::Modal::StatusDialog);
}
