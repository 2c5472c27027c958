// Files the program rewrites whole (the path-setup and other INI files, the list files, the
// report-layout files, the editor's documents, the export file): the new content is written
// to a file beside the old one and renamed over it when complete, so that another process
// reading at the same moment sees the old content or the new one, never an empty or partial
// file. A content equal to what the file already holds is not written at all.
// Not thread-safe; one writer object per file being written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tz {

// Writes bytes as the whole content of the file (its name resolved like every other open):
// 0, or the engine code of the failure, the old file then untouched.
uint16_t WriteWholeFile(const std::string& name, std::string_view bytes);

// The same in steps, for a writer that produces its content line by line:
//  1. Begin makes the file beside the target ("<name>.~XXXXXX", the target's permissions;
//     a symbolic link's own target is the one replaced; a device or pipe is written in
//     place, as it cannot be replaced);
//  2. Write appends to it; Restart empties it again;
//  3. Commit puts it in place (or drops it when the target already holds the same bytes);
//     after a failure, or without Commit, the file beside is removed and the target is
//     left as it was.
class WholeFileWriter {
  public:
    WholeFileWriter() = default;
    ~WholeFileWriter() { Abandon(); }
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    uint16_t Begin(const std::string& name);
    uint16_t Write(const void* data, size_t n);
    uint16_t Restart();
    uint16_t Commit();
    void Abandon();
    bool IsOpen() const { return fd_ >= 0; }
    // Bytes written since Begin or Restart.
    uint64_t Size() const { return size_; }

  private:
    uint16_t BeginInPlace();

    int fd_ = -1;
    std::string target_;  // resolved name of the file being replaced
    std::string temp_;    // the file beside it
    uint64_t size_ = 0;
};

}  // namespace tz
