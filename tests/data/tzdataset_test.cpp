// The dataset components over real tables: definitions and creation, the dataset protocol
// (navigation, editing, events, WHILE ranges, calculated fields that search another table,
// the state stack), wide numbers, conditions that do not compile, locks refused by another
// process and indexes built from IndexList.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "data/db_datasource.h"
#include "data/db_format.h"
#include "data/dbf_fields.h"
#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "index/tz_ndx.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "tests/data/tzdataset_fixture.h"
#include "tests/support/test_support.h"

using namespace TzDs;
using namespace tzdstest;

TEST(DbfFieldsTest, CorrectionsAndParsing) {
    g_messages.clear();
    SetMessageProc([](const std::string& t) { g_messages.push_back(t); });
    std::vector<TzDbfLow::FieldDef> defs;
    std::vector<std::string> lines = {"big, N, 25, 2",     "wide, C, 300, 0", "odd, Q, 1, 0",
                                      "tight, N, 5, 4",    "both, N, 25, 24", "drop, X, 1, 0",
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

TEST_F(TzdsTest, CasesTableHasItsFieldLayoutAndTags) {
    TTzDbf sags("SagsDbf");
    sags.SetDbfFileName(Path("Sager.dbf"));
    sags.DbfFields() = {"sags_nr, C, 10, 0",   "sags_bem, C, 100, 0", "sag_opret, D, 10, 0",
                        "sag_ajour, D, 10, 0", "sag_ini, C, 5, 0",    "sag_disk, C, 254, 0",
                        "sag_kunde, C, 10, 0", "sag_ansvar, C, 5, 0", "sag_afslut, D, 10, 0",
                        "sag_matnr, C, 50, 0", "sag_type, C, 16, 0",  "filler, C, 254, 0",
                        "filler2, C, 254, 0",  "filler3, C, 6, 0"};
    sags.IndexList() = {"SAGSNR,F,F,UPPER(SAGS_NR)",
                        "",
                        "SAGSANS,F,F,UPPER(SAG_ANSVAR)+UPPER(SAGS_NR)",
                        "",
                        "SAGSKUND,F,F,UPPER(SAG_KUNDE)+UPPER(SAGS_NR)",
                        "",
                        "SAGSAFSLUT,F,F,DTOS(SAG_AFSLUT)+UPPER(SAGS_NR)",
                        ""};
    sags.ShowProgress = false;
    ASSERT_NO_THROW(sags.Open());
    std::string b = Bytes(Path("Sager.dbf"));
    EXPECT_EQ(U16(b, 10), 989);              // record length
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

    // The same through an index: the engine reads the old record again for the index
    // engine before writing, and the digits must survive that.
    {
        TTzDbf x("Wide");
        MakeTable(x, "wide.dbf", true);
        x.Open();
        AddRow(x, "ib", 1);
        x.Edit();
        x.FieldByName("belob").SetAsLargeInt(9000000001LL);
        x.Post();
        std::string w = Bytes(Path("wide.dbf"));
        EXPECT_EQ(w.substr(U16(w, 8) + 1 + 10, 12), "  9000000001");
        x.Close();
    }

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
    // An impossible date is refused in Danish with the field's label.
    t.FieldByName("dato").SetDisplayLabel("Dato");
    try {
        t.FieldByName("dato").SetText("31-02-2023");
        ADD_FAILURE() << "31-02-2023 was taken";
    } catch (const Db::EConvertError& e) {
        EXPECT_STREQ(e.what(), "'31-02-2023' er ikke en gyldig dato i feltet 'Dato'");
    }
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

// A 0 or false the program assigns is written as 0 and "F" (fields it never assigned stay
// blank), and a value too wide for an N field of width 12 is written as asterisks, with or
// without an index (whose re-read of the old record must keep them).
TEST_F(TzdsTest, AssignedZeroFalseAndWideNumbersReachTheFile) {
    for (bool indexed : {false, true}) {
        SCOPED_TRACE(indexed ? "indexed" : "plain");
        const std::string file = indexed ? "zi.dbf" : "z.dbf";
        TTzDbf t("Zero");
        MakeTable(t, file, indexed);
        t.Open();
        t.Append();
        t.FieldByName("navn").SetAsString("z");
        t.FieldByName("belob").SetAsLargeInt(0);
        t.FieldByName("ok").SetAsBoolean(false);
        t.Post();
        std::string b = Bytes(Path(file));
        const size_t rec = U16(b, 8);
        EXPECT_EQ(b.substr(rec + 11, 31), "           0                  F");
        t.Edit();
        t.FieldByName("pris").SetAsFloat(0);
        t.Post();
        b = Bytes(Path(file));
        EXPECT_EQ(b.substr(rec + 11, 31), "           0      0.00        F");
        t.Edit();
        t.FieldByName("belob").SetAsLargeInt(-99999999999LL);  // fits: 12 characters
        t.Post();
        EXPECT_EQ(Bytes(Path(file)).substr(rec + 11, 12), "-99999999999");
        t.Close();
    }
}

// A number too wide for its N field is refused when it is assigned, with a message naming
// the field and the largest value it holds, and the record keeps what it had; it is never
// stored as asterisks.
TEST_F(TzdsTest, NumberTooWideForItsFieldIsRefusedAtEntry) {
    TTzDbf t("Wide");
    t.SetDbfFileName(Path("w.dbf"));
    t.DbfFields() = {"priori, N, 5, 0", "belob, N, 12, 0", "pris, N, 10, 2"};
    t.Open();
    t.Append();
    t.FieldByName("priori").SetAsInteger(99999);
    t.FieldByName("belob").SetAsLargeInt(-99999999999LL);
    t.FieldByName("pris").SetAsFloat(9999999.99);
    const std::string point(1, Db::FormatSettings().DecimalSeparator);
    struct Refused {
        const char* field;
        double value;
        std::string message;
    } refused[] = {
        {"priori", 100000,
         "100 000 er ikke en gyldig v\xE6rdi i feltet 'PRIORI'. V\xE6rdien skal ligge fra -9 999 "
         "til "
         "99 999"},
        {"priori", -10000,
         "-10 000 er ikke en gyldig v\xE6rdi i feltet 'PRIORI'. V\xE6rdien skal ligge fra -9 999 "
         "til "
         "99 999"},
        {"belob", 1234567890123.0,
         "1 234 567 890 123 er ikke en gyldig v\xE6rdi i feltet 'BELOB'. V\xE6rdien skal ligge fra "
         "-99 999 999 999 til 999 999 999 999"},
        {"pris", 10000000,
         "10 000 000 er ikke en gyldig v\xE6rdi i feltet 'PRIS'. V\xE6rdien skal ligge fra -999 "
         "999" +
             point + "99 til 9 999 999" + point + "99"},
    };
    for (const Refused& r : refused) {
        SCOPED_TRACE(r.field);
        try {
            if (std::string(r.field) == "pris")
                t.FieldByName(r.field).SetAsFloat(r.value);
            else
                t.FieldByName(r.field).SetAsLargeInt(int64_t(r.value));
            ADD_FAILURE() << "accepted";
        } catch (const Db::EDatabaseError& e) {
            EXPECT_EQ(std::string(e.what()), r.message);
        }
    }
    t.Post();
    const std::string b = Bytes(Path("w.dbf"));
    EXPECT_EQ(b.substr(U16(b, 8) + 1, 27), "99999-999999999999999999.99");
    t.Close();
}

// A value that rounds to the field's decimals within its range is taken and stored
// rounded; one that rounds past it is refused.
TEST_F(TzdsTest, ValuesThatRoundIntoRangeAreTaken) {
    TTzDbf t("Round");
    t.SetDbfFileName(Path("r.dbf"));
    t.DbfFields() = {"pris, N, 8, 2", "sats, N, 5, 3"};
    t.Open();
    t.Append();
    t.FieldByName("pris").SetAsFloat(99999.994999);
    t.FieldByName("sats").SetAsFloat(9.9994);
    EXPECT_THROW(t.FieldByName("pris").SetAsFloat(99999.995), Db::EDatabaseError);
    EXPECT_THROW(t.FieldByName("sats").SetAsFloat(-0.9995), Db::EDatabaseError);
    t.Post();
    const std::string b = Bytes(Path("r.dbf"));
    EXPECT_EQ(b.substr(U16(b, 8) + 1, 13), "99999.999.999");
    t.Close();
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
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    t.SetWhileTo("BELOB <= 4");  // current record outside: refused and cleared
    EXPECT_FALSE(t.IsWhileOn());
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidOperation);
    EXPECT_NE(TzCommon::LastMessage().find(kMsgNotInWhileRange), std::string::npos);
    TzCommon::ClearError();
    TzCommon::ClearErrorWord();

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
    TzCommon::ClearErrorWord();

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
    TzCommon::ClearErrorWord();
}

// A step through a shared table with its index open asks the file for the move alone (the
// index semaphore's read count, raised and lowered): not for the record count, which the
// table's emptiness and the bookmark's range need only while the table looked empty. A
// cursor that saw the table empty still finds another cursor's rows.
TEST_F(TzdsTest, StepsAskTheFileForTheMoveAlone) {
    TTzDbf a("CurA"), b("CurB");
    MakeTable(a, "tab.dbf", true);
    MakeTable(b, "tab.dbf", true);
    a.Open();
    b.Open();
    b.First();
    EXPECT_TRUE(b.Eof());
    for (int k = 0; k < 60; ++k) AddRow(a, "n" + std::to_string(159 - k), k);
    b.First();
    ASSERT_FALSE(b.Eof());
    ASSERT_TRUE(b.SetOrderToTag("NAVN"));
    b.First();
    b.Next();
    constexpr int kSteps = 40;
    tz::CallCounts calls;
    tz::SetCallCounts(&calls);
    std::string names;
    for (int i = 0; i < kSteps; ++i) {
        names += b.FieldByName("navn").AsString();
        b.Next();
    }
    tz::SetCallCounts(nullptr);
    EXPECT_EQ(names.substr(0, 8), "n101n102");
    EXPECT_EQ(b.FieldByName("navn").AsString(), "n141");
    EXPECT_EQ(calls.sizes, 0);
    EXPECT_EQ(calls.reads, 0);  // the semaphore record through its mapping
    EXPECT_EQ(calls.writes, 0);
    EXPECT_EQ(calls.locks, 6 * kSteps);
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

// A tag on the plain field holds the keys as written: a case-insensitive locate searches
// the records, and finds what the sequential search finds.
TEST_F(TzdsTest, CaseInsensitiveLocateDoesNotUseAPlainFieldTag) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.IndexList() = {"NAVN,F,F,NAVN", ""};
    t.ShowProgress = false;
    t.Open();
    AddRow(t, "anne", 7);
    AddRow(t, "Bo", 8);
    AddRow(t, "BO", 9);
    t.SetOrderToTag("NAVN");
    EXPECT_TRUE(t.Locate("navn", {"bo"}, Db::loCaseInsensitive));
    EXPECT_EQ(t.FieldByName("belob").AsString(), "8");
    EXPECT_TRUE(t.Locate("navn", {"ANNE"}, Db::loCaseInsensitive | Db::loPartialKey));
    EXPECT_EQ(t.FieldByName("belob").AsString(), "7");
    // Case-sensitive, the tag serves.
    EXPECT_TRUE(t.Locate("navn", {"BO"}, 0));
    EXPECT_EQ(t.FieldByName("belob").AsString(), "9");
    EXPECT_FALSE(t.Locate("navn", {"bO"}, 0));
}

// ---- Index files: verify, always, refused builds, the progress window ---------------------

namespace {

// Records what a progress window shows.
struct ProgressLog {
    std::vector<std::string> captions;
    std::vector<size_t> bars;  // bar length at each change
    int open = 0;
};
ProgressLog g_progress;

class LoggingView : public ProgressView {
  public:
    LoggingView() { ++g_progress.open; }
    ~LoggingView() override { --g_progress.open; }
    void Show(const std::string& caption, const std::string& text) override {
        g_progress.captions.push_back(caption);
        g_progress.bars.push_back(text.size());
    }
    void SetText(const std::string& text) override {
        EXPECT_EQ(text.find_first_not_of('|'), std::string::npos);
        g_progress.bars.push_back(text.size());
    }
};

}  // namespace

TEST_F(TzdsTest, VerifyHeaderKeepsAMatchingIndexAndRebuildsAnother) {
    {
        TTzDbf t("Tab");
        MakeTable(t, "tab.dbf", true);
        t.ShowProgress = false;
        t.Open();
        AddRow(t, "Bo", 2);
        AddRow(t, "anne", 1);
    }
    const std::string mdx = Path("tab.MDX");
    const std::string built = Bytes(mdx);
    int builds = 0, after = 0;
    auto open = [&](const std::vector<std::string>& list) {
        auto t = std::make_unique<TTzDbf>("Tab");
        MakeTable(*t, "tab.dbf");
        t->IndexList() = list;
        t->CreateIndex = ciVerifyHeader;
        t->ShowProgress = false;
        t->OnBeforeMakeIndex = [&](TTzDataSet&, const std::string& name, bool&) {
            EXPECT_EQ(name, TzCommon::ForceExtension(Path("tab.dbf"), "MDX"));
            ++builds;
        };
        t->OnAfterMakeIndex = [&](TTzDataSet&, const std::string&) { ++after; };
        t->Open();
        return t;
    };
    // The same tags, spelled in another case: the file is opened as it is.
    auto t = open({"navn,f,f,upper(navn)", ""});
    EXPECT_EQ(builds, 0);
    EXPECT_EQ(t->Mdx(), TzCommon::ForceExtension(Path("tab.dbf"), "MDX"));
    EXPECT_TRUE(t->SetOrderToTag("NAVN"));
    t->First();
    EXPECT_EQ(t->FieldByName("navn").AsString(), "anne");
    t.reset();
    EXPECT_EQ(Bytes(mdx), built);

    // Another expression, another tag count, a FOR condition, a descending flag: rebuilt.
    const std::vector<std::vector<std::string>> others = {
        {"NAVN,F,F,NAVN", ""},
        {"NAVN,F,F,UPPER(NAVN)", "", "BELOB,F,F,BELOB", ""},
        {"NAVN,F,F,UPPER(NAVN)", "BELOB > 1"},
        {"NAVN,T,F,UPPER(NAVN)", ""},
    };
    for (size_t i = 0; i < others.size(); ++i) {
        t = open(others[i]);
        EXPECT_EQ(builds, int(i) + 1) << i;
        EXPECT_EQ(after, int(i) + 1) << i;
        EXPECT_EQ(TzNdx::TagCount(), int(others[i].size() / 2)) << i;
        EXPECT_EQ(TzNdx::TagExpression(1), others[i][0].substr(9)) << i;
        t.reset();
    }
    // A missing index file is built in this mode too.
    std::remove(mdx.c_str());
    t = open({"NAVN,F,F,UPPER(NAVN)", ""});
    EXPECT_EQ(builds, int(others.size()) + 1);
    EXPECT_TRUE(t->FindExact("BO        "));
}

// A damaged or truncated index file is rebuilt at open in both checking modes, instead of
// failing the start.
TEST_F(TzdsTest, DamagedIndexIsRebuiltAtOpen) {
    {
        TTzDbf t("Tab");
        MakeTable(t, "tab.dbf", true);
        t.ShowProgress = false;
        t.Open();
        AddRow(t, "Bo", 2);
        AddRow(t, "anne", 1);
    }
    const std::string mdx = Path("tab.MDX");
    const std::string good = Bytes(mdx);
    std::string damaged = good;
    for (size_t i = 512; i < 1024 && i < damaged.size(); ++i) damaged[i] = char(0xFF);
    const std::vector<std::pair<const char*, std::string>> files = {
        {"truncated", good.substr(0, 700)}, {"overwritten", damaged}};
    for (TCreateIndexType mode : {ciNotFound, ciVerifyHeader}) {
        for (const auto& [what, bytes] : files) {
            SCOPED_TRACE(what);
            kjtest::WriteFile(mdx, bytes);
            TTzDbf t("Tab");
            MakeTable(t, "tab.dbf", true);
            t.CreateIndex = mode;
            t.ShowProgress = false;
            int builds = 0;
            t.OnBeforeMakeIndex = [&](TTzDataSet&, const std::string&, bool&) { ++builds; };
            EXPECT_NO_THROW(t.Open());
            ASSERT_TRUE(t.Active());
            EXPECT_EQ(builds, 1);
            EXPECT_TRUE(t.SetOrderToTag("NAVN"));
            t.First();
            EXPECT_EQ(t.FieldByName("navn").AsString(), "anne");
            EXPECT_TRUE(t.FindExact("BO        "));
        }
    }
}

TEST_F(TzdsTest, AlwaysRebuildsAndRefusedBuildLeavesNoIndex) {
    {
        TTzDbf t("Tab");
        MakeTable(t, "tab.dbf", true);
        t.ShowProgress = false;
        t.Open();
        for (int i = 0; i < 30; ++i) AddRow(t, "n" + std::to_string(i), i);
    }
    // ciAlways with nobody else holding the file: built again, with the progress window.
    g_progress = ProgressLog();
    SetProgressViewFactory([] { return std::make_unique<LoggingView>(); });
    int builds = 0;
    {
        TTzDbf t("Tab");
        MakeTable(t, "tab.dbf", true);
        t.CreateIndex = ciAlways;
        t.OnBeforeMakeIndex = [&](TTzDataSet&, const std::string&, bool&) {
            ++builds;
            EXPECT_EQ(g_progress.open, 0);  // asked before the window appears
        };
        t.OnAfterMakeIndex = [&](TTzDataSet&, const std::string&) {
            EXPECT_EQ(g_progress.open, 0);  // told after it went
        };
        t.Open();
        EXPECT_EQ(builds, 1);
        EXPECT_EQ(t.RecordCount(), 30);
    }
    SetProgressViewFactory(nullptr);
    ASSERT_EQ(g_progress.captions.size(), 1u);
    EXPECT_EQ(g_progress.captions[0],
              "Indexing " + TzCommon::ForceExtension(Path("tab.dbf"), "MDX") + "...");
    ASSERT_GE(g_progress.bars.size(), 2u);
    EXPECT_EQ(g_progress.bars[0], 100u);
    EXPECT_EQ(g_progress.bars[1], 99u);
    EXPECT_EQ(g_progress.open, 0);

    // OnBeforeMakeIndex refuses: no index file, the production-index flag cleared in the
    // file, no OnAfterMakeIndex, and the table still takes new rows.
    std::remove(Path("tab.MDX").c_str());
    int told = 0;
    {
        TTzDbf t("Tab");
        MakeTable(t, "tab.dbf", true);
        t.OnBeforeMakeIndex = [&](TTzDataSet&, const std::string&, bool& canMake) {
            canMake = false;
        };
        t.OnAfterMakeIndex = [&](TTzDataSet&, const std::string&) { ++told; };
        t.Open();
        EXPECT_EQ(t.Mdx(), "");
        EXPECT_TRUE(t.IsSequenced());
        AddRow(t, "late", 99);
        EXPECT_EQ(t.RecCount(), 31);
    }
    EXPECT_EQ(told, 0);
    std::string listing;
    kjtest::RunCommand("ls '" + Path("") + "'", &listing);
    EXPECT_EQ(TzUtils::AnsiUpper(listing).find("TAB.MDX"), std::string::npos) << listing;
    EXPECT_EQ(uint8_t(Bytes(Path("tab.dbf"))[28]), 0);
    // A cursor without its own tag list then opens no index at all.
    TTzDbf twin("Twin");
    twin.SetDbfFileName(Path("tab.dbf"));
    twin.Open();
    EXPECT_EQ(twin.Mdx(), "");
    EXPECT_EQ(twin.RecordCount(), 31);
}

// The application's start-up on an empty folder: each table is created with its index,
// then its twin cursor (no tag list of its own) opens while the first stays open.
TEST_F(TzdsTest, ProductionFlagReachesTheFileWithTheIndex) {
    TTzDbf main("Main");
    MakeTable(main, "tab.dbf", true);
    main.Open();
    EXPECT_EQ(uint8_t(Bytes(Path("tab.dbf"))[28]), 1);
    TTzDbf twin("MainBuf");
    twin.SetDbfFileName(Path("tab.dbf"));
    twin.Open();
    EXPECT_NE(twin.Mdx(), "");
    AddRow(twin, "berit", 2);
    EXPECT_TRUE(twin.FindExact("BERIT"));
    AddRow(main, "anne", 1);
    EXPECT_TRUE(main.FindExact("BERIT"));
    EXPECT_TRUE(twin.FindExact("ANNE"));
    twin.Close();
    main.Close();

    // A refused build clears the flag in the file at once, not only in the open cursor.
    std::remove(Path("tab.MDX").c_str());
    TTzDbf refused("Refused");
    MakeTable(refused, "tab.dbf", true);
    refused.OnBeforeMakeIndex = [](TTzDataSet&, const std::string&, bool& canMake) {
        canMake = false;
    };
    refused.Open();
    EXPECT_EQ(uint8_t(Bytes(Path("tab.dbf"))[28]), 0);
    TTzDbf other("Other");
    other.SetDbfFileName(Path("tab.dbf"));
    other.Open();
    EXPECT_EQ(other.Mdx(), "");
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    EXPECT_EQ(other.RecordCount(), 2);
}

// ReadOnly replaces the open mode, EXCLUSIVE included: the cursor reads the table as a
// shared one and sees what other cursors add.
TEST_F(TzdsTest, ReadOnlyOverrideReplacesTheExclusiveMode) {
    {
        TTzDbf maker("Maker");
        MakeTable(maker, "tab.dbf");
        maker.Open();
        AddRow(maker, "anne", 1);
    }
    TTzDbf reader("Reader");
    MakeTable(reader, "tab.dbf");
    reader.ReadOnly = true;
    reader.SetExclusive(true);
    reader.Open();
    ASSERT_TRUE(reader.Active());
    TTzDbf writer("Writer");
    MakeTable(writer, "tab.dbf");
    writer.Open();
    ASSERT_TRUE(writer.Active());
    AddRow(writer, "berit", 2);
    reader.Refresh();
    EXPECT_EQ(Names(reader), (std::vector<std::string>{"anne", "berit"}));
}

TEST(TzdsProgress, BarEmptiesAndRefills) {
    g_progress = ProgressLog();
    SetProgressViewFactory([] { return std::make_unique<LoggingView>(); });
    {
        TTzProgress100 p;
        EXPECT_EQ(p.Caption(), "Progress");
        for (int i = 0; i < 100; ++i) p.Step();
        EXPECT_EQ(p.Bar(), "");
        p.Step();
        EXPECT_EQ(p.Bar(), std::string(100, '|'));
        p.Step();
        EXPECT_EQ(p.Bar().size(), 99u);
        EXPECT_EQ(g_progress.open, 1);
    }
    SetProgressViewFactory(nullptr);
    EXPECT_EQ(g_progress.open, 0);
    ASSERT_EQ(g_progress.bars.size(), 103u);
    EXPECT_EQ(g_progress.bars[100], 0u);
    EXPECT_EQ(g_progress.bars[101], 100u);
    // Without a view the window only counts.
    TTzProgress100 quiet("Indexing x...");
    quiet.Step();
    EXPECT_EQ(quiet.Bar().size(), 99u);
}

// ---- Memo fields as streams -----------------------------------------------------------------

TEST_F(TzdsTest, MemoFieldsThroughBlobStreams) {
    TTzDbf t("Memo");
    t.SetDbfFileName(Path("memo.dbf"));
    t.DbfFields() = {"navn, C, 10, 0", "notat, M, 10, 0"};
    t.Open();
    // Written through the field: the text is stored as OEM in the memo file and the block
    // number reaches the record with the post.
    t.Append();
    t.FieldByName("navn").SetAsString("en");
    const std::string text = "Sag \xE6\xF8\xE5 \xC6\xD8\xC5 " + std::string(700, 'x');
    t.FieldByName("notat").SetAsString(text);
    EXPECT_TRUE(t.Modified());
    t.Post();
    EXPECT_EQ(t.FieldByName("notat").AsString(), text);
    std::string dbf = Bytes(Path("memo.dbf"));
    const size_t rec1 = U16(dbf, 8);
    const int block = std::stoi(dbf.substr(rec1 + 1 + 10, 10));
    ASSERT_GT(block, 0);
    const std::string dbt = Bytes(Path("memo.DBT"));
    const size_t at = size_t(block) * 512;
    ASSERT_GE(dbt.size(), at + 8 + text.size());
    EXPECT_EQ(dbt.substr(at, 4), std::string("\xFF\xFF\x08\x00", 4));
    EXPECT_EQ(dbt.substr(at + 8, 11), "Sag \x91\x9B\x86 \x92\x9D\x8F");

    // A second row without a memo reads as empty; a cancelled write keeps the old memo.
    t.Append();
    t.FieldByName("navn").SetAsString("to");
    t.Post();
    EXPECT_EQ(t.FieldByName("notat").AsString(), "");
    t.First();
    t.Edit();
    t.FieldByName("notat").SetAsString("replaced");
    t.Cancel();
    EXPECT_EQ(t.FieldByName("notat").AsString(), text);

    // Streams by hand: seek, partial reads, the field-changed event on a write.
    int changes = 0;
    t.FieldByName("notat").OnChange = [&](Db::TField&) { ++changes; };
    {
        auto s = t.CreateBlobStream(t.FieldByName("notat"), Db::bmRead);
        EXPECT_EQ(s->Seek(0, 2), int64_t(text.size()));
        s->Seek(4, 0);
        char buf[3];
        ASSERT_EQ(s->Read(buf, 3), 3u);
        EXPECT_EQ(std::string(buf, 3), "\xE6\xF8\xE5");
        EXPECT_EQ(s->Write("no", 2), 0u);  // a read stream writes nothing
    }
    EXPECT_EQ(t.State(), Db::dsBrowse);
    EXPECT_EQ(changes, 0);
    {
        auto s = t.CreateBlobStream(t.FieldByName("notat"), Db::bmWrite);
        EXPECT_EQ(s->Write("abc", 3), 3u);
        EXPECT_EQ(s->Write("def", 3), 3u);
    }
    EXPECT_EQ(t.State(), Db::dsEdit);  // freeing a written stream puts the row into edit
    EXPECT_EQ(changes, 1);
    t.Post();
    EXPECT_EQ(t.FieldByName("notat").AsString(), "abcdef");

    // An empty write clears the memo: the field goes blank and never points at a block that
    // was not written.
    t.Edit();
    t.FieldByName("notat").SetAsString("");
    EXPECT_EQ(changes, 2);
    t.Post();
    EXPECT_EQ(t.FieldByName("notat").AsString(), "");
    dbf = Bytes(Path("memo.dbf"));
    EXPECT_EQ(dbf.substr(rec1 + 1 + 10, 10), std::string(10, ' '));
    // An empty write on a field that had no memo changes nothing.
    t.Last();
    t.Edit();
    t.FieldByName("notat").SetAsString("");
    EXPECT_EQ(changes, 2);
    t.Cancel();

    // Another cursor on the same file reads what this one wrote.
    t.First();
    t.Edit();
    t.FieldByName("notat").SetAsString("delt");
    t.Post();
    TTzDbf other("Other");
    other.SetDbfFileName(Path("memo.dbf"));
    other.Open();
    EXPECT_EQ(other.FieldByName("notat").AsString(), "delt");

    // A closed dataset reports the operation instead of touching the memo file.
    Db::TMemoField& persistent = [&]() -> Db::TMemoField& {
        t.Close();
        t.AddField<Db::TStringField>("navn").SetSize(10);
        return t.AddField<Db::TMemoField>("notat");
    }();
    EXPECT_THROW(persistent.AsString(), Db::EAbort);
    EXPECT_NE(TzCommon::LastMessage().find("Database is not open [Memo.CreateBlobStream]"),
              std::string::npos);
    TzCommon::ClearError();
    TzCommon::ClearErrorWord();
    t.Open();
    EXPECT_EQ(persistent.AsString(), "delt");
}

// A resync held back while controls were disabled (here: the table reopened and emptied
// meanwhile, as the main window does with its scratch tables) is done when they are enabled
// again, never later inside an append, where it would cancel the new row and its defaults.
TEST_F(TzdsTest, HeldBackResyncNeverCancelsTheNextNewRow) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    t.OnNewRecord = [](Db::TDataSet& d) { d.FieldByName("navn").SetAsString("standard"); };
    t.Open();
    AddRow(t, "anne", 1);
    t.Close();
    t.DisableControls();
    t.Open();
    t.Zap();
    t.EnableControls();
    t.Append();
    EXPECT_EQ(t.State(), Db::dsInsert);
    EXPECT_EQ(t.FieldByName("navn").AsString(), "standard");
    t.FieldByName("belob").SetAsLargeInt(7);
    t.Post();
    EXPECT_EQ(Names(t), (std::vector<std::string>{"standard"}));
}

// A new row under a filter that passes none of the table's rows stays in the record window
// of a control showing several rows: appended, inserted, and when the control's window grows
// while the row is typed; posted, it is the row written.
TEST_F(TzdsTest, NewRowUnderAFilterPassingNoRowStaysInTheWindow) {
    TTzDbf t("Tab");
    MakeTable(t, "tab.dbf");
    Db::TDataSource source;
    source.SetDataSet(&t);
    Db::TDataLink link;
    link.SetDataSource(&source);
    link.SetBufferCount(4);
    t.Open();
    AddRow(t, "anne", 1);
    for (bool insert : {false, true}) {
        t.SetFilterTo("BELOB > 100");
        t.First();
        ASSERT_TRUE(t.IsEmpty());
        insert ? t.Insert() : t.Append();
        EXPECT_EQ(link.RecordCount(), 1) << (insert ? "insert" : "append");
        t.FieldByName("navn").SetAsString(insert ? "inserted" : "appended");
        t.FieldByName("belob").SetAsLargeInt(7);
        link.SetBufferCount(insert ? 8 : 2);
        EXPECT_EQ(t.FieldByName("navn").AsString(), insert ? "inserted" : "appended");
        t.Post();
        t.SetFilterTo("");
    }
    EXPECT_EQ(Names(t), (std::vector<std::string>{"anne", "appended", "inserted"}));
}

// Every record read converts its dates; the direct reading of the engine's own form must give
// what the general conversion gives, for every style, and leave every other text to it.
TEST(TzdsDates, DirectReadingAgreesWithTheGeneralConversion) {
    auto general = [](const std::string& t) -> Db::TDateTime {
        if (!TimeDate::ValidDate(t)) return 0;
        const TimeDate::DateParts p = TimeDate::ParseDate(TzCommon::DateFromStyle(t));
        Db::TDateTime v = 0;
        return Db::TryEncodeDate(p.year, p.month, p.day, v) ? v : 0;
    };
    const char alphabet[] = "0123456789012345678901234567890123-./ ";
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int style = 0; style < TzCommon::kDateStyleCount; ++style) {
        TzCommon::SetDateStyle(style);
        TzCommon::SetCenturyFlag(true);
        // Every day of some years (impossible ones too) in the style's own form.
        const char sep = TzCommon::DateSeparator();
        for (int year : {1600, 1700, 1900, 2000, 2024, 2100, 9999})
            for (int m = 1; m <= 13; ++m)
                for (int d = 0; d <= 32; ++d) {
                    char buf[16];
                    if (style == 1)
                        std::snprintf(buf, sizeof buf, "%04d%c%02d%c%02d", year, sep, m, sep, d);
                    else
                        std::snprintf(buf, sizeof buf, "%02d%c%02d%c%04d", style == 0 ? m : d, sep,
                                      style == 0 ? d : m, sep, year);
                    EXPECT_EQ(TzDs::DateTextToDateTime(buf, false), general(buf)) << buf;
                }
        // Texts of the right length that the direct reading must refuse or read alike.
        for (int i = 0; i < 20000; ++i) {
            std::string t;
            for (int k = 0; k < 10; ++k) t += alphabet[next() % (sizeof alphabet - 1)];
            if (i % 2 == 0) {  // keep the separators of the style, so that many are dates
                t[style == 1 ? 4 : 2] = sep;
                t[style == 1 ? 7 : 5] = sep;
            }
            EXPECT_EQ(TzDs::DateTextToDateTime(t, false), general(t)) << style << " '" << t << "'";
        }
    }
    TzCommon::ResetDateSettings();
}

