// The output device: bytes reaching the console, the alternate file and the printer pipe,
// the printer job started only on first use, failure reports, and the message window's
// engine side.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_output.h"
#include "tests/support/test_support.h"

namespace {

bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

class OutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TzCommon::ResetErrorState();
        TzCommon::SetErrorChecking(0);
        TzPrint::Startup();
    }
    void TearDown() override {
        TzPrint::Startup();  // ends any job, closes the alternate file
        unsetenv("KJ_PRINTER_COMMAND");
        tz::SetFaultInjector(nullptr);
        TzCommon::ResetErrorState();
    }
    void PrintTo(const std::string& path) {
        setenv("KJ_PRINTER_COMMAND", ("cat >> '" + path + "'").c_str(), 1);
    }
    kjtest::TempDir dir_;
};

// Every byte value, longer than one buffer, with the Danish letters in it.
std::string Sample() {
    std::string s = "Sag 17: \xE6\xF8\xE5\xC6\xD8\xC5 ";
    for (int i = 0; i < 300; ++i) s.push_back(static_cast<char>(i % 256));
    return s;
}

TEST_F(OutputTest, AllSwitchesOffDiscardsQuietly) {
    std::string prn = dir_.file("prn.txt");
    PrintTo(prn);
    TzCommon::SetErrorChecking(1);  // any report would halt through the default box
    testing::internal::CaptureStdout();
    TzPrint::Write("nothing to see");
    TzPrint::WriteLn();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_FALSE(TzPrint::PrinterJobOpen());
    TzPrint::Shutdown();
    EXPECT_FALSE(FileExists(prn));
}

TEST_F(OutputTest, SameBytesReachConsoleAlternateAndPrinter) {
    std::string prn = dir_.file("prn.txt");
    std::string alt = dir_.file("alt.txt");
    PrintTo(prn);
    ASSERT_TRUE(TzPrint::SetAlternateTo(alt));
    TzPrint::SetConsole(true);
    TzPrint::SetAlternate(true);
    TzPrint::SetPrinter(true);
    testing::internal::CaptureStdout();
    TzPrint::Write(Sample());
    TzPrint::WriteLn("slut");
    std::string console = testing::internal::GetCapturedStdout();
    TzPrint::ClosePrinter();
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    std::string expected = Sample() + "slut\r\n";
    EXPECT_EQ(console, expected);
    EXPECT_EQ(kjtest::ReadFile(alt), expected);
    EXPECT_EQ(kjtest::ReadFile(prn), expected);

    // Switching a destination off stops it and leaves the others going.
    TzPrint::SetConsole(false);
    TzPrint::SetPrinter(false);
    TzPrint::Write("x");
    EXPECT_EQ(kjtest::ReadFile(alt), expected + "x");
    EXPECT_EQ(kjtest::ReadFile(prn), expected);
}

TEST_F(OutputTest, PrinterJobStartsOnFirstUseAndEndsOnClose) {
    std::string prn = dir_.file("prn.txt");
    PrintTo(prn);
    TzPrint::Write("before");  // printer switch off: no job
    EXPECT_FALSE(TzPrint::PrinterJobOpen());
    TzPrint::SetPrinter(true);
    EXPECT_FALSE(TzPrint::PrinterJobOpen());
    TzPrint::Write("one");
    EXPECT_TRUE(TzPrint::PrinterJobOpen());
    TzPrint::Write("two");
    TzPrint::ClosePrinter();
    EXPECT_FALSE(TzPrint::PrinterJobOpen());
    EXPECT_EQ(kjtest::ReadFile(prn), "onetwo");
    TzPrint::Write("three");  // a new job
    EXPECT_TRUE(TzPrint::PrinterJobOpen());
    TzPrint::Shutdown();
    EXPECT_FALSE(TzPrint::PrinterJobOpen());
    EXPECT_EQ(kjtest::ReadFile(prn), "onetwothree");
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
}

TEST_F(OutputTest, AlternateFileCreateOrAppend) {
    std::string alt = dir_.file("alt.txt");
    kjtest::WriteFile(alt, "old\r\n");
    ASSERT_TRUE(TzPrint::SetAlternateTo(alt, true));
    TzPrint::SetAlternate(true);
    TzPrint::WriteLn("new");
    EXPECT_EQ(kjtest::ReadFile(alt), "old\r\nnew\r\n");
    ASSERT_TRUE(TzPrint::SetAlternateTo(alt));  // not additive: starts afresh
    TzPrint::Write("again");
    EXPECT_EQ(kjtest::ReadFile(alt), "again");
    ASSERT_TRUE(TzPrint::SetAlternateTo(""));  // closes; the switch alone finds no file
    TzPrint::Write("lost");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::FileNotOpen);
    EXPECT_EQ(TzCommon::LastErrorMessage(),
              "Error # 103 (File not open)\r\nOutput error, alternate file: ");

    std::string bad = dir_.file("no/such/alt.txt");
    EXPECT_FALSE(TzPrint::SetAlternateTo(bad));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::PathNotFound);
    EXPECT_EQ(TzCommon::LastErrorMessage(),
              "Error # 3 (Path not found)\r\nOutput error, alternate file: " + bad);
    EXPECT_EQ(TzPrint::AlternateName(), "");
}

