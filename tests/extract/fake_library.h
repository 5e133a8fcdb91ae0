// The scripted fake UnRAR library, as the extraction window's tests drive it:
// every component built while this exists loads the fake, and the test reads
// back the calls it received.
#pragma once

#include <dlfcn.h>

#include <QByteArray>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

class FakeLibrary {
 public:
  FakeLibrary() {
    const QByteArray path = QByteArray(QUILLMOSS_TEST_BIN_DIR) + "/libfakeunrar.so";
    qputenv("QUILLMOSS_UNRAR_LIBRARY", path);
    m_handle = ::dlopen(path.constData(), RTLD_NOW);
    if (!m_handle) return;
    m_load = reinterpret_cast<int (*)(const char*)>(::dlsym(m_handle, "FakeUnRar_Load"));
    m_error = reinterpret_cast<const char* (*)()>(::dlsym(m_handle, "FakeUnRar_Error"));
    m_calls = reinterpret_cast<const char* (*)()>(::dlsym(m_handle, "FakeUnRar_Calls"));
  }
  ~FakeLibrary() {
    qunsetenv("QUILLMOSS_UNRAR_LIBRARY");
    if (m_handle) ::dlclose(m_handle);
  }
  FakeLibrary(const FakeLibrary&) = delete;
  FakeLibrary& operator=(const FakeLibrary&) = delete;

  bool usable() const { return m_load && m_error && m_calls; }

  // Returns an empty text when the script was taken, else the parse error.
  QString load(const QString& script) {
    if (!usable())
      return QStringLiteral("fake library not loaded: %1").arg(QString::fromLocal8Bit(::dlerror()));
    if (m_load(script.toUtf8().constData()) == 0) return QString();
    return QString::fromUtf8(m_error());
  }

  QStringList calls() const {
    return QString::fromUtf8(m_calls()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  // The operations RARProcessFile received, per open, in order: element i
  // holds the operations of the (i+1)th open.
  QVector<QVector<int>> operationsPerOpen() const {
    static const QRegularExpression open(QStringLiteral("^RAROpenArchive\\(.* = #(\\d+)"));
    static const QRegularExpression process(QStringLiteral("^RARProcessFile\\(#(\\d+), (-?\\d+),"));
    QVector<QVector<int>> result;
    for (const QString& line : calls()) {
      if (const auto m = open.match(line); m.hasMatch()) {
        result.resize(m.captured(1).toInt());
      } else if (const auto p = process.match(line); p.hasMatch()) {
        const int session = p.captured(1).toInt();
        if (session >= 1 && session <= result.size())
          result[session - 1].append(p.captured(2).toInt());
      }
    }
    return result;
  }

  // The OpenMode of every open, in order.
  QVector<int> openModes() const {
    static const QRegularExpression open(QStringLiteral("^RAROpenArchive\\(.*OpenMode=(\\d+)"));
    QVector<int> modes;
    for (const QString& line : calls())
      if (const auto m = open.match(line); m.hasMatch()) modes.append(m.captured(1).toInt());
    return modes;
  }

 private:
  void* m_handle = nullptr;
  int (*m_load)(const char*) = nullptr;
  const char* (*m_error)() = nullptr;
  const char* (*m_calls)() = nullptr;
};
