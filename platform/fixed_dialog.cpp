#include "fixed_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

namespace platform {

void centreOnScreen(QWidget& widget, ScreenArea area) {
  const QScreen* shown = widget.screen() ? widget.screen() : QGuiApplication::primaryScreen();
  if (!shown) return;
  const QRect screenArea =
      area == ScreenArea::Available ? shown->availableGeometry() : shown->geometry();
  widget.move(screenArea.center() - QPoint(widget.width() / 2, widget.height() / 2));
}

bool swallowEscape(QKeyEvent* event) {
  if (event->key() != Qt::Key_Escape) return false;
  event->accept();
  return true;
}

FixedDialog::FixedDialog(QWidget* parent) : QDialog(parent) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
}

void FixedDialog::setVisible(bool visible) {
  if (visible && !isVisible()) {
    fitBeforeShown();
    centreOnScreen(*this);
  }
  QDialog::setVisible(visible);
}

void FixedDialog::reject() {
  done(2);
}

void FixedDialog::keyPressEvent(QKeyEvent* event) {
  if (!swallowEscape(event)) QDialog::keyPressEvent(event);
}

}  // namespace platform
