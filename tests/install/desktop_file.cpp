#include "desktop_file.h"

#include <QFile>

namespace desktopfile {

namespace {

QString unescape(const QString& value) {
  QString out;
  out.reserve(value.size());
  for (qsizetype i = 0; i < value.size(); ++i) {
    const QChar c = value.at(i);
    if (c != u'\\' || i + 1 == value.size()) {
      out += c;
      continue;
    }
    const QChar next = value.at(++i);
    switch (next.unicode()) {
      case 's':
        out += u' ';
        break;
      case 'n':
        out += u'\n';
        break;
      case 't':
        out += u'\t';
        break;
      case 'r':
        out += u'\r';
        break;
      case '\\':
        out += u'\\';
        break;
      default:
        out += c;
        out += next;
        break;
    }
  }
  return out;
}

}  // namespace

Groups read(const QString& path, QString* error) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    *error = path + QStringLiteral(": ") + file.errorString();
    return {};
  }
  Groups groups;
  QString group;
  int lineNumber = 0;
  for (const QByteArray& raw : file.readAll().split('\n')) {
    ++lineNumber;
    const QString line = QString::fromUtf8(raw).trimmed();
    if (line.isEmpty() || line.startsWith(u'#')) continue;
    if (line.startsWith(u'[') && line.endsWith(u']')) {
      group = line.mid(1, line.size() - 2);
      groups[group];
      continue;
    }
    const qsizetype eq = line.indexOf(u'=');
    if (eq <= 0 || group.isEmpty()) {
      *error = QStringLiteral("%1:%2: not a key line: %3").arg(path).arg(lineNumber).arg(line);
      return {};
    }
    const QString key = line.left(eq).trimmed();
    auto& keys = groups[group];
    if (!keys.contains(key)) keys.insert(key, unescape(line.mid(eq + 1).trimmed()));
  }
  return groups;
}

QStringList execArguments(const QString& exec, const QString& file, QString* error) {
  QStringList args;
  QString current;
  bool inArgument = false;
  bool quoted = false;
  // Field codes count only outside quotes; a quoted "%f" is an error in the rules and
  // never appears in our entries, so it is passed through unchanged.
  for (qsizetype i = 0; i < exec.size(); ++i) {
    const QChar c = exec.at(i);
    if (quoted) {
      if (c == u'"') {
        quoted = false;
      } else if (c == u'\\' && i + 1 < exec.size() &&
                 QStringLiteral("\"`$\\").contains(exec.at(i + 1))) {
        current += exec.at(++i);
      } else {
        current += c;
      }
      continue;
    }
    if (c == u' ' || c == u'\t') {
      if (inArgument) args << current;
      current.clear();
      inArgument = false;
      continue;
    }
    if (c == u'"') {
      quoted = true;
      inArgument = true;
      continue;
    }
    if (c == u'%') {
      if (i + 1 == exec.size()) {
        *error = QStringLiteral("lone % at the end of: ") + exec;
        return {};
      }
      const QChar code = exec.at(++i);
      if (code == u'%') {
        current += u'%';
        inArgument = true;
      } else if (QStringLiteral("fFuU").contains(code) && !file.isEmpty()) {
        // Without a file the code is removed, and with it an argument it stood alone in.
        current += file;
        inArgument = true;
      }
      continue;
    }
    current += c;
    inArgument = true;
  }
  if (quoted) {
    *error = QStringLiteral("unterminated quote in: ") + exec;
    return {};
  }
  if (inArgument) args << current;
  return args;
}

}  // namespace desktopfile
