#include "app/kj_wiring.h"

#include <map>

#include "app/bruger_form.h"
#include "app/hand_for_sags_type.h"
#include "app/kj_menu.h"
#include "app/kj_timeseddel.h"
#include "app/kunde_form.h"
#include "app/main_entries.h"
#include "app/password.h"
#include "app/pluk_forms.h"
#include "app/post_by_form.h"
#include "app/vare_g_form.h"
#include "app/vare_i_form.h"
#include "app/vis_data.h"

namespace kj {

namespace {

// A register opened from the menu shows its first row and starts no new one.
template <void (*Show)(int32_t, const std::string&)>
void OpenRegister() {
    Show(0, std::string());
}

void InstallMenuEntries() {
    TMenuDispatch& menu = MainMenu();
    menu.Slot(MenuItem::MPBruger) = OpenRegister<ShowBrugerForm>;
    menu.Slot(MenuItem::MPVareG) = OpenRegister<ShowVareGForm>;
    menu.Slot(MenuItem::MPForbrug) = OpenRegister<ShowVareIForm>;
    menu.Slot(MenuItem::MPKunder) = OpenRegister<ShowKundeForm>;
    menu.Slot(MenuItem::MPPostnr) = OpenRegister<ShowPostnrForm>;
    menu.Slot(MenuItem::MPHandForSagsType) = [] { KJHandForSagsType::Execute(); };
}

void InstallTimeSheetLinks() {
    TimeSheetLinks& links = TimeSheetLinksState();
    links.PlukSag = [] {
        std::string result;
        PlukSag(std::string(), result);
        return result;
    };
    links.PlukVare = [] {
        std::string result;
        PlukVare(std::string(), result);
        return result;
    };
    links.PlukDato = [](Db::TDateTime& date) {
        const Db::TDateTime chosen = PlukDato(date);
        if (chosen == date) return false;
        date = chosen;
        return true;
    };
    links.ShowBrugerForm = ShowBrugerForm;
    links.ShowVareIForm = ShowVareIForm;
}

// A picker as the main window calls it: the current text in, the choice out ("" on cancel).
template <void (*Pluk)(const std::string&, std::string&)>
std::string Picked(const std::string& start) {
    std::string result;
    Pluk(start, result);
    return result;
}

// The main window's menu items by object name, each run through the dispatch table's entry
// at the time of the click (the reports fill theirs before the program starts).
void InstallMainMenuCommands(TMainEntries& e) {
    static const std::map<std::string, MenuItem> kItems = {
        {"MenuMedarbejdere", MenuItem::MPBruger},
        {"MenuVaregrupper", MenuItem::MPVareG},
        {"MenuVarer", MenuItem::MPForbrug},
        {"MenuHaendelser", MenuItem::MPHandel},
        {"MenuKunder", MenuItem::MPKunder},
        {"MenuPostnr", MenuItem::MPPostnr},
        {"MenuStdHandSager", MenuItem::MPHandForSagsType},
        {"MenuTimeseddel", MenuItem::MPPostTime},
        {"MenuIgangvaerende", MenuItem::MPASag},
        {"MenuUdestaaende", MenuItem::MPUdeRap},
        {"MenuFakturaKopi", MenuItem::MPFakKopi},
        {"MenuOverfoer", MenuItem::MPOverFak},
        {"MenuListePoster", MenuItem::MPListPost},
        {"MenuListeBrugere", MenuItem::MPListBruger},
        {"MenuListeVarer", MenuItem::MPListVarer},
        {"MenuListeKunder", MenuItem::MPListKunde},
        {"MenuListePostnr", MenuItem::MPListPostnr},
        {"MenuArkiver", MenuItem::MPArkiver},
        {"MenuGendanArkiv", MenuItem::MPGendan}};
    for (const auto& [name, item] : kItems) {
        e.MenuCommands[name] = [item = item] {
            const std::function<void()>& open = MainMenu().Slot(item);
            if (open) open();
        };
    }
    e.MenuCommands["MenuGenskabIndeks"] = [] { MainMenu().GenskabIndeksClick(); };
    e.MenuCommands["MenuFjernSlettede"] = [] { MainMenu().FjernSlettedePosterClick(); };
    e.MenuCommands["MenuSidenSidst"] = [] { MainMenu().SidenSidstClick(); };
}

void InstallMainEntries() {
    TMainEntries& e = MainEntries();
    e.ShowBrugerForm = ShowBrugerForm;
    e.ShowKundeForm = ShowKundeForm;
    e.AskPassword = [](QWidget* owner, const std::string& expected) {
        TPasswordDlg dialog(owner);
        return dialog.AskPassword(expected);
    };
    e.PlukDato = [](double start) { return double(PlukDato(Db::TDateTime(start))); };
    e.PlukBruger = Picked<PlukBruger>;
    e.PlukStatus = Picked<PlukStatus>;
    e.PlukVare = Picked<PlukVare>;
    e.ShowVisData = [](QWidget* owner, const std::vector<std::string>& lines) {
        TVisData window(owner);
        for (const std::string& line : lines) window.AddLine(line);
        window.exec();
    };
    InstallMainMenuCommands(e);
}

}  // namespace

void InstallAppEntries() {
    InstallMenuEntries();
    InstallTimeSheetLinks();
    InstallMainEntries();
}

}  // namespace kj
