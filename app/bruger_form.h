// The employees register "Redigere brugere (medarbejdere)" (bruger.dbf) on cards, and the
// password change dialog. ShowBrugerForm is the entry of the menu, the case header's
// responsible-employee field and the time sheet. GUI thread.
#pragma once

#include <QDialog>
#include <string>

#include "app/card_register.h"

class QLineEdit;

namespace kj {

class TbrugerForm : public TCardRegisterForm {
  public:
    TbrugerForm();
    void NyBruger();
    void SletBruger();
    void GendanBruger();
    void SkiftBrugerKodeord();
    QPushButton* SkiftKodeordBtn;

  protected:
    void BuildPanel(QWidget& panel) override;
    void NewRow() override { NyBruger(); }
    void DeleteRow() override { SletBruger(); }
    void UndoRow() override { GendanBruger(); }
    void CtrlDelete() override { SletBruger(); }
};

void ShowBrugerForm(int32_t recNo, const std::string& key);
TbrugerForm* BrugerForm();

// "SkiftKodeordForm": the old password and the new one twice. OK is refused (with
// "Forkert kodeord !!!") until the old one matches and the two new ones agree, blanks
// around them not counting.
class TSkiftKodeordForm : public QDialog {
  public:
    TSkiftKodeordForm();
    QLineEdit* EdtGammel;
    QLineEdit* EdtNy;
    QLineEdit* EdtGentag;
    QPushButton* OKBtn;
    QPushButton* SlutBtn;
    std::string OldPassword, NewPassword;
    void accept() override;
};

// True on OK, with the new password (trimmed) in newPassword.
bool SkiftKodeord(const std::string& oldPassword, std::string& newPassword);

}  // namespace kj
