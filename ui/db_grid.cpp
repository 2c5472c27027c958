#include "ui/db_grid.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>
#include <cmath>

#include "data/db_dataset.h"
#include "data/db_fields.h"
#include "data/db_format.h"
#include "ui/active_record.h"
#include "ui/application.h"
#include "ui/db_controls.h"
#include "ui/db_grid_link.h"
#include "ui/dialog_service.h"
#include "ui/edit_mask.h"
#include "ui/text_codec.h"

namespace kjqt {

// ---- Editors ---------------------------------------------------------------------------------

namespace {

// A line edit with a "..." button that raises the grid's edit-button event.
class TEllipsisEditor : public QWidget {
  public:
    TEllipsisEditor(QWidget* parent, std::function<void()> click) : QWidget(parent) {
        auto* box = new QHBoxLayout(this);
        box->setContentsMargins(0, 0, 0, 0);
        box->setSpacing(0);
        edit = new QLineEdit(this);
        button = new QToolButton(this);
        button->setText(QStringLiteral("..."));
        button->setFocusPolicy(Qt::NoFocus);
        box->addWidget(edit, 1);
        box->addWidget(button);
        setFocusProxy(edit);
        QObject::connect(button, &QToolButton::clicked, this, [click] { click(); });
    }
    QLineEdit* edit;
    QToolButton* button;
};

}  // namespace

// A cell editor of a text field takes no more characters than the field holds.
static void LimitToField(QLineEdit* line, Db::TField* field) {
    if (field && line->inputMask().isEmpty() && field->DataType() == Db::ftString &&
        field->Size() > 0)
        line->setMaxLength(field->Size());
}

class TDBGridDelegate : public QStyledItemDelegate {
    static constexpr const char* kDirty = "kjUserChanged";
    static constexpr const char* kColumn = "kjColumn";  // on the line edit that takes the keys

  public:
    explicit TDBGridDelegate(TDBGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override {
        TColumn& c = *grid_.Model().Columns()[index.column()];
        const int col = index.column();
        QWidget* editor = nullptr;
        // The user's change marks the editor, so that the model's refreshes (the dataset
        // entering edit state repaints every row) leave its text alone.
        auto begin = [this, col, &editor] {
            QWidget* e = editor;
            return [this, col, e] {
                e->setProperty(kDirty, true);
                grid_.Model().BeginEdit(col);
            };
        };
        if (!c.PickList.isEmpty()) {
            auto* combo = new QComboBox(parent);
            editor = combo;
            combo->setEditable(true);
            combo->addItems(c.PickList);
            // The list offers; a typed text is stored as typed, not completed to an entry.
            combo->setCompleter(nullptr);
            combo->setInsertPolicy(QComboBox::NoInsert);
            QObject::connect(combo, &QComboBox::activated, combo, begin());
            QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo, begin());
            LimitToField(combo->lineEdit(), c.Field);
        } else if (c.ButtonStyle == cbsEllipsis) {
            auto* e = new TEllipsisEditor(parent, [this] { grid_.OnEditButtonClick(grid_); });
            editor = e;
            ApplyMask(*e->edit, c);
            e->edit->setProperty(kColumn, col);
            e->edit->installEventFilter(const_cast<TDBGridDelegate*>(this));
            QObject::connect(e->edit, &QLineEdit::textEdited, e, begin());
        } else {
            auto* line = new QLineEdit(parent);
            editor = line;
            ApplyMask(*line, c);
            line->setProperty(kColumn, col);
            QObject::connect(line, &QLineEdit::textEdited, line, begin());
        }
        current_ = editor;
        currentIndex_ = index;
        return editor;
    }

    void setEditorData(QWidget* editor, const QModelIndex& index) const override {
        if (editor->property(kDirty).toBool()) return;
        QString text = index.data(Qt::EditRole).toString();
        if (auto* combo = qobject_cast<QComboBox*>(editor))
            combo->setEditText(text);
        else if (auto* e = dynamic_cast<TEllipsisEditor*>(editor))
            e->edit->setText(text);
        else if (auto* line = qobject_cast<QLineEdit*>(editor))
            line->setText(text);
    }

