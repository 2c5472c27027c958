// The buffered dataset: states, events, the window of record buffers around the active
// record, navigation, editing and the field list. A descendant binds it to real storage by
// overriding the Internal* operations, the record-buffer operations and the field-data
// interface; the dataset itself never knows the layout of a record buffer.
// Single-threaded. Handlers may run other datasets' operations (a calculated field may
// search another table), but not re-enter their own dataset's navigation.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/db_events.h"
#include "data/db_fields.h"
#include "data/db_types.h"

namespace Db {

class TDataSet;
class TDataSource;
class TDataLink;

using TDataSetNotifyEvent = Event<TDataSet&>;
using TDataSetErrorEvent = Event<TDataSet&, EDatabaseError&, TDataAction&>;

// Buffer window. The dataset keeps BufferCount record buffers plus one spare:
//  1. Buffers()[0 .. BufferedRecordCount()-1] hold consecutive records in cursor order;
//     ActiveRecord() indexes the active one (0 when there are none).
//  2. The spare buffer, Buffers()[BufferedRecordCount()], receives every fetch before it
//     joins the window, so a failed fetch never disturbs the buffered records.
//  3. CurrentRecord() is the buffer the descendant's cursor stands on, -1 when unknown
//     (CursorPosChanged); UpdateCursorPos puts the cursor back on the active record
//     through InternalSetToRecord, InternalFirst or InternalLast, by bookmark flag.
//  4. Bof() is set by First and by a move that found no prior record; Eof() likewise by
//     Last and by a move that found no next record; both are set while nothing is buffered.
//  5. BufferCount is the largest BufferCount of the attached data links, at least 1.
// State rules: dsInactive exactly while closed; dsEdit and dsInsert only between
// Edit/Insert/Append and Post/Cancel; temporary states (dsCalcFields) are entered with
// SetTempState, which also counts as disabled controls, and left with RestoreState.
class TDataSet {
  public:
    explicit TDataSet(const std::string& name = {});
    virtual ~TDataSet();
    TDataSet(const TDataSet&) = delete;
    TDataSet& operator=(const TDataSet&) = delete;

    const std::string& Name() const { return name_; }
    // The name a message to the user gives the dataset: the file it shows when it has
    // one (the component's name means nothing to the user), else its name.
    virtual std::string NameForUser() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }

    // Opening and closing.
    void Open() { SetActive(true); }
    void Close() { SetActive(false); }
    bool Active() const { return state_ != dsInactive; }
    void SetActive(bool value);

    TDataSetState State() const { return state_; }
    bool Modified() const { return modified_; }
    bool Bof() const { return bof_; }
    bool Eof() const { return eof_; }
    bool IsEmpty() const { return activeRecord_ >= recordCount_; }

    // Navigation.
    void First();
    void Last();
    void Next() { MoveBy(1); }
    void Prior() { MoveBy(-1); }
    int MoveBy(int distance);
    void Resync(TResyncMode mode);
    void Refresh();

    // Editing.
    void Edit();
    void Insert();
    void Append();
    virtual void Post();
    virtual void Cancel();
    void Delete();
    void CheckBrowseMode();
    void UpdateRecord();
    bool CanModify() const { return GetCanModify(); }

    // Controls.
    void DisableControls();
    void EnableControls();
    bool ControlsDisabled() const { return disableCount_ != 0; }

    // Bookmarks and positions.
    TBookmark GetBookmark();
    void GotoBookmark(const TBookmark& bookmark);
    bool BookmarkAvailable();
    virtual bool BookmarkValid(const TBookmark& bookmark);
    virtual int CompareBookmarks(const TBookmark& a, const TBookmark& b);
    int RecNo() { return GetRecNo(); }
    void SetRecNo(int value) { SetRecNoValue(value); }
    int RecordCount() { return GetRecordCount(); }
    virtual bool IsSequenced() { return true; }
    virtual bool Locate(const std::string& keyFields, const std::vector<std::string>& keyValues,
                        TLocateOptions options);
    virtual bool GetCurrentRecord(void* buffer);

