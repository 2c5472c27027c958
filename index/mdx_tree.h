// One tag's B-tree in an open index file: seek, ordered walk in both directions with a path
// of pages from the root to the current leaf, insertion with page splits and new roots, and
// key removal with root collapse. Keys are raw bytes of the tag's key length, ordered by a
// compare routine chosen for the key type (descending tags exchange its operands).
// One thread; the caller holds the index semaphore (read side for walks, write side for
// changes) as for every index file call.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "index/mdx_format.h"

namespace Mdx {

// Compares two keys: negative, 0 or positive. n is the number of bytes that count (the
// key length, or a shorter search text for C keys); fixed-length key types ignore it.
using KeyCompare = int (*)(const uint8_t* a, const uint8_t* b, size_t n);

int CompareCharKeys(const uint8_t* a, const uint8_t* b, size_t n);  // byte-wise, unsigned
int CompareDateKeys(const uint8_t* a, const uint8_t* b, size_t n);  // 8-byte doubles

// A character key of the tag's length: a shorter text is padded with blanks, a longer one
// cut. 266 "Incorrect key length: Must be 1 to 100." only for a key length outside 1..100.
uint16_t FitCharKey(const std::string& text, int keyLength, std::string* key);

class MdxTag {
  public:
    // Invariants:
    //  1. While state_ is OnEntry and pathGeneration_ equals the file's generation, path_
    //     holds copies of the pages from the root (path_[0]) down to a leaf (path_.back()),
    //     each with the slot taken in it (in a branch 0..count, count meaning the trailing
    //     number), and the leaf slot is the current entry (index < count).
    //  2. curKey_ and curRecno_ are the current entry's key and record number; when the
    //     path is stale (another change to the file since), a step first finds that entry
    //     again from them.
    //  3. Pages this object writes have bytes 2-3 zero; pages it creates have bytes 2-7 zero.
    //  4. A branch entry carries the greatest key of the subtree below it; the subtree
    //     reached through the trailing number has no key in that page.
    enum class State { None, OnEntry, AtEnd, AtBegin };

    MdxTag() = default;

    // Reads tag n's header and binds the tree to the file. cmp orders keys ascending.
    uint16_t Open(MdxFile* file, int tagNo, KeyCompare cmp);
    // Re-reads the tag header (another station may have changed the root).
    uint16_t ReloadHeader();
    // Text naming the tag in messages: file name + " [tag: NAME]"; set by Open.
    const std::string& TagText() const { return tagText_; }
    void SetArea(int area) { area_ = area; }
    // Asked when the root is found without keys: whether the tag should hold some (the
    // table has records that have keys in it). `inserting` is set while a new record's key
    // goes in (that record has no key yet). Without it an empty root is never damage.
    using KeysExpected = bool (*)(const void* owner, bool inserting);
    void SetKeysExpected(KeysExpected ask, const void* owner) {
        keysExpected_ = ask;
        keysOwner_ = owner;
    }

    const TagHeader& Header() const { return header_; }
    int KeyLength() const { return keyLength_; }
    // Marks the tag header's keys-present byte; written at once when it changes.
    uint16_t SetKeysPresent(bool on);

    // ---- Positioning. Each answers 0 or an error code; state() tells where it ended.
    // The first entry whose key, compared over len bytes, is not less than key.
    uint16_t Seek(const uint8_t* key, size_t len);
    // The entry of this record among the entries equal to key (full key length).
    uint16_t SeekRecord(const uint8_t* key, uint32_t recno, bool* found);
    uint16_t First();
    uint16_t Last();
    uint16_t Next();
    uint16_t Prior();

    State state() const { return state_; }
    bool OnEntry() const { return state_ == State::OnEntry; }
    uint32_t RecNo() const { return curRecno_; }
    const uint8_t* Key() const { return curKey_.data(); }
    int Compare(const uint8_t* a, const uint8_t* b, size_t n) const {
        return descending_ ? cmp_(b, a, n) : cmp_(a, b, n);
    }

    // ---- Changes
    // Puts (key, recno) in front of any equal keys. A unique tag that already holds the key
    // is left unchanged and *inserted is false. Afterwards the current entry is the new
    // one (found again by the next step).
    uint16_t Insert(const uint8_t* key, uint32_t recno, bool* inserted = nullptr);
    // Removes the entry of recno among the entries equal to key; *found false when the key
    // or the record's entry is not there (nothing changes then). Afterwards Next lands on
    // the entry that followed the removed one and Prior on the one before it.
    uint16_t Remove(const uint8_t* key, uint32_t recno, bool* found);

