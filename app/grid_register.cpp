#include "app/grid_register.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "data/db_format.h"
#include "storage/tz_utils.h"

namespace kj {

TGridRegisterForm::TGridRegisterForm(TzDs::TTzDbf& table, const char* source,
                                     const QString& caption, const QString& help,
                                     const std::vector<kjqt::TColumn>& columns)
    : QDialog(nullptr), table_(table) {
    setWindowTitle(caption);
    auto* box = new QVBoxLayout(this);
    Help = new QLabel(help, this);
    Help->setObjectName(QStringLiteral("Help"));
    Help->setWordWrap(true);
    Help->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    box->addWidget(Help);
    Grid = new kjqt::TDBGrid(this);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->AllowEditing = true;
    Grid->AlwaysShowEditor = true;
    Grid->TabsBetweenCells = true;
    Grid->ConfirmDelete = true;
    Grid->CancelOnExit = true;
    Grid->SetColumns(columns);
    Grid->SetDataSource(KJData()->DataSource(source));
    box->addWidget(Grid, 1);
    buttons_ = new QHBoxLayout;
    box->addLayout(buttons_);
    Status = new QStatusBar(this);
    Status->setSizeGripEnabled(false);
    box->addWidget(Status);
    SlutBtn = AddButton(" Slut (Ctrl-X) ", [this] { done(QDialog::Accepted); });
    new TCloseKey(this, [this] { done(QDialog::Accepted); });
    Grid->OnColumnMoved = [this](kjqt::TDBGrid&, int, int) { titleSwitch_ = false; };
    Grid->OnTitleClick = [this](kjqt::TDBGrid&, kjqt::TColumn& c) { TitleClick(c); };
    new TRegisterKeyFilter(Grid, [this](RegKey k) {
        switch (k) {
            case RegKey::New:
                return NewRow();
            case RegKey::Delete:
                return DeleteRow();
            case RegKey::Undo:
                return UndoRow();
            case RegKey::Close:
                return done(QDialog::Accepted);
            case RegKey::None:
                return;
        }
    });
    resize(760, 460);
}

QPushButton* TGridRegisterForm::AddButton(const char* text, const std::function<void()>& action) {
    return AddRegisterButton(*this, *buttons_, text, action);
}

void TGridRegisterForm::ArmTitleClicks(const std::vector<int>& searchable) {
    titleSwitch_ = true;
    searchable_.clear();
    std::vector<kjqt::TColumn*> all = Grid->Columns();
    for (int i : searchable) searchable_.push_back(all.at(size_t(i)));
}

void TGridRegisterForm::TitleClick(kjqt::TColumn& column) {
    // The click that ends a column drag is not a search.
    if (!titleSwitch_) {
        titleSwitch_ = true;
        return;
    }
    for (size_t n = 0; n < searchable_.size(); ++n)
        if (searchable_[n] == &column) {
            Guarded([&] { SearchColumn(int(n)); });
            RepaintAndFocus();
            return;
        }
}

void TGridRegisterForm::RepaintAndFocus() {
    if (table_.State() == Db::dsInsert) Grid->ToTypingColumn(true);
    Grid->viewport()->update();
    Grid->setFocus();
}

// The row being typed is settled as every way out of it is (asked, saved or dropped; a
// row the other station holds is offered again or dropped); false when a value its cell
// refused keeps it there.
bool TGridRegisterForm::SettleRow() {
    return Grid->SettleRow([this](Db::TDataSet&) { PostOnClose(table_); });
}

void TGridRegisterForm::done(int result) {
    if (!SettleRow()) return;  // a refused value keeps the window, with its row
    QDialog::done(result);
}

void TGridRegisterForm::AppendNewRow(AppendLock lock) {
    if (Initials().empty()) return;
    // Never thrown away unasked by the next new row.
    if (!SettleRow()) return;
    if (lock == AppendLock::File ? table_.FLock() : table_.ALock()) table_.Append();
    table_.UnLock();
    table_.Edit();
    StartNewRow();
}

// A new row is typed from its first column that takes typing, wherever the row before was
// left (Ctrl+Ins while typing its last column).
void TGridRegisterForm::StartNewRow() {
    if (table_.State() == Db::dsInsert) Grid->ToTypingColumn();
    RepaintAndFocus();
}

void TGridRegisterForm::DeleteAfterQuestion(const std::string& question,
                                            const std::function<std::string()>& rowText) {
    if (!Grid->CommitEditor()) return;  // a refused value: its message is shown
    const std::string text = rowText();
    if (Initials().empty()) return;
    // A new row is known before the question, whose window takes the focus from the grid
    // and so cancels an untouched new row: deleting it only cancels it.
    const bool isNew = table_.State() == Db::dsInsert;
    if (Ask(question + "\r\n" + text)) {
        if (isNew)
            Grid->CancelRow();  // the editor let go with the row, not kept for the next one
        else if (table_.RLock())
            table_.Delete();
        else
            ShowRowInUse();
        table_.UnLock();
    }
    RepaintAndFocus();
}

void TGridRegisterForm::CancelEdit() {
    Grid->CancelRow();
    RepaintAndFocus();
}

bool TGridRegisterForm::StampNewRow(Db::TDataSet& ds, const char* created, const char* changed,
                                    const char* initials) {
    if (table_.IsFilterOn()) {
        ds.Cancel();
        return false;
    }
    const std::string ini = Initials();
    if (ini.empty()) {
        ds.Cancel();
        return false;
    }
    ds.FieldByName(created).SetAsDateTime(Db::Today());
    ds.FieldByName(changed).SetAsDateTime(Db::Today());
    ds.FieldByName(initials).SetAsString(ini);
    return true;
}

}  // namespace kj
