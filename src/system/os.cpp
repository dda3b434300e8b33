#include "system/os.h"

#include "system/msgbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace pel {
namespace {

Os &realOs()
{
    static Os real;
    return real;
}

std::atomic<Os *> g_installed{nullptr};

// Only a session bus that exists: with no address and no user bus, connecting
// would start one of its own (autolaunch), which nobody asked for.
bool sessionBusKnown()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus"));
}

}  // namespace

Os &os()
{
    Os *o = g_installed.load(std::memory_order_acquire);
    return o ? *o : realOs();
}

void installOs(Os *o) { g_installed.store(o, std::memory_order_release); }

int Os::messageBox(const MsgBoxShown &box)
{
    QMessageBox mb(QApplication::activeWindow());
    mb.setWindowTitle(box.title);
    // A file name such as "<i>c.bmp" is a name, not markup.
    mb.setTextFormat(Qt::PlainText);
    QString text = box.prompt;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    mb.setText(text);
    switch (box.buttons & 0x70) {
    case vbCritical:
        mb.setIcon(QMessageBox::Critical);
        break;
    case vbQuestion:
        mb.setIcon(QMessageBox::Question);
        break;
    case vbExclamation:
        mb.setIcon(QMessageBox::Warning);
        break;
    default:
        break;
    }
    const bool yesNo = (box.buttons & 7) == vbYesNo;
    if (yesNo) {
        mb.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        mb.setDefaultButton((box.buttons & 0x300) == vbDefaultButton2 ? QMessageBox::No : QMessageBox::Yes);
        mb.button(QMessageBox::Yes)->setText(QStringLiteral("はい(&Y)"));
        mb.button(QMessageBox::No)->setText(QStringLiteral("いいえ(&N)"));
    } else {
        mb.setStandardButtons(QMessageBox::Ok);
    }
    const int r = mb.exec();
    if (yesNo)
        return r == QMessageBox::Yes ? vbYes : vbNo;
    return vbOK;
}

QSize Os::screenPixels()
{
    if (auto *s = QGuiApplication::primaryScreen())
        return s->geometry().size();
    return QSize(1024, 768);
}

double Os::twipsPerPixel()
{
    if (auto *screen = QGuiApplication::primaryScreen()) {
        const double dpi = screen->logicalDotsPerInch();
        if (dpi > 1.0)
            return 1440.0 / dpi;
    }
    return 15.0;
}

void Os::switchInputMethod(bool on)
{
    if (!sessionBusKnown())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // The controller acts on the input context that has the focus; Activate turns
    // on the input method of the user's group (a Japanese engine starts in hiragana).
    // Not started on demand: where fcitx5 does not run, the bus answers with an
    // error that nobody waits for, and input stays as it is.
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.fcitx.Fcitx5"), QStringLiteral("/controller"),
                                                       QStringLiteral("org.fcitx.Fcitx.Controller1"),
                                                       on ? QStringLiteral("Activate") : QStringLiteral("Deactivate"));
    call.setAutoStartService(false);
    bus.asyncCall(call);
}

QByteArray Os::mountTable()
{
    QFile f(QStringLiteral("/proc/self/mountinfo"));
    // Files in /proc report size 0: read to the end rather than by size.
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int Os::open(const char *path, int flags, mode_t mode)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int Os::openat(int dir, const char *name, int flags, mode_t mode)
{
    int fd;
    do
        fd = ::openat(dir, name, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

ssize_t Os::readlink(const char *path, char *buffer, size_t size) { return ::readlink(path, buffer, size); }

int Os::fstatat(int dir, const char *name, struct stat *st, int flags) { return ::fstatat(dir, name, st, flags); }
int Os::faccessat(int dir, const char *name, int mode, int flags) { return ::faccessat(dir, name, mode, flags); }
int Os::mkdirat(int dir, const char *name, mode_t mode) { return ::mkdirat(dir, name, mode); }

int Os::renameat2(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    return ::renameat2(fromDir, from, toDir, to, flags);
}

int Os::linkat(int fromDir, const char *from, int toDir, const char *to, int flags)
{
    return ::linkat(fromDir, from, toDir, to, flags);
}

int Os::unlinkat(int dir, const char *name, int flags) { return ::unlinkat(dir, name, flags); }

}  // namespace pel
