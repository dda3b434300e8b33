#include "kit/frame_probe.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHash>
#include <QtGui/qguiapplication_platform.h>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <iterator>
#include <memory>
#include <xcb/xcb.h>

namespace pel::kit {
namespace {

// Atoms never change for a connection; the frame is read on every move of a
// window, so each name is asked of the server once. The names used here are asked
// together, in one round trip.
xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    static QHash<QByteArray, xcb_atom_t> known;
    static bool asked = false;
    if (!asked) {
        asked = true;
        const char *const names[] = {"_NET_SUPPORTING_WM_CHECK", "_NET_FRAME_EXTENTS", "_NET_REQUEST_FRAME_EXTENTS"};
        xcb_intern_atom_cookie_t cookies[std::size(names)];
        for (size_t i = 0; i < std::size(names); ++i)
            cookies[i] = xcb_intern_atom(c, 0, uint16_t(strlen(names[i])), names[i]);
        for (size_t i = 0; i < std::size(names); ++i) {
            xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(c, cookies[i], nullptr);
            if (r && r->atom != XCB_ATOM_NONE)
                known.insert(QByteArray(names[i]), r->atom);
            free(r);
        }
    }
    const QByteArray key(name);
    if (auto it = known.constFind(key); it != known.constEnd())
        return *it;
    xcb_intern_atom_reply_t *r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(r);
    if (a != XCB_ATOM_NONE)
        known.insert(key, a);
    return a;
}

std::optional<QMargins> readExtents(xcb_connection_t *c, xcb_window_t w, xcb_atom_t prop)
{
    xcb_get_property_reply_t *r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, w, prop, XCB_ATOM_CARDINAL, 0, 4), nullptr);
    std::optional<QMargins> m;
    if (r && r->format == 32 && xcb_get_property_value_length(r) == 16) {
        const auto *v = static_cast<const uint32_t *>(xcb_get_property_value(r));
        m = QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));   // left, right, top, bottom
    }
    free(r);
    return m;
}

// Asked once per step: the start asks three times (two probes and the first
// showing) before the event loop runs. The answer is dropped when the event loop
// next runs, so a window manager started or stopped since is seen.
bool windowManagerRuns(xcb_connection_t *c, xcb_window_t root)
{
    static std::optional<bool> known;
    if (known)
        return *known;
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    xcb_get_property_reply_t *r =
        xcb_get_property_reply(c, xcb_get_property(c, 0, root, check, XCB_ATOM_WINDOW, 0, 1), nullptr);
    const bool yes = r && xcb_get_property_value_length(r) == 4;
    free(r);
    known = yes;
    QTimer::singleShot(0, QCoreApplication::instance(), [] { known.reset(); });
    return yes;
}

xcb_connection_t *x11Connection()
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t *c)
{
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    return screen ? screen->root : xcb_window_t(XCB_WINDOW_NONE);
}

}  // namespace

std::optional<QMargins> currentFrameMargins(QWidget &shown)
{
    QWindow *win = shown.windowHandle();
    if (!win || !shown.isVisible())
        return std::nullopt;
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return win->frameMargins();
    xcb_connection_t *c = x11Connection();
    if (!c)
        return std::nullopt;
    if (!windowManagerRuns(c, rootOf(c)))
        return QMargins();
    return readExtents(c, static_cast<xcb_window_t>(shown.winId()), atom(c, "_NET_FRAME_EXTENTS"));
}

namespace {
class FrameExtentsFilter : public QAbstractNativeEventFilter {
public:
    explicit FrameExtentsFilter(std::function<void(quintptr)> changed) : m_changed(std::move(changed)) {}
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *ev = static_cast<const xcb_generic_event_t *>(message);
        if ((ev->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto *pn = static_cast<const xcb_property_notify_event_t *>(message);
        xcb_connection_t *c = x11Connection();
        if (c && pn->state == XCB_PROPERTY_NEW_VALUE && pn->atom == atom(c, "_NET_FRAME_EXTENTS"))
            m_changed(quintptr(pn->window));
        return false;   // Qt still sees every event
    }

private:
    std::function<void(quintptr)> m_changed;
};
}  // namespace

void watchFrameExtents(std::function<void(quintptr window)> changed)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb") || !x11Connection())
        return;
    // Lives as long as the application.
    QCoreApplication::instance()->installNativeEventFilter(new FrameExtentsFilter(std::move(changed)));
}

std::optional<QMargins> probeFrameMargins(Qt::WindowFlags flags)
{
    // Like the real windows: a window manager frames a fixed-size window without
    // resize handles.
    auto makeProbe = [flags] {
        auto probe = std::make_unique<QWidget>(nullptr, flags);
        probe->setFixedSize(200, 100);
        probe->winId();
        return probe;
    };
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        const auto probe = makeProbe();
        QWindow *win = probe->windowHandle();
        return win ? std::optional<QMargins>(win->frameMargins()) : std::nullopt;
    }

    xcb_connection_t *c = x11Connection();
    if (!c)
        return std::nullopt;
    const xcb_window_t root = rootOf(c);
    if (!windowManagerRuns(c, root))
        return QMargins();   // nothing draws a frame; no probe window needed

    const auto probe = makeProbe();
    const auto w = static_cast<xcb_window_t>(probe->winId());
    const xcb_atom_t request = atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = atom(c, "_NET_FRAME_EXTENTS");
    xcb_client_message_event_t ev{};
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = request;
    xcb_send_event(c, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char *>(&ev));
    xcb_flush(c);
    // The window manager answers by setting the property; a quick round trip.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300) {
        if (auto m = readExtents(c, w, extents))
            return m;
        QThread::msleep(2);
    }
    return std::nullopt;
}

}  // namespace pel::kit
