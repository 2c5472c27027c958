// Message texts of the dataset components, the message level that governs whether they are
// shown, the route to the user's message box, and the progress window of index builds.
// The user interface installs the message and progress routes at start-up (no Qt here);
// without them messages go to the engine's error box and progress is not shown.
// Process-wide settings, single-threaded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace TzDs {

// Library texts used by the components.
inline constexpr const char* kMsgDatabaseNotOpen = "Database is not open";
inline constexpr const char* kMsgFieldNotIn = "Field '%s' not in '%s'";
inline constexpr const char* kMsgTypeExpected =
    "'%s()' expects field '%s' to be of type:\r\n'%s'.'%s' actually is: '%s'";
inline constexpr const char* kMsgUserBuffer =
    "User buffer size doesn't match internal DBF buffer size";
inline constexpr const char* kMsgStackEmpty = "Push/Pop stack is empty";
inline constexpr const char* kMsgNoMemoryPush = "Not enough memory to Push a record";
inline constexpr const char* kMsgCouldNotCreate = "Could not create '%s'";
inline constexpr const char* kMsgAliasUnique =
    "The first 10 characters of Name property\r\nmust be unique, since this part\r\nof the "
    "name is used as an ALIAS.";
inline constexpr const char* kMsgFieldListNil = "DbfFieldList is Nil trying to create a database";
inline constexpr const char* kMsgFieldListEmpty =
    "FieldList.Count is <= 0 trying to create a database";
inline constexpr const char* kMsgLockFailed = "Lock failed [%s]";
inline constexpr const char* kMsgInvalidDate = "        Invalid date       ";
inline constexpr const char* kMsgInvalidFieldDef =
    "Invalid field definition for %s: %s,%s,%d,%d. Will use corrected definition: %s,%s,%d,%d";
inline constexpr const char* kMsgNotInWhileRange =
    "Could not set while. Record is not in WHILE range.";
// A save refused because the disk is full (%s: the disk's folder, then the table).
inline constexpr const char* kMsgDiskFull =
    "Disken er fuld: %s\r\nDer er ikke plads til at gemme i %s. Det, du gemte, er IKKE "
    "gemt; intet andet er g\xE5"
    "et tabt.\r\nFrig\xF8r plads p\xE5 disken, og gem igen.";

// A row saved whose index could not follow (%s: the disk's folder, the table, the index).
inline constexpr const char* kMsgDiskFullSaved =
    "Disken er fuld: %s\r\nR\xE6kken er gemt i %s, men indeksfilen %s kunne ikke opdateres. "
    "Gem den ikke igen.\r\nFrig\xF8r plads p\xE5 disken; indeksfilen bygges op igen ved "
    "n\xE6ste gemning eller opstart.";

// The text of kMsgDiskFull for a table file.
std::string DiskFullText(const std::string& file);

// Fills %s and %d markers in order.
std::string FormatText(const std::string& pattern, const std::vector<std::string>& args);

// Message level: the show-routines show a box only at level 2 (the default).
uint8_t MessageLevel();
void SetMessageLevel(uint8_t level);

// The user's message box. Without one the engine's error box (TzCommon::ErrorBox) is used.
using MessageProc = std::function<void(const std::string& text)>;
void SetMessageProc(MessageProc proc);
void ShowText(const std::string& text);  // shown only at message level 2

// Engine error checking off / on; both return the previous switch.
bool DisableErrorRaise();
bool EnableErrorRaise();

// The view of a progress window: the UI installs a factory that makes one per window.
class ProgressView {
  public:
    virtual ~ProgressView() = default;
    virtual void Show(const std::string& caption, const std::string& text) = 0;
    virtual void SetText(const std::string& text) = 0;
};
using ProgressViewFactory = std::function<std::unique_ptr<ProgressView>()>;
void SetProgressViewFactory(ProgressViewFactory factory);

// Progress window with a bar of 100 "|" characters; each step removes one, an empty bar is
// refilled to 100 on the next step.
class TTzProgress100 {
  public:
    explicit TTzProgress100(const std::string& caption = "Progress");
    ~TTzProgress100();
    TTzProgress100(const TTzProgress100&) = delete;
    TTzProgress100& operator=(const TTzProgress100&) = delete;
    void Step();
    const std::string& Bar() const { return bar_; }
    const std::string& Caption() const { return caption_; }

  private:
    std::string caption_;
    std::string bar_;
    std::unique_ptr<ProgressView> view_;
};

// Unit start-up (runs once; later calls do nothing): copies the program's number separators
// and short date format into the engine's settings (date style and century flag).
void DataSetUnitStartup();
// Applies the start-up rules again (tests).
void ApplyFormatSettingsToEngine();

// The engine and the dataset layer back at start-up: TzEngine::Reset (every unit of the
// engine, hooks installed), then this unit's settings (message level 2, no message route,
// no progress views) and the program's format settings applied to the engine again. The
// one reset the tests of the dataset components and of the layers above call.
void ResetState();

}  // namespace TzDs
