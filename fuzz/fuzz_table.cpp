// libFuzzer target: a table file. The input is the .dbf file; it is opened shared and read
// (every field of a bounded number of records, both ways, jumps, Search and Locate), then
// opened exclusively and changed (replace, append, delete, recall, Poke).
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int kSteps = 48;

bool Open(const std::string& path, const char* mode) {
    Dbf4::Select(1);
    Dbf4::Use(path + mode);
    return TzCommon::ErrorWord() == 0 && Dbf4::Current() != nullptr;
}

void Read() {
    for (int f = 1; f <= Dbf4::FieldCount(); ++f) {
        (void)Dbf4::Field(f);
        (void)Dbf4::FieldType(f);
        (void)Dbf4::FieldLen(f);
        (void)Dbf4::FieldDec(f);
    }
    kjfuzz::WalkOrder(kSteps);
    const int32_t count = Dbf4::RecCount();
    for (int64_t n :
         {int64_t(1), int64_t(count / 2), int64_t(count), count + int64_t(1), int64_t(0)}) {
        if (n > INT32_MAX) continue;
        Dbf4::Go(int32_t(n));
        kjfuzz::ReadRecord();
    }
    for (int f = 1; f <= Dbf4::FieldCount(); ++f) (void)Dbf4::Peek(count, f);
    uint8_t field = 0;
    Dbf4::Search("e", field, true);
    if (Dbf4::FieldCount() > 0) {
        std::vector<Dbf4::LocateValue> values = {std::string("A")};
        if (Dbf4::Locate(Dbf4::Field(1) + " NOCASE", values)) (void)Dbf4::Continue();
    }
}

// Stores a value of its own type into each field of the native record.
void Fill(int seed) {
    for (int f = 1; f <= Dbf4::FieldCount(); ++f) {
        uint8_t* p = Dbf4::FieldAddress(f);
        if (!p) continue;
        switch (Dbf4::FieldType(f)) {
            case 'C': {
                int len = Dbf4::FieldLen(f);
                p[0] = uint8_t(len);
                std::memset(p + 1, 'a' + seed % 26, size_t(len));
                break;
            }
            case 'N':
            case 'F':
                if (Dbf4::FieldDec(f) > 0) {
                    double v = seed * 1.25;
                    std::memcpy(p, &v, sizeof v);
                } else {
                    int32_t v = seed * 7;
                    std::memcpy(p, &v, sizeof v);
                }
                break;
            case 'D':
                p[0] = 10;
                std::memcpy(p + 1, "05-06-2024", 10);
                break;
            case 'L':
                p[0] = uint8_t(seed & 1);
                break;
            default:
                break;
        }
    }
}

void Change() {
    const int32_t count = Dbf4::RecCount();
    if (count > 0) {
        Dbf4::Go(1);
        Dbf4::Scatter();
        Fill(3);
        Dbf4::Replace();
        Dbf4::DeleteRec();
        Dbf4::RecallRec();
        (void)Dbf4::Poke("7", 1, count);
    }
    for (int i = 0; i < 2; ++i) {
        Dbf4::ClearRecord();
        Fill(i);
        Dbf4::Append();
    }
    Dbf4::GoTop();
    kjfuzz::ReadRecord();
}

void Run(const std::string& path) {
    if (Open(path, "")) {
        Read();
        Dbf4::CloseArea();
    }
    if (Open(path, " EXCLUSIVE")) {
        Read();
        Change();
        Dbf4::CloseArea();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return -1;
    // Odd sizes run with exceptions, even ones with error codes.
    kjfuzz::Session session(size % 2 ? kjfuzz::ErrorMode::Exceptions : kjfuzz::ErrorMode::Codes);
    kjfuzz::ClearFolder();
    std::string path =
        kjfuzz::WriteFile("t.dbf", std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        Run(path);
    } catch (const TzCommon::ETzError&) {
    }
    return 0;
}
