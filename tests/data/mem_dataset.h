// An in-memory descendant of the dataset model for the tests: a shared vector of rows that
// several cursors may open at once. Rows carry a stable id, which is the bookmark.
// Record buffer: [record: per field one flag byte (1 = has a value) + native bytes]
//                [calc area: per calculated field one flag byte + native bytes]
//                [id int32][bookmark flag byte]
#pragma once

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/db_dataset.h"

namespace memtest {

using namespace Db;

struct Column {
    std::string name;
    TFieldType type;
    int size = 0;
};

struct Row {
    int32_t id;
    std::vector<uint8_t> bytes;
};

struct MemTable {
    std::vector<Column> columns;
    std::vector<Row> rows;
    int32_t nextId = 1;
};

inline int NativeSize(const Column& c) {
    switch (c.type) {
        case ftString:
            return c.size + 1;
        case ftSmallint:
        case ftBoolean:
            return 2;
        case ftInteger:
        case ftDate:
        case ftTime:
            return 4;
        default:
            return 8;
    }
}

class TMemDataSet : public TDataSet {
  public:
    TMemDataSet(std::shared_ptr<MemTable> table, const std::string& name = "Mem")
        : TDataSet(name), table_(std::move(table)) {}
    ~TMemDataSet() override { Destroying(); }

    int failPosts = 0;  // the next n InternalPost calls raise EDatabaseError
    bool readOnly = false;
    int fetches = 0;  // GetRecord calls that returned grOK

    static constexpr int32_t kBof = -1;
    static constexpr int32_t kEof = -2;

  protected:
    bool IsCursorOpen() override { return open_; }

    void InternalInitFieldDefs() override {
        FieldDefs().Clear();
        for (const Column& c : table_->columns) FieldDefs().Add(c.name, c.type, c.size);
    }

    void InternalOpen() override {
        InternalInitFieldDefs();
        if (DefaultFields()) CreateFields();
        BindFields(true);
        offsets_.clear();
        recordSize_ = 0;
        for (const Column& c : table_->columns) {
            offsets_.push_back(recordSize_);
            recordSize_ += 1 + NativeSize(c);
        }
        infoPos_ = recordSize_ + CalcFieldsSize();
        SetBookmarkSize(4);
        open_ = true;
        InternalFirst();
    }

    void InternalClose() override {
        if (DefaultFields()) DestroyFields();
        open_ = false;
    }

    int GetRecordSize() override { return recordSize_; }
    TRecordBuffer AllocRecordBuffer() override { return new uint8_t[infoPos_ + 5](); }
    void FreeRecordBuffer(TRecordBuffer& buffer) override {
        delete[] buffer;
        buffer = nullptr;
    }

    int IndexOf(int32_t id) const {
        for (size_t i = 0; i < table_->rows.size(); ++i)
            if (table_->rows[i].id == id) return static_cast<int>(i);
        return -1;
    }

    // Position of the cursor: -1 before the first row, n after the last.
    int CursorIndex(bool& missing) const {
        missing = false;
        int n = static_cast<int>(table_->rows.size());
        if (cursor_ == kBof) return -1;
        if (cursor_ == kEof) return n;
        int i = IndexOf(cursor_);
        if (i < 0) {
            missing = true;
            return std::min(lastIndex_, n);
        }
        return i;
    }

    void Fill(TRecordBuffer buffer, int index) {
        const Row& row = table_->rows[index];
        std::memcpy(buffer, row.bytes.data(), recordSize_);
        std::memcpy(buffer + infoPos_, &row.id, 4);
        buffer[infoPos_ + 4] = bfCurrent;
        cursor_ = row.id;
        lastIndex_ = index;
    }

    TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool) override {
        int n = static_cast<int>(table_->rows.size());
        bool missing;
        int i = CursorIndex(missing);
        switch (mode) {
            case gmCurrent:
                if (missing || i < 0 || i >= n) return grError;
                break;
            case gmNext:
                if (!missing) ++i;  // a vanished row's place holds its successor
                if (i >= n) {
                    cursor_ = kEof;
                    return grEOF;
                }
                break;
            case gmPrior:
                --i;
                if (i < 0) {
                    cursor_ = kBof;
                    return grBOF;
                }
                break;
        }
        Fill(buffer, i);
        ++fetches;
        GetCalcFields(buffer);
        return grOK;
    }

