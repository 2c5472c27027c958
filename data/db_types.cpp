#include "data/db_types.h"

namespace Db {

const char* const SNotEditing = "Dataset not in edit or insert mode";
const char* const SDataSetClosed = "Cannot perform this operation on a closed dataset";
const char* const SDataSetOpen = "Cannot perform this operation on an open dataset";
const char* const SDataSetEmpty = "Cannot perform this operation on an empty dataset";
const char* const SDataSetReadOnly = "Cannot modify a read-only dataset";
const char* const SFieldNotFound = "Field '%s' not found";
const char* const SFieldReadOnly = "Field '%s' cannot be modified";
const char* const SFieldAccessError = "Cannot access field '%s' as type %s";
const char* const SFieldTypeMismatch = "Type mismatch for field '%s', expecting: %s actual: %s";
const char* const SFieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
const char* const SInvalidFloatValue = "'%s' is not a valid floating point value for field '%s'";
const char* const SInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
const char* const SInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
const char* const SRecordNotFound = "Record not found";
const char* const SDuplicateFieldName = "Duplicate field name '%s'";
const char* const SDataSetMissing = "Field '%s' has no dataset";
const char* const SCircularDataLink = "Circular datalinks are not allowed";
const char* const SNoBlobSupport = "Field '%s' cannot be read or written as a stream";

bool IsWriteMode(TDataSetState state) {
    switch (state) {
        case dsEdit:
        case dsInsert:
        case dsSetKey:
        case dsCalcFields:
        case dsFilter:
        case dsNewValue:
        case dsInternalCalc:
            return true;
        default:
            return false;
    }
}

bool IsEditMode(TDataSetState state) {
    return state == dsEdit || state == dsInsert || state == dsSetKey;
}

const char* FieldTypeName(TFieldType type) {
    switch (type) {
        case ftString:
            return "String";
        case ftSmallint:
            return "Smallint";
        case ftInteger:
            return "Integer";
        case ftWord:
            return "Word";
        case ftBoolean:
            return "Boolean";
        case ftFloat:
            return "Float";
        case ftCurrency:
            return "Currency";
        case ftDate:
            return "Date";
        case ftTime:
            return "Time";
        case ftDateTime:
            return "DateTime";
        case ftBlob:
            return "Blob";
        case ftMemo:
            return "Memo";
        case ftLargeint:
            return "Largeint";
        default:
            return "Unknown";
    }
}

void Abort() {
    throw EAbort();
}

void DatabaseError(const std::string& message, const std::string& component) {
    if (component.empty()) throw EDatabaseError(message);
    throw EDatabaseError(component + ": " + message);
}

std::string FormatMessage(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() &&
            (pattern[i + 1] == 's' || pattern[i + 1] == 'd' || pattern[i + 1] == 'g')) {
            if (next < args.size()) out += args[next++];
            ++i;
        } else {
            out += c;
        }
    }
    return out;
}

namespace {
ExceptionHandler& Handler() {
    static ExceptionHandler handler;
    return handler;
}
}  // namespace

void SetApplicationExceptionHandler(ExceptionHandler handler) {
    Handler() = std::move(handler);
}

void ApplicationHandleException(std::exception_ptr e) {
    try {
        std::rethrow_exception(e);
    } catch (const EAbort&) {
        return;
    } catch (...) {
        if (!Handler()) throw;
    }
    Handler()(e);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x += 32;
        if (y >= 'A' && y <= 'Z') y += 32;
        if (x != y) return false;
    }
    return true;
}

}  // namespace Db
