#include "app/qel_com.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>

#include "app/kj_text.h"
#include "app/kj_util.h"
#include "app/prog_dlg.h"
#include "storage/file_layer.h"
#include "storage/tz_utils.h"
#include "ui/ini_file.h"
#include "ui/tmv_fil.h"

namespace kj {

namespace {

std::unique_ptr<TQelCom> g_qelCom;
const char* const kSection = "Morvane Stier";

void SetPanel(TOpstartForm* panel, const std::string& text) {
    if (panel) panel->SetStatusText(text);
}

// The drive of a file name ("C:"), empty when it has none.
std::string DriveOf(const std::string& name) {
    return name.size() >= 2 && name[1] == ':' ? name.substr(0, 2) : std::string();
}

bool CanRead(const std::string& fileName) {
    std::FILE* f = std::fopen(tz::ResolveName(fileName).c_str(), "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 120 hexadecimal digits to 60 bytes; blanks when the line is not such a text.
std::string DecodeHexLine(const std::string& line) {
    const std::string t = TzCommon::AllTrim(line);
    std::string out;
    for (size_t i = 0; i + 1 < t.size() && out.size() < 60; i += 2) {
        const int hi = HexDigit(t[i]), lo = HexDigit(t[i + 1]);
        if (hi < 0 || lo < 0) return std::string(60, ' ');
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return TzUtils::PadRightOrCut(out, 60);
}

std::string HexLine(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : TzUtils::PadRightOrCut(bytes, 60)) {
        out.push_back(kDigits[static_cast<unsigned char>(c) >> 4]);
        out.push_back(kDigits[static_cast<unsigned char>(c) & 15]);
    }
    return out;
}

}  // namespace

const char* const* PathKeys() {
    static const std::string raadata = Ansi("RådataSti"), faelles = Ansi("Fællesfil");
    static const char* const keys[] = {
        "MorvaneSti",    "MorvSti",     "Zorbo1Sti",  "IGSSti",      raadata.c_str(),
        "KodetabelSti",  "MakroSti",    "IndexSti",   "DataBaseSti", "RammefilSti",
        faelles.c_str(), "SagsDataSti", "UndoRedoSti"};
    return keys;
}

bool EndsWithDelim(const std::string& path) {
    return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

std::string WithDelim(const std::string& path) {
    return path.empty() || EndsWithDelim(path) ? path : path + "/";
}

std::string NativePath(const std::string& path) {
    std::string r = path;
    for (char& c : r)
        if (c == '\\') c = '/';
    return r;
}

std::string EncodeFirmBlock(const std::string& name, const std::string& address) {
    return "[FIRMA]\r\n" + HexLine(TzCommon::AnsiToOemStr(name)) + "\r\n" +
           HexLine(TzCommon::AnsiToOemStr(address)) + "\r\n";
}

TQelCom::TQelCom() {
    const char* path = std::getenv("PATH");
    SearchPath = path ? std::string(path).substr(0, 255) : std::string();
}

void TQelCom::ReadIniForm(const std::string& fileName) {
    kjqt::TMemIniFile ini(fileName);
    std::string* members[] = {&MorvaneSti,   &MorvSti,     &Zorbo1Sti,  &IGSSti,      &RådataSti,
                              &KodetabelSti, &MakroSti,    &IndexSti,   &DataBaseSti, &RammefilSti,
                              &Fællesfil,    &SagsDataSti, &UndoRedoSti};
    const char* const* keys = PathKeys();
    for (int i = 0; i < 13; ++i) *members[i] = ini.ReadString(kSection, keys[i], "");
    MorvaneCopies[0] = MorvaneSti;
    if (TzCommon::AllTrim(UndoRedoSti).empty()) UndoRedoSti = WithDelim(Zorbo1Sti) + "Undo/";
}

void TQelCom::ReadLineForm(const std::string& fileName) {
    kjqt::TMVFil file;
    file.Reset(fileName);
    std::string* members[] = {&MorvaneSti,   &MorvSti,  &Zorbo1Sti, &IGSSti,     &RådataSti,
                              &KodetabelSti, &MakroSti, &IndexSti,  &DataBaseSti};
    std::string line;
    for (int n = 0; n < 9 && !file.Eof() && file.ReadLine(line); ++n) {
        // Kept as written: names are case-sensitive here, and the file layer resolves the
        // case of existing files by itself.
        line = TzCommon::AllTrim(line);
        if ((line.size() == 2 || line.size() == 3) && line[1] == ':')
            line = TzUtils::AnsiUpper(DriveOf(fileName)) + "/";
        *members[n] = line;
        if (n == 0) {
            for (std::string& copy : MorvaneCopies) copy = line;
            SagsDataSti = WithDelim(MorvaneSti) + "SagsData/";
        }
    }
    UndoRedoSti = WithDelim(Zorbo1Sti) + "Undo/";
    file.Close();
}

void TQelCom::ReadPaths(const std::string& fileName, TOpstartForm* panel) {
    if (TzUtils::AnsiUpper(fileName).find("ZORBO397.ASD") != std::string::npos) {
        SetPanel(panel, Ansi("Indlæser: ") + fileName);
        ReadIniForm(fileName);
    } else if (!CanRead(fileName)) {
        ShowMsg(Ansi("Du har ikke rettigheder fra styresystemet til at læse ") + fileName);
    } else {
        SetPanel(panel, Ansi("Indlæser: ") + fileName);
        ReadLineForm(fileName);
    }
    DataBaseSti.clear();
    if (TzCommon::AllTrim(Fællesfil).empty()) Fællesfil = WithDelim(Zorbo1Sti) + "ZorboF.asd";
}

bool TQelCom::WritePaths(const std::string& fileName, TOpstartForm* panel) {
    SetPanel(panel, Ansi("Udlæser ") + fileName);
    kjqt::TMemIniFile ini(fileName);
    ini.EraseSection(kSection);
    const size_t cut = MorvaneSti.find_last_of("\\/:");
    const std::string morvane =
        cut == std::string::npos ? std::string() : MorvaneSti.substr(0, cut + 1);
    const std::string values[] = {morvane,      MorvSti,     Zorbo1Sti,  IGSSti,      RådataSti,
                                  KodetabelSti, MakroSti,    IndexSti,   DataBaseSti, RammefilSti,
                                  Fællesfil,    SagsDataSti, UndoRedoSti};
    const char* const* keys = PathKeys();
    for (int i = 0; i < 13; ++i) ini.WriteString(kSection, keys[i], values[i]);
    ini.UpdateFile();
    return true;
}

bool TQelCom::ReadUserData(const std::string& fileName, TOpstartForm* panel) {
    if (!CanRead(fileName)) {
        ShowMsg(Ansi("Du har ikke rettigheder fra styresystemet til at læse ") + fileName);
        return false;
    }
    SetPanel(panel, Ansi("Indlæser :") + fileName);
    kjqt::TMVFil file;
    file.Reset(fileName);
    FirmName = FirmAddress = std::string(60, ' ');
    std::string line;
    while (!file.Eof() && file.ReadLine(line)) {
        if (TzCommon::AllTrim(line) != "[FIRMA]") continue;
        if (file.ReadLine(line)) FirmName = OemToAnsi(DecodeHexLine(line));
        if (file.ReadLine(line)) FirmAddress = OemToAnsi(DecodeHexLine(line));
        break;
    }
    file.Close();
    return true;
}

TQelCom* QelCom() {
    return g_qelCom.get();
}

void CreateQelCom() {
    g_qelCom.reset();
    try {
        g_qelCom = std::make_unique<TQelCom>();
    } catch (const std::exception& e) {
        ShowMsg(std::string("Fejl qelcom opret: ") + e.what());
    }
}

void FreeQelCom() {
    try {
        g_qelCom.reset();
    } catch (const std::exception& e) {
        ShowMsg(std::string("Fejl qelcom fri: ") + e.what());
    }
}

}  // namespace kj
