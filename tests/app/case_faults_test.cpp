// The main window's case header and rows where a code, a type, a role or an amount is typed,
// driven through its keys, buttons and cells with every question answered by the scripted
// responder, results read back from the tables: creating a missing employee or customer
// keeps the stored code until the register made the new one; rows of a case another station
// deleted are refused as the header is; a case moved in under the type field asks nothing;
// a typed role is stored as typed; Gendan after a refused customer code; the code check of
// a post that entering a field starts; amounts echoed in the program's number format.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>

#include "app/frame_interessent.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app/main_form.h"
#include "app_fixture.h"
#include "data/db_format.h"
#include "main_form_fixture.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"

using namespace kjapptest;
using kj::Ansi;
using kjqt::mb::kIdNo;
using kjqt::mb::kIdYes;

class CaseFaultsTest : public QObject {
    Q_OBJECT

    kjqt::ScriptedResponder responder_;
    std::unique_ptr<StartFolder> sf_;
    std::unique_ptr<kj::TKJData> data_;
    std::unique_ptr<kj::TKJSagerForm> form_;

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
    // Types over a grid cell's editor, as a click on the cell and typing do; false when the
    // cell opened no editor.
    static bool Retype(kjqt::TDBGrid* grid, int column, const QString& text) {
        grid->setFocus();
        grid->SetSelectedIndex(column == 1 ? 2 : 1);
        grid->SetSelectedIndex(column);
        QApplication::processEvents();
        auto* editor = qobject_cast<QLineEdit*>(Focused());
        if (auto* combo = qobject_cast<QComboBox*>(Focused())) editor = combo->lineEdit();
        if (!editor || !grid->isAncestorOf(editor)) return false;
        editor->selectAll();
        QTest::keyClicks(Focused(), text);
        return true;
    }
    void Add(TzDs::TTzDbf& t, const std::vector<std::pair<const char*, std::string>>& values) {
        t.Append();
        for (const auto& [name, value] : values) t.FieldByName(name).SetAsString(value);
        responder_.Answer(kIdYes);
        t.Post();
        responder_.Clear();
    }
    // Employee AB "Anne", customer K1002 "Kunde", case 26-002 with both, 26-003 without.
    void AddCases() {
        Add(data_->BrugerDbf, {{"ini", "AB"}, {"ini_fnavn", "Anne"}});
        Add(data_->KundeDbf, {{"mak_id", "K1002"}, {"mak_fnavn", "Kunde"}});
        Add(data_->SagsDbf, {{"sags_nr", "26-002"}, {"sag_ansvar", "AB"}, {"sag_kunde", "K1002"}});
        Add(data_->SagsDbf, {{"sags_nr", "26-003"}});
    }
    void Goto(const char* nr) {
        QVERIFY(data_->SagsDbf.SetOrderToTag("SAGSNR"));
        QVERIFY(data_->SagsDbf.FindExact(TzUtils::PadRight(nr, 10)));
        form_->RefreshViews();
        form_->CurrentSagsNr = nr;
    }
    QStringList Stored(const char* file, const char* where, const char* value,
                       const QStringList& fields) {
        return DbfRows(sf_->data + file, QString::fromUtf8(where), QString::fromUtf8(value),
                       fields);
    }
    // Another station deletes the case with the given record number.
    void DeleteElsewhere(int32_t rec) {
        TzDs::TTzDbf& other = data_->TzDbf1;
        other.HideDeletedRecs = false;
        other.SetDbfFileName(sf_->data + "Sager.dbf");
        other.Open();
        other.Go(rec);
        QVERIFY(other.RLock());
        other.DeleteRec();
        other.UnLock();
        other.Close();
    }

  private slots:
    void initTestCase() { AnswerAllBy(responder_); }
    void init() {
        sf_ = FreshStartFolder(responder_, "Firma", "Vej 1");
        AnswerFirstStart(*sf_, responder_);
        data_ = NewDataModule();
        QVERIFY(OpenMainForm(form_, *data_, *sf_, responder_, FormUp::MainActive));
        AddCases();
    }
    void cleanup() { CloseMainForm(form_, data_, sf_); }

