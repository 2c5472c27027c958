#include "storage/dbf_low.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "storage/code_page.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf4_internal.h"
#include "storage/hooks.h"
#include "storage/memo.h"
#include "storage/num_text.h"
#include "storage/pack_marker.h"
#include "storage/tz_common.h"
#include "storage/tz_output.h"
#include "storage/tz_utils.h"

namespace TzDbfLow {

using Dbf4::FieldEntry;
using Dbf4::WorkArea;
using TzCommon::SetError;

namespace {

uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
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
        case 'B':
        case 'G':
        case 'P':
        case 'b':
        case 'g':
        case 'p':
            return 'M';
        case 'C':
        case 'D':
        case 'F':
        case 'L':
        case 'M':
        case 'N':
            return char(t);
        default:
            return 0;
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

std::vector<ShortTable>& ShortTables() {
    static std::vector<ShortTable> found;
    return found;
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

// The header's count as the file holds it now (not the header copy of the open).
int32_t CountOnDisk(WorkArea& a) {
    uint8_t b[4] = {0, 0, 0, 0};
    size_t got = 0;
    const bool db2 = a.version == 2;
    if (a.file.ReadAt(db2 ? 1 : kHdrCount, b, db2 ? 2 : 4, &got) != 0 || got != (db2 ? 2u : 4u))
        return 0;
    return db2 ? int32_t(Get16(b)) : int32_t(Get32(b) & 0x7FFFFFFF);
}

// Puts the header's count right for a table holding `held` whole records where `claimed`
// were counted, under the append byte so that no station appends meanwhile, with the end
// mark right after the last record (over the part of a lost record a cut left). When
// records were lost the index is marked first, so that it is rebuilt whatever ends this
// process; the count waits for the next repair when the mark cannot be written. True when
// the count was written.
bool RepairCount(WorkArea& a, int32_t held, int32_t claimed) {
    a.recCount = held;
    a.countSeen = held;
    if (held < claimed) a.countCut = true;
    bool written = false;
    if (held >= claimed || !Dbf4::indexHooks.markCut || Dbf4::indexHooks.markCut(a))
        written = WriteCount(a);
    if (written) tz::StopPoint("open-count-repaired");  // kill tests: the index not open
    const uint8_t mark = kEofMark;
    if (written) a.file.WriteAt(RecordOffset(a, held + 1), &mark, 1);
    return written;
}

// A table found holding fewer records than were counted: told once, by the repair.
void ReportShort(WorkArea& a, int32_t held, int32_t claimed) {
    TzMsg::TTzMsg().ShowText(a.fileName + " holds " + std::to_string(held) +
                             " records; the header said " + std::to_string(claimed));
    ShortTables().push_back({a.fileName, held, claimed});
}

// The header's count is not to be trusted: a station killed after appending never wrote
// it, and a damaged header may claim records the file does not hold. Every open counts the
// whole records in the file and repairs the header when the two differ. A read-only open,
// or one that cannot have the append byte, only counts. A header that claimed records the
// file does not hold (a damaged or cut copy) is reported once, by the open that repairs
// it, so that the loss is noticed.
void ReconcileCount(WorkArea& a, uint64_t size) {
    const int32_t claimed = a.recCount;
    int32_t held = RecordsHeld(a, size, claimed);
    a.recCount = a.countSeen = held;
    if (held == claimed) return;
    const uint64_t appendByte = Dbf4::AppendByte();
    if (a.readOnly || a.file.Lock(appendByte, 1) != 0) return;
    bool written = false;
    if (a.file.Size(&size) == 0) {
        held = RecordsHeld(a, size, claimed);
        written = RepairCount(a, held, claimed);
    }
    a.file.Unlock(appendByte, 1);
    if (written && held < claimed) ReportShort(a, held, claimed);
}

// Whether a row beginning with `flag` is padding a writer left after its end mark.
bool PaddingRow(uint8_t flag) {
    return flag == kEofMark || flag == 0;
}

// The first byte of row n; 0x20 (a record's) when it cannot be read.
uint8_t RowFlag(WorkArea& a, int32_t n) {
    uint8_t flag = ' ';
    size_t got = 0;
    if (a.file.ReadAt(RecordOffset(a, n), &flag, 1, &got) != 0 || got != 1) return ' ';
    return flag;
}

}  // namespace

Settings& settings() {
    static Settings s;
    return s;
}

std::vector<ShortTable> TakeShortTables() {
    std::vector<ShortTable> found;
    found.swap(ShortTables());
    return found;
}

int32_t CountFromSize(const WorkArea& a, uint64_t size) {
    if (a.recordLength == 0 || size < uint64_t(uint32_t(a.headerLength))) return 0;
    uint64_t n = (size - uint32_t(a.headerLength)) / a.recordLength;
    return n > uint64_t(kMaxRecords) ? kMaxRecords : int32_t(n);
}

int32_t RecordsHeld(WorkArea& a, uint64_t size, int32_t known) {
    const int32_t n = CountFromSize(a, size);
    if (n <= known || !PaddingRow(RowFlag(a, n))) return n;
    // Records come first, rows that begin with the mark or a zero byte after them: the first
    // such row past the known count is found by halving. It is padding when it begins with
    // the mark; zero rows right after the records are records (a file extended by zeros).
    int32_t lo = std::max(known, 0), hi = n;  // rows up to lo are records, row hi not
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (PaddingRow(RowFlag(a, mid)))
            hi = mid;
        else
            lo = mid;
    }
    if (RowFlag(a, lo + 1) != kEofMark) return n;
    a.padded = true;
    return lo;
}

void RepairIfCut(WorkArea& a) {
    if (a.readOnly || a.isVirtual) return;
    const int32_t claimed = std::max(a.countSeen, CountOnDisk(a));
    const int32_t held = a.recCount;
    if (held >= claimed) {
        a.countSeen = held;
        return;
    }
    // The index open in this area learns of the cut through the mark on its file.
    const bool wasCut = a.countCut;
    if (RepairCount(a, held, claimed)) ReportShort(a, held, claimed);
    if (a.indexExt) a.countCut = wasCut;
}

void RepairCutFoundByRead(WorkArea& a) {
    if (a.readOnly || a.isVirtual) return;
    const bool locked = a.lockState == Dbf4::kLockFile || a.lockState == Dbf4::kLockAppend;
    const uint64_t appendByte = Dbf4::AppendByte();
    if (!locked && a.file.Lock(appendByte, 1) != 0) return;  // the next append repairs it
    uint64_t size = 0;
    if (a.file.Size(&size) == 0) {
        // Only a header that claims more than the file holds tells a cut: a pack or zap
        // of another area or station shrinks the file with its header's count.
        a.recCount = a.countSeen = RecordsHeld(a, size, a.recCount);
        if (CountOnDisk(a) > a.recCount) RepairIfCut(a);
    }
    if (!locked) a.file.Unlock(appendByte, 1);
}

bool UseDbf(WorkArea& a, const OpenMode& mode) {
    TzCommon::ClearErrorWord();
    a.fileName = TzCommon::DefaultExtension(a.fileName, "DBF");
    // A pack killed between its renames is finished (or undone) before anything is read.
    Dbf4::pair::FinishInterrupted(a.fileName);
    uint16_t rc = a.file.Open(a.fileName, mode.access, mode.share);
    if (rc != 0) {
        SetError(rc, "Failure to open " + a.fileName + " [USE/OpenDbf]");
        return false;
    }
    a.readOnly = mode.access == tz::Access::ReadOnly;
    a.countCut = a.padded = false;
    a.countSeen = 0;
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

namespace {

// dBASE II: the prolog's count and record length, 32 descriptors of 16 bytes after it.
bool ReadDb2Header(WorkArea& a, uint64_t fileSize, const std::string& outOfRange) {
    const std::string& file = a.fileName;
    uint16_t code = 0;
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
            SetError(TzErr::InvalidFieldType,
                     "Field: " + f.name + " [" + t + "] in " + file + " is not a valid field type");
            return FailOpen(a, TzErr::InvalidFieldType, "Error reading " + file + " [Use/OpenDbf]");
        }
        f.length = d[12];
        f.decimals = (f.type == 'N' || f.type == 'F') ? d[15] : 0;
        a.fields.push_back(f);
    }
    if (!terminated || a.fields.empty()) return FailOpen(a, TzErr::NotADbaseFile, outOfRange);
    return true;
}

// dBASE III and IV: header and record length in the prolog, descriptors of 32 bytes (48
// after 36 more header bytes in version 4) up to the terminator.
bool ReadDb3Header(WorkArea& a, const std::string& outOfRange, uint64_t* descriptorsEnd) {
    const std::string& file = a.fileName;
    uint16_t code = 0;
    const uint8_t v = a.version;
    a.memo = (v & 0x80) != 0;
    if (v == 0x30) a.memo = (a.header[kHdrProdIndex] & 0x02) != 0;
    int descSize = v == 4 ? kV4DescriptorSize : kDescriptorSize;
    a.headerLength = Get16(a.header + kHdrLength);
    a.recordLength = Get16(a.header + kHdrRecLength);
    a.recCount = int32_t(Get32(a.header + kHdrCount) & 0x7FFFFFFF);
    int fieldCount = a.headerLength >= 32 ? (a.headerLength - 32) / descSize : 0;
    if (fieldCount <= 0 || fieldCount > 255) return FailOpen(a, TzErr::NotADbaseFile, outOfRange);
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
            *descriptorsEnd = blockStart + off + 1;
            break;
        }
        if (off + descSize > blockLen) break;
        int typeAt = v == 4 ? 32 : kDescType;
        FieldEntry f;
        f.name = FieldName(d, v == 4 ? 32 : 11);
        f.type = NormalType(d[typeAt]);
        if (f.type == 0) {
            std::string t(1, char(d[typeAt]));
            SetError(TzErr::InvalidFieldType,
                     "Field: " + f.name + " [" + t + "] in " + file + " is not a valid field type");
            return FailOpen(a, TzErr::InvalidFieldType, "Error reading " + file + " [Use/OpenDbf]");
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
    return true;
}

// How well the file holds the header's count of records of `length` bytes from `start`:
// 2 for exactly that with the end mark right after them (whatever follows the mark), 1 for
// exactly that with the file ending there, else 0.
int CountFit(WorkArea& a, uint64_t fileSize, uint64_t start, uint32_t length) {
    if (a.recCount <= 0 || length == 0) return 0;
    const uint64_t end = start + uint64_t(uint32_t(a.recCount)) * length;
    if (end == fileSize) return 1;
    uint8_t mark = 0;
    size_t got = 0;
    const bool marked =
        end < fileSize && a.file.ReadAt(end, &mark, 1, &got) == 0 && got == 1 && mark == kEofMark;
    return marked ? 2 : 0;
}

// A header that lies about where or how long the records are: the file holds the header's
// count of records exactly as the descriptors describe them (records of the fields' length
// right after the terminator), and not as the header's lengths would place them. Every
// record would be read shifted, and a write would land across real records.
bool HeaderMisplacesRecords(WorkArea& a, uint64_t fileSize, uint64_t descriptorsEnd,
                            uint32_t fieldsLength) {
    const uint64_t start = uint32_t(a.headerLength);
    if ((descriptorsEnd >= start && fieldsLength == a.recordLength) || a.recCount <= 0 ||
        fileSize < descriptorsEnd || fileSize < start)
        return false;
    return CountFit(a, fileSize, descriptorsEnd, fieldsLength) >
           CountFit(a, fileSize, start, a.recordLength);
}

// What a field descriptor says that no field can be, empty when nothing: no length, more
// decimals than the field has places (no value could be written back but as asterisks), or
// no name (the field could not be found by name, and a copy by names would drop it).
std::string DescriptorLie(const FieldEntry& f, size_t number) {
    if (f.name.empty()) return "Field " + std::to_string(number) + " has no name";
    if (f.length == 0) return "Field " + f.name + " has length 0";
    if (f.decimals > f.length) return "Field " + f.name + " has more decimals than its length";
    return {};
}

// Offsets of the fields; the fields must fit the record. A record longer than its fields
// (spare bytes some writers keep in every record) is taken unless the file holds the
// header's count of records of the fields' length instead and not of the header's: then
// every record after the first would be read shifted, refused like a record too short for
// its fields.
bool PlaceFields(WorkArea& a, uint64_t fileSize, uint64_t descriptorsEnd) {
    const std::string& file = a.fileName;
    uint32_t off = 1;
    for (FieldEntry& f : a.fields) {
        f.offset = uint16_t(off);
        off += f.length;
        if (f.length == 0 || off > 0xFFFF) break;
    }
    for (size_t i = 0; i < a.fields.size(); ++i) {
        const std::string lie = DescriptorLie(a.fields[i], i + 1);
        if (!lie.empty())
            return FailOpen(a, TzErr::NotADbaseFile,
                            file + " is not a dBASE database. (" + lie + ") [USE/OpenDBF]");
    }
    if (off > a.recordLength || HeaderMisplacesRecords(a, fileSize, uint32_t(a.headerLength), off))
        return FailOpen(a, TzErr::NotADbaseFile,
                        file +
                            " is not a dBASE database. (Fields do not fit the record "
                            "length) [USE/OpenDBF]");
    if (HeaderMisplacesRecords(a, fileSize, descriptorsEnd, off))
        return FailOpen(a, TzErr::NotADbaseFile,
                        file +
                            " is not a dBASE database. (Header length does not fit the field "
                            "descriptors) [USE/OpenDBF]");
    return true;
}

}  // namespace

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
    const std::string outOfRange = BaseName(file) +
                                   " is not a dBASE database. (Number of fields is out of range) "
                                   "[Use/OpenDbf]";

    uint64_t descriptorsEnd = 0;
    if (v == 2) {
        if (!ReadDb2Header(a, fileSize, outOfRange)) return false;
        descriptorsEnd = kDb2HeaderLength;
    } else if (!ReadDb3Header(a, outOfRange, &descriptorsEnd)) {
        return false;
    }
    if (!PlaceFields(a, fileSize, descriptorsEnd)) return false;
    a.fieldCount = uint8_t(a.fields.size());
    a.record.assign(a.recordLength, ' ');
    LayoutNative(a);
    a.state = Dbf4::kClean;
    return true;
}

