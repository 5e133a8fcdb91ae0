// The overwrite prompt: asks whether an existing file may be replaced.
#pragma once

#include <functional>
#include <memory>

#include <QDialog>

class QLabel;
namespace Ui {
class TfrmOverWrite;
}

// Modal results: 6 yes, 7 no, 10 yes to all, 9 no to all; the close box gives 2.
// No button is the default and Escape does nothing, so a stray key press never
// answers for the user.
class TfrmOverWrite : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmOverWrite(QWidget* parent = nullptr);
  ~TfrmOverWrite() override;

  QLabel* lblFileName() const;

  void setVisible(bool visible) override;

 public slots:
  void reject() override;

 private slots:
  void ButtonClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FormShow();
  void FitButtonsToText();

  std::unique_ptr<Ui::TfrmOverWrite> ui;
};

// The prompt being shown; its owner sets it before showing and clears it after.
extern TfrmOverWrite* frmOverWrite;

// Shows the prompt modally and returns its modal result. While an answerer is
// set it gets the prompt instead of a person and answers it as a person would,
// by clicking one of its buttons or closing it; the prompt's result() then counts.
using OverWritePromptAnswerer = std::function<void(TfrmOverWrite& prompt)>;
void SetOverWritePromptAnswerer(OverWritePromptAnswerer answerer);
int ShowOverWritePrompt(TfrmOverWrite& prompt);
