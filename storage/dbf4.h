// dBASE-style commands on the currently selected work area: select, use, close, locks,
// navigation, field access, record changes and bulk operations.
// One process-wide engine state, not thread-safe. Failures go through TzCommon::SetError.
#pragma once

#include <cstdint>
#include <string>

#include "storage/hooks.h"
#include "storage/work_area.h"

namespace Dbf4 {

// ---- Settings ----
struct Settings {
    bool sharing = true;             // off: every lock succeeds, every table is exclusive
    bool hideDeleted = false;        // navigation skips records marked deleted
    bool ansiTables = false;         // tables hold ANSI text (no OEM translation)
    bool exclusiveDefault = false;   // the shared open-mode word is the exclusive mode
    bool readOnlyOverride = false;   // open tables read-only (the open-mode override)
    uint64_t lockBase = 0x40000000ull;
    uint64_t fileLockLength = 0x3FFFFFFFull;
    uint16_t recordLockLimit = 0;    // 0 = no limit
    uint8_t retryCount = 0;
    uint8_t retryWaitSeconds = 0;
    bool (*retryCallback)() = nullptr;
    uint16_t lastLockError = 0;
};
Settings& settings();

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
std::string DbfName();
std::string AliasName();
void* AreaExtension();
bool HasProductionIndex();
void SetProductionIndex(bool on);
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
void ReopenFile();
bool Pack();
bool Zap();
void AppendFrom(const std::string& source, const std::string& options = "");
bool Search(int field, const std::string& value);
bool Locate(const std::string& condition, const std::string& options = "");
bool Continue();
std::string Peek(int32_t recno, int field);
bool Poke(int32_t recno, int field, const std::string& value);

}  // namespace Dbf4
