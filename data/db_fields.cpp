#include "data/db_fields.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "data/db_dataset.h"
#include "data/db_format.h"
#include "storage/scope_exit.h"

namespace Db {

// ---- Field definitions -------------------------------------------------------------------

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType type, int size, bool required) {
    TFieldDef def;
    def.Name = name;
    def.DataType = type;
    def.Size = size;
    def.Required = required;
    def.FieldNo = Count() + 1;
    defs_.push_back(def);
    return defs_.back();
}

TFieldDef* TFieldDefs::Find(const std::string& name) {
    int i = IndexOf(name);
    return i < 0 ? nullptr : &defs_[i];
}

int TFieldDefs::IndexOf(const std::string& name) const {
    for (size_t i = 0; i < defs_.size(); ++i)
        if (SameName(defs_[i].Name, name)) return static_cast<int>(i);
    return -1;
}

// ---- TField ------------------------------------------------------------------------------

TField::TField(TFieldType type, int size) : size_(size), dataType_(type) {}

TField::~TField() = default;

void TField::SetFieldName(const std::string& name) {
    if (dataSet_ && dataSet_->Active()) DatabaseError(SDataSetOpen, dataSet_->NameForUser());
    fieldName_ = name;
}

void TField::SetSize(int size) {
    if (dataSet_ && dataSet_->Active()) DatabaseError(SDataSetOpen, dataSet_->NameForUser());
    size_ = size;
}

void TField::SetFieldKind(TFieldKind kind) {
    if (dataSet_ && dataSet_->Active()) DatabaseError(SDataSetOpen, dataSet_->NameForUser());
    fieldKind_ = kind;
}

int TField::Index() const {
    if (!dataSet_) return -1;
    const auto& list = dataSet_->Fields();
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i] == this) return static_cast<int>(i);
    return -1;
}

bool TField::GetData(void* buffer) const {
    if (validating_) {
        if (!valueBuffer_) return false;
        if (buffer) std::memcpy(buffer, valueBuffer_, DataSize());
        return true;
    }
    if (!dataSet_) DatabaseError(FormatMessage(SDataSetMissing, {DisplayName()}));
    if (!dataSet_->Active()) DatabaseError(SDataSetClosed, dataSet_->NameForUser());
    return dataSet_->GetFieldData(const_cast<TField&>(*this), buffer);
}

void TField::SetData(const void* buffer) {
    if (!dataSet_) DatabaseError(FormatMessage(SDataSetMissing, {DisplayName()}));
    TDataSetState state = dataSet_->State();
    if (!IsWriteMode(state)) DatabaseError(SNotEditing, dataSet_->NameForUser());
    if (fieldKind_ == fkData) {
        if (state == dsCalcFields) DatabaseError(SNotEditing, dataSet_->NameForUser());
        if (readOnly_ && state != dsSetKey && state != dsFilter)
            DatabaseError(FormatMessage(SFieldReadOnly, {DisplayName()}));
    }
    Validate(buffer);
    dataSet_->SetFieldData(*this, buffer);
}

void TField::Validate(const void* buffer) {
    if (!OnValidate) return;
    tz::ScopeExit restore([this, v = validating_, b = valueBuffer_] {
        validating_ = v;
        valueBuffer_ = b;
    });
    validating_ = true;
    valueBuffer_ = buffer;
    OnValidate(*this);
}

bool TField::IsNull() const {
    std::vector<uint8_t> scratch(std::max(DataSize(), 16) + 8, 0);
    return !GetData(scratch.data());
}

std::string TField::Text() const {
    std::string text;
    if (OnGetText)
        OnGetText(const_cast<TField&>(*this), text, false);
    else
        GetText(text, false);
    return text;
}

std::string TField::DisplayText() const {
    std::string text;
    if (OnGetText)
        OnGetText(const_cast<TField&>(*this), text, true);
    else
        GetText(text, true);
    return text;
}

void TField::SetText(const std::string& text) {
    if (OnSetText)
        OnSetText(*this, text);
    else
        SetTextValue(text);
}

void TField::FocusControl() {
    if (dataSet_ && dataSet_->Active())
        dataSet_->DataEvent(deFocusControl, reinterpret_cast<intptr_t>(this));
}

void TField::GetText(std::string& text, bool) const {
    text = GetAsString();
}

void TField::AccessError(const char* typeName) const {
    DatabaseError(FormatMessage(SFieldAccessError, {DisplayName(), typeName}));
}

