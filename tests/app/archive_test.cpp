// Archiving closed cases and restoring one over a real data folder: the counters and the
// summary lines, what leaves the live tables and what the archives hold (never a row
// marked deleted), the archives back to shared use, and the restore with its refusal of a
// case that exists, its search and the stakeholders that stay with the live case; archive
// and restore repeated leave every row in one place once (read back by python3-dbfread).
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QThread>
#include <cstdio>
#include <iostream>

#include "app/kj_arkiv.h"
#include "app/kj_terminate.h"
#include "app/kj_text.h"
#include "move_check.h"
#include "start_check.h"
#include "storage/file_layer.h"
#include "ui/application.h"
#include "work_fixture.h"

using namespace kjapptest;
using kj::Ansi;

namespace {

// Rows of an open table (the component's own view: deleted rows hidden).
int Rows(TzDs::TTzDbf& t) {
    int n = 0;
    for (t.First(); !t.Eof(); t.Next()) ++n;
    return n;
}

int RowsOf(TzDs::TTzDbf& t, const char* field, const std::string& value) {
    int n = 0;
    for (t.First(); !t.Eof(); t.Next())
        n += TzCommon::TrimRight(t.FieldByName(field).AsString()) == value;
    return n;
}

const char* const kCaseFiles[] = {"Sager.dbf", "AfsluttedeSager.dbf"};
const char* const kPostFiles[] = {"Poster.dbf", "AfsluttedePoster.dbf"};
const char* const kEventFiles[] = {"Status.dbf", "AfsluttedeStatus.dbf"};

// Every row of the three live tables and their archives as python3-dbfread reads them:
// "<table>:<case>|<text>" with its count (the table: sag, post, stat, then "*" for the
// archive).
std::map<std::string, int> RowsOnDisk(const std::string& folder) {
    std::map<std::string, int> all;
    const std::pair<const char* const*, QStringList> tables[] = {
        {kCaseFiles, {"sags_nr", "sags_bem"}},
        {kPostFiles, {"post_sag", "post_bem"}},
        {kEventFiles, {"stat_sag", "stat_bem"}}};
    const char* names[] = {"sag", "post", "stat"};
    for (int t = 0; t < 3; ++t) {
        for (int archive = 0; archive < 2; ++archive) {
            bool ok = false;
            const auto rows = DbfRows(folder + tables[t].first[archive], tables[t].second, &ok);
            if (!ok) all["dbfread failed"] = 1;
            for (const auto& [row, n] : rows)
                all[std::string(names[t]) + (archive ? "*:" : ":") + row] += n;
        }
    }
    return all;
}

// Opens the archive tables as the restore window does and restores case `nr` through it.
bool Restore(kj::TKJData& d, const std::string& nr) {
    for (TzDs::TTzDbf* t : {&d.SagAfslut, &d.posterAfslut, &d.statusAfslut}) t->SetActive(true);
    d.SagAfslut.SetOrderToTag("SAGSNR");
    bool done = d.SagAfslut.FindExact(TzUtils::AnsiUpper(TzUtils::PadRight(nr, 10))) &&
                kj::RestoreArchivedCase(d, d.SagAfslut.FieldByName("sags_nr").AsString());
    for (TzDs::TTzDbf* t : {&d.SagAfslut, &d.posterAfslut, &d.statusAfslut}) t->SetActive(false);
    return done;
}

// Helper station: "--archive <start>" archives the closed cases; "--restore <start> <nr>"
// restores one. Each says "MOVING" first and "MOVED" when done.
int MoveStation(const std::string& what, const std::string& start, const std::string& nr) {
    DataFolder f;
    f.OpenExisting(start);
    YesResponder yes;
    kjqt::DialogService::Instance().SetResponder(&yes);
    std::cout << "MOVING" << std::endl;
    if (what == "--archive")
        kj::ArchiveClosedCases(*f.data, nullptr, nullptr);
    else if (!Restore(*f.data, nr))
        return 2;
    std::cout << "MOVED" << std::endl;
    f.Close();
    return 0;
}

// Helper station: "--restore-crash <start> <nr> <n>": restores case `nr`, the process ending
// at its n-th write (0: never; it then says how many writes the restore made).
int RestoreCrashing(const std::string& start, const std::string& nr, long failAt) {
    DataFolder f;
    f.OpenExisting(start);
    YesResponder yes;
    kjqt::DialogService::Instance().SetResponder(&yes);
    bool restored = false;
    CrashAtWrite(failAt, [&] {
        restored = Restore(*f.data, nr);
        f.Close();
    });
    return restored ? 0 : 2;
}

// A fresh start-up folder over a copy of a data folder.
std::unique_ptr<DataFolder> CopyOf(const std::string& data) {
    auto g = std::make_unique<DataFolder>();
    g->sf = std::make_unique<StartFolder>();
    g->sf->WriteIniPaths(g->sf->data);
    g->sf->WriteUserData("Firma", "Vej");
    CopyFolderFiles(data, g->sf->data);
    return g;
}

}  // namespace

class ArchiveTest : public QObject {
    Q_OBJECT

    DataFolder f_;

