// Small helpers shared by the main window's units: key texts (upper-casing by the engine's
// rules, trailing blanks, padding to a key width), the edit state of a dataset and reading a
// list file. No state.
#pragma once

#include <string>
#include <vector>

#include "data/db_dataset.h"
#include "storage/file_layer.h"
#include "storage/tz_utils.h"
#include "ui/tmv_fil.h"

namespace kj {

inline std::string TzUpper(const std::string& s) {
    return TzUtils::AnsiUpper(s);
}
using TzUtils::TrimRight;
// The key of a search: upper-cased and padded with blanks to width.
inline std::string KeyOf(const std::string& s, int width) {
    return TzUtils::PadRight(TzUtils::AnsiUpper(TzUtils::TrimRight(s)), width);
}
// Two case numbers compared as the window compares them: trailing blanks off, upper case.
inline bool SameNumber(const std::string& a, const std::string& b) {
    return TzUpper(TrimRight(a)) == TzUpper(TrimRight(b));
}
// A dataset with a row being edited or inserted.
inline bool Editing(Db::TDataSet& ds) {
    return ds.State() == Db::dsEdit || ds.State() == Db::dsInsert;
}
// The non-blank lines of a list file (none when it cannot be read).
inline std::vector<std::string> ReadListFile(const std::string& fileName) {
    std::vector<std::string> lines;
    kjqt::TMVFil f;
    if (!tz::Exists(fileName) || !f.Reset(fileName)) return lines;
    std::string line;
    while (!f.Eof() && f.ReadLine(line))
        if (!TrimRight(line).empty()) lines.push_back(TrimRight(line));
    return lines;
}

}  // namespace kj
