#include "storage/dbf_low.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "storage/code_page.h"
#include "storage/dbf4.h"
#include "storage/dbf4_internal.h"
#include "storage/hooks.h"
#include "storage/memo.h"
#include "storage/num_text.h"
#include "storage/dates.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDbfLow {

using Dbf4::FieldEntry;
using Dbf4::WorkArea;
using TzCommon::SetError;

namespace {

// A table holding kMaxRecords refuses another append as a full disk would.
constexpr uint16_t kTableFull = TzErr::DiskWriteError;

// Bytes read ahead of a record for forward moves in natural order.
constexpr size_t kReadAheadBytes = 64 * 1024;
// The least length of a table's shared mapping; a mapping also reaches twice the file's
// length, so that the table can grow without a new mapping.
constexpr uint64_t kMapReserve = 16ull << 20;

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
           (uint32_t(p[3]) << 24);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

std::string BaseName(const std::string& path) {
    size_t p = path.find_last_of("/\\");
    return p == std::string::npos ? path : path.substr(p + 1);
}

bool AcceptedVersion(uint8_t v) {
    const Settings& s = settings();
    if (v == 2 || v == 3 || v == 0x83 || v == 0x8B || v == 0xF5 || v == 4) return true;
    return (s.extraVersion1 != 0 && v == s.extraVersion1) ||
           (s.extraVersion2 != 0 && v == s.extraVersion2);
}

// Fails an open: closes the file and frees what was allocated.
bool FailOpen(WorkArea& a, uint16_t code, const std::string& message) {
    a.file.Close();
    a.record.clear();
    a.fields.clear();
    a.state = Dbf4::kClosed;
    SetError(code, message);
    return false;
}

char NormalType(uint8_t t) {
    switch (t) {
        case 'B': case 'G': case 'P': case 'b': case 'g': case 'p': return 'M';
        case 'C': case 'D': case 'F': case 'L': case 'M': case 'N': return char(t);
        default: return 0;
    }
}

std::string FieldName(const uint8_t* p, int maxLen) {
    std::string name;
    for (int i = 0; i < maxLen && p[i] != 0; ++i) name.push_back(char(p[i]));
    if (name.size() > 10) name.resize(10);
    return tz::AnsiUpperStr(name);
}

bool ReadExact(WorkArea& a, uint64_t off, uint8_t* buf, size_t n, uint16_t* code) {
    size_t got = 0;
    uint16_t rc = a.file.ReadAt(off, buf, n, &got);
    if (rc != 0) {
        *code = rc;
        return false;
    }
    if (got != n) {
        *code = 0;
        return false;
    }
    return true;
}

// ---- Native forms ----

// Stored YYYYMMDD (or blanks) to the native short string in the current date style.
void DateToNative(const uint8_t* raw, uint8_t* out) {
    std::memset(out, 0, 11);
    bool blank = true, digits = true;
    for (int i = 0; i < 8; ++i) {
        if (raw[i] != ' ' && raw[i] != 0) blank = false;
        if (raw[i] < '0' || raw[i] > '9') digits = false;
    }
    const int style = TzCommon::DateStyle();
    const bool century = TzCommon::CenturyFlag();
    std::string text;
    if (blank) {
        // The blank template of the style, kept between calls.
        static int cachedStyle = -1;
        static bool cachedCentury = false;
        static uint8_t cached[11];
        if (style != cachedStyle || century != cachedCentury) {
            std::string t = TzCommon::EmptyDateString(style);
            if (t.size() > 10) t.resize(10);
            std::memset(cached, 0, sizeof cached);
            cached[0] = uint8_t(t.size());
            std::memcpy(cached + 1, t.data(), t.size());
            cachedStyle = style;
            cachedCentury = century;
        }
        std::memcpy(out, cached, sizeof cached);
        return;
    } else if (digits) {
        // The common case, without building intermediate texts.
        const char* r = reinterpret_cast<const char*>(raw);
        const char* year = century ? r : r + 2;
        const int yl = century ? 4 : 2;
        const char sep = style == 1 ? '.' : style == 3 ? '-' : (style == 0 || style == 2) ? '/' : '.';
        char* o = reinterpret_cast<char*>(out) + 1;
        auto put = [&](const char* p, int n) {
            std::memcpy(o, p, size_t(n));
            o += n;
        };
        if (style == 0) {
            put(r + 4, 2), *o++ = sep, put(r + 6, 2), *o++ = sep, put(year, yl);
        } else if (style == 1) {
            put(year, yl), *o++ = sep, put(r + 4, 2), *o++ = sep, put(r + 6, 2);
        } else {
            put(r + 6, 2), *o++ = sep, put(r + 4, 2), *o++ = sep, put(year, yl);
        }
        out[0] = uint8_t(o - reinterpret_cast<char*>(out) - 1);
        return;
    } else {
        std::string internal;
        internal.append(reinterpret_cast<const char*>(raw) + 4, 2);
        internal.push_back('/');
        internal.append(reinterpret_cast<const char*>(raw) + 6, 2);
        internal.push_back('/');
        internal.append(reinterpret_cast<const char*>(raw) + (century ? 0 : 2), century ? 4 : 2);
        text = TzCommon::DateToStyle(internal);
    }
    if (text.size() > 10) text.resize(10);
    out[0] = uint8_t(text.size());
    std::memcpy(out + 1, text.data(), text.size());
}

// Native date text back to YYYYMMDD; false when it is blank (8 blanks are stored).
void NativeToDate(const uint8_t* in, uint8_t* raw) {
    std::string text(reinterpret_cast<const char*>(in) + 1, std::min<int>(in[0], 10));
    std::string internal = TzCommon::DateFromStyle(text);
    TimeDate::DateParts dp = TimeDate::ParseDate(internal);
    int y = dp.year, m = dp.month, d = dp.day;
    if (y == 0 && m == 0 && d == 0) {
        std::memset(raw, ' ', 8);
        return;
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", y % 10000, m % 100, d % 100);
    std::memcpy(raw, buf, 8);
}

// Reads a number field's text; blanks read as 0.
double ParseNumber(const uint8_t* p, int len) {
    int i = 0;
    while (i < len && (p[i] == ' ' || p[i] == 0)) ++i;
    bool neg = false;
    if (i < len && (p[i] == '-' || p[i] == '+')) {
        neg = p[i] == '-';
        ++i;
    }
    // Fast path: plain digits with an optional point.
    double v = 0;
    int64_t ip = 0;
    int digits = 0;
    int j = i;
    while (j < len && p[j] >= '0' && p[j] <= '9' && digits < 18) {
        ip = ip * 10 + (p[j] - '0');
        ++j;
        ++digits;
    }
    bool simple = true;
    double frac = 0, scale = 1;
    if (j < len && p[j] == '.') {
        ++j;
        int64_t fp = 0;
        int fd = 0;
        while (j < len && p[j] >= '0' && p[j] <= '9' && fd < 18) {
            fp = fp * 10 + (p[j] - '0');
            scale *= 10;
            ++j;
            ++fd;
        }
        frac = double(fp);
    }
    while (j < len && p[j] == ' ') ++j;
    if (j != len) simple = false;
    if (simple) {
        v = double(ip) + frac / scale;
        return neg ? -v : v;
    }
    char buf[64];
    int n = std::min(len, 63);
    std::memcpy(buf, p, n);
    buf[n] = 0;
    return tz::ParseDouble(buf, size_t(n));
}

int32_t ClampInt(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return 2147483647;
    if (v <= -2147483648.0) return int32_t(-2147483647 - 1);
    return int32_t(v);
}

void EncodeNumber(double v, int len, int dec, uint8_t* out) {
    char buf[384];
    int n = tz::FormatFixed(buf, sizeof buf, len, dec, v);
    if (n < 0 || n > len) {
        std::memset(out, '*', len);
        return;
    }
    std::memcpy(out, buf, len);
}

void UnpackField(const FieldEntry& f, const uint8_t* raw, uint8_t* out) {
    switch (f.type) {
        case 'C':
            out[0] = f.length;
            std::memcpy(out + 1, raw, f.length);
            break;
        case 'D':
            DateToNative(raw, out);
            break;
        case 'N':
        case 'F':
            if (f.decimals > 0) {
                double v = ParseNumber(raw, f.length);
                std::memcpy(out, &v, 8);
            } else {
                int32_t v = ClampInt(ParseNumber(raw, f.length));
                std::memcpy(out, &v, 4);
            }
            break;
        case 'L': {
            uint8_t c = raw[0];
            out[0] = (c == 'T' || c == 't' || c == 'Y' || c == 'y') ? 1 : 0;
            break;
        }
        case 'M': {
            int32_t v = ClampInt(ParseNumber(raw, f.length));
            std::memcpy(out, &v, 4);
            break;
        }
        default:
            break;
    }
}

void PackField(const FieldEntry& f, const uint8_t* in, uint8_t* raw) {
    switch (f.type) {
        case 'C': {
            int n = std::min<int>(in[0], f.length);
            std::memcpy(raw, in + 1, n);
            std::memset(raw + n, ' ', f.length - n);
            break;
        }
        case 'D':
            NativeToDate(in, raw);
            break;
        case 'N':
        case 'F':
            if (f.decimals > 0) {
                double v;
                std::memcpy(&v, in, 8);
                EncodeNumber(v, f.length, f.decimals, raw);
            } else {
                int32_t v;
                std::memcpy(&v, in, 4);
                EncodeNumber(double(v), f.length, 0, raw);
            }
            break;
        case 'L':
            raw[0] = in[0] ? 'T' : 'F';
            break;
        case 'M': {
            int32_t v;
            std::memcpy(&v, in, 4);
            if (v <= 0)
                std::memset(raw, ' ', f.length);
            else
                EncodeNumber(double(v), f.length, 0, raw);
            break;
        }
        default:
            break;
    }
}

// Two native values of a field are the same value (short strings compare by their text).
bool SameNative(const FieldEntry& f, const uint8_t* a, const uint8_t* b) {
    if (f.type == 'C' || f.type == 'D') return a[0] == b[0] && std::memcmp(a + 1, b + 1, a[0]) == 0;
    return std::memcmp(a, b, NativeWidth(f)) == 0;
}

// Writes the area's count into the header's count bytes (and the header copy).
bool WriteCount(WorkArea& a) {
    if (a.version == 2) {
        Put16(a.header + 1, uint16_t(std::min<int32_t>(a.recCount, 0xFFFF)));
        return a.file.WriteAt(1, a.header + 1, 2) == 0;
    }
    Put32(a.header + kHdrCount, uint32_t(a.recCount));
    return a.file.WriteAt(kHdrCount, a.header + kHdrCount, 4) == 0;
}

// The header's count is not to be trusted: a station killed after appending never wrote
// it, and a damaged header may claim records the file does not hold. Every open counts the
// whole records in the file and repairs the header when the two differ (with the end mark
// after records it had not counted), under the append byte so that no station appends
// meanwhile. A read-only open, or one that cannot have the byte, only counts.
void ReconcileCount(WorkArea& a, uint64_t size) {
    int32_t held = CountFromSize(a, size);
    if (held == a.recCount) return;
    const bool grew = held > a.recCount;
    a.recCount = held;
    const uint64_t appendByte = Dbf4::LockBase() + 1;
    if (a.readOnly || a.file.Lock(appendByte, 1) != 0) return;
    if (a.file.Size(&size) == 0) {
        a.recCount = held = CountFromSize(a, size);
        const uint8_t mark = kEofMark;
        if (WriteCount(a) && grew) a.file.WriteAt(RecordOffset(a, held + 1), &mark, 1);
    }
    a.file.Unlock(appendByte, 1);
}

}  // namespace

Settings& settings() {
    static Settings s;
    return s;
}

uint16_t NativeWidth(const FieldEntry& f) {
    switch (f.type) {
        case 'C': return uint16_t(f.length + 1);
        case 'D': return 11;
        case 'N':
        case 'F': return f.decimals > 0 ? 8 : 4;
        case 'L': return 1;
        case 'M': return 4;
        default: return 0;
    }
}

void LayoutNative(WorkArea& a) {
    uint32_t off = 1;
    for (FieldEntry& f : a.fields) {
        f.nativeOffset = uint16_t(off);
        off += NativeWidth(f);
    }
    a.nativeSize = uint16_t(off);
    a.assigned.assign(a.fields.size(), 0);
}

int32_t CountFromSize(const WorkArea& a, uint64_t size) {
    if (a.recordLength == 0 || size < uint64_t(uint32_t(a.headerLength))) return 0;
    uint64_t n = (size - uint32_t(a.headerLength)) / a.recordLength;
    return n > uint64_t(kMaxRecords) ? kMaxRecords : int32_t(n);
}

bool UseDbf(WorkArea& a, const OpenMode& mode) {
    TzCommon::ClearErrorWord();
    a.fileName = TzCommon::DefaultExtension(a.fileName, "DBF");
    uint16_t rc = a.file.Open(a.fileName, mode.access, mode.share);
    if (rc != 0) {
        SetError(rc, "Failure to open " + a.fileName + " [USE/OpenDbf]");
        return false;
    }
    a.readOnly = mode.access == tz::Access::ReadOnly;
    uint64_t size = 0;
    rc = a.file.Size(&size);
    if (rc != 0) return FailOpen(a, rc, "Failure to open " + a.fileName + " [USE/OpenDbf]");
    if (!OpenDbf(a, size)) return false;
    ReconcileCount(a, size);
    if (a.recCount <= 0) {
        a.recNo = 0;
        a.bof = a.eof = true;
    } else {
        a.recNo = 1;
        a.bof = a.eof = false;
    }
    return true;
}

bool OpenDbf(WorkArea& a, uint64_t fileSize) {
    const std::string& file = a.fileName;
    uint16_t code = 0;
    std::memset(a.header, 0, sizeof a.header);
    size_t got = 0;
    code = a.file.ReadAt(0, a.header, 32, &got);
    if (code != 0) return FailOpen(a, code, "Error reading " + file + " [Use/OpenDbf]");
    if (got < 32)
        return FailOpen(a, TzErr::NotADbaseFile,
                        file +
                            " is not a dBASE database. (Prolog is less than 32 bytes) "
                            "[USE/OpenDBF]");
    uint8_t v = a.header[kHdrVersion];
    if (!AcceptedVersion(v))
        return FailOpen(a, TzErr::NotADbaseFile,
                        file + " is not a dBASE database.(Invalid version byte)+ [USE/OpenDBF]");
    a.version = v;
    a.fields.clear();
    const std::string outOfRange =
        BaseName(file) + " is not a dBASE database. (Number of fields is out of range) "
                         "[Use/OpenDbf]";

    if (v == 2) {
        if (fileSize < uint64_t(kDb2HeaderLength))
            return FailOpen(a, TzErr::NotADbaseFile,
                            file +
                                " is not a dBASE database.(Header is less than 521 bytes) "
                                "[Use/OpenDBF]");
        uint8_t block[512];
        if (!ReadExact(a, 8, block, sizeof block, &code))
            return FailOpen(a, code ? code : TzErr::DiskReadError,
                            "Error reading " + file + " [Use/OpenDbf]");
        a.memo = false;
        a.headerLength = kDb2HeaderLength;
        a.recCount = Get16(a.header + 1);
        a.recordLength = Get16(a.header + 6);
        char upd[16];
        std::snprintf(upd, sizeof upd, "%02d/%02d/%02d", a.header[3] % 100, a.header[4] % 100,
                      a.header[5] % 100);
        a.lastUpdate = upd;
        bool terminated = false;
        for (int i = 0; i < 32; ++i) {
            const uint8_t* d = block + i * kDb2DescriptorSize;
            if (d[0] == kTerminator) {
                terminated = true;
                break;
            }
            FieldEntry f;
            f.name = FieldName(d, 11);
            f.type = NormalType(d[11]);
            if (f.type == 0) {
                std::string t(1, char(d[11]));
                SetError(TzErr::InvalidFieldType, "Field: " + f.name + " [" + t + "] in " + file +
                                                      " is not a valid field type");
                return FailOpen(a, TzErr::InvalidFieldType,
                                "Error reading " + file + " [Use/OpenDbf]");
            }
            f.length = d[12];
            f.decimals = (f.type == 'N' || f.type == 'F') ? d[15] : 0;
            a.fields.push_back(f);
        }
        if (!terminated || a.fields.empty()) return FailOpen(a, TzErr::NotADbaseFile, outOfRange);
    } else {
        a.memo = (v & 0x80) != 0;
        if (v == 0x30) a.memo = (a.header[kHdrProdIndex] & 0x02) != 0;
        int descSize = v == 4 ? kV4DescriptorSize : kDescriptorSize;
        a.headerLength = Get16(a.header + kHdrLength);
        a.recordLength = Get16(a.header + kHdrRecLength);
        a.recCount = int32_t(Get32(a.header + kHdrCount) & 0x7FFFFFFF);
        int fieldCount = a.headerLength >= 32 ? (a.headerLength - 32) / descSize : 0;
        if (fieldCount <= 0 || fieldCount > 255)
            return FailOpen(a, TzErr::NotADbaseFile, outOfRange);
        if (a.recordLength == 0)
            return FailOpen(a, TzErr::NotADbaseFile,
                            file +
                                " is not a dBASE database. (Record length is 0) "
                                "[USE/OpenDBF]");
        char upd[16];
        std::snprintf(upd, sizeof upd, "%02d/%02d/%02d", a.header[2] % 100, a.header[3] % 100,
                      a.header[1] % 100);
        a.lastUpdate = upd;
        uint64_t blockStart = 32;
        if (v == 4) {
            uint8_t extra[kV4ExtraHeader];
            if (!ReadExact(a, 32, extra, sizeof extra, &code))
                return FailOpen(a, code ? code : TzErr::DiskReadError,
                                "Error reading " + file + " [Use/OpenDbf]");
            blockStart = 32 + kV4ExtraHeader;
        }
        if (uint64_t(a.headerLength) < blockStart + 1)
            return FailOpen(a, TzErr::NotADbaseFile, outOfRange);
        size_t blockLen = size_t(a.headerLength - blockStart);
        std::vector<uint8_t> block(blockLen);
        if (!ReadExact(a, blockStart, block.data(), blockLen, &code))
            return FailOpen(a, code ? code : TzErr::DiskReadError,
                            "Error reading " + file + " [Use/OpenDbf]");
        bool terminated = false;
        for (size_t off = 0; off < blockLen; off += descSize) {
            const uint8_t* d = block.data() + off;
            if (d[0] == kTerminator) {
                terminated = true;
                break;
            }
            if (off + descSize > blockLen) break;
            int typeAt = v == 4 ? 32 : kDescType;
            FieldEntry f;
            f.name = FieldName(d, v == 4 ? 32 : 11);
            f.type = NormalType(d[typeAt]);
            if (f.type == 0) {
                std::string t(1, char(d[typeAt]));
                SetError(TzErr::InvalidFieldType, "Field: " + f.name + " [" + t + "] in " + file +
                                                      " is not a valid field type");
                return FailOpen(a, TzErr::InvalidFieldType,
                                "Error reading " + file + " [Use/OpenDbf]");
            }
            f.length = v == 4 ? d[33] : d[kDescLength];
            uint8_t dec = v == 4 ? d[34] : d[kDescDecimals];
            f.decimals = (f.type == 'N' || f.type == 'F') ? dec : 0;
            a.fields.push_back(f);
        }
        if (a.fields.empty() && terminated)
            return FailOpen(a, TzErr::CorruptedIndex, "Error reading " + file + " [Use/OpenDbf]");
        if (!terminated)
            return FailOpen(a, TzErr::NotADbaseFile,
                            file +
                                " is not a dBASE database. (No field terminator) "
                                "[USE/OpenDBF]");
        if (a.fields.size() > 255) return FailOpen(a, TzErr::NotADbaseFile, outOfRange);
    }

    // Offsets; the fields must fit the record.
    uint32_t off = 1;
    for (FieldEntry& f : a.fields) {
        f.offset = uint16_t(off);
        off += f.length;
        if (f.length == 0 || off > 0xFFFF) break;
    }
    bool zeroLength = false;
    for (const FieldEntry& f : a.fields)
        if (f.length == 0) zeroLength = true;
    if (zeroLength || off > a.recordLength)
        return FailOpen(a, TzErr::NotADbaseFile,
                        file +
                            " is not a dBASE database. (Fields do not fit the record "
                            "length) [USE/OpenDBF]");
    a.fieldCount = uint8_t(a.fields.size());
    a.record.assign(a.recordLength, ' ');
    LayoutNative(a);
    a.state = Dbf4::kClean;
    return true;
}

void TranslateRecord(int direction, bool oem, Dbf4::TranslateProc proc, size_t bufLen,
                     size_t recLen, uint8_t* buf) {
    if (!oem || recLen < 2) return;
    for (size_t start = 0; start + recLen <= bufLen; start += recLen) {
        uint8_t* p = buf + start + 1;
        size_t n = recLen - 1;
        if (direction == 0) {
            if (proc) proc(p, n);
            tz::OemToAnsiBuf(p, n);
        } else {
            tz::AnsiToOemBuf(p, n);
            if (proc) proc(p, n);
        }
    }
}

void DropReadAhead(WorkArea& a) {
    a.aheadCount = 0;
    a.aheadFirst = 0;
}

bool GetDbfRecord(WorkArea& a, int32_t n) {
    if (n < 1 || n > a.recCount) {
        SetError(TzErr::RequestBeyondRange, "Invalid record number = " + std::to_string(n) + " (" +
                                                a.fileName + ")  [GetDbfRecord]");
        return false;
    }
    a.bof = a.eof = false;
    if (a.isVirtual) {
        if (Dbf4::virtualHooks.request) return Dbf4::virtualHooks.request(a, 1, n);
        return false;
    }
    size_t got = 0;
    uint16_t rc = a.file.ReadAt(RecordOffset(a, n), a.record.data(), a.recordLength, &got);
    if (rc == 0 && got < a.recordLength) rc = TzErr::UnexpectedEndOfFile;
    if (rc != 0) {
        SetError(rc, "File:  " + a.fileName + "  [GetDbfRecord]");
        return false;
    }
    a.recNo = n;
    a.pending = false;
    TranslateRecord(0, a.oem, a.oemToAnsi, a.recordLength, a.recordLength, a.record.data());
    return true;
}

namespace {

// The private read-ahead block may serve records only while no other station can change
// them: under this area's file lock, or with the table exclusive.
bool PrivateReadAhead(const WorkArea& a) {
    return a.lockState == Dbf4::kLockFile || !Dbf4::internal::Shared(a);
}

// The table's shared mapping reaching at least `end` bytes that the file holds, or null
// when those bytes must be read with ReadAt (not yet in the file, or no mapping possible).
const uint8_t* MappedTable(WorkArea& a, uint64_t end) {
    if (a.mapRefused) return nullptr;
    const bool remap = end > a.file.MapLength();
    if (end > a.mapKnown || remap) {
        // A new mapping looks at the length again: this area's own truncation dropped the
        // old one, so a length seen before it is not to be trusted.
        uint64_t size = 0;
        if (a.file.Size(&size) != 0) return nullptr;
        a.mapKnown = size;
        if (end > size) return nullptr;
    }
    if (remap) {
        constexpr uint64_t kRound = 1ull << 20;
        uint64_t length = std::max(2 * a.mapKnown, kMapReserve);
        length = (length + kRound - 1) / kRound * kRound;
        const uint8_t* view = nullptr;
        if (a.file.Map(length, &view) != 0) {
            a.mapRefused = true;
            return nullptr;
        }
    }
    return a.file.MapView();
}

// Record n through the table's mapping, as the file holds it now, left untranslated (see
// pending); false when the mapping cannot serve it.
bool GetMappedRecord(WorkArea& a, int32_t n) {
    const uint64_t off = RecordOffset(a, n);
    const uint8_t* view = MappedTable(a, off + a.recordLength);
    if (!view) return false;
    a.bof = a.eof = false;
    std::memcpy(a.record.data(), view + off, a.recordLength);
    a.recNo = n;
    a.pending = true;
    MarkNativeStale(a);
    return true;
}

// Record n read alone, its native form completed lazily like the others.
bool GetPlainRecord(WorkArea& a, int32_t n) {
    if (!GetDbfRecord(a, n)) return false;
    MarkNativeStale(a);
    return true;
}

}  // namespace

bool GetDbfRecordAhead(WorkArea& a, int32_t n) {
    if (a.isVirtual || n < 1 || n > a.recCount) return GetDbfRecord(a, n);
    // The mapping shows the file as it is (local file systems); without one, records are
    // read ahead only where no other station can change them.
    if (GetMappedRecord(a, n)) return true;
    if (!PrivateReadAhead(a)) return GetPlainRecord(a, n);
    if (n < a.aheadFirst || n >= a.aheadFirst + a.aheadCount || a.aheadCount == 0) {
        size_t per = std::max<size_t>(1, kReadAheadBytes / a.recordLength);
        int32_t want = int32_t(std::min<int64_t>(per, int64_t(a.recCount) - n + 1));
        a.ahead.resize(size_t(want) * a.recordLength);
        size_t got = 0;
        uint16_t rc = a.file.ReadAt(RecordOffset(a, n), a.ahead.data(), a.ahead.size(), &got);
        if (rc != 0 || got < a.recordLength) {
            DropReadAhead(a);
            return GetPlainRecord(a, n);
        }
        a.aheadFirst = n;
        a.aheadCount = int32_t(got / a.recordLength);
    }
    a.bof = a.eof = false;
    std::memcpy(a.record.data(), a.ahead.data() + size_t(n - a.aheadFirst) * a.recordLength,
                a.recordLength);
    a.recNo = n;
    a.pending = true;  // translated and scattered when someone looks at the fields
    MarkNativeStale(a);
    return true;
}

bool PutDbfRecord(WorkArea& a, int32_t n) {
    DropReadAhead(a);
    const int32_t oldCount = a.recCount, oldNo = a.recNo;
    const uint8_t oldState = a.state;
    bool append = n > a.recCount;
    if (append && a.recCount >= kMaxRecords) {
        SetError(kTableFull, "File:  " + a.fileName + " [Replace/Append/PutDbfRecord]");
        return false;
    }
    if (append) {
        n = a.recCount + 1;
        a.recCount = n;
        a.recNo = n;
    }
    uint16_t rc = 0;
    if (a.isVirtual) {
        if (!Dbf4::virtualHooks.request || !Dbf4::virtualHooks.request(a, append ? 3 : 2, n))
            rc = TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::VirtualMemoryError;
    } else {
        TranslateRecord(1, a.oem, a.ansiToOem, a.recordLength, a.recordLength, a.record.data());
        rc = a.file.WriteAt(RecordOffset(a, n), a.record.data(), a.recordLength);
        TranslateRecord(0, a.oem, a.oemToAnsi, a.recordLength, a.recordLength, a.record.data());
    }
    if (rc != 0) {
        // Nothing of a failed write may stay counted.
        a.recCount = oldCount;
        a.recNo = oldNo;
        a.state = oldState;
        SetError(rc, "File:  " + a.fileName + " [Replace/Append/PutDbfRecord]");
        return false;
    }
    if (append) {
        a.state = Dbf4::kAppended;
        if (settings().flushAfterWrite) return CommitDbf(a);
    } else {
        if (a.state != Dbf4::kAppended) a.state = Dbf4::kModified;
        if (settings().flushAfterWrite) return FlushFile(a.file);
    }
    return true;
}

bool AppendDbfRecord(WorkArea& a) { return PutDbfRecord(a, a.recCount + 1); }

bool WriteDeleteFlag(WorkArea& a, int32_t n) {
    DropReadAhead(a);
    uint16_t rc = a.file.WriteAt(RecordOffset(a, n), a.record.data(), 1);
    if (rc != 0) {
        SetError(rc, "File:  " + a.fileName + " [DeleteRec/RecallRec]");
        return false;
    }
    if (a.state != Dbf4::kAppended) a.state = Dbf4::kModified;
    if (settings().flushAfterWrite) return FlushFile(a.file);
    return true;
}

bool WriteDbfHeader(WorkArea& a) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    size_t len = 32;
    if (a.version == 2) {
        Put16(a.header + 1, uint16_t(std::min<int32_t>(a.recCount, 0xFFFF)));
        a.header[3] = uint8_t(tm.tm_mon + 1);
        a.header[4] = uint8_t(tm.tm_mday);
        a.header[5] = uint8_t(tm.tm_year);
        len = 8;
    } else {
        a.header[kHdrYear] = uint8_t(tm.tm_year);
        a.header[kHdrMonth] = uint8_t(tm.tm_mon + 1);
        a.header[kHdrDay] = uint8_t(tm.tm_mday);
        Put32(a.header + kHdrCount, uint32_t(a.recCount));
    }
    uint16_t rc = a.file.WriteAt(0, a.header, len);
    if (rc != 0) {
        SetError(rc, "");
        return false;
    }
    return true;
}

