// The invoice copy window ("Faktura kopi"): gives a case's uninvoiced postings an invoice
// number and prints the invoice (mode 0), prints again the postings of an invoice number
// (mode 1) or every posting of a case (mode 2), on the banded report FakKopiRap. Opened
// modally from the main window's menu through ShowFakKopi. GUI thread; uses the data
// module's SagsDbf, PostDbf, KundeDbf and PostnrDbf.
//
// A run (Vis or Udskriv):
//  1. Every check (numbers, case, postings, customer, a used invoice number) comes before
//     the first posting is stamped; a refusal changes nothing.
//  2. Stamping takes each posting's record lock, reads the row as locked and stamps only a
//     still-blank number of a posting still on the case.
//  3. Numbers reach the selection's expressions only as quoted literals.
//  4. However the run ends, both tables lose their selection and stand on their first row.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <cstdint>
#include <memory>
#include <string>

#include "reports/band_report.h"
#include "reports/invoice_rows.h"
#include "reports/report_util.h"
#include "reports/report_window.h"

class QButtonGroup;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kj {
class TKJData;
}

namespace kjrep {

class TFakKopiForm : public QDialog {
  public:
    explicit TFakKopiForm(kj::TKJData& data, QWidget* parent = nullptr);
    ~TFakKopiForm() override;

    QButtonGroup* rgBehandler = nullptr;
    QRadioButton* rbMode[3] = {};
    QLineEdit* edtFaknr = nullptr;
    TDropCombo* edtSagnr = nullptr;  // its list is filled on the first drop-down
    QPushButton* btnVis = nullptr;
    QPushButton* btnUdskriv = nullptr;
    QPushButton* btnSlut = nullptr;

    int Mode() const;
    void btnVisClick(bool preview);
    TQuickRep& FakKopiRap() { return *rap_; }

  private:
    enum class Pass { First, Again };
    void BuildReport();
    void BuildBands();
    bool Select(Pass pass);
    bool SelectAssign(Pass pass);
    bool SelectCopy();
    bool SelectCase();
    bool CheckCase(const std::string& sagnr, const char* message);
    bool CheckPostings(const std::string& sagnr);
    bool FindInvoice(const std::string& key, const char* message);
    bool FindCustomer();
    bool SetRange(const std::string& expression);
    bool InvoiceRange();
    void Stamp();
    void ClearSelection();
    void FillCaseList(QComboBox& box);
    void FakKopiRapBeforePrint(bool& printReport);
    void QRBHovedBeforePrint(TQRBand& band);
    void QRBSagenBeforePrint(TQRBand& band);
    void QRGPostHovedBeforePrint(bool& printBand);
    void QRSPosterBeforePrint(TQRBand& band);
    void QRCPosterBeforePrint(TQRBand& band);

    kj::TKJData& data_;
    std::unique_ptr<TQuickRep> rap_;
    std::unique_ptr<TQRBand> QRBHoved, QRBSagen, QRGPostHoved, QRSPoster, QRCPoster, QRCPostTotal;
    std::string faknr_, sagnr_, kunde_;  // padded to 16, 10 (upper-cased) and 10
    int64_t sumNet_ = 0, sumVat_ = 0, sumGross_ = 0;
    int headerPage_ = 0;
    int runFlag_ = 0;  // -1 print, 1 preview's first pass, 2 later passes
    int mode_ = 0;     // the mode of the running report
    std::unique_ptr<TBusyCursor> busy_;
};

// The menu's entry point: shows the window modally over the main window.
void ShowFakKopi();

}  // namespace kjrep
