#include "reports/aktive_sager.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDate>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QVBoxLayout>
#include <utility>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "reports/date_picker.h"
#include "reports/preview_form.h"
#include "reports/report_util.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/ini_file.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

const int32_t kRuleHeight = 300;
const size_t kCaseWidth = 10, kIniWidth = 5;

void Say(const std::string& ansi) {
    kjqt::DialogService::Instance().ShowMessage(kjqt::FromAnsi(ansi));
}

using TKey = TLayoutKey;

const TKey kCaseKeys[] = {
    {"SagsNr", "sags_nr", "Sagsnr;0;0;18;8;V;20;0;38;8;V"},
    {"SagsAnsvarlig", nullptr, "Ans;65;0;18;8;V;85;0;105;8;V"},
    {"SagsType", "sag_type", "Type;0;10;18;8;V;20;10;170;8;V"},
    {"SagsBem", "sags_bem", "Bem;0;20;18;8;V;20;20;170;8;V"},
    {"SagsMatnr", "sag_matnr", "Matnr;0;30;18;8;V;20;30;170;8;V"},
    {"SagsOmråde", "sag_disk", "Område;0;40;18;8;V;20;40;170;8;V"},
    {"SagsKunde", nullptr, "Kunde;0;50;18;8;V;20;50;170;8;V"},
    {"SagsIni", "sag_ini", "I:;122;60;3;8;V;127;60;13;8;V"},
    {"SagsAjour", "sag_ajour", "A:;142;60;3;8;V;147;60;18;8;V"},
    {"SagsOpret", "sag_opret", "O:;167;60;3;8;V;172;60;18;8;V"},
};
const TKey kEventKeys[] = {
    {"StatusDato", "stat_dato", "Dato;0;0;18;8;V;0;0;18;8;V"},
    {"StatusBem", "stat_bem", "Tekst;20;0;170;8;V;20;0;170;8;V"},
    {"StatusNavn", "stat_navn", "Kontakt;0;10;150;8;V;0;10;150;8;V"},
    {"StatusAjour", "stat_ajour", "Ajour;152;10;18;8;V;152;10;18;8;V"},
    {"StatusIni", "stat_ini", "af;172;10;13;8;V;172;10;13;8;V"},
    {"StatusAfslut", "stat_val", "*;187;10;3;8;V;187;10;3;8;V"},
};
// After the shared posting columns.
const TKey kPostKeys[] = {
    {"PostAnsvarlig", "post_ans", "Med;185;0;3;6;V;185;0;3;6;V"},
    {"PostFaktura", "post_fnr", "F;189;0;1;6;V;189;0;1;6;V"},
};
const TKey kSubKeys[] = {
    {"PostSubTekst", nullptr, "; 30;0; 34;3;V;;;;;"},
    {"PostSubAntal", nullptr, "; 65;0; 19;3;H;;;;;"},
    {"PostSubTotal", nullptr, ";110;0; 24;3;H;;;;;"},
    {"PostSubMoms", nullptr, ";135;0; 24;3;H;;;;;"},
    {"PostSubIalt", nullptr, ";160;0; 24;3;H;;;;;"},
};
const TKey kTotalKeys[] = {
    {"PostIAltTotal", nullptr, ";110;0; 24;3;H;;;;;"},
    {"PostIAltMoms", nullptr, ";135;0; 24;3;H;;;;;"},
    {"PostIaltIAlt", nullptr, ";160;0; 24;3;H;;;;;"},
};

}  // namespace

// ---- One run ------------------------------------------------------------------------------

struct TAktiveSagerForm::Run {
    TPreviewForm& form;
    const TReportVariants& variants;
    const TActiveCasesOptions& o;
    TSkrivListe head, sag, eventHeading, eventLine, postHeading, postLine, sub, total;
    int64_t group[4] = {0, 0, 0, 0};  // quantity, total, VAT, gross
    int64_t sagSum[3] = {0, 0, 0};
    std::string groupKey;

    kj::TKJData& d = *kj::KJData();
    TzDs::TTzDbf& cases = d.SagsDbf;
    TzDs::TTzDbf& events = d.StatusDbf;
    TzDs::TTzDbf& post = d.PostDbf;

