#include "name_tail.h"

namespace platform {

QString nameTail(const QString& text) {
  QString tail = text.right(4);
  for (QChar& c : tail)
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() - 'A' + 'a');
  return tail;
}

bool tailIs(const QString& tail, QLatin1String extension) {
  return tail == extension || (tail.startsWith(QLatin1Char('.')) && tail.mid(1) == extension);
}

}  // namespace platform
