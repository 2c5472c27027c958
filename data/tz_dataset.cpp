// TTzDataSet: the field list, opening and closing, fetching, the cursor overrides and the
// state stack. Buffers and field data are in tz_dataset_fields.cpp, navigation and resync in
// tz_dataset_nav.cpp, locking bodies in tz_dbf.cpp.
#include "data/tz_dataset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "data/db_format.h"
#include "data/tz_messages.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDs {

using namespace Db;

// ---- Field list ---------------------------------------------------------------------------

TDbfFieldProps::TDbfFieldProps(const Dbf4::WorkArea& area) : recordLength_(area.nativeSize) {
    for (const Dbf4::FieldEntry& f : area.fields)
        fields_.push_back({f.name, f.type, f.length, f.decimals, f.nativeOffset});
}

const TDbfFieldProps::TDTField* TDbfFieldProps::Field(int n) const {
    if (n < 1 || n > Count()) return nullptr;
    return &fields_[n - 1];
}

int TDbfFieldProps::FieldNo(const std::string& name) const {
    for (int i = 0; i < Count(); ++i)
        if (SameName(fields_[i].name, name)) return i + 1;
    return 0;
}

namespace {

// The values whose text fits an N or F field: a value too wide for the field is refused when
// it is assigned, naming the field and its range, instead of being stored as asterisks that
// read back as 0. A value is rounded to the field's decimals before the check (99999.994999
// fits N(8,2) as 99999.99).
void LimitToWidth(TField& field, const TDbfFieldProps::TDTField& f) {
    if (f.type != 'N' && f.type != 'F') return;
    const int digits = f.decimals > 0 ? f.width - f.decimals - 1 : f.width;
    if (digits < 1) return;
    auto nines = [&](int n) {
        std::string t(size_t(n), '9');
        if (f.decimals > 0) t += "." + std::string(size_t(f.decimals), '9');
        return t;
    };
    const std::string top = nines(digits);
    const std::string bottom = digits > 1 ? "-" + nines(digits - 1) : "0";
    if (auto* real = dynamic_cast<TFloatField*>(&field)) {
        double max = tz::ParseDouble(top.data(), top.size());
        double min = tz::ParseDouble(bottom.data(), bottom.size());
        if (real->Currency()) {
            // Money is read as a count of ten-thousandths in 64 bits: a wider field would
            // take an amount that can then never be read.
            constexpr double kLargestAmount = 922337203685477.0;
            max = std::min(max, kLargestAmount);
            min = std::max(min, -kLargestAmount);
        }
        real->SetMaxValue(max);
        real->SetMinValue(min);
        real->SetStoredDecimals(f.decimals);
    } else if (auto* whole = dynamic_cast<TIntegralField*>(&field); whole && f.width <= 18) {
        whole->SetMaxValue(std::stoll(top));
        whole->SetMinValue(std::stoll(bottom));
    }
}

}  // namespace

// ---- Construction -------------------------------------------------------------------------

TTzDataSet::TTzDataSet(const std::string& name) : TDataSet(name) {
    DataSetUnitStartup();
}

TTzDataSet::~TTzDataSet() = default;

Dbf4::WorkArea* TTzDataSet::Area() const {
    return area_ ? Dbf4::AreaAt(area_) : nullptr;
}

void TTzDataSet::SetDbfFileName(const std::string& name) {
    const bool was = Active();
    if (was) Close();
    std::string n = TzCommon::AllTrim(name);
    if (!n.empty() && n.back() != '.') n = TzCommon::DefaultExtension(n, "DBF");
    dbfFileName_ = n;
    if (was) Open();
}

void TTzDataSet::SelectArea(const char* operation) {
    if (area_ == 0 || !Area()) {
        TzCommon::SetError(
            1103, std::string(kMsgDatabaseNotOpen) + " [" + Name() + "." + operation + "]");
        Abort();
    }
    if (Dbf4::CurrentWorkArea() != area_) Dbf4::Select(area_);
    Dbf4::settings().hideDeleted = HideDeletedRecs;
    Dbf4::settings().ansiTables = TableLanguage == tlAnsi;
}

// ---- Opening and closing ------------------------------------------------------------------

