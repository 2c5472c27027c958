// The postfix engine: operators, built-in functions, field fetch and the engine hooks.
#include "expr/expr_eval.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>

#include "expr/key_encoding.h"
#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/memo.h"
#include "storage/tz_common.h"

namespace TzParser {

ExprBlock* CurrentKeyExpr = nullptr;

namespace {

constexpr size_t kMaxString = 255;  // character results never grow beyond this
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
    TzCommon::SetError(358, std::string("Error during evaluation: ") + what + " [Evaluate/Engine]");
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

// One evaluation's view of the working pool.
struct Pool {
    char* start;
    char* next;
    char* end;
    bool overflow = false;

    // Room for len characters and a terminator at the next free byte; null (and error 354)
    // when the pool is exhausted.
    char* Alloc(size_t len) {
        if (static_cast<size_t>(end - next) < len + 1) {
            if (!overflow) TzCommon::SetError(354, "Working pool overflow [PARSER/Allocate]");
            overflow = true;
            return nullptr;
        }
        char* p = next;
        next += len + 1;
        return p;
    }
};

inline bool PushString(Pool& pool, WorkCell* cell, const char* src, size_t len) {
    if (len > kMaxString) len = kMaxString;
    char* p = pool.Alloc(len);
    if (!p) return false;
    std::memmove(p, src, len);
    p[len] = '\0';
    cell->type = kTypeC;
    cell->value.str.s = p;
    cell->value.str.len = static_cast<uint32_t>(len);
    return true;
}

// Shortens the C value on top of the pool to len characters (kept at its start).
inline void Shorten(Pool& pool, WorkCell* cell, size_t len) {
    cell->value.str.len = static_cast<uint32_t>(len);
    cell->value.str.s[len] = '\0';
    pool.next = cell->value.str.s + len + 1;
}

// Pops a C value: its bytes stay readable until the next allocation.
inline void PopString(Pool& pool, const WorkCell* cell) { pool.next = cell->value.str.s; }

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

// ---- Field fetch ----

Dbf4::WorkArea* AreaFor(int area) {
    if (area >= 1 && area < 33) return Dbf4::AreaAt(area);
    return Dbf4::Current();
}

// Memo text of a block without line breaks, up to cap characters.
size_t MemoText(const Dbf4::WorkArea* a, int32_t block, char* out, size_t cap) {
    if (!a || block == 0 || !Memo::DescriptorOf(*a)) return 0;
    std::string bytes;
    if (!Memo::ReadMemoBytes(const_cast<Dbf4::WorkArea&>(*a), block, &bytes, "Evaluate"))
        return 0;
    size_t n = 0;
    for (char c : bytes) {
        if (n >= cap) break;
        auto u = static_cast<uint8_t>(c);
        if (u == '\r' || u == '\n' || u == Memo::kSoftReturn) continue;
        if (u == 0 || u == Memo::kEndOfMemo) break;
        out[n++] = c;
    }
    return n;
}

// The block number in a memo field's text; a number beyond 32 bits names no memo.
int32_t MemoBlockOf(const char* raw, size_t length) {
    const double v = TzKey::ParseNumber(raw, length);
    if (!(std::fabs(v) <= double(INT32_MAX))) return 0;
    return static_cast<int32_t>(v);
}

// Pushes the value of field fieldNo (1-based) of area a into cell; kind 0..4 = C N L D M.
bool FetchFieldValue(int kind, Dbf4::WorkArea* a, int fieldNo, WorkCell* cell,
                     Pool& pool) {
    static const int kTypes[5] = {kTypeC, kTypeN, kTypeL, kTypeD, kTypeM};
    const Dbf4::FieldEntry* f = nullptr;
    if (a && a->state != Dbf4::kClosed && fieldNo >= 1 &&
        static_cast<size_t>(fieldNo) <= a->fields.size()) {
        f = &a->fields[static_cast<size_t>(fieldNo) - 1];
    }
    bool blank = !f || a->recCount == 0;
    bool native = f && a->isVirtual && a->native;
    if (f) Dbf4::RecordOf(*a);  // a record read ahead is translated only when looked at
    const uint8_t* raw = nullptr;
    if (f && !blank && !native) {
        if (static_cast<size_t>(f->offset) + f->length > a->record.size()) {
            blank = true;
        } else {
            raw = a->record.data() + f->offset;
        }
    }
    const uint8_t* nat = native && !blank ? a->native + f->nativeOffset : nullptr;
    cell->type = kTypes[kind];
    switch (kind) {
        case 0: {  // C
            if (blank) {
                char spaces[kMaxString];
                size_t n = f ? f->length : 0;
                std::memset(spaces, ' ', sizeof spaces);
                return PushString(pool, cell, spaces, n);
            }
            const char* s;
            size_t n;
            if (nat) {
                s = reinterpret_cast<const char*>(nat + 1);
                n = std::min<size_t>(nat[0], f->length);
            } else {
                s = reinterpret_cast<const char*>(raw);
                n = f->length;
            }
            return PushString(pool, cell, s, ::strnlen(s, n));
        }
        case 1:  // N, F
            if (blank) {
                cell->value.num = 0;
            } else if (nat) {
                if (f->decimals > 0) {
                    std::memcpy(&cell->value.num, nat, 8);
                } else {
                    int32_t v;
                    std::memcpy(&v, nat, 4);
                    cell->value.num = v;
                }
            } else {
                cell->value.num = TzKey::ParseNumber(reinterpret_cast<const char*>(raw), f->length);
            }
            return true;
        case 2: {  // L
            uint8_t c = blank ? ' ' : (nat ? nat[0] : raw[0]);
            cell->value.log = (c == 'Y' || c == 'y' || c == 'T' || c == 't' || (nat && c == 1)) ? 1 : 0;
            return true;
        }
        case 3:  // D
            if (blank) {
                cell->value.num = TzKey::kBlankDate;
            } else if (nat) {
                size_t n = std::min<size_t>(nat[0], 10);
                cell->value.num =
                    TzKey::CtodToDayNumber(std::string(reinterpret_cast<const char*>(nat + 1), n));
            } else if (f->length >= 8) {
                cell->value.num = TzKey::DateFieldToDayNumber(reinterpret_cast<const char*>(raw));
            } else {
                cell->value.num = TzKey::kBlankDate;
            }
            return true;
        default: {  // M: the memo text into the rest of the pool
            int32_t block = 0;
            if (!blank) {
                if (nat) {
                    std::memcpy(&block, nat, 4);
                } else {
                    block = MemoBlockOf(reinterpret_cast<const char*>(raw), f->length);
                }
            }
            size_t room = static_cast<size_t>(pool.end - pool.next);
            if (room == 0) {
                pool.Alloc(0);
                return false;
            }
            char* p = pool.next;
            size_t n = MemoText(a, block, p, room - 1);
            p[n] = '\0';
            pool.next += n + 1;
            cell->value.str.s = p;
            cell->value.str.len = static_cast<uint32_t>(n);
            return true;
        }
    }
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

// ---- Operations ----
//
// Each operation of the postfix code has a handler that replaces its operands (from r on)
// by its result in r; the handler returns false when the pool overflows. kHandlers maps an
// operation number to its handler.

// What the handlers share during one evaluation.
struct Step {
    int32_t op;
    int argc;
    Pool& pool;
    char* scratch;  // kMaxString + 1 bytes for results built before they are pushed
};

using OpHandler = bool (*)(WorkCell* r, Step& s);

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
    bool v = Find(r[0].value.str.s, r[0].value.str.len, r[1].value.str.s,
                  r[1].value.str.len) >= 0;
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
    long pos = Find(r[0].value.str.s, r[0].value.str.len, r[1].value.str.s,
                    r[1].value.str.len);
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
    {kOpAddNN, AddNum}, {kOpAddND, AddNum}, {kOpAddDN, AddNum},
    {kOpSubNN, SubNum}, {kOpSubDN, SubNum}, {kOpSubDD, SubNum},
    {kOpMul, Mul}, {kOpDiv, Div}, {kOpPow, Pow}, {kOpNeg, Neg},
    {kOpAddCC, AddText}, {kOpSubCC, SubText},

    {kOpEqN, CompareNum<std::equal_to<>>}, {kOpEqD, CompareNum<std::equal_to<>>},
    {kOpNeN, CompareNum<std::not_equal_to<>>}, {kOpNeD, CompareNum<std::not_equal_to<>>},
    {kOpGtN, CompareNum<std::greater<>>}, {kOpGtD, CompareNum<std::greater<>>},
    {kOpLtN, CompareNum<std::less<>>}, {kOpLtD, CompareNum<std::less<>>},
    {kOpLeN, CompareNum<std::less_equal<>>}, {kOpLeD, CompareNum<std::less_equal<>>},
    {kOpGeN, CompareNum<std::greater_equal<>>}, {kOpGeD, CompareNum<std::greater_equal<>>},
    {kOpEqL, CompareLog<std::equal_to<>>}, {kOpNeL, CompareLog<std::not_equal_to<>>},
    {kOpEqC, EqText},
    {kOpExactC, CompareText<std::equal_to<>>}, {kOpNeC, CompareText<std::not_equal_to<>>},
    {kOpGtC, CompareText<std::greater<>>}, {kOpLtC, CompareText<std::less<>>},
    {kOpLeC, CompareText<std::less_equal<>>}, {kOpGeC, CompareText<std::greater_equal<>>},
    {kOpContainsC, Contains},
    {kOpOr, Or}, {kOpAnd, And}, {kOpNot, Not},

    {kFnAbs, FnAbs}, {kFnInt, FnInt}, {kFnAsc, FnAsc}, {kFnLen, FnLen}, {kFnVal, FnVal},
    {kFnAt, FnAt}, {kFnRound, FnRound}, {kFnMod, FnMod}, {kFnMax, FnMax}, {kFnMin, FnMin},
    {kFnYear, FnDatePart}, {kFnMonth, FnDatePart}, {kFnDay, FnDatePart},
    {kFnDow, FnDow}, {kFnRecno, FnRecno},

    {kFnDate, FnDate}, {kFnCtod, FnCtod}, {kFnDeleted, FnDeleted},

    {kFnUpper, FnCase}, {kFnLower, FnCase}, {kFnTrim, FnTrim}, {kFnRtrim, FnTrim},
    {kFnLtrim, FnLtrim}, {kFnLeft, FnLeftRight}, {kFnRight, FnLeftRight},
    {kFnSubstr, FnSubstr}, {kFnIif, FnIif}, {kFnStuff, FnStuff},

    {kFnReplicate, FnReplicate}, {kFnSpace, FnSpace}, {kFnChr, FnChr}, {kFnStr, FnStr},
    {kFnDtos, FnDtos}, {kFnDtoc, FnDtoc}, {kFnCdow, FnDayMonthName},
    {kFnCmonth, FnDayMonthName}, {kFnSoundex, FnSoundex},
};

constexpr int32_t kOpLimit = kOpNeg + 1;  // every operation number is below this

constexpr std::array<OpHandler, kOpLimit> MakeHandlers() {
    std::array<OpHandler, kOpLimit> table{};
    for (const OpEntry& e : kOpEntries) table[static_cast<size_t>(e.op)] = e.run;
    return table;
}
constexpr std::array<OpHandler, kOpLimit> kHandlers = MakeHandlers();

// Handler of op; null for a number that is not an operation of this engine.
inline OpHandler HandlerOf(int32_t op) {
    return op >= 0 && op < kOpLimit ? kHandlers[static_cast<size_t>(op)] : nullptr;
}

// ---- Operands ----

// Pushes a constant of the code into cell; false when the pool overflows.
bool PushConstant(const CodeCell& c, WorkCell* cell, Pool& pool) {
    switch (c.ctype) {
        case kTypeC:
            return PushString(pool, cell, c.value.str->data(), c.value.str->size());
        case kTypeL:
            cell->type = kTypeL;
            cell->value.log = c.value.log;
            return true;
        default:
            cell->type = c.ctype;
            cell->value.num = c.value.num;
            return true;
    }
}

// Replaces the field number (and the area number of an alias operation) on top of the stack
// by the field's value; returns the next free cell, *ok false when the pool overflows.
WorkCell* FetchField(int32_t op, WorkCell* sp, Pool& pool, bool* ok) {
    int area = 33;
    if (op >= kTokAliasC) {
        area = (sp - 1)->value.log;
        --sp;
    }
    int fieldNo = (sp - 1)->value.log;
    --sp;
    *ok = FetchFieldValue((op - kTokFieldC) % 5, AreaFor(area), fieldNo, sp, pool);
    return sp + 1;
}

}  // namespace

const uint8_t* Evaluate(ExprBlock* block) {
    if (!block) return nullptr;
    WorkCell* const base = block->work.data();
    WorkCell* const limit = base + block->work.size();
    WorkCell* sp = base;  // next free cell
    Pool pool{block->pool.data(), block->pool.data(), block->pool.data() + block->pool.size()};
    pool.start[0] = '\0';
    char scratch[kMaxString + 1];
    bool ok = true;

    for (const CodeCell* c = block->code.data(); ok; ++c) {
        const int32_t op = c->op;
        const int argc = c->argc;
        if (op == kOpEnd) break;
        if (op == kOpPush) {
            if (sp >= limit) {
                ok = false;
                break;
            }
            ok = PushConstant(*c, sp, pool);
            ++sp;
            continue;
        }
        if (op >= kTokFieldC && op <= kTokAliasM) {
            sp = FetchField(op, sp, pool, &ok);
            continue;
        }
        if (sp - argc < base || (argc == 0 && sp >= limit)) {
            ok = false;
            break;
        }
        const OpHandler run = HandlerOf(op);
        if (!run) continue;  // not an operation of this engine: skipped
        WorkCell* r = sp - argc;  // the result replaces the first operand
        Step step{op, argc, pool, scratch};
        ok = run(r, step);
        sp = r + 1;
    }

    if (!ok || sp != base + 1) {
        // Pool overflow or a damaged stack: the result is blank.
        pool.start[0] = '\0';
        base[0].value.num = 0;
    }
    return block->result;
}

double ResultNumber(const ExprBlock* block) {
    double v = 0;
    if (block && (block->type == 'N' || block->type == 'D')) std::memcpy(&v, block->result, 8);
    return v;
}

bool ResultLogical(const ExprBlock* block) {
    int32_t v = 0;
    if (block && block->type == 'L') std::memcpy(&v, block->result, 4);
    return v != 0;
}

std::string ResultString(const ExprBlock* block) {
    if (!block || (block->type != 'C' && block->type != 'M')) return {};
    return std::string(reinterpret_cast<const char*>(block->result));
}

std::string ExprText(const void* block) {
    const auto* b = static_cast<const ExprBlock*>(block);
    return IsLiveExpr(b) ? b->text : std::string();
}

const uint8_t* KeyEvalHook() { return Evaluate(CurrentKeyExpr); }

void Install() {
    Dbf4::parserHooks.compile = [](const std::string& text) -> void* { return AssignExpr(text); };
    Dbf4::parserHooks.free = [](void* expr) {
        auto* b = static_cast<ExprBlock*>(expr);
        FreeExpr(b);
    };
    Dbf4::parserHooks.evaluate = [](void* expr) -> const uint8_t* {
        return Evaluate(static_cast<ExprBlock*>(expr));
    };
    Dbf4::parserHooks.text = [](void* expr) { return ExprText(expr); };
    Dbf4::parserPresent = true;
}

}  // namespace TzParser
