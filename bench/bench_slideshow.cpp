// Speed of the slideshow on large pictures, on a 1920 x 1080 screen.
//   bench_slideshow DIR [WMF]
// DIR holds 24mp.jpg and 24mp.bmp (bench_picture --make DIR writes them); WMF is
// any metafile. Prints, for each picture, the time disp_slide takes on the
// user-interface thread when it decodes the picture itself and when the picture
// was read ahead; then runs a real timed show over 20 copies of the JPEG at 0.5 s
// and prints how late each picture came on screen against the ideal schedule, and
// how late the tick's own work was done (the rest is the paint that follows).
#include "photo.h"
#include "support/scripted_os.h"

#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "picture/decode_cache.h"
#include "system/drives.h"
#include "system/fonts.h"
#include "system/msgbox.h"
#include "system/screen.h"
#include "system/twips.h"
#include "viewer/Form2.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <time.h>
#include <vector>

using namespace pel;

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

Form1 &startIn(const QString &folder)
{
    Forms::unloadAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Module1::reset();
    QDir::setCurrent(folder);
    Drives::resetCurrentFolders();
    Form1 &f = Forms::form1();
    f.Show();
    QCoreApplication::processEvents();
    return f;
}

// disp_slide of the first file of `folder`: the read-ahead is empty, so the tick
// decodes on the user-interface thread.
double withoutReadAhead(const QString &folder)
{
    Form1 &f = startIn(folder);
    Module1::slide_pos = 0;
    Module1::file_name = f.List1->List(0);
    picture::DecodeCache::shared().clear();   // a decode, not the one kept by the last run
    QElapsedTimer t;
    t.start();
    const bool ok = f.disp_slide().ok();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (!ok)
        std::fprintf(stderr, "could not show %s\n", qPrintable(Module1::file_name));
    return ms;
}

// disp_slide of the second file after the first was shown and an interval passed.
double withReadAhead(const QString &folder)
{
    Form1 &f = startIn(folder);
    Module1::slide_pos = 0;
    Module1::file_name = f.List1->List(0);
    f.disp_slide();
    QThread::msleep(600);   // one 0.5 s interval and some: the worker is done
    Module1::slide_pos = 1;
    Module1::file_name = f.List1->List(1);
    QElapsedTimer t;
    t.start();
    f.disp_slide();
    return double(t.nsecsElapsed()) / 1e6;
}

QString folderWith(QTemporaryDir &tmp, const QString &name, const QString &source, int copies)
{
    const QString dir = tmp.path() + QLatin1Char('/') + name;
    QDir().mkpath(dir);
    const QString suffix = QFileInfo(source).suffix();
    for (int i = 0; i < copies; ++i)
        QFile::copy(source, dir + QStringLiteral("/p%1.%2").arg(i, 2, 10, QLatin1Char('0')).arg(suffix));
    // Copies made just now are not kept decoded; a user's photos are older.
    bench::waitUntilSettled(dir);
    return dir;
}

void measurePicture(QTemporaryDir &tmp, const QString &label, const QString &source)
{
    if (!QFile::exists(source)) {
        std::printf("%-10s missing: %s\n", qPrintable(label), qPrintable(source));
        return;
    }
    const QString one = folderWith(tmp, label + QStringLiteral("-1"), source, 1);
    const QString two = folderWith(tmp, label + QStringLiteral("-2"), source, 2);
    std::vector<double> cold, warm;
    for (int i = 0; i < 5; ++i) {
        cold.push_back(withoutReadAhead(one));
        warm.push_back(withReadAhead(two));
    }
    std::printf("%-10s disp_slide: %7.1f ms decoding on the UI thread, %6.2f ms read ahead (medians of 5)\n",
                qPrintable(label), median(cold), median(warm));
}

void measureRun(QTemporaryDir &tmp, const QString &source, int files, int interval)
{
    const QString dir = folderWith(tmp, QStringLiteral("run"), source, files);
    Form1 &f = startIn(dir);
    f.s_time[interval / 500 - 1]->trigger();

    QElapsedTimer clock;
    std::vector<double> shownAt;
    // Connected after the window's own handler: runs when the tick's work is done.
    std::vector<double> doneAt;
    QObject::connect(f.Timer1, &QTimer::timeout, &f, [&] {
        doneAt.push_back(double(clock.nsecsElapsed()) / 1e6);
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);   // paint it
        shownAt.push_back(double(clock.nsecsElapsed()) / 1e6);
    });
    clock.start();
    f.Command4_Click();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!f.Timer1->isActive())
            loop.quit();
    });
    poll.start(50);
    loop.exec();

    // Tick k (from 1) is due at k intervals after the start; the last tick ends the show.
    std::vector<double> late;
    for (size_t k = 0; k < shownAt.size(); ++k)
        late.push_back(shownAt[k] - double(interval) * double(k + 1));
    const double mean = std::accumulate(late.begin(), late.end(), 0.0) / double(late.size());
    const double worst = *std::max_element(late.begin(), late.end());
    std::printf("run of %d x 24 MP JPEG at %d ms: %zu ticks, lateness mean %.1f ms, worst %.1f ms\n", files,
                interval, late.size(), mean, worst);
    for (size_t k = 0; k < late.size(); ++k)
        std::printf("  tick %2zu: %7.1f ms late (work done %.1f)\n", k + 1, late[k], doneAt[k] - double(interval) * double(k + 1));
}

}  // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_slideshow DIR [WMF]\n");
        return 2;
    }
    fonts::install();
    test::ScriptedOs os;   // a bad file would otherwise stop the run for an answer
    os.screen = QSize(1920, 1080);
    const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QTemporaryDir tmp;

    std::printf("load: %s", [] {
        QFile f(QStringLiteral("/proc/loadavg"));
        return f.open(QIODevice::ReadOnly) ? f.readLine().toStdString() : std::string("?\n");
    }().c_str());
    measurePicture(tmp, QStringLiteral("24mp.jpg"), dir + QStringLiteral("/24mp.jpg"));
    measurePicture(tmp, QStringLiteral("24mp.bmp"), dir + QStringLiteral("/24mp.bmp"));
    if (argc > 2)
        measurePicture(tmp, QStringLiteral("wmf"), QString::fromLocal8Bit(argv[2]));
    measureRun(tmp, dir + QStringLiteral("/24mp.jpg"), 20, 500);
    Forms::unloadAll();
    return 0;
}
