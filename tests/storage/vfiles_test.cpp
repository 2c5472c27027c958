// Virtual files: order and contents in every mode, positioning walks, write back, delete,
// pack, pop, remove, zap, and variable-length records that do not fit their buffer.
#include "storage/vfiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_storage.h"
#include "storage/work_area.h"

namespace {

using Dbf4::WorkArea;

// A work area that closes its virtual file when it goes out of scope.
struct VArea : WorkArea {
    ~VArea() {
        if (virtualData != nullptr) VFiles::AreaHook(*this, VFiles::kClose, 0);
    }
};

class VFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TzStorage::Reset();
        TzStorage::Startup();
        TzCommon::SetErrorChecking(0);
    }
    void TearDown() override { TzStorage::Reset(); }
    // A fixed-length virtual area: flag byte + 4 key characters.
    void Open(WorkArea& a, uint8_t mode, uint8_t storage = VFiles::kHeap) {
        a.alias = "VF";
        a.isVirtual = true;
        a.recordLength = 5;
        a.record.assign(5, ' ');
        VFiles::Configure(a, mode, storage, [](const WorkArea& w) {
            return std::string(w.record.begin() + 1, w.record.end());
        });
        ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kOpen, 0));
    }
    void Add(WorkArea& a, const std::string& key) {
        a.record[0] = 0;
        std::string k = (key + "    ").substr(0, 4);
        std::copy(k.begin(), k.end(), a.record.begin() + 1);
        ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kAdd, 0)) << TzCommon::LastMessage();
    }
    std::string Keys(WorkArea& a) {
        std::string s;
        for (int32_t i = 1; i <= a.recCount; ++i) {
            EXPECT_TRUE(VFiles::AreaHook(a, VFiles::kGo, i));
            std::string k(a.record.begin() + 1, a.record.end());
            s += k.substr(0, k.find(' ')) + (a.record[0] ? "*" : "") + ",";
        }
        return s;
    }
};

TEST_F(VFilesTest, OrderInEachMode) {
    VArea fifo, lifo, asc, desc, ins;
    Open(fifo, VFiles::kAppend);
    Open(lifo, VFiles::kPush);
    Open(asc, VFiles::kAscending);
    Open(desc, VFiles::kDescending);
    Open(ins, VFiles::kInsert);
    EXPECT_TRUE(fifo.bof && fifo.eof);
    for (const char* k : {"B", "A", "C", "B"}) {
        Add(fifo, k);
        Add(lifo, k);
        Add(asc, k);
    }
    EXPECT_EQ(fifo.recNo, 4);
    EXPECT_EQ(lifo.recNo, 1);
    EXPECT_EQ(asc.recNo, 3);  // the second B goes after the first, as record 3
    EXPECT_EQ(Keys(fifo), "B,A,C,B,");
    EXPECT_EQ(Keys(lifo), "B,C,A,B,");
    EXPECT_EQ(Keys(asc), "A,B,B,C,");
    for (const char* k : {"B", "A", "C"}) Add(desc, k);
    EXPECT_EQ(Keys(desc), "C,B,A,");

    // Longer sorted lists go through the binary search.
    VArea big;
    Open(big, VFiles::kAscending);
    std::string expect;
    for (int i = 0; i < 40; ++i) Add(big, std::to_string((i * 37) % 40 + 100));
    for (int i = 100; i < 140; ++i) expect += std::to_string(i) + ",";
    EXPECT_EQ(Keys(big), expect);

    // Insertion: a new record goes before the current one.
    Add(ins, "A");
    Add(ins, "B");  // before A
    ASSERT_TRUE(VFiles::AreaHook(ins, VFiles::kGo, 2));
    Add(ins, "C");  // before A, as record 2
    EXPECT_EQ(ins.recNo, 2);
    EXPECT_EQ(Keys(ins), "B,C,A,");

    // A sorted file without a key maker and an invalid mode give 1100.
    VArea nokey;
    Open(nokey, VFiles::kAscending);
    VFiles::SetKeyMaker(nokey, nullptr);
    nokey.record[0] = 0;
    EXPECT_FALSE(VFiles::AreaHook(nokey, VFiles::kAdd, 0));
    EXPECT_EQ(TzCommon::LastMessage(),
              "VF is a \"Sorted\" virtual file with no keymaker function. "
              "[Append/InsertRec/PushRec]");
    VFiles::StateOf(nokey).mode = 9;
    EXPECT_FALSE(VFiles::AreaHook(nokey, VFiles::kAdd, 0));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidListOperation);
    EXPECT_EQ(nokey.recCount, 0);
    // Raised as exceptions, and from a key maker, the refused record is not kept (the
    // sanitizer build reports a leaked node).
    TzCommon::SetErrorChecking(1);
    TzCommon::SetUseExceptions(1);
    EXPECT_THROW(VFiles::AreaHook(nokey, VFiles::kAdd, 0), TzCommon::ETzError);
    VFiles::StateOf(nokey).mode = VFiles::kAscending;
    EXPECT_THROW(VFiles::AreaHook(nokey, VFiles::kAdd, 0), TzCommon::ETzError);
    VFiles::SetKeyMaker(nokey,
                        [](const WorkArea&) -> std::string { TzCommon::RaiseTzError("no key"); });
    EXPECT_THROW(VFiles::AreaHook(nokey, VFiles::kAdd, 0), TzCommon::ETzError);
    EXPECT_EQ(nokey.recCount, 0);
    TzCommon::SetErrorChecking(0);
}

