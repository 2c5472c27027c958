// TMVFil: a line-oriented reader and writer of text files (the path-setup and user-data
// files, the list files, the export file). Lines end in CR LF; characters are bytes
// (Windows-1252). Failures are shown in a message box through the dialog service and never
// raised to the caller. A file opened for writing is written beside the old one and put in
// its place by Close (unchanged content is not written), so a reader never sees it half
// written. GUI thread.
//  1. Open() is true exactly between a successful Reset or Rewrite and Close.
//  2. Reading or writing on a closed object fails quietly: empty line, False.
#pragma once

#include <cstdio>
#include <string>

#include "storage/whole_file.h"

namespace kjqt {

class TMVFil {
  public:
    TMVFil() = default;
    ~TMVFil() { Close(); }  // Destroy closes the file first
    TMVFil(const TMVFil&) = delete;
    TMVFil& operator=(const TMVFil&) = delete;

    bool Reset(const std::string& fileName);
    bool Rewrite(const std::string& fileName);
    bool ReadLine(std::string& line);
    std::string ReadLineTo();
    bool WriteLine(const std::string& line);
    bool Eof();
    void Close();
    // Closes a file opened for writing without putting it in place: the old file stays.
    void Abandon();

    const std::string& Name() const { return name_; }
    bool Open() const { return file_ != nullptr || writer_.IsOpen(); }

  private:
    enum class Mode { Read, Write };
    bool OpenAs(const std::string& fileName, Mode mode);

    std::string name_;
    std::FILE* file_ = nullptr;   // reading
    tz::WholeFileWriter writer_;  // writing
    Mode mode_ = Mode::Read;
};

}  // namespace kjqt
