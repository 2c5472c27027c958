// Index build: collecting keys from the table file, sorting them in runs with a spill file,
// merging them into pages, and the routines that make, extend and rebuild index files.
#include "index/tz_ndx_build.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <queue>

#include "index/mdx_bulk.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_internal.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzNdx {

using namespace internal;
using Dbf4::WorkArea;

namespace {

void (*g_progress)() = nullptr;
int g_steps = 0;
size_t g_lastRuns = 0;

constexpr size_t kReadPiece = 32756;

// Calls the progress callback `steps` times in all over one tag's build.
class Progress {
public:
    explicit Progress(int64_t records) {
        if (!g_progress || g_steps <= 0) return;
        interval_ = (records / g_steps) * 2;
        if (interval_ == 0) interval_ = 2;
    }
    void Tick() {
        if (!g_progress || g_steps <= 0) return;
        if (++count_ % interval_ == 0 && called_ < g_steps) {
            g_progress();
            ++called_;
        }
    }
    void Finish() {
        if (!g_progress) return;
        while (called_ < g_steps) {
            g_progress();
            ++called_;
        }
    }

private:
    int64_t interval_ = 1;
    int64_t count_ = 0;
    int called_ = 0;
};

// The area's record state, put back after the build walked the table file.
struct SavedRecord {
    explicit SavedRecord(WorkArea& a)
        : a_(a), record_(Dbf4::RecordOf(a), Dbf4::RecordOf(a) + a.record.size()), recNo_(a.recNo),
          eof_(a.eof), bof_(a.bof) {}
    ~SavedRecord() {
        std::memcpy(a_.record.data(), record_.data(), record_.size());
        a_.recNo = recNo_;
        a_.eof = eof_;
        a_.bof = bof_;
        a_.pending = false;
        a_.nativeStale = true;
    }
    WorkArea& a_;
    std::vector<uint8_t> record_;
    int32_t recNo_;
    bool eof_, bof_;
};

// Items: key bytes followed by the record number (32-bit, little-endian).
struct ItemOrder {
    Mdx::KeyCompare cmp;
    bool descending;
    int keyLength;
    int Keys(const uint8_t* x, const uint8_t* y) const {
        return descending ? cmp(y, x, size_t(keyLength)) : cmp(x, y, size_t(keyLength));
    }
    bool operator()(const uint8_t* x, const uint8_t* y) const {
        int c = Keys(x, y);
        if (c != 0) return c < 0;
        return Mdx::Get32(x + keyLength) < Mdx::Get32(y + keyLength);
    }
};

class KeySorter {
public:
    KeySorter(ItemOrder order) : order_(order), item_(size_t(order.keyLength) + 4) {
        items_.reserve(kSortRunItems * item_);
    }
    ~KeySorter() {
        if (!spillName_.empty()) {
            spill_.Close();
            tz::EraseFile(spillName_);
        }
    }

    uint16_t Add(const uint8_t* key, uint32_t recno) {
        if (held_ == kSortRunItems) {
            if (uint16_t rc = SpillRun()) return rc;
        }
        size_t at = held_ * item_;
        items_.resize(at + item_);
        std::memcpy(&items_[at], key, item_ - 4);
        Mdx::Put32(&items_[at + item_ - 4], recno);
        ++held_;
        return 0;
    }

