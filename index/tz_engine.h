// The engine as one whole: the start-up that ties its units together and the reset tests use.
//
// The table engine reaches its other units through hooks (storage/hooks.h): the index
// engine, the expression parser, memo files and virtual files. Startup installs all of
// them; without it a table opens with no index maintenance and no memo file, silently.
// The program calls it once before it opens a table; every file dataset (data/) calls it
// when it is made; tests get it through Reset.
//
// Process-wide state per unit, and the reset of each (all run by Reset):
//   the table engine's units   TzStorage::Reset (storage/tz_storage.h lists them)
//   expression language        TzParser::ResetState
//   index engine and build     TzNdx::ResetState
// The dataset layer's settings are reset by TzDs::ResetState (data/tz_messages.h), which
// runs this Reset first.
#pragma once

namespace TzEngine {

// Installs every unit into the table engine: the index engine (with the expression
// parser), memo files and virtual files. Calling it again does no harm.
void Startup();

// Every unit back at its start-up state (every work area closed, every setting at its
// default, the error state cleared), then Startup. For tests and benchmarks, before each
// test; the program never needs it.
void Reset();

}  // namespace TzEngine
