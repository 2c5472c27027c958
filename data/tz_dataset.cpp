// TTzDataSet: record buffers, field mapping, navigation over the work area, resync and the
// state stack. Locking bodies are in tz_dbf.cpp.
#include "data/tz_dataset.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "data/tz_messages.h"
#include "data/db_format.h"
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

// ---- Dates --------------------------------------------------------------------------------

namespace {

std::string EmptyDateText() {
    std::string t = TzCommon::EmptyDateString(TzCommon::DateStyle());
    return t.size() > 10 ? t.substr(0, 10) : t;
}

bool IsEmptyDateText(const std::string& t) {
    return TzCommon::TrimRight(t).empty() ||
           TzCommon::TrimRight(t) == TzCommon::TrimRight(EmptyDateText());
}

// Writes an int64 as the text of an N field of the given width (false when it does not fit).
bool NumberText(int64_t v, int width, std::string& out) {
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%*lld", width, static_cast<long long>(v));
    if (n < 0 || n > width) return false;
    out.assign(buf, n);
    return true;
}

int64_t ParseWide(const uint8_t* p, int len) {
    int i = 0;
    while (i < len && (p[i] == ' ' || p[i] == 0)) ++i;
    bool neg = false;
    if (i < len && (p[i] == '-' || p[i] == '+')) neg = p[i++] == '-';
    int64_t v = 0;
    for (; i < len && p[i] >= '0' && p[i] <= '9'; ++i) {
        if (v > (INT64_MAX - 9) / 10) break;
        v = v * 10 + (p[i] - '0');
    }
    return neg ? -v : v;
}

// What the engine's native form of an N field without decimals holds for these bytes.
int32_t DecodedInt(const uint8_t* p, int len) {
    const int64_t v = ParseWide(p, len);
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

}  // namespace

TDateTime DateTextToDateTime(const std::string& text, bool raising) {
    std::string t = TzCommon::TrimLeft(text).substr(0, 10);
    if (IsEmptyDateText(t)) return 0;
    if (TimeDate::ValidDate(t)) {
        TimeDate::DateParts p = TimeDate::ParseDate(TzCommon::DateFromStyle(t));
        TDateTime v = 0;
        if (TryEncodeDate(p.year, p.month, p.day, v)) return v;
    }
    if (raising) return StrToDate(t);
    return 0;
}

std::string DateTimeToDateText(TDateTime value) {
    if (value == 0) return EmptyDateText();
    int y = 0, m = 0, d = 0;
    DecodeDate(value, y, m, d);
    if (y < 1 || y > 9999) return std::string();
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", m, d, y);
    std::string t = TzCommon::TrimRight(TzCommon::DateToStyle(buf));
    return t.substr(0, 10);
}

void TTzDateField::GetText(std::string& text, bool displayText) const {
    TDateField::GetText(text, displayText);
    if (text.size() > 10 && TimeDate::ValidDate(text.substr(0, 10))) text.resize(10);
}

void TTzDateField::SetTextValue(const std::string& text) {
    std::string t = TzCommon::TrimRight(text).substr(0, 10);
    if (IsEmptyDateText(t)) {
        Clear();
        return;
    }
    SetAsDateTime(DateTextToDateTime(t, true));
}

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
        if (f->DataType() == ftFloat && f->FieldNo() > 0) {
            int n = props_ ? props_->FieldNo(f->FieldName()) : 0;
            static_cast<TFloatField*>(f)->SetPrecision(n ? props_->Field(n)->width
                                                         : f->DisplayWidth());
        }
    }
}

// ---- Record buffers -----------------------------------------------------------------------

TRecordBuffer TTzDataSet::AllocRecordBuffer() {
    return new uint8_t[std::max(bufferSize_, 16)]();
}

void TTzDataSet::FreeRecordBuffer(TRecordBuffer& buffer) {
    delete[] buffer;
    buffer = nullptr;
}

void TTzDataSet::ClearCalcFields(TRecordBuffer buffer) {
    if (buffer && CalcFieldsSize() > 0) std::memset(buffer + recordSize_, 0, CalcFieldsSize());
}

TBookmarkFlag TTzDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
    return static_cast<TBookmarkFlag>(buffer[recordInfo_ + 4]);
}

void TTzDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
    buffer[recordInfo_ + 4] = static_cast<uint8_t>(flag);
}

