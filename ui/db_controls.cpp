#include "ui/db_controls.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QTextBlock>

#include "data/db_dataset.h"
#include "data/db_fields.h"
#include "data/db_format.h"
#include "storage/code_page.h"
#include "ui/application.h"
#include "ui/text_codec.h"

namespace kjqt {

namespace {

QString RightTrimmed(QString s) {
    while (!s.isEmpty() && s.back() == u' ') s.chop(1);
    return s;
}

}  // namespace

bool TypeDateSeparator(QLineEdit& edit, const QKeyEvent& event, const Db::TField* field) {
    if (!field || field->DataType() != Db::ftDate || edit.inputMask().isEmpty()) return false;
    const QString typed = event.text();
    const QChar separator = QLatin1Char(Db::FormatSettings().DateSeparator);
    if (typed.size() != 1 || typed[0] == separator ||
        (typed[0] != u'.' && typed[0] != u'/' && typed[0] != u'-'))
        return false;
    QKeyEvent instead(QEvent::KeyPress, Qt::Key_unknown, event.modifiers(), QString(separator));
    QCoreApplication::sendEvent(&edit, &instead);
    return true;
}

// ---- TFieldDataLink ------------------------------------------------------------------------

void TFieldDataLink::SetFieldName(const std::string& name) {
    if (fieldName_ == name) return;
    fieldName_ = name;
    UpdateField();
}

bool TFieldDataLink::CanModify() const {
    Db::TDataSet* ds = DataSet();
    return !ReadOnly() && field_ && !field_->ReadOnly() && ds && ds->CanModify() &&
           !field_->Calculated();
}

void TFieldDataLink::Reset() {
    modified_ = false;
    if (OnDataChange) OnDataChange();
}

void TFieldDataLink::UpdateField() {
    Db::TDataSet* ds = DataSet();
    field_ = Active() && ds && !fieldName_.empty() ? ds->FindField(fieldName_) : nullptr;
    modified_ = false;
    if (OnDataChange) OnDataChange();
}

void TFieldDataLink::ActiveChanged() {
    UpdateField();
}

void TFieldDataLink::LayoutChanged() {
    UpdateField();
}

void TFieldDataLink::RecordChanged(Db::TField* field) {
    if (field && field != field_) return;
    modified_ = false;
    if (OnDataChange) OnDataChange();
}

void TFieldDataLink::UpdateData() {
    if (!modified_) return;
    // A change to a row that left its edit under the control (cancelled, the focus then
    // taken by a card disabled on an empty table) belongs to no row any more: dropped.
    Db::TDataSet* ds = DataSet();
    if (ds && !Db::IsWriteMode(ds->State())) {
        modified_ = false;
        return;
    }
    if (field_ && OnUpdateData) OnUpdateData();
    modified_ = false;
}

// ---- TDBControl ----------------------------------------------------------------------------

// The link calls back only once a data source is set, after the control is built.
TDBControl::TDBControl() {
    link_.OnDataChange = [this] {
        if (!suppressReload_) ShowValue(link_.Field());
    };
    link_.OnUpdateData = [this] {
        if (link_.Field()) StoreValue(*link_.Field());
    };
}

bool TDBControl::BeginChange() {
    if (!link_.CanModify()) return false;
    if (link_.Editing()) return true;
    // The dataset re-reads its record as it enters edit state; the user's change stays.
    suppressReload_ = true;
    bool editing = false;
    try {
        editing = link_.Edit();
    } catch (...) {
        suppressReload_ = false;
        ShowException(std::current_exception());
        return false;
    }
    suppressReload_ = false;
    return editing;
}

void TDBControl::UserChanged() {
    if (BeginChange()) {
        link_.Modified();
        return;
    }
    ShowValue(link_.Field());  // not editable: take the change back
}

void TDBControl::Commit(QWidget* self) {
    // The message box of a refusal takes the focus: the focus-out that causes must not
    // write (and refuse) the same change a second time.
    if (!link_.IsModified() || committing_) return;
    committing_ = true;
    const bool stored = Guarded([this] { link_.UpdateRecord(); });
    committing_ = false;
    if (!stored) self->setFocus();
}

void TDBControl::CommitOnLeave(QWidget* self, const QFocusEvent& event) {
    QWidget* modal = QApplication::activeModalWidget();
    if (event.reason() == Qt::ActiveWindowFocusReason && modal && modal != self->window()) return;
    Commit(self);
}

// ---- TDBEdit -------------------------------------------------------------------------------

TDBEdit::TDBEdit(QWidget* parent) : QLineEdit(parent) {
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (!loading_) UserChanged();
    });
}

void TDBEdit::ApplyMask(Db::TField* field) {
    TQtMask mask = field ? TranslateEditMask(field->EditMask()) : TQtMask{};
    if (mask.inputMask != mask_.inputMask) setInputMask(mask.inputMask);
    mask_ = mask;
}

