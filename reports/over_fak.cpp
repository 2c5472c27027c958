#include "reports/over_fak.h"

#include <QButtonGroup>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/kj_data.h"
#include "app/kj_util.h"
#include "app/qel_com.h"
#include "data/db_format.h"
#include "data/db_types.h"
#include "reports/invoice_amounts.h"
#include "reports/invoice_rows.h"
#include "reports/report_util.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"
#include "ui/tmv_fil.h"

namespace kjrep {

namespace {

constexpr size_t kDateWidth = 10, kTextWidth = 40, kAccountWidth = 16, kAmountWidth = 15;
constexpr int64_t kMinVat = 100;  // 0.01 in ten-thousandths

const char kNoFile[] = "Vælg eller indtast et filnavn";
const char kNoType[] = "Vælg filtype for de overførte posteringer";
const char kDone[] = "Posteringer er overført !!!";
const char kNotMarked[] =
    "Overførselsfilen blev ikke skrevet færdig.\r\nIngen posteringer er markeret som overført.";
const char kOldKept[] = "\r\nDen hidtidige overførselsfil er uændret.";
const char* const kFilters[] = {"ascii og kommasepareret fil (*.txt)", "excell regneark (*.xls)",
                                "windows metafile (*.wmf *.emf)",
                                "HTML dokument (*.htm *.html *.xml)", "rich tekst format (*.rtf)"};

// The file dialog's filters with the one of the file type first, so the dialog starts with it
// (the filter index of the type: 4 for HTML, 2 for a spreadsheet, 3 for a metafile, 5 for rich
// text, else 1).
QString FileFilter(int type) {
    int index = 1;
    switch (type) {
        case etHtml:
            index = 4;
            break;
        case 3:
            index = 2;
            break;
        case 4:
            index = 3;
            break;
        case 5:
            index = 5;
            break;
        default:
            break;
    }
    QStringList filters{QString::fromUtf8(kFilters[index - 1])};
    for (int i = 0; i < int(std::size(kFilters)); ++i)
        if (i != index - 1) filters << QString::fromUtf8(kFilters[i]);
    return filters.join(";;");
}

std::string Escaped(const std::string& s, int type) {
    std::string out;
    for (char c : s) {
        if (type == etComma && c == '"')
            out += "\"\"";
        else if (type == etHtml && c == '&')
            out += "&amp;";
        else if (type == etHtml && c == '<')
            out += "&lt;";
        else if (type == etHtml && c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

// A text field of the line; the date goes unquoted.
std::string TextField(int type, const std::string& t, size_t width, bool first, bool quoted) {
    switch (type) {
        case etFixed:
            return t.size() >= width ? t : t + std::string(width - t.size(), ' ');
        case etComma: {
            const std::string v = Escaped(TzUtils::TrimRight(t), type);
            return (first ? "" : ",") + (quoted ? "\"" + v + "\"" : v);
        }
        default:
            return "<TD>" + Escaped(TzUtils::TrimRight(t), type);
    }
}

std::string AmountField(int type, const std::string* amount) {
    switch (type) {
        case etFixed:
            if (!amount) return std::string(kAmountWidth, ' ');
            if (amount->size() >= kAmountWidth)
                return amount->substr(amount->size() - kAmountWidth);
            return std::string(kAmountWidth - amount->size(), ' ') + *amount;
        case etComma:
            return amount ? "," + *amount : ",";
        default:
            return amount ? "<TD>" + *amount : "<TD>";
    }
}

}  // namespace

// The export file: lines written and checked, bytes counted. It takes the old file's place
// only when closed whole; otherwise the old file stays as it was.
class TExportWriter {
  public:
    ~TExportWriter() { file_.Abandon(); }
    bool Open(const std::string& name) { return file_.Rewrite(name); }
    bool Line(const std::string& line) {
        if (!file_.WriteLine(line)) return false;
        bytes_ += int64_t(line.size()) + 2;
        return true;
    }
    // Put in place when `whole`, and then true when its length on disk is what was
    // written; else left, the old file kept.
    bool Close(bool whole) {
        if (!whole) {
            file_.Abandon();
            return false;
        }
        const std::string name = file_.Name();
        file_.Close();
        return QFileInfo(kjqt::FromAnsi(kj::NativePath(name))).size() == bytes_;
    }

  private:
    kjqt::TMVFil file_;
    int64_t bytes_ = 0;
};

std::vector<std::string> ExportLines(int type, const TExportPosting& p, const std::string& contra,
                                     const std::string& vatAccount, bool first) {
    const std::string n = AmountText(p.net, '.'), v = AmountText(p.vat, '.');
    const std::string N = AmountField(type, &n), V = AmountField(type, &v),
                      E = AmountField(type, nullptr);
    const std::string head = TextField(type, p.date, kDateWidth, true, false) +
                             TextField(type, p.text, kTextWidth, false, true);
    auto account = [&](const std::string& a) {
        return TextField(type, a.substr(0, kAccountWidth), kAccountWidth, false, true);
    };
    std::vector<std::string> lines = {head + account(p.account) + (p.credit ? E + N : N + E),
                                      head + account(contra) + (p.credit ? N + E : E + N),
                                      head + account(vatAccount) + (p.credit ? E + V : V + E),
                                      head + account(contra) + (p.credit ? V + E : E + V)};
    if (type == etHtml)
        for (size_t i = first ? 1 : 0; i < lines.size(); ++i) lines[i] = "<TR>" + lines[i];
    if (p.vat > -kMinVat && p.vat < kMinVat) lines[2] = lines[3] = "";
    if (TzUtils::TrimRight(vatAccount).empty()) lines[2] = lines[3] = "";
    if (TzUtils::TrimRight(contra).empty()) lines[1] = "";
    return lines;
}

int FileTypeOfExtension(const std::string& extension, int current) {
    const std::string e = TzUtils::AnsiUpper(TzUtils::TrimRight(extension));
    if (e == ".TXT") return current < 0 ? etComma : current;
    if (e == ".XLS") return 3;
    if (e == ".WMF" || e == ".EMF") return 4;
    if (e == ".RTF") return 5;
    if (e == ".HTM" || e == ".HTML" || e == ".XML") return etHtml;
    return etFixed;
}

std::string ExtensionForType(int type) {
    switch (type) {
        case etHtml:
            return ".html";
        case 3:
            return ".xls";
        case 4:
            return ".wmf";
        case 5:
            return ".rtf";
        default:
            return ".txt";
    }
}

// ---- The window ------------------------------------------------------------------------------

TOverFak::TOverFak(kj::TKJData& data, QWidget* parent) : QDialog(parent), data_(data) {
    setWindowTitle(QString::fromUtf8("Overfør posteringer"));
    setMinimumWidth(520);
    auto* all = new QVBoxLayout(this);
    auto* fileBox = new QGroupBox(QStringLiteral(" Filnavn "), this);
    auto* fl = new QHBoxLayout(fileBox);
    EdtFilnavn = new QLineEdit(fileBox);
    EdtFilnavnBtn = new QPushButton(QStringLiteral(".."), fileBox);
    EdtFilnavnBtn->setFixedWidth(EdtFilnavnBtn->fontMetrics().horizontalAdvance("....") + 16);
    fl->addWidget(EdtFilnavn, 1);
    fl->addWidget(EdtFilnavnBtn);
    all->addWidget(fileBox);
    auto account = [&](const char* caption) {
        auto* box = new QGroupBox(QString::fromUtf8(caption), this);
        auto* l = new QHBoxLayout(box);
        auto* edit = new QLineEdit(box);
        edit->setMaxLength(int(kAccountWidth));
        l->addWidget(edit);
        all->addWidget(box);
        return edit;
    };
    edtModKonto = account(" Kontonr. for modkonto  ");
    edtMomsKonto = account(" Kontonr. for momskonto  ");
    auto* types = new QGroupBox(QStringLiteral("  Filtype  "), this);
    auto* tl = new QVBoxLayout(types);
    rgFiltype = new QButtonGroup(this);
    const char* captions[3] = {"&1 Som ASCII-fil ", "&2 Som komma separeret Ascii-fil",
                               "&3 Som HTML dokument"};
    for (int i = 0; i < 3; ++i) {
        rbType[i] = new QRadioButton(QString::fromUtf8(captions[i]), types);
        rgFiltype->addButton(rbType[i], i);
        tl->addWidget(rbType[i]);
    }
    all->addWidget(types);
    auto* buttons = new QHBoxLayout;
    btnVis = new QPushButton(QString::fromUtf8("Overfør"), this);
    btnSlut = new QPushButton(QStringLiteral("Slut"), this);
    buttons->addWidget(btnVis);
    buttons->addWidget(btnSlut);
    all->addLayout(buttons);
    connect(rgFiltype, &QButtonGroup::idClicked, this, [this](int id) { fileType_ = id; });
    connect(EdtFilnavnBtn, &QPushButton::clicked, this, [this] { EdtFilnavnBtnClick(); });
    connect(btnVis, &QPushButton::clicked, this, [this] { btnVisClick(); });
    connect(btnSlut, &QPushButton::clicked, this, &QDialog::reject);
    const kj::TQelCom* q = kj::QelCom();
    EdtFilnavn->setText(kjqt::FromAnsi((q ? kj::WithDelim(q->SagsDataSti) : "") + "Export.txt"));
    SetFileType(etFixed);
}

void TOverFak::SetFileType(int type) {
    fileType_ = type;
    // Types 3 to 5 (from the file dialog) show no choice: the export refuses them.
    rgFiltype->setExclusive(false);
    for (int i = 0; i < 3; ++i) rbType[i]->setChecked(i == type);
    rgFiltype->setExclusive(true);
}

void TOverFak::EdtFilnavnBtnClick() {
    const kj::TQelCom* q = kj::QelCom();
    const QString start = kjqt::FromAnsi(q ? kj::NativePath(q->SagsDataSti) : std::string());
    const QString chosen = kjqt::DialogService::Instance().OpenFile(
        QString::fromUtf8("Vælg fil/Indtast filnavn"), start, FileFilter(fileType_));
    if (chosen.isEmpty()) return;
    std::string name = kjqt::ToAnsi(chosen);
    const QString suffix = QFileInfo(chosen).suffix();
    if (suffix.isEmpty()) {
        name += ExtensionForType(fileType_);
    } else {
        SetFileType(FileTypeOfExtension("." + kjqt::ToAnsi(suffix), fileType_));
    }
    EdtFilnavn->setText(kjqt::FromAnsi(name));
}

bool TOverFak::Confirmed(const std::string& file) {
    if (!QFileInfo::exists(kjqt::FromAnsi(kj::NativePath(file)))) return true;
    const QString text = QString::fromUtf8("Overførselsfilen \"") + kjqt::FromAnsi(file) +
                         QString::fromUtf8(
                             "\" findes i forvejen\r\nSkal den overskrives ?\r\nHvis overførte "
                             "posteringer ikke er indlæst i regnskabet, vælg [Nej]");
    return kjqt::DialogService::Instance().YesNo(text, QStringLiteral("Bekræft"));
}

// The posting's export values; false when the posting is not exported.
bool TOverFak::ReadPosting(TExportPosting& p) {
    TzDs::TTzDbf& post = data_.PostDbf;
    TzDs::TTzDbf& vare = data_.VareDbf;
    if (post.FieldByName("post_over").AsBoolean() || FieldText(post, "post_fnr").empty())
        return false;
    // Each item is searched once per export; its account is remembered ("" when none).
    const std::string key = TzUtils::PadRightOrCut(post.FieldByName("post_tmu").AsString(), 10);
    auto known = accounts_.find(key);
    if (known == accounts_.end()) {
        const std::string account = vare.FindExact(key) ? FieldText(vare, "tmu_konto") : "";
        known = accounts_.emplace(key, account).first;
    }
    p.account = known->second;
    if (p.account.empty()) return false;
    // An amount no money count can hold counts as 0 (the user is told which).
    auto cur = [&](const char* f) { return kj::StoredMoney(post.FieldByName(f)); };
    const ExportAmounts a = ExportLine(cur("post_antal"), cur("post_pris"), cur("post_rabat"),
                                       post.FieldByName("post_moms").AsFloat());
    if (!a.fits) kj::TellTotalTooLarge(post.FieldByName("Total"));  // counted as 0
    p.net = a.net;
    p.vat = a.vat;
    p.date = post.FieldByName("post_dato").AsString();
    p.text = FieldText(post, "post_bem");
    p.credit = post.FieldByName("post_dk").AsString() == "K";
    return true;
}

bool TOverFak::WritePostings(TExportWriter& out, std::vector<int32_t>& written) {
    TzDs::TTzDbf& post = data_.PostDbf;
    const std::string contra = kjqt::ToAnsi(edtModKonto->text());
    const std::string vatAccount = kjqt::ToAnsi(edtMomsKonto->text());
    int row = 0;
    // Read only: the postings and items are read under one count each for the whole walk.
    TIndexReadRun reading({&post, &data_.VareDbf});
    for (post.First(); !post.Eof(); post.Next()) {
        LetMessagesThrough();
        ProgressStepHeld(++row);
        TExportPosting p;
        if (!ReadPosting(p)) continue;
        for (const std::string& line :
             ExportLines(fileType_, p, contra, vatAccount, written.empty()))
            if (!TzUtils::TrimRight(line).empty() && !out.Line(line)) return false;
        written.push_back(post.s_RecNo());
    }
    return true;
}

void TOverFak::Mark(const std::vector<int32_t>& written) {
    TzDs::TTzDbf& post = data_.PostDbf;
    TBeforePostPause pause(post);
    // In record order: no index work for a field that is in no key.
    post.SetOrderToTag("");
    int row = 0;
    for (int32_t recNo : written) {
        kj::ProgressStep(++row);
        post.Go(recNo);  // a row of this run's walk
        EditLocked(post);
        // Read as locked: another station may have marked it meanwhile.
        if (post.FieldByName("post_over").AsBoolean()) {
            CancelLocked(post);
            continue;
        }
        try {
            post.FieldByName("post_over").SetAsBoolean(true);
            post.Post();
        } catch (...) {
            if (post.State() == Db::dsEdit) CancelLocked(post);
            throw;
        }
    }
}

// The lines of the export: the HTML frame when asked for and every posting to export.
bool TOverFak::WriteFile(TExportWriter& out, std::vector<int32_t>& written) {
    TzDs::TTzDbf& post = data_.PostDbf;
    post.SetFilterTo("");
    data_.VareDbf.SetFilterTo("");
    post.SetOrderToTag("postsag");
    data_.VareDbf.SetOrderToTag("vare");
    kj::ProgressOpen(kjqt::ToAnsi(windowTitle()), {}, post.RecCount());
    struct Closer {
        ~Closer() { kj::ProgressClose(); }
    } closer;
    accounts_.clear();
    bool ok =
        fileType_ != etHtml || (out.Line("<HTML>") && out.Line("<TABLE BORDER=1 WIDTH=100%>"));
    ok = ok && WritePostings(out, written);
    return ok && (fileType_ != etHtml || (out.Line("</TABLE>") && out.Line("</HTML>")));
}

void TOverFak::btnVisClick() {
    const std::string file = TzUtils::TrimRight(kjqt::ToAnsi(EdtFilnavn->text()));
    if (file.empty()) return Message(kNoFile, EdtFilnavn);
    if (fileType_ < etFixed || fileType_ > etHtml) return Message(kNoType, rbType[0]);
    if (!Confirmed(file)) return;
    // An old file is replaced only by a whole export; the user is told that it stayed.
    const bool existed = QFileInfo(kjqt::FromAnsi(kj::NativePath(file))).isFile();
    const std::string notWritten = std::string(kNotMarked) + (existed ? kOldKept : "");
    TBusyCursor busy;
    busy.Set(true);
    TExportWriter out;
    if (!out.Open(file)) return Message(notWritten.c_str());
    std::vector<int32_t> written;
    bool whole = false;
    try {
        whole = WriteFile(out, written);
    } catch (const Db::EAbort&) {  // the silent abort: told already, or nothing to tell
        out.Close(false);
        return Message(notWritten.c_str());
    } catch (const std::exception& e) {  // the error's own text follows as detail
        out.Close(false);
        return Message((notWritten + "\r\n\r\n" + kjqt::FromAnsi(e.what()).toStdString()).c_str());
    }
    if (!out.Close(whole)) return Message(notWritten.c_str());
    std::sort(written.begin(), written.end());
    Mark(written);
    data_.PostDbf.SetOrderToTag("postsag");
    data_.PostDbf.First();
    busy.Set(false);
    Message(kDone);
}

void RunTransfer() {
    kj::TKJData* data = kj::KJData();
    if (!data) return;
    TBusyCursor busy;
    busy.Set(true);
    TOverFak form(*data, kj::MainWindow());
    busy.Set(false);
    form.exec();
}

}  // namespace kjrep
