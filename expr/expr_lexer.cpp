// Cutting an expression text into tokens.
#include "expr/expr_lexer.h"

#include <cstring>

#include "expr/key_encoding.h"
#include "storage/dbf4.h"

namespace TzParser {

LexState lex;

// Searched from the first record; every prefix of four or more letters of a longer function
// name has its own record, and no other abbreviation is accepted.
const KeywordRecord KeywordTable[kKeywordCount] = {
    {"ABS", kFnAbs, 0},
    {"ASC", kFnAsc, 0},
    {"AT", kFnAt, 0},
    {"CDOW", kFnCdow, 15},
    {"CHR", kFnChr, 2},
    {"CMON", kFnCmonth, 15},
    {"CMONT", kFnCmonth, 15},
    {"CMONTH", kFnCmonth, 15},
    {"CTOD", kFnCtod, 0},
    {"DATE", kFnDate, 0},
    {"DAY", kFnDay, 0},
    {"DELE", kFnDeleted, 0},
    {"DELET", kFnDeleted, 0},
    {"DELETE", kFnDeleted, 0},
    {"DELETED", kFnDeleted, 0},
    {"DOW", kFnDow, 0},
    {"DTOC", kFnDtoc, 11},
    {"DTOS", kFnDtos, 9},
    {"IIF", kFnIif, 256},
    {"INT", kFnInt, 0},
    {"LEFT", kFnLeft, 0},
    {"LEN", kFnLen, 0},
    {"LOWE", kFnLower, 0},
    {"LOWER", kFnLower, 0},
    {"LTRI", kFnLtrim, 0},
    {"LTRIM", kFnLtrim, 0},
    {"MAX", kFnMax, 0},
    {"MIN", kFnMin, 0},
    {"MOD", kFnMod, 0},
    {"MONT", kFnMonth, 0},
    {"MONTH", kFnMonth, 0},
    {"RECN", kFnRecno, 0},
    {"RECNO", kFnRecno, 0},
    {"REPL", kFnReplicate, 256},
    {"REPLI", kFnReplicate, 256},
    {"REPLIC", kFnReplicate, 256},
    {"REPLICA", kFnReplicate, 256},
    {"REPLICAT", kFnReplicate, 256},
    {"REPLICATE", kFnReplicate, 256},
    {"RIGH", kFnRight, 0},
    {"RIGHT", kFnRight, 0},
    {"ROUN", kFnRound, 0},
    {"ROUND", kFnRound, 0},
    {"RTRI", kFnRtrim, 0},
    {"RTRIM", kFnRtrim, 0},
    {"SOUN", kFnSoundex, 15},
    {"SOUND", kFnSoundex, 15},
    {"SOUNDE", kFnSoundex, 15},
    {"SOUNDEX", kFnSoundex, 15},
    {"SPAC", kFnSpace, 256},
    {"SPACE", kFnSpace, 256},
    {"STR", kFnStr, 256},
    {"STUF", kFnStuff, 0},
    {"STUFF", kFnStuff, 0},
    {"SUBS", kFnSubstr, 0},
    {"SUBST", kFnSubstr, 0},
    {"SUBSTR", kFnSubstr, 0},
    {"TRIM", kFnTrim, 0},
    {"UPPE", kFnUpper, 0},
    {"UPPER", kFnUpper, 0},
    {"VAL", kFnVal, 0},
    {"YEAR", kFnYear, 0},
    {".F.", kTokFalse, 0},
    {".T.", kTokTrue, 0},
    {".NOT.", kTokNot, 0},
    {".OR.", kTokOr, 0},
    {".AND.", kTokAnd, 0},
    {"$EOT$", kTokUnknown, 0},
};

namespace {

constexpr int kEndMark = -1;

// Reads one character (folded: a-z to A-Z) or the end mark; always advances.
int ReadChar(bool folded) {
    int p = lex.pos++;
    if (p < 0 || p >= static_cast<int>(kTextBuffer)) return kEndMark;
    auto c = static_cast<uint8_t>(lex.text[p]);
    if (c == 0) return kEndMark;
    if (folded && c >= 'a' && c <= 'z') c = static_cast<uint8_t>(c - 32);
    return c;
}

void Unread() {
    if (lex.pos > 0) --lex.pos;
}

bool IsDigit(int c) {
    return c >= '0' && c <= '9';
}
bool IsLetter(int c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Aliases match whatever case they were given in (names arrive upper-cased).
std::string UpperAlias(const std::string& alias) {
    std::string s = alias.substr(0, 10);
    for (char& c : s) c = static_cast<char>(TzKey::UpperAscii(static_cast<uint8_t>(c)));
    return s;
}

int NumberLiteral(int first) {
    char buf[kMaxNameLength + 2];
    size_t n = 0;
    bool point = false;
    bool tooLong = false;
    int c = first;
    for (;;) {
        if (IsDigit(c) || c == 'E' || (c == '.' && !point)) {
            if (c == '.') point = true;
            if (n < kMaxNameLength) {
                buf[n++] = static_cast<char>(c);
            } else {
                tooLong = true;
            }
            c = ReadChar(true);
            continue;
        }
        break;
    }
    Unread();
    buf[n] = '\0';
    lex.LastLength = 0;
    lex.LastDecimals = kDefaultDecimals;
    if (tooLong) return kTokUnknown;  // refused: the parser reports a syntax error
    lex.numberValue = TzKey::ParseNumber(buf, n);
    return kTokNumber;
}

int StringLiteral(int quote) {
    std::string value;
    for (;;) {
        int c = ReadChar(false);
        if (c == kEndMark) return kTokUnknown;  // unterminated: refused as a syntax error
        if (c == quote) break;
        value.push_back(static_cast<char>(c));
    }
    lex.WorkSize = uint16_t(lex.WorkSize + value.size() + 1);  // the text and its terminator
    lex.literals->push_back(std::move(value));
    lex.stringValue = &lex.literals->back();
    lex.LastLength = 0;
    lex.LastDecimals = kDefaultDecimals;
    return kTokString;
}

}  // namespace

void ResetLexer(const std::string& text, std::deque<std::string>* literals) {
    size_t n = text.size() < kTextBuffer - 1 ? text.size() : kTextBuffer - 1;
    std::memset(lex.text, 0, sizeof lex.text);
    std::memcpy(lex.text, text.data(), n);
    lex.pos = 0;
    lex.LastLength = 0;
    lex.LastDecimals = kNoDecimals;
    lex.WorkSize = 0;
    lex.numberValue = 0;
    lex.stringValue = nullptr;
    lex.fieldNo = 0;
    lex.areaNo = 0;
    lex.literals = literals;
}

int LastReadPosition() {
    return lex.pos - 1;
}

int LookupKeyword(const std::string& name) {
    for (const KeywordRecord& k : KeywordTable) {
        if (k.token == kTokUnknown || name == k.name) {
            lex.WorkSize = static_cast<uint16_t>(lex.WorkSize + k.weight);
            return k.token;
        }
    }
    return kTokUnknown;
}

int ResolveField(const std::string& name, bool alias) {
    const Dbf4::WorkArea* area = nullptr;
    std::string fieldName = name;
    int areaNo = 0;
    if (alias) {
        size_t dot = name.find('.');
        if (dot == std::string::npos) return kTokUnknown;
        std::string aliasName = name.substr(0, dot).substr(0, 10);
        fieldName = name.substr(dot + 1);
        for (int n = 1; n <= 32; ++n) {
            const Dbf4::WorkArea* a = Dbf4::AreaAt(n);
            if (a && a->state != Dbf4::kClosed && UpperAlias(a->alias) == aliasName) {
                area = a;
                areaNo = n;
                break;
            }
        }
    } else {
        area = Dbf4::Current();
    }
    if (!area || area->state == Dbf4::kClosed) return kTokUnknown;
    for (size_t i = 0; i < area->fields.size(); ++i) {
        const Dbf4::FieldEntry& f = area->fields[i];
        if (f.name != fieldName) continue;
        lex.LastLength = f.length;
        int token;
        switch (f.type) {
            case 'C':
                lex.WorkSize = static_cast<uint16_t>(lex.WorkSize + f.length + 1);
                token = kTokFieldC;
                break;
            case 'D':
                token = kTokFieldD;
                break;
            case 'N':
            case 'F':
                lex.LastDecimals = lex.LastDecimals == kNoDecimals ? f.decimals : kDefaultDecimals;
                token = kTokFieldN;
                break;
            case 'L':
                token = kTokFieldL;
                break;
            case 'M':
                token = kTokFieldM;
                break;
            default:
                return kTokUnknown;
        }
        lex.fieldNo = static_cast<int>(i) + 1;
        if (alias) {
            lex.areaNo = areaNo;
            token += kTokAliasC - kTokFieldC;
        }
        return token;
    }
    return kTokUnknown;
}

int NextToken() {
    int c;
    do {
        c = ReadChar(true);
    } while (c == ' ' || c == '\t');
    if (c == kEndMark) return -1;
    if (IsDigit(c)) return NumberLiteral(c);
    if (c == '\'' || c == '"') return StringLiteral(c);
    switch (c) {
        case '=':
            if (ReadChar(true) == '=') return kTokExactEq;
            Unread();
            return '=';
        case '*':
            if (ReadChar(true) == '*') return '^';
            Unread();
            return '*';
        case '#':
            return kTokNotEqual;
        case '$':
            return kTokContains;
        case '>':
            if (ReadChar(true) == '=') return kTokGreaterEq;
            Unread();
            return '>';
        case '<': {
            int d = ReadChar(true);
            if (d == '=') return kTokLessEq;
            if (d == '>') return kTokNotEqual;
            Unread();
            return '<';
        }
        default:
            break;
    }
    if (!IsLetter(c) && c != '.' && c != '_') return c;

    // A name, possibly "alias->field".
    std::string name;
    bool alias = false;
    bool tooLong = false;
    auto add = [&](int ch) {
        if (name.size() < kMaxNameLength) {
            name.push_back(static_cast<char>(ch));
        } else {
            tooLong = true;
        }
    };
    while (IsDigit(c) || IsLetter(c) || c == '.' || c == '_') {
        add(c);
        c = ReadChar(true);
    }
    if (c == '-') {
        if (ReadChar(true) == '>') {
            add('.');
            alias = true;
            c = ReadChar(true);
            while (IsDigit(c) || IsLetter(c) || c == '_') {
                add(c);
                c = ReadChar(true);
            }
        } else {
            Unread();
        }
    }
    Unread();
    if (tooLong) return kTokUnknown;

    int token = ResolveField(name, alias);
    if (token != kTokUnknown) {
        int d;
        do {
            d = ReadChar(true);
        } while (d == ' ' || d == '\t');
        if (d == '(') token = kTokUnknown;  // a function name, not the field
        Unread();
    }
    if (token == kTokUnknown) {
        lex.LastLength = 0;
        lex.LastDecimals = kDefaultDecimals;
        return LookupKeyword(name);
    }
    return token;
}

}  // namespace TzParser
