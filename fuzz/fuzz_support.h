// Shared by the libFuzzer targets: a private folder for the files of one input, the engine
// reset between inputs, the error modes, and inputs made of several files.
// Each target runs one input at a time in one process; nothing here is thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kjfuzz {

// Separates the files of an input that holds more than one (table, then memo or index).
inline constexpr std::string_view kPartMark = "\n--KJ-FILE--\n";

// How engine errors come back: as the error word (checking off; the index engine raises
// ETzError then), as ETzError (checking on, exceptions), or through the halt routine
// (checking on, no exceptions), which here only records the halt.
enum class ErrorMode { Codes, Exceptions, Halt };

// The folder of this process (created at the first call, removed at exit).
const std::string& Folder();
std::string PathOf(const std::string& name);

// Closes every area, resets the engine's settings and error state, installs the index,
// expression and memo units and sets the error mode. Called before and after each input.
void ResetEngine(ErrorMode mode);

// Runs the engine over one input: resets it first and again at the end (every area closed,
// whatever the body threw).
class Session {
  public:
    explicit Session(ErrorMode mode) { ResetEngine(mode); }
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
};

// Writes bytes to a file of the folder (replacing it) and answers its path.
std::string WriteFile(const std::string& name, std::string_view bytes);
// Removes every file of the folder.
void ClearFolder();

// The parts of an input split at kPartMark (at most maxParts; the last takes the rest).
std::vector<std::string_view> SplitParts(const uint8_t* data, size_t size, size_t maxParts);

// Reads every field of the current record as text (Peek) and through the record buffer.
void ReadRecord();
// Walks the current order forwards and backwards (at most steps records each way),
// reading every record.
void WalkOrder(int steps);

}  // namespace kjfuzz
