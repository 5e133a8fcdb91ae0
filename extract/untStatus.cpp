#include "untStatus.h"

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

namespace {
StatusDialogAnswerer& statusAnswerer() {
  static StatusDialogAnswerer instance;
  return instance;
}
}  // namespace

void SetStatusDialogAnswerer(StatusDialogAnswerer answerer) {
  statusAnswerer() = std::move(answerer);
}

int ShowStatusDialog(TfrmStatus& dialog) {
  return platform::execOrAnswer(dialog, statusAnswerer());
}
