// The main window's controls, menus and tabs, the status panel, the keys handled before the
// controls and the field enter/exit dispatch.
#include "app/main_form.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/frame_interessent.h"
#include "app/kj_data.h"
#include "app/kj_menu.h"
#include "app/kj_register.h"
#include "app/kj_terminate.h"
#include "app/kj_text.h"
#include "app/main_entries.h"
#include "app/main_form_util.h"
#include "ui/application.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

struct MenuItemSpec {
    const char* name;     // object name, the key of MainEntries().MenuCommands
    const char* caption;  // empty: separator
};

struct MenuSpec {
    const char* caption;
    std::vector<MenuItemSpec> items;
};

const std::vector<MenuSpec>& MenuSpecs() {
    static const std::vector<MenuSpec> specs = {
        {" &Register ",
         {{"MenuMedarbejdere", "&Medarbejdere"},
          {"MenuVaregrupper", "Varegrupper"},
          {"MenuVarer", "&Varer (Tid, Materialer && Udlæg)"},
          {"MenuHaendelser", "&Hændelser (Standard)"},
          {"MenuKunder", "&Kunder / Modtagere / Afsendere"},
          {"MenuPostnr", "&Postnr. - bynavne"},
          {"MenuStdHandSager", "Standard hændelser for Sager "},
          {"", ""},
          {"MenuAfslut", "&Afslut"}}},
        {" &Posteringer ", {{"MenuTimeseddel", "&Timeseddel (Bruger)"}}},
        {" &Udskrifter ",
         {{"MenuIgangvaerende", "Igangværende sager"},
          {"MenuUdestaaende", "Udestående på sager"},
          {"MenuFakturaKopi", "Faktura kopi"},
          {"MenuOverfoer", "Overfør fakturerede posteringer"}}},
        {" &Lister ",
         {{"MenuListePoster", "Liste over posteringer (medarbejder)"},
          {"MenuListeBrugere", "Liste over medarbejdere"},
          {"MenuListeVarer", "Liste over varer"},
          {"MenuListeKunder", "Liste over kunder"},
          {"MenuListePostnr", "Liste over postnr. / bynavne"}}},
        {" &Funktion ",
         {{"MenuGenskabIndeks", "&Genskab indeks"},
          {"MenuFjernSlettede", "&Fjern slettede poster"},
          {"MenuAabenIgen", "Åben sagen igen"},
          {"MenuArkiver", " Arkiver afsluttede sager "},
          {"MenuGendanArkiv", " Gendan en arkiveret sag "}}},
        {" Flag ", {{"MenuVisTotal", " Vis total for posteringer "}}},
        {" &Hjælp ", {{"MenuSidenSidst", "&Siden sidst"}}},
    };
    return specs;
}

constexpr const char* kHelp =
    "Hjælp til sagsvinduet\n\n"
    "Flyt mellem felterne med <Tab> (og <Shift+Tab> tilbage) eller <Enter>. <Enter> i feltet "
    "\"Afsluttet\" gemmer sagen.\n\n"
    "<PgDn> og <PgUp> skifter til næste og forrige sag; med <Ctrl> holdt nede til sidste og "
    "første sag. Står markøren i feltet \"Sagsnr.\", og er der skrevet et andet nummer, går "
    "<PgDn> til den nærmeste sag fra det nummer.\n\n"
    "Knappen \"Skift\" skifter mellem at bladre i de relaterede registre (medarbejdere og "
    "kunder) og i sagerne, når der trykkes <PgDn> og <PgUp> i felterne \"Ansvarlig\" og "
    "\"Kunde\"; den styrer samtidig sorteringen af oversigten over sager.\n\n"
    "I hændelser og posteringer vælges værdier fra lister eller med knappen i cellen. Et klik "
    "på en kolonnetitel beder om et ord, og kun rækker, hvor ordet indgår, vises.\n\n"
    "Gem (F2) gemmer sagen, Gendan (Ctrl-Tilbage) henter de oprindelige data, Slet (Ctrl-Del) "
    "sletter sagen med dens hændelser og posteringer, og Ny sag (Ctrl-Ins) opretter en ny "
    "sag. Søg (F3) søger et ord i alle sagens felter.\n\n"
    "Oprettelses- og ændringsdato samt initialer sættes fra PC'ens ur og brugerens "
    "initialer og kan ikke ændres.";

}  // namespace

