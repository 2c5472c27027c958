// TTzDataSet: the navigation routines over the work area (with its relation paused) and the
// resync of the dataset from the work area.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "data/db_format.h"
#include "data/tz_dataset.h"
#include "data/tz_messages.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/num_text.h"
#include "storage/scope_exit.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDs {

using namespace Db;

// ---- Relation pause -----------------------------------------------------------------------

// Suspends the work area's relation for a scope (not while syncing).
class TTzDataSet::RelationPause {
  public:
    explicit RelationPause(TTzDataSet& ds) {
        if (ds.syncing_) return;
        area_ = ds.Area();
        if (area_) {
            saved_ = area_->relation;
            area_->relation = nullptr;
        }
    }
    ~RelationPause() {
        if (area_) area_->relation = saved_;
    }
    RelationPause(const RelationPause&) = delete;
    RelationPause& operator=(const RelationPause&) = delete;

  private:
    Dbf4::WorkArea* area_ = nullptr;
    Dbf4::RelationProc saved_ = nullptr;
};

// ---- Navigation routines ------------------------------------------------------------------

// The emptiness checks ask the file only while the table looked empty (Dbf4::RecCountReaching):
// a step costs no more than the move itself.
void TTzDataSet::s_Skip(int32_t n) {
    SelectArea("s_Skip");
    if (Dbf4::RecCountReaching(1) == 0) return;
    RelationPause pause(*this);
    Dbf4::Skip(n);
}

void TTzDataSet::s_Go(int32_t n) {
    SelectArea("s_Go");
    if (Dbf4::RecCountReaching(1) <= 0) return;
    if (!syncing_ && n == Dbf4::RecNo() && !Dbf4::dEOF()) return;
    {
        RelationPause pause(*this);
        Dbf4::Go(n);
    }
    if (!Dbf4::WhileHolds()) s_GoBottomWhile();
}

void TTzDataSet::s_SafeGo(int32_t n) {
    SelectArea("s_SafeGo");
    if (Dbf4::RecCount() <= 0) return;
    RelationPause pause(*this);
    if (n >= 1 && n <= Dbf4::RecCount()) {
        Dbf4::Go(n);
    } else {
        Dbf4::GoBottom();
        if (!Dbf4::dEOF()) Dbf4::Skip(1);
    }
}

bool TTzDataSet::s_IsEmpty() {
    SelectArea("s_IsEmpty");
    return Dbf4::RecCountReaching(1) <= 0;
}

bool TTzDataSet::s_InWhileRange() {
    SelectArea("s_InWhileRange");
    if (IsEditMode(State())) return true;
    return Dbf4::WhileHolds();
}

void TTzDataSet::s_ClearActive() {
    SelectArea("s_ClearActive");
    Dbf4::ClearRecord();
    // A new record in the window (an append reading the rows before it, a grown window read
    // around an insert) stays there when the cursor finds no visible row at an end, as under
    // a filter passing none of the table's rows; the window is the new record's.
    if (BufferedRecordCount() > 0 && GetBookmarkFlag(ActiveBuffer()) != Db::bfCurrent) return;
    ClearBuffers();
    if (ActiveBuffer()) AreaToBuffer(ActiveBuffer());
}

void TTzDataSet::s_GoTopWhile() {
    if (s_GoEndOfWhile("s_GoTopWhile", -1)) return;
    Dbf4::GoTop();
    if (Dbf4::dBOF() || Dbf4::dEOF()) s_ClearActive();
}

void TTzDataSet::s_GoBottomWhile() {
    if (s_GoEndOfWhile("s_GoBottomWhile", 1)) return;
    Dbf4::GoBottom();
    if (Dbf4::dEOF()) s_ClearActive();
}

// With a WHILE condition set: walks from the current record towards the top (step -1) or
// the bottom (step 1) of the range and ends on its last visible record; a current record
// outside the range leaves the dataset empty. False when no condition is set (the caller
// moves to the table's end itself); true when there is nothing left to do.
bool TTzDataSet::s_GoEndOfWhile(const char* routine, int step) {
    SelectArea(routine);
    if (Dbf4::RecCount() <= 0) return true;
    RelationPause pause(*this);
    if (!Dbf4::IsWhileOn()) return false;
    if (!Dbf4::WhileHolds() && !IsEditMode(State())) {
        Dbf4::GoBottom();
        if (!Dbf4::dEOF()) Dbf4::Skip(1);
        s_ClearActive();
        return true;
    }
    int32_t found = 0;
    for (int guard = 0; guard <= Dbf4::RecCount() + 1; ++guard) {
        if (step > 0 && Dbf4::dEOF()) break;
        if (!Hidden() && Dbf4::WhileHolds()) found = Dbf4::RecNo();
        if (step < 0 && Dbf4::dBOF()) break;
        Dbf4::Skip(step);
        if (TzCommon::ErrorWord() != 0) break;
    }
    if (found > 0) Dbf4::Go(found);
    return true;
}

