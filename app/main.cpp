#include "startup.h"
#include "unattended.h"
#include "untConfig.h"
#include "untUnRarDemo.h"

int main(int argc, char** argv) {
  if (unattended::requested()) unattended::install();
  return startup::Run(argc, argv, {[] { return new TfrmMain; }, [] { return new TfrmConfig; }});
}
