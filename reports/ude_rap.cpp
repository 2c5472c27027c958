#include "reports/ude_rap.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "reports/preview_form.h"
#include "reports/report_util.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/ini_file.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

const char kFile[] = "UdeSager.kjr";
const char kNoCases[] = "Der er ingen sager til udskrift ";
const int32_t kRuleHeight = 300;

kj::TKJData& Data() {
    return *kj::KJData();
}

void Say(const std::string& ansi) {
    kjqt::DialogService::Instance().ShowMessage(kjqt::FromAnsi(ansi));
}

std::string CaseKey(TzDs::TTzDbf& cases) {
    return KeyOf(cases.FieldByName("sags_nr").AsString(), 10);
}

bool Closed(TzDs::TTzDbf& cases) {
    return cases.FieldByName("SagenErLukket").AsBoolean();
}

// Skips closed cases from the current one; false at the end of the table.
bool SkipClosed(TzDs::TTzDbf& cases) {
    while (!cases.Eof() && Closed(cases)) cases.Next();
    return !cases.Eof();
}

// The first case to print (case table on it) or false after the message; the next one.
bool FindFoersteSag(TzDs::TTzDbf& cases, const std::string& from, const std::string& to,
                    bool onlyActive) {
    cases.SetOrderToTag("SAGSNR");
    cases.First();
    const std::string fromKey = KeyOf(from, 10);
    if (!TrimRight(from).empty()) {
        if (!cases.FindExact(fromKey)) {
            Say("Kan ikke finde den f\xF8rste sag " + from);
            return false;
        }
        if (cases.Eof()) {
            Say(kNoCases + from);
            return false;
        }
    } else if (cases.Eof()) {
        Say(kNoCases);
        return false;
    }
    if (onlyActive && !SkipClosed(cases)) {
        Say(TrimRight(from).empty() ? std::string(kNoCases) : kNoCases + from);
        return false;
    }
    if (!TrimRight(to).empty() && CaseKey(cases) > KeyOf(to, 10)) {
        Say("F\xF8rste sag " + TrimRight(CaseKey(cases)) + " ligger efter sidste sag " +
            TzUtils::AnsiUpper(TrimRight(to)));
        return false;
    }
    return true;
}

bool NaesteSag(TzDs::TTzDbf& cases, const std::string& to, bool onlyActive) {
    cases.Next();
    if (cases.Eof()) return false;
    if (onlyActive && !SkipClosed(cases)) return false;
    return TrimRight(to).empty() || CaseKey(cases) <= KeyOf(to, 10);
}

}  // namespace

// ---- One run ------------------------------------------------------------------------------

struct TUdeRapForm::Run {
    TPreviewForm& form;
    const TReportVariants& variants;
    int mode = 0;
    TSkrivListe Hoved, SagHoved, VareKolonner, VareLinje, SagKolonner, SagTotal, GrandTotal;
    // Sums in ten-thousandths: group, case, grand; the group's quantity.
    int64_t group[3] = {0, 0, 0}, sag[3] = {0, 0, 0}, grand[3] = {0, 0, 0}, antal = 0;
    std::string groupKey, lastKey;
    bool positioned = false;  // the postings cursor was placed by a search in this run

    kj::TKJData& d = Data();
    Db::TField& postSag = d.PostDbf.FieldByName("post_sag");
    Db::TField& postTmu = d.PostDbf.FieldByName("post_tmu");
    Db::TField& postAntal = d.PostDbf.FieldByName("post_antal");
    Db::TField& total = d.PostDbf.FieldByName("Total");
    Db::TField& moms = d.PostDbf.FieldByName("Moms");
    Db::TField& vareGr = d.VareDbf.FieldByName("tmu_gr");

    Run(TPreviewForm& f, const TReportVariants& v, int m) : form(f), variants(v), mode(m) {}

    void LaesLayout();
    void SetSums(TSkrivListe& list, const char* const keys[3], const int64_t sums[3]) {
        for (int i = 0; i < 3; ++i) SetItemText(list, keys[i], FormatAmount(sums[i]));
    }
    std::string GroupOfPosting();
    void SkrivSubTotal();
    void SkrivSagTotal();
    void SkrivGrandTotal();
    void VisNySideUdeRap();
    void PrintCase();
    void QuarterRule() { form.PrintRule(form.UsableWidth / 4, form.UsableWidth, kRuleHeight, {}); }
};

