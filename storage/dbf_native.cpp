// Native forms of records: the native width and layout of fields, and the conversion of a
// record between its stored bytes and the native buffer (completed lazily, field by field).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDbfLow {

using Dbf4::FieldEntry;
using Dbf4::WorkArea;

namespace {

// ---- Native forms ----

// Stored YYYYMMDD (or blanks) to the native short string in the current date style.
void DateToNative(const uint8_t* raw, uint8_t* out) {
    std::memset(out, 0, 11);
    bool blank = true, digits = true;
    for (int i = 0; i < 8; ++i) {
        if (raw[i] != ' ' && raw[i] != 0) blank = false;
        if (raw[i] < '0' || raw[i] > '9') digits = false;
    }
    const int style = TzCommon::DateStyle();
    const bool century = TzCommon::CenturyFlag();
    std::string text;
    if (blank) {
        // The blank template of the style, kept between calls.
        static int cachedStyle = -1;
        static bool cachedCentury = false;
        static uint8_t cached[11];
        if (style != cachedStyle || century != cachedCentury) {
            std::string t = TzCommon::EmptyDateString(style);
            if (t.size() > 10) t.resize(10);
            std::memset(cached, 0, sizeof cached);
            cached[0] = uint8_t(t.size());
            std::memcpy(cached + 1, t.data(), t.size());
            cachedStyle = style;
            cachedCentury = century;
        }
        std::memcpy(out, cached, sizeof cached);
        return;
    } else if (digits) {
        // The common case, without building intermediate texts.
        const char* r = reinterpret_cast<const char*>(raw);
        const char* year = century ? r : r + 2;
        const int yl = century ? 4 : 2;
        const char sep = style == 1                   ? '.'
                         : style == 3                 ? '-'
                         : (style == 0 || style == 2) ? '/'
                                                      : '.';
        char* o = reinterpret_cast<char*>(out) + 1;
        auto put = [&](const char* p, int n) {
            std::memcpy(o, p, size_t(n));
            o += n;
        };
        if (style == 0) {
            put(r + 4, 2), *o++ = sep, put(r + 6, 2), *o++ = sep, put(year, yl);
        } else if (style == 1) {
            put(year, yl), *o++ = sep, put(r + 4, 2), *o++ = sep, put(r + 6, 2);
        } else {
            put(r + 6, 2), *o++ = sep, put(r + 4, 2), *o++ = sep, put(year, yl);
        }
        out[0] = uint8_t(o - reinterpret_cast<char*>(out) - 1);
        return;
    } else {
        std::string internal;
        internal.append(reinterpret_cast<const char*>(raw) + 4, 2);
        internal.push_back('/');
        internal.append(reinterpret_cast<const char*>(raw) + 6, 2);
        internal.push_back('/');
        internal.append(reinterpret_cast<const char*>(raw) + (century ? 0 : 2), century ? 4 : 2);
        text = TzCommon::DateToStyle(internal);
    }
    if (text.size() > 10) text.resize(10);
    out[0] = uint8_t(text.size());
    std::memcpy(out + 1, text.data(), text.size());
}

bool DateSeparatorByte(uint8_t c) {
    return c == '/' || c == '.' || c == '-';
}

// A native date text of ten bytes laid out as the current style writes it with the century
// (digits, and a separator at each of the style's two places): its stored form straight
// from its digits, which is what the long way makes of it. False for every other text, and
// for all digits 0 (stored as blanks), which go the long way.
bool QuickNativeToDate(const uint8_t* in, uint8_t* raw) {
    if (in[0] < 10) return false;
    const uint8_t* t = in + 1;
    const int style = TzCommon::DateStyle();
    const int sep1 = style == 1 ? 4 : 2, sep2 = style == 1 ? 7 : 5;
    bool zero = true;
    for (int i = 0; i < 10; ++i) {
        const uint8_t c = t[i];
        if (i == sep1 || i == sep2) {
            if (!DateSeparatorByte(c)) return false;
        } else if (c < '0' || c > '9') {
            return false;
        } else if (c != '0') {
            zero = false;
        }
    }
    if (zero) return false;
    const uint8_t* year = style == 1 ? t : t + 6;
    const uint8_t* month = style == 1 ? t + 5 : (style == 0 ? t : t + 3);
    const uint8_t* day = style == 1 ? t + 8 : (style == 0 ? t + 3 : t);
    std::memcpy(raw, year, 4);
    std::memcpy(raw + 4, month, 2);
    std::memcpy(raw + 6, day, 2);
    return true;
}

// Native date text back to YYYYMMDD; false when it is blank (8 blanks are stored).
void NativeToDate(const uint8_t* in, uint8_t* raw) {
    if (QuickNativeToDate(in, raw)) return;
    std::string text(reinterpret_cast<const char*>(in) + 1, std::min<int>(in[0], 10));
    std::string internal = TzCommon::DateFromStyle(text);
    TimeDate::DateParts dp = TimeDate::ParseDate(internal);
    int y = dp.year, m = dp.month, d = dp.day;
    if (y == 0 && m == 0 && d == 0) {
        std::memset(raw, ' ', 8);
        return;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y % 10000, m % 100, d % 100);
    std::memcpy(raw, buf, 8);
}

// Reads a number field's text; blanks read as 0.
double ParseNumber(const uint8_t* p, int len) {
    int i = 0;
    while (i < len && (p[i] == ' ' || p[i] == 0)) ++i;
    bool neg = false;
    if (i < len && (p[i] == '-' || p[i] == '+')) {
        neg = p[i] == '-';
        ++i;
    }
    // Fast path: plain digits with an optional point.
    double v = 0;
    int64_t ip = 0;
    int digits = 0;
    int j = i;
    while (j < len && p[j] >= '0' && p[j] <= '9' && digits < 18) {
        ip = ip * 10 + (p[j] - '0');
        ++j;
        ++digits;
    }
    bool simple = true;
    double frac = 0, scale = 1;
    if (j < len && p[j] == '.') {
        ++j;
        int64_t fp = 0;
        int fd = 0;
        while (j < len && p[j] >= '0' && p[j] <= '9' && fd < 18) {
            fp = fp * 10 + (p[j] - '0');
            scale *= 10;
            ++j;
            ++fd;
        }
        frac = double(fp);
    }
    while (j < len && p[j] == ' ') ++j;
    if (j != len) simple = false;
    if (simple) {
        v = double(ip) + frac / scale;
        return neg ? -v : v;
    }
    return tz::ParseDouble(reinterpret_cast<const char*>(p), size_t(std::min(len, 63)));
}

int32_t ClampInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return int32_t(-2147483647 - 1);
    return int32_t(v);
}

