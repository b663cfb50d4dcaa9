#include "ui/windows/geometry.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
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

void centreOnScreen(QWidget &w)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Creating the native window lets the platform report frame margins where
    // it already knows them. Under X11 the window manager adds its frame only
    // on first show, so an unshown window measures its client size; move()
    // then places the frame's corner there, leaving the client a frame's
    // width off-centre, which is the best that can be known in advance.
    w.winId();
    const QSize outer = w.frameGeometry().size();
    const QRect s = screen->geometry();
    const QPointF t = centredTwips(float(s.width() * kTwipsPerPixel),
                                   float(s.height() * kTwipsPerPixel),
                                   float(outer.width() * kTwipsPerPixel),
                                   float(outer.height() * kTwipsPerPixel));
    w.move(s.left() + twipsToPixels(float(t.x())), s.top() + twipsToPixels(float(t.y())));
}
