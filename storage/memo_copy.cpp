// Copying memos between memo files of any two flavours (AppendFrom, CopyTo) and packing a
// memo file down to the memos that the table's records refer to.
#include <algorithm>
#include <cstring>

#include "storage/dbf_low.h"
#include "storage/memo.h"
#include "storage/pack_marker.h"
#include "storage/tz_common.h"

namespace Memo {

using TzCommon::SetError;
using namespace detail;

namespace {

struct Side {
    MemoDescriptor* d;
    Dbf4::TranslateProc proc;  // source: OEM-to-ANSI; target: ANSI-to-OEM
};

// Copies the memo at srcBlock of src into tgt at tgtBlock. The result is the target block
// (negated for a header memo in a dBASE III file), 0 when nothing was copied; *failed is
// set when an error was reported (with tgt's name and the routine).
int32_t CopyOne(Side src, Side tgt, int32_t srcBlock, int64_t tgtBlock, const std::string& routine,
                bool* failed) {
    *failed = false;
    if (srcBlock == 0) return 0;
    MemoDescriptor& s = *src.d;
    MemoDescriptor& t = *tgt.d;
    auto fail = [&](uint16_t code, const std::string& text) {
        SetError(code, text + " [" + routine + "]");
        *failed = true;
        return 0;
    };
    bool header = s.type != kDbase3 || srcBlock < 0;
    int64_t blk = srcBlock < 0 ? -int64_t(srcBlock) : srcBlock;
    uint64_t srcSize = FileSize(s);
    uint64_t off = uint64_t(blk) * s.blockSize;
    if (off >= srcSize) return fail(1003, s.fileName + " Memo block # " + std::to_string(srcBlock));
    std::string data;
    bool binary = false;
    if (header) {
        uint8_t h[kGroupHeaderSize];
        size_t got = 0;
        if (s.file.ReadAt(off, h, sizeof h, &got) != 0 || got != sizeof h) return 0;
        uint64_t length;
        if (s.type == kFoxPro && srcBlock > 0) {
            length = GetBE32(h + 4);
        } else {
            if (!(h[0] == 0xFF && h[1] == 0xFF && h[2] == 0x08 && h[3] == 0x00)) return 0;
            uint32_t total = GetLE32(h + 4);
            length = total >= kGroupHeaderSize ? total - kGroupHeaderSize : 0;
        }
        if (length > srcSize - off - kGroupHeaderSize)
            return fail(1003, s.fileName + " Memo block # " + std::to_string(srcBlock));
        data.resize(length);
        if (length > 0 && (s.file.ReadAt(off + kGroupHeaderSize, data.data(), length, &got) != 0 ||
                           got != length))
            return fail(30, t.fileName);
        binary = data.find('\0') != std::string::npos;
    } else {
        std::vector<char> buf(kChunk);
        uint64_t at = off;
        for (;;) {
            size_t got = 0;
            if (s.file.ReadAt(at, buf.data(), buf.size(), &got) != 0) return fail(30, t.fileName);
            auto stop = std::find_if(buf.begin(), buf.begin() + long(got),
                                     [](char c) { return c == char(kEndOfMemo) || c == '\0'; });
            data.append(buf.data(), size_t(stop - buf.begin()));
            if (stop != buf.begin() + long(got) || got < buf.size()) break;
            at += got;
        }
    }
    if (data.empty()) return 0;
    if (src.proc) src.proc(reinterpret_cast<uint8_t*>(data.data()), data.size());
    if (tgt.proc) tgt.proc(reinterpret_cast<uint8_t*>(data.data()), data.size());
    std::string bytes;
    bool withHeader = t.type != kDbase3 || binary;
    if (!withHeader) {
        bytes = data + char(kEndOfMemo);
        bytes.resize((bytes.size() + kChunk - 1) / kChunk * kChunk, '\0');
    } else {
        uint8_t h[kGroupHeaderSize];
        if (t.type == kFoxPro) {
            PutBE32(h, 1);
            PutBE32(h + 4, uint32_t(data.size()));
        } else {
            h[0] = 0xFF;
            h[1] = 0xFF;
            h[2] = 0x08;
            h[3] = 0x00;
            PutLE32(h + 4, uint32_t(data.size() + kGroupHeaderSize));
        }
        bytes.assign(reinterpret_cast<const char*>(h), sizeof h);
        bytes += data;
    }
    if (t.file.WriteAt(uint64_t(tgtBlock) * t.blockSize, bytes.data(), bytes.size()) != 0)
        return fail(1005, t.fileName);
    int32_t result = int32_t(tgtBlock);
    return (t.type == kDbase3 && withHeader) ? -result : result;
}

// Parses the 10 characters of a memo field in a raw record.
int32_t ParseBlock(const char* p, size_t n) {
    std::string text(p, n);
    size_t a = text.find_first_not_of(' ');
    if (a == std::string::npos) return 0;
    long v = std::strtol(text.c_str() + a, nullptr, 10);
    if (v > INT32_MAX || v < -INT32_MAX) return 0;
    return int32_t(v);
}

std::string FieldText(int32_t block, size_t width) {
    std::string text = block == 0 ? std::string() : std::to_string(block);
    if (text.size() > width) text = text.substr(text.size() - width);
    text.insert(0, width - text.size(), ' ');
    return text;
}

}  // namespace

int32_t CopyMemo(WorkArea& target, WorkArea& source, int32_t block, bool keepNumber) {
    MemoDescriptor* td = DescriptorOf(target);
    MemoDescriptor* sd = DescriptorOf(source);
    if (td == nullptr || sd == nullptr) {
        ReportNoMemo(td == nullptr ? &target : &source, "AppendFrom/CopyTo");
        return 0;
    }
    if (block == 0) return 0;
    int64_t end = LockMemoPadAndSeekEOF(target, *td, "CopyMemo()");
    if (end < 0) return 0;
    // The source's block number is kept only where the memo occupies the same extent in the
    // target; across flavours or block sizes it could run into the next memo.
    bool keep = keepNumber && td->type == sd->type && td->blockSize == sd->blockSize;
    int64_t tgtBlock = keep ? (block < 0 ? -int64_t(block) : block) : end / td->blockSize;
    bool failed = false;
    int32_t result = CopyOne({sd, source.oemToAnsi}, {td, target.ansiToOem}, block, tgtBlock,
                             "AppendFrom/CopyTo", &failed);
    if (failed) {
        UnlockMemo(target, *td);
        return 0;
    }
    UpdateMemoHeader(target, *td);
    td->file.Sync();
    return result;
}

bool CopyRecordMemos(WorkArea& source, WorkArea& target) {
    for (size_t i = 0; i < target.fields.size(); ++i) {
        if (target.fields[i].type != 'M') continue;
        int from = 0;
        for (size_t j = 0; j < source.fields.size(); ++j)
            if (source.fields[j].type == 'M' && source.fields[j].name == target.fields[i].name)
                from = int(j) + 1;
        if (from == 0) continue;
        int32_t block = BlockOfField(source, from);
        int32_t copied = block == 0 ? 0 : CopyMemo(target, source, block, false);
        if (block != 0 && copied == 0 && TzCommon::ErrorWord() != 0) return false;
        SetBlockOfField(target, int(i) + 1, copied);
    }
    return true;
}

namespace {

// One memo number of the table to be rewritten by a pack.
struct Change {
    uint64_t offset;  // of the field in the table file
    std::string oldText, newText;
};

// Creates and opens the packed memo file beside the old one; false after a report.
bool OpenPackedFile(const MemoDescriptor& d, MemoDescriptor& nd, const std::string& tmpName,
                    const std::string& routine) {
    if (!CreateMemoFile(tmpName, d.type, d.blockSize, routine)) return false;
    nd.type = d.type;
    nd.blockSize = d.blockSize;
    nd.fileName = tmpName;
    if (uint16_t rc = nd.file.Open(tmpName, tz::Access::ReadWrite, tz::ShareMode::Exclusive)) {
        SetError(rc, "Memo file not found: " + tmpName + " [" + routine + "]");
        tz::EraseFile(tmpName);
        return false;
    }
    return true;
}

// Copies the memo of every memo field of every record into the packed file, collecting the
// new numbers; false after a report.
bool CopyLiveMemos(WorkArea& area, MemoDescriptor* d, MemoDescriptor& nd, uint64_t oldSize,
                   const std::string& routine, std::vector<Change>& changes) {
    const std::string& tmpName = nd.fileName;
    std::vector<char> rec(area.recordLength);
    for (int32_t r = 1; r <= area.recCount; ++r) {
        const uint64_t recOff = TzDbfLow::RecordOffset(area, r);
        size_t got = 0;
        uint16_t rc = area.file.ReadAt(recOff, rec.data(), rec.size(), &got);
        if (rc != 0 || got != rec.size()) {
            SetError(rc ? rc : TzErr::DiskReadError,
                     area.fileName + " Record # " + std::to_string(r) + " [" + routine + "]");
            return false;
        }
        for (const Dbf4::FieldEntry& f : area.fields) {
            if (f.type != 'M' || size_t(f.offset) + f.length > rec.size()) continue;
            int32_t block = ParseBlock(rec.data() + f.offset, f.length);
            if (block == 0) continue;
            int64_t abs = block < 0 ? -int64_t(block) : block;
            if (uint64_t(abs) * d->blockSize >= oldSize) {
                SetError(TzErr::InvalidMemoAddress, d->fileName + " Memo block # " +
                                                        std::to_string(block) + " Record # " +
                                                        std::to_string(r) + " [PackMemo]");
                return false;
            }
            uint64_t end = FileSize(nd);
            if (nd.type == kDbase3 && end == kDb3HeaderSize) end = kChunk;
            if (end % nd.blockSize != 0) {
                std::vector<uint8_t> zeros(nd.blockSize - end % nd.blockSize, 0);
                if (nd.file.WriteAt(end, zeros.data(), zeros.size()) != 0) {
                    SetError(TzErr::MemoWriteError, tmpName + " [PackMemo]");
                    return false;
                }
                end += zeros.size();
            }
            bool failed = false;
            int32_t nb = CopyOne({d, nullptr}, {&nd, nullptr}, block, int64_t(end / nd.blockSize),
                                 "PackMemo", &failed);
            if (failed) return false;
            std::string oldText(rec.data() + f.offset, f.length);
            std::string newText = FieldText(nb, f.length);
            if (oldText != newText) changes.push_back({recOff + f.offset, oldText, newText});
        }
    }
    return true;
}

// Writes the packed file's next free block, syncs and closes it; false after a report.
bool FinishPackedFile(MemoDescriptor& nd) {
    const std::string& tmpName = nd.fileName;
    uint64_t size = FileSize(nd);
    uint8_t b[4];
    uint32_t next = uint32_t((size + nd.blockSize - 1) / nd.blockSize);
    if (nd.type == kFoxPro)
        PutBE32(b, next);
    else
        PutLE32(b, next);
    if (nd.file.WriteAt(0, b, 4) != 0 || nd.file.Sync() != 0) {
        SetError(TzErr::WriteFault, tmpName + " [PackMemo]");
        return false;
    }
    nd.file.Close();
    return true;
}

// Writes the new numbers into the area's table file (during a pack, the packed copy that
// is not yet in place) and syncs it; false after a report.
bool Renumber(WorkArea& area, const std::vector<Change>& changes, const std::string& routine) {
    for (const Change& c : changes) {
        if (uint16_t rc = area.file.WriteAt(c.offset, c.newText.data(), c.newText.size())) {
            SetError(rc, area.fileName + " [" + routine + "]");
            return false;
        }
    }
    if (uint16_t rc = area.file.Sync()) {
        SetError(rc, area.fileName + " [" + routine + "]");
        return false;
    }
    return true;
}

std::string PackedName(const MemoDescriptor& d) {
    return d.fileName + ".pak";
}

// The memo fields of the current record as the table file now holds them.
void RefreshMemoFields(WorkArea& area) {
    if (area.recNo < 1 || area.recNo > area.recCount || area.record.size() < area.recordLength)
        return;
    const uint64_t recOff = TzDbfLow::RecordOffset(area, area.recNo);
    for (const Dbf4::FieldEntry& f : area.fields) {
        if (f.type != 'M' || size_t(f.offset) + f.length > area.recordLength) continue;
        size_t got = 0;
        area.file.ReadAt(recOff + f.offset, area.record.data() + f.offset, f.length, &got);
    }
}

}  // namespace

bool PackedMemoName(const WorkArea& area, std::string* name, std::string* packed) {
    const MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) return false;
    *name = d->fileName;
    *packed = PackedName(*d);
    return true;
}

