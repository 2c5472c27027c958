// Money of the invoice copy and of the export of invoiced postings: one posting line's net,
// VAT and gross amounts in ten-thousandths (int64), each cut toward zero to whole
// hundredths; the amount texts both print; and a text as a literal of the expression
// language. Pure functions, any thread.
#pragma once

#include <cstdint>
#include <string>

namespace kjrep {

// VAT counts only for rates above this (in percent).
inline constexpr double kVatThreshold = 0.005;

// v cut toward zero to a whole hundredth (v in ten-thousandths).
int64_t CutToHundredths(int64_t v);

// One line of the invoice copy. net := antal × (pris − rabat), rounded to a ten-thousandth
// (ties to even) and negative for a credit posting; VAT := rate × net / 100, rounded, when
// the rate exceeds the threshold; gross := net + VAT. All three are then cut.
struct InvoiceLineAmounts {
    int64_t net = 0, vat = 0, gross = 0;
    bool fits = true;  // false (and all three 0) when an amount is beyond a money count
};
InvoiceLineAmounts InvoiceLine(bool credit, int64_t antal, int64_t pris, int64_t rabat,
                               double rate);

// One posting of the export. net := antal × (pris − rabat), rounded, then cut; VAT := rate
// × the cut net / 100, rounded, then cut, when the rate exceeds the threshold. The sign of
// a credit posting is shown by the columns, not by the amounts.
struct ExportAmounts {
    int64_t net = 0, vat = 0;
    bool fits = true;  // false (and both 0) when an amount is beyond a money count
};
ExportAmounts ExportLine(int64_t antal, int64_t pris, int64_t rabat, double rate);

// An amount with exactly two decimals, no thousands separator, "-" before a negative one;
// the value is cut toward zero to hundredths first.
std::string AmountText(int64_t v, char decimalSeparator);

// The text as a string literal of the expression language: in double quotes, and the runs
// of double quotes it holds in single quotes, joined with "+".
std::string ExprLiteral(const std::string& text);

}  // namespace kjrep
