#include "index/mdx_semaphore.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "index/mdx_format.h"
#include "storage/dbf4.h"
#include "storage/scope_exit.h"
#include "storage/tz_errors.h"

namespace Mdx {

uint64_t Sem::TableLockOffset() {
    return Dbf4::LockBase();
}

using tz::ScopeExit;

namespace {
constexpr int LockTries = 1001;  // the first try and 1,000 retries
constexpr double TicksPerSecond = 18.20648193;
constexpr double FirstPauseUs = 20;   // the first retry follows almost at once
constexpr double PauseGrowth = 1.25;  // each later pause a quarter longer, up to the steady one
constexpr int ReaderWaitPauseMs = 1;  // the longest pause of a writer waiting for readers
constexpr int YieldRetries = 4;       // the first retries only give the processor away
// The longest a reader about to count in stands back for a waiting writer, and how often it
// looks meanwhile.
constexpr int ReaderGiveWayMs = 10;
constexpr int ReaderGiveWayPollUs = 50;

uint16_t g_defaultTimeoutTicks = kDefaultReadTimeoutTicks;

// The sleep before sleeping retry number `retry` (1 .. 1,000 - YieldRetries). The early
// sleeps grow from FirstPauseUs until they reach the steady one, which is chosen so that
// all of them together last 1,000 x fullMs (1,000 full pauses), with the first tries much
// closer.
std::chrono::microseconds RetryPause(int retry, int fullMs) {
    const double full = fullMs * 1000.0;
    const int retries = LockTries - 1 - YieldRetries;
    double early = 0;
    int k = 0;
    for (double p = FirstPauseUs; p < full && k < retries; p *= PauseGrowth, ++k) {
        if (k + 1 == retry) return std::chrono::microseconds(int64_t(p));
        early += p;
    }
    const double total = (LockTries - 1) * full;
    const double steady = k < retries ? (total - early) / (retries - k) : full;
    return std::chrono::microseconds(int64_t(steady));
}

void PauseBefore(int retry, int fullMs) {
    if (fullMs <= 0) return;
    // The very first retries only give the processor away: the holder is usually just
    // finishing, and may be waiting for a processor itself.
    if (retry <= YieldRetries) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(RetryPause(retry - YieldRetries, fullMs));
}

// A byte-range lock tried LockTries times, with PauseBefore between the tries; 0 or the last
// refusal's code.
uint16_t LockRetrying(tz::File& file, uint64_t off, uint64_t len, int pauseMs) {
    uint16_t rc = 0;
    for (int i = 0; i < LockTries; ++i) {
        if (i > 0) PauseBefore(i, pauseMs);
        rc = file.Lock(off, len);
        if (rc == 0) return 0;
    }
    return rc;
}

}  // namespace

void SetDefaultReadTimeoutTicks(uint16_t ticks) {
    g_defaultTimeoutTicks = ticks;
}

uint16_t EraseUnusedSemaphore(const std::string& semaphoreFile, tz::File* table, bool sharing) {
    if (!tz::Exists(semaphoreFile)) return 0;
    const bool lockTable = sharing && table != nullptr && table->IsOpen();
    if (lockTable) {
        uint16_t rc = LockRetrying(*table, Sem::TableLockOffset(), 1, 10);
        if (rc != 0) return rc == TzErr::LockViolation ? TzErr::SharingViolation : rc;
    }
    // The file layer refuses while any station has the file open: a logged-in station
    // always has. Its counts are not asked: a killed station's counts would keep it forever.
    uint16_t rc = tz::EraseFile(semaphoreFile);
    if (rc == TzErr::FileNotFound) rc = 0;
    if (lockTable) table->Unlock(Sem::TableLockOffset(), 1);
    return rc;
}

std::string SemaphoreFileName(const std::string& tablePath, const std::string& folder) {
    size_t slash = tablePath.find_last_of("/\\");
    size_t dot = tablePath.rfind('.');
    std::string stem = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                           ? tablePath.substr(0, dot)
                           : tablePath;
    if (folder.empty()) return stem + ".@S@";
    std::string base = slash == std::string::npos ? stem : stem.substr(slash + 1);
    std::string dir = folder;
    if (dir.back() != '/' && dir.back() != '\\') dir += '/';
    return dir + base + ".@S@";
}

const char* SemActionName(SemAction action) {
    switch (action) {
        case SemAction::Login:
            return "LOGIN";
        case SemAction::Logout:
            return "LOGOUT";
        case SemAction::IncRead:
            return "INCREAD";
        case SemAction::DecRead:
            return "DECREAD";
        case SemAction::Lock:
            return "LOCKSEMAPHORE";
        case SemAction::Unlock:
            return "UNLOCKSEMAPHORE";
    }
    return "";
}

IndexSemaphore::~IndexSemaphore() {
    if (!loggedIn_) return;
    // Best effort, never reporting: a station that cannot log out leaves its counts, as a
    // station that ended abnormally would.
    try {
        if (holdsLock_) {
            writerNesting_ = 1;
            DoUnlock();
        }
        DoLogout();
    } catch (...) {
    }
    if (file_.IsOpen()) CloseFile();
}

void IndexSemaphore::Configure(const std::string& semaphoreFile, tz::File* table, bool exclusive,
                               bool sharing) {
    timeoutTicks_ = g_defaultTimeoutTicks;
    name_ = semaphoreFile;
    table_ = table;
    exclusive_ = exclusive;
    sharing_ = sharing;
}

// Failures are noted first and reported by Action once every lock the action took is
// released again, so that a raised error leaves no lock behind.
uint16_t IndexSemaphore::Fail(uint16_t code, const std::string& message) {
    errCode_ = code;
    errMessage_ = message;
    return code;
}

void IndexSemaphore::DropRecordLock() {
    if (!holdsLock_) return;
    holdsLock_ = false;
    if (sharing_) file_.Unlock(Sem::LockOffset, Sem::LockLength);
}

uint16_t IndexSemaphore::Counter() const {
    return uint16_t(record_[Sem::Counter] | (record_[Sem::Counter + 1] << 8));
}

uint32_t IndexSemaphore::Writers() const {
    uint32_t n = 0;
    for (size_t i = 0; i < 4; ++i) n |= uint32_t(record_[Sem::Writers + i]) << (8 * i);
    return n;
}

// The record as it stands carries no count of a dead writer (invariant 6).
void IndexSemaphore::NoteChecked() {
    checkedCounter_ = Counter();
    checkedWriters_ = Writers();
    checked_ = true;
}

// Moves the change counter in the record on by one (wrapping), so that every station reads
// the tag headers again.
void IndexSemaphore::BumpCounter() {
    const uint16_t counter = uint16_t(Counter() + 1);
    record_[Sem::Counter] = uint8_t(counter);
    record_[Sem::Counter + 1] = uint8_t(counter >> 8);
}

void IndexSemaphore::Pause(int retry) const {
    PauseBefore(retry, pauseMs_);
}

uint16_t IndexSemaphore::TakeTableLock(SemAction action) {
    if (!sharing_ || table_ == nullptr || !table_->IsOpen()) return 0;
    if (LockRetrying(*table_, Sem::TableLockOffset(), 1, pauseMs_) == 0) return 0;
    return Fail(TzErr::SemaphoreError, "Cannot lock database for: " + table_->Path() + " Action=" +
                                           SemActionName(action) + " [Database Semaphore]");
}

void IndexSemaphore::ReleaseTableLock() {
    if (!sharing_ || table_ == nullptr || !table_->IsOpen()) return;
    table_->Unlock(Sem::TableLockOffset(), 1);
}

uint16_t IndexSemaphore::TakeRecordLock(SemAction action) {
    if (holdsLock_) return 0;
    if (!sharing_) {
        holdsLock_ = true;
        return 0;
    }
    const uint16_t rc = LockRetrying(file_, Sem::LockOffset, Sem::LockLength, pauseMs_);
    if (rc == 0) {
        holdsLock_ = true;
        return 0;
    }
    return Fail(TzErr::SemaphoreError,
                "10 second timeout: Cannot lock index semaphore file: " + name_ + " " +
                    SemActionName(action) + "\r\nPossible cause: Network lock limit exceeded\r\n" +
                    " Lock result code: " + std::to_string(rc));
}

uint16_t IndexSemaphore::ReleaseRecordLock(SemAction action) {
    if (!holdsLock_) return 0;
    holdsLock_ = false;
    if (!sharing_) return 0;
    uint16_t rc = file_.Unlock(Sem::LockOffset, Sem::LockLength);
    if (rc != 0) {
        return Fail(rc, "Cannot unlock index semaphore file: " + name_ + " " +
                            SemActionName(action) + " Reason code: " + std::to_string(rc));
    }
    return 0;
}

// On a local file system the record is read and written in place through a shared mapping
// of the file (the same page cache that plain calls reach), under the same record lock; a
// network share, or a file too short to hold the record, keeps the plain calls.
void IndexSemaphore::MapRecord() {
    uint64_t size = 0;
    if (file_.Size(&size) != 0 || size < Sem::RecordSize) return;
    if (file_.MapWritable(Sem::RecordSize, &map_) != 0) map_ = nullptr;
}

void IndexSemaphore::CloseFile() {
    map_ = nullptr;
    queued_ = holdsRoom_ = false;
    file_.Close();  // drops the mapping and the slot locks with it
    slot_ = -1;
}

// Another program cut the file short under the mapping: from now on the record goes
// through plain calls, which read missing bytes as zeros and write the file whole again.
void IndexSemaphore::DropMapping() {
    map_ = nullptr;
    file_.Unmap();
}

uint16_t IndexSemaphore::ReadRecord(SemAction action) {
    if (map_ != nullptr) {
        if (file_.ReadMapped(0, record_, Sem::RecordSize) == 0) return 0;
        DropMapping();
    }
    size_t got = 0;
    uint8_t buf[Sem::RecordSize] = {};
    uint16_t rc = file_.ReadAt(0, buf, sizeof buf, &got);
    if (rc != 0) {
        return Fail(rc, "Cannot read: " + name_ + " " + SemActionName(action));
    }
    // A short file (cut by hand) counts as zeros.
    for (size_t i = 0; i < sizeof buf; ++i) record_[i] = buf[i];
    return 0;
}

uint16_t IndexSemaphore::WriteRecord(SemAction action) {
    uint16_t rc = map_ != nullptr ? file_.WriteMapped(0, record_, Sem::RecordSize)
                                  : file_.WriteAt(0, record_, Sem::RecordSize);
    uint64_t size = 0;
    if (rc != 0 && map_ != nullptr && file_.Size(&size) == 0 && size < Sem::RecordSize) {
        DropMapping();
        rc = file_.WriteAt(0, record_, Sem::RecordSize);
    }
    if (rc != 0) {
        return Fail(rc, "Cannot write to: " + name_ + " " + SemActionName(action));
    }
    return 0;
}

uint16_t IndexSemaphore::Action(SemAction action) {
    if (Passive()) return 0;
    if (!loggedIn_ && action != SemAction::Login) return 0;
    uint16_t rc = 0;
    switch (action) {
        case SemAction::Login:
            rc = DoLogin();
            break;
        case SemAction::Logout:
            rc = DoLogout();
            break;
        case SemAction::IncRead:
            rc = DoIncRead();
            break;
        case SemAction::DecRead:
            rc = DoDecRead();
            break;
        case SemAction::Lock:
            rc = DoLock();
            break;
        case SemAction::Unlock:
            rc = DoUnlock();
            break;
    }
    return rc == 0 ? 0 : ReportError(errCode_, errMessage_);
}

// ---- Slots: each station's counts tied to locks it holds ----------------------------------

// Takes the first free station slot; a station that finds none (256 stations) goes on
// without one, its counts then untied to any lock (the 4-byte record alone keeps them).
uint16_t IndexSemaphore::TakeSlot() {
    slot_ = -1;
    if (!sharing_) return 0;
    for (int i = 0; i < Sem::SlotCount; ++i) {
        uint16_t rc = file_.Lock(Sem::StationSlots + uint64_t(i), 1);
        if (rc == 0) {
            slot_ = i;
            return 0;
        }
        if (rc != TzErr::LockViolation) return rc;
    }
    return 0;
}

uint16_t IndexSemaphore::SetReaderSlot(bool held) {
    if (!sharing_ || slot_ < 0) return 0;
    const uint64_t at = Sem::ReaderSlots + uint64_t(slot_);
    return held ? file_.Lock(at, 1) : file_.Unlock(at, 1);
}

void IndexSemaphore::SetWriterWaitSlot(bool held) {
    if (!held) queued_ = false;
    if (!sharing_ || slot_ < 0) return;
    const uint64_t at = Sem::WriterWaitSlots + uint64_t(slot_);
    // Only a signal to readers: a refusal changes nothing in the counts.
    if (held) {
        file_.Lock(at, 1);
    } else {
        file_.Unlock(at, 1);
    }
}

bool IndexSemaphore::WritersWaiting() const {
    if (Passive() || !loggedIn_ || !sharing_) return false;
    uint64_t at = 0, len = 0;
    return file_.TestLock(Sem::WriterWaitSlots, Sem::SlotCount, &at, &len) == TzErr::LockViolation;
}

// Notes in ahead_ the wait bytes that other handles hold, one lock test per slot or run
// of slots.
void IndexSemaphore::NoteOthersWaiting() {
    ahead_.reset();
    uint64_t from = Sem::WriterWaitSlots;
    const uint64_t end = Sem::WriterWaitSlots + Sem::SlotCount;
    while (from < end) {
        uint64_t at = 0, len = 0;
        if (file_.TestLock(from, end - from, &at, &len) != TzErr::LockViolation) return;
        const uint64_t lo = std::max(at, from), hi = std::min(at + len, end);
        for (uint64_t b = lo; b < hi; ++b) ahead_.set(size_t(b - Sem::WriterWaitSlots));
        from = hi;
    }
}

// The stations already waiting are noted before this station's byte is set: a station
// noted set its byte before this one did, so no two stations ever wait for each other.
void IndexSemaphore::JoinWriters() {
    if (Passive() || !loggedIn_ || !sharing_ || slot_ < 0 || queued_) return;
    NoteOthersWaiting();
    aheadCount_ = ahead_.count();
    joinCounter_ = PeekCounter();
    joinedAt_ = std::chrono::steady_clock::now();
    SetWriterWaitSlot(true);
    queued_ = true;
}

// A station noted may have let its byte go and taken it again (for its next write) between
// two looks: the change counter, moved on by every write, tells that it had its turn.
bool IndexSemaphore::WritersAheadGone() {
    if (!queued_ || ahead_.none()) return true;
    // Each write moves the counter on twice: as its writer counts in and as it ends.
    const bool counted = uint16_t(PeekCounter() - joinCounter_) >= 2 * aheadCount_;
    // The stations ahead are normally through long before the longest wait for them (each
    // write takes a millisecond or so).
    if (counted ||
        std::chrono::steady_clock::now() - joinedAt_ >= std::chrono::milliseconds(aheadMaxMs_)) {
        ahead_.reset();
        return true;
    }
    for (size_t i = 0; i < ahead_.size(); ++i) {
        uint64_t at = 0, len = 0;
        if (ahead_.test(i) &&
            file_.TestLock(Sem::WriterWaitSlots + i, 1, &at, &len) != TzErr::LockViolation)
            ahead_.reset(i);
    }
    return ahead_.none();
}

void IndexSemaphore::HoldRoom(bool held) {
    if (Passive() || !loggedIn_ || !sharing_ || slot_ < 0 || holdsRoom_ == held) return;
    const uint64_t at = Sem::RoomSlots + uint64_t(slot_);
    if ((held ? file_.Lock(at, 1) : file_.Unlock(at, 1)) == 0) holdsRoom_ = held;
}

bool IndexSemaphore::OthersHoldRoom() const {
    if (Passive() || !loggedIn_ || !sharing_) return false;
    return OthersHolding(Sem::RoomSlots) > 0;
}

void IndexSemaphore::LeaveWriters() {
    if (queued_) SetWriterWaitSlot(false);
}

// Slot bytes in [base, base + SlotCount) that other handles hold (one byte each).
int IndexSemaphore::OthersHolding(uint64_t base) const {
    int count = 0;
    uint64_t ranges[Sem::SlotCount + 1][2];
    int n = 0;
    ranges[n][0] = base;
    ranges[n][1] = base + Sem::SlotCount;
    ++n;
    while (n > 0) {
        --n;
        const uint64_t from = ranges[n][0], to = ranges[n][1];
        uint64_t at = 0, len = 0;
        if (from >= to || file_.TestLock(from, to - from, &at, &len) != TzErr::LockViolation)
            continue;
        const uint64_t lo = std::max(at, from), hi = std::min(at + len, to);
        count += int(hi - lo);
        if (n + 2 > Sem::SlotCount + 1) break;  // cannot happen: ranges shrink
        ranges[n][0] = from;
        ranges[n][1] = lo;
        ranges[n + 1][0] = hi;
        ranges[n + 1][1] = to;
        n += 2;
    }
    return count;
}

// Under the record lock: a byte 1 above what living stations back holds the counts of a
// station that was killed or failed while counted. It is lowered to the backed count, and
// the change counter moves on, since the lost count may have been a writer's part-way
// change: every station then reads the tag headers again.
void IndexSemaphore::RepairActive() {
    if (!sharing_ || slot_ < 0) return;
    const int backed =
        OthersHolding(Sem::ReaderSlots) + (countedReader_ ? 1 : 0) + (isWriter_ ? 1 : 0);
    if (record_[Sem::Active] > backed) {
        record_[Sem::Active] = uint8_t(backed);
        BumpCounter();
    }
    NoteChecked();
}

// Under the record lock, counting in as a reader: a count of a writer that died part-way
// must go (RepairActive), but a writer moves the change counter on when it counts itself
// in, so while the counter is still one under which no dead writer was counted, the slots
// need no look (the other counts are readers', living or not, which only writers wait for).
void IndexSemaphore::RepairActiveAfterWriter() {
    if (record_[Sem::Active] == 0) {
        NoteChecked();
        return;
    }
    if (checked_ && Counter() == checkedCounter_ && Writers() == checkedWriters_) return;
    RepairActive();
}

// ---- The actions --------------------------------------------------------------------------

uint16_t IndexSemaphore::DoLogin() {
    if (loggedIn_) return 0;
    const SemAction a = SemAction::Login;
    uint16_t rc = TakeTableLock(a);
    if (rc != 0) return rc;
    ScopeExit tableLock([this] { ReleaseTableLock(); });
    holdsLock_ = isWriter_ = countedReader_ = checked_ = false;
    readerNesting_ = writerNesting_ = readProcNesting_ = lockProcNesting_ = 0;
    slot_ = -1;
    // Made afresh when no other station has it open (a file left by a station that ended
    // abnormally is thereby reset too) and kept open from then on: between a create and a
    // later open another station could find the file unused and erase it.
    // A file erased between the refused create and the open (by a station that erases
    // without the table's lock, holding the file for that moment) is made again.
    bool made = false;
    for (int attempt = 0; attempt < LockTries; ++attempt) {
        if (attempt > 0) Pause(attempt);
        rc = file_.Create(name_, tz::ShareMode::DenyNone);
        if (rc == 0) {
            made = true;
            const uint8_t zero[Sem::RecordSize] = {};
            rc = file_.WriteAt(0, zero, sizeof zero);
        } else if (rc == TzErr::SharingViolation) {
            rc = file_.Open(name_, tz::Access::ReadWrite, tz::ShareMode::DenyNone);
        }
        if (rc != TzErr::FileNotFound && rc != TzErr::SharingViolation) break;
    }
    if (rc != 0) {
        file_.Close();
        if (made) tz::EraseFile(name_);
        return Fail(rc, "Cannot open/create: " + name_ + " " + SemActionName(a));
    }
    ScopeExit closeFile([this] {
        DropRecordLock();
        CloseFile();
    });
    if ((rc = TakeSlot()) != 0)
        return Fail(rc, "Cannot open/create: " + name_ + " " + SemActionName(a));
    if ((rc = TakeRecordLock(a)) != 0 || (rc = ReadRecord(a)) != 0) return rc;
    if (slot_ >= 0) {
        record_[Sem::Stations] = uint8_t(std::min(OthersHolding(Sem::StationSlots) + 1, 255));
    } else if (record_[Sem::Stations] < 255) {
        ++record_[Sem::Stations];
    }
    RepairActive();
    if ((rc = WriteRecord(a)) != 0) return rc;
    MapRecord();
    if ((rc = ReleaseRecordLock(a)) != 0) return rc;
    closeFile.Dismiss();
    seenCounter_ = Counter();
    loggedIn_ = true;
    return 0;
}

uint16_t IndexSemaphore::DoLogout() {
    const SemAction a = SemAction::Logout;
    uint16_t rc = TakeTableLock(a);
    if (rc != 0) return rc;
    ScopeExit tableLock([this] { ReleaseTableLock(); });
    // Whatever happens below, this station is no longer logged in and its locks go with the
    // closed file: a count it could not take back is then one that no living station backs.
    ScopeExit closeFile([this] {
        loggedIn_ = isWriter_ = countedReader_ = false;
        readerNesting_ = writerNesting_ = readProcNesting_ = lockProcNesting_ = 0;
        DropRecordLock();
        CloseFile();
    });
    rc = TakeRecordLock(a);
    if (rc == 0) rc = ReadRecord(a);
    if (rc != 0) return rc;
    const int own = (countedReader_ ? 1 : 0) + (isWriter_ ? 1 : 0);
    record_[Sem::Active] = uint8_t(std::max(int(record_[Sem::Active]) - own, 0));
    isWriter_ = countedReader_ = false;
    if (slot_ >= 0) {
        record_[Sem::Stations] = uint8_t(std::min(OthersHolding(Sem::StationSlots), 255));
    } else if (record_[Sem::Stations] > 0) {
        --record_[Sem::Stations];
    }
    RepairActive();
    if ((rc = WriteRecord(a)) != 0) return rc;
    rc = ReleaseRecordLock(a);
    closeFile.Run();
    // The last station removes the file; the file layer refuses while anyone has it open.
    if (rc == 0 && record_[Sem::Stations] == 0) tz::EraseFile(name_);
    return rc;
}

// The change counter as the file holds it now, read without the record lock (a torn read
// only ends a wait early).
uint16_t IndexSemaphore::PeekCounter() {
    uint8_t buf[Sem::RecordSize] = {};
    if (map_ != nullptr && file_.ReadMapped(0, buf, sizeof buf) != 0) DropMapping();
    if (map_ == nullptr) {
        std::memset(buf, 0, sizeof buf);
        size_t got = 0;
        file_.ReadAt(0, buf, sizeof buf, &got);
    }
    return uint16_t(buf[Sem::Counter] | (buf[Sem::Counter + 1] << 8));
}

// Takes the record lock and reads the record for counting in. While other readers are
// counted a writer may be waiting for them: then this reader lets it go first, standing
// back until no writer waits or one has had its turn (the change counter moved), but never
// longer than ReaderGiveWayMs, so that a stream of writers cannot keep readers out.
uint16_t IndexSemaphore::TakeRecordToCountIn(SemAction action) {
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(ReaderGiveWayMs);
    for (;;) {
        uint16_t rc = TakeRecordLock(action);
        if (rc == 0) rc = ReadRecord(action);
        if (rc != 0) return rc;
        if (record_[Sem::Active] == 0 || std::chrono::steady_clock::now() >= until ||
            !WritersWaiting())
            return 0;
        const uint16_t counter = Counter();
        if ((rc = ReleaseRecordLock(action)) != 0) return rc;
        while (std::chrono::steady_clock::now() < until && WritersWaiting() &&
               PeekCounter() == counter)
            std::this_thread::sleep_for(std::chrono::microseconds(ReaderGiveWayPollUs));
    }
}

uint16_t IndexSemaphore::DoIncRead() {
    const SemAction a = SemAction::IncRead;
    if (++readerNesting_ > 1) return 0;
    if (holdsLock_ || countedReader_) return 0;  // a writer's own reads are not counted
    ScopeExit undo([this] {
        --readerNesting_;
        DropRecordLock();
    });
    uint16_t rc = TakeRecordToCountIn(a);
    if (rc != 0) return rc;
    // Under the record lock no writer is alive: a count that no reader's slot backs is a
    // dead station's, perhaps a writer's that ended part-way. Dropping it moves the change
    // counter on, so that this station reads the index again instead of trusting pages it
    // read before.
    RepairActiveAfterWriter();
    if (record_[Sem::Active] < 127) {
        // The slot is held before the count reaches the file, so a count in the file is
        // always backed while this station lives.
        if ((rc = SetReaderSlot(true)) != 0) {
            return Fail(rc, "Cannot lock index semaphore file: " + name_ + " " + SemActionName(a) +
                                " Reason code: " + std::to_string(rc));
        }
        ++record_[Sem::Active];
        countedReader_ = true;
    }
    if ((rc = WriteRecord(a)) != 0) {
        if (countedReader_) SetReaderSlot(false);
        countedReader_ = false;
        return rc;
    }
    undo.Dismiss();
    return ReleaseRecordLock(a);
}

uint16_t IndexSemaphore::DoDecRead() {
    const SemAction a = SemAction::DecRead;
    if (--readerNesting_ < 0) {
        readerNesting_ = 0;
        return Fail(TzErr::InternalError, "Unbalanced IncRead/DecRead for semaphore file: " +
                                              name_ + " " + SemActionName(a));
    }
    if (readerNesting_ > 0 || !countedReader_) return 0;
    if (holdsLock_) {
        // Inside this station's own write: its count is settled when the write ends.
        countedReader_ = false;
        SetReaderSlot(false);
        return 0;
    }
    // A failure leaves the station counted, its slot held: a later DECREAD or LOGOUT takes
    // the count back.
    ScopeExit undo([this] { DropRecordLock(); });
    uint16_t rc = TakeRecordLock(a);
    if (rc == 0) rc = ReadRecord(a);
    if (rc != 0) return rc;
    if (record_[Sem::Active] > 0) --record_[Sem::Active];
    if ((rc = WriteRecord(a)) != 0) return rc;
    countedReader_ = false;
    SetReaderSlot(false);
    undo.Dismiss();
    return ReleaseRecordLock(a);
}

uint16_t IndexSemaphore::DoLock() {
    const SemAction a = SemAction::Lock;
    if (++writerNesting_ > 1 || holdsLock_) return 0;
    readersKeptOut_ = false;
    ScopeExit undo([this] {
        --writerNesting_;
        isWriter_ = false;
        DropRecordLock();
    });
    const auto start = std::chrono::steady_clock::now();
    // This station's own counted read does not keep it waiting.
    const int own = countedReader_ ? 1 : 0;
    // The wait slot tells long-holding readers to let go; a station in the writers' queue
    // holds it already.
    bool signalled = queued_;
    ScopeExit waitSlot([this, &signalled] {
        if (signalled) SetWriterWaitSlot(false);
    });
    for (int retry = 1;; ++retry) {
        uint16_t rc = TakeRecordLock(a);
        if (rc == 0) rc = ReadRecord(a);
        if (rc != 0) return rc;
        if (record_[Sem::Active] <= own) break;
        const uint8_t seen = record_[Sem::Active];
        RepairActive();
        if (record_[Sem::Active] != seen) {
            if ((rc = WriteRecord(a)) != 0) return rc;
            if (record_[Sem::Active] <= own) break;
        }
        if ((rc = ReleaseRecordLock(a)) != 0) return rc;
        if (!signalled) {
            SetWriterWaitSlot(true);
            signalled = true;
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!waitForReaders_ || (timeoutTicks_ != 0 && seconds * TicksPerSecond >= timeoutTicks_))
            return FailReadersStay();
        // Readers come and go quickly: the wait for them keeps its pauses short (the
        // read time-out bounds it), so that a writer does not sleep long on the table's
        // append or record lock that its caller holds.
        PauseBefore(std::min(retry, LockTries - 1), std::min(pauseMs_, ReaderWaitPauseMs));
    }
    if (uint16_t rc = CountInAsWriter(own); rc != 0) return rc;  // the file does not count it
    undo.Dismiss();
    return 0;
}

// The readers did not go within the read time-out (or, without waiting, were there).
uint16_t IndexSemaphore::FailReadersStay() {
    readersKeptOut_ = true;
    return Fail(TzErr::SemaphoreError,
                std::to_string(timeoutTicks_ / 18) + " second timeout, cannot read: " + name_ +
                    "\r\n" + "Possible cause: Other user's program has terminated abnormally." +
                    "\r\n" + "Cure: Log all users of this application off the network," + "\r\n" +
                    "then delete " + name_ + "\r\n" +
                    "Do not delete it while the program still runs at another station: that "
                    "station's index changes could then be lost or damaged.");
}

// Under the record lock, with no other count in the file: this station counts itself in as
// the writer. The counter moves on as it does, so that a station counting in after this
// writer died knows to look for its count (RepairActiveAfterWriter).
uint16_t IndexSemaphore::CountInAsWriter(int own) {
    record_[Sem::Active] = uint8_t(own + 1);
    const bool pending = Counter() != seenCounter_;
    BumpCounter();
    const uint32_t writers = Writers() + 1;
    for (size_t i = 0; i < 4; ++i) record_[Sem::Writers + i] = uint8_t(writers >> (8 * i));
    isWriter_ = true;
    if (uint16_t rc = WriteRecord(SemAction::Lock); rc != 0) return rc;
    if (!pending) seenCounter_ = Counter();
    readersKeptOut_ = false;
    NoteChecked();
    return 0;
}

bool IndexSemaphore::TryLockSemaphore() {
    if (Passive()) return true;
    if (!loggedIn_ || holdsLock_ || writerNesting_ > 0) return false;
    if (sharing_ && file_.Lock(Sem::LockOffset, Sem::LockLength) != 0) return false;
    holdsLock_ = true;
    const int own = countedReader_ ? 1 : 0;
    if (ReadRecord(SemAction::Lock) == 0) {
        if (record_[Sem::Active] > own) RepairActive();
        if (record_[Sem::Active] <= own && CountInAsWriter(own) == 0) {
            writerNesting_ = 1;
            return true;
        }
    }
    isWriter_ = false;
    DropRecordLock();
    errCode_ = 0;
    return false;
}

uint16_t IndexSemaphore::DoUnlock() {
    const SemAction a = SemAction::Unlock;
    if (--writerNesting_ < 0) {
        writerNesting_ = 0;
        return Fail(TzErr::InternalError,
                    "Unbalanced Lock/Unlock for semaphore file: " + name_ + " " + SemActionName(a));
    }
    if (writerNesting_ > 0 || !holdsLock_) return 0;
    // On failure the writer lets go all the same: its count left in the file is then backed
    // by no lock and is dropped (with the counter moved on) by the next station that looks.
    ScopeExit undo([this] {
        isWriter_ = false;
        DropRecordLock();
    });
    uint16_t rc = ReadRecord(a);
    if (rc != 0) return rc;
    // A change by another station that this one has not taken in yet stays visible.
    const bool pending = Counter() != seenCounter_;
    BumpCounter();
    record_[Sem::Active] = countedReader_ ? 1 : 0;
    if ((rc = WriteRecord(a)) != 0) return rc;
    isWriter_ = false;
    if (!pending) seenCounter_ = Counter();
    NoteChecked();
    undo.Dismiss();
    return ReleaseRecordLock(a);
}

uint16_t IndexSemaphore::SetReadSemaphoreProc(bool on) {
    if (on) {
        if (readProcNesting_ == 0) {
            uint16_t rc = IncRead();
            if (rc != 0) return rc;
        }
        ++readProcNesting_;
        return 0;
    }
    if (--readProcNesting_ < 0) {
        readProcNesting_ = 0;
        return ReportError(TzErr::InternalError,
                           "Non-symmetrical Lock-Unlock [SetReadSemaphoreProc]");
    }
    return readProcNesting_ == 0 ? DecRead() : 0;
}

uint16_t IndexSemaphore::SetLockSemaphoreProc(bool on) {
    if (on) {
        if (lockProcNesting_ == 0) {
            uint16_t rc = LockSemaphore();
            if (rc != 0) return rc;
        }
        ++lockProcNesting_;
        return 0;
    }
    if (--lockProcNesting_ < 0) {
        lockProcNesting_ = 0;
        return ReportError(TzErr::InternalError,
                           "Non-symmetrical Lock-Unlock [SetLockSemaphoreProc]");
    }
    return lockProcNesting_ == 0 ? UnlockSemaphore() : 0;
}

}  // namespace Mdx
