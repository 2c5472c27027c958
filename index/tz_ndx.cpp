// Index engine: opening and closing index files, orders, search, ordered navigation, the
// semaphore hooks and the hook table of the table engine.
#include "index/tz_ndx.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "expr/key_encoding.h"
#include "index/mdx_semaphore.h"
#include "index/tz_ndx_build.h"
#include "index/tz_ndx_internal.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/scope_exit.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzNdx {

using namespace internal;
using Dbf4::WorkArea;

namespace {

// The index engine's process-wide state.
struct NdxState {
    bool found = false;  // the last search found its key
    bool exact = false;  // searches need the whole key
    // Set while the reindex hook runs for a table that pack or zap reopened exclusively for
    // the moment: the index is opened as for the shared table the area goes back to.
    bool openShared = false;
};
NdxState g_ndx;

// Holds the engine's read lock on an area's index for a scope.
class ReadGuard {
  public:
    explicit ReadGuard(bool on) : on_(on) {
        if (on_) SetReadSemaphoreProc(1);
    }
    ~ReadGuard() {
        if (on_) SetReadSemaphoreProc(0);
    }
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;

  private:
    bool on_;
};

std::string FolderOf(const std::string& path) {
    return TzCommon::FSplit(path).dir;
}

}  // namespace

uint16_t Error(uint16_t code, const std::string& message) {
    return Mdx::ReportError(code, message);
}

namespace internal {

TagInfo::~TagInfo() {
    if (key) TzParser::FreeExpr(key);
    if (forCond) TzParser::FreeExpr(forCond);
}

AreaIndex* IndexOf(WorkArea* a) {
    return a ? static_cast<AreaIndex*>(a->indexExt) : nullptr;
}

WorkArea* AreaFor(const char* routine) {
    WorkArea* a = Dbf4::Current();
    if (!a) Dbf4::CheckInUse(routine);  // 215 "No database in use [routine]  WorkArea = n"
    return a;
}

AreaIndex* RequireIndex(const char* routine) {
    WorkArea* a = AreaFor(routine);
    if (!a) return nullptr;
    AreaIndex* x = IndexOf(a);
    if (!x) {
        Error(TzErr::IndexNotOpen, "Index not open. (DBF=" + a->fileName + ") [" + routine + "]");
        return nullptr;
    }
    return x;
}

TagInfo* Controlling(AreaIndex& x) {
    if (x.order < 1 || x.order > int(x.tags.size())) return nullptr;
    return x.tags[size_t(x.order - 1)].get();
}

namespace {
int CompareBcdKeys(const uint8_t* a, const uint8_t* b, size_t) {
    return TzKey::CompareBcd(a, b);
}
}  // namespace

Mdx::KeyCompare CompareFor(char type) {
    switch (type) {
        case 'C':
            return &Mdx::CompareCharKeys;
        case 'D':
            return &Mdx::CompareDateKeys;
        default:
            return &CompareBcdKeys;
    }
}

std::string NormaliseExpr(const std::string& text) {
    std::string out;
    char quote = 0;
    for (char c : text) {
        if (quote) {
            if (c == quote) {
                out += '"';
                quote = 0;
            } else {
                out += c;
            }
        } else if (c == '"' || c == '\'') {
            quote = c;
            out += '"';
        } else if (c != ' ' && c != '\t') {
            out += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
        }
    }
    return out;
}

TzParser::ExprBlock* AssignTagExpr(const std::string& text) {
    if (TzParser::ExprBlock* b = TzParser::TryAssignExpr(NormaliseExpr(text))) return b;
    return TzParser::AssignExpr(text);
}

void FreeAreaIndex(void* p) {
    delete static_cast<AreaIndex*>(p);
}

namespace {

// True when the file's tag table still begins with the tags this area has loaded.
bool TagsKept(const AreaIndex& x) {
    if (x.file.TagsInUse() < int(x.tags.size())) return false;
    for (size_t i = 0; i < x.tags.size(); ++i) {
        if (x.file.TagName(int(i + 1)) != x.tags[i]->name) return false;
    }
    return true;
}

// Takes in the tags another station added (appended to the tag table) or, when it replaced
// or removed some, loads them all again and keeps the controlling tag by name.
void TakeInNewTags(AreaIndex& x) {
    const int count = std::min(x.file.TagsInUse(), Mdx::MaxTags);
    if (!TagsKept(x)) {
        const std::string order = Controlling(x) ? Controlling(x)->name : std::string();
        x.tags.clear();
        x.order = 0;
        for (int n = 1; n <= count; ++n) {
            if (LoadTag(x, n) != 0) break;
            if (!order.empty() && x.tags.back()->name == order) x.order = n;
        }
        return;
    }
    for (int n = int(x.tags.size()) + 1; n <= count; ++n) {
        if (LoadTag(x, n) != 0) return;
    }
}

}  // namespace

void NoteFailCode(AreaIndex& x, uint16_t code) {
    x.failCode = code;
    x.failNoRoom = code != 0 && tz::NoRoom(code);
}

bool KeysLagBehind(const AreaIndex& x) {
    return x.failed && x.failNoRoom;
}

void NoteRoomAtFailure(AreaIndex& x) {
    if (!x.failNoRoom) {
        x.freeKBAtRefusal = -1;  // not for lack of room: the repair need not wait for any
        return;
    }
    x.freeKBAtRefusal = std::max<int64_t>(DiskFree(FolderOf(x.file.Name())), 0);
    x.retryRepairAt = std::chrono::steady_clock::now() + std::chrono::seconds(2);
}

bool EntryInTable(WorkArea& a, AreaIndex& x, TagInfo& t) {
    const uint32_t r = t.tree.RecNo();
    if (r >= 1 && int64_t(r) <= a.recCount) return true;
    if (r >= 1) {
        Dbf4::Recount(a);
        if (int64_t(r) <= a.recCount) return true;
    }
    x.file.NoteDamaged();
    Error(TzErr::CorruptedIndex, "Corrupted index file: " + t.tree.TagText() + ": record " +
                                     std::to_string(r) + " is not in the table's " +
                                     std::to_string(a.recCount) + " records [GetNode]");
    return false;
}

void RefreshAfterChange(WorkArea& a, AreaIndex& x) {
    x.sem.AcknowledgeChange();
    x.file.InvalidateCache();
    if (x.file.ReloadHeader() != 0) return;
    x.markSeen = x.file.Header()[kMaintenanceMark] != 0;
    if (!x.markSeen && x.repairRefused) {
        // Another station built the tags that this one could not build.
        x.repairRefused = x.lockMissed = false;
        x.failed = x.file.Failed();
    }
    const bool kept = TagsKept(x);
    if (kept) {
        for (auto& t : x.tags) {
            if (t->tree.ReloadHeader() != 0) return;
        }
    }
    if (!kept || x.file.TagsInUse() != int(x.tags.size())) TakeInNewTags(x);
    Dbf4::Recount(a);
}

}  // namespace internal

