// TPasswordDlg: the password question asked before a closed case is reopened. The caller
// creates it, calls AskPassword with the expected password and frees it. GUI thread.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace kj {

class TPasswordDlg : public QDialog {
  public:
    explicit TPasswordDlg(QWidget* parent = nullptr);
    // Shows the dialog modally: true exactly when it closed with OK and the typed text
    // equals `expected` (case-sensitive, untrimmed; Windows-1252).
    bool AskPassword(const std::string& expected);
    QLabel* Label;
    QLineEdit* Password;
    QPushButton *OKBtn, *SlutBtn;
};

}  // namespace kj