    void AddPosting(const std::string& sag, const std::string& text) {
        f_.Add(f_.data->PostDbf, {{"post_sag", sag}, {"post_bem", text}, {"post_antal", "1"}});
    }
    void AddEvent(const std::string& sag, const std::string& text) {
        f_.Add(f_.data->StatusDbf, {{"stat_sag", sag}, {"stat_bem", text}});
    }
    // A1 closed yesterday: 3 postings (and one marked deleted), 2 events, a stakeholder;
    // B2 closes the day after tomorrow (still in the future when a run passes midnight:
    // the tests compare archives made before and after); C3 is open.
    void Seed() {
        YesResponder yes;
        kjqt::DialogService::Instance().SetResponder(&yes);
        f_.AddCase("A1", -1);
        f_.AddCase("B2", 2);
        f_.AddCase("C3");
        for (const char* t : {"a1 one", "a1 two", "a1 three"}) AddPosting("A1", t);
        AddPosting("A1", "a1 deleted");
        TzDs::TTzDbf& p = f_.data->PostDbf;
        QCOMPARE(TzCommon::TrimRight(p.FieldByName("post_bem").AsString()),
                 std::string("a1 deleted"));
        p.Delete();
        AddPosting("B2", "b2 one");
        AddPosting("C3", "c3 one");
        AddPosting("C3", "c3 two");
        AddEvent("A1", "e1");
        AddEvent("A1", "e2");
        AddEvent("C3", "e3");
        f_.Add(f_.data->InteressentDbf, {{"int_sag", "A1"}, {"int_tekst", "Ejer:"}});
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
    }

    kj::ArchiveCounts Archive(QStringList& summary) {
        kj::TArkiverSager w(*f_.data);
        w.show();
        QTest::mouseClick(w.btnOK, Qt::LeftButton);
        kj::ArchiveCounts c{w.edtSager->text().toInt(), w.edtPoster->text().toInt(),
                            w.edtStatus->text().toInt()};
        summary = w.Memo1->toPlainText().split('\n').mid(3);
        return c;
    }

    // Kill runs over copies of the seeded folder: `station` ("--archive" or "--restore")
    // stopped at each named step and then at random moments, each followed by a restart
    // through the program's own start-up order (which rebuilds what a kill left marked) and
    // `finish`, which completes the move; every
    // table then holds what an uncut run leaves, once. `afterKill` checks the folder as the
    // kill left it.
    struct KillCounts {
        int runs = 0, killed = 0, rows = 0, duplicates = 0, differing = 0, rebuilt = 0;
        int unstopped = 0;  // helpers that never reached their named step
        int tagsWrong = 0;  // restarts after which a tag disagreed with its table
    };
    KillCounts KillRuns(const QString& station, const QString& nr, const QStringList& steps,
                        int randomRuns, const std::function<void(DataFolder&)>& finish,
                        const std::function<void(const std::map<std::string, int>&)>& afterKill) {
        const std::string seed = f_.sf->data;
        KillCounts k;
        std::map<std::string, int> reference;
        qint64 span = 0;
        const quint32 rs = QRandomGenerator::global()->generate();
        QRandomGenerator random(rs);
        for (int run = 0; run <= steps.size() + randomRuns; ++run) {
            DataFolder g;
            g.sf = std::make_unique<StartFolder>();
            g.sf->WriteIniPaths(g.sf->data);
            g.sf->WriteUserData("Firma", "Vej");
            CopyFolderFiles(seed, g.sf->data);
            const QString step = run >= 1 && run <= steps.size() ? steps[run - 1] : QString();
            {
                Helper h({station, QString::fromStdString(g.sf->start), nr}, step);
                if (!step.isEmpty()) {
                    k.unstopped += !h.WaitStopped();
                } else {
                    if (!h.Wait("MOVING")) qWarning("helper did not start");
                    QElapsedTimer clock;
                    clock.start();
                    if (run == 0) {  // uncut: the reference, and how long a move takes
                        if (!h.Wait("MOVED", 120000)) qWarning("helper did not finish");
                        span = std::max<qint64>(2, clock.elapsed());
                    } else {
                        QThread::msleep(random.bounded(quint32(span)));
                    }
                }
                h.Kill();
                if (run > 0) {
                    ++k.runs;
                    k.killed += !h.Output().contains("MOVED");
                }
            }
            const auto left = RowsOnDisk(g.sf->data);
            if (run == 0) {
                reference = left;
                continue;
            }
            afterKill(left);
            k.rebuilt += MarkedIndexes(g.sf->data) > 0;
            g.Open(false);
            finish(g);
            g.Close();
            const std::string wrong = EveryTagAgrees(*g.sf);
            if (!wrong.empty()) qWarning("%s", wrong.c_str());
            k.tagsWrong += !wrong.empty();
            const auto rows = RowsOnDisk(g.sf->data);
            for (const auto& [row, n] : rows) k.duplicates += std::max(0, n - 1);
            k.differing += rows != reference;
            k.rows = Total(rows);
        }
        qInfo(
            "%s kills: seed %u, %d runs, %d killed, %d restarts rebuilt indexes, %d rows each, "
            "%d duplicates, %d runs differing from an uncut run",
            qPrintable(station), rs, k.runs, k.killed, k.rebuilt, k.rows, k.duplicates,
            k.differing);
        return k;
    }

