#include "command_line.h"

#include "path_bytes.h"

namespace platform {
namespace {

QStringList& keptArguments() {
  static QStringList instance;
  return instance;
}

}  // namespace

void keepProgramArguments(int argc, const char* const* argv) {
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << pathFromBytes(QByteArray(argv[i]));
  keptArguments() = arguments;
}

QStringList programArguments() {
  return keptArguments();
}

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