// ---- Semaphore hooks ----------------------------------------------------------------------

namespace {

// Releases one read-lock call; the semaphore's read count goes at the outermost one. A
// release never raises: it runs while a failure may be unwinding.
void ReleaseRead(AreaIndex& x) {
    if (x.readNest == 0 || --x.readNest > 0 || !x.readHeld) return;
    x.readHeld = false;
    try {
        x.sem.SetReadSemaphoreProc(false);
    } catch (const TzCommon::ETzError&) {
    }
}

// The mark goes to the file before the table engine writes the record, so that a crash
// anywhere in between is found at the next open.
void WriteMark(AreaIndex& x) {
    if (x.markWritten || x.failed || x.file.Failed()) return;
    const uint8_t one = 1;
    if (x.file.Handle().WriteAt(kMaintenanceMark, &one, 1) == 0) {
        x.markWritten = true;
    } else {
        x.failed = true;  // reported by the key maintenance that follows
    }
}

// The header goes out whole, the cleared mark with it: one write after every page of the
// change.
void ClearMark(AreaIndex& x) {
    if (x.failed || x.file.Failed()) return;
    try {
        if (x.file.HeaderChanged()) {
            x.file.PokeHeader(kMaintenanceMark, 0);
            if (x.file.FlushHeader() == 0) {
                x.markWritten = false;
            } else {
                x.failed = true;
            }
        } else if (x.markWritten) {
            const uint8_t zero = 0;
            if (x.file.Handle().WriteAt(kMaintenanceMark, &zero, 1) == 0) {
                x.file.PokeHeader(kMaintenanceMark, 0);  // the header held here says so too
                x.markWritten = false;
            } else {
                x.failed = true;
            }
        }
    } catch (const TzCommon::ETzError&) {
        x.failed = true;
    }
}

// A key change failed after its record was written: while this station is still the
// writer, the tags are built again from the table, the new record included. When that
// fails too the mark stays, and the next update lock (here or at another station) tries
// again.
void RepairFailedChange(AreaIndex& x) {
    x.changeFailed = false;
    WorkArea* a = Dbf4::Current();
    if (IndexOf(a) != &x || x.file.Failed()) {
        NoteRoomAtFailure(x);
        return;
    }
    if (RebuildInPlace(*a, x) == 0) {
        x.failed = false;
        NoteFailCode(x, 0);
        return;
    }
    NoteRoomAtFailure(x);
}

// Releases one update-lock call; at the outermost one the change is finished and the
// semaphore's writer lock goes.
void ReleaseUpdate(AreaIndex& x) {
    if (x.lockNest == 0) return;
    if (x.lockNest == 1 && x.lockHeld) {
        if (x.changeFailed) RepairFailedChange(x);
        tz::StopPoint("ndx-change-unmarking");  // kill tests: every page written, still marked
        ClearMark(x);
        // The writer lock built the tags again when another station's mark was found.
        if (!x.failed) x.markSeen = x.repairRefused = x.lockMissed = false;
    }
    if (--x.lockNest > 0 || !x.lockHeld) return;
    x.lockHeld = false;
    try {
        x.sem.SetLockSemaphoreProc(false);
    } catch (const TzCommon::ETzError&) {
    }
}

}  // namespace