void EncodeNumber(double v, int len, int dec, uint8_t* out) {
    char buf[384];
    int n = tz::FormatRounded(buf, sizeof buf, len, dec, v);
    if (n < 0 || n > len) {
        std::memset(out, '*', len);
        return;
    }
    std::memcpy(out, buf, len);
}

void UnpackField(const FieldEntry& f, const uint8_t* raw, uint8_t* out) {
    switch (f.type) {
        case 'C':
            out[0] = f.length;
            std::memcpy(out + 1, raw, f.length);
            break;
        case 'D':
            if (f.length >= 8) {
                DateToNative(raw, out);
            } else {  // a damaged descriptor: the short field read as blanks after it
                uint8_t date[8];
                std::memset(date, ' ', sizeof date);
                std::memcpy(date, raw, f.length);
                DateToNative(date, out);
            }
            break;
        case 'N':
        case 'F':
            if (f.decimals > 0) {
                double v = ParseNumber(raw, f.length);
                std::memcpy(out, &v, 8);
            } else {
                int32_t v = ClampInt(ParseNumber(raw, f.length));
                std::memcpy(out, &v, 4);
            }
            break;
        case 'L': {
            uint8_t c = raw[0];
            out[0] = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 1 : 0;
            break;
        }
        case 'M': {
            int32_t v = ClampInt(ParseNumber(raw, f.length));
            std::memcpy(out, &v, 4);
            break;
        }
        default:
            break;
    }
}

void PackField(const FieldEntry& f, const uint8_t* in, uint8_t* raw) {
    switch (f.type) {
        case 'C': {
            int n = std::min<int>(in[0], f.length);
            std::memcpy(raw, in + 1, n);
            std::memset(raw + n, ' ', f.length - n);
            break;
        }
        case 'D':
            if (f.length >= 8) {
                NativeToDate(in, raw);
            } else {  // a damaged descriptor: only the field's own bytes are written
                uint8_t date[8];
                NativeToDate(in, date);
                std::memcpy(raw, date, f.length);
            }
            break;
        case 'N':
        case 'F':
            if (f.decimals > 0) {
                double v;
                std::memcpy(&v, in, 8);
                EncodeNumber(v, f.length, f.decimals, raw);
            } else {
                int32_t v;
                std::memcpy(&v, in, 4);
                EncodeNumber(double(v), f.length, 0, raw);
            }
            break;
        case 'L':
            raw[0] = in[0] ? 'T' : 'F';
            break;
        case 'M': {
            int32_t v;
            std::memcpy(&v, in, 4);
            if (v <= 0)
                std::memset(raw, ' ', f.length);
            else
                EncodeNumber(double(v), f.length, 0, raw);
            break;
        }
        default:
            break;
    }
}

// Two native values of a field are the same value (short strings compare by their text).
bool SameNative(const FieldEntry& f, const uint8_t* a, const uint8_t* b) {
    if (f.type == 'C' || f.type == 'D') return a[0] == b[0] && std::memcmp(a + 1, b + 1, a[0]) == 0;
    return std::memcmp(a, b, NativeWidth(f)) == 0;
}
}  // namespace

