// The dataset components over real tables: definitions and creation, the dataset protocol
// (navigation, editing, events, WHILE ranges, calculated fields that search another table,
// the state stack), wide numbers, conditions that do not compile, locks refused by another
// process and indexes built from IndexList.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "index/dbf_fields.h"
#include "index/tz_dbf.h"
#include "index/tz_messages.h"
#include "index/tz_ndx.h"
#include "platform/dataset/db_format.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "tests/support/test_support.h"

using namespace TzDs;

namespace {

std::vector<std::string> g_messages;

class TzdsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Dbf4::CloseAll();
        TzCommon::ResetErrorState();
        Dbf4::settings() = Dbf4::Settings();
        TzCommon::SetErrorChecking(0);
        ApplyFormatSettingsToEngine();
        g_messages.clear();
        SetMessageProc([](const std::string& t) { g_messages.push_back(t); });
    }
    void TearDown() override {
        Dbf4::CloseAll();
        SetMessageProc(nullptr);
        TzCommon::ResetErrorState();
    }
    std::string Path(const std::string& n) const { return dir_.file(n); }

    // A table with NAVN C10, BELOB N12.0, PRIS N10.2, DATO D, OK L.
    void MakeTable(TTzDbf& t, const std::string& file, bool indexed = false) {
        t.SetDbfFileName(Path(file));
        t.DbfFields() = {"navn, C, 10, 0", "belob, N, 12, 0", "pris, N, 10, 2",
                         "dato, D, 10, 0", "ok, L, 1, 0"};
        if (indexed) t.IndexList() = {"NAVN,F,F,UPPER(NAVN)", ""};
        t.HideDeletedRecs = true;
    }
    void AddRow(TTzDbf& t, const std::string& name, int64_t amount) {
        t.Append();
        t.FieldByName("navn").SetAsString(name);
        t.FieldByName("belob").SetAsLargeInt(amount);
        t.Post();
    }
    std::vector<std::string> Names(TTzDbf& t) {
        std::vector<std::string> out;
        t.First();
        while (!t.Eof()) {
            out.push_back(t.FieldByName("navn").AsString());
            t.Next();
        }
        return out;
    }
    kjtest::TempDir dir_;
};

std::string Bytes(const std::string& path) { return kjtest::ReadFile(path); }
uint16_t U16(const std::string& b, size_t off) {
    return uint16_t(uint8_t(b[off]) | (uint8_t(b[off + 1]) << 8));
}

}  // namespace