    // Yes to creating a missing code and Yes to saving the case first, then the register
    // given up without a new card: the case keeps the code it had on disk.
    void creatingAMissingCodeKeepsTheStoredOne_data() {
        QTest::addColumn<bool>("customer");
        QTest::newRow("Ansvarlig") << false;
        QTest::newRow("Kunde") << true;
    }
    void creatingAMissingCodeKeepsTheStoredOne() {
        QFETCH(bool, customer);
        Goto("26-002");
        bool opened = false;
        auto giveUp = [&](int32_t, const std::string&) { opened = true; };
        kj::MainEntries().ShowBrugerForm = giveUp;
        kj::MainEntries().ShowKundeForm = giveUp;
        Type(customer ? form_->edtKunde : form_->edtAnsvar, "zz");
        responder_.Answer(kIdYes);  // create it
        responder_.Answer(kIdYes);  // save the changed case first
        Key(Qt::Key_Tab);
        QVERIFY2(opened, qPrintable(responder_.Texts().join('|')));
        QCOMPARE(Stored("Sager.dbf", "SAGS_NR", "26-002", {"SAG_ANSVAR", "SAG_KUNDE"}),
                 QStringList({"'AB'|'K1002'"}));
        form_->BtnGendan->click();
        QCOMPARE(Stored("Sager.dbf", "SAGS_NR", "26-002", {"SAG_ANSVAR", "SAG_KUNDE"}),
                 QStringList({"'AB'|'K1002'"}));
        QCOMPARE(Trim(data_->SagsDbf.FieldByName(customer ? "sag_kunde" : "sag_ansvar").AsString()),
                 std::string(customer ? "K1002" : "AB"));
    }

    // Station 2 deletes the case shown here; every way a row of it is stored here gets the
    // header's refusal and writes nothing.
    void rowsOfACaseDeletedElsewhereAreRefused_data() {
        QTest::addColumn<QString>("kind");
        for (const char* k : {"event", "posting", "stakeholder", "standard events"})
            QTest::newRow(k) << QString::fromUtf8(k);
    }
    void rowsOfACaseDeletedElsewhereAreRefused() {
        QFETCH(QString, kind);
        Write(sf_->data + "HandForSagsType.dbs", "[SKEL]\r\n1=Skel\r\n");
        Goto("26-003");
        const int32_t rec = data_->SagsDbf.RecNo();
        TzDs::TTzDbf* row = nullptr;
        if (kind == "event") {
            form_->PageSager->setCurrentIndex(0);
            form_->statusNyBtn->click();
            row = &data_->tmpStat;
            row->FieldByName("stat_bem").SetAsString("Skel");
        } else if (kind == "posting") {
            form_->PageSager->setCurrentIndex(1);
            form_->posterNyBtn->click();
            row = &data_->tmpPost;
            row->FieldByName("post_bem").SetAsString("Skel");
        } else if (kind == "stakeholder") {
            form_->PageSager->setCurrentIndex(2);
            form_->frameInteressent->btnNyInteressent->click();
            row = &data_->InteressentDbf;
            row->FieldByName("int_tekst").SetAsString("Skel");
        }
        if (row) QCOMPARE(row->State(), Db::dsInsert);
        DeleteElsewhere(rec);
        responder_.Clear();
        responder_.Answer(kIdYes);  // the row's question, or the type's
        if (row) {
            row->Post();
        } else {
            Type(form_->edtType, "SKEL");
            Key(Qt::Key_Tab);
        }
        QVERIFY2(responder_.Texts().contains(U("Sagen er slettet af en anden bruger, intet er "
                                               "gemt !!!")),
                 qPrintable(responder_.Texts().join('|')));
        QCOMPARE(Stored("Status.dbf", "STAT_SAG", "26-003", {"STAT_BEM"}), QStringList());
        QCOMPARE(Stored("Poster.dbf", "POST_SAG", "26-003", {"POST_BEM"}), QStringList());
        QCOMPARE(Stored("Interessent.dbf", "INT_SAG", "26-003", {"INT_TEKST"}), QStringList());
    }

