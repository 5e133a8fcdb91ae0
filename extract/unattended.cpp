#include "unattended.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <cstdio>

#include "modal.h"
#include "path_bytes.h"
#include "untOverWritePrompt.h"
#include "untUnRarDemo.h"

namespace unattended {

bool requested() {
  return qEnvironmentVariable("QUILLMOSS_UNATTENDED") == QLatin1String("1");
}

void install(Reason reason, std::function<void(const QString&)> report) {
  const QString why = reason == Reason::NoDisplay ? QStringLiteral("without a display")
                                                  : QStringLiteral("in an unattended run");
  if (!report)
    report = [](const QString& line) {
      std::fprintf(stderr, "quillmoss: %s\n", line.toLocal8Bit().constData());
      std::fflush(stderr);
    };
  // Entry names come from the archive: an escape sequence in one would drive
  // the terminal the report is read on.
  report = [write = std::move(report)](const QString& line) {
    write(platform::escapeControls(line));
  };
  using platform::Modal;
  using platform::Question;
  platform::setAnswerer(Modal::MessageBox, [report](Question& box) {
    // A question keeps its preset answer, no.
    if (box.icon == platform::BoxIcon::Question) {
      report(QStringLiteral("answered no (no one to ask): ") + box.text);
      return;
    }
    report(box.caption.isEmpty() ? box.text : box.caption + QStringLiteral(": ") + box.text);
  });
  platform::setDialogAnswerer<TfrmOverWrite>(
      Modal::OverwritePrompt, [report](TfrmOverWrite& prompt) {
        report(QStringLiteral("kept the existing file ") + prompt.fileName() +
               QStringLiteral(" (no one to ask)"));
        prompt.done(7);
      });
  platform::setDialogAnswerer(Modal::PasswordPrompt, [report, why](QDialog& prompt) {
    QLineEdit* field = prompt.findChild<QLineEdit*>();
    // Asked again, the password from password.txt was refused: once per
    // archive is enough, so the prompt is cancelled with nothing typed.
    if (prompt.findChild<QLabel*>(QStringLiteral("lblWrongPassword"))) {
      report(QStringLiteral("the password from password.txt is wrong; no other can be typed ") +
             why);
      if (field) field->clear();
      prompt.reject();
      return;
    }
    report(field && !field->text().isEmpty()
               ? QStringLiteral("a password is needed; the one from password.txt is used")
               : QStringLiteral("a password is needed; none can be typed ") + why);
    prompt.accept();
  });
  platform::setDialogAnswerer(Modal::VolumePrompt, [report, why](QDialog& prompt) {
    report(QStringLiteral("the next volume is missing; none can be chosen ") + why);
    prompt.reject();
  });
  platform::setDialogAnswerer(Modal::StatusDialog, [](QDialog& dialog) { dialog.accept(); });
  // Both choosers pick nothing.
  platform::setAnswerer(Modal::FolderChooser, [](Question&) {});
  platform::setAnswerer(Modal::OpenChooser, [](Question&) {});
  // The window never shows its status lines in an automatic run; here the
  // failures among them are the only account of what went wrong.
  SetErrorObserver([report](const QString& line) { report(QStringLiteral("error: ") + line); });
}

}  // namespace unattended
