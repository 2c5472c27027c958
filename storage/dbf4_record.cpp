// Field access and record changes: the field table, scatter/gather between the record
// buffer and the native buffer, Replace, Append, DeleteRec and RecallRec.
#include <algorithm>
#include <cstring>

#include "storage/dates.h"
#include "storage/dbf4_internal.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Dbf4 {

using TzCommon::SetError;
using namespace internal;

namespace {

// The refusal's text ("<head><n>)]") is built only when the number is refused: field
// access is on every record's path.
const FieldEntry* FieldOf(WorkArea& a, int n, const char* head) {
    if (n < 1 || n > int(a.fields.size())) {
        SetError(TzErr::InvalidParameter, head + std::to_string(n) + ")]");
        return nullptr;
    }
    return &a.fields[size_t(n - 1)];
}

// The record count an append goes after: read from the file once under each file or
// append lock (appends of other stations wait for that lock), then kept by the appends.
void CountForAppend(WorkArea& a) {
    const bool held = a.lockState == kLockFile || a.lockState == kLockAppend;
    if (held && a.countedUnder == a.lockSerial) return;
    Recount(a);
    if (held) a.countedUnder = a.lockSerial;
    if (held) TzDbfLow::RepairIfCut(a);
}

bool KeysOn(const WorkArea& a) {
    return !a.isVirtual && maintainKeysOnReplace && Indexes();
}

}  // namespace

int FieldCount() {
    WorkArea* a = Guard("FieldCount()");
    return a ? int(a->fields.size()) : 0;
}

std::string Field(int n) {
    WorkArea* a = Guard("Field()");
    if (!a) return std::string();
    const FieldEntry* f = FieldOf(*a, n, "Invalid field number. [Field(");
    return f ? f->name : std::string();
}

int FieldNo(const std::string& name) {
    WorkArea* a = Guard("FieldNo()");
    if (!a) return 0;
    std::string key = TzUtils::AnsiUpper(TzUtils::TrimRight(name));
    if (key.size() > 10) key.resize(10);
    for (size_t i = 0; i < a->fields.size(); ++i)
        if (a->fields[i].name == key) return int(i + 1);
    return 0;
}

char FieldType(int n) {
    WorkArea* a = Guard("FieldType()");
    if (!a) return ' ';
    const FieldEntry* f = FieldOf(*a, n, "Invalid field number. [FieldType(");
    return f ? f->type : ' ';
}

int FieldLen(int n) {
    WorkArea* a = Guard("FieldLen()");
    if (!a) return 0;
    const FieldEntry* f = FieldOf(*a, n, " Invalid field number. [FieldLen(");
    if (!f) return 0;
    if (f->type == 'D') return TzCommon::CenturyFlag() ? 10 : 8;
    return f->length;
}

int FieldDec(int n) {
    WorkArea* a = Guard("FieldDec()");
    if (!a) return 0;
    const FieldEntry* f = FieldOf(*a, n, " Invalid field number. [FieldDec(");
    return f ? f->decimals : 0;
}

uint8_t* RecordOf(WorkArea& a) {
    TzDbfLow::CompleteRecord(a);
    return a.record.data();
}

uint8_t* NativeOf(WorkArea& a) {
    if (a.nativeStale || a.pending) TzDbfLow::CompleteNative(a);
    return a.native;
}

uint8_t* FieldAddress(int n) {
    WorkArea* a = Guard("FieldAddress()");
    if (!a) return nullptr;
    if (n == 0) return NativeOf(*a);
    const FieldEntry* f = FieldOf(*a, n, "Invalid field number. [FieldAddress(");
    if (!f) return nullptr;
    // A scan that looks at a few fields of each record completes only those.
    if (a->nativeStale)
        TzDbfLow::CompleteNativeField(*a, size_t(n - 1));
    else
        NativeOf(*a);
    return a->native + f->nativeOffset;
}

uint8_t* AssignField(int n) {
    WorkArea* a = Guard("FieldAddress()");
    if (!a) return nullptr;
    NativeOf(*a);
    const FieldEntry* f = FieldOf(*a, n, "Invalid field number. [FieldAddress(");
    if (!f) return nullptr;
    if (size_t(n) <= a->assigned.size()) a->assigned[size_t(n - 1)] = 1;
    return a->native + f->nativeOffset;
}

namespace {

// Year, month and day of a date the calendar has (years 1..9999), as a date text of the
// current style with the century would pass the date check.
bool CalendarDate(int year, int month, int day) {
    return year >= 1 && year <= 9999 && day >= 1 && day <= TimeDate::MonthLength(month, year);
}

}  // namespace

bool AssignDate(int n, int year, int month, int day) {
    WorkArea* a = Guard("FieldAddress()");
    if (!a) return false;
    const FieldEntry* f = FieldOf(*a, n, "Invalid field number. [FieldAddress(");
    if (!f || f->type != 'D' || f->length < 8 || !TzCommon::CenturyFlag()) return false;
    const bool blank = year == 0 && month == 0 && day == 0;
    if (!blank && !CalendarDate(year, month, day)) return false;
    if (a->record.size() < a->recordLength || !a->native) return false;
    NativeOf(*a);
    uint8_t stored[8];
    if (blank) {
        std::memset(stored, ' ', sizeof stored);
    } else {
        char* digits = reinterpret_cast<char*>(stored);
        TimeDate::PutDigits(digits, year, 4);
        TimeDate::PutDigits(digits + 4, month, 2);
        TimeDate::PutDigits(digits + 6, day, 2);
    }
    TzDbfLow::StoreDate(*a, size_t(n - 1), stored);
    // The bytes are the assigned value itself: nothing is left to encode at the write.
    if (size_t(n) <= a->assigned.size()) a->assigned[size_t(n - 1)] = 0;
    return true;
}

