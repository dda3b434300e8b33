// The actual-size viewer: from a press of 実寸表示 (Form1::Command1_Click) to the
// viewer (Form2) painted, for a 2000 x 1500 JPEG (shown at actual size) and a
// 12000 x 8400 JPEG (too large: shown reduced after a message box, answered OK by
// script), in the real windows on a fixed 1024 x 768 screen. Offscreen unless
// QT_QPA_PLATFORM says otherwise.
//
//   bench_viewer --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
//   bench_viewer --make DIR                 write the two pictures into DIR
//   bench_viewer --rss FILE [--no-preview]  one fresh run for peak memory: start,
//                                           pick FILE (its preview), 実寸表示, copy (and
//                                           what the copy holds), a paste in the process
//   bench_viewer --preview-times FILE       the 267 x 200 preview three times in one fresh
//                                           process: what the first one costs extra
// PEL_BENCH_DIR keeps the pictures between runs (writing 100 MP takes a while).
#include "support/scripted_os.h"
#include "photo.h"

#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "picture/decode_cache.h"
#include "picture/picture.h"
#include "system/drives.h"
#include "system/fonts.h"
#include "system/msgbox.h"
#include "system/screen.h"
#include "system/twips.h"
#include "viewer/Form2.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSignalBlocker>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <time.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

const char *const kActual = "actual_2000x1500.jpg";
const char *const kHuge = "huge_12000x8400.jpg";
const char *const kPhoto = "photo_6000x4000.jpg";

bool makePictures(const QString &dir)
{
    QDir().mkpath(dir);
    struct {
        const char *name;
        int w, h;
    } const pictures[] = {{kActual, 2000, 1500}, {kHuge, 12000, 8400}, {kPhoto, 6000, 4000}};
    for (const auto &p : pictures) {
        const QString path = dir + u'/' + QLatin1String(p.name);
        if (QFile::exists(path))
            continue;
        std::fprintf(stderr, "writing %s\n", qPrintable(path));
        if (!bench::writePhotoJpeg(path, p.w, p.h))
            return false;
    }
    return true;
}

// ---- the windows, as a test starts them -----------------------------------------

pel::test::ScriptedOs &scriptedOs()
{
    static pel::test::ScriptedOs os;
    return os;
}

pel::Form1 &startMainWindow(const QString &folder)
{
    pel::Module1::reset();
    scriptedOs();   // a 1024 x 768 screen, every box answered OK
    bench::waitUntilSettled(folder);   // pictures written just now are not kept decoded
    pel::Drives::resetCurrentFolders();
    QDir::setCurrent(folder);
    pel::Form1 &f = pel::Forms::form1();
    f.Show();
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    return f;
}

// Sees the first paint of the viewer's picture (actual size or reduced).
class ViewerPaintProbe : public QObject {
public:
    bool seen = false;
    bool eventFilter(QObject *obj, QEvent *e) override
    {
        if (e->type() == QEvent::Paint && obj->isWidgetType()) {
            auto *w = static_cast<QWidget *>(obj);
            if (w->window()->objectName() == QLatin1String("Form2")
                && (w->objectName() == QLatin1String("Picture1") || w->objectName() == QLatin1String("Image1")))
                seen = true;
        }
        return false;
    }
};

