// Memo files beside a table: dBASE III and dBASE IV ("DBT") and FoxPro ("FPT") flavours.
// Creating, opening and closing the memo file of a work area, reading a memo into the edit
// buffer, appending and rewriting memos, copying between flavours, packing, a text-file
// view over the edit buffer and a byte-stream (BLOB) view of one memo.
// One process-wide engine state, not thread-safe. Every routine takes the work area it acts
// on; failures go through TzCommon::SetError. Appends hold the memo-file lock (below).
//
// Invariants of a MemoDescriptor:
//  1. file is open while the descriptor hangs on WorkArea::memoExt.
//  2. blockSize >= 1; type is kDbase3, kDbase4 or kFoxPro.
//  3. locked is true exactly while this area holds the memo lock range on file.
//  4. blob.open implies blob.mode is kBlobRead or kBlobWrite; in write mode locked is true.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "storage/file_layer.h"
#include "storage/work_area.h"

namespace Memo {

using Dbf4::WorkArea;

// Memo type bytes (the table version byte that selects the flavour).
inline constexpr uint8_t kDbase3 = 0x83;
inline constexpr uint8_t kDbase4 = 0x8B;
inline constexpr uint8_t kFoxPro = 0xF5;

// ---- File format ----
// dBASE III header: 513 bytes; bytes 0-3 next free block (LE), byte 512 = 0x1A.
inline constexpr size_t kDb3HeaderSize = 513;
// dBASE IV header: 24 bytes; 0-3 next free block / free-chain head (LE), 8-15 base name,
// 18 = 2, 19 = 1, 20-21 block size (LE). The use counter (LE 32-bit) lies at 32.
inline constexpr size_t kDb4HeaderSize = 24;
inline constexpr size_t kDb4NameOffset = 8;
inline constexpr size_t kDb4NameLength = 8;
inline constexpr size_t kDb4MarkOffset = 18;  // bytes 2, 1
inline constexpr size_t kDb4BlockSizeOffset = 20;
inline constexpr size_t kDb4UseCounterOffset = 32;
// FoxPro header: 512 bytes; 0-3 next free block (BE), 6-7 block size (BE).
inline constexpr size_t kFoxHeaderSize = 512;
inline constexpr size_t kFoxBlockSizeOffset = 6;
// Block header of a dBASE IV memo: FF FF 08 00, total length (text + 8, LE).
// Block header of a FoxPro memo: type (BE, 1 = text), text length (BE).
inline constexpr size_t kGroupHeaderSize = 8;
inline constexpr uint8_t kEndOfMemo = 0x1A;
inline constexpr uint8_t kSoftReturn = 0x8D;
inline constexpr size_t kChunk = 512;  // the shared chunk buffer and the BLOB cache

// The memo lock: the configured range of a table's file lock (from lock base + 1), taken on
// the memo file.
uint64_t MemoLockOffset();
uint64_t MemoLockLength();

struct MemoSettings {
    uint8_t defaultType = kDbase4;  // memo type for tables of another version byte
    uint16_t blockSize = 512;       // block size of new memo files
    uint16_t maxLines = 1024;       // edit buffer size in lines
    uint16_t memoWidth = 0;         // 0: lines of 254 characters, else width + 1
    int lockAttempts = 11;
    int lockWaitMs = 20;  // pause between two lock attempts
};
MemoSettings& settings();
// The memo unit's settings back at their defaults (part of TzStorage::Reset).
void ResetState();

// ---- BLOB state (one open BLOB per area) ----
inline constexpr uint8_t kBlobRead = 1;
inline constexpr uint8_t kBlobWrite = 2;

struct BlobState {
    bool open = false;
    uint8_t mode = 0;
    int64_t length = -1;      // -1: unknown (read up to 0x1A); in write mode, a size limit
    uint64_t dataStart = 0;   // file offset of the first data byte
    uint32_t headerSize = 0;  // 8 when the memo has a block header, else 0
    int64_t position = 0;     // relative to dataStart
    int32_t block = 0;
    int translate = 0;      // 0 off, 1 on, 2 undecided (decided by the first piece)
    bool useCache = false;  // the area has a translation procedure
    std::vector<uint8_t> cache;
    int64_t written = 0;  // bytes written in write mode
};

struct MemoDescriptor {
    tz::File file;
    uint8_t type = kDbase4;
    uint16_t blockSize = 512;
    std::string fileName;
    bool locked = false;
    BlobState blob;
};

// The descriptor of an area (null when it has no memo file open).
MemoDescriptor* DescriptorOf(const WorkArea& area);
// Memo flavour for a table version byte, and the memo file name ("FPT" or "DBT").
uint8_t FlavourOf(uint8_t version);
std::string MemoExtension(uint8_t version);
std::string MemoFileName(const std::string& tableName, uint8_t version);

// Creates an empty memo file (layouts above). True on success; a failure is reported with
// "Cannot create memo file <name> [<routine>]".
bool CreateMemoFile(const std::string& name, uint8_t version, uint16_t blockSize,
                    const std::string& routine);
// Default flavour and block size.
bool CreateMemofile(const std::string& name);

// Opens the memo file of an area whose table file is open (the hook behind USE).
bool Use(WorkArea& area);
void CloseMemofile(WorkArea& area);
// Closes, recreates empty (same flavour and block size) and reopens.
bool ZapMemofile(WorkArea& area);
uint8_t GetMemoType(const WorkArea& area);

// ---- Edit buffer ----
struct EditLine {
    std::string text;
    uint8_t lineEnd = 13;  // 13 hard, kSoftReturn soft
};
struct EditBuffer {
    std::vector<EditLine> lines;
    std::string pending;  // text written after the last line end
    bool hasPending = false;
    uint8_t pendingEnd = 0;  // line end recorded for the pending text (0: none)
    bool exists = false;
};
EditBuffer& Editor();
void ClearEditor();
// The lines of the edit buffer joined with CR LF (tests and callers that want the text).
std::string EditorText();

// Reads the raw bytes of the memo at a block (dBASE III up to 0x1A, else the stored
// length). False on a reported error. A negative block is a dBASE III memo with a header.
bool ReadMemoBytes(WorkArea& area, int32_t block, std::string* out, const char* routine);
// Reads the memo at a block into the edit buffer; lineLimit 0 = the buffer's maximum.
bool GetMemo(WorkArea& area, int32_t block, int lineLimit = 0);
// Appends a memo; its block number, 0 for an empty text or a failure.
int32_t AddMemo(WorkArea& area, const std::string& text);
// Stores the edit buffer as the memo of a field whose memo started at oldBlock.
int32_t EditMemo(WorkArea& area, int32_t oldBlock);
// Copies one memo of source's memo file into target's; the new block number (negative for
// a header memo in a dBASE III file), 0 when nothing was copied.
int32_t CopyMemo(WorkArea& target, WorkArea& source, int32_t block, bool keepNumber);
// Copies the memos of the current source record into the target's memo file and puts the
// new block numbers into the target's record buffer (M fields matched by name).
bool CopyRecordMemos(WorkArea& source, WorkArea& target);
// Rewrites the memo file with only the memos the records refer to, renumbering the fields.
// Table and memo file are rewritten beside themselves and put in place together (the
// table must not be open elsewhere).
bool PackMemofile(WorkArea& area);
// The steps of a pack of a table with its memo file (Dbf4's pack). BuildPackedMemo writes
// <memo>.pak with the memos the records of the area's table file refer to, writes their new
// numbers into that table file (during a pack, the packed copy not yet in place), syncs
// both and holds the old memo file alone. DiscardPackedMemo undoes it; InstallPackedMemo
// renames the packed file over the old one and goes on with it. False after a report.
bool PackedMemoName(const WorkArea& area, std::string* name, std::string* packed);
bool BuildPackedMemo(WorkArea& area);
void DiscardPackedMemo(WorkArea& area);
bool InstallPackedMemo(WorkArea& area);

// ---- Memo field text in a record buffer ----
int32_t BlockOfField(const WorkArea& area, int field);  // field 1-based; 0 when blank
void SetBlockOfField(WorkArea& area, int field, int32_t block);

// ---- BLOB access ----
// Opens the area's BLOB: mode kBlobRead from a block, or kBlobWrite (size -1 unknown).
bool OpenBlobStream(WorkArea& area, int32_t block, uint8_t mode, bool autoTranslate,
                    int64_t size = -1);
int64_t ReadBlobStream(WorkArea& area, void* buf, int64_t count);
int64_t WriteBlobStream(WorkArea& area, const void* buf, int64_t count);
int64_t SeekBlobStream(WorkArea& area, int64_t offset, int origin);
// Finishes the BLOB; for a written one its block number (0 when nothing was written).
int32_t CloseBlobStream(WorkArea& area);

// A small stream over one memo's bytes.
class BlobStream {
  public:
    BlobStream(WorkArea& area, int32_t block, uint8_t mode, bool autoTranslate = false,
               int64_t size = -1);
    ~BlobStream();
    BlobStream(const BlobStream&) = delete;
    BlobStream& operator=(const BlobStream&) = delete;
    bool ok() const { return ok_; }
    int64_t Read(void* buf, int64_t count) { return ReadBlobStream(*area_, buf, count); }
    int64_t Write(const void* buf, int64_t count) { return WriteBlobStream(*area_, buf, count); }
    int64_t Seek(int64_t offset, int origin) { return SeekBlobStream(*area_, offset, origin); }
    std::string ReadAll();
    int32_t Close();  // block number of a written memo

