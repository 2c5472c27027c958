// Field objects and field definitions of the dataset model. A field reads and writes its
// value through its dataset's field-data interface (GetFieldData/SetFieldData), in the
// field's native form below; the dataset decides where in its record buffers the bytes live.
// Single-threaded; a field belongs to exactly one dataset, which owns it.
//
// Native forms (DataSize bytes):
//   TStringField          Size + 1 bytes: the text, then a zero byte (shorter texts are
//                         zero-terminated early)
//   TSmallintField        int16;  TIntegerField int32;  TLargeintField int64
//   TFloatField           double
//   TCurrencyField        int64, a count of ten-thousandths (money is never a double here)
//   TBooleanField         int16, 0 = false, anything else = true
//   TDateField            int32 day number, 1 January of year 1 = day 1 (TDateTime + DateDelta)
//   TTimeField            int32 milliseconds since midnight
//   TDateTimeField        double, milliseconds since the start of day 0 of the day numbers
//   TMemoField/TBlobField no native bytes (DataSize 0); read and written through the
//                         dataset's blob stream
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/db_events.h"
#include "data/db_types.h"

namespace Db {

class TDataSet;
class TField;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// A byte stream over a blob field, made by TDataSet::CreateBlobStream.
class TStream {
  public:
    virtual ~TStream() = default;
    virtual size_t Read(void* buffer, size_t count) = 0;
    virtual size_t Write(const void* buffer, size_t count) = 0;
    virtual int64_t Seek(int64_t offset, int origin) = 0;  // origin 0 start, 1 current, 2 end
};

// One column of the open table, as the dataset reports it while opening.
struct TFieldDef {
    std::string Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;
    bool Required = false;
    int FieldNo = 0;  // 1-based position in the list
    int Precision = 0;
};

class TFieldDefs {
  public:
    void Clear() { defs_.clear(); }
    TFieldDef& Add(const std::string& name, TFieldType type, int size = 0, bool required = false);
    int Count() const { return static_cast<int>(defs_.size()); }
    TFieldDef& operator[](int index) { return defs_.at(index); }
    const TFieldDef& operator[](int index) const { return defs_.at(index); }
    TFieldDef* Find(const std::string& name);  // case-insensitive; nullptr when absent
    int IndexOf(const std::string& name) const;

  private:
    std::vector<TFieldDef> defs_;
};

using TFieldNotifyEvent = Event<TField&>;
using TFieldGetTextEvent = Event<TField&, std::string&, bool>;  // text, display text?
using TFieldSetTextEvent = Event<TField&, const std::string&>;

class TField {
  public:
    virtual ~TField();
    TField(const TField&) = delete;
    TField& operator=(const TField&) = delete;

    TDataSet* DataSet() const { return dataSet_; }
    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(const std::string& name);
    std::string DisplayLabel() const { return displayLabel_.empty() ? fieldName_ : displayLabel_; }
    void SetDisplayLabel(const std::string& label) { displayLabel_ = label; }
    std::string DisplayName() const { return DisplayLabel(); }
    const std::string& EditMask() const { return editMask_; }
    void SetEditMask(const std::string& mask) { editMask_ = mask; }
    int DisplayWidth() const { return displayWidth_ > 0 ? displayWidth_ : DefaultWidth(); }
    void SetDisplayWidth(int width) { displayWidth_ = width; }
    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment a) { alignment_ = a; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool on) { readOnly_ = on; }
    bool Visible() const { return visible_; }
    void SetVisible(bool on) { visible_ = on; }
    bool Required() const { return required_; }
    void SetRequired(bool on) { required_ = on; }
    int Size() const { return size_; }
    void SetSize(int size);  // only while the dataset is closed
    TFieldType DataType() const { return dataType_; }
    TFieldKind FieldKind() const { return fieldKind_; }
    void SetFieldKind(TFieldKind kind);  // only while the dataset is closed
    bool Calculated() const { return fieldKind_ == fkCalculated; }
    void SetCalculated(bool on) { SetFieldKind(on ? fkCalculated : fkData); }
    int FieldNo() const { return fieldNo_; }  // table field number; -1 calculated; 0 unbound
    int Index() const;                        // position in the dataset's field list
    int Offset() const { return offset_; }    // calculated: slot offset in the calc area
    virtual int DataSize() const { return 0; }