bool TTzDataSet::OpenArea(const std::string& fileName) {
    props_.reset();
    const int remembered = Dbf4::CurrentWorkArea();
    Dbf4::Select(area_);
    if (TzCommon::ErrorWord() != 0) {
        if (remembered >= 1 && remembered <= Dbf4::kCallerAreas) {
            uint16_t code = TzCommon::ErrorWord();
            Dbf4::Select(remembered);
            TzCommon::SetErrorWord(code);
        }
        return false;
    }
    Dbf4::settings().ansiTables = TableLanguage == tlAnsi;
    Dbf4::settings().hideDeleted = HideDeletedRecs;
    area_ = Dbf4::CurrentWorkArea();
    if (!OpenTable(fileName) || !Dbf4::Current()) {
        if (Dbf4::Current() && Dbf4::CurrentWorkArea() == area_) {
            uint16_t code = TzCommon::ErrorWord();
            Dbf4::CloseArea();
            TzCommon::SetErrorWord(code);
        }
        area_ = 0;
        return false;
    }
    area_ = Dbf4::CurrentWorkArea();
    props_ = std::make_unique<TDbfFieldProps>(*Dbf4::Current());
    AfterOpenHook();
    return true;
}

void TTzDataSet::CloseArea() {
    if (area_ == 0) return;
    if (Area()) {
        Dbf4::Select(area_);
        ClearStateStack();
        Dbf4::CloseArea();
    }
    area_ = 0;
    props_.reset();
}

void TTzDataSet::InternalOpen() {
    isOpen_ = false;
    if (dbfFileName_.empty())
        TzCommon::SetError(TzErr::InvalidOperation,
                           "DBF file name has not been specified for " + Name());
    else
        isOpen_ = OpenArea(dbfFileName_);
    if (TzCommon::ErrorWord() != 0) {
        std::string m = TzCommon::LastErrorMessage();
        if (m.empty()) m = TzCommon::ErrorText(TzCommon::ErrorWord());
        throw TzCommon::ETzError(m);
    }
    if (!isOpen_) throw TzCommon::ETzError("Could not open " + dbfFileName_);
    InternalInitFieldDefs();
    if (DefaultFields()) CreateFields();
    BindFields(true);
    ApplyMasks();
    SetBookmarkSize(4);
    recordInfo_ = recordSize_ + CalcFieldsSize();
    bookmarkPos_ = recordInfo_ + 8;
    bufferSize_ = bookmarkPos_ + 4;
    inRangeRec_ = 0;
}

void TTzDataSet::InternalClose() {
    if (DefaultFields()) DestroyFields();
    CloseArea();
    isOpen_ = false;
}

void TTzDataSet::InternalInitFieldDefs() {
    FieldDefs().Clear();
    slots_.clear();
    if (!props_) DatabaseError(Name() + ".DbfFields undefined. Set Active to TRUE");
    int off = 1;
    for (int i = 1; i <= props_->Count(); ++i) {
        const TDbfFieldProps::TDTField& f = *props_->Field(i);
        FieldSlot s{f.type, f.width, f.decimals, off, 0};
        TFieldType type = ftUnknown;
        int size = 0;
        switch (f.type) {
            case 'C':
                s.size = f.width + 1;
                type = ftString;
                size = f.width;
                break;
            case 'D':
                s.size = 8;
                type = ftDate;
                break;
            case 'N':
            case 'F':
                s.size = 8;
                type = f.decimals > 0 ? ftFloat : (f.width <= 9 ? ftInteger : ftLargeint);
                break;
            case 'L':
                s.size = 2;
                type = ftBoolean;
                break;
            case 'M':
                s.size = 4;
                type = ftMemo;
                break;
            default:
                break;
        }
        if (f.name.empty()) s.size = 0;
        slots_.push_back(s);
        off += s.size;
        if (f.name.empty() || type == ftUnknown) continue;
        TFieldDef& def = FieldDefs().Add(f.name, type, size, false);
        def.FieldNo = i;
    }
    recordSize_ = off;
}

void TTzDataSet::ApplyMasks() {
    const std::string& fmt = FormatSettings().ShortDateFormat;
    std::string upper = TzUtils::AnsiUpper(fmt);
    std::string year = upper.find("YYYY") != std::string::npos ? "9999" : "99";
    std::string mask = (!fmt.empty() && (fmt[0] == 'Y' || fmt[0] == 'y'))
                           ? year + "/99/99;1; "
                           : "99/99/" + year + ";1; ";
    for (TField* f : Fields()) {
        if (f->DataType() == ftDate && f->EditMask().empty()) f->SetEditMask(mask);
        const int n = props_ && f->FieldNo() > 0 ? props_->FieldNo(f->FieldName()) : 0;
        if (f->DataType() == ftFloat && f->FieldNo() > 0)
            static_cast<TFloatField*>(f)->SetPrecision(n ? props_->Field(n)->width
                                                         : f->DisplayWidth());
        if (n) LimitToWidth(*f, *props_->Field(n));
    }
}

