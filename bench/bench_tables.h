// Tables for the benchmarks: the postings layout (187-byte records) and quick ways to fill
// a table with many records.
#pragma once

#include <string>
#include <vector>

#include "storage/dbf_low.h"

namespace kjbench {

// The postings table's fields (record length 187).
std::vector<TzDbfLow::FieldDef> PostingsLayout();

// The postings index's five tags: name and key expression.
struct TagText {
    const char* name;
    const char* expression;
};
const std::vector<TagText>& PostingsTags();

// A fresh folder under $TMPDIR (else /tmp) for one benchmark run; removed by the destructor.
class BenchDir {
  public:
    BenchDir();
    ~BenchDir();
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Creates a postings table holding n generated records, written in large blocks (the file
// is built directly, so even a million records take well under a second).
void MakePostings(const std::string& path, int n);

// Fills the current area's native record with generated postings values for number i:
// every field varies from row to row as the application's postings do (case, fee code,
// employee, dates, invoice number, priority, amounts), MakePostings writes the same rows.
void FillPosting(int i);

// Reads a field of the current area's record (the case number), as every scan does.
int ReadPostingField();

}  // namespace kjbench
