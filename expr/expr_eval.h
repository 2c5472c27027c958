// Running compiled expressions: the postfix engine over a typed working stack and a
// fixed working pool, every operator and built-in function, field fetch from the work areas,
// and the hooks through which the table engine and the index engine reach the language.
// Module-wide state, not re-entrant, not thread-safe. Evaluation allocates nothing: the
// working stack and pool of a block are sized when it is compiled.
#pragma once

#include <cstdint>
#include <string>

#include "expr/expr_parser.h"

namespace TzParser {

// Runs the block against the current record; the address of its result (8-byte float for N
// and D, 32-bit integer for L, zero-terminated string for C and M), null for no block.
const uint8_t* Evaluate(ExprBlock* block);

// Convenience readers of a result (after Evaluate).
double ResultNumber(const ExprBlock* block);
bool ResultLogical(const ExprBlock* block);
std::string ResultString(const ExprBlock* block);

// The expression text of a block (empty for none).
std::string ExprText(const void* block);

// The tag key the index engine evaluates through KeyEvalHook.
extern ExprBlock* CurrentKeyExpr;
const uint8_t* KeyEvalHook();

// Installs the compile, free and evaluate hooks into the table engine and sets its
// parser-present flag. Called once at start-up.
void Install();

}  // namespace TzParser