    // Cases K001.. closed yesterday with 4 postings and 2 events each; O1 open with 2.
    void SeedClosedCases(int closed) {
        YesResponder yes;
        kjqt::DialogService::Instance().SetResponder(&yes);
        for (int c = 1; c <= closed; ++c) {
            char nr[16];
            std::snprintf(nr, sizeof nr, "K%03d", c);
            f_.AddCase(nr, -1);
            for (int i = 1; i <= 4; ++i) AddPosting(nr, std::string(nr) + " p" + std::to_string(i));
            for (int i = 1; i <= 2; ++i) AddEvent(nr, std::string(nr) + " e" + std::to_string(i));
        }
        f_.AddCase("O1");
        AddPosting("O1", "o1 p1");
        AddPosting("O1", "o1 p2");
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
    }

    // R1 closed yesterday with `postings` postings and 3 events, archived; the folder closed.
    void ArchiveCaseR1(int postings) {
        YesResponder yes;
        kjqt::DialogService::Instance().SetResponder(&yes);
        f_.AddCase("R1", -1);
        for (int i = 1; i <= postings; ++i) AddPosting("R1", "r1 p" + std::to_string(i));
        for (int i = 1; i <= 3; ++i) AddEvent("R1", "r1 e" + std::to_string(i));
        kjqt::DialogService::Instance().SetResponder(&f_.responder);
        kj::ArchiveClosedCases(*f_.data, nullptr, nullptr);
        f_.Close();
    }

    // The filler of live case R1 as python3-dbfread reads it ("missing" without the row).
    static std::string FillerOfR1(const std::string& folder) {
        for (const auto& [row, n] : DbfRows(folder + "Sager.dbf", {"sags_nr", "filler"}))
            if (row.rfind("R1|", 0) == 0) return row.substr(3);
        return "missing";
    }

    // Case A1 reopened; "a1 one" deleted, "a1 two" changed; A1 closed again.
    static void ReopenAndChangeA1(DataFolder& g) {
        YesResponder yes;
        kjqt::DialogService::Instance().SetResponder(&yes);
        TzDs::TTzDbf& s = g.data->SagsDbf;
        QVERIFY(s.SetOrderToTag("SAGSNR") && s.FindExact("A1        "));
        s.Edit();
        s.FieldByName("sag_afslut").SetAsString("");
        s.Post();
        TzDs::TTzDbf& p = g.data->PostDbf;
        for (p.First(); !p.Eof(); p.Next()) {
            const std::string text = TzCommon::TrimRight(p.FieldByName("post_bem").AsString());
            if (text == "a1 two") {
                p.Edit();
                p.FieldByName("post_bem").SetAsString("a1 two new");
                p.Post();
            }
        }
        for (p.First(); !p.Eof(); p.Next())
            if (TzCommon::TrimRight(p.FieldByName("post_bem").AsString()) == "a1 one") break;
        QVERIFY(!p.Eof());
        p.Delete();
        QVERIFY(s.FindExact("A1        "));
        s.Edit();
        s.FieldByName("sag_afslut").SetAsDateTime(Db::Today() - 1);
        s.Post();
        kjqt::DialogService::Instance().SetResponder(&g.responder);
    }

  private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor")); }
    void init() {
        f_.Open();
        Seed();
    }
    void cleanup() { f_.Close(); }

