// Index engine: building keys from records, positioning tags on the current record and
// keeping every tag up to date when a record is appended or rewritten.
#include <cstring>
#include <optional>

#include "expr/key_encoding.h"
#include "index/tz_ndx.h"
#include "index/tz_ndx_internal.h"
#include "storage/code_page.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"

namespace TzNdx {

using namespace internal;
using Dbf4::WorkArea;

namespace {

// Keeps the pages a change writes until Flush (or the end of the scope, where a failure is
// left for the next change to find: the file then refuses further writes).
class WriteBack {
  public:
    explicit WriteBack(Mdx::MdxFile& f) : f_(f) { f_.SetWriteBack(true); }
    ~WriteBack() {
        f_.SetWriteBack(false);
        try {
            f_.FlushDirty();
        } catch (const TzCommon::ETzError&) {
        }
    }
    WriteBack(const WriteBack&) = delete;
    WriteBack& operator=(const WriteBack&) = delete;
    // Answers 0 or the failed write's code (a raised failure counts as one).
    uint16_t Flush() {
        f_.SetWriteBack(false);
        try {
            return f_.FlushDirty();
        } catch (const TzCommon::ETzError&) {
            return TzCommon::ErrorWord() ? TzCommon::ErrorWord() : TzErr::DiskWriteError;
        }
    }

  private:
    Mdx::MdxFile& f_;
};

}  // namespace

namespace internal {

void CharKeyBytes(const WorkArea& a, const char* text, size_t n, int len, uint8_t* out) {
    size_t take = std::min(n, size_t(len));
    std::memcpy(out, text, take);
    if (a.oem) {
        for (size_t i = 0; i < take; ++i) out[i] = tz::AnsiToOemChar(out[i]);
    }
    if (take < size_t(len)) std::memset(out + take, ' ', size_t(len) - take);
}

bool MakeKey(WorkArea& a, TagInfo& t, uint8_t* out) {
    Dbf4::RecordOf(a);
    if (t.forCond) {
        const uint8_t* r = TzParser::Evaluate(t.forCond);
        int32_t v = 0;
        if (r) std::memcpy(&v, r, sizeof v);
        if (v == 0) return false;
    }
    const uint8_t* r = TzParser::Evaluate(t.key);
    switch (t.type) {
        case 'C': {
            const char* s = r ? reinterpret_cast<const char*>(r) : "";
            // A text of another length than the key is padded with blanks or cut.
            CharKeyBytes(a, s, strnlen(s, size_t(t.keyLength)), t.keyLength, out);
            break;
        }
        case 'D': {
            double d = TzKey::kBlankDate;
            if (r) std::memcpy(&d, r, sizeof d);
            std::memcpy(out, &d, sizeof d);
            break;
        }
        default: {
            double v = 0;
            if (r) std::memcpy(&v, r, sizeof v);
            TzKey::DoubleToBcd(out, t.key->decimals, v);
            break;
        }
    }
    return true;
}

uint16_t SyncTag(WorkArea& a, AreaIndex& x, TagInfo& t, SyncReport report) {
    if (a.recNo < 1 || a.recNo > a.recCount) return 0;
    uint8_t key[Mdx::MaxKeyLength];
    if (!MakeKey(a, t, key)) return 0;  // the record has no key in this tag
    const uint32_t r = uint32_t(a.recNo);
    // Already there (the usual case after a step or a search).
    if (t.tree.OnEntry() && t.tree.RecNo() == r &&
        std::memcmp(t.tree.Key(), key, size_t(t.keyLength)) == 0) {
        return 0;
    }
    bool found = false;
    uint16_t rc = t.tree.SeekRecord(key, r, &found);
    if (rc != 0 || found || report == SyncReport::kQuiet || t.tree.Header().Unique()) return rc;
    if (KeysLagBehind(x)) {
        // The row's keys could not be written for lack of room: said so, in the user's words.
        return Error(x.failCode,
                     "Disken er fuld: " + TzCommon::FSplit(x.file.Name()).dir +
                         "\r\nR\xE6kken er gemt, men indeksfilen " + x.file.Name() +
                         " kunne ikke opdateres, s\xE5 den kan ikke findes i denne orden endnu. "
                         "Intet er g\xE5"
                         "et tabt.\r\nFrig\xF8r plads p\xE5 disken; indeksfilen bygges s\xE5 op "
                         "igen. [SyncIndex] Record: " +
                         std::to_string(a.recNo));
    }
    std::string shown;
    if (t.type == 'C') shown.assign(reinterpret_cast<const char*>(key), size_t(t.keyLength));
    // Is the key there at all, for other records?
    rc = t.tree.Seek(key, size_t(t.keyLength));
    const bool keyThere =
        rc == 0 && t.tree.OnEntry() && t.tree.Compare(t.tree.Key(), key, size_t(t.keyLength)) == 0;
    const bool soft = report == SyncReport::kSoft;
    // The table is named too: a record missing from its tag is more often the table's
    // fault (another program changed it) than the index's.
    const std::string record = " Record: " + std::to_string(a.recNo) + " of " + a.fileName;
    if (!keyThere) {
        return Error(TzErr::RequestBeyondRange,
                     "Key: \"" + shown + "\" not in index: " + t.tree.TagText() +
                         (soft ? ". [SoftSyncIndex]" : ". [SyncIndex-1]") + record);
    }
    return Error(TzErr::RequestBeyondRange,
                 "Record with key: \"" + shown + "\" not in index: " + t.tree.TagText() +
                     (soft ? ". [SoftSyncIndex]" : ". [SyncIndex-2]") + record);
}

}  // namespace internal

void SyncIndex() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    TagInfo* t = x ? Controlling(*x) : nullptr;
    if (!t) return;
    if (a->recNo < 1 || a->recNo > a->recCount) {
        x->atEnd = true;
        return;
    }
    x->atEnd = x->atBegin = false;
    if (x->placing && t->tree.OnEntry() && t->tree.RecNo() == uint32_t(a->recNo)) return;
    // A record a FOR condition excludes, or another station's change, may legitimately be
    // missing from the tag; only a plain tag reports a missing key.
    SyncTag(*a, *x, *t, t->forCond ? SyncReport::kQuiet : SyncReport::kSync);
}

