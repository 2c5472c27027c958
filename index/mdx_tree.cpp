#include "index/mdx_tree.h"

#include <cstring>

#include "storage/scope_exit.h"
#include "storage/tz_common.h"
#include "storage/tz_errors.h"

namespace Mdx {

namespace {
// Deeper than this can only be a damaged file (a page that leads back to itself): with at
// least two keys per page, 32 levels hold more keys than a record number can count.
constexpr size_t MaxDepth = 32;
}  // namespace

int CompareCharKeys(const uint8_t* a, const uint8_t* b, size_t n) {
    return n == 0 ? 0 : std::memcmp(a, b, n);
}

int CompareDateKeys(const uint8_t* a, const uint8_t* b, size_t) {
    double x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x == y ? 0 : (x > y ? 1 : -1);
}

uint16_t FitCharKey(const std::string& text, int keyLength, std::string* key) {
    if (keyLength < 1 || keyLength > MaxKeyLength) {
        return ReportError(TzErr::InvalidSize, "Incorrect key length: Must be 1 to 100.");
    }
    *key = text.substr(0, size_t(keyLength));
    key->resize(size_t(keyLength), ' ');
    return 0;
}

// ---- Opening -----------------------------------------------------------------------------

uint16_t MdxTag::Open(MdxFile* file, int tagNo, KeyCompare cmp) {
    file_ = file;
    tagNo_ = tagNo;
    cmp_ = cmp;
    state_ = State::None;
    path_.clear();
    path_.reserve(MaxDepth + 1);
    tagText_ = file->Name() + " [tag: " + file->TagName(tagNo) + "]";
    return ReloadHeader();
}

uint16_t MdxTag::ReloadHeader() {
    uint16_t rc = file_->ReadTagHeader(tagNo_, &header_);
    if (rc != 0) return rc;
    descending_ = header_.Descending();
    unique_ = header_.Unique();
    keyLength_ = header_.KeyLength();
    entryLen_ = header_.EntryLength();
    capacity_ = header_.KeysPerPage();
    curKey_.resize(size_t(keyLength_));
    pathGeneration_ = 0;
    return 0;
}

uint16_t MdxTag::SetKeysPresent(bool on) {
    if (header_.KeysPresent() == on) return 0;
    header_.SetKeysPresent(on);
    return file_->WriteTagHeader(header_);
}

// Every fault the tree finds in a page, a pointer or a count comes here: the file is noted
// damaged (its tags are built again at the next lock) and 222 names the file, the tag and
// the block.
uint16_t MdxTag::BadNode(uint32_t block, const std::string& what) {
    file_->NoteDamaged();
    if (block == 0) {
        return ReportError(TzErr::CorruptedIndex,
                           "Invalid Node Number (0) in DBF Area " + std::to_string(area_) +
                               ", Order " + std::to_string(tagNo_) + " " + tagText_ + " [GetNode]");
    }
    return ReportError(TzErr::CorruptedIndex, "Corrupted index file: " + tagText_ + ", block " +
                                                  std::to_string(block) + ": " + what +
                                                  " [GetNode]");
}

// Reads a page of this tag; nothing of it is used before CheckPage passed it. root: the
// page is the tag's root.
uint16_t MdxTag::Load(uint32_t block, Level* level, bool root) {
    if (block == 0) return BadNode(0, "");
    if (block % 2 != 0) return BadNode(block, "a page at an odd block");
    uint16_t rc = file_->ReadPage(block, &level->page);
    if (rc != 0) return rc;
    if ((rc = CheckPage(block, level->page, root)) != 0) return rc;
    level->block = block;
    level->index = 0;
    return 0;
}

// The counts of a page against its place in the tree, then (once per page and file
// generation) its entries. A page of zeros is an empty leaf: only the root may be one, and
// only while the tag is to hold no keys.
uint16_t MdxTag::CheckPage(uint32_t block, const PageBuf& p, bool root) {
    const int n = Count(p);
    if (n > capacity_) return BadNode(block, "entry count " + std::to_string(n) + " beyond a page");
    if (n == 0) {
        const bool leaf = IsLeaf(p);
        if (leaf && !root) return BadNode(block, "an empty page below the root");
        if (!leaf && root) return BadNode(block, "a root page with no entries");
        if (leaf && keysExpected_ && keysExpected_(keysOwner_, inserting_))
            return BadNode(block, "no keys in the tag, though the table has rows for it");
    }
    if (file_->PageChecked(block, tagNo_)) return 0;
    if (uint16_t rc = CheckEntries(block, p)) return rc;
    file_->NotePageChecked(block, tagNo_);
    return 0;
}

// The page itself is no tag header; its keys are in the tag's order; a leaf names no record
// 0; a branch leads only to pages that can be pages of this tree.
uint16_t MdxTag::CheckEntries(uint32_t block, const PageBuf& p) {
    if (const int tag = file_->TagAtBlock(block))
        return BadNode(block, "the header of tag " + std::to_string(tag) + " taken for a page");
    const int n = Count(p);
    for (int i = 1; i < n; ++i) {
        if (Compare(KeyAt(p, i - 1), KeyAt(p, i), size_t(keyLength_)) > 0)
            return BadNode(block, "keys out of order at entry " + std::to_string(i));
    }
    if (IsLeaf(p)) {
        for (int i = 0; i < n; ++i)
            if (NumAt(p, i) == 0) return BadNode(block, "record 0 at entry " + std::to_string(i));
        return 0;
    }
    for (int i = 0; i <= n; ++i) {
        if (uint16_t rc = CheckChild(block, Child(p, i))) return rc;
    }
    return 0;
}

uint16_t MdxTag::CheckChild(uint32_t block, uint32_t child) {
    if (child == 0) return BadNode(0, "");
    if (child < FirstPageBlock || child % 2 != 0 || child == block) {
        return BadNode(block, "a branch entry leads to block " + std::to_string(child) +
                                  ", which cannot be a lower page");
    }
    if (const int tag = file_->TagAtBlock(child)) {
        return BadNode(block, "a branch entry leads to the header of tag " + std::to_string(tag));
    }
    return 0;
}

int MdxTag::LowerBound(const PageBuf& p, const uint8_t* key, size_t len) const {
    int lo = 0, hi = Count(p);
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (Compare(KeyAt(p, mid), key, len) < 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    return lo;
}

// ---- Positioning -------------------------------------------------------------------------

uint16_t MdxTag::Descend(uint32_t from, Mode mode, const uint8_t* key, size_t len) {
    uint32_t block = from;
    for (;;) {
        if (path_.size() >= MaxDepth) return BadNode(block, "page tree deeper than 32 levels");
        // A page met twice on one way down: the tree points wrongly (a few levels at most
        // to look through).
        for (const Level& above : path_)
            if (above.block == block) return BadNode(block, "a page reached twice on one path");
        path_.emplace_back();
        Level& lv = path_.back();
        uint16_t rc = Load(block, &lv, path_.size() == 1 && block == header_.RootBlock());
        if (rc != 0) {
            path_.pop_back();
            return rc;
        }
        int n = Count(lv.page);
        bool leaf = IsLeaf(lv.page);
        switch (mode) {
            case Mode::LowerBound:
                lv.index = LowerBound(lv.page, key, len);
                break;
            case Mode::Leftmost:
                lv.index = 0;
                break;
            case Mode::Rightmost:
                lv.index = leaf ? n - 1 : n;
                break;
        }
        if (leaf) return 0;
        block = Child(lv.page, lv.index);
    }
}

void MdxTag::TakeCurrent() {
    const Level& leaf = path_.back();
    std::memcpy(curKey_.data(), KeyAt(leaf.page, leaf.index), size_t(keyLength_));
    curRecno_ = NumAt(leaf.page, leaf.index);
    state_ = State::OnEntry;
    pathGeneration_ = file_->Generation();
}

bool MdxTag::PathValid() const {
    return state_ == State::OnEntry && !path_.empty() && pathGeneration_ == file_->Generation();
}

// Moves from the current leaf to the nearest entry of the next (or previous) non-empty
// leaf; *moved is false when there is none, and the path is then empty.
uint16_t MdxTag::StepLeaf(bool forward, bool* moved) {
    *moved = false;
    path_.pop_back();
    while (!path_.empty()) {
        Level& top = path_.back();
        int n = Count(top.page);
        if (forward ? top.index < n : top.index > 0) {
            top.index += forward ? 1 : -1;
            uint16_t rc = Descend(Child(top.page, top.index),
                                  forward ? Mode::Leftmost : Mode::Rightmost, nullptr, 0);
            if (rc != 0) return rc;
            if (Count(path_.back().page) > 0) {
                *moved = true;
                return 0;
            }
            path_.pop_back();  // an empty leaf: go on from its parent
            continue;
        }
        path_.pop_back();
    }
    return 0;
}

// Moves to the first (or last) entry of the next (or previous) leaf, or to the end.
uint16_t MdxTag::StepToNeighbour(bool forward) {
    bool moved = false;
    uint16_t rc = StepLeaf(forward, &moved);
    if (rc != 0) {
        state_ = State::None;
        return rc;
    }
    if (moved) {
        TakeCurrent();
    } else {
        state_ = forward ? State::AtEnd : State::AtBegin;
    }
    return 0;
}

// After a descent: settles on an entry, stepping to the neighbouring leaf when the leaf
// slot lies outside the leaf's entries.
uint16_t MdxTag::Normalise(bool forward) {
    const Level& leaf = path_.back();
    if (leaf.index >= 0 && leaf.index < Count(leaf.page)) {
        TakeCurrent();
        return 0;
    }
    return StepToNeighbour(forward);
}

uint16_t MdxTag::Seek(const uint8_t* key, size_t len) {
    between_ = false;
    path_.clear();
    state_ = State::None;
    uint16_t rc = Descend(header_.RootBlock(), Mode::LowerBound, key, len);
    return rc != 0 ? rc : Normalise(true);
}

uint16_t MdxTag::First() {
    between_ = false;
    path_.clear();
    state_ = State::None;
    uint16_t rc = Descend(header_.RootBlock(), Mode::Leftmost, nullptr, 0);
    return rc != 0 ? rc : Normalise(true);
}

uint16_t MdxTag::Last() {
    between_ = false;
    path_.clear();
    state_ = State::None;
    uint16_t rc = Descend(header_.RootBlock(), Mode::Rightmost, nullptr, 0);
    return rc != 0 ? rc : Normalise(false);
}

// From a lower-bound position: steps over the entries equal to key until the entry of
// recno. Not found leaves the tag on the first greater key or at the end.
uint16_t MdxTag::StepOverEqual(const uint8_t* key, uint32_t recno, bool* found) {
    *found = false;
    while (state_ == State::OnEntry && Compare(curKey_.data(), key, size_t(keyLength_)) == 0) {
        if (curRecno_ == recno) {
            *found = true;
            return 0;
        }
        if (uint16_t rc = Advance(true)) return rc;
    }
    return 0;
}

uint16_t MdxTag::SeekRecord(const uint8_t* key, uint32_t recno, bool* found) {
    std::vector<uint8_t> k(key, key + keyLength_);
    *found = false;
    uint16_t rc = Seek(k.data(), size_t(keyLength_));
    return rc != 0 ? rc : StepOverEqual(k.data(), recno, found);
}

uint16_t MdxTag::Refind(bool* exact) {
    std::vector<uint8_t> key = curKey_;
    return SeekRecord(key.data(), curRecno_, exact);
}

// One step from a valid path. Moving to the neighbouring leaf, the key reached must not
// come before the key left in the walk's direction: a leaf reached again (a branch that
// points back at a page walked before) would walk its records twice.
uint16_t MdxTag::Advance(bool forward) {
    Level& leaf = path_.back();
    if (forward ? leaf.index + 1 < Count(leaf.page) : leaf.index > 0) {
        leaf.index += forward ? 1 : -1;
        TakeCurrent();
        return 0;
    }
    leftKey_ = curKey_;
    const uint16_t rc = StepToNeighbour(forward);
    if (rc != 0 || state_ != State::OnEntry) return rc;
    const int order = Compare(curKey_.data(), leftKey_.data(), size_t(keyLength_));
    if (forward ? order >= 0 : order <= 0) return 0;
    state_ = State::None;
    return BadNode(path_.back().block, "keys out of order: a page reached twice in a walk");
}

uint16_t MdxTag::Next() {
    const bool between = between_;
    between_ = false;
    if (state_ == State::None || state_ == State::AtBegin) return First();
    if (state_ == State::AtEnd) return 0;
    if (!PathValid()) {
        // The file changed since the path was taken: find the current entry again. When
        // it is gone, the entry found in its place is already the next one.
        bool exact = false;
        uint16_t rc = Refind(&exact);
        if (rc != 0 || !exact || between) return rc;
    }
    return Advance(true);
}

uint16_t MdxTag::Prior() {
    between_ = false;
    if (state_ == State::None || state_ == State::AtEnd) return Last();
    if (state_ == State::AtBegin) return 0;
    if (!PathValid()) {
        bool exact = false;
        uint16_t rc = Refind(&exact);
        if (rc != 0) return rc;
        if (!exact && state_ == State::AtEnd) return Last();
        // Not exact: the entry found follows the vanished one, so one step back is right.
    }
    return Advance(false);
}

// ---- Changes -----------------------------------------------------------------------------

// A page this tag changes was checked when it was read and keeps its checks (its keys
// stay in order, its entries lead where they did), so it stays checked once written.
uint16_t MdxTag::WriteLevel(size_t level) {
    const uint32_t block = path_[level].block;
    uint16_t rc = file_->WritePage(block, path_[level].page);
    if (rc == 0) file_->NotePageChecked(block, tagNo_);
    return rc;
}

uint16_t MdxTag::SetRoot(uint32_t block) {
    header_.SetRootBlock(block);
    return file_->WriteTagHeader(header_);
}

// The greatest key below a page: its last key for a leaf; for a branch the last key of the
// rightmost leaf, found by following trailing numbers.
uint16_t MdxTag::GreatestKey(const PageBuf& page, std::vector<uint8_t>* key) {
    key->assign(size_t(keyLength_), 0);
    const PageBuf* p = &page;
    Level tmp;
    for (size_t depth = 0; !IsLeaf(*p); ++depth) {
        if (Count(*p) > 0)
            key->assign(KeyAt(*p, Count(*p) - 1), KeyAt(*p, Count(*p) - 1) + keyLength_);
        if (depth >= MaxDepth) return BadNode(Trailing(*p), "page tree deeper than 32 levels");
        uint16_t rc = Load(Trailing(*p), &tmp);
        if (rc != 0) return rc;
        p = &tmp.page;
    }
    int n = Count(*p);
    if (n > 0) key->assign(KeyAt(*p, n - 1), KeyAt(*p, n - 1) + keyLength_);
    return 0;
}

void MdxTag::PutEntry(PageBuf& p, int slot, uint32_t num, const uint8_t* key) {
    int n = Count(p);
    std::memmove(EntryAt(p, slot + 1), EntryAt(p, slot), size_t(n - slot) * entryLen_ + 4);
    uint8_t* e = EntryAt(p, slot);
    std::memset(e, 0, size_t(entryLen_));
    Put32(e, num);
    std::memcpy(e + 4, key, size_t(keyLength_));
    Put16(&p[Pg::Count], uint16_t(n + 1));
}

// In a branch: the slot that led to a page that split now holds that page with its new
// greatest key, and the page made by the split follows it (as entry, or as the trailing
// number when the split page was the trailing one).
void MdxTag::PutBranchPair(PageBuf& p, int slot, uint32_t oldBlock, const uint8_t* oldMax,
                           uint32_t newBlock, const uint8_t* newMax) {
    int n = Count(p);
    PutEntry(p, slot, oldBlock, oldMax);
    if (slot < n) {
        uint8_t* e = EntryAt(p, slot + 1);
        Put32(e, newBlock);
        std::memcpy(e + 4, newMax, size_t(keyLength_));
    } else {
        Put32(EntryAt(p, n + 1), newBlock);
    }
}

uint16_t MdxTag::PropagateMax(size_t level, const uint8_t* key) {
    while (level > 0) {
        Level& parent = path_[level - 1];
        int s = parent.index;
        if (s < Count(parent.page)) {
            uint8_t* k = EntryAt(parent.page, s) + 4;
            if (std::memcmp(k, key, size_t(keyLength_)) == 0) return 0;
            std::memcpy(k, key, size_t(keyLength_));
            return WriteLevel(level - 1);
        }
        --level;  // reached through the trailing number: the parent's greatest key changed too
    }
    return 0;
}

uint16_t MdxTag::NewRoot(uint32_t oldRoot, const uint8_t* oldMax, uint32_t newBlock) {
    PageBuf root{};
    Put16(&root[Pg::Count], 1);
    uint8_t* e = EntryAt(root, 0);
    Put32(e, oldRoot);
    std::memcpy(e + 4, oldMax, size_t(keyLength_));
    Put32(EntryAt(root, 1), newBlock);
    uint32_t block = 0;
    uint16_t rc = file_->AppendPage(root, &block);
    if (rc != 0) return rc;
    file_->NotePageChecked(block, tagNo_);  // made here from checked pages
    file_->SetBlockMark(block + 1);
    return SetRoot(block);
}

// Splits the full page at `level` and puts the pending entry into the half where it
// belongs: in a leaf the key (num = record number); in a branch the pair for a lower page
// that split (num = its block, key = its greatest key, then newChild with newChildMax).
uint16_t MdxTag::SplitAndInsert(size_t level, const uint8_t* key, uint32_t num, int slot,
                                uint32_t newChild, const uint8_t* newChildMax) {
    Level& lv = path_[level];
    PageBuf& old = lv.page;
    const bool leaf = IsLeaf(old);
    const int n = Count(old);
    const int keep = n - n / 2;
    const int moved = n / 2;
    PageBuf fresh{};
    std::memcpy(EntryAt(fresh, 0), EntryAt(old, keep), size_t(moved) * entryLen_ + 4);
    Put16(&fresh[Pg::Count], uint16_t(moved));
    std::memset(EntryAt(old, keep), 0, 4);
    // A branch gives up its last kept entry's key: that entry's block becomes its trailing
    // number.
    Put16(&old[Pg::Count], uint16_t(leaf ? keep : keep - 1));
    if (leaf) {
        if (Compare(key, KeyAt(old, keep - 1), size_t(keyLength_)) <= 0) {
            PutEntry(old, LowerBound(old, key, size_t(keyLength_)), num, key);
        } else {
            PutEntry(fresh, LowerBound(fresh, key, size_t(keyLength_)), num, key);
        }
    } else if (slot < keep) {
        PutBranchPair(old, slot, num, key, newChild, newChildMax);
    } else {
        PutBranchPair(fresh, slot - keep, num, key, newChild, newChildMax);
    }
    uint16_t rc = WriteLevel(level);
    if (rc != 0) return rc;
    uint32_t freshBlock = 0;
    rc = file_->AppendPage(fresh, &freshBlock);
    if (rc != 0) return rc;
    file_->NotePageChecked(freshBlock, tagNo_);  // the checked page's upper half
    file_->SetBlockMark(freshBlock + 1);

    std::vector<uint8_t> oldMax, freshMax;
    if ((rc = GreatestKey(old, &oldMax)) != 0) return rc;
    if ((rc = GreatestKey(fresh, &freshMax)) != 0) return rc;
    if (level == 0) return NewRoot(lv.block, oldMax.data(), freshBlock);

    Level& parent = path_[level - 1];
    int p = parent.index;
    int pn = Count(parent.page);
    if (pn >= capacity_) {
        return SplitAndInsert(level - 1, oldMax.data(), lv.block, p, freshBlock, freshMax.data());
    }
    PutBranchPair(parent.page, p, lv.block, oldMax.data(), freshBlock, freshMax.data());
    rc = WriteLevel(level - 1);
    if (rc == 0 && p == pn) rc = PropagateMax(level - 1, freshMax.data());
    return rc;
}

uint16_t MdxTag::Insert(const uint8_t* key, uint32_t recno, bool* inserted) {
    if (inserted) *inserted = false;
    between_ = false;
    std::vector<uint8_t> k(key, key + keyLength_);
    uint16_t rc;
    inserting_ = true;
    tz::ScopeExit done([this] { inserting_ = false; });
    if (unique_) {
        rc = Seek(k.data(), size_t(keyLength_));
        if (rc != 0) return rc;
        if (state_ == State::OnEntry &&
            Compare(curKey_.data(), k.data(), size_t(keyLength_)) == 0) {
            return 0;  // a unique tag keeps the first record of each key
        }
    }
    path_.clear();
    state_ = State::None;
    rc = Descend(header_.RootBlock(), Mode::LowerBound, k.data(), size_t(keyLength_));
    if (rc != 0) return rc;
    const size_t L = path_.size() - 1;
    Level& leaf = path_[L];
    const int i = leaf.index;
    const int n = Count(leaf.page);
    if (n < capacity_) {
        PutEntry(leaf.page, i, recno, k.data());
        rc = WriteLevel(L);
        if (rc == 0 && i == n) rc = PropagateMax(L, k.data());
    } else {
        rc = SplitAndInsert(L, k.data(), recno, i, 0, nullptr);
    }
    if (rc != 0) return rc;
    if (inserted) *inserted = true;
    // The new entry is the current one; the next step finds it again.
    std::memcpy(curKey_.data(), k.data(), size_t(keyLength_));
    curRecno_ = recno;
    state_ = State::OnEntry;
    pathGeneration_ = 0;
    return 0;
}

// The lower page at path_[level].index was emptied (and written as zeros): take it out of
// this branch, collapsing the root or emptying this branch in turn as needed.
uint16_t MdxTag::RemoveChild(size_t level) {
    Level& lv = path_[level];
    const int n = Count(lv.page);
    const int s = lv.index;
    uint16_t rc;
    if (n == 0) {
        // Its only lower page is gone, so this branch is empty as well.
        if (level == 0) {
            // The emptied page (1024 zero bytes: an empty leaf) becomes the root.
            uint32_t child = Trailing(lv.page);
            header_.SetKeysPresent(false);
            return SetRoot(child);
        }
        lv.page.fill(0);
        if ((rc = WriteLevel(level)) != 0) return rc;
        return RemoveChild(level - 1);
    }
    if (s < n) {
        std::memmove(EntryAt(lv.page, s), EntryAt(lv.page, s + 1),
                     size_t(n - s - 1) * entryLen_ + 4);
    }
    // Removing the trailing page: the last entry's block becomes the trailing number.
    Put16(&lv.page[Pg::Count], uint16_t(n - 1));
    if ((rc = WriteLevel(level)) != 0) return rc;
    if (n - 1 == 0 && level == 0) {
        // A root left with only a trailing number gives up its place (the tree loses a
        // level, more than one when the page below is such a branch as well).
        uint32_t root = Trailing(lv.page);
        Level below;
        for (size_t depth = 0;; ++depth) {
            if (depth >= MaxDepth) return BadNode(root, "page tree deeper than 32 levels");
            if ((rc = Load(root, &below)) != 0) return rc;
            if (IsLeaf(below.page) || Count(below.page) > 0) break;
            root = Trailing(below.page);
        }
        return SetRoot(root);
    }
    if (s == n && level > 0) {
        std::vector<uint8_t> max;
        if ((rc = GreatestKey(lv.page, &max)) != 0) return rc;
        return PropagateMax(level, max.data());
    }
    return 0;
}

uint16_t MdxTag::Remove(const uint8_t* key, uint32_t recno, bool* found) {
    uint16_t rc = SeekRecord(key, recno, found);
    if (rc != 0 || !*found) return rc;
    // The entry after the removed one becomes the place the next step starts from.
    std::vector<Level> saved = path_;
    if ((rc = Advance(true)) != 0) return rc;
    const bool hasNext = state_ == State::OnEntry;
    std::vector<uint8_t> nextKey = curKey_;
    const uint32_t nextRecno = curRecno_;
    path_ = std::move(saved);
    rc = RemoveHere();
    if (hasNext) {
        curKey_ = nextKey;
        curRecno_ = nextRecno;
        state_ = State::OnEntry;
        between_ = true;
    } else {
        state_ = State::AtEnd;
    }
    pathGeneration_ = 0;
    return rc;
}

uint16_t MdxTag::RemoveHere() {
    uint16_t rc;
    const size_t L = path_.size() - 1;
    Level& leaf = path_[L];
    const int i = leaf.index;
    const int n = Count(leaf.page);
    if (n > 1) {
        std::memmove(EntryAt(leaf.page, i), EntryAt(leaf.page, i + 1),
                     size_t(n - 1 - i) * entryLen_ + 4);
        Put16(&leaf.page[Pg::Count], uint16_t(n - 1));
        rc = WriteLevel(L);
        if (rc == 0 && i == n - 1 && L > 0) rc = PropagateMax(L, KeyAt(leaf.page, n - 2));
        return rc;
    }
    // The leaf held only this entry: it becomes 1024 zero bytes.
    leaf.page.fill(0);
    if ((rc = WriteLevel(L)) != 0) return rc;
    if (L == 0) return SetKeysPresent(false);
    return RemoveChild(L - 1);
}

// ---- Pages in use ------------------------------------------------------------------------

namespace {

// Marks the page at block (both its blocks); false when it lies outside the file, inside
// the header area, or was marked before.
bool MarkPage(std::vector<bool>& used, uint32_t block) {
    if (block < FirstPageBlock || block % 2 != 0 || uint64_t(block) + 1 >= used.size())
        return false;
    if (used[block] || used[block + 1]) return false;
    used[block] = used[block + 1] = true;
    return true;
}

// Marks the pages of the tree below block (depth levels above it at most).
bool MarkTree(MdxFile& file, const TagHeader& h, uint32_t block, int depth,
              std::vector<bool>& used) {
    if (depth > 32 || !MarkPage(used, block)) return false;
    PageBuf page;
    if (file.ReadPage(block, &page) != 0) return false;
    const int count = Get16(&page[Pg::Count]), len = h.EntryLength();
    if (count > h.KeysPerPage()) return false;
    const uint32_t trailing = Get32(&page[Pg::Entries + size_t(count) * size_t(len)]);
    if (trailing == 0) return true;  // a leaf
    for (int i = 0; i < count; ++i) {
        const uint32_t child = Get32(&page[Pg::Entries + size_t(i) * size_t(len)]);
        if (!MarkTree(file, h, child, depth + 1, used)) return false;
    }
    return MarkTree(file, h, trailing, depth + 1, used);
}

bool MarkTags(MdxFile& file, std::vector<bool>& used) {
    for (uint32_t b = 0; b < FirstPageBlock && b < used.size(); ++b) used[b] = true;
    for (int n = 1; n <= std::min(file.TagsInUse(), MaxTags); ++n) {
        TagHeader h;
        if (file.ReadTagHeader(n, &h) != 0 || !MarkPage(used, h.block) ||
            !MarkTree(file, h, h.RootBlock(), 0, used))
            return false;
    }
    return true;
}

}  // namespace

bool UsedBlocks(MdxFile& file, std::vector<bool>* used) {
    const uint16_t before = TzCommon::ErrorWord();
    uint64_t size = 0;
    bool whole = false;
    {
        TzCommon::ErrorCheckingOff quiet;
        try {
            used->assign(file.FileSize(&size) == 0 ? size_t(size / BlockSize) : 0, false);
            whole = size > 0 && MarkTags(file, *used);
        } catch (const TzCommon::ETzError&) {
            whole = false;
        }
    }
    if (before != 0) {
        TzCommon::SetErrorWord(before);
    } else {
        TzCommon::ClearErrorWord();
    }
    return whole;
}

}  // namespace Mdx
