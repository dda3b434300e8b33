#pragma once
// One running instance per user and program: a kernel advisory lock (flock) on a
// file in the user's runtime folder. The kernel drops the lock when the process
// dies, however it dies, so a killed instance never blocks the next start.
#include <QString>

namespace pel {

class SingleInstance {
public:
    explicit SingleInstance(const QString &programName);
    ~SingleInstance();
    SingleInstance(const SingleInstance &) = delete;
    SingleInstance &operator=(const SingleInstance &) = delete;

    // True when this process holds the lock (no other instance runs).
    bool acquired() const { return m_fd >= 0; }
    QString lockPath() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};

}  // namespace pel