    Run(TPreviewForm& f, const TReportVariants& v, const TActiveCasesOptions& opt)
        : form(f), variants(v), o(opt) {}

    Db::TField& F(TzDs::TTzDbf& t, const char* name) { return t.FieldByName(name); }
    void ReadLayout();
    std::string CaseNo() { return F(cases, "sags_nr").AsString(); }
    bool Closed() { return F(cases, "SagenErLukket").AsBoolean(); }
    bool SkipClosed() {
        while (!cases.Eof() && Closed()) cases.Next();
        return !cases.Eof();
    }
    bool FirstCase();
    bool NextCase();
    bool InRange(Db::TField& date) {
        const Db::TDateTime day = FieldDay(date);
        return !(o.from != 0 && day < o.from) && !(o.to != 0 && day > o.to);
    }
    // The current case's number upper-cased, with and without its trailing blanks: what the
    // events and postings are compared to. Taken once per case.
    std::string caseUpper, caseTrimmed;
    void TakeCase() {
        const std::string no = CaseNo();
        caseUpper = TzUtils::AnsiUpper(no);
        caseTrimmed = UpperTrimmed(no);
    }
    // Steps over the rows of table that belong to the case but lie outside the range.
    void SkipOutside(TzDs::TTzDbf& table, Db::TField& caseField, Db::TField& date) {
        while (!table.Eof() && UpperTrimmed(caseField.AsString()) == caseTrimmed && !InRange(date))
            table.Next();
    }
    bool OnCase(TzDs::TTzDbf& table, Db::TField& caseField) {
        return !table.Eof() && TzUtils::AnsiUpper(caseField.AsString()) == caseUpper;
    }
    void CaseHead();
    void Events();
    void Postings();
    std::string GroupOf();
    void PrintPosting();
    void Subtotal();
    void CaseTotal();
    void QuarterRule() { form.PrintRule(form.UsableWidth / 4, form.UsableWidth, kRuleHeight, {}); }
};

void TAktiveSagerForm::Run::ReadLayout() {
    const TLayoutReader layout(variants);
    auto read = [&](const TKey& k, TzDs::TTzDbf* table, TSkrivListe* caption, TSkrivListe* data) {
        Db::TField* field = k.field && table ? &F(*table, k.field) : nullptr;
        layout.Item(k.key, k.def, field, caption, data);
    };
    layout.PageHead(head);
    for (const TKey& k : kCaseKeys) {
        Db::TField* field = k.field ? &F(cases, k.field) : nullptr;
        if (std::string(k.key) == "SagsAnsvarlig") field = &F(d.BrugerDbf, "BrugerNavn");
        if (std::string(k.key) == "SagsKunde") field = &F(d.KundeDbf, "KundeNavn");
        layout.Item(k.key, k.def, field, &sag, &sag);
    }
    for (const TKey& k : kEventKeys) read(k, &events, &eventHeading, &eventLine);
    for (const TKey& k : kPostingColumns) read(k, &post, &postHeading, &postLine);
    for (const TKey& k : kPostKeys) read(k, &post, &postHeading, &postLine);
    for (const TKey& k : kSubKeys) read(k, nullptr, &sub, nullptr);
    for (const TKey& k : kTotalKeys) read(k, nullptr, &total, nullptr);
}

bool TAktiveSagerForm::Run::FirstCase() {
    cases.First();
    if (!o.first.empty()) {
        if (!cases.FindExact(KeyOf(o.first, kCaseWidth))) {
            Say("Kan ikke finde den f\xF8rste sag " + o.first);
            return false;
        }
        if (!SkipClosed()) {
            Say("Der er ingen aktive sager efter den f\xF8rste " + o.first);
            return false;
        }
    } else if (!SkipClosed()) {
        Say("Der er ingen aktive ");
        return false;
    }
    if (!o.last.empty() && KeyOf(CaseNo(), kCaseWidth) > KeyOf(o.last, kCaseWidth)) {
        Say("F\xF8rste sag " + UpperTrimmed(CaseNo()) + " ligger efter sidste sag " + o.last);
        return false;
    }
    return true;
}

bool TAktiveSagerForm::Run::NextCase() {
    cases.Next();
    if (!SkipClosed()) return false;
    return o.last.empty() || KeyOf(CaseNo(), kCaseWidth) <= KeyOf(o.last, kCaseWidth);
}

