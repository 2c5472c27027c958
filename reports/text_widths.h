// Widths of report texts in one item font on the recording's device. A report measures every
// item it prints (to align it and to decide whether it wraps), so the common texts take a
// short way: with kerning off, a Latin-1 text without the letter that begins the Latin
// ligatures ("f") and without soft hyphens is as wide as its characters' advances together,
// which are looked up once per character. Every other text goes through the font's own
// layout. GUI thread.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <array>

class QPaintDevice;

namespace kjrep {

class TTextWidths {
  public:
    // font: kerning off (the report fonts are), else only the long way is exact.
    TTextWidths(const QFont& font, QPaintDevice* device);
    // What QFontMetrics::horizontalAdvance gives for the text.
    int Width(const QString& text);
    const QFontMetrics& Metrics() const { return fm_; }
    const QFont& Font() const { return font_; }
    int Ascent() const { return ascent_; }

  private:
    bool ShortWay(const QString& text, double& sum);

    QFont font_;
    QFontMetrics fm_;
    QFontMetricsF exact_;
    bool kerning_;
    int ascent_;
    std::array<double, 256> advances_;  // < 0: not looked up yet
};

}  // namespace kjrep
