// Tables for the benchmarks: the postings table of tests/support (layout, tags, generated
// records) and a scratch folder for one run.
#pragma once

#include <string>

#include "tests/support/postings_table.h"

namespace kjbench {

using kjtest::FillPosting;
using kjtest::MakePostings;
using kjtest::PostingsLayout;
using kjtest::PostingsTags;
using kjtest::ReadPostingField;
using kjtest::TagText;

// A fresh folder under $TMPDIR (else /tmp) for one benchmark run; removed by the destructor.
// A folder that cannot be made ends the program (exit code 2): the run never works in, or
// removes, a folder it did not make.
class BenchDir {
  public:
    BenchDir();
    ~BenchDir();
    BenchDir(const BenchDir&) = delete;
    BenchDir& operator=(const BenchDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

}  // namespace kjbench
