// Multiple-index (MDX) files: the file header, the tag table with its name tree, the tag
// headers, and page reads (through a mapping of the file) and writes. Used by the tag trees
// (mdx_tree.h), the bulk page writer (mdx_bulk.h) and the index engine above them.
// One thread. The caller holds the index semaphore around every call that touches the file
// (read side for reads, write side for changes) and calls InvalidateCache when the
// semaphore's change counter shows that another station has changed the file.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "storage/file_layer.h"

namespace Mdx {

// ---- File layout -------------------------------------------------------------------------
// The file is read and written in 512-byte blocks; a page is two blocks. All numbers are
// little-endian. Blocks 0-3 are the header area: the file header (block 0) and the tag
// table (48 entries of 32 bytes from offset 512). Pages and tag headers follow, each
// appended at the end of the file when it is made.
inline constexpr uint32_t BlockSize = 512;
inline constexpr uint32_t PageSize = 1024;
inline constexpr uint32_t HeaderAreaSize = 2048;
inline constexpr uint64_t MinFileSize = 3072;
inline constexpr uint32_t FirstPageBlock = HeaderAreaSize / BlockSize;  // 4
inline constexpr int MaxTags = 47;
inline constexpr int MaxKeyLength = 100;

// File header (block 0).
namespace Hdr {
inline constexpr size_t Version = 0;     // 2
inline constexpr size_t CreateYear = 1;  // year mod 100, month, day
inline constexpr size_t CreateMonth = 2;
inline constexpr size_t CreateDay = 3;
inline constexpr size_t TableName = 4;  // 16 bytes, zero-terminated
inline constexpr size_t TableNameSize = 16;
inline constexpr size_t BlocksPerPage = 20;   // 16-bit, 2
inline constexpr size_t PageLength = 22;      // 16-bit, 1024
inline constexpr size_t Production = 24;      // 1
inline constexpr size_t TagSlots = 25;        // 48
inline constexpr size_t TagEntryLength = 26;  // 32
inline constexpr size_t TagsInUse = 28;
inline constexpr size_t BlockMark = 32;  // 32-bit, written and never read back
inline constexpr size_t UpdateYear = 44;
inline constexpr size_t UpdateMonth = 45;
inline constexpr size_t UpdateDay = 46;
}  // namespace Hdr

// Tag table entry n (1..tags in use) at TagTableOffset + n * TagEntrySize.
namespace Ent {
inline constexpr size_t TableOffset = 512;
inline constexpr size_t Size = 32;
inline constexpr size_t Slots = 48;
inline constexpr size_t HeaderBlock = 0;  // 32-bit
inline constexpr size_t Name = 4;         // 11 bytes, upper case, zero-terminated
inline constexpr size_t NameSize = 11;
inline constexpr size_t Left = 16;  // name tree: left, right, parent tag numbers
inline constexpr size_t Right = 17;
inline constexpr size_t Parent = 18;
inline constexpr size_t Two = 19;  // 2
inline constexpr size_t KeyType = 20;
}  // namespace Ent

// Tag header, 983 bytes at block * 512 (made as a zero-filled 1024-byte block pair).
namespace Tag {
inline constexpr size_t Size = 983;
inline constexpr size_t RootBlock = 0;     // 32-bit
inline constexpr size_t KeyFlags = 8;      // 0x10 | 0x08 descending | 0x40 unique
inline constexpr size_t KeyType = 9;       // 'C', 'D', 'N', 'F'
inline constexpr size_t KeyLength = 12;    // 16-bit
inline constexpr size_t KeysPerPage = 14;  // 16-bit
inline constexpr size_t NotChar = 16;      // 16-bit: 0 for C keys, 1 otherwise
inline constexpr size_t EntryLength = 18;  // 16-bit
inline constexpr size_t Unique = 23;
inline constexpr size_t Expression = 24;  // 221 bytes, zero-terminated
inline constexpr size_t HasFor = 245;
inline constexpr size_t KeysPresent = 246;
inline constexpr size_t ForCondition = 762;  // 221 bytes, zero-terminated
inline constexpr size_t TextSize = 221;
inline constexpr uint8_t FlagAlways = 0x10;
inline constexpr uint8_t FlagDescending = 0x08;
inline constexpr uint8_t FlagUnique = 0x40;
}  // namespace Tag

// Page (1024 bytes): entry count, two bytes kept 0, four bytes never interpreted, then the
// entries (32-bit record or block number + key + padding) and one trailing 32-bit number:
// 0 in a leaf, in a branch the block of the page holding the keys above the last entry.
namespace Pg {
inline constexpr size_t Count = 0;  // 16-bit
inline constexpr size_t Zero = 2;   // 16-bit, always written 0
inline constexpr size_t Spare = 4;  // 32-bit, 0 in new pages, else left as read
inline constexpr size_t Entries = 8;
inline constexpr size_t Usable = 1012;  // room for entries and the trailing number - 4
}  // namespace Pg

using PageBuf = std::array<uint8_t, PageSize>;

inline uint16_t Get16(const uint8_t* p) {
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// The index engine's error routine: records code and message in the engine's error word
// (TzCommon::SetError) and, while error checking is off, raises ETzError with the full
// text. Returns the code so that callers can write `return ReportError(...)`.
uint16_t ReportError(uint16_t code, const std::string& message);

// Entry length of a tag: key length + 4 (C, D) or + 8 (N, F), rounded up to a multiple of
// 4 when the key length is not one. 0 for an unknown key type.
int EntryLengthFor(char keyType, int keyLength);

// A tag header as stored: the raw bytes (kept as read so that a rewrite changes only what
// the engine changed) and the block it lies at.
struct TagHeader {
    PageBuf raw{};
    uint32_t block = 0;

    uint32_t RootBlock() const { return Get32(&raw[Tag::RootBlock]); }
    void SetRootBlock(uint32_t b) { Put32(&raw[Tag::RootBlock], b); }
    char KeyType() const { return char(raw[Tag::KeyType]); }
    int KeyLength() const { return Get16(&raw[Tag::KeyLength]); }
    int KeysPerPage() const { return Get16(&raw[Tag::KeysPerPage]); }
    int EntryLength() const { return Get16(&raw[Tag::EntryLength]); }
    bool Descending() const { return (raw[Tag::KeyFlags] & Tag::FlagDescending) != 0; }
    bool Unique() const { return raw[Tag::Unique] != 0; }
    bool HasFor() const { return raw[Tag::HasFor] != 0; }
    bool KeysPresent() const { return raw[Tag::KeysPresent] != 0; }
    void SetKeysPresent(bool on) { raw[Tag::KeysPresent] = on ? 1 : 0; }
    std::string Expression() const;
    std::string ForCondition() const;
};

// Fills a new tag header from a zero-filled buffer. Fails with 266 "Incorrect key length:
// Must be 1 to 100." for a key length outside 1..100 (C) or a wrong fixed length (D 8,
// N/F 12), 254 for an unknown key type, 300 for texts over 220 characters.
uint16_t MakeTagHeader(char keyType, int keyLength, const std::string& expression,
                       const std::string& forCondition, bool unique, bool descending,
                       TagHeader* out);

// One open index file.
// Pages are read from a read-only shared mapping of the file (tz::File::Map), mapped past
// the file's end so that it can grow without a new mapping; a read that the mapping cannot
// serve, or any read when the file could not be mapped, goes through ReadAt. The mapping
// shows every write at once, this station's and others', so no clean page is kept here.
// Invariants:
//  1. header_ mirrors the file's 2048-byte header area except where headerChanged_ is set;
//     FlushHeader writes it back whole.
//  2. fileLen_ never exceeds the file's length: it is set only from a look at the length
//     or raised by a completed write, and the file does not shrink while it is open. Only
//     bytes below fileLen_ are read through the mapping (bytes past the end would end the
//     process with SIGBUS).
//  3. generation_ rises with every write through this object, every page kept for
//     write-back and every InvalidateCache, so that a copy of a page taken at one
//     generation is known to be current while the generation stays.
//  4. After a failed write the file is marked failed_ and refuses further writes until it
//     is opened again, so nothing is written from state that may not match the file.
class MdxFile {
  public:
    MdxFile() = default;
    MdxFile(const MdxFile&) = delete;
    MdxFile& operator=(const MdxFile&) = delete;
    ~MdxFile();

    // Makes a new file (the name is created as spelled when it does not exist) holding
    // the header area only: version 2, the table's name without folder and extension,
    // the date in both date fields. Fails with 32 while another station has it open.
    uint16_t Create(const std::string& name, const std::string& tableName, int year, int month,
                    int day, tz::ShareMode share);
    // Opens an existing file: at least 3072 bytes and a whole header area, else 222
    // "Unable to open index: " + name + " [OpenIndex/Set_Index_To]".
    uint16_t Open(const std::string& name, tz::Access access, tz::ShareMode share);
    // Writes the header when changed and closes. Safe to call when not open.
    uint16_t Close();
    bool IsOpen() const { return file_.IsOpen(); }
    const std::string& Name() const { return name_; }
    tz::File& Handle() { return file_; }

    // ---- Header and tag table
    const uint8_t* Header() const { return header_.data(); }
    int TagsInUse() const { return header_[Hdr::TagsInUse]; }
    uint32_t TagHeaderBlock(int n) const;  // n = 1..TagsInUse
    // The number of a tag (1..TagsInUse) whose header lies at or over block (its 1024-byte
    // pair: the block or the one before), 0 when none: such a block is not a page.
    int TagAtBlock(uint32_t block) const;
    std::string TagName(int n) const;  // up to 10 characters
    char TagKeyType(int n) const;
    // Tag number of the tag with this name (case-insensitive, whole name), 0 when none.
    int FindTag(const std::string& name) const;
    void SetBlockMark(uint32_t value);
    bool HeaderChanged() const { return headerChanged_; }
    uint16_t FlushHeader();  // the 2048 bytes, when changed
    // Re-reads the header area (after another station changed the file).
    uint16_t ReloadHeader();

    // Reads tag n's header, checking its block, key type, key length (against the type),
    // entry length and keys per page; a damaged header gives 222 naming the file and block.
    uint16_t ReadTagHeader(int n, TagHeader* out);
    // Rewrites the first 983 bytes of a tag header in place.
    uint16_t WriteTagHeader(const TagHeader& tag);
    // Appends a tag header as a 1024-byte block pair at the end of the file; sets
    // tag->block.
    uint16_t AppendTagHeader(TagHeader* tag);
    // Writes a new tag header as a 1024-byte block pair at a block no tag uses; sets
    // tag->block.
    uint16_t PutTagHeader(TagHeader* tag, uint32_t block);
    // Enters a tag in the tag table: an entry of the same name is removed (the last entry takes its
    // place; its pages stay unreferenced), then the tag is added as the last entry; the name tree
    // is rebuilt, the block mark set to the tag header's block and the header marked changed. More
    // than 47 tags gives 220. *tagNo receives the tag's number.
    uint16_t EnterTag(const std::string& name, const TagHeader& tag, int* tagNo);
    // Points tag n's entry at another header of the same tag, keeping its place and name
    // (a tag built again inside the open file); the header is marked changed.
    void SetTagHeaderBlock(int n, uint32_t block);
    // Rebuilds the left/right/parent links over the names in tag-number order.
    void RebuildNameTree();

    // ---- Pages
    // Reads a page; a block inside the header area or past the end of the file gives 222.
    uint16_t ReadPage(uint32_t block, PageBuf* out);
    // Writes a page over an existing one (bytes 2-3 are set to 0).
    uint16_t WritePage(uint32_t block, PageBuf& page);
    // Writes a new page into a page no tag uses (SetFreePages), else at the end of the
    // file (its block then is the file length / 512).
    uint16_t AppendPage(PageBuf& page, uint32_t* block);
    // Page starts that no tag of the file leads to, lowest first (found after the tags were
    // built again inside the file): new pages take them before the file grows. Forgotten
    // when another station changes the file (InvalidateCache), since it may have taken
    // some of them itself, and at open and close.
    void SetFreePages(std::deque<uint32_t> blocks) { free_ = std::move(blocks); }
    size_t FreePageCount() const { return free_.size(); }
    // Writes whole pages at a block (the bulk writer).
    uint16_t WritePages(uint32_t block, const uint8_t* data, size_t pages);
    // Length of the file in bytes as it is now.
    uint16_t FileSize(uint64_t* size);
    // The writer lock was taken: the next page appended asks the file for its length again,
    // later ones (only this station writes until the lock is released) count on.
    void ForgetSize() { sizeTrusted_ = false; }
    // The length as this station knows it: the last look at the file, raised by its own
    // writes since (another station's change is taken in by InvalidateCache).
    uint64_t KnownLength() const { return std::max(size_, fileLen_); }
    // Changes one byte of the header as held here without marking the header changed (the
    // next FlushHeader writes it with the rest).
    void PokeHeader(size_t offset, uint8_t value) { header_[offset] = value; }

    // Write-back: while on, WritePage keeps pages here (read back from here) until
    // FlushDirty writes them in block order, neighbouring pages in one write. Every other
    // write (tag headers, the header, bulk pages) and Close write the kept pages first, so
    // that nothing on disk refers to a page not yet written. The caller flushes before it
    // gives up the writer lock.
    void SetWriteBack(bool on) { writeBack_ = on; }
    uint16_t FlushDirty();
    bool HasDirty() const { return !dirty_.empty(); }

    // Another station changed the file: raises the generation (copies of pages taken
    // before are stale) and looks at the file's length again.
    void InvalidateCache();
    uint64_t Generation() const { return generation_; }
    // Whether tag `tag` checked the entries of the page at `block` since the page was last
    // written through this object and since another station last changed the file, and
    // noting that it did: every page a search passes is checked once, not at every search.
    bool PageChecked(uint32_t block, int tag) const {
        const size_t i = block / 2;
        return i < checked_.size() && checked_[i] == CheckedStamp(tag);
    }
    void NotePageChecked(uint32_t block, int tag);
    bool Failed() const { return failed_; }
    // A read of this file found it damaged (222: a page that cannot be one, or a tree that
    // points wrongly); the index engine marks the file so that its tags are built again.
    void NoteDamaged() { damaged_ = true; }
    bool TakeDamaged() {
        const bool was = damaged_;
        damaged_ = false;
        return was;
    }
    // Reads through the mapping (the default) or through ReadAt alone, as when the file
    // cannot be mapped. Kept across Open and Close.
    void SetMapping(bool on);
    // The least length mapped; a mapping also reaches twice the file's length.
    static constexpr uint64_t MapReserve = 16ull << 20;

  private:
    // ownPages: the bytes are pages kept for write-back (FlushDirty), whose check stamps
    // already say what was written; any other write clears the stamps it covers.
    uint16_t WriteAt(uint64_t off, const void* data, size_t n, const char* where,
                     bool ownPages = false);
    uint16_t Corrupt(uint32_t block, const std::string& what);
    uint16_t CheckTagHeader(const TagHeader& h);
    void RemoveTagEntry(const std::string& up);
    // Bytes of the file known to be there (end <= fileLen_) from the mapping, made or
    // widened when needed, else through ReadAt.
    uint16_t ReadBytes(uint64_t off, uint8_t* out, size_t n, size_t* got);
    bool CopyFromMap(uint64_t off, uint8_t* out, size_t n);
    // Looks at the file's length again (fileLen_, and size_ when it was less).
    uint16_t RefreshLength();

    tz::File file_;
    std::string name_;
    std::array<uint8_t, HeaderAreaSize> header_{};
    bool headerChanged_ = false;
    bool failed_ = false;
    bool damaged_ = false;      // NoteDamaged
    uint64_t size_ = 0;         // length counting pages kept for write-back
    uint64_t fileLen_ = 0;      // bytes the file is known to hold (see invariant 2)
    bool sizeTrusted_ = false;  // size_ is the length now (set by a fresh look)
    bool writeBack_ = false;
    std::map<uint32_t, PageBuf> dirty_;  // pages written but kept (write-back)
    std::deque<uint32_t> free_;          // SetFreePages
    // Pages of the change kept for write-back that were taken from free_: new pages, written
    // before the pages in place as those past the end are.
    std::set<uint32_t> reused_;
    uint64_t generation_ = 1;
    // By block / 2: the epoch a tag checked the page in, and the tag (see PageChecked). The
    // epoch rises when another station changed the file (InvalidateCache); a write through
    // this object clears the stamps of the pages it covers (ForgetChecked).
    std::vector<uint64_t> checked_;
    uint64_t checkEpoch_ = 1;
    uint64_t CheckedStamp(int tag) const { return checkEpoch_ << 6 | uint64_t(tag & 63); }
    void ForgetChecked(uint64_t off, uint64_t n);
    bool mapWanted_ = true;   // SetMapping
    bool mapFailed_ = false;  // mmap refused for this open: ReadAt only
};

}  // namespace Mdx
