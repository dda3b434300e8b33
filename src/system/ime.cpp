#include "system/ime.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QEvent>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace pel::ime {
namespace {

QStringList g_requests;
const char *const kModeProperty = "pel_ime_mode";
const char *const kWatchedProperty = "pel_ime_watched";

const QString kService = QStringLiteral("org.fcitx.Fcitx5");

// Only a session bus that exists: with no address and no user bus, connecting
// would start one of its own (autolaunch), which nobody asked for.
bool sessionBusKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

void askFramework(int mode)
{
    if (mode != On && mode != Off && mode != Hiragana)
        return;
    if (!sessionBusKnown())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusConnectionInterface *daemon = bus.interface();
    if (!daemon || !daemon->isServiceRegistered(kService).value())
        return;
    // The controller acts on the input context that has the focus; Activate turns
    // on the input method of the user's group (a Japanese engine starts in hiragana).
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QStringLiteral("/controller"),
                                                       QStringLiteral("org.fcitx.Fcitx.Controller1"),
                                                       mode == Off ? QStringLiteral("Deactivate")
                                                                   : QStringLiteral("Activate"));
    call.setAutoStartService(false);
    bus.send(call);   // no reply awaited: the user interface never waits on the bus
}

class FocusWatch : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (e->type() == QEvent::FocusIn) {
            // After the input method's own client has told the framework of the new focus.
            QPointer<QWidget> box = static_cast<QWidget *>(watched);
            QTimer::singleShot(0, box, [box] {
                if (box && box->hasFocus())
                    askFramework(mode(box));
            });
        }
        return false;
    }
};

}  // namespace

void setMode(QWidget *box, int m)
{
    g_requests << box->window()->objectName() + QLatin1Char('.') + box->objectName() + QLatin1Char(':')
                      + QString::number(m);
    box->setProperty(kModeProperty, m);

    Qt::InputMethodHints hints = box->inputMethodHints();
    if (m == Off) {
        hints |= Qt::ImhPreferLatin;
    } else {
        box->setAttribute(Qt::WA_InputMethodEnabled, true);
        hints &= ~(Qt::ImhPreferLatin | Qt::ImhLatinOnly);
    }
    box->setInputMethodHints(hints);   // updates the input method while the box has the focus

    if (!box->property(kWatchedProperty).toBool()) {
        box->setProperty(kWatchedProperty, true);
        box->installEventFilter(new FocusWatch(box));
    }
    if (box->hasFocus())
        askFramework(m);
}

int mode(const QWidget *box) { return box->property(kModeProperty).toInt(); }

QStringList requests() { return g_requests; }
void clearRequests() { g_requests.clear(); }

}  // namespace pel::ime
