// Bulk loading of one tag's pages from keys that arrive in tag order (key, then record
// number): pages are filled level by level and written strictly sequentially at the end of
// the index file (or first into pages no tag uses) through a buffer of 63 pages. Used by the index
// build; the caller holds the index semaphore's write side and enters the tag header afterwards
// (MdxFile).
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "index/mdx_format.h"

namespace Mdx {

class MdxPageWriter {
  public:
    // Invariants:
    //  1. levels_[0] is the leaf being filled, levels_[i] the branch page being filled at
    //     level i; every page in levels_ is unwritten.
    //  2. A queued page takes the first of the free blocks given (TakeFreeBlocks), else
    //     nextBlock_: it starts at the end of the file (2 x (length div 1024)) and rises by
    //     2 per page, so pages there lie back to back.
    //  3. buffer_ holds queued pages not yet written, page i at block blocks_[i].
    static constexpr size_t BufferPages = 63;
    static constexpr size_t WritePiecePages = 4;

    // keysPerPage and entry length come from the tag header.
    uint16_t Begin(MdxFile* file, const TagHeader& tag);
    // Pages take these blocks first (page starts that no tag uses, ascending; each one
    // taken is removed), then the end of the file. Called after Begin.
    void TakeFreeBlocks(std::deque<uint32_t>* free) { free_ = free; }
    // Adds one item; items must come in tag order.
    uint16_t Add(const uint8_t* key, uint32_t recno);
    // Queues the last pages and writes them; *root is the block of the last page written
    // (an empty leaf when no item came).
    uint16_t Finish(uint32_t* root);
    uint64_t Items() const { return items_; }

  private:
    uint32_t Queue(const PageBuf& page);
    uint16_t Flush();
    int Count(const PageBuf& p) const { return Get16(&p[Pg::Count]); }
    uint8_t* EntryAt(PageBuf& p, int i) const { return &p[Pg::Entries + size_t(i) * entryLen_]; }

    MdxFile* file_ = nullptr;
    int keyLength_ = 0;
    int entryLen_ = 0;
    int perPage_ = 0;
    std::vector<PageBuf> levels_;
    std::vector<uint8_t> buffer_;
    size_t buffered_ = 0;
    std::vector<uint32_t> blocks_;
    std::deque<uint32_t>* free_ = nullptr;
    uint32_t nextBlock_ = 0;
    uint64_t items_ = 0;
    uint16_t error_ = 0;
};

}  // namespace Mdx
