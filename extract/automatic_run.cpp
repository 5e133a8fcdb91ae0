#include "automatic_run.h"

#include <optional>

#include "VxUnRar.h"
#include "executable.h"
#include "main_logic.h"
#include "path_bytes.h"

AutomaticRun::AutomaticRun(const QString& archive, ArchivePasses& passes, const TVxUnRar& component,
                           QObject* parent)
    : QObject(parent), m_archive(archive), m_passes(passes), m_component(component) {}

void AutomaticRun::run() {
  emit captionChanged(mainlogic::listingCaption(m_archive));
  m_passes.listArchive(m_archive);

  const QString folderFile = platform::besideExecutable(QStringLiteral("folder.txt"));
  QString error;
  const std::optional<QString> folder = mainlogic::automaticTargetFolder(
      m_archive, platform::filePresent(folderFile) ? folderFile : QString(), &error);
  // What the listing found wrong is only half the story when the extraction
  // runs: a question answered differently there, or an entry the listing
  // did not test, is decided by the extraction alone.
  QStringList report = m_passes.passReport();
  // A listing that failed may have stopped before the archive's end.
  const bool allCounted = !m_passes.passFailed();
  bool extracted = false;
  if (m_passes.stopRequested()) {
    // Asked for by the user, so no failure to show.
  } else if (!folder) {
    emit folderFileUnreadable(error);
  } else if (folder->isEmpty() || !platform::folderPresent(*folder)) {
    report << mainlogic::noFolderText(platform::displayPath(*folder),
                                      platform::filePresent(folderFile));
  } else {
    emit captionChanged(mainlogic::extractingCaption(m_archive, *folder));
    m_passes.extractInto(*folder);
    extracted = true;
    report = m_passes.passReport();
    const std::int32_t entryCount = m_passes.entryCount();
    const std::int64_t unreached =
        std::int64_t{entryCount} - std::int64_t{m_component.FilesProcessed()};
    const std::int64_t notExtracted = m_component.EntriesFailed() + (unreached > 0 ? unreached : 0);
    if (notExtracted > 0)
      report << mainlogic::notExtractedText(notExtracted, allCounted ? entryCount : 0);
    if (m_component.SolidStreamBroken() && unreached > 0)
      report << mainlogic::solidBreakText(unreached);
  }
  m_report = report;
  // A failed run must not look like a finished one: whoever started it may
  // delete the archive next.
  // A stop the user asked for is no failure to show, but no success either.
  const bool stopped = m_passes.stopRequested();
  if (!report.isEmpty() && !stopped) emit failed(report);
  m_exitCode = extracted && report.isEmpty() && !stopped ? 0 : 1;
  emit finished(m_exitCode);
}
