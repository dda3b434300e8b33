// The start procedure: one instance, the main window, the event loop.
#include "app/state/Module1.h"

#include "app/command_line.h"
#include "app/state/appicon.h"
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "kit/x11_display.h"
#include "system/display_profile.h"
#include "system/fonts.h"
#include "system/msgbox.h"
#include "system/single_instance.h"
#include "system/workers.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace pel {

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

bool Module1::firstInstance(const SingleInstance &lock)
{
    if (lock.heldByAnother()) {
        fonts::setApplicationFont();
        MsgBox(QStringLiteral("Ｐｅｌｏｒｉｎａｘは、すでに起動されています。"), vbCritical, QStringLiteral("pelorinax"));
        return false;
    }
    if (!lock.acquired())
        std::fprintf(stderr, "pelorinax: starting without the single-instance check: %s\n",
                     qPrintable(lock.problem()));
    return true;
}

namespace {
// A job still at work when the windows are gone (a copy's bytes being read from a
// slow card) has this long to end; one stuck in a file system that no longer
// answers is left to the end of the process.
constexpr int kLastJobsMs = 2000;

// The application, from the display's opening to the end of its event loop.
int runWindows(char *argv[], const CommandLine &cmd)
{
    // The arguments are ours: Qt must not take a path for one of its own options.
    int qtArgc = 1;
    // Qt aborts when its display does not open; say it in one line instead.
    std::optional<kit::XDisplayFailure> noDisplay(
        std::in_place, "pelorinax: cannot open the display \"" + qgetenv("DISPLAY") + "\": no X server answers there.\n");
    QApplication app(qtArgc, argv);
    noDisplay.reset();
    // While the worker fills the font database, what needs no font: the icon, the
    // lock, the start folder and the main window's controls.
    fonts::applicationReady();
    QApplication::setApplicationName(QStringLiteral("pelorinax"));
    QApplication::setWindowIcon(appIcon());
    SingleInstance lock(QStringLiteral("pelorinax"));

    if (!Module1::firstInstance(lock))
        return 0;
    display_profile::start();

    const bool inStartFolder = enterStartFolder(cmd);
    Form1 &main = Forms::form1();
    main.Show();
    if (inStartFolder)
        pickStartFile(main, cmd);
    return app.exec();
}
}  // namespace

int Module1::proc1(int argc, char *argv[])
{
    const CommandLine cmd = CommandLine::parse(CommandLine::arguments(argc, argv));
    if (const auto status = cmd.report())
        return *status;   // --help, --version or a misuse: no window, no lock
    if (!choosePlatform())
        return 1;
    fonts::preload();
    const int status = runWindows(argv, cmd);
    // The application has gone, and with it the clipboard's last copy (handed to
    // a clipboard manager on the way): the jobs it left end before the process.
    // A read stuck in a share that does not answer may never return, and nothing
    // of ours may wait for it: the process then ends without the usual tidying up.
    if (!workers::finish(kLastJobsMs)) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

}  // namespace pel
