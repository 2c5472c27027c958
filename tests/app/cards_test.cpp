// The card registers (employees, customers) and the password change driven through their
// keys, edits and buttons over a real data folder, the tables read back from the files:
// new rows through the key, the duplicate refused on leaving the key field, confirmed
// deletes naming the person, the search with " Næste ", the customer type letters, a
// missing postal code created on the spot, and the password dialog's checks.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "app/bruger_form.h"
#include "app/kj_ajour.h"
#include "app/kunde_form.h"
#include "app/post_by_form.h"
#include "register_fixture.h"
#include "ui/db_controls.h"
#include "ui/db_grid.h"

using namespace kjapptest;
using kjqt::mb::kIdNo;
using kjqt::mb::kIdYes;

namespace {

QString S(const std::string& ansi) {
    return kjqt::FromAnsi(ansi);
}

// Focuses a live card control and types into it.
template <class Form>
void TypeInto(Form& f, const char* name, const QString& text, bool replace = true) {
    QWidget* w = f.template Live<QWidget>(name);
    QVERIFY(w);
    w->setFocus();
    if (replace) QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    TypeText(f, text);
}

}  // namespace

class CardsTest : public QObject {
    Q_OBJECT
    DataFixture fx_;

    void AddUsers() {
        fx_.Add(
            fx_.data->BrugerDbf,
            {{"ini", "AB"}, {"ini_fnavn", "Anne"}, {"ini_enavn", "Berg"}, {"ini_pass", "hemm"}});
        fx_.Add(fx_.data->BrugerDbf, {{"ini", "CD"}, {"ini_fnavn", "Carl"}, {"ini_enavn", "Dahl"}});
        fx_.responder.Clear();
    }

  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(U("Morvane Vaktor")); }
    void init() { fx_.Start(); }
    void cleanup() { fx_.Stop(); }

    void usersNewWithKeyDuplicateAndDelete() {
        AddUsers();
        WindowScripts ws;
        ws.On<kj::TbrugerForm>([](kj::TbrugerForm& f) {
            TypeInto(f, "edtFnavn", "Erik");
            // "Kan rette" ticked and unticked again: stored as "F" in this second new row.
            auto* ret = f.Live<QCheckBox>("chkRet");
            ret->setFocus();
            QTest::keyClick(ret, Qt::Key_Space);
            QTest::keyClick(ret, Qt::Key_Space);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowBrugerForm(0, "EF");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList{U("Skal den rettede bruger gemmes ?")});
        auto ef = RowsWith(fx_.Rows("Bruger.dbf"), "ini", "EF");
        QCOMPARE(ef.size(), size_t(1));
        QCOMPARE(S(ef[0]["ini_fnavn"]), U("Erik"));
        QCOMPARE(S(ef[0]["ini_ini"]), U("AB"));
        QCOMPARE(S(ef[0]["ini_ret"]), U("F"));

        // AB's initials changed to CD's: refused on leaving the field, CD shown.
        fx_.responder.Clear();
        QString shown;
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
            TypeInto(f, "edtKey", "cd");
            f.Live<QWidget>("edtTitel")->setFocus();
            shown = S(fx_.data->BrugerDbf.FieldByName("ini").AsString());
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        kj::ShowBrugerForm(1, "");
        QCOMPARE(fx_.responder.Texts(), QStringList{U("brugeren CD findes allerede !!!")});
        QCOMPARE(shown, U("CD"));
        QCOMPARE(RowsWith(fx_.Rows("Bruger.dbf"), "ini", "AB").size(), size_t(1));

        // Delete asks with the name; after Ctrl+Delete the Delete key stays off in the edits.
        fx_.responder.Clear();
        QString titleAfterDelete;
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            QWidget* key = f.Live<QWidget>("edtKey");
            key->setFocus();
            QTest::keyClick(key, Qt::Key_Home);
            QTest::keyClick(key, Qt::Key_Delete);
            titleAfterDelete = static_cast<QLineEdit*>(key)->text();
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdNo);
        fx_.responder.Answer(kIdYes);
        kj::ShowBrugerForm(3, "");
        const QString q = U("Skal denne bruger slettes ?\r\nErik ");
        QCOMPARE(fx_.responder.Texts(), QStringList({q, q}));
        QVERIFY(RowsWith(fx_.Rows("Bruger.dbf"), "ini", "EF")[0].deleted);
        QVERIFY(!titleAfterDelete.isEmpty());
    }

    // Both registers' first record in an empty folder through the " Ny ..." button: the
    // card is enabled, the caret at the key's first position, the typed key stored, and a
    // user nobody gave the right to change data stored without it.
    void firstRecordThroughTheNewButton() {
        QCOMPARE(fx_.Rows("Bruger.dbf").size(), size_t(0));
        fx_.data->AjourInitials.clear();  // the button asks for them first
        WindowScripts ws;
        bool enabled = false;
        int caret = -1;
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
            QTest::mouseClick(f.NyBtn, Qt::LeftButton);
            enabled = f.Grid->LivePanel()->isEnabled();
            if (auto* e = qobject_cast<QLineEdit*>(FocusIn(f))) caret = e->cursorPosition();
            TypeText(f, "gh");
            QTest::keyClick(FocusIn(f), Qt::Key_Tab);  // one field on: the title
            TypeText(f, "Cand");
            TypeInto(f, "edtFnavn", "Gitte");
            QCOMPARE(fx_.data->AjourInitials, std::string("AB"));
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        ws.On<kj::TKodeOrdsDialog>([](kj::TKodeOrdsDialog& d) {
            QTest::keyClicks(d.EdtAjourIni, "ab");
            d.accept();
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowBrugerForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QVERIFY(enabled);
        QCOMPARE(caret, 0);
        auto users = fx_.Rows("Bruger.dbf");
        QCOMPARE(users.size(), size_t(1));
        QCOMPARE(S(users[0]["ini"]), U("GH"));
        QCOMPARE(S(users[0]["ini_titel"]), U("Cand"));
        QCOMPARE(S(users[0]["ini_fnavn"]), U("Gitte"));
        QCOMPARE(S(users[0]["ini_ret"]), U("F"));  // the check box never touched

        fx_.responder.Clear();
        enabled = false;
        ws.On<kj::TkundeForm>([&](kj::TkundeForm& f) {
            QTest::mouseClick(f.NyBtn, Qt::LeftButton);
            enabled = f.Grid->LivePanel()->isEnabled();
            TypeText(f, "k7");
            TypeInto(f, "edtFnavn", "Ole");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowKundeForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QVERIFY(enabled);
        auto rows = fx_.Rows("Kunde.dbf");
        QCOMPARE(rows.size(), size_t(1));
        QCOMPARE(S(rows[0]["mak_id"]), U("K7"));
        QCOMPARE(S(rows[0]["mak_fnavn"]), U("Ole"));
    }

    // Gendan on a new card, by the button or Ctrl+Backspace, in an empty register and in
    // one with records: the card is dropped without a word, and nothing is stored.
    void undoOfANewCardIsSilentInEmptyAndFilledRegisters() {
        auto undoTwice = [](auto& f) {
            QTest::mouseClick(f.NyBtn, Qt::LeftButton);
            TypeText(f, "zz");
            CtrlKey(FocusIn(f), Qt::Key_Backspace);
            QTest::mouseClick(f.NyBtn, Qt::LeftButton);
            TypeText(f, "zy");
            TypeInto(f, "edtFnavn", "Navn");
            QTest::mouseClick(f.GendanBtn, Qt::LeftButton);
            QTest::mouseClick(f.NyBtn, Qt::LeftButton);
            QTest::mouseClick(f.GendanBtn, Qt::LeftButton);
            CtrlKey(FocusIn(f), Qt::Key_X);
        };
        for (bool filled : {false, true}) {
            if (filled) {
                AddUsers();
                fx_.Add(fx_.data->KundeDbf, {{"mak_id", "K1"}, {"mak_fnavn", "Jens"}});
            }
            fx_.responder.Clear();
            WindowScripts ws;
            ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) { undoTwice(f); });
            kj::ShowBrugerForm(0, "");
            ws.On<kj::TkundeForm>([&](kj::TkundeForm& f) { undoTwice(f); });
            kj::ShowKundeForm(0, "");
            QCOMPARE(ws.timedOut, 0);
            QCOMPARE(fx_.responder.Texts().join(" | "), QString());
            QCOMPARE(fx_.Rows("Bruger.dbf").size(), size_t(filled ? 2 : 0));
            QCOMPARE(fx_.Rows("Kunde.dbf").size(), size_t(filled ? 1 : 0));
        }
    }

    // Closing with Ctrl+X while still in the key field checks the key before the save.
    void duplicateKeyRefusedWhenClosingFromTheKeyField() {
        AddUsers();
        WindowScripts ws;
        ws.On<kj::TbrugerForm>([](kj::TbrugerForm& f) {
            TypeInto(f, "edtKey", "cd");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowBrugerForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList({U("Skal den rettede bruger gemmes ?"),
                                                     U("brugeren CD findes allerede !!!")}));
        auto users = fx_.Rows("Bruger.dbf");
        QCOMPARE(RowsWith(users, "ini", "CD").size(), size_t(1));
        QCOMPARE(RowsWith(users, "ini", "AB").size(), size_t(1));

        fx_.Add(fx_.data->KundeDbf, {{"mak_id", "K1"}, {"mak_fnavn", "Jens"}});
        fx_.responder.Clear();
        ws.On<kj::TkundeForm>([](kj::TkundeForm& f) {
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeText(f, "k1");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowKundeForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList({U("Skal den rettede kunde gemmes ?"),
                                                     U("kunden K1 findes allerede !!!")}));
        QCOMPARE(fx_.Rows("Kunde.dbf").size(), size_t(1));
    }

    void usersBackspaceEditsAndCtrlBackspaceUndoes() {
        AddUsers();
        WindowScripts ws;
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
            TypeInto(f, "edtFnavn", "Annie");
            QTest::keyClick(FocusIn(f), Qt::Key_Backspace);
            QTest::keyClick(FocusIn(f), Qt::Key_Backspace);
            TypeText(f, "a");  // "Anna"
            f.Live<QWidget>("edtEnavn")->setFocus();
            QCOMPARE(fx_.data->BrugerDbf.State(), Db::dsEdit);
            TypeInto(f, "edtEnavn", "Xxx");
            CtrlKey(FocusIn(f), Qt::Key_Backspace);  // drops the whole change
            QCOMPARE(fx_.data->BrugerDbf.State(), Db::dsBrowse);
            TypeInto(f, "edtFnavn", "Anna");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowBrugerForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        auto ab = RowsWith(fx_.Rows("Bruger.dbf"), "ini", "AB");
        QCOMPARE(S(ab[0]["ini_fnavn"]), U("Anna"));
        QCOMPARE(S(ab[0]["ini_enavn"]), U("Berg"));
    }

    void passwordChange() {
        AddUsers();
        WindowScripts ws;
        ws.On<kj::TbrugerForm>([](kj::TbrugerForm& f) {
            QTest::mouseClick(f.SkiftKodeordBtn, Qt::LeftButton);
            f.FocusKey();
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        bool stayedOpen = false;
        ws.On<kj::TSkiftKodeordForm>([&](kj::TSkiftKodeordForm& d) {
            QTest::keyClicks(d.EdtGammel, "forkert");
            QTest::mouseClick(d.OKBtn, Qt::LeftButton);
            stayedOpen = d.isVisible();
            d.EdtGammel->clear();
            QTest::keyClicks(d.EdtGammel, "hemm");
            QTest::keyClicks(d.EdtNy, "nyt1");
            QTest::keyClicks(d.EdtGentag, "nyt2");
            QTest::mouseClick(d.OKBtn, Qt::LeftButton);
            stayedOpen = stayedOpen && d.isVisible();
            d.EdtNy->clear();
            d.EdtGentag->clear();
            QTest::keyClicks(d.EdtNy, " nyt ");
            QTest::keyClicks(d.EdtGentag, "nyt");
            QTest::mouseClick(d.OKBtn, Qt::LeftButton);
        });
        fx_.responder.Answer(kjqt::mb::kIdOk);
        fx_.responder.Answer(kjqt::mb::kIdOk);
        fx_.responder.Answer(kIdYes);
        kj::ShowBrugerForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        QVERIFY(stayedOpen);
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("Forkert kodeord !!!"), U("Forkert kodeord !!!"),
                              U("Skal den rettede bruger gemmes ?")}));
        QCOMPARE(S(RowsWith(fx_.Rows("Bruger.dbf"), "ini", "AB")[0]["ini_pass"]), U("nyt"));

        // Slut leaves the password as it was.
        QCOMPARE(kj::SkiftKodeord("nyt", *std::make_unique<std::string>()), false);
    }

    // A record another station holds locked: the password change and the delete say so and
    // change nothing.
    void lockedRecordIsReportedNotSilentlySkipped() {
        AddUsers();
        TzDs::TTzDbf other;  // a handle of its own, as another station has
        other.SetDbfFileName(fx_.sf->data + "Bruger.dbf");
        other.SetActive(true);
        other.First();
        QVERIFY(other.RLock());
        WindowScripts ws;
        ws.On<kj::TbrugerForm>([](kj::TbrugerForm& f) {
            QTest::mouseClick(f.SkiftKodeordBtn, Qt::LeftButton);
            f.FocusKey();
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        ws.On<kj::TSkiftKodeordForm>([](kj::TSkiftKodeordForm& d) {
            QTest::keyClicks(d.EdtGammel, "hemm");
            QTest::keyClicks(d.EdtNy, "nyt");
            QTest::keyClicks(d.EdtGentag, "nyt");
            QTest::mouseClick(d.OKBtn, Qt::LeftButton);
        });
        fx_.responder.Answer(kjqt::mb::kIdOk);
        fx_.responder.Answer(kIdYes);  // delete AB
        fx_.responder.Answer(kjqt::mb::kIdOk);
        kj::ShowBrugerForm(1, "");
        other.UnLock();
        QCOMPARE(ws.timedOut, 0);
        const QString inUse = U("Rækken er i brug af en anden bruger, intet er ændret !!!");
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({inUse, U("Skal denne bruger slettes ?\r\nAnne Berg"), inUse}));
        auto ab = RowsWith(fx_.Rows("Bruger.dbf"), "ini", "AB");
        QCOMPARE(S(ab[0]["ini_pass"]), U("hemm"));
        QVERIFY(!ab[0].deleted);
    }

    // After " Søg " and " Næste " the focus is back in the card, so the card keys work at
    // once: Ctrl+Ins starts a new card, in both registers.
    void cardKeysWorkRightAfterASearch() {
        AddUsers();
        fx_.Add(fx_.data->KundeDbf, {{"mak_id", "K1"}, {"mak_fnavn", "Carl"}});
        fx_.Add(fx_.data->KundeDbf, {{"mak_id", "K2"}, {"mak_fnavn", "Carla"}});
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList seen;
        auto script = [&seen](auto& f, TzDs::TTzDbf& t) {
            for (QPushButton* button : {f.SoegBtn, f.NaesteBtn}) {
                button->setFocus();  // as the click of a real pointer gives it
                QTest::mouseClick(button, Qt::LeftButton);
                CtrlKey(FocusIn(f), Qt::Key_Insert);
                seen << QString::number(t.State());
                CtrlKey(FocusIn(f), Qt::Key_Backspace);
            }
            CtrlKey(FocusIn(f), Qt::Key_X);
        };
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) { script(f, fx_.data->BrugerDbf); });
        fx_.responder.AnswerText("Carl");
        kj::ShowBrugerForm(1, "");
        ws.On<kj::TkundeForm>([&](kj::TkundeForm& f) { script(f, fx_.data->KundeDbf); });
        fx_.responder.AnswerText("Carl");
        kj::ShowKundeForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        const QString insert = QString::number(Db::dsInsert);
        QCOMPARE(seen, QStringList({insert, insert, insert, insert}));
    }

    // The search leaves the password out: its text finds no user.
    void searchLeavesThePasswordOut() {
        AddUsers();
        WindowScripts ws;
        QString shown;
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
            QTest::mouseClick(f.SoegBtn, Qt::LeftButton);
            shown = S(fx_.data->BrugerDbf.FieldByName("ini").AsString());
            f.FocusKey();
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.AnswerText("emm");
        kj::ShowBrugerForm(2, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("\"søgeordet\" søges i alle felter i brugerdata"),
                              U("\"søgeordet\" emm findes ikke i brugerdata !!!")}));
        QCOMPARE(shown, U("CD"));
    }

    // A new card typed in full and then " Søg ": the card is saved by the register's rules
    // (its question) before the search moves the table; on No it is dropped.
    void searchSettlesTheCardBeingTyped() {
        AddUsers();
        WindowScripts ws;
        for (const bool keep : {true, false}) {
            ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
                CtrlKey(FocusIn(f), Qt::Key_Insert);
                TypeText(f, keep ? "gh" : "ij");
                TypeInto(f, "edtFnavn", "Gitte");
                QTest::mouseClick(f.SoegBtn, Qt::LeftButton);
                f.FocusKey();
                CtrlKey(FocusIn(f), Qt::Key_X);
            });
            fx_.responder.Clear();
            fx_.responder.Answer(keep ? kIdYes : kIdNo);
            fx_.responder.AnswerText("anne");
            kj::ShowBrugerForm(0, "");
            QCOMPARE(ws.timedOut, 0);
            QCOMPARE(fx_.responder.Texts(),
                     QStringList({U("Skal den rettede bruger gemmes ?"),
                                  U("\"søgeordet\" søges i alle felter i brugerdata")}));
        }
        QCOMPARE(RowsWith(fx_.Rows("Bruger.dbf"), "ini", "GH").size(), size_t(1));
        QCOMPARE(RowsWith(fx_.Rows("Bruger.dbf"), "ini", "IJ").size(), size_t(0));
    }

    void usersSearchWithNext() {
        AddUsers();
        fx_.Add(fx_.data->BrugerDbf, {{"ini", "EB"}, {"ini_fnavn", "Eva"}, {"ini_enavn", "Berg"}});
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList found;
        auto ini = [&] { return S(fx_.data->BrugerDbf.FieldByName("ini").AsString()); };
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) {
            QTest::mouseClick(f.SoegBtn, Qt::LeftButton);
            found << ini() << QString::number(f.NaesteBtn->isEnabled());
            QTest::mouseClick(f.NaesteBtn, Qt::LeftButton);
            found << ini();
            QTest::mouseClick(f.NaesteBtn, Qt::LeftButton);  // none left: start again
            found << ini();
            QTest::mouseClick(f.SoegBtn, Qt::LeftButton);  // an absent word
            found << QString::number(f.NaesteBtn->isEnabled());
            f.FocusKey();
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.AnswerText("berg");
        fx_.responder.Answer(kIdYes);
        fx_.responder.AnswerText("zzz");
        kj::ShowBrugerForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(found, QStringList({"AB", "1", "EB", "AB", "0"}));
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("\"søgeordet\" søges i alle felter i brugerdata"),
                              U("Der er ikke flere brugere med \"søgeordet\" berg, start forfra ?"),
                              U("\"søgeordet\" søges i alle felter i brugerdata"),
                              U("\"søgeordet\" zzz findes ikke i brugerdata !!!")}));
        QCOMPARE(fx_.responder.Asked()[0].caption, U("Indtast søgeord"));
    }

    void customersTypeAndMissingPostalCodeCreated() {
        fx_.Add(fx_.data->PostnrDbf, {{"pst_nr", "8000"}, {"pst_by", "Aarhus C"}});
        fx_.Add(fx_.data->KundeDbf,
                {{"mak_id", "K1"}, {"mak_fnavn", "Jens"}, {"mak_postnr", "8000"}});
        const auto postnrRule = fx_.data->PostnrDbf.BeforePost;
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList seen;
        auto town = [](kj::TkundeForm& f) { return f.Live<QLabel>("lblBy")->text(); };
        ws.On<kj::TkundeForm>([&](kj::TkundeForm& f) {
            seen << town(f);
            QWidget* type = f.Live<QWidget>("edtType");
            type->setFocus();
            QTest::keyClicks(type, "o");
            seen << f.Live<QLabel>("lblType")->text();
            QTest::keyClicks(type, "x");
            seen << f.Live<QLabel>("lblType")->text()
                 << S(fx_.data->KundeDbf.FieldByName("mak_type").AsString());
            TypeInto(f, "edtPostnr", "1234");
            f.Live<QWidget>("edtAtt")->setFocus();  // declined
            seen << town(f);
            TypeInto(f, "edtPostnr", "9999");
            f.Live<QWidget>("edtAtt")->setFocus();  // created in the postal register
            seen << town(f) << QString::number(FocusIn(f) == f.Live<QWidget>("edtTlf"));
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        ws.On<kj::TPostnrForm>([](kj::TPostnrForm& p) {
            p.Grid->setFocus();
            p.Grid->SetSelectedIndex(1);
            TypeText(p, "Fjernby");
            CtrlKey(FocusIn(p), Qt::Key_X);
        });
        fx_.responder.Answer(kIdNo);   // 1234: not created
        fx_.responder.Answer(kIdYes);  // 9999: create
        fx_.responder.Answer(kIdYes);  // save the postal code
        fx_.responder.Answer(kIdYes);  // save the customer
        kj::ShowKundeForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(seen,
                 QStringList({"Aarhus C", "Offentlig", "", "O", " Ikke fundet ", "Fjernby", "1"}));
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("postnr :1234findes ikke\r\nskal denne oprettes ?"),
                              U("postnr :9999findes ikke\r\nskal denne oprettes ?"),
                              U("Skal det rettede postnr gemmes ?"),
                              U("Skal den rettede kunde gemmes ?")}));
        QVERIFY(fx_.data->PostnrDbf.BeforePost == postnrRule);  // the nested swap given back
        auto k1 = RowsWith(fx_.Rows("Kunde.dbf"), "mak_id", "K1");
        QCOMPARE(S(k1[0]["mak_type"]), U("O"));
        QCOMPARE(S(k1[0]["mak_postnr"]), U("9999"));
        QCOMPARE(S(RowsWith(fx_.Rows("PostBy.dbf"), "pst_nr", "9999")[0]["pst_by"]), U("Fjernby"));
    }

    // A postal code longer than 4 characters is looked up whole in both cards: "21000" is
    // not 2100's town, and "99999" is offered for creation as typed, never cut to "9999".
    void longPostalCodesAreNeverCut() {
        fx_.Add(fx_.data->PostnrDbf, {{"pst_nr", "2100"}, {"pst_by", "Kbh Oe"}});
        fx_.Add(fx_.data->PostnrDbf, {{"pst_nr", "9999"}, {"pst_by", "Fjernby"}});
        fx_.Add(fx_.data->BrugerDbf, {{"ini", "AB"}, {"ini_postnr", "21000"}});
        fx_.Add(fx_.data->KundeDbf, {{"mak_id", "K1"}, {"mak_postnr", "21000"}});
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList towns;
        auto script = [&towns](auto& f) {
            towns << f.template Live<QLabel>("lblBy")->text();
            TypeInto(f, "edtPostnr", "99999");
            f.template Live<QWidget>("edtTlf")->setFocus();  // declined
            towns << f.template Live<QLabel>("lblBy")->text();
            CtrlKey(FocusIn(f), Qt::Key_X);
        };
        ws.On<kj::TbrugerForm>([&](kj::TbrugerForm& f) { script(f); });
        fx_.responder.Answer(kIdNo);
        fx_.responder.Answer(kIdYes);
        kj::ShowBrugerForm(1, "");
        ws.On<kj::TkundeForm>([&](kj::TkundeForm& f) { script(f); });
        fx_.responder.Answer(kIdNo);
        fx_.responder.Answer(kIdYes);
        kj::ShowKundeForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(towns,
                 QStringList({" Ikke fundet ", " Ikke fundet ", " Ikke fundet ", " Ikke fundet "}));
        QCOMPARE(fx_.responder.Texts().join(" | "),
                 U("postnr :99999findes ikke\r\nskal det oprettes ? | "
                   "Skal den rettede bruger gemmes ? | "
                   "postnr :99999findes ikke\r\nskal denne oprettes ? | "
                   "Skal den rettede kunde gemmes ?"));
        QCOMPARE(fx_.Rows("Bruger.dbf")[0]["ini_postnr"], std::string("99999"));
        QCOMPARE(fx_.Rows("Kunde.dbf")[0]["mak_postnr"], std::string("99999"));
    }

    // The customer card shows its change date beside the other stamps, as the user card does.
    void customerCardShowsItsChangeDate() {
        fx_.Add(fx_.data->KundeDbf, {{"mak_id", "K1"}, {"mak_fnavn", "Jens"}});
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList seen;
        ws.On<kj::TkundeForm>([&](kj::TkundeForm& f) {
            for (QLabel* l : f.Grid->LivePanel()->findChildren<QLabel*>()) {
                if (l->text() == U(" Ajourført d. ")) seen << l->text();
                if (auto* t = dynamic_cast<kjqt::TDBText*>(l); t && t->DataField() == "mak_ajour")
                    seen << t->text();
            }
            f.FocusKey();
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        kj::ShowKundeForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        const QString today = S(fx_.data->KundeDbf.FieldByName("mak_ajour").AsString());
        QVERIFY(!today.trimmed().isEmpty());
        QCOMPARE(seen, QStringList({U(" Ajourført d. "), today}));
    }

    void customersNewDuplicateAndDelete() {
        fx_.Add(fx_.data->KundeDbf,
                {{"mak_id", "K1"}, {"mak_fnavn", "Jens"}, {"mak_enavn", "Hansen"}});
        fx_.responder.Clear();
        WindowScripts ws;
        ws.On<kj::TkundeForm>([](kj::TkundeForm& f) {
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeInto(f, "edtKey", "k1");
            f.Live<QWidget>("edtFnavn")->setFocus();  // refused: K1 exists
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeInto(f, "edtKey", "k2");
            TypeInto(f, "edtFnavn", "Ole");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kjqt::mb::kIdOk);
        fx_.responder.Answer(kIdYes);
        kj::ShowKundeForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList({U("kunden K1 findes allerede !!!"),
                                                     U("Skal den rettede kunde gemmes ?")}));
        auto rows = fx_.Rows("Kunde.dbf");
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(S(RowsWith(rows, "mak_id", "K2")[0]["mak_fnavn"]), U("Ole"));

        fx_.responder.Clear();
        ws.On<kj::TkundeForm>([](kj::TkundeForm& f) {
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowKundeForm(1, "");
        QCOMPARE(fx_.responder.Texts(),
                 QStringList{U("Skal denne kunde slettes ?\r\nJens Hansen")});
        QVERIFY(RowsWith(fx_.Rows("Kunde.dbf"), "mak_id", "K1")[0].deleted);
    }
};

QTEST_MAIN(CardsTest)
#include "cards_test.moc"
