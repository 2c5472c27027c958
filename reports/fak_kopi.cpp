#include "reports/fak_kopi.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "app/qel_com.h"
#include "data/db_format.h"
#include "reports/invoice_amounts.h"
#include "reports/report_util.h"
#include "storage/tz_utils.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

constexpr size_t kFaknrWidth = 16, kSagnrWidth = 10;

const char kNoFaknr[] = "Der skal indtastes fakturanr.";
const char kNoSagnr[] = "Der skal indtastes sagsnr.";
const char kFaknrUsed[] = "Fakturanr. findes allerede på posteringer, vælg et andet!";
const char kNoCase[] = "Kan ikke finde den indtastede sag!";
const char kNoPostings[] = "Der er ingen posteringer på sagen!";
const char kFaknrMissing[] = "Fakturanr. findes ikke på posteringerne!";
const char kNoInvoicedCase[] = "Kan ikke finde sagen for de fakturerede posteringer!";
const char kNoCustomer[] = "Kan ikke finde kundeoplysninger for sagen!";
const char kLostPostings[] = "De opdaterede poster kunne ikke findes igen";

QWidget* Labelled(const char* caption, QWidget* edit, QWidget* parent) {
    auto* box = new QGroupBox(QString::fromUtf8(caption), parent);
    auto* l = new QVBoxLayout(box);
    l->addWidget(edit);
    return box;
}

}  // namespace

TFakKopiForm::TFakKopiForm(kj::TKJData& data, QWidget* parent) : QDialog(parent), data_(data) {
    setWindowTitle(QStringLiteral("Faktura kopi"));
    setMinimumWidth(360);
    auto* all = new QVBoxLayout(this);
    auto* modes = new QGroupBox(QStringLiteral("  Behandler  "), this);
    auto* ml = new QVBoxLayout(modes);
    rgBehandler = new QButtonGroup(this);
    const char* captions[3] = {"&1 Tildel fakturanr. og udskriv", "&2 Kopi af faktura",
                               "&3 Alle posteringer på sagen"};
    for (int i = 0; i < 3; ++i) {
        rbMode[i] = new QRadioButton(QString::fromUtf8(captions[i]), modes);
        rgBehandler->addButton(rbMode[i], i);
        ml->addWidget(rbMode[i]);
    }
    rbMode[0]->setChecked(true);
    all->addWidget(modes);
    edtFaknr = new QLineEdit(this);
    edtFaknr->setMaxLength(int(kFaknrWidth));
    all->addWidget(Labelled("  Fakturanummer.  ", edtFaknr, this));
    edtSagnr = new TDropCombo(this);
    edtSagnr->setEditable(true);
    edtSagnr->lineEdit()->setMaxLength(int(kSagnrWidth));
    edtSagnr->OnDropDown = [this, filled = false]() mutable {
        if (filled) return;
        filled = true;
        FillCaseList(*edtSagnr);
    };
    all->addWidget(Labelled("  For sagsnr.  ", edtSagnr, this));
    auto* buttons = new QHBoxLayout;
    btnVis = new QPushButton(QStringLiteral("Vis"), this);
    btnUdskriv = new QPushButton(QStringLiteral("Udskriv"), this);
    btnSlut = new QPushButton(QStringLiteral("Slut"), this);
    for (QPushButton* b : {btnVis, btnUdskriv, btnSlut}) buttons->addWidget(b);
    all->addLayout(buttons);
    connect(btnVis, &QPushButton::clicked, this, [this] { btnVisClick(true); });
    connect(btnUdskriv, &QPushButton::clicked, this, [this] { btnVisClick(false); });
    connect(btnSlut, &QPushButton::clicked, this, &QDialog::reject);
    if (data_.SagsDbf.Active() && !data_.SagsDbf.s_IsEmpty())
        edtSagnr->setEditText(kjqt::FromAnsi(FieldText(data_.SagsDbf, "sags_nr")));
    BuildReport();
}

TFakKopiForm::~TFakKopiForm() = default;

int TFakKopiForm::Mode() const {
    return rgBehandler->checkedId() < 0 ? 0 : rgBehandler->checkedId();
}

