#include "message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {
namespace {

BoxAnswerer& answerer() {
  static BoxAnswerer instance;
  return instance;
}

QMessageBox::Icon toQt(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::Error:
      return QMessageBox::Critical;
    case BoxIcon::Question:
      return QMessageBox::Question;
    case BoxIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void setBoxAnswerer(BoxAnswerer a) {
  answerer() = std::move(a);
}

int messageBox(QWidget* parent, const QString& caption, const QString& text, BoxIcon icon) {
  if (answerer()) return answerer()(BoxRequest{caption, text, icon});
  QMessageBox box(toQt(icon), caption, text, QMessageBox::Ok, parent);
  box.exec();
  return 1;
}

QString standardErrorText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void showErrorBox(const QString& message) {
  messageBox(QApplication::activeWindow(), QApplication::applicationName(),
             standardErrorText(message), BoxIcon::Error);
}

}  // namespace platform
