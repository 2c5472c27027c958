#include "app/kj_startup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QWidget>
#include <cstdlib>
#include <memory>

#include "app/kj_arkiv.h"
#include "app/kj_data.h"
#include "app/kj_terminate.h"
#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/kj_wiring.h"
#include "app/prog_dlg.h"
#include "app/qel_com.h"
#include "data/db_format.h"
#include "data/tz_messages.h"
#include "index/tz_engine.h"
#include "index/tz_ndx.h"
#include "storage/dates.h"
#include "storage/file_layer.h"
#include "storage/memo.h"
#include "storage/tz_common.h"
#include "storage/tz_utils.h"
#include "storage/vfiles.h"
#include "ui/application.h"
#include "ui/dialog_service.h"
#include "ui/engine_callbacks.h"
#include "ui/text_codec.h"

namespace kj {

namespace {

MainWindowFactory g_factory;

std::string FolderOf(const std::string& file) {
    const size_t cut = file.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : file.substr(0, cut + 1);
}

}  // namespace

void ApplyFormatSettings() {
    Db::TFormatSettings& fs = Db::FormatSettings();
    fs.DecimalSeparator = ',';
    fs.ThousandSeparator = ' ';
    fs.DateSeparator = '-';
    fs.ShortDateFormat = "dd-MM-yyyy";
    TzDs::ApplyFormatSettingsToEngine();
    TzCommon::SetDecimalChar(',');
}

void EngineStartup() {
    TzEngine::Startup();
    TzDs::DataSetUnitStartup();
    ApplyFormatSettings();
}

std::string DefaultStartFolder() {
    const char* home = std::getenv("HOME");
    return WithDelim(home && *home ? home : ".") + "QELN/";
}

namespace {

std::string g_pathsFileRead;  // the path-setup file the start-up read

// The path-setup file named no folder for the user data, and the current folder has no
// user-data file either: which file is at fault, and where the program looked.
std::string NoUserDataFolder() {
    return "Opstartsfilen " + g_pathsFileRead +
           " angiver ikke mappen med brugerdata (ZORBO195.ASD); filen er tom eller "
           "ugyldig.\r\nDen aktuelle mappe " +
           kjqt::ToAnsi(QDir::currentPath()) + " har heller ingen ZORBO195.ASD.\r\n" +
           Ansi("Kontakt din leverandør !!!!!!!!");
}

}  // namespace

bool ReadPathsFile(const std::string& argument, std::string& f, TOpstartForm* splash) {
    std::string p = TzUtils::TrimRight(argument);
    const std::string upper = TzUtils::AnsiUpper(p);
    const size_t t3 = upper.find("T3=");
    std::string d = t3 == std::string::npos ? p : p.substr(t3 + 3);
    d = TzUtils::TrimRight(d);
    if (d.empty()) d = DefaultStartFolder();
    const std::string fallback = DefaultStartFolder() + "ZORBO3.ASD";
    auto& dialogs = kjqt::DialogService::Instance();
    f = d + "ZORBO397.ASD";
    if (!tz::Exists(f)) {
        f = d + "ZORBO3.ASD";
        ShowMsg(Ansi("Ved 1. opstart: Kan ikke finde ZORBO397.ASD læser ") + f + " istedet");
    }
    if (!tz::Exists(f)) {
        f = fallback;
        ShowMsg(Ansi("Ved 1. opstart: Kan ikke finde ZORBO397.ASD læser ") + f + " istedet");
    }
    bool ok = true;
    if (!tz::Exists(f)) {
        const QString chosen =
            dialogs.OpenFile(QStringLiteral("Find ZORBO3.ASD eller ZORBO397.ASD!!!"),
                             kjqt::FromAnsi(DefaultStartFolder()),
                             QStringLiteral("Opstartsfiler (*.asd *.ASD);;Alle (*)"));
        if (chosen.isEmpty())
            ok = false;
        else
            f = kjqt::ToAnsi(chosen);
    }
    QelCom()->ReadPaths(f, splash);
    g_pathsFileRead = f;
    if (TzUtils::AnsiUpper(f).find("ZORBO397.ASD") == std::string::npos)
        f = WithDelim(FolderOf(f).empty() ? std::string(".") : FolderOf(f)) + "ZORBO397.ASD";
    return ok;
}

bool ReadUserDataFile(TOpstartForm* splash) {
    TQelCom& q = *QelCom();
    const std::string folder = TzUtils::TrimRight(q.Zorbo1Sti);
    std::string f = WithDelim(folder) + "ZORBO195.ASD";
    if (folder.empty() && !tz::Exists(f) && !tz::Exists("ZORBO1.ASD")) {
        ShowMsg(NoUserDataFolder());
        return false;
    }
    if (!tz::Exists(f)) {
        f = WithDelim(folder) + "ZORBO1.ASD";
        ShowMsg(Ansi("Ved 1. opstart: Kan ikke finde ZORBO195.ASD læser ") + f + " istedet");
    }
    const bool found = tz::Exists(f);
    if (!found) {
        ShowMsg(Ansi("Kan ikke finde \"ZORBO195.ASD\" eller \"ZORBO1.ASD\"\r\ni directory \"") +
                q.Zorbo1Sti + "\"\r\n" + Ansi("Kontakt din leverandør !!!!!!!!"));
        return false;
    }
    if (!FolderOf(f).empty()) q.Zorbo1Sti = FolderOf(f);
    if (TzUtils::AnsiUpper(f).find("ZORBO195.ASD") == std::string::npos) {
        const std::string to = FolderOf(f) + "ZORBO195.ASD";
        TzUtils::CopyFile(f, to);
        if (tz::Exists(to)) f = to;
    }
    return q.ReadUserData(f, splash) && found;
}

bool OpenStartupData(TKJData& data, const std::string& argument, TOpstartForm* splash) {
    if (!QelCom()) {
        ShowMsg("qelcom ikke tildelt");
        return false;
    }
    auto status = [&](const std::string& text) {
        if (splash) splash->SetStatusText(text);
    };
    bool ok = true;
    const char* stage = "Kunne ikke l\xE6se Zorbo3 opstart: ";
    try {
        status(Ansi("Læser stier i opstartsfil !"));
        ok = ReadPathsFile(argument, data.PathSetupFileName, splash);
        stage = "Kunne ikke l\xE6se Zorbo1 opstart: ";
        status(Ansi("Læser brugerdata i opstartsfil !"));
        if (ok) ok = ReadUserDataFile(splash);
        stage = "Kunne ikke initialisere datafiler: ";
        status("Initialiserer datafiler !");
        if (ok) {
            data.OpenDataFiles();
            QelCom()->WritePaths(data.PathSetupFileName, splash);
        }
        status("Morvane Vaktor initialiserer");
        const std::string d = TzUtils::TrimRight(QelCom()->SagsDataSti);
        if (ok && !d.empty() && !QDir::setCurrent(kjqt::FromAnsi(NativePath(d))))
            QDir::setCurrent(kjqt::FromAnsi(NativePath(FolderOf(data.PathSetupFileName))));
        if (ok) FinishInterruptedRestores(data);
        TellShortTables();
    } catch (const Db::EAbort&) {
        return false;
    } catch (const std::exception& e) {
        ShowMsg(stage + std::string(e.what()));
        return false;
    }
    return ok;
}

void SetMainWindowFactory(MainWindowFactory factory) {
    g_factory = std::move(factory);
}

int RunProgram(int argc, char** argv) {
    kjqt::KjApplication app(argc, argv);
    EngineStartup();
    kjqt::InstallEngineCallbacks();
    InstallAppEntries();
    CreateQelCom();
    auto splash = std::make_unique<TOpstartForm>();
    splash->show();
    QCoreApplication::processEvents();
    ApplyFormatSettings();
    QCoreApplication::setApplicationName(QStringLiteral("Morvane Vaktor"));
    int code = 0;
    {
        auto data = std::make_unique<TKJData>();
        SetKJData(data.get());
        data->Splash = splash.get();
        const std::string argument = argc > 1 ? argv[1] : "";
        std::unique_ptr<QWidget> mainWindow;
        // An engine error while the data files are created, upgraded or reindexed is raised
        // to the start-up's own handler, which tells it and ends the program after closing
        // the tables, instead of halting the program with the engine's text.
        KeepRunningOnEngineErrors(true);
        if (g_factory) {
            kjqt::Guarded([&] { mainWindow.reset(g_factory(*data, argument, splash.get())); });
        } else if (OpenStartupData(*data, argument, splash.get())) {
            // No main window in this build: the data folder is open and ready; end here.
        } else {
            code = 1;
        }
        data->Splash = nullptr;
        splash.reset();
        if (mainWindow) {
            SetMainWindow(mainWindow.get());
            mainWindow->showMaximized();
            code = app.exec();
            SetMainWindow(nullptr);
        } else if (g_factory) {
            code = 1;
        }
        mainWindow.reset();
        KeepRunningOnEngineErrors(false);
        SetKJData(nullptr);
    }
    FreeQelCom();
    return code;
}

}  // namespace kj
