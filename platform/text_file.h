// Reading the one-line text files the program keeps beside itself.
#pragma once

#include <QString>
#include <stdexcept>
#include <string>

namespace platform {

// An input/output error: a file that is present could not be opened or read.
class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(const QString& message)
      : std::runtime_error(message.toStdString()), message_(message) {}
  QString message() const { return message_; }

 private:
  QString message_;
};

// The text of the file up to its first line end (LF, CR LF or CR), without
// the line end; nothing else is trimmed. An empty file gives an empty text.
// Throws EInOutError when the file cannot be opened or read.
QString readFirstLine(const QString& path);

// The first line of bytes already read, by the same rule.
QString firstLineOf(const QByteArray& bytes);

}  // namespace platform
