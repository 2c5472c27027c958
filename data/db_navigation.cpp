// TDataSet: the buffer window and navigation (First, Last, MoveBy, Resync, Refresh,
// bookmarks). The window's invariants are listed next to TDataSet in db_dataset.h.
#include <algorithm>

#include "data/db_dataset.h"
#include "data/db_datasource.h"

namespace Db {

// ---- Buffers -----------------------------------------------------------------------------

void TDataSet::SetBufListSize(int value) {
    while (static_cast<int>(buffers_.size()) > value) {
        FreeRecordBuffer(buffers_.back());
        buffers_.pop_back();
    }
    while (static_cast<int>(buffers_.size()) < value) buffers_.push_back(AllocRecordBuffer());
}

void TDataSet::ClearBuffers() {
    recordCount_ = 0;
    activeRecord_ = 0;
    currentRecord_ = -1;
    bof_ = true;
    eof_ = true;
}

void TDataSet::ActivateBuffers() {
    recordCount_ = 1;
    activeRecord_ = 0;
    currentRecord_ = 0;
    bof_ = false;
    eof_ = false;
}

void TDataSet::MoveBuffer(int curIndex, int newIndex) {
    if (curIndex == newIndex) return;
    TRecordBuffer buffer = buffers_[curIndex];
    if (curIndex < newIndex) {
        std::copy(buffers_.begin() + curIndex + 1, buffers_.begin() + newIndex + 1,
                  buffers_.begin() + curIndex);
    } else {
        std::copy_backward(buffers_.begin() + newIndex, buffers_.begin() + curIndex,
                           buffers_.begin() + curIndex + 1);
    }
    buffers_[newIndex] = buffer;
}

void TDataSet::SetBufferCount(int value) {
    if (bufferCount_ == value) return;
    auto adjustFirstRecord = [this](int delta) {
        if (delta == 0) return;
        for (TDataLink* link : ActiveLinks()) link->firstRecord_ += delta;
    };
    if (bufferCount_ > value && recordCount_ > 0) {
        // Keep the records that the links show, from the lowest first record on.
        int delta = activeRecord_;
        for (TDataLink* link : ActiveLinks()) delta = std::min(delta, link->firstRecord_);
        delta = std::max(0, std::min(delta, recordCount_ - 1));
        for (int i = 0; i < value && i + delta < static_cast<int>(buffers_.size()); ++i)
            MoveBuffer(i + delta, i);
        activeRecord_ -= delta;
        if (currentRecord_ != -1) currentRecord_ -= delta;
        recordCount_ -= delta;
        if (recordCount_ > value) recordCount_ = value;
        if (activeRecord_ >= recordCount_) activeRecord_ = recordCount_ - 1;
        if (currentRecord_ >= recordCount_) currentRecord_ = -1;
        adjustFirstRecord(-delta);
    }
    SetBufListSize(value + 1);
    bufferCount_ = value;
    GetNextRecords();
    adjustFirstRecord(GetPriorRecords());
}

void TDataSet::UpdateBufferCount() {
    if (!internalOpenComplete_ || !IsCursorOpen()) return;
    int maxCount = 1;
    for (TDataSource* source : dataSources_)
        for (TDataLink* link : source->links_) maxCount = std::max(maxCount, link->bufferCount_);
    SetBufferCount(maxCount);
}

// ---- Cursor position ---------------------------------------------------------------------

void TDataSet::SetCurrentRecord(int index) {
    if (currentRecord_ == index) return;
    TRecordBuffer buffer = buffers_[index];
    switch (GetBookmarkFlag(buffer)) {
        case bfCurrent:
        case bfInserted:
            InternalSetToRecord(buffer);
            break;
        case bfBOF:
            InternalFirst();
            break;
        case bfEOF:
            InternalLast();
            break;
    }
    currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
    if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

// ---- Filling the window ------------------------------------------------------------------

bool TDataSet::GetNextRecord() {
    TGetMode mode = gmNext;
    if (recordCount_ > 0) {
        SetCurrentRecord(recordCount_ - 1);
        // The record being inserted is not in the cursor yet: the next one is the record
        // the cursor stands on.
        if (state_ == dsInsert && currentRecord_ == activeRecord_ &&
            GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
            mode = gmCurrent;
    }
    bool ok = GetRecord(buffers_[recordCount_], mode, true) == grOK;
    if (ok) {
        if (recordCount_ == 0) {
            ActivateBuffers();
        } else if (recordCount_ < bufferCount_) {
            ++recordCount_;
        } else {
            MoveBuffer(0, recordCount_);
            if (activeRecord_ > 0) --activeRecord_;
        }
        currentRecord_ = recordCount_ - 1;
    } else {
        CursorPosChanged();
    }
    return ok;
}

bool TDataSet::GetPriorRecord() {
    if (recordCount_ > 0) SetCurrentRecord(0);
    bool ok = GetRecord(buffers_[recordCount_], gmPrior, true) == grOK;
    if (ok) {
        if (recordCount_ == 0) {
            ActivateBuffers();
        } else {
            MoveBuffer(recordCount_, 0);
            if (recordCount_ < bufferCount_) {
                ++recordCount_;
                ++activeRecord_;
            } else if (activeRecord_ < recordCount_ - 1) {
                ++activeRecord_;
            }
        }
        currentRecord_ = 0;
    } else {
        CursorPosChanged();
    }
    return ok;
}

int TDataSet::GetNextRecords() {
    int n = 0;
    while (recordCount_ < bufferCount_ && GetNextRecord()) ++n;
    return n;
}

int TDataSet::GetPriorRecords() {
    int n = 0;
    while (recordCount_ < bufferCount_ && GetPriorRecord()) ++n;
    return n;
}

// ---- Navigation --------------------------------------------------------------------------

void TDataSet::First() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalFirst();
        GetNextRecord();
        GetNextRecords();
    } catch (...) {
        bof_ = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

void TDataSet::Last() {
    CheckBrowseMode();
    DoBeforeScroll();
    ClearBuffers();
    try {
        InternalLast();
        GetPriorRecord();
        GetPriorRecords();
    } catch (...) {
        eof_ = true;
        DataEvent(deDataSetChange, 0);
        throw;
    }
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
}

int TDataSet::MoveBy(int distance) {
    CheckBrowseMode();
    int result = 0;
    DoBeforeScroll();
    if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
        bof_ = false;
        eof_ = false;
        int scrollCount = 0;
        try {
            while (distance > 0) {
                if (activeRecord_ < recordCount_ - 1) {
                    ++activeRecord_;
                } else {
                    int shift = recordCount_ < bufferCount_ ? 0 : 1;
                    if (GetNextRecord()) {
                        scrollCount -= shift;
                        // GetNextRecord kept the active index on the same record when
                        // the window shifted; step onto the new last record.
                        activeRecord_ = recordCount_ - 1;
                    } else {
                        eof_ = true;
                        break;
                    }
                }
                --distance;
                ++result;
            }
            while (distance < 0) {
                if (activeRecord_ > 0) {
                    --activeRecord_;
                } else {
                    int shift = recordCount_ < bufferCount_ ? 0 : 1;
                    if (GetPriorRecord()) {
                        scrollCount += shift;
                        activeRecord_ = 0;
                    } else {
                        bof_ = true;
                        break;
                    }
                }
                ++distance;
                --result;
            }
        } catch (...) {
            DataEvent(deDataSetScroll, scrollCount);
            throw;
        }
        DataEvent(deDataSetScroll, scrollCount);
        DoAfterScroll();
    }
    return result;
}

void TDataSet::Resync(TResyncMode mode) {
    if (mode & rmExact) {
        CursorPosChanged();
        if (GetRecord(buffers_[recordCount_], gmCurrent, true) != grOK)
            DatabaseError(SRecordNotFound, NameForUser());
    } else if (GetRecord(buffers_[recordCount_], gmCurrent, false) != grOK &&
               GetRecord(buffers_[recordCount_], gmNext, false) != grOK &&
               GetRecord(buffers_[recordCount_], gmPrior, false) != grOK) {
        ClearBuffers();
        DataEvent(deDataSetChange, 0);
        return;
    }
    int count = (mode & rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
    MoveBuffer(recordCount_, 0);
    ActivateBuffers();
    try {
        while (count > 0 && GetPriorRecord()) --count;
        GetNextRecords();
        GetPriorRecords();
    } catch (...) {
        DataEvent(deDataSetChange, 0);
        throw;
    }
    DataEvent(deDataSetChange, 0);
}

void TDataSet::Refresh() {
    CheckBrowseMode();
    BeforeRefresh(*this);
    UpdateCursorPos();
    InternalRefresh();
    Resync(0);
    AfterRefresh(*this);
}

// ---- Bookmarks ---------------------------------------------------------------------------

bool TDataSet::BookmarkAvailable() {
    return (state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
           GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
    TBookmark bookmark;
    if (!BookmarkAvailable() || bookmarkSize_ <= 0) return bookmark;
    bookmark.resize(bookmarkSize_);
    GetBookmarkData(ActiveBuffer(), bookmark.data());
    return bookmark;
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
    if (bookmark.empty()) return;
    CheckBrowseMode();
    DoBeforeScroll();
    InternalGotoBookmark(bookmark.data());
    Resync(rmExact | rmCenter);
    DoAfterScroll();
}

}  // namespace Db
