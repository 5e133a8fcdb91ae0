// Collects the warnings Qt prints about connections that did not bind, so a
// misspelt handler name in a form fails a test instead of scrolling past.
#pragma once

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class WarningCatcher {
 public:
  WarningCatcher() : m_previous(qInstallMessageHandler(&WarningCatcher::handler)) {
    active() = this;
  }
  ~WarningCatcher() {
    qInstallMessageHandler(m_previous);
    active() = nullptr;
  }
  WarningCatcher(const WarningCatcher&) = delete;
  WarningCatcher& operator=(const WarningCatcher&) = delete;

  const QStringList& connectionWarnings() const { return m_warnings; }

 private:
  static WarningCatcher*& active() {
    static WarningCatcher* instance = nullptr;
    return instance;
  }
  static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const QRegularExpression binding(
        QStringLiteral("^QObject::connect|^QMetaObject::connectSlotsByName"));
    if (WarningCatcher* self = active()) {
      if (type == QtWarningMsg && binding.match(message).hasMatch())
        self->m_warnings.append(message);
      if (self->m_previous) self->m_previous(type, context, message);
    }
  }

  QtMessageHandler m_previous;
  QStringList m_warnings;
};
