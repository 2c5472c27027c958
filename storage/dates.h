// Date texts and calendar arithmetic of the table engine: the date styles (how a date is shown
// to the user), the internal date text MM/DD/YY or MM/DD/YYYY, Julian day numbers, days of the
// week and the day and month names of the six supported languages.
// One process-wide set of date and number settings, not thread-safe; the platform layer sets
// them at start-up (style 3 with the century flag, decimal ","), tests reset them.
#pragma once

#include <cstdint>
#include <string>

namespace TzCommon {

// Date styles 0-8; the style decides the order of the parts, the separator and the language
// of the day and month names:
//   0 MM/dd/yy English   1 yy.MM.dd English   2 dd/MM/yy English   3 dd-MM-yy Italian
//   4 dd.MM.yy French    5 dd.MM.yy German    6 dd.MM.yy Spanish   7 dd.MM.yy French
//   8 dd.MM.yy Russian
inline constexpr int kDateStyleCount = 9;

// Sets the style (9 or more, or a negative value, becomes 0) together with the short date
// format and date separator that go with it ("yy" becomes "yyyy" with the century flag).
void SetDateStyle(int style);
uint8_t DateStyle();
const std::string& ShortDateFormat();
char DateSeparator();

// Century flag: years are written with 4 digits instead of 2. Changing it re-applies the
// current style so that the short date format keeps agreeing with the engine.
void SetCenturyFlag(bool on);
bool CenturyFlag();

// Epoch year: two-digit years from epoch mod 100 up belong to the epoch's century, lower ones
// to the next. Starts as this year - 70 from the local clock.
void SetEpochYear(int year);
int EpochYear();

// Number characters used for numbers shown to the user (never for field contents).
void SetDecimalChar(char c);
char DecimalChar();
void SetThousandsChar(char c);
char ThousandsChar();

// Start-up choice from a Windows language identifier (primary language in the low 10 bits,
// sublanguage above): German 5; English 0 for US, else 2; Spanish 6; French 7 for sublanguage
// 3, else 4; Italian 3; Russian 8; any other 0. Sets the language default style, the date
// style and the number characters (styles 3-6 "," and "."; 0, 1, 2, 7 "." and ","; 8 "." and
// a blank). Returns the style.
uint8_t DateStyleFromLanguage(uint16_t languageId);
uint8_t LanguageDefaultStyle();

// Restores the start-up settings (style 0, century off, epoch from the clock, "." and ",").
void ResetDateSettings();

// The date stamped into the headers of the tables and index files written from now on (the
// last update of a table, the creation of an index): today by the local clock unless a fixed
// date is set. A tool that must write the same bytes on every day sets one; year 0 clears it,
// and so does ResetDateSettings.
void SetStampDate(int year, int month, int day);
void StampDate(int* year, int* month, int* day);

// Century (a multiple of 100) of a two-digit year, and its first two digits as text.
int EpochCentury(int yy);
std::string CenturyDigits(int yy);

// The style's separators with blanks for the digits ("  -  -" plus 2 or 4 blanks for style
// 3; style 1 puts the year blanks first).
std::string EmptyDateString(int style);

// Internal text (MM/DD/YY[YY]) to the current style; the year is widened to 4 digits with the
// epoch century when the century flag is on. All parts blank give the empty template.
std::string DateToStyle(const std::string& text);
// A text in the current style ("/", "." or "-" separated; style 0 month first, style 1 year
// first, the others day first) to the internal text, the year kept as written. One-digit
// day and month parts are widened with a leading "0".
std::string DateFromStyle(const std::string& text);

// The three parts of a date written in the current style, as month, day and year (style 0
// month first, style 1 year first, the others day first).
template <class T>
void StyleParts(const T (&parts)[3], T& month, T& day, T& year) {
    switch (DateStyle()) {
        case 0:
            month = parts[0], day = parts[1], year = parts[2];
            break;
        case 1:
            year = parts[0], month = parts[1], day = parts[2];
            break;
        default:
            day = parts[0], month = parts[1], year = parts[2];
            break;
    }
}

}  // namespace TzCommon

namespace TimeDate {

struct DateParts {
    int year = 0;
    int month = 0;
    int day = 0;
};

// Year, month and day of an internal date text; blanks and non-digits read as 0, a
// two-digit year gets the epoch century.
DateParts ParseDate(const std::string& internalText);

// The routines below take date texts in the current style.
bool ValidDate(const std::string& text);
bool IsValidDate(const std::string& text);  // also refuses the blank template
// Day number of a minus that of b; an invalid date gives code 220 and 0.
int32_t DateDiff(const std::string& a, const std::string& b);
// Date text in the current style; an impossible date gives code 220 and the empty template.
std::string DateFrom(int year, int month, int day);
int DOW(const std::string& text);           // 1 Sunday ... 7 Saturday; 0 for no valid date
std::string DTOS(const std::string& text);  // YYYYMMDD; 8 blanks for a blank or bad date
std::string DayName(const std::string& text);
std::string MonthName(const std::string& text);
int MonthOf(const std::string& text);
int DayOf(const std::string& text);
int YearOf(const std::string& text);  // as written: 2 digits stay 2 digits
bool IsLeapYear(int year);
// Days in the month (1..12) of the year; 0 for a month outside 1..12.
int MonthLength(int month, int year);
// value's last `width` digits at out, with leading zeros.
void PutDigits(char* out, int value, int width);
bool IsFebLeapDay(int month, int year);
int DaysInMonth(const std::string& text);  // 0 for a text without a valid month
std::string TodayText();

// Names in the current style's language at its fixed width (dow 1 Sunday ... 7 Saturday,
// month 1-12); out of range gives blanks of that width. Latin names are Windows-1252; the
// Russian ones are code page 1251 bytes (the single-byte Windows page for Cyrillic), so every
// name keeps one byte per letter and the fixed widths hold.
std::string DayNameOf(int dow);
std::string MonthNameOf(int month);
int DayNameWidth();
int MonthNameWidth();

// Julian day number (4 October 1582 is 2,299,160 and 15 October 1582 2,299,161; earlier dates
// count in the Julian calendar), and back; a day number after 31 December 9999 gives a
// date of all zeros.
int32_t JulianDay(int year, int month, int day);
DateParts JulianToDate(int32_t dayNumber);

}  // namespace TimeDate
