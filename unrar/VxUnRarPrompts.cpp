// The password and next-volume prompts, built in code when the library asks.
#include <QDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
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

// The folder a path lies in; the path itself when it names a folder.
QString folderOf(const QString& path) {
  const QFileInfo info(path);
  return info.isDir() ? path : info.path();
}

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

// What a prompt says above its edit box, when it has something to say.
struct PromptNote {
  QString name;  // the label's objectName
  QString text;
};

constexpr int kChooserWidth = 75;

// Picks a file for the edit box, starting where its text points.
void ChooseFileFor(QDialog& form, QLineEdit& edit) {
  QFileDialog chooser(&form, QStringLiteral("Next Archive:"), folderOf(edit.text()));
  chooser.setObjectName(QStringLiteral("dlgChooseVolume"));
  chooser.setFileMode(QFileDialog::ExistingFile);
  chooser.setAcceptMode(QFileDialog::AcceptOpen);
  chooser.setNameFilters({QStringLiteral("RAR volumes (*.rar *.RAR *.r[0-9][0-9] *.R[0-9][0-9])"),
                          QStringLiteral("All files (*)")});
  platform::Question question;
  question.kind = platform::Modal::OpenChooser;
  question.owner = &form;
  question.dialog = &chooser;
  QString chosen;
  if (platform::answerInstead(question)) {
    chosen = question.chosen;
  } else if (chooser.exec() == QDialog::Accepted && !chooser.selectedFiles().isEmpty()) {
    chosen = chooser.selectedFiles().constFirst();
  }
  if (!chosen.isEmpty()) edit.setText(chosen);
}

PromptLayout BuildPrompt(TVxPromptForm& form, const QString& caption, bool masked,
                         const QString& initialText, const PromptNote& note = {},
                         bool chooser = false) {
  form.setWindowTitle(caption);
  // 268 pixels are too narrow for "Protected Archive - Enter Password:" in a
  // title bar: the desktop would shorten it. The prompt grows to its caption,
  // measured bold as title bars draw it, with room for the title bar's buttons.
  const int titleHeight = form.style()->pixelMetric(QStyle::PM_TitleBarHeight);
  QFont titleFont = form.font();
  titleFont.setBold(true);
  // A chooser beside the edit box widens the prompt by its own width, so the
  // edit box keeps its width for a path.
  const int chooserRoom = chooser ? kChooserWidth + 6 : 0;
  const int width = std::max(
      268 + chooserRoom, QFontMetrics(titleFont).horizontalAdvance(caption) + 4 * titleHeight + 16);
  // A note stands above the edit box, wrapped to the prompt's width; the rest
  // moves down by its height.
  int top = 0;
  QLabel* noteLabel = nullptr;
  if (!note.text.isEmpty()) {
    noteLabel = new QLabel(note.text, &form);
    noteLabel->setObjectName(note.name);
    noteLabel->setTextFormat(Qt::PlainText);
    noteLabel->setWordWrap(true);
    const int noteHeight = noteLabel->heightForWidth(width - 15);
    noteLabel->setGeometry(8, 8, width - 15, noteHeight);
    top = noteHeight + 6;
  }
  form.setFixedSize(width, 69 + top);
  form.setBackgroundRole(QPalette::Button);
  form.setAutoFillBackground(true);

  auto* edit = new QLineEdit(&form);
  edit->setObjectName(QStringLiteral("edtPrompt"));
  edit->setGeometry(8, 8 + top, width - 15 - chooserRoom, 21);
  // Typing stops at 120 characters; a longer text given to start with (a
  // volume path, a line of password.txt) is kept whole, never cut.
  edit->setMaxLength(std::max<int>(kTypedLimit, static_cast<int>(initialText.size())));
  if (masked) {
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));
  }
  edit->setText(initialText);
  if (noteLabel) noteLabel->setBuddy(edit);

  auto* ok = new QPushButton(QStringLiteral("OK"), &form);
  ok->setObjectName(QStringLiteral("btnOk"));
  ok->setGeometry(width - 161, 37 + top, 75, 25);
  ok->setDefault(true);
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), &form);
  cancel->setObjectName(QStringLiteral("btnCancel"));
  cancel->setGeometry(width - 81, 37 + top, 75, 25);
  cancel->setAutoDefault(false);
  QWidget::setTabOrder(edit, ok);
  if (chooser) {
    auto* choose = new QPushButton(QStringLiteral("Browse..."), &form);
    choose->setObjectName(QStringLiteral("btnChoose"));
    choose->setAccessibleName(QStringLiteral("Choose the volume's file"));
    choose->setGeometry(width - 7 - kChooserWidth, 6 + top, kChooserWidth, 25);
    choose->setAutoDefault(false);
    QWidget::setTabOrder(edit, choose);
    QWidget::setTabOrder(choose, ok);
    QObject::connect(choose, &QPushButton::clicked, &form,
                     [&form, edit] { ChooseFileFor(form, *edit); });
  }
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

bool TVxUnRar::PromptPassword(QString& Password, bool Refused) {
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
  PromptNote note;
  if (Refused)
    note = {QStringLiteral("lblWrongPassword"),
            QStringLiteral("The password was wrong. Enter the right one, or Cancel to extract "
                           "no more encrypted entries.")};
  const PromptLayout layout =
      BuildPrompt(form, QStringLiteral("Protected Archive - Enter Password:"), true, initial, note);
  layout.edit->setAccessibleName(QStringLiteral("Password"));
  int result = 0;
  try {
    result = platform::execModal(form, platform::Modal::PasswordPrompt);
  } catch (...) {
    FPasswordDialog = nullptr;
    throw;
  }
  Password = layout.edit->text();
  FPasswordDialog = nullptr;
  return result == 1;
}

bool TVxUnRar::PromptNextVolume(const QString& InitialName, char* Buffer, int BufferSize,
                                const QString& Missing) {
  TVxPromptForm form(OwnerWindow());
  FVolumeDialog = &form;
  // The name is shown as a person can read it; left as shown, the volume's
  // own bytes go back, whatever of them is no UTF-8.
  const QString shown = platform::displayPath(InitialName);
  PromptNote note;
  if (!Missing.isEmpty())
    note = {QStringLiteral("lblMissingVolume"),
            QStringLiteral("Volume not found: ") +
                platform::escapeControls(platform::displayPath(Missing))};
  const PromptLayout layout =
      BuildPrompt(form, QStringLiteral("Next Archive:"), false, shown, note, true);
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