// ---- TStatusPanel --------------------------------------------------------------------------

TStatusPanel::TStatusPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("KJStatus"));
}

void TStatusPanel::SetText(const QString& text) {
    text_ = text;
    update();
}

QSize TStatusPanel::sizeHint() const {
    return {200, fontMetrics().height() + 4};
}

void TStatusPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawText(rect().adjusted(1, 1, 0, 0), Qt::AlignLeft | Qt::AlignTop, text_);
}

// ---- Building ------------------------------------------------------------------------------

TKJSagerForm::TKJSagerForm(TKJData& data, QWidget* parent) : QMainWindow(parent), data_(data) {
    setObjectName(QStringLiteral("KJSagerForm"));
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    auto* header = new QWidget(central);
    BuildHeader(header);
    column->addWidget(header);
    auto* buttons = new QWidget(central);
    BuildButtons(buttons);
    column->addWidget(buttons);
    PageSager = new QTabWidget(central);
    PageSager->setObjectName(QStringLiteral("PageSager"));
    column->addWidget(PageSager, 1);
    setCentralWidget(central);
    BuildTabs();
    BuildMenus();
    KJStatus = new TStatusPanel(this);
    statusBar()->addWidget(KJStatus, 1);
    qApp->installEventFilter(this);
    focusLinks_.push_back(connect(qApp, &QApplication::focusChanged, this,
                                  [this](QWidget*, QWidget* now) { OnFocusChanged(now); }));
}

TKJSagerForm::~TKJSagerForm() {
    KeepRunningOnEngineErrors(false);
    for (const QMetaObject::Connection& link : focusLinks_) disconnect(link);
    qApp->removeEventFilter(this);
    MainMenu().SuspendData = nullptr;
    MainMenu().ResumeData = nullptr;
    if (resumed_) GiveHandlersBack();
    if (auto* src = data_.DataSource("SagsData")) src->OnStateChange = savedStateChange_;
}

