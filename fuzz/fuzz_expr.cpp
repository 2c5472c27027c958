// libFuzzer target: expression texts. Each input is compiled and evaluated against the
// records of a small table (every field type, memo included), checked as a tag key and
// FOR condition, and set as a filter and a WHILE condition over the table; once with error
// codes, once with exceptions and once with the halt routine.
#include <cstring>
#include <memory>

#include "expr/expr_eval.h"
#include "expr/expr_parser.h"
#include "fuzz/fuzz_support.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/memo.h"
#include "storage/tz_common.h"

namespace {

constexpr size_t kMaxInput = 1024;
constexpr int kSteps = 4;

void SetField(int f, const void* p, size_t n) {
    std::memcpy(Dbf4::FieldAddress(f), p, n);
}

void FillRecord(int i) {
    uint8_t name[11] = {10};
    std::memset(name + 1, ' ', 10);
    std::memcpy(name + 1, i == 1 ? "Hansen" : "Ærø ö", i == 1 ? 6 : 7);
    SetField(1, name, sizeof name);
    double amount = i == 1 ? 1234.5 : -0.25;
    SetField(2, &amount, 8);
    int32_t count = i * 17;
    SetField(3, &count, 4);
    double price = i * 3.125;
    SetField(4, &price, 8);
    uint8_t date[11] = {10};
    std::memcpy(date + 1, i == 1 ? "29-02-2024" : "31-12-1899", 10);
    SetField(5, date, sizeof date);
    uint8_t flag = uint8_t(i & 1);
    SetField(6, &flag, 1);
}

// The table every input runs against: written once per process.
const std::string& Table() {
    static const std::string path = [] {
        kjfuzz::Session session(kjfuzz::ErrorMode::Codes);
        std::string p = kjfuzz::PathOf("e.dbf");
        Dbf4::WorkArea scratch;
        TzDbfLow::CreateDbf(scratch, p,
                            {{"NAME", 'C', 10, 0},
                             {"AMOUNT", 'N', 12, 2},
                             {"COUNT", 'N', 5, 0},
                             {"PRICE", 'F', 10, 3},
                             {"DAY", 'D', 8, 0},
                             {"OK", 'L', 1, 0},
                             {"NOTES", 'M', 10, 0}});
        Dbf4::Select(1);
        Dbf4::Use(p + " EXCLUSIVE");
        for (int i = 1; i <= 3; ++i) {
            Dbf4::ClearRecord();
            if (i < 3) FillRecord(i);
            Dbf4::Append();
        }
        Dbf4::Go(1);
        int32_t block = Memo::AddMemo(*Dbf4::Current(), "a memo of\r\ntwo lines");
        Dbf4::Scatter();
        SetField(7, &block, 4);
        Dbf4::Replace();
        return p;
    }();
    return path;
}

void Evaluate(const std::string& text) {
    // Owned here: an evaluation error raised as an exception leaves through this frame.
    std::unique_ptr<TzParser::ExprBlock, void (*)(TzParser::ExprBlock*)> owned(
        TzParser::AssignExpr(text), [](TzParser::ExprBlock* b) { TzParser::FreeExpr(b); });
    TzParser::ExprBlock* e = owned.get();
    if (!e) return;
    for (int32_t n = 1; n <= 3 && !TzCommon::Halted(); ++n) {
        Dbf4::Go(n);
        if (!TzParser::Evaluate(e)) continue;
        switch (e->type) {
            case 'N':
            case 'D':
                (void)TzParser::ResultNumber(e);
                break;
            case 'L':
                (void)TzParser::ResultLogical(e);
                break;
            default:
                (void)TzParser::ResultString(e);
                break;
        }
    }
}

void Conditions(const std::string& text) {
    Dbf4::Set_Filter_To(text);
    Dbf4::GoTop();
    for (int i = 0; i < kSteps && !Dbf4::dEOF() && !TzCommon::Halted(); ++i) Dbf4::Skip(1);
    Dbf4::Set_Filter_To("");
    Dbf4::Go(1);
    Dbf4::Set_While_To(text);
    for (int i = 0; i < kSteps && !Dbf4::dEOF() && !TzCommon::Halted(); ++i) Dbf4::Skip(1);
    Dbf4::Set_While_To("");
}

void Run(const std::string& text) {
    Dbf4::Select(1);
    Dbf4::Use(Table());
    if (TzCommon::ErrorWord() != 0 || TzCommon::Halted()) return;
    Evaluate(text);
    if (TzCommon::Halted()) return;
    std::string key = text;
    (void)TzParser::ValidateExpr(key, true);
    (void)TzParser::ValidateForExpr(text);
    if (TzCommon::Halted()) return;
    Conditions(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return -1;
    const std::string& table = Table();
    (void)table;
    std::string text(reinterpret_cast<const char*>(data), size);
    for (kjfuzz::ErrorMode mode :
         {kjfuzz::ErrorMode::Codes, kjfuzz::ErrorMode::Exceptions, kjfuzz::ErrorMode::Halt}) {
        kjfuzz::Session session(mode);
        try {
            Run(text);
        } catch (const TzCommon::ETzError&) {
        }
    }
    return 0;
}