bool WriteEofMark(WorkArea& a) {
    uint8_t mark = kEofMark;
    uint64_t at = uint64_t(uint32_t(a.headerLength)) + uint64_t(a.recCount) * a.recordLength;
    uint16_t rc = a.file.WriteAt(at, &mark, 1);
    if (rc != 0) {
        SetError(rc, "File:  " + a.fileName + " [CloseDbf(" + a.fileName + ")]");
        return false;
    }
    return true;
}

bool WriteHeaderAndMark(WorkArea& a) {
    if (a.state != Dbf4::kModified && a.state != Dbf4::kAppended) return true;
    if (!WriteDbfHeader(a)) return false;
    if (a.state == Dbf4::kAppended && !a.noEofMark && !WriteEofMark(a)) return false;
    a.state = Dbf4::kClean;
    return true;
}

bool CommitDbf(WorkArea& a) {
    if (a.isVirtual) return true;
    if (a.state != Dbf4::kModified && a.state != Dbf4::kAppended) return true;
    if (!WriteDbfHeader(a)) return false;
    if (a.state == Dbf4::kAppended && !a.noEofMark && !WriteEofMark(a)) return false;
    a.state = Dbf4::kClean;
    return FlushFile(a.file);
}

bool CloseDbf(WorkArea& a) {
    if (a.isVirtual) {
        if (Dbf4::virtualHooks.request) Dbf4::virtualHooks.request(a, 9, 0);
        a.state = Dbf4::kClosed;
        return true;
    }
    bool ok = true;
    if (a.file.IsOpen() && !a.readOnly) {
        // The count written is never below what the file holds.
        uint64_t size = 0;
        if (a.file.Size(&size) == 0) a.recCount = std::max(a.recCount, CountFromSize(a, size));
        ok = WriteHeaderAndMark(a);
    }
    uint16_t rc = a.file.Close();
    a.state = Dbf4::kClosed;
    a.record.clear();
    a.fields.clear();
    DropReadAhead(a);
    a.ahead.clear();
    if (ok && rc != 0) {
        SetError(rc, "File:  " + a.fileName + " [CloseDbf(" + a.fileName + ")]");
        ok = false;
    }
    return ok;
}

