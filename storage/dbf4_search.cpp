// Scanning the current area's table for a text, locating records by field values, and
// reading or writing single fields of any record (with Peek's bulk-read cache).
// One process-wide engine state, not thread-safe.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4_bulk_internal.h"
#include "storage/dbf4_internal.h"
#include "storage/memo.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Dbf4 {

using TzCommon::SetError;
using namespace internal;
using namespace bulk;

namespace {

bool (*g_hitProc)(uint8_t) = nullptr;
bool g_peekCacheOn = false;

Run g_cache;

// State of the last Locate, for Continue.
struct LocateState {
    int field = 0;  // 0 = none
    std::string value;
    bool caseSensitive = true;
    bool exact = false;
    bool contained = false;
};
LocateState g_locate;

// Record r of the area as file bytes translated to ANSI: through the bulk-read cache when
// it is on, else from the local run. 0 or the file system's code.
uint16_t RecordText(WorkArea& a, int32_t r, Run& local, std::vector<uint8_t>& out) {
    Run* run = &local;
    if (g_peekCacheOn) {
        if (g_cache.alias != a.alias) g_cache.Clear();
        run = &g_cache;
    }
    if (!run->Holds(r)) {
        if (uint16_t rc = LoadRun(a, *run, r)) return rc;
        if (run == &g_cache) g_cache.alias = a.alias;
    }
    const uint8_t* p = run->bytes.data() + size_t(r - run->first) * a.recordLength;
    out.assign(p, p + a.recordLength);
    TzDbfLow::TranslateRecord(0, a.oem, a.oemToAnsi, out.size(), out.size(), out.data());
    return 0;
}

// The text form of a field in a translated record, as Peek and Locate compare it: text,
// dates and memo numbers as stored, logicals "T"/"F", numbers at the field's width and
// decimals (a blank number stays blank).
std::string FieldText(const FieldEntry& f, const uint8_t* rec) {
    std::string raw(reinterpret_cast<const char*>(rec) + f.offset, f.length);
    switch (f.type) {
        case 'L':
            return TrueByte(uint8_t(raw[0])) ? "T" : "F";
        case 'N':
        case 'F':
            if (TzCommon::AllTrim(raw).empty()) return raw;
            return FormatNumber(TextNumber(raw), f.length, f.decimals);
        default:
            return raw;
    }
}

// The stored text form of a Locate value for a field.
std::string ValueText(const FieldEntry& f, const LocateValue& v) {
    const std::string* s = std::get_if<std::string>(&v);
    const double* d = std::get_if<double>(&v);
    const bool* b = std::get_if<bool>(&v);
    switch (f.type) {
        case 'N':
        case 'F':
            return FormatNumber(s ? TextNumber(*s) : d ? *d : (*b ? 1 : 0), f.length, f.decimals);
        case 'L':
            if (b) return *b ? "T" : "F";
            if (d) return *d != 0 ? "T" : "F";
            return (!s->empty() && TrueByte(uint8_t((*s)[0]))) ? "T" : "F";
        case 'D': {
            if (!s) return std::string();
            std::string t = TzCommon::AllTrim(*s);
            if (t.size() == 8 && t.find_first_not_of("0123456789") == std::string::npos) return t;
            return TimeDate::DTOS(t);
        }
        default:
            if (s) return *s;
            if (b) return *b ? "T" : "F";
            return FormatNumber(*d, f.length, f.decimals);
    }
}

bool TextMatches(std::string text, const LocateState& st) {
    if (!st.caseSensitive) text = TzUtils::AnsiUpper(text);
    if (st.contained) return text.find(st.value) != std::string::npos;
    if (!st.exact) return text.compare(0, st.value.size(), st.value) == 0;
    return text == st.value;
}

// A memo matches when one of its lines holds the value; blockText is the field's text.
bool MemoMatches(WorkArea& a, const std::string& blockText, const LocateState& st) {
    // A number beyond 32 bits names no memo.
    const long number = std::strtol(blockText.c_str(), nullptr, 10);
    if (number == 0 || number > INT32_MAX || number < -INT32_MAX) return false;
    const int32_t block = int32_t(number);
    std::string text;
    if (!Memo::ReadMemoBytes(a, block, &text, "Locate")) return false;
    if (!st.caseSensitive) text = TzUtils::AnsiUpper(text);
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find_first_of("\r\n\x8D\x1A", start);
        if (end == std::string::npos) end = text.size();
        if (text.substr(start, end - start).find(st.value) != std::string::npos) return true;
        start = end + 1;
    }
    return false;
}

// The area after a search that found nothing: past the last visible record, at EOF. A
// table with no visible record is left at its end state without an error.
void LocateEnd(WorkArea& a) {
    GoBottom();
    if (!a.eof) Skip(1);
    g_locate.field = 0;
}

