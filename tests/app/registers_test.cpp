// The grid registers (item groups, items, postal codes) driven through their keys and grid
// editors over a real data folder, the tables read back from the files: new rows with
// stamps, refused duplicates, confirmed deletes naming the row, title-click search and
// filters, a missing group created on the spot, the handler swaps given back in reverse
// order, and the print-priority update under the postings' file lock with its bar.
#include <QHeaderView>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <iostream>

#include "app/kj_text.h"
#include "app/pluk_forms.h"
#include "app/post_by_form.h"
#include "app/vare_g_form.h"
#include "app/vare_i_form.h"
#include "data/db_format.h"
#include "register_fixture.h"
#include "ui/application.h"
#include "work_fixture.h"

using namespace kjapptest;
using kj::Ansi;
using kjqt::mb::kIdNo;
using kjqt::mb::kIdYes;

namespace {

std::string TodayText() {
    return Db::FormatDateTime("yyyymmdd", Db::Today());
}

// Types text into the grid's current cell editor and moves on with Tab.
void TypeCell(QWidget& window, const QString& text) {
    TypeText(window, text);
    QTest::keyClick(FocusIn(window), Qt::Key_Tab);
}

// Clicks the window's button with the given caption.
void ClickButton(QWidget& window, const char* caption) {
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->text() == U(caption)) return QTest::mouseClick(b, Qt::LeftButton);
    QFAIL(caption);
}

void ClickTitle(kjqt::TDBGrid* grid, int logical) {
    QHeaderView* h = grid->horizontalHeader();
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                      QPoint(h->sectionViewportPosition(logical) + 5, h->height() / 2));
}

// Helper station: "--save-groups <start> <count>": saves the item groups G0 .. G<count-1>
// through the item-group register's own record rules, starting when told "go"; a refused
// duplicate is cancelled. Prints how many were refused.
int SaveGroups(const std::string& start, int count) {
    DataFolder f;
    f.OpenExisting(start);
    YesResponder yes;
    kjqt::DialogService::Instance().SetResponder(&yes);
    TzDs::TTzDbf& g = f.data->vareGDbf;
    kj::TVareGForm form;
    kj::THandlerSwap swap(g, Db::TDataSetNotifyEvent::Bind(&form, &kj::TVareGForm::VareGNewRecord),
                          Db::TDataSetNotifyEvent::Bind(&form, &kj::TVareGForm::VareGBeforePost),
                          true);
    g.OnALockFailedOnInsert = [](TzDs::TTzDataSet&, bool& retry) { retry = true; };
    std::cout << "READY" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    for (int i = 0; i < count; ++i) {
        try {
            g.Append();
            g.FieldByName("id").SetAsString("G" + std::to_string(i));
            g.Post();
        } catch (const std::exception& e) {
            std::cout << "FAILED " << i << " " << e.what() << std::endl;
            return 1;
        }
    }
    swap.Restore();
    std::cout << "REFUSED " << yes.texts.filter(U("findes allerede")).size() << std::endl;
    f.Close();
    return 0;
}

}  // namespace