bool BuildPackedMemo(WorkArea& area) {
    const std::string routine = "PackMemofile";
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) {
        ReportNoMemo(&area, routine);
        return false;
    }
    const uint64_t oldSize = FileSize(*d);
    if (tz::DiskFreeKB(d->fileName) < int64_t(oldSize / 1024)) {
        SetError(TzErr::DiskFull, d->fileName + " [" + routine + "]");
        return false;
    }
    const std::string tmpName = PackedName(*d);
    MemoDescriptor nd;
    if (!OpenPackedFile(*d, nd, tmpName, routine)) return false;
    std::vector<Change> changes;
    if (!CopyLiveMemos(area, d, nd, oldSize, routine, changes) || !FinishPackedFile(nd) ||
        !Renumber(area, changes, routine)) {
        nd.file.Close();
        tz::EraseFile(tmpName);
        return false;
    }
    tz::StopPoint("pack-memo-built");
    // The old memo file is held alone until the packed one takes its name.
    if (uint16_t rc = d->file.TakeExclusive()) {
        SetError(rc, d->fileName + " [" + routine + "]");
        tz::EraseFile(tmpName);
        return false;
    }
    return true;
}

void DiscardPackedMemo(WorkArea& area) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) return;
    tz::EraseFile(PackedName(*d));
    d->file.RestoreShare();
}

bool InstallPackedMemo(WorkArea& area) {
    MemoDescriptor* d = DescriptorOf(area);
    if (d == nullptr) return false;
    const std::string name = d->fileName;
    tz::File packed;
    uint16_t rc = packed.Open(PackedName(*d), tz::Access::ReadWrite, tz::ShareMode::Exclusive);
    if (rc == 0) rc = packed.RenameTo(name, &d->file);
    if (rc != 0) {
        SetError(rc, name + " [PackMemofile]");
        return false;
    }
    UnlockMemo(area, *d);
    const tz::ShareMode share = d->file.Share();
    d->file = std::move(packed);  // the old memo file goes with its last handle
    d->file.SetShareMode(share);
    d->file.RestoreShare();
    return true;
}

bool PackMemofile(WorkArea& area) {
    if (DescriptorOf(area) == nullptr) {
        ReportNoMemo(&area, "PackMemofile");
        return false;
    }
    TzCommon::ClearErrorWord();
    // The table is rewritten beside itself with the new numbers (its deleted records kept)
    // and put in place together with the packed memo file.
    if (!Dbf4::RewriteWithMemo(area)) return false;
    RefreshMemoFields(area);
    return true;
}

}  // namespace Memo
