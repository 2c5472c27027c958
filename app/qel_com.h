// TQelCom: the one set-up object. It holds the 13 folder paths of the program family, read
// from and written back to the drawing system's path-setup file (INI form "ZORBO397.ASD",
// or the older line form such as "ZORBO3.ASD"), and the firm's name and address read from
// the user-data file ("ZORBO195.ASD"). Paths are Windows-1252 texts; "\" and "/" both end
// a folder, and a folder this program completes gets "/". GUI thread (messages go through
// the dialog service).
//
// User-data file coding (ours): text lines (CR LF); the drawing system's setting lines come
// first and are skipped; the firm block starts at a line "[FIRMA]" and holds two lines, the
// firm name and the firm address, each as 120 hexadecimal digits: 60 bytes in code page 850
// (blank-padded). A missing or damaged block leaves both texts blank.
#pragma once

#include <string>

namespace kj {

class TOpstartForm;  // the splash window (prog_dlg.h); the status panel, may be none

class TQelCom {
  public:
    TQelCom();

    void ReadPaths(const std::string& fileName, TOpstartForm* panel = nullptr);
    bool WritePaths(const std::string& fileName, TOpstartForm* panel = nullptr);
    // False when the file cannot be read (the caller ends the program).
    bool ReadUserData(const std::string& fileName, TOpstartForm* panel = nullptr);

    std::string MorvaneSti, MorvSti, Zorbo1Sti, IGSSti, RådataSti, KodetabelSti, MakroSti, IndexSti,
        DataBaseSti, RammefilSti, Fællesfil, SagsDataSti, UndoRedoSti;
    std::string SearchPath;
    std::string FirmName;     // 60 characters
    std::string FirmAddress;  // 60 characters
    std::string MorvaneCopies[9];

  private:
    void ReadIniForm(const std::string& fileName);
    void ReadLineForm(const std::string& fileName);
};

// The 13 keys of section "Morvane Stier" in file order (Windows-1252).
const char* const* PathKeys();
// True when the text ends in a folder separator ("\" or "/").
bool EndsWithDelim(const std::string& path);
// The path with a folder separator added unless it ends in one; an empty path stays empty
// (a folder not set is not the root).
std::string WithDelim(const std::string& path);
// The path with every "\" turned into "/" (for the platform's own calls).
std::string NativePath(const std::string& path);
// The user-data file's firm block for a name and an address (Windows-1252), as the
// program reads it; used to prepare a start-up folder.
std::string EncodeFirmBlock(const std::string& name, const std::string& address);

// The one set-up object; nullptr when it could not be created.
TQelCom* QelCom();
// Creates the set-up object (shows "Fejl qelcom opret: " on failure) and frees it.
void CreateQelCom();
void FreeQelCom();

}  // namespace kj
