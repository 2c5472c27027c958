#include "tests/support/postings_table.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"

namespace kjtest {

std::vector<TzDbfLow::FieldDef> PostingsLayout() {
    return {{"POST_SAG", 'C', 10, 0},   {"POST_TMU", 'C', 10, 0},  {"POST_ANTAL", 'N', 10, 2},
            {"POST_PRIS", 'F', 20, 2},  {"POST_MOMS", 'F', 10, 2}, {"POST_RABAT", 'F', 20, 2},
            {"POST_BEM", 'C', 32, 0},   {"POST_ANS", 'C', 5, 0},   {"POST_OPRET", 'D', 10, 0},
            {"POST_AJOUR", 'D', 10, 0}, {"POST_INI", 'C', 5, 0},   {"POST_FNR", 'C', 16, 0},
            {"POST_DK", 'C', 1, 0},     {"POST_OVER", 'L', 1, 0},  {"POST_DATO", 'D', 10, 0},
            {"POST_PRI", 'N', 5, 0},    {"FILLER", 'C', 17, 0}};
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

namespace {

void Field(char* rec, int& off, const std::string& text, int len, bool right = false) {
    std::string v = text.substr(0, size_t(len));
    std::string pad(size_t(len) - v.size(), ' ');
    std::memcpy(rec + off, (right ? pad + v : v + pad).data(), size_t(len));
    off += len;
}

struct Ymd {
    int y, m, d;
};

// Civil date of a day number counted from 1 January 2014.
Ymd DayToDate(int day) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    Ymd r{2014, 1, 1};
    for (;;) {
        const bool leap = r.y % 4 == 0 && (r.y % 100 != 0 || r.y % 400 == 0);
        const int yearDays = leap ? 366 : 365;
        if (day < yearDays) break;
        day -= yearDays;
        ++r.y;
    }
    const bool leap = r.y % 4 == 0 && (r.y % 100 != 0 || r.y % 400 == 0);
    for (int m = 0; m < 12; ++m) {
        const int len = kDays[m] + (m == 1 && leap ? 1 : 0);
        if (day < len) {
            r.m = m + 1;
            r.d = day + 1;
            break;
        }
        day -= len;
    }
    return r;
}

std::string Stored(const Ymd& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", d.y, d.m, d.d);
    return buf;
}

// One posting as the application writes them: postings come in date order (about 300 a
// day over twelve years), on one of 20,000 cases, by one of 40 employees, a fee code, and
// from about a month after their date an invoice number shared by the case's postings of
// that month (the newest fifth is not invoiced yet).
struct Posting {
    char sag[8], tmu[8], ans[4], fnr[12], bem[32];
    int pri;
    double antal, pris;
    Ymd dato, opret;
};

Posting MakePosting(int i) {
    Posting p{};
    const unsigned h = unsigned(i) * 2654435761u;
    const int sag = int(h % 20000u);
    std::snprintf(p.sag, sizeof p.sag, "S%06d", sag);
    std::snprintf(p.tmu, sizeof p.tmu, "V%04d", int((h >> 7) % 500u));
    const int emp = int((h >> 13) % 40u);
    p.ans[0] = char('A' + emp % 26);
    p.ans[1] = char('A' + (emp * 7 + 3) % 26);
    p.ans[2] = emp >= 26 ? char('A' + emp % 5) : 0;
    const int day = (i / 300 + int((h >> 17) % 5u)) % 4380;
    p.dato = DayToDate(day);
    p.opret = DayToDate(day + int((h >> 3) % 3u));
    if (int((h >> 21) % 5u) != 0)
        std::snprintf(p.fnr, sizeof p.fnr, "%08d", 10000000 + sag * 144 + day / 30);
    static const char* const kTexts[] = {"Opmaaling og skelfastsaettelse",
                                         "Udstykning",
                                         "Kortudarbejdelse",
                                         "Afsaetning af hus",
                                         "Tinglysning",
                                         "Koersel"};
    std::snprintf(p.bem, sizeof p.bem, "%s", kTexts[(h >> 11) % 6u]);
    p.pri = int((h >> 9) % 9u);
    p.antal = 0.25 * (1 + int((h >> 5) % 32u));
    p.pris = 400.0 + 25.0 * int((h >> 15) % 9u);
    return p;
}

std::string Money(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f", v);
    return buf;
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
            const Posting p = MakePosting(start + k + 1);
            int off = 0;
            rec[off++] = ' ';
            Field(rec, off, p.sag, 10);
            Field(rec, off, p.tmu, 10);
            Field(rec, off, Money(p.antal), 10, true);
            Field(rec, off, Money(p.pris), 20, true);
            Field(rec, off, Money(p.antal * p.pris * 0.25), 10, true);
            Field(rec, off, "0.00", 20, true);
            Field(rec, off, p.bem, 32);
            Field(rec, off, p.ans, 5);
            Field(rec, off, Stored(p.opret), 8);
            Field(rec, off, Stored(p.opret), 8);
            Field(rec, off, p.ans, 5);
            Field(rec, off, p.fnr, 16);
            Field(rec, off, "D", 1);
            Field(rec, off, "F", 1);
            Field(rec, off, Stored(p.dato), 8);
            Field(rec, off, std::to_string(p.pri), 5, true);
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
    // Every field the application sets, each row with its own values.
    auto setC = [](int field, const char* v) {
        uint8_t* p = Dbf4::FieldAddress(field);
        int len = Dbf4::FieldLen(field);
        p[0] = uint8_t(len);
        std::memset(p + 1, ' ', size_t(len));
        std::memcpy(p + 1, v, std::min(std::strlen(v), size_t(len)));
    };
    auto setF = [](int field, double v) { std::memcpy(Dbf4::FieldAddress(field), &v, 8); };
    auto setD = [](int field, const Ymd& d) {
        const std::string text = TimeDate::DateFrom(d.y, d.m, d.d);
        uint8_t* p = Dbf4::FieldAddress(field);
        std::memset(p, 0, 11);
        p[0] = uint8_t(std::min<size_t>(text.size(), 10));
        std::memcpy(p + 1, text.data(), p[0]);
    };
    const Posting p = MakePosting(i);
    setC(1, p.sag);
    setC(2, p.tmu);
    setF(3, p.antal);
    setF(4, p.pris);
    setF(5, p.antal * p.pris * 0.25);
    setF(6, 0.0);
    setC(7, p.bem);
    setC(8, p.ans);
    setD(9, p.opret);
    setD(10, p.opret);
    setC(11, p.ans);
    setC(12, p.fnr);
    setC(13, "D");
    *Dbf4::FieldAddress(14) = 0;
    setD(15, p.dato);
    std::memcpy(Dbf4::FieldAddress(16), &p.pri, 4);
}

int ReadPostingField() {
    // The case number's first digits, as a scan that groups by case looks at them.
    const uint8_t* p = Dbf4::FieldAddress(1);
    return p[2] + p[3];
}

}  // namespace kjtest
