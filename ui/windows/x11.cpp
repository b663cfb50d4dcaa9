#include "ui/windows/x11.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <memory>
#include <thread>

namespace x11 {
namespace {

// libxcb is taken from Qt's xcb platform plugin, which has loaded it; the
// program itself does not link it, so on other platforms nothing is loaded.
struct Xcb {
    decltype(&xcb_intern_atom) internAtom = nullptr;
    decltype(&xcb_intern_atom_reply) internAtomReply = nullptr;
    decltype(&xcb_get_property) getProperty = nullptr;
    decltype(&xcb_get_property_reply) getPropertyReply = nullptr;
    decltype(&xcb_get_property_value) propertyValue = nullptr;
    decltype(&xcb_get_property_value_length) propertyValueLength = nullptr;
    decltype(&xcb_query_tree) queryTree = nullptr;
    decltype(&xcb_query_tree_reply) queryTreeReply = nullptr;
    decltype(&xcb_send_event) sendEvent = nullptr;
    decltype(&xcb_flush) flush = nullptr;

    xcb_connection_t *connection = nullptr;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t supported = XCB_NONE;
    xcb_atom_t requestFrameExtents = XCB_NONE;
    xcb_atom_t frameExtents = XCB_NONE;
    xcb_atom_t clientListStacking = XCB_NONE;
    xcb_atom_t activeWindow = XCB_NONE;
};

template <typename F> bool resolve(void *lib, F &fn, const char *name)
{
    fn = reinterpret_cast<F>(dlsym(lib, name));
    return fn != nullptr;
}

struct Free {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, Free>;

xcb_atom_t atom(const Xcb &x, const char *name)
{
    const Reply<xcb_intern_atom_reply_t> r(x.internAtomReply(
        x.connection, x.internAtom(x.connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return r ? r->atom : XCB_NONE;
}

// The 32-bit values of a property; empty when it is not there.
QList<quint32> property(const Xcb &x, xcb_window_t w, xcb_atom_t prop, xcb_atom_t type,
                        uint32_t count)
{
    QList<quint32> values;
    const Reply<xcb_get_property_reply_t> r(
        x.getPropertyReply(x.connection, x.getProperty(x.connection, 0, w, prop, type, 0, count),
                           nullptr));
    if (!r || r->type != type || r->format != 32)
        return values;
    const auto *data = static_cast<const quint32 *>(x.propertyValue(r.get()));
    const int n = x.propertyValueLength(r.get()) / 4;
    for (int i = 0; i < n; ++i)
        values.append(data[i]);
    return values;
}

const Xcb *xcb()
{
    static const std::optional<Xcb> loaded = []() -> std::optional<Xcb> {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            return std::nullopt;
        auto *native = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        void *lib = dlopen("libxcb.so.1", RTLD_LAZY | RTLD_NOLOAD);
        if (!native || !native->connection() || !lib)
            return std::nullopt;
        Xcb x;
        const bool ok = resolve(lib, x.internAtom, "xcb_intern_atom")
            && resolve(lib, x.internAtomReply, "xcb_intern_atom_reply")
            && resolve(lib, x.getProperty, "xcb_get_property")
            && resolve(lib, x.getPropertyReply, "xcb_get_property_reply")
            && resolve(lib, x.propertyValue, "xcb_get_property_value")
            && resolve(lib, x.propertyValueLength, "xcb_get_property_value_length")
            && resolve(lib, x.queryTree, "xcb_query_tree")
            && resolve(lib, x.queryTreeReply, "xcb_query_tree_reply")
            && resolve(lib, x.sendEvent, "xcb_send_event")
            && resolve(lib, x.flush, "xcb_flush");
        if (!ok)
            return std::nullopt;
        x.connection = native->connection();
        x.supported = atom(x, "_NET_SUPPORTED");
        x.requestFrameExtents = atom(x, "_NET_REQUEST_FRAME_EXTENTS");
        x.frameExtents = atom(x, "_NET_FRAME_EXTENTS");
        x.clientListStacking = atom(x, "_NET_CLIENT_LIST_STACKING");
        x.activeWindow = atom(x, "_NET_ACTIVE_WINDOW");
        return x;
    }();
    return loaded ? &*loaded : nullptr;
}

xcb_window_t rootOf(const Xcb &x, xcb_window_t w)
{
    const Reply<xcb_query_tree_reply_t> r(
        x.queryTreeReply(x.connection, x.queryTree(x.connection, w), nullptr));
    return r ? r->root : XCB_NONE;
}

xcb_window_t root(Xcb &x, xcb_window_t any)
{
    if (x.root == XCB_NONE)
        x.root = rootOf(x, any);
    return x.root;
}

} // namespace

std::optional<QMargins> frameExtents(QWidget &window)
{
    auto *x = const_cast<Xcb *>(xcb());
    if (!x)
        return std::nullopt;
    const auto w = xcb_window_t(window.winId());
    const xcb_window_t r = root(*x, w);
    // Asked afresh each time: the list goes when the window manager does.
    if (r == XCB_NONE
        || !property(*x, r, x->supported, XCB_ATOM_ATOM, 1024).contains(x->requestFrameExtents))
        return std::nullopt;

    xcb_client_message_event_t ev;
    std::memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = x->requestFrameExtents;
    x->sendEvent(x->connection, 0, r,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char *>(&ev));
    x->flush(x->connection);

    // The answer is a property the window manager sets, typically within a
    // millisecond; Qt's own event queue is left alone meanwhile.
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(250);
    do {
        const QList<quint32> e = property(*x, w, x->frameExtents, XCB_ATOM_CARDINAL, 4);
        if (e.size() == 4) // left, right, top, bottom
            return QMargins(int(e[0]), int(e[2]), int(e[1]), int(e[3]));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (clock::now() < deadline);
    return std::nullopt;
}

QList<quintptr> stackingOrder(const QWidget &anyWindow)
{
    QList<quintptr> order;
    auto *x = const_cast<Xcb *>(xcb());
    if (!x || !anyWindow.internalWinId())
        return order;
    const xcb_window_t r = root(*x, xcb_window_t(anyWindow.internalWinId()));
    if (r == XCB_NONE)
        return order;
    for (quint32 w : property(*x, r, x->clientListStacking, XCB_ATOM_WINDOW, 4096))
        order.append(w);
    return order;
}

bool isStackingChange(const void *xcbEvent)
{
    const Xcb *x = xcb();
    const auto *ev = static_cast<const xcb_generic_event_t *>(xcbEvent);
    if (!x || (ev->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    // Both properties live on the root window only.
    const auto *p = static_cast<const xcb_property_notify_event_t *>(xcbEvent);
    return p->atom == x->clientListStacking || p->atom == x->activeWindow;
}

} // namespace x11
