// Carrying the time sheet's scratch rows into the postings table: the sweep that drops rows
// without employee, case or item, and the transfer under the postings table's file lock.
// No row is lost or doubled, whatever stops the program:
//  1. A scratch row stays visible until its posting has landed; it is marked deleted right
//     after, so the rows left visible after a run are exactly the ones still to carry.
//  2. Before its append a row gets a landing mark in `filler`: "@" and 16 random
//     hexadecimal digits, never reused. The posting carries the same mark in its own
//     `filler` (a reserved field nothing else reads), so the mark survives the edits made
//     to a posting afterwards (an invoice number stamped on it) and packs (record numbers
//     shift). A run that finds a marked row appends its posting only when no posting, live
//     or marked deleted, carries that mark.
// GUI thread; the caller owns the scratch table (open, shared or exclusive).
#pragma once

#include <functional>
#include <string>

namespace TzDs {
class TTzDbf;
}

namespace kj {

// Process-wide hooks of the transfer, for the tests (empty in the program).
struct TransferHooks {
    std::function<void()> lockRefused;  // after each refused file lock
    std::function<void(int)> landed;    // after the n-th append, before its mark
    std::function<void(int)> done;      // after the n-th row was marked done
};
TransferHooks& TransferHooksState();

// Marks deleted each visible scratch row whose employee, case or item is blank (each under
// its record lock; a refused lock leaves the row). The number of rows dropped.
int SweepTimeSheet(TzDs::TTzDbf& timer);

// Visible rows of the scratch table (engine count, not through the buffers).
int PendingTimeSheetRows(TzDs::TTzDbf& timer);

// Takes the postings table's file lock, retrying without limit; after each refusal it
// shows `waiting` through status and lets window messages through.
void FLockWaiting(TzDs::TTzDbf& table, const std::function<void(const std::string&)>& status,
                  const std::string& waiting);

// Carries every visible scratch row into `post` under its file lock (see the invariants);
// the number of postings appended. The components are resynchronised afterwards.
int CarryTimeSheet(TzDs::TTzDbf& timer, TzDs::TTzDbf& post,
                   const std::function<void(const std::string&)>& status);

}  // namespace kj
