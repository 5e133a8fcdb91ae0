// Shared set-up for the instructions window's tests: both settings stores and
// the side-file folder in a fresh temporary folder, boxes and shell requests
// recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include <QList>
#include <QLocale>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include "message_box.h"

#include <QWidget>

class TfrmConfig;

class InstructionsTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  QString userFolder() const { return dir.path() + QStringLiteral("/user"); }
  QString machineFolder() const { return dir.path() + QStringLiteral("/machine"); }
  QString sideFolder() const { return dir.path() + QStringLiteral("/side/"); }
  QString userFile() const { return userFolder() + QStringLiteral("/Brenvale/Quillmoss.conf"); }
  QString machineFile() const {
    return machineFolder() + QStringLiteral("/Brenvale/Quillmoss.conf");
  }

  // Writes an INI file as a person or an installer would.
  static void writeFile(const QString& path, const QByteArray& content);
  static QByteArray readFile(const QString& path);
  void setUserValue(const QByteArray& value);
  void setMachineValue(const QByteArray& value);
  // A machine-wide folder that can be neither created nor written, also as root.
  void makeMachineStoreUnwritable();
  void putSideFile(const QString& name, const QByteArray& content);

  // On a desktop in English unless another language is given.
  std::unique_ptr<TfrmConfig> createWindow(const QLocale& desktop = QLocale(QLocale::English));

  QTemporaryDir dir;
  QList<platform::Question> boxes;
  QList<QUrl> opened;
};

QStringList instructionLines(QWidget* window);

template <typename T>
T* control(QWidget* window, const char* name) {
  T* found = window->findChild<T*>(QLatin1String(name));
  EXPECT_NE(found, nullptr) << "no control " << name;
  return found;
}
