// The current case's events and postings: scratch copies of the case's rows (each with the
// record number of its source row), the grids that edit them, the write-back of a posted
// scratch row to the shared table under its locks, the row actions and the automatic
// invoice posting. Events and postings share every routine through a RowKind.
#include <QApplication>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <cstring>
#include <functional>
#include <optional>

#include "app/frame_interessent.h"
#include "app/kj_data.h"
#include "app/kj_record_copy.h"
#include "app/kj_register.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app/main_form.h"
#include "app/main_form_util.h"
#include "data/db_format.h"
#include "index/tz_ndx.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"
#include "storage/work_area.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/text_codec.h"

namespace kj {

// What differs between the events and the postings.
struct TKJSagerForm::RowKind {
    TzDs::TTzDbf TKJData::*shared;
    TzDs::TTzDbf TKJData::*scratch;
    kjqt::TDBGrid* TKJSagerForm::*grid;
    const char* tag;         // the shared table's case tag
    const char* caseField;   // its case-number field
    const char* recNoField;  // the scratch table's source record number
    int copied;              // the shared fields up to the scratch record number
    const char* closedEdit;  // refusal of a new row or a post on a closed case
    const char* closedAct;   // refusal of the buttons
    const char* question;    // before a write-back
    bool postings;
};

namespace {

using Kind = TKJSagerForm::RowKind;

// Each stored field of `to` from the field of `from` with the same name, value by value;
// the field named `keep` (upper case) is left as it is. The scratch table's record number
// has no namesake in the shared table, so it is never copied either way. With `editedIn`,
// only the fields set during that dataset's current edit are copied.
void CopyFields(Db::TDataSet& from, Db::TDataSet& to, const char* keep = "",
                const TzDs::TTzDataSet* editedIn = nullptr) {
    std::vector<uint8_t> buffer;
    for (Db::TField* bp : to.Fields()) {
        Db::TField& b = *bp;
        if (b.FieldNo() < 1 || b.Calculated() || TzUpper(b.FieldName()) == keep) continue;
        Db::TField* ap = from.FindField(b.FieldName());
        if (!ap || ap->FieldNo() < 1 || ap->Calculated()) continue;
        if (editedIn && !editedIn->FieldEdited(ap->FieldNo())) continue;
        Db::TField& a = *ap;
        if (a.DataType() == Db::ftString) {
            b.SetAsString(a.AsString());  // a shorter field cuts the text
            continue;
        }
        buffer.assign(size_t(std::max(a.DataSize(), b.DataSize())) + 16, 0);
        if (a.GetData(buffer.data()))
            b.SetData(buffer.data());
        else
            b.Clear();
    }
}

// ---- Copying rows in the table engine ------------------------------------------------------

// How the case's rows go from the shared table to the scratch table as stored bytes: the
// leading fields both define alike, then the scratch table's source record number.
struct RawCopy {
    size_t bytes = 0;  // stored bytes after the delete flag copied as they are
    uint16_t recNoOffset = 0;
    int recNoWidth = 0;
    uint16_t caseOffset = 0;
    int caseWidth = 0;
    int dk = 0, antal = 0, pris = 0, rabat = 0;  // the shared fields of the posting total
};

// A posting's net total as the copy counts it: a total too large for a posting (stored by
// another program) counts as 0 and is told of as the shared table's row `rec`.
int64_t CopiedTotal(TzDs::TTzDbf& shared, int32_t rec, const std::function<int64_t()>& total) {
    try {
        return total();
    } catch (const Db::EDatabaseError& e) {
        TellUnreadAmount(shared.FieldByName("Total"), shared.DbfFileName(), rec, e.what());
    }
    return 0;
}

// The same from the shared table's fields.
int64_t FieldTotal(TzDs::TTzDbf& shared) {
    return CopiedTotal(shared, shared.RecNo(), [&] {
        return TKJData::CalcPosting(TrimRight(shared.FieldByName("POST_DK").AsString()),
                                    StoredMoney(shared.FieldByName("POST_ANTAL")),
                                    StoredMoney(shared.FieldByName("POST_PRIS")),
                                    StoredMoney(shared.FieldByName("POST_RABAT")), 0)
            .total;
    });
}

bool SameField(const Dbf4::FieldEntry& a, const Dbf4::FieldEntry& b) {
    return a.name == b.name && a.type == b.type && a.length == b.length &&
           a.decimals == b.decimals && a.offset == b.offset && a.type != 'M';
}

// None when the layouts differ from that (the rows then go field by field).
std::optional<RawCopy> PlanRawCopy(TzDs::TTzDbf& shared, TzDs::TTzDbf& scratch, const Kind& k) {
    const Dbf4::WorkArea* from = Dbf4::AreaAt(shared.WorkAreaNo());
    const Dbf4::WorkArea* to = Dbf4::AreaAt(scratch.WorkAreaNo());
    const size_t n = size_t(k.copied);
    if (!from || !to || from->isVirtual || to->isVirtual || n < 2 || from->fields.size() < n ||
        to->fields.size() < n)
        return std::nullopt;
    for (size_t i = 0; i + 1 < n; ++i)
        if (!SameField(from->fields[i], to->fields[i])) return std::nullopt;
    const Dbf4::FieldEntry& recNo = to->fields[n - 1];
    if (recNo.name != k.recNoField || recNo.type != 'N' || recNo.decimals != 0) return std::nullopt;
    RawCopy r;
    r.bytes = size_t(from->fields[n - 2].offset) + from->fields[n - 2].length - 1;
    r.recNoOffset = recNo.offset;
    r.recNoWidth = recNo.length;
    for (size_t i = 0; i + 1 < n; ++i) {
        const Dbf4::FieldEntry& f = from->fields[i];
        if (f.name == k.caseField) {
            r.caseOffset = f.offset;
            r.caseWidth = f.length;
        }
    }
    if (r.caseWidth == 0) return std::nullopt;
    UseArea(shared);
    r.dk = Dbf4::FieldNo("POST_DK");
    r.antal = Dbf4::FieldNo("POST_ANTAL");
    r.pris = Dbf4::FieldNo("POST_PRIS");
    r.rabat = Dbf4::FieldNo("POST_RABAT");
    return r;
}

// A numeric field with decimals as the dataset reads it: its native value in currency. An
// amount no money count can hold counts as 0 and is told of as the shared table's row.
int64_t NativeMoney(TzDs::TTzDbf& shared, int field, const char* name) {
    if (field < 1 || Dbf4::FieldDec(field) == 0) return 0;
    double v = 0;
    std::memcpy(&v, Dbf4::FieldAddress(field), sizeof v);
    return StoredMoney(v, shared.FieldByName(name), shared.DbfFileName(), Dbf4::RecNo());
}

// The net total of the posting in the selected area (the shared table's current row).
int64_t RowTotal(const RawCopy& r, TzDs::TTzDbf& shared) {
    const std::string dk = r.dk > 0 ? NativeText(r.dk) : std::string();
    return CopiedTotal(shared, Dbf4::RecNo(), [&] {
        return TKJData::CalcPosting(dk, NativeMoney(shared, r.antal, "POST_ANTAL"),
                                    NativeMoney(shared, r.pris, "POST_PRIS"),
                                    NativeMoney(shared, r.rabat, "POST_RABAT"), 0)
            .total;
    });
}

// Copies the rows from the shared table's current record while its case number is number
// (upper case, trimmed); the scratch table holds its file alone. Adds the posting total to
// *total when given. `reading` holds the shared index's read count; every step gives way
// to a station waiting to change it.
void CopyRaw(const RawCopy& r, TzDs::TTzDbf& shared, TzDs::TTzDbf& scratch,
             const std::string& number, int64_t* total, TzDs::TIndexReadHold& reading) {
    Dbf4::WorkArea& from = *Dbf4::AreaAt(shared.WorkAreaNo());
    Dbf4::WorkArea& to = *Dbf4::AreaAt(scratch.WorkAreaNo());
    std::vector<uint8_t> row(r.bytes);
    UseArea(shared);
    Dbf4::Go(shared.RecNo());
    while (!Dbf4::dEOF() && TzCommon::ErrorWord() == 0) {
        const uint8_t* src = Dbf4::RecordOf(from);
        const std::string caseNo(reinterpret_cast<const char*>(src) + r.caseOffset,
                                 size_t(r.caseWidth));
        if (TzUpper(TrimRight(caseNo)) != number) break;
        std::memcpy(row.data(), src + 1, r.bytes);
        const std::string recNo = std::to_string(Dbf4::RecNo());
        if (total) AddMoney(*total, RowTotal(r, shared));
        UseArea(scratch);
        Dbf4::ClearRecord();
        uint8_t* dst = Dbf4::RecordOf(to);
        std::memcpy(dst + 1, row.data(), r.bytes);
        if (int(recNo.size()) <= r.recNoWidth)
            std::memcpy(dst + r.recNoOffset + (size_t(r.recNoWidth) - recNo.size()), recNo.data(),
                        recNo.size());
        Dbf4::Scatter();
        Dbf4::Append();
        if (TzCommon::ErrorWord() != 0) break;
        reading.GiveWay();
        UseArea(shared);
        Dbf4::Skip(1);
    }
}

}  // namespace

const Kind& TKJSagerForm::Events() const {
    static const Kind k{&TKJData::StatusDbf,
                        &TKJData::tmpStat,
                        &TKJSagerForm::StatusGrid,
                        "STATUS",
                        "STAT_SAG",
                        "STAT_RECNO",
                        11,
                        "Sagen er afsluttet, der kan ikke redigeres i hændelser !!!",
                        "Sagen er afsluttet, der kan ikke rettes i hændelser",
                        "Skal den rettede hændelse gemmes ?",
                        false};
    return k;
}

const Kind& TKJSagerForm::Postings() const {
    static const Kind k{&TKJData::PostDbf,
                        &TKJData::tmpPost,
                        &TKJSagerForm::posterGrid,
                        "POSTSAG",
                        "POST_SAG",
                        "POST_RECNO",
                        17,
                        "Sagen er afsluttet, der kan ikke redigeres i posteringer !!!",
                        "Sagen er afsluttet, der kan ikke rettes i posteringer",
                        "Skal den rettede postering gemmes ?",
                        true};
    return k;
}

// ---- Building ------------------------------------------------------------------------------

void TKJSagerForm::BuildRowTabs(QVBoxLayout* events, QVBoxLayout* postings) {
    auto grid = [&](QVBoxLayout* l, const char* name, const char* source,
                    std::vector<kjqt::TColumn> cols) {
        auto* g = new kjqt::TDBGrid(l->parentWidget());
        g->setObjectName(QString::fromLatin1(name));
        g->SetDataSource(data_.DataSource(source));
        g->SetColumns(cols);
        g->AlwaysShowEditor = true;
        g->TabsBetweenCells = true;
        l->addWidget(g, 1);
        return g;
    };
    auto col = [](const char* f, QStringList pick = {}, bool button = false, bool ro = false) {
        kjqt::TColumn c(f);
        c.PickList = pick;
        c.ButtonStyle = button ? kjqt::cbsEllipsis : kjqt::cbsAuto;
        c.ReadOnly = ro;
        return c;
    };
    StatusGrid = grid(events, "StatusGrid", "tmpStatData",
                      {col("STAT_VAL", {"Ja", "Nej"}), col("STAT_DATO", {}, true), col("STAT_TID"),
                       col("STAT_VAR"), col("STAT_BEM", {}, true), col("STAT_NAVN", {}, true),
                       col("STAT_OPRET", {}, false, true), col("STAT_AJOUR", {}, false, true),
                       col("STAT_INI", {}, false, true)});
    posterGrid = grid(
        postings, "posterGrid", "tmpPostData",
        {col("POST_ANS", {}, true), col("POST_DATO", {}, true), col("POST_TMU", {}, true),
         col("POST_BEM"), col("POST_ANTAL"), col("POST_PRIS"), col("POST_MOMS"), col("POST_RABAT"),
         col("POST_DK", {"D", "K"}), col("Total"), col("POST_FNR", {}, false, true),
         col("POST_OVER", {"Ja", "Nej"}, false, true), col("POST_OPRET", {}, false, true),
         col("POST_AJOUR", {}, false, true), col("POST_INI", {}, false, true)});
    auto row = [&](QVBoxLayout* l) {
        auto* r = new QHBoxLayout;
        l->addLayout(r);
        return r;
    };
    auto button = [&](QHBoxLayout* r, const char* name, const char* caption, auto action) {
        auto* b = new QPushButton(QString::fromUtf8(caption), r->parentWidget());
        b->setObjectName(QString::fromLatin1(name));
        r->addWidget(b);
        connect(b, &QPushButton::clicked, this,
                [this, action] { Guarded([this, action] { (this->*action)(); }); });
        return b;
    };
    QHBoxLayout* er = row(events);
    statusNyBtn = button(er, "statusNyBtn", " Ny hændelse (Ctrl-Ins) ", &TKJSagerForm::NewEvent);
    statusSletBtn =
        button(er, "statusSletBtn", " Slet hændelse (Ctrl-Del) ", &TKJSagerForm::DeleteEvent);
    btnGendanStatus =
        button(er, "btnGendanStatus", " Gendan (Ctrl-Tilbage) ", &TKJSagerForm::UndoEvent);
    statusSkiftBtn = button(er, "statusSkiftBtn", " Afslut/Åbn ", &TKJSagerForm::ToggleEventDone);
    QHBoxLayout* pr = row(postings);
    posterNyBtn = button(pr, "posterNyBtn", " Ny postering (ctrl-Ins) ", &TKJSagerForm::NewPosting);
    posterSletBtn =
        button(pr, "posterSletBtn", " Slet postering (Ctrl-Del) ", &TKJSagerForm::DeletePosting);
    btnGendanPost =
        button(pr, "btnGendanPost", " Gendan (Ctrl-Tilbage) ", &TKJSagerForm::UndoPosting);
    btnFakturaPost =
        button(pr, "btnFakturaPost", " Opret faktura post ", &TKJSagerForm::InvoicePosting);
    edtPostTotal = new QLineEdit(postings->parentWidget());
    edtPostTotal->setObjectName(QStringLiteral("edtPostTotal"));
    edtPostTotal->setReadOnly(true);
    edtPostTotal->setAlignment(Qt::AlignRight);
    // The buttons spread over the row as the events' do; the total keeps its size at the right.
    edtPostTotal->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    pr->addWidget(edtPostTotal);
    for (const Kind* k : {&Events(), &Postings()}) {
        kjqt::TDBGrid* g = this->*(k->grid);
        g->OnKeyDown = [this, k](kjqt::TDBGrid&, QKeyEvent& key) {
            Guarded([&] { GridKey(*k, key); });
        };
        g->OnEditButtonClick = [this, k](kjqt::TDBGrid&) {
            Guarded([this, k] { PickButton(*k); });
        };
    }
    StatusGrid->OnDblClick = [this](kjqt::TDBGrid&) { Guarded([this] { ToggleEventDone(); }); };
    StatusGrid->OnDrawColumnCell = [](kjqt::TDBGrid&, QPainter& painter, const QRect& cell,
                                      kjqt::TColumn& column, Db::TField* field, bool,
                                      bool& handled) {
        if (TzUpper(column.FieldName) != "STAT_VAL") return;
        kjqt::TDBGrid::DrawCheckMark(painter, cell.adjusted(2, 2, -2, -2),
                                     field && field->AsBoolean());
        handled = true;
    };
    // Leaving the item column (the item written into its field) fills in the item's data.
    data_.tmpPost.FieldByName("POST_TMU").OnChange = [this](Db::TField&) {
        // Only an item the user typed in the grid; copies and defaults stay as they are.
        QWidget* focus = QApplication::focusWidget();
        if (quietItem_ || !focus || !(focus == posterGrid || posterGrid->isAncestorOf(focus)))
            return;
        ++quietItem_;
        Guarded([this] { ItemColumnExit(); });
        --quietItem_;
    };
    focusLinks_.push_back(
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            Guarded([this, old, now] { GridFocus(old, now); });
        }));
}