    void InternalInitRecord(TRecordBuffer buffer) override { std::memset(buffer, 0, recordSize_); }
    void ClearCalcFields(TRecordBuffer buffer) override {
        std::memset(buffer + recordSize_, 0, CalcFieldsSize());
    }
    TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) override {
        return static_cast<TBookmarkFlag>(buffer[infoPos_ + 4]);
    }
    void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) override {
        buffer[infoPos_ + 4] = static_cast<uint8_t>(flag);
    }
    void GetBookmarkData(TRecordBuffer buffer, void* data) override {
        std::memcpy(data, buffer + infoPos_, 4);
    }
    void SetBookmarkData(TRecordBuffer buffer, const void* data) override {
        std::memcpy(buffer + infoPos_, data, 4);
    }

    void InternalFirst() override { cursor_ = kBof; }
    void InternalLast() override { cursor_ = kEof; }
    void InternalGotoBookmark(const void* bookmark) override { std::memcpy(&cursor_, bookmark, 4); }
    void InternalSetToRecord(TRecordBuffer buffer) override {
        std::memcpy(&cursor_, buffer + infoPos_, 4);
    }

    void InternalPost() override {
        if (failPosts > 0) {
            --failPosts;
            DatabaseError("Post refused", Name());
        }
        TRecordBuffer buffer = ActiveBuffer();
        if (State() == dsEdit) {
            int i = IndexOf(cursor_);
            if (i < 0) DatabaseError(SRecordNotFound, Name());
            std::memcpy(table_->rows[i].bytes.data(), buffer, recordSize_);
            return;
        }
        Row row{table_->nextId++, std::vector<uint8_t>(buffer, buffer + recordSize_)};
        TBookmarkFlag flag = GetBookmarkFlag(buffer);
        bool missing;
        int at = flag == bfEOF ? static_cast<int>(table_->rows.size()) : CursorIndex(missing);
        if (at < 0) at = 0;
        table_->rows.insert(table_->rows.begin() + at, row);
        cursor_ = row.id;
        lastIndex_ = at;
    }

    void InternalDelete() override {
        int i = IndexOf(cursor_);
        if (i < 0) DatabaseError(SRecordNotFound, Name());
        table_->rows.erase(table_->rows.begin() + i);
        int n = static_cast<int>(table_->rows.size());
        cursor_ = i < n ? table_->rows[i].id : kEof;
        lastIndex_ = i;
    }

    bool GetCanModify() const override { return !readOnly; }

    int GetRecNo() override {
        if (IsEmpty() || !ActiveBuffer()) return 0;
        int32_t id;
        std::memcpy(&id, ActiveBuffer() + infoPos_, 4);
        return IndexOf(id) + 1;
    }
    int GetRecordCount() override { return static_cast<int>(table_->rows.size()); }

    // Source buffer of a field read or write.
    TRecordBuffer FieldBuffer() { return State() == dsCalcFields ? CalcBuffer() : ActiveBuffer(); }

    uint8_t* Slot(TField& field, TRecordBuffer buffer) {
        if (field.FieldNo() > 0) return buffer + offsets_[field.FieldNo() - 1];
        return buffer + recordSize_ + field.Offset();
    }

    bool GetFieldData(TField& field, void* data) override {
        TRecordBuffer buffer = FieldBuffer();
        if (!buffer || (State() == dsBrowse && IsEmpty())) return false;
        uint8_t* slot = Slot(field, buffer);
        if (slot[0] == 0) return false;
        if (data) std::memcpy(data, slot + 1, field.DataSize());
        return true;
    }

    void SetFieldData(TField& field, const void* data) override {
        uint8_t* slot = Slot(field, FieldBuffer());
        slot[0] = data ? 1 : 0;
        if (data)
            std::memcpy(slot + 1, data, field.DataSize());
        else
            std::memset(slot + 1, 0, field.DataSize());
        if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field));
    }

  public:
    // Window contents for the tests: the ids of the buffered records, in order.
    std::vector<int32_t> WindowIds() {
        std::vector<int32_t> ids;
        for (int i = 0; i < BufferedRecordCount(); ++i) {
            int32_t id;
            std::memcpy(&id, Buffers()[i] + infoPos_, 4);
            ids.push_back(id);
        }
        return ids;
    }
    int ActiveIndex() const { return ActiveRecord(); }
    int Window() const { return BufferCount(); }

  private:
    std::shared_ptr<MemTable> table_;
    bool open_ = false;
    std::vector<int> offsets_;
    int recordSize_ = 0;
    int infoPos_ = 0;
    int32_t cursor_ = kBof;
    int lastIndex_ = 0;
};

}  // namespace memtest
