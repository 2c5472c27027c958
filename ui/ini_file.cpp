#include "ui/ini_file.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "storage/code_page.h"
#include "storage/file_layer.h"
#include "storage/tz_utils.h"
#include "storage/whole_file.h"

namespace kjqt {

namespace {

bool SameText(const std::string& a, const std::string& b) {
    return a.size() == b.size() && tz::AnsiUpperStr(a) == tz::AnsiUpperStr(b);
}

std::vector<std::string> SplitLines(const std::string& all) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < all.size()) {
        size_t nl = all.find('\n', start);
        size_t stop = nl == std::string::npos ? all.size() : nl;
        size_t len = stop - start;
        if (len > 0 && all[start + len - 1] == '\r') --len;
        out.push_back(all.substr(start, len));
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return out;
}

}  // namespace

TMemIniFile::Line TMemIniFile::Parse(const std::string& text) {
    Line line;
    line.text = text;
    std::string t = TzUtils::TrimSpacesTabs(text);
    if (t.empty() || t[0] == ';') return line;
    if (t[0] == '[') {
        size_t close = t.find(']');
        if (close != std::string::npos) {
            line.kind = Line::Header;
            line.section = TzUtils::TrimSpacesTabs(t.substr(1, close - 1));
        }
        return line;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos) return line;
    line.kind = Line::Entry;
    line.key = TzUtils::TrimSpacesTabs(t.substr(0, eq));
    line.value = TzUtils::TrimSpacesTabs(t.substr(eq + 1));
    return line;
}

TMemIniFile::TMemIniFile(const std::string& fileName) : fileName_(tz::ResolveName(fileName)) {
    std::ifstream in(fileName_, std::ios::binary);
    if (!in) return;
    std::stringstream all;
    all << in.rdbuf();
    for (const std::string& text : SplitLines(all.str())) lines_.push_back(Parse(text));
}

int TMemIniFile::FindSection(const std::string& section, int* end) const {
    const int n = static_cast<int>(lines_.size());
    for (int i = 0; i < n; ++i) {
        if (lines_[i].kind != Line::Header ||
            !SameText(lines_[i].section, TzUtils::TrimSpacesTabs(section)))
            continue;
        if (end) {
            int j = i + 1;
            while (j < n && lines_[j].kind != Line::Header) ++j;
            *end = j;
        }
        return i;
    }
    return -1;
}

int TMemIniFile::FindKey(const std::string& section, const std::string& key) const {
    int end = 0;
    int head = FindSection(section, &end);
    if (head < 0) return -1;
    std::string k = TzUtils::TrimSpacesTabs(key);
    for (int i = head + 1; i < end; ++i)
        if (lines_[i].kind == Line::Entry && SameText(lines_[i].key, k)) return i;
    return -1;
}

std::string TMemIniFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& def) const {
    int i = FindKey(section, key);
    return i < 0 ? def : lines_[i].value;
}

int TMemIniFile::ReadInteger(const std::string& section, const std::string& key, int def) const {
    std::string text = ReadString(section, key, {});
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    auto [ptr, ec] = std::from_chars(first + (hex ? 2 : 0), last, value, hex ? 16 : 10);
    if (text.empty() || ec != std::errc() || ptr != last) return def;
    return value;
}

bool TMemIniFile::ReadBool(const std::string& section, const std::string& key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TMemIniFile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
    int i = FindKey(section, key);
    if (i >= 0) {
        Line& line = lines_[i];
        size_t eq = line.text.find('=');
        line.text = line.text.substr(0, eq + 1) + value;
        line.value = TzUtils::TrimSpacesTabs(value);
    } else {
        int end = 0;
        int head = FindSection(section, &end);
        if (head < 0) {
            if (!lines_.empty() && !TzUtils::TrimSpacesTabs(lines_.back().text).empty())
                lines_.push_back(Parse(""));
            lines_.push_back(Parse("[" + TzUtils::TrimSpacesTabs(section) + "]"));
            head = static_cast<int>(lines_.size()) - 1;
            end = head + 1;
        }
        int at = end;  // after the section's last entry, before its trailing blanks/comments
        while (at > head + 1 && lines_[at - 1].kind != Line::Entry) --at;
        lines_.insert(lines_.begin() + at, Parse(TzUtils::TrimSpacesTabs(key) + "=" + value));
    }
    Changed();
}

void TMemIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

void TMemIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

bool TMemIniFile::SectionExists(const std::string& section) const {
    return FindSection(section) >= 0;
}

bool TMemIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return FindKey(section, key) >= 0;
}

std::vector<std::string> TMemIniFile::ReadSection(const std::string& section) const {
    std::vector<std::string> keys;
    int end = 0;
    int head = FindSection(section, &end);
    for (int i = head + 1; head >= 0 && i < end; ++i)
        if (lines_[i].kind == Line::Entry) keys.push_back(lines_[i].key);
    return keys;
}

std::vector<std::string> TMemIniFile::ReadSectionValues(const std::string& section) const {
    std::vector<std::string> values;
    int end = 0;
    int head = FindSection(section, &end);
    for (int i = head + 1; head >= 0 && i < end; ++i)
        if (lines_[i].kind == Line::Entry) values.push_back(lines_[i].key + "=" + lines_[i].value);
    return values;
}

std::vector<std::string> TMemIniFile::ReadSections() const {
    std::vector<std::string> names;
    for (const Line& line : lines_)
        if (line.kind == Line::Header) names.push_back(line.section);
    return names;
}

void TMemIniFile::EraseSection(const std::string& section) {
    int end = 0;
    int head = FindSection(section, &end);
    if (head < 0) return;
    lines_.erase(lines_.begin() + head, lines_.begin() + end);
    Changed();
}

void TMemIniFile::DeleteKey(const std::string& section, const std::string& key) {
    int i = FindKey(section, key);
    if (i < 0) return;
    lines_.erase(lines_.begin() + i);
    Changed();
}

bool TMemIniFile::UpdateFile() {
    std::string all;
    for (const Line& line : lines_) all += line.text + "\r\n";
    return tz::WriteWholeFile(fileName_, all) == 0;
}

}  // namespace kjqt