    // Raw access to the native form. GetData answers whether the field has a value.
    bool GetData(void* buffer) const;
    void SetData(const void* buffer);  // nullptr clears; validates first (OnValidate)
    void Validate(const void* buffer);

    bool IsNull() const;
    void Clear() { SetData(nullptr); }

    std::string AsString() const { return GetAsString(); }
    void SetAsString(const std::string& v) { SetAsStringValue(v); }
    int32_t AsInteger() const { return GetAsInteger(); }
    void SetAsInteger(int32_t v) { SetAsIntegerValue(v); }
    int64_t AsLargeInt() const { return GetAsLargeInt(); }
    void SetAsLargeInt(int64_t v) { SetAsLargeIntValue(v); }
    double AsFloat() const { return GetAsFloat(); }
    void SetAsFloat(double v) { SetAsFloatValue(v); }
    bool AsBoolean() const { return GetAsBoolean(); }
    void SetAsBoolean(bool v) { SetAsBooleanValue(v); }
    TDateTime AsDateTime() const { return GetAsDateTime(); }
    void SetAsDateTime(TDateTime v) { SetAsDateTimeValue(v); }
    int64_t AsCurrency() const { return GetAsCurrency(); }  // ten-thousandths
    void SetAsCurrency(int64_t v) { SetAsCurrencyValue(v); }

    // Text for editing and for display; OnGetText and OnSetText replace the field's own.
    std::string Text() const;
    std::string DisplayText() const;
    void SetText(const std::string& text);

    void FocusControl();
    void Change() { OnChange(*this); }

    TFieldNotifyEvent OnChange;
    TFieldNotifyEvent OnValidate;
    TFieldGetTextEvent OnGetText;
    TFieldSetTextEvent OnSetText;

  protected:
    TField(TFieldType type, int size);

    virtual std::string GetAsString() const;
    virtual void SetAsStringValue(const std::string& v);
    virtual int32_t GetAsInteger() const;
    virtual void SetAsIntegerValue(int32_t v);
    virtual int64_t GetAsLargeInt() const;
    virtual void SetAsLargeIntValue(int64_t v);
    virtual double GetAsFloat() const;
    virtual void SetAsFloatValue(double v);
    virtual bool GetAsBoolean() const;
    virtual void SetAsBooleanValue(bool v);
    virtual TDateTime GetAsDateTime() const;
    virtual void SetAsDateTimeValue(TDateTime v);
    virtual int64_t GetAsCurrency() const;
    virtual void SetAsCurrencyValue(int64_t v);
    virtual void GetText(std::string& text, bool displayText) const;
    virtual void SetTextValue(const std::string& text) { SetAsStringValue(text); }
    virtual int DefaultWidth() const { return 10; }

    [[noreturn]] void AccessError(const char* typeName) const;
    [[noreturn]] void RangeError(const std::string& value, const std::string& min,
                                 const std::string& max) const;

  private:
    friend class TDataSet;
    TDataSet* dataSet_ = nullptr;
    std::string fieldName_, displayLabel_, editMask_;
    int displayWidth_ = 0;
    TAlignment alignment_ = taLeftJustify;
    bool readOnly_ = false, visible_ = true, required_ = false;
    int size_ = 0;
    TFieldType dataType_;
    TFieldKind fieldKind_ = fkData;
    int fieldNo_ = 0;
    int offset_ = 0;
    bool validating_ = false;
    const void* valueBuffer_ = nullptr;
};

class TStringField : public TField {
  public:
    explicit TStringField(int size = 20) : TField(ftString, size) {}
    int DataSize() const override { return Size() + 1; }

