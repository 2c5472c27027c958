// The dataset components when a locked command fails: the cursor's locks are released on
// every path and an append that wrote its record before failing is never written twice.
#include <gtest/gtest.h>

#include <iostream>
#include <string>
#include <vector>

#include "data/tz_dbf.h"
#include "data/tz_user_text.h"
#include "index/mdx_semaphore.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dbf_low.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "tests/data/tzdataset_fixture.h"
#include "tests/support/test_support.h"

using namespace TzDs;
using namespace tzdstest;

namespace {

// Fails the second write from now on (a flushed append: the record, then the header).
class HeaderWriteFails {
  public:
    HeaderWriteFails() {
        TzDbfLow::settings().flushAfterWrite = true;
        injector_.failAt = 2;
        injector_.sticky = false;
        tz::SetFaultInjector(&injector_);
    }
    ~HeaderWriteFails() {
        tz::SetFaultInjector(nullptr);
        TzDbfLow::settings().flushAfterWrite = false;
    }

  private:
    tz::FaultInjector injector_;
};

// Opens t as "tab.dbf" on the small disk: NAVN C10 and BELOB N12.0, with a tag on NAVN.
void OpenOnDisk(TTzDbf& t, kjtest::SmallDisk& disk) {
    t.SetDbfFileName(disk.file("tab.dbf"));
    t.DbfFields() = {"navn, C, 10, 0", "belob, N, 12, 0"};
    t.IndexList() = {"NAVN,F,F,UPPER(NAVN)", ""};
    t.ShowProgress = false;
    t.Open();
}

}  // namespace

// With the error in the error word (checking off) and raised from inside the append
// (checking on, errors as exceptions): the record is in the table once, the dataset shows
// it in Browse, posting again writes nothing, and another cursor gets the append lock.
TEST_F(TzdsTest, AppendFailingAfterItsWriteIsPostedOnceAndUnlocks) {
    for (bool raised : {false, true}) {
        SCOPED_TRACE(raised ? "raised inside the append" : "error word");
        const std::string file = raised ? "raised.dbf" : "word.dbf";
        TTzDbf t("MainDbf"), other("BufDbf");
        MakeTable(t, file);
        MakeTable(other, file);
        t.Open();
        other.Open();
        AddRow(t, "first", 1);
        t.Append();
        t.FieldByName("navn").SetAsString("second");
        {
            HeaderWriteFails fault;
            TzCommon::SetErrorChecking(raised ? 1 : 0);
            TzCommon::SetUseExceptions(raised ? 1 : 0);
            EXPECT_THROW(t.Post(), TzCommon::ETzError);
            TzCommon::SetErrorChecking(0);
            TzCommon::SetUseExceptions(0);
        }
        TzCommon::ClearErrorWord();
        TzCommon::ClearError();
        EXPECT_NO_THROW(AddRow(other, "third", 3));
        EXPECT_TRUE(g_messages.empty()) << g_messages.front();
        EXPECT_EQ(t.State(), Db::dsBrowse);
        EXPECT_EQ(t.FieldByName("navn").AsString(), "second");
        EXPECT_NO_THROW(t.Post());
        EXPECT_EQ(Names(other), (std::vector<std::string>{"first", "second", "third"}));
        t.Close();
        other.Close();
    }
}

// A walk's read hold whose count cannot be written (reported to the program's error hook,
// which goes on) holds nothing:
// the index is not left counted-in-but-uncounted for the whole walk, the steps count
// themselves as before, and the next Take counts the walk in once the file can be written.
TEST_F(TzdsTest, ReadHoldThatCannotCountInHoldsNothing) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf", true);
    t.ShowProgress = false;
    t.Open();
    for (int k = 1; k <= 3; ++k) AddRow(t, "r" + std::to_string(k), k);
    const std::string sem = Mdx::SemaphoreFileName(Path("tab.dbf"));
    int reported = 0;
    static int* counter = nullptr;
    counter = &reported;
    TzCommon::SetErrorHook([] { ++*counter; });  // as the program's error box: it goes on
    const int checking = TzCommon::SetErrorChecking(1);
    tz::FaultInjector fault;
    fault.failAt = 1;  // the count's write
    fault.sticky = false;
    tz::SetFaultInjector(&fault);
    TIndexReadHold hold({&t});
    tz::SetFaultInjector(nullptr);
    TzCommon::SetErrorChecking(checking);
    TzCommon::SetErrorHook(nullptr);
    EXPECT_EQ(reported, 1);
    TzCommon::ClearErrorWord();
    TzCommon::ClearError();
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 0);
    t.First();
    t.Next();
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    hold.Take();
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 1);
    hold.Release();
    EXPECT_EQ(kjtest::ReadFile(sem)[1], 0);
}