bool WriteDbfHeader(WorkArea& a) {
    int year = 0, month = 0, day = 0;
    TzCommon::StampDate(&year, &month, &day);
    size_t len = 32;
    if (a.version == 2) {
        Put16(a.header + 1, uint16_t(std::min<int32_t>(a.recCount, 0xFFFF)));
        a.header[3] = uint8_t(month);
        a.header[4] = uint8_t(day);
        a.header[5] = uint8_t(year - 1900);
        len = 8;
    } else {
        a.header[kHdrYear] = uint8_t(year - 1900);
        a.header[kHdrMonth] = uint8_t(month);
        a.header[kHdrDay] = uint8_t(day);
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
    uint64_t at = RecordOffset(a, a.recCount + 1);
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
    if (a.state != Dbf4::kModified && a.state != Dbf4::kAppended) return true;  // nothing to flush
    return WriteHeaderAndMark(a) && FlushFile(a.file);
}

bool CloseDbf(WorkArea& a) {
    if (a.isVirtual) {
        if (Dbf4::virtualHooks.request) Dbf4::virtualHooks.request(a, 9, 0);
        a.state = Dbf4::kClosed;
        return true;
    }
    bool ok = true;
    if (a.file.IsOpen() && !a.readOnly &&
        (a.state == Dbf4::kModified || a.state == Dbf4::kAppended)) {
        // The count written is never below what the file holds.
        uint64_t size = 0;
        if (a.file.Size(&size) == 0) a.recCount = RecordsHeld(a, size, a.recCount);
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

bool CreateDbf(WorkArea& scratch, const std::string& fileName, const std::vector<FieldDef>& defs) {
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
            case 'D':
                len = 8;
                break;
            case 'L':
                len = 1;
                break;
            case 'M':
                len = 10;
                memo = true;
                break;
            case 'C':
            case 'F':
            case 'N':
                if (len <= 0 || len > 255) valid = false;
                break;
            default:
                valid = false;
        }
        if (type != 'N' && type != 'F') dec = 0;
        if (dec < 0 || dec > len) valid = false;  // as an open refuses more decimals
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
    if (rc != 0) {
        SetError(rc, "Error writing " + name + ". [CreateDbf]");
        return false;
    }
    rc = scratch.file.WriteAt(0, header.data(), header.size());
    if (rc != 0) {
        scratch.file.Close();
        tz::EraseFile(name);  // a file without its whole header is no table
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
    // A table left half made (its header not closed, or its memo file missing) would be
    // refused as damaged by every later open: it is removed, and the failure stands.
    if (!CloseDbf(scratch)) {
        tz::EraseFile(name);
        return false;
    }
    if (memo) {
        std::string memoName = TzCommon::ForceExtension(name, MemoExtension(version));
        if (!CreateMemoFile(memoName, version, s.memoBlockSize, "CreateDbf()")) {
            tz::EraseFile(name);
            return false;
        }
    }
    return true;
}

bool CreateMemoFile(const std::string& fileName, uint8_t version, uint16_t blockSize,
                    const std::string& routine) {
    return Memo::CreateMemoFile(fileName, version, blockSize, routine);
}

uint32_t SwapLong(uint32_t v) {
    return __builtin_bswap32(v);
}
uint16_t SwapWord(uint16_t v) {
    return uint16_t((v << 8) | (v >> 8));
}

}  // namespace TzDbfLow
