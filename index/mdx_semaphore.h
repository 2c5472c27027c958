// The index semaphore file of a shared table ("<table>.@S@"): stations count themselves in
// as index users, as readers around index reads and as the one writer around index changes,
// and a change counter tells a station that another one has changed the index since it last
// looked. One object per work area with an open index; one thread. The table engine's table
// file must stay open while the semaphore is logged in (its one-byte semaphore lock
// serialises LOGIN, LOGOUT and the removal of an unused file between stations).
// Each station's counts are tied to byte-range locks it holds on the semaphore file (a slot
// of its own beyond the record): locks vanish with a killed station, counts in the file do
// not, so a count that no living station's lock backs is dropped by the next station that
// looks.
#pragma once

#include <bitset>
#include <chrono>
#include <cstdint>
#include <string>

#include "storage/file_layer.h"

namespace Mdx {

// The semaphore file for a table: the table's path with its extension replaced by ".@S@",
// or, with a semaphore folder, that folder + the table's file name with that extension.
std::string SemaphoreFileName(const std::string& tablePath, const std::string& folder = "");

// Record (8 bytes at offset 0): stations with the index open, active readers and writers
// (0..127), change counter (16-bit), and the writers counted in so far (32-bit, moved on
// by each writer as it counts itself in; stations of older builds write the first four
// bytes alone and leave it).
namespace Sem {
inline constexpr size_t Stations = 0;
inline constexpr size_t Active = 1;
inline constexpr size_t Counter = 2;
inline constexpr size_t Writers = 4;
inline constexpr size_t RecordSize = 8;
inline constexpr uint64_t LockOffset = 1;  // the record lock: 4 bytes at offset 1
inline constexpr uint64_t LockLength = 4;
uint64_t TableLockOffset();  // the table's semaphore byte: the engine's lock base
// One byte per station slot, held while the station is logged in (backs byte 0), and one
// while its read is counted (backs its share of byte 1).
inline constexpr uint64_t StationSlots = 0x1000;
inline constexpr uint64_t ReaderSlots = 0x1100;
// One byte per station slot, held while the station waits to become the writer: a reader
// that holds its count across many steps lets go when it sees one, and a reader about to
// count in beside other readers stands back for it (a few milliseconds at most).
inline constexpr uint64_t WriterWaitSlots = 0x1200;
// One byte per station slot, held while the station counts on room it reserved past the
// end of the table's index file: a close gives that room back only while no other station
// holds one.
inline constexpr uint64_t RoomSlots = 0x1300;
inline constexpr int SlotCount = 256;
}  // namespace Sem

// Erases the semaphore file of a table when no station has it open, under the table's
// semaphore lock (so that no station logs in on it meanwhile). table: the table file, open;
// sharing: the engine's sharing switch. Answers 0 (erased or absent), 32 (in use) or the
// failure's code; nothing is reported.
uint16_t EraseUnusedSemaphore(const std::string& semaphoreFile, tz::File* table,
                              bool sharing = true);

// The read time-out given to every semaphore configured from now on (timer ticks, 18.2 a
// second; kDefaultReadTimeoutTicks at start).
inline constexpr uint16_t kDefaultReadTimeoutTicks = 1820;
void SetDefaultReadTimeoutTicks(uint16_t ticks);

enum class SemAction { Login = 0, Logout = 1, IncRead = 2, DecRead = 3, Lock = 4, Unlock = 5 };
const char* SemActionName(SemAction action);

class IndexSemaphore {
  public:
    // Invariants:
    //  1. loggedIn_ holds from a successful LOGIN to LOGOUT; while it holds, file_ is open
    //     shared and this station is counted once in byte 0.
    //  2. holdsLock_ is set exactly while this station holds the record lock; outside
    //     LOCKSEMAPHORE...UNLOCKSEMAPHORE it is held only inside one action.
    //  3. countedReader_ is set exactly while this station's read is counted in byte 1;
    //     isWriter_ while its write is counted there.
    //  4. seenCounter_ is the change counter of the last record this station wrote or
    //     acknowledged; record_ is the last record read.
    //  5. While logged in the station holds its slot byte (StationSlots + slot_) when it
    //     found a free one; countedReader_ holds exactly while it holds ReaderSlots + slot_.
    //     Both change only under the record lock, so a station holding the record lock sees
    //     byte 1 = readers' slots held + its own counts, unless a station died or failed.
    //  6. checkedCounter_ and checkedWriters_ are a change counter and a writers' number
    //     under which byte 1 held no count of a dead writer: a writer moves both on when it
    //     counts itself in, so while the record still carries both no writer has come since
    //     (the 32-bit number does not come round again within any station's life), and a
    //     station counting in need not look for a dead one.
    //  7. Every action leaves these invariants true on every path, a failed one included.
    IndexSemaphore() = default;
    ~IndexSemaphore();
    IndexSemaphore(const IndexSemaphore&) = delete;
    IndexSemaphore& operator=(const IndexSemaphore&) = delete;

