// Date styles, the epoch window, Julian day numbers, validation, DateFrom's refusals and the
// fixed-width day and month names.
#include "storage/dates.h"

#include <gtest/gtest.h>

#include <ctime>
#include <random>

#include "storage/tz_common.h"

using namespace TzCommon;
using namespace TimeDate;

namespace {

class DatesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetErrorState();
        SetErrorChecking(0);
        ResetDateSettings();
        SetEpochYear(1956);
    }
    void TearDown() override {
        ResetDateSettings();
        ResetErrorState();
    }
};

TEST_F(DatesTest, StylesFormatsAndTemplates) {
    const char* formats[] = {"MM/dd/yy", "yy.MM.dd", "dd/MM/yy", "dd-MM-yy", "dd.MM.yy",
                             "dd.MM.yy", "dd.MM.yy", "dd.MM.yy", "dd.MM.yy"};
    const char seps[] = {'/', '.', '/', '-', '.', '.', '.', '.', '.'};
    const char* empty2[] = {"  /  /  ", "  .  .  ", "  /  /  ", "  -  -  ", "  .  .  ",
                            "  .  .  ", "  .  .  ", "  .  .  ", "  .  .  "};
    const char* empty4[] = {"  /  /    ", "    .  .  ", "  /  /    ", "  -  -    ", "  .  .    ",
                            "  .  .    ", "  .  .    ", "  .  .    ", "  .  .    "};
    for (int style = 0; style < 9; ++style) {
        SCOPED_TRACE(style);
        SetCenturyFlag(false);
        SetDateStyle(style);
        EXPECT_EQ(DateStyle(), style);
        EXPECT_EQ(ShortDateFormat(), formats[style]);
        EXPECT_EQ(DateSeparator(), seps[style]);
        EXPECT_EQ(EmptyDateString(style), empty2[style]);
        SetCenturyFlag(true);
        EXPECT_EQ(EmptyDateString(style), empty4[style]);
        EXPECT_EQ(ShortDateFormat().find("yyyy") != std::string::npos, true);
    }
    SetCenturyFlag(false);
    SetDateStyle(9);
    EXPECT_EQ(DateStyle(), 0);
    EXPECT_EQ(ShortDateFormat(), "MM/dd/yy");
    SetDateStyle(200);
    EXPECT_EQ(DateStyle(), 0);

    // The program's own setting: style 3 with the century flag.
    SetCenturyFlag(true);
    SetDateStyle(3);
    EXPECT_EQ(ShortDateFormat(), "dd-MM-yyyy");
    EXPECT_EQ(EmptyDateString(DateStyle()), "  -  -    ");
    EXPECT_EQ(DateToStyle("  /  /  "), "  -  -    ");
}

TEST_F(DatesTest, StyleFromLanguageSetsNumberCharacters) {
    struct Case {
        uint16_t lang;
        int style;
        char dec, thou;
    } cases[] = {
        {0x0407, 5, ',', '.'}, {0x0409, 0, '.', ','}, {0x0809, 2, '.', ','},
        {0x040A, 6, ',', '.'}, {0x040C, 4, ',', '.'}, {0x0C0C, 7, '.', ','},
        {0x0410, 3, ',', '.'}, {0x0419, 8, '.', ' '}, {0x0406, 0, '.', ','},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lang);
        EXPECT_EQ(DateStyleFromLanguage(c.lang), c.style);
        EXPECT_EQ(DateStyle(), c.style);
        EXPECT_EQ(LanguageDefaultStyle(), c.style);
        EXPECT_EQ(DecimalChar(), c.dec);
        EXPECT_EQ(ThousandsChar(), c.thou);
    }
}

