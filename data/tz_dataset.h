// TTzDataSet: one open dBASE table, held in one work area of the table engine, presented to
// the windows through the dataset model (Db::TDataSet). It owns the record buffers, copies
// records between the work area's native record and those buffers, maps field types,
// navigates with the engine's commands honouring the WHILE condition and hidden deleted
// records, and keeps a stack of saved cursor states. Locking bodies are in TTzFileDataSet.
// Single-threaded. All datasets share the engine's current work area: every operation
// selects its own area first (SelectArea) and assumes nothing about it afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/db_dataset.h"
#include "data/db_fields.h"
#include "storage/work_area.h"

namespace TzDs {

enum TTzTableLanguage { tlOem = 0, tlAnsi = 1 };

// The field list of the open table, copied from the work area when it opens.
class TDbfFieldProps {
  public:
    struct TDTField {
        std::string name;
        char type = 'C';
        int width = 0;
        int decimals = 0;
        int offset = 0;  // in the native record, counted from the delete flag
    };
    explicit TDbfFieldProps(const Dbf4::WorkArea& area);
    int Count() const { return static_cast<int>(fields_.size()); }
    // Field numbers are 1-based; out of range answers empty values.
    const TDTField* Field(int n) const;
    int FieldNo(const std::string& name) const;  // case-insensitive, 0 when absent
    int RecordLength() const { return recordLength_; }

  private:
    std::vector<TDTField> fields_;
    int recordLength_ = 0;
};

// A date text in the engine's date style (trimmed on the left, cut to 10) to a date-time
// value; the empty template and invalid texts give 0, or with `raising` an invalid text is
// handed to the date parser, which raises EConvertError.
Db::TDateTime DateTextToDateTime(const std::string& text, bool raising);
// A date-time value to the engine's date text (the empty template for 0).
std::string DateTimeToDateText(Db::TDateTime value);

// Date field whose text is the table's date text: display shows at most the 10 characters
// of a valid date; the empty template clears the field.
class TTzDateField : public Db::TDateField {
  protected:
    void GetText(std::string& text, bool displayText) const override;
    void SetTextValue(const std::string& text) override;
};

// Record buffer layout (positions computed when the table opens):
//  1. [0] delete flag (0 = not deleted); [1 .. recordSize) the fields in field order:
//     C width+1 (length byte, text); D 8 (date-time double, 0 = empty); N/F with decimals 8
//     (double); N/F without decimals 8 (int64, so wide fields never wrap); L 2; M 4 (block).
//  2. [recordSize .. +calc size) one slot per calculated field: flag (0 value, 1 null), value.
//  3. [recordInfo] record number (int32), [+4] bookmark flag, [+8 = bookmark] record number.
// Field types: C ftString(width); D ftDate; N/F with decimals ftFloat; N/F without decimals
// ftInteger up to width 9, ftLargeint from width 10; L ftBoolean; M ftMemo.
class TTzDataSet : public Db::TDataSet {
  public:
    explicit TTzDataSet(const std::string& name = {});
    ~TTzDataSet() override;

    // Properties.
    const std::string& DbfFileName() const { return dbfFileName_; }
    std::string NameForUser() const override {
        return dbfFileName_.empty() ? Name() : dbfFileName_;
    }
    void SetDbfFileName(const std::string& name);
    std::vector<std::string>& DbfFields() { return dbfFields_; }
    bool HideDeletedRecs = false;
    bool ShowProgress = true;
    TTzTableLanguage TableLanguage = tlOem;
    Db::TDataSetNotifyEvent BeforeRestore, AfterRestore;
    int WorkAreaNo() const { return area_; }
    const TDbfFieldProps* FieldProps() const { return props_.get(); }

    // Saved cursor states.
    void PushState();
    void PopState();
    virtual void ClearStateStack();
    size_t StateDepth() const { return stack_.size(); }

    // Bring the buffers and the controls in line with the work area (after every public
    // table operation).
    void ResyncFromArea();
    // A resync held back while the controls were disabled is done now (in browse state).
    void ControlsEnabled() override;

    // Opens (true) or closes the table file directly for a caller that needs the file while
    // a form editor edits the component; the dataset must be active ("DataSet must be active.
    // " + name, error 1103, otherwise). This program has no form editor, so only the check
    // remains.
    void DirectOpenClose(bool open);

    // Post only in edit, insert or set-key state; otherwise nothing.
    void Post() override;

    // Navigation routines on the dataset's own work area.
    void s_Skip(int32_t n);
    void s_Go(int32_t n);
    void s_SafeGo(int32_t n);
    bool s_IsEmpty();
    bool s_InWhileRange();
    void s_ClearActive();
    void s_GoTopWhile();
    void s_GoBottomWhile();
    bool s_GoEndOfWhile(const char* routine, int step);
    int32_t s_RecNo();
    int32_t s_RecCount();
    int32_t s_RecCountReaching(int32_t n);  // Dbf4::RecCountReaching
    void s_UpdateCursorPos(bool move);
    bool s_dBOF();
    bool s_dEOF();
    void s_HandleWhileAfterInsert();
    void s_HandleWhileAfterPost();
    void s_ClearRecord();

