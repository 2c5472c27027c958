// Fixture for the index engine tests: engine reset with the index engine installed, a
// temporary folder, table helpers, and a walk of a tag through the table engine.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/tz_common.h"
#include "tests/storage/table_fixture.h"
#include "tests/support/postings_table.h"
#include "tests/support/test_support.h"

namespace ndxtest {

inline void ResetEngine() {
    TzEngine::Reset();
    TzCommon::SetDateStyle(3);  // DD-MM-YYYY
    TzCommon::SetCenturyFlag(true);
}

// In a helper station: opens the table and index the parent named (TABLE, MDX) shared in
// work area 1, ordered by the first tag, and tells the parent "ready" or what went wrong.
inline void OpenStationTable() {
    Dbf4::Select(1);
    Dbf4::Use(kjtest::ChildArg("TABLE"));
    TzNdx::SetIndexTo(kjtest::ChildArg("MDX"));
    TzNdx::Set_Order_To(1);
    kjtest::TellParent(TzCommon::ErrorWord() == 0 ? "ready" : TzCommon::LastErrorMessage());
}

class NdxTest : public kjtest::TableTest {
  protected:
    void TearDown() override { TzEngine::Reset(); }
    void SetUp() override {
        ResetEngine();
        TzCommon::SetErrorChecking(0);  // index failures raise ETzError
    }
};

// The postings index's five tags as the index engine takes them (for tests that link the
// postings table).
inline const std::vector<TzNdx::TagDescriptor>& PostTags() {
    static const std::vector<TzNdx::TagDescriptor> tags = [] {
        std::vector<TzNdx::TagDescriptor> out;
        for (const kjtest::TagText& t : kjtest::PostingsTags())
            out.push_back({t.name, t.expression, "", false, false});
        return out;
    }();
    return tags;
}

inline void SetC(int field, const std::string& v) {
    uint8_t* p = Dbf4::FieldAddress(field);
    int len = Dbf4::FieldLen(field);
    p[0] = uint8_t(len);
    std::memset(p + 1, ' ', size_t(len));
    std::memcpy(p + 1, v.data(), std::min<size_t>(v.size(), size_t(len)));
}
inline std::string GetC(int field) {
    uint8_t* p = Dbf4::FieldAddress(field);
    return std::string(reinterpret_cast<char*>(p) + 1, p[0]);
}
inline void SetF(int field, double v) {
    std::memcpy(Dbf4::FieldAddress(field), &v, 8);
}
inline void SetD(int field, const std::string& styleText) {
    uint8_t* p = Dbf4::FieldAddress(field);
    p[0] = uint8_t(styleText.size());
    std::memcpy(p + 1, styleText.data(), styleText.size());
}

// Record numbers of the current order, walked forwards (GoTop/Skip) or backwards
// (GoBottom/Skip(-1)); the backward walk is answered in forward order.
inline std::vector<int32_t> Walk(bool forward) {
    std::vector<int32_t> out;
    if (forward) {
        Dbf4::GoTop();
        while (!Dbf4::dEOF()) {
            out.push_back(Dbf4::RecNo());
            Dbf4::Skip(1);
            if (out.size() > 1000000) break;
        }
    } else {
        Dbf4::GoBottom();
        while (!Dbf4::dEOF() && !Dbf4::dBOF()) {
            out.insert(out.begin(), Dbf4::RecNo());
            Dbf4::Skip(-1);
            if (out.size() > 1000000) break;
        }
    }
    return out;
}

}  // namespace ndxtest

#include "expr/expr_eval.h"

namespace ndxtest {

// Checks every tag of the current area against the table: each walk visits every record
// with a key once, in key order (keys evaluated from the records themselves). Answers an
// empty text when they agree, else what differs.
inline std::string TagsAgree() {
    const int32_t count = Dbf4::RecCount();
    for (int t = 1; t <= TzNdx::TagCount(); ++t) {
        TzNdx::Set_Order_To(t);
        TzParser::ExprBlock* e = TzParser::AssignExpr(TzNdx::TagExpression(t));
        if (!e) return "cannot compile " + TzNdx::TagExpression(t);
        std::vector<int32_t> seen;
        std::string prev;
        bool ordered = true;
        Dbf4::GoTop();
        while (!Dbf4::dEOF() && seen.size() <= size_t(count)) {
            seen.push_back(Dbf4::RecNo());
            TzParser::Evaluate(e);
            std::string k = TzParser::ResultString(e);
            if (k < prev && !TzNdx::TagDescending(t)) ordered = false;
            prev = k;
            Dbf4::Skip(1);
        }
        TzParser::FreeExpr(e);
        std::sort(seen.begin(), seen.end());
        if (!ordered) return "tag " + TzNdx::TagName(t) + " out of order";
        if (seen.size() != size_t(count)) {
            return "tag " + TzNdx::TagName(t) + " has " + std::to_string(seen.size()) +
                   " keys for " + std::to_string(count) + " records";
        }
        for (int32_t i = 0; i < count; ++i)
            if (seen[size_t(i)] != i + 1)
                return "tag " + TzNdx::TagName(t) + " misses record " + std::to_string(i + 1);
    }
    return "";
}

}  // namespace ndxtest
