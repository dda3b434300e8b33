#include "system/display_profile.h"

#include "picture/colour.h"
#include "system/os.h"
#include "system/workers.h"

#include <QAbstractNativeEventFilter>
#include <QFuture>
#include <QGuiApplication>
#include <QList>
#include <QThread>
#include <QtGui/qguiapplication_platform.h>

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace pel {
namespace {

// Qt's own connection to the X server (none offscreen or under Wayland).
xcb_connection_t *qtConnection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_window_t rootOfScreen0(xcb_connection_t *c)
{
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    return screens.rem > 0 ? screens.data->root : XCB_NONE;
}

xcb_atom_t iccAtom(xcb_connection_t *c)
{
    const auto cookie = xcb_intern_atom(c, 0, sizeof display_profile::kAtomName - 1, display_profile::kAtomName);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(xcb_intern_atom_reply(c, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Tells the loader again whenever the root window's _ICC_PROFILE changes.
class ProfileWatch final : public QAbstractNativeEventFilter {
public:
    ProfileWatch(xcb_window_t root, xcb_atom_t atom) : root_(root), atom_(atom) {}

    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
            const auto *change = static_cast<const xcb_property_notify_event_t *>(message);
            if (change->window == root_ && change->atom == atom_)
                display_profile::refresh();
        }
        return false;  // Qt may want the root window's other property changes
    }

private:
    xcb_window_t root_;
    xcb_atom_t atom_;
};

// Property changes on the root window reach this client, added to what Qt asked for.
// Qt 6.4 happens to ask for them itself; this does not count on it.
void watchRootProperties(xcb_connection_t *c, xcb_window_t root)
{
    const auto cookie = xcb_get_window_attributes(c, root);
    std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
        xcb_get_window_attributes_reply(c, cookie, nullptr), &std::free);
    const uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
}

// Splits the loader's bands over the pool: all but the first go to workers, the first
// runs here; a band no worker has started yet is run here too, while waiting.
void runOnWorkers(int count, const std::function<void(int)> &job)
{
    QList<QFuture<void>> others;
    for (int i = 1; i < count; ++i)
        others.append(workers::run([&job, i] { job(i); }));
    job(0);
    for (QFuture<void> &f : others)
        f.waitForFinished();
}

}  // namespace

QByteArray Os::displayProfile()
{
    xcb_connection_t *c = qtConnection();
    if (!c)
        return {};
    const xcb_atom_t atom = iccAtom(c);
    const xcb_window_t root = rootOfScreen0(c);
    if (atom == XCB_ATOM_NONE || root == XCB_NONE)
        return {};
    // In 32-bit units; one more byte than the loader accepts tells a profile too large.
    const uint32_t units = uint32_t(picture::colour::kMaxProfileBytes / 4 + 1);
    const auto cookie = xcb_get_property(c, 0, root, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, units);
    std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(xcb_get_property_reply(c, cookie, nullptr), &std::free);
    if (!reply || reply->format != 8 || reply->bytes_after > 0)
        return {};
    return QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

namespace display_profile {

Notifier *notifier()
{
    static Notifier *const shared = [] {
        auto *n = new Notifier;   // for the process's life
        if (QCoreApplication *app = QCoreApplication::instance())
            n->moveToThread(app->thread());
        return n;
    }();
    return shared;
}

void refresh()
{
    namespace colour = picture::colour;
    const QByteArray before = colour::displayProfile();
    const bool srgbBefore = colour::displayIsSrgb();
    // A profile that cannot be used leaves the display as sRGB; the loader says why,
    // which matters to nobody watching the screen.
    colour::setDisplayProfile(os().displayProfile());
    if (colour::displayProfile() == before || (srgbBefore && colour::displayIsSrgb()))
        return;
    Notifier *n = notifier();
    if (QThread::currentThread() == n->thread())
        emit n->changed();
    else
        QMetaObject::invokeMethod(n, [n] { emit n->changed(); }, Qt::QueuedConnection);
}

void start()
{
    picture::colour::setRunner(runOnWorkers);
    static bool watching = false;
    xcb_connection_t *c = qtConnection();
    if (!watching && c) {
        // Watched before the first read, so a change between the two is not lost.
        const xcb_window_t root = rootOfScreen0(c);
        const xcb_atom_t atom = iccAtom(c);
        if (root != XCB_NONE && atom != XCB_ATOM_NONE) {
            watchRootProperties(c, root);
            qGuiApp->installNativeEventFilter(new ProfileWatch(root, atom));  // for the process's life
            watching = true;
        }
    }
    refresh();
}

}  // namespace display_profile
}  // namespace pel
