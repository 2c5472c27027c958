// Data-aware controls: edit (with the field's edit mask), memo, data text, check box,
// drop-down combo and lookup combo, each showing one field of a data source's current record.
//  1. The first change the user makes puts the dataset into edit state (through the data
//     source's AutoEdit); a control whose dataset cannot be edited takes back the change.
//  2. The control writes its field when it loses the focus, on Enter, and whenever the
//     dataset asks its controls for their data (before a post).
//  3. It follows the data source: another record, a changed field, a cancelled edit all
//     reload it, unless the user's change is still pending in the control.
//  4. While the dataset's controls are disabled it keeps what it shows; enabling them reloads
//     it. Clearing the data source empties it.
// Windows-1252 text in the model, QString in the widgets. GUI thread.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <functional>
#include <string>

#include "data/db_datasource.h"
#include "data/db_events.h"
#include "ui/edit_mask.h"

namespace Db {
class TField;
}

namespace kjqt {

// The link of one control to one field of a data source.
class TFieldDataLink : public Db::TDataLink {
  public:
    void SetFieldName(const std::string& name);
    const std::string& FieldName() const { return fieldName_; }
    Db::TField* Field() const { return field_; }
    bool CanModify() const;
    // The control holds a change of the user that is not in the field yet.
    void Modified() { modified_ = true; }
    bool IsModified() const { return modified_; }
    // Drops the control's pending change and reloads it.
    void Reset();

    std::function<void()> OnDataChange;  // reload the control from the field
    std::function<void()> OnUpdateData;  // write the control's value into the field

  protected:
    void ActiveChanged() override;
    void LayoutChanged() override;
    void RecordChanged(Db::TField* field) override;
    void UpdateData() override;

  private:
    void UpdateField();

    std::string fieldName_;
    Db::TField* field_ = nullptr;
    bool modified_ = false;
};

// What every data-aware control has: its data source and field, and a way to show a field's
// value without the link (the card grid paints the cards of other records that way).
class TDBControl {
  public:
    TDBControl();
    virtual ~TDBControl() = default;
    void SetDataSource(Db::TDataSource* source) { link_.SetDataSource(source); }
    Db::TDataSource* DataSource() const { return link_.DataSource(); }
    void SetDataField(const std::string& name) { link_.SetFieldName(name); }
    const std::string& DataField() const { return link_.FieldName(); }
    Db::TField* Field() const { return link_.Field(); }
    TFieldDataLink& Link() { return link_; }
    // Shows the field's value (nullptr: empty) without touching the link.
    virtual void ShowValue(Db::TField* field) = 0;

  protected:
    // Writes the control's value into the field; the link has checked it is editing.
    virtual void StoreValue(Db::TField& field) = 0;
    // Starts an edit for a change of the user; false when the dataset cannot be edited.
    bool BeginChange();
    // A change of the user arrived: start the edit and mark it pending, or take it back.
    void UserChanged();
    // Writes a pending change now (leaving the control, Enter). The dataset model's errors
    // go to the application's handler and keep the focus in the control.
    void Commit(QWidget* self);
    // Commit when the focus leaves the control, but not when a modal window (a message box,
    // a register) opens over it: the focus comes back, and a refused change would be refused,
    // and shown, a second time.
    void CommitOnLeave(QWidget* self, const QFocusEvent& event);

    TFieldDataLink link_;
    bool suppressReload_ = false;
    bool committing_ = false;  // a refused change's message is being shown
};

// In a date field's masked edit "." "/" and "-" are the date separator too: typed, they move
// on to the next part of the date as the separator itself does ("1.2.26" is 1 February).
// Sends the separator to the edit in the typed key's place; false for any other key.
bool TypeDateSeparator(QLineEdit& edit, const QKeyEvent& event, const Db::TField* field);

class TDBEdit : public QLineEdit, public TDBControl {
  public:
    explicit TDBEdit(QWidget* parent = nullptr);
    void ShowValue(Db::TField* field) override;
    const TQtMask& Mask() const { return mask_; }

  protected:
    void StoreValue(Db::TField& field) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

  private:
    void ApplyMask(Db::TField* field);
    void CaretAfterTypedText();
    TQtMask mask_;
    bool loading_ = false;
};

class TDBMemo : public QPlainTextEdit, public TDBControl {
  public:
    explicit TDBMemo(QWidget* parent = nullptr);
    void ShowValue(Db::TField* field) override;

  protected:
    void StoreValue(Db::TField& field) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void CutToField();  // a text field takes no more characters than it holds
    bool loading_ = false;
};

class TDBText : public QLabel, public TDBControl {
  public:
    explicit TDBText(QWidget* parent = nullptr);
    void ShowValue(Db::TField* field) override;

  protected:
    void StoreValue(Db::TField&) override {}
};

// Checked when a Boolean field is true or a text field holds ValueChecked (case-insensitive).
class TDBCheckBox : public QCheckBox, public TDBControl {
  public:
    explicit TDBCheckBox(QWidget* parent = nullptr);
    void ShowValue(Db::TField* field) override;
    std::string ValueChecked = "True";
    std::string ValueUnchecked = "False";

  protected:
    void StoreValue(Db::TField& field) override;
    void focusOutEvent(QFocusEvent* event) override;
    void nextCheckState() override;
};

// An editable combo whose list the window fills in OnDropDown, just before it opens.
class TDBComboBox : public QComboBox, public TDBControl {
  public:
    explicit TDBComboBox(QWidget* parent = nullptr);
    void ShowValue(Db::TField* field) override;
    void showPopup() override;
    Db::Event<TDBComboBox&> OnDropDown;

  protected:
    void StoreValue(Db::TField& field) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    bool loading_ = false;
};

// A combo that stores the key of a row of another dataset (ListSource) and shows that row's
// ListField; the list is read from the list dataset each time it opens.
class TDBLookupComboBox : public QComboBox, public TDBControl {
  public:
    explicit TDBLookupComboBox(QWidget* parent = nullptr);
    void ShowValue(Db::TField* field) override;
    void showPopup() override;
    Db::TDataSource* ListSource = nullptr;
    std::string KeyField;
    std::string ListField;
    // The key of the shown row (the field's value, or the user's pending choice).
    QString KeyValue() const { return key_; }

  protected:
    void StoreValue(Db::TField& field) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    void FillList();
    void Choose(int index);
    QString ListTextOf(const QString& key);
    QString key_;
    bool loading_ = false;
};

}  // namespace kjqt
