// The number texts of fields, keys and files against the C library in the C locale (this
// test process never sets a locale): the same texts as printf("%*.*f") and the same values
// as strtod, for random numbers and for the edges (out of range, white space, signs).
#include "storage/num_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

namespace {

void ExpectSameAsStrtod(const std::string& text) {
    char* end = nullptr;
    const double want = std::strtod(text.c_str(), &end);
    size_t used = 99;
    const double got = tz::ParseDouble(text.data(), text.size(), &used);
    if (std::isnan(want)) {
        EXPECT_TRUE(std::isnan(got)) << text;
    } else {
        EXPECT_EQ(got, want) << text;
        EXPECT_EQ(std::signbit(got), std::signbit(want)) << text;
    }
    EXPECT_EQ(used, size_t(end - text.c_str())) << text;
}

}  // namespace

TEST(NumText, FormatFixedMatchesPrintf) {
    const unsigned seed = std::random_device{}();
    std::printf("number text seed %u\n", seed);
    std::mt19937_64 rng(seed);
    std::uniform_int_distribution<int> exponent(-12, 22), decimals(0, 18), width(0, 24);
    for (int i = 0; i < 20000; ++i) {
        const double v =
            std::ldexp(double(rng() >> 11), exponent(rng) * 3 - 53) * (rng() & 1 ? -1 : 1);
        const int w = width(rng), d = decimals(rng);
        char want[512], got[512];
        std::snprintf(want, sizeof want, "%*.*f", w, d, v);
        ASSERT_EQ(tz::FormatFixed(got, sizeof got, w, d, v), int(std::strlen(want)));
        ASSERT_STREQ(got, want) << "width " << w << " decimals " << d;
    }
    char small[8];
    EXPECT_EQ(tz::FormatFixed(small, sizeof small, 0, 2, 12345.5), -1);  // 8 bytes needed
    EXPECT_EQ(tz::FormatFixed(small, sizeof small, 8, 2, 1.5), -1);      // width too wide
    EXPECT_EQ(tz::FormatFixed(small, sizeof small, 7, 2, 1.5), 7);
    EXPECT_STREQ(small, "   1.50");
    EXPECT_EQ(tz::FormatFixed(small, sizeof small, 0, 0, -0.4), 2);
    EXPECT_STREQ(small, "-0");
}

// Field texts round the value's shortest decimal text half away from zero: a value that
// sits on a half in decimal rounds up in magnitude although its double lies just below.
TEST(NumText, FormatRoundedRoundsTheDecimalHalfAwayFromZero) {
    const unsigned seed = std::random_device{}();
    std::printf("rounding seed %u\n", seed);
    std::mt19937_64 rng(seed);
    char got[512];
    for (int i = 0; i < 20000; ++i) {
        const int d = int(rng() % 5);
        const long long m = (long long)(rng() % 1000000000000LL);  // 12 digits, then a 5
        const bool negative = rng() & 1;
        std::string text = std::to_string(m * 10 + 5);
        text.insert(0, size_t(std::max(0, d + 2 - int(text.size()))), '0');
        text.insert(text.size() - size_t(d + 1), ".");
        if (negative) text.insert(0, "-");
        std::string want = std::to_string(m + 1);
        if (d > 0) {
            want.insert(0, size_t(std::max(0, d + 1 - int(want.size()))), '0');
            want.insert(want.size() - size_t(d), ".");
        }
        if (negative) want.insert(0, "-");
        const double v = tz::ParseDouble(text.data(), text.size());
        ASSERT_EQ(tz::FormatRounded(got, sizeof got, 0, d, v), int(want.size())) << text;
        ASSERT_EQ(std::string(got), want) << text << " with " << d << " decimals";
    }
    struct Case {
        double v;
        int width, decimals;
        const char* want;
    } cases[] = {
        {1.005, 6, 2, "  1.01"},
        {0.125, 0, 2, "0.13"},
        {-0.125, 6, 2, " -0.13"},
        {2.675, 0, 2, "2.68"},
        {9.995, 0, 2, "10.00"},
        {0.5, 0, 0, "1"},
        {-2.5, 0, 0, "-3"},
        {0.0049, 0, 2, "0.00"},
        {-0.001, 5, 2, " 0.00"},
        {-0.0, 0, 2, "0.00"},
        {0, 0, 0, "0"},
        {1e20, 0, 1, "100000000000000000000.0"},
        {123.456, 10, 0, "       123"},
        {0.1 + 0.2, 0, 17, "0.30000000000000004"},
        // The double just below 1.005 has the shortest text 1.0049999999999997.
        {std::nextafter(1.005, 0.0), 0, 2, "1.00"},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(tz::FormatRounded(got, sizeof got, c.width, c.decimals, c.v),
                  int(std::strlen(c.want)))
            << c.want;
        EXPECT_STREQ(got, c.want);
    }
    char small[8];
    EXPECT_EQ(tz::FormatRounded(small, sizeof small, 0, 2, 12345.5), -1);  // 8 bytes needed
    EXPECT_EQ(tz::FormatRounded(small, sizeof small, 8, 2, 1.5), -1);
    EXPECT_EQ(tz::FormatRounded(small, sizeof small, 7, 2, 1.005), 7);
    EXPECT_STREQ(small, "   1.01");
    char big[600];  // the largest double with 255 decimals: 566 characters
    EXPECT_EQ(tz::FormatRounded(big, sizeof big, 0, 255, -1.7976931348623157e308), 566);
    EXPECT_EQ(tz::FormatRounded(got, sizeof got, 0, 2, HUGE_VAL), 3);
    EXPECT_STREQ(got, "inf");
}

TEST(NumText, ParseDoubleMatchesStrtod) {
    for (const char* t : {"12.50",
                          "  12.50  ",
                          "-7.25",
                          "+7.25",
                          "\t 3e2x",
                          ".5",
                          "5.",
                          "-.5e-3",
                          "1.5E400",
                          "-1.5e400",
                          "1e-400",
                          "0.0000000000000000000000000000001e-300",
                          "1e999999999999999999",
                          "1e-999999999999999999",
                          "123456789012345678901234567890",
                          "inf",
                          "-Infinity",
                          "nan",
                          "",
                          " ",
                          "-",
                          "+-1",
                          "--1",
                          ".",
                          "e5",
                          "12,50",
                          "1.2.3",
                          "00012"}) {
        ExpectSameAsStrtod(t);
    }
    std::string huge = "1" + std::string(400, '0') + ".5";
    ExpectSameAsStrtod(huge);
    ExpectSameAsStrtod("0." + std::string(400, '0') + "1");
    ExpectSameAsStrtod(std::string(400, '0') + "1e-5");
    // Hexadecimal texts are not numbers of a field: only their "0" reads.
    size_t used = 0;
    EXPECT_EQ(tz::ParseDouble("0x1p3", 5, &used), 0.0);
    EXPECT_EQ(used, 1u);
    // A text that is not zero-terminated ends where its length says.
    EXPECT_EQ(tz::ParseDouble("12.75", 4), 12.7);
}
