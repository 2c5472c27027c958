// The word filters a click on a column title sets, and the overviews' double-click and
// " Ret " buttons.
#include <QCoreApplication>
#include <QPushButton>

#include "app/kj_data.h"
#include "app/kj_register.h"
#include "app/kj_text.h"
#include "app/main_entries.h"
#include "app/main_form.h"
#include "app/main_form_util.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

struct FilterSpec {
    const char* grid;   // object name
    const char* field;  // column, upper case
    const char* caption;
    const char* prompt;
    const char* format;  // %s: the quoted word
};

// "%s" stands for the word with its quotes.
const FilterSpec kFilters[] = {
    {"StatusGrid", "STAT_BEM", "Søg i hændelser", "Indtast ord, der skal indgå i hændelsen",
     ".AND. At(%s,stat_bem)>0"},
    {"StatusGrid", "STAT_NAVN", "Søg i hændelser",
     "Indtast ord, der skal indgå i kontakt/ansvarlig", ".AND. At(%s,stat_navn)>0"},
    {"posterGrid", "POST_ANS", "Søg i posteringer", "Indtast ord, der skal indgå i medarbejder",
     ".AND. At(%s,post_ans)>0"},
    {"posterGrid", "POST_TMU", "Søg i posteringer", "Indtast ord, der skal indgå i vare",
     ".AND. At(%s,post_tmu)>0"},
    {"posterGrid", "POST_BEM", "Søg i posteringer", "Indtast ord, der skal indgå i tekst",
     ".AND. At(%s,post_bem)>0"},
    {"brugerGrid", "BRUGERNAVN", "Søg i medarbejdere",
     "Indtast ord, der skal indgå i medarbejdernavn",
     "(At(%s,ini_fnavn)>0 .OR. At(%s,ini_enavn)>0)"},
    {"kundeGrid", "KUNDENAVN", "Søg i kunder", "Indtast ord, der skal indgå i kundenavn",
     "(At(%s,mak_fnavn)>0 .OR. At(%s,mak_enavn)>0)"},
    {"SagsGrid", "SAGS_BEM", "Søg i sager", "Indtast ord, der skal indgå i beskrivelse",
     "At(%s,sags_bem)>0"},
    {"SagsGrid", "SAG_KUNDE", "Søg i sager", "Indtast ord, der skal indgå i kunde",
     "At(%s,sag_kunde)>0"},
    {"SagsGrid", "SAG_ANSVAR", "Søg i sager",
     "Indtast ord, der skal indgå i medarbejder (ansvarlig)", "At(%s,sag_ansvar)>0"},
    {"SagsGrid", "SAG_MATNR", "Søg i sager", "Indtast ord, der skal indgå i matrikelnr.",
     "At(%s,sag_matnr)>0"},
};

