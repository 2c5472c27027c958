// Work areas: selecting slots, opening from a command text (options, aliases), the guard of
// every command, and the lock matrix between areas of one process.
#include <unistd.h>

#include <cstdio>

#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "tests/storage/table_fixture.h"

namespace kjtest {
namespace {

class WorkAreaTest : public TableTest {
  protected:
    void SetUp() override {
        TableTest::SetUp();
        ASSERT_TRUE(Create("sager.dbf", {{"SAGS_NR", 'C', 10, 0}, {"SAGS_BEL", 'N', 8, 2}}));
        char buf[4096];
        ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
        oldDir_ = buf;
        ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    }
    void TearDown() override {
        TableTest::TearDown();
        EXPECT_EQ(chdir(oldDir_.c_str()), 0);
    }
    std::string oldDir_;
    // Appends n records to the current area under the append lock.
    void AppendRows(int n) {
        ASSERT_TRUE(Dbf4::ALock());
        for (int i = 0; i < n; ++i) {
            Dbf4::ClearRecord();
            SetC(1, "S" + std::to_string(Dbf4::RecCount() + 1));
            Dbf4::Append();
            ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        }
        Dbf4::Unlock();
    }
};

TEST_F(WorkAreaTest, SelectSlots) {
    for (int i = 1; i <= 32; ++i) Open(i, "sager ALIAS A" + std::to_string(i));
    Dbf4::Select(0);
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 33);
    Open(33, "sager ALIAS A33");
    Dbf4::Select(5);
    Dbf4::Select(0);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(TzCommon::LastMessage(), "No free workarea available [Select(0)]");
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 5);
    Dbf4::Select(34);
    EXPECT_EQ(TzCommon::LastMessage(), "Invalid workarea selected = [Select(34)]");
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 5);
    Dbf4::CloseAll();
    EXPECT_EQ(Dbf4::CurrentWorkArea(), 1);
    EXPECT_EQ(Dbf4::Current(), nullptr);
}

TEST_F(WorkAreaTest, UseCommandText) {
    Open(1, "sager ALIAS S1 EXCLUSIVE");
    EXPECT_EQ(Dbf4::AliasName(), "S1");
    EXPECT_EQ(Dbf4::DbfName(), dir_.path() + "/sager.DBF");
    EXPECT_TRUE(Dbf4::Current()->exclusive);
    Dbf4::CloseArea();
    Open(1, dir_.path() + "/SAGER");  // case-insensitive file, alias as spelled
    EXPECT_EQ(Dbf4::AliasName(), "SAGER");
    EXPECT_FALSE(Dbf4::Current()->exclusive);
    // " EXCLUSIVE" must stand alone as a word.
    Dbf4::Select(2);
    Dbf4::Use("sager exclusive2");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::FileNotFound);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Failure to open " + dir_.path() + "/sager exclusive2.DBF [USE/OpenDbf]");
    // The default alias may not be used twice; another alias may.
    Dbf4::Use(dir_.path() + "/SAGER");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(TzCommon::LastMessage(), "Alias name \"SAGER\" already in use. [USE]");
    EXPECT_EQ(Dbf4::Current(), nullptr);
    Open(2, "sager alias other");
    EXPECT_EQ(Dbf4::AliasName(), "other");
    // An exclusive open is refused while another area has the file open.
    Dbf4::Select(3);
    Dbf4::Use("sager alias third exclusive");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::SharingViolation);
}

TEST_F(WorkAreaTest, BufferChecks) {
    uint8_t buf[64];
    Dbf4::Select(1);
    Dbf4::Use("sager", buf, 0);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Buffer is NIL or size is zero, attempting to open sager [USE]");
    Dbf4::Use("sager", buf, 7);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidSize);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Database record/buffer size mismatch: sager [USE()]\n\rRecord Size=20, Buffer "
              "Size=7");
    Dbf4::Use("sager", buf, 20);  // 1 + 11 + 8
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_EQ(Dbf4::FieldAddress(0), buf);
}

TEST_F(WorkAreaTest, GuardOnEmptySlot) {
    Dbf4::Select(5);
    Dbf4::Go(1);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::NoDatabaseInUse);
    EXPECT_EQ(TzCommon::LastErrorMessage(),
              "Error # 215 (No database in use)\r\nNo database in use [GO]  WorkArea = 5");
    EXPECT_TRUE(Dbf4::dEOF());
    EXPECT_TRUE(Dbf4::dBOF());
    EXPECT_EQ(Dbf4::RecCount(), 0);
    EXPECT_FALSE(Dbf4::RLock());
}

