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
// Runs `job` on a worker for `place` and waits here; the job's value lands in its
// closure. Fault::TimedOut when the place did not answer in time or is still stuck
// from before (nothing is started then); Fault::Closing when the program closes
// meanwhile.
Outcome run(const QString &place, Limit limit, std::function<void()> job);
}  // namespace detail

// Runs `job` (any thread may run it; it must not touch widgets) for a file or
// folder at `place` and returns its value, or why there is none.
template <class Job>
auto run(const QString &place, Limit limit, Job &&job) -> Result<std::invoke_result_t<Job>>
{
    using T = std::invoke_result_t<Job>;
    // The job may outlive this call (a stuck read): it owns what it writes to.
    auto value = std::make_shared<T>();
    const Outcome why = detail::run(place, limit, [value, job = std::forward<Job>(job)]() mutable { *value = job(); });
    if (!why.ok())
        return Result<T>::failure(why);
    return Result<T>::of(std::move(*value));
}

// The program is closing: every wait ends at once (with Fault::Closing) and no
// job starts. Called first by the shutdown.
void close();
bool closing();

// Whether a job is being waited for on this thread now.
bool waiting();

// Back to the start: not closing (tests start the windows many times in one process).
void reset();

// Marks a top-level window whose close box (and a menu item, by its action) work
// while a job is waited for: closing the main window must take the windows away
// at once, whatever is stuck.
void allowWhileWaiting(QObject *windowOrAction);

}  // namespace pel::storage