void TFakKopiForm::FillCaseList(QComboBox& box) {
    TBusyCursor busy;
    busy.Set(true);
    const QString text = box.currentText();
    TzDs::TTzDbf& sager = data_.SagsDbf;
    const int32_t recNo = sager.s_RecNo();
    QStringList list;
    {
        // One count for the whole walk over the cases; no messages run during it.
        TzDs::TIndexReadHold reading({&sager});
        for (sager.First(); !sager.Eof(); sager.Next()) {
            reading.GiveWay();
            if (!sager.Deleted())
                list << kjqt::FromAnsi(TzUtils::AnsiUpper(FieldText(sager, "sags_nr")));
        }
    }
    data_.GotoRecNo(sager, recNo);
    box.addItems(list);
    box.setEditText(text);
}

// ---- Selection -----------------------------------------------------------------------------

void TFakKopiForm::ClearSelection() {
    for (TzDs::TTzDbf* t : {&data_.PostDbf, &data_.SagsDbf}) {
        if (t->State() == Db::dsEdit || t->State() == Db::dsInsert) t->Cancel();
        t->SetFilterTo("");
        t->SetWhileTo("");
        t->First();
    }
}

bool TFakKopiForm::SetRange(const std::string& expression) {
    data_.PostDbf.SetFilterTo("");
    data_.PostDbf.SetWhileTo(expression);
    // A current row outside the range would leave no condition at all: nothing to print.
    return data_.PostDbf.IsWhileOn();
}

bool TFakKopiForm::CheckCase(const std::string& sagnr, const char* message) {
    data_.SagsDbf.SetOrderToTag("sagsnr");
    if (data_.SagsDbf.FindExact(sagnr)) return true;
    Message(message, edtSagnr);
    return false;
}

bool TFakKopiForm::CheckPostings(const std::string& sagnr) {
    TzDs::TTzDbf& post = data_.PostDbf;
    post.SetOrderToTag("postsag");
    if (post.Find(sagnr) &&
        TzUtils::AnsiUpper(FieldText(post, "post_sag")) == TzUtils::TrimRight(sagnr))
        return true;
    Message(kNoPostings, edtSagnr);
    return false;
}

bool TFakKopiForm::FindInvoice(const std::string& key, const char* message) {
    TzDs::TTzDbf& post = data_.PostDbf;
    post.SetOrderToTag("postfnr");
    if (post.Find(key) && FieldText(post, "post_fnr") == TzUtils::TrimRight(faknr_)) return true;
    if (message) Message(message, edtFaknr);
    return false;
}

bool TFakKopiForm::FindCustomer() {
    kunde_ = TzUtils::PadRightOrCut(FieldText(data_.SagsDbf, "sag_kunde"), 10);
    data_.KundeDbf.SetOrderToTag("kunde");
    if (data_.KundeDbf.FindExact(TzUtils::AnsiUpper(kunde_))) return true;
    Message(kNoCustomer, edtSagnr);
    return false;
}

// The postings of the case that carry the invoice number.
bool TFakKopiForm::InvoiceRange() {
    return SetRange("Upper(post_sag)==" + ExprLiteral(sagnr_) +
                    " .and. post_fnr==" + ExprLiteral(faknr_));
}

// Mode 0: checks, stamping (first pass only) and the range of the stamped postings.
bool TFakKopiForm::SelectAssign(Pass pass) {
    const std::string f = TzUtils::TrimRight(kjqt::ToAnsi(edtFaknr->text()));
    const std::string s = TzUtils::TrimRight(kjqt::ToAnsi(edtSagnr->currentText()));
    if (f.empty()) return Message(kNoFaknr, edtFaknr), false;
    if (s.empty()) return Message(kNoSagnr, edtSagnr), false;
    faknr_ = TzUtils::PadRightOrCut(f, kFaknrWidth);
    sagnr_ = TzUtils::AnsiUpper(TzUtils::PadRightOrCut(s, kSagnrWidth));
    if (pass == Pass::First) {
        if (FindInvoice(faknr_, nullptr)) return Message(kFaknrUsed, edtFaknr), false;
        if (!CheckCase(sagnr_, kNoCase) || !CheckPostings(sagnr_) || !FindCustomer()) return false;
        if (!SetRange("Upper(post_sag)==" + ExprLiteral(sagnr_))) return false;
        Stamp();
    }
    data_.PostDbf.SetWhileTo("");
    data_.PostDbf.First();
    // The case's part of the invoice number's keys.
    if (!FindInvoice(faknr_ + sagnr_, pass == Pass::First ? kFaknrMissing : kLostPostings))
        return false;
    return InvoiceRange();
}

