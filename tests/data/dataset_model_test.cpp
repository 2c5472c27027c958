// The dataset model driven through an in-memory descendant: navigation and the buffer
// window, editing with its events, calculated fields, controls and links, handlers, resync
// and two cursors over one table, and the field objects' conversions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "data/db_datasource.h"
#include "data/db_format.h"
#include "tests/data/mem_dataset.h"

using namespace Db;
using memtest::Column;
using memtest::MemTable;
using memtest::TMemDataSet;

namespace {

// A table of n rows: name "R<i>", qty i, price i * 1.5.
std::shared_ptr<MemTable> MakeTable(int n) {
    auto table = std::make_shared<MemTable>();
    table->columns = {{"name", ftString, 10}, {"qty", ftInteger, 0}, {"price", ftFloat, 0}};
    TMemDataSet loader(table);
    loader.Open();
    for (int i = 1; i <= n; ++i) {
        loader.Append();
        loader.FieldByName("name").SetAsString("R" + std::to_string(i));
        loader.FieldByName("qty").SetAsInteger(i);
        loader.FieldByName("price").SetAsFloat(i * 1.5);
        loader.Post();
    }
    loader.Close();
    return table;
}

std::string Name(TDataSet& ds) {
    return ds.FieldByName("name").AsString();
}

// Records the events of a dataset by name.
void LogEvents(TDataSet& ds, std::vector<std::string>& log) {
    auto hook = [&log](TDataSetNotifyEvent& e, const char* name) {
        e = [&log, name](TDataSet&) { log.push_back(name); };
    };
    hook(ds.BeforeOpen, "BeforeOpen");
    hook(ds.AfterOpen, "AfterOpen");
    hook(ds.BeforeClose, "BeforeClose");
    hook(ds.AfterClose, "AfterClose");
    hook(ds.BeforeInsert, "BeforeInsert");
    hook(ds.AfterInsert, "AfterInsert");
    hook(ds.BeforeEdit, "BeforeEdit");
    hook(ds.AfterEdit, "AfterEdit");
    hook(ds.BeforePost, "BeforePost");
    hook(ds.AfterPost, "AfterPost");
    hook(ds.BeforeCancel, "BeforeCancel");
    hook(ds.AfterCancel, "AfterCancel");
    hook(ds.BeforeDelete, "BeforeDelete");
    hook(ds.AfterDelete, "AfterDelete");
    hook(ds.BeforeScroll, "BeforeScroll");
    hook(ds.AfterScroll, "AfterScroll");
    hook(ds.OnNewRecord, "OnNewRecord");
}

using Log = std::vector<std::string>;

// A data link that records its notifications.
class LogLink : public TDataLink {
  public:
    Log log;
    std::string editorText;  // written into "name" by UpdateData when not empty

  protected:
    void ActiveChanged() override { log.push_back(Active() ? "Active" : "Inactive"); }
    void DataSetChanged() override { log.push_back("DataSetChanged"); }
    void DataSetScrolled(int distance) override {
        log.push_back("Scrolled " + std::to_string(distance));
    }
    void EditingChanged() override { log.push_back(Editing() ? "Editing" : "NotEditing"); }
    void RecordChanged(TField* field) override {
        log.push_back(field ? "RecordChanged " + field->FieldName() : "RecordChanged");
    }
    void UpdateData() override {
        log.push_back("UpdateData");
        if (!editorText.empty()) DataSet()->FieldByName("name").SetAsString(editorText);
    }
};

// The names of the rows a link shows, read through its active record.
std::vector<std::string> LinkRows(TDataLink& link) {
    std::vector<std::string> out;
    int saved = link.ActiveRecord();
    for (int i = 0; i < link.RecordCount(); ++i) {
        link.SetActiveRecord(i);
        out.push_back(link.DataSet()->FieldByName("name").AsString());
    }
    link.SetActiveRecord(saved);
    return out;
}

}  // namespace

TEST(DataSetModel, NavigationAtBothEnds) {
    TMemDataSet ds(MakeTable(5));
    ds.Open();
    EXPECT_TRUE(ds.Bof());
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(Name(ds), "R1");
    EXPECT_EQ(ds.MoveBy(-1), 0);  // already at the first record
    EXPECT_TRUE(ds.Bof());
    for (int i = 2; i <= 5; ++i) {
        ds.Next();
        EXPECT_EQ(Name(ds), "R" + std::to_string(i));
        EXPECT_FALSE(ds.Eof());
    }
    ds.Next();  // past the last: stays, Eof set
    EXPECT_TRUE(ds.Eof());
    EXPECT_EQ(Name(ds), "R5");
    EXPECT_EQ(ds.MoveBy(3), 0);
    EXPECT_EQ(ds.MoveBy(-10), -4);
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(Name(ds), "R1");
    ds.Last();
    EXPECT_TRUE(ds.Eof());
    EXPECT_FALSE(ds.Bof());
    EXPECT_EQ(Name(ds), "R5");
    EXPECT_EQ(ds.RecNo(), 5);
    ds.Prior();
    EXPECT_FALSE(ds.Eof());
    EXPECT_EQ(Name(ds), "R4");
    ds.First();
    EXPECT_TRUE(ds.Bof());
    EXPECT_EQ(Name(ds), "R1");

    TMemDataSet empty(MakeTable(0));
    empty.Open();
    EXPECT_TRUE(empty.Bof());
    EXPECT_TRUE(empty.Eof());
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_TRUE(empty.FieldByName("name").IsNull());
    EXPECT_EQ(empty.MoveBy(1), 0);
    empty.Last();
    EXPECT_TRUE(empty.Bof() && empty.Eof());
    EXPECT_THROW(empty.Delete(), EDatabaseError);
}

