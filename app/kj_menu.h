// The main menu's dispatch: every menu item that opens a window runs through
// MenuPunktClick, which suspends the main window's hold on the tables, opens the window
// modally through the item's entry point and resumes (also when the window raised). The
// maintenance commands "Genskab indeks", "Fjern slettede poster", "Siden sidst" and
// "Afslut" are here too. The main window connects its menu to these; the units that own
// the windows (registers, reports) fill in the entry points at start-up. GUI thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kj {

enum class MenuItem {
    MPBruger,
    MPVareG,
    MPForbrug,
    MPHandel,
    MPKunder,
    MPPostnr,
    MPHandForSagsType,
    MPPostTime,
    MPASag,
    MPUdeRap,
    MPFakKopi,
    MPOverFak,
    MPListPost,
    MPListBruger,
    MPListVarer,
    MPListKunde,
    MPListPostnr,
    MPArkiver,
    MPGendan
};

// One row of the dispatch table. `open` creates, shows modally and frees the window; an
// empty entry point makes the item do nothing.
struct MenuEntry {
    MenuItem item;
    const char* name;  // the menu item's component name
    std::function<void()> open;
};

class TMenuDispatch {
  public:
    TMenuDispatch();
    // The main window's suspend and resume steps (empty: nothing to suspend). A suspend
    // that returns false (a pending row or case the window could not settle) runs nothing.
    std::function<bool()> SuspendData;
    std::function<void()> ResumeData;
    // "Afslut": asks the application to terminate (default: closes the main window, or
    // quits the event loop when there is none).
    std::function<void()> Terminate;

    std::vector<MenuEntry>& Entries() { return entries_; }
    MenuEntry* Find(MenuItem item);
    MenuEntry* Find(const std::string& name);
    // The entry point of an item, to fill in.
    std::function<void()>& Slot(MenuItem item) { return Find(item)->open; }

    void MenuPunktClick(MenuItem item);
    void GenskabIndeksClick();
    void FjernSlettedePosterClick();
    void SidenSidstClick();
    void AfslutClick();

  private:
    // Runs `body` between SuspendData and ResumeData; ResumeData runs on every path once the
    // suspend succeeded.
    void Suspended(const std::function<void()>& body);
    std::vector<MenuEntry> entries_;
};

// The one dispatcher of the program.
TMenuDispatch& MainMenu();

}  // namespace kj
