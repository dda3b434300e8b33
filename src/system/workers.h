#pragma once
// The one way this program runs work off the user-interface thread: a pool of
// worker threads whose jobs hand back futures. Nothing else starts a thread.
//
// A job that sits in a file system which does not answer may never return; the
// pool lends each waiting job a thread of its own (up to kMaxThreads), so one
// stuck read holds up nothing else, and nothing waits for it at the end.
#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

namespace pel::workers {

inline constexpr int kMaxThreads = 64;

// The pool every job runs on.
QThreadPool &pool();

// Runs `job` on the pool; the future gives its result.
template <class Job>
auto run(Job &&job)
{
    return QtConcurrent::run(&pool(), std::forward<Job>(job));
}

// At the end of the program: waits up to `msecs` for the jobs under way. False
// when some are still running (stuck in a file system); the caller then ends the
// process without waiting for them.
bool finish(int msecs);

}  // namespace pel::workers
