#include <QLocale>

#include "startup.h"
#include "unattended.h"
#include "untConfig.h"
#include "untUnRarDemo.h"

int main(int argc, char** argv) {
  const startup::BeforeQt early = startup::DecideBeforeQt(argc, argv);
  if (early.exitCode) return *early.exitCode;
  if (early.noDisplay)
    unattended::install(unattended::Reason::NoDisplay);
  else if (unattended::requested())
    unattended::install(unattended::Reason::Requested);
  return startup::Run(argc, argv,
                      {[](const QString& archive) { return new TfrmMain(archive); },
                       [] { return new TfrmConfig(QLocale::system()); },
                       [](const QWidget& window) {
                         return static_cast<const TfrmMain&>(window).AutomaticRunExitCode();
                       }});
}
