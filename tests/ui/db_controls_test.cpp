// Data-aware controls and the card grid over real tables: the first change enters edit
// state, leaving or Enter writes the field, controls follow the record and can be detached
// and attached again; the card grid's cards, keys and clicks.
#include "ui/db_controls.h"

#include <QComboBox>
#include <QtTest>

#include "data/db_datasource.h"
#include "ui/db_ctrl_grid.h"
#include "ui/dialog_service.h"
#include "ui_tables.h"

using namespace kjqt;
using namespace kjuitest;

namespace {

std::string Trim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::vector<std::string> Trimmed(std::vector<std::string> v) {
    for (auto& s : v) s = Trim(s);
    return v;
}

}  // namespace

class DbControlsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Tables> tables_;
    std::unique_ptr<TzDs::TTzDbf> staff_;
    std::unique_ptr<Db::TDataSource> source_;
    std::unique_ptr<QWidget> window_;

    template <class C>
    C* Add(const std::string& field) {
        auto* c = new C(window_.get());
        c->SetDataSource(source_.get());
        c->SetDataField(field);
        return c;
    }
    void ShowWindow() {
        window_->resize(300, 300);
        window_->show();
        QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    }

  private slots:
    void init() {
        tables_ = std::make_unique<Tables>();
        staff_ = tables_->Staff("staff.dbf", kStaff);
        source_ = std::make_unique<Db::TDataSource>();
        source_->SetDataSet(staff_.get());
        window_ = std::make_unique<QWidget>();
    }
    void cleanup() {
        window_.reset();
        source_.reset();
        staff_.reset();
        tables_.reset();
    }

    void editEntersEditOnFirstChangeAndWritesOnLeave() {
        auto* navn = Add<TDBEdit>("navn");
        auto* other = Add<TDBEdit>("antal");
        ShowWindow();
        QCOMPARE(navn->text(), QStringLiteral("Anna Berg"));
        navn->setFocus();
        navn->selectAll();
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QTest::keyClicks(navn, "Alma");
        QCOMPARE(staff_->State(), Db::dsEdit);
        QCOMPARE(navn->text(), QStringLiteral("Alma"));  // the edit did not reload it
        QCOMPARE(Trim(staff_->FieldByName("navn").AsString()), std::string("Anna Berg"));
        other->setFocus();  // leaving writes the field
        QCOMPARE(Trim(staff_->FieldByName("navn").AsString()), std::string("Alma"));
        QTest::keyClicks(other, "7");
        QTest::keyClick(other, Qt::Key_Return);  // Enter writes too
        QCOMPARE(staff_->FieldByName("antal").AsInteger(), 17);
        staff_->Post();
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "navn"))[0], std::string("Alma"));
        // Escape takes back a pending change.
        navn->setFocus();
        QTest::keyClicks(navn, "xyz");
        QTest::keyClick(navn, Qt::Key_Escape);
        QCOMPARE(navn->text(), QStringLiteral("Alma"));
        staff_->Cancel();
    }

    // A masked value left half typed is refused with a message, and the field keeps its
    // stored value; a value left wholly blank is no half-typed one.
    void incompleteMaskedValueIsRefused() {
        ScriptedResponder responder;
        DialogService::Instance().SetResponder(&responder);
        struct Back {
            ~Back() { DialogService::Instance().SetResponder(nullptr); }
        } back;
        staff_->FieldByName("navn").SetEditMask("!90:00;1;_");
        auto* navn = Add<TDBEdit>("navn");
        auto* other = Add<TDBEdit>("antal");
        ShowWindow();
        navn->setFocus();
        navn->selectAll();
        QTest::keyClick(navn, Qt::Key_Delete);
        QTest::keyClicks(navn, "2");
        responder.Answer(mb::kIdOk);
        other->setFocus();
        QCOMPARE(responder.Texts(), QStringList{QStringLiteral("Feltet er ikke udfyldt helt !!!")});
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(navn));
        QCOMPARE(Trim(staff_->FieldByName("navn").AsString()), std::string("Anna Berg"));
        navn->selectAll();
        QTest::keyClick(navn, Qt::Key_Delete);
        QTest::keyClicks(navn, "2300");
        other->setFocus();
        QCOMPARE(Trim(staff_->FieldByName("navn").AsString()), std::string("23:00"));
        navn->setFocus();
        navn->selectAll();
        QTest::keyClick(navn, Qt::Key_Delete);
        other->setFocus();
        QCOMPARE(responder.Texts().size(), 1);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(other));
        staff_->Cancel();
    }

    void maskedEditStoresUpperCaseWithoutLiterals() {
        staff_->FieldByName("ini").SetEditMask(">ccccc;0;_");
        auto* ini = Add<TDBEdit>("ini");
        ShowWindow();
        ini->setFocus();
        QCOMPARE(ini->inputMask(), QStringLiteral(">xxxxx;_"));
        ini->selectAll();
        QTest::keyClicks(ini, QString::fromUtf8("øx"));
        staff_->Post();
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ini"))[0], std::string("\xD8X"));
    }

    void controlsFollowTheRecordAndDetach() {
        auto* navn = Add<TDBEdit>("navn");
        auto* text = Add<TDBText>("ini");
        auto* ok = Add<TDBCheckBox>("ok");
        auto* ret = Add<TDBCheckBox>("ret");
        ShowWindow();
        QCOMPARE(text->text(), QStringLiteral("AB"));
        QVERIFY(ok->isChecked());
        QVERIFY(ret->isChecked());
        staff_->Next();
        QCOMPARE(navn->text(), QStringLiteral("Carl Dahl"));
        QCOMPARE(text->text(), QStringLiteral("CD"));
        QVERIFY(!ok->isChecked());
        QVERIFY(!ret->isChecked());
        // Detached while a modal window moves the table: they keep what they show.
        staff_->DisableControls();
        staff_->Next();
        staff_->Next();
        QCOMPARE(text->text(), QStringLiteral("CD"));
        staff_->EnableControls();
        QCOMPARE(text->text(), QStringLiteral("GH"));
        QCOMPARE(navn->text(), QStringLiteral("Gert Holm"));
        // Without a data source they are empty; with it again they show the record.
        navn->SetDataSource(nullptr);
        QCOMPARE(navn->text(), QString());
        staff_->First();
        QCOMPARE(navn->text(), QString());
        navn->SetDataSource(source_.get());
        QCOMPARE(navn->text(), QStringLiteral("Anna Berg"));
        // A closed and reopened table shows its record again.
        staff_->Close();
        QCOMPARE(text->text(), QString());
        staff_->Open();
        QCOMPARE(text->text(), QStringLiteral("AB"));
    }

    void checkBoxWritesTrueFalseText() {
        auto* ret = Add<TDBCheckBox>("ret");
        auto* ok = Add<TDBCheckBox>("ok");
        ShowWindow();
        QVERIFY(ret->isChecked());
        ret->setFocus();
        QTest::keyClick(ret, Qt::Key_Space);
        QCOMPARE(staff_->State(), Db::dsEdit);
        QTest::keyClick(ok, Qt::Key_Space);  // two changes of one box: back where it was
        ok->click();
        staff_->Post();
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ret"))[0], std::string("False"));
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ok"))[0], std::string("True"));
        staff_->Next();
        ret->click();
        staff_->Post();
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ret"))[1], std::string("True"));
    }

    void comboFillsOnDropDownAndLookupShowsTheListRow() {
        auto list =
            tables_->Staff("typer.dbf", {{"D", "Debet", 0, false}, {"K", "Kredit", 0, false}});
        Db::TDataSource listSource;
        listSource.SetDataSet(list.get());
        auto* combo = Add<TDBComboBox>("navn");
        int drops = 0;
        combo->OnDropDown = [&](TDBComboBox& c) {
            ++drops;
            c.clear();
            c.addItems({"Ole", "Per"});
        };
        auto* lookup = Add<TDBLookupComboBox>("dk");
        lookup->ListSource = &listSource;
        lookup->KeyField = "ini";
        lookup->ListField = "navn";
        ShowWindow();
        QCOMPARE(combo->currentText(), QStringLiteral("Anna Berg"));
        QCOMPARE(combo->count(), 0);
        combo->showPopup();
        QCOMPARE(drops, 1);
        QCOMPARE(combo->count(), 2);
        emit combo->activated(1);
        combo->hidePopup();
        QCOMPARE(staff_->State(), Db::dsEdit);
        QCOMPARE(combo->currentText(), QStringLiteral("Per"));

        list->Last();
        lookup->showPopup();
        QCOMPARE(lookup->count(), 2);
        QCOMPARE(lookup->itemText(1), QStringLiteral("Kredit"));
        QCOMPARE(Trim(list->FieldByName("ini").AsString()), std::string("K"));  // put back
        emit lookup->activated(1);
        lookup->hidePopup();
        staff_->Post();
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "dk"))[0], std::string("K"));
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "navn"))[0], std::string("Per"));
        // Another row with a key shows the list row's text.
        staff_->Next();
        staff_->Edit();
        staff_->FieldByName("dk").SetAsString("D");
        QCOMPARE(lookup->currentText(), QStringLiteral("Debet"));
        staff_->Cancel();
        QCOMPARE(lookup->currentText(), QString());
    }

    void readOnlyDatasetRefusesTyping() {
        staff_->ReadOnly = true;
        auto* navn = Add<TDBEdit>("navn");
        ShowWindow();
        navn->setFocus();
        QTest::keyClicks(navn, "x");
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(navn->text(), QStringLiteral("Anna Berg"));
    }

    void cardGridNavigatesByKeys() {
        auto* grid = new TDBCtrlGrid(window_.get());
        grid->SetRowCount(3);
        grid->SetPanelHeight(60);
        std::vector<std::string> painted;
        grid->OnPaintPanel = [&](TDBCtrlGrid&, QWidget&, int row) {
            painted.push_back(std::to_string(row) + Trim(staff_->FieldByName("ini").AsString()));
        };
        grid->SetPanelBuilder([](QWidget& panel) {
            auto* ini = new TDBEdit(&panel);
            ini->SetDataField("ini");
            ini->setObjectName("ini");
            auto* navn = new TDBEdit(&panel);
            navn->SetDataField("navn");
            navn->move(0, 30);
            navn->setObjectName("navn");
        });
        grid->SetDataSource(source_.get());
        grid->resize(300, 180);
        ShowWindow();
        auto text = [&](int row, const char* name) {
            return grid->Panel(row)->findChild<QLineEdit*>(name)->text();
        };
        QCOMPARE(grid->PanelIndex(), 0);
        QCOMPARE(text(0, "ini"), QStringLiteral("AB"));
        QCOMPARE(text(1, "ini"), QStringLiteral("CD"));
        QCOMPARE(text(2, "navn"), QStringLiteral("Eva Fisker"));
        QVERIFY(grid->Panel(0) == grid->LivePanel());
        QVERIFY(std::find(painted.begin(), painted.end(), "1CD") != painted.end());
        auto* liveIni = grid->LivePanel()->findChild<TDBEdit*>("ini");
        liveIni->setFocus();
        QTest::keyClick(liveIni, Qt::Key_Down);  // keys in a card's edit reach the grid
        QCOMPARE(grid->PanelIndex(), 1);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("CD"));
        QCOMPARE(grid->LivePanel()->geometry().top(), grid->contentsRect().top() + 60);
        QTest::keyClick(grid, Qt::Key_PageDown);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("IJ"));
        QCOMPARE(text(2, "ini"), QStringLiteral("IJ"));
        QTest::keyClick(grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("AB"));
        QTest::keyClick(grid, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("IJ"));
        QTest::keyClick(grid, Qt::Key_Up);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("GH"));
        // A click on another card moves there.
        const int above = grid->PanelIndex() - 1;
        QTest::mouseClick(grid->Panel(above), Qt::LeftButton, {}, QPoint(5, 5));
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("EF"));
        // The window's key handler comes first.
        grid->OnKeyDown = [](TDBCtrlGrid&, QKeyEvent& e) {
            if (e.key() == Qt::Key_Down) e.accept();
        };
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("EF"));
    }

    void cardGridAppendsDeletesAndCancels() {
        auto* grid = new TDBCtrlGrid(window_.get());
        grid->SetPanelBuilder([](QWidget& panel) {
            auto* ini = new TDBEdit(&panel);
            ini->SetDataField("ini");
            ini->setObjectName("ini");
        });
        grid->SetDataSource(source_.get());
        grid->resize(300, 220);
        ShowWindow();
        grid->setFocus();
        QTest::keyClick(grid, Qt::Key_Insert);
        QCOMPARE(staff_->State(), Db::dsInsert);
        auto* live = grid->LivePanel()->findChild<TDBEdit*>("ini");
        QCOMPARE(live->text(), QString());
        live->setFocus();
        QTest::keyClick(live, Qt::Key_Escape);  // the edit's own Escape: nothing pending
        QTest::keyClick(grid, Qt::Key_Escape);
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(tables_->Column("staff.dbf", "ini").size(), size_t(5));
        QTest::keyClick(grid, Qt::Key_Insert);
        live->setFocus();
        QTest::keyClicks(live, "QQ");
        QTest::keyClick(live, Qt::Key_Up);  // moving away posts the card
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ini")).back(), std::string("QQ"));
        staff_->First();
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ini")),
                 (std::vector<std::string>{"CD", "EF", "GH", "IJ", "QQ"}));
        grid->AllowDelete = false;
        QTest::keyClick(grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(tables_->Column("staff.dbf", "ini").size(), size_t(5));
        QCOMPARE(grid->findChild<QWidget*>() != nullptr, true);
    }
};

QTEST_MAIN(DbControlsTest)
#include "db_controls_test.moc"
