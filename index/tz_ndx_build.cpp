// Index build: collecting keys from the table file, sorting them in runs with a spill file,
// merging them into pages, and the routines that make, extend and rebuild index files.
#include "index/tz_ndx_build.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>

#include "index/mdx_bulk.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_internal.h"
#include "storage/dates.h"
#include "storage/dbf4.h"
#include "storage/dbf_low.h"
#include "storage/file_layer.h"
#include "storage/scope_exit.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzNdx {

using namespace internal;
using Dbf4::WorkArea;

namespace {

// The index build's process-wide state.
struct BuildState {
    void (*progress)() = nullptr;  // the progress proc and its number of steps
    int steps = 0;
    size_t lastRuns = 0;  // spill runs of the last build
    int64_t (*diskFree)(const std::string& path) = nullptr;
};
BuildState g_build;

// The table file is read in pieces of about this many bytes (whole records).
constexpr size_t kTableRead = 1 << 20;
// Spill runs are written through a buffer of about this many bytes (whole items).
constexpr size_t kSpillWrite = 1 << 18;
// Items each run's read buffer holds during the merge.
constexpr size_t kMergeItems = 512;

// Calls the progress callback `steps` times in all over one tag's build.
class Progress {
  public:
    explicit Progress(int64_t records) {
        if (!g_build.progress || g_build.steps <= 0) return;
        interval_ = (records / g_build.steps) * 2;
        if (interval_ == 0) interval_ = 2;
    }
    void Tick() {
        if (!g_build.progress || g_build.steps <= 0) return;
        if (++count_ % interval_ == 0 && called_ < g_build.steps) {
            g_build.progress();
            ++called_;
        }
    }
    void Finish() {
        if (!g_build.progress) return;
        while (called_ < g_build.steps) {
            g_build.progress();
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
        : a_(a),
          record_(Dbf4::RecordOf(a), Dbf4::RecordOf(a) + a.record.size()),
          recNo_(a.recNo),
          eof_(a.eof),
          bof_(a.bof) {}
    ~SavedRecord() {
        std::memcpy(a_.record.data(), record_.data(), record_.size());
        a_.recNo = recNo_;
        a_.eof = eof_;
        a_.bof = bof_;
        a_.pending = false;
        TzDbfLow::MarkNativeStale(a_);
    }
    WorkArea& a_;
    std::vector<uint8_t> record_;
    int32_t recNo_;
    bool eof_, bof_;
};

inline uint64_t BigEndian64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

// Items: key bytes followed by the record number (32-bit, little-endian). They are ordered
// by the tag's key order, then by record number (smaller first, in descending tags too).
// Character keys are compared through their first sixteen bytes as two numbers first, which
// settles most comparisons without a call.
struct ItemOrder {
    Mdx::KeyCompare cmp;
    bool descending;
    int keyLength;
    bool charKeys;
    int skip = 0;  // leading bytes that every item holds alike (character keys)

    // The first sixteen key bytes as two numbers (zero bytes past a shorter key).
    struct Pre {
        uint64_t hi = 0, lo = 0;
        bool operator!=(const Pre& o) const { return hi != o.hi || lo != o.lo; }
        bool operator<(const Pre& o) const { return hi != o.hi ? hi < o.hi : lo < o.lo; }
    };
    Pre Prefix(const uint8_t* item) const {
        if (!charKeys) return Pre{};
        const uint8_t* p = item + skip;
        if (keyLength - skip >= 16) return Pre{BigEndian64(p), BigEndian64(p + 8)};
        uint8_t b[16] = {};
        std::memcpy(b, p, size_t(keyLength - skip));
        return Pre{BigEndian64(b), BigEndian64(b + 8)};
    }
    // Key order only (negative, 0, positive).
    int Keys(const uint8_t* x, const uint8_t* y) const {
        return descending ? cmp(y, x, size_t(keyLength)) : cmp(x, y, size_t(keyLength));
    }
    [[gnu::always_inline]] bool Less(const Pre& px, const uint8_t* x, const Pre& py,
                                     const uint8_t* y) const {
        if (charKeys) {
            if (px != py) return descending ? py < px : px < py;
            const int done = skip + 16;
            if (keyLength > done) {
                int c = std::memcmp(x + done, y + done, size_t(keyLength - done));
                if (c != 0) return descending ? c > 0 : c < 0;
            }
        } else {
            int c = Keys(x, y);
            if (c != 0) return c < 0;
        }
        return Mdx::Get32(x + keyLength) < Mdx::Get32(y + keyLength);
    }
};

class KeySorter {
  public:
    explicit KeySorter(ItemOrder order) : order_(order), item_(size_t(order.keyLength) + 4) {
        items_.resize(kSortRunItems * item_);
    }
    ~KeySorter() {
        spill_.Close();
        if (!spillUnlinked_ && !spillName_.empty()) tz::EraseFile(spillName_);
    }
    KeySorter(const KeySorter&) = delete;
    KeySorter& operator=(const KeySorter&) = delete;

    uint16_t Add(const uint8_t* key, uint32_t recno) {
        if (held_ == kSortRunItems) {
            if (uint16_t rc = SpillRun()) return rc;
        }
        if (!haveFirst_) {
            first_.assign(key, key + item_ - 4);
            common_ = order_.charKeys ? int(item_ - 4) : 0;
            haveFirst_ = true;
        } else if (common_ > 0 && std::memcmp(key, first_.data(), size_t(common_)) != 0) {
            int c = 0;
            while (key[c] == first_[size_t(c)]) ++c;
            common_ = c;
        }
        uint8_t* at = &items_[held_ * item_];
        std::memcpy(at, key, item_ - 4);
        Mdx::Put32(at + item_ - 4, recno);
        ++held_;
        return 0;
    }

    // Feeds every item in order to out (unique: only the first of each key).
    template <class Out>
    uint16_t Drain(bool unique, Out out) {
        const size_t kl = item_ - 4;
        bool haveLast = false;
        std::vector<uint8_t> lastKey(kl);
        auto emit = [&](const uint8_t* it) -> uint16_t {
            if (unique) {
                if (haveLast && order_.Keys(lastKey.data(), it) == 0) return 0;
                std::memcpy(lastKey.data(), it, kl);
                haveLast = true;
            }
            return out(it, Mdx::Get32(it + kl));
        };
        if (runs_ == 0) {
            SortHeld();
            for (const Ref& r : refs_) {
                if (uint16_t rc = emit(r.p)) return rc;
            }
            return 0;
        }
        if (held_ > 0) {
            if (uint16_t rc = SpillRun()) return rc;
        }
        std::vector<uint8_t>().swap(items_);
        std::vector<Ref>().swap(refs_);
        order_.skip = common_;  // alike in every run
        // Merge: one read buffer per run; a heap of the runs' current items, smallest on top.
        struct Run {
            uint64_t next = 0, end = 0;
            std::vector<uint8_t> buf;
            size_t pos = 0, len = 0;
        };
        std::vector<Run> runs(runs_);
        for (size_t i = 0; i < runs_; ++i) {
            runs[i].next = uint64_t(i) * kSortRunItems * item_;
            runs[i].end = runs[i].next + uint64_t(runItems_[i]) * item_;
            runs[i].buf.resize(kMergeItems * item_);
        }
        auto fill = [&](Run& r) -> uint16_t {
            size_t want = size_t(std::min<uint64_t>(r.buf.size(), r.end - r.next));
            size_t got = 0;
            r.pos = r.len = 0;
            if (want == 0) return 0;
            uint16_t rc = spill_.ReadAt(r.next, r.buf.data(), want, &got);
            if (rc != 0 || got != want) {
                return Error(rc ? rc : TzErr::DiskReadError,
                             "Error reading spill file " + spillName_ + " [MakeIndex]");
            }
            r.next += want;
            r.len = want;
            return 0;
        };
        struct Head {
            ItemOrder::Pre pre;
            const uint8_t* p;
            size_t run;
        };
        auto less = [&](const Head& x, const Head& y) {
            return order_.Less(x.pre, x.p, y.pre, y.p);
        };
        std::vector<Head> heap;
        heap.reserve(runs_);
        for (size_t i = 0; i < runs_; ++i) {
            if (uint16_t rc = fill(runs[i])) return rc;
            if (runs[i].len > 0) {
                const uint8_t* p = runs[i].buf.data();
                heap.push_back(Head{order_.Prefix(p), p, i});
            }
        }
        // Builds the heap, then replaces its top again and again, sifting the new top down.
        auto siftDown = [&](size_t at) {
            const size_t n = heap.size();
            Head h = heap[at];
            for (;;) {
                size_t c = 2 * at + 1;
                if (c >= n) break;
                if (c + 1 < n && less(heap[c + 1], heap[c])) ++c;
                if (!less(heap[c], h)) break;
                heap[at] = heap[c];
                at = c;
            }
            heap[at] = h;
        };
        for (size_t i = heap.size() / 2; i-- > 0;) siftDown(i);
        while (!heap.empty()) {
            Head& top = heap.front();
            if (uint16_t rc = emit(top.p)) return rc;
            Run& r = runs[top.run];
            r.pos += item_;
            if (r.pos >= r.len) {
                if (uint16_t rc = fill(r)) return rc;
            }
            if (r.len > 0) {
                top.p = &r.buf[r.pos];
                top.pre = order_.Prefix(top.p);
            } else {
                top = heap.back();
                heap.pop_back();
                if (heap.empty()) break;
            }
            siftDown(0);
        }
        return 0;
    }

    size_t Runs() const { return runs_; }

  private:
    struct Ref {
        ItemOrder::Pre pre;
        const uint8_t* p;
    };

    void SortHeld() {
        order_.skip = common_;
        refs_.resize(held_);
        for (size_t i = 0; i < held_; ++i) {
            const uint8_t* p = &items_[i * item_];
            refs_[i] = Ref{order_.Prefix(p), p};
        }
        const ItemOrder& o = order_;
        std::sort(refs_.begin(), refs_.end(),
                  [&o](const Ref& x, const Ref& y) { return o.Less(x.pre, x.p, y.pre, y.p); });
    }

    uint16_t SpillRun() {
        if (spillName_.empty()) {
            spillName_ = TzUtils::UniqueFilename();
            if (spillName_.empty())
                return Error(TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::AccessDenied,
                             "Cannot create spill file [MakeIndex]");
            uint16_t rc = spill_.Create(spillName_, tz::ShareMode::Exclusive);
            if (rc != 0)
                return Error(rc, "Cannot create spill file " + spillName_ + " [MakeIndex]");
            // Nameless from here on: a killed build leaves nothing in the temporary folder.
            spillUnlinked_ = spill_.Unlink() == 0;
            tz::StopPoint("index-spill");
        }
        SortHeld();
        const size_t per = std::max<size_t>(1, kSpillWrite / item_);
        out_.resize(per * item_);
        uint64_t off = uint64_t(runs_) * kSortRunItems * item_;
        size_t used = 0;
        for (size_t i = 0; i < held_; ++i) {
            std::memcpy(&out_[used], refs_[i].p, item_);
            used += item_;
            if (used == out_.size() || i + 1 == held_) {
                uint16_t rc = spill_.WriteAt(off, out_.data(), used);
                if (rc != 0)
                    return Error(rc, "Error writing spill file " + spillName_ + " [MakeIndex]");
                off += used;
                used = 0;
            }
        }
        runItems_.push_back(held_);
        ++runs_;
        held_ = 0;
        return 0;
    }

    ItemOrder order_;
    size_t item_;
    std::vector<uint8_t> items_;  // room for kSortRunItems items
    std::vector<Ref> refs_;
    std::vector<uint8_t> out_;
    std::vector<uint8_t> first_;  // the first key added
    bool haveFirst_ = false;
    int common_ = 0;  // bytes every key added so far shares with it
    size_t held_ = 0;
    size_t runs_ = 0;
    std::vector<size_t> runItems_;
    std::string spillName_;
    bool spillUnlinked_ = false;
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

}  // namespace

int64_t internal::DiskFree(const std::string& path) {
    return g_build.diskFree ? g_build.diskFree(path) : tz::DiskFreeKB(path);
}

namespace {

// One tag in the making: its compiled expressions and header, then its keys.
struct TagBuild {
    const TagDescriptor* d = nullptr;
    TagInfo t;
    Mdx::TagHeader h;
    std::string cond;
    std::unique_ptr<KeySorter> sorter;
    std::unique_ptr<Progress> progress;
    bool anyKey = false;
    bool failed = false;
};

// Compiles a tag's expressions, fills its header and checks the disk space for it
// (*neededKB: the space of the tags checked before it, raised by this one's).
uint16_t PrepareTag(WorkArea& a, Mdx::MdxFile& f, TagBuild& b, uint64_t* neededKB) {
    const TagDescriptor& d = *b.d;
    TagInfo& t = b.t;
    const std::string where = " [AddIndexTag()]";
    b.cond = TzCommon::TrimRight(d.forCondition);
    const std::string& cond = b.cond;
    if (!cond.empty()) {
        uint16_t rc = TzParser::ValidateForExpr(cond);
        if (rc != 0) return Error(rc, "Invalid FOR expression for " + d.name + where);
    }
    std::string expr = TzCommon::TrimRight(d.expression);
    if (expr.size() > 220)
        return Error(TzErr::ExpressionTooLong, "Expression length exceeds 100 bytes" + where);

    t.key = AssignTagExpr(expr);
    if (!t.key) {
        uint16_t code = TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::ExpressionError;
        return Error(code, "Invalid key expression for " + d.name + where);
    }
    switch (t.key->type) {
        case 'C':
            t.type = 'C';
            break;
        case 'D':
            t.type = 'D';
            break;
        case 'N':
            t.type = 'N';
            break;
        default:
            return Error(TzErr::InternalError, "Wrong parser return type" + where);
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
            return Error(TzErr::InvalidSize, "Incorrect key length: Must be 1 to 100." + where);
        }
    }
    t.keyLength = keyLength;
    if (!cond.empty()) {
        t.forCond = AssignTagExpr(cond);
        if (!t.forCond)
            return Error(TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::ExpressionError,
                         "Invalid FOR expression for " + d.name + where);
    }
    uint16_t rc = Mdx::MakeTagHeader(t.type, keyLength, expr, cond, d.unique, d.descending, &b.h);
    if (rc != 0) return rc;

    const int64_t records = a.recCount;
    const int perPage = b.h.KeysPerPage();
    int levels = 2;
    for (int64_t q = records / perPage; q > 0; q /= perPage) ++levels;
    // The tags of one build are collected together, so their spill files and pages are
    // needed at the same time.
    *neededKB += NeededBytes(records, keyLength + 4, perPage, levels) / 1024;
    const int64_t freeKB = DiskFree(f.Name());
    if (freeKB >= 0 && int64_t(*neededKB) > freeKB) {
        return Error(TzErr::InsufficientDiskSpace,
                     "Available disk space: " + std::to_string(freeKB) + " KBytes;" +
                         "needed: " + std::to_string(*neededKB) + " KBytes [MakeIndex]");
    }
    b.sorter = std::make_unique<KeySorter>(
        ItemOrder{CompareFor(t.type), d.descending, keyLength, t.type == 'C'});
    b.progress = std::make_unique<Progress>(records);
    return 0;
}

// Runs f, turning a raised engine error into its code (the error word keeps it).
template <class F>
uint16_t Catching(F f, std::unique_ptr<TzCommon::ETzError>* first) {
    try {
        return f();
    } catch (const TzCommon::ETzError& e) {
        if (!*first) *first = std::make_unique<TzCommon::ETzError>(e);
        return TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::InternalError;
    }
}

// Collects the keys of every tag in one sequential pass over the table file: each piece
// read is translated like the records the table engine reads, and each record in turn
// (deleted or not, regardless of any filter) becomes the area's current record for the key
// expressions. A tag whose keys cannot be kept (spill file) fails alone; a read failure
// fails them all.
uint16_t CollectKeys(WorkArea& a, const std::vector<TagBuild*>& tags,
                     std::unique_ptr<TzCommon::ETzError>* first) {
    const int64_t records = a.recCount;
    SavedRecord saved(a);
    const size_t rl = a.recordLength;
    const size_t per = std::max<size_t>(1, kTableRead / rl);
    std::vector<uint8_t> buf(
        size_t(std::min<int64_t>(int64_t(per), std::max<int64_t>(records, 1))) * rl);
    uint8_t key[Mdx::MaxKeyLength];
    for (int64_t firstRec = 1; firstRec <= records; firstRec += int64_t(per)) {
        size_t count = size_t(std::min<int64_t>(int64_t(per), records - firstRec + 1));
        size_t got = 0;
        uint16_t rc = a.file.ReadAt(TzDbfLow::RecordOffset(a, int32_t(firstRec)), buf.data(),
                                    count * rl, &got);
        if (rc != 0 || got != count * rl) {
            return Catching(
                [&] {
                    return Error(rc ? rc : TzErr::DiskReadError,
                                 "Error reading " + a.fileName + " [MakeIndex]");
                },
                first);
        }
        TzDbfLow::TranslateRecord(0, a.oem, a.oemToAnsi, count * rl, rl, buf.data());
        for (size_t i = 0; i < count; ++i) {
            std::memcpy(a.record.data(), &buf[i * rl], rl);
            a.recNo = int32_t(firstRec + int64_t(i));
            a.pending = false;
            TzDbfLow::MarkNativeStale(a);
            a.eof = a.bof = false;
            for (TagBuild* b : tags) {
                if (b->failed) continue;
                b->progress->Tick();
                if (!MakeKey(a, b->t, key)) continue;
                b->anyKey = true;
                uint16_t code =
                    Catching([&] { return b->sorter->Add(key, uint32_t(a.recNo)); }, first);
                if (code != 0) b->failed = true;
            }
        }
    }
    return 0;
}

// Writes a tag's pages from its sorted keys, then its header, and enters it in the tag table
// (inPlace: a tag of that name keeps its entry, pointed at the new header). Pages and header
// go first to the free blocks given, if any, then to the end of the file.
uint16_t WriteTag(Mdx::MdxFile& f, TagBuild& b, bool inPlace, std::deque<uint32_t>* free) {
    Mdx::MdxPageWriter writer;
    uint16_t rc;
    if ((rc = writer.Begin(&f, b.h)) != 0) return rc;
    writer.TakeFreeBlocks(free);
    Progress& progress = *b.progress;
    rc = b.sorter->Drain(b.d->unique, [&](const uint8_t* k, uint32_t recno) -> uint16_t {
        progress.Tick();
        return writer.Add(k, recno);
    });
    g_build.lastRuns = b.sorter->Runs();  // the last run is spilled when the merge begins
    if (rc != 0) return rc;
    uint32_t root = 0;
    if ((rc = writer.Finish(&root)) != 0) return rc;
    b.sorter.reset();  // the spill file goes at once
    progress.Finish();
    b.h.SetRootBlock(root);
    if (!b.cond.empty()) b.h.SetKeysPresent(b.anyKey);
    if (free != nullptr && !free->empty()) {
        rc = f.PutTagHeader(&b.h, free->front());
        free->pop_front();
    } else {
        rc = f.AppendTagHeader(&b.h);
    }
    if (rc != 0) return rc;
    if (const int n = f.FindTag(b.d->name); inPlace && n != 0) {
        f.SetTagHeaderBlock(n, b.h.block);
        tz::StopPoint("ndx-rebuild-tag-written");  // kill tests: a tag built again, not all
        return 0;
    }
    int tagNo = 0;
    return f.EnterTag(b.d->name, b.h, &tagNo);
}

// A tag entered in the tag table held in memory, not yet written.
struct EnteredTag {
    std::string name;
    Mdx::TagHeader h;
};

// Builds the tags into f (in their order, each one's pages followed by its header) from one
// pass over the area's table file; *entered (when given) receives the tags entered. Answers
// true when every tag was built.
bool BuildTags(WorkArea& a, Mdx::MdxFile& f, const std::vector<const TagDescriptor*>& descs,
               std::unique_ptr<TzCommon::ETzError>* first,
               std::vector<EnteredTag>* entered = nullptr, bool inPlace = false,
               std::deque<uint32_t>* free = nullptr) {
    Dbf4::Recount(a);
    bool ok = true;
    std::vector<std::unique_ptr<TagBuild>> builds;
    std::vector<TagBuild*> ready;
    uint64_t neededKB = 0;
    for (const TagDescriptor* d : descs) {
        auto b = std::make_unique<TagBuild>();
        b->d = d;
        if (Catching([&] { return PrepareTag(a, f, *b, &neededKB); }, first) != 0) {
            ok = false;
            continue;
        }
        ready.push_back(b.get());
        builds.push_back(std::move(b));
    }
    // A build that cannot hold every tag is not begun (nothing of it would be kept).
    if (!ok || ready.empty()) return ok;
    if (CollectKeys(a, ready, first) != 0) return false;
    tz::StopPoint("index-build");
    for (TagBuild* b : ready) {
        if (b->failed || Catching([&] { return WriteTag(f, *b, inPlace, free); }, first) != 0) {
            ok = false;
        } else if (entered) {
            entered->push_back({b->d->name, b->h});
        }
        b->sorter.reset();
    }

    return ok;
}

std::string IndexFileName(const WorkArea& a, const std::string& fileName) {
    std::string name = TzCommon::AllTrim(fileName);
    if (name.empty()) return TzCommon::ForceExtension(a.fileName, "MDX");
    if (name.find_first_of("/\\:") == std::string::npos) {
        name = TzCommon::FSplit(a.fileName).dir + name;
    }
    return TzCommon::DefaultExtension(name, "MDX");
}

}  // namespace

void SetProgressProc(void (*proc)(), int steps) {
    g_build.progress = steps > 0 ? proc : nullptr;
    g_build.steps = proc ? steps : 0;
}

void ResetBuildState() {
    g_build = BuildState();
}

size_t LastSpillRuns() {
    return g_build.lastRuns;
}

void SetDiskFreeProc(int64_t (*proc)(const std::string& path)) {
    g_build.diskFree = proc;
}

namespace {

// Holds the old index file alone, so that no other station opens it while its successor is
// built beside it. Another program's open is refused with 32 (or 5): a shared table is
// then reopened exclusively for the build and the file tried again. Error 225 when the
// file stays held.
bool HoldOldIndex(WorkArea& a, const std::string& name, tz::File* old, bool* reopened) {
    if (!tz::Exists(name)) return true;
    uint16_t rc = old->Open(name, tz::Access::ReadWrite, tz::ShareMode::Exclusive);
    if ((rc == TzErr::SharingViolation || rc == TzErr::AccessDenied) && Dbf4::settings().sharing &&
        !a.exclusive && Dbf4::ReopenFile(true) == 0) {
        *reopened = true;
        rc = old->Open(name, tz::Access::ReadWrite, tz::ShareMode::Exclusive);
    }
    if (rc == 0) return true;
    if (*reopened && Dbf4::ReopenFile(false) == 0) *reopened = false;
    Error(rc == TzErr::SharingViolation || rc == TzErr::AccessDenied ? TzErr::ExclusiveUseRequired
                                                                     : rc,
          a.fileName + " MakeIndex(" + name + ")");
    return false;
}

// Builds the index file beside its final place and renames it there once it is complete,
// so that a build that is killed leaves the old file (or none), never a partial one.
bool BuildIndexFile(WorkArea& a, const std::vector<TagDescriptor>& tags, const std::string& name,
                    tz::File& old, std::unique_ptr<TzCommon::ETzError>* first) {
    const std::string building = name + ".new";
    Mdx::MdxFile f;
    int year = 0, month = 0, day = 0;
    TzCommon::StampDate(&year, &month, &day);
    uint16_t rc = Catching(
        [&] { return f.Create(building, a.fileName, year, month, day, tz::ShareMode::Exclusive); },
        first);
    if (rc != 0) return false;
    std::vector<const TagDescriptor*> descs;
    for (const TagDescriptor& d : tags) {
        if (d.name.empty()) break;
        descs.push_back(&d);
    }
    bool ok = BuildTags(a, f, descs, first);
    // Only a whole build takes the old file's place: a failed one (a full disk, a bad
    // expression) goes, and the old index stays as it was.
    rc = ok ? Catching([&] { return f.FlushHeader(); }, first) : 0;
    if (ok && rc == 0) rc = f.Handle().Sync();
    if (ok && rc == 0) rc = f.Handle().RenameTo(name, &old);
    if (!ok || rc != 0) {
        if (rc != 0 && !*first)
            Catching(
                [&] { return Error(rc, "Cannot create index file: " + name + " [MakeIndex]"); },
                first);
        f.Handle().Unlink();
        ok = false;
    }
    Catching([&] { return f.Close(); }, first);
    return ok;
}

}  // namespace

bool MakeIndex(const std::vector<TagDescriptor>& tags, const std::string& fileName) {
    WorkArea* a = AreaFor("MakeIndex");
    if (!a) return false;
    TzCommon::ClearErrorWord();
    const std::string name = IndexFileName(*a, fileName);
    CloseIndex();
    const int32_t back = (a->recNo >= 1 && a->recNo <= a->recCount && !a->eof) ? a->recNo : 0;
    // Another station that has the old file open keeps it: nothing is erased or replaced.
    tz::File old;
    bool reopened = false;
    if (!HoldOldIndex(*a, name, &old, &reopened)) return false;
    if (Dbf4::settings().sharing)
        Mdx::EraseUnusedSemaphore(Mdx::SemaphoreFileName(a->fileName), &a->file);
    std::unique_ptr<TzCommon::ETzError> first;
    const bool ok = BuildIndexFile(*a, tags, name, old, &first);
    old.Close();
    if (back > 0) Dbf4::Dbf4RawGo(back);
    if (reopened) {
        if (uint16_t rc = Dbf4::ReopenFile(false)) {
            Catching(
                [&] {
                    return Error(rc, "Cannot_Reopen_Database_Sharable MakeIndex(" + name + ")");
                },
                &first);
        }
    }
    if (first) throw *first;
    return ok;
}

// Enters again each tag that the tag table held here no longer lists with its header's
// block: taking the writer lock reads the header again when the file changed meanwhile (or
// a dead station's count was cleared). 0 or EnterTag's reported code.
uint16_t EnterAgain(Mdx::MdxFile& f, const std::vector<EnteredTag>& entered) {
    for (const EnteredTag& e : entered) {
        const int n = f.FindTag(e.name);
        if (n != 0 && f.TagHeaderBlock(n) == e.h.block) continue;
        int tagNo = 0;
        if (uint16_t rc = f.EnterTag(e.name, e.h, &tagNo)) return rc;
    }
    return 0;
}

bool AddIndexTag(const TagDescriptor& tag, bool exclusive) {
    WorkArea* a = AreaFor("AddIndexTag");
    if (!a) return false;
    AreaIndex* x = RequireIndex("AddIndexTag");
    if (!x) return false;
    TzCommon::ClearErrorWord();
    bool reopened = false;
    if (exclusive && Dbf4::settings().sharing && !a->exclusive) {
        if (Dbf4::ReopenFile(true) != 0) {
            Error(TzErr::ExclusiveUseRequired, a->fileName + " [AddIndexTag()]");
            return false;
        }
        reopened = true;
    }
    const std::string order = CurrentTagName();
    const std::string name = x->file.Name();
    std::unique_ptr<TzCommon::ETzError> first;
    // The new tag's pages go to the end of the file, where no other station reads: the
    // build runs counted as a reader, so that other stations' writers wait while their
    // readers go on. Only the tag table is written under the writer lock.
    SetReadSemaphoreProc(1);
    tz::ScopeExit reading([] { SetReadSemaphoreProc(0); });
    x->unenteredPages = true;
    tz::ScopeExit entering([x] { x->unenteredPages = false; });
    std::vector<EnteredTag> entered;
    bool built = BuildTags(*a, x->file, {&tag}, &first, &entered);
    tz::StopPoint("ndx-tag-built");  // kill tests: the pages are written, the tag not entered
    SetLockSemaphoreProc(1);
    if (Catching([&] { return EnterAgain(x->file, entered); }, &first) != 0) built = false;
    Catching([&] { return x->file.FlushHeader(); }, &first);
    SetLockSemaphoreProc(0);
    entering.Run();
    reading.Run();
    // Other stations see the new tag table through the change counter; here the file is
    // opened again so that every tag descriptor is fresh.
    Catching(
        [&] {
            SetIndexTo(name);
            // The order goes back to its tag unless the new one took that tag's place.
            for (int n = 1; n <= TagCount(); ++n) {
                if (TagName(n) == order) SetOrderToTag(order);
            }
            if (order.empty()) SetOrderToTag(order);
            return TzCommon::ErrorWord();
        },
        &first);
    if (reopened && Dbf4::ReopenFile(false) != 0) {
        Error(TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::ExclusiveUseRequired,
              "Cannot_Reopen_Database_Sharable " + a->fileName + " [AddIndexTag()]");
    }
    if (first) throw *first;
    return built;
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
        // The old file, left as it was, is opened again; the build's code stays the one
        // reported.
        const uint16_t code = TzCommon::ErrorWord();
        if (tz::Exists(name)) SetIndexTo(name);
        if (code != 0) TzCommon::SetErrorWord(code);
        throw;
    }
    // A refused build leaves the old file; it is opened again either way.
    uint16_t code = TzCommon::ErrorWord();
    if (tz::Exists(name)) {
        SetIndexTo(name);
        if (IndexOf(a)) SetOrderToTag(order);
    }
    if (!ok && code != 0) TzCommon::SetErrorWord(code);
}

namespace internal {

namespace {

// The page starts of x's file that no tag of its tag table leads to (the pages of tags
// built before, or of changes that were cut short), lowest first; none when a tag cannot
// be followed whole. The tags in use stay as they are until the new ones replace them, so
// a build that ends part-way leaves them whole.
std::deque<uint32_t> FreePages(Mdx::MdxFile& f) {
    std::deque<uint32_t> free;
    std::vector<bool> used;
    if (!Mdx::UsedBlocks(f, &used)) return free;
    for (uint32_t b = Mdx::FirstPageBlock; size_t(b) + 1 < used.size(); b += 2)
        if (!used[b] && !used[b + 1]) free.push_back(b);
    return free;
}

// Builds the tags again into x's file and points each entry at its new header.
bool BuildInPlace(WorkArea& a, AreaIndex& x) {
    std::vector<TagDescriptor> tags;
    for (const auto& t : x.tags) {
        const Mdx::TagHeader& h = t->tree.Header();
        tags.push_back({t->name, h.Expression(), h.ForCondition(), h.Descending(), h.Unique()});
    }
    std::vector<const TagDescriptor*> descs;
    for (const TagDescriptor& d : tags) descs.push_back(&d);
    std::deque<uint32_t> free = x.unenteredPages ? std::deque<uint32_t>() : FreePages(x.file);
    std::unique_ptr<TzCommon::ETzError> first;
    if (!BuildTags(a, x.file, descs, &first, nullptr, true, &free) || first) return false;
    // The mark stays until the change under way is complete.
    x.file.PokeHeader(kMaintenanceMark, 1);
    if (x.file.FlushHeader() != 0) return false;
    // The pages of the tags before (packed full by the build, the tags split at once when
    // changed) serve the splits of the changes that follow, until another station changes
    // the file, so that repair after repair the file does not grow without end.
    if (!x.unenteredPages) x.file.SetFreePages(FreePages(x.file));
    return true;
}

// Loads x's tags again from its file, the controlling tag kept by name.
bool ReloadTags(AreaIndex& x) {
    const TagInfo* c = Controlling(x);
    const std::string order = c ? c->name : std::string();
    x.tags.clear();
    x.order = 0;
    const int count = std::min(x.file.TagsInUse(), Mdx::MaxTags);
    for (int n = 1; n <= count; ++n) {
        if (LoadTag(x, n) != 0) return false;
        if (!order.empty() && x.tags.back()->name == order) x.order = n;
    }
    return true;
}

}  // namespace

// The area's record and native buffer are kept: a change may be under way (its record not
// yet written, or written and not yet keyed). The pages go into pages no tag uses (those
// of the tags built before), then to the end of the file; the tags' current pages stay
// as they are until the next build. No other station reads meanwhile (this station holds
// the writer lock, and the file carries the maintenance mark until the build is
// complete, so an index left part-way is built again by the next station), and other
// stations take the new tags in through the change counter.
uint16_t RebuildInPlace(WorkArea& a, AreaIndex& x) {
    const std::vector<uint8_t> native(a.native, a.native + a.nativeSize);
    const bool stale = a.nativeStale;
    const uint64_t staleMark = a.staleMark;
    const auto fieldMark = a.fieldMark;
    const uint16_t before = TzCommon::ErrorWord();
    bool ok = false;
    {
        TzCommon::ErrorCheckingOff quiet;
        try {
            ok = BuildInPlace(a, x) && ReloadTags(x);
        } catch (const TzCommon::ETzError&) {
            ok = false;
        }
    }
    const uint16_t code =
        ok ? 0 : (TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::CorruptedIndex);
    // Pages of the old tags that could not be read while the free ones were looked for
    // were damage the new tags replace.
    if (ok) x.file.TakeDamaged();
    std::memcpy(a.native, native.data(), native.size());
    a.nativeStale = stale;
    a.staleMark = staleMark;
    a.fieldMark = fieldMark;
    if (before != 0) {
        TzCommon::SetErrorWord(before);
    } else {
        TzCommon::ClearErrorWord();
    }
    return code;
}

}  // namespace internal

bool RebuildableError(uint16_t code) {
    return code == TzErr::FileNotFound || code == TzErr::CorruptedIndex ||
           code == TzErr::IndexVersionMismatch;
}

bool OpenIndexOrRebuild(const std::vector<TagDescriptor>& tags, const std::string& fileName) {
    WorkArea* a = AreaFor("OpenIndexOrRebuild");
    if (!a) return false;
    const std::string name = IndexFileName(*a, fileName);
    uint16_t code = TzErr::FileNotFound;
    if (tz::Exists(name)) {
        try {
            TzCommon::ClearErrorWord();
            SetIndexTo(name);
            code = TzCommon::ErrorWord();
        } catch (const TzCommon::ETzError&) {
            code = TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::CorruptedIndex;
        }
        if (code == 0 && IndexOf(a)) return true;
    }
    if (!RebuildableError(code)) return false;
    // Only a station alone with the index may replace it: the semaphore file can be erased
    // only when no other station holds it open.
    const bool shared = Dbf4::settings().sharing && !a->exclusive;
    if (shared && Mdx::EraseUnusedSemaphore(Mdx::SemaphoreFileName(a->fileName), &a->file) ==
                      TzErr::SharingViolation) {
        TzCommon::SetErrorWord(code);
        return false;
    }
    TzCommon::ClearErrorWord();
    if (!MakeIndex(tags, name)) return false;
    SetIndexTo(name);
    return TzCommon::ErrorWord() == 0 && IndexOf(a) != nullptr;
}

}  // namespace TzNdx
