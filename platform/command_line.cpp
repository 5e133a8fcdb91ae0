#include "command_line.h"

namespace platform {

QString trimBlanksAndControls(const QString& text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin].unicode() <= 0x20) ++begin;
  while (end > begin && text[end - 1].unicode() <= 0x20) --end;
  return text.mid(begin, end - begin);
}

QString joinArguments(const QStringList& arguments) {
  if (arguments.size() == 1) return trimBlanksAndControls(arguments.front());
  QString joined;
  for (const QString& argument : arguments)
    joined += QLatin1Char(' ') + trimBlanksAndControls(argument);
  return trimBlanksAndControls(joined);
}

}  // namespace platform