// Entering a grid without rows starts one; leaving a grid posts its modified row.
void TKJSagerForm::GridFocus(QWidget* old, QWidget* now) {
    // The menu bar has the focus only while a menu is being chosen from: a command it runs
    // settles the row itself, and the row's question must not open under the open menu.
    if (!now || now->window() != this || qobject_cast<QMenuBar*>(now)) return;
    for (const Kind* k : {&Events(), &Postings()}) {
        kjqt::TDBGrid* g = this->*(k->grid);
        TzDs::TTzDbf& t = data_.*(k->scratch);
        const bool wasIn = old && (old == g || g->isAncestorOf(old));
        const bool isIn = now == g || g->isAncestorOf(now);
        if (wasIn && !isIn && Editing(t) && t.Modified()) t.Post();
        if (!wasIn && isIn && t.IsEmpty() && !Editing(t) && !CaseIsClosed() && !g->ReadOnly())
            NewRow(*k);
    }
}

bool TKJSagerForm::SettleRows() {
    for (const Kind* k : {&Events(), &Postings()})
        if (!SettleRow(*k)) return false;
    return frameInteressent->SettleRow();
}

bool TKJSagerForm::SettleRow(const Kind& k) {
    // The write-back's question is asked by the row's before-post handler.
    return !(data_.*(k.scratch)).Active() || (this->*(k.grid))->SettleRow();
}