TEST(DataSetModel, MoveByAcrossTheBufferWindow) {
    TMemDataSet ds(MakeTable(10));
    TDataSource source;
    source.SetDataSet(&ds);
    LogLink link;
    link.SetDataSource(&source);
    link.SetBufferCount(3);
    ds.Open();
    EXPECT_EQ(ds.Window(), 3);
    EXPECT_EQ(LinkRows(link), (std::vector<std::string>{"R1", "R2", "R3"}));
    link.log.clear();

    EXPECT_EQ(ds.MoveBy(5), 5);
    EXPECT_EQ(Name(ds), "R6");
    EXPECT_EQ(ds.WindowIds(), (std::vector<int32_t>{4, 5, 6}));  // consecutive, ends at R6
    EXPECT_EQ(link.ActiveRecord(), 2);
    EXPECT_EQ(LinkRows(link), (std::vector<std::string>{"R4", "R5", "R6"}));
    EXPECT_EQ(link.log, (Log{"Scrolled 3"}));  // the link's rows moved by three
    EXPECT_EQ(Name(ds), "R6");                 // reading the link's rows put the active record back

    EXPECT_EQ(ds.MoveBy(-4), -4);
    EXPECT_EQ(Name(ds), "R2");
    EXPECT_EQ(LinkRows(link), (std::vector<std::string>{"R2", "R3", "R4"}));
    EXPECT_EQ(link.ActiveRecord(), 0);

    // Every position from both directions holds the right record.
    ds.First();
    for (int i = 1; i <= 10; ++i, ds.Next()) EXPECT_EQ(ds.FieldByName("qty").AsInteger(), i);
    ds.Last();
    for (int i = 10; i >= 1; --i, ds.Prior()) EXPECT_EQ(ds.FieldByName("qty").AsInteger(), i);
    EXPECT_TRUE(ds.Bof());

    // Shrinking and growing the window keeps the active record.
    ds.MoveBy(6);
    link.SetBufferCount(1);
    EXPECT_EQ(Name(ds), "R7");
    link.SetBufferCount(5);
    EXPECT_EQ(Name(ds), "R7");
    EXPECT_EQ(LinkRows(link).size(), 5u);
    ds.Close();
}

