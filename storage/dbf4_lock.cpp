// File, append and record locks of a work area, and the semaphore byte.
// Lock ranges lie far above the data (base 0x40000000), so they never block reading or
// writing: semaphore byte at base, append byte at base+1, file lock from base+1 to
// 0x7FFFFFFF, record n at base + header length + (n-1) x record length. Record locks of a
// table past about 1 GiB lie beyond 0x7FFFFFFF; the file lock reaches over them too.
#include <time.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "storage/dbf4_internal.h"
#include "storage/tz_common.h"

namespace Dbf4 {

using TzCommon::SetError;
using namespace internal;

bool Terminating();

namespace {

uint64_t RecordLockOffset(const WorkArea& a, int32_t r) {
    return settings().lockBase + uint64_t(uint32_t(a.headerLength)) +
           uint64_t(uint32_t(r - 1)) * a.recordLength;
}

bool UnlockNode(WorkArea& a, std::deque<int32_t>::iterator it) {
    uint16_t rc = LockRegion(true, a.file, RecordLockOffset(a, *it), a.recordLength);
    a.locks.erase(it);
    if (a.locks.empty()) a.lockState = kLockNone;
    return rc == 0;
}

uint64_t NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

// A lock just taken on a shared table: the current record is read again, so that nothing
// read before the lock (another station may have changed the record since) is written
// back. The values the caller assigned (Dbf4::AssignField) were not read: they stay and
// are still written. A failed read gives the lock up again.
bool RereadLocked(WorkArea& a, uint64_t offset, uint64_t length) {
    if (!Shared(a) || a.eof || a.recNo < 1 || a.recNo > a.recCount) return true;
    const std::vector<uint8_t> assigned = a.assigned;
    std::vector<uint8_t> mine;
    if (std::find(assigned.begin(), assigned.end(), 1) != assigned.end())
        mine.assign(NativeOf(a), a.native + a.nativeSize);
    if (!ReadScatter(a, a.recNo)) {
        LockRegion(true, a.file, offset, length);
        return false;
    }
    if (mine.empty()) return true;
    for (size_t i = 0; i < assigned.size() && i < a.fields.size(); ++i) {
        if (!assigned[i]) continue;
        const uint16_t at = a.fields[i].nativeOffset;
        std::memcpy(a.native + at, mine.data() + at, TzDbfLow::NativeWidth(a.fields[i]));
    }
    a.assigned = assigned;
    return true;
}

}  // namespace

uint64_t LockBase() {
    return settings().lockBase;
}

uint64_t FileLockLength(const WorkArea& a) {
    const uint64_t lastEnd =
        uint64_t(uint32_t(a.headerLength)) + uint64_t(TzDbfLow::kMaxRecords) * a.recordLength;
    return std::max(settings().fileLockLength, lastEnd - 1);
}

uint16_t LockRegion(bool unlock, tz::File& file, uint64_t offset, uint64_t length) {
    if (!settings().sharing) return 0;
    uint16_t rc = unlock ? file.Unlock(offset, length) : file.Lock(offset, length);
    if (rc != 0) settings().lastLockError = rc;
    return rc;
}

namespace {

// The retry loop of a lock. Before each try after the first, waiting messages go through;
// `gone` is asked after them (and after the waits and the retry callback before them) and
// ends the loop, refused, when the file to lock went with a closed area.
template <class Gone>
bool RetryLock(tz::File& file, uint64_t offset, uint64_t length, Gone gone) {
    Settings& s = settings();
    int tries = 0;
    bool refused = false;
    do {
        if (refused) {
            ProcessMessages();
            if (gone()) return false;
        }
        if (LockRegion(false, file, offset, length) == 0) return true;
        refused = true;
        if (tries < s.retryCount) WaitSeconds(s.retryWaitSeconds);
        ++tries;
        if (tries > s.retryCount && s.retryCallback && s.retryCallback()) tries = 0;
    } while (tries <= s.retryCount);
    gone();  // a close during the last wait is reported too
    return false;
}

// A lock of an area's own file: a window message handler that runs during the waits may
// close the area, which frees it and its file; the wait then ends with the closed-area
// error, and the caller returns without touching the area again.
bool LockAreaWithRetry(WorkArea& a, const char* routine, uint64_t offset, uint64_t length) {
    const std::weak_ptr<const bool> life = a.life;
    const int slot = CurrentWorkArea();
    return RetryLock(a.file, offset, length, [&] {
        if (!life.expired()) return false;
        SetError(TzErr::NoDatabaseInUse, std::string("No database in use [") + routine +
                                             "]  WorkArea = " + std::to_string(slot));
        return true;
    });
}

}  // namespace

bool LockWithRetry(tz::File& file, uint64_t offset, uint64_t length) {
    return RetryLock(file, offset, length, [] { return false; });
}

void WaitSeconds(int n) {
    const uint64_t start = NowMs();
    const uint64_t until = start + uint64_t(std::max(n, 0)) * 1000;
    while (NowMs() < until && !Terminating()) {
        ProcessMessages();
        struct timespec ts = {0, 10 * 1000 * 1000};
        nanosleep(&ts, nullptr);
    }
}

static bool TakeAreaLock(const char* name, uint8_t wanted, uint64_t offset, uint64_t length) {
    WorkArea* a = Guard(name);
    if (!a) return false;
    if (a->isVirtual) {
        SetError(TzErr::InvalidListOperation, std::string(" [") + name + "]");
        return false;
    }
    if (a->lockState == wanted) return true;
    if (a->lockState != kLockNone) return false;
    TzDbfLow::DropReadAhead(*a);
    if (Shared(*a) && !LockAreaWithRetry(*a, name, offset, length)) return false;
    if (wanted == kLockFile && !RereadLocked(*a, offset, length)) return false;
    a->lockState = wanted;
    ++a->lockSerial;
    return true;
}

bool FLock() {
    WorkArea* a = Current();
    return TakeAreaLock("FLock", kLockFile, AppendByte(), a ? FileLockLength(*a) : 1);
}

bool ALock() {
    return TakeAreaLock("ALock", kLockAppend, AppendByte(), 1);
}

bool RLock() {
    WorkArea* a = Guard("RLock");
    if (!a) return false;
    if (a->isVirtual) {
        SetError(TzErr::InvalidListOperation, " [RLock]");
        return false;
    }
    const Settings& s = settings();
    if (s.recordLockLimit != 0 && a->locks.size() >= s.recordLockLimit) {
        SetError(TzErr::RequestBeyondRange, "Record lock limit exceeded [RLock]");
        return false;
    }
    const int32_t r = a->recNo;
    if (a->lockState == kLockRecords &&
        std::find(a->locks.begin(), a->locks.end(), r) != a->locks.end())
        return true;
    if (a->lockState == kLockFile || a->lockState == kLockAppend) return false;
    TzDbfLow::DropReadAhead(*a);
    const uint64_t offset = RecordLockOffset(*a, r);
    if (Shared(*a) && !LockAreaWithRetry(*a, "RLock", offset, a->recordLength)) return false;
    if (!RereadLocked(*a, offset, a->recordLength)) return false;
    a->locks.push_front(r);
    a->lockState = kLockRecords;
    return true;
}

bool IsLocked(int32_t n) {
    WorkArea* a = Guard("IsLocked");
    if (!a) return false;
    if (a->isVirtual) {
        SetError(TzErr::InvalidListOperation, "[IsLocked]");
        return false;
    }
    if (a->lockState == kLockFile) return true;
    return std::find(a->locks.begin(), a->locks.end(), n) != a->locks.end();
}

bool UnlockRec(int32_t n) {
    TzCommon::ClearErrorWord();
    WorkArea* a = Guard("UnlockRec");
    if (!a) return false;
    auto notLocked = [&](const std::string& message) {
        // Recorded without dispatch: releasing what is not held is no failure to show.
        TzCommon::SetErrorWord(TzErr::InvalidParameter);
        uint8_t old = TzCommon::SetErrorChecking(0);
        SetError(TzErr::InvalidParameter, message);
        TzCommon::SetErrorChecking(old);
        return false;
    };
    if (n >= 1) {
        auto it = std::find(a->locks.begin(), a->locks.end(), n);
        if (it == a->locks.end())
            return notLocked("Record not locked. [UnlockRec(" + std::to_string(n) + ")]");
        return UnlockNode(*a, it);
    }
    if (n == -1 || n == -2) {
        if (a->locks.empty())
            return notLocked("Record not locked. [UnlockRec(" + std::to_string(n) + ")]");
        return UnlockNode(*a, n == -1 ? a->locks.end() - 1 : a->locks.begin());
    }
    if (n == -3) {
        bool ok = true;
        while (!a->locks.empty()) ok = UnlockNode(*a, a->locks.begin()) && ok;
        a->lockState = kLockNone;
        return ok;
    }
    return notLocked("[UnlockRec(" + std::to_string(n) + ")]");
}

void Unlock() {
    TzCommon::ClearErrorWord();
    WorkArea* a = Guard("Unlock");
    if (!a || a->isVirtual || a->lockState == kLockNone) return;
    if (a->lockState == kLockRecords) {
        UnlockRec(-3);
    } else if (Shared(*a)) {
        uint64_t len = a->lockState == kLockFile ? FileLockLength(*a) : 1;
        uint16_t rc = LockRegion(true, a->file, AppendByte(), len);
        if (rc != 0) TzCommon::SetErrorWord(rc);
    }
    a->lockState = kLockNone;
}

bool LockSemaphore() {
    WorkArea* a = Guard("LockSemaphore");
    if (!a) return false;
    if (!settings().sharing) return true;
    return LockAreaWithRetry(*a, "LockSemaphore", LockBase(), 1);
}

void UnlockSemaphore() {
    WorkArea* a = Guard("UnlockSemaphore");
    if (!a || !settings().sharing) return;
    uint16_t rc = LockRegion(true, a->file, LockBase(), 1);
    if (rc != 0)
        SetError(rc, "Error attempting to UNLOCK file " + a->fileName + " in Workarea " +
                         std::to_string(CurrentWorkArea()));
}

}  // namespace Dbf4
