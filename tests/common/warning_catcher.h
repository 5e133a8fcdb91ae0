// Collects the warnings Qt prints about connections that did not bind, so a
// misspelt signal, slot or handler name fails a test instead of scrolling past.
// QTest's own failOnWarning needs QTest's message handler, which GoogleTest does
// not run.
#pragma once

#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class WarningCatcher {
 public:
  WarningCatcher() {
    QMutexLocker lock(&mutex());
    active() = this;
    m_previous = qInstallMessageHandler(&WarningCatcher::handler);
  }
  ~WarningCatcher() {
    qInstallMessageHandler(m_previous);
    QMutexLocker lock(&mutex());
    active() = nullptr;
  }
  WarningCatcher(const WarningCatcher&) = delete;
  WarningCatcher& operator=(const WarningCatcher&) = delete;

  QStringList connectionWarnings() const {
    QMutexLocker lock(&mutex());
    return m_warnings;
  }

 private:
  static QMutex& mutex() {
    static QMutex instance;
    return instance;
  }
  static WarningCatcher*& active() {
    static WarningCatcher* instance = nullptr;
    return instance;
  }
  static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const QRegularExpression binding(
        QStringLiteral("^QObject::connect|^QMetaObject::connectSlotsByName"));
    QtMessageHandler previous = nullptr;
    {
      QMutexLocker lock(&mutex());
      WarningCatcher* self = active();
      if (!self) return;
      if (type == QtWarningMsg && binding.match(message).hasMatch())
        self->m_warnings.append(message);
      previous = self->m_previous;
    }
    if (previous) previous(type, context, message);
  }

  QtMessageHandler m_previous = nullptr;
  QStringList m_warnings;
};
