// Navigation: Go, GoTop, GoBottom, Skip in natural or index order, visibility (hidden
// deleted records, filters), WHILE conditions and relations.
#include <cstring>

#include "storage/dbf4_internal.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Dbf4 {

using TzCommon::SetError;
using namespace internal;

void SelectInternal(int n);

namespace {

// End state: no current record.
void SetEnd(WorkArea& a, bool bof) {
    BlankRecord(a);
    a.recNo = a.recCount + 1;
    a.eof = true;
    if (bof) a.bof = true;
}

bool EvalExpr(void* expr) {
    if (!expr || !parserHooks.evaluate) return true;
    int area = CurrentWorkArea();
    const uint8_t* r = parserHooks.evaluate(expr);
    SelectInternal(area);
    return r && r[0] != 0;
}

// Forward moves in natural order read the next records sequentially, so they may be served
// ahead (also with an index open, when no tag controls the order).
bool NaturalOrder(bool idx) {
    return !idx || (indexHooks.currentOrder && indexHooks.currentOrder() == 0);
}

// Forward moves in natural order read ahead; every other move reads through the mapping.
ReadHow MoveRead(bool forward, bool natural) {
    return forward && natural ? ReadHow::kAhead : ReadHow::kMapped;
}

}  // namespace

namespace internal {

bool Indexes() {
    return indexHooksInstalled && indexHooks.active && indexHooks.active();
}

namespace {
bool ReadRecord(WorkArea& a, int32_t n, ReadHow how) {
    switch (how) {
        case ReadHow::kAhead:
            return TzDbfLow::GetDbfRecordAhead(a, n);
        case ReadHow::kMapped:
            return TzDbfLow::GetDbfRecordMapped(a, n);
        case ReadHow::kAlone:
            break;
    }
    return TzDbfLow::GetDbfRecord(a, n);
}
}  // namespace

bool ReadScatter(WorkArea& a, int32_t n, ReadHow how) {
    // A record read through the mapping or ahead is completed lazily only when the area
    // owns its native buffer: a caller's buffer is read directly and must always be current.
    const bool lazy = how != ReadHow::kAlone;
    if (lazy && a.native == a.ownNative.data()) return ReadRecord(a, n, how);
    bool ok = ReadRecord(a, n, how);
    if (ok) TzDbfLow::UnpackRecord(a, a.native);
    return ok;
}

void BlankRecord(WorkArea& a) {
    if (a.isVirtual && a.fields.empty()) {
        std::memset(a.native, 0, a.nativeSize);
        return;
    }
    std::fill(a.record.begin(), a.record.end(), uint8_t(' '));
    a.pending = false;
    a.nativeStale = false;
    if (a.native) TzDbfLow::UnpackRecord(a, a.native);
}

void FollowRelation(WorkArea& a) {
    if (!a.relation || a.inRelation) return;
    const int area = CurrentWorkArea();
    const uint8_t order =
        (indexHooksInstalled && indexHooks.currentOrder) ? indexHooks.currentOrder() : 0;
    const int32_t rec = a.recNo;
    a.inRelation = true;
    a.relation();
    a.inRelation = false;
    SelectInternal(area);
    if (indexHooksInstalled && indexHooks.setCurrentOrder) indexHooks.setCurrentOrder(order);
    if (a.recNo != rec) SetError(TzErr::CyclicalRelation, a.fileName);
}

}  // namespace internal

void Recount(WorkArea& a) {
    if (a.isVirtual || !Shared(a)) return;
    uint64_t size = 0;
    if (a.file.Size(&size) != 0) return;
    a.countSeen = std::max(a.countSeen, a.recCount);
    a.recCount = TzDbfLow::RecordsHeld(a, size, a.recCount);
}