    // A refused text is remembered for the grid, which then keeps the editor open. While a
    // refusal's message is up, its focus change writes nothing again.
    void setModelData(QWidget* editor, QAbstractItemModel* model,
                      const QModelIndex& index) const override {
        // An editor nobody typed into writes nothing: its text is the field's as shown (a
        // masked one padded with blanks), and writing it back would put the row into edit.
        if (committing_ || !editor->property(kDirty).toBool()) return;
        committing_ = true;
        refused_ = false;
        const QString text = TextOf(editor, index);
        if (!refused_) model->setData(index, text, Qt::EditRole);
        refused_ = refused_ || grid_.Model().WriteRefused();
        committing_ = false;
    }

    bool eventFilter(QObject* object, QEvent* event) override {
        auto* line = qobject_cast<QLineEdit*>(object);
        const QVariant column = object->property(kColumn);
        if (line && column.isValid() && event->type() == QEvent::KeyPress &&
            TypeDateSeparator(*line, *static_cast<QKeyEvent*>(event),
                              grid_.Model().Columns()[column.toInt()]->Field))
            return true;
        if (line && column.isValid() && TabInMaskedEdit(*line, *event)) return true;
        // The edit inside an ellipsis editor: the editor itself handles the rest.
        if (dynamic_cast<TEllipsisEditor*>(object->parent())) return false;
        // Up and Down in a pick-list cell move between rows, as in every other cell; the
        // list itself opens with Alt+Down or its arrow.
        auto* combo = qobject_cast<QComboBox*>(object);
        if (combo && event->type() == QEvent::KeyPress && !combo->view()->isVisible()) {
            auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) &&
                !(key->modifiers() & ~Qt::KeypadModifier)) {
                QKeyEvent copy(QEvent::KeyPress, key->key(), key->modifiers());
                QCoreApplication::sendEvent(&grid_, &copy);
                return true;
            }
        }
        return QStyledItemDelegate::eventFilter(object, event);
    }

    void destroyEditor(QWidget* editor, const QModelIndex& index) const override {
        if (current_ == editor) current_ = nullptr;
        QStyledItemDelegate::destroyEditor(editor, index);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        bool handled = false;
        if (grid_.OnDrawColumnCell.Assigned()) {
            TColumn& c = *grid_.Model().Columns()[index.column()];
            bool selected = option.state & QStyle::State_Selected;
            WithActiveRecord(grid_.Model().Link(), index.row(), [&] {
                grid_.OnDrawColumnCell(grid_, *painter, option.rect, c, c.Field, selected, handled);
            });
        }
        if (!handled) QStyledItemDelegate::paint(painter, option, index);
    }

    QWidget* Current() const { return current_; }
    // Whether the user has typed into (or chosen in) this editor.
    static bool Typed(const QWidget* editor) { return editor->property(kDirty).toBool(); }
    QModelIndex CurrentIndex() const { return currentIndex_; }
    bool Committing() const { return committing_; }
    // Whether the last write was refused; asking clears it.
    bool TakeRefused() const { return std::exchange(refused_, false); }

  private:
    // Tab in a masked editor whose text the mask does not take as it stands (a time with
    // only its hour typed): the base delegate would swallow the key without a word. It
    // goes through the grid's write instead, which refuses a half-typed value with its
    // message and keeps the cell open, or stores the value and moves on.
    bool TabInMaskedEdit(QLineEdit& line, QEvent& event) {
        if (event.type() != QEvent::KeyPress || line.inputMask().isEmpty() ||
            line.hasAcceptableInput())
            return false;
        const int key = static_cast<QKeyEvent&>(event).key();
        if (key != Qt::Key_Tab && key != Qt::Key_Backtab) return false;
        QWidget* editor = current_ ? current_.data() : &line;
        emit commitData(editor);
        emit closeEditor(editor, key == Qt::Key_Tab ? EditNextItem : EditPreviousItem);
        return true;
    }

    // The field's edit mask, or else its size as the longest text.
    static void ApplyMask(QLineEdit& line, TColumn& c) {
        if (!c.Field) return;
        TQtMask mask = TranslateEditMask(c.Field->EditMask());
        if (!mask.inputMask.isEmpty())
            line.setInputMask(mask.inputMask);
        else
            LimitToField(&line, c.Field);
    }

    QString TextOf(QWidget* editor, const QModelIndex& index) const {
        QString text;
        if (auto* combo = qobject_cast<QComboBox*>(editor)) return combo->currentText();
        auto* line = qobject_cast<QLineEdit*>(editor);
        if (auto* e = dynamic_cast<TEllipsisEditor*>(editor)) line = e->edit;
        if (!line) return index.data(Qt::EditRole).toString();
        TColumn& c = *grid_.Model().Columns()[index.column()];
        if (line->inputMask().isEmpty() || !c.Field) return line->text();
        const TQtMask mask = TranslateEditMask(c.Field->EditMask());
        // A mask's literals alone over a blank field are no value: the field stays blank and
        // the row untouched.
        const QString stored = index.data(Qt::EditRole).toString();
        const QString typed = line->displayText();
        if (stored.trimmed().isEmpty() && std::none_of(typed.begin(), typed.end(), [](QChar ch) {
                return ch.isLetterOrNumber();
            }))
            return stored;
        if (!MaskedTextComplete(mask, line->displayText())) {
            Guarded([] { RefuseIncompleteMaskedText(); });
            refused_ = true;
            return index.data(Qt::EditRole).toString();  // the stored value stays
        }
        return MaskedTextToStore(mask, line->displayText());
    }

    TDBGrid& grid_;
    mutable QPointer<QWidget> current_;
    mutable QPersistentModelIndex currentIndex_;
    mutable bool committing_ = false;
    mutable bool refused_ = false;
};

