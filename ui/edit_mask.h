// Translation of the stored edit masks ("mask;save-literals;blank", e.g. ">ccccc;0;_",
// "!90:00;1;_", "99/99/9999;1; ") into Qt input masks, and the text a masked edit stores.
// The two dialects swap 9 and 0 (optional and required digit) and name the other character
// classes differently; "/" and ":" stand for the program's date and time separators.
// Pure functions, any thread.
#pragma once

#include <QString>
#include <string>

namespace kjqt {

struct TQtMask {
    QString inputMask;         // for QLineEdit::setInputMask; empty for no mask
    bool saveLiterals = true;  // the stored text keeps the mask's literal characters
    QChar blank = u'_';        // shown for unfilled positions
};

// The stored mask (Windows-1252 text as fields hold it) as a Qt mask.
TQtMask TranslateEditMask(const std::string& storedMask);

// What a masked edit stores: the edit's displayed text without the literal characters when
// the mask does not save them, and with unfilled positions as blanks.
QString MaskedTextToStore(const TQtMask& mask, const QString& displayed);

// False when the displayed text leaves a required position of the mask unfilled while some
// other position is filled (a value left wholly blank is an empty value, not a half-typed one).
bool MaskedTextComplete(const TQtMask& mask, const QString& displayed);

// Raised by the controls that store a masked text for which MaskedTextComplete is false;
// its text is the message shown.
[[noreturn]] void RefuseIncompleteMaskedText();

}  // namespace kjqt
