// Archive and restore of closed cases (see kj_arkiv.h).
#include "app/kj_arkiv.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <array>
#include <cstring>
#include <optional>
#include <random>
#include <set>

#include "app/kj_data.h"
#include "app/kj_record_copy.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/db_controls.h"
#include "ui/db_ctrl_grid.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

constexpr unsigned long kLockPauseMs = 2;

// One table of a case's rows: the live table, its archive, the tag and the case field.
struct Detail {
    TzDs::TTzDbf& live;
    TzDs::TTzDbf& archive;
    const char* tag;
    const char* caseField;
};

// A case moved in pass 1: the record numbers to delete in pass 2.
struct CopiedCase {
    std::string nr;
    int32_t caseRec = 0;
    std::vector<int32_t> postRecs, eventRecs;
};

constexpr char kRestoreMark[] = "@R";  // and 15 hexadecimal digits: 17 wide, every filler
// The filler of an archived case row whose move is not complete: its live rows are not all
// deleted yet. Cleared once they are.
constexpr char kMoveMark[] = "@A";

void Pump() {
    kjqt::LetMessagesThrough();
}

// Takes a lock, retrying without limit and letting messages through after each refusal.
void Retry(const std::function<bool()>& lock) {
    while (!lock()) {
        Pump();
        QThread::msleep(kLockPauseMs);
    }
}

std::string Text(Db::TDataSet& t, const char* field) {
    return t.FieldByName(field).AsString();
}

// Every field's native bytes of record r of an area, the field `blank` (0 for none) left
// out: two rows with equal keys hold the same values.
std::string RowKey(int area, int32_t r, int blank) {
    Dbf4::Select(area);
    Dbf4::Go(r);
    const std::vector<std::string> fields = ReadNativeFields(area);
    std::string key;
    for (size_t i = 0; i < fields.size(); ++i)
        if (int(i + 1) != blank) key += fields[i];
    return key;
}

int FillerOf(int area) {
    Dbf4::Select(area);
    return Dbf4::FieldNo("FILLER");
}

// The record numbers of case `nr`'s rows in a table, through its case tag (rows marked
// deleted are hidden by the component). With `hold` the table's index read count is held
// across the walk (given way to a station waiting to change the index; no messages run);
// without, the caller holds it or has the table alone.
std::vector<int32_t> RowsOfCase(TzDs::TTzDbf& t, const char* tag, const char* field,
                                const std::string& nr, bool hold = false) {
    std::optional<TzDs::TIndexReadHold> reading;
    if (hold) reading.emplace(std::vector<TzDs::TTzDbf*>{&t});
    std::vector<int32_t> recs;
    if (TzCommon::TrimRight(t.CurrentTag()) != tag) t.SetOrderToTag(tag);
    if (!t.FindNear(nr)) return recs;
    for (; !t.Eof() && Text(t, field) == nr; t.Next()) {
        if (reading) reading->GiveWay();
        recs.push_back(t.RecNo());
    }
    return recs;
}

// Appends a copy of record r of the map's source (whose target lock the caller holds).
void AppendCopy(const FieldMap& map, int32_t r, const std::function<void()>& adjust = {}) {
    Dbf4::Select(map.source);
    Dbf4::Go(r);
    FillStoredFromSource(map);
    if (adjust) adjust();
    if (!AppendFilled(map)) {
        const uint16_t code = TzCommon::ErrorWord();
        Dbf4::Select(map.target);
        ThrowEngineFailure(Dbf4::DbfName(), code);
    }
}

std::array<Detail, 2> DetailsOf(TKJData& d) {
    return {Detail{d.PostDbf, d.posterAfslut, "POSTSAG", "post_sag"},
            Detail{d.StatusDbf, d.statusAfslut, "STATUS", "stat_sag"}};
}

// Moves case `nr`'s rows of a live detail table into its archive, except the rows the
// archive already holds an equal copy of: every archived row is there once. The live
// record numbers to delete.
std::vector<int32_t> CopyDetail(const Detail& d, const std::string& nr) {
    const int live = d.live.WorkAreaNo(), archive = d.archive.WorkAreaNo();
    std::multiset<std::string> held;
    for (int32_t r : RowsOfCase(d.archive, d.tag, d.caseField, nr))
        held.insert(RowKey(archive, r, 0));
    const std::vector<int32_t> recs = RowsOfCase(d.live, d.tag, d.caseField, nr);
    const FieldMap map = MapFieldsByName(archive, live);
    for (int32_t r : recs) {
        const auto it = held.empty() ? held.end() : held.find(RowKey(live, r, 0));
        if (it != held.end())
            held.erase(it);
        else
            AppendCopy(map, r);
        tz::StopPoint("archive-row-copied");
    }
    return recs;
}

