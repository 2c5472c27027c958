// TVisData (see vis_data.h).
#include "app/vis_data.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/text_codec.h"

namespace kj {

TVisData::TVisData(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Data"));
    resize(541, 344);
    auto* v = new QVBoxLayout(this);
    VisTekst = new QPlainTextEdit(this);
    VisTekst->setReadOnly(true);
    VisTekst->clear();
    v->addWidget(VisTekst, 1);
    LukBtn = new QPushButton(QStringLiteral(" Luk "), this);
    v->addWidget(LukBtn, 0, Qt::AlignHCenter);
    connect(LukBtn, &QPushButton::clicked, this, &QDialog::accept);
}

void TVisData::AddLine(const std::string& text) {
    VisTekst->appendPlainText(kjqt::FromAnsi(text));
}

}  // namespace kj