// ---- Fetching -----------------------------------------------------------------------------

bool TTzDataSet::Hidden() {
    return HideDeletedRecs && Dbf4::Deleted();
}

TGetResult TTzDataSet::GetRecord(TRecordBuffer buffer, TGetMode mode, bool) {
    TGetResult result = grError;
    switch (mode) {
        case gmCurrent:
            if (s_IsEmpty()) return grError;
            if (!(s_dEOF() && s_dBOF())) {
                s_Skip(s_dEOF() ? -1 : 0);
                AreaToBuffer(buffer);
                result = (HideDeletedRecs && buffer[0] != 0) || !s_InWhileRange() ? grError : grOK;
            }
            break;
        case gmNext: {
            bool first = Bof() && Eof();
            do {
                if (s_IsEmpty()) return grEOF;
                if (first)
                    s_GoTopWhile();
                else if (!s_dEOF())
                    s_Skip(1);
                first = false;
                if (s_dEOF()) return grEOF;
                AreaToBuffer(buffer);
                result = grOK;
            } while (HideDeletedRecs && buffer[0] != 0);
            break;
        }
        case gmPrior:
            do {
                if (s_IsEmpty()) return grBOF;
                if (!s_dBOF()) s_Skip(-1);
                if (s_dBOF()) return grBOF;
                AreaToBuffer(buffer);
                result = grOK;
            } while (HideDeletedRecs && buffer[0] != 0);
            break;
    }
    if (result != grOK) return result;
    int32_t n = s_RecNo();
    const int32_t count = s_RecCountReaching(n);
    if (n > count) n = count;
    if (n < 1) n = 1;
    GetCalcFields(buffer);
    std::memcpy(buffer + recordInfo_, &n, 4);
    SetBookmarkFlag(buffer, bfCurrent);
    std::memcpy(buffer + bookmarkPos_, &n, 4);
    return grOK;
}

int TTzDataSet::GetNextRecords() {
    int n = TDataSet::GetNextRecords();
    s_UpdateCursorPos(false);
    return n;
}

int TTzDataSet::GetPriorRecords() {
    int n = TDataSet::GetPriorRecords();
    s_UpdateCursorPos(false);
    return n;
}

// ---- Cursor overrides ---------------------------------------------------------------------

void TTzDataSet::InternalFirst() {
    s_GoTopWhile();
    if (!s_dBOF()) s_Skip(-1);
}

void TTzDataSet::InternalLast() {
    s_GoBottomWhile();
    if (!s_dEOF()) s_Skip(1);
}

void TTzDataSet::InternalGotoBookmark(const void* bookmark) {
    int32_t n;
    std::memcpy(&n, bookmark, 4);
    s_Go(n);
}

void TTzDataSet::InternalSetToRecord(TRecordBuffer buffer) {
    InternalGotoBookmark(buffer + bookmarkPos_);
}

void TTzDataSet::InternalRefresh() {
    s_Skip(0);
}

void TTzDataSet::InternalEdit() {
    edited_.assign(slots_.size(), 0);
}

void TTzDataSet::InternalPost() {
    // A retried post after a failed append that wrote its record has nothing left to write.
    if (!IsEditMode(State())) return;
    if (State() == dsEdit) {
        ReplaceWithLock();
        s_HandleWhileAfterPost();
    } else {
        TRecordBuffer b = ActiveBuffer();
        b[0] = 0;
        BufferToArea(b, -1);
        appendedRecNo_ = 0;
        try {
            AppendWithLock();
        } catch (...) {
            if (appendedRecNo_ > 0) LeaveInsertWritten();
            throw;
        }
        s_HandleWhileAfterInsert();
    }
}

// The appended record is in the table although the append failed afterwards: the dataset
// leaves Insert and shows that record, so posting again cannot add it a second time.
void TTzDataSet::LeaveInsertWritten() {
    FreeFieldBuffers();
    SetState(dsBrowse);
    try {
        s_Go(appendedRecNo_);
        Resync(0);
    } catch (...) {
        resyncPending_ = true;  // the failure being reported goes first
    }
}

void TTzDataSet::InternalAddRecord(const void* buffer, bool) {
    TRecordBuffer b = static_cast<TRecordBuffer>(const_cast<void*>(buffer));
    b[0] = 0;
    BufferToArea(b, -1);
    AppendWithLock();
    s_HandleWhileAfterInsert();
}