    // Feeds every item in order to out (unique: only the first of each key).
    template <class Out>
    uint16_t Drain(bool unique, Out out) {
        const size_t kl = item_ - 4;
        const uint8_t* last = nullptr;
        std::vector<uint8_t> lastKey(kl);
        auto emit = [&](const uint8_t* it) -> uint16_t {
            if (unique && last && order_.Keys(lastKey.data(), it) == 0) return 0;
            std::memcpy(lastKey.data(), it, kl);
            last = lastKey.data();
            return out(it, Mdx::Get32(it + kl));
        };
        if (runs_ == 0) {
            SortHeld();
            for (const uint8_t* p : ptrs_) {
                if (uint16_t rc = emit(p)) return rc;
            }
            return 0;
        }
        if (held_ > 0) {
            if (uint16_t rc = SpillRun()) return rc;
        }
        items_.clear();
        items_.shrink_to_fit();
        ptrs_.clear();
        // Merge: one read buffer per run, the smallest current item first.
        struct Run {
            uint64_t next = 0, end = 0;
            std::vector<uint8_t> buf;
            size_t pos = 0, len = 0;
        };
        std::vector<Run> runs(runs_);
        const size_t perBuf = 512;
        for (size_t i = 0; i < runs_; ++i) {
            runs[i].next = uint64_t(i) * kSortRunItems * item_;
            runs[i].end = runs[i].next + uint64_t(runItems_[i]) * item_;
            runs[i].buf.resize(perBuf * item_);
        }
        auto fill = [&](Run& r) -> uint16_t {
            size_t want = size_t(std::min<uint64_t>(r.buf.size(), r.end - r.next));
            size_t got = 0;
            if (want == 0) {
                r.pos = r.len = 0;
                return 0;
            }
            uint16_t rc = spill_.ReadAt(r.next, r.buf.data(), want, &got);
            if (rc != 0 || got != want) {
                return Error(rc ? rc : 100, "Error reading spill file " + spillName_ + " [MakeIndex]");
            }
            r.next += want;
            r.pos = 0;
            r.len = want;
            return 0;
        };
        auto greater = [&](size_t x, size_t y) {
            return order_(&runs[y].buf[runs[y].pos], &runs[x].buf[runs[x].pos]);
        };
        std::priority_queue<size_t, std::vector<size_t>, decltype(greater)> heap(greater);
        for (size_t i = 0; i < runs_; ++i) {
            if (uint16_t rc = fill(runs[i])) return rc;
            if (runs[i].len > 0) heap.push(i);
        }
        while (!heap.empty()) {
            size_t i = heap.top();
            heap.pop();
            Run& r = runs[i];
            if (uint16_t rc = emit(&r.buf[r.pos])) return rc;
            r.pos += item_;
            if (r.pos >= r.len) {
                if (uint16_t rc = fill(r)) return rc;
            }
            if (r.len > 0) heap.push(i);
        }
        return 0;
    }

    size_t Runs() const { return runs_; }

private:
    void SortHeld() {
        ptrs_.resize(held_);
        for (size_t i = 0; i < held_; ++i) ptrs_[i] = &items_[i * item_];
        std::sort(ptrs_.begin(), ptrs_.end(), order_);
    }

    uint16_t SpillRun() {
        if (spillName_.empty()) {
            spillName_ = TzUtils::UniqueFilename();
            if (spillName_.empty()) return Error(TzCommon::ErrorWord ? TzCommon::ErrorWord : 5,
                                                 "Cannot create spill file [MakeIndex]");
            uint16_t rc = spill_.Create(spillName_, tz::ShareMode::Exclusive);
            if (rc != 0) return Error(rc, "Cannot create spill file " + spillName_ + " [MakeIndex]");
        }
        SortHeld();
        std::vector<uint8_t> out;
        const size_t per = std::max<size_t>(1, kReadPiece / item_);
        out.reserve(per * item_);
        uint64_t off = uint64_t(runs_) * kSortRunItems * item_;
        for (size_t i = 0; i < held_; ++i) {
            out.insert(out.end(), ptrs_[i], ptrs_[i] + item_);
            if (out.size() >= per * item_ || i + 1 == held_) {
                uint16_t rc = spill_.WriteAt(off, out.data(), out.size());
                if (rc != 0) return Error(rc, "Error writing spill file " + spillName_ + " [MakeIndex]");
                off += out.size();
                out.clear();
            }
        }
        runItems_.push_back(held_);
        ++runs_;
        held_ = 0;
        items_.clear();
        return 0;
    }