void TTzDataSet::GetBookmarkData(TRecordBuffer buffer, void* data) {
    std::memcpy(data, buffer + bookmarkPos_, 4);
}

void TTzDataSet::SetBookmarkData(TRecordBuffer buffer, const void* data) {
    std::memcpy(buffer + bookmarkPos_, data, 4);
}

int32_t TTzDataSet::BufferRecNo(TRecordBuffer buffer) const {
    int32_t n = 0;
    if (buffer) std::memcpy(&n, buffer + recordInfo_, 4);
    return n;
}

void TTzDataSet::InternalInitRecord(TRecordBuffer buffer) {
    std::memset(buffer, 0, bufferSize_);
    s_ClearRecord();
}

// ---- Copies between the work area and the buffers -----------------------------------------

void TTzDataSet::AreaToBuffer(TRecordBuffer buffer) {
    if (!buffer || !props_) return;
    if (Dbf4::CurrentWorkArea() != area_) Dbf4::Select(area_);
    Dbf4::WorkArea* a = Area();
    if (!a) return;
    const uint8_t* nat = Dbf4::NativeOf(*a);
    const uint8_t* raw = nullptr;
    buffer[0] = nat[0];
    for (size_t i = 0; i < slots_.size() && i < a->fields.size(); ++i) {
        const FieldSlot& s = slots_[i];
        if (s.size == 0) continue;
        const uint8_t* src = nat + a->fields[i].nativeOffset;
        uint8_t* dst = buffer + s.offset;
        switch (s.type) {
            case 'C':
                std::memcpy(dst, src, s.width + 1);
                break;
            case 'D': {
                std::string text(reinterpret_cast<const char*>(src) + 1, std::min<int>(src[0], 10));
                TDateTime v = DateTextToDateTime(text, false);
                std::memcpy(dst, &v, 8);
                break;
            }
            case 'N':
            case 'F':
                if (s.decimals > 0) {
                    double v;
                    std::memcpy(&v, src, 8);
                    char buf[400];
                    const int n = tz::FormatFixed(buf, sizeof buf, 0, s.decimals, v);
                    if (n > 0) v = tz::ParseDouble(buf, size_t(n));
                    std::memcpy(dst, &v, 8);
                } else {
                    int64_t v;
                    if (s.width >= 10) {
                        if (!raw) raw = Dbf4::RecordOf(*a);
                        v = ParseWide(raw + a->fields[i].offset, s.width);
                    } else {
                        int32_t n;
                        std::memcpy(&n, src, 4);
                        v = n;
                    }
                    std::memcpy(dst, &v, 8);
                }
                break;
            case 'L':
                dst[0] = src[0] ? 1 : 0;
                dst[1] = 0;
                break;
            case 'M':
                std::memcpy(dst, src, 4);
                break;
            default:
                break;
        }
    }
}

void TTzDataSet::BufferToArea(TRecordBuffer buffer, int which) {
    if (!buffer || !props_) return;
    if (Dbf4::CurrentWorkArea() != area_) Dbf4::Select(area_);
    Dbf4::WorkArea* a = Area();
    if (!a) return;
    uint8_t* nat = Dbf4::NativeOf(*a);
    nat[0] = buffer[0];
    if (which == 0) return;
    for (size_t i = 0; i < slots_.size() && i < a->fields.size(); ++i) {
        if (which > 0 && int(i) + 1 != which) continue;
        const FieldSlot& s = slots_[i];
        if (s.size == 0) continue;
        // A field assigned by the program is written even when its value equals what the
        // stored bytes decode to (a 0 over blanks).
        uint8_t* dst = which > 0 ? Dbf4::AssignField(int(i) + 1) : nat + a->fields[i].nativeOffset;
        const uint8_t* src = buffer + s.offset;
        switch (s.type) {
            case 'C': {
                int len = std::min<int>(src[0], s.width);
                dst[0] = uint8_t(len);
                std::memcpy(dst + 1, src + 1, len);
                if (len < s.width) std::memset(dst + 1 + len, ' ', s.width - len);
                break;
            }
            case 'D': {
                double v;
                std::memcpy(&v, src, 8);
                std::string text = EmptyDateText();
                if (v != 0) {
                    text = DateTimeToDateText(v);
                    if (!TimeDate::ValidDate(text)) {
                        ShowText(kMsgInvalidDate);
                        text = EmptyDateText();
                    }
                }
                std::memset(dst, 0, 11);
                dst[0] = uint8_t(text.size());
                std::memcpy(dst + 1, text.data(), text.size());
                break;
            }
            case 'N':
            case 'F':
                if (s.decimals > 0) {
                    std::memcpy(dst, src, 8);
                } else {
                    int64_t v;
                    std::memcpy(&v, src, 8);
                    int32_t n;
                    if (v >= INT32_MIN && v <= INT32_MAX) {
                        n = int32_t(v);
                    } else {
                        // The native form holds 32 bits: the value goes into the record's own
                        // bytes (its digits, or asterisks when it does not fit the field) and
                        // the native form holds what those bytes decode to, so the engine
                        // keeps them (also when it re-reads the record for the index engine
                        // before writing).
                        std::string text;
                        if (!NumberText(v, s.width, text)) text.assign(size_t(s.width), '*');
                        uint8_t* raw = Dbf4::RecordOf(*a) + a->fields[i].offset;
                        std::memcpy(raw, text.data(), s.width);
                        n = DecodedInt(raw, s.width);
                        a->assigned[i] = 0;
                    }
                    std::memcpy(dst, &n, 4);
                }
                break;
            case 'L':
                dst[0] = src[0] ? 1 : 0;
                break;
            case 'M':
                std::memcpy(dst, src, 4);
                break;
            default:
                break;
        }
        if (which > 0) break;
    }
}