TEST_F(WorkAreaTest, FieldAccess) {
    Open(1, "sager");
    EXPECT_EQ(Dbf4::FieldCount(), 2);
    EXPECT_EQ(Dbf4::FieldNo("sags_nr  "), 1);
    EXPECT_EQ(Dbf4::FieldNo("nothing"), 0);
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_EQ(Dbf4::Field(2), "SAGS_BEL");
    EXPECT_EQ(Dbf4::FieldType(3), ' ');
    EXPECT_EQ(TzCommon::LastMessage(), "Invalid field number. [FieldType(3)]");
    Dbf4::FieldLen(0);
    EXPECT_EQ(TzCommon::LastMessage(), " Invalid field number. [FieldLen(0)]");
    Dbf4::FieldDec(9);
    EXPECT_EQ(TzCommon::LastMessage(), " Invalid field number. [FieldDec(9)]");
    EXPECT_EQ(Dbf4::NativeRecordSize(), 20);
    EXPECT_EQ(Dbf4::RecSize(), 19);
}

// Lock matrix: file vs append vs record locks, in one area and between two areas of one
// process (which conflict like two stations).
TEST_F(WorkAreaTest, LockMatrix) {
    Open(1, "sager ALIAS A");
    AppendRows(10);
    Open(2, "sager ALIAS B");
    Dbf4::Select(1);
    Dbf4::Go(5);
    ASSERT_TRUE(Dbf4::RLock());
    EXPECT_TRUE(Dbf4::RLock());  // twice: one node
    EXPECT_EQ(Dbf4::Current()->locks.size(), 1u);
    EXPECT_FALSE(Dbf4::FLock());  // record locks must go first
    EXPECT_FALSE(Dbf4::ALock());

    Dbf4::Select(2);
    Dbf4::Go(5);
    EXPECT_EQ(TzCommon::ErrorWord(), 0);  // reading a locked record is allowed
    EXPECT_FALSE(Dbf4::RLock());
    EXPECT_EQ(Dbf4::settings().lastLockError, 33);
    Dbf4::Go(6);
    EXPECT_TRUE(Dbf4::RLock());
    Dbf4::Unlock();
    EXPECT_TRUE(Dbf4::ALock());  // the append lock does not conflict with record locks
    EXPECT_FALSE(Dbf4::FLock());
    Dbf4::Unlock();
    EXPECT_FALSE(Dbf4::FLock());  // area 1 still holds record 5

    Dbf4::Select(1);
    Dbf4::Unlock();
    ASSERT_TRUE(Dbf4::FLock());
    EXPECT_FALSE(Dbf4::RLock());
    EXPECT_TRUE(Dbf4::IsLocked(7));
    Dbf4::Select(2);
    EXPECT_FALSE(Dbf4::RLock());
    EXPECT_FALSE(Dbf4::ALock());
    Dbf4::Select(1);
    Dbf4::CloseArea();  // closing releases every lock
    Dbf4::Select(2);
    EXPECT_TRUE(Dbf4::FLock());
}

TEST_F(WorkAreaTest, RecordLockList) {
    Open(1, "sager");
    AppendRows(10);
    for (int r : {5, 7, 9}) {
        Dbf4::Go(r);
        ASSERT_TRUE(Dbf4::RLock());
    }
    EXPECT_TRUE(Dbf4::UnlockRec(-1));  // the oldest
    EXPECT_FALSE(Dbf4::IsLocked(5));
    EXPECT_TRUE(Dbf4::UnlockRec(-2));  // the newest
    EXPECT_FALSE(Dbf4::IsLocked(9));
    EXPECT_TRUE(Dbf4::IsLocked(7));
    EXPECT_FALSE(Dbf4::UnlockRec(3));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(TzCommon::LastMessage(), "Record not locked. [UnlockRec(3)]");
    EXPECT_TRUE(Dbf4::UnlockRec(7));
    EXPECT_EQ(Dbf4::Current()->lockState, Dbf4::kLockNone);

    Dbf4::settings().recordLockLimit = 2;
    Dbf4::Go(1);
    Dbf4::RLock();
    Dbf4::Go(2);
    Dbf4::RLock();
    Dbf4::Go(3);
    EXPECT_FALSE(Dbf4::RLock());
    EXPECT_EQ(TzCommon::LastMessage(), "Record lock limit exceeded [RLock]");
}