void TAktiveSagerForm::Run::CaseHead() {
    const bool user = d.BrugerDbf.FindExact(KeyOf(F(cases, "sag_ansvar").AsString(), kIniWidth));
    const bool customer = d.KundeDbf.FindExact(KeyOf(F(cases, "sag_kunde").AsString(), kCaseWidth));
    TBlankItems noUser(sag, &d.BrugerDbf, !user);
    TBlankItems noCustomer(sag, &d.KundeDbf, !customer);
    form.PrintFields(sag);
}

void TAktiveSagerForm::Run::Events() {
    Db::TField& statSag = F(events, "stat_sag");
    Db::TField& statDato = F(events, "stat_dato");
    events.FindNear(KeyOf(CaseNo(), kCaseWidth) + DateKey(o.from));
    SkipOutside(events, statSag, statDato);
    if (!OnCase(events, statSag) || !InRange(statDato)) return;
    form.PrintRule(0, form.UsableWidth, kRuleHeight, " Status ");
    form.PrintFields(eventHeading);
    TSkrivFelt* done = eventLine.Find("StatusAfslut");
    while (OnCase(events, statSag) && InRange(statDato)) {
        if (done) done->Text = F(events, "stat_val").AsBoolean() ? "*" : "-";
        form.PrintFields(eventLine);
        events.Next();
        SkipOutside(events, statSag, statDato);
        LetMessagesThrough();
    }
}

std::string TAktiveSagerForm::Run::GroupOf() {
    if (o.sort == 1) return F(post, "post_ans").AsString();
    if (o.sort != 2) return std::string();
    if (!d.VareDbf.FindExact(KeyOf(F(post, "post_tmu").AsString(), kCaseWidth))) return {};
    return F(d.VareDbf, "tmu_gr").AsString();
}

void TAktiveSagerForm::Run::PrintPosting() {
    if (TSkrivFelt* r = postLine.Find("PostRabat"))
        r->Text = FieldMoney(F(post, "post_rabat")) > 10 ? "*" : "-";
    if (TSkrivFelt* f = postLine.Find("PostFaktura"))
        f->Text = TrimRight(F(post, "post_fnr").AsString()).empty() ? "-" : "*";
    const int64_t t = FieldMoney(F(post, "Total")), m = FieldMoney(F(post, "Moms"));
    int64_t withVat = t;
    kj::AddMoney(withVat, m);
    const int64_t sums[3] = {t, m, withVat};
    kj::AddMoney(group[0], FieldMoney(F(post, "post_antal")));
    for (int i = 0; i < 3; ++i) {
        kj::AddMoney(group[i + 1], sums[i]);
        kj::AddMoney(sagSum[i], sums[i]);
    }
    form.PrintFields(postLine);
}

void TAktiveSagerForm::Run::Subtotal() {
    QuarterRule();
    std::string text;
    if (o.sort == 1 && d.BrugerDbf.FindExact(KeyOf(TrimRight(groupKey), kIniWidth)))
        text = F(d.BrugerDbf, "BrugerNavn").AsString();
    if (o.sort == 2 && d.vareGDbf.FindExact(KeyOf(groupKey, kCaseWidth)))
        text = F(d.vareGDbf, "tekst").AsString();
    SetItemText(sub, "PostSubTekst", text);
    SetItemText(sub, "PostSubAntal", FormatAmount(group[0]));
    SetItemText(sub, "PostSubTotal", FormatKroner(group[1]));
    SetItemText(sub, "PostSubMoms", FormatKroner(group[2]));
    SetItemText(sub, "PostSubIalt", FormatKroner(group[3]));
    group[0] = group[1] = group[2] = group[3] = 0;
    form.PrintFields(sub);
    QuarterRule();
}

void TAktiveSagerForm::Run::CaseTotal() {
    QuarterRule();
    SetItemText(total, "PostIAltTotal", FormatKroner(sagSum[0]));
    SetItemText(total, "PostIAltMoms", FormatKroner(sagSum[1]));
    SetItemText(total, "PostIaltIAlt", FormatKroner(sagSum[2]));
    sagSum[0] = sagSum[1] = sagSum[2] = 0;
    form.PrintFields(total);
    QuarterRule();
}

