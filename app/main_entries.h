// Entry points of the windows the main window opens but does not own: the registers, the
// password dialog and the menu commands whose windows live in other units. Those units (or
// the program's main) fill the table before the main window is shown; an entry that is empty
// does nothing. GUI thread; one table per process.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QWidget;

namespace kj {

struct TMainEntries {
    // The employee and customer registers (a non-blank key starts a new record carrying it).
    std::function<void(int32_t recNo, const std::string& key)> ShowBrugerForm;
    std::function<void(int32_t recNo, const std::string& key)> ShowKundeForm;
    // The password dialog: true when OK was pressed and the typed text equals expected.
    std::function<bool(QWidget* owner, const std::string& expected)> AskPassword;
    // The pickers: a date from a start date; initials, a standard event line or an item
    // number from the current text (empty on cancel).
    std::function<double(double start)> PlukDato;
    std::function<std::string(const std::string&)> PlukBruger, PlukStatus, PlukVare;
    // The small modal text window (TVisData) with these lines.
    std::function<void(QWidget* owner, const std::vector<std::string>& lines)> ShowVisData;
    // Menu commands by the menu item's object name (e.g. "MenuMedarbejdere"); the main
    // window runs them between SuspendData and ResumeData.
    std::map<std::string, std::function<void()>> MenuCommands;
};

TMainEntries& MainEntries();

}  // namespace kj