    // Station 2 writes a field of a stored row (a posting's invoice number, an event's name)
    // while station 1 changes another field of the same row: station 1's save keeps station
    // 2's field and writes its own.
    void aSavedRowKeepsWhatAnotherStationWroteMeanwhile_data() {
        QTest::addColumn<bool>("posting");
        QTest::newRow("posting") << true;
        QTest::newRow("event") << false;
    }
    void aSavedRowKeepsWhatAnotherStationWroteMeanwhile() {
        QFETCH(bool, posting);
        Goto("26-002");
        form_->PageSager->setCurrentIndex(posting ? 1 : 0);
        (posting ? form_->posterNyBtn : form_->statusNyBtn)->click();
        TzDs::TTzDbf& row = posting ? data_->tmpPost : data_->tmpStat;
        const char* text = posting ? "POST_BEM" : "STAT_BEM";
        const char* theirs = posting ? "POST_FNR" : "STAT_NAVN";
        row.FieldByName(text).SetAsString("Skel");
        responder_.Answer(kIdYes);
        row.Post();
        const char* file = posting ? "Poster.dbf" : "Status.dbf";
        const char* caseField = posting ? "POST_SAG" : "STAT_SAG";
        QCOMPARE(Stored(file, caseField, "26-002", {text}), QStringList({"'Skel'"}));

        TzDs::TTzDbf& other = data_->TzDbf1;  // station 2
        other.SetDbfFileName(sf_->data + file);
        other.Open();
        other.First();
        other.Edit();
        other.FieldByName(theirs).SetAsString("F1");
        other.Post();
        other.Close();

        row.Edit();
        row.FieldByName(text).SetAsString("Skelsten");
        responder_.Clear();
        responder_.Answer(kIdYes);
        row.Post();
        QCOMPARE(Stored(file, caseField, "26-002", {text, theirs}),
                 QStringList({"'Skelsten'|'F1'"}));
    }

    // Station 2 deletes a stakeholder that station 1 is changing: station 1's save is
    // refused with the rows' words, and nothing is written into the deleted record.
    void aStakeholderDeletedElsewhereIsNotSavedInto() {
        Goto("26-002");
        form_->PageSager->setCurrentIndex(2);
        form_->frameInteressent->btnNyInteressent->click();
        TzDs::TTzDbf& row = data_->InteressentDbf;
        row.FieldByName("int_tekst").SetAsString("Skel");
        responder_.Answer(kIdYes);
        row.Post();
        QCOMPARE(Stored("Interessent.dbf", "INT_SAG", "26-002", {"INT_TEKST"}),
                 QStringList({"'Skel'"}));
        TzDs::TTzDbf& other = data_->TzDbf1;  // station 2
        other.HideDeletedRecs = false;
        other.SetDbfFileName(sf_->data + "Interessent.dbf");
        other.Open();
        other.Go(1);
        QVERIFY(other.RLock());
        other.DeleteRec();
        other.UnLock();

        row.Edit();
        row.FieldByName("int_tekst").SetAsString("Nabo");
        responder_.Clear();
        responder_.Answer(kIdYes);
        row.Post();
        QVERIFY2(responder_.Texts().contains(U("Rækken er slettet af en anden bruger, intet er "
                                               "gemt !!!")),
                 qPrintable(responder_.Texts().join('|')));
        other.Go(1);
        QVERIFY(other.Deleted());
        QCOMPARE(Trim(other.FieldByName("int_tekst").AsString()), std::string("Skel"));
        other.Close();
    }

    // With the focus in the type field a navigation button shows a case of another type:
    // leaving the field asks nothing and adds no standard events.
    void aTypeNobodyChangedAsksNothing_data() {
        QTest::addColumn<QString>("button");
        QTest::newRow("Næste") << "next";
        QTest::newRow("Første") << "first";
    }
    void aTypeNobodyChangedAsksNothing() {
        QFETCH(QString, button);
        Write(sf_->data + "HandForSagsType.dbs", "[SKEL]\r\n1=A\r\n[ANDET]\r\n1=C\r\n");
        Add(data_->SagsDbf, {{"sags_nr", "26-001"}, {"sag_type", "ANDET"}});
        Goto("26-002");
        data_->SagsDbf.Edit();
        data_->SagsDbf.FieldByName("sag_type").SetAsString("SKEL");
        data_->SagsDbf.Post();
        Goto(button == "next" ? "26-001" : "26-002");
        form_->edtType->setFocus();
        QCOMPARE(form_->edtType->currentText(), button == "next" ? U("ANDET") : U("SKEL"));
        (button == "next" ? form_->btnNext : form_->BtnFirst)->click();
        QCOMPARE(form_->edtType->currentText(), button == "next" ? U("SKEL") : U("ANDET"));
        QCOMPARE(Focused(), static_cast<QWidget*>(form_->edtType));
        responder_.Clear();
        responder_.Answer(kIdYes);
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(data_->StatusDbf.RecCount(), 0);
    }

