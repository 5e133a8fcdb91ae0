#include "fixed_dialog.h"

#include <algorithm>

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

void centreOverOwner(QWidget& dialog, ScreenArea area) {
  const QWidget* owner = dialog.parentWidget() ? dialog.parentWidget()->window() : nullptr;
  if (!owner || !owner->isVisible()) return centreOnScreen(dialog, area);
  const QScreen* shown = owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
  QRect placed(QPoint(), dialog.frameGeometry().size());
  placed.moveCenter(owner->frameGeometry().center());
  if (shown) {
    const QRect screenArea =
        area == ScreenArea::Available ? shown->availableGeometry() : shown->geometry();
    placed.moveLeft(std::max(screenArea.left(),
                             std::min(placed.left(), screenArea.right() - placed.width() + 1)));
    placed.moveTop(std::max(screenArea.top(),
                            std::min(placed.top(), screenArea.bottom() - placed.height() + 1)));
  }
  dialog.move(placed.topLeft());
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
    centreOverOwner(*this);
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
