// Memo files: creation, open and close, the header and block-header helpers, the memo lock,
// the dBASE IV free-block chain, reading a memo into the edit buffer, AddMemo and EditMemo.
#include "storage/memo.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "storage/dbf4.h"
#include "storage/hooks.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace Memo {

using TzCommon::SetError;

uint64_t MemoLockOffset() {
    return Dbf4::AppendByte();
}
uint64_t MemoLockLength() {
    return Dbf4::settings().fileLockLength;
}

namespace detail {

uint32_t piecesRead = 0;
uint32_t releasedBlocks = 0;

uint32_t GetLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t GetBE32(const uint8_t* p) {
    return uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[0]) << 24;
}
uint16_t GetLE16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint16_t GetBE16(const uint8_t* p) {
    return uint16_t(p[1] | p[0] << 8);
}
void PutLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void PutBE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[3 - i] = uint8_t(v >> (8 * i));
}
void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
void PutBE16(uint8_t* p, uint16_t v) {
    p[1] = uint8_t(v);
    p[0] = uint8_t(v >> 8);
}

uint64_t FileSize(MemoDescriptor& d) {
    uint64_t size = 0;
    if (d.file.Size(&size) != 0) return 0;
    return size;
}

bool Shared(const WorkArea& area) {
    return Dbf4::settings().sharing && !area.exclusive;
}

bool LockMemo(WorkArea& area, MemoDescriptor& d, const std::string& routine) {
    if (d.locked || !Shared(area)) return true;
    for (int attempt = 0; attempt < settings().lockAttempts; ++attempt) {
        if (attempt > 0 && settings().lockWaitMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(settings().lockWaitMs));
        if (d.file.Lock(MemoLockOffset(), MemoLockLength()) == 0) {
            d.locked = true;
            return true;
        }
    }
    SetError(TzErr::MemoLockFailed, d.fileName + " [" + routine + "]");
    return false;
}

void UnlockMemo(WorkArea&, MemoDescriptor& d) {
    if (!d.locked) return;
    d.locked = false;
    if (d.file.Unlock(MemoLockOffset(), MemoLockLength()) != 0)
        SetError(TzErr::MemoUnlockFailed, d.fileName + " [UnlockMemo]");
}

int64_t LockMemoPadAndSeekEOF(WorkArea& area, MemoDescriptor& d, const std::string& routine) {
    if (!LockMemo(area, d, routine)) return -1;
    uint64_t size = 0;
    uint16_t rc = d.file.Size(&size);
    if (rc == 0 && d.type == kDbase3 && size == kDb3HeaderSize) return int64_t(kChunk);
    if (rc == 0 && size % d.blockSize != 0) {
        std::vector<uint8_t> zeros(d.blockSize - size % d.blockSize, 0);
        rc = d.file.WriteAt(size, zeros.data(), zeros.size());
        size += zeros.size();
    }
    if (rc != 0) {
        SetError(rc, d.fileName + " [LockMemoPadAndSeekEOF]");
        UnlockMemo(area, d);
        return -1;
    }
    return int64_t(size);
}

bool UpdateMemoHeader(WorkArea& area, MemoDescriptor& d) {
    uint64_t size = FileSize(d);
    uint32_t next = uint32_t((size + d.blockSize - 1) / d.blockSize);
    uint8_t b[4];
    if (d.type == kFoxPro)
        PutBE32(b, next);
    else
        PutLE32(b, next);
    bool ok = true;
    if (d.file.WriteAt(0, b, 4) != 0) {
        SetError(TzErr::WriteFault, d.fileName + " [UpdateMemoHeader()]");
        ok = false;
    }
    // The use counter lives in block 0; a block size too small to hold it leaves it out.
    uint32_t add = piecesRead + releasedBlocks;
    releasedBlocks = 0;
    if (ok && d.type == kDbase4 && add > 0 && d.blockSize >= kDb4UseCounterOffset + 4) {
        uint8_t c[4];
        size_t got = 0;
        if (d.file.ReadAt(kDb4UseCounterOffset, c, 4, &got) != 0 || got != 4) {
            SetError(TzErr::ReadFault, d.fileName + " [UpdateMemoHeader()]");
            ok = false;
        } else {
            PutLE32(c, GetLE32(c) + add);
            if (d.file.WriteAt(kDb4UseCounterOffset, c, 4) != 0) {
                SetError(TzErr::WriteFault, d.fileName + " [UpdateMemoHeader()]");
                ok = false;
            }
        }
    }
    UnlockMemo(area, d);
    return ok;
}

