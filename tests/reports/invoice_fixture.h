// A data folder for the invoice copy and the export: started through the data module (first
// start answered by the scripted responder), with a customer, a postal code, items, two
// cases and their postings written through the table components. A helper station (this
// test binary started again) opens the same folder and holds a posting's record lock.
#pragma once

#include <QProcess>
#include <QtTest>
#include <memory>

#include "app/kj_text.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"
#include "tests/app/app_fixture.h"
#include "tests/ui/process_wait.h"

namespace kjinvtest {

using kjqt::mb::kIdYes;

struct Posting {
    const char* sag;
    const char* tmu;
    const char* bem;
    const char* dk;
    double antal, pris, rabat, moms;
    const char* fnr = "";
    bool over = false;
    int day = 1;  // of December 2026
};

class DataFolder {
  public:
    kjqt::ScriptedResponder responder;
    std::unique_ptr<kjapptest::StartFolder> sf;
    std::unique_ptr<kj::TKJData> data;

    void Start(bool first) {
        if (first) {
            sf = kjapptest::FreshStartFolder(responder, kj::Ansi("Landinspektørerne"),
                                             kj::Ansi("Vejen 1, 2100 København Ø"));
            kjapptest::AnswerFirstStart(*sf, responder);
        } else {
            kjapptest::ResetEngine();
            responder.Clear();  // answers a table without a question left unused
        }
        data = kjapptest::NewDataModule();
        QVERIFY2(kj::OpenStartupData(*data, "T3=" + sf->start, nullptr),
                 qPrintable(responder.Texts().join(" | ")));
        data->AjourInitials = "AB";
        responder.Clear();
    }
    void Stop() {
        kj::SetKJData(nullptr);
        kjapptest::CloseDataModule(data);
    }

    void Add(Db::TDataSet& t, std::initializer_list<std::pair<const char*, const char*>> v) {
        t.Append();
        for (const auto& [f, s] : v) t.FieldByName(f).SetAsString(kj::Ansi(s));
        responder.Answer(kIdYes);
        t.Post();
    }
    void AddPosting(const Posting& p) {
        Db::TDataSet& t = data->PostDbf;
        t.Append();
        t.FieldByName("post_sag").SetAsString(p.sag);
        t.FieldByName("post_tmu").SetAsString(p.tmu);
        t.FieldByName("post_bem").SetAsString(kj::Ansi(p.bem));
        t.FieldByName("post_dk").SetAsString(p.dk);
        t.FieldByName("post_antal").SetAsFloat(p.antal);
        t.FieldByName("post_pris").SetAsFloat(p.pris);
        t.FieldByName("post_rabat").SetAsFloat(p.rabat);
        t.FieldByName("post_moms").SetAsFloat(p.moms);
        t.FieldByName("post_fnr").SetAsString(p.fnr);
        t.FieldByName("post_over").SetAsBoolean(p.over);
        t.FieldByName("post_dato").SetAsDateTime(Db::EncodeDate(2026, 12, p.day));
        responder.Answer(kIdYes);
        t.Post();
    }
    void AddRegisters() {
        Add(data->PostnrDbf, {{"pst_nr", "2100"}, {"pst_by", "København Ø"}});
        Add(data->KundeDbf, {{"mak_id", "K1"},
                             {"mak_fnavn", "Anne"},
                             {"mak_enavn", "Ærø"},
                             {"mak_adr1", "Strandvejen 7"},
                             {"mak_adr2", "1. sal"},
                             {"mak_att", "Att. Bo"},
                             {"mak_postnr", "2100"}});
        Add(data->SagsDbf, {{"sags_nr", "S1"}, {"sag_kunde", "K1"}, {"sags_bem", "Skel ved å"}});
        Add(data->SagsDbf, {{"sags_nr", "S2"}, {"sag_kunde", "K1"}, {"sags_bem", "Anden sag"}});
        Add(data->VareDbf, {{"tmu_id", "V1"}, {"tmu_konto", "1010"}});
        Add(data->VareDbf, {{"tmu_id", "V2"}, {"tmu_konto", ""}});
    }

