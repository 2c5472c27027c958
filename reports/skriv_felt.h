// Printable layout items and the parser of layout lines (the values of the item keys of a
// report-layout file). A layout line holds eleven fields separated by ";": caption text,
// caption box x;y;w;h and alignment letter, then the data box x;y;w;h and its alignment.
// Boxes are read in tenths of a millimetre and held in hundredths. Texts are Windows-1252.
// Numbers are read as 64-bit integers and clamped to +-kMaxLayoutNumber before scaling, so
// no length in memory can overflow. Pure functions over strings; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Db {
class TField;
}

namespace kjrep {

// Largest magnitude of a number read from a layout file (tenths of a millimetre: 10 km).
inline constexpr int64_t kMaxLayoutNumber = 100'000'000;

// One printable item: a caption (Text, no field) or a data item (Field, Text empty unless a
// report sets a value to print in its place).
struct TSkrivFelt {
    std::string Text;
    Db::TField* Field = nullptr;
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;  // hundredths of a millimetre
    int32_t Alignment = -1;                            // -1 left, 0 centred, 1 right
};

// One printed "line" of items, each under its name (the layout key, or "Data" + key).
// The list owns its items. Names compare without regard to ASCII case.
class TSkrivListe {
  public:
    struct Entry {
        std::string name;
        std::unique_ptr<TSkrivFelt> item;
    };
    TSkrivFelt& Add(const std::string& name, std::unique_ptr<TSkrivFelt> item);
    int IndexOf(const std::string& name) const;  // -1 when absent
    TSkrivFelt* Find(const std::string& name) const;
    int Count() const { return static_cast<int>(entries_.size()); }
    const Entry& operator[](int i) const { return entries_.at(i); }
    TSkrivFelt& Item(int i) const { return *entries_.at(i).item; }
    void Exchange(int i, int j) { std::swap(entries_.at(i), entries_.at(j)); }
    void Delete(int i) { entries_.erase(entries_.begin() + i); }
    void Clear() { entries_.clear(); }

  private:
    std::vector<Entry> entries_;
};

struct TLayoutRect {
    int32_t Left = 0, Top = 0, Width = 0, Height = 0;
};

// The text before the first ";" (all of Line without one), trailing blanks removed; that
// text and the ";" are taken off Line.
std::string NextLayoutToken(std::string& line);
// A trimmed token as an integer, clamped to +-kMaxLayoutNumber; def when not an integer.
int64_t LayoutNumber(const std::string& token, int64_t def);
TLayoutRect ParseLayoutRect(std::string& line);
TLayoutRect ScaleLayoutRect(TLayoutRect rect, int factor);
// "C" centre (0), "H" right (1), anything else (also empty) left (-1).
int32_t ParseAlignment(std::string& line);

void AddCaptionItem(const std::string& key, std::string& line, TSkrivListe& list);
void AddDataItem(const std::string& name, std::string& line, Db::TField* field, TSkrivListe& list);
// The routine every report calls. A report that passes one list twice gets Key and
// "Data" + Key; a heading list and a band list get the caption and the value apart;
// without a field only the caption is taken. A caption whose box overlaps its own value's
// box in one list is left out: it would print over the value (a line laid out as a column
// heading over its value, printed in a band).
void ParseLayoutLine(const std::string& key, std::string line, Db::TField* field,
                     TSkrivListe* captionList, TSkrivListe* dataList);

// Margins "left;top;right;bottom" in 0.1 mm (10 each when missing or malformed), in 0.01 mm.
struct TMargins {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
};
TMargins ParseMargins(const std::string& text);
std::string MarginsToText(const TMargins& m);
// Paper size "width;height" in 0.1 mm (210 and 297 when missing), in 0.01 mm.
void ParsePaperSize(const std::string& text, int32_t& width, int32_t& height);
std::string PaperSizeToText(int32_t width, int32_t height);

}  // namespace kjrep