void TKJSagerForm::BuildHeader(QWidget* host) {
    auto* g = new QGridLayout(host);
    Db::TDataSource* sags = data_.DataSource("SagsData");
    auto bind = [&](auto* c, const char* name, const char* field, Db::TDataSource* src) {
        c->setObjectName(QString::fromLatin1(name));
        c->SetDataSource(src);
        c->SetDataField(field);
        return c;
    };
    auto label = [&](const char* text, QWidget* buddy, int row, int col) {
        auto* l = new QLabel(Q(text), host);
        l->setBuddy(buddy);
        g->addWidget(l, row, col);
    };
    edtSagsNr = bind(new kjqt::TDBComboBox(host), "edtSagsNr", "SAGS_NR", sags);
    edtType = bind(new kjqt::TDBComboBox(host), "edtType", "SAG_TYPE", sags);
    edtTypeGem = bind(new kjqt::TDBEdit(host), "edtTypeGem", "SAG_TYPE", sags);
    edtAnsvar = bind(new kjqt::TDBComboBox(host), "edtAnsvar", "SAG_ANSVAR", sags);
    // The two name labels show the name of the case's own code, as LookUpName found it: no
    // data link, so a window or a calculated field moving the register cursors leaves them.
    auto nameLabel = [&](const char* name) {
        auto* t = new kjqt::TDBText(host);
        t->setObjectName(QString::fromLatin1(name));
        return t;
    };
    edtAnsvarTekst = nameLabel("edtAnsvarTekst");
    edtBeskriv = bind(new kjqt::TDBMemo(host), "edtBeskriv", "SAGS_BEM", sags);
    edtMatnr = bind(new kjqt::TDBEdit(host), "edtMatnr", "SAG_MATNR", sags);
    edtSagDisk = bind(new kjqt::TDBEdit(host), "edtSagDisk", "SAG_DISK", sags);
    edtKunde = bind(new kjqt::TDBComboBox(host), "edtKunde", "SAG_KUNDE", sags);
    edtKundeTekst = nameLabel("edtKundeTekst");
    edtAfslut = bind(new kjqt::TDBEdit(host), "edtAfslut", "SAG_AFSLUT", sags);
    edtOpret = bind(new kjqt::TDBEdit(host), "edtOpret", "SAG_OPRET", sags);
    edtAjour = bind(new kjqt::TDBEdit(host), "edtAjour", "SAG_AJOUR", sags);
    edtAjourIni = bind(new kjqt::TDBEdit(host), "edtAjourIni", "SAG_INI", sags);
    for (kjqt::TDBEdit* e : {edtOpret, edtAjour, edtAjourIni}) {
        e->setReadOnly(true);
        e->setFocusPolicy(Qt::NoFocus);
    }
    edtBeskriv->setTabChangesFocus(true);
    edtBeskriv->setMaximumHeight(60);
    edtTypeGem->setVisible(false);  // beneath the case type, last in the tab order
    label("&Sagsnr. (journalnr.)", edtSagsNr, 0, 0);
    g->addWidget(edtSagsNr, 0, 1);
    label("Sagstype", edtType, 0, 2);
    g->addWidget(edtType, 0, 3);
    g->addWidget(edtTypeGem, 0, 3);
    label("&Ansvarlig", edtAnsvar, 1, 0);
    g->addWidget(edtAnsvar, 1, 1);
    g->addWidget(edtAnsvarTekst, 1, 2, 1, 2);
    label(" Beskrivelse ", edtBeskriv, 2, 0);
    g->addWidget(edtBeskriv, 2, 1, 1, 3);
    label("Matrikelnr.", edtMatnr, 3, 0);
    g->addWidget(edtMatnr, 3, 1);
    label("Sags&område", edtSagDisk, 3, 2);
    g->addWidget(edtSagDisk, 3, 3);
    label("&Kunde", edtKunde, 4, 0);
    g->addWidget(edtKunde, 4, 1);
    g->addWidget(edtKundeTekst, 4, 2, 1, 2);
    label("A&fsluttet", edtAfslut, 5, 0);
    g->addWidget(edtAfslut, 5, 1);
    label("Oprettet", edtOpret, 0, 4);
    g->addWidget(edtOpret, 0, 5);
    label("Ajourført", edtAjour, 1, 4);
    g->addWidget(edtAjour, 1, 5);
    label("Ajour. af", edtAjourIni, 2, 4);
    g->addWidget(edtAjourIni, 2, 5);
    g->setColumnStretch(3, 1);
    QWidget* order[] = {edtSagsNr, edtType,    edtAnsvar, edtBeskriv,
                        edtMatnr,  edtSagDisk, edtKunde,  edtAfslut};
    for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
    edtSagsNr->OnDropDown = [this](kjqt::TDBComboBox&) { Guarded([this] { SagsNrDropDown(); }); };
    edtAnsvar->OnDropDown = [this](kjqt::TDBComboBox&) {
        Guarded([this] { RegisterDropDown(false); });
    };
    edtKunde->OnDropDown = [this](kjqt::TDBComboBox&) {
        Guarded([this] { RegisterDropDown(true); });
    };
    edtType->OnDropDown = [this](kjqt::TDBComboBox& c) {
        Guarded([this, &c] {
            c.clear();
            for (const std::string& line : ReadListFile(data_.StdSagsTypeFileName()))
                c.addItem(kjqt::FromAnsi(line));
        });
    };
    connect(edtSagsNr, &QComboBox::activated, this,
            [this] { Guarded([this] { SagsNrChosen(); }); });
}

