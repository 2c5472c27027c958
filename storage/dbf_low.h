// Table files: reading and checking the header and field descriptors into a work area,
// reading and writing records and delete flags, header date and count, the end-of-file
// mark, commit, close, and creating tables and their memo files.
// Called only by the work-area commands, which pass the work area. Not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/work_area.h"

namespace TzDbfLow {

// File layout of a table (little-endian).
inline constexpr int kHdrVersion = 0;
inline constexpr int kHdrYear = 1;  // year - 1900
inline constexpr int kHdrMonth = 2;
inline constexpr int kHdrDay = 3;
inline constexpr int kHdrCount = 4;       // 32-bit record count
inline constexpr int kHdrLength = 8;      // 16-bit header length
inline constexpr int kHdrRecLength = 10;  // 16-bit record length
inline constexpr int kHdrProdIndex = 28;  // production-index flag
inline constexpr int kDescriptorSize = 32;
inline constexpr int kDescName = 0;  // 11 bytes, 0-padded
inline constexpr int kDescType = 11;
inline constexpr int kDescLength = 16;
inline constexpr int kDescDecimals = 17;
inline constexpr uint8_t kTerminator = 0x0D;
inline constexpr uint8_t kEofMark = 0x1A;
// Most records a table may hold: record numbers up to count + 1 stay within 32 bits.
inline constexpr int32_t kMaxRecords = 0x7FFFFFFE;

// dBASE II layout.
inline constexpr int kDb2HeaderLength = 521;
inline constexpr int kDb2DescriptorSize = 16;
// dBASE IV (version 4) layout.
inline constexpr int kV4ExtraHeader = 36;
inline constexpr int kV4DescriptorSize = 48;

struct Settings {
    uint8_t memoVersion = 0x8B;
    uint16_t memoBlockSize = 512;
    bool flushAfterWrite = false;
    bool fixCountOnOpen = false;
    uint8_t extraVersion1 = 0;  // 0 = none
    uint8_t extraVersion2 = 0;
};
Settings& settings();

// How a table file is opened.
struct OpenMode {
    tz::Access access = tz::Access::ReadWrite;
    tz::ShareMode share = tz::ShareMode::DenyNone;
};

// One field of a table to be created.
struct FieldDef {
    std::string name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

bool UseDbf(Dbf4::WorkArea& a, const OpenMode& mode);
bool OpenDbf(Dbf4::WorkArea& a, uint64_t fileSize);
bool GetDbfRecord(Dbf4::WorkArea& a, int32_t n);
// As GetDbfRecord, but served from a block read ahead of the record when it can be; used by
// forward moves in natural order. The block is dropped by DropReadAhead.
bool GetDbfRecordAhead(Dbf4::WorkArea& a, int32_t n);
void DropReadAhead(Dbf4::WorkArea& a);
// As GetDbfRecord, but through the table's shared mapping when that serves the record (it
// shows the file as it is now), left for lazy completion like a record read ahead; used by
// moves in an index order and backward moves.
bool GetDbfRecordMapped(Dbf4::WorkArea& a, int32_t n);
bool PutDbfRecord(Dbf4::WorkArea& a, int32_t n);
bool AppendDbfRecord(Dbf4::WorkArea& a);
bool WriteDeleteFlag(Dbf4::WorkArea& a, int32_t n);
bool WriteDbfHeader(Dbf4::WorkArea& a);
bool WriteEofMark(Dbf4::WorkArea& a);
// Header, and after appends the end-of-file mark, of a changed area; the state becomes
// clean. No flush.
bool WriteHeaderAndMark(Dbf4::WorkArea& a);
bool CommitDbf(Dbf4::WorkArea& a);
bool CloseDbf(Dbf4::WorkArea& a);
bool CreateDbf(Dbf4::WorkArea& scratch, const std::string& fileName,
               const std::vector<FieldDef>& fields);
std::string MemoExtension(uint8_t version);
bool CreateMemoFile(const std::string& fileName, uint8_t version, uint16_t blockSize,
                    const std::string& routine);
void TranslateRecord(int direction, bool oem, Dbf4::TranslateProc proc, size_t bufLen,
                     size_t recLen, uint8_t* buf);
void UnpackRecord(Dbf4::WorkArea& a, uint8_t* native);
// Translates a record read ahead (see WorkArea::pending).
void CompleteRecord(Dbf4::WorkArea& a);
// The area's native buffer no longer holds its record (completed lazily, see
// WorkArea::nativeStale and fieldMark).
void MarkNativeStale(Dbf4::WorkArea& a);
// Completes field i (0-based) of the area's own native buffer alone, or the whole buffer
// (keeping fields completed one by one, which the caller may have changed since).
void CompleteNativeField(Dbf4::WorkArea& a, size_t i);
void CompleteNative(Dbf4::WorkArea& a);
void PackRecord(Dbf4::WorkArea& a, const uint8_t* native);
// Date field i (0-based, stored length 8 or more) of a completed record takes the stored
// form YYYYMMDD (or 8 blanks), and the native buffer what those bytes read as.
void StoreDate(Dbf4::WorkArea& a, size_t i, const uint8_t stored[8]);
bool FlushFile(tz::File& f);
uint32_t SwapLong(uint32_t v);
uint16_t SwapWord(uint16_t v);

// Native record helpers.
uint16_t NativeWidth(const Dbf4::FieldEntry& f);
void LayoutNative(Dbf4::WorkArea& a);  // sets nativeOffset of each field and nativeSize
// Offset in the file of record n (64-bit).
inline uint64_t RecordOffset(const Dbf4::WorkArea& a, int32_t n) {
    return uint64_t(uint32_t(a.headerLength)) + uint64_t(n - 1) * a.recordLength;
}
// Record count derived from a file size.
int32_t CountFromSize(const Dbf4::WorkArea& a, uint64_t size);
// The records a file of `size` bytes holds: its whole rows, less the padding some writers
// leave after their end mark (rows that begin with the mark or a zero byte, which no record
// does) past the `known` records it is known to hold.
int32_t RecordsHeld(Dbf4::WorkArea& a, uint64_t size, int32_t known);
// Under this area's append or file lock, its count just read from the file: when the file
// holds fewer records than this area saw in it or its header on disk claims (cut short by
// another program while stations had it open), the index is marked for rebuilding, the
// count and the end mark are put right, and the loss is reported as an open reports a
// table found short; the next append then takes no lost record's number under its keys.
void RepairIfCut(Dbf4::WorkArea& a);
// A read found the file ending before a record the area counted. Under the append byte
// (this area's file or append lock, or one try of the byte) the area's count follows the
// file; when the header on disk claims more than the file holds (another program cut the
// table) the cut is repaired and reported as RepairIfCut does. A file shrunk with its
// header (a pack or zap elsewhere) is no cut. Without the byte the next append repairs it.
void RepairCutFoundByRead(Dbf4::WorkArea& a);

// A table whose header claimed more records than the file holds whole (a cut or damaged
// copy; an append writes its record before the count, so no append leaves this), as the
// open that repaired its header found it: `held` records kept of `claimed`.
struct ShortTable {
    std::string file;
    int32_t held = 0, claimed = 0;
};
// The tables found short since the last call, each once (the open that repairs a header
// reports it; later opens find it whole).
std::vector<ShortTable> TakeShortTables();

}  // namespace TzDbfLow
