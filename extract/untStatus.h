// The status dialog: shows the status and error lines gathered during runs.
#pragma once

#include <memory>

#include "fixed_dialog.h"

class QPlainTextEdit;
namespace Ui {
class TfrmStatus;
}

// Editing the text changes nothing outside the dialog. Ok and the close box end
// it with 2.
class TfrmStatus : public platform::FixedDialog {
  Q_OBJECT
 public:
  explicit TfrmStatus(QWidget* parent = nullptr);
  ~TfrmStatus() override;

  QPlainTextEdit* mmStatus() const;

 private slots:
  void Button1Click();

 private:
  std::unique_ptr<Ui::TfrmStatus> ui;
};

// The status dialog being shown, while it exists.
extern TfrmStatus* frmStatus;

// Shows the dialog modally and returns its modal result; an answerer for
// platform::Modal::StatusDialog answers it instead of a person.
int ShowStatusDialog(TfrmStatus& dialog);