void TDBEdit::ShowValue(Db::TField* field) {
    loading_ = true;
    ApplyMask(field);
    if (field) {
        bool editText = hasFocus() || !mask_.inputMask.isEmpty();
        setText(FromAnsi(editText ? field->Text() : field->DisplayText()));
        if (field->DataType() == Db::ftString && field->Size() > 0 && mask_.inputMask.isEmpty())
            setMaxLength(field->Size());
    } else {
        clear();
    }
    loading_ = false;
}

void TDBEdit::StoreValue(Db::TField& field) {
    if (!mask_.inputMask.isEmpty() && !MaskedTextComplete(mask_, displayText()))
        RefuseIncompleteMaskedText();
    QString value = mask_.inputMask.isEmpty() ? text() : MaskedTextToStore(mask_, displayText());
    field.SetText(ToAnsi(value));
}

void TDBEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (!link_.IsModified()) ShowValue(link_.Field());
    CaretAfterTypedText();
}

void TDBEdit::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    CaretAfterTypedText();
}

// A masked edit takes typing only at its blanks: a caret left after them (where showing the
// value or a click beyond the text puts it) would drop every key. It goes back to just after
// the last character typed, the start when there is none.
void TDBEdit::CaretAfterTypedText() {
    if (mask_.inputMask.isEmpty() || hasSelectedText()) return;
    const QString shown = displayText();
    int end = int(shown.size());
    while (end > 0 && !shown[end - 1].isLetterOrNumber()) --end;
    if (cursorPosition() > end) setCursorPosition(end);
}

void TDBEdit::focusOutEvent(QFocusEvent* event) {
    CommitOnLeave(this, *event);
    QLineEdit::focusOutEvent(event);
    if (!link_.IsModified() && !hasFocus()) ShowValue(link_.Field());
}

void TDBEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Commit(this);
            QLineEdit::keyPressEvent(event);
            return;
        case Qt::Key_Escape:
            if (link_.IsModified()) {
                link_.Reset();
                selectAll();
                event->accept();
                return;
            }
            break;
        default:
            if (TypeDateSeparator(*this, *event, Field())) return;
            break;
    }
    QLineEdit::keyPressEvent(event);
}

// ---- TDBMemo -------------------------------------------------------------------------------

TDBMemo::TDBMemo(QWidget* parent) : QPlainTextEdit(parent) {
    connect(this, &QPlainTextEdit::textChanged, this, [this] {
        if (loading_) return;
        CutToField();
        UserChanged();
    });
}

void TDBMemo::CutToField() {
    Db::TField* f = link_.Field();
    if (!f || f->DataType() != Db::ftString || f->Size() <= 0) return;
    const QString text = toPlainText();
    int over = int(text.size() + text.count(u'\n')) - f->Size();  // a line end is CR LF
    if (over <= 0) return;
    // What was just typed or pasted before the cursor goes, as far as it does not fit.
    loading_ = true;
    QTextCursor c = textCursor();
    while (over > 0 && c.position() > 0) {
        over -= document()->characterAt(c.position() - 1) == QChar::ParagraphSeparator ? 2 : 1;
        c.deletePreviousChar();
    }
    setTextCursor(c);
    loading_ = false;
}

void TDBMemo::ShowValue(Db::TField* field) {
    loading_ = true;
    QString text = field ? FromAnsi(field->AsString()) : QString();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(text);
    loading_ = false;
}

void TDBMemo::StoreValue(Db::TField& field) {
    QString text = toPlainText();
    text.replace(u'\n', QStringLiteral("\r\n"));
    field.SetAsString(ToAnsi(text));
}

void TDBMemo::focusOutEvent(QFocusEvent* event) {
    CommitOnLeave(this, *event);
    QPlainTextEdit::focusOutEvent(event);
}

// ---- TDBText -------------------------------------------------------------------------------

TDBText::TDBText(QWidget* parent) : QLabel(parent) {}

void TDBText::ShowValue(Db::TField* field) {
    setText(field ? FromAnsi(field->DisplayText()) : QString());
}

// ---- TDBCheckBox ---------------------------------------------------------------------------

TDBCheckBox::TDBCheckBox(QWidget* parent) : QCheckBox(parent) {}

void TDBCheckBox::ShowValue(Db::TField* field) {
    bool checked = false;
    if (field && field->DataType() == Db::ftBoolean) {
        checked = !field->IsNull() && field->AsBoolean();
    } else if (field) {
        std::string text = tz::AnsiUpperStr(field->Text());
        while (!text.empty() && text.back() == ' ') text.pop_back();
        checked = !text.empty() && text == tz::AnsiUpperStr(ValueChecked);
    }
    setChecked(checked);
}

