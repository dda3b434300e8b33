#pragma once
// The only changes this program makes to the user's files: a file moved to the
// desktop trash (freedesktop.org), deleted for good, or renamed within its folder.
// None of them ever replaces a file, and each failure says why.
#include <QString>

namespace pel::fileops {

enum class Status {
    Done,
    Gone,      // the file is not there (any more)
    Taken,     // the new name is taken on disk, by a file, folder or link of any kind
    BadName,   // no file can have the new name
    NoTrash,   // the trash cannot take the file; it is still where it was
    Failed,    // the system refused; nothing changed (unless the reason says otherwise)
};

struct Result {
    Status status = Status::Done;
    int error = 0;       // errno, where the system gave one
    QString reason;      // why, in words: the system's own where it gave one
    QString trashedAs;   // moveToTrash: where the file went
    bool ok() const { return status == Status::Done; }
};

// Moves `name` of `folder` to the user's trash: the home trash ($XDG_DATA_HOME/Trash)
// for a file on the same volume, else that volume's own ($topdir/.Trash/$uid or
// $topdir/.Trash-$uid). NoTrash when none can take it, Failed when the folder
// does not allow removing anything (then no trash or delete can help).
Result moveToTrash(const QString &folder, const QString &name);

// Deletes `name` of `folder` for good.
Result remove(const QString &folder, const QString &name);

// BadName with the reason when `name` cannot name a file in a folder (empty, "."
// or "..", a "/" or NUL in it, longer than 255 bytes); Done otherwise.
Result checkName(const QString &name);

// Renames `from` to `to` within `folder`. Refuses a bad name and a name taken on
// disk; a file that appears under the new name meanwhile is not replaced either.
// A change of letter case alone also works where the volume ignores case.
Result rename(const QString &folder, const QString &from, const QString &to);

}  // namespace pel::fileops
