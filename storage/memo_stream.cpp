// Byte-stream (BLOB) access to one memo of an area, and the text-file view of the edit
// buffer (AssignMemo).
#include <algorithm>
#include <cstring>

#include "storage/code_page.h"
#include "storage/memo.h"
#include "storage/tz_common.h"

namespace Memo {

using TzCommon::SetError;
using namespace detail;

namespace {

constexpr int64_t kMaxPiece = 32767;

bool IsDb4Header(const uint8_t* h) {
    return h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00 &&
           GetLE32(h + 4) >= kGroupHeaderSize;
}

void ResetBlob(BlobState& b) {
    b = BlobState();
}

void Decide(BlobState& b, const uint8_t* p, size_t n) {
    if (b.translate == 2) b.translate = std::memchr(p, 0, n) == nullptr ? 1 : 0;
}

}  // namespace

bool OpenBlobStream(WorkArea& area, int32_t block, uint8_t mode, bool autoTranslate, int64_t size) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) {
        ReportNoMemo(&area, "OpenBlobStream");
        return false;
    }
    if (d->blob.open) CloseBlobStream(area);
    BlobState& b = d->blob;
    ResetBlob(b);
    b.mode = mode;
    b.useCache = area.oemToAnsi != nullptr || area.ansiToOem != nullptr;
    b.translate = autoTranslate ? 2 : 0;
    uint64_t fileSize = FileSize(*d);
    if (mode == kBlobRead) {
        b.block = block;
        if (block == 0) {  // no memo: an empty stream
            b.length = 0;
            b.open = true;
            return true;
        }
        int64_t blk = block < 0 ? -int64_t(block) : block;
        uint64_t off = uint64_t(blk) * d->blockSize;
        if (fileSize == 0 || off >= fileSize - 1) {
            SetError(TzErr::InvalidMemoAddress, d->fileName + " Record # " +
                                                    std::to_string(area.recNo) +
                                                    " [CreateBlobDescriptor]");
            return false;
        }
        uint8_t h[kGroupHeaderSize] = {};
        size_t got = 0;
        d->file.ReadAt(off, h, sizeof h, &got);
        b.dataStart = off;
        if (d->type == kFoxPro && block > 0) {
            if (got != sizeof h) {
                SetError(TzErr::ReadFault, d->fileName + " [CreateBlobDescriptor]");
                return false;
            }
            b.length = GetBE32(h + 4);
            b.dataStart = off + kGroupHeaderSize;
            b.headerSize = kGroupHeaderSize;
        } else if ((d->type == kDbase4 || block < 0) && got == sizeof h && IsDb4Header(h)) {
            b.length = GetLE32(h + 4) - kGroupHeaderSize;
            b.dataStart = off + kGroupHeaderSize;
            b.headerSize = kGroupHeaderSize;
        }
        // A stored length is never trusted beyond the end of the file.
        if (b.length > 0 && uint64_t(b.length) > fileSize - b.dataStart) {
            SetError(TzErr::InvalidMemoAddress,
                     d->fileName + " Memo block # " + std::to_string(block) + " Record # " +
                         std::to_string(area.recNo) + " [CreateBlobDescriptor]");
            ResetBlob(b);
            return false;
        }
        b.open = true;
        return true;
    }
    if (mode != kBlobWrite) return false;
    if (size >= 0 && tz::DiskFreeKB(d->fileName) <= size / 1024) {
        SetError(TzErr::DiskFull, d->fileName + " [CreateBlobDescriptor]");
        return false;
    }
    int64_t end = LockMemoPadAndSeekEOF(area, *d, "CreateBlobDescriptor");
    if (end < 0) return false;
    int32_t at = int32_t(end / d->blockSize);
    if (d->type == kDbase4 && size >= 0) {
        int32_t needed = int32_t((size + int64_t(kGroupHeaderSize)) / d->blockSize + 1);
        int32_t old = block > 0 ? block : 0;
        if (old > 0) {
            uint8_t h[kGroupHeaderSize];
            size_t got = 0;
            uint64_t off = uint64_t(old) * d->blockSize;
            if (d->file.ReadAt(off, h, sizeof h, &got) != 0 || got != sizeof h || !IsDb4Header(h) ||
                off + GetLE32(h + 4) > FileSize(*d)) {
                old = 0;
            } else {
                uint32_t total = GetLE32(h + 4);
                if (int32_t(total / d->blockSize + 1) < needed) {
                    ReleaseBlocks(*d, old, (total + d->blockSize - 1) / d->blockSize,
                                  " [CreateBlobDescriptor]");
                    old = 0;
                }
            }
        }
        at = AllocateBlocks(area, *d, needed, old, " [CreateBlobDescriptor]");
        if (at == 0) {
            UnlockMemo(area, *d);
            return false;
        }
    }
    b.block = at;
    b.length = size;
    b.headerSize = d->type == kDbase3 ? 0 : uint32_t(kGroupHeaderSize);
    b.dataStart = uint64_t(at) * d->blockSize + b.headerSize;
    b.open = true;
    return true;
}