    // exclusive: the table is open exclusively (every action does nothing); sharing: the
    // engine's sharing switch (byte-range locks are taken only while it is on).
    void Configure(const std::string& semaphoreFile, tz::File* table, bool exclusive,
                   bool sharing = true);

    // The actions; each answers 0 or the error code it reported.
    uint16_t Action(SemAction action);
    uint16_t Login() { return Action(SemAction::Login); }
    uint16_t Logout() { return Action(SemAction::Logout); }
    uint16_t IncRead() { return Action(SemAction::IncRead); }
    uint16_t DecRead() { return Action(SemAction::DecRead); }
    uint16_t LockSemaphore() { return Action(SemAction::Lock); }
    uint16_t UnlockSemaphore() { return Action(SemAction::Unlock); }
    // One try to become the writer, waiting neither for the record lock nor for readers:
    // true when this station is the writer now (UnlockSemaphore ends it; always true for an
    // exclusive table), false, reporting nothing, when another station reads or writes.
    bool TryLockSemaphore();

    // The engine's read-lock and update-lock hooks (1 take, 0 release) with their own
    // nesting; an unbalanced release gives 254 "Non-symmetrical Lock-Unlock [...]".
    uint16_t SetReadSemaphoreProc(bool on);
    uint16_t SetLockSemaphoreProc(bool on);

    // True when the last record read carries a change counter this station has not seen:
    // another station changed the index. AcknowledgeChange remembers it as seen.
    bool IndexChanged() const { return loggedIn_ && Counter() != seenCounter_; }
    void AcknowledgeChange() { seenCounter_ = Counter(); }
    uint16_t Counter() const;
    uint32_t Writers() const;
    const uint8_t* Record() const { return record_; }
    bool LoggedIn() const { return loggedIn_; }
    const std::string& FileName() const { return name_; }
    // True while another station (or another area of this process) waits in LOCKSEMAPHORE
    // for the readers to go, or waits in the writers' queue below. One lock test; false for
    // exclusive or unshared areas.
    bool WritersWaiting() const;

    // The queue of stations waiting to change the index (a station waiting for the table's
    // append lock joins it): JoinWriters notes which stations wait already and then holds
    // this station's wait byte, so that readers stand back for it as for a waiting writer
    // and stations joining later let it go first. WritersAheadGone answers true once each
    // station noted has had its turn (let its wait byte go, or the change counter moved on
    // twice for each of them, as each write moves it), or after a while in case of doubt. Becoming
    // the writer (LOCKSEMAPHORE) lets the wait byte go, as LeaveWriters does.
    void JoinWriters();
    bool WritersAheadGone();
    void LeaveWriters();
    // Room reserved past the end of the index file: HoldRoom(true) tells the other stations
    // that this one counts on it (until HoldRoom(false) or the logout); OthersHoldRoom
    // answers whether any other station does (one lock test; false for exclusive areas).
    void HoldRoom(bool held);
    bool OthersHoldRoom() const;

