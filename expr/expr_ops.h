// The evaluator's working pool and its table of operations, shared by the evaluator
// (expr_eval.cpp) and the operations (expr_ops.cpp). One evaluation at a time, not
// thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "expr/expr_parser.h"
#include "storage/tz_common.h"

namespace TzParser::ops {

constexpr size_t kMaxString = 255;  // character results never grow beyond this

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
inline void PopString(Pool& pool, const WorkCell* cell) {
    pool.next = cell->value.str.s;
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

constexpr int32_t kOpLimit = kOpNeg + 1;  // every operation number is below this
extern const std::array<OpHandler, kOpLimit> kHandlers;

// Handler of op; null for a number that is not an operation of this engine.
inline OpHandler HandlerOf(int32_t op) {
    return op >= 0 && op < kOpLimit ? kHandlers[static_cast<size_t>(op)] : nullptr;
}

}  // namespace TzParser::ops