namespace {

std::string InterruptedText(const AreaIndex& x, const char* routine) {
    return "Index file must be rebuilt (changes were interrupted): " + x.file.Name() + " [" +
           routine + "]";
}

// Counted in as a reader, this station found the maintenance mark in the header it read
// again: no living station is making that change, since a writer holds the semaphore's
// record lock, which the count was taken under, from its mark to its end. The writer died
// or failed part-way, and pages read before may be stale or the tags may disagree with
// the table. The read count goes back and the writer lock is taken, which builds every
// tag again from the table while the mark is still there (or reports 223); then the count
// is taken again and the controlling tag put back on the area's record. When the build
// fails, reads are refused until another station has built the tags.
void RepairBeforeReading(WorkArea& a, AreaIndex& x) {
    x.markSeen = false;
    x.readHeld = false;
    if (x.sem.SetReadSemaphoreProc(false) != 0) return;
    bool refused = true;  // also when the writer lock raises its failure
    {
        // A repair that other stations' read counts kept out before waits no more: one
        // look, until they have gone.
        x.sem.SetWaitForReaders(!x.lockMissed);
        tz::ScopeExit note([&x, &refused] {
            x.sem.SetWaitForReaders(true);
            x.repairRefused = refused;
            x.lockMissed = refused && x.sem.ReadersKeptOut();
        });
        SetLockSemaphoreProc(1);
        refused = x.failed || !x.lockHeld;
        SetLockSemaphoreProc(0);
    }
    x.readHeld = x.sem.SetReadSemaphoreProc(true) == 0;
    if (x.readHeld && x.sem.IndexChanged()) RefreshAfterChange(a, x);
    if (TagInfo* t = Controlling(x)) SyncTag(a, x, *t, SyncReport::kQuiet);
}

// Whether the room a rebuild of the whole file needs can be taken past its end now, on a
// disk that showed freeKB free when the repair had to wait: when that would not have held
// the rebuild, the disk's growth alone tells. The room taken stays with the file, for the
// rebuild that follows.
bool RepairRoomReserved(AreaIndex& x, int64_t freeKB) {
    uint64_t size = 0;
    if (x.file.Handle().Size(&size) != 0) return false;
    const uint64_t need = std::max<uint64_t>(size, Mdx::PageSize);
    return uint64_t(freeKB) * 1024 >= need && x.file.Handle().Reserve(size, need) == 0;
}

// Whether the disk may hold a repair now: it has more free room than when reads were last
// refused for the lack of it (the user freed some). Where the free room the disk showed
// then would already have held the repair (a quota used up, a failure that has passed), its
// growth tells nothing: the repair's room is asked for instead. Asked only while a repair
// waits, not on every read; a repair that fails again notes the room it failed in.
// Where the disk cannot tell its free room (a network share), the repair is tried again
// every few seconds instead.
bool RoomForRepair(AreaIndex& x) {
    if (x.freeKBAtRefusal < 0 || !x.failNoRoom) return true;
    const int64_t freeKB = DiskFree(FolderOf(x.file.Name()));
    if (freeKB < 0) return std::chrono::steady_clock::now() >= x.retryRepairAt;
    return freeKB > x.freeKBAtRefusal || RepairRoomReserved(x, x.freeKBAtRefusal);
}

// Reads refused while the tags wait for a repair: a full disk is named as such (the user
// is to free room, and the next read then repairs), anything else asks for a rebuild.
void RefuseReads(AreaIndex& x) {
    if (x.failNoRoom) {
        NoteRoomAtFailure(x);
        // What the user is to do, in the user's words (the program shows it as it stands).
        Error(x.failCode, "Disken er fuld: " + FolderOf(x.file.Name()) + "\r\nIndeksfilen " +
                              x.file.Name() +
                              " skal bygges op igen, men der er ikke plads p\xE5 disken. Intet "
                              "er g\xE5"
                              "et tabt.\r\nFrig\xF8r plads p\xE5 disken; indeksfilen bygges "
                              "s\xE5 op igen, og arbejdet kan forts\xE6tte. "
                              "[SetReadSemaphoreProc]");
        return;
    }
    Error(TzErr::IndexVersionMismatch, InterruptedText(x, "SetReadSemaphoreProc"));
}

// The repair before a read; one refused for lack of room is left to RefuseReads, which
// names the full disk in the user's words; any other failure is reported as it came.
void RepairQuietly(WorkArea& a, AreaIndex& x) {
    uint16_t code = 0;
    std::string text;
    {
        TzCommon::ErrorCheckingOff quiet;
        try {
            RepairBeforeReading(a, x);
        } catch (const TzCommon::ETzError&) {
            code = TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::IndexVersionMismatch;
            text = TzCommon::LastMessage();
        }
    }
    if (code == 0) return;
    TzCommon::ClearErrorWord();
    if (!tz::NoRoom(code)) Error(code, text);
}

// A read found the index damaged (222, reported then): the mark goes to the file, so that
// every station's next change builds the tags again, and this station builds them now,
// as after a writer that ended part-way.
void MarkDamaged(AreaIndex& x) {
    const uint8_t one = 1;
    if (x.file.Failed() || x.file.Handle().WriteAt(kMaintenanceMark, &one, 1) != 0) return;
    x.file.PokeHeader(kMaintenanceMark, 1);
    x.markSeen = true;
    x.repairRefused = false;
}

}  // namespace

// A failure the semaphore raises leaves no count behind (the caller then releases
// nothing); a failure it only reports still counts the call, so that the caller's release
// balances it, but holds nothing.
void SetReadSemaphoreProc(int take) {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!x) return;
    if (!take) {
        ReleaseRead(*x);
        return;
    }
    if (x->readNest == 0) x->readHeld = x->sem.SetReadSemaphoreProc(true) == 0;
    ++x->readNest;
    tz::ScopeExit undo([x] { ReleaseRead(*x); });
    if (x->readNest == 1 && x->readHeld && x->lockNest == 0) {
        if (x->sem.IndexChanged()) RefreshAfterChange(*a, *x);
        if (x->file.TakeDamaged()) MarkDamaged(*x);
        // A repair refused (another station's change, or this station's own) is taken up
        // again here, as after a dead writer: after a full disk once the disk has room,
        // after another write error at once.
        if ((x->repairRefused || (x->failed && x->failCode != 0)) && RoomForRepair(*x)) {
            x->repairRefused = false;
            x->markSeen = true;
        }
        if (x->markSeen && !x->repairRefused) RepairQuietly(*a, *x);
        // Raised with error checking off (the undo gives the count back); reported only,
        // the call stays counted for the caller's release. (A station whose own change
        // failed reads on: only the rows whose keys are missing are refused, by SyncTag.)
        if (x->repairRefused) RefuseReads(*x);
    }
    undo.Dismiss();
}

bool IndexWritersWaiting() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    return x && x->sem.WritersWaiting();
}

namespace {

// The pause before the next try for the append lock: the first tries only give the
// processor away, later ones sleep a little longer each time, up to a fifth of a
// millisecond (the holder's write takes about a millisecond).
void AppendLockPause(int retry) {
    constexpr int kYields = 4;
    constexpr double kFirstUs = 20, kGrowth = 1.25, kLongestUs = 200;
    if (retry < kYields) {
        std::this_thread::yield();
        return;
    }
    double us = kFirstUs;
    for (int i = kYields; i < retry && us < kLongestUs; ++i) us *= kGrowth;
    std::this_thread::sleep_for(std::chrono::microseconds(int64_t(std::min(us, kLongestUs))));
}

}  // namespace

