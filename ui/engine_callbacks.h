// Connects the table engine to the user interface at start-up: the error box goes through
// the dialog service, "let waiting messages through" processes Qt events, and the message
// window is a TzMsgWindow; the dataset components' progress window and messages go the same
// ways (tz_progress.h). Call once, after the QApplication exists.
//
// Letting messages through while the engine waits (for a lock, a semaphore, a transfer)
// repaints and keeps timers and posted events going, but runs no user input: keys, mouse
// clicks and closing requests wait until the engine is done. The work area that was
// selected before is selected again afterwards, whatever the events did.
#pragma once

namespace kjqt {

void InstallEngineCallbacks();

// The engine's idle procedure (installed by InstallEngineCallbacks).
void LetMessagesThrough();

// True while LetMessagesThrough runs: a window must not close a table or move a cursor then.
bool InEngineWait();

}  // namespace kjqt