    ItemOrder order_;
    size_t item_;
    std::vector<uint8_t> items_;
    std::vector<const uint8_t*> ptrs_;
    size_t held_ = 0;
    size_t runs_ = 0;
    std::vector<size_t> runItems_;
    std::string spillName_;
    tz::File spill_;
};

// Space the build needs, in bytes: the items plus the pages of every level.
uint64_t NeededBytes(int64_t records, int itemSize, int perPage, int levels) {
    uint64_t need = uint64_t(records) * uint64_t(itemSize);
    int64_t q = records;
    for (int i = 1; i <= levels; ++i) {
        q /= perPage;
        need += uint64_t(q + 1) * Mdx::PageSize;
    }
    return need;
}

// Builds one tag into f from the area's table file and enters it in the tag table.
uint16_t BuildTag(WorkArea& a, Mdx::MdxFile& f, const TagDescriptor& d) {
    const std::string where = " [AddIndexTag()]";
    std::string cond = TzCommon::TrimRight(d.forCondition);
    if (!cond.empty()) {
        uint16_t rc = TzParser::ValidateForExpr(cond);
        if (rc != 0) return Error(rc, "Invalid FOR expression for " + d.name + where);
    }
    std::string expr = TzCommon::TrimRight(d.expression);
    if (expr.size() > 220) return Error(300, "Expression length exceeds 100 bytes" + where);

    TagInfo t;
    t.key = TzParser::AssignExpr(NormaliseExpr(expr));
    if (!t.key) t.key = TzParser::AssignExpr(expr);
    if (!t.key) {
        uint16_t code = TzCommon::ErrorWord ? TzCommon::ErrorWord : 351;
        return Error(code, "Invalid key expression for " + d.name + where);
    }
    switch (t.key->type) {
        case 'C': t.type = 'C'; break;
        case 'D': t.type = 'D'; break;
        case 'N': t.type = 'N'; break;
        default: return Error(254, "Wrong parser return type" + where);
    }
    int keyLength = t.type == 'C' ? 0 : (t.type == 'D' ? 8 : 12);
    if (t.type == 'C') {
        Dbf4::RecordOf(a);
        const uint8_t* r = TzParser::Evaluate(t.key);
        keyLength = r ? int(strnlen(reinterpret_cast<const char*>(r), 256)) : 0;
        if ((keyLength < 1 || keyLength > Mdx::MaxKeyLength) && t.key->length >= 1 &&
            t.key->length <= Mdx::MaxKeyLength) {
            keyLength = t.key->length;
        }
        if (keyLength < 1 || keyLength > Mdx::MaxKeyLength) {
            return Error(266, "Incorrect key length: Must be 1 to 100." + where);
        }
    }
    t.keyLength = keyLength;
    if (!cond.empty()) {
        t.forCond = TzParser::AssignExpr(NormaliseExpr(cond));
        if (!t.forCond) t.forCond = TzParser::AssignExpr(cond);
        if (!t.forCond) return Error(TzCommon::ErrorWord ? TzCommon::ErrorWord : 351,
                                     "Invalid FOR expression for " + d.name + where);
    }
    Mdx::TagHeader h;
    uint16_t rc = Mdx::MakeTagHeader(t.type, keyLength, expr, cond, d.unique, d.descending, &h);
    if (rc != 0) return rc;

    Dbf4::Recount(a);
    const int64_t records = a.recCount;
    const int perPage = h.KeysPerPage();
    int levels = 2;
    for (int64_t q = records / perPage; q > 0; q /= perPage) ++levels;
    const uint64_t needKB = NeededBytes(records, keyLength + 4, perPage, levels) / 1024;
    const int64_t freeKB = tz::DiskFreeKB(f.Name());
    if (freeKB >= 0 && int64_t(needKB) > freeKB) {
        return Error(227, "Available disk space: " + std::to_string(freeKB) + " KBytes;" +
                              "needed: " + std::to_string(needKB) + " KBytes [MakeIndex]");
    }

    KeySorter sorter(ItemOrder{CompareFor(t.type), d.descending, keyLength});
    Progress progress(records);
    bool anyKey = false;
    {
        SavedRecord saved(a);
        const size_t rl = a.recordLength;
        const size_t per = std::max<size_t>(1, kReadPiece / rl);
        std::vector<uint8_t> buf(per * rl);
        uint8_t key[Mdx::MaxKeyLength];
        for (int64_t first = 1; first <= records; first += int64_t(per)) {
            size_t count = size_t(std::min<int64_t>(int64_t(per), records - first + 1));
            size_t got = 0;
            rc = a.file.ReadAt(TzDbfLow::RecordOffset(a, int32_t(first)), buf.data(), count * rl, &got);
            if (rc != 0 || got != count * rl) {
                return Error(rc ? rc : 100, "Error reading " + a.fileName + " [MakeIndex]");
            }
            TzDbfLow::TranslateRecord(0, a.oem, a.oemToAnsi, count * rl, rl, buf.data());
            for (size_t i = 0; i < count; ++i) {
                std::memcpy(a.record.data(), &buf[i * rl], rl);
                a.recNo = int32_t(first + int64_t(i));
                a.pending = false;
                a.nativeStale = true;
                a.eof = a.bof = false;
                progress.Tick();
                if (!MakeKey(a, t, key)) continue;
                anyKey = true;
                if ((rc = sorter.Add(key, uint32_t(a.recNo))) != 0) return rc;
            }
        }
    }
    g_lastRuns = sorter.Runs();

    Mdx::MdxPageWriter writer;
    if ((rc = writer.Begin(&f, h)) != 0) return rc;
    rc = sorter.Drain(d.unique, [&](const uint8_t* k, uint32_t recno) -> uint16_t {
        progress.Tick();
        return writer.Add(k, recno);
    });
    if (rc != 0) return rc;
    uint32_t root = 0;
    if ((rc = writer.Finish(&root)) != 0) return rc;
    progress.Finish();
    h.SetRootBlock(root);
    if (!cond.empty()) h.SetKeysPresent(anyKey);
    if ((rc = f.AppendTagHeader(&h)) != 0) return rc;
    int tagNo = 0;
    return f.EnterTag(d.name, h, &tagNo);
}

std::string IndexFileName(const WorkArea& a, const std::string& fileName) {
    std::string name = TzCommon::AllTrim(fileName);
    if (name.empty()) return TzCommon::ForceExtension(a.fileName, "MDX");
    if (name.find_first_of("/\\:") == std::string::npos) {
        name = TzCommon::FSplit(a.fileName).dir + name;
    }
    return TzCommon::DefaultExtension(name, "MDX");
}

// Runs f, turning a raised engine error into its code (the error word keeps it).
template <class F>
uint16_t Catching(F f, std::unique_ptr<TzCommon::ETzError>* first) {
    try {
        return f();
    } catch (const TzCommon::ETzError& e) {
        if (!*first) *first = std::make_unique<TzCommon::ETzError>(e);
        return TzCommon::ErrorWord ? TzCommon::ErrorWord : 254;
    }
}

}  // namespace

