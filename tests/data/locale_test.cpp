// Numbers under a Danish process locale: a helper process sets LC_ALL to da_DK (decimal
// ",") the way Qt does at start-up, then writes, reads, searches, indexes and formats
// numbers through every layer; the test checks what it saw and the bytes it stored. Table
// fields, keys and expressions use "." whatever the locale; the user-facing side uses the
// program's own settings (decimal ",", thousands " "). The locale is generated in the test's
// own folder, so the machine needs only localedef and the locale sources.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <map>
#include <string>

#include "data/db_format.h"
#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "expr/expr_eval.h"
#include "expr/expr_parser.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "tests/support/test_support.h"

namespace {

constexpr const char* kLocale = "da_DK.UTF-8";

// Builds the Danish locale under dir; the folder to give as LOCPATH, or "" on failure.
std::string MakeDanishLocale(const std::string& dir, std::string* output) {
    const std::string base = dir + "/locales";
    const std::string cmd = "mkdir -p '" + base +
                            "' && timeout 120 localedef -c -i da_DK -f UTF-8 '" + base + "/" +
                            kLocale + "' 2>&1";
    kjtest::RunCommand(cmd, output);
    std::string probe;
    const int rc = kjtest::RunCommand("test -f '" + base + "/" + kLocale + "/LC_NUMERIC'", &probe);
    return rc == 0 ? base : std::string();
}

void Tell(const std::string& key, const std::string& value) {
    kjtest::TellParent(key + "=" + value);
}

void Tell(const std::string& key, bool value) {
    Tell(key, std::string(value ? "T" : "F"));
}

// Result of an expression on the current record, as text.
std::string Eval(const std::string& text) {
    TzParser::ExprBlock* b = TzParser::AssignExpr(text);
    if (!b) return "<compile error>";
    TzParser::Evaluate(b);
    std::string out;
    if (b->type == 'N') {
        out = TzUtils::StrFloat(TzParser::ResultNumber(b), 0, 4);
    } else if (b->type == 'L') {
        out = TzParser::ResultLogical(b) ? "T" : "F";
    } else {
        out = TzParser::ResultString(b);
    }
    TzParser::FreeExpr(b);
    return out;
}

void ReportTable(TzDs::TTzDbf& t) {
    t.Go(1);
    Tell("read", Db::FloatToStr(t.FieldByName("pris").AsFloat()));
    Tell("astext", t.FieldByName("pris").AsString());
    const int pris = Dbf4::FieldNo("pris");
    Tell("peek1", Dbf4::Peek(1, pris));
    Tell("peek2", Dbf4::Peek(2, pris));
    Dbf4::Go(2);
    Tell("locate.number", Dbf4::Locate("pris", {12.5}, Dbf4::kLocateExact) && Dbf4::RecNo() == 1);
    Tell("locate.text", t.Locate("pris", {"7.25"}, 0) && t.RecNo() == 2);
    Tell("find", t.Find("12.5") && t.RecNo() == 1);
    t.Go(1);
    Tell("str", Eval("STR(PRIS, 8, 2)"));
    Tell("val", Eval("VAL(\"12.5\") * 2"));
    Tell("literal", Eval("PRIS + 0.25"));
    Tell("val.huge", Eval("VAL(\"1.5E400\") > 1E300"));
}

void ReportUserSide() {
    Tell("floattostr", Db::FloatToStr(1234.5));
    Tell("number", Db::FloatToStrF(1234567.891, Db::ffNumber, 15, 2));
    Tell("formatfloat", Db::FormatFloat("#,##0.00", -1234.5));
    double v = 0;
    Tell("entry.comma", Db::TryStrToFloat("12,5", v) && v == 12.5);
    Tell("entry.point", Db::TryStrToFloat("+12.5", v) && v == 12.5);
    Tell("strfloat", TzUtils::StrFloat(12.5, 8, 2));
    Db::TFormatSettings& fs = Db::FormatSettings();
    fs.DecimalSeparator = '.';
    Tell("floattostr.point", Db::FloatToStr(12.5));
    TzCommon::SetDecimalChar('.');
    Tell("strfloat.point", TzUtils::StrFloat(12.5, 8, 2));
    fs.DecimalSeparator = ',';
    TzCommon::SetDecimalChar(',');
}

}  // namespace

