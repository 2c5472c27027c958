#include "storage/dates.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>

#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzCommon {

namespace {

struct DateSettings {
    uint8_t style = 0;
    bool century = false;
    int epoch = 0;  // 0: not yet taken from the clock
    char decimal = '.';
    char thousands = ',';
    uint8_t languageStyle = 0;
    std::string shortFormat = "MM/dd/yy";
    char separator = '/';
    int stampYear = 0;  // 0: the files are stamped with today's date by the local clock
    int stampMonth = 0;
    int stampDay = 0;
};

DateSettings& S() {
    static DateSettings s;
    return s;
}

struct StyleInfo {
    const char* format;  // with a two-digit year
    char separator;
};

constexpr std::array<StyleInfo, kDateStyleCount> kStyles = {{
    {"MM/dd/yy", '/'},
    {"yy.MM.dd", '.'},
    {"dd/MM/yy", '/'},
    {"dd-MM-yy", '-'},
    {"dd.MM.yy", '.'},
    {"dd.MM.yy", '.'},
    {"dd.MM.yy", '.'},
    {"dd.MM.yy", '.'},
    {"dd.MM.yy", '.'},
}};

int ThisYear() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

bool IsSeparator(char c) {
    return c == '/' || c == '.' || c == '-';
}

bool AllBlank(const std::string& s) {
    for (char c : s)
        if (c != ' ') return false;
    return true;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Splits a date text at its two separators; false when it does not have exactly three parts.
bool SplitDate(const std::string& text, std::string parts[3]) {
    int n = 0;
    std::string cur;
    for (char c : text) {
        if (IsSeparator(c)) {
            if (n == 2) return false;
            parts[n++] = cur;
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (n != 2) return false;
    parts[2] = cur;
    return true;
}

// A day or month part of a text the user typed: one digit widened with "0", blanks kept
// two wide.
std::string DayMonthPart(const std::string& part) {
    std::string t = TzUtils::TrimSpaces(part);
    if (t.empty()) return "  ";
    if (t.size() == 1 && AllDigits(t)) return "0" + t;
    return t;
}

std::string YearPart(const std::string& part) {
    std::string t = TzUtils::TrimSpaces(part);
    if (t.empty()) return std::string(part.size() >= 4 ? 4 : 2, ' ');
    if (t.size() == 1 && AllDigits(t)) return "0" + t;
    return t;
}

}  // namespace

void SetDateStyle(int style) {
    if (style < 0 || style >= kDateStyleCount) style = 0;
    DateSettings& s = S();
    s.style = static_cast<uint8_t>(style);
    std::string format = kStyles[style].format;
    if (s.century) format.replace(format.find("yy"), 2, "yyyy");
    s.shortFormat = format;
    s.separator = kStyles[style].separator;
}

uint8_t DateStyle() {
    return S().style;
}
const std::string& ShortDateFormat() {
    return S().shortFormat;
}
char DateSeparator() {
    return S().separator;
}

void SetCenturyFlag(bool on) {
    S().century = on;
    SetDateStyle(S().style);
}

bool CenturyFlag() {
    return S().century;
}

void SetEpochYear(int year) {
    S().epoch = year;
}

int EpochYear() {
    DateSettings& s = S();
    if (s.epoch == 0) s.epoch = ThisYear() - 70;
    return s.epoch;
}

void SetDecimalChar(char c) {
    S().decimal = c;
}
char DecimalChar() {
    return S().decimal;
}
void SetThousandsChar(char c) {
    S().thousands = c;
}
char ThousandsChar() {
    return S().thousands;
}

uint8_t DateStyleFromLanguage(uint16_t languageId) {
    const int primary = languageId & 0x3FF;
    const int sub = languageId >> 10;
    uint8_t style = 0;
    switch (primary) {
        case 7:
            style = 5;
            break;
        case 9:
            style = sub == 1 ? 0 : 2;
            break;
        case 10:
            style = 6;
            break;
        case 12:
            style = sub == 3 ? 7 : 4;
            break;
        case 16:
            style = 3;
            break;
        case 25:
            style = 8;
            break;
        default:
            style = 0;
            break;
    }
    DateSettings& s = S();
    s.languageStyle = style;
    SetDateStyle(style);
    if (style >= 3 && style <= 6) {
        s.decimal = ',';
        s.thousands = '.';
    } else if (style == 8) {
        s.decimal = '.';
        s.thousands = ' ';
    } else {
        s.decimal = '.';
        s.thousands = ',';
    }
    return style;
}

uint8_t LanguageDefaultStyle() {
    return S().languageStyle;
}

void ResetDateSettings() {
    S() = DateSettings{};
    SetDateStyle(0);
}

void SetStampDate(int year, int month, int day) {
    DateSettings& s = S();
    s.stampYear = year, s.stampMonth = month, s.stampDay = day;
}

void StampDate(int* year, int* month, int* day) {
    const DateSettings& s = S();
    if (s.stampYear != 0) {
        *year = s.stampYear, *month = s.stampMonth, *day = s.stampDay;
        return;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    *year = local.tm_year + 1900, *month = local.tm_mon + 1, *day = local.tm_mday;
}

int EpochCentury(int yy) {
    const int epoch = EpochYear();
    const int base = epoch / 100 * 100;
    return yy < epoch % 100 ? base + 100 : base;
}

std::string CenturyDigits(int yy) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", (EpochCentury(yy) / 100) % 100);
    return buf;
}

std::string EmptyDateString(int style) {
    if (style < 0 || style >= kDateStyleCount) style = 0;
    const std::string year(CenturyFlag() ? 4 : 2, ' ');
    switch (style) {
        case 1:
            return year + ".  .  ";
        case 3:
            return "  -  -" + year;
        case 0:
        case 2:
            return "  /  /" + year;
        default:
            return "  .  ." + year;
    }
}

std::string DateToStyle(const std::string& text) {
    std::string parts[3];
    if (!SplitDate(text, parts)) return text;
    if (AllBlank(parts[0]) && AllBlank(parts[1]) && AllBlank(parts[2]))
        return EmptyDateString(DateStyle());
    std::string year = parts[2];
    if (CenturyFlag()) {
        if (year.size() == 2 && AllDigits(year))
            year = CenturyDigits(std::stoi(year)) + year;
        else if (AllBlank(year))
            year = "    ";
    }
    const std::string& month = parts[0];
    const std::string& day = parts[1];
    const char sep = kStyles[DateStyle()].separator;
    switch (DateStyle()) {
        case 0:
            return month + sep + day + sep + year;
        case 1:
            return year + sep + month + sep + day;
        default:
            return day + sep + month + sep + year;
    }
}

std::string DateFromStyle(const std::string& text) {
    std::string parts[3];
    if (!SplitDate(text, parts)) return text;
    std::string month, day, year;
    StyleParts(parts, month, day, year);
    return DayMonthPart(month) + "/" + DayMonthPart(day) + "/" + YearPart(year);
}

}  // namespace TzCommon

namespace TimeDate {

namespace {

using TzCommon::DateStyle;

constexpr int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
constexpr int32_t kGregorianStart = 2299161;  // 15 October 1582
constexpr int32_t kLastJulianDay = 5373482;   // 31 December 9999 (JulianDay)

// Languages of the name tables.
enum Language { kEnglish, kItalian, kFrench, kGerman, kSpanish, kRussian };

constexpr Language kStyleLanguage[TzCommon::kDateStyleCount] = {
    kEnglish, kEnglish, kEnglish, kItalian, kFrench, kGerman, kSpanish, kFrench, kRussian};
constexpr int kDayWidth[TzCommon::kDateStyleCount] = {9, 9, 9, 9, 8, 10, 9, 8, 11};
constexpr int kMonthWidth[TzCommon::kDateStyleCount] = {9, 9, 9, 9, 9, 9, 10, 9, 8};

const char* const kDayNames[6][7] = {
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
    {"Domenica", "Lunedi", "Martedi", "Mercoledi", "Giovedi", "Venerdi", "Sabato"},
    {"Dimanche", "Lundi", "Mardi", "Mercredi", "Jeudi", "Vendredi", "Samedi"},
    {"Sonntag", "Montag", "Dienstag", "Mittwoch", "Donnerstag", "Freitag", "Samstag"},
    {"Domingo", "Lunes", "Martes", "Miercoles", "Jueves", "Viernes", "Sabado"},
    // Code page 1251.
    {"\xC2\xEE\xF1\xEA\xF0\xE5\xF1\xE5\xED\xFC\xE5",  // Voskresenye
     "\xCF\xEE\xED\xE5\xE4\xE5\xEB\xFC\xED\xE8\xEA",  // Ponedelnik
     "\xC2\xF2\xEE\xF0\xED\xE8\xEA",                  // Vtornik
     "\xD1\xF0\xE5\xE4\xE0",                          // Sreda
     "\xD7\xE5\xF2\xE2\xE5\xF0\xE3",                  // Chetverg
     "\xCF\xFF\xF2\xED\xE8\xF6\xE0",                  // Pyatnitsa
     "\xD1\xF3\xE1\xE1\xEE\xF2\xE0"},                 // Subbota
};

const char* const kMonthNames[6][12] = {
    {"January", "February", "March", "April", "May", "June", "July", "August", "September",
     "October", "November", "December"},
    {"Gennaio", "Febbraio", "Marzo", "Aprile", "Maggio", "Giugno", "Luglio", "Agosto", "Settembre",
     "Ottobre", "Novembre", "Dicembre"},
    {"Janvier", "F\xE9vrier", "Mars", "Avril", "Mai", "Juin", "Juillet", "Ao\xFBt", "Septembre",
     "Octobre", "Novembre",
     "D\xE9"
     "cembre"},
    {"Januar", "Februar", "M\xE4rz", "April", "Mai", "Juni", "Juli", "August", "September",
     "Oktober", "November", "Dezember"},
    {"Enero", "Febrero", "Marzo", "Abril", "Mayo", "Junio", "Julio", "Agosto", "Septiembre",
     "Octubre", "Noviembre", "Diciembre"},
    // Code page 1251.
    {"\xDF\xED\xE2\xE0\xF0\xFC",          // Yanvar
     "\xD4\xE5\xE2\xF0\xE0\xEB\xFC",      // Fevral
     "\xCC\xE0\xF0\xF2",                  // Mart
     "\xC0\xEF\xF0\xE5\xEB\xFC",          // Aprel
     "\xCC\xE0\xE9",                      // Mai
     "\xC8\xFE\xED\xFC",                  // Iyun
     "\xC8\xFE\xEB\xFC",                  // Iyul
     "\xC0\xE2\xE3\xF3\xF1\xF2",          // Avgust
     "\xD1\xE5\xED\xF2\xFF\xE1\xF0\xFC",  // Sentyabr
     "\xCE\xEA\xF2\xFF\xE1\xF0\xFC",      // Oktyabr
     "\xCD\xEE\xFF\xE1\xF0\xFC",          // Noyabr
     "\xC4\xE5\xEA\xE0\xE1\xF0\xFC"},     // Dekabr
};

std::string Fixed(const char* name, int width) {
    std::string s(name);
    s.resize(static_cast<size_t>(width), ' ');
    return s;
}

// Reads a run of digits; -1 when the text is empty or holds anything else. Blanks count as
// "0" when blanksAsZero is set.
int Number(const std::string& s, bool blanksAsZero) {
    if (s.empty() || s.size() > 6) return -1;
    int v = 0;
    for (char c : s) {
        if (c == ' ' && blanksAsZero) c = '0';
        if (c < '0' || c > '9') return -1;
        v = v * 10 + (c - '0');
    }
    return v;
}

// The three parts of an internal text by position ("MM/DD/YY" or "MM/DD/YYYY").
bool InternalParts(const std::string& t, std::string* m, std::string* d, std::string* y) {
    if (t.size() < 7 || t[2] != '/' || t[5] != '/') return false;
    *m = t.substr(0, 2);
    *d = t.substr(3, 2);
    *y = t.substr(6);
    return true;
}

bool BlankDate(const std::string& text) {
    for (char c : text)
        if (c != ' ' && c != '/' && c != '.' && c != '-') return false;
    return true;
}

int FullYear(int written, size_t digits) {
    return digits <= 2 ? TzCommon::EpochCentury(written) + written : written;
}

std::string TwoDigits(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// The internal date text as numbers with a full year; false when it is not a valid date.
bool ValidParts(const std::string& text, DateParts* out) {
    if (!ValidDate(text)) return false;
    *out = ParseDate(TzCommon::DateFromStyle(text));
    return true;
}

DateParts NextDay(DateParts p) {
    if (++p.day > MonthLength(p.month, p.year)) {
        p.day = 1;
        if (++p.month > 12) p.month = 1, ++p.year;
    }
    return p;
}

DateParts PriorDay(DateParts p) {
    if (--p.day < 1) {
        if (--p.month < 1) p.month = 12, --p.year;
        p.day = MonthLength(p.month, p.year);
    }
    return p;
}

}  // namespace

DateParts ParseDate(const std::string& internalText) {
    DateParts p;
    std::string m, d, y;
    if (!InternalParts(internalText, &m, &d, &y)) return p;
    p.month = std::max(0, Number(m, true));
    p.day = std::max(0, Number(d, true));
    const int year = std::max(0, Number(y, true));
    p.year = y.find_first_not_of(' ') == std::string::npos ? 0 : FullYear(year, y.size());
    return p;
}

bool ValidDate(const std::string& text) {
    const std::string t = TzCommon::DateFromStyle(text);
    if (t.size() != 8 && t.size() != 10) return false;
    std::string ms, ds, ys;
    if (!InternalParts(t, &ms, &ds, &ys)) return false;
    const int month = Number(ms, false), day = Number(ds, false), written = Number(ys, false);
    if (month < 0 || day < 0 || written < 0) return false;
    if (month < 1 || month > 12 || day < 1 || day > 31) return false;
    return day <= MonthLength(month, FullYear(written, ys.size()));
}

bool IsValidDate(const std::string& text) {
    return text != TzCommon::EmptyDateString(DateStyle()) && ValidDate(text);
}

int32_t DateDiff(const std::string& a, const std::string& b) {
    TzCommon::ClearErrorWord();
    if (!IsValidDate(a) || !IsValidDate(b)) {
        TzCommon::SetError(TzErr::InvalidParameter, "[DateDiff(" + a + "," + b + ")]");
        return 0;
    }
    const DateParts pa = ParseDate(TzCommon::DateFromStyle(a));
    const DateParts pb = ParseDate(TzCommon::DateFromStyle(b));
    return JulianDay(pa.year, pa.month, pa.day) - JulianDay(pb.year, pb.month, pb.day);
}

int MonthLength(int month, int year) {
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kMonthDays[month - 1];
}

void PutDigits(char* out, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = char('0' + value % 10);
}

namespace {

// DateFrom of a date with a year of three or four digits, written straight into the style
// (such a year is written with four digits with or without the century flag).
std::string QuickDateFrom(int year, int month, int day) {
    char t[10];
    const int style = DateStyle();
    const char sep = TzCommon::kStyles[size_t(style)].separator;
    if (style == 1) {
        PutDigits(t, year, 4), t[4] = sep, PutDigits(t + 5, month, 2), t[7] = sep;
        PutDigits(t + 8, day, 2);
    } else {
        PutDigits(t, style == 0 ? month : day, 2), t[2] = sep;
        PutDigits(t + 3, style == 0 ? day : month, 2), t[5] = sep;
        PutDigits(t + 6, year, 4);
    }
    return std::string(t, sizeof t);
}

}  // namespace

std::string DateFrom(int year, int month, int day) {
    if (year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
        day <= MonthLength(month, year)) {
        TzCommon::ClearErrorWord();
        return QuickDateFrom(year, month, day);
    }
    int full = year;
    std::string yearText;
    char buf[32];
    if (year >= 0 && year <= 99) {
        full = TzCommon::EpochCentury(year) + year;
        std::snprintf(buf, sizeof buf, TzCommon::CenturyFlag() ? "%04d" : "%02d",
                      TzCommon::CenturyFlag() ? full : year);
    } else {
        std::snprintf(buf, sizeof buf, "%04d", year);
    }
    yearText = buf;
    // Besides months outside 1-12 and days outside 1-31 this refuses every day beyond its
    // month (30 February, 31 April), which ValidDate would refuse as well.
    if (year < 0 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > MonthLength(month, full)) {
        std::snprintf(buf, sizeof buf, ",%2d,%2d)]", month, day);
        TzCommon::SetError(TzErr::InvalidParameter, "[DateFrom(" + yearText + buf);
        return TzCommon::EmptyDateString(DateStyle());
    }
    TzCommon::ClearErrorWord();
    return TzCommon::DateToStyle(TwoDigits(month) + "/" + TwoDigits(day) + "/" + yearText);
}

int DOW(const std::string& text) {
    DateParts p;
    if (!ValidParts(text, &p)) return 0;
    int m = p.month, y = p.year;
    if (m < 3) {
        m += 12;
        --y;
    }
    const int k = y % 100, c = y / 100;
    int h = (p.day + (m + 1) * 26 / 10 + k + k / 4 + c / 4 - 2 * c) % 7;
    if (h < 0) h += 7;
    return h == 0 ? 7 : h;
}

std::string DTOS(const std::string& text) {
    DateParts p;
    if (BlankDate(text) || !ValidParts(text, &p)) return std::string(8, ' ');
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.year, p.month, p.day);
    return buf;
}

int DayNameWidth() {
    return kDayWidth[DateStyle()];
}
int MonthNameWidth() {
    return kMonthWidth[DateStyle()];
}

std::string DayNameOf(int dow) {
    if (dow < 1 || dow > 7) return std::string(DayNameWidth(), ' ');
    return Fixed(kDayNames[kStyleLanguage[DateStyle()]][dow - 1], DayNameWidth());
}

std::string MonthNameOf(int month) {
    if (month < 1 || month > 12) return std::string(MonthNameWidth(), ' ');
    return Fixed(kMonthNames[kStyleLanguage[DateStyle()]][month - 1], MonthNameWidth());
}

std::string DayName(const std::string& text) {
    if (BlankDate(text)) return std::string(10, ' ');
    return DayNameOf(DOW(text));
}

std::string MonthName(const std::string& text) {
    if (BlankDate(text)) return std::string(10, ' ');
    return MonthNameOf(MonthOf(text));
}

int MonthOf(const std::string& text) {
    std::string m, d, y;
    if (!InternalParts(TzCommon::DateFromStyle(text), &m, &d, &y)) return 0;
    return std::max(0, Number(m, true));
}

int DayOf(const std::string& text) {
    std::string m, d, y;
    if (!InternalParts(TzCommon::DateFromStyle(text), &m, &d, &y)) return 0;
    return std::max(0, Number(d, true));
}

int YearOf(const std::string& text) {
    std::string m, d, y;
    if (!InternalParts(TzCommon::DateFromStyle(text), &m, &d, &y)) return 0;
    return std::max(0, Number(y, true));
}

bool IsLeapYear(int year) {
    return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

bool IsFebLeapDay(int month, int year) {
    return month == 2 && IsLeapYear(year);
}

int DaysInMonth(const std::string& text) {
    std::string m, d, y;
    if (!InternalParts(TzCommon::DateFromStyle(text), &m, &d, &y)) return 0;
    const int written = std::max(0, Number(y, true));
    return MonthLength(Number(m, false), FullYear(written, y.size()));
}

std::string TodayText() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    int year = local.tm_year + 1900;
    if (!TzCommon::CenturyFlag()) year %= 100;
    return DateFrom(year, local.tm_mon + 1, local.tm_mday);
}

int32_t JulianDay(int year, int month, int day) {
    int32_t y = year, m = month;
    if (m < 3) {
        m += 12;
        y -= 1;
    }
    const int32_t j0 = (m + 1) * 153 / 5 + (y + (y < 0 ? 4717 : 4716)) * 1461 / 4 + day - 1524;
    const int32_t j = j0 + 2 - y / 100 + y / 400 - y / 4000;
    return j >= kGregorianStart ? j : j0;
}

// Exact for the years 1 to 9999. Days before 15 October 1582 count in the Julian calendar.
// From the year 4000 on the day numbers drop the one day every 4000 years that JulianDay
// leaves out; the search at the end lands on a date whose number is the one asked for.
// A day number after 31 December 9999 gives no date (all parts 0).
DateParts JulianToDate(int32_t dayNumber) {
    const int64_t jd = dayNumber;
    DateParts p;
    if (dayNumber > kLastJulianDay) return p;
    int64_t c, d, e, m, b = 0;
    if (jd >= kGregorianStart) {
        const int64_t a = jd + 32044;
        b = (4 * a + 3) / 146097;
        c = a - 146097 * b / 4;
    } else {
        c = jd + 32082;
    }
    d = (4 * c + 3) / 1461;
    e = c - 1461 * d / 4;
    m = (5 * e + 2) / 153;
    p.day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
    p.month = static_cast<int>(m + 3 - 12 * (m / 10));
    p.year = static_cast<int>(100 * b + d - 4800 + m / 10);
    if (jd >= kGregorianStart) {
        for (int i = 0; i < 16 && JulianDay(p.year, p.month, p.day) < dayNumber; ++i)
            p = NextDay(p);
        for (int i = 0; i < 16 && JulianDay(p.year, p.month, p.day) > dayNumber; ++i)
            p = PriorDay(p);
    }
    return p;
}

}  // namespace TimeDate