void SetProgressProc(void (*proc)(), int steps) {
    g_progress = steps > 0 ? proc : nullptr;
    g_steps = proc ? steps : 0;
}

size_t LastSpillRuns() { return g_lastRuns; }

bool MakeIndex(const std::vector<TagDescriptor>& tags, const std::string& fileName) {
    WorkArea* a = AreaFor("MakeIndex");
    if (!a) return false;
    TzCommon::ErrorWord = 0;
    const std::string name = IndexFileName(*a, fileName);
    CloseIndex();
    const int32_t back = (a->recNo >= 1 && a->recNo <= a->recCount && !a->eof) ? a->recNo : 0;
    // Another station that has the old file open keeps it: nothing is erased or replaced.
    if (tz::Exists(name)) {
        uint16_t rc = tz::EraseFile(name);
        if (rc != 0) {
            Error(rc == 32 ? 225 : rc, a->fileName + " MakeIndex(" + name + ")");
            return false;
        }
    }
    if (Dbf4::settings().sharing) tz::EraseFile(Mdx::SemaphoreFileName(a->fileName));
    Mdx::MdxFile f;
    std::unique_ptr<TzCommon::ETzError> first;
    TzCommon::LocalDate today = TzCommon::GetDate();
    uint16_t rc = Catching(
        [&] {
            return f.Create(name, a->fileName, today.year, today.month, today.day,
                            tz::ShareMode::Exclusive);
        },
        &first);
    bool ok = rc == 0;
    if (ok) {
        for (const TagDescriptor& d : tags) {
            if (d.name.empty()) break;
            uint16_t code = Catching([&] { return BuildTag(*a, f, d); }, &first);
            if (code != 0) ok = false;
        }
        Catching([&] { return f.FlushHeader(); }, &first);
        Catching([&] { return f.Close(); }, &first);
    }
    if (back > 0) Dbf4::Dbf4RawGo(back);
    if (first) throw *first;
    return ok;
}

