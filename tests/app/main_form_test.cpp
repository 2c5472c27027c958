// The main window over a real data folder made by the program's first start, driven
// through its keys, buttons and fields, with every question answered by the scripted
// responder: creating, saving, undoing and deleting cases, typing a case number, moving in
// each order, the search word, closed cases and reopening, case types adding their standard
// events, creating a missing employee or customer from the header, suspend/resume around a
// modal window, and the close query.
#include "app/main_form.h"

#include <QAbstractItemView>
#include <QMenuBar>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include "app/bruger_form.h"
#include "app/kj_menu.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app_fixture.h"
#include "data/db_format.h"
#include "main_form_fixture.h"
#include "register_fixture.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"

using namespace kjapptest;
using kj::Ansi;
using kjqt::mb::kIdNo;
using kjqt::mb::kIdYes;

class MainFormTest : public QObject {
    Q_OBJECT

    kjqt::ScriptedResponder responder_;
    std::unique_ptr<StartFolder> sf_;
    std::unique_ptr<kj::TKJData> data_;
    std::unique_ptr<kj::TKJSagerForm> form_;

    void Start() {
        data_ = NewDataModule();
        QVERIFY(OpenMainForm(form_, *data_, *sf_, responder_, FormUp::MainActive));
    }

    // Keys go where a user's keys go: to the focused control.
    static QWidget* Focused() { return QApplication::focusWidget(); }
    static void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(Focused(), Qt::Key(key), mods);
    }
    static void Type(QWidget* w, const QString& text) {
        w->setFocus();
        if (auto* c = qobject_cast<QComboBox*>(w)) c->lineEdit()->selectAll();
        if (auto* e = qobject_cast<QLineEdit*>(w)) e->selectAll();
        QTest::keyClicks(Focused(), text);
    }

    void AddCase(const char* nr, const char* bem, const char* kunde = "", const char* ansvar = "") {
        TzDs::TTzDbf& s = data_->SagsDbf;
        s.Append();
        s.FieldByName("sags_nr").SetAsString(nr);
        s.FieldByName("sags_bem").SetAsString(bem);
        s.FieldByName("sag_kunde").SetAsString(kunde);
        s.FieldByName("sag_ansvar").SetAsString(ansvar);
        s.Post();
    }
    // A case closed yesterday.
    void AddClosedCase(const char* nr, const char* bem) {
        AddCase(nr, bem);
        TzDs::TTzDbf& s = data_->SagsDbf;
        s.Edit();
        s.FieldByName("sag_afslut").SetAsDateTime(Db::Today() - 1);
        s.Post();
    }
    void AddEvent(const char* sag, const char* bem) {
        TzDs::TTzDbf& t = data_->StatusDbf;
        t.Append();
        t.FieldByName("stat_sag").SetAsString(sag);
        t.FieldByName("stat_bem").SetAsString(bem);
        t.Post();
    }
    void AddPosting(const char* sag, const char* tmu) {
        TzDs::TTzDbf& t = data_->PostDbf;
        t.Append();
        t.FieldByName("post_sag").SetAsString(sag);
        t.FieldByName("post_tmu").SetAsString(tmu);
        t.Post();
    }
    std::string Nr() { return Trim(data_->SagsDbf.FieldByName("sags_nr").AsString()); }
    // The live rows of a table whose field equals value (a cursor of its own on the file).
    int Rows(const char* file, const char* field, const std::string& value) {
        TzDs::TTzDbf& t = data_->TzDbf1;
        t.HideDeletedRecs = true;
        t.SetDbfFileName(sf_->data + file);
        t.Open();
        int n = 0;
        for (t.First(); !t.Eof(); t.Next())
            if (Trim(t.FieldByName(field).AsString()) == value) ++n;
        t.Close();
        return n;
    }
    void Goto(const char* nr) {
        QVERIFY(data_->SagsDbf.SetOrderToTag("SAGSNR"));
        QVERIFY(data_->SagsDbf.FindExact(TzUtils::PadRight(nr, 10)));
        form_->RefreshViews();
        form_->CurrentSagsNr = nr;
    }

  private slots:
    void initTestCase() { AnswerAllBy(responder_); }
    void init() {
        sf_ = FreshStartFolder(responder_, Ansi("Landinspektørerne"), "Vej 1");
        AnswerFirstStart(*sf_, responder_);
        Start();
    }
    void cleanup() { CloseMainForm(form_, data_, sf_); }

    void startUpCaptionsMenusAndTabs() {
        QCOMPARE(form_->windowTitle(), U(" Morvane Vaktor > Landinspektørerne 2006.06.01 "));
        QCOMPARE(form_->KJStatus->Text(), U("Dataområde ") + QString::fromStdString(sf_->data));
        QCOMPARE(form_->BtnFirst->text(), U(" Første (Ctrl-PgUp) "));
        QCOMPARE(form_->btnNext->text(), U(" Næste (PgDn) "));
        QVERIFY(!form_->BtnGem->isEnabled());
        QVERIFY(!form_->BtnGendan->isEnabled());
        QCOMPARE(form_->PageSager->count(), 7);
        QCOMPARE(form_->PageSager->tabText(0), U("Hændelser"));
        QCOMPARE(form_->PageSager->tabText(6), U(" Hjælp "));
        QStringList menus;
        for (QAction* a : form_->menuBar()->actions()) menus << a->text();
        QCOMPARE(menus,
                 QStringList({U(" &Register "), U(" &Posteringer "), U(" &Udskrifter "),
                              U(" &Lister "), U(" &Funktion "), U(" Flag "), U(" &Hjælp ")}));
        QCOMPARE(form_->MenuAfslut->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
        QVERIFY(form_->MenuVisTotal->isChecked());
        QVERIFY(form_->Resumed());
        // A window later issues bring: present, and quiet.
        form_->menuBar()->findChild<QAction*>("MenuTimeseddel")->trigger();
        QCOMPARE(responder_.Texts(), QStringList());
        QVERIFY(form_->Resumed());
        // The window's look, kept beside the test's folder.
        const QImage shot = form_->grab().toImage();
        QVERIFY(!shot.isNull());
        QVERIFY(shot.save(QDir::temp().filePath("kjsager_main_window.png")));
    }

    void newSaveUndoAndDuplicate() {
        responder_.AnswerText("s-7");
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(responder_.Texts(), QStringList({U("Indtast sagsnr.")}));
        QCOMPARE(Nr(), std::string("S-7"));
        QCOMPARE(Trim(data_->SagsDbf.FieldByName("sag_ini").AsString()), std::string("AB"));
        QCOMPARE(data_->SagsDbf.FieldByName("sag_opret").AsDateTime(), Db::Today());
        QCOMPARE(Focused(), static_cast<QWidget*>(form_->edtType));
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "S-7"), 1);
        // The same number again, typed in lower case, in another order: refused.
        QVERIFY(data_->SagsDbf.SetOrderToTag("SAGSKUND"));
        responder_.Clear();
        responder_.AnswerText("s-7");
        Key(Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Indtast sagsnr."), U("Sagen s-7findes allerede !!!")}));
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "S-7"), 1);
        // Typing starts an edit: Gem and Gendan light up; Ctrl+Backspace takes it back.
        Type(form_->edtMatnr, "12a");
        QVERIFY(form_->BtnGem->isEnabled());
        Key(Qt::Key_Backspace, Qt::ControlModifier);
        QCOMPARE(data_->SagsDbf.State(), Db::dsBrowse);
        QCOMPARE(form_->edtMatnr->text(), QString());
        QVERIFY(!form_->BtnGem->isEnabled());
        // F2 saves what is still in the field.
        Type(form_->edtMatnr, "12a");
        Key(Qt::Key_F2);
        QCOMPARE(data_->SagsDbf.State(), Db::dsBrowse);
        QCOMPARE(Rows("Sager.dbf", "sag_matnr", "12a"), 1);
        QCOMPARE(Focused(), static_cast<QWidget*>(form_->edtSagsNr));
        // Enter in the closing-date field saves too; elsewhere it moves on.
        form_->edtMatnr->setFocus();
        Key(Qt::Key_Return);
        QCOMPARE(Focused(), static_cast<QWidget*>(form_->edtSagDisk));
    }

    // "Ny sag" with a number longer than the field says so and creates nothing.
    void newCaseWithAnOverLongNumberIsRefused() {
        responder_.AnswerText(QStringLiteral("ABCDEFGHIJKL"));
        form_->BtnNySag->click();
        QCOMPARE(responder_.Texts().value(1), U("Sagsnr. kan højst være på 10 tegn: ABCDEFGHIJKL"));
        QCOMPARE(data_->SagsDbf.RecCount(), 0);
    }

    void newCaseWithoutInitialsStops() {
        data_->AjourInitials.clear();
        LoginAnswerer login;  // Cancel
        responder_.AnswerText("x1");
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(
            responder_.Texts(),
            QStringList({U("Indtast sagsnr."), U("du har ikke rettighed til at lave ændringer")}));
        QCOMPARE(data_->SagsDbf.State(), Db::dsBrowse);
        QCOMPARE(data_->SagsDbf.RecCount(), 0);
    }

    void typedNumberIsUpperCasedLookedUpAndCreated() {
        AddCase("K1", "Skel");
        AddCase("K2", "Udstykning");
        Goto("K1");
        Type(form_->edtSagsNr, "ab1");
        QCOMPARE(form_->edtSagsNr->currentText(), U("AB1"));
        responder_.Answer(kIdYes);
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts(), QStringList({U("Ny sag :\r\nAB1 skal den oprettes ?")}));
        QCOMPARE(Nr(), std::string("AB1"));
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "AB1"), 1);
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "K1"), 1);  // the case left is unchanged
        // An existing number moves there; No to an unknown one goes back.
        responder_.Clear();
        Type(form_->edtSagsNr, "k2");
        Key(Qt::Key_Tab);
        QCOMPARE(Nr(), std::string("K2"));
        QCOMPARE(responder_.Texts(), QStringList());
        Key(Qt::Key_F2);  // the edit the look-up started is saved unchanged
        Type(form_->edtSagsNr, "zz");
        responder_.Answer(kIdNo);
        Key(Qt::Key_Tab);
        QCOMPARE(Nr(), std::string("K2"));
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "ZZ"), 0);
    }

    void deleteWithEventsAndPostings() {
        AddCase("D1", "Skel");
        AddCase("D2", "Anden");
        for (const char* e : {"e1", "e2", "e3"}) AddEvent("D1", e);
        AddEvent("D2", "bliver");
        AddPosting("D1", "T1");
        AddPosting("D1", "T2");
        AddPosting("D2", "T3");
        Goto("D1");
        responder_.Answer(kIdYes);
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Ønsker du at slette denne sag ?\r\nD1 Skel")}));
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "D1"), 0);
        QCOMPARE(Rows("Status.dbf", "stat_sag", "D1"), 0);
        QCOMPARE(Rows("Poster.dbf", "post_sag", "D1"), 0);
        QCOMPARE(Rows("Status.dbf", "stat_sag", "D2"), 1);
        QCOMPARE(Rows("Poster.dbf", "post_sag", "D2"), 1);
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "D2"), 1);
        // Marked, not removed: the files still hold all rows.
        QCOMPARE(data_->StatusDbf.RecCount(), 4);
        QCOMPARE(data_->PostDbf.RecCount(), 3);
        // No keeps the case.
        responder_.Clear();
        responder_.Answer(kIdNo);
        Key(Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "D2"), 1);
    }

    void navigationInEachOrder() {
        AddCase("3", "c", "K9", "AA");
        AddCase("1", "a", "K5", "CC");
        AddCase("2", "b", "K1", "BB");
        Goto("1");
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_PageDown);
        QCOMPARE(Nr(), std::string("2"));
        Key(Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Nr(), std::string("3"));
        Key(Qt::Key_PageUp);
        QCOMPARE(Nr(), std::string("2"));
        Key(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Nr(), std::string("1"));
        // A changed number goes to the nearest case at or after it, without a step.
        form_->edtSagsNr->lineEdit()->selectAll();
        QTest::keyClicks(Focused(), "25");
        Key(Qt::Key_PageDown);
        QCOMPARE(Nr(), std::string("3"));
        QCOMPARE(form_->CurrentSagsNr, std::string("3"));
        // Næste on the last case stays there and says so.
        form_->btnNext->click();
        QCOMPARE(Nr(), std::string("3"));
        QCOMPARE(form_->StatusText(), Ansi("Du er på sidste sag i indeks "));
        form_->BtnFirst->click();
        QCOMPARE(Nr(), std::string("1"));
        QCOMPARE(form_->StatusText(), Ansi("Du er på første sag i indeks "));
        // "Skift": the header fields choose the order; PgDn in the customer field steps cases.
        form_->SkiftMode->click();
        QCOMPARE(form_->SkiftMode->text(), U("Skift i sager"));
        QCOMPARE(data_->SkiftISager, uint8_t(1));
        form_->edtKunde->setFocus();
        QCOMPARE(Trim(data_->SagsDbf.CurrentTag()), std::string("SAGSKUND"));
        QCOMPARE(Trim(data_->SagsBufDbf.CurrentTag()), std::string("SAGSKUND"));
        Key(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Nr(), std::string("2"));  // K1
        Key(Qt::Key_PageDown);
        QCOMPARE(Nr(), std::string("1"));  // K5
        form_->edtAnsvar->setFocus();
        QCOMPARE(Trim(data_->SagsDbf.CurrentTag()), std::string("SAGSANS"));
        Key(Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Nr(), std::string("1"));  // CC
        form_->btnPrior->click();
        QCOMPARE(Nr(), std::string("2"));  // BB
        // Normal mode: PgDn in the customer field steps the customers into the field.
        form_->SkiftMode->click();
        QCOMPARE(form_->SkiftMode->text(), U("Skift normal"));
        for (const char* id : {"K1", "K5"}) {
            data_->KundeDbf.Append();
            data_->KundeDbf.FieldByName("mak_id").SetAsString(id);
            data_->KundeDbf.FieldByName("mak_fnavn").SetAsString(std::string("Navn ") + id);
            responder_.Answer(kIdYes);
            data_->KundeDbf.Post();
        }
        form_->edtKunde->setFocus();
        Key(Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(Trim(data_->SagsDbf.FieldByName("sag_kunde").AsString()), std::string("K1"));
        Key(Qt::Key_PageDown);
        QCOMPARE(Trim(data_->SagsDbf.FieldByName("sag_kunde").AsString()), std::string("K5"));
        QVERIFY(form_->edtKundeTekst->isVisibleTo(form_.get()));
    }

    void searchWord() {
        AddCase("1", "skel mod vej");
        AddCase("2", "udstykning");
        AddCase("3", "skel ved sø");
        AddCase("4", "andet");
        Goto("1");
        responder_.AnswerText("skel");
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_F3);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("\"søgeordet\" søges i alle felter i sagsdata")}));
        QCOMPARE(form_->btnNext->text(), U(" Næste (Søg) (PgDn) "));
        QCOMPARE(Nr(), std::string("1"));
        form_->btnNext->click();
        QCOMPARE(Nr(), std::string("3"));
        responder_.Clear();
        responder_.Answer(kIdYes);
        form_->btnNext->click();
        QCOMPARE(
            responder_.Texts(),
            QStringList({U("Der er ikke flere sager med \"søgeordet\" skel, start forfra ?")}));
        QCOMPARE(Nr(), std::string("1"));
        form_->btnLast->click();
        QCOMPARE(Nr(), std::string("3"));
        form_->btnPrior->click();
        QCOMPARE(Nr(), std::string("1"));
        responder_.Clear();
        form_->btnPrior->click();
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Der er ingen sager, før den aktuelle, med \"søgeordet\" skel")}));
        QCOMPARE(Nr(), std::string("1"));
        // From a case after the last match, Forrige goes to that match.
        Goto("4");
        form_->btnPrior->click();
        QCOMPARE(Nr(), std::string("3"));
        // A word that matches nothing is cleared with the captions.
        responder_.Clear();
        responder_.AnswerText("ingenting");
        form_->BtnSearch->click();
        QCOMPARE(responder_.Texts().value(1), U("\"søgeordet\" ingenting findes ikke i data !!!"));
        QCOMPARE(form_->SearchWord, std::string());
        QCOMPARE(form_->btnNext->text(), U(" Næste (PgDn) "));
    }

    void closedCaseAndReopen() {
        AddClosedCase("L1", "lukket");
        TzDs::TTzDbf& s = data_->SagsDbf;
        Goto("L1");
        QVERIFY(form_->CaseIsClosed());
        Type(form_->edtMatnr, "9");
        Key(Qt::Key_F2);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Sagen er afsluttet, der kan ikke rettes i data !!!")}));
        QCOMPARE(Rows("Sager.dbf", "sag_matnr", "9"), 0);
        // Closed today: still saved.
        s.Edit();
        s.FieldByName("sag_afslut").SetAsDateTime(Db::Today());
        s.Post();
        responder_.Clear();
        Type(form_->edtMatnr, "8");
        Key(Qt::Key_F2);
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(Rows("Sager.dbf", "sag_matnr", "8"), 1);
        // "Åben sagen igen": a wrong password changes nothing, the right one clears the date.
        std::string asked;
        bool right = false;
        kj::MainEntries().AskPassword = [&](QWidget*, const std::string& expected) {
            asked = expected;
            return right;
        };
        form_->MenuAabenIgen->trigger();
        QCOMPARE(asked, std::string("Tulix"));
        QVERIFY(!s.FieldByName("sag_afslut").AsString().empty());
        right = true;
        // Another station holding the case's record: the user is told, the case stays.
        TzDs::TTzDbf& other = data_->TzDbf1;
        other.SetDbfFileName(sf_->data + "Sager.dbf");
        other.Open();
        other.Go(s.RecNo());
        QVERIFY(other.RLock());
        responder_.Clear();
        form_->MenuAabenIgen->trigger();
        other.UnLock();
        other.Close();
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Sagen er i brug af en anden bruger, intet er ændret !!!")}));
        QCOMPARE(s.State(), Db::dsBrowse);
        QVERIFY(form_->CaseIsClosed());
        form_->MenuAabenIgen->trigger();
        QCOMPARE(Trim(s.FieldByName("sag_afslut").AsString()), std::string());
        QVERIFY(!form_->CaseIsClosed());
    }

    void caseTypeAddsStandardEvents() {
        Write(sf_->data + "HandForSagsType.dbs", "[SKEL]\r\n1=A\r\n2=B\r\n[ANDET]\r\n1=C\r\n");
        AddCase("T1", "typer");
        Goto("T1");
        Type(form_->edtType, "SKEL");
        responder_.Answer(kIdYes);
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts(), QStringList({U("Sagstypen er ændret, skal der oprettes "
                                                    "standard hændelser for sagen ?")}));
        TzDs::TTzDbf& st = data_->StatusDbf;
        QCOMPARE(st.RecCount(), 2);
        st.Go(1);
        QCOMPARE(Trim(st.FieldByName("stat_bem").AsString()), std::string("B"));
        QCOMPARE(Trim(st.FieldByName("stat_sag").AsString()), std::string("T1"));
        QCOMPARE(Trim(st.FieldByName("stat_ini").AsString()), std::string("AB"));
        QCOMPARE(Trim(st.FieldByName("stat_dato").AsString()), std::string());
        st.Go(2);
        QCOMPARE(Trim(st.FieldByName("stat_bem").AsString()), std::string("A"));
        // Leaving the field unchanged asks nothing; No adds nothing.
        responder_.Clear();
        form_->edtType->setFocus();
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts(), QStringList());
        form_->edtType->setFocus();
        form_->edtType->lineEdit()->selectAll();
        QTest::keyClicks(Focused(), "ANDET");
        responder_.Answer(kIdNo);
        Key(Qt::Key_Tab);
        QCOMPARE(st.RecCount(), 2);
    }

    void missingEmployeeAndCustomerAreCreatedFromTheHeader() {
        AddCase("M1", "medarbejder");
        Goto("M1");
        bool resumedInside = true;
        std::string keyAsked;
        kj::MainEntries().ShowBrugerForm = [&](int32_t, const std::string& key) {
            resumedInside = form_->Resumed();
            keyAsked = key;
            TzDs::TTzDbf& b = data_->BrugerDbf;
            b.Append();
            b.FieldByName("ini").SetAsString(key);
            b.FieldByName("ini_fnavn").SetAsString("Xenia");
            b.Post();
        };
        Type(form_->edtAnsvar, "xy");
        QCOMPARE(form_->edtAnsvar->currentText(), U("XY"));
        responder_.Answer(kIdYes);  // create the employee
        responder_.Answer(kIdYes);  // save the changed case first
        responder_.Answer(kIdYes);  // the employee register's own question
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts().mid(0, 2),
                 QStringList({U("Brugeren :XY   findes ikke\r\nskal denne oprettes ?"),
                              U("Data er ændret, skal de gemmes?")}));
        QVERIFY(!resumedInside);  // the register ran with the data module's handlers
        QVERIFY(form_->Resumed());
        QCOMPARE(keyAsked, std::string("XY"));
        QVERIFY(form_->edtAnsvarTekst->isVisibleTo(form_.get()));
        // The case was saved without the code that did not exist yet; it is back as an edit.
        QCOMPARE(Rows("Sager.dbf", "sag_ansvar", "XY"), 0);
        Key(Qt::Key_F2);
        QCOMPARE(Rows("Sager.dbf", "sag_ansvar", "XY"), 1);
        // A customer the user declines to create hides the name, and Gem refuses the code.
        responder_.Clear();
        Type(form_->edtKunde, "k77");
        responder_.Answer(kIdNo);
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Kunden :K77       findes ikke\r\nskal denne oprettes ?")}));
        QVERIFY(!form_->edtKundeTekst->isVisibleTo(form_.get()));
        Key(Qt::Key_F2);
        QVERIFY(responder_.Texts().contains(U("Kunden :K77       findes ikke")));
        QCOMPARE(Rows("Sager.dbf", "sag_kunde", "K77"), 0);
    }

    void popupsAndOtherWindowsRunNoExit() {
        AddCase("P1", "x");
        Goto("P1");
        Type(form_->edtAnsvar, "qq");
        form_->edtAnsvar->showPopup();  // the list takes the focus: not an exit
        QApplication::processEvents();
        form_->edtAnsvar->hidePopup();
        QApplication::setActiveWindow(nullptr);  // another program takes over and gives back
        QApplication::setActiveWindow(form_.get());
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(form_->edtAnsvar->currentText(), U("QQ"));
        responder_.Answer(kIdNo);
        Key(Qt::Key_Tab);  // now it is left
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Brugeren :QQ   findes ikke\r\nskal denne oprettes ?")}));
    }

    void suspendAndResumeAroundAModalWindow() {
        AddCase("R1", "en");
        AddCase("R2", "to");
        Goto("R1");
        const int at = data_->SagsDbf.RecNo();
        auto caseBeforePost = data_->SagsDbf.BeforePost;
        bool inside = false;
        kj::MainEntries().MenuCommands["MenuMedarbejdere"] = [&] {
            inside = true;
            QVERIFY(!form_->Resumed());
            QVERIFY(!(data_->SagsDbf.BeforePost == caseBeforePost));
            QVERIFY(data_->StatusDbf.BeforePost.Assigned());  // the data module's own
            data_->SagsDbf.Last();                            // a window moves the cursor
        };
        form_->menuBar()->findChild<QAction*>("MenuMedarbejdere")->trigger();
        QVERIFY(inside);
        QVERIFY(form_->Resumed());
        QVERIFY(data_->SagsDbf.BeforePost == caseBeforePost);
        QVERIFY(!data_->StatusDbf.BeforePost.Assigned());
        QCOMPARE(data_->SagsDbf.RecNo(), at);  // put back where it was
        // A pending change is offered for saving first.
        Type(form_->edtMatnr, "77");
        responder_.Answer(kIdYes);
        form_->menuBar()->findChild<QAction*>("MenuMedarbejdere")->trigger();
        QCOMPARE(responder_.Texts(), QStringList({U("Data er ændret, skal de gemmes?")}));
        QCOMPARE(Rows("Sager.dbf", "sag_matnr", "77"), 1);
    }

    // ---- Typed work is kept, and lands on its own case ----

    void switchingProgramsKeepsTheEditAnotherWindowCancelsIt() {
        AddCase("A1", "en");
        Goto("A1");
        Type(form_->edtMatnr, "42");
        QApplication::setActiveWindow(nullptr);  // the user turns to another program
        QVERIFY(!form_->isActiveWindow());
        QCOMPARE(data_->SagsDbf.State(), Db::dsEdit);
        QCOMPARE(form_->edtMatnr->text(), U("42"));
        QApplication::setActiveWindow(form_.get());  // and comes back
        QCOMPARE(Focused(), static_cast<QWidget*>(form_->edtMatnr));
        QCOMPARE(data_->SagsDbf.State(), Db::dsEdit);
        Key(Qt::Key_F2);
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "A1", {"SAG_MATNR"}),
                 QStringList({"'42'"}));
        // Another window of this program taking over deactivates the form: the pending
        // edit is cancelled.
        Type(form_->edtMatnr, "43");
        QWidget other;
        other.show();
        QApplication::setActiveWindow(&other);
        QVERIFY(!form_->isActiveWindow());
        QCOMPARE(data_->SagsDbf.State(), Db::dsBrowse);
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "A1", {"SAG_MATNR"}),
                 QStringList({"'42'"}));
    }

    void movingToAnotherCaseSavesThePendingEdit() {
        AddCase("N1", "a");
        AddCase("N2", "b");
        AddClosedCase("N3", "c");
        Goto("N1");
        Type(form_->edtMatnr, "77");
        QTest::mouseClick(form_->btnNext, Qt::LeftButton);
        QCOMPARE(Nr(), std::string("N2"));
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "N1", {"SAG_MATNR"}),
                 QStringList({"'77'"}));
        // A closed case is not saved by a move either; the user is told why.
        Goto("N3");
        Type(form_->edtMatnr, "88");
        QTest::mouseClick(form_->btnPrior, Qt::LeftButton);
        QCOMPARE(Nr(), std::string("N2"));
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Sagen er afsluttet, der kan ikke rettes i data !!!")}));
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "N3", {"SAG_MATNR"}),
                 QStringList({"''"}));
    }

    // PgUp/PgDn in the case-number field, a number chosen from its list and a number typed
    // there move as the navigation buttons do: the header's pending change is saved.
    void numberFieldMovesSaveThePendingEdit() {
        AddCase("P1", "a");
        AddCase("P2", "b");
        AddCase("P3", "c");
        Goto("P1");
        Type(form_->edtMatnr, "11");
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_PageDown);
        QCOMPARE(Nr(), std::string("P2"));
        Type(form_->edtMatnr, "22");
        Type(form_->edtSagsNr, "p3");
        Key(Qt::Key_Tab);
        QCOMPARE(Nr(), std::string("P3"));
        Type(form_->edtMatnr, "33");
        form_->edtSagsNr->setFocus();
        form_->edtSagsNr->showPopup();
        QTest::keyClick(form_->edtSagsNr->view(), Qt::Key_Home);
        QTest::keyClick(form_->edtSagsNr->view(), Qt::Key_Return);
        QCOMPARE(Nr(), std::string("P1"));
        QCOMPARE(responder_.Texts(), QStringList());
        for (const char* nr : {"P1", "P2", "P3"})
            QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", nr, {"SAG_MATNR"}),
                     QStringList({QString("'%1%1'").arg(QChar(nr[1]))}));
        // A number typed to move is where to go, never a change of the case left.
        Type(form_->edtSagsNr, "p2");
        Key(Qt::Key_PageUp);
        QCOMPARE(Nr(), std::string("P1"));
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "P1"), 1);
        QCOMPARE(responder_.Texts(), QStringList());
    }

    // A responsible code found nowhere is refused by every way of saving the case, as Gem
    // refuses it: Næste, PgDn and a number chosen in the case-number field, Søg and F3, a new
    // case, a menu window (the time sheet), a title filter on the cases and closing. Each
    // time the box says why, nothing moves or opens, and the header stays in edit as typed;
    // Gendan takes it back. Closing asks; Ja keeps the window, Nej drops the change.
    void aCodeFoundNowhereIsRefusedByEveryWayOfSaving() {
        TzDs::TTzDbf& b = data_->BrugerDbf;
        b.Append();
        b.FieldByName("ini").SetAsString("AA");
        b.FieldByName("ini_fnavn").SetAsString("Anne");
        responder_.Answer(kIdYes);
        b.Post();
        AddCase("A1", "en", "", "AA");
        AddCase("A2", "to");
        Goto("A1");
        bool opened = false;
        kj::MainEntries().MenuCommands["MenuTimeseddel"] = [&] { opened = true; };
        Type(form_->edtAnsvar, "xy");
        Key(Qt::Key_Tab);  // "... findes ikke skal denne oprettes ?" answered Nej
        auto refused = [&](const char* path) {
            const QString said = QString::fromUtf8(path) + ": " + responder_.Texts().join('|');
            QVERIFY2(responder_.Texts().contains(U("Brugeren :XY   findes ikke")),
                     qPrintable(said));
            QVERIFY2(Nr() == "A1" && data_->SagsDbf.State() == Db::dsEdit, qPrintable(said));
            QCOMPARE(Trim(data_->SagsDbf.FieldByName("sag_ansvar").AsString()), std::string("XY"));
            QCOMPARE(Rows("Sager.dbf", "sag_ansvar", "XY"), 0);
            QCOMPARE(Rows("Sager.dbf", "sag_ansvar", "AA"), 1);
            QVERIFY(!opened);
            QVERIFY(form_->Resumed());
            responder_.Clear();
        };
        responder_.Clear();
        form_->btnNext->click();
        refused("Næste");
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_PageDown);
        refused("PgDn");
        form_->edtSagsNr->setFocus();
        form_->edtSagsNr->showPopup();
        QTest::keyClick(form_->edtSagsNr->view(), Qt::Key_End);
        QTest::keyClick(form_->edtSagsNr->view(), Qt::Key_Return);
        refused("chosen number");
        QCOMPARE(form_->edtSagsNr->currentText(), U("A1"));
        form_->BtnSearch->click();
        refused("Søg");
        for (int key : {int(Qt::Key_F3), int(Qt::Key_Insert)}) {
            responder_.Answer(kIdYes);  // "Data er ændret, skal de gemmes?"
            Key(key, key == Qt::Key_Insert ? Qt::ControlModifier : Qt::NoModifier);
            refused(key == Qt::Key_F3 ? "F3" : "Ctrl+Ins");
        }
        responder_.Answer(kIdYes);
        form_->BtnNySag->click();
        refused("Ny sag");
        responder_.Answer(kIdYes);
        form_->menuBar()->findChild<QAction*>("MenuTimeseddel")->trigger();
        refused("Timeseddel");
        QVERIFY(!form_->ApplyWordFilter(*form_->SagsGrid, "SAGS_BEM", U("to")));
        refused("title filter");
        responder_.Answer(kIdYes);  // the box
        responder_.Answer(kIdYes);  // keep the change: the window stays
        QVERIFY2(!form_->close(), qPrintable(responder_.Texts().join('|')));
        QVERIFY(responder_.Texts().contains(U("Data er ændret, skal de gemmes?")));
        refused("closing");
        // Gendan takes the typed code back, the stored one's name with it; the window moves.
        Key(Qt::Key_Backspace, Qt::ControlModifier);
        QCOMPARE(data_->SagsDbf.State(), Db::dsBrowse);
        QCOMPARE(Trim(data_->SagsDbf.FieldByName("sag_ansvar").AsString()), std::string("AA"));
        QVERIFY(form_->edtAnsvarTekst->isVisibleTo(form_.get()));
        QVERIFY2(form_->edtAnsvarTekst->text().startsWith("Anne"),
                 qPrintable(form_->edtAnsvarTekst->text()));
        form_->btnNext->click();
        QCOMPARE(Nr(), std::string("A2"));
        // Closing with the code typed again and Nej to keeping it: closed, nothing written.
        Type(form_->edtAnsvar, "xy");
        Key(Qt::Key_Tab);
        responder_.Clear();
        responder_.Answer(kIdYes);  // the box
        responder_.Answer(kIdNo);
        QVERIFY(form_->close());
        QCOMPARE(responder_.Texts(), QStringList({U("Brugeren :XY   findes ikke"),
                                                  U("Data er ændret, skal de gemmes?")}));
        QCOMPARE(Rows("Sager.dbf", "sag_ansvar", "XY"), 0);
    }

    // Creating a missing employee from the header saves the case first; while its customer is
    // one found nowhere, Gem refuses: the register does not open and the typed code stays.
    void creatingACodeWhileAnotherIsRefusedOpensNothing() {
        AddCase("R1", "x");
        Goto("R1");
        bool opened = false;
        kj::MainEntries().ShowBrugerForm = [&](int32_t, const std::string&) { opened = true; };
        Type(form_->edtKunde, "k77");
        Key(Qt::Key_Tab);  // not created
        Type(form_->edtAnsvar, "zz");
        responder_.Clear();
        responder_.Answer(kIdYes);  // create ZZ
        responder_.Answer(kIdYes);  // save the changed case first
        Key(Qt::Key_Tab);
        QVERIFY(!opened);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Brugeren :ZZ   findes ikke\r\nskal denne oprettes ?"),
                              U("Data er ændret, skal de gemmes?"),
                              U("Kunden :K77       findes ikke")}));
        TzDs::TTzDbf& s = data_->SagsDbf;
        QCOMPARE(s.State(), Db::dsEdit);
        QCOMPARE(Trim(s.FieldByName("sag_ansvar").AsString()), std::string("ZZ"));
        QCOMPARE(Trim(s.FieldByName("sag_kunde").AsString()), std::string("K77"));
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "R1", {"SAG_ANSVAR", "SAG_KUNDE"}),
                 QStringList({"''|''"}));
    }

    // "Åben sagen igen" with the header changed offers the change first, by Gem's rules: on a
    // case closed before today Gem refuses it, so the reopening writes none of it.
    void reopeningOffersThePendingChangeFirst() {
        AddClosedCase("C1", "en");
        Goto("C1");
        kj::MainEntries().AskPassword = [](QWidget*, const std::string&) { return true; };
        Type(form_->edtAnsvar, "xy");
        Key(Qt::Key_Tab);  // not created
        responder_.Clear();
        responder_.Answer(kIdYes);  // "Data er ændret, skal de gemmes?"
        form_->MenuAabenIgen->trigger();
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Data er ændret, skal de gemmes?"),
                              U("Sagen er afsluttet, der kan ikke rettes i data !!!")}));
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "C1", {"SAG_ANSVAR", "SAG_AFSLUT"}),
                 QStringList({"''|None"}));
    }

    // Another station deleted the case being saved: nothing is written into the deleted
    // record, the user is told, and the case now shown carries its own employee's name.
    void caseDeletedElsewhereIsNotSaved() {
        TzDs::TTzDbf& b = data_->BrugerDbf;
        for (const char* ini : {"AA", "BB"}) {
            b.Append();
            b.FieldByName("ini").SetAsString(ini);
            b.FieldByName("ini_fnavn").SetAsString(std::string("Navn") + ini);
            responder_.Answer(kIdYes);
            b.Post();
        }
        responder_.Clear();
        AddCase("S1", "en", "", "AA");
        AddCase("S2", "to", "", "BB");
        Goto("S1");
        const int rec = data_->SagsDbf.RecNo();
        Type(form_->edtMatnr, "77");
        TzDs::TTzDbf& other = data_->TzDbf1;  // the other station's cursor
        other.HideDeletedRecs = false;
        other.SetDbfFileName(sf_->data + "Sager.dbf");
        other.Open();
        other.Go(rec);
        QVERIFY(other.RLock());
        other.DeleteRec();
        other.UnLock();
        Key(Qt::Key_F2);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Sagen er slettet af en anden bruger, intet er gemt !!!")}));
        other.Go(rec);
        QCOMPARE(Trim(other.FieldByName("sag_matnr").AsString()), std::string());
        other.Close();
        QCOMPARE(Nr(), std::string("S2"));
        QCOMPARE(form_->edtAnsvarTekst->text().trimmed(), U("NavnBB"));
    }

    void impossibleDateKeepsTheFocusAndIsReportedOnce() {
        AddCase("F1", "dato");
        Goto("F1");
        Type(form_->edtAfslut, "31022026");
        Key(Qt::Key_F2);
        QCOMPARE(responder_.Texts().size(), 1);
        QVERIFY2(responder_.Texts().value(0).contains("er ikke en gyldig dato"),
                 qPrintable(responder_.Texts().value(0)));
        QCOMPARE(Focused(), static_cast<QWidget*>(form_->edtAfslut));
        // The next keys mend the date where it failed; the case number is untouched.
        Type(form_->edtAfslut, "28022026");
        responder_.Clear();
        Key(Qt::Key_F2);
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "F1", {"SAG_AFSLUT"}),
                 QStringList({"datetime.date(2026, 2, 28)"}));
    }

    void textControlsTakeNoMoreThanTheirField() {
        AddCase("M1", "x");
        Goto("M1");
        Type(form_->edtSagsNr, "ABCDEFGHIJKLMN");
        QCOMPARE(form_->edtSagsNr->currentText(), U("ABCDEFGHIJ"));
        Key(Qt::Key_Backspace, Qt::ControlModifier);  // Gendan
        QCOMPARE(form_->edtSagsNr->currentText(), U("M1"));
        form_->edtBeskriv->setFocus();
        form_->edtBeskriv->selectAll();
        QTest::keyClicks(Focused(), QString(120, u'b'));
        QCOMPARE(form_->edtBeskriv->toPlainText(), QString(100, u'b'));
        Type(form_->edtMatnr, QString(60, u'9'));
        QCOMPARE(form_->edtMatnr->text().size(), data_->SagsDbf.FieldByName("sag_matnr").Size());
    }

    void existingNumberUnderAWordFilterIsNotCreatedAgain() {
        AddCase("K1", "skel");
        AddCase("K2", "andet");
        Goto("K1");
        QVERIFY(form_->ApplyWordFilter(*form_->SagsGrid, "SAGS_BEM", U("skel")));
        responder_.AnswerText("k2");
        form_->edtSagsNr->setFocus();
        Key(Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Indtast sagsnr."), U("Sagen k2findes allerede !!!")}));
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "K2", {"SAGS_BEM"}),
                 QStringList({"'andet'"}));
        // Typing the hidden number goes to that case instead of offering to create it.
        responder_.Clear();
        Type(form_->edtSagsNr, "k2");
        responder_.Answer(kIdYes);
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(Nr(), std::string("K2"));
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "K2", {"SAGS_BEM"}),
                 QStringList({"'andet'"}));
    }

    void closeQueryKeepsTheRulesOfGem() {
        AddClosedCase("C1", "en");
        Goto("C1");
        Type(form_->edtMatnr, "5");
        form_->edtAfslut->setFocus();
        form_->edtAfslut->selectAll();
        Key(Qt::Key_Delete);
        QVERIFY(form_->close());
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Sagen er afsluttet, der kan ikke rettes i data !!!")}));
        const QStringList rows =
            DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "C1", {"SAG_MATNR", "SAG_AFSLUT"});
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows[0].startsWith("''|datetime.date("), qPrintable(rows[0]));
    }

    void maintenanceCommandsAskBeforeSuspending() {
        kj::MainEntries().MenuCommands["MenuGenskabIndeks"] = [] {
            kj::MainMenu().GenskabIndeksClick();
        };
        kj::MainEntries().MenuCommands["MenuFjernSlettede"] = [] {
            kj::MainMenu().FjernSlettedePosterClick();
        };
        AddCase("G1", "x");
        Goto("G1");
        for (const char* item : {"MenuGenskabIndeks", "MenuFjernSlettede"}) {
            Type(form_->edtMatnr, "5");
            responder_.Clear();
            responder_.Answer(kIdNo);
            form_->menuBar()->findChild<QAction*>(item)->trigger();
            QCOMPARE(responder_.Texts().size(), 1);
            QVERIFY2(responder_.Texts().value(0).startsWith(U("Ønsker du at ")),
                     qPrintable(responder_.Texts().value(0)));
            QCOMPARE(data_->SagsDbf.State(), Db::dsEdit);  // nothing suspended, nothing asked
            QCOMPARE(form_->edtMatnr->text(), U("5"));
            QVERIFY(form_->Resumed());
            Key(Qt::Key_Backspace, Qt::ControlModifier);
        }
        // Yes: the window is suspended for the rebuild (the pending edit is offered first).
        Type(form_->edtMatnr, "6");
        responder_.Clear();
        responder_.Answer(kIdYes);
        responder_.Answer(kIdYes);
        form_->menuBar()->findChild<QAction*>("MenuGenskabIndeks")->trigger();
        QCOMPARE(responder_.Texts().value(1), U("Data er ændret, skal de gemmes?"));
        QVERIFY(form_->Resumed());
        QCOMPARE(DbfRows(sf_->data + "Sager.dbf", "SAGS_NR", "G1", {"SAG_MATNR"}),
                 QStringList({"'6'"}));
    }

    // The first employee through the register opened from the main window: its " Ny bruger"
    // button starts an enabled card that the typed initials reach.
    void firstEmployeeThroughTheRegisterFromTheMenu() {
        kj::MainEntries().MenuCommands["MenuMedarbejdere"] = [] { kj::ShowBrugerForm(0, ""); };
        kjapptest::WindowScripts ws;
        bool enabled = false;
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
            QTest::mouseClick(f.NyBtn, Qt::LeftButton);
            enabled = f.Grid->LivePanel()->isEnabled();
            kjapptest::TypeText(f, "gh");
            QTest::keyClick(kjapptest::FocusIn(f), Qt::Key_X, Qt::ControlModifier);
        });
        responder_.Answer(kIdYes);
        form_->menuBar()->findChild<QAction*>("MenuMedarbejdere")->trigger();
        QCOMPARE(ws.timedOut, 0);
        QVERIFY(enabled);
        QCOMPARE(responder_.Texts(), QStringList{U("Skal den rettede bruger gemmes ?")});
        const auto users = kjapptest::ReadDbf(sf_->data + "Bruger.dbf");
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(users[0]["ini"], std::string("GH"));
    }

    // Once the main window is up an engine error shows its message and the program goes on
    // (never "Program halted."): a rebuild while another station holds a table exclusively
    // says which table it could not rebuild, then that the files could not be opened again;
    // with the table free the next rebuild opens every table and the window works on.
    void engineErrorsWithTheWindowUpDoNotEndTheProgram() {
        kj::MainEntries().MenuCommands["MenuGenskabIndeks"] = [] {
            kj::MainMenu().GenskabIndeksClick();
        };
        AddCase("E1", "x");
        Goto("E1");
        bool halted = false;
        TzCommon::SetHaltProc([&halted](int) {
            halted = true;
            throw std::runtime_error("halted");
        });
        const uint8_t checking = TzCommon::SetErrorChecking(1);  // as the program runs
        QAction* rebuild = form_->menuBar()->findChild<QAction*>("MenuGenskabIndeks");
        {
            // The other station took it while this one had it closed (the rebuild closes
            // every table first).
            data_->StatusDbf.SetActive(false);
            data_->statusBufDbf.SetActive(false);
            TzDs::TTzDbf holder("Holder");  // another station's exclusive open
            holder.SetDbfFileName(sf_->data + "Status.dbf");
            holder.CreateIfNotFound = false;
            holder.CreateIndex = TzDs::ciNever;
            holder.SetExclusive(true);
            holder.Open();
            responder_.Clear();
            responder_.Answer(kIdYes);
            rebuild->trigger();
        }
        QVERIFY(!halted);
        const QStringList said = responder_.Texts();
        QVERIFY2(said.size() >= 3 && said[1].startsWith(U("Kunne ikke genskabe indeks for ")) &&
                     said[1].contains(QStringLiteral("Status.dbf")) &&
                     said[2].startsWith(U("Kunne ikke åbne datafilerne igen")),
                 qPrintable(said.join(QLatin1Char('|'))));
        responder_.Clear();
        responder_.Answer(kIdYes);
        rebuild->trigger();
        TzCommon::SetErrorChecking(checking);
        TzCommon::SetHaltProc(nullptr);
        QVERIFY(!halted);
        QCOMPARE(responder_.Texts().size(), 1);  // the question alone
        for (TzDs::TTzDbf* t : data_->MainCursors()) QVERIFY2(t->Active(), t->Name().c_str());
        QVERIFY(form_->Resumed());
        QCOMPARE(form_->CurrentSagsNr, std::string("E1"));
    }

    // The window's focus-change handlers are gone before its own members are: no handler
    // runs on the half-destroyed window while Qt deletes its controls (quitting right after
    // start).
    void noFocusHandlerRunsWhileTheWindowIsDestroyed() {
        QObject* window = form_.get();
        bool liveDuringDestruction = false;
        connect(form_->centralWidget(), &QObject::destroyed, [&] {
            liveDuringDestruction = QObject::disconnect(
                qApp, SIGNAL(focusChanged(QWidget*, QWidget*)), window, nullptr);
        });
        kj::SetMainWindow(nullptr);
        form_.reset();
        QVERIFY(!liveDuringDestruction);
    }

    void closeQueryPostsAPendingCase() {
        AddCase("C1", "en");
        TzDs::TTzDbf& s = data_->SagsDbf;
        s.Append();
        s.FieldByName("sags_nr").SetAsString("C2");
        QVERIFY(form_->close());
        QCOMPARE(Rows("Sager.dbf", "sags_nr", "C2"), 1);
        QCOMPARE(responder_.Texts(), QStringList());
    }
};

QTEST_MAIN(MainFormTest)
#include "main_form_test.moc"