    // Fields. Persistent fields are added while closed; with none, the descendant creates
    // default fields from the field definitions when it opens (CreateFields).
    TField& AddField(std::unique_ptr<TField> field);
    template <class F>
    F& AddField(const std::string& name, TFieldKind kind = fkData) {
        auto f = std::make_unique<F>();
        f->SetFieldName(name);
        f->SetFieldKind(kind);
        return static_cast<F&>(AddField(std::move(f)));
    }
    void RemoveField(TField& field);
    const std::vector<TField*>& Fields() const { return fieldList_; }
    int FieldCount() const { return static_cast<int>(fieldList_.size()); }
    TField* FindField(const std::string& name) const;
    TField& FieldByName(const std::string& name) const;
    TFieldDefs& FieldDefs() { return fieldDefs_; }
    bool DefaultFields() const { return defaultFields_; }
    bool AutoCalcFields() const { return autoCalcFields_; }
    void SetAutoCalcFields(bool on) { autoCalcFields_ = on; }

    // The field-data interface: the native form of each field type is in db_fields.h.
    // GetFieldData answers whether the field has a value (the buffer may be nullptr).
    // SetFieldData stores it (nullptr = clear); the field has already checked the state and
    // run OnValidate. An override sends DataEvent(deFieldChange, field) after storing a
    // value outside dsCalcFields, which marks the record modified, recalculates and fires
    // the field's OnChange.
    virtual bool GetFieldData(TField& field, void* buffer);
    virtual void SetFieldData(TField& field, const void* buffer);
    virtual std::unique_ptr<TStream> CreateBlobStream(TField& field, TBlobStreamMode mode);

    TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
    TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
    TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
    TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
    TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
    TDataSetNotifyEvent OnNewRecord, OnCalcFields;
    TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