// Copies the current case into the archive, carrying the move mark, unless an equal copy
// is there already (the filler aside: a case whose restore was interrupted carries the
// restore mark).
void CopyCase(TKJData& d, const std::string& nr, int32_t rec) {
    const int live = d.SagsDbf.WorkAreaNo(), archive = d.SagAfslut.WorkAreaNo();
    const std::string key = RowKey(live, rec, FillerOf(live));
    const int archiveFiller = FillerOf(archive);
    for (int32_t r : RowsOfCase(d.SagAfslut, "SAGSNR", "sags_nr", nr))
        if (RowKey(archive, r, archiveFiller) == key) return;
    AppendCopy(MapFieldsByName(archive, live), rec,
               [archiveFiller] { PutNativeText(archiveFiller, kMoveMark); });
}

bool HasMoveMark(int area, int32_t r) {
    const int filler = FillerOf(area);
    return TzCommon::TrimRight(Dbf4::Peek(r, filler)) == kMoveMark;
}

// Whether the archive holds a finished move of case number `nr` (a case row without the
// move mark).
bool MovedBefore(TKJData& d, const std::string& nr) {
    const int area = d.SagAfslut.WorkAreaNo();
    for (int32_t r : RowsOfCase(d.SagAfslut, "SAGSNR", "sags_nr", nr))
        if (!HasMoveMark(area, r)) return true;
    return false;
}

// Marks rows of a table deleted; the caller holds the table alone.
void DeleteOwnRows(TzDs::TTzDbf& t, const std::vector<int32_t>& recs) {
    for (int32_t r : recs) {
        Dbf4::Select(t.WorkAreaNo());
        Dbf4::Go(r);
        if (!Dbf4::Deleted()) Dbf4::DeleteRec();
    }
    t.ResyncFromArea();
}

// Deletes the archived rows of case `nr` from the three archives. Called for a live case
// that the archive holds no finished move of: its rows there are what an interrupted move
// of it left, and the live rows replace them whole (rows the user deleted or changed since
// do not come back).
void DropLeftovers(TKJData& d, const std::string& nr) {
    for (const Detail& det : DetailsOf(d))
        DeleteOwnRows(det.archive, RowsOfCase(det.archive, det.tag, det.caseField, nr));
    DeleteOwnRows(d.SagAfslut, RowsOfCase(d.SagAfslut, "SAGSNR", "sags_nr", nr));
}

// Clears the move mark of the archived case rows of number `nr` (the archive is the
// caller's alone, or it holds the rows' locks).
void ClearMoveMarks(TKJData& d, const std::string& nr) {
    const int area = d.SagAfslut.WorkAreaNo(), filler = FillerOf(area);
    for (int32_t r : RowsOfCase(d.SagAfslut, "SAGSNR", "sags_nr", nr)) {
        if (!HasMoveMark(area, r)) continue;
        Dbf4::Select(area);
        Dbf4::Go(r);
        PutNativeText(filler, "");
        Dbf4::Replace();
    }
    d.SagAfslut.ResyncFromArea();
}

// The live rows of case `nr` in a detail table that its archive holds an equal copy of.
std::vector<int32_t> ArchivedLiveRows(const Detail& det, const std::string& nr) {
    const int live = det.live.WorkAreaNo(), archive = det.archive.WorkAreaNo();
    std::multiset<std::string> held;
    for (int32_t r : RowsOfCase(det.archive, det.tag, det.caseField, nr, true))
        held.insert(RowKey(archive, r, 0));
    std::vector<int32_t> recs;
    for (int32_t r : RowsOfCase(det.live, det.tag, det.caseField, nr, true)) {
        const auto it = held.find(RowKey(live, r, 0));
        if (it == held.end()) continue;
        held.erase(it);
        recs.push_back(r);
    }
    return recs;
}

// Deletes the given records of a live table (one case's rows) under the table's file lock.
void DeleteRecords(TzDs::TTzDbf& t, const std::vector<int32_t>& recs) {
    if (recs.empty()) return;
    Retry([&t] { return t.FLock(); });
    for (int32_t r : recs) {
        Dbf4::Select(t.WorkAreaNo());
        Dbf4::Go(r);
        if (!Dbf4::Deleted()) Dbf4::DeleteRec();
    }
    t.UnLock();
}

