// Faults during key maintenance: a failed write or a crash (helper process) after the N-th
// write of an append; at reopen the index agrees with the table or is rebuilt, and no record
// is lost.
#include "storage/file_layer.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

const std::vector<TzNdx::TagDescriptor> kTags = {
    {"NAME", "UPPER(NAME)", "", false, false},
    {"AMT", "AMT", "", true, false},
    {"NAMEDAT", "NAME+DTOS(DAT)", "", false, false},
};

void AppendOne(int i) {
    Dbf4::ClearRecord();
    SetC(1, "N" + std::to_string((i * 7919) % 1000));
    SetF(2, i * 1.25);
    SetD(3, "15-03-2024");
    Dbf4::Append();
}

void MakeTable(const std::string& path, int n) {
    Dbf4::WorkArea scratch;
    ASSERT_TRUE(TzDbfLow::CreateDbf(scratch, path, {{"NAME", 'C', 10, 0}, {"AMT", 'N', 8, 2}, {"DAT", 'D', 8, 0}}));
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    for (int i = 1; i <= n; ++i) AppendOne(i);
    ASSERT_TRUE(TzNdx::MakeIndex(kTags));
    Dbf4::CloseAll();
}

// Reopens the table and its index (rebuilt when needed) and checks the tags.
void Verify(const std::string& path, int minRecords) {
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    ASSERT_EQ(TzCommon::ErrorWord, 0) << TzCommon::LastErrorMessage();
    EXPECT_GE(Dbf4::RecCount(), minRecords);
    ASSERT_TRUE(TzNdx::OpenIndexOrRebuild(kTags)) << TzCommon::LastErrorMessage();
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
}

TEST(NdxFaultChild, CrashWhileAppending) {
    if (!kjtest::IsChild()) GTEST_SKIP();
    ResetEngine();
    TzCommon::SetErrorChecking(0);
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE") + " EXCLUSIVE");
    TzNdx::SetIndexTo(kjtest::ChildArg("MDX"));
    tz::FaultInjector inj;
    inj.failAt = std::stol(kjtest::ChildArg("N"));
    inj.crash = true;
    tz::SetFaultInjector(&inj);
    for (int i = 100; i < 140; ++i) AppendOne(i);
    tz::SetFaultInjector(nullptr);
    Dbf4::CloseAll();
}

class NdxFaultTest : public NdxTest {};

TEST_F(NdxFaultTest, CrashAfterNthWriteIsRepairedAtReopen) {
    for (long n = 1; n <= 40; n += 3) {
        SCOPED_TRACE("crash at write " + std::to_string(n));
        const std::string path = Path("t" + std::to_string(n) + ".dbf");
        MakeTable(path, 150);
        kjtest::Child child("NdxFaultChild.CrashWhileAppending",
                            {{"TABLE", path}, {"N", std::to_string(n)}, {"MDX", Path("t" + std::to_string(n) + ".mdx")}});
        int rc = child.Wait();
        EXPECT_TRUE(rc == 77 || rc == 0) << rc;
        Verify(path, 150);
    }
}

TEST_F(NdxFaultTest, FailedWriteReports254AndRebuildsAtReopen) {
    for (long n = 1; n <= 30; n += 2) {
        SCOPED_TRACE("failure at write " + std::to_string(n));
        const std::string path = Path("f" + std::to_string(n) + ".dbf");
        MakeTable(path, 150);
        Dbf4::Select(1);
        Dbf4::Use(path + " EXCLUSIVE");
        TzNdx::SetIndexTo(Path("f" + std::to_string(n) + ".mdx"));
        tz::FaultInjector inj;
        inj.failAt = n;
        tz::SetFaultInjector(&inj);
        bool raised = false;
        for (int i = 200; i < 220; ++i) {
            try {
                AppendOne(i);
            } catch (const TzCommon::ETzError&) {
                raised = true;
            }
        }
        tz::SetFaultInjector(nullptr);
        EXPECT_TRUE(raised || TzCommon::ErrorWord != 0);
        Dbf4::CloseAll();
        Verify(path, 150);
    }
}

}  // namespace