TEST_F(DatesTest, EpochWindow) {
    EXPECT_EQ(EpochCentury(55), 2000);
    EXPECT_EQ(EpochCentury(56), 1900);
    EXPECT_EQ(EpochCentury(0), 2000);
    EXPECT_EQ(EpochCentury(99), 1900);
    EXPECT_EQ(CenturyDigits(55), "20");
    EXPECT_EQ(CenturyDigits(56), "19");
    EXPECT_EQ(ParseDate("01/02/55").year, 2055);
    EXPECT_EQ(ParseDate("01/02/56").year, 1956);
    EXPECT_EQ(ParseDate("01/02/1899").year, 1899);

    SetCenturyFlag(true);
    SetDateStyle(3);
    EXPECT_EQ(DateToStyle("12/31/55"), "31-12-2055");
    EXPECT_EQ(DateToStyle("12/31/56"), "31-12-1956");
    EXPECT_EQ(DateFrom(55, 1, 2), "02-01-2055");
    SetCenturyFlag(false);
    EXPECT_EQ(DateFrom(55, 1, 2), "02-01-55");

    // The default epoch follows the clock: this year - 70.
    ResetDateSettings();
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(EpochYear(), local.tm_year + 1900 - 70);
}

TEST_F(DatesTest, StyleConversionsRoundTrip) {
    const char* styled2[] = {"10/15/26", "26.10.15", "15/10/26", "15-10-26", "15.10.26",
                             "15.10.26", "15.10.26", "15.10.26", "15.10.26"};
    for (int style = 0; style < 9; ++style) {
        SCOPED_TRACE(style);
        SetCenturyFlag(false);
        SetDateStyle(style);
        EXPECT_EQ(DateToStyle("10/15/26"), styled2[style]);
        EXPECT_EQ(DateFromStyle(styled2[style]), "10/15/26");
        SetCenturyFlag(true);
        const std::string wide = DateToStyle("10/15/26");
        EXPECT_EQ(wide.size(), 10u);
        EXPECT_EQ(DateFromStyle(wide), "10/15/2026");
        EXPECT_EQ(DateToStyle("10/15/2026"), wide);
    }
    // Day first for every style from 2 on, whatever the separator; short parts widened.
    SetCenturyFlag(false);
    SetDateStyle(8);
    EXPECT_EQ(DateFromStyle("01/03/26"), "03/01/26");
    SetDateStyle(3);
    EXPECT_EQ(DateFromStyle("1-3-26"), "03/01/26");
    EXPECT_TRUE(ValidDate("1-3-26"));
    EXPECT_EQ(DateFromStyle("  -  -  "), "  /  /  ");
    // Texts that are no dates come back unchanged and are refused.
    EXPECT_EQ(DateFromStyle("garbage"), "garbage");
    EXPECT_FALSE(ValidDate("garbage"));
    EXPECT_FALSE(ValidDate(""));
    EXPECT_FALSE(ValidDate("1-2-3-4"));
}

TEST_F(DatesTest, JulianDayNumbers) {
    EXPECT_EQ(JulianDay(1582, 10, 4), 2299160);
    EXPECT_EQ(JulianDay(1582, 10, 15), 2299161);
    EXPECT_EQ(JulianDay(2000, 1, 1), 2451545);
    EXPECT_EQ(JulianDay(1, 1, 1), 1721424);  // Julian calendar
    EXPECT_EQ(JulianToDate(2299160).day, 4);
    EXPECT_EQ(JulianToDate(2299161).day, 15);
    const DateParts y2k = JulianToDate(2451545);
    EXPECT_EQ(y2k.year, 2000);
    EXPECT_EQ(y2k.month, 1);
    EXPECT_EQ(y2k.day, 1);

    // Beyond 31 December 9999 there is no date (the search would leave 32 bits).
    const DateParts lastDay = JulianToDate(JulianDay(9999, 12, 31));
    EXPECT_EQ(lastDay.year * 10000 + lastDay.month * 100 + lastDay.day, 99991231);
    for (int32_t jd : {JulianDay(9999, 12, 31) + 1, 540000000, 600000000, INT32_MAX}) {
        const DateParts none = JulianToDate(jd);
        EXPECT_EQ(none.year | none.month | none.day, 0) << jd;
    }

    // Every day number from the year 1 to 9999 comes back through its date.
    const int32_t first = JulianDay(1, 1, 1), last = JulianDay(9999, 12, 31);
    int bad = 0;
    for (int32_t jd = first; jd <= last && bad < 5; ++jd) {
        const DateParts p = JulianToDate(jd);
        if (JulianDay(p.year, p.month, p.day) != jd) {
            ++bad;
            ADD_FAILURE() << jd << " -> " << p.year << "-" << p.month << "-" << p.day;
        }
    }
    // Dates after the switch to 3999 come back from their numbers, day by day.
    int32_t prev = JulianDay(1583, 1, 1) - 1;
    for (int y = 1583; y < 4000 && bad < 5; ++y)
        for (int m = 1; m <= 12; ++m)
            for (int d = 1; d <= 31; ++d) {
                if (d > 28 &&
                    !ValidDate(std::to_string(100 + m).substr(1) + "/" +
                               std::to_string(100 + d).substr(1) + "/" + std::to_string(y)))
                    continue;
                const int32_t jd = JulianDay(y, m, d);
                if (jd != prev + 1) ++bad, ADD_FAILURE() << y << "-" << m << "-" << d;
                prev = jd;
            }
}