TEST_F(WorkAreaTest, RecordChangesNeedLocks) {
    Open(1, "sager ALIAS A");
    Dbf4::Append();
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::AccessDenied);
    EXPECT_EQ(TzCommon::LastMessage(),
              "File must be locked to append: " + dir_.path() + "/sager.DBF [APPEND]");
    AppendRows(3);
    Dbf4::Go(2);
    ASSERT_TRUE(Dbf4::RLock());
    Dbf4::Append();  // record locks are not enough
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::AccessDenied);
    Dbf4::Unlock();
    ASSERT_TRUE(Dbf4::ALock());
    Dbf4::Replace();
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RecordNotLocked);
    EXPECT_EQ(TzCommon::LastMessage(), "Record #2 in " + dir_.path() + "/sager.DBF [REPLACE]");
    Dbf4::DeleteRec();
    EXPECT_EQ(TzCommon::LastMessage(), dir_.path() + "/sager.DBF Record not locked [DeleteRec]");
    Dbf4::RecallRec();
    EXPECT_EQ(TzCommon::LastMessage(), "Record not locked [RecallRec]");
    Dbf4::Unlock();

    // Another station appends 3 records; our next append goes after them.
    Open(2, "sager ALIAS B");
    AppendRows(3);
    Dbf4::Select(1);
    AppendRows(1);
    EXPECT_EQ(Dbf4::RecNo(), 7);

    Dbf4::Go(7);
    Dbf4::Skip(1);
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::DeleteRec();
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidOperation);
    EXPECT_EQ(TzCommon::LastMessage(), dir_.path() + "/sager.DBF at EOF [DeleteRec]");
    Dbf4::Go(3);
    Dbf4::DeleteRec();
    EXPECT_TRUE(Dbf4::Deleted());
    Dbf4::Select(2);
    Dbf4::Go(3);
    EXPECT_TRUE(Dbf4::Deleted());  // the flag reached the file
}

TEST_F(WorkAreaTest, CloseWritesCountOfOtherStations) {
    Open(1, "sager ALIAS A");
    AppendRows(2);
    Open(2, "sager ALIAS B");
    AppendRows(3);
    Dbf4::CloseArea();
    Dbf4::Select(1);
    Dbf4::CloseArea();  // this station changed the table: header gets the recount
    std::string b = Bytes("sager.dbf");
    EXPECT_EQ(uint8_t(b[4]), 5);
    EXPECT_EQ(b.size(), 32u * 2 + 33 + 5 * 19 + 1);
    EXPECT_EQ(uint8_t(b.back()), 0x1A);
}

int g_idleCalls = 0;
int g_callbackAnswers = 0;
void CountIdle() {
    ++g_idleCalls;
}
bool RetryOnce() {
    return g_callbackAnswers-- > 0;
}

// The retry settings: retries + 1 attempts, each after letting messages through; a retry
// callback that answers true starts the round again.
TEST_F(WorkAreaTest, LockRetries) {
    Open(1, "sager ALIAS A");
    AppendRows(1);
    Open(2, "sager ALIAS B");
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::Select(1);
    Dbf4::SetIdleProc(CountIdle);
    Dbf4::settings().retryCount = 3;
    g_idleCalls = 0;
    // Messages go through between attempts, never before the first one.
    EXPECT_FALSE(Dbf4::RLock());
    EXPECT_EQ(g_idleCalls, 3);
    g_idleCalls = 0;
    g_callbackAnswers = 1;
    Dbf4::settings().retryCallback = RetryOnce;
    EXPECT_FALSE(Dbf4::ALock());
    EXPECT_EQ(g_idleCalls, 7);
    Dbf4::settings() = Dbf4::Settings();
    g_idleCalls = 0;
    EXPECT_FALSE(Dbf4::FLock());  // the default: one attempt, no wait
    EXPECT_EQ(g_idleCalls, 0);
    Dbf4::Select(2);
    Dbf4::Unlock();
    Dbf4::Select(1);
    EXPECT_TRUE(Dbf4::FLock());  // granted at once: nothing let through
    EXPECT_EQ(g_idleCalls, 0);
    Dbf4::SetIdleProc(nullptr);
}

void CloseWaitingArea() {
    Dbf4::Select(1);
    Dbf4::CloseArea();
}

