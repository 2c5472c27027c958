// The window "Sagstype standard hændelser": the case types of "StdSagsType.dbs" in a list
// whose names can be edited in place, and per type its standard events (the section of the
// type in "HandForSagsType.dbs", keys 1, 2, ...) in a grid whose cells are edited in a
// combo box offering the lines of "StdHand.dbs". The events file is held in memory while
// the window is open and written, with the type list, only when it closes with OK.
// File formats: lines end in CR LF, Windows-1252; "HandForSagsType.dbs" is an INI file with
// one section per type. GUI thread, modal.
#pragma once

#include <QDialog>
#include <QStringList>
#include <memory>
#include <string>

#include "ui/ini_file.h"

class QLabel;
class QPushButton;
class QStatusBar;
class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace kj {

class THandForSagsType : public QDialog {
  public:
    THandForSagsType();
    ~THandForSagsType() override;

    QTreeWidget* edtSagsTyper;
    QTableWidget* edtHandForSagsType;
    QPushButton* OKBtn;
    QPushButton* SlutBtn;
    QLabel* Help;
    QStatusBar* Status;

    void InitGrid();
    void LoadCaseTypes(const std::string& fileName);
    void OpenTypeEvents(const std::string& fileName);
    void LoadStdEvents(const std::string& fileName);
    bool ShowDialog();
    void StoreTypeEvents();
    void ShowTypeEvents();
    void SaveAll();

    // The grid's rows are numbered from 1 (the titles are the header).
    int EventRows() const;
    QString EventText(int row) const;
    void SetEventText(int row, const QString& text);
    void AddEventRow();
    // Moves the cell being edited one row up or down (a new row below the last one).
    void MoveEditRow(int step);

    std::string CurrentType;
    QStringList StdEvents;
    std::unique_ptr<kjqt::TMemIniFile> Ini;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void edtSagsTyperClick();
    void edtSagsTyperEdited(QTreeWidgetItem* item);
    bool edtSagsTyperKeyDown(QKeyEvent& event);
    bool edtHandForSagsTypeKeyDown(QKeyEvent& event);

    std::string caseTypeFile_, stdEventFile_, typeEventFile_;
    bool loading_ = false;
};

namespace KJHandForSagsType {
// The whole edit: loads the three files, shows the window, saves on OK.
void Execute();
}  // namespace KJHandForSagsType

// The lines of a list file (CR LF, LF or CR line ends; a last line break adds no line);
// false when it cannot be read.
bool LoadListFile(const std::string& fileName, std::vector<std::string>& lines);

}  // namespace kj
