#include "app/card_register.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/post_by_form.h"
#include "storage/tz_utils.h"
#include "ui/db_controls.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

TCardRegisterForm::TCardRegisterForm(const CardRegisterSpec& spec, const QString& caption)
    : QDialog(nullptr), spec_(spec), table_(*KJData()->Table(spec.table)) {
    setWindowTitle(caption);
    auto* box = new QVBoxLayout(this);
    Grid = new kjqt::TDBCtrlGrid(this);
    Grid->setObjectName(QStringLiteral("Grid"));
    Grid->SetPanelHeight(CardPanelHeight);
    Grid->SetRowCount(3);
    box->addWidget(Grid, 1);
    buttons_ = new QHBoxLayout;
    box->addLayout(buttons_);
    SlutBtn = AddButton(" Slut (Ctrl-X) ", [this] { done(QDialog::Accepted); });
    new TCloseKey(this, [this] { done(QDialog::Accepted); });
    Grid->OnKeyDown = [this](kjqt::TDBCtrlGrid&, QKeyEvent& e) { CardKey(e); };
    Grid->OnPaintPanel = [this](kjqt::TDBCtrlGrid&, QWidget& panel, int) { PaintPanel(panel); };
    resize(900, 3 * CardPanelHeight + 60);
    const Db::TDataSetNotifyEvent rule = table_.BeforePost;
    keyCheck_ = std::make_unique<THandlerSwap>(
        table_, nullptr,
        [this, rule](Db::TDataSet& ds) {
            if (rule) rule(ds);
            CheckKeyBeforePost(ds);
        },
        false);
}

TCardRegisterForm::~TCardRegisterForm() = default;

// Every save checks the key, also one made while the key field still has the focus.
void TCardRegisterForm::CheckKeyBeforePost(Db::TDataSet& ds) {
    if (ds.State() != Db::dsEdit && ds.State() != Db::dsInsert) return;
    const std::string key = ds.FieldByName(spec_.keyField).AsString();
    if (RefuseDuplicate(table_, *KJData()->Table(spec_.buf), spec_.tag, key, spec_.keyWidth,
                        spec_.who))
        keyModified_ = false;
}

QPushButton* TCardRegisterForm::AddButton(const char* text, const std::function<void()>& action) {
    return AddRegisterButton(*this, *buttons_, text, action);
}

QGridLayout* TCardRegisterForm::CardLayout(QWidget& panel) {
    auto* g = new QGridLayout(&panel);
    g->setContentsMargins(4, 2, 4, 2);
    g->setHorizontalSpacing(4);
    g->setVerticalSpacing(1);
    return g;
}

kjqt::TDBEdit* TCardRegisterForm::AddEdit(QGridLayout* g, const char* caption, const char* field,
                                          const char* name, int row, int col, int span) {
    QWidget* panel = g->parentWidget();
    if (caption) g->addWidget(new QLabel(Q(caption), panel), row, col);
    auto* e = new kjqt::TDBEdit(panel);
    e->setObjectName(QString::fromLatin1(name));
    e->SetDataField(field);
    e->installEventFilter(this);
    if (std::string_view(name) == "edtKey")
        connect(e, &QLineEdit::textEdited, this, [this] { keyModified_ = true; });
    g->addWidget(e, row, col + 1, 1, span);
    return e;
}

void TCardRegisterForm::AddPostnr(QGridLayout* g, int row, int col) {
    QWidget* panel = g->parentWidget();
    g->addWidget(new QLabel(Q(" Postnr. & bynavn "), panel), row, col);
    auto* box = new kjqt::TDBComboBox(panel);
    box->setObjectName(QStringLiteral("edtPostnr"));
    box->SetDataField(spec_.postnrField);
    box->OnDropDown = [this](kjqt::TDBComboBox& b) { PostnrDropDown(b); };
    box->installEventFilter(this);
    g->addWidget(box, row, col + 1);
    auto* town = new QLabel(panel);
    town->setObjectName(QStringLiteral("lblBy"));
    g->addWidget(town, row, col + 2);
}

int TCardRegisterForm::Run() {
    NaesteBtn->setEnabled(false);
    SearchWord.clear();
    DeleteKey = false;
    CardPanelHeight = Grid->PanelHeight();
    // The key edit takes the focus as the window shows; exec shows it modally (a show before
    // it would leave the window modeless, and the windows behind it working).
    FocusKey();
    return exec();
}

void TCardRegisterForm::FocusKey() {
    if (auto* e = Live<kjqt::TDBEdit>("edtKey")) e->setFocus();
}

void TCardRegisterForm::FocusNewCard() {
    FocusKey();
    if (auto* e = Live<kjqt::TDBEdit>("edtKey")) e->setCursorPosition(0);
}

// ---- Keys -----------------------------------------------------------------------------------

