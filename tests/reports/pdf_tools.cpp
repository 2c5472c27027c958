#include "pdf_tools.h"

#include <QProcess>
#include <QRegularExpression>

namespace kjreptest {

namespace {
QString Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        return QString();
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}
}  // namespace

QString PdfText(const QString& pdf) {
    return Run("pdftotext", {"-layout", pdf, "-"});
}

std::vector<PdfWord> PdfWords(const QString& pdf) {
    std::vector<PdfWord> words;
    QString html = Run("pdftotext", {"-bbox", pdf, "-"});
    static const QRegularExpression re(
        R"re(<page |<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    int page = 0;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        auto m = it.next();
        if (m.captured(0).startsWith("<page")) {
            ++page;
            continue;
        }
        PdfWord w;
        w.page = page;
        w.xMin = m.captured(1).toDouble();
        w.yMin = m.captured(2).toDouble();
        w.xMax = m.captured(3).toDouble();
        w.yMax = m.captured(4).toDouble();
        w.text = m.captured(5).replace("&amp;", "&");
        words.push_back(w);
    }
    return words;
}

QString PdfInfo(const QString& pdf, int page) {
    QStringList args;
    if (page > 0) args << "-f" << QString::number(page) << "-l" << QString::number(page);
    args << pdf;
    return Run("pdfinfo", args);
}

int PdfPages(const QString& pdf) {
    static const QRegularExpression re(R"(Pages:\s+(\d+))");
    auto m = re.match(PdfInfo(pdf));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QSizeF PdfPageSize(const QString& pdf, int page) {
    static const QRegularExpression re(R"(Page\s+\d+\s+size:\s+([\d.]+) x ([\d.]+) pts)");
    auto m = re.match(PdfInfo(pdf, page));
    return m.hasMatch() ? QSizeF(m.captured(1).toDouble(), m.captured(2).toDouble()) : QSizeF();
}

PdfWord FindWord(const std::vector<PdfWord>& words, const QString& text, int page) {
    for (const PdfWord& w : words)
        if (w.text == text && (page <= 0 || w.page == page)) return w;
    return PdfWord();
}

}  // namespace kjreptest
