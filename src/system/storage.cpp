#include "system/storage.h"

#include "system/drives.h"
#include "system/fsname.h"
#include "system/os.h"
#include "system/workers.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QSemaphore>
#include <QTimer>

#include <atomic>
#include <ctime>
#include <pthread.h>
#include <vector>

namespace pel::storage {
namespace {

constexpr int kPollMs = 100;
const char *const kWhileWaiting = "pel.allowedWhileWaiting";

// What a job on its worker shares with the thread that waits for it.
struct JobState {
    std::atomic<bool> started{false};
    std::atomic<bool> failed{false};
    clockid_t cpuClock{};
    QSemaphore done;   // released once the job is over
};

qint64 cpuNs(clockid_t clock)
{
    timespec t{};
    return clock_gettime(clock, &t) == 0 ? qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec : -1;
}

// Input that arrives while a job is waited for is held back and delivered, in
// order, when the outermost wait is over; what a user may do at once is closing
// the main window (its close box, or the menu item that closes it).
class InputGate : public QObject {
public:
    using QObject::QObject;
    bool holding = false;

    bool eventFilter(QObject *receiver, QEvent *e) override
    {
        if (!holding)
            return false;
        auto *w = qobject_cast<QWidget *>(receiver);
        if (!w)
            return false;   // a window's events reach its widgets, and are judged there
        switch (e->type()) {
        case QEvent::Close:
            if (w->isWindow() && !allowed(w)) {
                e->ignore();
                m_closes.append(w);
                return true;
            }
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
            break;
        default:
            return false;
        }
        if (inMenus(w))
            return activatesForbidden(w, e);
        m_held.push_back({QPointer<QObject>(receiver), std::unique_ptr<QEvent>(e->clone())});
        return true;
    }

    // Delivers what was held back, in order, after the current handler.
    void release()
    {
        for (Held &h : m_held) {
            if (h.receiver)
                QCoreApplication::postEvent(h.receiver, h.event.release());
        }
        m_held.clear();
        for (const QPointer<QWidget> &w : std::as_const(m_closes)) {
            if (w)
                QMetaObject::invokeMethod(w, &QWidget::close, Qt::QueuedConnection);
        }
        m_closes.clear();
    }

private:
    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
    };

    static bool allowed(const QObject *o) { return o && o->property(kWhileWaiting).toBool(); }

    static bool inMenus(QWidget *w)
    {
        for (QWidget *p = w; p; p = p->parentWidget()) {
            if (qobject_cast<QMenu *>(p) || qobject_cast<QMenuBar *>(p))
                return true;
        }
        return false;
    }

    // Menus open and close as usual; choosing an item other than those allowed
    // does nothing while a job is waited for.
    static bool activatesForbidden(QWidget *w, QEvent *e)
    {
        auto *menu = qobject_cast<QMenu *>(w);
        if (!menu)
            return false;
        QAction *a = nullptr;
        if (e->type() == QEvent::MouseButtonRelease)
            a = menu->actionAt(static_cast<QMouseEvent *>(e)->position().toPoint());
        else if (e->type() == QEvent::KeyPress)
            a = menu->activeAction();
        return a && !a->menu() && !allowed(a);
    }

    std::vector<Held> m_held;
    QList<QPointer<QWidget>> m_closes;
};

struct Waiting {
    int depth = 0;
    QPointer<InputGate> gate;   // the application's, for its life
    bool cursor = false;
    bool closing = false;
    QList<QEventLoop *> loops;
    QHash<QString, int> stuck;   // volume -> jobs that did not answer and still run
};

Waiting &waitingState()
{
    static Waiting w;
    return w;
}

void enter()
{
    Waiting &s = waitingState();
    if (s.depth == 0 && qApp) {
        if (!s.gate)
            installInputGate();   // late, if no window was made first
        s.gate->holding = true;
    }
    ++s.depth;
}

void leave()
{
    Waiting &s = waitingState();
    if (--s.depth > 0)
        return;
    if (s.cursor) {
        QGuiApplication::restoreOverrideCursor();
        s.cursor = false;
    }
    if (s.gate && s.gate->holding) {
        s.gate->holding = false;
        s.gate->release();
    }
}

// Until the job on `volume` finishes, later jobs there fail at once.
void markStuck(const QString &volume, const QFuture<void> &future)
{
    ++waitingState().stuck[volume];
    auto *watcher = new QFutureWatcher<void>;
    QObject::connect(watcher, &QFutureWatcherBase::finished, watcher, [watcher, volume] {
        Waiting &s = waitingState();
        if (--s.stuck[volume] <= 0)
            s.stuck.remove(volume);
        watcher->deleteLater();
    });
    watcher->setFuture(future);
}

// The mount point holding `path`, from the mount table alone (of any kind of file
// system: a share that stalls is often one the drive list does not show).
QString volumeOf(const QString &path)
{
    const QByteArray p = fsname::encode(path);
    QByteArray best("/");
    for (const QByteArray &m : Drives::mountPoints(os().mountTable())) {
        if (m.size() > best.size() && p.startsWith(m) && (p.size() == m.size() || p[m.size()] == '/'))
            best = m;
    }
    return fsname::decode(best);
}

bool overdue(Limit limit, const JobState &job, const QElapsedTimer &since, qint64 *lastCpu, QElapsedTimer *progress)
{
    const int answerMs = os().storageAnswerMs();
    if (limit == Limit::Answer)
        return since.hasExpired(answerMs);
    if (job.started.load(std::memory_order_acquire)) {
        const qint64 cpu = cpuNs(job.cpuClock);
        if (cpu != *lastCpu) {
            *lastCpu = cpu;
            progress->restart();
        }
    }
    return progress->hasExpired(answerMs);
}

}  // namespace

