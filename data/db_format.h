// The program's own format settings (never the Linux locale) and the conversions of dates
// and numbers between values and user-facing text that fields use for display and entry.
// Table bytes never go through these: numbers stored in table fields always use ".".
// One process-wide settings record; single-threaded.
#pragma once

#include <cstdint>
#include <string>

#include "data/db_types.h"

namespace Db {

struct TFormatSettings {
    char DecimalSeparator = ',';
    char ThousandSeparator = ' ';
    char DateSeparator = '-';
    char TimeSeparator = ':';
    std::string ShortDateFormat = "dd-MM-yyyy";  // codes are case-insensitive
    std::string LongTimeFormat = "hh:nn:ss";
    std::string CurrencyString = "kr.";
    int CurrencyFormat = 2;  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $"
    int NegCurrFormat = 12;  // the sixteen Windows patterns; 12 is "$ -1"
    int CurrencyDecimals = 2;
    int TwoDigitYearCenturyWindow = 50;
};

// The settings in force; tests and start-up code may change them.
TFormatSettings& FormatSettings();

// Dates. A TDateTime counts days from 30 December 1899; the native form of a date field is
// the day number with 1 January of year 1 as day 1 (so TDateTime 0 is day DateDelta).
constexpr int DateDelta = 693594;
constexpr double MSecsPerDay = 86400000.0;

bool TryEncodeDate(int year, int month, int day, TDateTime& out);
TDateTime EncodeDate(int year, int month, int day);  // EConvertError on an invalid date
void DecodeDate(TDateTime value, int& year, int& month, int& day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec);
TDateTime Now();
TDateTime Today();

// Format codes (case-insensitive): d dd yy yyyy m mm (minutes right after an hour code)
// h hh n nn s ss zzz, "/" the date separator, ":" the time separator, quoted literals.
std::string FormatDateTime(const std::string& format, TDateTime value);
std::string DateToStr(TDateTime value);
std::string DateTimeToStr(TDateTime value);  // the time part only when it is not midnight
// Parses day, month and year in the order of ShortDateFormat, separated by the date
// separator, "/", "." or "-" (blanks ignored), or as six or eight digits alone ("311226",
// "31122026"); a
// missing year is the current one, a year of one or two digits gets its century from the
// two-digit-year window. A time may follow the date.
bool TryStrToDate(const std::string& text, TDateTime& out);
bool TryStrToDateTime(const std::string& text, TDateTime& out);
TDateTime StrToDate(const std::string& text);  // EConvertError SInvalidDate
TDateTime StrToDateTime(const std::string& text);

// Numbers.
enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// The value is first taken to `precision` significant digits and then rounded half away
// from zero to `digits` decimals (ffFixed, ffNumber, ffCurrency).
std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits);
std::string FloatToStr(double value);
// A number for a message to the user: the shortest text that reads back as the value, in the
// program's number format (thousands separator between groups of three digits, the decimal
// separator), never in the exponent form.
std::string NumberText(double value);
std::string NumberText(int64_t value);
// Money, a signed count of ten-thousandths, formatted exactly.
std::string CurrToStrF(int64_t value, TFloatFormat format, int digits);
// Format strings with sections "positive;negative;zero" made of 0 # . , and literal text.
std::string FormatFloat(const std::string& format, double value);
std::string FormatCurr(const std::string& format, int64_t value);

// Accepts the decimal separator or "."; surrounding blanks are ignored.
bool TryStrToFloat(const std::string& text, double& out);
bool TryStrToInt64(const std::string& text, int64_t& out);

// Money from a floating value: rounded to the nearest ten-thousandth, ties to even.
// EConvertError for a value that is not finite or out of range.
int64_t FloatToCurr(double value);
double CurrToFloat(int64_t value);

}  // namespace Db