TEST(DbfFieldsTest, CorrectionsAndParsing) {
    g_messages.clear();
    SetMessageProc([](const std::string& t) { g_messages.push_back(t); });
    std::vector<TzDbfLow::FieldDef> defs;
    std::vector<std::string> lines = {"big, N, 25, 2", "wide, C, 300, 0", "odd, Q, 1, 0",
                                      "tight, N, 5, 4", "both, N, 25, 24", "drop, X, 1, 0",
                                      "  ok ,\tC , 8 , 0 "};
    ASSERT_TRUE(BuildFieldDefs("Comp", &lines, defs));
    ASSERT_EQ(defs.size(), 6u);
    auto same = [](const TzDbfLow::FieldDef& f, const char* n, char t, int w, int d) {
        EXPECT_EQ(f.name, n);
        EXPECT_EQ(f.type, t) << n;
        EXPECT_EQ(f.length, w) << n;
        EXPECT_EQ(f.decimals, d) << n;
    };
    same(defs[0], "big", 'N', 20, 2);
    same(defs[1], "wide", 'C', 254, 0);
    same(defs[2], "odd", 'C', 1, 0);
    same(defs[3], "tight", 'N', 5, 3);
    same(defs[4], "both", 'N', 20, 18);  // decimals kept inside the corrected width
    same(defs[5], "ok", 'C', 8, 0);
    ASSERT_EQ(g_messages.size(), 5u);
    EXPECT_EQ(g_messages[0],
              "Invalid field definition for Comp: big,N,25,2. Will use corrected definition: "
              "big,N,20,2");
    // One line with two commas fails the whole list; so does an empty list.
    std::vector<std::string> bad = {"a, C, 1, 0", "b, C, 1"};
    EXPECT_FALSE(BuildFieldDefs("Comp", &bad, defs));
    EXPECT_TRUE(defs.empty());
    std::vector<std::string> none;
    g_messages.clear();
    EXPECT_FALSE(BuildFieldDefs("Comp", &none, defs));
    EXPECT_FALSE(BuildFieldDefs("Comp", nullptr, defs));
    EXPECT_EQ(g_messages, (std::vector<std::string>{kMsgFieldListEmpty, kMsgFieldListNil}));
    // Hostile lines never read past their ends.
    TzDbfLow::FieldDef f;
    EXPECT_TRUE(ParseFieldLine(",,,", f));
    EXPECT_EQ(f.type, ' ');
    EXPECT_TRUE(ParseFieldLine("n, N, 99999999999999, -3", f));
    EXPECT_EQ(f.length, 65535);
    EXPECT_EQ(f.decimals, 0);
    CorrectFieldDef(f);
    EXPECT_EQ(f.length, 20);

    std::vector<TagDef> tags = ParseIndexList({"VARER,F,F,UPPER(TMU_ID)", "", "DESCTAGNAME1,T,T,X",
                                               "X>1", "A", "", "A,", "", "lonely,F,F,Z"});
    ASSERT_EQ(tags.size(), 4u);
    EXPECT_EQ(tags[0].name, "VARER");
    EXPECT_EQ(tags[0].expr, "UPPER(TMU_ID)");
    EXPECT_FALSE(tags[0].descending);
    EXPECT_FALSE(tags[0].unique);
    EXPECT_TRUE(tags[0].forExpr.empty());
    EXPECT_EQ(tags[1].name, "DESCTAGNAM");
    EXPECT_TRUE(tags[1].descending);
    EXPECT_TRUE(tags[1].unique);
    EXPECT_EQ(tags[1].forExpr, "X>1");
    EXPECT_EQ(tags[2].name, "A");
    EXPECT_EQ(tags[3].expr, "");
    EXPECT_EQ(IndexListLines({tags[0]}), (std::vector<std::string>{"VARER,F,F,UPPER(TMU_ID)", ""}));
    SetMessageProc(nullptr);
}

TEST_F(TzdsTest, CasesTableHasDesignedLayoutAndTags) {
    TTzDbf sags("SagsDbf");
    sags.SetDbfFileName(Path("Sager.dbf"));
    sags.DbfFields() = {"sags_nr, C, 10, 0",  "sags_bem, C, 100, 0", "sag_opret, D, 10, 0",
                        "sag_ajour, D, 10, 0", "sag_ini, C, 5, 0",    "sag_disk, C, 254, 0",
                        "sag_kunde, C, 10, 0", "sag_ansvar, C, 5, 0", "sag_afslut, D, 10, 0",
                        "sag_matnr, C, 50, 0", "sag_type, C, 16, 0",  "filler, C, 254, 0",
                        "filler2, C, 254, 0",  "filler3, C, 6, 0"};
    sags.IndexList() = {"SAGSNR,F,F,UPPER(SAGS_NR)", "",
                        "SAGSANS,F,F,UPPER(SAG_ANSVAR)+UPPER(SAGS_NR)", "",
                        "SAGSKUND,F,F,UPPER(SAG_KUNDE)+UPPER(SAGS_NR)", "",
                        "SAGSAFSLUT,F,F,DTOS(SAG_AFSLUT)+UPPER(SAGS_NR)", ""};
    sags.ShowProgress = false;
    ASSERT_NO_THROW(sags.Open());
    std::string b = Bytes(Path("Sager.dbf"));
    EXPECT_EQ(U16(b, 10), 989);          // record length
    EXPECT_EQ(U16(b, 8), 32 + 14 * 32 + 1);  // header length
    EXPECT_EQ(TzNdx::TagCount(), 4);
    EXPECT_EQ(TzNdx::TagName(4), "SAGSAFSLUT");
    EXPECT_TRUE(sags.SetOrderToTag("SAGSNR"));
    EXPECT_EQ(sags.CurrentTag(), "SAGSNR");
    sags.Append();
    sags.FieldByName("sags_nr").SetAsString("b-2");
    sags.Post();
    sags.Append();
    sags.FieldByName("sags_nr").SetAsString("a-1");
    sags.Post();
    sags.First();
    EXPECT_EQ(sags.FieldByName("sags_nr").AsString(), "a-1");
    EXPECT_TRUE(sags.Find("B-2"));
    EXPECT_EQ(sags.FieldByName("sags_nr").AsString(), "b-2");
    EXPECT_FALSE(sags.FindExact("B"));
    EXPECT_TRUE(sags.Find("B"));
    sags.Close();
    EXPECT_EQ(uint8_t(Bytes(Path("Sager.dbf"))[28]), 1);  // production index flag

    // A second cursor without its own IndexList opens the existing file with all tags.
    TTzDbf twin("SagsBufDbf");
    twin.SetDbfFileName(Path("Sager.dbf"));
    twin.CreateIfNotFound = false;
    twin.CreateIndex = ciAlways;
    ASSERT_NO_THROW(twin.Open());
    EXPECT_EQ(TzNdx::TagCount(), 4);
    EXPECT_TRUE(twin.SetOrderToTag("SAGSKUND"));
    EXPECT_EQ(twin.RecordCount(), 2);
}

