// The application's tables created by the table component from the data module's field and
// tag lists:
// header and record lengths worked out by hand, every field descriptor, the production-index
// flag, every tag's name and key, and a second cursor that finds the tags without a list.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "app/kj_tables.h"
#include "data/dbf_fields.h"
#include "data/tz_dbf.h"
#include "index/tz_ndx.h"
#include "storage/tz_utils.h"
#include "tests/data/tzdataset_fixture.h"

using namespace TzDs;
using namespace tzdstest;

namespace {

constexpr size_t kFieldDescriptors = 32;  // first field descriptor
constexpr size_t kDescriptorSize = 32;
constexpr size_t kDescName = 0, kDescType = 11, kDescLength = 16, kDescDecimals = 17;
constexpr size_t kProductionIndex = 28;

// Record and header lengths worked out by hand from the field lists (a D field takes 8
// bytes in the file, whatever its declared width).
struct Lengths {
    const char* file;
    int record, header;
};
constexpr Lengths kLengths[] = {{"Sager.dbf", 989, 481},     {"AfsluttedeSager.dbf", 989, 481},
                                {"Status.dbf", 193, 385},    {"AfsluttedeStatus.dbf", 193, 385},
                                {"TStat.dbf", 198, 417},     {"Bruger.dbf", 487, 545},
                                {"Varer.dbf", 266, 353},     {"VarerG.dbf", 97, 257},
                                {"PostBy.dbf", 96, 193},     {"Poster.dbf", 187, 577},
                                {"Timer.dbf", 187, 577},     {"AfsluttedePoster.dbf", 187, 577},
                                {"TPost.dbf", 200, 609},     {"Kunde.dbf", 586, 545},
                                {"Interessent.dbf", 79, 225}};

const Lengths& LengthsOf(const std::string& file) {
    for (const Lengths& l : kLengths)
        if (file == l.file) return l;
    throw std::runtime_error("no lengths for " + file);
}

}  // namespace

TEST_F(TzdsTest, ApplicationTablesFromTheirLists) {
    ASSERT_EQ(kj::Tables().size(), std::size(kLengths));
    for (const kj::TableSpec& spec : kj::Tables()) {
        SCOPED_TRACE(spec.file);
        struct {
            const char* component;
            const char* file;
            std::vector<std::string> fields, tags;
            int recordLength, headerLength;
        } def{spec.component.c_str(),      spec.file.c_str(),          spec.DbfFields(), spec.tags,
              LengthsOf(spec.file).record, LengthsOf(spec.file).header};
        g_messages.clear();
        {
            TTzDbf t(def.component);
            t.SetDbfFileName(Path(def.file));
            t.DbfFields() = def.fields;
            t.IndexList() = def.tags;
            t.ShowProgress = false;
            t.HideDeletedRecs = true;
            ASSERT_NO_THROW(t.Open());
            EXPECT_TRUE(g_messages.empty()) << g_messages.front();  // no corrected field
            const std::vector<TagDef> tags = ParseIndexList(def.tags);
            ASSERT_EQ(TzNdx::TagCount(), int(tags.size()));
            for (size_t i = 0; i < tags.size(); ++i) {
                EXPECT_EQ(TzNdx::TagName(int(i) + 1), tags[i].name);
                EXPECT_EQ(TzNdx::TagExpression(int(i) + 1), tags[i].expr);
                EXPECT_FALSE(TzNdx::TagDescending(int(i) + 1));
                EXPECT_FALSE(TzNdx::TagUnique(int(i) + 1));
                EXPECT_EQ(TzNdx::TagForCondition(int(i) + 1), "");
            }
            t.Append();
            t.Fields()[0]->SetAsString("A1");
            t.Post();
            EXPECT_EQ(t.RecCount(), 1);
        }
        const std::string b = Bytes(Path(def.file));
        ASSERT_GE(b.size(), size_t(def.headerLength + def.recordLength));
        EXPECT_EQ(uint8_t(b[0]), 3);  // no memo fields
        EXPECT_EQ(U16(b, 8), def.headerLength);
        EXPECT_EQ(U16(b, 10), def.recordLength);
        EXPECT_EQ(b.size(), size_t(def.headerLength + def.recordLength + 1));
        EXPECT_EQ(uint8_t(b[kProductionIndex]), def.tags.empty() ? 0 : 1);
        EXPECT_EQ(uint8_t(b[def.headerLength - 1]), 0x0D);
        int sum = 1;
        for (size_t i = 0; i < def.fields.size(); ++i) {
            TzDbfLow::FieldDef f;
            ASSERT_TRUE(ParseFieldLine(def.fields[i], f));
            const size_t d = kFieldDescriptors + i * kDescriptorSize;
            const std::string name = b.substr(d + kDescName, 11);
            EXPECT_EQ(TzUtils::AnsiUpper(name.substr(0, name.find('\0'))),
                      TzUtils::AnsiUpper(f.name));
            EXPECT_EQ(b[d + kDescType], f.type) << f.name;
            const int width = f.type == 'D' ? 8 : f.length;
            EXPECT_EQ(uint8_t(b[d + kDescLength]), width) << f.name;
            EXPECT_EQ(uint8_t(b[d + kDescDecimals]), f.decimals) << f.name;
            sum += width;
        }
        EXPECT_EQ(sum, def.recordLength);

        // The second cursor: no lists, no creation; it opens the tags that are there.
        TTzDbf twin(std::string(def.component) + "Buf");
        twin.SetDbfFileName(Path(def.file));
        twin.CreateIfNotFound = false;
        twin.CreateIndex = ciNever;
        ASSERT_NO_THROW(twin.Open());
        EXPECT_EQ(twin.RecordCount(), 1);
        if (def.tags.empty()) {
            EXPECT_EQ(twin.Mdx(), "");
        } else {
            EXPECT_EQ(TzNdx::TagCount(), int(def.tags.size() / 2));
            ASSERT_TRUE(twin.SetOrderToTag(TzNdx::TagName(1)));
            twin.First();
            EXPECT_EQ(twin.Fields()[0]->AsString(), "A1");
        }
    }
}

TEST_F(TzdsTest, PostingsSortByItemGroupPriority) {
    const kj::TableSpec* def = kj::FindTable("PostDbf");
    ASSERT_NE(def, nullptr);
    TTzDbf post("PostDbf");
    post.SetDbfFileName(Path("Poster.dbf"));
    post.DbfFields() = def->DbfFields();
    post.IndexList() = def->tags;
    post.ShowProgress = false;
    post.Open();
    auto add = [&](const char* item, int priority) {
        post.Append();
        post.FieldByName("post_sag").SetAsString("s-1");
        post.FieldByName("post_tmu").SetAsString(item);
        post.FieldByName("post_pri").SetAsInteger(priority);
        post.FieldByName("post_dato").SetAsString("01-02-2024");
        post.Post();
    };
    add("A", 100);
    add("B", 5);
    add("C", 20);
    ASSERT_TRUE(post.SetOrderToTag("POSTTMU"));
    std::vector<std::string> items;
    post.First();
    while (!post.Eof()) {
        items.push_back(post.FieldByName("post_tmu").AsString());
        post.Next();
    }
    EXPECT_EQ(items, (std::vector<std::string>{"B", "C", "A"}));
}
