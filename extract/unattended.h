// Runs without anyone to answer: headless, no question may wait for a person.
#pragma once

#include <QString>
#include <functional>

namespace unattended {

// True when QUILLMOSS_UNATTENDED is set to 1 (scripts/run.sh sets it when it
// runs the program without a display).
bool requested();

// Answers every question the program may ask with its safe choice, and
// reports each on `report` (standard error when empty): a message box is
// acknowledged; an existing file is kept; a password prompt is confirmed as
// it stands (empty unless password.txt filled it in); a request for the next
// volume is cancelled; a folder chooser picks nothing. Failures of the run are
// reported the same way. Control characters in a report (an entry's name may
// hold any) reach it as escapes such as \x1b.
void install(std::function<void(const QString&)> report = {});

}  // namespace unattended
