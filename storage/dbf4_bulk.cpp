// Bulk operations on the current area's table: exclusive reopen, pack and zap, and the
// helpers the other bulk operations share (dbf4_append.cpp appends the records of another
// table; dbf4_search.cpp scans, locates, peeks and pokes).
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
#include "storage/pack_marker.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Dbf4 {

using TzCommon::SetError;
using namespace internal;
using namespace bulk;

namespace bulk {

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

std::string FormatNumber(double v, int len, int dec) {
    char buf[384];
    int n = tz::FormatRounded(buf, sizeof buf, len, dec, v);
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

}  // namespace bulk

namespace {

ConfirmProc g_confirmProc = nullptr;
bool g_confirm = false;
bool g_reopened = false;

bool Confirmed(const std::string& text) {
    if (!g_confirm) return true;
    int answer = g_confirmProc ? g_confirmProc(text, "", kConfirmFlags)
                               : TzCommon::ErrorBox(text, "", kConfirmFlags);
    return answer == kConfirmOk;
}

// Writes the header without reporting (the caller reports in its own words): 0 or the
// failing code.
uint16_t WriteHeaderQuietly(WorkArea& a) {
    const uint8_t checking = TzCommon::SetErrorChecking(0);
    const bool headerOk = TzDbfLow::WriteDbfHeader(a);
    TzCommon::SetErrorChecking(checking);
    if (headerOk) return 0;
    return TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::DiskWriteError;
}

// Count, size and end-of-file mark of a table cut to `kept` records. The header goes
// first, so that a failure at any step leaves a header count no larger than the records
// in the file. 0 or the failing code.
uint16_t CutTable(WorkArea& a, int32_t kept) {
    // The area cuts the table on purpose: the records it saw past `kept` are no loss.
    a.recCount = a.countSeen = kept;
    a.state = kAppended;
    uint16_t rc = WriteHeaderQuietly(a);
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

// Writes the header and the records of the area's table into `out`, a new file beside it,
// in record order (without the deleted ones unless keepDeleted); *kept receives their
// number. 0, or the failing code after a report.
uint16_t CopyLiveRecords(WorkArea& a, tz::File& out, bool keepDeleted, int32_t* kept) {
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
            if (keepDeleted || rec[0] != '*') live.insert(live.end(), rec, rec + len);
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
    a.recCount = a.countSeen = kept;  // the packed-away records are no loss
    uint16_t rc = WriteHeaderQuietly(a);
    const uint8_t mark = TzDbfLow::kEofMark;
    if (rc == 0) rc = a.file.WriteAt(TzDbfLow::RecordOffset(a, kept + 1), &mark, 1);
    if (rc == 0) rc = a.file.Sync();
    return rc;
}

// The renames that put a packed table (and its packed memo file) in place.
std::vector<pair::Rename> PackRenames(const WorkArea& a, bool withMemo) {
    std::vector<pair::Rename> renames = {{a.fileName + ".pak", a.fileName}};
    std::string memo, packedMemo;
    if (withMemo && Memo::PackedMemoName(a, &memo, &packedMemo))
        renames.push_back({packedMemo, memo});
    return renames;
}

// Back to the old table (held in `packed`) and count; the packed files go.
void UndoPacked(WorkArea& a, tz::File& packed, int32_t count, bool withMemo) {
    std::swap(a.file, packed);
    packed.Unlink();
    packed.Close();
    if (withMemo) Memo::DiscardPackedMemo(a);
    a.recCount = count;
}

// Writes the packed table (and memo file) beside the old ones, the area working on the
// packed table from here on; `packed` receives the old table, held alone. 0, or the failing
// code after a report; then the area is back on the old table and the new files are gone.
uint16_t BuildPacked(WorkArea& a, tz::File& packed, bool keepDeleted, bool withMemo) {
    uint16_t rc = packed.Create(a.fileName + ".pak", tz::ShareMode::Exclusive);
    if (rc != 0) {
        SetError(rc, "Error packing " + a.fileName);
        return rc;
    }
    int32_t kept = 0;
    if ((rc = CopyLiveRecords(a, packed, keepDeleted, &kept)) != 0) {
        packed.Unlink();
        return rc;
    }
    const int32_t count = a.recCount;
    std::swap(a.file, packed);  // packed: the old table from here on
    a.file.SetShareMode(packed.Share());
    if ((rc = FinishPacked(a, kept)) != 0) {
        SetError(rc, "Error packing " + a.fileName);
    } else if (withMemo && !Memo::BuildPackedMemo(a)) {
        rc = TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::MemoWriteError;
    } else if ((rc = packed.TakeExclusive()) != 0) {
        // The old table is held alone while the new one takes its name (without sharing,
        // the open holds it shared until now).
        SetError(rc, "Error packing " + a.fileName);
    }
    if (rc != 0) UndoPacked(a, packed, count, withMemo);
    return rc;
}

// Builds the packed table (and memo file, whose numbers the packed table then holds)
// beside the old ones and puts them in place by renames that a marker makes one step (see
// pack_marker.h), so that a process killed at any point leaves the old pair or the new one,
// never a mixture. The area goes on with the new files. 0, or the failing code after a
// report (the old files untouched, unless the memo file's rename failed: the next open of
// the table finishes it).
uint16_t ReplaceByPacked(WorkArea& a, bool keepDeleted, bool withMemo) {
    const std::vector<pair::Rename> renames = PackRenames(a, withMemo);
    const std::string marker = pair::MarkerName(a.fileName);
    uint16_t rc = pair::WriteMarker(a.fileName, renames, false);
    const int32_t count = a.recCount;
    tz::File packed;
    if (rc != 0 || (rc = BuildPacked(a, packed, keepDeleted, withMemo)) != 0) {
        if (TzCommon::ErrorWord() == 0) SetError(rc, "Error packing " + a.fileName);
        tz::EraseFile(marker);
        return rc;
    }
    tz::StopPoint("pack-before-cut");
    rc = pair::WriteMarker(a.fileName, renames, true);
    tz::StopPoint("pack-before-rename");
    if (rc == 0) rc = a.file.RenameTo(a.fileName, &packed);
    if (rc != 0) {
        // The marker goes first: a complete one must never outlive the new files' removal.
        if (tz::EraseFile(marker) != 0) pair::WriteMarker(a.fileName, renames, false);
        UndoPacked(a, packed, count, withMemo);
        SetError(rc, "Error packing " + a.fileName);
        return rc;
    }
    packed.Close();  // the old table goes with its last handle
    tz::StopPoint("pack-between-renames");
    if (withMemo && !Memo::InstallPackedMemo(a)) return TzCommon::ErrorWord();
    tz::StopPoint("pack-before-marker-removal");
    tz::EraseFile(marker);
    if (!settings().sharing) a.file.RestoreShare();
    a.state = kClean;
    return 0;
}

}  // namespace

// The memo unit's pack: the table is rewritten with its deleted records, so record numbers
// stay; the area's locks go with the old file.
bool RewriteWithMemo(WorkArea& a) {
    TzDbfLow::DropReadAhead(a);
    a.lockState = kLockNone;
    a.locks.clear();
    if (ReplaceByPacked(a, true, Memo::DescriptorOf(a) != nullptr) != 0) return false;
    RefreshPeekCache(a, -1);
    return true;
}

namespace {

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
    const bool withMemo = a.memo && memoUnitPresent && Memo::DescriptorOf(a) != nullptr;
    if (ReplaceByPacked(a, false, withMemo) != 0) {
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
    if (Indexes() && indexHooks.reindex) indexHooks.reindex();
    return PackEnd::kDone;
}

}  // namespace

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
        if (a.file.Size(&size) == 0) a.recCount = TzDbfLow::RecordsHeld(a, size, a.recCount);
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

}  // namespace Dbf4
