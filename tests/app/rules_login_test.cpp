// The data module's record rules and calculated fields over a real data folder (money in
// ten-thousandths, stamps, questions, look-ups on the key tag whatever the cursor's order),
// the login dialog driven through its keys, and the helper routines and windows.
#include <QProgressBar>
#include <functional>

#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/prog_dlg.h"
#include "app_fixture.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"
#include "ui/application.h"

using namespace kjapptest;
using kj::Ansi;
using kjqt::mb::kIdNo;
using kjqt::mb::kIdYes;

class RulesLoginTest : public QObject {
    Q_OBJECT

    kjqt::ScriptedResponder responder_;
    std::unique_ptr<StartFolder> sf_;
    std::unique_ptr<kj::TKJData> data_;

    void Start() {
        data_ = NewDataModule();
        QVERIFY(kj::OpenStartupData(*data_, "T3=" + sf_->start, nullptr));
        responder_.Clear();
    }
    void Stop() { CloseDataModule(data_); }
    void AddPostnr(const char* nr, const char* by) {
        data_->PostnrDbf.Append();
        data_->PostnrDbf.FieldByName("pst_nr").SetAsString(nr);
        data_->PostnrDbf.FieldByName("pst_by").SetAsString(by);
        responder_.Answer(kIdYes);
        data_->PostnrDbf.Post();
    }
    void AddUser(const char* ini, bool ret, const char* pass, const char* postnr = "") {
        data_->BrugerDbf.Append();
        data_->BrugerDbf.FieldByName("ini").SetAsString(ini);
        data_->BrugerDbf.FieldByName("ini_fnavn").SetAsString("Anne");
        data_->BrugerDbf.FieldByName("ini_enavn").SetAsString("Berg");
        data_->BrugerDbf.FieldByName("ini_postnr").SetAsString(postnr);
        data_->BrugerDbf.FieldByName("ini_ret").SetAsBoolean(ret);
        data_->BrugerDbf.FieldByName("ini_pass").SetAsString(pass);
        responder_.Answer(kIdYes);
        data_->BrugerDbf.Post();
    }
    kj::TKJData::PostingAmounts Posting(const char* dk, double antal, double pris, double rabat,
                                        double moms) {
        Db::TDataSet& p = data_->PostDbf;
        p.Append();
        p.FieldByName("post_sag").SetAsString("S1");
        p.FieldByName("post_dk").SetAsString(dk);
        p.FieldByName("post_antal").SetAsFloat(antal);
        p.FieldByName("post_pris").SetAsFloat(pris);
        p.FieldByName("post_rabat").SetAsFloat(rabat);
        p.FieldByName("post_moms").SetAsFloat(moms);
        responder_.Answer(kIdYes);
        p.Post();
        return {p.FieldByName("Total").AsCurrency(), p.FieldByName("Moms").AsCurrency(),
                Db::FloatToCurr(p.FieldByName("IAlt").AsFloat())};
    }

  private slots:
    void initTestCase() { AnswerAllBy(responder_); }
    void init() {
        sf_ = FreshStartFolder(responder_, "Firma", "Vej");
        AnswerFirstStart(*sf_, responder_);
        Start();
        data_->AjourInitials = "AB";
    }
    void cleanup() { Stop(); }