// ---- Header ----------------------------------------------------------------------------------

// A click that ends a column drag is a title click as well, after the move is reported, so
// the window sees the move first; a window that must ignore that click can (it knows a move
// just happened) and the next click on a title is an ordinary one.
class TDBGridHeader : public QHeaderView {
  public:
    explicit TDBGridHeader(TDBGrid& grid) : QHeaderView(Qt::Horizontal, &grid), grid_(grid) {
        setSectionsMovable(true);
        setSectionsClickable(true);
        setHighlightSections(false);
        connect(this, &QHeaderView::sectionMoved, this, [this](int logical, int from, int to) {
            moved_ = logical;
            grid_.OnColumnMoved(grid_, from, to);
        });
        connect(this, &QHeaderView::sectionClicked, this,
                [this](int logical) { Clicked(logical); });
    }

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        moved_ = -1;
        QHeaderView::mouseReleaseEvent(event);
        if (moved_ >= 0) Clicked(moved_);
        moved_ = -1;
    }

  private:
    void Clicked(int logical) {
        auto& columns = grid_.Model().Columns();
        if (logical < 0 || logical >= static_cast<int>(columns.size())) return;
        grid_.CommitEditor();
        grid_.OnTitleClick(grid_, *columns[logical]);
    }

    TDBGrid& grid_;
    int moved_ = -1;
};

// ---- Grid ------------------------------------------------------------------------------------

TDBGrid::TDBGrid(QWidget* parent) : QTableView(parent) {
    model_ = std::make_unique<TDBGridModel>(*this);
    setModel(model_.get());
    delegate_ = new TDBGridDelegate(*this);
    setItemDelegate(delegate_);
    setHorizontalHeader(new TDBGridHeader(*this));
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setFixedWidth(fontMetrics().horizontalAdvance(u'W') * 2);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed | QAbstractItemView::SelectedClicked);
    setTabKeyNavigation(false);
    recordBar_ = new QScrollBar(Qt::Vertical, this);
    connect(recordBar_, &QScrollBar::actionTriggered, this, [this](int a) { RecordBarAction(a); });
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { FocusChanged(now); });
}

TDBGrid::~TDBGrid() {
    disconnect(qApp, nullptr, this, nullptr);
    // Letting go of the model reads the table once more; an error there is shown, as
    // nothing may leave a destructor.
    kjqt::Guarded([this] { setModel(nullptr); });
}

template <class F>
void TDBGrid::Guarded(F body) {
    if (!kjqt::Guarded(std::move(body))) SyncCurrent();
}