bool FlushFile(tz::File& f) {
    uint16_t rc = f.Sync();
    if (rc != 0) {
        SetError(rc, "Unable to flush file [FlushFile]");
        return false;
    }
    return true;
}

std::string MemoExtension(uint8_t version) {
    return (version == 0xF5 || version == 0x30) ? "FPT" : "DBT";
}

bool CreateDbf(WorkArea& scratch, const std::string& fileName,
               const std::vector<FieldDef>& defs) {
    TzCommon::ClearErrorWord();
    scratch.file.Close();
    scratch.fields.clear();
    scratch.record.clear();
    scratch.isVirtual = false;
    scratch.readOnly = false;
    scratch.noEofMark = false;
    std::string name = TzCommon::AllTrim(TzCommon::DefaultExtension(fileName, "DBF"));
    if (defs.empty() || defs.size() > 255) {
        SetError(TzErr::InvalidFieldType, "Invalid dBASE field definition [CreateDBF]");
        return false;
    }
    const int count = int(defs.size());
    const int headerLength = 32 * count + 33;
    std::vector<uint8_t> header(size_t(headerLength), 0);
    uint32_t recLen = 1;
    bool memo = false;
    for (int i = 0; i < count; ++i) {
        const FieldDef& def = defs[size_t(i)];
        std::string fname = TzCommon::TrimLeft(def.name);
        if (TzCommon::TrimRight(fname).empty()) {
            SetError(TzErr::InvalidParameter, "Empty field name [CreateDbf(" + name + ")]");
            return false;
        }
        fname = tz::AnsiUpperStr(TzCommon::TrimRight(fname));
        if (fname.size() > 10) fname.resize(10);
        char type = char(tz::AnsiUpperChar(uint8_t(def.type)));
        int len = def.length, dec = def.decimals;
        bool valid = true;
        switch (type) {
            case 'D': len = 8; break;
            case 'L': len = 1; break;
            case 'M': len = 10; memo = true; break;
            case 'C': case 'F': case 'N':
                if (len <= 0 || len > 255) valid = false;
                break;
            default: valid = false;
        }
        if (type != 'N' && type != 'F') dec = 0;
        if (dec < 0 || dec > 255) valid = false;
        if (!valid) {
            SetError(TzErr::InvalidFieldType, "Invalid dBASE field definition [CreateDBF]");
            return false;
        }
        uint8_t* d = header.data() + 32 + 32 * i;
        std::memcpy(d + kDescName, fname.data(), fname.size());
        d[kDescType] = uint8_t(type);
        d[kDescLength] = uint8_t(len);
        d[kDescDecimals] = uint8_t(dec);
        recLen += uint32_t(len);
    }
    if (recLen > 0xFFFF) {
        SetError(TzErr::InvalidFieldType, "Invalid dBASE field definition [CreateDBF]");
        return false;
    }
    header[size_t(headerLength - 1)] = kTerminator;
    const Settings& s = settings();
    uint8_t version = memo ? s.memoVersion : 3;
    if (memo && s.extraVersion2) version = s.extraVersion2;
    if (!memo && s.extraVersion1) version = s.extraVersion1;
    header[kHdrVersion] = version;
    Put16(header.data() + kHdrLength, uint16_t(headerLength));
    Put16(header.data() + kHdrRecLength, uint16_t(recLen));

    uint16_t rc = scratch.file.Create(name, tz::ShareMode::Exclusive);
    if (rc == 0) rc = scratch.file.WriteAt(0, header.data(), header.size());
    if (rc != 0) {
        scratch.file.Close();
        SetError(rc, "Error writing " + name + ". [CreateDbf]");
        return false;
    }
    scratch.fileName = name;
    std::memcpy(scratch.header, header.data(), 32);
    scratch.version = version;
    scratch.headerLength = headerLength;
    scratch.recordLength = uint16_t(recLen);
    scratch.recCount = 0;
    scratch.state = Dbf4::kAppended;
    if (!CloseDbf(scratch)) return false;
    if (memo) {
        std::string memoName = TzCommon::ForceExtension(name, MemoExtension(version));
        return CreateMemoFile(memoName, version, s.memoBlockSize, "CreateDbf()");
    }
    return true;
}