void TCardRegisterForm::CardKey(QKeyEvent& e) {
    const Qt::KeyboardModifiers mods = e.modifiers() & ~Qt::KeypadModifier;
    if (mods & (Qt::ShiftModifier | Qt::AltModifier)) return;
    const bool ctrl = mods == Qt::ControlModifier;
    auto move = [&](kjqt::TDBCtrlGridKey k) {
        e.accept();
        Grid->DoKey(k);
        Grid->update();
        FocusKey();
    };
    switch (e.key()) {
        case Qt::Key_Up:
            if (!ctrl) move(kjqt::gkPrior);
            return;
        case Qt::Key_Down:
            if (!ctrl) move(kjqt::gkNext);
            return;
        case Qt::Key_PageUp:
            return move(ctrl ? kjqt::gkFirst : kjqt::gkPageUp);
        case Qt::Key_PageDown:
            return move(ctrl ? kjqt::gkLast : kjqt::gkPageDown);
        case Qt::Key_Return:
        case Qt::Key_Enter:
            e.accept();
            focusNextChild();
            return;
        case Qt::Key_Insert:
            if (ctrl) {
                e.accept();
                Grid->DoKey(kjqt::gkAppend);
                FocusNewCard();
            }
            return;
        case Qt::Key_Delete:
            if (ctrl) {
                e.accept();
                DeleteKey = true;
                Guarded([this] { CtrlDelete(); });
            } else if (DeleteKey && !mods) {
                e.accept();  // the Delete key stays off in the card's edits
            }
            return;
        case Qt::Key_X:
            if (ctrl) {
                e.accept();
                done(QDialog::Accepted);
            }
            return;
        case Qt::Key_Backspace:
            // Only Ctrl+Backspace cancels the row; Backspace alone edits the text.
            if (ctrl) {
                e.accept();
                Guarded([this] { UndoRow(); });
            }
            return;
        default:
            return;
    }
}