void TField::RangeError(const std::string& value, const std::string& min,
                        const std::string& max) const {
    DatabaseError(FormatMessage(SFieldRangeError, {value, DisplayName(), min, max}));
}

std::string TField::GetAsString() const {
    AccessError("String");
}
void TField::SetAsStringValue(const std::string&) {
    AccessError("String");
}
int32_t TField::GetAsInteger() const {
    AccessError("Integer");
}
void TField::SetAsIntegerValue(int32_t) {
    AccessError("Integer");
}
int64_t TField::GetAsLargeInt() const {
    AccessError("LargeInt");
}
void TField::SetAsLargeIntValue(int64_t) {
    AccessError("LargeInt");
}
double TField::GetAsFloat() const {
    AccessError("Float");
}
void TField::SetAsFloatValue(double) {
    AccessError("Float");
}
bool TField::GetAsBoolean() const {
    AccessError("Boolean");
}
void TField::SetAsBooleanValue(bool) {
    AccessError("Boolean");
}
TDateTime TField::GetAsDateTime() const {
    AccessError("DateTime");
}
void TField::SetAsDateTimeValue(TDateTime) {
    AccessError("DateTime");
}
int64_t TField::GetAsCurrency() const {
    AccessError("Currency");
}
void TField::SetAsCurrencyValue(int64_t) {
    AccessError("Currency");
}

// ---- TStringField ------------------------------------------------------------------------

std::string TStringField::GetAsString() const {
    std::vector<char> buf(DataSize() + 1, 0);
    if (!GetData(buf.data())) return {};
    return std::string(buf.data(), strnlen(buf.data(), Size()));
}

void TStringField::SetAsStringValue(const std::string& v) {
    std::vector<char> buf(DataSize(), 0);
    std::memcpy(buf.data(), v.data(), std::min<size_t>(v.size(), Size()));
    SetData(buf.data());
}

int32_t TStringField::GetAsInteger() const {
    int64_t v = GetAsLargeInt();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        DatabaseError(FormatMessage(SInvalidIntegerValue, {GetAsString(), DisplayName()}));
    return static_cast<int32_t>(v);
}

int64_t TStringField::GetAsLargeInt() const {
    std::string s = GetAsString();
    int64_t v = 0;
    if (!TryStrToInt64(s, v))
        DatabaseError(FormatMessage(SInvalidIntegerValue, {s, DisplayName()}));
    return v;
}

double TStringField::GetAsFloat() const {
    std::string s = GetAsString();
    double v = 0;
    if (!TryStrToFloat(s, v)) DatabaseError(FormatMessage(SInvalidFloatValue, {s, DisplayName()}));
    return v;
}

void TStringField::SetAsFloatValue(double v) {
    SetAsStringValue(FloatToStr(v));
}

bool TStringField::GetAsBoolean() const {
    std::string s = GetAsString();
    if (s.empty()) return false;
    char c = s[0];
    if (c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == 'J' || c == 'j') return true;
    if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return false;
    DatabaseError(FormatMessage(SInvalidBoolValue, {s, DisplayName()}));
}

TDateTime TStringField::GetAsDateTime() const {
    return StrToDateTime(GetAsString());
}

void TStringField::SetAsDateTimeValue(TDateTime v) {
    SetAsStringValue(DateTimeToStr(v));
}

int64_t TStringField::GetAsCurrency() const {
    return FloatToCurr(GetAsFloat());
}

void TStringField::SetAsCurrencyValue(int64_t v) {
    SetAsStringValue(CurrToStrF(v, ffGeneral, 0));
}

// ---- Whole numbers -----------------------------------------------------------------------

TIntegralField::TIntegralField(TFieldType type, int width) : TNumericField(type, 0), width_(width) {
    if (width == 2) {
        limitMin_ = std::numeric_limits<int16_t>::min();
        limitMax_ = std::numeric_limits<int16_t>::max();
    } else if (width == 4) {
        limitMin_ = std::numeric_limits<int32_t>::min();
        limitMax_ = std::numeric_limits<int32_t>::max();
    } else {
        limitMin_ = std::numeric_limits<int64_t>::min();
        limitMax_ = std::numeric_limits<int64_t>::max();
    }
    min_ = 0;
    max_ = 0;
}