  protected:
    std::string GetAsString() const override;
    void SetAsStringValue(const std::string& v) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t v) override { SetAsStringValue(std::to_string(v)); }
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t v) override { SetAsStringValue(std::to_string(v)); }
    double GetAsFloat() const override;
    void SetAsFloatValue(double v) override;
    bool GetAsBoolean() const override;
    void SetAsBooleanValue(bool v) override { SetAsStringValue(v ? "T" : "F"); }
    TDateTime GetAsDateTime() const override;
    void SetAsDateTimeValue(TDateTime v) override;
    int64_t GetAsCurrency() const override;
    void SetAsCurrencyValue(int64_t v) override;
    int DefaultWidth() const override { return Size(); }
};

class TNumericField : public TField {
  public:
    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& f) { displayFormat_ = f; }
    const std::string& EditFormat() const { return editFormat_; }
    void SetEditFormat(const std::string& f) { editFormat_ = f; }

  protected:
    TNumericField(TFieldType type, int size) : TField(type, size) { SetAlignment(taRightJustify); }
    // The format for the text asked for; empty = the field's own.
    const std::string& FormatFor(bool displayText) const {
        return displayText || editFormat_.empty() ? displayFormat_ : editFormat_;
    }

  private:
    std::string displayFormat_, editFormat_;
};

// Whole numbers of 2, 4 or 8 bytes.
class TIntegralField : public TNumericField {
  public:
    int DataSize() const override { return width_; }
    int64_t MinValue() const { return min_; }
    int64_t MaxValue() const { return max_; }
    void SetMinValue(int64_t v) { min_ = v; }
    void SetMaxValue(int64_t v) { max_ = v; }

  protected:
    TIntegralField(TFieldType type, int width);
    bool GetValue(int64_t& value) const;
    std::string GetAsString() const override;
    void SetAsStringValue(const std::string& v) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t v) override { SetAsLargeIntValue(v); }
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t v) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double v) override;
    int64_t GetAsCurrency() const override;
    void SetAsCurrencyValue(int64_t v) override;
    void GetText(std::string& text, bool displayText) const override;

  private:
    int width_;
    int64_t min_, max_, limitMin_, limitMax_;
};

class TSmallintField : public TIntegralField {
  public:
    TSmallintField() : TIntegralField(ftSmallint, 2) {}
};

class TIntegerField : public TIntegralField {
  public:
    TIntegerField() : TIntegralField(ftInteger, 4) {}
};

class TLargeintField : public TIntegralField {
  public:
    TLargeintField() : TIntegralField(ftLargeint, 8) {}
};

class TFloatField : public TNumericField {
  public:
    TFloatField() : TNumericField(ftFloat, 0) {}
    int DataSize() const override { return 8; }
    int Precision() const { return precision_; }
    void SetPrecision(int p) { precision_ = p < 2 ? 2 : (p > 15 ? 15 : p); }
    bool Currency() const { return currency_; }
    void SetCurrency(bool on) { currency_ = on; }
    double MinValue() const { return min_; }
    double MaxValue() const { return max_; }
    void SetMinValue(double v) { min_ = v; }
    void SetMaxValue(double v) { max_ = v; }  // both 0 = no range check
    // The decimals a stored value keeps (-1: as assigned): an assigned value is rounded to
    // them, half away from zero, before the range check, as the stored text will hold it.
    void SetStoredDecimals(int n) { storedDecimals_ = n; }

  protected:
    bool GetValue(double& value) const;
    std::string GetAsString() const override;
    void SetAsStringValue(const std::string& v) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t v) override { SetAsFloatValue(v); }
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t v) override { SetAsFloatValue(static_cast<double>(v)); }
    double GetAsFloat() const override;
    void SetAsFloatValue(double v) override;
    int64_t GetAsCurrency() const override;
    void SetAsCurrencyValue(int64_t v) override { SetAsFloatValue(CurrToFloatValue(v)); }
    void GetText(std::string& text, bool displayText) const override;

  private:
    static double CurrToFloatValue(int64_t v) { return static_cast<double>(v) / 10000.0; }
    int precision_ = 15;
    bool currency_ = false;
    double min_ = 0, max_ = 0;
    int storedDecimals_ = -1;
};

class TCurrencyField : public TNumericField {
  public:
    TCurrencyField() : TNumericField(ftCurrency, 0) {}
    int DataSize() const override { return 8; }

