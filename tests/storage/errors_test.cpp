// Error texts, dispatch modes and the halt of the engine's error unit.
#include <gtest/gtest.h>

#include "storage/tz_common.h"

using namespace TzCommon;

namespace {

class ErrorsTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetErrorState(); }
    void TearDown() override { ResetErrorState(); }
};

TEST_F(ErrorsTest, CodeTexts) {
    EXPECT_EQ(ErrorText(0), "");
    EXPECT_EQ(ErrorText(215), "Error # 215 (No database in use)");
    EXPECT_EQ(ErrorText(7), "Error # 7 (Undefined error)");
    EXPECT_EQ(ErrorText(1006), "Error # 1006 (Undefined error)");
    EXPECT_EQ(ErrorText(351), "Error # 351 (Undefined error)");
    EXPECT_EQ(ErrorText(1203), "Error # 1203 (Network Error)");
    EXPECT_EQ(ErrorText(1299), "Error # 1299 (Network Error)");
    EXPECT_EQ(ErrorText(1300), "Error # 1300 (File format not supported)");
    EXPECT_EQ(ErrorText(227), "Error # 227 (Insufficient disk space )");
    EXPECT_EQ(ErrorText(228), "Error # 228 (Unbalanced Push/Pop operation )");
    EXPECT_EQ(ErrorText(1103), "Error # 1103 (Invalid Operation )");
    EXPECT_EQ(ErrorText(18), "Error # 18 (Too many open files)");
    EXPECT_EQ(ErrorText(162), "Error # 162 (File sharing violation)");
    EXPECT_EQ(ErrorText(101), "Error # 101 (Disk write error (probable cause: Disk Full).)");
    EXPECT_EQ(ErrorText(65535), "Error # 65535 (Undefined error)");
}

TEST_F(ErrorsTest, CheckingOffOnlyRecords) {
    SetErrorChecking(0);
    SetError(TzErr::NoDatabaseInUse, "No database in use [GO]  WorkArea = 3");
    EXPECT_EQ(ErrorWord(), TzErr::NoDatabaseInUse);
    EXPECT_EQ(LastErrorMessage(),
              "Error # 215 (No database in use)\r\nNo database in use [GO]  WorkArea = 3");
    EXPECT_EQ(LastErrorMessage(), "");               // taken once
    EXPECT_EQ(ErrorWord(), TzErr::NoDatabaseInUse);  // the error word stays
}

TEST_F(ErrorsTest, ExceptionsCarryFullTextAndKeepErrorWord) {
    SetUseExceptions(1);
    try {
        SetError(TzErr::RequestBeyondRange, "Invalid record number = 0 (x.dbf)  [GetDbfRecord]");
        FAIL() << "no exception";
    } catch (const ETzError& e) {
        EXPECT_STREQ(e.what(),
                     "Error # 212 (Request beyond range)\r\nInvalid record number = 0 (x.dbf)  "
                     "[GetDbfRecord]");
    }
    EXPECT_EQ(ErrorWord(), TzErr::RequestBeyondRange);
    EXPECT_EQ(PendingCode(), 0);
}

TEST_F(ErrorsTest, HaltShowsOneBoxAndExitCode) {
    std::vector<std::string> boxes;
    int exitCode = -1;
    SetErrorBoxProc([&](const std::string& text, const std::string& caption, unsigned flags) {
        boxes.push_back(caption + "|" + text + "|" + std::to_string(flags));
        return 1;
    });
    SetHaltProc([&](int code) { exitCode = code; });
    SetError(TzErr::None, "");  // code 0 shows nothing
    EXPECT_TRUE(boxes.empty());
    SetError(TzErr::MemoLockFailed, "Cannot lock memo file [x]");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              "Program halted.|Error # 1017 (Cannot lock memo file)\r\nCannot lock memo "
              "file [x]|16");
    EXPECT_EQ(exitCode, 255);
    SetError(TzErr::LockViolation, "again");  // during shut-down: no second box
    EXPECT_EQ(boxes.size(), 1u);
    SetErrorBoxProc(nullptr);
}

TEST_F(ErrorsTest, HaltTextCutTo255) {
    std::string shown;
    SetErrorBoxProc([&](const std::string& text, const std::string&, unsigned) {
        shown = text;
        return 1;
    });
    int exitCode = -1;
    SetHaltProc([&](int code) { exitCode = code; });
    SetError(TzErr::LockViolation, std::string(400, 'x'));
    EXPECT_EQ(shown.size(), 255u);
    EXPECT_EQ(exitCode, 33);
    SetErrorBoxProc(nullptr);
}

TEST_F(ErrorsTest, HookReplacesDelivery) {
    int calls = 0;
    SetErrorHook([&] {
        ++calls;
        EXPECT_EQ(ErrorWord(), TzErr::InvalidParameter);
    });
    SetError(TzErr::InvalidParameter, "Invalid parameter [x]");
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(LastErrorMessage(), "Error # 220 (Invalid parameter)\r\nInvalid parameter [x]");
}

TEST_F(ErrorsTest, FreeNilPointer) {
    SetErrorChecking(0);
    void* p = nullptr;
    FreeMemChecked(p);
    EXPECT_EQ(ErrorWord(), TzErr::InvalidBlockAddress);
    EXPECT_EQ(
        LastErrorMessage(),
        "Error # 9 (Memory block address invalid)\r\nAttempt to free NIL pointer [FreeMem()]");
    GetMemChecked(p, 100);
    ASSERT_NE(p, nullptr);
    FreeMemChecked(p);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(MaxAvail(), 2147483647);
}

TEST_F(ErrorsTest, ExitCodes) {
    EXPECT_EQ(ExitCodeFor(1), 1);
    EXPECT_EQ(ExitCodeFor(255), 255);
    EXPECT_EQ(ExitCodeFor(256), 255);
    EXPECT_EQ(ExitCodeFor(1202), 255);
    EXPECT_EQ(ExitCodeFor(0), 255);
}

}  // namespace
