// libFuzzer target: the field and index lists of the dataset components. The input is text:
// field lines ("name, type, width, decimals"), a line "%%", then the pairs of index-list
// lines. The lines are parsed and corrected, the table is created from them and, when that
// succeeds, the index is built from the tags over a couple of records.
#include "data/dbf_fields.h"
#include "fuzz/fuzz_support.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_build.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace {

constexpr size_t kMaxInput = 4096;
constexpr size_t kMaxLines = 64;
constexpr size_t kMaxTags = 6;

std::vector<std::string> Lines(std::string_view text) {
    std::vector<std::string> out;
    while (!text.empty() && out.size() < kMaxLines) {
        size_t end = text.find('\n');
        out.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return out;
}

void ParseFields(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) {
        TzDbfLow::FieldDef def;
        if (!TzDs::ParseFieldLine(line, def)) continue;
        TzDbfLow::FieldDef before = def;
        if (TzDs::CorrectFieldDef(def)) (void)TzDs::CorrectionWarning("Fuzz", before, def);
    }
    std::vector<TzDbfLow::FieldDef> defs;
    (void)TzDs::BuildFieldDefs("Fuzz", &lines, defs);
}

std::vector<TzNdx::TagDescriptor> ParseTags(const std::vector<std::string>& lines) {
    std::vector<TzDs::TagDef> tags = TzDs::ParseIndexList(lines);
    (void)TzDs::ParseIndexList(TzDs::IndexListLines(tags));
    std::vector<TzNdx::TagDescriptor> out;
    for (const TzDs::TagDef& t : tags) {
        if (out.size() == kMaxTags) break;
        out.push_back({t.name, t.expr, t.forExpr, t.descending, t.unique});
    }
    return out;
}

void Build(const std::vector<std::string>& fields, const std::vector<TzNdx::TagDescriptor>& tags) {
    std::string path = kjfuzz::PathOf("f.dbf");
    if (!TzDs::CreateTableFromFields("Fuzz", path, &fields)) return;
    Dbf4::Select(1);
    Dbf4::Use(path + " EXCLUSIVE");
    if (TzCommon::ErrorWord() != 0 || !Dbf4::Current()) return;
    for (int i = 0; i < 2; ++i) {
        Dbf4::ClearRecord();
        Dbf4::Append();
    }
    if (tags.empty() || !TzNdx::MakeIndex(tags)) return;
    TzNdx::SetIndexTo("f.mdx");
    kjfuzz::WalkOrder(4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > kMaxInput) return -1;
    std::string_view text(reinterpret_cast<const char*>(data), size);
    size_t mark = text.find("\n%%\n");
    std::vector<std::string> fields = Lines(text.substr(0, mark));
    std::vector<std::string> tagLines;
    if (mark != std::string_view::npos) tagLines = Lines(text.substr(mark + 4));
    kjfuzz::Session session(size % 2 ? kjfuzz::ErrorMode::Exceptions : kjfuzz::ErrorMode::Codes);
    kjfuzz::ClearFolder();
    try {
        ParseFields(fields);
        Build(fields, ParseTags(tagLines));
    } catch (const TzCommon::ETzError&) {
    }
    return 0;
}