  protected:
    // ---- Record buffers (override all together) ----
    virtual TRecordBuffer AllocRecordBuffer();  // default: record + calc size, zeroed
    virtual void FreeRecordBuffer(TRecordBuffer& buffer);
    virtual int GetRecordSize() { return 0; }
    virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) = 0;
    virtual void InternalInitRecord(TRecordBuffer buffer) { (void)buffer; }
    virtual void ClearCalcFields(TRecordBuffer buffer) { (void)buffer; }
    virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
    virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
    virtual void GetBookmarkData(TRecordBuffer buffer, void* data) = 0;
    virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) = 0;

    // ---- Cursor ----
    virtual bool IsCursorOpen() = 0;
    virtual void InternalOpen() = 0;
    virtual void InternalClose() = 0;
    virtual void InternalInitFieldDefs() {}
    virtual void InternalFirst() = 0;
    virtual void InternalLast() = 0;
    virtual void InternalGotoBookmark(const void* bookmark) = 0;
    virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
    virtual void InternalRefresh() {}
    // Called when the last DisableControls is undone, before the controls hear of it.
    virtual void ControlsEnabled() {}
    virtual void InternalHandleException();  // inside a catch: the application's handler

    // ---- Changes ----
    virtual void InternalEdit() {}
    virtual void InternalInsert() {}
    virtual void InternalPost() {}
    virtual void InternalCancel() {}
    virtual void InternalDelete() {}
    virtual void InternalAddRecord(const void* buffer, bool append) { (void)buffer, (void)append; }
    virtual bool GetCanModify() const { return true; }

    // ---- Counts ----
    virtual int GetRecNo() { return -1; }
    virtual void SetRecNoValue(int value) { (void)value; }
    virtual int GetRecordCount() { return -1; }

    // ---- Window fill (descendants may wrap these) ----
    virtual bool GetNextRecord();
    virtual bool GetPriorRecord();
    virtual int GetNextRecords();
    virtual int GetPriorRecords();

    // ---- Fields ----
    virtual std::unique_ptr<TField> CreateFieldInstance(TFieldType type, int size) {
        return DefaultFieldForType(type, size);
    }
    void CreateFields();  // one default field per field definition
    void BindFields(bool binding);
    void DestroyFields();  // the default fields only; persistent ones stay
    int CalcFieldsSize() const { return calcFieldsSize_; }
    int BookmarkSize() const { return bookmarkSize_; }
    void SetBookmarkSize(int size) { bookmarkSize_ = size; }
    void SetDefaultFields(bool on) { defaultFields_ = on; }
    virtual void FreeFieldBuffers() {}

    // ---- Events (override to add behaviour; call the inherited one to fire the event) ----
    virtual void DataEvent(TDataEvent event, intptr_t info);
    virtual void DoBeforeOpen() { BeforeOpen(*this); }
    virtual void DoAfterOpen() { AfterOpen(*this); }
    virtual void DoBeforeClose() { BeforeClose(*this); }
    virtual void DoAfterClose() { AfterClose(*this); }
    virtual void DoBeforeInsert() { BeforeInsert(*this); }
    virtual void DoAfterInsert() { AfterInsert(*this); }
    virtual void DoBeforeEdit() { BeforeEdit(*this); }
    virtual void DoAfterEdit() { AfterEdit(*this); }
    virtual void DoBeforePost() { BeforePost(*this); }
    virtual void DoAfterPost() { AfterPost(*this); }
    virtual void DoBeforeCancel() { BeforeCancel(*this); }
    virtual void DoAfterCancel() { AfterCancel(*this); }
    virtual void DoBeforeDelete() { BeforeDelete(*this); }
    virtual void DoAfterDelete() { AfterDelete(*this); }
    virtual void DoBeforeScroll() { BeforeScroll(*this); }
    virtual void DoAfterScroll() { AfterScroll(*this); }
    virtual void DoOnNewRecord() { OnNewRecord(*this); }
    virtual void DoOnCalcFields() { OnCalcFields(*this); }

    // ---- Helpers for descendants ----
    TRecordBuffer ActiveBuffer() const {
        return buffers_.empty() ? nullptr : buffers_[activeRecord_];
    }
    TRecordBuffer CalcBuffer() const { return calcBuffer_; }
    TRecordBuffer TempBuffer() const { return buffers_.empty() ? nullptr : buffers_[recordCount_]; }
    const std::vector<TRecordBuffer>& Buffers() const { return buffers_; }
    int BufferCount() const { return bufferCount_; }
    int BufferedRecordCount() const { return recordCount_; }
    int ActiveRecord() const { return activeRecord_; }
    int CurrentRecord() const { return currentRecord_; }
    void SetState(TDataSetState value);
    TDataSetState SetTempState(TDataSetState value);
    void RestoreState(TDataSetState value);
    void SetModified(bool value) { modified_ = value; }
    void CursorPosChanged() { currentRecord_ = -1; }
    void UpdateCursorPos();
    void SetCurrentRecord(int index);
    void ClearBuffers();
    void ActivateBuffers();
    void InitRecord(TRecordBuffer buffer);
    void GetCalcFields(TRecordBuffer buffer);
    void CalculateFields(TRecordBuffer buffer);
    void CheckActive() const;
    void CheckInactive() const;
    void CheckCanModify() const;
    // Descendants call this first in their destructor: closes while overrides still exist.
    void Destroying();
    bool IsDestroying() const { return destroying_; }

  private:
    friend class TField;
    friend class TDataSource;
    friend class TDataLink;

    void OpenCursor();
    void CloseCursor();
    void SetBufListSize(int value);
    void SetBufferCount(int value);
    void UpdateBufferCount();
    void MoveBuffer(int curIndex, int newIndex);
    void BeginInsertAppend();
    void EndInsertAppend();
    void UpdateCalcFields();
    template <class Op>
    void CheckOperation(Op operation, const TDataSetErrorEvent& errorEvent);
    std::vector<TDataLink*> ActiveLinks() const;
    void AddDataSource(TDataSource* source);
    void RemoveDataSource(TDataSource* source);

    std::string name_;
    TDataSetState state_ = dsInactive;
    bool modified_ = false;
    bool bof_ = true, eof_ = true;
    int disableCount_ = 0;
    TDataSetState disableState_ = dsInactive;
    TDataEvent enableEvent_ = deDataSetChange;
    std::vector<TRecordBuffer> buffers_;
    int bufferCount_ = 0;
    int recordCount_ = 0;
    int activeRecord_ = 0;
    int currentRecord_ = -1;
    TRecordBuffer calcBuffer_ = nullptr;
    int calcFieldsSize_ = 0;
    int bookmarkSize_ = 0;
    bool defaultFields_ = false;
    bool internalOpenComplete_ = false;
    bool autoCalcFields_ = true;
    bool destroying_ = false;
    TFieldDefs fieldDefs_;
    std::vector<std::unique_ptr<TField>> ownedFields_;
    std::vector<TField*> fieldList_;
    std::vector<TField*> defaultMade_;  // the fields CreateFields made (DestroyFields frees)
    std::vector<TDataSource*> dataSources_;
};

}  // namespace Db