// A save on a full disk, in the program's error mode (failures dispatched): the program
// goes on, the save is refused with a text that names the disk and says that nothing was
// saved, nothing of the row is in the table, and once there is room the same row is saved.
TEST_F(TzdsTest, SaveOnAFullDiskIsRefusedNamingTheDisk) {
    kjtest::SmallDisk disk(1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    TTzDbf t("Tab");
    OpenOnDisk(t, disk);
    for (int i = 0; i < 20; ++i) AddRow(t, "row" + std::to_string(i), i);
    disk.FillLeaving(0);
    int halts = 0;
    TzCommon::SetHaltProc([&halts](int) { ++halts; });
    TzCommon::SetErrorChecking(1);
    std::string text;
    for (int i = 0; i < 200 && text.empty(); ++i) {
        try {
            AddRow(t, "full" + std::to_string(i), i);
        } catch (const TzCommon::ETzError& e) {
            text = e.what();
        }
    }
    EXPECT_EQ(halts, 0);
    EXPECT_EQ(text.rfind("Disken er fuld: " + disk.path() + "/", 0), 0u) << text;
    EXPECT_NE(text.find("IKKE gemt"), std::string::npos) << text;
    const int32_t count = t.RecCount();
    disk.RemoveFiller();
    EXPECT_NO_THROW(t.Post());
    EXPECT_EQ(t.RecCount(), count + 1);
    TzCommon::SetErrorChecking(0);
    TzCommon::SetHaltProc(nullptr);
    t.Close();
}

// A table that cannot be made, the disk full at each of its writes in turn: the message
// names the table and carries the engine's failure after it, which the user's words tell
// as a full disk; the open that follows fails on the missing file (no half-made table is
// left to be refused as damaged), and with room again the table is made and opens.
TEST_F(TzdsTest, TableThatCannotBeMadeSaysWhy) {
    for (long failAt = 1; failAt <= 2; ++failAt) {
        SCOPED_TRACE(failAt);
        g_messages.clear();
        TTzDbf t("Tab");
        MakeTable(t, "new.dbf");
        tz::FaultInjector inj;
        inj.failAt = failAt;
        tz::SetFaultInjector(&inj);
        EXPECT_THROW(t.Open(), TzCommon::ETzError);
        tz::SetFaultInjector(nullptr);
        EXPECT_FALSE(t.Active());
        EXPECT_FALSE(tz::Exists(Path("new.dbf")));
        ASSERT_EQ(g_messages.size(), 1u);
        const std::string& text = g_messages[0];
        EXPECT_EQ(text.rfind("Could not create '" + Path("new.dbf") + "'\r\nError # 101 ", 0), 0u)
            << text;
        const std::string words = TzDs::InUserWords(text);
        EXPECT_EQ(words.rfind("Tabellen " + Path("new.dbf") +
                                  " kunne ikke oprettes.\r\nDisken er fuld: " + Path(""),
                              0),
                  0u)
            << words;
        EXPECT_NE(words.find(std::string(TzDs::kDetailHead) + "\r\n" + text), std::string::npos);
        TzCommon::ClearError();
    }
    TTzDbf t("Tab");
    MakeTable(t, "new.dbf");
    t.Open();
    EXPECT_TRUE(t.Active());
    EXPECT_EQ(t.RecCount(), 0);
    t.Close();
}

// An index file that lacks tags of the table's definition (a build cut short) is built
// again at the next open like one marked for rebuilding; while another station has it open
// it is used as that station has it, until an open finds it alone.
TEST_F(TzdsTest, IndexLackingATagIsRebuiltAtOpen) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.IndexList() = {"NAVN,F,F,UPPER(NAVN)", "", "BELOB,F,F,STR(BELOB,12)", "",
                     "DATO,F,F,DTOS(DATO)",  ""};
    t.ShowProgress = false;
    t.CreateIndex = ciNotFound;
    t.Open();
    AddRow(t, "a", 1);
    AddRow(t, "b", 2);
    t.Close();
    Dbf4::Select(9);
    Dbf4::Use(Path("tab.dbf") + " EXCLUSIVE");
    ASSERT_TRUE(TzNdx::MakeIndex({{"NAVN", "UPPER(NAVN)", "", false, false}}));
    Dbf4::CloseArea();
    // Held by another cursor: used as it is.
    Dbf4::Select(9);
    Dbf4::Use(Path("tab.dbf"));
    TzNdx::SetIndexTo("tab.mdx");
    t.Open();
    EXPECT_EQ(TzNdx::TagCount(), 1);
    t.Close();
    Dbf4::Select(9);
    Dbf4::CloseArea();
    // Alone: built whole.
    t.Open();
    EXPECT_EQ(TzNdx::TagCount(), 3);
    EXPECT_TRUE(t.SetOrderToTag("DATO"));
    EXPECT_TRUE(t.SetOrderToTag("BELOB"));
    t.First();
    EXPECT_EQ(t.FieldByName("belob").AsInteger(), 1);
    t.Close();
}

