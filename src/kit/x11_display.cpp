#include "kit/x11_display.h"

#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>

namespace pel::kit {

namespace {
QtMessageHandler g_previous = nullptr;
QByteArray g_line;
bool g_failed = false;

void handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArrayView category(context.category ? context.category : "");
    if (type == QtWarningMsg && category == "qt.qpa.xcb"
        && message.startsWith(QLatin1String("could not connect to display"))) {
        g_failed = true;
        return;
    }
    if (g_failed) {
        if (type == QtFatalMsg) {
            std::fputs(g_line.constData(), stderr);
            std::fflush(stderr);
            std::_Exit(1);
        }
        if (category == "qt.qpa.plugin")
            return;   // Qt's account of the same failure
    }
    g_previous(type, context, message);
}
}  // namespace

XDisplayFailure::XDisplayFailure(const QByteArray &line)
{
    g_line = line;
    g_failed = false;
    g_previous = qInstallMessageHandler(handler);
}

XDisplayFailure::~XDisplayFailure()
{
    qInstallMessageHandler(g_previous);
}

}  // namespace pel::kit
