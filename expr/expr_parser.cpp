// Expression compiler: operator-precedence parse driven by the operator and function tables
// below, type rules at every reduction, postfix code emission, result length rules.
#include "expr/expr_parser.h"

#include <algorithm>
#include <memory>
#include <unordered_set>

#include "expr/expr_eval.h"
#include "storage/scope_exit.h"
#include "storage/tz_common.h"

namespace TzParser {

namespace {

// ---- Operator table ----
// Binary operators by precedence, lowest first; all left-associative. Prefix operators
// (.NOT., unary - and +) bind tighter than any of them.
struct OperandForm {
    int left, right, result;
    int32_t op;
};
struct BinaryOperator {
    int token;
    int precedence;
    const char* text;  // for the type-mismatch message
    OperandForm forms[4];
    int formCount;
};

const BinaryOperator kBinaryOperators[] = {
    {kTokOr, 1, ".OR.", {{kTypeL, kTypeL, kTypeL, kOpOr}}, 1},
    {kTokAnd, 2, ".AND.", {{kTypeL, kTypeL, kTypeL, kOpAnd}}, 1},
    {'=',
     3,
     "=",
     {{kTypeN, kTypeN, kTypeL, kOpEqN},
      {kTypeD, kTypeD, kTypeL, kOpEqD},
      {kTypeC, kTypeC, kTypeL, kOpEqC},
      {kTypeL, kTypeL, kTypeL, kOpEqL}},
     4},
    {kTokNotEqual,
     3,
     "<>",
     {{kTypeN, kTypeN, kTypeL, kOpNeN},
      {kTypeD, kTypeD, kTypeL, kOpNeD},
      {kTypeC, kTypeC, kTypeL, kOpNeC},
      {kTypeL, kTypeL, kTypeL, kOpNeL}},
     4},
    {kTokContains, 4, "$", {{kTypeC, kTypeC, kTypeL, kOpContainsC}}, 1},
    {kTokExactEq, 4, "==", {{kTypeC, kTypeC, kTypeL, kOpExactC}}, 1},
    {'>',
     5,
     ">",
     {{kTypeN, kTypeN, kTypeL, kOpGtN},
      {kTypeD, kTypeD, kTypeL, kOpGtD},
      {kTypeC, kTypeC, kTypeL, kOpGtC}},
     3},
    {'<',
     5,
     "<",
     {{kTypeN, kTypeN, kTypeL, kOpLtN},
      {kTypeD, kTypeD, kTypeL, kOpLtD},
      {kTypeC, kTypeC, kTypeL, kOpLtC}},
     3},
    {kTokLessEq,
     5,
     "<=",
     {{kTypeN, kTypeN, kTypeL, kOpLeN},
      {kTypeD, kTypeD, kTypeL, kOpLeD},
      {kTypeC, kTypeC, kTypeL, kOpLeC}},
     3},
    {kTokGreaterEq,
     5,
     ">=",
     {{kTypeN, kTypeN, kTypeL, kOpGeN},
      {kTypeD, kTypeD, kTypeL, kOpGeD},
      {kTypeC, kTypeC, kTypeL, kOpGeC}},
     3},
    {'+',
     6,
     "+",
     {{kTypeN, kTypeN, kTypeN, kOpAddNN},
      {kTypeN, kTypeD, kTypeD, kOpAddND},
      {kTypeD, kTypeN, kTypeD, kOpAddDN},
      {kTypeC, kTypeC, kTypeC, kOpAddCC}},
     4},
    {'-',
     6,
     "-",
     {{kTypeN, kTypeN, kTypeN, kOpSubNN},
      {kTypeD, kTypeN, kTypeD, kOpSubDN},
      {kTypeD, kTypeD, kTypeN, kOpSubDD},
      {kTypeC, kTypeC, kTypeC, kOpSubCC}},
     4},
    {'*', 7, "*", {{kTypeN, kTypeN, kTypeN, kOpMul}}, 1},
    {'/', 7, "/", {{kTypeN, kTypeN, kTypeN, kOpDiv}}, 1},
    {'^', 8, "** or ^", {{kTypeN, kTypeN, kTypeN, kOpPow}}, 1},
};

const BinaryOperator* FindBinary(int token) {
    for (const BinaryOperator& b : kBinaryOperators) {
        if (b.token == token) return &b;
    }
    return nullptr;
}

// ---- Function table ----
// Argument types first to last; a second row of the same token is an alternative form
// (MIN and MAX on dates). STR takes 1 to 3 arguments, every other function a fixed number.
struct FunctionForm {
    int token;
    const char* name;
    int minArgs, maxArgs;
    int args[4];
    int result;
};

const FunctionForm kFunctions[] = {
    {kFnYear, "YEAR", 1, 1, {kTypeD}, kTypeN},
    {kFnMonth, "MONTH", 1, 1, {kTypeD}, kTypeN},
    {kFnDow, "DOW", 1, 1, {kTypeD}, kTypeN},
    {kFnDay, "DAY", 1, 1, {kTypeD}, kTypeN},
    {kFnAt, "AT", 2, 2, {kTypeC, kTypeC}, kTypeN},
    {kFnRound, "ROUND", 2, 2, {kTypeN, kTypeN}, kTypeN},
    {kFnMod, "MOD", 2, 2, {kTypeN, kTypeN}, kTypeN},
    {kFnMin, "MIN", 2, 2, {kTypeN, kTypeN}, kTypeN},
    {kFnMin, "MIN", 2, 2, {kTypeD, kTypeD}, kTypeD},
    {kFnMax, "MAX", 2, 2, {kTypeN, kTypeN}, kTypeN},
    {kFnMax, "MAX", 2, 2, {kTypeD, kTypeD}, kTypeD},
    {kFnInt, "INT", 1, 1, {kTypeN}, kTypeN},
    {kFnAbs, "ABS", 1, 1, {kTypeN}, kTypeN},
    {kFnVal, "VAL", 1, 1, {kTypeC}, kTypeN},
    {kFnLen, "LEN", 1, 1, {kTypeC}, kTypeN},
    {kFnAsc, "ASC", 1, 1, {kTypeC}, kTypeN},
    {kFnRecno, "RECNO", 0, 0, {}, kTypeN},
    {kFnStuff, "STUFF", 4, 4, {kTypeC, kTypeN, kTypeN, kTypeC}, kTypeC},
    {kFnIif, "IIF", 3, 3, {kTypeL, kTypeC, kTypeC}, kTypeC},
    {kFnStr, "STR", 1, 3, {kTypeN, kTypeN, kTypeN}, kTypeC},
    {kFnSubstr, "SUBSTR", 3, 3, {kTypeC, kTypeN, kTypeN}, kTypeC},
    {kFnRight, "RIGHT", 2, 2, {kTypeC, kTypeN}, kTypeC},
    {kFnReplicate, "REPLICATE", 2, 2, {kTypeC, kTypeN}, kTypeC},
    {kFnLeft, "LEFT", 2, 2, {kTypeC, kTypeN}, kTypeC},
    {kFnDtos, "DTOS", 1, 1, {kTypeD}, kTypeC},
    {kFnDtoc, "DTOC", 1, 1, {kTypeD}, kTypeC},
    {kFnCmonth, "CMONTH", 1, 1, {kTypeD}, kTypeC},
    {kFnCdow, "CDOW", 1, 1, {kTypeD}, kTypeC},
    {kFnUpper, "UPPER", 1, 1, {kTypeC}, kTypeC},
    {kFnSoundex, "SOUNDEX", 1, 1, {kTypeC}, kTypeC},
    {kFnTrim, "TRIM", 1, 1, {kTypeC}, kTypeC},
    {kFnRtrim, "RTRIM", 1, 1, {kTypeC}, kTypeC},
    {kFnLtrim, "LTRIM", 1, 1, {kTypeC}, kTypeC},
    {kFnLower, "LOWER", 1, 1, {kTypeC}, kTypeC},
    {kFnSpace, "SPACE", 1, 1, {kTypeN}, kTypeC},
    {kFnChr, "CHR", 1, 1, {kTypeN}, kTypeC},
    {kFnCtod, "CTOD", 1, 1, {kTypeC}, kTypeD},
    {kFnDate, "DATE", 0, 0, {}, kTypeD},
    {kFnDeleted, "DELETED", 0, 0, {}, kTypeL},
};

const FunctionForm* FindFunction(int token) {
    for (const FunctionForm& f : kFunctions) {
        if (f.token == token) return &f;
    }
    return nullptr;
}

constexpr int kMaxStates = 150;

std::unordered_set<const ExprBlock*> liveBlocks;
uint16_t memoWorkSize = 256;
// Set while TryAssignExpr compiles: a failure is then not reported.
bool quietCompile = false;

// ---- The parse ----
class Parser {
  public:
    explicit Parser(ExprBlock& block) : block_(block) {}

