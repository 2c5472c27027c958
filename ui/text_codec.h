// The one pair of conversions between the engine's single-byte Windows-1252 text and Qt's
// QString (and through it UTF-8). Every byte survives a round trip: the five bytes that
// Windows-1252 leaves unassigned (0x81 0x8D 0x8F 0x90 0x9D) map to the C1 controls of the
// same value. Characters Windows-1252 cannot hold become "?". Pure functions, any thread.
#pragma once

#include <QString>
#include <string>

namespace kjqt {

QString FromAnsi(const std::string& ansi);
std::string ToAnsi(const QString& text);

}  // namespace kjqt
