#include <QApplication>

#include "untConfig.h"
#include "untUnRarDemo.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmoss"));
  if (argc > 1) {
    auto* main = new TfrmMain;
    main->show();
  } else {
    auto* config = new TfrmConfig;
    config->show();
  }
  return QApplication::exec();
}
