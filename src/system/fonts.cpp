#include "system/fonts.h"

#include "system/workers.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QHash>
#include <QStringList>
#include <QWidget>

#include <fontconfig/fontconfig.h>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace pel::fonts {

namespace {
// A job on the workers reads the font configuration, then, once told that the
// application exists, fills Qt's font database. It is waited for before the first
// font is used, and at the latest when the process ends.
struct Preload {
    enum class App { Pending, Ready, Gone };
    bool started = false;
    QFuture<void> job;
    std::mutex mutex;
    std::condition_variable changed;
    App app = App::Pending;

    void tell(App state)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (app == App::Pending)
                app = state;
        }
        changed.notify_all();
    }
    void run()
    {
        // The same configuration Qt's first font lookup would load (its files
        // parsed, the font cache mapped): 3-5 ms, while the main thread connects
        // to the display. Nothing else uses fontconfig until install() waits.
        FcInit();
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return app != App::Pending; });
        const bool ready = app == App::Ready;
        lock.unlock();
        // Qt's font database is shared by all threads and guarded by its own lock:
        // any question fills it (about a millisecond of fontconfig listing).
        if (ready)
            QFontDatabase::hasFamily(QStringLiteral("IPAPGothic"));
    }
    void wait()
    {
        tell(App::Gone);   // no application: nothing more to fill
        job.waitForFinished();
    }
    ~Preload() { wait(); }
};
Preload g_preload;
}  // namespace

void preload()
{
    if (std::exchange(g_preload.started, true))
        return;
    g_preload.job = workers::run([] { g_preload.run(); });
}

void applicationReady()
{
    g_preload.tell(Preload::App::Ready);
    // A widget made without an application font would have Qt ask fontconfig for
    // its default (on this thread, while the worker still loads the configuration).
    QApplication::setFont(QFont(kGothic, 9));
}

void setApplicationFont()
{
    const QFont wanted = font(kGothic, 9);
    if (QApplication::font() == wanted)
        return;
    QApplication::setFont(wanted);
    // Qt tells the widgets of the change only once the event loop runs; those made
    // meanwhile must not measure with the stand-in.
    QEvent change(QEvent::ApplicationFontChange);
    for (QWidget *w : QApplication::topLevelWidgets())
        QCoreApplication::sendEvent(w, &change);
}

void install()
{
    g_preload.wait();
    static bool done = false;
    if (done)
        return;
    done = true;
    QStringList gothic, mincho;
    gothic << QStringLiteral("IPAPGothic") << QStringLiteral("IPAGothic") << QStringLiteral("Noto Sans CJK JP");
    mincho << QStringLiteral("IPAPMincho") << QStringLiteral("IPAMincho") << QStringLiteral("Noto Serif CJK JP");
    QFont::insertSubstitutions(kGothic, gothic);
    QFont::insertSubstitutions(kMincho, mincho);
}

QString installedFamily(const QString &face)
{
    install();
    // Asked once per face: the answer holds for the life of the process.
    static QHash<QString, QString> known;
    auto it = known.constFind(face);
    if (it != known.constEnd())
        return *it;
    QString family;
    for (const QString &candidate : QFont::substitutes(face)) {
        if (QFontDatabase::hasFamily(candidate)) {
            family = candidate;
            break;
        }
    }
    known.insert(face, family);
    return family;
}

QFont font(const QString &face, double points, bool bold, bool italic)
{
    // The installed stand-in by its own name: the same font the substitution would
    // pick first, but Qt then neither looks for the missing face nor asks fontconfig
    // for a fallback list up front, which cost about a millisecond per font and
    // script at start-up. Glyphs the font lacks still come from fallbacks.
    const QString family = installedFamily(face);
    QFont f(family.isEmpty() ? face : family);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    return f;
}

}  // namespace pel::fonts