    // Result type of the whole text, 0 after a reported error.
    int Run() {
        int type = Expression(1);
        if (!type) return 0;
        if (Peek() != kTokEnd) return SyntaxError();
        Emit(kOpEnd, 0);
        return type;
    }

  private:
    int Peek() {
        if (!haveLook_) {
            look_ = NextToken();
            if (look_ < 0) look_ = kTokEnd;
            haveLook_ = true;
        }
        return look_;
    }
    void Consume() { haveLook_ = false; }

    int SyntaxError() {
        ReportExprError("Syntax error");
        return 0;
    }
    int Mismatch(const char* prefix, const char* what) {
        ReportExprError(std::string("PARSER:Type mismatch in ") + prefix + " \"" + what + "\"");
        return 0;
    }
    // States stacked by the pending phrases; beyond the limit the parse stops.
    bool Push(int states) {
        depth_ += states;
        if (depth_ > kMaxStates) {
            ReportExprError("Parser_stack_overflow");
            return false;
        }
        return true;
    }
    void Pop(int states) { depth_ -= states; }

    void Emit(int32_t op, int32_t argc) {
        CodeCell c;
        c.op = op;
        c.argc = argc;
        block_.code.push_back(c);
    }
    void EmitPushNumber(double v) {
        CodeCell c;
        c.ctype = kTypeN;
        c.value.num = v;
        block_.code.push_back(c);
    }
    void EmitPushLogical(int32_t v) {
        CodeCell c;
        c.ctype = kTypeL;
        c.value.log = v;
        block_.code.push_back(c);
    }
    void EmitPushString(const std::string* s) {
        CodeCell c;
        c.ctype = kTypeC;
        c.value.str = s;
        block_.code.push_back(c);
    }

