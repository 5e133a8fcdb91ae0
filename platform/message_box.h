// Message boxes, with a seam so that tests answer them instead of a person.
#pragma once

#include <functional>

#include <QString>

class QWidget;

namespace platform {

enum class BoxIcon { None, Information, Warning, Error, Question };

struct BoxRequest {
  QString caption;
  QString text;
  BoxIcon icon = BoxIcon::None;
};

// While an answerer is set, every box is handed to it instead of being shown,
// and its return value is the box's modal result. Pass an empty function to
// show real boxes again.
using BoxAnswerer = std::function<int(const BoxRequest&)>;
void setBoxAnswerer(BoxAnswerer answerer);

// The text as a box shows it: every line break one break on screen, whether
// written as LF, CR, LF CR or CR LF (a message box would draw a pair as two).
QString boxDisplayText(const QString& text);

// A box with one OK button; returns its modal result (1 for OK). The answerer
// gets the text as given; the box shows boxDisplayText() of it, as plain text.
int messageBox(QWidget* parent, const QString& caption, const QString& text, BoxIcon icon);

// The text the standard error box shows: the message with a full stop appended
// when its last character sorts after ".".
QString standardErrorText(const QString& message);

// The standard error box for an error that escaped a handler: caption the
// application title, error icon, one OK button.
void showErrorBox(const QString& message);

}  // namespace platform
