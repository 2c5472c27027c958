// Text, number and file helpers: padding and trimming, option words, numbers with the
// engine's decimal character, path splitting, copying, erasing by mask and temporary names.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "storage/dates.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_storage.h"
#include "storage/tz_utils.h"
#include "tests/support/test_support.h"

using namespace TzUtils;

namespace {

class UtilsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TzStorage::Reset();
        TzCommon::SetErrorChecking(0);
    }
    void TearDown() override { TzStorage::Reset(); }
};

// Each trim takes off only its own kind of blank: the engine's every byte up to the space,
// or spaces only, or spaces and tabs; and only at the ends its name says.
TEST_F(UtilsTest, EachTrimTakesOffItsOwnBlanks) {
    const std::string mixed("\t\0 a b \0\r\n \t", 12);
    EXPECT_EQ(TrimRight(mixed), std::string("\t\0 a b", 6));
    EXPECT_EQ(TrimLeft(mixed), std::string("a b \0\r\n \t", 9));
    EXPECT_EQ(TzCommon::AllTrim(mixed), "a b");
    EXPECT_EQ(TrimSpaces(mixed), mixed);  // neither end is a space
    EXPECT_EQ(TrimSpaces(std::string("  a\tb\0 ", 7)), std::string("a\tb\0", 4));
    EXPECT_EQ(TrimRightSpaces("  a\t  "), "  a\t");
    EXPECT_EQ(TrimSpacesTabs(" \t a\r \t"), "a\r");
    EXPECT_EQ(TrimSpacesTabs(std::string("\0 a", 3)), std::string("\0 a", 3));
    for (const std::string& allBlank : {std::string(), std::string("   ")}) {
        EXPECT_EQ(TrimSpaces(allBlank), "");
        EXPECT_EQ(TrimRightSpaces(allBlank), "");
        EXPECT_EQ(TrimSpacesTabs(allBlank + "\t"), "");
    }
}

// PadRight never cuts; PadRightOrCut gives exactly n bytes, the first n of a longer text.
TEST_F(UtilsTest, PaddingCutsOnlyWhenItsNameSays) {
    EXPECT_EQ(PadRight("abc", 5), "abc  ");
    EXPECT_EQ(PadRight("abc", 2), "abc");
    EXPECT_EQ(PadRight("abc", -1), "abc");
    EXPECT_EQ(PadRightOrCut("abc", 5), "abc  ");
    EXPECT_EQ(PadRightOrCut("abc", 2), "ab");
    EXPECT_EQ(PadRightOrCut("", 3), "   ");
    EXPECT_EQ(PadRightOrCut("abc", 0), "");
}

TEST_F(UtilsTest, TextHelpers) {
    EXPECT_EQ(Space(3), "   ");
    EXPECT_EQ(Space(0), "");
    EXPECT_EQ(Space(-4), "");
    EXPECT_EQ(Replicate('*', 4), "****");
    EXPECT_EQ(Replicate('*', -1), "");
    EXPECT_EQ(TrimRight("ab \t\r\n\x01 "), "ab");
    EXPECT_EQ(TrimLeft("\t \x1F"
                       "ab "),
              "ab ");
    EXPECT_EQ(TzCommon::AllTrim("  \xE6\xF8\xE5\r\n"), "\xE6\xF8\xE5");  // high bytes stay
    EXPECT_EQ(TzCommon::TrimRight("   "), "");
    EXPECT_EQ(AnsiUpper("k\xE6re \xF8l \xFF"), "K\xC6RE \xD8L \x9F");
    EXPECT_EQ(UpCaseChar('\xE5'), '\xC5');
    EXPECT_EQ(LoCaseChar('\xC5'), '\xE5');
    EXPECT_EQ(UpCaseChar('\xF7'), '\xF7');
    EXPECT_TRUE(
        IsAlpha("\xC6"
                "ble"));
    EXPECT_FALSE(IsAlpha("1abc"));
    EXPECT_FALSE(IsAlpha(""));
    EXPECT_EQ(IIf(true, "a", "b"), "a");
    EXPECT_EQ(IIf(false, "a", "b"), "b");
    EXPECT_EQ(Occurs("aa", "aaaaa"), 2);  // non-overlapping
    EXPECT_EQ(Occurs("a", "banana"), 3);
    EXPECT_EQ(Occurs("", "banana"), 0);
    EXPECT_EQ(Occurs("x", ""), 0);
    EXPECT_EQ(FindNoCase(1, "\xC6RE", "k\xE6re k\xE6re"), 2);
    EXPECT_EQ(FindNoCase(3, "\xC6RE", "k\xE6re k\xE6re"), 7);
    EXPECT_EQ(FindNoCase(0, "KA", "Kasse"), 1);
    EXPECT_EQ(FindNoCase(9, "a", "abc"), 0);
    EXPECT_EQ(FindNoCase(1, "", "abc"), 0);
    EXPECT_EQ(FindNoCase(1, "zz", "abc"), 0);
    EXPECT_EQ(TzCommon::OemToAnsiStr(TzCommon::AnsiToOemStr("\xE6\xF8\xE5\xC6\xD8\xC5")),
              "\xE6\xF8\xE5\xC6\xD8\xC5");
}

