// Takes a picture of the extraction window with its hidden controls shown, listing a
// writer-made archive, for looking at the columns by eye:
//   browser_shot OUT.png        (under Xvfb, or with QT_QPA_PLATFORM=offscreen)
// Exit code 1 when the archive did not list completely or the picture was not written.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <string>
#include <vector>

#include "modal.h"
#include "rar_writer.h"
#include "untUnRarDemo.h"

namespace {

std::vector<rarwriter::Entry> lookEntries() {
  std::vector<rarwriter::Entry> entries;
  rarwriter::Entry folder;
  folder.name = "docs";
  folder.directory = true;
  entries.push_back(folder);
  auto add = [&](const std::string& name, const std::string& data, std::int64_t mtime,
                 std::uint32_t attributes) {
    rarwriter::Entry e;
    e.name = name;
    e.data = data;
    e.mtime = mtime;
    e.attributes = attributes;
    entries.push_back(e);
  };
  add("docs/readme.txt", "Read me first.\n", 1600000000, 0x20);
  add("docs/deep/notes.md", std::string(70000, 'n'), 1650000000, 0x20);
  add("top.bin", std::string("\0\1\2\3binary\xff", 11), 1500000000, 0x20);
  add("\xc3\xbc"
      "bung \xe2\x82\xac.txt",
      "unicode name", 1700000000, 0x20);
  for (int i = 0; i < 40; ++i)
    add("set/item" + std::to_string(i * 7 % 40) + ".dat",
        std::string(static_cast<std::size_t>(i * 1000 + 9), 'x'),
        1600000000 + i * 86400 * 3 + (i % 2 ? 3600 : 0), i % 3 == 0 ? 0x21 : 0x20);
  return entries;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments();
  if (args.size() != 2) {
    std::fprintf(stderr, "usage: browser_shot OUT.png\n");
    return 2;
  }
  const QString shot = args[1];
  QTemporaryDir dir;
  qputenv("QUILLMOSS_UNRAR_LIBRARY", QUILLMOSS_BIN_DIR "/libunrar.so");
  const std::vector<rarwriter::Entry> entries = lookEntries();
  const QString archive = QDir(dir.path()).filePath(QStringLiteral("look.rar"));
  rarwriter::write(archive.toStdString(), entries);
  platform::setAnswerer(platform::Modal::OpenChooser,
                        [&](platform::Question& question) { question.chosen = archive; });

  TfrmMain window;
  window.Timer1()->stop();
  window.show();
  int status = 0;
  QTimer::singleShot(300, &window, [&] {
    // Activation fits the window to picture and bar; lift that for the picture.
    window.setMinimumSize(0, 0);
    window.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    for (const char* name : {"lstvwMain", "tlbrMain", "stbrMain", "mnuMain"})
      window.findChild<QWidget*>(QString::fromLatin1(name))->setVisible(true);
    window.findChild<QWidget*>(QStringLiteral("Panel1"))->setMaximumWidth(QWIDGETSIZE_MAX);
    window.resize(1180, 760);
    window.acFileOpenExecute();
    window.lstvwMainColumnClick(0);
    QTimer::singleShot(200, &window, [&] {
      if (window.EntryCount() != static_cast<int>(entries.size())) {
        std::fprintf(stderr, "listed %d of %zu entries\n", window.EntryCount(), entries.size());
        status = 1;
      }
      if (!window.grab().save(shot)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(shot));
        status = 1;
      }
      QApplication::quit();
    });
  });
  QApplication::exec();
  return status;
}
