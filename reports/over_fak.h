// The export of invoiced postings ("Overfør posteringer"): writes every invoiced posting
// not yet transferred to a text file for the accounting system, as up to four ledger
// lines per posting (fixed width, comma-separated or HTML; Windows-1252, CR LF), and marks
// each written posting as transferred. Opened modally from the main menu through
// RunTransfer. GUI thread; uses the data module's PostDbf and VareDbf.
//
// An export:
//  1. Writes and checks every line, closes the file and checks its length; only then marks
//     the written postings, each under its record lock with post_over read as locked.
//  2. A file that cannot be opened or written marks nothing and says so.
#pragma once

#include <QDialog>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class QButtonGroup;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace kj {
class TKJData;
}

namespace kjrep {

class TExportWriter;

enum TExportType { etFixed = 0, etComma = 1, etHtml = 2 };

// One posting as the export reads it (texts Windows-1252, amounts cut, in ten-thousandths).
struct TExportPosting {
    std::string date, text, account;
    bool credit = false;
    int64_t net = 0, vat = 0;
};

// The four lines of one posting (an emptied line is ""); first: the first posting written.
std::vector<std::string> ExportLines(int type, const TExportPosting& p, const std::string& contra,
                                     const std::string& vatAccount, bool first);

// The file type a chosen file's extension gives (current -1 when none is chosen), and the
// extension a name without one gets.
int FileTypeOfExtension(const std::string& extension, int current);
std::string ExtensionForType(int type);

class TOverFak : public QDialog {
  public:
    explicit TOverFak(kj::TKJData& data, QWidget* parent = nullptr);

    QLineEdit* EdtFilnavn = nullptr;
    QPushButton* EdtFilnavnBtn = nullptr;
    QLineEdit* edtModKonto = nullptr;
    QLineEdit* edtMomsKonto = nullptr;
    QButtonGroup* rgFiltype = nullptr;
    QRadioButton* rbType[3] = {};
    QPushButton* btnVis = nullptr;
    QPushButton* btnSlut = nullptr;

    int FileType() const { return fileType_; }
    void SetFileType(int type);
    void EdtFilnavnBtnClick();
    void btnVisClick();

  private:
    bool Confirmed(const std::string& file);
    bool WriteFile(TExportWriter& out, std::vector<int32_t>& written);
    bool WritePostings(TExportWriter& out, std::vector<int32_t>& written);
    bool ReadPosting(TExportPosting& p);
    void Mark(const std::vector<int32_t>& written);

    kj::TKJData& data_;
    std::map<std::string, std::string> accounts_;  // item key -> account, for one export
    int fileType_ = etFixed;  // 3 to 5 come from the file dialog only and are refused
};

// The menu's entry point: shows the window modally over the main window.
void RunTransfer();

}  // namespace kjrep