    // The longest a station in the queue lets the stations ahead of it go first (100 ms).
    void SetWritersAheadMaxMs(int ms) { aheadMaxMs_ = ms; }

    // Waiting: the record lock is tried up to 1001 times with a pause between tries; the
    // writer waits for readers until the read time-out (timer ticks, 18.2 per second; 0 =
    // no time-out). The pauses start at a few tens of microseconds and grow, so that the
    // 1,000 pauses together last as long as 1,000 full pauses of ms milliseconds.
    void SetRetryPauseMs(int ms) { pauseMs_ = ms; }
    void SetReadTimeoutTicks(uint16_t ticks) { timeoutTicks_ = ticks; }
    // Off: LOCKSEMAPHORE looks once and, finding other stations' counts, fails at once as
    // after the read time-out (a repair waiting for readers that kept it out before).
    void SetWaitForReaders(bool wait) { waitForReaders_ = wait; }
    // True when the last LOCKSEMAPHORE failed because other stations' counts stayed.
    bool ReadersKeptOut() const { return readersKeptOut_; }

  private:
    bool Passive() const { return exclusive_; }
    uint16_t Fail(uint16_t code, const std::string& message);
    void DropRecordLock();
    uint16_t TakeTableLock(SemAction action);
    void ReleaseTableLock();
    uint16_t TakeRecordLock(SemAction action);
    uint16_t ReleaseRecordLock(SemAction action);
    void MapRecord();
    void DropMapping();
    void CloseFile();
    uint16_t ReadRecord(SemAction action);
    uint16_t PeekCounter();
    uint16_t TakeRecordToCountIn(SemAction action);
    uint16_t WriteRecord(SemAction action);
    void Pause(int retry) const;
    void BumpCounter();
    void NoteChecked();
    uint16_t TakeSlot();
    uint16_t SetReaderSlot(bool held);
    void SetWriterWaitSlot(bool held);
    void NoteOthersWaiting();
    int OthersHolding(uint64_t base) const;
    void RepairActive();
    void RepairActiveAfterWriter();
    uint16_t DoLogin();
    uint16_t DoLogout();
    uint16_t DoIncRead();
    uint16_t DoDecRead();
    uint16_t DoLock();
    uint16_t DoUnlock();
    uint16_t CountInAsWriter(int own);
    uint16_t FailReadersStay();

    std::string name_;
    tz::File* table_ = nullptr;
    bool exclusive_ = false;
    bool sharing_ = true;
    tz::File file_;
    // The record through the file's shared mapping, or null (also after the file was found
    // cut short under it).
    uint8_t* map_ = nullptr;
    uint8_t record_[Sem::RecordSize] = {};
    bool loggedIn_ = false;
    bool holdsLock_ = false;
    bool isWriter_ = false;
    bool countedReader_ = false;
    int readerNesting_ = 0;
    int writerNesting_ = 0;
    int readProcNesting_ = 0;
    int lockProcNesting_ = 0;
    int slot_ = -1;
    bool queued_ = false;                // holds its wait byte as one of the writers' queue
    bool holdsRoom_ = false;             // holds its room byte (RoomSlots + slot_)
    std::bitset<Sem::SlotCount> ahead_;  // the stations that waited when it joined
    size_t aheadCount_ = 0;              // how many they were
    uint16_t joinCounter_ = 0;           // the change counter when it joined
    std::chrono::steady_clock::time_point joinedAt_{};
    int aheadMaxMs_ = 100;
    uint16_t seenCounter_ = 0;
    uint16_t checkedCounter_ = 0;  // see invariant 6
    uint32_t checkedWriters_ = 0;
    bool checked_ = false;  // checkedCounter_ is set
    int pauseMs_ = 10;
    uint16_t timeoutTicks_ = kDefaultReadTimeoutTicks;
    bool waitForReaders_ = true;
    bool readersKeptOut_ = false;
    uint16_t errCode_ = 0;
    std::string errMessage_;
};

}  // namespace Mdx
