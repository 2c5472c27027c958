// A table cut short by another program while the program runs: the main window is up on a
// case with its postings, another process cuts the end off Poster.dbf, and the user saves a
// new posting with the keys. The user is told once, in Danish, which table lost how many
// postings and that its index was built again; the posting is stored under a record number
// of its own, and every tag of the postings index agrees with the table afterwards.
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>
#include <algorithm>

#include "app/kj_tables.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app/main_form.h"
#include "app_fixture.h"
#include "main_form_fixture.h"
#include "start_check.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/db_grid.h"

using namespace kjapptest;
using kjqt::mb::kIdYes;

class TableCutTest : public QObject {
    Q_OBJECT

    kjqt::ScriptedResponder responder_;
    std::unique_ptr<StartFolder> sf_;
    std::unique_ptr<kj::TKJData> data_;
    std::unique_ptr<kj::TKJSagerForm> form_;

    void AddPosting(const std::string& sag, int i) {
        TzDs::TTzDbf& t = data_->PostDbf;
        t.Append();
        t.FieldByName("post_sag").SetAsString(sag);
        t.FieldByName("post_antal").SetAsFloat(1);
        t.FieldByName("post_pris").SetAsFloat(100 + i);
        t.FieldByName("post_dk").SetAsString("D");
        t.FieldByName("post_bem").SetAsString("post " + std::to_string(i));
        t.Post();
    }
    // The live postings' texts of case `sag`, read through a cursor of their own (in the
    // order of its index).
    std::vector<std::string> Texts(const std::string& sag) {
        TzDs::TTzDbf& t = data_->TzDbf1;
        t.HideDeletedRecs = true;
        t.SetDbfFileName(sf_->data + "Poster.dbf");
        t.Open();
        std::vector<std::string> out;
        for (t.First(); !t.Eof(); t.Next())
            if (Trim(t.FieldByName("post_sag").AsString()) == sag)
                out.push_back(Trim(t.FieldByName("post_bem").AsString()));
        t.Close();
        return out;
    }
    static QWidget* Focused() { return QApplication::focusWidget(); }
    // Types text over a cell of the postings grid, as a click into the cell and keys do.
    QLineEdit* Retype(int column, const QString& text) {
        kjqt::TDBGrid* grid = form_->posterGrid;
        grid->setFocus();
        grid->SetSelectedIndex(column == 2 ? 3 : 2);
        grid->SetSelectedIndex(column);
        QApplication::processEvents();
        auto* editor = qobject_cast<QLineEdit*>(Focused());
        if (!editor || !grid->isAncestorOf(editor)) return nullptr;
        editor->selectAll();
        QTest::keyClicks(Focused(), text);
        return editor;
    }
    // A new posting typed into the grid and saved with Ctrl+Ins (the save question
    // answered Yes), as the user does.
    void SavePosting(const QString& text) {
        QTest::mouseClick(form_->posterNyBtn, Qt::LeftButton);
        QCOMPARE(data_->tmpPost.State(), Db::dsInsert);
        QVERIFY(Retype(3, text));  // POST_BEM
        responder_.Answer(kIdYes);
        QTest::keyClick(Focused(), Qt::Key_Insert, Qt::ControlModifier);
    }

  private slots:
    void initTestCase() { AnswerAllBy(responder_); }
    void init() {
        sf_ = FreshStartFolder(responder_, "Firma", "Vej");
        AnswerFirstStart(*sf_, responder_);
        data_ = NewDataModule();
        QVERIFY(OpenMainForm(form_, *data_, *sf_, responder_, FormUp::MainShown));
    }
    void cleanup() { CloseMainForm(form_, data_, sf_); }

    // 30 postings on case C1, shown in the main window; another program cuts 51 bytes
    // (the end mark and most of posting 30) off Poster.dbf; the user saves a new posting.
    void aPostingSavedAfterACutIsToldOnceAndStoredWhole() {
        data_->SagsDbf.Append();
        data_->SagsDbf.FieldByName("sags_nr").SetAsString("C1");
        data_->SagsDbf.Post();
        for (int i = 1; i <= 30; ++i) AddPosting("C1", i);
        QVERIFY(data_->SagsDbf.SetOrderToTag("SAGSNR"));
        QVERIFY(data_->SagsDbf.FindExact(TzUtils::PadRight("C1", 10)));
        form_->PageSager->setCurrentIndex(1);
        form_->RefreshViews();
        form_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form_.get()));
        QCOMPARE(data_->tmpPost.RecCount(), 30);

        const QString poster = QString::fromStdString(sf_->data + "Poster.dbf");
        QCOMPARE(QProcess::execute(QStringLiteral("/usr/bin/truncate"),
                                   {QStringLiteral("-s"), QStringLiteral("-51"), poster}),
                 0);
        responder_.Clear();
        SavePosting(QStringLiteral("efter afkortning"));
        const QStringList told = responder_.Texts();
        qInfo() << "told:" << told;
        QCOMPARE(told.size(), 2);
        QCOMPARE(told[0], U("Skal den rettede postering gemmes ?"));
        QVERIFY2(told[1].startsWith(U("Tabellen ") + poster +
                                    U(" indeholder færre poster end dens hoved angav: 29 i "
                                      "stedet for 30. 1 post mangler")),
                 qPrintable(told[1]));
        QVERIFY2(told[1].contains(U("Indekset over tabellen er bygget igen")), qPrintable(told[1]));

        // The posting has a record number of its own, past the 29 the cut left.
        TzDs::TTzDbf& scratch = data_->tmpPost;
        if (scratch.State() != Db::dsBrowse) scratch.Cancel();
        int32_t recNo = 0;
        for (scratch.First(); !scratch.Eof(); scratch.Next())
            if (Trim(scratch.FieldByName("post_bem").AsString()) == "efter afkortning")
                recNo = scratch.FieldByName("post_recno").AsInteger();
        QCOMPARE(recNo, 30);

        // A second save is not told again.
        responder_.Clear();
        SavePosting(QStringLiteral("en til"));
        QCOMPARE(responder_.Texts(), QStringList({U("Skal den rettede postering gemmes ?")}));

        std::vector<std::string> want;
        for (int i = 1; i <= 29; ++i) want.push_back("post " + std::to_string(i));
        want.push_back("efter afkortning");
        want.push_back("en til");
        std::vector<std::string> stored = Texts("C1");
        std::sort(stored.begin(), stored.end());
        std::sort(want.begin(), want.end());
        QVERIFY2(stored == want,
                 qPrintable(QString::fromStdString(
                     "Poster.dbf holds " + std::to_string(stored.size()) +
                     " postings of C1, last: " + (stored.empty() ? "" : stored.back()) +
                     (stored.size() > 1 ? ", " + stored[stored.size() - 2] : ""))));
        kj::SetMainWindow(nullptr);
        form_.reset();
        data_.reset();
        kj::FreeQelCom();
        ResetEngine();
        QCOMPARE(TagsAgree(sf_->data + "Poster.dbf", *kj::FindTable("PostDbf")), std::string());
        const std::string bytes = Read(sf_->data + "Poster.dbf");
        QCOMPARE(int(uint8_t(bytes[4])), 31);  // the header's count
    }
};

int main(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    TableCutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "table_cut_test.moc"