// ---- Copying the case's rows ---------------------------------------------------------------

void TKJSagerForm::RecreateScratch(TzDs::TTzDbf& scratch) {
    // A row still being edited belongs to the copy being thrown away: it is never posted
    // into the emptied table.
    if (Editing(scratch)) scratch.Cancel();
    if (scratch.IsEmpty()) return;
    scratch.DisableControls();
    if (!scratch.Exclusive()) {  // the scratch tables are opened exclusively; zap needs it
        scratch.Close();
        scratch.SetExclusive(true);
        scratch.Open();
    }
    scratch.Zap();
    scratch.EnableControls();
    // The grids take their buffer window back now, before a new row fills the buffers.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    scratch.First();
}

void TKJSagerForm::HookScratch(const Kind& k, bool on) {
    TzDs::TTzDbf& t = data_.*(k.scratch);
    const Kind* kp = &k;
    t.OnNewRecord =
        on ? Db::TDataSetNotifyEvent([this, kp](Db::TDataSet& ds) { RowNewRecord(*kp, ds); })
           : nullptr;
    t.BeforePost =
        on ? Db::TDataSetNotifyEvent([this, kp](Db::TDataSet& ds) { RowBeforePost(*kp, ds); })
           : nullptr;
    t.AfterPost = nullptr;
}

