// The postings-per-employee report over a prepared data folder, printed to PDF and read
// back: one employee typed in short lower-case initials, all employees with a band, heading
// and total each, subtotals per day, swapped dates, the band and heading repeated on every
// later page with "Side N" once per page, and the message for an employee without postings.
#include <QCheckBox>
#include <QDateEdit>

#include "report_fixture.h"
#include "reports/list_post.h"

using namespace kjreptest;
using kjrep::TListPostForm;

class EmployeePostingsTest : public QObject {
    Q_OBJECT
    ReportFixture f;

    void Fill() {
        f.AddUser("AB", "Anne", "Berg");
        f.AddUser("KLM", "Karl", "Madsen");
        f.AddUser("X", "Xenia", "Uden");
        f.AddPosting("S-100", "OPM", "AB", "01-02-2024", "2", "500", "25", "0", "", "Opm1");
        f.AddPosting("S-200", "OPM", "AB", "01-02-2024", "1", "100", "25", "0", "", "Opm2");
        f.AddPosting("S-100", "OPM", "AB", "05-02-2024", "1", "50", "25", "0", "", "Opm3");
        f.AddPosting("S-100", "OPM", "AB", "01-05-2024", "1", "7", "25", "0", "", "Senere");
        f.AddPosting("S-100", "TING", "KLM", "03-02-2024", "1", "1234.50", "25", "5", "", "Ting");
        f.AddPosting("S-100", "OPM", "ZZ", "04-02-2024", "1", "1", "25", "0", "", "Ukendt");
    }
    std::unique_ptr<TListPostForm> Window(const char* who, QDate from = QDate(2024, 2, 1),
                                          QDate to = QDate(2024, 2, 29)) {
        auto w = std::make_unique<TListPostForm>();
        w->EdtBruger1->setEditText(who);
        w->DateTimePicker1->setDate(from);
        w->DateTimePicker2->setDate(to);
        return w;
    }

  private slots:
    void init() {
        f.Start();
        Fill();
    }
    void cleanup() { f.Stop(); }

    void oneEmployeeByShortInitials() {
        auto w = Window("ab");
        const QString text = f.Print(w->Frame->btnUdskriv);
        QVERIFY(f.responder.Asked().empty());
        QCOMPARE(LinesWith(text, {"Medarbejder", "AB", "Anne Berg"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Fra:", "01-02-2024", "Til:", "29-02-2024"}).size(), 1);
        QCOMPARE(LinesWith(text, {"01-02-2024", "S-100", "OPM", "Opm1", "1 000,00"}).size(), 1);
        QCOMPARE(LinesWith(text, {"05-02-2024", "S-100", "Opm3", "50,00"}).size(), 1);
        QVERIFY(!text.contains("Senere") && !text.contains("Ting"));
        QCOMPARE(LinesWith(text, {"I Alt", "1 150,00 kr", "287,50 kr", "1 437,50 kr"}).size(), 1);
        QCOMPARE(Kroner(text), 3);  // no day subtotals
        QCOMPARE(Count(text, "Side 1"), 1);
    }

    void allEmployeesPerDayAndSwappedDates() {
        auto w = Window("", QDate(2024, 2, 29), QDate(2024, 2, 1));
        w->cbPrDag->setChecked(true);
        const QString text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(LinesWith(text, {"Medarbejder", "AB", "Anne Berg"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Medarbejder", "KLM", "Karl Madsen"}).size(), 1);
        QCOMPARE(LinesWith(text, {"Fra:", "01-02-2024", "Til:", "29-02-2024"}).size(), 3);
        QCOMPARE(LinesWith(text, {"01-02-2024", "1 100,00 kr", "275,00 kr", "1 375,00 kr"}).size(),
                 1);
        QCOMPARE(LinesWith(text, {"05-02-2024", "50,00 kr", "12,50 kr", "62,50 kr"}).size(), 1);
        QCOMPARE(LinesWith(text, {"03-02-2024", "1 229,50 kr", "307,38 kr", "1 536,88 kr"}).size(),
                 1);
        QCOMPARE(LinesWith(text, {"I Alt", "1 150,00 kr"}).size(), 1);
        QCOMPARE(LinesWith(text, {"I Alt", "1 229,50 kr"}).size(), 1);
        QVERIFY(text.indexOf("Anne Berg") < text.indexOf("Karl Madsen"));
        QCOMPARE(LinesWith(text, {"Ting", "*"}).size(), 1);  // discount mark
        // An employee that is not registered: his initials, no one else's name.
        const QStringList zz = LinesWith(text, {"Medarbejder", "ZZ"});
        QCOMPARE(zz.size(), 1);
        QVERIFY(!zz[0].contains("Karl Madsen") && !zz[0].contains("Anne Berg"));
    }

    void bandAndHeadingOnEveryPage() {
        for (int i = 0; i < 90; ++i)
            f.AddPosting("S-300", "OPM", "KLM", "10-02-2024", "1", "1", "25", "0", "",
                         QString("Linje%1").arg(i).toLatin1().constData());
        auto w = Window("KLM");
        const QString text = f.Print(w->Frame->btnUdskriv);
        const QStringList pages = Pages(text);
        QVERIFY(pages.size() >= 2);
        for (int i = 0; i < pages.size(); ++i) {
            QCOMPARE(Count(pages[i], QString("Side %1").arg(i + 1)), 1);
            QCOMPARE(LinesWith(pages[i], {"Medarbejder", "KLM", "Karl Madsen"}).size(), 1);
            QCOMPARE(LinesWith(pages[i], {"Dato", "Sag", "Vare", "Tekst", "Total"}).size(), 1);
        }
        QCOMPARE(LinesWith(text, {"I Alt", "1 319,50 kr"}).size(), 1);
    }

    void employeeWithoutPostings() {
        auto w = Window("X");
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QCOMPARE(f.responder.Texts(),
                 QStringList{"Der er ingen posteringer for denne medarbejder!"});
        QVERIFY(w->Frame->btnUdskriv->isEnabled());
        f.responder.Clear();
        // Postings outside the dates: nothing printed, no message.
        w = Window("AB", QDate(2023, 1, 1), QDate(2023, 1, 31));
        QCOMPARE(f.Print(w->Frame->btnUdskriv), QString());
        QVERIFY(f.responder.Asked().empty());
    }
};

QTEST_MAIN(EmployeePostingsTest)
#include "employee_postings_test.moc"
