// TTzCDataSet, TTzFileDataSet and TTzDbf: dBASE-style commands, opening by file name,
// index opening and building, and the lock-with-retry operations.
#include "data/tz_dbf.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "data/dbf_fields.h"
#include "data/tz_messages.h"
#include "index/mdx_semaphore.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dbf_low.h"
#include "storage/file_layer.h"
#include "storage/memo.h"
#include "storage/scope_exit.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDs {

using namespace Db;

namespace {

std::string KindText(char kind, bool expected, const Dbf4::FieldEntry* f) {
    switch (kind) {
        case 'C':
            return expected ? "character" : "Character";
        case 'D':
            return expected ? "date" : "Date";
        case 'L':
            return expected ? "logical" : "Logical";
        case 'M':
            return expected ? "memo" : "Memo";
        case 'N':
        case 'F':
        case 'R':
            if (expected)
                return kind == 'R' ? "numeric, with decimals" : "numeric, without decimals";
            return "Numeric, width: " + std::to_string(f ? f->length : 0) +
                   " decimals: " + std::to_string(f ? f->decimals : 0);
        default:
            return std::string(1, kind);
    }
}

bool Mismatch(char kind, const Dbf4::FieldEntry& f) {
    const bool numeric = f.type == 'N' || f.type == 'F';
    switch (kind) {
        case 'C':
        case 'D':
        case 'L':
        case 'M':
            return f.type != kind;
        case 'N':
            return !numeric || f.decimals != 0;
        case 'R':
            return !numeric || f.decimals == 0;
        default:
            return false;
    }
}

// Erases the current table's semaphore file when no station has the index open; true when
// one has (the erase is refused).
bool EraseSemaphoreUnlessInUse(const std::string& sem) {
    Dbf4::WorkArea* a = Dbf4::Current();
    return Mdx::EraseUnusedSemaphore(sem, a ? &a->file : nullptr, Dbf4::settings().sharing) ==
           TzErr::SharingViolation;
}

TTzProgress100* g_progress = nullptr;
void ProgressStep() {
    if (g_progress) g_progress->Step();
}

// Runs an engine command that writes a record. A full disk (the record, or the room its
// keys need, could not be written; nothing of it stays) is reported to the user in a way
// that the program survives: an exception whose text names the disk. Any other failure
// goes on as the engine reports it.
template <class Command>
void Writing(Command command) {
    const bool checking = TzCommon::ErrorCheckingOn();
    std::exception_ptr raised;
    {
        TzCommon::ErrorCheckingOff off;
        try {
            command();
        } catch (const TzCommon::ETzError&) {
            raised = std::current_exception();
        }
    }
    const uint16_t code = TzCommon::ErrorWord();
    Dbf4::WorkArea* a = Dbf4::Current();
    if (code == 0 && !raised) {
        // Written, but its keys could not follow for lack of room: the row counts as saved,
        // and the user hears why the index lags behind.
        const uint16_t keys = TzNdx::UnfinishedChange();
        if (a && tz::NoRoom(keys))
            ShowText(FormatText(kMsgDiskFullSaved,
                                {TzCommon::FSplit(a->fileName).dir, a->fileName, TzNdx::Mdx()}));
        return;
    }
    if (tz::NoRoom(code)) {
        const std::string file = a ? a->fileName : std::string();
        const std::string engine = TzCommon::LastErrorMessage();
        TzCommon::ClearErrorWord();
        throw TzCommon::ETzError(DiskFullText(file) + "\r\n\r\n" + engine);
    }
    // Dispatched now as it would have been at once, or raised again as it was.
    if (checking) {
        TzCommon::SetError(code ? code : TzErr::InternalError, TzCommon::LastMessage());
        return;
    }
    if (raised) std::rethrow_exception(raised);
}

// An index file that lacks a tag of the table's definition (a build cut short) is built
// again like one marked for rebuilding (true: the index is closed, the caller builds it).
// While another station has it open, it is used as that station has it until an open
// finds it alone.
bool CloseIfLackingTag(const std::vector<TagDef>& tags, bool inUse) {
    bool missing = false;
    for (const TagDef& t : tags) {
        bool found = false;
        for (int n = 1; n <= TzNdx::TagCount() && !found; ++n)
            found = TzUtils::AnsiUpper(TzNdx::TagName(n)) ==
                    TzUtils::AnsiUpper(TzCommon::AllTrim(t.name));
        missing = missing || !found;
    }
    if (!missing || inUse) return false;
    TzNdx::CloseIndex();
    return true;
}

}  // namespace

