// The banded report of the invoice copy: FakKopiRap and its bands, and their before-print
// events (labels, the per-line money and the look-ahead that places the totals).
#include "app/kj_data.h"
#include "app/qel_com.h"
#include "data/db_format.h"
#include "reports/fak_kopi.h"
#include "reports/invoice_amounts.h"
#include "reports/report_host.h"
#include "reports/report_util.h"
#include "storage/tz_utils.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {

constexpr int32_t kBody = 350, kLarge = 600, kSmall = 300;  // font heights
constexpr int32_t kWidth = 19000;                           // A4 less two 10 mm margins
// Columns of the posting lines: text, quantity, price, discount, amount (right edges).
constexpr int32_t kAntal = 11500, kPris = 14000, kRabat = 16300, kBeloeb = kWidth;
constexpr int32_t kNumberWidth = 2300;

std::string Ansi(const char* utf8) {
    return kjqt::ToAnsi(QString::fromUtf8(utf8));
}

// Antal, Pris and Rabat (in ten-thousandths): two decimals with ",", blank when zero.
std::string MaskText(int64_t c) {
    const int64_t cents = (c >= 0 ? c + 50 : c - 50) / 100;  // rounded to hundredths
    if (cents == 0) return " ";
    return AmountText(cents * 100, ',');
}

std::string Amount(int64_t v) {
    return AmountText(v, ',');
}

}  // namespace

void TFakKopiForm::BuildBands() {
    QRBHoved = std::make_unique<TQRBand>("QRBHoved", 3400);
    TQRBand& h = *QRBHoved;
    h.Add("QRLBrugerNavn", 0, 0, 12000, {}, TQRAlign::Left, kBody, true);
    h.Add("QRLBrugerAdresse", 0, 500, 12000);
    h.Add("QRLTitel", 11000, 0, 8000, "  Faktura kopi  ", TQRAlign::Right, kLarge, true);
    h.Add("QRLNr", 13000, 1300, 2000, "  nr.  ");
    h.Add("QRLFaknr", 15000, 1300, 4000, {}, TQRAlign::Right);
    h.Add("QRLDato", 13000, 1800, 2000, "  dato  ");
    h.Add("QRSysDato", 15000, 1800, 4000, {}, TQRAlign::Right).System = TQRSystemData::Date;
    h.Add("QRSysSide", 15000, 2400, 4000, "Side ", TQRAlign::Right, kSmall).System =
        TQRSystemData::PageNumber;
    h.RuleBelow = true;
    h.BeforePrint = [this](TQRBand& b, bool&) { QRBHovedBeforePrint(b); };

    QRBSagen = std::make_unique<TQRBand>("QRBSagen", 4000);
    TQRBand& d = *QRBSagen;
    d.Add("QRLKundeNavn", 0, 400, 12000);
    d.Add("mak_adr1", 0, 900, 12000);
    d.Add("mak_adr2", 0, 1400, 12000);
    d.Add("mak_att", 0, 1900, 12000);
    d.Add("QRLPostnrBy", 0, 2400, 12000);
    d.Add("QRLVedr", 0, 3300, 2000, "  Vedr.:  ");
    d.Add("sags_bem", 2000, 3300, 17000);
    d.BeforePrint = [this](TQRBand& b, bool&) { QRBSagenBeforePrint(b); };

    QRGPostHoved = std::make_unique<TQRBand>("QRGPostHoved", 700);
    TQRBand& g = *QRGPostHoved;
    g.Add("QRLTekst", 0, 100, 8000, "   Tekst   ", TQRAlign::Left, kBody, true);
    g.Add("QRLAntal", kAntal - kNumberWidth, 100, kNumberWidth, "   Antal  ", TQRAlign::Right,
          kBody, true);
    g.Add("QRLPris", kPris - kNumberWidth, 100, kNumberWidth, "   Pris  ", TQRAlign::Right, kBody,
          true);
    g.Add("QRLRabat", kRabat - kNumberWidth, 100, kNumberWidth, "  Rabat  ", TQRAlign::Right, kBody,
          true);
    g.Add("QRLBeloeb", kBeloeb - kNumberWidth, 100, kNumberWidth, Ansi("  Beløb  "),
          TQRAlign::Right, kBody, true);
    g.RuleBelow = true;
    g.BeforePrint = [this](TQRBand&, bool& print) { QRGPostHovedBeforePrint(print); };

    QRSPoster = std::make_unique<TQRBand>("QRSPoster", 500);
    TQRBand& s = *QRSPoster;
    s.Add("post_bem", 0, 50, 9000);
    s.Add("post_antal", kAntal - kNumberWidth, 50, kNumberWidth, {}, TQRAlign::Right);
    s.Add("post_pris", kPris - kNumberWidth, 50, kNumberWidth, {}, TQRAlign::Right);
    s.Add("post_rabat", kRabat - kNumberWidth, 50, kNumberWidth, {}, TQRAlign::Right);
    s.Add("QRLPostIalt", kBeloeb - kNumberWidth, 50, kNumberWidth, {}, TQRAlign::Right);
    s.BeforePrint = [this](TQRBand& b, bool&) { QRSPosterBeforePrint(b); };

    QRCPoster = std::make_unique<TQRBand>("QRCPoster", 1100);
    TQRBand& c = *QRCPoster;
    c.Add("QRLIalt", kRabat - 4000, 150, 4000, "  I alt  ", TQRAlign::Right);
    c.Add("QRLSumNet", kBeloeb - 4000, 150, 4000, {}, TQRAlign::Right);
    c.Add("QRLMoms", kRabat - 4000, 600, 4000, "  Moms  ", TQRAlign::Right);
    c.Add("QRLSumMoms", kBeloeb - 4000, 600, 4000, {}, TQRAlign::Right);
    c.BeforePrint = [this](TQRBand& b, bool&) { QRCPosterBeforePrint(b); };

    QRCPostTotal = std::make_unique<TQRBand>("QRCPostTotal", 700);
    QRCPostTotal->Add("QRLSumTotal", kBeloeb - 4000, 150, 4000, {}, TQRAlign::Right, kBody, true);
    QRCPostTotal->BeforePrint = [this](TQRBand& b, bool&) {
        b.Label("QRLSumTotal").Caption = Amount(sumGross_);
    };

    QRSPoster->ChildBand = QRCPoster.get();
    QRCPoster->ChildBand = QRCPostTotal.get();
}

