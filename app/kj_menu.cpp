// The main menu's dispatch table and maintenance commands (see kj_menu.h).
#include "app/kj_menu.h"

#include <QApplication>
#include <QFileInfo>
#include <QWidget>

#include "app/kj_arkiv.h"
#include "app/kj_data.h"
#include "app/kj_register.h"
#include "app/kj_text.h"
#include "app/kj_timeseddel.h"
#include "app/kj_util.h"
#include "app/qel_com.h"
#include "app/rediger.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "ui/application.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

const char* const kRebuildQuestion =
    "Ønsker du at genskabe alle index\r\ndet kan tage lidt tid\r\nAlle andre brugere skal "
    "afslutte\r\nMorvane Vaktor !!";
const char* const kPackQuestion =
    "Ønsker du at fjerne slettede data\r\ndet kan tage lidt tid\r\nAlle andre brugere skal "
    "afslutte\r\nMorvane Vaktor !!";

void EditStdHand() {
    Rediger::EditFile("", Ansi("Indtastning af standard hændelser"), KJData()->StdHandFileName());
}

}  // namespace

TMenuDispatch::TMenuDispatch() {
    using M = MenuItem;
    entries_ = {{M::MPBruger, "MPBruger", {}},
                {M::MPVareG, "MPVareG", {}},
                {M::MPForbrug, "MPForbrug", {}},
                {M::MPHandel, "MPHandel", EditStdHand},
                {M::MPKunder, "MPKunder", {}},
                {M::MPPostnr, "MPPostnr", {}},
                {M::MPHandForSagsType, "MPHandForSagsType", {}},
                {M::MPPostTime, "MPPostTime", RunTimeSheets},
                {M::MPASag, "MPASag", {}},
                {M::MPUdeRap, "MPUdeRap", {}},
                {M::MPFakKopi, "MPFakKopi", {}},
                {M::MPOverFak, "MPOverFak", {}},
                {M::MPListPost, "MPListPost", {}},
                {M::MPListBruger, "MPListBruger", {}},
                {M::MPListVarer, "MPListVarer", {}},
                {M::MPListKunde, "MPListKunde", {}},
                {M::MPListPostnr, "MPListPostnr", {}},
                {M::MPArkiver, "MPArkiver", KJArkiverSager::Execute},
                {M::MPGendan, "MPGendan", KJGendanSag::Execute}};
    Terminate = [] {
        if (QWidget* w = MainWindow())
            w->close();
        else
            QCoreApplication::quit();
    };
}

MenuEntry* TMenuDispatch::Find(MenuItem item) {
    for (MenuEntry& e : entries_)
        if (e.item == item) return &e;
    return nullptr;
}

MenuEntry* TMenuDispatch::Find(const std::string& name) {
    for (MenuEntry& e : entries_)
        if (name == e.name) return &e;
    return nullptr;
}

void TMenuDispatch::Suspended(const std::function<void()>& body) {
    if (SuspendData && !SuspendData()) return;
    struct Resume {
        TMenuDispatch& m;
        ~Resume() {  // an error here is shown: nothing may leave a destructor
            if (m.ResumeData) kjqt::Guarded([this] { m.ResumeData(); });
        }
    } resume{*this};
    body();
}

void TMenuDispatch::MenuPunktClick(MenuItem item) {
    MenuEntry* e = Find(item);
    if (!e || !e->open) return;
    Suspended(e->open);
}

void TMenuDispatch::GenskabIndeksClick() {
    if (!Ask(Ansi(kRebuildQuestion))) return;
    Suspended([] {
        WaitCursor wait;
        KJData()->RebuildIndexes();
    });
}

void TMenuDispatch::FjernSlettedePosterClick() {
    if (!Ask(Ansi(kPackQuestion))) return;
    Suspended([] {
        WaitCursor wait;
        KJData()->PackTables();
    });
}

void TMenuDispatch::SidenSidstClick() {
    std::string folder = TzCommon::TrimRight(QelCom()->Zorbo1Sti);
    if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
    const std::string file = folder + "KJSidenS.rtf";
    if (!QFileInfo::exists(QString::fromLocal8Bit(file.c_str()))) return;
    Rediger::ViewFile("  Siden sidst  ", file);
}

void TMenuDispatch::AfslutClick() {
    if (Terminate) Terminate();
}

TMenuDispatch& MainMenu() {
    static TMenuDispatch menu;
    return menu;
}

}  // namespace kj