void TKJSagerForm::BuildButtons(QWidget* host) {
    auto* row = new QHBoxLayout(host);
    auto button = [&](const char* name, const char* caption, const char* hint) {
        auto* b = new QPushButton(Q(caption), host);
        b->setObjectName(QString::fromLatin1(name));
        if (hint) b->setStatusTip(Q(hint));
        row->addWidget(b);
        return b;
    };
    BtnGem = button("BtnGem", " Gem sag (F2) ", "Gemmer den oprettede eller redigerede sag");
    BtnGendan = button("BtnGendan", " Gendan (Ctrl-Tilbage) ",
                       "Gendanner de oprindelige data, hvis noget er ændret i forhold til data på "
                       "disken. En fortryd knap");
    BtnSlet = button("BtnSlet", " Slet sag (Ctrl-Del) ",
                     "Sletter den aktuelle sag, samt data i de relaterede registre for "
                     "posteringer og hændelser for sagen");
    BtnNySag = button("BtnNySag", " Ny sag (Ctrl-Ins) ",
                      "Opretter en ny sag, en sag kan også oprettes, ved at indtaste et sagsnr. "
                      "der ikke findes");
    BtnSearch = button("BtnSearch", " Søg (F3) ", nullptr);
    row->addStretch(1);
    SkiftMode = new QToolButton(host);
    SkiftMode->setObjectName(QStringLiteral("SkiftMode"));
    SkiftMode->setText(Q("Skift normal"));
    SkiftMode->setCheckable(true);
    SkiftMode->setAutoRaise(true);
    SkiftMode->setStatusTip(
        Q("Skifter mellem søgning i de relaterede registre (medarbejder og Kunder) og i sager, "
          "ved tryk på <PgDn> og <PgUp>, styrer samtidig sortering af oversigten over sager"));
    row->addWidget(SkiftMode);
    BtnFirst =
        button("BtnFirst", "", "Skifter til den første sag i den aktuelle sortering af sager");
    btnPrior = button("btnPrior", "", "Skifter til forrige sag i den aktuelle sortering af sager");
    btnNext = button("btnNext", "", "Skifter til den næste sag i den aktuelle sortering af sager");
    btnLast =
        button("btnLast", "", "Skifter til den sidste sag i den aktuelle sortering af sager.");
    auto click = [this](QPushButton* b, void (TKJSagerForm::*m)()) {
        connect(b, &QPushButton::clicked, this,
                [this, m] { Guarded([this, m] { (this->*m)(); }); });
    };
    click(BtnGem, &TKJSagerForm::BtnGemClick);
    click(BtnGendan, &TKJSagerForm::BtnGendanClick);
    click(BtnSlet, &TKJSagerForm::BtnSletClick);
    click(BtnNySag, &TKJSagerForm::BtnNySagClick);
    click(BtnSearch, &TKJSagerForm::BtnSearchClick);
    for (QPushButton* b : {BtnFirst, btnPrior, btnNext, btnLast}) {
        // A click leaves the focus where it is: the press taking it from a grid would post
        // the grid's row, and that row's question would swallow the click. The move settles
        // the row itself.
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QPushButton::clicked, this, [this, b] { Guarded([this, b] { NavClick(b); }); });
    }
    connect(SkiftMode, &QToolButton::clicked, this, [this] { SkiftModeClick(); });
    SetNavCaptions(false);
}

QAction* TKJSagerForm::AddMenuItem(QMenu* menu, const char* name, const char* caption) {
    QAction* a = menu->addAction(Q(caption));
    a->setObjectName(QString::fromLatin1(name));
    const std::string key = name;
    connect(a, &QAction::triggered, this,
            [this, key] { Guarded([this, key] { RunMenuCommand(key); }); });
    return a;
}

