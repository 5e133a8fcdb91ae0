// The status dialog: shows the status and error lines gathered during runs.
#pragma once

#include <functional>
#include <memory>

#include <QDialog>

class QPlainTextEdit;
namespace Ui {
class TfrmStatus;
}

// Editing the text changes nothing outside the dialog. Ok and the close box end
// it with 2; Escape does nothing.
class TfrmStatus : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmStatus(QWidget* parent = nullptr);
  ~TfrmStatus() override;

  QPlainTextEdit* mmStatus() const;

  void setVisible(bool visible) override;

 public slots:
  void reject() override;

 private slots:
  void Button1Click();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::unique_ptr<Ui::TfrmStatus> ui;
};

// The status dialog being shown, while it exists.
extern TfrmStatus* frmStatus;

// Shows the dialog modally and returns its modal result; an answerer set here
// gets the dialog instead of a person (see SetOverWritePromptAnswerer).
using StatusDialogAnswerer = std::function<void(TfrmStatus& dialog)>;
void SetStatusDialogAnswerer(StatusDialogAnswerer answerer);
int ShowStatusDialog(TfrmStatus& dialog);
