#include "path_bytes.h"

namespace platform {
namespace {

constexpr char16_t kKeptFirst = 0xDC80;
constexpr char16_t kKeptLast = 0xDCFF;

// The length of the valid UTF-8 sequence at bytes[i], 0 when there is none.
qsizetype validSequence(const QByteArray& bytes, qsizetype i) {
  const auto at = [&](qsizetype k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char lead = at(i);
  if (lead < 0x80) return 1;
  qsizetype length = 0;
  char32_t code = 0;
  char32_t lowest = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (i + length > bytes.size()) return 0;
  for (qsizetype k = 1; k < length; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (at(i + k) & 0x3F);
  }
  if (code < lowest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// A kept byte: a lone low surrogate of the kept range. The low half of a
// surrogate pair (a character beyond U+FFFF) is none.
bool isKept(const QString& text, qsizetype i) {
  const char16_t c = text[i].unicode();
  return c >= kKeptFirst && c <= kKeptLast && (i == 0 || !text[i - 1].isHighSurrogate());
}

}  // namespace

QString pathFromBytes(const QByteArray& bytes) {
  QString path;
  path.reserve(bytes.size());
  qsizetype runStart = 0;
  qsizetype i = 0;
  while (i < bytes.size()) {
    const qsizetype length = validSequence(bytes, i);
    if (length > 0) {
      i += length;
      continue;
    }
    path += QString::fromUtf8(bytes.constData() + runStart, i - runStart);
    path +=
        QChar(static_cast<char16_t>(kKeptFirst + (static_cast<unsigned char>(bytes[i]) - 0x80)));
    runStart = ++i;
  }
  path += QString::fromUtf8(bytes.constData() + runStart, i - runStart);
  return path;
}

QByteArray pathToBytes(const QString& path) {
  QByteArray bytes;
  bytes.reserve(path.size());
  qsizetype runStart = 0;
  for (qsizetype i = 0; i < path.size(); ++i) {
    if (!isKept(path, i)) continue;
    bytes += QStringView(path).mid(runStart, i - runStart).toUtf8();
    bytes += static_cast<char>(path[i].unicode() - kKeptFirst + 0x80);
    runStart = i + 1;
  }
  bytes += QStringView(path).mid(runStart).toUtf8();
  return bytes;
}

QString displayPath(const QString& path) {
  QString shown = path;
  for (qsizetype i = 0; i < shown.size(); ++i)
    if (isKept(path, i)) shown[i] = QChar::ReplacementCharacter;
  return shown;
}

QString escapeControls(const QString& text) {
  QString escaped;
  escaped.reserve(text.size());
  for (const QChar c : text) {
    if (c.category() != QChar::Other_Control) {
      escaped += c;
    } else if (c == QLatin1Char('\n')) {
      escaped += QLatin1String("\\n");
    } else if (c == QLatin1Char('\r')) {
      escaped += QLatin1String("\\r");
    } else if (c == QLatin1Char('\t')) {
      escaped += QLatin1String("\\t");
    } else {
      escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
    }
  }
  return escaped;
}

}  // namespace platform