// The archive tables exclusive and writable for the run; closed, shared and writable after
// it on every path.
struct ArchivesOpen {
    std::vector<TzDs::TTzDbf*> tables;
    explicit ArchivesOpen(TKJData& d) : tables{&d.SagAfslut, &d.posterAfslut, &d.statusAfslut} {
        for (TzDs::TTzDbf* t : tables) {
            t->SetActive(false);
            t->SetExclusive(true);
            t->ReadOnly = false;
            t->SetActive(true);
        }
        for (TzDs::TTzDbf* t : tables) Retry([t] { return t->FLock(); });
    }
    ~ArchivesOpen() {
        for (TzDs::TTzDbf* t : tables) {
            try {
                t->UnLock();
                t->SetActive(false);
            } catch (...) {
            }
            t->SetExclusive(false);
            t->ReadOnly = false;
        }
    }
};

std::vector<CopiedCase> CopyPass(TKJData& d, ArchiveCounts& c,
                                 const std::function<void(const ArchiveCounts&)>& shown) {
    std::vector<CopiedCase> copied;
    const Detail posts{d.PostDbf, d.posterAfslut, "POSTSAG", "post_sag"};
    const Detail events{d.StatusDbf, d.statusAfslut, "STATUS", "stat_sag"};
    TzDs::TTzDbf& s = d.SagsDbf;
    // The live tables are only read in this pass (the copies go to the archives, open
    // exclusively): their index read counts are held across it.
    TWalkHold walk({&s, &d.PostDbf, &d.StatusDbf});
    for (s.First(); !s.Eof(); s.Next()) {
        walk.Step();
        if (!s.FieldByName("SagenErLukket").AsBoolean()) continue;
        const std::string nr = Text(s, "sags_nr");
        if (!MovedBefore(d, nr)) DropLeftovers(d, nr);
        CopiedCase cc;
        cc.nr = nr;
        cc.caseRec = s.RecNo();
        cc.postRecs = CopyDetail(posts, nr);
        c.postings += int(cc.postRecs.size());
        cc.eventRecs = CopyDetail(events, nr);
        c.events += int(cc.eventRecs.size());
        CopyCase(d, nr, cc.caseRec);
        tz::StopPoint("archive-case-copied");
        ++c.cases;
        copied.push_back(std::move(cc));
        walk.Release();
        if (shown) shown(c);
        Pump();
        walk.Take();
    }
    return copied;
}

// ---- Restore ----

std::string NewRestoreMark() {
    std::random_device rd;
    const uint64_t v = (uint64_t(rd()) << 32) ^ uint64_t(rd());
    static const char kHex[] = "0123456789ABCDEF";
    std::string mark = kRestoreMark;
    for (int shift = 56; shift >= 0; shift -= 4) mark += kHex[(v >> shift) & 0xF];
    return mark;
}

// The live case row of number `key` (padded, upper case), 0 when none; the second cursor
// searches, in the case-number tag, and keeps its order.
int32_t LiveCase(TKJData& d, const std::string& key) {
    TzDs::TTzDbf& probe = d.SagsBufDbf;
    const std::string tag = TzCommon::TrimRight(probe.CurrentTag());
    if (tag != "SAGSNR") probe.SetOrderToTag("SAGSNR");
    const int32_t rec = probe.FindExact(key) ? probe.RecNo() : 0;
    if (tag != "SAGSNR") probe.SetOrderToTag(tag);
    return rec;
}

// The restore mark a live case row carries ("" for none): its restore was interrupted.
std::string RestoreMarkOf(TKJData& d, int32_t rec) {
    const int area = d.SagsDbf.WorkAreaNo(), filler = FillerOf(area);
    const std::string text = TzCommon::TrimRight(Dbf4::Peek(rec, filler));
    return text.size() == 17 && text.rfind(kRestoreMark, 0) == 0 ? text : std::string();
}

// Appends copies of the given archive rows to a live table as rows marked deleted (hidden
// from every reader), each carrying `mark` in its filler; their record numbers.
std::vector<int32_t> AppendHidden(const Detail& det, const std::vector<int32_t>& rows,
                                  const std::string& mark) {
    const FieldMap map = MapFieldsByName(det.live.WorkAreaNo(), det.archive.WorkAreaNo());
    const int filler = FillerOf(det.live.WorkAreaNo());
    std::vector<int32_t> recs;
    for (int32_t r : rows) {
        Retry([&det] { return det.live.ALock(); });
        AppendCopy(map, r, [&] {
            PutNativeText(filler, mark);
            Dbf4::FieldAddress(0)[0] = 1;  // the delete flag of the native record
        });
        recs.push_back(Dbf4::RecNo());
        det.live.UnLock();
        tz::StopPoint("restore-row-hidden");
    }
    return recs;
}