TEST_F(UtilsTest, ExtractOption) {
    std::string text = "kunde exclusive";
    EXPECT_TRUE(ExtractOption(" EXCLUSIVE", text));
    EXPECT_EQ(text, "kunde");

    text = "kunde exclusive2";
    EXPECT_FALSE(ExtractOption(" EXCLUSIVE", text));
    EXPECT_EQ(text, "kunde exclusive2");

    for (const char* follow : {"x", "9", ",", ".", "/", "\xE6"}) {
        text = std::string("kunde exclusive") + follow;
        EXPECT_FALSE(ExtractOption(" EXCLUSIVE", text)) << follow;
    }
    // Every free occurrence goes; one glued to a letter stays.
    text = "  a Exclusive b EXCLUSIVEX c exclusive ";
    EXPECT_TRUE(ExtractOption(" EXCLUSIVE", text));
    EXPECT_EQ(text, "a b EXCLUSIVEX c");
    text = " exclusive";
    EXPECT_TRUE(ExtractOption(" EXCLUSIVE", text));
    EXPECT_EQ(text, "");
    text = "abc";
    EXPECT_FALSE(ExtractOption("", text));
}

TEST_F(UtilsTest, NumbersUseTheEngineDecimalCharacter) {
    EXPECT_EQ(StrFloat(1234.5, 10, 2), "   1234.50");
    EXPECT_EQ(StrFloat(-0.125, 6, 1), "  -0.1");
    EXPECT_EQ(StrFloat(3.0, 1, 0), "3");
    EXPECT_EQ(StrFloat(12345.0, 2, 0), "12345");  // never cut
    EXPECT_EQ(StrInt(42, 5), "   42");
    EXPECT_EQ(StrInt(-42, 0), "-42");
    EXPECT_EQ(StrInt(1LL << 40, 3), "1099511627776");
    EXPECT_EQ(ValFloat("$ 1,234.5"), 1234.5);
    EXPECT_EQ(ValFloat(""), 0.0);
    EXPECT_EQ(ValFloat("abc"), 0.0);
    EXPECT_EQ(ValFloat("nan"), 0.0);
    EXPECT_EQ(ValFloat("-3.25 kr"), -3.25);
    EXPECT_EQ(ValInt("1,234.99"), 1234);
    EXPECT_EQ(ValInt("-17"), -17);
    EXPECT_EQ(ValInt("99999999999"), 2147483647);
    EXPECT_EQ(ValInt("x"), 0);

    TzCommon::SetDecimalChar(',');
    TzCommon::SetThousandsChar('.');
    EXPECT_EQ(StrFloat(1234.5, 10, 2), "   1234,50");
    EXPECT_EQ(StrFloat(1234.7, 6, 0), "  1235");  // no decimals: no decimal character
    EXPECT_EQ(ValFloat("1.234,50"), 1234.5);
    EXPECT_EQ(ValInt("1.234,99"), 1234);
    TzCommon::SetThousandsChar(' ');
    EXPECT_EQ(ValFloat("1 234,5"), 1234.5);
}

TEST_F(UtilsTest, FormatNumber) {
    EXPECT_EQ(FormatNumber("$1,234 kr"), 1234);
    EXPECT_EQ(FormatNumber("40000"), 32767);
    EXPECT_EQ(FormatNumber("-40000"), -32768);
    EXPECT_EQ(FormatNumber("99999999999999999999"), 32767);
    EXPECT_EQ(FormatNumber("+12"), 12);
    EXPECT_EQ(FormatNumber(""), 0);
    EXPECT_EQ(FormatNumber("kr"), 0);
    EXPECT_EQ(FormatNumber("  1234"), 1234);  // right-aligned text
    EXPECT_EQ(FormatNumber("12.9"), 12);
    EXPECT_EQ(FormatNumber("-7x"), -7);
    TzCommon::SetDecimalChar(',');
    EXPECT_EQ(FormatNumber("1.234"), 1234);
    EXPECT_EQ(FormatNumber("1.234,75"), 1234);
}

