// Bulk operations on the current area's table: exclusive reopen, pack, zap, appending the
// records of another table, scanning the file for a text, locating records by field values,
// and reading or writing single fields of any record (with Peek's bulk-read cache).
// One process-wide engine state, not thread-safe.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4_internal.h"
#include "storage/memo.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Dbf4 {

using TzCommon::SetError;
using namespace internal;

void SelectInternal(int n);

namespace {

// Largest block read at once by Search and the bulk-read cache.
constexpr size_t kBlockBytes = 65520;

ConfirmProc g_confirmProc = nullptr;
bool g_confirm = false;
bool g_reopened = false;
bool (*g_hitProc)(uint8_t) = nullptr;
bool g_peekCacheOn = false;

// A run of consecutive raw records as they lie in the file (untranslated).
//  1. count == 0 means the run holds nothing; otherwise bytes holds count whole records.
//  2. The bulk-read cache is one run whose alias names the area it belongs to.
struct Run {
    std::string alias;
    int32_t first = 0;
    int32_t count = 0;
    std::vector<uint8_t> bytes;
    bool Holds(int32_t r) const { return count > 0 && r >= first && r < first + count; }
    void Clear() {
        alias.clear();
        first = count = 0;
        bytes.clear();
        bytes.shrink_to_fit();
    }
};
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

// Loads a run of whole records from r on: at most kBlockBytes, at least one record, no
// further than the count. 0 or the file system's code.
uint16_t LoadRun(WorkArea& a, Run& run, int32_t r) {
    const size_t len = a.recordLength;
    const int64_t fit = std::max<int64_t>(1, int64_t(kBlockBytes / len));
    const int32_t n = int32_t(std::min<int64_t>(fit, int64_t(a.recCount) - r + 1));
    run.count = 0;
    if (n < 1) return TzErr::UnexpectedEndOfFile;
    run.bytes.resize(size_t(n) * len);
    size_t got = 0;
    uint16_t rc =
        a.file.ReadAt(TzDbfLow::RecordOffset(a, r), run.bytes.data(), run.bytes.size(), &got);
    if (rc != 0) return rc;
    if (got < len) return TzErr::UnexpectedEndOfFile;
    run.first = r;
    run.count = int32_t(got / len);
    return 0;
}

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

std::string FormatNumber(double v, int len, int dec) {
    char buf[384];
    int n = tz::FormatFixed(buf, sizeof buf, len, dec, v);
    if (n < 0 || n > len) return std::string(size_t(len), '*');
    return std::string(buf, size_t(n));
}

double TextNumber(const std::string& text) {
    std::string t = TzCommon::AllTrim(text);
    return tz::ParseDouble(t.data(), t.size());
}

bool TrueByte(uint8_t c) {
    return c == 'T' || c == 't' || c == 'Y' || c == 'y';
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

bool Confirmed(const std::string& text) {
    if (!g_confirm) return true;
    int answer = g_confirmProc ? g_confirmProc(text, "", kConfirmFlags)
                               : TzCommon::ErrorBox(text, "", kConfirmFlags);
    return answer == kConfirmOk;
}

// Count, size and end-of-file mark of a table cut to `kept` records. The header goes
// first, so that a failure at any step leaves a header count no larger than the records
// in the file. 0 or the failing code.
uint16_t CutTable(WorkArea& a, int32_t kept) {
    a.recCount = kept;
    a.state = kAppended;
    // The caller reports the failure in its own words.
    const uint8_t checking = TzCommon::SetErrorChecking(0);
    const bool headerOk = TzDbfLow::WriteDbfHeader(a);
    TzCommon::SetErrorChecking(checking);
    uint16_t rc =
        headerOk ? 0 : (TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::DiskWriteError);
    const uint64_t end = TzDbfLow::RecordOffset(a, kept + 1);
    if (rc == 0) rc = a.file.Truncate(end);  // keeps the exclusive hold of a pack
    const uint8_t mark = TzDbfLow::kEofMark;
    if (rc == 0) rc = a.file.WriteAt(end, &mark, 1);
    if (rc == 0) rc = a.file.Sync();
    if (rc != 0) {
        // Whatever is past the count stays; no mark may land on a record still in the file.
        a.noEofMark = true;
        return rc;
    }
    a.state = kClean;
    return 0;
}

void EmptyState(WorkArea& a) {
    BlankRecord(a);
    a.recNo = 0;
    a.bof = a.eof = true;
}

// Restores the shared open after a pack or zap that reopened the area.
void ShareAgain(WorkArea& a, bool reopened, const char* routine) {
    if (!reopened) {
        FollowRelation(a);
        return;
    }
    const std::string name = a.fileName;
    if (uint16_t rc = ReopenFile(false))
        SetError(rc, "Cannot re-open database sharable. " + name + " [" + routine + "]");
}

enum class PackEnd { kDone, kStopped, kFailed };

// Writes the header and the live records of the area's table into `out`, a new file beside
// it, in record order; *kept receives their number. 0, or the failing code after a report.
uint16_t CopyLiveRecords(WorkArea& a, tz::File& out, int32_t* kept) {
    std::vector<uint8_t> head(size_t(uint16_t(a.headerLength)));
    size_t got = 0;
    uint16_t rc = a.file.ReadAt(0, head.data(), head.size(), &got);
    if (rc != 0 || got != head.size()) {
        rc = rc ? rc : TzErr::DiskReadError;
        SetError(rc, "File:  " + a.fileName + "  [GetDbfRecord]");
        return rc;
    }
    if ((rc = out.WriteAt(0, head.data(), head.size())) != 0) {
        SetError(rc, "Error packing " + a.fileName);
        return rc;
    }
    const int32_t count = a.recCount;
    const size_t len = a.recordLength;
    Run run;
    std::vector<uint8_t> live;
    *kept = 0;
    for (int32_t r = 1; r <= count; r += run.count) {
        if ((rc = LoadRun(a, run, r)) != 0) {
            SetError(rc, "File:  " + a.fileName + "  [GetDbfRecord]");
            return rc;
        }
        live.clear();
        for (int32_t i = 0; i < run.count; ++i) {
            const uint8_t* rec = run.bytes.data() + size_t(i) * len;
            if (rec[0] != '*') live.insert(live.end(), rec, rec + len);
        }
        if (live.empty()) continue;
        rc = out.WriteAt(TzDbfLow::RecordOffset(a, *kept + 1), live.data(), live.size());
        if (rc != 0) {
            SetError(rc, "File:  " + a.fileName + " [Replace/Append/PutDbfRecord]");
            return rc;
        }
        *kept += int32_t(live.size() / len);
    }
    return 0;
}

// Count, date, end mark and flush of the packed copy the area now works on.
uint16_t FinishPacked(WorkArea& a, int32_t kept) {
    a.recCount = kept;
    const uint8_t checking = TzCommon::SetErrorChecking(0);
    const bool headerOk = TzDbfLow::WriteDbfHeader(a);
    TzCommon::SetErrorChecking(checking);
    uint16_t rc =
        headerOk ? 0 : (TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::DiskWriteError);
    const uint8_t mark = TzDbfLow::kEofMark;
    if (rc == 0) rc = a.file.WriteAt(TzDbfLow::RecordOffset(a, kept + 1), &mark, 1);
    if (rc == 0) rc = a.file.Sync();
    return rc;
}

// Builds the packed table beside the old one and renames it into place, so that a pack
// that is killed leaves the old table or the new one, never a mixture. The area goes on
// with the new file. 0, or the failing code after a report (the old table is untouched).
uint16_t ReplaceByPacked(WorkArea& a) {
    tz::File packed;
    uint16_t rc = packed.Create(a.fileName + ".pak", tz::ShareMode::Exclusive);
    if (rc != 0) {
        SetError(rc, "Error packing " + a.fileName);
        return rc;
    }
    int32_t kept = 0;
    if ((rc = CopyLiveRecords(a, packed, &kept)) != 0) {
        packed.Unlink();
        return rc;
    }
    const int32_t count = a.recCount;
    std::swap(a.file, packed);  // packed: the old table from here on
    a.file.SetShareMode(packed.Share());
    rc = FinishPacked(a, kept);
    tz::StopPoint("pack-before-cut");
    // The old table is held alone while the new one takes its name (without sharing, the
    // open holds it shared until now).
    if (rc == 0) rc = packed.TakeExclusive();
    if (rc == 0) rc = a.file.RenameTo(a.fileName, &packed);
    if (rc != 0) {
        a.file.Unlink();
        std::swap(a.file, packed);
        a.recCount = count;
        SetError(rc, "Error packing " + a.fileName);
        return rc;
    }
    packed.Close();  // the old table goes with its last handle
    if (!settings().sharing) a.file.RestoreShare();
    a.state = kClean;
    return 0;
}

// Replaces the table by a copy that holds only its live records; then the memo file is
// packed and the indexes rebuilt.
PackEnd SlideRecords(WorkArea& a) {
    // Flush-after-write is off and the relation removed while the records move; both come
    // back on every way out (an error report may raise).
    struct Suspend {
        WorkArea& a;
        bool flush = TzDbfLow::settings().flushAfterWrite;
        RelationProc relation = a.relation;
        explicit Suspend(WorkArea& area) : a(area) {
            TzDbfLow::settings().flushAfterWrite = false;
            a.relation = nullptr;
        }
        ~Suspend() { Restore(); }
        void Restore() {
            TzDbfLow::settings().flushAfterWrite = flush;
            a.relation = relation;
        }
    } suspend(a);
    TzDbfLow::DropReadAhead(a);
    // Record numbers change: no lock of the old table means anything afterwards.
    if (a.lockState != kLockNone) Unlock();
    // The keys stop matching the table from here on; a pack that is killed before the
    // rebuild leaves an index that the next open rebuilds.
    if (Indexes() && indexHooks.markRebuild) indexHooks.markRebuild();
    const int32_t before = a.recCount;
    if (ReplaceByPacked(a) != 0) {
        suspend.Restore();
        return PackEnd::kFailed;
    }
    TzDbfLow::DropReadAhead(a);
    suspend.Restore();
    if (a.recCount > 0) {
        ReadScatter(a, 1);
    } else {
        EmptyState(a);
    }
    if (a.recCount != before) RefreshPeekCache(a, -1);
    tz::StopPoint("pack-before-reindex");
    if (a.memo && memoUnitPresent && memoHooks.pack) {
        if (!memoHooks.pack(a)) return PackEnd::kStopped;
        if (a.recCount > 0) TzDbfLow::UnpackRecord(a, a.native);
    }
    if (Indexes() && indexHooks.reindex) indexHooks.reindex();
    return PackEnd::kDone;
}

// Removes the virtual-file words from an AppendFrom source; true when one was there.
bool IsVirtualText(std::string& text) {
    bool v = false;
    for (const char* w : {"VIRTUAL FILE", "LINKED LIST", "VIRTUAL", "LINKED"})
        v = TzUtils::ExtractOption(std::string(" ") + w, text) || v;
    return v;
}

std::string DateTextOf(WorkArea& src, const FieldEntry& f) {
    const uint8_t* p = NativeOf(src) + f.nativeOffset;
    return std::string(reinterpret_cast<const char*>(p) + 1, std::min<int>(p[0], 10));
}

void PutText(uint8_t* raw, const FieldEntry& f, const std::string& text) {
    std::memset(raw, ' ', f.length);
    std::memcpy(raw, text.data(), std::min<size_t>(text.size(), f.length));
}

char ClassOf(char type) {
    return type == 'F' ? 'N' : type;
}

// Converts one mapped field from the source record into the blank target record.
// False when a memo copy failed.
bool ConvertField(WorkArea& src, const FieldEntry& sf, int sfNo, WorkArea& tgt,
                  const FieldEntry& tf, int tfNo) {
    const uint8_t* s = src.record.data() + sf.offset;
    uint8_t* t = tgt.record.data() + tf.offset;
    const std::string stext(reinterpret_cast<const char*>(s), sf.length);
    const char from = ClassOf(sf.type), to = ClassOf(tf.type);
    if ((to == 'C' && from == 'C') || (to == 'D' && from == 'D')) {
        PutText(t, tf, stext);
    } else if (to == 'C' && from == 'N') {
        std::string n = FormatNumber(TextNumber(stext), tf.length, sf.decimals);
        PutText(t, tf, n);
    } else if (to == 'C' && from == 'L') {
        PutText(t, tf, TrueByte(s[0]) ? "T" : "F");
    } else if (to == 'C' && from == 'D') {
        std::string d = DateTextOf(src, sf);
        if (d.size() > tf.length && d.size() == 10) {
            if (TzCommon::DateStyle() == 1)
                d.erase(0, 2);
            else
                d.erase(d.size() - 4, 2);
        }
        PutText(t, tf, d);
    } else if (to == 'N' && (from == 'C' || from == 'N')) {
        double v = TextNumber(stext);
        if (tf.decimals == 0) v = std::trunc(v);
        PutText(t, tf, FormatNumber(v, tf.length, tf.decimals));
    } else if (to == 'L') {
        t[0] = (from == 'L' && TrueByte(s[0])) ? 'T' : 'F';
    } else if (to == 'D' && from == 'C') {
        std::string d = TzCommon::AllTrim(stext);
        if (TimeDate::IsValidDate(d)) PutText(t, tf, TimeDate::DTOS(d));
    } else if (to == 'M' && memoUnitPresent && (from == 'C' || from == 'M')) {
        TzCommon::ClearErrorWord();
        int32_t block = 0;
        if (from == 'C') {
            std::string text = TzUtils::TrimRight(stext);
            if (!text.empty()) block = Memo::AddMemo(tgt, text);
        } else if (int32_t b = Memo::BlockOfField(src, sfNo)) {
            block = Memo::CopyMemo(tgt, src, b, false);
        }
        if (TzCommon::ErrorWord() != 0) return false;
        Memo::SetBlockOfField(tgt, tfNo, block);
    }
    return true;
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

void SetConfirmProc(ConfirmProc proc) {
    g_confirmProc = proc;
}
void SetConfirm(bool on) {
    g_confirm = on;
}
bool ConfirmOn() {
    return g_confirm;
}
bool LastReopened() {
    return g_reopened;
}
void SetSearchHitProc(bool (*proc)(uint8_t)) {
    g_hitProc = proc;
}
void SetPeekCache(bool on) {
    g_peekCacheOn = on;
    if (!on) g_cache.Clear();
}

uint16_t ReopenFile(bool exclusive) {
    g_reopened = false;
    WorkArea* ap = Guard("ReopenFile");
    if (!ap) return TzErr::NoDatabaseInUse;
    WorkArea& a = *ap;
    if (a.isVirtual) return 0;
    if (exclusive) {
        if (a.exclusive) return TzErr::AccessDenied;
        // The share byte of the open is upgraded in place: no other handle, area or
        // process may have the file open, and this area's own locks stay held.
        uint16_t rc = a.file.TakeExclusive();
        if (rc != 0) return rc;
        a.exclusive = true;
        g_reopened = true;
        uint64_t size = 0;
        if (a.file.Size(&size) == 0) a.recCount = TzDbfLow::CountFromSize(a, size);
        return 0;
    }
    if (!settings().sharing) return 0;
    if (a.file.Share() == tz::ShareMode::DenyNone) {
        a.file.RestoreShare();
    } else {
        // Opened exclusively: open the file again in the shared mode.
        const tz::Access access = a.readOnly ? tz::Access::ReadOnly : tz::Access::ReadWrite;
        TzDbfLow::DropReadAhead(a);
        if (!a.readOnly) TzDbfLow::CommitDbf(a);
        a.file.Close();
        if (uint16_t rc = a.file.Open(a.fileName, access, tz::ShareMode::DenyNone)) {
            a.file.Open(a.fileName, access, tz::ShareMode::Exclusive);
            return rc;
        }
        a.exclusive = false;
        // The memo file follows the table into the shared mode.
        if (a.memo && Memo::DescriptorOf(a) && memoHooks.close && memoHooks.open) {
            memoHooks.close(a);
            memoHooks.open(a);
        }
    }
    a.exclusive = false;
    g_reopened = true;
    return 0;
}

bool Pack() {
    TzCommon::ClearErrorWord();
    WorkArea* ap = Guard("Pack");
    if (!ap) return false;
    WorkArea& a = *ap;
    if (a.isVirtual) {
        if (a.recCount == 0 || !Confirmed("PACK " + a.fileName)) return false;
        return virtualHooks.request && virtualHooks.request(a, 7, 0);
    }
    Recount(a);
    if (a.recCount == 0) return false;
    const bool reopened = Shared(a);
    if (reopened && ReopenFile(true) != 0) return false;  // another station has it open
    bool result = false;
    if (Confirmed("PACK " + a.fileName)) {
        PackEnd end = SlideRecords(a);
        if (end == PackEnd::kFailed) return false;  // the table stays exclusive here
        result = end == PackEnd::kDone;
    }
    ShareAgain(a, reopened, "Pack");
    return result;
}

bool Zap() {
    TzCommon::ClearErrorWord();
    WorkArea* ap = Guard("Zap");
    if (!ap) return false;
    WorkArea& a = *ap;
    const bool reopened = !a.isVirtual && Shared(a);
    if (reopened && ReopenFile(true) != 0) return false;
    bool result = false;
    const bool go = Confirmed("ZAP " + a.fileName);
    if (go && a.isVirtual) {
        result = virtualHooks.request && virtualHooks.request(a, 12, 0);
    } else if (go) {
        TzDbfLow::DropReadAhead(a);
        RefreshPeekCache(a, -1);
        if (Indexes() && indexHooks.markRebuild) indexHooks.markRebuild();
        tz::StopPoint("zap-before-cut");
        if (uint16_t rc = CutTable(a, 0)) {
            SetError(rc, "Error zapping " + a.fileName);
        } else {
            EmptyState(a);
            result = true;
            if (a.memo && !memoUnitPresent) {
                SetError(TzErr::InvalidParameter,
                         "Memo unit MEMO.TPU not linked into program. [ZAP " + a.fileName + "]");
                result = false;
            } else if (a.memo) {
                const Memo::MemoDescriptor* d = Memo::DescriptorOf(a);
                const std::string name =
                    d ? d->fileName : Memo::MemoFileName(a.fileName, a.version);
                const uint8_t type = d ? d->type : Memo::FlavourOf(a.version);
                const uint16_t block = d ? d->blockSize : Memo::settings().blockSize;
                if (memoHooks.close) memoHooks.close(a);
                result = TzDbfLow::CreateMemoFile(name, type, block, "Zap()") &&
                         (!memoHooks.open || memoHooks.open(a));
            }
            if (result && Indexes() && indexHooks.reindex) indexHooks.reindex();
        }
    }
    const uint16_t code = TzCommon::ErrorWord();
    ShareAgain(a, reopened, "Zap");
    if (code != 0 && TzCommon::ErrorWord() == 0) TzCommon::SetErrorWord(code);
    return result;
}

void AppendFrom(const std::string& source, RecordTest test) {
    TzCommon::ClearErrorWord();
    WorkArea* tp = Guard("AppendFrom");
    if (!tp) return;
    WorkArea& tgt = *tp;
    const int target = CurrentWorkArea();
    std::string text = TzCommon::AllTrim(source);
    const bool isVirtual = IsVirtualText(text);
    const std::string where = "[AppendFrom(" + text + ")]";
    int srcArea = 0;
    if (isVirtual) {
        // A virtual source is one of the open areas, found by its alias.
        srcArea = AreaOfAlias(TzCommon::AllTrim(text));
        if (srcArea == 0 || !AreaAt(srcArea)->isVirtual) {
            SetError(TzErr::InvalidParameter, "Virtual file must be open. " + where);
            return;
        }
    } else {
        std::string name =
            TzCommon::DefaultExtension(TzCommon::FExpand(TzCommon::AllTrim(text)), "DBF");
        if (tz::ResolveName(name) == tz::ResolveName(tgt.fileName)) {
            SetError(TzErr::InvalidParameter, "Attempting to append file to itself. " + where);
            return;
        }
        if (!tz::Exists(name)) {
            SetError(TzErr::FileNotFound, name + " " + where);
            return;
        }
        Select(0);
        if (TzCommon::ErrorWord() != 0) return;
        srcArea = CurrentWorkArea();
        Use(name + " ALIAS *FROMFILE");
        SelectInternal(target);
        if (TzCommon::ErrorWord() != 0 || !AreaAt(srcArea)) return;
    }
    WorkArea& src = *AreaAt(srcArea);
    const bool ownSource = !src.isVirtual;
    auto closeSource = [&] {
        if (ownSource) {
            SelectInternal(srcArea);
            CloseArea();
        }
        SelectInternal(target);
    };
    const bool srcMemo = std::any_of(src.fields.begin(), src.fields.end(),
                                     [](const FieldEntry& f) { return f.type == 'M'; });
    if (srcMemo && !memoUnitPresent) {
        closeSource();
        SetError(TzErr::InvalidParameter, "Memo unit MEMO.TPU not linked into program. " + where);
        return;
    }
    // Field map: target field i from the source field of the same name (-1: none).
    std::vector<int> map(tgt.fields.size(), -1);
    bool same = tgt.fields.size() == src.fields.size() && !src.isVirtual;
    for (size_t i = 0; i < tgt.fields.size(); ++i) {
        const FieldEntry& tf = tgt.fields[i];
        for (size_t j = 0; j < src.fields.size(); ++j)
            if (src.fields[j].name == tf.name) map[i] = int(j);
        if (same) {
            const FieldEntry& sf = src.fields[i];
            same = sf.name == tf.name && sf.type == tf.type && sf.length == tf.length &&
                   sf.decimals == tf.decimals;
        }
    }
    SelectInternal(srcArea);
    GoTop();
    bool failed = false;
    while (!src.eof && src.recCount > 0 && !failed) {
        if (!test || test()) {
            const uint8_t* srec = src.isVirtual ? nullptr : RecordOf(src);
            const bool deleted = srec ? srec[0] == '*' : NativeOf(src)[0] != 0;
            SelectInternal(target);
            BlankRecord(tgt);
            uint8_t* trec = tgt.record.data();
            trec[0] = deleted ? '*' : ' ';
            if (same) std::memcpy(trec + 1, srec + 1, size_t(tgt.recordLength) - 1);
            for (size_t i = 0; i < tgt.fields.size() && !failed; ++i) {
                const FieldEntry& tf = tgt.fields[i];
                if (map[i] < 0 || (same && tf.type != 'M')) continue;
                if (same) std::memset(trec + tf.offset, ' ', tf.length);
                failed =
                    !ConvertField(src, src.fields[size_t(map[i])], map[i] + 1, tgt, tf, int(i + 1));
            }
            if (!failed) {
                TzDbfLow::UnpackRecord(tgt, tgt.native);
                Append();
                failed = TzCommon::ErrorWord() != 0;
            }
            SelectInternal(srcArea);
        }
        if (!failed) Skip(1);
        if (TzCommon::ErrorWord() != 0) failed = true;
    }
    const uint16_t code = TzCommon::ErrorWord();
    closeSource();
    if (TzCommon::ErrorWord() == 0) TzCommon::SetErrorWord(code);
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
