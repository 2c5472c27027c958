// Numeric and date keys, date texts, string and list helpers and the sound code.
#include "expr/key_encoding.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "storage/dates.h"
#include "storage/num_text.h"

namespace TzKey {

// ---------------------------------------------------------------------------------------
// Numeric keys

void TextToBcd(uint8_t* key, const char* text, size_t length, int decimals) {
    std::memset(key, 0, kBcdSize);
    size_t i = 0;
    auto at = [&](size_t k) -> char { return k < length ? text[k] : '\0'; };
    while (at(i) == ' ') ++i;
    bool negative = false;
    if (at(i) == '+') {
        ++i;
    } else if (at(i) == '-') {
        negative = true;
        ++i;
    }
    while (at(i) == ' ' || at(i) == '0') ++i;
    int exponent = kBcdBias;
    bool point = false;
    if (at(i) == '.') {
        point = true;
        ++i;
        int zeros = 0;
        while (at(i) == '0') {
            ++zeros;
            ++i;
        }
        exponent -= zeros;
    }
    int digits = 0;
    int trailing = 0;
    for (;;) {
        char c = at(i);
        if (c == '.') {
            if (point) break;
            point = true;
            ++i;
            continue;
        }
        if (c < '0' || c > '9' || digits >= kBcdMaxDigits) break;
        int v = c - '0';
        key[kBcdDigits + digits / 2] |= static_cast<uint8_t>(digits % 2 == 0 ? v << 4 : v);
        ++digits;
        if (!point) ++exponent;
        trailing = v == 0 ? trailing + 1 : 0;
        ++i;
    }
    key[kBcdFlags] |= 1;
    int minimum = 10;
    if (point && decimals > trailing) {
        minimum = 0;
        trailing = 0;
    }
    int count = digits - trailing;
    if (count != 0 && count < minimum) count = minimum;
    if (count > kBcdMaxDigits) count = kBcdMaxDigits;
    if (count == 0) {
        // Zero, however it was written: one encoding, never negative.
        std::memset(key, 0, kBcdSize);
        key[kBcdExponent] = kBcdBias;
        key[kBcdFlags] = 1;
        return;
    }
    if (exponent < 0) exponent = 0;
    if (exponent > 255) exponent = 255;
    key[kBcdExponent] = static_cast<uint8_t>(exponent);
    key[kBcdFlags] |= static_cast<uint8_t>(count << 2);
    if (negative) key[kBcdFlags] |= kBcdSignBit;
}

void DoubleToBcd(uint8_t* key, int decimals, double value) {
    char text[640];
    int n = FormatDecimal(value, decimals, true, text, sizeof text);
    if (n < 0) n = 0;
    TextToBcd(key, text, static_cast<size_t>(n), decimals);
}

int CompareBcd(const uint8_t* a, const uint8_t* b) {
    bool negA = (a[kBcdFlags] & kBcdSignBit) != 0;
    bool negB = (b[kBcdFlags] & kBcdSignBit) != 0;
    if (negA != negB) return negA ? -1 : 1;
    int countA = BcdDigitCount(a);
    int countB = BcdDigitCount(b);
    int expA = countA ? a[kBcdExponent] : 0;
    int expB = countB ? b[kBcdExponent] : 0;
    if (expA != expB) {
        int r = expA > expB ? 1 : -1;
        return negA ? -r : r;
    }
    int n = countA > countB ? countA : countB;
    size_t bytes = static_cast<size_t>((n + 1) / 2);
    if (bytes > kBcdSize - kBcdDigits) bytes = kBcdSize - kBcdDigits;
    return negA ? CompareBytes(b + kBcdDigits, a + kBcdDigits, bytes)
                : CompareBytes(a + kBcdDigits, b + kBcdDigits, bytes);
}

int CompareDouble(double a, double b) {
    if (a == b) return 0;
    return a > b ? 1 : -1;
}

int CompareBytes(const void* p, const void* q, size_t n) {
    const auto* a = static_cast<const uint8_t*>(p);
    const auto* b = static_cast<const uint8_t*>(q);
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
    }
    return 0;
}

// ---------------------------------------------------------------------------------------
// Number texts