bool TIntegralField::GetValue(int64_t& value) const {
    uint8_t buf[8] = {};
    if (!GetData(buf)) return false;
    if (width_ == 2) {
        int16_t v;
        std::memcpy(&v, buf, 2);
        value = v;
    } else if (width_ == 4) {
        int32_t v;
        std::memcpy(&v, buf, 4);
        value = v;
    } else {
        std::memcpy(&value, buf, 8);
    }
    return true;
}

void TIntegralField::SetAsLargeIntValue(int64_t v) {
    int64_t lo = limitMin_, hi = limitMax_;
    if (min_ != 0 || max_ != 0) {
        lo = std::max(lo, min_);
        hi = std::min(hi, max_);
    }
    if (v < lo || v > hi) RangeError(NumberText(v), NumberText(lo), NumberText(hi));
    uint8_t buf[8] = {};
    if (width_ == 2) {
        int16_t x = static_cast<int16_t>(v);
        std::memcpy(buf, &x, 2);
    } else if (width_ == 4) {
        int32_t x = static_cast<int32_t>(v);
        std::memcpy(buf, &x, 4);
    } else {
        std::memcpy(buf, &v, 8);
    }
    SetData(buf);
}

std::string TIntegralField::GetAsString() const {
    int64_t v;
    return GetValue(v) ? std::to_string(v) : std::string();
}

void TIntegralField::SetAsStringValue(const std::string& v) {
    std::string t = v;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    while (!t.empty() && t.front() == ' ') t.erase(t.begin());
    if (t.empty()) {
        Clear();
        return;
    }
    int64_t x;
    if (!TryStrToInt64(t, x))
        DatabaseError(FormatMessage(SInvalidIntegerValue, {v, DisplayName()}));
    SetAsLargeIntValue(x);
}

int32_t TIntegralField::GetAsInteger() const {
    int64_t v;
    if (!GetValue(v)) return 0;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
        AccessError("Integer");
    return static_cast<int32_t>(v);
}

int64_t TIntegralField::GetAsLargeInt() const {
    int64_t v;
    return GetValue(v) ? v : 0;
}

double TIntegralField::GetAsFloat() const {
    return static_cast<double>(GetAsLargeInt());
}

void TIntegralField::SetAsFloatValue(double v) {
    double r = std::nearbyint(v);
    if (!std::isfinite(r) || r < -9223372036854775808.0 || r >= 9223372036854775807.0)
        RangeError(NumberText(v), NumberText(limitMin_), NumberText(limitMax_));
    SetAsLargeIntValue(static_cast<int64_t>(r));
}

int64_t TIntegralField::GetAsCurrency() const {
    int64_t v = GetAsLargeInt();
    if (v > std::numeric_limits<int64_t>::max() / 10000 ||
        v < std::numeric_limits<int64_t>::min() / 10000)
        AccessError("Currency");
    return v * 10000;
}

void TIntegralField::SetAsCurrencyValue(int64_t v) {
    // Whole units, rounded half to even like the currency-to-integer conversion.
    int64_t q = v / 10000, r = v % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
    SetAsLargeIntValue(q);
}

void TIntegralField::GetText(std::string& text, bool displayText) const {
    int64_t v;
    if (!GetValue(v)) {
        text.clear();
        return;
    }
    const std::string& fmt = FormatFor(displayText);
    text = fmt.empty() ? std::to_string(v) : FormatFloat(fmt, static_cast<double>(v));
}

// ---- TFloatField -------------------------------------------------------------------------

bool TFloatField::GetValue(double& value) const {
    uint8_t buf[8] = {};
    if (!GetData(buf)) return false;
    std::memcpy(&value, buf, 8);
    return true;
}

std::string TFloatField::GetAsString() const {
    double v;
    return GetValue(v) ? FloatToStrF(v, ffGeneral, Precision(), 0) : std::string();
}

void TFloatField::SetAsStringValue(const std::string& v) {
    std::string t = v;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    if (t.find_first_not_of(' ') == std::string::npos) {
        Clear();
        return;
    }
    double x;
    if (!TryStrToFloat(t, x)) DatabaseError(FormatMessage(SInvalidFloatValue, {v, DisplayName()}));
    SetAsFloatValue(x);
}

int32_t TFloatField::GetAsInteger() const {
    double r = std::nearbyint(GetAsFloat());
    if (r < -2147483648.0 || r > 2147483647.0) AccessError("Integer");
    return static_cast<int32_t>(r);
}

