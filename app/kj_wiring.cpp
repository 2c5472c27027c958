#include "app/kj_wiring.h"

#include "app/bruger_form.h"
#include "app/hand_for_sags_type.h"
#include "app/kj_menu.h"
#include "app/kj_timeseddel.h"
#include "app/kunde_form.h"
#include "app/pluk_forms.h"
#include "app/post_by_form.h"
#include "app/vare_g_form.h"
#include "app/vare_i_form.h"

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

}  // namespace

void InstallAppEntries() {
    InstallMenuEntries();
    InstallTimeSheetLinks();
}

}  // namespace kj
