#include "untConfig.h"

TfrmConfig::TfrmConfig(QWidget* parent) : QWidget(parent) {}

TfrmConfig::~TfrmConfig() = default;
