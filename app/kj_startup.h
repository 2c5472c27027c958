// The program's start-up and shut-down order: the engine's units (hooks, format settings),
// the set-up object, the splash window, the data module, the main window (made by a
// factory that the main window's unit installs; until one is installed the program opens
// or creates the data folder and ends), and their release in reverse order.
// GUI thread; RunProgram is called once by main().
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace kj {

class TKJData;
class TOpstartForm;

// The engine's unit start-up: the index, memo and virtual-file hooks and the program's own
// format settings (decimal ",", thousands " ", dates "dd-MM-yyyy", the engine's decimal
// character ","). Safe to call more than once.
void EngineStartup();
void ApplyFormatSettings();

// Start-up files (the main window's creation uses them). The folder of the start-up files
// comes from the first argument ("T3=<dir>" or the folder itself), else DefaultStartFolder.
std::string DefaultStartFolder();  // $HOME/QELN/ (this program's "C:\QELN\" on Windows)
bool ReadPathsFile(const std::string& argument, std::string& fileName, TOpstartForm* splash);
bool ReadUserDataFile(TOpstartForm* splash);

// Reads the start-up files, opens the data folder and writes the paths back (the main
// window's creation, steps 1 to 5); false after showing the reason.
bool OpenStartupData(TKJData& data, const std::string& argument, TOpstartForm* splash);

// The main window's factory: given the data module (opened), makes the main window or
// returns nullptr after showing why (the program then ends).
using MainWindowFactory =
    std::function<QWidget*(TKJData& data, const std::string& argument, TOpstartForm* splash)>;
void SetMainWindowFactory(MainWindowFactory factory);

// The whole program; the exit code.
int RunProgram(int argc, char** argv);

}  // namespace kj
