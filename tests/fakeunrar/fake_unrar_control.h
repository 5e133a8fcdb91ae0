// Test-side control of the scripted fake library (see README.md): loads the
// same file the component's loader is pointed at and drives it in-process.
// Header-only; link the test with `platform` and add this folder to its
// include path.
#pragma once

#include <QString>
#include <QStringList>

#include "module.h"

class FakeUnRarControl {
 public:
  explicit FakeUnRarControl(const QString& path = QStringLiteral(QUILLMOSS_TEST_BIN_DIR
                                                                 "/libfakeunrar.so"))
      : path_(path), module_(platform::Module::open(path, &error_)) {
    load_ = module_.function<int (*)(const char*)>("FakeUnRar_Load");
    calls_ = module_.function<const char* (*)()>("FakeUnRar_Calls");
    lastError_ = module_.function<const char* (*)()>("FakeUnRar_Error");
    clear_ = module_.function<void (*)()>("FakeUnRar_ClearCalls");
  }

  // True when the fake library was found and offers its controls.
  bool ok() const { return load_ && calls_ && lastError_ && clear_; }
  QString error() const { return error_; }
  const QString& path() const { return path_; }

  // Replaces the script and forgets recorded calls. Returns an empty text,
  // or the parse error.
  QString load(const QString& script) {
    if (!ok()) return QStringLiteral("fake library not loaded: ") + error_;
    if (load_(script.toUtf8().constData()) == 0) return QString();
    return QString::fromUtf8(lastError_());
  }

  QStringList calls() const {
    if (!ok()) return {};
    return QString::fromUtf8(calls_()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  void clearCalls() {
    if (ok()) clear_();
  }

 private:
  QString path_;
  QString error_;
  platform::Module module_;
  int (*load_)(const char*) = nullptr;
  const char* (*calls_)() = nullptr;
  const char* (*lastError_)() = nullptr;
  void (*clear_)() = nullptr;
};
