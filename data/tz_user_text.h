// The user's words for a failure of the table engine or the dataset layer: what happened,
// what became of the data and what to do, in Danish, with the engine's own text (code and
// routine) after it for whoever mends the files. Every message box of the program passes
// its text through InUserWords, so no engine text reaches the user on its own.
// Texts are Windows-1252. No state of its own beyond the file layer's last write error.
#pragma once

#include <cstdint>
#include <string>

namespace TzDs {

// Set before the engine's text in a translated message; a text holding it is not
// translated again.
inline constexpr const char* kDetailHead = "Oplysninger til leverand\xF8ren:";

// Where a failure stopped a longer move of rows (archive, restore, transfer): what became
// of its rows, and how it is run again. Empty fields keep the general sentences.
struct Situation {
    std::string data;   // e.g. "Ingen rækker er mistet eller fordoblet."
    std::string again;  // e.g. "kør arkiveringen igen; den gør flytningen færdig"
};

// The text with the engine's failure in it ("Error # <code> (<text>)" CR LF message, or a
// field type mismatch) told in the user's words first; any other text unchanged. Text
// before the engine's part (a window's own "Kunne ikke ...: ") stays in front.
std::string InUserWords(const std::string& shown, const Situation& situation = {});

// The same for a failure known by its code and the engine's message.
std::string EngineErrorInWords(uint16_t code, const std::string& message,
                               const Situation& situation = {});

}  // namespace TzDs
