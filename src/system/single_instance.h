#pragma once
// One running instance per user and program: a kernel advisory lock (flock) on a
// file in a folder only the user can write: the runtime folder ($XDG_RUNTIME_DIR)
// when it really is the user's own, else "<temp>/<program>-<uid>", made 0700.
// The kernel drops the lock when the process dies, however it dies, so a killed
// instance never blocks the next start.
#include <QString>

namespace pel {

class SingleInstance {
public:
    enum class State {
        Acquired,        // this process holds the lock: no other instance runs
        HeldByAnother,   // a live process holds the lock
        Unavailable,     // the lock could not be tried (see problem())
    };

    explicit SingleInstance(const QString &programName);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    State state() const { return m_state; }
    bool acquired() const { return m_state == State::Acquired; }
    bool heldByAnother() const { return m_state == State::HeldByAnother; }
    QString lockPath() const { return m_path; }
    // Why the lock is Unavailable, naming the place: one line for the user.
    QString problem() const { return m_problem; }

private:
    void take(const QString &programName);
    void unavailable(const QString &what, int err);

    QString m_path;
    QString m_problem;
    State m_state = State::Unavailable;
    int m_fd = -1;
};

}  // namespace pel
