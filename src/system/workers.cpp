#include "system/workers.h"

namespace pel::workers {

QThreadPool &pool()
{
    // Made once and never destroyed: its destructor would wait for every job,
    // also for one stuck in a file system that no longer answers.
    static QThreadPool *p = [] {
        auto *made = new QThreadPool;
        made->setMaxThreadCount(kMaxThreads);
        made->setExpiryTimeout(30'000);
        return made;
    }();
    return *p;
}

bool finish(int msecs) { return pool().waitForDone(msecs); }

}  // namespace pel::workers
