#include "storage/tz_utils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <vector>

#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/file_layer.h"
#include "storage/num_text.h"
#include "storage/tz_common.h"

namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 0x20;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void RemoveAll(std::string& s, char c) {
    std::string out;
    out.reserve(s.size());
    for (char x : s)
        if (x != c) out += x;
    s.swap(out);
}

// "$", thousands characters and blanks removed; the decimal character becomes ".".
std::string CleanNumber(const std::string& text) {
    std::string s = text;
    RemoveAll(s, '$');
    RemoveAll(s, ' ');
    if (TzCommon::ThousandsChar() != TzCommon::DecimalChar())
        RemoveAll(s, TzCommon::ThousandsChar());
    if (TzCommon::DecimalChar() != '.')
        for (char& c : s)
            if (c == TzCommon::DecimalChar()) c = '.';
    return s;
}

// The leading decimal number of s ("." as decimal point); 0 when it does not start with one.
double LeadingFloat(const std::string& s) {
    size_t i = 0;
    if (i < s.size() && s[i] == '+') ++i;
    const size_t start = i;
    if (i < s.size() && s[i] == '-') ++i;
    if (i >= s.size() || !(IsDigit(s[i]) || s[i] == '.')) return 0.0;
    double v = 0.0;
    const auto r = std::from_chars(s.data() + start, s.data() + s.size(), v);
    return r.ec == std::errc() ? v : 0.0;
}