// The records of a live table marked deleted whose filler holds `mark`.
std::vector<int32_t> HiddenWithMark(TzDs::TTzDbf& t, const std::string& mark) {
    const int area = t.WorkAreaNo(), filler = FillerOf(area);
    std::vector<int32_t> recs;
    for (int32_t r = Dbf4::RecCount(); r >= 1; --r) {
        if (TzCommon::TrimRight(Dbf4::Peek(r, filler)) != mark) continue;
        Dbf4::Select(area);
        Dbf4::Go(r);
        if (Dbf4::Deleted()) recs.push_back(r);
    }
    return recs;
}

// Makes the hidden rows visible (under the table's file lock).
void Recall(TzDs::TTzDbf& t, const std::vector<int32_t>& recs) {
    if (recs.empty()) return;
    Retry([&t] { return t.FLock(); });
    for (int32_t r : recs) {
        Dbf4::Select(t.WorkAreaNo());
        Dbf4::Go(r);
        if (Dbf4::Deleted()) Dbf4::RecallRec();
        tz::StopPoint("restore-row-recalled");
    }
    t.UnLock();
}

// Appends, visible, each archive row of case `nr` that the live table lacks (compared
// without the filler): rows a pack removed while they were hidden.
void AddMissing(const Detail& det, const std::vector<int32_t>& rows, const std::string& nr,
                const std::string& mark) {
    const int live = det.live.WorkAreaNo(), archive = det.archive.WorkAreaNo();
    const int liveFiller = FillerOf(live), archiveFiller = FillerOf(archive);
    std::multiset<std::string> present;
    {
        TzDs::TIndexReadHold reading({&det.live});  // the live rows only read here
        for (int32_t r : RowsOfCase(det.live, det.tag, det.caseField, nr)) {
            reading.GiveWay();
            present.insert(RowKey(live, r, liveFiller));
        }
    }
    const FieldMap map = MapFieldsByName(live, archive);
    for (int32_t r : rows) {
        const auto it = present.find(RowKey(archive, r, archiveFiller));
        if (it != present.end()) {
            present.erase(it);
            continue;
        }
        Retry([&det] { return det.live.ALock(); });
        AppendCopy(map, r, [&] { PutNativeText(liveFiller, mark); });
        det.live.UnLock();
    }
}

// Deletes archive records under the archive's file lock.
void DeleteArchived(TzDs::TTzDbf& a, const std::vector<int32_t>& recs) {
    if (recs.empty()) return;
    Retry([&a] { return a.FLock(); });
    for (int32_t r : recs) {
        Dbf4::Select(a.WorkAreaNo());
        Dbf4::Go(r);
        if (!Dbf4::Deleted()) Dbf4::DeleteRec();
    }
    a.UnLock();
    a.ResyncFromArea();
}

// Blanks the live case row's filler (its restore is complete).
void ClearMark(TKJData& d, int32_t rec) {
    Retry([&d, rec] {
        Dbf4::Select(d.SagsDbf.WorkAreaNo());
        Dbf4::Go(rec);
        return Dbf4::RLock();
    });
    PutNativeText(FillerOf(d.SagsDbf.WorkAreaNo()), "");
    Dbf4::Replace();
    Dbf4::UnlockRec(rec);
}

// Record locks on rows of the case archive. A restore holds the lock on the archived case
// row from its first step to its last: a station that finds a case row with a restore mark
// and cannot lock the archived row knows that the restore is running. Given up on every
// path out.
class ArchivedCaseLocks {
  public:
    explicit ArchivedCaseLocks(TKJData& d) : area_(d.SagAfslut.WorkAreaNo()) {}
    ~ArchivedCaseLocks() {
        TzCommon::ErrorCheckingOff off;
        Dbf4::Select(area_);
        for (int32_t r : recs_) Dbf4::UnlockRec(r);
    }
    ArchivedCaseLocks(const ArchivedCaseLocks&) = delete;
    ArchivedCaseLocks& operator=(const ArchivedCaseLocks&) = delete;
    bool Take(int32_t r) {
        Dbf4::Select(area_);
        Dbf4::Go(r);
        if (!Dbf4::RLock()) return false;
        recs_.push_back(r);
        return true;
    }
    // Deletes the locked rows (the restore's last step in the archive).
    void DeleteRows() const {
        for (int32_t r : recs_) {
            Dbf4::Select(area_);
            Dbf4::Go(r);
            if (!Dbf4::Deleted()) Dbf4::DeleteRec();
        }
    }

