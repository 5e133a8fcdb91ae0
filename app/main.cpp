#include "startup.h"
#include "unattended.h"
#include "untConfig.h"
#include "untUnRarDemo.h"

int main(int argc, char** argv) {
  if (unattended::requested()) unattended::install();
  const int status =
      startup::Run(argc, argv, {[] { return new TfrmMain; }, [] { return new TfrmConfig; }});
  return status != 0 ? status : AutomaticRunExitCode();
}
