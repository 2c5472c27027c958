#include "reports/report_wiring.h"

#include <QPageLayout>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>

#include "app/kj_data.h"
#include "app/kj_menu.h"
#include "app/kj_util.h"
#include "app/qel_com.h"
#include "reports/aktive_sager.h"
#include "reports/fak_kopi.h"
#include "reports/list_bruger.h"
#include "reports/list_kunde.h"
#include "reports/list_post.h"
#include "reports/list_postnr.h"
#include "reports/list_varer.h"
#include "reports/over_fak.h"
#include "reports/paper_sizes.h"
#include "reports/preview_form.h"
#include "reports/report_host.h"
#include "reports/report_util.h"
#include "reports/ude_rap.h"

namespace kjrep {

namespace {

struct WiringState {
    std::function<kj::TKJData*()> data;
    std::function<kj::TQelCom*()> qelCom;
    TPageSetup setup;
    QPointer<TPreviewForm> preview;  // a child of the main window when there is one
    TPreviewForm* made = nullptr;    // the last one made here (may be gone)
};
WiringState& State() {
    static WiringState state;
    return state;
}

kj::TKJData* Data() {
    return State().data ? State().data() : nullptr;
}

kj::TQelCom* Qel() {
    return State().qelCom ? State().qelCom() : nullptr;
}

// The system's print dialog for the printer the reports print on; the chosen paper and
// orientation become the page set-up. Without a printer (or printing to a PDF file) there
// is nothing to set up.
bool ExecutePrintDialog() {
    QPrinterInfo info = QPrinterInfo::defaultPrinter();
    if (info.isNull() || !qEnvironmentVariable("KJ_PRINT_PDF").isEmpty()) return false;
    QPrinter printer(info, QPrinter::HighResolution);
    TPageSetup& setup = PageSetup();
    printer.setPageOrientation(setup.Orientation ? QPageLayout::Landscape : QPageLayout::Portrait);
    QPrintDialog dialog(&printer, kj::MainWindow());
    if (dialog.exec() != QDialog::Accepted) return false;
    const QPageSize size = printer.pageLayout().pageSize();
    const int code = size.windowsId();  // the DMPAPER numbering; 256 for a size of its own
    setup.PaperCode = static_cast<int16_t>(code > 0 && code < 32768 ? code : kPaperUser);
    QSizeF mm = size.size(QPageSize::Millimeter);
    setup.PaperWidth = static_cast<int32_t>(mm.width() * 100);
    setup.PaperHeight = static_cast<int32_t>(mm.height() * 100);
    setup.Orientation = printer.pageLayout().orientation() == QPageLayout::Landscape ? 1 : 0;
    return true;
}

}  // namespace

void InstallReportHost(std::function<kj::TKJData*()> data, std::function<kj::TQelCom*()> qelCom) {
    WiringState& s = State();
    s.data = std::move(data);
    s.qelCom = std::move(qelCom);
    ReportHost& host = Host();
    host.PageSetup = &s.setup;
    host.Folder = [] {
        kj::TQelCom* q = Qel();
        return q ? kj::NativePath(kj::WithDelim(TrimRight(q->Zorbo1Sti))) : std::string();
    };
    host.FirmName = [] {
        kj::TQelCom* q = Qel();
        return q ? TrimRight(q->FirmName) : std::string();
    };
    host.FirmAddress = [] {
        kj::TQelCom* q = Qel();
        return q ? TrimRight(q->FirmAddress) : std::string();
    };
    host.ExecutePrintDialog = ExecutePrintDialog;
    LoadPageSetup();
}

TPreviewForm& PreviewForm() {
    WiringState& s = State();
    // A window given by someone else stays theirs; one of ours may have gone with its parent.
    if (Host().Preview && Host().Preview != s.made) return *Host().Preview;
    if (!s.preview) s.preview = new TPreviewForm(kj::MainWindow());
    s.made = s.preview.data();
    Host().Preview = s.made;
    return *s.preview;
}

void FreePreviewForm() {
    WiringState& s = State();
    if (Host().Preview == s.made) Host().Preview = nullptr;
    delete s.preview.data();
    s.made = nullptr;
}

void LoadPageSetup() {
    kj::TKJData* d = Data();
    if (!d) return;
    TPageSetup& setup = PageSetup();
    for (int i = 0; i < 4; ++i) {
        setup.Margins[i] = d->Margins[i];
        setup.MinMargins[i] = d->MinMargins[i];
    }
    setup.Orientation = d->Orientation;
}

void StorePageSetup() {
    kj::TKJData* d = Data();
    if (!d) return;
    const TPageSetup& setup = PageSetup();
    for (int i = 0; i < 4; ++i) d->Margins[i] = setup.Margins[i];
    d->Orientation = setup.Orientation;
}

const std::vector<ReportEntry>& ReportEntries() {
    static const std::vector<ReportEntry> entries = {
        {"Udskriv aktive sager", RunActiveCasesReport},
        {"Liste over posteringer", RunEmployeePostingsReport},
        {"Udestående på sager", RunOutstandingReport},
        {"Liste over medarbejdere", ShowListBrugerForm},
        {"Liste over varer", ShowListVarerForm},
        {"Liste over kunder", ShowListKundeForm},
        {"Liste over postnr. / bynavne", ShowListPostnrForm},
    };
    return entries;
}

std::function<void()> ReportEntryOf(const std::string& menuText) {
    for (const ReportEntry& e : ReportEntries())
        if (e.menuText == menuText) return e.run;
    return {};
}

void InstallReportEntries() {
    InstallReportHost([] { return kj::KJData(); }, [] { return kj::QelCom(); });
    using kj::MenuItem;
    kj::TMenuDispatch& menu = kj::MainMenu();
    menu.Slot(MenuItem::MPASag) = RunActiveCasesReport;
    menu.Slot(MenuItem::MPUdeRap) = RunOutstandingReport;
    menu.Slot(MenuItem::MPFakKopi) = ShowFakKopi;
    menu.Slot(MenuItem::MPOverFak) = RunTransfer;
    menu.Slot(MenuItem::MPListPost) = RunEmployeePostingsReport;
    menu.Slot(MenuItem::MPListBruger) = ShowListBrugerForm;
    menu.Slot(MenuItem::MPListVarer) = ShowListVarerForm;
    menu.Slot(MenuItem::MPListKunde) = ShowListKundeForm;
    menu.Slot(MenuItem::MPListPostnr) = ShowListPostnrForm;
}

}  // namespace kjrep
