// Browsing a full folder in the main window: 32767 matching picture names (the
// list's limit) and 5000 others. Measures the change of folder (the folder list
// set to the new path, which refills the file list) up to List1 painted, and the
// parts of it, with the real window shown (offscreen unless QT_QPA_PLATFORM says
// otherwise; a fixed 1024 x 768 screen at 15 twips a pixel).
//
//   bench_browse --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
//   bench_browse --versus-ls [RUNS]   the folder change alone next to a sorted `ls` of
//                                     the same folder, interleaved, medians and their ratio
#include "support/scripted_os.h"
#include "app/state/Form1.h"
#include "app/state/Forms.h"
#include "app/state/Module1.h"
#include "system/drives.h"
#include "system/fonts.h"
#include "system/msgbox.h"
#include "system/screen.h"
#include "system/twips.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalBlocker>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

struct Folders {
    QTemporaryDir root;
    QString big, small;
    Folders()
    {
        const QString base = QDir(root.path()).canonicalPath();
        big = base + QStringLiteral("/big");
        small = base + QStringLiteral("/small");
        QDir().mkpath(big);
        QDir().mkpath(small);
        auto touch = [](const QString &path) {
            if (FILE *f = std::fopen(QFile::encodeName(path).constData(), "w"))
                std::fclose(f);
        };
        for (int i = 1; i <= 32767; ++i)
            touch(big + QStringLiteral("/IMG%1.jpg").arg(i));
        for (int i = 1; i <= 5000; ++i)
            touch(big + (i % 2 ? QStringLiteral("/note%1.txt") : QStringLiteral("/anim%1.gif")).arg(i));
        for (int i = 1; i <= 20; ++i)
            touch(small + QStringLiteral("/IMG%1.jpg").arg(i));
    }
};

Folders &folders()
{
    static Folders f;
    return f;
}

// The main window as the program shows it, started in the small folder.
pel::Form1 &mainWindow()
{
    static pel::Form1 *form = [] {
        static pel::test::ScriptedOs os;   // a 1024 x 768 screen, every box answered
        pel::Drives::resetCurrentFolders();
        QDir::setCurrent(folders().small);
        pel::Form1 *f = &pel::Forms::form1();
        f->Show();
        for (int i = 0; i < 10; ++i)
            QCoreApplication::processEvents();
        return f;
    }();
    return *form;
}

void openFolder(pel::Form1 &f, const QString &path)
{
    f.Dir1->setPath(path);   // runs Dir1_Change, which refills List1
}

// Leaves the big folder and lets the window settle, outside the timed part.
void backToSmall(pel::Form1 &f)
{
    openFolder(f, folders().small);
    f.List1->repaint();
    QCoreApplication::processEvents();
}

void checkListed(benchmark::State &state, pel::Form1 &f)
{
    state.counters["listed"] = f.List1->ListCount();
    if (f.List1->ListCount() != 32767)
        state.SkipWithError("List1 does not hold the 32767 pictures");
}

// Every timed folder change needs an untimed one back first, so the count of
// iterations is fixed instead of grown until a minimum time is reached.
constexpr int kIterations = 15;

// Times the change from the small folder to the big one, then `paint` (if any).
template <typename Paint>
void timeFolderChange(benchmark::State &state, Paint paint)
{
    pel::Form1 &f = mainWindow();
    for (auto _ : state) {
        backToSmall(f);
        QElapsedTimer t;
        t.start();
        openFolder(f, folders().big);
        paint(f);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
    }
    checkListed(state, f);
}

// The whole step the user waits for: new folder chosen -> List1 painted.
void BM_FolderChangeToList1Painted(benchmark::State &state)
{
    timeFolderChange(state, [](pel::Form1 &f) { f.List1->repaint(); });
}
BENCHMARK(BM_FolderChangeToList1Painted)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMillisecond);

// The same, but what the event loop does next: the whole window's pending updates
// (folder list, file list) painted, not List1 alone.
void BM_FolderChangeToWindowPainted(benchmark::State &state)
{
    timeFolderChange(state, [](pel::Form1 &f) { f.repaint(); });
}
BENCHMARK(BM_FolderChangeToWindowPainted)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMillisecond);

// The folder change alone (folder list refilled, scan, sort, List1 model reset), no paint.
void BM_FolderChangeOnly(benchmark::State &state)
{
    timeFolderChange(state, [](pel::Form1 &) {});
}
BENCHMARK(BM_FolderChangeOnly)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMillisecond);

// List1's first paint after it was refilled with the 32767 names.
void BM_List1FirstPaint(benchmark::State &state)
{
    pel::Form1 &f = mainWindow();
    for (auto _ : state) {
        backToSmall(f);
        openFolder(f, folders().big);
        QElapsedTimer t;
        t.start();
        f.List1->repaint();
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
    }
    checkListed(state, f);
}
BENCHMARK(BM_List1FirstPaint)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMillisecond);