void TKJSagerForm::BuildMenus() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("KJMainMenu"));
    for (const MenuSpec& m : MenuSpecs()) {
        QMenu* menu = bar->addMenu(Q(m.caption));
        for (const MenuItemSpec& item : m.items) {
            if (!*item.name)
                menu->addSeparator();
            else
                AddMenuItem(menu, item.name, item.caption);
        }
    }
    MenuAfslut = bar->findChild<QAction*>(QStringLiteral("MenuAfslut"));
    MenuAfslut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    MenuVisTotal = bar->findChild<QAction*>(QStringLiteral("MenuVisTotal"));
    MenuVisTotal->setCheckable(true);
    MenuVisTotal->setChecked(true);
    MenuAabenIgen = bar->findChild<QAction*>(QStringLiteral("MenuAabenIgen"));
}

void TKJSagerForm::BuildTabs() {
    auto page = [&](const char* caption, const char* hint) {
        auto* w = new QWidget(PageSager);
        w->setStatusTip(hint ? Q(hint) : QString());
        PageSager->addTab(w, Q(caption));
        auto* l = new QVBoxLayout(w);
        l->setContentsMargins(2, 2, 2, 2);
        return l;
    };
    auto grid = [&](QVBoxLayout* l, const char* name, const char* source) {
        auto* g = new kjqt::TDBGrid(l->parentWidget());
        g->setObjectName(QString::fromLatin1(name));
        g->SetDataSource(data_.DataSource(source));
        l->addWidget(g, 1);
        return g;
    };
    auto overview = [&](kjqt::TDBGrid* g, const std::vector<kjqt::TColumn>& cols) {
        g->SetColumns(cols);
        g->SetReadOnly(true);
        g->RowSelect = true;
        g->setSelectionBehavior(QAbstractItemView::SelectRows);
    };
    auto wide = [](const char* f, int w) {
        kjqt::TColumn c(f);
        c.Width = w;
        return c;
    };
    QVBoxLayout* events = page("Hændelser",
                               "Viser en oversigt over de hændelser, der er registreret på sagen, "
                               "vælg en hændelse ved at trykke på indikatoren yderst til venstre "
                               "ud for hændelsen, du vil så få mulighed for at redigere hændelsen");
    QVBoxLayout* postings = page("Posteringer",
                                 "Viser en oversigt over de posteringer der er registreret på "
                                 "sagen. Vælg en postering ved at trykke på indikatoren yderst til "
                                 "venstre ud for posteringen, du vil så få mulighed for at "
                                 "redigere posteringen");
    BuildRowTabs(events, postings);
    QVBoxLayout* il = page("Interessenter", nullptr);
    frameInteressent = new TframeInteressent(data_, il->parentWidget());
    il->addWidget(frameInteressent, 1);
    QVBoxLayout* bl = page("Medarbejder oversigt",
                           "Viser en oversigt over de i Morvane Vaktor registrerede medarbejdere. "
                           "Vælg en ved at trykke yderst til venstre på indikatoren, for den "
                           "bruger du ønsker");
    brugerGrid = grid(bl, "brugerGrid", "BrugerData");
    overview(brugerGrid, {"INI", wide("BrugerNavn", 300), "INI_EMAIL", "INI_TLF", "INI_FAX",
                          "INI_OPRET", "INI_AJOUR", "INI_INI"});
    btnRetBruger = new QPushButton(Q(" Ret medarbejder "), bl->parentWidget());
    bl->addWidget(btnRetBruger, 0, Qt::AlignLeft);
    QVBoxLayout* kl = page("Kunde oversigt",
                           "Viser en oversigt over de kunder, der er registreret i Morvane Vaktor. "
                           "Vælg en kunde ved at trykke på indikatoren yderst til venstre ud for "
                           "kunden");
    kundeGrid = grid(kl, "kundeGrid", "KundeData");
    overview(kundeGrid, {"MAK_ID", wide("KundeNavn", 300), "MAK_EMAIL", "MAK_TLF", "MAK_FAX",
                         "MAK_ATT", "MAK_OPRET", "MAK_AJOUR", "MAK_INI"});
    btnRetKunde = new QPushButton(Q(" Ret kunde "), kl->parentWidget());
    kl->addWidget(btnRetKunde, 0, Qt::AlignLeft);
    SagsGrid = grid(page("Sags oversigt",
                         "Viser en oversigt over de sager der er registreret i Morvane Vaktor. "
                         "Vælg en sag ved at trykke på indikatoren yderst til venstre ud for "
                         "sagen"),
                    "SagsGrid", "SagsBufData");
    overview(SagsGrid, {"SAG_AFSLUT", "SAGS_NR", wide("SAGS_BEM", 300), "SAG_KUNDE", "SAG_ANSVAR",
                        wide("SAG_MATNR", 200), "SAG_OPRET", "SAG_AJOUR", "SAG_INI"});
    BuildHelpText();
    WireGrids();
    connect(PageSager, &QTabWidget::currentChanged, this,
            [this](int index) { Guarded([this, index] { TabChanged(index); }); });
}

