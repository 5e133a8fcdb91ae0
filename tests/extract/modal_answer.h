// Answers the next modal dialog from inside its own loop, waiting for it to show.
#pragma once

#include <functional>
#include <memory>

#include <QApplication>
#include <QTimer>
#include <QWidget>

// Polls for the modal widget for up to five seconds; the answer should close it.
inline void answerNextModal(std::function<void(QWidget&)> answer) {
  auto* poll = new QTimer;
  auto tries = std::make_shared<int>(0);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, tries, answer = std::move(answer)] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      poll->stop();
      poll->deleteLater();
      answer(*modal);
    } else if (++*tries > 500) {
      poll->stop();
      poll->deleteLater();
    }
  });
  poll->start(10);
}
