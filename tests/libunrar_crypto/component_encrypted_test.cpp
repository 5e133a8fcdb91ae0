// The program's archive component on our own library with encrypted archives:
// the double-click case of an archive whose names are encrypted must end with
// the password prompt and a correct extraction, with and without the counting
// pass that drives the progress bar.
#include <gtest/gtest.h>

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <memory>

#include "component_on_libunrar.h"
#include "modal.h"
#include "rar_writer.h"

namespace {

class EncryptedComponent
    : public ComponentOnLibunrar,
      public ::testing::WithParamInterface<std::tuple<rarwriter::Format, bool>> {};

TEST_P(EncryptedComponent, EncryptedNamesEndWithThePromptAndTheFiles) {
  const auto [format, withProgress] = GetParam();
  std::vector<rarwriter::Entry> entries(2);
  entries[0].name = "docs/secret.txt";
  entries[0].data = "names and data are hidden";
  entries[1].name = "other.bin";
  entries[1].data = std::string(70000, 'z');
  rarwriter::Options options;
  options.format = format;
  options.headerPassword = "double-click";
  const QString path = dir.filePath(QStringLiteral("hidden.rar"));
  rarwriter::write(path.toStdString(), entries, options);
  vx->SetFileName(path);
  vx->SetMode(VxRAR_EXTRACT);
  vx->SetCanProgress(withProgress);
  vx->SetPromptForPass(true);
  int asked = 0;
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& d) {
    ++asked;
    d.findChild<QLineEdit*>(QStringLiteral("edtPrompt"))->setText(QStringLiteral("double-click"));
    d.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  vx->Execute();
  // The counting pass opens the archive on its own and needs the names too, but
  // the password typed there is kept for the run: the question is put once.
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
  EXPECT_EQ(read(QStringLiteral("docs/secret.txt")), QByteArray("names and data are hidden"));
  EXPECT_EQ(read(QStringLiteral("other.bin")), QByteArray(70000, 'z'));
}

TEST_P(EncryptedComponent, AWrongAnswerExtractsNothing) {
  const auto [format, withProgress] = GetParam();
  std::vector<rarwriter::Entry> entries(1);
  entries[0].name = "secret.txt";
  entries[0].data = "hidden";
  rarwriter::Options options;
  options.format = format;
  options.headerPassword = "right";
  const QString path = dir.filePath(QStringLiteral("hidden.rar"));
  rarwriter::write(path.toStdString(), entries, options);
  vx->SetFileName(path);
  vx->SetMode(VxRAR_EXTRACT);
  vx->SetCanProgress(withProgress);
  vx->SetPromptForPass(true);
  platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& d) {
    d.findChild<QLineEdit*>(QStringLiteral("edtPrompt"))->setText(QStringLiteral("wrong"));
    d.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
  });
  vx->Execute();
  EXPECT_TRUE(QDir(target).isEmpty()) << "nothing may be written with a wrong password";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, EncryptedComponent,
    ::testing::Combine(::testing::Values(rarwriter::Format::Rar4, rarwriter::Format::Rar5),
                       ::testing::Bool()),
    [](const auto& p) {
      return std::string(std::get<0>(p.param) == rarwriter::Format::Rar4 ? "Rar4" : "Rar5") +
             (std::get<1>(p.param) ? "WithProgress" : "WithoutProgress");
    });

}  // namespace
