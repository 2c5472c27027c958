// TSplitPanel: a container that lines its child widgets up in a row or a column, in the
// order of their left (row) or top (column) edges, with an optional frame around it and
// separators between them. Each child keeps its width (row) or height (column) and is placed
// across by its own alignment. GUI thread.
//  1. A hidden child takes no place; with both label switches on, neither does a label
//     whose text is empty or only blanks.
//  2. Row: content width = sum of widths + 2 x frame spacing + separator width x (n - 1);
//     content height = the largest child height (a child aligned to nothing counts its top
//     too) + 2 x frame spacing. Column: the same across.
//  3. With automatic sizing the panel takes the content width (bit 1) and/or height (bit 0).
#pragma once

#include <QHash>
#include <QPen>
#include <QPointer>
#include <QWidget>

namespace kjqt {

class TSplitPanel;

// Side bits of a frame.
inline constexpr int kSideLeft = 1, kSideTop = 2, kSideRight = 4, kSideBottom = 8;

// Styles: 0 none, 1 single line in the pen, 2 raised bevel, 3 lowered bevel, 4 double line,
// 5 a dotted line shown only in a form editor (never at run time).
class TSplitPanFrame {
  public:
    explicit TSplitPanFrame(TSplitPanel* owner = nullptr) : owner_(owner) {}
    TSplitPanFrame& operator=(const TSplitPanFrame& other);  // assigns values, keeps owner
    int Style() const { return style_; }
    void SetStyle(int style);
    int Spacing() const { return spacing_; }
    void SetSpacing(int spacing);
    const QPen& Pen() const { return pen_; }
    void SetPen(const QPen& pen);
    int Sides() const { return sides_; }
    void SetSides(int sides);

  private:
    void Changed();
    TSplitPanel* owner_;
    int style_ = 1;
    int spacing_ = 4;
    QPen pen_{Qt::black};
    int sides_ = kSideLeft | kSideTop | kSideRight | kSideBottom;
};

class TSplitPanSeparator {
  public:
    explicit TSplitPanSeparator(TSplitPanel* owner = nullptr) : owner_(owner) {}
    TSplitPanSeparator& operator=(const TSplitPanSeparator& other);
    int Style() const { return style_; }
    void SetStyle(int style);
    int Width() const { return width_; }
    void SetWidth(int width);
    const QPen& Pen() const { return pen_; }
    void SetPen(const QPen& pen);

  private:
    void Changed();
    TSplitPanel* owner_;
    int style_ = 2;
    int width_ = 4;
    QPen pen_{Qt::black};
};

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TSplitOrientation { soRow = 0, soColumn = 1 };

class TSplitPanel : public QWidget {
    Q_OBJECT

  public:
    explicit TSplitPanel(QWidget* parent = nullptr);

    TSplitPanFrame& Frame() { return frame_; }
    TSplitPanSeparator& Separator() { return separator_; }
    int AutoSize() const { return autoSize_; }  // bit 1 width, bit 0 height
    void SetAutoSize(int bits);
    TSplitOrientation Orientation() const { return orientation_; }
    void SetOrientation(TSplitOrientation o);
    void SetHideEmptyLabels(bool on);
    void SetCheckLabels(bool on);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool on);
    void SetChildAlign(QWidget* child, TAlign align);
    TAlign ChildAlign(QWidget* child) const;

    // Lays the children out now (also done on every resize and child change).
    void Arrange();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;
    bool event(QEvent* event) override;

  private:
    QList<QWidget*> VisibleChildren() const;
    void DrawLine(QPainter& p, int style, const QPen& pen, QPoint a, QPoint b) const;

    TSplitPanFrame frame_{this};
    TSplitPanSeparator separator_{this};
    int autoSize_ = 0;
    TSplitOrientation orientation_ = soRow;
    bool hideEmptyLabels_ = false;
    bool checkLabels_ = false;
    bool transparent_ = false;
    bool arranging_ = false;
    QHash<QWidget*, TAlign> align_;
    QList<QPointer<QWidget>> order_;  // children in placing order, rebuilt at each arrangement
};

}  // namespace kjqt
