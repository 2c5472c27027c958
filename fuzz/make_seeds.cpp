// Writes the seed corpora of the fuzz targets: tables, memo files of each flavour and index
// files written by the engine itself, a few damaged copies of them, expression texts and the
// application's field and index lists. Usage: kj_fuzz_seeds <corpus folder>; each target's
// seeds go to <folder>/<target>/.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/kj_tables.h"
#include "fuzz/fuzz_support.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/memo.h"
#include "storage/tz_common.h"

namespace {

std::string g_out;

// The engine at its start-up state, stamping every file it writes with one fixed date, so
// that the seeds come out the same on every day they are written.
void ResetEngine() {
    kjfuzz::ResetEngine(kjfuzz::ErrorMode::Codes);
    TzCommon::SetStampDate(2026, 1, 2);
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(g_out + "/" + target);
    std::ofstream(g_out + "/" + target + "/" + name, std::ios::binary) << bytes;
}

// The targets of files run an input of odd size with exceptions, of even size with error
// codes: a sound file is seeded in both modes (one byte more after its end).
void SeedBoth(const std::string& target, const std::string& name, const std::string& bytes) {
    Seed(target, name, bytes);
    Seed(target, name + "-" + (bytes.size() % 2 ? "codes" : "exceptions"), bytes + '\0');
}

void SetC(int f, const std::string& v) {
    uint8_t* p = Dbf4::FieldAddress(f);
    int len = Dbf4::FieldLen(f);
    p[0] = uint8_t(len);
    std::memset(p + 1, ' ', size_t(len));
    std::memcpy(p + 1, v.data(), std::min(v.size(), size_t(len)));
}
void SetN(int f, double v) {
    if (Dbf4::FieldDec(f) > 0) {
        std::memcpy(Dbf4::FieldAddress(f), &v, 8);
    } else {
        int32_t i = int32_t(v);
        std::memcpy(Dbf4::FieldAddress(f), &i, 4);
    }
}
void SetD(int f, const std::string& text) {
    uint8_t* p = Dbf4::FieldAddress(f);
    p[0] = uint8_t(text.size());
    std::memcpy(p + 1, text.data(), text.size());
}

// A table NAME C(12), AMOUNT N(10,2), COUNT N(4), PRICE F(12,3), DAY D, OK L and, with a
// memo version byte, NOTES M; rows records, every third one deleted. Left open in area 1.
std::string MakeTable(const std::string& name, uint8_t memoVersion, int rows) {
    ResetEngine();
    std::vector<TzDbfLow::FieldDef> fields = {{"NAME", 'C', 12, 0}, {"AMOUNT", 'N', 10, 2},
                                              {"COUNT", 'N', 4, 0}, {"PRICE", 'F', 12, 3},
                                              {"DAY", 'D', 8, 0},   {"OK", 'L', 1, 0}};
    if (memoVersion) {
        TzDbfLow::settings().memoVersion = memoVersion;
        TzDbfLow::settings().memoBlockSize = memoVersion == Memo::kDbase4 ? 64 : 512;
        fields.push_back({"NOTES", 'M', 10, 0});
    }
    std::string path = kjfuzz::PathOf(name);
    Dbf4::WorkArea scratch;
    if (!TzDbfLow::CreateDbf(scratch, path, fields)) std::abort();
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    const char* names[] = {"Hansen", "Ærø", "jensen", "", "Olsen & Co", "ZZ"};
    for (int i = 1; i <= rows; ++i) {
        Dbf4::ClearRecord();
        SetC(1, names[i % 6] + std::to_string(i % 4));
        SetN(2, i * 12.5 - 40);
        SetN(3, i % 7);
        SetN(4, i / 3.0);
        char date[11];
        std::snprintf(date, sizeof date, "%02d-%02d-20%02d", 1 + i % 28, 1 + i % 12, i % 30);
        SetD(5, i % 5 == 4 ? "" : date);
        *Dbf4::FieldAddress(6) = uint8_t(i % 2);
        if (memoVersion && i % 4 != 3) {
            std::string text = "memo " + std::to_string(i) + "\r\nsecond line";
            if (i % 4 == 1) text += std::string(size_t(300 + i * 40), 'x');
            int32_t block = Memo::AddMemo(*Dbf4::Current(), text);
            std::memcpy(Dbf4::FieldAddress(7), &block, 4);
        }
        Dbf4::Append();
        if (i % 3 == 0) Dbf4::DeleteRec();
    }
    if (TzCommon::ErrorWord() != 0) std::abort();
    return path;
}

std::string With(std::string bytes, size_t at, const std::string& patch) {
    if (at + patch.size() <= bytes.size()) bytes.replace(at, patch.size(), patch);
    return bytes;
}

void TableSeeds() {
    struct {
        const char* name;
        uint8_t memo;
        int rows;
    } tables[] = {{"plain", 0, 9}, {"empty", 0, 0}, {"memo4", Memo::kDbase4, 5}};
    for (const auto& t : tables) {
        std::string path = MakeTable(std::string(t.name) + ".dbf", t.memo, t.rows);
        ResetEngine();
        std::string bytes = Read(path);
        SeedBoth("table", t.name, bytes);
        if (t.rows == 0) continue;
        // Damaged copies: cut in a record, no end mark, a count below the records, field
        // types and widths changed, a header length that splits a descriptor.
        Seed("table", std::string(t.name) + "-cut", bytes.substr(0, bytes.size() - 30));
        Seed("table", std::string(t.name) + "-noeof", bytes.substr(0, bytes.size() - 1));
        Seed("table", std::string(t.name) + "-count", With(bytes, 4, std::string("\x02\0\0\0", 4)));
        Seed("table", std::string(t.name) + "-type", With(With(bytes, 32 + 11, "D"), 64 + 11, "C"));
        Seed("table", std::string(t.name) + "-width", With(bytes, 32 + 16, "\xFF"));
        Seed("table", std::string(t.name) + "-hdrlen", With(bytes, 8, "\x50"));
    }
    Seed("table", "dbase2", With(Read(kjfuzz::PathOf("plain.dbf")), 0, "\x02"));
}

void MemoSeeds() {
    for (uint8_t flavour : {Memo::kDbase3, Memo::kDbase4, Memo::kFoxPro}) {
        std::string path = MakeTable("m.dbf", flavour, 6);
        std::string memoName = Memo::MemoFileName(path, flavour);
        ResetEngine();
        std::string table = Read(path), memo = Read(memoName);
        char tag[8];
        std::snprintf(tag, sizeof tag, "%02x", flavour);
        std::string mark(kjfuzz::kPartMark);
        SeedBoth("memo", tag, table + mark + memo);
        // Damaged memo files: cut short, a block header claiming a huge length, the next
        // free block pointing before the header.
        Seed("memo", std::string(tag) + "-cut", table + mark + memo.substr(0, memo.size() / 2));
        size_t block = flavour == Memo::kDbase4 ? 64 : 512;
        Seed("memo", std::string(tag) + "-length",
             table + mark + With(memo, block + 4, "\xF0\xFF\xFF\x00"));
        Seed("memo", std::string(tag) + "-next",
             table + mark + With(memo, 0, std::string("\0\0\0\0", 4)));
    }
}

void IndexSeeds() {
    std::string path = MakeTable("x.dbf", 0, 40);
    bool built = TzNdx::MakeIndex({{"NAME", "UPPER(NAME)", "", false, false},
                                   {"AMOUNT", "AMOUNT", "", true, false},
                                   {"DAY", "DAY", "", false, false},
                                   {"MIXED", "DTOS(DAY)+NAME", "OK", false, true},
                                   {"COUNT", "STR(COUNT,4)+NAME", "COUNT > 2", false, false}},
                                  "x.mdx");
    if (!built) std::abort();
    ResetEngine();
    std::string table = Read(path), mdx = Read(kjfuzz::PathOf("x.mdx"));
    std::string mark(kjfuzz::kPartMark);
    SeedBoth("index", "five-tags", table + mark + mdx);
    Seed("index", "cut", table + mark + mdx.substr(0, mdx.size() - 700));
    Seed("index", "fewer-records", With(table, 4, std::string("\x05\0\0\0", 4)) + mark + mdx);
    Seed("index", "root-zero", table + mark + With(mdx, 1024, std::string("\0\0\0\0", 4)));
    Seed("index", "tag-table", table + mark + With(mdx, 544 + 8, "\xFF\xFF"));
    MakeTable("y.dbf", 0, 3);
    if (!TzNdx::MakeIndex({{"NAME", "NAME", "", false, false}}, "y.mdx")) std::abort();
    ResetEngine();
    SeedBoth("index", "one-tag",
             Read(kjfuzz::PathOf("y.dbf")) + mark + Read(kjfuzz::PathOf("y.mdx")));
}

void ExprSeeds() {
    const char* texts[] = {
        "UPPER(NAME)+DTOS(DAY)",
        "AMOUNT * 2 + COUNT / 3 - PRICE ^ 2",
        "IIF(OK, 'ja', 'nej') + SUBSTR(NAME, 2, 3)",
        "DAY + 30 > CTOD('01-01-2024') .AND. .NOT. DELETED()",
        "STR(AMOUNT, 12, 2) + LTRIM(STR(COUNT))",
        "'han' $ LOWER(NAME) .OR. RECNO() = 2",
        "VAL('12.50') + YEAR(DAY) + MONTH(DAY) + DAY(DAY)",
        "TRIM(NOTES) + RIGHT(NAME, 4)",
        "-2^2 + 0^2 - (3 % 2)",
        "DTOC(DATE()) + CDOW(DAY) + CMONTH(DAY)",
        "ABS(-AMOUNT) >= MAX(PRICE, 1) .AND. MIN(COUNT, 3) <> 0",
        "NAME = 'Hans' .AND. NAME == 'Hansen    '",
        "SPACE(5) + REPLICATE('ab', 3) + CHR(65) + STR(ASC('A'))",
        "OK .AND. X",
        "((((((((((1))))))))))",
        "\"unterminated",
    };
    int i = 0;
    for (const char* t : texts) Seed("expr", "e" + std::to_string(++i), t);
}

void FieldSeeds() {
    int i = 0;
    for (const kj::TableSpec& t : kj::Tables()) {
        std::string text;
        for (const std::string& f : t.DbfFields()) text += f + "\n";
        text += "%%\n";
        for (const std::string& l : t.tags) text += l + "\n";
        Seed("fields", "app" + std::to_string(++i), text);
        if (i == 6) break;
    }
    Seed("fields", "corrections",
         "name, N, 25, 24\nmemo, M, 10, 0\nlong, C, 300, 0\nodd, Q, 5, 1\nx, X, 1, 0\n"
         "flag, L, 1, 0\n%%\nNAME,T,F,UPPER(NAME)\n.NOT. DELETED()\nODD,F,T,STR(ODD)+LONG\n\n");
    Seed("fields", "broken", "a, C, 10\n,,,\n%%\nONLY-ONE-LINE");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus folder>\n", argv[0]);
        return 2;
    }
    g_out = argv[1];
    TableSeeds();
    MemoSeeds();
    IndexSeeds();
    ExprSeeds();
    FieldSeeds();
    ResetEngine();
    return 0;
}
