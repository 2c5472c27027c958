// Compiling dBASE expressions: AssignExpr turns an expression text into an ExprBlock (postfix
// code, result type, length and decimals, working pool); FreeExpr releases it; ValidateExpr
// checks a tag's key or FOR expression before the index engine adds the tag.
// Module-wide compiler state, one compilation at a time; not thread-safe. Compile errors go
// through TzCommon::SetError with code 351.
//
// Invariants of an ExprBlock:
//  1. code ends with one cell of operation kOpEnd, and running it leaves exactly one value.
//  2. work holds at least as many cells as the code ever has values stacked.
//  3. pool.size() >= poolSize >= 1; every C value an evaluation builds fits into poolSize
//     bytes (the working-length weights of the keyword table guarantee it), and the pool is
//     bounds-checked anyway (error 354).
//  4. string constants point into literals, whose elements never move.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "expr/expr_lexer.h"

namespace TzParser {

inline constexpr int32_t kOpPush = 0;
inline constexpr int32_t kOpEnd = -1;

// Operator operation codes (functions and fields use their token numbers).
enum : int32_t {
    kOpAddNN = 347,
    kOpAddND = 348,
    kOpAddDN = 349,
    kOpAddCC = 350,
    kOpSubNN = 351,
    kOpSubDN = 352,
    kOpSubDD = 353,
    kOpSubCC = 354,
    kOpMul = 355,
    kOpDiv = 356,
    kOpPow = 357,
    kOpEqN = 358,
    kOpEqD = 359,
    kOpEqC = 360,
    kOpEqL = 361,
    kOpExactC = 362,
    kOpContainsC = 363,
    kOpGtN = 364,
    kOpGtD = 365,
    kOpGtC = 366,
    kOpLtN = 367,
    kOpLtD = 368,
    kOpLtC = 369,
    kOpNeN = 370,
    kOpNeD = 371,
    kOpNeC = 372,
    kOpNeL = 373,
    kOpLeN = 374,
    kOpLeD = 375,
    kOpLeC = 376,
    kOpGeN = 377,
    kOpGeD = 378,
    kOpGeC = 379,
    kOpOr = 380,
    kOpAnd = 381,
    kOpNot = 382,
    kOpNeg = 383,
};

struct CodeCell {
    int32_t op = kOpPush;
    int32_t argc = 0;
    int32_t ctype = 0;  // push constant: kTypeC, kTypeN, kTypeL or kTypeD
    union {
        double num;
        int32_t log;
        const std::string* str;
    } value{};
};

struct WorkCell {
    int32_t type = 0;
    union {
        double num;   // N and D
        int32_t log;  // L: 0 false, 1 true
        struct {
            char* s;  // C and M: the string in the pool
            uint32_t len;
        } str;
    } value{};
};

struct ExprBlock {
    std::string text;
    char type = 'N';  // C, N, L, D or M
    uint16_t length = 0;
    uint8_t decimals = 0;
    const uint8_t* result = nullptr;
    std::deque<std::string> literals;
    std::vector<CodeCell> code;
    std::vector<WorkCell> work;
    uint16_t poolSize = 0;
    std::vector<char> pool;
    int resultToken = 0;  // kTypeC .. kTypeM
};

// Compiles text; null on failure (the error has been reported with code 351).
ExprBlock* AssignExpr(const std::string& text);
// Compiles text like AssignExpr but reports nothing: null when it does not compile, and the
// error state is as it was (a first attempt before another form of the text).
ExprBlock* TryAssignExpr(const std::string& text);
// Frees a block made by AssignExpr and sets the reference to null; a block that is not
// live is left alone.
void FreeExpr(ExprBlock*& block);
// True while the block is live (made by AssignExpr and not freed).
bool IsLiveExpr(const ExprBlock* block);

// 0 when text compiles to a usable tag key (forKey) or FOR condition; otherwise 359 (empty),
// 360 (key longer than 220), 361 (key of type M or L), 362 (FOR not logical) or the compile
// error. Trailing blanks are removed from text.
uint16_t ValidateExpr(std::string& text, bool forKey);
uint16_t ValidateForExpr(const std::string& text);

// Working size given to expressions of type M (default 256).
uint16_t MemoWorkSize();
void SetMemoWorkSize(uint16_t size);

// The language's process-wide state back at start-up: the memo working size at its default,
// no current key expression, compile failures reported. Live blocks stay live: their owners
// free them. Part of TzEngine::Reset.
void ResetState();

// Reports a compile error with code 351, showing the text around the last character read.
void ReportExprError(const std::string& message);

}  // namespace TzParser
