// DbfFields and IndexList parsing, field corrections and table creation.
#include "data/dbf_fields.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "data/tz_messages.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDs {

namespace {

constexpr size_t kMaxName = 10;
constexpr size_t kMaxExpr = 220;
constexpr size_t kMaxLine = 255;

int ParseInt(const std::string& item) {
    // Leading sign and digits; anything else reads as 0, as a failed conversion does.
    size_t i = 0;
    bool neg = false;
    if (i < item.size() && (item[i] == '-' || item[i] == '+')) neg = item[i++] == '-';
    if (i >= item.size()) return 0;
    long long v = 0;
    for (; i < item.size(); ++i) {
        if (item[i] < '0' || item[i] > '9') return 0;
        v = v * 10 + (item[i] - '0');
        if (v > 65535) v = 65535;
    }
    return neg ? 0 : int(v);
}

void ApplyRules(TzDbfLow::FieldDef& f, const TzDbfLow::FieldDef& test) {
    static const std::string kTypes = "CDFLMN";
    if (kTypes.find(test.type) == std::string::npos) f.type = 'C';
    if (test.type == 'N' && test.length >= 21) f.length = 20;
    if (test.type == 'N' && test.decimals >= 19) f.decimals = 18;
    if (test.type == 'N' && test.decimals != 0 && test.length - test.decimals < 2)
        f.decimals = std::max(0, test.length - 2);
    if (test.type == 'C' && test.length >= 255) {
        f.length = 254;
        f.decimals = 0;
    }
}

}  // namespace

bool ParseFieldLine(const std::string& lineIn, TzDbfLow::FieldDef& out) {
    std::string line = lineIn.substr(0, std::min(lineIn.size(), kMaxLine * 4));
    if (std::count(line.begin(), line.end(), ',') != 3) return false;
    std::vector<std::string> items;
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t comma = line.find(',', start);
        items.push_back(TzCommon::AllTrim(line.substr(start, comma - start)));
        start = comma + 1;
    }
    items.push_back(TzCommon::AllTrim(line.substr(start, kMaxLine)));
    out = TzDbfLow::FieldDef();
    out.name = items[0].substr(0, kMaxName);
    out.type = items[1].empty() ? ' ' : items[1][0];
    out.length = ParseInt(items[2]);
    out.decimals = ParseInt(items[3]);
    return true;
}

bool CorrectFieldDef(TzDbfLow::FieldDef& f) {
    const TzDbfLow::FieldDef parsed = f;
    ApplyRules(f, parsed);
    const TzDbfLow::FieldDef once = f;
    ApplyRules(f, once);
    if (f.length > 254) f.length = 254;
    if (f.decimals > 254) f.decimals = 254;
    return f.type != parsed.type || f.length != parsed.length || f.decimals != parsed.decimals;
}

std::string CorrectionWarning(const std::string& component, const TzDbfLow::FieldDef& b,
                              const TzDbfLow::FieldDef& a) {
    return FormatText(kMsgInvalidFieldDef,
                      {component, b.name, std::string(1, b.type), std::to_string(b.length),
                       std::to_string(b.decimals), a.name, std::string(1, a.type),
                       std::to_string(a.length), std::to_string(a.decimals)});
}

std::vector<TagDef> ParseIndexList(const std::vector<std::string>& lines) {
    std::vector<TagDef> tags;
    for (size_t i = 0; i + 1 < lines.size(); i += 2) {
        const std::string& line = lines[i];
        TagDef t;
        size_t comma = line.find(',');
        if (comma == std::string::npos) {
            t.name = line.substr(0, kMaxName);
        } else {
            t.name = line.substr(0, std::min(comma, kMaxName));
            t.descending = comma + 1 < line.size() && line[comma + 1] == 'T';
            t.unique = comma + 3 < line.size() && line[comma + 3] == 'T';
            if (comma + 5 < line.size()) t.expr = line.substr(comma + 5, kMaxExpr);
        }
        t.forExpr = lines[i + 1].substr(0, kMaxExpr);
        tags.push_back(std::move(t));
    }
    return tags;
}

std::vector<std::string> IndexListLines(const std::vector<TagDef>& tags) {
    std::vector<std::string> lines;
    for (const TagDef& t : tags) {
        lines.push_back(t.name + "," + (t.descending ? "T" : "F") + "," + (t.unique ? "T" : "F") +
                        "," + t.expr);
        lines.push_back(t.forExpr);
    }
    return lines;
}

bool BuildFieldDefs(const std::string& component, const std::vector<std::string>* lines,
                    std::vector<TzDbfLow::FieldDef>& out) {
    out.clear();
    if (!lines) {
        ShowText(kMsgFieldListNil);
        return false;
    }
    if (lines->empty()) {
        ShowText(kMsgFieldListEmpty);
        return false;
    }
    for (const std::string& line : *lines)
        if (std::count(line.begin(), line.end(), ',') != 3) return false;
    std::vector<TzDbfLow::FieldDef> defs;
    for (const std::string& line : *lines) {
        TzDbfLow::FieldDef f;
        ParseFieldLine(line, f);
        if (f.type == 'X') continue;
        TzDbfLow::FieldDef before = f;
        if (CorrectFieldDef(f)) ShowText(CorrectionWarning(component, before, f));
        defs.push_back(f);
    }
    out = std::move(defs);
    return true;
}

bool CreateTableFromFields(const std::string& component, const std::string& fileName,
                           const std::vector<std::string>* lines) {
    std::vector<TzDbfLow::FieldDef> defs;
    if (!BuildFieldDefs(component, lines, defs)) return false;
    uint8_t old = TzCommon::SetErrorChecking(0);
    Dbf4::WorkArea scratch;
    TzCommon::ClearErrorWord();
    TzDbfLow::CreateDbf(scratch, fileName, defs);
    TzCommon::SetErrorChecking(old);
    return TzCommon::ErrorWord() == 0;
}

}  // namespace TzDs
