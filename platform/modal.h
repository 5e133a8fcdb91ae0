// Every modal question the program puts to a person runs through here: its
// prompts and dialogs, its message boxes, and the folder and file choosers.
// While an answerer is set for a kind of question, each question of that kind
// goes to it instead of waiting for a person. The unattended run (no display,
// nobody to ask) answers this way, and so do the tests.
#pragma once

#include <functional>
#include <type_traits>

#include <QString>

class QDialog;
class QWidget;

namespace platform {

enum class BoxIcon { None, Information, Warning, Error, Question };

enum class Modal {
  MessageBox,
  OverwritePrompt,
  PasswordPrompt,
  VolumePrompt,
  StatusDialog,
  FolderChooser,
  OpenChooser,
};

struct Question {
  Modal kind = Modal::MessageBox;
  // The window the question is modal to; null when it has none.
  QWidget* owner = nullptr;
  // A prompt, a dialog or the open chooser: the dialog itself. A prompt or a
  // dialog is shown, and answered as a person would, by clicking one of its
  // buttons or closing it; its result() is the answer, and an answer that
  // leaves it open closes it without a button. Null for a message box and the
  // folder chooser.
  QDialog* dialog = nullptr;
  // A message box: its caption, its text as given and its icon. The folder
  // chooser: its title (caption), the folder it preselects (text) and its root.
  QString caption;
  QString text;
  BoxIcon icon = BoxIcon::None;
  QString root;
  // The answer to a message box: its modal result (1 is OK).
  int result = 1;
  // The answer to a chooser: the chosen path; empty is a cancel.
  QString chosen;

  template <typename Dialog>
  Dialog& dialogAs() const {
    return dynamic_cast<Dialog&>(*dialog);
  }
};

using Answerer = std::function<void(Question& question)>;

// Sets the answerer for one kind of question; an empty one gives that kind
// back to a person.
void setAnswerer(Modal kind, Answerer answerer);

// The same for a kind whose questions are dialogs of one type: the answer gets
// the dialog itself.
template <typename Dialog = QDialog>
void setDialogAnswerer(Modal kind,
                       std::type_identity_t<std::function<void(Dialog& dialog)>> answer) {
  if (!answer) return setAnswerer(kind, {});
  setAnswerer(kind, [answer = std::move(answer)](Question& question) {
    answer(question.dialogAs<Dialog>());
  });
}

// Gives every kind back to a person.
void clearAnswerers();

// Hands the question to its kind's answerer and says whether there was one;
// false means a person must be asked.
bool answerInstead(Question& question);

// Keeps a question's window above every other window of the program. The
// instructions window stays on top of the desktop's windows; a question that
// opened under it (this program's or a second copy's) would look like a hung
// run, so every question is kept on top too, and the newest comes first.
void keepAbove(QWidget& window);

// Shows the prompt or dialog modally, above every other window of the program
// (keepAbove), and returns its modal result; while its kind has an answerer,
// the answerer answers it instead.
int execModal(QDialog& dialog, Modal kind);

}  // namespace platform
