// Record copies between work areas through the native forms (see kj_record_copy.h).
#include "app/kj_record_copy.h"

#include <cstring>

#include "data/tz_dbf.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "storage/work_area.h"

namespace kj {

namespace {

struct FieldShape {
    std::string name;
    char type;
    int length, decimals, offset;
};

// The fields of the selected area with their native offsets.
std::vector<FieldShape> Shapes() {
    std::vector<FieldShape> out;
    const uint8_t* base = Dbf4::FieldAddress(0);
    const int n = Dbf4::FieldCount();
    for (int i = 1; i <= n; ++i)
        out.push_back({Dbf4::Field(i), Dbf4::FieldType(i), Dbf4::FieldLen(i), Dbf4::FieldDec(i),
                       int(Dbf4::FieldAddress(i) - base)});
    return out;
}

std::vector<int> Sizes(const std::vector<FieldShape>& shapes) {
    std::vector<int> sizes;
    const int total = Dbf4::NativeRecordSize();
    for (size_t i = 0; i < shapes.size(); ++i)
        sizes.push_back((i + 1 < shapes.size() ? shapes[i + 1].offset : total) - shapes[i].offset);
    return sizes;
}

}  // namespace

void UseArea(TzDs::TTzDbf& t) {
    Dbf4::Select(t.WorkAreaNo());
    Dbf4::settings().hideDeleted = t.HideDeletedRecs;
    Dbf4::settings().ansiTables = t.TableLanguage == TzDs::tlAnsi;
}

FieldMap MapFieldsByName(int targetArea, int sourceArea) {
    FieldMap map;
    map.target = targetArea;
    map.source = sourceArea;
    Dbf4::Select(sourceArea);
    const std::vector<FieldShape> src = Shapes();
    const std::vector<int> srcSizes = Sizes(src);
    Dbf4::Select(targetArea);
    const std::vector<FieldShape> tgt = Shapes();
    const std::vector<int> tgtSizes = Sizes(tgt);
    for (size_t i = 0; i < tgt.size(); ++i) {
        int from = 0;
        for (size_t j = 0; j < src.size() && from == 0; ++j) {
            const FieldShape& s = src[j];
            if (s.name == tgt[i].name && s.type == tgt[i].type && s.length == tgt[i].length &&
                s.decimals == tgt[i].decimals && srcSizes[j] == tgtSizes[i])
                from = int(j + 1);
        }
        map.from.push_back(from);
        map.bytes.push_back(tgtSizes[i]);
    }
    return map;
}

std::vector<int> NativeFieldSizes(int area) {
    Dbf4::Select(area);
    return Sizes(Shapes());
}

std::vector<std::string> ReadNativeFields(int area) {
    Dbf4::Select(area);
    const std::vector<FieldShape> shapes = Shapes();
    const std::vector<int> sizes = Sizes(shapes);
    std::vector<std::string> out;
    for (size_t i = 0; i < shapes.size(); ++i) {
        const uint8_t* p = Dbf4::FieldAddress(int(i + 1));
        out.emplace_back(reinterpret_cast<const char*>(p), size_t(sizes[i]));
    }
    return out;
}

void FillFromSource(const FieldMap& map, const std::vector<std::string>& blank) {
    const std::vector<std::string> values = ReadNativeFields(map.source);
    Dbf4::Select(map.target);
    Dbf4::ClearRecord();
    for (size_t i = 0; i < map.from.size(); ++i) {
        if (map.from[i] == 0) continue;
        bool skip = false;
        for (const std::string& b : blank) skip = skip || Dbf4::Field(int(i + 1)) == b;
        if (skip) continue;
        const std::string& v = values[size_t(map.from[i] - 1)];
        std::memcpy(Dbf4::AssignField(int(i + 1)), v.data(), v.size());
    }
}

void FillStoredFromSource(const FieldMap& map) {
    Dbf4::WorkArea& from = *Dbf4::AreaAt(map.source);
    Dbf4::WorkArea& to = *Dbf4::AreaAt(map.target);
    const uint8_t* stored = Dbf4::RecordOf(from);
    const std::vector<uint8_t> src(stored, stored + from.recordLength);
    Dbf4::Select(map.target);
    Dbf4::ClearRecord();
    uint8_t* dst = Dbf4::RecordOf(to);
    for (size_t i = 0; i < map.from.size() && i < to.fields.size(); ++i) {
        if (map.from[i] == 0) continue;
        const Dbf4::FieldEntry& s = from.fields[size_t(map.from[i] - 1)];
        std::memcpy(dst + to.fields[i].offset, src.data() + s.offset, s.length);
    }
    Dbf4::Scatter();
}

std::string NativeText(int field) {
    const uint8_t* p = Dbf4::FieldAddress(field);
    if (!p) return {};
    std::string text(reinterpret_cast<const char*>(p) + 1, p[0]);
    return TzCommon::TrimRight(text);
}

bool AppendFilled(const FieldMap& map) {
    Dbf4::Select(map.target);
    Dbf4::Append();
    return TzCommon::ErrorWord() == 0;
}

}  // namespace kj