int64_t ReadBlobStream(WorkArea& area, void* buf, int64_t count) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr || !d->blob.open || d->blob.mode != kBlobRead || count < 1) return 0;
    BlobState& b = d->blob;
    uint64_t fileSize = FileSize(*d);
    int64_t avail =
        b.dataStart + b.position < fileSize ? int64_t(fileSize - b.dataStart - b.position) : 0;
    count = std::min(count, avail);
    if (b.length >= 0) count = std::min(count, std::max<int64_t>(0, b.length - b.position));
    uint8_t* out = static_cast<uint8_t*>(buf);
    int64_t done = 0;
    while (done < count) {
        int64_t n = std::min(kMaxPiece, count - done);
        size_t got = 0;
        uint16_t rc = d->file.ReadAt(b.dataStart + b.position, out + done, size_t(n), &got);
        if (rc != 0) {
            std::string name = d->fileName;
            int32_t block = b.block;
            ResetBlob(b);
            SetError(rc, std::to_string(block) + " " + name + " Record # " +
                             std::to_string(area.recNo) + " [ReadBlobStream]");
            return done;
        }
        // A memo of unknown length ends at its first 0x1A: nothing behind the mark (the
        // zero padding, the next memo) is delivered, in this call or a later one.
        bool ended = false;
        if (b.length < 0) {
            uint8_t* stop = static_cast<uint8_t*>(std::memchr(out + done, kEndOfMemo, got));
            if (stop != nullptr) {
                got = size_t(stop - (out + done));
                b.length = b.position + int64_t(got);
                ended = true;
            }
        }
        Decide(b, out + done, got);
        if (area.oemToAnsi != nullptr) area.oemToAnsi(out + done, got);
        if (b.translate == 1) tz::OemToAnsiBuf(out + done, got);
        b.position += int64_t(got);
        done += int64_t(got);
        if (ended || int64_t(got) < n || got == 0) break;
    }
    return done;
}

int64_t WriteBlobStream(WorkArea& area, const void* buf, int64_t count) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr || !d->blob.open || d->blob.mode != kBlobWrite || count < 1) return 0;
    BlobState& b = d->blob;
    if (b.length >= 0) count = std::min(count, std::max<int64_t>(0, b.length - b.position));
    const uint8_t* in = static_cast<const uint8_t*>(buf);
    int64_t done = 0;
    std::vector<uint8_t> piece;
    while (done < count) {
        int64_t n = std::min(kMaxPiece, count - done);
        piece.assign(in + done, in + done + n);
        Decide(b, piece.data(), piece.size());
        if (b.translate == 1) tz::AnsiToOemBuf(piece.data(), piece.size());
        if (area.ansiToOem != nullptr) area.ansiToOem(piece.data(), piece.size());
        if (uint16_t rc = d->file.WriteAt(b.dataStart + b.position, piece.data(), piece.size())) {
            SetError(rc, d->fileName + " [WriteBlobStream]");
            break;
        }
        b.position += n;
        done += n;
        b.written = std::max(b.written, b.position);
    }
    return done;
}

int64_t SeekBlobStream(WorkArea& area, int64_t offset, int origin) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr || !d->blob.open) return 0;
    BlobState& b = d->blob;
    int64_t base = 0;
    if (origin == 1) {
        base = b.position;
    } else if (origin == 2) {
        if (b.mode == kBlobWrite) {
            base = b.written;
        } else {
            if (b.length < 0) {  // find the end mark
                uint64_t fileSize = FileSize(*d);
                int64_t at = 0;
                std::vector<uint8_t> chunk(kChunk);
                for (;;) {
                    size_t got = 0;
                    if (b.dataStart + at >= fileSize ||
                        d->file.ReadAt(b.dataStart + at, chunk.data(), chunk.size(), &got) != 0 ||
                        got == 0)
                        break;
                    void* stop = std::memchr(chunk.data(), kEndOfMemo, got);
                    if (stop != nullptr) {
                        at += static_cast<uint8_t*>(stop) - chunk.data();
                        break;
                    }
                    at += int64_t(got);
                }
                b.length = at;
            }
            base = b.length;
        }
    }
    b.position = std::max<int64_t>(0, base + offset);
    return b.position;
}

int32_t CloseBlobStream(WorkArea& area) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr || !d->blob.open) return 0;
    BlobState& b = d->blob;
    int32_t result = 0;
    if (b.mode == kBlobWrite) {
        bool ok = true;
        if (b.written > 0) {
            if (d->type == kDbase3) {
                uint8_t mark = kEndOfMemo;
                if (d->file.WriteAt(b.dataStart + uint64_t(b.written), &mark, 1) != 0) {
                    SetError(TzErr::WriteFault, d->fileName + " [CloseBlobStream]");
                    ok = false;
                }
            } else {
                ok = WriteGroupHeader(*d, d->type, b.block, uint32_t(b.written));
            }
            if (ok) result = b.block;
        }
        d->file.Sync();
        if (ok && b.written > 0)
            UpdateMemoHeader(area, *d);
        else
            UnlockMemo(area, *d);
    }
    ResetBlob(b);
    return result;
}