    // Writes a number field of posting `rec` as another program may, past the field rules.
    void Poke(int32_t rec, const char* field, const char* value) {
        kjapptest::PokeNumber(data->PostDbf, rec, field, value);
    }
    // The box that tells of an amount of posting `rec` no money count can hold: the field
    // as "\"Label\" (name)" and why, both Windows-1252.
    QString Unread(int32_t rec, const std::string& field, const std::string& why) const {
        return kjqt::FromAnsi("Feltet " + field + " i post nr. " + std::to_string(rec) + " i " +
                              sf->data + "Poster.dbf kan ikke l\xE6ses: " + why +
                              ".\r\nBel\xF8"
                              "bene regnes som 0.");
    }
    // The two kinds: 1e15 in the price, and a quantity that makes the total too large.
    struct UnreadCase {
        const char *antal, *pris, *field, *why;
    };
    static std::vector<UnreadCase> UnreadCases() {
        return {{"1.00", "1000000000000000.00", "\"Stk.pris\" (post_pris)",
                 "1E+15 er ikke et gyldigt bel\xF8"
                 "b"},
                {"9999999.99", "900000000000000.00", "\"Pris\" (Total)",
                 "Bel\xF8"
                 "bet er for stort: en postering kan h\xF8jst v\xE6re p\xE5 922 337 203 685 477 "
                 "kr"}};
    }
    // The kinds as a data-driven test's rows: column "kind", rows "price" and "total".
    static void AddUnreadRows() {
        QTest::addColumn<int>("kind");
        QTest::newRow("price") << 0;
        QTest::newRow("total") << 1;
    }
    // Writes the amounts of the given kind into posting `rec`, past the field rules.
    UnreadCase PokeUnread(int32_t rec, int kind) {
        const UnreadCase c = UnreadCases()[size_t(kind)];
        Poke(rec, "POST_ANTAL", c.antal);
        Poke(rec, "POST_PRIS", c.pris);
        return c;
    }

    // Every posting's (post_bem, post_fnr, post_over), read again from the file.
    struct Row {
        std::string bem, fnr;
        bool over;
    };
    std::vector<Row> Rows() {
        std::vector<Row> rows;
        TzDs::TTzDbf& t = data->PostBufDbf;
        t.SetOrderToTag("");
        for (t.First(); !t.Eof(); t.Next())
            rows.push_back(
                {kjqt::FromAnsi(t.FieldByName("post_bem").AsString()).trimmed().toStdString(),
                 TzUtils::TrimRight(t.FieldByName("post_fnr").AsString()),
                 t.FieldByName("post_over").AsBoolean()});
        return rows;
    }
};

// The helper station: opens the folder, takes the record lock of posting `recno` for an
// edit, says "LOCKED", and on a line "go" on stdin stamps post_fnr and post_over, posts
// (releasing the lock) and ends.
inline int StationMain(const std::string& start, int recno, const std::string& fnr) {
    kjqt::ScriptedResponder responder;
    kjqt::DialogService::Instance().SetResponder(&responder);
    kjapptest::ResetEngine();
    kj::CreateQelCom();
    kj::TKJData data;
    kj::SetKJData(&data);
    if (!kj::OpenStartupData(data, "T3=" + start, nullptr)) return 2;
    data.AjourInitials = "ZZ";
    TzDs::TTzDbf& t = data.PostDbf;
    t.BeforePost = nullptr;
    data.GotoRecNo(t, recno);
    t.Edit();
    if (!t.RLock()) return 3;
    std::printf("LOCKED\n");
    std::fflush(stdout);
    char line[16] = {};
    if (!std::fgets(line, sizeof line, stdin)) return 4;
    t.FieldByName("post_fnr").SetAsString(fnr);
    t.FieldByName("post_over").SetAsBoolean(true);
    t.Post();
    std::printf("DONE\n");
    std::fflush(stdout);
    return 0;
}

// Starts the helper station and waits (bounded) until it holds the lock.
inline bool StartStation(QProcess& p, const std::string& start, int recno, const char* fnr) {
    p.start(QCoreApplication::applicationFilePath(),
            {"--station", QString::fromStdString(start), QString::number(recno), fnr});
    if (!p.waitForStarted(10000)) return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 20000) {
        if (p.canReadLine() && p.readLine().startsWith("LOCKED")) return true;
        p.waitForReadyRead(200);
    }
    return false;
}

}  // namespace kjinvtest