TEST_F(TzdsTest, ProtocolEventsAndNavigation) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    std::vector<std::string> ev;
    t.BeforeInsert = [&](Db::TDataSet&) { ev.push_back("BeforeInsert"); };
    t.OnNewRecord = [&](Db::TDataSet& d) {
        ev.push_back("OnNewRecord");
        d.FieldByName("ok").SetAsBoolean(true);
    };
    t.AfterInsert = [&](Db::TDataSet&) { ev.push_back("AfterInsert"); };
    t.BeforePost = [&](Db::TDataSet&) { ev.push_back("BeforePost"); };
    t.AfterPost = [&](Db::TDataSet&) { ev.push_back("AfterPost"); };
    t.BeforeCancel = [&](Db::TDataSet&) { ev.push_back("BeforeCancel"); };
    t.AfterCancel = [&](Db::TDataSet&) { ev.push_back("AfterCancel"); };
    t.BeforeDelete = [&](Db::TDataSet&) { ev.push_back("BeforeDelete"); };
    t.AfterDelete = [&](Db::TDataSet&) { ev.push_back("AfterDelete"); };
    t.Open();
    EXPECT_TRUE(t.Eof());
    EXPECT_TRUE(t.Bof());
    AddRow(t, "anne", 1);
    EXPECT_EQ(ev, (std::vector<std::string>{"BeforeInsert", "OnNewRecord", "AfterInsert",
                                            "BeforePost", "AfterPost"}));
    AddRow(t, "bent", 5000000000LL);  // wider than 32 bits
    AddRow(t, "carl", -3);
    EXPECT_EQ(Names(t), (std::vector<std::string>{"anne", "bent", "carl"}));
    EXPECT_TRUE(t.Eof());
    t.Last();
    EXPECT_EQ(t.FieldByName("navn").AsString(), "carl");
    t.Next();
    EXPECT_TRUE(t.Eof());
    t.First();
    t.Prior();
    EXPECT_TRUE(t.Bof());
    EXPECT_EQ(t.FieldByName("navn").AsString(), "anne");
    EXPECT_TRUE(t.FieldByName("ok").AsBoolean());

    // Wide value: held in 64 bits and written as its digits into the file.
    t.MoveBy(1);
    EXPECT_EQ(t.FieldByName("belob").AsLargeInt(), 5000000000LL);
    std::string b = Bytes(Path("tab.dbf"));
    size_t rec2 = U16(b, 8) + U16(b, 10);
    EXPECT_EQ(b.substr(rec2 + 1 + 10, 12), "  5000000000");
    t.Edit();
    t.FieldByName("belob").SetAsLargeInt(-7000000000LL);
    t.Post();
    b = Bytes(Path("tab.dbf"));
    EXPECT_EQ(b.substr(rec2 + 1 + 10, 12), " -7000000000");

    // Edit and cancel restores the stored value; rounding of decimals.
    ev.clear();
    t.Edit();
    t.FieldByName("pris").SetAsFloat(1.006);
    t.FieldByName("navn").SetAsString("zzz");
    t.Cancel();
    EXPECT_EQ(t.FieldByName("navn").AsString(), "bent");
    EXPECT_EQ(ev, (std::vector<std::string>{"BeforeCancel", "AfterCancel"}));
    t.Edit();
    t.FieldByName("pris").SetAsFloat(1.006);
    t.FieldByName("dato").SetAsString("24-12-2023");
    t.Post();
    t.Refresh();
    EXPECT_DOUBLE_EQ(t.FieldByName("pris").AsFloat(), 1.01);
    EXPECT_EQ(t.FieldByName("dato").AsString(), "24-12-2023");
    t.Edit();
    t.FieldByName("dato").SetText(TzCommon::EmptyDateString(TzCommon::DateStyle()));
    EXPECT_TRUE(t.FieldByName("dato").IsNull());
    EXPECT_THROW(t.FieldByName("dato").SetText("31-02-2023"), Db::EConvertError);
    t.Cancel();

    // Delete hides the record; post in browse state does nothing.
    ev.clear();
    t.Delete();
    EXPECT_EQ(ev, (std::vector<std::string>{"BeforeDelete", "AfterDelete"}));
    EXPECT_EQ(Names(t), (std::vector<std::string>{"anne", "carl"}));
    EXPECT_EQ(t.RecordCount(), 3);
    EXPECT_NO_THROW(t.Post());
    EXPECT_EQ(t.FetchForTest(Db::gmCurrent), Db::grOK);

    // Bookmarks compare by record only.
    t.First();
    Db::TBookmark a = t.GetBookmark(), a2 = t.GetBookmark();
    t.Last();
    Db::TBookmark c = t.GetBookmark();
    EXPECT_EQ(t.CompareBookmarks(a, a2), 0);
    EXPECT_EQ(t.CompareBookmarks(a, c), 1);
    EXPECT_EQ(t.CompareBookmarks(c, a), 1);
    t.GotoBookmark(a);
    EXPECT_EQ(t.FieldByName("navn").AsString(), "anne");
}

