// A component wired to the scripted fake library, with every event recorded
// as a line of text next to the fake's record of the library calls.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "VxUnRar.h"
#include "fake_unrar_control.h"
#include "modal.h"
#include "untUnRar.h"

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fake.ok()) << fake.error().toStdString();
    ASSERT_TRUE(dir.isValid());
    untUnRar::SetUnRarLibraryPath(fake.path());
  }

  void TearDown() override {
    vx.reset();
    untUnRar::SetUnRarLibraryPath(QString());
    platform::clearAnswerers();
  }

  // Loads the script, builds the component (extract mode, archive a.rar and
  // destination in the test's folder) and records every event.
  void start(const QString& script, TVxRarMode mode = VxRAR_EXTRACT) {
    ASSERT_EQ(fake.load(script), QString());
    // One component at a time: the library is process-wide, and the old
    // component's destruction frees it.
    vx.reset();
    vx = std::make_unique<TVxUnRar>();
    fake.clearCalls();
    vx->SetFileName(dir.filePath(QStringLiteral("a.rar")));
    vx->SetDirectory(dir.path());
    vx->SetMode(mode);
    recordAll();
  }

  void recordAll() {
    TVxUnRar* self = vx.get();
    auto who = [self](QObject* sender) {
      return sender == self ? QString() : QStringLiteral(" (wrong sender)");
    };
    vx->OnRarStatus = [this, who](QObject* s, QString message, TRarStatus status) {
      static const char* names[] = {"OPEN", "BEFOREOPEN", "AFTERCLOSE", "PASSWORD"};
      events << QStringLiteral("status %1%2%3")
                    .arg(QLatin1String(names[status]),
                         message.isEmpty() ? QString() : QStringLiteral(" ") + message, who(s));
    };
    vx->OnComment = [this, who](QObject* s, QString comment) {
      events << QStringLiteral("comment ") + comment + who(s);
    };
    vx->OnError = [this, who](QObject* s, QString message, int id) {
      events << QStringLiteral("error %1 %2%3").arg(id).arg(message, who(s));
    };
    vx->OnFileProcessing = [this, who](QObject* s, TVxRARHeaderData h, int status) {
      events << QStringLiteral("file %1 %2%3").arg(h.FileName).arg(status).arg(who(s));
    };
    vx->OnProgress = [this, who](QObject* s, quint32 a, quint32 b, quint32 c, quint32 d) {
      events << QStringLiteral("progress %1/%2/%3/%4%5").arg(a).arg(b).arg(c).arg(d).arg(who(s));
    };
    vx->OnOverride = [this, who](QObject* s, QString path, bool& can) {
      events << QStringLiteral("override ") + local(path) + who(s);
      if (!can) can = overrideAnswer;
    };
  }

  QString local(QString text) const { return text.replace(dir.path(), QStringLiteral("<dir>")); }

  QStringList calls() const {
    QStringList result;
    for (const QString& line : fake.calls()) result << local(line);
    return result;
  }

  // The calls of one kind, in order.
  QStringList callsStarting(const QString& prefix) const {
    QStringList result;
    for (const QString& line : calls())
      if (line.startsWith(prefix)) result << line;
    return result;
  }

  void touch(const QString& relative, const QByteArray& content = "old") {
    const QString path = dir.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(content);
  }

  QByteArray contents(const QString& relative) const {
    QFile f(dir.filePath(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  FakeUnRarControl fake;
  QTemporaryDir dir;
  std::unique_ptr<TVxUnRar> vx;
  QStringList events;
  bool overrideAnswer = false;
};

#define OPEN_LINE(n, mode, cmtSize, state)                                            \
  QStringLiteral("RAROpenArchive(ArcName=\"<dir>/a.rar\", OpenMode=" #mode            \
                 ", OpenResult=0, CmtBuf=buffer, CmtBufSize=65536, CmtSize=" #cmtSize \
                 ", CmtState=0) = #" #n " CmtState=" #state)