// Runs in the helper process: the Danish locale is set before anything else happens.
TEST(DanishNumbersChild, Run) {
    KJ_CHILD_ONLY();
    setenv("LOCPATH", kjtest::ChildArg("LOCPATH").c_str(), 1);
    setenv("LC_ALL", kLocale, 1);
    const char* set = std::setlocale(LC_ALL, "");
    Tell("decimal", std::string(set ? std::localeconv()->decimal_point : "<setlocale failed>"));
    TzCommon::SetErrorChecking(0);
    TzDs::ApplyFormatSettingsToEngine();
    {
        TzDs::TTzDbf t;
        t.SetDbfFileName(kjtest::ChildArg("DIR") + "/PRISER.DBF");
        t.DbfFields() = {"navn, C, 10, 0", "pris, N, 10, 2"};
        t.IndexList() = {"PRIS,F,F,PRIS", ""};
        t.Open();
        t.Append();
        t.FieldByName("navn").SetAsString("a");
        t.FieldByName("pris").SetAsFloat(12.5);
        t.Post();
        t.Append();
        t.FieldByName("navn").SetAsString("b");
        try {
            t.FieldByName("pris").SetAsString("7,25");  // typed by the user
            Tell("entry.field", std::string("ok"));
        } catch (const std::exception& e) {
            Tell("entry.field", std::string(e.what()));
            t.FieldByName("pris").SetAsFloat(7.25);
        }
        t.Post();
        t.Close();
        t.Open();  // read back from the file
        ReportTable(t);
        t.Close();
    }
    ReportUserSide();
    kjtest::TellParent("end");
}

TEST(DanishNumbers, FieldsKeysAndExpressionsUsePointUserTextUsesSettings) {
    kjtest::TempDir dir;
    std::string output;
    const std::string locpath = MakeDanishLocale(dir.path(), &output);
    ASSERT_FALSE(locpath.empty()) << "could not generate " << kLocale
                                  << " (package locales needed):\n"
                                  << output;
    kjtest::Child kid("DanishNumbersChild.Run", {{"DIR", dir.path()}, {"LOCPATH", locpath}});
    std::map<std::string, std::string> seen;
    for (;;) {
        const std::string line = kid.ReadLine(30000);
        if (line.empty() || line == "end") break;
        const size_t eq = line.find('=');
        seen[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 1);
    }
    if (!kid.WaitStopped(10000)) kid.KillAndReap();
    EXPECT_EQ(kid.Wait(), 0);
    ASSERT_EQ(seen["decimal"], ",") << "the helper does not run under a Danish LC_NUMERIC";

    // Table fields: stored with "." and read back whole.
    const std::string bytes = kjtest::ReadFile(dir.file("PRISER.DBF"));
    const std::string pad(9, ' ');
    EXPECT_NE(bytes.find("a" + pad + "     12.50"), std::string::npos);
    EXPECT_NE(bytes.find("b" + pad + "      7.25"), std::string::npos);
    EXPECT_EQ(seen["read"], "12,5");
    EXPECT_EQ(seen["peek1"], "     12.50");
    EXPECT_EQ(seen["peek2"], "      7.25");
    EXPECT_EQ(seen["locate.number"], "T");
    EXPECT_EQ(seen["locate.text"], "T");
    // Keys.
    EXPECT_EQ(seen["find"], "T");
    // Expressions.
    EXPECT_EQ(seen["str"], "   12.50");
    EXPECT_EQ(seen["val"], "25,0000");
    EXPECT_EQ(seen["literal"], "12,7500");
    EXPECT_EQ(seen["val.huge"], "T");
    // The user-facing side: the program's settings, never the locale.
    EXPECT_EQ(seen["astext"], "12,5");
    EXPECT_EQ(seen["floattostr"], "1234,5");
    EXPECT_EQ(seen["number"], "1 234 567,89");
    EXPECT_EQ(seen["formatfloat"], "-1 234,50");
    EXPECT_EQ(seen["entry.field"], "ok");
    EXPECT_EQ(seen["entry.comma"], "T");
    EXPECT_EQ(seen["entry.point"], "T");
    EXPECT_EQ(seen["strfloat"], "   12,50");
    EXPECT_EQ(seen["floattostr.point"], "12.5");
    EXPECT_EQ(seen["strfloat.point"], "   12.50");
}