void CompleteRecord(WorkArea& a) {
    if (!a.pending) return;
    TranslateRecord(0, a.oem, a.oemToAnsi, a.recordLength, a.recordLength, a.record.data());
    a.pending = false;
}

// A virtual area opened on the caller's buffer has no record buffer of its own: that buffer
// holds the record as the virtual-file unit keeps it, so there is nothing to convert.
bool NoRecordBuffer(const WorkArea& a) { return a.isVirtual && a.record.empty(); }

void MarkNativeStale(WorkArea& a) {
    a.nativeStale = true;
    ++a.staleMark;
}

void CompleteNativeField(WorkArea& a, size_t i) {
    if (!a.nativeStale || i >= a.fields.size()) return;
    if (a.oemToAnsi || a.native != a.ownNative.data()) return CompleteNative(a);
    a.fieldMark.resize(a.fields.size(), 0);
    if (a.fieldMark[i] == a.staleMark) return;
    const FieldEntry& f = a.fields[i];
    const uint8_t* raw = a.record.data() + f.offset;
    uint8_t text[256];
    if (a.pending && a.oem) {
        std::memcpy(text, raw, f.length);
        tz::OemToAnsiBuf(text, f.length);
        raw = text;
    }
    UnpackField(f, raw, a.native + f.nativeOffset);
    a.fieldMark[i] = a.staleMark;
}

