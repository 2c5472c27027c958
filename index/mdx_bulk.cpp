#include "index/mdx_bulk.h"

#include <algorithm>
#include <cstring>

namespace Mdx {

uint16_t MdxPageWriter::Begin(MdxFile* file, const TagHeader& tag) {
    file_ = file;
    keyLength_ = tag.KeyLength();
    entryLen_ = tag.EntryLength();
    perPage_ = tag.KeysPerPage();
    levels_.assign(2, PageBuf{});
    buffer_.assign(BufferPages * PageSize, 0);
    blocks_.assign(BufferPages, 0);
    free_ = nullptr;
    buffered_ = 0;
    items_ = 0;
    error_ = 0;
    uint64_t size = 0;
    uint16_t rc = file_->FileSize(&size);
    if (rc != 0) return error_ = rc;
    nextBlock_ = uint32_t(2 * (size / PageSize));
    return 0;
}

uint32_t MdxPageWriter::Queue(const PageBuf& page) {
    if (buffered_ == BufferPages) {
        if (error_ == 0) error_ = Flush();
        buffered_ = 0;  // after a failure nothing more is written; the pages are dropped
    }
    std::memcpy(&buffer_[buffered_ * PageSize], page.data(), PageSize);
    uint32_t block = nextBlock_;
    if (free_ != nullptr && !free_->empty()) {
        block = free_->front();
        free_->pop_front();
    } else {
        nextBlock_ += 2;
    }
    blocks_[buffered_++] = block;
    return block;
}

uint16_t MdxPageWriter::Flush() {
    if (buffered_ == 0) return 0;
    // The buffer goes out in pieces of a few pages: a file written in large pieces is kept
    // by the system's cache in large units, and every later one-page rewrite (key
    // maintenance) then costs as much as a rewrite of the whole unit.
    // Pages at neighbouring blocks go out together.
    uint16_t rc = 0;
    for (size_t at = 0; at < buffered_ && rc == 0;) {
        size_t n = 1;
        while (at + n < buffered_ && n < WritePiecePages &&
               blocks_[at + n] == blocks_[at] + uint32_t(2 * n))
            ++n;
        rc = file_->WritePages(blocks_[at], &buffer_[at * PageSize], n);
        at += n;
    }
    buffered_ = 0;
    return rc;
}

uint16_t MdxPageWriter::Add(const uint8_t* key, uint32_t recno) {
    if (error_ != 0) return error_;
    if (Count(levels_[0]) >= perPage_) {
        PageBuf& leaf = levels_[0];  // not used once levels_ may grow
        // The full leaf is queued; its block climbs as an entry carrying the leaf's last key,
        // or as the trailing number of a full branch page, which is queued in turn.
        uint8_t lastKey[MaxKeyLength];
        std::memcpy(lastKey, EntryAt(leaf, Count(leaf) - 1) + 4, size_t(keyLength_));
        uint32_t block = Queue(levels_[0]);
        for (size_t level = 1;; ++level) {
            if (level == levels_.size()) levels_.push_back(PageBuf{});
            PageBuf& page = levels_[level];
            int n = Count(page);
            if (n < perPage_) {
                uint8_t* e = EntryAt(page, n);
                Put32(e, block);
                std::memcpy(e + 4, lastKey, size_t(keyLength_));
                Put16(&page[Pg::Count], uint16_t(n + 1));
                break;
            }
            Put32(EntryAt(page, n), block);
            block = Queue(page);
            page.fill(0);
        }
        levels_[0].fill(0);  // (levels_ may have grown: no reference held across it)
        if (error_ != 0) return error_;
    }
    PageBuf& leaf = levels_[0];
    int n = Count(leaf);
    uint8_t* e = EntryAt(leaf, n);
    Put32(e, recno);
    std::memcpy(e + 4, key, size_t(keyLength_));
    Put16(&leaf[Pg::Count], uint16_t(n + 1));
    ++items_;
    return 0;
}

uint16_t MdxPageWriter::Finish(uint32_t* root) {
    if (error_ != 0) return error_;
    uint32_t block = Queue(levels_[0]);
    for (size_t level = 1; level < levels_.size(); ++level) {
        PageBuf& page = levels_[level];
        int n = Count(page);
        if (n == 0) continue;
        Put32(EntryAt(page, n), block);
        block = Queue(page);
    }
    if (error_ != 0) return error_;
    uint16_t rc = Flush();
    if (rc != 0) return error_ = rc;
    *root = block;
    return 0;
}

}  // namespace Mdx