void TUdeRapForm::Run::LaesLayout() {
    const TLayoutReader layout(variants);
    layout.PageHead(Hoved);
    Db::TField* sagsNr = &d.SagsDbf.FieldByName("sags_nr");
    Db::TField* sagsBem = &d.SagsDbf.FieldByName("sags_bem");
    Db::TField* iAlt = &d.PostDbf.FieldByName("IAlt");
    if (mode == 0) {
        layout.Item("SagsNr", "Sagsnr;0;0;18;8;V;20;0;38;8;V", sagsNr, &SagKolonner, &SagTotal);
        layout.Item("SagsBem", "Bem;0;20;18;8;V;20;20;170;8;V", sagsBem, &SagKolonner, &SagTotal);
    } else if (mode == 1 || mode == 2) {
        layout.Item("SagsNr", "Sagsnr;0;0;18;8;V;20;0;38;8;V", sagsNr, &SagHoved, &SagHoved);
        layout.Item("SagsBem", "Bem;0;20;18;8;V;20;20;170;8;V", sagsBem, &SagHoved, &SagHoved);
    }
    if (mode == 1) {
        layout.Item("VareID", "Vare;0;0;14;3;V;", &d.VareDbf.FieldByName("tmu_id"), &VareKolonner,
                    &VareLinje);
        layout.Item("VareBem", "Bemærkning;15;0;89;3;V;", &d.VareDbf.FieldByName("tmu_bem"),
                    &VareKolonner, &VareLinje);
    } else if (mode == 2) {
        layout.Item("VareGruppeID", "Gruppe;0;0;14;5;V;15;0;24;5;V;", &d.vareGDbf.FieldByName("id"),
                    &VareKolonner, &VareLinje);
        layout.Item("VareGruppeBem", "Bemærkning;40;0;19;5;V;60;0;99;V;",
                    &d.vareGDbf.FieldByName("tekst"), &VareKolonner, &VareLinje);
    }
    if (mode == 1 || mode == 2) {
        layout.Item("PostSubAntal", "; 65;0; 19;3;H;;;;;", &postAntal, &VareKolonner, &VareLinje);
        layout.Item("PostSubTotal", ";110;0; 24;3;H;;;;;", &total, &VareKolonner, &VareLinje);
        layout.Item("PostSubMoms", ";135;0; 24;3;H;;;;;", &moms, &VareKolonner, &VareLinje);
        layout.Item("PostSubIalt", ";160;0; 24;3;H;;;;;", iAlt, &VareKolonner, &VareLinje);
    }
    if (mode >= 0 && mode <= 2) {
        TSkrivListe* caption = mode == 0 ? &SagKolonner : &SagTotal;
        layout.Item("PostIaltTekst", "I Alt; 30;0; 34;3;V;;;;;", nullptr, caption, nullptr);
        layout.Item("PostIAltTotal", ";110;0; 24;3;H;;;;;", &total, caption, &SagTotal);
        layout.Item("PostIAltMoms", ";135;0; 24;3;H;;;;;", &moms, caption, &SagTotal);
        layout.Item("PostIaltIAlt", ";160;0; 24;3;H;;;;;", iAlt, caption, &SagTotal);
    }
    if (mode == 0) {
        layout.Item("PostGrandTekst", "Udestående ialt;500;0;600;25;V;;;;;;", nullptr, &GrandTotal,
                    nullptr);
        layout.Item("PostGrandTotal", ";;;;;;1150;0;240;25;H;", &total, &GrandTotal, &GrandTotal);
        layout.Item("PostGrandMoms", ";;;;;;1400;0;240;25;H;", &moms, &GrandTotal, &GrandTotal);
        layout.Item("PostGrandIAlt", ";;;;;;1650;0;250;25;H;", iAlt, &GrandTotal, &GrandTotal);
    }
}

// Mode 1 the item; mode 2 the item's group (the previous posting's when the item is
// missing); mode 0 none.
std::string TUdeRapForm::Run::GroupOfPosting() {
    if (mode == 1) return postTmu.AsString();
    if (mode != 2) return std::string();
    if (d.VareDbf.FindExact(KeyOf(postTmu.AsString(), 10))) lastKey = vareGr.AsString();
    return lastKey;
}

