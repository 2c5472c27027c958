#include "reports/skriv_felt.h"

#include <algorithm>
#include <charconv>

#include "storage/tz_utils.h"

namespace kjrep {

namespace {

const char kCaptionHalfEmpty[] = ";;;;;;";
const char kDataHalfEmpty[] = ";;;;;";

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Upper(x) == Upper(y); });
}

// The first n characters of line, padded with blanks to n.
std::string Head(const std::string& line, size_t n) {
    std::string head = line.substr(0, n);
    head.resize(n, ' ');
    return head;
}

int32_t Clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

TSkrivFelt& TSkrivListe::Add(const std::string& name, std::unique_ptr<TSkrivFelt> item) {
    entries_.push_back({name, std::move(item)});
    return *entries_.back().item;
}

int TSkrivListe::IndexOf(const std::string& name) const {
    for (int i = 0; i < Count(); ++i)
        if (SameName(entries_[i].name, name)) return i;
    return -1;
}

TSkrivFelt* TSkrivListe::Find(const std::string& name) const {
    int i = IndexOf(name);
    return i < 0 ? nullptr : entries_[i].item.get();
}

std::string NextLayoutToken(std::string& line) {
    size_t semi = line.find(';');
    std::string token = line.substr(0, semi);
    line.erase(0, semi == std::string::npos ? line.size() : semi + 1);
    return TzUtils::TrimRight(token);
}

int64_t LayoutNumber(const std::string& token, int64_t def) {
    std::string t = TzCommon::AllTrim(token);
    if (t.empty()) return def;
    bool negative = t[0] == '-';
    size_t start = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (start == t.size()) return def;
    int64_t value = 0;
    for (size_t i = start; i < t.size(); ++i) {
        if (t[i] < '0' || t[i] > '9') return def;
        // Digits beyond the clamp cannot bring the value back; stop accumulating there.
        if (value <= kMaxLayoutNumber) value = value * 10 + (t[i] - '0');
    }
    value = std::min(value, kMaxLayoutNumber);
    return negative ? -value : value;
}

TLayoutRect ParseLayoutRect(std::string& line) {
    TLayoutRect r;
    r.Left = Clamp32(LayoutNumber(NextLayoutToken(line), 0));
    r.Top = Clamp32(LayoutNumber(NextLayoutToken(line), 0));
    r.Width = Clamp32(LayoutNumber(NextLayoutToken(line), 0));
    r.Height = Clamp32(LayoutNumber(NextLayoutToken(line), 0));
    return r;
}

TLayoutRect ScaleLayoutRect(TLayoutRect r, int factor) {
    auto scale = [factor](int32_t v) { return Clamp32(static_cast<int64_t>(v) * factor); };
    return {scale(r.Left), scale(r.Top), scale(r.Width), scale(r.Height)};
}

int32_t ParseAlignment(std::string& line) {
    std::string token = TzCommon::AllTrim(NextLayoutToken(line));
    char c = token.empty() ? 'V' : Upper(token[0]);
    if (c == 'C') return 0;
    if (c == 'H') return 1;
    return -1;
}

namespace {
std::unique_ptr<TSkrivFelt> ReadItem(std::string& line, Db::TField* field, bool withText) {
    auto item = std::make_unique<TSkrivFelt>();
    item->Field = field;
    if (withText) item->Text = NextLayoutToken(line);
    TLayoutRect r = ScaleLayoutRect(ParseLayoutRect(line), 10);
    item->Left = r.Left;
    item->Top = r.Top;
    item->Width = r.Width;
    item->Height = r.Height;
    item->Alignment = ParseAlignment(line);
    return item;
}
}  // namespace

void AddCaptionItem(const std::string& key, std::string& line, TSkrivListe& list) {
    if (Head(line, 6) != kCaptionHalfEmpty)
        list.Add(key, ReadItem(line, nullptr, true));
    else
        line.erase(0, 6);
}

void AddDataItem(const std::string& name, std::string& line, Db::TField* field, TSkrivListe& list) {
    if (Head(line, 5) != kDataHalfEmpty && field)
        list.Add(name, ReadItem(line, field, false));
    else if (Head(line, 5) == kDataHalfEmpty)
        line.erase(0, 5);
}

namespace {

bool Overlap(const TSkrivFelt& a, const TSkrivFelt& b) {
    auto apart = [](int64_t a0, int64_t aw, int64_t b0, int64_t bw) {
        return a0 + aw <= b0 || b0 + bw <= a0;
    };
    return !apart(a.Left, a.Width, b.Left, b.Width) && !apart(a.Top, a.Height, b.Top, b.Height);
}

}  // namespace

void ParseLayoutLine(const std::string& key, std::string line, Db::TField* field,
                     TSkrivListe* captionList, TSkrivListe* dataList) {
    int caption = -1;
    if (captionList) {
        if (line.compare(0, 6, kCaptionHalfEmpty) != 0) {
            AddCaptionItem(key, line, *captionList);
            caption = captionList->Count() - 1;
        }
        if (line.compare(0, 6, kCaptionHalfEmpty) == 0) line.erase(0, 6);
    }
    if (dataList && field && line.size() > 8 && line.compare(0, 4, ";;;;") != 0) {
        std::string name = dataList == captionList ? "Data" + key : key;
        const int before = dataList->Count();
        AddDataItem(name, line, field, *dataList);
        const bool added = dataList->Count() > before;
        if (dataList == captionList && caption >= 0 && added &&
            Overlap(captionList->Item(caption), dataList->Item(dataList->Count() - 1)))
            captionList->Delete(caption);
    }
}

TMargins ParseMargins(const std::string& text) {
    std::string line = text;
    auto next = [&line] { return Clamp32(LayoutNumber(NextLayoutToken(line), 10) * 10); };
    TMargins m;
    m.Left = next();
    m.Top = next();
    m.Right = next();
    m.Bottom = next();
    return m;
}

std::string MarginsToText(const TMargins& m) {
    return std::to_string(m.Left / 10) + ";" + std::to_string(m.Top / 10) + ";" +
           std::to_string(m.Right / 10) + ";" + std::to_string(m.Bottom / 10);
}

void ParsePaperSize(const std::string& text, int32_t& width, int32_t& height) {
    std::string line = text;
    width = Clamp32(LayoutNumber(NextLayoutToken(line), 210) * 10);
    height = Clamp32(LayoutNumber(NextLayoutToken(line), 297) * 10);
}

std::string PaperSizeToText(int32_t width, int32_t height) {
    return std::to_string(width / 10) + ";" + std::to_string(height / 10);
}

}  // namespace kjrep