std::string DiskFullText(const std::string& file) {
    const std::string folder = TzCommon::FSplit(file).dir;
    return FormatText(kMsgDiskFull, {folder.empty() ? file : folder, file});
}

// ---- TTzCDataSet --------------------------------------------------------------------------

void TTzCDataSet::AppendRec() {
    SelectArea("AppendRec");
    Writing([] { Dbf4::Append(); });
    AfterCommandHook();
    ResyncFromArea();
}

void TTzCDataSet::AppendFrom(const std::string& fileName) {
    SelectArea("AppendFrom");
    Dbf4::AppendFrom(fileName);
    AfterCommandHook();
    ResyncFromArea();
}

void TTzCDataSet::DeleteRec() {
    SelectArea("DeleteRec");
    Dbf4::DeleteRec();
    AfterCommandHook();
    if (HideDeletedRecs && !ControlsDisabled()) {
        SelectArea("DeleteRec");
        Dbf4::Unlock();
    }
    ResyncFromArea();
}

bool TTzCDataSet::Pack() {
    SelectArea("Pack");
    bool r = Dbf4::Pack();
    AfterCommandHook();
    ResyncFromArea();
    return r;
}

void TTzCDataSet::ReplaceRec() {
    SelectArea("ReplaceRec");
    Writing([] { Dbf4::Replace(); });
    AfterCommandHook();
    ResyncFromArea();
}

bool TTzCDataSet::Zap() {
    SelectArea("Zap");
    bool r = Dbf4::Zap();
    AfterCommandHook();
    ResyncFromArea();
    return r;
}

bool TTzCDataSet::AssignUserPointer(uint8_t*& pointer, int size) {
    SelectArea("AssignUserPointer");
    Dbf4::WorkArea* a = Area();
    if (size == a->nativeSize) {
        pointer = Dbf4::NativeOf(*a);
        return true;
    }
    TzCommon::SetError(TzErr::InvalidSize, std::string(kMsgUserBuffer) + " [" + Name() +
                                               ".AssignUserPointer()] for " + Dbf4::DbfName());
    return false;
}

void TTzCDataSet::ClearRecord() {
    Edit();
    BufferToArea(ActiveBuffer(), -1);
    SelectArea("ClearRecord");
    Dbf4::ClearRecord();
    AreaToBuffer(ActiveBuffer());
    MarkEdited(0);
    if (!ControlsDisabled()) {
        DataEvent(deLayoutChange, 0);
        SetModified(true);
    }
}

bool TTzCDataSet::Deleted() {
    SelectArea("Deleted");
    return Dbf4::Deleted();
}

int TTzCDataSet::FieldCountOfTable() {
    SelectArea("FieldCount");
    return Dbf4::FieldCount();
}

void TTzCDataSet::Go(int32_t n) {
    SelectArea("Go");
    Dbf4::Go(n);
    AfterCommandHook();
    ResyncFromArea();
}

bool TTzCDataSet::IsFilterOn() {
    SelectArea("IsFilterOn");
    return Dbf4::IsFilterOn();
}

bool TTzCDataSet::IsWhileOn() {
    SelectArea("IsWhileOn");
    return Dbf4::IsWhileOn();
}

int32_t TTzCDataSet::RecCount() {
    SelectArea("RecCount");
    return Dbf4::RecCount();
}

void TTzCDataSet::Search(const std::string& text, uint8_t& field, bool fromFirst) {
    SelectArea("Search");
    Dbf4::Search(text, field, fromFirst);
    AfterCommandHook();
    SelectArea("Search");
    if (!Dbf4::dEOF() && !Dbf4::dBOF()) ResyncFromArea();
}

void TTzCDataSet::SetCondition(const char* operation, const std::string& expression, bool isWhile) {
    SelectArea(operation);
    std::string message;
    {
        TzCommon::ErrorCheckingOff off;
        TzCommon::ClearErrorWord();
        if (isWhile)
            Dbf4::Set_While_To(expression);
        else
            Dbf4::Set_Filter_To(expression);
        const bool on = isWhile ? Dbf4::IsWhileOn() : Dbf4::IsFilterOn();
        if (TzCommon::ErrorWord() != 0 || (!TzCommon::AllTrim(expression).empty() && !on)) {
            message = TzCommon::LastErrorMessage();
            if (message.empty()) message = "Invalid expression: " + expression;
            message += " [" + Name() + "." + operation + "]";
            if (isWhile)
                Dbf4::Set_While_To("");
            else
                Dbf4::Set_Filter_To("");
            TzCommon::ClearError();
            TzCommon::ClearErrorWord();
        }
    }
    if (!message.empty()) {
        ResyncFromArea();
        throw TzCommon::ETzError(message);
    }
}

