// Connects the application's own windows to each other at start-up: the registers and the
// case-type window to the main menu's entry points, and the pickers and registers to the
// time sheet's links. The reports are wired by the program's main (they stand above the
// application). GUI thread; called once by the start-up order before the main window.
#pragma once

namespace kj {

void InstallAppEntries();

}  // namespace kj
