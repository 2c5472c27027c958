// The work-area record: one open table in one of the engine's numbered slots.
// Process-wide slot table, not thread-safe; the engine's commands act on the selected slot.
//
// Invariants of an open area:
//  1. 0 <= recNo <= recCount + 1; recNo == 0 only while the table is empty.
//  2. eof after a move past the end: recNo == recCount + 1 and a blank record buffer (a
//     failed WHILE condition sets eof on the record that failed it).
//  3. record holds recordLength bytes in file form, translated to ANSI after reading.
//  4. native holds nativeSize bytes, the typed form of record, unless `nativeStale` is set.
//  5. lockState == 3 exactly when locks is non-empty; locks.front() is the newest lock.
//  6. state: 0 closed, 1 clean, 2 modified in place, 3 appended since the last commit.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "storage/file_layer.h"

namespace Dbf4 {

struct FieldEntry {
    std::string name;    // upper case, at most 10 characters
    char type = 'C';     // C D F L M N
    uint8_t length = 0;  // stored length
    uint8_t decimals = 0;
    uint16_t offset = 0;        // within the record, counted from the delete flag
    uint16_t nativeOffset = 0;  // within the native record
};

using TranslateProc = void (*)(uint8_t* buf, size_t len);
using FilterFunc = bool (*)();
using RelationProc = void (*)();

// Lock states of an area.
enum : uint8_t { kLockNone = 0, kLockFile = 1, kLockAppend = 2, kLockRecords = 3 };
// Area states.
enum : uint8_t { kClosed = 0, kClean = 1, kModified = 2, kAppended = 3 };

struct WorkArea {
    std::string fileName;     // full path with extension
    uint8_t header[32] = {};  // the file's first 32 header bytes
    uint8_t version = 0;
    bool memo = false;
    int32_t headerLength = 0;
    uint16_t recordLength = 0;
    uint8_t fieldCount = 0;
    std::vector<FieldEntry> fields;
    uint8_t state = kClosed;
    std::string lastUpdate;  // MM/DD/YY
    std::vector<uint8_t> record;
    int32_t recCount = 0;
    // Most records the file was seen to hold while this area had it open: the file of a shared
    // table never shrinks while stations have it open, so fewer is a cut by another program.
    int32_t countSeen = 0;
    // The file holds padding after its end mark (rows past the records that begin with the
    // mark): an append writes the mark after its record before the record itself.
    bool padded = false;
    int32_t recNo = 0;
    bool eof = false;
    bool bof = false;
    bool oem = true;
    TranslateProc ansiToOem = nullptr;
    TranslateProc oemToAnsi = nullptr;
    tz::File file;
    bool isVirtual = false;
    void* virtualData = nullptr;  // owned by the virtual-file unit
    uint8_t* native = nullptr;
    uint16_t nativeSize = 0;
    std::vector<uint8_t> ownNative;  // used when the caller gave no buffer
    FilterFunc filterFunc = nullptr;
    void* filterExpr = nullptr;
    RelationProc relation = nullptr;
    bool inRelation = false;  // the relation is running (a relation moving its own area)
    std::string alias;
    FilterFunc whileFunc = nullptr;
    void* whileExpr = nullptr;
    uint8_t lockState = kLockNone;
    // Counts the file and append locks this area has taken; countedUnder is that count when
    // an append last read the record count from the file while holding such a lock. Until
    // the lock goes, no other station can append, so the count this area keeps stays true.
    uint32_t lockSerial = 0;
    uint32_t countedUnder = 0;
    std::deque<int32_t> locks;        // record numbers, newest first
    std::vector<uint8_t> swap;        // second native record for Replace
    std::vector<uint8_t> swapRecord;  // the caller's record buffer, kept the same way
    std::vector<uint8_t> outgoing;    // a record translated to the file's code page
    // Per field: the caller assigned a value (Dbf4::AssignField) since the native buffer was
    // last scattered; Replace and Append write such a field even when its value equals
    // what the stored bytes decode to.
    std::vector<uint8_t> assigned;
    bool exclusive = false;
    bool readOnly = false;
    // Lives as long as the area: a lock wait, which lets window messages through, holds it
    // weakly and so learns that a handler closed (and freed) the area.
    std::shared_ptr<const bool> life = std::make_shared<const bool>(true);
    // Set after a cut (pack or zap) that failed part way: the header is written but no
    // end-of-file mark, which could land on a record still in the file.
    bool noEofMark = false;
    // Set by an open that found the file holding fewer records than its header said (and
    // put the count right): the index opened next builds its tags again before any use.
    bool countCut = false;

    // Owned by the index engine: its per-area state (null when no index is open).
    void* indexExt = nullptr;
    void (*indexExtFree)(void*) = nullptr;
    // Owned by the memo unit.
    void* memoExt = nullptr;
    void (*memoExtFree)(void*) = nullptr;

    // After a forward move in natural order the record is completed lazily: `pending` says
    // `record` still holds the file's bytes, untranslated; `nativeStale` says `native` was
    // not yet scattered. Dbf4::RecordOf and Dbf4::NativeOf complete them; every reader of
    // the record or native buffer goes through those.
    bool pending = false;
    bool nativeStale = false;
    // While nativeStale is set, field i of `native` is already current when
    // fieldMark[i] == staleMark (Dbf4::FieldAddress completes one field at a time); every
    // setter of nativeStale calls TzDbfLow::MarkNativeStale, which moves staleMark on.
    uint64_t staleMark = 1;
    std::vector<uint64_t> fieldMark;

    // Read-ahead of records in natural order (dropped on every write, lock and Go). It
    // serves records only while no other station can change them: under this area's file
    // lock or with the table opened exclusively.
    std::vector<uint8_t> ahead;
    int32_t aheadFirst = 0;  // record number of the first record in `ahead`
    int32_t aheadCount = 0;
    // Forward moves read through a read-only shared mapping of the table (file.MapView()),
    // which shows other stations' writes at once. mapKnown: bytes the
    // file was seen to hold when the mapping was made or last checked (the file does not
    // shrink while others have it open; this area's own truncation drops the mapping).
    // mapRefused: the file cannot be mapped (a network share): plain reads, or the
    // read-ahead block where it may serve.
    uint64_t mapKnown = 0;
    bool mapRefused = false;

    WorkArea() = default;
    WorkArea(const WorkArea&) = delete;
    WorkArea& operator=(const WorkArea&) = delete;
    ~WorkArea();  // frees what the index engine and the memo unit hung on the area
};

// Slots 1..35; 1..33 for callers, 34 and 35 for the engine's own use.
inline constexpr int kMaxAreas = 35;
inline constexpr int kCallerAreas = 33;

namespace internal {
// The current slot's area, kept by the slot table whenever the selection or a slot changes.
extern WorkArea* currentArea;
}  // namespace internal

// The area in slot n (null when empty or out of range), and the current one.
WorkArea* AreaAt(int n);
inline WorkArea* Current() {
    return internal::currentArea;
}

}  // namespace Dbf4