// The block header in front of a memo's text: FoxPro's type word and big-endian length, or
// dBASE IV's FF FF 08 00 mark and little-endian length counting the header itself.
void MakeGroupHeader(uint8_t type, uint32_t length, uint8_t* h) {
    if (type == kFoxPro) {
        PutBE32(h, 1);
        PutBE32(h + 4, length);
    } else {
        h[0] = 0xFF;
        h[1] = 0xFF;
        h[2] = 0x08;
        h[3] = 0x00;
        PutLE32(h + 4, length + uint32_t(kGroupHeaderSize));
    }
}

bool WriteGroupHeader(MemoDescriptor& d, uint8_t type, int64_t block, uint32_t length) {
    uint8_t h[kGroupHeaderSize];
    MakeGroupHeader(type, length, h);
    if (d.file.WriteAt(uint64_t(block) * d.blockSize, h, sizeof h) != 0) {
        SetError(TzErr::WriteFault, d.fileName + " [WriteGroupHeader()]");
        return false;
    }
    return true;
}

namespace {

// Reads the 8 bytes at a block; false (and error 30) when fewer are there.
bool Read8(MemoDescriptor& d, int64_t block, uint8_t* out, const std::string& routine) {
    size_t got = 0;
    if (d.file.ReadAt(uint64_t(block) * d.blockSize, out, 8, &got) != 0 || got != 8) {
        SetError(TzErr::ReadFault, d.fileName + " " + routine);
        return false;
    }
    return true;
}

bool Write4(MemoDescriptor& d, uint64_t off, uint32_t v, const std::string& routine) {
    uint8_t b[4];
    PutLE32(b, v);
    if (d.file.WriteAt(off, b, 4) != 0) {
        SetError(TzErr::WriteFault, d.fileName + " " + routine);
        return false;
    }
    return true;
}

bool WriteRun(MemoDescriptor& d, int64_t block, uint32_t next, uint32_t count,
              const std::string& routine) {
    uint8_t b[8];
    PutLE32(b, next);
    PutLE32(b + 4, count);
    if (d.file.WriteAt(uint64_t(block) * d.blockSize, b, 8) != 0) {
        SetError(TzErr::WriteFault, d.fileName + " " + routine);
        return false;
    }
    return true;
}

constexpr int kMaxChainSteps = 100;

// Whether the 8 bytes read at `block` (not the header) can be a free run of the chain: no
// memo's own header (FF FF 08 00), and a length that stays inside the file. A chain that
// leads anywhere else is damaged there, and nothing is written into that block: it may be
// the start or the middle of a memo in use.
bool FreeRunAt(const uint8_t* b, uint32_t block, uint32_t blocks) {
    if (b[0] == 0xFF && b[1] == 0xFF) return false;
    return block < blocks && GetLE32(b + 4) <= blocks - block;
}

}  // namespace

// Links a run of `count` blocks into the free chain (ascending block order). The count is
// exact: a run never reaches into the block after it.
bool ReleaseBlocks(MemoDescriptor& d, int32_t block, uint32_t count, const std::string& routine) {
    if (d.type != kDbase4 || block < 1 || count == 0) return true;
    uint8_t h[kDb4HeaderSize];
    size_t got = 0;
    if (d.file.ReadAt(0, h, sizeof h, &got) != 0 || got != sizeof h) {
        SetError(TzErr::ReadFault, d.fileName + " [EditMemo/CloseMemo]");
        return false;
    }
    uint32_t blocks = uint32_t(FileSize(d) / d.blockSize);
    uint32_t head = GetLE32(h);
    if (head == blocks) return true;  // the chain holds no run
    if (uint32_t(block) < head) {
        if (!WriteRun(d, block, head, count, routine)) return false;
        return Write4(d, 0, uint32_t(block), routine);
    }
    uint32_t prev = head;
    uint8_t run[8];
    for (int step = 0; step < kMaxChainSteps; ++step) {
        if (prev >= blocks || !Read8(d, prev, run, routine)) return false;
        // A damaged chain is not linked through: the released blocks stay unused.
        if (!FreeRunAt(run, prev, blocks)) return true;
        uint32_t next = GetLE32(run);
        if (next > uint32_t(block) || next >= blocks || next <= prev) break;
        prev = next;
    }
    if (prev >= blocks) return false;
    uint32_t after = GetLE32(run);
    if (!WriteRun(d, block, after, count, routine)) return false;
    return Write4(d, uint64_t(prev) * d.blockSize, uint32_t(block), routine);
}

