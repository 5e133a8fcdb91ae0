// For looking at the instructions window by eye (under Xvfb, say): shows it,
// after handing it the files given on the command line as one drop. Its side
// files are those of the built program, so a dropped picture becomes the skin
// that the program's two windows show.
#include <QApplication>
#include <QLocale>

#include "side_files.h"
#include "untConfig.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmoss"));
  instructions::setSideFolderForTests(QStringLiteral(QUILLMOSS_BIN_DIR "/"));
  instructions::setProgramPathForTests(QStringLiteral(QUILLMOSS_BIN_DIR "/quillmoss"));
  TfrmConfig window(QLocale::system());
  window.show();
  QStringList dropped = QApplication::arguments().mid(1);
  if (!dropped.isEmpty()) window.WMDropFiles(dropped);
  return QApplication::exec();
}