template <class F>
void TDBGrid::RowStep(F body) {
    Db::TDataSet* ds = DataSet();
    if (!ds || !CommitEditor()) return;
    Guarded([&] { body(*ds); });
}

void TDBGrid::SetDataSource(Db::TDataSource* source) {
    model_->Link().SetDataSource(source);
    UpdateBufferCount();
}

Db::TDataSource* TDBGrid::DataSource() const {
    return model_->Link().DataSource();
}

std::vector<TColumn*> TDBGrid::Columns() const {
    auto& all = model_->Columns();
    std::vector<TColumn*> out(all.size());
    for (int i = 0; i < static_cast<int>(all.size()); ++i) out[i] = Column(i);
    return out;
}

TColumn* TDBGrid::Column(int visualIndex) const {
    int logical = horizontalHeader()->logicalIndex(visualIndex);
    auto& all = model_->Columns();
    return logical >= 0 && logical < static_cast<int>(all.size()) ? all[logical].get() : nullptr;
}

void TDBGrid::SetColumns(const std::vector<TColumn>& columns) {
    auto& all = model_->Columns();
    all.clear();
    for (const TColumn& c : columns) all.push_back(std::make_unique<TColumn>(c));
    model_->ColumnsChanged();
}

int TDBGrid::SelectedIndex() const {
    return currentIndex().isValid() ? horizontalHeader()->visualIndex(currentIndex().column()) : 0;
}

TColumn* TDBGrid::SelectedColumn() const {
    return Column(SelectedIndex());
}

void TDBGrid::SetSelectedIndex(int visualIndex) {
    int logical = horizontalHeader()->logicalIndex(visualIndex);
    int row = model_->Link().ActiveRecord();
    if (logical >= 0 && row < model_->rowCount()) setCurrentIndex(model_->index(row, logical));
}

void TDBGrid::SetReadOnly(bool on) {
    readOnly_ = on;
    viewport()->update();
}

int TDBGrid::VisibleRowCount() const {
    int h = verticalHeader()->defaultSectionSize();
    return std::max(1, viewport()->height() / std::max(h, 1));
}

void TDBGrid::UpdateBufferCount() {
    model_->Link().SetBufferCount(VisibleRowCount());
    model_->Sync();
}

namespace {

// The widest text a field shows in its display width: text at the font's average width;
// numbers and dates in digits (the widest characters they hold), amounts with the currency
// sign and a thousands separator for every three digits.
int WidestValue(const Db::TField& f, const QFontMetrics& fm) {
    const int n = std::max(f.DisplayWidth(), 1);
    if (f.DataType() == Db::ftString || f.DataType() == Db::ftMemo) {
        // Danish words with capitals run wider than the font's average character.
        static const QString sample = QString::fromUtf8("Opmåling af skel, Åvej 12 ÆØ");
        const double perChar = double(fm.horizontalAdvance(sample)) / double(sample.size());
        return int(std::ceil(n * std::max(perChar, double(fm.averageCharWidth()))));
    }
    const auto* real = dynamic_cast<const Db::TFloatField*>(&f);
    const bool money = f.DataType() == Db::ftCurrency || (real && real->Currency());
    if (!money) return fm.horizontalAdvance(QString(n, u'8'));
    return fm.horizontalAdvance(FromAnsi(Db::FormatSettings().CurrencyString) + u' ' +
                                QString(n + n / 3, u'8'));
}

}  // namespace

void TDBGrid::ApplyWidths() {
    auto& all = model_->Columns();
    const QFontMetrics cells = fontMetrics();
    const QFontMetrics titles = horizontalHeader()->fontMetrics();
    const int cellPad =
        2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) + 4;
    const int titlePad = 2 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this) + 4;
    // A cell's editor shows its pick button or list arrow beside the value.
    QToolButton pick;
    pick.setText(QStringLiteral("..."));
    const int button = pick.sizeHint().width();
    for (int i = 0; i < static_cast<int>(all.size()); ++i) {
        const TColumn& c = *all[i];
        int w = c.Width;
        if (w <= 0) {
            w = (c.Field ? WidestValue(*c.Field, cells) : 10 * cells.averageCharWidth()) + cellPad;
            if (c.ButtonStyle == cbsEllipsis || !c.PickList.isEmpty()) w += button;
        }
        // No column, a given width included, is narrower than its title.
        const QString title = model_->headerData(i, Qt::Horizontal, Qt::DisplayRole).toString();
        w = std::max(w, titles.horizontalAdvance(title) + titlePad);
        horizontalHeader()->resizeSection(i, w);
    }
}

