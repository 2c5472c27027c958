// Shared pieces of the report window tests: a data folder made by a first start through the
// data module, rows added through its tables (every question answered Yes), the report host
// wired to the data module and the set-up object, printing to a PDF file read back with
// pdftotext, and the dialog service's scripted responder.
#pragma once

#include <QAbstractButton>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

#include "pdf_tools.h"
#include "reports/preview_form.h"
#include "reports/report_host.h"
#include "reports/report_window.h"
#include "reports/report_wiring.h"
#include "tests/app/app_fixture.h"

namespace kjreptest {

using kjapptest::StartFolder;

inline std::string Ansi(const char* utf8) {
    return kjqt::ToAnsi(QString::fromUtf8(utf8));
}

struct Row {
    const char* field;
    std::string value;
};

class ReportFixture {
  public:
    kjqt::ScriptedResponder responder;
    std::unique_ptr<StartFolder> folder;
    std::unique_ptr<kj::TKJData> data;
    QString pdf;

    void Start() {
        QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor"));
        kjqt::DialogService::Instance().SetResponder(&responder);
        kjapptest::ResetEngine();
        responder.Clear();
        folder = std::make_unique<StartFolder>();
        folder->WriteIniPaths(folder->data);
        folder->WriteUserData(Ansi("Landinspektørerne ApS"), "Hovedgaden 1");
        QDir().mkpath(QString::fromStdString(folder->data));
        responder.AnswerCancel();
        responder.Answer(kjqt::mb::kIdYes);
        kj::CreateQelCom();
        data = std::make_unique<kj::TKJData>();
        kj::SetKJData(data.get());
        QVERIFY(kj::OpenStartupData(*data, "T3=" + folder->start, nullptr));
        data->AjourInitials = "AB";
        responder.Clear();
        kjrep::InstallReportEntries();
        kjrep::PreviewForm().Clock = [] { return QDateTime(QDate(2024, 3, 15), QTime(12, 0)); };
        pdf = QString::fromStdString(folder->start) + "out.pdf";
        qputenv("KJ_PRINT_PDF", pdf.toLocal8Bit());
    }

    void Stop() {
        kjrep::FreePreviewForm();
        kj::SetKJData(nullptr);
        data.reset();
        kj::FreeQelCom();
        Dbf4::CloseAll();
        kjqt::DialogService::Instance().SetResponder(nullptr);
        folder.reset();
    }

    // Appends one row; a question before the write is answered Yes.
    void Add(TzDs::TTzDbf& table, std::initializer_list<Row> rows) {
        table.Append();
        for (const Row& r : rows) table.FieldByName(r.field).SetAsString(r.value);
        responder.Clear();
        responder.Answer(kjqt::mb::kIdYes);
        table.Post();
        responder.Clear();
    }
    void AddCase(const char* nr, const char* bem, const char* ansvar = "", const char* kunde = "",
                 const char* closed = "") {
        Add(data->SagsDbf, {{"sags_nr", nr},
                            {"sags_bem", Ansi(bem)},
                            {"sag_ansvar", ansvar},
                            {"sag_kunde", kunde},
                            {"sag_afslut", closed},
                            {"sag_type", "Udstykning"}});
    }
    void AddUser(const char* ini, const char* fnavn, const char* enavn) {
        Add(data->BrugerDbf,
            {{"ini", ini}, {"ini_fnavn", Ansi(fnavn)}, {"ini_enavn", Ansi(enavn)}});
    }
    void AddItem(const char* id, const char* bem, const char* group) {
        Add(data->VareDbf, {{"tmu_id", id}, {"tmu_bem", Ansi(bem)}, {"tmu_gr", group}});
    }
    void AddGroup(const char* id, const char* tekst, const char* priori = "1") {
        Add(data->vareGDbf, {{"id", id}, {"tekst", Ansi(tekst)}, {"priori", priori}});
    }
    // Amounts as the fields take them ("." before the decimals).
    void AddPosting(const char* sag, const char* tmu, const char* ans, const char* dato,
                    const char* antal, const char* pris, const char* moms = "25",
                    const char* rabat = "0", const char* fnr = "", const char* bem = "") {
        Add(data->PostDbf, {{"post_sag", sag},
                            {"post_tmu", tmu},
                            {"post_ans", ans},
                            {"post_dato", dato},
                            {"post_antal", antal},
                            {"post_pris", pris},
                            {"post_moms", moms},
                            {"post_rabat", rabat},
                            {"post_fnr", fnr},
                            {"post_bem", Ansi(bem)},
                            {"post_dk", "D"}});
    }
    void AddEvent(const char* sag, const char* dato, const char* bem, bool done) {
        TzDs::TTzDbf& t = data->StatusDbf;
        t.Append();
        t.FieldByName("stat_sag").SetAsString(sag);
        t.FieldByName("stat_dato").SetAsString(dato);
        t.FieldByName("stat_bem").SetAsString(Ansi(bem));
        t.FieldByName("stat_val").SetAsBoolean(done);
        responder.Clear();
        responder.Answer(kjqt::mb::kIdYes);
        t.Post();
        responder.Clear();
    }

    // Presses a button that prints to the PDF; the PDF's text ("" when none was written).
    QString Print(QAbstractButton* button) {
        QFile::remove(pdf);
        button->click();
        if (!QFile::exists(pdf)) return QString();
        // KJ_REPORT_TEST_KEEP names a folder that keeps a copy of every PDF (for looking).
        static int kept = 0;
        const QString keep = qEnvironmentVariable("KJ_REPORT_TEST_KEEP");
        if (!keep.isEmpty()) QFile::copy(pdf, QString("%1/%2.pdf").arg(keep).arg(++kept));
        return PdfText(pdf);
    }
    // Presses "Vis"; the preview is closed as soon as it shows (after onShown); the pages
    // it showed.
    int Preview(QAbstractButton* button, const std::function<void()>& onShown = {}) {
        int pages = -1;
        kjrep::TPreviewForm& form = kjrep::PreviewForm();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (form.isModal() && form.isVisible()) {
                pages = form.VisUdskrift->PageCount();
                if (onShown) onShown();
                form.accept();
            }
        });
        poll.start(20);
        QTimer guard;  // bounded: the preview closes after 20 s whatever happens
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] { form.reject(); });
        guard.start(20000);
        button->click();
        return pages;
    }
};

// Occurrences of text in s.
inline int Count(const QString& s, const QString& text) {
    return s.count(text);
}

// Printed sums in kroner ("1 234,50 kr"; the money fields' own "kr. 12,00" do not count).
inline int Kroner(const QString& s) {
    return int(s.count(QRegularExpression("\\d kr(\\s|$)")));
}

// The text of each page.
inline QStringList Pages(const QString& text) {
    QStringList pages = text.split('\f');
    while (!pages.isEmpty() && pages.back().trimmed().isEmpty()) pages.removeLast();
    return pages;
}

}  // namespace kjreptest