int32_t AllocateBlocks(WorkArea&, MemoDescriptor& d, int32_t n, int32_t oldBlock,
                       const std::string& routine) {
    if (d.type != kDbase4) return 0;
    uint64_t size = FileSize(d);
    uint32_t blocks = std::max<uint32_t>(1, uint32_t(size / d.blockSize));
    uint8_t b[8];
    if (oldBlock > 0) {
        if (!Read8(d, oldBlock, b, routine)) return 0;
        if (GetLE32(b) > 65534) {
            uint32_t total = GetLE32(b + 4);
            int64_t oldCount = total >= 8 ? (total - 8) / d.blockSize + 1 : 1;
            if (oldCount >= n) {
                if (oldCount > n &&
                    !ReleaseBlocks(d, oldBlock + n, uint32_t(oldCount - n), routine))
                    return 0;
                return oldBlock;
            }
        }
    }
    uint32_t linkBlock = 0;  // the block whose first value led to `at`
    uint32_t at = 0;
    int readCount = 0;
    bool tooLong = false;
    for (;;) {
        if (!Read8(d, at, b, routine)) return 0;
        ++readCount;
        uint32_t next = GetLE32(b);
        uint32_t runLength = GetLE32(b + 4);
        if (readCount > kMaxChainSteps) {
            tooLong = true;
            break;
        }
        // A chain that leads into a memo in use, or to a run said to reach past the end of
        // the file, is damaged there: it ends at the block that led there, and the new memo
        // goes to the end of the file.
        if (at != 0 && !FreeRunAt(b, at, blocks)) {
            at = linkBlock;
            break;
        }
        if (next >= blocks || n == INT32_MAX || (next & 0xFFFF) == 0xFFFF) break;
        if (at != 0 && runLength >= uint32_t(n)) {
            // Take this run: release what it has beyond n, then unlink it.
            if (runLength > uint32_t(n) &&
                !ReleaseBlocks(d, int32_t(at + n), runLength - uint32_t(n), routine))
                return 0;
            if (!Read8(d, at, b, routine)) return 0;
            if (!Write4(d, uint64_t(linkBlock) * d.blockSize, GetLE32(b), routine)) return 0;
            return int32_t(at);
        }
        if (next <= at) break;  // a chain must ascend
        linkBlock = at;
        at = next;
    }
    if (!Write4(d, uint64_t(at) * d.blockSize, blocks + uint32_t(n), routine)) return 0;
    if (tooLong && !Write4(d, 0, blocks + uint32_t(n), " [MainHeaderWrite()]")) return 0;
    return int32_t(blocks);
}

void ReportNoMemo(const WorkArea* area, const std::string& routine) {
    if (area == nullptr || area->state == Dbf4::kClosed)
        SetError(TzErr::NoDatabaseInUse, " [" + routine + "]");
    else
        SetError(TzErr::InvalidMemoOperation, " No Memo Field [" + routine + "]");
}

}  // namespace detail

using namespace detail;

void ResetState() {
    settings() = MemoSettings();
}

MemoSettings& settings() {
    static MemoSettings s;
    return s;
}

MemoDescriptor* DescriptorOf(const WorkArea& area) {
    return static_cast<MemoDescriptor*>(area.memoExt);
}

uint8_t FlavourOf(uint8_t version) {
    if (version == kDbase4 || version == kFoxPro || version == kDbase3) return version;
    if (version == 0x30) return kFoxPro;
    return settings().defaultType;
}

std::string MemoExtension(uint8_t version) {
    return (version == kFoxPro || version == 0x30) ? "FPT" : "DBT";
}

std::string MemoFileName(const std::string& tableName, uint8_t version) {
    size_t slash = tableName.find_last_of("/\\");
    size_t dot = tableName.rfind('.');
    std::string base = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                           ? tableName.substr(0, dot)
                           : tableName;
    return base + "." + MemoExtension(FlavourOf(version));
}

