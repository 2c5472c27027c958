// Locks and emulated share modes between real processes: a helper copy of this binary holds
// a file open and locked while the test checks what another station is refused, and that
// the system releases everything when the helper ends.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>

#include "storage/file_layer.h"
#include "tests/support/test_support.h"

using namespace tz;

namespace {

constexpr uint64_t kLockBase = 0x40000000ull;
constexpr uint64_t kHighOffset = 0x2'4000'0000ull;  // beyond 4 GB

// Helper: opens KJ_CHILD_file (shared, or exclusive when KJ_CHILD_mode is "exclusive"),
// locks the table semaphore byte and a high byte, says "LOCKED" and waits for a line.
TEST(LockStationHelper, Hold) {
    KJ_CHILD_ONLY();
    File f;
    ShareMode mode =
        kjtest::ChildArg("mode") == "exclusive" ? ShareMode::Exclusive : ShareMode::DenyNone;
    uint16_t rc = f.Open(kjtest::ChildArg("file"), Access::ReadWrite, mode);
    if (rc == 0) rc = f.Lock(kLockBase, 1);
    if (rc == 0) rc = f.Lock(kHighOffset, 1);
    kjtest::TellParent(rc == 0 ? "LOCKED" : "ERROR " + std::to_string(rc));
    kjtest::HearParent();  // "exit", or end of input
    // Leaves without closing: the system releases the locks with the process.
    std::_Exit(0);
}

// What another station sees while the helper holds a shared open and its locks.
void ExpectRefused(const std::string& name) {
    auto start = std::chrono::steady_clock::now();
    File f;
    ASSERT_EQ(f.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    EXPECT_EQ(f.Lock(kLockBase, 1), 33);
    EXPECT_EQ(f.Lock(kLockBase - 1, 4), 33);
    EXPECT_EQ(f.Lock(kHighOffset, 1), 33);
    EXPECT_EQ(f.Lock(kLockBase + 1, 1), 0);  // the neighbouring byte is free
    EXPECT_EQ(f.Truncate(0), 32);
    f.Close();
    EXPECT_EQ(f.Open(name, Access::ReadWrite, ShareMode::Exclusive), 32);
    EXPECT_EQ(EraseFile(name), 32);
    EXPECT_EQ(f.Create(name, ShareMode::DenyNone), 32);
    EXPECT_EQ(RenameFile(name, name + ".BAK"), 32);
    EXPECT_EQ(kjtest::ReadFile(name), "table bytes");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

void ExpectFree(const std::string& name) {
    File f;
    ASSERT_EQ(f.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    EXPECT_EQ(f.Lock(kLockBase, 1), 0);
    EXPECT_EQ(f.Lock(kHighOffset, 1), 0);
    f.Close();
    EXPECT_EQ(EraseFile(name), 0);
    EXPECT_FALSE(Exists(name));
}

TEST(LockStations, HelperExitsAndReleases) {
    kjtest::TempDir dir;
    std::string name = dir.file("SAGER.DBF");
    kjtest::WriteFile(name, "table bytes");
    kjtest::Child helper("LockStationHelper.Hold", {{"file", dir.file("sager.dbf")}});
    ASSERT_EQ(helper.ReadLine(), "LOCKED");
    ExpectRefused(name);
    helper.WriteLine("exit");
    EXPECT_EQ(helper.Wait(), 0);
    ExpectFree(name);
}

TEST(LockStations, KilledHelperReleases) {
    kjtest::TempDir dir;
    std::string name = dir.file("TID.DBF");
    kjtest::WriteFile(name, "table bytes");
    kjtest::Child helper("LockStationHelper.Hold", {{"file", name}});
    ASSERT_EQ(helper.ReadLine(), "LOCKED");
    ExpectRefused(name);
    helper.Kill();
    EXPECT_EQ(helper.Wait(), 128 + 9);
    ExpectFree(name);
}

TEST(LockStations, ExclusiveHelperKeepsOthersOut) {
    kjtest::TempDir dir;
    std::string name = dir.file("SAGER.MDX");
    kjtest::WriteFile(name, "index bytes");
    kjtest::Child helper("LockStationHelper.Hold", {{"file", name}, {"mode", "exclusive"}});
    ASSERT_EQ(helper.ReadLine(), "LOCKED");
    File f;
    EXPECT_EQ(f.Open(name, Access::ReadOnly, ShareMode::DenyNone), 32);
    EXPECT_EQ(f.Open(name, Access::ReadWrite, ShareMode::Exclusive), 32);
    EXPECT_EQ(EraseFile(name), 32);
    helper.CloseInput();  // end of input also lets it go
    EXPECT_EQ(helper.Wait(), 0);
    EXPECT_EQ(f.Open(name, Access::ReadOnly, ShareMode::Exclusive), 0);
}

}  // namespace

namespace {

// Helper: erases the file whenever nobody holds it open and makes it again, for a while.
TEST(LockStationHelper, EraseAndRemake) {
    KJ_CHILD_ONLY();
    const std::string name = kjtest::ChildArg("file");
    kjtest::TellParent("READY");
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < until) {
        if (EraseFile(name) == 0) {
            File f;
            f.Create(name, ShareMode::DenyNone);
        }
    }
    kjtest::TellParent("DONE");
}

bool SameFile(const File& f, const std::string& name) {
    struct stat a, b;
    return fstat(f.Fd(), &a) == 0 && stat(name.c_str(), &b) == 0 && a.st_ino == b.st_ino &&
           a.st_dev == b.st_dev;
}

}  // namespace

// An open holds the share byte of the file that its name names: one that another station
// erased (or replaced) between the open and the share byte is not kept, so a station never
// works on a file the others no longer see. Another handle's lock is seen by TestLock.
TEST(LockStations, OpenNeverHoldsAnErasedFile) {
    kjtest::TempDir dir;
    const std::string name = dir.file("kort.@S@");
    kjtest::WriteFile(name, "x");
    kjtest::Child child("LockStationHelper.EraseAndRemake", {{"file", name}});
    ASSERT_EQ(child.ReadLine(), "READY");
    int opened = 0, stale = 0;
    for (int i = 0; i < 200000 && opened < 20000; ++i) {
        File f;
        if (f.Open(name, Access::ReadWrite, ShareMode::DenyNone) != 0) continue;
        ++opened;
        if (!SameFile(f, name)) ++stale;
        File g;
        if (g.Open(name, Access::ReadWrite, ShareMode::DenyNone) == 0 && f.Lock(7, 1) == 0) {
            uint64_t at = 0, len = 0;
            EXPECT_EQ(g.TestLock(0, 16, &at, &len), 33);
            EXPECT_EQ(at, 7u);
            EXPECT_EQ(len, 1u);
            EXPECT_EQ(f.TestLock(0, 16, &at, &len), 0);  // its own lock is no conflict
        }
    }
    EXPECT_GT(opened, 0);
    EXPECT_EQ(stale, 0);
    EXPECT_EQ(child.ReadLine(), "DONE");
    EXPECT_EQ(child.Wait(), 0);
}
