// Shared helpers of the work-area commands (select/use/close, locks, navigation, record
// changes). Internal to storage/.
#pragma once

#include <string>

#include "storage/dbf4.h"
#include "storage/dbf_low.h"

namespace Dbf4::internal {

void ReportNoArea(const char* routine);

// The current area, or null after reporting "No database in use [<routine>]".
inline WorkArea* Guard(const char* routine) {
    WorkArea* a = Current();
    if (!a) ReportNoArea(routine);
    return a;
}

// The area may be changed by other stations: sharing on and not opened exclusively.
bool Shared(const WorkArea& a);

// The index engine is installed and has an index open for the current area.
bool Indexes();

// How a move reads its record: alone; through the table's shared mapping when that serves
// it (moves in any order); or ahead (forward moves in natural order: the mapping, else the
// private read-ahead block where that may serve).
enum class ReadHow { kAlone, kMapped, kAhead };
// Reads record n into the record buffer and scatters it into the native buffer (records
// read through the mapping or ahead are completed lazily in the area's own buffer).
bool ReadScatter(WorkArea& a, int32_t n, ReadHow how = ReadHow::kAlone);
// Blank record buffer, scattered.
void BlankRecord(WorkArea& a);
// Runs the area's relation procedure and checks the area stayed where it was.
void FollowRelation(WorkArea& a);
// Refreshes record n in the bulk-read cache of Peek from the file when the cache belongs
// to the area's alias; n < 0 frees the cache of that alias.
void RefreshPeekCache(WorkArea& a, int32_t n);

// Holds the index engine's read or update lock for a scope (no-op without indexes).
class IndexLock {
  public:
    IndexLock(bool on, void (*proc)(int), int take = 1) : proc_(on ? proc : nullptr) {
        if (proc_) proc_(take);
    }
    ~IndexLock() { Release(); }
    void Release() {
        if (proc_) proc_(0);
        proc_ = nullptr;
    }
    IndexLock(const IndexLock&) = delete;
    IndexLock& operator=(const IndexLock&) = delete;

  private:
    void (*proc_)(int);
};

inline std::string Quoted(const std::string& s) {
    return "\"" + s + "\"";
}

}  // namespace Dbf4::internal
