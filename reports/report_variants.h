// The variants of a report-layout file and the frame every report window shares: the
// " Rapport " list of variants, the page set-up of the chosen variant, the buttons "Vis",
// "Udskriv", " Side/Printer opsætning " and "Slut", and the write-back of the last variant,
// its options and its page set-up when the window closes. GUI thread only.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "reports/skriv_felt.h"

class QComboBox;
class QPushButton;

namespace kjqt {
class TMemIniFile;
}

namespace kjrep {

class TReportVariants {
  public:
    // Writes the file from its resource first when it is missing (throws when it cannot).
    explicit TReportVariants(const std::string& fileName);

    const std::string& Path() const { return path_; }
    // "key=value" lines of the section "Rapporter", in file order.
    const std::vector<std::string>& Lines() const { return lines_; }
    std::string RapportNr;  // the current variant's section name

    // The report's own option keys, read with every variant and written on closing.
    std::function<void(kjqt::TMemIniFile&, const std::string&section)> ReadOptions, WriteOptions;

    // Reads the variant list, "Nr" of "SidstValgt" (default "1") and that variant.
    void Open();
    // The key part of a list line becomes the current variant and is read; false when blank.
    bool Pick(const std::string& line);
    // Options, margins, paper and orientation of the current variant into the page set-up.
    // An unlisted paper code (or a user size without a size) prints on A4 and says so; the
    // code itself stays as it was, in the set-up and in the file.
    void ReadVariant();
    // Writes "Nr", the options, "Margin", "Papir", "PapirStørrelse", "PapirOrientering".
    bool Close();
    // The layout line of an item key in the current variant, or its built-in default.
    std::string ReadLine(const std::string& key, const std::string& def) const;
    // ParseLayoutLine over ReadLine.
    void ParseItem(const std::string& key, const std::string& def, Db::TField* field,
                   TSkrivListe* captionList, TSkrivListe* dataList) const;
    int IndexOfVariant() const;  // the line of RapportNr, -1 when none

  private:
    std::string path_;
    std::vector<std::string> lines_;
    std::string paperText_;  // "Papir" as read, written back while the code is unchanged
    int paperCodeRead_ = 0;
};

// The layout keys of a variant, its file read once for one layout read (the keys a report
// reads before it prints).
class TLayoutReader {
  public:
    // The current variant of variants, as the file holds it now.
    explicit TLayoutReader(const TReportVariants& variants);
    ~TLayoutReader();
    TLayoutReader(const TLayoutReader&) = delete;
    TLayoutReader& operator=(const TLayoutReader&) = delete;

    // The layout line of an item key, or its built-in default (Windows-1252 texts).
    std::string Line(const std::string& key, const std::string& def) const;
    // ParseLayoutLine over Line, key and default given in UTF-8.
    void Item(const char* key, const char* def, Db::TField* field, TSkrivListe* captionList,
              TSkrivListe* dataList) const;
    // The page head keys "Titel", "Titel1", "Titel2", "Side" and "Dato" into head.
    void PageHead(TSkrivListe& head) const;

  private:
    std::unique_ptr<kjqt::TMemIniFile> ini_;
    std::string section_;
};

class TReportFrame : public QWidget {
  public:
    TReportFrame(TReportVariants& variants, QWidget* parent = nullptr);
    QComboBox* edtRapport = nullptr;
    QPushButton* btnVis = nullptr;
    QPushButton* btnUdskriv = nullptr;
    QPushButton* btnPrinter = nullptr;
    QPushButton* btnSlut = nullptr;
    // Runs the report: preview true for "Vis", false for "Udskriv".
    std::function<void(bool preview)> OnRun;
    // Called after another variant was read (the window updates its option controls).
    std::function<void()> OnVariantRead;
    void FillVariants();
    void edtRapportClick();

  private:
    TReportVariants& variants_;
};

}  // namespace kjrep
