#include "app/frame_interessent.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_register.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/main_entries.h"
#include "app/main_form_util.h"
#include "data/db_format.h"
#include "ui/application.h"
#include "ui/db_grid.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/text_codec.h"

namespace kj {

TframeInteressent::TframeInteressent(TKJData& data, QWidget* parent)
    : QWidget(parent), data_(data) {
    setObjectName(QStringLiteral("frameInteressent"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    gridInteressent = new kjqt::TDBGrid(this);
    gridInteressent->setObjectName(QStringLiteral("gridInteressent"));
    gridInteressent->SetDataSource(data_.DataSource("InteressentData"));
    kjqt::TColumn navn("INT_NAVN");
    navn.Width = 576;
    kjqt::TColumn ajour("INT_AJOUR"), ini("INT_INI"), opret("INT_OPRET");
    ajour.ReadOnly = ini.ReadOnly = opret.ReadOnly = true;
    gridInteressent->SetColumns({"INT_TEKST", "INT_ID", navn, ajour, ini, opret});
    gridInteressent->AlwaysShowEditor = true;
    gridInteressent->TabsBetweenCells = true;
    column->addWidget(gridInteressent, 1);
    auto* row = new QHBoxLayout;
    column->addLayout(row);
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        row->addWidget(b);
        connect(b, &QPushButton::clicked, this,
                [this, b] { Guarded([this, b] { ButtonClick(b); }); });
        return b;
    };
    btnNyInteressent = button("btnNyInteressent", " Ny Interessent (Ctrl-Ins) ");
    btnSletInteressent = button("btnSletInteressent", " Slet Interessent (Ctrl-Del) ");
    btnGendanInteressent = button("btnGendanInteressent", " Gendan (Ctrl-Tilbage) ");
    btnVisInteressent = button("btnVisInteressent", " Vis Interessent (Ctrl-Retur) ");
    row->addStretch(1);
    gridInteressent->OnKeyDown = [this](kjqt::TDBGrid&, QKeyEvent& key) {
        Guarded([&] { GridKey(key); });
    };
    gridInteressent->OnTitleClick = [this](kjqt::TDBGrid&, kjqt::TColumn& c) {
        Guarded([&] { TitleClick(c); });
    };
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && (now == gridInteressent || gridInteressent->isAncestorOf(now)))
            Guarded([this] { FillPickLists(); });
    });
}

std::string TframeInteressent::CaseKey() const {
    return KeyOf(data_.SagsDbf.FieldByName("SAGS_NR").AsString(), 10);
}

void TframeInteressent::LoadCaseInteressenter() {
    TzDs::TTzDbf& t = data_.InteressentDbf;
    // The new filter would cancel a row being typed: it is settled first (a tab change).
    if (!t.Active() || !SettleRow()) return;
    if (TrimRight(CaseKey()).empty()) gridInteressent->hide();
    if (TrimRight(t.CurrentTag()) != "INTSAG") t.SetOrderToTag("INTSAG");
    if (t.IsWhileOn()) t.SetWhileTo("");
    if (t.IsFilterOn()) t.SetFilterTo("");
    t.GoTop();
    const std::string n = CaseKey();
    const bool found = !TrimRight(n).empty() && (t.FindNear(n), !t.Eof()) &&
                       TzUpper(TrimRight(t.FieldByName("INT_SAG").AsString())) == TrimRight(n);
    gridInteressent->setVisible(found);
    t.SetFilterTo("UPPER(INT_SAG)==\"" + n + "\"");
    t.Refresh();
}

void TframeInteressent::HookEvents() {
    if (hook_) return;
    hook_.emplace(data_.InteressentDbf,
                  Db::TDataSetNotifyEvent::Bind(this, &TframeInteressent::InteressentNewRecord),
                  Db::TDataSetNotifyEvent::Bind(this, &TframeInteressent::InteressentBeforePost),
                  true);
}

void TframeInteressent::UnhookEvents() {
    hook_.reset();
}

