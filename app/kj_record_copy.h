// Copying records between two open tables of the same layout (a live table and its scratch
// table or archive) through the table engine's native record forms, field by field by name.
// The caller holds the lock the target needs for an append. GUI thread; the engine is one
// process-wide state, and every routine here selects the areas it works on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TzDs {
class TTzDbf;
}

namespace kj {

// Selects a dataset's work area with its settings, as the dataset does before its own calls.
void UseArea(TzDs::TTzDbf& t);

// Which source field fills each target field. Invariants: 1. from[i] is the 1-based source
// field of target field i+1 with the same name, type, length and decimals, 0 when there is
// none; 2. bytes[i] is that field's native size in both areas.
struct FieldMap {
    int target = 0, source = 0;  // work areas
    std::vector<int> from;
    std::vector<int> bytes;
};

FieldMap MapFieldsByName(int targetArea, int sourceArea);

// The native bytes of each field of the current record of an area (index 0 = field 1).
std::vector<std::string> ReadNativeFields(int area);

// The native size of each field of an area (index 0 = field 1); the area is left selected.
std::vector<int> NativeFieldSizes(int area);

// Blanks the target's record buffer and fills it from the source's current record, leaving
// out the target fields named in `blank` (upper case). The target area is left selected.
void FillFromSource(const FieldMap& map, const std::vector<std::string>& blank = {});

// Blanks the target's record buffer and copies each mapped field's stored bytes from the
// source's current record, then reads the record into the native buffer: a blank number,
// date or logical stays blank. The target area is left selected.
void FillStoredFromSource(const FieldMap& map);

// The right-trimmed text of a character field of the selected area's current record.
std::string NativeText(int field);

// Appends the filled record (Dbf4::Append) and tells whether the engine took it.
bool AppendFilled(const FieldMap& map);

}  // namespace kj
