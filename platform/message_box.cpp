#include "message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {
namespace {

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

QString boxDisplayText(const QString& text) {
  QString shown;
  shown.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c != QLatin1Char('\n') && c != QLatin1Char('\r')) {
      shown += c;
      continue;
    }
    shown += QLatin1Char('\n');
    // LF CR and CR LF are one break each, whichever order the text uses.
    const QChar pair = c == QLatin1Char('\n') ? QLatin1Char('\r') : QLatin1Char('\n');
    if (i + 1 < text.size() && text[i + 1] == pair) ++i;
  }
  return shown;
}

int messageBox(QWidget* parent, const QString& caption, const QString& text, BoxIcon icon) {
  Question question;
  question.owner = parent;
  question.caption = caption;
  question.text = text;
  question.icon = icon;
  if (answerInstead(question)) return question.result;
  QMessageBox box(toQt(icon), caption, boxDisplayText(text), QMessageBox::Ok, parent);
  // Boxes carry names and comments, never markup.
  box.setTextFormat(Qt::PlainText);
  keepAbove(box);
  box.exec();
  return 1;
}

int questionBox(QWidget* parent, const QString& caption, const QString& text) {
  Question question;
  question.owner = parent;
  question.caption = caption;
  question.text = text;
  question.icon = BoxIcon::Question;
  question.result = 7;
  if (answerInstead(question)) return question.result == 6 ? 6 : 7;
  QMessageBox box(QMessageBox::Question, caption, boxDisplayText(text),
                  QMessageBox::Yes | QMessageBox::No, parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  keepAbove(box);
  return box.exec() == QMessageBox::Yes ? 6 : 7;
}

QString standardErrorText(const QString& message) {
  if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
  return message;
}

void showErrorBox(const QString& message, QWidget* owner) {
  messageBox(owner ? owner : QApplication::activeWindow(), QApplication::applicationName(),
             standardErrorText(message), BoxIcon::Error);
}

}  // namespace platform