    void postingAmountsInTenThousandths() {
        auto a = Posting("D", 1.5, 100.00, 10.00, 25);
        QCOMPARE(a.total, int64_t(1350000));
        QCOMPARE(a.moms, int64_t(337500));
        QCOMPARE(a.ialt, int64_t(1687500));
        a = Posting("K", 1.5, 100.00, 10.00, 25);
        QCOMPARE(a.total, int64_t(-1350000));
        QCOMPARE(a.ialt, int64_t(-1687500));
        a = Posting("k", 1.5, 100.00, 10.00, 25);  // only a capital K credits
        QCOMPARE(a.total, int64_t(1350000));
        // Four decimals kept: 0.33 (the field holds two decimals) × 0.01.
        QCOMPARE(kj::TKJData::CalcPosting("D", 3330, 100, 0, 0).total, int64_t(33));
        // Ties go to the even ten-thousandth.
        QCOMPARE(kj::TKJData::CalcPosting("D", 1, 5000, 0, 0).total, int64_t(0));
        QCOMPARE(kj::TKJData::CalcPosting("D", 1, 15000, 0, 0).total, int64_t(2));
        QCOMPARE(kj::TKJData::CalcPosting("D", 10000, 10, 0, 50 * 10000).moms, int64_t(5));
        // Amounts far beyond a double's exact range stay exact.
        QCOMPARE(
            kj::TKJData::CalcPosting("D", 1000000LL * 10000 + 1, 9000000LL * 10000, 0, 0).total,
            int64_t(9000000000000LL) * 10000 + 9000000LL);
        // Beyond what a posting can hold: refused with a message, never a changed sign.
        const QString limit = QString::fromUtf8(
            " er for stort: en postering kan højst være på 922 337 203 685 477 kr.");
        const QString total = QString::fromUtf8("Beløbet") + limit;
        const QString withVat = QString::fromUtf8("Beløbet med moms") + limit;
        for (auto [calc, text] : std::vector<std::pair<std::function<void()>, QString>>{
                 {[] {
                      kj::TKJData::CalcPosting("D", 10000LL * 10000, 1000000000000LL * 10000, 0, 0);
                  },
                  total},
                 {[] {
                      kj::TKJData::CalcPosting("K", 10000LL * 10000, 1000000000000LL * 10000, 0, 0);
                  },
                  total},
                 {[] {
                      kj::TKJData::CalcPosting("D", 10000, 900000000000000LL * 10000, 0,
                                               25 * 10000);
                  },
                  withVat}}) {
            try {
                calc();
                QFAIL("no error");
            } catch (const Db::EDatabaseError& e) {
                QCOMPARE(kjqt::FromAnsi(e.what()), text);
            }
        }
    }

    // A typed price or discount no money count can hold is refused by its field, in Danish
    // and naming the field, and the posting keeps its value (one stored by another program
    // counts as 0 with a message instead: see the data-files test).
    void amountsBeyondAMoneyCountAreRefusedWhenTyped() {
        Db::TDataSet& p = data_->PostDbf;
        p.Append();
        p.FieldByName("post_pris").SetAsFloat(12.5);
        for (const char* field : {"post_pris", "post_rabat"})
            for (const char* typed : {"1000000000000000", "-1e15", "99999999999999999999"}) {
                try {
                    p.FieldByName(field).SetAsString(typed);
                    QFAIL(qPrintable(QString("accepted ") + typed));
                } catch (const Db::EDatabaseError& e) {
                    const QString said = kjqt::FromAnsi(e.what());
                    QVERIFY2(said.contains(U("er ikke en gyldig værdi i feltet")),
                             qPrintable(said));
                }
            }
        QCOMPARE(p.FieldByName("post_pris").AsCurrency(), int64_t(125000));
        p.FieldByName("post_pris").SetAsString("900000000000000");  // within the range
        QCOMPARE(p.FieldByName("post_pris").AsCurrency(), int64_t(9000000000000000000));
        // A typed quantity that makes the total too large is refused as well.
        try {
            p.FieldByName("post_antal").SetAsString("9999999.99");
            QFAIL("a total beyond a posting taken");
        } catch (const Db::EDatabaseError& e) {
            QVERIFY2(kjqt::FromAnsi(e.what()).startsWith(U("Beløbet er for stort")), e.what());
        }
        p.Cancel();
    }

    void stampsQuestionsAndUpperCasedKeys() {
        TzDs::TTzDbf& v = data_->VareDbf;
        v.Append();
        QCOMPARE(v.FieldByName("tmu_ini").AsString(), std::string("AB"));
        QCOMPARE(v.FieldByName("tmu_opret").AsDateTime(), Db::Today());
        v.FieldByName("tmu_id").SetAsString(Ansi("æble"));
        responder_.Answer(kIdYes);
        v.Post();
        QCOMPARE(responder_.Texts(),
                 QStringList({QStringLiteral("Skal den rettede vare gemmes ?")}));
        QCOMPARE(v.FieldByName("tmu_id").AsString(), Ansi("ÆBLE"));
        v.Edit();
        v.FieldByName("tmu_bem").SetAsString("ny tekst");
        responder_.Answer(kIdNo);
        v.Post();
        QCOMPARE(v.State(), Db::dsBrowse);
        QCOMPARE(v.FieldByName("tmu_bem").AsString(), std::string());
        // A group gets priority 100; a case is saved without a question.
        data_->vareGDbf.Append();
        QCOMPARE(data_->vareGDbf.FieldByName("priori").AsInteger(), 100);
        data_->vareGDbf.Cancel();
        responder_.Clear();
        data_->SagsDbf.Append();
        data_->SagsDbf.FieldByName("sags_nr").SetAsString("s-1");
        data_->SagsDbf.Post();
        QCOMPARE(responder_.Texts(), QStringList());
        QCOMPARE(data_->SagsDbf.FieldByName("sag_ini").AsString(), std::string("AB"));
    }