TEST(DataSetModel, EditInsertPostCancelDeleteEventOrder) {
    auto table = MakeTable(3);
    TMemDataSet ds(table);
    Log log;
    LogEvents(ds, log);
    ds.Open();
    EXPECT_EQ(log, (Log{"BeforeOpen", "AfterOpen", "AfterScroll"}));

    log.clear();
    ds.Next();  // on R2
    ds.Insert();
    EXPECT_EQ(ds.State(), dsInsert);
    ds.FieldByName("name").SetAsString("New");
    ds.Post();
    EXPECT_EQ(log, (Log{"BeforeScroll", "AfterScroll", "BeforeInsert", "BeforeScroll",
                        "OnNewRecord", "AfterInsert", "AfterScroll", "BeforePost", "AfterPost"}));
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(Name(ds), "New");
    ASSERT_EQ(table->rows.size(), 4u);
    ds.First();
    std::vector<std::string> order;
    for (; !ds.Eof(); ds.Next()) order.push_back(Name(ds));
    EXPECT_EQ(order, (std::vector<std::string>{"R1", "New", "R2", "R3"}));

    log.clear();
    ds.First();
    ds.Edit();
    ds.FieldByName("qty").SetAsInteger(99);
    EXPECT_TRUE(ds.Modified());
    ds.Post();
    EXPECT_EQ(log, (Log{"BeforeScroll", "AfterScroll", "BeforeEdit", "AfterEdit", "BeforePost",
                        "AfterPost"}));
    EXPECT_EQ(ds.FieldByName("qty").AsInteger(), 99);

    log.clear();
    ds.Edit();
    ds.FieldByName("qty").SetAsInteger(7);
    ds.Cancel();
    EXPECT_EQ(log, (Log{"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}));
    EXPECT_EQ(ds.FieldByName("qty").AsInteger(), 99);

    log.clear();
    ds.Append();
    ds.FieldByName("name").SetAsString("Gone");
    ds.Cancel();
    EXPECT_EQ(log, (Log{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll",
                        "BeforeCancel", "BeforeScroll", "AfterCancel", "AfterScroll"}));
    EXPECT_EQ(table->rows.size(), 4u);
    EXPECT_EQ(Name(ds), "R3");  // a cancelled append leaves the dataset on the last record

    log.clear();
    ds.Append();
    ds.FieldByName("name").SetAsString("Last");
    ds.Post();
    EXPECT_EQ(Name(ds), "Last");
    ds.Last();
    EXPECT_EQ(Name(ds), "Last");

    log.clear();
    ds.Prior();  // R3
    ds.Delete();
    EXPECT_EQ(log, (Log{"BeforeScroll", "AfterScroll", "BeforeDelete", "BeforeScroll",
                        "AfterDelete", "AfterScroll"}));
    EXPECT_EQ(Name(ds), "Last");  // the next record takes its place
    ds.Delete();
    EXPECT_EQ(Name(ds), "R2");  // deleting the last record lands on the new last
    EXPECT_EQ(table->rows.size(), 3u);

    // Moving while editing posts a modified record and cancels an unmodified one.
    ds.First();
    ds.Edit();
    ds.FieldByName("name").SetAsString("Moved");
    ds.Next();
    ds.First();
    EXPECT_EQ(Name(ds), "Moved");
    ds.Edit();
    ds.Next();
    EXPECT_EQ(ds.State(), dsBrowse);

    log.clear();
    ds.Close();
    EXPECT_EQ(log, (Log{"BeforeClose", "AfterClose"}));
    EXPECT_THROW(ds.Next(), EDatabaseError);
}

TEST(DataSetModel, CancelOrAbortInsideHandlersWritesNothing) {
    auto table = MakeTable(3);
    TMemDataSet ds(table);
    Log log;
    LogEvents(ds, log);
    ds.Open();
    ds.Next();

    // Cancel inside BeforePost: nothing written, back to browse, no AfterPost.
    ds.BeforePost = [&log](TDataSet& d) {
        log.push_back("BeforePost");
        d.Cancel();
    };
    ds.Edit();
    ds.FieldByName("name").SetAsString("Changed");
    log.clear();
    ds.Post();
    EXPECT_EQ(log, (Log{"BeforePost", "BeforeCancel", "AfterCancel"}));
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(Name(ds), "R2");
    ds.Insert();
    ds.FieldByName("name").SetAsString("Inserted");
    ds.Post();
    EXPECT_EQ(table->rows.size(), 3u);
    EXPECT_EQ(Name(ds), "R2");

    // Abort inside BeforePost: the silent abort escapes, the edit stays open, nothing written.
    ds.BeforePost = [](TDataSet&) { Abort(); };
    ds.Edit();
    ds.FieldByName("name").SetAsString("Changed");
    EXPECT_THROW(ds.Post(), EAbort);
    EXPECT_EQ(ds.State(), dsEdit);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(table->rows[1].bytes.data()) + 1), "R2");
    ds.Cancel();
    EXPECT_EQ(Name(ds), "R2");

    // Cancel inside OnNewRecord: no new record, no AfterInsert, back on R2.
    ds.BeforePost = nullptr;
    ds.OnNewRecord = [&log](TDataSet& d) {
        log.push_back("OnNewRecord");
        d.Cancel();
    };
    log.clear();
    ds.Insert();
    EXPECT_EQ(log, (Log{"BeforeInsert", "BeforeScroll", "OnNewRecord", "BeforeCancel",
                        "BeforeScroll", "AfterCancel", "AfterScroll"}));
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(Name(ds), "R2");
    EXPECT_EQ(table->rows.size(), 3u);

    // Abort inside OnNewRecord: the abort escapes, the dataset browses R2 again.
    ds.OnNewRecord = [](TDataSet& d) {
        d.FieldByName("name").SetAsString("Half");
        Abort();
    };
    EXPECT_THROW(ds.Insert(), EAbort);
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(Name(ds), "R2");
    EXPECT_THROW(ds.Append(), EAbort);
    EXPECT_EQ(ds.State(), dsBrowse);
    EXPECT_EQ(Name(ds), "R3");
    EXPECT_EQ(table->rows.size(), 3u);
    ds.Close();
}

TEST(DataSetModel, EditOnEmptyDataSetInsertsAndNewRecordDefaults) {
    auto table = MakeTable(0);
    TMemDataSet ds(table);
    Log log;
    LogEvents(ds, log);
    ds.OnNewRecord = [&log](TDataSet& d) {
        log.push_back("OnNewRecord");
        d.FieldByName("qty").SetAsInteger(100);
    };
    ds.Open();
    log.clear();
    ds.Edit();
    EXPECT_EQ(ds.State(), dsInsert);
    EXPECT_EQ(log,
              (Log{"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}));
    EXPECT_FALSE(ds.Modified());  // the defaults alone do not count as a change
    ds.FieldByName("name").SetAsString("First");
    ds.Post();
    ASSERT_EQ(table->rows.size(), 1u);
    EXPECT_EQ(ds.FieldByName("qty").AsInteger(), 100);
    EXPECT_FALSE(ds.Bof() && ds.Eof());

    // An insert whose post fails once and is retried by OnPostError.
    ds.failPosts = 1;
    int errors = 0;
    ds.OnPostError = [&errors](TDataSet&, EDatabaseError&, TDataAction& action) {
        ++errors;
        action = daRetry;
    };
    ds.Append();
    ds.FieldByName("name").SetAsString("Second");
    ds.Post();
    EXPECT_EQ(errors, 1);
    EXPECT_EQ(table->rows.size(), 2u);
    ds.failPosts = 1;
    ds.OnPostError = nullptr;
    ds.Edit();
    ds.FieldByName("name").SetAsString("Third");
    EXPECT_THROW(ds.Post(), EDatabaseError);
    EXPECT_EQ(ds.State(), dsEdit);
    ds.Cancel();

    // A read-only dataset refuses changes before any event.
    ds.readOnly = true;
    log.clear();
    EXPECT_THROW(ds.Edit(), EDatabaseError);
    EXPECT_THROW(ds.Append(), EDatabaseError);
    EXPECT_TRUE(log.empty());
}

TEST(DataSetModel, CalculatedFieldsOnFetchAndAfterChanges) {
    auto table = MakeTable(6);
    auto towns = std::make_shared<MemTable>();
    towns->columns = {{"qty", ftInteger, 0}, {"town", ftString, 20}};
    {
        TMemDataSet loader(towns);
        loader.Open();
        for (int i : {2, 4}) {
            loader.Append();
            loader.FieldByName("qty").SetAsInteger(i);
            loader.FieldByName("town").SetAsString("Town" + std::to_string(i));
            loader.Post();
        }
    }
    TMemDataSet lookup(towns, "Towns");
    lookup.Open();

    TMemDataSet ds(table);
    auto& total = ds.AddField<TCurrencyField>("Total", fkCalculated);
    auto& town = ds.AddField<TStringField>("Town", fkCalculated);
    town.SetSize(30);
    town.SetReadOnly(true);  // read-only calculated fields are still filled
    // Persistent fields for the table columns.
    ds.AddField(std::make_unique<TStringField>(10)).SetFieldName("name");
    ds.AddField<TIntegerField>("qty");
    ds.AddField<TFloatField>("price");
    int calcs = 0;
    ds.OnCalcFields = [&](TDataSet& d) {
        ++calcs;
        EXPECT_EQ(d.State(), dsCalcFields);
        int64_t qty = d.FieldByName("qty").AsInteger();
        d.FieldByName("Total").SetAsCurrency(qty * d.FieldByName("price").AsCurrency());
        // A look-up in another dataset, which moves that dataset.
        std::string found;
        for (lookup.First(); !lookup.Eof(); lookup.Next())
            if (lookup.FieldByName("qty").AsInteger() == qty)
                found = lookup.FieldByName("town").AsString();
        if (!found.empty()) d.FieldByName("Town").SetAsString(found);
    };
    ds.Open();
    EXPECT_EQ(calcs, ds.fetches);  // once per fetched record
    for (int i = 1; i <= 6; ++i, ds.Next()) {
        EXPECT_EQ(total.AsCurrency(), int64_t{i} * i * 15000);
        EXPECT_EQ(town.IsNull(), i != 2 && i != 4);
        if (i == 4) {
            EXPECT_EQ(town.AsString(), "Town4");
        }
    }
    EXPECT_EQ(calcs, ds.fetches);

    // Changing a field in edit state recalculates the active record.
    ds.First();
    ds.Edit();
    ds.FieldByName("qty").SetAsInteger(4);
    EXPECT_EQ(total.AsCurrency(), 4 * 15000);
    EXPECT_EQ(town.AsString(), "Town4");
    ds.Post();
    EXPECT_EQ(total.AsCurrency(), 4 * 15000);
    // Writing a table field from OnCalcFields is refused.
    ds.OnCalcFields = [](TDataSet& d) { d.FieldByName("qty").SetAsInteger(1); };
    EXPECT_THROW(ds.Refresh(), EDatabaseError);
}

TEST(DataSetModel, DisableControlsAndLinkNotifications) {
    TMemDataSet ds(MakeTable(5));
    TDataSource source;
    source.SetDataSet(&ds);
    int stateChanges = 0, dataChanges = 0;
    source.OnStateChange = [&](TDataSource&) { ++stateChanges; };
    source.OnDataChange = [&](TDataSource&, TField*) { ++dataChanges; };
    LogLink link;
    link.SetDataSource(&source);
    ds.Open();
    EXPECT_EQ(link.log, (Log{"Active"}));
    EXPECT_EQ(stateChanges, 1);

    link.log.clear();
    ds.DisableControls();
    ds.DisableControls();
    ds.Next();
    ds.Edit();
    ds.FieldByName("qty").SetAsInteger(50);
    ds.Post();
    ds.Last();
    ds.EnableControls();
    EXPECT_TRUE(link.log.empty());
    ds.EnableControls();
    EXPECT_EQ(link.log, (Log{"DataSetChanged"}));
    EXPECT_FALSE(ds.ControlsDisabled());

    // A state left changed while disabled is reported on enabling.
    link.log.clear();
    ds.DisableControls();
    ds.Edit();
    ds.EnableControls();
    EXPECT_EQ(link.log, (Log{"Editing", "DataSetChanged"}));
    ds.Cancel();

    link.log.clear();
    ds.First();
    ds.Next();
    ds.Edit();
    link.editorText = "Typed";
    ds.FieldByName("qty").SetAsInteger(3);
    ds.Post();
    EXPECT_EQ(link.log, (Log{"DataSetChanged", "Scrolled 1", "Editing", "RecordChanged",
                             "RecordChanged qty", "UpdateData", "NotEditing", "DataSetChanged"}));
    EXPECT_EQ(Name(ds), "Typed");  // the link's editor text reached the record on post
    EXPECT_GT(dataChanges, 0);
    link.editorText.clear();

    // Data links see nothing from a disabled source; closing makes them inactive.
    link.log.clear();
    source.SetEnabled(false);
    ds.Next();
    source.SetEnabled(true);
    ds.Close();
    EXPECT_EQ(link.log, (Log{"Inactive", "Active", "Inactive"}));

    // A dataset destroyed while open leaves its source and links inactive, not dangling.
    auto doomed = std::make_unique<TMemDataSet>(MakeTable(3));
    source.SetDataSet(doomed.get());
    doomed->Open();
    link.log.clear();
    doomed.reset();
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_EQ(source.State(), dsInactive);
    EXPECT_EQ(link.log, (Log{"Inactive"}));
    EXPECT_EQ(link.RecordCount(), 0);
}

TEST(DataSetModel, HandlersSavedAndRestored) {
    TMemDataSet ds(MakeTable(2));
    int original = 0, replacement = 0;
    ds.BeforePost = [&original](TDataSet&) { ++original; };
    EXPECT_FALSE(ds.BeforePost == nullptr);
    TDataSetNotifyEvent saved = ds.BeforePost;
    EXPECT_TRUE(saved == ds.BeforePost);
    ds.BeforePost = [&replacement](TDataSet&) { ++replacement; };
    EXPECT_FALSE(saved == ds.BeforePost);
    ds.Open();
    ds.Edit();
    ds.Post();
    ds.BeforePost = saved;
    EXPECT_TRUE(ds.BeforePost == saved);
    ds.Edit();
    ds.Post();
    EXPECT_EQ(original, 1);
    EXPECT_EQ(replacement, 1);
    ds.BeforePost = nullptr;
    EXPECT_TRUE(ds.BeforePost == nullptr);
    ds.Edit();
    ds.Post();  // no handler: nothing called

    // Member-function handlers compare equal when bound to the same object and method.
    struct Window {
        int calls = 0;
        void NewRecord(TDataSet&) { ++calls; }
        void Other(TDataSet&) {}
    } window, other;
    ds.OnNewRecord = TDataSetNotifyEvent::Bind(&window, &Window::NewRecord);
    EXPECT_TRUE(ds.OnNewRecord == TDataSetNotifyEvent::Bind(&window, &Window::NewRecord));
    EXPECT_FALSE(ds.OnNewRecord == TDataSetNotifyEvent::Bind(&other, &Window::NewRecord));
    EXPECT_FALSE(ds.OnNewRecord == TDataSetNotifyEvent::Bind(&window, &Window::Other));
    ds.Append();
    ds.Cancel();
    EXPECT_EQ(window.calls, 1);

    // A handler may remove itself while it runs.
    int once = 0;
    ds.AfterScroll = [&ds, &once](TDataSet&) {
        ++once;
        ds.AfterScroll = nullptr;
    };
    ds.Next();
    ds.Prior();
    EXPECT_EQ(once, 1);
}

TEST(DataSetModel, ResyncRefreshAndBookmarksKeepPosition) {
    TMemDataSet ds(MakeTable(8));
    TDataSource source;
    source.SetDataSet(&ds);
    LogLink link;
    link.SetDataSource(&source);
    link.SetBufferCount(4);
    ds.Open();
    ds.MoveBy(5);  // R6
    std::vector<int32_t> window = ds.WindowIds();
    int active = ds.ActiveIndex();
    ds.Resync(0);
    EXPECT_EQ(Name(ds), "R6");
    EXPECT_EQ(ds.WindowIds(), window);
    EXPECT_EQ(ds.ActiveIndex(), active);
    ds.Refresh();
    EXPECT_EQ(Name(ds), "R6");
    EXPECT_EQ(ds.RecNo(), 6);

    TBookmark mark = ds.GetBookmark();
    ASSERT_EQ(mark.size(), 4u);
    ds.First();
    ds.GotoBookmark(mark);
    EXPECT_EQ(Name(ds), "R6");
    EXPECT_EQ(ds.ActiveIndex(), 1);  // centred in the window of four
    EXPECT_EQ(ds.CompareBookmarks(mark, ds.GetBookmark()), 0);
    EXPECT_NE(ds.CompareBookmarks(mark, TBookmark{}), 0);
    ds.Close();
}

TEST(DataSetModel, TwoCursorsOverOneTable) {
    auto table = MakeTable(4);
    TMemDataSet a(table, "A"), b(table, "B");
    a.Open();
    b.Open();
    b.MoveBy(2);  // R3

    a.Append();
    a.FieldByName("name").SetAsString("FromA");
    a.Post();
    EXPECT_EQ(b.RecordCount(), 5);
    b.Last();
    EXPECT_EQ(Name(b), "FromA");

    a.First();
    a.Next();  // R2
    b.First();
    b.Next();  // R2
    b.Edit();
    b.FieldByName("qty").SetAsInteger(222);
    b.Post();
    EXPECT_EQ(a.FieldByName("qty").AsInteger(), 2);  // still the buffered copy
    a.Refresh();
    EXPECT_EQ(a.FieldByName("qty").AsInteger(), 222);
    EXPECT_EQ(Name(a), "R2");

    // B deletes the record A stands on; A's resync lands on its successor.
    TBookmark gone = a.GetBookmark();
    b.Delete();
    a.Resync(0);
    EXPECT_EQ(Name(a), "R3");
    EXPECT_EQ(a.RecordCount(), 4);
    EXPECT_THROW(a.GotoBookmark(gone), EDatabaseError);  // a deleted record is not found
    EXPECT_EQ(Name(a), "R3");
}

TEST(DataSetFields, ConversionsAndChecks) {
    auto table = std::make_shared<MemTable>();
    table->columns = {{"text", ftString, 5},  {"small", ftSmallint, 0}, {"big", ftLargeint, 0},
                      {"amount", ftFloat, 0}, {"money", ftCurrency, 0}, {"done", ftBoolean, 0},
                      {"day", ftDate, 0},     {"stamp", ftDateTime, 0}};
    TMemDataSet ds(table);
    ds.Open();
    EXPECT_TRUE(ds.DefaultFields());
    TField& text = ds.FieldByName("TEXT");
    EXPECT_EQ(text.DisplayLabel(), "text");
    text.SetDisplayLabel("Tekst");
    EXPECT_EQ(text.DisplayName(), "Tekst");
    EXPECT_THROW(ds.FieldByName("nope"), EDatabaseError);
    EXPECT_THROW(text.SetAsString("x"), EDatabaseError);  // not editing

    ds.Append();
    text.SetAsString("abcdefgh");
    EXPECT_EQ(text.AsString(), "abcde");  // cut to the field's size

    TField& small = ds.FieldByName("small");
    EXPECT_THROW(small.SetAsInteger(40000), EDatabaseError);
    small.SetAsString(" -12 ");
    EXPECT_EQ(small.AsInteger(), -12);
    EXPECT_THROW(small.SetAsString("1x"), EDatabaseError);

    TField& big = ds.FieldByName("big");
    big.SetAsLargeInt(12345678901234567);
    EXPECT_EQ(big.AsLargeInt(), 12345678901234567);
    EXPECT_EQ(big.AsString(), "12345678901234567");
    EXPECT_THROW(big.AsInteger(), EDatabaseError);  // does not fit 32 bits

    auto& amount = static_cast<TFloatField&>(ds.FieldByName("amount"));
    amount.SetAsFloat(1234567.891);
    EXPECT_EQ(amount.DisplayText(), "1234567,891");
    amount.SetDisplayFormat("#,##0.00");
    EXPECT_EQ(amount.DisplayText(), "1 234 567,89");
    amount.SetAsFloat(-1.005);
    EXPECT_EQ(amount.DisplayText(), "-1,01");  // half away from zero at 15 digits
    amount.SetDisplayFormat("");
    amount.SetCurrency(true);
    EXPECT_EQ(amount.DisplayText(), "kr. -1,01");
    EXPECT_EQ(amount.AsCurrency(), -10050);
    amount.SetText("2,5");
    EXPECT_DOUBLE_EQ(amount.AsFloat(), 2.5);
    EXPECT_THROW(amount.SetAsFloat(std::nan("")), EDatabaseError);

    TField& money = ds.FieldByName("money");
    money.SetAsString("0,0033");
    EXPECT_EQ(money.AsCurrency(), 33);
    money.SetAsCurrency(1687500);
    EXPECT_EQ(money.DisplayText(), "kr. 168,75");
    EXPECT_EQ(money.Text(), "168,75");
    money.SetAsCurrency(-1350000);
    EXPECT_EQ(money.DisplayText(), "kr. -135,00");
    money.SetAsFloat(0.1 + 0.2);
    EXPECT_EQ(money.AsCurrency(), 3000);

    auto& done = static_cast<TBooleanField&>(ds.FieldByName("done"));
    done.SetDisplayValues("Ja;Nej");
    EXPECT_TRUE(done.IsNull());
    done.SetText("n");
    EXPECT_FALSE(done.AsBoolean());
    EXPECT_EQ(done.DisplayText(), "Nej");
    done.SetText("JA");
    EXPECT_TRUE(done.AsBoolean());
    EXPECT_THROW(done.SetText("x"), EDatabaseError);

    TField& day = ds.FieldByName("day");
    day.SetAsString("3-3-2024");
    EXPECT_EQ(day.DisplayText(), "03-03-2024");
    EXPECT_EQ(day.AsDateTime(), EncodeDate(2024, 3, 3));
    int32_t native = 0;
    ASSERT_TRUE(day.GetData(&native));
    EXPECT_EQ(native, 738948);  // day number of 3 March 2024, 1 January of year 1 = 1
    EXPECT_THROW(day.SetAsString("31-02-2024"), EDatabaseError);
    day.SetAsString("");
    EXPECT_TRUE(day.IsNull());

    TField& stamp = ds.FieldByName("stamp");
    stamp.SetAsDateTime(EncodeDate(2006, 6, 1) + EncodeTime(13, 45, 30, 0));
    EXPECT_EQ(stamp.DisplayText(), "01-06-2006 13:45:30");
    double ms = 0;
    ASSERT_TRUE(stamp.GetData(&ms));
    EXPECT_DOUBLE_EQ(ms, (EncodeDate(2006, 6, 1) + DateDelta) * 86400000.0 + 49530000.0);

    // OnValidate may refuse a value; OnChange follows every stored one.
    int changes = 0;
    text.OnChange = [&changes](TField&) { ++changes; };
    text.OnValidate = [](TField& f) {
        if (f.AsString() == "bad") DatabaseError("refused");
    };
    text.SetAsString("good");
    EXPECT_THROW(text.SetAsString("bad"), EDatabaseError);
    EXPECT_EQ(text.AsString(), "good");
    EXPECT_EQ(changes, 1);
    text.OnGetText = [](TField& f, std::string& out, bool display) {
        out = (display ? "<" : "[") + f.AsString() + (display ? ">" : "]");
    };
    EXPECT_EQ(text.DisplayText(), "<good>");
    EXPECT_EQ(text.Text(), "[good]");
    text.OnSetText = [](TField& f, const std::string& in) { f.SetAsString(in + "!"); };
    text.SetText("ok");
    EXPECT_EQ(text.AsString(), "ok!");
    text.Clear();
    EXPECT_TRUE(text.IsNull());

    text.SetReadOnly(true);
    EXPECT_THROW(text.SetAsString("no"), EDatabaseError);
    ds.Post();
    ASSERT_EQ(table->rows.size(), 1u);
    ds.Close();
    EXPECT_FALSE(ds.DefaultFields());
    EXPECT_EQ(ds.FieldCount(), 0);  // default fields go with the cursor
}

// The message a refused assignment shows the user.
template <class F>
std::string Refusal(F&& assign) {
    try {
        assign();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(DataSetFields, BadInputIsRefusedInDanishWithTheFieldsLabel) {
    auto table = std::make_shared<MemTable>();
    table->columns = {{"prio", ftSmallint, 0},  {"antal", ftFloat, 0}, {"belob", ftCurrency, 0},
                      {"done", ftBoolean, 0},   {"dato", ftDate, 0},   {"tid", ftTime, 0},
                      {"stamp", ftDateTime, 0}, {"tekst", ftString, 8}};
    TMemDataSet ds(table);
    ds.Open();
    const std::vector<std::pair<std::string, std::string>> labels = {
        {"prio", "Udskrifts prioritet"}, {"antal", "Antal"}, {"belob", "Bel\370b"},
        {"done", "Afsluttet"},           {"dato", "Dato"},   {"tid", "Klokken"},
        {"stamp", "Tidspunkt"},          {"tekst", "Nummer"}};
    for (const auto& [name, label] : labels) ds.FieldByName(name).SetDisplayLabel(label);
    ds.Append();
    auto typed = [&ds](const char* name, const char* text) {
        return Refusal([&] { ds.FieldByName(name).SetText(text); });
    };
    EXPECT_EQ(typed("prio", "abc"),
              "'abc' er ikke et gyldigt heltal i feltet 'Udskrifts prioritet'");
    EXPECT_EQ(typed("prio", "40000"),
              "40 000 er ikke en gyldig v\xE6rdi i feltet 'Udskrifts prioritet'. V\xE6rdien "
              "skal ligge fra -32 768 til 32 767");
    EXPECT_EQ(typed("antal", "abc"), "'abc' er ikke et gyldigt tal i feltet 'Antal'");
    EXPECT_EQ(typed("belob", "12x"), "'12x' er ikke et gyldigt tal i feltet 'Bel\370b'");
    EXPECT_EQ(typed("done", "x"), "'x' er ikke en gyldig logisk v\xE6rdi i feltet 'Afsluttet'");
    EXPECT_EQ(typed("dato", "31-02-2026"), "'31-02-2026' er ikke en gyldig dato i feltet 'Dato'");
    EXPECT_EQ(typed("tid", "25:00"), "'25:00' er ikke et gyldigt klokkesl\xE6t i feltet 'Klokken'");
    EXPECT_EQ(typed("stamp", "1-1-2026 x"),
              "'1-1-2026 x' er ikke en gyldig dato og tid i feltet 'Tidspunkt'");
    EXPECT_EQ(Refusal([&] { ds.FieldByName("dato").SetAsDateTime(3000000.0); }),
              "'3000000' er ikke en gyldig dato i feltet 'Dato'");
    ds.FieldByName("tekst").SetAsString("12a");
    EXPECT_EQ(Refusal([&] { ds.FieldByName("tekst").AsInteger(); }),
              "'12a' er ikke et gyldigt heltal i feltet 'Nummer'");
    // Nothing was stored by a refused assignment.
    EXPECT_TRUE(ds.FieldByName("prio").IsNull());
    EXPECT_TRUE(ds.FieldByName("dato").IsNull());
    ds.Cancel();
    // The conversions alone, without a field.
    EXPECT_EQ(Refusal([] { StrToDate("31022026x"); }), "'31022026x' er ikke en gyldig dato");
    EXPECT_EQ(Refusal([] { StrToDateTime("x"); }), "'x' er ikke en gyldig dato og tid");
    EXPECT_EQ(Refusal([] { FloatToCurr(1e30); }),
              FloatToStr(1e30) + " er ikke et gyldigt bel\370b");
}

TEST(DataSetFields, PersistentFieldsMustMatchTheTable) {
    auto table = MakeTable(1);
    TMemDataSet wrongType(table);
    wrongType.AddField<TIntegerField>("name");
    EXPECT_THROW(wrongType.Open(), EDatabaseError);
    EXPECT_FALSE(wrongType.Active());

    TMemDataSet wrongSize(table);
    wrongSize.AddField(std::make_unique<TStringField>(4)).SetFieldName("name");
    EXPECT_THROW(wrongSize.Open(), EDatabaseError);

    TMemDataSet missing(table);
    missing.AddField<TFloatField>("nothere");
    EXPECT_THROW(missing.Open(), EDatabaseError);

    TMemDataSet dup(table);
    dup.AddField<TFloatField>("price");
    EXPECT_THROW(dup.AddField<TFloatField>("PRICE"), EDatabaseError);
    dup.Open();
    EXPECT_EQ(dup.FieldCount(), 1);  // only the persistent field, no defaults
    EXPECT_DOUBLE_EQ(dup.FieldByName("price").AsFloat(), 1.5);
    EXPECT_THROW(dup.AddField<TFloatField>("qty"), EDatabaseError);  // open
}

TEST(DataSetFormat, NumbersAndDates) {
    EXPECT_EQ(FormatFloat("#,##0.00", 0), "0,00");
    EXPECT_EQ(FormatFloat("#,##0.00;(#,##0.00)", -1234.5), "(1 234,50)");
    EXPECT_EQ(FormatFloat("0.##", 2.5), "2,5");
    EXPECT_EQ(FormatFloat("000", 7), "007");
    EXPECT_EQ(FormatFloat("#.##", 0.5), ",5");
    EXPECT_EQ(FormatFloat("0 \"kr\"", 12.6), "13 kr");
    EXPECT_EQ(FloatToStrF(0.125, ffFixed, 15, 2), "0,13");
    EXPECT_EQ(FloatToStrF(999.995, ffNumber, 15, 2), "1 000,00");
    EXPECT_EQ(CurrToStrF(-50000, ffCurrency, 2), "kr. -5,00");
    EXPECT_EQ(CurrToStrF(1234567, ffGeneral, 0), "123,4567");
    EXPECT_EQ(CurrToStrF(9223372036854775807LL, ffFixed, 4), "922337203685477,5807");
    EXPECT_EQ(FloatToCurr(135.0033), 1350033);
    EXPECT_EQ(FloatToCurr(-0.00004), 0);
    EXPECT_EQ(FloatToCurr(-0.00006), -1);
    EXPECT_THROW(FloatToCurr(1e30), EConvertError);
    double v = 0;
    EXPECT_TRUE(TryStrToFloat(" 1,25 ", v));
    EXPECT_DOUBLE_EQ(v, 1.25);
    EXPECT_FALSE(TryStrToFloat("1,2,3", v));
    int64_t i = 0;
    EXPECT_FALSE(TryStrToInt64("9223372036854775808", i));
    EXPECT_TRUE(TryStrToInt64("-9223372036854775808", i));

    TDateTime d = 0;
    EXPECT_TRUE(TryStrToDate("29/02/2024", d));
    EXPECT_EQ(DateToStr(d), "29-02-2024");
    EXPECT_FALSE(TryStrToDate("29-02-2023", d));
    EXPECT_FALSE(TryStrToDate("12-13-2023", d));
    EXPECT_FALSE(TryStrToDate("1-1-2024-", d));
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1, 1, 1), 1.0 - DateDelta);
    int y, m, dd;
    DecodeDate(EncodeDate(2000, 2, 29), y, m, dd);
    EXPECT_EQ(y * 10000 + m * 100 + dd, 20000229);
    EXPECT_TRUE(TryStrToDate("1-1-24", d));  // two-digit years near the current century
    DecodeDate(d, y, m, dd);
    EXPECT_EQ(y, 2024);
    EXPECT_EQ(FormatDateTime("yyyy/mm/dd hh:mm", EncodeDate(2024, 3, 3) + EncodeTime(9, 5, 0, 0)),
              "2024-03-03 09:05");
}

namespace {
// Exposes the field-list operations a descendant uses while opening and closing.
class TFieldListDataSet : public TMemDataSet {
  public:
    using TMemDataSet::CreateFields;
    using TMemDataSet::DestroyFields;
    using TMemDataSet::TMemDataSet;
};
}  // namespace

TEST(DataSetFields, DestroyFieldsKeepsPersistentFields) {
    auto table = MakeTable(2);
    TFieldListDataSet ds(table);
    TFloatField& price = ds.AddField<TFloatField>("price");
    price.SetDisplayLabel("Pris");
    ds.Open();
    ASSERT_EQ(ds.FieldCount(), 1);
    // Default fields made beside the persistent one go again; the persistent one (and every
    // reference to it) stays, in its place and with its settings.
    ds.Close();
    ds.FieldDefs().Clear();
    ds.FieldDefs().Add("name", ftString, 10);
    ds.FieldDefs().Add("qty", ftInteger);
    ds.FieldDefs().Add("price", ftFloat);
    ds.CreateFields();
    ASSERT_EQ(ds.FieldCount(), 3);
    EXPECT_EQ(ds.Fields()[0], &price);
    ds.DestroyFields();
    ASSERT_EQ(ds.FieldCount(), 1);
    EXPECT_EQ(ds.Fields()[0], &price);
    EXPECT_EQ(price.DisplayLabel(), "Pris");
    EXPECT_EQ(ds.FindField("name"), nullptr);
    // A second call finds nothing more to free; a removed default field is not freed twice.
    ds.DestroyFields();
    EXPECT_EQ(ds.FieldCount(), 1);
    ds.CreateFields();
    ds.RemoveField(ds.FieldByName("qty"));
    ds.DestroyFields();
    EXPECT_EQ(ds.FieldCount(), 1);
    ds.Open();
    ds.Last();
    EXPECT_DOUBLE_EQ(price.AsFloat(), 3.0);
}