TEST_F(UtilsTest, PathsAndExtensions) {
    using TzCommon::FSplit;
    TzCommon::SplitPath p = FSplit("data\\sub\\KUNDE.DBF");
    EXPECT_EQ(p.dir, "data/sub/");
    EXPECT_EQ(p.name, "KUNDE");
    EXPECT_EQ(p.ext, ".DBF");
    p = FSplit("/a.b/noext");
    EXPECT_EQ(p.dir, "/a.b/");
    EXPECT_EQ(p.name, "noext");
    EXPECT_EQ(p.ext, "");
    p = FSplit("x.tar.gz");
    EXPECT_EQ(p.dir, "");
    EXPECT_EQ(p.name, "x.tar");
    EXPECT_EQ(p.ext, ".gz");
    const std::string longName(300, 'n');
    const std::string longExt = "." + std::string(100, 'e');
    p = FSplit("/tmp/" + longName + longExt);
    EXPECT_EQ(p.name, longName);  // kept whole
    EXPECT_EQ(p.ext, longExt);

    using TzCommon::FExpand;
    EXPECT_EQ(FExpand("/a/b/../c/./d"), "/a/c/d");
    EXPECT_EQ(FExpand("\\a\\b\\..\\c"), "/a/c");
    EXPECT_EQ(FExpand("/a//b/"), "/a/b/");
    EXPECT_EQ(FExpand("/.."), "/");
    const std::string deep = "/" + std::string(200, 'd') + "/" + std::string(200, 'e') + "/f";
    EXPECT_EQ(FExpand(deep), deep);  // no 255-character cut
    const std::string rel = FExpand("x.dbf");
    EXPECT_EQ(rel.front(), '/');
    EXPECT_EQ(rel.substr(rel.size() - 6), "/x.dbf");

    using TzCommon::DefaultExtension;
    using TzCommon::ForceExtension;
    EXPECT_EQ(DefaultExtension("kunde", "DBF"), "kunde.DBF");
    EXPECT_EQ(DefaultExtension("kunde", ".DBF"), "kunde.DBF");
    EXPECT_EQ(DefaultExtension("kunde.dbf", "MDX"), "kunde.dbf");
    EXPECT_EQ(DefaultExtension("dir.x/kunde", "DBF"), "dir.x/kunde.DBF");
    EXPECT_EQ(ForceExtension("kunde.dbf", "MDX"), "kunde.MDX");
    EXPECT_EQ(ForceExtension("dir.x\\kunde", "MDX"), "dir.x\\kunde.MDX");
    EXPECT_EQ(ForceExtension("kunde.dbf", ""), "kunde");
}

TEST_F(UtilsTest, CopyFile) {
    kjtest::TempDir dir;
    const std::string src = dir.file("source.txt");
    std::string content;
    for (int i = 0; i < 200000; ++i) content += static_cast<char>(i * 7 % 251);
    kjtest::WriteFile(src, content);
    ASSERT_EQ(tz::SetFileTime(src, 1000000000), 0);

    const std::string dst = dir.file("copy.txt");
    ASSERT_TRUE(CopyFile(src, dst));
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_EQ(kjtest::ReadFile(dst), content);
    EXPECT_EQ(tz::FileTime(dst), 1000000000);
    // An existing target is replaced.
    kjtest::WriteFile(dst, std::string(300000, 'x'));
    ASSERT_TRUE(CopyFile(src, dst));
    EXPECT_EQ(kjtest::ReadFile(dst), content);

    // Onto itself under other spellings: refused, the file untouched.
    const std::string others[] = {dir.path() + "/./source.txt", dir.path() + "\\source.txt",
                                  dir.path() + "//x/../source.txt", dir.file("SOURCE.TXT")};
    for (const std::string& other : others) {
        SCOPED_TRACE(other);
        EXPECT_FALSE(CopyFile(src, other));
        EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
        EXPECT_EQ(TzCommon::LastMessage(),
                  "File cannot be copied onto itself. [CopyFile(" + src + "," + other + ")]");
        EXPECT_EQ(kjtest::ReadFile(src), content);
    }

    const std::string missing = dir.file("missing.txt");
    EXPECT_FALSE(CopyFile(missing, dst));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::FileNotFound);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Error reading " + missing + " [CopyFile(" + missing + "," + dst + ")]");

    // A target held open elsewhere is not overwritten.
    tz::File held;
    ASSERT_EQ(held.Open(dst, tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    EXPECT_FALSE(CopyFile(src, dst));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::SharingViolation);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Error writing " + dst + " [CopyFile(" + src + "," + dst + ")]");
    held.Close();

    // A failed write leaves no half copy behind.
    const std::string third = dir.file("third.txt");
    tz::FaultInjector faults;
    faults.failAt = 2;
    tz::SetFaultInjector(&faults);
    const bool ok = CopyFile(src, third);
    tz::SetFaultInjector(nullptr);
    EXPECT_FALSE(ok);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::DiskWriteError);
    EXPECT_EQ(TzCommon::LastMessage(),
              "Error writing " + third + " [CopyFile(" + src + "," + third + ")]");
    EXPECT_FALSE(FileExists(third));
}