// The parts of a folder change, each alone. The folder list: parent chain and
// sub-folders of the new path (its Change signal held back).
void BM_PartDir1Fill(benchmark::State &state)
{
    pel::Form1 &f = mainWindow();
    for (auto _ : state) {
        backToSmall(f);
        const QSignalBlocker quiet(f.Dir1);
        QElapsedTimer t;
        t.start();
        f.Dir1->setPath(folders().big);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
    }
}
BENCHMARK(BM_PartDir1Fill)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMillisecond);

// The hidden file list: scan with the pattern and natural sort.
void BM_PartFile1Scan(benchmark::State &state)
{
    pel::Form1 &f = mainWindow();
    for (auto _ : state) {
        f.File1->setPath(folders().small);
        QElapsedTimer t;
        t.start();
        f.File1->setPath(folders().big);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
    }
    state.counters["listed"] = f.File1->ListCount();
}
BENCHMARK(BM_PartFile1Scan)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMillisecond);

// List1 given the 32767 names (model reset, selection cleared), no paint.
void BM_PartList1SetItems(benchmark::State &state)
{
    pel::Form1 &f = mainWindow();
    f.File1->setPath(folders().big);
    const QStringList names = f.File1->names();
    for (auto _ : state) {
        f.List1->setItems({});
        QElapsedTimer t;
        t.start();
        f.List1->setItems(names);
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
    }
    state.counters["listed"] = f.List1->ListCount();
}
BENCHMARK(BM_PartList1SetItems)->UseManualTime()->Iterations(kIterations)->Unit(benchmark::kMicrosecond);

// A repaint of the already laid-out full list, for comparison with the first one.
void BM_List1Repaint(benchmark::State &state)
{
    pel::Form1 &f = mainWindow();
    openFolder(f, folders().big);
    f.List1->repaint();
    for (auto _ : state) {
        QElapsedTimer t;
        t.start();
        f.List1->repaint();
        state.SetIterationTime(t.nsecsElapsed() / 1e9);
    }
    checkListed(state, f);
}
BENCHMARK(BM_List1Repaint)->UseManualTime()->Unit(benchmark::kMillisecond);

// ---- side by side with ls ----------------------------------------------------

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// One `ls` of `folder` (one name a line, sorted by its locale), output to
// /dev/null, from spawn to exit.
double timeLs(const QString &folder)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const QByteArray dir = QFile::encodeName(folder);
    char ls[] = "ls";
    char *args[] = {ls, const_cast<char *>(dir.constData()), nullptr};
    QElapsedTimer t;
    t.start();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "ls", &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return t.nsecsElapsed() / 1e6;
}

double loadAverage()
{
    double load = -1;
    if (FILE *f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = -1;
        std::fclose(f);
    }
    return load;
}

int versusLs(int runs)
{
    pel::Form1 &f = mainWindow();
    std::vector<double> app, list, lsTimes;
    for (int i = -1; i < runs; ++i) {   // one warm-up round
        double change = 0, files = 0;
        // Each measured from the small folder (all three lists back there); which
        // goes first alternates.
        for (int k = 0; k < 2; ++k) {
            backToSmall(f);
            f.File1->setPath(folders().small);
            f.List1->setItems(f.File1->names());
            QElapsedTimer t;
            if ((k + i) % 2 == 0) {
                t.start();
                openFolder(f, folders().big);
                change = t.nsecsElapsed() / 1e6;
            } else {
                t.start();
                f.File1->setPath(folders().big);   // read, match, sort: the file list alone
                f.List1->setItems(f.File1->names());
                files = t.nsecsElapsed() / 1e6;
            }
        }
        const double ls = timeLs(folders().big);
        if (ls < 0 || f.List1->ListCount() != 32767) {
            std::fprintf(stderr, "ls failed or the list is not full\n");
            return 1;
        }
        if (i >= 0) {
            app.push_back(change);
            list.push_back(files);
            lsTimes.push_back(ls);
        }
    }
    const double ls = median(lsTimes);
    std::printf("folder of 32767 pictures + 5000 others, %d runs, load average %.2f\n", runs, loadAverage());
    std::printf("  folder change (Dir1 refilled, File1 read + matched + sorted, List1 given the names): %7.2f ms  %.2fx ls\n",
                median(app), median(app) / ls);
    std::printf("  File1 read + matched + sorted, List1 given the names, no folder list:             %7.2f ms  %.2fx ls\n",
                median(list), median(list) / ls);
    std::printf("  ls FOLDER > /dev/null (spawn to exit):                                            %7.2f ms\n", ls);
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // As the program starts: its font substitutions and application font.
    pel::fonts::install();
    QApplication::setFont(pel::fonts::font(pel::fonts::kGothic, 9));
    if (argc >= 2 && std::strcmp(argv[1], "--versus-ls") == 0) {
        const int rc = versusLs(argc >= 3 ? std::max(1, std::atoi(argv[2])) : 30);
        pel::Forms::unloadAll();
        return rc;
    }
    benchmark::Initialize(&argc, argv);
    folders();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    pel::Forms::unloadAll();
    return 0;
}
