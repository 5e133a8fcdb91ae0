// The instructions window shown when the program starts without an archive.
#pragma once

#include <QWidget>

class TfrmConfig : public QWidget {
  Q_OBJECT
 public:
  explicit TfrmConfig(QWidget* parent = nullptr);
  ~TfrmConfig() override;
};
