// Start-up time: from the moment a process is spawned to the first painted main
// window. The driver spawns this same executable as a child many times and reads
// back the child's CLOCK_MONOTONIC stamps, so the numbers include exec, dynamic
// loading, QApplication, fonts and the window's construction, load and paint.
//
//   bench_startup [--runs N] [--modes app,plain,noop] [--dir FOLDER]
//       app    the program's own start procedure (Module1::proc1), up to Form1 painted
//       plain  a plain QMainWindow with a few Japanese labels, for comparison
//       noop   exec and library loading only: main() entered, nothing else
//   Offscreen: QT_QPA_PLATFORM=offscreen bench_startup ...
//   X11:       xvfb-run -a -s "-screen 0 1024x768x24" bench_startup ...
#include "app/state/Module1.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

long long nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// ---- child side --------------------------------------------------------------

long long g_mainNs = 0;
long long g_appNs = 0;   // QApplication constructed
long long g_firstPaintNs = 0;
const char *g_watchedWindow = nullptr;   // objectName of the window whose paint ends the run

// Sees every event of the application: the first Paint of the watched window (or
// one of its children) marks the start of the first paint pass; a zero timer
// posted then fires once the whole pass, flush included, is done.
class PaintProbe : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *obj, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && g_firstPaintNs == 0 && obj->isWidgetType()) {
            QWidget *top = static_cast<QWidget *>(obj)->window();
            if (top && top->objectName() == QLatin1String(g_watchedWindow)) {
                g_firstPaintNs = nowNs();
                QTimer::singleShot(0, [] {
                    const long long done = nowNs();
                    std::printf("main_ns=%lld app_ns=%lld first_paint_ns=%lld painted_ns=%lld\n", g_mainNs, g_appNs,
                                g_firstPaintNs, done);
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                });
            }
        }
        return false;
    }
};

// Runs inside every QCoreApplication constructor, also the one proc1 makes, so
// the start procedure itself stays untouched.
void installProbe()
{
    g_appNs = nowNs();
    if (g_watchedWindow)
        qApp->installEventFilter(new PaintProbe(qApp));
}
Q_COREAPP_STARTUP_FUNCTION(installProbe)

int childPlain(int argc, char **argv)
{
    // The program asks for xcb itself when X is there; without this the plain window
    // would also pay for Qt's search of its default platforms.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    QMainWindow w;
    w.setObjectName(QStringLiteral("plain"));
    w.setWindowTitle(QStringLiteral("ＰｅｌｏｒｉｎａｘMini"));
    auto *central = new QWidget;
    auto *layout = new QVBoxLayout(central);
    for (const char *text : {"実寸表示", "実寸表示消去", "クリップボードにコピー", "スライドショー　0.5sec"})
        layout->addWidget(new QLabel(QString::fromUtf8(text)));
    w.setCentralWidget(central);
    w.resize(600, 327);
    w.show();
    return app.exec();
}

int child(const std::string &mode, int argc, char **argv)
{
    if (mode == "noop") {
        std::printf("main_ns=%lld app_ns=%lld first_paint_ns=%lld painted_ns=%lld\n", g_mainNs, g_mainNs, g_mainNs,
                    g_mainNs);
        return 0;
    }
    if (mode == "plain") {
        g_watchedWindow = "plain";
        return childPlain(argc, argv);
    }
    g_watchedWindow = "Form1";
    return pel::Module1::proc1(argc, argv);
}

// ---- driver side -------------------------------------------------------------

struct Sample {
    double toMain, toApp, toFirstPaint, toPainted;   // ms since spawn
};