    int Expression(int minPrecedence) {
        int left = Unary();
        while (left) {
            const BinaryOperator* op = FindBinary(Peek());
            if (!op || op->precedence < minPrecedence) break;
            Consume();
            if (!Push(2)) return 0;
            int right = Expression(op->precedence + 1);
            Pop(2);
            if (!right) return 0;
            int result = 0;
            for (int i = 0; i < op->formCount; ++i) {
                const OperandForm& f = op->forms[i];
                if (f.left == left && f.right == right) {
                    Emit(f.op, 2);
                    result = f.result;
                    break;
                }
            }
            if (!result) return Mismatch("expression", op->text);
            left = result;
        }
        return left;
    }

    int Unary() {
        int token = Peek();
        if (token == kTokNot || token == '-' || token == '+') {
            Consume();
            if (!Push(1)) return 0;
            int type = Unary();
            Pop(1);
            if (!type) return 0;
            if (token == kTokNot) {
                if (type != kTypeL) return Mismatch("expression", ".NOT.");
                Emit(kOpNot, 1);
                return kTypeL;
            }
            if (type != kTypeN) return Mismatch("expression", token == '-' ? "Unary -" : "Unary +");
            if (token == '-') Emit(kOpNeg, 1);
            return kTypeN;
        }
        return Primary();
    }