    void withoutInitialsEveryChangeIsCancelled() {
        data_->AjourInitials.clear();
        LoginAnswerer login;  // nothing queued: Cancel
        const int before = data_->PostnrDbf.RecCount();
        data_->PostnrDbf.Append();
        QCOMPARE(data_->PostnrDbf.State(), Db::dsBrowse);
        QCOMPARE(data_->PostnrDbf.RecCount(), before);
        QCOMPARE(login.Shown(), 1);
        QCOMPARE(responder_.Texts(), QStringList());
    }

    void caseFields() {
        TzDs::TTzDbf& s = data_->SagsDbf;
        s.Append();
        s.FieldByName("sags_nr").SetAsString("ab");
        s.FieldByName("sags_bem").SetAsString("Skel");
        s.Post();
        QCOMPARE(s.FieldByName("SagBeskriv").AsString(), std::string("AB        Skel"));
        QCOMPARE(s.FieldByName("SagenErLukket").AsBoolean(), false);
        const struct {
            double offset;
            bool closed;
        } cases[] = {{1, false}, {0, true}, {-3, true}};
        for (const auto& c : cases) {
            s.Edit();
            s.FieldByName("sag_afslut").SetAsDateTime(Db::Today() + c.offset);
            s.Post();
            QCOMPARE(s.FieldByName("SagenErLukket").AsBoolean(), c.closed);
        }
    }

    void lookUpsUseTheKeyTagWhateverTheOrder() {
        AddPostnr("8000", "Aarhus C");
        AddPostnr("1000", Ansi("København K").c_str());
        data_->KundeDbf.Append();
        data_->KundeDbf.FieldByName("mak_id").SetAsString("k1");
        data_->KundeDbf.FieldByName("mak_fnavn").SetAsString("Ole");
        data_->KundeDbf.FieldByName("mak_enavn").SetAsString("Hansen");
        responder_.Answer(kIdYes);
        data_->KundeDbf.Post();
        // Cursors in other orders than the key tags, each on its last row.
        QVERIFY(data_->PostnrDbf.SetOrderToTag("BYNAVN"));
        data_->PostnrDbf.Last();
        const int postnrRow = data_->PostnrDbf.RecNo();
        QVERIFY(data_->KundeDbf.SetOrderToTag("KUNDENAVN"));
        AddUser("ab", false, "", "8000");
        QCOMPARE(data_->BrugerDbf.FieldByName("BrugerPostBy").AsString(),
                 std::string("8000 Aarhus C"));
        QCOMPARE(data_->BrugerDbf.FieldByName("IdOgNavn").AsString(),
                 std::string("AB         Anne Berg"));
        AddUser("cd", false, "", "9999");
        QCOMPARE(data_->BrugerDbf.FieldByName("BrugerPostBy").AsString(), std::string("9999"));
        QCOMPARE(TzCommon::TrimRight(data_->PostnrDbf.CurrentTag()), std::string("BYNAVN"));
        QCOMPARE(data_->PostnrDbf.RecNo(), postnrRow);
        data_->InteressentDbf.Append();
        data_->InteressentDbf.FieldByName("int_id").SetAsString("K1");
        responder_.Answer(kIdYes);
        data_->InteressentDbf.Post();
        QCOMPARE(data_->InteressentDbf.FieldByName("INT_NAVN").AsString(),
                 std::string("Ole Hansen"));
        QCOMPARE(TzCommon::TrimRight(data_->KundeDbf.CurrentTag()), std::string("KUNDENAVN"));
    }

    void loginWithoutRightsAcceptsAnyInitials() {
        data_->AjourInitials.clear();
        LoginAnswerer login;
        login.Add("zq");
        QCOMPARE(data_->GetAjourInitials(), std::string("ZQ"));
        QCOMPARE(data_->GetAjourInitials(), std::string("ZQ"));  // cached
        QCOMPARE(login.Shown(), 1);
        QVERIFY(!login.LastPasswordEnabled);
        QCOMPARE(login.LastText,
                 kjqt::FromAnsi(
                     Ansi("Eftersom der ikke er oprettet en bruger\r\nhvor feltet \"Kan rette\" er "
                          "sat, vil alle\r\ninitialer, der indtastes, blive accepteret")));
        data_->AjourInitials.clear();
        login.Add("");
        QCOMPARE(data_->GetAjourInitials(), std::string());
    }

