// A fixture for the program's archive component driving our own libunrar.so
// from the build's bin/ folder, extracting into a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

#include "VxUnRar.h"
#include "modal.h"
#include "untUnRar.h"

class ComponentOnLibunrar : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    untUnRar::SetUnRarLibraryPath(QStringLiteral(QUILLMOSS_BIN_DIR "/libunrar.so"));
    vx = std::make_unique<TVxUnRar>();
    ASSERT_TRUE(vx->DllLoaded()) << untUnRar::UnRarLibraryError().toStdString();
    target = dir.filePath(QStringLiteral("out"));
    QDir().mkpath(target);
    vx->SetDirectory(target);
    vx->OnError = [this](QObject*, QString m, int id) {
      errors << QStringLiteral("%1 %2").arg(id).arg(m);
    };
  }
  void TearDown() override {
    vx.reset();
    untUnRar::SetUnRarLibraryPath(QString());
    platform::clearAnswerers();
  }

  QByteArray read(const QString& relative) const {
    QFile f(target + QLatin1Char('/') + relative);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  QTemporaryDir dir;
  QString target;
  std::unique_ptr<TVxUnRar> vx;
  QStringList errors;
};