    int Primary() {
        int token = Peek();
        switch (token) {
            case '(': {
                Consume();
                if (!Push(1)) return 0;
                int type = Expression(1);
                Pop(1);
                if (!type) return 0;
                if (Peek() != ')') return SyntaxError();
                Consume();
                return type;
            }
            case kTokString:
                Consume();
                EmitPushString(lex.stringValue);
                return kTypeC;
            case kTokNumber:
                Consume();
                EmitPushNumber(lex.numberValue);
                return kTypeN;
            case kTokTrue:
            case kTokFalse:
                Consume();
                EmitPushLogical(token == kTokTrue ? 1 : 0);
                return kTypeL;
            default:
                break;
        }
        if (token >= kTokFieldC && token <= kTokAliasM) {
            Consume();
            bool alias = token >= kTokAliasC;
            EmitPushLogical(lex.fieldNo);
            if (alias) EmitPushLogical(lex.areaNo);
            Emit(token, alias ? 2 : 1);
            switch ((token - kTokFieldC) % 5) {
                case 0:
                    return kTypeC;
                case 1:
                    return kTypeN;
                case 2:
                    return kTypeL;
                case 3:
                    return kTypeD;
                default:
                    return kTypeM;
            }
        }
        const FunctionForm* fn = FindFunction(token);
        if (!fn) return SyntaxError();
        return Function(*fn);
    }

    int Function(const FunctionForm& fn) {
        Consume();
        if (Peek() != '(') return SyntaxError();
        Consume();
        if (!Push(2)) return 0;
        int types[4] = {};
        int count = 0;
        if (fn.maxArgs == 0) {
            if (Peek() != ')') return SyntaxError();
        } else {
            for (;;) {
                int type = Expression(1);
                if (!type) return 0;
                types[count++] = type;
                int next = Peek();
                if (next == ',' && count < fn.maxArgs) {
                    Consume();
                    if (!Push(2)) return 0;
                    continue;
                }
                if (next == ')' && count >= fn.minArgs) break;
                return SyntaxError();
            }
        }
        Consume();  // ")"
        Pop(2 * std::max(count, 1));
        for (const FunctionForm& form : kFunctions) {
            if (form.token != fn.token) continue;
            bool match = true;
            for (int i = 0; i < count; ++i) {
                if (form.args[i] != types[i]) match = false;
            }
            if (match) {
                Emit(fn.token, count);
                return form.result;
            }
        }
        return Mismatch("function", fn.name);
    }