    void archiveMovesTheClosedCaseAndRestoreBringsItBack() {
        kj::TKJData& d = *f_.data;
        QStringList summary;
        const kj::ArchiveCounts c = Archive(summary);
        QCOMPARE(c.cases, 1);
        QCOMPARE(c.postings, 3);
        QCOMPARE(c.events, 2);
        QCOMPARE(summary, QStringList({QString::fromUtf8("Antal overførte sager:       1"),
                                       QString::fromUtf8("Antal overførte posteringer: 3"),
                                       QString::fromUtf8("Anatl overførte hændelser:   2")}));
        // Live tables packed: A1 is gone with its rows, the others stay.
        QCOMPARE(Rows(d.SagsDbf), 2);
        QCOMPARE(RowsOf(d.SagsDbf, "sags_nr", "A1"), 0);
        QCOMPARE(d.PostDbf.RecCount(), 3);
        QCOMPARE(RowsOf(d.PostDbf, "post_sag", "A1"), 0);
        QCOMPARE(d.StatusDbf.RecCount(), 1);
        QCOMPARE(RowsOf(d.InteressentDbf, "int_sag", "A1"), 1);
        // The archives are closed, shared and writable again.
        for (TzDs::TTzDbf* t : {&d.SagAfslut, &d.posterAfslut, &d.statusAfslut}) {
            QVERIFY(!t->Active());
            QVERIFY(!t->Exclusive());
            QVERIFY(!t->ReadOnly);
        }
        // Restore through the window: search, restore, and a second restore refused.
        bool driven = false;
        WhenReady([] { return qobject_cast<QDialog*>(QApplication::activeModalWidget()); },
                  [&] {
                      auto* w = dynamic_cast<kj::TArkivForm*>(QApplication::activeModalWidget());
                      QVERIFY(w);
                      QCOMPARE(Rows(d.SagAfslut), 1);
                      QCOMPARE(d.posterAfslut.RecCount(), 3);  // the deleted row not copied
                      QCOMPARE(Rows(d.statusAfslut), 2);
                      d.SagAfslut.First();
                      const int rec = d.SagAfslut.RecNo();
                      f_.responder.AnswerText("ZZ");
                      QTest::mouseClick(w->btnFind, Qt::LeftButton);
                      QCOMPARE(d.SagAfslut.RecNo(), rec);
                      f_.responder.AnswerText("a1");
                      QTest::mouseClick(w->btnFind, Qt::LeftButton);
                      if (!qEnvironmentVariableIsEmpty("KJ_SCREENSHOT"))
                          w->grab().save(qEnvironmentVariable("KJ_SCREENSHOT"));
                      QTest::mouseClick(w->btnGendan, Qt::LeftButton);
                      QCOMPARE(Rows(d.SagAfslut), 0);                   // the case left the archive
                      QTest::mouseClick(w->btnGendan, Qt::LeftButton);  // nothing to restore
                      driven = true;
                      w->reject();
                  });
        kj::KJGendanSag::Execute();
        QVERIFY(driven);
        QCOMPARE(f_.responder.Texts(), QStringList({QStringLiteral(" Indtast sagsnr. "),
                                                    QStringLiteral(" Indtast sagsnr. ")}));
        QCOMPARE(RowsOf(d.SagsDbf, "sags_nr", "A1"), 1);
        QCOMPARE(RowsOf(d.PostDbf, "post_sag", "A1"), 3);
        QCOMPARE(RowsOf(d.StatusDbf, "stat_sag", "A1"), 2);
        QCOMPARE(RowsOf(d.InteressentDbf, "int_sag", "A1"), 1);
        QVERIFY(!d.SagAfslut.Active());
        // Restored rows are found through the live index; the case is still closed.
        QVERIFY(d.PostDbf.SetOrderToTag("POSTSAG"));
        QVERIFY(d.PostDbf.FindNear("A1"));
        QCOMPARE(TzCommon::TrimRight(d.PostDbf.FieldByName("post_sag").AsString()),
                 std::string("A1"));
        QVERIFY(d.SagsDbf.SetOrderToTag("SAGSNR"));
        QVERIFY(d.SagsDbf.FindExact("A1        "));
        QVERIFY(d.SagsDbf.FieldByName("SagenErLukket").AsBoolean());
    }

    // Archive, restore, archive, restore, archive: after each step the case with its rows is
    // in exactly one place, once.
    void archiveAndRestoreRepeatedKeepEveryRowOnce() {
        kj::TKJData& d = *f_.data;
        std::map<std::string, int> live, archived;
        for (const char* row : {"sag:A1|Sag A1", "post:A1|a1 one", "post:A1|a1 two",
                                "post:A1|a1 three", "stat:A1|e1", "stat:A1|e2"}) {
            live[row] = 1;
            std::string a = row;
            archived[a.insert(a.find(':'), "*")] = 1;
        }
        auto a1 = [this] {
            std::map<std::string, int> rows;
            for (const auto& [row, n] : RowsOnDisk(f_.sf->data))
                if (row.find(":A1|") != std::string::npos || row == "dbfread failed") rows[row] = n;
            return rows;
        };
        for (int round = 1; round <= 2; ++round) {
            kj::ArchiveClosedCases(d, nullptr, nullptr);
            QCOMPARE(a1(), archived);
            QVERIFY(Restore(d, "A1"));
            QCOMPARE(a1(), live);
            QCOMPARE(RowsOf(d.PostDbf, "post_sag", "A1"), 3);
        }
        const kj::ArchiveCounts c = kj::ArchiveClosedCases(d, nullptr, nullptr);
        QCOMPARE(c.postings, 3);
        QCOMPARE(a1(), archived);
        // A new live case with the archived number: the archived one is not restored.
        f_.AddCase("A1");
        f_.responder.Clear();
        QVERIFY(!Restore(d, "A1"));
        QCOMPARE(f_.responder.Texts(),
                 QStringList({QStringLiteral("Sagen A1 findes allerede !!!")}));
        QCOMPARE(a1()["post*:A1|a1 one"], 1);
    }

    // Archiving runs killed (at the named steps: a case copied, a case deleted, inside the
    // pack; then at random moments) and run again after a restart: each row ends once in
    // the archive (closed cases) or once live (the others), as after an uncut run.
    void archivingKilledAndRunAgainMovesEveryRowOnce() {
        SeedClosedCases(40);
        f_.Close();
        const KillCounts k = KillRuns(
            "--archive", QString(),
            {"archive-case-copied", "archive-case-row-deleted", "archive-case-deleted",
             "pack-before-rename"},
            8, [](DataFolder& g) { kj::ArchiveClosedCases(*g.data, nullptr, nullptr); },
            [](const std::map<std::string, int>&) {});
        QCOMPARE(k.duplicates, 0);
        QCOMPARE(k.differing, 0);
        QVERIFY(k.rows >= 280);
        QCOMPARE(k.unstopped, 0);
        QCOMPARE(k.tagsWrong, 0);
    }