  private:
    int area_;
    std::vector<int32_t> recs_;
};

// The rest of a restore whose case row (record `rec`, carrying `mark`) is in: the hidden
// rows recalled (any that a pack removed meanwhile copied again), the case's rows deleted
// from the archives (the locked case rows too), and the mark cleared.
void CompleteRestore(TKJData& d, const std::string& nr, int32_t rec, const std::string& mark,
                     const std::vector<int32_t> (&hidden)[2], const ArchivedCaseLocks& locks) {
    const std::array<Detail, 2> details = DetailsOf(d);
    std::vector<int32_t> archived[2];
    for (int i = 0; i < 2; ++i) {
        const Detail& det = details[size_t(i)];
        archived[i] = RowsOfCase(det.archive, det.tag, det.caseField, nr, true);
        Recall(det.live, hidden[i]);
        AddMissing(det, archived[i], nr, mark);
        det.live.ResyncFromArea();
    }
    DeleteArchived(d.posterAfslut, archived[0]);
    DeleteArchived(d.statusAfslut, archived[1]);
    locks.DeleteRows();
    d.SagAfslut.ResyncFromArea();
    ClearMark(d, rec);
    d.SagsDbf.ResyncFromArea();
}

// ---- Interrupted restores ----

struct MarkedCase {
    int32_t rec = 0;
    std::string nr, mark;
};

// The live case rows (not deleted) that carry a restore mark, read from the file.
std::vector<MarkedCase> MarkedCases(TKJData& d) {
    std::vector<MarkedCase> found;
    Dbf4::Select(d.SagsDbf.WorkAreaNo());
    const int nrField = Dbf4::FieldNo("SAGS_NR");
    for (int32_t r = 1, n = Dbf4::RecCount(); r <= n; ++r) {
        const std::string mark = RestoreMarkOf(d, r);
        if (mark.empty() || Dbf4::Peek(r, 0) == "*") continue;
        found.push_back({r, TzCommon::TrimRight(Dbf4::Peek(r, nrField)), mark});
    }
    return found;
}

// Locks every archived case row of number `nr` (rows marked deleted too: a restore deletes
// its row before it clears the mark); false when one is refused.
bool LockArchivedRows(TKJData& d, const std::string& nr, ArchivedCaseLocks& locks) {
    Dbf4::Select(d.SagAfslut.WorkAreaNo());
    const int nrField = Dbf4::FieldNo("SAGS_NR");
    const std::string key = TzUtils::AnsiUpper(nr);
    for (int32_t r = 1, n = Dbf4::RecCount(); r <= n; ++r) {
        Dbf4::Select(d.SagAfslut.WorkAreaNo());
        if (TzUtils::AnsiUpper(TzCommon::TrimRight(Dbf4::Peek(r, nrField))) != key) continue;
        if (!locks.Take(r)) return false;
    }
    return true;
}

// Finishes the restore of a marked case unless it is running on another station; whether
// it was finished.
bool FinishRestore(TKJData& d, const MarkedCase& m) {
    ArchivedCaseLocks locks(d);
    if (!LockArchivedRows(d, m.nr, locks)) return false;
    Dbf4::Select(d.SagsDbf.WorkAreaNo());
    if (RestoreMarkOf(d, m.rec) != m.mark || Dbf4::Peek(m.rec, 0) == "*") return false;
    const std::array<Detail, 2> details = DetailsOf(d);
    const std::vector<int32_t> hidden[2] = {HiddenWithMark(details[0].live, m.mark),
                                            HiddenWithMark(details[1].live, m.mark)};
    CompleteRestore(d, m.nr, m.rec, m.mark, hidden, locks);
    return true;
}

// Opens the archive tables shared when closed; false when one cannot be opened now (an
// archiving run on another station holds them alone).
bool OpenArchives(TKJData& d, std::vector<TzDs::TTzDbf*>& opened) {
    TzCommon::ErrorCheckingOff off;
    for (TzDs::TTzDbf* t : {&d.SagAfslut, &d.posterAfslut, &d.statusAfslut}) {
        if (t->Active()) continue;
        TzCommon::ClearErrorWord();
        try {
            t->SetActive(true);
        } catch (const std::exception&) {
        }
        if (!t->Active() || TzCommon::ErrorWord() != 0) return false;
        opened.push_back(t);
    }
    return true;
}

