#include "application.h"

#include <QIcon>
#include <exception>

#include "message_box.h"

// Resources of a static library are only linked in when something refers to them.
static void initIcon() {
  Q_INIT_RESOURCE(program_icon);
}

TQuillmossApplication::TQuillmossApplication(int& argc, char** argv) : QApplication(argc, argv) {
  initIcon();
  // Every window shows the program's icon, and the desktop groups them under
  // the program's entry (quillmoss.desktop).
  QIcon icon;
  // With its size given, a picture is read only when a window needs it.
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
    icon.addFile(QStringLiteral(":/app/icon/%1.png").arg(size), QSize(size, size));
  setWindowIcon(icon);
  setDesktopFileName(QStringLiteral("quillmoss"));
}

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
