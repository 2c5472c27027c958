#include "ui/db_ctrl_grid.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include "data/db_dataset.h"
#include "ui/active_record.h"
#include "ui/application.h"
#include "ui/db_controls.h"

namespace kjqt {

namespace {

class TCtrlGridLink : public Db::TDataLink {
  public:
    explicit TCtrlGridLink(TDBCtrlGrid& grid) : grid_(grid) {}

  protected:
    void ActiveChanged() override { grid_.Sync(); }
    void DataSetChanged() override { grid_.Sync(); }
    void DataSetScrolled(int) override { grid_.Sync(); }
    void LayoutChanged() override { grid_.Sync(); }
    void RecordChanged(Db::TField*) override { grid_.Sync(); }
    void EditingChanged() override { grid_.Sync(); }

  private:
    TDBCtrlGrid& grid_;
};

std::vector<TDBControl*> ControlsOf(QWidget& panel) {
    std::vector<TDBControl*> out;
    for (QWidget* w : panel.findChildren<QWidget*>())
        if (auto* c = dynamic_cast<TDBControl*>(w)) out.push_back(c);
    return out;
}

}  // namespace

class TDBCtrlGrid::Card : public QFrame {
  public:
    Card(TDBCtrlGrid& grid, bool live) : QFrame(&grid), grid_(grid), live_(live) {
        setFrameStyle(QFrame::Panel | (live ? QFrame::Sunken : QFrame::Raised));
        setAutoFillBackground(true);
    }
    void Finish() {
        controls = ControlsOf(*this);
        if (live_) return;
        for (QWidget* w : findChildren<QWidget*>()) {
            w->setAttribute(Qt::WA_TransparentForMouseEvents);
            w->setFocusPolicy(Qt::NoFocus);
        }
    }
    int row = 0;
    std::vector<TDBControl*> controls;

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (!live_) grid_.CardClicked(row);
        QFrame::mousePressEvent(event);
    }

  private:
    TDBCtrlGrid& grid_;
    bool live_;
};

TDBCtrlGrid::TDBCtrlGrid(QWidget* parent)
    : QFrame(parent), link_(std::make_unique<TCtrlGridLink>(*this)) {
    setFocusPolicy(Qt::StrongFocus);
    link_->SetBufferCount(rowCount_);
}

TDBCtrlGrid::~TDBCtrlGrid() {
    kjqt::Guarded([this] {  // an error while letting go is shown: nothing leaves a destructor
        if (live_)
            for (TDBControl* c : live_->controls) c->SetDataSource(nullptr);
        link_->SetDataSource(nullptr);
    });
}

void TDBCtrlGrid::SetPanelBuilder(std::function<void(QWidget&)> build) {
    build_ = std::move(build);
    BuildCards();
}

void TDBCtrlGrid::BuildCards() {
    delete live_;
    for (Card* c : copies_) delete c;
    copies_.clear();
    live_ = nullptr;
    if (!build_) return;
    live_ = new Card(*this, true);
    build_(*live_);
    live_->Finish();
    for (QWidget* w : live_->findChildren<QWidget*>()) w->installEventFilter(this);
    for (TDBControl* c : live_->controls) c->SetDataSource(link_->DataSource());
    for (int i = 0; i < rowCount_; ++i) {
        auto* card = new Card(*this, false);
        build_(*card);
        card->Finish();
        card->row = i;
        copies_.push_back(card);
    }
    Sync();
}

void TDBCtrlGrid::SetDataSource(Db::TDataSource* source) {
    link_->SetDataSource(source);
    if (live_)
        for (TDBControl* c : live_->controls) c->SetDataSource(source);
    Sync();
}

Db::TDataSource* TDBCtrlGrid::DataSource() const {
    return link_->DataSource();
}

Db::TDataSet* TDBCtrlGrid::DataSet() const {
    return link_->Active() ? link_->DataSet() : nullptr;
}

void TDBCtrlGrid::SetRowCount(int rows) {
    rows = std::max(rows, 1);
    if (rows == rowCount_) return;
    rowCount_ = rows;
    link_->SetBufferCount(rows);
    BuildCards();
}

void TDBCtrlGrid::SetPanelHeight(int height) {
    panelHeight_ = std::max(height, 1);
    PlaceCards();
}

QWidget* TDBCtrlGrid::LivePanel() const {
    return live_;
}

int TDBCtrlGrid::PanelIndex() const {
    return link_->Active() ? link_->ActiveRecord() : 0;
}

QWidget* TDBCtrlGrid::Panel(int row) const {
    if (row == PanelIndex()) return live_;
    return row >= 0 && row < static_cast<int>(copies_.size()) ? copies_[row] : nullptr;
}