bool CreateMemoFile(const std::string& name, uint8_t version, uint16_t blockSize,
                    const std::string& routine) {
    if (blockSize == 0) blockSize = 512;
    std::vector<uint8_t> h;
    if (version == kDbase4) {
        h.assign(kDb4HeaderSize, 0);
        PutLE32(h.data(), 1);
        size_t slash = name.find_last_of("/\\");
        std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
        size_t dot = base.rfind('.');
        if (dot != std::string::npos) base.resize(dot);
        std::memcpy(h.data() + kDb4NameOffset, base.data(), std::min(base.size(), kDb4NameLength));
        h[kDb4MarkOffset] = 2;
        h[kDb4MarkOffset + 1] = 1;
        PutLE16(h.data() + kDb4BlockSizeOffset, blockSize);
    } else if (version == kFoxPro || version == 0x30) {
        h.assign(kFoxHeaderSize, 0);
        PutBE32(h.data(), 511 / blockSize + 1);
        PutBE16(h.data() + kFoxBlockSizeOffset, blockSize);
    } else {
        h.assign(kDb3HeaderSize, 0);
        h[0] = 1;
        h[kDb3HeaderSize - 1] = kEndOfMemo;
    }
    tz::File f;
    uint16_t rc = f.Create(name, tz::ShareMode::Exclusive);
    if (rc == 0) rc = f.WriteAt(0, h.data(), h.size());
    if (rc == 0) rc = f.Sync();
    uint16_t rcClose = f.Close();
    if (rc == 0) rc = rcClose;
    if (rc != 0) {
        SetError(rc, "Cannot create memo file " + name + " [" + routine + "]");
        return false;
    }
    return true;
}

bool CreateMemofile(const std::string& name) {
    return CreateMemoFile(name, settings().defaultType, settings().blockSize, "CreateMemofile");
}

namespace {

// Block size from an open memo file's header (0 or unreadable values fall back).
uint16_t HeaderBlockSize(MemoDescriptor& d) {
    uint8_t h[kDb4HeaderSize] = {};
    size_t got = 0;
    if (d.type == kDbase4) {
        if (d.file.ReadAt(0, h, kDb4HeaderSize, &got) == 0 && got == kDb4HeaderSize) {
            uint16_t bs = GetLE16(h + kDb4BlockSizeOffset);
            if (bs != 0) return bs;
        }
        return 512;
    }
    if (d.type == kFoxPro) {
        if (d.file.ReadAt(0, h, 8, &got) == 0 && got == 8) {
            uint16_t bs = GetBE16(h + kFoxBlockSizeOffset);
            if (bs != 0) return bs;
        }
        return 64;
    }
    return 512;
}

void FreeDescriptor(void* p) {
    delete static_cast<MemoDescriptor*>(p);
}

}  // namespace

bool Use(WorkArea& area) {
    if (area.memoExt != nullptr) {
        SetError(TzErr::MemoAlreadyOpen, area.fileName + " [USE]");
        return false;
    }
    auto* d = new MemoDescriptor;
    d->type = settings().defaultType;
    d->blockSize = settings().blockSize;
    d->fileName = tz::ResolveName(MemoFileName(area.fileName, area.version));
    bool exclusive = area.exclusive || !Dbf4::settings().sharing;
    uint16_t rc =
        d->file.Open(d->fileName, area.readOnly ? tz::Access::ReadOnly : tz::Access::ReadWrite,
                     exclusive ? tz::ShareMode::Exclusive : tz::ShareMode::DenyNone);
    if (rc != 0) {
        std::string name = d->fileName;
        delete d;
        SetError(rc, "Memo file not found: " + name + " [USE]");
        return false;
    }
    d->type = FlavourOf(area.version);
    d->blockSize = HeaderBlockSize(*d);
    area.memoExt = d;
    area.memoExtFree = &FreeDescriptor;
    return true;
}

void CloseMemofile(WorkArea& area) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) return;
    if (d->blob.open) CloseBlobStream(area);
    UnlockMemo(area, *d);
    uint16_t rc = d->file.Close();
    std::string name = d->fileName;
    delete d;
    area.memoExt = nullptr;
    area.memoExtFree = nullptr;
    if (rc != 0) SetError(rc, name + " [CloseMemofile]");
}

bool ZapMemofile(WorkArea& area) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) {
        ReportNoMemo(&area, "ZapMemofile");
        return false;
    }
    std::string name = d->fileName;
    uint8_t type = d->type;
    uint16_t bs = d->blockSize;
    CloseMemofile(area);
    if (!CreateMemoFile(name, type, bs, "ZapMemofile")) return false;
    return Use(area);
}

