// The file layer inside one process: emulated share modes, guarded erase/truncate/create/
// rename, lock conflicts between two handles, name resolution, error codes, temp files,
// free space and fault injection.
#include "storage/file_layer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <set>

#include "tests/support/test_support.h"

using namespace tz;

namespace {

constexpr uint64_t kLockBase = 0x40000000ull;

std::string Read(File& f, uint64_t off, size_t n) {
    std::string s(n, '\0');
    size_t got = 0;
    EXPECT_EQ(f.ReadAt(off, s.data(), n, &got), 0);
    s.resize(got);
    return s;
}

TEST(FileLayer, ShareModesBetweenTwoHandles) {
    kjtest::TempDir dir;
    std::string name = dir.file("T.DBF");
    kjtest::WriteFile(name, "abc");

    File a, b, c;
    ASSERT_EQ(a.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    EXPECT_EQ(b.Open(name, Access::ReadOnly, ShareMode::DenyNone), 0);
    EXPECT_EQ(c.Open(name, Access::ReadWrite, ShareMode::Exclusive), 32);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(Read(b, 0, 10), "abc");
    EXPECT_EQ(b.WriteAt(0, "x", 1), 5);  // a read-only handle does not write
    a.Close();
    EXPECT_EQ(c.Open(name, Access::ReadWrite, ShareMode::Exclusive), 32);  // b still open
    b.Close();
    ASSERT_EQ(c.Open(name, Access::ReadWrite, ShareMode::Exclusive), 0);
    EXPECT_EQ(a.Open(name, Access::ReadOnly, ShareMode::DenyNone), 32);
    EXPECT_EQ(a.Open(name, Access::ReadWrite, ShareMode::Exclusive), 32);
    // Moving a handle keeps its open file description and so its locks.
    File moved(std::move(c));
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(a.Open(name, Access::ReadOnly, ShareMode::DenyNone), 32);
    moved.Close();
    EXPECT_EQ(a.Open(name, Access::ReadOnly, ShareMode::DenyNone), 0);
}

TEST(FileLayer, EraseTruncateCreateRenameRefusedWhileOpenElsewhere) {
    kjtest::TempDir dir;
    std::string name = dir.file("SCRATCH.DBF");
    std::string other = dir.file("OTHER.DBF");
    kjtest::WriteFile(name, "0123456789");

    File a, b;
    ASSERT_EQ(a.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    ASSERT_EQ(b.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    EXPECT_EQ(EraseFile(name), 32);
    EXPECT_EQ(a.Truncate(3), 32);
    File c;
    EXPECT_EQ(c.Create(name, ShareMode::DenyNone), 32);
    EXPECT_EQ(RenameFile(name, other), 32);
    EXPECT_EQ(kjtest::ReadFile(name), "0123456789");  // nothing changed

    b.Close();
    // With only its own handle open, a handle may truncate (upgrading its share byte)
    // and afterwards holds its shared open again.
    EXPECT_EQ(a.Truncate(3), 0);
    EXPECT_EQ(kjtest::ReadFile(name), "012");
    EXPECT_EQ(b.Open(name, Access::ReadOnly, ShareMode::DenyNone), 0);
    EXPECT_EQ(a.Truncate(5), 32);
    b.Close();
    EXPECT_EQ(a.Truncate(5), 0);  // extends with zeros
    EXPECT_EQ(kjtest::ReadFile(name), std::string("012\0\0", 5));
    EXPECT_EQ(EraseFile(name), 32);  // a is another handle to the erase
    a.Close();

    EXPECT_EQ(c.Create(name, ShareMode::Exclusive), 0);
    EXPECT_EQ(kjtest::ReadFile(name), "");  // recreated empty
    EXPECT_EQ(a.Open(name, Access::ReadOnly, ShareMode::DenyNone), 32);
    c.Close();

    kjtest::WriteFile(other, "target");
    EXPECT_EQ(a.Open(other, Access::ReadOnly, ShareMode::DenyNone), 0);
    EXPECT_EQ(RenameFile(name, other), 32);  // the target is open
    a.Close();
    EXPECT_EQ(RenameFile(name, other), 0);
    EXPECT_FALSE(Exists(name));
    EXPECT_EQ(kjtest::ReadFile(other), "");

    EXPECT_EQ(EraseFile(other), 0);
    EXPECT_FALSE(Exists(other));
    EXPECT_EQ(EraseFile(other), 2);
}

TEST(FileLayer, LockConflictsBetweenHandlesNeverBlock) {
    kjtest::TempDir dir;
    std::string name = dir.file("LOCKS.DBF");
    kjtest::WriteFile(name, "x");
    File a, b;
    ASSERT_EQ(a.Open(name, Access::ReadWrite, ShareMode::DenyNone), 0);
    ASSERT_EQ(b.Open(name, Access::ReadOnly, ShareMode::DenyNone), 0);

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(a.Lock(kLockBase, 1), 0);
    EXPECT_EQ(b.Lock(kLockBase, 1), 33);
    EXPECT_EQ(a.Lock(kLockBase, 1), 0);  // again on the same handle: fine
    // The file lock range covers the record bytes.
    EXPECT_EQ(b.Lock(kLockBase + 1, 0x7FFFFFFF - kLockBase), 0);
    EXPECT_EQ(a.Lock(kLockBase + 1000, 10), 33);
    EXPECT_EQ(b.Unlock(kLockBase + 1, 0x7FFFFFFF - kLockBase), 0);
    EXPECT_EQ(a.Lock(kLockBase + 1000, 10), 0);
    EXPECT_EQ(b.Lock(kLockBase + 1009, 5), 33);  // overlaps the last byte
    EXPECT_EQ(b.Lock(kLockBase + 1010, 5), 0);   // adjacent
    // Engine locks do not touch the share byte, and the reverse.
    EXPECT_EQ(a.Lock(ShareByteOffset - 1, 1), 0);
    // Offsets beyond 4 GB are kept whole, not cut to 32 bits.
    const uint64_t high = 0x1'4000'0000ull;
    EXPECT_EQ(a.Lock(high, 1), 0);
    EXPECT_EQ(b.Lock(kLockBase, 1), 33);
    EXPECT_EQ(b.Lock(high + 1, 1), 0);
    EXPECT_EQ(b.Lock(high, 1), 33);
    EXPECT_EQ(a.Unlock(high, 1), 0);
    EXPECT_EQ(b.Lock(high, 1), 0);
    EXPECT_EQ(b.Lock(kLockBase, 1), 33);  // unlocking the high byte left a's low one
    EXPECT_EQ(a.Lock(0, 0), 0);           // an empty range locks nothing
    EXPECT_EQ(b.Lock(0, 1), 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(2));

    // Closing a handle releases its locks (and only its).
    a.Close();
    EXPECT_EQ(b.Lock(kLockBase, 1), 0);
    EXPECT_EQ(b.Lock(kLockBase + 1000, 10), 0);
    File closed;
    EXPECT_EQ(closed.Lock(0, 1), 6);
}

TEST(FileLayer, CaseInsensitiveNames) {
    kjtest::TempDir dir;
    std::filesystem::create_directories(dir.file("Data/Sager"));
    kjtest::WriteFile(dir.file("Data/Sager/SAGER.DBF"), "upper");

    EXPECT_EQ(ResolveName(dir.file("data/SAGER/sager.dbf")), dir.file("Data/Sager/SAGER.DBF"));
    EXPECT_EQ(ResolveName(dir.path() + "\\DATA\\sager\\Sager.Dbf"),
              dir.file("Data/Sager/SAGER.DBF"));
    EXPECT_TRUE(Exists(dir.file("data/sager/sager.dbf")));
    EXPECT_TRUE(DirExists(dir.file("DATA/SAGER")));
    EXPECT_FALSE(Exists(dir.file("DATA/SAGER")));
    EXPECT_FALSE(Exists(dir.file("data/sager/sager.mdx")));
    File f;
    ASSERT_EQ(f.Open(dir.file("DATA/sager/sager.dbf"), Access::ReadOnly, ShareMode::DenyNone), 0);
    EXPECT_EQ(f.Path(), dir.file("Data/Sager/SAGER.DBF"));
    EXPECT_EQ(Read(f, 0, 5), "upper");
    f.Close();

    // A new file keeps the spelling given, inside the folder as found.
    ASSERT_EQ(f.Create(dir.file("data/sager/Sager.Mdx"), ShareMode::DenyNone), 0);
    EXPECT_EQ(f.Path(), dir.file("Data/Sager/Sager.Mdx"));
    f.Close();
    EXPECT_TRUE(std::filesystem::exists(dir.file("Data/Sager/Sager.Mdx")));
    // Recreating under another spelling truncates the same file.
    ASSERT_EQ(f.Create(dir.file("DATA/SAGER/SAGER.MDX"), ShareMode::DenyNone), 0);
    EXPECT_EQ(f.Path(), dir.file("Data/Sager/Sager.Mdx"));
    f.Close();

    // The exact name wins over a case-insensitive one; two case-insensitive ones without
    // an exact match are ambiguous and found as given.
    kjtest::WriteFile(dir.file("Data/Sager/sager.dbf"), "lower");
    EXPECT_EQ(ResolveName(dir.file("Data/Sager/sager.dbf")), dir.file("Data/Sager/sager.dbf"));
    EXPECT_EQ(ResolveName(dir.file("Data/Sager/SAGER.DBF")), dir.file("Data/Sager/SAGER.DBF"));
    EXPECT_EQ(ResolveName(dir.file("Data/Sager/Sager.dbf")), dir.file("Data/Sager/Sager.dbf"));
    EXPECT_EQ(f.Open(dir.file("Data/Sager/Sager.dbf"), Access::ReadOnly, ShareMode::DenyNone), 2);

    // Erase and rename resolve too; a rename may change only the case.
    EXPECT_EQ(EraseFile(dir.file("data/sager/SAGER.mdx")), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("Data/Sager/Sager.Mdx")));
    EXPECT_EQ(RenameFile(dir.file("data/sager/sager.dbf"), dir.file("data/sager/Sag.dbf")), 0);
    EXPECT_EQ(kjtest::ReadFile(dir.file("Data/Sager/Sag.dbf")), "lower");
    EXPECT_EQ(RenameFile(dir.file("Data/Sager/Sag.dbf"), dir.file("Data/Sager/SAG.DBF")), 0);
    EXPECT_EQ(kjtest::ReadFile(dir.file("Data/Sager/SAG.DBF")), "lower");
    EXPECT_FALSE(std::filesystem::exists(dir.file("Data/Sager/Sag.dbf")));
}

TEST(FileLayer, ErrorCodes) {
    EXPECT_EQ(ErrnoToCode(ENOENT, false), 2);
    EXPECT_EQ(ErrnoToCode(ENOTDIR, false), 3);
    EXPECT_EQ(ErrnoToCode(ENAMETOOLONG, false), 3);
    EXPECT_EQ(ErrnoToCode(EMFILE, false), 4);
    EXPECT_EQ(ErrnoToCode(ENFILE, false), 4);
    EXPECT_EQ(ErrnoToCode(EACCES, false), 5);
    EXPECT_EQ(ErrnoToCode(EPERM, true), 5);
    EXPECT_EQ(ErrnoToCode(EBADF, false), 6);
    EXPECT_EQ(ErrnoToCode(ENOMEM, false), 8);
    EXPECT_EQ(ErrnoToCode(EXDEV, false), 17);
    EXPECT_EQ(ErrnoToCode(EROFS, true), 19);
    EXPECT_EQ(ErrnoToCode(EBUSY, false), 32);
    EXPECT_EQ(ErrnoToCode(EIO, false), 100);
    EXPECT_EQ(ErrnoToCode(EIO, true), 101);
    EXPECT_EQ(ErrnoToCode(ENOSPC, true), 101);

    kjtest::TempDir dir;
    File f;
    EXPECT_EQ(f.Open(dir.file("NONE.DBF"), Access::ReadWrite, ShareMode::DenyNone), 2);
    EXPECT_EQ(f.Open(dir.file("NOFOLDER/NONE.DBF"), Access::ReadWrite, ShareMode::DenyNone), 3);
    EXPECT_EQ(f.Create(dir.file("NOFOLDER/NEW.DBF"), ShareMode::DenyNone), 3);
    kjtest::WriteFile(dir.file("PLAIN"), "");
    EXPECT_EQ(f.Open(dir.file("PLAIN/X.DBF"), Access::ReadWrite, ShareMode::DenyNone), 3);
    EXPECT_EQ(f.Open(dir.path(), Access::ReadOnly, ShareMode::DenyNone), 5);
    EXPECT_EQ(f.Open(dir.path(), Access::ReadWrite, ShareMode::DenyNone), 5);
    // A long path is passed whole; the system refuses it.
    std::string longName = dir.file(std::string(300, 'a') + ".DBF");
    EXPECT_EQ(f.Create(longName, ShareMode::DenyNone), 3);
    EXPECT_EQ(EraseFile(dir.file("NONE.DBF")), 2);
    EXPECT_EQ(EraseFile(dir.path()), 5);
    EXPECT_EQ(RenameFile(dir.file("NONE.DBF"), dir.file("X.DBF")), 2);
    uint64_t size = 1;
    EXPECT_EQ(f.Size(&size), 6);
    EXPECT_EQ(f.WriteAt(0, "x", 1), 6);

    // Reads past the end are short, not errors.
    ASSERT_EQ(f.Create(dir.file("R.DAT"), ShareMode::DenyNone), 0);
    ASSERT_EQ(f.WriteAt(0x1'0000'0002ull, "hi", 2), 0);  // sparse, beyond 4 GB
    EXPECT_EQ(f.Size(&size), 0);
    EXPECT_EQ(size, 0x1'0000'0004ull);
    EXPECT_EQ(Read(f, 0x1'0000'0000ull, 10), std::string("\0\0hi", 4));
    EXPECT_EQ(Read(f, 0x2'0000'0000ull, 10), "");
    EXPECT_EQ(f.Sync(), 0);
    EXPECT_EQ(f.Truncate(0), 0);

    EXPECT_EQ(SetFileTime(dir.file("r.dat"), 1000000000), 0);
    EXPECT_EQ(FileTime(dir.file("R.DAT")), 1000000000);
    EXPECT_EQ(FileTime(dir.file("NONE.DBF")), 0);
}

TEST(FileLayer, TempFilesAndFreeSpace) {
    kjtest::TempDir dir;
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        std::string name;
        ASSERT_EQ(MakeTempFile("TZ", &name), 0);
        EXPECT_EQ(name.rfind(dir.path() + "/TZ", 0), 0u) << name;
        EXPECT_TRUE(Exists(name));
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 20u);
    setenv("TMPDIR", dir.file("missing").c_str(), 1);
    std::string name;
    EXPECT_EQ(MakeTempFile("TZ", &name), 3);
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");

    auto space = std::filesystem::space(dir.path());
    int64_t expected =
        static_cast<int64_t>(std::min<uintmax_t>(space.available / 1024, 2147483647u));
    int64_t got = DiskFreeKB(dir.path());
    EXPECT_GT(got, 0);
    EXPECT_LE(got, 2147483647);
    EXPECT_NEAR(static_cast<double>(got), static_cast<double>(expected), 64 * 1024);
    // The folder that would hold it (other tests write meanwhile: allow some drift).
    EXPECT_NEAR(double(DiskFreeKB(dir.file("NOT-YET.DBF"))), double(got), 64 * 1024);
    EXPECT_EQ(DiskFreeKB(dir.file("NOFOLDER/X.DBF")), -1);
}

TEST(FileLayer, FaultInjection) {
    kjtest::TempDir dir;
    std::string name = dir.file("F.DAT");
    File f;
    ASSERT_EQ(f.Create(name, ShareMode::DenyNone), 0);

    FaultInjector fi;
    fi.failAt = 3;
    SetFaultInjector(&fi);
    EXPECT_EQ(f.WriteAt(0, "a", 1), 0);
    EXPECT_EQ(f.Sync(), 0);  // syncs count too
    EXPECT_EQ(f.WriteAt(1, "b", 1), 101);
    EXPECT_EQ(f.WriteAt(1, "c", 1), 101);  // sticky
    EXPECT_EQ(f.Truncate(0), 101);
    EXPECT_EQ(fi.writes, 5);
    fi.sticky = false;
    EXPECT_EQ(f.WriteAt(1, "d", 1), 0);
    fi.failAt = -1;
    fi.failSync = true;
    EXPECT_EQ(f.Sync(), 101);
    SetFaultInjector(nullptr);
    EXPECT_EQ(CurrentFaultInjector(), nullptr);
    EXPECT_EQ(f.Sync(), 0);
    EXPECT_EQ(kjtest::ReadFile(name), "ad");  // the refused writes left nothing
    f.Close();

    // A crash ends the process at the N-th write, before that write reaches the file.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        File g;
        if (g.Open(name, Access::ReadWrite, ShareMode::DenyNone) != 0) _exit(1);
        FaultInjector crash;
        crash.failAt = 2;
        crash.crash = true;
        crash.crashExitCode = 77;
        SetFaultInjector(&crash);
        g.WriteAt(0, "X", 1);
        g.WriteAt(1, "Y", 1);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 77);
    EXPECT_EQ(kjtest::ReadFile(name), "Xd");
    EXPECT_EQ(EraseFile(name), 0);  // the crashed process left no share lock behind
}

}  // namespace