namespace {

// The table engine writes the record even when the update lock it asked for was refused
// (with error checking on, the refusal is only reported): the keys then cannot follow, and
// the index is left marked for rebuilding.
bool WriterLockMissing(AreaIndex& x) {
    if (x.lockNest == 0 || x.lockHeld) return false;
    x.failed = true;
    return true;
}

}  // namespace

void AppendNewKey() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!a || !x || WriterLockMissing(*x)) return;
    if (BeginChange(*x) != 0) return;
    tz::StopPoint("ndx-append-keys");  // kill tests: the record written, no key yet
    uint8_t key[Mdx::MaxKeyLength];
    const uint32_t r = uint32_t(a->recNo);
    // The pages every tag changes are written together once all keys are in. A failure
    // raises (also where errors are otherwise dispatched), so that it ends here.
    std::optional<TzCommon::ErrorCheckingOff> quiet(std::in_place);
    WriteBack pages(x->file);
    for (auto& tp : x->tags) {
        TagInfo& t = *tp;
        if (!MakeKey(*a, t, key)) continue;
        uint16_t rc;
        try {
            if (t.forCond && !t.tree.Header().KeysPresent()) t.tree.SetKeysPresent(true);
            rc = t.tree.Insert(key, r);
        } catch (const TzCommon::ETzError&) {
            ChangeFailed(*x);
            return;
        }
        if (rc != 0) {
            ChangeFailed(*x);
            return;
        }
    }
    if (!x->tags.empty() && pages.Flush() != 0) {
        ChangeFailed(*x);
        return;
    }
    quiet.reset();
    if (TagInfo* c = Controlling(*x)) {
        x->atEnd = x->atBegin = false;
        SyncTag(*a, *x, *c, SyncReport::kSoft);
    }
}

void KeepOldKeys() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!a || !x) return;
    const bool onRecord = a->recNo >= 1 && a->recNo <= a->recCount && !a->eof;
    for (auto& tp : x->tags) {
        TagInfo& t = *tp;
        t.oldKey.assign(size_t(t.keyLength), t.type == 'C' ? ' ' : 0);
        t.oldHas = onRecord && MakeKey(*a, t, t.oldKey.data());
    }
}

void UpdateChangedKeys() {
    WorkArea* a = Dbf4::Current();
    AreaIndex* x = IndexOf(a);
    if (!a || !x || WriterLockMissing(*x)) return;
    tz::StopPoint("ndx-replace-keys");  // kill tests: the record rewritten, its old keys kept
    const uint32_t r = uint32_t(a->recNo);
    uint8_t key[Mdx::MaxKeyLength];
    bool begun = false;
    std::optional<TzCommon::ErrorCheckingOff> quiet(std::in_place);  // a failure raises
    WriteBack pages(x->file);
    for (auto& tp : x->tags) {
        TagInfo& t = *tp;
        const bool has = MakeKey(*a, t, key);
        if (has == t.oldHas &&
            (!has || std::memcmp(key, t.oldKey.data(), size_t(t.keyLength)) == 0)) {
            continue;
        }
        if (!begun) {
            if (BeginChange(*x) != 0) return;
            begun = true;
        }
        uint16_t rc = 0;
        bool lost = false;  // the record's old entry is not in the tag
        try {
            if (t.oldHas) {
                bool found = false;
                rc = t.tree.Remove(t.oldKey.data(), r, &found);
                // A unique tag may hold the old key for another record; a FOR tag may not
                // have held the record at all.
                lost = rc == 0 && !found && !t.tree.Header().Unique() && !t.forCond;
            }
            if (rc == 0 && has && !lost) {
                if (t.forCond && !t.tree.Header().KeysPresent()) t.tree.SetKeysPresent(true);
                rc = t.tree.Insert(key, r);
            }
        } catch (const TzCommon::ETzError&) {
            rc = 1;
        }
        // A tag that lost the record's entry disagrees with the table: the new key would
        // list the record twice. The tags are built again instead.
        if (rc != 0 || lost) {
            ChangeFailed(*x);
            return;
        }
        std::memcpy(t.oldKey.data(), key, size_t(t.keyLength));
        t.oldHas = has;
    }
    if (!x->tags.empty() && pages.Flush() != 0) {
        ChangeFailed(*x);
        return;
    }
    quiet.reset();
    if (TagInfo* c = Controlling(*x)) {
        x->atEnd = x->atBegin = false;
        SyncTag(*a, *x, *c, SyncReport::kSoft);
    }
}

}  // namespace TzNdx