// Deletes the live rows of case `nr` that the archives hold equal copies of: the rest of
// a move that deleted the live case row and was stopped before its other rows.
void DeleteArchivedLiveRows(TKJData& d, const std::string& nr) {
    for (const Detail& det : DetailsOf(d)) {
        DeleteRecords(det.live, ArchivedLiveRows(det, nr));
        det.live.ResyncFromArea();
    }
}

// Finishes the moves of an earlier run that was stopped after deleting a live case row:
// archived case rows carrying the move mark whose live case is gone. The archives are this
// run's alone. (A marked case that is still live was stopped before its deletions; the
// next move of it replaces what it left.)
void FinishInterruptedMoves(TKJData& d) {
    const int area = d.SagAfslut.WorkAreaNo();
    Dbf4::Select(area);
    const int nrField = Dbf4::FieldNo("SAGS_NR");
    std::set<std::string> numbers;
    for (int32_t r = 1, n = Dbf4::RecCount(); r <= n; ++r) {
        Dbf4::Select(area);
        if (Dbf4::Peek(r, 0) != "*" && HasMoveMark(area, r))
            numbers.insert(TzCommon::TrimRight(Dbf4::Peek(r, nrField)));
    }
    for (const std::string& nr : numbers) {
        if (LiveCase(d, TzUtils::AnsiUpper(TzUtils::PadRightOrCut(nr, 10)))) continue;
        DeleteArchivedLiveRows(d, nr);
        ClearMoveMarks(d, nr);
    }
}

}  // namespace

void FinishInterruptedRestores(TKJData& d) {
    const std::vector<MarkedCase> marked = MarkedCases(d);
    if (marked.empty()) return;
    std::vector<TzDs::TTzDbf*> opened;
    std::vector<std::string> finished;
    if (OpenArchives(d, opened))
        for (const MarkedCase& m : marked)
            if (FinishRestore(d, m)) finished.push_back(m.nr);
    for (TzDs::TTzDbf* t : opened) t->SetActive(false);
    for (const std::string& nr : finished)
        ShowMsg("En afbrudt gendannelse af sag " + nr + Ansi(" er gjort færdig"));
}

ArchiveCounts ArchiveClosedCases(TKJData& d, const std::function<void(const std::string&)>& status,
                                 const std::function<void(const ArchiveCounts&)>& shown) {
    auto say = [&status](const char* text) {
        if (status) status(Ansi(text));
        Pump();
    };
    ArchiveCounts c;
    std::vector<CopiedCase> copied;
    {
        ArchivesOpen archives(d);
        FinishInterruptedMoves(d);
        if (shown) shown(c);
        say("Arkiverer sager, posteringer og hændelser");
        copied = CopyPass(d, c, shown);
        say("Sletter arkiverede sager, posteringer og hændelser");
        // The case row goes first: while it is live, none of its rows has been deleted,
        // and a case the user can still open and change is whole.
        for (const CopiedCase& cc : copied) {
            DeleteRecords(d.SagsDbf, {cc.caseRec});
            tz::StopPoint("archive-case-row-deleted");
            DeleteRecords(d.PostDbf, cc.postRecs);
            DeleteRecords(d.StatusDbf, cc.eventRecs);
            ClearMoveMarks(d, cc.nr);
            tz::StopPoint("archive-case-deleted");
        }
        for (TzDs::TTzDbf* t : {&d.PostDbf, &d.StatusDbf, &d.SagsDbf}) t->ResyncFromArea();
    }
    say("Fjerner slettede sager, posteringer og hændelser");
    d.PackTables();
    TellShortTables();  // an archive found short when the run opened it
    return c;
}