// Runs the event loop until the viewer's picture has been painted; false on timeout.
bool waitViewerPainted(ViewerPaintProbe &probe)
{
    QElapsedTimer t;
    t.start();
    while (!probe.seen && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return probe.seen;
}

int pick(pel::Form1 &f, const char *name)
{
    for (int i = 0; i < f.List1->ListCount(); ++i)
        if (f.List1->List(i) == QLatin1String(name))
            return i;
    return -1;
}

void closeViewer(pel::Form1 &f)
{
    f.Command3_Click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

// ---- benchmarks ---------------------------------------------------------------

QString g_dir;

pel::Form1 &mainWindow()
{
    static pel::Form1 *f = &startMainWindow(g_dir);
    return *f;
}

// Closes the viewer and selects `name` in the list; false (and the benchmark
// skipped) when the folder does not list it.
bool selectInList(benchmark::State &state, pel::Form1 &f, const char *name)
{
    closeViewer(f);
    const int row = pick(f, name);
    if (row < 0) {
        state.SkipWithError("picture not listed");
        return false;
    }
    f.List1->setListIndex(row);
    return true;
}

// `name` picked in the list (its preview drawn, untimed), then per iteration:
// Command1_Click, the event loop until the viewer's picture is painted. With
// `previewEachTime`, every iteration first draws the preview again (untimed), as a
// click on the entry does, so 実寸表示 follows a fresh preview.
void viewerOpen(benchmark::State &state, const char *name, bool reducedExpected, bool previewEachTime = false)
{
    pel::Form1 &f = mainWindow();
    if (!selectInList(state, f, name))
        return;
    QCoreApplication::processEvents();
    double clickMs = 0;
    for (auto _ : state) {
        if (previewEachTime) {
            f.List1_Click();
            QCoreApplication::processEvents();
        }
        ViewerPaintProbe probe;
        qApp->installEventFilter(&probe);
        QElapsedTimer t;
        t.start();
        f.Command1_Click();
        clickMs += t.nsecsElapsed() / 1e6;
        const bool painted = waitViewerPainted(probe);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
        qApp->removeEventFilter(&probe);
        if (!painted || pel::Module1::actual_flag != 1 || (pel::Module1::reduce_flag == 1) != reducedExpected) {
            state.SkipWithError("the viewer did not show the picture as expected");
            break;
        }
        closeViewer(f);
    }
    state.counters["click_ms"] = benchmark::Counter(clickMs, benchmark::Counter::kAvgIterations);
}

void BM_ViewerActualSize_2000x1500(benchmark::State &state) { viewerOpen(state, kActual, false); }
BENCHMARK(BM_ViewerActualSize_2000x1500)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_ViewerReduced_12000x8400(benchmark::State &state) { viewerOpen(state, kHuge, true); }
BENCHMARK(BM_ViewerReduced_12000x8400)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The viewer showing `name` (untimed), then per iteration: Form1::Command2_Click up
// to its message (the box is answered by script at once, so this is the time the
// user waits for the message), and an untimed pause of 0.3 s.
void copyMessage(benchmark::State &state, const char *name)
{
    pel::Form1 &f = mainWindow();
    if (!selectInList(state, f, name))
        return;
    f.Command1_Click();
    QCoreApplication::processEvents();
    for (auto _ : state) {
        scriptedOs().shown.clear();
        QElapsedTimer t;
        t.start();
        f.Command2_Click();
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
        // A person reads the message before copying again; meanwhile the copy's
        // worker takes the file's bytes.
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (scriptedOs().shown.isEmpty()
            || !scriptedOs().shown.last().prompt.contains(QStringLiteral("コピーしました"))) {
            state.SkipWithError("no copy message");
            break;
        }
    }
    closeViewer(f);
}

void BM_CopyMessage_2000x1500(benchmark::State &state) { copyMessage(state, kActual); }
BENCHMARK(BM_CopyMessage_2000x1500)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_CopyMessage_12000x8400(benchmark::State &state) { copyMessage(state, kHuge); }
BENCHMARK(BM_CopyMessage_12000x8400)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

// As a user does it: the file picked, its preview drawn, then 実寸表示. Both
// pictures are over 32760 twips, so the viewer shows them reduced.
void BM_ViewerAfterPreview_6000x4000(benchmark::State &state) { viewerOpen(state, kPhoto, true, true); }
BENCHMARK(BM_ViewerAfterPreview_6000x4000)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ViewerAfterPreview_12000x8400(benchmark::State &state) { viewerOpen(state, kHuge, true, true); }
BENCHMARK(BM_ViewerAfterPreview_12000x8400)->UseManualTime()->Unit(benchmark::kMillisecond)->MinTime(4.0);

// ---- peak memory in a fresh process -----------------------------------------------

long peakKb()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

long currentKb()
{
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Bytes held in anonymous memory files (the copy keeps the file's bytes in one).
long memoryFileKb()
{
    long total = 0;
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QString target = QFile::symLinkTarget(fds.filePath(fd));
        if (target.startsWith(QLatin1String("/memfd:")))
            total += QFileInfo(fds.filePath(fd)).size() / 1024;
    }
    return total;
}

void stage(const char *what, double ms = -1)
{
    if (ms >= 0)
        std::printf("%-34s peak RSS %6ld MB   current RSS %6ld MB   %8.1f ms\n", what, peakKb() / 1024,
                    currentKb() / 1024, ms);
    else
        std::printf("%-34s peak RSS %6ld MB   current RSS %6ld MB\n", what, peakKb() / 1024, currentKb() / 1024);
    std::fflush(stdout);
}

int rssRun(const QString &file, bool preview)
{
    const QFileInfo info(file);
    stage("QApplication");
    pel::Form1 &f = startMainWindow(info.canonicalPath());
    stage("Form1 shown");
    const QByteArray name = QFile::encodeName(info.fileName());
    const int row = pick(f, name.constData());
    if (row < 0)
        return 1;
    QElapsedTimer t;
    t.start();
    if (preview) {
        f.List1->setListIndex(row);   // runs List1_Click: the preview
    } else {
        const QSignalBlocker quiet(f.List1);   // picked without its preview
        f.List1->setListIndex(row);
    }
    QCoreApplication::processEvents();
    stage(preview ? "picked, preview drawn" : "picked (no preview)", t.nsecsElapsed() / 1e6);

    ViewerPaintProbe probe;
    qApp->installEventFilter(&probe);
    t.restart();
    f.Command1_Click();
    const bool painted = waitViewerPainted(probe);
    qApp->removeEventFilter(&probe);
    stage(pel::Module1::reduce_flag == 1 ? "viewer painted (reduced)" : "viewer painted (actual size)", t.nsecsElapsed() / 1e6);
    if (!painted)
        return 1;

    t.restart();
    f.Command2_Click();
    QCoreApplication::processEvents();
    const bool copied = !scriptedOs().shown.isEmpty()
                        && scriptedOs().shown.last().prompt.contains(QStringLiteral("コピーしました"));
    stage(copied ? "copied (Command2_Click)" : "copy FAILED", t.nsecsElapsed() / 1e6);
    if (!copied)
        return 1;
    // The worker has taken the file's bytes by the time the user has read the message.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    stage("0.5 s after the copy");
    std::printf("%-34s %6ld MB in a memory file (the file is %lld MB)\n", "held by the copy", memoryFileKb() / 1024,
                info.size() >> 20);
    t.restart();
    const QImage pasted = QGuiApplication::clipboard()->image();
    stage(pasted.size() == pel::PictureFile::open(QFile::encodeName(file), 15.0)->pixelSize() ? "pasted in the process (image)"
                                                                      : "paste FAILED",
          t.nsecsElapsed() / 1e6);
    return pasted.isNull() ? 1 : 0;
}

// The first preview of a process pays for lazy set-up (decoder tables, image
// plugins, allocator growth); the later ones show the steady cost.
int previewTimes(const QString &file)
{
    for (int i = 1; i <= 3; ++i) {
        pel::picture::DecodeCache::shared().clear();   // each one a decode
        QElapsedTimer t;
        t.start();
        auto pic = pel::PictureFile::open(QFile::encodeName(file), 15.0);
        const QImage img = pic ? pic->render(QSize(267, 200)) : QImage();
        const double ms = t.nsecsElapsed() / 1e6;
        std::printf("preview %d: %dx%d in %.1f ms, peak RSS %ld MB\n", i, img.width(), img.height(), ms, peakKb() / 1024);
        if (img.isNull())
            return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--make") == 0)
        return makePictures(QString::fromLocal8Bit(argv[2])) ? 0 : 1;

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program starts: its font substitutions and application font.
    pel::fonts::install();
    QApplication::setFont(pel::fonts::font(pel::fonts::kGothic, 9));

    int rc = 0;
    if (argc == 3 && std::strcmp(argv[1], "--preview-times") == 0) {
        rc = previewTimes(QString::fromLocal8Bit(argv[2]));
    } else if (argc >= 3 && std::strcmp(argv[1], "--rss") == 0) {
        rc = rssRun(QString::fromLocal8Bit(argv[2]), !(argc >= 4 && std::strcmp(argv[3], "--no-preview") == 0));
    } else {
        QTemporaryDir tmp;
        const QString dir = qEnvironmentVariable("PEL_BENCH_DIR", tmp.path());
        if (!makePictures(dir))
            return 1;
        g_dir = QDir(dir).canonicalPath();
        benchmark::Initialize(&argc, argv);
        benchmark::RunSpecifiedBenchmarks();
        benchmark::Shutdown();
    }
    pel::Forms::unloadAll();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return rc;
}
