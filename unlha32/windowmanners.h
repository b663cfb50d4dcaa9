#pragma once
// What the program's windows and the archive library's windows do alike:
// which input a window that waits for another one ignores, and how a window
// that appears by the program's own doing comes to the screen. The program
// and libunlha32ui.so are separate binaries, so both include this header
// rather than link one copy.
#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <QWindow>

namespace manners {

namespace detail {

// Puts `window`, just shown, behind the user's work where the window manager
// would have put it on top, yet in front of the windows of ours that it
// belongs over. A lowered window goes to the bottom, except that a dialog
// stays just above the window it belongs to: so a dialog's chain of owners
// is lowered from the farthest down to the dialog, and a window without
// owner goes first, then every other window of ours on the screen.
inline void keepOutOfTheWay(QWidget &window)
{
    QWidgetList chain;
    for (QWidget *p = window.parentWidget(); p; p = p->parentWidget())
        if (p->isWindow())
            chain.prepend(p);
    if (!chain.isEmpty()) {
        for (QWidget *w : std::as_const(chain))
            w->lower();
        window.lower();
        return;
    }
    window.lower();
    const QWidgetList all = QApplication::topLevelWidgets();
    for (QWidget *w : all)
        if (w != &window && w->isVisible() && w->windowType() != Qt::SplashScreen
            && w->windowType() != Qt::ToolTip && w->windowType() != Qt::Popup)
            w->lower();
}

} // namespace detail

// Everything by which a user acts on a window. Leave events pass, so that a
// hover highlight from before goes away; the close box is left to each
// caller, which alone knows what closing means there.
inline bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::Enter:
    case QEvent::HoverEnter:
    case QEvent::HoverMove:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::ContextMenu:
    case QEvent::ToolTip:
    case QEvent::WhatsThis:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
        return true;
    default:
        return false;
    }
}

// Whether the user works in another program now: none of our windows is
// active while one that could be (not a splash, tooltip or menu) is on the
// screen. Before the first such window the user has only just started the
// program, which is no background.
inline bool userIsElsewhere()
{
    if (QGuiApplication::applicationState() == Qt::ApplicationActive)
        return false;
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (const QWindow *w : windows) {
        const Qt::WindowType type = w->type();
        if (w->isVisible() && type != Qt::SplashScreen && type != Qt::ToolTip && type != Qt::Popup)
            return true;
    }
    return false;
}

// Shows `window`, which appears by the program's own doing (the end of an
// extraction, a question in the middle of one). When the program is the
// active one, the window comes to the front with the focus. When the user
// works elsewhere, it takes neither the front nor the focus from that work
// and asks for attention instead (the taskbar entry flashes) until the user
// goes to it.
inline void showForUser(QWidget &window)
{
    if (!userIsElsewhere()) {
        window.show();
        window.raise();
        window.activateWindow();
        return;
    }
    // The attribute reaches a native window only when it is created; one
    // that exists already (its frame was measured to centre it) is told
    // through the property that Qt's platform plugins read as they map it.
    window.setAttribute(Qt::WA_ShowWithoutActivating, true);
    QWindow *handle = window.windowHandle();
    if (handle)
        handle->setProperty("_q_showWithoutActivating", true);
    window.show();
    // Only this showing: once the user goes to the window it is activated
    // like any other.
    window.setAttribute(Qt::WA_ShowWithoutActivating, false);
    if (handle || (handle = window.windowHandle()))
        handle->setProperty("_q_showWithoutActivating", QVariant());
    QApplication::alert(&window);
    detail::keepOutOfTheWay(window);
}

} // namespace manners
