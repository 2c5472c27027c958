// Index files read back by an independent reader: Perl's XBase::Index lists the keys of tags
// that this engine built and changed, in the same order with the same record numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "tests/index/mdx_test_util.h"
#include "tests/support/test_support.h"

using namespace mdxtest;

namespace {

std::string Hex(const std::string& s) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A dBASE table with the fields NAVN C(10) and DATO D(8).
void WriteDbf(const std::string& path,
              const std::vector<std::pair<std::string, std::string>>& rows) {
    std::string h(32, '\0');
    h[0] = 0x03;
    h[1] = 124, h[2] = 3, h[3] = 15;
    Mdx::Put32(reinterpret_cast<uint8_t*>(&h[4]), uint32_t(rows.size()));
    Mdx::Put16(reinterpret_cast<uint8_t*>(&h[8]), 32 + 2 * 32 + 1);
    Mdx::Put16(reinterpret_cast<uint8_t*>(&h[10]), 1 + 10 + 8);
    auto field = [](const char* name, char type, int len) {
        std::string f(32, '\0');
        f.replace(0, std::strlen(name), name);
        f[11] = type;
        f[16] = char(len);
        return f;
    };
    std::string out = h + field("NAVN", 'C', 10) + field("DATO", 'D', 8) + "\r";
    for (const auto& [navn, dato] : rows) out += " " + CharKey(navn, 10) + dato;
    out += '\x1a';
    kjtest::WriteFile(path, out);
}

std::vector<std::string> PerlList(const std::string& mdx, const std::string& tag) {
    std::string script =
        "my $i = XBase::Index->new($ARGV[0], tag => $ARGV[1]) or die XBase::Index->errstr;"
        " $i->prepare_select or die $i->errstr;"
        " while (my ($k, $v) = $i->fetch) { print unpack(\"H*\", $k), \" \", $v, \"\\n\" }"
        " die $i->errstr if $i->errstr;";
    std::string out;
    int rc =
        kjtest::RunCommand("perl -MXBase::Index -e '" + script + "' '" + mdx + "' " + tag, &out);
    EXPECT_EQ(rc, 0) << out;
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(MdxFiles, PerlXBaseReadsBuiltAndChangedTags) {
    TzCommon::ResetErrorState();
    TzCommon::SetErrorHook([] {});
    kjtest::TempDir dir;
    const uint32_t seed = 4242;
    std::printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    std::vector<std::pair<std::string, std::string>> rows;
    std::vector<std::string> dateKeys;
    for (int i = 0; i < 300; ++i) {
        std::string navn;
        int len = 3 + int(rng() % 7);
        for (int k = 0; k < len; ++k) navn += char('A' + rng() % 26);
        int y = 1990 + int(rng() % 30), m = 1 + int(rng() % 12), d = 1 + int(rng() % 28);
        char dato[9];
        std::snprintf(dato, sizeof dato, "%04d%02d%02d", y, m, d);
        rows.emplace_back(navn, dato);
        double day = 1721425.0 + y * 365.25 + m * 31 + d;  // monotone in the date
        std::string key(8, '\0');
        std::memcpy(key.data(), &day, 8);
        dateKeys.push_back(key);
    }
    WriteDbf(dir.file("kunde.dbf"), rows);

    // The first 200 records are built in bulk, the rest inserted one by one; then 40
    // records are removed again.
    Mdx::MdxFile f;
    NewFile(f, dir.file("kunde.mdx"), dir.file("kunde.dbf"));
    std::vector<std::pair<std::string, uint32_t>> names, dates;
    for (uint32_t r = 1; r <= 200; ++r) {
        names.emplace_back(CharKey(rows[r - 1].first, 10), r);
        dates.emplace_back(dateKeys[r - 1], r);
    }
    std::stable_sort(names.begin(), names.end());
    std::stable_sort(dates.begin(), dates.end(), [](const auto& a, const auto& b) {
        return Mdx::CompareDateKeys(U(b.first), U(a.first), 8) < 0;  // descending tag
    });
    AddTag(f, "NAVN", 'C', 10, names);
    AddTag(f, "DATO", 'D', 8, dates, /*descending=*/true);
    Mdx::MdxTag navn, dato;
    ASSERT_EQ(navn.Open(&f, 1, Mdx::CompareCharKeys), 0);
    ASSERT_EQ(dato.Open(&f, 2, Mdx::CompareDateKeys), 0);
    for (uint32_t r = 201; r <= 300; ++r) {
        ASSERT_EQ(navn.Insert(U(CharKey(rows[r - 1].first, 10)), r), 0);
        ASSERT_EQ(dato.Insert(U(dateKeys[r - 1]), r), 0);
    }
    for (int i = 0; i < 40; ++i) {
        uint32_t r = 1 + uint32_t(rng() % 300);
        bool found = false;
        ASSERT_EQ(navn.Remove(U(CharKey(rows[r - 1].first, 10)), r, &found), 0);
        ASSERT_EQ(dato.Remove(U(dateKeys[r - 1]), r, &found), 0);
    }
    ASSERT_EQ(f.Close(), 0);
    ASSERT_EQ(f.Open(dir.file("kunde.mdx"), tz::Access::ReadWrite, tz::ShareMode::DenyNone), 0);
    ASSERT_EQ(navn.Open(&f, 1, Mdx::CompareCharKeys), 0);
    ASSERT_EQ(dato.Open(&f, 2, Mdx::CompareDateKeys), 0);

    for (Mdx::MdxTag* t : {&navn, &dato}) {
        const bool isName = t == &navn;
        std::vector<std::string> ours;
        std::string previous;
        for (t->First(); t->OnEntry(); t->Next()) {
            std::string key(reinterpret_cast<const char*>(t->Key()), size_t(t->KeyLength()));
            // Each entry is its record's key, in tag order.
            const uint32_t r = t->RecNo();
            ASSERT_GE(r, 1u);
            ASSERT_LE(r, 300u);
            EXPECT_EQ(key, isName ? CharKey(rows[r - 1].first, 10) : dateKeys[r - 1]);
            if (!previous.empty()) {
                EXPECT_LE(t->Compare(U(previous), U(key), key.size()), 0);
            }
            previous = key;
            ours.push_back(Hex(key) + " " + std::to_string(r));
        }
        EXPECT_GE(ours.size(), 260u);
        EXPECT_EQ(PerlList(dir.file("kunde.mdx"), isName ? "NAVN" : "DATO"), ours);
    }

    // index_dump, the module's own listing tool, shows the same number of keys.
    std::string out;
    ASSERT_EQ(kjtest::RunCommand("index_dump '" + dir.file("kunde.mdx") + "' NAVN", &out), 0);
    size_t walked = 0;
    for (navn.First(); navn.OnEntry(); navn.Next()) ++walked;
    EXPECT_EQ(size_t(std::count(out.begin(), out.end(), '\n')), walked);
}

}  // namespace
