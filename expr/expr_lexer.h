// Lexer of the dBASE expression language: token numbers, the keyword table with its
// four-letter abbreviations, name resolution to fields of the work areas, and the
// per-compilation bookkeeping (result length, decimals, working-pool size) that the parser
// reads when it builds an ExprBlock.
// Module-wide state, called only by the parser, one compilation at a time; not thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

namespace TzParser {

// ---- Token numbers ----
inline constexpr int kTokEnd = 0;
// Function keywords (also the operation codes of the functions).
inline constexpr int kFnAbs = 257, kFnAsc = 259, kFnAt = 261, kFnCdow = 264, kFnChr = 266,
                     kFnCmonth = 267, kFnCtod = 269, kFnDate = 270, kFnDay = 271, kFnDeleted = 272,
                     kFnDow = 274, kFnDtoc = 275, kFnDtos = 277, kFnIif = 283, kFnInt = 284,
                     kFnLeft = 288, kFnLen = 289, kFnLower = 292, kFnLtrim = 293, kFnMax = 294,
                     kFnMin = 295, kFnMod = 296, kFnMonth = 297, kFnRecno = 300, kFnReplicate = 301,
                     kFnRight = 302, kFnRound = 303, kFnRtrim = 305, kFnSoundex = 308,
                     kFnSpace = 310, kFnStr = 311, kFnStuff = 312, kFnSubstr = 313, kFnTrim = 316,
                     kFnUpper = 318, kFnVal = 319, kFnYear = 320;
// Field references: C, N/F, L, D, M of the current area, then the same with an alias.
inline constexpr int kTokFieldC = 321, kTokFieldN = 322, kTokFieldL = 323, kTokFieldD = 324,
                     kTokFieldM = 325;
inline constexpr int kTokAliasC = 326, kTokAliasN = 327, kTokAliasL = 328, kTokAliasD = 329,
                     kTokAliasM = 330;
inline constexpr int kTokString = 331, kTokNumber = 332;
inline constexpr int kTokUnknown = 336;  // unknown name; also the keyword table's end marker
inline constexpr int kTokFalse = 337, kTokTrue = 338, kTokNot = 339, kTokOr = 340, kTokAnd = 341;
inline constexpr int kTokNotEqual = 342, kTokLessEq = 343, kTokGreaterEq = 344, kTokExactEq = 345,
                     kTokContains = 346;

// Value types (the parser's symbol values and the evaluator's cell types).
inline constexpr int kTypeC = 331, kTypeN = 332, kTypeL = 333, kTypeD = 334, kTypeM = 335;

inline constexpr uint8_t kNoDecimals = 19;  // LastDecimals before any N field
inline constexpr uint8_t kDefaultDecimals = 2;
inline constexpr size_t kTextBuffer = 256;    // expression text incl. terminator
inline constexpr size_t kMaxNameLength = 80;  // longer names and numbers are refused

// ---- Keyword table ----
struct KeywordRecord {
    const char* name;
    int32_t token;
    uint16_t weight;  // largest new string (with terminator) the function leaves in the pool
};
inline constexpr int kKeywordCount = 68;
extern const KeywordRecord KeywordTable[kKeywordCount];

// ---- Per-compilation state ----
struct LexState {
    char text[kTextBuffer] = {};
    int pos = 0;
    uint8_t LastLength = 0;
    uint8_t LastDecimals = kNoDecimals;
    uint16_t WorkSize = 0;
    // Values of the last token.
    double numberValue = 0;
    const std::string* stringValue = nullptr;     // heap copy in the literal list
    int fieldNo = 0;                              // 1-based
    int areaNo = 0;                               // 1..32, set only by an alias reference
    std::deque<std::string>* literals = nullptr;  // the current block's literal list
};
extern LexState lex;

// Resets the bookkeeping for a new compilation of text (its first 255 characters are kept).
void ResetLexer(const std::string& text, std::deque<std::string>* literals);
// Next token number; a negative value is the end of the text.
int NextToken();
// Token of an upper-case name in KeywordTable (kTokUnknown when absent); adds its weight to
// WorkSize.
int LookupKeyword(const std::string& name);
// Field token (321-330) of name in the current area, or with alias "ALIAS.FIELD" in the area
// of that alias; kTokUnknown when there is none.
int ResolveField(const std::string& name, bool alias);
// Position (from 0) of the last character read.
int LastReadPosition();

}  // namespace TzParser