void TTzCDataSet::SetFilterTo(const std::string& expression) {
    SetCondition("SetFilterTo", expression, false);
    AfterCommandHook();
    ResyncFromArea();
}

void TTzCDataSet::SetRelationTo(Dbf4::RelationProc relation) {
    SelectArea("SetRelationTo");
    Dbf4::Set_Relation_To(relation);
}

void TTzCDataSet::SetWhileTo(const std::string& expression) {
    SetCondition("SetWhileTo", expression, true);
    SelectArea("SetWhileTo");
    if (Dbf4::IsWhileOn() && !Dbf4::WhileHolds()) {
        Dbf4::Set_While_To("");
        TzCommon::SetError(TzErr::InvalidOperation, kMsgNotInWhileRange);
        return;
    }
    AfterCommandHook();
    ResyncFromArea();
}

int TTzCDataSet::CheckedField(const char* operation, const std::string& nameIn, char kind) {
    std::string name = nameIn.substr(0, 10);
    SelectArea(operation);
    int n = Dbf4::FieldNo(name);
    Dbf4::WorkArea* a = Area();
    if (n < 1 || !a || n > int(a->fields.size())) {
        TzCommon::SetError(
            220, FormatText(kMsgFieldNotIn, {name, Dbf4::DbfName()}) + " [" + operation + "]");
        return 0;
    }
    const Dbf4::FieldEntry& f = a->fields[n - 1];
    if (Mismatch(kind, f)) {
        TzCommon::SetError(
            220, FormatText(kMsgTypeExpected, {operation, name, KindText(kind, true, nullptr), name,
                                               KindText(f.type, false, &f)}));
        return 0;
    }
    return n;
}

std::string TTzCDataSet::GetCField(const std::string& name) {
    int n = CheckedField("GetCField", name, 'C');
    if (n == 0) return std::string();
    const uint8_t* p = Dbf4::FieldAddress(n);
    return std::string(reinterpret_cast<const char*>(p) + 1, p[0]);
}

bool TTzCDataSet::GetLField(const std::string& name) {
    int n = CheckedField("GetLField", name, 'L');
    if (n == 0) return false;
    return *Dbf4::FieldAddress(n) != 0;
}

bool TTzCDataSet::Locate(const std::string& keyFields, const std::vector<std::string>& keyValues,
                         TLocateOptions options) {
    CheckBrowseMode();
    SelectArea("Locate");
    std::vector<Dbf4::LocateValue> values(keyValues.begin(), keyValues.end());
    if (!(options & loPartialKey)) {
        // An exact match compares the whole field: a C value is padded to the field's width.
        size_t from = 0;
        for (size_t i = 0; i < values.size(); ++i) {
            size_t semi = keyFields.find(';', from);
            std::string name = TzCommon::AllTrim(
                keyFields.substr(from, semi == std::string::npos ? semi : semi - from));
            name = name.substr(0, name.find(' '));
            const int n = Dbf4::FieldNo(name);
            Dbf4::WorkArea* a = Area();
            if (n >= 1 && a && a->fields[n - 1].type == 'C' &&
                keyValues[i].size() < a->fields[n - 1].length)
                values[i] = TzUtils::PadRight(keyValues[i], a->fields[n - 1].length);
            if (semi == std::string::npos) break;
            from = semi + 1;
        }
        TzCommon::ClearErrorWord();
    }
    unsigned opts = 0;
    if (options & loCaseInsensitive) opts |= Dbf4::kLocateNoCase;
    if (!(options & loPartialKey)) opts |= Dbf4::kLocateExact;
    bool r = Dbf4::Locate(keyFields, values, opts);
    AfterCommandHook();
    ResyncFromArea();
    return r;
}

// ---- TTzFileDataSet -----------------------------------------------------------------------

TTzFileDataSet::TTzFileDataSet(const std::string& name) : TTzCDataSet(name) {
    TzEngine::Startup();
}

TTzFileDataSet::~TTzFileDataSet() {
    Destroying();
}

