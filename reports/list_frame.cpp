#include "reports/list_frame.h"

#include <QLabel>
#include <QVBoxLayout>

#include "data/tz_dbf.h"
#include "reports/preview_form.h"
#include "reports/report_util.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kjrep {

namespace {
const int32_t kRuleHeight = 300;
std::string Ansi(const char* utf8) {
    return kjqt::ToAnsi(QString::fromUtf8(utf8));
}
}  // namespace

TListForm::TListForm(const std::string& fileName, const char* caption, const char* topText,
                     QWidget* parent)
    : TReportWindow(fileName, QString::fromUtf8(caption), parent) {
    auto* text = new QLabel(QString::fromUtf8(topText), this);
    text->setWordWrap(true);
    Body->addWidget(text);
}

void TListForm::ReadKey(const char* key, const char* def, Db::TField* field, TSkrivListe* caption,
                        TSkrivListe* data) const {
    Variants.ParseItem(Ansi(key), Ansi(def), field, caption, data);
}

void TListForm::ReadHead(TSkrivListe& hoved) const {
    ReadKey("Titel", "Liste;0;0;210;20;C;;;;;;", nullptr, &hoved, nullptr);
    ReadKey("Titel1", ";;;;;;;;;;;", nullptr, &hoved, nullptr);
    ReadKey("Titel2", ";;;;;;;;;;;", nullptr, &hoved, nullptr);
    ReadKey("Side", "Side &SIDE;0;0;210;8;H;;;;;;", nullptr, &hoved, nullptr);
    ReadKey("Dato", "Dato &DATO;10;0;210;8;H;;;;;;", nullptr, &hoved, nullptr);
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
    ReadHead(hoved);
    for (const TListKey& k : keys)
        ReadKey(k.key, k.def, &table.FieldByName(k.field), &kolonner, &linje);
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
