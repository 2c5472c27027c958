// The customers register " Rediger kunder/kontakter " (kunde.dbf) on cards, with the
// customer type typed as one letter of "FOP". ShowKundeForm is the entry of the menu and of
// the case header's customer field. GUI thread.
#pragma once

#include <string>

#include "app/card_register.h"

namespace kj {

class TkundeForm : public TCardRegisterForm {
  public:
    TkundeForm();
    void NyKunde();
    void SletKunde();
    void GendanKunde();
    // A key typed into the type field: "F", "O" or "P" (any case) is stored.
    void edtTypeKeyPress(QKeyEvent& event);
    static std::string TypeName(const std::string& letter);

  protected:
    void BuildPanel(QWidget& panel) override;
    void PaintPanel(QWidget& panel) override;
    void NewRow() override { NyKunde(); }
    void DeleteRow() override { SletKunde(); }
    void UndoRow() override { GendanKunde(); }
    void CtrlDelete() override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

void ShowKundeForm(int32_t recNo, const std::string& key);
TkundeForm* KundeForm();

}  // namespace kj
