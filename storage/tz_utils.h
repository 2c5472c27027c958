// Small helpers every layer uses: trimming, padding and casing of engine strings
// (Windows-1252), option words in command texts, numbers to text and back with the engine's
// decimal character, and file helpers (exists, copy, erase by mask, temporary names, free
// space, path splitting). Files are reached only through storage/file_layer.h.
// Not thread-safe (the number characters and the error state are process-wide).
#pragma once

#include <cstdint>
#include <string>

namespace TzUtils {

std::string AnsiUpper(const std::string& s);
// Trimming. TrimRight and TrimLeft (and TzCommon::AllTrim, both ends) take off every byte up
// to the blank: spaces, NUL, tab, CR, LF and the other control characters, as field values
// are trimmed. The others take off only the characters their names say.
std::string TrimRight(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string TrimSpaces(const std::string& s);       // spaces (' ') only, both ends
std::string TrimRightSpaces(const std::string& s);  // spaces (' ') only, at the end
std::string TrimSpacesTabs(const std::string& s);   // spaces and tabs only, both ends
std::string Space(int n);
std::string Replicate(char c, int n);
// Padding with spaces on the right. PadRight never cuts: a text of n or more bytes comes back
// whole. PadRightOrCut gives exactly n bytes (a longer text keeps its first n; "" for n <= 0).
std::string PadRight(const std::string& s, int n);
std::string PadRightOrCut(const std::string& s, int n);
std::string IIf(bool flag, const std::string& a, const std::string& b);
bool IsAlpha(const std::string& s);  // the first character is a letter
char UpCaseChar(char c);
char LoCaseChar(char c);
// Non-overlapping occurrences of sub in s; 0 when either is empty.
int Occurs(const std::string& sub, const std::string& s);
// 1-based position of sub in s from position start on, ignoring case; 0 when absent.
int FindNoCase(int start, const std::string& sub, const std::string& s);
// Removes every occurrence of word (ignoring case) that is not followed by a letter, digit,
// ",", "." or "/", then trims the text at both ends. Result: the word was found.
bool ExtractOption(const std::string& word, std::string& text);

// Numbers shown to the user, with the engine's decimal character.
std::string StrFloat(double value, int width, int decimals);
std::string StrInt(int64_t value, int width);
// Reads the leading number of the text after removing "$", thousands characters and blanks
// and turning the decimal character into "."; no number gives 0.
double ValFloat(const std::string& text);
// The same, cut at the decimal character, read as an integer (clamped to 32 bits).
int32_t ValInt(const std::string& text);
// 16-bit integer of a formatted number such as "$1,234 kr", clamped to -32768 ... 32767.
int16_t FormatNumber(const std::string& text);

// A regular file of that name exists (names resolved without regard to case).
bool FileExists(const std::string& name);
// Copies source to target; the target gets the source's file time. False with the error
// word and message set on failure (a half-written target is erased).
bool CopyFile(const std::string& source, const std::string& target);
// Erases every file matching the mask ("*" and "?" in the name part, case-insensitive).
// False when a file could not be erased.
bool EraseFiles(const std::string& mask);
// Free space in KB of the folder holding path, capped at 2,147,483,647 (also the answer when
// the query fails). DiskFree(n): drives do not exist here, every n means the current folder.
int64_t DiskFreeOf(const std::string& path);
int64_t DiskFree(int drive);
// A new empty file in the temporary folder whose name begins with "TZP"; its full name, or
// "" with the error set.
std::string UniqueFilename();

}  // namespace TzUtils

namespace TzCommon {

std::string TrimRight(const std::string& s);
std::string TrimLeft(const std::string& s);
std::string AllTrim(const std::string& s);
std::string AnsiToOemStr(const std::string& s);
std::string OemToAnsiStr(const std::string& s);

// Folder (with its trailing "/"), name and extension (with its ".") of a path. "\" is read
// as a separator and the folder is given with "/" — the Linux separator — so it can be
// joined to a name directly. Names are kept whole, however long.
struct SplitPath {
    std::string dir;
    std::string name;
    std::string ext;
};
SplitPath FSplit(const std::string& path);
// Full path against the current folder, "\" read as "/", "." and ".." resolved.
std::string FExpand(const std::string& name);
// ext may be given with or without its ".".
std::string DefaultExtension(const std::string& name, const std::string& ext);
std::string ForceExtension(const std::string& name, const std::string& ext);
// Time since the system started in ticks of 18.20648193 per second.
int64_t Timer();

}  // namespace TzCommon
