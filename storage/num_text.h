// Numbers as text in table fields, index keys and files: "." is always the decimal point.
// The process locale follows the user's (a Danish LC_NUMERIC has ","), so printf("%f"),
// strtod and iostreams are never used for these texts; every layer calls this pair.
// Pure routines; safe from any thread.
#pragma once

#include <cstddef>

namespace tz {

// The text printf("%*.*f", width, decimals, v) gives in the C locale (a negative decimals
// means 6), zero-terminated in out. Its length, or -1 when it needs cap bytes or more.
int FormatFixed(char* out, size_t cap, int width, int decimals, double v);

// The value rounded to `decimals` places (0-255) the way amounts are written into fields,
// keys and STR: its shortest decimal text (the fewest significant digits that read back as
// the same double) rounded half away from zero, so 1.005 gives "1.01" and 0.125 "0.13"; a
// result of zero has no "-". Right-aligned in width, zero-terminated in out; its length, or
// -1 when it needs cap bytes or more. A value that is not finite gives FormatFixed's text.
int FormatRounded(char* out, size_t cap, int width, int decimals, double v);

// The number at the start of text[0..length), read as strtod reads it in the C locale:
// leading white space, a sign, decimal digits with ".", an exponent, "inf" or "nan" (no
// hexadecimal form: "0x10" reads as 0). A value too large reads as +-HUGE_VAL, one too small
// as 0; no number reads as 0. *used (when given) gets the count of characters read, 0 when
// there was no number.
double ParseDouble(const char* text, size_t length, size_t* used = nullptr);

}  // namespace tz
