// Message boxes, asked as every modal question is (see modal.h).
#pragma once

#include <QString>

#include "modal.h"

class QWidget;

namespace platform {

// The text as a box shows it: every line break one break on screen, whether
// written as LF, CR, LF CR or CR LF (a message box would draw a pair as two).
QString boxDisplayText(const QString& text);

// A box with one OK button; returns its modal result (1 for OK). An answerer
// gets the text as given; the box shows boxDisplayText() of it, as plain text.
int messageBox(QWidget* parent, const QString& caption, const QString& text, BoxIcon icon);

// A question box with Yes and No; No is the default and the answer of Escape
// and of the close box. Returns 6 (yes) or 7 (no); an answerer's result starts
// as 7, so an answerer that only looks leaves the answer no.
int questionBox(QWidget* parent, const QString& caption, const QString& text);

// The text the standard error box shows: the message with a full stop appended
// when its last character sorts after ".".
QString standardErrorText(const QString& message);

// The standard error box for an error that escaped a handler: caption the
// application title, error icon, one OK button. It belongs to the owner given,
// else to the active window.
void showErrorBox(const QString& message, QWidget* owner = nullptr);

}  // namespace platform
