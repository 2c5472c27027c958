// The postfix engine: the evaluation loop, field fetch, results and the engine hooks; the
// operators and built-in functions are in expr_ops.cpp.
#include "expr/expr_eval.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "expr/expr_ops.h"
#include "expr/key_encoding.h"
#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/memo.h"
#include "storage/tz_common.h"

namespace TzParser {

ExprBlock* CurrentKeyExpr = nullptr;

using namespace ops;

namespace {

// ---- Field fetch ----

Dbf4::WorkArea* AreaFor(int area) {
    if (area >= 1 && area < 33) return Dbf4::AreaAt(area);
    return Dbf4::Current();
}

// Memo text of a block without line breaks, up to cap characters.
size_t MemoText(const Dbf4::WorkArea* a, int32_t block, char* out, size_t cap) {
    if (!a || block == 0 || !Memo::DescriptorOf(*a)) return 0;
    std::string bytes;
    if (!Memo::ReadMemoBytes(const_cast<Dbf4::WorkArea&>(*a), block, &bytes, "Evaluate")) return 0;
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
bool FetchFieldValue(int kind, Dbf4::WorkArea* a, int fieldNo, WorkCell* cell, Pool& pool) {
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
            cell->value.log =
                (c == 'Y' || c == 'y' || c == 'T' || c == 't' || (nat && c == 1)) ? 1 : 0;
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
        if (!run) continue;       // not an operation of this engine: skipped
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

const uint8_t* KeyEvalHook() {
    return Evaluate(CurrentKeyExpr);
}

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
