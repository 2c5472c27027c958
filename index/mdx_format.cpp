#include "index/mdx_format.h"

#include <algorithm>
#include <cstring>

#include "storage/tz_common.h"

namespace Mdx {

uint16_t ReportError(uint16_t code, const std::string& message) {
    TzCommon::SetError(code, message);
    if (!TzCommon::ErrorCheckingOn()) {
        throw TzCommon::ETzError(TzCommon::ErrorText(code) + "\r\n" + message);
    }
    return code;
}

int EntryLengthFor(char keyType, int keyLength) {
    int extra;
    switch (keyType) {
        case 'C':
        case 'D':
            extra = 4;
            break;
        case 'N':
        case 'F':
            extra = 8;
            break;
        default:
            return 0;
    }
    int len = keyLength + extra;
    if (keyLength % 4 != 0) len += 4 - keyLength % 4;
    return len;
}

namespace {

std::string ZeroText(const uint8_t* p, size_t max) {
    size_t n = 0;
    while (n < max && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

std::string Upper(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    }
    return s;
}

}  // namespace

std::string TagHeader::Expression() const {
    return ZeroText(&raw[Tag::Expression], Tag::TextSize);
}
std::string TagHeader::ForCondition() const {
    return ZeroText(&raw[Tag::ForCondition], Tag::TextSize);
}

uint16_t MakeTagHeader(char keyType, int keyLength, const std::string& expression,
                       const std::string& forCondition, bool unique, bool descending,
                       TagHeader* out) {
    int fixed = keyType == 'D' ? 8 : (keyType == 'N' || keyType == 'F') ? 12 : 0;
    if (keyType != 'C' && fixed == 0) {
        return ReportError(TzErr::InternalError, "Wrong parser return type [AddIndexTag()]");
    }
    if (keyLength < 1 || keyLength > MaxKeyLength || (fixed != 0 && keyLength != fixed)) {
        return ReportError(TzErr::InvalidSize,
                           "Incorrect key length: Must be 1 to 100. [AddIndexTag()]");
    }
    if (expression.size() > Tag::TextSize - 1 || forCondition.size() > Tag::TextSize - 1) {
        return ReportError(TzErr::ExpressionTooLong,
                           "Expression length exceeds 100 bytes [AddIndexTag()]");
    }
    TagHeader& t = *out;
    t.raw.fill(0);
    t.block = 0;
    int entry = EntryLengthFor(keyType, keyLength);
    t.raw[Tag::KeyFlags] = uint8_t(Tag::FlagAlways | (descending ? Tag::FlagDescending : 0) |
                                   (unique ? Tag::FlagUnique : 0));
    t.raw[Tag::KeyType] = uint8_t(keyType);
    Put16(&t.raw[Tag::KeyLength], uint16_t(keyLength));
    Put16(&t.raw[Tag::KeysPerPage], uint16_t(Pg::Usable / entry));
    Put16(&t.raw[Tag::NotChar], keyType == 'C' ? 0 : 1);
    Put16(&t.raw[Tag::EntryLength], uint16_t(entry));
    t.raw[Tag::Unique] = unique ? 1 : 0;
    std::memcpy(&t.raw[Tag::Expression], expression.data(), expression.size());
    if (!forCondition.empty()) {
        t.raw[Tag::HasFor] = 1;
        std::memcpy(&t.raw[Tag::ForCondition], forCondition.data(), forCondition.size());
    }
    return 0;
}

// ---- MdxFile -----------------------------------------------------------------------------

MdxFile::~MdxFile() {
    if (file_.IsOpen()) file_.Close();
}

uint16_t MdxFile::Create(const std::string& name, const std::string& tableName, int year, int month,
                         int day, tz::ShareMode share) {
    Close();
    name_ = name;
    failed_ = false;
    uint16_t rc = file_.Create(name, share);
    if (rc != 0) return ReportError(rc, "Cannot create index file: " + name + " [MakeIndex]");
    header_.fill(0);
    header_[Hdr::Version] = 2;
    header_[Hdr::CreateYear] = header_[Hdr::UpdateYear] = uint8_t(year % 100);
    header_[Hdr::CreateMonth] = header_[Hdr::UpdateMonth] = uint8_t(month);
    header_[Hdr::CreateDay] = header_[Hdr::UpdateDay] = uint8_t(day);
    // The table's file name without folder and extension.
    std::string base = tableName;
    size_t slash = base.find_last_of("/\\:");
    if (slash != std::string::npos) base = base.substr(slash + 1);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos) base.resize(dot);
    if (base.size() > Hdr::TableNameSize - 1) base.resize(Hdr::TableNameSize - 1);
    std::memcpy(&header_[Hdr::TableName], base.data(), base.size());
    Put16(&header_[Hdr::BlocksPerPage], 2);
    Put16(&header_[Hdr::PageLength], uint16_t(PageSize));
    header_[Hdr::Production] = 1;
    header_[Hdr::TagSlots] = uint8_t(Ent::Slots);
    header_[Hdr::TagEntryLength] = uint8_t(Ent::Size);
    size_ = fileLen_ = 0;
    mapFailed_ = false;
    InvalidateCache();
    rc = WriteAt(0, header_.data(), header_.size(), "[MakeIndex]");
    if (rc != 0) return rc;
    size_ = HeaderAreaSize;
    headerChanged_ = false;
    return 0;
}

uint16_t MdxFile::Open(const std::string& name, tz::Access access, tz::ShareMode share) {
    Close();
    name_ = name;
    failed_ = false;
    headerChanged_ = false;
    const std::string failure = "Unable to open index: " + name + " [OpenIndex/Set_Index_To]";
    uint16_t rc = file_.Open(name, access, share);
    if (rc != 0) return ReportError(rc, failure);
    uint64_t size = 0;
    size_t got = 0;
    rc = file_.Size(&size);
    if (rc == 0 && size >= MinFileSize) rc = file_.ReadAt(0, header_.data(), header_.size(), &got);
    if (rc != 0 || size < MinFileSize || got != header_.size()) {
        file_.Close();
        return ReportError(TzErr::CorruptedIndex, failure);
    }
    size_ = fileLen_ = size;
    mapFailed_ = false;
    InvalidateCache();
    return 0;
}

uint16_t MdxFile::Close() {
    if (!file_.IsOpen()) return 0;
    uint16_t rc = 0;
    if (!dirty_.empty() && !failed_) rc = FlushDirty();
    dirty_.clear();
    reused_.clear();
    checked_ = {};
    if (rc == 0 && headerChanged_ && !failed_) rc = FlushHeader();
    uint16_t closeRc = file_.Close();
    InvalidateCache();
    if (rc == 0 && closeRc != 0) {
        rc = ReportError(closeRc, "Error closing index file:  " + name_);
    }
    return rc;
}

uint32_t MdxFile::TagHeaderBlock(int n) const {
    if (n < 1 || n > MaxTags) return 0;
    return Get32(&header_[Ent::TableOffset + n * Ent::Size + Ent::HeaderBlock]);
}

int MdxFile::TagAtBlock(uint32_t block) const {
    const int used = std::min(TagsInUse(), MaxTags);
    for (int n = 1; n <= used; ++n) {
        const uint32_t h = TagHeaderBlock(n);
        if (h == block || (block > 0 && h == block - 1)) return n;
    }
    return 0;
}

std::string MdxFile::TagName(int n) const {
    if (n < 1 || n > MaxTags) return std::string();
    return ZeroText(&header_[Ent::TableOffset + n * Ent::Size + Ent::Name], Ent::NameSize - 1);
}

char MdxFile::TagKeyType(int n) const {
    if (n < 1 || n > MaxTags) return 0;
    return char(header_[Ent::TableOffset + n * Ent::Size + Ent::KeyType]);
}

int MdxFile::FindTag(const std::string& name) const {
    std::string up = Upper(name);
    int used = std::min(TagsInUse(), MaxTags);
    for (int n = 1; n <= used; ++n) {
        if (TagName(n) == up) return n;
    }
    return 0;
}

void MdxFile::SetTagHeaderBlock(int n, uint32_t block) {
    if (n < 1 || n > MaxTags) return;
    Put32(&header_[Ent::TableOffset + n * Ent::Size + Ent::HeaderBlock], block);
    SetBlockMark(block);
}

void MdxFile::SetBlockMark(uint32_t value) {
    Put32(&header_[Hdr::BlockMark], value);
    headerChanged_ = true;
}

uint16_t MdxFile::FlushHeader() {
    if (!headerChanged_) return 0;
    if (uint16_t rc = FlushDirty()) return rc;
    uint16_t rc = WriteAt(0, header_.data(), header_.size(), "[SeekAndWrite]");
    if (rc == 0) headerChanged_ = false;
    return rc;
}

uint16_t MdxFile::ReloadHeader() {
    size_t got = 0;
    uint16_t rc = ReadBytes(0, header_.data(), header_.size(), &got);
    if (rc != 0 || got != header_.size()) {
        return ReportError(rc ? rc : TzErr::CorruptedIndex,
                           "Error reading index file: " + name_ + " [SeekAndRead]");
    }
    headerChanged_ = false;
    return 0;
}

uint16_t MdxFile::ReadTagHeader(int n, TagHeader* out) {
    if (n < 1 || n > std::min(TagsInUse(), MaxTags)) {
        return ReportError(TzErr::InvalidParameter,
                           "Invalid tag number " + std::to_string(n) + " in " + name_);
    }
    uint32_t block = TagHeaderBlock(n);
    const uint64_t end = uint64_t(block) * BlockSize + Tag::Size;
    if (block >= FirstPageBlock && end > fileLen_) RefreshLength();
    if (block < FirstPageBlock || end > fileLen_) {
        return Corrupt(block, "tag header of tag " + std::to_string(n) + " out of the file");
    }
    // Two tags at one header: the file's tag table points wrongly.
    for (int m = 1; m <= std::min(TagsInUse(), MaxTags); ++m) {
        if (m != n && TagHeaderBlock(m) == block) {
            return Corrupt(
                block, "tag " + std::to_string(n) + " at the header of tag " + std::to_string(m));
        }
    }
    out->raw.fill(0);
    out->block = block;
    size_t got = 0;
    uint16_t rc = ReadBytes(uint64_t(block) * BlockSize, out->raw.data(), Tag::Size, &got);
    if (rc != 0) return ReportError(rc, "Error reading index file: " + name_ + " [SeekAndRead]");
    if (got != Tag::Size) return Corrupt(block, "short tag header");
    return CheckTagHeader(*out);
}

// Every field the tree sizes its buffers and pages by, against its key type and the page:
// a damaged header must fail here, not send the tree past a buffer. 64-bit arithmetic
// throughout (two 16-bit fields multiplied overflow an int). The root block is checked
// against the file where its page is read.
uint16_t MdxFile::CheckTagHeader(const TagHeader& h) {
    const uint32_t block = h.block;
    const char type = h.KeyType();
    const int64_t len = h.KeyLength();
    const int64_t entry = h.EntryLength();
    const int64_t perPage = h.KeysPerPage();
    if (EntryLengthFor(type, 1) == 0) return Corrupt(block, "key type");
    const int64_t fixed = type == 'D' ? 8 : (type == 'N' || type == 'F') ? 12 : 0;
    if (len < 1 || len > MaxKeyLength || (fixed != 0 && len != fixed)) {
        return Corrupt(block, "key length");
    }
    if (entry < len + 4 || perPage < 2 || perPage * entry > int64_t(Pg::Usable)) {
        return Corrupt(block, "entry length or keys per page");
    }
    return 0;
}

uint16_t MdxFile::WriteTagHeader(const TagHeader& tag) {
    if (tag.block < FirstPageBlock) return Corrupt(tag.block, "tag header block");
    if (uint16_t rc = FlushDirty()) return rc;
    return WriteAt(uint64_t(tag.block) * BlockSize, tag.raw.data(), Tag::Size, "[SeekAndWrite]");
}

uint16_t MdxFile::AppendTagHeader(TagHeader* tag) {
    uint64_t size = 0;
    uint16_t rc = FlushDirty();
    if (rc == 0) rc = FileSize(&size);
    if (rc != 0) return rc;
    return PutTagHeader(tag, uint32_t((size + PageSize - 1) / PageSize * 2));
}

uint16_t MdxFile::PutTagHeader(TagHeader* tag, uint32_t block) {
    if (block < FirstPageBlock) return Corrupt(block, "tag header inside the header area");
    if (uint16_t rc = FlushDirty()) return rc;
    PageBuf buf{};
    std::memcpy(buf.data(), tag->raw.data(), Tag::Size);
    uint16_t rc = WriteAt(uint64_t(block) * BlockSize, buf.data(), buf.size(), "[MakeIndex]");
    if (rc != 0) return rc;
    tag->block = block;
    size_ = std::max<uint64_t>(size_, uint64_t(block) * BlockSize + PageSize);
    return 0;
}

uint16_t MdxFile::EnterTag(const std::string& name, const TagHeader& tag, int* tagNo) {
    std::string up = Upper(name);
    if (up.size() > Ent::NameSize - 1) up.resize(Ent::NameSize - 1);
    RemoveTagEntry(up);
    if (TagsInUse() >= MaxTags) {
        return ReportError(TzErr::InvalidParameter,
                           "Too many tags in index file: " + name_ + " [AddIndexTag()]");
    }
    // The new tag always goes last.
    const int n = TagsInUse() + 1;
    header_[Hdr::TagsInUse] = uint8_t(n);
    uint8_t* e = &header_[Ent::TableOffset + n * Ent::Size];
    std::memset(e, 0, Ent::Size);
    Put32(e + Ent::HeaderBlock, tag.block);
    std::memcpy(e + Ent::Name, up.data(), up.size());
    e[Ent::Two] = 2;
    e[Ent::KeyType] = uint8_t(tag.KeyType());
    RebuildNameTree();
    // The block mark after a build: the tag header's block (the root page's block + 2).
    SetBlockMark(tag.block);
    if (tagNo) *tagNo = n;
    return 0;
}

// The entry named `up` gives way: the last entry takes its place and the tag count falls by
// one. Its pages stay in the file. Only an equal name counts: a tag whose name merely
// begins with the new name (BRUGERNAVN for BRUGER) is another tag and stays, and so does an
// entry whose name field has no ending zero (FindTag would take its first ten characters).
// The name tree is left to the caller, which rebuilds it after entering the new tag.
void MdxFile::RemoveTagEntry(const std::string& up) {
    const int used = std::min(TagsInUse(), MaxTags);
    auto entry = [&](int n) { return &header_[Ent::TableOffset + n * Ent::Size]; };
    for (int n = 1; n <= used; ++n) {
        const uint8_t* name = entry(n) + Ent::Name;
        if (std::memcmp(name, up.data(), up.size()) != 0 || name[up.size()] != 0) continue;
        if (n != used) std::memcpy(entry(n), entry(used), Ent::Size);
        std::memset(entry(used), 0, Ent::Size);
        header_[Hdr::TagsInUse] = uint8_t(used - 1);
        return;
    }
}

void MdxFile::RebuildNameTree() {
    int used = std::min(TagsInUse(), MaxTags);
    auto entry = [&](int n) { return &header_[Ent::TableOffset + n * Ent::Size]; };
    for (int n = 1; n <= used; ++n) {
        entry(n)[Ent::Left] = entry(n)[Ent::Right] = entry(n)[Ent::Parent] = 0;
    }
    for (int n = 2; n <= used; ++n) {
        int at = 1;
        for (;;) {
            bool left = std::memcmp(entry(n) + Ent::Name, entry(at) + Ent::Name, Ent::NameSize) < 0;
            uint8_t& link = entry(at)[left ? Ent::Left : Ent::Right];
            if (link == 0) {
                link = uint8_t(n);
                entry(n)[Ent::Parent] = uint8_t(at);
                break;
            }
            at = link;
        }
    }
    headerChanged_ = true;
}

// ---- Pages -------------------------------------------------------------------------------

uint16_t MdxFile::Corrupt(uint32_t block, const std::string& what) {
    damaged_ = true;
    return ReportError(TzErr::CorruptedIndex, "Corrupted index file: " + name_ + ", block " +
                                                  std::to_string(block) + ": " + what +
                                                  " [GetNode]");
}

uint16_t MdxFile::FileSize(uint64_t* size) {
    uint16_t rc = file_.Size(size);
    if (rc != 0) return ReportError(rc, "Error reading index file: " + name_ + " [SeekAndRead]");
    return 0;
}

uint16_t MdxFile::RefreshLength() {
    uint64_t now = 0;
    uint16_t rc = FileSize(&now);
    if (rc != 0) return rc;
    fileLen_ = now;
    size_ = std::max(size_, now);
    return 0;
}

// A copy that fails found the file cut short by another program since its length was
// seen: the mapping goes, and reads go through ReadAt, which reports what is missing. A
// cut inside a memory page shows zeros past the new end with no fault: bytes that end in
// a zero (pages do, as a rule) are checked against the file (see MappedBytesInFile).
bool MdxFile::CopyFromMap(uint64_t off, uint8_t* out, size_t n) {
    if (file_.ReadMappedInFile(off, out, n, fileLen_) == 0) return true;
    mapFailed_ = true;
    file_.Unmap();
    return false;
}

uint16_t MdxFile::ReadBytes(uint64_t off, uint8_t* out, size_t n, size_t* got) {
    const uint64_t end = off + n;
    if (end <= fileLen_ && mapWanted_ && !mapFailed_) {
        if (end > file_.MapLength()) {
            // Mapped past the end, so that pages appended later (here or by another
            // station) are reached without mapping again.
            constexpr uint64_t round = 1ull << 20;
            uint64_t length = std::max(2 * std::max(fileLen_, end), MapReserve);
            length = (length + round - 1) / round * round;
            const uint8_t* view = nullptr;
            if (file_.Map(length, &view) != 0) mapFailed_ = true;
        }
        if (end <= file_.MapLength() && CopyFromMap(off, out, n)) {
            *got = n;
            return 0;
        }
    }
    return file_.ReadAt(off, out, n, got);
}

uint16_t MdxFile::ReadPage(uint32_t block, PageBuf* out) {
    if (!dirty_.empty()) {
        auto kept = dirty_.find(block);
        if (kept != dirty_.end()) {
            *out = kept->second;
            return 0;
        }
    }
    if (block < FirstPageBlock) return Corrupt(block, "page number inside the header area");
    const uint64_t off = uint64_t(block) * BlockSize;
    const uint64_t end = off + PageSize;
    if (end <= fileLen_ && end <= file_.MapLength() && CopyFromMap(off, out->data(), PageSize))
        return 0;
    if (end > fileLen_) {
        // Perhaps another station's page: look at the length again.
        if (uint16_t rc = RefreshLength()) return rc;
        if (end > fileLen_) return Corrupt(block, "page number past the end of the file");
    }
    size_t got = 0;
    uint16_t rc = ReadBytes(off, out->data(), PageSize, &got);
    if (rc != 0) return ReportError(rc, "Error reading index file: " + name_ + " [SeekAndRead]");
    if (got != PageSize) return Corrupt(block, "short page");
    return 0;
}

uint16_t MdxFile::WritePage(uint32_t block, PageBuf& page) {
    if (block < FirstPageBlock) return Corrupt(block, "page number inside the header area");
    Put16(&page[Pg::Zero], 0);
    if (writeBack_ && !failed_) {
        ++generation_;
        ForgetChecked(uint64_t(block) * BlockSize, PageSize);
        dirty_[block] = page;
        size_ = std::max<uint64_t>(size_, (uint64_t(block) + 2) * BlockSize);
        return 0;
    }
    uint16_t rc = WriteAt(uint64_t(block) * BlockSize, page.data(), PageSize, "[SeekAndWrite]");
    if (rc != 0) return rc;
    size_ = std::max<uint64_t>(size_, (uint64_t(block) + 2) * BlockSize);
    return 0;
}

uint16_t MdxFile::AppendPage(PageBuf& page, uint32_t* block) {
    if (!sizeTrusted_) {
        uint64_t size = 0;
        uint16_t rc = FileSize(&size);
        if (rc != 0) return rc;
        // Pages kept for writing lie past the end the file shows.
        size_ = dirty_.empty() ? size : std::max(size_, size);
        sizeTrusted_ = true;
    }
    if (!free_.empty()) {
        *block = free_.front();
        free_.pop_front();
        if (writeBack_ && !failed_) reused_.insert(*block);
        return WritePage(*block, page);
    }
    // Pages start on whole pages (an even block), also after a file cut inside one.
    const uint64_t next = (size_ + PageSize - 1) / PageSize * 2;
    if (next > 0xFFFFFFF0ull) return Corrupt(0, "file too long");
    *block = uint32_t(next);
    uint16_t rc = WritePage(*block, page);
    if (rc != 0) sizeTrusted_ = false;
    return rc;
}

uint16_t MdxFile::WritePages(uint32_t block, const uint8_t* data, size_t pages) {
    if (block < FirstPageBlock) return Corrupt(block, "page number inside the header area");
    if (uint16_t rc = FlushDirty()) return rc;
    uint16_t rc = WriteAt(uint64_t(block) * BlockSize, data, pages * PageSize, "[MakeIndex]");
    if (rc != 0) {
        sizeTrusted_ = false;
        return rc;
    }
    size_ = std::max<uint64_t>(size_, (uint64_t(block) + 2 * pages) * BlockSize);
    return 0;
}

uint16_t MdxFile::WriteAt(uint64_t off, const void* data, size_t n, const char* where,
                          bool ownPages) {
    ++generation_;
    if (!ownPages) ForgetChecked(off, n);
    if (failed_) {
        return ReportError(TzErr::DiskWriteError,
                           "Error writing index file: " + name_ + " " + where);
    }
    uint16_t rc = file_.WriteAt(off, data, n);
    if (rc != 0) {
        failed_ = true;
        dirty_.clear();
        reused_.clear();
        InvalidateCache();
        return ReportError(rc, "Error writing index file: " + name_ + " " + where);
    }
    fileLen_ = std::max(fileLen_, off + n);
    return 0;
}

uint16_t MdxFile::FlushDirty() {
    if (dirty_.empty()) return 0;
    std::map<uint32_t, PageBuf> pages;
    pages.swap(dirty_);
    std::set<uint32_t> reused;
    reused.swap(reused_);
    std::vector<uint8_t> run;
    uint32_t first = 0, next = 0;
    auto write = [&]() -> uint16_t {
        if (run.empty()) return 0;
        // Kept pages had their stamps cleared when kept, and stamped again by the tag that
        // checked them: writing them out changes nothing on them.
        uint16_t rc =
            WriteAt(uint64_t(first) * BlockSize, run.data(), run.size(), "[SeekAndWrite]", true);
        run.clear();
        return rc;
    };
    // Kill tests: a change stopped with part of its pages written (a page split among them
    // when a page lies past the file's written end).
    const uint32_t end = uint32_t(std::min<uint64_t>(fileLen_ / BlockSize, 0xFFFFFFFFu));
    const bool split = pages.rbegin()->first >= end || !reused.empty();
    // The new pages past the written end (and those taken from pages no tag used) go
    // first: a page in place never names a page that is not in the file yet, so a write
    // stopped part-way (a full disk) leaves no page pointing past the end.
    auto pass = [&](bool fresh) -> uint16_t {
        for (const auto& [block, page] : pages) {
            if ((block >= end || reused.count(block) != 0) != fresh) continue;
            if (run.empty() || block != next) {
                if (!run.empty())
                    tz::StopPoint(split ? "ndx-split-part-written" : "ndx-pages-part-written");
                if (uint16_t rc = write()) return rc;
                first = block;
            }
            run.insert(run.end(), page.begin(), page.end());
            next = block + 2;
        }
        return write();
    };
    if (split) {
        if (uint16_t rc = pass(true)) return rc;
        tz::StopPoint("ndx-split-part-written");
    }
    return pass(false);
}

void MdxFile::NotePageChecked(uint32_t block, int tag) {
    const size_t i = block / 2;  // a page read whole, so within the file
    if (i >= checked_.size()) checked_.resize(i + 1 + i / 4, 0);
    checked_[i] = CheckedStamp(tag);
}

void MdxFile::ForgetChecked(uint64_t off, uint64_t n) {
    if (n == 0) return;
    const uint64_t first = off / BlockSize / 2, last = (off + n - 1) / BlockSize / 2;
    for (uint64_t i = first; i <= last && i < checked_.size(); ++i) checked_[i] = 0;
}

void MdxFile::InvalidateCache() {
    ++generation_;
    ++checkEpoch_;
    sizeTrusted_ = false;
    free_.clear();
    if (file_.IsOpen()) {
        uint64_t now = 0;
        if (file_.Size(&now) == 0) size_ = fileLen_ = now;
    } else {
        fileLen_ = 0;
    }
}

void MdxFile::SetMapping(bool on) {
    mapWanted_ = on;
    if (!on) file_.Unmap();
}

}  // namespace Mdx
