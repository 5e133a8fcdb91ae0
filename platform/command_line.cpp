#include "command_line.h"

#include <unistd.h>

#include <cerrno>

#include <vector>

#include "path_bytes.h"

namespace platform {
namespace {

// The current folder as its bytes give it (a name that is no UTF-8 included).
QString currentFolder() {
  std::vector<char> buffer(4096);
  while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return QString();
    buffer.resize(buffer.size() * 2);
  }
  return pathFromBytes(QByteArray(buffer.data()));
}

}  // namespace

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

QString findArchive(const QString& archiveText, const QString& executableFolder,
                    const std::function<bool(const QString&)>& filePresent) {
  if (archiveText.isEmpty()) return QString();
  if (filePresent(archiveText)) {
    if (archiveText.startsWith(QLatin1Char('/'))) return archiveText;
    const QString here = currentFolder();
    if (here.isEmpty()) return archiveText;
    return here + (here.endsWith(QLatin1Char('/')) ? QString() : QStringLiteral("/")) + archiveText;
  }
  const QString beside = trimBlanksAndControls(executableFolder + archiveText);
  return filePresent(beside) ? beside : QString();
}

}  // namespace platform
