#include "reports/list_post.h"

#include <QCheckBox>
#include <QDate>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "data/db_format.h"
#include "reports/date_picker.h"
#include "reports/preview_form.h"
#include "reports/report_util.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

const int32_t kRuleHeight = 300;
const size_t kIniWidth = 5;

std::string Ansi(const char* utf8) {
    return kjqt::ToAnsi(QString::fromUtf8(utf8));
}

// Initials as the index holds them.
std::string IniKey(const std::string& ini) {
    return KeyOf(TrimRight(ini), kIniWidth);
}

// After the shared posting columns.
const TLayoutKey kPostKeys[] = {
    {"PostSag", "post_sag", "Sag;185;0;3;6;V;185;0;3;6;V"},
};

}  // namespace

// ---- One run ------------------------------------------------------------------------------

struct TListPostForm::Run {
    TPreviewForm& form;
    const TReportVariants& variants;
    std::string key;  // one employee's initials padded to 5; empty: all employees
    bool perDay = false;
    Db::TDateTime from = 0, to = 0;
    TSkrivListe head, band, heading, line, daySub, total;
    int64_t day[3] = {0, 0, 0}, employee[3] = {0, 0, 0};
    std::string currentEmployee;
    Db::TDateTime currentDay = 0;
    bool any = false;
    // What is printing when a page breaks: the head of a continued page repeats the band of
    // the employee whose lines continue there (not the posting row's, which may have moved
    // on to the next employee), and none when the break falls on a new employee's band.
    enum class TPhase { Band, Heading, Lines } phase = TPhase::Band;
    std::string bandEmployee;  // the initials of the last band printed, as the field gives them

    kj::TKJData& d = *kj::KJData();
    TzDs::TTzDbf& post = d.PostDbf;
    Db::TField& postAns = post.FieldByName("post_ans");
    Db::TField& postDato = post.FieldByName("post_dato");
    Db::TField& postRabat = post.FieldByName("post_rabat");
    Db::TField& postTotal = post.FieldByName("Total");
    Db::TField& postMoms = post.FieldByName("Moms");

    Run(TPreviewForm& f, const TReportVariants& v) : form(f), variants(v) {}

    void DateItem(const TLayoutReader& layout, const char* k, const char* def) {
        std::string text = layout.Line(k, Ansi(def));
        std::string rest = text;
        for (int i = 0; i < 6; ++i) NextLayoutToken(rest);
        ParseLayoutLine(k, text, nullptr, &band, nullptr);
        ParseLayoutLine(std::string(k) + "Felt", ";" + rest, nullptr, &band, nullptr);
    }
    void ReadLayout();
    bool InRange() {
        const Db::TDateTime day = FieldDay(postDato);
        return !(from != 0 && day < from) && !(to != 0 && day > to);
    }
    bool Belongs() { return !post.Eof() && UpperTrimmed(postAns.AsString()) == UpperTrimmed(key); }
    bool SkipOutside();
    bool FirstPosting();
    bool NextPosting() {
        post.Next();
        return SkipOutside();
    }
    void Rule(int32_t x1) { form.PrintRule(x1, form.UsableWidth, kRuleHeight, {}); }
    void SetSums(TSkrivListe& list, const char* const keys[3], int64_t sums[3]) {
        for (int i = 0; i < 3; ++i) {
            SetItemText(list, keys[i], FormatKroner(sums[i]));
            sums[i] = 0;
        }
    }
    void VisNySidePoster();
    void PrintBand();
    void EmployeeBand();
    void DaySubtotal();
    void EmployeeTotal();
    void PrintPosting();
    void Body();
};

void TListPostForm::Run::ReadLayout() {
    const TLayoutReader layout(variants);
    layout.PageHead(head);
    layout.Item("BrugerID", "Medarbejder;0;0;28;5;V;30;0;14;5;V", &postAns, &band, &band);
    layout.Item("BrugerNavn", ";;;;;;50;0;140;5;V", &d.BrugerDbf.FieldByName("BrugerNavn"), &band,
                &band);
    DateItem(layout, "FraDato", "Fra: ; 45;6; 24;5;H; 70;6; 24;5;V");
    DateItem(layout, "TilDato", "Til: ; 95;6; 24;5;H;120;6; 24;5;V");
    for (const TLayoutKey& k : kPostingColumns)
        layout.Item(k.key, k.def, &post.FieldByName(k.field), &heading, &line);
    for (const TLayoutKey& k : kPostKeys)
        layout.Item(k.key, k.def, &post.FieldByName(k.field), &heading, &line);
    layout.Item("PostSubDato", "; 30;0; 34;3;V;;;;;", nullptr, &daySub, nullptr);
    layout.Item("PostSubTotal", ";110;0; 24;3;H;;;;;", nullptr, &daySub, nullptr);
    layout.Item("PostSubMoms", ";135;0; 24;3;H;;;;;", nullptr, &daySub, nullptr);
    layout.Item("PostSubIalt", ";160;0; 24;3;H;;;;;", nullptr, &daySub, nullptr);
    layout.Item("PostIaltTekst", "I Alt; 30;0; 34;3;V;;;;;", nullptr, &total, nullptr);
    layout.Item("PostIAltTotal", ";110;0; 24;3;H;;;;;", nullptr, &total, nullptr);
    layout.Item("PostIAltMoms", ";135;0; 24;3;H;;;;;", nullptr, &total, nullptr);
    layout.Item("PostIaltIAlt", ";160;0; 24;3;H;;;;;", nullptr, &total, nullptr);
}

