// The built-in report-layout files, written into the system folder when a report window
// finds its file missing (an existing file is never touched, so a user's edits survive).
// The texts are Windows-1252 with CR LF line ends. GUI thread.
#pragma once

#include <string>

namespace kjrep {

// The bytes of the built-in file of that name ("AktiveSager.kjr" ...); empty when there is
// none.
std::string LayoutResource(const std::string& fileName);

// Writes the resource byte for byte to path; throws std::runtime_error when it cannot.
void SaveResourceToFile(const std::string& fileName, const std::string& path);

// The full path of a layout file in the report folder, written from its resource first
// when it does not exist.
std::string EnsureLayoutFile(const std::string& fileName);

}  // namespace kjrep
