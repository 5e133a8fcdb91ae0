// The extraction window: banner, progress bar, and the hidden archive browser.
#pragma once

#include <QMainWindow>

class TfrmMain : public QMainWindow {
  Q_OBJECT
 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;
};