bool ALockInTurn(int waitMs) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kMessagesEvery = std::chrono::milliseconds(2);
    const int area = Dbf4::CurrentWorkArea();
    WorkArea* start = AreaFor("ALockInTurn");
    if (!start) return false;
    // A message handler that runs during the wait may close the area (and free it).
    const std::weak_ptr<const bool> life = start->life;
    const auto until = Clock::now() + std::chrono::milliseconds(waitMs);
    if (AreaIndex* x = IndexOf(Dbf4::Current())) x->sem.JoinWriters();
    bool refused = false;
    auto messagesAt = Clock::now();
    for (int retry = 0;; ++retry) {
        AreaIndex* x = IndexOf(Dbf4::Current());
        if (!x || x->sem.WritersAheadGone()) {
            if (Dbf4::ALock()) return true;
            refused = true;
            TzCommon::ClearErrorWord();
        }
        if (Clock::now() >= until) break;
        if (refused && Clock::now() >= messagesAt) {
            Dbf4::ProcessMessages();
            Dbf4::Select(area);
            if (life.expired()) {
                TzCommon::SetError(
                    TzErr::NoDatabaseInUse,
                    "No database in use [ALockInTurn]  WorkArea = " + std::to_string(area));
                return false;
            }
            messagesAt = Clock::now() + kMessagesEvery;
        }
        AppendLockPause(retry);
    }
    LeaveWriteQueue();
    return false;
}

void LeaveWriteQueue() {
    if (AreaIndex* x = IndexOf(Dbf4::Current())) x->sem.LeaveWriters();
}

uint16_t UnfinishedChange() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    return x && x->failed ? (x->failCode ? x->failCode : TzErr::IndexVersionMismatch) : 0;
}

bool ReadCounted() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    return !x || x->readNest == 0 || x->readHeld;
}

namespace {

// Under the writer lock: true when the file carries the maintenance mark of a change that
// is not this station's own, or this station's last change failed. A living writer clears
// the mark before it lets the lock go, so the mark found here belongs to a writer that
// ended part-way (killed) or failed: the tags may disagree with the table.
bool Interrupted(AreaIndex& x) {
    if (x.failed || x.rebuildDue || x.file.TakeDamaged()) return true;
    if (x.markWritten) return false;
    uint8_t mark = 0;
    size_t got = 0;
    if (x.file.Handle().ReadAt(kMaintenanceMark, &mark, 1, &got) != 0 || got != 1) return false;
    x.file.PokeHeader(kMaintenanceMark, mark);
    return mark != 0;
}

// After a failed write the file refuses writes until it is opened again.
uint16_t ReopenIfFailed(AreaIndex& x) {
    if (!x.file.Failed()) return 0;
    TzCommon::ErrorCheckingOff quiet;
    try {
        const std::string name = x.file.Name();
        x.file.Close();
        return x.file.Open(name, tz::Access::ReadWrite,
                           x.shared ? tz::ShareMode::DenyNone : tz::ShareMode::Exclusive);
    } catch (const TzCommon::ETzError&) {
        return TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::CorruptedIndex;
    }
}

// The index was left part-way changed: before this station changes it, every tag is built
// again from the table (the mark stays until this change is complete). When that cannot
// be done the change is refused before its record is written, and the mark stays, so that
// no station trusts the index until it is rebuilt.
void RepairInterrupted(WorkArea& a, AreaIndex& x) {
    uint16_t rc = ReopenIfFailed(x);
    if (rc == 0) rc = RebuildInPlace(a, x);
    if (rc == 0) {
        x.failed = x.rebuildDue = false;
        NoteFailCode(x, 0);
        x.markWritten = true;
        return;
    }
    x.failed = true;
    NoteFailCode(x, rc);
    NoteRoomAtFailure(x);
    const std::string text =
        "Index file must be rebuilt (changes were interrupted): " + x.file.Name() +
        " [LockSemaphore]";
    // A full disk is named as such: the change waits for room, not for a repair.
    if (x.failNoRoom) {
        Error(rc,
              text + "\r\nNot enough room on the disk to rebuild it: " + TzCommon::LastMessage());
        return;
    }
    Error(TzErr::IndexVersionMismatch, text);
}

// Pages a change may add to each tag (a split at every level of a deep tree).
constexpr uint64_t kPagesPerTag = 8;

// Reservations at a time, in changes' worth of room (when the disk has that much).
constexpr uint64_t kChangesReserved = 8;

// Before the table engine writes the record, the room every tag may need for the change is
// taken at the end of the index file: a full disk then refuses the change before anything
// of it is written, instead of leaving a record whose keys could not follow. The room of
// several changes is taken at a time, so that the appends that follow, while the file's end
// stays a change's room short of the reservation's end, need neither a look at the length
// nor a reservation (the length known here is current: another station's change was taken
// in under the writer lock); on a disk that has less, the room of this change alone.
void ReserveRoom(AreaIndex& x) {
    const uint64_t need =
        uint64_t(std::max<size_t>(x.tags.size(), 1)) * kPagesPerTag * Mdx::PageSize;
    if (x.reservedEnd != 0 && x.file.KnownLength() + need <= x.reservedEnd) return;
    uint64_t size = 0;
    if (x.file.Handle().Size(&size) != 0) return;
    for (const uint64_t room : {kChangesReserved * need, need}) {
        if (x.file.Handle().Reserve(size, room) == 0) {
            x.reservedEnd = size + room;
            x.sem.HoldRoom(true);
            return;
        }
    }
    x.reservedEnd = 0;
    x.sem.HoldRoom(false);
    Error(TzErr::InsufficientDiskSpace,
          "Disk full: no room to change index file " + x.file.Name() + " [LockSemaphore]");
}

// The room reserved past the file's end goes back at close, unless another living station
// counts on it (it reserved room and has not closed: its next changes skip the reservation
// while the file's end stays short of the end it reserved). Another station may still
// have the file open and be about to add a page: only under the writer lock is the end the
// file shows its real end, and only what lies past it is given back. A close does not wait
// for that lock: while another station reads or writes, the room stays (the next station
// that reserves room reuses it).
void GiveBackRoom(AreaIndex& x) {
    if (x.reservedEnd == 0 || !x.file.IsOpen() || x.file.Failed()) return;
    x.reservedEnd = 0;
    x.sem.HoldRoom(false);
    if (!x.file.Handle().HoldsRoomPastEnd()) return;
    if (!x.sem.TryLockSemaphore()) return;
    if (!x.sem.OthersHoldRoom()) x.file.Handle().GiveBackRoomPastEnd();
    x.sem.UnlockSemaphore();
}

}  // namespace

