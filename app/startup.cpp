#include "startup.h"

#include <QApplication>
#include <QFile>
#include <QTextStream>
#include <QWidget>
#include <exception>
#include <memory>

#include "application.h"
#include "command_line.h"
#include "executable.h"
#include "local_time.h"
#include "message_box.h"
#include "name_tail.h"
#include "shutdown.h"

namespace startup {

QString ArchiveText(const QStringList& arguments) {
  return platform::joinArguments(arguments);
}

QString ArchiveTail(const QString& archiveText) {
  return platform::nameTail(archiveText);
}

bool IsArchiveTail(const QString& tail) {
  return platform::tailIs(tail, QLatin1String("rar"));
}

QString FindArchive(const QString& archiveText) {
  if (platform::filePresent(archiveText)) return archiveText;
  const QString beside = platform::executableFolder() + archiveText;
  if (platform::filePresent(beside)) return beside;
  return QString();
}

StartMode ChooseMode(const QString& archiveText) {
  if (!IsArchiveTail(ArchiveTail(archiveText))) return StartMode::Instructions;
  return FindArchive(archiveText).isEmpty() ? StartMode::ArchiveNotFound : StartMode::Archive;
}

int RunWindows(StartMode mode, const WindowFactories& factories) {
  // Destroyed in reverse order of creation, while the application still exists.
  std::unique_ptr<QWidget> frmMain;
  std::unique_ptr<QWidget> frmConfig;
  try {
    if (mode == StartMode::Archive) frmMain.reset(factories.createMain());
    frmConfig.reset(factories.createConfig());
  } catch (const std::exception& error) {
    platform::showErrorBox(QString::fromUtf8(error.what()));
    return 0;
  }
  QWidget* mainWindow = frmMain ? frmMain.get() : frmConfig.get();
  if (!mainWindow) return 0;
  mainWindow->show();
  QApplication::exec();
  frmConfig.reset();
  frmMain.reset();
  return 0;
}

namespace {

// End-to-end tests run the program without a person: with
// QUILLMOSS_TEST_ANSWER_BOXES naming a file, every message box is answered
// with OK and recorded there (caption, text and icon, tab-separated, one
// line each) instead of being shown. Unset, boxes are shown as always.
void answerBoxesForTests() {
  const QString log = qEnvironmentVariable("QUILLMOSS_TEST_ANSWER_BOXES");
  if (log.isEmpty()) return;
  platform::setBoxAnswerer([log](const platform::BoxRequest& request) {
    QFile file(log);
    if (file.open(QIODevice::Append | QIODevice::Text)) {
      QTextStream out(&file);
      out << request.caption << '\t' << request.text << '\t' << static_cast<int>(request.icon)
          << '\n';
    }
    return 1;
  });
}

}  // namespace

int Run(int argc, char** argv, const WindowFactories& factories) {
  if (argc > 1 && QByteArray(argv[1]) == "shutdown")
    return RunShutdown(QStringLiteral("quillmoss"));

  // The arguments as the system passed them, before the application object
  // takes out the options it knows.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QFile::decodeName(argv[i]);

  platform::pinLocalTimeZone();
  TQuillmossApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Quillmoss"));
  answerBoxesForTests();

  const QString archiveText = ArchiveText(arguments);
  const StartMode mode = ChooseMode(archiveText);
  if (mode == StartMode::ArchiveNotFound) {
    platform::messageBox(nullptr, QStringLiteral("Error: File not found!"), archiveText,
                         platform::BoxIcon::None);
    return 0;
  }
  return RunWindows(mode, factories);
}

}  // namespace startup
