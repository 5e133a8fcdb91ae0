#include "untStatus.h"

#include <QKeyEvent>
#include <QScreen>

#include "ui_untStatus.h"

TfrmStatus* frmStatus = nullptr;

TfrmStatus::TfrmStatus(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TfrmStatus>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
}

TfrmStatus::~TfrmStatus() = default;

QPlainTextEdit* TfrmStatus::mmStatus() const {
  return ui->mmStatus;
}

void TfrmStatus::setVisible(bool visible) {
  if (visible && !isVisible()) {
    const QRect screenArea = (screen() ? screen() : QGuiApplication::primaryScreen())->geometry();
    move(screenArea.center() - QPoint(width() / 2, height() / 2));
  }
  QDialog::setVisible(visible);
}

void TfrmStatus::Button1Click() {
  close();
}

void TfrmStatus::reject() {
  done(2);
}

void TfrmStatus::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
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
  if (!statusAnswerer()) return dialog.exec();
  dialog.setResult(0);
  dialog.show();
  statusAnswerer()(dialog);
  if (dialog.isVisible()) dialog.reject();
  return dialog.result();
}
