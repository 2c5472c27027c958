#include "ui/tmv_fil.h"

#include "storage/file_layer.h"
#include "storage/tz_utils.h"
#include "ui/dialog_service.h"
#include "ui/text_codec.h"

namespace kjqt {

namespace {

void Show(const std::string& ansi) {
    DialogService::Instance().ShowMessage(FromAnsi(ansi));
}

}  // namespace

bool TMVFil::OpenAs(const std::string& fileName, Mode mode) {
    std::string name = TzUtils::TrimSpaces(fileName);
    if (Open() && name == name_ && mode == mode_) {
        // The same file again: start it over (reading from the top, or emptied).
        if (mode == Mode::Read) {
            std::rewind(file_);
            return true;
        }
        if (writer_.Restart() == 0) return true;
        writer_.Abandon();
    }
    Close();
    name_ = name;
    if (mode == Mode::Read)
        file_ = std::fopen(tz::ResolveName(name_).c_str(), "rb");
    else
        writer_.Begin(name_);
    mode_ = mode;
    if (!Open()) Show("Fil \"" + name_ + "\" kunne ikke \xE6ndre status");
    return Open();
}

bool TMVFil::Reset(const std::string& fileName) {
    return OpenAs(fileName, Mode::Read);
}

bool TMVFil::Rewrite(const std::string& fileName) {
    return OpenAs(fileName, Mode::Write);
}

bool TMVFil::ReadLine(std::string& line) {
    line.clear();
    if (!Open()) return false;
    if (mode_ != Mode::Read) {
        Show("Kan ikke l\xE6se fra fil \"" + name_ + "\"");
        return false;
    }
    // A line ends at CR LF, a lone CR or LF, or the end of the file.
    int c;
    while ((c = std::fgetc(file_)) != EOF) {
        if (c == '\n') break;
        if (c == '\r') {
            int next = std::fgetc(file_);
            if (next != '\n' && next != EOF) std::ungetc(next, file_);
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    if (std::ferror(file_)) {
        line.clear();
        Show("Kan ikke l\xE6se fra fil \"" + name_ + "\"");
        return false;
    }
    return true;
}

std::string TMVFil::ReadLineTo() {
    std::string line;
    ReadLine(line);
    return line;
}

bool TMVFil::WriteLine(const std::string& line) {
    if (!Open()) return false;
    bool ok = mode_ == Mode::Write && writer_.Write(line.data(), line.size()) == 0 &&
              writer_.Write("\r\n", 2) == 0;
    if (!ok) Show("Kan ikke skrive til fil \"" + name_ + "\"");
    return ok;
}

bool TMVFil::Eof() {
    if (!Open()) return true;
    if (mode_ == Mode::Write) return true;
    int c = std::fgetc(file_);
    if (c == EOF) return true;
    std::ungetc(c, file_);
    return false;
}

void TMVFil::Close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    if (writer_.IsOpen() && writer_.Commit() != 0)
        Show("Kan ikke skrive til fil \"" + name_ + "\"");
}

void TMVFil::Abandon() {
    writer_.Abandon();
    Close();
}

}  // namespace kjqt