int FormatDecimal(double x, int decimals, bool roundHalfUp, char* out, size_t cap) {
    if (decimals < 0) decimals = 0;
    if (decimals > 255) decimals = 255;
    if (!std::isfinite(x)) {
        const char* t = std::isnan(x) ? "nan" : (x < 0 ? "-inf" : "inf");
        size_t n = std::strlen(t);
        if (n + 1 > cap) return -1;
        std::memcpy(out, t, n + 1);
        return static_cast<int>(n);
    }
    // Rounding is the one rule of field texts (tz::FormatRounded), so a value stores, prints
    // and keys alike.
    if (roundHalfUp) return tz::FormatRounded(out, cap, 0, decimals, x);
    if (std::fabs(x) < 1e15 && x == std::trunc(x)) {
        // Whole numbers: digits straight from the integer.
        long long v = static_cast<long long>(x);
        bool neg = v < 0;
        unsigned long long u =
            neg ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        char digits[24];
        int nd = 0;
        do {
            digits[nd++] = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u);
        size_t total = (neg ? 1u : 0u) + static_cast<size_t>(nd) +
                       (decimals ? static_cast<size_t>(decimals) + 1 : 0);
        if (total + 1 > cap) return -1;
        char* o = out;
        if (neg) *o++ = '-';
        while (nd) *o++ = digits[--nd];
        if (decimals) {
            *o++ = '.';
            std::memset(o, '0', static_cast<size_t>(decimals));
            o += decimals;
        }
        *o = '\0';
        return static_cast<int>(o - out);
    }
    // Cut: 15 significant digits, d.dddddddddddddde+XX
    char sci[48];
    auto res = std::to_chars(sci, sci + sizeof sci - 1, x, std::chars_format::scientific, 14);
    *res.ptr = '\0';
    const char* p = sci;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    char digits[17];  // one spare place in front for a carry
    int nd = 0;
    digits[nd++] = '0';
    for (; *p && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9' && nd < 16) digits[nd++] = *p;
    }
    int exponent = (*p == 'e') ? std::atoi(p + 1) : 0;
    // digits[1..15] hold d1 d2 ...; the decimal point lies after digit number `point`,
    // counted in digits[] (the carry place makes it one more).
    int point = exponent + 2;
    int keep = point + decimals;  // digits[0..keep) survive
    if (keep < 1) {
        nd = 1;
        digits[0] = '0';
    } else if (keep < nd) {
        nd = keep;
    }
    bool allZero = true;
    for (int k = 0; k < nd; ++k) {
        if (digits[k] != '0') allZero = false;
    }
    if (allZero) negative = false;
    // Leading zeros of the integer part (the carry place among them).
    int first = 0;
    while (first < point - 1 && first < nd && digits[first] == '0') ++first;
    int intLen = point - first;
    if (intLen < 1) intLen = 1;
    size_t total = (negative ? 1u : 0u) + static_cast<size_t>(intLen) +
                   (decimals ? static_cast<size_t>(decimals) + 1 : 0);
    if (total + 1 > cap) return -1;
    char* o = out;
    if (negative) *o++ = '-';
    auto digitAt = [&](int k) -> char { return (k >= 0 && k < nd) ? digits[k] : '0'; };
    if (point - first < 1) {
        *o++ = '0';
    } else {
        for (int k = first; k < point; ++k) *o++ = digitAt(k);
    }
    if (decimals) {
        *o++ = '.';
        for (int k = point; k < point + decimals; ++k) *o++ = digitAt(k);
    }
    *o = '\0';
    return static_cast<int>(o - out);
}