bool TCardRegisterForm::eventFilter(QObject* watched, QEvent* event) {
    QWidget* w = qobject_cast<QWidget*>(watched);
    const bool live = w && Grid->LivePanel() && Grid->LivePanel()->isAncestorOf(w);
    if (live && w->objectName() == QLatin1String("edtKey")) {
        if (event->type() == QEvent::FocusOut) Guarded([this] { KeyExit(); });
    } else if (live && w->objectName() == QLatin1String("edtPostnr") &&
               event->type() == QEvent::FocusOut) {
        auto* box = static_cast<kjqt::TDBComboBox*>(w);
        // The popup of the box itself takes the focus for a moment; that is no exit.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
            Guarded([box] { box->Link().UpdateRecord(); });
            Guarded([this] { PostnrExit(); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

// ---- Key field and postal code ----------------------------------------------------------------

void TCardRegisterForm::KeyExit() {
    auto* edit = Live<kjqt::TDBEdit>("edtKey");
    if (!edit || !table_.Active()) return;
    if (edit->Link().IsModified()) edit->Link().UpdateRecord();
    const std::string key = table_.FieldByName(spec_.keyField).AsString();
    if (!keyModified_) return;
    keyModified_ = false;
    if (table_.State() != Db::dsEdit && table_.State() != Db::dsInsert) return;  // saved
    TzDs::TTzDbf& buf = *KJData()->Table(spec_.buf);
    const int32_t own = table_.State() == Db::dsInsert ? 0 : table_.s_RecNo();
    const int32_t found = KeyRecNo(buf, spec_.tag, TzUtils::AnsiUpper(key), spec_.keyWidth);
    if (found != 0 && found != own) {
        ShowMsg(spec_.who + TzUtils::TrimRight(key) + " findes allerede !!!");
        table_.Cancel();
        KJData()->GotoRecNo(table_, found);
        FocusKey();
    }
    Grid->update();
}

std::string TCardRegisterForm::TownOf(const std::string& code, bool& found) {
    TzDs::TTzDbf& p = KJData()->PostnrBufDbf;
    found = KeyRecNo(p, "POSTNR", PostnrKey(code), 10) != 0;
    return found ? TzUtils::TrimRight(p.FieldByName("pst_by").AsString()) : std::string();
}

void TCardRegisterForm::PostnrExit() {
    if (!table_.Active() || table_.IsEmpty()) return;
    // Padded to 4, never cut: a longer code is a code of its own.
    const std::string code =
        TzUtils::PadRight(TzUtils::TrimRight(table_.FieldByName(spec_.postnrField).AsString()), 4);
    bool found = false;
    std::string town = TownOf(code, found);
    if (!found) {
        town = " Ikke fundet ";
        if (KJData()->Confirm("postnr :" + code + "findes ikke\r\n" + spec_.postnrEnd) &&
            !Initials().empty()) {
            ShowPostnrForm(0, code);
            Grid->update();
            const std::string again = TownOf(code, found);
            if (found) town = again;
            if (auto* phone = Live<QWidget>("edtTlf")) phone->setFocus();
        }
    }
    if (auto* label = Live<QLabel>("lblBy")) label->setText(kjqt::FromAnsi(town));
}

void TCardRegisterForm::PostnrDropDown(kjqt::TDBComboBox& box) {
    if (postnrList_.isEmpty()) {
        TzDs::TTzDbf& p = KJData()->PostnrDbf;
        // One index read count for the whole walk; no messages run during it.
        TzDs::TIndexReadHold reading({&p});
        p.GoTop();
        while (!p.AtEof()) {
            reading.GiveWay();
            if (!p.Deleted())
                postnrList_ << kjqt::FromAnsi(
                    TzUtils::TrimRight(p.FieldByName("pst_nr").AsString()));
            p.Skip(1);
        }
    }
    if (box.count() == 0) {
        const QString text = box.currentText();
        box.addItems(postnrList_);
        box.setEditText(text);
    }
}

void TCardRegisterForm::PaintPanel(QWidget& panel) {
    auto* label = panel.findChild<QLabel*>(QStringLiteral("lblBy"));
    if (!label || !table_.Active()) return;
    bool found = false;
    const std::string town = TownOf(table_.FieldByName(spec_.postnrField).AsString(), found);
    label->setText(kjqt::FromAnsi(found ? town : " Ikke fundet "));
}

// ---- Search, resize, closing --------------------------------------------------------------------

// The search over the card's fields: a row found only through the hidden field (the
// password) is passed over, and then the table stays where it was when nothing else is found.
void TCardRegisterForm::SearchWordIn(bool fromFirst, uint8_t& field) {
    const int32_t start = table_.s_RecNo();
    bool passed = false;
    field = 0;
    table_.Search(SearchWord, field, fromFirst);
    while (field != 0 && spec_.hidden && !ShownFieldHas(SearchWord)) {
        passed = true;
        field = 0;
        table_.Search(SearchWord, field, false);
    }
    if (field == 0 && passed) KJData()->GotoRecNo(table_, start);
}

bool TCardRegisterForm::ShownFieldHas(const std::string& word) {
    const std::string wanted = TzUtils::AnsiUpper(TzUtils::TrimRight(word));
    const std::string hidden = TzUtils::AnsiUpper(spec_.hidden);
    for (Db::TField* f : table_.Fields()) {
        if (f->Calculated() || TzUtils::AnsiUpper(f->FieldName()) == hidden) continue;
        if (TzUtils::AnsiUpper(f->AsString()).find(wanted) != std::string::npos) return true;
    }
    return false;
}

void TCardRegisterForm::btnSearchClick(bool next) {
    SearchOrNext(next);
    // The focus goes back to the card, off the button, so the card keys work at once.
    FocusKey();
}

void TCardRegisterForm::SearchOrNext(bool next) {
    SettleCard();
    const std::string quote = "\"";
    uint8_t field = 0;
    if (next && !TzUtils::TrimRight(SearchWord).empty()) {
        SearchWordIn(false, field);
        if (field == 0 &&
            KJData()->Confirm("Der er ikke flere " + std::string(spec_.plural) + " med " + quote +
                              Ansi("søgeordet") + quote + " " + SearchWord + ", start forfra ?")) {
            SearchWordIn(true, field);
        }
        return;
    }
    QString value = kjqt::FromAnsi(SearchWord);
    const std::string prompt =
        quote + Ansi("søgeordet") + quote + Ansi(" søges i alle felter i ") + spec_.dataName;
    if (!kjqt::DialogService::Instance().InputBox(Q("Indtast søgeord"), kjqt::FromAnsi(prompt),
                                                  value))
        value.clear();
    SearchWord = kjqt::ToAnsi(value);
    if (!TzUtils::TrimRight(SearchWord).empty()) {
        SearchWordIn(true, field);
        if (field != 0) {
            NaesteBtn->setEnabled(true);
        } else {
            ShowMsg(quote + Ansi("søgeordet") + quote + " " + SearchWord + " findes ikke i " +
                    spec_.dataName + " !!!");
            SearchWord.clear();
            NaesteBtn->setEnabled(false);
        }
    } else {
        SearchWord.clear();
        NaesteBtn->setEnabled(false);
    }
    Guarded([this] { table_.Refresh(); });
}

void TCardRegisterForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    const int rows = std::max(1, Grid->height() / std::max(1, CardPanelHeight));
    if (rows != Grid->RowCount()) Grid->SetRowCount(rows);
}

// The card being typed is saved or dropped by the register's rules (the question of the
// save) before anything else moves the table: closing and searching.
void TCardRegisterForm::SettleCard() {
    if (QWidget* f = focusWidget())
        if (auto* c = dynamic_cast<kjqt::TDBControl*>(f))
            Guarded([c] {
                if (c->Link().IsModified()) c->Link().UpdateRecord();
            });
    PostOnClose(table_);
}

void TCardRegisterForm::done(int result) {
    SettleCard();
    QDialog::done(result);
}

}  // namespace kj
