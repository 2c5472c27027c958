// An independent reader: Perl XBase's index_dump lists the keys of a character tag that the
// engine built and then maintained through appends and rewrites, or built again inside the
// open file, in the same order and with the same record numbers as the engine's own walk.
#include <random>
#include <sstream>

#include "storage/file_layer.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

std::string Trimmed(const std::string& s) {
    size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

class NdxReaderTest : public NdxTest {};

// index_dump's keys of tag NAVN of kunde.MDX as "name record", in its order.
std::vector<std::string> DumpedKeys(const std::string& mdx) {
    std::string out;
    EXPECT_EQ(kjtest::RunCommand("index_dump '" + mdx + "' NAVN", &out), 0);
    std::vector<std::string> keys;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t sp = line.find_last_of(' ');
        if (sp == std::string::npos) continue;
        keys.push_back(Trimmed(line.substr(0, sp)) + " " + line.substr(sp + 1));
    }
    return keys;
}

TEST_F(NdxReaderTest, IndexDumpListsMaintainedCharacterTag) {
    ASSERT_TRUE(Create("kunde.dbf", {{"NAVN", 'C', 12, 0}, {"BY", 'C', 8, 0}}));
    Open(1, Path("kunde.dbf") + " EXCLUSIVE");
    std::mt19937 rng(4711);
    auto name = [&] { return "KUNDE" + std::to_string(rng() % 900); };
    for (int i = 0; i < 150; ++i) {
        Dbf4::ClearRecord();
        SetC(1, name());
        SetC(2, "ODENSE");
        Dbf4::Append();
    }
    ASSERT_TRUE(TzNdx::MakeIndex(
        {{"NAVN", "UPPER(NAVN)", "", false, false}, {"BY", "BY+NAVN", "", true, false}}));
    TzNdx::SetIndexTo("kunde.mdx");
    for (int i = 0; i < 400; ++i) {
        if (i % 2 == 0) {
            Dbf4::ClearRecord();
            SetC(1, name());
            SetC(2, "AARHUS");
            Dbf4::Append();
        } else {
            Dbf4::Go(1 + int32_t(rng() % uint32_t(Dbf4::RecCount())));
            SetC(1, name());
            Dbf4::Replace();
        }
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }
    TzNdx::Set_Order_To(1);
    std::vector<std::string> ours;
    for (Dbf4::GoTop(); !Dbf4::dEOF(); Dbf4::Skip(1)) {
        ours.push_back(Trimmed(GetC(1)) + " " + std::to_string(Dbf4::RecNo()));
    }
    ASSERT_EQ(ours.size(), 350u);
    Dbf4::CloseAll();

    EXPECT_EQ(DumpedKeys(Path("kunde.MDX")), ours);
}

// A change that finds the index marked (here by hand) builds the tags again inside the open
// file; the second time into the pages the first left unused.
TEST_F(NdxReaderTest, IndexDumpListsTagsBuiltAgainInsideTheFile) {
    ASSERT_TRUE(Create("kunde.dbf", {{"NAVN", 'C', 12, 0}, {"BY", 'C', 8, 0}}));
    Open(1, Path("kunde.dbf"));
    std::mt19937 rng(4712);
    auto append = [&] {
        Dbf4::ClearRecord();
        SetC(1, "KUNDE" + std::to_string(rng() % 900));
        SetC(2, "VEJLE");
        ASSERT_TRUE(Dbf4::FLock());
        Dbf4::Append();
        Dbf4::Unlock();
    };
    for (int i = 0; i < 300; ++i) append();
    ASSERT_TRUE(TzNdx::MakeIndex(
        {{"NAVN", "UPPER(NAVN)", "", false, false}, {"BY", "BY+NAVN", "", true, false}}));
    TzNdx::SetIndexTo("kunde.mdx");
    const std::string mdx = tz::ResolveName(Path("kunde.mdx"));
    const size_t built = kjtest::ReadFile(mdx).size();
    size_t first = 0;
    for (int i = 0; i < 2; ++i) {
        tz::File raw;
        ASSERT_EQ(raw.Open(mdx, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
        const uint8_t one = 1;
        ASSERT_EQ(raw.WriteAt(TzNdx::kMaintenanceMark, &one, 1), 0);
        raw.Close();
        append();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
        if (i == 0) first = kjtest::ReadFile(mdx).size();
    }
    EXPECT_GT(first, built);                                // the first build appended
    EXPECT_LE(kjtest::ReadFile(mdx).size(), first + 2048);  // the second reused pages
    TzNdx::Set_Order_To(1);
    std::vector<std::string> ours;
    for (Dbf4::GoTop(); !Dbf4::dEOF(); Dbf4::Skip(1))
        ours.push_back(Trimmed(GetC(1)) + " " + std::to_string(Dbf4::RecNo()));
    ASSERT_EQ(ours.size(), 302u);
    Dbf4::CloseAll();
    EXPECT_EQ(DumpedKeys(mdx), ours);
}

}  // namespace
