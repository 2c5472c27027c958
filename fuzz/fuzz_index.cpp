// libFuzzer target: a table with its multiple-index file. The input is the .dbf file,
// kPartMark, then the .mdx file. The index is opened over the table, every tag (a bounded
// number) walked both ways and searched, then records are appended, replaced and deleted
// with key maintenance.
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "index/tz_ndx.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace {

constexpr size_t kMaxInput = 128 * 1024;
constexpr int kTags = 8;
constexpr int kSteps = 40;

// The text of the first C field of the current record ("" when there is none).
std::string FirstText() {
    for (int f = 1; f <= Dbf4::FieldCount(); ++f)
        if (Dbf4::FieldType(f) == 'C') return Dbf4::Peek(Dbf4::RecNo(), f);
    return "";
}

void WalkTags() {
    const int tags = std::min(TzNdx::TagCount(), kTags);
    for (int t = 1; t <= tags; ++t) {
        (void)TzNdx::TagText(t);
        (void)TzNdx::TagForCondition(t);
        TzNdx::Set_Order_To(t);
        kjfuzz::WalkOrder(kSteps);
        Dbf4::Go(1);
        std::string key = FirstText();
        TzNdx::Find(key);
        TzNdx::Find(key.substr(0, key.size() / 2));
        TzNdx::FindNear("M");
        TzNdx::Find("");
        if (TzNdx::Found()) kjfuzz::ReadRecord();
    }
}

void SetText(const char* text) {
    for (int f = 1; f <= Dbf4::FieldCount(); ++f) {
        uint8_t* p = Dbf4::FieldAddress(f);
        if (!p || Dbf4::FieldType(f) != 'C') continue;
        int len = Dbf4::FieldLen(f);
        p[0] = uint8_t(len);
        std::memset(p + 1, ' ', size_t(len));
        std::memcpy(p + 1, text, std::min(std::strlen(text), size_t(len)));
    }
}

void Change() {
    if (TzNdx::TagCount() > 0) TzNdx::Set_Order_To(1);
    const char* texts[] = {"MIDDLE", "AAA", "ZZZ"};
    for (const char* text : texts) {
        Dbf4::ClearRecord();
        SetText(text);
        Dbf4::Append();
    }
    Dbf4::Go(1);
    Dbf4::Scatter();
    SetText("CHANGED");
    Dbf4::Replace();
    Dbf4::DeleteRec();
    kjfuzz::WalkOrder(kSteps);
}

void Run(const std::string& table, const std::string& index) {
    Dbf4::Select(1);
    Dbf4::Use(table);
    if (TzCommon::ErrorWord() != 0 || !Dbf4::Current()) return;
    TzNdx::SetIndexTo(index);
    if (TzCommon::ErrorWord() != 0) return;
    WalkTags();
    Dbf4::CloseArea();
    Dbf4::Use(table + " EXCLUSIVE");
    if (TzCommon::ErrorWord() != 0 || !Dbf4::Current()) return;
    TzNdx::SetIndexTo(index);
    if (TzCommon::ErrorWord() != 0) return;
    Change();
    Dbf4::CloseArea();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return -1;
    auto parts = kjfuzz::SplitParts(data, size, 2);
    if (parts.size() != 2) return -1;
    kjfuzz::Session session(size % 2 ? kjfuzz::ErrorMode::Exceptions : kjfuzz::ErrorMode::Codes);
    kjfuzz::ClearFolder();
    std::string table = kjfuzz::WriteFile("t.dbf", parts[0]);
    std::string index = kjfuzz::WriteFile("t.mdx", parts[1]);
    try {
        Run(table, index);
    } catch (const TzCommon::ETzError&) {
    }
    return 0;
}