bool runChild(const char *self, const std::string &mode, Sample *out)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::string modeArg = mode;
    char childFlag[] = "--child";
    char *args[] = {const_cast<char *>(self), childFlag, modeArg.data(), nullptr};
    pid_t pid = 0;
    const long long t0 = nowNs();
    const int rc = posix_spawn(&pid, self, &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return false;
    }
    std::string text;
    char buf[512];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            text.append(buf, std::size_t(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long long mainNs = 0, appNs = 0, firstNs = 0, paintedNs = 0;
    const char *line = std::strstr(text.c_str(), "main_ns=");
    if (!line
        || std::sscanf(line, "main_ns=%lld app_ns=%lld first_paint_ns=%lld painted_ns=%lld", &mainNs, &appNs, &firstNs,
                       &paintedNs)
               != 4)
        return false;
    *out = {(mainNs - t0) / 1e6, (appNs - t0) / 1e6, (firstNs - t0) / 1e6, (paintedNs - t0) / 1e6};
    return true;
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const double pos = p * double(v.size() - 1);
    const std::size_t lo = std::size_t(pos);
    const std::size_t hi = std::min(lo + 1, v.size() - 1);
    return v[lo] + (v[hi] - v[lo]) * (pos - double(lo));
}

void report(const char *what, const std::vector<double> &v)
{
    std::printf("  %-22s median %7.1f ms   min %7.1f   p25 %7.1f   p75 %7.1f   max %7.1f\n", what, percentile(v, 0.5),
                *std::min_element(v.begin(), v.end()), percentile(v, 0.25), percentile(v, 0.75),
                *std::max_element(v.begin(), v.end()));
}

int driver(const char *self, int runs, const std::vector<std::string> &modes)
{
    // A private runtime folder, so the single-instance lock never meets another
    // copy of the program running on the machine.
    QTemporaryDir runtime;
    QFile::setPermissions(runtime.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    const char *platform = std::getenv("QT_QPA_PLATFORM");
    std::printf("platform: %s, display: %s, folder: %s, runs: %d (+1 warm-up each)\n",
                platform ? platform : "(default)", std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "(none)",
                qPrintable(QDir::currentPath()), runs);

    std::map<std::string, std::vector<Sample>> samples;
    for (int i = -1; i < runs; ++i) {
        // Interleaved, so a burst of load elsewhere on the machine hits every mode alike.
        for (const std::string &mode : modes) {
            Sample s{};
            if (!runChild(self, mode, &s)) {
                std::fprintf(stderr, "run of mode %s gave no time\n", mode.c_str());
                return 1;
            }
            if (i >= 0)
                samples[mode].push_back(s);
        }
    }
    for (const std::string &mode : modes) {
        std::vector<double> toMain, toApp, toFirst, toPainted;
        for (const Sample &s : samples[mode]) {
            toMain.push_back(s.toMain);
            toApp.push_back(s.toApp);
            toFirst.push_back(s.toFirstPaint);
            toPainted.push_back(s.toPainted);
        }
        std::printf("%s:\n", mode.c_str());
        report("spawn -> main()", toMain);
        if (mode != "noop") {
            report("spawn -> Qt start hooks", toApp);
            report("spawn -> first Paint", toFirst);
            report("spawn -> painted", toPainted);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    g_mainNs = nowNs();
    if (argc >= 3 && std::strcmp(argv[1], "--child") == 0) {
        int childArgc = 1;
        return child(argv[2], childArgc, argv);
    }

    int runs = 20;
    std::vector<std::string> modes = {"app", "plain", "noop"};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--modes") == 0) {
            modes.clear();
            std::string list = argv[i + 1];
            for (std::size_t at = 0; at <= list.size();) {
                const std::size_t comma = std::min(list.find(',', at), list.size());
                if (comma > at)
                    modes.push_back(list.substr(at, comma - at));
                at = comma + 1;
            }
        } else if (std::strcmp(argv[i], "--dir") == 0) {
            if (chdir(argv[i + 1]) != 0) {
                std::perror(argv[i + 1]);
                return 1;
            }
        }
    }
    // The driver's own path, so the children run exactly this binary.
    char self[4096];
    const ssize_t len = readlink("/proc/self/exe", self, sizeof self - 1);
    if (len <= 0)
        return 1;
    self[len] = '\0';
    return driver(self, runs, modes);
}