    // A restore of a case with 300 postings killed (rows hidden, the case row added, rows
    // being recalled; then at random moments): the kill leaves no posting without its case,
    // and after a restart the retry finishes it, every row once.
    void restoreKilledIsFinishedByARetry() {
        ArchiveCaseR1(300);
        int orphans = 0, partial = 0;
        const KillCounts k = KillRuns(
            "--restore", "R1", {"restore-row-hidden", "restore-case-added", "restore-row-recalled"},
            8,
            [](DataFolder& g) {
                g.data->SagAfslut.SetActive(true);
                g.data->SagAfslut.SetOrderToTag("SAGSNR");
                const bool archived = g.data->SagAfslut.FindExact("R1        ");
                g.data->SagAfslut.SetActive(false);
                if (archived) QVERIFY(Restore(*g.data, "R1"));
            },
            [&](const std::map<std::string, int>& left) {
                int posts = 0;
                for (const auto& [row, n] : left) posts += row.rfind("post:R1|", 0) == 0 ? n : 0;
                const bool live = left.count("sag:R1|Sag R1") > 0;
                orphans += live ? 0 : posts;
                partial += live && posts != 300;
            });
        qInfo(
            "restore kills: %d postings without their case, %d cases partly restored when "
            "killed",
            orphans, partial);
        QCOMPARE(orphans, 0);
        QCOMPARE(k.duplicates, 0);
        QCOMPARE(k.differing, 0);
        QCOMPARE(k.unstopped, 0);
        QCOMPARE(k.tagsWrong, 0);
    }

    // A restore of a case with three postings and three events with the station dying at
    // each of its writes (sampled when there are many): the next start through the
    // program's start-up order comes up (finishing a restore whose case row is in), a retry
    // finishes one that had not begun, and every row is where an uncut restore leaves it,
    // once, found through every tag; the program itself reaches its main window.
    void startAfterARestoreKilledAtEachWrite() {
        constexpr int kPoints = 12;
        ArchiveCaseR1(3);
        std::unique_ptr<DataFolder> g = CopyOf(f_.sf->data);
        QByteArray out;
        QCOMPARE(RunHelperStation(
                     {"--restore-crash", QString::fromStdString(g->sf->start), "R1", "0"}, &out),
                 0);
        const long writes = WritesOf(out);
        QVERIFY(writes > 0);
        const auto reference = RowsOnDisk(g->sf->data);
        QCOMPARE(reference.count("sag:R1|Sag R1"), size_t(1));
        int marked = 0, orphans = 0;
        const WriteKills k = KillAtEachWrite(
            SampleStep(writes, kPoints),
            [&](long failAt) {
                g = CopyOf(f_.sf->data);
                return RunHelperStation({"--restore-crash", QString::fromStdString(g->sf->start),
                                         "R1", QString::number(failAt)});
            },
            [&](long failAt) {
                const auto left = RowsOnDisk(g->sf->data);
                int posts = 0;
                for (const auto& [row, n] : left) posts += row.rfind("post:R1|", 0) == 0 ? n : 0;
                orphans += left.count("sag:R1|Sag R1") ? 0 : posts;
                marked += MarkedIndexes(g->sf->data) > 0;
                g->Open(false);
                if (QTest::currentTestFailed()) return;
                g->data->SagAfslut.SetActive(true);
                g->data->SagAfslut.SetOrderToTag("SAGSNR");
                const bool archived = g->data->SagAfslut.FindExact("R1        ");
                g->data->SagAfslut.SetActive(false);
                if (archived) QVERIFY(Restore(*g->data, "R1"));
                g->Close();
                QCOMPARE(RowsOnDisk(g->sf->data), reference);
                const std::string wrong = EveryTagAgrees(*g->sf);
                QVERIFY2(wrong.empty(), (std::to_string(failAt) + ": " + wrong).c_str());
                QVERIFY2(ProgramReachesMainWindow(*g->sf), std::to_string(failAt).c_str());
            });
        qInfo(
            "restore killed at each write: %ld writes, %d kill points, %d killed, %d starts "
            "on a marked index, %d postings without their case",
            writes, k.points, k.kills, marked, orphans);
        QVERIFY(k.completed);
        QCOMPARE(k.unexpected, 0);
        QCOMPARE(orphans, 0);
        QVERIFY(k.kills >= std::min<long>(writes, kPoints) - 1);
    }