// python3-dbfread's rows of a table, one line each, values by repr.
static std::string DbfReadRows(const std::string& table) {
    std::string out;
    const int rc = kjtest::RunCommand(
        "/usr/bin/python3 -c \"import sys,dbfread\n"
        "for r in dbfread.DBF(sys.argv[1],encoding='cp850'): print('|'.join(repr(v) for v in "
        "r.values()))\" " +
            table + " 2>&1",
        &out);
    EXPECT_EQ(rc, 0) << out;
    return out;
}

TEST_F(TzdsTest, EveryAppendedRecordKeepsItsAssignedZerosAndFalse) {
    for (bool indexed : {false, true}) {
        SCOPED_TRACE(indexed ? "indexed" : "plain");
        const std::string file = indexed ? "ai.dbf" : "a.dbf";
        TTzDbf t("Zero");
        MakeTable(t, file, indexed);
        t.Open();
        for (const char* name : {"a", "b", "c"}) {
            t.Append();
            t.FieldByName("navn").SetAsString(name);
            t.FieldByName("belob").SetAsLargeInt(0);
            t.FieldByName("pris").SetAsFloat(0);
            t.FieldByName("ok").SetAsBoolean(false);
            t.Post();
        }
        t.Close();
        EXPECT_EQ(DbfReadRows(Path(file)),
                  "'a'|0|0.0|None|False\n'b'|0|0.0|None|False\n'c'|0|0.0|None|False\n");
    }
}