void TTzFileDataSet::SetExclusive(bool on) {
    if (exclusive_ == on) return;
    const bool was = Active();
    if (was) Close();
    exclusive_ = on;
    if (was) Open();
}

// The failed creation of the table file, with the engine's failure behind it (as on a full
// disk) after the text, so that the message box can tell the user why.
void TTzFileDataSet::ShowCouldNotCreate() {
    std::string text = FormatText(kMsgCouldNotCreate, {DbfFileName()});
    const uint16_t code = TzCommon::ErrorWord();
    if (code != 0) text += "\r\n" + TzCommon::ErrorText(code) + "\r\n" + TzCommon::LastMessage();
    ShowText(text);
}

bool TTzFileDataSet::OpenTable(const std::string& fileName) {
    if (CreateIfNotFound && !TzUtils::FileExists(fileName)) {
        if (!CreateTableFromFields(Name(), fileName, &DbfFields())) ShowCouldNotCreate();
        TzCommon::ClearErrorWord();
        TzCommon::ClearError();
    }
    std::string command = fileName;
    if (exclusive_) command += " EXCLUSIVE";
    std::string alias = TzCommon::AllTrim(Name());
    if (!alias.empty()) command += " ALIAS " + alias;
    const bool oldFix = TzDbfLow::settings().fixCountOnOpen;
    const bool oldReadOnly = Dbf4::settings().readOnlyOverride;
    TzDbfLow::settings().fixCountOnOpen = AutoFixRecCount;
    Dbf4::settings().readOnlyOverride = ReadOnly;
    if (OemToAnsiProc || AnsiToOemProc)
        Dbf4::UseEx(command, nullptr, 0, OemToAnsiProc, AnsiToOemProc);
    else
        Dbf4::Use(command);
    TzDbfLow::settings().fixCountOnOpen = oldFix;
    bool ok = TzCommon::ErrorWord() == 0 && Dbf4::Current();
    if (ok) {
        area_ = Dbf4::CurrentWorkArea();
        try {
            OpenIndexes();
        } catch (...) {
            // The failure raised stays the one the error word reports after the close.
            const uint16_t code = TzCommon::ErrorWord();
            Dbf4::settings().readOnlyOverride = oldReadOnly;
            Dbf4::CloseArea();
            TzCommon::SetErrorWord(code);
            area_ = 0;
            throw;
        }
    }
    Dbf4::settings().readOnlyOverride = oldReadOnly;
    return ok;
}

// A table with its own tag list whose index file is open carries the production-index
// flag in its file, so that every other cursor and station opens the index with it.
void TTzFileDataSet::OpenIndexes() {
    OpenOrBuildIndexes();
    if (!ParseIndexList(indexList_).empty() && !TzNdx::Mdx().empty())
        Dbf4::StoreProductionIndex(true);
}

