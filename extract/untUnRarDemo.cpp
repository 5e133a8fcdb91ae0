#include "untUnRarDemo.h"

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {}

TfrmMain::~TfrmMain() = default;