  protected:
    bool GetValue(int64_t& value) const;
    std::string GetAsString() const override;
    void SetAsStringValue(const std::string& v) override;
    int32_t GetAsInteger() const override;
    void SetAsIntegerValue(int32_t v) override { SetAsCurrencyValue(int64_t{v} * 10000); }
    int64_t GetAsLargeInt() const override;
    void SetAsLargeIntValue(int64_t v) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double v) override;
    int64_t GetAsCurrency() const override;
    void SetAsCurrencyValue(int64_t v) override;
    void GetText(std::string& text, bool displayText) const override;
};

class TBooleanField : public TField {
  public:
    TBooleanField();
    int DataSize() const override { return 2; }
    // "true text;false text", e.g. "Ja;Nej"; empty gives "True;False".
    const std::string& DisplayValues() const { return displayValues_; }
    void SetDisplayValues(const std::string& values);

  protected:
    std::string GetAsString() const override;
    void SetAsStringValue(const std::string& v) override;
    bool GetAsBoolean() const override;
    void SetAsBooleanValue(bool v) override;
    int DefaultWidth() const override { return 5; }

  private:
    std::string displayValues_, trueText_ = "True", falseText_ = "False";
};

// Date, time and date-time fields; the value in TDateTime form is converted to and from the
// native form by the subclass.
class TDateTimeField : public TField {
  public:
    TDateTimeField() : TDateTimeField(ftDateTime) {}
    int DataSize() const override { return 8; }
    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& f) { displayFormat_ = f; }

  protected:
    explicit TDateTimeField(TFieldType type) : TField(type, 0) {}
    bool GetValue(TDateTime& value) const;
    virtual void ToNative(TDateTime value, uint8_t* native) const;
    virtual TDateTime FromNative(const uint8_t* native) const;
    virtual std::string DefaultFormat() const;
    virtual TDateTime ParseText(const std::string& text) const { return StrToDateTimeText(text); }
    static TDateTime StrToDateTimeText(const std::string& text);
    std::string GetAsString() const override;
    void SetAsStringValue(const std::string& v) override;
    double GetAsFloat() const override;
    void SetAsFloatValue(double v) override { SetAsDateTimeValue(v); }
    TDateTime GetAsDateTime() const override;
    void SetAsDateTimeValue(TDateTime v) override;
    void GetText(std::string& text, bool displayText) const override;
    int DefaultWidth() const override { return 18; }

  private:
    std::string displayFormat_;
};

class TDateField : public TDateTimeField {
  public:
    TDateField() : TDateTimeField(ftDate) {}
    int DataSize() const override { return 4; }

  protected:
    void ToNative(TDateTime value, uint8_t* native) const override;
    TDateTime FromNative(const uint8_t* native) const override;
    std::string DefaultFormat() const override;
    TDateTime ParseText(const std::string& text) const override;
    int DefaultWidth() const override { return 10; }
};

class TTimeField : public TDateTimeField {
  public:
    TTimeField() : TDateTimeField(ftTime) {}
    int DataSize() const override { return 4; }

  protected:
    void ToNative(TDateTime value, uint8_t* native) const override;
    TDateTime FromNative(const uint8_t* native) const override;
    std::string DefaultFormat() const override;
    TDateTime ParseText(const std::string& text) const override;
    int DefaultWidth() const override { return 8; }
};

class TBlobField : public TField {
  public:
    TBlobField() : TBlobField(ftBlob) {}

  protected:
    explicit TBlobField(TFieldType type) : TField(type, 0) {}
    std::string GetAsString() const override;
    void SetAsStringValue(const std::string& v) override;
    void GetText(std::string& text, bool displayText) const override;
};

class TMemoField : public TBlobField {
  public:
    TMemoField() : TBlobField(ftMemo) {}

  protected:
    void GetText(std::string& text, bool displayText) const override;
};

// A field object of the class that serves a field type (nullptr for ftUnknown).
std::unique_ptr<TField> DefaultFieldForType(TFieldType type, int size);

}  // namespace Db