    // A restore killed once its case row is in (the rows still hidden, or being recalled)
    // is finished by the next start-up on the folder, without a retry by the user, who is
    // told: every row of the case live once, none left in the archive, no mark.
    void restoreKilledIsFinishedByTheNextStart() {
        ArchiveCaseR1(20);
        int partial = 0, told = 0, marked = 0;
        const KillCounts k = KillRuns(
            "--restore", "R1", {"restore-case-added", "restore-row-recalled"}, 0,
            [&](DataFolder& g) {
                told += g.startTexts.contains(
                    QString::fromUtf8("En afbrudt gendannelse af sag R1 er gjort færdig"));
                marked += !FillerOfR1(g.sf->data).empty();
            },
            [&](const std::map<std::string, int>& left) {
                int posts = 0;
                for (const auto& [row, n] : left) posts += row.rfind("post:R1|", 0) == 0 ? n : 0;
                partial += left.count("sag:R1|Sag R1") > 0 && posts < 20;
            });
        QCOMPARE(k.runs, 2);
        QCOMPARE(k.unstopped, 0);
        QCOMPARE(k.tagsWrong, 0);
        QCOMPARE(partial, 2);  // each kill left the case partly restored
        QCOMPARE(k.duplicates, 0);
        QCOMPARE(k.differing, 0);
        QCOMPARE(marked, 0);
        QCOMPARE(told, 2);
    }

    // A restore stopped at a step on another station, alive: a start-up on the folder leaves
    // it as it is (it holds the archived case row's lock); once it is killed, the next
    // start-up finishes it.
    void aRestoreRunningElsewhereIsLeftToIt() {
        ArchiveCaseR1(20);
        const std::string seed = f_.sf->data;
        for (const QString& step :
             {QStringLiteral("restore-case-added"), QStringLiteral("restore-row-recalled")}) {
            DataFolder g;
            g.sf = std::make_unique<StartFolder>();
            g.sf->WriteIniPaths(g.sf->data);
            g.sf->WriteUserData("Firma", "Vej");
            CopyFolderFiles(seed, g.sf->data);
            Helper h({"--restore", QString::fromStdString(g.sf->start), "R1"}, step);
            QVERIFY(h.WaitStopped());
            const auto stopped = RowsOnDisk(g.sf->data);
            const std::string mark = FillerOfR1(g.sf->data);
            QCOMPARE(mark.substr(0, 2), std::string("@R"));
            g.Open(false);
            QVERIFY(g.startTexts.isEmpty());
            g.Close();
            QCOMPARE(RowsOnDisk(g.sf->data), stopped);
            QCOMPARE(FillerOfR1(g.sf->data), mark);
            h.Kill();
            g.Open(false);
            QCOMPARE(g.startTexts, QStringList({QString::fromUtf8(
                                       "En afbrudt gendannelse af sag R1 er gjort færdig")}));
            g.Close();
            const auto rows = RowsOnDisk(g.sf->data);
            int posts = 0, archived = 0;
            for (const auto& [row, n] : rows) {
                posts += row.rfind("post:R1|", 0) == 0 ? n : 0;
                archived += row.find("*:R1|") != std::string::npos ? n : 0;
            }
            QCOMPARE(posts, 20);
            QCOMPARE(archived, 0);
            QVERIFY(FillerOfR1(g.sf->data).empty());
        }
    }

    // A restore killed on another station while this one runs is finished when the restore
    // window opens here.
    void aRestoreKilledElsewhereIsFinishedWhenTheRestoreWindowOpens() {
        ArchiveCaseR1(20);
        f_.Open(false);
        {
            Helper h({"--restore", QString::fromStdString(f_.sf->start), "R1"},
                     "restore-case-added");
            QVERIFY(h.WaitStopped());
            h.Kill();
        }
        kj::TKJData& d = *f_.data;
        QCOMPARE(RowsOf(d.PostDbf, "post_sag", "R1"), 0);
        bool opened = false;
        WhenReady([] { return qobject_cast<QDialog*>(QApplication::activeModalWidget()); },
                  [&] {
                      auto* w = dynamic_cast<kj::TArkivForm*>(QApplication::activeModalWidget());
                      QVERIFY(w);
                      opened = true;
                      QCOMPARE(Rows(d.SagAfslut), 1);  // the seeded folder's A1
                      w->reject();
                  });
        kj::KJGendanSag::Execute();
        QVERIFY(opened);
        QCOMPARE(
            f_.responder.Texts(),
            QStringList({QString::fromUtf8("En afbrudt gendannelse af sag R1 er gjort færdig")}));
        QCOMPARE(RowsOf(d.PostDbf, "post_sag", "R1"), 20);
        QCOMPARE(RowsOf(d.StatusDbf, "stat_sag", "R1"), 3);
        QVERIFY(FillerOfR1(f_.sf->data).empty());
    }

