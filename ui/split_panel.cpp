#include "ui/split_panel.h"

#include <QChildEvent>
#include <QLabel>
#include <QPainter>
#include <algorithm>

namespace kjqt {

TSplitPanFrame& TSplitPanFrame::operator=(const TSplitPanFrame& other) {
    style_ = other.style_;
    spacing_ = other.spacing_;
    pen_ = other.pen_;
    sides_ = other.sides_;
    Changed();
    return *this;
}
void TSplitPanFrame::SetStyle(int style) {
    style_ = style;
    Changed();
}
void TSplitPanFrame::SetSpacing(int spacing) {
    spacing_ = spacing;
    Changed();
}
void TSplitPanFrame::SetPen(const QPen& pen) {
    pen_ = pen;
    Changed();
}
void TSplitPanFrame::SetSides(int sides) {
    sides_ = sides;
    Changed();
}
void TSplitPanFrame::Changed() {
    if (owner_) owner_->Arrange();
}

TSplitPanSeparator& TSplitPanSeparator::operator=(const TSplitPanSeparator& other) {
    style_ = other.style_;
    width_ = other.width_;
    pen_ = other.pen_;
    Changed();
    return *this;
}
void TSplitPanSeparator::SetStyle(int style) {
    style_ = style;
    Changed();
}
void TSplitPanSeparator::SetWidth(int width) {
    width_ = width;
    Changed();
}
void TSplitPanSeparator::SetPen(const QPen& pen) {
    pen_ = pen;
    Changed();
}
void TSplitPanSeparator::Changed() {
    if (owner_) owner_->Arrange();
}

TSplitPanel::TSplitPanel(QWidget* parent) : QWidget(parent) {
    resize(185, 41);
    setAutoFillBackground(false);
}

void TSplitPanel::SetAutoSize(int bits) {
    autoSize_ = bits;
    Arrange();
}
void TSplitPanel::SetOrientation(TSplitOrientation o) {
    orientation_ = o;
    Arrange();
}
void TSplitPanel::SetHideEmptyLabels(bool on) {
    hideEmptyLabels_ = on;
    Arrange();
}
void TSplitPanel::SetCheckLabels(bool on) {
    checkLabels_ = on;
    Arrange();
}

void TSplitPanel::SetTransparent(bool on) {
    if (transparent_ == on) return;
    transparent_ = on;
    setAttribute(Qt::WA_NoSystemBackground, on);
    // What lies behind the panel shows through (or stops showing): repaint it.
    if (parentWidget()) parentWidget()->update(geometry());
    update();
}

void TSplitPanel::SetChildAlign(QWidget* child, TAlign align) {
    align_[child] = align;
    Arrange();
}

TAlign TSplitPanel::ChildAlign(QWidget* child) const {
    return align_.value(child, alNone);
}

QList<QWidget*> TSplitPanel::VisibleChildren() const {
    QList<QWidget*> out;
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isHidden()) continue;
        if (hideEmptyLabels_ && checkLabels_)
            if (auto* label = qobject_cast<QLabel*>(w); label && label->text().trimmed().isEmpty())
                continue;
        out << w;
    }
    return out;
}