TEST_F(TzdsTest, HandlersThatCancelWriteNothing) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.Open();
    AddRow(t, "anne", 1);
    t.BeforePost = [](Db::TDataSet& d) { d.Cancel(); };
    t.Append();
    t.FieldByName("navn").SetAsString("never");
    t.Post();
    EXPECT_EQ(t.State(), Db::dsBrowse);
    EXPECT_EQ(t.RecCount(), 1);
    t.Edit();
    t.FieldByName("navn").SetAsString("changed");
    t.Post();
    EXPECT_EQ(t.FieldByName("navn").AsString(), "anne");
    t.BeforePost = nullptr;
    t.OnNewRecord = [](Db::TDataSet& d) { d.Cancel(); };
    t.Append();
    EXPECT_EQ(t.State(), Db::dsBrowse);
    EXPECT_EQ(t.RecCount(), 1);
    t.Close();
    Dbf4::Select(1);
    Dbf4::Use(Path("tab.dbf"));
    EXPECT_EQ(Dbf4::RecCount(), 1);
    EXPECT_EQ(Dbf4::Peek(1, 1), "anne      ");
}

TEST_F(TzdsTest, WhileRangeStateStackAndCalculatedLookups) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.Open();
    for (int i = 1; i <= 6; ++i) AddRow(t, "n" + std::to_string(i), i);
    TTzDbf other("Other");
    MakeTable(other, "other.dbf");
    other.Open();
    AddRow(other, "n3", 300);

    t.Go(3);
    t.SetWhileTo("BELOB <= 4");
    EXPECT_TRUE(t.IsWhileOn());
    EXPECT_EQ(Names(t), (std::vector<std::string>{"n1", "n2", "n3", "n4"}));
    t.Last();
    EXPECT_EQ(t.FieldByName("navn").AsString(), "n4");
    t.SetWhileTo("");
    t.Go(6);
    EXPECT_EQ(TzCommon::ErrorWord, 0);
    t.SetWhileTo("BELOB <= 4");  // current record outside: refused and cleared
    EXPECT_FALSE(t.IsWhileOn());
    EXPECT_EQ(TzCommon::ErrorWord, 1103);
    EXPECT_NE(TzCommon::LastMessage().find(kMsgNotInWhileRange), std::string::npos);
    TzCommon::ClearError();
    TzCommon::ErrorWord = 0;

    // Conditions that do not compile are reported and leave nothing set.
    EXPECT_THROW(t.SetFilterTo("NAVN = \"O'Hara"), TzCommon::ETzError);
    EXPECT_FALSE(t.IsFilterOn());
    EXPECT_FALSE(TzCommon::Halted());
    EXPECT_EQ(Names(t).size(), 6u);
    t.SetFilterTo("BELOB > 4");
    EXPECT_EQ(Names(t), (std::vector<std::string>{"n5", "n6"}));
    t.SetFilterTo("");

    // PushState / PopState.
    t.Go(2);
    t.PushState();
    t.Go(5);
    t.PopState();
    EXPECT_EQ(t.s_RecNo(), 2);
    t.PopState();
    EXPECT_NE(TzCommon::LastMessage().find("Push/Pop stack is empty [PopState]"),
              std::string::npos);
    TzCommon::ClearError();
    TzCommon::ErrorWord = 0;

    // A calculated field searching another table.
    t.Close();
    Db::TStringField& navn = t.AddField<Db::TStringField>("navn");
    navn.SetSize(10);
    t.AddField<Db::TLargeintField>("belob");
    Db::TIntegerField& found = t.AddField<Db::TIntegerField>("found", Db::fkCalculated);
    t.OnCalcFields = [&](Db::TDataSet& d) {
        bool hit = other.Locate("navn", {d.FieldByName("navn").AsString()}, 0);
        found.SetAsInteger(hit ? int(other.FieldByName("belob").AsLargeInt()) : -1);
    };
    t.Open();
    t.DisableControls();
    std::vector<int> calc;
    t.First();
    while (!t.Eof()) {
        calc.push_back(found.AsInteger());
        t.Next();
    }
    t.EnableControls();
    EXPECT_EQ(calc, (std::vector<int>{-1, -1, 300, -1, -1, -1}));
}

