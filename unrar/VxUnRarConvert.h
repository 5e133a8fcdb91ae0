// The component's small decisions, kept apart from the run so that tests can
// call them with a header record and no library.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include "VxUnRar.h"
#include "unrar.h"

namespace vxunrar {

// Refreshes the converted header from the library's record. An unknown
// HostOS or Method leaves the previous text in place.
void ConvertHeader(const RARHeaderDataEx& source, TVxRARHeaderData& target);

// A packed DOS date (high 16 bits) and time (low 16 bits) as it stands: its
// date() and time() are the stored ones, in no zone (the value is held as
// UTC); null when it names no valid date or time.
QDateTime PackedDateTime(quint32 packed);

// Where an entry lands: the whole destination folder, "/", the entry name.
QString TargetPath(const QString& directory, const QString& entryName);

// True when the selection is empty or holds the target path (letter case ignored).
bool IsSelected(const QStringList& fileList, const QString& targetPath);

// The text the component reports for a library status.
QString ProcessErrorText(int status);   // statuses 12 to 19; empty otherwise
QString OpenErrorText(int openResult);  // any number: the text of a failed open
// A failed header read (any status but 0 and 10): the table's text for its
// number, "File Header corrupted!" for 12 and for numbers the table lacks.
QString HeaderErrorText(int status);

// What a failed entry is reported with: the table's text for its status,
// "Wrong password or damaged data!" for a checksum failure of an entry
// encrypted by a format that cannot tell the two apart, "Unknown error!" for
// a status without a text.
QString EntryErrorText(int status, const RARHeaderDataEx& header);

// Memory as a person reads it, from a size in KB: "64 GB", "1.5 GB", "512 MB".
QString MemoryText(quint64 kilobytes);

// The question put when an entry's dictionary is beyond the library's limit
// (both in KB), and why such an entry failed when it was not allowed.
QString LargeDictionaryQuestion(const QString& entry, quint64 dictionaryKB, quint64 limitKB);
QString LargeDictionaryReason(quint64 dictionaryKB);

// Why creating or writing a file failed, from the system's error number;
// empty for numbers that say nothing a person could act on.
QString SystemErrorReason(int error);

// True when the system cannot name the target: the whole path, or one of its
// names, is longer than the file system takes (PATH_MAX, NAME_MAX).
bool NameTooLong(const QByteArray& targetPath);

// The library's entry name (FileNameW, up to its first zero).
QString EntryName(const RARHeaderDataEx& header);

// Copies text into a zero-terminated byte buffer of the given size, cut at
// a character boundary. Nothing is written when size is not positive.
void CopyToBuffer(const QByteArray& utf8, char* buffer, qint64 size);

}  // namespace vxunrar