void TTzDataSet::MarkEdited(int n) {
    edited_.resize(slots_.size(), 0);
    if (n == 0)
        std::fill(edited_.begin(), edited_.end(), uint8_t(1));
    else if (n >= 1 && n <= int(edited_.size()))
        edited_[size_t(n - 1)] = 1;
}

void TTzDataSet::MergeLockedRecord() {
    TRecordBuffer b = ActiveBuffer();
    if (!b || !props_ || State() != dsEdit) return;
    const std::vector<uint8_t> mine(b, b + bufferSize_);
    AreaToBuffer(b);
    edited_.resize(slots_.size(), 0);
    for (size_t i = 0; i < slots_.size(); ++i) {
        const FieldSlot& s = slots_[i];
        if (!edited_[i] || s.size == 0) continue;
        std::memcpy(b + s.offset, mine.data() + s.offset, size_t(s.size));
        BufferToArea(b, int(i) + 1);
    }
}

// ---- Field data ---------------------------------------------------------------------------

bool TTzDataSet::GetFieldData(TField& field, void* buffer) {
    TRecordBuffer src = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (!src || !isOpen_) return false;
    if (State() == dsBrowse && IsEmpty()) return false;
    const int no = field.FieldNo();
    uint8_t* out = static_cast<uint8_t*>(buffer);
    if (no >= 1) {
        if (no > int(slots_.size())) return false;
        const FieldSlot& s = slots_[no - 1];
        const uint8_t* p = src + s.offset;
        if (out && field.DataSize() > 0) std::memset(out, 0, field.DataSize());
        switch (field.DataType()) {
            case ftString: {
                std::string text(reinterpret_cast<const char*>(p) + 1,
                                 std::min<int>(p[0], s.width));
                text = TzCommon::TrimRight(text);
                if (out) std::memcpy(out, text.data(), std::min<size_t>(text.size(), field.Size()));
                return true;
            }
            case ftDate:
            case ftTime:
            case ftDateTime: {
                double v;
                std::memcpy(&v, p, 8);
                if (v == 0) return false;
                if (!out) return true;
                double days = std::floor(v);
                double ms = std::round((v - days) * MSecsPerDay);
                if (field.DataType() == ftDate) {
                    int32_t d = int32_t(days) + DateDelta;
                    std::memcpy(out, &d, 4);
                } else if (field.DataType() == ftTime) {
                    int32_t t = int32_t(ms);
                    std::memcpy(out, &t, 4);
                } else {
                    double total = (days + DateDelta) * MSecsPerDay + ms;
                    std::memcpy(out, &total, 8);
                }
                return true;
            }
            case ftInteger: {
                int64_t v;
                std::memcpy(&v, p, 8);
                int32_t n = int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
                if (out) std::memcpy(out, &n, 4);
                return true;
            }
            case ftLargeint:
            case ftFloat:
                if (out) std::memcpy(out, p, 8);
                return true;
            case ftBoolean: {
                int16_t b = p[0] ? 1 : 0;
                if (out) std::memcpy(out, &b, 2);
                return true;
            }
            default:
                if (out && field.DataSize() > 0)
                    std::memcpy(out, p, std::min(field.DataSize(), s.size));
                return true;
        }
    }
    const int pos = recordSize_ + field.Offset();
    if (src[pos] != 0) return false;
    if (out && field.DataSize() > 0) std::memcpy(out, src + pos + 1, field.DataSize());
    return true;
}