void TKJSagerForm::BuildHelpText() {
    auto* w = new QWidget(PageSager);
    auto* l = new QVBoxLayout(w);
    HelpText = new QPlainTextEdit(w);
    HelpText->setReadOnly(true);
    HelpText->setPlainText(Q(kHelp));
    l->addWidget(HelpText);
    PageSager->addTab(w, Q(" Hjælp "));
}

// A click or key on the tab bar, or a key the tab widget itself takes (Ctrl+Tab, Ctrl+PgUp
// and Ctrl+PgDn that a widget of a tab page left), that would show another tab passes the
// gate first, while the focus is still in the grid being typed in: refused, the event is
// swallowed and the tab, the row and its open cell stay.
bool TKJSagerForm::TabBarRefused(QEvent* event) {
    QTabBar* bar = PageSager->tabBar();
    bool changes = false;
    if (event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int target = bar->tabAt(mouse->position().toPoint());
        changes = mouse->button() == Qt::LeftButton && target >= 0 && target != bar->currentIndex();
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        changes = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up ||
                  key == Qt::Key_Down || key == Qt::Key_Home || key == Qt::Key_End;
    } else {
        changes = event->type() == QEvent::Wheel;
    }
    if (!changes) return false;
    bool may = false;
    Guarded([this, &may] { may = MayLeave(Header::Keep); });
    return !may;
}

bool TKJSagerForm::TabWidgetKeyRefused(QEvent* event) {
    if (event->type() != QEvent::KeyPress || PageSager->count() < 2) return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    if (!(key->modifiers() & Qt::ControlModifier)) return false;
    const int k = key->key();
    if (k != Qt::Key_Tab && k != Qt::Key_Backtab && k != Qt::Key_PageUp && k != Qt::Key_PageDown)
        return false;
    bool may = false;
    Guarded([this, &may] { may = MayLeave(Header::Keep); });
    return !may;
}

// A tab shown by other means than the tab bar (a program's own change) passes the gate
// here; refused, the tab shown before comes back.
void TKJSagerForm::TabChanged(int index) {
    if (index == shownTab_) return;
    if (!MayLeave(Header::Keep)) {
        QSignalBlocker block(PageSager);
        PageSager->setCurrentIndex(shownTab_);
        return;
    }
    shownTab_ = index;
    RefreshViews();
}

// ---- Status panel and hints ----------------------------------------------------------------

void TKJSagerForm::SetStatus(const std::string& ansi) {
    statusText_ = ansi;
    KJStatus->SetText(kjqt::FromAnsi(ansi));
}

const std::string& TKJSagerForm::StatusText() const {
    return statusText_;
}

void TKJSagerForm::ShowHint(const QString& hint) {
    if (!active_ || hint.isEmpty()) return;
    SetStatus(kjqt::ToAnsi(hint));
}

// ---- Focus: the enter and exit handlers of the header fields -------------------------------