  private:
    WorkArea* area_;
    bool ok_ = false;
    bool closed_ = false;
};

// ---- Text-file view of the edit buffer (AssignMemo) ----
// Result codes: 0 done, 8 no memory, 100 read failed, 101 write failed / too many lines,
// 102 not open for that direction, 104 no edit buffer.
class MemoTextFile {
  public:
    void AssignMemo(WorkArea& area, int32_t* blockVar);
    int Reset();    // open for reading
    int Rewrite();  // open for writing (empty buffer, block variable 0)
    int Append();   // read the memo, then write after it
    // The next line (at most 253 characters) without its line end; lineEnd receives
    // 13 (hard) or kSoftReturn (soft).
    int ReadLn(std::string* line, uint8_t* lineEnd = nullptr);
    bool Eof() const;
    int Write(std::string_view text);
    int WriteLn(std::string_view text);
    int Flush();
    // Stores a written buffer through EditMemo into the block variable.
    int Close();

  private:
    void PutChar(uint8_t c);
    void CloseLine(uint8_t end);
    WorkArea* area_ = nullptr;
    int32_t* blockVar_ = nullptr;
    int32_t oldBlock_ = 0;
    int mode_ = 0;  // 0 closed, 1 reading, 2 writing
    size_t next_ = 0;
    bool written_ = false;
    bool overflow_ = false;
    bool closedByCr_ = false;
};

// Installs the memo hooks into the table engine.
void Install();

// ---- Shared by the memo sources ----
namespace detail {
uint32_t GetLE32(const uint8_t* p);
uint32_t GetBE32(const uint8_t* p);
uint16_t GetLE16(const uint8_t* p);
uint16_t GetBE16(const uint8_t* p);
void PutLE32(uint8_t* p, uint32_t v);
void PutBE32(uint8_t* p, uint32_t v);
void PutLE16(uint8_t* p, uint16_t v);
void PutBE16(uint8_t* p, uint16_t v);
uint64_t FileSize(MemoDescriptor& d);
bool Shared(const WorkArea& area);
bool LockMemo(WorkArea& area, MemoDescriptor& d, const std::string& routine);
void UnlockMemo(WorkArea& area, MemoDescriptor& d);
// Locks, pads to a block boundary and gives the offset of the new memo; -1 on failure.
int64_t LockMemoPadAndSeekEOF(WorkArea& area, MemoDescriptor& d, const std::string& routine);
// Next-free value, use counter, unlock.
bool UpdateMemoHeader(WorkArea& area, MemoDescriptor& d);
bool WriteGroupHeader(MemoDescriptor& d, uint8_t type, int64_t block, uint32_t length);
int32_t AllocateBlocks(WorkArea& area, MemoDescriptor& d, int32_t n, int32_t oldBlock,
                       const std::string& routine);
bool ReleaseBlocks(MemoDescriptor& d, int32_t block, uint32_t count, const std::string& routine);
void ReportNoMemo(const WorkArea* area, const std::string& routine);
// The pieces counter of the latest GetMemo (added to the use counter).
extern uint32_t piecesRead;
extern uint32_t releasedBlocks;
}  // namespace detail

}  // namespace Memo