TEST_F(UtilsTest, EraseFilesByMask) {
    kjtest::TempDir dir;
    for (const char* name : {"a.tmp", "B.TMP", "c.dbf", "noext", "a.tmpx"})
        kjtest::WriteFile(dir.file(name), "x");
    mkdir(dir.file("sub.tmp").c_str(), 0700);

    EXPECT_TRUE(EraseFiles(dir.path() + "/*.TMP"));
    EXPECT_FALSE(FileExists(dir.file("a.tmp")));
    EXPECT_FALSE(FileExists(dir.file("B.TMP")));
    EXPECT_TRUE(FileExists(dir.file("a.tmpx")));
    EXPECT_TRUE(FileExists(dir.file("c.dbf")));
    EXPECT_TRUE(tz::DirExists(dir.file("sub.tmp")));

    EXPECT_TRUE(EraseFiles(dir.path() + "\\?.dbf"));
    EXPECT_FALSE(FileExists(dir.file("c.dbf")));
    EXPECT_TRUE(EraseFiles(dir.path() + "/nothing*.xyz"));
    EXPECT_EQ(TzCommon::ErrorWord(), 0);

    // Files held open elsewhere cannot be erased (as on Windows).
    kjtest::WriteFile(dir.file("k1.dat"), "1");
    kjtest::WriteFile(dir.file("k2.dat"), "2");
    kjtest::WriteFile(dir.file("k3.dat"), "3");
    tz::File h1, h2;
    ASSERT_EQ(h1.Open(dir.file("k1.dat"), tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    EXPECT_FALSE(EraseFiles(dir.path() + "/k*.dat"));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::SharingViolation);
    EXPECT_EQ(TzCommon::LastMessage(), "Error erasing " + dir.file("k1.dat"));
    EXPECT_FALSE(FileExists(dir.file("k2.dat")));  // the others went
    kjtest::WriteFile(dir.file("k2.dat"), "2");
    ASSERT_EQ(h2.Open(dir.file("k2.dat"), tz::Access::ReadOnly, tz::ShareMode::DenyNone), 0);
    EXPECT_FALSE(EraseFiles(dir.path() + "/K*.DAT"));
    EXPECT_EQ(TzCommon::LastMessage(), "Could not erase 2 files like " + dir.path() + "/K*.DAT");
    h1.Close();
    h2.Close();

    // "*.*" also takes names without an extension.
    EXPECT_TRUE(EraseFiles(dir.path() + "/*.*"));
    EXPECT_FALSE(FileExists(dir.file("noext")));
    EXPECT_FALSE(FileExists(dir.file("a.tmpx")));
}

TEST_F(UtilsTest, UniqueFilenameAndDiskFree) {
    kjtest::TempDir dir;
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    setenv("TMPDIR", dir.path().c_str(), 1);
    for (const char* name : {"TZPAAAAAA", "TZP000000", "TZPzzzzzz", "tzpabcdef"})
        kjtest::WriteFile(dir.file(name), "taken");
    const std::string a = UniqueFilename();
    const std::string b = UniqueFilename();
    if (old)
        setenv("TMPDIR", saved.c_str(), 1);
    else
        unsetenv("TMPDIR");

    for (const std::string& n : {a, b}) {
        ASSERT_FALSE(n.empty());
        EXPECT_EQ(TzCommon::FSplit(n).dir, dir.path() + "/");
        EXPECT_EQ(TzCommon::FSplit(n).name.substr(0, 3), "TZP");
        EXPECT_TRUE(FileExists(n));
        EXPECT_EQ(kjtest::ReadFile(n), "");
    }
    EXPECT_NE(a, b);
    EXPECT_EQ(kjtest::ReadFile(dir.file("TZPAAAAAA")), "taken");

    const int64_t kb = DiskFreeOf(dir.path());
    EXPECT_GT(kb, 0);
    EXPECT_LE(kb, 2147483647);
    EXPECT_GT(DiskFree(0), 0);
    EXPECT_EQ(DiskFreeOf("/no/such/folder/at/all"), 2147483647);
}

}  // namespace
