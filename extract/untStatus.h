// The status dialog: shows the status and error lines gathered during runs.
#pragma once

#include <memory>

#include "fixed_dialog.h"

class QPlainTextEdit;
namespace Ui {
class TfrmStatus;
}

// Editing the text changes nothing outside the dialog. Ok, Escape and the close
// box end it with 2; long lines wrap. It opens at its design size and can be
// made larger, for long lists of failures.
class TfrmStatus : public platform::FixedDialog {
  Q_OBJECT
 public:
  explicit TfrmStatus(QWidget* parent = nullptr);
  ~TfrmStatus() override;

  QPlainTextEdit* mmStatus() const;
  // Puts the lines into mmStatus, one a line, control characters escaped.
  void setLines(const QStringList& lines);

 private slots:
  void Button1Click();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  std::unique_ptr<Ui::TfrmStatus> ui;
};

// The status dialog being shown, while it exists.
extern TfrmStatus* frmStatus;

// Shows the dialog modally and returns its modal result; an answerer for
// platform::Modal::StatusDialog answers it instead of a person.
int ShowStatusDialog(TfrmStatus& dialog);