std::string Fill(const char* format, const std::string& quoted) {
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            out += quoted;
            ++p;
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace

// The condition of a word: quoted with a quote character the word does not contain. A word
// holding both quote characters, or too long, is refused with a message.
bool TKJSagerForm::ApplyWordFilter(kjqt::TDBGrid& grid, const std::string& field,
                                   const QString& answer) {
    const std::string name = grid.objectName().toStdString();
    const FilterSpec* spec = nullptr;
    for (const FilterSpec& f : kFilters)
        if (name == f.grid && TzUpper(field) == f.field) spec = &f;
    const std::string word = kjqt::ToAnsi(answer);
    std::string c;
    if (spec && !TrimRight(word).empty()) {
        std::string quoted;
        if (!QuoteSearchWord(word, quoted)) return false;
        c = Fill(spec->format, quoted);
    }
    // A filter resyncs its table, which would cancel a row being typed, and one on the cases
    // moves their cursor: the pending rows (and case) are settled first as a navigation
    // button settles them, and stay when they cannot be.
    const bool rows = name == "StatusGrid" || name == "posterGrid" || name == "SagsGrid";
    if (rows && !MayLeave(name == "SagsGrid" ? Header::Save : Header::Keep)) return false;
    const std::string n = KeyOf(data_.SagsDbf.FieldByName("SAGS_NR").AsString(), 10);
    TzDs::TTzDbf* table = nullptr;
    std::string filter;
    if (name == "StatusGrid") {
        table = &data_.tmpStat;
        filter = "stat_sag==\"" + n + "\"" + c;
    } else if (name == "posterGrid") {
        table = &data_.tmpPost;
        filter = "post_sag==\"" + n + "\"" + c;
    } else {
        table = name == "brugerGrid"  ? &data_.BrugerDbf
                : name == "kundeGrid" ? &data_.KundeDbf
                                      : &data_.SagsDbf;
        filter = c;
    }
    table->SetFilterTo(filter);
    table->GoTop();
    if (table == &data_.SagsDbf) {
        data_.SagsBufDbf.GoTop();
        AfterMove();
    }
    grid.viewport()->update();
    return true;
}

void TKJSagerForm::TitleClick(kjqt::TDBGrid& grid, kjqt::TColumn& column) {
    if (!TitleClickArmed) {
        TitleClickArmed = true;
        return;
    }
    const std::string name = grid.objectName().toStdString();
    QString answer;
    for (const FilterSpec& f : kFilters) {
        if (name != f.grid || TzUpper(column.FieldName) != f.field) continue;
        answer = kjqt::DialogService::Instance().InputText(QString::fromUtf8(f.caption),
                                                           QString::fromUtf8(f.prompt), QString());
    }
    ApplyWordFilter(grid, column.FieldName, answer);
}

}  // namespace kj

namespace kj {

void TKJSagerForm::WireGrids() {
    for (kjqt::TDBGrid* g : {StatusGrid, posterGrid, brugerGrid, kundeGrid, SagsGrid}) {
        g->OnTitleClick = [this](kjqt::TDBGrid& grid, kjqt::TColumn& column) {
            Guarded([&] { TitleClick(grid, column); });
        };
        g->OnColumnMoved = [this](kjqt::TDBGrid&, int, int) { TitleClickArmed = false; };
    }
    SagsGrid->OnDblClick = [this](kjqt::TDBGrid&) {
        Guarded([this] {
            // The case chosen, known before the gate, whose save repaints the overview.
            const int32_t chosen = data_.SagsBufDbf.RecNo();
            if (!MayLeave(Header::Ask)) return;
            data_.GotoRecNo(data_.SagsDbf, chosen);
            AfterMove();
        });
    };
    brugerGrid->OnDblClick = [this](kjqt::TDBGrid&) {
        Guarded([this] { RegisterDblClick(false); });
    };
    kundeGrid->OnDblClick = [this](kjqt::TDBGrid&) { Guarded([this] { RegisterDblClick(true); }); };
    connect(btnRetBruger, &QPushButton::clicked, this,
            [this] { Guarded([this] { RetRegister(false); }); });
    connect(btnRetKunde, &QPushButton::clicked, this,
            [this] { Guarded([this] { RetRegister(true); }); });
}

void TKJSagerForm::RegisterDblClick(bool customer) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    TzDs::TTzDbf& reg = customer ? data_.KundeDbf : data_.BrugerDbf;
    if (s.IsEmpty()) return;
    if (s.State() != Db::dsEdit && s.State() != Db::dsInsert) s.Edit();
    kjqt::TDBComboBox* c = customer ? edtKunde : edtAnsvar;
    c->Link().Reset();
    s.FieldByName(customer ? "SAG_KUNDE" : "SAG_ANSVAR")
        .SetAsString(reg.FieldByName(customer ? "MAK_ID" : "INI").AsString());
    LookUpName(customer);
    c->setFocus();
}

void TKJSagerForm::RetRegister(bool customer) {
    TzDs::TTzDbf& reg = customer ? data_.KundeDbf : data_.BrugerDbf;
    reg.DisableControls();
    const int32_t at = reg.RecNo();
    reg.PushState();
    const auto& show = customer ? MainEntries().ShowKundeForm : MainEntries().ShowBrugerForm;
    if (show) show(at, std::string());
    data_.GotoRecNo(reg, at);
    reg.PopState();
    reg.EnableControls();
    (customer ? kundeGrid : brugerGrid)->setFocus();
}

}  // namespace kj
