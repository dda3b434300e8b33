// While a read hangs on a share that stopped answering, how long does the main
// window take to repaint once it is uncovered? The main window previews a picture
// on a test file system whose calls are held (tests/support/slowfs.py); meanwhile
// another window covers it and goes away again, again and again, and the time from
// the cover's going to the main window's next paint is taken.
//
//     xvfb-run -a -s "-screen 0 1024x768x24" bench_storage [ROUNDS]
//
// Needs an X display (uncovering is the X server's Expose), FUSE and python3-fusepy, as root.
#include "support/scripted_os.h"
#include "support/slowfs.h"
#include "support/windows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace pel;

namespace {
class FirstPaint : public QObject {
public:
    QElapsedTimer since;
    bool waiting = false;
    std::vector<double> ms;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && waiting) {
            ms.push_back(double(since.nsecsElapsed()) / 1e6);
            waiting = false;
        }
        return false;
    }
};
}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "bench_storage needs an X display (run it under xvfb-run)\n");
        return 2;
    }
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    fonts::install();
    test::ScriptedOs os;   // the bad-file message at the end is answered by script
    os.answerMs = 5000;    // as the program waits
    test::SlowFs fs;
    if (!fs.mount()) {
        std::fprintf(stderr, "%s\n", qPrintable(fs.why()));
        return 2;
    }
    QDir().mkpath(fs.source() + "/pics");
    test::makePicture(fs.source() + "/pics/a.jpg", 640, 480, "JPG");
    QDir::setCurrent(fs.path() + "/pics");
    Form1 &f = Forms::form1();
    f.Show();
    QWidget cover;
    cover.setGeometry(QRect(QPoint(0, 0), QGuiApplication::primaryScreen()->size()));
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();

    FirstPaint paint;
    f.canvas->installEventFilter(&paint);
    fs.stall({"pics"});
    // Cover, then uncover: every 300 ms while the preview waits for the held read.
    int left = rounds;
    QTimer cycle;
    QObject::connect(&cycle, &QTimer::timeout, [&] {
        if (cover.isVisible()) {
            cover.hide();
            paint.since.start();
            paint.waiting = true;
            --left;
        } else if (left > 0) {
            cover.show();
        }
    });
    cycle.start(150);
    QTimer::singleShot(100, [&] { f.List1->setListIndex(0); });   // the preview, which hangs
    QElapsedTimer total;
    total.start();
    while (left > 0 && !total.hasExpired(60000))
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    cycle.stop();
    fs.release();

    std::vector<double> ms = paint.ms;
    std::sort(ms.begin(), ms.end());
    std::printf("uncovered while a read hangs: %zu of %d rounds repainted", ms.size(), rounds);
    if (!ms.empty())
        std::printf(", median %.1f ms, worst %.1f ms", ms[ms.size() / 2], ms.back());
    std::printf("\n");
    Forms::unloadAll();
    return ms.size() == size_t(rounds) ? 0 : 1;
}
