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

#include "app/kj_data.h"
#include "app/kj_record_copy.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "storage/dbf4.h"
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

// A case copied in pass 1: the record numbers to delete in pass 2.
struct CopiedCase {
    int32_t caseRec = 0;
    std::vector<int32_t> postRecs, eventRecs;
};

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

// Copies the current row of `from` to a new row of `to` (whose lock the caller holds); the
// record number copied, 0 for a row marked deleted.
int32_t CopyCurrent(TzDs::TTzDbf& from, TzDs::TTzDbf& to) {
    const int32_t rec = from.RecNo();
    Dbf4::Select(from.WorkAreaNo());
    Dbf4::Go(rec);
    if (Dbf4::Deleted()) return 0;
    const FieldMap map = MapFieldsByName(to.WorkAreaNo(), from.WorkAreaNo());
    FillFromSource(map);
    if (!AppendFilled(map))
        throw std::runtime_error(to.DbfFileName() + ": " + TzCommon::LastMessage());
    return rec;
}

// Copies every row of case `nr` from the live detail table into its archive.
std::vector<int32_t> CopyDetail(const Detail& d, const std::string& nr) {
    std::vector<int32_t> recs;
    if (TzCommon::TrimRight(d.live.CurrentTag()) != d.tag) d.live.SetOrderToTag(d.tag);
    if (!d.live.FindNear(nr)) return recs;
    while (!d.live.Eof() && Text(d.live, d.caseField) == nr) {
        if (int32_t r = CopyCurrent(d.live, d.archive)) recs.push_back(r);
        d.live.Next();
    }
    return recs;
}

// Deletes the given records of a live table, each under the table's file lock.
void DeleteRecords(TzDs::TTzDbf& t, const std::vector<int32_t>& recs) {
    for (int32_t r : recs) {
        Retry([&t] { return t.FLock(); });
        Dbf4::Select(t.WorkAreaNo());
        Dbf4::Go(r);
        if (!Dbf4::Deleted()) Dbf4::DeleteRec();
        t.UnLock();
    }
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
    for (s.First(); !s.Eof(); s.Next()) {
        if (!s.FieldByName("SagenErLukket").AsBoolean()) continue;
        const std::string nr = Text(s, "sags_nr");
        CopiedCase cc;
        cc.postRecs = CopyDetail(posts, nr);
        c.postings += int(cc.postRecs.size());
        cc.eventRecs = CopyDetail(events, nr);
        c.events += int(cc.eventRecs.size());
        cc.caseRec = CopyCurrent(s, d.SagAfslut);
        if (cc.caseRec == 0) continue;
        ++c.cases;
        copied.push_back(std::move(cc));
        if (shown) shown(c);
        Pump();
    }
    return copied;
}

}  // namespace

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
        if (shown) shown(c);
        say("Arkiverer sager, posteringer og hændelser");
        copied = CopyPass(d, c, shown);
        say("Sletter arkiverede sager, posteringer og hændelser");
        for (const CopiedCase& cc : copied) {
            DeleteRecords(d.PostDbf, cc.postRecs);
            DeleteRecords(d.StatusDbf, cc.eventRecs);
            DeleteRecords(d.SagsDbf, {cc.caseRec});
        }
        for (TzDs::TTzDbf* t : {&d.PostDbf, &d.StatusDbf, &d.SagsDbf}) t->ResyncFromArea();
    }
    say("Fjerner slettede sager, posteringer og hændelser");
    d.PackTables();
    return c;
}

bool RestoreArchivedCase(TKJData& d, const std::string& nr) {
    const std::string key = TzUtils::AnsiUpper(PadRight(nr, 10));
    TzDs::TTzDbf& probe = d.SagsBufDbf;  // the second cursor: its order is given back
    const std::string tag = TzCommon::TrimRight(probe.CurrentTag());
    if (tag != "SAGSNR") probe.SetOrderToTag("SAGSNR");
    const bool exists = probe.FindExact(key);
    if (tag != "SAGSNR" && !tag.empty()) probe.SetOrderToTag(tag);
    if (exists) {
        ShowMsg("Sagen " + TzCommon::TrimRight(nr) + " findes allerede !!!");
        return false;
    }
    const Detail details[] = {{d.PostDbf, d.posterAfslut, "POSTSAG", "post_sag"},
                              {d.StatusDbf, d.statusAfslut, "STATUS", "stat_sag"}};
    for (const Detail& det : details) {
        TzDs::TTzDbf& a = det.archive;
        if (TzCommon::TrimRight(a.CurrentTag()) != det.tag) a.SetOrderToTag(det.tag);
        if (!a.FindNear(PadRight(nr, 10))) continue;
        while (!a.Eof() && Text(a, det.caseField) == nr) {
            Retry([&det] { return det.live.ALock(); });
            CopyCurrent(a, det.live);
            det.live.UnLock();
            a.Next();
        }
        det.live.ResyncFromArea();
    }
    Retry([&d] { return d.SagsDbf.ALock(); });
    CopyCurrent(d.SagAfslut, d.SagsDbf);
    d.SagsDbf.UnLock();
    d.SagsDbf.ResyncFromArea();
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
    const ArchiveCounts c = ArchiveClosedCases(data_, status, shown);
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
    RestoreArchivedCase(data_, a.FieldByName("sags_nr").AsString());
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
    form.exec();
}
}  // namespace KJGendanSag

}  // namespace kj