void TUdeRapForm::Run::SkrivSubTotal() {
    TzDs::TTzDbf& table = mode == 1 ? d.VareDbf : d.vareGDbf;
    const bool found = table.FindExact(KeyOf(groupKey, 10));
    SetItemText(VareLinje, "PostSubAntal", FormatAmount(antal));
    static const char* const keys[3] = {"PostSubTotal", "PostSubMoms", "PostSubIalt"};
    SetSums(VareLinje, keys, group);
    {
        TBlankItems blank(VareLinje, &table, !found);
        form.PrintFields(VareLinje);
    }
    group[0] = group[1] = group[2] = antal = 0;
}

void TUdeRapForm::Run::SkrivSagTotal() {
    static const char* const keys[3] = {"PostIAltTotal", "PostIAltMoms", "PostIaltIAlt"};
    SetSums(SagTotal, keys, sag);
    form.PrintFields(SagTotal);
    for (int i = 0; i < 3; ++i) group[i] = sag[i] = 0;
    antal = 0;
}

void TUdeRapForm::Run::SkrivGrandTotal() {
    static const char* const keys[3] = {"PostGrandTotal", "PostGrandMoms", "PostGrandIAlt"};
    SetSums(GrandTotal, keys, grand);
    form.PrintFields(GrandTotal);
    for (int i = 0; i < 3; ++i) group[i] = sag[i] = grand[i] = 0;
    antal = 0;
}

void TUdeRapForm::Run::VisNySideUdeRap() {
    form.NewReportPage(false);
    form.PrintFields(Hoved);
    form.PrintRule(0, form.UsableWidth, kRuleHeight, {});
    if (form.PageNumber >= 2) form.PrintFields(mode == 0 ? SagKolonner : VareKolonner);
}

void TUdeRapForm::Run::PrintCase() {
    TzDs::TTzDbf& post = d.PostDbf;
    const std::string sagKey = KeyOf(d.SagsDbf.FieldByName("sags_nr").AsString(), 10);
    // The postings are in case order like the cases: once searched, a cursor already on this
    // case, past it or at the end needs no search (past it: the case has no postings).
    if (!positioned || (!post.Eof() && KeyOf(postSag.AsString(), 10) < sagKey)) {
        post.First();
        post.FindNear(sagKey);
        positioned = true;
    }
    auto onCase = [&] { return !post.Eof() && KeyOf(postSag.AsString(), 10) == sagKey; };
    if (!onCase()) return;
    if (mode == 1 || mode == 2) {
        form.PrintFields(SagHoved);
        form.PrintFields(VareKolonner);
    }
    groupKey = GroupOfPosting();
    while (onCase()) {
        const std::string key = GroupOfPosting();
        if (key != groupKey) {
            SkrivSubTotal();
            groupKey = key;
        }
        const int64_t t = FieldMoney(total), m = FieldMoney(moms);
        int64_t withVat = t;
        kj::AddMoney(withVat, m);
        const int64_t sums[3] = {t, m, withVat};
        for (int i = 0; i < 3; ++i) {
            kj::AddMoney(group[i], sums[i]);
            kj::AddMoney(sag[i], sums[i]);
            kj::AddMoney(grand[i], sums[i]);
        }
        kj::AddMoney(antal, FieldMoney(postAntal));
        post.Next();
        LetMessagesThrough();
    }
    if (mode == 1 || mode == 2) {
        SkrivSubTotal();
        QuarterRule();
    }
    SkrivSagTotal();
    if (mode == 1 || mode == 2) QuarterRule();
}

