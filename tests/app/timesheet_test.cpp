// The time sheet over a real data folder: rows typed through the grid's keys and carried
// into poster.dbf (fields, stamps, index keys), the wait for another station's file lock,
// another station appending at the same time, and a transfer killed half-way followed by a
// new run, with every row present exactly once (a named step and random moments, with an
// invoice stamp and a pack before the new run; read back by python3-dbfread).
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QThread>
#include <csignal>
#include <iostream>
#include <set>

#include "app/kj_terminate.h"
#include "app/kj_text.h"
#include "app/kj_timer_transfer.h"
#include "app/kj_timeseddel.h"
#include "data/tz_dataset.h"
#include "move_check.h"
#include "register_fixture.h"
#include "start_check.h"
#include "storage/dbf4.h"
#include "storage/file_layer.h"
#include "ui/application.h"
#include "ui/db_grid.h"
#include "work_fixture.h"

using namespace kjapptest;
using kj::Ansi;

namespace {

constexpr int kSheetRows = 20;

std::string Text(Db::TDataSet& t, const char* field) {
    return TzCommon::TrimRight(t.FieldByName(field).AsString());
}

// Every posting's text in poster.dbf with the number of times it occurs.
std::map<std::string, int> PostingTexts(kj::TKJData& d) {
    std::map<std::string, int> texts;
    TzDs::TTzDbf& p = d.PostBufDbf;
    for (p.First(); !p.Eof(); p.Next()) ++texts[Text(p, "post_bem")];
    return texts;
}

// Scratch rows "row 1" .. "row n" for employee AB on case S1, item TIME.
void FillScratch(DataFolder& f, int n) {
    TzDs::TTzDbf& t = f.data->TimerDbf;
    t.SetActive(true);
    for (int i = 1; i <= n; ++i)
        f.Add(t, {{"post_ans", "AB"},
                  {"post_sag", "S1"},
                  {"post_tmu", "TIME"},
                  {"post_bem", "row " + std::to_string(i)},
                  {"post_antal", "1"}});
}

// Helper station: "--hold-append <start>": holds poster.dbf's file lock until told "go",
// then appends 200 postings "other 1..200" one by one under the append lock.
int HoldAndAppend(const std::string& start) {
    DataFolder f;
    f.OpenExisting(start);
    YesResponder yes;
    kjqt::DialogService::Instance().SetResponder(&yes);
    TzDs::TTzDbf& p = f.data->PostBufDbf;
    if (!p.FLock()) return 2;
    std::cout << "LOCKED" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    p.UnLock();
    p.OnALockFailedOnInsert = [](TzDs::TTzDataSet&, bool& retry) { retry = true; };
    for (int i = 1; i <= 200; ++i)
        f.Add(p, {{"post_sag", "X1"}, {"post_bem", "other " + std::to_string(i)}});
    std::cout << "DONE" << std::endl;
    f.Close();
    return 0;
}

// Helper station: "--carry <start> landed|done <k>": fills the scratch table and carries it,
// stopping for good after the k-th posting landed (before its row is marked) or after the
// k-th row was marked done; the test kills it there.
int CarryAndStop(const std::string& start, const std::string& where, int k) {
    DataFolder f;
    f.OpenExisting(start);
    YesResponder yes;
    kjqt::DialogService::Instance().SetResponder(&yes);
    FillScratch(f, kSheetRows);
    auto stop = [k](int n) {
        if (n != k) return;
        std::cout << "STOPPED" << std::endl;
        for (;;) QThread::sleep(1);
    };
    if (where == "landed")
        kj::TransferHooksState().landed = stop;
    else if (where == "done")
        kj::TransferHooksState().done = stop;  // "step": stopped by KJ_STOP_AT instead
    kj::CarryTimeSheet(f.data->TimerDbf, f.data->PostDbf, nullptr);
    return 3;  // never reached when k <= rows
}

// Helper station: "--carry-now <start>": carries whatever the scratch table holds, saying
// "CARRYING" first and "CARRIED" when done; the test kills it at a moment of its choice.
int CarryNow(const std::string& start) {
    DataFolder f;
    f.OpenExisting(start);
    f.data->TimerDbf.SetActive(true);
    std::cout << "CARRYING" << std::endl;
    kj::CarryTimeSheet(f.data->TimerDbf, f.data->PostDbf, nullptr);
    std::cout << "CARRIED" << std::endl;
    f.Close();
    return 0;
}

// Helper station: "--carry-crash <start> <n>": carries the scratch table, the process ending
// at its n-th write (0: never; it then says how many writes the transfer made).
int CarryCrashing(const std::string& start, long failAt) {
    DataFolder f;
    f.OpenExisting(start);
    YesResponder yes;
    kjqt::DialogService::Instance().SetResponder(&yes);
    f.data->TimerDbf.SetActive(true);
    CrashAtWrite(failAt, [&] {
        kj::CarryTimeSheet(f.data->TimerDbf, f.data->PostDbf, nullptr);
        f.Close();
    });
    return 0;
}

// A copy of a start-up folder (its scratch tables) and of its data folder.
std::unique_ptr<DataFolder> CopyOf(const StartFolder& seed) {
    auto g = std::make_unique<DataFolder>();
    g->sf = std::make_unique<StartFolder>();
    CopyFolderFiles(seed.start, g->sf->start);
    g->sf->WriteIniPaths(g->sf->data);
    CopyFolderFiles(seed.data, g->sf->data);
    return g;
}

// The postings as python3-dbfread reads them: "text|invoice number" with their counts.
std::map<std::string, int> PostingsOnDisk(DataFolder& f) {
    bool ok = false;
    auto rows = DbfRows(f.sf->data + "Poster.dbf", {"post_bem", "post_fnr"}, &ok);
    if (!ok) rows["dbfread failed"] = 1;
    return rows;
}

// Stamps an invoice number on the posting with text `text` (as the invoice copy does).
bool StampInvoice(DataFolder& f, const std::string& text, const std::string& number) {
    TzDs::TTzDbf& p = f.data->PostDbf;
    for (p.First(); !p.Eof(); p.Next()) {
        if (Text(p, "post_bem") != text) continue;
        p.Edit();
        p.FieldByName("post_fnr").SetAsString(number);
        f.responder.Answer(kjqt::mb::kIdYes);
        p.Post();
        f.responder.Clear();
        return true;
    }
    return false;
}

// A time-sheet run in which nothing is typed: it carries what an interrupted run left.
// The status line the window shows when it is ready for typing.
QString RunEmptyTimeSheet() {
    QString status = QStringLiteral("not shown");
    WhenReady(
        [] {
            return kj::CurrentTimeSheet() && kj::CurrentTimeSheet()->isVisible() &&
                   QApplication::activeModalWidget() == kj::CurrentTimeSheet();
        },
        [&status] {
            status = kj::CurrentTimeSheet()->TimeSedlerStatus->text();
            kj::CurrentTimeSheet()->accept();
        });
    kj::RunTimeSheets();
    return status;
}

// A time-sheet run driven by body once the window shows.
void RunSheet(const std::function<void(kj::TTimeSedlerForm*)>& body) {
    WhenReady([] { return kj::CurrentTimeSheet() && kj::CurrentTimeSheet()->isVisible(); },
              [body] { body(kj::CurrentTimeSheet()); });
    kj::RunTimeSheets();
}

// One observation of a test that runs inside the window's own loop, as "what: value", so
// that a failed comparison of the list says which one differs.
QString Seen(const char* what, bool yes) {
    return QString::fromUtf8(what) + (yes ? ": yes" : ": no");
}
QString Seen(const char* what, int n) {
    return QString::fromUtf8(what) + ": " + QString::number(n);
}

}  // namespace

