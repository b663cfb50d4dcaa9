#include "ui/windows/disabling.h"

#include "ui/windows/x11.h"
#include "unlha32/windowmanners.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// Qt's own disabled state would grey every control, so windows are never
// disabled in Qt's sense: this filter swallows their input instead, and
// puts the window in charge back in front when the window manager raised
// or activated a disabled window.
class Guard final : public QObject, public QAbstractNativeEventFilter {
public:
    struct Entry {
        QPointer<QWidget> window;
        QPointer<QWidget> inCharge;
    };

    static Guard &instance()
    {
        static Guard *guard = [] {
            auto *g = new Guard(qApp);
            qApp->installEventFilter(g);
            qApp->installNativeEventFilter(g);
            return g;
        }();
        return *guard;
    }

    QWidget *inChargeOf(const QWidget *window) const
    {
        for (const Entry &e : m_entries)
            if (e.window == window)
                return e.inCharge;
        return nullptr;
    }
    bool isDisabled(const QWidget *window) const
    {
        for (const Entry &e : m_entries)
            if (e.window == window)
                return true;
        return false;
    }

    void disable(QWidget &window, QWidget &inCharge)
    {
        enable(window);
        m_entries.append(Entry{&window, &inCharge});
        schedule();
    }
    void enable(QWidget &window)
    {
        m_entries.removeIf([&](const Entry &e) { return !e.window || e.window == &window; });
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!watched->isWidgetType())
            return false;
        auto *w = static_cast<QWidget *>(watched);
        const QEvent::Type type = event->type();
        if (type == QEvent::WindowActivate || type == QEvent::Show) {
            if (w->isWindow() && watching())
                schedule();
            return false;
        }
        return !m_entries.isEmpty() && manners::isUserInput(type) && isDisabled(w->window());
    }

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type == "xcb_generic_event_t" && watching() && x11::isStackingChange(message))
            schedule();
        return false;
    }

private:
    using QObject::QObject;

    // Whether some window is in charge of others: one that disabled them,
    // or a message box, which is modal to the whole program.
    bool watching() const { return !m_entries.isEmpty() || modalBox(); }

    static QWidget *modalBox()
    {
        QWidget *modal = QApplication::activeModalWidget();
        return modal && modal->isVisible() ? modal : nullptr;
    }

    // After the window system's events of the moment have been handled, so
    // that the order and the active window read are the settled ones.
    void schedule()
    {
        if (m_scheduled)
            return;
        m_scheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_scheduled = false;
            settle();
        });
    }

    // The visible window that must be dealt with before `window`: its window
    // in charge, or the one in charge of that in turn.
    QWidget *frontOf(QWidget *window) const
    {
        QWidget *front = nullptr;
        for (int depth = 0; depth < 8; ++depth) {
            QWidget *next = inChargeOf(window);
            if (!next || !next->isVisible())
                break;
            front = window = next;
        }
        return front;
    }

    void settle()
    {
        // While the user works in another program, windows of ours keep out
        // of that program's way: the order is put right when the user
        // comes back, which activates one of them and brings us here.
        if (manners::userIsElsewhere())
            return;
        QWidget *modal = modalBox();
        QWidget *active = QApplication::activeWindow();
        QWidget *activeFront = active && isDisabled(active) ? frontOf(active) : nullptr;
        // A message box is in charge of every other window of the program.
        const bool activeBlocked = modal && active && active != modal;

        // Windows in charge that the window manager has put behind a window
        // they disabled, and a message box put behind any window. Without a
        // stacking order (not X11) only an activation tells that the user
        // brought a disabled window forward.
        QList<QWidget *> toRaise;
        const QWidget *any = modal ? modal : active;
        const QList<quintptr> order = any ? x11::stackingOrder(*any) : QList<quintptr>();
        const auto below = [&](const QWidget *a, const QWidget *b) {
            const qsizetype ia = order.indexOf(quintptr(a->internalWinId()));
            const qsizetype ib = order.indexOf(quintptr(b->internalWinId()));
            return ia >= 0 && ib >= 0 && ia < ib;
        };
        for (const Entry &e : std::as_const(m_entries)) {
            if (!e.window || !e.window->isVisible())
                continue;
            QWidget *front = frontOf(e.window);
            if (front && below(front, e.window) && !toRaise.contains(front))
                toRaise.append(front);
        }
        bool modalBelow = false;
        if (modal) {
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (const QWidget *w : windows)
                modalBelow = modalBelow || (w != modal && w->isVisible() && below(modal, w));
        }
        if (activeFront && !toRaise.contains(activeFront))
            toRaise.append(activeFront);
        if (toRaise.isEmpty() && !modalBelow && !activeBlocked)
            return;

        for (QWidget *w : std::as_const(toRaise))
            w->raise();
        if (modal)
            modal->raise();
        if (activeFront || activeBlocked)
            (modal ? modal : activeFront)->activateWindow();
    }

    QList<Entry> m_entries;
    bool m_scheduled = false;
};

} // namespace

void disableWindow(QWidget &window, QWidget &inCharge) { Guard::instance().disable(window, inCharge); }

void enableWindow(QWidget &window) { Guard::instance().enable(window); }

bool isWindowEnabled(const QWidget &window) { return !Guard::instance().isDisabled(&window); }

void watchWindowOrder() { Guard::instance(); }