void TAktiveSagerForm::Run::Postings() {
    Db::TField& postSag = F(post, "post_sag");
    Db::TField& postDato = F(post, "post_dato");
    post.FindNear(KeyOf(CaseNo(), kCaseWidth));
    SkipOutside(post, postSag, postDato);
    if (!OnCase(post, postSag) || !InRange(postDato)) return;
    form.PrintRule(0, form.UsableWidth, kRuleHeight, " posteringer ");
    form.PrintFields(postHeading);
    groupKey = GroupOf();
    while (OnCase(post, postSag) && InRange(postDato)) {
        const std::string key = GroupOf();
        if (key != groupKey) {
            Subtotal();
            groupKey = key;
        }
        PrintPosting();
        post.Next();
        SkipOutside(post, postSag, postDato);
        LetMessagesThrough();
    }
    if (o.sort == 1 || o.sort == 2) Subtotal();
    group[0] = group[1] = group[2] = group[3] = 0;
    CaseTotal();
}

void TAktiveSagerForm::PrintCases(TPreviewForm& form, const TActiveCasesOptions& opt) {
    TActiveCasesOptions o = opt;
    if (!o.useDates) o.from = o.to = 0;
    Run run(form, Variants, o);
    run.ReadLayout();
    kj::TKJData& d = *kj::KJData();
    for (auto [table, tag] : {std::pair{&d.SagsDbf, "sagsnr"},
                              {&d.BrugerDbf, "bruger"},
                              {&d.KundeDbf, "kunde"},
                              {&d.StatusDbf, "status"}}) {
        table->SetFilterTo("");
        table->SetOrderToTag(tag);
    }
    d.PostDbf.SetOrderToTag(o.sort == 1 ? "postSAns" : o.sort == 2 ? "postTmu" : "postSag");
    d.VareDbf.SetOrderToTag("VARER");
    d.vareGDbf.SetOrderToTag("GRUPPE");
    if (!run.FirstCase()) return;
    SetPaperFromSetup(form);
    form.HeadList = &run.head;
    form.StartReport();
    {
        TIndexReadRun reading({&d.SagsDbf, &d.PostDbf, &d.StatusDbf, &d.BrugerDbf, &d.KundeDbf,
                               &d.VareDbf, &d.vareGDbf});
        for (;;) {
            run.TakeCase();
            run.CaseHead();
            if (o.events) run.Events();
            if (o.postings) run.Postings();
            const bool more = run.NextCase();
            LetMessagesThrough();
            if (!more) break;
            if (o.pagePerCase) form.NewReportPage(true);
        }
    }
    form.FinishReport();
    form.HeadList = nullptr;
}

// ---- The window ---------------------------------------------------------------------------

namespace {
bool Yes(const std::string& value) {
    return !value.empty() && (value[0] == 'J' || value[0] == 'j');
}
}  // namespace

