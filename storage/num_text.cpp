#include "storage/num_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace {

bool IsCSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Whether an out-of-range number text [p, e) is too large (rather than too small): its
// first significant digit stands at 10^(lead + exponent - 1).
bool TooLarge(const char* p, const char* e) {
    long long lead = 0;
    bool significant = false, point = false;
    for (; p < e && *p != 'e' && *p != 'E'; ++p) {
        if (*p == '.') {
            point = true;
        } else if (!significant && *p == '0') {
            if (point) --lead;
        } else {
            significant = true;
            if (!point) ++lead;
        }
    }
    long long exponent = 0;
    if (p < e) {
        ++p;
        const bool negative = p < e && *p == '-';
        if (p < e && (*p == '-' || *p == '+')) ++p;
        if (std::from_chars(p, e, exponent).ec != std::errc()) exponent = 1'000'000'000;
        if (exponent > 1'000'000'000) exponent = 1'000'000'000;
        if (negative) exponent = -exponent;
    }
    return lead + exponent > 0;
}

// The shortest decimal digits of a finite, non-zero magnitude: value = d[0].d[1]d[2]... x
// 10^exponent. Returns the digit count.
int ShortestDigits(double v, char* digits, int* exponent) {
    char sci[40];
    const auto r = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific);
    int n = 0;
    const char* p = sci;
    for (; p < r.ptr && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9') digits[n++] = *p;
    *exponent = 0;
    if (p < r.ptr) std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, *exponent);
    return n;
}

// Digits for the places 10^top down to 10^-decimals, behind one carry place, rounded half
// away from zero at the last place. Returns the count written (top + decimals + 2).
int PlaceDigits(const char* digits, int n, int exponent, int top, int decimals, char* out) {
    int count = 0;
    out[count++] = '0';
    for (int place = top; place >= -decimals; --place) {
        const int k = exponent - place;
        out[count++] = k >= 0 && k < n ? digits[k] : '0';
    }
    const int dropped = exponent + decimals + 1;  // index of the first digit not kept
    if (dropped >= 0 && dropped < n && digits[dropped] >= '5') {
        int k = count - 1;
        while (out[k] == '9') out[k--] = '0';
        ++out[k];
    }
    return count;
}

}  // namespace

namespace tz {

int FormatRounded(char* out, size_t cap, int width, int decimals, double v) {
    if (!std::isfinite(v)) return FormatFixed(out, cap, width, decimals, v);
    decimals = std::clamp(decimals, 0, 255);
    char digits[24];
    int exponent = 0;
    const int n = v == 0 ? 0 : ShortestDigits(std::fabs(v), digits, &exponent);
    const int top = std::max(exponent, 0);
    char places[600];  // carry, 309 integer places at most, 255 decimals
    const int count = PlaceDigits(digits, n, n ? exponent : 0, top, decimals, places);
    const int intEnd = count - decimals;  // places[0..intEnd) hold the integer part
    int first = 0;
    while (first < intEnd - 1 && places[first] == '0') ++first;
    const bool negative = v < 0 && std::find_if(places, places + count,
                                                [](char c) { return c != '0'; }) != places + count;
    const size_t length =
        size_t(negative) + size_t(intEnd - first) + (decimals ? 1 : 0) + size_t(decimals);
    const size_t total = std::max(length, size_t(std::max(width, 0)));
    if (total >= cap) return -1;
    char* o = out;
    o = std::fill_n(o, total - length, ' ');
    if (negative) *o++ = '-';
    o = std::copy(places + first, places + intEnd, o);
    if (decimals) *o++ = '.';
    o = std::copy(places + intEnd, places + count, o);
    *o = '\0';
    return static_cast<int>(total);
}

int FormatFixed(char* out, size_t cap, int width, int decimals, double v) {
    if (cap == 0) return -1;
    if (decimals < 0) decimals = 6;
    const auto r = std::to_chars(out, out + cap - 1, v, std::chars_format::fixed, decimals);
    if (r.ec != std::errc()) return -1;
    const size_t n = static_cast<size_t>(r.ptr - out);
    const size_t w = width > 0 ? static_cast<size_t>(width) : 0;
    const size_t total = n < w ? w : n;
    if (total >= cap) return -1;
    if (n < w) {
        std::memmove(out + (w - n), out, n);
        std::memset(out, ' ', w - n);
    }
    out[total] = '\0';
    return static_cast<int>(total);
}

double ParseDouble(const char* text, size_t length, size_t* used) {
    if (used) *used = 0;
    const char* p = text;
    const char* e = text + length;
    while (p < e && IsCSpace(*p)) ++p;
    bool negative = false;
    if (p < e && (*p == '+' || *p == '-')) negative = *p++ == '-';
    if (p < e && (*p == '+' || *p == '-')) return 0.0;  // one sign only
    double v = 0.0;
    const auto r = std::from_chars(p, e, v, std::chars_format::general);
    if (r.ec == std::errc::invalid_argument) return 0.0;
    if (r.ec == std::errc::result_out_of_range) v = TooLarge(p, r.ptr) ? HUGE_VAL : 0.0;
    if (used) *used = static_cast<size_t>(r.ptr - text);
    return negative ? -v : v;
}

}  // namespace tz