TEST_F(DatesTest, DayOfWeekAndLeapYears) {
    EXPECT_EQ(DOW("01/01/2000"), 7);  // Saturday
    EXPECT_EQ(DOW("01/01/00"), 7);
    EXPECT_EQ(DOW("10/15/1582"), 6);  // Friday
    EXPECT_EQ(DayName("01/01/2000"), "Saturday ");
    // Zeller agrees with the day numbers for two centuries.
    SetCenturyFlag(true);
    for (int32_t jd = JulianDay(1900, 1, 1); jd <= JulianDay(2100, 12, 31); jd += 13) {
        const DateParts p = JulianToDate(jd);
        const std::string text = DateFrom(p.year, p.month, p.day);
        ASSERT_EQ(DOW(text), (jd + 1) % 7 + 1) << text;
    }
    EXPECT_FALSE(IsLeapYear(1900));
    EXPECT_TRUE(IsLeapYear(2000));
    EXPECT_TRUE(IsLeapYear(2028));
    EXPECT_FALSE(IsLeapYear(2026));
    EXPECT_TRUE(IsFebLeapDay(2, 2000));
    EXPECT_FALSE(IsFebLeapDay(3, 2000));
    EXPECT_FALSE(ValidDate("02/29/1900"));
    EXPECT_TRUE(ValidDate("02/29/2000"));
    EXPECT_TRUE(ValidDate("02/29/00"));  // 2000 with the epoch 1956
    EXPECT_TRUE(ValidDate("02/29/56"));  // 1956
    EXPECT_FALSE(ValidDate("02/29/57"));
}

TEST_F(DatesTest, ValidationInStyle2) {
    SetDateStyle(2);
    EXPECT_FALSE(ValidDate("31/04/26"));
    EXPECT_TRUE(ValidDate("30/04/26"));
    EXPECT_FALSE(ValidDate("31/06/26"));
    EXPECT_FALSE(ValidDate("31/09/26"));
    EXPECT_FALSE(ValidDate("31/11/26"));
    EXPECT_TRUE(ValidDate("31/12/26"));
    EXPECT_FALSE(ValidDate("00/12/26"));
    EXPECT_FALSE(ValidDate("01/13/26"));
    EXPECT_FALSE(ValidDate("0a/12/26"));
    EXPECT_FALSE(ValidDate("01/12/026"));
    EXPECT_FALSE(IsValidDate(EmptyDateString(2)));
    EXPECT_TRUE(IsValidDate("28/02/26"));
    EXPECT_EQ(DaysInMonth("01/02/28"), 29);
    EXPECT_EQ(DaysInMonth("01/02/26"), 28);
    EXPECT_EQ(DaysInMonth("01/xx/26"), 0);
    EXPECT_EQ(DayOf("07/03/26"), 7);
    EXPECT_EQ(MonthOf("07/03/26"), 3);
    EXPECT_EQ(YearOf("07/03/26"), 26);  // as written
    EXPECT_EQ(YearOf("07/03/2026"), 2026);
    EXPECT_EQ(DTOS("07/03/26"), "20260307");
    EXPECT_EQ(DTOS("07/03/55"), "20550307");
    EXPECT_EQ(DTOS("  /  /  "), "        ");
    EXPECT_EQ(DTOS("31/04/26"), "        ");
}

