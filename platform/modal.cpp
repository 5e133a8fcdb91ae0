#include "modal.h"

#include <array>

#include <QDialog>

namespace platform {
namespace {

constexpr std::size_t kKinds = static_cast<std::size_t>(Modal::OpenChooser) + 1;

std::array<Answerer, kKinds>& answerers() {
  static std::array<Answerer, kKinds> instance;
  return instance;
}

Answerer& answererFor(Modal kind) {
  return answerers()[static_cast<std::size_t>(kind)];
}

}  // namespace

void setAnswerer(Modal kind, Answerer answerer) {
  answererFor(kind) = std::move(answerer);
}

void clearAnswerers() {
  for (Answerer& answerer : answerers()) answerer = nullptr;
}

bool answerInstead(Question& question) {
  // A copy, so an answerer that replaces itself finishes its own answer.
  const Answerer answerer = answererFor(question.kind);
  if (!answerer) return false;
  answerer(question);
  return true;
}

void keepAbove(QWidget& window) {
  window.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

int execModal(QDialog& dialog, Modal kind) {
  keepAbove(dialog);
  if (!answererFor(kind)) return dialog.exec();
  Question question;
  question.kind = kind;
  question.owner = dialog.parentWidget();
  question.dialog = &dialog;
  question.caption = dialog.windowTitle();
  dialog.setResult(0);
  dialog.show();
  answerInstead(question);
  if (dialog.isVisible()) dialog.reject();
  return dialog.result();
}

}  // namespace platform