void StoreDate(WorkArea& a, size_t i, const uint8_t stored[8]) {
    const FieldEntry& f = a.fields[i];
    std::memcpy(a.record.data() + f.offset, stored, 8);
    DateToNative(stored, a.native + f.nativeOffset);
}

uint16_t NativeWidth(const FieldEntry& f) {
    switch (f.type) {
        case 'C':
            return uint16_t(f.length + 1);
        case 'D':
            return 11;
        case 'N':
        case 'F':
            return f.decimals > 0 ? 8 : 4;
        case 'L':
            return 1;
        case 'M':
            return 4;
        default:
            return 0;
    }
}

void LayoutNative(WorkArea& a) {
    uint32_t off = 1;
    for (FieldEntry& f : a.fields) {
        f.nativeOffset = uint16_t(off);
        off += NativeWidth(f);
    }
    a.nativeSize = uint16_t(off);
    a.assigned.assign(a.fields.size(), 0);
}

void CompleteRecord(WorkArea& a) {
    if (!a.pending) return;
    TranslateRecord(0, a.oem, a.oemToAnsi, a.recordLength, a.recordLength, a.record.data());
    a.pending = false;
}

// A virtual area opened on the caller's buffer has no record buffer of its own: that buffer
// holds the record as the virtual-file unit keeps it, so there is nothing to convert.
bool NoRecordBuffer(const WorkArea& a) {
    return a.isVirtual && a.record.empty();
}

void MarkNativeStale(WorkArea& a) {
    a.nativeStale = true;
    ++a.staleMark;
}

void CompleteNativeField(WorkArea& a, size_t i) {
    if (!a.nativeStale || i >= a.fields.size()) return;
    if (a.oemToAnsi || a.native != a.ownNative.data()) return CompleteNative(a);
    a.fieldMark.resize(a.fields.size(), 0);
    if (a.fieldMark[i] == a.staleMark) return;
    const FieldEntry& f = a.fields[i];
    const uint8_t* raw = a.record.data() + f.offset;
    a.fieldMark[i] = a.staleMark;
    uint8_t* out = a.native + f.nativeOffset;
    if (f.type == 'C' && a.pending && a.oem) {  // the common case: translated straight over
        out[0] = f.length;
        for (size_t k = 0; k < f.length; ++k) out[k + 1] = tz::OemToAnsiChar(raw[k]);
        return;
    }
    uint8_t text[256];
    if (a.pending && a.oem) {
        std::memcpy(text, raw, f.length);
        tz::OemToAnsiBuf(text, f.length);
        raw = text;
    }
    UnpackField(f, raw, out);
}

void CompleteNative(WorkArea& a) {
    if (!a.nativeStale) {
        if (a.pending) UnpackRecord(a, a.native);
        return;
    }
    CompleteRecord(a);
    a.fieldMark.resize(a.fields.size(), 0);
    a.native[0] = a.record[0] == '*' ? 1 : 0;
    for (size_t i = 0; i < a.fields.size(); ++i) {
        const FieldEntry& f = a.fields[i];
        if (a.fieldMark[i] != a.staleMark)
            UnpackField(f, a.record.data() + f.offset, a.native + f.nativeOffset);
    }
    a.nativeStale = false;
}

void UnpackRecord(WorkArea& a, uint8_t* native) {
    CompleteRecord(a);
    if (native == a.native) {
        a.nativeStale = false;
        std::fill(a.assigned.begin(), a.assigned.end(), uint8_t(0));
    }
    if (NoRecordBuffer(a)) return;
    native[0] = a.record[0] == '*' ? 1 : 0;
    for (const FieldEntry& f : a.fields)
        UnpackField(f, a.record.data() + f.offset, native + f.nativeOffset);
}

void PackRecord(WorkArea& a, const uint8_t* native) {
    if (NoRecordBuffer(a)) return;
    a.record[0] = native[0] ? '*' : ' ';
    uint8_t cur[256];
    for (size_t i = 0; i < a.fields.size(); ++i) {
        const FieldEntry& f = a.fields[i];
        uint8_t* raw = a.record.data() + f.offset;
        const uint8_t* in = native + f.nativeOffset;
        // A field whose value still equals what its stored bytes decode to keeps those
        // bytes, unless the caller assigned it: editing one field never re-encodes another,
        // and a 0 assigned over blanks is written as 0.
        if (i < a.assigned.size() && a.assigned[i]) {
            PackField(f, in, raw);
            continue;
        }
        if (f.type == 'C') {  // the common case, compared in place
            if (in[0] == f.length && std::memcmp(in + 1, raw, f.length) == 0) continue;
        } else {
            UnpackField(f, raw, cur);
            if (SameNative(f, cur, in)) continue;
        }
        PackField(f, in, raw);
    }
}
}  // namespace TzDbfLow
