// Shared by the bulk operations (dbf4_bulk.cpp, dbf4_append.cpp, dbf4_search.cpp): runs of
// raw records read in blocks, and the text forms of numbers and logicals.
// One process-wide engine state, not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/work_area.h"

namespace Dbf4::bulk {

// Largest block read at once by Search and the bulk-read cache.
constexpr size_t kBlockBytes = 65520;

// A run of consecutive raw records as they lie in the file (untranslated).
//  1. count == 0 means the run holds nothing; otherwise bytes holds count whole records.
//  2. The bulk-read cache is one run whose alias names the area it belongs to.
struct Run {
    std::string alias;
    int32_t first = 0;
    int32_t count = 0;
    std::vector<uint8_t> bytes;
    bool Holds(int32_t r) const { return count > 0 && r >= first && r < first + count; }
    void Clear() {
        alias.clear();
        first = count = 0;
        bytes.clear();
        bytes.shrink_to_fit();
    }
};

// Loads a run of whole records from r on: at most kBlockBytes, at least one record, no
// further than the count. 0 or the file system's code.
uint16_t LoadRun(WorkArea& a, Run& run, int32_t r);

// A number at a field's width and decimals ("*" when it does not fit); the number in a
// field's text (blanks read as 0); a logical's stored byte read as true.
std::string FormatNumber(double v, int len, int dec);
double TextNumber(const std::string& text);
bool TrueByte(uint8_t c);

}  // namespace Dbf4::bulk