void TTzDataSet::SetFieldData(TField& field, const void* buffer) {
    const int no = field.FieldNo();
    const uint8_t* in = static_cast<const uint8_t*>(buffer);
    if (no >= 1) {
        if (State() == dsCalcFields) DatabaseError(SNotEditing, Name());
        TRecordBuffer dst = ActiveBuffer();
        if (!dst || no > int(slots_.size())) return;
        const FieldSlot& s = slots_[no - 1];
        uint8_t* p = dst + s.offset;
        std::memset(p, 0, s.size);
        if (in) {
            switch (field.DataType()) {
                case ftString: {
                    size_t len = strnlen(reinterpret_cast<const char*>(in), field.Size());
                    len = std::min<size_t>(len, s.width);
                    p[0] = uint8_t(len);
                    std::memcpy(p + 1, in, len);
                    break;
                }
                case ftDate: {
                    int32_t d;
                    std::memcpy(&d, in, 4);
                    double v = double(d - DateDelta);
                    std::memcpy(p, &v, 8);
                    break;
                }
                case ftTime: {
                    int32_t t;
                    std::memcpy(&t, in, 4);
                    double v = t / MSecsPerDay;
                    std::memcpy(p, &v, 8);
                    break;
                }
                case ftDateTime: {
                    double total;
                    std::memcpy(&total, in, 8);
                    double v = std::round(total) / MSecsPerDay - DateDelta;
                    std::memcpy(p, &v, 8);
                    break;
                }
                case ftInteger: {
                    int32_t n;
                    std::memcpy(&n, in, 4);
                    int64_t v = n;
                    std::memcpy(p, &v, 8);
                    break;
                }
                case ftBoolean: {
                    int16_t b;
                    std::memcpy(&b, in, 2);
                    p[0] = b ? 1 : 0;
                    break;
                }
                default:
                    std::memcpy(p, in, std::min(field.DataSize(), s.size));
                    break;
            }
        }
        BufferToArea(dst, no);
        MarkEdited(no);
        DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field));
        return;
    }
    TRecordBuffer dst = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    if (!dst) return;
    const int pos = recordSize_ + field.Offset();
    dst[pos] = in ? 0 : 1;
    if (field.DataSize() > 0) {
        if (in)
            std::memcpy(dst + pos + 1, in, field.DataSize());
        else
            std::memset(dst + pos + 1, 0, field.DataSize());
    }
    if (State() != dsCalcFields) DataEvent(deFieldChange, reinterpret_cast<intptr_t>(&field));
}

std::unique_ptr<TField> TTzDataSet::CreateFieldInstance(TFieldType type, int size) {
    if (type == ftDate) return std::make_unique<TTzDateField>();
    return TDataSet::CreateFieldInstance(type, size);
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
    const int32_t count = s_RecCount();
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
    if (event == deDataSetChange && resyncPending_ && !resyncing_ && !ControlsDisabled() && isOpen_)
        ResyncFromArea();
    TDataSet::DataEvent(event, info);
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

// ---- Navigation routines ------------------------------------------------------------------

void TTzDataSet::s_Skip(int32_t n) {
    SelectArea("s_Skip");
    if (Dbf4::RecCount() == 0) return;
    RelationPause pause(*this);
    Dbf4::Skip(n);
}

void TTzDataSet::s_Go(int32_t n) {
    SelectArea("s_Go");
    if (Dbf4::RecCount() <= 0) return;
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
    return Dbf4::RecCount() <= 0;
}

bool TTzDataSet::s_InWhileRange() {
    SelectArea("s_InWhileRange");
    if (IsEditMode(State())) return true;
    return Dbf4::WhileHolds();
}

void TTzDataSet::s_ClearActive() {
    SelectArea("s_ClearActive");
    Dbf4::ClearRecord();
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
    struct Done {
        bool& flag;
        ~Done() { flag = false; }
    } done{resyncing_};
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