TEST_F(VFilesTest, PositioningWalksTheShortestWay) {
    VArea a;
    Open(a, VFiles::kAppend);
    for (int i = 1; i <= 10; ++i) Add(a, std::to_string(i));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 9));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 2));
    EXPECT_EQ(VFiles::StateOf(a).lastWalk, 1);  // one step from the head
    EXPECT_EQ(std::string(a.record.begin() + 1, a.record.begin() + 2), "2");
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 5));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 8));
    EXPECT_EQ(VFiles::StateOf(a).lastWalk, 2);  // two steps back from the tail
    EXPECT_EQ(std::string(a.record.begin() + 1, a.record.begin() + 2), "8");
    EXPECT_FALSE(VFiles::AreaHook(a, VFiles::kGo, 11));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::RequestBeyondRange);
    EXPECT_EQ(TzCommon::LastMessage(), "Attempted to position to record number 11 [VFiles]");
    EXPECT_EQ(a.recNo, 8);
}

TEST_F(VFilesTest, DeletePackPopRemoveZap) {
    VArea a;
    Open(a, VFiles::kAppend);
    for (const char* k : {"A", "B", "C", "D", "E"}) Add(a, k);
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 2));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kDelete, 0));
    EXPECT_EQ(a.record[0], 1);
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 4));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kDelete, 0));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kRecall, 0));
    EXPECT_EQ(a.record[0], 0);
    EXPECT_EQ(Keys(a), "A,B*,C,D,E,");
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kPack, 0));
    EXPECT_EQ(a.recCount, 4);
    EXPECT_EQ(a.recNo, 1);
    EXPECT_EQ(Keys(a), "A,C,D,E,");

    ASSERT_TRUE(VFiles::PopRec(a));
    EXPECT_EQ(std::string(1, char(a.record[1])), "A");
    EXPECT_EQ(Keys(a), "C,D,E,");

    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 3));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kRemove, 0));  // the tail
    EXPECT_EQ(a.recNo, 2);
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 1));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kRemove, 0));
    EXPECT_EQ(Keys(a), "D,");

    // Write back in place, and in a sorted file the changed key moves the record.
    a.record[1] = 'Q';
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kWrite, 1));
    EXPECT_EQ(Keys(a), "Q,");
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kWrite, 5));  // above the count: added
    EXPECT_EQ(a.recCount, 2);

    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kZap, 0));
    EXPECT_EQ(a.recCount, 0);
    EXPECT_TRUE(a.bof && a.eof);
    EXPECT_FALSE(VFiles::PopRec(a));
    EXPECT_EQ(TzCommon::LastMessage(),
              "Virtual file empty - no more records to POP from VF [(PopRec) VFiles]");

    VArea s;
    Open(s, VFiles::kAscending);
    for (const char* k : {"B", "D", "F"}) Add(s, k);
    ASSERT_TRUE(VFiles::AreaHook(s, VFiles::kGo, 1));
    s.record[1] = 'E';
    ASSERT_TRUE(VFiles::AreaHook(s, VFiles::kWrite, 1));
    EXPECT_EQ(Keys(s), "D,E,F,");

    VArea i;
    Open(i, VFiles::kInsert);
    Add(i, "X");
    EXPECT_FALSE(VFiles::PopRec(i));
    EXPECT_EQ(TzCommon::LastMessage(),
              "Cannot POP a record in INSERTION mode from VF [(PopRec) VFiles]");
}