void TDBGrid::SyncCurrent() {
    if (syncing_ || !selectionModel()) return;
    int row = model_->Link().ActiveRecord();
    if (row >= model_->rowCount() || model_->columnCount() == 0) return;
    int col =
        currentIndex().isValid() ? currentIndex().column() : horizontalHeader()->logicalIndex(0);
    syncing_ = true;
    QModelIndex target = model_->index(row, std::max(col, 0));
    if (target != currentIndex())
        selectionModel()->setCurrentIndex(
            target, RowSelect ? QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows
                              : QItemSelectionModel::ClearAndSelect);
    syncing_ = false;
    UpdateRecordBar();
}

void TDBGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (syncing_ || !current.isValid()) return;
    int active = model_->Link().ActiveRecord();
    if (current.row() != active) {
        Db::TDataSet* ds = DataSet();
        if (ds) Guarded([&] { ds->MoveBy(current.row() - active); });
        SyncCurrent();
    }
    if (AlwaysShowEditor) ShowEditor();
}

void TDBGrid::ShowEditor() {
    QModelIndex i = currentIndex();
    if (i.isValid() && hasFocus() && state() != QAbstractItemView::EditingState &&
        (model_->flags(i) & Qt::ItemIsEditable) && !delegate_->Current())
        edit(i);
}

bool TDBGrid::CommitEditor() {
    QWidget* editor = delegate_->Current();
    if (!editor) return true;
    commitData(editor);
    closeEditor(editor, QAbstractItemDelegate::NoHint);
    return delegate_->Current() != editor;
}

bool TDBGrid::SettleRow(const std::function<void(Db::TDataSet&)>& post) {
    if (!CommitEditor()) return false;
    Db::TDataSet* ds = DataSet();
    if (!ds) return true;
    const bool editing = ds->State() == Db::dsEdit || ds->State() == Db::dsInsert;
    if (!editing) return true;
    if (!ds->Modified())
        ds->Cancel();
    else if (post)
        post(*ds);
    else
        ds->Post();
    return ds->State() != Db::dsEdit && ds->State() != Db::dsInsert;
}

int TDBGrid::FirstTypingColumn() const {
    const std::vector<TColumn*> columns = Columns();
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        const TColumn* c = columns[i];
        if (c && !c->ReadOnly && (!c->Field || (!c->Field->ReadOnly() && !c->Field->Calculated())))
            return i;
    }
    return -1;
}

void TDBGrid::ToTypingColumn(bool onlyOffReadOnly) {
    const TColumn* current = SelectedColumn();
    if (onlyOffReadOnly && current && !current->ReadOnly &&
        (!current->Field || (!current->Field->ReadOnly() && !current->Field->Calculated())))
        return;
    const int first = FirstTypingColumn();
    if (first >= 0 && first != SelectedIndex()) SetSelectedIndex(first);
}

void TDBGrid::RowStateChanged() {
    Db::TDataSet* ds = DataSet();
    const bool inserting = ds && ds->State() == Db::dsInsert;
    const bool started = inserting && !inserting_;
    inserting_ = inserting;
    if (!started || !delegate_) return;
    // A cell already being typed into (the first key in an empty grid starts the row) keeps
    // its column.
    QWidget* editor = delegate_->Current();
    if (editor && TDBGridDelegate::Typed(editor)) return;
    ToTypingColumn();
}

void TDBGrid::FocusChanged(QWidget* now) {
    if (!now || delegate_->Committing()) return;  // a refusal's message took the focus
    if (now == this || isAncestorOf(now)) {
        hadFocus_ = true;
        return;
    }
    // Only the focus leaving this grid counts (a moment without focus in between): the
    // focus moving between other controls, such as another window's that has just started
    // a row on the same table, does not cancel that row.
    if (!hadFocus_) return;
    hadFocus_ = false;
    Db::TDataSet* ds = DataSet();
    if (!ds || !CommitEditor()) return;
    if (CancelOnExit && ds->State() == Db::dsInsert && !ds->Modified())
        Guarded([&] { ds->Cancel(); });
}

