#include "reports/invoice_amounts.h"

#include <cstdint>

namespace kjrep {

namespace {

constexpr int64_t kUnit = 10000;  // ten-thousandths in one
constexpr int64_t kCent = 100;    // ten-thousandths in one hundredth

// num / den rounded to the nearest integer, ties to even (den > 0).
__int128 DivRoundEven(__int128 num, __int128 den) {
    __int128 q = num / den, r = num % den;
    if (r < 0) r = -r;
    const __int128 twice = 2 * r;
    if (twice > den || (twice == den && (q % 2 != 0))) q += num < 0 ? -1 : 1;
    return q;
}

bool Fits(__int128 v) {
    return v >= INT64_MIN && v <= INT64_MAX;
}

// antal × (pris − rabat), both in ten-thousandths, rounded back to ten-thousandths.
__int128 Net(int64_t antal, int64_t pris, int64_t rabat) {
    const __int128 product = static_cast<__int128>(antal) * (static_cast<__int128>(pris) - rabat);
    return DivRoundEven(product, kUnit);
}

// rate (percent, in ten-thousandths) × net / 100, rounded to ten-thousandths.
__int128 Vat(int64_t rate, __int128 net) {
    return DivRoundEven(net * rate, 100 * kUnit);
}

int64_t RateOf(double rate) {
    // The field holds at most a few decimals; four are kept, as a currency value does.
    const double scaled = rate * kUnit;
    return static_cast<int64_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

}  // namespace

int64_t CutToHundredths(int64_t v) {
    return v / kCent * kCent;  // integer division cuts toward zero
}

InvoiceLineAmounts InvoiceLine(bool credit, int64_t antal, int64_t pris, int64_t rabat,
                               double rate) {
    const __int128 net = (credit ? -1 : 1) * Net(antal, pris, rabat);
    const __int128 vat = rate > kVatThreshold ? Vat(RateOf(rate), net) : 0;
    if (!Fits(net) || !Fits(vat) || !Fits(net + vat)) return {0, 0, 0, false};
    return {CutToHundredths(int64_t(net)), CutToHundredths(int64_t(vat)),
            CutToHundredths(int64_t(net + vat)), true};
}

ExportAmounts ExportLine(int64_t antal, int64_t pris, int64_t rabat, double rate) {
    const __int128 whole = Net(antal, pris, rabat);
    if (!Fits(whole)) return {0, 0, false};
    const int64_t net = CutToHundredths(int64_t(whole));
    const __int128 vat = rate > kVatThreshold ? Vat(RateOf(rate), net) : 0;
    if (!Fits(vat)) return {0, 0, false};
    return {net, CutToHundredths(int64_t(vat)), true};
}

std::string AmountText(int64_t v, char decimalSeparator) {
    const int64_t cents = v / kCent;
    const bool negative = cents < 0;
    // The magnitude as unsigned, so the most negative value has one too.
    const uint64_t m = negative ? uint64_t(0) - uint64_t(cents) : uint64_t(cents);
    std::string frac = std::to_string(m % 100);
    if (frac.size() < 2) frac.insert(0, 1, '0');
    return (negative ? "-" : "") + std::to_string(m / 100) + decimalSeparator + frac;
}

std::string ExprLiteral(const std::string& text) {
    std::string out;
    size_t i = 0;
    do {
        const bool quotes = i < text.size() && text[i] == '"';
        const char delim = quotes ? '\'' : '"';
        size_t j = i;
        while (j < text.size() && (text[j] == '"') == quotes) ++j;
        if (!out.empty()) out += '+';
        out += delim + text.substr(i, j - i) + delim;
        i = j;
    } while (i < text.size());
    return out;
}

}  // namespace kjrep