QWidget* TKJSagerForm::HeaderControlOf(QWidget* w) const {
    const QWidget* fields[] = {edtSagsNr, edtType,    edtAnsvar, edtKunde,
                               edtAfslut, edtBeskriv, edtMatnr,  edtSagDisk};
    for (QWidget* p = w; p; p = p->parentWidget())
        for (const QWidget* f : fields)
            if (p == f) return p;
    return w;
}

void TKJSagerForm::OnFocusChanged(QWidget* now) {
    // Only moves between this window's own controls count (invariant 2).
    if (!now || now->window() != this) return;
    QWidget* control = HeaderControlOf(now);
    if (control == lastFocus_) return;
    QPointer<QWidget> previous = lastFocus_;
    lastFocus_ = control;
    if (inExit_) {  // a handler moved the focus: the new field is entered, nothing left
        Guarded([this, control] { FieldEnter(control); });
        return;
    }
    if (previous) {
        inExit_ = true;
        Guarded([this, &previous] { FieldExit(previous); });
        inExit_ = false;
    }
    if (lastFocus_ == control) Guarded([this, control] { FieldEnter(control); });
}

void TKJSagerForm::FieldEnter(QWidget* c) {
    if (!data_.SagsDbf.Active()) return;
    if (c == edtSagsNr) {
        CurrentSagsNr = TzUpper(data_.SagsDbf.FieldByName("SAGS_NR").AsString());
        EnterSkiftField("SAGSNR");
    } else if (c == edtAnsvar) {
        SavedAnsvar = data_.SagsDbf.FieldByName("SAG_ANSVAR").AsString();
        if (data_.SkiftISager == 1)
            EnterSkiftField("SAGSANS");
        else if (TrimRight(data_.BrugerDbf.CurrentTag()) != "BRUGER")
            data_.BrugerDbf.SetOrderToTag("BRUGER");
    } else if (c == edtKunde) {
        SavedKunde = data_.SagsDbf.FieldByName("SAG_KUNDE").AsString();
        if (data_.SkiftISager == 1)
            EnterSkiftField("SAGSKUND");
        else
            data_.KundeDbf.SetOrderToTag("KUNDE");
    } else if (c == edtType) {
        SavedType = kjqt::ToAnsi(edtType->currentText());
    }
}

void TKJSagerForm::FieldExit(QWidget* c) {
    if (!data_.SagsDbf.Active()) return;
    if (c == edtSagsNr)
        SagsNrExit();
    else if (c == edtAnsvar)
        RegisterExit(false);
    else if (c == edtKunde)
        RegisterExit(true);
    else if (c == edtType)
        TypeExit();
}

// ---- Keys ----------------------------------------------------------------------------------

bool TKJSagerForm::eventFilter(QObject* watched, QEvent* event) {
    // The window filters the application's events, the tab bar's among them.
    if (watched == PageSager->tabBar() && TabBarRefused(event)) return true;
    if (watched == PageSager && TabWidgetKeyRefused(event)) return true;
    if (event->type() == QEvent::StatusTip && watched == this) {
        ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return false;
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w || w->window() != this || w != QApplication::focusWidget()) return false;
    auto& key = *static_cast<QKeyEvent*>(event);
    if (event->type() == QEvent::ShortcutOverride) {
        // Ctrl+X is the window's Afslut, never a text field's or a cell editor's cut: the
        // editor may not claim it, so the menu's shortcut gets it.
        if (RegisterKeyOf(key) != RegKey::Close) return false;
        key.ignore();
        return true;
    }
    bool consumed = false;
    Guarded([&] { consumed = EditorKey(w, key) || HandleKey(watched, key); });
    return consumed;
}

bool TKJSagerForm::UpperCaseKey(QObject* target, QKeyEvent& key) {
    const QString text = key.text();
    const QString upper = text.toUpper();
    if (text.isEmpty() || upper == text || upper.size() != text.size()) return false;
    QWidget* c = HeaderControlOf(qobject_cast<QWidget*>(target));
    if (c != edtSagsNr && c != edtAnsvar && c != edtKunde) return false;
    QKeyEvent up(QEvent::KeyPress, key.key(), key.modifiers(), upper, key.isAutoRepeat(),
                 ushort(key.count()));
    QCoreApplication::sendEvent(target, &up);
    return true;
}

