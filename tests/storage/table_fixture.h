// A test fixture for the table engine: engine state reset around each test (TzStorage), error
// checking off (failures are read from the error word), a temporary folder, and small helpers to
// create tables and read their bytes.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/tz_common.h"
#include "storage/tz_storage.h"
#include "tests/support/test_support.h"

namespace kjtest {

// The table engine at its start-up state with no unit installed: each test installs the
// units it uses (the index engine and the parser are above this layer).
inline void ResetEngine() {
    TzStorage::Reset();
}

class TableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetEngine();
        TzCommon::SetErrorChecking(0);
    }
    void TearDown() override { TzStorage::Reset(); }

    std::string Path(const std::string& name) const { return dir_.file(name); }

    // Creates a table; false (with a test failure) when the engine refuses.
    bool Create(const std::string& name, const std::vector<TzDbfLow::FieldDef>& fields) {
        Dbf4::WorkArea scratch;
        bool ok = TzDbfLow::CreateDbf(scratch, Path(name), fields);
        EXPECT_TRUE(ok) << TzCommon::LastErrorMessage();
        return ok;
    }

    // Opens a table in area n.
    void Open(int n, const std::string& command) {
        Dbf4::Select(n);
        Dbf4::Use(command);
        ASSERT_EQ(TzCommon::ErrorWord(), 0) << TzCommon::LastErrorMessage();
    }

    // Native field helpers on the current area.
    void SetC(int field, const std::string& v) {
        uint8_t* p = Dbf4::FieldAddress(field);
        int len = Dbf4::FieldLen(field);
        p[0] = uint8_t(len);
        std::memset(p + 1, ' ', len);
        std::memcpy(p + 1, v.data(), std::min<size_t>(v.size(), len));
    }
    std::string GetC(int field) {
        uint8_t* p = Dbf4::FieldAddress(field);
        return std::string(reinterpret_cast<char*>(p) + 1, p[0]);
    }
    void SetI(int field, int32_t v) { std::memcpy(Dbf4::FieldAddress(field), &v, 4); }
    int32_t GetI(int field) {
        int32_t v;
        std::memcpy(&v, Dbf4::FieldAddress(field), 4);
        return v;
    }
    void SetF(int field, double v) { std::memcpy(Dbf4::FieldAddress(field), &v, 8); }
    double GetF(int field) {
        double v;
        std::memcpy(&v, Dbf4::FieldAddress(field), 8);
        return v;
    }
    void SetD(int field, const std::string& styleText) {
        uint8_t* p = Dbf4::FieldAddress(field);
        p[0] = uint8_t(styleText.size());
        std::memcpy(p + 1, styleText.data(), styleText.size());
    }
    void SetL(int field, bool v) { *Dbf4::FieldAddress(field) = v ? 1 : 0; }

    std::string Bytes(const std::string& name) const { return ReadFile(Path(name)); }

    TempDir dir_;
};

}  // namespace kjtest