void CompleteNative(WorkArea& a) {
    if (!a.nativeStale) {
        if (a.pending) UnpackRecord(a, a.native);
        return;
    }
    CompleteRecord(a);
    a.fieldMark.resize(a.fields.size(), 0);
    a.native[0] = a.record[0] == '*' ? 1 : 0;
    for (size_t i = 0; i < a.fields.size(); ++i) {
        const FieldEntry& f = a.fields[i];
        if (a.fieldMark[i] != a.staleMark)
            UnpackField(f, a.record.data() + f.offset, a.native + f.nativeOffset);
    }
    a.nativeStale = false;
}

void UnpackRecord(WorkArea& a, uint8_t* native) {
    CompleteRecord(a);
    if (native == a.native) {
        a.nativeStale = false;
        std::fill(a.assigned.begin(), a.assigned.end(), uint8_t(0));
    }
    if (NoRecordBuffer(a)) return;
    native[0] = a.record[0] == '*' ? 1 : 0;
    for (const FieldEntry& f : a.fields)
        UnpackField(f, a.record.data() + f.offset, native + f.nativeOffset);
}

void PackRecord(WorkArea& a, const uint8_t* native) {
    if (NoRecordBuffer(a)) return;
    a.record[0] = native[0] ? '*' : ' ';
    uint8_t cur[256];
    for (size_t i = 0; i < a.fields.size(); ++i) {
        const FieldEntry& f = a.fields[i];
        uint8_t* raw = a.record.data() + f.offset;
        const uint8_t* in = native + f.nativeOffset;
        // A field whose value still equals what its stored bytes decode to keeps those
        // bytes, unless the caller assigned it: editing one field never re-encodes another,
        // and a 0 assigned over blanks is written as 0.
        if (i < a.assigned.size() && a.assigned[i]) {
            PackField(f, in, raw);
            continue;
        }
        if (f.type == 'C') {  // the common case, compared in place
            if (in[0] == f.length && std::memcmp(in + 1, raw, f.length) == 0) continue;
        } else {
            UnpackField(f, raw, cur);
            if (SameNative(f, cur, in)) continue;
        }
        PackField(f, in, raw);
    }
}

bool CreateMemoFile(const std::string& fileName, uint8_t version, uint16_t blockSize,
                    const std::string& routine) {
    return Memo::CreateMemoFile(fileName, version, blockSize, routine);
}

uint32_t SwapLong(uint32_t v) { return __builtin_bswap32(v); }
uint16_t SwapWord(uint16_t v) { return uint16_t((v << 8) | (v >> 8)); }

}  // namespace TzDbfLow
