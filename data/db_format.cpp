#include "data/db_format.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "storage/tz_utils.h"

namespace Db {

TFormatSettings& FormatSettings() {
    static TFormatSettings settings;
    return settings;
}

// ---- Dates -------------------------------------------------------------------------------

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

constexpr int64_t kUnixToDelphi = 25569;  // days from 1899-12-30 to 1970-01-01

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

std::string Pad(int value, int width) {
    std::string s = std::to_string(value);
    while (static_cast<int>(s.size()) < width) s.insert(s.begin(), '0');
    return s;
}

int CurrentYear() {
    int y, m, d;
    DecodeDate(Today(), y, m, d);
    return y;
}

}  // namespace

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return false;
    out = static_cast<double>(DaysFromCivil(year, month, day) + kUnixToDelphi);
    return true;
}

TDateTime EncodeDate(int year, int month, int day) {
    TDateTime out;
    if (!TryEncodeDate(year, month, day, out))
        throw EConvertError("Invalid argument to date encode");
    return out;
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
    int64_t days = static_cast<int64_t>(std::floor(value));
    CivilFromDays(days - kUnixToDelphi, year, month, day);
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
    return (((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + msec) / MSecsPerDay;
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& msec) {
    double frac = value - std::floor(value);
    int64_t ms = std::llround(frac * MSecsPerDay);
    if (ms >= 86400000) ms = 86399999;
    hour = static_cast<int>(ms / 3600000);
    minute = static_cast<int>(ms / 60000 % 60);
    second = static_cast<int>(ms / 1000 % 60);
    msec = static_cast<int>(ms % 1000);
}

TDateTime Now() {
    std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           EncodeTime(local.tm_hour, local.tm_min, local.tm_sec, 0);
}

TDateTime Today() {
    return std::floor(Now());
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
    int y, mo, d, h, mi, s, ms;
    DecodeDate(value, y, mo, d);
    DecodeTime(value, h, mi, s, ms);
    const TFormatSettings& fs = FormatSettings();
    std::string out;
    bool afterHour = false;
    size_t i = 0;
    while (i < format.size()) {
        char c = format[i];
        char lc = Lower(c);
        size_t run = 1;
        while (i + run < format.size() && Lower(format[i + run]) == lc) ++run;
        if (c == '"' || c == '\'') {
            size_t end = format.find(c, i + 1);
            if (end == std::string::npos) end = format.size();
            out += format.substr(i + 1, end - i - 1);
            i = end + 1;
            continue;
        }
        switch (lc) {
            case 'y':
                out += run >= 3 ? Pad(y, 4) : Pad(y % 100, 2);
                break;
            case 'm':
                if (afterHour)
                    out += run >= 2 ? Pad(mi, 2) : std::to_string(mi);
                else
                    out += run >= 2 ? Pad(mo, 2) : std::to_string(mo);
                afterHour = false;
                break;
            case 'd':
                out += run >= 2 ? Pad(d, 2) : std::to_string(d);
                break;
            case 'h':
                out += run >= 2 ? Pad(h, 2) : std::to_string(h);
                afterHour = true;
                i += run;
                continue;
            case 'n':
                out += run >= 2 ? Pad(mi, 2) : std::to_string(mi);
                break;
            case 's':
                out += run >= 2 ? Pad(s, 2) : std::to_string(s);
                break;
            case 'z':
                out += run >= 3 ? Pad(ms, 3) : std::to_string(ms);
                break;
            case '/':
                out.append(run, fs.DateSeparator);
                break;
            case ':':
                out.append(run, fs.TimeSeparator);
                break;
            default:
                out.append(run, c);
                i += run;
                continue;  // literals keep an hour code's claim on a following m
        }
        if (lc != 'h') afterHour = afterHour && (lc == ':' || lc == ' ');
        i += run;
    }
    return out;
}

std::string DateToStr(TDateTime value) {
    return FormatDateTime(FormatSettings().ShortDateFormat, value);
}

std::string DateTimeToStr(TDateTime value) {
    std::string out = DateToStr(value);
    if (value != std::floor(value))
        out += " " + FormatDateTime(FormatSettings().LongTimeFormat, value);
    return out;
}

namespace {

bool ParseTime(const std::string& text, TDateTime& out) {
    int parts[3] = {0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (i < text.size() && count < 3) {
        if (text[i] < '0' || text[i] > '9') return false;
        int v = 0, digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 3) {
            v = v * 10 + (text[i] - '0');
            ++i;
            ++digits;
        }
        parts[count++] = v;
        if (i < text.size()) {
            if (text[i] != ':' && text[i] != FormatSettings().TimeSeparator) return false;
            ++i;
            if (i == text.size()) return false;
        }
    }
    if (i != text.size() || count < 2) return false;
    if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return false;
    out = EncodeTime(parts[0], parts[1], parts[2], 0);
    return true;
}

// Order of day, month and year ("dmy") from the short date format.
std::string DateOrder() {
    std::string order;
    for (char c : FormatSettings().ShortDateFormat) {
        char lc = Lower(c);
        if ((lc == 'd' || lc == 'm' || lc == 'y') && order.find(lc) == std::string::npos)
            order += lc;
    }
    return order.size() == 3 ? order : "dmy";
}

// A date as typed, without blanks (a masked edit leaves blanks where a part was typed short:
// "1 -2 -26"); six or eight digits alone ("311226", "31122026") get the separators put in,
// in the order of the short date format.
std::string WithSeparators(const std::string& typed) {
    std::string text;
    for (char c : typed)
        if (c != ' ') text += c;
    if ((text.size() != 6 && text.size() != 8) ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return text;
    const size_t yearDigits = text.size() - 4;
    std::string out;
    size_t at = 0;
    for (char part : DateOrder()) {
        const size_t n = part == 'y' ? yearDigits : 2;
        if (!out.empty()) out += '-';
        out += text.substr(at, n);
        at += n;
    }
    return out;
}

bool ParseDate(const std::string& typed, TDateTime& out) {
    const TFormatSettings& fs = FormatSettings();
    const std::string text = WithSeparators(typed);
    int values[3] = {0, 0, 0};
    int digitsTyped[3] = {0, 0, 0};
    int count = 0;
    size_t i = 0;
    while (i < text.size()) {
        if (count == 3) return false;
        if (text[i] < '0' || text[i] > '9') return false;
        int v = 0, digits = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            if (++digits > 4) return false;
            v = v * 10 + (text[i] - '0');
            ++i;
        }
        values[count] = v;
        digitsTyped[count] = digits;
        ++count;
        if (i < text.size()) {
            char sep = text[i];
            if (sep != fs.DateSeparator && sep != '/' && sep != '.' && sep != '-') return false;
            ++i;
            if (i == text.size()) return false;  // a separator must be followed by digits
        }
    }
    if (count < 2) return false;
    const std::string order = DateOrder();
    int day = 0, month = 0, year = 0, yearDigits = 4;
    if (count == 2) {
        // The year is left out: the remaining two keep their relative order.
        std::string dm;
        for (char c : order)
            if (c != 'y') dm += c;
        for (int k = 0; k < 2; ++k) (dm[k] == 'd' ? day : month) = values[k];
        year = CurrentYear();
    } else {
        for (int k = 0; k < 3; ++k) {
            if (order[k] == 'd')
                day = values[k];
            else if (order[k] == 'm')
                month = values[k];
            else {
                year = values[k];
                yearDigits = digitsTyped[k];
            }
        }
        if (yearDigits <= 2) {
            int current = CurrentYear();
            year += current / 100 * 100;
            int window = fs.TwoDigitYearCenturyWindow;
            if (window > 0 && year < current - window)
                year += 100;
            else if (window > 0 && year > current - window + 99)
                year -= 100;
        }
    }
    return TryEncodeDate(year, month, day, out);
}

}  // namespace

bool TryStrToDate(const std::string& text, TDateTime& out) {
    return ParseDate(TzUtils::TrimSpacesTabs(text), out);
}

bool TryStrToDateTime(const std::string& text, TDateTime& out) {
    std::string t = TzUtils::TrimSpacesTabs(text);
    size_t blank = t.find(' ');
    if (blank == std::string::npos) return ParseDate(t, out);
    TDateTime date, time;
    if (!ParseDate(t.substr(0, blank), date) ||
        !ParseTime(TzUtils::TrimSpacesTabs(t.substr(blank + 1)), time))
        return false;
    out = date + time;
    return true;
}

TDateTime StrToDate(const std::string& text) {
    TDateTime out;
    if (!TryStrToDate(text, out)) throw EConvertError(FormatMessage(SInvalidDate, {text}));
    return out;
}

TDateTime StrToDateTime(const std::string& text) {
    TDateTime out;
    if (!TryStrToDateTime(text, out)) throw EConvertError(FormatMessage(SInvalidDateTime, {text}));
    return out;
}

// ---- Numbers -----------------------------------------------------------------------------

namespace {

// value = 0.d1 d2 d3 ... x 10^(exp + 1), i.e. d1 is the digit of 10^exp.
struct Decimal {
    bool neg = false;
    std::string digits;
    int exp = 0;
};

Decimal FromDouble(double v, int precision) {
    if (precision < 1) precision = 1;
    if (precision > 18) precision = 18;
    char buf[64];
    *std::to_chars(buf, buf + sizeof buf - 1, v, std::chars_format::scientific, precision - 1).ptr =
        '\0';
    Decimal d;
    const char* p = buf;
    if (*p == '-') {
        d.neg = true;
        ++p;
    }
    for (; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') d.digits += *p;
    if (*p == 'e') d.exp = std::atoi(p + 1);
    return d;
}

Decimal FromCurrency(int64_t v) {
    Decimal d;
    d.neg = v < 0;
    uint64_t a = d.neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    d.digits = std::to_string(a);
    d.exp = static_cast<int>(d.digits.size()) - 1 - 4;
    return d;
}

// Rounds half away from zero to `decimals` places; gives the integer and fraction digits.
void ToFixed(const Decimal& d, int decimals, std::string& intPart, std::string& frac) {
    std::string digs = d.digits;
    int exp = d.exp;
    int keep = exp + 1 + decimals;
    if (keep < 0) {
        intPart = "0";
        frac.assign(decimals, '0');
        return;
    }
    if (keep < static_cast<int>(digs.size())) {
        bool up = digs[keep] >= '5';
        digs.resize(keep);
        if (up) {
            int k = keep - 1;
            while (k >= 0 && digs[k] == '9') digs[k--] = '0';
            if (k >= 0) {
                ++digs[k];
            } else {
                digs.insert(digs.begin(), '1');
                ++exp;
            }
        }
    } else {
        digs.append(keep - digs.size(), '0');
    }
    int intDigits = exp + 1;
    if (intDigits <= 0) {
        intPart = "0";
        frac = std::string(-intDigits, '0') + digs;
        frac.resize(decimals, '0');
    } else {
        intPart = digs.substr(0, intDigits);
        frac = digs.substr(intDigits);
    }
    size_t nz = intPart.find_first_not_of('0');
    intPart = nz == std::string::npos ? "0" : intPart.substr(nz);
}

std::string Group(const std::string& intPart) {
    char sep = FormatSettings().ThousandSeparator;
    std::string out;
    int n = static_cast<int>(intPart.size());
    for (int i = 0; i < n; ++i) {
        out += intPart[i];
        int left = n - 1 - i;
        if (left > 0 && left % 3 == 0 && sep) out += sep;
    }
    return out;
}

bool AllZero(const std::string& a, const std::string& b) {
    return a.find_first_not_of('0') == std::string::npos &&
           b.find_first_not_of('0') == std::string::npos;
}

std::string FixedText(const Decimal& d, TFloatFormat format, int digits) {
    if (digits < 0) digits = 0;
    if (digits > 18) digits = 18;
    std::string intPart, frac;
    ToFixed(d, digits, intPart, frac);
    bool neg = d.neg && !AllZero(intPart, frac);
    std::string body = format == ffFixed ? intPart : Group(intPart);
    if (digits > 0) body += FormatSettings().DecimalSeparator + frac;
    if (format != ffCurrency) return neg ? "-" + body : body;
    static const char* const positive[] = {"$1", "1$", "$ 1", "1 $"};
    static const char* const negative[] = {"($1)", "-$1",  "$-1",   "$1-",  "(1$)", "-1$",
                                           "1-$",  "1$-",  "-1 $",  "-$ 1", "1 $-", "$ 1-",
                                           "$ -1", "1- $", "($ 1)", "(1 $)"};
    const TFormatSettings& fs = FormatSettings();
    const char* pattern = neg ? negative[fs.NegCurrFormat & 15] : positive[fs.CurrencyFormat & 3];
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (*p == '$')
            out += fs.CurrencyString;
        else if (*p == '1')
            out += body;
        else
            out += *p;
    }
    return out;
}

std::string GeneralText(double value, int precision) {
    if (precision < 1 || precision > 18) precision = 15;
    char buf[64];
    *std::to_chars(buf, buf + sizeof buf - 1, value, std::chars_format::general, precision).ptr =
        '\0';
    std::string out;
    for (const char* p = buf; *p; ++p) {
        if (*p == '.')
            out += FormatSettings().DecimalSeparator;
        else
            out += *p >= 'a' && *p <= 'z' ? static_cast<char>(*p - 32) : *p;
    }
    return out;
}

// One section of a FormatFloat pattern.
std::string FormatSection(const std::string& section, const Decimal& value, bool withSign) {
    std::string prefix, suffix;
    int intZeros = 0, fracZeros = 0, fracAll = 0;
    bool point = false, thousands = false, anyPlaceholder = false, firstZeroSeen = false;
    for (size_t i = 0; i < section.size(); ++i) {
        char c = section[i];
        if (c == '"' || c == '\'') {
            size_t end = section.find(c, i + 1);
            if (end == std::string::npos) end = section.size();
            (anyPlaceholder ? suffix : prefix) += section.substr(i + 1, end - i - 1);
            i = end;
            continue;
        }
        if (c == '0' || c == '#') {
            if (!suffix.empty()) suffix.clear();  // literals between placeholders are dropped
            anyPlaceholder = true;
            if (point) {
                ++fracAll;
                if (c == '0') fracZeros = fracAll;
            } else {
                if (c == '0') firstZeroSeen = true;
                if (firstZeroSeen) ++intZeros;
            }
        } else if (c == '.' && !point) {
            point = true;
            if (!anyPlaceholder) anyPlaceholder = true;
        } else if (c == ',' && anyPlaceholder && !point) {
            thousands = true;
        } else {
            (anyPlaceholder ? suffix : prefix) += c;
        }
    }
    if (!anyPlaceholder) return prefix;
    std::string intPart, frac;
    ToFixed(value, fracAll, intPart, frac);
    bool neg = withSign && value.neg && !AllZero(intPart, frac);
    while (static_cast<int>(frac.size()) > fracZeros && !frac.empty() && frac.back() == '0')
        frac.pop_back();
    if (intPart == "0" && intZeros == 0) intPart.clear();
    while (static_cast<int>(intPart.size()) < intZeros) intPart.insert(intPart.begin(), '0');
    if (thousands) intPart = Group(intPart);
    std::string out = prefix + (neg ? "-" : "") + intPart;
    if (!frac.empty()) out += FormatSettings().DecimalSeparator + frac;
    return out + suffix;
}

std::vector<std::string> Sections(const std::string& format) {
    std::vector<std::string> out(1);
    char quote = 0;
    for (char c : format) {
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == ';') {
            out.emplace_back();
            continue;
        }
        out.back() += c;
    }
    return out;
}

std::string FormatDecimal(const std::string& format, Decimal value, bool isZero) {
    std::vector<std::string> sections = Sections(format);
    if (isZero && sections.size() >= 3 && !sections[2].empty())
        return FormatSection(sections[2], value, false);
    if (value.neg && sections.size() >= 2 && !sections[1].empty())
        return FormatSection(sections[1], value, false);
    return FormatSection(sections[0], value, true);
}

}  // namespace

std::string FloatToStrF(double value, TFloatFormat format, int precision, int digits) {
    if (!std::isfinite(value)) return std::isnan(value) ? "NAN" : (value > 0 ? "INF" : "-INF");
    if (format == ffGeneral || format == ffExponent) return GeneralText(value, precision);
    if (precision < 1 || precision > 18) precision = 15;
    if (value != 0 && std::fabs(value) >= std::pow(10.0, precision))
        return GeneralText(value, precision);
    return FixedText(FromDouble(value, precision), format, digits);
}

std::string FloatToStr(double value) {
    return FloatToStrF(value, ffGeneral, 15, 0);
}

namespace {

// Plain digits with an optional sign and "." decimals, grouped as the program shows numbers.
std::string Grouped(const std::string& plain) {
    const size_t start = !plain.empty() && plain[0] == '-' ? 1 : 0;
    const size_t point = std::min(plain.find('.'), plain.size());
    std::string out = plain.substr(0, start);
    for (size_t i = start; i < point; ++i) {
        if (i > start && (point - i) % 3 == 0) out += FormatSettings().ThousandSeparator;
        out += plain[i];
    }
    if (point < plain.size()) out += FormatSettings().DecimalSeparator + plain.substr(point + 1);
    return out;
}

}  // namespace

std::string NumberText(double value) {
    if (!std::isfinite(value)) return FloatToStr(value);
    char buf[400];
    const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return Grouped(std::string(buf, r.ptr));
}

std::string NumberText(int64_t value) {
    return Grouped(std::to_string(value));
}

std::string CurrToStrF(int64_t value, TFloatFormat format, int digits) {
    if (format == ffGeneral || format == ffExponent) {
        std::string s = FixedText(FromCurrency(value), ffFixed, 4);
        size_t sep = s.find(FormatSettings().DecimalSeparator);
        while (s.back() == '0') s.pop_back();
        if (s.size() == sep + 1) s.pop_back();
        return s;
    }
    return FixedText(FromCurrency(value), format, digits);
}

std::string FormatFloat(const std::string& format, double value) {
    if (!std::isfinite(value)) return FloatToStr(value);
    if (format.empty()) return FloatToStr(value);
    return FormatDecimal(format, FromDouble(value, 15), value == 0);
}

std::string FormatCurr(const std::string& format, int64_t value) {
    if (format.empty()) return CurrToStrF(value, ffGeneral, 0);
    return FormatDecimal(format, FromCurrency(value), value == 0);
}

bool TryStrToFloat(const std::string& text, double& out) {
    std::string t = TzUtils::TrimSpacesTabs(text);
    if (t.empty()) return false;
    for (char& c : t) {
        if (c == FormatSettings().DecimalSeparator)
            c = '.';
        else if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' ||
                   c == 'E'))
            return false;
    }
    // Never strtod: it reads the decimal point of the process locale.
    const char* begin = t.data() + (t[0] == '+' ? 1 : 0);
    const char* end = t.data() + t.size();
    if (begin < end && (*begin == '+' || (*begin == '-' && begin != t.data()))) return false;
    double v = 0;
    auto r = std::from_chars(begin, end, v);
    if (r.ec == std::errc::result_out_of_range) {
        // Too small reads as (nearly) 0, too large fails below, as strtod has it.
        long double wide = 0;
        r = std::from_chars(begin, end, wide);
        v = static_cast<double>(wide);
    }
    if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return false;
    out = v;
    return true;
}

bool TryStrToInt64(const std::string& text, int64_t& out) {
    std::string t = TzUtils::TrimSpacesTabs(text);
    if (t.empty()) return false;
    size_t i = 0;
    bool neg = false;
    if (t[0] == '-' || t[0] == '+') {
        neg = t[0] == '-';
        i = 1;
    }
    if (i == t.size()) return false;
    uint64_t v = 0;
    const uint64_t limit = neg ? 9223372036854775808ull : 9223372036854775807ull;
    for (; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return false;
        uint64_t digit = static_cast<uint64_t>(t[i] - '0');
        if (v > (limit - digit) / 10) return false;
        v = v * 10 + digit;
    }
    out = neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

int64_t FloatToCurr(double value) {
    double scaled = std::nearbyint(value * 10000.0);
    if (!std::isfinite(scaled) || scaled >= 9223372036854775807.0 ||
        scaled < -9223372036854775808.0)
        throw EConvertError(FormatMessage(SInvalidCurrency, {FloatToStr(value)}));
    return static_cast<int64_t>(scaled);
}

double CurrToFloat(int64_t value) {
    return static_cast<double>(value) / 10000.0;
}

}  // namespace Db