class TimeSheetTest : public QObject {
    Q_OBJECT

    DataFolder f_;

    void Seed() {
        YesResponder yes;
        kjqt::DialogService::Instance().SetResponder(&yes);
        kj::TKJData& d = *f_.data;
        f_.Add(d.BrugerDbf, {{"ini", "AB"}, {"ini_fnavn", "Anne"}, {"ini_enavn", "Berg"}});
        f_.Add(d.vareGDbf, {{"id", "G1"}, {"priori", "3"}});
        f_.Add(d.VareDbf, {{"tmu_id", "TIME"},
                           {"tmu_bem", "Timer"},
                           {"tmu_gr", "G1"},
                           {"tmu_pris", "500"},
                           {"tmu_moms", "25"}});
        f_.Add(d.VareDbf, {{"tmu_id", "KM"}, {"tmu_bem", "Kilometer"}, {"tmu_pris", "3.5"}});
        f_.AddCase("S1");
        f_.AddCase("S2", -1);
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
        f_.responder.Clear();
    }

    // Types into the grid's open editor (or the grid) and moves on with Tab.
    static void Cell(kj::TTimeSedlerForm* w, const QString& text) {
        QWidget* focus = QApplication::focusWidget();
        if (!focus || (focus != w->postGrid && !w->postGrid->isAncestorOf(focus)))
            focus = w->postGrid;
        if (auto* e = qobject_cast<QLineEdit*>(focus)) e->selectAll();
        for (QChar c : text) {  // the first key may open the editor: each to the focus
            QWidget* now = QApplication::focusWidget();
            QTest::keyClicks(now && w->isAncestorOf(now) ? now : focus, QString(c));
        }
        QWidget* now = QApplication::focusWidget();
        QTest::keyClick(now && w->isAncestorOf(now) ? now : focus, Qt::Key_Tab);
    }

