// Start-up and reset of the table engine's units as a whole.
//
// Process-wide state of the table engine, per unit, and what resets it:
//   error unit     TzCommon::ResetErrorState   pending code, message, checking, hooks
//   dates          TzCommon::ResetDateSettings  date style, century, epoch
//   work areas     Dbf4::ResetState            areas (closed), Settings, table-file settings,
//                                              confirm and search-hit procs, bulk-read cache
//   memo files     Memo::ResetState            MemoSettings
//   hooks          Dbf4::RemoveHooks           index, parser, memo and virtual-file hooks
//   file layer     tz::SetFaultInjector(nullptr)
// The units above the table engine add their own in TzEngine::Reset (index/tz_engine.h).
// What the user interface installs once for the process (the error box, the idle and
// terminating procs, the message-window procs) is kept.
#pragma once

namespace TzStorage {

// Installs the table engine's own units into it: memo files and virtual files. The program
// and the dataset components reach it through TzEngine::Startup, which installs the index
// engine and the expression parser too.
void Startup();

// Puts every unit of the table engine back at its start-up state, as listed above, with
// no hook installed (call Startup, or TzEngine::Startup, afterwards). For tests: the
// program never needs it.
void Reset();

}  // namespace TzStorage
