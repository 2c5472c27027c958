// Table records: reading and writing records and delete flags, the read-ahead block of
// forward moves in natural order and the table's shared mapping, and the code-page
// translation of records.
#include <algorithm>
#include <cstring>

#include "storage/code_page.h"
#include "storage/dbf4.h"
#include "storage/dbf4_internal.h"
#include "storage/dbf_low.h"
#include "storage/hooks.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzDbfLow {

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

}  // namespace

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
    if (rc == 0 && got < a.recordLength) {
        rc = TzErr::UnexpectedEndOfFile;
        RepairCutFoundByRead(a);
    }
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
    if (!MappedTable(a, off + a.recordLength)) return false;
    // A file cut short by another program since its length was seen: plain reads report it.
    // A record that ends in a zero byte may be one the cut left inside a memory page (read
    // as zeros past the new end, with no fault): the file is asked whether it still holds
    // it (records end in text as a rule, so this is rare).
    if (a.file.ReadMappedInFile(off, a.record.data(), a.recordLength, a.mapKnown) != 0) {
        a.mapRefused = true;
        return false;
    }
    a.bof = a.eof = false;
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

// Some byte of buf is 0x80 or above: the only bytes the two code pages map differently.
bool HighBytes(const uint8_t* buf, size_t len) {
    size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        uint64_t word;
        std::memcpy(&word, buf + i, 8);
        if (word & 0x8080808080808080ull) return true;
    }
    for (; i < len; ++i)
        if (buf[i] & 0x80) return true;
    return false;
}

// Writes record n from the record buffer (ANSI) in the file's form (OEM). A record with no
// byte the code pages map differently is written as it is, any other translated once into
// the area's outgoing buffer; the record buffer is not touched. With translation procedures
// of the caller's the record is translated in place and back, as they may ask.
uint16_t WriteRecord(WorkArea& a, int32_t n) {
    uint8_t* rec = a.record.data();
    const size_t len = a.recordLength;
    const uint64_t at = RecordOffset(a, n);
    if (a.ansiToOem || a.oemToAnsi) {
        TranslateRecord(1, a.oem, a.ansiToOem, len, len, rec);
        const uint16_t rc = a.file.WriteAt(at, rec, len);
        TranslateRecord(0, a.oem, a.oemToAnsi, len, len, rec);
        return rc;
    }
    if (!a.oem || len < 2 || !HighBytes(rec + 1, len - 1)) return a.file.WriteAt(at, rec, len);
    a.outgoing.resize(len);
    uint8_t* out = a.outgoing.data();
    out[0] = rec[0];
    for (size_t i = 1; i < len; ++i) out[i] = tz::AnsiToOemChar(rec[i]);
    return a.file.WriteAt(at, out, len);
}

// A new record n whose write failed part-way: the bytes written of it go again (the end of
// the file then is where the record began), and the end-of-file mark goes back.
void CutPartialRecord(WorkArea& a, int32_t n) {
    const uint64_t at = RecordOffset(a, n);
    uint64_t size = 0;
    if (a.file.Size(&size) != 0 || size <= at) return;
    if (a.file.CutBack(at) != 0) return;
    if (!a.noEofMark) {
        const uint8_t mark = kEofMark;
        a.file.WriteAt(at, &mark, 1);
    }
}

// A record appended over a table's padding: the mark goes after it first, so that no
// station counts the padding's rows as records while the record is written.
uint16_t WriteMarkBeforeAppend(WorkArea& a, bool append, int32_t n) {
    if (!append || !a.padded || a.noEofMark) return 0;
    const uint8_t mark = kEofMark;
    return a.file.WriteAt(RecordOffset(a, n + 1), &mark, 1);
}

}  // namespace

bool GetDbfRecordMapped(WorkArea& a, int32_t n) {
    if (a.isVirtual || n < 1 || n > a.recCount) return GetDbfRecord(a, n);
    return GetMappedRecord(a, n) || GetPlainRecord(a, n);
}

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
        rc = WriteMarkBeforeAppend(a, append, n);
        if (rc == 0) rc = WriteRecord(a, n);
    }
    if (rc != 0) {
        // Nothing of a failed write may stay counted, nor (for a new record, on a full
        // disk) stay in the file: the part written is cut off again.
        if (append && !a.isVirtual) CutPartialRecord(a, n);
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

bool AppendDbfRecord(WorkArea& a) {
    return PutDbfRecord(a, a.recCount + 1);
}

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

}  // namespace TzDbfLow