void TKJSagerForm::LoadCaseRows(const Kind& k) {
    TzDs::TTzDbf& shared = data_.*(k.shared);
    TzDs::TTzDbf& scratch = data_.*(k.scratch);
    kjqt::TDBGrid* grid = this->*(k.grid);
    if (TrimRight(shared.CurrentTag()) != k.tag) shared.SetOrderToTag(k.tag);
    if (shared.IsWhileOn()) shared.SetWhileTo("");
    if (shared.IsFilterOn()) shared.SetFilterTo("");
    RecreateScratch(scratch);
    if (k.postings) PostTotal = 0;
    const std::string key = KeyOf(data_.SagsDbf.FieldByName("SAGS_NR").AsString(), 10);
    const std::string number = TrimRight(key);
    auto holds = [&] {
        return !shared.Eof() &&
               TzUpper(TrimRight(shared.FieldByName(k.caseField).AsString())) == number;
    };
    if (number.empty() || (shared.FindNear(key), !holds())) {
        grid->hide();
        if (k.postings) edtPostTotal->hide();
        return;
    }
    grid->show();
    HookScratch(k, false);
    ++quietItem_;
    scratch.DisableControls();
    shared.DisableControls();
    struct Back {
        TKJSagerForm* f;
        const Kind& k;
        TzDs::TTzDbf &shared, &scratch;
        ~Back() {
            --f->quietItem_;
            scratch.UnLock();
            shared.EnableControls();
            scratch.EnableControls();
            f->HookScratch(k, true);
        }
    } back{this, k, shared, scratch};
    // The calculated fields are worked out once the copy is shown, not at every field.
    const bool autoCalc = scratch.AutoCalcFields();
    scratch.SetAutoCalcFields(false);
    struct CalcBack {
        TzDs::TTzDbf& t;
        bool on;
        ~CalcBack() { t.SetAutoCalcFields(on); }
    } calcBack{scratch, autoCalc};
    while (!scratch.FLock()) kjqt::LetMessagesThrough();
    const bool total = k.postings && MenuVisTotal->isChecked();
    // The shared index is read under one read count for the whole copy, not one per row.
    TzDs::TIndexReadHold reading({&shared});
    UseArea(shared);
    if (const std::optional<RawCopy> raw = PlanRawCopy(shared, scratch, k)) {
        CopyRaw(*raw, shared, scratch, number, total ? &PostTotal : nullptr, reading);
        shared.ResyncFromArea();
        scratch.ResyncFromArea();
    } else {
        for (; holds(); shared.Skip(1)) {
            reading.GiveWay();
            scratch.ClearRecord();
            CopyFields(shared, scratch);
            scratch.FieldByName(k.recNoField).SetAsInteger(shared.RecNo());
            scratch.AppendRec();
            if (total) AddMoney(PostTotal, FieldTotal(shared));
        }
    }
    if (Editing(scratch)) scratch.Cancel();  // the rows are in the file; nothing to post
    scratch.GoTop();
    if (k.postings) ShowPostTotal();
}