    // An archive killed part-way through case A1 (its first posting copied; the case
    // copied), A1 then reopened, a posting deleted, another changed, closed and archived
    // again: a restore gives exactly the rows that were live at that archive, and the
    // archive holds every stored field as the live table held it (blank numbers and
    // logicals stay blank).
    void theNextArchiveReplacesWhatAnInterruptedOneLeft() {
        f_.Close();
        const QStringList fields{"post_sag",   "post_bem",  "post_antal", "post_pris",
                                 "post_rabat", "post_over", "post_pri"};
        int back = 0, differing = 0;
        for (const char* step : {"archive-row-copied", "archive-case-copied"}) {
            std::unique_ptr<DataFolder> g = CopyOf(f_.sf->data);
            {
                Helper h({"--archive", QString::fromStdString(g->sf->start)}, step);
                QVERIFY(h.WaitStopped());
                h.Kill();
            }
            g->Open(false);
            ReopenAndChangeA1(*g);
            auto live = DbfRows(g->sf->data + "Poster.dbf", fields);
            kj::ArchiveClosedCases(*g->data, nullptr, nullptr);
            std::erase_if(live, [](const auto& row) { return row.first.rfind("A1|", 0) != 0; });
            differing += DbfRows(g->sf->data + "AfsluttedePoster.dbf", fields) != live;
            QVERIFY(Restore(*g->data, "A1"));
            g->Close();
            const auto rows = RowsOnDisk(g->sf->data);
            back += rows.count("post:A1|a1 one") + rows.count("post:A1|a1 two");
            QCOMPARE(rows.count("post:A1|a1 two new"), size_t(1));
            QCOMPARE(rows.count("post:A1|a1 three"), size_t(1));
        }
        qInfo(
            "interrupted archive, case changed, archived and restored: %d rows brought back, "
            "%d archives whose stored fields differ from the live rows",
            back, differing);
        QCOMPARE(back, 0);
        QCOMPARE(differing, 0);
        // Stopped once the live case row is deleted: a restore takes the rows left live
        // in place of its copies, each row once.
        std::unique_ptr<DataFolder> g = CopyOf(f_.sf->data);
        {
            Helper h({"--archive", QString::fromStdString(g->sf->start)},
                     "archive-case-row-deleted");
            QVERIFY(h.WaitStopped());
            h.Kill();
        }
        g->Open(false);
        QVERIFY(Restore(*g->data, "A1"));
        g->Close();
        const auto rows = RowsOnDisk(g->sf->data);
        for (const char* row : {"post:A1|a1 one", "post:A1|a1 two", "post:A1|a1 three"})
            QCOMPARE(rows.count(row) ? rows.at(row) : 0, 1);
    }

    // A write that fails in the middle of an archiving run stops it with a box in the
    // user's words: a full disk (ENOSPC) or another write error (EIO) named as what it is,
    // that no row is lost or doubled, and that running it again finishes the move; run
    // again, every row of the closed case is in the archive once.
    void aWriteFailureStopsTheArchiveInTheUsersWords() {
        struct Case {
            int err;
            const char* head;
            const char* absent;
        };
        const Case cases[] = {{ENOSPC, "Disken er fuld: ", "Skrivefejl"},
                              {EIO, "Skrivefejl p\u00e5 disken", "Disken er fuld"}};
        for (const Case& c : cases) {
            cleanup();
            init();
            kj::KeepRunningOnEngineErrors(true);
            tz::FaultInjector inj;
            inj.failAt = 6;
            inj.failErrno = c.err;
            tz::SetFaultInjector(&inj);
            QStringList summary;
            Archive(summary);
            tz::SetFaultInjector(nullptr);
            const QStringList asked = f_.responder.Texts();
            QVERIFY2(asked.size() == 1, qPrintable(asked.join(" | ")));
            const QString& text = asked[0];
            QVERIFY2(text.startsWith(QString::fromUtf8(c.head)), qPrintable(text));
            QVERIFY2(!text.contains(QString::fromUtf8(c.absent)), qPrintable(text));
            for (const char* part : {"Ingen r\u00e6kker er mistet eller fordoblet.",
                                     "k\u00f8r arkiveringen igen; den g\u00f8r flytningen "
                                     "f\u00e6rdig",
                                     "Oplysninger til leverand\u00f8ren:\r\nError # 101"})
                QVERIFY2(text.contains(QString::fromUtf8(part)), qPrintable(text));
            f_.responder.Clear();
            Archive(summary);
            kj::KeepRunningOnEngineErrors(false);
            QVERIFY2(f_.responder.Texts().isEmpty(), qPrintable(f_.responder.Texts().join(" | ")));
            const auto rows = RowsOnDisk(f_.sf->data);
            int archived = 0;
            for (const auto& [row, n] : rows) {
                QVERIFY2(n == 1, row.c_str());
                QVERIFY2(
                    row.find(":A1|") == std::string::npos || row.find("*:") != std::string::npos,
                    row.c_str());
                if (row.find("*:A1|") != std::string::npos) ++archived;
            }
            QCOMPARE(archived, 1 + 3 + 2);
        }
    }

    // Restores case `nr` through the restore window: searched for, then "Gendan"; `during`
    // is set as the file layer's fault injector for the restore itself. False when the
    // search did not find the case in the archive.
    bool RestoreInWindow(const std::string& nr, tz::FaultInjector* during) {
        bool found = false;
        // The wait ends with the window's run, so that it never reaches a later window.
        auto running = std::make_shared<bool>(true);
        WhenReady(
            [running] {
                return !*running || qobject_cast<QDialog*>(QApplication::activeModalWidget());
            },
            [&, running] {
                if (!*running) return;
                auto* w = dynamic_cast<kj::TArkivForm*>(QApplication::activeModalWidget());
                if (!w) return;
                f_.responder.AnswerText(QString::fromStdString(nr));
                QTest::mouseClick(w->btnFind, Qt::LeftButton);
                TzDs::TTzDbf& a = f_.data->SagAfslut;
                found = a.Active() && !a.IsEmpty() &&
                        TzCommon::TrimRight(a.FieldByName("sags_nr").AsString()) == nr;
                if (found) {
                    tz::SetFaultInjector(during);
                    QTest::mouseClick(w->btnGendan, Qt::LeftButton);
                    tz::SetFaultInjector(nullptr);
                }
                w->reject();
            });
        kjqt::Guarded([] { kj::KJGendanSag::Execute(); });  // as from the menu
        *running = false;
        return found;
    }

