// TPasswordDlg (see password.h).
#include "app/password.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/text_codec.h"

namespace kj {

TPasswordDlg::TPasswordDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Indtast kodeord"));
    resize(233, 113);
    auto* v = new QVBoxLayout(this);
    Label = new QLabel(QStringLiteral(" Indtast kodeord "), this);
    v->addWidget(Label);
    Password = new QLineEdit(this);
    Password->setEchoMode(QLineEdit::Password);
    Password->setStyleSheet(QStringLiteral("lineedit-password-character: 35"));  // "#"
    v->addWidget(Password);
    auto* h = new QHBoxLayout;
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    SlutBtn = new QPushButton(QStringLiteral("Slut"), this);
    OKBtn->setDefault(true);
    h->addWidget(OKBtn);
    h->addWidget(SlutBtn);
    v->addLayout(h);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(SlutBtn, &QPushButton::clicked, this, &QDialog::reject);
}

bool TPasswordDlg::AskPassword(const std::string& expected) {
    return exec() == QDialog::Accepted && kjqt::ToAnsi(Password->text()) == expected;
}

}  // namespace kj
