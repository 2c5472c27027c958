// dBASE-style commands on the currently selected work area: select, use, close, locks,
// navigation, field access, record changes and bulk operations.
// One process-wide engine state, not thread-safe. Failures go through TzCommon::SetError.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "storage/hooks.h"
#include "storage/work_area.h"

namespace Dbf4 {

// ---- Settings ----
struct Settings {
    bool sharing = true;            // off: every lock succeeds, every table is exclusive
    bool hideDeleted = false;       // navigation skips records marked deleted
    bool ansiTables = false;        // tables hold ANSI text (no OEM translation)
    bool exclusiveDefault = false;  // the shared open-mode word is the exclusive mode
    bool readOnlyOverride = false;  // open tables read-only (the open-mode override)
    uint64_t lockBase = 0x40000000ull;
    uint64_t fileLockLength = 0x3FFFFFFFull;
    uint16_t recordLockLimit = 0;  // 0 = no limit
    uint8_t retryCount = 0;
    uint8_t retryWaitSeconds = 0;
    bool (*retryCallback)() = nullptr;
    uint16_t lastLockError = 0;
};
Settings& settings();
// The lock base (the table's semaphore byte); the memo file's and the index semaphore's
// fixed-offset locks follow it too.
uint64_t LockBase();
// The append byte (lock base + 1): the append lock, and where the file lock starts.
inline uint64_t AppendByte() {
    return LockBase() + 1;
}
// Length of the file lock from base + 1: the configured length, extended so that it covers
// the lock offset of every record a table of this layout can hold.
uint64_t FileLockLength(const WorkArea& a);

// Lets waiting window messages through; installed by the UI (default: nothing).
void SetIdleProc(void (*proc)());
void ProcessMessages();
void SetTerminatingProc(bool (*proc)());

// ---- Work areas ----
void Select(int n);
int CurrentWorkArea();
bool CheckInUse(const std::string& routine);
void Use(const std::string& command, void* buffer = nullptr, uint16_t size = 0);
void UseEx(const std::string& command, void* buffer, uint16_t size, TranslateProc oemToAnsi,
           TranslateProc ansiToOem);
void UseBuffer(const std::string& command, void* buffer, uint16_t size);
void CloseArea();
void CloseAll();
void Shutdown();  // closes 34, 35, then 1..33
// The table engine back at its start-up state: every work area closed, Settings and the
// table-file settings (TzDbfLow::settings) at their defaults, no confirm or search-hit
// proc, the bulk-read cache off. The hooks stay as installed, and so do the idle and
// terminating procs the user interface installs once. Part of TzStorage::Reset.
void ResetState();
std::string DbfName();
std::string AliasName();
void* AreaExtension();
bool HasProductionIndex();
void SetProductionIndex(bool on);
// Sets the flag and writes it into the table file at once (other cursors and stations open
// the index by it). False when it could not be written.
bool StoreProductionIndex(bool on);
int AreaOfAlias(const std::string& alias);  // 1..33, 0 when none

// ---- Locks ----
bool FLock();
bool ALock();
bool RLock();
bool IsLocked(int32_t n);
bool UnlockRec(int32_t n);
void Unlock();
bool LockSemaphore();
void UnlockSemaphore();
uint16_t LockRegion(bool unlock, tz::File& file, uint64_t offset, uint64_t length);
bool LockWithRetry(tz::File& file, uint64_t offset, uint64_t length);
void WaitSeconds(int n);

// ---- Navigation ----
void Go(int32_t n);
void Dbf4RawGo(int32_t n);
void GoAndRelate(int32_t n);
void GoTop();
void GoBottom();
void Skip(int32_t n = 1);
bool dEOF();
bool dBOF();
int32_t RecNo();
int32_t RecCount();
// RecCount without asking the file when the count the area knows already reaches n: a table
// never shrinks while another handle has it open (pack and zap need it exclusively), so the
// answer only matters up to n. RecCountReaching(1) == 0 says the table is empty.
int32_t RecCountReaching(int32_t n);
bool RecordVisible();
bool WhileHolds();
void Set_Filter_To(const std::string& text);
void Set_While_To(const std::string& text);
void SetFilterFunc(FilterFunc f);
void SetWhileFunc(FilterFunc f);
bool IsFilterOn();
bool IsWhileOn();
void Set_Relation_To(RelationProc proc);
void Recount(WorkArea& a);  // shared areas: count from the file size

// ---- Fields and record changes ----
int FieldCount();
std::string Field(int n);
int FieldNo(const std::string& name);
char FieldType(int n);
int FieldLen(int n);
int FieldDec(int n);
uint8_t* FieldAddress(int n);
// FieldAddress for a value the caller assigns to field n (1..count): the next Replace or
// Append writes the field even when the value equals what its stored bytes decode to (a 0
// or false over blanks). Fields read through FieldAddress and left unchanged keep their
// stored bytes. Scattering a record into the native buffer clears the marks.
uint8_t* AssignField(int n);
// Assigns date field n (1..count) from year, month and day (all 0: a blank date) in its
// stored form YYYYMMDD, without a date text: the record buffer takes the bytes and the
// native buffer what they read as, so the next Replace or Append writes exactly those
// bytes. False, changing nothing, when n is no date field of 8 bytes or more, for a date
// the calendar does not have or a year outside 1..9999, and with the century flag off
// (the native text then holds a two-digit year); the caller assigns the date text then.
bool AssignDate(int n, int year, int month, int day);
// Complete a lazily read record (translation; scatter) and return the record buffer or the
// native buffer. Code that reads an area's buffers directly calls these first.
uint8_t* RecordOf(WorkArea& a);
uint8_t* NativeOf(WorkArea& a);
uint16_t RecSize();
uint16_t NativeRecordSize();
bool Deleted();
void Scatter();
void Gather();
void ClearRecord();
void Replace();
void Append();
void DeleteRec();
void RecallRec();
bool CallUserHook();

// ---- Bulk operations ----
// Pack and zap need the table alone: a shared area is reopened exclusively for the
// operation (refused while another station, handle or area has the file open) and shared
// again afterwards. With the confirmation switch on they first ask "PACK <file>" or
// "ZAP <file>" (OK and Cancel, question icon, empty caption) through the confirm box the UI
// installs; without one the engine's error box answers (OK when no UI is there).
using ConfirmProc = int (*)(const std::string& text, const std::string& caption, unsigned flags);
inline constexpr unsigned kConfirmFlags = 0x21;  // OK/Cancel, question icon
inline constexpr int kConfirmOk = 1;
void SetConfirmProc(ConfirmProc proc);
void SetConfirm(bool on);
bool ConfirmOn();
// 0 or the file system's code; exclusive on an area that is exclusive by its own open: 5.
uint16_t ReopenFile(bool exclusive);
bool LastReopened();  // the last ReopenFile reopened the file
bool Pack();
bool Zap();
// Appends the visible records of another table (fields matched by name, converted by
// type) to the current area; test, when given, is called with the source area selected.
using RecordTest = bool (*)();
void AppendFrom(const std::string& source, RecordTest test = nullptr);
// Scans the file's raw records for text (any case). field: in 0 = any field, n = only
// field n; out the field of the hit, 0 = none. fromFirst: from record 1, else from the
// record after the current one.
void Search(const std::string& text, uint8_t& field, bool fromFirst);
// Called on each counted hit of Search; true stops the search there.
void SetSearchHitProc(bool (*proc)(uint8_t field));
// Locate: fields separated by ";" (each may carry " NOCASE", " EXACT", " CONTAINED"), one
// value per field (dates as texts in the current style or YYYYMMDD).
enum LocateOption : unsigned { kLocateNoCase = 1, kLocateExact = 2 };
using LocateValue = std::variant<std::string, double, bool>;
bool Locate(const std::string& fields, const std::vector<LocateValue>& values,
            unsigned options = 0);
bool Continue();
// Peek and Poke: one field of any record as text, without moving the area. With the cache
// switch on, Peek reads through a bulk-read cache of consecutive records.
void SetPeekCache(bool on);
std::string Peek(int32_t recno, int field);
bool Poke(const std::string& value, int field, int32_t recno);

}  // namespace Dbf4
