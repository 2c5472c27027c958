// The engine's text output device, which copies everything written to it to the console
// (standard output), an alternate file and the printer, and the engine side of the one-line
// message window, whose widget the user interface supplies through MsgWindowProcs.
// One process-wide state, not thread-safe. Failures go through TzCommon::SetError.
#pragma once

#include <functional>
#include <string>

namespace TzPrint {

// Output device invariants:
//  1. The buffer never holds more than kBufferSize characters; Write empties it whenever it
//     fills and again before it returns, so nothing stays buffered between calls.
//  2. The printer pipe is opened only by the first write that reaches the printer, and a
//     job ends (the pipe is closed and the command waited for) only in ClosePrinter or
//     Shutdown, or at once when a write to it fails; a failed job takes nothing more (every
//     printer write reports 160) until ClosePrinter, Shutdown or Startup.
//  3. The alternate file is open exactly while an alternate name is set.
inline constexpr size_t kBufferSize = 128;

// Sets up the device (all three switches off) and forgets any earlier alternate file and
// printer job. The printer command is not started here.
void Startup();
// Empties the buffer and closes the alternate file and the printer job.
void Shutdown();

// The three switches (all off after Startup).
void SetConsole(bool on);
void SetAlternate(bool on);
void SetPrinter(bool on);
bool ConsoleOn();
bool AlternateOn();
bool PrinterOn();

// Names the alternate file: closes the previous one, then creates the file (or, with
// additive, opens an existing one and writes after its end). An empty name only closes.
// Returns false with the error set (code, "Output error, alternate file: <name>").
bool SetAlternateTo(const std::string& name, bool additive = false);
const std::string& AlternateName();

// Writes bytes as given (engine text is Windows-1252); WriteLn adds CR LF.
void Write(const std::string& text);
void WriteLn(const std::string& text = std::string());
// Sends the buffered characters to the console, then the alternate file, then the printer,
// each when its switch is on, and empties the buffer. A failed alternate write reports its
// code with "Output error, alternate file: <name>"; a failed printer write reports its code
// with no text of its own. Flush does the same.
void WriteOutput();
void Flush();

// The shell command that receives printer output: $KJ_PRINTER_COMMAND when set, else
// "lpr" when it is on the PATH, else "lp".
std::string PrinterCommand();
// True while a printer job's pipe is open.
bool PrinterJobOpen();
// Ends the current printer job: closes the pipe and waits for the command. A command that
// could not run or ended with a non-zero status is reported as 160 (device write fault).
void ClosePrinter();

}  // namespace TzPrint

namespace TzMsg {

// The message window's widget, supplied by the user interface at start-up. Without it the
// window keeps its text but shows nothing.
struct MsgWindowProcs {
    std::function<void*()> create;  // a new hidden window; its handle
    // Lays the window out for caption and text, shows it and lets waiting messages through.
    std::function<void(void* window, const std::string& caption, const std::string& text)> show;
    std::function<void(void* window)> destroy;
};
void SetMsgWindowProcs(const MsgWindowProcs& procs);
void ClearMsgWindowProcs();

// A borderless, always-on-top window with one line of text, centred over the window that
// was active when it was made. A caption turns it into a small dialog-framed window.
class TTzMsg {
  public:
    TTzMsg();
    virtual ~TTzMsg();
    TTzMsg(const TTzMsg&) = delete;
    TTzMsg& operator=(const TTzMsg&) = delete;

    // Shows the text; an empty text keeps the previous one.
    void ShowText(const std::string& text);
    // Takes effect at the next ShowText.
    void SetCaption(const std::string& caption) { caption_ = caption; }
    const std::string& Caption() const { return caption_; }
    const std::string& Text() const { return text_; }

  private:
    MsgWindowProcs procs_;  // those that made the window; they also free it
    void* window_ = nullptr;
    std::string caption_;
    std::string text_;
};

}  // namespace TzMsg
