// Shows a desktop entry the way launchers and file managers show it: its icon, looked
// up by name in the hicolor theme along $XDG_DATA_DIRS, at the usual sizes with the
// entry's name below, and its actions as a context menu would list them.
//   desktop_entry_preview ENTRY.desktop [--grab OUT.png]
// With --grab it writes a picture of the window and ends; otherwise it stays open until
// closed. Exit code 1 when the entry cannot be read or its icon is not in the theme.
#include <QApplication>
#include <QFileInfo>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QTimer>
#include <QVBoxLayout>
#include <cstdio>

#include "desktop_file.h"

namespace {

QStringList iconSearchPaths() {
  QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
  if (dataDirs.isEmpty()) dataDirs = QStringLiteral("/usr/local/share:/usr/share");
  QStringList paths;
  for (const QString& dir : dataDirs.split(u':', Qt::SkipEmptyParts))
    paths << dir + QStringLiteral("/icons");
  return paths;
}

QWidget* tile(const QIcon& icon, int size, const QString& name) {
  auto* box = new QWidget;
  auto* layout = new QVBoxLayout(box);
  auto* picture = new QLabel;
  picture->setPixmap(icon.pixmap(size, size));
  picture->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
  auto* caption = new QLabel(QStringLiteral("%1\n%2 px").arg(name).arg(size));
  caption->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  layout->addWidget(picture, 1);
  layout->addWidget(caption);
  return box;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() != 2 && !(args.size() == 4 && args.at(2) == QLatin1String("--grab"))) {
    std::fprintf(stderr, "usage: desktop_entry_preview ENTRY.desktop [--grab OUT.png]\n");
    return 2;
  }
  QString error;
  const desktopfile::Groups groups = desktopfile::read(args.at(1), &error);
  if (!error.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(error));
    return 1;
  }
  const auto entry = groups.value(QStringLiteral("Desktop Entry"));
  const QString name = entry.value(QStringLiteral("Name"));
  const QString iconName = entry.value(QStringLiteral("Icon"));

  // Every desktop theme falls back to hicolor, where applications install their icons.
  QIcon::setThemeSearchPaths(iconSearchPaths());
  QIcon::setThemeName(QStringLiteral("hicolor"));
  const QIcon icon = QIcon::fromTheme(iconName);
  if (icon.isNull()) {
    std::fprintf(stderr, "icon \"%s\" is not in the hicolor theme of: %s\n", qPrintable(iconName),
                 qPrintable(QIcon::themeSearchPaths().join(u':')));
    return 1;
  }

  QWidget window;
  window.setWindowTitle(name);
  auto* layout = new QGridLayout(&window);
  int column = 0;
  for (int size : {16, 24, 32, 48, 64, 128, 256})
    layout->addWidget(tile(icon, size, name), 0, column++);

  // The context menu a file manager builds from the entry's actions.
  auto* menu = new QMenu(&window);
  menu->addAction(icon, QStringLiteral("Open with %1").arg(name));
  for (const QString& id : entry.value(QStringLiteral("Actions")).split(u';', Qt::SkipEmptyParts)) {
    const auto action = groups.value(QStringLiteral("Desktop Action ") + id);
    menu->addAction(icon, action.value(QStringLiteral("Name")));
  }
  auto* menuPicture = new QLabel;
  menu->adjustSize();
  menuPicture->setPixmap(menu->grab());
  layout->addWidget(new QLabel(QStringLiteral("Context menu of a RAR file:")), 1, 0, 1, 2);
  layout->addWidget(menuPicture, 1, 2, 1, 3, Qt::AlignLeft);
  window.show();

  if (args.size() == 4) {
    const QString out = args.at(3);
    QTimer::singleShot(0, &window, [&window, out] {
      const bool saved = window.grab().save(out);
      if (!saved) std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