// Where no room can be reserved for the keys beforehand, a full disk may stop a save after
// its row was written: the row counts as saved (no exception), and the user is told that
// it is saved but its index could not follow; the next saves are refused naming the disk,
// and with room again the index is built again and finds every saved row.
TEST_F(TzdsTest, RowSavedWhoseKeysCouldNotFollowIsReportedAsSaved) {
    kjtest::SmallDisk disk(1024);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
    TTzDbf t("Tab");
    OpenOnDisk(t, disk);
    for (int i = 0; i < 300; ++i) AddRow(t, "row" + std::to_string(i), i);
    // The room the appends reserved past the index's end goes back at the close.
    t.Close();
    t.Open();
    {
        // Room for the rows, none for their keys.
        tz::File table;
        ASSERT_EQ(table.Open(disk.file("tab.dbf"), tz::Access::ReadWrite, tz::ShareMode::DenyNone),
                  0);
        uint64_t size = 0;
        ASSERT_EQ(table.Size(&size), 0);
        ASSERT_EQ(table.Reserve(size, 64 * 1024), 0);
    }
    tz::FaultInjector injector;
    injector.reserveUnsupported = true;
    tz::SetFaultInjector(&injector);
    disk.FillLeaving(0);
    g_messages.clear();
    std::vector<std::string> saved;
    int refused = 0;
    for (int i = 0; i < 1000 && refused == 0; ++i) {
        try {
            AddRow(t, "full" + std::to_string(i), i);
            saved.push_back("full" + std::to_string(i));
        } catch (const TzCommon::ETzError& e) {
            ++refused;
            EXPECT_EQ(std::string(e.what()).rfind("Disken er fuld: ", 0), 0u) << e.what();
            t.Cancel();
        }
    }
    tz::SetFaultInjector(nullptr);
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0].rfind("Disken er fuld: " + disk.path() + "/\r\nR\xE6kken er gemt i " +
                                      disk.file("tab.dbf"),
                                  0),
              0u)
        << g_messages[0];
    EXPECT_GT(refused, 0);
    disk.RemoveFiller();
    AddRow(t, "room", 1);
    saved.push_back("room");
    ASSERT_TRUE(t.SetOrderToTag("NAVN"));
    for (const std::string& name : saved)
        EXPECT_TRUE(t.FindExact(TzUtils::PadRight(TzUtils::AnsiUpper(name), 10))) << name;
    EXPECT_EQ(t.RecCount(), int32_t(300 + saved.size()));
    t.Close();
}
