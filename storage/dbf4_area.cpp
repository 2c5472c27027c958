// Work areas: the slot table, Select, Use and closing.
#include <time.h>

#include <cstring>
#include <memory>

#include "storage/dbf4_internal.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Dbf4 {

using TzCommon::SetError;

IndexHooks indexHooks;
bool indexHooksInstalled = false;
bool maintainKeysOnReplace = true;
ParserHooks parserHooks;
bool parserPresent = false;
MemoHooks memoHooks;
bool memoUnitPresent = false;
VirtualHooks virtualHooks;
bool virtualUnitPresent = false;

namespace {

struct Slots {
    std::unique_ptr<WorkArea> area[kMaxAreas + 1];
    int current = 1;
};

Slots& slots() {
    // The first use registers the engine's shut-down, which a halt runs.
    static Slots s = [] {
        TzCommon::AddShutdownProc(&Shutdown);
        return Slots{};
    }();
    return s;
}

// Every change of the current slot or of what a slot holds goes through these two, which
// keep internal::currentArea (what Current() answers on every command) in step.
void SetCurrentSlot(int n) {
    slots().current = n;
    internal::currentArea = slots().area[n].get();
}

void SetSlot(int n, std::unique_ptr<WorkArea> area) {
    std::unique_ptr<WorkArea> old = std::move(slots().area[n]);
    slots().area[n] = std::move(area);
    internal::currentArea = slots().area[slots().current].get();
    old.reset();  // its destructor sees the slot as it now is
}

// The procs the user interface installs once (kept by ResetState, like the error box).
struct UiProcs {
    void (*idle)() = nullptr;
    bool (*terminating)() = nullptr;
};
UiProcs g_ui;

// Cuts " ALIAS <name>" out of a command text.
std::string TakeAlias(std::string& text) {
    int pos = TzUtils::FindNoCase(1, " ALIAS ", text);
    if (pos == 0) return std::string();
    std::string rest = TzCommon::TrimLeft(text.substr(size_t(pos - 1) + 7));
    text.resize(size_t(pos - 1));
    size_t blank = rest.find(' ');
    std::string alias = blank == std::string::npos ? rest : rest.substr(0, blank);
    if (alias.size() > 64) alias.resize(64);
    return alias;
}

}  // namespace

WorkArea::~WorkArea() {
    if (indexExt && indexExtFree) indexExtFree(indexExt);
    if (memoExt && memoExtFree) memoExtFree(memoExt);
    if (parserHooks.free) {
        if (filterExpr) parserHooks.free(filterExpr);
        if (whileExpr) parserHooks.free(whileExpr);
    }
}

Settings& settings() {
    static Settings s;
    return s;
}

void SetIdleProc(void (*proc)()) {
    g_ui.idle = proc;
}
void ProcessMessages() {
    if (g_ui.idle) g_ui.idle();
}
void SetTerminatingProc(bool (*proc)()) {
    g_ui.terminating = proc;
}
bool Terminating() {
    return g_ui.terminating && g_ui.terminating();
}

WorkArea* AreaAt(int n) {
    if (n < 1 || n > kMaxAreas) return nullptr;
    return slots().area[n].get();
}

namespace internal {

WorkArea* currentArea = nullptr;

void ReportNoArea(const char* routine) {
    SetError(TzErr::NoDatabaseInUse, std::string("No database in use [") + routine +
                                         "]  WorkArea = " + std::to_string(slots().current));
}

bool Shared(const WorkArea& a) {
    return settings().sharing && !a.exclusive;
}

}  // namespace internal

void Select(int n) {
    TzCommon::ClearErrorWord();
    if (n >= 1 && n <= kCallerAreas) {
        SetCurrentSlot(n);
        return;
    }
    if (n == 0) {
        for (int i = 1; i <= kCallerAreas; ++i) {
            if (!slots().area[i]) {
                SetCurrentSlot(i);
                return;
            }
        }
        SetError(TzErr::InvalidParameter, "No free workarea available [Select(0)]");
        return;
    }
    SetError(TzErr::InvalidParameter,
             "Invalid workarea selected = [Select(" + std::to_string(n) + ")]");
}

// The engine's own slots 34 and 35.
void SelectInternal(int n) {
    if (n >= 1 && n <= kMaxAreas) SetCurrentSlot(n);
}

int CurrentWorkArea() {
    return slots().current;
}

bool CheckInUse(const std::string& routine) {
    return internal::Guard(routine.c_str()) == nullptr;
}

int AreaOfAlias(const std::string& alias) {
    for (int i = 1; i <= kCallerAreas; ++i)
        if (slots().area[i] && slots().area[i]->alias == alias) return i;
    return 0;
}

void Use(const std::string& command, void* buffer, uint16_t size) {
    UseEx(command, buffer, size, nullptr, nullptr);
}

