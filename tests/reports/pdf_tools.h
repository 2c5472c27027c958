// Reading PDFs back for the report tests: text with pdftotext (layout and word boxes) and
// page facts with pdfinfo. Every call waits at most 30 seconds.
#pragma once

#include <QSizeF>
#include <QString>
#include <QStringList>
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

// The lines of the text that contain every one of the words, in order.
inline QStringList LinesWith(const QString& text, const QStringList& words) {
    QStringList out;
    for (const QString& line : text.split('\n')) {
        qsizetype at = 0;
        bool all = true;
        for (const QString& w : words) {
            at = line.indexOf(w, at);
            if (at < 0) {
                all = false;
                break;
            }
            at += w.size();
        }
        if (all) out << line.simplified();
    }
    return out;
}

}  // namespace kjreptest