uint8_t GetMemoType(const WorkArea& area) {
    MemoDescriptor* d = DescriptorOf(area);
    return d ? d->type : settings().defaultType;
}

// ---- Edit buffer ----

EditBuffer& Editor() {
    static EditBuffer e;
    return e;
}

void ClearEditor() {
    EditBuffer& e = Editor();
    e.lines.clear();
    e.pending.clear();
    e.hasPending = false;
    e.pendingEnd = 0;
}

std::string EditorText() {
    std::string s;
    for (const EditLine& l : Editor().lines) s += l.text + "\r\n";
    if (Editor().hasPending) s += Editor().pending;
    return s;
}

// ---- Memo fields in the record buffer ----

int32_t BlockOfField(const WorkArea& area, int field) {
    if (field < 1 || field > int(area.fields.size())) return 0;
    const Dbf4::FieldEntry& f = area.fields[field - 1];
    if (size_t(f.offset) + f.length > area.record.size()) return 0;
    std::string text(reinterpret_cast<const char*>(area.record.data()) + f.offset, f.length);
    size_t a = text.find_first_not_of(' ');
    if (a == std::string::npos) return 0;
    long v = std::strtol(text.c_str() + a, nullptr, 10);
    if (v > INT32_MAX || v < -INT32_MAX) return 0;
    return int32_t(v);
}

void SetBlockOfField(WorkArea& area, int field, int32_t block) {
    if (field < 1 || field > int(area.fields.size())) return;
    const Dbf4::FieldEntry& f = area.fields[field - 1];
    if (size_t(f.offset) + f.length > area.record.size()) return;
    std::string text = block == 0 ? std::string() : std::to_string(block);
    if (text.size() > f.length) text = text.substr(text.size() - f.length);
    text.insert(0, f.length - text.size(), ' ');
    std::memcpy(area.record.data() + f.offset, text.data(), f.length);
}

// ---- Reading ----

bool ReadMemoBytes(WorkArea& area, int32_t block, std::string* out, const char* routine) {
    out->clear();
    piecesRead = 0;
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) {
        ReportNoMemo(&area, routine);
        return false;
    }
    if (block == 0) return true;
    bool header = d->type != kDbase3 || block < 0;
    int64_t blk = block < 0 ? -int64_t(block) : block;
    uint64_t size = FileSize(*d);
    uint64_t off = uint64_t(blk) * d->blockSize;
    std::string where =
        d->fileName + " Record # " + std::to_string(area.recNo) + " [" + routine + "]";
    if (size == 0 || off >= size - 1) {
        SetError(TzErr::InvalidMemoAddress, where);
        return false;
    }
    size_t chunk = kChunk;
    if (header) {
        uint8_t h[kGroupHeaderSize];
        size_t got = 0;
        uint16_t rc = d->file.ReadAt(off, h, sizeof h, &got);
        if (rc != 0 || got != sizeof h) {
            SetError(rc ? rc : TzErr::ReadFault, where);
            return false;
        }
        uint64_t length = 0;
        if (d->type == kFoxPro && block > 0) {
            length = GetBE32(h + 4);
        } else if (h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00 &&
                   GetLE32(h + 4) >= kGroupHeaderSize) {
            length = GetLE32(h + 4) - kGroupHeaderSize;
        } else {
            SetError(TzErr::InvalidMemoAddress, "Bad memo block header in " + where);
            return false;
        }
        // The stored length is not trusted beyond the end of the file.
        if (length > size - off - kGroupHeaderSize) {
            SetError(TzErr::InvalidMemoAddress, "Memo length beyond the end of " + where);
            return false;
        }
        out->resize(length);
        size_t done = 0;
        while (done < length) {
            size_t n = std::min<uint64_t>(chunk, length - done);
            rc = d->file.ReadAt(off + kGroupHeaderSize + done, out->data() + done, n, &got);
            ++piecesRead;
            if (rc != 0 || got != n) {
                SetError(rc ? rc : TzErr::ReadFault, where);
                out->clear();
                return false;
            }
            done += n;
        }
    } else {
        std::vector<uint8_t> buf(chunk);
        uint64_t at = off;
        for (;;) {
            size_t got = 0;
            uint16_t rc = d->file.ReadAt(at, buf.data(), chunk, &got);
            ++piecesRead;
            if (rc != 0) {
                SetError(rc, where);
                out->clear();
                return false;
            }
            auto end = std::find(buf.begin(), buf.begin() + long(got), kEndOfMemo);
            out->append(reinterpret_cast<const char*>(buf.data()), size_t(end - buf.begin()));
            if (end != buf.begin() + long(got) || got < chunk) break;
            at += got;
        }
    }
    if (area.oemToAnsi != nullptr && !out->empty())
        area.oemToAnsi(reinterpret_cast<uint8_t*>(out->data()), out->size());
    return true;
}