// Skips postings outside the date range (for one employee: only while they are his);
// true on a posting to print.
bool TListPostForm::Run::SkipOutside() {
    if (key.empty()) {
        while (!post.Eof() && !InRange()) {
            post.Next();
            LetMessagesThrough();
        }
        return !post.Eof();
    }
    while (Belongs() && !InRange()) {
        post.Next();
        LetMessagesThrough();
    }
    return Belongs() && InRange();
}

bool TListPostForm::Run::FirstPosting() {
    post.First();
    if (key.empty()) return SkipOutside();
    post.FindNear(IniKey(key) + DateKey(from));
    return SkipOutside();
}

void TListPostForm::Run::VisNySidePoster() {
    form.NewReportPage(false);
    form.PrintFields(head);
    Rule(0);
    if (form.PageNumber < 2 || phase == TPhase::Band) return;
    PrintBand();
    Rule(0);
    if (phase == TPhase::Lines) form.PrintFields(heading);
}

// The band of bandEmployee: the initials as taken, the name from the employee table.
void TListPostForm::Run::PrintBand() {
    const bool found = d.BrugerDbf.FindExact(IniKey(bandEmployee));
    if (TSkrivFelt* id = band.Find("DataBrugerID"))
        id->Text = bandEmployee.empty() ? " " : bandEmployee;
    TBlankItems unknown(band, &d.BrugerDbf, !found);
    form.PrintFields(band);
}

void TListPostForm::Run::EmployeeBand() {
    bandEmployee = postAns.AsString();
    auto setDate = [this](const char* k, Db::TDateTime day) {
        TSkrivFelt* item = band.Find(std::string(k) + "Felt");
        if (!item) item = band.Find(k);
        if (item) item->Text = ShortDate(day);
    };
    setDate("FraDato", from);
    setDate("TilDato", to);
    phase = TPhase::Band;
    PrintBand();
    Rule(0);
}

void TListPostForm::Run::DaySubtotal() {
    if (currentDay == 0) return;
    Rule(form.UsableWidth / 4);
    SetItemText(daySub, "PostSubDato", ShortDate(currentDay));
    static const char* const keys[3] = {"PostSubTotal", "PostSubMoms", "PostSubIalt"};
    SetSums(daySub, keys, day);
    form.PrintFields(daySub);
    Rule(form.UsableWidth / 4);
}

void TListPostForm::Run::EmployeeTotal() {
    Rule(form.UsableWidth / 4);
    static const char* const keys[3] = {"PostIAltTotal", "PostIAltMoms", "PostIaltIAlt"};
    SetSums(total, keys, employee);
    form.PrintFields(total);
    Rule(form.UsableWidth / 4);
}

void TListPostForm::Run::PrintPosting() {
    if (TSkrivFelt* r = line.Find("PostRabat")) r->Text = FieldMoney(postRabat) > 10 ? "*" : "-";
    const int64_t t = FieldMoney(postTotal), m = FieldMoney(postMoms);
    int64_t withVat = t;
    kj::AddMoney(withVat, m);
    const int64_t sums[3] = {t, m, withVat};
    for (int i = 0; i < 3; ++i) {
        kj::AddMoney(day[i], sums[i]);
        kj::AddMoney(employee[i], sums[i]);
    }
    form.PrintFields(line);
}

void TListPostForm::Run::Body() {
    do {
        const std::string ans = TrimRight(postAns.AsString());
        if (!any || ans != currentEmployee) {
            if (any) {
                if (perDay) {
                    DaySubtotal();
                    currentDay = FieldDay(postDato);
                }
                EmployeeTotal();
            }
            EmployeeBand();
            currentEmployee = ans;
            any = true;
            phase = TPhase::Heading;
            form.PrintFields(heading);
            phase = TPhase::Lines;
        }
        if (perDay && FieldDay(postDato) != currentDay) {
            DaySubtotal();
            currentDay = FieldDay(postDato);
        }
        PrintPosting();
        LetMessagesThrough();
    } while (NextPosting());
    if (perDay) DaySubtotal();
    EmployeeTotal();
}

