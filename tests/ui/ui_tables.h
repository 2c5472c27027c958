// Real tables for the widget tests: a fresh engine state and a temporary folder, and a small
// staff table (INI C5, NAVN C20, ANTAL N5, OK L, DK C1, RET C5) made through TTzDbf.
#pragma once

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "data/tz_dbf.h"
#include "data/tz_messages.h"
#include "index/tz_engine.h"
#include "storage/dbf4.h"
#include "storage/tz_common.h"

namespace kjuitest {

// The engine at start-up; the message and progress routes stay as the test installed them.
inline void ResetEngine() {
    TzEngine::Reset();
    TzCommon::SetErrorChecking(0);
    TzDs::ApplyFormatSettingsToEngine();
}

struct Row {
    const char* ini;
    const char* navn;
    int antal;
    bool ok;
};

class Tables {
  public:
    Tables() { ResetEngine(); }
    ~Tables() { Dbf4::CloseAll(); }
    std::string Path(const std::string& name) const {
        return dir_.filePath(QString::fromStdString(name)).toStdString();
    }

    // Opens (creating it) the staff table with an index on UPPER(INI), rows in that order.
    std::unique_ptr<TzDs::TTzDbf> Staff(const std::string& file, const std::vector<Row>& rows) {
        auto t = std::make_unique<TzDs::TTzDbf>(file.substr(0, file.find('.')) + "Dbf");
        t->SetDbfFileName(Path(file));
        t->DbfFields() = {"ini, C, 5, 0", "navn, C, 20, 0", "antal, N, 5, 0",
                          "ok, L, 1, 0",  "dk, C, 1, 0",    "ret, C, 5, 0"};
        t->IndexList() = {"INI,F,F,UPPER(INI)", ""};
        t->HideDeletedRecs = true;
        t->Open();
        for (const Row& r : rows) {
            t->Append();
            t->FieldByName("ini").SetAsString(r.ini);
            t->FieldByName("navn").SetAsString(r.navn);
            t->FieldByName("antal").SetAsInteger(r.antal);
            t->FieldByName("ok").SetAsBoolean(r.ok);
            t->FieldByName("ret").SetAsString(r.ok ? "True" : "False");
            t->Post();
        }
        t->First();
        return t;
    }

    // The values of one field in the table's order, read through a second component.
    std::vector<std::string> Column(const std::string& file, const std::string& field) {
        TzDs::TTzDbf t("Reader");
        t.SetDbfFileName(Path(file));
        t.HideDeletedRecs = true;
        t.Open();
        t.SetOrderToTag("");  // natural order: rows as the file holds them
        std::vector<std::string> out;
        for (t.First(); !t.Eof(); t.Next()) out.push_back(t.FieldByName(field).AsString());
        t.Close();
        return out;
    }

  private:
    QTemporaryDir dir_;
};

inline const std::vector<Row> kStaff = {
    {"AB", "Anna Berg", 1, true},  {"CD", "Carl Dahl", 2, false}, {"EF", "Eva Fisker", 3, true},
    {"GH", "Gert Holm", 4, false}, {"IJ", "Ida Juhl", 5, true},
};

}  // namespace kjuitest