bool GetMemo(WorkArea& area, int32_t block, int lineLimit) {
    ClearEditor();
    EditBuffer& e = Editor();
    e.exists = true;
    std::string text;
    if (!ReadMemoBytes(area, block, &text, "GetMemo")) return false;
    size_t width = settings().memoWidth ? size_t(settings().memoWidth) + 1 : 254;
    size_t maxLines = settings().maxLines;
    if (lineLimit > 0) maxLines = std::min<size_t>(maxLines, size_t(lineLimit));
    MemoDescriptor* d = DescriptorOf(area);
    // Zero bytes at the end stand for the line end of unended text; inside, they mark a
    // memo that is not text.
    while (!text.empty() && text.back() == '\0') text.pop_back();
    bool binary = text.find('\0') != std::string::npos;
    if (!binary && d->type == kFoxPro && block > 0) {
        uint8_t h[4];
        size_t got = 0;
        if (d->file.ReadAt(uint64_t(block) * d->blockSize, h, 4, &got) == 0 && got == 4 &&
            GetBE32(h) != 1)
            binary = true;
    }
    if (binary) {
        e.lines.push_back({"(BLOB)", 13});
        return true;
    }
    std::string line;
    bool open = false;
    for (char c : text) {
        if (e.lines.size() >= maxLines) return true;
        uint8_t u = uint8_t(c);
        if (u == 10) continue;
        if (u == 13 || u == kSoftReturn) {
            e.lines.push_back({line, u});
            line.clear();
            open = false;
            continue;
        }
        if (line.size() >= width) {
            e.lines.push_back({line, kSoftReturn});
            line.clear();
            if (e.lines.size() >= maxLines) return true;
        }
        line += c;
        open = true;
    }
    if (open && e.lines.size() < maxLines) e.lines.push_back({line, 13});
    return true;
}

// ---- Writing ----

namespace {

void ToOem(const WorkArea& area, std::string& s) {
    if (area.ansiToOem != nullptr && !s.empty())
        area.ansiToOem(reinterpret_cast<uint8_t*>(s.data()), s.size());
}

}  // namespace

int32_t AddMemo(WorkArea& area, const std::string& textIn) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) {
        ReportNoMemo(&area, "AddMemo");
        return 0;
    }
    std::string text = TzUtils::TrimRightSpaces(textIn);
    if (text.empty()) return 0;
    int64_t end = LockMemoPadAndSeekEOF(area, *d, "AddMemo");
    if (end < 0) return 0;
    int32_t block = int32_t(end / d->blockSize);
    ToOem(area, text);
    std::string data;
    if (d->type == kDbase3) {
        data = text + char(kEndOfMemo);
        data.resize((data.size() + d->blockSize - 1) / d->blockSize * d->blockSize, '\0');
    } else {
        uint8_t h[kGroupHeaderSize];
        if (d->type == kFoxPro) {
            PutBE32(h, 1);
            PutBE32(h + 4, uint32_t(text.size()));
        } else {
            h[0] = 0xFF;
            h[1] = 0xFF;
            h[2] = 0x08;
            h[3] = 0x00;
            PutLE32(h + 4, uint32_t(text.size() + kGroupHeaderSize));
        }
        data.assign(reinterpret_cast<const char*>(h), sizeof h);
        data += text;
    }
    uint16_t rc = d->file.WriteAt(uint64_t(end), data.data(), data.size());
    if (rc == 0) rc = d->file.Sync();
    if (rc != 0) {
        SetError(rc, d->fileName + " [AddMemo]");
        UnlockMemo(area, *d);
        return 0;
    }
    if (!UpdateMemoHeader(area, *d)) return 0;
    return block;
}