TAktiveSagerForm::TAktiveSagerForm(QWidget* parent)
    : TReportWindow("AktiveSager.kjr", QString::fromUtf8("Udskriv aktive sager"), parent) {
    auto* grid = new QGridLayout;
    const char* labels[] = {" Fra sag ", " Til sag ", " Fra dato ", " Til dato "};
    for (int i = 0; i < 4; ++i)
        grid->addWidget(new QLabel(QString::fromUtf8(labels[i]), this), i, 0);
    EdtFraSag = NewCaseBox(this, [this](QComboBox* box) { CaseDropDown(box); });
    EdtTilSag = NewCaseBox(this, [this](QComboBox* box) { CaseDropDown(box); });
    grid->addWidget(EdtFraSag, 0, 1);
    grid->addWidget(EdtTilSag, 1, 1);
    const QDate today = QDate::currentDate();
    const QDate first(today.year(), today.month(), 1);
    edtDato1 = new TDatePicker(first, this);
    edtDato2 = new TDatePicker(first.addMonths(1).addDays(-1), this);
    grid->addWidget(edtDato1, 2, 1);
    grid->addWidget(edtDato2, 3, 1);
    Body->addLayout(grid);
    EdtMedtagHand = new QCheckBox(QString::fromUtf8("Medtag hændelser på sager"), this);
    EdtMedtagPost = new QCheckBox(QString::fromUtf8("Medtag posteringer på sager"), this);
    auto* sortBox = new QGroupBox(QString::fromUtf8("Sortering"), this);
    auto* sortColumn = new QVBoxLayout(sortBox);
    EdtPosterSort = new QButtonGroup(this);
    const char* sorts[] = {"Sorter efter posteringsdato",
                           "Sorter efter medarbejder (optælling pr. medarbejder)",
                           "Sorter efter vare (optælling pr. varegruppe)"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(QString::fromUtf8(sorts[i]), sortBox);
        EdtPosterSort->addButton(radio, i);
        sortColumn->addWidget(radio);
    }
    edtSkiftSide =
        new QCheckBox(QString::fromUtf8("Skift side mellem sager (kun en sag pr. side)"), this);
    edtAllePoster = new QCheckBox(QString::fromUtf8("Vis alle posteringer uanset dato"), this);
    for (QWidget* w : std::initializer_list<QWidget*>{EdtMedtagHand, EdtMedtagPost, sortBox,
                                                      edtSkiftSide, edtAllePoster})
        Body->addWidget(w);
    Frame->btnVis->setText(" Vis ");
    Frame->btnUdskriv->setText(" Udskriv ");
    connect(EdtMedtagPost, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });
    connect(edtAllePoster, &QCheckBox::toggled, this, [this] { UpdateEnabled(); });

    const QString current = CurrentCaseText();
    EdtFraSag->setEditText(current);
    EdtTilSag->setEditText(current);
    EdtMedtagHand->setChecked(true);
    EdtMedtagPost->setChecked(true);
    Variants.ReadOptions = [this](kjqt::TMemIniFile& ini, const std::string& v) {
        EdtMedtagHand->setChecked(Yes(ini.ReadString(v, "MedtagStatus", "J")));
        EdtMedtagPost->setChecked(Yes(ini.ReadString(v, "MedtagPoster", "J")));
        if (QAbstractButton* b = EdtPosterSort->button(ini.ReadInteger(v, "PostSortering", 1)))
            b->setChecked(true);
        edtSkiftSide->setChecked(Yes(ini.ReadString(v, "SkiftSide", "J")));
    };
    Variants.WriteOptions = [this](kjqt::TMemIniFile& ini, const std::string& v) {
        auto jn = [](const QCheckBox* c) { return std::string(c->isChecked() ? "J" : "N"); };
        ini.WriteString(v, "MedtagStatus", jn(EdtMedtagHand));
        ini.WriteString(v, "MedtagPoster", jn(EdtMedtagPost));
        ini.WriteInteger(v, "PostSortering", std::max(0, EdtPosterSort->checkedId()));
        ini.WriteString(v, "SkiftSide", jn(edtSkiftSide));
    };
    Frame->OnRun = [this](bool preview) { btnVisClick(preview); };
    OpenVariants();
    UpdateEnabled();
}

TAktiveSagerForm::~TAktiveSagerForm() = default;

void TAktiveSagerForm::UpdateEnabled() {
    EdtPosterSort->buttons().first()->parentWidget()->setEnabled(EdtMedtagPost->isChecked());
    edtDato1->setEnabled(!edtAllePoster->isChecked());
    edtDato2->setEnabled(!edtAllePoster->isChecked());
}

void TAktiveSagerForm::CaseDropDown(QComboBox* box) {
    FillCaseList(box, Status, false);
}

void TAktiveSagerForm::btnVisClick(bool preview) {
    TActiveCasesOptions o;
    o.first = CaseNoOf(EdtFraSag);
    o.last = CaseNoOf(EdtTilSag);
    o.preview = preview;
    o.sort = std::max(0, EdtPosterSort->checkedId());
    o.useDates = !edtAllePoster->isChecked();
    o.pagePerCase = edtSkiftSide->isChecked();
    o.postings = EdtMedtagPost->isChecked();
    o.events = EdtMedtagHand->isChecked();
    o.from = DayOf(edtDato1->date());
    o.to = DayOf(edtDato2->date());
    if (o.to < o.from) std::swap(o.from, o.to);  // as the postings per employee
    RunReport(preview, [&](TPreviewForm& form) { PrintCases(form, o); });
}

void RunActiveCasesReport() {
    TAktiveSagerForm form(kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