void TKJSagerForm::ShowPostTotal() {
    // Rounded to hundredths in the program's own number format (",", a blank as thousands).
    edtPostTotal->setText(QString::fromStdString(Db::FormatCurr("###,##0.00", PostTotal)));
    edtPostTotal->setVisible(MenuVisTotal->isChecked());
    posterGrid->setVisible(!data_.tmpPost.IsEmpty());
}

void TKJSagerForm::LoadCaseEvents() {
    LoadCaseRows(Events());
}

void TKJSagerForm::LoadCasePostings() {
    LoadCaseRows(Postings());
}

// ---- Scratch row handlers ------------------------------------------------------------------

bool TKJSagerForm::RefuseBlankCase(Db::TDataSet* ds) {
    if (data_.SagsDbf.Active() && !data_.SagsDbf.IsEmpty() &&
        !TrimRight(data_.SagsDbf.FieldByName("SAGS_NR").AsString()).empty())
        return false;
    ShowMsg("Der er ingen aktiv sag, eller Sagsnr. er blank !!!");
    if (ds && Editing(*ds)) ds->Cancel();
    return true;
}

bool TKJSagerForm::RefuseNoCase(Db::TDataSet* ds) {
    return RefuseBlankCase(ds) || data_.RefuseDeletedCase(ds);
}