void TTzFileDataSet::OpenOrBuildIndexes() {
    std::vector<TagDef> tags = ParseIndexList(indexList_);
    TCreateIndexType mode = CreateIndex;
    if (!tags.empty()) {
        Dbf4::SetProductionIndex(true);
    } else {
        if (!Dbf4::HasProductionIndex()) return;
        mode = ciNever;
    }
    const std::string table = Dbf4::DbfName();
    const std::string mdx = TzCommon::ForceExtension(table, "MDX");
    if (mode == ciNever) {
        TzNdx::SetIndexTo(mdx);
        return;
    }
    bool inUse = false;
    {
        TzCommon::ErrorCheckingOff off;
        if (TzUtils::FileExists(mdx)) {
            const std::string sem = Mdx::SemaphoreFileName(table);
            inUse = EraseSemaphoreUnlessInUse(sem);
            if ((mode == ciAlways || mode == ciVerifyHeader) && inUse) mode = ciNotFound;
            TzCommon::ClearErrorWord();
        } else {
            mode = ciAlways;
        }
        auto rebuildable = [] { return TzNdx::RebuildableError(TzCommon::ErrorWord()); };
        if (mode == ciVerifyHeader) {
            mode = ciAlways;
            try {
                TzNdx::SetIndexTo(mdx);
            } catch (const TzCommon::ETzError&) {
                if (!rebuildable()) throw;
            }
            if (TzCommon::ErrorWord() == 0) {
                std::vector<TagDef> found;
                for (int n = 1; n <= TzNdx::TagCount(); ++n)
                    found.push_back({TzNdx::TagName(n), TzNdx::TagExpression(n),
                                     TzNdx::TagForCondition(n), TzNdx::TagDescending(n),
                                     TzNdx::TagUnique(n)});
                std::vector<std::string> a = IndexListLines(found);
                std::vector<std::string> b(indexList_.begin(),
                                           indexList_.begin() + tags.size() * 2);
                bool same = a.size() == b.size();
                for (size_t i = 0; same && i < a.size(); ++i)
                    same = TzUtils::AnsiUpper(TzCommon::TrimRight(a[i])) ==
                           TzUtils::AnsiUpper(TzCommon::TrimRight(b[i]));
                if (same) return;  // open and matching
                TzNdx::CloseIndex();
            }
            TzCommon::ClearErrorWord();
            TzCommon::ClearError();
        }
        if (mode == ciNotFound) {
            try {
                TzNdx::SetIndexTo(mdx);
            } catch (const TzCommon::ETzError&) {
                if (!rebuildable()) throw;
            }
            if (rebuildable()) {
                mode = ciAlways;
                TzCommon::ClearErrorWord();
                TzCommon::ClearError();
            } else if (TzCommon::ErrorWord() == 0 && !TzNdx::Mdx().empty() &&
                       CloseIfLackingTag(tags, inUse)) {
                mode = ciAlways;
            }
        }
    }
    if (mode != ciAlways) return;
    std::vector<TzNdx::TagDescriptor> descs;
    for (const TagDef& t : tags)
        descs.push_back({t.name, t.expr, t.forExpr, t.descending, t.unique});
    bool canMake = true;
    OnBeforeMakeIndex(*this, mdx, canMake);
    if (!canMake) {
        Dbf4::StoreProductionIndex(false);
        return;
    }
    {
        std::unique_ptr<TTzProgress100> progress;
        if (ShowProgress) progress = std::make_unique<TTzProgress100>("Indexing " + mdx + "...");
        g_progress = progress.get();
        TzNdx::SetProgressProc(progress ? &ProgressStep : nullptr, progress ? 100 : 0);
        try {
            TzNdx::MakeIndex(descs, mdx);
        } catch (...) {
            TzNdx::SetProgressProc(nullptr, 0);
            g_progress = nullptr;
            throw;
        }
        TzNdx::SetProgressProc(nullptr, 0);
        g_progress = nullptr;
    }
    OnAfterMakeIndex(*this, mdx);
    if (TzCommon::ErrorWord() == 0) TzNdx::SetIndexTo(mdx);
}

namespace {
// Another station holds the append lock only for the moment its own append takes: a save
// that finds it taken waits that long (in turn with the other stations waiting, letting
// waiting messages through) before it is refused, instead of failing beside a station that
// saves at the same moment.
constexpr int kAppendLockWaitMs = 10000;
}  // namespace

template <class Command>
void TTzFileDataSet::WithLock(const char* areaName, LockKind kind, const TTzLockFailedEvent& event,
                              const char* word, Command command) {
    if (ReadOnly) return;
    // Without a handler of its own, a refused append lock is waited for.
    const bool waits = kind == LockKind::Append && !event;
    for (;;) {
        SelectArea(areaName);
        const bool granted = kind == LockKind::Append
                                 ? (waits ? TzNdx::ALockInTurn(kAppendLockWaitMs) : Dbf4::ALock())
                                 : Dbf4::RLock();
        if (!granted && waits) SelectArea(areaName);  // the wait let window messages through
        if (granted) {
            const int32_t before = kind == LockKind::Append ? Dbf4::RecCount() : 0;
            auto release = [this, areaName, kind, before] {
                if (kind == LockKind::Append && Area() && Area()->recCount > before)
                    appendedRecNo_ = Area()->recNo;
                SelectArea(areaName);
                Dbf4::Unlock();
                if (kind == LockKind::Append) TzNdx::LeaveWriteQueue();
            };
            // The locks go on every path, a command that raises included; the error raised
            // then stays the one reported. On the normal path a failing release is reported.
            tz::ScopeExit unwinding{[&release] {
                try {
                    release();
                } catch (...) {
                }
            }};
            Writing(command);
            const uint16_t code = TzCommon::ErrorWord();
            std::string message = code ? TzCommon::LastErrorMessage() : std::string();
            unwinding.Dismiss();
            release();
            if (code != 0) {
                TzCommon::ClearErrorWord();
                throw TzCommon::ETzError(message.empty() ? TzCommon::ErrorText(code) : message);
            }
            return;
        }
        TzCommon::ClearErrorWord();
        bool retry = false;
        if (event)
            event(*this, retry);
        else
            ShowText(FormatText(kMsgLockFailed, {word}));
        // A refused lock that is not retried never counts as written.
        if (!retry) Abort();
    }
}

