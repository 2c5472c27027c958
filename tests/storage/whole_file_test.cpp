// Files rewritten whole: the content reaches the file only complete and by a rename, an
// unchanged content is not written, the file keeps its permissions, and a write that is
// abandoned or fails leaves the old file and nothing beside it.
#include "storage/whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "storage/tz_errors.h"
#include "tests/support/test_support.h"

namespace {

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(folder)) n += e.is_regular_file();
    return n;
}

TEST(WholeFileTest, WritesReplacesAndKeepsAnUnchangedFileAlone) {
    kjtest::TempDir dir;
    const std::string f = dir.file("liste.dbs");
    ASSERT_EQ(tz::WriteWholeFile(f, "a\r\n"), 0);
    EXPECT_EQ(kjtest::ReadFile(f), "a\r\n");
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(f.c_str(), &before), 0);
    ASSERT_EQ(tz::WriteWholeFile(f, "a\r\n"), 0);  // the same content: not written
    ASSERT_EQ(::stat(f.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(tz::WriteWholeFile(f, "b\r\nc\r\n"), 0);
    ASSERT_EQ(::stat(f.c_str(), &after), 0);
    EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed into place
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(kjtest::ReadFile(f), "b\r\nc\r\n");
    EXPECT_EQ(FilesIn(dir.path()), 1u);
    // The name's case is resolved like every other open.
    ASSERT_EQ(tz::WriteWholeFile(dir.file("LISTE.DBS"), "d"), 0);
    EXPECT_EQ(kjtest::ReadFile(f), "d");
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

TEST(WholeFileTest, ALinkKeepsPointingAtTheReplacedFile) {
    kjtest::TempDir dir;
    const std::string real = dir.file("rigtig.ini"), link = dir.file("link.ini");
    kjtest::WriteFile(real, "a");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_EQ(tz::WriteWholeFile(link, "b"), 0);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(kjtest::ReadFile(real), "b");
    EXPECT_EQ(FilesIn(dir.path()), 2u);
}

TEST(WholeFileTest, TheOldFileStaysUntilCommit) {
    kjtest::TempDir dir;
    const std::string f = dir.file("layout.kjr");
    kjtest::WriteFile(f, "old");
    {
        tz::WholeFileWriter w;
        ASSERT_EQ(w.Begin(f), 0);
        ASSERT_EQ(w.Write("new", 3), 0);
        EXPECT_EQ(kjtest::ReadFile(f), "old");
        ASSERT_EQ(w.Restart(), 0);
        ASSERT_EQ(w.Write("newer", 5), 0);
        EXPECT_EQ(w.Size(), 5u);
        ASSERT_EQ(w.Commit(), 0);
    }
    EXPECT_EQ(kjtest::ReadFile(f), "newer");
    {
        tz::WholeFileWriter w;  // abandoned: the file as it was, nothing beside it
        ASSERT_EQ(w.Begin(f), 0);
        ASSERT_EQ(w.Write("x", 1), 0);
    }
    EXPECT_EQ(kjtest::ReadFile(f), "newer");
    EXPECT_EQ(FilesIn(dir.path()), 1u);
    EXPECT_EQ(tz::WriteWholeFile(dir.file("mangler/fil.txt"), "x"), TzErr::PathNotFound);
    EXPECT_EQ(FilesIn(dir.path()), 1u);
}

}  // namespace
