#include "startup.h"
#include "untConfig.h"
#include "untUnRarDemo.h"

int main(int argc, char** argv) {
  return startup::Run(argc, argv, {[] { return new TfrmMain; }, [] { return new TfrmConfig; }});
}
