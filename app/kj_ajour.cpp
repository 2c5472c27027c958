#include "app/kj_ajour.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

#include "app/kj_data.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "storage/tz_utils.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

// Upper-cases what is typed, as the edit's character case setting does.
class UpperValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

}  // namespace

TKodeOrdsDialog::TKodeOrdsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Password Dialog"));
    setObjectName(QStringLiteral("KodeOrdsDialog"));
    auto* grid = new QGridLayout(this);
    EdtAjourIniCaption = new QLabel(kjqt::FromAnsi(Ansi("Ajourførings initialer")), this);
    EdtAjourIniCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EdtAjourIni = new QLineEdit(this);
    EdtAjourIni->setObjectName(QStringLiteral("EdtAjourIni"));
    EdtAjourIni->setMaxLength(5);
    EdtAjourIni->setValidator(new UpperValidator(EdtAjourIni));
    EdtKodeordCaption = new QLabel(QStringLiteral("Kodeord"), this);
    EdtKodeordCaption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    EdtKodeOrd = new QLineEdit(this);
    EdtKodeOrd->setObjectName(QStringLiteral("EdtKodeOrd"));
    EdtKodeOrd->setMaxLength(16);
    EdtKodeOrd->setEchoMode(QLineEdit::Password);
    TextAjour = new QLabel(this);
    TextAjour->setObjectName(QStringLiteral("TextAjour"));
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setDefault(true);
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    grid->addWidget(EdtAjourIniCaption, 0, 0);
    grid->addWidget(EdtAjourIni, 0, 1);
    grid->addWidget(EdtKodeordCaption, 1, 0);
    grid->addWidget(EdtKodeOrd, 1, 1);
    grid->addWidget(TextAjour, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    grid->addLayout(buttons, 3, 0, 1, 2);
}

std::string TKJData::GetAjourInitials() {
    if (TzUtils::TrimRight(AjourInitials).empty()) AjourInitials = AskAjourInitials();
    return AjourInitials;
}

std::string TKJData::AskAjourInitials() {
    TKodeOrdsDialog dialog;
    dialog.EdtAjourIni->clear();
    dialog.EdtKodeOrd->clear();
    dialog.EdtKodeOrd->setEnabled(IniRet);
    dialog.TextAjour->setText(kjqt::FromAnsi(Ansi(
        IniRet ? "Der er oprettet bruger(e) med feltet \"Kan rette\"\r\nsat, derfor vil kun "
                 "initialer for disse brugere\r\nhave rettighed til at rette data"
               : "Eftersom der ikke er oprettet en bruger\r\nhvor feltet \"Kan rette\" er sat, "
                 "vil alle\r\ninitialer, der indtastes, blive accepteret")));
    for (;;) {
        dialog.EdtKodeOrd->clear();
        dialog.EdtAjourIni->setFocus();
        if (dialog.exec() != QDialog::Accepted) return {};
        const std::string ini = TzCommon::AllTrim(kjqt::ToAnsi(dialog.EdtAjourIni->text()));
        if (!IniRet) return ini;
        // The row whose ini equals the initials, on the BRUGER tag whatever the order.
        if (ini.empty()) continue;
        bool ret = false;
        std::string pass;
        const bool found = LookUpRow(BrugerBufDbf, "BRUGER",
                                     TzUtils::PadRightOrCut(TzUtils::AnsiUpper(ini), 5), [&] {
                                         ret = BrugerBufDbf.FieldByName("ini_ret").AsBoolean();
                                         pass = BrugerBufDbf.FieldByName("ini_pass").AsString();
                                     });
        if (!found) continue;
        if (!ret) {
            ShowMsg(Ansi("Du har ikke rettigheder til at ændre indholdet !!!"));
            return {};
        }
        const std::string typed = TzCommon::AllTrim(kjqt::ToAnsi(dialog.EdtKodeOrd->text()));
        if (!TzCommon::AllTrim(pass).empty() && TzCommon::AllTrim(pass) != typed) {
            ShowMsg("Forkert kodeord !!!");
            continue;
        }
        return ini;
    }
}

}  // namespace kj
