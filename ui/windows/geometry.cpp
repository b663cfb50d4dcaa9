#include "ui/windows/geometry.h"

#include "ui/windows/x11.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimerEvent>
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

namespace {

// move() places the frame's corner by the frame Qt knows at this moment,
// which may be none yet; the offset makes the client land where meant.
void moveClientTo(QWidget &w, const QPoint &client)
{
    w.move(client - (w.geometry().topLeft() - w.pos()));
}

// Puts a window back where it was centred as it is first shown, before it
// is mapped, should the window system have reported another place for it
// meanwhile: Openbox answers the frame request with a configure event that
// puts the window at its frame's corner, and Qt takes that as the window's
// place, to be handed on to the window manager when the window is shown.
// Then, once the window manager has framed the window, the frame it really
// drew is compared with the one the place was computed for: a window manager
// slow to answer the request (a loaded machine) would otherwise leave the
// window half a title bar off.
class KeepPlace final : public QObject {
public:
    KeepPlace(QWidget &w, const QPoint &client, const QMargins &frame)
        : QObject(&w), m_window(w), m_client(client), m_frame(frame)
    {
        w.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && watched == &m_window) {
            if (m_window.geometry().topLeft() != m_client)
                moveClientTo(m_window, m_client);
            m_window.removeEventFilter(this);
            m_timer = startTimer(kPollMs);
        }
        return false;
    }

    void timerEvent(QTimerEvent *) override
    {
        QWindow *handle = m_window.windowHandle();
        const QMargins drawn = handle ? handle->frameMargins() : QMargins();
        if (!drawn.isNull() || ++m_polls * kPollMs >= kGiveUpMs) {
            QScreen *screen = QGuiApplication::primaryScreen();
            if (!drawn.isNull() && drawn != m_frame && screen && m_window.isVisible())
                moveClientTo(m_window, centredClientPosition(screen->geometry(), m_window.size(), drawn));
            killTimer(m_timer);
            deleteLater();
        }
    }

private:
    static constexpr int kPollMs = 20;
    static constexpr int kGiveUpMs = 2000;
    QWidget &m_window;
    QPoint m_client;
    QMargins m_frame;
    int m_polls = 0;
    int m_timer = 0;
};

} // namespace

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
    moveClientTo(w, client);
    if (!w.isVisible())
        new KeepPlace(w, client, frame);
}
