// Ending the program from outside the way a user ends it: a termination request (SIGTERM,
// as a session ending sends it) closes the main window, which runs its close query and lets
// the program close every table. Until the main window exists the request waits.
// HoldTerminate is called once at the start of main; CloseOnTerminate once the main window
// is made. GUI thread.
#pragma once

class QWidget;

namespace kj {

void HoldTerminate();
void CloseOnTerminate(QWidget* mainWindow);

}  // namespace kj
