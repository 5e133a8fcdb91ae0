// The overwrite prompt: asks whether an existing file may be replaced.
#pragma once

#include <memory>

#include "fixed_dialog.h"

class QLabel;
namespace Ui {
class TfrmOverWrite;
}

// Modal results: 6 yes, 7 no, 10 yes to all, 9 no to all; the close box gives 2.
// No button is the default, so a stray key press never answers for the user.
class TfrmOverWrite : public platform::FixedDialog {
  Q_OBJECT
 public:
  explicit TfrmOverWrite(QWidget* parent = nullptr);
  ~TfrmOverWrite() override;

  QLabel* lblFileName() const;
  // The name the caller put into lblFileName, whole: once shown, a name too
  // wide for the screen is shortened in the middle there.
  QString fileName() const;

 private slots:
  void ButtonClick();

 protected:
  void fitBeforeShown() override;

 private:
  void FormShow();
  void FitButtonsToText();

  std::unique_ptr<Ui::TfrmOverWrite> ui;
  QString m_fileName;
  bool m_shown = false;
};

// The prompt being shown; its owner sets it before showing and clears it after.
extern TfrmOverWrite* frmOverWrite;

// Shows the prompt modally and returns its modal result; an answerer for
// platform::Modal::OverwritePrompt answers it instead of a person.
int ShowOverWritePrompt(TfrmOverWrite& prompt);