namespace detail {

struct Started {
    QString volume;
    QFuture<void> future;
    std::shared_ptr<JobState> state;
};

std::shared_ptr<Started> start(const QString &place, std::function<void()> job, Outcome *why)
{
    Waiting &s = waitingState();
    if (s.closing) {
        *why = Outcome::failure(Fault::Closing);
        return nullptr;
    }
    const QString volume = volumeOf(place);
    if (s.stuck.contains(volume)) {
        *why = Outcome::failure(Fault::TimedOut);
        return nullptr;
    }
    auto state = std::make_shared<JobState>();
    QFuture<void> future = workers::run([state, job = std::move(job)] {
        pthread_getcpuclockid(pthread_self(), &state->cpuClock);
        state->started.store(true, std::memory_order_release);
        try {
            job();
        } catch (...) {
            state->failed = true;   // out of memory, say: the job did not happen
        }
        state->done.release();
    });
    return std::make_shared<Started>(Started{volume, std::move(future), std::move(state)});
}

bool finishedWithin(const std::shared_ptr<Started> &job, int ms)
{
    if (!job->state->done.tryAcquire(1, ms))
        return false;
    job->state->done.release();   // for the next look
    return true;
}

Outcome finish(const std::shared_ptr<Started> &job)
{
    job->future.waitForFinished();
    return job->state->failed ? Outcome::failure(Fault::Failed) : Outcome{};
}

Outcome wait(const std::shared_ptr<Started> &job, Limit limit)
{
    Waiting &s = waitingState();
    bool late = false;
    if (!job->future.isFinished() && !s.closing) {
        enter();
        QEventLoop loop;
        s.loops.append(&loop);
        QFutureWatcher<void> watcher;
        QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
        watcher.setFuture(job->future);
        QElapsedTimer since, progress;
        since.start();
        progress.start();
        qint64 lastCpu = -1;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!s.cursor && since.hasExpired(kBusyCursorMs) && qApp) {
                QGuiApplication::setOverrideCursor(Qt::BusyCursor);
                s.cursor = true;
            }
            if (overdue(limit, *job->state, since, &lastCpu, &progress)) {
                late = true;
                loop.quit();
            }
        });
        poll.start(kPollMs);
        if (!job->future.isFinished())
            loop.exec();
        s.loops.removeOne(&loop);
        leave();
    }
    if (job->future.isFinished())
        return job->state->failed ? Outcome::failure(Fault::Failed) : Outcome{};
    if (late)
        markStuck(job->volume, job->future);
    return Outcome::failure(late ? Fault::TimedOut : Fault::Closing);
}

}  // namespace detail

void installInputGate()
{
    Waiting &s = waitingState();
    if (!qApp || s.depth > 0)
        return;
    if (!s.gate)
        s.gate = new InputGate(qApp);   // for the application's life
    qApp->removeEventFilter(s.gate);
    qApp->installEventFilter(s.gate);
}

void close()
{
    Waiting &s = waitingState();
    s.closing = true;
    for (QEventLoop *loop : std::as_const(s.loops))
        loop->quit();
}

bool closing() { return waitingState().closing; }

bool waiting() { return waitingState().depth > 0; }

void reset() { waitingState().closing = false; }

void allowWhileWaiting(QObject *windowOrAction) { windowOrAction->setProperty(kWhileWaiting, true); }

}  // namespace pel::storage