int64_t TFloatField::GetAsLargeInt() const {
    double r = std::nearbyint(GetAsFloat());
    if (r < -9223372036854775808.0 || r >= 9223372036854775807.0) AccessError("LargeInt");
    return static_cast<int64_t>(r);
}

double TFloatField::GetAsFloat() const {
    double v;
    return GetValue(v) ? v : 0.0;
}

void TFloatField::SetAsFloatValue(double v) {
    if (!std::isfinite(v))
        DatabaseError(FormatMessage(SInvalidFloatValue, {FloatToStr(v), DisplayName()}));
    if (storedDecimals_ >= 0 && storedDecimals_ <= 15) {
        const double scale = std::pow(10.0, storedDecimals_);
        const double rounded = std::round(v * scale) / scale;
        if (std::isfinite(rounded)) v = rounded;
    }
    if ((min_ != 0 || max_ != 0) && (v < min_ || v > max_))
        RangeError(NumberText(v), NumberText(min_), NumberText(max_));
    SetData(&v);
}

int64_t TFloatField::GetAsCurrency() const {
    return FloatToCurr(GetAsFloat());
}

void TFloatField::GetText(std::string& text, bool displayText) const {
    double v;
    if (!GetValue(v)) {
        text.clear();
        return;
    }
    const std::string& fmt = FormatFor(displayText);
    if (!fmt.empty()) {
        text = FormatFloat(fmt, v);
    } else if (currency_) {
        text = FloatToStrF(v, displayText ? ffCurrency : ffFixed, Precision(),
                           FormatSettings().CurrencyDecimals);
    } else {
        text = FloatToStrF(v, ffGeneral, Precision(), 0);
    }
}

// ---- TCurrencyField ----------------------------------------------------------------------

namespace {
// The largest whole amount a count of ten-thousandths in 64 bits holds.
constexpr int64_t kLargestUnits = 922337203685477;
}  // namespace

bool TCurrencyField::GetValue(int64_t& value) const {
    uint8_t buf[8] = {};
    if (!GetData(buf)) return false;
    std::memcpy(&value, buf, 8);
    return true;
}

std::string TCurrencyField::GetAsString() const {
    int64_t v;
    return GetValue(v) ? CurrToStrF(v, ffGeneral, 0) : std::string();
}

void TCurrencyField::SetAsStringValue(const std::string& v) {
    if (v.find_first_not_of(' ') == std::string::npos) {
        Clear();
        return;
    }
    double x;
    if (!TryStrToFloat(v, x)) DatabaseError(FormatMessage(SInvalidFloatValue, {v, DisplayName()}));
    SetAsFloatValue(x);
}

int32_t TCurrencyField::GetAsInteger() const {
    int64_t units = GetAsLargeInt();
    if (units < std::numeric_limits<int32_t>::min() || units > std::numeric_limits<int32_t>::max())
        AccessError("Integer");
    return static_cast<int32_t>(units);
}

int64_t TCurrencyField::GetAsLargeInt() const {
    int64_t v = GetAsCurrency();
    int64_t q = v / 10000, r = v % 10000;
    if (r > 5000 || (r == 5000 && (q & 1)))
        ++q;
    else if (r < -5000 || (r == -5000 && (q & 1)))
        --q;
    return q;
}

void TCurrencyField::SetAsLargeIntValue(int64_t v) {
    if (v > std::numeric_limits<int64_t>::max() / 10000 ||
        v < std::numeric_limits<int64_t>::min() / 10000)
        RangeError(NumberText(v), NumberText(-kLargestUnits), NumberText(kLargestUnits));
    SetAsCurrencyValue(v * 10000);
}

double TCurrencyField::GetAsFloat() const {
    return CurrToFloat(GetAsCurrency());
}

void TCurrencyField::SetAsFloatValue(double v) {
    int64_t c;
    try {
        c = FloatToCurr(v);
    } catch (const EConvertError&) {
        DatabaseError(FormatMessage(SInvalidFloatValue, {FloatToStr(v), DisplayName()}));
    }
    SetAsCurrencyValue(c);
}

int64_t TCurrencyField::GetAsCurrency() const {
    int64_t v;
    return GetValue(v) ? v : 0;
}

void TCurrencyField::SetAsCurrencyValue(int64_t v) {
    SetData(&v);
}