bool RestoreArchivedCase(TKJData& d, const std::string& nr) {
    const int32_t archivedCase = d.SagAfslut.RecNo();
    ArchivedCaseLocks locks(d);
    Retry([&] { return locks.Take(archivedCase); });  // held to the end of the restore
    int32_t rec = LiveCase(d, TzUtils::AnsiUpper(TzUtils::PadRightOrCut(nr, 10)));
    if (!rec && HasMoveMark(d.SagAfslut.WorkAreaNo(), archivedCase))
        DeleteArchivedLiveRows(d, nr);  // what its stopped move left live
    const std::string resumed = rec ? RestoreMarkOf(d, rec) : std::string();
    if (rec && resumed.empty()) {
        ShowMsg("Sagen " + TzCommon::TrimRight(nr) + " findes allerede !!!");
        return false;
    }
    const std::string mark = rec ? resumed : NewRestoreMark();
    const std::array<Detail, 2> details = DetailsOf(d);
    std::vector<int32_t> hidden[2];
    for (int i = 0; i < 2; ++i) {
        const Detail& det = details[size_t(i)];
        if (rec)
            hidden[i] = HiddenWithMark(det.live, mark);
        else
            hidden[i] =
                AppendHidden(det, RowsOfCase(det.archive, det.tag, det.caseField, nr, true), mark);
    }
    if (!rec) {  // the case row makes the restore visible; its mark says it is not finished
        Retry([&d] { return d.SagsDbf.ALock(); });
        AppendCopy(MapFieldsByName(d.SagsDbf.WorkAreaNo(), d.SagAfslut.WorkAreaNo()), archivedCase,
                   [&] { PutNativeText(FillerOf(d.SagsDbf.WorkAreaNo()), mark); });
        rec = Dbf4::RecNo();
        d.SagsDbf.UnLock();
        tz::StopPoint("restore-case-added");
    }
    CompleteRestore(d, nr, rec, mark, hidden, locks);
    return true;
}

// ---- Windows ----

TArkiverSager::TArkiverSager(TKJData& data, QWidget* parent) : QDialog(parent), data_(data) {
    setWindowTitle(QStringLiteral(" Arkiver afsluttede sager "));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* v = new QVBoxLayout(this);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setPlainText(kjqt::FromAnsi(
        Ansi("Afsluttede sager flyttes med deres posteringer og hændelser til arkivet.\n"
             "En sag er afsluttet når dens afslutningsdato er nået.\n"
             "Alle andre brugere skal afslutte programmet før arkiveringen.")));
    v->addWidget(Memo1);
    auto* g = new QGridLayout;
    const char* labels[] = {" Arkiverede sager ", " Arkiverede posteringer ",
                            " Arkiverede hændelser "};
    QLineEdit** edits[] = {&edtSager, &edtPoster, &edtStatus};
    for (int i = 0; i < 3; ++i) {
        g->addWidget(new QLabel(kjqt::FromAnsi(Ansi(labels[i])), this), i, 0);
        *edits[i] = new QLineEdit(QStringLiteral("0"), this);
        (*edits[i])->setReadOnly(true);
        g->addWidget(*edits[i], i, 1);
    }
    v->addLayout(g);
    auto* h = new QHBoxLayout;
    btnOK = new QPushButton(QStringLiteral(" Arkiver afsluttede sager "), this);
    btnSlut = new QPushButton(QStringLiteral(" Slut "), this);
    btnOK->setAutoDefault(false);
    btnSlut->setDefault(true);
    h->addWidget(btnOK);
    h->addWidget(btnSlut);
    v->addLayout(h);
    Status = new QLabel(this);
    v->addWidget(Status);
    connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
    connect(btnSlut, &QPushButton::clicked, this, &QDialog::reject);
}

void TArkiverSager::btnOKClick() {
    WaitCursor wait;
    auto status = [this](const std::string& s) { Status->setText(kjqt::FromAnsi(s)); };
    auto shown = [this](const ArchiveCounts& c) {
        edtSager->setText(QString::number(c.cases));
        edtPoster->setText(QString::number(c.postings));
        edtStatus->setText(QString::number(c.events));
        repaint();
    };
    ArchiveCounts c;
    RunMove(Ansi("kør arkiveringen igen; den gør flytningen færdig"),
            [&] { c = ArchiveClosedCases(data_, status, shown); });
    shown(c);
    Memo1->appendPlainText(
        kjqt::FromAnsi(Ansi("Antal overførte sager:       ") + std::to_string(c.cases)));
    Memo1->appendPlainText(
        kjqt::FromAnsi(Ansi("Antal overførte posteringer: ") + std::to_string(c.postings)));
    Memo1->appendPlainText(
        kjqt::FromAnsi(Ansi("Anatl overførte hændelser:   ") + std::to_string(c.events)));
}

namespace {

void BuildCard(QWidget& panel, TKJData& d) {
    auto* g = new QGridLayout(&panel);
    g->setContentsMargins(4, 2, 4, 2);
    g->setVerticalSpacing(1);
    const char* fields[] = {"sags_nr",   "sag_type",   "sags_bem",  "sag_disk",
                            "sag_matnr", "sag_ansvar", "sag_kunde", "sag_afslut"};
    for (int i = 0; i < 8; ++i) {
        Db::TField* f = d.SagAfslut.FindField(fields[i]);
        const QString label =
            f ? kjqt::FromAnsi(f->DisplayLabel()) : QString::fromLatin1(fields[i]);
        g->addWidget(new QLabel(label, &panel), i / 2, (i % 2) * 2);
        auto* t = new kjqt::TDBText(&panel);
        t->SetDataSource(d.DataSource("sagSlut"));
        t->SetDataField(fields[i]);
        g->addWidget(t, i / 2, (i % 2) * 2 + 1);
    }
}

}  // namespace