void UseEx(const std::string& command, void* buffer, uint16_t size, TranslateProc oemToAnsi,
           TranslateProc ansiToOem) {
    TzCommon::ClearErrorWord();
    CloseArea();
    TzCommon::ClearErrorWord();
    std::string text = TzCommon::AllTrim(command);
    std::string upper = TzUtils::AnsiUpper(text);
    if (upper.find("LINKED LIST") != std::string::npos ||
        upper.find("VIRTUAL FILE") != std::string::npos) {
        UseBuffer(text, buffer, size);
        return;
    }
    if ((buffer == nullptr) != (size == 0)) {
        SetError(TzErr::InvalidParameter,
                 "Buffer is NIL or size is zero, attempting to open " + text + " [USE]");
        return;
    }
    bool exclusive = TzUtils::ExtractOption(" EXCLUSIVE", text);
    std::string alias = TakeAlias(text);
    std::string name = TzCommon::FExpand(TzCommon::AllTrim(text));
    if (alias.empty()) alias = TzCommon::AllTrim(TzCommon::FSplit(name).name);
    name = TzCommon::DefaultExtension(name, "DBF");

    Settings& s = settings();
    auto area = std::make_unique<WorkArea>();
    area->fileName = name;
    TzDbfLow::OpenMode mode;
    if (exclusive || s.exclusiveDefault) mode.share = tz::ShareMode::Exclusive;
    area->exclusive = mode.share == tz::ShareMode::Exclusive;
    if (!s.sharing) {
        mode.share = tz::ShareMode::DenyNone;
        area->exclusive = true;
    }
    if (s.readOnlyOverride) {
        // The override replaces the mode word, EXCLUSIVE or not: read only, deny none.
        mode.access = tz::Access::ReadOnly;
        mode.share = tz::ShareMode::DenyNone;
        area->exclusive = !s.sharing;
    }
    area->oem = !s.ansiTables;
    if (!TzDbfLow::UseDbf(*area, mode)) return;
    area->alias = alias;

    const std::string bufText = buffer ? "<@Buffer>" : "Nil";
    const uint16_t nativeSize = area->nativeSize;
    if (buffer == nullptr) {
        area->ownNative.assign(nativeSize, 0);
        area->native = area->ownNative.data();
    } else {
        if (size != nativeSize) {
            TzDbfLow::CloseDbf(*area);
            SetError(TzErr::InvalidSize, "Database record/buffer size mismatch: " + text +
                                             " [USE()]\n\r" +
                                             "Record Size=" + std::to_string(nativeSize) +
                                             ", Buffer Size=" + std::to_string(size));
            return;
        }
        area->native = static_cast<uint8_t*>(buffer);
    }
    int self = slots().current;
    for (int i = 1; i <= kCallerAreas; ++i) {
        if (i != self && slots().area[i] && slots().area[i]->alias == alias) {
            TzDbfLow::CloseDbf(*area);
            SetError(TzErr::InvalidParameter, "Alias name \"" + alias + "\" already in use. [USE]");
            return;
        }
    }
    area->oemToAnsi = oemToAnsi;
    area->ansiToOem = ansiToOem;
    area->swap.assign(nativeSize, 0);
    WorkArea& a = *area;
    SetSlot(self, std::move(area));

    if (a.recCount < 1) {
        internal::BlankRecord(a);
        a.bof = a.eof = true;
    } else {
        GoTop();
    }
    if (a.memo && memoUnitPresent && memoHooks.open) {
        if (!memoHooks.open(a)) {
            uint16_t code =
                TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::InvalidMemoOperation;
            SetError(code, "Problem with memo [USE(" + text + "," + bufText + "," +
                               std::to_string(size) + ")]");
        }
    }
}

void UseBuffer(const std::string& command, void* buffer, uint16_t size) {
    TzCommon::ClearErrorWord();
    if (!virtualUnitPresent || !virtualHooks.request) {
        SetError(TzErr::VirtualUnitMissing,
                 "[USE(" + command + ",<@Buffer>," + std::to_string(size) + ")]");
        return;
    }
    if (buffer == nullptr) {
        SetError(TzErr::InvalidParameter,
                 "NIL buffer pointer [USE(" + command + ",Nil," + std::to_string(size) + ")]");
        return;
    }
    std::string text = command;
    TzUtils::ExtractOption("LINKED LIST", text);
    TzUtils::ExtractOption("VIRTUAL FILE", text);
    std::string alias = TakeAlias(text);
    if (alias.empty()) alias = TzCommon::AllTrim(TzCommon::FSplit(TzCommon::AllTrim(text)).name);
    int self = slots().current;
    for (int i = 1; i <= kCallerAreas; ++i) {
        if (i != self && slots().area[i] && slots().area[i]->alias == alias) {
            SetError(TzErr::InvalidParameter, "Alias name \"" + alias + "\" already in use. [USE]");
            return;
        }
    }
    auto area = std::make_unique<WorkArea>();
    area->isVirtual = true;
    area->alias = alias;
    area->fileName = TzCommon::AllTrim(text);
    area->native = static_cast<uint8_t*>(buffer);
    area->nativeSize = size;
    area->eof = area->bof = true;
    area->state = kClean;
    area->exclusive = true;
    WorkArea& a = *area;
    SetSlot(self, std::move(area));
    // The virtual-file unit reads the storage and order words from the command text.
    a.fileName = text;
    if (!virtualHooks.request(a, 0, 0)) {
        SetSlot(self, nullptr);
        if (TzCommon::ErrorWord() == 0)
            SetError(TzErr::VirtualMemoryError, "[USE(" + command + ")]");
    }
}