void SetLockSemaphoreProc(int take) {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!x) return;
    if (!take) {
        ReleaseUpdate(*x);
        return;
    }
    if (x->lockNest == 0) x->lockHeld = x->sem.SetLockSemaphoreProc(true) == 0;
    ++x->lockNest;
    tz::ScopeExit undo([x] { ReleaseUpdate(*x); });
    if (x->lockNest == 1 && x->lockHeld) {
        if (x->sem.IndexChanged()) RefreshAfterChange(*a, *x);
        x->file.ForgetSize();
        if (Interrupted(*x)) {
            RepairInterrupted(*a, *x);
        } else {
            WriteMark(*x);
            // A mark that could not be written would leave a change no open notices.
            if (x->failed) RepairInterrupted(*a, *x);
        }
        tz::StopPoint("ndx-change-marked");  // kill tests: marked, the record not yet written
    }
    if (take == Dbf4::kTakeForAppend && x->lockHeld && !x->failed) ReserveRoom(*x);
    undo.Dismiss();
}

namespace internal {

uint16_t BeginChange(AreaIndex& x) {
    // Marked for rebuilding already (the refusal, if any, was reported at the lock).
    if (x.failed || x.file.Failed()) return TzErr::InternalError;
    if (x.markWritten) return 0;
    const uint8_t one = 1;
    uint16_t rc = x.file.Handle().WriteAt(kMaintenanceMark, &one, 1);
    if (rc != 0) {
        ChangeFailed(x);
        return rc;
    }
    x.markWritten = true;
    return 0;
}

void ChangeFailed(AreaIndex& x) {
    x.failed = true;
    x.changeFailed = true;
    NoteFailCode(x, TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::DiskWriteError);
    // The record is in the table: what failed is the index's part, mended at the release.
    TzCommon::ClearErrorWord();
}

}  // namespace internal

// ---- Opening and closing ------------------------------------------------------------------

void CloseIndex() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!x) return;
    // Closing never ends the program: its errors are recorded, raised and caught here.
    TzCommon::ErrorCheckingOff checkingOff;
    try {
        if (x->file.IsOpen() && x->file.HeaderChanged() && !x->failed && !x->file.Failed()) {
            SetLockSemaphoreProc(1);
            SetLockSemaphoreProc(0);
        }
    } catch (const TzCommon::ETzError&) {
    }
    if (x->failed && x->file.IsOpen()) {
        // Keys may disagree with the table: leave the mark for the next open (the failed
        // write may have been a passing one).
        const uint8_t one = 1;
        x->file.Handle().WriteAt(kMaintenanceMark, &one, 1);
    }
    try {
        GiveBackRoom(*x);
    } catch (const TzCommon::ETzError&) {
    }
    try {
        x->sem.Logout();
    } catch (const TzCommon::ETzError&) {
    }
    try {
        x->file.Close();
    } catch (const TzCommon::ETzError&) {
    }
    a->indexExt = nullptr;
    a->indexExtFree = nullptr;
    delete x;
}

namespace internal {

// Between read lock on and off, or under the writer lock.
namespace {

// Whether a tag is to hold keys now (asked when its root is found empty): one without a
// FOR condition holds a key for every record of the table, but the one whose key is going
// in; one with a FOR condition says so in its header's keys-present mark.
bool KeysExpected(const void* owner, bool inserting) {
    const TagInfo& t = *static_cast<const TagInfo*>(owner);
    if (t.forCond || t.tree.Header().HasFor()) return !inserting && t.tree.Header().KeysPresent();
    const WorkArea* a = Dbf4::AreaAt(t.owner->areaNo);
    return a && a->indexExt == t.owner && a->recCount > (inserting ? 1 : 0);
}

}  // namespace

uint16_t LoadTag(AreaIndex& x, int n) {
    const std::string& name = x.file.Name();
    const std::string bad = "Invalid dBASE key expression or corrupted index file " + name +
                            " [OpenIndex/Set_Index_To]";
    {
        auto t = std::make_unique<TagInfo>();
        char type = x.file.TagKeyType(n);
        uint16_t rc = t->tree.Open(&x.file, n, CompareFor(type));
        if (rc != 0) return rc;
        t->tree.SetArea(x.areaNo);
        const Mdx::TagHeader& h = t->tree.Header();
        t->type = h.KeyType();
        if (t->type != type) t->tree.Open(&x.file, n, CompareFor(t->type));
        t->owner = &x;
        t->tree.SetKeysExpected(&KeysExpected, t.get());
        t->keyLength = h.KeyLength();
        t->name = x.file.TagName(n);
        const std::string expr = h.Expression();
        t->key = AssignTagExpr(expr);
        if (!t->key) return Error(TzErr::CorruptedIndex, bad);
        char rt = t->key->type;
        bool fits = (t->type == 'C' && rt == 'C') || (t->type == 'D' && rt == 'D') ||
                    ((t->type == 'N' || t->type == 'F') && rt == 'N');
        if (!fits) return Error(TzErr::CorruptedIndex, bad);
        if (t->type == 'C' && (t->keyLength < 1 || t->keyLength > Mdx::MaxKeyLength)) {
            return Error(TzErr::InvalidSize, "Incorrect key length: Must be 1 to 100. " + name +
                                                 " [OpenIndex/Set_Index_To]");
        }
        const std::string cond = TzCommon::AllTrim(h.ForCondition());
        if (h.HasFor() && !cond.empty()) {
            t->forCond = AssignTagExpr(cond);
            if (!t->forCond || t->forCond->type != 'L') return Error(TzErr::CorruptedIndex, bad);
        }
        x.tags.push_back(std::move(t));
    }
    return 0;
}

}  // namespace internal