// Windows wildcard match ("*" any run, "?" one character) on upper-cased names.
bool WildMatch(const char* p, const char* n) {
    const char* star = nullptr;
    const char* back = nullptr;
    while (*n) {
        if (*p == '?' || *p == *n) {
            ++p, ++n;
        } else if (*p == '*') {
            star = p++;
            back = n;
        } else if (star) {
            p = star + 1;
            n = ++back;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

// A name without an extension also matches as "name." (so "*.*" and "*." find it).
bool MaskMatches(const std::string& mask, const std::string& name) {
    const std::string m = tz::AnsiUpperStr(mask), n = tz::AnsiUpperStr(name);
    if (WildMatch(m.c_str(), n.c_str())) return true;
    return n.find('.') == std::string::npos && WildMatch(m.c_str(), (n + ".").c_str());
}

// Position of the name part of a path ("/" and "\" both separate).
size_t NameStart(const std::string& path) {
    const size_t pos = path.find_last_of("/\\");
    return pos == std::string::npos ? 0 : pos + 1;
}

std::string StripDot(const std::string& ext) {
    return !ext.empty() && ext[0] == '.' ? ext.substr(1) : ext;
}

constexpr size_t kCopyBlock = 65520;
constexpr int64_t kMaxFreeKB = 2147483647;

}  // namespace

namespace TzUtils {

std::string AnsiUpper(const std::string& s) {
    return tz::AnsiUpperStr(s);
}

std::string TrimRight(const std::string& s) {
    size_t e = s.size();
    while (e > 0 && IsBlankOrControl(s[e - 1])) --e;
    return s.substr(0, e);
}

std::string TrimLeft(const std::string& s) {
    size_t b = 0;
    while (b < s.size() && IsBlankOrControl(s[b])) ++b;
    return s.substr(b);
}

std::string TrimSpaces(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string TrimRightSpaces(const std::string& s) {
    const size_t e = s.find_last_not_of(' ');
    return e == std::string::npos ? std::string() : s.substr(0, e + 1);
}

std::string TrimSpacesTabs(const std::string& s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

std::string Space(int n) {
    return n > 0 ? std::string(static_cast<size_t>(n), ' ') : "";
}

std::string Replicate(char c, int n) {
    return n > 0 ? std::string(static_cast<size_t>(n), c) : "";
}

std::string PadRight(const std::string& s, int n) {
    if (n <= 0 || s.size() >= static_cast<size_t>(n)) return s;
    return s + std::string(static_cast<size_t>(n) - s.size(), ' ');
}

std::string PadRightOrCut(const std::string& s, int n) {
    if (n <= 0) return {};
    std::string r = s.substr(0, static_cast<size_t>(n));
    r.resize(static_cast<size_t>(n), ' ');
    return r;
}

std::string IIf(bool flag, const std::string& a, const std::string& b) {
    return flag ? a : b;
}

bool IsAlpha(const std::string& s) {
    return !s.empty() && tz::IsAnsiAlpha(static_cast<uint8_t>(s[0]));
}

char UpCaseChar(char c) {
    return static_cast<char>(tz::AnsiUpperChar(static_cast<uint8_t>(c)));
}
char LoCaseChar(char c) {
    return static_cast<char>(tz::AnsiLowerChar(static_cast<uint8_t>(c)));
}

int Occurs(const std::string& sub, const std::string& s) {
    if (sub.empty() || s.empty()) return 0;
    int count = 0;
    for (size_t pos = s.find(sub); pos != std::string::npos; pos = s.find(sub, pos + sub.size()))
        ++count;
    return count;
}

int FindNoCase(int start, const std::string& sub, const std::string& s) {
    if (sub.empty()) return 0;
    if (start < 1) start = 1;
    if (static_cast<size_t>(start) > s.size()) return 0;
    const size_t pos =
        tz::AnsiUpperStr(s).find(tz::AnsiUpperStr(sub), static_cast<size_t>(start) - 1);
    return pos == std::string::npos ? 0 : static_cast<int>(pos) + 1;
}

bool ExtractOption(const std::string& word, std::string& text) {
    const std::string w = tz::AnsiUpperStr(word);
    if (w.empty()) return false;
    std::string up = tz::AnsiUpperStr(text);
    bool found = false;
    size_t pos = 0;
    while ((pos = up.find(w, pos)) != std::string::npos) {
        const size_t after = pos + w.size();
        if (after < up.size()) {
            const char c = up[after];
            if (tz::IsAnsiAlpha(static_cast<uint8_t>(c)) || IsDigit(c) || c == ',' || c == '.' ||
                c == '/') {
                ++pos;
                continue;
            }
        }
        text.erase(pos, w.size());
        up.erase(pos, w.size());
        found = true;
    }
    if (found) text = TzCommon::AllTrim(text);
    return found;
}

std::string StrFloat(double value, int width, int decimals) {
    width = std::max(0, std::min(width, 255));
    decimals = std::max(0, std::min(decimals, 60));
    char buf[512];  // room for the 309 digits of the largest double and 60 decimals
    const int n = tz::FormatRounded(buf, sizeof buf, width, decimals, value);
    if (n < 0) return "";
    std::string s(buf, std::min(static_cast<size_t>(n), sizeof buf - 1));
    if (TzCommon::DecimalChar() != '.' && decimals > 0)
        for (char& c : s)
            if (c == '.') c = TzCommon::DecimalChar();
    return s;
}

std::string StrInt(int64_t value, int width) {
    width = std::max(0, std::min(width, 255));
    char buf[300];
    std::snprintf(buf, sizeof buf, "%*lld", width, static_cast<long long>(value));
    return buf;
}

double ValFloat(const std::string& text) {
    return LeadingFloat(CleanNumber(text));
}

int32_t ValInt(const std::string& text) {
    std::string s = CleanNumber(text);
    const size_t dot = s.find('.');
    if (dot != std::string::npos) s.resize(dot);
    size_t i = 0;
    if (i < s.size() && s[i] == '+') ++i;
    long long v = 0;
    const auto r = std::from_chars(s.data() + i, s.data() + s.size(), v);
    if (r.ec == std::errc::result_out_of_range)
        return s.find('-') == i ? std::numeric_limits<int32_t>::min()
                                : std::numeric_limits<int32_t>::max();
    if (r.ec != std::errc()) return 0;
    if (v > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

int16_t FormatNumber(const std::string& text) {
    std::string s = TrimLeft(text);  // a right-aligned number still reads
    if (!s.empty() && s[0] == '+') s.erase(0, 1);
    const char dec = TzCommon::DecimalChar();
    if (dec != '.') {
        RemoveAll(s, '.');
        // The fraction after a decimal comma is dropped rather than joined to the whole part.
        const size_t cut = s.find(dec);
        if (cut != std::string::npos) s.resize(cut);
    }
    RemoveAll(s, ',');
    const size_t dollar = s.find('$');
    if (dollar != std::string::npos) s.erase(dollar, 1);
    const size_t blank = s.find(' ');
    if (blank != std::string::npos) s.resize(blank);
    size_t end = 0;
    if (end < s.size() && s[end] == '-') ++end;
    bool point = false;
    while (end < s.size() && (IsDigit(s[end]) || (s[end] == '.' && !point))) {
        if (s[end] == '.') point = true;
        ++end;
    }
    s.resize(end);
    const double v = std::trunc(LeadingFloat(s));
    if (v > 32767.0) return 32767;
    if (v < -32768.0) return -32768;
    return static_cast<int16_t>(v);
}

bool FileExists(const std::string& name) {
    return !name.empty() && tz::Exists(name);
}

bool CopyFile(const std::string& source, const std::string& target) {
    TzCommon::ClearErrorWord();
    const std::string where = " [CopyFile(" + source + "," + target + ")]";
    const std::string src = tz::ResolveName(source);
    if (TzCommon::FExpand(src) == TzCommon::FExpand(tz::ResolveName(target))) {
        TzCommon::SetError(TzErr::InvalidParameter, "File cannot be copied onto itself." + where);
        return false;
    }
    tz::File in;
    uint16_t code = in.Open(src, tz::Access::ReadOnly, tz::ShareMode::DenyNone);
    if (code != 0) {
        TzCommon::SetError(code, "Error reading " + source + where);
        return false;
    }
    const int64_t stamp = tz::FileTime(src);
    tz::File out;
    code = out.Create(target, tz::ShareMode::Exclusive);
    if (code != 0) {
        in.Close();
        TzCommon::SetError(code, "Error writing " + target + where);
        return false;
    }
    const std::string written = out.Path().empty() ? target : out.Path();
    std::vector<char> buf(kCopyBlock);
    uint64_t off = 0;
    std::string failure;
    for (;;) {
        size_t got = 0;
        code = in.ReadAt(off, buf.data(), buf.size(), &got);
        if (code != 0) {
            failure = "Error reading " + source;
            break;
        }
        if (got == 0) break;
        code = out.WriteAt(off, buf.data(), got);
        if (code != 0) {
            failure = "Error writing " + target;
            break;
        }
        off += got;
    }
    in.Close();
    const uint16_t closeCode = out.Close();
    if (failure.empty() && closeCode != 0) {
        code = closeCode;
        failure = "Error writing " + target;
    }
    if (!failure.empty()) {
        tz::EraseFile(written);  // no half copy is left
        TzCommon::SetError(code, failure + where);
        return false;
    }
    if (stamp > 0) tz::SetFileTime(written, stamp);
    return true;
}

bool EraseFiles(const std::string& mask) {
    TzCommon::ClearErrorWord();
    const TzCommon::SplitPath parts = TzCommon::FSplit(mask);
    std::string folder = parts.dir.empty() ? "." : parts.dir;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    folder = tz::ResolveName(folder);
    const std::string pattern = parts.name + parts.ext;

    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code typeEc;
        if (!it->is_regular_file(typeEc)) continue;
        const std::string name = it->path().filename().string();
        if (MaskMatches(pattern, name)) names.push_back(name);
    }

    int failed = 0;
    uint16_t lastCode = 0;
    std::string lastFile;
    for (const std::string& name : names) {
        const std::string full = (folder == "/" ? "" : folder) + "/" + name;
        const uint16_t code = tz::EraseFile(full);
        if (code != 0) {
            ++failed;
            lastCode = code;
            lastFile = full;
        }
    }
    if (failed == 1) {
        TzCommon::SetError(lastCode, "Error erasing " + lastFile);
        return false;
    }
    if (failed > 1) {
        TzCommon::SetError(lastCode,
                           "Could not erase " + std::to_string(failed) + " files like " + mask);
        return false;
    }
    return true;
}

int64_t DiskFreeOf(const std::string& path) {
    const int64_t kb = tz::DiskFreeKB(path.empty() ? "." : path);
    if (kb < 0 || kb > kMaxFreeKB) return kMaxFreeKB;
    return kb;
}

int64_t DiskFree(int /*drive*/) {
    return DiskFreeOf(".");
}

std::string UniqueFilename() {
    TzCommon::ClearErrorWord();
    std::string name;
    const uint16_t code = tz::MakeTempFile("TZP", &name);
    if (code != 0) {
        TzCommon::SetError(code, "Error requesting unique file name [UniqueFilename]");
        return "";
    }
    return name;
}

}  // namespace TzUtils

namespace TzCommon {

std::string TrimRight(const std::string& s) {
    return TzUtils::TrimRight(s);
}
std::string TrimLeft(const std::string& s) {
    return TzUtils::TrimLeft(s);
}
std::string AllTrim(const std::string& s) {
    return TzUtils::TrimLeft(TzUtils::TrimRight(s));
}
std::string AnsiToOemStr(const std::string& s) {
    return tz::AnsiToOem(s);
}
std::string OemToAnsiStr(const std::string& s) {
    return tz::OemToAnsi(s);
}

SplitPath FSplit(const std::string& path) {
    std::string p = path;
    for (char& c : p)
        if (c == '\\') c = '/';
    SplitPath r;
    const size_t start = NameStart(p);
    r.dir = p.substr(0, start);
    const std::string rest = p.substr(start);
    const size_t dot = rest.rfind('.');
    if (dot == std::string::npos || rest == "." || rest == "..") {
        r.name = rest;
    } else {
        r.name = rest.substr(0, dot);
        r.ext = rest.substr(dot);
    }
    return r;
}

std::string FExpand(const std::string& name) {
    std::string p = name;
    for (char& c : p)
        if (c == '\\') c = '/';
    const bool trailing = !p.empty() && p.back() == '/';
    if (p.empty() || p[0] != '/') {
        std::error_code ec;
        std::string cwd = std::filesystem::current_path(ec).string();
        if (ec) cwd = "/";
        p = cwd + "/" + p;
    }
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= p.size()) {
        size_t j = p.find('/', i);
        if (j == std::string::npos) j = p.size();
        const std::string part = p.substr(i, j - i);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }
    std::string out;
    for (const std::string& part : parts) out += "/" + part;
    if (out.empty()) return "/";
    if (trailing) out += "/";
    return out;
}

std::string DefaultExtension(const std::string& name, const std::string& ext) {
    const std::string e = StripDot(ext);
    if (e.empty() || name.find('.', NameStart(name)) != std::string::npos) return name;
    return name + "." + e;
}

std::string ForceExtension(const std::string& name, const std::string& ext) {
    const size_t start = NameStart(name);
    const size_t dot = name.rfind('.');
    std::string base = dot != std::string::npos && dot >= start ? name.substr(0, dot) : name;
    const std::string e = StripDot(ext);
    return e.empty() ? base : base + "." + e;
}

int64_t Timer() {
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    const double ms =
        static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
    return std::llround(std::floor(ms) / 1000.0 * 18.20648193);
}

}  // namespace TzCommon