double ParseNumber(const char* text, size_t length) {
    size_t i = 0;
    while (i < length && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < length && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    size_t start = i;
    // Fast path: up to 15 digits with an optional fraction and nothing after them.
    uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    bool point = false;
    size_t j = i;
    for (; j < length; ++j) {
        char c = text[j];
        if (c >= '0' && c <= '9') {
            mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
            ++digits;
            if (point) ++fraction;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    bool plain = j == length || text[j] == ' ' || text[j] == '\0';
    if (digits == 0 && !(j < length && (text[j] == 'e' || text[j] == 'E'))) return 0.0;
    if (plain && digits > 0 && digits <= 15) {
        static const double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        double v = static_cast<double>(mantissa) / kPow10[fraction];
        return negative ? -v : v;
    }
    // General path: the longest number prefix through from_chars.
    char buf[128];
    size_t n = 0;
    for (size_t k = start; k < length && n + 1 < sizeof buf; ++k) {
        char c = text[k];
        if (c == '\0') break;
        buf[n++] = c;
    }
    buf[n] = '\0';
    double v = 0.0;
    auto res = std::from_chars(buf, buf + n, v, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // Keep the sign of the magnitude that did not fit.
        v = tz::ParseDouble(buf, n);
    } else if (res.ec != std::errc()) {
        v = 0.0;
    }
    return negative ? -v : v;
}

// ---------------------------------------------------------------------------------------
// String helpers

std::string PCharToStr(const char* s, size_t n) {
    return std::string(s, ::strnlen(s, n));
}

uint8_t UpperAscii(uint8_t c) {
    return (c >= 'a' && c <= 'z') ? static_cast<uint8_t>(c - 32) : c;
}

bool IsUpperLetter(uint8_t c) {
    return c >= 'A' && c <= 'Z';
}

std::string ZeroPadInt(long value, int width) {
    std::string s = std::to_string(value);
    if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), '0');
    return s;
}

void ReverseBytes(uint8_t* p, size_t n) {
    if (n < 2) return;
    for (size_t i = 0, j = n - 1; i < j; ++i, --j) {
        uint8_t t = p[i];
        p[i] = p[j];
        p[j] = t;
    }
}

void SwapBlocks(uint8_t* p, size_t m, size_t n) {
    if (m == 0 || n == 0) return;
    ReverseBytes(p, m);
    ReverseBytes(p + m, n);
    ReverseBytes(p, m + n);
}

// ---------------------------------------------------------------------------------------
// Circular list

void* AllocNode(ListNode*& list, size_t size) {
    size_t total = sizeof(ListNode) + size;
    auto* node = static_cast<ListNode*>(std::calloc(1, total));
    if (!node) return nullptr;
    node->size = static_cast<uint32_t>(total);
    LinkNode(list, node);
    return PayloadOf(node);
}

ListNode* NodeOf(void* payload) {
    return payload ? reinterpret_cast<ListNode*>(static_cast<char*>(payload) - sizeof(ListNode))
                   : nullptr;
}

void* PayloadOf(ListNode* node) {
    return node ? reinterpret_cast<char*>(node) + sizeof(ListNode) : nullptr;
}

void LinkNode(ListNode*& list, ListNode* node) {
    if (!list) {
        node->next = node->prev = node;
    } else {
        node->next = list;
        node->prev = list->prev;
        list->prev->next = node;
        list->prev = node;
    }
    list = node;
}

void UnlinkNode(ListNode*& list, ListNode* node) {
    if (node->next == node) {
        if (list == node) list = nullptr;
    } else {
        node->prev->next = node->next;
        node->next->prev = node->prev;
        if (list == node) list = node->next;
    }
    node->next = node->prev = node;
}

ListNode* NextNode(ListNode* node) {
    return node ? node->next : nullptr;
}

void FreeNode(ListNode*& list, void* payload) {
    ListNode* node = NodeOf(payload);
    if (!node) return;
    UnlinkNode(list, node);
    std::free(node);
}

void FreeList(ListNode*& list) {
    while (list) {
        ListNode* node = list;
        UnlinkNode(list, node);
        std::free(node);
    }
}

// ---------------------------------------------------------------------------------------
// Calendar

namespace {
const int kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

inline void Put2(char* o, int v) {
    o[0] = static_cast<char>('0' + (v / 10) % 10);
    o[1] = static_cast<char>('0' + v % 10);
}
inline void Put4(char* o, int v) {
    o[0] = static_cast<char>('0' + (v / 1000) % 10);
    o[1] = static_cast<char>('0' + (v / 100) % 10);
    o[2] = static_cast<char>('0' + (v / 10) % 10);
    o[3] = static_cast<char>('0' + v % 10);
}
}  // namespace

int DayOfYear(int y, int m, int d) {
    if (y < 0 || m < 1 || m > 12 || d < 1) return -1;
    bool leap = TimeDate::IsLeapYear(y);
    int days = kMonthDays[m - 1] + (m == 2 && leap ? 1 : 0);
    if (d > days) return -1;
    return kDaysBeforeMonth[m - 1] + d + (m > 2 && leap ? 1 : 0);
}

long DaysBeforeYear(int y) {
    if (y < 2) return 0;
    long p = y - 1;
    return p * 365 + p / 4 - p / 100 + p / 400;
}

void MonthDayOf(int dayOfYear, bool leap, int* month, int* day) {
    int n = dayOfYear;
    if (leap) {
        if (n == 60) {
            *month = 2;
            *day = 29;
            return;
        }
        if (n > 60) --n;
    }
    int m = 12;
    while (m > 1 && n <= kDaysBeforeMonth[m - 1]) --m;
    *month = m;
    *day = n - kDaysBeforeMonth[m - 1];
}

double YmdToDayNumber(int y, int m, int d) {
    int doy = DayOfYear(y, m, d);
    if (doy < 0) return kBlankDate;
    return static_cast<double>(DaysBeforeYear(y) + doy) + kDayNumberBase;
}

double DateFieldToDayNumber(const char* text) {
    int v[8];
    for (int i = 0; i < 8; ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return kBlankDate;  // blanks or damage: the blank date
        v[i] = c - '0';
    }
    int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    int m = v[4] * 10 + v[5];
    int d = v[6] * 10 + v[7];
    return YmdToDayNumber(y, m, d);
}

bool DayNumberToYmd(double dayNumber, int* y, int* m, int* d) {
    if (!(dayNumber > kDayNumberBase && dayNumber <= kLastDayNumber)) return false;
    long n = static_cast<long>(dayNumber) - static_cast<long>(kDayNumberBase);
    int year = static_cast<int>(n / 366);
    if (year < 1) year = 1;
    long rest = n - DaysBeforeYear(year);
    for (;;) {
        long len = TimeDate::IsLeapYear(year) ? 366 : 365;
        if (rest <= len) break;
        rest -= len;
        ++year;
    }
    *y = year;
    MonthDayOf(static_cast<int>(rest), TimeDate::IsLeapYear(year), m, d);
    return true;
}

size_t DayNumberToDateText(double dayNumber, int style, bool century, char* out) {
    if (style < 0 || style > 8) style = 0;
    int y = 0, m = 0, d = 0;
    bool valid = dayNumber >= kDayNumberBase && DayNumberToYmd(dayNumber, &y, &m, &d);
    int yLen = century ? 4 : 2;
    char sep = style == 3 ? '-' : ((style == 0 || style == 2 || style == 8) ? '/' : '.');
    char* o = out;
    auto putYear = [&]() {
        if (!valid) {
            std::memset(o, ' ', static_cast<size_t>(yLen));
        } else if (century) {
            Put4(o, y);
        } else {
            Put2(o, y % 100);
        }
        o += yLen;
    };
    auto put2 = [&](int v) {
        if (valid) {
            Put2(o, v);
        } else {
            o[0] = o[1] = ' ';
        }
        o += 2;
    };
    if (style == 1) {
        putYear();
        *o++ = sep;
        put2(m);
        *o++ = sep;
        put2(d);
    } else {
        put2(style == 0 ? m : d);
        *o++ = sep;
        put2(style == 0 ? d : m);
        *o++ = sep;
        putYear();
    }
    *o = '\0';
    return static_cast<size_t>(o - out);
}

void DayNumberToDtos(double dayNumber, char* out) {
    int y, m, d;
    if (!DayNumberToYmd(dayNumber, &y, &m, &d)) {
        std::memset(out, ' ', 8);
    } else {
        Put4(out, y);
        Put2(out + 4, m);
        Put2(out + 6, d);
    }
    out[8] = '\0';
}

namespace {
TimeDate::DateParts ReadStyledDate(const std::string& text) {
    std::string internal = TzCommon::DateFromStyle(text.substr(0, 10));
    return TimeDate::ParseDate(internal);
}
}  // namespace

double CtodToDayNumber(const std::string& text) {
    TimeDate::DateParts p = ReadStyledDate(text);
    return YmdToDayNumber(p.year, p.month, p.day);
}

std::string DateTextToDtos(const std::string& text) {
    TimeDate::DateParts p = ReadStyledDate(text);
    if (p.year == 0 && p.month == 0 && p.day == 0) return std::string(8, ' ');
    char buf[9];
    Put4(buf, p.year < 0 ? 0 : p.year % 10000);
    Put2(buf + 4, p.month % 100);
    Put2(buf + 6, p.day % 100);
    return std::string(buf, 8);
}

int DayNumberToDow(double dayNumber) {
    if (!(dayNumber > kDayNumberBase && dayNumber <= kLastDayNumber)) return 0;
    // 1 January 2000 (day number 2451545) was a Saturday.
    long r = (static_cast<long>(dayNumber) - 2451545L) % 7;
    if (r < 0) r += 7;
    return static_cast<int>((r + 6) % 7) + 1;
}

double TodayDayNumber() {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return YmdToDayNumber(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

// ---------------------------------------------------------------------------------------
// Sound code

void SoundexInto(const char* text, size_t length, char* out) {
    static const char kCodes[] = "01230120022455012623010202";
    std::memcpy(out, "0000", 5);
    if (length > 100) length = 100;
    if (length == 0) return;
    char first = static_cast<char>(UpperAscii(static_cast<uint8_t>(text[0])));
    out[0] = first;
    char last = IsUpperLetter(static_cast<uint8_t>(first)) ? kCodes[first - 'A'] : '0';
    int filled = 1;
    for (size_t i = 1; i < length && filled < 4; ++i) {
        auto c = UpperAscii(static_cast<uint8_t>(text[i]));
        if (!IsUpperLetter(c)) continue;
        char code = kCodes[c - 'A'];
        if (code != last && code != '0') out[filled++] = code;
        last = code;
    }
}

std::string Soundex(const std::string& text) {
    char out[5];
    SoundexInto(text.data(), text.size(), out);
    return std::string(out, 4);
}

}  // namespace TzKey
