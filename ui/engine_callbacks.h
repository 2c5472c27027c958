// Connects the table engine to the user interface at start-up: the error box goes through
// the dialog service, "let waiting messages through" processes Qt events, and the message
// window is a TzMsgWindow; the dataset components' progress window and messages go the same
// ways (tz_progress.h). Call once, after the QApplication exists.
#pragma once

namespace kjqt {

void InstallEngineCallbacks();

}  // namespace kjqt
