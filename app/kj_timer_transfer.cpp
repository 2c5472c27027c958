// The time sheet's transfer into the postings table (see kj_timer_transfer.h).
#include "app/kj_timer_transfer.h"

#include <QThread>
#include <cstring>
#include <random>
#include <stdexcept>

#include "app/kj_record_copy.h"
#include "app/kj_util.h"
#include "data/tz_dbf.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/engine_callbacks.h"

namespace kj {

namespace {

constexpr char kLanding = '@';
constexpr size_t kMarkWidth = 17;
constexpr unsigned long kLockPauseMs = 2;  // between two refused attempts; keeps a core free

TransferHooks g_hooks;

// Releases a table's locks on every path.
struct Unlocker {
    TzDs::TTzDbf& table;
    ~Unlocker() {
        try {
            table.UnLock();
        } catch (...) {
        }
    }
};

void CheckEngine(const char* what) {
    if (TzCommon::ErrorWord() != 0) ThrowEngineFailure(what);
}

// A new landing mark: kLanding and 16 hexadecimal digits drawn at random, as wide as the
// scratch table's and the postings table's filler. Unique for every row ever carried.
std::string NewLandingMark() {
    std::random_device rd;
    const uint64_t v = (uint64_t(rd()) << 32) ^ uint64_t(rd());
    static const char kHex[] = "0123456789ABCDEF";
    std::string mark(1, kLanding);
    for (int shift = 60; shift >= 0; shift -= 4) mark += kHex[(v >> shift) & 0xF];
    return mark;
}

bool IsLandingMark(const std::string& filler) {
    return filler.size() == kMarkWidth && filler[0] == kLanding;
}

// True when a posting (live or marked deleted) carries `mark` in its filler. Searched from
// the end, where a posting landed by an interrupted run normally is.
bool AlreadyLanded(int postArea, int fillerNo, const std::string& mark) {
    Dbf4::Select(postArea);
    for (int32_t r = Dbf4::RecCount(); r >= 1; --r)
        if (TzUtils::TrimRight(Dbf4::Peek(r, fillerNo)) == mark) return true;
    return false;
}

// Carries the current scratch row (record-locked): marks it, appends its posting with the
// same mark, then marks the row deleted. A row that already has a mark was being carried
// by an interrupted run; its posting is appended only when no posting has that mark.
void CarryRow(const FieldMap& map, int fillerNo, int timerFiller, int& appended) {
    Dbf4::Select(map.source);
    std::string mark = NativeText(timerFiller);
    if (!IsLandingMark(mark) || !AlreadyLanded(map.target, fillerNo, mark)) {
        if (!IsLandingMark(mark)) {
            mark = NewLandingMark();
            Dbf4::Select(map.source);
            PutNativeText(timerFiller, mark);
            Dbf4::Replace();
            CheckEngine("Timer.dbf");
        }
        FillFromSource(map);
        if (!AppendFilled(map)) CheckEngine("Poster.dbf");
        ++appended;
        tz::StopPoint("timesheet-landed");
        if (g_hooks.landed) g_hooks.landed(appended);
    }
    Dbf4::Select(map.source);
    Dbf4::DeleteRec();
    CheckEngine("Timer.dbf");
}

}  // namespace

TransferHooks& TransferHooksState() {
    return g_hooks;
}

int SweepTimeSheet(TzDs::TTzDbf& timer) {
    timer.CheckBrowseMode();
    Dbf4::Select(timer.WorkAreaNo());
    const int ans = Dbf4::FieldNo("POST_ANS"), sag = Dbf4::FieldNo("POST_SAG"),
              tmu = Dbf4::FieldNo("POST_TMU");
    int dropped = 0;
    const int32_t count = Dbf4::RecCount();
    for (int32_t r = 1; r <= count; ++r) {
        Dbf4::Select(timer.WorkAreaNo());
        Dbf4::Go(r);
        if (Dbf4::Deleted()) continue;
        if (!NativeText(ans).empty() && !NativeText(sag).empty() && !NativeText(tmu).empty())
            continue;
        if (Dbf4::RLock()) {
            Dbf4::DeleteRec();
            ++dropped;
        }
        Dbf4::UnlockRec(r);
    }
    timer.ResyncFromArea();
    return dropped;
}

int PendingTimeSheetRows(TzDs::TTzDbf& timer) {
    Dbf4::Select(timer.WorkAreaNo());
    int pending = 0;
    const int32_t count = Dbf4::RecCount();
    for (int32_t r = 1; r <= count; ++r) {
        Dbf4::Go(r);
        if (!Dbf4::Deleted()) ++pending;
    }
    return pending;
}

void FLockWaiting(TzDs::TTzDbf& table, const std::function<void(const std::string&)>& status,
                  const std::string& waiting) {
    bool told = false;
    while (!table.FLock()) {
        if (!told && status) status(waiting);
        told = true;
        if (g_hooks.lockRefused) g_hooks.lockRefused();
        kjqt::LetMessagesThrough();
        QThread::msleep(kLockPauseMs);
    }
}

int CarryTimeSheet(TzDs::TTzDbf& timer, TzDs::TTzDbf& post,
                   const std::function<void(const std::string&)>& status) {
    timer.CheckBrowseMode();
    post.CheckBrowseMode();
    FLockWaiting(post, status, "Venter på adgang til posteringerne, vent venligst");
    Unlocker unlock{post};
    const FieldMap map = MapFieldsByName(post.WorkAreaNo(), timer.WorkAreaNo());
    Dbf4::Select(post.WorkAreaNo());
    const int fillerNo = Dbf4::FieldNo("FILLER");
    Dbf4::Select(timer.WorkAreaNo());
    const int timerFiller = Dbf4::FieldNo("FILLER");
    int appended = 0, done = 0;
    const int32_t count = Dbf4::RecCount();
    for (int32_t r = 1; r <= count; ++r) {
        Dbf4::Select(timer.WorkAreaNo());
        Dbf4::Go(r);
        if (Dbf4::Deleted() || !Dbf4::RLock()) continue;  // a refused row waits for a run
        CarryRow(map, fillerNo, timerFiller, appended);
        Dbf4::Select(timer.WorkAreaNo());
        Dbf4::UnlockRec(r);
        ++done;
        if (g_hooks.done) g_hooks.done(done);
    }
    timer.ResyncFromArea();
    post.ResyncFromArea();
    return appended;
}

}  // namespace kj