void TKJSagerForm::RowNewRecord(const Kind& k, Db::TDataSet& ds) {
    if (RefuseNoCase(&ds)) return;
    if (CaseIsClosed()) {
        ShowMsg(Ansi(k.closedEdit));
        ds.Cancel();
        return;
    }
    const std::string ini = data_.GetAjourInitials();
    if (TrimRight(ini).empty()) {
        ds.Cancel();
        return;
    }
    const std::string number = TzUpper(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
    const Db::TDateTime today = Db::Today();
    auto f = [&](const char* name) -> Db::TField& { return ds.FieldByName(name); };
    ++quietItem_;
    struct Quiet {
        int& n;
        ~Quiet() { --n; }
    } quiet{quietItem_};
    if (!k.postings) {
        f("STAT_SAG").SetAsString(number);
        f("STAT_OPRET").SetAsDateTime(today);
        f("STAT_AJOUR").SetAsDateTime(today);
        f("STAT_INI").SetAsString(ini);
        f("STAT_DATO").SetAsDateTime(LastEventDate != 0 ? LastEventDate : today);
        if (!LastEventNavn.empty()) f("STAT_NAVN").SetAsString(LastEventNavn);
        return;
    }
    f("POST_SAG").SetAsString(number);
    f("POST_OPRET").SetAsDateTime(today);
    f("POST_AJOUR").SetAsDateTime(today);
    f("POST_INI").SetAsString(ini);
    f("POST_DATO").SetAsDateTime(LastPostDate != 0 ? LastPostDate : today);
    if (!LastPostAns.empty()) f("POST_ANS").SetAsString(LastPostAns);
    f("POST_DK").SetAsString(LastPostDk.empty() ? std::string("D") : LastPostDk);
    if (LastPostTmu.empty()) return;
    // The item carried over from the last row comes with its price and text at once.
    f("POST_TMU").SetAsString(LastPostTmu);
    ItemColumnExit(true);
}

void TKJSagerForm::RowBeforePost(const Kind& k, Db::TDataSet& ds) {
    if (RefuseNoCase(&ds)) return;
    if (CaseIsClosed()) {
        ShowMsg(Ansi(k.closedEdit));
        ds.Cancel();
        return;
    }
    const std::string ini = data_.GetAjourInitials();
    if (TrimRight(ini).empty() || !data_.Confirm(Ansi(k.question))) {
        ds.Cancel();
        return;
    }
    const bool isNew = ds.State() == Db::dsInsert;
    const std::string number = TzUpper(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
    auto f = [&](const char* name) -> Db::TField& { return ds.FieldByName(name); };
    auto text = [&](const char* name) { return TrimRight(f(name).AsString()); };
    if (!k.postings) {
        f("STAT_SAG").SetAsString(number);
        f("STAT_AJOUR").SetAsDateTime(Db::Today());
        f("STAT_INI").SetAsString(ini);
        if (f("STAT_OPRET").IsNull()) f("STAT_OPRET").SetAsDateTime(Db::Today());
        if (!f("STAT_DATO").IsNull()) LastEventDate = f("STAT_DATO").AsDateTime();
        if (!text("STAT_NAVN").empty()) LastEventNavn = text("STAT_NAVN");
    } else {
        f("POST_SAG").SetAsString(number);
        f("POST_AJOUR").SetAsDateTime(Db::Today());
        f("POST_INI").SetAsString(ini);
        f("POST_ANS").SetAsString(TzUpper(f("POST_ANS").AsString()));  // initials, as typed
        bool found = false;
        const std::string item = text("POST_TMU");
        if (!item.empty()) {
            const std::string group =
                data_.VareDbf.SetOrderToTag("VARER") && data_.VareDbf.FindExact(KeyOf(item, 10))
                    ? data_.VareDbf.FieldByName("TMU_GR").AsString()
                    : std::string();
            found = !TrimRight(group).empty() && data_.vareGDbf.SetOrderToTag("GRUPPE") &&
                    data_.vareGDbf.FindExact(KeyOf(group, 10));
            if (found) f("POST_PRI").SetAsInteger(data_.vareGDbf.FieldByName("PRIORI").AsInteger());
        }
        if (!f("POST_DATO").IsNull()) LastPostDate = f("POST_DATO").AsDateTime();
        if (!text("POST_ANS").empty()) LastPostAns = text("POST_ANS");
        if (!item.empty()) LastPostTmu = item;
        if (!text("POST_DK").empty()) LastPostDk = text("POST_DK");
    }
    WriteBack(k, isNew);
}

// The remembered record number still holds this case's row: in range, not deleted, same case.
bool TKJSagerForm::OwnSharedRow(const Kind& k, int32_t recNo) {
    TzDs::TTzDbf& shared = data_.*(k.shared);
    if (recNo < 1 || recNo > shared.RecCount()) return false;
    shared.Go(recNo);
    const std::string number = TzUpper(TrimRight(data_.SagsDbf.FieldByName("SAGS_NR").AsString()));
    return shared.RecNo() == recNo && !shared.Deleted() &&
           TzUpper(TrimRight(shared.FieldByName(k.caseField).AsString())) == number;
}

// The row's source record was deleted (and perhaps packed away) by another station.
bool TKJSagerForm::SharedRowDeleted(const Kind& k, int32_t recNo) {
    TzDs::TTzDbf& shared = data_.*(k.shared);
    if (recNo < 1) return false;
    if (recNo > shared.RecCount()) return true;
    shared.Go(recNo);
    return shared.Deleted();
}

// Nothing is written for a row whose source another station deleted: the user is told, the
// row's edit is dropped, and the copy is rebuilt once the post that got here has returned.
void TKJSagerForm::RowGone(const Kind& k) {
    ShowMsg(Ansi(kRowDeletedText));
    TzDs::TTzDbf& scratch = data_.*(k.scratch);
    if (Editing(scratch)) scratch.Cancel();
    QTimer::singleShot(0, this, [this, kp = &k] { Guarded([this, kp] { LoadCaseRows(*kp); }); });
}

void TKJSagerForm::WriteBack(const Kind& k, bool isNew) {
    TzDs::TTzDbf& shared = data_.*(k.shared);
    TzDs::TTzDbf& scratch = data_.*(k.scratch);
    const int32_t recNo = scratch.FieldByName(k.recNoField).AsInteger();
    shared.DisableControls();
    struct Back {
        TzDs::TTzDbf& t;
        ~Back() {
            t.UnLock();
            t.EnableControls();
        }
    } back{shared};
    if (!isNew && OwnSharedRow(k, recNo)) {
        // Only what this edit set goes back: the lock reads the stored row anew, so a field
        // another station wrote meanwhile (an invoice number, say) is kept, not put back to
        // what this station's copy showed. A field both changed takes this station's value.
        shared.Edit();
        CopyFields(scratch, shared, "FILLER", &scratch);  // the shared filler stays
        while (!shared.FLock()) kjqt::LetMessagesThrough();
        if (shared.Deleted()) {  // deleted since it was looked at; the lock read it anew
            shared.Cancel();
            return RowGone(k);
        }
        shared.ReplaceRec();
        shared.UnLock();
        if (Editing(shared)) shared.Cancel();  // written: the buffer holds the file's row
        return;
    }
    if (!isNew && SharedRowDeleted(k, recNo)) return RowGone(k);
    // A new row, or one whose record number now holds another case's row: appended anew.
    shared.ClearRecord();
    CopyFields(scratch, shared, "FILLER");  // the shared filler stays
    LockAppend(shared);
    shared.AppendRec();
    const int32_t appended = Dbf4::RecNo();
    shared.UnLock();
    if (Editing(shared)) shared.Cancel();
    scratch.FieldByName(k.recNoField).SetAsInteger(appended);
}

// ---- Row actions ---------------------------------------------------------------------------

bool TKJSagerForm::RefuseClosed(const Kind& k, bool edit) {
    if (!CaseIsClosed()) return false;
    ShowMsg(Ansi(edit ? k.closedEdit : k.closedAct));
    TzDs::TTzDbf& scratch = data_.*(k.scratch);
    if (Editing(scratch)) scratch.Cancel();
    return true;
}

void TKJSagerForm::NewRow(const Kind& k) {
    if (RefuseNoCase(nullptr) || RefuseClosed(k, true) ||
        TrimRight(data_.GetAjourInitials()).empty())
        return;
    TzDs::TTzDbf& scratch = data_.*(k.scratch);
    kjqt::TDBGrid* grid = this->*(k.grid);
    // The row being edited is settled as leaving its grid does (its question, then saved or
    // dropped by the answer), never thrown away unasked by the next new row; a value its
    // cell refused keeps the row, and no new row starts.
    if (!SettleRow(k)) return;
    if (scratch.FLock()) {
        scratch.Append();
        scratch.UnLock();
    }
    grid->show();
    grid->setFocus();
}

void TKJSagerForm::DeleteRow(const Kind& k) {
    if (RefuseClosed(k, true) || TrimRight(data_.GetAjourInitials()).empty()) return;
    TzDs::TTzDbf& scratch = data_.*(k.scratch);
    TzDs::TTzDbf& shared = data_.*(k.shared);
    if (scratch.IsEmpty() && scratch.State() != Db::dsInsert) return;
    const char* date = k.postings ? "POST_DATO" : "STAT_DATO";
    const char* text = k.postings ? "POST_BEM" : "STAT_BEM";
    const std::string question =
        std::string(k.postings ? "\xD8nsker du at slette denne postering ?"
                               : "\xD8nsker du at slette denne h\xE6ndelse ?") +
        "\r\n" + scratch.FieldByName(date).AsString() + " " + scratch.FieldByName(text).AsString();
    // The row the question names is taken now: the question's window takes the focus from
    // the grid, which cancels an untouched new row and leaves the saved row above current.
    const bool isNew = scratch.State() == Db::dsInsert;
    const int32_t recNo = isNew ? 0 : scratch.FieldByName(k.recNoField).AsInteger();
    if (!Ask(question)) return;
    scratch.Cancel();
    // Only this case's own row is deleted; a number now holding another row touches nothing.
    if (!isNew && OwnSharedRow(k, recNo)) {
        while (!shared.FLock()) kjqt::LetMessagesThrough();
        shared.DeleteRec();
        shared.UnLock();
    }
    LoadCaseRows(k);
    (this->*(k.grid))->setFocus();
}

void TKJSagerForm::UndoRow(const Kind& k) {
    if (TrimRight(data_.GetAjourInitials()).empty()) return;
    // The open cell's text goes with the row's changes, also a value its field refused.
    (this->*(k.grid))->CancelRow();
    (this->*(k.grid))->viewport()->update();
    (this->*(k.grid))->setFocus();
}

void TKJSagerForm::NewEvent() {
    if (!RefuseClosed(Events(), false)) NewRow(Events());
}
void TKJSagerForm::DeleteEvent() {
    if (!RefuseClosed(Events(), false)) DeleteRow(Events());
}
void TKJSagerForm::UndoEvent() {
    if (!RefuseClosed(Events(), false)) UndoRow(Events());
}
void TKJSagerForm::NewPosting() {
    if (!RefuseClosed(Postings(), false)) NewRow(Postings());
}
void TKJSagerForm::DeletePosting() {
    if (!RefuseClosed(Postings(), false)) DeleteRow(Postings());
}
void TKJSagerForm::UndoPosting() {
    if (!RefuseClosed(Postings(), false)) UndoRow(Postings());
}

void TKJSagerForm::ToggleEventDone() {
    TzDs::TTzDbf& t = data_.tmpStat;
    if (CaseIsClosed() || t.IsEmpty()) return;
    LockRecord(t);
    if (!Editing(t)) t.Edit();
    t.FieldByName("STAT_VAL").SetAsBoolean(!t.FieldByName("STAT_VAL").AsBoolean());
    t.Post();
    t.UnLock();
    StatusGrid->viewport()->update();
    StatusGrid->setFocus();
}

void TKJSagerForm::GridKey(const Kind& k, QKeyEvent& key) {
    const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
    const RegKey reg = RegisterKeyOf(key);
    if (reg == RegKey::New) {
        NewRow(k);
    } else if (reg == RegKey::Delete) {
        DeleteRow(k);
    } else if (reg == RegKey::Undo) {
        UndoRow(k);
    } else if ((mods & Qt::ControlModifier) &&
               (key.key() == Qt::Key_Tab || key.key() == Qt::Key_Backtab)) {
        const int n = PageSager->count();
        const bool back = key.key() == Qt::Key_Backtab || (mods & Qt::ShiftModifier);
        if (MayLeave(Header::Keep))
            PageSager->setCurrentIndex((PageSager->currentIndex() + (back ? n - 1 : 1)) % n);
    } else if (!k.postings && (mods & ~Qt::ShiftModifier) == Qt::NoModifier &&
               key.key() == Qt::Key_D && StatusGrid->SelectedColumn() &&
               TzUpper(StatusGrid->SelectedColumn()->FieldName) == "STAT_DATO") {
        StatusGrid->CommitEditor();  // an open cell editor shows the new date afterwards
        if (!Editing(data_.tmpStat)) data_.tmpStat.Edit();
        data_.tmpStat.FieldByName("STAT_DATO").SetAsDateTime(Db::Today());
    } else {
        return;
    }
    key.accept();
}

bool TKJSagerForm::EditorKey(QWidget* focused, QKeyEvent& key) {
    // A grid's open cell editor has the focus: the grid's keys still come first. A key they
    // leave goes on to the editor as it came (accepted): left ignored, the editor's parents
    // would get it once more (a Tab moving two cells).
    auto offer = [&key](const std::function<void()>& handler) {
        key.ignore();
        handler();
        const bool used = key.isAccepted();
        key.accept();
        return used;
    };
    for (const Kind* k : {&Events(), &Postings()}) {
        kjqt::TDBGrid* g = this->*(k->grid);
        if (!focused || focused == g || !g->isAncestorOf(focused)) continue;
        return offer([&] { GridKey(*k, key); });
    }
    kjqt::TDBGrid* g = frameInteressent->gridInteressent;
    if (!focused || focused == g || !g->isAncestorOf(focused)) return false;
    return offer([&] { frameInteressent->GridKey(key); });
}

void TKJSagerForm::PickButton(const Kind& k) {
    if (RefuseClosed(k, false)) return;
    TzDs::TTzDbf& t = data_.*(k.scratch);
    kjqt::TColumn* c = (this->*(k.grid))->SelectedColumn();
    if (!c) return;
    const std::string f = TzUpper(c->FieldName);
    const TMainEntries& e = MainEntries();
    if (f == "STAT_DATO" || f == "POST_DATO") {
        if (!e.PlukDato) return;
        if (!Editing(t)) t.Edit();
        Db::TField& d = t.FieldByName(f);
        d.SetAsDateTime(e.PlukDato(d.IsNull() ? Db::Today() : d.AsDateTime()));
        return;
    }
    const auto& pick = f == "STAT_BEM" ? e.PlukStatus : f == "POST_TMU" ? e.PlukVare : e.PlukBruger;
    if (!pick) return;
    const std::string answer = pick(t.FieldByName(f).AsString());
    if (TrimRight(answer).empty()) return;
    if (!Editing(t)) t.Edit();
    t.FieldByName(f).SetAsString(answer);
    if (f == "POST_TMU") ItemColumnExit();
}

void TKJSagerForm::ItemColumnExit(bool quiet) {
    TzDs::TTzDbf& t = data_.tmpPost;
    const std::string item = TrimRight(t.FieldByName("POST_TMU").AsString());
    if (item.empty()) return;
    TzDs::TTzDbf& v = data_.VareDbf;
    if (!v.SetOrderToTag("VARER") || !v.FindExact(KeyOf(item, 10))) {
        if (!quiet) ShowMsg("Varen kunne ikke findes !!");
        return;
    }
    if (!Editing(t)) t.Edit();
    t.FieldByName("POST_TMU").SetAsString(v.FieldByName("TMU_ID").AsString());
    t.FieldByName("POST_BEM").SetAsString(v.FieldByName("TMU_BEM").AsString());
    t.FieldByName("POST_PRIS").SetAsCurrency(v.FieldByName("TMU_PRIS").AsCurrency());
    t.FieldByName("POST_MOMS").SetAsFloat(v.FieldByName("TMU_MOMS").AsFloat());
    posterGrid->viewport()->update();
}

// ---- Automatic invoice posting -------------------------------------------------------------

void TKJSagerForm::InvoicePosting() {
    if (data_.RefuseDeletedCase(nullptr)) return;
    struct Group {
        double rate = 0;
        int64_t sum = 0;  // ten-thousandths
        std::string invoice;
    };
    std::vector<Group> groups;  // as many as there are rates
    TzDs::TTzDbf& t = data_.tmpPost;
    t.DisableControls();
    for (t.GoTop(); !t.Eof(); t.Skip(1)) {
        const std::string fnr = TrimRight(t.FieldByName("POST_FNR").AsString());
        if (fnr.empty()) continue;
        const double rate = t.FieldByName("POST_MOMS").AsFloat();
        auto g = std::find_if(groups.begin(), groups.end(),
                              [rate](const Group& x) { return std::fabs(x.rate - rate) <= 0.01; });
        if (g == groups.end()) g = groups.insert(groups.end(), Group{});
        g->rate = rate;
        AddMoney(g->sum, t.FieldByName("Total").AsCurrency());
        g->invoice = fnr;
    }
    t.EnableControls();
    const std::string ini = groups.empty() ? std::string() : data_.GetAjourInitials();
    if (!groups.empty() && !TrimRight(ini).empty()) {
        TzDs::TTzDbf& p = data_.PostDbf;
        const std::string number = TzUpper(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
        p.DisableControls();
        struct Back {
            TzDs::TTzDbf& p;
            ~Back() {
                if (Editing(p)) p.Cancel();  // written: the buffer holds the file's row
                p.EnableControls();
            }
        } back{p};
        for (const Group& g : groups) {
            // Every value is assigned into a blanked record, so a sum or rate of 0 is
            // written as 0, not left blank.
            p.ClearRecord();
            p.FieldByName("POST_SAG").SetAsString(number);
            p.FieldByName("POST_DATO").SetAsDateTime(Db::Today());
            p.FieldByName("POST_BEM").SetAsString("Aut. faktura post");
            p.FieldByName("POST_DK").SetAsString("K");
            p.FieldByName("POST_ANTAL").SetAsInteger(1);
            p.FieldByName("POST_PRIS").SetAsCurrency(g.sum);
            p.FieldByName("POST_MOMS").SetAsFloat(g.rate);
            p.FieldByName("POST_FNR").SetAsString(g.invoice);
            p.FieldByName("POST_ANS").SetAsString(ini);
            p.FieldByName("POST_INI").SetAsString(ini);
            p.FieldByName("POST_AJOUR").SetAsDateTime(Db::Today());
            p.FieldByName("POST_OPRET").SetAsDateTime(Db::Today());
            LockAppend(p);
            p.AppendRec();
            p.UnLock();
            // Leaves the edit of the written row: the next blanked record starts from a clean
            // buffer, so the fields it leaves blank (discount, print priority, exported mark)
            // are written blank, as for the first, not as 0 and F.
            if (Editing(p)) p.Cancel();
        }
        RefreshViews();
    }
    posterGrid->setFocus();
}

}  // namespace kj
