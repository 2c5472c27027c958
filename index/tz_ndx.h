// The index engine (TzNdx): one open multiple-index file per work area, the controlling
// order, key search, moving through records in key order and keeping every tag up to date
// when records are appended or rewritten. The table engine reaches it through the hooks
// that Install() puts into Dbf4::indexHooks; callers use the routines below after selecting
// their work area. One process-wide engine state, not thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace TzNdx {

// Fills Dbf4::indexHooks (and installs the expression language). Called once at start-up;
// calling it again does no harm.
void Install();
// The index engine's process-wide state back at start-up: no search result, searches on
// partial keys, no progress or disk-space proc, the default semaphore read time-out.
// Open index files belong to their areas (Dbf4::ResetState closes them). Part of
// TzEngine::Reset.
void ResetState();

// ---- Opening, closing, orders
// Opens an index file for the current area (a name without folder lies in the table's
// folder). A file marked for rebuilding while no other station has it open is refused
// with 223, like a damaged one (222).
void SetIndexTo(const std::string& fileName);
void CloseIndex();
void Set_Order_To(int n);
// A name selects the first tag whose name begins with it (case-insensitively); "" selects
// natural order. False (with error 220) when no tag matches.
bool SetOrderToTag(const std::string& name);
int CurrentOrder();
std::string CurrentTagName();
std::string Mdx();
int TagCount();
std::string TagName(int n);  // 1..TagCount
std::string TagExpression(int n);
std::string TagForCondition(int n);
bool TagDescending(int n);
bool TagUnique(int n);
// Text naming tag n in messages: index file + " [tag: NAME]".
std::string TagText(int n);

// ---- Search
// Searches the controlling tag; with the near switch off a miss leaves the area at end of
// file, with it on on the next greater key.
bool Find(const std::string& key);
bool FindNear(const std::string& key);
bool Found();
bool SetExact(bool on);  // answers the previous value

// ---- Positioning and key maintenance (also reached through the hooks)
void SyncIndex();
void AppendNewKey();
void KeepOldKeys();
void UpdateChangedKeys();
void SetReadSemaphoreProc(int take);
// take: 1 (or Dbf4::kTakeForAppend, which first reserves the room the new record's keys
// may need and refuses the append with 227 on a full disk), 0 releases.
void SetLockSemaphoreProc(int take);
// True while a station waits to change the current area's index (one lock test). A walk
// that holds the read count across many steps lets go when it sees one.
bool IndexWritersWaiting();
// Takes the current area's append lock, waiting up to waitMs while other stations hold it:
// in turn behind the stations that already wait to change the area's index, with short
// pauses, letting waiting messages through after a refused try. Meanwhile the station is
// one of the index's waiting writers (readers stand back for it); it stays one after the
// lock is granted until its index change begins or LeaveWriteQueue, which the caller runs
// after letting the lock go. False (the queue left) when the wait ran out.
bool ALockInTurn(int waitMs);
void LeaveWriteQueue();
// After a change whose record was written but whose keys could not follow (a failed page
// write, and no room to build the tags again): the failed write's code, while the index
// waits for its repair (the next change or lone open); 0 otherwise.
uint16_t UnfinishedChange();
// False while the current area's outermost read-lock call is held but could not count this
// station in (a failure reported with error checking off); true otherwise.
bool ReadCounted();
void FlushFile();

// The engine's error routine: records the code and message and, while error checking is
// off, raises ETzError. Answers the code.
uint16_t Error(uint16_t code, const std::string& message);

// Byte of the file header that says key maintenance was under way: set before the first
// page of a change is written and cleared when the change is complete. Found set by a
// station that is alone with the file, it means keys may disagree with the table.
inline constexpr size_t kMaintenanceMark = 30;

}  // namespace TzNdx
