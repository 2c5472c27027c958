#include "bench/bench_tables.h"

#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "storage/dbf4.h"
#include "storage/file_layer.h"

namespace kjbench {

std::vector<TzDbfLow::FieldDef> PostingsLayout() {
    return {{"POST_SAG", 'C', 10, 0},  {"POST_TMU", 'C', 10, 0},   {"POST_ANTAL", 'N', 10, 2},
            {"POST_PRIS", 'F', 20, 2}, {"POST_MOMS", 'F', 10, 2},  {"POST_RABAT", 'F', 20, 2},
            {"POST_BEM", 'C', 32, 0},  {"POST_ANS", 'C', 5, 0},    {"POST_OPRET", 'D', 10, 0},
            {"POST_AJOUR", 'D', 10, 0}, {"POST_INI", 'C', 5, 0},   {"POST_FNR", 'C', 16, 0},
            {"POST_DK", 'C', 1, 0},    {"POST_OVER", 'L', 1, 0},   {"POST_DATO", 'D', 10, 0},
            {"POST_PRI", 'N', 5, 0},   {"FILLER", 'C', 17, 0}};
}

const std::vector<TagText>& PostingsTags() {
    static const std::vector<TagText> tags = {
        {"POSTSAG", "UPPER(POST_SAG)+DTOS(POST_DATO)"},
        {"POSTANS", "UPPER(POST_ANS)+DTOS(POST_DATO)"},
        {"POSTTMU", "UPPER(POST_SAG)+STR(100000+POST_PRI,6)+UPPER(POST_TMU)+DTOS(POST_DATO)"},
        {"POSTFNR", "POST_FNR+UPPER(POST_SAG)+DTOS(POST_DATO)"},
        {"POSTSANS", "UPPER(POST_SAG)+UPPER(POST_ANS)+STR(100000+POST_PRI,6)+DTOS(POST_DATO)"},
    };
    return tags;
}

BenchDir::BenchDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/kj-bench-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back(0);
    path_ = mkdtemp(buf.data()) ? buf.data() : "/tmp";
}

BenchDir::~BenchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

namespace {

void Field(char* rec, int& off, const std::string& text, int len, bool right = false) {
    std::string v = text.substr(0, size_t(len));
    std::string pad(size_t(len) - v.size(), ' ');
    std::memcpy(rec + off, (right ? pad + v : v + pad).data(), size_t(len));
    off += len;
}

}  // namespace

void MakePostings(const std::string& path, int n) {
    Dbf4::WorkArea scratch;
    TzDbfLow::CreateDbf(scratch, path, PostingsLayout());
    tz::File f;
    f.Open(path, tz::Access::ReadWrite, tz::ShareMode::Exclusive);
    const int hl = 32 * 17 + 33, rl = 187;
    std::vector<char> block;
    const int per = 4096;
    char rec[187];
    for (int start = 0; start < n; start += per) {
        int count = std::min(per, n - start);
        block.resize(size_t(count) * rl);
        for (int k = 0; k < count; ++k) {
            int i = start + k + 1;
            int off = 0;
            rec[off++] = ' ';
            char buf[64];
            std::snprintf(buf, sizeof buf, "S%06d", (i * 7919) % 20000);
            Field(rec, off, buf, 10);
            std::snprintf(buf, sizeof buf, "V%04d", i % 500);
            Field(rec, off, buf, 10);
            Field(rec, off, "1.50", 10, true);
            Field(rec, off, "450.00", 20, true);
            Field(rec, off, "25.00", 10, true);
            Field(rec, off, "0.00", 20, true);
            Field(rec, off, "Opmaaling og skelfastsaettelse", 32);
            std::snprintf(buf, sizeof buf, "A%02d", i % 40);
            Field(rec, off, buf, 5);
            Field(rec, off, "20260101", 8);
            Field(rec, off, "20260102", 8);
            Field(rec, off, "KJ", 5);
            Field(rec, off, "", 16);
            Field(rec, off, "D", 1);
            Field(rec, off, "F", 1);
            std::snprintf(buf, sizeof buf, "2026%02d%02d", 1 + i % 12, 1 + i % 28);
            Field(rec, off, buf, 8);
            std::snprintf(buf, sizeof buf, "%d", i % 9);
            Field(rec, off, buf, 5, true);
            Field(rec, off, "", 17);
            std::memcpy(block.data() + size_t(k) * rl, rec, rl);
        }
        f.WriteAt(uint64_t(hl) + uint64_t(start) * rl, block.data(), block.size());
    }
    uint8_t hdr[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    f.WriteAt(4, hdr, 4);
    uint8_t eof = 0x1A;
    f.WriteAt(uint64_t(hl) + uint64_t(n) * rl, &eof, 1);
    f.Close();
}

void FillPosting(int i) {
    // The first time, the whole record; then only the case number and priority change.
    static bool filled = false;
    auto setC = [](int field, const char* v, size_t n) {
        uint8_t* p = Dbf4::FieldAddress(field);
        int len = Dbf4::FieldLen(field);
        p[0] = uint8_t(len);
        std::memset(p + 1, ' ', size_t(len));
        std::memcpy(p + 1, v, std::min(n, size_t(len)));
    };
    auto setF = [](int field, double v) { std::memcpy(Dbf4::FieldAddress(field), &v, 8); };
    if (!filled) {
        setC(2, "V0042", 5);
        setF(3, 1.5);
        setF(4, 450.0);
        setF(5, 25.0);
        setF(6, 0.0);
        setC(7, "Opmaaling", 9);
        setC(8, "KJ", 2);
        filled = true;
    }
    char buf[8] = {'S', '0', '0', '0', '0', '0', '0', 0};
    for (int k = 6, v = i % 20000; k >= 1; --k, v /= 10) buf[k] = char('0' + v % 10);
    setC(1, buf, 7);
    int32_t pri = i % 9;
    std::memcpy(Dbf4::FieldAddress(16), &pri, 4);
}

}  // namespace kjbench
