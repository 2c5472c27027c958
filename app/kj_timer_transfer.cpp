// The time sheet's transfer into the postings table (see kj_timer_transfer.h).
#include "app/kj_timer_transfer.h"

#include <QThread>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include "app/kj_record_copy.h"
#include "data/tz_dbf.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "ui/engine_callbacks.h"

namespace kj {

namespace {

constexpr char kInFlight = '@';
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

void PutNativeText(int field, const std::string& text) {
    uint8_t* p = Dbf4::AssignField(field);
    const int width = Dbf4::FieldLen(field);
    const int n = std::min<int>(width, int(text.size()));
    p[0] = uint8_t(n);
    std::memcpy(p + 1, text.data(), size_t(n));
    std::memset(p + 1 + n, ' ', size_t(width - n));
}

void CheckEngine(const char* what) {
    if (TzCommon::ErrorWord() != 0)
        throw std::runtime_error(std::string(what) + ": " + TzCommon::LastMessage());
}

// The postings count that an in-flight mark holds; -1 for a row without mark.
int32_t InFlightCount(const std::string& filler) {
    if (filler.size() < 2 || filler[0] != kInFlight) return -1;
    int32_t n = -1;
    std::from_chars(filler.data() + 1, filler.data() + filler.size(), n);
    return n;
}

// True when a live posting after `after` equals the scratch row in every mapped field but
// the filler.
bool AlreadyLanded(const FieldMap& map, int32_t after, int fillerNo) {
    const std::vector<std::string> row = ReadNativeFields(map.source);
    Dbf4::Select(map.target);
    const int32_t count = Dbf4::RecCount();
    for (int32_t r = after + 1; r <= count; ++r) {
        Dbf4::Select(map.target);
        Dbf4::Go(r);
        if (Dbf4::Deleted()) continue;
        const std::vector<std::string> post = ReadNativeFields(map.target);
        bool same = true;
        for (size_t i = 0; i < map.from.size() && same; ++i)
            if (map.from[i] != 0 && int(i + 1) != fillerNo)
                same = post[i] == row[size_t(map.from[i] - 1)];
        if (same) return true;
    }
    return false;
}

// Carries scratch row r (current, record-locked); true when it is done.
bool CarryRow(const FieldMap& map, int fillerNo, int timerFiller, int& appended) {
    Dbf4::Select(map.source);
    const int32_t mark = InFlightCount(NativeText(timerFiller));
    if (mark < 0 || !AlreadyLanded(map, mark, fillerNo)) {
        Dbf4::Select(map.target);
        const int32_t before = Dbf4::RecCount();
        Dbf4::Select(map.source);
        PutNativeText(timerFiller, std::string(1, kInFlight) + std::to_string(before));
        Dbf4::Replace();
        CheckEngine("Timer.dbf");
        FillFromSource(map, {"FILLER"});
        if (!AppendFilled(map)) CheckEngine("Poster.dbf");
        ++appended;
        if (g_hooks.landed) g_hooks.landed(appended);
    }
    Dbf4::Select(map.source);
    Dbf4::DeleteRec();
    CheckEngine("Timer.dbf");
    return true;
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
