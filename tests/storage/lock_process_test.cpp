// Locks and emulated share modes between real processes: a helper copy of this binary holds
// a file open and locked while the test checks what another station is refused, and that
// the system releases everything when the helper ends.
#include <gtest/gtest.h>

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