    // Chooses employee AB and types three rows; the third on the closed case S2.
    void TypeRows(kj::TTimeSedlerForm* w) {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w, 5000));
        w->edtBruger->setFocus();
        w->edtBruger->lineEdit()->clear();
        QTest::keyClicks(w->edtBruger->lineEdit(), "AB");
        w->postGrid->setFocus();
        QApplication::processEvents();
        QCOMPARE(w->Employee, std::string("AB"));
        QTest::keyClick(w->postGrid, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(f_.data->TimerDbf.State(), Db::dsInsert);
        w->postGrid->SetSelectedIndex(0);
        w->postGrid->setFocus();
        Cell(w, "s1");
        Cell(w, {});
        Cell(w, "time");
        Cell(w, {});
        Cell(w, "2");
        Cell(w, "x");
        QCOMPARE(Text(f_.data->TimerDbf, "post_dk"), std::string("D"));
        QCOMPARE(Text(f_.data->TimerDbf, "post_bem"), std::string("Timer"));
        QTest::keyClick(w->postGrid, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(Text(f_.data->TimerDbf, "post_sag"), std::string("S1"));  // inherited
        QCOMPARE(Text(f_.data->TimerDbf, "post_tmu"), std::string("TIME"));
        w->postGrid->SetSelectedIndex(4);
        Cell(w, "1");
        QTest::keyClick(w->postGrid, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(w->postGrid->SelectedIndex(), 0);  // the new row starts in its first column
        Cell(w, "s2");
        QCOMPARE(Text(f_.data->TimerDbf, "post_sag"), std::string());
        if (!qEnvironmentVariableIsEmpty("KJ_SCREENSHOT"))
            w->grab().save(qEnvironmentVariable("KJ_SCREENSHOT"));
    }

    void DriveUnknownCodes(kj::TTimeSedlerForm* w) {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w, 5000));
        w->edtBruger->setFocus();
        w->edtBruger->lineEdit()->clear();
        QTest::keyClicks(w->edtBruger->lineEdit(), "ZZ");
        f_.responder.Answer(kjqt::mb::kIdYes);  // create: the register adds none
        w->postGrid->setFocus();
        QApplication::processEvents();
        QCOMPARE(w->Employee, std::string("AB"));  // kept; the focus went back to the box
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->edtBruger));
        w->edtBruger->lineEdit()->clear();
        QTest::keyClicks(w->edtBruger->lineEdit(), "AB");
        w->postGrid->setFocus();
        QApplication::processEvents();
        QTest::keyClick(w->postGrid, Qt::Key_Insert, Qt::ControlModifier);
        w->postGrid->SetSelectedIndex(0);
        w->postGrid->setFocus();
        Cell(w, "s1");
        Cell(w, {});
        f_.responder.Answer(kjqt::mb::kIdYes);  // create the item
        Cell(w, "ny");
        QCOMPARE(Text(f_.data->TimerDbf, "post_bem"), std::string("Ny vare"));
        QCOMPARE(f_.data->TimerDbf.FieldByName("post_pris").AsFloat(), 7.0);
        QTest::keyClick(w->postGrid, Qt::Key_Insert, Qt::ControlModifier);
        w->postGrid->SetSelectedIndex(4);
        Cell(w, "3");
        QTest::keyClick(w->postGrid, Qt::Key_Up);  // posts row 2, back on row 1
        f_.responder.Answer(kjqt::mb::kIdYes);     // delete row 1
        QTest::keyClick(w->postGrid, Qt::Key_Delete, Qt::ControlModifier);
    }

    // Answers as scripted, and like a real message box takes the keyboard focus away from
    // the cell: it is left in the employee box.
    struct FocusTakingResponder : kjqt::ScriptedResponder {
        kjqt::DialogAnswer Respond(const kjqt::DialogRequest& request) override {
            if (kj::TTimeSedlerForm* w = kj::CurrentTimeSheet()) w->edtBruger->setFocus();
            return ScriptedResponder::Respond(request);
        }
    };

    // The widget a user types into: the focused one inside the window.
    static QWidget* Focused(kj::TTimeSedlerForm* w) {
        QWidget* now = QApplication::focusWidget();
        return now && w->isAncestorOf(now) ? now : w->postGrid;
    }

    static void Type(kj::TTimeSedlerForm* w, const QString& text) {
        for (QChar c : text) QTest::keyClicks(Focused(w), QString(c));
    }

    // Chooses employee AB and opens a new row with the case column's editor focused.
    void StartRow(kj::TTimeSedlerForm* w) {
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w, 5000));
        w->edtBruger->setFocus();
        w->edtBruger->lineEdit()->clear();
        QTest::keyClicks(w->edtBruger->lineEdit(), "AB");
        w->postGrid->setFocus();
        QApplication::processEvents();
        QTest::keyClick(w->postGrid, Qt::Key_Insert, Qt::ControlModifier);
        w->postGrid->SetSelectedIndex(0);
        w->postGrid->setFocus();
        QTest::keyClicks(Focused(w), "s");
        QVERIFY(qobject_cast<QLineEdit*>(Focused(w)));  // the cell's editor is open
    }

  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor")); }
    void init() {
        kj::TransferHooksState() = {};
        f_.Open();
        Seed();
    }
    void cleanup() {
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
        f_.Close();
    }

    // The window's Ctrl keys reach it from the open cell editor a user types into.
    void ctrlKeysWorkInTheCellEditor() {
        QStringList seen;
        RunSheet([&](kj::TTimeSedlerForm* w) {
            Db::TDataSet& t = f_.data->TimerDbf;
            StartRow(w);
            QTest::keyClick(Focused(w), Qt::Key_Backspace, Qt::ControlModifier);
            seen << Seen("browsing after Ctrl-Backspace", t.State() == Db::dsBrowse)
                 << Seen("rows after Ctrl-Backspace", t.RecordCount());
            w->postGrid->setFocus();
            QTest::keyClick(Focused(w), Qt::Key_Insert, Qt::ControlModifier);
            w->postGrid->SetSelectedIndex(3);
            w->postGrid->setFocus();
            Type(w, "tekst");
            QTest::keyClick(Focused(w), Qt::Key_Insert, Qt::ControlModifier);
            seen << Seen("inserting after Ctrl-Insert", t.State() == Db::dsInsert);
            w->postGrid->SetSelectedIndex(3);
            w->postGrid->setFocus();
            Type(w, "anden");
            f_.responder.Answer(kjqt::mb::kIdNo);
            QTest::keyClick(Focused(w), Qt::Key_Delete, Qt::ControlModifier);
            seen << f_.responder.Texts().last().section(' ', 0, 3);
            QTest::keyClick(Focused(w), Qt::Key_X, Qt::ControlModifier);
            seen << Seen("open after Ctrl-X", w->isVisible());
            if (w->isVisible()) w->reject();  // a failed close fails, never hangs
        });
        QCOMPARE(seen,
                 QStringList({"browsing after Ctrl-Backspace: yes", "rows after Ctrl-Backspace: 0",
                              "inserting after Ctrl-Insert: yes", U("Ønsker du at slette"),
                              "open after Ctrl-X: no"}));
    }

    // A value its cell refuses ("1,2,3" in Antal) keeps its row and open cell: Ctrl+Ins
    // starts no new row and Ctrl+X keeps the window until the value is mended; the row is
    // then carried whole.
    void refusedCellValueKeepsItsRow() {
        QStringList seen;
        RunSheet([&](kj::TTimeSedlerForm* w) {
            Db::TDataSet& t = f_.data->TimerDbf;
            StartRow(w);
            for (const char* text : {"S1", "", "TIME", "vigtig tekst"})  // case, date, item, text
                Cell(w, QString::fromUtf8(text));
            Type(w, "1,2,3");
            for (bool close : {false, true}) {
                f_.responder.Clear();
                QTest::keyClick(Focused(w), close ? Qt::Key_X : Qt::Key_Insert,
                                Qt::ControlModifier);
                QApplication::processEvents();
                const auto* e = qobject_cast<QLineEdit*>(Focused(w));
                seen << Seen("told", f_.responder.Texts().join('|').contains("'1,2,3'"))
                     << Seen("row kept",
                             t.State() == Db::dsInsert && Text(t, "post_bem") == "vigtig tekst")
                     << Seen("value in its cell", e && e->text() == "1,2,3")
                     << Seen("open", w->isVisible());
            }
            if (auto* e = qobject_cast<QLineEdit*>(Focused(w))) e->selectAll();
            Type(w, "3");
            QTest::keyClick(Focused(w), Qt::Key_X, Qt::ControlModifier);
            if (w->isVisible()) w->reject();  // a failed close fails, never hangs
        });
        const QStringList kept = {"told: yes", "row kept: yes", "value in its cell: yes",
                                  "open: yes"};
        QCOMPARE(seen, kept + kept);
        kj::TKJData& d = *f_.data;
        QVERIFY2(d.PostDbf.RecCount() == 1, qPrintable(f_.responder.Texts().join('|')));
        d.PostDbf.First();
        QCOMPARE(Text(d.PostDbf, "post_bem"), std::string("vigtig tekst"));
        QCOMPARE(d.PostDbf.FieldByName("post_antal").AsFloat(), 3.0);
    }

    // A row pending when the sheet closes (Ctrl+X) or a row is deleted (Ctrl+Del), as every
    // grid settles it: a refused cell value stops both (told once, no delete question, the
    // row and its open cell kept; mended, the row is carried); a new row, typed or holding
    // only what Ctrl+Ins carried over, is carried at the close and gone after Ja to the
    // delete. A first row, "saved row", is carried in every case.
    void aPendingRowIsSettledAtCloseAndDelete_data() {
        QTest::addColumn<QString>("pending");
        QTest::addColumn<bool>("close");
        QTest::addColumn<QStringList>("told");
        QTest::addColumn<QStringList>("carried");
        const QString refusal = U("'1,2,3' er ikke et gyldigt tal i feltet 'Antal'");
        const QString question = U("Ønsker du at slette denne postering ?");
        const QStringList one = {"saved row|2"};
        QTest::newRow("refused cell at close")
            << "refused cell" << true << QStringList{refusal} << one;
        QTest::newRow("refused cell at delete")
            << "refused cell" << false << QStringList{refusal} << one;
        QTest::newRow("typed new row at close")
            << "typed row" << true << QStringList{} << QStringList{"saved row|2", "typed row|3"};
        QTest::newRow("typed new row at delete")
            << "typed row" << false << QStringList{question} << one;
        QTest::newRow("untouched new row at close")  // it holds the values carried over
            << "new row" << true << QStringList{} << QStringList{"saved row|0", "saved row|2"};
        QTest::newRow("untouched new row at delete")
            << "new row" << false << QStringList{question} << one;
    }
    void aPendingRowIsSettledAtCloseAndDelete() {
        QFETCH(QString, pending);
        QFETCH(bool, close);
        QFETCH(QStringList, told);
        QFETCH(QStringList, carried);
        QStringList seen;
        RunSheet([&](kj::TTimeSedlerForm* w) {
            Db::TDataSet& t = f_.data->TimerDbf;
            StartRow(w);
            for (const char* text : {"S1", "", "TIME", "saved row"}) Cell(w, U(text));
            Type(w, pending == "refused cell" ? "1,2,3" : "2");  // Antal, its editor open
            if (pending != "refused cell") {
                QTest::keyClick(Focused(w), Qt::Key_Insert, Qt::ControlModifier);
                if (pending == "typed row") {
                    w->postGrid->SetSelectedIndex(3);
                    w->postGrid->setFocus();
                    Type(w, "typed row");
                    QTest::keyClick(Focused(w), Qt::Key_Tab);
                    Type(w, "3");
                }
                f_.responder.Clear();
                f_.responder.Answer(kjqt::mb::kIdYes);  // the delete question
            } else {
                f_.responder.Clear();
            }
            QTest::keyClick(Focused(w), close ? Qt::Key_X : Qt::Key_Delete, Qt::ControlModifier);
            QApplication::processEvents();
            seen = f_.responder.Texts();
            for (QString& text : seen) text = text.section(QStringLiteral("\r\n"), 0, 0);
            if (pending == "refused cell") {
                const auto* e = qobject_cast<QLineEdit*>(Focused(w));
                seen << Seen("row and open cell kept",
                             t.State() == Db::dsInsert && e && e->text() == "1,2,3")
                     << Seen("open", w->isVisible());
                if (e) const_cast<QLineEdit*>(e)->selectAll();
                Type(w, "2");
            }
            if (w->isVisible()) QTest::keyClick(Focused(w), Qt::Key_X, Qt::ControlModifier);
            if (w->isVisible()) w->reject();  // a failed close fails, never hangs
        });
        if (pending == "refused cell")
            told << "row and open cell kept: yes"
                 << "open: yes";
        QCOMPARE(seen, told);
        QStringList stored;
        TzDs::TTzDbf& p = f_.data->PostBufDbf;
        for (p.First(); !p.Eof(); p.Next())
            stored << QString::fromStdString(Text(p, "post_bem") + "|" +
                                             Text(p, "post_antal").substr(0, 1));
        stored.sort();
        QVERIFY2(stored == carried, qPrintable(stored.join(',') + " carried; asked " +
                                               f_.responder.Texts().join('|')));
    }

    // A blank case number is no case: leaving it says so, and Tab moves on, the next cells
    // taking their keys.
    void blankCaseNumberLetsTabMoveOn() {
        QStringList seen;
        FocusTakingResponder boxes;
        RunSheet([&](kj::TTimeSedlerForm* w) {
            StartRow(w);
            kjqt::DialogService::Instance().SetResponder(&boxes);
            if (auto* e = qobject_cast<QLineEdit*>(Focused(w))) e->clear();
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            QApplication::processEvents();
            seen << QString::number(w->postGrid->currentIndex().column());
            kjqt::DialogService::Instance().SetResponder(&f_.responder);
            w->postGrid->CancelRow();
            w->accept();
        });
        QCOMPARE(boxes.Texts(), QStringList{U("Sagen findes ikke, indtast en ny !")});
        QVERIFY2(seen.value(0).toInt() >= 2, qPrintable(seen.join(',')));
    }

    // After the message about an unknown case the focus is back in the case cell, and
    // Escape there cancels the row instead of closing the sheet; nothing is carried.
    void escapeAfterAMessageCancelsTheRow() {
        QStringList seen;
        FocusTakingResponder boxes;
        RunSheet([&](kj::TTimeSedlerForm* w) {
            StartRow(w);
            kjqt::DialogService::Instance().SetResponder(&boxes);
            Type(w, "999");
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            QApplication::processEvents();
            QWidget* f = QApplication::focusWidget();
            const bool inGrid = f == w->postGrid || w->postGrid->isAncestorOf(f);
            seen << Seen("focus in the grid", inGrid)
                 << Seen("column", w->postGrid->currentIndex().column());
            QTest::keyClick(Focused(w), Qt::Key_Escape);
            QApplication::processEvents();
            const bool browsing = f_.data->TimerDbf.State() == Db::dsBrowse;
            seen << Seen("open after Escape", w->isVisible())
                 << Seen("browsing after Escape", browsing);
            kjqt::DialogService::Instance().SetResponder(&f_.responder);
            if (w->isVisible()) w->accept();
        });
        QCOMPARE(boxes.Texts(), QStringList{QStringLiteral("Sagen findes ikke, indtast en ny !")});
        QCOMPARE(seen, QStringList({"focus in the grid: yes", "column: 0", "open after Escape: yes",
                                    "browsing after Escape: yes"}));
        QCOMPARE(f_.data->PostDbf.RecCount(), 0);
    }

    // An item whose group is stored in lower case still gives the group's print priority.
    void lowerCaseGroupGivesItsPriority() {
        {
            YesResponder yes;
            kjqt::DialogService::Instance().SetResponder(&yes);
            f_.Add(f_.data->VareDbf, {{"tmu_id", "LOW"}, {"tmu_bem", "Lav"}, {"tmu_gr", "g1"}});
            kjqt::DialogService::Instance().SetResponder(&f_.responder);
            f_.responder.Clear();
        }
        RunSheet([&](kj::TTimeSedlerForm* w) {
            StartRow(w);
            Type(w, "1");
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            Type(w, "low");
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            QTest::keyClick(Focused(w), Qt::Key_X, Qt::ControlModifier);
            if (w->isVisible()) w->reject();
        });
        QCOMPARE(f_.responder.Texts(), QStringList());
        std::vector<std::string> pri;
        for (const DbfRow& r : ReadDbf(f_.sf->data + "Poster.dbf")) pri.push_back(r["post_pri"]);
        QCOMPARE(pri, std::vector<std::string>{"3"});
    }

    // A case number and an item show in upper case while typed, and a sheet opened after
    // an interrupted run carried its rows shows no stale status.
    void codesShowUpperCaseAndNoStaleStatus() {
        FillScratch(f_, 1);  // left by an interrupted run
        f_.data->TimerDbf.SetActive(false);
        QStringList seen;
        RunSheet([&](kj::TTimeSedlerForm* w) {
            seen << w->TimeSedlerStatus->text();
            StartRow(w);
            Type(w, "1");
            if (auto* e = qobject_cast<QLineEdit*>(Focused(w))) seen << e->text();
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            QTest::keyClick(Focused(w), Qt::Key_Tab);
            Type(w, "km");
            if (auto* e = qobject_cast<QLineEdit*>(Focused(w))) seen << e->text();
            w->reject();
        });
        QCOMPARE(seen, QStringList({"", "S1", "KM"}));
    }

    // The case check finds cases by number whatever order the main window left the case
    // table in; a row left without a case is dropped at the close, and the user is told.
    void rowsTypedByKeysAreCarriedIntoThePostings_data() {
        QTest::addColumn<QString>("order");
        QTest::newRow("case-number order") << "SAGSNR";
        QTest::newRow("responsible order") << "SAGSANS";
        QTest::newRow("customer order") << "SAGSKUND";
    }
    void rowsTypedByKeysAreCarriedIntoThePostings() {
        QFETCH(QString, order);
        QVERIFY(f_.data->SagsDbf.SetOrderToTag(order.toStdString()));
        f_.data->SagsDbf.First();
        bool typed = false;
        RunSheet([&](kj::TTimeSedlerForm* w) {
            TypeRows(w);
            typed = true;
            QTest::keyClick(w->postGrid, Qt::Key_X, Qt::ControlModifier);
        });
        QVERIFY(typed);
        QCOMPARE(f_.responder.Texts(),
                 QStringList({QStringLiteral("Sagen er afsluttet, indtast en ny !"),
                              U("1 postering uden medarbejder, sag eller vare er ikke overført")}));
        kj::TKJData& d = *f_.data;
        QCOMPARE(TzCommon::TrimRight(d.SagsDbf.CurrentTag()), order.toStdString());
        QCOMPARE(d.PostDbf.RecCount(), 2);
        QVERIFY(!d.TimerDbf.Active());
        // Fields of the two postings, found through two of the index's tags.
        QVERIFY(d.PostDbf.SetOrderToTag("POSTTMU"));
        d.PostDbf.First();
        QVERIFY(d.PostDbf.FindNear("S1        100003TIME"));
        // The second row inherits case, item, text, date and D/K, but no price.
        std::set<double> quantities;
        for (int row = 0; row < 2; ++row) {
            Db::TDataSet& p = d.PostDbf;
            const double antal = p.FieldByName("post_antal").AsFloat();
            quantities.insert(antal);
            QCOMPARE(p.FieldByName("post_pris").AsFloat(), antal == 2.0 ? 500.0 : 0.0);
            QCOMPARE(Text(p, "post_sag"), std::string("S1"));
            QCOMPARE(Text(p, "post_ans"), std::string("AB"));
            QCOMPARE(Text(p, "post_ini"), std::string("AB"));
            QCOMPARE(Text(p, "post_bem"), std::string("Timer"));
            QCOMPARE(Text(p, "post_dk"), std::string("D"));
            QCOMPARE(p.FieldByName("post_pri").AsInteger(), 3);
            QCOMPARE(p.FieldByName("post_opret").AsDateTime(), Db::Today());
            QCOMPARE(p.FieldByName("post_dato").AsDateTime(), Db::Today());
            QCOMPARE(Text(p, "post_fnr"), std::string());
            QCOMPARE(Text(p, "filler").substr(0, 1), std::string("@"));  // its landing mark
            p.Next();
        }
        QCOMPARE(quantities, std::set<double>({1.0, 2.0}));
        QVERIFY(d.PostDbf.SetOrderToTag("POSTANS"));
        QVERIFY(d.PostDbf.FindNear("AB"));
        QCOMPARE(Text(d.PostDbf, "post_ans"), std::string("AB"));
    }

    void newRowsNeedAnEmployee() {
        RunSheet([&](kj::TTimeSedlerForm* w) {
            w->Employee.clear();
            QTest::keyClick(w->postGrid, Qt::Key_Insert, Qt::ControlModifier);
            QCOMPARE(f_.data->TimerDbf.State(), Db::dsBrowse);
            w->accept();
        });
        QCOMPARE(f_.responder.Texts(),
                 QStringList({QString::fromUtf8("Vælg en medarbejder først")}));
        QCOMPARE(f_.data->PostDbf.RecCount(), 0);
    }

    // An unknown employee or item is offered to the registers (through the window's links),
    // and a row deleted with Ctrl+Del after its question is not carried.
    void unknownCodesGoToTheRegistersAndDeletedRowsStay() {
        std::vector<std::string> opened;
        kj::TimeSheetLinksState().ShowVareIForm = [&](int32_t rec, const std::string& key) {
            opened.push_back(std::to_string(rec) + ":" + key);
            TzDs::TTzDbf& v = f_.data->VareDbf;
            v.Append();
            v.FieldByName("tmu_id").SetAsString("NY");
            v.FieldByName("tmu_bem").SetAsString("Ny vare");
            v.FieldByName("tmu_pris").SetAsString("7");
            f_.responder.Answer(kjqt::mb::kIdYes);
            v.Post();
        };
        kj::TimeSheetLinksState().ShowBrugerForm = [&](int32_t rec, const std::string& key) {
            opened.push_back(std::to_string(rec) + ":" + key);
        };
        RunSheet([this](kj::TTimeSedlerForm* w) {
            DriveUnknownCodes(w);
            w->accept();
        });
        kj::TimeSheetLinksState() = {};
        const QString today = QString::fromStdString(TzDs::DateTimeToDateText(Db::Today()));
        QCOMPARE(f_.responder.Texts(),
                 QStringList({QStringLiteral(
                                  "medarbejderen :ZZ        findes ikke\r\nskal denne oprettes ?"),
                              QStringLiteral("varen :NY        findes ikke\r\nskal den oprettes ?"),
                              QStringLiteral("Skal den rettede vare gemmes ?"),  // the register's
                              QString::fromUtf8("Ønsker du at slette denne postering ?\r\n") +
                                  today + QStringLiteral(" Ny vare")}));
        QCOMPARE(opened, (std::vector<std::string>{"0:ZZ        ", "0:NY        "}));
        QCOMPARE(f_.data->PostDbf.RecCount(), 1);
        f_.data->PostDbf.First();
        QCOMPARE(Text(f_.data->PostDbf, "post_tmu"), std::string("NY"));
        QCOMPARE(f_.data->PostDbf.FieldByName("post_antal").AsFloat(), 3.0);
        QCOMPARE(f_.data->PostDbf.FieldByName("post_pri").AsInteger(), 0);  // item without group
    }

    // Another station holds the postings' file lock when the window closes: the run waits,
    // letting messages through and saying so, and carries every row once the lock is free,
    // while that station appends postings of its own.
    void waitsForTheLockWhileAnotherStationAppends() {
        FillScratch(f_, kSheetRows);
        Helper other({"--hold-append", QString::fromStdString(f_.sf->start)});
        QVERIFY(other.Wait("LOCKED"));
        int refused = 0;
        bool painted = false;
        kj::TransferHooksState().lockRefused = [&] {
            if (++refused == 20) other.Say("go");
            if (refused == 200000) other.Kill();  // a helper that hangs frees its lock by dying
        };
        QTimer::singleShot(0, [&] { painted = true; });  // runs only if messages get through
        std::string waiting;
        kj::FLockWaiting(
            f_.data->PostDbf, [&](const std::string& s) { waiting = s; }, "venter");
        f_.data->PostDbf.UnLock();
        QCOMPARE(waiting, std::string("venter"));
        QVERIFY(refused >= 20);
        QVERIFY(painted);
        kj::TransferHooksState().lockRefused = nullptr;
        QCOMPARE(kj::CarryTimeSheet(f_.data->TimerDbf, f_.data->PostDbf, nullptr), kSheetRows);
        QVERIFY(other.Wait("DONE", 60000));
        QVERIFY(other.Finish());
        const auto texts = PostingTexts(*f_.data);
        QCOMPARE(int(texts.size()), kSheetRows + 200);
        for (const auto& [text, n] : texts) QCOMPARE(n, 1);
        QCOMPARE(f_.data->PostDbf.RecCount(), kSheetRows + 200);
        QCOMPARE(kj::PendingTimeSheetRows(f_.data->TimerDbf), 0);
    }

    void interruptedTransferIsFinishedByTheNextRun_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("k");
        QTest::newRow("after a posting landed") << "landed" << 7;
        QTest::newRow("between two rows") << "done" << 12;
    }
    void interruptedTransferIsFinishedByTheNextRun() {
        QFETCH(QString, where);
        QFETCH(int, k);
        f_.Close();
        {
            Helper carrier(
                {"--carry", QString::fromStdString(f_.sf->start), where, QString::number(k)});
            QVERIFY(carrier.Wait("STOPPED"));
            carrier.Kill();
        }
        f_.Open(false);
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
        RunSheet([](kj::TTimeSedlerForm* w) { w->accept(); });
        const auto texts = PostingTexts(*f_.data);
        QCOMPARE(int(texts.size()), kSheetRows);
        for (int i = 1; i <= kSheetRows; ++i)
            QCOMPARE(
                texts.count("row " + std::to_string(i)) ? texts.at("row " + std::to_string(i)) : 0,
                1);
        QCOMPARE(f_.data->PostDbf.RecCount(), kSheetRows);
    }

    // A write that fails while the time sheet carries the rows an interrupted run left into
    // the postings, at each of its first writes in turn (a full disk; another write error at
    // some of them): every box tells it in the user's words as what it is, the transfer's
    // own box says that no row is lost or doubled and that opening the time sheet again
    // finishes it, and nothing ends the program; opened again, every row is in the postings
    // once and the scratch table is empty.
    void aWriteFailureStopsTheTransferInTheUsersWords() {
        struct Case {
            long failAt;
            int err;
        };
        std::vector<Case> cases;
        for (long n = 1; n <= 40; ++n) cases.push_back({n, ENOSPC});
        for (long n : {16L, 19L, 31L}) cases.push_back({n, EIO});
        int stopped = 0;
        for (const Case& c : cases) {
            const QString at = QStringLiteral("write %1, errno %2: ").arg(c.failAt).arg(c.err);
            cleanup();
            init();
            FillScratch(f_, kSheetRows);
            f_.data->TimerDbf.SetActive(false);
            tz::FaultInjector inj;
            inj.failAt = c.failAt;
            inj.sticky = false;  // room for the next write again
            inj.failErrno = c.err;
            tz::SetFaultInjector(&inj);
            kj::KeepRunningOnEngineErrors(true);
            // The window is closed when the run was not stopped; the wait ends with the run,
            // so that it never reaches the window of a later run.
            auto running = std::make_shared<bool>(true);
            WhenReady(
                [running] {
                    return !*running ||
                           (kj::CurrentTimeSheet() && kj::CurrentTimeSheet()->isVisible());
                },
                [running] {
                    if (*running) kj::CurrentTimeSheet()->accept();
                });
            kjqt::Guarded([] { kj::RunTimeSheets(); });
            *running = false;
            tz::SetFaultInjector(nullptr);
            const QString head =
                QString::fromUtf8(c.err == ENOSPC ? "Disken er fuld" : "Skrivefejl p\u00e5 disken");
            for (const QString& text : f_.responder.Texts()) {
                if (text.contains(QStringLiteral("er nu overf\u00f8rt"))) continue;
                const QString words = text.section(QString::fromUtf8("Oplysninger til"), 0, 0);
                QVERIFY2(text.startsWith(head), qPrintable(at + text));
                QVERIFY2(!words.contains(QStringLiteral("Error #")), qPrintable(at + text));
                if (!text.contains(QStringLiteral("timesedlen igen"))) continue;
                ++stopped;
                QVERIFY2(words.contains(
                             QString::fromUtf8("Ingen r\u00e6kker er mistet eller fordoblet.\r\n")),
                         qPrintable(at + text));
            }
            f_.responder.Clear();
            RunSheet([](kj::TTimeSedlerForm* w) { w->accept(); });
            kj::KeepRunningOnEngineErrors(false);
            const auto texts = PostingTexts(*f_.data);
            QVERIFY2(int(texts.size()) == kSheetRows,
                     qPrintable(at + QString::number(texts.size())));
            for (const auto& [row, n] : texts) QVERIFY2(n == 1, qPrintable(at + row.c_str()));
            QCOMPARE(f_.data->PostDbf.RecCount(), kSheetRows);
            QCOMPARE(kj::PendingTimeSheetRows(f_.data->TimerDbf), 0);
        }
        QVERIFY2(stopped >= 10, qPrintable(QString::number(stopped)));
    }

    // A station killed right after a posting landed, before its scratch row was marked
    // done; before the next run the posting gets an invoice number and the postings are
    // packed (its record number drops). The next run says it carried the rows left, and
    // every row is in the postings once, the stamped one with its invoice number.
    void aLandedPostingIsKnownAfterAnInvoiceStampAndAPack() {
        kj::TKJData& d = *f_.data;
        {
            YesResponder yes;
            kjqt::DialogService::Instance().SetResponder(&yes);
            f_.Add(d.PostDbf, {{"post_sag", "S1"}, {"post_bem", "gone"}});
            d.PostDbf.Delete();
            f_.Add(d.PostDbf, {{"post_sag", "S1"}, {"post_bem", "other"}});
            kjqt::DialogService::Instance().SetResponder(&f_.responder);
        }
        f_.Close();
        {
            Helper carrier({"--carry", QString::fromStdString(f_.sf->start), "step", "0"},
                           QStringLiteral("timesheet-landed"));
            QVERIFY(carrier.WaitStopped());
            carrier.Kill();
        }
        f_.Open(false);
        QVERIFY(StampInvoice(f_, "row 1", "F1001"));
        QVERIFY(f_.data->PackTables());
        QCOMPARE(f_.data->PostDbf.RecCount(), 2);
        f_.responder.Clear();
        const QString status = RunEmptyTimeSheet();
        QCOMPARE(f_.responder.Texts(),
                 QStringList({U("20 posteringer fra en afbrudt timeseddel er nu overført til "
                                "posteringerne")}));
        QVERIFY(!status.contains(QStringLiteral("Opdaterer")));
        const auto rows = PostingsOnDisk(f_);
        std::map<std::string, int> expected{{"other|", 1}, {"row 1|F1001", 1}};
        for (int i = 2; i <= kSheetRows; ++i) expected["row " + std::to_string(i) + "|"] = 1;
        QCOMPARE(rows, expected);
    }

    // A transfer of three rows with the station dying at each of its writes (sampled when
    // there are many): the next start through the program's start-up order comes up, the
    // next run carries what is left, and every row is in the postings once, found through
    // every tag; the program itself reaches its main window.
    void startAfterATransferKilledAtEachWrite() {
        constexpr int kRows = 3, kPoints = 12;
        FillScratch(f_, kRows);
        f_.Close();
        std::map<std::string, int> expected;
        for (int i = 1; i <= kRows; ++i) expected["row " + std::to_string(i) + "|"] = 1;
        std::unique_ptr<DataFolder> g = CopyOf(*f_.sf);
        QByteArray out;
        QCOMPARE(
            RunHelperStation({"--carry-crash", QString::fromStdString(g->sf->start), "0"}, &out),
            0);
        const long writes = WritesOf(out);
        QVERIFY(writes > 0);
        QCOMPARE(PostingsOnDisk(*g), expected);
        int marked = 0;
        const WriteKills k = KillAtEachWrite(
            SampleStep(writes, kPoints),
            [&](long failAt) {
                g = CopyOf(*f_.sf);
                return RunHelperStation({"--carry-crash", QString::fromStdString(g->sf->start),
                                         QString::number(failAt)});
            },
            [&](long failAt) {
                marked += MarkedIndexes(g->sf->data) > 0;
                g->Open(false);
                if (QTest::currentTestFailed()) return;
                RunEmptyTimeSheet();
                QCOMPARE(kj::PendingTimeSheetRows(g->data->TimerDbf), 0);
                g->Close();
                QCOMPARE(PostingsOnDisk(*g), expected);
                const std::string wrong = EveryTagAgrees(*g->sf);
                QVERIFY2(wrong.empty(), (std::to_string(failAt) + ": " + wrong).c_str());
                QVERIFY2(ProgramReachesMainWindow(*g->sf), std::to_string(failAt).c_str());
            });
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
        qInfo(
            "transfer killed at each write: %ld writes, %d kill points, %d killed, %d starts "
            "on a marked index",
            writes, k.points, k.kills, marked);
        QVERIFY(k.completed);
        QCOMPARE(k.unexpected, 0);
        QVERIFY(k.kills >= std::min<long>(writes, kPoints) - 1);
    }

    // Transfers killed at random moments, each followed by a restart through the start-up
    // order (which rebuilds an index left marked by the kill), in some runs an invoice stamp
    // and a pack, and a new run: every row typed is in the postings exactly once.
    void transfersKilledAtRandomMomentsCarryEveryRowOnce() {
        constexpr int kRuns = 12, kRows = 60;
        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        int killed = 0, stamped = 0, rebuilt = 0;
        qint64 span = 0;
        std::map<std::string, int> expected;
        for (int run = 1; run <= kRuns; ++run) {
            {
                YesResponder yes;
                kjqt::DialogService::Instance().SetResponder(&yes);
                f_.Add(f_.data->PostDbf, {{"post_sag", "S1"}, {"post_bem", "gone"}});
                f_.data->PostDbf.Delete();
                TzDs::TTzDbf& t = f_.data->TimerDbf;
                t.SetActive(true);
                for (int i = 1; i <= kRows; ++i) {
                    const std::string text = "r" + std::to_string(run) + " " + std::to_string(i);
                    f_.Add(t, {{"post_ans", "AB"},
                               {"post_sag", "S1"},
                               {"post_tmu", "TIME"},
                               {"post_bem", text}});
                    expected[text + "|"] = 1;
                }
                kjqt::DialogService::Instance().SetResponder(&f_.responder);
            }
            f_.Close();
            {
                Helper carrier({"--carry-now", QString::fromStdString(f_.sf->start)});
                QVERIFY(carrier.Wait("CARRYING"));
                QElapsedTimer clock;
                clock.start();
                if (run == 1) {  // uncut: how long a transfer takes here, to kill within it
                    QVERIFY(carrier.Wait("CARRIED", 60000));
                    span = std::max<qint64>(2, clock.elapsed());
                }
                QThread::msleep(random.bounded(quint32(span)));
                carrier.Kill();
                killed += !carrier.Output().contains("CARRIED");
            }
            rebuilt += MarkedIndexes(f_.sf->data);
            f_.Open(false);
            if (run % 2 == 0) {  // the last posting landed gets an invoice number; then a pack
                TzDs::TTzDbf& p = f_.data->PostDbf;
                p.Last();
                const std::string text = Text(p, "post_bem");
                if (expected.count(text + "|")) {
                    const std::string number = "F" + std::to_string(run);
                    QVERIFY(StampInvoice(f_, text, number));
                    expected.erase(text + "|");
                    expected[text + "|" + number] = 1;
                    ++stamped;
                }
                QVERIFY(f_.data->PackTables());
            }
            RunEmptyTimeSheet();
            QCOMPARE(kj::PendingTimeSheetRows(f_.data->TimerDbf), 0);
        }
        const auto rows = PostingsOnDisk(f_);
        int duplicates = 0, missing = 0;
        for (const auto& [row, n] : expected) {
            const int got = rows.count(row) ? rows.at(row) : 0;
            duplicates += std::max(0, got - 1);
            missing += got == 0;
        }
        qInfo(
            "transfer kills: seed %u, %d runs, %d killed, %d indexes rebuilt, %d rows, %d "
            "stamped, %d duplicates, %d missing, %d on disk",
            seed, kRuns, killed, rebuilt, int(expected.size()), stamped, duplicates, missing,
            Total(rows));
        QCOMPARE(rows, expected);
    }
};

int main(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    if (argc >= 3 && QString(argv[1]) == "--hold-append") return HoldAndAppend(argv[2]);
    if (argc >= 5 && QString(argv[1]) == "--carry")
        return CarryAndStop(argv[2], argv[3], atoi(argv[4]));
    if (argc >= 3 && QString(argv[1]) == "--carry-now") return CarryNow(argv[2]);
    if (argc >= 4 && QString(argv[1]) == "--carry-crash")
        return CarryCrashing(argv[2], std::atol(argv[3]));
    TimeSheetTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "timesheet_test.moc"
