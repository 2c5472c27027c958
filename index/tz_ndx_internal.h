// State the index engine keeps per work area, and helpers shared by its sources (open and
// navigation, key maintenance, the build). Internal to index/.
//
// Invariants of an AreaIndex (hung on WorkArea::indexExt while an index file is open):
//  1. tags[i] is tag number i + 1 of the file; order is 0 (natural) or 1..tags.size().
//  2. atEnd / atBegin are the controlling tag's end flags; the tree of the controlling tag
//     stands on the area's current record whenever the area is on a record that has a key.
//  3. readNest / lockNest count the engine's read and update lock calls that the caller
//     will release (a raised failure counts nothing); the semaphore actions happen only at
//     the outermost level, and readHeld / lockHeld say whether they succeeded there. The
//     file header is flushed and the maintenance mark cleared before the outermost update
//     lock is released. No page changes without lockHeld.
//  4. markWritten: the maintenance mark is set in the file; failed: a change failed part-way,
//     so the mark stays set until the tags are built again (at the next update lock, or at
//     the next lone open).
//  5. markSeen: the header last read again after another station's change carried the
//     maintenance mark, and this station has not yet taken the writer lock since (which
//     builds the tags again). repairRefused: that build failed here; reads are refused
//     until the header, read again after another station's change, no longer carries it.
//     lockMissed: it failed because other stations' read counts kept the writer lock
//     away; the next reads try that lock once, without waiting, until they have it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "expr/expr_eval.h"
#include "index/mdx_format.h"
#include "index/mdx_semaphore.h"
#include "index/mdx_tree.h"
#include "storage/work_area.h"

namespace TzNdx::internal {

struct AreaIndex;

struct TagInfo {
    Mdx::MdxTag tree;
    AreaIndex* owner = nullptr;  // the index the tag belongs to
    TzParser::ExprBlock* key = nullptr;
    TzParser::ExprBlock* forCond = nullptr;
    char type = 'C';
    int keyLength = 0;
    std::string name;
    // Keys of the record before a rewrite (keep-old-keys).
    std::vector<uint8_t> oldKey;
    bool oldHas = false;