namespace {

// Loads the tags of the open file into x (between read lock on and off).
uint16_t LoadTags(AreaIndex& x) {
    x.tags.clear();
    const int count = std::min(x.file.TagsInUse(), Mdx::MaxTags);
    for (int n = 1; n <= count; ++n) {
        if (uint16_t rc = LoadTag(x, n); rc != 0) return rc;
    }
    return 0;
}

}  // namespace

namespace {

// A build killed before it put its file in place leaves "<index>.new" beside the index. The
// build holds that file alone while it runs, so the erase is refused while one does.
void RemoveLeftoverBuild(const std::string& index) {
    const std::string building = index + ".new";
    if (tz::Exists(building)) tz::EraseFile(building);
}

// The index opened while other stations have it open carries the maintenance mark: a change
// under way, or one a station did not finish. Taking the writer lock waits for a change
// under way and builds the tags again after an unfinished one (or refuses, when that cannot
// be done, and the index is closed again). False when the index was closed. `rebuild`: the
// table was found short at its open, and the tags are built again in any case.
bool CheckMarkOnOpen(bool rebuild) {
    if (AreaIndex* x = IndexOf(Dbf4::Current())) x->rebuildDue = rebuild;
    try {
        SetLockSemaphoreProc(1);
        SetLockSemaphoreProc(0);
    } catch (...) {
        CloseIndex();
        throw;
    }
    const uint16_t code = TzCommon::ErrorWord();
    if (code == 0) return true;
    CloseIndex();
    TzCommon::SetErrorWord(code);
    return false;
}

}  // namespace

void SetIndexTo(const std::string& fileName) {
    WorkArea* a = AreaFor("SetIndexTo");
    if (!a) return;
    TzCommon::ClearErrorWord();
    CloseIndex();
    std::string name = TzCommon::AllTrim(fileName);
    if (name.find_first_of("/\\:") == std::string::npos) name = FolderOf(a->fileName) + name;
    name = TzCommon::DefaultExtension(name, "MDX");

    const bool shared = Dbf4::settings().sharing && (!a->exclusive || g_ndx.openShared);
    // A table found short at its open: the tags hold keys of the records lost (and mark or
    // no mark, a station killed after the count was put right left them so).
    const bool cut = a->countCut;
    a->countCut = false;
    RemoveLeftoverBuild(name);
    auto* x = new AreaIndex;
    x->areaNo = Dbf4::CurrentWorkArea();
    x->shared = shared;
    x->sem.Configure(Mdx::SemaphoreFileName(a->fileName), &a->file, !shared,
                     Dbf4::settings().sharing);
    a->indexExt = x;
    a->indexExtFree = &FreeAreaIndex;
    bool ok = false;
    try {
        if (x->sem.Login() == 0 &&
            x->file.Open(name, tz::Access::ReadWrite,
                         shared ? tz::ShareMode::DenyNone : tz::ShareMode::Exclusive) == 0) {
            ReadGuard guard(true);
            x->sem.AcknowledgeChange();
            const bool alone = !shared || x->sem.Record()[Mdx::Sem::Stations] <= 1;
            if (alone && !cut && x->file.Header()[kMaintenanceMark] != 0) {
                Error(TzErr::IndexVersionMismatch,
                      "Index file must be rebuilt (changes were interrupted): " + name +
                          " [OpenIndex/Set_Index_To]");
            } else if (LoadTags(*x) == 0) {
                ok = true;
            }
        }
    } catch (...) {
        CloseIndex();
        throw;
    }
    if (!ok) {
        uint16_t code = TzCommon::ErrorWord();
        std::string msg = TzCommon::LastErrorMessage();
        CloseIndex();
        if (code != 0) TzCommon::SetErrorWord(code);
        (void)msg;
        return;
    }
    x->order = x->tags.empty() ? 0 : 1;
    if ((cut || (shared && x->file.Header()[kMaintenanceMark] != 0)) && !CheckMarkOnOpen(cut))
        return;
    if (a->recCount > 0) {
        Dbf4::GoTop();
    } else {
        x->atEnd = x->atBegin = true;
    }
}

void FlushFile() {
    AreaIndex* x = RequireIndex("FlushFile");
    if (!x) return;
    if (x->file.Handle().Sync() != 0)
        Error(TzErr::DiskWriteError, "Unable to flush file  [tzndx.FlushFile]");
}

// ---- Orders and look-ups ------------------------------------------------------------------

void Set_Order_To(int n) {
    WorkArea* a = AreaFor("Set_Order_To");
    if (!a) return;
    AreaIndex* x = RequireIndex("Set_Order_To");
    if (!x) return;
    if (n < 0 || n > int(x->tags.size())) {
        Error(TzErr::InvalidParameter,
              "Invalid Index Order Specified: SET_ORDER_TO. [Set_Order_To(" + std::to_string(n) +
                  ")] (DBF=" + a->fileName + ")");
        return;
    }
    if (n == x->order) return;
    x->order = n;
    if (n == 0) return;
    const bool found = g_ndx.found;
    ReadGuard guard(true);
    TagInfo* t = Controlling(*x);
    if (a->recCount == 0 || a->eof || a->recNo < 1 || a->recNo > a->recCount) {
        x->atEnd = true;
        x->atBegin = a->recCount == 0;
    } else {
        x->atEnd = x->atBegin = false;
        SyncTag(*a, *x, *t, SyncReport::kQuiet);
    }
    g_ndx.found = found;
}

bool SetOrderToTag(const std::string& name) {
    WorkArea* a = AreaFor("SetOrderToTag");
    if (!a) return false;
    std::string n = name.substr(0, 10);
    n = TzCommon::AllTrim(n);
    if (n.empty()) {
        if (IndexOf(a)) Set_Order_To(0);
        return true;
    }
    AreaIndex* x = RequireIndex("SetOrderToTag");
    if (!x) return false;
    std::string up = TzUtils::AnsiUpper(n);
    for (size_t i = 0; i < x->tags.size(); ++i) {
        if (x->tags[i]->name.compare(0, up.size(), up) == 0) {
            Set_Order_To(int(i + 1));
            return true;
        }
    }
    Error(TzErr::InvalidParameter,
          "Invalid Index Order Specified: SET_ORDER_TO. [SetOrderToTag(" + name + ")]");
    return false;
}