void TListPostForm::RunPostings(TPreviewForm& form, const std::string& key, bool perDay,
                                Db::TDateTime from, Db::TDateTime to) {
    Run run(form, Variants);
    run.key = key;
    run.perDay = perDay;
    run.from = from;
    run.to = to;
    run.ReadLayout();
    run.post.SetOrderToTag("POSTANS");
    run.d.BrugerDbf.SetOrderToTag("BRUGER");
    if (!run.FirstPosting()) return;
    SetPaperFromSetup(form);
    form.HeadList = nullptr;
    form.OnNewReportPage = [&run] { run.VisNySidePoster(); };
    form.StartReport();
    {
        TIndexReadRun reading({&run.post, &run.d.BrugerDbf});
        run.Body();
    }
    form.FinishReport();
    form.OnNewReportPage = nullptr;
}

// ---- The window ---------------------------------------------------------------------------

TListPostForm::TListPostForm(QWidget* parent)
    : TReportWindow("BrugerPoster.kjr", QString::fromUtf8("Liste over posteringer"), parent) {
    TRunGuard busy({});
    auto* grid = new QGridLayout;
    grid->addWidget(new QLabel(QString::fromUtf8(" Medarbejder "), this), 0, 0);
    auto* box = new TDropCombo(this);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->OnDropDown = [this] { EdtBruger1DropDown(); };
    EdtBruger1 = box;
    grid->addWidget(EdtBruger1, 0, 1);
    grid->addWidget(new QLabel(QString::fromUtf8(" Fra dato. "), this), 1, 0);
    grid->addWidget(new QLabel(QString::fromUtf8(" Til dato. "), this), 2, 0);
    const QDate today = QDate::currentDate();
    const QDate first(today.year(), today.month(), 1);
    DateTimePicker1 = new TDatePicker(first, this);
    DateTimePicker2 = new TDatePicker(first.addMonths(1).addDays(-1), this);
    grid->addWidget(DateTimePicker1, 1, 1);
    grid->addWidget(DateTimePicker2, 2, 1);
    Body->addLayout(grid);
    cbPrDag = new QCheckBox(QString::fromUtf8("Optælling pr.dag"), this);
    Body->addWidget(cbPrDag);
    kj::KJData()->PostDbf.SetOrderToTag("POSTANS");
    Frame->OnRun = [this](bool preview) { btnVisClick(preview); };
    OpenVariants();
}

TListPostForm::~TListPostForm() {
    TzDs::TTzDbf& users = kj::KJData()->BrugerDbf;
    if (users.Active() && users.State() != Db::dsBrowse) users.Cancel();
}

void TListPostForm::EdtBruger1DropDown() {
    if (EdtBruger1->count() > 0) return;
    TRunGuard busy({});
    TzDs::TTzDbf& users = kj::KJData()->BrugerDbf;
    const QString text = EdtBruger1->currentText();
    for (users.First(); !users.Eof(); users.Next()) {
        if (users.Deleted()) continue;
        EdtBruger1->addItem(
            kjqt::FromAnsi(TzUtils::PadRightOrCut(users.FieldByName("ini").AsString(), kIniWidth) +
                           users.FieldByName("BrugerNavn").AsString()));
    }
    EdtBruger1->setEditText(text);
}

void TListPostForm::btnVisClick(bool preview) {
    std::string key;
    const std::string typed = kjqt::ToAnsi(EdtBruger1->currentText());
    if (!TrimRight(typed).empty()) {
        key = IniKey(TrimRight(typed.substr(0, kIniWidth)));
        TzDs::TTzDbf& post = kj::KJData()->PostDbf;
        post.SetFilterTo("");
        post.SetWhileTo("");
        post.SetOrderToTag("POSTANS");
        post.FindNear(key);
        if (post.Eof() ||
            UpperTrimmed(post.FieldByName("post_ans").AsString()) != UpperTrimmed(key)) {
            kjqt::DialogService::Instance().ShowMessage(
                QString::fromUtf8("Der er ingen posteringer for denne medarbejder!"));
            return;
        }
    }
    Db::TDateTime from = DayOf(DateTimePicker1->date()), to = DayOf(DateTimePicker2->date());
    if (to < from) std::swap(from, to);
    const bool perDay = cbPrDag->isChecked();
    RunReport(preview, [&](TPreviewForm& form) { RunPostings(form, key, perDay, from, to); });
    kj::KJData()->PostDbf.SetFilterTo("");
}

void RunEmployeePostingsReport() {
    TListPostForm form(kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
