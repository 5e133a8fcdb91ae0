#include "application.h"

#include <exception>

#include "message_box.h"

TQuillmossApplication::TQuillmossApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TQuillmossApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    platform::showErrorBox(QString::fromUtf8(error.what()));
  } catch (...) {
    platform::showErrorBox(QStringLiteral("Unknown error"));
  }
  return false;
}
