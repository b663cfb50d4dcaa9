#pragma once
// What the program asks of an X11 window manager that Qt does not ask for
// it. On any other platform every call answers "unknown" and does nothing.
#include <QList>
#include <QMargins>
#include <QtGlobal>

#include <optional>

class QWidget;

namespace x11 {

// The frame the window manager will put around `window`, which must be
// created but not yet shown. Asked for with _NET_REQUEST_FRAME_EXTENTS and
// waited for briefly; nullopt without a window manager that answers.
std::optional<QMargins> frameExtents(QWidget &window);

// The managed windows from bottom to top (_NET_CLIENT_LIST_STACKING) on the
// screen of `anyWindow` (created); empty when the window manager does not say.
QList<quintptr> stackingOrder(const QWidget &anyWindow);

// Whether `xcbEvent` (from a native event filter) says that the stacking
// order or the active window changed.
bool isStackingChange(const void *xcbEvent);

} // namespace x11
