#include "ui/windows/geometry.h"

#include "ui/windows/x11.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cmath>

QPointF centredTwips(float screenW, float screenH, float winW, float winH)
{
    const float left = (screenW - winW) / 2.0f;
    const float top = (screenH - winH) / 2.0f;
    return QPointF(left, top);
}

int twipsToPixels(float twips)
{
    return static_cast<int>(std::floor(twips / static_cast<float>(kTwipsPerPixel)));
}

QPoint centredClientPosition(const QRect &screen, const QSize &client, const QMargins &frame)
{
    const QSize outer = client.grownBy(frame);
    const QPointF t = centredTwips(float(screen.width() * kTwipsPerPixel),
                                   float(screen.height() * kTwipsPerPixel),
                                   float(outer.width() * kTwipsPerPixel),
                                   float(outer.height() * kTwipsPerPixel));
    return QPoint(screen.left() + twipsToPixels(float(t.x())) + frame.left(),
                  screen.top() + twipsToPixels(float(t.y())) + frame.top());
}

void centreOnScreen(QWidget &w)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // The window manager adds its frame only when the window is shown; under
    // X11 it is asked beforehand, so that the window appears in its place
    // instead of jumping there. Elsewhere the platform's own figure serves.
    w.winId();
    QMargins frame;
    if (!(w.windowFlags() & Qt::FramelessWindowHint)) {
        const std::optional<QMargins> asked = x11::frameExtents(w);
        frame = asked ? *asked : w.windowHandle()->frameMargins();
    }
    const QPoint client = centredClientPosition(screen->geometry(), w.size(), frame);
    // move() places the frame's corner by the frame Qt knows at this moment,
    // which may be none yet; the offset makes the client land where meant.
    w.move(client - (w.geometry().topLeft() - w.pos()));
}
