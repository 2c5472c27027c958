// The fixture of the dataset component tests: a fresh engine state per test, messages
// caught instead of shown, a temporary folder, and a small table with one row per call.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "tests/support/test_support.h"

namespace tzdstest {

using namespace TzDs;

inline std::vector<std::string> g_messages;

class TzdsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TzDs::ResetState();
        TzCommon::SetErrorChecking(0);
        g_messages.clear();
        SetMessageProc([](const std::string& t) { g_messages.push_back(t); });
    }
    void TearDown() override { TzDs::ResetState(); }
    std::string Path(const std::string& n) const { return dir_.file(n); }

    // A table with NAVN C10, BELOB N12.0, PRIS N10.2, DATO D, OK L.
    void MakeTable(TTzDbf& t, const std::string& file, bool indexed = false) {
        t.SetDbfFileName(Path(file));
        t.DbfFields() = {"navn, C, 10, 0", "belob, N, 12, 0", "pris, N, 10, 2", "dato, D, 10, 0",
                         "ok, L, 1, 0"};
        if (indexed) t.IndexList() = {"NAVN,F,F,UPPER(NAVN)", ""};
        t.HideDeletedRecs = true;
    }
    void AddRow(TTzDbf& t, const std::string& name, int64_t amount) {
        t.Append();
        t.FieldByName("navn").SetAsString(name);
        t.FieldByName("belob").SetAsLargeInt(amount);
        t.Post();
    }
    std::vector<std::string> Names(TTzDbf& t) {
        std::vector<std::string> out;
        t.First();
        while (!t.Eof()) {
            out.push_back(t.FieldByName("navn").AsString());
            t.Next();
        }
        return out;
    }
    kjtest::TempDir dir_;
};

inline std::string Bytes(const std::string& path) {
    return kjtest::ReadFile(path);
}
inline uint16_t U16(const std::string& b, size_t off) {
    return uint16_t(uint8_t(b[off]) | (uint8_t(b[off + 1]) << 8));
}

}  // namespace tzdstest
