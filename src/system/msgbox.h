#pragma once
// Message boxes with the button values the windows use (0 OK, 16 OK with the stop
// icon, 36 Yes/No with the question icon; 48 the warning icon, 256 the second
// button as the default). They are shown through the Os (system/os.h), which tests
// replace to script the answers and read back what would have been shown.
#include "system/os.h"

#include <QString>

namespace pel {

enum MsgButtons { vbOKOnly = 0, vbYesNo = 4, vbCritical = 16, vbQuestion = 32, vbExclamation = 48, vbDefaultButton2 = 256 };
enum MsgResult { vbOK = 1, vbYes = 6, vbNo = 7 };

// Shows the box modally over the active window and returns the button pressed.
// Without a title the application's title "pelorinax" is used. CR LF in the
// prompt is a line break; the prompt is plain text, never markup, and bytes of a
// file name that are not UTF-8 read as "\xFF".
int MsgBox(const QString &prompt, int buttons = vbOKOnly, const QString &title = QString());

}  // namespace pel