// A lock wait lets window messages through; a handler that closes the waiting area ends the
// wait with the closed-area error, and nothing of the freed area is used after it.
TEST_F(WorkAreaTest, LockWaitEndsWhenItsAreaIsClosed) {
    enum Kind { kRecord, kAppend, kFile, kSemaphore };
    for (Kind kind : {kRecord, kAppend, kFile, kSemaphore}) {
        SCOPED_TRACE(kind);
        Open(1, "sager ALIAS A");
        AppendRows(1);
        Open(2, "sager ALIAS B");
        ASSERT_TRUE(kind == kSemaphore ? Dbf4::LockSemaphore() : Dbf4::FLock());
        Dbf4::Select(1);
        Dbf4::SetIdleProc(CloseWaitingArea);
        Dbf4::settings().retryCount = 1;
        const bool granted = kind == kRecord   ? Dbf4::RLock()
                             : kind == kAppend ? Dbf4::ALock()
                             : kind == kFile   ? Dbf4::FLock()
                                               : Dbf4::LockSemaphore();
        Dbf4::SetIdleProc(nullptr);
        EXPECT_FALSE(granted);
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::NoDatabaseInUse);
        EXPECT_EQ(Dbf4::AreaAt(1), nullptr);
        Dbf4::settings() = Dbf4::Settings();
        Dbf4::CloseAll();
    }
}

// A shared area that appended writes its end-of-file mark at close only while it holds the
// append byte, so the mark never lands on another station's new record.
uint32_t HeaderCount(const std::string& b) {
    return uint8_t(b[4]) | uint8_t(b[5]) << 8 | uint8_t(b[6]) << 16 | uint32_t(uint8_t(b[7])) << 24;
}

// A closing area writes header and end mark only under the append byte: while another area
// holds it (about to append) the header is left alone and no mark lands on the new record.
TEST_F(WorkAreaTest, HeaderAndEndMarkOnlyUnderAppendByte) {
    Open(1, "sager ALIAS A");
    Open(2, "sager ALIAS B");
    Dbf4::Select(1);
    AppendRows(2);
    Dbf4::Select(2);
    ASSERT_TRUE(Dbf4::ALock());  // another station is about to append
    Dbf4::Select(1);
    Dbf4::CloseArea();
    std::string b = Bytes("sager.dbf");
    const size_t hl = 32 * 2 + 33, rl = 19;
    EXPECT_EQ(HeaderCount(b), 0u);     // left for the appender (and every open) to count
    EXPECT_EQ(b.size(), hl + 2 * rl);  // and no mark
    Dbf4::Select(2);
    Dbf4::ClearRecord();
    SetC(1, "B1");
    Dbf4::Append();
    Dbf4::Unlock();
    Dbf4::CloseArea();  // free to take the byte: count and mark
    b = Bytes("sager.dbf");
    EXPECT_EQ(HeaderCount(b), 3u);
    ASSERT_EQ(b.size(), hl + 3 * rl + 1);
    EXPECT_EQ(b.substr(hl + 2 * rl, 3), " B1");
    EXPECT_EQ(uint8_t(b.back()), 0x1A);
}

// A table past 1 GiB (sparse here): record locks there run beyond 0x80000000. Locking such
// a record works while other handles have the table open, never drops this handle's own
// share lock, and another area's file lock excludes it.
TEST_F(WorkAreaTest, RecordLocksOfATablePastOneGiB) {
    ASSERT_TRUE(Create("big.dbf", {{"T", 'C', 250, 0}}));
    const uint64_t hl = 32 + 33, rl = 251;
    const int32_t high = int32_t((0x40000000ull - hl) / rl) + 1;  // its lock covers 2^31
    ASSERT_EQ(truncate(Path("big.dbf").c_str(), off_t(hl + (uint64_t(high) + 2) * rl)), 0);
    // The first record's delete flag over the empty table's end mark: the rows are records.
    {
        std::FILE* f = std::fopen(Path("big.dbf").c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        std::fseek(f, long(hl), SEEK_SET);
        std::fputc(' ', f);
        std::fclose(f);
    }
    Open(1, "big ALIAS A");
    Open(2, "big ALIAS B");
    Dbf4::Select(1);
    Dbf4::Go(high);
    EXPECT_TRUE(Dbf4::RLock());  // B merely has the table open
    Dbf4::Unlock();
    Dbf4::Select(2);
    ASSERT_TRUE(Dbf4::FLock());
    Dbf4::Select(1);
    Dbf4::Go(high + 2);
    EXPECT_FALSE(Dbf4::RLock());  // beyond 0x7FFFFFFF, still under B's file lock
    Dbf4::Select(2);
    Dbf4::CloseArea();
    Dbf4::Select(1);
    Dbf4::Go(high);
    ASSERT_TRUE(Dbf4::RLock());  // alone with the table
    Dbf4::Unlock();
    EXPECT_EQ(tz::EraseFile(Path("big.dbf")), 32);  // still open here: never erased
}

}  // namespace
}  // namespace kjtest