void TTzDataSet::InternalDelete() {
    DeleteWithLock();
}

void TTzDataSet::Post() {
    if (State() == dsEdit || State() == dsInsert || State() == dsSetKey) TDataSet::Post();
}

int TTzDataSet::GetRecNo() {
    if (!ControlsDisabled() && BufferCount() > 1 && ActiveBuffer() && !IsEmpty())
        return BufferRecNo(ActiveBuffer());
    return s_RecNo();
}

void TTzDataSet::SetRecNoValue(int value) {
    TBookmark b(4);
    int32_t n = value;
    std::memcpy(b.data(), &n, 4);
    GotoBookmark(b);
}

int TTzDataSet::GetRecordCount() {
    return s_RecCount();
}

bool TTzDataSet::BookmarkValid(const TBookmark& bookmark) {
    if (bookmark.size() < 4) return false;
    int32_t n;
    std::memcpy(&n, bookmark.data(), 4);
    if (n < 1 || n > s_RecCount()) return false;
    s_Go(n);
    return !HideDeletedRecs || !Dbf4::Deleted();
}

int TTzDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
    if (&a == &b) return 0;
    if (a.size() < 4 && b.size() < 4) return 0;
    if (a.size() < 4 || b.size() < 4) return 1;
    return std::memcmp(a.data(), b.data(), 4) == 0 ? 0 : 1;
}

bool TTzDataSet::GetCurrentRecord(void* buffer) {
    if (IsEmpty() || !ActiveBuffer()) return false;
    std::memcpy(buffer, ActiveBuffer(), recordSize_);
    return true;
}

bool TTzDataSet::IsSequenced() {
    SelectArea("IsSequenced");
    return !(Dbf4::indexHooksInstalled && Dbf4::indexHooks.active && Dbf4::indexHooks.active());
}

void TTzDataSet::DataEvent(TDataEvent event, intptr_t info) {
    // A held-back resync never runs inside an edit: it would cancel the row being made.
    if (event == deDataSetChange && resyncPending_ && !resyncing_ && !ControlsDisabled() &&
        isOpen_ && !Db::IsEditMode(State()))
        ResyncFromArea();
    TDataSet::DataEvent(event, info);
}

void TTzDataSet::ControlsEnabled() {
    if (resyncPending_ && !resyncing_ && isOpen_ && !Db::IsEditMode(State())) ResyncFromArea();
}

void TTzDataSet::DoAfterScroll() {
    s_UpdateCursorPos(true);
    TDataSet::DoAfterScroll();
}

void TTzDataSet::DoAfterDelete() {
    if (IsEmpty()) s_GoBottomWhile();
    TDataSet::DoAfterDelete();
}

void TTzDataSet::DoBeforeCancel() {
    TDataSet::DoBeforeCancel();
    if (State() == dsEdit)
        s_HandleWhileAfterPost();
    else if (State() == dsInsert)
        s_HandleWhileAfterInsert();
}

// ---- State stack --------------------------------------------------------------------------

void TTzDataSet::PushState() {
    StateEntry e;
    e.modified = Modified();
    e.state = State();
    e.recNo = s_RecNo();
    if (ActiveBuffer()) e.buffer.assign(ActiveBuffer(), ActiveBuffer() + bufferSize_);
    e.edited = edited_;
    try {
        stack_.push_back(std::move(e));
    } catch (const std::bad_alloc&) {
        TzCommon::SetError(TzErr::InsufficientMemory,
                           std::string(kMsgNoMemoryPush) + " [PushState]\r\n" + Name());
    }
}

void TTzDataSet::PopState() {
    if (stack_.empty()) {
        TzCommon::SetError(TzErr::InvalidOperation,
                           std::string(kMsgStackEmpty) + " [PopState]\r\n" + Name());
        return;
    }
    StateEntry e = std::move(stack_.back());
    stack_.pop_back();
    s_SafeGo(e.recNo);
    if (ActiveBuffer() && e.buffer.size() == size_t(bufferSize_))
        std::memcpy(ActiveBuffer(), e.buffer.data(), bufferSize_);
    SetState(e.state);
    SetModified(e.modified);
    edited_ = std::move(e.edited);
    if (e.modified && ActiveBuffer()) BufferToArea(ActiveBuffer(), -1);
}

void TTzDataSet::ClearStateStack() {
    stack_.clear();
}

}  // namespace TzDs
