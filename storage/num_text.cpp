#include "storage/num_text.h"

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

}  // namespace

namespace tz {

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
