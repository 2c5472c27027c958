// Read-only shared mappings through the file layer: writes through the same handle,
// another handle and another process show through the mapping at once; a mapping longer
// than the file reaches bytes appended later; mapping again widens it; close, truncate and
// moving a handle treat the mapping right.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "tests/support/test_support.h"

using namespace tz;

namespace {

// True when the process has a mapping of this file (by its real path).
bool MappedInProcess(const std::string& name) {
    const std::string real = std::filesystem::canonical(name).string();
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.size() >= real.size() &&
            line.compare(line.size() - real.size(), real.size(), real) == 0) {
            return true;
        }
    }
    return false;
}

std::string At(const uint8_t* view, size_t off, size_t n) {
    return std::string(reinterpret_cast<const char*>(view) + off, n);
}

TEST(FileMap, WritesFromEveryHandleShowThroughTheMapping) {
    kjtest::TempDir dir;
    const std::string name = dir.file("P.MDX");
    kjtest::WriteFile(name, std::string(8192, 'a'));

    File a, b;
    ASSERT_EQ(a.Open(name, Access::ReadOnly, ShareMode::DenyNone), 0);
    ASSERT_EQ(b.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    const uint8_t* view = nullptr;
    const uint64_t kMapped = 1 << 20;  // far past the end of the file
    ASSERT_EQ(a.Map(kMapped, &view), 0);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(a.MapView(), view);
    EXPECT_EQ(a.MapLength(), kMapped);
    EXPECT_EQ(At(view, 0, 4), "aaaa");
    EXPECT_EQ(At(view, 8188, 4), "aaaa");

    // Another handle of this process.
    ASSERT_EQ(b.WriteAt(100, "XY", 2), 0);
    EXPECT_EQ(At(view, 99, 4), "aXYa");

    // Another process, which also makes the file longer.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        File c;
        if (c.Open(name, Access::ReadWrite, ShareMode::DenyNone) != 0) _exit(1);
        if (c.WriteAt(300, "Z", 1) != 0) _exit(2);
        if (c.WriteAt(12000, "W", 1) != 0) _exit(3);
        _exit(c.Close() == 0 ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    uint64_t size = 0;
    ASSERT_EQ(a.Size(&size), 0);
    ASSERT_EQ(size, 12001u);
    EXPECT_EQ(At(view, 300, 1), "Z");
    // The grown part: reached through the same mapping, the gap reads as zeros.
    EXPECT_EQ(At(view, 11998, 3), std::string("\0\0W", 3));
    EXPECT_EQ(At(view, 8192, 8), std::string(8, '\0'));

    // Past the mapping: a longer mapping replaces it and keeps showing the earlier bytes.
    ASSERT_EQ(b.WriteAt(kMapped + 10, "G", 1), 0);
    const uint8_t* wide = nullptr;
    ASSERT_EQ(a.Map(2 * kMapped, &wide), 0);
    EXPECT_EQ(a.MapLength(), 2 * kMapped);
    EXPECT_EQ(At(wide, kMapped + 10, 1), "G");
    EXPECT_EQ(At(wide, 99, 4), "aXYa");
    // The mapping agrees with ReadAt over the whole file.
    ASSERT_EQ(a.Size(&size), 0);
    std::string all(size, '\0');
    size_t got = 0;
    ASSERT_EQ(a.ReadAt(0, all.data(), all.size(), &got), 0);
    ASSERT_EQ(got, size);
    EXPECT_TRUE(At(wide, 0, size) == all);

    // Moving the handle moves the mapping with it.
    File moved(std::move(a));
    EXPECT_EQ(a.MapView(), nullptr);
    EXPECT_EQ(a.MapLength(), 0u);
    EXPECT_EQ(moved.MapView(), wide);
    EXPECT_EQ(At(moved.MapView(), kMapped + 10, 1), "G");

    // Closing unmaps.
    EXPECT_TRUE(MappedInProcess(name));
    ASSERT_EQ(moved.Close(), 0);
    EXPECT_EQ(moved.MapView(), nullptr);
    EXPECT_EQ(moved.MapLength(), 0u);
    EXPECT_FALSE(MappedInProcess(name));

    // A truncate drops the mapping (bytes past the new end must not stay reachable).
    ASSERT_EQ(b.Map(size, &view), 0);
    EXPECT_TRUE(MappedInProcess(name));
    ASSERT_EQ(b.Truncate(4096), 0);
    EXPECT_EQ(b.MapView(), nullptr);
    EXPECT_FALSE(MappedInProcess(name));
    ASSERT_EQ(b.Map(4096, &view), 0);
    EXPECT_EQ(At(view, 4092, 4), "aaaa");

    // Mapping again, unmapping twice and the destructor leave nothing behind.
    b.Unmap();
    b.Unmap();
    EXPECT_FALSE(MappedInProcess(name));
    {
        File d;
        ASSERT_EQ(d.Open(name, Access::ReadOnly, ShareMode::DenyNone), 0);
        ASSERT_EQ(d.Map(4096, &view), 0);
        EXPECT_TRUE(MappedInProcess(name));
    }
    EXPECT_FALSE(MappedInProcess(name));
    b.Close();
    EXPECT_EQ(EraseFile(name), 0);  // no mapping keeps a share lock or the file
}

// Another program cuts a file short under a read-only mapping. A copy out of a page the
// file no longer holds reports 100 and the process goes on (the page reads as zeros from
// then on); bytes in the memory page where the file now ends, which read as zeros with no
// fault, are reported by ReadMappedInFile wherever the cut falls in that page; bytes
// before the cut read as they are. Another handle's mapping of the file faults alike.
TEST(FileMap, ACutUnderTheMappingIsReportedWhereverItFalls) {
    kjtest::TempDir dir;
    const std::string name = dir.file("cut.dat");
    constexpr uint64_t kSize = 6 * 4096;
    for (const uint64_t cut : {8192u, 8193u, 8704u, 10240u, 12287u}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        kjtest::WriteFile(name, std::string(kSize, 'x'));
        File f;
        ASSERT_EQ(f.Open(name, Access::ReadOnly, ShareMode::DenyNone), 0);
        const uint8_t* view = nullptr;
        ASSERT_EQ(f.Map(kSize, &view), 0);
        ASSERT_EQ(::truncate(name.c_str(), off_t(cut)), 0);
        char buf[512];
        // Before the cut.
        ASSERT_EQ(f.ReadMappedInFile(cut - 300, buf, 200, kSize), 0);
        EXPECT_EQ(std::string(buf, 200), std::string(200, 'x'));
        // Reaching past it, inside the memory page where the file ends.
        const uint64_t lastPage = (cut + 4095) / 4096 * 4096;
        if (lastPage > cut) {
            EXPECT_EQ(f.ReadMappedInFile(cut - 100, buf, 200, kSize), TzErr::DiskReadError);
            EXPECT_EQ(f.ReadMappedInFile(cut, buf, std::min<uint64_t>(100, lastPage - cut), kSize),
                      TzErr::DiskReadError);
        }
        // A whole memory page past the end: no SIGBUS ends the process.
        EXPECT_EQ(f.ReadMapped(lastPage + 100, buf, 100), TzErr::DiskReadError);
        EXPECT_EQ(f.ReadMappedInFile(lastPage + 100, buf, 100, kSize), TzErr::DiskReadError);
        f.Close();
    }
}

TEST(FileMap, RefusedWithoutAnOpenFileOrALength) {
    kjtest::TempDir dir;
    const std::string name = dir.file("E.MDX");
    kjtest::WriteFile(name, "abc");
    File f;
    const uint8_t* view = reinterpret_cast<const uint8_t*>(&f);
    EXPECT_EQ(f.Map(4096, &view), 6);
    EXPECT_EQ(view, nullptr);
    ASSERT_EQ(f.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    EXPECT_EQ(f.Map(0, &view), 6);
    EXPECT_EQ(f.MapView(), nullptr);
    // A failed mapping leaves the handle usable for ordinary reads and writes.
    ASSERT_EQ(f.WriteAt(3, "d", 1), 0);
    EXPECT_EQ(kjtest::ReadFile(name), "abcd");
}

}  // namespace