void Go(int32_t n) {
    WorkArea* ap = Guard("GO");
    if (!ap) return;
    WorkArea& a = *ap;
    TzCommon::ClearErrorWord();
    TzDbfLow::DropReadAhead(a);
    if (n > a.recCount) Recount(a);
    auto bad = [&] {
        return "Invalid record number = " + std::to_string(n) + " Database " + Quoted(a.fileName) +
               " [GO]";
    };
    if (a.recCount == 0) {
        a.eof = a.bof = true;
        BlankRecord(a);
        SetError(TzErr::RequestBeyondRange, bad());
        return;
    }
    if (n >= 1 && n <= a.recCount) {
        a.eof = a.bof = false;
        const bool idx = Indexes();
        {
            IndexLock lock(idx, indexHooks.readLock);
            if (!ReadScatter(a, n)) return;
            if (idx) {
                if (indexHooks.synchronize) indexHooks.synchronize();
                if (indexHooks.storeKey) indexHooks.storeKey();
            }
        }
        FollowRelation(a);
        return;
    }
    SetEnd(a, false);
    SetError(TzErr::RequestBeyondRange, bad());
}

void Dbf4RawGo(int32_t n) {
    WorkArea* ap = Guard("Dbf4RawGo");
    if (!ap) return;
    WorkArea& a = *ap;
    if (n > a.recCount) {
        SetEnd(a, false);
        return;
    }
    if (n < 1) {
        SetError(TzErr::RequestBeyondRange,
                 "Invalid record number = " + std::to_string(n) + " [Dbf4RawGo]");
        return;
    }
    TzDbfLow::DropReadAhead(a);
    ReadScatter(a, n);
}

void GoAndRelate(int32_t n) {
    Dbf4RawGo(n);
    if (WorkArea* a = Current()) FollowRelation(*a);
}

void GoTop() {
    WorkArea* ap = Guard("GoTop");
    if (!ap) return;
    WorkArea& a = *ap;
    // A shared table that was empty when opened shows other stations' new records.
    Recount(a);
    if (a.recCount == 0) return;
    const bool idx = Indexes();
    const bool natural = NaturalOrder(idx);
    {
        IndexLock lock(idx, indexHooks.readLock);
        int32_t start = idx ? indexHooks.firstKey() : 1;
        if (start < 1 || start > a.recCount) {
            SetEnd(a, true);
        } else if (ReadScatter(a, start)) {
            while (!RecordVisible() && !a.eof) {
                int32_t next;
                if (idx) {
                    next = indexHooks.nextKey();
                    if (indexHooks.atEnd && indexHooks.atEnd()) next = a.recCount + 1;
                } else {
                    next = a.recNo + 1;
                }
                if (next < 1 || next > a.recCount) {
                    SetEnd(a, true);
                    if (idx && indexHooks.synchronize) indexHooks.synchronize();
                    break;
                }
                if (!ReadScatter(a, next, MoveRead(true, natural))) break;
            }
        }
        if (idx && indexHooks.storeKey) indexHooks.storeKey();
    }
    FollowRelation(a);
}

void GoBottom() {
    WorkArea* ap = Guard("GoBottom");
    if (!ap) return;
    WorkArea& a = *ap;
    Recount(a);
    TzDbfLow::DropReadAhead(a);
    const bool idx = Indexes();
    {
        IndexLock lock(idx, indexHooks.readLock);
        int32_t start = a.recCount == 0 ? 0 : (idx ? indexHooks.lastKey() : a.recCount);
        auto bottomEnd = [&] {
            SetEnd(a, true);
            if (idx) {
                if (indexHooks.markEnd) indexHooks.markEnd();
                if (indexHooks.markBeginning) indexHooks.markBeginning();
            }
        };
        if (start < 1 || start > a.recCount) {
            bottomEnd();
        } else if (ReadScatter(a, start)) {
            while (!RecordVisible()) {
                int32_t prev;
                if (idx) {
                    prev = indexHooks.priorKey();
                    if (indexHooks.atBeginning && indexHooks.atBeginning()) prev = 0;
                } else {
                    prev = a.recNo - 1;
                }
                if (prev < 1 || prev > a.recCount) {
                    bottomEnd();
                    break;
                }
                if (!ReadScatter(a, prev)) break;
            }
        }
        if (idx && indexHooks.storeKey) indexHooks.storeKey();
    }
    FollowRelation(a);
}