void TCurrencyField::GetText(std::string& text, bool displayText) const {
    int64_t v;
    if (!GetValue(v)) {
        text.clear();
        return;
    }
    const std::string& fmt = FormatFor(displayText);
    if (!fmt.empty())
        text = FormatCurr(fmt, v);
    else if (displayText)
        text = CurrToStrF(v, ffCurrency, FormatSettings().CurrencyDecimals);
    else
        text = CurrToStrF(v, ffGeneral, 0);  // editing shows every decimal kept
}

// ---- TBooleanField -----------------------------------------------------------------------

TBooleanField::TBooleanField() : TField(ftBoolean, 0) {}

void TBooleanField::SetDisplayValues(const std::string& values) {
    displayValues_ = values;
    if (values.empty()) {
        trueText_ = "True";
        falseText_ = "False";
        return;
    }
    size_t semi = values.find(';');
    trueText_ = values.substr(0, semi);
    falseText_ = semi == std::string::npos ? std::string() : values.substr(semi + 1);
}

std::string TBooleanField::GetAsString() const {
    int16_t v = 0;
    if (!GetData(&v)) return {};
    return v ? trueText_ : falseText_;
}

void TBooleanField::SetAsStringValue(const std::string& v) {
    std::string t = v;
    while (!t.empty() && t.back() == ' ') t.pop_back();
    if (t.empty()) {
        Clear();
        return;
    }
    // A prefix of either text, without regard to case.
    auto prefixOf = [&](const std::string& whole) {
        if (whole.size() < t.size()) return false;
        return SameName(whole.substr(0, t.size()), t);
    };
    if (prefixOf(falseText_))
        SetAsBooleanValue(false);
    else if (prefixOf(trueText_))
        SetAsBooleanValue(true);
    else
        DatabaseError(FormatMessage(SInvalidBoolValue, {v, DisplayName()}));
}

bool TBooleanField::GetAsBoolean() const {
    int16_t v = 0;
    return GetData(&v) && v != 0;
}

void TBooleanField::SetAsBooleanValue(bool v) {
    int16_t x = v ? 1 : 0;
    SetData(&x);
}

// ---- Dates and times ---------------------------------------------------------------------

namespace {

// The refusal of a text or value that is no date, time or date and time, by field type.
const char* InvalidValueText(TFieldType type) {
    if (type == ftDate) return SInvalidDateValue;
    if (type == ftTime) return SInvalidTimeValue;
    return SInvalidDateTimeValue;
}

}  // namespace

bool TDateTimeField::GetValue(TDateTime& value) const {
    uint8_t buf[8] = {};
    if (!GetData(buf)) return false;
    value = FromNative(buf);
    return true;
}

void TDateTimeField::ToNative(TDateTime value, uint8_t* native) const {
    double days = std::floor(value);
    double ms = std::nearbyint((value - days) * MSecsPerDay);
    double total = (days + DateDelta) * MSecsPerDay + ms;
    std::memcpy(native, &total, 8);
}

TDateTime TDateTimeField::FromNative(const uint8_t* native) const {
    double total;
    std::memcpy(&total, native, 8);
    double days = std::floor(total / MSecsPerDay);
    double ms = total - days * MSecsPerDay;
    return days - DateDelta + ms / MSecsPerDay;
}

std::string TDateTimeField::DefaultFormat() const {
    return {};
}

TDateTime TDateTimeField::StrToDateTimeText(const std::string& text) {
    return StrToDateTime(text);
}

std::string TDateTimeField::GetAsString() const {
    std::string text;
    GetText(text, false);
    return text;
}

void TDateTimeField::SetAsStringValue(const std::string& v) {
    if (v.find_first_not_of(' ') == std::string::npos) {
        Clear();
        return;
    }
    TDateTime value;
    try {
        value = ParseText(v);
    } catch (const EConvertError&) {
        DatabaseError(FormatMessage(InvalidValueText(DataType()), {v, DisplayName()}));
    }
    SetAsDateTimeValue(value);
}

double TDateTimeField::GetAsFloat() const {
    return GetAsDateTime();
}

TDateTime TDateTimeField::GetAsDateTime() const {
    TDateTime v;
    return GetValue(v) ? v : 0.0;
}

void TDateTimeField::SetAsDateTimeValue(TDateTime v) {
    if (!std::isfinite(v) || v < -DateDelta + 1 || v >= 2958466.0)
        DatabaseError(FormatMessage(InvalidValueText(DataType()), {FloatToStr(v), DisplayName()}));
    uint8_t buf[8] = {};
    ToNative(v, buf);
    SetData(buf);
}