class RegistersTest : public QObject {
    Q_OBJECT
    DataFixture fx_;

  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(U("Morvane Vaktor")); }
    void init() { fx_.Start(); }
    void cleanup() { fx_.Stop(); }

    // Two stations save the same new item-group codes at the same time: each code is in the
    // table once, and every save the other station won is refused with its message.
    void twoStationsNeverSaveOneGroupTwice() {
        constexpr int kCount = 3000;
        const QString start = QString::fromStdString(fx_.sf->start);
        Helper a({"--save-groups", start, QString::number(kCount)});
        QVERIFY(a.Wait("READY"));  // one start-up at a time
        Helper b({"--save-groups", start, QString::number(kCount)});
        QVERIFY(b.Wait("READY"));
        a.Say("go");
        b.Say("go");
        const bool aDone = a.Finish(240000), bDone = b.Finish(240000);
        const QByteArray aOut = a.Output(), bOut = b.Output();
        QVERIFY2(aDone && bDone, (aOut + bOut).constData());
        std::map<std::string, int> ids;
        for (const DbfRow& r : fx_.Rows("VarerG.dbf"))
            if (!r.deleted) ++ids[r["id"]];
        QCOMPARE(int(ids.size()), kCount);
        int twice = 0;
        for (const auto& [id, n] : ids) twice += n > 1;
        QCOMPARE(twice, 0);
        auto refused = [](const QByteArray& out) {
            return out.mid(out.indexOf("REFUSED ") + 8).trimmed().toInt();
        };
        QCOMPARE(refused(aOut) + refused(bOut), kCount);
    }

    // A delete whose row another station holds locked says so and deletes nothing.
    void lockedRowDeleteIsReported() {
        fx_.Add(fx_.data->vareGDbf, {{"id", "TID"}, {"tekst", "Timer"}});
        fx_.responder.Clear();
        TzDs::TTzDbf other;  // a handle of its own, as another station has
        other.SetDbfFileName(fx_.sf->data + "VarerG.dbf");
        other.SetActive(true);
        other.First();
        QVERIFY(other.RLock());
        WindowScripts ws;
        ws.On<kj::TVareGForm>([](kj::TVareGForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        fx_.responder.Answer(kjqt::mb::kIdOk);
        kj::ShowVareGForm(0, "");
        other.UnLock();
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("Ønsker du at slette denne varegruppe ?\r\nTID Timer"),
                              U("Rækken er i brug af en anden bruger, intet er ændret !!!")}));
        QVERIFY(!RowsWith(fx_.Rows("VarerG.dbf"), "id", "TID")[0].deleted);
    }

    // Each grid register's first row, in an empty folder, through its " Ny ..." button.
    void firstRowThroughTheNewButton() {
        WindowScripts ws;
        auto script = [](const char* button, const char* key, const char* text) {
            return [=](QDialog& f) {
                ClickButton(f, button);
                TypeCell(f, key);
                TypeCell(f, text);
                CtrlKey(FocusIn(f), Qt::Key_X);
            };
        };
        ws.On<kj::TVareGForm>(script(" Ny gruppe (Ctrl-Ins) ", "g1", "Gruppe"));
        fx_.responder.Answer(kIdYes);
        kj::ShowVareGForm(0, "");
        ws.On<kj::TVareIForm>(script(" Ny vare (Ctrl-Ins) ", "time", "Timer"));
        fx_.responder.Answer(kIdYes);
        kj::ShowVareIForm(0, "");
        ws.On<kj::TPostnrForm>(script(" Nyt postnr (Ctrl-Ins) ", "8000", "Aarhus C"));
        fx_.responder.Answer(kIdYes);
        kj::ShowPostnrForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        auto one = [this](const char* file, const char* key, const char* text) {
            auto rows = fx_.Rows(file);
            return rows.size() == 1 ? rows[0][key] + "|" + rows[0][text]
                                    : std::to_string(rows.size());
        };
        QCOMPARE(one("VarerG.dbf", "id", "tekst"), std::string("G1|Gruppe"));
        QCOMPARE(one("Varer.dbf", "tmu_id", "tmu_bem"), std::string("TIME|Timer"));
        QCOMPARE(one("PostBy.dbf", "pst_nr", "pst_by"), std::string("8000|Aarhus C"));
    }

    void itemGroupsNewEditDuplicateDelete() {
        auto& g = fx_.data->vareGDbf;
        fx_.Add(g, {{"id", "TID"}, {"tekst", "Timer"}});
        const auto savedNew = g.OnNewRecord;
        const auto savedPost = g.BeforePost;
        fx_.responder.Clear();
        WindowScripts ws;
        ws.On<kj::TVareGForm>([](kj::TVareGForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeCell(f, "lon");
            TypeCell(f, U("Lønninger"));
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareGForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList{U("Skal den rettede varegruppe gemmes ?")});
        auto rows = fx_.Rows("VarerG.dbf");
        auto lon = RowsWith(rows, "id", "LON");
        QCOMPARE(lon.size(), size_t(1));
        QCOMPARE(kjqt::FromAnsi(lon[0]["tekst"]), U("Lønninger"));
        QCOMPARE(lon[0]["ini"], std::string("AB"));
        QCOMPARE(lon[0]["opret"], TodayText());
        QVERIFY(g.OnNewRecord == savedNew);
        QVERIFY(g.BeforePost == savedPost);

        // A second "tid" is refused; the existing row saved unchanged is not.
        fx_.responder.Clear();
        ws.On<kj::TVareGForm>([](kj::TVareGForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeCell(f, "tid");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareGForm(0, "");
        QCOMPARE(fx_.responder.Texts(), QStringList({U("Skal den rettede varegruppe gemmes ?"),
                                                     U("varegruppen TID findes allerede !!!")}));
        QCOMPARE(RowsWith(fx_.Rows("VarerG.dbf"), "id", "TID").size(), size_t(1));
        QCOMPARE(fx_.Rows("VarerG.dbf").size(), size_t(2));

        fx_.responder.Clear();
        ws.On<kj::TVareGForm>([](kj::TVareGForm& f) {
            f.Grid->setFocus();
            f.Grid->SetSelectedIndex(1);
            QTest::keyClick(FocusIn(f), Qt::Key_End);
            TypeText(f, "s");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareGForm(1, "");
        QCOMPARE(fx_.responder.Texts(), QStringList{U("Skal den rettede varegruppe gemmes ?")});
        QCOMPARE(RowsWith(fx_.Rows("VarerG.dbf"), "id", "TID")[0]["tekst"], std::string("Timers"));

        // Delete names the row; No keeps it, Yes marks it deleted.
        fx_.responder.Clear();
        ws.On<kj::TVareGForm>([](kj::TVareGForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdNo);
        fx_.responder.Answer(kIdYes);
        kj::ShowVareGForm(2, "");
        const QString q = U("Ønsker du at slette denne varegruppe ?\r\nLON Lønninger");
        QCOMPARE(fx_.responder.Texts(), QStringList({q, q}));
        rows = fx_.Rows("VarerG.dbf");
        QVERIFY(RowsWith(rows, "id", "LON")[0].deleted);
        QVERIFY(!RowsWith(rows, "id", "TID")[0].deleted);
    }

    void itemGroupsTitleClicksAndFilterRefusesNewRows() {
        auto& g = fx_.data->vareGDbf;
        fx_.Add(g, {{"id", "A1"}, {"tekst", "Tid og penge"}});
        fx_.Add(g, {{"id", "B2"}, {"tekst", "tid"}});
        fx_.Add(g, {{"id", "C3"}, {"tekst", "Materialer"}});
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList seen;
        ws.On<kj::TVareGForm>([&](kj::TVareGForm& f) {
            QHeaderView* h = f.Grid->horizontalHeader();
            h->moveSection(2, 0);   // a drag: the click that ends it is no search
            ClickTitle(f.Grid, 1);  // ignored
            ClickTitle(f.Grid, 1);  // "Tid" filter
            int rows = 0;
            for (g.GoTop(); !g.AtEof(); g.Skip(1)) ++rows;
            seen << QString::number(rows);
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);  // refused while the filter is on
            seen << (g.State() == Db::dsInsert ? "new row" : "no row");
            ClickTitle(f.Grid, 1);  // empty answer: all rows again
            rows = 0;
            for (g.GoTop(); !g.AtEof(); g.Skip(1)) ++rows;
            seen << QString::number(rows);
            ClickTitle(f.Grid, 0);  // search "c3"
            seen << kjqt::FromAnsi(g.FieldByName("id").AsString());
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.AnswerText("Tid");
        fx_.responder.AnswerText("");
        fx_.responder.AnswerText("c3");
        kj::ShowVareGForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList({U("Indtast ord som teksten skal indeholde"),
                                                     U("Indtast ord som teksten skal indeholde"),
                                                     U("Indtast varegruppe identifikation")}));
        QCOMPARE(fx_.responder.Asked()[0].caption, U("Søg varegrupper"));
        QCOMPARE(seen, QStringList({"1", "no row", "3", "C3"}));
        QCOMPARE(fx_.Rows("VarerG.dbf").size(), size_t(3));
    }

    // A filter word holding a double quote is quoted the other way and filters; a priority
    // that is no number is refused with a message and leaves the filter as it was.
    void titleFilterWordsAreQuotedAndPriorityMustBeANumber() {
        auto& g = fx_.data->vareGDbf;
        fx_.Add(g, {{"id", "A1"}, {"tekst", "Tommer 2\" lang"}});
        fx_.Add(g, {{"id", "B2"}, {"tekst", "Andet"}});
        fx_.responder.Clear();
        auto rows = [&g] {
            int n = 0;
            for (g.GoTop(); !g.AtEof(); g.Skip(1)) ++n;
            return QString::number(n);
        };
        WindowScripts ws;
        QStringList seen;
        ws.On<kj::TVareGForm>([&](kj::TVareGForm& f) {
            ClickTitle(f.Grid, 1);
            seen << rows() << QString::number(g.IsFilterOn());
            ClickTitle(f.Grid, 2);
            seen << rows() << QString::number(g.IsFilterOn());
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.AnswerText("2\"");
        fx_.responder.AnswerText("abc");
        fx_.responder.Answer(kjqt::mb::kIdOk);
        kj::ShowVareGForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("Indtast ord som teksten skal indeholde"),
                              U("Indtast udskrifts prioritet for de søgte varegrupper"),
                              U("abc er ikke et tal !!!")}));
        QCOMPARE(seen, QStringList({"1", "1", "1", "1"}));  // the refused answer changes nothing
    }

    // A value its cell refuses (a priority "x") keeps its row and open cell: Ctrl+Ins starts
    // no new row and Ctrl+X keeps the window until the value is mended.
    void refusedCellValueKeepsItsRow() {
        auto& g = fx_.data->vareGDbf;
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList seen;
        ws.On<kj::TVareGForm>([&](kj::TVareGForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeCell(f, "mat");
            TypeCell(f, "Materialer");
            TypeText(f, "x");
            for (Qt::Key key : {Qt::Key_Insert, Qt::Key_X}) {
                CtrlKey(FocusIn(f), key);
                auto* e = qobject_cast<QLineEdit*>(FocusIn(f));
                seen << QString::number(g.State() == Db::dsInsert) +
                            QString::fromStdString(Trim(g.FieldByName("tekst").AsString())) +
                            (e ? e->text() : QString("-")) + QString::number(f.isVisible());
            }
            FocusIn(f)->setFocus();
            if (auto* e = qobject_cast<QLineEdit*>(FocusIn(f))) e->selectAll();
            TypeText(f, "7");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);  // the box about "x"
        fx_.responder.Answer(kIdYes);  // again
        fx_.responder.Answer(kIdYes);  // "Skal den rettede varegruppe gemmes ?"
        kj::ShowVareGForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(seen, QStringList({"1Materialerx1", "1Materialerx1"}));
        auto mat = RowsWith(fx_.Rows("VarerG.dbf"), "id", "MAT");
        QCOMPARE(mat.size(), size_t(1));
        QCOMPARE(mat[0]["priori"], std::string("7"));
    }

    void itemsKeyMissingGroupCreatedAndNestedSwapsRestored() {
        auto& v = fx_.data->VareDbf;
        auto& g = fx_.data->vareGDbf;
        const auto vNew = v.OnNewRecord, vPost = v.BeforePost;
        const auto gNew = g.OnNewRecord, gPost = g.BeforePost;
        WindowScripts ws;
        bool nestedSawOwnHandlers = false;
        ws.On<kj::TVareIForm>([&](kj::TVareIForm& f) {
            QCOMPARE(v.State(), Db::dsInsert);
            f.Grid->setFocus();
            f.Grid->SetSelectedIndex(5);
            TypeText(f, "hon");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        // The nested item-group register opened by the item's BeforePost.
        ws.On<kj::TVareGForm>([&](kj::TVareGForm& f) {
            nestedSawOwnHandlers = !(g.BeforePost == gPost) && !(v.BeforePost == vPost);
            TypeText(f, "");
            f.Grid->setFocus();
            f.Grid->SetSelectedIndex(1);
            TypeText(f, "Honorar");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);  // save the item
        fx_.responder.Answer(kIdYes);  // create the group
        fx_.responder.Answer(kIdYes);  // save the group
        kj::ShowVareIForm(0, "TIME");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("Skal den rettede vare gemmes ?"),
                              U("Varegruppen hon findes ikke, skal den oprettes ?"),
                              U("Skal den rettede varegruppe gemmes ?")}));
        QVERIFY(nestedSawOwnHandlers);
        QVERIFY(v.OnNewRecord == vNew && v.BeforePost == vPost);
        QVERIFY(g.OnNewRecord == gNew && g.BeforePost == gPost);
        auto items = RowsWith(fx_.Rows("Varer.dbf"), "tmu_id", "TIME");
        QCOMPARE(items.size(), size_t(1));
        QCOMPARE(items[0]["tmu_gr"], std::string("hon"));
        QCOMPARE(items[0]["tmu_ini"], std::string("AB"));
        QCOMPARE(items[0]["tmu_opret"], TodayText());
        auto groups = RowsWith(fx_.Rows("VarerG.dbf"), "id", "HON");
        QCOMPARE(groups.size(), size_t(1));
        QCOMPARE(groups[0]["tekst"], std::string("Honorar"));

        // No group at all: two blanks in the question; No saves the item anyway. A second
        // "time" is refused.
        fx_.responder.Clear();
        ws.On<kj::TVareIForm>([&](kj::TVareIForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeCell(f, "km");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        fx_.responder.Answer(kIdNo);
        kj::ShowVareIForm(0, "");
        ws.On<kj::TVareIForm>([&](kj::TVareIForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeCell(f, "time");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareIForm(0, "");
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("Skal den rettede vare gemmes ?"),
                              U("Varegruppen  findes ikke, skal den oprettes ?"),
                              U("Skal den rettede vare gemmes ?"),
                              U("varen TIME findes allerede !!!")}));
        QCOMPARE(RowsWith(fx_.Rows("Varer.dbf"), "tmu_id", "KM").size(), size_t(1));
        QCOMPARE(RowsWith(fx_.Rows("Varer.dbf"), "tmu_id", "TIME").size(), size_t(1));
    }

    void itemsTitleFiltersAndDelete() {
        auto& v = fx_.data->VareDbf;
        fx_.Add(fx_.data->vareGDbf, {{"id", "G1"}});
        fx_.Add(v, {{"tmu_id", "A"}, {"tmu_bem", "Tid brugt"}, {"tmu_gr", "G1"}});
        fx_.Add(v, {{"tmu_id", "B"}, {"tmu_bem", "tid"}, {"tmu_gr", "G1"}});
        fx_.Add(v, {{"tmu_id", "C"}, {"tmu_bem", "Kørsel"}});
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList seen;
        auto count = [&] {
            int n = 0;
            for (v.GoTop(); !v.AtEof(); v.Skip(1)) ++n;
            return QString::number(n);
        };
        ws.On<kj::TVareIForm>([&](kj::TVareIForm& f) {
            ClickTitle(f.Grid, 1);  // "Tid", case-sensitive
            seen << count();
            ClickTitle(f.Grid, 1);  // empty: all
            seen << count();
            ClickTitle(f.Grid, 5);  // the group picker chooses G1
            seen << count() << kjqt::FromAnsi(f.GroupFilter);
            v.GoTop();
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        ws.On<kj::TPlukVareGForm>(
            [](kj::TPlukVareGForm& p) { QTest::keyClick(p.List, Qt::Key_Return); });
        fx_.responder.AnswerText("Tid");
        fx_.responder.AnswerText("");
        fx_.responder.Answer(kIdYes);
        kj::ShowVareIForm(0, "");
        QCOMPARE(seen, QStringList({"1", "3", "2", "G1"}));
        QCOMPARE(fx_.responder.Texts().last(),
                 U("Ønsker du at slette denne vare ?\r\nA Tid brugt"));
        QVERIFY(RowsWith(fx_.Rows("Varer.dbf"), "tmu_id", "A")[0].deleted);
        QVERIFY(!v.IsFilterOn());  // the items register clears the filters on closing
    }

    void itemsGroupChosenThroughTheEllipsis() {
        fx_.Add(fx_.data->vareGDbf, {{"id", "G1"}});
        fx_.Add(fx_.data->vareGDbf, {{"id", "G2"}});
        fx_.Add(fx_.data->VareDbf, {{"tmu_id", "TIME"}});
        fx_.responder.Clear();
        WindowScripts ws;
        ws.On<kj::TVareIForm>([](kj::TVareIForm& f) {
            f.Grid->setFocus();
            f.Grid->SetSelectedIndex(5);
            QToolButton* button = nullptr;
            for (QToolButton* b : f.Grid->findChildren<QToolButton*>())
                if (b->isVisible()) button = b;
            QVERIFY(button);
            QTest::mouseClick(button, Qt::LeftButton);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        ws.On<kj::TPlukVareGForm>([](kj::TPlukVareGForm& p) {
            p.List->setFocus();
            QTest::keyClick(p.List, Qt::Key_Down);
            QTest::keyClick(p.List, Qt::Key_Return);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareIForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList{U("Skal den rettede vare gemmes ?")});
        QCOMPARE(RowsWith(fx_.Rows("Varer.dbf"), "tmu_id", "TIME")[0]["tmu_gr"], std::string("G2"));
    }

    void printPriorityUpdateSkipsDeletedAndUnknown() {
        TzDs::TTzDbf& p = fx_.data->PostDbf;
        fx_.Add(fx_.data->vareGDbf, {{"id", "G2"}, {"priori", "2"}});
        fx_.Add(fx_.data->VareDbf, {{"tmu_id", "TIME"}, {"tmu_gr", "G2"}});
        fx_.Add(p, {{"post_sag", "S1"}, {"post_tmu", "time"}, {"post_pri", "7"}});
        fx_.Add(p, {{"post_sag", "S1"}, {"post_tmu", "UKENDT"}, {"post_pri", "7"}});
        fx_.Add(p, {{"post_sag", "S2"}, {"post_tmu", "TIME"}, {"post_pri", "7"}});
        fx_.Add(p, {{"post_sag", "S3"}, {"post_tmu", "TIME"}, {"post_pri", "7"}});
        // Stamped on another day by another hand, so that the update's own stamp shows.
        const Db::TDataSetNotifyEvent stamp = p.BeforePost;
        p.BeforePost = nullptr;
        for (p.First(); !p.Eof(); p.Next()) {
            p.Edit();
            p.FieldByName("post_ajour").SetAsString("01-01-2020");
            p.FieldByName("post_ini").SetAsString("ZZ");
            p.Post();
        }
        p.BeforePost = stamp;
        p.Go(3);
        p.Delete();
        fx_.responder.Clear();
        const std::string tagBefore = p.CurrentTag();
        WindowScripts ws;
        int maxSeen = -1, lastValue = -1;
        QTimer sampler;
        sampler.setInterval(0);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            kj::TVareIForm* f = kj::VareIForm();
            if (!f) return;
            if (auto* bar = f->findChild<QProgressBar*>(QStringLiteral("OpdaterBar"))) {
                maxSeen = bar->maximum();
                lastValue = bar->value();
            }
        });
        ws.On<kj::TVareIForm>([&](kj::TVareIForm& f) {
            sampler.start();
            QTest::mouseClick(f.OpdaterBtn, Qt::LeftButton);
            sampler.stop();
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareIForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(),
                 QStringList{U("Vil du opdatere posteringer med udskriftsprioritet, fra "
                               "varegrupperne ?")});
        QCOMPARE(maxSeen, 4);
        QCOMPARE(lastValue, 3);  // the deleted posting does not advance the bar
        auto rows = fx_.Rows("Poster.dbf");
        QCOMPARE(rows.size(), size_t(4));
        QCOMPARE(rows[0]["post_pri"], std::string("2"));
        QCOMPARE(rows[1]["post_pri"], std::string("7"));
        QCOMPARE(rows[1]["post_ini"], std::string("ZZ"));
        QVERIFY(rows[1]["post_ajour"] != TodayText());
        QVERIFY(rows[2].deleted);
        QCOMPARE(rows[2]["post_pri"], std::string("7"));
        for (size_t i : {size_t(0), size_t(3)}) {  // the first stamped and one stamped alike
            QCOMPARE(rows[i]["post_pri"], std::string("2"));
            QCOMPARE(rows[i]["post_ajour"], TodayText());
            QCOMPARE(rows[i]["post_ini"], std::string("AB"));
        }
        QCOMPARE(p.CurrentTag(), tagBefore);
        // The lock is given back: another handle can take the file lock.
        QVERIFY(fx_.data->PostBufDbf.FLock());
        fx_.data->PostBufDbf.UnLock();
    }

    void printPriorityUpdateNeedsInitials() {
        fx_.data->AjourInitials.clear();
        LoginAnswerer login;  // cancels the login
        WindowScripts ws;
        ws.On<kj::TVareIForm>([&](kj::TVareIForm& f) {
            QTest::mouseClick(f.OpdaterBtn, Qt::LeftButton);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        kj::ShowVareIForm(0, "");
        QCOMPARE(fx_.responder.Texts(),
                 QStringList{U("Du har ikke rettigheder til at ændre data !!")});
    }

    void postalCodesNewDuplicateDeleteAndUndoKey() {
        auto& pn = fx_.data->PostnrDbf;
        fx_.Add(pn, {{"pst_nr", "8000"}, {"pst_by", "Aarhus C"}});
        const auto pNew = pn.OnNewRecord, pPost = pn.BeforePost;
        fx_.responder.Clear();
        WindowScripts ws;
        ws.On<kj::TPostnrForm>([&](kj::TPostnrForm& f) {
            QVERIFY(pn.OnNewRecord == pNew);  // the data module's own new-row rule stays
            QVERIFY(!(pn.BeforePost == pPost));
            f.Grid->SetSelectedIndex(1);
            TypeText(f, "Viby J");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowPostnrForm(0, "8260");
        QCOMPARE(fx_.responder.Texts(), QStringList{U("Skal det rettede postnr gemmes ?")});
        QVERIFY(pn.BeforePost == pPost);
        auto viby = RowsWith(fx_.Rows("PostBy.dbf"), "pst_nr", "8260");
        QCOMPARE(viby.size(), size_t(1));
        QCOMPARE(viby[0]["pst_by"], std::string("Viby J"));
        QCOMPARE(viby[0]["pst_ini"], std::string("AB"));

        // A duplicate; Ctrl+Backspace drops a started row without a question; delete.
        fx_.responder.Clear();
        ws.On<kj::TPostnrForm>([&](kj::TPostnrForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeCell(f, "8000");
            CtrlKey(FocusIn(f), Qt::Key_Backspace);
            QCOMPARE(pn.State(), Db::dsBrowse);
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            f.Grid->SetSelectedIndex(0);
            TypeCell(f, "8000");
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowPostnrForm(0, "");
        QCOMPARE(fx_.responder.Texts(), QStringList({U("Skal det rettede postnr gemmes ?"),
                                                     U("postnr. 8000 findes allerede !!!")}));
        QCOMPARE(fx_.Rows("PostBy.dbf").size(), size_t(2));

        fx_.responder.Clear();
        ws.On<kj::TPostnrForm>([&](kj::TPostnrForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);
        kj::ShowPostnrForm(1, "");
        QCOMPARE(fx_.responder.Texts(),
                 QStringList{U("Ønsker du at slette dette postnr. ?\r\n8000 Aarhus C")});
        QVERIFY(RowsWith(fx_.Rows("PostBy.dbf"), "pst_nr", "8000")[0].deleted);
    }

    // Ctrl+Del on a new row whose key is still in the cell editor names the typed key, and
    // Yes drops only that row; Ctrl+Backspace there drops it too. No other row is left in
    // edit (the typed key never lands in the row above), so closing asks nothing.
    void deletingANewRowWithItsKeyInTheEditorDropsOnlyThatRow() {
        fx_.Add(fx_.data->vareGDbf, {{"id", "TID"}, {"tekst", "Timer"}});
        fx_.Add(fx_.data->VareDbf, {{"tmu_id", "KM"}, {"tmu_bem", "Kilometer"}});
        fx_.responder.Clear();
        WindowScripts ws;
        QStringList states;
        auto script = [&states](kj::TGridRegisterForm& f, TzDs::TTzDbf& t) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeText(f, "g2");
            CtrlKey(FocusIn(f), Qt::Key_Delete);
            states << QString::number(t.State());
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            TypeText(f, "g3");
            CtrlKey(FocusIn(f), Qt::Key_Backspace);
            states << QString::number(t.State());
            CtrlKey(FocusIn(f), Qt::Key_X);
        };
        ws.On<kj::TVareGForm>([&](kj::TVareGForm& f) { script(f, fx_.data->vareGDbf); });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareGForm(0, "");
        ws.On<kj::TVareIForm>([&](kj::TVareIForm& f) { script(f, fx_.data->VareDbf); });
        fx_.responder.Answer(kIdYes);
        kj::ShowVareIForm(0, "");
        // The postal codes drop a pending edit before their question, which then names the
        // row the table is left on: No keeps it, and nothing is left in edit either.
        fx_.Add(fx_.data->PostnrDbf, {{"pst_nr", "8000"}, {"pst_by", "Aarhus C"}});
        ws.On<kj::TPostnrForm>([&](kj::TPostnrForm& f) { script(f, fx_.data->PostnrDbf); });
        fx_.responder.Answer(kIdNo);
        kj::ShowPostnrForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        const QString browse = QString::number(Db::dsBrowse);
        QCOMPARE(states, QStringList({browse, browse, browse, browse, browse, browse}));
        QCOMPARE(fx_.responder.Texts().join(" | "),
                 U("Ønsker du at slette denne varegruppe ?\r\nG2  | "
                   "Ønsker du at slette denne vare ?\r\nG2  | "
                   "Skal det rettede postnr. gemmes ? | "
                   "Ønsker du at slette dette postnr. ?\r\n8000 Aarhus C"));
        QCOMPARE(fx_.Rows("PostBy.dbf").size(), size_t(1));
        QCOMPARE(fx_.Rows("PostBy.dbf")[0]["pst_by"], std::string("Aarhus C"));
        auto groups = fx_.Rows("VarerG.dbf");
        QCOMPARE(groups.size(), size_t(1));
        QCOMPARE(groups[0]["tekst"] + (groups[0].deleted ? " deleted" : ""), std::string("Timer"));
        auto items = fx_.Rows("Varer.dbf");
        QCOMPARE(items.size(), size_t(1));
        QCOMPARE(items[0]["tmu_bem"] + (items[0].deleted ? " deleted" : ""),
                 std::string("Kilometer"));
    }

    // Ctrl+Ins while typing in the last column that takes typing saves the row and starts
    // the next one in its first such column, in every grid register: the next row typed
    // straight on is stored whole.
    void newRowWhileTypingStartsInTheFirstTypableColumn() {
        WindowScripts ws;
        auto script = [](const QStringList& first, const QStringList& second) {
            return [=](QDialog& f) {
                auto* grid = f.findChild<kjqt::TDBGrid*>(QStringLiteral("Grid"));
                grid->setFocus();
                CtrlKey(FocusIn(f), Qt::Key_Insert);
                for (int i = 0; i < first.size(); ++i) {
                    if (i) QTest::keyClick(FocusIn(f), Qt::Key_Tab);
                    TypeText(f, first[i]);
                }
                CtrlKey(FocusIn(f), Qt::Key_Insert);
                for (int i = 0; i < second.size(); ++i) {
                    if (i) QTest::keyClick(FocusIn(f), Qt::Key_Tab);
                    TypeText(f, second[i]);
                }
                CtrlKey(FocusIn(f), Qt::Key_X);
            };
        };
        ws.On<kj::TVareGForm>(script({"tid", "Timer", "2"}, {"mat", "Materialer", "3"}));
        fx_.responder.Answer(kIdYes);
        fx_.responder.Answer(kIdYes);
        kj::ShowVareGForm(0, "");
        ws.On<kj::TVareIForm>(script({"time", "Timer", "500", "25", "1000", "tid"},
                                     {"km", "Kilometer", "3", "0", "1010", "tid"}));
        fx_.responder.Answer(kIdYes);  // the group "tid" exists by now: no question
        fx_.responder.Answer(kIdYes);
        kj::ShowVareIForm(0, "");
        ws.On<kj::TPostnrForm>(script({"8000", "Aarhus C"}, {"8200", "Aarhus N"}));
        fx_.responder.Answer(kIdYes);
        fx_.responder.Answer(kIdYes);
        kj::ShowPostnrForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        auto all = [this](const char* file, std::vector<const char*> fields) {
            QStringList out;
            for (const DbfRow& r : fx_.Rows(file)) {
                QStringList one;
                for (const char* n : fields) one << kjqt::FromAnsi(r[n]);
                out << one.join(",");
            }
            return out.join(" | ");
        };
        QCOMPARE(all("VarerG.dbf", {"id", "tekst", "priori"}),
                 QString("TID,Timer,2 | MAT,Materialer,3"));
        QCOMPARE(all("Varer.dbf", {"tmu_id", "tmu_bem", "tmu_konto", "tmu_gr"}),
                 QString("TIME,Timer,1000,tid | KM,Kilometer,1010,tid"));
        QCOMPARE(all("PostBy.dbf", {"pst_nr", "pst_by"}), QString("8000,Aarhus C | 8200,Aarhus N"));
    }

    void untouchedNewRowIsDroppedOnClosing() {
        WindowScripts ws;
        ws.On<kj::TVareGForm>([](kj::TVareGForm& f) {
            f.Grid->setFocus();
            CtrlKey(FocusIn(f), Qt::Key_Insert);
            QCOMPARE(kj::KJData()->vareGDbf.State(), Db::dsInsert);
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        kj::ShowVareGForm(0, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(), QStringList());
        QCOMPARE(fx_.Rows("VarerG.dbf").size(), size_t(0));
    }

    void closeWithLockHeldElsewhereAsksInsteadOfDropping() {
        auto& pn = fx_.data->PostnrDbf;
        fx_.Add(pn, {{"pst_nr", "5000"}, {"pst_by", "Odense"}});
        fx_.responder.Clear();
        WindowScripts ws;
        ws.On<kj::TPostnrForm>([&](kj::TPostnrForm& f) {
            f.Grid->setFocus();
            f.Grid->SetSelectedIndex(1);
            QTest::keyClick(FocusIn(f), Qt::Key_End);
            TypeText(f, " C");
            // Another cursor (a handle of its own, like another station) holds the row.
            QVERIFY(fx_.data->PostnrBufDbf.FLock());
            QTimer::singleShot(1500, [&] { fx_.data->PostnrBufDbf.UnLock(); });
            CtrlKey(FocusIn(f), Qt::Key_X);
        });
        fx_.responder.Answer(kIdYes);  // keep trying
        fx_.responder.Answer(kIdYes);  // save
        kj::ShowPostnrForm(1, "");
        QCOMPARE(ws.timedOut, 0);
        QCOMPARE(fx_.responder.Texts(),
                 QStringList({U("Rækken er låst af en anden bruger og kan ikke gemmes nu.\r\n"
                                "Prøv igen ?"),
                              U("Skal det rettede postnr gemmes ?")}));
        QCOMPARE(
            QString::fromStdString(RowsWith(fx_.Rows("PostBy.dbf"), "pst_nr", "5000")[0]["pst_by"]),
            QString("Odense C"));
    }
};

int main(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    if (argc >= 4 && QString(argv[1]) == "--save-groups") return SaveGroups(argv[2], atoi(argv[3]));
    RegistersTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "registers_test.moc"