namespace {

// SKIP 0: reads the current record again (a blank one past the end).
void RereadCurrent(WorkArea& a) {
    if (a.recCount >= 1 && !a.eof && a.recNo >= 1 && a.recNo <= a.recCount) {
        TzDbfLow::DropReadAhead(a);
        ReadScatter(a, a.recNo);
    } else {
        BlankRecord(a);
    }
    FollowRelation(a);
}

// False (after a report where one is due) when the area cannot move n records.
bool CanSkip(WorkArea& a, int32_t n) {
    if (n > 0 && a.eof) {
        SetError(TzErr::RequestBeyondRange,
                 "Database " + Quoted(a.fileName) + " is past EOF. [SKIP]");
        return false;
    }
    if (a.recCount == 0) {
        a.eof = a.bof = true;
        SetError(TzErr::RequestBeyondRange, "Database " + Quoted(a.fileName) + " is empty. [SKIP]");
        return false;
    }
    return !(n < 0 && a.bof);
}

// The record after (or before) the current one in the area's order; 0 at the end. An order
// that answers the record the area stands on has ended; past the end (only a backward move
// starts there) the area stands on no record, and its number may since have become another
// station's new last record.
int32_t NextRecord(WorkArea& a, bool forward, bool idx, bool onRecord) {
    int32_t next;
    if (forward) {
        if (idx) {
            next = indexHooks.nextKey();
            if (next == a.recNo || (indexHooks.atEnd && indexHooks.atEnd())) return 0;
        } else {
            next = a.recNo + 1;
            if (next > a.recCount) Recount(a);
            if (next > a.recCount) return 0;
        }
    } else {
        if (idx) {
            next = indexHooks.priorKey();
            if ((onRecord && next == a.recNo) ||
                (indexHooks.atBeginning && indexHooks.atBeginning()))
                return 0;
        } else {
            next = a.recNo - 1;
            if (next < 1) return 0;
        }
    }
    return next;
}

// Why a skip stopped moving.
enum class SkipStop { kCounted, kAtEnd, kWhileFailed, kReadFailed };

// Moves until n visible records are passed, the order ends, the while condition fails or a
// read fails; *lastGood is the last visible record passed going backward. fromEnd: the move
// starts at the end (whatever the count has grown to since).
SkipStop StepRecords(WorkArea& a, int32_t n, bool idx, ReadHow how, bool fromEnd,
                     int32_t* lastGood) {
    const bool forward = n > 0;
    const int32_t want = forward ? n : -n;
    int32_t steps = 0;
    bool onRecord = !fromEnd;
    for (;;) {
        // At EOF the area stands on no record: there is nothing to go back to.
        if (!forward && a.recNo >= 1 && a.recNo <= a.recCount && RecordVisible())
            *lastGood = a.recNo;
        const int32_t next = NextRecord(a, forward, idx, onRecord);
        if (next < 1 || next > a.recCount) return SkipStop::kAtEnd;
        onRecord = true;
        if (!ReadScatter(a, next, how)) return SkipStop::kReadFailed;
        if (RecordVisible()) ++steps;
        if (!WhileHolds()) return SkipStop::kWhileFailed;
        if (steps >= want) return SkipStop::kCounted;
    }
}

}  // namespace

void Skip(int32_t n) {
    WorkArea* ap = Guard("SKIP()");
    if (!ap) return;
    WorkArea& a = *ap;
    TzCommon::ClearErrorWord();
    if (n == 0) {
        RereadCurrent(a);
        return;
    }
    if (!CanSkip(a, n)) return;

    const bool fromEnd = a.eof;
    a.eof = a.bof = false;
    const bool idx = Indexes();
    const bool forward = n > 0;
    const ReadHow how = MoveRead(forward, NaturalOrder(idx));
    IndexLock lock(idx, indexHooks.readLock);
    int32_t lastGood = 0;
    const SkipStop stop = StepRecords(a, n, idx, how, fromEnd, &lastGood);
    const bool atEnd = stop == SkipStop::kAtEnd, whileFailed = stop == SkipStop::kWhileFailed;
    if (stop == SkipStop::kReadFailed) return;
    if (atEnd) {
        if (forward) {
            SetEnd(a, false);
            if (idx && indexHooks.synchronize) indexHooks.synchronize();
        } else {
            lock.Release();
            GoTop();
            a.bof = true;
            if (idx && indexHooks.markBeginning) indexHooks.markBeginning();
            if (a.eof) BlankRecord(a);
            return;
        }
    } else if (whileFailed) {
        if (forward) {
            a.eof = true;
            if (idx && indexHooks.markEnd) indexHooks.markEnd();
        } else {
            if (lastGood >= 1) {
                ReadScatter(a, lastGood);
            } else {
                BlankRecord(a);
                a.recNo = a.recCount + 1;
            }
            a.bof = true;
            if (idx) {
                if (indexHooks.synchronize) indexHooks.synchronize();
                if (indexHooks.markBeginning) indexHooks.markBeginning();
            }
        }
    }
    lock.Release();
    if (idx && indexHooks.storeKey) indexHooks.storeKey();
    FollowRelation(a);
}