int32_t TTzDataSet::s_RecNo() {
    SelectArea("s_RecNo");
    return Dbf4::RecNo();
}

int32_t TTzDataSet::s_RecCount() {
    SelectArea("s_RecCount");
    return Dbf4::RecCount();
}

int32_t TTzDataSet::s_RecCountReaching(int32_t n) {
    SelectArea("s_RecCount");
    return Dbf4::RecCountReaching(n);
}

void TTzDataSet::s_UpdateCursorPos(bool move) {
    if (resyncing_ || syncing_ || IsDestroying() || !isOpen_) return;
    SelectArea("s_UpdateCursorPos");
    if (IsEmpty()) inRangeRec_ = 0;
    if (Dbf4::dEOF() && Dbf4::dBOF()) return;
    CursorPosChanged();
    if (move) {
        int32_t n = BufferRecNo(ActiveBuffer());
        if (!IsEmpty() && n >= 1 && n != Dbf4::RecNo()) s_Go(n);
    } else {
        syncing_ = true;
        try {
            UpdateCursorPos();
        } catch (...) {
            syncing_ = false;
            throw;
        }
        syncing_ = false;
    }
    SelectArea("s_UpdateCursorPos");
    if (!Dbf4::dEOF() && Dbf4::WhileHolds()) inRangeRec_ = Dbf4::RecNo();
}

bool TTzDataSet::s_dBOF() {
    SelectArea("s_dBOF");
    return Dbf4::dBOF();
}

bool TTzDataSet::s_dEOF() {
    SelectArea("s_dEOF");
    return Dbf4::dEOF();
}

void TTzDataSet::s_HandleWhileAfterInsert() {
    SelectArea("s_HandleWhileAfterInsert");
    if (!Dbf4::WhileHolds() && inRangeRec_ >= 1 && inRangeRec_ <= Dbf4::RecCount())
        Dbf4::Go(inRangeRec_);
}

void TTzDataSet::s_HandleWhileAfterPost() {
    SelectArea("s_HandleWhileAfterPost");
    if (Dbf4::WhileHolds()) return;
    if (!Dbf4::dBOF()) Dbf4::Skip(-1);
    if (Dbf4::WhileHolds()) return;
    if (!Dbf4::dEOF()) Dbf4::Skip(1);
    if (Dbf4::WhileHolds()) return;
    s_GoBottomWhile();
}

void TTzDataSet::s_ClearRecord() {
    SelectArea("s_ClearRecord");
    Dbf4::ClearRecord();
}

// ---- Resync -------------------------------------------------------------------------------

void TTzDataSet::ResyncFromArea() {
    if (!isOpen_) return;
    if (ControlsDisabled() || TzCommon::ErrorWord() != 0) {
        if (ActiveBuffer()) AreaToBuffer(ActiveBuffer());
        resyncPending_ = true;
        return;
    }
    resyncing_ = true;
    resyncPending_ = false;
    tz::ScopeExit done([this] { resyncing_ = false; });
    SelectArea("ResyncFromArea");
    RelationPause pause(*this);
    if (Dbf4::dEOF() && Dbf4::dBOF()) {
        s_ClearActive();
        Resync(0);
        return;
    }
    if (!IsEditMode(State()))
        Resync(0);
    else
        Cancel();
    SelectArea("ResyncFromArea");
    if (Dbf4::dEOF() && Dbf4::dBOF()) {
        s_ClearActive();
        return;
    }
    resyncing_ = false;
    syncing_ = true;
    try {
        CursorPosChanged();
        UpdateCursorPos();
    } catch (...) {
        syncing_ = false;
        throw;
    }
    syncing_ = false;
}

void TTzDataSet::DirectOpenClose(bool open) {
    (void)open;
    if (!Active()) TzCommon::SetError(TzErr::InvalidOperation, "DataSet must be active. " + Name());
}

}  // namespace TzDs