void TUdeRapForm::UdskrivSager(TPreviewForm& form, const std::string& from, const std::string& to,
                               int mode, bool onlyActive) {
    Run run(form, Variants, mode);
    run.LaesLayout();
    kj::TKJData& d = Data();
    for (auto [table, tag] : {std::pair{&d.SagsDbf, "SAGSNR"},
                              {&d.BrugerDbf, "BRUGER"},
                              {&d.KundeDbf, "KUNDE"},
                              {&d.StatusDbf, "STATUS"}}) {
        table->SetFilterTo("");
        table->SetOrderToTag(tag);
    }
    d.PostDbf.SetOrderToTag(mode == 2 ? "POSTTMU" : "POSTSAG");
    // The item look-ups search by item number and group number.
    d.VareDbf.SetOrderToTag("VARER");
    d.vareGDbf.SetOrderToTag("GRUPPE");
    if (!FindFoersteSag(d.SagsDbf, from, to, onlyActive)) return;
    SetPaperFromSetup(form);
    form.OnNewReportPage = [&run] { run.VisNySideUdeRap(); };
    form.StartReport();
    if (mode == 0) form.PrintFields(run.SagKolonner);
    {
        TIndexReadRun reading({&d.SagsDbf, &d.PostDbf, &d.VareDbf, &d.vareGDbf});
        do {
            run.PrintCase();
            LetMessagesThrough();
        } while (NaesteSag(d.SagsDbf, to, onlyActive));
    }
    run.QuarterRule();
    run.SkrivGrandTotal();
    form.FinishReport();
    form.OnNewReportPage = nullptr;
}

// ---- The window ---------------------------------------------------------------------------

TUdeRapForm::TUdeRapForm(QWidget* parent)
    : TReportWindow(kFile, QString::fromUtf8("Udestående på sager (ikke fakturerede beløb)"),
                    parent) {
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QString::fromUtf8("  Fra Sagsnr.  "), this), 0, 0);
    grid->addWidget(new QLabel(QString::fromUtf8("  Til Sagsnr.  "), this), 1, 0);
    EdtSagnr1 = NewCaseBox(this, [this](QComboBox* box) { EdtSagnr1DropDown(box); });
    EdtSagnr2 = NewCaseBox(this, [this](QComboBox* box) { EdtSagnr1DropDown(box); });
    grid->addWidget(EdtSagnr1, 0, 1);
    grid->addWidget(EdtSagnr2, 1, 1);
    Body->addLayout(grid);
    edtAktiveSager = new QCheckBox(QString::fromUtf8(" Kun aktive sager "), this);
    Body->addWidget(edtAktiveSager);
    auto* group = new QGroupBox(QString::fromUtf8("  Visning  "), this);
    auto* column = new QVBoxLayout(group);
    rgVisning = new QButtonGroup(this);
    const char* modes[] = {"Kun total for sagen (ingen posteringer)",
                           "Posteringer og total for sagen",
                           "Posteringer, i alt pr. varegruppe og total for sagen"};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(QString::fromUtf8(modes[i]), group);
        rgVisning->addButton(radio, i);
        column->addWidget(radio);
    }
    Body->addWidget(group);

    const QString current = CurrentCaseText();
    EdtSagnr1->setEditText(current);
    EdtSagnr2->setEditText(current);
    SetVisning(0);
    Variants.ReadOptions = [this](kjqt::TMemIniFile& ini, const std::string& v) {
        SetVisning(ini.ReadInteger(v, "Visning", 0));
        edtAktiveSager->setChecked(ini.ReadBool(v, "KunAktive", true));
    };
    Variants.WriteOptions = [this](kjqt::TMemIniFile& ini, const std::string& v) {
        ini.WriteInteger(v, "Visning", Visning());
        ini.WriteBool(v, "KunAktive", edtAktiveSager->isChecked());
    };
    Frame->OnRun = [this](bool preview) { btnVisClick(preview); };
    OpenVariants();
}

TUdeRapForm::~TUdeRapForm() = default;

int TUdeRapForm::Visning() const {
    return std::max(0, rgVisning->checkedId());
}

void TUdeRapForm::SetVisning(int mode) {
    if (QAbstractButton* b = rgVisning->button(mode)) b->setChecked(true);
}

void TUdeRapForm::EdtSagnr1DropDown(QComboBox* box) {
    FillCaseList(box, Status, true);
}

void TUdeRapForm::btnVisClick(bool preview) {
    kj::TKJData& d = Data();
    // Filters, orders and the first case are set by the run itself (UdskrivSager).
    d.SagsDbf.SetWhileTo("");
    const std::string from = CaseNoOf(EdtSagnr1), to = CaseNoOf(EdtSagnr2);
    const int mode = Visning();
    const bool onlyActive = edtAktiveSager->isChecked();
    RunReport(preview, [&](TPreviewForm& form) { UdskrivSager(form, from, to, mode, onlyActive); });
    d.SagsDbf.SetFilterTo("");
    d.PostDbf.SetFilterTo("");
}

void RunOutstandingReport() {
    TUdeRapForm form(kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