    ExprBlock& block_;
    int look_ = kTokEnd;
    bool haveLook_ = false;
    int depth_ = 0;
};

// Largest number of values stacked while the code runs.
size_t StackDepth(const std::vector<CodeCell>& code) {
    long depth = 0;
    long most = 1;
    for (const CodeCell& c : code) {
        if (c.op == kOpEnd) break;
        if (c.op == kOpPush) {
            ++depth;
        } else {
            depth = depth - c.argc + 1;
        }
        most = std::max(most, depth);
    }
    return static_cast<size_t>(most);
}

}  // namespace

void ResetState() {
    memoWorkSize = 256;
    quietCompile = false;
    CurrentKeyExpr = nullptr;
}

uint16_t MemoWorkSize() {
    return memoWorkSize;
}
void SetMemoWorkSize(uint16_t size) {
    memoWorkSize = size;
}

void ReportExprError(const std::string& message) {
    if (quietCompile) return;
    std::string text(lex.text);
    int p = LastReadPosition();
    std::string shown = message + "\r\n";
    size_t start = 0;
    if (p < 50) {
        shown += "[";
    } else {
        shown += "[...";
        start = static_cast<size_t>(p - 50);
    }
    if (start > text.size()) start = text.size();
    if (start + 51 >= text.size()) {
        shown += text.substr(start) + "]\r\n";
    } else {
        shown += text.substr(start, 51) + "...]\r\n";
    }
    TzCommon::SetError(TzErr::ExpressionError, "Error in expression : " + shown + " [AssignExpr]");
}

ExprBlock* AssignExpr(const std::string& text) {
    if (TzCommon::ErrorWord() >= TzErr::ExprCodesFirst &&
        TzCommon::ErrorWord() <= TzErr::ExprCodesLast)
        TzCommon::ClearErrorWord();
    // Owned until it is live: a reported error may raise the engine's exception.
    auto block = std::make_unique<ExprBlock>();
    ResetLexer(text, &block->literals);
    if (text.size() >= kTextBuffer) {
        // Longer texts do not fit the expression buffer.
        ReportExprError("Syntax error");
        return nullptr;
    }
    int type = Parser(*block).Run();
    if (!type) return nullptr;
    block->text = text;
    block->resultToken = type;
    uint16_t workSize = lex.WorkSize;
    if (type == kTypeM) workSize = memoWorkSize;
    block->poolSize = workSize;
    block->pool.assign(std::max<size_t>(workSize, 1), '\0');
    block->work.assign(StackDepth(block->code), WorkCell{});
    block->decimals = 0;
    switch (type) {
        case kTypeC:
            block->type = 'C';
            block->result = reinterpret_cast<const uint8_t*>(block->pool.data());
            block->length = workSize == lex.LastLength + 1 ? lex.LastLength : 0;
            break;
        case kTypeD:
            block->type = 'D';
            block->length = 8;
            block->result = reinterpret_cast<const uint8_t*>(&block->work[0].value.num);
            break;
        case kTypeN: {
            block->type = 'N';
            uint8_t dec = lex.LastDecimals < kNoDecimals ? lex.LastDecimals : kDefaultDecimals;
            block->decimals = dec;
            int len = lex.LastLength;
            if (len < dec + 2) len = 0;
            block->length = static_cast<uint16_t>(len ? len : dec + 11);
            block->result = reinterpret_cast<const uint8_t*>(&block->work[0].value.num);
            break;
        }
        case kTypeL:
            block->type = 'L';
            block->length = 1;
            block->result = reinterpret_cast<const uint8_t*>(&block->work[0].value.log);
            break;
        default:
            block->type = 'M';
            block->length = workSize;
            block->result = reinterpret_cast<const uint8_t*>(block->pool.data());
            break;
    }
    liveBlocks.insert(block.get());
    return block.release();
}

ExprBlock* TryAssignExpr(const std::string& text) {
    const bool saved = quietCompile;
    quietCompile = true;
    tz::ScopeExit restore([saved] { quietCompile = saved; });
    const uint16_t word = TzCommon::ErrorWord();
    ExprBlock* block = AssignExpr(text);
    if (!block) TzCommon::SetErrorWord(word);
    return block;
}

void FreeExpr(ExprBlock*& block) {
    if (!block) return;
    auto it = liveBlocks.find(block);
    if (it == liveBlocks.end()) return;
    liveBlocks.erase(it);
    delete block;
    block = nullptr;
}

bool IsLiveExpr(const ExprBlock* block) {
    return block && liveBlocks.count(block) != 0;
}

uint16_t ValidateExpr(std::string& text, bool forKey) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    if (text.empty()) return TzErr::ExprEmpty;
    if (forKey && text.size() > 220) return TzErr::KeyExprTooLong;
    uint16_t savedMemo = memoWorkSize;
    memoWorkSize = 0;
    uint8_t savedChecking = TzCommon::SetErrorChecking(0);
    ExprBlock* block = AssignExpr(text);
    TzCommon::SetErrorChecking(savedChecking);
    uint16_t code;
    if (block) {
        char type = block->type;
        FreeExpr(block);
        if (forKey) {
            code = (type == 'M' || type == 'L') ? TzErr::KeyExprType : 0;
        } else {
            code = type != 'L' ? TzErr::ForExprNotLogical : 0;
        }
    } else {
        code = TzCommon::ErrorWord();
    }
    TzCommon::ClearErrorWord();
    memoWorkSize = savedMemo;
    return code;
}

uint16_t ValidateForExpr(const std::string& text) {
    std::string copy = text;
    return ValidateExpr(copy, false);
}

}  // namespace TzParser
