// Ending the program from outside the way a user ends it: a termination request (SIGTERM,
// as a session ending sends it) closes the main window, which runs its close query and lets
// the program close every table. Until the main window exists the request waits.
// HoldTerminate is called once at the start of main; CloseOnTerminate once the main window
// is made. GUI thread.
//
// While the main window exists an engine error does not end the program either
// (KeepRunningOnEngineErrors): it is raised as the engine's exception, which the operation's
// own handler (e.g. "Kunne ikke åbne datafilerne igen") or the event loop's guard shows, and
// the program goes on. Where a throw would end the program itself (an exception is already
// unwinding, as through a destructor) the message is shown at once and the operation goes on
// as with error checking off. Before the window exists and once it is going, the engine's
// halt ("Program halted.") stands.
#pragma once

class QWidget;

namespace kj {

void HoldTerminate();
void CloseOnTerminate(QWidget* mainWindow);
void KeepRunningOnEngineErrors(bool on);

}  // namespace kj
