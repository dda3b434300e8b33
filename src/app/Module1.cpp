#include "app/Module1.h"

#include "app/Form1.h"
#include "app/Forms.h"
#include "app/appicon.h"
#include "platform/fonts.h"
#include "platform/msgbox.h"
#include "platform/single_instance.h"

#include <QApplication>
#include <cstdio>

namespace pel {

void Module1::reset()
{
    slide_flag = actual_flag = slide_pos = jyun_flag = 0;
    file_name.clear();
    screen_w = screen_h = 0;
    ver_str.clear();
    frame_w = frame_h = 0;
    hscroll_flag = vscroll_flag = ime_flag = reduce_flag = 0;
}

namespace {
// The windows place themselves, which a Wayland session does not allow: run
// through XWayland there unless the user chose a platform.
bool choosePlatform()
{
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return true;
    const bool x11 = qEnvironmentVariableIsSet("DISPLAY");
    const bool wayland = qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (!x11 && !wayland) {
        std::fputs("pelorinax: no display found (DISPLAY is not set); start it from a desktop session.\n", stderr);
        return false;
    }
    if (x11)
        qputenv("QT_QPA_PLATFORM", "xcb");
    return true;
}
}  // namespace

int Module1::proc1(int argc, char *argv[])
{
    if (!choosePlatform())
        return 1;
    fonts::preload();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("pelorinax"));
    QApplication::setWindowIcon(appIcon());
    fonts::install();
    QApplication::setFont(fonts::font(fonts::kGothic, 9));

    SingleInstance lock(QStringLiteral("pelorinax"));
    if (!lock.acquired()) {
        MsgBox(QStringLiteral("Ｐｅｌｏｒｉｎａｘは、すでに起動されています。"), vbCritical, QStringLiteral("pelorinax"));
        return 0;
    }

    Form1 &main = Forms::form1();
    main.Show();
    return app.exec();
}

}  // namespace pel
