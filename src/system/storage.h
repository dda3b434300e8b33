#pragma once
// Work that touches storage runs on a worker, never on the user-interface thread:
// a folder on a share that stopped answering, or a picture on a card being pulled
// out, must not freeze the windows. storage::run() hands the job to a worker and
// waits for it in a nested event loop, so the windows repaint and answer the window
// manager meanwhile, while input that would change the program's state is held back
// and delivered, in order, once the job is done: a handler's steps still happen in
// their order, as if the call had been an ordinary one.
//
// How long storage may take to answer is the Os's (a few seconds). A job that does
// not answer in time is left to finish on its own thread; the
// program never waits for it again, and until it finishes every later job on the
// same volume fails at once instead of starting another read that would stick.
#include "system/result.h"

#include <QString>

#include <functional>
#include <type_traits>
#include <memory>
#include <utility>

class QObject;

namespace pel::storage {

// After this long the windows show the busy cursor.
inline constexpr int kBusyCursorMs = 200;

enum class Limit {
    Answer,     // the whole job answers in time (a folder read, a rename)
    Progress,   // the job keeps working: it fails after that long without any
                // progress (a decode of a large picture may take longer in all)
};

namespace detail {
struct Started;   // a job under way on a worker
// Starts `job` on a worker for `place`; null (with *why) when the place is still
// stuck from before, or the program is closing: nothing is started then.
std::shared_ptr<Started> start(const QString &place, std::function<void()> job, Outcome *why);
// Waits here for a started job. Fault::TimedOut when it did not answer in time (it
// is left to finish on its own, and its volume is not read again until it does),
// Fault::Closing when the program closes meanwhile.
Outcome wait(const std::shared_ptr<Started> &job, Limit limit);
// Waits for a started job up to `ms` without an event loop (before the windows
// show); true when it is done.
bool finishedWithin(const std::shared_ptr<Started> &job, int ms);
// The outcome of a job that is done.
Outcome finish(const std::shared_ptr<Started> &job);
}  // namespace detail

// A job started ahead (the slideshow's next picture), waited for when needed.
template <class T>
class Pending {
public:
    Pending() = default;
    bool valid() const { return m_started != nullptr || !m_why.ok(); }
    // The job's value, or why there is none; waits here for it (see run()).
    // Whether the job is done within `ms`, blocking this thread without an event loop
    // meanwhile: for the start, before any window shows.
    bool doneWithin(int ms) const { return !m_started || detail::finishedWithin(m_started, ms); }

    // The value of a job found done by doneWithin(), without an event loop.
    Result<T> takeDone()
    {
        if (!m_started)
            return Result<T>::failure(m_why.ok() ? Outcome::failure(Fault::Failed) : m_why);
        const Outcome why = detail::finish(std::exchange(m_started, nullptr));
        if (!why.ok())
            return Result<T>::failure(why);
        return Result<T>::of(std::move(*m_value));
    }

    Result<T> take()
    {
        if (!m_started)
            return Result<T>::failure(m_why.ok() ? Outcome::failure(Fault::Failed) : m_why);
        const Outcome why = detail::wait(std::exchange(m_started, nullptr), m_limit);
        if (!why.ok())
            return Result<T>::failure(why);
        return Result<T>::of(std::move(*m_value));
    }

private:
    template <class Job>
    friend auto start(const QString &place, Limit limit, Job &&job) -> Pending<std::invoke_result_t<Job>>;
    std::shared_ptr<detail::Started> m_started;
    std::shared_ptr<T> m_value;
    Outcome m_why;
    Limit m_limit = Limit::Answer;
};

// Starts `job` (any thread may run it; it must not touch widgets) for a file or
// folder at `place`; take() gives its value.
template <class Job>
auto start(const QString &place, Limit limit, Job &&job) -> Pending<std::invoke_result_t<Job>>
{
    using T = std::invoke_result_t<Job>;
    Pending<T> p;
    // The job may outlive its Pending (a stuck read): it owns what it writes to.
    p.m_value = std::make_shared<T>();
    p.m_limit = limit;
    p.m_started = detail::start(place, [value = p.m_value, job = std::forward<Job>(job)]() mutable { *value = job(); },
                                &p.m_why);
    return p;
}

// Runs `job` for `place` on a worker and waits here for its value.
template <class Job>
auto run(const QString &place, Limit limit, Job &&job) -> Result<std::invoke_result_t<Job>>
{
    return start(place, limit, std::forward<Job>(job)).take();
}

// The program is closing: every wait ends at once (with Fault::Closing) and no
// job starts. Called first by the shutdown.
void close();
bool closing();

// Whether a job is being waited for on this thread now.
bool waiting();

// Back to the start: not closing (tests start the windows many times in one process).
void reset();

// Puts the filter that holds input back during a wait in front of the application's
// filters, for good. Called once before any window exists, and never from a handler:
// Qt runs the filter it was running again when one is put in front meanwhile.
void installInputGate();

// Marks a top-level window whose close box (and a menu item, by its action) work
// while a job is waited for: closing the main window must take the windows away
// at once, whatever is stuck.
void allowWhileWaiting(QObject *windowOrAction);

}  // namespace pel::storage
