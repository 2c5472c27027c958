// Common types of the dataset model: states, data events, fetch modes and results,
// bookmark flags, field types, the database error and the silent abort.
// Single-threaded; shared by the dataset, its fields, data sources and data links.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace Db {

enum TDataSetState {
    dsInactive,
    dsBrowse,
    dsEdit,
    dsInsert,
    dsSetKey,
    dsCalcFields,
    dsFilter,
    dsNewValue,
    dsOldValue,
    dsCurValue,
    dsBlockRead,
    dsInternalCalc,
    dsOpening
};

// States in which field values may be written, and the editing states.
bool IsWriteMode(TDataSetState state);
bool IsEditMode(TDataSetState state);  // dsEdit, dsInsert, dsSetKey

enum TDataEvent {
    deFieldChange,
    deRecordChange,
    deDataSetChange,
    deDataSetScroll,
    deLayoutChange,
    deUpdateRecord,
    deUpdateState,
    deCheckBrowseMode,
    dePropertyChange,
    deFieldListChange,
    deFocusControl,
    deParentScroll,
    deConnectChange,
    deReconcileError,
    deDisabledStateChange
};

enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum TFieldType {
    ftUnknown,
    ftString,
    ftSmallint,
    ftInteger,
    ftWord,
    ftBoolean,
    ftFloat,
    ftCurrency,
    ftDate,
    ftTime,
    ftDateTime,
    ftBlob,
    ftMemo,
    ftLargeint
};
const char* FieldTypeName(TFieldType type);

enum TDataAction { daFail, daAbort, daRetry };

// Resync modes, combined with |.
using TResyncMode = unsigned;
constexpr TResyncMode rmExact = 1;
constexpr TResyncMode rmCenter = 2;

// Locate options, combined with |.
using TLocateOptions = unsigned;
constexpr TLocateOptions loCaseInsensitive = 1;
constexpr TLocateOptions loPartialKey = 2;

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

using TRecordBuffer = uint8_t*;
using TBookmark = std::vector<uint8_t>;  // empty = no bookmark
using TDateTime = double;                // days since 30 December 1899, time as fraction

// The database error.
class EDatabaseError : public std::runtime_error {
  public:
    explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

// A text that does not convert to a number or date.
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// The silent abort: ends the current operation without any message.
class EAbort : public std::exception {
  public:
    const char* what() const noexcept override { return "Operation aborted"; }
};

[[noreturn]] void Abort();

// Raises EDatabaseError; with a component name the message reads "name: message".
[[noreturn]] void DatabaseError(const std::string& message, const std::string& component = {});

// Fills %s, %d markers of a message in order with the given texts.
std::string FormatMessage(const std::string& pattern, const std::vector<std::string>& args);

// Messages of the model.
extern const char* const SNotEditing;
extern const char* const SDataSetClosed;
extern const char* const SDataSetOpen;
extern const char* const SDataSetEmpty;
extern const char* const SDataSetReadOnly;
extern const char* const SFieldNotFound;
extern const char* const SFieldReadOnly;
extern const char* const SFieldAccessError;
extern const char* const SFieldTypeMismatch;
extern const char* const SFieldRangeError;
extern const char* const SInvalidFloatValue;
extern const char* const SInvalidIntegerValue;
extern const char* const SInvalidBoolValue;
extern const char* const SInvalidDateValue;
extern const char* const SInvalidTimeValue;
extern const char* const SInvalidDateTimeValue;
// The same without a field: the text alone does not convert.
extern const char* const SInvalidDate;
extern const char* const SInvalidTime;
extern const char* const SInvalidDateTime;
extern const char* const SInvalidCurrency;
extern const char* const SRecordNotFound;
extern const char* const SDuplicateFieldName;
extern const char* const SDataSetMissing;
extern const char* const SCircularDataLink;
extern const char* const SNoBlobSupport;

// The application's exception handler: shows an error and lets the program go on. The user
// interface installs it; without one the exception is rethrown. The silent abort is always
// swallowed.
using ExceptionHandler = std::function<void(std::exception_ptr)>;
void SetApplicationExceptionHandler(ExceptionHandler handler);
void ApplicationHandleException(std::exception_ptr e);

// Case-insensitive comparison of ASCII names (field names).
bool SameName(const std::string& a, const std::string& b);

}  // namespace Db
