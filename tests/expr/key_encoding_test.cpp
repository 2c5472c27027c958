// Numeric key bytes and ordering, date keys and texts, the sound code and byte helpers.
#include "expr/key_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "storage/dates.h"

namespace {

using namespace TzKey;

BcdKey Bcd(const char* text, int decimals) {
    BcdKey k;
    TextToBcd(k.b, text, std::strlen(text), decimals);
    return k;
}

TEST(BcdKey, ByteLayout) {
    BcdKey a = Bcd("123.45", 2);
    EXPECT_EQ(a.b[0], 55);
    EXPECT_EQ(a.b[1], (5 << 2) | 1);
    EXPECT_EQ(a.b[2], 0x12);
    EXPECT_EQ(a.b[3], 0x34);
    EXPECT_EQ(a.b[4], 0x50);
    for (int i = 5; i < 12; ++i) EXPECT_EQ(a.b[i], 0);

    BcdKey h = Bcd("100", 0);
    EXPECT_EQ(h.b[0], 55);
    EXPECT_EQ(BcdDigitCount(h.b), 10);
    EXPECT_EQ(h.b[2], 0x10);
    EXPECT_EQ(h.b[3], 0x00);

    BcdKey small = Bcd("0.005", 3);
    EXPECT_EQ(small.b[0], 50);
    EXPECT_EQ(small.b[2], 0x50);

    BcdKey neg = Bcd("  -12", 0);
    EXPECT_EQ(neg.b[1] & kBcdSignBit, kBcdSignBit);
    EXPECT_EQ(neg.b[0], 54);

    // Every way of writing zero gives the one zero key, never negative.
    const uint8_t zero[12] = {52, 1};
    for (const char* z : {"-0", "0", "0.00", "  ", "-0.000", "+0"}) {
        BcdKey k = Bcd(z, 2);
        EXPECT_EQ(std::memcmp(k.b, zero, 12), 0) << z;
    }
    BcdKey d0;
    DoubleToBcd(d0.b, 2, 0.0);
    EXPECT_EQ(std::memcmp(d0.b, zero, 12), 0);
    DoubleToBcd(d0.b, 2, -0.0);
    EXPECT_EQ(std::memcmp(d0.b, zero, 12), 0);

    // More than 20 digits are cut; the count never exceeds 20.
    BcdKey big = Bcd("123456789012345678911234", 0);
    EXPECT_EQ(BcdDigitCount(big.b), 20);
    EXPECT_EQ(big.b[0], 52 + 20);
    EXPECT_EQ(big.b[11], 0x91);
    // Trailing zeros of a whole number are not counted (but at least 10 are).
    EXPECT_EQ(BcdDigitCount(Bcd("1234567890123456780000", 0).b), 18);
}

TEST(BcdKey, OrderAgreesWithNumbers) {
    EXPECT_GT(CompareBcd(Bcd("-5", 0).b, Bcd("-50", 0).b), 0);
    EXPECT_LT(CompareBcd(Bcd("-0.001", 3).b, Bcd("0", 0).b), 0);
    EXPECT_LT(CompareBcd(Bcd("0", 0).b, Bcd("0.001", 3).b), 0);
    EXPECT_EQ(CompareBcd(Bcd("1.5", 2).b, Bcd("1.50", 2).b), 0);
    EXPECT_EQ(CompareBcd(Bcd("100", 0).b, Bcd("100.00", 2).b), 0);

    // Random values through DoubleToBcd sort exactly like the rounded numbers.
    unsigned seed = 20240611;
    std::printf("BcdKey order seed %u\n", seed);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> exp(-6, 12);
    std::uniform_real_distribution<double> mant(-1.0, 1.0);
    std::vector<double> values;
    for (int i = 0; i < 3000; ++i) {
        double v = mant(rng) * std::pow(10.0, exp(rng));
        values.push_back(std::round(v * 100) / 100);
    }
    values.push_back(0);
    values.push_back(-0.01);
    values.push_back(0.01);
    for (size_t i = 0; i + 1 < values.size(); ++i) {
        BcdKey a, b;
        DoubleToBcd(a.b, 2, values[i]);
        DoubleToBcd(b.b, 2, values[i + 1]);
        int expect = values[i] < values[i + 1] ? -1 : values[i] > values[i + 1] ? 1 : 0;
        int got = CompareBcd(a.b, b.b);
        got = got < 0 ? -1 : got > 0 ? 1 : 0;
        ASSERT_EQ(got, expect) << values[i] << " vs " << values[i + 1];
        ASSERT_EQ(-got, [&] {
            int r = CompareBcd(b.b, a.b);
            return r < 0 ? -1 : r > 0 ? 1 : 0;
        }());
    }
    EXPECT_EQ(CompareDouble(1, 2), -1);
    EXPECT_EQ(CompareDouble(2, 1), 1);
    EXPECT_EQ(CompareDouble(kBlankDate, kBlankDate), 0);
    EXPECT_LT(CompareBytes("AB", "AC", 2), 0);
    EXPECT_EQ(CompareBytes("\xff", "\x01", 1), 0xFE);
}

TEST(NumberText, DecimalTextRoundingAndParsing) {
    char buf[640];
    auto fmt = [&](double x, int d, bool up) {
        int n = FormatDecimal(x, d, up, buf, sizeof buf);
        return n < 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
    };
    EXPECT_EQ(fmt(3.14159, 2, true), "3.14");
    EXPECT_EQ(fmt(2.5, 0, true), "3");
    EXPECT_EQ(fmt(-2.5, 0, true), "-3");
    EXPECT_EQ(fmt(1.005, 2, true), "1.01");
    EXPECT_EQ(fmt(1.15, 2, false), "1.15");
    EXPECT_EQ(fmt(2.567, 2, false), "2.56");
    EXPECT_EQ(fmt(-2.567, 1, false), "-2.5");
    EXPECT_EQ(fmt(9.999, 2, true), "10.00");
    EXPECT_EQ(fmt(0.001, 3, true), "0.001");
    EXPECT_EQ(fmt(-0.001, 2, true), "0.00");
    EXPECT_EQ(fmt(123456, 0, true), "123456");
    EXPECT_EQ(fmt(1e20, 1, true), "100000000000000000000.0");
    EXPECT_EQ(fmt(0.5, 0, true), "1");
    EXPECT_EQ(fmt(0.4, 0, true), "0");
    EXPECT_EQ(FormatDecimal(1e300, 2, true, buf, 10), -1);

    EXPECT_DOUBLE_EQ(ParseNumber("  12.50", 7), 12.5);
    EXPECT_DOUBLE_EQ(ParseNumber("-3E2", 4), -300);
    EXPECT_DOUBLE_EQ(ParseNumber("1E", 2), 1);
    EXPECT_DOUBLE_EQ(ParseNumber("12abc", 5), 12);
    EXPECT_DOUBLE_EQ(ParseNumber("abc", 3), 0);
    EXPECT_DOUBLE_EQ(ParseNumber("          ", 10), 0);
    EXPECT_DOUBLE_EQ(ParseNumber("0.1", 3), 0.1);
    EXPECT_DOUBLE_EQ(ParseNumber("1234567890.12345", 16), 1234567890.12345);
}

TEST(DateKeys, DayNumbersAgreeWithJulianDays) {
    EXPECT_EQ(DaysBeforeYear(2000) + DayOfYear(2000, 3, 1) + 1721425,
              static_cast<long>(YmdToDayNumber(2000, 3, 1)));
    EXPECT_EQ(DayOfYear(1900, 2, 29), -1);
    EXPECT_EQ(DayOfYear(2000, 2, 29), 60);
    EXPECT_EQ(DayOfYear(2026, 4, 31), -1);
    EXPECT_EQ(YmdToDayNumber(2026, 13, 1), kBlankDate);
    EXPECT_EQ(DateFieldToDayNumber("        "), kBlankDate);
    EXPECT_EQ(DateFieldToDayNumber("20260230"), kBlankDate);
    EXPECT_EQ(DateFieldToDayNumber("20000101"), 2451545.0);

    // Every day from 1600 to 2400 through the engine's own Julian day routine, and back.
    for (int y = 1600; y <= 2400; y += 1) {
        for (int m = 1; m <= 12; ++m) {
            for (int d : {1, 15, 28}) {
                double dn = YmdToDayNumber(y, m, d);
                ASSERT_EQ(dn, TimeDate::JulianDay(y, m, d)) << y << "-" << m << "-" << d;
                int yy, mm, dd;
                ASSERT_TRUE(DayNumberToYmd(dn, &yy, &mm, &dd));
                ASSERT_EQ(yy * 10000 + mm * 100 + dd, y * 10000 + m * 100 + d);
            }
        }
    }
    int y, m, d;
    ASSERT_TRUE(DayNumberToYmd(YmdToDayNumber(2000, 12, 31), &y, &m, &d));
    EXPECT_EQ(m * 100 + d, 1231);
    ASSERT_TRUE(DayNumberToYmd(YmdToDayNumber(1, 1, 1), &y, &m, &d));
    EXPECT_EQ(y * 10000 + m * 100 + d, 10101);
    EXPECT_FALSE(DayNumberToYmd(kBlankDate, &y, &m, &d));
    EXPECT_EQ(DayNumberToDow(YmdToDayNumber(2000, 1, 1)), 7);
    EXPECT_EQ(DayNumberToDow(YmdToDayNumber(2026, 3, 1)), 1);
    EXPECT_EQ(DayNumberToDow(kBlankDate), 0);
}

TEST(DateKeys, DtosAndDtocTexts) {
    char out[16];
    DayNumberToDtos(YmdToDayNumber(2026, 3, 1), out);
    EXPECT_STREQ(out, "20260301");
    DayNumberToDtos(kBlankDate, out);
    EXPECT_STREQ(out, "        ");
    DayNumberToDtos(kDayNumberBase, out);
    EXPECT_STREQ(out, "        ");
    DayNumberToDtos(kLastDayNumber, out);
    EXPECT_STREQ(out, "99991231");

    double dn = YmdToDayNumber(2026, 3, 1);
    const char* expectShort[9] = {"03/01/26", "26.03.01", "01/03/26", "01-03-26", "01.03.26",
                                  "01.03.26", "01.03.26", "01.03.26", "01/03/26"};
    const char* expectLong[9] = {"03/01/2026", "2026.03.01", "01/03/2026",
                                 "01-03-2026", "01.03.2026", "01.03.2026",
                                 "01.03.2026", "01.03.2026", "01/03/2026"};
    const char* blankShort[9] = {"  /  /  ", "  .  .  ", "  /  /  ", "  -  -  ", "  .  .  ",
                                 "  .  .  ", "  .  .  ", "  .  .  ", "  /  /  "};
    for (int s = 0; s < 9; ++s) {
        DayNumberToDateText(dn, s, false, out);
        EXPECT_STREQ(out, expectShort[s]) << s;
        DayNumberToDateText(dn, s, true, out);
        EXPECT_STREQ(out, expectLong[s]) << s;
        DayNumberToDateText(kBlankDate, s, false, out);
        EXPECT_STREQ(out, blankShort[s]) << s;
    }
    DayNumberToDateText(kBlankDate, 1, true, out);
    EXPECT_STREQ(out, "    .  .  ");
    DayNumberToDateText(kBlankDate, 3, true, out);
    EXPECT_STREQ(out, "  -  -    ");
}

TEST(DateKeys, CtodReadsTheCurrentStyle) {
    TzCommon::ResetDateSettings();
    TzCommon::SetEpochYear(1956);
    TzCommon::SetDateStyle(7);
    EXPECT_EQ(CtodToDayNumber("01.03.26"), YmdToDayNumber(2026, 3, 1));
    EXPECT_EQ(CtodToDayNumber("01.03.56"), YmdToDayNumber(1956, 3, 1));
    EXPECT_EQ(CtodToDayNumber("01.03.2055"), YmdToDayNumber(2055, 3, 1));
    EXPECT_EQ(CtodToDayNumber("31.04.26"), kBlankDate);
    EXPECT_EQ(CtodToDayNumber("  .  .  "), kBlankDate);
    EXPECT_EQ(CtodToDayNumber(""), kBlankDate);
    EXPECT_EQ(DateTextToDtos("01.03.26"), "20260301");
    EXPECT_EQ(DateTextToDtos("  .  .  "), "        ");
    TzCommon::SetDateStyle(0);
    EXPECT_EQ(CtodToDayNumber("03/01/26"), YmdToDayNumber(2026, 3, 1));
    TzCommon::SetDateStyle(1);
    EXPECT_EQ(CtodToDayNumber("26.03.01"), YmdToDayNumber(2026, 3, 1));
    TzCommon::ResetDateSettings();
}

TEST(SoundCode, AmericanSoundex) {
    EXPECT_EQ(Soundex("ROBERT"), "R163");
    EXPECT_EQ(Soundex("Rupert"), "R163");
    EXPECT_EQ(Soundex("TYMCZAK"), "T522");
    EXPECT_EQ(Soundex("PFISTER"), "P236");
    EXPECT_EQ(Soundex("A"), "A000");
    EXPECT_EQ(Soundex(""), "0000");
    EXPECT_EQ(Soundex("lee-ann"), "L500");
    std::string longText(300, 'B');
    longText[150] = 'K';  // beyond the 100 characters read
    EXPECT_EQ(Soundex(longText), "B000");
}

TEST(ByteHelpers, SwapReverseAndLists) {
    uint8_t s[] = {'A', 'B', 'C', '1', '2'};
    SwapBlocks(s, 3, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s), 5), "12ABC");
    SwapBlocks(s, 0, 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s), 5), "12ABC");
    EXPECT_EQ(ZeroPadInt(42, 5), "00042");
    EXPECT_EQ(ZeroPadInt(123456, 3), "123456");
    EXPECT_EQ(PCharToStr("ABCDEF", 3), "ABC");

    ListNode* list = nullptr;
    auto* a = static_cast<int*>(AllocNode(list, sizeof(int)));
    auto* b = static_cast<int*>(AllocNode(list, sizeof(int)));
    auto* c = static_cast<int*>(AllocNode(list, sizeof(int)));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(*a, 0);
    *a = 1, *b = 2, *c = 3;
    EXPECT_EQ(PayloadOf(list), c);
    // Around the ring from the newest: c, a, b (each new node goes in front of the current).
    std::vector<int> seen;
    ListNode* n = list;
    do {
        seen.push_back(*static_cast<int*>(PayloadOf(n)));
        n = NextNode(n);
    } while (n != list);
    EXPECT_EQ(seen.size(), 3u);
    FreeNode(list, b);
    FreeNode(list, c);
    EXPECT_EQ(PayloadOf(list), a);
    FreeList(list);
    EXPECT_EQ(list, nullptr);
}

}  // namespace
