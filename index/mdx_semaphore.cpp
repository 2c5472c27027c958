#include "index/mdx_semaphore.h"

#include <chrono>
#include <thread>

#include "index/mdx_format.h"
#include "storage/dbf4.h"

namespace Mdx {

uint64_t Sem::TableLockOffset() { return Dbf4::LockBase(); }

namespace {
constexpr int LockTries = 1001;        // record lock: 1,001 tries
constexpr int TableLockTries = 1001;   // the first try and 1,000 retries
constexpr double TicksPerSecond = 18.20648193;

}  // namespace

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
        case SemAction::Login: return "LOGIN";
        case SemAction::Logout: return "LOGOUT";
        case SemAction::IncRead: return "INCREAD";
        case SemAction::DecRead: return "DECREAD";
        case SemAction::Lock: return "LOCKSEMAPHORE";
        case SemAction::Unlock: return "UNLOCKSEMAPHORE";
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
    if (file_.IsOpen()) file_.Close();
}

void IndexSemaphore::Configure(const std::string& semaphoreFile, tz::File* table,
                               bool exclusive, bool sharing) {
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

void IndexSemaphore::Pause() const {
    if (pauseMs_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs_));
}

uint16_t IndexSemaphore::TakeTableLock(SemAction action) {
    if (!sharing_ || table_ == nullptr || !table_->IsOpen()) return 0;
    for (int i = 0; i < TableLockTries; ++i) {
        if (i > 0) Pause();
        if (table_->Lock(Sem::TableLockOffset(), 1) == 0) return 0;
    }
    return Fail(1202, "Cannot lock database for: " + table_->Path() + " Action=" +
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
    uint16_t rc = 0;
    for (int i = 0; i < LockTries; ++i) {
        if (i > 0) Pause();
        rc = file_.Lock(Sem::LockOffset, Sem::LockLength);
        if (rc == 0) {
            holdsLock_ = true;
            return 0;
        }
    }
    return Fail(1202, "10 second timeout: Cannot lock index semaphore file: " + name_ + " " +
                          SemActionName(action) +
                          "\r\nPossible cause: Network lock limit exceeded\r\n" +
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

uint16_t IndexSemaphore::ReadRecord(SemAction action) {
    size_t got = 0;
    uint8_t buf[Sem::RecordSize] = {0, 0, 0, 0};
    uint16_t rc = file_.ReadAt(0, buf, sizeof buf, &got);
    if (rc != 0) {
        return Fail(rc, "Cannot read: " + name_ + " " + SemActionName(action));
    }
    // A short file (cut by hand) counts as zeros.
    for (size_t i = 0; i < sizeof buf; ++i) record_[i] = buf[i];
    return 0;
}

uint16_t IndexSemaphore::WriteRecord(SemAction action) {
    uint16_t rc = file_.WriteAt(0, record_, Sem::RecordSize);
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
        case SemAction::Login: rc = DoLogin(); break;
        case SemAction::Logout: rc = DoLogout(); break;
        case SemAction::IncRead: rc = DoIncRead(); break;
        case SemAction::DecRead: rc = DoDecRead(); break;
        case SemAction::Lock: rc = DoLock(); break;
        case SemAction::Unlock: rc = DoUnlock(); break;
    }
    return rc == 0 ? 0 : ReportError(errCode_, errMessage_);
}

uint16_t IndexSemaphore::DoLogin() {
    if (loggedIn_) return 0;
    const SemAction a = SemAction::Login;
    uint16_t rc = TakeTableLock(a);
    if (rc != 0) return rc;
    // Made afresh only when no other station has it open; a file left by a station that
    // ended abnormally is thereby reset too.
    {
        tz::File probe;
        rc = probe.Create(name_, tz::ShareMode::Exclusive);
        if (rc == 0) {
            const uint8_t zero[Sem::RecordSize] = {0, 0, 0, 0};
            rc = probe.WriteAt(0, zero, sizeof zero);
            probe.Close();
        } else if (rc == 32) {
            rc = 0;
        }
    }
    if (rc == 0) rc = file_.Open(name_, tz::Access::ReadWrite, tz::ShareMode::DenyNone);
    if (rc != 0) {
        ReleaseTableLock();
        return Fail(rc, "Cannot open/create: " + name_ + " " + SemActionName(a));
    }
    holdsLock_ = isWriter_ = countedReader_ = false;
    readerNesting_ = writerNesting_ = readProcNesting_ = lockProcNesting_ = 0;
    if ((rc = TakeRecordLock(a)) != 0 || (rc = ReadRecord(a)) != 0) {
        DropRecordLock();
        file_.Close();
        ReleaseTableLock();
        return rc;
    }
    if (record_[Sem::Stations] < 255) ++record_[Sem::Stations];
    rc = WriteRecord(a);
    if (rc != 0) {
        DropRecordLock();
    } else {
        rc = ReleaseRecordLock(a);
    }
    if (rc != 0) {
        file_.Close();
        ReleaseTableLock();
        return rc;
    }
    seenCounter_ = Counter();
    loggedIn_ = true;
    ReleaseTableLock();
    return 0;
}

uint16_t IndexSemaphore::DoLogout() {
    const SemAction a = SemAction::Logout;
    uint16_t rc = TakeTableLock(a);
    if (rc != 0) return rc;
    loggedIn_ = false;
    rc = TakeRecordLock(a);
    if (rc == 0) rc = ReadRecord(a);
    if (rc == 0) {
        if ((countedReader_ || isWriter_) && record_[Sem::Active] > 0) --record_[Sem::Active];
        if (record_[Sem::Stations] > 0) --record_[Sem::Stations];
        rc = WriteRecord(a);
    }
    isWriter_ = countedReader_ = false;
    readerNesting_ = writerNesting_ = readProcNesting_ = lockProcNesting_ = 0;
    if (rc != 0) {
        DropRecordLock();
    } else {
        rc = ReleaseRecordLock(a);
    }
    file_.Close();
    // The last station removes the file; the file layer refuses while anyone has it open.
    if (rc == 0 && record_[Sem::Stations] == 0) tz::EraseFile(name_);
    ReleaseTableLock();
    return rc;
}

uint16_t IndexSemaphore::DoIncRead() {
    const SemAction a = SemAction::IncRead;
    if (++readerNesting_ > 1) return 0;
    if (holdsLock_ || countedReader_) return 0;  // a writer's own reads are not counted
    uint16_t rc = TakeRecordLock(a);
    if (rc == 0) rc = ReadRecord(a);
    if (rc == 0) {
        if (record_[Sem::Active] < 127) {
            ++record_[Sem::Active];
            countedReader_ = true;
        }
        rc = WriteRecord(a);
        if (rc != 0) countedReader_ = false;
    }
    if (rc != 0) {
        --readerNesting_;
        DropRecordLock();
        return rc;
    }
    return ReleaseRecordLock(a);
}

uint16_t IndexSemaphore::DoDecRead() {
    const SemAction a = SemAction::DecRead;
    if (--readerNesting_ < 0) {
        readerNesting_ = 0;
        return Fail(254, "Unbalanced IncRead/DecRead for semaphore file: " + name_ + " " +
                             SemActionName(a));
    }
    if (readerNesting_ > 0 || !countedReader_) return 0;
    if (holdsLock_) {
        // Inside this station's own write: its count is settled when the write ends.
        countedReader_ = false;
        return 0;
    }
    uint16_t rc = TakeRecordLock(a);
    if (rc == 0) rc = ReadRecord(a);
    if (rc == 0) {
        if (record_[Sem::Active] > 0) --record_[Sem::Active];
        countedReader_ = false;
        rc = WriteRecord(a);
    }
    if (rc != 0) {
        DropRecordLock();
        return rc;
    }
    return ReleaseRecordLock(a);
}

uint16_t IndexSemaphore::DoLock() {
    const SemAction a = SemAction::Lock;
    if (++writerNesting_ > 1 || holdsLock_) return 0;
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        uint16_t rc = TakeRecordLock(a);
        if (rc == 0) rc = ReadRecord(a);
        if (rc != 0) {
            --writerNesting_;
            DropRecordLock();
            return rc;
        }
        // This station's own counted read does not keep it waiting.
        int own = countedReader_ ? 1 : 0;
        if (record_[Sem::Active] <= own) break;
        rc = ReleaseRecordLock(a);
        if (rc != 0) {
            --writerNesting_;
            return rc;
        }
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (timeoutTicks_ != 0 && seconds * TicksPerSecond >= timeoutTicks_) {
            --writerNesting_;
            return Fail(1202, std::to_string(timeoutTicks_ / 18) +
                                  " second timeout, cannot read: " + name_ + "\r\n" +
                                  "Possible cause: Other user's program has terminated "
                                  "abnormally." +
                                  "\r\n" + "Cure: Log all users of this application off the "
                                           "network," +
                                  "\r\n" + "then delete " + name_);
        }
        Pause();
    }
    record_[Sem::Active] = uint8_t((countedReader_ ? 1 : 0) + 1);
    isWriter_ = true;
    uint16_t rc = WriteRecord(a);
    if (rc != 0) {
        isWriter_ = false;
        --writerNesting_;
        DropRecordLock();
        return rc;
    }
    return 0;
}

uint16_t IndexSemaphore::DoUnlock() {
    const SemAction a = SemAction::Unlock;
    if (--writerNesting_ < 0) {
        writerNesting_ = 0;
        return Fail(254, "Unbalanced Lock/Unlock for semaphore file: " + name_ + " " +
                             SemActionName(a));
    }
    if (writerNesting_ > 0 || !holdsLock_) return 0;
    uint16_t rc = ReadRecord(a);
    // A change by another station that this one has not taken in yet stays visible.
    bool pending = rc == 0 && Counter() != seenCounter_;
    if (rc == 0) {
        uint16_t counter = uint16_t(Counter() + 1);
        record_[Sem::Counter] = uint8_t(counter);
        record_[Sem::Counter + 1] = uint8_t(counter >> 8);
        record_[Sem::Active] = countedReader_ ? 1 : 0;
        rc = WriteRecord(a);
    }
    isWriter_ = false;
    if (rc != 0) {
        DropRecordLock();
        return rc;
    }
    if (!pending) seenCounter_ = Counter();
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
        return ReportError(254, "Non-symmetrical Lock-Unlock [SetReadSemaphoreProc]");
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
        return ReportError(254, "Non-symmetrical Lock-Unlock [SetLockSemaphoreProc]");
    }
    return lockProcNesting_ == 0 ? UnlockSemaphore() : 0;
}

}  // namespace Mdx