bool TKJSagerForm::HandleKey(QObject* target, QKeyEvent& key) {
    auto* focused = qobject_cast<QWidget*>(target);
    for (QWidget* p = focused; p; p = p->parentWidget())
        if (dynamic_cast<kjqt::TDBGrid*>(p)) return false;  // the grids keep their keys
    const Qt::KeyboardModifiers mods = key.modifiers() & ~Qt::KeypadModifier;
    const bool ctrlOnly = mods == Qt::ControlModifier;
    QWidget* control = HeaderControlOf(focused);
    switch (key.key()) {
        case Qt::Key_F2:
            if (mods != Qt::NoModifier) return false;
            if (!TakeFieldData(focused)) return true;  // the box said why; the focus stays
            edtType->setFocus(Qt::TabFocusReason);
            edtSagsNr->setFocus(Qt::TabFocusReason);
            BtnGem->click();
            edtSagsNr->setFocus(Qt::OtherFocusReason);
            return true;
        case Qt::Key_F3:
            if (mods != Qt::NoModifier) return false;
            if (!MayLeave(Header::Ask)) return true;  // refused: no search
            BtnSearch->click();
            edtSagsNr->setFocus(Qt::OtherFocusReason);
            return true;
        case Qt::Key_Backspace:
        case Qt::Key_Delete:
            if (!ctrlOnly) break;
            (key.key() == Qt::Key_Backspace ? BtnGendan : BtnSlet)->click();
            edtSagsNr->setFocus(Qt::OtherFocusReason);
            return true;
        case Qt::Key_Insert:
            if (!ctrlOnly) break;
            if (!MayLeave(Header::Ask)) return true;  // refused: no new case
            BtnNySag->click();
            edtType->setFocus(Qt::TabFocusReason);
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (ctrlOnly || edtSagsNr->view()->isVisible()) break;
            EnterKey(control);
            return true;
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            if (control == edtSagsNr && !edtSagsNr->view()->isVisible()) {
                SagsNrPage(key);
                return true;
            }
            if (control == edtAnsvar || control == edtKunde) {
                RegisterPage(key, control == edtKunde);
                return true;
            }
            break;
        default:
            break;
    }
    return UpperCaseKey(target, key);
}

bool TKJSagerForm::TakeFieldData(QWidget* focused) {
    TzDs::TTzDbf& s = data_.SagsDbf;
    if (!s.Active() || !Editing(s)) return true;
    if (Guarded([&s] { s.UpdateRecord(); })) return true;
    if (focused) focused->setFocus(Qt::OtherFocusReason);
    return false;
}

void TKJSagerForm::EnterKey(QWidget* control) {
    if (control == edtAfslut) {
        edtSagsNr->setFocus(Qt::TabFocusReason);
        BtnGem->click();
    } else {
        focusNextChild();
    }
}

// ---- Window events -------------------------------------------------------------------------

void TKJSagerForm::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (isActiveWindow()) {
        Guarded([this] { FormActivate(); });
        return;
    }
    // Another window of this program took over (not a box or a modal window it opened, not
    // a popup list): the form is deactivated. Turning to another program leaves the form
    // and its pending edit as they are.
    QWidget* now = QApplication::activeWindow();
    if (now && now != this && !QApplication::activeModalWidget() &&
        !QApplication::activePopupWidget())
        Guarded([this] { FormDeactivate(); });
    else if (!now)
        active_ = false;
}

void TKJSagerForm::closeEvent(QCloseEvent* event) {
    bool close = true;
    Guarded([this, &close] { close = FormCloseQuery(); });
    if (!close) return event->ignore();  // the typed values stay, with the user's answer
    QMainWindow::closeEvent(event);
}

}  // namespace kj
