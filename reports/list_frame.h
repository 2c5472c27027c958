// What the four register lists share (employees, items, customers, postal codes): the text
// at the top, the page head keys, the body keys of one table read into a column-head list
// and a line list, and the loop that prints one line per record with a page-head routine
// on every page. GUI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "reports/report_window.h"

namespace TzDs {
class TTzDbf;
}

namespace kjrep {

// One body key: the layout key, the bound field's name and the built-in default line.
struct TListKey {
    const char* key;
    const char* field;
    const char* def;  // UTF-8
};

class TListForm : public TReportWindow {
  public:
    TListForm(const std::string& fileName, const char* caption, const char* topText,
              QWidget* parent);

  protected:
    // Prints one line per record of table from its first one, with pageHead at the top of
    // every page; false (no document) when the table is empty.
    bool PrintTable(TPreviewForm& form, TzDs::TTzDbf& table, TSkrivListe& line,
                    const std::function<void()>& pageHead);
    // The employee, customer and postal-code list: head, columns, one line per record.
    void PrintSimpleList(TPreviewForm& form, TzDs::TTzDbf& table, const std::vector<TListKey>& keys,
                         const char* emptyMessage, bool secondRule);
};

}  // namespace kjrep
