// The postings table and its five tags on a small file system that fills up: a rebuild that
// runs out of room leaves the index as it was, and a record that cannot be saved whole is
// refused before anything of it is written. Skipped where no file system can be mounted.
#include <sys/stat.h>

#include <iostream>

#include "storage/file_layer.h"
#include "storage/tz_errors.h"
#include "tests/index/ndx_fixture.h"

namespace {

using namespace ndxtest;

class NdxDiskTest : public NdxTest {
  protected:
    // Postings of n records and their index on a disk of sizeKB; false (skipped) where the
    // disk cannot be mounted.
    bool MakePostings(int sizeKB, int n) {
        disk_ = std::make_unique<kjtest::SmallDisk>(sizeKB);
        if (!disk_->Mounted()) return false;
        table_ = disk_->file("poster.dbf");
        mdx_ = disk_->file("poster.MDX");
        kjtest::MakePostings(table_, n);
        Dbf4::Select(1);
        Dbf4::Use(table_ + " EXCLUSIVE");
        EXPECT_TRUE(TzNdx::MakeIndex(PostTags()));
        Dbf4::CloseAll();
        return true;
    }
    // Once the filler is removed a save in area 1 goes through: the table then holds the
    // 5,000 postings, the `saved` ones and this one, and every tag agrees with it.
    void SaveOnceThereIsRoom(int saved) {
        disk_->RemoveFiller();
        Dbf4::Select(1);
        ASSERT_TRUE(Dbf4::ALock());
        kjtest::FillPosting(7000);
        EXPECT_NO_THROW(Dbf4::Append());
        Dbf4::Unlock();
        EXPECT_EQ(Dbf4::RecCount(), 5000 + saved + 1);
        EXPECT_EQ(TagsAgree(), "");
        Dbf4::CloseAll();
    }
    // One save of posting 6000 + i in area 1 under the append lock, the lock and the error
    // code cleared afterwards. A refused save leaves the record count as it was.
    struct Save {
        int32_t before = 0;  // the record count before
        bool saved = false;
        std::string refusal;  // what the refusal said, and its code
        uint16_t code = 0;
    };
    void SaveOne(int i, Save* out) {
        Dbf4::Select(1);
        *out = Save{Dbf4::RecCount(), false, "", 0};
        ASSERT_TRUE(Dbf4::ALock());
        try {
            kjtest::FillPosting(6000 + i);
            Dbf4::Append();
            out->saved = true;
        } catch (const TzCommon::ETzError& e) {
            out->refusal = e.what();
            out->code = TzCommon::ErrorWord();
            EXPECT_EQ(Dbf4::RecCount(), out->before);
        }
        Dbf4::Unlock();
        TzCommon::ClearErrorWord();
    }
    void TearDown() override {
        tz::SetFaultInjector(nullptr);
        NdxTest::TearDown();
        disk_.reset();
    }
    std::unique_ptr<kjtest::SmallDisk> disk_;
    std::string table_, mdx_;
};

uint64_t SizeOf(const std::string& name) {
    return uint64_t(kjtest::ReadFile(name).size());
}

TEST_F(NdxDiskTest, MakeIndexOnAFullDiskLeavesTheIndexAsItWas) {
    if (!MakePostings(8192, 5000)) GTEST_SKIP() << disk_->Why();
    const std::string before = kjtest::ReadFile(mdx_);
    disk_->FillLeaving(700);
    Dbf4::Select(1);
    Dbf4::Use(table_ + " EXCLUSIVE");
    bool ok = true;
    try {
        ok = TzNdx::MakeIndex(PostTags());
    } catch (const TzCommon::ETzError&) {
        ok = false;
    }
    const uint16_t code = TzCommon::ErrorWord();
    TzNdx::SetIndexTo(mdx_);
    std::cout << "make-index with " << disk_->FreeKB() << " KB free: code " << code << ", "
              << before.size() << " bytes before, " << SizeOf(mdx_) << " bytes and "
              << TzNdx::TagCount() << " tags after\n";
    EXPECT_FALSE(ok);
    EXPECT_TRUE(code == TzErr::InsufficientDiskSpace || code == TzErr::DiskWriteError) << code;
    EXPECT_TRUE(kjtest::ReadFile(mdx_) == before) << "the index file changed";
    EXPECT_FALSE(tz::Exists(mdx_ + ".new"));
    EXPECT_EQ(TzNdx::TagCount(), 5);
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
}

// Saves on a full disk, through a shared open as the program's: each save is either whole
// (the record and every key) or refused before anything of it is written, with a code that
// names the full disk; the table ends with a whole record, the index is never left marked,
// and once room is made the saves go on.
TEST_F(NdxDiskTest, SavesOnAFullDiskAreWholeOrRefused) {
    if (!MakePostings(8192, 5000)) GTEST_SKIP() << disk_->Why();
    Dbf4::Select(1);
    Dbf4::Use(table_);
    TzNdx::SetIndexTo(mdx_);
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    disk_->FillLeaving(0);
    int saved = 0, refused = 0;
    std::string message;
    for (int i = 0; i < 40; ++i) {
        Save save;
        ASSERT_NO_FATAL_FAILURE(SaveOne(i, &save));
        if (save.saved) {
            ++saved;
            EXPECT_EQ(Dbf4::RecCount(), save.before + 1);
        } else {
            ++refused;
            message = save.refusal;
            EXPECT_TRUE(save.code == TzErr::DiskWriteError ||
                        save.code == TzErr::InsufficientDiskSpace)
                << message;
        }
        const uint64_t size = SizeOf(table_);
        const uint64_t records = (size - (32 * 17 + 33)) / 187, rest = (size - 577) % 187;
        EXPECT_TRUE(records == uint64_t(Dbf4::RecCount()) && rest <= 1)
            << size << " bytes for " << Dbf4::RecCount() << " records";
        EXPECT_EQ(kjtest::ReadFile(mdx_)[TzNdx::kMaintenanceMark], 0);
    }
    std::cout << "40 saves on a full disk: " << saved << " saved, " << refused
              << " refused; last message: " << message << "\n";
    EXPECT_GT(refused, 0);
    EXPECT_EQ(TagsAgree(), "");
    // A rewrite that changes no key needs no room: it goes through.
    TzNdx::Set_Order_To(0);
    Dbf4::Go(17);
    ASSERT_TRUE(Dbf4::RLock());
    SetC(Dbf4::FieldNo("POST_BEM"), "rettet paa fuld disk");
    EXPECT_NO_THROW(Dbf4::Replace());
    Dbf4::Unlock();
    Dbf4::Go(17);
    EXPECT_EQ(GetC(Dbf4::FieldNo("POST_BEM")).substr(0, 20), "rettet paa fuld disk");
    EXPECT_EQ(kjtest::ReadFile(mdx_)[TzNdx::kMaintenanceMark], 0);
    SaveOnceThereIsRoom(saved);
}

// A record written part-way before the disk filled up is cut off again: the table ends
// with its last whole record (and the end-of-file mark), and takes the next record whole
// once there is room.
TEST_F(NdxDiskTest, ARecordWrittenPartWayIsCutOff) {
    if (!MakePostings(8192, 5000)) GTEST_SKIP() << disk_->Why();
    Dbf4::Select(1);
    Dbf4::Use(table_ + " EXCLUSIVE");
    disk_->FillLeaving(0);
    int saved = 0;
    uint16_t code = 0;
    for (int i = 0; i < 100 && code == 0; ++i) {
        kjtest::FillPosting(6000 + i);
        Dbf4::Append();
        code = TzCommon::ErrorWord();
        if (code == 0) ++saved;
    }
    EXPECT_EQ(code, TzErr::DiskWriteError);
    EXPECT_EQ(Dbf4::RecCount(), 5000 + saved);
    const uint64_t size = SizeOf(table_);
    std::cout << saved << " records appended on a full disk; the table then holds " << size
              << " bytes for " << Dbf4::RecCount() << " records\n";
    EXPECT_EQ(size, uint64_t(577 + 187 * (5000 + saved) + 1));
    disk_->RemoveFiller();
    TzCommon::ClearErrorWord();
    kjtest::FillPosting(7000);
    Dbf4::Append();
    EXPECT_EQ(TzCommon::ErrorWord(), 0);
    Dbf4::CloseAll();
    EXPECT_EQ(SizeOf(table_), uint64_t(577 + 187 * (5000 + saved + 1) + 1));
}

// Where no room can be reserved beforehand, a full disk stops a change's page writes part
// way: the pages written never name a page that was not, so a station reading the tag
// meanwhile walks it without a damaged-index error. The record written counts as saved;
// the next change is refused, naming the disk, until there is room, and then the tags are
// built again and agree with the table.
TEST_F(NdxDiskTest, PagesStoppedByAFullDiskLeaveTheTagReadable) {
    if (!MakePostings(8192, 5000)) GTEST_SKIP() << disk_->Why();
    for (int area : {1, 2}) {
        Dbf4::Select(area);
        Dbf4::Use(table_ + (area == 2 ? " ALIAS READER" : ""));
        TzNdx::SetIndexTo(mdx_);
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }
    tz::FaultInjector injector;
    injector.reserveUnsupported = true;
    tz::SetFaultInjector(&injector);
    disk_->FillLeaving(0);
    int saved = 0, refused = 0;
    std::string damaged;
    for (int i = 0; i < 25; ++i) {
        Save save;
        ASSERT_NO_FATAL_FAILURE(SaveOne(i, &save));
        (save.saved ? saved : refused) += 1;
        Dbf4::Select(2);
        for (int tag = 1; tag <= 5 && damaged.empty(); ++tag) {
            try {
                TzNdx::Set_Order_To(tag);
                Walk(true);
            } catch (const TzCommon::ETzError& e) {
                if (TzCommon::ErrorWord() == TzErr::CorruptedIndex) damaged = e.what();
            }
            TzCommon::ClearErrorWord();
        }
    }
    std::cout << "25 saves on a full disk without reserved room: " << saved << " saved, " << refused
              << " refused\n";
    EXPECT_EQ(damaged, "");
    EXPECT_GT(refused, 0);
    tz::SetFaultInjector(nullptr);
    SaveOnceThereIsRoom(saved);
}

// The room an index file holds on the disk past its length, in bytes (0 when none).
int64_t RoomPastEnd(const std::string& name) {
    struct stat st;
    if (stat(name.c_str(), &st) != 0) return -1;
    const int64_t block = st.st_blksize > 0 ? int64_t(st.st_blksize) : 4096;
    return std::max<int64_t>(
        int64_t(st.st_blocks) * 512 - (int64_t(st.st_size) + block - 1) / block * block, 0);
}

// Appends that the room reserved before covers ask neither for the index file's length nor
// for more room: 200 appends under one file lock reserve room a few times, not 200 times.
// The room reserved past the file's end goes back when the index is closed.
TEST_F(NdxDiskTest, AppendsReserveRoomOnceInAWhileAndCloseGivesItBack) {
    kjtest::TempDir dir;
    const std::string table = dir.file("poster.dbf"), mdx = dir.file("poster.MDX");
    kjtest::MakePostings(table, 300);
    Dbf4::Select(1);
    Dbf4::Use(table);
    ASSERT_TRUE(TzNdx::MakeIndex(PostTags()));
    TzNdx::SetIndexTo("poster.mdx");
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    constexpr int kAppends = 200;
    ASSERT_TRUE(Dbf4::FLock());
    tz::CallCounts calls;
    tz::SetCallCounts(&calls);
    for (int i = 0; i < kAppends; ++i) {
        kjtest::FillPosting(1000 + i);
        Dbf4::Append();
    }
    tz::SetCallCounts(nullptr);
    const int64_t held = RoomPastEnd(mdx);
    Dbf4::Unlock();
    EXPECT_LE(calls.reserves, kAppends / 20) << "reservations for " << kAppends << " appends";
    EXPECT_LE(calls.sizes, kAppends / 4) << "looks at the length for " << kAppends << " appends";
    EXPECT_EQ(Dbf4::RecCount(), 300 + kAppends);
    EXPECT_EQ(TagsAgree(), "");
    std::cout << kAppends << " appends: " << calls.reserves << " reservations, " << calls.sizes
              << " looks at a length; " << held << " bytes held past the index's end\n";
    Dbf4::CloseAll();
    EXPECT_EQ(RoomPastEnd(mdx), 0) << "bytes still held past the end after the close";
    // The index still reads whole.
    Dbf4::Use(table);
    TzNdx::SetIndexTo("poster.mdx");
    EXPECT_EQ(TagsAgree(), "");
    Dbf4::CloseAll();
}

}  // namespace