uint16_t RecSize() {
    WorkArea* a = Guard("RecSize");
    return a ? a->recordLength : 0;
}

uint16_t NativeRecordSize() {
    WorkArea* a = Guard("NativeRecordSize");
    return a ? a->nativeSize : 0;
}

bool Deleted() {
    WorkArea* a = Guard("Deleted");
    return a && NativeOf(*a)[0] != 0;
}

void Scatter() {
    if (WorkArea* a = Guard("Scatter")) TzDbfLow::UnpackRecord(*a, a->native);
}

void Gather() {
    if (WorkArea* a = Guard("Gather")) TzDbfLow::PackRecord(*a, NativeOf(*a));
}

void ClearRecord() {
    if (WorkArea* a = Guard("ClearRecord")) BlankRecord(*a);
}

bool CallUserHook() {
    return Current() != nullptr && Indexes();
}

void Replace() {
    TzCommon::ClearErrorWord();
    WorkArea* ap = Guard("Replace");
    if (!ap) return;
    WorkArea& a = *ap;
    NativeOf(a);
    const int32_t r = a.recNo;
    if (r < 1) {
        SetError(TzErr::RequestBeyondRange,
                 "Database " + Quoted(a.fileName) + " is empty. [REPLACE]");
        return;
    }
    if (r > a.recCount) {
        SetError(TzErr::RequestBeyondRange,
                 "Database " + Quoted(a.fileName) + " is at EOF. [REPLACE]");
        return;
    }
    if (Shared(a) && a.lockState != kLockFile &&
        std::find(a.locks.begin(), a.locks.end(), r) == a.locks.end()) {
        SetError(TzErr::RecordNotLocked,
                 "Record #" + std::to_string(r) + " in " + a.fileName + " [REPLACE]");
        return;
    }
    const bool keys = KeysOn(a);
    if (keys && a.swap.size() != a.nativeSize) {
        SetError(TzErr::InternalError, a.fileName + " Swap-buffer NIL. [REPLACE]");
        return;
    }
    IndexLock lock(keys, indexHooks.updateLock);
    if (keys) {
        // The old record is read again for the index engine; the caller's native values and
        // record bytes (which may carry digits the native form cannot hold) come back after.
        std::memcpy(a.swap.data(), a.native, a.nativeSize);
        a.swapRecord = a.record;
        const std::vector<uint8_t> assigned = a.assigned;
        auto restore = [&] {
            std::memcpy(a.native, a.swap.data(), a.nativeSize);
            a.record.swap(a.swapRecord);
            a.assigned = assigned;
        };
        if (!ReadScatter(a, r)) {
            restore();
            return;
        }
        if (indexHooks.keepOldKeys) indexHooks.keepOldKeys();
        restore();
    }
    TzDbfLow::PackRecord(a, a.native);
    const bool written = TzDbfLow::PutDbfRecord(a, r);
    if (written) {
        TzDbfLow::UnpackRecord(a, a.native);
        RefreshPeekCache(a, r);
        // Keys follow only a record that reached the file.
        if (keys && indexHooks.updateChangedKeys) indexHooks.updateChangedKeys();
    }
    lock.Release();
    if (written) FollowRelation(a);
}

void Append() {
    TzCommon::ClearErrorWord();
    WorkArea* ap = Guard("Append");
    if (!ap) return;
    WorkArea& a = *ap;
    if (Shared(a) && (a.lockState == kLockNone || a.lockState == kLockRecords)) {
        SetError(TzErr::AccessDenied, "File must be locked to append: " + a.fileName + " [APPEND]");
        return;
    }
    CountForAppend(a);
    TzDbfLow::PackRecord(a, NativeOf(a));
    const bool keys = !a.isVirtual && Indexes();
    IndexLock lock(keys, indexHooks.updateLock, kTakeForAppend);
    if (!TzDbfLow::AppendDbfRecord(a)) return;
    TzDbfLow::UnpackRecord(a, a.native);
    if (keys && indexHooks.appendNewKey) indexHooks.appendNewKey();
    lock.Release();
    a.bof = a.eof = false;
    FollowRelation(a);
}

static void MarkRecord(bool del) {
    TzCommon::ClearErrorWord();
    const char* name = del ? "DeleteRec" : "RecallRec";
    WorkArea* ap = Guard(name);
    if (!ap) return;
    WorkArea& a = *ap;
    if (!a.isVirtual) NativeOf(a);
    const int32_t r = a.recNo;
    if (Shared(a) && a.lockState != kLockFile) {
        bool held = a.lockState != kLockAppend &&
                    std::find(a.locks.begin(), a.locks.end(), r) != a.locks.end();
        if (!held) {
            SetError(TzErr::RecordNotLocked, del ? a.fileName + " Record not locked [DeleteRec]"
                                                 : std::string("Record not locked [RecallRec]"));
            return;
        }
    }
    if (r < 1 || r > a.recCount) {
        SetError(TzErr::InvalidOperation, a.fileName + " at EOF [" + name + "]");
        return;
    }
    if (a.isVirtual) {  // the virtual-file unit keeps the flag where its records hold it
        if (virtualHooks.request) virtualHooks.request(a, del ? 4 : 5, r);
        return;
    }
    a.native[0] = del ? 1 : 0;
    a.record[0] = del ? '*' : ' ';
    if (TzDbfLow::WriteDeleteFlag(a, r)) RefreshPeekCache(a, r);
}

void DeleteRec() {
    MarkRecord(true);
}
void RecallRec() {
    MarkRecord(false);
}

}  // namespace Dbf4