void TTzFileDataSet::AppendWithLock() {
    WithLock("s_AppendWithLock", LockKind::Append, OnALockFailedOnInsert, "Insert",
             [] { Dbf4::Append(); });
}

void TTzFileDataSet::DeleteWithLock() {
    WithLock("s_DeleteWithLock", LockKind::Record, OnRLockFailedOnDelete, "Delete",
             [] { Dbf4::DeleteRec(); });
}

void TTzFileDataSet::RestoreWithLock() {
    WithLock("s_RestoreWithLock", LockKind::Record, OnRLockFailedOnRestore, "Restore",
             [] { Dbf4::RecallRec(); });
}

void TTzFileDataSet::ReplaceWithLock() {
    WithLock("s_ReplaceWithLock", LockKind::Record, OnRLockFailedOnPost, "Post", [this] {
        MergeLockedRecord();
        Dbf4::Replace();
    });
}

void TTzFileDataSet::Recall() {
    CheckBrowseMode();
    DoBeforeRestore();
    UpdateCursorPos();
    RestoreWithLock();
    ResyncFromArea();
    DoAfterRestore();
}

bool TTzFileDataSet::ALock() {
    SelectArea("ALock");
    return Dbf4::ALock();
}

bool TTzFileDataSet::FLock() {
    SelectArea("FLock");
    if (!Dbf4::FLock()) return false;
    MergeLockedRecord();
    return true;
}

bool TTzFileDataSet::RLock() {
    SelectArea("RLock");
    if (!Dbf4::RLock()) return false;
    MergeLockedRecord();
    return true;
}

bool TTzFileDataSet::UnLock() {
    SelectArea("UnLock");
    Dbf4::Unlock();
    return TzCommon::ErrorWord() == 0;
}

bool TTzFileDataSet::SearchKey(const char* operation, const std::string& keyIn, int how) {
    CheckBrowseMode();
    SelectArea(operation);
    const std::string key = keyIn.substr(0, 100);
    bool found = false;
    if (how == 2) {
        found = TzNdx::FindNear(key);
    } else if (how == 1) {
        const bool old = TzNdx::SetExact(true);
        try {
            found = TzNdx::Find(key);
        } catch (...) {
            if (!old) TzNdx::SetExact(false);
            throw;
        }
        if (!old) TzNdx::SetExact(false);
    } else {
        found = TzNdx::Find(key);
    }
    SelectArea(operation);
    if (Dbf4::dEOF())
        Last();
    else
        ResyncFromArea();
    return found;
}

bool TTzFileDataSet::Find(const std::string& key) {
    return SearchKey("Find", key, 0);
}
bool TTzFileDataSet::FindExact(const std::string& key) {
    return SearchKey("FindExact", key, 1);
}
bool TTzFileDataSet::FindNear(const std::string& key) {
    return SearchKey("FindNear", key, 2);
}

void TTzFileDataSet::Reindex() {
    SelectArea("Reindex");
    TzNdx::Reindex();
    ResyncFromArea();
}

bool TTzFileDataSet::HoldIndexRead(bool on) {
    SelectArea("HoldIndexRead");
    TzNdx::SetReadSemaphoreProc(on ? 1 : 0);
    if (!on || TzNdx::ReadCounted()) return true;
    TzNdx::SetReadSemaphoreProc(0);
    return false;
}

bool TTzFileDataSet::IndexWritersWaiting() {
    SelectArea("IndexWritersWaiting");
    return TzNdx::IndexWritersWaiting();
}

// ---- Holding the index read counts across a walk -----------------------------------------

namespace {

// How often a hold looks for waiting writers, and how long it then leaves them the index
// before it counts itself in again (a writer looks for readers every millisecond or so).
constexpr auto kWriterCheck = std::chrono::milliseconds(1);
constexpr auto kWriterTurn = std::chrono::milliseconds(10);
constexpr auto kWriterPoll = std::chrono::microseconds(50);
// A writer still waiting after its turn waits for another station's read, or other writers
// keep coming: the walk goes on this long before the hold looks again, short enough that a
// waiting writer is kept only a millisecond or two by it.
constexpr auto kOthersTurn = std::chrono::milliseconds(2);

}  // namespace

