#include "app/kunde_form.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <cstring>
#include <memory>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "storage/tz_utils.h"
#include "ui/db_controls.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

TkundeForm* g_form = nullptr;

const CardRegisterSpec kSpec = {
    "KundeDbf",   "KundeBufDbf", "KundeData", "KUNDE",  "mak_id",    10,
    "mak_postnr", "mak_tlf",     "kunden ",   "kunder", "kundedata", "skal denne oprettes ?",
    nullptr};

constexpr const char* kTypeLetters = "FOP";
constexpr const char* kTypeNames[] = {"Firma", "Offentlig", "Privat"};

}  // namespace

TkundeForm* KundeForm() {
    return g_form;
}

std::string TkundeForm::TypeName(const std::string& letter) {
    if (letter.size() != 1) return {};
    const char* p = std::strchr(kTypeLetters, letter[0]);
    return p && *p ? kTypeNames[p - kTypeLetters] : std::string();
}

TkundeForm::TkundeForm() : TCardRegisterForm(kSpec, Q(" Rediger kunder/kontakter ")) {
    setObjectName(QStringLiteral("KundeForm"));
    NyBtn = AddButton(" Ny kunde (Ctrl-Ins) ", [this] { NyKunde(); });
    SletBtn = AddButton(" Slet (Ctrl-Del) ", [this] { SletKunde(); });
    GendanBtn = AddButton(" Gendan (Ctrl-Tilbage) ", [this] { GendanKunde(); });
    SoegBtn = AddButton(" Søg ", [this] { btnSearchClick(false); });
    NaesteBtn = AddButton(" Næste ", [this] { btnSearchClick(true); });
    Grid->SetPanelBuilder([this](QWidget& panel) { BuildPanel(panel); });
    Grid->SetDataSource(KJData()->DataSource(kSpec.source));
}

void TkundeForm::BuildPanel(QWidget& panel) {
    QGridLayout* g = CardLayout(panel);
    AddEdit(g, " Kunde ", "mak_id", "edtKey", 0, 0);
    AddEdit(g, " Titel ", "mak_titel", "edtTitel", 0, 2);
    AddEdit(g, " Fornavn ", "mak_fnavn", "edtFnavn", 0, 4);
    AddEdit(g, " Efternavn ", "mak_enavn", "edtEnavn", 0, 6);
    AddEdit(g, " Gade/Vej & husnr.", "mak_adr1", "edtAdr1", 1, 0, 3);
    AddEdit(g, nullptr, "mak_adr2", "edtAdr2", 1, 3, 1);
    AddPostnr(g, 1, 5);
    AddEdit(g, " Telefon ", "mak_tlf", "edtTlf", 2, 0);
    AddEdit(g, " Telefax ", "mak_fax", "edtFax", 2, 2);
    AddEdit(g, " EMail ", "mak_email", "edtEmail", 2, 4, 3);
    AddEdit(g, " Att. ", "mak_att", "edtAtt", 3, 0);
    AddEdit(g, " Type ", "mak_type", "edtType", 3, 2)->setMaximumWidth(30);
    auto* type = new QLabel(&panel);
    type->setObjectName(QStringLiteral("lblType"));
    g->addWidget(type, 3, 4);
    auto stamp = [&](const char* caption, const char* field, int row, int col) {
        g->addWidget(new QLabel(Q(caption), &panel), row, col);
        auto* t = new kjqt::TDBText(&panel);
        t->SetDataField(field);
        g->addWidget(t, row, col + 1);
    };
    stamp(" Oprettet ", "mak_opret", 3, 5);
    stamp(" Ajourført d. ", "mak_ajour", 3, 7);
    stamp(" Ajourført af ", "mak_ini", 3, 9);
}

void TkundeForm::PaintPanel(QWidget& panel) {
    TCardRegisterForm::PaintPanel(panel);
    if (auto* label = panel.findChild<QLabel*>(QStringLiteral("lblType")))
        label->setText(
            Q(TypeName(table_.Active() ? table_.FieldByName("mak_type").AsString() : "").c_str()));
}

bool TkundeForm::eventFilter(QObject* watched, QEvent* event) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::KeyPress && w && w->objectName() == QLatin1String("edtType") &&
        Grid->LivePanel() && Grid->LivePanel()->isAncestorOf(w)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->text().isEmpty() && key->text().at(0).isPrint() &&
            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            Guarded([&] { edtTypeKeyPress(*key); });
            return true;
        }
    }
    return TCardRegisterForm::eventFilter(watched, event);
}

void TkundeForm::edtTypeKeyPress(QKeyEvent& event) {
    const std::string letter = TzUtils::AnsiUpper(kjqt::ToAnsi(event.text().left(1)));
    auto* label = Live<QLabel>("lblType");
    const std::string name = TypeName(letter);
    if (!name.empty()) {
        if (table_.State() != Db::dsEdit && table_.State() != Db::dsInsert) table_.Edit();
        table_.FieldByName("mak_type").SetAsString(letter);
        if (label) label->setText(Q(name.c_str()));
    } else if (label) {
        label->clear();
    }
    if (auto* e = Live<kjqt::TDBEdit>("edtType")) e->selectAll();
    Grid->update();
}

void TkundeForm::NyKunde() {
    if (table_.Active()) PostOnClose(table_);
    if (Initials().empty()) return;
    Grid->DoKey(kjqt::gkAppend);
    Grid->update();
    FocusNewCard();
}

void TkundeForm::SletKunde() {
    if (Initials().empty()) return;
    table_.Cancel();
    const std::string name = table_.FieldByName("KundeNavn").AsString();
    if (KJData()->Confirm(Ansi("Skal denne kunde slettes ?\r\n") + name))
        Grid->DoKey(kjqt::gkDelete);
    Grid->update();
    FocusKey();
}

void TkundeForm::GendanKunde() {
    Grid->DoKey(kjqt::gkCancel);
    Grid->setFocus();
}

void TkundeForm::CtrlDelete() {
    SletKunde();
    Grid->DoKey(kjqt::gkCancel);
}

void ShowKundeForm(int32_t recNo, const std::string& key) {
    TzDs::TTzDbf& t = KJData()->KundeDbf;
    RunRegister<TkundeForm>(g_form, t, recNo, [&](TkundeForm& form) {
        StartWithKey(t, "mak_id", key);
        form.Run();
        Guarded([&] { t.Cancel(); });
    });
}

}  // namespace kj
