// The password and next-volume prompts, built in code when the library asks.
#include <QDialog>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

#include "VxUnRar.h"
#include "VxUnRarConvert.h"
#include "executable.h"
#include "fixed_dialog.h"
#include "modal.h"
#include "path_bytes.h"
#include "text_file.h"

namespace {

constexpr int kTypedLimit = 120;

// Escape does not cancel these prompts: only the buttons and the window's
// close button end them.
class TVxPromptForm : public QDialog {
 public:
  explicit TVxPromptForm(QWidget* owner) : QDialog(owner) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    if (!platform::swallowEscape(event)) QDialog::keyPressEvent(event);
  }
};

// Shared by both buttons of a prompt: the OK button is known by its name.
void PromptButtonClick(QDialog& form, QObject* sender) {
  form.done(sender && sender->objectName() == QLatin1String("btnOk") ? 1 : 2);
}

struct PromptLayout {
  QLineEdit* edit = nullptr;
};

PromptLayout BuildPrompt(TVxPromptForm& form, const QString& caption, bool masked,
                         const QString& initialText) {
  form.setWindowTitle(caption);
  // 268 pixels are too narrow for "Protected Archive - Enter Password:" in a
  // title bar: the desktop would shorten it. The prompt grows to its caption,
  // measured bold as title bars draw it, with room for the title bar's buttons.
  const int titleHeight = form.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  QFont titleFont = form.font();
  titleFont.setBold(true);
  const int width =
      std::max(268, QFontMetrics(titleFont).horizontalAdvance(caption) + 4 * titleHeight + 16);
  form.setFixedSize(width, 69);
  form.setBackgroundRole(QPalette::Button);
  form.setAutoFillBackground(true);

  auto* edit = new QLineEdit(&form);
  edit->setObjectName(QStringLiteral("edtPrompt"));
  edit->setGeometry(8, 8, width - 15, 21);
  // Typing stops at 120 characters; a longer text given to start with (a
  // volume path, a line of password.txt) is kept whole, never cut.
  edit->setMaxLength(std::max<int>(kTypedLimit, static_cast<int>(initialText.size())));
  if (masked) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  }
  edit->setText(initialText);

  auto* ok = new QPushButton(QStringLiteral("OK"), &form);
  ok->setObjectName(QStringLiteral("btnOk"));
  ok->setGeometry(width - 161, 37, 75, 25);
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), &form);
  cancel->setObjectName(QStringLiteral("btnCancel"));
  cancel->setGeometry(width - 81, 37, 75, 25);
  cancel->setAutoDefault(false);
  QWidget::setTabOrder(edit, ok);
  QWidget::setTabOrder(ok, cancel);
  QObject::connect(ok, &QPushButton::clicked, &form, [&form, ok] { PromptButtonClick(form, ok); });
  QObject::connect(cancel, &QPushButton::clicked, &form,
                   [&form, cancel] { PromptButtonClick(form, cancel); });

  platform::centreOverOwner(form, platform::ScreenArea::Available);
  edit->setFocus();
  return PromptLayout{edit};
}

}  // namespace

QWidget* TVxUnRar::OwnerWindow() const {
  for (QObject* owner = parent(); owner; owner = owner->parent()) {
    if (auto* widget = qobject_cast<QWidget*>(owner)) return widget->window();
  }
  return nullptr;
}

void TVxUnRar::PromptPassword(QString& Password) {
  QString initial;
  const QString file = platform::besideExecutable(QStringLiteral("password.txt"));
  if (platform::filePresent(file)) {
    // Read afresh for every prompt. A file that cannot be read counts as
    // absent: the error must not travel back through the library.
    try {
      initial = platform::readFirstLine(file);
    } catch (const platform::EInOutError&) {
      initial.clear();
    }
  }
  TVxPromptForm form(OwnerWindow());
  FPasswordDialog = &form;
  const PromptLayout layout =
      BuildPrompt(form, QStringLiteral("Protected Archive - Enter Password:"), true, initial);
  layout.edit->setAccessibleName(QStringLiteral("Password"));
  try {
    platform::execModal(form, platform::Modal::PasswordPrompt);
  } catch (...) {
    FPasswordDialog = nullptr;
    throw;
  }
  Password = layout.edit->text();
  FPasswordDialog = nullptr;
}

bool TVxUnRar::PromptNextVolume(const QString& InitialName, char* Buffer, int BufferSize) {
  TVxPromptForm form(OwnerWindow());
  FVolumeDialog = &form;
  // The name is shown as a person can read it; left as shown, the volume's
  // own bytes go back, whatever of them is no UTF-8.
  const QString shown = platform::displayPath(InitialName);
  const PromptLayout layout = BuildPrompt(form, QStringLiteral("Next Archive:"), false, shown);
  layout.edit->setAccessibleName(QStringLiteral("Next archive"));
  int result = 0;
  try {
    result = platform::execModal(form, platform::Modal::VolumePrompt);
  } catch (...) {
    FVolumeDialog = nullptr;
    throw;
  }
  const QString typed = layout.edit->text();
  vxunrar::CopyToBuffer(platform::pathToBytes(typed == shown ? InitialName : typed), Buffer,
                        BufferSize);
  FVolumeDialog = nullptr;
  return result == 1;
}
