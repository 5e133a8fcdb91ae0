// Runs without anyone to answer: headless, no question may wait for a person.
#pragma once

#include <QString>
#include <functional>

namespace unattended {

// True when QUILLMOSS_UNATTENDED is set to 1.
bool requested();

// Why nobody can answer: there is no display (the program then runs on Qt's
// offscreen platform), or the unattended mode was asked for.
enum class Reason { NoDisplay, Requested };

// Answers every question the program may ask with its safe choice, and
// reports each on `report` (standard error when empty): a message box is
// acknowledged and a question answered no; an existing file is kept; a
// password prompt is confirmed as it stands (empty unless password.txt filled
// it in), and cancelled empty when it comes back because that password was
// wrong, so an archive is tried with it once; a request for the next volume
// is cancelled; a folder chooser picks nothing. Failures of the run are
// reported the same way. Control characters in a report (an entry's name may
// hold any) reach it as escapes such as \x1b.
// The reports name the reason only where it is the reason.
void install(Reason reason, std::function<void(const QString&)> report = {});

}  // namespace unattended
