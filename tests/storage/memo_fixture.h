// Test helpers for memo files: a table file with a C and an M field written byte by byte,
// and a work area opened over it by hand (no table-engine open needed).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "storage/memo.h"
#include "storage/tz_common.h"
#include "storage/tz_storage.h"
#include "storage/work_area.h"
#include "tests/support/test_support.h"

namespace memotest {

struct Row {
    std::string name;
    int32_t block = 0;
};

// A table NAME C(10), NOTES M(10) with the given version byte and rows.
inline std::string DbfBytes(uint8_t version, const std::vector<Row>& rows) {
    std::string h(32, '\0');
    h[0] = char(version);
    h[1] = 126;
    h[2] = 1;
    h[3] = 1;
    uint32_t n = uint32_t(rows.size());
    for (int i = 0; i < 4; ++i) h[4 + i] = char(n >> (8 * i));
    uint16_t headerLength = 32 + 2 * 32 + 1, recordLength = 21;
    h[8] = char(headerLength & 0xFF);
    h[9] = char(headerLength >> 8);
    h[10] = char(recordLength);
    auto field = [](const char* name, char type, uint8_t len) {
        std::string d(32, '\0');
        for (size_t i = 0; name[i]; ++i) d[i] = name[i];
        d[11] = type;
        d[16] = char(len);
        return d;
    };
    h += field("NAME", 'C', 10);
    h += field("NOTES", 'M', 10);
    h += '\r';
    for (const Row& r : rows) {
        char buf[32];
        std::snprintf(buf, sizeof buf, " %-10.10s", r.name.c_str());
        h += buf;
        if (r.block == 0)
            h += std::string(10, ' ');
        else {
            std::snprintf(buf, sizeof buf, "%10d", r.block);
            h += buf;
        }
    }
    h += '\x1a';
    return h;
}

// A work area over an existing table file; the memo file is opened through Memo::Use.
inline std::unique_ptr<Dbf4::WorkArea> OpenTable(const std::string& path, bool withMemo = true,
                                                 bool exclusive = true) {
    auto a = std::make_unique<Dbf4::WorkArea>();
    a->fileName = path;
    std::string bytes = kjtest::ReadFile(path);
    EXPECT_GE(bytes.size(), 32u);
    for (int i = 0; i < 32; ++i) a->header[i] = uint8_t(bytes[size_t(i)]);
    a->version = a->header[0];
    a->memo = true;
    a->headerLength = a->header[8] | a->header[9] << 8;
    a->recordLength = uint16_t(a->header[10] | a->header[11] << 8);
    a->recCount = int32_t(a->header[4] | a->header[5] << 8 | a->header[6] << 16);
    uint16_t offset = 1;
    for (size_t p = 32; p + 32 <= bytes.size() && bytes[p] != '\r'; p += 32) {
        Dbf4::FieldEntry f;
        f.name = std::string(bytes.c_str() + p);
        f.type = bytes[p + 11];
        f.length = uint8_t(bytes[p + 16]);
        f.offset = offset;
        offset = uint16_t(offset + f.length);
        a->fields.push_back(f);
    }
    a->fieldCount = uint8_t(a->fields.size());
    a->record.assign(a->recordLength, ' ');
    a->state = Dbf4::kClean;
    a->exclusive = exclusive;
    EXPECT_EQ(a->file.Open(path, tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    if (withMemo) {
        EXPECT_TRUE(Memo::Use(*a)) << TzCommon::LastMessage();
    }
    return a;
}

// Reads record r's memo field text from the table file.
inline int32_t StoredBlock(const std::string& path, int r) {
    std::string bytes = kjtest::ReadFile(path);
    size_t off = 97 + size_t(r - 1) * 21 + 11;
    return std::atoi(bytes.substr(off, 10).c_str());
}

// The edit buffer's lines joined without their line ends.
inline std::string JoinedLines() {
    std::string s;
    for (const Memo::EditLine& l : Memo::Editor().lines) s += l.text;
    return s;
}

class MemoTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TzStorage::Reset();
        TzStorage::Startup();
        TzCommon::SetErrorChecking(0);
        Memo::ClearEditor();
    }
    void TearDown() override { TzStorage::Reset(); }
    // A new table of a flavour with an empty memo file; rows have no memos yet.
    std::unique_ptr<Dbf4::WorkArea> NewTable(const std::string& base, uint8_t version, int rows = 0,
                                             uint16_t blockSize = 512, bool exclusive = true) {
        std::string path = dir.file(base + ".dbf");
        std::vector<Row> r;
        for (int i = 0; i < rows; ++i) r.push_back({"row" + std::to_string(i + 1), 0});
        kjtest::WriteFile(path, DbfBytes(version, r));
        EXPECT_TRUE(
            Memo::CreateMemoFile(Memo::MemoFileName(path, version), version, blockSize, "test"));
        return OpenTable(path, true, exclusive);
    }
    std::string MemoPath(const Dbf4::WorkArea& a) { return Memo::DescriptorOf(a)->fileName; }
    kjtest::TempDir dir;
};

}  // namespace memotest