int CurrentOrder() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    return x ? x->order : 0;
}

std::string CurrentTagName() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    TagInfo* t = x ? Controlling(*x) : nullptr;
    return t ? t->name : std::string();
}

std::string Mdx() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    return x ? x->file.Name() : std::string();
}

int TagCount() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    return x ? int(x->tags.size()) : 0;
}

namespace {
TagInfo* TagAt(int n) {
    AreaIndex* x = IndexOf(Dbf4::Current());
    if (!x || n < 1 || n > int(x->tags.size())) return nullptr;
    return x->tags[size_t(n - 1)].get();
}
}  // namespace

std::string TagName(int n) {
    TagInfo* t = TagAt(n);
    return t ? t->name : std::string();
}
std::string TagExpression(int n) {
    TagInfo* t = TagAt(n);
    return t ? t->tree.Header().Expression() : std::string();
}
std::string TagForCondition(int n) {
    TagInfo* t = TagAt(n);
    return t ? t->tree.Header().ForCondition() : std::string();
}
bool TagDescending(int n) {
    TagInfo* t = TagAt(n);
    return t && t->tree.Header().Descending();
}
bool TagUnique(int n) {
    TagInfo* t = TagAt(n);
    return t && t->tree.Header().Unique();
}
std::string TagText(int n) {
    TagInfo* t = TagAt(n);
    return t ? t->tree.TagText() : std::string();
}

// ---- Search -------------------------------------------------------------------------------

bool Found() {
    return g_ndx.found;
}

bool SetExact(bool on) {
    bool old = g_ndx.exact;
    g_ndx.exact = on;
    return old;
}

namespace {

// The search key for the controlling tag; *len is the number of bytes that count.
void SearchKey(WorkArea& a, TagInfo& t, const std::string& text, bool exact, uint8_t* key,
               size_t* len) {
    std::memset(key, 0, Mdx::MaxKeyLength);
    switch (t.type) {
        case 'C': {
            size_t n = std::min(text.size(), size_t(t.keyLength));
            if (exact) {
                CharKeyBytes(a, text.data(), n, t.keyLength, key);
                *len = size_t(t.keyLength);
            } else {
                CharKeyBytes(a, text.data(), n, int(n), key);
                *len = n;
            }
            break;
        }
        case 'D': {
            std::string s = TzCommon::AllTrim(text);
            double d;
            bool digits = s.size() == 8 && s.find_first_not_of("0123456789") == std::string::npos;
            d = digits ? TzKey::DateFieldToDayNumber(s.c_str()) : TzKey::CtodToDayNumber(s);
            std::memcpy(key, &d, 8);
            *len = 8;
            break;
        }
        default: {
            TzKey::TextToBcd(key, text.c_str(), text.size(), t.key ? t.key->decimals : 0);
            *len = TzKey::kBcdSize;
            break;
        }
    }
}

void GoEnd(WorkArea& a, AreaIndex& x) {
    Dbf4::Dbf4RawGo(a.recCount + 1);
    a.eof = true;
    x.atEnd = true;
}

// Under the read lock: the first visible record whose key in the controlling tag t is not
// less than text; true when its key matches. Not found (and not near), the area goes to the
// end.
bool SeekVisible(WorkArea& a, AreaIndex& x, TagInfo& t, const std::string& text, bool near) {
    uint8_t key[Mdx::MaxKeyLength];
    size_t len = 0;
    SearchKey(a, t, text.substr(0, 100), g_ndx.exact, key, &len);
    if (t.tree.Seek(key, len) != 0) return false;
    x.atEnd = x.atBegin = false;
    while (t.tree.OnEntry()) {
        const uint32_t r = t.tree.RecNo();
        if (!EntryInTable(a, x, t)) break;
        x.placing = true;
        Dbf4::Go(int32_t(r));
        x.placing = false;
        if (TzCommon::ErrorWord() != 0) break;
        if (Dbf4::RecordVisible()) break;
        if (t.tree.Next() != 0) break;
    }
    const bool found = t.tree.OnEntry() && t.tree.Compare(t.tree.Key(), key, len) == 0;
    if (!found && (!near || !t.tree.OnEntry())) GoEnd(a, x);
    return found;
}

bool FindImpl(const std::string& text, bool near) {
    g_ndx.found = false;
    WorkArea* a = AreaFor("Find");
    if (!a) return false;
    AreaIndex* x = RequireIndex("Find");
    if (!x) return false;
    if (!Controlling(*x)) {
        Error(TzErr::InternalError, "Cannot use Find() with index order 0 (natural order) [Find]");
        return false;
    }
    const bool exact = g_ndx.exact;
    Dbf4::RelationProc relation = a->relation;
    if (near) {
        g_ndx.exact = false;
        a->relation = nullptr;
    }
    bool found = false;
    try {
        ReadGuard guard(true);
        // Taken under the read lock: reading the index again after another station's
        // change (or building its tags again) may have loaded the tags anew.
        if (TagInfo* t = Controlling(*x)) found = SeekVisible(*a, *x, *t, text, near);
    } catch (...) {
        x->placing = false;
        g_ndx.exact = exact;
        a->relation = relation;
        throw;
    }
    g_ndx.exact = exact;
    a->relation = relation;
    if (near && relation && !a->eof) Dbf4::GoAndRelate(a->recNo);
    g_ndx.found = found;
    return found;
}

}  // namespace

bool Find(const std::string& key) {
    return FindImpl(key, false);
}
bool FindNear(const std::string& key) {
    return FindImpl(key, true);
}

// ---- Ordered navigation hooks -------------------------------------------------------------

