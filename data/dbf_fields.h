// Table definitions of the dataset components: the DbfFields lines (name, type letter,
// width, decimals) with their corrections, the IndexList pairs of lines (tag line and FOR
// condition) parsed into tag descriptors, and creating a table from its field lines.
// Pure text handling apart from CreateTableFromFields; single-threaded.
#pragma once

#include <string>
#include <vector>

#include "storage/dbf_low.h"

namespace TzDs {

// One field line "name, type, width, decimals". False when the line does not hold exactly
// three commas. Items are trimmed of blanks and control characters; the name is cut to 10
// characters, the type is the item's first character; widths and decimals that are not
// numbers read as 0, and out-of-range values are held to 0..65535 before correction.
bool ParseFieldLine(const std::string& line, TzDbfLow::FieldDef& out);

// Applies the corrections to a parsed field and answers whether type, width or decimals
// changed. Rules, each testing the field as parsed:
//  1. a type other than C D F L M N becomes C;  2. N wider than 20 gets width 20;
//  3. N with 19 or more decimals gets 18;        4. N with decimals and width - decimals < 2
//  gets decimals = width - 2;                    5. C of 255 or more gets width 254, dec 0.
// The rules then run once more on the corrected field, so the decimals of a corrected N
// field never exceed its width (N,25,24 gives N,20,18), and a width that still does not fit
// the header's width byte is held to 254.
bool CorrectFieldDef(TzDbfLow::FieldDef& field);

// The warning shown for a corrected field.
std::string CorrectionWarning(const std::string& component, const TzDbfLow::FieldDef& before,
                              const TzDbfLow::FieldDef& after);

// One tag of an IndexList.
struct TagDef {
    std::string name;     // up to 10 characters
    std::string expr;     // up to 220 characters
    std::string forExpr;  // up to 220 characters; empty = none
    bool descending = false;
    bool unique = false;
};

// Pairs of lines: "NAME,D,U,EXPRESSION" then the FOR condition. The tag count is the line
// count divided by two; an unpaired last line is not a tag.
std::vector<TagDef> ParseIndexList(const std::vector<std::string>& lines);
// The pairs of lines of a tag list (the inverse of ParseIndexList).
std::vector<std::string> IndexListLines(const std::vector<TagDef>& tags);

// Parses and corrects every field line, warning (message level 2) about each corrected one;
// lines of type "X" are dropped. False when a line does not hold three commas (then nothing
// is returned) or when the list is empty (with its message).
bool BuildFieldDefs(const std::string& component, const std::vector<std::string>* lines,
                    std::vector<TzDbfLow::FieldDef>& out);

// Creates the table file from the field lines with the engine's error checking off. True
// when the engine reported no error.
bool CreateTableFromFields(const std::string& component, const std::string& fileName,
                           const std::vector<std::string>* lines);

}  // namespace TzDs
