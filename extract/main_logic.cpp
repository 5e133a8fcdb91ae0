#include "main_logic.h"

#include <QFile>

#include "executable.h"
#include "text_file.h"
#include "untVxFileLib.h"

namespace mainlogic {

QString fileNamePart(const QString& path) {
  return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString folderPart(const QString& path) {
  return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString listingCaption(const QString& archivePath) {
  return QStringLiteral("Quillmoss - ") + fileNamePart(archivePath);
}

QString extractingCaption(const QString& archivePath, const QString& folder) {
  return fileNamePart(archivePath) + QStringLiteral(" --> ") + folder;
}

std::optional<int> progressPosition(std::uint32_t entriesDone, std::int32_t entryCount,
                                    std::uint64_t bytesDone, std::uint64_t entrySize) {
  if (entryCount <= 0) return std::nullopt;
  std::int64_t percent = std::int64_t{entriesDone} * 100 / entryCount;
  if (entrySize > 0 && bytesDone >= entrySize) {
    percent = (std::int64_t{entriesDone} + 1) * 100 / entryCount;
  } else if (entrySize > 0 && bytesDone > 0) {
    // Whole entries stay exact in integers; the part entry may round down.
    const long double share = static_cast<long double>(bytesDone) / entrySize;
    percent = static_cast<std::int64_t>((entriesDone + share) * 100 / entryCount);
  }
  return static_cast<int>(percent > 100 ? 100 : percent);
}

QString errorLine(const QString& message) {
  return QStringLiteral("Fehler: ") + message;
}

QString failureLine(const QString& message, const QString& entry, const QString& volume) {
  QStringList names;
  if (!entry.isEmpty()) names << entry;
  if (!volume.isEmpty()) names << QStringLiteral("volume ") + volume;
  return names.isEmpty()
             ? message
             : message + QStringLiteral(" (") + names.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QString notExtractedText(std::int64_t notExtracted, std::int32_t entryCount) {
  if (entryCount > 0 && notExtracted <= entryCount)
    return QStringLiteral("Not extracted: %1 of %2 %3.")
        .arg(notExtracted)
        .arg(entryCount)
        .arg(entryCount == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
  return QStringLiteral("Not extracted: %1 %2, and any that follow in the archive.")
      .arg(notExtracted)
      .arg(notExtracted == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
}

QString withoutPasswordText(const QStringList& entries) {
  if (entries.size() == 1)
    return failureLine(QStringLiteral("No Password!"), entries[0], QString());
  return QStringLiteral("No Password! %1 encrypted entries were not extracted.")
      .arg(entries.size());
}

QString solidBreakText(std::int64_t entries) {
  return (entries == 1 ? QStringLiteral("%1 entry follows") : QStringLiteral("%1 entries follow"))
             .arg(entries) +
         QStringLiteral(" a damaged entry of the solid archive and cannot be decoded.");
}

QString noFolderText(const QString& folder, bool fromFolderFile) {
  if (!fromFolderFile)
    return QStringLiteral("The archive's folder could not be found; nothing was extracted.");
  if (folder.isEmpty()) return QStringLiteral("folder.txt names no folder; nothing was extracted.");
  return QStringLiteral("The folder %1 named in folder.txt does not exist; nothing was extracted.")
      .arg(folder);
}

QStringList statusDialogLines(const QStringList& lead, const QStringList& statusLines) {
  if (lead.isEmpty()) return statusLines;
  return lead + QStringList{QString()} + statusLines;
}

QString statusLine(const QString& message, int status) {
  QString label;
  switch (status) {
    case 0:
      label = QStringLiteral("Archiv geöffnet");
      break;
    case 1:
      label = QStringLiteral("Archiv wird geöffnet");
      break;
    case 2:
      label = QStringLiteral("Nach Schließen");
      break;
    case 3:
      label = QStringLiteral("Passwortabfrage");
      break;
    default:
      break;
  }
  return message + QStringLiteral(": ") + label;
}

OverwriteAnswer overwriteAnswer(int modalResult, bool preset) {
  switch (modalResult) {
    case 6:
      return {true, OverrideChange::None};
    case 7:
      return {false, OverrideChange::None};
    case 10:
      return {true, OverrideChange::AlwaysOverwrite};
    case 9:
      return {false, OverrideChange::NeverOverwrite};
    default:
      return {preset, OverrideChange::None};
  }
}

std::optional<QString> readFirstLine(const QString& path, QString* error) {
  try {
    return platform::readFirstLine(path);
  } catch (const platform::EInOutError& failure) {
    if (error) *error = failure.message();
    return std::nullopt;
  }
}

std::optional<QString> automaticTargetFolder(const QString& archivePath, const QString& folderFile,
                                             QString* error) {
  QString folder = folderPart(archivePath);
  if (!folderFile.isEmpty()) {
    const std::optional<QString> line = readFirstLine(folderFile, error);
    if (!line) return std::nullopt;
    folder = *line;
  }
  RemoveTrailingBackslash(folder);
  return folder;
}

QImage readSkinPicture(const QString& path) {
  if (!platform::filePresent(path)) return QImage();
  QImage picture;
  if (!picture.load(path, "BMP")) return QImage();
  return picture;
}

int compareListText(const QString& a, const QString& b) {
  const auto fold = [](QChar c) {
    const char16_t u = c.unicode();
    return u >= u'a' && u <= u'z' ? static_cast<char16_t>(u - (u'a' - u'A')) : u;
  };
  const qsizetype common = a.size() < b.size() ? a.size() : b.size();
  for (qsizetype i = 0; i < common; ++i) {
    const int d = int{fold(a.at(i))} - int{fold(b.at(i))};
    if (d != 0) return d;
  }
  return static_cast<int>(a.size() - b.size());
}

QString timeFormatWithoutZone(const QString& format) {
  // Only letters outside quotes are fields; a quoted 't' is text.
  QString kept;
  bool quoted = false;
  bool skipClosing = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (!quoted && c == QLatin1Char('t')) {
      // Brackets that held the zone alone go with it.
      while (!kept.isEmpty() && kept.back().isSpace()) kept.chop(1);
      if (kept.endsWith(QLatin1Char('(')) || kept.endsWith(QLatin1Char('['))) {
        kept.chop(1);
        skipClosing = true;
      }
      continue;
    }
    if (skipClosing && (c == QLatin1Char(')') || c == QLatin1Char(']'))) {
      skipClosing = false;
      continue;
    }
    skipClosing = false;
    kept += c;
  }
  const auto separator = [](QChar c) { return c.isSpace() || c == QLatin1Char(','); };
  qsizetype begin = 0;
  qsizetype end = kept.size();
  while (begin < end && separator(kept[begin])) ++begin;
  while (end > begin && separator(kept[end - 1])) --end;
  return kept.mid(begin, end - begin);
}

QString listTimeText(const QDateTime& time, const QLocale& locale) {
  if (!time.isValid()) return QString();
  QString text = locale.toString(time.date(), QLocale::ShortFormat);
  if (time.time() != QTime(0, 0))
    text +=
        QLatin1Char(' ') +
        locale.toString(time.time(), timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
  return text;
}

QString archiveInfoText(std::int32_t entryCount, std::int32_t packedTotal,
                        std::int32_t unpackedTotal, const QString& comment) {
  const QString separator = QStringLiteral("\n\r");
  return QStringLiteral("Dateien: ") + QString::number(entryCount) + separator +
         QStringLiteral("Gepackte Größe: ") + QString::number(packedTotal) + separator +
         QStringLiteral("Ungepackte Größe: ") + QString::number(unpackedTotal) + separator +
         QStringLiteral("Kommentar: ") + comment;
}

QString attributeLetters(const Attributes& a) {
  QString letters;
  const std::pair<bool, char> flags[] = {
      {a.archive, 'A'}, {a.compressed, 'C'}, {a.directory, 'D'}, {a.hidden, 'H'},   {a.normal, 'N'},
      {a.offline, 'O'}, {a.readOnly, 'R'},   {a.system, 'S'},    {a.temporary, 'T'}};
  for (const auto& [set, letter] : flags)
    if (set) letters += QLatin1Char(letter);
  return letters;
}

}  // namespace mainlogic