bool TframeInteressent::CheckCaseEditable() {
    TzDs::TTzDbf& t = data_.InteressentDbf;
    const char* refusal = nullptr;
    if (TrimRight(CaseKey()).empty())
        refusal = "Der er ingen aktiv sag, eller Sagsnr. er blank !!!";
    else if (data_.SagsDbf.FieldByName("SagenErLukket").AsBoolean())
        refusal = "Sagen er afsluttet, der kan ikke slettes Interessenter !!!";
    if (!refusal) return !data_.RefuseDeletedCase(&t);
    ShowMsg(refusal);
    if (Editing(t)) t.Cancel();
    return false;
}

void TframeInteressent::Stamp(Db::TDataSet& ds, bool created) {
    const std::string ini = data_.GetAjourInitials();
    if (TrimRight(ini).empty()) {
        ds.Cancel();
        return;
    }
    ds.FieldByName("INT_SAG").SetAsString(TrimRight(CaseKey()));
    ds.FieldByName("INT_AJOUR").SetAsDateTime(Db::Today());
    ds.FieldByName("INT_INI").SetAsString(ini);
    if (created || ds.FieldByName("INT_OPRET").IsNull())
        ds.FieldByName("INT_OPRET").SetAsDateTime(Db::Today());
}

void TframeInteressent::InteressentNewRecord(Db::TDataSet& ds) {
    if (CheckCaseEditable()) Stamp(ds, true);
}

void TframeInteressent::InteressentBeforePost(Db::TDataSet& ds) {
    if (!CheckCaseEditable()) return;
    // A changed stakeholder another station deleted meanwhile is not written into the
    // deleted record; the grid shows the case's stakeholders as stored.
    if (data_.RefuseDeletedRow(data_.InteressentDbf)) {
        ds.Cancel();
        QTimer::singleShot(0, this, [this] { kjqt::Guarded([this] { LoadCaseInteressenter(); }); });
        return;
    }
    Stamp(ds, false);
}

void TframeInteressent::ButtonClick(QPushButton* b) {
    if (!CheckCaseEditable()) return;
    if (b == btnNyInteressent)
        NewInteressent();
    else if (b == btnSletInteressent)
        DeleteInteressent();
    else if (b == btnGendanInteressent)
        UndoInteressent();
    else
        ShowInteressent();
    if (gridInteressent->isVisible()) gridInteressent->setFocus();
}

void TframeInteressent::NewInteressent() {
    TzDs::TTzDbf& t = data_.InteressentDbf;
    if (TrimRight(data_.GetAjourInitials()).empty()) return;
    // A row being typed is settled (asked, saved or dropped), never thrown away unasked.
    if (!SettleRow()) return;
    while (!t.FLock()) kjqt::LetMessagesThrough();
    t.Append();  // a buffer only: the row is written when it is posted, under its own lock
    t.UnLock();
    gridInteressent->show();
    gridInteressent->setFocus();
}

void TframeInteressent::DeleteInteressent() {
    TzDs::TTzDbf& t = data_.InteressentDbf;
    if (TrimRight(data_.GetAjourInitials()).empty() || (t.IsEmpty() && !Editing(t))) return;
    const std::string question = "\xD8nsker du at slette denne Interessent?\r\n" +
                                 t.FieldByName("INT_TEKST").AsString() + " " +
                                 t.FieldByName("INT_NAVN").AsString();
    // Known before the question, whose window takes the focus and so cancels a new row.
    const bool isNew = t.State() == Db::dsInsert;
    if (!Ask(question)) return;
    t.Cancel();
    if (!isNew && !t.IsEmpty()) {
        while (!t.FLock()) kjqt::LetMessagesThrough();
        t.DeleteRec();
        t.UnLock();
    }
    LoadCaseInteressenter();
    gridInteressent->setFocus();
}

void TframeInteressent::UndoInteressent() {
    if (TrimRight(data_.GetAjourInitials()).empty()) return;
    if (Editing(data_.InteressentDbf)) data_.InteressentDbf.Cancel();
    data_.InteressentDbf.Refresh();
    gridInteressent->setFocus();
}

