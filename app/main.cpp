#include <QFile>
#include <QPlainTextEdit>
#include <QTextStream>

#include "startup.h"
#include "unattended.h"
#include "untConfig.h"
#include "untStatus.h"
#include "untUnRarDemo.h"

namespace {

// Beside the message boxes that start-up answers for end-to-end tests
// (QUILLMOSS_TEST_ANSWER_BOXES), the status dialog is closed and recorded in
// the same file: its caption, its lines with "\n" between them, and 0.
void answerStatusDialogForTests() {
  const QString log = qEnvironmentVariable("QUILLMOSS_TEST_ANSWER_BOXES");
  if (log.isEmpty()) return;
  SetStatusDialogAnswerer([log](TfrmStatus& dialog) {
    QFile file(log);
    if (file.open(QIODevice::Append | QIODevice::Text)) {
      QTextStream out(&file);
      out << dialog.windowTitle() << '\t'
          << dialog.mmStatus()->toPlainText().replace(QLatin1Char('\n'), QStringLiteral("\\n"))
          << "\t0\n";
    }
    dialog.accept();
  });
}

}  // namespace

int main(int argc, char** argv) {
  if (unattended::requested())
    unattended::install();
  else
    answerStatusDialogForTests();
  const int status =
      startup::Run(argc, argv, {[] { return new TfrmMain; }, [] { return new TfrmConfig; }});
  return status != 0 ? status : AutomaticRunExitCode();
}
