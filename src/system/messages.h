#pragma once
// What the user reads when something could not be done: every message that
// reports a failure is made here. Callers pick which one to show.
#include "system/result.h"

#include <QString>

namespace pel::messages {

// The picture file `name` cannot be shown: "画像ファイルが異常です", CR LF, the name.
void badFile(const QString &name);

// A drive that cannot be read: "ディバイスが準備されていません".
void deviceNotReady();

// The system's reason for `error` in Japanese: the system's own text where it has
// one in the user's Japanese locale, else ours, with the system's English in
// parentheses.
QString systemReason(int error);

// Why `outcome` failed, in words: its detail, else the system's reason for its error.
QString reason(const Outcome &outcome);

// ---- details the file operations give with a failure ----

enum class NameProblem { Empty, Dots, Slash, BadCharacter, TooLong };
// Why a new name cannot name a file; `bytes` is its length for TooLong.
QString nameProblem(NameProblem problem, qsizetype bytes = 0);
// A trash folder that is there but not this user's own real folder.
QString trashNotUsable(const QString &path);
// The volume can move a file into the trash only at the risk of replacing another.
QString cannotMoveSafely();
// The sticky bit of the folder keeps this user from removing another's file.
QString othersFileInSharedFolder();
// A rename that failed half-way: the file now has the name `temp`.
QString leftUnderName(const QString &temp, int error);

// ---- the delete (D) and rename (R) boxes; `shown` is the name as the list shows it ----

QString deleteTitle();   // "ファイル削除"
QString renameTitle();   // "ファイル名変更"

// No trash can take the file: asks whether to delete it for good (vbYes or vbNo,
// No the default).
int askDeleteForGood(const QString &shown, const Outcome &why);
// The file was not deleted (or was not there any more).
void deleteFailed(const QString &shown, const Outcome &why);
// The file was not renamed to `newName`.
void renameFailed(const QString &shown, const QString &newName, const Outcome &why);

}  // namespace pel::messages