bool TframeInteressent::SettleRow() {
    if (!data_.InteressentDbf.Active()) return true;
    const char* question = nullptr;
    for (const StampRule& r : TKJData::StampRules())
        if (std::string(r.component) == "InteressentDbf") question = r.question;
    return gridInteressent->SettleRow([this, question](Db::TDataSet& ds) {
        if (!question || data_.Confirm(Ansi(question)))
            ds.Post();
        else
            ds.Cancel();
    });
}

void TframeInteressent::ShowInteressent() {
    TzDs::TTzDbf& t = data_.InteressentDbf;
    TzDs::TTzDbf& k = data_.KundeDbf;
    const std::string id = TrimRight(t.FieldByName("INT_ID").AsString());
    if (id.empty() || !k.FindExact(KeyOf(id, 10))) return;
    const std::vector<std::string> lines = {"Interessent: " + t.FieldByName("INT_ID").AsString(),
                                            " ",
                                            k.FieldByName("KundeNavn").AsString(),
                                            k.FieldByName("KundeAdresse").AsString(),
                                            k.FieldByName("KundePostBy").AsString(),
                                            k.FieldByName("MAK_TLF").AsString(),
                                            k.FieldByName("MAK_FAX").AsString(),
                                            " "};
    if (MainEntries().ShowVisData) MainEntries().ShowVisData(window(), lines);
}

void TframeInteressent::GridKey(QKeyEvent& key) {
    const RegKey reg = RegisterKeyOf(key);
    const bool ctrl = (key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
    if (reg == RegKey::Undo)
        UndoInteressent();
    else if (reg == RegKey::New)
        NewInteressent();
    else if (reg == RegKey::Delete)
        DeleteInteressent();
    else if (ctrl && (key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter))
        ShowInteressent();
    else
        return;
    key.accept();
    if (gridInteressent->isVisible()) gridInteressent->setFocus();
}

void TframeInteressent::FillPickLists() {
    std::vector<kjqt::TColumn> columns;
    bool changed = false;
    for (kjqt::TColumn* c : gridInteressent->Columns()) {
        kjqt::TColumn copy = *c;
        if (copy.PickList.isEmpty() && TzUpper(copy.FieldName) == "INT_TEKST") {
            for (const std::string& line : ReadListFile(data_.StdInteressentFileName()))
                copy.PickList << kjqt::FromAnsi(line);
            changed = changed || !copy.PickList.isEmpty();
        } else if (copy.PickList.isEmpty() && TzUpper(copy.FieldName) == "INT_ID") {
            TzDs::TTzDbf& k = data_.KundeBufDbf;
            const int32_t at = k.RecNo();
            k.DisableControls();
            {
                // One index read count for the whole walk; no messages run during it.
                TzDs::TIndexReadHold reading({&k});
                for (k.GoTop(); !k.Eof(); k.Skip(1)) {
                    reading.GiveWay();
                    copy.PickList << kjqt::FromAnsi(TrimRight(k.FieldByName("MAK_ID").AsString()));
                }
            }
            data_.GotoRecNo(k, at);
            k.EnableControls();
            changed = changed || !copy.PickList.isEmpty();
        }
        columns.push_back(copy);
    }
    if (changed) gridInteressent->SetColumns(columns);
}

void TframeInteressent::TitleClick(kjqt::TColumn& column) {
    if (!SettleRow()) return;  // the new filter would cancel a row being typed
    const std::string f = TzUpper(column.FieldName);
    const char* prompt = f == "INT_TEKST"  ? "Indtast ord, der skal indgå i Interessent"
                         : f == "INT_NAVN" ? "Indtast ord, der skal indgå i Navnet"
                                           : nullptr;
    std::string c;
    if (prompt) {
        const std::string w = kjqt::ToAnsi(kjqt::DialogService::Instance().InputText(
            QString::fromUtf8("Søg i Interessenter"), QString::fromUtf8(prompt), QString()));
        if (!TrimRight(w).empty()) {
            std::string quoted;
            if (!QuoteSearchWord(w, quoted)) return;
            c = ".AND. AT(" + quoted + "," + f + ")>0";
        }
    }
    data_.InteressentDbf.SetFilterTo("INT_SAG==\"" + CaseKey() + "\"" + c);
    data_.InteressentDbf.GoTop();
    data_.InteressentDbf.Refresh();
}

}  // namespace kj