void TFakKopiForm::BuildReport() {
    BuildBands();
    rap_ = std::make_unique<TQuickRep>();
    TQuickRep& r = *rap_;
    r.ReportTitle = "  Faktura kopi  ";
    for (int32_t& m : r.Margins) m = 1000;
    r.Zoom = 80;
    r.DataSet = &data_.SagsDbf;
    r.PageHeader = QRBHoved.get();
    r.Detail = QRBSagen.get();
    r.SubDataSet = &data_.PostDbf;
    r.SubDetail = QRSPoster.get();
    r.GroupHeader = QRGPostHoved.get();
    r.BeforePrint = [this](TQuickRep&, bool& print) { FakKopiRapBeforePrint(print); };
    r.OnEndPage = [this](TQuickRep&) {
        if (busy_) busy_->Set(false);
    };
}

void TFakKopiForm::QRBHovedBeforePrint(TQRBand& band) {
    const kj::TQelCom* q = kj::QelCom();
    band.Label("QRLBrugerNavn").Caption =
        q ? TzUtils::TrimRight(q->FirmName) : TzUtils::TrimRight(FirmName());
    band.Label("QRLBrugerAdresse").Caption =
        q ? TzUtils::TrimRight(q->FirmAddress) : TzUtils::TrimRight(FirmAddress());
    band.Label("QRLFaknr").Caption =
        mode_ == 2 ? std::string("  Alle  ") : TzUtils::TrimRight(faknr_);
}

void TFakKopiForm::QRBSagenBeforePrint(TQRBand& band) {
    Db::TDataSet& kunde = data_.KundeDbf;
    TzDs::TTzDbf& postnr = data_.PostnrDbf;
    std::string nr = FieldText(kunde, "mak_postnr");
    if (nr.size() < 4) nr = TzUtils::PadRightOrCut(nr, 4);
    // The postal-code cursor is given back as it was (other windows show it).
    const std::string oldTag = TzUtils::TrimRight(postnr.CurrentTag());
    const int32_t oldRec = postnr.s_RecNo();
    postnr.SetOrderToTag("postnr");
    // The tag holds the code padded to the field's width.
    const bool found = postnr.Find(TzUtils::PadRightOrCut(nr, 10));
    const std::string pstNr = found ? FieldText(postnr, "pst_nr") : std::string();
    const std::string pstBy = found ? FieldText(postnr, "pst_by") : std::string();
    postnr.SetOrderToTag(oldTag);
    data_.GotoRecNo(postnr, oldRec);
    band.Label("QRLKundeNavn").Caption =
        FieldText(kunde, "mak_enavn") + " " + FieldText(kunde, "mak_fnavn");
    for (const char* f : {"mak_adr1", "mak_adr2", "mak_att"})
        band.Label(f).Caption = FieldText(kunde, f);
    band.Label("QRLPostnrBy").Caption = pstNr + "  " + pstBy;
    band.Label("sags_bem").Caption = FieldText(data_.SagsDbf, "sags_bem");
}

void TFakKopiForm::QRGPostHovedBeforePrint(bool& printBand) {
    printBand = rap_->PageNumber() != headerPage_;
    if (printBand) headerPage_ = rap_->PageNumber();
}

void TFakKopiForm::QRSPosterBeforePrint(TQRBand& band) {
    TzDs::TTzDbf& post = data_.PostDbf;
    // An amount no money count can hold counts as 0 (the user is told which).
    auto money = [&](const char* f) { return kj::StoredMoney(post.FieldByName(f)); };
    const InvoiceLineAmounts a = InvoiceLine(
        post.FieldByName("post_dk").AsString() == "K", money("post_antal"), money("post_pris"),
        money("post_rabat"), post.FieldByName("post_moms").AsFloat());
    if (!a.fits) kj::TellTotalTooLarge(post.FieldByName("Total"));  // counted as 0
    kj::AddMoney(sumNet_, a.net);
    kj::AddMoney(sumVat_, a.vat);
    kj::AddMoney(sumGross_, a.gross);
    band.Label("post_bem").Caption = FieldText(post, "post_bem");
    for (const char* f : {"post_antal", "post_pris", "post_rabat"})
        band.Label(f).Caption = MaskText(money(f));
    band.Label("QRLPostIalt").Caption = Amount(a.net);
    // Look ahead: the totals follow the case's last posting.
    const int32_t recNo = post.s_RecNo();
    post.Next();
    const bool same = !post.Eof() &&
                      TzUtils::AnsiUpper(FieldText(post, "post_sag")) == TzUtils::TrimRight(sagnr_);
    QRCPoster->Enabled = !same;
    QRCPostTotal->Enabled = !same;
    data_.GotoRecNo(post, recNo);
}

void TFakKopiForm::QRCPosterBeforePrint(TQRBand& band) {
    band.Label("QRLSumNet").Caption = Amount(sumNet_);
    band.Label("QRLSumMoms").Caption = Amount(sumVat_);
}

}  // namespace kjrep