void TDBCtrlGrid::FillCopy(Card& card, int row) {
    Db::TDataSet* ds = DataSet();
    WithActiveRecord(*link_, row, [&] {
        for (TDBControl* c : card.controls)
            c->ShowValue(ds ? ds->FindField(c->DataField()) : nullptr);
        OnPaintPanel(*this, card, row);
    });
}

void TDBCtrlGrid::Sync() {
    if (syncing_ || !live_) return;
    syncing_ = true;
    const int count = link_->Active() ? link_->RecordCount() : 0;
    const int active = PanelIndex();
    for (int i = 0; i < static_cast<int>(copies_.size()); ++i) {
        Card& card = *copies_[i];
        bool shown = i < count && i != active;
        if (shown) FillCopy(card, i);
        card.setVisible(shown);
    }
    live_->row = active;
    if (count > 0) OnPaintPanel(*this, *live_, active);
    live_->setEnabled(count > 0);
    live_->show();
    syncing_ = false;
    PlaceCards();
}

void TDBCtrlGrid::PlaceCards() {
    const int w = contentsRect().width();
    const int top = contentsRect().top();
    const int left = contentsRect().left();
    for (Card* c : copies_) c->setGeometry(left, top + c->row * panelHeight_, w, panelHeight_);
    if (live_) live_->setGeometry(left, top + live_->row * panelHeight_, w, panelHeight_);
}

void TDBCtrlGrid::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    PlaceCards();
}

void TDBCtrlGrid::CardClicked(int row) {
    Db::TDataSet* ds = DataSet();
    if (!ds) return;
    Guarded([&] { ds->MoveBy(row - link_->ActiveRecord()); });
}

void TDBCtrlGrid::DoKey(TDBCtrlGridKey key) {
    Db::TDataSet* ds = DataSet();
    if (!ds) return;
    Guarded([&] {
        switch (key) {
            case gkPrior:
                ds->Prior();
                break;
            case gkNext:
                ds->Next();
                break;
            case gkPageUp:
                ds->MoveBy(-rowCount_);
                break;
            case gkPageDown:
                ds->MoveBy(rowCount_);
                break;
            case gkFirst:
                ds->First();
                break;
            case gkLast:
                ds->Last();
                break;
            case gkAppend:
                if (AllowInsert) ds->Append();
                break;
            case gkInsert:
                if (AllowInsert) ds->Insert();
                break;
            case gkDelete:
                if (AllowDelete && !ds->IsEmpty()) ds->Delete();
                break;
            case gkCancel:
                ds->Cancel();
                break;
            case gkNull:
                break;
        }
    });
}

bool TDBCtrlGrid::HandleKey(QKeyEvent& event) {
    // A key left to the card's control keeps the accepted state it came with: one left
    // ignored would travel on to the card and the grid, which would act on it once more (a
    // Tab moving the focus twice).
    const bool arrived = event.isAccepted();
    event.ignore();
    OnKeyDown(*this, event);
    if (event.isAccepted()) return true;
    event.setAccepted(arrived);
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    TDBCtrlGridKey key = gkNull;
    switch (event.key()) {
        case Qt::Key_Up:
            key = mods ? gkNull : gkPrior;
            break;
        case Qt::Key_Down:
            key = mods ? gkNull : gkNext;
            break;
        case Qt::Key_PageUp:
            key = ctrl ? gkFirst : mods ? gkNull : gkPageUp;
            break;
        case Qt::Key_PageDown:
            key = ctrl ? gkLast : mods ? gkNull : gkPageDown;
            break;
        case Qt::Key_Home:
            key = ctrl ? gkFirst : gkNull;
            break;
        case Qt::Key_End:
            key = ctrl ? gkLast : gkNull;
            break;
        case Qt::Key_Insert:
            key = mods ? gkNull : gkAppend;
            break;
        case Qt::Key_Delete:
            key = ctrl ? gkDelete : gkNull;
            break;
        case Qt::Key_Escape:
            key = mods ? gkNull : gkCancel;
            break;
        default:
            break;
    }
    if (key == gkNull) return false;
    // A change typed into the live card reaches its field before the dataset moves.
    if (QWidget* focus = focusWidget(); focus && live_ && live_->isAncestorOf(focus))
        if (auto* c = dynamic_cast<TDBControl*>(focus)) c->Link().UpdateRecord();
    DoKey(key);
    event.accept();
    return true;
}

void TDBCtrlGrid::keyPressEvent(QKeyEvent* event) {
    if (!HandleKey(*event)) QFrame::keyPressEvent(event);
}

bool TDBCtrlGrid::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) return HandleKey(*static_cast<QKeyEvent*>(event));
    return QFrame::eventFilter(watched, event);
}

}  // namespace kjqt