TArkivForm::TArkivForm(TKJData& data, QWidget* parent) : QDialog(parent), data_(data) {
    setWindowTitle(QStringLiteral(" Gendan arkiverede sager "));
    resize(640, 480);
    auto* v = new QVBoxLayout(this);
    HelpText = new QPlainTextEdit(this);
    HelpText->setReadOnly(true);
    HelpText->setMaximumHeight(60);
    HelpText->setPlainText(
        kjqt::FromAnsi(Ansi("Vælg den arkiverede sag der skal gendannes og tryk på Gendan sagen.\n"
                            "Søg finder en sag ud fra sagsnummeret.")));
    v->addWidget(HelpText);
    sagGrid = new kjqt::TDBCtrlGrid(this);
    sagGrid->AllowInsert = false;
    sagGrid->AllowDelete = false;
    sagGrid->SetRowCount(3);
    sagGrid->SetPanelHeight(109);
    sagGrid->SetPanelBuilder([this](QWidget& panel) { BuildCard(panel, data_); });
    sagGrid->SetDataSource(data_.DataSource("sagSlut"));
    v->addWidget(sagGrid, 1);
    auto* h = new QHBoxLayout;
    btnGendan = new QPushButton(QStringLiteral(" Gendan sagen "), this);
    btnFind = new QPushButton(QString::fromUtf8(" Søg "), this);
    btnSlut = new QPushButton(QStringLiteral(" Slut "), this);
    for (QPushButton* b : {btnGendan, btnFind, btnSlut}) {
        b->setAutoDefault(false);
        h->addWidget(b);
    }
    v->addLayout(h);
    Status = new QLabel(this);
    v->addWidget(Status);
    connect(btnGendan, &QPushButton::clicked, this, [this] { btnGendanClick(); });
    connect(btnFind, &QPushButton::clicked, this, [this] { btnFindClick(); });
    connect(btnSlut, &QPushButton::clicked, this, &QDialog::reject);
}

void TArkivForm::btnGendanClick() {
    TzDs::TTzDbf& a = data_.SagAfslut;
    if (!a.Active() || a.IsEmpty()) return;
    const std::string nr = a.FieldByName("sags_nr").AsString();
    // A restore stopped after the case row left the archive is finished by the next start.
    RunMove(Ansi("gendan sagen igen (er den ikke længere i arkivet, så start programmet "
                 "igen); det gør gendannelsen færdig"),
            [&] { RestoreArchivedCase(data_, nr); });
}

void TArkivForm::btnFindClick() {
    LastNr = kjqt::ToAnsi(kjqt::DialogService::Instance().InputText(
        QString::fromUtf8(" Søg "), QStringLiteral(" Indtast sagsnr. "), QString()));
    FindCase();
    sagGrid->setFocus();
}

void TArkivForm::FindCase() {
    if (TzCommon::TrimRight(LastNr).empty()) return;
    TzDs::TTzDbf& a = data_.SagAfslut;
    const int32_t rec = a.RecNo();
    if (TzCommon::TrimRight(a.CurrentTag()) != "SAGSNR") a.SetOrderToTag("SAGSNR");
    if (!a.FindNear(TzUtils::AnsiUpper(LastNr))) data_.GotoRecNo(a, rec);
}

namespace KJArkiverSager {
void Execute() {
    TArkiverSager form(*KJData(), MainWindow());
    form.exec();
}
}  // namespace KJArkiverSager

namespace KJGendanSag {
void Execute() {
    TKJData& d = *KJData();
    TArkivForm form(d, MainWindow());
    struct Close {
        TKJData& d;
        ~Close() {
            for (TzDs::TTzDbf* t : {&d.SagAfslut, &d.posterAfslut, &d.statusAfslut}) {
                try {
                    t->SetActive(false);
                } catch (...) {
                }
            }
        }
    } close{d};
    for (TzDs::TTzDbf* t : {&d.SagAfslut, &d.posterAfslut, &d.statusAfslut}) t->SetActive(true);
    TellShortTables();
    FinishInterruptedRestores(d);
    form.exec();
}
}  // namespace KJGendanSag

}  // namespace kj