TEST_F(TzdsTest, TwoCursorsOnOneFileAndClosedDataset) {
    TTzDbf a("CurA"), b("CurB");
    MakeTable(a, "tab.dbf");
    MakeTable(b, "tab.dbf");
    a.Open();
    b.Open();
    AddRow(a, "anne", 1);
    b.Refresh();
    b.Last();
    EXPECT_EQ(b.FieldByName("navn").AsString(), "anne");
    b.Edit();
    b.FieldByName("navn").SetAsString("berit");
    b.Post();
    a.Refresh();
    EXPECT_EQ(a.FieldByName("navn").AsString(), "berit");

    TTzDbf closed("Closed");
    EXPECT_THROW(closed.RecCount(), Db::EAbort);
    EXPECT_NE(TzCommon::LastMessage().find("Database is not open [Closed.RecCount]"),
              std::string::npos);
    TzCommon::ClearError();
    TTzDbf noname("NoName");
    EXPECT_THROW(noname.Open(), TzCommon::ETzError);
    EXPECT_FALSE(noname.Active());

    // Field readers by name.
    a.First();
    EXPECT_EQ(TzCommon::TrimRight(a.GetCField("navn")), "berit");
    EXPECT_FALSE(a.GetLField("navn"));
    EXPECT_NE(TzCommon::LastMessage().find("'logical'.'navn' actually is: 'Character'"),
              std::string::npos);
    TzCommon::ClearError();
    a.GetCField("missing");
    EXPECT_NE(TzCommon::LastMessage().find("Field 'missing' not in '"), std::string::npos);
    TzCommon::ClearError();
    TzCommon::ErrorWord = 0;
}

