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
  const int status = startup::Run(
      argc, argv, {[] { return new TfrmMain; }, [] { return new TfrmConfig(QLocale::system()); }});
  return status != 0 ? status : AutomaticRunExitCode();
}