namespace {

// Takes the append byte for a close, retrying briefly while another station appends.
bool TakeAppendByte(WorkArea& a) {
    for (int tries = 0; tries < 50; ++tries) {
        if (a.file.Lock(AppendByte(), 1) == 0) return true;
        struct timespec ts = {0, 2 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
    return false;
}

// Brings the header of a changed shared area up to date at close (and, after appends, the
// end-of-file mark) while this station holds the append byte: the mark cannot land on a
// record another station is appending, and the count is the file's own, so a station that
// appends and closes meanwhile is never undone. An area holding the file or append lock
// writes before it lets go of it. When the byte cannot be had the header is left as it is;
// every open counts the records the file holds.
void CommitSharedClose(WorkArea& a) {
    if (a.isVirtual || a.readOnly || !internal::Shared(a)) return;
    if (a.state != kModified && a.state != kAppended) return;
    const bool held = a.lockState == kLockFile || a.lockState == kLockAppend;
    if (!held && !TakeAppendByte(a)) {
        a.state = kClean;
        return;
    }
    Recount(a);
    TzDbfLow::WriteHeaderAndMark(a);
    if (!held) a.file.Unlock(AppendByte(), 1);
}

}  // namespace

void CloseArea() {
    WorkArea* a = Current();
    if (!a) return;
    if (!a->isVirtual && indexHooksInstalled && indexHooks.active && indexHooks.close &&
        indexHooks.active())
        indexHooks.close();
    CommitSharedClose(*a);
    Unlock();
    tz::StopPoint("close-unlocked");  // kill tests: header written, locks let go, file open
    a->swap.clear();
    if (a->memo && memoHooks.close) memoHooks.close(*a);
    internal::RefreshPeekCache(*a, -1);
    if (parserHooks.free) {
        if (a->filterExpr) parserHooks.free(a->filterExpr);
        if (a->whileExpr) parserHooks.free(a->whileExpr);
    }
    a->filterExpr = a->whileExpr = nullptr;
    a->filterFunc = a->whileFunc = nullptr;
    TzDbfLow::CloseDbf(*a);
    SetSlot(slots().current, nullptr);
}

void CloseAll() {
    TzCommon::ClearErrorWord();
    for (int i = 1; i <= kCallerAreas; ++i) {
        SetCurrentSlot(i);
        CloseArea();
    }
    SetCurrentSlot(1);
}

void Shutdown() {
    for (int i = kMaxAreas; i > kCallerAreas; --i) {
        SetCurrentSlot(i);
        CloseArea();
    }
    CloseAll();
}

void ResetState() {
    CloseAll();
    TzDbfLow::TakeShortTables();
    settings() = Settings();
    TzDbfLow::settings() = TzDbfLow::Settings();
    SetConfirmProc(nullptr);
    SetConfirm(false);
    SetSearchHitProc(nullptr);
    SetPeekCache(false);
    maintainKeysOnReplace = true;
}

void RemoveHooks() {
    indexHooks = IndexHooks();
    indexHooksInstalled = false;
    parserHooks = ParserHooks();
    parserPresent = false;
    memoHooks = MemoHooks();
    memoUnitPresent = false;
    virtualHooks = VirtualHooks();
    virtualUnitPresent = false;
}

std::string DbfName() {
    WorkArea* a = Current();
    return a ? a->fileName : std::string();
}

std::string AliasName() {
    WorkArea* a = Current();
    return a ? a->alias : std::string();
}

void* AreaExtension() {
    WorkArea* a = Current();
    return a ? a->indexExt : nullptr;
}

bool HasProductionIndex() {
    WorkArea* a = Current();
    if (!a || a->version == 2 || a->isVirtual) return false;
    return a->header[TzDbfLow::kHdrProdIndex] == 1;
}

void SetProductionIndex(bool on) {
    WorkArea* a = Current();
    if (!a || a->version == 2 || a->isVirtual) return;
    a->header[TzDbfLow::kHdrProdIndex] = on ? 1 : 0;
}

bool StoreProductionIndex(bool on) {
    WorkArea* a = Current();
    if (!a || a->version == 2 || a->isVirtual) return false;
    const uint8_t flag = on ? 1 : 0;
    a->header[TzDbfLow::kHdrProdIndex] = flag;
    if (a->readOnly) return false;
    // One byte: the rest of the header may be another station's to write meanwhile.
    uint8_t stored = 0;
    size_t got = 0;
    if (a->file.ReadAt(TzDbfLow::kHdrProdIndex, &stored, 1, &got) == 0 && got == 1 &&
        stored == flag)
        return true;
    return a->file.WriteAt(TzDbfLow::kHdrProdIndex, &flag, 1) == 0;
}

}  // namespace Dbf4