void TDBGrid::NextRow(bool mayAppend) {
    RowStep([&](Db::TDataSet& ds) {
        if (ds.State() == Db::dsInsert && !ds.Modified()) return;
        ds.Next();
        if (ds.Eof() && mayAppend && AllowEditing && !readOnly_ && ds.CanModify()) ds.Append();
    });
}

void TDBGrid::PriorRow() {
    RowStep([](Db::TDataSet& ds) {
        if (ds.State() == Db::dsInsert && !ds.Modified() && ds.Eof())
            ds.Cancel();
        else
            ds.Prior();
    });
}

void TDBGrid::Page(int direction) {
    RowStep([&](Db::TDataSet& ds) { ds.MoveBy(direction * VisibleRowCount()); });
}

void TDBGrid::FirstRow() {
    RowStep([](Db::TDataSet& ds) { ds.First(); });
}

void TDBGrid::LastRow() {
    RowStep([](Db::TDataSet& ds) { ds.Last(); });
}

void TDBGrid::InsertRow() {
    if (!AllowEditing || readOnly_) return;
    RowStep([](Db::TDataSet& ds) { ds.Insert(); });
}

void TDBGrid::DeleteRow() {
    Db::TDataSet* ds = DataSet();
    if (!ds || !AllowEditing || readOnly_ || !ds->CanModify()) return;
    CommitEditor();
    Guarded([&] {
        if (ds->State() == Db::dsInsert) {
            ds->Cancel();
            return;
        }
        if (ds->IsEmpty()) return;
        if (ConfirmDelete &&
            DialogService::Instance().MessageBox(
                QStringLiteral("Delete record?"), QCoreApplication::applicationName(),
                mb::kOkCancel | mb::kIconQuestion) == mb::kIdCancel)
            return;
        ds->Delete();
    });
}

void TDBGrid::CancelRow() {
    Db::TDataSet* ds = DataSet();
    if (!ds) return;
    if (QWidget* editor = delegate_->Current())
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    Guarded([&] { ds->Cancel(); });
}

void TDBGrid::TabTo(bool forward) {
    int count = model_->columnCount();
    if (count == 0) return;
    int visual = SelectedIndex() + (forward ? 1 : -1);
    if (!CommitEditor()) return;
    if (visual >= count) {
        NextRow(true);
        Db::TDataSet* ds = DataSet();
        visual = ds && ds->State() == Db::dsInsert ? std::max(FirstTypingColumn(), 0) : 0;
    } else if (visual < 0) {
        PriorRow();
        visual = count - 1;
    }
    SetSelectedIndex(visual);
    if (AlwaysShowEditor) ShowEditor();
}

void TDBGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    // A text its field refused stays in the open editor, with the focus, while the editor's
    // cell is still the current one; a refusal's message taking the focus closes nothing.
    if (delegate_->Committing()) return;
    const bool refused = delegate_->TakeRefused();
    if (refused && hint != QAbstractItemDelegate::RevertModelCache &&
        delegate_->CurrentIndex() == currentIndex() && editor == delegate_->Current()) {
        editor->setFocus();
        return;
    }
    // Tab in an editor goes through the grid's own cell and row steps.
    const bool next = hint == QAbstractItemDelegate::EditNextItem;
    const bool prior = hint == QAbstractItemDelegate::EditPreviousItem;
    QTableView::closeEditor(editor, next || prior ? QAbstractItemDelegate::NoHint : hint);
    if (next || prior) focusNextPrevChild(next);
}