    // A write that fails in the middle of a restore started in the restore window, at each
    // of its first writes in turn (a full disk; another write error at some): every box
    // tells it in the user's words as what it is, the restore's own box says that no row is
    // lost or doubled and how the restore is finished, and nothing ends the program;
    // restored again (where the case row had already left the archive: at the next start),
    // every row of the case is live once and none is left in the archive.
    void aWriteFailureStopsTheRestoreInTheUsersWords() {
        struct Case {
            long failAt;
            int err;
            bool sticky = false;  // the disk stays full to the end of the first restore
        };
        std::vector<Case> cases;
        for (long n = 1; n <= 45; n += 2) cases.push_back({n, ENOSPC});
        for (long n : {6L, 20L}) cases.push_back({n, EIO});
        for (long n : {41L, 45L}) cases.push_back({n, ENOSPC, true});
        const std::map<std::string, int> live = {{"sag:A1|Sag A1", 1},  {"post:A1|a1 one", 1},
                                                 {"post:A1|a1 two", 1}, {"post:A1|a1 three", 1},
                                                 {"stat:A1|e1", 1},     {"stat:A1|e2", 1}};
        int stopped = 0;
        for (const Case& c : cases) {
            const QString at = QStringLiteral("write %1, errno %2: ").arg(c.failAt).arg(c.err);
            const QString head =
                QString::fromUtf8(c.err == ENOSPC ? "Disken er fuld" : "Skrivefejl p\u00e5 disken");
            cleanup();
            init();
            kj::ArchiveClosedCases(*f_.data, nullptr, nullptr);
            kj::KeepRunningOnEngineErrors(true);
            tz::FaultInjector inj;
            inj.failAt = c.failAt;
            inj.sticky = c.sticky;  // else room for the next write again
            inj.failErrno = c.err;
            f_.responder.Clear();
            QVERIFY(RestoreInWindow("A1", &inj));
            const qsizetype told = f_.responder.Texts().size();
            RestoreInWindow("A1", nullptr);  // gone from the archive when the restore was done
            kj::KeepRunningOnEngineErrors(false);
            // With room again the failure is not told a second time.
            for (const QString& text : f_.responder.Texts().mid(told))
                QVERIFY2(!text.startsWith(head), qPrintable(at + "told again: " + text));
            for (const QString& text : f_.responder.Texts()) {
                if (text.contains(QStringLiteral("Indtast sagsnr"))) continue;
                const QString words = text.section(QString::fromUtf8("Oplysninger til"), 0, 0);
                QVERIFY2(text.startsWith(head), qPrintable(at + text));
                QVERIFY2(!words.contains(QStringLiteral("Error #")), qPrintable(at + text));
                if (!words.contains(QStringLiteral("gendan sagen igen"))) continue;
                ++stopped;
                for (const char* part :
                     {"Ingen r\u00e6kker er mistet eller fordoblet.\r\n", "start programmet igen"})
                    QVERIFY2(words.contains(QString::fromUtf8(part)), qPrintable(at + text));
            }
            f_.Close();  // the next start finishes a restore whose case row is in
            f_.Open(false);
            std::map<std::string, int> a1;
            for (const auto& [row, n] : RowsOnDisk(f_.sf->data))
                if (row.find(":A1|") != std::string::npos || row == "dbfread failed") a1[row] = n;
            QVERIFY2(a1 == live, qPrintable(at + QString::number(a1.size())));
        }
        QVERIFY2(stopped >= 8, qPrintable(QString::number(stopped)));
    }

    void anEmptyRunShowsThreeZeros() {
        f_.data->SagsDbf.First();
        f_.data->SagsDbf.Edit();
        f_.data->SagsDbf.FieldByName("sag_afslut").SetAsString("");
        f_.data->SagsDbf.Post();
        QStringList summary;
        const kj::ArchiveCounts c = Archive(summary);
        QCOMPARE(c.cases + c.postings + c.events, 0);
        QCOMPARE(summary, QStringList({QString::fromUtf8("Antal overførte sager:       0"),
                                       QString::fromUtf8("Antal overførte posteringer: 0"),
                                       QString::fromUtf8("Anatl overførte hændelser:   0")}));
        QCOMPARE(f_.data->PostDbf.RecCount(), 6);  // nothing archived; the deleted row packed
    }
};

int main(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    if (argc >= 5 && QString(argv[1]) == "--restore-crash")
        return RestoreCrashing(argv[2], argv[3], std::atol(argv[4]));
    if (argc >= 3 && (QString(argv[1]) == "--archive" || QString(argv[1]) == "--restore"))
        return MoveStation(argv[1], argv[2], argc >= 4 ? argv[3] : "");
    ArchiveTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "archive_test.moc"