bool AddIndexTag(const TagDescriptor& tag, bool exclusive) {
    WorkArea* a = AreaFor("AddIndexTag");
    if (!a) return false;
    AreaIndex* x = RequireIndex("AddIndexTag");
    if (!x) return false;
    TzCommon::ErrorWord = 0;
    bool reopened = false;
    if (exclusive && Dbf4::settings().sharing && !a->exclusive) {
        if (Dbf4::ReopenFile(true) != 0) {
            Error(225, a->fileName + " [AddIndexTag()]");
            return false;
        }
        reopened = true;
    }
    const std::string order = CurrentTagName();
    const std::string name = x->file.Name();
    std::unique_ptr<TzCommon::ETzError> first;
    SetLockSemaphoreProc(1);
    uint16_t rc = Catching([&] { return BuildTag(*a, x->file, tag); }, &first);
    Catching([&] { return x->file.FlushHeader(); }, &first);
    SetLockSemaphoreProc(0);
    // Other stations see the new tag table through the change counter; here the file is
    // opened again so that every tag descriptor is fresh.
    Catching(
        [&] {
            SetIndexTo(name);
            SetOrderToTag(order);
            return TzCommon::ErrorWord;
        },
        &first);
    if (reopened && Dbf4::ReopenFile(false) != 0) {
        Error(TzCommon::ErrorWord ? TzCommon::ErrorWord : 225,
              "Cannot_Reopen_Database_Sharable " + a->fileName + " [AddIndexTag()]");
    }
    if (first) throw *first;
    return rc == 0;
}

void Reindex() {
    WorkArea* a = AreaFor("Reindex");
    if (!a) return;
    AreaIndex* x = RequireIndex("Reindex");
    if (!x) return;
    const std::string order = CurrentTagName();
    const std::string name = x->file.Name();
    std::vector<TagDescriptor> tags;
    for (int n = 1; n <= TagCount(); ++n) {
        TagDescriptor d;
        d.name = TagName(n);
        d.expression = TagExpression(n);
        d.forCondition = TagForCondition(n);
        d.descending = TagDescending(n);
        d.unique = TagUnique(n);
        tags.push_back(d);
    }
    bool ok = false;
    try {
        ok = MakeIndex(tags, name);
    } catch (const TzCommon::ETzError&) {
        if (tz::Exists(name)) SetIndexTo(name);
        throw;
    }
    // A refused build leaves the old file; it is opened again either way.
    uint16_t code = TzCommon::ErrorWord;
    if (tz::Exists(name)) {
        SetIndexTo(name);
        if (IndexOf(a)) SetOrderToTag(order);
    }
    if (!ok && code != 0) TzCommon::ErrorWord = code;
}

bool OpenIndexOrRebuild(const std::vector<TagDescriptor>& tags, const std::string& fileName) {
    WorkArea* a = AreaFor("OpenIndexOrRebuild");
    if (!a) return false;
    const std::string name = IndexFileName(*a, fileName);
    uint16_t code = 2;
    if (tz::Exists(name)) {
        try {
            TzCommon::ErrorWord = 0;
            SetIndexTo(name);
            code = TzCommon::ErrorWord;
        } catch (const TzCommon::ETzError&) {
            code = TzCommon::ErrorWord ? TzCommon::ErrorWord : 222;
        }
        if (code == 0 && IndexOf(a)) return true;
    }
    if (code != 2 && code != 222 && code != 223) return false;
    // Only a station alone with the index may replace it: the semaphore file can be erased
    // only when no other station holds it open.
    const bool shared = Dbf4::settings().sharing && !a->exclusive;
    if (shared && tz::EraseFile(Mdx::SemaphoreFileName(a->fileName)) == 32) {
        TzCommon::ErrorWord = code;
        return false;
    }
    TzCommon::ErrorWord = 0;
    if (!MakeIndex(tags, name)) return false;
    SetIndexTo(name);
    return TzCommon::ErrorWord == 0 && IndexOf(a) != nullptr;
}

}  // namespace TzNdx