TEST_F(VFilesTest, EveryStorageKindKeepsItsRecords) {
    for (const char* words : {" TO XMS FIFO", " TO EXT LIFO", " TO EMS", " TO BIGGEST"}) {
        SCOPED_TRACE(words);
        VArea a;
        a.alias = "VX";
        a.isVirtual = true;
        a.recordLength = 5;
        a.record.assign(5, ' ');
        a.fileName = std::string("scratch") + words;
        ASSERT_TRUE(VFiles::Request(a, VFiles::kReqOpen, 0));
        EXPECT_EQ(a.fileName, "scratch");
        Add(a, "1");
        Add(a, "2");
        EXPECT_EQ(Keys(a), std::string(words).find("LIFO") != std::string::npos ? "2,1," : "1,2,");
        ASSERT_TRUE(VFiles::Request(a, VFiles::kReqClose, 0));
    }
}

TEST_F(VFilesTest, VariableLengthRecords) {
    VArea a;
    std::vector<uint8_t> buffer(16, 0);
    a.alias = "VL";
    a.isVirtual = true;
    a.recordLength = 0;
    a.native = buffer.data();
    a.nativeSize = uint16_t(buffer.size());
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kOpen, 0));
    auto put = [&](const std::string& s) {
        buffer.assign(16, 0);
        buffer[0] = uint8_t(s.size() + 1);  // flag byte + text
        buffer[2] = 0;
        std::copy(s.begin(), s.end(), buffer.begin() + 3);
    };
    for (const char* s : {"one", "three", "fifth"}) {
        put(s);
        ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kAdd, 0));
    }
    // Record 3 of 5 written back with another size: still 5 records, new text as 3.
    put("x");
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kAdd, 0));
    put("y");
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kAdd, 0));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 3));
    put("much longer");
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kWrite, 3));
    EXPECT_EQ(a.recCount, 5);
    EXPECT_EQ(a.recNo, 3);
    buffer.assign(16, 0xEE);
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 1));
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kGo, 3));
    EXPECT_EQ(buffer[0], 12);
    EXPECT_EQ(std::string(buffer.begin() + 3, buffer.begin() + 14), "much longer");
    ASSERT_TRUE(VFiles::AreaHook(a, VFiles::kDelete, 0));
    EXPECT_EQ(buffer[2], 1);  // the flag of a variable-length record is byte 2

    // A length that does not fit the buffer is refused, not copied.
    buffer[0] = 0xFF;
    buffer[1] = 0x7F;
    EXPECT_FALSE(VFiles::AreaHook(a, VFiles::kAdd, 0));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(a.recCount, 5);
    EXPECT_FALSE(VFiles::AreaHook(a, VFiles::kWrite, 2));
    EXPECT_EQ(TzCommon::ErrorWord(), TzErr::InvalidParameter);
}

// A virtual file opened through Use works on the caller's buffer: appends, moves, replace,
// delete and pack through the table engine's commands.
TEST_F(VFilesTest, EngineCommandsOnAVirtualFile) {
    Dbf4::CloseAll();
    uint8_t buf[16] = {};
    auto put = [&](const std::string& text) {
        std::memset(buf, 0, sizeof buf);
        buf[0] = uint8_t(text.size() + 1);  // length, then the flag byte and the text
        std::memcpy(buf + 3, text.data(), text.size());
    };
    auto text = [&] { return std::string(reinterpret_cast<char*>(buf) + 3, buf[0] - 1); };
    Dbf4::Select(1);
    Dbf4::Use("SCRATCH VIRTUAL FILE", buf, sizeof buf);
    ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    for (const char* t : {"one", "two", "three"}) {
        put(t);
        Dbf4::Append();
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
    }
    EXPECT_EQ(Dbf4::RecCount(), 3);
    Dbf4::Go(2);
    EXPECT_EQ(text(), "two");
    put("TWO");
    Dbf4::Replace();
    Dbf4::GoTop();
    EXPECT_EQ(text(), "one");
    Dbf4::Skip(1);
    EXPECT_EQ(text(), "TWO");
    Dbf4::DeleteRec();
    Dbf4::Pack();
    EXPECT_EQ(Dbf4::RecCount(), 2);
    Dbf4::GoBottom();
    EXPECT_EQ(text(), "three");
    Dbf4::CloseArea();
    EXPECT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastMessage();
}

}  // namespace
