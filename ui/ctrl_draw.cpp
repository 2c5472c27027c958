#include "ui/ctrl_draw.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <forward_list>

#include "ui/split_panel.h"

namespace kjqt {

namespace {

struct Entry {
    const QMetaObject* cls;
    TControlDrawProc proc;
    intptr_t data;
};

struct Registry {
    std::forward_list<Entry> entries;  // newest first
    bool installed = false;
};

Registry& registry() {
    static Registry r;
    return r;
}

const Entry* Find(const QWidget& control) {
    for (const Entry& e : registry().entries)
        if (control.metaObject()->inherits(e.cls)) return &e;
    return nullptr;
}

// The widget and its children (a widget without children: as its own paint event draws it).
void DrawWithChildren(QWidget& w, QPainter& p, intptr_t) {
    w.render(&p, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
}

// A label: its text where its alignment puts it; a picture label: the picture, centred or
// stretched over the label.
void DrawLabel(QWidget& w, QPainter& p, intptr_t) {
    auto& label = static_cast<QLabel&>(w);
    QRect r = label.contentsRect();
    QPixmap pixmap = label.pixmap();
    if (!pixmap.isNull()) {
        if (label.hasScaledContents()) {
            p.drawPixmap(r, pixmap);
        } else {
            QRect target(QPoint(), pixmap.size());
            target.moveCenter(r.center());
            p.drawPixmap(target, pixmap);
        }
        return;
    }
    p.save();
    p.setFont(label.font());
    p.setPen(label.palette().color(QPalette::WindowText));
    p.drawText(r, int(label.alignment()) | (label.wordWrap() ? Qt::TextWordWrap : 0), label.text());
    p.restore();
}

}  // namespace

void RegisterControlDraw(const QMetaObject& cls, TControlDrawProc proc, intptr_t data) {
    registry().entries.push_front({&cls, std::move(proc), data});
}

void UnregisterControlDraw(const QMetaObject& cls) {
    registry().entries.remove_if([&](const Entry& e) { return e.cls == &cls; });
}

const QMetaObject* FindControlDraw(const QWidget& control) {
    const Entry* e = Find(control);
    return e ? e->cls : nullptr;
}

bool DrawControl(QWidget& control, QPainter& painter) {
    const Entry* e = Find(control);
    if (!e) return false;
    e->proc(control, painter, e->data);
    return true;
}

void InstallControlDrawers() {
    if (registry().installed) return;
    registry().installed = true;
    // Oldest first; a widget that has children is drawn with them.
    RegisterControlDraw(QWidget::staticMetaObject, &DrawWithChildren);
    RegisterControlDraw(QLabel::staticMetaObject, &DrawLabel);
    RegisterControlDraw(TSplitPanel::staticMetaObject, &DrawWithChildren);
}

void ClearControlDrawers() {
    registry().entries.clear();
    registry().installed = false;
}

}  // namespace kjqt