bool dEOF() {
    WorkArea* a = Guard("dEOF");
    if (!a) return true;
    // Only a position past the count can have become a record another station appended.
    if (a->recNo > a->recCount) {
        Recount(*a);
        if (a->recNo > a->recCount) a->eof = true;
    }
    if (Indexes() && indexHooks.atEnd) return indexHooks.atEnd();
    return a->eof;
}

bool dBOF() {
    WorkArea* a = Guard("dBOF");
    if (!a) return true;
    if (Indexes() && indexHooks.atBeginning) return indexHooks.atBeginning();
    return a->bof;
}

int32_t RecNo() {
    WorkArea* a = Guard("RecNo");
    return a ? a->recNo : 0;
}

int32_t RecCount() {
    WorkArea* a = Guard("RecCount");
    if (!a) return 0;
    Recount(*a);
    return a->recCount;
}

int32_t RecCountReaching(int32_t n) {
    WorkArea* a = Guard("RecCount");
    if (!a) return 0;
    if (a->recCount >= n && a->recCount > 0) return a->recCount;
    Recount(*a);
    return a->recCount;
}

bool RecordVisible() {
    WorkArea* a = Guard("RecordVisible");
    if (!a) return false;
    if (settings().hideDeleted) {
        bool deleted = a->isVirtual ? a->native[0] != 0 : a->record[0] == '*';
        if (deleted) return false;
    }
    if (a->filterFunc) return a->filterFunc();
    if (a->filterExpr) return EvalExpr(a->filterExpr);
    return true;
}

bool WhileHolds() {
    WorkArea* a = Guard("WhileHolds");
    if (!a) return false;
    bool ok = true;
    if (a->whileFunc) ok = a->whileFunc();
    if (a->whileExpr) ok = EvalExpr(a->whileExpr);
    return ok;
}

static void SetCondition(void* WorkArea::*slot, FilterFunc WorkArea::*func, const char* name,
                         const std::string& text) {
    WorkArea* a = Guard(name);
    if (!a) return;
    if (!parserPresent || !parserHooks.compile) {
        SetError(TzErr::InvalidParameter,
                 std::string("TZParser unit not linked in. [") + name + "]");
        return;
    }
    if (a->*slot && parserHooks.free) parserHooks.free(a->*slot);
    a->*slot = nullptr;
    std::string t = TzCommon::AllTrim(text);
    if (!t.empty()) {
        a->*slot = parserHooks.compile(t);
        if (a->*slot) a->*func = nullptr;
    }
}

void Set_Filter_To(const std::string& text) {
    SetCondition(&WorkArea::filterExpr, &WorkArea::filterFunc, "Set_Filter_To", text);
}

void Set_While_To(const std::string& text) {
    SetCondition(&WorkArea::whileExpr, &WorkArea::whileFunc, "Set_While_To", text);
}

void SetFilterFunc(FilterFunc f) {
    if (WorkArea* a = Guard("Set_Filter_To")) a->filterFunc = f;
}

void SetWhileFunc(FilterFunc f) {
    if (WorkArea* a = Guard("Set_While_To")) a->whileFunc = f;
}

bool IsFilterOn() {
    WorkArea* a = Current();
    return a && (a->filterFunc || a->filterExpr);
}

bool IsWhileOn() {
    WorkArea* a = Current();
    return a && (a->whileFunc || a->whileExpr);
}

void Set_Relation_To(RelationProc proc) {
    WorkArea* a = Guard("Set_Relation_To");
    if (!a) return;
    a->relation = proc;
    if (proc) FollowRelation(*a);
}

}  // namespace Dbf4
