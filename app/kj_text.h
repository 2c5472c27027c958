// The application's texts are written in the sources as UTF-8 and used as the engine's
// single-byte Windows-1252 strings: Ansi() converts a literal whose characters lie in
// Latin-1 (the Danish letters, é, ü, ²). No Qt; any thread.
#pragma once

#include <string>
#include <string_view>

namespace kj {

// UTF-8 to Windows-1252 for characters up to U+00FF; any other character becomes "?".
std::string Ansi(std::string_view utf8);

// What a save is told when another station deleted what it would write into.
inline constexpr const char* kCaseDeletedText =
    "Sagen er slettet af en anden bruger, intet er gemt !!!";
inline constexpr const char* kRowDeletedText =
    "Rækken er slettet af en anden bruger, intet er gemt !!!";

}  // namespace kj
