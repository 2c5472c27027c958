// The dataset components when a locked command fails: the cursor's locks are released on
// every path and an append that wrote its record before failing is never written twice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/tz_dbf.h"
#include "storage/dbf_low.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "tests/data/tzdataset_fixture.h"

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
