#pragma once
// The only changes this program makes to the user's files: a file moved to the
// desktop trash (freedesktop.org), deleted for good, or renamed within its folder.
// None of them ever replaces a file, and each failure says why (system/result.h).
//
// Each acts only on what a list entry was: a regular file or a link, and, when
// `expected` is known, the very file listed (its device and inode); anything else
// there now is Changed, and nothing is done.
#include "system/file_id.h"
#include "system/result.h"

#include <QString>

namespace pel::fileops {

// Moves `name` of `folder` to the user's trash: the home trash ($XDG_DATA_HOME/Trash)
// for a file on the same volume, else that volume's own ($topdir/.Trash/$uid or
// $topdir/.Trash-$uid, $topdir found from the folder's real place). Gives where
// the file went. NoTrash when none can take it; Failed when the folder does not
// let this user remove the file (then no trash or delete can help).
Result<QString> moveToTrash(const QString &folder, const QString &name, FileId expected = {});

// Deletes `name` of `folder` for good.
Outcome remove(const QString &folder, const QString &name, FileId expected = {});

// BadName when `name` cannot name a file in a folder (empty, "." or "..", a "/"
// or NUL or a lone surrogate in it, longer than 255 bytes).
Outcome checkName(const QString &name);

// Renames `from` to `to` within `folder`. Refuses a bad name and a name taken on
// disk; a file that appears under the new name meanwhile is not replaced either.
// A change of letter case alone also works where the volume ignores case.
// Unsupported where the volume can neither refuse to replace nor make links.
Outcome rename(const QString &folder, const QString &from, const QString &to, FileId expected = {});

}  // namespace pel::fileops