    TagInfo() = default;
    TagInfo(const TagInfo&) = delete;
    TagInfo& operator=(const TagInfo&) = delete;
    ~TagInfo();
};

struct AreaIndex {
    Mdx::MdxFile file;
    Mdx::IndexSemaphore sem;
    std::vector<std::unique_ptr<TagInfo>> tags;
    int order = 0;
    bool atEnd = false;
    bool atBegin = false;
    int readNest = 0;
    int lockNest = 0;
    bool readHeld = false;
    bool lockHeld = false;
    bool markWritten = false;
    bool failed = false;
    // A key change failed after its record was written: the tags are built again before
    // the update lock goes.
    bool changeFailed = false;
    // The code of the write that failed the last change (0: none); kept while the tags wait
    // for a repair.
    uint16_t failCode = 0;
    // That write failed for lack of room (ENOSPC, EDQUOT, 227): a repair waits for free
    // room. Another write error (EIO) is no full disk, and the repair does not wait.
    bool failNoRoom = false;
    bool markSeen = false;
    bool repairRefused = false;
    bool lockMissed = false;
    // The table was found holding fewer records than its header said when it was opened:
    // the writer lock taken at the index's open builds every tag again, mark or no mark.
    bool rebuildDue = false;
    // The disk's free room (KB) when reads were last refused for lack of room to repair
    // the tags (-1: none refused so): the repair is tried again once there is more.
    int64_t freeKBAtRefusal = -1;
    // Where the disk's free room is unknown: when the repair may be tried again.
    std::chrono::steady_clock::time_point retryRepairAt;
    // This station has written pages that no tag leads to yet (a tag being added): a build
    // of the tags inside the file then puts none of its pages into pages no tag uses.
    bool unenteredPages = false;
    bool shared = false;  // opened for sharing (other stations may have it open)
    // The end of the room this station last reserved past the index file's end (0: none
    // yet); a change reserves again only once the file's end comes near it.
    uint64_t reservedEnd = 0;
    // Set while the engine moves the area to the record its controlling tag stands on:
    // positioning the tag again is then not needed.
    bool placing = false;
    int areaNo = 0;
};

AreaIndex* IndexOf(Dbf4::WorkArea* a);
// The current area (null after "No database in use [routine]").
Dbf4::WorkArea* AreaFor(const char* routine);
// The current area's index; null after 221 "Index not open..." (or no table).
AreaIndex* RequireIndex(const char* routine);
TagInfo* Controlling(AreaIndex& x);

// Key compare for a key type (ascending).
Mdx::KeyCompare CompareFor(char type);
// Normalised key expression: outside quotes upper case without blanks and tabs, both quote
// marks as double quotes.
std::string NormaliseExpr(const std::string& text);
// Compiles a tag's key or FOR expression: the normalised text when that compiles, else the
// text as written, whose failure is reported (the same outcome in every error mode).
TzParser::ExprBlock* AssignTagExpr(const std::string& text);

// Builds the key of the area's current record for the tag into out (keyLength bytes).
// False when the tag's FOR condition excludes the record.
bool MakeKey(Dbf4::WorkArea& a, TagInfo& t, uint8_t* out);
// Converts a character key text the way keys are stored (OEM for OEM tables), padded or
// cut to len bytes.
void CharKeyBytes(const Dbf4::WorkArea& a, const char* text, size_t n, int len, uint8_t* out);

// Reads the file again after another station changed it (header, tag headers, cache).
void RefreshAfterChange(Dbf4::WorkArea& a, AreaIndex& x);
// Notes the code of the write that failed the last change, and whether it was for lack
// of room (asked now, while the file layer still knows what the 101 stood for).
void NoteFailCode(AreaIndex& x, uint16_t code);
// This station's own change failed for lack of room after its record was written, and the
// tags could not be built again yet: keys of that record are missing from them.
bool KeysLagBehind(const AreaIndex& x);
// After a repair failed for lack of room: the free room then, so that the repair is tried
// again only once there is more.
void NoteRoomAtFailure(AreaIndex& x);
// Free room on the disk of path in KB (-1: unknown), as index builds see it (a test may
// stand in for the disk: SetDiskFreeProc).
int64_t DiskFree(const std::string& path);
// Whether the record of t's current entry is one of the table's (a number beyond the count
// is counted again from the file first); 0 or a number beyond the file's records is a
// damaged index: 222 is reported and the file noted damaged, so that the tags are built
// again at the next lock.
bool EntryInTable(Dbf4::WorkArea& a, AreaIndex& x, TagInfo& t);
// The maintenance mark is written before the first change of an update lock.
uint16_t BeginChange(AreaIndex& x);
// A change failed part-way after its record was written: the mark stays and the tags are
// built again before the update lock goes; the record counts as saved, nothing is reported.
void ChangeFailed(AreaIndex& x);
// Loads tag n of the open file and appends it to x.tags.
uint16_t LoadTag(AreaIndex& x, int n);
// Builds every tag of the open file again inside it, under the writer lock (tz_ndx_build).
// 0 or the failure's code; nothing is raised or reported.
uint16_t RebuildInPlace(Dbf4::WorkArea& a, AreaIndex& x);

// How SyncTag answers a record whose entry it cannot find: 212 with the SyncIndex texts
// ("[SyncIndex-1]" when the key is missing, "[SyncIndex-2]" when the key is there but not
// for this record), the same texts ending in "[SoftSyncIndex]", or nothing.
enum class SyncReport { kSync, kSoft, kQuiet };
// Positions tag t on the area's current record.
uint16_t SyncTag(Dbf4::WorkArea& a, AreaIndex& x, TagInfo& t, SyncReport report);

// Frees the per-area state (used as WorkArea::indexExtFree).
void FreeAreaIndex(void* p);

}  // namespace TzNdx::internal
