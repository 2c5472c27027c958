// The data grid over a real table: the windowed model (checked by QAbstractItemModelTester),
// editing by keys with the dataset's append/post/cancel rules, pick lists and ellipsis
// buttons, title clicks after a column drag, owner-drawn check marks, confirm-delete, Tab
// between cells and leaving the grid.
#include "ui/db_grid.h"

#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <QtTest>

#include "data/db_datasource.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"
#include "ui_tables.h"

using namespace kjqt;
using namespace kjuitest;

namespace {

bool Editing(Db::TDataSet& ds) {
    return ds.State() == Db::dsEdit || ds.State() == Db::dsInsert;
}

QWidget* Editor(TDBGrid& grid) {
    for (QWidget* w : grid.viewport()->findChildren<QWidget*>())
        if (w->isVisible() && (qobject_cast<QLineEdit*>(w) || qobject_cast<QComboBox*>(w) ||
                               w->findChild<QToolButton*>()))
            return w;
    return nullptr;
}

std::string Trim(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::vector<std::string> Trimmed(std::vector<std::string> v) {
    for (auto& s : v) s = Trim(s);
    return v;
}

void MouseTo(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
    QMouseEvent e(type, at, w->mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

}  // namespace

class DbGridTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Tables> tables_;
    std::unique_ptr<TzDs::TTzDbf> staff_;
    std::unique_ptr<Db::TDataSource> source_;
    std::unique_ptr<TDBGrid> grid_;
    std::unique_ptr<QAbstractItemModelTester> tester_;
    ScriptedResponder responder_;

    TDBGrid& MakeGrid(const std::vector<TColumn>& columns, int height = 200) {
        grid_ = std::make_unique<TDBGrid>();
        tester_ = std::make_unique<QAbstractItemModelTester>(
            &grid_->Model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        grid_->SetColumns(columns);
        grid_->resize(420, height);
        grid_->SetDataSource(source_.get());
        grid_->show();
        [&] { QVERIFY(QTest::qWaitForWindowExposed(grid_.get())); }();
        grid_->setFocus();
        grid_->activateWindow();
        return *grid_;
    }
    QString Cell(int row, int column) {
        return grid_->Model().index(row, column).data().toString();
    }

  private slots:
    void init() {
        tables_ = std::make_unique<Tables>();
        staff_ = tables_->Staff("staff.dbf", kStaff);
        source_ = std::make_unique<Db::TDataSource>();
        source_->SetDataSet(staff_.get());
        responder_.Clear();
        DialogService::Instance().SetResponder(&responder_);
    }
    void cleanup() {
        tester_.reset();
        grid_.reset();
        source_.reset();
        staff_.reset();
        tables_.reset();
        DialogService::Instance().SetResponder(nullptr);
    }

    // A grid that does not have the focus leaves a new row alone when the focus moves
    // between other controls (another window starting a row on the same table); a new row
    // untouched is cancelled only when the focus leaves the grid itself.
    void focusMovingElsewhereLeavesANewRowAlone() {
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}});
        grid.CancelOnExit = true;
        QWidget window;
        auto* a = new QLineEdit(&window);
        auto* b = new QLineEdit(&window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        a->setFocus();
        staff_->Append();
        b->setFocus();
        QCOMPARE(staff_->State(), Db::dsInsert);
        grid.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&grid));
        grid.setFocus();
        b->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        b->setFocus();
        QCOMPARE(staff_->State(), Db::dsBrowse);
    }

    void modelShowsOnlyTheVisibleRows() {
        source_.reset();
        staff_.reset();
        std::vector<Row> many;
        static std::vector<std::string> names;
        names.clear();
        for (int i = 0; i < 300; ++i) names.push_back(QString::asprintf("%03d", i).toStdString());
        for (int i = 0; i < 300; ++i) many.push_back({names[i].c_str(), "x", i, i % 2 == 0});
        staff_ = tables_->Staff("many.dbf", many);
        source_ = std::make_unique<Db::TDataSource>();
        source_->SetDataSet(staff_.get());
        TDBGrid& grid = MakeGrid({{"ini"}, {"antal"}}, 160);
        const int visible = grid.VisibleRowCount();
        QVERIFY(visible > 1 && visible < 20);
        QCOMPARE(grid.Model().rowCount(), visible);
        QCOMPARE(Cell(0, 0), QStringLiteral("000"));
        QTest::keyClick(&grid, Qt::Key_PageDown);
        QCOMPARE(grid.Model().rowCount(), visible);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), names[visible]);
        QCOMPARE(grid.currentIndex().row(), grid.Model().Link().ActiveRecord());
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(Cell(grid.Model().rowCount() - 1, 0), QStringLiteral("299"));
        QCOMPARE(grid.currentIndex().row(), visible - 1);
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(Cell(0, 0), QStringLiteral("000"));
        QCOMPARE(grid.currentIndex().row(), 0);
        // A taller grid asks the dataset for more rows, a shorter one for fewer.
        grid.resize(420, 320);
        QTRY_VERIFY(grid.Model().rowCount() > visible);
        grid.resize(420, 100);
        QTRY_VERIFY(grid.Model().rowCount() < visible);
    }

    void editsByKeysPostOnRowChange() {
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}, {"antal"}});
        QCOMPARE(grid.Model().columnCount(), 3);
        QCOMPARE(grid.Model().headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("NAVN"));
        QCOMPARE(Cell(1, 1), QStringLiteral("Carl Dahl"));
        // Second row, name column: typing opens the editor and starts the edit.
        QTest::keyClick(&grid, Qt::Key_Down);
        grid.SetSelectedIndex(1);
        QTest::keyClick(&grid, 'K');  // replaces the text
        QVERIFY(Editor(grid));
        QTest::keyClicks(Editor(grid), "urt");
        QCOMPARE(staff_->State(), Db::dsEdit);
        QCOMPARE(grid.Model().headerData(1, Qt::Vertical, Qt::DisplayRole).toString(),
                 QStringLiteral("I"));
        QVERIFY(Editor(grid));
        QTest::keyClicks(Editor(grid), " Ko");
        // Moving to another row posts.
        QTest::keyClick(Editor(grid), Qt::Key_Down);
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "navn"))[1], std::string("Kurt Ko"));
        QCOMPARE(Cell(1, 1), QStringLiteral("Kurt Ko"));
        QCOMPARE(grid.currentIndex().row(), 2);
    }

    // A half-typed masked value in a cell editor is refused with a message and not stored.
    void incompleteMaskedCellIsRefused() {
        staff_->FieldByName("navn").SetEditMask("!90:00;1;_");
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}});
        grid.TabsBetweenCells = true;
        grid.SetSelectedIndex(1);
        QTest::keyClick(&grid, '2');  // opens the editor
        QVERIFY(Editor(grid));
        responder_.Answer(mb::kIdOk);
        grid.CommitEditor();  // as a save or a title click does
        QCOMPARE(responder_.Texts(),
                 QStringList{QStringLiteral("Feltet er ikke udfyldt helt !!!")});
        QCOMPARE(Trim(staff_->FieldByName("navn").AsString()), std::string("Anna Berg"));
    }

    // Tab in a masked cell with only part of a value typed ("2" in a time of day) says what
    // is wrong and keeps the cell open, and the keys typed next go into it: the value then
    // typed whole is stored and Tab moves on.
    void tabInAHalfTypedMaskedCellSaysSo() {
        staff_->FieldByName("navn").SetEditMask("!90:00;1;_");
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}, {"ini"}});
        grid.TabsBetweenCells = true;
        grid.SetSelectedIndex(1);
        QTest::keyClick(&grid, '2');  // opens the editor
        QVERIFY(Editor(grid));
        responder_.Answer(mb::kIdOk);
        QTest::keyClick(Editor(grid), Qt::Key_Tab);
        QCOMPARE(responder_.Texts(),
                 QStringList{QStringLiteral("Feltet er ikke udfyldt helt !!!")});
        QCOMPARE(grid.SelectedIndex(), 1);
        QVERIFY(Editor(grid));
        QTest::keyClick(Editor(grid), Qt::Key_Home);
        QTest::keyClicks(Editor(grid), "0230");
        QTest::keyClick(Editor(grid), Qt::Key_Tab);
        QCOMPARE(responder_.Texts().size(), 1);
        QCOMPARE(grid.SelectedIndex(), 2);
        QCOMPARE(Trim(staff_->FieldByName("navn").AsString()), std::string("02:30"));
    }

    void appendsAndCancelsUntouchedRows() {
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}});
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(&grid, Qt::Key_Down);  // past the last row: a new row
        QCOMPARE(staff_->State(), Db::dsInsert);
        QCOMPARE(grid.Model().rowCount(), 6);
        QCOMPARE(grid.currentIndex().row(), 5);
        QCOMPARE(grid.Model().headerData(5, Qt::Vertical, Qt::DisplayRole).toString(),
                 QStringLiteral("*"));
        QTest::keyClick(&grid, Qt::Key_Down);  // an untouched new row does not move on
        QCOMPARE(staff_->State(), Db::dsInsert);
        QTest::keyClick(&grid, Qt::Key_Up);  // and is cancelled when left upwards
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(grid.Model().rowCount(), 5);
        QCOMPARE(grid.currentIndex().row(), 4);
        QCOMPARE(tables_->Column("staff.dbf", "ini").size(), size_t(5));

        QTest::keyClick(&grid, Qt::Key_Down);
        grid.SetSelectedIndex(0);
        QTest::keyClick(&grid, 'z');
        QTest::keyClicks(Editor(grid), "z");
        QTest::keyClick(Editor(grid), Qt::Key_Up);  // a filled new row is posted
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ini")),
                 (std::vector<std::string>{"AB", "CD", "EF", "GH", "IJ", "zz"}));
        // The index order puts the new row last; the grid stands on the row above it.
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("IJ"));
    }

    void leavingTheGridCancelsAnUntouchedNewRow() {
        QWidget window;
        auto* other = new QLineEdit(&window);
        TDBGrid& grid = MakeGrid({{"ini"}});
        grid.setParent(&window);
        window.show();
        grid.show();
        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Insert);
        QCOMPARE(staff_->State(), Db::dsInsert);
        other->setFocus();
        QTRY_COMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(grid.Model().rowCount(), 5);
        grid.setParent(nullptr);
    }

    // A column given a width narrower than its title is widened to show the whole title.
    void noColumnIsNarrowerThanItsTitle() {
        TColumn dk{"dk"};
        dk.Title = QStringLiteral("Udskrifts prioritet");
        dk.Width = 20;
        TDBGrid& grid = MakeGrid({dk, {"navn"}});
        const QHeaderView* header = grid.horizontalHeader();
        QVERIFY(header->sectionSize(0) > header->fontMetrics().horizontalAdvance(dk.Title));
    }

    void pickListAndEllipsis() {
        TColumn dk{"dk"};
        dk.PickList = {"D", "K"};
        TColumn navn{"navn"};
        navn.ButtonStyle = cbsEllipsis;
        TDBGrid& grid = MakeGrid({dk, navn});
        int clicks = 0;
        grid.OnEditButtonClick = [&](TDBGrid& g) {
            ++clicks;
            g.DataSet()->Edit();
            g.DataSet()->FieldByName("navn").SetAsString("Valgt");
        };
        grid.SetSelectedIndex(0);
        grid.edit(grid.currentIndex());
        auto* combo = qobject_cast<QComboBox*>(Editor(grid));
        QVERIFY(combo);
        QCOMPARE(combo->count(), 2);
        QCOMPARE(combo->itemText(1), QStringLiteral("K"));
        combo->setCurrentIndex(1);
        emit combo->activated(1);
        QCOMPARE(staff_->State(), Db::dsEdit);
        QTest::keyClick(&grid, Qt::Key_Tab);  // no tabs between cells: Tab leaves the editor
        grid.SetSelectedIndex(1);
        grid.edit(grid.currentIndex());
        QWidget* ellipsis = Editor(grid);
        QVERIFY(ellipsis);
        auto* button = ellipsis->findChild<QToolButton*>();
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        grid.CommitEditor();
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "dk"))[0], std::string("K"));
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "navn"))[0], std::string("Valgt"));
    }

    // A pick-list cell: Up and Down move between rows and leave its value alone, and its
    // column leaves room for the list's arrow beside the value (the pick button likewise).
    void pickListCellKeysMoveRowsAndShowTheValue() {
        TColumn dk{"dk"};
        dk.PickList = {"D", "K"};
        TColumn navn{"navn"};
        navn.ButtonStyle = cbsEllipsis;
        TDBGrid& grid = MakeGrid({dk, {"dk"}, navn, {"navn"}});
        QVERIFY(grid.columnWidth(0) > grid.columnWidth(1));
        QVERIFY(grid.columnWidth(2) > grid.columnWidth(3));
        const std::vector<std::string> before = tables_->Column("staff.dbf", "dk");
        grid.SetSelectedIndex(0);
        grid.edit(grid.currentIndex());
        QVERIFY(qobject_cast<QComboBox*>(Editor(grid)));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QCOMPARE(grid.currentIndex().row(), 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
        QCOMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(tables_->Column("staff.dbf", "dk"), before);
    }

    void titleClickAfterColumnDrag() {
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}, {"antal"}});
        // The window's pattern: a column move disarms the title click, and a click while
        // disarmed only arms it again; an armed click asks for a search word.
        bool armed = true;
        std::vector<std::string> moves;
        grid.OnColumnMoved = [&](TDBGrid&, int from, int to) {
            moves.push_back(std::to_string(from) + ">" + std::to_string(to));
            armed = false;
        };
        grid.OnTitleClick = [&](TDBGrid&, TColumn& column) {
            if (!armed) {
                armed = true;
                return;
            }
            QString word;
            DialogService::Instance().InputBox(QStringLiteral("Søg"),
                                               FromAnsi("Ord i " + column.FieldName), word);
        };
        QHeaderView* header = grid.horizontalHeader();
        QWidget* port = header->viewport();
        const int y = header->height() / 2;
        QPoint from(header->sectionViewportPosition(0) + header->sectionSize(0) / 2, y);
        QPoint to(header->sectionViewportPosition(2) + header->sectionSize(2) - 4, y);
        MouseTo(port, QEvent::MouseButtonPress, from, Qt::LeftButton);
        for (int i = 1; i <= 8; ++i)
            MouseTo(port, QEvent::MouseMove, from + (to - from) * i / 8, Qt::LeftButton);
        MouseTo(port, QEvent::MouseButtonRelease, to, Qt::NoButton);
        QCOMPARE(moves, (std::vector<std::string>{"0>2"}));
        QVERIFY(armed);  // the click that ended the drag re-armed
        QCOMPARE(responder_.Asked().size(), size_t(0));
        QCOMPARE(grid.Column(2)->FieldName, std::string("ini"));
        QCOMPARE(grid.Column(0)->FieldName, std::string("navn"));
        // The next click is an ordinary title click: on "antal", now at visual index 1.
        QPoint antal(header->sectionViewportPosition(2) + header->sectionSize(2) / 2, y);
        QTest::mouseClick(port, Qt::LeftButton, {}, antal);
        QCOMPARE(responder_.Texts(), QStringList{QStringLiteral("Ord i antal")});
        // The model's columns keep their order: only the view's order changed.
        QCOMPARE(grid.Model().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("INI"));
    }

    void ownerDrawnCheckMarksSeeTheirRow() {
        TDBGrid& grid = MakeGrid({{"ini"}, {"ok"}});
        std::vector<std::string> seen;
        grid.OnDrawColumnCell = [&](TDBGrid&, QPainter& p, const QRect& cell, TColumn& column,
                                    Db::TField* field, bool, bool& handled) {
            if (column.FieldName != "ok" || !field) return;
            seen.push_back(Trim(field->DataSet()->FieldByName("ini").AsString()) +
                           (field->AsBoolean() ? "+" : "-"));
            TDBGrid::DrawCheckMark(p, cell, field->AsBoolean());
            handled = true;
        };
        QImage image(grid.size(), QImage::Format_ARGB32);
        grid.render(&image);
        std::sort(seen.begin(), seen.end());
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        QCOMPARE(seen, (std::vector<std::string>{"AB+", "CD-", "EF+", "GH-", "IJ+"}));
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("AB"));  // unmoved
    }

    void confirmDeleteAsksFirst() {
        TDBGrid& grid = MakeGrid({{"ini"}});
        QTest::keyClick(&grid, Qt::Key_Down);
        responder_.Answer(mb::kIdCancel);
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(tables_->Column("staff.dbf", "ini").size(), size_t(5));
        responder_.Answer(mb::kIdOk);
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "ini")),
                 (std::vector<std::string>{"AB", "EF", "GH", "IJ"}));
        QCOMPARE(responder_.Texts(), (QStringList{"Delete record?", "Delete record?"}));
        grid.ConfirmDelete = false;
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(tables_->Column("staff.dbf", "ini").size(), size_t(3));
        QCOMPARE(responder_.Asked().size(), size_t(2));
        QCOMPARE(grid.Model().rowCount(), 3);
    }

    void tabMovesBetweenCellsAndRows() {
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}, {"antal"}});
        grid.TabsBetweenCells = true;
        grid.AlwaysShowEditor = true;
        int doubles = 0;
        grid.OnDblClick = [&](TDBGrid&) { ++doubles; };
        grid.SetSelectedIndex(0);
        QTest::keyClick(&grid, Qt::Key_Tab);
        QCOMPARE(grid.SelectedIndex(), 1);
        QVERIFY(Editor(grid));  // the editor is always shown
        QTest::keyClick(Editor(grid), Qt::Key_Tab);
        QCOMPARE(grid.SelectedIndex(), 2);
        QTest::keyClick(Editor(grid), Qt::Key_Tab);  // past the last column: next row
        QCOMPARE(grid.SelectedIndex(), 0);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("CD"));
        QTest::keyClick(Editor(grid), Qt::Key_Backtab);
        QCOMPARE(grid.SelectedIndex(), 2);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("AB"));
        QTest::keyClicks(Editor(grid), "9");
        QTest::keyClick(Editor(grid), Qt::Key_Tab);  // the change is written, the row posted
        QCOMPARE(staff_->State(), Db::dsBrowse);
        QCOMPARE(Trimmed(tables_->Column("staff.dbf", "antal"))[0].back(), '9');
        grid.AlwaysShowEditor = false;
        grid.CommitEditor();
        QRect cell = grid.visualRect(grid.Model().index(2, 0));
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(doubles, 1);
        QCOMPARE(Trim(staff_->FieldByName("ini").AsString()), std::string("EF"));
    }

    // Every way a row starts (the Insert key, Tab past the last cell, an append by a button)
    // puts the cursor in the first column that takes typing, wherever the row before was
    // left: a read-only column would swallow the keys of the new row.
    void aNewRowStartsInTheFirstColumnThatTakesTyping() {
        TColumn ini{"ini"};
        ini.ReadOnly = true;
        TDBGrid& grid = MakeGrid({ini, {"navn"}, {"antal"}, ini});
        grid.TabsBetweenCells = true;
        struct Case {
            const char* how;
            int from;
            std::function<void()> start;
        };
        const std::vector<Case> cases = {
            {"Insert key", 3, [&] { QTest::keyClick(&grid, Qt::Key_Insert); }},
            {"Insert key from a typing column", 2, [&] { QTest::keyClick(&grid, Qt::Key_Insert); }},
            {"append by a button", 3, [&] { staff_->Append(); }},
            {"insert by a button", 0, [&] { staff_->Insert(); }},
            {"Tab past the last cell of the last row", 3,
             [&] {
                 staff_->Last();
                 grid.SetSelectedIndex(3);
                 grid.setFocus();
                 QTest::keyClick(&grid, Qt::Key_Tab);
             }},
        };
        for (const Case& c : cases) {
            grid.SetSelectedIndex(c.from);
            c.start();
            QVERIFY2(staff_->State() == Db::dsInsert, c.how);
            QVERIFY2(grid.SelectedIndex() == 1, c.how);
            grid.setFocus();
            QTest::keyClick(&grid, 'N');  // the keys go into the row
            QVERIFY2(Editor(grid), c.how);
            QTest::keyClicks(Editor(grid), "y");
            QVERIFY2(grid.SettleRow(), c.how);
            QVERIFY2(tables_->Column("staff.dbf", "navn").back().rfind("Ny", 0) == 0, c.how);
        }
    }

    // Settling a row, as every way out of it does: a refused cell keeps the row and its open
    // cell and stops the caller; a changed row goes through its post (which may ask and
    // drop it); an untouched new row is cancelled; a row its rules keep in edit stops the
    // caller too.
    void settleRowKeepsARefusedCellAndSettlesTheRest() {
        staff_->FieldByName("navn").SetEditMask("!90:00;1;_");
        TDBGrid& grid = MakeGrid({{"ini"}, {"navn"}});
        struct Case {
            const char* pending;
            const char* typed;  // into the name column of a new row; empty: nothing
            std::function<void(Db::TDataSet&)> post;
            bool settled;
            Db::TDataSetState after;
            size_t rows;
        };
        auto cancel = [](Db::TDataSet& ds) { ds.Cancel(); };
        auto keep = [](Db::TDataSet&) {};
        const std::vector<Case> cases = {
            {"refused cell", "2", nullptr, false, Db::dsInsert, 5},
            {"changed row", "0230", nullptr, true, Db::dsBrowse, 6},
            {"changed row dropped by its question", "0330", cancel, true, Db::dsBrowse, 6},
            {"untouched new row", "", nullptr, true, Db::dsBrowse, 6},
            {"row its rules keep in edit", "0430", keep, false, Db::dsInsert, 6},
        };
        for (const Case& c : cases) {
            if (Editing(*staff_)) grid.CancelRow();
            grid.setFocus();
            grid.SetSelectedIndex(1);
            QTest::keyClick(&grid, Qt::Key_Insert);
            grid.SetSelectedIndex(1);
            if (*c.typed) {
                QTest::keyClick(&grid, c.typed[0]);
                QTest::keyClicks(Editor(grid), c.typed + 1);
            }
            responder_.Clear();
            responder_.Answer(mb::kIdOk);
            QVERIFY2(grid.SettleRow(c.post) == c.settled, c.pending);
            QVERIFY2(staff_->State() == c.after, c.pending);
            QVERIFY2(tables_->Column("staff.dbf", "navn").size() == c.rows, c.pending);
            if (!c.settled && *c.typed && c.after == Db::dsInsert && c.rows == 5)
                QVERIFY2(Editor(grid), "a refused cell stays open");
        }
        grid.CancelRow();
    }

    void readOnlyColumnsAndGridRefuseEdits() {
        TColumn ini{"ini"};
        ini.ReadOnly = true;
        TDBGrid& grid = MakeGrid({ini, {"navn"}});
        QVERIFY(!(grid.Model().flags(grid.Model().index(0, 0)) & Qt::ItemIsEditable));
        QVERIFY(grid.Model().flags(grid.Model().index(0, 1)) & Qt::ItemIsEditable);
        grid.SetReadOnly(true);
        QVERIFY(!(grid.Model().flags(grid.Model().index(0, 1)) & Qt::ItemIsEditable));
        QTest::keyClick(&grid, Qt::Key_Insert);
        QCOMPARE(staff_->State(), Db::dsBrowse);
    }
};

QTEST_MAIN(DbGridTest)
#include "db_grid_test.moc"