TEST_F(OutputTest, FailedAlternateWriteIsReportedAndOthersStillWritten) {
    std::string prn = dir_.file("prn.txt");
    std::string alt = dir_.file("alt.txt");
    PrintTo(prn);
    ASSERT_TRUE(TzPrint::SetAlternateTo(alt));
    TzPrint::SetAlternate(true);
    TzPrint::SetPrinter(true);
    tz::FaultInjector fault;
    fault.failAt = 1;
    fault.sticky = false;
    tz::SetFaultInjector(&fault);
    TzPrint::Write("abc");
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::DiskWriteError);
    EXPECT_EQ(TzCommon::LastErrorMessage(),
              "Error # 101 (Disk write error (probable cause: Disk Full).)\r\n"
              "Output error, alternate file: " +
                  alt);
    TzPrint::Write("def");  // the next write goes on after what the file holds
    tz::SetFaultInjector(nullptr);
    TzPrint::ClosePrinter();
    EXPECT_EQ(kjtest::ReadFile(alt), "def");
    EXPECT_EQ(kjtest::ReadFile(prn), "abcdef");

    // With exceptions on the report raises, and the failed bytes are not sent again.
    TzCommon::SetErrorChecking(1);
    TzCommon::SetUseExceptions(1);
    fault = tz::FaultInjector();
    fault.failAt = 1;
    fault.sticky = false;
    tz::SetFaultInjector(&fault);
    EXPECT_THROW(TzPrint::Write("ghi"), TzCommon::ETzError);
    tz::SetFaultInjector(nullptr);
    TzPrint::Write("jkl");
    EXPECT_EQ(kjtest::ReadFile(alt), "defjkl");
}

TEST_F(OutputTest, PrinterFailuresReportDeviceWriteFault) {
    // A command that stops reading: the write fails with EPIPE and the process lives on.
    setenv("KJ_PRINTER_COMMAND", "head -c 1 >/dev/null", 1);
    TzPrint::SetPrinter(true);
    std::string chunk(4096, 'p');
    for (int i = 0; i < 1000 && TzCommon::ErrorWord() == 0; ++i) TzPrint::Write(chunk);
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::DeviceWriteFault);
    EXPECT_EQ(TzCommon::LastErrorMessage(), "Error # 160 (Device write fault)\r\n");
    EXPECT_FALSE(TzPrint::PrinterJobOpen());
    TzCommon::ClearErrorWord();
    TzPrint::Write("more");  // the failed job takes nothing more until it is ended
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::DeviceWriteFault);
    EXPECT_FALSE(TzPrint::PrinterJobOpen());
    TzPrint::ClosePrinter();

    // A command that ends badly is reported when the job ends.
    TzCommon::ClearErrorWord();
    setenv("KJ_PRINTER_COMMAND", "cat >/dev/null; exit 3", 1);
    TzPrint::Write("x");
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    TzPrint::ClosePrinter();
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::DeviceWriteFault);
}

TEST_F(OutputTest, PrinterCommandChoice) {
    setenv("KJ_PRINTER_COMMAND", "cat > /tmp/x", 1);
    EXPECT_EQ(TzPrint::PrinterCommand(), "cat > /tmp/x");
    unsetenv("KJ_PRINTER_COMMAND");
    std::string cmd = TzPrint::PrinterCommand();
    EXPECT_TRUE(cmd == "lpr" || cmd == "lp") << cmd;
}

// The engine side of the message window against a recording widget.
TEST(MessageWindowTest, RoutesThroughInstalledProcs) {
    {
        TzMsg::TTzMsg none;  // no widget installed: keeps its text only
        none.ShowText("a");
        none.ShowText("");
        EXPECT_EQ(none.Text(), "a");
    }
    std::vector<std::string> log;
    int handle = 0;
    TzMsg::MsgWindowProcs procs;
    procs.create = [&]() -> void* {
        log.push_back("create");
        return &handle;
    };
    procs.show = [&](void* w, const std::string& caption, const std::string& text) {
        EXPECT_EQ(w, &handle);
        log.push_back("show " + caption + ":" + text);
    };
    procs.destroy = [&](void* w) {
        EXPECT_EQ(w, &handle);
        log.push_back("destroy");
    };
    TzMsg::SetMsgWindowProcs(procs);
    {
        TzMsg::TTzMsg msg;
        msg.ShowText("Indeks \xE6\xF8\xE5");
        msg.ShowText("");
        msg.SetCaption("Progress");
        msg.ShowText("||||");
    }
    TzMsg::ClearMsgWindowProcs();
    std::vector<std::string> want = {"create", "show :Indeks \xE6\xF8\xE5",
                                     "show :Indeks \xE6\xF8\xE5", "show Progress:||||", "destroy"};
    EXPECT_EQ(log, want);
}

}  // namespace
