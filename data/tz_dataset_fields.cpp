// TTzDataSet: record buffers, the copies between the work area and the buffers, and the
// field data in and out of the buffers, with the date conversions they use.
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
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDs {

using namespace Db;

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

// The engine's own form of a date (the current style with a four-digit year and the style's
// separator) read straight from its digits: every record read passes through here. False for
// any other text, which then takes the general way; years before 1600 do too, so that the
// calendar rules of the general way decide them.
bool QuickStyleDate(const std::string& t, TDateTime& out) {
    if (t.size() != 10) return false;
    const bool yearFirst = TzCommon::DateStyle() == 1;
    const size_t sep1 = yearFirst ? 4 : 2, sep2 = yearFirst ? 7 : 5;
    const char sep = TzCommon::DateSeparator();
    int parts[3] = {0, 0, 0};  // in the order written
    int part = 0;
    for (size_t i = 0; i < t.size(); ++i) {
        if (i == sep1 || i == sep2) {
            if (t[i] != sep) return false;
            ++part;
            continue;
        }
        if (t[i] < '0' || t[i] > '9') return false;
        parts[part] = parts[part] * 10 + (t[i] - '0');
    }
    int y = 0, m = 0, d = 0;
    TzCommon::StyleParts(parts, m, d, y);
    if (y < 1600) return false;
    return TryEncodeDate(y, m, d, out);
}

// An assigned date goes into the record in its stored form, without a date text that the
// engine would read back; false when the engine leaves it to the date text (the century
// flag off, or no date the calendar has: the text's check reports that).
bool AssignDateDirect(int fieldNo, const uint8_t* src) {
    double v;
    std::memcpy(&v, src, 8);
    int y = 0, m = 0, d = 0;
    if (v != 0) DecodeDate(v, y, m, d);
    return Dbf4::AssignDate(fieldNo, y, m, d);
}

}  // namespace

TDateTime DateTextToDateTime(const std::string& text, bool raising) {
    TDateTime quick = 0;
    if (text.size() == 10 && QuickStyleDate(text, quick)) return quick;
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
    TDateTime value = 0;
    try {
        value = DateTextToDateTime(t, true);
    } catch (const EConvertError&) {
        throw EConvertError(FormatMessage(SInvalidDateValue, {t, DisplayName()}));
    }
    SetAsDateTime(value);
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
    edited_.assign(slots_.size(), 0);
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
                    const int n = tz::FormatRounded(buf, sizeof buf, 0, s.decimals, v);
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
        // stored bytes decode to (a 0 over blanks), also when the whole buffer goes over
        // again at the post, after a move of the area blanked its record.
        const bool assigned = which > 0 || (i < edited_.size() && edited_[i]);
        uint8_t* dst = assigned ? Dbf4::AssignField(int(i) + 1) : nat + a->fields[i].nativeOffset;
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
                if (assigned && AssignDateDirect(int(i) + 1, src)) break;
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
        if (State() == dsCalcFields) DatabaseError(SNotEditing, NameForUser());
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

}  // namespace TzDs
