// The control-drawing registry: procedures that paint a widget of a given class into a
// painter (a device context), found by the widget's class. Entries are kept newest first and
// the first entry whose class the widget inherits wins, so a class registered after its base
// overrides it. InstallControlDrawers registers the standard ones (any widget, a widget with
// its children, a label's text, a picture label) and the split panel's. GUI thread.
#pragma once

#include <QMetaObject>
#include <cstdint>
#include <functional>

class QPainter;
class QWidget;

namespace kjqt {

using TControlDrawProc = std::function<void(QWidget& control, QPainter& painter, intptr_t data)>;

void RegisterControlDraw(const QMetaObject& cls, TControlDrawProc proc, intptr_t data = 0);
void UnregisterControlDraw(const QMetaObject& cls);
// The class whose entry would draw the widget; nullptr when none.
const QMetaObject* FindControlDraw(const QWidget& control);
// Paints the widget at the painter's origin; false when no entry fits.
bool DrawControl(QWidget& control, QPainter& painter);

// Registers the standard entries (once; later calls do nothing).
void InstallControlDrawers();
// Frees the list (shut-down).
void ClearControlDrawers();

}  // namespace kjqt