    // Depth of the path after the last positioning (1 = the root is a leaf).
    size_t Depth() const { return path_.size(); }

  private:
    struct Level {
        uint32_t block = 0;
        int index = 0;
        PageBuf page;
    };
    enum class Mode { LowerBound, Leftmost, Rightmost };

    // Page helpers.
    int Count(const PageBuf& p) const { return Get16(&p[Pg::Count]); }
    uint8_t* EntryAt(PageBuf& p, int i) const { return &p[Pg::Entries + size_t(i) * entryLen_]; }
    const uint8_t* EntryAt(const PageBuf& p, int i) const {
        return &p[Pg::Entries + size_t(i) * entryLen_];
    }
    const uint8_t* KeyAt(const PageBuf& p, int i) const { return EntryAt(p, i) + 4; }
    uint32_t NumAt(const PageBuf& p, int i) const { return Get32(EntryAt(p, i)); }
    uint32_t Trailing(const PageBuf& p) const { return Get32(EntryAt(p, Count(p))); }
    bool IsLeaf(const PageBuf& p) const { return Trailing(p) == 0; }
    uint32_t Child(const PageBuf& p, int slot) const {
        return slot < Count(p) ? NumAt(p, slot) : Trailing(p);
    }
    int LowerBound(const PageBuf& p, const uint8_t* key, size_t len) const;

    uint16_t Load(uint32_t block, Level* level, bool root = false);
    uint16_t CheckPage(uint32_t block, const PageBuf& p, bool root);
    uint16_t CheckEntries(uint32_t block, const PageBuf& p);
    uint16_t CheckChild(uint32_t block, uint32_t child);
    uint16_t Descend(uint32_t from, Mode mode, const uint8_t* key, size_t len);
    uint16_t StepLeaf(bool forward, bool* moved);
    uint16_t Normalise(bool forward);
    uint16_t StepToNeighbour(bool forward);
    void TakeCurrent();
    uint16_t Refind(bool* exact);
    uint16_t Advance(bool forward);
    uint16_t RemoveHere();
    uint16_t StepOverEqual(const uint8_t* key, uint32_t recno, bool* found);
    bool PathValid() const;

    uint16_t WriteLevel(size_t level);
    uint16_t GreatestKey(const PageBuf& page, std::vector<uint8_t>* key);
    uint16_t PropagateMax(size_t level, const uint8_t* key);
    uint16_t SplitAndInsert(size_t level, const uint8_t* key, uint32_t num, int slot,
                            uint32_t newChild, const uint8_t* newChildMax);
    void PutEntry(PageBuf& p, int slot, uint32_t num, const uint8_t* key);
    void PutBranchPair(PageBuf& p, int slot, uint32_t oldBlock, const uint8_t* oldMax,
                       uint32_t newBlock, const uint8_t* newMax);
    uint16_t NewRoot(uint32_t oldRoot, const uint8_t* oldMax, uint32_t newBlock);
    uint16_t RemoveChild(size_t level);
    uint16_t SetRoot(uint32_t block);
    uint16_t BadNode(uint32_t block, const std::string& what);

    MdxFile* file_ = nullptr;
    int tagNo_ = 0;
    int area_ = 0;
    std::string tagText_;
    TagHeader header_;
    KeyCompare cmp_ = nullptr;
    bool descending_ = false;
    bool unique_ = false;
    int keyLength_ = 0;
    int entryLen_ = 0;
    int capacity_ = 0;  // keys per page

    std::vector<Level> path_;
    uint64_t pathGeneration_ = 0;
    State state_ = State::None;
    std::vector<uint8_t> curKey_;
    std::vector<uint8_t> leftKey_;  // the key a step to the neighbouring leaf left
    uint32_t curRecno_ = 0;
    bool between_ = false;    // after a removal: the next step lands on the current entry
    bool inserting_ = false;  // Insert's descent (for keysExpected_)
    KeysExpected keysExpected_ = nullptr;
    const void* keysOwner_ = nullptr;
};

// The blocks that the tags of the file's tag table lead to: their headers and every page of
// their trees, each as both of its blocks, and the header area. False (nothing reported)
// when a tag cannot be followed whole: a header or page that cannot be read, a page
// outside the file or reached twice, a tree deeper than 32 levels.
bool UsedBlocks(MdxFile& file, std::vector<bool>* used);

}  // namespace Mdx
