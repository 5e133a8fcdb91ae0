// Prints what a component constructed beside this executable sees; a test
// copies this program into a folder with the side files it wants to try.
// Usage: vxunrar_probe [prompt]
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

#include "VxUnRar.h"
#include "modal.h"

namespace {

void print(const char* key, const QString& value) {
  std::printf("%s=%s\n", key, value.toUtf8().toHex().constData());
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  try {
    TVxUnRar component;
    std::printf("loaded=%d\nversion=%d\n", component.DllLoaded() ? 1 : 0, component.DllVersion());
    print("password", component.Password());
    if (argc > 1 && QByteArray(argv[1]) == "prompt") {
      QString initial;
      platform::setDialogAnswerer(platform::Modal::PasswordPrompt, [&](QDialog& dialog) {
        initial = dialog.findChild<QLineEdit*>(QStringLiteral("edtPrompt"))->text();
        dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
      });
      QString password = QStringLiteral("before");
      component.PromptPassword(password);
      print("initial", initial);
      print("prompted", password);
    }
  } catch (const EVxUnRarError& error) {
    print("error", error.message());
    return 3;
  }
  return 0;
}
