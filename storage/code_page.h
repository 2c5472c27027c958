// Code page 850 (OEM: table and index bytes) and Windows-1252 (ANSI: engine strings):
// the two conversion tables, which are inverse permutations of each other, and the
// Windows-1252 case mapping and letter test that index keys depend on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tz {

extern const uint8_t kOemToAnsi[256];
extern const uint8_t kAnsiToOem[256];

inline uint8_t OemToAnsiChar(uint8_t c) {
    return kOemToAnsi[c];
}
inline uint8_t AnsiToOemChar(uint8_t c) {
    return kAnsiToOem[c];
}
void OemToAnsiBuf(uint8_t* buf, size_t len);
void AnsiToOemBuf(uint8_t* buf, size_t len);
std::string OemToAnsi(const std::string& s);
std::string AnsiToOem(const std::string& s);

// Windows-1252 casing: a-z, 0xE0-0xFE except 0xF7 (minus 0x20), 0x9A 0x9C 0x9E 0xFF
// (to 0x8A 0x8C 0x8E 0x9F), and back.
uint8_t AnsiUpperChar(uint8_t c);
uint8_t AnsiLowerChar(uint8_t c);
bool IsAnsiAlpha(uint8_t c);
std::string AnsiUpperStr(const std::string& s);
std::string AnsiLowerStr(const std::string& s);

}  // namespace tz
