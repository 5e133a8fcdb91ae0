// The program's fixed-size modal dialogs: a title bar with the close box only,
// centred over the window they belong to when shown (centreOverOwner), and deaf to Escape, so that
// a stray key press never answers for the user. Closing through the close box ends one with 2
// (cancel).
#pragma once

#include <QDialog>

class QKeyEvent;

namespace platform {

// Places the widget's frame in the middle of its screen (the primary one while it
// has none): of the whole screen, or of the part that panels leave free.
enum class ScreenArea { Whole, Available };
void centreOnScreen(QWidget& widget, ScreenArea area = ScreenArea::Whole);

// Places a dialog over the window it belongs to (its parent's window) while
// that window is shown, else in the middle of the screen; either way within the
// screen. On Wayland the compositor places it, over its parent.
void centreOverOwner(QWidget& dialog, ScreenArea area = ScreenArea::Whole);

// Accepts a key press of Escape, whatever the modifiers, and says whether it was one.
bool swallowEscape(QKeyEvent* event);

class FixedDialog : public QDialog {
  Q_OBJECT
 public:
  explicit FixedDialog(QWidget* parent = nullptr);

  void setVisible(bool visible) override;

 public slots:
  void reject() override;

 protected:
  // Runs before the dialog is centred on being shown, so a dialog that sizes
  // itself to its content appears centred at its final size.
  virtual void fitBeforeShown() {}
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace platform