BlobStream::BlobStream(WorkArea& area, int32_t block, uint8_t mode, bool autoTranslate,
                       int64_t size)
    : area_(&area) {
    ok_ = OpenBlobStream(area, block, mode, autoTranslate, size);
}

BlobStream::~BlobStream() {
    if (ok_ && !closed_) Close();
}

std::string BlobStream::ReadAll() {
    std::string s;
    char buf[4096];
    for (;;) {
        int64_t n = Read(buf, sizeof buf);
        if (n <= 0) break;
        s.append(buf, size_t(n));
    }
    return s;
}

int32_t BlobStream::Close() {
    if (!ok_ || closed_) return 0;
    closed_ = true;
    return CloseBlobStream(*area_);
}

// ---- AssignMemo ----

namespace {
constexpr size_t kReadWidth = 253;
constexpr size_t kWriteWidth = 254;
}  // namespace

void MemoTextFile::AssignMemo(WorkArea& area, int32_t* blockVar) {
    area_ = &area;
    blockVar_ = blockVar;
    mode_ = 0;
}

int MemoTextFile::Reset() {
    if (area_ == nullptr || blockVar_ == nullptr) return TzErr::FileNotAssigned;
    Editor().exists = true;
    if (!GetMemo(*area_, *blockVar_)) return TzErr::DiskReadError;
    mode_ = 1;
    next_ = 0;
    return 0;
}

int MemoTextFile::Rewrite() {
    if (area_ == nullptr || blockVar_ == nullptr) return TzErr::FileNotAssigned;
    ClearEditor();
    Editor().exists = true;
    oldBlock_ = *blockVar_;
    *blockVar_ = 0;
    mode_ = 2;
    written_ = false;
    overflow_ = false;
    closedByCr_ = false;
    return 0;
}

int MemoTextFile::Append() {
    if (area_ == nullptr || blockVar_ == nullptr) return TzErr::FileNotAssigned;
    Editor().exists = true;
    if (!GetMemo(*area_, *blockVar_)) return TzErr::DiskReadError;
    oldBlock_ = *blockVar_;
    mode_ = 2;
    written_ = false;
    overflow_ = false;
    closedByCr_ = false;
    return 0;
}

int MemoTextFile::ReadLn(std::string* line, uint8_t* lineEnd) {
    line->clear();
    if (mode_ != 1) return TzErr::FileNotAssigned;
    if (!Editor().exists) return TzErr::FileNotOpenForInput;
    const auto& lines = Editor().lines;
    if (next_ >= lines.size()) return 0;
    *line = lines[next_].text.substr(0, kReadWidth);
    if (lineEnd) *lineEnd = lines[next_].lineEnd;
    ++next_;
    return 0;
}

bool MemoTextFile::Eof() const {
    return mode_ != 1 || next_ >= Editor().lines.size();
}

void MemoTextFile::CloseLine(uint8_t end) {
    EditBuffer& e = Editor();
    if (e.lines.size() >= settings().maxLines) {
        overflow_ = true;
        return;
    }
    e.lines.push_back({e.pending, end});
    e.pending.clear();
    e.hasPending = false;
}

void MemoTextFile::PutChar(uint8_t c) {
    EditBuffer& e = Editor();
    if (c == 13 || c == kSoftReturn) {
        CloseLine(c);
        closedByCr_ = true;
        return;
    }
    if (c == 10) {
        if (!closedByCr_) CloseLine(13);
        closedByCr_ = false;
        return;
    }
    closedByCr_ = false;
    if (e.pending.size() >= kWriteWidth) CloseLine(kSoftReturn);
    if (overflow_) return;
    e.pending += char(c);
    e.hasPending = true;
}

int MemoTextFile::Write(std::string_view text) {
    if (mode_ != 2) return TzErr::FileNotAssigned;
    if (!Editor().exists) return TzErr::FileNotOpenForInput;
    written_ = true;
    for (char c : text) PutChar(uint8_t(c));
    return overflow_ ? TzErr::DiskWriteError : 0;
}

int MemoTextFile::WriteLn(std::string_view text) {
    std::string s(text);
    s += "\r\n";
    return Write(s);
}

int MemoTextFile::Flush() {
    if (mode_ != 2) return 0;
    if (Editor().hasPending) CloseLine(13);
    closedByCr_ = false;
    return overflow_ ? TzErr::DiskWriteError : 0;
}

int MemoTextFile::Close() {
    int rc = 0;
    if (mode_ == 2 && written_) {
        bool hasText = !Editor().lines.empty() || Editor().hasPending;
        int32_t block = EditMemo(*area_, oldBlock_);
        *blockVar_ = block;
        if (block == 0 && hasText) rc = TzErr::DiskWriteError;
    }
    if (overflow_ && rc == 0) rc = TzErr::DiskWriteError;
    mode_ = 0;
    ClearEditor();
    Editor().exists = false;
    return rc;
}

}  // namespace Memo