bool TDBGrid::focusNextPrevChild(bool next) {
    if (TabsBetweenCells && DataSet()) {
        TabTo(next);
        return true;
    }
    return QTableView::focusNextPrevChild(next);
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    event->ignore();
    OnKeyDown(*this, *event);
    if (event->isAccepted()) return;
    event->accept();
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    switch (event->key()) {
        case Qt::Key_Up:
            if (!mods) return PriorRow();
            break;
        case Qt::Key_Down:
            if (!mods) return NextRow(true);
            break;
        case Qt::Key_PageUp:
            if (ctrl) return FirstRow();
            if (!mods) return Page(-1);
            break;
        case Qt::Key_PageDown:
            if (ctrl) return LastRow();
            if (!mods) return Page(1);
            break;
        case Qt::Key_Home:
            if (ctrl) return FirstRow();
            break;
        case Qt::Key_End:
            if (ctrl) return LastRow();
            break;
        case Qt::Key_Insert:
            if (!mods) return InsertRow();
            break;
        case Qt::Key_Delete:
            if (ctrl) return DeleteRow();
            break;
        case Qt::Key_Escape:
            if (!mods) return CancelRow();
            break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
            if (TabsBetweenCells)
                return TabTo(event->key() == Qt::Key_Tab && !(mods & Qt::ShiftModifier));
            break;
        default:
            break;
    }
    event->ignore();
    QTableView::keyPressEvent(event);
}

void TDBGrid::updateGeometries() {
    QTableView::updateGeometries();
    if (!recordBar_) return;  // still being built
    // The record scroll bar stands right of the cells; the view's own one stays off.
    const int bar = recordBar_->sizeHint().width();
    QMargins m = viewportMargins();
    if (m.right() != bar) setViewportMargins(m.left(), m.top(), bar, m.bottom());
    QRect r = viewport()->geometry();
    recordBar_->setGeometry(r.right() + 1, r.top(), bar, r.height());
    if (model_->Link().BufferCount() != VisibleRowCount()) UpdateBufferCount();
}

void TDBGrid::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    // A click on the current cell opens its editor at once, as one on another cell does; the
    // view's own delayed start would come after the first keys typed.
    if (AlwaysShowEditor && event->button() == Qt::LeftButton) ShowEditor();
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    OnDblClick(*this);
}

void TDBGrid::wheelEvent(QWheelEvent* event) {
    int steps = event->angleDelta().y() / 120;
    if (steps != 0) RowStep([&](Db::TDataSet& ds) { ds.MoveBy(-steps); });
    event->accept();
}

void TDBGrid::UpdateRecordBar() {
    Db::TDataSet* ds = DataSet();
    QSignalBlocker block(recordBar_);
    if (!ds || ds->IsEmpty()) {
        recordBar_->setRange(0, 0);
        return;
    }
    // Positions only: 0 at the first record, 4 at the last, 2 between (an index order has
    // no cheap record position).
    recordBar_->setRange(0, 4);
    recordBar_->setPageStep(1);
    recordBar_->setValue(ds->Bof() ? 0 : ds->Eof() ? 4 : 2);
}

void TDBGrid::RecordBarAction(int action) {
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            NextRow(false);
            break;
        case QAbstractSlider::SliderSingleStepSub:
            PriorRow();
            break;
        case QAbstractSlider::SliderPageStepAdd:
            Page(1);
            break;
        case QAbstractSlider::SliderPageStepSub:
            Page(-1);
            break;
        case QAbstractSlider::SliderToMinimum:
            FirstRow();
            break;
        case QAbstractSlider::SliderToMaximum:
            LastRow();
            break;
        case QAbstractSlider::SliderMove:
            if (recordBar_->sliderPosition() == 0)
                FirstRow();
            else if (recordBar_->sliderPosition() == 4)
                LastRow();
            break;
        default:
            break;
    }
    UpdateRecordBar();
}

void TDBGrid::DrawCheckMark(QPainter& painter, const QRect& cell, bool checked) {
    const int side = std::min(cell.height(), cell.width()) - 6;
    QRect box(0, 0, side, side);
    box.moveCenter(cell.center());
    painter.save();
    painter.fillRect(cell, QApplication::palette().base());
    painter.setPen(QPen(Qt::black, 1));
    painter.drawRect(box);
    if (checked) {
        painter.setPen(QPen(Qt::black, 2));
        QPoint a(box.left() + side / 5, box.center().y());
        QPoint b(box.left() + side * 2 / 5, box.bottom() - side / 5);
        QPoint c(box.right() - side / 5, box.top() + side / 5);
        painter.drawLine(a, b);
        painter.drawLine(b, c);
    }
    painter.restore();
}

}  // namespace kjqt