// Searches the located field from record s on; true when the area went to a visible match.
bool LocateFrom(WorkArea& a, int32_t s) {
    const FieldEntry& f = a.fields[size_t(g_locate.field - 1)];
    if (f.type == 'M' && !memoUnitPresent) {
        SetError(TzErr::InvalidParameter, "MEMO unit not linked in [Count/Sum/Continue]");
        return false;
    }
    Recount(a);
    Run run;
    std::vector<uint8_t> rec;
    for (int32_t r = std::max(s, 1); r <= a.recCount; ++r) {
        if (uint16_t rc = RecordText(a, r, run, rec)) {
            SetError(rc, "File:  " + a.fileName + "  [GetDbfRecord]");
            return false;
        }
        const std::string text = FieldText(f, rec.data());
        const bool match =
            f.type == 'M' ? MemoMatches(a, text, g_locate) : TextMatches(text, g_locate);
        if (!match) continue;
        Go(r);
        if (a.recNo == r && RecordVisible()) return true;
    }
    LocateEnd(a);
    return false;
}

// Reads one field specification into the Locate state; false after a report.
bool ParseSpec(WorkArea& a, std::string spec) {
    g_locate.caseSensitive = !TzUtils::ExtractOption(" NOCASE", spec);
    g_locate.exact = TzUtils::ExtractOption(" EXACT", spec);
    g_locate.contained = TzUtils::ExtractOption(" CONTAINED", spec);
    spec = TzCommon::AllTrim(spec);
    if (spec.empty()) {
        SetError(TzErr::InvalidParameter, "No field name specified [Locate/Count/Sum]");
        return false;
    }
    std::string key = TzUtils::AnsiUpper(spec);
    for (size_t i = 0; i < a.fields.size(); ++i) {
        if (a.fields[i].name == key) {
            g_locate.field = int(i + 1);
            return true;
        }
    }
    SetError(TzErr::InvalidParameter, "Unrecognized field name [Locate/Count/Sum(" + spec + ")]");
    return false;
}

}  // namespace

namespace internal {

void RefreshPeekCache(WorkArea& a, int32_t n) {
    if (g_cache.count == 0 || g_cache.alias != a.alias) return;
    if (n < 0) {
        g_cache.Clear();
        return;
    }
    if (!g_cache.Holds(n) || a.isVirtual) return;
    size_t got = 0;
    uint8_t* p = g_cache.bytes.data() + size_t(n - g_cache.first) * a.recordLength;
    if (a.file.ReadAt(TzDbfLow::RecordOffset(a, n), p, a.recordLength, &got) != 0 ||
        got != a.recordLength)
        g_cache.Clear();
}

}  // namespace internal

void SetSearchHitProc(bool (*proc)(uint8_t)) {
    g_hitProc = proc;
}
void SetPeekCache(bool on) {
    g_peekCacheOn = on;
    if (!on) g_cache.Clear();
}

void Search(const std::string& textIn, uint8_t& field, bool fromFirst) {
    WorkArea* ap = Guard("Search");
    if (!ap) return;
    WorkArea& a = *ap;
    if (a.isVirtual) {
        SetError(TzErr::InvalidListOperation,
                 "Operation cannot be used on virtual files. [Search]");
        return;
    }
    const std::string text = TzUtils::AnsiUpper(TzUtils::TrimRight(textIn));
    if (text.empty()) return;
    const int wanted = size_t(field) > a.fields.size() ? 0 : field;
    field = 0;
    const int32_t start = a.recNo;
    Recount(a);
    const size_t len = a.recordLength;
    Run run;
    bool stop = false;
    for (int32_t r = fromFirst ? 1 : start + 1; r <= a.recCount && !stop; r += run.count) {
        if (uint16_t rc = LoadRun(a, run, r)) {
            SetError(rc, "File:  " + a.fileName + "  [GetDbfRecord]");
            return;
        }
        TzDbfLow::TranslateRecord(0, a.oem, a.oemToAnsi, run.bytes.size(), len, run.bytes.data());
        const std::string block =
            TzUtils::AnsiUpper(std::string(run.bytes.begin(), run.bytes.end()));
        for (size_t pos = block.find(text); pos != std::string::npos && !stop;
             pos = block.find(text, pos + 1)) {
            const size_t off = pos % len;
            if (off + text.size() > len) continue;  // runs into the next record
            int fno = 0;
            for (size_t i = 0; i < a.fields.size() && fno == 0; ++i) {
                const FieldEntry& f = a.fields[i];
                if (off >= f.offset && off + text.size() <= size_t(f.offset) + f.length)
                    fno = int(i + 1);
            }
            if (fno == 0 || a.fields[size_t(fno - 1)].type == 'M' || (wanted && fno != wanted))
                continue;
            const int32_t rec = run.first + int32_t(pos / len);
            if (rec > a.recCount) {
                stop = true;
                break;
            }
            Go(rec);
            if (!RecordVisible()) continue;
            field = uint8_t(fno);
            if (!g_hitProc || g_hitProc(field)) return;
            field = 0;
        }
    }
    // No hit: back to where the search started.
    if (start >= 1 && start <= a.recCount) {
        Go(start);
    } else {
        TzDbfLow::DropReadAhead(a);
        BlankRecord(a);
        a.recNo = a.recCount == 0 ? 0 : a.recCount + 1;
        a.eof = true;
    }
}

