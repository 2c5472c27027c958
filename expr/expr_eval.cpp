// The postfix engine: operators, built-in functions, field fetch and the engine hooks.
#include "expr/expr_eval.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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
            if (!overflow)
                TzCommon::SetError(TzErr::ExprPoolOverflow,
                                   "Working pool overflow [PARSER/Allocate]");
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

#define TOP (sp - 1)
#define ARG(i) (sp - argc + (i))  // i-th operand from 0

    for (const CodeCell* c = block->code.data(); ok; ++c) {
        const int32_t op = c->op;
        const int argc = c->argc;
        if (op == kOpEnd) break;
        if (op == kOpPush) {
            if (sp >= limit) {
                ok = false;
                break;
            }
            switch (c->ctype) {
                case kTypeC:
                    ok = PushString(pool, sp, c->value.str->data(), c->value.str->size());
                    break;
                case kTypeL:
                    sp->type = kTypeL;
                    sp->value.log = c->value.log;
                    break;
                default:
                    sp->type = c->ctype;
                    sp->value.num = c->value.num;
                    break;
            }
            ++sp;
            continue;
        }
        if (op >= kTokFieldC && op <= kTokAliasM) {
            int area = 33;
            if (op >= kTokAliasC) {
                area = TOP->value.log;
                --sp;
            }
            int fieldNo = TOP->value.log;
            --sp;
            ok = FetchFieldValue((op - kTokFieldC) % 5, AreaFor(area), fieldNo, sp, pool);
            ++sp;
            continue;
        }
        if (sp - argc < base || (argc == 0 && sp >= limit)) {
            ok = false;
            break;
        }
        WorkCell* r = sp - argc;  // the result replaces the first operand
        switch (op) {
            // ---- arithmetic ----
            case kOpAddNN:
            case kOpAddND:
            case kOpAddDN:
                r->value.num = r[0].value.num + r[1].value.num;
                r->type = op == kOpAddNN ? kTypeN : kTypeD;
                break;
            case kOpSubNN:
            case kOpSubDN:
            case kOpSubDD:
                r->value.num = r[0].value.num - r[1].value.num;
                r->type = op == kOpSubDN ? kTypeD : kTypeN;
                break;
            case kOpMul:
                r->value.num = r[0].value.num * r[1].value.num;
                break;
            case kOpDiv:
                if (r[1].value.num == 0) {
                    EvalError("Divide by 0");
                    r->value.num = kDivideByZero;
                } else {
                    r->value.num = r[0].value.num / r[1].value.num;
                }
                break;
            case kOpPow:
                if (!Power(r[0].value.num, r[1].value.num, &r->value.num)) {
                    EvalError("Power of ** or ^ undefined");
                    r->value.num = kDivideByZero;
                }
                break;
            case kOpNeg:
                r->value.num = -r->value.num;
                break;
            case kOpAddCC: {
                size_t la = r[0].value.str.len, lb = r[1].value.str.len;
                size_t take = std::min(lb, kMaxString - std::min(la, kMaxString));
                std::memmove(r[0].value.str.s + la, r[1].value.str.s, take);
                Shorten(pool, r, la + take);
                break;
            }
            case kOpSubCC: {
                size_t la = r[0].value.str.len, lb = r[1].value.str.len;
                size_t kept = la;
                while (kept > 0 && r[0].value.str.s[kept - 1] == ' ') --kept;
                size_t total = std::min(la + lb, kMaxString);
                char* s = r[0].value.str.s;
                size_t take = std::min(lb, total > kept ? total - kept : 0);
                std::memmove(s + kept, r[1].value.str.s, take);
                std::memset(s + kept + take, ' ', total - kept - take);
                Shorten(pool, r, total);
                break;
            }
            // ---- comparisons ----
            case kOpEqN: case kOpEqD: r->value.log = r[0].value.num == r[1].value.num; break;
            case kOpNeN: case kOpNeD: r->value.log = r[0].value.num != r[1].value.num; break;
            case kOpGtN: case kOpGtD: r->value.log = r[0].value.num > r[1].value.num; break;
            case kOpLtN: case kOpLtD: r->value.log = r[0].value.num < r[1].value.num; break;
            case kOpLeN: case kOpLeD: r->value.log = r[0].value.num <= r[1].value.num; break;
            case kOpGeN: case kOpGeD: r->value.log = r[0].value.num >= r[1].value.num; break;
            case kOpEqL: r->value.log = (r[0].value.log != 0) == (r[1].value.log != 0); break;
            case kOpNeL: r->value.log = (r[0].value.log != 0) != (r[1].value.log != 0); break;
            case kOpEqC: {
                size_t lb = r[1].value.str.len;
                bool v = lb != 0 && r[0].value.str.len >= lb &&
                         std::memcmp(r[0].value.str.s, r[1].value.str.s, lb) == 0;
                PopString(pool, r);
                r->value.log = v;
                break;
            }
            case kOpExactC:
            case kOpGtC:
            case kOpLtC:
            case kOpNeC:
            case kOpLeC:
            case kOpGeC: {
                int cmp = CompareStrings(r[0], r[1]);
                PopString(pool, r);
                bool v = op == kOpExactC ? cmp == 0
                       : op == kOpGtC    ? cmp > 0
                       : op == kOpLtC    ? cmp < 0
                       : op == kOpNeC    ? cmp != 0
                       : op == kOpLeC    ? cmp <= 0
                                         : cmp >= 0;
                r->value.log = v;
                break;
            }
            case kOpContainsC: {
                bool v = Find(r[0].value.str.s, r[0].value.str.len, r[1].value.str.s,
                              r[1].value.str.len) >= 0;
                PopString(pool, r);
                r->value.log = v;
                break;
            }
            case kOpOr: r->value.log = (r[0].value.log != 0) || (r[1].value.log != 0); break;
            case kOpAnd: r->value.log = (r[0].value.log != 0) && (r[1].value.log != 0); break;
            case kOpNot: r->value.log = r->value.log == 0; break;

            // ---- numeric functions ----
            case kFnAbs: r->value.num = std::fabs(r->value.num); break;
            case kFnInt: r->value.num = std::trunc(r->value.num); break;
            case kFnAsc: {
                double v = r->value.str.len ? static_cast<uint8_t>(r->value.str.s[0]) : 0;
                PopString(pool, r);
                r->value.num = v;
                break;
            }
            case kFnLen: {
                double v = r->value.str.len;
                PopString(pool, r);
                r->value.num = v;
                break;
            }
            case kFnVal: {
                double v = TzKey::ParseNumber(r->value.str.s, r->value.str.len);
                PopString(pool, r);
                r->value.num = v;
                break;
            }
            case kFnAt: {
                long pos = Find(r[0].value.str.s, r[0].value.str.len, r[1].value.str.s,
                                r[1].value.str.len);
                PopString(pool, r);
                r->value.num = static_cast<double>(pos + 1);
                break;
            }
            case kFnRound:
                r->value.num = RoundDown(r[0].value.num, ToInt(r[1].value.num));
                break;
            case kFnMod: {
                double a = std::trunc(r[0].value.num), b = std::trunc(r[1].value.num);
                if (b == 0 || !(b == b)) {
                    EvalError("Divide by 0");
                    r->value.num = kDivideByZero;
                } else {
                    r->value.num = std::fmod(a, b);
                }
                break;
            }
            case kFnMax: r->value.num = r[0].value.num > r[1].value.num ? r[0].value.num : r[1].value.num; break;
            case kFnMin: r->value.num = r[0].value.num >= r[1].value.num ? r[1].value.num : r[0].value.num; break;
            case kFnYear:
            case kFnMonth:
            case kFnDay: {
                int y = 0, m = 0, d = 0;
                TzKey::DayNumberToYmd(r->value.num, &y, &m, &d);
                r->value.num = op == kFnYear ? y : op == kFnMonth ? m : d;
                r->type = kTypeN;
                break;
            }
            case kFnDow:
                r->value.num = TzKey::DayNumberToDow(r->value.num);
                r->type = kTypeN;
                break;
            case kFnRecno: {
                const Dbf4::WorkArea* a = Dbf4::Current();
                r->type = kTypeN;
                r->value.num = a ? a->recNo : 0;
                break;
            }

            // ---- date functions ----
            case kFnDate:
                r->type = kTypeD;
                r->value.num = TzKey::TodayDayNumber();
                break;
            case kFnCtod: {
                std::string text(r->value.str.s, std::min<size_t>(r->value.str.len, 10));
                PopString(pool, r);
                r->type = kTypeD;
                r->value.num = TzKey::CtodToDayNumber(text);
                break;
            }
            case kFnDeleted: {
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
                break;
            }

            // ---- character functions working in place ----
            case kFnUpper:
            case kFnLower: {
                const uint8_t* table = op == kFnUpper ? kCase.upper : kCase.lower;
                auto* s = reinterpret_cast<uint8_t*>(r->value.str.s);
                for (uint32_t i = 0; i < r->value.str.len; ++i) s[i] = table[s[i]];
                break;
            }
            case kFnTrim:
            case kFnRtrim: {
                size_t n = r->value.str.len;
                while (n > 0 && r->value.str.s[n - 1] == ' ') --n;
                Shorten(pool, r, n);
                break;
            }
            case kFnLtrim: {
                size_t n = r->value.str.len, k = 0;
                while (k < n && r->value.str.s[k] == ' ') ++k;
                std::memmove(r->value.str.s, r->value.str.s + k, n - k);
                Shorten(pool, r, n - k);
                break;
            }
            case kFnLeft:
            case kFnRight: {
                long n = std::max(0L, ToInt(r[1].value.num));
                size_t len = r->value.str.len;
                if (static_cast<size_t>(n) < len) {
                    if (op == kFnRight) std::memmove(r->value.str.s, r->value.str.s + len - n, n);
                    Shorten(pool, r, static_cast<size_t>(n));
                }
                break;
            }
            case kFnSubstr: {
                long start = ToInt(r[1].value.num), count = ToInt(r[2].value.num);
                long len = r->value.str.len;
                if (start < 1) start = 1;
                if (start > len || count < 1) {
                    Shorten(pool, r, 0);
                } else {
                    count = std::min(count, len - start + 1);
                    std::memmove(r->value.str.s, r->value.str.s + start - 1, count);
                    Shorten(pool, r, static_cast<size_t>(count));
                }
                break;
            }
            case kFnIif: {
                bool cond = r[0].value.log != 0;
                const WorkCell& pick = cond ? r[1] : r[2];
                char* dest = r[1].value.str.s;
                size_t n = pick.value.str.len;
                std::memmove(dest, pick.value.str.s, n + 1);
                r->type = kTypeC;
                r->value.str.s = dest;
                Shorten(pool, r, n);
                break;
            }
            case kFnStuff: {
                const WorkCell& cs = r[0];
                const WorkCell& rs = r[3];
                long len = cs.value.str.len;
                long s = ToInt(r[1].value.num), k = ToInt(r[2].value.num);
                if (s < 1) s = 1;
                if (s > len + 1) s = len + 1;
                if (k < 0) k = 0;
                if (k > len - (s - 1)) k = len - (s - 1);
                size_t n = 0;
                auto put = [&](const char* p, size_t m) {
                    m = std::min(m, kMaxString - n);
                    std::memcpy(scratch + n, p, m);
                    n += m;
                };
                put(cs.value.str.s, static_cast<size_t>(s - 1));
                put(rs.value.str.s, rs.value.str.len);
                put(cs.value.str.s + s - 1 + k, static_cast<size_t>(len - (s - 1) - k));
                PopString(pool, r);
                ok = PushString(pool, r, scratch, n);
                break;
            }

            // ---- character functions making new strings ----
            case kFnReplicate: {
                long times = ToInt(r[1].value.num);
                size_t piece = r[0].value.str.len, n = 0;
                if (piece > 0) {
                    for (long i = 0; i < times && n < kMaxString; ++i) {
                        size_t m = std::min(piece, kMaxString - n);
                        std::memcpy(scratch + n, r[0].value.str.s, m);
                        n += m;
                    }
                }
                PopString(pool, r);
                ok = PushString(pool, r, scratch, n);
                break;
            }
            case kFnSpace: {
                long n = std::clamp(ToInt(r->value.num), 0L, static_cast<long>(kMaxString));
                std::memset(scratch, ' ', static_cast<size_t>(n));
                ok = PushString(pool, r, scratch, static_cast<size_t>(n));
                break;
            }
            case kFnChr: {
                scratch[0] = static_cast<char>(ToInt(r->value.num) & 0xFF);
                ok = PushString(pool, r, scratch, scratch[0] ? 1 : 0);
                break;
            }
            case kFnStr: {
                long width = argc >= 2 ? ToInt(r[1].value.num) : 10;
                long decimals = argc >= 3 ? ToInt(r[2].value.num) : 0;
                size_t n = FormatStr(r[0].value.num, width, decimals, scratch);
                ok = PushString(pool, r, scratch, n);
                break;
            }
            case kFnDtos:
                TzKey::DayNumberToDtos(r->value.num, scratch);
                ok = PushString(pool, r, scratch, 8);
                break;
            case kFnDtoc: {
                size_t n = TzKey::DayNumberToDateText(r->value.num, TzCommon::DateStyle(),
                                                      TzCommon::CenturyFlag(), scratch);
                ok = PushString(pool, r, scratch, n);
                break;
            }
            case kFnCdow:
            case kFnCmonth: {
                std::string name(10, ' ');
                int y, m, d;
                if (TzKey::DayNumberToYmd(r->value.num, &y, &m, &d)) {
                    name = op == kFnCdow ? TimeDate::DayNameOf(TzKey::DayNumberToDow(r->value.num))
                                         : TimeDate::MonthNameOf(m);
                }
                ok = PushString(pool, r, name.data(), std::min<size_t>(name.size(), 14));
                break;
            }
            case kFnSoundex: {
                TzKey::SoundexInto(r->value.str.s, r->value.str.len, scratch);
                PopString(pool, r);
                ok = PushString(pool, r, scratch, 4);
                break;
            }
            default:
                // Not an operation of this engine: skipped.
                continue;
        }
        sp = r + 1;
    }
#undef TOP
#undef ARG

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