void TDBCheckBox::StoreValue(Db::TField& field) {
    if (field.DataType() == Db::ftBoolean)
        field.SetAsBoolean(isChecked());
    else
        field.SetText(isChecked() ? ValueChecked : ValueUnchecked);
}

void TDBCheckBox::nextCheckState() {
    if (!BeginChange()) return;
    QCheckBox::nextCheckState();
    link_.Modified();
}

void TDBCheckBox::focusOutEvent(QFocusEvent* event) {
    CommitOnLeave(this, *event);
    QCheckBox::focusOutEvent(event);
}

// ---- TDBComboBox ---------------------------------------------------------------------------

TDBComboBox::TDBComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] {
        if (!loading_) UserChanged();
    });
    connect(this, &QComboBox::activated, this, [this](int index) {
        loading_ = true;
        setEditText(itemText(index));
        loading_ = false;
        UserChanged();
        if (link_.IsModified()) setEditText(itemText(index));
    });
}

void TDBComboBox::ShowValue(Db::TField* field) {
    loading_ = true;
    if (field && field->DataType() == Db::ftString && field->Size() > 0)
        lineEdit()->setMaxLength(field->Size());
    setEditText(field ? FromAnsi(field->Text()) : QString());
    loading_ = false;
}

void TDBComboBox::showPopup() {
    OnDropDown(*this);
    QComboBox::showPopup();
}

void TDBComboBox::StoreValue(Db::TField& field) {
    field.SetText(ToAnsi(currentText()));
}

void TDBComboBox::focusOutEvent(QFocusEvent* event) {
    CommitOnLeave(this, *event);
    QComboBox::focusOutEvent(event);
}

void TDBComboBox::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) Commit(this);
    QComboBox::keyPressEvent(event);
}

// ---- TDBLookupComboBox ---------------------------------------------------------------------

TDBLookupComboBox::TDBLookupComboBox(QWidget* parent) : QComboBox(parent) {
    connect(this, &QComboBox::activated, this, [this](int index) { Choose(index); });
}

void TDBLookupComboBox::FillList() {
    Db::TDataSet* ds = ListSource ? ListSource->DataSet() : nullptr;
    if (!ds || !ds->Active()) return;
    Db::TField* key = ds->FindField(KeyField);
    Db::TField* text = ds->FindField(ListField.empty() ? KeyField : ListField);
    if (!key || !text) return;
    loading_ = true;
    clear();
    ds->DisableControls();
    Db::TBookmark mark = ds->GetBookmark();
    try {
        for (ds->First(); !ds->Eof(); ds->Next())
            addItem(FromAnsi(text->DisplayText()), RightTrimmed(FromAnsi(key->AsString())));
        ds->GotoBookmark(mark);
    } catch (...) {
        ds->EnableControls();
        loading_ = false;
        throw;
    }
    ds->EnableControls();
    setCurrentIndex(findData(key_));
    loading_ = false;
}

QString TDBLookupComboBox::ListTextOf(const QString& key) {
    int at = findData(key);
    if (at >= 0) return itemText(at);
    Db::TDataSet* ds = ListSource ? ListSource->DataSet() : nullptr;
    if (key.isEmpty() || !ds || !ds->Active()) return {};
    Db::TField* text = ds->FindField(ListField.empty() ? KeyField : ListField);
    if (!text) return {};
    QString found;
    ds->DisableControls();
    Db::TBookmark mark = ds->GetBookmark();
    if (ds->Locate(KeyField, {ToAnsi(key)}, {})) found = FromAnsi(text->DisplayText());
    ds->GotoBookmark(mark);
    ds->EnableControls();
    return found;
}

void TDBLookupComboBox::ShowValue(Db::TField* field) {
    loading_ = true;
    key_ = field ? RightTrimmed(FromAnsi(field->AsString())) : QString();
    int at = findData(key_);
    if (at < 0 && !key_.isEmpty()) {
        QString text = ListTextOf(key_);
        at = findData(key_);
        if (at < 0) {
            addItem(text, key_);
            at = count() - 1;
        }
    }
    setCurrentIndex(at);
    loading_ = false;
}

void TDBLookupComboBox::showPopup() {
    FillList();
    QComboBox::showPopup();
}

void TDBLookupComboBox::Choose(int index) {
    if (loading_ || index < 0) return;
    QString key = itemData(index).toString();
    if (!BeginChange()) {
        ShowValue(link_.Field());
        return;
    }
    key_ = key;
    link_.Modified();
    setCurrentIndex(index);
}

void TDBLookupComboBox::StoreValue(Db::TField& field) {
    field.SetAsString(ToAnsi(key_));
}

void TDBLookupComboBox::focusOutEvent(QFocusEvent* event) {
    CommitOnLeave(this, *event);
    QComboBox::focusOutEvent(event);
}

}  // namespace kjqt
