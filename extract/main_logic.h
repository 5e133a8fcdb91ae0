// The extraction window's decisions and texts, as small functions a test can
// call without a window.
#pragma once

#include <cstdint>
#include <optional>

#include <QDateTime>
#include <QImage>
#include <QLocale>
#include <QString>
#include <QStringList>

namespace mainlogic {

// The file-name part of a path (after its last "/") and the folder part (up to
// and including its last "/"; empty without one).
QString fileNamePart(const QString& path);
QString folderPart(const QString& path);

QString listingCaption(const QString& archivePath);
QString extractingCaption(const QString& archivePath, const QString& folder);

// Progress bar position once entriesDone entries are written, and bytesDone
// of the next one's entrySize bytes: each entry counted by the listing pass
// is one equal share of the bar, the position a whole percentage, never above
// 100. A listing that counted nothing leaves the bar alone (nullopt).
std::optional<int> progressPosition(std::uint32_t entriesDone, std::int32_t entryCount,
                                    std::uint64_t bytesDone = 0, std::uint64_t entrySize = 0);

// Status lines as the window collects them.
QString errorLine(const QString& message);
// A failure as the status dialog leads with it: the component's text, then
// in brackets the entry's name and the missing volume's, where known.
QString failureLine(const QString& message, const QString& entry, const QString& volume);
// How many entries a run did not extract, of the entries the listing counted
// (0 or fewer: the listing could not count them all).
QString notExtractedText(std::int64_t notExtracted, std::int32_t entryCount);
// The encrypted entries a run did not extract for want of a password, said
// once: with one, the failure line that names it; with more, their count.
QString withoutPasswordText(const QStringList& entries);
// The entries a run did not try because they follow a damaged entry of a
// solid archive, which cannot be decoded past the damage.
QString solidBreakText(std::int64_t entries);
// Why an automatic run extracted nothing for want of a folder: the one folder.txt
// names does not exist (or it names none), or the archive's own is gone.
QString noFolderText(const QString& folder, bool fromFolderFile);
// The status dialog's lines: the lead lines, an empty line, then the status
// lines as gathered; the status lines alone without a lead.
QStringList statusDialogLines(const QStringList& lead, const QStringList& statusLines);
// status carries the component's status ordinals: 0 opened, 1 before open,
// 2 after close, 3 password; any other value gets an empty label.
QString statusLine(const QString& message, int status);

// What an answer of the overwrite prompt means for the current entry and for
// the rest of the run.
enum class OverrideChange { None, AlwaysOverwrite, NeverOverwrite };
struct OverwriteAnswer {
  bool canOverride = false;
  OverrideChange change = OverrideChange::None;
};
// preset is the decision the component handed in; an unknown result keeps it.
OverwriteAnswer overwriteAnswer(int modalResult, bool preset);

// The first line of a text file, without its line end (LF, CR LF or CR), nothing
// else trimmed. nullopt when the file cannot be opened or read; error then says
// why.
std::optional<QString> readFirstLine(const QString& path, QString* error);

// The folder the automatic run extracts into: the archive's folder, or the first
// line of folderFile when that file is present, less one trailing separator.
// nullopt (with error) when folderFile is present but unreadable.
std::optional<QString> automaticTargetFolder(const QString& archivePath, const QString& folderFile,
                                             QString* error);

// The skin picture that replaces the banner: the bitmap at path, or a null
// image when there is no such file or it is no readable bitmap.
QImage readSkinPicture(const QString& path);

// Text comparison of the file list: letters a-z compare as A-Z, every other
// character by its code; negative, zero or positive.
int compareListText(const QString& a, const QString& b);

// A locale's time format without its time-zone part ("t" and what encloses
// or leads up to it): a stored time has no zone to name.
QString timeFormatWithoutZone(const QString& format);

// The list's "Time" column: the short date, then a blank and the time in the
// long format without a zone, the time left out at exactly midnight; empty
// for an invalid date-time. The date-time's own date() and time() are shown,
// with no zone step.
QString listTimeText(const QDateTime& time, const QLocale& locale);

// The archive information box's text: four lines joined by LF then CR.
QString archiveInfoText(std::int32_t entryCount, std::int32_t packedTotal,
                        std::int32_t unpackedTotal, const QString& comment);

// The attribute letters of the list's last column, in the fixed order A C D H N O R S T.
struct Attributes {
  bool archive = false, compressed = false, directory = false, hidden = false, normal = false,
       offline = false, readOnly = false, system = false, temporary = false;
};
QString attributeLetters(const Attributes& attributes);

}  // namespace mainlogic