    // The role list offers; what is typed is stored as typed.
    void aTypedRoleIsStoredAsTyped() {
        Goto("26-002");
        form_->PageSager->setCurrentIndex(2);
        kj::TframeInteressent& f = *form_->frameInteressent;
        for (const char* role : {"Advokat", "Sælger"}) {
            f.btnNyInteressent->click();
            QVERIFY(Retype(f.gridInteressent, 0, U(role)));
            Key(Qt::Key_Tab);
            responder_.Answer(kIdYes);
            QVERIFY(f.gridInteressent->CommitEditor());
            f.SettleRow();
        }
        QCOMPARE(Stored("Interessent.dbf", "INT_SAG", "26-002", {"INT_TEKST"}),
                 QStringList({"'Advokat'", U("'Sælger'")}));
    }

    // A customer code refused by Gem: one click on Gendan brings back the stored code and its
    // name, asking nothing more.
    void gendanAfterARefusedCustomerCode() {
        Goto("26-002");
        QVERIFY(form_->edtKundeTekst->isVisibleTo(form_.get()));
        Type(form_->edtKunde, "k77");
        responder_.Answer(kIdNo);
        Key(Qt::Key_Tab);
        QTest::mouseClick(form_->BtnGem, Qt::LeftButton);
        QCOMPARE(Focused(), static_cast<QWidget*>(form_->edtKunde));
        QTest::mouseClick(form_->BtnGendan, Qt::LeftButton);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("Kunden :K77       findes ikke\r\nskal denne oprettes ?"),
                              U("Kunden :K77       findes ikke")}));
        QCOMPARE(data_->SagsDbf.State(), Db::dsBrowse);
        QCOMPARE(form_->edtKunde->currentText().trimmed(), U("K1002"));
        QVERIFY(form_->edtKundeTekst->isVisibleTo(form_.get()));
        QVERIFY2(form_->edtKundeTekst->text().startsWith("Kunde"),
                 qPrintable(form_->edtKundeTekst->text()));
        QVERIFY(!form_->BtnGendan->isDown());
    }

    // With Skift down, entering the customer field re-sorts the cases and so posts the edit:
    // a code found nowhere is refused there as Gem refuses it.
    void enteringAFieldInSkiftModeSavesNoUnknownCode() {
        Goto("26-002");
        form_->SkiftMode->click();
        QCOMPARE(form_->SkiftMode->text(), U("Skift i sager"));
        Type(form_->edtAnsvar, "xy");
        responder_.Answer(kIdNo);  // not created
        Key(Qt::Key_Tab);
        form_->edtKunde->setFocus();
        QCOMPARE(Stored("Sager.dbf", "SAGS_NR", "26-002", {"SAG_ANSVAR"}), QStringList({"'AB'"}));
        QCOMPARE(Stored("Sager.dbf", "SAG_ANSVAR", "XY", {"SAGS_NR"}), QStringList());
    }

    // Amounts typed into a posting's price cell: one beyond the largest is refused naming
    // what was typed and the limits in the program's number format; the largest itself is
    // taken.
    void typedAmountsAreEchoedInTheProgramsNumberFormat() {
        Goto("26-002");
        form_->PageSager->setCurrentIndex(1);
        form_->posterNyBtn->click();
        TzDs::TTzDbf& t = data_->tmpPost;
        t.FieldByName("post_antal").SetAsString("1");
        t.FieldByName("post_moms").SetAsString("0");
        QVERIFY(Retype(form_->posterGrid, 5, "1000000000000000"));
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts(),
                 QStringList({U("1 000 000 000 000 000 er ikke en gyldig værdi i feltet "
                                "'Stk.pris'. Værdien skal ligge fra -922 337 203 685 477 til "
                                "922 337 203 685 477")}));
        responder_.Clear();
        auto* editor = qobject_cast<QLineEdit*>(Focused());  // the refused value's cell, open
        QVERIFY(editor && form_->posterGrid->isAncestorOf(editor));
        editor->selectAll();
        QTest::keyClicks(editor, "922337203685477");
        Key(Qt::Key_Tab);
        QCOMPARE(responder_.Texts().join('|'), QString());
        QCOMPARE(t.FieldByName("post_pris").AsFloat(), 922337203685477.0);
        // With VAT on top the largest price makes a total with VAT no count can hold: the
        // refusal says it is the total with VAT, not the price the user typed.
        t.FieldByName("post_pris").SetAsString("1");
        t.FieldByName("post_moms").SetAsString("25");
        QVERIFY(Retype(form_->posterGrid, 5, "922337203685477"));
        Key(Qt::Key_Tab);
        QVERIFY2(responder_.Texts().join('|').startsWith(U("Beløbet med moms er for stort")),
                 qPrintable(responder_.Texts().join('|')));
    }
};

QTEST_MAIN(CaseFaultsTest)
#include "case_faults_test.moc"
