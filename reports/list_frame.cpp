#include "reports/list_frame.h"

#include <QLabel>
#include <QVBoxLayout>

#include "data/tz_dbf.h"
#include "reports/preview_form.h"
#include "reports/report_util.h"
#include "ui/dialog_service.h"

namespace kjrep {

namespace {
const int32_t kRuleHeight = 300;
}  // namespace

TListForm::TListForm(const std::string& fileName, const char* caption, const char* topText,
                     QWidget* parent)
    : TReportWindow(fileName, QString::fromUtf8(caption), parent) {
    auto* text = new QLabel(QString::fromUtf8(topText), this);
    text->setWordWrap(true);
    Body->addWidget(text);
}

bool TListForm::PrintTable(TPreviewForm& form, TzDs::TTzDbf& table, TSkrivListe& line,
                           const std::function<void()>& pageHead) {
    table.First();
    if (table.Eof()) return false;
    SetPaperFromSetup(form);
    form.OnNewReportPage = pageHead;
    form.StartReport();
    {
        TIndexReadRun reading({&table});
        for (; !table.Eof(); table.Next()) {
            form.PrintFields(line);
            LetMessagesThrough();
        }
    }
    form.FinishReport();
    form.OnNewReportPage = nullptr;
    return true;
}

void TListForm::PrintSimpleList(TPreviewForm& form, TzDs::TTzDbf& table,
                                const std::vector<TListKey>& keys, const char* emptyMessage,
                                bool secondRule) {
    TSkrivListe hoved, linje, kolonner;
    {
        const TLayoutReader layout(Variants);
        layout.PageHead(hoved);
        for (const TListKey& k : keys)
            layout.Item(k.key, k.def, &table.FieldByName(k.field), &kolonner, &linje);
    }
    auto head = [&] {
        form.NewReportPage(false);
        form.PrintFields(hoved);
        form.PrintRule(0, form.UsableWidth, kRuleHeight, {});
        form.PrintFields(kolonner);
        if (secondRule) form.PrintRule(0, form.UsableWidth, kRuleHeight, {});
    };
    if (!PrintTable(form, table, linje, head) && emptyMessage)
        kjqt::DialogService::Instance().ShowMessage(QString::fromUtf8(emptyMessage));
}

}  // namespace kjrep
