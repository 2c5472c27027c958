// TTzBlobStream: a memo field of a file dataset read or written as a stream through the
// memo unit's blob stream.
#include <cstring>

#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "storage/memo.h"

namespace TzDs {

using namespace Db;

// ---- TTzBlobStream ------------------------------------------------------------------------

namespace {

TTzFileDataSet& FileDataSetOf(TField& field) {
    auto* ds = dynamic_cast<TTzFileDataSet*>(field.DataSet());
    if (!ds) DatabaseError(FormatMessage(SNoBlobSupport, {field.DisplayName()}));
    return *ds;
}

}  // namespace

TTzBlobStream::TTzBlobStream(TField& field, TBlobStreamMode mode)
    : field_(field), dataSet_(FileDataSetOf(field)), mode_(mode) {
    TTzDataSet& ds = dataSet_;
    ds.DirectOpenClose(true);
    ds.SelectArea("CreateBlobStream");
    uint8_t* slot = Slot();
    if (!slot) return;
    std::memcpy(&oldBlock_, slot, 4);
    Dbf4::WorkArea& area = *ds.Area();
    const bool translate = ds.TableLanguage == tlOem;
    if (mode_ == bmRead) {
        open_ = Memo::OpenBlobStream(area, oldBlock_, Memo::kBlobRead, translate);
        return;
    }
    open_ = Memo::OpenBlobStream(area, oldBlock_, Memo::kBlobWrite, translate);
    if (!open_) return;
    const int32_t block = Memo::DescriptorOf(area)->blob.block;
    std::memcpy(slot, &block, 4);
}

uint8_t* TTzBlobStream::Slot() const {
    TTzDataSet& ds = dataSet_;
    const int no = field_.FieldNo();
    TRecordBuffer buffer = ds.ActiveBuffer();
    if (!buffer || no < 1 || no > int(ds.slots_.size()) || ds.slots_[no - 1].type != 'M')
        return nullptr;
    return buffer + ds.slots_[no - 1].offset;
}

size_t TTzBlobStream::Read(void* buffer, size_t count) {
    TTzDataSet& ds = dataSet_;
    ds.SelectArea("ReadBlobStream");
    if (!open_ || mode_ != bmRead) return 0;
    const int64_t n = Memo::ReadBlobStream(*ds.Area(), buffer, int64_t(count));
    return n > 0 ? size_t(n) : 0;
}

size_t TTzBlobStream::Write(const void* buffer, size_t count) {
    TTzDataSet& ds = dataSet_;
    ds.SelectArea("WriteBlobStream");
    if (!open_ || mode_ == bmRead) return 0;
    const int64_t n = Memo::WriteBlobStream(*ds.Area(), buffer, int64_t(count));
    if (n > 0) {
        modified_ = true;
        written_ += n;
    }
    return n > 0 ? size_t(n) : 0;
}

int64_t TTzBlobStream::Seek(int64_t offset, int origin) {
    TTzDataSet& ds = dataSet_;
    ds.SelectArea("SeekBlobStream");
    if (!open_) return 0;
    return Memo::SeekBlobStream(*ds.Area(), offset, origin);
}

TTzBlobStream::~TTzBlobStream() {
    TTzDataSet& ds = dataSet_;
    if (!ds.isOpen_ || !ds.Area()) return;  // the table was closed under the stream
    Dbf4::WorkArea& area = *ds.Area();
    int32_t block = 0;
    if (open_ && mode_ != bmRead) {
        const Memo::MemoDescriptor* d = Memo::DescriptorOf(area);
        if (written_ > 0 && d)
            block = d->blob.block;
        else if (oldBlock_ != 0)
            modified_ = true;  // an empty write clears the memo
    }
    try {
        ds.SelectArea("DestroyBlobStream");
        if (open_ && mode_ != bmRead) {
            ds.Edit();
            if (uint8_t* slot = Slot()) std::memcpy(slot, &block, 4);
            ds.BufferToArea(ds.ActiveBuffer(), -1);
            ds.MarkEdited(field_.FieldNo());
        }
    } catch (...) {
        // The field keeps its old memo; the written blocks stay unreferenced.
        if (uint8_t* slot = Slot()) std::memcpy(slot, &oldBlock_, 4);
        modified_ = false;
    }
    if (open_) Memo::CloseBlobStream(area);
    try {
        if (modified_) ds.DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field_));
        ds.DirectOpenClose(false);
    } catch (...) {
    }
}

}  // namespace TzDs
