// A small reader of RTF documents for the editor's view: paragraphs, bold, italic,
// underline, font size, tabs, and the characters of \'hh (Windows-1252) and \uN escapes;
// font, colour and style tables, pictures and other destinations are skipped. Pure.
#pragma once

#include <string>

class QTextDocument;

namespace kj {

// True when the bytes start like an RTF document ("{\rtf").
bool LooksLikeRtf(const std::string& bytes);

// Replaces the document's content with the RTF text's.
void LoadRtf(const std::string& bytes, QTextDocument& doc);

}  // namespace kj
