// The application object: the one place where an error escaping an event
// handler is caught and shown. It gives every window the program's icon.
#pragma once

#include <QApplication>

class TQuillmossApplication : public QApplication {
  Q_OBJECT
 public:
  TQuillmossApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
