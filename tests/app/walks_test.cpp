// The application's long walks over a real data folder with a second station beside them:
// the index read counts of a walk's look-ups are held across the walk and let go while
// window messages run, so that another station appending meanwhile gets in, and the walk
// sees its row at the next record.
#include <QThread>

#include "app/vare_i_form.h"
#include "index/mdx_semaphore.h"
#include "ui/application.h"
#include "work_fixture.h"

using namespace kjapptest;

namespace {

// Readers counted in a shared semaphore file (its second byte), -1 when it cannot be read.
int Readers(const std::string& sem) {
    const std::string bytes = Read(sem);
    return bytes.size() >= 2 ? int(uint8_t(bytes[1])) : -1;
}

}  // namespace

class WalksTest : public QObject {
    Q_OBJECT
    DataFolder f_;

  private slots:
    void init() { f_.Open(); }
    void cleanup() { f_.Close(); }

    // The print-priority update counts itself in once as a reader of the item and group
    // indexes; the other station's item, added while window messages run (nothing counted
    // then), is found for the postings after it.
    void priorityUpdateHoldsItsLookUpsAndLetsAnotherStationAppend() {
        kj::TKJData& d = *f_.data;
        f_.Add(d.vareGDbf, {{"id", "G1"}, {"priori", "3"}});
        f_.Add(d.VareDbf, {{"tmu_id", "V1"}, {"tmu_gr", "G1"}});
        f_.AddCase("S1");
        for (const char* item : {"V1", "V2", "V2"})
            f_.Add(d.PostDbf, {{"post_sag", "S1"}, {"post_tmu", item}, {"post_ans", "AB"}});
        d.PostDbf.SetOrderToTag("");
        d.VareDbf.SetOrderToTag("varer");
        d.vareGDbf.SetOrderToTag("gruppe");
        Helper other({"--add-item", QString::fromStdString(f_.sf->start)});
        QVERIFY(other.Wait("READY", 60000));
        const std::string sem = Mdx::SemaphoreFileName(d.VareDbf.DbfFileName());
        QCOMPARE(Readers(sem), 0);
        int steps = 0, heldAtFirst = -1, inMessages = -1;
        bool added = false;
        kj::UpdatePostingPriorities("TST", [&] {
            if (++steps != 1) return;
            heldAtFirst = Readers(sem);
            QTimer::singleShot(0, [&] {
                inMessages = Readers(sem);
                other.Say("add");
                added = other.Wait("ADDED", 60000);
            });
            QThread::msleep(25);  // window messages run at most every 20 ms
        });
        d.PostDbf.UnLock();
        QCOMPARE(steps, 3);
        QCOMPARE(heldAtFirst, 1);
        QCOMPARE(inMessages, 0);
        QVERIFY(added);
        QCOMPARE(Readers(sem), 0);
        int priorities = 0;
        for (d.PostDbf.First(); !d.PostDbf.Eof(); d.PostDbf.Next())
            priorities += d.PostDbf.FieldByName("post_pri").AsInteger() == 3;
        QCOMPARE(priorities, 3);
        other.Say("end");
        QVERIFY(other.Finish());
    }

    // The update holds the postings' index as its writer for a few records at a time,
    // never while window messages run: another station walking the postings in the order
    // of a tag the update changes gets in then and finds every posting once.
    void priorityUpdateLetsAReaderOfThePostingsIn() {
        kj::TKJData& d = *f_.data;
        f_.Add(d.vareGDbf, {{"id", "G1"}, {"priori", "3"}});
        f_.Add(d.VareDbf, {{"tmu_id", "V1"}, {"tmu_gr", "G1"}});
        f_.AddCase("S1");
        for (int i = 0; i < 40; ++i)
            f_.Add(d.PostDbf, {{"post_sag", "S1"}, {"post_tmu", "V1"}, {"post_ans", "AB"}});
        d.PostDbf.SetOrderToTag("");
        d.VareDbf.SetOrderToTag("varer");
        d.vareGDbf.SetOrderToTag("gruppe");
        Helper other({"--add-item", QString::fromStdString(f_.sf->start)});
        QVERIFY(other.Wait("READY", 60000));
        int steps = 0;
        bool read = false;
        kj::UpdatePostingPriorities("TST", [&] {
            if (++steps != 20) return;
            QTimer::singleShot(0, [&] {
                other.Say("read");
                read = other.Wait("READ 40", 20000);
            });
            QThread::msleep(25);  // window messages run at most every 20 ms
        });
        d.PostDbf.UnLock();
        QCOMPARE(steps, 40);
        QVERIFY2(read, other.Output().constData());
        other.Say("end");
        QVERIFY(other.Finish());
    }
};

// A second station on the folder: adds item V2 of group G1 ("add") or walks the postings
// ("read") when told to, until "end".
static int AddItemStation(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    DataFolder f;
    f.OpenExisting(argv[2]);
    kjqt::ScriptedResponder& responder = f.responder;
    kj::TKJData* data = f.data.get();
    data->AjourInitials = "TST";
    std::fputs("READY\n", stdout);
    std::fflush(stdout);
    char line[64];
    for (std::string said; std::fgets(line, sizeof line, stdin) && (said = line) != "end\n";) {
        if (said == "read\n") {  // the postings walked in the order of a tag with the priority
            TzDs::TTzDbf& p = data->PostDbf;
            p.SetOrderToTag("POSTTMU");
            int n = 0;
            for (p.First(); !p.Eof(); p.Next()) ++n;
            std::printf("READ %d\n", n);
        } else {
            for (int i = 0; i < 4; ++i) responder.Answer(kjqt::mb::kIdYes);
            data->VareDbf.Append();
            data->VareDbf.FieldByName("tmu_id").SetAsString("V2");
            data->VareDbf.FieldByName("tmu_gr").SetAsString("G1");
            data->VareDbf.Post();
            std::fputs(TzCommon::ErrorWord() == 0 ? "ADDED\n" : "FAILED\n", stdout);
        }
        std::fflush(stdout);
    }
    f.Close();
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 3 && QString(argv[1]) == "--add-item") return AddItemStation(argc, argv);
    kjqt::KjApplication app(argc, argv);
    WalksTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "walks_test.moc"
