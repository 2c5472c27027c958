// An independent reader: Perl XBase's index_dump lists the keys of a character tag that the
// engine built and then maintained through appends and rewrites in the same order and with
// the same record numbers as the engine's own walk.
#include <random>
#include <sstream>

#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

std::string Trimmed(const std::string& s) {
    size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

class NdxReaderTest : public NdxTest {};

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

    std::string out;
    ASSERT_EQ(kjtest::RunCommand("index_dump '" + Path("kunde.MDX") + "' NAVN", &out), 0);
    std::vector<std::string> theirs;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t sp = line.find_last_of(' ');
        ASSERT_NE(sp, std::string::npos) << line;
        theirs.push_back(Trimmed(line.substr(0, sp)) + " " + line.substr(sp + 1));
    }
    EXPECT_EQ(theirs, ours);
}

}  // namespace