bool TFakKopiForm::SelectCopy() {
    const std::string f = TzUtils::TrimRight(kjqt::ToAnsi(edtFaknr->text()));
    if (f.empty()) return Message(kNoFaknr, edtFaknr), false;
    faknr_ = TzUtils::PadRightOrCut(f, kFaknrWidth);
    if (!FindInvoice(faknr_, kFaknrMissing)) return false;
    sagnr_ = TzUtils::AnsiUpper(
        TzUtils::PadRightOrCut(FieldText(data_.PostDbf, "post_sag"), kSagnrWidth));
    if (!CheckCase(sagnr_, kNoInvoicedCase)) return false;
    return InvoiceRange();
}

bool TFakKopiForm::SelectCase() {
    const std::string s = TzUtils::TrimRight(kjqt::ToAnsi(edtSagnr->currentText()));
    if (s.empty()) return Message(kNoSagnr, edtSagnr), false;
    sagnr_ = TzUtils::AnsiUpper(TzUtils::PadRightOrCut(s, kSagnrWidth));
    faknr_ = TzUtils::PadRightOrCut("", kFaknrWidth);
    if (!CheckCase(sagnr_, kNoCase) || !CheckPostings(sagnr_)) return false;
    return SetRange("Upper(post_sag)==" + ExprLiteral(sagnr_));
}

// Steps 2 to 4 of a run: the postings, the case row and the customer.
bool TFakKopiForm::Select(Pass pass) {
    bool ok = mode_ == 0 ? SelectAssign(pass) : mode_ == 1 ? SelectCopy() : SelectCase();
    if (!ok) return false;
    // The case row itself (the postings' checks left the case cursor elsewhere in mode 0).
    if (!CheckCase(sagnr_, kNoCase)) return false;
    data_.SagsDbf.SetFilterTo("");
    data_.SagsDbf.SetWhileTo("Upper(sags_nr)==" + ExprLiteral(sagnr_));
    if (!data_.SagsDbf.IsWhileOn()) return false;
    return FindCustomer();
}

void TFakKopiForm::Stamp() {
    TzDs::TTzDbf& post = data_.PostDbf;
    TBeforePostPause pause(post);
    const std::string caseKey = TzUtils::TrimRight(sagnr_);
    const std::string f = TzUtils::TrimRight(faknr_);
    for (post.First(); !post.Eof(); post.Next()) {
        if (!FieldText(post, "post_fnr").empty()) continue;
        EditLocked(post);
        // Another station may have numbered or moved the posting before the lock.
        if (!FieldText(post, "post_fnr").empty() ||
            TzUtils::AnsiUpper(FieldText(post, "post_sag")) != caseKey) {
            CancelLocked(post);
            continue;
        }
        try {
            post.FieldByName("post_fnr").SetAsString(f);
            post.Post();
        } catch (...) {
            if (post.State() == Db::dsEdit) CancelLocked(post);
            throw;
        }
    }
}

// ---- Run -------------------------------------------------------------------------------------

void TFakKopiForm::btnVisClick(bool preview) {
    mode_ = Mode();
    busy_ = std::make_unique<TBusyCursor>();
    struct Cleanup {
        TFakKopiForm& f;
        ~Cleanup() {
            try {
                f.ClearSelection();
            } catch (...) {
            }
            f.busy_.reset();
        }
    } cleanup{*this};
    ClearSelection();
    if (!Select(Pass::First)) return;
    busy_->Set(true);
    sumNet_ = sumVat_ = sumGross_ = 0;
    headerPage_ = 0;
    if (preview) {
        runFlag_ = 1;
        rap_->Preview(this);
    } else {
        runFlag_ = -1;
        rap_->Print();
    }
}

void TFakKopiForm::FakKopiRapBeforePrint(bool& printReport) {
    if (runFlag_ == -1) return;
    if (runFlag_ == 1) {
        runFlag_ = 2;
        return;
    }
    // The preview's own print: the same selection again, without stamping.
    ClearSelection();
    printReport = Select(Pass::Again);
    if (busy_) busy_->Set(true);
    sumNet_ = sumVat_ = sumGross_ = 0;
    headerPage_ = 0;
}

void ShowFakKopi() {
    kj::TKJData* data = kj::KJData();
    if (!data) return;
    TFakKopiForm form(*data, kj::MainWindow());
    form.exec();
}

}  // namespace kjrep
