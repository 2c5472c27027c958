// Reading PDFs back for the report tests: text with pdftotext (layout and word boxes) and
// page facts with pdfinfo. Every call waits at most 30 seconds.
#pragma once

#include <QSizeF>
#include <QString>
#include <vector>

namespace kjreptest {

struct PdfWord {
    int page = 0;                                   // 1-based
    double xMin = 0, yMin = 0, xMax = 0, yMax = 0;  // points from the page's top left
    QString text;
};

QString PdfText(const QString& pdf);                // pdftotext -layout, pages split by \f
std::vector<PdfWord> PdfWords(const QString& pdf);  // pdftotext -bbox
QString PdfInfo(const QString& pdf, int page = 0);  // pdfinfo (-f/-l page when given)
int PdfPages(const QString& pdf);
QSizeF PdfPageSize(const QString& pdf, int page);  // points
// The first word with this text (on page, when page > 0); text empty when none.
PdfWord FindWord(const std::vector<PdfWord>& words, const QString& text, int page = 0);
inline double Mm(double points) {
    return points * 25.4 / 72.0;
}

}  // namespace kjreptest
