#pragma once
// What the user reads when something could not be done: every message that
// reports a failure is made here.
#include "system/result.h"

#include <QString>

namespace pel::messages {

// The picture file `name` cannot be shown: "画像ファイルが異常です", CR LF, the name.
void badFile(const QString &name);

// A drive that cannot be read: "ディバイスが準備されていません".
void deviceNotReady();

// The system's reason for `error` in the user's language where the system has it,
// with the English in parentheses where it has none.
QString systemReason(int error);

// Why `outcome` failed, in words: its detail, else the system's reason for its error.
QString reason(const Outcome &outcome);

}  // namespace pel::messages