bool Locate(const std::string& fields, const std::vector<LocateValue>& values, unsigned options) {
    TzCommon::ClearErrorWord();
    WorkArea* ap = Guard("Locate");
    if (!ap) return false;
    WorkArea& a = *ap;
    std::vector<std::string> specs;
    for (size_t from = 0;;) {
        size_t semi = fields.find(';', from);
        specs.push_back(fields.substr(from, semi == std::string::npos ? semi : semi - from));
        if (semi == std::string::npos) break;
        from = semi + 1;
    }
    bool found = false;
    for (size_t i = 0; i < specs.size(); ++i) {
        std::string spec = specs[i];
        if (options & kLocateNoCase) spec += " NOCASE";
        if (options & kLocateExact) spec += " EXACT";
        if (!ParseSpec(a, spec)) return false;
        const FieldEntry& f = a.fields[size_t(g_locate.field - 1)];
        std::string v = ValueText(f, i < values.size() ? values[i] : LocateValue(std::string()));
        if (!g_locate.exact) v = TzUtils::TrimRight(v);
        if (!g_locate.caseSensitive) v = TzUtils::AnsiUpper(v);
        g_locate.value = v;
        found = LocateFrom(a, 1);
        if (found || TzCommon::ErrorWord() != 0) break;
    }
    return found;
}

bool Continue() {
    TzCommon::ClearErrorWord();
    WorkArea* ap = Guard("Continue");
    if (!ap) return false;
    if (g_locate.field == 0 || g_locate.field > int(ap->fields.size())) {
        SetError(TzErr::InvalidParameter,
                 "Call to CONTINUE not preceeded by call to LOCATE. [Continue]");
        return false;
    }
    return LocateFrom(*ap, ap->recNo + 1);
}

std::string Peek(int32_t recno, int field) {
    WorkArea* ap = Guard("Peek");
    if (!ap) return std::string();
    WorkArea& a = *ap;
    if (a.isVirtual) {
        SetError(TzErr::InvalidListOperation, "Operation cannot be used on virtual files. [Peek]");
        return std::string();
    }
    if (recno > a.recCount) Recount(a);
    if (recno < 1 || recno > a.recCount || field < 0 || field > int(a.fields.size()))
        return std::string();
    Run local;
    std::vector<uint8_t> rec;
    uint16_t rc = 0;
    if (g_peekCacheOn) {
        rc = RecordText(a, recno, local, rec);
    } else {
        rec.resize(a.recordLength);
        size_t got = 0;
        rc = a.file.ReadAt(TzDbfLow::RecordOffset(a, recno), rec.data(), rec.size(), &got);
        if (rc == 0 && got < rec.size()) rc = TzErr::UnexpectedEndOfFile;
        TzDbfLow::TranslateRecord(0, a.oem, a.oemToAnsi, rec.size(), rec.size(), rec.data());
    }
    if (rc != 0) {
        SetError(rc, "DBF: " + a.fileName + " [Peek(" + std::to_string(recno) + "," +
                         std::to_string(field) + ")]");
        return std::string();
    }
    if (field == 0) return std::string(1, char(rec[0]));
    return FieldText(a.fields[size_t(field - 1)], rec.data());
}

bool Poke(const std::string& value, int field, int32_t recno) {
    TzCommon::ClearErrorWord();
    WorkArea* ap = Guard("Poke");
    if (!ap) return false;
    WorkArea& a = *ap;
    std::string suffix =
        "[Poke(" + value + "," + std::to_string(field) + "," + std::to_string(recno) + ")]";
    if (suffix.size() > 100) suffix.resize(100);
    if (a.isVirtual) {
        SetError(TzErr::InvalidListOperation,
                 "Operation cannot be used on virtual files." + suffix);
        return false;
    }
    if (Shared(a) && a.lockState != kLockFile &&
        (a.lockState != kLockRecords ||
         std::find(a.locks.begin(), a.locks.end(), recno) == a.locks.end())) {
        SetError(TzErr::RecordNotLocked, "Record not locked " + suffix);
        return false;
    }
    if (recno > a.recCount) Recount(a);
    if (recno < 1 || recno > a.recCount || field < 0 || field > int(a.fields.size())) return false;
    uint64_t at = TzDbfLow::RecordOffset(a, recno);
    size_t n = value.empty() ? 0 : 1;
    if (field >= 1) {
        const FieldEntry& f = a.fields[size_t(field - 1)];
        at += f.offset;
        n = std::min<size_t>(value.size(), f.length);
    }
    if (n == 0) return false;
    TzDbfLow::DropReadAhead(a);
    if (a.file.WriteAt(at, value.data(), n) != 0) {
        SetError(TzErr::DiskWriteError, suffix);
        return false;
    }
    if (a.state != kAppended) a.state = kModified;
    if (g_cache.alias == a.alias && g_cache.Holds(recno)) {
        const size_t inRec = size_t(at - TzDbfLow::RecordOffset(a, recno));
        std::memcpy(g_cache.bytes.data() + size_t(recno - g_cache.first) * a.recordLength + inRec,
                    value.data(), n);
    }
    return true;
}

}  // namespace Dbf4
