#include "VxUnRarConvert.h"

#include <QFile>
#include <cerrno>
#include <climits>
#include <cstring>
#include <iterator>

#include "path_bytes.h"

namespace vxunrar {

QDateTime PackedDateTime(quint32 packed) {
  const quint32 date = packed >> 16;
  const quint32 time = packed & 0xFFFF;
  const QDate day(static_cast<int>((date >> 9) + 1980), static_cast<int>((date >> 5) & 0x0F),
                  static_cast<int>(date & 0x1F));
  const QTime clock(static_cast<int>(time >> 11), static_cast<int>((time >> 5) & 0x3F),
                    static_cast<int>((time & 0x1F) * 2));
  if (!day.isValid() || !clock.isValid()) return QDateTime();
  // The stored wall-clock time, with no zone step: as local time, a time in
  // the hour a spring-forward skips would be invalid, and one in the hour an
  // autumn change repeats ambiguous. Held as UTC, date() and time() give back
  // exactly what was stored.
  return QDateTime(day, clock, Qt::UTC);
}

QString EntryName(const RARHeaderDataEx& header) {
  const size_t capacity = sizeof header.FileNameW / sizeof header.FileNameW[0];
  size_t length = 0;
  while (length < capacity && header.FileNameW[length] != 0) ++length;
  return QString::fromWCharArray(header.FileNameW, static_cast<qsizetype>(length));
}

namespace {

// The CRC as "%X" writes it: upper-case digits, no leading zeros.
QString HexText(quint32 value) {
  char16_t digits[8];
  int first = 8;
  do {
    digits[--first] = u"0123456789ABCDEF"[value & 0x0F];
    value >>= 4;
  } while (value != 0);
  return QString(reinterpret_cast<const QChar*>(digits + first), 8 - first);
}

}  // namespace

void ConvertHeader(const RARHeaderDataEx& source, TVxRARHeaderData& target) {
  // Every entry of a volume names the same volume: its text is made once.
  static thread_local QByteArray lastArcBytes;
  static thread_local QString lastArcName;
  const size_t arcNameLength = strnlen(source.ArcName, sizeof source.ArcName);
  const QByteArrayView arcBytes(source.ArcName, static_cast<qsizetype>(arcNameLength));
  if (arcBytes != lastArcBytes || lastArcName.isNull()) {
    lastArcBytes = arcBytes.toByteArray();
    lastArcName = platform::pathFromBytes(lastArcBytes);
  }
  target.ArcName = lastArcName;
  target.FileName = EntryName(source);
  target.SplitAfter = (source.Flags & 0x02) != 0;
  target.SplitBefore = (source.Flags & 0x01) != 0;
  target.Encrypted = (source.Flags & 0x04) != 0;
  target.IsDirectory = (source.Flags & 0xE0) == 0xE0;
  // Bits 7 to 5 give the dictionary as 64 KB shifted left; all set marks a
  // directory, which has no dictionary.
  target.DictionarySize = target.IsDirectory ? 0 : 65536u << ((source.Flags >> 5) & 0x07);
  target.PackSize = source.PackSize;
  target.UnpSize = source.UnpSize;
  // An unknown host system or method leaves the converted text as it was.
  static const QString kHostNames[] = {QStringLiteral("DOS"), QStringLiteral("IBM OS/2"),
                                       QStringLiteral("Windows"), QStringLiteral("Unix")};
  if (source.HostOS < std::size(kHostNames)) target.HostOS = kHostNames[source.HostOS];
  target.CRC = HexText(source.FileCRC);
  target.FileTime = PackedDateTime(source.FileTime);
  target.UnpVerMajor = source.UnpVer / 10;
  target.UnpVerMinor = source.UnpVer % 10;
  // Methods 0x30 (store) to 0x35 (best), in that order.
  static const QString kMethodNames[] = {QStringLiteral("store"), QStringLiteral("fastest"),
                                         QStringLiteral("fast"),  QStringLiteral("normal"),
                                         QStringLiteral("good"),  QStringLiteral("best")};
  if (source.Method >= 0x30 && source.Method - 0x30 < std::size(kMethodNames))
    target.Method = kMethodNames[source.Method - 0x30];
  const quint32 attr = source.FileAttr;
  target.AttrArchive = (attr & 0x20) != 0;
  target.AttrCompressed = (attr & 0x800) != 0;
  target.AttrDirectory = (attr & 0x10) != 0;
  target.AttrHidden = (attr & 0x02) != 0;
  target.AttrNormal = (attr & 0x80) != 0;
  target.AttrOffline = (attr & 0x1000) != 0;
  target.AttrReadOnly = (attr & 0x01) != 0;
  target.AttrSystem = (attr & 0x04) != 0;
  target.AttrTemporary = (attr & 0x100) != 0;
}

QString TargetPath(const QString& directory, const QString& entryName) {
  return directory + QLatin1Char('/') + entryName;
}

bool IsSelected(const QStringList& fileList, const QString& targetPath) {
  return fileList.isEmpty() || fileList.contains(targetPath, Qt::CaseInsensitive);
}

QString StatusText(int status) {
  switch (status) {
    case 11:
      return QStringLiteral("No memory!");
    case 12:
      return QStringLiteral("Corrupted data!");
    case 13:
      return QStringLiteral("Corrupted archive!");
    case 14:
      return QStringLiteral("Unknown format!");
    case 15:
      return QStringLiteral("Volume-Error!");
    case 16:
      return QStringLiteral("Error on creating file!");
    case 17:
      return QStringLiteral("Error on closing file!");
    case 18:
      return QStringLiteral("Read error!");
    case 19:
      return QStringLiteral("Write error!");
    case 20:
      return QStringLiteral("Buffer to small!");
    case 22:
      return QStringLiteral("No Password!");
    case 23:
      return QStringLiteral("Reference source missing!");
    case 24:
      return QStringLiteral("Wrong Password!");
    case 25:
      return QStringLiteral("Dictionary too large!");
    default:
      return QString();
  }
}

QString MemoryText(quint64 kilobytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  std::size_t unit = 0;
  quint64 scale = 1;
  while (unit + 1 < std::size(kUnits) && kilobytes >= scale * 1024) {
    scale *= 1024;
    ++unit;
  }
  // Tenths, rounded down: a size is never shown larger than it is asked.
  const quint64 tenths = kilobytes * 10 / scale;
  QString number = QString::number(tenths / 10);
  if (tenths % 10 != 0) number += QLatin1Char('.') + QString::number(tenths % 10);
  return number + QLatin1Char(' ') + QLatin1String(kUnits[unit]);
}

QString LargeDictionaryQuestion(const QString& entry, quint64 dictionaryKB, quint64 limitKB) {
  return QStringLiteral(
             "%1 needs %2 of memory to be extracted, more than the %3 allowed without asking. "
             "Extract it?")
      .arg(entry, MemoryText(dictionaryKB), MemoryText(limitKB));
}

QString LargeDictionaryReason(quint64 dictionaryKB) {
  return QStringLiteral("Needs %1 of memory, not allowed").arg(MemoryText(dictionaryKB));
}

QString SystemErrorReason(int error) {
  switch (error) {
    case ENAMETOOLONG:
      return QStringLiteral("Name too long for the file system");
    case EACCES:
    case EPERM:
      return QStringLiteral("Permission denied");
    case EROFS:
      return QStringLiteral("Read-only file system");
    case ENOSPC:
      return QStringLiteral("No space left on the disk");
    case EDQUOT:
      return QStringLiteral("Disk quota exceeded");
    default:
      return QString();
  }
}

bool NameTooLong(const QByteArray& targetPath) {
  if (targetPath.size() >= PATH_MAX) return true;
  for (const QByteArray& name : targetPath.split('/'))
    if (name.size() > NAME_MAX) return true;
  return false;
}

QString ProcessErrorText(int status) {
  return status >= 12 && status <= 19 ? StatusText(status) : QString();
}

namespace {

QString HeaderStageText(int status) {
  if (status == 11 || status == 20 || status == 22 || status == 24) return StatusText(status);
  return ProcessErrorText(status);
}

}  // namespace

QString OpenErrorText(int openResult) {
  const QString text = HeaderStageText(openResult);
  return text.isEmpty() ? QStringLiteral("Unknown format!") : text;
}

QString HeaderErrorText(int status) {
  const QString text = status == 12 ? QString() : HeaderStageText(status);
  return text.isEmpty() ? QStringLiteral("File Header corrupted!") : text;
}

QString EntryErrorText(int status, const RARHeaderDataEx& header) {
  // RAR 1.5 to 4 keep no check value for a password: a wrong one shows as
  // data that fails its checksum, like damage does. RAR 5 (unpack version 50
  // and later) checks the password itself.
  if (status == ERAR_BAD_DATA && (header.Flags & RHDF_ENCRYPTED) != 0 && header.UnpVer < 50)
    return QStringLiteral("Wrong password or damaged data!");
  const QString text = StatusText(status);
  return text.isEmpty() ? QStringLiteral("Unknown error!") : text;
}

void CopyToBuffer(const QByteArray& utf8, char* buffer, qint64 size) {
  if (!buffer || size <= 0) return;
  qint64 length = std::min<qint64>(utf8.size(), size - 1);
  // Never leave half a character at the cut.
  if (length < utf8.size())
    while (length > 0 && (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80) --length;
  std::memcpy(buffer, utf8.constData(), static_cast<size_t>(length));
  buffer[length] = '\0';
}

}  // namespace vxunrar
