#pragma once
// The one way the system layer says that something did not happen, and why.
// system/messages.h turns it into what the user reads.
#include <QString>

#include <utility>

namespace pel {

enum class Fault {
    None,
    Gone,        // the file or folder is not there (any more)
    Changed,     // it is no longer the one the list showed
    Taken,       // the new name is taken on disk, by a file, folder or link of any kind
    BadName,     // no file can have the new name
    NoTrash,     // no trash can take the file; it is still where it was
    Unreadable,  // a folder or drive that cannot be read
    TimedOut,    // the storage did not answer in time
    Unsupported, // the volume cannot do it without risking another file; nothing was done
    Closing,     // the program is closing: nothing more is done
    Failed,      // the system refused; nothing changed
};

struct Outcome {
    Fault fault = Fault::None;
    int error = 0;     // errno, where the system gave one
    QString detail;    // more for the user: the system's reason, or what happened
    bool ok() const { return fault == Fault::None; }

    static Outcome failure(Fault fault, int error = 0, QString detail = {})
    {
        return Outcome{fault, error, std::move(detail)};
    }
};

// A value, or why there is none.
template <class T>
struct Result {
    Outcome outcome;
    T value{};
    bool ok() const { return outcome.ok(); }

    static Result of(T v) { return Result{Outcome{}, std::move(v)}; }
    static Result failure(Outcome why) { return Result{std::move(why), T{}}; }
};

}  // namespace pel
