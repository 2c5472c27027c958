// The login dialog that asks for the update initials (and, when some employee is marked
// "Kan rette", the password). The data module runs it through AskAjourInitials. GUI thread.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kj {

class TKodeOrdsDialog : public QDialog {
  public:
    explicit TKodeOrdsDialog(QWidget* parent = nullptr);

    QLabel* EdtAjourIniCaption;
    QLineEdit* EdtAjourIni;
    QLabel* EdtKodeordCaption;
    QLineEdit* EdtKodeOrd;
    QLabel* TextAjour;
    QPushButton* OKBtn;
    QPushButton* CancelBtn;
};

}  // namespace kj