namespace {

bool HookActive() {
    return IndexOf(Dbf4::Current()) != nullptr;
}

int32_t EndNumber(const WorkArea& a) {
    return a.recCount + 1;
}

int32_t AnswerEntry(WorkArea& a, AreaIndex& x, TagInfo& t, bool forward) {
    if (t.tree.OnEntry() && EntryInTable(a, x, t)) return int32_t(t.tree.RecNo());
    if (forward) {
        x.atEnd = true;
        return EndNumber(a);
    }
    x.atBegin = true;
    return 0;
}

int32_t HookFirst() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    TagInfo* t = x ? Controlling(*x) : nullptr;
    if (!t) return a && a->recCount > 0 ? 1 : (a ? a->recCount + 1 : 0);
    x->atEnd = x->atBegin = false;
    if (t->tree.First() != 0) return EndNumber(*a);
    if (!t->tree.OnEntry() || !EntryInTable(*a, *x, *t)) {
        x->atEnd = x->atBegin = true;
        return EndNumber(*a);
    }
    return int32_t(t->tree.RecNo());
}

int32_t HookLast() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    TagInfo* t = x ? Controlling(*x) : nullptr;
    if (!t) return a ? a->recCount : 0;
    x->atEnd = x->atBegin = false;
    if (t->tree.Last() != 0) return EndNumber(*a);
    if (!t->tree.OnEntry() || !EntryInTable(*a, *x, *t)) {
        x->atEnd = x->atBegin = true;
        return EndNumber(*a);
    }
    return int32_t(t->tree.RecNo());
}

int32_t HookNext() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    TagInfo* t = x ? Controlling(*x) : nullptr;
    if (!t) return a ? a->recNo + 1 : 0;
    tz::StopPoint("ndx-next-key");  // kill tests: a station stopped while it reads a tag
    x->atBegin = false;
    if (x->atEnd) return EndNumber(*a);
    if (t->tree.Next() != 0) return EndNumber(*a);
    return AnswerEntry(*a, *x, *t, true);
}

int32_t HookPrior() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    TagInfo* t = x ? Controlling(*x) : nullptr;
    if (!t) return a ? a->recNo - 1 : 0;
    uint16_t rc;
    if (x->atEnd) {
        x->atEnd = false;
        rc = t->tree.Last();
    } else {
        rc = t->tree.Prior();
    }
    if (rc != 0) return 0;
    return AnswerEntry(*a, *x, *t, false);
}

bool HookAtEnd() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!a) return true;
    if (!x || x->order == 0) return a->eof;
    return x->atEnd || a->eof;
}

bool HookAtBeginning() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!a) return true;
    if (!x || x->order == 0) return a->bof;
    return x->atBegin || a->bof;
}

void HookMarkEnd() {
    if (AreaIndex* x = IndexOf(Dbf4::Current())) x->atEnd = true;
}

void HookMarkBeginning() {
    if (AreaIndex* x = IndexOf(Dbf4::Current())) x->atBegin = true;
}

void HookStoreKey() {}

bool HookFound() {
    return g_ndx.found;
}

void HookReindex() {
    g_ndx.openShared = Dbf4::LastReopened();
    try {
        Reindex();
    } catch (...) {
        g_ndx.openShared = false;
        throw;
    }
    g_ndx.openShared = false;
}

void HookClose() {
    CloseIndex();
}

// Pack and zap rewrite the table whole: the mark goes to the file (and to disk) first and
// stays until the rebuild replaces the file, whatever ends the process in between.
void HookMarkRebuild() {
    AreaIndex* x = IndexOf(Dbf4::Current());
    if (!x || !x->file.IsOpen()) return;
    x->failed = true;  // nothing more is written to this file
    x->file.PokeHeader(kMaintenanceMark, 1);
    const uint8_t one = 1;
    if (x->file.Handle().WriteAt(kMaintenanceMark, &one, 1) == 0) x->file.Handle().Sync();
    x->markWritten = true;
}

// The table was found short at its open, before its index is opened: the mark goes to the
// table's own index file (and to disk) before the table's count is put right, so that the
// keys of the lost records are not trusted whatever ends the process next.
bool HookMarkCut(WorkArea& a) {
    const std::string name = TzCommon::ForceExtension(a.fileName, "MDX");
    if (!tz::Exists(name)) return true;
    tz::File f;
    if (f.Open(name, tz::Access::ReadWrite, tz::ShareMode::DenyNone) != 0) return false;
    const uint8_t one = 1;
    const bool ok = f.WriteAt(kMaintenanceMark, &one, 1) == 0 && f.Sync() == 0;
    f.Close();
    return ok;
}

uint8_t HookCurrentOrder() {
    return uint8_t(CurrentOrder());
}

void HookSetCurrentOrder(uint8_t n) {
    AreaIndex* x = IndexOf(Dbf4::Current());
    if (x && int(n) != x->order && int(n) <= int(x->tags.size())) Set_Order_To(n);
}

}  // namespace

void ResetState() {
    g_ndx = NdxState();
    ResetBuildState();
    Mdx::SetDefaultReadTimeoutTicks(Mdx::kDefaultReadTimeoutTicks);
}

void Install() {
    TzParser::Install();
    Dbf4::IndexHooks& h = Dbf4::indexHooks;
    h.active = &HookActive;
    h.synchronize = &SyncIndex;
    h.storeKey = &HookStoreKey;
    h.firstKey = &HookFirst;
    h.lastKey = &HookLast;
    h.nextKey = &HookNext;
    h.priorKey = &HookPrior;
    h.atEnd = &HookAtEnd;
    h.atBeginning = &HookAtBeginning;
    h.markEnd = &HookMarkEnd;
    h.markBeginning = &HookMarkBeginning;
    h.appendNewKey = &AppendNewKey;
    h.keepOldKeys = &KeepOldKeys;
    h.updateChangedKeys = &UpdateChangedKeys;
    h.found = &HookFound;
    h.reindex = &HookReindex;
    h.close = &HookClose;
    h.markRebuild = &HookMarkRebuild;
    h.markCut = &HookMarkCut;
    h.readLock = &SetReadSemaphoreProc;
    h.updateLock = &SetLockSemaphoreProc;
    h.currentOrder = &HookCurrentOrder;
    h.setCurrentOrder = &HookSetCurrentOrder;
    Dbf4::indexHooksInstalled = true;
}

}  // namespace TzNdx