void TSplitPanel::Arrange() {
    if (arranging_) return;
    arranging_ = true;
    QList<QWidget*> kids = VisibleChildren();
    const bool row = orientation_ == soRow;
    const int spacing = frame_.Spacing();
    const int sep = separator_.Width();
    // Along: sum of the children's extents; across: the largest.
    int along = 2 * spacing + sep * std::max<int>(int(kids.size()) - 1, 0);
    int across = 0;
    for (QWidget* w : kids) {
        along += row ? w->width() : w->height();
        int extent = row ? w->height() : w->width();
        if (ChildAlign(w) == alNone) extent += row ? w->y() : w->x();
        across = std::max(across, extent);
    }
    across += 2 * spacing;
    int width = row ? along : across, height = row ? across : along;
    if ((autoSize_ & 2) || (autoSize_ & 1))
        resize((autoSize_ & 2) ? width : this->width(), (autoSize_ & 1) ? height : this->height());
    std::stable_sort(kids.begin(), kids.end(), [row](QWidget* a, QWidget* b) {
        return row ? a->x() < b->x() : a->y() < b->y();
    });
    const int inner = (row ? this->height() : this->width()) - 2 * spacing;
    int pos = spacing;
    order_.clear();
    for (QWidget* w : kids) {
        order_ << w;
        const int size = row ? w->width() : w->height();
        const int own = row ? w->height() : w->width();
        int at = spacing, extent = own;
        switch (ChildAlign(w)) {
            case alNone:
                at = row ? w->y() : w->x();
                break;
            case alTop:
                at = row ? spacing : spacing + (inner - own) / 2;
                break;
            case alBottom:
                at = row ? spacing + inner - own : spacing + (inner - own) / 2;
                break;
            case alLeft:
                at = row ? spacing + (inner - own) / 2 : spacing;
                break;
            case alRight:
                at = row ? spacing + (inner - own) / 2 : spacing + inner - own;
                break;
            case alClient:
                at = spacing;
                extent = inner;
                break;
        }
        if (row)
            w->setGeometry(pos, at, size, extent);
        else
            w->setGeometry(at, pos, extent, size);
        pos += size + sep;
    }
    arranging_ = false;
    update();
}

void TSplitPanel::DrawLine(QPainter& p, int style, const QPen& pen, QPoint a, QPoint b) const {
    const QColor light = palette().color(QPalette::Light), dark = palette().color(QPalette::Dark);
    const bool vertical = a.x() == b.x();
    const QPoint step = vertical ? QPoint(1, 0) : QPoint(0, 1);
    switch (style) {
        case 1:
            p.setPen(pen);
            p.drawLine(a, b);
            break;
        case 2:  // raised
        case 3:  // lowered
            p.setPen(style == 2 ? light : dark);
            p.drawLine(a, b);
            p.setPen(style == 2 ? dark : light);
            p.drawLine(a + step, b + step);
            break;
        case 4:
            p.setPen(pen);
            p.drawLine(a, b);
            p.drawLine(a + step * 2, b + step * 2);
            break;
        default:  // 0 none; 5 only in a form editor
            break;
    }
}

void TSplitPanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!transparent_) p.fillRect(rect(), palette().color(backgroundRole()));
    const bool row = orientation_ == soRow;
    const int spacing = frame_.Spacing(), sep = separator_.Width();
    for (int i = 1; i < order_.size(); ++i) {
        QWidget* w = order_[i];
        if (!w) continue;
        int mid = (row ? w->x() : w->y()) - (sep + 1) / 2;
        if (mid <= 0 || mid >= (row ? width() : height())) continue;
        if (row)
            DrawLine(p, separator_.Style(), separator_.Pen(), {mid, spacing},
                     {mid, height() - spacing - 1});
        else
            DrawLine(p, separator_.Style(), separator_.Pen(), {spacing, mid},
                     {width() - spacing - 1, mid});
    }
    const int s = frame_.Style(), r = width() - 1, b = height() - 1;
    const QPen& pen = frame_.Pen();
    if (frame_.Sides() & kSideLeft) DrawLine(p, s, pen, {0, 0}, {0, b});
    if (frame_.Sides() & kSideTop) DrawLine(p, s, pen, {0, 0}, {r, 0});
    if (frame_.Sides() & kSideRight)
        DrawLine(p, s, pen, {r - (s >= 2 ? 1 : 0), 0}, {r - (s >= 2 ? 1 : 0), b});
    if (frame_.Sides() & kSideBottom)
        DrawLine(p, s, pen, {0, b - (s >= 2 ? 1 : 0)}, {r, b - (s >= 2 ? 1 : 0)});
}

void TSplitPanel::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Arrange();
}

void TSplitPanel::childEvent(QChildEvent* event) {
    QWidget::childEvent(event);
    if (event->removed()) align_.remove(static_cast<QWidget*>(event->child()));
    if (event->polished() || event->removed()) Arrange();
}

bool TSplitPanel::event(QEvent* event) {
    if (event->type() == QEvent::LayoutRequest) Arrange();
    return QWidget::event(event);
}

}  // namespace kjqt
