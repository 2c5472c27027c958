// The postings-per-employee report over a prepared data folder, printed to PDF and read
// back: one employee typed in short lower-case initials, all employees with a band, heading
// and total each, subtotals per day, swapped dates, the band and heading repeated on every
// later page with "Side N" once per page, the message for an employee without postings, and the
// band on pages that break where one employee's lines end and the next one's begin.
#include <QCheckBox>
#include <map>
#include <set>

#include "report_fixture.h"
#include "reports/aktive_sager.h"
#include "reports/list_post.h"
#include "reports/report_util.h"

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

    // Employees with many postings in March (text "<initials>-<n>", 1 kr each), three a day.
    struct Staff {
        const char* ini;
        const char* name;
    };
    static constexpr Staff kStaff[] = {
        {"UAG", "Ulla Agger"}, {"VAA", "Ole Kjær"}, {"WBB", "Bente Holm"}, {"XCC", "Carl Vang"}};
    void FillMarch() {
        for (const Staff& s : kStaff) {
            const QStringList name = QString::fromUtf8(s.name).split(' ');
            f.AddUser(s.ini, name[0].toUtf8().constData(), name[1].toUtf8().constData());
            for (int day = 1, n = 0; day <= 31; ++day)
                for (int k = 0; k < 3; ++k) {
                    const QByteArray date = QDate(2024, 3, day).toString("dd-MM-yyyy").toLatin1();
                    const QByteArray bem = QString("%1-%2").arg(s.ini).arg(++n).toLatin1();
                    f.AddPosting("S-900", "OPM", s.ini, date.constData(), "1", "1", "25", "0", "",
                                 bem.constData());
                }
        }
    }
    struct PageCheck {
        int breaksOnTotal = 0, breaksOnBand = 0, breaksInLines = 0;
    };
    // Every page's band against the lines below it: each posting and total under the band of
    // its own employee, with that employee's name, each band once on a page, every posting
    // printed once, each total the count of its employee's postings.
    void CheckPages(const QString& text, int days, PageCheck& seen) {
        static const QRegularExpression band("Medarbejder\\s+([A-Z]{3})\\s+(.*)$");
        static const QRegularExpression posting("\\b([A-Z]{3})-(\\d+)\\b");
        static const QRegularExpression total("I Alt\\s+([\\d ]+),00 kr");
        std::map<QString, QString> names;
        for (const Staff& s : kStaff) names[s.ini] = QString::fromUtf8(s.name);
        std::map<QString, int> printed;
        std::map<QString, std::set<int>> numbers;
        QString last;  // the employee of the last posting printed
        const QStringList pages = Pages(text);
        for (int p = 0; p < pages.size(); ++p) {
            QString owner;
            QStringList bands;
            int tokens = 0;
            for (const QString& raw : pages[p].split('\n')) {
                const QString line = raw.simplified();
                const auto b = band.match(line);
                const auto post = posting.match(line);
                const auto sum = total.match(line);
                if (!b.hasMatch() && !post.hasMatch() && !sum.hasMatch()) continue;
                const QString where = QString("page %1: %2").arg(p + 1).arg(line);
                ++tokens;
                if (p > 0 && tokens == 1) QVERIFY2(b.hasMatch(), qPrintable(where));
                if (b.hasMatch()) {
                    owner = b.captured(1);
                    QVERIFY2(!bands.contains(owner), qPrintable(where));
                    bands << owner;
                    QCOMPARE(b.captured(2), names[owner]);
                    if (p > 0 && tokens == 1 && owner != last) ++seen.breaksOnBand;
                } else if (post.hasMatch()) {
                    QVERIFY2(post.captured(1) == owner, qPrintable(where));
                    QVERIFY2(numbers[owner].insert(post.captured(2).toInt()).second,
                             qPrintable(where));
                    ++printed[owner];
                    if (p > 0 && tokens == 2 && owner == last) ++seen.breaksInLines;
                    last = owner;
                } else {
                    QVERIFY2(owner == last, qPrintable(where));
                    QCOMPARE(sum.captured(1).remove(' ').toInt(), printed[owner]);
                    if (p > 0 && tokens == 2) ++seen.breaksOnTotal;
                }
            }
        }
        for (const Staff& s : kStaff) QCOMPARE(printed[s.ini], 3 * days);
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

    // A stored amount that cannot be read as one (as another program may write it): the
    // user is told which field of which row and what is counted instead, not a silent 0.
    void anUnreadableAmountIsNamed() {
        f.AddPosting("S-300", "OPM", "AB", "02-02-2024", "1", "10", "25", "0", "", "Stor");
        const int rec = f.data->PostDbf.RecNo();
        QVERIFY(f.data->PostDbf.FLock());
        Dbf4::Select(f.data->PostDbf.WorkAreaNo());
        QVERIFY(Dbf4::Poke("99999999999999999.99", Dbf4::FieldNo("POST_RABAT"), rec));
        f.data->PostDbf.UnLock();
        TzDs::TTzDbf& t = f.data->TzDbf1;  // the table's own fields, no calculated ones
        t.SetDbfFileName(f.folder->data + "Poster.dbf");
        t.Open();
        t.Go(rec);
        f.responder.Clear();
        QCOMPARE(kjrep::FieldMoney(t.FieldByName("post_rabat")), int64_t(0));
        t.Close();
        const QStringList told = f.responder.Texts();
        qInfo() << "unreadable amount:" << told;
        QCOMPARE(told.size(), 1);
        QVERIFY(told[0].startsWith("Feltet \"POST_RABAT\" (POST_RABAT) i post nr. " +
                                   QString::number(rec) + " i "));
        QVERIFY(told[0].contains("Poster.dbf kan ikke l\u00e6ses"));
        QVERIFY(told[0].endsWith("Rapporten regner det som 0."));
    }

    // Two postings a money count holds whose sum it does not: the day's and the employee's
    // sums stop at the largest amount instead of turning negative.
    void aSumBeyondAMoneyCountStopsAtTheLargest() {
        for (int i = 0; i < 2; ++i)
            f.AddPosting("S-600", "OPM", "X", "02-02-2024", "1", "900000000000000", "0");
        auto w = Window("x");
        w->cbPrDag->setChecked(true);
        const QString text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(
            LinesWith(text, {"02-02-2024", "922 337 203 685", "0,00 kr", "922 337 203 685"}).size(),
            1);
        QCOMPARE(LinesWith(text, {"I Alt", "922 337 203 685", "0,00 kr", "922 337 203 685"}).size(),
                 1);
        QCOMPARE(text.count("477,58 kr"), 4);
        QVERIFY2(!text.contains(QRegularExpression("-[0-9]{1,3}( [0-9]{3})*,[0-9]{2}")),
                 qPrintable(text));
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

    // Page breaks that fall on the change from one employee to the next, over several sizes
    // of the range: the head of each continued page names the employee whose lines go on
    // there, and a band that starts a page prints once.
    void continuedPagesNameTheirEmployee() {
        FillMarch();
        PageCheck seen;
        for (int days = 6; days <= 31; ++days) {
            for (bool perDay : {false, true}) {
                auto w = Window("", QDate(2024, 3, 1), QDate(2024, 3, days));
                w->cbPrDag->setChecked(perDay);
                const QString text = f.Print(w->Frame->btnUdskriv);
                QVERIFY(!text.isEmpty());
                CheckPages(text, days, seen);
                if (QTest::currentTestFailed())
                    QFAIL(qPrintable(QString("%1 days, per day %2").arg(days).arg(perDay)));
            }
        }
        QVERIFY(seen.breaksOnTotal > 0);
        QVERIFY(seen.breaksOnBand > 0);
        QVERIFY(seen.breaksInLines > 0);
    }

    // A date typed into a picker that has the focus, taken when it is left.
    static void Type(kjrep::TDatePicker* picker, const char* text) {
        picker->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), text);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    static void CheckTyping(QDialog& w, kjrep::TDatePicker* picker) {
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        picker->setDate(QDate(2026, 2, 1));
        const std::pair<const char*, QDate> typed[] = {
            {"31.12.2026", QDate(2026, 12, 31)},
            {"30-11-2026", QDate(2026, 11, 30)},
            {"311025", QDate(2025, 10, 31)},
            {"29022024", QDate(2024, 2, 29)},
            {"1/3/2024", QDate(2024, 3, 1)},
            {"3112", QDate(QDate::currentDate().year(), 12, 31)}};
        for (const auto& [text, date] : typed) {
            picker->setDate(QDate(2026, 2, 1));
            Type(picker, text);
            QVERIFY2(picker->date() == date, qPrintable(QString(text) + " -> " + picker->text()));
            QCOMPARE(picker->text(), date.toString("dd-MM-yyyy"));
        }
    }

    // Typed dates in both report windows' pickers, the message for a text that is no date,
    // the arrow keys and the calendar, and a report printed over typed dates.
    void typedDates() {
        {
            kjrep::TAktiveSagerForm cases;
            CheckTyping(cases, cases.edtDato1);
            CheckTyping(cases, cases.edtDato2);
        }
        auto w = Window("AB", QDate(2026, 6, 1), QDate(2026, 6, 30));
        CheckTyping(*w, w->DateTimePicker2);
        kjrep::TDatePicker* from = w->DateTimePicker1;
        from->setDate(QDate(2026, 2, 1));
        Type(from, "32.13.2026");
        QCOMPARE(f.responder.Texts(), QStringList{"'32.13.2026' er ikke en gyldig dato"});
        QCOMPARE(from->date(), QDate(2026, 2, 1));
        QCOMPARE(from->text(), QString("01-02-2026"));
        f.responder.Clear();
        from->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QCOMPARE(from->date(), QDate(2026, 2, 2));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(from->date(), QDate(2026, 1, 31));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down, Qt::AltModifier);
        QVERIFY(from->Calendar() && from->Calendar()->isVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!from->Calendar());
        QCOMPARE(from->date(), QDate(2026, 2, 1));
        Type(from, "010224");
        Type(w->DateTimePicker2, "29.02.2024");
        const QString text = f.Print(w->Frame->btnUdskriv);
        QCOMPARE(LinesWith(text, {"Fra:", "01-02-2024", "Til:", "29-02-2024"}).size(), 1);
        QCOMPARE(LinesWith(text, {"05-02-2024", "S-100", "Opm3", "50,00"}).size(), 1);
    }

    // "Udskriv" in the preview prints the pages it shows, every time.
    void printFromThePreview() {
        for (int i = 0; i < 90; ++i)
            f.AddPosting("S-300", "OPM", "KLM", "10-02-2024", "1", "1", "25", "0", "",
                         QString("Linje%1").arg(i).toLatin1().constData());
        auto w = Window("");
        for (int round = 0; round < 3; ++round) {
            QFile::remove(f.pdf);
            int shown = 0;
            const int pages = f.Preview(w->Frame->btnVis, [&] {
                shown = kjrep::PreviewForm().VisUdskrift->PageCount();
                kjrep::PreviewForm().btnUdskriv->click();
            });
            QVERIFY(pages >= 2);
            QCOMPARE(shown, pages);
            QCOMPARE(PdfPages(f.pdf), pages);
            const QString text = PdfText(f.pdf);
            QCOMPARE(Count(text, "Linje89"), 1);
            QCOMPARE(Count(text, QString("Side %1").arg(pages)), 1);
        }
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