TIndexReadHold::TIndexReadHold(std::vector<TTzDbf*> tables)
    : tables_(std::move(tables)), held_(tables_.size(), 0) {
    try {
        Take();
    } catch (...) {
        Release();
        throw;
    }
    nextCheck_ = std::chrono::steady_clock::now() + kWriterCheck;
}

TIndexReadHold::~TIndexReadHold() {
    Release();
}

void TIndexReadHold::Take() {
    for (size_t i = 0; i < tables_.size(); ++i) {
        if (held_[i] || !tables_[i]->Active()) continue;
        held_[i] = tables_[i]->HoldIndexRead(true) ? 1 : 0;  // else tried again at the next Take
    }
}

void TIndexReadHold::Release() {
    for (size_t i = tables_.size(); i-- > 0;) {
        if (!held_[i]) continue;
        held_[i] = 0;
        try {
            if (tables_[i]->Active()) tables_[i]->HoldIndexRead(false);
        } catch (...) {
            // a release that fails leaves the count to the engine's own repair
        }
    }
}

bool TIndexReadHold::WritersWaiting() {
    for (TTzDbf* t : tables_)
        if (t->Active() && t->IndexWritersWaiting()) return true;
    return false;
}

void TIndexReadHold::GiveWay() {
    const auto now = std::chrono::steady_clock::now();
    if (now < nextCheck_) return;
    nextCheck_ = now + kWriterCheck;
    if (!WritersWaiting()) return;
    Release();
    const auto until = std::chrono::steady_clock::now() + kWriterTurn;
    bool waiting = true;
    while (std::chrono::steady_clock::now() < until && (waiting = WritersWaiting()))
        std::this_thread::sleep_for(kWriterPoll);
    Take();
    nextCheck_ = std::chrono::steady_clock::now() + (waiting ? kOthersTurn : kWriterCheck);
}

std::string TTzFileDataSet::CurrentTag() {
    SelectArea("CurrentTag");
    return TzNdx::CurrentTagName().substr(0, 10);
}

std::string TTzFileDataSet::Mdx() {
    SelectArea("Mdx");
    return TzNdx::Mdx();
}

bool TTzFileDataSet::SetOrderToTag(const std::string& tag) {
    CheckBrowseMode();
    SelectArea("SetOrderToTag");
    bool r = TzNdx::SetOrderToTag(tag.substr(0, 10));
    ResyncFromArea();
    return r;
}

bool TTzFileDataSet::Locate(const std::string& keyFields, const std::vector<std::string>& keyValues,
                            TLocateOptions options) {
    SelectArea("Locate");
    // The controlling tag serves only when its key is exactly the one requested field,
    // searched case-sensitively, or UPPER of it, searched case-insensitively; anything else
    // is searched sequentially.
    const int order = TzNdx::Mdx().empty() ? 0 : TzNdx::CurrentOrder();
    const std::string field = TzUtils::AnsiUpper(TzCommon::AllTrim(keyFields));
    if (order > 0 && keyValues.size() == 1 && field.find(';') == std::string::npos &&
        !field.empty()) {
        std::string expr = TzUtils::AnsiUpper(TzCommon::AllTrim(TzNdx::TagExpression(order)));
        expr.erase(std::remove(expr.begin(), expr.end(), ' '), expr.end());
        std::string key = keyValues[0].substr(0, 255);
        const bool caseless = (options & loCaseInsensitive) != 0;
        bool usable = !caseless && expr == field;
        if (caseless && expr == "UPPER(" + field + ")") {
            usable = true;
            key = TzUtils::AnsiUpper(key);
        }
        if (usable) {
            int n = Dbf4::FieldNo(field);
            Dbf4::WorkArea* a = Area();
            bool character = n >= 1 && a && a->fields[n - 1].type == 'C';
            if (character) {
                if (options & loPartialKey) return Find(key);
                return FindExact(TzUtils::PadRight(key, a->fields[n - 1].length));
            }
        }
    }
    return TTzCDataSet::Locate(keyFields, keyValues, options);
}

std::unique_ptr<TStream> TTzFileDataSet::CreateBlobStream(TField& field, TBlobStreamMode mode) {
    return std::make_unique<TTzBlobStream>(field, mode);
}

}  // namespace TzDs
