// The operations of the postfix engine: operators and built-in functions, each a short
// handler, and the table that maps operation numbers to them.
#include "expr/expr_ops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "expr/key_encoding.h"
#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace TzParser::ops {

namespace {

constexpr double kDivideByZero = 1e250;

struct CaseTables {
    uint8_t upper[256];
    uint8_t lower[256];
    CaseTables() {
        for (int i = 0; i < 256; ++i) {
            upper[i] = tz::AnsiUpperChar(static_cast<uint8_t>(i));
            lower[i] = tz::AnsiLowerChar(static_cast<uint8_t>(i));
        }
    }
};
const CaseTables kCase;

// Integer argument: the float truncated toward zero, kept within a sane range.
inline long ToInt(double v) {
    if (!(v == v)) return 0;
    if (v > 1e9) return 1000000000L;
    if (v < -1e9) return -1000000000L;
    return static_cast<long>(v);
}

void EvalError(const char* what) {
    TzCommon::SetError(TzErr::EvaluationError,
                       std::string("Error during evaluation: ") + what + " [Evaluate/Engine]");
}

// base ^ exponent as e ^ (exponent * ln base); a base of 0 or below is defined for an exponent
// above 0 (0 ^ 2 = 0), for 0 ^ 0 = 1, and below 0 for whole exponents ((-2) ^ 3 = -8). False
// where the power is undefined: 0 to a negative power, a negative base to a fractional one.
bool Power(double base, double exponent, double* out) {
    if (base > 0) {
        *out = std::exp(exponent * std::log(base));
        return true;
    }
    if (base == 0) {
        if (!(exponent >= 0)) return false;
        *out = exponent == 0 ? 1 : 0;
        return true;
    }
    if (!(base < 0) || !std::isfinite(exponent) || std::trunc(exponent) != exponent) return false;
    const double magnitude = std::exp(exponent * std::log(-base));
    *out = std::fmod(exponent, 2) != 0 ? -magnitude : magnitude;
    return true;
}

int CompareStrings(const WorkCell& a, const WorkCell& b) {
    size_t n = std::min(a.value.str.len, b.value.str.len);
    int r = std::memcmp(a.value.str.s, b.value.str.s, n);
    if (r != 0) return r;
    if (a.value.str.len == b.value.str.len) return 0;
    return a.value.str.len < b.value.str.len ? -1 : 1;
}

// Position (from 0) of needle in hay, or -1; an empty needle is never found.
long Find(const char* needle, size_t nlen, const char* hay, size_t hlen) {
    if (nlen == 0 || nlen > hlen) return -1;
    const void* p = memmem(hay, hlen, needle, nlen);
    return p ? static_cast<const char*>(p) - hay : -1;
}

// ---- Number formatting of STR ----
size_t FormatStr(double x, long width, long decimals, char* out) {
    if (width < 0) width = 0;
    if (width > static_cast<long>(kMaxString)) width = kMaxString;
    if (decimals < 0) decimals = 0;
    if (decimals > static_cast<long>(kMaxString)) decimals = kMaxString;
    char text[640];
    int n = TzKey::FormatDecimal(x, static_cast<int>(decimals), true, text, sizeof text);
    size_t w = static_cast<size_t>(width);
    if (n < 0 || static_cast<size_t>(n) > w) {
        std::memset(out, '*', w);
    } else {
        size_t pad = w - static_cast<size_t>(n);
        std::memset(out, ' ', pad);
        std::memcpy(out + pad, text, static_cast<size_t>(n));
    }
    return w;
}

double RoundDown(double x, long decimals) {
    if (decimals < 1) return std::trunc(x);
    char text[640];
    int n = TzKey::FormatDecimal(x, static_cast<int>(std::min(decimals, 255L)), false, text,
                                 sizeof text);
    if (n < 0) return x;
    return TzKey::ParseNumber(text, static_cast<size_t>(n));
}

// ---- arithmetic ----

bool AddNum(WorkCell* r, Step& s) {
    r->value.num = r[0].value.num + r[1].value.num;
    r->type = s.op == kOpAddNN ? kTypeN : kTypeD;
    return true;
}

bool SubNum(WorkCell* r, Step& s) {
    r->value.num = r[0].value.num - r[1].value.num;
    r->type = s.op == kOpSubDN ? kTypeD : kTypeN;
    return true;
}

bool Mul(WorkCell* r, Step&) {
    r->value.num = r[0].value.num * r[1].value.num;
    return true;
}

bool Div(WorkCell* r, Step&) {
    if (r[1].value.num == 0) {
        EvalError("Divide by 0");
        r->value.num = kDivideByZero;
    } else {
        r->value.num = r[0].value.num / r[1].value.num;
    }
    return true;
}

bool Pow(WorkCell* r, Step&) {
    if (!Power(r[0].value.num, r[1].value.num, &r->value.num)) {
        EvalError("Power of ** or ^ undefined");
        r->value.num = kDivideByZero;
    }
    return true;
}

bool Neg(WorkCell* r, Step&) {
    r->value.num = -r->value.num;
    return true;
}

bool AddText(WorkCell* r, Step& s) {
    size_t la = r[0].value.str.len, lb = r[1].value.str.len;
    size_t take = std::min(lb, kMaxString - std::min(la, kMaxString));
    std::memmove(r[0].value.str.s + la, r[1].value.str.s, take);
    Shorten(s.pool, r, la + take);
    return true;
}

bool SubText(WorkCell* r, Step& st) {
    size_t la = r[0].value.str.len, lb = r[1].value.str.len;
    size_t kept = la;
    while (kept > 0 && r[0].value.str.s[kept - 1] == ' ') --kept;
    size_t total = std::min(la + lb, kMaxString);
    char* s = r[0].value.str.s;
    size_t take = std::min(lb, total > kept ? total - kept : 0);
    std::memmove(s + kept, r[1].value.str.s, take);
    std::memset(s + kept + take, ' ', total - kept - take);
    Shorten(st.pool, r, total);
    return true;
}

// ---- comparisons ----

template <class Compare>
bool CompareNum(WorkCell* r, Step&) {
    r->value.log = Compare{}(r[0].value.num, r[1].value.num);
    return true;
}

template <class Compare>
bool CompareLog(WorkCell* r, Step&) {
    r->value.log = Compare{}(r[0].value.log != 0, r[1].value.log != 0);
    return true;
}

// = on text: the right side is a prefix of the left one (never an empty one).
bool EqText(WorkCell* r, Step& s) {
    size_t lb = r[1].value.str.len;
    bool v = lb != 0 && r[0].value.str.len >= lb &&
             std::memcmp(r[0].value.str.s, r[1].value.str.s, lb) == 0;
    PopString(s.pool, r);
    r->value.log = v;
    return true;
}

// The other comparisons of text: the whole texts, compared as Compare(cmp, 0).
template <class Compare>
bool CompareText(WorkCell* r, Step& s) {
    int cmp = CompareStrings(r[0], r[1]);
    PopString(s.pool, r);
    r->value.log = Compare{}(cmp, 0);
    return true;
}

bool Contains(WorkCell* r, Step& s) {
    bool v = Find(r[0].value.str.s, r[0].value.str.len, r[1].value.str.s, r[1].value.str.len) >= 0;
    PopString(s.pool, r);
    r->value.log = v;
    return true;
}

bool Or(WorkCell* r, Step&) {
    r->value.log = (r[0].value.log != 0) || (r[1].value.log != 0);
    return true;
}

bool And(WorkCell* r, Step&) {
    r->value.log = (r[0].value.log != 0) && (r[1].value.log != 0);
    return true;
}

bool Not(WorkCell* r, Step&) {
    r->value.log = r->value.log == 0;
    return true;
}

// ---- numeric functions ----

bool FnAbs(WorkCell* r, Step&) {
    r->value.num = std::fabs(r->value.num);
    return true;
}

bool FnInt(WorkCell* r, Step&) {
    r->value.num = std::trunc(r->value.num);
    return true;
}

bool FnAsc(WorkCell* r, Step& s) {
    double v = r->value.str.len ? static_cast<uint8_t>(r->value.str.s[0]) : 0;
    PopString(s.pool, r);
    r->value.num = v;
    return true;
}

bool FnLen(WorkCell* r, Step& s) {
    double v = r->value.str.len;
    PopString(s.pool, r);
    r->value.num = v;
    return true;
}

bool FnVal(WorkCell* r, Step& s) {
    double v = TzKey::ParseNumber(r->value.str.s, r->value.str.len);
    PopString(s.pool, r);
    r->value.num = v;
    return true;
}

bool FnAt(WorkCell* r, Step& s) {
    long pos = Find(r[0].value.str.s, r[0].value.str.len, r[1].value.str.s, r[1].value.str.len);
    PopString(s.pool, r);
    r->value.num = static_cast<double>(pos + 1);
    return true;
}

bool FnRound(WorkCell* r, Step&) {
    r->value.num = RoundDown(r[0].value.num, ToInt(r[1].value.num));
    return true;
}

bool FnMod(WorkCell* r, Step&) {
    double a = std::trunc(r[0].value.num), b = std::trunc(r[1].value.num);
    if (b == 0 || !(b == b)) {
        EvalError("Divide by 0");
        r->value.num = kDivideByZero;
    } else {
        r->value.num = std::fmod(a, b);
    }
    return true;
}

bool FnMax(WorkCell* r, Step&) {
    r->value.num = r[0].value.num > r[1].value.num ? r[0].value.num : r[1].value.num;
    return true;
}

bool FnMin(WorkCell* r, Step&) {
    r->value.num = r[0].value.num >= r[1].value.num ? r[1].value.num : r[0].value.num;
    return true;
}

// YEAR, MONTH and DAY.
bool FnDatePart(WorkCell* r, Step& s) {
    int y = 0, m = 0, d = 0;
    TzKey::DayNumberToYmd(r->value.num, &y, &m, &d);
    r->value.num = s.op == kFnYear ? y : s.op == kFnMonth ? m : d;
    r->type = kTypeN;
    return true;
}

bool FnDow(WorkCell* r, Step&) {
    r->value.num = TzKey::DayNumberToDow(r->value.num);
    r->type = kTypeN;
    return true;
}

bool FnRecno(WorkCell* r, Step&) {
    const Dbf4::WorkArea* a = Dbf4::Current();
    r->type = kTypeN;
    r->value.num = a ? a->recNo : 0;
    return true;
}

// ---- date functions ----

bool FnDate(WorkCell* r, Step&) {
    r->type = kTypeD;
    r->value.num = TzKey::TodayDayNumber();
    return true;
}

bool FnCtod(WorkCell* r, Step& s) {
    std::string text(r->value.str.s, std::min<size_t>(r->value.str.len, 10));
    PopString(s.pool, r);
    r->type = kTypeD;
    r->value.num = TzKey::CtodToDayNumber(text);
    return true;
}

bool FnDeleted(WorkCell* r, Step&) {
    const Dbf4::WorkArea* a = Dbf4::Current();
    bool del = false;
    if (a && a->state != Dbf4::kClosed) {
        if (a->isVirtual && a->native) {
            del = a->native[0] == 1 || a->native[0] == '*';
        } else if (!a->record.empty()) {
            del = a->record[0] == '*';
        }
    }
    r->type = kTypeL;
    r->value.log = del;
    return true;
}

// ---- character functions working in place ----

// UPPER and LOWER.
bool FnCase(WorkCell* r, Step& st) {
    const uint8_t* table = st.op == kFnUpper ? kCase.upper : kCase.lower;
    auto* s = reinterpret_cast<uint8_t*>(r->value.str.s);
    for (uint32_t i = 0; i < r->value.str.len; ++i) s[i] = table[s[i]];
    return true;
}

// TRIM and RTRIM.
bool FnTrim(WorkCell* r, Step& s) {
    size_t n = r->value.str.len;
    while (n > 0 && r->value.str.s[n - 1] == ' ') --n;
    Shorten(s.pool, r, n);
    return true;
}

bool FnLtrim(WorkCell* r, Step& s) {
    size_t n = r->value.str.len, k = 0;
    while (k < n && r->value.str.s[k] == ' ') ++k;
    std::memmove(r->value.str.s, r->value.str.s + k, n - k);
    Shorten(s.pool, r, n - k);
    return true;
}

// LEFT and RIGHT.
bool FnLeftRight(WorkCell* r, Step& s) {
    long n = std::max(0L, ToInt(r[1].value.num));
    size_t len = r->value.str.len;
    if (static_cast<size_t>(n) < len) {
        if (s.op == kFnRight) std::memmove(r->value.str.s, r->value.str.s + len - n, n);
        Shorten(s.pool, r, static_cast<size_t>(n));
    }
    return true;
}

bool FnSubstr(WorkCell* r, Step& s) {
    long start = ToInt(r[1].value.num), count = ToInt(r[2].value.num);
    long len = r->value.str.len;
    if (start < 1) start = 1;
    if (start > len || count < 1) {
        Shorten(s.pool, r, 0);
    } else {
        count = std::min(count, len - start + 1);
        std::memmove(r->value.str.s, r->value.str.s + start - 1, count);
        Shorten(s.pool, r, static_cast<size_t>(count));
    }
    return true;
}

bool FnIif(WorkCell* r, Step& s) {
    bool cond = r[0].value.log != 0;
    const WorkCell& pick = cond ? r[1] : r[2];
    char* dest = r[1].value.str.s;
    size_t n = pick.value.str.len;
    std::memmove(dest, pick.value.str.s, n + 1);
    r->type = kTypeC;
    r->value.str.s = dest;
    Shorten(s.pool, r, n);
    return true;
}

bool FnStuff(WorkCell* r, Step& st) {
    const WorkCell& cs = r[0];
    const WorkCell& rs = r[3];
    long len = cs.value.str.len;
    long s = ToInt(r[1].value.num), k = ToInt(r[2].value.num);
    if (s < 1) s = 1;
    if (s > len + 1) s = len + 1;
    if (k < 0) k = 0;
    if (k > len - (s - 1)) k = len - (s - 1);
    char* scratch = st.scratch;
    size_t n = 0;
    auto put = [&](const char* p, size_t m) {
        m = std::min(m, kMaxString - n);
        std::memcpy(scratch + n, p, m);
        n += m;
    };
    put(cs.value.str.s, static_cast<size_t>(s - 1));
    put(rs.value.str.s, rs.value.str.len);
    put(cs.value.str.s + s - 1 + k, static_cast<size_t>(len - (s - 1) - k));
    PopString(st.pool, r);
    return PushString(st.pool, r, scratch, n);
}

// ---- character functions making new strings ----

bool FnReplicate(WorkCell* r, Step& s) {
    long times = ToInt(r[1].value.num);
    size_t piece = r[0].value.str.len, n = 0;
    if (piece > 0) {
        for (long i = 0; i < times && n < kMaxString; ++i) {
            size_t m = std::min(piece, kMaxString - n);
            std::memcpy(s.scratch + n, r[0].value.str.s, m);
            n += m;
        }
    }
    PopString(s.pool, r);
    return PushString(s.pool, r, s.scratch, n);
}

bool FnSpace(WorkCell* r, Step& s) {
    long n = std::clamp(ToInt(r->value.num), 0L, static_cast<long>(kMaxString));
    std::memset(s.scratch, ' ', static_cast<size_t>(n));
    return PushString(s.pool, r, s.scratch, static_cast<size_t>(n));
}

bool FnChr(WorkCell* r, Step& s) {
    s.scratch[0] = static_cast<char>(ToInt(r->value.num) & 0xFF);
    return PushString(s.pool, r, s.scratch, s.scratch[0] ? 1 : 0);
}

bool FnStr(WorkCell* r, Step& s) {
    long width = s.argc >= 2 ? ToInt(r[1].value.num) : 10;
    long decimals = s.argc >= 3 ? ToInt(r[2].value.num) : 0;
    size_t n = FormatStr(r[0].value.num, width, decimals, s.scratch);
    return PushString(s.pool, r, s.scratch, n);
}

bool FnDtos(WorkCell* r, Step& s) {
    TzKey::DayNumberToDtos(r->value.num, s.scratch);
    return PushString(s.pool, r, s.scratch, 8);
}

bool FnDtoc(WorkCell* r, Step& s) {
    size_t n = TzKey::DayNumberToDateText(r->value.num, TzCommon::DateStyle(),
                                          TzCommon::CenturyFlag(), s.scratch);
    return PushString(s.pool, r, s.scratch, n);
}

// CDOW and CMONTH.
bool FnDayMonthName(WorkCell* r, Step& s) {
    std::string name(10, ' ');
    int y, m, d;
    if (TzKey::DayNumberToYmd(r->value.num, &y, &m, &d)) {
        name = s.op == kFnCdow ? TimeDate::DayNameOf(TzKey::DayNumberToDow(r->value.num))
                               : TimeDate::MonthNameOf(m);
    }
    return PushString(s.pool, r, name.data(), std::min<size_t>(name.size(), 14));
}

bool FnSoundex(WorkCell* r, Step& s) {
    TzKey::SoundexInto(r->value.str.s, r->value.str.len, s.scratch);
    PopString(s.pool, r);
    return PushString(s.pool, r, s.scratch, 4);
}

// ---- The table ----

struct OpEntry {
    int32_t op;
    OpHandler run;
};

constexpr OpEntry kOpEntries[] = {
    {kOpAddNN, AddNum},
    {kOpAddND, AddNum},
    {kOpAddDN, AddNum},
    {kOpSubNN, SubNum},
    {kOpSubDN, SubNum},
    {kOpSubDD, SubNum},
    {kOpMul, Mul},
    {kOpDiv, Div},
    {kOpPow, Pow},
    {kOpNeg, Neg},
    {kOpAddCC, AddText},
    {kOpSubCC, SubText},

    {kOpEqN, CompareNum<std::equal_to<>>},
    {kOpEqD, CompareNum<std::equal_to<>>},
    {kOpNeN, CompareNum<std::not_equal_to<>>},
    {kOpNeD, CompareNum<std::not_equal_to<>>},
    {kOpGtN, CompareNum<std::greater<>>},
    {kOpGtD, CompareNum<std::greater<>>},
    {kOpLtN, CompareNum<std::less<>>},
    {kOpLtD, CompareNum<std::less<>>},
    {kOpLeN, CompareNum<std::less_equal<>>},
    {kOpLeD, CompareNum<std::less_equal<>>},
    {kOpGeN, CompareNum<std::greater_equal<>>},
    {kOpGeD, CompareNum<std::greater_equal<>>},
    {kOpEqL, CompareLog<std::equal_to<>>},
    {kOpNeL, CompareLog<std::not_equal_to<>>},
    {kOpEqC, EqText},
    {kOpExactC, CompareText<std::equal_to<>>},
    {kOpNeC, CompareText<std::not_equal_to<>>},
    {kOpGtC, CompareText<std::greater<>>},
    {kOpLtC, CompareText<std::less<>>},
    {kOpLeC, CompareText<std::less_equal<>>},
    {kOpGeC, CompareText<std::greater_equal<>>},
    {kOpContainsC, Contains},
    {kOpOr, Or},
    {kOpAnd, And},
    {kOpNot, Not},

    {kFnAbs, FnAbs},
    {kFnInt, FnInt},
    {kFnAsc, FnAsc},
    {kFnLen, FnLen},
    {kFnVal, FnVal},
    {kFnAt, FnAt},
    {kFnRound, FnRound},
    {kFnMod, FnMod},
    {kFnMax, FnMax},
    {kFnMin, FnMin},
    {kFnYear, FnDatePart},
    {kFnMonth, FnDatePart},
    {kFnDay, FnDatePart},
    {kFnDow, FnDow},
    {kFnRecno, FnRecno},

    {kFnDate, FnDate},
    {kFnCtod, FnCtod},
    {kFnDeleted, FnDeleted},

    {kFnUpper, FnCase},
    {kFnLower, FnCase},
    {kFnTrim, FnTrim},
    {kFnRtrim, FnTrim},
    {kFnLtrim, FnLtrim},
    {kFnLeft, FnLeftRight},
    {kFnRight, FnLeftRight},
    {kFnSubstr, FnSubstr},
    {kFnIif, FnIif},
    {kFnStuff, FnStuff},

    {kFnReplicate, FnReplicate},
    {kFnSpace, FnSpace},
    {kFnChr, FnChr},
    {kFnStr, FnStr},
    {kFnDtos, FnDtos},
    {kFnDtoc, FnDtoc},
    {kFnCdow, FnDayMonthName},
    {kFnCmonth, FnDayMonthName},
    {kFnSoundex, FnSoundex},
};

constexpr std::array<OpHandler, kOpLimit> MakeHandlers() {
    std::array<OpHandler, kOpLimit> table{};
    for (const OpEntry& e : kOpEntries) table[static_cast<size_t>(e.op)] = e.run;
    return table;
}

}  // namespace

extern const std::array<OpHandler, kOpLimit> kHandlers = MakeHandlers();

}  // namespace TzParser::ops
