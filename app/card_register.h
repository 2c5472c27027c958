// The frame of the two card registers (employees and customers): a card grid over the
// register's table with the data module's own record rules, the card keys, the duplicate
// check when the key field is left, the postal code with its town (a missing code offered
// for creation in the postal-code register), the search over all fields with " Næste ",
// and one post attempt of a pending edit on closing. GUI thread, modal.
#pragma once

#include <QDialog>
#include <memory>
#include <string>

#include "app/kj_register.h"
#include "ui/db_ctrl_grid.h"

class QBoxLayout;
class QGridLayout;
class QLabel;
class QPushButton;

namespace kjqt {
class TDBEdit;
class TDBComboBox;
}  // namespace kjqt

namespace kj {

// What differs between the two card registers.
struct CardRegisterSpec {
    const char* table;     // component, e.g. "BrugerDbf"
    const char* buf;       // its second cursor
    const char* source;    // data source
    const char* tag;       // key tag
    const char* keyField;  // "ini" / "mak_id"
    int keyWidth;          // 5 / 10
    const char* postnrField;
    const char* who;        // "brugeren " / "kunden "
    const char* plural;     // "brugere" / "kunder"
    const char* dataName;   // "brugerdata" / "kundedata"
    const char* postnrEnd;  // "skal det oprettes ?" / "skal denne oprettes ?"
    const char* hidden;     // a field the search leaves out ("ini_pass"), or nullptr
};

class TCardRegisterForm : public QDialog {
  public:
    TCardRegisterForm(const CardRegisterSpec& spec, const QString& caption);
    ~TCardRegisterForm() override;

    kjqt::TDBCtrlGrid* Grid;
    QPushButton* SlutBtn;
    QPushButton* NyBtn;
    QPushButton* SletBtn;
    QPushButton* GendanBtn;
    QPushButton* SoegBtn;
    QPushButton* NaesteBtn;

    // The live card's control by object name (the cards are rebuilt on resize).
    template <class T>
    T* Live(const char* name) const {
        QWidget* p = Grid->LivePanel();
        return p ? p->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    }
    void FocusKey();
    // A new card: the key edit focused with the caret at its first position (a masked edit
    // holds its blanks, and typing after them would be dropped).
    void FocusNewCard();
    // Shows the window (the show routine's part after positioning and the new key).
    int Run();
    void btnSearchClick(bool next);
    void done(int result) override;

    std::string SearchWord;
    bool DeleteKey = false;
    int CardPanelHeight = 120;

  protected:
    // Builds one card's controls on panel.
    virtual void BuildPanel(QWidget& panel) = 0;
    virtual void NewRow() = 0;
    virtual void DeleteRow() = 0;
    virtual void UndoRow() = 0;
    // Card key: the register's own use of Ctrl+Delete and Backspace.
    virtual void CtrlDelete() = 0;
    virtual void PaintPanel(QWidget& panel);
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Card building helpers: a caption and a control at (row, column) of the card's grid.
    QGridLayout* CardLayout(QWidget& panel);
    kjqt::TDBEdit* AddEdit(QGridLayout* g, const char* caption, const char* field, const char* name,
                           int row, int col, int span = 1);
    void AddPostnr(QGridLayout* g, int row, int col);
    QPushButton* AddButton(const char* text, const std::function<void()>& action);
    // Town of a postal code (padded to 4, never cut); found tells whether it exists.
    static std::string TownOf(const std::string& code, bool& found);

    const CardRegisterSpec& spec_;
    TzDs::TTzDbf& table_;

  private:
    void CardKey(QKeyEvent& e);
    void KeyExit();
    void PostnrExit();
    void PostnrDropDown(kjqt::TDBComboBox& box);
    void CheckKeyBeforePost(Db::TDataSet& ds);
    void SettleCard();
    void SearchOrNext(bool next);
    void SearchWordIn(bool fromFirst, uint8_t& field);
    bool ShownFieldHas(const std::string& word);
    QBoxLayout* buttons_;
    QStringList postnrList_;
    // The data module's BeforePost followed by the duplicate check, while the window lives.
    std::unique_ptr<THandlerSwap> keyCheck_;
    bool keyModified_ = false;  // the user typed into the key field since it was checked
};

}  // namespace kj