TEST_F(DatesTest, DateFromRefusesImpossibleDates) {
    SetCenturyFlag(true);
    SetDateStyle(3);
    EXPECT_EQ(DateFrom(2026, 2, 29), "  -  -    ");
    EXPECT_EQ(ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(LastMessage(), "[DateFrom(2026, 2,29)]");
    // Days beyond the month are refused too, also in a leap year.
    EXPECT_EQ(DateFrom(2028, 2, 30), "  -  -    ");
    EXPECT_EQ(LastMessage(), "[DateFrom(2028, 2,30)]");
    DateFrom(2026, 4, 31);
    EXPECT_EQ(LastMessage(), "[DateFrom(2026, 4,31)]");
    DateFrom(2026, 13, 1);
    EXPECT_EQ(LastMessage(), "[DateFrom(2026,13, 1)]");
    DateFrom(2026, 0, 0);
    EXPECT_EQ(LastMessage(), "[DateFrom(2026, 0, 0)]");
    SetCenturyFlag(false);
    DateFrom(26, 2, 29);
    EXPECT_EQ(LastMessage(), "[DateFrom(26, 2,29)]");
    EXPECT_EQ(ErrorWord(), TzErr::InvalidParameter);

    EXPECT_EQ(DateFrom(2028, 2, 29), "29-02-2028");  // a larger year keeps 4 digits
    EXPECT_EQ(ErrorWord(), 0);
    EXPECT_EQ(DateFrom(28, 2, 29), "29-02-28");
    SetCenturyFlag(true);
    EXPECT_EQ(DateFrom(28, 2, 29), "29-02-2028");
    SetDateStyle(1);
    EXPECT_EQ(DateFrom(2026, 3, 7), "2026.03.07");

    // With exceptions on the refusal reaches the caller as the engine's exception.
    SetErrorChecking(1);
    SetUseExceptions(1);
    try {
        DateFrom(2026, 2, 29);
        FAIL() << "no exception";
    } catch (const ETzError& e) {
        EXPECT_STREQ(e.what(), "Error # 220 (Invalid parameter)\r\n[DateFrom(2026, 2,29)]");
    }
}

TEST_F(DatesTest, DateDiff) {
    SetCenturyFlag(true);
    SetDateStyle(3);
    EXPECT_EQ(DateDiff("01-03-2028", "28-02-2028"), 2);
    EXPECT_EQ(DateDiff("01-01-2000", "31-12-1999"), 1);
    EXPECT_EQ(DateDiff("15-10-1582", "04-10-1582"), 1);
    EXPECT_EQ(DateDiff("01-01-1956", "01-01-56"), 0);
    EXPECT_EQ(ErrorWord(), 0);
    EXPECT_EQ(DateDiff("30-02-2026", "01-03-2026"), 0);
    EXPECT_EQ(ErrorWord(), TzErr::InvalidParameter);
    EXPECT_EQ(LastMessage(), "[DateDiff(30-02-2026,01-03-2026)]");
    DateDiff("01-03-2026", "  -  -    ");
    EXPECT_EQ(LastMessage(), "[DateDiff(01-03-2026,  -  -    )]");
}

TEST_F(DatesTest, NamesAtFixedWidths) {
    const int dayWidth[] = {9, 9, 9, 9, 8, 10, 9, 8, 11};
    const int monthWidth[] = {9, 9, 9, 9, 9, 9, 10, 9, 8};
    for (int style = 0; style < 9; ++style) {
        SCOPED_TRACE(style);
        SetDateStyle(style);
        for (int d = 1; d <= 7; ++d) {
            const std::string name = DayNameOf(d);
            EXPECT_EQ(name.size(), static_cast<size_t>(dayWidth[style]));
            EXPECT_NE(name[0], ' ');
        }
        for (int m = 1; m <= 12; ++m) {
            const std::string name = MonthNameOf(m);
            EXPECT_EQ(name.size(), static_cast<size_t>(monthWidth[style]));
            EXPECT_NE(name[0], ' ');
        }
        // A blank date: 10 blanks; a malformed one: blanks of the style's width.
        EXPECT_EQ(DayName(EmptyDateString(style)), std::string(10, ' '));
        EXPECT_EQ(MonthName(EmptyDateString(style)), std::string(10, ' '));
        EXPECT_EQ(DayName(""), std::string(10, ' '));
        EXPECT_EQ(DayName(style == 1 ? "26.99.99" : "99.99.26"),
                  std::string(static_cast<size_t>(dayWidth[style]), ' '));
        EXPECT_EQ(MonthName(style == 1 ? "26.99.99" : "99.99.26"),
                  std::string(static_cast<size_t>(monthWidth[style]), ' '));
        EXPECT_EQ(DayNameOf(0), std::string(static_cast<size_t>(dayWidth[style]), ' '));
        EXPECT_EQ(MonthNameOf(13), std::string(static_cast<size_t>(monthWidth[style]), ' '));
    }
    SetDateStyle(0);
    EXPECT_EQ(MonthName("09/01/26"), "September");
    EXPECT_EQ(DayName("10/18/26"), "Sunday   ");
    SetDateStyle(4);
    EXPECT_EQ(MonthName("01.02.26"), "F\xE9vrier  ");  // Windows-1252
    EXPECT_EQ(MonthName("01.08.26"), "Ao\xFBt     ");
    EXPECT_EQ(DayName("01.01.00"), "Samedi  ");
    SetDateStyle(5);
    EXPECT_EQ(MonthName("01.03.26"), "M\xE4rz     ");
    EXPECT_EQ(DayName("01.01.00"), "Samstag   ");
    SetDateStyle(6);
    EXPECT_EQ(MonthName("01.09.26"), "Septiembre");
    SetDateStyle(8);
    EXPECT_EQ(MonthName("01.09.26"), "\xD1\xE5\xED\xF2\xFF\xE1\xF0\xFC");  // cp1251
    EXPECT_EQ(DayName("02.01.00"), "\xC2\xEE\xF1\xEA\xF0\xE5\xF1\xE5\xED\xFC\xE5");
}

TEST_F(DatesTest, MalformedTextsNeverCrash) {
    std::mt19937 rng(20260);  // fixed seed
    const std::string alphabet = "0123456789/.- a\xFF";
    for (int i = 0; i < 20000; ++i) {
        SetDateStyle(i % 9);
        SetCenturyFlag(i % 2 == 0);
        std::string t;
        for (size_t n = rng() % 13; n > 0; --n) t += alphabet[rng() % alphabet.size()];
        const bool valid = ValidDate(t);
        const int dow = DOW(t);
        EXPECT_EQ(valid, dow >= 1 && dow <= 7) << t;
        const size_t dayWidth = DayName(t).size(), monthWidth = MonthName(t).size();
        EXPECT_TRUE(dayWidth == 10u || dayWidth == static_cast<size_t>(DayNameWidth())) << t;
        EXPECT_TRUE(monthWidth == 10u || monthWidth == static_cast<size_t>(MonthNameWidth()));
        EXPECT_EQ(DTOS(t).size(), 8u);
        if (valid) {
            EXPECT_TRUE(ValidDate(DateToStyle(DateFromStyle(t)))) << t;
        }
        (void)(MonthOf(t) + DayOf(t) + YearOf(t) + DaysInMonth(t));
        (void)DateDiff(t, t);
        (void)ParseDate(t);
    }
}

TEST_F(DatesTest, TodayText) {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char expect[16];
    std::strftime(expect, sizeof expect, "%Y%m%d", &local);
    SetDateStyle(3);
    const std::string two = TodayText();
    EXPECT_EQ(two.size(), 8u);
    EXPECT_EQ(DTOS(two), expect);
    SetCenturyFlag(true);
    const std::string four = TodayText();
    EXPECT_EQ(four.size(), 10u);
    EXPECT_EQ(DTOS(four), expect);
}

}  // namespace