    void loginWithRightsChecksUsersAndPasswords() {
        AddUser("ab", true, "hemmelig");
        AddUser("cd", false, "x");
        AddUser("ef", true, "");
        Stop();
        ResetEngine();
        Start();
        QVERIFY(data_->IniRet);
        data_->BrugerBufDbf.Last();  // any order and row: the look-up uses the BRUGER tag
        LoginAnswerer login;
        login.Add("ab", "HEMMELIG");
        login.Add("ab", "hemmelig");
        QCOMPARE(data_->AskAjourInitials(), std::string("AB"));
        QCOMPARE(responder_.Texts(), QStringList({QStringLiteral("Forkert kodeord !!!")}));
        QVERIFY(login.LastPasswordEnabled);
        QCOMPARE(login.LastText,
                 kjqt::FromAnsi(
                     Ansi("Der er oprettet bruger(e) med feltet \"Kan rette\"\r\nsat, derfor vil "
                          "kun initialer for disse brugere\r\nhave rettighed til at rette data")));
        responder_.Clear();
        login.Add("cd", "x");
        QCOMPARE(data_->AskAjourInitials(), std::string());
        QCOMPARE(responder_.Texts(),
                 QStringList(
                     {kjqt::FromAnsi(Ansi("Du har ikke rettigheder til at ændre indholdet !!!"))}));
        responder_.Clear();
        login.Add("xx", "");  // unknown: asked again, then cancelled
        QCOMPARE(data_->AskAjourInitials(), std::string());
        QCOMPARE(responder_.Texts(), QStringList());
        login.Add("ef", "anything");
        QCOMPARE(data_->AskAjourInitials(), std::string("EF"));
        QCOMPARE(login.Pending(), 0);
    }

    void helperRoutines() {
        std::string s = "{|}[\\]";
        kj::DosToAnsi(s);
        QCOMPARE(s, Ansi("æøåÆØÅ"));
        QCOMPARE(kj::OemToAnsi(std::string("\x91\x9B\x86")), Ansi("æøå"));
        QCOMPARE(kj::RoundToInt(3e10), 2147483647);
        QCOMPARE(kj::RoundToInt(-3e10), -2147483647);
        QCOMPARE(kj::PosFrom(0, "abcabc", "c"), 3);
        QCOMPARE(kj::PosFrom(4, "abcabc", "c"), 6);
        QCOMPARE(kj::CharAt("ab", 3), '\0');
        std::string field = "ab";
        kj::PutField(field, std::string("xy\0z", 4), 4, 3);
        QCOMPARE(field, std::string("ab xy "));
        QCOMPARE(kj::SafeStrToInt(" 12 ", 7), 12);
        QCOMPARE(kj::SafeStrToInt("1x", 7), 7);
        QCOMPARE(kj::SafeStrToFloat("2,5", 0), 2.5);
    }

    void progressSplashAndIndexingWindows() {
        kj::ProgressOpen("GenSkaber", {"a.dbf", "b.dbf"}, 100);
        kj::TProgressDialog* d = kj::TProgressDialog::Current();
        QVERIFY(d);
        QCOMPARE(d->Step(), 4);
        const int start = d->Position();
        kj::ProgressStep(7);
        QCOMPARE(d->Position(), start);
        kj::ProgressStep(8);
        QCOMPARE(d->Position(), start + 4);
        kj::ProgressClose();
        QVERIFY(!kj::TProgressDialog::Current());
        kj::ProgressOpen("x", {}, 10);
        QCOMPARE(kj::TProgressDialog::Current()->Step(), 1);
        kj::ProgressClose();
        kj::TOpstartForm splash;
        QCOMPARE(splash.StatusText(), std::string("Morvane Vaktor initialiserer"));
        splash.SetStatusText(Ansi("Læser stier i opstartsfil !"));
        QCOMPARE(splash.StatusText(), Ansi("Læser stier i opstartsfil !"));
        kj::ShowIndexing("SAGER.MDX");
        QVERIFY(kj::IndexingDialog());
        QCOMPARE(kj::IndexingDialog()->windowTitle(), QStringLiteral("Indexing..."));
        kj::HideIndexing();
        QVERIFY(!kj::IndexingDialog());
    }
};

int main(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    RulesLoginTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "rules_login_test.moc"
