// A postings table for tests and benchmarks: the application's postings layout (187-byte
// records), its index tags, and quick ways to fill a table with many generated records.
// Uses the current work area of the table engine; not thread-safe.
#pragma once

#include <string>
#include <vector>

#include "storage/dbf_low.h"

namespace kjtest {

// The postings table's fields (record length 187).
std::vector<TzDbfLow::FieldDef> PostingsLayout();

// The postings index's five tags: name and key expression.
struct TagText {
    const char* name;
    const char* expression;
};
const std::vector<TagText>& PostingsTags();

// Creates a postings table holding n generated records, written in large blocks (the file
// is built directly, so even a million records take well under a second).
void MakePostings(const std::string& path, int n);

// Fills the current area's native record with generated postings values for number i:
// every field varies from row to row as the application's postings do (case, fee code,
// employee, dates, invoice number, priority, amounts), MakePostings writes the same rows.
void FillPosting(int i);

// Reads a field of the current area's record (the case number), as every scan does.
int ReadPostingField();

}  // namespace kjtest
