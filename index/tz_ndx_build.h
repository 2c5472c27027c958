// Index build: making a table's multiple-index file from tag descriptors, adding a tag to
// the open file and rebuilding every tag of it. The keys of all tags are collected in one
// sequential pass over the table file, sorted in runs of 8189 items (spilled to a temporary "TZP"
// file when there are more) and merged into pages written strictly sequentially at the end of the
// index file. Acts on the current work area; one process-wide engine state, not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace TzNdx {

struct TagDescriptor {
    std::string name;          // up to 10 characters
    std::string expression;    // key expression, at most 220 characters
    std::string forCondition;  // empty for none
    bool descending = false;
    bool unique = false;
};

// Items held in memory before a run is spilled.
inline constexpr size_t kSortRunItems = 8189;

// Builds a new index file holding every tag (an empty name: the table's name with the
// extension MDX). The file is not opened. Refused with 225 while another station has the
// old file open; True only when every tag was built.
bool MakeIndex(const std::vector<TagDescriptor>& tags, const std::string& fileName = "");
// Adds one tag to the area's open index file (a tag of the same name is replaced) and fills
// it with the keys of all records.
bool AddIndexTag(const TagDescriptor& tag, bool exclusive = false);
// Rebuilds every tag of the area's open index file; the controlling tag stays selected.
void Reindex();
// True for the codes after which an index file is built again from its tags: the file is
// missing (2), damaged (222) or marked for rebuilding (223).
bool RebuildableError(uint16_t code);
// Opens the index file; when it is missing, damaged or marked for rebuilding (a
// RebuildableError) and no other station holds it, builds it from tags first. False with the
// error left set.
bool OpenIndexOrRebuild(const std::vector<TagDescriptor>& tags, const std::string& fileName = "");

// Progress: proc is called steps times in all while a tag is built; (nullptr, 0) clears it.
void SetProgressProc(void (*proc)(), int steps);

// The free space the build checks before it collects keys, in KB (-1: unknown); nullptr
// restores the file layer's DiskFreeKB. For tests.
void SetDiskFreeProc(int64_t (*proc)(const std::string& path));

// Number of spill runs of the last tag built (0: sorted in memory); for tests.
size_t LastSpillRuns();

// The build's process-wide state back at start-up (part of ResetState).
void ResetBuildState();

}  // namespace TzNdx
