// The pair of a table and its memo file rewritten whole (pack) is put in place by two
// renames. A small marker file beside the table (<table>.pkm) names them: written before
// the new files are made, it is completed (an "end" line) only when both are whole and
// synced, and removed when both renames are done. Every open of the table first finishes
// what a killed process left: a complete marker rolls the renames forward, an incomplete
// one has its new files removed (the old pair stays). Only while no other handle has the
// table open; a live station that packs holds it exclusively throughout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Dbf4 {
struct WorkArea;
// Rewrites the area's table (deleted records kept) and memo file beside themselves and puts
// both in place as above; the memo unit's pack. False after a report.
bool RewriteWithMemo(WorkArea& a);
}  // namespace Dbf4

namespace Dbf4::pair {

struct Rename {
    std::string from, to;  // full paths, in the table's folder
};

std::string MarkerName(const std::string& table);
// Writes the marker listing the renames (replacing an older one) and syncs it; complete
// adds the end line to the marker written before with the same list. 0 or the failing
// code.
uint16_t WriteMarker(const std::string& table, const std::vector<Rename>& renames, bool complete);
// Finishes or undoes a rewrite that a killed process left behind (see above). Quiet: a
// table another handle has open, or a step that fails, leaves everything for a later open.
void FinishInterrupted(const std::string& table);

}  // namespace Dbf4::pair
