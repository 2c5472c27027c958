// TDataSet: opening and closing, states, editing, events, fields and data sources.
// The buffer window and navigation are in db_navigation.cpp.
#include "data/db_dataset.h"

#include <algorithm>
#include <cstring>

#include "data/db_datasource.h"

namespace Db {

TDataSet::TDataSet(const std::string& name) : name_(name) {}

TDataSet::~TDataSet() {
    destroying_ = true;
    // A descendant that called Destroying() has closed already; otherwise the descendant's
    // overrides are gone and only the base allocator can release the buffers.
    for (TRecordBuffer& b : buffers_) TDataSet::FreeRecordBuffer(b);
    buffers_.clear();
    std::vector<TDataSource*> sources = dataSources_;
    dataSources_.clear();
    for (TDataSource* source : sources) {
        source->dataSet_ = nullptr;
        source->UpdateState();
    }
}

void TDataSet::Destroying() {
    destroying_ = true;
    if (Active()) SetActive(false);
}

// ---- Opening and closing -----------------------------------------------------------------

void TDataSet::SetActive(bool value) {
    if (Active() == value) return;
    if (value) {
        DoBeforeOpen();
        try {
            OpenCursor();
        } catch (...) {
            state_ = dsInactive;
            try {
                CloseCursor();
            } catch (...) {
            }
            throw;
        }
        SetState(dsBrowse);
        DoAfterOpen();
        if (!IsEmpty()) DoAfterScroll();
    } else {
        if (!destroying_) DoBeforeClose();
        SetState(dsInactive);
        CloseCursor();
        if (!destroying_) DoAfterClose();
    }
}

void TDataSet::OpenCursor() {
    defaultFields_ = FieldCount() == 0;
    InternalOpen();
    internalOpenComplete_ = true;
    ClearBuffers();
    UpdateBufferCount();
    bof_ = true;
}

void TDataSet::CloseCursor() {
    internalOpenComplete_ = false;
    FreeFieldBuffers();
    ClearBuffers();
    SetBufListSize(0);
    InternalClose();
    BindFields(false);
    bufferCount_ = 0;
    defaultFields_ = false;
}

void TDataSet::CheckActive() const {
    if (state_ == dsInactive) DatabaseError(SDataSetClosed, NameForUser());
}

void TDataSet::CheckInactive() const {
    if (state_ != dsInactive) DatabaseError(SDataSetOpen, NameForUser());
}

void TDataSet::CheckCanModify() const {
    if (!GetCanModify()) DatabaseError(SDataSetReadOnly, NameForUser());
}

// ---- States ------------------------------------------------------------------------------

void TDataSet::SetState(TDataSetState value) {
    if (state_ == value) return;
    state_ = value;
    modified_ = false;
    DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
    TDataSetState old = state_;
    state_ = value;
    ++disableCount_;
    return old;
}

void TDataSet::RestoreState(TDataSetState value) {
    state_ = value;
    --disableCount_;
}

void TDataSet::DisableControls() {
    if (disableCount_ == 0) {
        disableState_ = state_;
        enableEvent_ = deDataSetChange;
    }
    ++disableCount_;
}

void TDataSet::EnableControls() {
    if (disableCount_ == 0) return;
    if (--disableCount_ != 0) return;
    ControlsEnabled();
    if (disableState_ != state_) DataEvent(deUpdateState, 0);
    if (disableState_ != dsInactive && state_ != dsInactive) DataEvent(enableEvent_, 0);
}

// ---- Editing -----------------------------------------------------------------------------

template <class Op>
void TDataSet::CheckOperation(Op operation, const TDataSetErrorEvent& errorEvent) {
    for (;;) {
        try {
            UpdateCursorPos();
            operation();
            return;
        } catch (EDatabaseError& e) {
            TDataAction action = daFail;
            if (errorEvent) errorEvent(*this, e, action);
            if (action == daFail) throw;
            if (action == daAbort) Abort();
        }
    }
}

void TDataSet::CheckBrowseMode() {
    CheckActive();
    DataEvent(deCheckBrowseMode, 0);
    switch (state_) {
        case dsEdit:
        case dsInsert:
            UpdateRecord();
            if (modified_)
                Post();
            else
                Cancel();
            break;
        case dsSetKey:
            Post();
            break;
        default:
            break;
    }
}

void TDataSet::UpdateRecord() {
    if (!IsWriteMode(state_)) DatabaseError(SNotEditing, NameForUser());
    DataEvent(deUpdateRecord, 0);
}

void TDataSet::Edit() {
    if (state_ == dsEdit || state_ == dsInsert) return;
    CheckActive();
    if (recordCount_ == 0) {
        Insert();
        return;
    }
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeEdit();
    CheckOperation([this] { InternalEdit(); }, OnEditError);
    GetCalcFields(ActiveBuffer());
    SetState(dsEdit);
    DataEvent(deRecordChange, 0);
    DoAfterEdit();
}

void TDataSet::BeginInsertAppend() {
    CheckBrowseMode();
    CheckCanModify();
    DoBeforeInsert();
    DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
    SetState(dsInsert);
    try {
        DoOnNewRecord();
    } catch (...) {
        if (state_ == dsInsert) {
            UpdateCursorPos();
            FreeFieldBuffers();
            SetState(dsBrowse);
            Resync(0);
        }
        throw;
    }
    // A handler that cancelled the new record has already resynced and scrolled back;
    // the insert did not happen, so AfterInsert is not fired.
    if (state_ != dsInsert) return;
    modified_ = false;
    DataEvent(deDataSetChange, 0);
    DoAfterInsert();
    DoAfterScroll();
}

void TDataSet::InitRecord(TRecordBuffer buffer) {
    InternalInitRecord(buffer);
    ClearCalcFields(buffer);
    SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Insert() {
    BeginInsertAppend();
    TBookmark oldCurrent = GetBookmark();
    MoveBuffer(recordCount_, activeRecord_);
    TRecordBuffer buffer = ActiveBuffer();
    InitRecord(buffer);
    if (recordCount_ == 0)
        SetBookmarkFlag(buffer, bfBOF);
    else if (!oldCurrent.empty())
        SetBookmarkData(buffer, oldCurrent.data());
    if (recordCount_ < bufferCount_) ++recordCount_;
    InternalInsert();
    EndInsertAppend();
}

void TDataSet::Append() {
    BeginInsertAppend();
    ClearBuffers();
    TRecordBuffer buffer = buffers_[0];
    InitRecord(buffer);
    SetBookmarkFlag(buffer, bfEOF);
    recordCount_ = 1;
    bof_ = false;
    GetPriorRecords();
    InternalLast();
    EndInsertAppend();
}

void TDataSet::Post() {
    UpdateRecord();
    if (state_ != dsEdit && state_ != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    DoBeforePost();
    // A BeforePost handler that cancelled the change leaves nothing to write.
    if (state_ != dsEdit && state_ != dsInsert) return;
    CheckOperation([this] { InternalPost(); }, OnPostError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
    DoAfterPost();
}

void TDataSet::Cancel() {
    if (state_ != dsEdit && state_ != dsInsert) return;
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeCancel();
    if (state_ != dsEdit && state_ != dsInsert) return;
    bool scrollEvents = state_ == dsInsert;
    if (scrollEvents) DoBeforeScroll();
    UpdateCursorPos();
    InternalCancel();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
    DoAfterCancel();
    if (scrollEvents) DoAfterScroll();
}

void TDataSet::Delete() {
    CheckActive();
    if (state_ == dsInsert || state_ == dsSetKey) {
        Cancel();
        return;
    }
    if (recordCount_ == 0) DatabaseError(SDataSetEmpty, NameForUser());
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeDelete();
    DoBeforeScroll();
    CheckOperation([this] { InternalDelete(); }, OnDeleteError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync(0);
    DoAfterDelete();
    DoAfterScroll();
}

// ---- Calculated fields -------------------------------------------------------------------

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
    if (calcFieldsSize_ > 0) CalculateFields(buffer);
}

void TDataSet::CalculateFields(TRecordBuffer buffer) {
    calcBuffer_ = buffer;
    if (state_ == dsInternalCalc) return;
    TDataSetState old = SetTempState(dsCalcFields);
    try {
        ClearCalcFields(buffer);
        DoOnCalcFields();
    } catch (...) {
        RestoreState(old);
        throw;
    }
    RestoreState(old);
}

void TDataSet::UpdateCalcFields() {
    if (state_ != dsSetKey && state_ != dsCalcFields && autoCalcFields_ && !buffers_.empty())
        GetCalcFields(ActiveBuffer());
}

// ---- Data events -------------------------------------------------------------------------

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
    bool notify = !(ControlsDisabled() || state_ == dsBlockRead);
    if (event == deFieldChange) {
        TField* field = reinterpret_cast<TField*>(info);
        if (field->FieldKind() == fkData || field->FieldKind() == fkInternalCalc) SetModified(true);
        UpdateCalcFields();
        field->Change();
    }
    if (notify) {
        std::vector<TDataSource*> sources = dataSources_;
        for (TDataSource* source : sources)
            if (std::find(dataSources_.begin(), dataSources_.end(), source) != dataSources_.end())
                source->DataEvent(event, info);
    } else if ((event == deUpdateState && state_ == dsInactive) || event == deLayoutChange) {
        enableEvent_ = deLayoutChange;
    }
}

void TDataSet::AddDataSource(TDataSource* source) {
    dataSources_.push_back(source);
    UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* source) {
    dataSources_.erase(std::remove(dataSources_.begin(), dataSources_.end(), source),
                       dataSources_.end());
    if (!destroying_) UpdateBufferCount();
}

std::vector<TDataLink*> TDataSet::ActiveLinks() const {
    std::vector<TDataLink*> out;
    for (TDataSource* source : dataSources_)
        for (TDataLink* link : source->links_)
            if (link->active_) out.push_back(link);
    return out;
}

// ---- Fields ------------------------------------------------------------------------------

TField& TDataSet::AddField(std::unique_ptr<TField> field) {
    if (!field) DatabaseError("No field given", NameForUser());
    CheckInactive();
    if (!field->FieldName().empty() && FindField(field->FieldName()))
        DatabaseError(FormatMessage(SDuplicateFieldName, {field->FieldName()}), NameForUser());
    field->dataSet_ = this;
    fieldList_.push_back(field.get());
    ownedFields_.push_back(std::move(field));
    return *fieldList_.back();
}

void TDataSet::RemoveField(TField& field) {
    CheckInactive();
    fieldList_.erase(std::remove(fieldList_.begin(), fieldList_.end(), &field), fieldList_.end());
    defaultMade_.erase(std::remove(defaultMade_.begin(), defaultMade_.end(), &field),
                       defaultMade_.end());
    ownedFields_.erase(
        std::remove_if(ownedFields_.begin(), ownedFields_.end(),
                       [&](const std::unique_ptr<TField>& p) { return p.get() == &field; }),
        ownedFields_.end());
}

TField* TDataSet::FindField(const std::string& name) const {
    for (TField* f : fieldList_)
        if (SameName(f->FieldName(), name)) return f;
    return nullptr;
}

TField& TDataSet::FieldByName(const std::string& name) const {
    TField* f = FindField(name);
    if (!f) DatabaseError(FormatMessage(SFieldNotFound, {name}), NameForUser());
    return *f;
}

void TDataSet::CreateFields() {
    for (int i = 0; i < fieldDefs_.Count(); ++i) {
        const TFieldDef& def = fieldDefs_[i];
        if (FindField(def.Name)) continue;
        std::unique_ptr<TField> field = CreateFieldInstance(def.DataType, def.Size);
        if (!field) continue;  // a type without a field class stays invisible
        field->fieldName_ = def.Name;
        if (def.DataType == ftString) field->size_ = def.Size;
        field->required_ = def.Required;
        field->dataSet_ = this;
        fieldList_.push_back(field.get());
        defaultMade_.push_back(field.get());
        ownedFields_.push_back(std::move(field));
    }
}

void TDataSet::BindFields(bool binding) {
    calcFieldsSize_ = 0;
    for (TField* f : fieldList_) {
        if (!binding) {
            f->fieldNo_ = 0;
            f->offset_ = 0;
            continue;
        }
        if (f->FieldKind() == fkCalculated || f->FieldKind() == fkLookup) {
            f->fieldNo_ = -1;
            f->offset_ = calcFieldsSize_;
            calcFieldsSize_ += f->DataSize() + 1;
            continue;
        }
        TFieldDef* def = fieldDefs_.Find(f->FieldName());
        if (!def) DatabaseError(FormatMessage(SFieldNotFound, {f->DisplayName()}), NameForUser());
        bool sameType = def->DataType == f->DataType() ||
                        (def->DataType == ftWord && f->DataType() == ftInteger);
        if (!sameType)
            DatabaseError(
                FormatMessage(SFieldTypeMismatch, {f->DisplayName(), FieldTypeName(f->DataType()),
                                                   FieldTypeName(def->DataType)}),
                NameForUser());
        // A string field of another width would read or write past the record's slot.
        if (f->DataType() == ftString && f->Size() != def->Size)
            DatabaseError("Size mismatch for field '" + f->DisplayName() + "', expecting: " +
                              std::to_string(f->Size()) + " actual: " + std::to_string(def->Size),
                          NameForUser());
        f->fieldNo_ = def->FieldNo;
    }
}

void TDataSet::DestroyFields() {
    auto made = [this](const TField* f) {
        return std::find(defaultMade_.begin(), defaultMade_.end(), f) != defaultMade_.end();
    };
    fieldList_.erase(std::remove_if(fieldList_.begin(), fieldList_.end(), made), fieldList_.end());
    ownedFields_.erase(
        std::remove_if(ownedFields_.begin(), ownedFields_.end(),
                       [&](const std::unique_ptr<TField>& f) { return made(f.get()); }),
        ownedFields_.end());
    defaultMade_.clear();
}

// ---- Defaults of the overridable operations ----------------------------------------------

TRecordBuffer TDataSet::AllocRecordBuffer() {
    size_t size = static_cast<size_t>(std::max(1, GetRecordSize() + calcFieldsSize_));
    return new uint8_t[size]();
}

void TDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
    delete[] buffer;
    buffer = nullptr;
}

void TDataSet::InternalHandleException() {
    ApplicationHandleException(std::current_exception());
}

bool TDataSet::GetFieldData(TField&, void*) {
    return false;
}

void TDataSet::SetFieldData(TField&, const void*) {}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField&, TBlobStreamMode) {
    return nullptr;
}

bool TDataSet::Locate(const std::string&, const std::vector<std::string>&, TLocateOptions) {
    return false;
}

bool TDataSet::GetCurrentRecord(void*) {
    return false;
}

bool TDataSet::BookmarkValid(const TBookmark& bookmark) {
    return !bookmark.empty();
}

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
    if (a.empty() && b.empty()) return 0;
    if (a.empty()) return -1;
    if (b.empty()) return 1;
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    int c = std::memcmp(a.data(), b.data(), a.size());
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace Db