int32_t EditMemo(WorkArea& area, int32_t oldBlock) {
    const std::string routine = "EditMemo/CloseMemo";
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) {
        ReportNoMemo(&area, routine);
        return 0;
    }
    EditBuffer& e = Editor();
    // The memo's bytes: every line ends in CR LF; pending text in its own line end, or,
    // when none was recorded, in two zero bytes where the memo has a stored length (a
    // dBASE III memo's 0x1A follows its text directly).
    std::string text;
    for (const EditLine& l : e.lines) text += l.text + "\r\n";
    if (e.hasPending) {
        text += e.pending;
        if (e.pendingEnd != 0) {
            text += char(e.pendingEnd);
            text += '\n';
        } else if (d->type != kDbase3) {
            text += std::string(2, '\0');
        }
    }
    if (text.empty()) return 0;
    uint64_t length = text.size() + (d->type == kDbase3 ? 1 : 0);
    if (tz::DiskFreeKB(d->fileName) <= int64_t(length / 1024)) {
        SetError(TzErr::DiskFull, d->fileName + " [" + routine + "]");
        return 0;
    }
    int64_t end = LockMemoPadAndSeekEOF(area, *d, routine);
    if (end < 0) return 0;
    ToOem(area, text);
    int32_t block = 0;
    std::string data;
    if (d->type == kDbase3) {
        block = int32_t(end / d->blockSize);
        data = text + char(kEndOfMemo);
        data.resize((data.size() + kChunk - 1) / kChunk * kChunk, '\0');
    } else {
        uint32_t L = uint32_t(text.size());
        if (d->type == kFoxPro) {
            block = int32_t(end / d->blockSize);
        } else {
            int32_t needed = int32_t((L + kGroupHeaderSize) / d->blockSize + 1);
            int32_t old = oldBlock < 0 ? 0 : oldBlock;
            if (old > 0) {
                // Only a well-formed old memo lying inside the file is reused or released.
                uint8_t h[kGroupHeaderSize];
                size_t got = 0;
                uint64_t size = FileSize(*d);
                uint64_t off = uint64_t(old) * d->blockSize;
                bool valid = d->file.ReadAt(off, h, sizeof h, &got) == 0 && got == sizeof h &&
                             h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00 &&
                             GetLE32(h + 4) >= kGroupHeaderSize && off + GetLE32(h + 4) <= size;
                if (!valid) {
                    old = 0;
                } else {
                    uint32_t total = GetLE32(h + 4);
                    int32_t oldCount = int32_t(total / d->blockSize + 1);
                    if (oldCount < needed) {
                        uint32_t used = (total + d->blockSize - 1) / d->blockSize;
                        if (!ReleaseBlocks(*d, old, used, " [" + routine + "]")) {
                            UnlockMemo(area, *d);
                            return 0;
                        }
                        releasedBlocks += uint32_t(oldCount);
                        old = 0;  // its first bytes now link the free chain
                    }
                }
            }
            block = AllocateBlocks(area, *d, needed, old, " [" + routine + "]");
            if (block == 0) {
                UnlockMemo(area, *d);
                return 0;
            }
        }
        uint8_t h[kGroupHeaderSize];
        MakeGroupHeader(d->type, L, h);
        data.assign(reinterpret_cast<const char*>(h), sizeof h);
        data += text;
    }
    uint16_t rc = d->file.WriteAt(uint64_t(block) * d->blockSize, data.data(), data.size());
    uint16_t rcSync = d->file.Sync();
    if (rc != 0 || rcSync != 0) {
        SetError(TzErr::WriteFault, d->fileName + " [" + routine + "]");
        UnlockMemo(area, *d);
        return 0;
    }
    if (!UpdateMemoHeader(area, *d)) return 0;
    return block;
}

// ---- Hooks ----

namespace {
bool HookOpen(WorkArea& a) {
    return Use(a);
}
void HookClose(WorkArea& a) {
    CloseMemofile(a);
}
bool HookPack(WorkArea& a) {
    return PackMemofile(a);
}
bool HookCopy(WorkArea& from, WorkArea& to) {
    return CopyRecordMemos(from, to);
}
}  // namespace

void Install() {
    Dbf4::memoHooks.open = &HookOpen;
    Dbf4::memoHooks.close = &HookClose;
    Dbf4::memoHooks.pack = &HookPack;
    Dbf4::memoHooks.copy = &HookCopy;
    Dbf4::memoUnitPresent = true;
}

}  // namespace Memo
