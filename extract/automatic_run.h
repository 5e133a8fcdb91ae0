// The automatic run: started with an archive, the program lists it, settles
// the folder to extract into (beside the archive, or the one "folder.txt"
// names), extracts every entry there and reports how it went. The run decides;
// whoever shows it (the extraction window) observes its signals and runs the
// component's passes for it.
#pragma once

#include <cstdint>

#include <QObject>
#include <QString>
#include <QStringList>

class TVxUnRar;

// The passes of the archive component as the run needs them, done by whoever
// shows them: the listing and the extraction, and what the last pass found.
class ArchivePasses {
 public:
  virtual ~ArchivePasses() = default;
  // Lists path: counts its entries and tests the first ones.
  virtual void listArchive(const QString& path) = 0;
  // Extracts every entry of the listed archive into folder.
  virtual void extractInto(const QString& folder) = 0;
  // The failures of the last pass, as the status dialog leads with them.
  virtual QStringList passReport() const = 0;
  // True when the last pass failed (and may have stopped before the end).
  virtual bool passFailed() const = 0;
  // The entries the listing counted.
  virtual std::int32_t entryCount() const = 0;
  // The user asked to stop the run.
  virtual bool stopRequested() const = 0;
};

class AutomaticRun : public QObject {
  Q_OBJECT
 public:
  // Runs over archive, the path start-up found, with component, which passes
  // does the work through.
  AutomaticRun(const QString& archive, ArchivePasses& passes, const TVxUnRar& component,
               QObject* parent = nullptr);

  // Lists, settles the folder, extracts and reports, then emits finished.
  void run();

  // What the status dialog leads with: the last run's failures.
  const QStringList& report() const { return m_report; }
  // 1 when the last run failed (an entry not extracted, an error that stopped
  // it, an unreadable "folder.txt", no folder to extract into, a stop the
  // user asked for), else 0.
  int exitCode() const { return m_exitCode; }

 signals:
  // The window's caption for the step that begins: listing, then extracting.
  void captionChanged(const QString& caption);
  // "folder.txt" could not be read; error says why.
  void folderFileUnreadable(const QString& error);
  // The run failed; report is what the status dialog leads with.
  void failed(const QStringList& report);
  // The run is over; exitCode is the program's exit status.
  void finished(int exitCode);

 private:
  QString m_archive;
  ArchivePasses& m_passes;
  const TVxUnRar& m_component;
  QStringList m_report;
  int m_exitCode = 0;
};
