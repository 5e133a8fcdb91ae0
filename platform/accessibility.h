// What screen readers get to see of the program's windows.
#pragma once

namespace platform {

// Widgets that are hidden (the archive browser's controls during an automatic
// run, the picture holders of the instructions window) are left out of the
// accessibility tree: Qt lists every child of a plain container or a main
// window, shown or not, and screen readers then offer controls no one sees.
// The pages of a stack (a tab widget's pages) stay, as Qt gives them.
// Call once, after the application object exists.
void leaveHiddenWidgetsOutOfAccessibility();

}  // namespace platform
