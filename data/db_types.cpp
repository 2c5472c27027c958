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
// What the user typed or a program stored that a field refuses: the user reads these, in
// Danish, with the field's display label (Windows-1252 text).
const char* const SFieldRangeError =
    "%s er ikke en gyldig v\xE6rdi i feltet '%s'. V\xE6rdien skal ligge fra %s til %s";
const char* const SInvalidFloatValue = "'%s' er ikke et gyldigt tal i feltet '%s'";
const char* const SInvalidIntegerValue = "'%s' er ikke et gyldigt heltal i feltet '%s'";
const char* const SInvalidBoolValue = "'%s' er ikke en gyldig logisk v\xE6rdi i feltet '%s'";
const char* const SInvalidDateValue = "'%s' er ikke en gyldig dato i feltet '%s'";
const char* const SInvalidTimeValue = "'%s' er ikke et gyldigt klokkesl\xE6t i feltet '%s'";
const char* const SInvalidDateTimeValue = "'%s' er ikke en gyldig dato og tid i feltet '%s'";
const char* const SInvalidDate = "'%s' er ikke en gyldig dato";
const char* const SInvalidTime = "'%s' er ikke et gyldigt klokkesl\xE6t";
const char* const SInvalidDateTime = "'%s' er ikke en gyldig dato og tid";
const char* const SInvalidCurrency = "%s er ikke et gyldigt bel\370b";
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