TEST_F(TzdsTest, LocateUsesIndexOnlyForItsOwnField) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf", true);
    t.ShowProgress = false;
    t.Open();
    AddRow(t, "Anne", 7);
    AddRow(t, "Bo", 8);
    t.SetOrderToTag("NAVN");
    // The tag is on UPPER(NAVN): a case-insensitive locate of NAVN uses it.
    EXPECT_TRUE(t.Locate("navn", {"bo"}, Db::loCaseInsensitive));
    EXPECT_EQ(t.FieldByName("navn").AsString(), "Bo");
    // Another field is searched sequentially, not as a key of the NAVN tag.
    EXPECT_TRUE(t.Locate("belob", {"7"}, 0));
    EXPECT_EQ(t.FieldByName("navn").AsString(), "Anne");
    EXPECT_FALSE(t.Locate("navn", {"bo"}, 0));  // case-sensitive: not through UPPER
}

// ---- Locks refused by another process ----------------------------------------------------

TEST(TzdsLockHelper, HoldLocks) {
    KJ_CHILD_ONLY();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("FILE"));
    Dbf4::Go(1);
    kjtest::TellParent(Dbf4::RLock() ? "locked" : "failed " + TzCommon::LastMessage());
    kjtest::HearParent();
    Dbf4::Unlock();
    kjtest::TellParent(Dbf4::ALock() ? "alocked" : "failed " + TzCommon::LastMessage());
    kjtest::HearParent();
    Dbf4::Unlock();
    kjtest::TellParent("released");
    kjtest::HearParent();
    Dbf4::CloseAll();
}

TEST_F(TzdsTest, RefusedLocksAbortAndRetry) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.Open();
    AddRow(t, "anne", 1);
    kjtest::Child child("TzdsLockHelper.HoldLocks", {{"FILE", Path("tab.dbf")}});
    ASSERT_EQ(child.ReadLine(), "locked");

    // No handler: the message, the silent abort, the row stays in edit with its values.
    t.Edit();
    t.FieldByName("navn").SetAsString("edited");
    EXPECT_THROW(t.Post(), Db::EAbort);
    EXPECT_EQ(t.State(), Db::dsEdit);
    EXPECT_EQ(t.FieldByName("navn").AsString(), "edited");
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "Lock failed [Post]");
    t.Cancel();
    EXPECT_THROW(t.Delete(), Db::EAbort);
    EXPECT_EQ(g_messages.back(), "Lock failed [Delete]");
    EXPECT_EQ(Names(t), (std::vector<std::string>{"anne"}));
    child.WriteLine("next");
    ASSERT_EQ(child.ReadLine(), "alocked");

    // Insert refused by the append lock; the handler declines.
    int asked = 0;
    t.OnALockFailedOnInsert = [&](TTzDataSet&, bool& retry) {
        ++asked;
        retry = false;
    };
    t.Append();
    t.FieldByName("navn").SetAsString("new");
    EXPECT_THROW(t.Post(), Db::EAbort);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(t.State(), Db::dsInsert);

    // The handler retries after the other process let go.
    t.OnALockFailedOnInsert = [&](TTzDataSet&, bool& retry) {
        ++asked;
        child.WriteLine("go");
        EXPECT_EQ(child.ReadLine(), "released");
        retry = true;
    };
    t.Post();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(t.State(), Db::dsBrowse);
    EXPECT_EQ(t.RecCount(), 2);
    child.WriteLine("end");
    EXPECT_EQ(child.Wait(), 0);
}