void TDateTimeField::GetText(std::string& text, bool displayText) const {
    TDateTime v;
    if (!GetValue(v)) {
        text.clear();
        return;
    }
    std::string fmt = displayText && !displayFormat_.empty() ? displayFormat_ : DefaultFormat();
    text = fmt.empty() ? DateTimeToStr(v) : FormatDateTime(fmt, v);
}

void TDateField::ToNative(TDateTime value, uint8_t* native) const {
    int32_t day = static_cast<int32_t>(std::floor(value)) + DateDelta;
    std::memcpy(native, &day, 4);
}

TDateTime TDateField::FromNative(const uint8_t* native) const {
    int32_t day;
    std::memcpy(&day, native, 4);
    return static_cast<double>(day - DateDelta);
}

std::string TDateField::DefaultFormat() const {
    return FormatSettings().ShortDateFormat;
}

TDateTime TDateField::ParseText(const std::string& text) const {
    return StrToDate(text);
}

void TTimeField::ToNative(TDateTime value, uint8_t* native) const {
    double days = std::floor(value);
    int32_t ms = static_cast<int32_t>(std::nearbyint((value - days) * MSecsPerDay));
    if (ms >= 86400000) ms = 86399999;
    std::memcpy(native, &ms, 4);
}

TDateTime TTimeField::FromNative(const uint8_t* native) const {
    int32_t ms;
    std::memcpy(&ms, native, 4);
    return ms / MSecsPerDay;
}

std::string TTimeField::DefaultFormat() const {
    return FormatSettings().LongTimeFormat;
}

TDateTime TTimeField::ParseText(const std::string& text) const {
    // A time alone is read as a time on day 0.
    TDateTime v;
    if (TryStrToDateTime("30-12-1899 " + text, v) || TryStrToDateTime(text, v))
        return v - std::floor(v);
    throw EConvertError(FormatMessage(SInvalidTime, {text}));
}

// ---- Blobs -------------------------------------------------------------------------------

std::string TBlobField::GetAsString() const {
    TDataSet* ds = DataSet();
    if (!ds) DatabaseError(FormatMessage(SDataSetMissing, {DisplayName()}));
    std::unique_ptr<TStream> stream = ds->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead);
    if (!stream) DatabaseError(FormatMessage(SNoBlobSupport, {DisplayName()}));
    std::string out;
    char chunk[4096];
    size_t n;
    while ((n = stream->Read(chunk, sizeof chunk)) > 0) out.append(chunk, n);
    return out;
}

void TBlobField::SetAsStringValue(const std::string& v) {
    TDataSet* ds = DataSet();
    if (!ds) DatabaseError(FormatMessage(SDataSetMissing, {DisplayName()}));
    std::unique_ptr<TStream> stream = ds->CreateBlobStream(*this, bmWrite);
    if (!stream) DatabaseError(FormatMessage(SNoBlobSupport, {DisplayName()}));
    if (!v.empty()) stream->Write(v.data(), v.size());
}

void TBlobField::GetText(std::string& text, bool displayText) const {
    text = displayText ? "(BLOB)" : GetAsString();
}

void TMemoField::GetText(std::string& text, bool displayText) const {
    text = displayText ? "(MEMO)" : GetAsString();
}

// ---- Factory -----------------------------------------------------------------------------

std::unique_ptr<TField> DefaultFieldForType(TFieldType type, int size) {
    switch (type) {
        case ftString:
            return std::make_unique<TStringField>(size);
        case ftSmallint:
            return std::make_unique<TSmallintField>();
        case ftInteger:
        case ftWord:
            return std::make_unique<TIntegerField>();
        case ftLargeint:
            return std::make_unique<TLargeintField>();
        case ftBoolean:
            return std::make_unique<TBooleanField>();
        case ftFloat:
            return std::make_unique<TFloatField>();
        case ftCurrency:
            return std::make_unique<TCurrencyField>();
        case ftDate:
            return std::make_unique<TDateField>();
        case ftTime:
            return std::make_unique<TTimeField>();
        case ftDateTime:
            return std::make_unique<TDateTimeField>();
        case ftBlob:
            return std::make_unique<TBlobField>();
        case ftMemo:
            return std::make_unique<TMemoField>();
        default:
            return nullptr;
    }
}

}  // namespace Db