    // Buffer copies; `which` 0 copies only the flag, -1 every field, n only field n.
    void AreaToBuffer(Db::TRecordBuffer buffer);
    void BufferToArea(Db::TRecordBuffer buffer, int which = -1);
    // A record lock was just taken for this edit (the engine read the record again): the
    // active buffer becomes the record as locked, with the fields this edit changed, and
    // those fields go back to the work area. Nothing read before the lock is written back.
    void MergeLockedRecord();
    // Field n (1-based; 0 every field) counts as changed by the current edit.
    void MarkEdited(int n);
    // Whether field n (1-based) was set during the current edit.
    bool FieldEdited(int n) const {
        return n >= 1 && size_t(n) <= edited_.size() && edited_[size_t(n - 1)] != 0;
    }

    Db::TGetResult FetchForTest(Db::TGetMode mode) { return GetRecord(TempBuffer(), mode, false); }

    bool GetFieldData(Db::TField& field, void* buffer) override;
    void SetFieldData(Db::TField& field, const void* buffer) override;
    bool BookmarkValid(const Db::TBookmark& bookmark) override;
    int CompareBookmarks(const Db::TBookmark& a, const Db::TBookmark& b) override;
    bool GetCurrentRecord(void* buffer) override;
    bool IsSequenced() override;

  protected:
    // Selects the dataset's work area and the engine switches that go with it; a closed
    // dataset reports "Database is not open [Name.op]" and aborts silently.
    virtual void SelectArea(const char* operation);
    virtual bool OpenTable(const std::string& fileName) = 0;
    virtual void AppendWithLock() = 0;
    virtual void DeleteWithLock() = 0;
    virtual void RestoreWithLock() = 0;
    virtual void ReplaceWithLock() = 0;
    virtual void AfterCommandHook() {}
    virtual void AfterOpenHook() {}
    virtual void DoBeforeRestore() { BeforeRestore(*this); }
    virtual void DoAfterRestore() { AfterRestore(*this); }

    // Overrides of the dataset model.
    Db::TRecordBuffer AllocRecordBuffer() override;
    void FreeRecordBuffer(Db::TRecordBuffer& buffer) override;
    int GetRecordSize() override { return recordSize_; }
    Db::TGetResult GetRecord(Db::TRecordBuffer buffer, Db::TGetMode mode, bool doCheck) override;
    void InternalInitRecord(Db::TRecordBuffer buffer) override;
    void ClearCalcFields(Db::TRecordBuffer buffer) override;
    Db::TBookmarkFlag GetBookmarkFlag(Db::TRecordBuffer buffer) override;
    void SetBookmarkFlag(Db::TRecordBuffer buffer, Db::TBookmarkFlag flag) override;
    void GetBookmarkData(Db::TRecordBuffer buffer, void* data) override;
    void SetBookmarkData(Db::TRecordBuffer buffer, const void* data) override;
    bool IsCursorOpen() override { return isOpen_; }
    void InternalOpen() override;
    void InternalClose() override;
    void InternalInitFieldDefs() override;
    void InternalFirst() override;
    void InternalLast() override;
    void InternalGotoBookmark(const void* bookmark) override;
    void InternalSetToRecord(Db::TRecordBuffer buffer) override;
    void InternalRefresh() override;
    void InternalEdit() override;
    void InternalPost() override;
    void InternalDelete() override;
    void InternalAddRecord(const void* buffer, bool append) override;
    int GetRecNo() override;
    void SetRecNoValue(int value) override;
    int GetRecordCount() override;
    int GetNextRecords() override;
    int GetPriorRecords() override;
    std::unique_ptr<Db::TField> CreateFieldInstance(Db::TFieldType type, int size) override;
    void DataEvent(Db::TDataEvent event, intptr_t info) override;
    void DoAfterScroll() override;
    void DoAfterDelete() override;
    void DoBeforeCancel() override;

    bool OpenArea(const std::string& fileName);
    void CloseArea();
    Dbf4::WorkArea* Area() const;
    int32_t BufferRecNo(Db::TRecordBuffer buffer) const;
    bool Resyncing() const { return resyncing_; }
    // Set by AppendWithLock: the number of the record the append wrote, also when the
    // append then reported a failure (a later step such as the header or the keys failed);
    // 0 when it wrote none.
    int32_t appendedRecNo_ = 0;

  private:
    void LeaveInsertWritten();
    class RelationPause;
    struct StateEntry {
        bool modified = false;
        Db::TDataSetState state = Db::dsBrowse;
        int32_t recNo = 0;
        std::vector<uint8_t> buffer;
        std::vector<uint8_t> edited;
    };
    struct FieldSlot {
        char type = 'C';
        int width = 0;
        int decimals = 0;
        int offset = 0;  // in the record buffer
        int size = 0;    // bytes in the record buffer
    };

    void ApplyMasks();
    bool Hidden();  // the work area's record is deleted and hidden

    int area_ = 0;
    bool isOpen_ = false;
    int recordSize_ = 1;
    int recordInfo_ = 0;
    int bookmarkPos_ = 0;
    int bufferSize_ = 0;
    std::string dbfFileName_;
    std::vector<std::string> dbfFields_;
    std::unique_ptr<TDbfFieldProps> props_;
    std::vector<FieldSlot> slots_;  // one per table field, in field order
    std::vector<uint8_t> edited_;   // per field: changed since the edit began
    std::vector<StateEntry> stack_;
    int32_t inRangeRec_ = 0;
    bool resyncPending_ = false;
    bool syncing_ = false;
    bool resyncing_ = false;
    // Wide N values that do not fit the engine's 32-bit native form, waiting to be written
    // as text (field number, value).

    friend class TTzCDataSet;
    friend class TTzFileDataSet;
    friend class TTzBlobStream;
};

}  // namespace TzDs
