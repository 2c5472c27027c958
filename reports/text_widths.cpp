#include "reports/text_widths.h"

#include <cmath>

namespace kjrep {

TTextWidths::TTextWidths(const QFont& font, QPaintDevice* device)
    : font_(font),
      fm_(font, device),
      exact_(font, device),
      kerning_(font.kerning()),
      ascent_(fm_.ascent()) {
    advances_.fill(-1);
}

bool TTextWidths::ShortWay(const QString& text, double& sum) {
    sum = 0;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x100 || u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0xAD || u == 'f')
            return false;  // the soft hyphen shows only where a line breaks
        double& a = advances_[u];
        if (a < 0) a = exact_.horizontalAdvance(c);
        sum += a;
    }
    return true;
}

int TTextWidths::Width(const QString& text) {
    double sum = 0;
    // The advances are whole 64ths of a pixel, so the sum is exact and rounds as the layout's.
    if (!kerning_ && ShortWay(text, sum)) return qRound(sum);
    return fm_.horizontalAdvance(text);
}

}  // namespace kjrep
